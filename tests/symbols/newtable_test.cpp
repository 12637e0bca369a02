// The compact symbol table: which symbols keep an entry, how relocations are
// re-pointed at $TEXT, $DATA and $UNDEF, the rebuilt tables in the image, the
// diagnostic listings.
#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "symbols/symbol_test_image.h"

namespace zv::test {
namespace {

// The writer's symbol steps in the default mode.
void rebuild(Context& ctx) {
  zv::countReferencesAndDropUnused(ctx);
  ctx.con.text.clear();
  EXPECT_TRUE(buildNewSymbolTable(ctx).ok()) << ctx.con.text;
}

std::string tableBytes(Context& ctx, int32_t section) {
  std::span<uint8_t> bytes = sectionBytes(ctx.input, static_cast<uint32_t>(section));
  return std::string(bytes.begin(), bytes.end());
}

const std::string kFixedNames("\0$TEXT\0$DATA\0$UNDEF\0", 20);

uint32_t relType(const Elf32_Rela& r) { return r.r_info & 0xFF; }
uint32_t relSymbol(const Elf32_Rela& r) { return r.r_info >> 8; }

// A text section of 32 bytes at 0x02000000, a data section of 32 bytes at
// 0x10000000, the symbol table and a relocation section for the text.
struct Module {
  ElfBuilder b;
  uint16_t text = 0, data = 0, symtab = 0, rela = 0;
};

Module makeModule() {
  Module m;
  m.text = addProgbits(m.b, ".text", kText, 0x02000000, zeros(32));
  m.data = addProgbits(m.b, ".data", kData, 0x10000000, zeros(32));
  m.symtab = addSymtab(m.b);
  return m;
}

void addTextRelocations(Module& m) { m.rela = addRelaSection(m.b, ".rela.text", m.text); }

// --- The fixed entries ---------------------------------------------------------

TEST(NewSymbolTable, OnlyFileAndUnusedSectionSymbolsLeaveTheFixedEntries) {
  for (bool useDataSection : {false, true}) {
    Module m = makeModule();
    addSymbol(m.b, {.name = "m.c", .info = stInfo(kStbLocal, kSttFile), .shndx = kShnAbs});
    auto sect = stInfo(kStbLocal, kSttSection);
    addSymbol(m.b, {.value = 0x02000000, .info = sect, .shndx = m.text});
    uint32_t dataSym = addSymbol(m.b, {.value = 0x10000000, .info = sect, .shndx = m.data});
    addTextRelocations(m);
    if (useDataSection) addReloc(m.b, m.rela, 2, dataSym, kRPpcAddr16Ha, 8);
    Context ctx;
    loadWithSymbols(ctx, m.b);
    uint32_t oldInfo = ctx.input.sh[m.symtab].sh_info;
    rebuild(ctx);
    EXPECT_EQ(ctx.con.text, "");
    int32_t count = useDataSection ? 5 : 4;
    EXPECT_EQ(ctx.sym.view.symbolCount, count);
    EXPECT_EQ(ctx.input.sh[m.symtab].sh_size, uint32_t(count) * 16);
    EXPECT_EQ(ctx.input.sh[m.symtab].sh_info, oldInfo) << "sh_info is left alone";
    std::string strings = kFixedNames + (useDataSection ? std::string(1, '\0') : "");
    EXPECT_EQ(tableBytes(ctx, ctx.sym.view.strtab), strings);
    EXPECT_TRUE(isZero(symbolAt(ctx, 0)));
    Elf32_Sym t = symbolAt(ctx, 1), d = symbolAt(ctx, 2), u = symbolAt(ctx, 3);
    EXPECT_EQ(symbolName(ctx, t), "$TEXT");
    EXPECT_EQ(t.st_value, 0x02000000u);
    EXPECT_EQ(t.st_info, 0x03);
    EXPECT_EQ(t.st_shndx, m.text);
    EXPECT_EQ(symbolName(ctx, d), "$DATA");
    EXPECT_EQ(d.st_value, 0x10000000u);
    EXPECT_EQ(d.st_info, 0x03);
    EXPECT_EQ(d.st_shndx, m.data);
    EXPECT_EQ(symbolName(ctx, u), "$UNDEF");
    EXPECT_EQ(u.st_value, 0u);
    EXPECT_EQ(u.st_info, 0x11);
    EXPECT_EQ(u.st_shndx, 0);
    if (useDataSection) {
      Elf32_Sym kept = symbolAt(ctx, 4);
      EXPECT_EQ(kept.st_shndx, m.data);
      EXPECT_EQ(kept.st_name, 20u);
      // A section symbol is placed too: its relocation goes to $DATA.
      Elf32_Rela r = relaAt(ctx, m.rela, 0);
      EXPECT_EQ(relSymbol(r), 2u);
      EXPECT_EQ(r.r_addend, 8);
    }
  }
}

// --- Sizes -----------------------------------------------------------------------

TEST(NewSymbolTable, TenKeptSymbolsOfFiftySevenCharacters) {
  const std::vector<std::string> names = {"alpha",   "bravo",  "charlie", "delta", "echoes",
                                          "foxtrot", "golfer", "hotel",   "india", "juliet"};
  ASSERT_EQ(std::accumulate(names.begin(), names.end(), size_t(0),
                            [](size_t n, const std::string& s) { return n + s.size(); }),
            57u);
  Module m = makeModule();
  std::vector<uint32_t> funcs;
  for (size_t k = 0; k < names.size(); ++k) {
    // Dropped objects between the kept functions do not count.
    addSymbol(m.b, {.name = "object_" + names[k],
                    .value = 0x10000000,
                    .size = 4,
                    .info = stInfo(kStbLocal, kSttObject),
                    .shndx = m.data});
    funcs.push_back(addSymbol(m.b, {.name = names[k],
                                    .value = uint32_t(0x02000000 + 2 * k),
                                    .size = 2,
                                    .info = stInfo(k % 2 ? kStbLocal : kStbGlobal, kSttFunc),
                                    .shndx = m.text}));
  }
  addTextRelocations(m);
  addReloc(m.b, m.rela, 0, funcs[3], kRPpcRel24);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  EXPECT_EQ(ctx.sym.table.nextId, 14);
  EXPECT_EQ(ctx.sym.table.newStringsSize, 87);
  EXPECT_EQ(ctx.input.sh[m.symtab].sh_size, 224u);
  EXPECT_EQ(ctx.input.sh[m.b.strtab].sh_size, 87u);
  std::string expect = kFixedNames;
  for (const std::string& n : names) expect += n + std::string(1, '\0');
  EXPECT_EQ(tableBytes(ctx, ctx.sym.view.strtab), expect);
  // In the order of their old indices, locals and globals mixed as they were.
  for (size_t k = 0; k < names.size(); ++k) {
    Elf32_Sym s = symbolAt(ctx, uint32_t(4 + k));
    EXPECT_EQ(symbolName(ctx, s), names[k]);
    EXPECT_EQ(s.st_value, 0x02000000 + 2 * k);
    EXPECT_EQ(s.st_size, 2u);
    EXPECT_EQ(s.st_info >> 4, k % 2 ? 0 : 1);
    EXPECT_EQ(s.st_shndx, m.text);
  }
  EXPECT_EQ(ctx.con.text, "");
}

// Tables that fit are written over the old bytes; larger ones get storage of
// their own. Either way the image reads back the new tables.
TEST(NewSymbolTable, FittingTablesAreWrittenInPlace) {
  LinkedModule m = makeLinkedModule();
  addSymbol(m.b, {.name = "a_rather_long_local_name_that_is_dropped",
                  .value = 0x10000004,
                  .size = 4,
                  .info = stInfo(kStbLocal, kSttObject),
                  .shndx = m.data});
  Context ctx;
  loadWithSymbols(ctx, m.b);
  // Where the loaded tables live (the converted symbol table already in
  // storage of its own, the names in the file's view).
  const uint8_t* symbols = sectionBytes(ctx.input, m.symtab).data();
  const uint8_t* names = sectionBytes(ctx.input, m.strtab).data();
  rebuild(ctx);
  ASSERT_EQ(ctx.sym.view.symbolCount, 5);
  EXPECT_EQ(sectionBytes(ctx.input, m.symtab).data(), symbols);
  EXPECT_EQ(sectionBytes(ctx.input, m.strtab).data(), names);
  EXPECT_EQ(tableBytes(ctx, m.strtab), kFixedNames + std::string("module_main\0", 12));
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 4)), "module_main");
  EXPECT_EQ(ctx.sym.view.stringsSize, 32u);
}

TEST(NewSymbolTable, LargerTablesGetStorageOfTheirOwn) {
  // Three functions share one name string in the old table ("main" is the
  // suffix of "module_main"); the new table holds a copy for each.
  LinkedModule m = makeLinkedModule();
  auto func = stInfo(kStbGlobal, kSttFunc);
  addSymbol(m.b, {.value = 0x02000004, .size = 4, .info = func, .shndx = m.text, .st_name = 8});
  addSymbol(m.b, {.value = 0x02000008, .size = 4, .info = func, .shndx = m.text, .st_name = 8});
  Context ctx;
  loadWithSymbols(ctx, m.b);
  uint32_t oldStrings = ctx.input.sh[m.strtab].sh_size;
  rebuild(ctx);
  EXPECT_GT(ctx.input.sh[m.strtab].sh_size, oldStrings);
  EXPECT_EQ(tableBytes(ctx, m.strtab), kFixedNames + std::string("module_main\0main\0main\0", 22));
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 5)), "main");
  EXPECT_EQ(symbolAt(ctx, 6).st_name, 37u);
  EXPECT_EQ(symbolAt(ctx, 6).st_value, 0x02000008u);
}

TEST(NewSymbolTable, EntrySizeBecomesSixteen) {
  for (uint32_t entsize : {0u, 16u, 20u}) {
    LinkedModule m = makeLinkedModule();
    m.b.sections[m.symtab].entsize = entsize;
    Context ctx;
    loadWithSymbols(ctx, m.b);
    rebuild(ctx);
    EXPECT_EQ(ctx.input.sh[m.symtab].sh_entsize, entsize ? 16u : 0u);
    EXPECT_EQ(ctx.input.sh[m.symtab].sh_size, 80u);
    EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 3)), "$UNDEF");
    EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 4)), "module_main");
  }
}

// --- Keep rules and re-pointed relocations ----------------------------------------

TEST(NewSymbolTable, GlobalFunctionKeptUnlessStrippedButRelocatedFromText) {
  for (bool strip : {false, true}) {
    Module m = makeModule();
    uint32_t f = addSymbol(
        m.b, {.name = "helper", .value = 0x02000008, .size = 8, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
    addTextRelocations(m);
    addReloc(m.b, m.rela, 0, f, kRPpcRel24, 0);
    addReloc(m.b, m.rela, 4, f, kRPpcAddr16Lo, -4);
    Context ctx;
    ctx.opt.stripStrings = strip;
    loadWithSymbols(ctx, m.b);
    rebuild(ctx);
    EXPECT_EQ(ctx.sym.view.symbolCount, strip ? 4 : 5);
    if (!strip) {
      EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 4)), "helper");
    }
    Elf32_Rela r0 = relaAt(ctx, m.rela, 0), r1 = relaAt(ctx, m.rela, 1);
    EXPECT_EQ(relSymbol(r0), 1u);
    EXPECT_EQ(relType(r0), kRPpcRel24);
    EXPECT_EQ(r0.r_addend, 8);
    EXPECT_EQ(relSymbol(r1), 1u);
    EXPECT_EQ(relType(r1), kRPpcAddr16Lo);
    EXPECT_EQ(r1.r_addend, 4);
    EXPECT_EQ(r0.r_offset, 0u);
    EXPECT_EQ(r1.r_offset, 4u);
  }
}

TEST(NewSymbolTable, DataAndUndefinedSymbolsAreDroppedAndCarriedByPseudoSymbols) {
  Module m = makeModule();
  uint32_t obj = addSymbol(
      m.b,
      {.name = "counter", .value = 0x10000008, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = m.data});
  uint32_t undef = addSymbol(m.b, {.name = "elsewhere", .info = stInfo(kStbGlobal, kSttNotype)});
  addTextRelocations(m);
  addReloc(m.b, m.rela, 0, obj, kRPpcAddr16Ha, 4);
  addReloc(m.b, m.rela, 4, undef, kRPpcRel24, 0x10);
  addReloc(m.b, m.rela, 8, undef, kRPpcNone, 0x20);  // type 0 is left alone
  Context ctx;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  EXPECT_EQ(ctx.sym.view.symbolCount, 4);
  Elf32_Rela r0 = relaAt(ctx, m.rela, 0), r1 = relaAt(ctx, m.rela, 1), r2 = relaAt(ctx, m.rela, 2);
  EXPECT_EQ(relSymbol(r0), 2u);
  EXPECT_EQ(r0.r_addend, 12);
  EXPECT_EQ(relSymbol(r1), 3u);
  EXPECT_EQ(relType(r1), kRPpcRel24);
  EXPECT_EQ(r1.r_addend, 0x10);
  EXPECT_EQ(r2.r_info, undef << 8);
  EXPECT_EQ(r2.r_addend, 0x20);
  EXPECT_EQ(ctx.con.text, "");
}

TEST(NewSymbolTable, ImportAbsoluteAndTlsSymbolsKeepTheirEntries) {
  Module m = makeModule();
  uint16_t imports = addSection(m.b, {.name = ".imports",
                                      .type = kShtVkmImports,
                                      .flags = kShfAlloc,
                                      .addr = 0xC0000000,
                                      .addralign = 4,
                                      .data = zeros(32)});
  uint16_t tdata = addProgbits(m.b, ".tdata", kData | kShfVkmTls, 0x10000100, zeros(16));
  auto global = [](uint8_t type) { return stInfo(kStbGlobal, type); };
  uint32_t imp =
      addSymbol(m.b, {.name = "imported", .value = 0xC0000010, .info = global(kSttNotype), .shndx = imports});
  uint32_t unusedImp =
      addSymbol(m.b, {.name = "unused_import", .value = 0xC0000014, .info = global(kSttNotype), .shndx = imports});
  uint32_t abs = addSymbol(m.b, {.name = "absolute", .value = 0x1000, .info = global(kSttNotype), .shndx = kShnAbs});
  std::vector<uint32_t> tls;
  for (uint8_t type : {kSttNotype, kSttObject, kSttFunc, kSttTls})
    tls.push_back(addSymbol(m.b, {.name = "tls" + std::to_string(type),
                                  .value = 0x10000100u + 4 * type,
                                  .size = 4,
                                  .info = global(type),
                                  .shndx = tdata}));
  addTextRelocations(m);
  addReloc(m.b, m.rela, 0, imp, kRPpcRel24, 0);
  addReloc(m.b, m.rela, 4, abs, kRPpcAddr16Lo, 2);
  addReloc(m.b, m.rela, 8, tls[1], kRPpcDtpRel32, 6);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  // imported 4, absolute 5, the four TLS symbols 6 to 9; the unused import is dropped.
  ASSERT_EQ(ctx.sym.view.symbolCount, 10);
  EXPECT_EQ(ctx.sym.symbolInfo[unusedImp].newId, 0u);
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 4)), "imported");
  EXPECT_EQ(symbolAt(ctx, 4).st_shndx, imports);
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 5)), "absolute");
  EXPECT_EQ(symbolAt(ctx, 5).st_shndx, kShnAbs);
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(symbolAt(ctx, 6 + k).st_shndx, tdata);
  Elf32_Rela r0 = relaAt(ctx, m.rela, 0), r1 = relaAt(ctx, m.rela, 1), r2 = relaAt(ctx, m.rela, 2);
  EXPECT_EQ(relSymbol(r0), 4u);
  EXPECT_EQ(r0.r_addend, 0);
  EXPECT_EQ(relSymbol(r1), 5u);
  EXPECT_EQ(r1.r_addend, 2);
  EXPECT_EQ(relSymbol(r2), 7u);
  EXPECT_EQ(relType(r2), kRPpcDtpRel32);
  EXPECT_EQ(r2.r_addend, 6);
}

TEST(NewSymbolTable, ExportedSymbolsAreKept) {
  Module m = makeModule();
  uint16_t dexp = addSection(m.b, {.name = ".dexports",
                                   .type = kShtVkmExports,
                                   .flags = kShfAlloc,
                                   .addr = 0xC0000000,
                                   .addralign = 4,
                                   .data = zeros(24)});
  uint32_t obj = addSymbol(m.b, {.name = "shared_counter",
                                 .value = 0x10000010,
                                 .size = 4,
                                 .info = stInfo(kStbGlobal, kSttObject),
                                 .shndx = m.data});
  uint16_t rela = addRelaSection(m.b, ".rela.dexports", dexp);
  addReloc(m.b, rela, 0xC0000008, obj, kRPpcAddr32, 0);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  ASSERT_EQ(ctx.sym.view.symbolCount, 5);
  EXPECT_EQ(symbolName(ctx, symbolAt(ctx, 4)), "shared_counter");
  // Kept by name, but data placement still carries its relocations.
  Elf32_Rela r = relaAt(ctx, rela, 0);
  EXPECT_EQ(relSymbol(r), 2u);
  EXPECT_EQ(r.r_addend, 0x10);
}

TEST(NewSymbolTable, DuplicateNamesAreCopiedTwice) {
  Module m = makeModule();
  auto func = stInfo(kStbLocal, kSttFunc);
  addSymbol(m.b, {.name = "dup", .value = 0x02000000, .size = 4, .info = func, .shndx = m.text});
  addSymbol(m.b, {.name = "dup", .value = 0x02000010, .size = 4, .info = func, .shndx = m.text});
  Context ctx;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  EXPECT_EQ(tableBytes(ctx, ctx.sym.view.strtab), kFixedNames + std::string("dup\0dup\0", 8));
  EXPECT_EQ(symbolAt(ctx, 4).st_name, 20u);
  EXPECT_EQ(symbolAt(ctx, 5).st_name, 24u);
}

// Kept names are copied as far as they were measured: a name that is the
// tail of another, and a last name that runs to the end of the string table
// without its terminating zero. A kept function whose name lies past the
// table is reported wherever its name is read, as ever: when it is
// classified, numbered and copied.
TEST(NewSymbolTable, KeptNamesAreCopiedAsFarAsTheTableHoldsThem) {
  Module m = makeModule();
  auto func = stInfo(kStbLocal, kSttFunc);
  addSymbol(m.b, {.name = "alpha", .value = 0x02000000, .size = 4, .info = func, .shndx = m.text});
  addSymbol(m.b, {.value = 0x02000008, .size = 4, .info = func, .shndx = m.text, .st_name = 3});  // "pha"
  uint32_t lost = addSymbol(m.b, {.value = 0x100, .size = 4, .info = func, .shndx = kShnAbs});
  addSymbol(m.b, {.name = "omega", .value = 0x02000010, .size = 4, .info = func, .shndx = m.text});
  addTextRelocations(m);
  addReloc(m.b, m.rela, 0, lost, kRPpcAddr16Lo, 0);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  setName(ctx, lost, 0x7FFF);             // the parser refuses such names; set it afterwards
  ctx.input.sh[m.b.strtab].sh_size -= 1;  // "omega" loses its zero
  locateSymbolTable(ctx);
  rebuild(ctx);
  std::string outOfRange = "pSym->st_name is out of range (32767)\n";
  EXPECT_EQ(ctx.con.text, outOfRange + outOfRange + outOfRange);
  EXPECT_EQ(tableBytes(ctx, ctx.sym.view.strtab), kFixedNames + std::string("alpha\0pha\0\0omega\0", 17));
}

// A relocation that uses a dropped symbol without placement is listed,
// whatever the verbosity, and re-pointed at entry 0. Relocation sections of
// unloaded sections are re-pointed too; entries whose symbol index lies past
// the old table are left as they are.
TEST(NewSymbolTable, DroppedSymbolStillInUseIsListedAndPointedAtZero) {
  Module m = makeModule();
  uint16_t low = addProgbits(m.b, ".low", kShfAlloc, 0x01000000, zeros(8));
  uint16_t debug = addProgbits(m.b, ".debug", 0, 0, zeros(16), 1);
  uint32_t odd = addSymbol(
      m.b, {.name = "odd", .value = 0x01000000, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = low});
  uint32_t f = addSymbol(
      m.b, {.name = "f", .value = 0x02000010, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
  addTextRelocations(m);
  addReloc(m.b, m.rela, 0, odd, kRPpcAddr16Lo, 1);
  addReloc(m.b, m.rela, 4, f, kRPpcRel24, 0);
  uint16_t relaDebug = addRelaSection(m.b, ".rela.debug", debug);
  addReloc(m.b, relaDebug, 0, f, kRPpcAddr32, 0);
  addReloc(m.b, relaDebug, 4, f, kRPpcAddr32, 0);
  Context ctx;
  loadWithSymbols(ctx, m.b);
  Elf32_Rela past = relaAt(ctx, relaDebug, 1);
  past.r_info = uint32_t(ctx.sym.view.symbolCount) << 8 | kRPpcAddr32;
  ASSERT_TRUE(writeRela(ctx.input, relaDebug, 1, past));
  rebuild(ctx);
  EXPECT_EQ(ctx.con.text, "   0|   " + std::to_string(odd) + ": 0x01000000 global data  .low      (" +
                              std::to_string(low) + ") odd size = 4\n        " + std::to_string(odd) +
                              ": export:0 import:0 func:0 code:0 data:0 sect:0 referenced:1 undef:0 new_id:0 "
                              "use_id:0 offset:0x00000000\n");
  Elf32_Rela r0 = relaAt(ctx, m.rela, 0);
  EXPECT_EQ(r0.r_info, uint32_t(kRPpcAddr16Lo));
  EXPECT_EQ(r0.r_addend, 1);
  Elf32_Rela d0 = relaAt(ctx, relaDebug, 0), d1 = relaAt(ctx, relaDebug, 1);
  EXPECT_EQ(relSymbol(d0), 1u);
  EXPECT_EQ(d0.r_addend, 0x10);
  EXPECT_EQ(d1.r_info, past.r_info);
  EXPECT_EQ(d1.r_addend, past.r_addend);
}

// The state in which the new table hands out ids: sections classified, no
// symbol numbered yet.
void readyForIds(Context& ctx, const LinkedModule& m) {
  loadWithSymbols(ctx, m.b);
  countSectionReferences(ctx);
  classifySections(ctx);
  ctx.sym.symbolInfo.assign(static_cast<size_t>(ctx.sym.view.symbolCount), SymbolInfo{});
}

TEST(NewSymbolTable, SecondIdForASymbolIsRefused) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  readyForIds(ctx, m);
  EXPECT_TRUE(assignNewSymbolId(ctx, m.funcSym).ok());
  EXPECT_TRUE(assignNewSymbolId(ctx, m.funcSym).ok());  // reported, but the table goes on
  EXPECT_EQ(ctx.con.text, "ERROR: sym 3 already has new symid 4 wanted to number 5\n");
  EXPECT_EQ(ctx.sym.symbolInfo[m.funcSym].newId, 4u);
  EXPECT_EQ(ctx.sym.symbolInfo[m.funcSym].nameLen, 11u);
  EXPECT_EQ(ctx.sym.table.nextId, 5);
  EXPECT_EQ(ctx.sym.table.newStringsSize, 32);
}

// Relocations name their symbol in 24 bits: the last id they can name is
// 0xFFFFFF, and a table that would need more is refused, not cut short.
TEST(NewSymbolTable, IdsStopWhereRelocationsCanNoLongerNameThem) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  readyForIds(ctx, m);
  ctx.sym.table.nextId = 0xFFFFFF;
  EXPECT_TRUE(assignNewSymbolId(ctx, m.funcSym).ok());
  EXPECT_EQ(ctx.sym.symbolInfo[m.funcSym].newId, 0xFFFFFFu);
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(assignNewSymbolId(ctx, m.objSym).value(), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.sym.symbolInfo[m.objSym].newId, 0u);
  EXPECT_EQ(ctx.con.text,
            "***Error: The new symbol table would have more than 16777215 symbols, more than relocations can name. "
            "Return -1.\n");
}

// The names go to the loader area, 1 GB at most: a name that would end the
// table exactly there still fits, one byte more does not.
TEST(NewSymbolTable, NamesStopAtTheSizeOfTheLoaderArea) {
  for (int32_t over : {0, 1}) {
    LinkedModule m = makeLinkedModule();
    Context ctx;
    readyForIds(ctx, m);
    const int32_t nameBytes = 12;  // "module_main" and its terminator
    ctx.sym.table.newStringsSize = 0x40000000 - nameBytes + over;
    EXPECT_EQ(assignNewSymbolId(ctx, m.funcSym).ok(), over == 0);
    EXPECT_EQ(ctx.con.text, over ? "***Error: The names of the new symbol table would take more than 1 GB, more than "
                                   "the loader area holds. Return -1.\n"
                                 : "");
    EXPECT_EQ(ctx.sym.symbolInfo[m.funcSym].newId, over ? 0u : 4u);
  }
}

TEST(NewSymbolTable, TablesWithFewerThanTwoSymbolsStayAsTheyAre) {
  Module m = makeModule();
  Context ctx;
  loadWithSymbols(ctx, m.b);
  std::string before = tableBytes(ctx, m.symtab);
  rebuild(ctx);
  EXPECT_EQ(ctx.sym.view.symbolCount, 1);
  EXPECT_EQ(tableBytes(ctx, m.symtab), before);
  EXPECT_EQ(ctx.sym.textBase, 0x02000000u) << "sections are classified all the same";
}

// --- Listings ---------------------------------------------------------------------

struct ListingCase {
  const char* label;
  bool v, v2, v3;
  bool table, planned;
};

class Listings : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Listings, NewAndPlannedTables) {
  const ListingCase& c = GetParam();
  LinkedModule m = makeLinkedModule();
  Context ctx;
  ctx.opt.verbose = c.v;
  ctx.opt.verbose2 = c.v2;
  ctx.opt.verbose3 = c.v3;
  loadWithSymbols(ctx, m.b);
  rebuild(ctx);
  std::string table =
      "\nNEW SYMBOL TABLE 5 symbols symtab size = 80 strtab size = 32\n"
      "\nNEW SYMBOL TABLE\n"
      "   1: 0x02000000 local  sect  .text     (1) $TEXT\n"
      "   2: 0x10000000 local  sect  .data     (2) $DATA\n"
      "   3: 0x00000000 global data            (0) $UNDEF\n"
      "   4: 0x02000000 global code  .text     (1) module_main size = 16\n";
  std::string planned =
      "\n\nPLANED SYMBOL TABLE\n"
      "   1: 0x02000000 local  sect  .text     (1) $TEXT\n"
      "   2: 0x10000000 local  sect  .data     (2) $DATA\n"
      "   4|   3: 0x02000000 global code  .text     (1) $TEXT+0x00000000 module_main size = 16\n"
      "        3: export:0 import:0 func:1 code:1 data:0 sect:0 referenced:0 undef:0 new_id:4 use_id:1 "
      "offset:0x00000000\n";
  EXPECT_EQ(ctx.con.text, (c.table ? table : "") + (c.planned ? planned : ""));
}

INSTANTIATE_TEST_SUITE_P(Verbosity, Listings,
                         ::testing::Values(ListingCase{"None", false, false, false, false, false},
                                           ListingCase{"V", true, false, false, false, false},
                                           ListingCase{"V2", false, true, false, true, false},
                                           ListingCase{"V3Alone", false, false, true, false, false},
                                           ListingCase{"V2V3", false, true, true, true, true}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(Listings, OldSymbolPseudoTargetsAndNoBaseSection) {
  LinkedModule m = makeLinkedModule();
  Context ctx;
  loadWithSymbols(ctx, m.b);
  countSectionReferences(ctx);
  ctx.sym.symbolInfo.assign(static_cast<size_t>(ctx.sym.view.symbolCount), SymbolInfo{});
  SymbolInfo& si = ctx.sym.symbolInfo[m.objSym];
  const char* want[] = {"", " $TEXT+0x00000010", " $DATA+0x00000010", " $UNDEF+0x00000010", " s0004+0x00000010"};
  for (uint32_t use = 0; use < 5; ++use) {
    si.useId = use;
    si.offset = 0x10;
    ctx.con.text.clear();
    dumpOldSymbol(ctx, 9, m.objSym);
    std::string line = ctx.con.text.substr(0, ctx.con.text.find('\n') + 1);
    EXPECT_EQ(line, std::string("   9|   4: 0x10000000 global data  .data     (2)") + want[use] +
                        " module_counter size = 4\n");
  }
  // Without a referenced text section, $TEXT lists no section name.
  ctx.con.text.clear();
  ctx.sym.dataBase = 0x10000000;
  ctx.sym.dataSection = m.data;
  si.newId = 0;
  dumpPlannedSymbolTable(ctx);
  EXPECT_EQ(ctx.con.text,
            "\n\nPLANED SYMBOL TABLE\n"
            "   1: 0xffffffff local  sect            (-1) $TEXT\n"
            "   2: 0x10000000 local  sect  .data     (2) $DATA\n");
}

// --- Linked modules ----------------------------------------------------------------

// Every relocation target (symbol value plus addend) of a module as the
// symbol table in use resolves it; entries of type 0 or symbol 0 give none.
std::vector<std::optional<uint32_t>> relocationTargets(Context& ctx) {
  std::vector<std::optional<uint32_t>> out;
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    const Elf32_Shdr& h = ctx.input.sh[i];
    if (h.sh_type != SHT_RELA || h.sh_size == 0) continue;
    Elf32_Rela r;
    for (uint32_t n = 0; readRela(ctx.input, i, n, r); ++n) {
      Elf32_Sym s;
      if (relType(r) == 0 || relSymbol(r) == 0 || !symbolAt(ctx, relSymbol(r), s))
        out.push_back(std::nullopt);
      else
        out.push_back(s.st_value + static_cast<uint32_t>(r.r_addend));
    }
  }
  return out;
}

class CorpusModules : public ::testing::TestWithParam<const char*> {};

// Re-pointing relocations at the pseudo-symbols keeps every target address.
TEST_P(CorpusModules, RelocationTargetsSurviveTheNewTable) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(readWholeFile(std::string(ZV_SOURCE_DIR) + "/tests/corpus/" + GetParam(), bytes));
  Context ctx;
  loadWithSymbols(ctx, std::move(bytes));
  if (uint32_t exp = findExportSection(ctx)) ctx.input.sh[exp].sh_flags &= ~SHF_ALLOC;
  zv::countReferencesAndDropUnused(ctx);
  std::vector<std::optional<uint32_t>> before = relocationTargets(ctx);
  int32_t oldCount = ctx.sym.view.symbolCount;
  ctx.con.text.clear();
  EXPECT_TRUE(buildNewSymbolTable(ctx).ok());
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_LT(ctx.sym.view.symbolCount, oldCount);
  EXPECT_EQ(ctx.input.sh[ctx.sym.view.symtab].sh_size, uint32_t(ctx.sym.view.symbolCount) * 16);
  EXPECT_EQ(tableBytes(ctx, ctx.sym.view.strtab).substr(0, 20), kFixedNames);
  std::vector<std::optional<uint32_t>> after = relocationTargets(ctx);
  ASSERT_EQ(after.size(), before.size());
  size_t resolved = 0;
  for (size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(after[k], before[k]) << "relocation " << k;
    resolved += before[k].has_value();
  }
  EXPECT_GT(resolved, 0u);
}

// A relocation table of many stretches, with bytes of its own between its
// 16-byte entries and a last entry the declared size cuts off, moves out of
// the file's view as it is rewritten, on one thread or in parts on two:
// every target survives, the bytes the entries do not cover stay as they
// were, and the view itself is left untouched.
TEST(NewSymbolTable, LargeRelocationTableLeavesTheViewWithOnlyItsSymbolsChanged) {
  constexpr uint32_t kEntries = 140000;  // two parts of more than 65,536
  Module m = makeModule();
  uint32_t f = addSymbol(
      m.b, {.name = "helper", .value = 0x02000008, .size = 8, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text});
  uint32_t obj = addSymbol(
      m.b,
      {.name = "counter", .value = 0x10000008, .size = 4, .info = stInfo(kStbGlobal, kSttObject), .shndx = m.data});
  uint32_t undef = addSymbol(m.b, {.name = "elsewhere", .info = stInfo(kStbGlobal, kSttNotype)});
  addTextRelocations(m);
  const uint32_t symbols[] = {f, obj, undef};
  const uint8_t types[] = {kRPpcAddr16Ha, kRPpcRel24, kRPpcNone};
  for (uint32_t n = 0; n < kEntries; ++n)
    addReloc(m.b, m.rela, n % 8 * 4, symbols[n % 3], types[n % 5 % 3], static_cast<int32_t>(n % 7));
  m.b.sections[m.rela].entsize = 16;
  m.b.sections[m.rela].hdr.sh_size = kEntries * 16 - 4;  // the last entry is not counted
  std::vector<uint8_t> file = build(m.b);
  uint32_t at = sectionDataOffset(m.b, m.rela);
  for (uint32_t n = 0; n + 1 < kEntries; ++n) std::fill_n(file.begin() + at + n * 16 + 12, 4, uint8_t{0xEE});

  std::vector<uint8_t> rewritten[2];
  for (uint32_t threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    Context ctx;
    ctx.opt.threads = threads;
    loadWithSymbols(ctx, file);
    std::span<uint8_t> view = sectionBytes(ctx.input, m.rela);
    const std::vector<uint8_t> viewed(view.begin(), view.end());
    zv::countReferencesAndDropUnused(ctx);
    std::vector<std::optional<uint32_t>> before = relocationTargets(ctx);
    ctx.con.text.clear();
    ASSERT_TRUE(buildNewSymbolTable(ctx).ok()) << ctx.con.text;
    std::vector<std::optional<uint32_t>> after = relocationTargets(ctx);
    ASSERT_EQ(before.size(), kEntries);  // the last one is read, but not counted in the table
    ASSERT_EQ(after.size(), kEntries);
    EXPECT_TRUE(std::equal(before.begin(), before.end() - 1, after.begin()));
    std::span<uint8_t> own = sectionBytes(ctx.input, m.rela);
    ASSERT_EQ(own.size(), viewed.size());
    EXPECT_NE(own.data(), view.data());
    EXPECT_TRUE(std::equal(view.begin(), view.end(), viewed.begin()));
    for (uint32_t n = 0; n + 1 < kEntries; ++n)
      ASSERT_TRUE(std::equal(own.begin() + n * 16 + 12, own.begin() + n * 16 + 16, viewed.begin() + n * 16 + 12)) << n;
    EXPECT_TRUE(std::equal(own.end() - 12, own.end(), viewed.end() - 12));
    rewritten[threads - 1].assign(own.begin(), own.end());
  }
  EXPECT_EQ(rewritten[0], rewritten[1]);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusModules,
                         ::testing::Values("basic.elf", "codeonly.elf", "imports.elf", "tls.elf", "vkx.elf", "big.elf"),
                         [](const auto& p) {
                           std::string n = p.param;
                           return n.substr(0, n.find('.'));
                         });

}  // namespace
}  // namespace zv::test
