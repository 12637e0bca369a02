// Storage of its own for a section the tool rebuilt larger than the file had
// it. The checked accessors every stage reads sections, symbols and
// relocations through are inline in image.h: they run once per entry of
// tables of a million entries.
#include "elf/image.h"

#include <algorithm>

namespace zv {

namespace {

std::span<uint8_t> install(ElfImage& img, uint32_t index, SectionStorage storage) {
  if (img.owned.size() < img.sh.size()) {
    img.owned.resize(img.sh.size());
    img.isOwned.resize(img.sh.size(), 0);
  }
  img.owned[index] = std::move(storage);
  img.isOwned[index] = 1;
  return {img.owned[index].data(), img.owned[index].size()};
}

}  // namespace

std::span<uint8_t> giveSectionStorage(ElfImage& img, uint32_t index, size_t size) {
  if (!namesSection(img, index)) return {};
  return install(img, index, SectionStorage(size));
}

std::span<uint8_t> replaceSectionBytes(ElfImage& img, uint32_t index, size_t newSize) {
  if (!namesSection(img, index)) return {};
  std::span<uint8_t> old = sectionBytes(img, index);
  // Copied, then zero-filled past the copy: a large table is written once,
  // into storage of exactly its size.
  SectionStorage storage(newSize);
  size_t kept = std::min(old.size(), newSize);
  std::copy_n(old.begin(), kept, storage.data());
  std::fill(storage.data() + kept, storage.data() + newSize, uint8_t{0});
  return install(img, index, std::move(storage));
}

}  // namespace zv
