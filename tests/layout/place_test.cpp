// Region placement: which sections the loader keeps, in which region they
// land, how they are renumbered, where the tables and the import tables go in
// the LOAD area, and the address errors. Each case builds a small module with
// the test ELF maker and looks at the region table, the section map, the
// headers and the messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "elf/image.h"
#include "layout/layout.h"
#include "support/elf_builder.h"
#include "support/loaded_image.h"
#include "symbols/symbols.h"
#include "support/status_print.h"

namespace zv::test {
namespace {

constexpr const char* kOut = "/out/m.vkm";
constexpr uint32_t kAW = kShfAlloc | kShfWrite;
constexpr uint32_t kAX = kShfAlloc | kShfExecInstr;

struct Tables {
  uint16_t symtab = 0, strtab = 0, shstrtab = 0;
};

// Adds the symbol, string and section-name tables. With a non-zero address
// they are already allocated there (0x100 apart), so the move into the LOAD
// area leaves them alone and the case does not depend on it.
Tables addTables(ElfBuilder& b, uint32_t addr) {
  Tables t;
  t.symtab = addSymtab(b);
  t.strtab = b.strtab;
  t.shstrtab = addShstrtab(b);
  if (addr != 0) {
    for (uint16_t s : {t.symtab, t.strtab, t.shstrtab}) {
      b.sections[s].flags = kShfAlloc;
      b.sections[s].addr = addr;
      addr += 0x100;
    }
  }
  return t;
}

// An import table of one module named "m": count and signature, the name,
// padding to 16 bytes, which is also the size its layout gives it.
uint16_t addImports(ElfBuilder& b, std::string name, uint32_t flags, uint32_t addr) {
  std::vector<uint8_t> data(16, 0);
  data[8] = 'm';
  return addSection(
      b,
      Section{
          .name = std::move(name), .type = kShtVkmImports, .flags = flags, .addr = addr, .addralign = 4, .data = data});
}

void prepare(zv::Context& ctx, const ElfBuilder& b) {
  ctx.con.capture = true;
  ctx.opt.outputPath = kOut;
  loadImage(ctx, build(b));
  zv::locateSymbolTable(ctx);
  zv::countSectionReferences(ctx);
}

void expectRegion(const zv::Region& r, uint32_t base, uint32_t end, uint32_t align) {
  EXPECT_EQ(r.base, base);
  EXPECT_EQ(r.end, end);
  EXPECT_EQ(r.align, align);
}

bool headerIsZero(const zv::Elf32_Shdr& h) {
  zv::Elf32_Shdr zero{};
  return std::memcmp(&h, &zero, sizeof h) == 0;
}

// --- Section-name table --------------------------------------------------

std::string bytesOf(std::span<uint8_t> s) { return std::string(s.begin(), s.end()); }

TEST(RebuildSectionNames, KeepsOnlyNamesOfReferencedSections) {
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kAX, 0x02000000, words32({0}));
  uint16_t unused = addProgbits(b, ".unused", 0, 0, words32({0}));
  uint16_t data = addProgbits(b, ".data", kAW, 0x10000000, words32({0}));
  Tables t = addTables(b, 0);
  zv::Context ctx;
  prepare(ctx, b);
  // Artificial counts: the names table taken as unreferenced, .data as referenced twice.
  ctx.sym.sectionRefs[t.shstrtab] = 0;
  ctx.sym.sectionRefs[data] = 2;
  uint32_t oldUnusedName = ctx.input.sh[unused].sh_name;
  uint32_t oldSize = ctx.input.sh[t.shstrtab].sh_size;
  std::string before = bytesOf(zv::sectionBytes(ctx.input, t.shstrtab));

  zv::rebuildSectionNames(ctx);

  const std::string fresh("\0.text\0.data\0", 13);
  ASSERT_EQ(ctx.input.sh[t.shstrtab].sh_size, 13u);
  EXPECT_EQ(bytesOf(zv::sectionBytes(ctx.input, t.shstrtab)), fresh);
  EXPECT_EQ(ctx.input.sh[text].sh_name, 1u);
  EXPECT_EQ(ctx.input.sh[data].sh_name, 7u);
  EXPECT_EQ(ctx.input.sh[unused].sh_name, oldUnusedName);
  EXPECT_EQ(zv::sectionNameByIndex(ctx, text), ".text");
  EXPECT_EQ(zv::sectionNameByIndex(ctx, data), ".data");
  // The old table's bytes beyond the new one stay as they were.
  ctx.input.sh[t.shstrtab].sh_size = oldSize;
  EXPECT_EQ(bytesOf(zv::sectionBytes(ctx.input, t.shstrtab)), fresh + before.substr(13));
}

TEST(RebuildSectionNames, EqualNamesEachGetTheirOwnCopy) {
  ElfBuilder b;
  uint16_t a = addProgbits(b, ".x", kAW, 0x10000000, words32({0}));
  uint16_t c = addProgbits(b, ".x", kAW, 0x10000004, words32({0}));
  Tables t = addTables(b, 0);
  zv::Context ctx;
  prepare(ctx, b);
  ctx.sym.sectionRefs[t.shstrtab] = 0;  // artificial: the names table taken as unreferenced

  zv::rebuildSectionNames(ctx);

  EXPECT_EQ(bytesOf(zv::sectionBytes(ctx.input, t.shstrtab)), std::string("\0.x\0.x\0", 7));
  EXPECT_EQ(ctx.input.sh[a].sh_name, 1u);
  EXPECT_EQ(ctx.input.sh[c].sh_name, 4u);
}

TEST(RebuildSectionNames, TableThatWouldNotShrinkIsLeftAlone) {
  ElfBuilder b;
  addProgbits(b, ".text", kAX, 0x02000000, words32({0}));
  addProgbits(b, ".data", kAW, 0x10000000, words32({0}));
  Tables t = addTables(b, 0);
  zv::Context ctx;
  prepare(ctx, b);
  // Artificial counts: the unallocated symbol and string tables taken as referenced too.
  std::fill(ctx.sym.sectionRefs.begin() + 1, ctx.sym.sectionRefs.end(), 1);
  std::vector<zv::Elf32_Shdr> headers = ctx.input.sh;
  std::string before = bytesOf(zv::sectionBytes(ctx.input, t.shstrtab));

  zv::rebuildSectionNames(ctx);

  EXPECT_EQ(bytesOf(zv::sectionBytes(ctx.input, t.shstrtab)), before);
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(ctx.input.sh[i].sh_name, headers[i].sh_name) << i;
    EXPECT_EQ(ctx.input.sh[i].sh_size, headers[i].sh_size) << i;
  }
}

TEST(RebuildSectionNames, NothingHappensWithoutANamesTable) {
  ElfBuilder b;
  b.autoShstrtab = false;
  addProgbits(b, ".text", kAX, 0x02000000, words32({0}));
  addSymtab(b);
  zv::Context ctx;
  prepare(ctx, b);
  std::vector<zv::Elf32_Shdr> headers = ctx.input.sh;

  zv::rebuildSectionNames(ctx);

  for (size_t i = 0; i < headers.size(); ++i) EXPECT_EQ(ctx.input.sh[i].sh_name, headers[i].sh_name);
}

// --- Pre-scan of the loader range ----------------------------------------

TEST(PrescanLoaderRegion, CoversTheAllocatedLoaderSections) {
  ElfBuilder b;
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000000, std::vector<uint8_t>(0x20));
  addProgbits(b, ".dexports", kShfAlloc, 0xC0000020, std::vector<uint8_t>(0x10), 1);
  addProgbits(b, ".text", kAX, 0x02000000, words32({0}));
  addTables(b, 0);
  zv::Context ctx;
  prepare(ctx, b);

  zv::prescanLoaderRegion(ctx);

  expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC0000030, 4);
  EXPECT_EQ(ctx.con.text, "");
}

TEST(PrescanLoaderRegion, StopsAtTheFirstWritableLoaderSection) {
  ElfBuilder b;
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000000, std::vector<uint8_t>(0x20));
  addProgbits(b, ".bad", kAW, 0xC0000040, std::vector<uint8_t>(0x10));
  addProgbits(b, ".late", kShfAlloc, 0xC0000100, std::vector<uint8_t>(0x10), 64);
  addTables(b, 0);
  zv::Context ctx;
  prepare(ctx, b);

  zv::prescanLoaderRegion(ctx);

  expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC0000020, 4);
  EXPECT_EQ(ctx.con.text,
            "*** Error: \"/out/m.vkm\", Section 2 \".bad\" is writable but its (VKM adjusted) address "
            "(0xC0000040) is in the loader range (from 0xC0000000 to (0xFFFFFFFF)).\n");
}

// --- Classification ------------------------------------------------------

TEST(ClassifySections, EveryKindIsNumberedOrDropped) {
  ElfBuilder b;
  addProgbits(b, ".empty", kAW, 0x10000000, {});                        // 1
  uint16_t imp = addImports(b, ".imports", kAW, 0x02000400);            // 2
  addProgbits(b, ".text", kAX, 0x02000000, words32({0, 0}));            // 3
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000000, words32({0, 0}));  // 4
  addProgbits(b, ".data", kAW, 0x10000000, words32({0, 0}));            // 5
  uint16_t temp = addProgbits(b, ".reltab", 0, 0, words32({0, 0}));     // 6
  uint16_t omit = addProgbits(b, ".comment", 0, 0, words32({0, 0}));    // 7
  addTables(b, 0xC0001000);                                             // 8, 9, 10
  zv::Context ctx;
  prepare(ctx, b);
  ctx.opt.verbose = true;
  ctx.sym.sectionRefs[temp] = 1;  // artificial: stands in for a relocation section naming it
  zv::Elf32_Shdr emptyBefore = ctx.input.sh[1];

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.con.text,
            "Section 1: empty \".empty\"\n"
            "Section 2: imports \".imports\"\n"
            "Section 3: text \".text\"\n"
            "Section 4: load \".fexports\"\n"
            "Section 5: data \".data\"\n"
            "Section 6: temp \".reltab\"\n"
            "Section 7: OMIT \".comment\"\n"
            "Section 8: load \".symtab\"\n"
            "Section 9: load \".strtab\"\n"
            "Section 10: load \".shstrtab\"\n");
  const zv::SectionMap& m = ctx.lay.map;
  EXPECT_EQ(m.newIndex, (std::vector<int32_t>{0, -1, 1, 2, 3, 4, 5, -1, 6, 7, 8}));
  ASSERT_GE(m.oldIndex.size(), 9u);
  EXPECT_EQ(std::vector<int32_t>(m.oldIndex.begin(), m.oldIndex.begin() + 9),
            (std::vector<int32_t>{0, 2, 3, 4, 5, 6, 8, 9, 10}));
  EXPECT_EQ(m.nextIndex, 9);
  EXPECT_EQ(m.importCount, 1);
  EXPECT_TRUE(headerIsZero(ctx.input.sh[omit]));
  EXPECT_EQ(std::memcmp(&ctx.input.sh[1], &emptyBefore, sizeof emptyBefore), 0);
  EXPECT_EQ(ctx.input.sh[imp].sh_flags & zv::SHF_WRITE, 0u);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kText), 0x02000000, 0x02000008, 4);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kData), 0x10000000, 0x10000008, 4);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kTemp), 0, 64, 4);
  EXPECT_EQ(ctx.lay.region(zv::LoaderRegion::kLoad).base, 0xC0000000u);
}

TEST(ClassifySections, WithoutANamesTableNamesAreEmptyOrNull) {
  ElfBuilder b;
  b.autoShstrtab = false;
  addProgbits(b, ".text", kAX, 0x01000000, words32({0}));
  uint16_t sym = addSymtab(b);
  for (uint16_t s : {sym, b.strtab}) {
    b.sections[s].flags = kShfAlloc;
    b.sections[s].addr = 0xC0000000 + s * 0x100u;
  }
  zv::Context ctx;
  prepare(ctx, b);
  ctx.opt.verbose = true;

  EXPECT_EQ(zv::classifyAndPlaceSections(ctx), zv::Status::failed());
  EXPECT_EQ(ctx.con.text,
            "Section 1: text \"\"\n"
            "*** Error: \"/out/m.vkm\", Section 1 \"<NULL>\" is text but its (VKM adjusted) address "
            "(0x01000000) is outside the allowed code range (from 0x02000000 to (0x0FFFFFFF)).\n");
}

struct ExportCase {
  const char* name;
  uint32_t addr;
  std::optional<zv::LoaderRegion> region;  // where the section counts; none for an address error
  const char* line;
};

void PrintTo(const ExportCase& c, std::ostream* os) { *os << c.name; }

class ExecutableExportSection : public ::testing::TestWithParam<ExportCase> {};

INSTANTIATE_TEST_SUITE_P(
    ByAddress, ExecutableExportSection,
    ::testing::Values(ExportCase{"Load", 0xC0000000, zv::LoaderRegion::kLoad, "Section 1: load \".fexports\"\n"},
                      ExportCase{"Data", 0x10000000, zv::LoaderRegion::kData, "Section 1: data \".fexports\"\n"},
                      ExportCase{"BelowData", 0x02000000, std::nullopt, "Section 1: data \".fexports\"\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(ExecutableExportSection, IsClassifiedByItsAddressNotAsText) {
  const ExportCase& c = GetParam();
  ElfBuilder b;
  addSection(b, Section{.name = ".fexports",
                        .type = kShtVkmExports,
                        .flags = kAX,
                        .addr = c.addr,
                        .addralign = 8,
                        .data = std::vector<uint8_t>(0x18)});
  addTables(b, 0x10100000);
  zv::Context ctx;
  prepare(ctx, b);
  ctx.opt.verbose = true;

  zv::Status rc = zv::classifyAndPlaceSections(ctx);

  EXPECT_EQ(ctx.con.text.substr(0, std::string(c.line).size()), c.line);
  EXPECT_EQ(ctx.lay.region(zv::LoaderRegion::kText).end, 0x02000000u);
  if (!c.region) {
    EXPECT_EQ(rc.value(), zv::Status::failed().value());
    EXPECT_NE(ctx.con.text.find("is data but its (VKM adjusted) address (0x02000000)"), std::string::npos);
    return;
  }
  ASSERT_TRUE(rc.ok()) << ctx.con.text;
  const zv::Region& r = ctx.lay.region(*c.region);
  EXPECT_EQ(r.base, c.addr);
  EXPECT_EQ(r.align, 8u);
  if (c.region == zv::LoaderRegion::kLoad) {
    EXPECT_EQ(r.end, c.addr + 0x18);
  }
}

struct RangeCase {
  const char* name;
  uint32_t flags;
  uint32_t addr;
  const char* error;  // the whole output, "" when the address passes
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class AddressRange : public ::testing::TestWithParam<RangeCase> {};

INSTANTIATE_TEST_SUITE_P(
    Boundaries, AddressRange,
    ::testing::Values(
        RangeCase{"TextAtBottom", kAX, 0x02000000, ""}, RangeCase{"TextAtTop", kAX, 0x0FFFFFFF, ""},
        RangeCase{"TextAboveTop", kAX, 0x10000000,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is text but its (VKM adjusted) "
                  "address (0x10000000) is outside the allowed code range (from 0x02000000 to "
                  "(0x0FFFFFFF)).\n"},
        RangeCase{"TextBelowBottom", kAX, 0x01FFFFFC,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is text but its (VKM adjusted) "
                  "address (0x01FFFFFC) is outside the allowed code range (from 0x02000000 to "
                  "(0x0FFFFFFF)).\n"},
        RangeCase{"DataBelowBottom", kAW, 0x0FFFFFFF,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is data but its (VKM adjusted) "
                  "address (0x0FFFFFFF) is outside the allowed data range (from 0x10000000 to "
                  "(0xBFFFFFFF)). Check the .ld and .map file for potential overflow.\n"},
        RangeCase{"DataAtBottom", kAW, 0x10000000, ""}, RangeCase{"DataAtTop", kAW, 0xBFFFFFF0, ""},
        // The region's end must stay below 4 GB, or it would wrap to 0.
        RangeCase{"LoadJustBelowTheTop", kShfAlloc, 0xFFFFFFF8, ""},
        RangeCase{"LoadReachingTheTop", kShfAlloc, 0xFFFFFFFC,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" at 0xFFFFFFFC with size 0x00000004 reaches the "
                  "end of the 32-bit address space.\n"},
        RangeCase{"LoadPastTheTop", kShfAlloc, 0xFFFFFFFE,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" at 0xFFFFFFFE with size 0x00000004 reaches the "
                  "end of the 32-bit address space.\n"},
        // A writable loader section is reported by the pre-scan and again here.
        RangeCase{"WritableInLoader", kAW, 0xC0000000,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is writable but its (VKM "
                  "adjusted) address (0xC0000000) is in the loader range (from 0xC0000000 to "
                  "(0xFFFFFFFF)).\n"
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is writable but its (VKM "
                  "adjusted) address (0xC0000000) is in the loader range (from 0xC0000000 to "
                  "(0xFFFFFFFF)).\n"},
        RangeCase{"WritableCodeInLoader", kAX | kShfWrite, 0xC0000000,
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is writable but its (VKM "
                  "adjusted) address (0xC0000000) is in the loader range (from 0xC0000000 to "
                  "(0xFFFFFFFF)).\n"
                  "*** Error: \"/out/m.vkm\", Section 1 \".sec\" is text but its (VKM adjusted) "
                  "address (0xC0000000) is outside the allowed code range (from 0x02000000 to "
                  "(0x0FFFFFFF)).\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(AddressRange, IsCheckedAgainstTheRegion) {
  const RangeCase& c = GetParam();
  ElfBuilder b;
  addProgbits(b, ".sec", c.flags, c.addr, words32({0}));
  addProgbits(b, ".after", kAW, 0x10001000, words32({0}));
  addTables(b, 0x10100000);
  zv::Context ctx;
  prepare(ctx, b);

  zv::Status rc = zv::classifyAndPlaceSections(ctx);

  EXPECT_EQ(ctx.con.text, c.error);
  bool fails = *c.error != '\0';
  EXPECT_EQ(rc.value(), fails ? zv::Status::failed().value() : 0u);
  // The failing section is numbered; the classification stops there.
  EXPECT_EQ(ctx.lay.map.newIndex[1], 1);
  EXPECT_EQ(ctx.lay.map.newIndex[2], fails ? -1 : 2);
}

TEST(ClassifySections, ImportsAreNumberedInOrderAndPlacedAt64ByteSteps) {
  ElfBuilder b;
  addProgbits(b, ".text", kAX, 0x02000000, words32({0}));   // 1
  uint16_t imp1 = addImports(b, ".imp1", kAW, 0x02000100);  // 2
  addProgbits(b, ".data", kAW, 0x10000000, words32({0}));   // 3
  uint16_t imp2 = addImports(b, ".imp2", 0, 0);             // 4
  addTables(b, 0x10100000);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.lay.map.importCount, 2);
  EXPECT_EQ(ctx.lay.map.newIndex[imp1], 2);
  EXPECT_EQ(ctx.lay.map.newIndex[imp2], 4);
  // No other section in the LOAD range: the region starts afresh for them.
  expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC0000050, 64);
  EXPECT_EQ(ctx.input.sh[imp1].sh_flags & zv::SHF_WRITE, 0u);
  EXPECT_EQ(ctx.con.text, "");
}

// Needs the import table layout: it gives each table its address.
TEST(ClassifySections, ImportTablesGetTheirAddresses) {
  ElfBuilder b;
  uint16_t imp1 = addImports(b, ".imp1", kAW, 0x02000100);
  addProgbits(b, ".data", kAW, 0x10000000, words32({0}));
  uint16_t imp2 = addImports(b, ".imp2", 0, 0);
  addTables(b, 0x10100000);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.input.sh[imp1].sh_addr, 0xC0000000u);
  EXPECT_EQ(ctx.input.sh[imp2].sh_addr, 0xC0000040u);
  EXPECT_EQ(ctx.input.sh[imp2].sh_size, 16u);
}

TEST(ClassifySections, EmptyRegionsKeepTheirDefaults) {
  ElfBuilder b;
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000000, words32({0}));
  addTables(b, 0xC0001000);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  expectRegion(ctx.lay.region(zv::LoaderRegion::kText), 0x02000000, 0x02000000, 4);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kData), 0x10000000, 0x10000000, 4);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kTemp), 0, 0, 4);
  EXPECT_EQ(ctx.lay.region(zv::LoaderRegion::kLoad).base, 0xC0000000u);
  EXPECT_EQ(ctx.lay.map.importCount, 0);
}

TEST(ClassifySections, TempSectionsCountIn64ByteSteps) {
  ElfBuilder b;
  uint16_t t1 = addProgbits(b, ".rela.a", 0, 0, std::vector<uint8_t>(1));
  uint16_t t2 = addProgbits(b, ".rela.b", 0, 0, std::vector<uint8_t>(65));
  addTables(b, 0xC0000000);
  zv::Context ctx;
  prepare(ctx, b);
  ctx.sym.sectionRefs[t1] = ctx.sym.sectionRefs[t2] = 1;  // artificial: as if relocations named them

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  expectRegion(ctx.lay.region(zv::LoaderRegion::kTemp), 0, 192, 4);
  EXPECT_EQ(ctx.lay.map.newIndex[t1], 1);
  EXPECT_EQ(ctx.lay.map.newIndex[t2], 2);
}

// The TEMP area is counted in 64-byte steps and must stay below 4 GB.
TEST(ClassifySections, TempAreaStopsBelowFourGigabytes) {
  for (uint32_t second : {0x7FFFFFC0u, 0x7FFFFFC1u}) {
    ElfBuilder b;
    uint16_t t1 = addNobits(b, ".big.a", 0, 0, 0x80000000);
    uint16_t t2 = addNobits(b, ".big.b", 0, 0, second);
    addTables(b, 0xC0000000);
    zv::Context ctx;
    prepare(ctx, b);
    ctx.sym.sectionRefs[t1] = ctx.sym.sectionRefs[t2] = 1;  // artificial: as if relocations named them
    bool fits = second == 0x7FFFFFC0u;

    EXPECT_EQ(zv::classifyAndPlaceSections(ctx), fits ? zv::Status() : zv::Status::failed());
    EXPECT_EQ(ctx.con.text,
              fits ? "" : "*** Error: \"/out/m.vkm\", Section 2 \".big.b\" makes the TEMP area larger than 4 GB.\n");
    EXPECT_EQ(ctx.lay.map.newIndex[t2], fits ? 2 : -1);
    if (fits) expectRegion(ctx.lay.region(zv::LoaderRegion::kTemp), 0, 0xFFFFFFC0, 4);
  }
}

// Import tables go behind the LOAD area; there must be room for them below 4 GB.
TEST(ClassifySections, ImportTableBehindTheTopIsRefused) {
  ElfBuilder b;
  addProgbits(b, ".rodata", kShfAlloc, 0xFFFFFFC0, words32({0}));  // 1: LOAD ends at 0xFFFFFFC4
  addImports(b, ".imp", 0, 0);                                     // 2
  addTables(b, 0xC0000000);
  zv::Context ctx;
  prepare(ctx, b);

  EXPECT_EQ(zv::classifyAndPlaceSections(ctx), zv::Status::failed());
  EXPECT_EQ(ctx.con.text,
            "*** Error: \"/out/m.vkm\", Section 2 \".imp\" at 0x100000000 with size 0x00000000 "
            "reaches the end of the 32-bit address space.\n");
  EXPECT_EQ(ctx.lay.region(zv::LoaderRegion::kLoad).end, 0xFFFFFFC4u);
}

struct AlignCase {
  const char* name;
  std::vector<uint32_t> aligns;
  uint32_t expected;
};

void PrintTo(const AlignCase& c, std::ostream* os) { *os << c.name; }

class RegionAlignment : public ::testing::TestWithParam<AlignCase> {};

INSTANTIATE_TEST_SUITE_P(Largest, RegionAlignment,
                         ::testing::Values(AlignCase{"ZeroAndOne", {0, 1}, 4}, AlignCase{"Eight", {1, 8, 2}, 8},
                                           AlignCase{"ThirtyTwo", {32, 16}, 32}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(RegionAlignment, IsTheLargestSectionAlignmentButAtLeast4) {
  ElfBuilder b;
  uint32_t addr = 0x10000000;
  for (uint32_t a : GetParam().aligns) {
    addProgbits(b, ".d", kAW, addr, words32({0}), a);
    addr += 0x100;
  }
  addTables(b, 0xC0000000);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.lay.region(zv::LoaderRegion::kData).align, GetParam().expected);
  EXPECT_EQ(ctx.con.text, "");
}

TEST(ClassifySections, MisalignedBaseIsRoundedDownWithAWarning) {
  ElfBuilder b;
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000008, std::vector<uint8_t>(0x18), 16);
  addTables(b, 0x10100000);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.con.text, "WARN: Realigning region 2 base.\n");
  expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC0000020, 16);
}

TEST(ClassifySections, InputWithoutSymbolTableIsRefused) {
  for (bool named : {true, false}) {
    ElfBuilder b;
    addProgbits(b, ".text", kAX, 0x02000000, words32({0}));
    zv::Context ctx;
    prepare(ctx, b);
    if (named) ctx.opt.inputPath = "in.elf";

    EXPECT_EQ(zv::classifyAndPlaceSections(ctx), zv::Status::failed());
    EXPECT_EQ(ctx.con.text,
              std::string("***Error: \"") + (named ? "in.elf" : kOut) + "\" has no symbol table. Return -1.\n");
  }
}

// The LOAD area of a module with two export tables: the symbol, string and
// section-name tables follow them, each at its own alignment, and the import
// table comes last at a 64-byte boundary. Needs the table move into the LOAD
// area (and, for the import address, the import table layout).
class LoadRegionExample : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(WithAndWithoutImports, LoadRegionExample, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "Imports" : "NoImports"); });

TEST_P(LoadRegionExample, TablesFollowTheExports) {
  bool withImports = GetParam();
  ElfBuilder b;
  addProgbits(b, ".fexports", kShfAlloc, 0xC0000000, std::vector<uint8_t>(0x20));
  addProgbits(b, ".dexports", kShfAlloc, 0xC0000020, std::vector<uint8_t>(0x10));
  uint16_t imp = withImports ? addImports(b, ".imp", kAW, 0) : 0;
  Tables t = addTables(b, 0);
  // 31 symbols: 0x200 bytes of symbols; names of 0x100 bytes after the leading zero.
  for (int i = 0; i < 31; ++i) {
    std::string name = (i == 0 ? std::string(15, 'L') : "sym_" + std::to_string(100 + i));
    addSymbol(b, Symbol{.name = name, .info = stInfo(kStbGlobal, kSttNotype)});
  }
  // A section whose name brings the section-name table to 0x80 bytes.
  Layout plain = layoutOf(b);
  uint16_t pad = addProgbits(b, "", 0, 0, words32({0}));
  b.sections[pad].name = std::string(0x80 - plain.size[t.shstrtab] - 1, 'p');
  Layout lay = layoutOf(b);
  ASSERT_EQ(lay.size[t.symtab], 0x200u);
  ASSERT_EQ(lay.size[t.strtab], 0x101u);
  ASSERT_EQ(lay.size[t.shstrtab], 0x80u);
  ASSERT_EQ(b.sections[t.strtab].addralign, 1u);
  ASSERT_EQ(b.sections[t.shstrtab].addralign, 1u);
  zv::Context ctx;
  prepare(ctx, b);

  ASSERT_TRUE(zv::classifyAndPlaceSections(ctx).ok());

  EXPECT_EQ(ctx.input.sh[t.symtab].sh_addr, 0xC0000030u);
  EXPECT_EQ(ctx.input.sh[t.strtab].sh_addr, 0xC0000230u);
  EXPECT_EQ(ctx.input.sh[t.shstrtab].sh_addr, 0xC0000331u);
  if (!withImports) {
    expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC00003B1, 4);
    return;
  }
  EXPECT_EQ(ctx.input.sh[imp].sh_addr, 0xC00003C0u);
  expectRegion(ctx.lay.region(zv::LoaderRegion::kLoad), 0xC0000000, 0xC00003D0, 4);
}

}  // namespace
}  // namespace zv::test
