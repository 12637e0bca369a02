// The module viewer's picture of one VKM/VKX file: what the loader will read
// (the FileInfo record, the four groups and every section in them), each
// section unpacked and its CRC word checked against the unpacked bytes, the
// converter's own read-back checks run over it, and the import, export and
// symbol tables decoded from the unpacked contents. Reading never changes
// the bytes, never reads outside them, and turns every departure from the
// format into a line of `problems`; only a file that is not a module at all
// (too short, not ELF, not marked for the platform, no section table) stops
// the reading with a message.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "elf/elf_types.h"
#include "format/module_format.h"

namespace zv {

struct ModuleSection {
  uint32_t index = 0;
  std::string name;
  Elf32_Shdr h{};                    // host order
  std::optional<ModuleGroup> group;  // none for the null, CRC and FileInfo sections and empty ones
  bool compressed = false;
  uint32_t size = 0;              // bytes unpacked (the memory size of a SHT_NOBITS section)
  uint32_t storedSize = 0;        // bytes in the file, size word included (0 for SHT_NOBITS)
  bool contentsOk = false;        // the stored bytes lie in the file and unpack to `size` bytes
  std::optional<uint32_t> crc;    // the CRC word stored for it
  std::optional<bool> crcOk;      // whether it matches; none when not checked
  std::vector<uint8_t> contents;  // unpacked; kept only for the tables the views decode
};

struct ModuleRegion {
  ModuleGroup group = ModuleGroup::kData;
  uint32_t sections = 0;
  bool hasAddresses = false;
  uint32_t addrStart = 0;
  uint64_t addrEnd = 0;        // one past the highest byte of an allocated section
  uint64_t storedBytes = 0;    // in the file
  uint64_t unpackedBytes = 0;  // the sections' contents unpacked
  uint32_t memorySize = 0;     // what the FileInfo asks the loader for
};

struct ModuleSymbol {
  uint32_t index = 0;
  std::string name;
  Elf32_Sym s{};  // host order
};

struct ModuleImport {
  uint32_t section = 0;
  std::string library;
  uint32_t count = 0, signature = 0;
  std::vector<ModuleSymbol> symbols;  // with their slot addresses in st_value
};

struct ModuleExport {
  uint32_t value = 0;
  bool tls = false;
  std::string name;
};
struct ModuleExportTable {
  uint32_t section = 0;
  bool functions = false;  // code exports (.fexports); else data (.dexports)
  uint32_t count = 0, signature = 0;
  std::vector<ModuleExport> entries;
};

struct Module {
  bool bigEndian = true;
  bool vkx = false;
  uint64_t fileSize = 0;
  Elf32_Ehdr eh{};  // host order
  std::vector<ModuleSection> sections;
  bool haveFileInfo = false;
  FileInfoHeader fi;
  std::string fileName;
  std::vector<std::pair<std::string, std::string>> tags;
  std::vector<ModuleRegion> regions;  // DATA, LOAD, TEXT, TEMP
  int32_t symtab = -1;                // index of the symbol table, -1 when there is none
  std::vector<ModuleSymbol> symbols;  // its entries, from index 0
  std::vector<ModuleImport> imports;
  std::vector<ModuleExportTable> exports;
  std::vector<std::string> problems;  // every fault found, in the order found
};

struct ReadLimits {
  uint64_t maxUnpacked = uint64_t{1} << 32;  // bytes unpacked over all sections
};

// Reads the module in `bytes`. Returns "" on success (the module may still
// have problems) or what makes the bytes no module at all.
std::string readModule(std::span<const uint8_t> bytes, Module& m, const ReadLimits& limits = {});

// The unpacked contents of section `index` (for extraction). False with the
// reason when they cannot be had.
bool sectionContents(std::span<const uint8_t> bytes, const Module& m, uint32_t index, std::vector<uint8_t>& out,
                     std::string& why, const ReadLimits& limits = {});

// printf into a string (the views build their text with it).
std::string format(const char* fmt, ...);
// "section 3 (.text)", or "section 3" when it has no name, for messages.
std::string sectionLabel(const ModuleSection& s);

// Adds to m.problems every fixed rule of the format the module breaks (used
// by readModule once the sections are unpacked and grouped).
void checkFormatRules(std::span<const uint8_t> bytes, Module& m);

// Names of section types, flags and symbol types and bindings.
std::string sectionTypeName(uint32_t type);
std::string sectionFlagLetters(uint32_t flags);
std::string symbolTypeName(uint8_t type);
std::string symbolBindName(uint8_t bind);

}  // namespace zv
