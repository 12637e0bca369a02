// Classification of sections (kind by type and address, the $TEXT and $DATA
// bases) and of symbols (the flags that decide how the compact table treats
// each one), on modules described with the test ELF maker.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "symbols/symbol_test_image.h"

namespace zv::test {
namespace {

// Counts references and classifies sections and every symbol, as the
// compact-table rework does before it places symbols.
void classifyAll(Context& ctx) {
  countSectionReferences(ctx);
  classifySections(ctx);
  ctx.sym.symbolInfo.assign(static_cast<size_t>(ctx.sym.view.symbolCount), SymbolInfo{});
  markReferencedSymbols(ctx);
  for (int32_t i = 1; i < ctx.sym.view.symbolCount; ++i) classifySymbols(ctx, static_cast<uint32_t>(i));
}

// --- Function symbols --------------------------------------------------------

struct FuncCase {
  const char* label;
  std::string name;
  uint32_t size;
  bool strip;
  uint8_t func;
};

class FunctionNames : public ::testing::TestWithParam<FuncCase> {};

TEST_P(FunctionNames, DecideTheFuncFlag) {
  const FuncCase& c = GetParam();
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  addSymtab(b);
  uint32_t f = addSymbol(
      b, {.name = c.name, .value = 0x02000000, .size = c.size, .info = stInfo(kStbGlobal, kSttFunc), .shndx = text});
  Context ctx;
  ctx.opt.stripStrings = c.strip;
  loadWithSymbols(ctx, b);
  classifyAll(ctx);
  const SymbolInfo& si = ctx.sym.symbolInfo[f];
  EXPECT_EQ(si.func, c.func);
  EXPECT_EQ(si.code, 1) << "a function in a text section is code whatever its name";
  EXPECT_EQ(si.empty, c.size == 0);
  EXPECT_EQ(ctx.con.text, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FunctionNames,
    ::testing::Values(FuncCase{"Plain", "module_main", 16, false, 1}, FuncCase{"SingleDot", "a.b", 16, false, 1},
                      FuncCase{"TwoDots", "a..b", 16, false, 0}, FuncCase{"TrailingDots", "x..", 16, false, 0},
                      FuncCase{"LeadingDot", ".Llocal", 16, false, 0}, FuncCase{"EmptyName", "", 16, false, 0},
                      FuncCase{"SizeZero", "module_main", 0, false, 0},
                      FuncCase{"Stripped", "module_main", 16, true, 0}),
    [](const auto& p) { return std::string(p.param.label); });

// --- Section symbols -----------------------------------------------------------

TEST(SectionSymbols, EmptyBySizeOrByUnreferencedSection) {
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  uint16_t comment = addProgbits(b, ".comment", 0, 0, zeros(8), 1);
  addSymtab(b);
  auto sect = stInfo(kStbLocal, kSttSection);
  uint32_t usedSized = addSymbol(b, {.value = 0x02000000, .size = 16, .info = sect, .shndx = text});
  uint32_t usedEmpty = addSymbol(b, {.value = 0x02000000, .size = 0, .info = sect, .shndx = text});
  uint32_t unusedSized = addSymbol(b, {.size = 8, .info = sect, .shndx = comment});
  Context ctx;
  loadWithSymbols(ctx, b);
  classifyAll(ctx);
  ASSERT_NE(ctx.sym.sectionRefs[text], 0);
  ASSERT_EQ(ctx.sym.sectionRefs[comment], 0);
  EXPECT_EQ(ctx.sym.symbolInfo[usedSized].empty, 0);
  EXPECT_EQ(ctx.sym.symbolInfo[usedEmpty].empty, 1);
  EXPECT_EQ(ctx.sym.symbolInfo[unusedSized].empty, 1);
  for (uint32_t i : {usedSized, usedEmpty, unusedSized}) {
    const SymbolInfo& si = ctx.sym.symbolInfo[i];
    EXPECT_EQ(si.sect, 1);
    EXPECT_EQ(si.code + si.data + si.imported + si.tls + si.func, 0) << "section symbols take no other flags";
  }
}

// --- Bases -----------------------------------------------------------------

struct BaseCase {
  const char* label;
  bool data;  // data sections instead of text sections
  uint32_t addr1;
  bool alloc1;
  uint32_t addr2;
  bool alloc2;
  uint32_t base;
  int which;  // 1 or 2: the section that gives the base; 0: none
};

class BaseSelection : public ::testing::TestWithParam<BaseCase> {};

TEST_P(BaseSelection, LowestReferencedSectionGivesTheBase) {
  const BaseCase& c = GetParam();
  uint32_t flags = c.data ? kData : kText;
  ElfBuilder b;
  uint16_t s1 = addProgbits(b, ".s1", c.alloc1 ? flags : 0, c.addr1, zeros(16));
  uint16_t s2 = addProgbits(b, ".s2", c.alloc2 ? flags : 0, c.addr2, zeros(16));
  addSymtab(b);
  Context ctx;
  loadWithSymbols(ctx, b);
  countSectionReferences(ctx);
  classifySections(ctx);
  int32_t expectSection = c.which == 0 ? -1 : c.which == 1 ? s1 : s2;
  uint32_t base = c.data ? ctx.sym.dataBase : ctx.sym.textBase;
  int32_t section = c.data ? ctx.sym.dataSection : ctx.sym.textSection;
  EXPECT_EQ(base, c.base);
  EXPECT_EQ(section, expectSection);
  // The other kind's base is untouched.
  EXPECT_EQ(c.data ? ctx.sym.textBase : ctx.sym.dataBase, 0xFFFFFFFFu);
  EXPECT_EQ(c.data ? ctx.sym.textSection : ctx.sym.dataSection, -1);
}

INSTANTIATE_TEST_SUITE_P(
    Ties, BaseSelection,
    ::testing::Values(BaseCase{"TextLowerWins", false, 0x02001000, true, 0x02000800, true, 0x02000800, 2},
                      BaseCase{"TextLowerUnreferenced", false, 0x02001000, true, 0x02000800, false, 0x02001000, 1},
                      BaseCase{"TextSameAddressLowerIndex", false, 0x02000000, true, 0x02000000, true, 0x02000000, 1},
                      BaseCase{"TextNoneReferenced", false, 0x02000000, false, 0x02000100, false, 0xFFFFFFFF, 0},
                      BaseCase{"DataLowerWins", true, 0x10002000, true, 0x10001000, true, 0x10001000, 2},
                      BaseCase{"DataLowerUnreferenced", true, 0x10002000, true, 0x10001000, false, 0x10002000, 1},
                      BaseCase{"DataSameAddressLowerIndex", true, 0x10000000, true, 0x10000000, true, 0x10000000, 1}),
    [](const auto& p) { return std::string(p.param.label); });

// --- Section kinds by address -------------------------------------------------

struct KindCase {
  const char* label;
  uint32_t addr;
  SectionClass kind;
};

class SectionKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(SectionKinds, FollowTheAddressRanges) {
  const KindCase& c = GetParam();
  ElfBuilder b;
  uint16_t s = addProgbits(b, ".s", kShfAlloc, c.addr, zeros(4));
  addSymtab(b);
  Context ctx;
  loadWithSymbols(ctx, b);
  countSectionReferences(ctx);
  classifySections(ctx);
  ASSERT_EQ(ctx.sym.sectionInfo.size(), sectionCount(ctx.input));
  EXPECT_EQ(ctx.sym.sectionInfo[s].kind, c.kind);
  EXPECT_EQ(ctx.sym.sectionInfo[0].kind, SectionClass::kText);
  EXPECT_EQ(ctx.sym.textBase, c.kind == SectionClass::kText ? c.addr : 0xFFFFFFFF);
  EXPECT_EQ(ctx.sym.dataBase, c.kind == SectionClass::kData ? c.addr : 0xFFFFFFFF);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, SectionKinds,
                         ::testing::Values(KindCase{"BelowText", 0x01FFFFFF, SectionClass::kOther},
                                           KindCase{"TextStart", 0x02000000, SectionClass::kText},
                                           KindCase{"TextEnd", 0x0FFFFFFF, SectionClass::kText},
                                           KindCase{"DataStart", 0x10000000, SectionClass::kData},
                                           KindCase{"DataEnd", 0xBFFFFFFF, SectionClass::kData},
                                           KindCase{"LoaderRange", 0xC0000000, SectionClass::kOther},
                                           KindCase{"Zero", 0, SectionClass::kOther}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(SectionKinds, ExportTablesTakeTheirKindFromTheirAddress) {
  ElfBuilder b;
  uint16_t dexp = addSection(b, {.name = ".dexports",
                                 .type = kShtVkmExports,
                                 .flags = kShfAlloc,
                                 .addr = 0x10000040,
                                 .addralign = 4,
                                 .data = zeros(16)});
  uint16_t fexp = addSection(b, {.name = ".fexports",
                                 .type = kShtVkmExports,
                                 .flags = kShfAlloc,
                                 .addr = 0xC0000000,
                                 .addralign = 4,
                                 .data = zeros(16)});
  uint16_t imp = addSection(b, {.name = ".imports",
                                .type = kShtVkmImports,
                                .flags = kShfAlloc,
                                .addr = 0x02000000,
                                .addralign = 4,
                                .data = zeros(16)});
  uint16_t tls = addProgbits(b, ".tdata", kData | kShfVkmTls, 0x10000000, zeros(8));
  addSymtab(b);
  Context ctx;
  loadWithSymbols(ctx, b);
  countSectionReferences(ctx);
  classifySections(ctx);
  const auto& info = ctx.sym.sectionInfo;
  EXPECT_EQ(info[dexp].isExport, 1);
  EXPECT_EQ(info[dexp].kind, SectionClass::kData);
  EXPECT_EQ(info[fexp].isExport, 1);
  EXPECT_EQ(info[fexp].kind, SectionClass::kOther);
  EXPECT_EQ(info[imp].isImport, 1);
  EXPECT_EQ(info[imp].kind, SectionClass::kImportExport);
  EXPECT_EQ(info[tls].isTls, 1);
  EXPECT_EQ(info[tls].kind, SectionClass::kData);
  // The export table gives the data base; import and TLS sections take no part.
  EXPECT_EQ(ctx.sym.dataBase, 0x10000040u);
  EXPECT_EQ(ctx.sym.dataSection, dexp);
  EXPECT_EQ(ctx.sym.textBase, 0xFFFFFFFFu);
  EXPECT_EQ(ctx.sym.textSection, -1);
}

// --- Symbol flags --------------------------------------------------------------

TEST(SymbolFlags, FollowTheDefiningSection) {
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  uint16_t data = addProgbits(b, ".data", kData, 0x10000000, zeros(16));
  uint16_t dexp = addSection(b, {.name = ".dexports",
                                 .type = kShtVkmExports,
                                 .flags = kShfAlloc,
                                 .addr = 0x10000100,
                                 .addralign = 4,
                                 .data = zeros(16)});
  uint16_t imp = addSection(b, {.name = ".imports",
                                .type = kShtVkmImports,
                                .flags = kShfAlloc,
                                .addr = 0xC0000000,
                                .addralign = 4,
                                .data = zeros(16)});
  uint16_t tls = addProgbits(b, ".tdata", kData | kShfVkmTls, 0x10000200, zeros(8));
  addSymtab(b);
  auto obj = stInfo(kStbGlobal, kSttObject);
  uint32_t abs = addSymbol(b, {.name = "abs", .value = 0x1234, .info = obj, .shndx = kShnAbs});
  uint32_t undef = addSymbol(b, {.name = "undef", .info = stInfo(kStbGlobal, kSttNotype)});
  uint32_t inText = addSymbol(b, {.name = "t", .value = 0x02000000, .size = 4, .info = obj, .shndx = text});
  uint32_t inData = addSymbol(b, {.name = "d", .value = 0x10000000, .size = 4, .info = obj, .shndx = data});
  uint32_t inExp = addSymbol(b, {.name = "e", .value = 0x10000100, .info = obj, .shndx = dexp});
  uint32_t inImp = addSymbol(b, {.name = "i", .value = 0xC0000000, .info = obj, .shndx = imp});
  uint32_t inTls =
      addSymbol(b, {.name = "l", .value = 0x10000200, .size = 4, .info = stInfo(kStbGlobal, kSttTls), .shndx = tls});
  uint32_t file = addSymbol(b, {.name = "m.c", .info = stInfo(kStbLocal, kSttFile), .shndx = kShnAbs});
  Context ctx;
  loadWithSymbols(ctx, b);
  classifyAll(ctx);
  struct Want {
    uint32_t sym;
    uint8_t absolute, undef, code, data, imported, tls;
  };
  for (const Want& w : {Want{abs, 1, 0, 0, 0, 0, 0}, Want{undef, 0, 1, 0, 0, 0, 0}, Want{inText, 0, 0, 1, 0, 0, 0},
                        Want{inData, 0, 0, 0, 1, 0, 0}, Want{inExp, 0, 1, 0, 1, 0, 0}, Want{inImp, 0, 0, 0, 0, 1, 0},
                        Want{inTls, 0, 0, 0, 1, 0, 1}, Want{file, 1, 0, 0, 0, 0, 0}}) {
    const SymbolInfo& si = ctx.sym.symbolInfo[w.sym];
    EXPECT_EQ(si.absolute, w.absolute) << "symbol " << w.sym;
    EXPECT_EQ(si.undef, w.undef) << "symbol " << w.sym;
    EXPECT_EQ(si.code, w.code) << "symbol " << w.sym;
    EXPECT_EQ(si.data, w.data) << "symbol " << w.sym;
    EXPECT_EQ(si.imported, w.imported) << "symbol " << w.sym;
    EXPECT_EQ(si.tls, w.tls) << "symbol " << w.sym;
  }
  EXPECT_EQ(ctx.sym.symbolInfo[0].absolute + ctx.sym.symbolInfo[0].undef, 0) << "entry 0 stays zero";
}

// Two relocation sections refer to the same symbol; the later one in section
// order decides whether it counts as exported.
struct OrderCase {
  const char* label;
  bool exportsFirst;
  uint8_t exported;
};

class ExportFlag : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ExportFlag, LastRelocationDecides) {
  const OrderCase& c = GetParam();
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  uint16_t fexp = addSection(b, {.name = ".fexports",
                                 .type = kShtVkmExports,
                                 .flags = kShfAlloc,
                                 .addr = 0xC0000000,
                                 .addralign = 4,
                                 .data = zeros(24)});
  addSymtab(b);
  uint32_t f =
      addSymbol(b, {.name = "f", .value = 0x02000000, .size = 16, .info = stInfo(kStbGlobal, kSttFunc), .shndx = text});
  uint32_t quiet =
      addSymbol(b, {.name = "g", .value = 0x02000004, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = text});
  uint16_t first = addRelaSection(b, c.exportsFirst ? ".rela.fexports" : ".rela.text", c.exportsFirst ? fexp : text);
  uint16_t second = addRelaSection(b, c.exportsFirst ? ".rela.text" : ".rela.fexports", c.exportsFirst ? text : fexp);
  addReloc(b, first, c.exportsFirst ? 0xC0000008 : 0, f, c.exportsFirst ? kRPpcAddr32 : kRPpcRel24);
  addReloc(b, second, c.exportsFirst ? 0 : 0xC0000008, f, c.exportsFirst ? kRPpcRel24 : kRPpcAddr32);
  addReloc(b, second, 4, quiet, kRPpcNone);  // type 0 refers to nothing
  Context ctx;
  loadWithSymbols(ctx, b);
  classifyAll(ctx);
  EXPECT_EQ(ctx.sym.symbolInfo[f].referenced, 1);
  EXPECT_EQ(ctx.sym.symbolInfo[f].exported, c.exported);
  EXPECT_EQ(ctx.sym.symbolInfo[quiet].referenced, 0);
}

INSTANTIATE_TEST_SUITE_P(Order, ExportFlag,
                         ::testing::Values(OrderCase{"ExportTableThenCode", true, 0},
                                           OrderCase{"CodeThenExportTable", false, 1}),
                         [](const auto& p) { return std::string(p.param.label); });

// Relocation sections that name no target, and entries whose symbol index
// lies past the table, are walked without reading outside any table.
TEST(ReferencedSymbols, BadTargetsAndSymbolIndicesAreSkipped) {
  LinkedModule m = makeLinkedModule();
  addReloc(m.b, m.relaText, 8, m.funcSym, kRPpcRel24);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  // An entry whose symbol index lies past the table...
  Elf32_Rela r = relaAt(ctx, m.relaText, 1);
  r.r_info = (static_cast<uint32_t>(ctx.sym.view.symbolCount) << 8) | kRPpcRel24;
  ASSERT_TRUE(writeRela(ctx.input, m.relaText, 1, r));
  // ...in a section aimed at no section.
  for (uint32_t info : {uint32_t(sectionCount(ctx.input)), 0xFF00u}) {
    ctx.input.sh[m.relaText].sh_info = info;
    classifyAll(ctx);
    EXPECT_EQ(ctx.sym.symbolInfo[m.objSym].referenced, 1);
    EXPECT_EQ(ctx.sym.symbolInfo[m.objSym].exported, 0);
    EXPECT_EQ(ctx.sym.symbolInfo[m.funcSym].referenced, 0);
  }
}

// --- Names and the info listing ----------------------------------------------

TEST(SymbolNames, KindAndBindingNames) {
  const char* kinds[16] = {"none",  "data",  "code",  "sect",  "file",  "other", "tlsdata", "other",
                           "other", "other", "other", "other", "other", "other", "other",   "other"};
  for (uint8_t t = 0; t < 16; ++t) {
    Elf32_Sym s{};
    s.st_info = static_cast<uint8_t>(0x10 | t);
    EXPECT_STREQ(symbolKindName(s), kinds[t]) << "type " << int(t);
  }
  const char* binds[4] = {"local", "global", "weak", "other"};
  for (uint8_t bnd = 0; bnd < 16; ++bnd) {
    Elf32_Sym s{};
    s.st_info = static_cast<uint8_t>(bnd << 4 | 2);
    EXPECT_STREQ(symbolBindingName(s), binds[bnd < 3 ? bnd : 3]) << "binding " << int(bnd);
  }
}

TEST(SymbolInfoListing, PrintsReferencedBeforeUndef) {
  Context ctx;
  ctx.con.capture = true;
  ctx.sym.symbolInfo.resize(8);
  SymbolInfo& si = ctx.sym.symbolInfo[7];
  si.exported = 1;
  si.referenced = 1;
  si.undef = 0;
  si.code = 1;
  si.newId = 12;
  si.useId = 1;
  si.offset = 0x1A0;
  dumpSymbolInfo(ctx, 7);
  dumpSymbolInfo(ctx, 8);  // past the table: nothing
  EXPECT_EQ(ctx.con.text,
            "        7: export:1 import:0 func:0 code:1 data:0 sect:0 referenced:1 undef:0 new_id:12 use_id:1 "
            "offset:0x000001a0\n");
}

// The writer refuses such inputs before the symbol work; the symbol work
// itself must still not fail on them.
TEST(Classification, InputWithoutSymbolTableDoesNotCrash) {
  ElfBuilder b;
  addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  uint16_t comment = addProgbits(b, ".comment", 0, 0, zeros(4), 1);
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, b);
  ASSERT_EQ(ctx.sym.view.symtab, -1);
  classifyAll(ctx);
  EXPECT_EQ(ctx.sym.textBase, 0x02000000u);
  EXPECT_TRUE(ctx.sym.symbolInfo.empty());
  removeUnusedSections(ctx);
  stripUnusedSymbols(ctx);
  EXPECT_TRUE(buildNewSymbolTable(ctx).ok());
  EXPECT_EQ(ctx.sym.view.symbolCount, 0);
  EXPECT_EQ(ctx.con.text, "Section " + std::to_string(comment) + " unused \".comment\".\n");
}

}  // namespace
}  // namespace zv::test
