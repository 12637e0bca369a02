// Which sections the module uses. A section counts as used when the loader
// loads it, when it is one of the symbol, string and section-name tables in
// use, or when a relocation that applies to a loaded section refers to a
// symbol defined in it. Symbols of unused sections are removed; in the
// old-table mode, symbols left in empty sections are re-homed into the
// section that covers their address or stripped; a symbol a relocation uses
// is never stripped.
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>

#include "platform/parallel.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

void addRef(Context& ctx, uint32_t index) {
  auto& refs = ctx.sym.sectionRefs;
  if (namesSection(ctx.input, index) && index < refs.size()) refs[index] += 1;
}

int32_t refsOf(const Context& ctx, uint32_t i) {
  const auto& refs = ctx.sym.sectionRefs;
  return i < refs.size() ? refs[i] : 0;
}

uint32_t symbolCount(const Context& ctx) { return static_cast<uint32_t>(std::max(ctx.sym.view.symbolCount, 0)); }

// A relocation section counts only when it applies to a section the loader
// loads; one aimed at no section at all is treated as aimed at an unloaded one.
bool appliesToLoadedSection(const ElfImage& img, const Elf32_Shdr& rs) {
  return namesSection(img, rs.sh_info) && (img.sh[rs.sh_info].sh_flags & SHF_ALLOC);
}

// Each symbol's section, in a table small enough to stay in the cache while
// a million relocations look it up. Taken once for all relocation sections.
std::vector<uint16_t> sectionOfEachSymbol(Context& ctx) {
  EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  std::vector<uint16_t> sectionOf(symbols.count);
  for (uint32_t s = 0; s < symbols.count; ++s) sectionOf[s] = symbols.get(s).st_shndx;
  return sectionOf;
}

void countTargets(Context& ctx, uint32_t relaIndex, const std::vector<uint16_t>& sectionOf);

void countRelocationSection(Context& ctx, uint32_t i, const std::vector<uint16_t>& sectionOf) {
  ElfImage& img = ctx.input;
  const Elf32_Shdr& rs = img.sh[i];
  if (!appliesToLoadedSection(img, rs)) return;
  addRef(ctx, i);
  addRef(ctx, rs.sh_link);  // its symbol table
  countTargets(ctx, i, sectionOf);
  if (namesSection(img, rs.sh_link)) addRef(ctx, img.sh[rs.sh_link].sh_link);  // its string table
}

// Clears the bytes of a symbol's name in the string table. Another symbol
// whose name shares these bytes loses its name too.
void blankName(Context& ctx, const Elf32_Sym& sym, size_t length) {
  int32_t strtab = ctx.sym.view.strtab;
  if (strtab < 0 || length == 0) return;
  std::span<uint8_t> table = sectionBytes(ctx.input, static_cast<uint32_t>(strtab));
  if (table.size() > ctx.sym.view.stringsSize) table = table.first(ctx.sym.view.stringsSize);
  if (uint64_t(sym.st_name) + length > table.size()) return;
  std::fill_n(table.begin() + sym.st_name, length, uint8_t(0));
}

// Which section holds an address: of the non-empty sections whose range
// [sh_addr, sh_addr + sh_size) contains the address, the one with the lowest
// index. The range ends cut the address space into pieces that every range
// covers whole or not at all; each piece is painted once, by the lowest-index
// section over it (sections taken in index order, a "next unpainted piece"
// forest skipping what is done). A lookup is then one binary search.
struct SectionCover {
  std::vector<uint64_t> cuts;  // sorted range ends; piece t is [cuts[t], cuts[t+1])
  std::vector<int32_t> owner;  // per piece: lowest covering section index, -1 for none
};

uint32_t nextUnpainted(std::vector<uint32_t>& next, uint32_t t) {
  uint32_t root = t;
  while (next[root] != root) root = next[root];
  while (next[t] != root) {
    uint32_t up = next[t];
    next[t] = root;
    t = up;
  }
  return root;
}

SectionCover coverSections(const ElfImage& img) {
  SectionCover c;
  uint32_t count = std::min<uint32_t>(sectionCount(img), SHN_LORESERVE);
  for (uint32_t j = 0; j < count; ++j) {
    const Elf32_Shdr& h = img.sh[j];
    if (h.sh_size == 0) continue;
    c.cuts.push_back(h.sh_addr);
    c.cuts.push_back(uint64_t(h.sh_addr) + h.sh_size);
  }
  std::sort(c.cuts.begin(), c.cuts.end());
  c.cuts.erase(std::unique(c.cuts.begin(), c.cuts.end()), c.cuts.end());
  uint32_t pieces = c.cuts.empty() ? 0 : static_cast<uint32_t>(c.cuts.size() - 1);
  c.owner.assign(pieces, -1);
  std::vector<uint32_t> next(pieces + 1);
  for (uint32_t t = 0; t <= pieces; ++t) next[t] = t;
  auto pieceOf = [&c](uint64_t x) {
    return static_cast<uint32_t>(std::lower_bound(c.cuts.begin(), c.cuts.end(), x) - c.cuts.begin());
  };
  for (uint32_t j = 0; j < count; ++j) {
    const Elf32_Shdr& h = img.sh[j];
    if (h.sh_size == 0) continue;
    uint32_t end = pieceOf(uint64_t(h.sh_addr) + h.sh_size);
    for (uint32_t t = nextUnpainted(next, pieceOf(h.sh_addr)); t < end; t = nextUnpainted(next, t)) {
      c.owner[t] = static_cast<int32_t>(j);
      next[t] = t + 1;
    }
  }
  return c;
}

// First non-empty section (lowest index) whose address range holds `value`,
// -1 when none.
int32_t sectionCovering(const SectionCover& c, uint32_t value) {
  auto above = std::upper_bound(c.cuts.begin(), c.cuts.end(), uint64_t(value));
  if (above == c.cuts.begin()) return -1;
  size_t t = static_cast<size_t>(above - c.cuts.begin()) - 1;
  return t < c.owner.size() ? c.owner[t] : -1;
}

// The non-empty sections by the address where they end, lowest index first
// among equal ends: a marker at the end of a table lies in no section, but
// the table's section ends at it.
using SectionEnds = std::vector<std::pair<uint64_t, uint32_t>>;

SectionEnds sectionEnds(const ElfImage& img) {
  SectionEnds ends;
  uint32_t count = std::min<uint32_t>(sectionCount(img), SHN_LORESERVE);
  for (uint32_t j = 0; j < count; ++j)
    if (img.sh[j].sh_size != 0) ends.emplace_back(uint64_t(img.sh[j].sh_addr) + img.sh[j].sh_size, j);
  std::sort(ends.begin(), ends.end());
  return ends;
}

// First non-empty section (lowest index) that ends at `value`, -1 when none.
int32_t sectionEndingAt(const SectionEnds& ends, uint32_t value) {
  auto at = std::lower_bound(ends.begin(), ends.end(), std::pair<uint64_t, uint32_t>(value, 0));
  return at != ends.end() && at->first == value ? static_cast<int32_t>(at->second) : -1;
}

// Which symbols of the symbol table in use the kept relocations name: those
// of relocation sections that apply to a loaded section. One flag per symbol.
std::vector<uint8_t> symbolsUsedByRelocations(Context& ctx) {
  ElfImage& img = ctx.input;
  uint32_t symbols = symbolCount(ctx);
  std::vector<uint8_t> used(symbols, 0);
  int32_t symtab = ctx.sym.view.symtab;
  for (uint32_t r = 1; r < sectionCount(img); ++r) {
    const Elf32_Shdr& rs = img.sh[r];
    if (rs.sh_size == 0 || rs.sh_type != SHT_RELA || !appliesToLoadedSection(img, rs)) continue;
    if (symtab < 0 || rs.sh_link != static_cast<uint32_t>(symtab)) continue;
    uint32_t entries = entryCount(rs, kRelaSize);
    Elf32_Rela rel;
    for (uint32_t n = 0; n < entries && readRela(img, r, n, rel); ++n) {
      uint32_t s = relSym(rel.r_info);
      if (relType(rel.r_info) != 0 && s < symbols) used[s] = 1;
    }
  }
  return used;
}

// What stripping needs to know of the module, gathered once.
struct StripContext {
  SectionCover cover;
  SectionEnds ends;
  std::vector<uint8_t> usedByRelocations;
};

void reportStripped(Context& ctx, const std::string& name, uint32_t value) {
  if (!ctx.opt.verbose) return;
  if (name == "_SDA_BASE_" || name == "_SDA2_BASE_") {
    // The default small-data base of a module without small data.
    if (value != 0x8000) say(ctx, "INFO: Unused symbol \"%s\" stripped (0x%08X)\n", name.c_str(), value);
    return;
  }
  say(ctx, "INFO: Unused symbol \"%s\" was stripped\n", name.c_str());
}

// False when the entry, once read, could not be rewritten: the table can then
// take no more writes, and the walk stops.
bool stripIfUnused(Context& ctx, const StripContext& sc, uint32_t i) {
  ElfImage& img = ctx.input;
  Elf32_Sym sym;
  if (!symbolAt(ctx, i, sym)) return true;
  uint32_t shndx = sym.st_shndx;
  if (shndx == 0 || !namesSection(img, shndx) || img.sh[shndx].sh_size != 0) return true;
  std::string name = symbolName(ctx, sym);
  uint8_t type = symType(sym);
  if (i < sc.usedByRelocations.size() && sc.usedByRelocations[i]) {
    // A relocation resolves through this symbol, so it stays with its value:
    // in the section that holds the address, else in the one that ends there
    // (an end marker), else where it is.
    int32_t home = sectionCovering(sc.cover, sym.st_value);
    if (home < 0) home = sectionEndingAt(sc.ends, sym.st_value);
    if (home < 0) return true;
    sym.st_shndx = static_cast<uint16_t>(home);
    return setSymbolAt(ctx, i, sym);
  }
  if (type != STT_SECTION && type != STT_FILE) {
    int32_t home = sectionCovering(sc.cover, sym.st_value);
    if (home >= 0) {
      sym.st_shndx = static_cast<uint16_t>(home);
      return setSymbolAt(ctx, i, sym);
    }
    reportStripped(ctx, name, sym.st_value);
  }
  blankName(ctx, sym, name.size());
  return setSymbolAt(ctx, i, Elf32_Sym{});
}

}  // namespace

void countSectionReferences(Context& ctx) {
  ElfImage& img = ctx.input;
  uint32_t count = sectionCount(img);
  ctx.sym.sectionRefs.assign(count, 0);
  ctx.sym.lastNamedBy.assign(symbolCount(ctx), 0);
  ctx.sym.relocationsSeen.assign(count, 0);
  std::vector<uint16_t> sectionOf = sectionOfEachSymbol(ctx);
  for (uint32_t i = 1; i < count; ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_size == 0) continue;
    if (h.sh_type == SHT_RELA)
      countRelocationSection(ctx, i, sectionOf);
    else if (h.sh_flags & SHF_ALLOC)
      addRef(ctx, i);
  }
  if (img.eh.e_shstrndx != 0) {
    addRef(ctx, img.eh.e_shstrndx);
    return;
  }
  for (uint32_t i = 1; i < count; ++i) img.sh[i].sh_name = 0;
}

void countRelocationTargets(Context& ctx, uint32_t relaIndex) {
  countTargets(ctx, relaIndex, sectionOfEachSymbol(ctx));
}

namespace {

void countTargets(Context& ctx, uint32_t relaIndex, const std::vector<uint16_t>& sectionOf) {
  ElfImage& img = ctx.input;
  if (!namesSection(img, relaIndex) || symbolCount(ctx) < 2) return;
  EntryTable<Elf32_Rela> relocs = relaTable(img, relaIndex);
  // addRef's test, resolved once: the sections a symbol can name.
  std::vector<int32_t>& refs = ctx.sym.sectionRefs;
  size_t named = std::min<size_t>({refs.size(), sectionCount(img), SHN_LORESERVE});
  FilledVector<uint32_t>& last = ctx.sym.lastNamedBy;
  // Each part of a large table counts on its own; the sums are added after.
  // The parts record this section for the symbols it names side by side:
  // they only ever store the same number.
  Parts parts = splitEntries(relocs.count, ctx.opt.threads);
  std::vector<std::vector<int32_t>> partCounts(parts.parts, std::vector<int32_t>(named, 0));
  forEachPart(parts, [&](uint32_t k, uint32_t begin, uint32_t end) {
    // Everything the loop reads, in locals: its stores could alias anything captured.
    int32_t* counts = partCounts[k].data();
    uint32_t* namedBy = last.data();
    const uint16_t* sections = sectionOf.data();
    const EntryTable<Elf32_Rela> table = relocs;
    const uint32_t symbolsInTable = static_cast<uint32_t>(sectionOf.size()),
                   recorded = static_cast<uint32_t>(last.size()), here = relaIndex;
    const size_t countable = named;
    for (uint32_t n = begin; n < end; ++n) {
      Elf32_Rela r = table.get(n);
      uint32_t s = relSym(r.r_info);
      if (relType(r.r_info) == 0 || s == 0) continue;
      if (s < recorded) {  // the record kept as a maximum, so each part may store it for any symbol
        std::atomic_ref<uint32_t> by(namedBy[s]);
        uint32_t was = by.load(std::memory_order_relaxed);
        by.store(was < here ? here : was, std::memory_order_relaxed);
      }
      if (s >= symbolsInTable) continue;
      uint32_t shndx = sections[s];
      if (shndx < countable) counts[shndx] += 1;
    }
  });
  for (const std::vector<int32_t>& counts : partCounts)
    for (size_t j = 0; j < named; ++j) refs[j] += counts[j];
  if (relaIndex < ctx.sym.relocationsSeen.size()) ctx.sym.relocationsSeen[relaIndex] = 1;
}

}  // namespace

void countReferencesAndDropUnused(Context& ctx) {
  if (uint32_t ex = findExportSection(ctx); ex != 0) ctx.input.sh[ex].sh_flags &= ~SHF_ALLOC;
  countSectionReferences(ctx);
  // Only symbols no counted relocation uses are cleared, so the counts hold,
  // unless the symbol table and a relocation section share bytes.
  if (removeUnusedSections(ctx) && symbolsShareBytesWithRelocations(ctx)) countSectionReferences(ctx);
}

bool removeUnusedSections(Context& ctx) {
  ElfImage& img = ctx.input;
  uint32_t count = sectionCount(img);
  std::vector<uint8_t> unused(count, 0);
  bool any = false;
  for (uint32_t i = 1; i < count; ++i) {
    const Elf32_Shdr& h = img.sh[i];
    unused[i] = h.sh_size != 0 && refsOf(ctx, i) == 0 && !(h.sh_flags & SHF_ALLOC);
    any = any || unused[i];
  }
  if (!any) return false;
  bool cleared = false;
  SymbolGroups groups = groupSymbolsBySection(ctx, std::move(unused));
  for (uint32_t k = 1; k < count; ++k) {
    if (!groups.wanted[k]) continue;
    if (ctx.opt.verbose)
      say(ctx, "Section %d unused \"%s\".\n", static_cast<int>(k), sectionNameByIndex(ctx, k).c_str());
    visitSectionSymbols(ctx, groups, k, [&](uint32_t i, Elf32_Sym& sym) {
      if (ctx.opt.verbose) say(ctx, "  Unused Symbol \"%s\"\n", symbolName(ctx, sym).c_str());
      setGroupedSymbol(ctx, groups, i, Elf32_Sym{});
      cleared = true;
      return true;
    });
  }
  return cleared;
}

bool symbolsShareBytesWithRelocations(Context& ctx) {
  ElfImage& img = ctx.input;
  int32_t symtab = ctx.sym.view.symtab;
  if (symtab < 0) return false;
  std::span<uint8_t> symbols = sectionBytes(img, static_cast<uint32_t>(symtab));
  if (symbols.empty()) return false;
  std::less<const uint8_t*> before;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    if (img.sh[i].sh_type != SHT_RELA || static_cast<int32_t>(i) == symtab) continue;
    std::span<uint8_t> relocs = sectionBytes(img, i);
    if (relocs.empty()) continue;
    bool apart = !before(relocs.data(), symbols.data() + symbols.size()) ||
                 !before(symbols.data(), relocs.data() + relocs.size());
    if (!apart) return true;
  }
  return false;
}

void removeSectionSymbols(Context& ctx, uint32_t k) {
  Elf32_Sym sym;
  for (uint32_t i = 1; i < symbolCount(ctx); ++i) {
    if (!symbolAt(ctx, i, sym) || sym.st_shndx != k) continue;
    if (ctx.opt.verbose) say(ctx, "  Unused Symbol \"%s\"\n", symbolName(ctx, sym).c_str());
    // Entry i was just read, so the write reaches it; a table that refuses
    // it takes no more writes.
    if (!setSymbolAt(ctx, i, Elf32_Sym{})) return;
  }
}

void stripUnusedSymbols(Context& ctx) {
  // The section headers stay as they are while symbols are stripped.
  StripContext sc{coverSections(ctx.input), sectionEnds(ctx.input), symbolsUsedByRelocations(ctx)};
  for (uint32_t i = 1; i < symbolCount(ctx); ++i) {
    if (!stripIfUnused(ctx, sc, i)) break;
  }
}

}  // namespace zv
