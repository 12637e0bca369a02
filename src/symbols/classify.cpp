// Classification of the module's sections and symbols. Every section gets a
// kind from its type and address (text, data, import/export, other), and the
// lowest referenced text and data addresses become the bases that the
// pseudo-symbols $TEXT and $DATA of the compact symbol table stand for. Every
// symbol gets the flags that decide whether it keeps an entry of its own or
// is expressed as an offset from one of those pseudo-symbols.
#include <algorithm>
#include <string>

#include <atomic>

#include "format/module_format.h"
#include "platform/parallel.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

int32_t refsOf(const Context& ctx, uint32_t i) {
  const auto& refs = ctx.sym.sectionRefs;
  return i < refs.size() ? refs[i] : 0;
}

// The SymbolInfo table covers every entry of the current symbol table.
void ensureSymbolInfo(Context& ctx) {
  size_t count = static_cast<size_t>(std::max(ctx.sym.view.symbolCount, 0));
  if (ctx.sym.symbolInfo.size() < count) ctx.sym.symbolInfo.resize(count);
}

void classifyOneSection(Context& ctx, uint32_t i) {
  SymbolsState& st = ctx.sym;
  const Elf32_Shdr& h = ctx.input.sh[i];
  SectionInfo& info = st.sectionInfo[i];
  if (h.sh_type == SHT_VKM_EXPORTS) {
    // An export table is further classified like any other section, so its
    // final kind comes from its address.
    info.isExport = 1;
    info.kind = SectionClass::kImportExport;
  }
  if (h.sh_type == SHT_VKM_IMPORTS) {
    info.isImport = 1;
    info.kind = SectionClass::kImportExport;
  } else if (h.sh_flags & SHF_VKM_TLS) {
    info.isTls = 1;
    info.kind = SectionClass::kData;
  } else if (h.sh_addr >= kDataLow && h.sh_addr <= kDataHigh) {
    info.kind = SectionClass::kData;
    if (refsOf(ctx, i) != 0 && h.sh_addr < st.dataBase) {
      st.dataBase = h.sh_addr;
      st.dataSection = static_cast<int32_t>(i);
    }
  } else if (h.sh_addr < kTextLow || h.sh_addr > kTextHigh) {
    info.kind = SectionClass::kOther;
  } else {
    info.kind = SectionClass::kText;
    if (refsOf(ctx, i) != 0 && h.sh_addr < st.textBase) {
      st.textBase = h.sh_addr;
      st.textSection = static_cast<int32_t>(i);
    }
  }
}

// A function keeps its own entry only under a plain name: not empty, not
// starting with a dot and without "..", as compiler-made local labels have.
bool isPlainFunctionName(std::string_view name) {
  return !name.empty() && name[0] != '.' && name.find("..") == std::string_view::npos;
}

void setPlacementFlags(Context& ctx, SymbolInfo& si, uint32_t shndx) {
  bool valid = shndx != 0 && namesSection(ctx.input, shndx);
  if (!valid || shndx >= ctx.sym.sectionInfo.size()) return;
  const SectionInfo& sec = ctx.sym.sectionInfo[shndx];
  si.code = sec.kind == SectionClass::kText;
  si.data = sec.kind == SectionClass::kData;
  si.imported = sec.isImport;
  si.tls = sec.isTls;
}

}  // namespace

void classifySections(Context& ctx) {
  uint32_t count = sectionCount(ctx.input);
  ctx.sym.sectionInfo.assign(count, SectionInfo{});
  for (uint32_t i = 1; i < count; ++i) classifyOneSection(ctx, i);
}

void markReferencedSymbols(Context& ctx) {
  ensureSymbolInfo(ctx);
  ElfImage& img = ctx.input;
  uint32_t symbolCount = std::min<uint32_t>(static_cast<uint32_t>(std::max(ctx.sym.view.symbolCount, 0)),
                                            static_cast<uint32_t>(ctx.sym.symbolInfo.size()));
  // The relocations counted with the section references are already in the
  // record of which section names each symbol last; the others are added
  // here. Within one section every part records the same number.
  FilledVector<uint32_t> last(symbolCount, 0);
  std::copy_n(ctx.sym.lastNamedBy.begin(), std::min<size_t>(symbolCount, ctx.sym.lastNamedBy.size()), last.begin());
  const std::vector<uint8_t>& seen = ctx.sym.relocationsSeen;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& rs = img.sh[i];
    if (rs.sh_size == 0 || rs.sh_type != SHT_RELA || (i < seen.size() && seen[i])) continue;
    EntryTable<Elf32_Rela> relocs = relaTable(img, i);
    forEachPart(splitEntries(relocs.count, ctx.opt.threads), [&](uint32_t, uint32_t begin, uint32_t end) {
      for (uint32_t n = begin; n < end; ++n) {
        Elf32_Rela r = relocs.get(n);
        uint32_t s = relSym(r.r_info);
        if (relType(r.r_info) == 0 || s == 0 || s >= symbolCount) continue;
        std::atomic_ref<uint32_t> by(last[s]);
        if (by.load(std::memory_order_relaxed) < i) by.store(i, std::memory_order_relaxed);
      }
    });
  }
  // A symbol is exported when the last relocation section naming it patches
  // an export table (one aimed at no section is no export table's).
  for (uint32_t s = 1; s < symbolCount; ++s) {
    uint32_t by = last[s];
    if (by == 0) continue;
    const Elf32_Shdr& rs = img.sh[by];
    ctx.sym.symbolInfo[s].referenced = 1;
    ctx.sym.symbolInfo[s].exported = namesSection(img, rs.sh_info) && img.sh[rs.sh_info].sh_type == SHT_VKM_EXPORTS;
  }
}

void classifySymbols(Context& ctx, uint32_t i) {
  Elf32_Sym sym;
  if (i == 0 || !symbolAt(ctx, i, sym)) return;
  ensureSymbolInfo(ctx);
  classifySymbol(ctx, i, sym);
}

void classifySymbol(Context& ctx, uint32_t i, const Elf32_Sym& sym) {
  SymbolInfo& si = ctx.sym.symbolInfo[i];
  uint32_t shndx = sym.st_shndx;
  bool valid = shndx != 0 && namesSection(ctx.input, shndx);
  si.empty = sym.st_size == 0;
  si.absolute = shndx == SHN_ABS;
  si.undef = shndx == SHN_UNDEF || (valid && shndx < ctx.sym.sectionInfo.size() && ctx.sym.sectionInfo[shndx].isExport);
  switch (symType(sym)) {
    case STT_SECTION:
      si.sect = 1;
      if (namesSection(ctx.input, shndx) && refsOf(ctx, shndx) == 0) si.empty = 1;
      return;
    case STT_FUNC:
      if (sym.st_size != 0 && !ctx.opt.stripStrings) {
        // The length is kept for the new table, which would measure the name again.
        std::string_view name = symbolNameView(ctx, sym);
        if (isPlainFunctionName(name)) si.func = 1;
        si.nameLen = static_cast<uint32_t>(name.size());
        si.nameMeasured = ctx.sym.view.strtab < 0 || sym.st_name <= ctx.sym.view.stringsSize;
      }
      setPlacementFlags(ctx, si, shndx);
      return;
    case STT_NOTYPE:
    case STT_OBJECT:
    case STT_TLS:
      setPlacementFlags(ctx, si, shndx);
      return;
    default:
      return;
  }
}

void dumpSymbolInfo(Context& ctx, uint32_t i) {
  if (i >= ctx.sym.symbolInfo.size()) return;
  const SymbolInfo& si = ctx.sym.symbolInfo[i];
  say(ctx,
      "     %4d: export:%d import:%d func:%d code:%d data:%d sect:%d referenced:%d undef:%d "
      "new_id:%d use_id:%d offset:0x%8.8x\n",
      static_cast<int>(i), si.exported, si.imported, si.func, si.code, si.data, si.sect, si.referenced, si.undef,
      static_cast<int>(si.newId), static_cast<int>(si.useId), si.offset);
}

}  // namespace zv
