// Symbols grouped by the section that defines them. The unused-section pass
// and the import layout each visit many sections and, in each, the symbols it
// defines; walking the whole symbol table once per section would cost
// sections x symbols, which for a module near the format's limits (65,535
// sections, hundreds of thousands of symbols) is billions of steps. Here the
// table is walked once, and each visit re-reads the entries it is given, so
// the result is what a walk of the whole table at that moment would find.
#include <algorithm>
#include <cstdint>

#include "symbols/symbols.h"

namespace zv {

namespace {

void sortUnique(std::vector<uint32_t>& v) {
  if (!std::is_sorted(v.begin(), v.end())) std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

bool isWanted(const SymbolGroups& g, uint32_t shndx) { return shndx < g.wanted.size() && g.wanted[shndx]; }

// Symbol i now lies in a grouped section: it joins that group, and the
// running visit when it is still ahead of it.
void regroup(SymbolGroups& g, uint32_t i, uint32_t shndx) {
  if (!isWanted(g, shndx)) return;
  g.members[shndx].push_back(i);
  if (shndx == g.visiting && i > g.last) {
    g.pending.push_back(i);
    std::push_heap(g.pending.begin(), g.pending.end(), std::greater<uint32_t>());
  }
}

}  // namespace

SymbolGroups groupSymbolsBySection(Context& ctx, std::vector<uint8_t> wanted) {
  SymbolGroups g;
  wanted.resize(sectionCount(ctx.input), 0);
  g.wanted = std::move(wanted);
  g.members.resize(g.wanted.size());
  uint32_t count = static_cast<uint32_t>(std::max(ctx.sym.view.symbolCount, 0));
  Elf32_Sym sym;
  for (uint32_t i = 1; i < count && symbolAt(ctx, i, sym); ++i)
    if (isWanted(g, sym.st_shndx)) g.members[sym.st_shndx].push_back(i);
  return g;
}

void visitSectionSymbols(Context& ctx, SymbolGroups& g, uint32_t k,
                         const std::function<bool(uint32_t, Elf32_Sym&)>& visit) {
  if (!isWanted(g, k)) return;
  sortUnique(g.members[k]);
  g.pending = g.members[k];  // ascending order is a valid min-heap
  g.visiting = k;
  g.last = 0;
  while (!g.pending.empty()) {
    std::pop_heap(g.pending.begin(), g.pending.end(), std::greater<uint32_t>());
    uint32_t i = g.pending.back();
    g.pending.pop_back();
    if (i <= g.last) continue;  // queued twice
    g.last = i;
    Elf32_Sym sym;
    if (!symbolAt(ctx, i, sym) || sym.st_shndx != k) continue;
    if (!visit(i, sym)) break;
  }
  g.visiting = 0;
  g.last = 0;
  g.pending.clear();
}

void setGroupedSymbol(Context& ctx, SymbolGroups& g, uint32_t i, const Elf32_Sym& s) {
  if (!setSymbolAt(ctx, i, s)) return;  // outside the table: nothing written to regroup
  int32_t symtab = ctx.sym.view.symtab;
  std::span<uint8_t> table = sectionBytes(ctx.input, static_cast<uint32_t>(symtab));
  uint64_t at = uint64_t(i) * entrySize(ctx.input.sh[static_cast<uint32_t>(symtab)], kSymSize);
  symbolsWritten(ctx, g, table.data() + at, sizeof(Elf32_Sym));
}

void symbolsWritten(Context& ctx, SymbolGroups& g, const uint8_t* at, size_t length) {
  int32_t symtab = ctx.sym.view.symtab;
  if (symtab < 0 || length == 0 || !namesSection(ctx.input, static_cast<uint32_t>(symtab))) return;
  std::span<uint8_t> table = sectionBytes(ctx.input, static_cast<uint32_t>(symtab));
  uintptr_t tableStart = reinterpret_cast<uintptr_t>(table.data());
  uintptr_t tableEnd = tableStart + table.size();
  uintptr_t writeStart = reinterpret_cast<uintptr_t>(at);
  uintptr_t writeEnd = writeStart + length;
  if (table.empty() || writeEnd <= tableStart || writeStart >= tableEnd) return;
  uint64_t lo = std::max(writeStart, tableStart) - tableStart;
  uint64_t hi = std::min(writeEnd, tableEnd) - tableStart;
  uint64_t stride = entrySize(ctx.input.sh[static_cast<uint32_t>(symtab)], kSymSize);
  // Entry i spans [i * stride, i * stride + 16).
  uint64_t first = lo >= sizeof(Elf32_Sym) ? (lo - sizeof(Elf32_Sym)) / stride + 1 : 0;
  uint64_t lastEntry = (hi - 1) / stride;
  uint64_t count = static_cast<uint64_t>(std::max(ctx.sym.view.symbolCount, 0));
  Elf32_Sym sym;
  for (uint64_t i = std::max<uint64_t>(first, 1); i <= lastEntry && i < count; ++i)
    if (symbolAt(ctx, static_cast<uint32_t>(i), sym)) regroup(g, static_cast<uint32_t>(i), sym.st_shndx);
}

}  // namespace zv
