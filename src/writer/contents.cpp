// Where each section's contents go in the module file. The loader reads the
// file front to back: first the data it keeps writable, then its own tables
// (exports, imports, symbols, names), then the code, then what it needs only
// while loading (relocations). Every section starts on a 64-byte boundary,
// each gets a CRC-32 of its bytes as they are before compression, and a
// section is stored zlib-compressed when that makes it smaller.
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "elf/crc.h"
#include "platform/parallel.h"
#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kMinCompressSize = 32;
constexpr uint32_t kCompressSlack = 1024;

using Group = ModuleGroup;
Group groupOf(const Elf32_Shdr& h) { return moduleGroup(h); }

// The first and last file offsets a pass gave out, for its summary line.
struct PassSpan {
  bool started = false;
  uint32_t first = 0;
  uint32_t last = 0;
};

char flag(const Elf32_Shdr& h, uint32_t bit, char c) { return (h.sh_flags & bit) ? c : '.'; }

// The work on one section's contents that needs no other section's result,
// so it can run on any thread: the CRC-32 of the plain bytes and, when the
// section may be stored compressed, its zlib stream. Nothing is printed here;
// the layout reports the outcome in file order.
struct SectionWork {
  uint32_t j = 0;
  uint32_t plainSize = 0;
  bool mayCompress = false;
  uint32_t crc = 0;
  int zlibResult = Z_OK;
  bool outOfMemory = false;
  CompressedBytes stream;  // size word + zlib stream, kept only when it pays
};

// The uncompressed contents of new section j: the input image's bytes of its
// old section, zero-extended in `scratch` when the image holds fewer than
// sh_size bytes, so nothing reads past the section.
std::span<const uint8_t> contentsOf(Context& ctx, uint32_t j, std::vector<uint8_t>& scratch) {
  uint32_t size = ctx.wr.newHeaders[j].sh_size;
  uint32_t old = ctx.lay.map.inputIndexOf(j, sectionCount(ctx.input));
  std::span<uint8_t> bytes = old ? sectionBytes(ctx.input, old) : std::span<uint8_t>();
  if (bytes.size() >= size) return {bytes.data(), size};
  scratch.assign(size, 0);
  std::copy(bytes.begin(), bytes.end(), scratch.begin());
  return {scratch.data(), scratch.size()};
}

// The stored form is a big-endian size word and a zlib stream, kept only when
// shorter than the plain contents. A stream that does not fit the room behind
// the word does not pay either. The room is left uninitialised: only the pages
// the stream is written to are ever touched, so a large section that
// compresses well costs little more than its stream.
void compressContents(SectionWork& work, std::span<const uint8_t> src, int level) {
  uint64_t room = uint64_t{work.plainSize} + kCompressSlack;
  std::unique_ptr<uint8_t[]> buf;
  try {
    buf.reset(new uint8_t[room]);
  } catch (const std::bad_alloc&) {
    work.outOfMemory = true;
    return;
  }
  uLongf streamLen = static_cast<uLongf>(room - 4);
  work.zlibResult = compress2(buf.get() + 4, &streamLen, src.data(), static_cast<uLong>(src.size()), level);
  if (work.zlibResult != Z_OK || uint64_t{streamLen} + 4 >= work.plainSize) return;
  storeBE32(buf.get(), work.plainSize);
  work.stream.bytes = std::move(buf);
  work.stream.size = static_cast<uint32_t>(streamLen + 4);
}

void doSectionWork(Context& ctx, SectionWork& work) {
  std::vector<uint8_t> scratch;
  std::span<const uint8_t> src;
  try {
    src = contentsOf(ctx, work.j, scratch);
  } catch (const std::bad_alloc&) {
    work.outOfMemory = true;
    return;
  }
  work.crc = crc32Of(0, src.data(), src.size());
  if (work.mayCompress) compressContents(work, src, ctx.opt.compressLevel);
}

// Takes the outcome of the section's work into its header: the CRC, and the
// compressed form when it paid. Fails (after its message) with -1 or the zlib result.
Status takeSectionWork(Context& ctx, SectionWork& work, Group pass) {
  WriterState& w = ctx.wr;
  Elf32_Shdr& h = w.newHeaders[work.j];
  if (work.outOfMemory) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return Status::failed();
  }
  w.crcs[work.j] = work.crc;
  if (!work.mayCompress) return {};
  if (work.zlibResult != Z_OK && work.zlibResult != Z_BUF_ERROR) {
    say(ctx, "***Error during compression %08X\n", static_cast<uint32_t>(work.zlibResult));
    return Status::withValue(static_cast<uint32_t>(work.zlibResult));
  }
  if (work.stream.bytes) {
    h.sh_flags |= SHF_VKM_COMPRESSED;
    h.sh_size = work.stream.size;
    w.compressed[work.j] = std::move(work.stream);
  }
  if (pass == Group::kTemp) w.compressedTempTotal += h.sh_size;
  return {};
}

Status advance(Context& ctx, uint64_t end) {
  uint64_t next = (end + 63) & ~uint64_t{63};
  if (next > 0xFFFFFFFFu) {
    say(ctx, "***Error: The module file would be larger than 4 GB. Return -1.\n");
    return Status::failed();
  }
  ctx.wr.fileSize = static_cast<uint32_t>(next);
  return {};
}

// Gives new section j its file offset, CRC and (when it pays) compression.
Status placeSection(Context& ctx, uint32_t j, Group pass, PassSpan& span, SectionWork* work) {
  WriterState& w = ctx.wr;
  Elf32_Shdr& h = w.newHeaders[j];
  h.sh_offset = w.fileSize;
  if (!span.started) {
    span.started = true;
    span.first = w.fileSize;
  }
  // Zero-filled memory takes no room in the file and has no CRC. (The writer
  // refuses such a section in the loader range before it gets here.)
  if (h.sh_type == SHT_NOBITS) {
    if (ctx.opt.verbose)
      say(ctx, "%02d: t%08X a%08X m%08X z-------- offset -------- %c%c%c%c\n", static_cast<int>(j), 8u, h.sh_addr,
          h.sh_size, 'a', '.', flag(h, SHF_WRITE, 'w'), flag(h, SHF_VKM_COMPRESSED, 'z'));
    return {};
  }
  if (pass == Group::kData) h.sh_flags |= SHF_WRITE;
  uint32_t plainSize = h.sh_size;
  if (!work) return Status::failed();  // not planned: cannot happen
  if (Status r = takeSectionWork(ctx, *work, pass); !r.ok()) return r;
  if (ctx.opt.verbose)
    say(ctx, "%02d: t%08X a%08X m%08X z%08X offset %08X %c%c%c%c\n", static_cast<int>(j), h.sh_type, h.sh_addr,
        plainSize, h.sh_size, h.sh_offset, flag(h, SHF_ALLOC, 'a'), flag(h, SHF_EXECINSTR, 'x'),
        flag(h, SHF_WRITE, 'w'), flag(h, SHF_VKM_COMPRESSED, 'z'));
  if (Status r = advance(ctx, uint64_t{w.fileSize} + h.sh_size); !r.ok()) return r;
  span.last = w.fileSize;
  return {};
}

// Everything the loader unpacks must fit in its 32-bit address space.
// Sections may share file bytes, so a small input can describe far more than
// that; the sum is checked before any contents are summed or compressed.
Status checkUnpackedTotal(Context& ctx) {
  const std::vector<Elf32_Shdr>& headers = ctx.wr.newHeaders;
  uint64_t total = 0;
  for (size_t j = 1; j + 2 < headers.size(); ++j)
    if (headers[j].sh_type != SHT_NOBITS) total += headers[j].sh_size;
  if (total <= 0xFFFFFFFFu) return {};
  say(ctx, "***Error: The contents of the module would take more than 4 GB once unpacked. Return -1.\n");
  return Status::failed();
}

// The passes in file order, each with the sections it places. A pass runs
// only when its region has a size; the last pass takes every section with
// contents that no earlier pass placed.
struct Pass {
  Group group;
  const char* title;
  uint32_t regionSize;
  std::vector<uint32_t> sections;
};

std::vector<Pass> planPasses(Context& ctx) {
  const FileInfoHeader& fi = ctx.wr.fi;
  const std::vector<Elf32_Shdr>& headers = ctx.wr.newHeaders;
  std::vector<Pass> passes = {{Group::kData, "--DATA------------------\n", fi.dataSize, {}},
                              {Group::kLoad, "--LOAD------------------\n", fi.loadSize, {}},
                              {Group::kText, "--TEXT------------------\n", fi.textSize, {}},
                              {Group::kTemp, "--TEMP------------------\n", fi.tempSize, {}}};
  uint32_t n = static_cast<uint32_t>(headers.size());
  std::vector<uint8_t> placed(n, 0);
  for (Pass& p : passes) {
    if (p.regionSize == 0) continue;
    for (uint32_t j = 1; j + 2 < n; ++j) {
      const Elf32_Shdr& h = headers[j];
      if (h.sh_size == 0 || placed[j]) continue;
      if (p.group != Group::kTemp && groupOf(h) != p.group) continue;
      p.sections.push_back(j);
      placed[j] = 1;
    }
  }
  return passes;
}

// The CRC and compression of every planned section with contents, largest
// first on the run's threads, so the longest never starts last. Without
// compression the CRCs alone share the threads.
std::vector<SectionWork> workOnContents(Context& ctx, const std::vector<Pass>& passes) {
  const WriterState& w = ctx.wr;
  std::vector<SectionWork> works;
  for (const Pass& p : passes) {
    for (uint32_t j : p.sections) {
      const Elf32_Shdr& h = w.newHeaders[j];
      if (h.sh_type == SHT_NOBITS) continue;
      SectionWork work;
      work.j = j;
      work.plainSize = h.sh_size;
      work.mayCompress = ctx.opt.compress && h.sh_size >= kMinCompressSize &&
                         !(p.group == Group::kTemp && j == w.outHeader.e_shstrndx);
      works.push_back(std::move(work));
    }
  }
  std::vector<uint32_t> order(works.size());
  for (uint32_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return works[a].plainSize > works[b].plainSize; });
  runOnThreads(order.size(), ctx.opt.threads, [&](size_t k) { doSectionWork(ctx, works[order[k]]); });
  return works;
}

Status runPass(Context& ctx, const Pass& pass, std::vector<SectionWork>& works, size_t& nextWork) {
  if (ctx.opt.verbose) say(ctx, "%s", pass.title);
  PassSpan span;
  for (uint32_t j : pass.sections) {
    SectionWork* work = nullptr;
    if (nextWork < works.size() && works[nextWork].j == j) work = &works[nextWork++];
    if (Status r = placeSection(ctx, j, pass.group, span, work); !r.ok()) return r;
  }
  if (ctx.opt.verbose)
    say(ctx, "%08X-%08X, size %08X, mem %08X\n", span.first, span.last, span.last - span.first, pass.regionSize);
  return {};
}

}  // namespace

Status layOutSections(Context& ctx) {
  WriterState& w = ctx.wr;
  FileInfoHeader& fi = w.fi;
  const LayoutState& lay = ctx.lay;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  uint64_t f = (uint64_t{64} + uint64_t{44} * n + 63) & ~uint64_t{63};
  w.fileInfoOffset = static_cast<uint32_t>(f);
  if (Status r = advance(ctx, f + w.fileInfoSize); !r.ok()) return r;
  w.crcs.assign(n, 0);
  w.compressed.clear();
  w.compressed.resize(n);
  w.compressedTempTotal = 0;
  if (Status r = checkUnpackedTotal(ctx); !r.ok()) return r;

  std::vector<Pass> passes = planPasses(ctx);
  std::vector<SectionWork> works = workOnContents(ctx, passes);
  size_t nextWork = 0;
  fi.dataAlign = fi.dataSize ? lay.region(LoaderRegion::kData).align : 4;
  fi.loadAlign = fi.loadSize ? lay.region(LoaderRegion::kLoad).align : 4;
  fi.textAlign = fi.textSize ? lay.region(LoaderRegion::kText).align : 4;
  for (const Pass& p : passes) {
    if (p.regionSize == 0) continue;
    if (Status r = runPass(ctx, p, works, nextWork); !r.ok()) return r;
    if (p.group == Group::kText && ctx.opt.verbose) say(ctx, "TrampAdj %08X\n", fi.trampAdj);
  }
  return {};
}

}  // namespace zv
