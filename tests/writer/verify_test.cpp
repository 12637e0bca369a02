// The read-back check of a module file's layout, on section tables made by
// hand: a good layout passes silently; each of the thirteen order checks
// fails with its own message and the table of offsets; duplicate CRC or
// FileInfo sections, empty and zero-filled sections, the loader's own tables
// and empty groups are treated as the loader expects.

#include <gtest/gtest.h>

#include <functional>

#include "writer/writer.h"

namespace zv::test {
namespace {

using zv::Elf32_Shdr;

constexpr uint32_t kAlloc = 0x2, kExec = 0x4, kWrite = 0x1;

Elf32_Shdr sec(uint32_t type, uint32_t flags, uint32_t addr, uint32_t offset, uint32_t size) {
  Elf32_Shdr h{};
  h.sh_type = type;
  h.sh_flags = flags;
  h.sh_addr = addr;
  h.sh_offset = offset;
  h.sh_size = size;
  return h;
}

// Seven sections: null, data 0x200, read 0x240, text 0x280, temp 0x2C0
// (each 0x40 bytes), CRC words at 0x158 (28 bytes), FileInfo at 0x180
// (0x60 bytes); the file is 0x300 bytes.
struct Layout {
  std::vector<Elf32_Shdr> sh{
      Elf32_Shdr{},
      sec(zv::SHT_PROGBITS, kAlloc | kWrite, 0x10000000, 0x200, 0x40),
      sec(zv::SHT_PROGBITS, kAlloc, 0xC0000000, 0x240, 0x40),
      sec(zv::SHT_PROGBITS, kAlloc | kExec, 0x02000000, 0x280, 0x40),
      sec(zv::SHT_RELA, 0, 0, 0x2C0, 0x40),
      sec(zv::SHT_VKM_CRCS, 0, 0, 0x158, 28),
      sec(zv::SHT_VKM_FILEINFO, 0, 0, 0x180, 0x60),
  };
  uint32_t eof = 0x300;
};
enum { kData = 1, kRead = 2, kText = 3, kTemp = 4, kCrc = 5, kInfo = 6 };

uint32_t verify(zv::Context& ctx, const Layout& l) {
  zv::ElfImage img;
  img.sh = l.sh;
  img.eh.e_shoff = 64;
  img.eh.e_shentsize = 40;
  img.eh.e_shnum = static_cast<uint16_t>(l.sh.size());
  ctx.con.capture = true;
  return zv::verifyGeneratedLayout(ctx, img, l.eof).value();
}

std::string table(uint32_t crcs, uint32_t info, uint32_t dmin, uint32_t dmax, uint32_t rmin, uint32_t rmax,
                  uint32_t tmin, uint32_t tmax, uint32_t pmin, uint32_t pmax) {
  char buf[1024];
  std::snprintf(buf, sizeof buf,
                "foff_SecHdrs  = 0x00000040\nfoff_CRCs     = 0x%08X\nfoff_FileInfo = 0x%08X\n"
                "foff_DataMin  = 0x%08X\nfoff_DataMax  = 0x%08X\nfoff_ReadMin  = 0x%08X\n"
                "foff_ReadMax  = 0x%08X\nfoff_TextMin  = 0x%08X\nfoff_TextMax  = 0x%08X\n"
                "foff_TempMin  = 0x%08X\nfoff_TempMax  = 0x%08X\n",
                crcs, info, dmin, dmax, rmin, rmax, tmin, tmax, pmin, pmax);
  return buf;
}

TEST(VerifyLayout, GoodLayoutPassesSilently) {
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, Layout{}), 0u);
  EXPECT_EQ(ctx.con.text, "");
}

struct OrderCase {
  const char* label;
  std::function<void(Layout&)> change;
  const char* message;
};

class OrderChecks : public ::testing::TestWithParam<OrderCase> {};

INSTANTIATE_TEST_SUITE_P(
    Each, OrderChecks,
    ::testing::Values(
        OrderCase{"FileInfoAtDataMin", [](Layout& l) { l.sh[kInfo].sh_offset = 0x200; },
                  "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n"},
        OrderCase{"NoCrcSection", [](Layout& l) { l.sh[kCrc].sh_size = 0; },
                  "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n"},
        OrderCase{"DataWrapsAround", [](Layout& l) { l.sh[kData].sh_offset = 0xFFFFFFF0; },
                  "***Error: DataMin > DataMax. break.\n"},
        OrderCase{"ReadBeforeData", [](Layout& l) { l.sh[kRead].sh_offset = 0x1F0; },
                  "***Error: DataMin > ReadMin. break.\n"},
        OrderCase{"ReadOverlapsDataByOne", [](Layout& l) { l.sh[kRead].sh_offset = 0x23F; },
                  "***Error: DataMax > ReadMin. break.\n"},
        OrderCase{"ReadWrapsAround", [](Layout& l) { l.sh[kRead].sh_offset = 0xFFFFFFF0; },
                  "***Error: ReadMin > ReadMax. break.\n"},
        OrderCase{"TextBeforeRead", [](Layout& l) { l.sh[kText].sh_offset = 0x230; },
                  "***Error: ReadMin > TextMin. break.\n"},
        OrderCase{"TextOverlapsReadByOne", [](Layout& l) { l.sh[kText].sh_offset = 0x27F; },
                  "***Error: ReadMax > TextMin. break.\n"},
        OrderCase{"TextWrapsAround", [](Layout& l) { l.sh[kText].sh_offset = 0xFFFFFFF0; },
                  "***Error: TextMin > TextMax. break.\n"},
        OrderCase{"TempBeforeText", [](Layout& l) { l.sh[kTemp].sh_offset = 0x270; },
                  "***Error: TextMin > TempMin. break.\n"},
        OrderCase{"TempOverlapsTextByOne", [](Layout& l) { l.sh[kTemp].sh_offset = 0x2BF; },
                  "***Error: TextMax > TempMin. break.\n"},
        OrderCase{"TempWrapsAround", [](Layout& l) { l.sh[kTemp].sh_offset = 0xFFFFFFF0; },
                  "***Error: TempMin > TempMax. break.\n"},
        OrderCase{"TempStartsPastEof", [](Layout& l) { l.eof = 0x2B0; }, "***Error: TempMin > eof. break.\n"},
        OrderCase{"TempEndsOneBytePastEof", [](Layout& l) { l.eof = 0x2FF; }, "***Error: TempMax > eof. break.\n"},
        // Index 0 is looked at like any other entry.
        OrderCase{"SectionZeroWithContents", [](Layout& l) { l.sh[0] = sec(0, 0, 0, 0x10, 0x10); },
                  "***Error: TextMin > TempMin. break.\n"},
        // An export table that is executable and at a loader address counts
        // in the read group: placed after the text, it overlaps the text.
        OrderCase{"ExecExportsAtLoaderAddressIsRead",
                  [](Layout& l) { l.sh.push_back(sec(zv::SHT_VKM_EXPORTS, kAlloc | kExec, 0xC0000100, 0x2C0, 0x20)); },
                  "***Error: ReadMax > TextMin. break.\n"},
        OrderCase{"ExecImportsAtDataAddressIsData",
                  [](Layout& l) { l.sh.push_back(sec(zv::SHT_VKM_IMPORTS, kAlloc | kExec, 0x10000100, 0x2C0, 0x20)); },
                  "***Error: DataMax > ReadMin. break.\n"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(OrderChecks, FailureNamesTheCheckAndPrintsTheTable) {
  Layout l;
  GetParam().change(l);
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  const std::string& out = ctx.con.text;
  ASSERT_EQ(out.rfind(GetParam().message, 0), 0u) << out;
  std::string rest = out.substr(std::string(GetParam().message).size());
  EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 11) << out;
  EXPECT_EQ(rest.rfind("foff_SecHdrs  = 0x00000040\n", 0), 0u) << out;
}

TEST(VerifyLayout, TableShowsTheValuesAfterDefaults) {
  Layout l;
  l.sh[kTemp].sh_size = 0;  // no temporary group: it sits where the text ended
  l.eof = 0x2B0;            // ... and that is past the end of the file
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: TempMin > eof. break.\n" +
                              table(0x158, 0x180, 0x200, 0x240, 0x240, 0x280, 0x280, 0x2C0, 0x2C0, 0x2C0));
}

TEST(VerifyLayout, MissingFileInfoPrintsNoneInTable) {
  Layout l;
  l.sh[kInfo].sh_size = 0;
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n" +
                              table(0x158, 0xFFFFFFFF, 0x200, 0x240, 0x240, 0x280, 0x280, 0x2C0, 0x2C0, 0x300));
}

struct DuplicateCase {
  const char* label;
  uint32_t type;
  const char* message;
};

class Duplicates : public ::testing::TestWithParam<DuplicateCase> {};

INSTANTIATE_TEST_SUITE_P(
    Both, Duplicates,
    ::testing::Values(DuplicateCase{"FileInfo", zv::SHT_VKM_FILEINFO,
                                    "***Error: more than one fileinfo section in target file! return -1.\n"},
                      DuplicateCase{"Crcs", zv::SHT_VKM_CRCS,
                                    "***Error: more than one crcs section in target file! return -1.\n"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(Duplicates, SecondSectionFailsWithoutTable) {
  Layout l;
  l.sh.push_back(sec(GetParam().type, 0, 0, 0x1E0, 4));
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, GetParam().message);
}

TEST_P(Duplicates, EmptySecondSectionIsIgnored) {
  Layout l;
  l.sh.push_back(sec(GetParam().type, 0, 0, 0x1E0, 0));
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0u);
  EXPECT_EQ(ctx.con.text, "");
}

TEST(VerifyLayout, ZeroFilledSectionsAreIgnored) {
  Layout l;
  l.sh.push_back(sec(zv::SHT_NOBITS, kAlloc | kWrite, 0x10000100, 0, 0x1000));
  l.sh.push_back(sec(zv::SHT_NOBITS, kAlloc | kExec, 0x02000100, 0x10000, 0x1000));
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0u);
}

TEST(VerifyLayout, ExecImportsAtLoaderAddressFitsTheReadGroup) {
  Layout l;
  l.sh[kRead] = sec(zv::SHT_VKM_IMPORTS, kAlloc | kExec, 0xC0000000, 0x240, 0x40);
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0u) << ctx.con.text;
}

TEST(VerifyLayout, TouchingGroupsAndExactEofPass) {
  Layout l;  // every group starts exactly where the previous one ends, and the file ends at TempMax
  ASSERT_EQ(l.sh[kTemp].sh_offset + l.sh[kTemp].sh_size, l.eof);
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0u);
}

// Without data the section contents begin right behind the CRC words and
// the FileInfo record, on the next 64-byte boundary.
TEST(VerifyLayout, EmptyDataGroupStartsBehindFileInfo) {
  Layout l;
  l.sh[kData].sh_size = 0;
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0u) << ctx.con.text;
  l.sh[kRead].sh_offset = 0x1F0;  // read data inside that boundary's padding is out of place
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: DataMin > ReadMin. break.\n" +
                              table(0x158, 0x180, 0x200, 0x200, 0x1F0, 0x230, 0x280, 0x2C0, 0x2C0, 0x300));
}

TEST(VerifyLayout, EmptyDataGroupWithoutFrontSectionsUsesTableEnd) {
  Layout l;
  l.sh[kData].sh_size = 0;
  l.sh[kCrc].sh_size = 0;
  l.sh[kInfo].sh_size = 0;
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text,
            "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n" +
                table(0xFFFFFFFF, 0xFFFFFFFF, 64 + 7 * 40, 64 + 7 * 40, 0x240, 0x280, 0x280, 0x2C0, 0x2C0, 0x300));
}

}  // namespace
}  // namespace zv::test

namespace zv::test {
namespace {

// The collecting form of the check: every fault, in the order the converter
// tests them, duplicates first; the converter still shows only the first.
TEST(LayoutFindings, EveryFaultIsListedInCheckOrder) {
  Layout l;
  l.sh.push_back(sec(zv::SHT_VKM_CRCS, 0, 0, 0x158, 28));  // a second CRC section
  l.sh[kRead].sh_offset = 0x23F;                           // LOAD overlaps DATA by one byte
  l.eof = 0x2FF;                                           // TEMP ends one byte past the end
  zv::ElfImage img;
  img.sh = l.sh;
  img.eh.e_shoff = 64;
  img.eh.e_shentsize = 40;
  img.eh.e_shnum = static_cast<uint16_t>(l.sh.size());
  zv::LayoutFindings f = zv::checkModuleLayout(img, l.eof);
  std::vector<std::string> messages;
  for (const auto& fault : f.faults) messages.push_back(fault.message);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"***Error: more than one crcs section in target file! return -1.\n",
                                      "***Error: DataMax > ReadMin. break.\n", "***Error: TempMax > eof. break.\n"}));
  EXPECT_EQ(f.duplicates, 1u);
  ASSERT_EQ(f.faults.size(), 3u);
  EXPECT_EQ(f.faults[1].meaning, "the DATA group runs into the LOAD group (DataMax 0x00000240 > ReadMin 0x0000023F)");
  EXPECT_EQ(f.values[4], 0x240u);  // DataMax
  zv::Context ctx;
  EXPECT_EQ(verify(ctx, l), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: more than one crcs section in target file! return -1.\n");
}

}  // namespace
}  // namespace zv::test
