// Region placement. The loader sees a module as four regions: TEXT (code,
// from 0x02000000), DATA (from 0x10000000), LOAD (its own area from
// 0xC0000000: export and import tables, the symbol, string and section-name
// tables) and TEMP (sections without an address that it reads while loading,
// such as relocations). Here every input section is either kept and given a
// region and a new section index, or dropped; the three tables move into the
// LOAD area, the import tables get their addresses at its end, and each
// address is checked against the range of its region.
#include <algorithm>
#include <string>
#include <vector>

#include "layout/layout.h"
#include "symbols/symbols.h"
#include "format/module_format.h"

namespace zv {

namespace {

constexpr uint32_t kNoBase = 0xFFFFFFFF;
constexpr uint32_t kImportAlign = 64;
constexpr uint32_t kTempGranule = 64;

int32_t refsOf(const Context& ctx, uint32_t i) {
  const auto& refs = ctx.sym.sectionRefs;
  return i < refs.size() ? refs[i] : 0;
}

// The name as the address errors print it ("<NULL>" without a names table).
std::string errorName(Context& ctx, uint32_t i) { return sectionName(ctx, i); }

void sayWritableInLoader(Context& ctx, uint32_t i) {
  say(ctx,
      "*** Error: \"%s\", Section %d \"%s\" is writable but its (VKM adjusted) address (0x%08X) is "
      "in the loader range (from 0x%08X to (0x%08X)).\n",
      ctx.opt.outputPath.c_str(), static_cast<int>(i), errorName(ctx, i).c_str(), ctx.input.sh[i].sh_addr, kLoadLow,
      kLoadHigh);
}

void sayTextOutOfRange(Context& ctx, uint32_t i) {
  say(ctx,
      "*** Error: \"%s\", Section %d \"%s\" is text but its (VKM adjusted) address (0x%08X) is "
      "outside the allowed code range (from 0x%08X to (0x%08X)).\n",
      ctx.opt.outputPath.c_str(), static_cast<int>(i), errorName(ctx, i).c_str(), ctx.input.sh[i].sh_addr, kTextLow,
      kTextHigh);
}

void sayDataOutOfRange(Context& ctx, uint32_t i) {
  say(ctx,
      "*** Error: \"%s\", Section %d \"%s\" is data but its (VKM adjusted) address (0x%08X) is "
      "outside the allowed data range (from 0x%08X to (0x%08X)). Check the .ld and .map file for "
      "potential overflow.\n",
      ctx.opt.outputPath.c_str(), static_cast<int>(i), errorName(ctx, i).c_str(), ctx.input.sh[i].sh_addr, kDataLow,
      kDataHigh);
}

// A region's end is the 32-bit address just past its last section, so a
// section must end below the top of the address space: one that reaches it
// would wrap the end around to the bottom of memory.
Status endsPastAddressSpace(Context& ctx, uint32_t i, uint64_t address, uint64_t size) {
  if (address + size <= 0xFFFFFFFFull) return {};
  say(ctx,
      "*** Error: \"%s\", Section %d \"%s\" at 0x%08llX with size 0x%08llX reaches the end of the 32-bit "
      "address space.\n",
      ctx.opt.outputPath.c_str(), static_cast<int>(i), errorName(ctx, i).c_str(),
      static_cast<unsigned long long>(address), static_cast<unsigned long long>(size));
  return Status::failed();
}

// A section joins a region: the region grows to cover it (the section ends
// inside the address space, so the end does not wrap).
void growRegion(Region& r, const Elf32_Shdr& h) {
  r.base = std::min(r.base, h.sh_addr);
  r.align = std::max(r.align, h.sh_addralign);
  r.end = std::max(r.end, h.sh_addr + h.sh_size);
}

void resetRegions(Context& ctx) {
  LayoutState& lay = ctx.lay;
  lay.region(LoaderRegion::kText) = {kTextLow, kTextLow, 4};
  lay.region(LoaderRegion::kData) = {kDataLow, kDataLow, 4};
  lay.region(LoaderRegion::kLoad) = {kNoBase, 0, 4};
  lay.region(LoaderRegion::kTemp) = {kNoBase, 0, 4};
}

void resetSectionMap(Context& ctx) {
  SectionMap& m = ctx.lay.map;
  size_t n = sectionCount(ctx.input);
  m.newIndex.assign(n, -1);
  // One entry of room: the next index to give can reach the section count.
  m.oldIndex.assign(n + 1, 0);
  if (n > 0) m.newIndex[0] = 0;
  m.nextIndex = 1;
  m.importCount = 0;
}

void keepSection(Context& ctx, uint32_t i) {
  SectionMap& m = ctx.lay.map;
  m.newIndex[i] = m.nextIndex;
  m.oldIndex[static_cast<size_t>(m.nextIndex)] = static_cast<int32_t>(i);
  ++m.nextIndex;
}

void sayKind(Context& ctx, uint32_t i, const char* kind) {
  if (!ctx.opt.verbose) return;
  say(ctx, "Section %d: %s \"%s\"\n", static_cast<int>(i), kind, sectionNameByIndex(ctx, i).c_str());
}

// An allocated section: text, load or data, each checked against its range.
// Fails after an address error (already printed).
Status placeAllocated(Context& ctx, uint32_t i) {
  const Elf32_Shdr& h = ctx.input.sh[i];
  keepSection(ctx, i);
  if (Status r = endsPastAddressSpace(ctx, i, h.sh_addr, h.sh_size); !r.ok()) return r;
  if ((h.sh_flags & SHF_EXECINSTR) && h.sh_type != SHT_VKM_EXPORTS) {
    sayKind(ctx, i, "text");
    if (h.sh_addr < kTextLow || h.sh_addr > kTextHigh) {
      sayTextOutOfRange(ctx, i);
      return Status::failed();
    }
    growRegion(ctx.lay.region(LoaderRegion::kText), h);
  } else if (h.sh_addr >= kLoadLow) {
    sayKind(ctx, i, "load");
    if (h.sh_flags & SHF_WRITE) {
      sayWritableInLoader(ctx, i);
      return Status::failed();
    }
    growRegion(ctx.lay.region(LoaderRegion::kLoad), h);
  } else {
    sayKind(ctx, i, "data");
    if (h.sh_addr < kDataLow) {
      sayDataOutOfRange(ctx, i);
      return Status::failed();
    }
    growRegion(ctx.lay.region(LoaderRegion::kData), h);
  }
  return {};
}

// Decides the fate of section i. Fails after an address error.
Status classifySection(Context& ctx, uint32_t i) {
  Elf32_Shdr& h = ctx.input.sh[i];
  ctx.lay.map.newIndex[i] = -1;
  if (h.sh_size == 0) {
    sayKind(ctx, i, "empty");
    return {};
  }
  if (h.sh_type == SHT_VKM_IMPORTS) {
    sayKind(ctx, i, "imports");
    keepSection(ctx, i);
    ++ctx.lay.map.importCount;
    return {};
  }
  if (h.sh_flags & SHF_ALLOC) return placeAllocated(ctx, i);
  if (refsOf(ctx, i) != 0) {
    sayKind(ctx, i, "temp");
    Region& temp = ctx.lay.region(LoaderRegion::kTemp);
    uint64_t end = (uint64_t{temp.end} + h.sh_size + (kTempGranule - 1)) & ~uint64_t{kTempGranule - 1};
    if (end > 0xFFFFFFFFull) {
      say(ctx, "*** Error: \"%s\", Section %d \"%s\" makes the TEMP area larger than 4 GB.\n",
          ctx.opt.outputPath.c_str(), static_cast<int>(i), errorName(ctx, i).c_str());
      return Status::failed();
    }
    temp.end = static_cast<uint32_t>(end);
    keepSection(ctx, i);
    return {};
  }
  sayKind(ctx, i, "OMIT");
  h = Elf32_Shdr{};
  return {};
}

// Import tables get their addresses last, one after the other at 64-byte
// boundaries behind everything else in the LOAD area. Fails when one of them
// would run past the end of the address space (already reported).
Status placeImportSections(Context& ctx) {
  Region& load = ctx.lay.region(LoaderRegion::kLoad);
  if (load.base == kNoBase) load = {kLoadLow, kLoadLow, kImportAlign};
  uint32_t count = sectionCount(ctx.input);
  std::vector<uint8_t> isImport(count, 0);
  for (uint32_t i = 1; i < count; ++i)
    isImport[i] = ctx.input.sh[i].sh_size != 0 && ctx.input.sh[i].sh_type == SHT_VKM_IMPORTS;
  // One walk over the symbol table finds the symbols of every import table.
  SymbolGroups groups = groupSymbolsBySection(ctx, isImport);
  for (uint32_t i = 1; i < count; ++i) {
    if (!isImport[i]) continue;
    uint64_t address = (uint64_t{load.end} + kImportAlign - 1) & ~uint64_t{kImportAlign - 1};
    if (Status r = endsPastAddressSpace(ctx, i, address, 0); !r.ok()) return r;
    layoutImportSection(ctx, i, static_cast<uint32_t>(address), groups);
    Elf32_Shdr& placed = ctx.input.sh[i];
    placed.sh_flags &= ~SHF_WRITE;
    if (Status r = endsPastAddressSpace(ctx, i, address, placed.sh_size); !r.ok()) return r;
    load.end = static_cast<uint32_t>(address + placed.sh_size);
  }
  return {};
}

void realignRegions(Context& ctx) {
  for (size_t r = 0; r < ctx.lay.regions.size(); ++r) {
    Region& region = ctx.lay.regions[r];
    if (region.base == kNoBase) {
      region.base = 0;
      continue;
    }
    uint32_t align = region.align ? region.align : 1;
    if (region.base % align != 0) {
      say(ctx, "WARN: Realigning region %d base.\n", static_cast<int>(r));
      region.base -= region.base % align;
    }
  }
}

// The symbol table, its string table and the section-name table become
// allocated tables in the LOAD area.
void moveTablesToLoadRegion(Context& ctx, uint32_t symtab, int32_t strtab) {
  placeTableInLoadRegion(ctx, symtab);
  if (strtab > 0) placeTableInLoadRegion(ctx, static_cast<uint32_t>(strtab));
  uint32_t names = ctx.input.eh.e_shstrndx;
  if (names != 0 && namesSection(ctx.input, names)) placeTableInLoadRegion(ctx, names);
}

}  // namespace

void placeTableInLoadRegion(Context& ctx, uint32_t sectionIndex) {
  if (!namesSection(ctx.input, sectionIndex)) return;
  Elf32_Shdr& h = ctx.input.sh[sectionIndex];
  if (h.sh_flags & SHF_ALLOC) return;
  h.sh_flags |= SHF_ALLOC;
  uint32_t align = isPowerOfTwo(h.sh_addralign) ? h.sh_addralign : 1;
  Region& load = ctx.lay.region(LoaderRegion::kLoad);
  uint32_t address = alignUp(load.end, align);
  if (ctx.opt.verbose)
    say(ctx, "Moved %s table from 0x%08X to 0x%08X\n", h.sh_type == SHT_STRTAB ? "stringTable" : "symbolTable",
        h.sh_addr, address);
  h.sh_addr = address;
  load.end = address + h.sh_size;
}

void prescanLoaderRegion(Context& ctx) {
  Region& load = ctx.lay.region(LoaderRegion::kLoad);
  load = {kLoadLow, kLoadLow, 4};
  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i) {
    const Elf32_Shdr& h = ctx.input.sh[i];
    if (h.sh_size == 0 || !(h.sh_flags & SHF_ALLOC) || h.sh_addr < kLoadLow) continue;
    if (h.sh_flags & SHF_WRITE) {
      sayWritableInLoader(ctx, i);
      return;
    }
    growRegion(load, h);
  }
}

Status classifyAndPlaceSections(Context& ctx) {
  int32_t strtab = findStringTable(ctx);
  int32_t symtab = ctx.sym.view.symtab;
  if (symtab <= 0 || static_cast<uint32_t>(symtab) >= sectionCount(ctx.input) ||
      ctx.input.sh[static_cast<uint32_t>(symtab)].sh_type != SHT_SYMTAB) {
    const std::string& who = ctx.opt.inputPath ? *ctx.opt.inputPath : ctx.opt.outputPath;
    say(ctx, "***Error: \"%s\" has no symbol table. Return -1.\n", who.c_str());
    return Status::failed();
  }

  prescanLoaderRegion(ctx);
  moveTablesToLoadRegion(ctx, static_cast<uint32_t>(symtab), strtab);
  resetRegions(ctx);
  resetSectionMap(ctx);

  for (uint32_t i = 1; i < sectionCount(ctx.input); ++i)
    if (Status r = classifySection(ctx, i); !r.ok()) return r;

  if (ctx.lay.map.importCount != 0)
    if (Status r = placeImportSections(ctx); !r.ok()) return r;
  realignRegions(ctx);
  return {};
}

// The loader gives code no zero-filled memory, and it reads every
// section of its own range from the file, so a zero-filled section can live
// in neither place.
Status checkZeroFilledSections(Context& ctx) {
  ElfImage& img = ctx.input;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if ((h.sh_flags & SHF_EXECINSTR) && h.sh_type != SHT_VKM_EXPORTS && (h.sh_type & SHT_NOBITS)) {
      say(ctx, "*** Error: Placing a zero filled section '%s'(%d) in the code area is not allowed.\n",
          sectionNameByIndex(ctx, i).c_str(), static_cast<int>(i));
      return Status::failed();
    }
  }
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_type == SHT_NOBITS && (h.sh_flags & SHF_ALLOC) && h.sh_size != 0 && h.sh_addr >= kLoaderRangeStart) {
      say(ctx,
          "***Error: Section %d \"%s\" is zero filled but its address (0x%08X) is in the loader range, "
          "which is loaded from the file. Return -1.\n",
          static_cast<int>(i), sectionNameByIndex(ctx, i).c_str(), h.sh_addr);
      return Status::failed();
    }
  }
  return {};
}

}  // namespace zv
