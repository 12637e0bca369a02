// The loader's rules for relocations. A VKM may not address a small-data
// area, code may not hold 32-bit absolute addresses (the loader cannot patch
// code it maps execute-only), nothing the loader loads may refer to a symbol
// in a section it does not load, and the two export tables must export
// functions (.fexports) and data (.dexports) as the module's .def file said.
// Every relocation of every SHT_RELA section is checked once, after the
// symbol table has been reworked, so the symbols seen are the final ones.
#include <algorithm>
#include <cinttypes>
#include <vector>

#include "platform/parallel.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

constexpr uint8_t kRelAddr32 = 1;

// Everything the rules need to know about the section a relocation section patches.
struct Target {
  uint32_t index = 0;
  Elf32_Shdr h{};
  bool isExport = false;
  bool isDataTable = false;  // ".dexports" (else ".fexports" when isExport)
  std::string name;
  std::span<uint8_t> bytes;  // the export table's contents
};

bool isSdaType(uint32_t type) {
  switch (type) {
    case 106:
    case 107:
    case 108:
    case 109:
    case 116:
    case 180:
    case 181:
    case 182:
    case 183:
    case 184:
    case 185:
      return true;
    default:
      return false;
  }
}

// An export table's own checks: its name and its size.
Status checkExportTable(Context& ctx, Target& t, uint32_t rsIndex) {
  // The name is compared in place: a long name is read only for the message.
  if (sectionNameIs(ctx, t.index, ".fexports")) {
    t.name = ".fexports";
    t.isDataTable = false;
  } else if (sectionNameIs(ctx, t.index, ".dexports")) {
    t.name = ".dexports";
    t.isDataTable = true;
  } else {
    t.name = sectionName(ctx, t.index);
    say(ctx, "Section %d \"%s\" of ELF should be either \".fexports\" or \".dexports\". Return -1.\n",
        static_cast<int>(t.index), t.name.c_str());
    return Status::failed();
  }
  if (t.h.sh_size >= 0x80000000u) {
    say(ctx, "***Error: \"%s\" sec %d, is too large to load.  Section size is 0x%08X. Return -1.\n", t.name.c_str(),
        static_cast<int>(rsIndex), t.h.sh_size);
    return Status::failed();
  }
  t.bytes = sectionBytes(ctx.input, t.index);
  return {};
}

void sayCantGetData(Context& ctx, const Target& t, uint32_t rsIndex, uint64_t end) {
  auto where = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(t.bytes.data()));
  say(ctx,
      "***Error: \"%s\" sec %d, can't get its data 0x%08X or a relocation offset 0x%08" PRIX64
      " is too large for the section 0x%08X. Return -1.\n",
      t.name.c_str(), static_cast<int>(rsIndex), where, end, t.h.sh_size);
}

// Small-data relocations (a VKM has no small-data area). Prints the pair of lines on a violation.
Status sdaViolation(Context& ctx, uint32_t rsIndex, uint32_t n, uint32_t type, const Elf32_Sym& sym) {
  if (!checksNoSda(ctx) || !isSdaType(type)) return {};
  say(ctx, "***Error: VKM uses illegal SDA relocation %d.\n          Reloc sec %d, entry %d.\n", static_cast<int>(type),
      static_cast<int>(rsIndex), static_cast<int>(n));
  std::string name = symbolName(ctx, sym);
  say(ctx, "          Symbol \"%s\".\n", name.c_str());
  return Status::failed();
}

// An export table entry: the exported symbol's kind must match the table.
Status checkExportEntry(Context& ctx, const Target& t, uint32_t rsIndex, const Elf32_Rela& r, const Elf32_Sym& sym) {
  uint32_t delta = r.r_offset - t.h.sh_addr;
  uint64_t end = uint64_t(delta) + 8;
  if (end >= t.h.sh_size) {
    sayCantGetData(ctx, t, rsIndex, end);
    return Status::failed();
  }
  uint8_t type = symType(sym);
  if (t.isDataTable) {
    if (type == STT_FUNC) {
      std::string name = symbolName(ctx, sym);
      say(ctx,
          "***Error: \"%s\" sec %d, has reference to a code symbol \"%s\". Check that .def file has "
          "this symbol after [CODE]. Return -1.\n",
          t.name.c_str(), static_cast<int>(rsIndex), name.c_str());
      return Status::failed();
    }
    if (type == STT_TLS) {
      uint64_t flagAt = uint64_t(delta / 8) * 8 + 4;
      if (flagAt + 4 > t.bytes.size()) {  // the table's bytes end early
        sayCantGetData(ctx, t, rsIndex, end);
        return Status::failed();
      }
      if ((loadBE32(t.bytes.data() + flagAt) & 0x80000000u) == 0) {
        std::string name = symbolName(ctx, sym);
        say(ctx,
            "***Error: Export symbol \"%s\" is unexpectedly a TLS symbol. Clobber and rebuild with "
            "current vodazed[32|64]. Return -1.\n",
            name.c_str());
        return Status::failed();
      }
    }
    return {};
  }
  if (type == STT_OBJECT || type == STT_TLS) {
    std::string name = symbolName(ctx, sym);
    say(ctx,
        "***Error: \"%s\" sec %d, has reference to a data symbol \"%s\". Check that .def file has "
        "this symbol after [DATA]. Return -1.\n",
        t.name.c_str(), static_cast<int>(rsIndex), name.c_str());
    return Status::failed();
  }
  return {};
}

// 32-bit absolute references from code (the loader cannot patch code it maps execute-only).
Status checkCode32(Context& ctx, const Target& t, uint32_t n, uint32_t type, const Elf32_Rela& r,
                   const Elf32_Sym& sym) {
  if (!(t.h.sh_flags & SHF_EXECINSTR) || t.isExport || t.h.sh_type == SHT_VKM_IMPORTS) return {};
  if (type != kRelAddr32 || ctx.opt.allowCode32) return {};
  std::string name = symbolName(ctx, sym);
  say(ctx, "***Error: \"%s\", 32-bit reference from code @ 0x%8.8x to 0x%8.8x (%s) is illegal (reloc # %d)\n",
      ctx.opt.outputPath.c_str(), t.h.sh_addr + r.r_offset, sym.st_value + static_cast<uint32_t>(r.r_addend),
      name.c_str(), static_cast<int>(n));
  say(ctx, "***Error: are illegal (code is not readable).\n");
  return Status::failed();
}

// A symbol that lives in a section the loader does not load.
Status checkNonAllocated(Context& ctx, uint32_t rsIndex, uint32_t n, const Elf32_Sym& sym) {
  if (!namesSection(ctx.input, sym.st_shndx)) return {};
  const Elf32_Shdr& s = ctx.input.sh[sym.st_shndx];
  bool empty = s.sh_name == 0 && s.sh_addr == 0 && s.sh_offset == 0 && s.sh_size == 0;
  if (empty || (s.sh_flags & SHF_ALLOC) || symBind(sym) == STB_WEAK) return {};
  say(ctx, "***Error: \"%s\", Relocation in sec %d, entry %d uses symbol '", ctx.opt.outputPath.c_str(),
      static_cast<int>(rsIndex), static_cast<int>(n));
  std::string name = symbolName(ctx, sym);
  std::string secName = sectionNameByIndex(ctx, sym.st_shndx);
  say(ctx, "%s' from non-allocated section '%s'.\n", name.c_str(), secName.c_str());
  return Status::failed();
}

// The symbol a relocation uses; prints the error and fails when the index
// lies beyond the symbol table.
Status relocationSymbol(Context& ctx, const EntryTable<Elf32_Sym>& symbols, uint32_t rsIndex, uint32_t n,
                        uint32_t index, Elf32_Sym& sym) {
  if (index < symbols.count) {
    sym = symbols.get(index);
    return {};
  }
  say(ctx,
      "***Error: Relocation in sec %d, entry %d uses symbol index %d beyond the symbol table (%d "
      "symbols). Return -1.\n",
      static_cast<int>(rsIndex), static_cast<int>(n), static_cast<int>(index),
      static_cast<int>(ctx.sym.view.symbolCount));
  return Status::failed();
}

// The loaded-section rule, resolved once for every relocation section (the
// checks change neither the sections nor the symbols): the sections whose
// symbols pass it whatever their binding, and whether each symbol names one,
// in a table small enough to stay in the cache while the relocations are
// scanned. The others (and symbols naming no section) go through the full
// check.
struct LoadedRule {
  std::vector<uint8_t> loaded;    // per section
  std::vector<uint8_t> inLoaded;  // per symbol of the table in use
};

LoadedRule loadedRule(Context& ctx) {
  LoadedRule rule;
  rule.loaded.assign(sectionCount(ctx.input), 0);
  for (uint32_t k = 0; k < rule.loaded.size(); ++k) {
    const Elf32_Shdr& s = ctx.input.sh[k];
    rule.loaded[k] =
        (s.sh_flags & SHF_ALLOC) || (s.sh_name == 0 && s.sh_addr == 0 && s.sh_offset == 0 && s.sh_size == 0);
  }
  EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  rule.inLoaded.resize(symbols.count);
  for (uint32_t s = 0; s < symbols.count; ++s) {
    uint32_t shndx = symbols.get(s).st_shndx;
    rule.inLoaded[s] = shndx < rule.loaded.size() && rule.loaded[shndx];
  }
  return rule;
}

// The first relocation any rule could object to: the walk starts there, as
// every entry before it passes every rule without a word. The parts of a
// large table are scanned side by side. An export table is checked whole.
uint32_t firstToCheck(const Context& ctx, const Target& t, const EntryTable<Elf32_Rela>& relocs,
                      const EntryTable<Elf32_Sym>& symbols, const LoadedRule& rule) {
  if (t.isExport) return 0;
  bool noSda = checksNoSda(ctx);
  bool noCode32 = (t.h.sh_flags & SHF_EXECINSTR) && t.h.sh_type != SHT_VKM_IMPORTS && !ctx.opt.allowCode32;
  const std::vector<uint8_t>& inLoaded = rule.inLoaded;
  auto mayObject = [&](const Elf32_Rela& r) {
    uint32_t type = relType(r.r_info), index = relSym(r.r_info);
    if (type == 0) return false;
    if (index >= symbols.count || (noSda && isSdaType(type)) || (noCode32 && type == kRelAddr32)) return true;
    return !inLoaded[index];
  };
  Parts parts = splitEntries(relocs.count, ctx.opt.threads);
  std::vector<uint32_t> first(parts.parts, relocs.count);
  forEachPart(parts, [&](uint32_t k, uint32_t begin, uint32_t end) {
    const EntryTable<Elf32_Rela> table = relocs;
    for (uint32_t n = begin; n < end; ++n) {
      if (mayObject(table.get(n))) {
        first[k] = n;
        return;
      }
    }
  });
  return *std::min_element(first.begin(), first.end());
}

Status checkSection(Context& ctx, uint32_t relaIndex, const LoadedRule& rule);

}  // namespace

Status checkAllRelocations(Context& ctx) {
  LoadedRule rule = loadedRule(ctx);
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    const Elf32_Shdr& h = ctx.input.sh[i];
    if (h.sh_size == 0 || h.sh_type != SHT_RELA) continue;
    if (Status r = checkSection(ctx, i, rule); !r.ok()) return r;
  }
  return {};
}

Status checkRelocations(Context& ctx, uint32_t relaIndex) { return checkSection(ctx, relaIndex, loadedRule(ctx)); }

namespace {

Status checkSection(Context& ctx, uint32_t relaIndex, const LoadedRule& rule) {
  if (!namesSection(ctx.input, relaIndex)) return {};
  const Elf32_Shdr rs = ctx.input.sh[relaIndex];
  // A relocation section aimed at no section patches nothing the loader loads.
  if (!namesSection(ctx.input, rs.sh_info)) return {};
  Target t;
  t.index = rs.sh_info;
  t.h = ctx.input.sh[t.index];
  t.isExport = t.h.sh_type == SHT_VKM_EXPORTS;
  if (t.isExport)
    if (Status r = checkExportTable(ctx, t, relaIndex); !r.ok()) return r;
  if (!(t.h.sh_flags & SHF_ALLOC)) return {};

  Status result;
  EntryTable<Elf32_Rela> relocs = relaTable(ctx.input, relaIndex);
  EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  const std::vector<uint8_t>& loaded = rule.loaded;
  for (uint32_t n = firstToCheck(ctx, t, relocs, symbols, rule); n < relocs.count; ++n) {
    Elf32_Rela r = relocs.get(n);
    uint32_t type = relType(r.r_info);
    if (type == 0) continue;
    Elf32_Sym sym;
    if (Status e = relocationSymbol(ctx, symbols, relaIndex, n, relSym(r.r_info), sym); !e.ok()) return e;
    // A small-data relocation fails the run but the walk goes on, so every one is reported.
    if (Status e = sdaViolation(ctx, relaIndex, n, type, sym); !e.ok()) result = e;
    if (t.isExport)
      if (Status e = checkExportEntry(ctx, t, relaIndex, r, sym); !e.ok()) return e;
    if (type == kRelAddr32)
      if (Status e = checkCode32(ctx, t, n, type, r, sym); !e.ok()) return e;
    bool plainlyLoaded = sym.st_shndx < loaded.size() && loaded[sym.st_shndx];
    if (!plainlyLoaded)
      if (Status e = checkNonAllocated(ctx, relaIndex, n, sym); !e.ok()) return e;
  }
  return result;
}

}  // namespace

}  // namespace zv
