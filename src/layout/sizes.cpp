// Region sizes for the loader. A relative branch reaches only 32 MB either
// way, so every call from code to an imported or undefined function needs a
// trampoline within reach, and the loader must set that room aside around the
// text: behind it while the end is in reach, else in front of it. The sizes
// can also be held against fixed limits given on the command line, or grown
// by a percentage so that a later build of the module still fits.
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

// x rounded up to a multiple of `align` (0 counts as 1), in 64 bits.
uint64_t roundUp64(uint64_t x, uint32_t align) {
  uint64_t a = align ? align : 1;
  return (x + a - 1) / a * a;
}

// Grows one size by `percent` and rounds it up to the alignment, in 64 bits.
uint64_t padded(uint32_t size, uint32_t percent, uint32_t align) {
  return roundUp64(size + uint64_t{size} * percent / 100, align);
}

// The limit rounded up to a multiple of the alignment, for the suggestion.
int64_t roundUpSigned(int64_t x, int64_t align) {
  int64_t rem = ((x % align) + align) % align;
  return rem ? x + (align - rem) : x;
}

}  // namespace

Status reserveTrampolines(Context& ctx) {
  FileInfoHeader& fi = ctx.wr.fi;
  const Region& text = ctx.lay.region(LoaderRegion::kText);
  uint32_t base = text.base, end = text.end, align = text.align ? text.align : 1;
  fi.textSize = fi.trampAdj = fi.trampAddition = 0;
  if (end == base) return {};

  TrampolineSpan span{base & ~(kTrampolineSize - 1), alignUp(end, kTrampolineSize), 0};
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    if (!appliesToCode(ctx.input, ctx.input.sh[i])) continue;
    if (Status r = reserveForSection(ctx, i, span); !r.ok()) return r;
  }

  uint32_t start = span.lo / align * align;
  fi.textSize = span.hi - start;
  fi.trampAdj = base - start;
  fi.trampAddition = fi.textSize - (end - base);
  if (ctx.opt.verbose) {
    say(ctx, "TEXT ADJUSTED from 0x%8.8x to 0x%8.8x for %d TRAMPOLINES\n", end - base, fi.textSize,
        static_cast<int>(span.count));
    say(ctx, "TEXT TRAMP ADDITION is %d\n", static_cast<int>(fi.trampAddition));
  }
  return {};
}

Status checkRegionLimit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                        int32_t alignment) {
  const char* out = ctx.opt.outputPath.c_str();
  // The free room as the 32-bit loader fields hold it.
  int32_t freeBytes = static_cast<int32_t>(int64_t{limit} - size);
  bool misaligned = false;
  // An alignment of 2 GB or more arrives negative; it is still an alignment
  // the limit must meet (only 0 names none).
  if (alignment != 0 && int64_t{limit} % alignment != 0) {
    int64_t magnitude = alignment < 0 ? -int64_t{alignment} : int64_t{alignment};
    say(ctx, "Error: \"%s\" %s %d is not aligned to %s segment %d byte alignment (try %d).\n", out, optionName, limit,
        regionName, alignment, static_cast<int>(roundUpSigned(limit, magnitude)));
    misaligned = true;
  }
  // Sizes are unsigned in the record: one of 2 GB or more is over any limit.
  if (static_cast<uint32_t>(size) > 0x7FFFFFFFu || size > limit) {
    say(ctx, "Error: %s has %s size of %d is larger then limit from %s %d\n", out, regionName, size, optionName, limit);
    return Status::failed();
  }
  // An empty region leaves an unbounded share free and never warns.
  if (size != 0) {
    double pct = static_cast<double>(freeBytes) / static_cast<double>(size) * 100.0;
    if (pct <= 1.0) {
      say(ctx, "Warning: %s has %s size of %d which leaves %6.2f%% (%d bytes) free\n", out, regionName, size, pct,
          freeBytes);
      say(ctx, "Warning: %s based on %s %d\n", out, optionName, limit);
    }
  }
  return misaligned ? Status::failed() : Status();
}

Status padRegions(Context& ctx, uint32_t percent) {
  if (percent == 0) return {};
  FileInfoHeader& fi = ctx.wr.fi;
  struct Grown {
    const char* region;
    uint32_t& size;
    uint64_t value;
  };
  Grown grown[] = {{"DATA", fi.dataSize, padded(fi.dataSize, percent, fi.dataAlign)},
                   {"LOAD", fi.loadSize, padded(fi.loadSize, percent, fi.loadAlign)},
                   {"TEMP", fi.tempSize, padded(fi.tempSize, percent, fi.loadAlign)},
                   {"TEXT", fi.textSize, padded(fi.textSize, percent, fi.textAlign)}};
  // The record holds 32-bit sizes; a size that would not fit (a huge or
  // negative percentage) is refused rather than cut or capped.
  for (const Grown& g : grown) {
    if (g.value <= 0xFFFFFFFFu) continue;
    say(ctx, "Error: \"%s\" -padall %u makes the %s size larger than 4 GB. return -1.\n", ctx.opt.outputPath.c_str(),
        percent, g.region);
    return Status::failed();
  }
  for (Grown& g : grown) g.size = static_cast<uint32_t>(g.value);
  return {};
}

}  // namespace zv
