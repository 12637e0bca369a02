// String table compaction of the old-table mode with -s: only the names the
// loader binds by name survive (non-weak undefined, import-section and
// absolute symbols, section names), packed behind a zero byte, and every
// name offset follows them. Modules come from the test ELF maker; a filler
// symbol sets the size of the string table.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/elf_builder.h"
#include "symbols/symbols.h"
#include "symbol_test_image.h"

namespace zv::test {
namespace {

struct StrModule {
  ElfBuilder b;
  uint16_t text = 0, imports = 0, rela = 0;
  uint32_t filler = 0;
};

// .text, an import section, the symbol table with a filler symbol first,
// and a relocation section for .text.
StrModule makeStrModule() {
  StrModule m;
  m.text = addProgbits(m.b, ".text", kShfAlloc | kShfExecInstr, 0x02000000, std::vector<uint8_t>(16));
  m.imports = addSection(m.b, Section{.name = ".imports.lib",
                                      .type = kShtVkmImports,
                                      .flags = kShfAlloc,
                                      .addralign = 4,
                                      .data = std::vector<uint8_t>(16)});
  addSymtab(m.b);
  m.filler = addSymbol(
      m.b, {.name = "f", .value = 0x02000000, .size = 4, .info = stInfo(kStbLocal, kSttFunc), .shndx = m.text});
  m.rela = addRelaSection(m.b, ".rela.text", m.text);
  return m;
}

uint32_t addUse(StrModule& m, Symbol s, uint8_t relType = kRPpcAddr16Ha) {
  uint32_t i = addSymbol(m.b, std::move(s));
  addReloc(m.b, m.rela, 0x02000000, i, relType);
  return i;
}

// Grows the filler's name so that the string table is `total` bytes.
void padStringTableTo(StrModule& m, uint32_t total) {
  uint32_t others = 1;  // the leading zero byte
  for (size_t i = 1; i < m.b.symbols.size(); ++i)
    if (i != m.filler && !m.b.symbols[i].name.empty()) others += static_cast<uint32_t>(m.b.symbols[i].name.size() + 1);
  ASSERT_GT(total, others + 1);
  m.b.symbols[m.filler].name = std::string(total - others - 1, 'f');
}

void load(zv::Context& ctx, const ElfBuilder& b) {
  ctx.opt.newSymbolTable = false;
  ctx.opt.stripStrings = true;
  loadWithSymbols(ctx, b);
}

std::vector<uint8_t> tableBytes(zv::Context& ctx, uint32_t index) {
  std::span<uint8_t> t = zv::sectionBytes(ctx.input, index);
  return {t.begin(), t.end()};
}

// Zero byte, the names with their terminators, zeros up to `size`.
std::vector<uint8_t> packedTable(std::initializer_list<std::string> names, size_t size) {
  std::vector<uint8_t> t{0};
  for (const std::string& n : names) {
    t.insert(t.end(), n.begin(), n.end());
    t.push_back(0);
  }
  t.resize(size, 0);
  return t;
}

// --- The worked example ---------------------------------------------------------

TEST(CompactImportStrings, KeepsOnlyImportNamesOfAThousandByteTable) {
  StrModule m = makeStrModule();
  const std::string undefName(28, 'u'), importName(28, 'i'), absName(28, 'a');
  uint32_t undef = addUse(m, {.name = undefName, .info = stInfo(kStbGlobal, kSttNotype)});
  uint32_t imp = addUse(m, {.name = importName, .info = stInfo(kStbGlobal, kSttNotype), .shndx = m.imports});
  uint32_t abs = addUse(m, {.name = absName, .value = 0x100, .info = stInfo(kStbGlobal, kSttNotype), .shndx = kShnAbs});
  uint32_t local = addUse(
      m, {.name = "local_fn", .value = 0x02000008, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
  padStringTableTo(m, 1000);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.verbose = true;
  uint32_t strtab = m.b.strtab, shstrtab = ctx.input.eh.e_shstrndx;
  ASSERT_EQ(ctx.input.sh[strtab].sh_size, 1000u);
  std::vector<uint8_t> namesBefore = tableBytes(ctx, shstrtab);

  EXPECT_TRUE(zv::compactImportStrings(ctx).ok());

  EXPECT_EQ(ctx.con.text, "8% of stringtable used for import symbols.\n");
  EXPECT_EQ(ctx.input.sh[strtab].sh_size, 92u);
  EXPECT_EQ(tableBytes(ctx, strtab), packedTable({undefName, importName, absName}, 92));
  EXPECT_EQ(symbolAt(ctx, undef).st_name, 1u);
  EXPECT_EQ(symbolAt(ctx, imp).st_name, 30u);
  EXPECT_EQ(symbolAt(ctx, abs).st_name, 59u);
  EXPECT_EQ(symbolAt(ctx, local).st_name, 0u);
  EXPECT_EQ(symbolAt(ctx, m.filler).st_name, 0u);
  EXPECT_EQ(zv::symbolName(ctx, symbolAt(ctx, imp)), importName);
  // Every section name is needed, so the section-name table stays as it was.
  EXPECT_EQ(tableBytes(ctx, shstrtab), namesBefore);
  EXPECT_EQ(zv::sectionNameByIndex(ctx, m.imports), ".imports.lib");
}

// --- The percentage rule --------------------------------------------------------

struct PercentCase {
  const char* label;
  uint32_t nameLength;  // one undefined import name of this many characters
  uint32_t tableSize;
  uint32_t newSize;     // the table's size afterwards
  const char* verbose;  // the -v line
};

class CompactionThreshold : public ::testing::TestWithParam<PercentCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, CompactionThreshold,
                         ::testing::Values(PercentCase{"NinetyPercentIsCompacted", 899, 1000, 904,
                                                       "90% of stringtable used for import symbols.\n"},
                                           PercentCase{"NinetyOnePercentIsLeftAlone", 909, 1000, 1000, ""},
                                           PercentCase{"BelowOnePercentSaysSo", 3, 1000, 8,
                                                       "< 1% of stringtable used for import symbols.\n"}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(CompactionThreshold, DecidesByTheShareOfUsedBytes) {
  const PercentCase& c = GetParam();
  StrModule m = makeStrModule();
  const std::string name(c.nameLength, 'n');
  uint32_t sym = addUse(m, {.name = name, .info = stInfo(kStbGlobal, kSttNotype)});
  padStringTableTo(m, c.tableSize);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.verbose = true;
  uint32_t strtab = m.b.strtab;
  std::vector<uint8_t> before = tableBytes(ctx, strtab);

  EXPECT_TRUE(zv::compactStringTable(ctx, strtab).ok());

  EXPECT_EQ(ctx.con.text, c.verbose);
  EXPECT_EQ(ctx.input.sh[strtab].sh_size, c.newSize);
  if (c.newSize == c.tableSize) {
    EXPECT_EQ(tableBytes(ctx, strtab), before);
  } else {
    EXPECT_EQ(tableBytes(ctx, strtab), packedTable({name}, c.newSize));
    EXPECT_EQ(symbolAt(ctx, sym).st_name, 1u);
  }
}

TEST(CompactionThreshold, IsSilentWithoutVerbose) {
  StrModule m = makeStrModule();
  addUse(m, {.name = "imp", .info = stInfo(kStbGlobal, kSttNotype)});
  padStringTableTo(m, 1000);
  zv::Context ctx;
  load(ctx, m.b);

  EXPECT_TRUE(zv::compactStringTable(ctx, m.b.strtab).ok());
  EXPECT_EQ(ctx.input.sh[m.b.strtab].sh_size, 8u);
  EXPECT_EQ(ctx.con.text, "");
}

// --- Which names the loader needs -------------------------------------------------

struct NameCase {
  const char* label;
  uint8_t bind;
  int where;  // 0 undefined, 1 .text, 2 the import section, else the section index as given
  uint16_t shndx;
  uint8_t relType;
  bool kept;
};

class NeededName : public ::testing::TestWithParam<NameCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, NeededName,
                         ::testing::Values(NameCase{"UndefinedGlobalIsKept", kStbGlobal, 0, 0, kRPpcAddr16Ha, true},
                                           NameCase{"UndefinedWeakIsDropped", kStbWeak, 0, 0, kRPpcAddr16Ha, false},
                                           NameCase{"AbsoluteIsKept", kStbGlobal, 3, kShnAbs, kRPpcAddr16Ha, true},
                                           NameCase{"WeakAbsoluteIsKept", kStbWeak, 3, kShnAbs, kRPpcAddr16Ha, true},
                                           NameCase{"CommonIsKept", kStbGlobal, 3, kShnCommon, kRPpcAddr16Ha, true},
                                           NameCase{"ImportSectionIsKept", kStbGlobal, 2, 0, kRPpcAddr16Ha, true},
                                           NameCase{"DefinedInTextIsDropped", kStbGlobal, 1, 0, kRPpcAddr16Ha, false},
                                           NameCase{"TypeNoneRelocationKeepsNothing", kStbGlobal, 0, 0, kRPpcNone,
                                                    false}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(NeededName, FollowsTheLoaderRule) {
  const NameCase& c = GetParam();
  StrModule m = makeStrModule();
  uint16_t shndx = c.where == 0 ? 0 : c.where == 1 ? m.text : c.where == 2 ? m.imports : c.shndx;
  uint32_t value = c.where == 1 ? 0x02000008 : 0;
  uint32_t sym =
      addUse(m, {.name = "the_symbol", .value = value, .info = stInfo(c.bind, kSttNotype), .shndx = shndx}, c.relType);
  uint32_t unused = addSymbol(m.b, {.name = "unreferenced", .info = stInfo(kStbGlobal, kSttNotype)});
  padStringTableTo(m, 400);
  zv::Context ctx;
  load(ctx, m.b);

  EXPECT_TRUE(zv::compactStringTable(ctx, m.b.strtab).ok());

  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(symbolAt(ctx, sym).st_name, c.kept ? 1u : 0u);
  EXPECT_EQ(symbolAt(ctx, unused).st_name, 0u);
  EXPECT_EQ(ctx.input.sh[m.b.strtab].sh_size, c.kept ? 16u : 4u);  // 12 or 1 bytes used
  if (c.kept) {
    EXPECT_EQ(zv::symbolName(ctx, symbolAt(ctx, sym)), "the_symbol");
  }
}

// --- Odd tables --------------------------------------------------------------------

// The linker keeps a name that is the tail of another inside it.
TEST(CompactStringTable, NameInsideAKeptStringMovesWithIt) {
  StrModule m = makeStrModule();
  uint32_t imp = addUse(m, {.name = "import_fn", .info = stInfo(kStbGlobal, kSttNotype)});
  uint32_t tail = addSymbol(
      m.b, {.name = "tail", .value = 0x02000004, .size = 4, .info = stInfo(kStbLocal, kSttObject), .shndx = m.text});
  padStringTableTo(m, 300);
  zv::Context ctx;
  load(ctx, m.b);
  zv::Elf32_Sym t = symbolAt(ctx, tail);
  t.st_name = symbolAt(ctx, imp).st_name + 7;  // "fn", the tail of "import_fn"
  ASSERT_TRUE(zv::setSymbolAt(ctx, tail, t));

  EXPECT_TRUE(zv::compactStringTable(ctx, m.b.strtab).ok());

  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(symbolAt(ctx, tail).st_name, 8u);
  EXPECT_EQ(symbolAt(ctx, imp).st_name, 1u);
  EXPECT_EQ(zv::symbolName(ctx, symbolAt(ctx, tail)), "fn");
}

TEST(CompactStringTable, UnterminatedFinalRunCountsItsMissingZero) {
  StrModule m = makeStrModule();
  uint32_t last = addUse(m, {.name = "last_name1", .info = stInfo(kStbGlobal, kSttNotype)});
  padStringTableTo(m, 200);
  zv::Context ctx;
  load(ctx, m.b);
  uint32_t strtab = m.b.strtab;
  ctx.input.sh[strtab].sh_size -= 1;  // the final name loses its terminator
  ASSERT_NE(tableBytes(ctx, strtab).back(), 0);

  EXPECT_TRUE(zv::compactStringTable(ctx, strtab).ok());

  // 1 + 11 bytes used: the run of 10 characters counts as 11.
  EXPECT_EQ(ctx.input.sh[strtab].sh_size, 16u);
  EXPECT_EQ(tableBytes(ctx, strtab), packedTable({"last_name1"}, 16));
  EXPECT_EQ(symbolAt(ctx, last).st_name, 1u);
}

TEST(CompactStringTable, TinyTableThatWouldGrowIsLeftAlone) {
  StrModule m = makeStrModule();
  m.b.symbols[m.filler].name = "c";
  uint32_t sym = addUse(m, {.name = "ab", .info = stInfo(kStbGlobal, kSttNotype)});
  zv::Context ctx;
  load(ctx, m.b);
  uint32_t strtab = m.b.strtab;
  ASSERT_EQ(ctx.input.sh[strtab].sh_size, 6u);  // "\0c\0ab\0": 4 of 6 bytes used, rounds to 8
  std::vector<uint8_t> before = tableBytes(ctx, strtab);
  uint32_t nameBefore = symbolAt(ctx, sym).st_name;

  EXPECT_TRUE(zv::compactStringTable(ctx, strtab).ok());

  EXPECT_EQ(ctx.input.sh[strtab].sh_size, 6u);
  EXPECT_EQ(tableBytes(ctx, strtab), before);
  EXPECT_EQ(symbolAt(ctx, sym).st_name, nameBefore);
}

TEST(CompactStringTable, RelocationPastItsSymbolTableKeepsNothing) {
  StrModule m = makeStrModule();
  uint32_t imp = addUse(m, {.name = "import_fn", .info = stInfo(kStbGlobal, kSttNotype)});
  padStringTableTo(m, 300);
  zv::Context ctx;
  load(ctx, m.b);
  zv::Elf32_Rela r{};
  ASSERT_TRUE(zv::readRela(ctx.input, m.rela, 0, r));
  r.r_info = 0xFFFFFF00u | (r.r_info & 0xFF);
  ASSERT_TRUE(zv::writeRela(ctx.input, m.rela, 0, r));

  EXPECT_TRUE(zv::compactStringTable(ctx, m.b.strtab).ok());
  EXPECT_EQ(symbolAt(ctx, imp).st_name, 0u);
  EXPECT_EQ(ctx.input.sh[m.b.strtab].sh_size, 4u);
}

TEST(CompactStringTable, SectionNamesFollowACompactedNameTable) {
  StrModule m = makeStrModule();
  uint16_t big = addProgbits(m.b, std::string(300, 'x'), 0, 0, std::vector<uint8_t>(4));
  zv::Context ctx;
  load(ctx, m.b);
  uint32_t shstrtab = ctx.input.eh.e_shstrndx;
  ctx.input.sh[big].sh_name = 0;  // the long name is no longer anyone's
  std::vector<std::string> names;
  for (uint32_t i = 0; i < zv::sectionCount(ctx.input); ++i) names.push_back(zv::sectionNameByIndex(ctx, i));
  uint32_t used = 1;
  for (const std::string& n : names)
    if (!n.empty()) used += static_cast<uint32_t>(n.size()) + 1;

  EXPECT_TRUE(zv::compactStringTable(ctx, shstrtab).ok());

  EXPECT_EQ(ctx.input.sh[shstrtab].sh_size, (used + 4) & ~3u);
  for (uint32_t i = 0; i < zv::sectionCount(ctx.input); ++i)
    EXPECT_EQ(zv::sectionNameByIndex(ctx, i), names[i]) << "section " << i;
  EXPECT_EQ(ctx.input.sh[1].sh_name, 1u);  // .text comes first in the packed table
}

// --- Finding a string by its old offset ----------------------------------------------

struct LookupCase {
  uint32_t offset;
  uint32_t found;  // new offset given back
  int index;       // record whose use is counted, -1 for none
};

class FindStringRecord : public ::testing::TestWithParam<LookupCase> {};

INSTANTIATE_TEST_SUITE_P(Offsets, FindStringRecord,
                         ::testing::Values(LookupCase{0, 0, 0}, LookupCase{1, 1, 1}, LookupCase{5, 0, 2},
                                           LookupCase{12, 6, 3}, LookupCase{3, 3, 1}, LookupCase{11, 0, 2},
                                           LookupCase{13, 7, 3}, LookupCase{14, 0, -1},
                                           LookupCase{0x90000000u, 0, -1}));

// An offset inside a string finds the string that holds it.
TEST_P(FindStringRecord, FindsTheStringHoldingTheOffset) {
  const LookupCase& c = GetParam();
  // "\0" "abc\0" "unused\0" "x\0": the third string is not kept (new offset 0).
  std::vector<zv::StringRecord> records{{0, 1, 0, 0}, {1, 4, 0, 1}, {5, 7, 0, 0}, {12, 2, 0, 6}};
  zv::Context ctx;
  ctx.con.capture = true;

  EXPECT_EQ(zv::findStringRecord(ctx, records, c.offset), c.found);

  EXPECT_EQ(ctx.con.text, c.index < 0 ? "!!WARN: String not found!\n" : "");
  for (int i = 0; i < static_cast<int>(records.size()); ++i)
    EXPECT_EQ(records[i].uses, i == c.index ? 1u : 0u) << "record " << i;
}

TEST(FindStringRecordEmpty, GivesZeroWithoutAWarning) {
  zv::Context ctx;
  ctx.con.capture = true;
  EXPECT_EQ(zv::findStringRecord(ctx, {}, 5), 0u);
  EXPECT_EQ(ctx.con.text, "");
}

}  // namespace
}  // namespace zv::test
