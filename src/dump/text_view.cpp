// The text views of vkmdump: a summary a developer reads top to bottom (what
// kind of module, the FileInfo the loader reads, how big each region is,
// every section with its group, packing and CRC state), then the import,
// export and symbol tables when asked, and the verification result.
#include <cinttypes>

#include "dump/dump.h"

namespace zv {

namespace {

std::string sizeField(uint32_t v) { return format("0x%08X  (%u)", v, v); }

std::string flagWords(uint32_t flags) {
  std::string out;
  auto add = [&out](const char* w) { out += out.empty() ? w : std::string(", ") + w; };
  if (flags & kFlagDynamicOnly) add("dynamic-only");
  if (flags & kFlagVkx) add("vkx");
  if (flags & kFlagTls) add("tls");
  if (flags & ~(kFlagDynamicOnly | kFlagVkx | kFlagTls)) add("unknown bits");
  return out;
}

std::string headline(const std::string& path, const Module& m) {
  return format("%s: %s module, %s-endian, %zu sections, %" PRIu64 " bytes\n", path.c_str(), m.vkx ? "VKX" : "VKM",
                m.bigEndian ? "big" : "little", m.sections.size(), m.fileSize);
}

void fileInfoView(std::string& out, const Module& m) {
  if (!m.haveFileInfo) {
    out += "\nFileInfo: none readable\n";
    return;
  }
  for (const ModuleSection& s : m.sections)
    if (s.h.sh_type == SHT_VKM_FILEINFO && s.h.sh_size != 0) {
      out += format("\nFileInfo (section %u, %u bytes at 0x%08X):\n", s.index, s.h.sh_size, s.h.sh_offset);
      break;
    }
  const FileInfoHeader& f = m.fi;
  const std::pair<const char*, std::string> rows[] = {
      {"magic", format("0x%08X", f.magic)},
      {"text_size", sizeField(f.textSize)},
      {"text_align", sizeField(f.textAlign)},
      {"data_size", sizeField(f.dataSize)},
      {"data_align", sizeField(f.dataAlign)},
      {"load_size", sizeField(f.loadSize)},
      {"load_align", sizeField(f.loadAlign)},
      {"temp_size", sizeField(f.tempSize)},
      {"tramp_adj", sizeField(f.trampAdj)},
      {"sda_base", format("0x%08X", f.sdaBase)},
      {"sda2_base", format("0x%08X", f.sda2Base)},
      {"stack_size", sizeField(f.stackSize)},
      {"file_name_offset", format("0x%X", f.fileNameOffset)},
      {"flags", format("0x%08X  (%s)", f.flags, f.flags ? flagWords(f.flags).c_str() : "none")},
      {"heap_size", sizeField(f.heapSize)},
      {"tags_offset", format("0x%X", f.tagsOffset)},
      {"fixed_value", format("0x%X", f.fixedValue)},
      {"compression_level",
       f.compressionLevel == 0xFFFFFFFFu ? std::string("default (0xFFFFFFFF)") : format("%u", f.compressionLevel)},
      {"tramp_addition", sizeField(f.trampAddition)},
      {"trailer_size", sizeField(f.trailerSize)},
      {"sdk_version", format("%u", f.sdkVersion)},
      {"sdk_revision", format("%u", f.sdkRevision)},
      {"reserved", format("0x%04X", f.reserved)},
      {"tls_align_shift", format("%u", f.tlsAlignShift)},
      {"file_info_area_size", sizeField(f.fileInfoAreaSize)},
      {"file_name", "\"" + m.fileName + "\""},
  };
  for (const auto& [name, value] : rows) out += format("  %-20s %s\n", name, value.c_str());
  out += format("  %-20s %zu\n", "tags", m.tags.size());
  for (const auto& [name, value] : m.tags) out += format("    %s = %s\n", name.c_str(), value.c_str());
}

void regionView(std::string& out, const Module& m) {
  out += "\nRegions:\n";
  out += "  Group  Sections  Addresses                  Stored      Unpacked    FileInfo size\n";
  for (const ModuleRegion& r : m.regions) {
    std::string range = r.hasAddresses ? format("0x%08X-0x%08" PRIX64, r.addrStart, r.addrEnd) : std::string("-");
    out += format("  %-5s  %8u  %-23s  0x%08" PRIX64 "  0x%08" PRIX64 "  0x%08X\n", moduleGroupName(r.group),
                  r.sections, range.c_str(), r.storedBytes, r.unpackedBytes, r.memorySize);
  }
}

std::string crcState(const ModuleSection& s) {
  if (!s.crc) return "-";
  if (!s.crcOk) return format("0x%08X unchecked", *s.crc);
  return format("0x%08X %s", *s.crc, *s.crcOk ? "ok" : "BAD");
}

void sectionView(std::string& out, const Module& m) {
  out += "\nSections:\n";
  out +=
      "  [Nr] Name                 Type          Flags  Address     Offset      Size        Stored      Group  "
      "Ratio   CRC\n";
  for (const ModuleSection& s : m.sections) {
    std::string ratio = s.compressed && s.size ? format("%5.1f%%", 100.0 * s.storedSize / s.size) : std::string("-");
    out += format("  [%2u] %-20s %-13s %-5s  0x%08X  0x%08X  0x%08X  0x%08X  %-5s  %-6s  %s\n", s.index, s.name.c_str(),
                  sectionTypeName(s.h.sh_type).c_str(), sectionFlagLetters(s.h.sh_flags).c_str(), s.h.sh_addr,
                  s.h.sh_offset, s.size, s.storedSize, s.group ? moduleGroupName(*s.group) : "-", ratio.c_str(),
                  crcState(s).c_str());
  }
  out +=
      "  Flags: W write, A alloc, X execute, M merge, S strings, I info link, T thread-local, Z compressed,\n"
      "  + other. Size is unpacked, Stored is in the file (with the size word when compressed).\n";
}

std::string sectionRef(const Module& m, uint32_t index) {
  if (index >= m.sections.size() || m.sections[index].name.empty()) return format("section %u", index);
  return format("section %u (%s)", index, m.sections[index].name.c_str());
}

void importView(std::string& out, const Module& m) {
  out += "\nImports:\n";
  if (m.imports.empty()) out += "  none\n";
  for (const ModuleImport& imp : m.imports) {
    uint32_t base = m.sections[imp.section].h.sh_addr;
    out += format("  %s: library \"%s\", %u symbols, signature 0x%08X\n", sectionRef(m, imp.section).c_str(),
                  imp.library.c_str(), imp.count, imp.signature);
    out += "    Slot  Address     Kind     Name\n";
    for (const ModuleSymbol& s : imp.symbols)
      out += format("    %4u  0x%08X  %-7s  %s\n", (s.s.st_value - base) / 8, s.s.st_value,
                    symbolTypeName(symType(s.s)).c_str(), s.name.c_str());
  }
}

void exportView(std::string& out, const Module& m) {
  out += "\nExports:\n";
  if (m.exports.empty()) out += "  none\n";
  for (const ModuleExportTable& t : m.exports) {
    out += format("  %s: %u %s exports, signature 0x%08X\n", sectionRef(m, t.section).c_str(), t.count,
                  t.functions ? "function" : "data", t.signature);
    out += "    Entry  Value       Kind  Name\n";
    for (size_t k = 0; k < t.entries.size(); ++k) {
      const ModuleExport& e = t.entries[k];
      out += format("    %5zu  0x%08X  %-4s  %s\n", k, e.value,
                    t.functions ? "FUNC"
                    : e.tls     ? "TLS"
                                : "DATA",
                    e.name.c_str());
    }
  }
}

std::string sectionIndexName(uint16_t shndx) {
  if (shndx == SHN_UNDEF) return "UND";
  if (shndx == SHN_ABS) return "ABS";
  return format("%u", shndx);
}

void symbolView(std::string& out, const Module& m) {
  if (m.symtab < 0) {
    out += "\nSymbol table: none\n";
    return;
  }
  out += format("\nSymbol table, %s, %zu entries:\n", sectionRef(m, static_cast<uint32_t>(m.symtab)).c_str(),
                m.symbols.size());
  out += "     Num  Value       Size        Type     Bind    Ndx    Name\n";
  for (const ModuleSymbol& s : m.symbols)
    out += format("  %6u  0x%08X  0x%08X  %-7s  %-6s  %-5s  %s\n", s.index, s.s.st_value, s.s.st_size,
                  symbolTypeName(symType(s.s)).c_str(), symbolBindName(symBind(s.s)).c_str(),
                  sectionIndexName(s.s.st_shndx).c_str(), s.name.c_str());
}

}  // namespace

std::string textView(const std::string& path, const Module& m, const DumpOptions& opt) {
  std::string out = headline(path, m);
  if (opt.summary) {
    fileInfoView(out, m);
    regionView(out, m);
    sectionView(out, m);
  }
  if (opt.imports) importView(out, m);
  if (opt.exports) exportView(out, m);
  if (opt.symbols) symbolView(out, m);
  if (!opt.verify && !m.problems.empty())
    out += m.problems.size() == 1 ? std::string("\n1 problem found; --verify shows it.\n")
                                  : format("\n%zu problems found; --verify lists them.\n", m.problems.size());
  if (opt.verify) {
    if (opt.summary || opt.imports || opt.exports || opt.symbols) out += "\n";
    if (m.problems.empty()) {
      out += "OK\n";
    } else {
      out += format("%zu problem%s:\n", m.problems.size(), m.problems.size() == 1 ? "" : "s");
      for (const std::string& p : m.problems) out += "  " + p + "\n";
    }
  }
  return out;
}

}  // namespace zv
