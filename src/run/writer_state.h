// The writer's record (src/writer alone writes it): the FileInfo record under
// construction, the new section header table, the CRC words and the
// compressed contents, kept from the layout of the sections to the building
// of the file, and read back by the check of the file as written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "elf/elf_types.h"
#include "platform/platform.h"
#include "run/options.h"
#include "format/module_format.h"

namespace zv {

// A section's stored form when compression pays: a big-endian size word and
// the zlib stream, `size` bytes in all.
struct CompressedBytes {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t size = 0;
};

struct WriterState {
  FileInfoHeader fi;
  uint32_t fileInfoSize = 0;                // size of the FileInfo section
  std::vector<uint8_t> fileInfo;            // fileInfoSize bytes; the strings after the 96-byte head
  std::vector<LoaderTag> textTags;          // the loader tags the record holds as text, newest first
  Elf32_Ehdr outHeader{};                   // the output's ELF header, host order
  std::vector<Elf32_Shdr> newHeaders;       // n headers, host order
  uint32_t fileSize = 0;                    // running file offset; the file size at the end
  uint32_t fileInfoOffset = 0;              // file offset of the FileInfo section
  std::vector<uint32_t> crcs;               // n words, host order
  std::vector<CompressedBytes> compressed;  // per new index; empty when stored plain
  uint32_t compressedTempTotal = 0;
};

}  // namespace zv
