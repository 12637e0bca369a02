// The module-file reader of the tests: decodes headers, groups, CRC words,
// compressed sections and the FileInfo record with nothing but its own byte
// loads and zlib, and lists every departure from the format.

#include "support/vkm_reader.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace zv::test {

namespace {

constexpr uint32_t kCrcs = 0x80000003, kFileInfo = 0x80000004;
constexpr uint32_t kExports = 0x80000001, kImports = 0x80000002;
constexpr uint32_t kNobits = 8, kSymtab = 2, kRela = 4;
constexpr uint32_t kAlloc = 0x2, kExec = 0x4, kWrite = 0x1, kCompressed = 0x08000000;

struct Bytes {
  const std::vector<uint8_t>& b;
  bool be;
  bool has(uint64_t at, uint64_t len) const { return at <= b.size() && len <= b.size() - at; }
  uint32_t u32(uint64_t at) const {
    if (!has(at, 4)) return 0;
    const uint8_t* p = b.data() + at;
    return be ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
              : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
  }
  uint16_t u16(uint64_t at) const {
    if (!has(at, 2)) return 0;
    const uint8_t* p = b.data() + at;
    return be ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  }
};

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint64_t roundUp64(uint64_t v) { return (v + 63) / 64 * 64; }

std::string fmt(const char* f, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, f, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b),
                static_cast<unsigned long long>(c));
  return buf;
}

uint32_t crcOf(const std::vector<uint8_t>& v) {
  return static_cast<uint32_t>(crc32(0L, v.data(), static_cast<uInt>(v.size())));
}

VkmGroup groupOf(const VkmSection& s, uint32_t index, uint32_t n) {
  if (index + 2 == n) return VkmGroup::kCrcs;
  if (index + 1 == n) return VkmGroup::kFileInfo;
  if (index == 0 || s.size == 0) return VkmGroup::kNone;
  bool alloc = s.flags & kAlloc, exec = s.flags & kExec;
  bool table = s.type == kExports || s.type == kImports;
  if (alloc && !exec && !table && s.addr < 0xC0000000u) return VkmGroup::kData;
  if (alloc && (table || s.addr >= 0xC0000000u)) return VkmGroup::kLoad;
  if (alloc && exec && !table) return VkmGroup::kText;
  return VkmGroup::kTemp;
}

void readHeader(VkmFile& f, const Bytes& in) {
  const auto& b = in.b;
  std::memcpy(f.ident, b.data(), 16);
  if (!(b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F')) f.problems.push_back("bad ELF magic");
  if (f.ident[4] != 1) f.problems.push_back("EI_CLASS is not ELFCLASS32");
  if (f.ident[7] != 0xED) f.problems.push_back(fmt("EI_OSABI is 0x%llX, not 0xED", f.ident[7]));
  if (f.ident[8] != 0xBA) f.problems.push_back(fmt("EI_ABIVERSION is 0x%llX, not 0xBA", f.ident[8]));
  f.type = in.u16(16);
  f.machine = in.u16(18);
  f.version = in.u32(20);
  f.entry = in.u32(24);
  f.phoff = in.u32(28);
  f.shoff = in.u32(32);
  f.flags = in.u32(36);
  f.ehsize = in.u16(40);
  f.phentsize = in.u16(42);
  f.phnum = in.u16(44);
  f.shentsize = in.u16(46);
  f.shnum = in.u16(48);
  f.shstrndx = in.u16(50);
  if (f.type != 0xFE01) f.problems.push_back(fmt("e_type is 0x%llX, not 0xFE01", f.type));
  if (f.phoff || f.phentsize || f.phnum) f.problems.push_back("program header fields are not 0");
  if (f.flags) f.problems.push_back("e_flags is not 0");
  if (f.ehsize != 52) f.problems.push_back(fmt("e_ehsize is %llu", f.ehsize));
  if (f.shoff != 64) f.problems.push_back(fmt("e_shoff is %llu, not 64", f.shoff));
  if (f.shentsize != 40) f.problems.push_back(fmt("e_shentsize is %llu, not 40", f.shentsize));
  for (int i = 52; i < 64; ++i)
    if (b[i]) f.problems.push_back("bytes 52..63 are not zero");
}

void readSections(VkmFile& f, const Bytes& in) {
  uint32_t n = f.shnum;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t at = 64 + 40ull * i;
    VkmSection s{in.u32(at),      in.u32(at + 4),  in.u32(at + 8),  in.u32(at + 12), in.u32(at + 16),
                 in.u32(at + 20), in.u32(at + 24), in.u32(at + 28), in.u32(at + 32), in.u32(at + 36)};
    f.sections.push_back(s);
    f.groups.push_back(groupOf(s, i, n));
  }
  for (int k = 0; k < 40; ++k)
    if (in.b[64 + k]) {
      f.problems.push_back("section header 0 is not all zero");
      break;
    }
}

void checkFixedSections(VkmFile& f) {
  uint32_t n = f.shnum;
  const VkmSection& crc = f.sections[n - 2];
  const VkmSection& fi = f.sections[n - 1];
  uint64_t crcAt = 64 + 40ull * n;
  uint64_t fiAt = roundUp64(64 + 44ull * n);
  if (crc.type != kCrcs || crc.name || crc.flags || crc.addr || crc.offset != crcAt || crc.size != 4 * n || crc.link ||
      crc.info || crc.addralign != 4 || crc.entsize != 4)
    f.problems.push_back("the CRC section header (index n-2) is not as the format says");
  if (fi.type != kFileInfo || fi.name || fi.flags || fi.addr || fi.offset != fiAt || fi.link || fi.info ||
      fi.addralign != 4 || fi.entsize != 0)
    f.problems.push_back("the FileInfo section header (index n-1) is not as the format says");
}

// Unpacks section i and records its contents.
void readContents(VkmFile& f, const Bytes& in, uint32_t i) {
  const VkmSection& s = f.sections[i];
  std::vector<uint8_t>& out = f.contents[i];
  if (s.type == kNobits || s.size == 0) return;
  if (!in.has(s.offset, s.size)) {
    f.problems.push_back(fmt("section %llu lies outside the file", i));
    return;
  }
  const uint8_t* p = in.b.data() + s.offset;
  if (!(s.flags & kCompressed)) {
    out.assign(p, p + s.size);
    return;
  }
  if (s.size < 4) {
    f.problems.push_back(fmt("compressed section %llu is shorter than its size word", i));
    return;
  }
  uint32_t plain = be32(p);
  if (s.size >= plain)
    f.problems.push_back(fmt("compressed section %llu is not smaller (%llu >= %llu)", i, s.size, plain));
  out.assign(plain, 0);
  uLongf len = plain;
  int zr = uncompress(out.data(), &len, p + 4, s.size - 4);
  if (zr != Z_OK || len != plain)
    f.problems.push_back(fmt("section %llu does not uncompress to its size word (zlib %lld)", i, zr));
}

// Where every section must be: the groups in order, each section on the next
// 64-byte boundary, and nothing but zeros in between.
void checkPlacement(VkmFile& f, const Bytes& in) {
  uint32_t n = f.shnum;
  uint64_t fiAt = roundUp64(64 + 44ull * n);
  uint64_t s = roundUp64(fiAt + f.sections[n - 1].size);
  std::vector<uint8_t> covered(in.b.size(), 0);
  auto cover = [&](uint64_t at, uint64_t len) {
    for (uint64_t k = at; k < at + len && k < covered.size(); ++k) covered[k] = 1;
  };
  cover(0, 64 + 44ull * n);
  cover(fiAt, f.sections[n - 1].size);
  for (VkmGroup g : {VkmGroup::kData, VkmGroup::kLoad, VkmGroup::kText, VkmGroup::kTemp}) {
    for (uint32_t i = 1; i + 2 < n; ++i) {
      const VkmSection& sec = f.sections[i];
      if (f.groups[i] != g) continue;
      if (sec.type == kNobits) {
        if (sec.offset != 0) f.problems.push_back(fmt("SHT_NOBITS section %llu has offset %llu", i, sec.offset));
        continue;
      }
      if (g == VkmGroup::kData && !(sec.flags & kWrite))
        f.problems.push_back(fmt("DATA section %llu lacks SHF_WRITE", i));
      if (sec.offset != s) f.problems.push_back(fmt("section %llu is at %llu, expected %llu", i, sec.offset, s));
      cover(sec.offset, sec.size);
      s = roundUp64(uint64_t{sec.offset} + sec.size);
    }
  }
  if (in.b.size() != s) f.problems.push_back(fmt("file size is %llu, expected %llu", in.b.size(), s));
  if (in.b.size() % 64) f.problems.push_back("file size is not a multiple of 64");
  for (uint64_t k = 0; k < covered.size(); ++k)
    if (!covered[k] && in.b[k]) {
      f.problems.push_back(fmt("byte %llu between sections is not zero", k));
      break;
    }
}

void checkCrcs(VkmFile& f, const Bytes& in) {
  uint32_t n = f.shnum;
  uint64_t at = 64 + 40ull * n;
  for (uint32_t i = 0; i < n; ++i) f.crcWords.push_back(in.has(at + 4 * i, 4) ? be32(in.b.data() + at + 4 * i) : 0);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t want = 0;
    if (i + 1 == n)
      want = crcOf(f.fileInfoBytes);
    else if (i != 0 && i + 2 != n && f.sections[i].type != kNobits)
      want = crcOf(f.contents[i]);
    if (f.crcWords[i] != want)
      f.problems.push_back(fmt("CRC word %llu is 0x%llX, expected 0x%llX", i, f.crcWords[i], want));
  }
}

std::string cstring(const std::vector<uint8_t>& v, uint64_t at, uint64_t& next) {
  std::string s;
  while (at < v.size() && v[at]) s.push_back(static_cast<char>(v[at++]));
  next = at + 1;
  return s;
}

void readTags(VkmFile& f, uint64_t at) {
  const std::vector<uint8_t>& r = f.fileInfoBytes;
  for (;;) {
    if (at >= r.size()) {
      f.problems.push_back("the tag list runs past the record");
      return;
    }
    if (r[at] == 0) break;
    std::string name = cstring(r, at, at);
    std::string value = cstring(r, at, at);
    f.info.tags.emplace_back(name, value);
  }
  if (at + 3 > r.size() || r[at + 1] || r[at + 2]) f.problems.push_back("the tag list does not end with three zeros");
  for (uint64_t k = at + 3; k < r.size(); ++k)
    if (r[k]) {
      f.problems.push_back("the record is not zero after the tag list");
      return;
    }
}

void readFileInfo(VkmFile& f, const Bytes& in) {
  const VkmSection& s = f.sections[f.shnum - 1];
  if (!in.has(s.offset, s.size) || s.size < 96) {
    f.problems.push_back("the FileInfo record is missing or shorter than 96 bytes");
    return;
  }
  f.fileInfoBytes.assign(in.b.begin() + s.offset, in.b.begin() + s.offset + s.size);
  const uint8_t* p = f.fileInfoBytes.data();
  VkmFileInfo& fi = f.info;
  uint32_t* words[] = {&fi.magic,      &fi.textSize,   &fi.textAlign,        &fi.dataSize,      &fi.dataAlign,
                       &fi.loadSize,   &fi.loadAlign,  &fi.tempSize,         &fi.trampAdj,      &fi.sdaBase,
                       &fi.sda2Base,   &fi.stackSize,  &fi.fileNameOffset,   &fi.flags,         &fi.heapSize,
                       &fi.tagsOffset, &fi.fixedValue, &fi.compressionLevel, &fi.trampAddition, &fi.trailerSize,
                       &fi.sdkVersion, &fi.sdkRevision};
  for (size_t k = 0; k < std::size(words); ++k) *words[k] = be32(p + 4 * k);
  fi.reserved = be16(p + 0x58);
  fi.tlsAlignShift = be16(p + 0x5A);
  fi.fileInfoAreaSize = be32(p + 0x5C);
  if (fi.magic != 0xEDBA0402) f.problems.push_back("FileInfo magic is wrong");
  if (fi.fixedValue != 0x5078) f.problems.push_back("FileInfo fixedValue is not 0x5078");
  if (fi.fileNameOffset != 0x60) f.problems.push_back("FileInfo fileNameOffset is not 0x60");
  uint64_t next = 0;
  fi.fileName = cstring(f.fileInfoBytes, 0x60, next);
  if (fi.tagsOffset != 0) {
    if (fi.tagsOffset != next) f.problems.push_back("tagsOffset does not follow the file name");
    readTags(f, fi.tagsOffset);
  } else {
    for (uint64_t k = next; k < f.fileInfoBytes.size(); ++k)
      if (f.fileInfoBytes[k]) {
        f.problems.push_back("bytes after the file name without tags are not zero");
        break;
      }
  }
  uint64_t align = fi.loadAlign ? fi.loadAlign : 1;
  if (fi.trailerSize != (s.size - 96 + align - 1) / align * align)
    f.problems.push_back("trailerSize is not E - 96 rounded up to loadAlign");
}

}  // namespace

VkmFile readVkm(const std::vector<uint8_t>& bytes) {
  VkmFile f;
  if (bytes.size() < 64) {
    f.problems.push_back("file shorter than 64 bytes");
    return f;
  }
  f.bigEndian = bytes[5] != 1;
  Bytes in{bytes, f.bigEndian};
  readHeader(f, in);
  if (f.shnum < 3 || !in.has(64, 44ull * f.shnum)) {
    f.problems.push_back("the section table or the CRC words do not fit");
    return f;
  }
  readSections(f, in);
  checkFixedSections(f);
  f.contents.resize(f.shnum);
  for (uint32_t i = 1; i + 2 < f.shnum; ++i) readContents(f, in, i);
  readFileInfo(f, in);
  checkPlacement(f, in);
  checkCrcs(f, in);
  return f;
}

std::string vkmString(const VkmFile& f, uint32_t section, uint32_t offset) {
  if (section >= f.contents.size()) return std::string();
  uint64_t next = 0;
  return cstring(f.contents[section], offset, next);
}

std::string vkmSectionName(const VkmFile& f, uint32_t i) {
  if (f.shstrndx == 0 || i >= f.sections.size()) return std::string();
  return vkmString(f, f.shstrndx, f.sections[i].name);
}

int vkmFindSection(const VkmFile& f, const std::string& name) {
  for (uint32_t i = 1; i < f.sections.size(); ++i)
    if (f.sections[i].size && vkmSectionName(f, i) == name) return static_cast<int>(i);
  return -1;
}

std::vector<VkmSymbol> vkmSymbols(const VkmFile& f, uint32_t section) {
  std::vector<VkmSymbol> out;
  if (section >= f.sections.size() || f.sections[section].type != kSymtab) return out;
  const std::vector<uint8_t>& c = f.contents[section];
  Bytes in{c, f.bigEndian};
  uint32_t step = f.sections[section].entsize ? f.sections[section].entsize : 16;
  for (uint64_t at = 0; at + 16 <= c.size(); at += step)
    out.push_back({in.u32(at), in.u32(at + 4), in.u32(at + 8), c[at + 12], c[at + 13], in.u16(at + 14)});
  return out;
}

std::vector<VkmRela> vkmRelas(const VkmFile& f, uint32_t section) {
  std::vector<VkmRela> out;
  if (section >= f.sections.size() || f.sections[section].type != kRela) return out;
  const std::vector<uint8_t>& c = f.contents[section];
  Bytes in{c, f.bigEndian};
  uint32_t step = f.sections[section].entsize ? f.sections[section].entsize : 12;
  for (uint64_t at = 0; at + 12 <= c.size(); at += step)
    out.push_back({in.u32(at), in.u32(at + 4), static_cast<int32_t>(in.u32(at + 8))});
  return out;
}

}  // namespace zv::test
