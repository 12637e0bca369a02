// The FileInfo record's byte layout and the grouping rule of a module file,
// shared by the converter and the module viewer.
#include "format/module_format.h"

#include <iterator>

namespace zv {

namespace {

// The 32-bit fields of the head in file order, from offset 0 to 0x57.
constexpr uint32_t FileInfoHeader::*kWords[] = {
    &FileInfoHeader::magic,          &FileInfoHeader::textSize,    &FileInfoHeader::textAlign,
    &FileInfoHeader::dataSize,       &FileInfoHeader::dataAlign,   &FileInfoHeader::loadSize,
    &FileInfoHeader::loadAlign,      &FileInfoHeader::tempSize,    &FileInfoHeader::trampAdj,
    &FileInfoHeader::sdaBase,        &FileInfoHeader::sda2Base,    &FileInfoHeader::stackSize,
    &FileInfoHeader::fileNameOffset, &FileInfoHeader::flags,       &FileInfoHeader::heapSize,
    &FileInfoHeader::tagsOffset,     &FileInfoHeader::fixedValue,  &FileInfoHeader::compressionLevel,
    &FileInfoHeader::trampAddition,  &FileInfoHeader::trailerSize, &FileInfoHeader::sdkVersion,
    &FileInfoHeader::sdkRevision};
constexpr uint32_t kReservedAt = 0x58, kTlsShiftAt = 0x5A, kAreaSizeAt = 0x5C;
static_assert(std::size(kWords) * 4 == kReservedAt);

}  // namespace

void storeFileInfoHeader(uint8_t* p, const FileInfoHeader& fi) {
  for (size_t i = 0; i < std::size(kWords); ++i) storeBE32(p + 4 * i, fi.*kWords[i]);
  storeBE16(p + kReservedAt, fi.reserved);
  storeBE16(p + kTlsShiftAt, fi.tlsAlignShift);
  storeBE32(p + kAreaSizeAt, fi.fileInfoAreaSize);
}

FileInfoHeader loadFileInfoHeader(const uint8_t* p) {
  FileInfoHeader fi;
  for (size_t i = 0; i < std::size(kWords); ++i) fi.*kWords[i] = loadBE32(p + 4 * i);
  fi.reserved = loadBE16(p + kReservedAt);
  fi.tlsAlignShift = loadBE16(p + kTlsShiftAt);
  fi.fileInfoAreaSize = loadBE32(p + kAreaSizeAt);
  return fi;
}

ModuleGroup moduleGroup(const Elf32_Shdr& h) {
  bool alloc = h.sh_flags & SHF_ALLOC;
  bool exec = h.sh_flags & SHF_EXECINSTR;
  bool table = h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_IMPORTS;
  if (alloc && !exec && !table && h.sh_addr < kLoaderRangeStart) return ModuleGroup::kData;
  if (alloc && (table || h.sh_addr >= kLoaderRangeStart)) return ModuleGroup::kLoad;
  if (alloc && exec && !table) return ModuleGroup::kText;
  return ModuleGroup::kTemp;
}

const char* moduleGroupName(ModuleGroup g) {
  switch (g) {
    case ModuleGroup::kData:
      return "DATA";
    case ModuleGroup::kLoad:
      return "LOAD";
    case ModuleGroup::kText:
      return "TEXT";
    case ModuleGroup::kTemp:
      return "TEMP";
  }
  return "";
}

}  // namespace zv
