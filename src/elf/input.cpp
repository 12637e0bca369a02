// Loading the linker's output. The file named on the command line is
// validated and converted to host order, its small-data base symbols decide
// between a VKM and a VKX (a module whose small-data areas sit above the
// default base can only be loaded as a VKX), and it must carry relocations
// for allocated code or data: the loader relocates every module it loads.
#include "elf/input.h"

#include <cstring>
#include <string_view>

#include "platform/say.h"

namespace zv {

namespace {

constexpr uint32_t kDefaultSdaBase = 0x8000;

// The zero-terminated name at `offset` of a string table, or nothing when the
// name does not end inside the table.
bool nameAt(std::span<const uint8_t> strings, uint32_t offset, std::string_view& out) {
  if (offset >= strings.size()) return false;
  const uint8_t* start = strings.data() + offset;
  size_t room = strings.size() - offset;
  const void* end = std::memchr(start, 0, room);
  if (!end) return false;
  out = std::string_view(reinterpret_cast<const char*>(start), size_t(static_cast<const uint8_t*>(end) - start));
  return true;
}

// Takes `_SDA_BASE_` and `_SDA2_BASE_` from one symbol table; a later
// definition overrides an earlier one.
void findSdaBases(ElfImage& img, uint32_t symtab, InputFacts& facts) {
  std::span<const uint8_t> strings = sectionBytes(img, img.sh[symtab].sh_link);
  uint32_t count = entryCount(img.sh[symtab], kSymSize);
  Elf32_Sym s{};
  for (uint32_t n = 0; n < count && readSym(img, symtab, n, s); ++n) {
    std::string_view name;
    if (!nameAt(strings, s.st_name, name)) continue;
    if (name == "_SDA_BASE_")
      facts.sdaBase = s.st_value;
    else if (name == "_SDA2_BASE_")
      facts.sda2Base = s.st_value;
  }
}

// Relocations the loader applies: those for allocated program data.
bool relocatesLoadedData(const ElfImage& img, const Elf32_Shdr& rela) {
  if (!namesSection(img, rela.sh_info)) return false;
  const Elf32_Shdr& target = img.sh[rela.sh_info];
  return target.sh_type == SHT_PROGBITS && (target.sh_flags & SHF_ALLOC) != 0;
}

// Walks the sections once for the small-data bases and the relocation sections.
uint32_t scanSections(ElfImage& img, InputFacts& facts) {
  uint32_t relocSections = 0;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_type == SHT_SYMTAB) findSdaBases(img, i, facts);
    if (h.sh_type == SHT_RELA && relocatesLoadedData(img, h)) ++relocSections;
  }
  return relocSections;
}

// Small-data areas above the default base need the VKX format; a VKM is
// always checked for small-data relocations.
void chooseOutputKind(bool forceVkx, InputFacts& facts) {
  if (facts.sdaBase == 0) facts.sdaBase = kDefaultSdaBase;
  if (facts.sda2Base == 0) facts.sda2Base = kDefaultSdaBase;
  if (forceVkx || facts.sdaBase > kDefaultSdaBase || facts.sda2Base > kDefaultSdaBase)
    facts.outputIsVkx = true;
  else
    facts.checkNoSda = true;
}

}  // namespace

Status loadInputElf(Console& con, MappedFile& file, const std::string& name, const LoadSettings& settings,
                    ElfImage& image, InputFacts& facts) {
  int nameLen = static_cast<int>(name.size());
  Status e = parseElfImage(file.base, static_cast<uint32_t>(file.size), image, true, settings.threads);
  if (!e.ok()) {
    say(con, "*** Error 0x%08X parsing ELF file \"%.*s\"\n", e.value(), nameLen, name.data());
    return e;
  }
  facts.parsed = true;
  facts.emptyNullRelaSeen = image.emptyNullRelaSeen;
  if (sectionCount(image) == 0) {
    say(con, "*** Error ELF file \"%.*s\" has no sections. return -1.\n", nameLen, name.data());
    return Status::failed();
  }
  // Symbols name their section in 16 bits, and 0xFF00 and above are reserved
  // values (absolute, common), so a module can hold no section numbered there.
  if (sectionCount(image) > SHN_LORESERVE) {
    say(con, "*** Error ELF file \"%.*s\" has %d sections; a module can hold at most %d. return -1.\n", nameLen,
        name.data(), static_cast<int>(sectionCount(image)), static_cast<int>(SHN_LORESERVE));
    return Status::failed();
  }
  // Only this tool's own output has compressed sections; their contents could
  // be neither checked nor copied as they stand.
  for (uint32_t i = 1; i < sectionCount(image); ++i) {
    if (!(image.sh[i].sh_flags & SHF_VKM_COMPRESSED)) continue;
    say(con, "*** Error ELF file \"%.*s\": section %d is marked compressed, which no linker output is. return -1.\n",
        nameLen, name.data(), static_cast<int>(i));
    return Status::failed();
  }
  uint32_t relocSections = scanSections(image, facts);
  chooseOutputKind(settings.forceVkx, facts);
  if (relocSections == 0) {
    say(con, "*** Error \"%.*s\" has no relocations.  Cannot make an VKM from it. Return -1\n", nameLen, name.data());
    return Status::failed();
  }
  return {};
}

}  // namespace zv
