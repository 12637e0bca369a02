// Storage of its own for a section the tool rebuilt larger than the file had
// it. The checked accessors every stage reads sections, symbols and
// relocations through are inline in image.h: they run once per entry of
// tables of a million entries.
#include "elf/image.h"

#include <algorithm>

namespace zv {

std::span<uint8_t> replaceSectionBytes(ElfImage& img, uint32_t index, size_t newSize) {
  if (!namesSection(img, index)) return {};
  std::span<uint8_t> old = sectionBytes(img, index);
  // Copied, then zero-filled past the copy: a large table is written once,
  // into storage of exactly its size.
  FilledVector<uint8_t> buf;
  buf.reserve(newSize);
  buf.assign(old.begin(), old.begin() + std::min(old.size(), newSize));
  buf.resize(newSize, 0);
  if (img.owned.size() < img.sh.size()) {
    img.owned.resize(img.sh.size());
    img.isOwned.resize(img.sh.size(), 0);
  }
  img.owned[index] = std::move(buf);
  img.isOwned[index] = 1;
  return {img.owned[index].data(), img.owned[index].size()};
}

}  // namespace zv
