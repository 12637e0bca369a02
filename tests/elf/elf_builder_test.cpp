// Checks of the test ELF maker itself: the files it builds must say, in
// their headers, where their pieces really are, in either byte order, and an
// override must change exactly the field it names. Everything is read back
// with the maker's own get16/get32 and the field offsets of the ELF32 records.

#include "support/elf_builder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace zv::test {
namespace {

// The zero-terminated string at `offset`, never reading past the image.
std::string cstringAt(const std::vector<uint8_t>& img, uint64_t offset) {
  std::string s;
  while (offset < img.size() && img[offset] != 0) s.push_back(static_cast<char>(img[offset++]));
  return s;
}

// The name of section i, looked up through e_shstrndx as a reader would.
std::string sectionName(const std::vector<uint8_t>& img, uint32_t i, bool be) {
  uint32_t shoff = get32(img, ehdr_at::e_shoff, be);
  uint32_t strndx = get16(img, ehdr_at::e_shstrndx, be);
  uint32_t names = get32(img, shoff + strndx * kShdrSize + shdr_at::sh_offset, be);
  return cstringAt(img, names + get32(img, shoff + i * kShdrSize + shdr_at::sh_name, be));
}

class BuilderByteOrder : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(BothOrders, BuilderByteOrder, ::testing::Values(true, false),
                         [](const auto& p) { return std::string(p.param ? "Big" : "Little"); });

TEST_P(BuilderByteOrder, LinkedModuleHeaderDescribesTheFile) {
  bool be = GetParam();
  LinkedModule m = makeLinkedModule(be);
  std::vector<uint8_t> img = build(m.b);

  EXPECT_GE(img.size(), 261u);
  EXPECT_EQ(img[0], 0x7F);
  EXPECT_EQ(cstringAt(img, 1).substr(0, 3), "ELF");
  EXPECT_EQ(img[ehdr_at::ei_class], 1);
  EXPECT_EQ(img[ehdr_at::ei_data], be ? 2 : 1);
  EXPECT_EQ(img[ehdr_at::ei_version], 1);
  EXPECT_EQ(get16(img, ehdr_at::e_type, be), 2);
  EXPECT_EQ(get16(img, ehdr_at::e_machine, be), 20);
  EXPECT_EQ(get32(img, ehdr_at::e_version, be), 1u);
  EXPECT_EQ(get32(img, ehdr_at::e_entry, be), 0x02000000u);
  EXPECT_EQ(get32(img, ehdr_at::e_phoff, be), 0u);
  EXPECT_EQ(get16(img, ehdr_at::e_ehsize, be), 52);
  EXPECT_EQ(get16(img, ehdr_at::e_phentsize, be), 32);
  EXPECT_EQ(get16(img, ehdr_at::e_shentsize, be), 40);
  EXPECT_EQ(get16(img, ehdr_at::e_shnum, be), 7);
  EXPECT_EQ(get16(img, ehdr_at::e_shstrndx, be), 6);

  uint32_t shoff = get32(img, ehdr_at::e_shoff, be);
  EXPECT_EQ(shoff % 4, 0u);
  EXPECT_EQ(uint64_t{shoff} + 7 * kShdrSize, img.size());  // the table comes last
  const char* names[] = {"", ".text", ".data", ".symtab", ".strtab", ".rela.text", ".shstrtab"};
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(sectionName(img, i, be), names[i]) << "section " << i;
    EXPECT_EQ(sectionHeaderOffset(m.b, static_cast<uint16_t>(i)), shoff + i * kShdrSize);
  }
}

TEST_P(BuilderByteOrder, LinkedModuleContentsLandWhereHeadersSay) {
  bool be = GetParam();
  LinkedModule m = makeLinkedModule(be);
  std::vector<uint8_t> img = build(m.b);
  auto shdr = [&](uint16_t sec, uint32_t field) { return get32(img, sectionHeaderOffset(m.b, sec) + field, be); };

  uint32_t text = shdr(m.text, shdr_at::sh_offset);
  EXPECT_EQ(text, sectionDataOffset(m.b, m.text));
  EXPECT_EQ(shdr(m.text, shdr_at::sh_size), 16u);
  EXPECT_EQ(shdr(m.text, shdr_at::sh_addr), 0x02000000u);
  EXPECT_EQ(shdr(m.text, shdr_at::sh_flags), kShfAlloc | kShfExecInstr);
  EXPECT_EQ(get32(img, text + 8, be), 0x4E800020u);  // blr

  EXPECT_EQ(shdr(m.symtab, shdr_at::sh_type), kShtSymtab);
  EXPECT_EQ(shdr(m.symtab, shdr_at::sh_link), m.strtab);
  EXPECT_EQ(shdr(m.symtab, shdr_at::sh_info), 3u);  // two section symbols are local
  EXPECT_EQ(shdr(m.symtab, shdr_at::sh_size), 5 * kSymSize);
  EXPECT_EQ(shdr(m.symtab, shdr_at::sh_entsize), kSymSize);
  uint32_t strings = shdr(m.strtab, shdr_at::sh_offset);
  uint32_t func = symbolOffset(m.b, m.funcSym);
  EXPECT_EQ(func, shdr(m.symtab, shdr_at::sh_offset) + m.funcSym * kSymSize);
  EXPECT_EQ(cstringAt(img, strings + get32(img, func + sym_at::st_name, be)), "module_main");
  EXPECT_EQ(get32(img, func + sym_at::st_value, be), 0x02000000u);
  EXPECT_EQ(img[func + sym_at::st_info], 0x12);
  EXPECT_EQ(get16(img, func + sym_at::st_shndx, be), m.text);
  uint32_t textSym = symbolOffset(m.b, m.textSym);
  EXPECT_EQ(img[textSym + sym_at::st_info], 0x03);
  EXPECT_EQ(get32(img, textSym + sym_at::st_name, be), 0u);

  EXPECT_EQ(shdr(m.relaText, shdr_at::sh_type), kShtRela);
  EXPECT_EQ(shdr(m.relaText, shdr_at::sh_link), m.symtab);
  EXPECT_EQ(shdr(m.relaText, shdr_at::sh_info), m.text);
  EXPECT_EQ(shdr(m.relaText, shdr_at::sh_size), kRelaSize);
  uint32_t rela = shdr(m.relaText, shdr_at::sh_offset);
  EXPECT_EQ(get32(img, rela + rel_at::r_offset, be), 2u);
  EXPECT_EQ(get32(img, rela + rel_at::r_info, be), (m.objSym << 8) | 6u);
}

TEST_P(BuilderByteOrder, RelSectionsAndWidenedEntriesAreSpaced) {
  bool be = GetParam();
  ElfBuilder b;
  b.bigEndian = be;
  uint16_t text = addProgbits(b, ".text", kShfAlloc, 0x02000000, std::vector<uint8_t>(8), 4);
  uint16_t symtab = addSymtab(b);
  b.sections[symtab].entsize = 24;
  addSymbol(b, {.name = "a", .shndx = text});
  uint32_t second = addSymbol(b, {.name = "b", .value = 0x1234, .shndx = text});
  uint16_t rel = addRelSection(b, ".rel.text", text);
  addReloc(b, rel, 4, second, kRPpcAddr32, 99);
  addReloc(b, rel, 0, 1, kRPpcRel24);
  std::vector<uint8_t> img = build(b);

  uint32_t symData = sectionDataOffset(b, symtab);
  EXPECT_EQ(symbolOffset(b, second), symData + 2 * 24);
  EXPECT_EQ(get32(img, symData + 2 * 24 + sym_at::st_value, be), 0x1234u);
  EXPECT_EQ(get32(img, sectionHeaderOffset(b, symtab) + shdr_at::sh_size, be), 3 * 24u);

  uint32_t relData = sectionDataOffset(b, rel);
  uint32_t relHdr = sectionHeaderOffset(b, rel);
  EXPECT_EQ(get32(img, relHdr + shdr_at::sh_type, be), kShtRel);
  EXPECT_EQ(get32(img, relHdr + shdr_at::sh_size, be), 2 * kRelSize);
  EXPECT_EQ(get32(img, relData + rel_at::r_info, be), rInfo(second, kRPpcAddr32));
  EXPECT_EQ(get32(img, relData + kRelSize + rel_at::r_info, be), (1u << 8) | 10u);
}

TEST(ElfBuilder, ContentsAreAlignedAndNobitsTakesNoRoom) {
  ElfBuilder b;
  b.autoShstrtab = false;
  b.minSize = 0;
  uint16_t one = addProgbits(b, ".a", kShfAlloc, 0, {1, 2, 3}, 1);
  uint16_t bss = addNobits(b, ".bss", kShfAlloc | kShfWrite, 0x10000000, 0x400, 8);
  uint16_t two = addProgbits(b, ".b", kShfAlloc, 0, {4}, 16);
  std::vector<uint8_t> img = build(b);

  EXPECT_EQ(sectionDataOffset(b, one), 52u);
  EXPECT_EQ(sectionDataOffset(b, bss), 56u);
  EXPECT_EQ(sectionDataOffset(b, two), 64u);
  EXPECT_EQ(img[64], 4);
  EXPECT_EQ(get32(img, sectionHeaderOffset(b, bss) + shdr_at::sh_size), 0x400u);
  EXPECT_EQ(get32(img, ehdr_at::e_shoff), 68u);
  EXPECT_EQ(get16(img, ehdr_at::e_shstrndx), 0);
  EXPECT_EQ(img.size(), 68u + 4 * kShdrSize);  // no padding with minSize 0

  b.minSize = 512;
  img = build(b);
  EXPECT_EQ(img.size(), 512u);
  EXPECT_EQ(get32(img, ehdr_at::e_shoff), 68u);
}

TEST(ElfBuilder, ProgramHeadersFollowTheElfHeader) {
  ElfBuilder b;
  uint16_t tls = addProgbits(b, ".tdata", kShfAlloc | kShfVkmTls, 0x10000100, {9, 9, 9, 9}, 4);
  addProgramHeader(b, {.p_type = kPtLoad, .p_filesz = 1});
  uint32_t second = addProgramHeader(b, {.p_type = kPtTls, .p_vaddr = 0x10000100, .p_align = 8});
  b.phdrs[second].p_offset = sectionDataOffset(b, tls);
  std::vector<uint8_t> img = build(b);

  EXPECT_EQ(get32(img, ehdr_at::e_phoff), 52u);
  EXPECT_EQ(get16(img, ehdr_at::e_phnum), 2);
  EXPECT_EQ(programHeaderOffset(b, second), 52u + kPhdrSize);
  uint32_t ph = programHeaderOffset(b, second);
  EXPECT_EQ(get32(img, ph + phdr_at::p_type), kPtTls);
  EXPECT_EQ(get32(img, ph + phdr_at::p_vaddr), 0x10000100u);
  EXPECT_EQ(get32(img, ph + phdr_at::p_align), 8u);
  EXPECT_EQ(sectionDataOffset(b, tls), 52u + 2 * kPhdrSize);
  EXPECT_EQ(img[get32(img, ph + phdr_at::p_offset)], 9);
}

// Each ELF header override, with the field it lands in.
struct EhdrCase {
  const char* name;
  void (*apply)(EhdrOverrides&);
  uint32_t offset;
  int width;
  uint32_t value;
};

const EhdrCase kEhdrCases[] = {
    {"ident_class", [](EhdrOverrides& o) { o.e_ident[4] = 2; }, 4, 1, 2},
    {"ident_data", [](EhdrOverrides& o) { o.e_ident[5] = 1; }, 5, 1, 1},
    {"ident_magic", [](EhdrOverrides& o) { o.e_ident[0] = 0x7E; }, 0, 1, 0x7E},
    {"e_type", [](EhdrOverrides& o) { o.e_type = 1; }, 16, 2, 1},
    {"e_machine", [](EhdrOverrides& o) { o.e_machine = 0; }, 18, 2, 0},
    {"e_version", [](EhdrOverrides& o) { o.e_version = 2; }, 20, 4, 2},
    {"e_entry", [](EhdrOverrides& o) { o.e_entry = 0xDEADBEEF; }, 24, 4, 0xDEADBEEF},
    {"e_phoff", [](EhdrOverrides& o) { o.e_phoff = 40; }, 28, 4, 40},
    {"e_shoff", [](EhdrOverrides& o) { o.e_shoff = 0x10000; }, 32, 4, 0x10000},
    {"e_flags", [](EhdrOverrides& o) { o.e_flags = 0x80000000; }, 36, 4, 0x80000000},
    {"e_ehsize", [](EhdrOverrides& o) { o.e_ehsize = 0; }, 40, 2, 0},
    {"e_phentsize", [](EhdrOverrides& o) { o.e_phentsize = 0; }, 42, 2, 0},
    {"e_phnum", [](EhdrOverrides& o) { o.e_phnum = 3; }, 44, 2, 3},
    {"e_shentsize", [](EhdrOverrides& o) { o.e_shentsize = 44; }, 46, 2, 44},
    {"e_shnum", [](EhdrOverrides& o) { o.e_shnum = 0; }, 48, 2, 0},
    {"e_shstrndx", [](EhdrOverrides& o) { o.e_shstrndx = 99; }, 50, 2, 99},
};

void PrintTo(const EhdrCase& c, std::ostream* os) { *os << c.name; }

class BuilderEhdrOverride : public ::testing::TestWithParam<EhdrCase> {};

INSTANTIATE_TEST_SUITE_P(EveryField, BuilderEhdrOverride, ::testing::ValuesIn(kEhdrCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(BuilderEhdrOverride, ReplacesOnlyItsField) {
  const EhdrCase& c = GetParam();
  LinkedModule m = makeLinkedModule();
  std::vector<uint8_t> plain = build(m.b);
  c.apply(m.b.ehdr);
  std::vector<uint8_t> bent = build(m.b);

  ASSERT_EQ(bent.size(), plain.size());
  uint32_t got = c.width == 1 ? bent[c.offset] : c.width == 2 ? get16(bent, c.offset) : get32(bent, c.offset);
  EXPECT_EQ(got, c.value);
  for (uint32_t i = 0; i < plain.size(); ++i) {
    if (i >= c.offset && i < c.offset + static_cast<uint32_t>(c.width)) continue;
    ASSERT_EQ(bent[i], plain[i]) << "byte " << i;
  }
}

TEST(ElfBuilder, SectionHeaderOverridesLieButPlacementMoves) {
  LinkedModule m = makeLinkedModule();
  uint32_t before = sectionDataOffset(m.b, m.data);
  m.b.sections[m.data].hdr.sh_offset = 8;
  m.b.sections[m.data].hdr.sh_size = 0x1000;
  m.b.sections[m.symtab].hdr.sh_info = 1;
  m.b.sections[m.symtab].hdr.sh_entsize = 8;
  m.b.sections[0].hdr.sh_type = 5;
  std::vector<uint8_t> img = build(m.b);

  uint32_t dataHdr = sectionHeaderOffset(m.b, m.data);
  EXPECT_EQ(get32(img, dataHdr + shdr_at::sh_offset), 8u);
  EXPECT_EQ(get32(img, dataHdr + shdr_at::sh_size), 0x1000u);
  EXPECT_EQ(sectionDataOffset(m.b, m.data), before);
  EXPECT_EQ(get32(img, before), 0x2Au);  // the bytes did not move
  uint32_t symHdr = sectionHeaderOffset(m.b, m.symtab);
  EXPECT_EQ(get32(img, symHdr + shdr_at::sh_info), 1u);
  EXPECT_EQ(get32(img, symHdr + shdr_at::sh_entsize), 8u);
  EXPECT_EQ(symbolOffset(m.b, 1), sectionDataOffset(m.b, m.symtab) + kSymSize);
  EXPECT_EQ(get32(img, sectionHeaderOffset(m.b, 0) + shdr_at::sh_type), 5u);

  m.b.sections[m.data].placeAt = 400;
  img = build(m.b);
  EXPECT_EQ(sectionDataOffset(m.b, m.data), 400u);
  EXPECT_EQ(get32(img, 400), 0x2Au);
}

TEST(ElfBuilder, TableOffsetsAndSymbolNamesCanBeForced) {
  LinkedModule m = makeLinkedModule();
  m.b.shdrTableAt = 1000;
  m.b.symbols[m.objSym].st_name = 0x7777;
  m.b.minSize = 0;
  std::vector<uint8_t> img = build(m.b);

  EXPECT_EQ(get32(img, ehdr_at::e_shoff), 1000u);
  EXPECT_EQ(img.size(), 1000u + 7 * kShdrSize);
  EXPECT_EQ(get32(img, symbolOffset(m.b, m.objSym) + sym_at::st_name), 0x7777u);
}

TEST(ElfBuilder, PutAndGetHonourByteOrderAndBounds) {
  std::vector<uint8_t> bytes(8, 0);
  put32(bytes, 0, 0x11223344);
  put32(bytes, 4, 0x11223344, false);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x44, 0x33, 0x22, 0x11}));
  put16(bytes, 6, 0xA1B2, false);
  EXPECT_EQ(get16(bytes, 6), 0xB2A1);
  EXPECT_EQ(get32(bytes, 4, false), 0xA1B23344u);
  EXPECT_EQ(words32({0x01020304}, false), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_THROW(get32(bytes, 5), std::out_of_range);
  EXPECT_THROW(put16(bytes, 7, 1), std::out_of_range);
  EXPECT_THROW(get16(bytes, UINT64_MAX), std::out_of_range);
}

}  // namespace
}  // namespace zv::test
