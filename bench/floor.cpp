// The floors the converter is measured against: the least work any tool that
// writes the same module must do, on one thread.
//
//   zv_floor compress LEVEL MODULE   maps a module written with -zx (so its
//       sections hold the plain bytes the converter compresses) and runs
//       crc32 over every section with contents and compress2 at LEVEL over
//       exactly the sections the converter stores compressed when it pays:
//       those of at least 32 bytes, except the section names table.
//   zv_floor copy INPUT SIZE OUTPUT  maps the input, runs crc32 over its
//       sections and writes a file of SIZE bytes (the module's size).
//
// It reads the ELF headers itself, with no checks beyond staying inside the
// file: its inputs are the benchmark's own.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "elf/elf_types.h"
#include "platform/platform.h"

namespace {

struct Section {
  uint32_t type = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

uint32_t word(const zv::MappedFile& f, uint64_t at, bool big) {
  if (at + 4 > f.size) return 0;
  uint32_t v = zv::load32(f.base + at);
  return big ? zv::bswap32(v) : v;
}

uint16_t half(const zv::MappedFile& f, uint64_t at, bool big) {
  if (at + 2 > f.size) return 0;
  uint16_t v = zv::loadRecord<uint16_t>(f.base + at);
  return big ? zv::bswap16(v) : v;
}

// The section headers and the names table's index.
std::vector<Section> sections(const zv::MappedFile& f, uint32_t& names) {
  bool big = f.size > 5 && f.base[5] == 2;
  uint32_t shoff = word(f, 32, big);
  uint32_t entsize = half(f, 46, big);
  uint32_t count = half(f, 48, big);
  names = half(f, 50, big);
  std::vector<Section> out(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = uint64_t{shoff} + uint64_t{i} * entsize;
    out[i] = {word(f, at + 4, big), word(f, at + 16, big), word(f, at + 20, big)};
    if (uint64_t{out[i].offset} + out[i].size > f.size || out[i].type == 8) out[i].size = 0;
  }
  return out;
}

int compressFloor(const zv::MappedFile& f, int level) {
  uint32_t names = 0;
  std::vector<Section> list = sections(f, names);
  uint32_t largest = 0;
  for (const Section& s : list) largest = std::max(largest, s.size);
  uLong room = compressBound(largest);
  std::unique_ptr<uint8_t[]> out(new uint8_t[room]);
  uint32_t crc = 0;
  uint64_t packed = 0;
  for (uint32_t i = 1; i < list.size(); ++i) {
    const Section& s = list[i];
    if (s.size == 0) continue;
    const uint8_t* src = f.base + s.offset;
    crc ^= static_cast<uint32_t>(crc32(0L, src, s.size));
    if (s.size < 32 || i == names) continue;
    uLongf len = room;
    if (compress2(out.get(), &len, src, s.size, level) != Z_OK) return 1;
    packed += len;
  }
  std::fprintf(stderr, "crc %08X, %llu bytes compressed\n", crc, static_cast<unsigned long long>(packed));
  return 0;
}

int copyFloor(const zv::MappedFile& f, uint64_t size, const char* path) {
  uint32_t names = 0;
  uint32_t crc = 0;
  for (const Section& s : sections(f, names))
    if (s.size) crc ^= static_cast<uint32_t>(crc32(0L, f.base + s.offset, s.size));
  FILE* out = std::fopen(path, "wb");
  if (!out) return 1;
  for (uint64_t done = 0; done < size;) {
    uint64_t k = std::min<uint64_t>(size - done, f.size);
    if (std::fwrite(f.base, 1, k, out) != k) return 1;
    done += k;
  }
  std::fprintf(stderr, "crc %08X\n", crc);
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (argc != 4 + (mode == "copy") || (mode != "compress" && mode != "copy")) {
    std::fprintf(stderr, "usage: zv_floor compress LEVEL MODULE | zv_floor copy INPUT SIZE OUTPUT\n");
    return 2;
  }
  zv::MappedFile* f = nullptr;
  if (!zv::mapFile(argv[mode == "compress" ? 3 : 2], f).ok()) {
    std::fprintf(stderr, "zv_floor: cannot map the file\n");
    return 1;
  }
  int r = mode == "compress" ? compressFloor(*f, std::atoi(argv[2]))
                             : copyFloor(*f, std::strtoull(argv[3], nullptr, 10), argv[4]);
  zv::releaseMappedFile(f);
  return r;
}
