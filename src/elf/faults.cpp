// What each code of a malformed ELF image means, in a few words, for the
// tools that report a code to a person rather than to a build script.
#include <iterator>

#include "elf/image.h"

namespace zv {

const char* badImageReason(Status failure) {
  struct Reason {
    Status code;
    const char* text;
  };
  static constexpr Reason kReasons[] = {
      {bad::kSymLink, "a symbol table links to no section"},
      {bad::kSymLinkType, "a symbol table links to a section that is no string table"},
      {bad::kSymTooSmall, "a symbol table holds no whole entry"},
      {bad::kSymName, "a symbol name lies outside its string table"},
      {bad::kSymShndx, "a symbol names a section that does not exist"},
      {bad::kObjInNull, "a data symbol lies in a null section"},
      {bad::kObjOutside, "a data symbol lies outside its section"},
      {bad::kFuncInNull, "a function symbol lies in a null section"},
      {bad::kFuncOutside, "a function symbol lies outside its section"},
      {bad::kRelaTooSmall, "a RELA section holds no whole entry"},
      {bad::kRelaLink, "a RELA section links to no section"},
      {bad::kRelaLinkType, "a RELA section links to a section that is no symbol table"},
      {bad::kRelaInfo, "a RELA section applies to no section"},
      {bad::kRelaNull, "a RELA section aimed at a null section holds entries"},
      {bad::kRelaSym, "a RELA entry names a symbol past the end of its table"},
      {bad::kRelTooSmall, "a REL section holds no whole entry"},
      {bad::kRelLink, "a REL section links to no section"},
      {bad::kRelLinkType, "a REL section links to a section that is no symbol table"},
      {bad::kRelInfo, "a REL section applies to no section"},
      {bad::kRelNull, "a REL section aimed at a null section holds entries"},
      {bad::kRelSym, "a REL entry names a symbol past the end of its table"},
      {bad::kRelOffset, "a REL entry lies outside the section it applies to"},
      {bad::kFileTooSmall, "the file is too small"},
      {bad::kMagic, "the file does not start with the ELF mark"},
      {bad::kClass, "the file is not a 32-bit ELF file"},
      {bad::kIdentVersion, "unknown ELF identification version"},
      {bad::kMachine, "no machine is named"},
      {bad::kVersion, "unknown ELF version"},
      {bad::kEhsizeLarge, "the ELF header size is too large"},
      {bad::kPhoff, "the program header table lies outside the file"},
      {bad::kShoff, "the section header table lies outside the file"},
      {bad::kShstrndx, "the section-name table index names no section"},
      {bad::kPhTable, "the program header table runs past the end of the file"},
      {bad::kShTable, "the section header table runs past the end of the file"},
      {bad::kSecInHeader, "a section starts inside the ELF header"},
      {bad::kSecPastEnd, "a section runs past the end of the file"},
      {bad::kSecInPh, "a section starts inside the program header table"},
      {bad::kSecInSh, "a section starts inside the section header table"},
      {bad::kSecOverlap, "two sections share file bytes"},
      {bad::kSegPastEnd, "a segment runs past the end of the file"},
      {bad::kShstrType, "the section-name table is no string table"},
      {bad::kSecName, "a section name lies outside the section-name table"},
      {bad::kEhsizeSmall, "the ELF header size is too small"},
      {bad::kSymEntsize, "a symbol table's entry size is too small"},
      {bad::kRelaEntsize, "a RELA section's entry size is too small"},
      {bad::kRelaSymEntsize, "the symbol table of a RELA section has too small an entry size"},
      {bad::kRelEntsize, "a REL section's entry size is too small"},
      {bad::kRelSymEntsize, "the symbol table of a REL section has too small an entry size"},
      {bad::kSegOverlap, "two segments share file bytes"},
  };
  for (const Reason& r : kReasons)
    if (r.code == failure) return r.text;
  return "malformed ELF image";
}

}  // namespace zv
