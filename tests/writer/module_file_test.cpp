// The module file the writer produces for small modules, read back with the
// tests' own module-file reader: the fixed places of the header, table, CRC
// words and FileInfo record, the order of the groups, 64-byte placement,
// zero-filled sections, compression and its limits, renumbered sections and
// symbols, and the file passing the read-back check of the driver.

#include <gtest/gtest.h>

#include <random>

#include "writer_fixture.h"

namespace zv::test {
namespace {

constexpr uint32_t kCompressedFlag = 0x08000000;

// The module of the test ELF maker: .text, .data, .symtab, .strtab,
// .rela.text, .shstrtab — six kept sections.
TEST(ModuleFile, LinkedModuleFollowsTheFormat) {
  SdkRoot root;
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);
  EXPECT_TRUE(f.bigEndian);
  EXPECT_EQ(f.shnum, 9);
  EXPECT_EQ(f.sections[7].offset, 64u + 40 * 9);
  EXPECT_EQ(f.sections[8].offset, 512u);  // 64 + 44 * 9 = 460, rounded up
  EXPECT_EQ(f.machine, 20);
  EXPECT_EQ(f.entry, 0x02000000u);
  EXPECT_EQ(vkmSectionName(f, f.shstrndx), ".shstrtab");
  EXPECT_EQ(f.groups[vkmFindSection(f, ".data")], VkmGroup::kData);
  EXPECT_EQ(f.groups[vkmFindSection(f, ".symtab")], VkmGroup::kLoad);
  EXPECT_EQ(f.groups[vkmFindSection(f, ".text")], VkmGroup::kText);
  EXPECT_EQ(f.groups[vkmFindSection(f, ".rela.text")], VkmGroup::kTemp);
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

TEST(ModuleFile, FileInfoDefaults) {
  SdkRoot root;
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFileInfo& fi = run.vkm.info;
  EXPECT_EQ(fi.fileName, "build/mod.vkm");
  EXPECT_EQ(fi.tagsOffset, 0u);
  EXPECT_TRUE(fi.tags.empty());
  EXPECT_EQ(fi.flags, 0u);
  EXPECT_EQ(fi.compressionLevel, 0xFFFFFFFFu);
  EXPECT_EQ(fi.stackSize, 0x10000u);
  EXPECT_EQ(fi.heapSize, 0x8000u);
  EXPECT_EQ(fi.sdaBase, 0x8000u);
  EXPECT_EQ(fi.sda2Base, 0x8000u);
  EXPECT_EQ(fi.sdkVersion, 0u);
  EXPECT_EQ(fi.fileInfoAreaSize, 0u);
  EXPECT_EQ(fi.dataSize, 8u);  // .data: 8 bytes from the DATA base
  // The root's length sets the padding behind the file name (no tags: no list end).
  size_t r = root.dir.path.size();
  uint32_t padding = r < 84 ? static_cast<uint32_t>(84 - r) : 0;
  EXPECT_EQ(run.vkm.sections.back().size, std::string(kOutputPath).size() + padding + 97);
}

TEST(ModuleFile, NineKeptSectionsPutCrcsAt544AndFileInfoAt640) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addData(m.b, ".data1", 0x10000100, std::vector<uint8_t>(20, 1));
  addData(m.b, ".data2", 0x10000200, std::vector<uint8_t>(20, 2));
  addData(m.b, ".data3", 0x10000300, std::vector<uint8_t>(20, 3));
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  ASSERT_EQ(run.vkm.shnum, 12);
  EXPECT_EQ(run.vkm.sections[10].offset, 544u);
  EXPECT_EQ(run.vkm.sections[11].offset, 640u);
}

TEST(ModuleFile, LittleEndianInputKeepsItsOrder) {
  SdkRoot root;
  zv::Context ctx;
  LinkedModule m = makeLinkedModule(false);
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_FALSE(run.vkm.bigEndian);
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  int text = vkmFindSection(run.vkm, ".text");
  ASSERT_GT(text, 0);
  // The code bytes travel as they were; only headers and tables follow EI_DATA.
  std::vector<uint8_t> code(m.b.sections[m.text].data);
  EXPECT_EQ(run.vkm.contents[text], code);
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

// Relocation sections and the symbol table point at the new section numbers,
// and their entries are back in the file's byte order.
TEST(ModuleFile, LinksAndSymbolsAreRenumbered) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  // An unused comment section before everything else shifts every number down.
  Section comment{.name = ".comment", .type = kShtProgbits, .data = {'h', 'i', 0}};
  m.b.sections.insert(m.b.sections.begin() + 1, comment);
  for (Symbol& s : m.b.symbols)
    if (s.shndx) ++s.shndx;
  for (Section& s : m.b.sections) {
    if (s.type == kShtRela) s.info += 1;
    if (s.link) s.link += 1;
  }
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);
  EXPECT_EQ(vkmFindSection(f, ".comment"), -1);
  int rela = vkmFindSection(f, ".rela.text"), symtab = vkmFindSection(f, ".symtab");
  int strtab = vkmFindSection(f, ".strtab"), text = vkmFindSection(f, ".text");
  ASSERT_GT(rela, 0);
  ASSERT_GT(symtab, 0);
  EXPECT_EQ(f.sections[rela].link, static_cast<uint32_t>(symtab));
  EXPECT_EQ(f.sections[rela].info, static_cast<uint32_t>(text));
  EXPECT_EQ(f.sections[symtab].link, static_cast<uint32_t>(strtab));
  std::vector<VkmSymbol> syms = vkmSymbols(f, symtab);
  ASSERT_GE(syms.size(), 4u);
  EXPECT_EQ(vkmString(f, strtab, syms[1].name), "$TEXT");
  EXPECT_EQ(syms[1].shndx, text);  // the old .text number 2 became 1
  std::vector<VkmRela> relas = vkmRelas(f, rela);
  ASSERT_EQ(relas.size(), 1u);
  EXPECT_EQ(relas[0].offset, 2u);
  EXPECT_EQ(relas[0].info & 0xFF, kRPpcAddr16Ha);
  EXPECT_LT(relas[0].info >> 8, syms.size());
}

// A relocation section without a symbol table link is not checked, but its
// entries are converted like the others and come out in the file's order.
TEST(ModuleFile, RelocationsWithoutSymbolTableLinkKeepTheirValues) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t extra = addRelaSection(m.b, ".rela.extra", m.data);
  addReloc(m.b, extra, 0x10000004, m.objSym, kRPpcAddr32, 0x112233);
  m.b.sections[extra].link = 0;
  const uint32_t objValue = m.b.symbols[m.objSym].value;
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);
  int rela = vkmFindSection(f, ".rela.extra");
  ASSERT_GT(rela, 0);
  std::vector<VkmRela> relas = vkmRelas(f, rela);
  ASSERT_EQ(relas.size(), 1u);
  EXPECT_EQ(relas[0].offset, 0x10000004u);
  EXPECT_EQ(relas[0].info & 0xFF, kRPpcAddr32);
  // The data symbol is carried by $DATA (entry 2), its offset moved into the addend.
  EXPECT_EQ(relas[0].info >> 8, 2u);
  EXPECT_EQ(relas[0].addend, static_cast<int32_t>(0x112233 + objValue - 0x10000000));
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

// A section symbol that a relocation uses keeps its entry even when its
// section is empty and dropped; the output says "no section" for it.
TEST(ModuleFile, SymbolOfDroppedSectionGetsFFFF) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t empty = addData(m.b, ".empty", 0x10000100, {});
  uint32_t sym = addSymbol(m.b, {.value = 0x10000100, .info = stInfo(kStbLocal, kSttSection), .shndx = empty});
  uint16_t rela = addRelaSection(m.b, ".rela.data", m.data);
  addReloc(m.b, rela, 0x10000000, sym, kRPpcAddr32);
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  int symtab = vkmFindSection(run.vkm, ".symtab");
  int ffff = 0;
  for (const VkmSymbol& s : vkmSymbols(run.vkm, symtab)) ffff += s.shndx == 0xFFFF;
  EXPECT_EQ(ffff, 1);
}

TEST(ModuleFile, BssTakesNoRoomAndHasNoCrc) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t bss = addNobits(m.b, ".bss", kShfAlloc | kShfWrite, 0x10000010, 0x400);
  addData(m.b, ".data2", 0x10000800, std::vector<uint8_t>(100, 7));
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);  // the reader checks where .data2 lies
  int b = vkmFindSection(f, ".bss");
  ASSERT_GT(b, 0);
  EXPECT_EQ(f.sections[b].offset, 0u);
  EXPECT_EQ(f.sections[b].size, 0x400u);
  EXPECT_EQ(f.crcWords[b], 0u);
  EXPECT_EQ(f.sections[b].flags & kShfWrite, kShfWrite);
  (void)bss;
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

// Every DATA section with contents is writable in the module, whatever the
// input said.
TEST(ModuleFile, DataSectionsBecomeWritable) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addProgbits(m.b, ".rodata", kShfAlloc, 0x10000100, std::vector<uint8_t>(16, 3));
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  int ro = vkmFindSection(run.vkm, ".rodata");
  ASSERT_GT(ro, 0);
  EXPECT_EQ(run.vkm.sections[ro].flags & kShfWrite, kShfWrite);
}

struct CompressionCase {
  const char* label;
  uint32_t size;
  bool compressOn;
  bool expectCompressed;
};

class Compression : public ::testing::TestWithParam<CompressionCase> {};

INSTANTIATE_TEST_SUITE_P(Sizes, Compression,
                         ::testing::Values(CompressionCase{"Bytes31", 31, true, false},
                                           CompressionCase{"Bytes32", 32, true, true},
                                           CompressionCase{"Bytes4096", 4096, true, true},
                                           CompressionCase{"Off4096", 4096, false, false}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(Compression, ZerosCompressFromThirtyTwoBytesUp) {
  const CompressionCase& c = GetParam();
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addData(m.b, ".zeros", 0x10000100, std::vector<uint8_t>(c.size, 0));
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  ctx.opt.compress = c.compressOn;
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);  // size word, stream, CRC of the plain bytes
  int z = vkmFindSection(f, ".zeros");
  ASSERT_GT(z, 0);
  EXPECT_EQ((f.sections[z].flags & kCompressedFlag) != 0, c.expectCompressed);
  EXPECT_EQ(f.contents[z], std::vector<uint8_t>(c.size, 0));
  if (c.expectCompressed) {
    EXPECT_LT(f.sections[z].size, c.size);
    EXPECT_EQ(get32(ctx.outputBytes, f.sections[z].offset), c.size);
  } else {
    EXPECT_EQ(f.sections[z].size, c.size);
  }
  if (!c.compressOn) {
    for (const VkmSection& s : f.sections) EXPECT_EQ(s.flags & kCompressedFlag, 0u);
    EXPECT_EQ(ctx.wr.compressedTempTotal, 0u);
  }
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

TEST(ModuleFile, CompressionLevelIsRecorded) {
  SdkRoot root;
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  ctx.opt.compressLevel = 9;
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_EQ(run.vkm.info.compressionLevel, 9u);
}

// Random bytes do not compress; a stream larger than the room behind the
// size word means "does not pay", not a failure.
TEST(ModuleFile, IncompressibleSectionStaysPlain) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  std::vector<uint8_t> noise(8u << 20);
  std::mt19937 gen(1234);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(gen());
  addData(m.b, ".noise", 0x10001000, noise);
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  int s = vkmFindSection(run.vkm, ".noise");
  ASSERT_GT(s, 0);
  EXPECT_EQ(run.vkm.sections[s].flags & kCompressedFlag, 0u);
  EXPECT_EQ(run.vkm.sections[s].size, noise.size());
  EXPECT_EQ(run.vkm.contents[s], noise);
}

TEST(ModuleFile, ModuleWithoutDataPassesTheReadBack) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  // Code and zero-filled data only: no section in the DATA group has contents.
  m.b.sections[m.data].type = kShtNobits;
  m.b.sections[m.data].nobitsSize = 8;
  m.b.sections[m.data].data.clear();
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  EXPECT_TRUE(zv::reloadGeneratedFile(ctx).ok()) << ctx.con.text;
}

// An allocated SHT_REL section reaches the module with its links renumbered
// and its entries in the file's byte order.
TEST(ModuleFile, AllocatedRelSectionIsRenumberedAndInFileOrder) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t rel = addRelSection(m.b, ".rel.data", m.data);
  addReloc(m.b, rel, 4, m.objSym, kRPpcAddr32);
  m.b.sections[rel].flags = kShfAlloc;
  m.b.sections[rel].addr = 0x10000100;
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  int r = vkmFindSection(f, ".rel.data");
  ASSERT_GT(r, 0);
  EXPECT_EQ(f.sections[r].link, static_cast<uint32_t>(vkmFindSection(f, ".symtab")));
  EXPECT_EQ(f.sections[r].info, static_cast<uint32_t>(vkmFindSection(f, ".data")));
  ASSERT_EQ(f.contents[r].size(), 8u);
  EXPECT_EQ(get32(f.contents[r], 0), 4u);
  EXPECT_EQ(get32(f.contents[r], 4), rInfo(m.objSym, kRPpcAddr32));
}

// Section 0's header is read as stored and never checked, so a damaged file
// can aim it at a relocation table; stripping then compacts that "string
// table" through it. A table section 0 shows leaves the file's view at once,
// so the module keeps the relocations as the linker wrote them.
TEST(ModuleFile, RelocationTableThatSectionZeroShowsKeepsItsEntries) {
  for (bool rel : {false, true}) {
    SCOPED_TRACE(rel ? ".rel.data" : ".rela.text");
    SdkRoot root;
    LinkedModule m = makeLinkedModule();
    uint16_t table = m.relaText;
    if (rel) {
      table = addRelSection(m.b, ".rel.data", m.data);
      addReloc(m.b, table, 4, m.objSym, kRPpcAddr32);
      m.b.sections[table].flags = kShfAlloc;
      m.b.sections[table].addr = 0x10000100;
    }
    std::vector<uint8_t> elf = build(m.b);
    uint32_t at = sectionDataOffset(m.b, table);
    uint32_t size = get32(elf, sectionHeaderOffset(m.b, table) + shdr_at::sh_size);
    const std::vector<uint8_t> entries(elf.begin() + at, elf.begin() + at + size);
    uint64_t zero = sectionHeaderOffset(m.b, 0);
    put32(elf, zero + shdr_at::sh_type, kShtStrtab, false);  // in the host's order, as it is read
    put32(elf, zero + shdr_at::sh_offset, at, false);
    put32(elf, zero + shdr_at::sh_size, size, false);
    zv::Context ctx;
    loadModule(ctx, elf);
    ctx.opt.newSymbolTable = false;
    ctx.opt.stripStrings = true;
    WriterRun run = runWriter(ctx);
    ASSERT_EQ(run.result, 0u) << ctx.con.text;
    int r = vkmFindSection(run.vkm, rel ? ".rel.data" : ".rela.text");
    ASSERT_GT(r, 0);
    EXPECT_EQ(run.vkm.contents[static_cast<size_t>(r)], entries);
  }
}

}  // namespace
}  // namespace zv::test
