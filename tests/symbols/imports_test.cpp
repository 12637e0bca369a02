// Layout of an import section: the section symbol takes the section's
// address, each imported symbol an 8-byte slot after it in symbol-table
// order, and the section starts with the number of imports and the CRC-32
// of their names. The expected signatures are zlib's CRC-32 of byte strings
// spelled out in each case.

#include <gtest/gtest.h>

#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "support/elf_builder.h"
#include "symbols/symbols.h"
#include "symbol_test_image.h"

namespace zv::test {
namespace {

constexpr uint32_t kAddress = 0xC0001000;

struct ImportCase {
  const char* label;
  bool sectionSymbol;
  std::vector<std::string> names;  // imported symbols, in symbol-table order
  std::string module;              // the name at offset 8
  size_t contentsSize;             // the section's bytes in the input
  bool bigEndian;
  std::vector<uint32_t> slots;  // each import's offset from the section address
  std::string signedBytes;      // what the signature is the CRC-32 of
  uint32_t size;                // the section's size afterwards
  bool shareFirstName = false;  // later imports point at the first one's name
};

std::string bytes(const char* s, size_t n) { return std::string(s, n); }
const std::string kPad(14, '\0');

class ImportSection : public ::testing::TestWithParam<ImportCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportSection,
    ::testing::Values(
        ImportCase{"ThreeImportsAndAShortName",
                   true,
                   {"alpha", "beta", "gamma"},
                   "sys",
                   16,
                   true,
                   {8, 16, 24},
                   bytes("alpha\0beta\0gamma\0", 17) + kPad,
                   32},
        ImportCase{"SameInALittleEndianFile",
                   true,
                   {"alpha", "beta", "gamma"},
                   "sys",
                   16,
                   false,
                   {8, 16, 24},
                   bytes("alpha\0beta\0gamma\0", 17) + kPad,
                   32},
        // Symbols that share one name in the string table: it is hashed once, counted each time.
        ImportCase{"SharedNameCountsForEachSymbol",
                   true,
                   {"alpha", "alpha", "alpha"},
                   "sys",
                   16,
                   true,
                   {8, 16, 24},
                   bytes("alpha\0alpha\0alpha\0", 18) + kPad,
                   32,
                   true},
        ImportCase{"SymbolOrderNotNameOrder",
                   true,
                   {"gamma", "alpha", "beta"},
                   "sys",
                   16,
                   true,
                   {8, 16, 24},
                   bytes("gamma\0alpha\0beta\0", 17) + kPad,
                   32},
        ImportCase{"NoImportsAndATwentyCharacterName", true, {}, "abcdefghijklmnopqrst", 29, true, {}, kPad, 32},
        ImportCase{"NoSectionSymbolStartsAtTheAddress",
                   false,
                   {"alpha", "beta"},
                   "m",
                   16,
                   true,
                   {0, 8},
                   bytes("alpha\0beta\0", 11) + kPad,
                   16},
        ImportCase{"ContentsShorterThanTheHeader", false, {"x"}, "", 4, true, {0}, bytes("x\0", 2) + kPad, 16},
        ImportCase{"UnterminatedNameAtTheEnd", true, {}, "abcd", 12, true, {}, kPad, 16},
        ImportCase{"SlotsLargerThanTheName",
                   true,
                   {"a", "b", "c", "d", "e"},
                   "lib",
                   48,
                   true,
                   {8, 16, 24, 32, 40},
                   bytes("a\0b\0c\0d\0e\0", 10) + kPad,
                   48}),
    [](const auto& p) { return std::string(p.param.label); });

uint32_t word(std::span<const uint8_t> b, size_t at, bool bigEndian) {
  return bigEndian ? uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3]
                   : uint32_t(b[at + 3]) << 24 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 1]) << 8 | b[at];
}

TEST_P(ImportSection, GetsSlotsCountSignatureAndSize) {
  const ImportCase& c = GetParam();
  ElfBuilder b;
  b.bigEndian = c.bigEndian;
  uint16_t text = addProgbits(b, ".text", kShfAlloc | kShfExecInstr, 0x02000000, std::vector<uint8_t>(16));
  std::vector<uint8_t> contents(8, 0);
  contents.insert(contents.end(), c.module.begin(), c.module.end());
  contents.push_back(0);
  contents.resize(c.contentsSize, 0);
  uint16_t k = addSection(b, Section{.name = ".imports.sys",
                                     .type = kShtVkmImports,
                                     .flags = kShfAlloc | kShfWrite,
                                     .addralign = 4,
                                     .data = contents});
  addSymtab(b);
  uint32_t other = addSymbol(
      b, {.name = "local_fn", .value = 0x02000000, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = text});
  uint32_t sect = c.sectionSymbol ? addSymbol(b, {.info = stInfo(kStbLocal, kSttSection), .shndx = k}) : 0;
  std::vector<uint32_t> imports;
  std::optional<uint32_t> shared;
  for (const std::string& n : c.names) {
    imports.push_back(addSymbol(b, {.name = n, .info = stInfo(kStbGlobal, kSttNotype), .shndx = k, .st_name = shared}));
    if (c.shareFirstName && !shared)
      shared = get32(build(b), symbolOffset(b, imports.back()) + sym_at::st_name, c.bigEndian);
    addSymbol(b, {.name = "between", .value = 0x02000004, .info = stInfo(kStbLocal, kSttNotype), .shndx = text});
  }
  zv::Context ctx;
  loadWithSymbols(ctx, b);

  zv::layoutImportSection(ctx, k, kAddress);

  zv::Elf32_Sym s{};
  for (size_t i = 0; i < imports.size(); ++i) {
    ASSERT_TRUE(zv::symbolAt(ctx, imports[i], s));
    EXPECT_EQ(s.st_value, kAddress + c.slots[i]) << c.names[i];
  }
  if (c.sectionSymbol) {
    ASSERT_TRUE(zv::symbolAt(ctx, sect, s));
    EXPECT_EQ(s.st_value, kAddress);
  }
  ASSERT_TRUE(zv::symbolAt(ctx, other, s));
  EXPECT_EQ(s.st_value, 0x02000000u);

  const zv::Elf32_Shdr& h = ctx.input.sh[k];
  EXPECT_EQ(h.sh_addr, kAddress);
  EXPECT_EQ(h.sh_size, c.size);
  std::span<uint8_t> out = zv::sectionBytes(ctx.input, k);
  ASSERT_EQ(out.size(), c.size);
  EXPECT_EQ(word(out, 0, c.bigEndian), c.names.size());
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(c.signedBytes.data()), static_cast<uInt>(c.signedBytes.size()));
  EXPECT_EQ(word(out, 4, c.bigEndian), static_cast<uint32_t>(crc));
  std::string module(reinterpret_cast<const char*>(out.data()) + 8);
  EXPECT_EQ(module, c.module);
  EXPECT_EQ(ctx.con.text, "");
}

}  // namespace
}  // namespace zv::test
