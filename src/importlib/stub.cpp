// The import stub object: a small relocatable ELF file that declares every
// export of the module as a global symbol, functions in a `.fimport_<lib>`
// section and data in a `.dimport_<lib>` section. A module linked against it
// gets import sections that carry the export count, the export table's
// signature and this library's name, which the converter later completes.
//
// The export tables are read from the input as the linker left them
// (big-endian words: count, signature, then a value word and a name word per
// entry, then the names). Every entry and name is checked to lie inside its
// table before it is read.
#include <algorithm>
#include <span>

#include "importlib/importlib.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

constexpr uint32_t kImportSlot = 8;        // bytes per export in a table or import section
constexpr uint32_t kTableHeader = 8;       // count and signature words
constexpr uint32_t kTlsFlag = 0x80000000;  // name word: the export is thread-local
constexpr uint8_t kRelocDtpRel32 = 78;     // thread-local data export
constexpr uint32_t kStubAlign = 64;
constexpr uint64_t kMaxStubSize = 0x7FFFFFFF;  // the archive states the size as a signed int

// One export table of the input, its header words read.
struct ExportTable {
  uint32_t section = 0;
  std::span<const uint8_t> bytes;
  uint32_t count = 0;
  uint32_t signature = 0;
};

struct ExportEntry {
  std::string name;
  bool threadLocal = false;
};

// The stub's sections before they are placed: headers in host order and the
// bytes each one writes, already in the object's byte order.
struct StubSection {
  Elf32_Shdr h{};
  std::vector<uint8_t> data;
};

uint64_t alignUp64(uint64_t v) { return (v + kStubAlign - 1) / kStubAlign * kStubAlign; }

// A stub that would not fit the archive's size field (only a damaged export
// table, with many entries sharing one long name, comes near it).
Status tooLarge(Context& ctx) {
  say(ctx, "***Error: Out of memory. Return -1\n");
  return Status::failed();
}

// Refuses export table `t`; `fault` says which piece lies outside it.
Status malformed(Context& ctx, const ExportTable& t, const std::string& fault) {
  std::string name = sectionNameByIndex(ctx, t.section);
  say(ctx, "***Error: \"%s\" export table is malformed: %s. Return -1.\n", name.c_str(), fault.c_str());
  return Status::failed();
}

// Reads the header words of export section `index` and checks that all its
// entries lie inside it.
Status openExportTable(Context& ctx, uint32_t index, ExportTable& t) {
  t.section = index;
  std::span<uint8_t> bytes = sectionBytes(ctx.input, index);
  t.bytes = bytes;
  if (bytes.size() < kTableHeader) return malformed(ctx, t, "its header lies outside the section");
  t.count = loadBE32(bytes.data());
  t.signature = loadBE32(bytes.data() + 4);
  uint64_t end = kTableHeader + uint64_t(kImportSlot) * t.count;
  if (end > bytes.size()) {
    uint64_t first = (bytes.size() - kTableHeader) / kImportSlot;
    return malformed(ctx, t, "entry " + std::to_string(first) + " lies outside the section");
  }
  return {};
}

// Entry k of a table: its name (up to its zero byte or the end of the
// section) and its thread-local flag.
Status readExportEntry(Context& ctx, const ExportTable& t, uint32_t k, ExportEntry& e) {
  uint32_t word = loadBE32(t.bytes.data() + kTableHeader + uint64_t(kImportSlot) * k + 4);
  e.threadLocal = (word & kTlsFlag) != 0;
  uint32_t offset = word & ~kTlsFlag;
  if (offset >= t.bytes.size())
    return malformed(ctx, t, "the name of entry " + std::to_string(k) + " lies outside the section");
  auto first = t.bytes.begin() + offset;
  e.name.assign(first, std::find(first, t.bytes.end(), uint8_t{0}));
  return {};
}

// The symbol type of data export k: thread-local when its relocation is an
// R_PPC_DTPREL32 and the table says so, an object otherwise.
Status dataExportType(Context& ctx, const ExportTable& t, uint32_t relaIndex, uint32_t k, const ExportEntry& e,
                      uint8_t& type) {
  type = STT_OBJECT;
  if (relaIndex == 0) return {};
  Elf32_Rela r{};
  uint32_t base = ctx.input.sh[t.section].sh_addr;
  if (!readRela(ctx.input, relaIndex, k, r) || r.r_offset - base != kTableHeader + kImportSlot * k) {
    say(ctx, "***Error: mismatched relocations and .dexports section. Return -1\n");
    return Status::failed();
  }
  if (relType(r.r_info) != kRelocDtpRel32) return {};
  if (!e.threadLocal) {
    say(ctx,
        "***Error: Export symbol \"%s\" is unexpectedly a TLS symbol. Clobber and rebuild with "
        "current vodazed[32|64]. Return -1.\n",
        e.name.c_str());
    return Status::failed();
  }
  type = STT_TLS;
  return {};
}

void putBE32(std::vector<uint8_t>& v, uint32_t word) {
  uint8_t b[4];
  storeBE32(b, word);
  v.insert(v.end(), b, b + 4);
}

// An import section: count, signature and the library name; the rest of its
// sh_size is zero.
StubSection importSection(const ExportTable& t, const std::string& libName, uint32_t flags) {
  StubSection s;
  uint32_t nameLength = static_cast<uint32_t>(libName.size());
  s.h.sh_type = SHT_VKM_IMPORTS;
  s.h.sh_flags = flags;
  s.h.sh_size = std::max(kImportSlot * t.count + kTableHeader, nameLength + 9);
  s.h.sh_info = nameLength;
  s.h.sh_addralign = 4;
  putBE32(s.data, t.count);
  putBE32(s.data, t.signature);
  s.data.insert(s.data.end(), libName.begin(), libName.end());
  return s;
}

StubSection stringTable(std::string strings) {
  StubSection s;
  s.h.sh_type = SHT_STRTAB;
  s.h.sh_size = static_cast<uint32_t>(strings.size());
  s.h.sh_addralign = 1;
  s.data.assign(strings.begin(), strings.end());
  return s;
}

StubSection symbolTable(std::vector<Elf32_Sym> syms, bool swap, uint32_t strtabIndex) {
  StubSection s;
  s.h.sh_type = SHT_SYMTAB;
  s.h.sh_size = static_cast<uint32_t>(syms.size() * kSymSize);
  s.h.sh_link = strtabIndex;
  s.h.sh_info = 1;
  s.h.sh_addralign = kSymSize;
  s.h.sh_entsize = kSymSize;
  s.data.resize(s.h.sh_size);
  for (size_t i = 0; i < syms.size(); ++i) {
    if (swap) swapSymbol(syms[i]);
    storeRecord(s.data.data() + i * kSymSize, syms[i]);
  }
  return s;
}

// The symbols and names of one export table, appended to the stub's tables.
Status addExports(Context& ctx, const ExportTable& t, uint32_t relaIndex, bool data, uint16_t shndx,
                  std::vector<Elf32_Sym>& syms, std::string& strings) {
  // The names follow the entries, each with its own zero byte (the last may
  // run to the end of the section without one): together they never take
  // more than that area. Entries that share one long name (a damaged table)
  // would otherwise multiply it into the stub.
  const uint64_t nameArea = t.bytes.size() - kTableHeader - uint64_t(kImportSlot) * t.count;
  uint64_t nameBytes = 0;
  for (uint32_t k = 0; k < t.count; ++k) {
    ExportEntry e;
    if (Status r = readExportEntry(ctx, t, k, e); !r.ok()) return r;
    nameBytes += e.name.size() + 1;
    if (nameBytes > nameArea + 1)
      return malformed(ctx, t,
                       "the names up to entry " + std::to_string(k) + " take more than the " +
                           std::to_string(nameArea) + " bytes after the entries");
    uint8_t type = STT_FUNC;
    if (data) {
      if (Status r = dataExportType(ctx, t, relaIndex, k, e, type); !r.ok()) return r;
    }
    if (strings.size() + e.name.size() + 1 > kMaxStubSize) return tooLarge(ctx);
    Elf32_Sym s{};
    s.st_name = static_cast<uint32_t>(strings.size());
    s.st_value = kTableHeader + kImportSlot * k;
    s.st_info = static_cast<uint8_t>(STB_GLOBAL << 4 | type);
    s.st_shndx = shndx;
    syms.push_back(s);
    strings.append(e.name);
    strings.push_back('\0');
  }
  return {};
}

// The stub's sections, symbols, symbol names and section names as they grow.
struct StubTables {
  std::vector<StubSection> secs = std::vector<StubSection>(1);
  std::vector<Elf32_Sym> syms = std::vector<Elf32_Sym>(1);
  std::string strings = std::string(1, '\0');
  std::string names = std::string(1, '\0');
};

// Appends the import section of export table `t` (".fimport_" or ".dimport_"
// + the library name) and a symbol per export.
Status addImportSection(Context& ctx, StubTables& st, const ExportTable& t, const std::string& libName, bool data,
                        uint32_t relaIndex) {
  st.secs.push_back(importSection(t, libName, data ? SHF_WRITE | SHF_ALLOC : SHF_ALLOC | SHF_EXECINSTR));
  st.secs.back().h.sh_name = static_cast<uint32_t>(st.names.size());
  st.names += (data ? ".dimport_" : ".fimport_") + libName + '\0';
  uint16_t shndx = static_cast<uint16_t>(st.secs.size() - 1);
  return addExports(ctx, t, relaIndex, data, shndx, st.syms, st.strings);
}

// Appends .symtab, .strtab and .secstrtab, the last one naming them all.
void addSymbolTables(StubTables& st, bool swap) {
  uint32_t strtabIndex = static_cast<uint32_t>(st.secs.size() + 1);
  st.secs.push_back(symbolTable(std::move(st.syms), swap, strtabIndex));
  st.secs.back().h.sh_name = static_cast<uint32_t>(st.names.size());
  st.names += std::string(".symtab") + '\0';
  st.secs.push_back(stringTable(std::move(st.strings)));
  st.secs.back().h.sh_name = static_cast<uint32_t>(st.names.size());
  st.names += std::string(".strtab") + '\0';
  uint32_t ownName = static_cast<uint32_t>(st.names.size());
  st.names += std::string(".secstrtab") + '\0';
  st.secs.push_back(stringTable(std::move(st.names)));
  st.secs.back().h.sh_name = ownName;
}

// Places the sections (the first at 64, each next one at the following
// multiple of 64, then the header table) and writes the object.
Status placeStub(Context& ctx, std::vector<StubSection>& secs, StubObject& out) {
  uint64_t offset = kStubAlign;
  for (size_t i = 1; i < secs.size(); ++i) {
    secs[i].h.sh_offset = static_cast<uint32_t>(offset);
    offset = alignUp64(offset + secs[i].h.sh_size);
    if (offset > kMaxStubSize) break;
  }
  uint64_t total = alignUp64(offset + kShdrSize * secs.size());
  if (total > kMaxStubSize) return tooLarge(ctx);
  bool swap = ctx.input.eh.e_ident[EI_DATA] != ELFDATA2LSB;
  out.shoff = static_cast<uint32_t>(offset);
  out.shnum = static_cast<uint32_t>(secs.size());
  out.bytes.assign(total, 0);
  out.contents.clear();
  for (size_t i = 0; i < secs.size(); ++i) {
    StubSection& s = secs[i];
    if (s.h.sh_size != 0) {
      std::copy(s.data.begin(), s.data.end(), out.bytes.begin() + s.h.sh_offset);
      out.contents.push_back({s.h.sh_offset, static_cast<uint32_t>(s.data.size())});
    }
    Elf32_Shdr h = s.h;
    if (swap) swapSectionHeader(h);
    storeRecord(out.bytes.data() + out.shoff + i * kShdrSize, h);
  }

  Elf32_Ehdr eh{};
  const uint8_t ident[] = {0x7F, 'E', 'L', 'F', ELFCLASS32, ctx.input.eh.e_ident[EI_DATA], 1};
  std::copy(std::begin(ident), std::end(ident), eh.e_ident);
  eh.e_type = 1;
  eh.e_machine = ctx.input.eh.e_machine;
  eh.e_version = 1;
  eh.e_shoff = out.shoff;
  eh.e_ehsize = kEhdrSize;
  eh.e_phentsize = kPhdrSize;
  eh.e_shentsize = kShdrSize;
  eh.e_shnum = static_cast<uint16_t>(secs.size());
  eh.e_shstrndx = static_cast<uint16_t>(secs.size() - 1);
  if (swap) swapElfHeader(eh);
  storeRecord(out.bytes.data(), eh);
  return {};
}

}  // namespace

std::string importLibraryName(const std::string& outputPath) {
  size_t cut = outputPath.find_last_of("/\\");
  std::string name = cut == std::string::npos ? outputPath : outputPath.substr(cut + 1);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

Status buildImportStub(Context& ctx, const std::string& libName, uint32_t funcExportIndex, uint32_t dataExportIndex,
                       uint32_t dataExportRelaIndex, StubObject& out) {
  ExportTable funcs, data;
  if (funcExportIndex) {
    if (Status r = openExportTable(ctx, funcExportIndex, funcs); !r.ok()) return r;
  }
  if (dataExportIndex) {
    if (Status r = openExportTable(ctx, dataExportIndex, data); !r.ok()) return r;
    if (dataExportRelaIndex) {
      uint32_t numRela = entryCount(ctx.input.sh[dataExportRelaIndex], kRelaSize);
      if (data.count != numRela) {
        say(ctx, "***Error: numDataExports (%d) != numRelaDataExports (%d). Return -1\n", static_cast<int>(data.count),
            static_cast<int>(numRela));
        return Status::failed();
      }
    }
  }

  uint64_t symbolCount = 1 + uint64_t(funcs.count) + data.count;
  if (symbolCount * kSymSize > kMaxStubSize) return tooLarge(ctx);

  StubTables tables;
  if (funcExportIndex) {
    if (Status r = addImportSection(ctx, tables, funcs, libName, false, 0); !r.ok()) return r;
  }
  if (dataExportIndex) {
    if (Status r = addImportSection(ctx, tables, data, libName, true, dataExportRelaIndex); !r.ok()) return r;
  }
  addSymbolTables(tables, ctx.input.eh.e_ident[EI_DATA] != ELFDATA2LSB);
  return placeStub(ctx, tables.secs, out);
}

}  // namespace zv
