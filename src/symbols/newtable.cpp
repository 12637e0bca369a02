// The compact symbol table of a module. Only the symbols the loader needs by
// name keep an entry: section symbols in use, exports, thread-local symbols,
// imports and absolute symbols that relocations use, and plain function names
// unless names are stripped. Every other relocation target becomes an offset
// from one of three pseudo-symbols: $TEXT (the lowest referenced text
// address), $DATA (the lowest referenced data address) and $UNDEF. The new
// tables replace the old ones in the image and every relocation is re-pointed.
// (The layout then gives these tables their addresses in the LOAD region.)
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/parallel.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

constexpr uint32_t kTextId = 1, kDataId = 2, kUndefId = 3, kFirstKeptId = 4;
constexpr int32_t kFixedStringsSize = 20;  // "", "$TEXT", "$DATA", "$UNDEF"
// The new string table is loaded in the loader area (0xC0000000 up to the top
// of memory), so it can never be larger than that area's 1 GB.
constexpr uint64_t kMaxNewStrings = 0x40000000;
constexpr uint32_t kEntriesPerStretch = 4096;  // relocations copied and rewritten at a time (48 KiB of 12-byte ones)
constexpr uint32_t kTextName = 1, kDataName = 7, kUndefName = 13;

Status assignId(Context& ctx, uint32_t i, const Elf32_Sym& sym);

uint32_t symbolCount(const Context& ctx) {
  uint32_t count = static_cast<uint32_t>(std::max(ctx.sym.view.symbolCount, 0));
  return std::min<uint32_t>(count, static_cast<uint32_t>(ctx.sym.symbolInfo.size()));
}

// Where relocations to symbol i go when it is expressed as an offset from a
// pseudo-symbol. Imports and thread-local symbols are always used by name.
void placeSymbol(Context& ctx, uint32_t i, const Elf32_Sym& sym) {
  SymbolsState& st = ctx.sym;
  SymbolInfo& si = st.symbolInfo[i];
  if (si.imported || si.tls) return;
  if (si.code) {
    si.useId = kTextId;
    si.offset = sym.st_value - st.textBase;
  } else if (si.data) {
    si.useId = kDataId;
    si.offset = sym.st_value - st.dataBase;
  } else if (si.undef) {
    si.useId = kUndefId;
    si.offset = 0;
  } else if (si.sect && (!si.empty || si.referenced)) {
    if (sym.st_value >= st.dataBase) {
      si.useId = kDataId;
      si.offset = sym.st_value - st.dataBase;
    } else if (sym.st_value >= st.textBase) {
      si.useId = kTextId;
      si.offset = sym.st_value - st.textBase;
    }
  }
}

bool keepsOwnEntry(const Context& ctx, const SymbolInfo& si) {
  return (si.sect && (!si.empty || si.referenced)) || si.exported || si.tls ||
         (si.referenced && (si.imported || si.absolute)) || (si.func && !si.imported && !ctx.opt.stripStrings);
}

void putName(FilledVector<uint8_t>& table, uint32_t at, std::string_view name) {
  if (at >= table.size()) return;
  size_t n = std::min(name.size(), table.size() - at);
  if (n != 0) std::memcpy(table.data() + at, name.data(), n);
}

std::string nameInNewStrings(const Context& ctx, uint32_t at) {
  const auto& table = ctx.sym.table.newStrings;
  if (at >= table.size()) return std::string();
  auto start = table.begin() + at;
  return std::string(start, std::find(start, table.end(), uint8_t(0)));
}

void startNewTables(Context& ctx) {
  SymbolsState& st = ctx.sym;
  NewSymbolTable& t = st.table;
  t.newSymbols.assign(static_cast<size_t>(std::max(t.nextId, 0)), Elf32_Sym{});
  t.newStrings.assign(static_cast<size_t>(std::max(t.newStringsSize, 0)), 0);
  putName(t.newStrings, kTextName, "$TEXT");
  putName(t.newStrings, kDataName, "$DATA");
  putName(t.newStrings, kUndefName, "$UNDEF");
  if (t.newSymbols.size() < kFirstKeptId) return;
  t.newSymbols[kTextId] = Elf32_Sym{kTextName, st.textBase, 0, STT_SECTION, 0, static_cast<uint16_t>(st.textSection)};
  t.newSymbols[kDataId] = Elf32_Sym{kDataName, st.dataBase, 0, STT_SECTION, 0, static_cast<uint16_t>(st.dataSection)};
  t.newSymbols[kUndefId] = Elf32_Sym{kUndefName, 0, 0, static_cast<uint8_t>(STB_GLOBAL << 4 | STT_OBJECT), 0, 0};
}

// Copies the kept symbols, in the order of their old indices, and their names.
// The string table has not changed since the names were measured, so a name
// within the table is taken at its measured length.
void fillKeptSymbols(Context& ctx, uint32_t oldCount) {
  NewSymbolTable& t = ctx.sym.table;
  const EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  std::span<const uint8_t> strings = stringTable(ctx);
  uint32_t pos = kFixedStringsSize;
  for (uint32_t i = 1; i < std::min(oldCount, symbols.count); ++i) {
    const SymbolInfo& si = ctx.sym.symbolInfo[i];
    if (si.newId == 0 || si.newId >= t.newSymbols.size()) continue;
    Elf32_Sym sym = symbols.get(i);
    std::string_view name;
    if (sym.st_name < strings.size() && strings.size() - sym.st_name > si.nameLen)
      name = std::string_view(reinterpret_cast<const char*>(strings.data() + sym.st_name), si.nameLen);
    else
      name = symbolNameView(ctx, sym).substr(0, si.nameLen);
    putName(t.newStrings, pos, name);
    Elf32_Sym& out = t.newSymbols[si.newId];
    out = sym;
    out.st_name = pos;
    pos += si.nameLen + 1;
  }
}

void listNewTable(Context& ctx) {
  const NewSymbolTable& t = ctx.sym.table;
  if (!ctx.opt.verbose2) return;
  say(ctx, "\nNEW SYMBOL TABLE %d symbols symtab size = %d strtab size = %d\n", t.nextId,
      static_cast<int>(uint32_t(t.nextId) * kSymSize), t.newStringsSize);
  say(ctx, "\nNEW SYMBOL TABLE\n");
  for (int32_t k = 1; k < t.nextId; ++k) dumpNewSymbol(ctx, static_cast<uint32_t>(k));
  consoleFlush(ctx.con);
  if (ctx.opt.verbose3) dumpPlannedSymbolTable(ctx);
}

// Puts rebuilt contents into a section: over the old bytes when they fit,
// else into storage of the section's own.
void storeSectionBytes(ElfImage& img, uint32_t index, const uint8_t* data, size_t size) {
  std::span<uint8_t> dest = sectionBytes(img, index);
  if (dest.size() < size) dest = replaceSectionBytes(img, index, size);
  if (dest.size() < size) return;
  if (size != 0) std::memcpy(dest.data(), data, size);
  img.sh[index].sh_size = static_cast<uint32_t>(size);
}

void replaceOldTables(Context& ctx) {
  SymbolsState& st = ctx.sym;
  ElfImage& img = ctx.input;
  NewSymbolTable& t = st.table;
  st.view.symbolCount = t.nextId;
  st.view.stringsSize = static_cast<uint32_t>(t.newStringsSize);
  uint32_t symtab = static_cast<uint32_t>(st.view.symtab);
  // The new symbols go straight over the old table when they fit (they
  // usually do: the table only shrinks), else into storage of its own.
  size_t symSize = t.newSymbols.size() * kSymSize;
  std::span<uint8_t> dest = sectionBytes(img, symtab);
  if (dest.size() < symSize) dest = replaceSectionBytes(img, symtab, symSize);
  if (dest.size() >= symSize) {
    for (size_t k = 0; k < t.newSymbols.size(); ++k) storeRecord(dest.data() + k * kSymSize, t.newSymbols[k]);
    img.sh[symtab].sh_size = static_cast<uint32_t>(symSize);
  }
  // The new table is written with 16-byte entries.
  if (img.sh[symtab].sh_entsize != 0) img.sh[symtab].sh_entsize = kSymSize;
  if (st.view.strtab >= 0 && st.view.strtab != st.view.symtab)
    storeSectionBytes(img, static_cast<uint32_t>(st.view.strtab), t.newStrings.data(), t.newStrings.size());
}

void printEntryTail(Context& ctx, const std::string& name, uint32_t size) {
  say(ctx, " %s", name.c_str());
  if (size != 0)
    say(ctx, " size = %d\n", static_cast<int>(size));
  else
    say(ctx, "\n");
}

void printPseudoSymbol(Context& ctx, int number, uint32_t base, int32_t section, const char* name) {
  std::string secName = sectionNameByIndex(ctx, static_cast<uint32_t>(section));
  say(ctx, "%4d: 0x%8.8x %-6s %-5s %-10s(%d) %s\n", number, base, "local", "sect", secName.c_str(), section, name);
}

}  // namespace

Status buildNewSymbolTable(Context& ctx) {
  classifySections(ctx);
  SymbolsState& st = ctx.sym;
  if (st.view.symtab < 0 || st.view.symbolCount < 2) return {};
  st.symbolInfo.assign(static_cast<size_t>(st.view.symbolCount), SymbolInfo{});
  markReferencedSymbols(ctx);
  // Nothing below changes the symbol table: it is resolved once.
  const EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  uint32_t count = std::min(symbolCount(ctx), symbols.count);
  for (uint32_t i = 1; i < count; ++i) {
    Elf32_Sym sym = symbols.get(i);
    classifySymbol(ctx, i, sym);
    placeSymbol(ctx, i, sym);
  }
  st.table.newStringsSize = kFixedStringsSize;
  st.table.nextId = kFirstKeptId;
  for (uint32_t i = 1; i < count; ++i)
    if (keepsOwnEntry(ctx, st.symbolInfo[i]))
      if (Status r = assignId(ctx, i, symbols.get(i)); !r.ok()) return r;
  writeNewSymbolTable(ctx);
  return {};
}

Status assignNewSymbolId(Context& ctx, uint32_t i) {
  Elf32_Sym sym;
  if (i >= symbolCount(ctx) || !symbolAt(ctx, i, sym)) return {};
  return assignId(ctx, i, sym);
}

namespace {

Status assignId(Context& ctx, uint32_t i, const Elf32_Sym& sym) {
  NewSymbolTable& t = ctx.sym.table;
  SymbolInfo& si = ctx.sym.symbolInfo[i];
  if (si.newId != 0) {
    say(ctx, "ERROR: sym %d already has new symid %d wanted to number %d\n", static_cast<int>(i),
        static_cast<int>(si.newId), t.nextId);
    return {};
  }
  if (static_cast<uint32_t>(t.nextId) > kMaxRelocSymbol) {  // r_info holds a symbol in 24 bits
    say(ctx,
        "***Error: The new symbol table would have more than %d symbols, more than relocations can name. "
        "Return -1.\n",
        static_cast<int>(kMaxRelocSymbol));
    return Status::failed();
  }
  uint64_t nameLength = si.nameMeasured ? si.nameLen : symbolNameView(ctx, sym).size();
  if (t.newStringsSize + nameLength + 1 > kMaxNewStrings) {
    // Every kept symbol gets a copy of its name; names that share bytes in a
    // damaged string table can add up past what the loader area can hold.
    say(ctx,
        "***Error: The names of the new symbol table would take more than 1 GB, more than the loader area "
        "holds. Return -1.\n");
    return Status::failed();
  }
  si.newId = static_cast<uint32_t>(t.nextId);
  t.nextId += 1;
  si.nameLen = static_cast<uint32_t>(nameLength);
  t.newStringsSize += static_cast<int32_t>(si.nameLen + 1);
  return {};
}

}  // namespace

void writeNewSymbolTable(Context& ctx) {
  if (ctx.sym.view.symtab < 0) return;
  uint32_t oldCount = symbolCount(ctx);
  startNewTables(ctx);
  fillKeptSymbols(ctx, oldCount);
  listNewTable(ctx);
  rewriteRelocationSymbols(ctx);
  replaceOldTables(ctx);
}

void rewriteRelocationSymbols(Context& ctx) {
  ElfImage& img = ctx.input;
  uint32_t oldCount = symbolCount(ctx);
  // What each old symbol becomes in a relocation, in a table small enough to
  // stay in the cache while a million relocations look it up: the new index
  // and what to add to the addend (a symbol folded into $TEXT or $DATA).
  struct Target {
    uint32_t id;
    uint32_t add;
  };
  FilledVector<Target> target(oldCount);
  for (uint32_t s = 0; s < oldCount; ++s) {
    const SymbolInfo& si = ctx.sym.symbolInfo[s];
    target[s] = si.useId != 0 ? Target{si.useId, si.offset} : Target{si.newId, 0};
  }
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& rs = img.sh[i];
    if (rs.sh_size == 0 || rs.sh_type != SHT_RELA) continue;
    // A table no other section shows (nor section 0's header) moves out of
    // the file's view as it is rewritten: a stretch of entries is copied,
    // then rewritten while it is still in the cache.
    std::span<const uint8_t> from;
    bool owned = i < img.isOwned.size() && img.isOwned[i];
    if (i < img.copiedWhenRewritten.size() && img.copiedWhenRewritten[i] && !owned &&
        entrySize(rs, kRelaSize) >= kRelaSize) {
      std::span<uint8_t> view = sectionBytes(img, i);
      try {
        giveSectionStorage(img, i, view.size());
        from = view;
      } catch (const std::bad_alloc&) {
        // Short of memory the table is rewritten where it is: slower, not wrong.
      }
    }
    EntryTable<Elf32_Rela> relocs = relaTable(img, i);
    // The parts of a large table are rewritten side by side; the symbols
    // listed for relocations that lose theirs (a dropped symbol a relocation
    // still uses ends up at entry 0) are printed afterwards, in entry order.
    Parts parts = splitEntries(relocs.count, ctx.opt.threads);
    std::vector<std::vector<uint32_t>> lost(parts.parts);
    auto rewrite = [&](uint32_t k, uint32_t begin, uint32_t end) {
      const EntryTable<Elf32_Rela> table = relocs;  // in registers: the stores below could alias it
      for (uint32_t n = begin; n < end; ++n) {
        Elf32_Rela r = table.get(n);
        uint32_t s = relSym(r.r_info), type = relType(r.r_info);
        if (type == 0 || s == 0 || s >= oldCount) continue;
        const Target t = target[s];
        if (t.id == 0) lost[k].push_back(s);
        r.r_info = t.id << 8 | type;
        r.r_addend = static_cast<int32_t>(static_cast<uint32_t>(r.r_addend) + t.add);
        table.put(n, r);
      }
    };
    forEachPart(parts, [&](uint32_t k, uint32_t begin, uint32_t end) {
      if (from.empty()) return rewrite(k, begin, end);
      // Entries lie whole inside their stride; the last stretch also takes
      // the bytes behind the last entry.
      for (uint32_t at = begin;;) {
        uint32_t next = end - at > kEntriesPerStretch ? at + kEntriesPerStretch : end;
        size_t first = size_t{at} * relocs.stride;
        size_t last = next == relocs.count ? from.size() : size_t{next} * relocs.stride;
        std::copy(from.begin() + first, from.begin() + last, relocs.data + first);
        rewrite(k, at, next);
        if (next == end) break;
        at = next;
      }
    });
    for (const std::vector<uint32_t>& symbols : lost)
      for (uint32_t s : symbols) dumpOldSymbol(ctx, 0, s);
  }
}

void dumpOldSymbol(Context& ctx, uint32_t first, uint32_t i) {
  Elf32_Sym sym;
  if (!symbolAt(ctx, i, sym)) return;
  say(ctx, "%4d|%4d: 0x%8.8x %-6s %-5s %-10s(%d)", static_cast<int>(first), static_cast<int>(i), sym.st_value,
      symbolBindingName(sym), symbolKindName(sym), sectionNameByIndex(ctx, sym.st_shndx).c_str(), sym.st_shndx);
  if (i < ctx.sym.symbolInfo.size()) {
    const SymbolInfo& si = ctx.sym.symbolInfo[i];
    switch (si.useId) {
      case 0:
        break;
      case kTextId:
        say(ctx, " $TEXT+0x%8.8x", si.offset);
        break;
      case kDataId:
        say(ctx, " $DATA+0x%8.8x", si.offset);
        break;
      case kUndefId:
        say(ctx, " $UNDEF+0x%8.8x", si.offset);
        break;
      default:
        say(ctx, " s%04d+0x%8.8x", static_cast<int>(si.useId), si.offset);
        break;
    }
  }
  printEntryTail(ctx, symbolName(ctx, sym), sym.st_size);
  dumpSymbolInfo(ctx, i);
}

void dumpPlannedSymbolTable(Context& ctx) {
  const SymbolsState& st = ctx.sym;
  say(ctx, "\n\nPLANED SYMBOL TABLE\n");
  printPseudoSymbol(ctx, 1, st.textBase, st.textSection, "$TEXT");
  printPseudoSymbol(ctx, 2, st.dataBase, st.dataSection, "$DATA");
  uint32_t count = symbolCount(ctx);
  for (uint32_t j = 1; j < count; ++j)
    if (st.symbolInfo[j].newId != 0) dumpOldSymbol(ctx, st.symbolInfo[j].newId, j);
  consoleFlush(ctx.con);
}

void dumpNewSymbol(Context& ctx, uint32_t k) {
  const auto& symbols = ctx.sym.table.newSymbols;
  if (k >= symbols.size()) return;
  const Elf32_Sym& sym = symbols[k];
  say(ctx, "%4d: 0x%8.8x %-6s %-5s %-10s(%d)", static_cast<int>(k), sym.st_value, symbolBindingName(sym),
      symbolKindName(sym), sectionNameByIndex(ctx, sym.st_shndx).c_str(), sym.st_shndx);
  printEntryTail(ctx, nameInNewStrings(ctx, sym.st_name), sym.st_size);
}

}  // namespace zv
