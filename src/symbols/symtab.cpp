// Access to the module's symbol table, its string table and the section-name
// table. Every name the tool prints or compares is read here, and never from
// outside its table: a name without a final zero byte ends at the table's end.
// The section-name table is also rebuilt here, with the names of the sections
// still in use only; the input's names are kept for the messages.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "symbols/symbols.h"

namespace zv {

namespace {

std::string_view nameViewAt(std::span<const uint8_t> table, uint32_t offset) {
  if (offset >= table.size()) return std::string_view();
  const uint8_t* start = table.data() + offset;
  const uint8_t* end = table.data() + table.size();
  const void* zero = std::memchr(start, 0, static_cast<size_t>(end - start));
  const uint8_t* nul = zero ? static_cast<const uint8_t*>(zero) : end;
  return std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(nul - start));
}

std::string nameAt(std::span<const uint8_t> table, uint32_t offset) { return std::string(nameViewAt(table, offset)); }

int32_t firstSymbolTable(const ElfImage& img) {
  for (uint32_t i = 1; i < sectionCount(img); ++i)
    if (img.sh[i].sh_type == SHT_SYMTAB) return static_cast<int32_t>(i);
  return -1;
}

}  // namespace

void locateSymbolTable(Context& ctx) {
  SymtabView& v = ctx.sym.view;
  ElfImage& img = ctx.input;
  v.symtab = firstSymbolTable(img);
  v.strtab = -1;
  v.symbolCount = 0;
  v.stringsSize = 0;
  if (v.symtab < 0) return;
  const Elf32_Shdr& s = img.sh[v.symtab];
  v.symbolCount = static_cast<int32_t>(entryCount(s, kSymSize));
  if (namesSection(img, s.sh_link)) {
    v.strtab = static_cast<int32_t>(s.sh_link);
    v.stringsSize = img.sh[s.sh_link].sh_size;
  }
}

Status findSymbolTable(Context& ctx) {
  locateSymbolTable(ctx);
  if (ctx.sym.view.symtab >= 0) return {};
  say(ctx, "***Error: \"%s\" has no symbol table. Cannot make an VKM from it. Return -1.\n",
      ctx.opt.inputPath.value_or(std::string()).c_str());
  return Status::failed();
}

int32_t findStringTable(Context& ctx) {
  ElfImage& img = ctx.input;
  int32_t symtab = firstSymbolTable(img);
  if (symtab < 0) return -1;
  ctx.sym.view.symtab = symtab;
  uint32_t link = img.sh[symtab].sh_link;
  if (!namesSection(img, link)) return -1;
  ctx.sym.view.strtab = static_cast<int32_t>(link);
  return static_cast<int32_t>(link);
}

std::span<uint8_t> sectionNames(Context& ctx) {
  ElfImage& img = ctx.input;
  uint32_t idx = img.eh.e_shstrndx;
  if (idx == 0 || !namesSection(img, idx)) return {};
  ctx.sym.view.sectionNameTable = static_cast<int32_t>(idx);
  ctx.sym.view.namesCached = true;
  return sectionBytes(img, idx);
}

bool symbolAt(Context& ctx, uint32_t i, Elf32_Sym& out) {
  const SymtabView& v = ctx.sym.view;
  if (v.symtab < 0 || i >= static_cast<uint32_t>(v.symbolCount)) return false;
  return readSym(ctx.input, static_cast<uint32_t>(v.symtab), i, out);
}

EntryTable<Elf32_Sym> symbolTable(Context& ctx) {
  const SymtabView& v = ctx.sym.view;
  if (v.symtab < 0) return {};
  EntryTable<Elf32_Sym> t = symTable(ctx.input, static_cast<uint32_t>(v.symtab));
  t.count = std::min(t.count, static_cast<uint32_t>(std::max(v.symbolCount, 0)));
  return t;
}

bool setSymbolAt(Context& ctx, uint32_t i, const Elf32_Sym& s) {
  const SymtabView& v = ctx.sym.view;
  if (v.symtab < 0 || i >= static_cast<uint32_t>(v.symbolCount)) return false;
  return writeSym(ctx.input, static_cast<uint32_t>(v.symtab), i, s);
}

std::string_view symbolNameView(Context& ctx, const Elf32_Sym& sym) {
  const SymtabView& v = ctx.sym.view;
  if (v.strtab < 0) return "<NULL>";
  if (sym.st_name > v.stringsSize) {
    say(ctx, "pSym->st_name is out of range (%d)\n", static_cast<int>(sym.st_name));
    return std::string_view();
  }
  std::span<uint8_t> table = sectionBytes(ctx.input, static_cast<uint32_t>(v.strtab));
  if (table.size() > v.stringsSize) table = table.first(v.stringsSize);
  return nameViewAt(table, sym.st_name);
}

std::span<const uint8_t> stringTable(Context& ctx) {
  const SymtabView& v = ctx.sym.view;
  if (v.strtab < 0) return {};
  std::span<uint8_t> table = sectionBytes(ctx.input, static_cast<uint32_t>(v.strtab));
  return table.first(std::min<size_t>(table.size(), v.stringsSize));
}

std::string symbolName(Context& ctx, const Elf32_Sym& sym) { return std::string(symbolNameView(ctx, sym)); }

void keepInputSectionNames(Context& ctx) {
  InputSectionNames& kept = ctx.sym.inputNames;
  std::span<uint8_t> names = sectionNames(ctx);
  kept.table.assign(names.begin(), names.end());
  uint32_t n = sectionCount(ctx.input);
  kept.offsets.resize(n);
  for (uint32_t i = 0; i < n; ++i) kept.offsets[i] = ctx.input.sh[i].sh_name;
  kept.dropped.assign(n, 0);
  kept.taken = true;
}

bool sectionNameDropped(const Context& ctx, uint32_t index) {
  const InputSectionNames& kept = ctx.sym.inputNames;
  return kept.taken && index < kept.dropped.size() && kept.dropped[index] != 0;
}

// The section-name table keeps only the names of sections still in use: a
// smaller table is written over the start of the old one.
void rebuildSectionNames(Context& ctx) {
  ElfImage& img = ctx.input;
  keepInputSectionNames(ctx);
  const std::vector<int32_t>& refs = ctx.sym.sectionRefs;
  auto used = [&refs](uint32_t i) { return i < refs.size() && refs[i] != 0; };
  uint32_t names = img.eh.e_shstrndx;
  if (names == 0 || !namesSection(img, names)) return;
  std::span<uint8_t> old = sectionNames(ctx);
  uint64_t oldSize = img.sh[names].sh_size;
  uint32_t n = sectionCount(img);
  // The length of each kept name. Measuring stops as soon as the new table
  // could no longer be smaller than the old one, so even a table of long
  // unterminated names that many sections share costs no more than its size.
  std::vector<uint32_t> length(n, 0);
  uint64_t newSize = 1;
  for (uint32_t i = 1; i < n; ++i) {
    if (!used(i)) continue;
    if (newSize >= oldSize) return;
    uint32_t at = img.sh[i].sh_name;
    uint64_t len = 0;
    if (at < old.size()) {
      uint64_t room = std::min<uint64_t>(old.size() - at, oldSize - newSize);
      const uint8_t* start = old.data() + at;
      const void* zero = std::memchr(start, 0, room);
      len = zero ? static_cast<uint64_t>(static_cast<const uint8_t*>(zero) - start) : room;
    }
    length[i] = static_cast<uint32_t>(len);
    newSize += len + 1;
  }
  if (newSize >= oldSize) return;

  std::vector<uint8_t> table(static_cast<size_t>(newSize), 0);
  uint32_t at = 1;
  for (uint32_t i = 1; i < n; ++i) {
    if (!used(i)) {
      ctx.sym.inputNames.dropped[i] = 1;
      continue;
    }
    if (length[i] != 0) std::memcpy(table.data() + at, old.data() + img.sh[i].sh_name, length[i]);
    img.sh[i].sh_name = at;
    at += length[i] + 1;
  }
  // The new table is smaller, so it fits over the start of the old one; a
  // table the file held only in part gets storage of its own.
  std::span<uint8_t> bytes = sectionBytes(img, names);
  if (bytes.size() < table.size()) bytes = replaceSectionBytes(img, names, table.size());
  if (!table.empty()) std::memcpy(bytes.data(), table.data(), table.size());
  img.sh[names].sh_size = static_cast<uint32_t>(newSize);
}

namespace {

// The names table and the offset of section `index`'s name in it: the
// input's, once kept, else the current table's.
std::span<const uint8_t> nameTableOf(Context& ctx, uint32_t index, uint32_t& offset) {
  const InputSectionNames& kept = ctx.sym.inputNames;
  if (kept.taken && index < kept.offsets.size()) {
    offset = kept.offsets[index];
    return kept.table;
  }
  offset = ctx.input.sh[index].sh_name;
  return sectionNames(ctx);
}

bool hasNamesTable(const Context& ctx) {
  return ctx.input.eh.e_shstrndx != 0 && namesSection(ctx.input, ctx.input.eh.e_shstrndx);
}

}  // namespace

std::string sectionName(Context& ctx, uint32_t index) {
  if (!hasNamesTable(ctx)) return "<NULL>";
  if (!namesSection(ctx.input, index)) return std::string();
  uint32_t offset = 0;
  std::span<const uint8_t> names = nameTableOf(ctx, index, offset);
  return nameAt(names, offset);
}

std::string sectionNameByIndex(Context& ctx, uint32_t index) {
  if (!namesSection(ctx.input, index)) return std::string();
  uint32_t offset = 0;
  std::span<const uint8_t> names = nameTableOf(ctx, index, offset);
  if (names.empty()) return std::string();
  return nameAt(names, offset);
}

namespace {

// Whether the name at `offset` is exactly `want`: its characters, then the
// terminator or the end of the table. Reads no further than that, so testing
// every section costs no more than the names' first few bytes.
bool nameIs(std::span<const uint8_t> table, uint32_t offset, std::string_view want) {
  if (offset >= table.size() || table.size() - offset < want.size()) return false;
  if (std::memcmp(table.data() + offset, want.data(), want.size()) != 0) return false;
  uint64_t after = uint64_t(offset) + want.size();
  return after == table.size() || table[after] == 0;
}

}  // namespace

bool sectionNameIs(Context& ctx, uint32_t index, std::string_view name) {
  if (!hasNamesTable(ctx)) return name == "<NULL>";
  if (!namesSection(ctx.input, index)) return name.empty();
  uint32_t offset = 0;
  std::span<const uint8_t> names = nameTableOf(ctx, index, offset);
  return nameIs(names, offset, name);
}

uint32_t findExportSection(Context& ctx) {
  std::span<uint8_t> names = sectionNames(ctx);
  if (names.empty()) return 0;
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i)
    if (nameIs(names, ctx.input.sh[i].sh_name, ".export")) return i;
  return 0;
}

const char* symbolKindName(const Elf32_Sym& sym) {
  switch (symType(sym)) {
    case 0:
      return "none";
    case 1:
      return "data";
    case 2:
      return "code";
    case 3:
      return "sect";
    case 4:
      return "file";
    case 6:
      return "tlsdata";
    default:
      return "other";
  }
}

const char* symbolBindingName(const Elf32_Sym& sym) {
  switch (symBind(sym)) {
    case STB_LOCAL:
      return "local";
    case STB_GLOBAL:
      return "global";
    case STB_WEAK:
      return "weak";
    default:
      return "other";
  }
}

}  // namespace zv
