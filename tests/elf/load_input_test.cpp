// Loading the input file: the messages of a refused file, the small-data
// bases and the VKM/VKX decision, the relocation-count rule, and files that
// come from disk through the mapping layer.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "elf/input.h"
#include "parse_support.h"
#include "support/scratch.h"

namespace zv::test {
namespace {

struct LoadCase {
  std::string name{};

  void printTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
  std::function<void(LinkedModule&)> describe{};
  bool forceVkx = false;
  zv::Status result{};
  std::string text{};
  bool haveInput = true;
  uint32_t sdaBase = 0x8000, sda2Base = 0x8000;
  bool vkx = false;
  bool emptyNullRela = false;
};

std::function<void(LinkedModule&)> withSymbols(std::vector<std::pair<std::string, uint32_t>> syms) {
  return [syms](LinkedModule& m) {
    for (const auto& [name, value] : syms)
      addSymbol(m.b, {.name = name, .value = value, .info = stInfo(kStbGlobal, kSttNotype), .shndx = kShnAbs});
  };
}

const std::string kNoRelocs = "*** Error \"mod.elf\" has no relocations.  Cannot make an VKM from it. Return -1\n";

const std::vector<LoadCase>& loadCases() {
  static const std::vector<LoadCase> kCases = {
      {.name = "NoSmallDataSymbols", .describe = nullptr},
      {.name = "SdaBaseAboveDefault",
       .describe = withSymbols({{"_SDA_BASE_", 0x8001}}),
       .sdaBase = 0x8001,
       .vkx = true},
      {.name = "Sda2BaseAboveDefault",
       .describe = withSymbols({{"_SDA2_BASE_", 0x10000}}),
       .sda2Base = 0x10000,
       .vkx = true},
      {.name = "BasesAtOrBelowDefault",
       .describe = withSymbols({{"_SDA_BASE_", 0x7000}, {"_SDA2_BASE_", 0x8000}}),
       .sdaBase = 0x7000},
      {.name = "LaterDefinitionWins",
       .describe = withSymbols({{"_SDA_BASE_", 0x9000}, {"_SDA_BASE_", 0x100}}),
       .sdaBase = 0x100},
      {.name = "ZeroBaseMeansDefault", .describe = withSymbols({{"_SDA_BASE_", 0}}), .sdaBase = 0x8000},
      {.name = "SimilarNamesIgnored",
       .describe = withSymbols({{"_SDA_BASE_X", 0x9000}, {"_SDA_BASE", 0x9000}, {"_sda_base_", 0x9000}})},
      {.name = "ForcedVkx", .describe = nullptr, .forceVkx = true, .vkx = true},
      {.name = "ParseFailure",
       .describe = [](LinkedModule& m) { m.b.ehdr.e_machine = 0; },
       .result = zv::bad::kMachine,
       .text = "*** Error 0xBAD0001C parsing ELF file \"mod.elf\"\n",
       .haveInput = false,
       .sdaBase = 0,
       .sda2Base = 0},
      {.name = "NoSections",
       .describe =
           [](LinkedModule& m) {
             m.b.ehdr.e_shnum = 0;
             m.b.ehdr.e_shstrndx = 0;
           },
       .result = zv::Status::failed(),
       .text = "*** Error ELF file \"mod.elf\" has no sections. return -1.\n",
       .sdaBase = 0,
       .sda2Base = 0},
      {.name = "OnlyRelSections",
       .describe = [](LinkedModule& m) { m.b.sections[m.relaText].hdr.sh_type = kShtRel; },
       .result = zv::Status::failed(),
       .text = kNoRelocs},
      {.name = "RelaForUnallocatedSection",
       .describe = [](LinkedModule& m) { m.b.sections[m.text].flags = kShfExecInstr; },
       .result = zv::Status::failed(),
       .text = kNoRelocs},
      {.name = "RelaForNobitsSection",
       .describe =
           [](LinkedModule& m) {
             uint16_t bss = addNobits(m.b, ".bss", kShfAlloc | kShfWrite, 0x10001000, 64);
             m.b.sections[m.relaText].info = bss;
           },
       .result = zv::Status::failed(),
       .text = kNoRelocs},
      {.name = "OnlyRelaForNullSection",
       .describe =
           [](LinkedModule& m) {
             m.b.sections[m.relaText].info = 0;
             m.b.sections[m.relaText].relocs = {Reloc{}};
           },
       .result = zv::Status::failed(),
       .text = kNoRelocs,
       .emptyNullRela = true},
      {.name = "RelaForNullSectionBesideRealOne",
       .describe =
           [](LinkedModule& m) {
             uint16_t extra = addRelaSection(m.b, ".rela.null", 0);
             addReloc(m.b, extra, 0, 0, kRPpcNone);
           },
       .emptyNullRela = true},
      {.name = "RelaForData",
       .describe =
           [](LinkedModule& m) {
             m.b.sections[m.relaText].info = m.data;
             m.b.sections[m.relaText].relocs = {Reloc{.r_offset = 4, .r_info = rInfo(3, kRPpcAddr32)}};
           }},
  };
  return kCases;
}

class LoadInput : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadInput, ReportsTheInputFacts) {
  const LoadCase& c = GetParam();
  LinkedModule m = makeLinkedModule(true);
  if (c.describe) c.describe(m);
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.forceVkx = c.forceVkx;
  zv::MappedFile* file = zv::mapMemory(build(m.b));
  EXPECT_EQ(hex(zv::loadInput(ctx, file, "mod.elf")), hex(c.result));
  EXPECT_EQ(ctx.con.text, c.text);
  EXPECT_EQ(ctx.inputFile, file);
  EXPECT_EQ(ctx.haveInput, c.haveInput);
  EXPECT_EQ(hex(ctx.facts.sdaBase), hex(c.sdaBase));
  EXPECT_EQ(hex(ctx.facts.sda2Base), hex(c.sda2Base));
  bool decided = c.sdaBase != 0;
  EXPECT_EQ(ctx.facts.outputIsVkx, c.vkx);
  EXPECT_EQ(ctx.facts.checkNoSda, decided && !c.vkx);
  EXPECT_EQ(ctx.facts.emptyNullRelaSeen, c.emptyNullRela);
}

INSTANTIATE_TEST_SUITE_P(LoadInputElf, LoadInput, ::testing::ValuesIn(loadCases()),
                         [](const auto& p) { return p.param.name; });

TEST(LoadInputElf, ConvertsTheInputInPlace) {
  LinkedModule m = makeLinkedModule(true);
  zv::Context ctx;
  ctx.con.capture = true;
  ASSERT_TRUE(zv::loadInput(ctx, zv::mapMemory(build(m.b)), "mod.elf").ok()) << ctx.con.text;
  zv::Elf32_Sym s{};
  ASSERT_TRUE(zv::readSym(ctx.input, m.symtab, m.objSym, s));
  EXPECT_EQ(s.st_value, 0x10000000u);
  EXPECT_EQ(s.st_size, 4u);
  EXPECT_EQ(ctx.input.base, ctx.inputFile->base);
}

TEST(LoadInputElf, SecondInputIsRefusedSilently) {
  zv::Context ctx;
  ctx.con.capture = true;
  zv::MappedFile* first = zv::mapMemory(build(makeLinkedModule(true).b));
  ASSERT_TRUE(zv::loadInput(ctx, first, "a.elf").ok()) << ctx.con.text;
  zv::MappedFile* second = zv::mapMemory(build(makeLinkedModule(false).b));
  EXPECT_EQ(zv::loadInput(ctx, second, "b.elf"), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(ctx.inputFile, first);
  EXPECT_TRUE(ctx.input.swap);  // still the first, big-endian file
  zv::releaseMappedFile(second);
}

TEST(LoadInputElf, NamePrintedWithItsLength) {
  std::vector<uint8_t> bytes = build(makeLinkedModule(true).b);
  bytes[0] = 0;
  zv::Context ctx;
  ctx.con.capture = true;
  std::string name = "dir with space/\xC3\xA9t\xC3\xA9.elf";
  EXPECT_EQ(zv::loadInput(ctx, zv::mapMemory(bytes), name), zv::bad::kMagic);
  EXPECT_EQ(ctx.con.text, "*** Error 0xBAD00019 parsing ELF file \"" + name + "\"\n");
}

// --- Files from disk --------------------------------------------------------

// A file of `bytes` in a scratch folder of its own.
struct TempFile {
  ScratchDir dir;
  std::string file;
  TempFile(const std::string& name, const std::vector<uint8_t>& bytes) : file(dir / name) { writeFile(file, bytes); }
  const std::string& path() const { return file; }
};

TEST(MapFile, EmptyFileCannotBeMapped) {
  TempFile f("empty.elf", {});
  zv::MappedFile* file = nullptr;
  EXPECT_EQ(hex(zv::mapFile(f.path(), file).value()), hex(0x80004005));
  EXPECT_EQ(file, nullptr);
}

TEST(MapFile, MissingFile) {
  ScratchDir dir;
  zv::MappedFile* file = nullptr;
  EXPECT_EQ(hex(zv::mapFile(dir / "no_such_file.elf", file).value()), hex(0x80070002));
  EXPECT_EQ(file, nullptr);
}

TEST(MapFile, ShortFilesAreRefusedByTheParser) {
  std::vector<uint8_t> full = build(makeLinkedModule(true).b);
  for (auto [size, code] : {std::pair<size_t, zv::Status>{259, zv::bad::kFileTooSmall}, {260, zv::bad::kEhsizeLarge}}) {
    TempFile f("short" + std::to_string(size) + ".elf", std::vector<uint8_t>(full.begin(), full.begin() + size));
    zv::MappedFile* file = nullptr;
    ASSERT_TRUE(zv::mapFile(f.path(), file).ok());
    ASSERT_EQ(file->size, size);
    zv::ElfImage img;
    EXPECT_EQ(hex(zv::parseElfImage(file->base, static_cast<uint32_t>(file->size), img)), hex(code));
    zv::releaseMappedFile(file);
  }
}

TEST(MapFile, LoadingNeverChangesTheFileOnDisk) {
  LinkedModule m = makeLinkedModule(true);
  std::vector<uint8_t> bytes = build(m.b);
  TempFile f("loaded.elf", bytes);
  zv::MappedFile* file = nullptr;
  ASSERT_TRUE(zv::mapFile(f.path(), file).ok());
  zv::Context ctx;
  ctx.con.capture = true;
  ASSERT_TRUE(zv::loadInput(ctx, file, f.path()).ok()) << ctx.con.text;
  zv::Elf32_Sym s{};
  ASSERT_TRUE(zv::readSym(ctx.input, m.symtab, m.funcSym, s));
  EXPECT_EQ(s.st_value, 0x02000000u);  // host order in memory
  std::vector<uint8_t> onDisk;
  ASSERT_TRUE(zv::readWholeFile(f.path(), onDisk));
  EXPECT_EQ(onDisk, bytes);
}

}  // namespace
}  // namespace zv::test
