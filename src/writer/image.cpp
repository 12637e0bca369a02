// The module file as a whole: the ELF header marked for the platform, the
// section header table right behind it, the CRC words, the FileInfo record
// and every section's contents at the offset the layout gave it, built in one
// buffer and written in one go. The file appears under its name only once it
// is complete; an existing file of that name survives any failure.
#include <algorithm>
#include <new>

#include "elf/crc.h"
#include "writer/writer.h"

namespace zv {

namespace {

bool fileIsLsb(const Context& ctx) { return ctx.wr.outHeader.e_ident[EI_DATA] == ELFDATA2LSB; }

// Copies `len` bytes to `at` when they fit the image (the layout made sure).
void putBytes(std::vector<uint8_t>& image, uint64_t at, const uint8_t* src, uint64_t len) {
  if (at > image.size() || len > image.size() - at) return;
  std::copy_n(src, len, image.begin() + static_cast<std::ptrdiff_t>(at));
}

void putElfHeader(Context& ctx, std::vector<uint8_t>& image) {
  Elf32_Ehdr& h = ctx.wr.outHeader;
  h.e_phentsize = 0;
  h.e_phnum = 0;
  h.e_phoff = 0;
  h.e_flags = 0;
  h.e_ident[EI_OSABI] = kModuleOsAbi;
  h.e_ident[EI_ABIVERSION] = kModuleAbiVersion;
  h.e_type = kModuleFileType;
  h.e_ehsize = kEhdrSize;
  h.e_shoff = kModuleSectionTable;
  h.e_shentsize = kShdrSize;  // the table below is written with 40-byte entries
  Elf32_Ehdr out = h;
  if (!fileIsLsb(ctx)) swapElfHeader(out);
  storeRecord(image.data(), out);
}

// One stretch of the file taken from elsewhere: a section's plain bytes in
// the input image or its compressed form.
struct Piece {
  uint64_t at = 0;
  const uint8_t* data = nullptr;
  uint64_t len = 0;
};

// Where each section's contents come from, in file order. Zero-filled
// sections lose their offset; bytes the image does not hold stay zero.
std::vector<Piece> sectionPieces(Context& ctx) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  std::vector<Piece> pieces;
  for (uint32_t j = 1; j + 2 < n; ++j) {
    Elf32_Shdr& h = w.newHeaders[j];
    if (h.sh_size == 0 || h.sh_offset == 0) continue;
    if (h.sh_type == SHT_NOBITS) {
      h.sh_offset = 0;
      continue;
    }
    if (h.sh_flags & SHF_VKM_COMPRESSED) {
      const CompressedBytes& c = w.compressed[j];
      pieces.push_back({h.sh_offset, c.bytes.get(), std::min<uint64_t>(c.bytes ? c.size : 0, h.sh_size)});
      continue;
    }
    uint32_t old = ctx.lay.map.inputIndexOf(j, sectionCount(ctx.input));
    std::span<uint8_t> src = old ? sectionBytes(ctx.input, old) : std::span<uint8_t>();
    pieces.push_back({h.sh_offset, src.data(), std::min<uint64_t>(src.size(), h.sh_size)});
  }
  std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.at < b.at; });
  return pieces;
}

void putFileInfoAndCrcs(Context& ctx, std::vector<uint8_t>& image) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  storeFileInfo(ctx);
  putBytes(image, w.fileInfoOffset, w.fileInfo.data(), w.fileInfo.size());
  w.crcs[n - 1] = crc32Of(0, w.fileInfo.data(), w.fileInfo.size());
  uint64_t at = uint64_t{64} + uint64_t{40} * n;
  for (uint32_t j = 0; j < n; ++j) {
    if (at + 4 * uint64_t{j} + 4 > image.size()) break;
    storeBE32(image.data() + at + 4 * j, w.crcs[j]);
  }
}

void putSectionHeaders(Context& ctx, std::vector<uint8_t>& image) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  for (uint32_t j = 1; j < n; ++j) {
    Elf32_Shdr h = w.newHeaders[j];
    if (!fileIsLsb(ctx)) swapSectionHeader(h);
    uint64_t at = uint64_t{64} + uint64_t{kShdrSize} * j;
    putBytes(image, at, reinterpret_cast<const uint8_t*>(&h), sizeof h);
  }
}

// Sends the file's bytes in order to `put`: the front, then every piece at
// its offset with zeros in the gaps, up to `size` bytes. Bytes that fall
// outside the file or on bytes already sent are left out (the layout never
// makes such pieces). False when `put` fails.
template <typename Put>
[[nodiscard]] bool sendFile(const std::vector<uint8_t>& front, const std::vector<Piece>& pieces, uint64_t size,
                            Put put) {
  static const uint8_t kZeros[4096] = {};
  uint64_t done = 0;
  auto zeros = [&](uint64_t to) {
    while (done < to) {
      uint64_t k = std::min<uint64_t>(to - done, sizeof kZeros);
      if (!put(kZeros, k)) return false;
      done += k;
    }
    return true;
  };
  uint64_t frontLen = std::min<uint64_t>(front.size(), size);
  if (frontLen && !put(front.data(), frontLen)) return false;
  done = frontLen;
  for (const Piece& p : pieces) {
    if (p.at >= size || p.len == 0) continue;
    uint64_t skip = p.at < done ? done - p.at : 0;
    if (skip >= p.len) continue;
    uint64_t len = std::min(p.len - skip, size - (p.at + skip));
    if (!zeros(p.at + skip) || !put(p.data + skip, len)) return false;
    done += len;
  }
  return zeros(size);
}

Status writeFile(Context& ctx, const std::vector<uint8_t>& front, const std::vector<Piece>& pieces) {
  OutputFile out;
  if (!openOutputFile(ctx.opt.outputPath, out).ok()) {
    say(ctx, "***Error: Could not open outfile file for writing.\n");
    return Status::failed();
  }
  bool ok = sendFile(front, pieces, ctx.wr.fileSize,
                     [&](const uint8_t* data, uint64_t len) { return writeOutputBytes(out, data, len); });
  if (!ok) {
    discardOutputFile(out);
    say(ctx, "***Error: Failed writing output file.\n");
    return Status::failed();
  }
  if (!commitOutputFile(out).ok()) {
    say(ctx, "***Error: Failed writing output file.\n");
    return Status::failed();
  }
  return {};
}

}  // namespace

// The front of the file (headers, CRC words, FileInfo) is built in memory;
// the section contents go to the file straight from where they are, so the
// run never holds a second copy of the module.
Status buildAndWriteImage(Context& ctx) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  if (n < 3 || w.crcs.size() != n || w.compressed.size() != n) return Status::failed();  // not laid out
  uint64_t frontSize = std::min<uint64_t>(uint64_t{w.fileInfoOffset} + w.fileInfoSize, w.fileSize);
  if (frontSize < 64 + uint64_t{44} * n) return Status::failed();  // not laid out
  std::vector<uint8_t> front;
  try {
    front.assign(frontSize, 0);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return Status::failed();
  }
  std::vector<Piece> pieces = sectionPieces(ctx);
  putElfHeader(ctx, front);
  putFileInfoAndCrcs(ctx, front);
  putSectionHeaders(ctx, front);
  Status result;
  if (ctx.inMemory) {
    std::vector<uint8_t> image;
    image.reserve(w.fileSize);
    // Appending never fails (running out of memory throws), so the module
    // is always whole here; the check keeps the sink's contract all the same.
    bool sent = sendFile(front, pieces, w.fileSize, [&](const uint8_t* data, uint64_t len) {
      image.insert(image.end(), data, data + len);
      return true;
    });
    if (sent) {
      ctx.outputBytes = std::move(image);
    } else {
      say(ctx, "***Error: Failed writing output file.\n");
      result = Status::failed();
    }
  } else {
    result = writeFile(ctx, front, pieces);
  }
  // The compressed forms are no longer needed once the file is out.
  w.compressed.clear();
  return result;
}

}  // namespace zv
