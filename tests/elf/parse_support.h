// Small helpers shared by the parser and loader tests: parse a built file
// held in a byte vector, and name the codes so a failing test says which
// fault it expected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf/image.h"
#include "support/elf_builder.h"
#include "support/status_print.h"

namespace zv::test {

inline zv::Status parseBytes(std::vector<uint8_t>& bytes, zv::ElfImage& img) {
  return zv::parseElfImage(bytes.data(), static_cast<uint32_t>(bytes.size()), img);
}

// Section i's header field in a built image, in the image's own order.
inline void putShdr(const ElfBuilder& b, std::vector<uint8_t>& bytes, uint16_t i, uint32_t field, uint32_t v) {
  put32(bytes, sectionHeaderOffset(b, i) + field, v, b.bigEndian);
}

}  // namespace zv::test
