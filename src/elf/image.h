// The ELF image: a file's bytes after validation, with the ELF header, the
// section and program headers in host byte order beside it. The symbol
// entries are converted to host order (in storage of their own, or in the
// private copy-on-write view where another section shows the same bytes; the
// file on disk never changes). Relocation entries, a million in a large
// module, stay in the file's order and are swapped as they are read and
// written; only a relocation table whose bytes another section also shows is
// converted like the symbols, so that section sees what it always has.
// Section contents other than symbols and relocations stay in the file's order.
//
// Every access to a table of the file goes through the checked accessors
// here: a section's bytes are clipped to what the file holds, and a section
// whose contents the tool rebuilt larger lives in storage of its own.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "elf/elf_types.h"
#include "platform/platform.h"
#include "platform/status.h"

namespace zv {

// Bytes the tool gave a section in place of the file's: storage filled at
// once (allocateFilledMemory), whose contents are the owner's to write.
class SectionStorage {
 public:
  SectionStorage() = default;
  explicit SectionStorage(size_t size) : data_(static_cast<uint8_t*>(allocateFilledMemory(size))), size_(size) {}
  SectionStorage(SectionStorage&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  SectionStorage& operator=(SectionStorage&& other) noexcept {
    if (this != &other) {
      release();
      data_ = other.data_;
      size_ = other.size_;
      other.data_ = nullptr;
      other.size_ = 0;
    }
    return *this;
  }
  SectionStorage(const SectionStorage&) = delete;
  SectionStorage& operator=(const SectionStorage&) = delete;
  ~SectionStorage() { release(); }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void release() {
    if (data_) releaseFilledMemory(data_, size_);
    data_ = nullptr;
    size_ = 0;
  }
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

struct ElfImage {
  uint8_t* base = nullptr;         // first byte of the file (writable private view)
  uint32_t size = 0;               // file size
  bool swap = false;               // file order differs from host order (EI_DATA != 1)
  Elf32_Ehdr eh{};                 // host order; e_ident as stored
  uint32_t shentsize = kShdrSize;  // stride of the section header table in the file
  uint32_t phentsize = kPhdrSize;  // stride of the program header table in the file
  std::vector<Elf32_Shdr> sh;      // e_shnum headers, host order (entry 0 as stored)
  std::vector<Elf32_Phdr> ph;      // program headers, host order; empty when e_phoff is 0
  bool emptyNullRelaSeen = false;  // a relocation section aimed at a null section was emptied
  bool convertInPlace = true;      // the parse converts tables to host order (not on a read-back)
  std::vector<uint8_t> hostOrder;  // per section: its entries are held in host order, not the file's
  uint32_t threads = 1;            // threads the walks over large relocation tables may use
  // Contents given storage of their own: tables the tool rewrites, and
  // contents it rebuilt larger than the file had them.
  std::vector<SectionStorage> owned;
  std::vector<uint8_t> isOwned;
  // Per section: an SHT_RELA table whose bytes no other section shows, nor
  // section 0's header. It stays in the view until its symbols are
  // renumbered, which writes it into storage of its own (a module kept with
  // its old symbols never copies it).
  std::vector<uint8_t> copiedWhenRewritten;
};

// The failures of a malformed image: 0xBAD000xx codes.
namespace bad {
constexpr Status kSymLink = Status::withValue(0xBAD00001);
constexpr Status kSymLinkType = Status::withValue(0xBAD00002);
constexpr Status kSymTooSmall = Status::withValue(0xBAD00003);
constexpr Status kSymName = Status::withValue(0xBAD00004);
constexpr Status kSymShndx = Status::withValue(0xBAD00005);
constexpr Status kObjInNull = Status::withValue(0xBAD00006);
constexpr Status kObjOutside = Status::withValue(0xBAD00007);
constexpr Status kFuncInNull = Status::withValue(0xBAD00008);
constexpr Status kFuncOutside = Status::withValue(0xBAD00009);
constexpr Status kRelaTooSmall = Status::withValue(0xBAD0000A);
constexpr Status kRelaLink = Status::withValue(0xBAD0000B);
constexpr Status kRelaLinkType = Status::withValue(0xBAD0000C);
constexpr Status kRelaInfo = Status::withValue(0xBAD0000D);
constexpr Status kRelaNull = Status::withValue(0xBAD0000E);
constexpr Status kRelaSym = Status::withValue(0xBAD0000F);
constexpr Status kRelTooSmall = Status::withValue(0xBAD00011);
constexpr Status kRelLink = Status::withValue(0xBAD00012);
constexpr Status kRelLinkType = Status::withValue(0xBAD00013);
constexpr Status kRelInfo = Status::withValue(0xBAD00014);
constexpr Status kRelNull = Status::withValue(0xBAD00015);
constexpr Status kRelSym = Status::withValue(0xBAD00016);
constexpr Status kRelOffset = Status::withValue(0xBAD00017);
constexpr Status kFileTooSmall = Status::withValue(0xBAD00018);
constexpr Status kMagic = Status::withValue(0xBAD00019);
constexpr Status kClass = Status::withValue(0xBAD0001A);
constexpr Status kIdentVersion = Status::withValue(0xBAD0001B);
constexpr Status kMachine = Status::withValue(0xBAD0001C);
constexpr Status kVersion = Status::withValue(0xBAD0001D);
constexpr Status kEhsizeLarge = Status::withValue(0xBAD0001E);
constexpr Status kPhoff = Status::withValue(0xBAD0001F);
constexpr Status kShoff = Status::withValue(0xBAD00020);
constexpr Status kShstrndx = Status::withValue(0xBAD00021);
constexpr Status kPhTable = Status::withValue(0xBAD00022);
constexpr Status kShTable = Status::withValue(0xBAD00023);
constexpr Status kSecInHeader = Status::withValue(0xBAD00024);
constexpr Status kSecPastEnd = Status::withValue(0xBAD00025);
constexpr Status kSecInPh = Status::withValue(0xBAD00026);
constexpr Status kSecInSh = Status::withValue(0xBAD00027);
constexpr Status kSecOverlap = Status::withValue(0xBAD00028);
constexpr Status kSegPastEnd = Status::withValue(0xBAD00029);
constexpr Status kShstrType = Status::withValue(0xBAD0002A);
constexpr Status kSecName = Status::withValue(0xBAD0002B);
constexpr Status kEhsizeSmall = Status::withValue(0xBAD0002C);
constexpr Status kSymEntsize = Status::withValue(0xBAD0002D);
constexpr Status kRelaEntsize = Status::withValue(0xBAD0002E);
constexpr Status kRelaSymEntsize = Status::withValue(0xBAD0002F);
constexpr Status kRelEntsize = Status::withValue(0xBAD00030);
constexpr Status kRelSymEntsize = Status::withValue(0xBAD00031);
constexpr Status kSegOverlap = Status::withValue(0xBAD00032);
}  // namespace bad

// A few words on what a 0xBAD000xx failure means.
const char* badImageReason(Status failure);

// Validation and conversion (a 0xBAD000xx failure; nothing is printed).
Status checkElfHeader(uint8_t* base, uint32_t size, ElfImage& img);
// With `convert` false the tables are checked but their bytes left as they
// are (a read-back of a written file needs nothing more, and its pages are
// then never copied).
Status parseElfImage(uint8_t* base, uint32_t size, ElfImage& img, bool convert = true, uint32_t threads = 1);

// Number of sections, and whether an index names one (0xFF00 and above never do).
inline uint32_t sectionCount(const ElfImage& img) { return static_cast<uint32_t>(img.sh.size()); }
inline bool namesSection(const ElfImage& img, uint32_t index) { return index < SHN_LORESERVE && index < img.sh.size(); }

// The current contents of section `index`: its own storage if the tool gave
// it some, else the file's bytes at sh_offset. At most sh_size bytes, clipped
// to what exists; empty for SHT_NOBITS, an empty section or a bad index.
inline std::span<uint8_t> sectionBytes(ElfImage& img, uint32_t index) {
  if (!namesSection(img, index)) return {};
  const Elf32_Shdr& h = img.sh[index];
  if (index < img.isOwned.size() && img.isOwned[index]) {
    auto& buf = img.owned[index];
    return {buf.data(), buf.size() < h.sh_size ? buf.size() : h.sh_size};
  }
  if (h.sh_type == SHT_NOBITS || h.sh_size == 0 || h.sh_offset >= img.size) return {};
  uint32_t avail = img.size - h.sh_offset;
  return {img.base + h.sh_offset, avail < h.sh_size ? avail : h.sh_size};
}
// Gives section `index` storage of its own of `newSize` bytes: the current
// contents are copied in (as far as they reach) and the rest is zero.
// sh_size is NOT changed; the caller sets it.
std::span<uint8_t> replaceSectionBytes(ElfImage& img, uint32_t index, size_t newSize);
// Gives section `index` storage of its own of `size` bytes, with nothing
// copied in and nothing cleared: for a caller that writes every byte itself.
std::span<uint8_t> giveSectionStorage(ElfImage& img, uint32_t index, size_t size);

// Entry `n` of a relocation or symbol section, in host order as the image
// holds them after the parse. The entry size is the section's sh_entsize
// (or the record size when 0). False when the entry does not lie inside the
// section's bytes.
inline uint32_t entrySize(const Elf32_Shdr& h, uint32_t dflt) { return h.sh_entsize ? h.sh_entsize : dflt; }
template <typename T>
uint8_t* entryAt(ElfImage& img, uint32_t section, uint32_t n, uint32_t dflt) {
  if (!namesSection(img, section)) return nullptr;
  std::span<uint8_t> bytes = sectionBytes(img, section);
  uint64_t start = uint64_t(n) * entrySize(img.sh[section], dflt);
  if (start + sizeof(T) > bytes.size()) return nullptr;
  return bytes.data() + start;
}
// Whether the parse converted the entries of `section` to host order in
// place, and whether they are stored in an order other than the host's, so
// every read and write of one swaps it.
inline bool entriesInHostOrder(const ElfImage& img, uint32_t section) {
  return section < img.hostOrder.size() && img.hostOrder[section];
}
inline bool entriesSwapped(const ElfImage& img, uint32_t section) {
  return img.swap && !entriesInHostOrder(img, section);
}
template <typename T>
bool readEntry(ElfImage& img, uint32_t section, uint32_t n, T& out, uint32_t dflt) {
  uint8_t* p = entryAt<T>(img, section, n, dflt);
  if (!p) return false;
  loadEntry(p, out);
  if (entriesSwapped(img, section)) swapEntry(out);
  return true;
}
template <typename T>
bool writeEntry(ElfImage& img, uint32_t section, uint32_t n, T v, uint32_t dflt) {
  uint8_t* p = entryAt<T>(img, section, n, dflt);
  if (!p) return false;
  if (entriesSwapped(img, section)) swapEntry(v);
  storeEntry(p, v);
  return true;
}
inline bool readRela(ElfImage& img, uint32_t section, uint32_t n, Elf32_Rela& out) {
  return readEntry(img, section, n, out, kRelaSize);
}
inline bool writeRela(ElfImage& img, uint32_t section, uint32_t n, const Elf32_Rela& r) {
  return writeEntry(img, section, n, r, kRelaSize);
}
inline bool readSym(ElfImage& img, uint32_t section, uint32_t n, Elf32_Sym& out) {
  return readEntry(img, section, n, out, kSymSize);
}
inline bool writeSym(ElfImage& img, uint32_t section, uint32_t n, const Elf32_Sym& s) {
  return writeEntry(img, section, n, s, kSymSize);
}

// A table of symbols or relocations resolved once for a whole walk: where its
// bytes are, how far apart its entries lie and how many of them lie wholly
// inside the bytes, so a loop over a table of a million relocations does no
// section lookup and no bounds arithmetic per entry. It stays valid while the
// section keeps its storage (no replaceSectionBytes or giveSectionStorage of
// that section) and its entries their byte order. Entries go in and out in
// host order.
template <typename T>
struct EntryTable {
  uint8_t* data = nullptr;
  size_t stride = 0;
  uint32_t count = 0;  // entries below sh_size / stride that lie inside the bytes
  bool swap = false;   // stored in the other byte order
  T get(uint32_t n) const {
    T v;
    loadEntry(data + n * stride, v);
    if (swap) swapEntry(v);
    return v;
  }
  void put(uint32_t n, T v) const {
    if (swap) swapEntry(v);
    storeEntry(data + n * stride, v);
  }
};
// The entries readRela / readSym would reach in section `section` (none for
// a bad index); `dflt` is the stride when sh_entsize is 0.
template <typename T>
EntryTable<T> entryTable(ElfImage& img, uint32_t section, uint32_t dflt) {
  EntryTable<T> t;
  if (!namesSection(img, section)) return t;
  std::span<uint8_t> bytes = sectionBytes(img, section);
  uint32_t stride = entrySize(img.sh[section], dflt);
  uint64_t declared = img.sh[section].sh_size / stride;
  uint64_t inside = bytes.size() < sizeof(T) ? 0 : (bytes.size() - sizeof(T)) / stride + 1;
  t.data = bytes.data();
  t.stride = stride;
  t.count = static_cast<uint32_t>(declared < inside ? declared : inside);
  t.swap = entriesSwapped(img, section);
  return t;
}
inline EntryTable<Elf32_Rela> relaTable(ElfImage& img, uint32_t section) {
  return entryTable<Elf32_Rela>(img, section, kRelaSize);
}
inline EntryTable<Elf32_Sym> symTable(ElfImage& img, uint32_t section) {
  return entryTable<Elf32_Sym>(img, section, kSymSize);
}

}  // namespace zv

namespace zv {
// Number of whole entries of a table section (entry size from sh_entsize, or `dflt`).
inline uint32_t entryCount(const Elf32_Shdr& h, uint32_t dflt) { return h.sh_size / entrySize(h, dflt); }
}  // namespace zv
