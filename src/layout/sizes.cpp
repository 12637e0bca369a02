// Region sizes for the loader. A relative branch reaches only 32 MB either
// way, so every call from code to an imported or undefined function needs a
// trampoline within reach, and the loader must set that room aside around the
// text: behind it while the end is in reach, else in front of it. The sizes
// can also be held against fixed limits given on the command line, or grown
// by a percentage so that a later build of the module still fits (the
// writer's size options, writer/size_options.cpp). The sizes are the
// layout's own (LayoutState::sizes); the writer copies them into the FileInfo.
#include <cstdint>

#include "layout/layout.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

constexpr uint32_t kTrampolineSize = 16;
constexpr uint32_t kBranchReach = 0x1FFFFFC;
constexpr uint32_t R_PPC_REL24 = 10;

struct TrampolineSpan {
  uint32_t lo = 0;  // lowest address of the text area with trampolines in front
  uint32_t hi = 0;  // one past its highest address with trampolines behind
  uint32_t count = 0;
};

// Whether a relocation section applies to code (its target section executes).
bool appliesToCode(const ElfImage& img, const Elf32_Shdr& h) {
  return h.sh_size != 0 && h.sh_type == SHT_RELA && h.sh_info < sectionCount(img) &&
         (img.sh[h.sh_info].sh_flags & SHF_EXECINSTR);
}

// A branch to an undefined symbol or into an import table goes through a
// trampoline; a branch within its own section, to another ordinary section,
// to an absolute or other reserved index, or to a symbol that the table does
// not hold, does not.
bool needsTrampoline(Context& ctx, const EntryTable<Elf32_Sym>& symbols, const Elf32_Shdr& rela, const Elf32_Rela& r) {
  if (relType(r.r_info) != R_PPC_REL24 || relSym(r.r_info) >= symbols.count) return false;
  uint32_t shndx = symbols.get(relSym(r.r_info)).st_shndx;
  if (shndx == rela.sh_info) return false;
  if (shndx == SHN_UNDEF) return true;
  return namesSection(ctx.input, shndx) && ctx.input.sh[shndx].sh_type == SHT_VKM_IMPORTS;
}

// Reserves one trampoline for the branch at `place`. Fails when neither end
// of the text is in reach.
Status reserveOne(Context& ctx, TrampolineSpan& span, uint32_t place) {
  ++span.count;
  if (span.hi - place <= kBranchReach) {
    span.hi += kTrampolineSize;
    return {};
  }
  span.lo -= kTrampolineSize;
  if (place - span.lo > kBranchReach) {
    say(ctx,
        "***Error: Text is too big to permit a relative relocation to a trampoline to a "
        "target section!.\n");
    return Status::failed();
  }
  return {};
}

Status reserveForSection(Context& ctx, uint32_t section, TrampolineSpan& span) {
  const Elf32_Shdr rela = ctx.input.sh[section];
  EntryTable<Elf32_Rela> relocs = relaTable(ctx.input, section);
  EntryTable<Elf32_Sym> symbols = symbolTable(ctx);
  for (uint32_t n = 0; n < relocs.count; ++n) {
    Elf32_Rela r = relocs.get(n);
    if (needsTrampoline(ctx, symbols, rela, r))
      if (Status e = reserveOne(ctx, span, r.r_offset); !e.ok()) return e;
  }
  return {};
}

}  // namespace

Status sizeRegions(Context& ctx) {
  const LayoutState& lay = ctx.lay;
  RegionSizes& sizes = ctx.lay.sizes;
  sizes.data = lay.region(LoaderRegion::kData).end - lay.region(LoaderRegion::kData).base;
  sizes.load = lay.region(LoaderRegion::kLoad).end - lay.region(LoaderRegion::kLoad).base;
  sizes.temp = lay.region(LoaderRegion::kTemp).end;
  return reserveTrampolines(ctx);
}

Status reserveTrampolines(Context& ctx) {
  RegionSizes& sizes = ctx.lay.sizes;
  const Region& text = ctx.lay.region(LoaderRegion::kText);
  uint32_t base = text.base, end = text.end, align = text.align ? text.align : 1;
  sizes.text = sizes.trampAdj = sizes.trampAddition = 0;
  if (end == base) return {};

  TrampolineSpan span{base & ~(kTrampolineSize - 1), alignUp(end, kTrampolineSize), 0};
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    if (!appliesToCode(ctx.input, ctx.input.sh[i])) continue;
    if (Status r = reserveForSection(ctx, i, span); !r.ok()) return r;
  }

  uint32_t start = span.lo / align * align;
  sizes.text = span.hi - start;
  sizes.trampAdj = base - start;
  sizes.trampAddition = sizes.text - (end - base);
  if (ctx.opt.verbose) {
    say(ctx, "TEXT ADJUSTED from 0x%8.8x to 0x%8.8x for %d TRAMPOLINES\n", end - base, sizes.text,
        static_cast<int>(span.count));
    say(ctx, "TEXT TRAMP ADDITION is %d\n", static_cast<int>(sizes.trampAddition));
  }
  return {};
}

}  // namespace zv
