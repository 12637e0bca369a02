// Section reference counts, the unused-section pass and the old-table
// stripping of symbols left in empty sections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "symbols/symbol_test_image.h"

namespace zv::test {
namespace {

std::string at(uint32_t i) { return std::to_string(i); }

// --- Reference counts -----------------------------------------------------------

TEST(ReferenceCounts, LinkedModule) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  loadWithSymbols(ctx, m.b);
  countSectionReferences(ctx);  // sizes the table itself
  const auto& refs = ctx.sym.sectionRefs;
  ASSERT_EQ(refs.size(), sectionCount(ctx.input));
  EXPECT_EQ(refs[0], 0);
  EXPECT_EQ(refs[m.text], 1);
  EXPECT_EQ(refs[m.data], 2) << "allocated, and the relocation's target symbol lives there";
  EXPECT_EQ(refs[m.symtab], 1);
  EXPECT_EQ(refs[m.strtab], 1);
  EXPECT_EQ(refs[m.relaText], 1);
  EXPECT_EQ(refs[ctx.input.eh.e_shstrndx], 1);
  // A recount starts from zero.
  countSectionReferences(ctx);
  EXPECT_EQ(ctx.sym.sectionRefs[m.data], 2);
}

TEST(ReferenceCounts, DebugSectionAndItsRelocationsAreUnused) {
  LinkedModule m = makeLinkedModule();
  uint16_t debug = addProgbits(m.b, ".debug_info", 0, 0, zeros(16), 1);
  uint16_t relaDebug = addRelaSection(m.b, ".rela.debug_info", debug);
  addReloc(m.b, relaDebug, 0, m.funcSym, kRPpcAddr32);
  addReloc(m.b, relaDebug, 4, m.textSym, kRPpcAddr32);
  uint32_t local = addSymbol(m.b, {.name = ".Ldebug0", .info = stInfo(kStbLocal, kSttNotype), .shndx = debug});
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, m.b);
  countSectionReferences(ctx);
  EXPECT_EQ(ctx.sym.sectionRefs[debug], 0);
  EXPECT_EQ(ctx.sym.sectionRefs[relaDebug], 0);
  EXPECT_EQ(ctx.sym.sectionRefs[m.text], 1) << "the debug relocations add nothing";
  EXPECT_EQ(ctx.sym.sectionRefs[m.symtab], 1);
  removeUnusedSections(ctx);
  EXPECT_EQ(ctx.con.text, "Section " + at(debug) + " unused \".debug_info\".\n  Unused Symbol \".Ldebug0\"\n" +
                              "Section " + at(relaDebug) + " unused \".rela.debug_info\".\n");
  EXPECT_TRUE(isZero(symbolAt(ctx, local)));
  EXPECT_FALSE(isZero(symbolAt(ctx, m.funcSym)));
}

TEST(ReferenceCounts, TablesCountOncePerRelocationSectionOfALoadedSection) {
  for (int relocationSections : {0, 1, 2}) {
    ElfBuilder b;
    uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
    uint16_t data = addProgbits(b, ".data", kData, 0x10000000, zeros(16));
    uint16_t symtab = addSymtab(b);
    uint32_t obj = addSymbol(
        b, {.name = "o", .value = 0x10000000, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = data});
    for (int k = 0; k < relocationSections; ++k) {
      uint16_t rs = addRelaSection(b, k == 0 ? ".rela.text" : ".rela.data", k == 0 ? text : data);
      addReloc(b, rs, 0, obj, kRPpcAddr32);
    }
    Context ctx;
    ctx.opt.verbose = true;
    loadWithSymbols(ctx, b);
    countSectionReferences(ctx);
    EXPECT_EQ(ctx.sym.sectionRefs[symtab], relocationSections);
    EXPECT_EQ(ctx.sym.sectionRefs[b.strtab], relocationSections);
    EXPECT_EQ(ctx.sym.sectionRefs[data], 1 + relocationSections);
    removeUnusedSections(ctx);
    std::string expect = relocationSections ? ""
                                            : "Section " + at(symtab) + " unused \".symtab\".\nSection " +
                                                  at(b.strtab) + " unused \".strtab\".\n";
    EXPECT_EQ(ctx.con.text, expect) << relocationSections << " relocation sections";
    EXPECT_FALSE(isZero(symbolAt(ctx, obj))) << "the pass removes only symbols of unused sections";
  }
}

TEST(ReferenceCounts, WithoutSectionNameTableNamesAreCleared) {
  LinkedModule m = makeLinkedModule();
  m.b.ehdr.e_shstrndx = 0;
  Context ctx;
  loadWithSymbols(ctx, m.b);
  ASSERT_NE(ctx.input.sh[m.text].sh_name, 0u);
  countSectionReferences(ctx);
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) EXPECT_EQ(ctx.input.sh[i].sh_name, 0u) << "section " << i;
  EXPECT_EQ(sectionName(ctx, m.text), "<NULL>");
  EXPECT_EQ(sectionNameByIndex(ctx, m.text), "");
}

TEST(ReferenceCounts, OnlyTypedRelocationsOfRealSymbolsCount) {
  LinkedModule m = makeLinkedModule();
  uint16_t other = addProgbits(m.b, ".note", 0, 0, zeros(8), 1);
  uint32_t noted = addSymbol(m.b, {.name = "n", .info = stInfo(kStbLocal, kSttNotype), .shndx = other});
  uint32_t abs = addSymbol(m.b, {.name = "a", .value = 5, .info = stInfo(kStbGlobal, kSttNotype), .shndx = kShnAbs});
  addReloc(m.b, m.relaText, 4, noted, kRPpcNone);  // type 0: no reference
  addReloc(m.b, m.relaText, 8, 0, kRPpcAddr16Lo);  // symbol 0: no reference
  addReloc(m.b, m.relaText, 12, abs, kRPpcAddr16Lo);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  countSectionReferences(ctx);
  EXPECT_EQ(ctx.sym.sectionRefs[other], 0);
  EXPECT_EQ(ctx.sym.sectionRefs[m.data], 2);
}

// A relocation section that names no target or no symbol table, and entries
// whose symbol index lies past the table, are skipped: nothing is counted
// for them and nothing is read outside a table.
TEST(ReferenceCounts, BadLinksAndSymbolIndicesAreSkipped) {
  LinkedModule m = makeLinkedModule();
  addReloc(m.b, m.relaText, 8, m.funcSym, kRPpcRel24);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  Elf32_Rela r = relaAt(ctx, m.relaText, 1);
  r.r_info = 0xFFFFFF00u | kRPpcRel24;
  ASSERT_TRUE(writeRela(ctx.input, m.relaText, 1, r));
  countSectionReferences(ctx);
  EXPECT_EQ(ctx.sym.sectionRefs[m.text], 1) << "the entry past the table adds nothing";
  EXPECT_EQ(ctx.sym.sectionRefs[m.data], 2);

  uint32_t shnum = sectionCount(ctx.input);
  for (uint32_t link : {shnum, 0xFF00u, 0xFFFFFFFFu}) {
    ctx.input.sh[m.relaText].sh_link = link;
    countSectionReferences(ctx);
    EXPECT_EQ(ctx.sym.sectionRefs[m.relaText], 1);
    EXPECT_EQ(ctx.sym.sectionRefs[m.symtab], 0);
    EXPECT_EQ(ctx.sym.sectionRefs[m.strtab], 0);
    EXPECT_EQ(ctx.sym.sectionRefs[m.data], 2) << "targets still count through the module's symbol table";
  }
  ctx.input.sh[m.relaText].sh_link = m.symtab;
  for (uint32_t info : {shnum, 0xFF00u}) {
    ctx.input.sh[m.relaText].sh_info = info;
    countSectionReferences(ctx);
    EXPECT_EQ(ctx.sym.sectionRefs[m.relaText], 0) << "treated as aimed at an unloaded section";
    EXPECT_EQ(ctx.sym.sectionRefs[m.data], 1);
  }
  // A direct call for a section index that names nothing.
  countRelocationTargets(ctx, 0xFF00);
  countRelocationTargets(ctx, shnum);
  EXPECT_EQ(ctx.con.text, "");
}

// --- Unused sections -------------------------------------------------------------

TEST(UnusedSections, CommentSymbolsAreRemovedQuietlyWithoutVerbose) {
  for (bool verbose : {false, true}) {
    LinkedModule m = makeLinkedModule();
    uint16_t comment = addProgbits(m.b, ".comment", 0, 0, zeros(8), 1);
    auto local = stInfo(kStbLocal, kSttNotype);
    uint32_t c1 = addSymbol(m.b, {.name = "cmt1", .info = local, .shndx = comment});
    uint32_t c2 = addSymbol(m.b, {.name = "cmt2", .value = 4, .info = local, .shndx = comment});
    uint32_t bad = addSymbol(m.b, {.name = "x", .info = local, .shndx = comment});
    Context ctx;
    ctx.opt.verbose = verbose;
    loadWithSymbols(ctx, m.b);
    setName(ctx, bad, 0x7FFF);  // the parser refuses such names; set it afterwards
    zv::countReferencesAndDropUnused(ctx);
    std::string expect = verbose ? "Section " + at(comment) + " unused \".comment\".\n" +
                                       "  Unused Symbol \"cmt1\"\n  Unused Symbol \"cmt2\"\n"
                                       "pSym->st_name is out of range (32767)\n  Unused Symbol \"\"\n"
                                 : "";
    EXPECT_EQ(ctx.con.text, expect);
    for (uint32_t i : {c1, c2, bad}) EXPECT_TRUE(isZero(symbolAt(ctx, i))) << "symbol " << i;
    EXPECT_FALSE(isZero(symbolAt(ctx, m.objSym)));
    EXPECT_EQ(ctx.sym.view.symbolCount, 8) << "the table keeps its size";
  }
}

// --- Old-table stripping ------------------------------------------------------------

struct StripCase {
  const char* label;
  std::string name;
  uint8_t type;
  uint32_t value;
  bool moved;           // re-homed into .data
  std::string message;  // printed with -v
};

class StripUnused : public ::testing::TestWithParam<StripCase> {};

// The symbol is defined in an empty section; .data covers 0x10000000 to
// 0x10000010.
TEST_P(StripUnused, MovesOrStrips) {
  const StripCase& c = GetParam();
  for (bool verbose : {false, true}) {
    ElfBuilder b;
    uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
    uint16_t data = addProgbits(b, ".data", kData, 0x10000000, zeros(16));
    uint16_t empty = addProgbits(b, ".sdata", kData, 0x10000010, {});
    addSymtab(b);
    uint32_t keep = addSymbol(
        b, {.name = "kept", .value = 0x02000000, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = text});
    uint32_t abs =
        addSymbol(b, {.name = "abs", .value = 0x10000020, .info = stInfo(kStbGlobal, kSttNotype), .shndx = kShnAbs});
    uint32_t s = addSymbol(b, {.name = c.name, .value = c.value, .info = stInfo(kStbGlobal, c.type), .shndx = empty});
    Context ctx;
    ctx.opt.verbose = verbose;
    loadWithSymbols(ctx, b);
    Elf32_Sym before = symbolAt(ctx, s);
    stripUnusedSymbols(ctx);
    Elf32_Sym after = symbolAt(ctx, s);
    if (c.moved) {
      EXPECT_EQ(after.st_shndx, data);
      EXPECT_EQ(after.st_value, c.value);
      EXPECT_EQ(symbolName(ctx, after), c.name);
    } else {
      EXPECT_TRUE(isZero(after));
      EXPECT_EQ(symbolName(ctx, before), "") << "the name's characters are zeroed";
    }
    EXPECT_EQ(ctx.con.text, verbose ? c.message : "");
    EXPECT_EQ(symbolAt(ctx, keep).st_shndx, text);
    EXPECT_EQ(symbolAt(ctx, abs).st_shndx, kShnAbs);
    EXPECT_EQ(symbolName(ctx, symbolAt(ctx, abs)), "abs");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StripUnused,
                         ::testing::Values(StripCase{"LabelInsideData", "label", kSttNotype, 0x10000008, true, ""},
                                           StripCase{"LabelAtDataStart", "label", kSttObject, 0x10000000, true, ""},
                                           StripCase{"LabelAtEndOfData", "label_end", kSttNotype, 0x10000010, false,
                                                     "INFO: Unused symbol \"label_end\" was stripped\n"},
                                           StripCase{"SdaBaseDefault", "_SDA_BASE_", kSttNotype, 0x8000, false, ""},
                                           StripCase{"SdaBaseOther", "_SDA_BASE_", kSttNotype, 0x10008000, false,
                                                     "INFO: Unused symbol \"_SDA_BASE_\" stripped (0x10008000)\n"},
                                           StripCase{"Sda2BaseDefault", "_SDA2_BASE_", kSttNotype, 0x8000, false, ""},
                                           StripCase{"Sda2BaseCovered", "_SDA2_BASE_", kSttNotype, 0x10000004, true,
                                                     ""},
                                           StripCase{"SectionSymbolInside", "sec", kSttSection, 0x10000008, false, ""},
                                           StripCase{"FileSymbol", "m.c", kSttFile, 0, false, ""}),
                         [](const auto& p) { return std::string(p.param.label); });

// Two symbols share one name string: "counter" and its suffix "ter". Stripping
// the first blanks the other's name as well.
TEST(StripUnused, SharedNameStringIsBlankedForBoth) {
  ElfBuilder b;
  uint16_t text = addProgbits(b, ".text", kText, 0x02000000, zeros(16));
  uint16_t empty = addProgbits(b, ".sbss", kData, 0x10000010, {});
  addSymtab(b);
  auto obj = stInfo(kStbGlobal, kSttNotype);
  uint32_t a = addSymbol(b, {.name = "counter", .value = 0x7000, .info = obj, .shndx = empty});
  uint32_t suffix = addSymbol(b, {.name = "", .value = 0x02000000, .info = obj, .shndx = text, .st_name = 5});
  uint32_t same = addSymbol(b, {.name = "", .value = 0x02000004, .info = obj, .shndx = text, .st_name = 1});
  Context ctx;
  loadWithSymbols(ctx, b);
  ASSERT_EQ(symbolName(ctx, symbolAt(ctx, suffix)), "ter");
  ASSERT_EQ(symbolName(ctx, symbolAt(ctx, same)), "counter");
  stripUnusedSymbols(ctx);
  EXPECT_TRUE(isZero(symbolAt(ctx, a)));
  EXPECT_EQ(symbolAt(ctx, suffix).st_value, 0x02000000u);
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, suffix)), "");
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, same)), "");
}

TEST(StripUnused, NameOutOfRangeIsReportedAndNothingIsBlanked) {
  ElfBuilder b;
  uint16_t empty = addProgbits(b, ".sbss", kData, 0x10000010, {});
  addSymtab(b);
  uint32_t s = addSymbol(b, {.name = "x", .value = 0x7000, .info = stInfo(kStbGlobal, kSttNotype), .shndx = empty});
  uint32_t other = addSymbol(b, {.name = "y", .info = stInfo(kStbGlobal, kSttNotype)});
  Context ctx;
  ctx.opt.verbose = true;
  loadWithSymbols(ctx, b);
  setName(ctx, s, 0x100);
  stripUnusedSymbols(ctx);
  EXPECT_EQ(ctx.con.text, "pSym->st_name is out of range (256)\nINFO: Unused symbol \"\" was stripped\n");
  EXPECT_TRUE(isZero(symbolAt(ctx, s)));
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, other)), "y");
}

}  // namespace
}  // namespace zv::test
