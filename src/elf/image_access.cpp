// Checked access to the contents of an image's sections. Every stage reads
// section bytes, symbols and relocation entries through these functions, so
// none of them can reach past the end of the file or of a table.
#include "elf/image.h"

#include <algorithm>

namespace zv {

static bool ownedAt(const ElfImage& img, uint32_t index) {
  return index < img.isOwned.size() && img.isOwned[index];
}

std::span<uint8_t> sectionBytes(ElfImage& img, uint32_t index) {
  if (!namesSection(img, index)) return {};
  const Elf32_Shdr& h = img.sh[index];
  if (ownedAt(img, index)) {
    auto& buf = img.owned[index];
    return {buf.data(), std::min<size_t>(buf.size(), h.sh_size)};
  }
  if (h.sh_type == SHT_NOBITS || h.sh_size == 0 || h.sh_offset >= img.size) return {};
  uint32_t avail = img.size - h.sh_offset;
  return {img.base + h.sh_offset, std::min(avail, h.sh_size)};
}

std::span<uint8_t> replaceSectionBytes(ElfImage& img, uint32_t index, size_t newSize) {
  if (!namesSection(img, index)) return {};
  std::span<uint8_t> old = sectionBytes(img, index);
  std::vector<uint8_t> buf(newSize, 0);
  std::copy_n(old.begin(), std::min(old.size(), newSize), buf.begin());
  if (img.owned.size() < img.sh.size()) {
    img.owned.resize(img.sh.size());
    img.isOwned.resize(img.sh.size(), 0);
  }
  img.owned[index] = std::move(buf);
  img.isOwned[index] = 1;
  return {img.owned[index].data(), img.owned[index].size()};
}

uint32_t entrySize(const Elf32_Shdr& h, uint32_t dflt) { return h.sh_entsize ? h.sh_entsize : dflt; }

template <typename T>
static uint8_t* entryAt(ElfImage& img, uint32_t section, uint32_t n, uint32_t dflt) {
  if (!namesSection(img, section)) return nullptr;
  std::span<uint8_t> bytes = sectionBytes(img, section);
  uint64_t start = uint64_t(n) * entrySize(img.sh[section], dflt);
  if (start + sizeof(T) > bytes.size()) return nullptr;
  return bytes.data() + start;
}

bool readRela(ElfImage& img, uint32_t section, uint32_t n, Elf32_Rela& out) {
  uint8_t* p = entryAt<Elf32_Rela>(img, section, n, kRelaSize);
  if (!p) return false;
  out = loadRecord<Elf32_Rela>(p);
  return true;
}

bool writeRela(ElfImage& img, uint32_t section, uint32_t n, const Elf32_Rela& r) {
  uint8_t* p = entryAt<Elf32_Rela>(img, section, n, kRelaSize);
  if (!p) return false;
  storeRecord(p, r);
  return true;
}

bool readSym(ElfImage& img, uint32_t section, uint32_t n, Elf32_Sym& out) {
  uint8_t* p = entryAt<Elf32_Sym>(img, section, n, kSymSize);
  if (!p) return false;
  out = loadRecord<Elf32_Sym>(p);
  return true;
}

bool writeSym(ElfImage& img, uint32_t section, uint32_t n, const Elf32_Sym& s) {
  uint8_t* p = entryAt<Elf32_Sym>(img, section, n, kSymSize);
  if (!p) return false;
  storeRecord(p, s);
  return true;
}

}  // namespace zv
