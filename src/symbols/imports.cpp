// Layout of an import section. Each import section stands for one module
// this module imports from; its symbols are the imported functions and data.
// The loader fills one 8-byte slot per imported symbol, so every symbol gets
// its slot address here, and the section's first two words tell the loader
// how many symbols there are and a CRC-32 signature over their names, which
// it compares with the exporting module's. The exporting module's name
// follows at offset 8.
#include <algorithm>

#include <zlib.h>

#include "elf/crc.h"
#include "symbols/symbols.h"

namespace zv {

namespace {

constexpr uint8_t kSignaturePadding[14] = {};

uint32_t crcOf(uint32_t crc, const void* data, size_t length) {
  return crc32Of(crc, static_cast<const uint8_t*>(data), length);
}

// Gives the section's own symbol the section's address. Returns the offset
// of the first import slot: 8 after a section symbol, else 0.
uint32_t placeSectionSymbol(Context& ctx, SymbolGroups& g, uint32_t k, uint32_t address) {
  uint32_t slot = 0;
  visitSectionSymbols(ctx, g, k, [&](uint32_t i, Elf32_Sym& sym) {
    if (symType(sym) != STT_SECTION) return true;
    sym.st_value = address;
    setGroupedSymbol(ctx, g, i, sym);
    slot = 8;
    return false;
  });
  return slot;
}

// Length of the zero-terminated module name at offset 8, within the bytes.
uint64_t moduleNameLength(std::span<const uint8_t> bytes) {
  if (bytes.size() <= 8) return 0;
  auto start = bytes.begin() + 8;
  return static_cast<uint64_t>(std::find(start, bytes.end(), uint8_t(0)) - start);
}

void storeWord(uint8_t* p, uint32_t v, bool littleEndian) {
  if (littleEndian)
    store32(p, v);
  else
    storeBE32(p, v);
}

// The signature CRC carried on over one symbol's name and its zero byte. A
// name inside the string table is hashed once and combined from then on; a
// name outside it is taken (and reported) each time, as every read does.
uint32_t addNameCrc(Context& ctx, SymbolGroups& g, const Elf32_Sym& sym, uint32_t crc) {
  const bool inTable = ctx.sym.view.strtab >= 0 && sym.st_name <= ctx.sym.view.stringsSize;
  auto known = inTable ? g.nameCrcs.find(sym.st_name) : g.nameCrcs.end();
  if (known == g.nameCrcs.end()) {
    std::string name = symbolName(ctx, sym);
    std::pair<uint32_t, uint64_t> entry{crcOf(0, name.c_str(), name.size() + 1), name.size() + 1};
    if (!inTable) return crcOf(crc, name.c_str(), name.size() + 1);
    known = g.nameCrcs.emplace(sym.st_name, entry).first;
  }
  return static_cast<uint32_t>(crc32_combine(crc, known->second.first, static_cast<z_off_t>(known->second.second)));
}

}  // namespace

void layoutImportSection(Context& ctx, uint32_t k, uint32_t address) {
  if (!namesSection(ctx.input, k)) return;
  std::vector<uint8_t> wanted(sectionCount(ctx.input), 0);
  wanted[k] = 1;
  SymbolGroups g = groupSymbolsBySection(ctx, std::move(wanted));
  layoutImportSection(ctx, k, address, g);
}

void layoutImportSection(Context& ctx, uint32_t k, uint32_t address, SymbolGroups& g) {
  ElfImage& img = ctx.input;
  if (!namesSection(img, k)) return;

  uint32_t slot = placeSectionSymbol(ctx, g, k, address);
  uint32_t crc = crcOf(0, nullptr, 0);
  uint32_t count = 0;
  visitSectionSymbols(ctx, g, k, [&](uint32_t i, Elf32_Sym& sym) {
    if (symType(sym) == STT_SECTION) return true;
    crc = addNameCrc(ctx, g, sym, crc);
    sym.st_value = address + slot;
    setGroupedSymbol(ctx, g, i, sym);
    slot += 8;
    ++count;
    return true;
  });
  crc = crcOf(crc, kSignaturePadding, sizeof kSignaturePadding);

  std::span<uint8_t> bytes = sectionBytes(img, k);
  uint64_t need = moduleNameLength(bytes) + 9;
  uint64_t size = need <= slot ? slot : (need + 7) & ~uint64_t(7);
  // Contents too short for the header words or the final size live in
  // storage of their own, so every byte of the section can be read later.
  if (bytes.size() < 8 || size > bytes.size()) bytes = replaceSectionBytes(img, k, size);

  bool littleEndian = img.eh.e_ident[EI_DATA] == ELFDATA2LSB;
  storeWord(bytes.data(), count, littleEndian);
  storeWord(bytes.data() + 4, crc, littleEndian);
  symbolsWritten(ctx, g, bytes.data(), 8);  // the words may lie over the symbol table
  img.sh[k].sh_addr = address;
  img.sh[k].sh_size = static_cast<uint32_t>(size);
}

}  // namespace zv
