// The import-library stage: finds the module's export tables (".fexports"
// for functions, ".dexports" for data, and the relocations of the data
// table), names the library after the output file and has the stub object
// and the archive made. A module that exports nothing gets no library.
#include <new>

#include "importlib/importlib.h"

namespace zv {

namespace {

struct ExportSections {
  uint32_t func = 0;
  uint32_t data = 0;
  uint32_t dataRela = 0;
};

// The export tables (the highest index wins), then the relocation section of
// the data table. Section 0 is never one of them.
ExportSections findExportSections(const ElfImage& img) {
  ExportSections found;
  for (uint32_t i = 1; i < sectionCount(img); ++i) {
    if (img.sh[i].sh_type != SHT_VKM_EXPORTS) continue;
    if (img.sh[i].sh_flags & SHF_EXECINSTR)
      found.func = i;
    else
      found.data = i;
  }
  if (found.data == 0) return found;
  for (uint32_t i = 1; i < sectionCount(img); ++i)
    if (img.sh[i].sh_type == SHT_RELA && img.sh[i].sh_info == found.data) found.dataRela = i;
  return found;
}

}  // namespace

Status writeImportLibrary(Context& ctx) {
  if (!ctx.haveInput) return {};
  try {
    std::string libName = importLibraryName(ctx.opt.outputPath);
    ExportSections ex = findExportSections(ctx.input);
    if (ex.func == 0 && ex.data == 0) return {};
    return writeImportArchive(ctx, libName, ex.func, ex.data, ex.dataRela);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error: Out of memory. Return -1\n");
    return Status::failed();
  }
}

}  // namespace zv
