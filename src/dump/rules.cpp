// The fixed rules of the module format that the converter always keeps but
// the loader does not check by itself: the fields every module's ELF header
// has, the CRC words and the FileInfo record right behind the section table,
// every section's contents on a 64-byte boundary with zero bytes between
// them and the file ending on the boundary after the last, sections inside
// their region's address range and alignment, regions inside the sizes the
// FileInfo reserves, and the FileInfo strings laid out as the converter lays
// them out. A damaged module breaks one of them even where no CRC covers the
// bytes (the headers, the gaps).
#include <algorithm>

#include "dump/module.h"

namespace zv {

namespace {

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
    if ((s.h.sh_flags & SHF_ALLOC) && (s.h.sh_flags & SHF_EXECINSTR) && e.e_entry - s.h.sh_addr < s.size)
      entryInCode = true;
  if (!entryInCode)
    m.problems.push_back(format("ELF header: the entry point 0x%08X lies in no code section", e.e_entry));
  const Elf32_Shdr& null = m.sections[0].h;
  if (null.sh_name || null.sh_type || null.sh_flags || null.sh_addr || null.sh_offset || null.sh_size || null.sh_link ||
      null.sh_info || null.sh_addralign || null.sh_entsize)
    m.problems.push_back("section 0 is not all zero");
}

// Where each group's sections may lie in memory.
bool addressFits(ModuleGroup g, uint32_t addr, uint32_t size) {
  uint64_t last = uint64_t{addr} + (size ? size - 1 : 0);
  switch (g) {
    case ModuleGroup::kData:
      return addr >= kDataLow && last <= kDataHigh;
    case ModuleGroup::kText:
      return addr >= kTextLow && last <= kTextHigh;
    case ModuleGroup::kLoad:
      return addr >= kLoadLow && last <= kLoadHigh;
    case ModuleGroup::kTemp:
      return true;
  }
  return true;
}

constexpr uint32_t kKnownFlags = 0x7FF | SHF_VKM_TLS | SHF_VKM_COMPRESSED;  // the ELF flags up to SHF_TLS and ours

void checkSectionRules(Module& m) {
  const uint32_t n = static_cast<uint32_t>(m.sections.size());
  const uint64_t crcAt = kModuleSectionTable + uint64_t{kShdrSize} * n;
  const uint64_t infoAt =
      (crcAt + 4 * uint64_t{n} + kModuleContentAlign - 1) / kModuleContentAlign * kModuleContentAlign;
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
      m.problems.push_back(
          format("%s: takes no file space but has offset 0x%08X, modules give it 0", label.c_str(), h.sh_offset));
    if (h.sh_flags & ~kKnownFlags)
      m.problems.push_back(format("%s: flags 0x%08X carry bits no loader knows", label.c_str(), h.sh_flags));
    if (h.sh_addralign > 1 && !isPowerOfTwo(h.sh_addralign))
      m.problems.push_back(format("%s: alignment %u is not a power of two", label.c_str(), h.sh_addralign));
    else if ((h.sh_flags & SHF_ALLOC) && h.sh_addralign > 1 && h.sh_addr % h.sh_addralign != 0)
      m.problems.push_back(
          format("%s: address 0x%08X is not aligned to its %u bytes", label.c_str(), h.sh_addr, h.sh_addralign));
    const uint32_t entry = h.sh_type == SHT_SYMTAB ? kSymSize
                           : h.sh_type == SHT_RELA ? kRelaSize
                           : h.sh_type == SHT_REL  ? kRelSize
                                                   : 0;
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
    if (*s.group == ModuleGroup::kLoad && (h.sh_flags & SHF_WRITE))
      m.problems.push_back(label + ": writable, but the loader keeps its own area read-only");
    if (h.sh_type != SHT_NOBITS && h.sh_offset % kModuleContentAlign != 0)
      m.problems.push_back(format("%s: starts at 0x%08X, not on a 64-byte boundary", label.c_str(), h.sh_offset));
    if (s.compressed && s.contentsOk && s.storedSize >= s.size)
      m.problems.push_back(format("%s: stored compressed in %u bytes, not fewer than its %u plain bytes", label.c_str(),
                                  s.storedSize, s.size));
    if (*s.group == ModuleGroup::kData && h.sh_type != SHT_NOBITS && !(h.sh_flags & SHF_WRITE))
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
    if (r.hasAddresses && r.group != ModuleGroup::kTemp && r.addrEnd - r.addrStart > r.memorySize)
      m.problems.push_back(format("the %s sections span 0x%llX bytes, more than the 0x%X the FileInfo reserves",
                                  moduleGroupName(r.group), static_cast<unsigned long long>(r.addrEnd - r.addrStart),
                                  r.memorySize));
}

// The bytes no table or section claims must be zero, and the file must end
// on the 64-byte boundary after the last contents.
void checkGaps(std::span<const uint8_t> bytes, Module& m) {
  std::vector<std::pair<uint64_t, uint64_t>> used{
      {0, kEhdrSize}, {m.eh.e_shoff, m.eh.e_shoff + uint64_t{kShdrSize} * m.sections.size()}};
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
    m.problems.push_back(
        format("the file has %llu bytes after the 64-byte boundary behind its last contents (0x%08llX)",
               static_cast<unsigned long long>(bytes.size() - expected), static_cast<unsigned long long>(expected)));
  else if (bytes.size() < expected && bytes.size() >= end)
    m.problems.push_back(
        format("the file ends at 0x%08llX, short of the 64-byte boundary 0x%08llX behind its last contents",
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
  if (isPowerOfTwo(f.loadAlign) &&
      uint64_t{alignUp(static_cast<uint32_t>(rec.size()) - kFileInfoHeaderSize, f.loadAlign)} != f.trailerSize)
    m.problems.push_back(format("FileInfo: trailer size 0x%X, the %zu-byte record needs 0x%X", f.trailerSize,
                                rec.size(),
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
  if (pos < rec.size() &&
      std::any_of(rec.begin() + static_cast<std::ptrdiff_t>(pos), rec.end(), [](uint8_t b) { return b != 0; }))
    m.problems.push_back("FileInfo: the record is not zero behind its strings");
}

}  // namespace

void checkFormatRules(std::span<const uint8_t> bytes, Module& m) {
  checkHeaderRules(bytes, m);
  checkSectionRules(m);
  checkRegionRules(m);
  checkGaps(bytes, m);
  checkFileInfoRules(m);
}

}  // namespace zv
