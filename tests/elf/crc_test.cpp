// The section CRC against zlib's, the reference every reader of a module
// uses: whichever routine the build and the processor chose, every length
// and alignment gives zlib's value, and a CRC continued over a second piece
// gives the CRC of both.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "elf/crc.h"

namespace zv::test {
namespace {

uint32_t zlibCrc(const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size)));
}

TEST(SectionCrc, MatchesZlibForEveryLengthAndAlignment) {
  std::vector<uint8_t> bytes((1u << 20) + 64);
  uint32_t state = 12345;
  for (uint8_t& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  for (size_t size : {0u, 1u, 3u, 15u, 16u, 17u, 63u, 64u, 65u, 255u, 256u, 4095u, 4096u, 4097u, 1u << 20}) {
    for (size_t at : {0u, 1u, 3u, 8u}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " at " << at);
      EXPECT_EQ(crc32Of(0, bytes.data() + at, size), zlibCrc(bytes.data() + at, size));
      size_t half = size / 2;
      uint32_t first = crc32Of(0, bytes.data() + at, half);
      EXPECT_EQ(crc32Of(first, bytes.data() + at + half, size - half), zlibCrc(bytes.data() + at, size));
    }
  }
}

}  // namespace
}  // namespace zv::test
