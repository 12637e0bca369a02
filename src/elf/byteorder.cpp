// Byte-order conversion of ELF32 records: the only place where the tool
// reverses the fields of a header, symbol or relocation entry.
#include "elf/elf_types.h"

namespace zv {

void swapElfHeader(Elf32_Ehdr& h) {
  h.e_type = bswap16(h.e_type);
  h.e_machine = bswap16(h.e_machine);
  h.e_version = bswap32(h.e_version);
  h.e_entry = bswap32(h.e_entry);
  h.e_phoff = bswap32(h.e_phoff);
  h.e_shoff = bswap32(h.e_shoff);
  h.e_flags = bswap32(h.e_flags);
  h.e_ehsize = bswap16(h.e_ehsize);
  h.e_phentsize = bswap16(h.e_phentsize);
  h.e_phnum = bswap16(h.e_phnum);
  h.e_shentsize = bswap16(h.e_shentsize);
  h.e_shnum = bswap16(h.e_shnum);
  h.e_shstrndx = bswap16(h.e_shstrndx);
}

void swapSectionHeader(Elf32_Shdr& h) {
  h.sh_name = bswap32(h.sh_name);
  h.sh_type = bswap32(h.sh_type);
  h.sh_flags = bswap32(h.sh_flags);
  h.sh_addr = bswap32(h.sh_addr);
  h.sh_offset = bswap32(h.sh_offset);
  h.sh_size = bswap32(h.sh_size);
  h.sh_link = bswap32(h.sh_link);
  h.sh_info = bswap32(h.sh_info);
  h.sh_addralign = bswap32(h.sh_addralign);
  h.sh_entsize = bswap32(h.sh_entsize);
}

void swapProgramHeader(Elf32_Phdr& h) {
  h.p_type = bswap32(h.p_type);
  h.p_offset = bswap32(h.p_offset);
  h.p_vaddr = bswap32(h.p_vaddr);
  h.p_paddr = bswap32(h.p_paddr);
  h.p_filesz = bswap32(h.p_filesz);
  h.p_memsz = bswap32(h.p_memsz);
  h.p_flags = bswap32(h.p_flags);
  h.p_align = bswap32(h.p_align);
}

}  // namespace zv
