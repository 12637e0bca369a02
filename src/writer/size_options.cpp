// The region sizes the command line may fix: -sizedata, -sizetext,
// -sizeload and -sizetemp hold each size of the FileInfo against a limit
// and then report the limit itself, so that a later build of the module
// still fits the room the loader sets aside; -padall grows every size by a
// percentage instead.
#include <cstdint>

#include "writer/writer.h"

namespace zv {

namespace {

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

// Fixed region sizes from the command line, or a percentage on top.
Status applySizeOptions(Context& ctx) {
  FileInfoHeader& fi = ctx.wr.fi;
  const Options& o = ctx.opt;
  if (o.byteSizesGiven) {
    auto sz = [](uint32_t v) { return static_cast<int32_t>(v); };
    // The first region over its limit stops the checks.
    if (Status r = checkRegionLimit(ctx, "DATA", "-sizedata", sz(fi.dataSize), o.sizeData, sz(fi.dataAlign)); !r.ok())
      return r;
    if (Status r = checkRegionLimit(ctx, "LOAD", "-sizeload", sz(fi.loadSize), o.sizeLoad, sz(fi.loadAlign)); !r.ok())
      return r;
    if (Status r = checkRegionLimit(ctx, "TEMP", "-sizetemp", sz(ctx.wr.compressedTempTotal), o.sizeTemp, 4); !r.ok())
      return r;
    if (Status r = checkRegionLimit(ctx, "TEXT", "-sizetext", sz(fi.textSize), o.sizeText, sz(fi.textAlign)); !r.ok())
      return r;
    fi.dataSize = static_cast<uint32_t>(o.sizeData);
    fi.loadSize = static_cast<uint32_t>(o.sizeLoad);
    fi.tempSize = static_cast<uint32_t>(o.sizeTemp);
    fi.textSize = static_cast<uint32_t>(o.sizeText);
  }
  if (o.padAllPercent != 0) return padRegions(ctx, o.padAllPercent);
  return {};
}

}  // namespace zv
