// Compaction of string tables when the old symbol table is kept and names
// are stripped (-old -s). The loader needs a name only where it binds a
// symbol at load time: undefined (non-weak) symbols, symbols of import
// sections and absolute ones, plus the section names. Every other string is
// dropped, the needed ones are packed behind a leading zero byte, and every
// section and symbol name offset into the table is rewritten to match.
#include <algorithm>
#include <new>

#include "symbols/symbols.h"

namespace zv {

namespace {

// Splits the table into its strings: each zero byte ends one, and a final
// run without a terminator counts as one more.
std::vector<StringRecord> splitStrings(std::span<const uint8_t> table) {
  size_t count = 0;
  for (uint8_t c : table) count += (c == 0);
  if (!table.empty() && table.back() != 0) ++count;
  std::vector<StringRecord> records(count);
  uint32_t start = 0;
  size_t k = 0;
  for (uint32_t i = 0; i < table.size(); ++i) {
    if (table[i] != 0) continue;
    records[k++] = StringRecord{start, i - start + 1, 0, 0};
    start = i + 1;
  }
  if (k < count) records[k] = StringRecord{start, static_cast<uint32_t>(table.size()) - start + 1, 0, 0};
  return records;
}

// Whether the loader binds this symbol by name: undefined and not weak,
// defined in an import section, or absolute/common/reserved.
bool loaderNeedsName(const ElfImage& img, const Elf32_Sym& sym) {
  uint32_t shndx = sym.st_shndx;
  if (shndx == SHN_UNDEF) return symBind(sym) != STB_WEAK;
  if (shndx >= SHN_LORESERVE) return true;
  return namesSection(img, shndx) && img.sh[shndx].sh_type == SHT_VKM_IMPORTS;
}

// Counts a use of every string the relocations of section `r` need by name.
void markRelocationNames(Context& ctx, uint32_t r, std::span<StringRecord> records) {
  ElfImage& img = ctx.input;
  uint32_t symtab = img.sh[r].sh_link;
  uint32_t count = entryCount(img.sh[r], kRelaSize);
  for (uint32_t n = 0; n < count; ++n) {
    Elf32_Rela rel;
    if (!readRela(img, r, n, rel)) break;
    if (relType(rel.r_info) == 0) continue;
    Elf32_Sym sym;
    if (!readSym(img, symtab, relSym(rel.r_info), sym)) continue;  // no such symbol: nothing to keep
    if (loaderNeedsName(img, sym)) findStringRecord(ctx, records, sym.st_name);
  }
}

// The sections that refer into a string table: the relocation sections whose
// symbol table names with it, and the symbol tables that do.
struct TableUsers {
  std::vector<uint32_t> relocations;
  std::vector<uint32_t> symbolTables;
};

// The users of every string table, found in one walk over the sections (a
// walk per table would cost tables x sections). Compacting a table changes no
// section's type, link or size but the table's own, so the lists stay true.
std::vector<TableUsers> findTableUsers(const ElfImage& img) {
  uint32_t n = sectionCount(img);
  std::vector<TableUsers> users(n);
  for (uint32_t r = 0; r < n; ++r) {
    const Elf32_Shdr& h = img.sh[r];
    if (h.sh_size == 0) continue;
    if (h.sh_type == SHT_RELA && namesSection(img, h.sh_link)) {
      uint32_t strings = img.sh[h.sh_link].sh_link;
      if (strings < n) users[strings].relocations.push_back(r);
    }
    if (h.sh_type == SHT_SYMTAB && h.sh_link < n) users[h.sh_link].symbolTables.push_back(r);
  }
  return users;
}

void markNeededStrings(Context& ctx, uint32_t stIndex, const TableUsers& users, std::span<StringRecord> records) {
  ElfImage& img = ctx.input;
  uint32_t n = sectionCount(img);
  if (stIndex == img.eh.e_shstrndx)
    for (uint32_t i = 0; i < n; ++i)
      if (img.sh[i].sh_name != 0 && !sectionNameDropped(ctx, i)) findStringRecord(ctx, records, img.sh[i].sh_name);
  for (uint32_t r : users.relocations) markRelocationNames(ctx, r, records);
}

// Points every section and symbol name of the table at its new place.
void rewriteNames(Context& ctx, uint32_t stIndex, const TableUsers& users, std::span<StringRecord> records) {
  ElfImage& img = ctx.input;
  uint32_t n = sectionCount(img);
  if (stIndex == img.eh.e_shstrndx)
    for (uint32_t i = 0; i < n; ++i) {
      if (img.sh[i].sh_name == 0) continue;
      // A section whose name the rebuilt table dropped has no name left to find.
      img.sh[i].sh_name = sectionNameDropped(ctx, i) ? 0 : findStringRecord(ctx, records, img.sh[i].sh_name);
    }
  for (uint32_t s : users.symbolTables) {
    const Elf32_Shdr& h = img.sh[s];
    uint32_t count = entryCount(h, kSymSize);
    if (count < 2) continue;
    for (uint32_t j = 0; j < count; ++j) {
      Elf32_Sym sym;
      if (!readSym(img, s, j, sym)) break;
      if (sym.st_name == 0) continue;
      sym.st_name = findStringRecord(ctx, records, sym.st_name);
      writeSym(img, s, j, sym);
    }
  }
}

Status compactTable(Context& ctx, uint32_t stIndex, const TableUsers& users);

}  // namespace

uint32_t findStringRecord(Context& ctx, std::span<StringRecord> records, uint32_t offset) {
  if (records.empty()) return 0;
  // The last string that starts at or before the offset. The linker stores a
  // name that is the tail of another inside it, so an offset may lie inside
  // a string: that string is the one kept, and the name moves with it.
  auto after = std::upper_bound(records.begin(), records.end(), offset,
                                [](uint32_t key, const StringRecord& rec) { return key < rec.offset; });
  if (after != records.begin()) {
    StringRecord& rec = *(after - 1);
    uint32_t into = offset - rec.offset;
    if (into < rec.length) {
      ++rec.uses;
      return rec.newOffset == 0 ? 0 : rec.newOffset + into;
    }
  }
  say(ctx, "!!WARN: String not found!\n");
  breakIfDebugged();
  return 0;
}

Status compactImportStrings(Context& ctx) {
  std::vector<TableUsers> users = findTableUsers(ctx.input);
  for (uint32_t i = 0; i < sectionCount(ctx.input); ++i) {
    const Elf32_Shdr& h = ctx.input.sh[i];
    if (h.sh_size == 0 || h.sh_type != SHT_STRTAB) continue;
    if (Status r = compactTable(ctx, i, users[i]); !r.ok()) return r;
  }
  return {};
}

Status compactStringTable(Context& ctx, uint32_t stIndex) {
  if (!namesSection(ctx.input, stIndex)) return {};
  std::vector<TableUsers> users = findTableUsers(ctx.input);
  return compactTable(ctx, stIndex, users[stIndex]);
}

namespace {

Status compactTable(Context& ctx, uint32_t stIndex, const TableUsers& users) {
  ElfImage& img = ctx.input;
  if (!namesSection(img, stIndex) || img.sh[stIndex].sh_size == 0) return {};
  std::span<uint8_t> table = sectionBytes(img, stIndex);

  std::vector<StringRecord> records;
  try {
    records = splitStrings(table);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error: Mem alloc failure.\n");
    return Status::failed();
  }
  markNeededStrings(ctx, stIndex, users, records);

  uint64_t used = 1;  // the leading zero byte of the new table
  for (const StringRecord& rec : records)
    if (rec.uses != 0) used += rec.length;
  uint64_t percent = used * 100 / img.sh[stIndex].sh_size;
  if (percent > 90) return {};
  if (ctx.opt.verbose) {
    if (percent == 0)
      say(ctx, "< 1%% of stringtable used for import symbols.\n");
    else
      say(ctx, "%d%% of stringtable used for import symbols.\n", static_cast<int>(percent));
  }

  uint64_t newSize = (used + 4) & ~uint64_t(3);
  // A very small table can come out larger after rounding; it stays as it is.
  if (newSize > table.size()) return {};
  std::vector<uint8_t> packed;
  try {
    packed.assign(newSize, 0);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error Mem alloc failure.\n");
    return Status::failed();
  }
  uint32_t position = 1;
  for (StringRecord& rec : records) {
    if (rec.uses == 0) continue;
    rec.newOffset = position;
    std::copy_n(table.begin() + rec.offset, std::min<uint64_t>(rec.length, table.size() - rec.offset),
                packed.begin() + position);
    position += rec.length;
  }

  rewriteNames(ctx, stIndex, users, records);
  std::copy(packed.begin(), packed.end(), table.begin());
  img.sh[stIndex].sh_size = static_cast<uint32_t>(newSize);
  if (ctx.sym.view.strtab == static_cast<int32_t>(stIndex)) ctx.sym.view.stringsSize = img.sh[stIndex].sh_size;
  return {};
}

}  // namespace

}  // namespace zv
