// An independent reader of module files (VKM/VKX) for the tests.
//
// The loader reads a module as: a 52-byte ELF header marked for the platform,
// the section header table at offset 64, the CRC words, the FileInfo record,
// then the section contents in four groups (DATA, LOAD, TEXT, TEMP), every
// section on a 64-byte boundary, some of them zlib-compressed behind a
// big-endian size word. This reader decodes such a file with its own code
// (it shares nothing with the program under test), unpacks every section,
// recomputes every CRC word and works out where each section must lie. Every
// way in which the file departs from the format is listed in
// VkmFile::problems, so a test can assert `problems` is empty and then look
// at the decoded fields.

#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zv::test {

struct VkmSection {
  uint32_t name = 0, type = 0, flags = 0, addr = 0, offset = 0, size = 0;
  uint32_t link = 0, info = 0, addralign = 0, entsize = 0;
};

enum class VkmGroup { kNone, kData, kLoad, kText, kTemp, kCrcs, kFileInfo };

// The FileInfo record, decoded from its big-endian fields.
struct VkmFileInfo {
  uint32_t magic = 0, textSize = 0, textAlign = 0, dataSize = 0, dataAlign = 0;
  uint32_t loadSize = 0, loadAlign = 0, tempSize = 0, trampAdj = 0;
  uint32_t sdaBase = 0, sda2Base = 0, stackSize = 0, fileNameOffset = 0, flags = 0;
  uint32_t heapSize = 0, tagsOffset = 0, fixedValue = 0, compressionLevel = 0;
  uint32_t trampAddition = 0, trailerSize = 0, sdkVersion = 0, sdkRevision = 0;
  uint16_t reserved = 0, tlsAlignShift = 0;
  uint32_t fileInfoAreaSize = 0;
  std::string fileName;
  std::vector<std::pair<std::string, std::string>> tags;
};

struct VkmSymbol {
  uint32_t name = 0, value = 0, size = 0;
  uint8_t info = 0, other = 0;
  uint16_t shndx = 0;
};

struct VkmRela {
  uint32_t offset = 0, info = 0;
  int32_t addend = 0;
};

struct VkmFile {
  std::vector<std::string> problems;  // empty for a well-formed module file
  bool bigEndian = true;
  uint8_t ident[16] = {};
  uint16_t type = 0, machine = 0;
  uint32_t version = 0, entry = 0, phoff = 0, shoff = 0, flags = 0;
  uint16_t ehsize = 0, phentsize = 0, phnum = 0, shentsize = 0, shnum = 0, shstrndx = 0;
  std::vector<VkmSection> sections;
  std::vector<VkmGroup> groups;                // per section
  std::vector<uint32_t> crcWords;              // as stored
  std::vector<std::vector<uint8_t>> contents;  // per section, uncompressed; empty for SHT_NOBITS
  std::vector<uint8_t> fileInfoBytes;          // the record as stored (E bytes)
  VkmFileInfo info;
};

// Decodes a module file; never throws for malformed input (see `problems`).
VkmFile readVkm(const std::vector<uint8_t>& bytes);

// The name of section i from the section-name table ("" when there is none).
std::string vkmSectionName(const VkmFile& f, uint32_t i);
// Index of the first section named `name`, or -1.
int vkmFindSection(const VkmFile& f, const std::string& name);
// Entries of a symbol table or SHT_RELA section, decoded in the file's order.
std::vector<VkmSymbol> vkmSymbols(const VkmFile& f, uint32_t section);
std::vector<VkmRela> vkmRelas(const VkmFile& f, uint32_t section);
// The zero-terminated string at `offset` of section `section` ("" outside it).
std::string vkmString(const VkmFile& f, uint32_t section, uint32_t offset);

}  // namespace zv::test
