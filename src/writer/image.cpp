// The module file as a whole: the ELF header marked for the platform, the
// section header table right behind it, the CRC words, the FileInfo record
// and every section's contents at the offset the layout gave it, built in one
// buffer and written in one go. The file appears under its name only once it
// is complete; an existing file of that name survives any failure.
#include <zlib.h>

#include <algorithm>
#include <new>

#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;

bool file_is_lsb(const Context& ctx) { return ctx.wr.outHeader.e_ident[EI_DATA] == ELFDATA2LSB; }

// Copies `len` bytes to `at` when they fit the image (the layout made sure).
void put_bytes(std::vector<uint8_t>& image, uint64_t at, const uint8_t* src, uint64_t len) {
  if (at > image.size() || len > image.size() - at) return;
  std::copy_n(src, len, image.begin() + static_cast<std::ptrdiff_t>(at));
}

void put_elf_header(Context& ctx, std::vector<uint8_t>& image) {
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
  if (!file_is_lsb(ctx)) swapElfHeader(out);
  storeRecord(image.data(), out);
}

void put_section_contents(Context& ctx, std::vector<uint8_t>& image) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  for (uint32_t j = 1; j + 2 < n; ++j) {
    Elf32_Shdr& h = w.newHeaders[j];
    if (h.sh_size == 0 || h.sh_offset == 0) continue;
    if (h.sh_type == SHT_NOBITS) {
      h.sh_offset = 0;
      continue;
    }
    if (h.sh_flags & SHF_VKM_COMPRESSED) {
      const std::vector<uint8_t>& buf = w.compressed[j];
      put_bytes(image, h.sh_offset, buf.data(), std::min<uint64_t>(buf.size(), h.sh_size));
      continue;
    }
    int32_t old = j < ctx.lay.map.oldIndex.size() ? ctx.lay.map.oldIndex[j] : 0;
    std::span<uint8_t> src = old > 0 ? sectionBytes(ctx.input, static_cast<uint32_t>(old)) : std::span<uint8_t>();
    // Bytes the image does not hold stay zero.
    put_bytes(image, h.sh_offset, src.data(), std::min<uint64_t>(src.size(), h.sh_size));
  }
}

void put_file_info_and_crcs(Context& ctx, std::vector<uint8_t>& image) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  store_file_info(ctx);
  put_bytes(image, w.F, w.fileInfo.data(), w.fileInfo.size());
  w.crcs[n - 1] = static_cast<uint32_t>(crc32(0L, w.fileInfo.data(), static_cast<uInt>(w.fileInfo.size())));
  uint64_t at = uint64_t{64} + uint64_t{40} * n;
  for (uint32_t j = 0; j < n; ++j) {
    if (at + 4 * uint64_t{j} + 4 > image.size()) break;
    storeBE32(image.data() + at + 4 * j, w.crcs[j]);
  }
}

void put_section_headers(Context& ctx, std::vector<uint8_t>& image) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  for (uint32_t j = 1; j < n; ++j) {
    Elf32_Shdr h = w.newHeaders[j];
    if (!file_is_lsb(ctx)) swapSectionHeader(h);
    uint64_t at = uint64_t{64} + uint64_t{kShdrSize} * j;
    put_bytes(image, at, reinterpret_cast<const uint8_t*>(&h), sizeof h);
  }
}

uint32_t write_file(Context& ctx, const std::vector<uint8_t>& image) {
  OutputFile out;
  if (openOutputFile(ctx.opt.outputPath, out) != 0) {
    say(ctx, "***Error: Could not open outfile file for writing.\n");
    return kFail;
  }
  size_t written = image.empty() ? 0 : fwrite(image.data(), 1, image.size(), out.stream);
  if (written < image.size()) {
    discardOutputFile(out);
    say(ctx, "***Error: Failed writing output file.\n");
    return kFail;
  }
  if (commitOutputFile(out) != 0) {
    say(ctx, "***Error: Failed writing output file.\n");
    return kFail;
  }
  return 0;
}

}  // namespace

uint32_t build_and_write_image(Context& ctx) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  if (n < 3 || w.crcs.size() != n || w.compressed.size() != n) return kFail;  // not laid out
  std::vector<uint8_t> image;
  try {
    image.assign(w.S, 0);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return kFail;
  }
  if (image.size() < 64 + uint64_t{44} * n) return kFail;  // not laid out
  put_elf_header(ctx, image);
  put_section_contents(ctx, image);
  put_file_info_and_crcs(ctx, image);
  put_section_headers(ctx, image);
  if (ctx.inMemory) {
    ctx.outputBytes = std::move(image);
    return 0;
  }
  return write_file(ctx, image);
}

}  // namespace zv
