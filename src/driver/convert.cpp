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

// The SDK root names the loader tags file; its length decides how much room
// the FileInfo leaves for the module's name.
Status readSdkRoot(Context& ctx) {
  if (!ctx.env.sdkRoot) {
    say(ctx, "***Error: EDBA_ROOT is not defined\n");
    return Status::failed();
  }
  // A missing or bad tags file is reported but does not stop the conversion.
  static_cast<void>(readLoaderTagsFile(ctx, *ctx.env.sdkRoot));
  ctx.moduleSettings.filepathPadding = filepathPadding(ctx, *ctx.env.sdkRoot);
  return {};
}

// The symbol table everything else reads, and the TLS segment the loader accepts.
Status findTables(Context& ctx) {
  if (Status r = findSymbolTable(ctx); !r.ok()) return r;
  return checkTlsSegment(ctx);
}

// The symbol table the loader reads, new or the old one stripped, and the
// relocation rules checked against it.
Status settleSymbols(Context& ctx) {
  if (ctx.opt.newSymbolTable) {
    if (Status r = buildNewSymbolTable(ctx); !r.ok()) return r;
    return checkAllRelocations(ctx);
  }
  locateSymbolTable(ctx);
  stripUnusedSymbols(ctx);
  if (Status r = checkAllRelocations(ctx); !r.ok()) return r;
  if (ctx.opt.stripStrings) return compactImportStrings(ctx);
  return {};
}

}  // namespace

Status convert(Context& ctx) {
  // The module's path below a source root, as its FileInfo names it.
  if (Status r = makeRelativeOutputPath(ctx); !r.ok()) return r;
  // The import library other modules link against.
  if (!ctx.opt.noLib)
    if (Status r = writeImportLibrary(ctx); !r.ok()) return r;
  // The SDK root, its loader tags and the room for the module's name.
  if (Status r = readSdkRoot(ctx); !r.ok()) return r;
  // The symbol table in use and the TLS segment.
  if (Status r = findTables(ctx); !r.ok()) return r;
  // Reference counts; unused sections lose their symbols.
  countReferencesAndDropUnused(ctx);
  // The section-name table keeps only the names still in use.
  rebuildSectionNames(ctx);
  // The symbol table (new or old) and the relocation rules.
  if (Status r = settleSymbols(ctx); !r.ok()) return r;
  // Every section placed in TEXT, DATA, LOAD or TEMP.
  if (Status r = classifyAndPlaceSections(ctx); !r.ok()) return r;
  // The FileInfo record: its size, then its fields.
  sizeFileInfo(ctx);
  if (Status r = fillFileInfo(ctx); !r.ok()) return r;
  // The region sizes, with room for branch trampolines, copied into the FileInfo.
  if (Status r = sizeRegions(ctx); !r.ok()) return r;
  copyRegionSizes(ctx);
  // Zero-filled sections the loader cannot give memory to.
  if (Status r = checkZeroFilledSections(ctx); !r.ok()) return r;
  // The kept sections renumbered; symbols and relocations back in file order.
  if (Status r = makeNewTable(ctx); !r.ok()) return r;
  renumberSections(ctx);
  // File offsets, CRCs and compression of the contents.
  if (Status r = layOutSections(ctx); !r.ok()) return r;
  // The FileInfo strings at the end of LOAD, the size options, the CRC and FileInfo headers.
  addTrailer(ctx);
  if (Status r = applySizeOptions(ctx); !r.ok()) return r;
  addFixedSections(ctx);
  // The file, written in one piece.
  if (Status r = buildAndWriteImage(ctx); !r.ok()) return r;
  // The module as written: mapped again, parsed and its layout verified.
  return reloadGeneratedFile(ctx);
}

}  // namespace zv
