// The conversion, pass by pass. Each pass is a plain function of the stage
// that owns its work; this file only fixes their order, which is the order
// in which the module's facts become known: the sections and symbols the
// module keeps, where the loader puts them, the FileInfo that describes
// them, the file's contents, and last the check of the file as written. A
// pass that fails has printed its message; its value ends up in the FAILED
// line, and nothing after it runs.
#include "driver/driver.h"
#include "importlib/importlib.h"
#include "layout/layout.h"
#include "symbols/symbols.h"
#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;

// The SDK root names the loader tags file; its length decides how much room
// the FileInfo leaves for the module's name.
uint32_t readSdkRoot(Context& ctx) {
  if (!ctx.env.sdkRoot) {
    say(ctx, "***Error: EDBA_ROOT is not defined\n");
    return kFail;
  }
  readLoaderTagsFile(ctx, *ctx.env.sdkRoot);  // a missing or bad tags file does not stop the conversion
  ctx.moduleSettings.filepathPadding = filepathPadding(ctx, *ctx.env.sdkRoot);
  return 0;
}

// The symbol table everything else reads, and the TLS segment the loader accepts.
uint32_t findTables(Context& ctx) {
  locateSymbolTable(ctx);
  if (ctx.sym.view.symtab < 0) {
    say(ctx, "***Error: \"%s\" has no symbol table. Cannot make an VKM from it. Return -1.\n",
        ctx.opt.inputPath.value_or(std::string()).c_str());
    return kFail;
  }
  return checkTlsSegment(ctx);
}

// A section is used when the loader loads it or a counted relocation refers
// to it; the symbols of the others are cleared. The linker's own export list
// is not loaded unless something refers to it.
void countReferencesAndDropUnused(Context& ctx) {
  if (uint32_t ex = findExportSection(ctx); ex != 0) ctx.input.sh[ex].sh_flags &= ~SHF_ALLOC;
  countSectionReferences(ctx);
  // Only symbols no counted relocation uses are cleared, so the counts hold,
  // unless the symbol table and a relocation section share bytes.
  if (removeUnusedSections(ctx) && symbolsShareBytesWithRelocations(ctx)) countSectionReferences(ctx);
}

// The symbol table the loader reads, new or the old one stripped, and the
// relocation rules checked against it.
uint32_t settleSymbols(Context& ctx) {
  if (ctx.opt.newSymbolTable) {
    buildNewSymbolTable(ctx);
    if (ctx.sym.table.tooLarge) return kFail;
    return checkAllRelocations(ctx);
  }
  locateSymbolTable(ctx);
  if (uint32_t r = stripUnusedSymbols(ctx)) return r;
  if (uint32_t r = checkAllRelocations(ctx)) return r;
  if (ctx.opt.stripStrings) return compactImportStrings(ctx);
  return 0;
}

}  // namespace

uint32_t convert(Context& ctx) {
  // The module's path below a source root, as its FileInfo names it.
  if (uint32_t r = makeRelativeOutputPath(ctx)) return r;
  // The import library other modules link against.
  if (!ctx.opt.noLib)
    if (uint32_t r = writeImportLibrary(ctx)) return r;
  // The SDK root, its loader tags and the room for the module's name.
  if (uint32_t r = readSdkRoot(ctx)) return r;
  // The symbol table in use and the TLS segment.
  if (uint32_t r = findTables(ctx)) return r;
  // Reference counts; unused sections lose their symbols.
  countReferencesAndDropUnused(ctx);
  // The section-name table keeps only the names still in use.
  rebuildSectionNames(ctx);
  // The symbol table (new or old) and the relocation rules.
  if (uint32_t r = settleSymbols(ctx)) return r;
  // Every section placed in TEXT, DATA, LOAD or TEMP.
  if (classifyAndPlaceSections(ctx) != 0) return kFail;
  // The FileInfo record: its size, then its fields.
  sizeFileInfo(ctx);
  if (uint32_t r = fillFileInfo(ctx)) return r;
  // The region sizes, with room for branch trampolines, copied into the FileInfo.
  if (uint32_t r = sizeRegions(ctx)) return r;
  copyRegionSizes(ctx);
  // Zero-filled sections the loader cannot give memory to.
  if (uint32_t r = checkZeroFilledSections(ctx)) return r;
  // The kept sections renumbered; symbols and relocations back in file order.
  if (uint32_t r = makeNewTable(ctx)) return r;
  renumberSections(ctx);
  // File offsets, CRCs and compression of the contents.
  if (uint32_t r = layOutSections(ctx)) return r;
  // The FileInfo strings at the end of LOAD, the size options, the CRC and FileInfo headers.
  addTrailer(ctx);
  if (uint32_t r = applySizeOptions(ctx)) return r;
  addFixedSections(ctx);
  // The file, written in one piece.
  if (uint32_t r = buildAndWriteImage(ctx)) return r;
  // The module as written: mapped again, parsed and its layout verified.
  return reloadGeneratedFile(ctx);
}

}  // namespace zv
