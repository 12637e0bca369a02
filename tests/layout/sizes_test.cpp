// Region sizes: the room reserved for branch trampolines around the text, the
// checks of the sizes against the limits given on the command line, and the
// padding of every size by a percentage.

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "elf/image.h"
#include "layout/layout.h"
#include "support/elf_builder.h"
#include "support/loaded_image.h"
#include "symbols/symbols.h"
#include "support/status_print.h"
#include "writer/writer.h"

namespace zv::test {
namespace {

constexpr const char* kOut = "/out/m.vkm";
constexpr uint32_t kAX = kShfAlloc | kShfExecInstr;

// --- Trampolines ------------------------------------------------------------

// Symbols of the module the trampoline cases branch to.
enum : uint32_t { kExt = 1, kImported, kLocal, kOtherCode, kAbsolute, kObject, kSymbolCount };

struct Branch {
  uint32_t offset;
  uint32_t sym;
  uint8_t type = kRPpcRel24;
};

// A module with two code sections, an import table and a data section; the
// relocations given apply to the first code section (and to the data section).
std::vector<uint8_t> trampolineModule(const std::vector<Branch>& code, const std::vector<Branch>& data = {}) {
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kAX, 0x02000000, std::vector<uint8_t>(16));
  uint16_t text2 = addProgbits(b, ".text2", kAX, 0x02002000, std::vector<uint8_t>(16));
  uint16_t imp = addSection(b, Section{.name = ".imports",
                                       .type = kShtVkmImports,
                                       .flags = kShfAlloc,
                                       .addr = 0x02003000,
                                       .data = std::vector<uint8_t>(16)});
  uint16_t dat = addProgbits(b, ".data", kShfAlloc | kShfWrite, 0x10000000, std::vector<uint8_t>(8));
  addSymtab(b);
  uint8_t func = stInfo(kStbGlobal, kSttFunc);
  addSymbol(b, {.name = "ext", .info = func, .shndx = kShnUndef});
  addSymbol(b, {.name = "imported", .value = 0x02003008, .info = func, .shndx = imp});
  addSymbol(b, {.name = "local", .value = 0x02000008, .info = func, .shndx = text});
  addSymbol(b, {.name = "other", .value = 0x02002000, .info = func, .shndx = text2});
  addSymbol(b, {.name = "abs", .value = 0x02004000, .info = func, .shndx = kShnAbs});
  addSymbol(b, {.name = "obj", .value = 0x10000000, .info = stInfo(kStbGlobal, kSttObject), .shndx = dat});
  uint16_t relText = addRelaSection(b, ".rela.text", text);
  for (const Branch& r : code) addReloc(b, relText, r.offset, r.sym, r.type);
  uint16_t relData = addRelaSection(b, ".rela.data", dat);
  for (const Branch& r : data) addReloc(b, relData, r.offset, r.sym, r.type);
  return build(b);
}

void prepare(zv::Context& ctx, const std::vector<uint8_t>& bytes, zv::Region text) {
  ctx.con.capture = true;
  ctx.opt.outputPath = kOut;
  loadImage(ctx, bytes);
  zv::locateSymbolTable(ctx);
  ctx.lay.region(zv::LoaderRegion::kText) = text;
}

struct TrampolineCase {
  const char* name;
  std::vector<Branch> code;
  std::vector<Branch> data;
  zv::Region text;
  uint32_t textSize, trampAdj, trampAddition;
};

void PrintTo(const TrampolineCase& c, std::ostream* os) { *os << c.name; }

class ReserveTrampolines : public ::testing::TestWithParam<TrampolineCase> {};

constexpr zv::Region kSmallText{0x02000000, 0x02001234, 32};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReserveTrampolines,
    ::testing::Values(
        TrampolineCase{"NoCalls", {}, {}, kSmallText, 0x1240, 0, 12},
        TrampolineCase{"ThreeImportCalls",
                       {{0x02000010, kExt}, {0x02000020, kImported}, {0x02001000, kExt}},
                       {},
                       kSmallText,
                       0x1270,
                       0,
                       60},
        // Same section, another code or data section, an absolute symbol, a
        // non-branch relocation, a branch from data.
        TrampolineCase{"NoTrampolineNeeded",
                       {{0x02000010, kLocal},
                        {0x02000014, kOtherCode},
                        {0x02000018, kObject},
                        {0x0200001C, kAbsolute},
                        {0x02000020, kExt, kRPpcAddr32}},
                       {{0x10000000, kExt}},
                       kSmallText,
                       0x1240,
                       0,
                       12},
        TrampolineCase{"FarCallAlign16", {{0x02000000, kExt}}, {}, {0x02000000, 0x04000100, 16}, 0x2000110, 16, 16},
        TrampolineCase{
            "FarCallAlign32", {{0x02000000, kImported}}, {}, {0x02000000, 0x04000100, 32}, 0x2000120, 32, 32},
        TrampolineCase{"NearAndFarCalls",
                       {{0x02000000, kExt}, {0x04000000, kExt}},
                       {},
                       {0x02000000, 0x04000100, 16},
                       0x2000120,
                       16,
                       32},
        TrampolineCase{"NoText", {{0x02000000, kExt}}, {}, {0x02000000, 0x02000000, 4}, 0, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(ReserveTrampolines, SizesTheTextArea) {
  const TrampolineCase& c = GetParam();
  zv::Context ctx;
  prepare(ctx, trampolineModule(c.code, c.data), c.text);
  ctx.lay.sizes.text = ctx.lay.sizes.trampAdj = ctx.lay.sizes.trampAddition = 0xDEAD;

  ASSERT_TRUE(zv::reserveTrampolines(ctx).ok());

  EXPECT_EQ(ctx.lay.sizes.text, c.textSize);
  EXPECT_EQ(ctx.lay.sizes.trampAdj, c.trampAdj);
  EXPECT_EQ(ctx.lay.sizes.trampAddition, c.trampAddition);
  EXPECT_EQ(ctx.con.text, "");
}

TEST(ReserveTrampolinesVerbose, ReportsTheAdjustment) {
  zv::Context ctx;
  prepare(ctx, trampolineModule({{0x02000010, kExt}, {0x02000020, kImported}, {0x02001000, kExt}}), kSmallText);
  ctx.opt.verbose = true;

  ASSERT_TRUE(zv::reserveTrampolines(ctx).ok());

  EXPECT_EQ(ctx.con.text,
            "TEXT ADJUSTED from 0x00001234 to 0x00001270 for 3 TRAMPOLINES\n"
            "TEXT TRAMP ADDITION is 60\n");
}

TEST(ReserveTrampolinesVerbose, NothingIsPrintedWithoutText) {
  zv::Context ctx;
  prepare(ctx, trampolineModule({}), {0x02000000, 0x02000000, 4});
  ctx.opt.verbose = true;

  ASSERT_TRUE(zv::reserveTrampolines(ctx).ok());
  EXPECT_EQ(ctx.con.text, "");
}

// A symbol index past the table (the loader never lets one through; here
// the entry is bent after loading) names nothing to branch to.
TEST(ReserveTrampolinesReach, SymbolPastTheTableNeedsNoTrampoline) {
  zv::Context ctx;
  prepare(ctx, trampolineModule({{0x02000010, kExt}}), kSmallText);
  uint32_t rela = 0;
  for (uint32_t i = 1; i < zv::sectionCount(ctx.input); ++i)
    if (ctx.input.sh[i].sh_type == zv::SHT_RELA && ctx.input.sh[i].sh_info == 1) rela = i;
  zv::Elf32_Rela r;
  ASSERT_TRUE(zv::readRela(ctx.input, rela, 0, r));
  r.r_info = rInfo(kSymbolCount + 5, kRPpcRel24);
  ASSERT_TRUE(zv::writeRela(ctx.input, rela, 0, r));

  ASSERT_TRUE(zv::reserveTrampolines(ctx).ok());
  EXPECT_EQ(ctx.lay.sizes.text, 0x1240u);
}

TEST(ReserveTrampolinesReach, CallOutOfReachOfBothEndsFails) {
  zv::Context ctx;
  prepare(ctx, trampolineModule({{0x04000000, kExt}}), {0x02000000, 0x06000000, 4});

  EXPECT_EQ(zv::reserveTrampolines(ctx), zv::Status::failed());
  EXPECT_EQ(ctx.con.text,
            "***Error: Text is too big to permit a relative relocation to a trampoline to a target "
            "section!.\n");
}

// --- Size limits ------------------------------------------------------------

struct LimitCase {
  const char* name;
  const char* region;
  const char* option;
  int32_t size, limit, alignment;
  bool error;
  const char* text;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class CheckRegionLimit : public ::testing::TestWithParam<LimitCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckRegionLimit,
    ::testing::Values(
        LimitCase{"EqualWarns", "DATA", "-sizedata", 1000, 1000, 4, false,
                  "Warning: /out/m.vkm has DATA size of 1000 which leaves   0.00% (0 bytes) free\n"
                  "Warning: /out/m.vkm based on -sizedata 1000\n"},
        LimitCase{"OnePercentWarns", "LOAD", "-sizeload", 1000, 1010, 2, false,
                  "Warning: /out/m.vkm has LOAD size of 1000 which leaves   1.00% (10 bytes) free\n"
                  "Warning: /out/m.vkm based on -sizeload 1010\n"},
        LimitCase{"MoreThanOnePercentIsQuiet", "DATA", "-sizedata", 1000, 1011, 1, false, ""},
        LimitCase{"EmptyRegionNoLimit", "TEMP", "-sizetemp", 0, 0, 4, false, ""},
        LimitCase{"EmptyRegion", "TEMP", "-sizetemp", 0, 4096, 4, false, ""},
        LimitCase{"OverTheLimit", "LOAD", "-sizeload", 1001, 1000, 4, true,
                  "Error: /out/m.vkm has LOAD size of 1001 is larger then limit from -sizeload 1000\n"},
        // A region of 2 GB or more arrives negative; it is still over the limit.
        LimitCase{"TwoGigabyteRegionIsOver", "DATA", "-sizedata", static_cast<int32_t>(0xA0000000u), 4096, 4, true,
                  "Error: /out/m.vkm has DATA size of -1610612736 is larger then limit from -sizedata 4096\n"},
        LimitCase{"MisalignedLimit", "TEXT", "-sizetext", 100, 0x1001, 32, true,
                  "Error: \"/out/m.vkm\" -sizetext 4097 is not aligned to TEXT segment 32 byte "
                  "alignment (try 4128).\n"},
        LimitCase{"MisalignedAndOver", "TEMP", "-sizetemp", 5000, 4098, 4, true,
                  "Error: \"/out/m.vkm\" -sizetemp 4098 is not aligned to TEMP segment 4 byte "
                  "alignment (try 4100).\n"
                  "Error: /out/m.vkm has TEMP size of 5000 is larger then limit from -sizetemp "
                  "4098\n"},
        LimitCase{"MisalignedAndTight", "TEXT", "-sizetext", 4096, 4097, 32, true,
                  "Error: \"/out/m.vkm\" -sizetext 4097 is not aligned to TEXT segment 32 byte "
                  "alignment (try 4128).\n"
                  "Warning: /out/m.vkm has TEXT size of 4096 which leaves   0.02% (1 bytes) free\n"
                  "Warning: /out/m.vkm based on -sizetext 4097\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(CheckRegionLimit, ReportsAsTheLoaderNeeds) {
  const LimitCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.outputPath = kOut;

  EXPECT_EQ(!zv::checkRegionLimit(ctx, c.region, c.option, c.size, c.limit, c.alignment).ok(), c.error);
  EXPECT_EQ(ctx.con.text, c.text);
}

// --- Padding ----------------------------------------------------------------

struct PadCase {
  const char* name;
  uint32_t percent;
  uint32_t data, load, temp, text;  // sizes before
  uint32_t dataAlign, loadAlign, textAlign;
  uint32_t dataOut, loadOut, tempOut, textOut;  // sizes after
  const char* refusedRegion = nullptr;          // the region named by the refusal, if any
};

void PrintTo(const PadCase& c, std::ostream* os) { *os << c.name; }

class PadRegions : public ::testing::TestWithParam<PadCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, PadRegions,
    ::testing::Values(PadCase{"TenPercent", 10, 1000, 1001, 1001, 0, 4, 4, 4, 1100, 1104, 1104, 0},
                      // TEMP follows the LOAD alignment; an alignment of 0 counts as 1.
                      PadCase{"RegionAlignments", 10, 1000, 1000, 1000, 1001, 16, 64, 0, 1104, 1152, 1152, 1101},
                      PadCase{"ZeroPercentChangesNothing", 0, 1001, 1001, 1001, 1001, 4, 4, 4, 1001, 1001, 1001, 1001},
                      PadCase{"LargeSizesThatStillFit", 10, 0xE8000000, 0x80000000, 0x40000000, 0x40000000, 4, 4, 4,
                              0xFF333334, 0x8CCCCCCC, 0x46666668, 0x46666668},
                      PadCase{"DoublesUpToTheLastAlignedSize", 100, 0x7FFFFFFE, 0x10, 0x10, 0x10, 4, 4, 4, 0xFFFFFFFC,
                              0x20, 0x20, 0x20},
                      // A size that would not fit in 32 bits is refused; no size changes.
                      PadCase{"DataPastFourGigabytes", 10, 0xF0000000, 0x80000000, 0x40000000, 0x40000000, 4, 4, 4,
                              0xF0000000, 0x80000000, 0x40000000, 0x40000000, "DATA"},
                      PadCase{"OnlyTextPastFourGigabytes", 100, 0x10, 0x10, 0x10, 0x80000000, 4, 4, 4, 0x10, 0x10, 0x10,
                              0x80000000, "TEXT"},
                      // "-padall -5" arrives as 4294967291 percent.
                      PadCase{"NegativePercent", 0xFFFFFFFB, 1000, 0, 0, 0, 4, 4, 4, 1000, 0, 0, 0, "DATA"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_P(PadRegions, GrowsEverySize) {
  const PadCase& c = GetParam();
  zv::Context ctx;
  zv::FileInfoHeader& fi = ctx.wr.fi;
  fi.dataSize = c.data;
  fi.loadSize = c.load;
  fi.tempSize = c.temp;
  fi.textSize = c.text;
  fi.dataAlign = c.dataAlign;
  fi.loadAlign = c.loadAlign;
  fi.textAlign = c.textAlign;

  ctx.con.capture = true;
  ctx.opt.outputPath = kOut;

  EXPECT_EQ(!zv::padRegions(ctx, c.percent).ok(), c.refusedRegion != nullptr);
  if (c.refusedRegion) {
    EXPECT_EQ(ctx.con.text, "Error: \"" + std::string(kOut) + "\" -padall " + std::to_string(c.percent) +
                                " makes the " + c.refusedRegion + " size larger than 4 GB. return -1.\n");
  } else {
    EXPECT_EQ(ctx.con.text, "");
  }
  EXPECT_EQ(fi.dataSize, c.dataOut);
  EXPECT_EQ(fi.loadSize, c.loadOut);
  EXPECT_EQ(fi.tempSize, c.tempOut);
  EXPECT_EQ(fi.textSize, c.textOut);
}

}  // namespace
}  // namespace zv::test
