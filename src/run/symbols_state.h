// The results of the symbol stage (src/symbols), which alone writes them;
// the later stages read them. What the symbol and relocation work knows
// about the input: where the symbol, string and section-name tables are, a
// record per section and per symbol, the section reference counts, and the
// new table.
#pragma once

#include <cstdint>
#include <vector>

#include "elf/elf_types.h"
#include "platform/platform.h"

namespace zv {

struct SymtabView {
  int32_t symtab = -1;            // index of the symbol table section, -1 when none
  int32_t strtab = -1;            // index of its string table, -1 when none
  int32_t sectionNameTable = -1;  // e_shstrndx once looked up
  int32_t symbolCount = 0;
  uint32_t stringsSize = 0;
  bool namesCached = false;
};

// What the classification makes of a section, from its type and address:
// code, data, an import or export table, or none of these.
enum class SectionClass : uint8_t { kText, kData, kImportExport, kOther };

struct SectionInfo {
  uint8_t isImport = 0;
  uint8_t isExport = 0;
  uint8_t isTls = 0;
  SectionClass kind = SectionClass::kText;
};

struct SymbolInfo {
  uint8_t exported = 0;  // a relocation of an export table refers to it
  uint8_t imported = 0;  // defined in an import section
  uint8_t func = 0;
  uint8_t code = 0;
  uint8_t data = 0;
  uint8_t sect = 0;
  uint8_t empty = 0;
  uint8_t undef = 0;
  uint8_t referenced = 0;
  uint8_t absolute = 0;
  uint8_t tls = 0;
  uint8_t nameMeasured = 0;  // nameLen already holds the length of the name (read without a message)
  uint32_t nameLen = 0;
  uint32_t newId = 0;
  uint32_t useId = 0;
  uint32_t offset = 0;
};

struct NewSymbolTable {
  int32_t nextId = 4;
  int32_t newStringsSize = 20;
  FilledVector<Elf32_Sym> newSymbols;
  FilledVector<uint8_t> newStrings;
};

// The section names as the input gave them, kept when the section-name table
// is rebuilt: the rebuilt table holds only the names of sections still in
// use, so the name offset of a section it dropped points at some other
// name's bytes. Messages name sections from here once it is taken.
struct InputSectionNames {
  bool taken = false;
  std::vector<uint8_t> table;     // the names table as it was
  std::vector<uint32_t> offsets;  // per section: its name's offset in `table`
  std::vector<uint8_t> dropped;   // per section: the rebuilt table has no name for it
};

struct SymbolsState {
  SymtabView view;
  InputSectionNames inputNames;
  std::vector<SectionInfo> sectionInfo;
  FilledVector<SymbolInfo> symbolInfo;
  uint32_t textBase = 0xFFFFFFFF;
  int32_t textSection = -1;
  uint32_t dataBase = 0xFFFFFFFF;
  int32_t dataSection = -1;
  std::vector<int32_t> sectionRefs;
  // Gathered while references are counted, so the symbol table work need not
  // walk the same relocations again: per symbol of the table in use, the
  // highest-numbered relocation section that names it (0 for none); per
  // section, whether its relocations are in that record.
  FilledVector<uint32_t> lastNamedBy;
  std::vector<uint8_t> relocationsSeen;
  NewSymbolTable table;
};

}  // namespace zv
