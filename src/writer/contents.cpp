// Where each section's contents go in the module file. The loader reads the
// file front to back: first the data it keeps writable, then its own tables
// (exports, imports, symbols, names), then the code, then what it needs only
// while loading (relocations). Every section starts on a 64-byte boundary,
// each gets a CRC-32 of its bytes as they are before compression, and a
// section is stored zlib-compressed when that makes it smaller.
#include <zlib.h>

#include <memory>
#include <new>

#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr uint32_t kMinCompressSize = 32;
constexpr uint32_t kCompressSlack = 1024;

using Group = ModuleGroup;
Group group_of(const Elf32_Shdr& h) { return moduleGroup(h); }

// The first and last file offsets a pass gave out, for its summary line.
struct PassSpan {
  bool started = false;
  uint32_t first = 0;
  uint32_t last = 0;
};

char flag(const Elf32_Shdr& h, uint32_t bit, char c) { return (h.sh_flags & bit) ? c : '.'; }

// The uncompressed contents of new section j: the input image's bytes of its
// old section, zero-extended in `scratch` when the image holds fewer than
// sh_size bytes, so nothing reads past the section.
std::span<const uint8_t> contents_of(Context& ctx, uint32_t j, std::vector<uint8_t>& scratch) {
  uint32_t size = ctx.wr.newHeaders[j].sh_size;
  uint32_t old = (j < ctx.lay.map.oldIndex.size() && ctx.lay.map.oldIndex[j] > 0)
                     ? static_cast<uint32_t>(ctx.lay.map.oldIndex[j])
                     : 0;
  std::span<uint8_t> bytes = old ? sectionBytes(ctx.input, old) : std::span<uint8_t>();
  if (bytes.size() >= size) return {bytes.data(), size};
  scratch.assign(size, 0);
  std::copy(bytes.begin(), bytes.end(), scratch.begin());
  return {scratch.data(), scratch.size()};
}

// Compresses section j when it pays: the stored form is a big-endian size
// word and a zlib stream, kept only when shorter than the plain contents.
// A stream that does not fit the room behind the word does not pay either.
uint32_t compress_section(Context& ctx, uint32_t j, std::span<const uint8_t> src) {
  Elf32_Shdr& h = ctx.wr.newHeaders[j];
  // The room is left uninitialised: only the pages the stream is written to
  // are ever touched, so a large section that compresses well costs little
  // more than its stream.
  uint64_t room = uint64_t{h.sh_size} + kCompressSlack;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[room]);
  if (!buf) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return kFail;
  }
  uLongf streamLen = static_cast<uLongf>(room - 4);
  int zr = compress2(buf.get() + 4, &streamLen, src.data(), src.size(), ctx.opt.compressLevel);
  if (zr == Z_BUF_ERROR) return 0;
  if (zr != Z_OK) {
    say(ctx, "***Error during compression %08X\n", static_cast<uint32_t>(zr));
    return static_cast<uint32_t>(zr);
  }
  storeBE32(buf.get(), h.sh_size);
  if (uint64_t{streamLen} + 4 < h.sh_size) {
    h.sh_flags |= SHF_VKM_COMPRESSED;
    h.sh_size = static_cast<uint32_t>(streamLen + 4);
    try {
      ctx.wr.compressed[j].assign(buf.get(), buf.get() + h.sh_size);
    } catch (const std::bad_alloc&) {
      say(ctx, "***Error: Mem alloc failed.\n");
      return kFail;
    }
  }
  return 0;
}

uint32_t advance(Context& ctx, uint64_t end) {
  uint64_t next = (end + 63) & ~uint64_t{63};
  if (next > 0xFFFFFFFFu) {
    say(ctx, "***Error: The module file would be larger than 4 GB. Return -1.\n");
    return kFail;
  }
  ctx.wr.S = static_cast<uint32_t>(next);
  return 0;
}

// Gives new section j its file offset, CRC and (when it pays) compression.
uint32_t place_section(Context& ctx, uint32_t j, Group pass, PassSpan& span) {
  WriterState& w = ctx.wr;
  Elf32_Shdr& h = w.newHeaders[j];
  h.sh_offset = w.S;
  if (!span.started) {
    span.started = true;
    span.first = w.S;
  }
  // Zero-filled memory takes no room in the file and has no CRC. (The writer
  // refuses such a section in the loader range before it gets here.)
  if (h.sh_type == SHT_NOBITS) {
    if (ctx.opt.verbose)
      say(ctx, "%02d: t%08X a%08X m%08X z-------- offset -------- %c%c%c%c\n", static_cast<int>(j), 8u, h.sh_addr,
          h.sh_size, 'a', '.', flag(h, SHF_WRITE, 'w'), flag(h, SHF_VKM_COMPRESSED, 'z'));
    return 0;
  }
  if (pass == Group::Data) h.sh_flags |= SHF_WRITE;
  uint32_t plainSize = h.sh_size;
  std::vector<uint8_t> scratch;
  std::span<const uint8_t> src = contents_of(ctx, j, scratch);
  w.crcs[j] = static_cast<uint32_t>(crc32(0L, src.data(), static_cast<uInt>(src.size())));
  bool mayCompress = ctx.opt.compress && plainSize >= kMinCompressSize &&
                     !(pass == Group::Temp && j == w.outHeader.e_shstrndx);
  if (mayCompress) {
    if (uint32_t r = compress_section(ctx, j, src)) return r;
    if (pass == Group::Temp) w.compressedTempTotal += h.sh_size;
  }
  if (ctx.opt.verbose)
    say(ctx, "%02d: t%08X a%08X m%08X z%08X offset %08X %c%c%c%c\n", static_cast<int>(j), h.sh_type, h.sh_addr,
        plainSize, h.sh_size, h.sh_offset, flag(h, SHF_ALLOC, 'a'), flag(h, SHF_EXECINSTR, 'x'),
        flag(h, SHF_WRITE, 'w'), flag(h, SHF_VKM_COMPRESSED, 'z'));
  if (uint32_t r = advance(ctx, uint64_t{w.S} + h.sh_size)) return r;
  span.last = w.S;
  return 0;
}

bool belongs(const Elf32_Shdr& h, Group pass) {
  if (h.sh_size == 0) return false;
  if (pass == Group::Temp) return h.sh_offset == 0;
  return group_of(h) == pass;
}

// Everything the loader unpacks must fit in its 32-bit address space.
// Sections may share file bytes, so a small input can describe far more than
// that; the sum is checked before any contents are summed or compressed.
uint32_t check_unpacked_total(Context& ctx) {
  const std::vector<Elf32_Shdr>& headers = ctx.wr.newHeaders;
  uint64_t total = 0;
  for (size_t j = 1; j + 2 < headers.size(); ++j)
    if (headers[j].sh_type != SHT_NOBITS) total += headers[j].sh_size;
  if (total <= 0xFFFFFFFFu) return 0;
  say(ctx, "***Error: The contents of the module would take more than 4 GB once unpacked. Return -1.\n");
  return kFail;
}

uint32_t run_pass(Context& ctx, Group pass, const char* title, uint32_t regionSize) {
  if (ctx.opt.verbose) say(ctx, "%s", title);
  PassSpan span;
  uint32_t n = static_cast<uint32_t>(ctx.wr.newHeaders.size());
  for (uint32_t j = 1; j + 2 < n; ++j) {
    if (!belongs(ctx.wr.newHeaders[j], pass)) continue;
    if (uint32_t r = place_section(ctx, j, pass, span)) return r;
  }
  if (ctx.opt.verbose)
    say(ctx, "%08X-%08X, size %08X, mem %08X\n", span.first, span.last, span.last - span.first, regionSize);
  return 0;
}

}  // namespace

uint32_t lay_out_sections(Context& ctx) {
  WriterState& w = ctx.wr;
  FileInfoHeader& fi = w.fi;
  const Region* rg = ctx.lay.regions;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  uint64_t f = (uint64_t{64} + uint64_t{44} * n + 63) & ~uint64_t{63};
  w.F = static_cast<uint32_t>(f);
  if (uint32_t r = advance(ctx, f + w.E)) return r;
  w.crcs.assign(n, 0);
  w.compressed.assign(n, std::vector<uint8_t>());
  w.compressedTempTotal = 0;
  if (uint32_t r = check_unpacked_total(ctx)) return r;

  fi.dataAlign = fi.dataSize ? rg[DATA].align : 4;
  if (fi.dataSize)
    if (uint32_t r = run_pass(ctx, Group::Data, "--DATA------------------\n", fi.dataSize)) return r;
  fi.loadAlign = fi.loadSize ? rg[LOAD].align : 4;
  if (fi.loadSize)
    if (uint32_t r = run_pass(ctx, Group::Load, "--LOAD------------------\n", fi.loadSize)) return r;
  fi.textAlign = fi.textSize ? rg[TEXT].align : 4;
  if (fi.textSize) {
    if (uint32_t r = run_pass(ctx, Group::Text, "--TEXT------------------\n", fi.textSize)) return r;
    if (ctx.opt.verbose) say(ctx, "TrampAdj %08X\n", fi.trampAdj);
  }
  if (fi.tempSize)
    if (uint32_t r = run_pass(ctx, Group::Temp, "--TEMP------------------\n", fi.tempSize)) return r;
  return 0;
}

}  // namespace zv
