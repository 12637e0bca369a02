// What a successful parse leaves behind: host-order headers beside the file,
// symbols converted in place and relocations read in host order, relocation
// sections aimed at a null section emptied, compressed sections left alone,
// and section indexes from 0xFF00 up treated as naming no section wherever
// they appear.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "parse_support.h"

namespace zv::test {
namespace {

namespace bad = zv::bad;

// The linked module with a REL section for .data and two segments.
LinkedModule fullModule(bool bigEndian) {
  LinkedModule m = makeLinkedModule(bigEndian);
  uint16_t rel = addRelSection(m.b, ".rel.data", m.data);
  addReloc(m.b, rel, 4, m.funcSym, kRPpcAddr32);
  addProgramHeader(m.b, {.p_type = kPtLoad, .p_offset = 0x60, .p_vaddr = 0x02000000, .p_filesz = 16});
  addProgramHeader(m.b, {.p_type = kPtTls, .p_offset = 0x70, .p_vaddr = 0x10000000, .p_filesz = 8});
  return m;
}

struct Parsed {
  std::vector<uint8_t> bytes;
  zv::ElfImage img;
  zv::Status code;
};

void parseInto(const ElfBuilder& b, Parsed& p) {
  p.bytes = build(b);
  p.code = parseBytes(p.bytes, p.img);
}

std::vector<zv::Elf32_Rel> relEntries(zv::ElfImage& img, uint16_t sec) {
  std::vector<zv::Elf32_Rel> out;
  zv::Elf32_Rel r{};
  for (uint32_t n = 0; zv::readEntry(img, sec, n, r, zv::kRelSize); ++n) out.push_back(r);
  return out;
}

TEST(ParseImage, BothByteOrdersGiveTheSameHostImage) {
  LinkedModule big = fullModule(true), little = fullModule(false);
  Parsed be, le;
  parseInto(big.b, be);
  parseInto(little.b, le);
  ASSERT_TRUE(be.code.ok());
  ASSERT_TRUE(le.code.ok());

  EXPECT_TRUE(be.img.swap);
  EXPECT_FALSE(le.img.swap);
  EXPECT_EQ(be.img.eh.e_ident[zv::EI_DATA], 2);  // the identification is never changed
  EXPECT_EQ(le.img.eh.e_ident[zv::EI_DATA], 1);
  EXPECT_EQ(std::memcmp(&be.img.eh.e_type, &le.img.eh.e_type, sizeof(zv::Elf32_Ehdr) - 16), 0);
  EXPECT_EQ(be.img.eh.e_entry, 0x02000000u);
  EXPECT_EQ(be.img.eh.e_shnum, 8);
  EXPECT_EQ(be.img.eh.e_phnum, 2);

  ASSERT_EQ(be.img.sh.size(), 8u);
  ASSERT_EQ(le.img.sh.size(), 8u);
  EXPECT_EQ(std::memcmp(be.img.sh.data(), le.img.sh.data(), 8 * sizeof(zv::Elf32_Shdr)), 0);
  EXPECT_EQ(be.img.sh[big.data].sh_addr, 0x10000000u);
  EXPECT_EQ(be.img.sh[big.data].sh_offset, sectionDataOffset(big.b, big.data));

  ASSERT_EQ(be.img.ph.size(), 2u);
  ASSERT_EQ(le.img.ph.size(), 2u);
  EXPECT_EQ(std::memcmp(be.img.ph.data(), le.img.ph.data(), 2 * sizeof(zv::Elf32_Phdr)), 0);
  EXPECT_EQ(be.img.ph[1].p_type, kPtTls);
  EXPECT_EQ(be.img.ph[1].p_filesz, 8u);

  for (uint32_t n = 0; n < 5; ++n) {
    zv::Elf32_Sym a{}, b{};
    ASSERT_TRUE(zv::readSym(be.img, big.symtab, n, a));
    ASSERT_TRUE(zv::readSym(le.img, little.symtab, n, b));
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "symbol " << n;
    EXPECT_EQ(a.st_value, big.b.symbols[n].value);
    EXPECT_EQ(a.st_size, big.b.symbols[n].size);
    EXPECT_EQ(a.st_info, big.b.symbols[n].info);
    EXPECT_EQ(a.st_shndx, big.b.symbols[n].shndx);
  }
  zv::Elf32_Rela ra{}, rb{};
  ASSERT_TRUE(zv::readRela(be.img, big.relaText, 0, ra));
  ASSERT_TRUE(zv::readRela(le.img, little.relaText, 0, rb));
  EXPECT_EQ(std::memcmp(&ra, &rb, sizeof ra), 0);
  EXPECT_EQ(ra.r_offset, 2u);
  EXPECT_EQ(ra.r_info, rInfo(big.objSym, kRPpcAddr16Ha));

  std::vector<zv::Elf32_Rel> relBe = relEntries(be.img, 6), relLe = relEntries(le.img, 6);
  ASSERT_EQ(relBe.size(), 1u);
  ASSERT_EQ(relLe.size(), 1u);
  EXPECT_EQ(relBe[0].r_offset, 4u);
  EXPECT_EQ(relBe[0].r_info, rInfo(big.funcSym, kRPpcAddr32));
  EXPECT_EQ(std::memcmp(&relBe[0], &relLe[0], sizeof relBe[0]), 0);
}

TEST(ParseImage, SectionHeaderZeroAndSectionContentsStayAsStored) {
  LinkedModule m = makeLinkedModule(true);
  std::vector<uint8_t> bytes = build(m.b);
  putShdr(m.b, bytes, 0, shdr_at::sh_info, 1);  // big-endian 1
  std::vector<uint8_t> before = bytes;
  zv::ElfImage img;
  ASSERT_EQ(parseBytes(bytes, img).value(), 0u);
  EXPECT_EQ(img.sh[0].sh_info, 0x01000000u);
  // Headers are converted only in the image's copies; the file's header
  // bytes and the .text words are unchanged.
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + zv::kEhdrSize, bytes.begin()));
  uint32_t shoff = layoutOf(m.b).shoff;
  EXPECT_TRUE(std::equal(before.begin() + shoff, before.end(), bytes.begin() + shoff));
  EXPECT_EQ(get32(bytes, sectionDataOffset(m.b, m.text)), 0x3C600000u);
}

// A relocation table stays in the view in the file's order (its readers
// swap), marked to be copied when its symbols are renumbered; a table whose
// bytes another section also shows is converted where it lies, so that
// section sees the converted entries, and is never copied.
TEST(ParseImage, RelocationTablesStayInTheViewConvertedOnlyWhenShared) {
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "alone");
    LinkedModule m = makeLinkedModule(true);
    uint16_t extra = addProgbits(m.b, ".note.extra", 0, 0, std::vector<uint8_t>(12, 0xEE));
    std::vector<uint8_t> bytes = build(m.b);
    uint32_t rela = sectionDataOffset(m.b, m.relaText);
    if (shared) putShdr(m.b, bytes, extra, shdr_at::sh_offset, rela + 4);  // inside the first entry
    const std::vector<uint8_t> stored(bytes.begin() + rela, bytes.begin() + rela + 12);
    zv::ElfImage img;
    ASSERT_EQ(parseBytes(bytes, img).value(), 0u);
    zv::Elf32_Rela r{};
    ASSERT_TRUE(zv::readRela(img, m.relaText, 0, r));
    EXPECT_EQ(r.r_info, rInfo(m.objSym, kRPpcAddr16Ha));
    EXPECT_EQ(zv::sectionBytes(img, m.relaText).data(), bytes.data() + rela);
    // Only a table no other section shows may leave the view when it is rewritten.
    EXPECT_EQ(img.copiedWhenRewritten[m.relaText], shared ? 0 : 1);
    const std::vector<uint8_t> viewed(bytes.begin() + rela, bytes.begin() + rela + 12);
    if (shared) {
      EXPECT_EQ(zv::sectionBytes(img, extra).data(), bytes.data() + rela + 4);
      EXPECT_EQ(get32(bytes, rela + 4, false), r.r_info);  // converted to host order (little-endian) in the view
    } else {
      EXPECT_EQ(viewed, stored);
      EXPECT_EQ(get32(bytes, rela + 4), r.r_info);  // still as stored, big-endian
    }
  }
}

TEST(ParseImage, NoProgramHeadersWithoutATableOffset) {
  LinkedModule m = makeLinkedModule(true);
  m.b.ehdr.e_phnum = 5;
  Parsed p;
  parseInto(m.b, p);
  ASSERT_EQ(p.code.value(), 0u);
  EXPECT_EQ(p.img.eh.e_phnum, 5);
  EXPECT_TRUE(p.img.ph.empty());
}

TEST(ParseImage, EntrySizesDefaultToTheRecordSizes) {
  LinkedModule m = makeLinkedModule(true);
  m.b.ehdr.e_shentsize = 0;
  m.b.ehdr.e_phentsize = 0;
  m.b.ehdr.e_ehsize = 0;
  addProgramHeader(m.b, {.p_offset = 0x80, .p_filesz = 4});
  Parsed p;
  parseInto(m.b, p);
  ASSERT_EQ(p.code.value(), 0u);
  EXPECT_EQ(p.img.shentsize, 40u);
  EXPECT_EQ(p.img.phentsize, 32u);
  ASSERT_EQ(p.img.sh.size(), 7u);
  EXPECT_EQ(p.img.sh[m.text].sh_addr, 0x02000000u);
  ASSERT_EQ(p.img.ph.size(), 1u);
  EXPECT_EQ(p.img.ph[0].p_offset, 0x80u);
}

TEST(ParseImage, RelaAimedAtNullSectionIsEmptied) {
  LinkedModule m = makeLinkedModule(true);
  Section& rela = m.b.sections[m.relaText];
  rela.info = 0;
  rela.relocs = {Reloc{}, Reloc{.r_offset = 8, .r_info = rInfo(2, kRPpcAddr32)}};
  Parsed p;
  parseInto(m.b, p);
  ASSERT_EQ(p.code.value(), 0u);
  EXPECT_EQ(p.img.sh[m.relaText].sh_size, 0u);
  EXPECT_TRUE(p.img.emptyNullRelaSeen);
  // The entries are not converted: the second one still reads big-endian.
  EXPECT_EQ(get32(p.bytes, sectionDataOffset(m.b, m.relaText) + 12), 8u);
}

TEST(ParseImage, OrdinaryImageSeesNoEmptiedRela) {
  Parsed p;
  parseInto(makeLinkedModule(true).b, p);
  ASSERT_EQ(p.code.value(), 0u);
  EXPECT_FALSE(p.img.emptyNullRelaSeen);
  EXPECT_EQ(p.img.sh[5].sh_size, 12u);
}

TEST(ParseImage, ReparsingAfterFailureStartsAfresh) {
  LinkedModule m = makeLinkedModule(true);
  m.b.sections[m.relaText].info = 0;
  m.b.sections[m.relaText].relocs = {Reloc{}};
  Parsed p;
  parseInto(m.b, p);
  ASSERT_TRUE(p.img.emptyNullRelaSeen);
  std::vector<uint8_t> junk = {0x7F, 'E', 'L', 'F'};
  junk.resize(300);
  EXPECT_EQ(parseBytes(junk, p.img), bad::kClass);
  EXPECT_FALSE(p.img.emptyNullRelaSeen);
  EXPECT_TRUE(p.img.sh.empty());
}

// --- Compressed sections ---------------------------------------------------

struct CompressedCase {
  std::string name;
  zv::Status code;
  std::function<void(LinkedModule&)> describe;
  std::function<void(const LinkedModule&, std::vector<uint8_t>&)> patch = nullptr;
};

void PrintTo(const CompressedCase& c, std::ostream* os) { *os << c.name; }

// Marks the symbol table compressed and says it holds `count` symbols. The
// size word in front of compressed contents is big-endian in every file.
CompressedCase compressedSymtab(std::string name, zv::Status code, uint32_t count) {
  return {std::move(name), code,
          [](LinkedModule& m) {
            m.b.sections[m.symtab].flags = kShfVkmCompressed;
            m.b.symbols[m.funcSym].size = 100;  // would be refused if walked
          },
          [count](const LinkedModule& m, std::vector<uint8_t>& bytes) {
            put32(bytes, sectionDataOffset(m.b, m.symtab), count * kSymSize, /*bigEndian=*/true);
          }};
}

// A module whose section-name table is compressed and says it is `length` long.
CompressedCase compressedNames(std::string name, zv::Status code, uint32_t length,
                               std::function<void(LinkedModule&, uint16_t)> more = nullptr) {
  return {std::move(name), code,
          [more](LinkedModule& m) {
            uint16_t names = addShstrtab(m.b);
            m.b.sections[names].flags = kShfVkmCompressed;
            if (more) more(m, names);
          },
          [length](const LinkedModule& m, std::vector<uint8_t>& bytes) {
            uint16_t names = findSection(m.b, ".shstrtab");
            if (length) put32(bytes, sectionDataOffset(m.b, names), length, /*bigEndian=*/true);
          }};
}

const std::vector<CompressedCase>& compressedCases() {
  static const std::vector<CompressedCase> kCases = {
      compressedSymtab("SymtabNotWalked", {}, 5),
      compressedSymtab("SymtabCountFromFirstWord", bad::kRelaSym, 4),
      {"SymtabWordOutsideFileMeansNoSymbols", bad::kRelaSym,
       [](LinkedModule& m) {
         Section& s = m.b.sections[m.symtab];
         s.flags = kShfVkmCompressed;
         s.hdr.sh_size = 0;
         s.hdr.sh_offset = 0xFFFFFFFE;
       }},
      {"RelaNotWalked",
       {},
       [](LinkedModule& m) {
         Section& s = m.b.sections[m.relaText];
         s.flags = kShfVkmCompressed;
         s.link = 99;
         s.hdr.sh_entsize = 1;
       }},
      compressedNames("NameLengthFromFirstWord", {}, 1000,
                      [](LinkedModule& m, uint16_t) { m.b.sections[m.text].hdr.sh_name = 500; }),
      compressedNames("NameBeyondFirstWord", bad::kSecName, 2),
      compressedNames("NameWordOutsideFile", bad::kSecName, 0,
                      [](LinkedModule& m, uint16_t names) {
                        m.b.sections[names].hdr.sh_size = 0;
                        m.b.sections[names].hdr.sh_offset = layoutOf(m.b).fileSize - 2;
                      }),
  };
  return kCases;
}

class ParseCompressed : public ::testing::TestWithParam<std::tuple<CompressedCase, bool>> {};

TEST_P(ParseCompressed, IsNotWalked) {
  const auto& [c, bigEndian] = GetParam();
  LinkedModule m = makeLinkedModule(bigEndian);
  c.describe(m);
  std::vector<uint8_t> bytes = build(m.b);
  if (c.patch) c.patch(m, bytes);
  std::vector<uint8_t> symbolsBefore(bytes.begin() + symbolOffset(m.b, 0),
                                     bytes.begin() + symbolOffset(m.b, 0) + 5 * kSymSize);
  zv::ElfImage img;
  EXPECT_EQ(hex(parseBytes(bytes, img)), hex(c.code));
  if (c.code.ok() && (m.b.sections[m.symtab].flags & kShfVkmCompressed)) {
    EXPECT_TRUE(std::equal(symbolsBefore.begin(), symbolsBefore.end(), bytes.begin() + symbolOffset(m.b, 0)));
  }
}

INSTANTIATE_TEST_SUITE_P(ParseCompressedSections, ParseCompressed,
                         ::testing::Combine(::testing::ValuesIn(compressedCases()), ::testing::Bool()),
                         [](const auto& p) {
                           return std::get<0>(p.param).name + (std::get<1>(p.param) ? "_BE" : "_LE");
                         });

// --- Section indexes from 0xFF00 up ------------------------------------------

// A module with a REL section whose section header table is lengthened with
// empty (all-zero) headers until index 0xFF00 exists; what that section is,
// is set per case. The table is the last thing in the file.
struct HighIndexFile {
  LinkedModule m;
  uint32_t shoff = 0;
  std::vector<uint8_t> bytes;

  void setField(std::vector<uint8_t>& out, uint16_t section, uint32_t field, uint32_t v) const {
    put32(out, shoff + section * kShdrSize + field, v);
  }
};

const HighIndexFile& highIndexFile() {
  static const HighIndexFile kF = [] {
    HighIndexFile h{makeLinkedModule(true), 0, {}};
    uint16_t rel = addRelSection(h.m.b, ".rel.data", h.m.data);
    addReloc(h.m.b, rel, 0, h.m.objSym, kRPpcAddr32);
    h.m.b.minSize = 0;
    h.shoff = layoutOf(h.m.b).shoff;
    h.bytes = build(h.m.b);
    constexpr uint32_t kSections = 0xFF01;
    h.bytes.resize(h.shoff + kSections * kShdrSize, 0);
    put16(h.bytes, ehdr_at::e_shnum, kSections);
    return h;
  }();
  return kF;
}

using HighPatch = std::function<void(const HighIndexFile&, std::vector<uint8_t>&)>;

struct HighCase {
  std::string name;
  zv::Status code;
  uint32_t highType;  // type of section 0xFF00
  HighPatch patch;
};

void PrintTo(const HighCase& c, std::ostream* os) { *os << c.name; }

// Points a header field of one section (3 .symtab, 5 .rela.text, 6 .rel.data)
// at section 0xFF00.
HighPatch aimAtHigh(uint16_t section, uint32_t field) {
  return [section, field](const HighIndexFile& f, std::vector<uint8_t>& bytes) {
    f.setField(bytes, section, field, 0xFF00);
  };
}

class ParseHighIndex : public ::testing::TestWithParam<HighCase> {};

TEST_P(ParseHighIndex, NamesNoSection) {
  const HighCase& c = GetParam();
  const HighIndexFile& f = highIndexFile();
  std::vector<uint8_t> bytes = f.bytes;
  f.setField(bytes, 0xFF00, shdr_at::sh_type, c.highType);
  if (c.patch) c.patch(f, bytes);
  zv::ElfImage img;
  EXPECT_EQ(hex(parseBytes(bytes, img)), hex(c.code));
}

INSTANTIATE_TEST_SUITE_P(
    ParseReservedIndexes, ParseHighIndex,
    ::testing::Values(HighCase{"FileIsValid", {}, kShtSymtab, nullptr},
                      HighCase{"SymtabLink", bad::kSymLink, kShtStrtab, aimAtHigh(3, shdr_at::sh_link)},
                      HighCase{"RelaLink", bad::kRelaLink, kShtSymtab, aimAtHigh(5, shdr_at::sh_link)},
                      HighCase{"RelaInfo", bad::kRelaInfo, kShtProgbits, aimAtHigh(5, shdr_at::sh_info)},
                      HighCase{"RelLink", bad::kRelLink, kShtSymtab, aimAtHigh(6, shdr_at::sh_link)},
                      HighCase{"RelInfo", bad::kRelInfo, kShtProgbits, aimAtHigh(6, shdr_at::sh_info)},
                      HighCase{"Shstrndx", bad::kShstrndx, kShtStrtab,
                               [](const HighIndexFile&, std::vector<uint8_t>& bytes) {
                                 put16(bytes, ehdr_at::e_shstrndx, 0xFF00);
                               }}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace zv::test
