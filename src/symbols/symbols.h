// The symbol and relocation work of a conversion: access to the symbol,
// string and section-name tables, classification of sections and symbols,
// reference counts and unused sections, the new compact symbol table, the
// loader's relocation rules, string compaction and the import sections.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "run/context.h"

namespace zv {

// --- Table access -----------------------------------------------------------
void locateSymbolTable(Context& ctx);
// Locates the symbol table the conversion needs; fails after the message
// when the input has none.
Status findSymbolTable(Context& ctx);
int32_t findStringTable(Context& ctx);  // index of the symbol table's string table, -1 when none
// Bytes of the section-name table, empty when there is none.
std::span<uint8_t> sectionNames(Context& ctx);
// Reads symbol i of the current symbol table; false when i is outside it.
bool symbolAt(Context& ctx, uint32_t i, Elf32_Sym& out);
// Writes symbol i of the current symbol table; false when i is outside it.
[[nodiscard]] bool setSymbolAt(Context& ctx, uint32_t i, const Elf32_Sym& s);
// The entries symbolAt reaches, resolved once for a walk over many symbols.
EntryTable<Elf32_Sym> symbolTable(Context& ctx);
// The symbol's name ("<NULL>" without a string table); prints the range
// message for an st_name past the table. Never reads outside the table.
std::string symbolName(Context& ctx, const Elf32_Sym& sym);
// The same name without a copy: valid until the string table changes.
std::string_view symbolNameView(Context& ctx, const Elf32_Sym& sym);
// The bytes those names are read from: the string table up to its size in
// use, empty without one.
std::span<const uint8_t> stringTable(Context& ctx);
// Section names, as the input gave them (see InputSectionNames).
std::string sectionName(Context& ctx, uint32_t index);         // "<NULL>" without a names table
std::string sectionNameByIndex(Context& ctx, uint32_t index);  // "" for no section / no table
// Whether sectionName(index) is `name`, reading no more of the table than that.
bool sectionNameIs(Context& ctx, uint32_t index, std::string_view name);
// Keeps the input's section names before the names table is rebuilt.
void keepInputSectionNames(Context& ctx);
// Rebuilds the section-name table with the names of referenced sections only
// (when that makes it smaller), after keeping the input's names.
void rebuildSectionNames(Context& ctx);
// Whether the rebuilt names table dropped the name of section `index`.
bool sectionNameDropped(const Context& ctx, uint32_t index);
uint32_t findExportSection(Context& ctx);
const char* symbolKindName(const Elf32_Sym& sym);
const char* symbolBindingName(const Elf32_Sym& sym);

// --- Symbols grouped by section --------------------------------------------------
// Passes that visit some sections in index order and, in each, the symbols
// that section defines in index order (the unused-section pass, the import
// layout) find them here, grouped in one walk over the table rather than one
// walk per section. Writes the pass makes are reported back, so an entry
// whose section index a write changed joins its new group: a write reaches
// other entries only when entries overlap (entries closer than 16 bytes) or
// when the pass writes other bytes over the table.
struct SymbolGroups {
  std::vector<uint8_t> wanted;                 // per section index: grouped
  std::vector<std::vector<uint32_t>> members;  // per section: candidates, re-checked on visit
  uint32_t visiting = 0;                       // section being visited, 0 when none
  uint32_t last = 0;                           // last symbol visited in it
  std::vector<uint32_t> pending;               // min-heap of symbols still to visit in it
  // Import layout: the CRC and length (with its zero byte) of each name it
  // has hashed, by string-table offset, so names many symbols share are
  // hashed once.
  std::unordered_map<uint32_t, std::pair<uint32_t, uint64_t>> nameCrcs;
};
// Groups the symbols of the sections marked in `wanted` (one flag per section).
SymbolGroups groupSymbolsBySection(Context& ctx, std::vector<uint8_t> wanted);
// Calls visit(i, sym), in ascending i, for each symbol whose st_shndx is k at
// the moment the visit reaches it; stops when visit returns false.
void visitSectionSymbols(Context& ctx, SymbolGroups& g, uint32_t k,
                         const std::function<bool(uint32_t, Elf32_Sym&)>& visit);
// setSymbolAt, and regrouping of the entries the write touched. Meant for
// the visitors of visitSectionSymbols: the entry they are handed was just
// read through the same bounds, so the write always reaches it.
void setGroupedSymbol(Context& ctx, SymbolGroups& g, uint32_t i, const Elf32_Sym& s);
// Regroups the symbol entries that `length` bytes written at `at` touched.
void symbolsWritten(Context& ctx, SymbolGroups& g, const uint8_t* at, size_t length);

// --- Classification ----------------------------------------------------------
void classifySections(Context& ctx);
void markReferencedSymbols(Context& ctx);
void classifySymbols(Context& ctx, uint32_t i);
// The same for entry i as read, when the SymbolInfo table already covers it.
void classifySymbol(Context& ctx, uint32_t i, const Elf32_Sym& sym);
void dumpSymbolInfo(Context& ctx, uint32_t i);

// --- Reference counts and unused sections ------------------------------------
// The pass before the symbol table is reworked: a section is used when the
// loader loads it or a counted relocation refers to it; the symbols of the
// others are cleared. The linker's own export list is not loaded unless
// something refers to it.
void countReferencesAndDropUnused(Context& ctx);
void countSectionReferences(Context& ctx);
void countRelocationTargets(Context& ctx, uint32_t relaIndex);
// The unused-section pass: clears the symbols of sections nothing uses; true
// when it cleared any. No counted relocation names such a symbol, so the
// reference counts stay valid unless the symbol table shares bytes with a
// relocation section (see symbolsShareBytesWithRelocations).
bool removeUnusedSections(Context& ctx);
// Whether the symbol table in use overlaps a relocation section in the file,
// so that clearing a symbol can change a relocation.
bool symbolsShareBytesWithRelocations(Context& ctx);
void removeSectionSymbols(Context& ctx, uint32_t k);
void stripUnusedSymbols(Context& ctx);

// --- New symbol table ----------------------------------------------------------
// Fails (after its message) when relocations could not name every kept
// symbol or the kept names would not fit the loader area.
Status buildNewSymbolTable(Context& ctx);
// Numbers symbol i in the new table and counts its name; fails as above.
// A name the classification measured is taken at that length, so nothing
// may change the symbol's name or the string table in between.
Status assignNewSymbolId(Context& ctx, uint32_t i);
void writeNewSymbolTable(Context& ctx);
void rewriteRelocationSymbols(Context& ctx);
void dumpOldSymbol(Context& ctx, uint32_t first, uint32_t i);
void dumpPlannedSymbolTable(Context& ctx);
void dumpNewSymbol(Context& ctx, uint32_t k);

// --- Relocation and export checks --------------------------------------------
Status checkAllRelocations(Context& ctx);
Status checkRelocations(Context& ctx, uint32_t relaIndex);

// --- String compaction (-old -s) ----------------------------------------------
Status compactImportStrings(Context& ctx);
Status compactStringTable(Context& ctx, uint32_t stIndex);
// One string of a table under compaction (offset and length in the old
// table, the length with its terminator; newOffset 0 until it is placed).
struct StringRecord {
  uint32_t offset = 0;
  uint32_t length = 0;
  uint32_t uses = 0;
  uint32_t newOffset = 0;
};
// The new offset of the name at `offset` (counting a use of the string that
// holds it): the new offset of that string plus the distance into it, or 0
// when the string is not kept. Warns and gives 0 for an offset past the table.
uint32_t findStringRecord(Context& ctx, std::span<StringRecord> records, uint32_t offset);

// --- Import sections -----------------------------------------------------------
void layoutImportSection(Context& ctx, uint32_t k, uint32_t address);
// The same with the symbols already grouped (the layout places many import
// sections; `g` must group section k).
void layoutImportSection(Context& ctx, uint32_t k, uint32_t address, SymbolGroups& g);

}  // namespace zv
