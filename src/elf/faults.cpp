// What each code of a malformed ELF image means, in a few words, for the
// tools that report a code to a person rather than to a build script.
#include <iterator>

#include "elf/image.h"

namespace zv {

const char* badImageReason(uint32_t code) {
  struct Reason {
    uint32_t code;
    const char* text;
  };
  static constexpr Reason kReasons[] = {
      {bad::SymLink, "a symbol table links to no section"},
      {bad::SymLinkType, "a symbol table links to a section that is no string table"},
      {bad::SymTooSmall, "a symbol table holds no whole entry"},
      {bad::SymName, "a symbol name lies outside its string table"},
      {bad::SymShndx, "a symbol names a section that does not exist"},
      {bad::ObjInNull, "a data symbol lies in a null section"},
      {bad::ObjOutside, "a data symbol lies outside its section"},
      {bad::FuncInNull, "a function symbol lies in a null section"},
      {bad::FuncOutside, "a function symbol lies outside its section"},
      {bad::RelaTooSmall, "a RELA section holds no whole entry"},
      {bad::RelaLink, "a RELA section links to no section"},
      {bad::RelaLinkType, "a RELA section links to a section that is no symbol table"},
      {bad::RelaInfo, "a RELA section applies to no section"},
      {bad::RelaNull, "a RELA section aimed at a null section holds entries"},
      {bad::RelaSym, "a RELA entry names a symbol past the end of its table"},
      {bad::RelTooSmall, "a REL section holds no whole entry"},
      {bad::RelLink, "a REL section links to no section"},
      {bad::RelLinkType, "a REL section links to a section that is no symbol table"},
      {bad::RelInfo, "a REL section applies to no section"},
      {bad::RelNull, "a REL section aimed at a null section holds entries"},
      {bad::RelSym, "a REL entry names a symbol past the end of its table"},
      {bad::RelOffset, "a REL entry lies outside the section it applies to"},
      {bad::FileTooSmall, "the file is too small"},
      {bad::Magic, "the file does not start with the ELF mark"},
      {bad::Class, "the file is not a 32-bit ELF file"},
      {bad::IdentVersion, "unknown ELF identification version"},
      {bad::Machine, "no machine is named"},
      {bad::Version, "unknown ELF version"},
      {bad::EhsizeLarge, "the ELF header size is too large"},
      {bad::Phoff, "the program header table lies outside the file"},
      {bad::Shoff, "the section header table lies outside the file"},
      {bad::Shstrndx, "the section-name table index names no section"},
      {bad::PhTable, "the program header table runs past the end of the file"},
      {bad::ShTable, "the section header table runs past the end of the file"},
      {bad::SecInHeader, "a section starts inside the ELF header"},
      {bad::SecPastEnd, "a section runs past the end of the file"},
      {bad::SecInPh, "a section starts inside the program header table"},
      {bad::SecInSh, "a section starts inside the section header table"},
      {bad::SecOverlap, "two sections share file bytes"},
      {bad::SegPastEnd, "a segment runs past the end of the file"},
      {bad::ShstrType, "the section-name table is no string table"},
      {bad::SecName, "a section name lies outside the section-name table"},
      {bad::EhsizeSmall, "the ELF header size is too small"},
      {bad::SymEntsize, "a symbol table's entry size is too small"},
      {bad::RelaEntsize, "a RELA section's entry size is too small"},
      {bad::RelaSymEntsize, "the symbol table of a RELA section has too small an entry size"},
      {bad::RelEntsize, "a REL section's entry size is too small"},
      {bad::RelSymEntsize, "the symbol table of a REL section has too small an entry size"},
      {bad::SegOverlap, "two segments share file bytes"},
  };
  for (const Reason& r : kReasons)
    if (r.code == code) return r.text;
  return "malformed ELF image";
}

}  // namespace zv
