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

#include "elf/image.h"
#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kMinReadBackSize = 260;  // the converter reads back nothing shorter

bool inFile(std::span<const uint8_t> bytes, uint64_t at, uint64_t len) {
  return at <= bytes.size() && len <= bytes.size() - at;
}

// "section 3 (.text)" for messages.
std::string sectionLabel(const ModuleSection& s) {
  if (s.name.empty()) return format("section %u", s.index);
  return format("section %u (%s)", s.index, s.name.c_str());
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
  return index == shstrndx || h.sh_type == SHT_SYMTAB || h.sh_type == SHT_STRTAB ||
         h.sh_type == SHT_VKM_IMPORTS || h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_CRCS ||
         h.sh_type == SHT_VKM_FILEINFO;
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
  uLong crc = crc32(0L, Z_NULL, 0);
  int r = Z_OK;
  while (r == Z_OK) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    r = inflate(&z, Z_NO_FLUSH);
    size_t got = sizeof chunk - z.avail_out;
    produced += got;
    if (produced > sizeWord || produced > limit) break;
    crc = crc32(crc, chunk, static_cast<uInt>(got));
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
    u.fault = format("unpacks to %llu bytes, its size word gives %u", static_cast<unsigned long long>(produced),
                     sizeWord);
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
    u.crc = static_cast<uint32_t>(crc32(0L, stored.data(), static_cast<uInt>(stored.size())));
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
    return bytes.empty() ? "the file is empty, not a module" : "not an ELF file, so not a module (no ELF mark at its start)";
  if (bytes.size() < kEhdrSize)
    return format("truncated: %zu bytes, shorter than the 52-byte ELF header", bytes.size());
  if (bytes[EI_CLASS] != ELFCLASS32) return format("not a module: ELF class %u, modules are 32-bit ELF", bytes[EI_CLASS]);
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
    m.problems.push_back(format("ELF header: ABI version 0x%02X, modules carry 0x%02X", bytes[EI_ABIVERSION],
                                kModuleAbiVersion));
  if (m.eh.e_shoff != kModuleSectionTable)
    m.problems.push_back(format("ELF header: section header table at 0x%08X, modules have it at 0x%02X",
                                m.eh.e_shoff, kModuleSectionTable));
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
      m.problems.push_back(format("section %u: its name at 0x%X is not inside the section-name table", s.index,
                                  s.h.sh_name));
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
      if (word != 0) m.problems.push_back(format("%s: its CRC word is 0x%08X, it must be 0", sectionLabel(s).c_str(), word));
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
  if (info->compressed) m.problems.push_back("the FileInfo section is marked compressed; the loader reads it as stored");
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
  if (pos >= rec.size()) m.problems.push_back("FileInfo: the loader tags run to the end of the record without their end mark");
}

// --- The format's fixed rules -------------------------------------------------------
// What every module written by the converter holds beyond what the loader
// checks: fixed header fields, 64-byte boundaries, zero bytes between the
// contents, the file ending on the boundary after its last contents, and a
// FileInfo record laid out as the converter lays it out.

constexpr uint16_t kMachinePowerPc = 20;

void checkHeaderRules(std::span<const uint8_t> bytes, Module& m) {
  const Elf32_Ehdr& e = m.eh;
  if (e.e_phoff || e.e_phentsize || e.e_phnum)
    m.problems.push_back(format("ELF header: program header fields are 0x%X/%u/%u, a module has none", e.e_phoff,
                                e.e_phentsize, e.e_phnum));
  if (e.e_flags) m.problems.push_back(format("ELF header: e_flags is 0x%08X, modules have 0", e.e_flags));
  if (e.e_ehsize != kEhdrSize) m.problems.push_back(format("ELF header: e_ehsize is %u, modules have 52", e.e_ehsize));
  if (e.e_shentsize != kShdrSize)
    m.problems.push_back(format("ELF header: e_shentsize is %u, modules have 40", e.e_shentsize));
  if (bytes.size() >= kModuleSectionTable &&
      std::any_of(bytes.begin() + kEhdrSize, bytes.begin() + kModuleSectionTable, [](uint8_t b) { return b != 0; }))
    m.problems.push_back("ELF header: the bytes between the header and the section table are not zero");
  if (bytes[EI_VERSION] != 1 || e.e_version != 1)
    m.problems.push_back(format("ELF header: version %u/%u, ELF has only version 1", bytes[EI_VERSION], e.e_version));
  if (e.e_machine != kMachinePowerPc)
    m.problems.push_back(format("ELF header: machine %u, modules are for PowerPC (20)", e.e_machine));
  if (std::any_of(bytes.begin() + 9, bytes.begin() + 16, [](uint8_t b) { return b != 0; }))
    m.problems.push_back("ELF header: the padding of the identification bytes is not zero");
  bool entryInCode = e.e_entry == 0;
  for (const ModuleSection& s : m.sections)
    if ((s.h.sh_flags & SHF_ALLOC) && (s.h.sh_flags & SHF_EXECINSTR) && e.e_entry - s.h.sh_addr < s.size) entryInCode = true;
  if (!entryInCode) m.problems.push_back(format("ELF header: the entry point 0x%08X lies in no code section", e.e_entry));
  const Elf32_Shdr& null = m.sections[0].h;
  if (null.sh_name || null.sh_type || null.sh_flags || null.sh_addr || null.sh_offset || null.sh_size ||
      null.sh_link || null.sh_info || null.sh_addralign || null.sh_entsize)
    m.problems.push_back("section 0 is not all zero");
}

// Where each group's sections may lie in memory.
bool addressFits(ModuleGroup g, uint32_t addr, uint32_t size) {
  uint64_t last = uint64_t{addr} + (size ? size - 1 : 0);
  switch (g) {
    case ModuleGroup::Data: return addr >= kDataLow && last <= kDataHigh;
    case ModuleGroup::Text: return addr >= kTextLow && last <= kTextHigh;
    case ModuleGroup::Load: return addr >= kLoadLow && last <= kLoadHigh;
    case ModuleGroup::Temp: return true;
  }
  return true;
}

constexpr uint32_t kKnownFlags = 0x7FF | SHF_VKM_TLS | SHF_VKM_COMPRESSED;  // the ELF flags up to SHF_TLS and ours

void checkSectionRules(Module& m) {
  const uint32_t n = static_cast<uint32_t>(m.sections.size());
  const uint64_t crcAt = kModuleSectionTable + uint64_t{kShdrSize} * n;
  const uint64_t infoAt = (crcAt + 4 * uint64_t{n} + kModuleContentAlign - 1) / kModuleContentAlign * kModuleContentAlign;
  for (const ModuleSection& s : m.sections) {
    const Elf32_Shdr& h = s.h;
    std::string label = sectionLabel(s);
    if (h.sh_type == SHT_VKM_CRCS && h.sh_size && h.sh_offset != crcAt)
      m.problems.push_back(format("%s: the CRC words lie at 0x%08X, behind %u section headers they belong at 0x%08llX",
                                  label.c_str(), h.sh_offset, n, static_cast<unsigned long long>(crcAt)));
    if (h.sh_type == SHT_VKM_FILEINFO && h.sh_size && h.sh_offset != infoAt)
      m.problems.push_back(format("%s: the FileInfo record lies at 0x%08X, it belongs at 0x%08llX", label.c_str(),
                                  h.sh_offset, static_cast<unsigned long long>(infoAt)));
    if (h.sh_type == SHT_NOBITS && h.sh_offset != 0)
      m.problems.push_back(format("%s: takes no file space but has offset 0x%08X, modules give it 0", label.c_str(),
                                  h.sh_offset));
    if (h.sh_flags & ~kKnownFlags)
      m.problems.push_back(format("%s: flags 0x%08X carry bits no loader knows", label.c_str(), h.sh_flags));
    if (h.sh_addralign > 1 && !isPowerOfTwo(h.sh_addralign))
      m.problems.push_back(format("%s: alignment %u is not a power of two", label.c_str(), h.sh_addralign));
    else if ((h.sh_flags & SHF_ALLOC) && h.sh_addralign > 1 && h.sh_addr % h.sh_addralign != 0)
      m.problems.push_back(format("%s: address 0x%08X is not aligned to its %u bytes", label.c_str(), h.sh_addr,
                                  h.sh_addralign));
    const uint32_t entry = h.sh_type == SHT_SYMTAB ? kSymSize : h.sh_type == SHT_RELA ? kRelaSize : h.sh_type == SHT_REL ? kRelSize : 0;
    if (entry && h.sh_entsize != entry)
      m.problems.push_back(format("%s: entries of %u bytes, a %s table has %u", label.c_str(), h.sh_entsize,
                                  sectionTypeName(h.sh_type).c_str(), entry));
    const bool linksNothing = h.sh_type == SHT_PROGBITS || h.sh_type == SHT_NOBITS || h.sh_type == SHT_STRTAB ||
                              h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_IMPORTS ||
                              h.sh_type == SHT_VKM_CRCS || h.sh_type == SHT_VKM_FILEINFO;
    if (linksNothing && (h.sh_link || h.sh_info))
      m.problems.push_back(format("%s: link %u and info %u, a %s section has 0 in both", label.c_str(), h.sh_link,
                                  h.sh_info, sectionTypeName(h.sh_type).c_str()));
    if (h.sh_type == SHT_NULL && s.index != 0 && h.sh_size != 0)
      m.problems.push_back(format("%s: a section of type NULL with %u bytes", label.c_str(), h.sh_size));
    if (!s.group) continue;
    if (*s.group == ModuleGroup::Load && (h.sh_flags & SHF_WRITE))
      m.problems.push_back(label + ": writable, but the loader keeps its own area read-only");
    if (h.sh_type != SHT_NOBITS && h.sh_offset % kModuleContentAlign != 0)
      m.problems.push_back(format("%s: starts at 0x%08X, not on a 64-byte boundary", label.c_str(), h.sh_offset));
    if (s.compressed && s.contentsOk && s.storedSize >= s.size)
      m.problems.push_back(format("%s: stored compressed in %u bytes, not fewer than its %u plain bytes", label.c_str(),
                                  s.storedSize, s.size));
    if (*s.group == ModuleGroup::Data && h.sh_type != SHT_NOBITS && !(h.sh_flags & SHF_WRITE))
      m.problems.push_back(label + ": a DATA section without the write flag");
    if (!addressFits(*s.group, h.sh_addr, s.size))
      m.problems.push_back(format("%s: address 0x%08X, %u bytes, lies outside the %s region's range", label.c_str(),
                                  h.sh_addr, s.size, moduleGroupName(*s.group)));
  }
}

// The loader reserves each region's FileInfo size; the sections placed in
// it must fit.
void checkRegionRules(Module& m) {
  if (!m.haveFileInfo) return;
  for (const ModuleRegion& r : m.regions)
    if (r.hasAddresses && r.group != ModuleGroup::Temp && r.addrEnd - r.addrStart > r.memorySize)
      m.problems.push_back(format("the %s sections span 0x%llX bytes, more than the 0x%X the FileInfo reserves",
                                  moduleGroupName(r.group), static_cast<unsigned long long>(r.addrEnd - r.addrStart),
                                  r.memorySize));
}

// The bytes no table or section claims must be zero, and the file must end
// on the 64-byte boundary after the last contents.
void checkGaps(std::span<const uint8_t> bytes, Module& m) {
  std::vector<std::pair<uint64_t, uint64_t>> used{{0, kEhdrSize},
                                                  {m.eh.e_shoff, m.eh.e_shoff + uint64_t{kShdrSize} * m.sections.size()}};
  for (const ModuleSection& s : m.sections)
    if (s.index != 0 && s.h.sh_type != SHT_NOBITS && s.h.sh_size)
      used.emplace_back(s.h.sh_offset, uint64_t{s.h.sh_offset} + s.h.sh_size);
  std::sort(used.begin(), used.end());
  uint64_t at = 0, nonzero = 0, first = 0, end = 0;
  for (const auto& [start, stop] : used) {
    for (uint64_t k = at; k < std::min<uint64_t>(start, bytes.size()); ++k)
      if (bytes[k] && !nonzero++) first = k;
    at = std::max(at, stop);
    end = std::max(end, stop);
  }
  uint64_t expected = (end + kModuleContentAlign - 1) / kModuleContentAlign * kModuleContentAlign;
  for (uint64_t k = at; k < std::min<uint64_t>(expected, bytes.size()); ++k)
    if (bytes[k] && !nonzero++) first = k;
  if (nonzero)
    m.problems.push_back(format("%llu bytes between the contents are not zero, the first at 0x%08llX",
                                static_cast<unsigned long long>(nonzero), static_cast<unsigned long long>(first)));
  if (bytes.size() > expected)
    m.problems.push_back(format("the file has %llu bytes after the 64-byte boundary behind its last contents (0x%08llX)",
                                static_cast<unsigned long long>(bytes.size() - expected),
                                static_cast<unsigned long long>(expected)));
  else if (bytes.size() < expected && bytes.size() >= end)
    m.problems.push_back(format("the file ends at 0x%08llX, short of the 64-byte boundary 0x%08llX behind its last contents",
                                static_cast<unsigned long long>(bytes.size()), static_cast<unsigned long long>(expected)));
}

void checkFileInfoRules(Module& m) {
  if (!m.haveFileInfo) return;
  const FileInfoHeader& f = m.fi;
  const ModuleSection* info = nullptr;
  for (const ModuleSection& s : m.sections)
    if (s.h.sh_type == SHT_VKM_FILEINFO && s.h.sh_size) {
      info = &s;
      break;
    }
  const std::vector<uint8_t>& rec = info->contents;
  if (f.fileNameOffset != kFileInfoHeaderSize)
    m.problems.push_back(format("FileInfo: the file name lies at 0x%X, the record has it at 0x60", f.fileNameOffset));
  if (f.flags & ~(kFlagDynamicOnly | kFlagVkx | kFlagTls))
    m.problems.push_back(format("FileInfo: flags 0x%08X carry bits no loader knows", f.flags));
  if (f.reserved) m.problems.push_back(format("FileInfo: the reserved field is 0x%04X, not 0", f.reserved));
  if (isPowerOfTwo(f.loadAlign) && uint64_t{alignUp(static_cast<uint32_t>(rec.size()) - kFileInfoHeaderSize, f.loadAlign)} != f.trailerSize)
    m.problems.push_back(format("FileInfo: trailer size 0x%X, the %zu-byte record needs 0x%X", f.trailerSize, rec.size(),
                                alignUp(static_cast<uint32_t>(rec.size()) - kFileInfoHeaderSize, f.loadAlign)));
  // Behind the file name: the tags (each name and value ended by a zero
  // byte, the list by three), then zero bytes to the end of the record.
  uint64_t pos = uint64_t{f.fileNameOffset} + m.fileName.size() + 1;
  if (!m.tags.empty() && f.tagsOffset != pos)
    m.problems.push_back(format("FileInfo: the tags start at 0x%X, right behind the file name is 0x%llX", f.tagsOffset,
                                static_cast<unsigned long long>(pos)));
  if (m.tags.empty() && f.tagsOffset != 0)
    m.problems.push_back(format("FileInfo: tags offset 0x%X, but the record holds no tag", f.tagsOffset));
  if (!m.tags.empty()) {
    pos = f.tagsOffset;
    for (const auto& [name, value] : m.tags) pos += name.size() + value.size() + 2;
    bool ended = pos + 3 <= rec.size() && !rec[pos] && !rec[pos + 1] && !rec[pos + 2];
    if (!ended) m.problems.push_back("FileInfo: the loader tags do not end with three zero bytes");
    pos += 3;
  }
  if (pos < rec.size() && std::any_of(rec.begin() + static_cast<std::ptrdiff_t>(pos), rec.end(), [](uint8_t b) { return b != 0; }))
    m.problems.push_back("FileInfo: the record is not zero behind its strings");
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
  if (uint32_t code = parseElfImage(copy.data(), static_cast<uint32_t>(copy.size()), img))
    m.problems.push_back(format("ELF check 0x%08X: %s", code, badImageReason(code)));
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
    m.problems.push_back(format("%s: links to section %u, which is no string table", sectionLabel(t).c_str(), t.h.sh_link));
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
    m.problems.push_back(format("%s: %u symbol names do not lie inside its string table", sectionLabel(t).c_str(), badNames));
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
      m.problems.push_back(format("%s: %u export names do not lie inside the table", sectionLabel(s).c_str(), badNames));
    m.exports.push_back(std::move(t));
  }
}

}  // namespace

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
  checkHeaderRules(bytes, m);
  checkSectionRules(m);
  checkRegionRules(m);
  checkGaps(bytes, m);
  checkFileInfoRules(m);
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
    case SHT_NULL: return "NULL";
    case SHT_PROGBITS: return "PROGBITS";
    case SHT_SYMTAB: return "SYMTAB";
    case SHT_STRTAB: return "STRTAB";
    case SHT_RELA: return "RELA";
    case SHT_NOBITS: return "NOBITS";
    case SHT_REL: return "REL";
    case SHT_VKM_EXPORTS: return "VKM_EXPORTS";
    case SHT_VKM_IMPORTS: return "VKM_IMPORTS";
    case SHT_VKM_CRCS: return "VKM_CRCS";
    case SHT_VKM_FILEINFO: return "VKM_FILEINFO";
    default: return format("0x%08X", type);
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
  if (flags & ~(SHF_WRITE | SHF_ALLOC | SHF_EXECINSTR | kMerge | kStrings | kInfoLink | SHF_VKM_TLS | SHF_VKM_COMPRESSED))
    out += '+';
  return out;
}

std::string symbolTypeName(uint8_t type) {
  switch (type) {
    case STT_NOTYPE: return "NOTYPE";
    case STT_OBJECT: return "OBJECT";
    case STT_FUNC: return "FUNC";
    case STT_SECTION: return "SECTION";
    case STT_FILE: return "FILE";
    case STT_TLS: return "TLS";
    default: return format("%u", type);
  }
}

std::string symbolBindName(uint8_t bind) {
  switch (bind) {
    case STB_LOCAL: return "LOCAL";
    case STB_GLOBAL: return "GLOBAL";
    case STB_WEAK: return "WEAK";
    default: return format("%u", bind);
  }
}

}  // namespace zv
