// Loading the linker's output. The file named on the command line is
// validated and converted to host order, its small-data base symbols decide
// between a VKM and a VKX (a module whose small-data areas sit above the
// default base can only be loaded as a VKX), and it must carry relocations
// for allocated code or data: the loader relocates every module it loads.
#include "elf/input.h"

#include <string_view>

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
void findSdaBases(Context& ctx, uint32_t symtab) {
  ElfImage& img = ctx.input;
  std::span<const uint8_t> strings = sectionBytes(img, img.sh[symtab].sh_link);
  uint32_t count = entryCount(img.sh[symtab], kSymSize);
  Elf32_Sym s{};
  for (uint32_t n = 0; n < count && readSym(img, symtab, n, s); ++n) {
    std::string_view name;
    if (!nameAt(strings, s.st_name, name)) continue;
    if (name == "_SDA_BASE_")
      ctx.opt.sdaBase = s.st_value;
    else if (name == "_SDA2_BASE_")
      ctx.opt.sda2Base = s.st_value;
  }
}

// Relocations the loader applies: those for allocated program data.
bool relocatesLoadedData(const ElfImage& img, const Elf32_Shdr& rela) {
  if (!namesSection(img, rela.sh_info)) return false;
  const Elf32_Shdr& target = img.sh[rela.sh_info];
  return target.sh_type == SHT_PROGBITS && (target.sh_flags & SHF_ALLOC) != 0;
}

// Walks the sections once for the small-data bases and the relocation sections.
uint32_t scanSections(Context& ctx) {
  uint32_t relocSections = 0;
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    const Elf32_Shdr& h = ctx.input.sh[i];
    if (h.sh_type == SHT_SYMTAB) findSdaBases(ctx, i);
    if (h.sh_type == SHT_RELA && relocatesLoadedData(ctx.input, h)) ++relocSections;
  }
  return relocSections;
}

// Small-data areas above the default base need the VKX format; a VKM is
// always checked for small-data relocations.
void chooseOutputKind(Options& opt) {
  if (opt.sdaBase == 0) opt.sdaBase = kDefaultSdaBase;
  if (opt.sda2Base == 0) opt.sda2Base = kDefaultSdaBase;
  if (opt.forceVkx || opt.sdaBase > kDefaultSdaBase || opt.sda2Base > kDefaultSdaBase)
    opt.outputIsVkx = true;
  else
    opt.checkNoSda = true;
}

}  // namespace

// Once past the first test the run owns the mapping (ctx.inputFile), whether
// or not the file turns out to be usable.
Status loadInputElf(Context& ctx, MappedFile* file, const std::string& name) {
  if (ctx.haveInput || !file) return Status::failed();
  if (ctx.inputFile && ctx.inputFile != file) releaseMappedFile(ctx.inputFile);
  ctx.inputFile = file;
  int nameLen = static_cast<int>(name.size());
  Status e = parseElfImage(file->base, static_cast<uint32_t>(file->size), ctx.input, true, ctx.opt.threads);
  if (!e.ok()) {
    say(ctx, "*** Error 0x%08X parsing ELF file \"%.*s\"\n", e.value(), nameLen, name.data());
    return e;
  }
  ctx.haveInput = true;
  ctx.opt.emptyNullRelaSeen = ctx.input.emptyNullRelaSeen;
  if (sectionCount(ctx.input) == 0) {
    say(ctx, "*** Error ELF file \"%.*s\" has no sections. return -1.\n", nameLen, name.data());
    return Status::failed();
  }
  // Symbols name their section in 16 bits, and 0xFF00 and above are reserved
  // values (absolute, common), so a module can hold no section numbered there.
  if (sectionCount(ctx.input) > SHN_LORESERVE) {
    say(ctx, "*** Error ELF file \"%.*s\" has %d sections; a module can hold at most %d. return -1.\n", nameLen,
        name.data(), static_cast<int>(sectionCount(ctx.input)), static_cast<int>(SHN_LORESERVE));
    return Status::failed();
  }
  // Only this tool's own output has compressed sections; their contents could
  // be neither checked nor copied as they stand.
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    if (!(ctx.input.sh[i].sh_flags & SHF_VKM_COMPRESSED)) continue;
    say(ctx, "*** Error ELF file \"%.*s\": section %d is marked compressed, which no linker output is. return -1.\n",
        nameLen, name.data(), static_cast<int>(i));
    return Status::failed();
  }
  uint32_t relocSections = scanSections(ctx);
  chooseOutputKind(ctx.opt);
  if (relocSections == 0) {
    say(ctx, "*** Error \"%.*s\" has no relocations.  Cannot make an VKM from it. Return -1\n", nameLen, name.data());
    return Status::failed();
  }
  return {};
}

}  // namespace zv
