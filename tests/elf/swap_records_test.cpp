// The byte-order routines: each reverses every multi-byte field of its record
// and nothing else, so applying one twice gives the record back.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "elf/elf_types.h"

namespace zv::test {
namespace {

using zv::loadRecord;
using zv::storeRecord;

struct SwapCase {
  std::string name;
  std::function<void(uint8_t*)> swapAt;  // swap the record stored at this address
  size_t size;
  // Byte offsets of the fields in the record, with their widths.
  std::vector<std::pair<size_t, size_t>> fields;
};

void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

template <typename T>
std::function<void(uint8_t*)> swapper(void (*fn)(T&)) {
  return [fn](uint8_t* p) {
    T rec = loadRecord<T>(p);
    fn(rec);
    storeRecord(p, rec);
  };
}

std::vector<std::pair<size_t, size_t>> words(size_t n) {
  std::vector<std::pair<size_t, size_t>> out;
  for (size_t i = 0; i < n; ++i) out.push_back({4 * i, 4});
  return out;
}

std::vector<SwapCase> swapCases() {
  std::vector<std::pair<size_t, size_t>> ehdr;
  for (size_t i = 0; i < 16; ++i) ehdr.push_back({i, 1});
  for (auto f : {std::pair<size_t, size_t>{16, 2},
                 {18, 2},
                 {20, 4},
                 {24, 4},
                 {28, 4},
                 {32, 4},
                 {36, 4},
                 {40, 2},
                 {42, 2},
                 {44, 2},
                 {46, 2},
                 {48, 2},
                 {50, 2}})
    ehdr.push_back(f);
  return {
      {"ElfHeader", swapper(zv::swapElfHeader), 52, ehdr},
      {"SectionHeader", swapper(zv::swapSectionHeader), 40, words(10)},
      {"ProgramHeader", swapper(zv::swapProgramHeader), 32, words(8)},
      {"Symbol", swapper(zv::swapSymbol), 16, {{0, 4}, {4, 4}, {8, 4}, {12, 1}, {13, 1}, {14, 2}}},
      {"Rela", swapper(zv::swapRela), 12, words(3)},
      {"Rel", swapper(zv::swapRel), 8, words(2)},
  };
}

class SwapRecord : public ::testing::TestWithParam<SwapCase> {};

TEST_P(SwapRecord, ReversesEachFieldInPlace) {
  const SwapCase& c = GetParam();
  std::vector<uint8_t> before(c.size);
  for (size_t i = 0; i < c.size; ++i) before[i] = static_cast<uint8_t>(0x11 + 7 * i);
  std::vector<uint8_t> after = before;
  c.swapAt(after.data());
  size_t covered = 0;
  for (auto [off, width] : c.fields) {
    for (size_t k = 0; k < width; ++k) EXPECT_EQ(after[off + k], before[off + width - 1 - k]) << "byte " << off + k;
    covered += width;
  }
  EXPECT_EQ(covered, c.size);
}

TEST_P(SwapRecord, TwiceIsIdentity) {
  const SwapCase& c = GetParam();
  std::vector<uint8_t> bytes(c.size);
  for (size_t i = 0; i < c.size; ++i) bytes[i] = static_cast<uint8_t>(0xF3 - 13 * i);
  std::vector<uint8_t> original = bytes;
  c.swapAt(bytes.data());
  EXPECT_NE(bytes, original);
  c.swapAt(bytes.data());
  EXPECT_EQ(bytes, original);
}

INSTANTIATE_TEST_SUITE_P(SwapRecords, SwapRecord, ::testing::ValuesIn(swapCases()),
                         [](const auto& p) { return p.param.name; });

TEST(SwapRecords, SymbolTypeAndBindingReadTheSame) {
  zv::Elf32_Sym s{.st_name = 1, .st_value = 0x02000000, .st_size = 16, .st_info = 0x12, .st_other = 3, .st_shndx = 1};
  zv::swapSymbol(s);
  EXPECT_EQ(zv::symType(s), zv::STT_FUNC);
  EXPECT_EQ(zv::symBind(s), zv::STB_GLOBAL);
  EXPECT_EQ(s.st_other, 3);
  EXPECT_EQ(s.st_value, 0x00000002u);
  EXPECT_EQ(s.st_shndx, 0x0100);
}

TEST(SwapRecords, ElfHeaderKeepsIdentification) {
  zv::Elf32_Ehdr h{};
  const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 2, 1, 0, 0};
  std::memcpy(h.e_ident, ident, 16);
  h.e_machine = 0x1400;
  h.e_shnum = 0x0700;
  zv::swapElfHeader(h);
  EXPECT_EQ(std::memcmp(h.e_ident, ident, 16), 0);
  EXPECT_EQ(h.e_machine, 20);
  EXPECT_EQ(h.e_shnum, 7);
}

}  // namespace
}  // namespace zv::test
