// ELF32 records as this tool reads and writes them. The linker's output and
// every file the tool writes are most-significant-byte-first, the build host
// is least-significant-byte-first; the swap routines reverse each record's
// multi-byte fields in place, so the same routine converts in both
// directions. Records are always copied in and out of file bytes with memcpy:
// a file may put a table at any offset, aligned or not.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "platform/compiler.h"

namespace zv {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "host order is assumed least-significant-byte-first");

struct Elf32_Ehdr {
  uint8_t e_ident[16];
  uint16_t e_type;
  uint16_t e_machine;
  uint32_t e_version;
  uint32_t e_entry;
  uint32_t e_phoff;
  uint32_t e_shoff;
  uint32_t e_flags;
  uint16_t e_ehsize;
  uint16_t e_phentsize;
  uint16_t e_phnum;
  uint16_t e_shentsize;
  uint16_t e_shnum;
  uint16_t e_shstrndx;
};
static_assert(sizeof(Elf32_Ehdr) == 52);

struct Elf32_Shdr {
  uint32_t sh_name;
  uint32_t sh_type;
  uint32_t sh_flags;
  uint32_t sh_addr;
  uint32_t sh_offset;
  uint32_t sh_size;
  uint32_t sh_link;
  uint32_t sh_info;
  uint32_t sh_addralign;
  uint32_t sh_entsize;
};
static_assert(sizeof(Elf32_Shdr) == 40);

struct Elf32_Phdr {
  uint32_t p_type;
  uint32_t p_offset;
  uint32_t p_vaddr;
  uint32_t p_paddr;
  uint32_t p_filesz;
  uint32_t p_memsz;
  uint32_t p_flags;
  uint32_t p_align;
};
static_assert(sizeof(Elf32_Phdr) == 32);

struct Elf32_Sym {
  uint32_t st_name;
  uint32_t st_value;
  uint32_t st_size;
  uint8_t st_info;
  uint8_t st_other;
  uint16_t st_shndx;
};
static_assert(sizeof(Elf32_Sym) == 16);

struct Elf32_Rela {
  uint32_t r_offset;
  uint32_t r_info;
  int32_t r_addend;
};
static_assert(sizeof(Elf32_Rela) == 12);

struct Elf32_Rel {
  uint32_t r_offset;
  uint32_t r_info;
};
static_assert(sizeof(Elf32_Rel) == 8);

// Identification bytes.
constexpr int EI_CLASS = 4, EI_DATA = 5, EI_VERSION = 6, EI_OSABI = 7, EI_ABIVERSION = 8;
constexpr uint8_t ELFCLASS32 = 1, ELFDATA2LSB = 1, ELFDATA2MSB = 2;

// Section types.
constexpr uint32_t SHT_NULL = 0, SHT_PROGBITS = 1, SHT_SYMTAB = 2, SHT_STRTAB = 3, SHT_RELA = 4, SHT_NOBITS = 8,
                   SHT_REL = 9;
// The platform's own section types.
constexpr uint32_t SHT_VKM_EXPORTS = 0x80000001;   // export table (.fexports, .dexports)
constexpr uint32_t SHT_VKM_IMPORTS = 0x80000002;   // import table of one imported module
constexpr uint32_t SHT_VKM_CRCS = 0x80000003;      // CRC of every section of an output file
constexpr uint32_t SHT_VKM_FILEINFO = 0x80000004;  // the loader's FileInfo record

// Section flags.
constexpr uint32_t SHF_WRITE = 0x1, SHF_ALLOC = 0x2, SHF_EXECINSTR = 0x4;
constexpr uint32_t SHF_VKM_TLS = 0x04000000;         // thread-local data
constexpr uint32_t SHF_VKM_COMPRESSED = 0x08000000;  // contents are a size word + zlib stream

// Section indexes.
constexpr uint32_t SHN_UNDEF = 0, SHN_LORESERVE = 0xFF00, SHN_ABS = 0xFFF1;

// Symbol types and bindings.
constexpr uint8_t STT_NOTYPE = 0, STT_OBJECT = 1, STT_FUNC = 2, STT_SECTION = 3, STT_FILE = 4, STT_TLS = 6;
constexpr uint8_t STB_LOCAL = 0, STB_GLOBAL = 1, STB_WEAK = 2;
inline uint8_t symType(const Elf32_Sym& s) { return s.st_info & 0xF; }
inline uint8_t symBind(const Elf32_Sym& s) { return s.st_info >> 4; }

// Segment types.
constexpr uint32_t PT_NULL = 0, PT_TLS = 7;

// Relocation fields.
inline uint32_t relSym(uint32_t info) { return info >> 8; }
inline constexpr uint32_t kMaxRelocSymbol = 0xFFFFFF;  // r_info holds the symbol index in 24 bits
inline uint32_t relType(uint32_t info) { return info & 0xFF; }

// Default entry sizes when a header stores 0.
constexpr uint32_t kEhdrSize = 52, kPhdrSize = 32, kShdrSize = 40, kSymSize = 16, kRelaSize = 12, kRelSize = 8;

// --- Byte order ------------------------------------------------------------
inline uint16_t bswap16(uint16_t v) { return byteSwap16(v); }
inline uint32_t bswap32(uint32_t v) { return byteSwap32(v); }

// Reverse the multi-byte fields of one record in place. Applying a routine
// twice gives back the record as it was.
void swapElfHeader(Elf32_Ehdr& h);
void swapSectionHeader(Elf32_Shdr& h);
void swapProgramHeader(Elf32_Phdr& h);
// The table entries are swapped once per entry of tables of a million
// entries, so these three are inline.
inline void swapSymbol(Elf32_Sym& s) {
  s.st_name = bswap32(s.st_name);
  s.st_value = bswap32(s.st_value);
  s.st_size = bswap32(s.st_size);
  s.st_shndx = bswap16(s.st_shndx);
}
inline void swapRela(Elf32_Rela& r) {
  r.r_offset = bswap32(r.r_offset);
  r.r_info = bswap32(r.r_info);
  r.r_addend = static_cast<int32_t>(bswap32(static_cast<uint32_t>(r.r_addend)));
}
inline void swapRel(Elf32_Rel& r) {
  r.r_offset = bswap32(r.r_offset);
  r.r_info = bswap32(r.r_info);
}

// Record <-> bytes. The caller has checked that the bytes exist.
template <typename T>
inline T loadRecord(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
inline void storeRecord(uint8_t* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}

// Table entries: swapped, loaded and stored field by field. Moved as one
// record, an entry goes through the stack and is read back in other pieces
// than it was written, a stall per entry in loops over a million of them.
inline void swapEntry(Elf32_Sym& s) { swapSymbol(s); }
inline void swapEntry(Elf32_Rela& r) { swapRela(r); }
inline void swapEntry(Elf32_Rel& r) { swapRel(r); }
inline void loadEntry(const uint8_t* p, Elf32_Sym& s) {
  std::memcpy(&s.st_name, p, 4);
  std::memcpy(&s.st_value, p + 4, 4);
  std::memcpy(&s.st_size, p + 8, 4);
  s.st_info = p[12];
  s.st_other = p[13];
  std::memcpy(&s.st_shndx, p + 14, 2);
}
inline void loadEntry(const uint8_t* p, Elf32_Rela& r) {
  std::memcpy(&r.r_offset, p, 4);
  std::memcpy(&r.r_info, p + 4, 4);
  std::memcpy(&r.r_addend, p + 8, 4);
}
inline void loadEntry(const uint8_t* p, Elf32_Rel& r) {
  std::memcpy(&r.r_offset, p, 4);
  std::memcpy(&r.r_info, p + 4, 4);
}
inline void storeEntry(uint8_t* p, const Elf32_Sym& s) {
  std::memcpy(p, &s.st_name, 4);
  std::memcpy(p + 4, &s.st_value, 4);
  std::memcpy(p + 8, &s.st_size, 4);
  p[12] = s.st_info;
  p[13] = s.st_other;
  std::memcpy(p + 14, &s.st_shndx, 2);
}
inline void storeEntry(uint8_t* p, const Elf32_Rela& r) {
  std::memcpy(p, &r.r_offset, 4);
  std::memcpy(p + 4, &r.r_info, 4);
  std::memcpy(p + 8, &r.r_addend, 4);
}
inline void storeEntry(uint8_t* p, const Elf32_Rel& r) {
  std::memcpy(p, &r.r_offset, 4);
  std::memcpy(p + 4, &r.r_info, 4);
}

// Host-order and big-endian words at any address.
inline uint32_t load32(const uint8_t* p) { return loadRecord<uint32_t>(p); }
inline void store32(uint8_t* p, uint32_t v) { storeRecord(p, v); }
inline uint32_t loadBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void storeBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline uint16_t loadBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline void storeBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

// Round `v` up to a multiple of the power of two `a` (a >= 1).
inline uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) & ~(a - 1); }
inline bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace zv
