// The loader's relocation rules, checked on small modules made with the test
// ELF maker: small-data relocations in a VKM, 32-bit references from code,
// symbols in sections the loader does not load, and the two export tables
// whose entries must match the kind (code or data) of what they export.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/elf_builder.h"
#include "symbols/symbols.h"
#include "symbol_test_image.h"
#include "support/status_print.h"

namespace zv::test {
namespace {

constexpr const char* kOutput = "/build/app.vkm";

// A module with code, data, a non-loaded note section and one symbol of
// every kind the rules tell apart.
struct Module {
  ElfBuilder b;
  uint16_t text = 0, data = 0, note = 0, imports = 0;
  uint32_t codeFn = 0, dataObj = 0, undefFn = 0, weakUndef = 0, noteGlobal = 0, noteWeak = 0, absSym = 0, tlsVar = 0,
           textSect = 0;
};

Module makeModule() {
  Module m;
  m.text = addProgbits(m.b, ".text", kShfAlloc | kShfExecInstr, 0x02000000,
                       words32({0x38600000, 0x4E800020, 0x60000000, 0x60000000}));
  m.data = addProgbits(m.b, ".data", kShfAlloc | kShfWrite, 0x10000000, std::vector<uint8_t>(16));
  m.note = addProgbits(m.b, ".comment", 0, 0, std::vector<uint8_t>(8));
  m.imports = addSection(m.b, Section{.name = ".imports.sys",
                                      .type = kShtVkmImports,
                                      .flags = kShfAlloc | kShfExecInstr,
                                      .addr = 0xC0000000,
                                      .addralign = 4,
                                      .data = std::vector<uint8_t>(16)});
  addSymtab(m.b);
  m.textSect = addSymbol(m.b, {.info = stInfo(kStbLocal, kSttSection), .shndx = m.text});
  m.codeFn = addSymbol(
      m.b, {.name = "code_fn", .value = 0x02000000, .size = 8, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
  m.dataObj = addSymbol(
      m.b,
      {.name = "data_obj", .value = 0x10000000, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = m.data});
  m.tlsVar = addSymbol(
      m.b, {.name = "tls_var", .value = 0x10000004, .size = 4, .info = stInfo(kStbGlobal, kSttTls), .shndx = m.data});
  m.undefFn = addSymbol(m.b, {.name = "undef_fn", .info = stInfo(kStbGlobal, kSttNotype)});
  m.weakUndef = addSymbol(m.b, {.name = "weak_undef", .info = stInfo(kStbWeak, kSttNotype)});
  m.noteGlobal = addSymbol(
      m.b, {.name = "note_global", .value = 0, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = m.note});
  m.noteWeak = addSymbol(
      m.b, {.name = "note_weak", .value = 4, .size = 4, .info = stInfo(kStbWeak, kSttObject), .shndx = m.note});
  m.absSym =
      addSymbol(m.b, {.name = "abs_sym", .value = 0x1234, .info = stInfo(kStbGlobal, kSttNotype), .shndx = kShnAbs});
  return m;
}

// An export table: a count, a signature and two entries (value, flag word),
// followed by the names.
uint16_t addExportTable(Module& m, const std::string& name, uint32_t flag0, uint32_t flag1,
                        uint32_t flags = kShfAlloc) {
  std::vector<uint8_t> contents = words32({2, 0x12345678, 0, flag0 | 24, 0, flag1 | 28, 0x61000000, 0x62000000});
  return addSection(
      m.b,
      Section{
          .name = name, .type = kShtVkmExports, .flags = flags, .addr = 0x10002000, .addralign = 4, .data = contents});
}

void load(zv::Context& ctx, const ElfBuilder& b) {
  ctx.opt.outputPath = kOutput;
  loadWithSymbols(ctx, b);
}

std::string sdaPair(int type, int sec, int entry, const std::string& sym) {
  return "***Error: VKM uses illegal SDA relocation " + std::to_string(type) + ".\n          Reloc sec " +
         std::to_string(sec) + ", entry " + std::to_string(entry) + ".\n          Symbol \"" + sym + "\".\n";
}

// --- Small-data relocations -------------------------------------------------

class SdaRelocation : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(EverySdaType, SdaRelocation,
                         ::testing::Values(106, 107, 108, 109, 116, 180, 181, 182, 183, 184, 185));

TEST_P(SdaRelocation, EachOneIsListedInAVkmThenTheSectionFails) {
  int type = GetParam();
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000000, m.dataObj, kRPpcNone);
  addReloc(m.b, rela, 0x02000002, m.dataObj, static_cast<uint8_t>(type));
  addReloc(m.b, rela, 0x02000006, m.undefFn, static_cast<uint8_t>(type));
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_EQ(zv::checkRelocations(ctx, rela), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, sdaPair(type, rela, 1, "data_obj") + sdaPair(type, rela, 2, "undef_fn"));
}

TEST_P(SdaRelocation, PassesInAVkxWithoutTheCheck) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000002, m.dataObj, static_cast<uint8_t>(GetParam()));
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = false;

  EXPECT_TRUE(zv::checkRelocations(ctx, rela).ok());
  EXPECT_EQ(ctx.con.text, "");
}

TEST(SdaRelocationCheck, SdaRel16IsNotAmongTheCheckedTypes) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000002, m.dataObj, kRPpcSdaRel16);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_TRUE(zv::checkRelocations(ctx, rela).ok());
  EXPECT_EQ(ctx.con.text, "");
}

TEST(SdaRelocationCheck, AreListedBeforeTheFirstOtherViolationStopsTheWalk) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000002, m.dataObj, kRPpcEmbSda21);
  addReloc(m.b, rela, 0x02000004, m.dataObj, kRPpcAddr32, 8);
  addReloc(m.b, rela, 0x02000006, m.dataObj, kRPpcEmbSda21);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_EQ(zv::checkRelocations(ctx, rela), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, sdaPair(109, rela, 0, "data_obj") +
                              "***Error: \"/build/app.vkm\", 32-bit reference from code @ 0x04000004 to "
                              "0x10000008 (data_obj) is illegal (reloc # 1)\n"
                              "***Error: are illegal (code is not readable).\n");
}

// --- 32-bit references from code --------------------------------------------

struct Code32Case {
  const char* label;
  bool toImports;  // the relocation patches the import section instead of .text
  bool toData;     // ... or .data
  uint8_t type;
  bool allowCode32;
  bool fails;
};

class Code32Reference : public ::testing::TestWithParam<Code32Case> {};

INSTANTIATE_TEST_SUITE_P(Cases, Code32Reference,
                         ::testing::Values(Code32Case{"CodeFails", false, false, kRPpcAddr32, false, true},
                                           Code32Case{"CodeWithX32Passes", false, false, kRPpcAddr32, true, false},
                                           Code32Case{"ImportSectionPasses", true, false, kRPpcAddr32, false, false},
                                           Code32Case{"DataSectionPasses", false, true, kRPpcAddr32, false, false},
                                           Code32Case{"HalfWordInCodePasses", false, false, kRPpcAddr16Ha, false,
                                                      false}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(Code32Reference, FollowsTheRule) {
  const Code32Case& c = GetParam();
  Module m = makeModule();
  uint16_t target = c.toImports ? m.imports : c.toData ? m.data : m.text;
  uint32_t base = c.toImports ? 0xC0000000 : c.toData ? 0x10000000 : 0x02000000;
  uint16_t rela = addRelaSection(m.b, ".rela.x", target);
  addReloc(m.b, rela, base + 4, m.dataObj, c.type, 8);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.allowCode32 = c.allowCode32;

  EXPECT_EQ(zv::checkRelocations(ctx, rela), c.fails ? zv::Status::failed() : zv::Status());
  EXPECT_EQ(ctx.con.text, c.fails ? "***Error: \"/build/app.vkm\", 32-bit reference from code @ 0x04000004 to "
                                    "0x10000008 (data_obj) is illegal (reloc # 0)\n"
                                    "***Error: are illegal (code is not readable).\n"
                                  : "");
}

// --- Targets the loader does not load -----------------------------------------

TEST(RelocationTarget, NotAllocatedPassesWhateverItHolds) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.comment", m.note);
  addReloc(m.b, rela, 0, m.dataObj, kRPpcEmbSda21);
  addReloc(m.b, rela, 4, m.noteGlobal, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_TRUE(zv::checkRelocations(ctx, rela).ok());
  EXPECT_EQ(ctx.con.text, "");
}

class NoTargetSection : public ::testing::TestWithParam<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(Infos, NoTargetSection, ::testing::Values(0u /* e_shnum */, 0xFF00u, 0xFFFFu, 0x10000u));

TEST_P(NoTargetSection, IsTreatedAsNotLoaded) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000002, m.noteGlobal, kRPpcEmbSda21);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;
  ctx.input.sh[rela].sh_info = GetParam() ? GetParam() : zv::sectionCount(ctx.input);

  EXPECT_TRUE(zv::checkRelocations(ctx, rela).ok());
  EXPECT_EQ(ctx.con.text, "");
}

// --- Symbols past the symbol table ----------------------------------------------

class SymbolIndexBeyondTable : public ::testing::TestWithParam<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(Offsets, SymbolIndexBeyondTable, ::testing::Values(0u, 1u, 0xFFFFFFu));

TEST_P(SymbolIndexBeyondTable, IsReportedWithItsSectionAndEntry) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000000, m.dataObj, kRPpcAddr16Ha);
  addReloc(m.b, rela, 0x02000002, m.dataObj, kRPpcAddr16Ha);
  zv::Context ctx;
  load(ctx, m.b);
  auto count = static_cast<uint32_t>(ctx.sym.view.symbolCount);
  uint32_t index = GetParam() == 0xFFFFFFu ? GetParam() : count + GetParam();
  zv::Elf32_Rela r{0x02000002, index << 8 | kRPpcAddr16Ha, 0};
  ASSERT_TRUE(zv::writeRela(ctx.input, rela, 1, r));

  EXPECT_EQ(zv::checkRelocations(ctx, rela), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, "***Error: Relocation in sec " + std::to_string(rela) + ", entry 1 uses symbol index " +
                              std::to_string(index) + " beyond the symbol table (" + std::to_string(count) +
                              " symbols). Return -1.\n");
}

// --- Symbols in sections the loader does not load ---------------------------

struct SymbolSectionCase {
  const char* label;
  uint32_t Module::*symbol;
  bool emptyTheSection;
  bool fails;
};

class SymbolSection : public ::testing::TestWithParam<SymbolSectionCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, SymbolSection,
    ::testing::Values(SymbolSectionCase{"GlobalInNonAllocatedFails", &Module::noteGlobal, false, true},
                      SymbolSectionCase{"WeakInNonAllocatedPasses", &Module::noteWeak, false, false},
                      SymbolSectionCase{"GlobalInEmptiedSectionPasses", &Module::noteGlobal, true, false},
                      SymbolSectionCase{"UndefinedPasses", &Module::undefFn, false, false},
                      SymbolSectionCase{"WeakUndefinedPasses", &Module::weakUndef, false, false},
                      SymbolSectionCase{"AbsolutePasses", &Module::absSym, false, false},
                      SymbolSectionCase{"LoadedDataPasses", &Module::dataObj, false, false}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(SymbolSection, FollowsTheRule) {
  const SymbolSectionCase& c = GetParam();
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.data", m.data);
  addReloc(m.b, rela, 0x10000000, m.dataObj, kRPpcNone);
  addReloc(m.b, rela, 0x10000008, m.*c.symbol, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);
  if (c.emptyTheSection) {
    zv::Elf32_Shdr& h = ctx.input.sh[m.note];
    h.sh_name = h.sh_addr = h.sh_offset = h.sh_size = 0;
  }

  EXPECT_EQ(zv::checkRelocations(ctx, rela), c.fails ? zv::Status::failed() : zv::Status());
  EXPECT_EQ(ctx.con.text, c.fails ? "***Error: \"/build/app.vkm\", Relocation in sec " + std::to_string(rela) +
                                        ", entry 1 uses symbol 'note_global' from non-allocated section "
                                        "'.comment'.\n"
                                  : std::string());
}

// --- Export tables -------------------------------------------------------------

struct ExportCase {
  const char* label;
  const char* table;
  uint32_t Module::*symbol;
  uint32_t flag0, flag1;  // the two entries' flag words (bit 31: TLS export)
  uint32_t delta;         // the relocation's offset into the table
  const char* message;    // expected output, with %S for the relocation section index
};

class ExportTable : public ::testing::TestWithParam<ExportCase> {};

constexpr uint32_t kTls = 0x80000000;

const char* const kDataMsg =
    "***Error: \".fexports\" sec %S, has reference to a data symbol \"%N\". Check that .def file has "
    "this symbol after [DATA]. Return -1.\n";
const char* const kCodeMsg =
    "***Error: \".dexports\" sec %S, has reference to a code symbol \"code_fn\". Check that .def file "
    "has this symbol after [CODE]. Return -1.\n";
const char* const kTlsMsg =
    "***Error: Export symbol \"tls_var\" is unexpectedly a TLS symbol. Clobber and rebuild with current "
    "vodazed[32|64]. Return -1.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ExportTable,
    ::testing::Values(ExportCase{"FunctionTableObjectFails", ".fexports", &Module::dataObj, 0, 0, 8, kDataMsg},
                      ExportCase{"FunctionTableTlsFails", ".fexports", &Module::tlsVar, kTls, kTls, 8, kDataMsg},
                      ExportCase{"FunctionTableFunctionPasses", ".fexports", &Module::codeFn, 0, 0, 8, ""},
                      ExportCase{"FunctionTableSectionPasses", ".fexports", &Module::textSect, 0, 0, 16, ""},
                      ExportCase{"FunctionTableUndefinedPasses", ".fexports", &Module::undefFn, 0, 0, 8, ""},
                      ExportCase{"DataTableFunctionFails", ".dexports", &Module::codeFn, 0, 0, 8, kCodeMsg},
                      ExportCase{"DataTableObjectPasses", ".dexports", &Module::dataObj, 0, 0, 8, ""},
                      ExportCase{"DataTableTlsWithFlagPasses", ".dexports", &Module::tlsVar, kTls, 0, 8, ""},
                      ExportCase{"DataTableTlsWithoutFlagFails", ".dexports", &Module::tlsVar, 0, kTls, 8, kTlsMsg},
                      ExportCase{"DataTableTlsReadsItsOwnSlot", ".dexports", &Module::tlsVar, kTls, 0, 16, kTlsMsg},
                      ExportCase{"DataTableTlsSecondSlotFlagged", ".dexports", &Module::tlsVar, 0, kTls, 16, ""}),
    [](const auto& p) { return std::string(p.param.label); });

std::string expand(std::string text, int sec, const std::string& name) {
  for (size_t at; (at = text.find("%S")) != std::string::npos;) text.replace(at, 2, std::to_string(sec));
  for (size_t at; (at = text.find("%N")) != std::string::npos;) text.replace(at, 2, name);
  return text;
}

TEST_P(ExportTable, MatchesSymbolKindToTable) {
  const ExportCase& c = GetParam();
  Module m = makeModule();
  uint16_t table = addExportTable(m, c.table, c.flag0, c.flag1);
  uint16_t rela = addRelaSection(m.b, ".rela.exports", table);
  addReloc(m.b, rela, 0x10002000 + c.delta, m.*c.symbol, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);
  std::string name = m.b.symbols[m.*c.symbol].name;

  EXPECT_EQ(zv::checkRelocations(ctx, rela), *c.message ? zv::Status::failed() : zv::Status());
  EXPECT_EQ(ctx.con.text, expand(c.message, rela, name));
}

class ExportTableName : public ::testing::TestWithParam<uint32_t> {};

INSTANTIATE_TEST_SUITE_P(AllocatedOrNot, ExportTableName, ::testing::Values(kShfAlloc, 0u));

TEST_P(ExportTableName, MustBeOneOfTheTwo) {
  Module m = makeModule();
  uint16_t table = addExportTable(m, ".exports", 0, 0, GetParam());
  uint16_t rela = addRelaSection(m.b, ".rela.exports", table);
  addReloc(m.b, rela, 0x10002008, m.codeFn, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);

  EXPECT_EQ(zv::checkRelocations(ctx, rela), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, "Section " + std::to_string(table) +
                              " \".exports\" of ELF should be either \".fexports\" or \".dexports\". "
                              "Return -1.\n");
}

TEST(ExportTableSize, FromBit31IsTooLargeToLoad) {
  Module m = makeModule();
  uint16_t table = addExportTable(m, ".fexports", 0, 0);
  uint16_t rela = addRelaSection(m.b, ".rela.exports", table);
  addReloc(m.b, rela, 0x10002008, m.codeFn, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);

  ctx.input.sh[table].sh_size = 0x7FFFFFFF;
  EXPECT_TRUE(zv::checkRelocations(ctx, rela).ok());
  ctx.input.sh[table].sh_size = 0x80000000;
  EXPECT_EQ(zv::checkRelocations(ctx, rela), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, "***Error: \".fexports\" sec " + std::to_string(rela) +
                              ", is too large to load.  Section size is 0x80000000. Return -1.\n");
}

struct DeltaCase {
  const char* label;
  uint32_t delta;
  const char* end;  // delta + 8 as printed; empty when the relocation fits
};

class ExportRelocationOffset : public ::testing::TestWithParam<DeltaCase> {};

INSTANTIATE_TEST_SUITE_P(Cases, ExportRelocationOffset,
                         ::testing::Values(DeltaCase{"LastEightBytesFail", 24, "00000020"},
                                           DeltaCase{"NineBytesBeforeTheEndPasses", 23, ""},
                                           DeltaCase{"PastTheEndFails", 40, "00000030"},
                                           DeltaCase{"BelowTheTableDoesNotWrap", 0xFFFFFFFC, "100000004"}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(ExportRelocationOffset, MustLeaveAWholeEntry) {
  const DeltaCase& c = GetParam();
  Module m = makeModule();
  uint16_t table = addExportTable(m, ".fexports", 0, 0);
  uint16_t rela = addRelaSection(m.b, ".rela.exports", table);
  addReloc(m.b, rela, 0x10002000 + c.delta, m.codeFn, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);
  ASSERT_EQ(ctx.input.sh[table].sh_size, 32u);
  // The message shows where the table's contents are in memory (low 32 bits).
  auto where = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(zv::sectionBytes(ctx.input, table).data()));
  char hex[16];
  snprintf(hex, sizeof hex, "%08X", where);

  EXPECT_EQ(zv::checkRelocations(ctx, rela), *c.end ? zv::Status::failed() : zv::Status());
  EXPECT_EQ(ctx.con.text, *c.end ? "***Error: \".fexports\" sec " + std::to_string(rela) + ", can't get its data 0x" +
                                       hex + " or a relocation offset 0x" + c.end +
                                       " is too large for the section 0x00000020. Return -1.\n"
                                 : std::string());
}

// --- All relocation sections ---------------------------------------------------

TEST(CheckAllRelocations, StopsAtTheFirstFailingSection) {
  Module m = makeModule();
  uint16_t good = addRelaSection(m.b, ".rela.data", m.data);
  addReloc(m.b, good, 0x10000000, m.dataObj, kRPpcAddr32);
  uint16_t first = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, first, 0x02000002, m.dataObj, kRPpcEmbSda21);
  uint16_t second = addRelaSection(m.b, ".rela.text2", m.text);
  addReloc(m.b, second, 0x02000004, m.dataObj, kRPpcEmbSda2I16);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_EQ(zv::checkAllRelocations(ctx), zv::Status::failed());
  EXPECT_EQ(ctx.con.text, sdaPair(109, first, 0, "data_obj"));
}

TEST(CheckAllRelocations, SkipsRelSectionsAndPassesClean) {
  Module m = makeModule();
  uint16_t rela = addRelaSection(m.b, ".rela.text", m.text);
  addReloc(m.b, rela, 0x02000002, m.dataObj, kRPpcAddr16Ha);
  uint16_t rel = addRelSection(m.b, ".rel.text", m.text);
  addReloc(m.b, rel, 4, m.dataObj, kRPpcAddr32);
  zv::Context ctx;
  load(ctx, m.b);
  ctx.opt.checkNoSda = true;

  EXPECT_TRUE(zv::checkAllRelocations(ctx).ok());
  EXPECT_EQ(ctx.con.text, "");
}

}  // namespace
}  // namespace zv::test
