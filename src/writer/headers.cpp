// The module's section table and region sizes: the new section header table with the kept
// sections under their new numbers (symbols and relocations renumbered and
// put back into the file's byte order), the FileInfo strings at the end of
// LOAD, the fixed region sizes the command line may ask for, and the headers
// of the CRC and FileInfo sections that end the table.
#include <algorithm>

#include "layout/layout.h"
#include "platform/parallel.h"
#include "symbols/symbols.h"
#include "writer/writer.h"

namespace zv {

namespace {

// The input index behind new index j, or 0 when the map has none.
uint32_t oldIndexOf(const Context& ctx, uint32_t j) { return ctx.lay.map.inputIndexOf(j, sectionCount(ctx.input)); }

// The new number of input section `v`; values that name no input section stay.
uint32_t renumbered(const Context& ctx, uint32_t v) {
  const SectionMap& m = ctx.lay.map;
  if (v >= sectionCount(ctx.input) || v >= m.newIndex.size()) return v;
  return static_cast<uint32_t>(m.newIndex[v]);
}

void renumberSymbols(Context& ctx, uint32_t old) {
  ElfImage& img = ctx.input;
  EntryTable<Elf32_Sym> symbols = symTable(img, old);
  forEachPart(splitEntries(symbols.count, ctx.opt.threads), [&](uint32_t, uint32_t begin, uint32_t end) {
    for (uint32_t k = begin; k < end; ++k) {
      Elf32_Sym s = symbols.get(k);
      if (s.st_shndx < sectionCount(img) && s.st_shndx < SHN_LORESERVE)
        s.st_shndx = static_cast<uint16_t>(renumbered(ctx, s.st_shndx));  // dropped: 0xFFFF
      if (img.swap) swapSymbol(s);
      symbols.put(k, s);
    }
  });
  if (old < img.hostOrder.size()) img.hostOrder[old] = 0;
}

void relaToFileOrder(Context& ctx, uint32_t old) {
  EntryTable<Elf32_Rela> relocs = relaTable(ctx.input, old);
  forEachPart(splitEntries(relocs.count, ctx.opt.threads), [&](uint32_t, uint32_t begin, uint32_t end) {
    for (uint32_t k = begin; k < end; ++k) {
      Elf32_Rela r = relocs.get(k);
      swapRela(r);
      relocs.put(k, r);
    }
  });
}

void relToFileOrder(Context& ctx, uint32_t old) {
  ElfImage& img = ctx.input;
  std::span<uint8_t> bytes = sectionBytes(img, old);
  uint64_t stride = entrySize(img.sh[old], kRelSize);
  uint32_t count = entryCount(img.sh[old], kRelSize);
  for (uint64_t k = 0; k < count && k * stride + kRelSize <= bytes.size(); ++k) {
    uint8_t* p = bytes.data() + k * stride;
    Elf32_Rel r = loadRecord<Elf32_Rel>(p);
    swapRel(r);
    storeRecord(p, r);
  }
}

void printFixedSection(Context& ctx, const char* title, uint32_t j) {
  const Elf32_Shdr& h = ctx.wr.newHeaders[j];
  say(ctx, "%s", title);
  say(ctx, "%02d: t%08X a%08X m%08X z%08X offset %08X %c%c%c.\n", static_cast<int>(j), h.sh_type, h.sh_addr, h.sh_size,
      h.sh_size, h.sh_offset, (h.sh_flags & SHF_ALLOC) ? 'a' : '.', (h.sh_flags & SHF_EXECINSTR) ? 'x' : '.',
      (h.sh_flags & SHF_WRITE) ? 'w' : '.');
}

}  // namespace

// The new section header table and the new ELF header values.
Status makeNewTable(Context& ctx) {
  int64_t n = int64_t{ctx.lay.map.nextIndex} + 2;
  // Symbols cannot name a section numbered 0xFF00 or above (reserved values).
  if (n < 3 || n > SHN_LORESERVE) {
    say(ctx, "***Error: %d sections do not fit in a module file. Return -1.\n", static_cast<int>(n));
    return Status::failed();
  }
  WriterState& w = ctx.wr;
  w.newHeaders.assign(static_cast<size_t>(n), Elf32_Shdr{});
  w.outHeader = ctx.input.eh;
  w.outHeader.e_shnum = static_cast<uint16_t>(n);
  uint32_t names = ctx.input.eh.e_shstrndx;
  uint32_t newNames = namesSection(ctx.input, names) ? renumbered(ctx, names) : 0;
  // A names table that was dropped (it was empty) leaves the output without one.
  w.outHeader.e_shstrndx = newNames < static_cast<uint32_t>(n) ? static_cast<uint16_t>(newNames) : 0;
  return {};
}

// Each kept section's header under its new number, with the links
// of relocation sections and symbol tables and the symbols' section indices
// renumbered, and the entries back in the file's byte order.
void renumberSections(Context& ctx) {
  WriterState& w = ctx.wr;
  ElfImage& img = ctx.input;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  for (uint32_t j = 1; j + 2 < n; ++j) {
    uint32_t old = oldIndexOf(ctx, j);
    if (old == 0) continue;
    const Elf32_Shdr& in = img.sh[old];
    Elf32_Shdr h = in;
    h.sh_offset = 0;
    h.sh_flags &= ~SHF_VKM_COMPRESSED;  // set again only for contents this writer compresses
    if (in.sh_type == SHT_RELA || in.sh_type == SHT_REL) {
      h.sh_link = renumbered(ctx, in.sh_link);
      h.sh_info = renumbered(ctx, in.sh_info);
      if (img.swap && entriesInHostOrder(img, old)) {
        if (in.sh_type == SHT_RELA)
          relaToFileOrder(ctx, old);
        else
          relToFileOrder(ctx, old);
        img.hostOrder[old] = 0;
      }
    } else if (in.sh_type == SHT_SYMTAB) {
      h.sh_link = renumbered(ctx, in.sh_link);
      if (!(in.sh_flags & SHF_VKM_COMPRESSED)) renumberSymbols(ctx, old);
    }
    w.newHeaders[j] = h;
  }
}

// The FileInfo strings travel at the end of the LOAD region.
void addTrailer(Context& ctx) {
  FileInfoHeader& fi = ctx.wr.fi;
  uint64_t align = fi.loadAlign ? fi.loadAlign : 1;
  uint64_t rest = ctx.wr.fileInfoSize - kFileInfoHeaderSize;
  fi.trailerSize = static_cast<uint32_t>((rest + align - 1) / align * align);
  fi.loadSize += fi.trailerSize;
}

// The headers of the CRC and FileInfo sections, the last two entries.
void addFixedSections(Context& ctx) {
  WriterState& w = ctx.wr;
  uint32_t n = static_cast<uint32_t>(w.newHeaders.size());
  Elf32_Shdr& crc = w.newHeaders[n - 2];
  crc = Elf32_Shdr{};
  crc.sh_type = SHT_VKM_CRCS;
  crc.sh_offset = 64 + 40 * n;
  crc.sh_size = 4 * n;
  crc.sh_addralign = 4;
  crc.sh_entsize = 4;
  Elf32_Shdr& info = w.newHeaders[n - 1];
  info = Elf32_Shdr{};
  info.sh_type = SHT_VKM_FILEINFO;
  info.sh_offset = w.fileInfoOffset;
  info.sh_size = w.fileInfoSize;
  info.sh_addralign = 4;
  if (ctx.opt.verbose) {
    printFixedSection(ctx, "--CRCS------------------\n", n - 2);
    printFixedSection(ctx, "--FILEINFO--------------\n", n - 1);
  }
}

}  // namespace zv
