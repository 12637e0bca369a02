// Reading a module file for the viewer. The ELF header and the section
// header table are decoded in the byte order the file names; every section's
// contents are unpacked (a zlib stream behind a big-endian size word when the
// section is marked compressed) and run through CRC-32 as they stream by, so
// only the tables the views decode are kept in memory. Then the CRC words,
// the FileInfo record, the layout check of the converter's read-back and the
// converter's ELF checks are applied, and each fault becomes one line.
#include "dump/module.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "elf/crc.h"
#include "elf/image.h"
#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kMinReadBackSize = 260;  // the converter reads back nothing shorter

bool inFile(std::span<const uint8_t> bytes, uint64_t at, uint64_t len) {
  return at <= bytes.size() && len <= bytes.size() - at;
}

// The zero-terminated string at `at` of `bytes`; false when it is not
// terminated inside them (the part that is there is kept).
bool stringAt(std::span<const uint8_t> bytes, uint64_t at, std::string& out) {
  out.clear();
  if (at >= bytes.size()) return false;
  auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
  auto end = std::find(begin, bytes.end(), uint8_t{0});
  out.assign(begin, end);
  return end != bytes.end();
}

bool keepContents(const Elf32_Shdr& h, uint32_t index, uint32_t shstrndx) {
  return index == shstrndx || h.sh_type == SHT_SYMTAB || h.sh_type == SHT_STRTAB || h.sh_type == SHT_VKM_IMPORTS ||
         h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_CRCS || h.sh_type == SHT_VKM_FILEINFO;
}

// The outcome of unpacking one section's stored bytes.
struct Unpacked {
  bool ok = false;
  std::string fault;  // why not, when not ok
  uint32_t size = 0;  // bytes produced
  uint32_t crc = 0;
};

// Inflates the zlib stream in `stored` (after the size word), at most
// `limit` bytes, feeding CRC-32 and, with `keep`, `out`.
Unpacked inflateSection(std::span<const uint8_t> stored, uint32_t sizeWord, uint64_t limit, bool keep,
                        std::vector<uint8_t>* out) {
  Unpacked u;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    u.fault = "zlib could not be started";
    return u;
  }
  uint8_t chunk[16384];
  z.next_in = const_cast<Bytef*>(stored.data());
  z.avail_in = static_cast<uInt>(stored.size());
  uint64_t produced = 0;
  uint32_t crc = 0;
  int r = Z_OK;
  while (r == Z_OK) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    r = inflate(&z, Z_NO_FLUSH);
    size_t got = sizeof chunk - z.avail_out;
    produced += got;
    if (produced > sizeWord || produced > limit) break;
    crc = crc32Of(crc, chunk, got);
    if (keep) out->insert(out->end(), chunk, chunk + got);
  }
  const char* msg = z.msg;
  uLong consumed = z.total_in;
  inflateEnd(&z);
  if (produced > sizeWord) {
    u.fault = format("unpacks to more than the %u bytes its size word gives", sizeWord);
  } else if (produced > limit) {
    u.fault = "was not unpacked: the sections unpacked so far already fill the limit";
  } else if (r == Z_STREAM_END && produced != sizeWord) {
    u.fault =
        format("unpacks to %llu bytes, its size word gives %u", static_cast<unsigned long long>(produced), sizeWord);
  } else if (r == Z_STREAM_END && consumed != stored.size()) {
    u.fault = format("%llu stored bytes follow the end of its zlib stream",
                     static_cast<unsigned long long>(stored.size() - consumed));
  } else if (r == Z_BUF_ERROR) {  // no progress with fresh output room: the input ran out
    u.fault = "its zlib stream is cut short";
  } else if (r != Z_STREAM_END) {
    u.fault = format("its zlib stream is damaged (%s)", msg ? msg : "zlib error");
  } else {
    u.ok = true;
  }
  u.size = static_cast<uint32_t>(std::min<uint64_t>(produced, sizeWord));
  u.crc = static_cast<uint32_t>(crc);
  return u;
}

// Unpacks section `s` from the file into `out` (when `keep`), checking that
// its bytes lie in the file. `budget` is what may still be unpacked.
Unpacked unpackSection(std::span<const uint8_t> bytes, const ModuleSection& s, uint64_t budget, bool keep,
                       std::vector<uint8_t>* out) {
  Unpacked u;
  const Elf32_Shdr& h = s.h;
  if (h.sh_type == SHT_NOBITS || h.sh_size == 0) {
    u.ok = true;
    u.crc = 0;
    return u;
  }
  if (!inFile(bytes, h.sh_offset, h.sh_size)) {
    u.fault = format("contents at 0x%08X, 0x%X bytes, run past the end of the file (0x%llX bytes)", h.sh_offset,
                     h.sh_size, static_cast<unsigned long long>(bytes.size()));
    return u;
  }
  std::span<const uint8_t> stored = bytes.subspan(h.sh_offset, h.sh_size);
  if (!s.compressed) {
    if (keep) out->assign(stored.begin(), stored.end());
    u.ok = true;
    u.size = h.sh_size;
    u.crc = crc32Of(0, stored.data(), stored.size());
    return u;
  }
  if (h.sh_size < 4) {
    u.fault = format("is marked compressed but its %u stored bytes cannot hold the size word", h.sh_size);
    return u;
  }
  return inflateSection(stored.subspan(4), loadBE32(stored.data()), budget, keep, out);
}

// --- Header and section table -------------------------------------------------

std::string readHeader(std::span<const uint8_t> bytes, Module& m) {
  static const uint8_t kMark[4] = {0x7F, 'E', 'L', 'F'};
  if (bytes.size() < 4 || !std::equal(kMark, kMark + 4, bytes.begin()))
    return bytes.empty() ? "the file is empty, not a module"
                         : "not an ELF file, so not a module (no ELF mark at its start)";
  if (bytes.size() < kEhdrSize)
    return format("truncated: %zu bytes, shorter than the 52-byte ELF header", bytes.size());
  if (bytes[EI_CLASS] != ELFCLASS32)
    return format("not a module: ELF class %u, modules are 32-bit ELF", bytes[EI_CLASS]);
  if (bytes[EI_DATA] != ELFDATA2LSB && bytes[EI_DATA] != ELFDATA2MSB)
    return format("not a module: unknown byte order %u in the ELF header", bytes[EI_DATA]);
  m.bigEndian = bytes[EI_DATA] == ELFDATA2MSB;
  m.eh = loadRecord<Elf32_Ehdr>(bytes.data());
  if (m.bigEndian) swapElfHeader(m.eh);
  if (m.eh.e_type != kModuleFileType || bytes[EI_OSABI] != kModuleOsAbi)
    return format("an ELF file of type 0x%04X for OS ABI 0x%02X, not a VKM/VKX module (type 0x%04X, OS ABI 0x%02X)",
                  m.eh.e_type, bytes[EI_OSABI], kModuleFileType, kModuleOsAbi);
  uint32_t stride = m.eh.e_shentsize ? m.eh.e_shentsize : kShdrSize;
  if (stride < kShdrSize) return format("damaged: section headers of %u bytes, they need 40", stride);
  if (m.eh.e_shnum == 0) return "damaged: the module has no section header table";
  uint64_t end = uint64_t{m.eh.e_shoff} + uint64_t{m.eh.e_shnum - 1u} * stride + kShdrSize;
  if (end > bytes.size())
    return format("truncated or damaged: its %u section headers at 0x%08X run past the end of the file (0x%zX bytes)",
                  m.eh.e_shnum, m.eh.e_shoff, bytes.size());
  if (bytes[EI_ABIVERSION] != kModuleAbiVersion)
    m.problems.push_back(
        format("ELF header: ABI version 0x%02X, modules carry 0x%02X", bytes[EI_ABIVERSION], kModuleAbiVersion));
  if (m.eh.e_shoff != kModuleSectionTable)
    m.problems.push_back(format("ELF header: section header table at 0x%08X, modules have it at 0x%02X", m.eh.e_shoff,
                                kModuleSectionTable));
  m.sections.resize(m.eh.e_shnum);
  for (uint32_t i = 0; i < m.eh.e_shnum; ++i) {
    ModuleSection& s = m.sections[i];
    s.index = i;
    s.h = loadRecord<Elf32_Shdr>(bytes.data() + m.eh.e_shoff + uint64_t{i} * stride);
    if (m.bigEndian) swapSectionHeader(s.h);
    s.compressed = (s.h.sh_flags & SHF_VKM_COMPRESSED) != 0 && s.h.sh_type != SHT_NOBITS;
    s.storedSize = s.h.sh_type == SHT_NOBITS ? 0 : s.h.sh_size;
    s.size = s.h.sh_size;
  }
  return "";
}

// Unpacks every section; returns the CRC-32 of each one's contents (none
// when they could not be had).
std::vector<std::optional<uint32_t>> unpackAll(std::span<const uint8_t> bytes, Module& m, const ReadLimits& limits) {
  uint64_t budget = limits.maxUnpacked;
  std::vector<Unpacked> results(m.sections.size());
  for (ModuleSection& s : m.sections) {
    bool keep = keepContents(s.h, s.index, m.eh.e_shstrndx);
    Unpacked u = unpackSection(bytes, s, budget, keep, &s.contents);
    budget -= std::min<uint64_t>(budget, u.size);
    if (s.compressed) {
      s.size = u.size;
      if (s.h.sh_size >= 4 && inFile(bytes, s.h.sh_offset, 4)) s.size = loadBE32(bytes.data() + s.h.sh_offset);
    }
    s.contentsOk = u.ok;
    if (!u.ok) s.contents.clear();
    results[s.index] = std::move(u);
  }
  // Names first, so the faults can name their sections.
  const ModuleSection* names = m.eh.e_shstrndx < m.sections.size() ? &m.sections[m.eh.e_shstrndx] : nullptr;
  if (m.eh.e_shstrndx == 0 || !names) {
    m.problems.push_back(format("ELF header: section-name table index %u names no section", m.eh.e_shstrndx));
    names = nullptr;
  }
  for (ModuleSection& s : m.sections) {
    if (names && names->contentsOk && s.index != 0 && !stringAt(names->contents, s.h.sh_name, s.name))
      m.problems.push_back(
          format("section %u: its name at 0x%X is not inside the section-name table", s.index, s.h.sh_name));
  }
  for (const ModuleSection& s : m.sections)
    if (!results[s.index].ok) m.problems.push_back(sectionLabel(s) + ": " + results[s.index].fault);
  std::vector<std::optional<uint32_t>> computed(m.sections.size());
  for (const ModuleSection& s : m.sections)
    if (results[s.index].ok) computed[s.index] = results[s.index].crc;
  return computed;
}

// --- CRC words ------------------------------------------------------------------

void checkCrcs(Module& m, const std::vector<std::optional<uint32_t>>& computed) {
  const uint32_t n = static_cast<uint32_t>(m.sections.size());
  int32_t crcIndex = -1;
  for (const ModuleSection& s : m.sections)
    if (s.h.sh_type == SHT_VKM_CRCS && s.h.sh_size != 0) {
      crcIndex = static_cast<int32_t>(s.index);
      break;
    }
  if (crcIndex < 0) {
    m.problems.push_back("the module has no CRC section: no section's contents can be checked");
    return;
  }
  const ModuleSection& c = m.sections[static_cast<uint32_t>(crcIndex)];
  if (static_cast<uint32_t>(crcIndex) + 2 != n)
    m.problems.push_back(format("the CRC section is section %d, the loader expects it at %u", crcIndex, n - 2));
  if (c.compressed) m.problems.push_back("the CRC section is marked compressed; the loader reads it as stored");
  if (!c.contentsOk) return;  // its fault is listed already
  if (c.size != 4 * uint64_t{n})
    m.problems.push_back(format("the CRC section holds %u bytes, %u sections need %u", c.size, n, 4 * n));
  const uint32_t words = static_cast<uint32_t>(c.contents.size() / 4);
  for (ModuleSection& s : m.sections) {
    if (s.index >= words) break;
    uint32_t word = loadBE32(c.contents.data() + 4 * uint64_t{s.index});
    bool none = s.index == 0 || s.h.sh_type == SHT_NOBITS || s.h.sh_type == SHT_VKM_CRCS || s.h.sh_size == 0;
    if (none) {
      if (word != 0)
        m.problems.push_back(format("%s: its CRC word is 0x%08X, it must be 0", sectionLabel(s).c_str(), word));
      continue;
    }
    s.crc = word;
    if (!computed[s.index]) continue;  // the contents could not be had; listed already
    s.crcOk = *computed[s.index] == word;
    if (!*s.crcOk)
      m.problems.push_back(format("%s: CRC word 0x%08X, its %s contents give 0x%08X", sectionLabel(s).c_str(), word,
                                  s.compressed ? "unpacked" : "stored", *computed[s.index]));
  }
}

// --- FileInfo ---------------------------------------------------------------------

void readFileInfo(Module& m) {
  const uint32_t n = static_cast<uint32_t>(m.sections.size());
  const ModuleSection* info = nullptr;
  for (const ModuleSection& s : m.sections)
    if (s.h.sh_type == SHT_VKM_FILEINFO && s.h.sh_size != 0) {
      info = &s;
      break;
    }
  if (!info) {
    m.problems.push_back("the module has no FileInfo record: the loader cannot size its regions");
    return;
  }
  if (info->index + 1 != n)
    m.problems.push_back(format("the FileInfo section is section %u, the loader expects it at %u", info->index, n - 1));
  if (info->compressed)
    m.problems.push_back("the FileInfo section is marked compressed; the loader reads it as stored");
  if (!info->contentsOk) return;
  std::span<const uint8_t> rec = info->contents;
  if (rec.size() < kFileInfoHeaderSize) {
    m.problems.push_back(format("the FileInfo record is %zu bytes, shorter than its 96-byte head", rec.size()));
    return;
  }
  m.haveFileInfo = true;
  m.fi = loadFileInfoHeader(rec.data());
  m.vkx = (m.fi.flags & kFlagVkx) != 0;
  if (m.fi.magic != kFileInfoMagic)
    m.problems.push_back(format("FileInfo: magic 0x%08X, it must be 0x%08X", m.fi.magic, kFileInfoMagic));
  if (m.fi.fixedValue != kFileInfoFixedValue)
    m.problems.push_back(format("FileInfo: fixed value 0x%X, it must be 0x%X", m.fi.fixedValue, kFileInfoFixedValue));
  if (!stringAt(rec, m.fi.fileNameOffset, m.fileName))
    m.problems.push_back(format("FileInfo: the file name at 0x%X does not end inside the %zu-byte record",
                                m.fi.fileNameOffset, rec.size()));
  if (m.fi.tagsOffset == 0) return;
  uint64_t pos = m.fi.tagsOffset;
  while (pos < rec.size() && rec[pos] != 0) {
    std::string name, value;
    bool named = stringAt(rec, pos, name);
    pos += name.size() + 1;
    bool valued = named && stringAt(rec, pos, value);
    pos += value.size() + 1;
    m.tags.emplace_back(name, value);
    if (!valued) {
      m.problems.push_back(format("FileInfo: the loader tag \"%s\" does not end inside the record", name.c_str()));
      return;
    }
  }
  if (pos >= rec.size())
    m.problems.push_back("FileInfo: the loader tags run to the end of the record without their end mark");
}

// --- Groups and regions ---------------------------------------------------------

void sortIntoGroups(Module& m) {
  m.regions.clear();
  const uint32_t sizes[kModuleGroupCount] = {m.fi.dataSize, m.fi.loadSize, m.fi.textSize, m.fi.tempSize};
  for (int g = 0; g < kModuleGroupCount; ++g) {
    ModuleRegion r;
    r.group = static_cast<ModuleGroup>(g);
    r.memorySize = sizes[g];
    m.regions.push_back(r);
  }
  for (ModuleSection& s : m.sections) {
    bool outside = s.index == 0 || s.h.sh_size == 0 || s.h.sh_type == SHT_VKM_CRCS || s.h.sh_type == SHT_VKM_FILEINFO;
    if (outside) continue;
    s.group = moduleGroup(s.h);
    ModuleRegion& r = m.regions[static_cast<int>(*s.group)];
    ++r.sections;
    r.storedBytes += s.storedSize;
    r.unpackedBytes += s.size;
    if (!(s.h.sh_flags & SHF_ALLOC)) continue;
    uint64_t end = uint64_t{s.h.sh_addr} + s.size;
    if (!r.hasAddresses || s.h.sh_addr < r.addrStart) r.addrStart = s.h.sh_addr;
    if (!r.hasAddresses || end > r.addrEnd) r.addrEnd = end;
    r.hasAddresses = true;
  }
}

// --- The converter's read-back checks ---------------------------------------------

void checkAsConverter(std::span<const uint8_t> bytes, Module& m) {
  ElfImage headers;
  headers.eh = m.eh;
  for (const ModuleSection& s : m.sections) headers.sh.push_back(s.h);
  LayoutFindings found = checkModuleLayout(headers, static_cast<uint32_t>(bytes.size()));
  for (const LayoutFault& f : found.faults) m.problems.push_back("layout: " + f.meaning);
  if (bytes.size() < kMinReadBackSize) {
    m.problems.push_back(format("the file is %zu bytes; the converter reads back nothing shorter than %u", bytes.size(),
                                kMinReadBackSize));
    return;
  }
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());  // the checks convert tables in place
  ElfImage img;
  if (Status r = parseElfImage(copy.data(), static_cast<uint32_t>(copy.size()), img); !r.ok())
    m.problems.push_back(format("ELF check 0x%08X: %s", r.value(), badImageReason(r)));
}

// --- Tables -----------------------------------------------------------------------

// A word of a table in the file's byte order; the caller made sure it is there.
uint32_t fileWord(const Module& m, std::span<const uint8_t> b, uint64_t at) {
  const uint8_t* p = b.data() + at;
  return m.bigEndian ? loadBE32(p) : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void readSymbols(Module& m) {
  for (const ModuleSection& s : m.sections)
    if (s.h.sh_type == SHT_SYMTAB && s.h.sh_size != 0) {
      m.symtab = static_cast<int32_t>(s.index);
      break;
    }
  if (m.symtab < 0) return;
  const ModuleSection& t = m.sections[static_cast<uint32_t>(m.symtab)];
  if (!t.contentsOk) return;
  uint32_t stride = t.h.sh_entsize ? t.h.sh_entsize : kSymSize;
  if (stride < kSymSize) {
    m.problems.push_back(format("%s: entries of %u bytes, symbols need 16", sectionLabel(t).c_str(), stride));
    return;
  }
  const ModuleSection* strings = t.h.sh_link < m.sections.size() ? &m.sections[t.h.sh_link] : nullptr;
  if (!strings || strings->h.sh_type != SHT_STRTAB) {
    m.problems.push_back(
        format("%s: links to section %u, which is no string table", sectionLabel(t).c_str(), t.h.sh_link));
    strings = nullptr;
  }
  uint32_t badNames = 0;
  for (uint64_t at = 0; at + kSymSize <= t.contents.size(); at += stride) {
    ModuleSymbol sym;
    sym.index = static_cast<uint32_t>(at / stride);
    sym.s = loadRecord<Elf32_Sym>(t.contents.data() + at);
    if (m.bigEndian) swapSymbol(sym.s);
    if (strings && strings->contentsOk && sym.s.st_name != 0 && !stringAt(strings->contents, sym.s.st_name, sym.name))
      ++badNames;
    m.symbols.push_back(std::move(sym));
  }
  if (badNames)
    m.problems.push_back(
        format("%s: %u symbol names do not lie inside its string table", sectionLabel(t).c_str(), badNames));
}

void readImports(Module& m) {
  for (const ModuleSection& s : m.sections) {
    if (s.h.sh_type != SHT_VKM_IMPORTS || s.h.sh_size == 0 || !s.contentsOk) continue;
    ModuleImport imp;
    imp.section = s.index;
    if (s.contents.size() < 9) {
      m.problems.push_back(sectionLabel(s) + ": an import section too small for its count, signature and library name");
      continue;
    }
    imp.count = fileWord(m, s.contents, 0);
    imp.signature = fileWord(m, s.contents, 4);
    if (!stringAt(s.contents, 8, imp.library))
      m.problems.push_back(sectionLabel(s) + ": the library name does not end inside the section");
    for (const ModuleSymbol& sym : m.symbols)
      if (sym.s.st_shndx == s.index && symType(sym.s) != STT_SECTION) imp.symbols.push_back(sym);
    if (m.symtab >= 0 && imp.symbols.size() != imp.count)
      m.problems.push_back(format("%s: counts %u imports, the symbol table has %zu in it", sectionLabel(s).c_str(),
                                  imp.count, imp.symbols.size()));
    m.imports.push_back(std::move(imp));
  }
}

void readExports(Module& m) {
  for (const ModuleSection& s : m.sections) {
    if (s.h.sh_type != SHT_VKM_EXPORTS || s.h.sh_size == 0 || !s.contentsOk) continue;
    ModuleExportTable t;
    t.section = s.index;
    t.functions = (s.h.sh_flags & SHF_EXECINSTR) != 0;
    std::span<const uint8_t> b = s.contents;
    if (b.size() < 8) {
      m.problems.push_back(sectionLabel(s) + ": an export table too small for its count and signature");
      continue;
    }
    t.count = loadBE32(b.data());
    t.signature = loadBE32(b.data() + 4);
    uint64_t room = (b.size() - 8) / 8;
    if (t.count > room)
      m.problems.push_back(format("%s: counts %u exports, it has room for %llu", sectionLabel(s).c_str(), t.count,
                                  static_cast<unsigned long long>(room)));
    uint32_t badNames = 0;
    for (uint64_t k = 0; k < std::min<uint64_t>(t.count, room); ++k) {
      ModuleExport e;
      e.value = loadBE32(b.data() + 8 + 8 * k);
      uint32_t word = loadBE32(b.data() + 12 + 8 * k);
      e.tls = (word & 0x80000000u) != 0;
      if (!stringAt(b, word & 0x7FFFFFFFu, e.name)) ++badNames;
      t.entries.push_back(std::move(e));
    }
    if (badNames)
      m.problems.push_back(
          format("%s: %u export names do not lie inside the table", sectionLabel(s).c_str(), badNames));
    m.exports.push_back(std::move(t));
  }
}

}  // namespace

std::string sectionLabel(const ModuleSection& s) {
  if (s.name.empty()) return format("section %u", s.index);
  return format("section %u (%s)", s.index, s.name.c_str());
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  std::string out;
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<size_t>(n) + 1);
    vsnprintf(out.data(), out.size(), fmt, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

std::string readModule(std::span<const uint8_t> bytes, Module& m, const ReadLimits& limits) {
  m = Module{};
  m.fileSize = bytes.size();
  if (bytes.size() > 0xFFFFFFFFu) return "larger than 4 GB, so no module";
  std::string fatal = readHeader(bytes, m);
  if (!fatal.empty()) return fatal;
  checkCrcs(m, unpackAll(bytes, m, limits));
  readFileInfo(m);
  sortIntoGroups(m);
  checkFormatRules(bytes, m);
  checkAsConverter(bytes, m);
  readSymbols(m);
  readImports(m);
  readExports(m);
  return "";
}

bool sectionContents(std::span<const uint8_t> bytes, const Module& m, uint32_t index, std::vector<uint8_t>& out,
                     std::string& why, const ReadLimits& limits) {
  out.clear();
  if (index >= m.sections.size()) {
    why = format("the module has no section %u", index);
    return false;
  }
  const ModuleSection& s = m.sections[index];
  if (s.h.sh_type == SHT_NOBITS) {
    why = sectionLabel(s) + " takes no bytes in the file (SHT_NOBITS)";
    return false;
  }
  Unpacked u = unpackSection(bytes, s, limits.maxUnpacked, true, &out);
  if (!u.ok) {
    why = sectionLabel(s) + ": " + u.fault;
    out.clear();
    return false;
  }
  return true;
}

std::string sectionTypeName(uint32_t type) {
  switch (type) {
    case SHT_NULL:
      return "NULL";
    case SHT_PROGBITS:
      return "PROGBITS";
    case SHT_SYMTAB:
      return "SYMTAB";
    case SHT_STRTAB:
      return "STRTAB";
    case SHT_RELA:
      return "RELA";
    case SHT_NOBITS:
      return "NOBITS";
    case SHT_REL:
      return "REL";
    case SHT_VKM_EXPORTS:
      return "VKM_EXPORTS";
    case SHT_VKM_IMPORTS:
      return "VKM_IMPORTS";
    case SHT_VKM_CRCS:
      return "VKM_CRCS";
    case SHT_VKM_FILEINFO:
      return "VKM_FILEINFO";
    default:
      return format("0x%08X", type);
  }
}

std::string sectionFlagLetters(uint32_t flags) {
  constexpr uint32_t kMerge = 0x10, kStrings = 0x20, kInfoLink = 0x40;
  std::string out;
  if (flags & SHF_WRITE) out += 'W';
  if (flags & SHF_ALLOC) out += 'A';
  if (flags & SHF_EXECINSTR) out += 'X';
  if (flags & kMerge) out += 'M';
  if (flags & kStrings) out += 'S';
  if (flags & kInfoLink) out += 'I';
  if (flags & SHF_VKM_TLS) out += 'T';
  if (flags & SHF_VKM_COMPRESSED) out += 'Z';
  if (flags &
      ~(SHF_WRITE | SHF_ALLOC | SHF_EXECINSTR | kMerge | kStrings | kInfoLink | SHF_VKM_TLS | SHF_VKM_COMPRESSED))
    out += '+';
  return out;
}

std::string symbolTypeName(uint8_t type) {
  switch (type) {
    case STT_NOTYPE:
      return "NOTYPE";
    case STT_OBJECT:
      return "OBJECT";
    case STT_FUNC:
      return "FUNC";
    case STT_SECTION:
      return "SECTION";
    case STT_FILE:
      return "FILE";
    case STT_TLS:
      return "TLS";
    default:
      return format("%u", type);
  }
}

std::string symbolBindName(uint8_t bind) {
  switch (bind) {
    case STB_LOCAL:
      return "LOCAL";
    case STB_GLOBAL:
      return "GLOBAL";
    case STB_WEAK:
      return "WEAK";
    default:
      return format("%u", bind);
  }
}

}  // namespace zv
