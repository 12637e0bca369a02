// The writer's working state: the FileInfo record under construction, the
// new section header table, the CRC words and the compressed contents, kept
// from the layout of the sections to the building of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "elf/elf_types.h"

namespace zv {

// The 96-byte head of the FileInfo record, in host order until stored.
struct FileInfoHeader {
  uint32_t magic = 0;
  uint32_t textSize = 0;
  uint32_t textAlign = 0;
  uint32_t dataSize = 0;
  uint32_t dataAlign = 0;
  uint32_t loadSize = 0;
  uint32_t loadAlign = 0;
  uint32_t tempSize = 0;
  uint32_t trampAdj = 0;
  uint32_t sdaBase = 0;
  uint32_t sda2Base = 0;
  uint32_t stackSize = 0;
  uint32_t fileNameOffset = 0;
  uint32_t flags = 0;
  uint32_t heapSize = 0;
  uint32_t tagsOffset = 0;
  uint32_t fixedValue = 0;
  uint32_t compressionLevel = 0;
  uint32_t trampAddition = 0;
  uint32_t trailerSize = 0;
  uint32_t sdkVersion = 0;
  uint32_t sdkRevision = 0;
  uint16_t reserved = 0;
  uint16_t tlsAlignShift = 0;
  uint32_t fileInfoAreaSize = 0;
};
constexpr uint32_t kFileInfoHeaderSize = 96;
constexpr uint32_t kFileInfoMagic = 0xEDBA0402;
constexpr uint32_t kFileInfoFixedValue = 0x5078;
constexpr uint32_t kFlagDynamicOnly = 0x1, kFlagVkx = 0x2, kFlagTls = 0x8;

// A section's stored form when compression pays: a big-endian size word and
// the zlib stream, `size` bytes in all.
struct CompressedBytes {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

struct WriterState {
  FileInfoHeader fi;
  uint32_t E = 0;                    // size of the FileInfo section
  bool fileInfoTooLarge = false;     // the strings would not fit a 32-bit size
  std::vector<uint8_t> fileInfo;     // E bytes; the strings after the 96-byte head
  uint32_t filepathPadding = 0;
  // Section names as the input had them, before the names table was rebuilt
  // without the names of unreferenced sections: a copy of the table and each
  // section's name offset (one copy, however many sections share a name).
  Elf32_Ehdr outHeader{};            // the output's ELF header, host order
  std::vector<Elf32_Shdr> newHeaders;  // n headers, host order
  uint32_t S = 0;                    // running file offset; the file size at the end
  uint32_t F = 0;                    // file offset of the FileInfo section
  std::vector<uint32_t> crcs;        // n words, host order
  std::vector<CompressedBytes> compressed;  // per new index; empty when stored plain
  uint32_t compressedTempTotal = 0;
};

}  // namespace zv
