// The records of a module file (VKM/VKX) that both the converter, which
// writes them, and the module viewer, which reads them, rely on: the FileInfo
// record the loader reads first, the marks of the ELF header, and the rule
// that sorts a section into one of the loader's four groups (DATA, LOAD,
// TEXT, TEMP). One definition, so the two programs cannot drift apart.
#pragma once

#include <cstdint>

#include "elf/elf_types.h"

namespace zv {

// The 96-byte head of the FileInfo record, in host order in memory and
// big-endian in the file.
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

// Stores the head big-endian at `p` (96 bytes), and reads it back.
void storeFileInfoHeader(uint8_t* p, const FileInfoHeader& fi);
FileInfoHeader loadFileInfoHeader(const uint8_t* p);

// The marks of a module's ELF header and where its tables lie.
constexpr uint16_t kModuleFileType = 0xFE01;
constexpr uint8_t kModuleOsAbi = 0xED, kModuleAbiVersion = 0xBA;
constexpr uint32_t kModuleSectionTable = 64;  // e_shoff of every module
constexpr uint32_t kModuleContentAlign = 64;  // every section's contents start on this boundary
constexpr uint32_t kLoaderRangeStart = 0xC0000000;

// The address ranges of the loader's regions: code, data, and the loader's
// own area (its tables and anything it keeps only while loading).
constexpr uint32_t kTextLow = 0x02000000, kTextHigh = 0x0FFFFFFF;
constexpr uint32_t kDataLow = 0x10000000, kDataHigh = 0xBFFFFFFF;
constexpr uint32_t kLoadLow = kLoaderRangeStart, kLoadHigh = 0xFFFFFFFF;

// The loader's groups, in the order their contents follow each other in the file.
enum class ModuleGroup { kData, kLoad, kText, kTemp };
constexpr int kModuleGroupCount = 4;

// The group of a section by its header in the module: the first that applies
// of DATA (allocated, not code, not a loader table, below the loader range),
// LOAD (allocated loader tables and anything in the loader range), TEXT
// (allocated code) and TEMP (the rest). The CRC and FileInfo sections and
// empty sections belong to none; the caller leaves them out.
ModuleGroup moduleGroup(const Elf32_Shdr& h);
const char* moduleGroupName(ModuleGroup g);  // "DATA", "LOAD", "TEXT", "TEMP"

}  // namespace zv
