// One conversion run. Everything a run knows lives in this one record, passed
// by reference to every stage: the options the user gave, the environment,
// the input image and what loading it revealed, the SDK's settings, and each
// stage's results (the analysis of the symbols, the region layout, the
// writer's buffers). Nothing is global, so tests and the fuzzer can run many
// conversions in one process. The record and the stages' result records
// (symbols_state.h, layout_state.h, writer_state.h, here beside it) sit below
// every stage: each stage writes only its own record and reads those of the
// stages before it.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "elf/image.h"
#include "elf/input.h"
#include "run/layout_state.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "platform/say.h"
#include "run/options.h"
#include "run/symbols_state.h"
#include "run/writer_state.h"

namespace zv {

// What the driver works out for the module from the options and the
// environment: the module's name as its FileInfo gives it (a part of the
// narrow output path: all of it, or what follows a source root), the loader
// tags (the SDK tags file's in front of the -t ones, newest first) and the
// room the FileInfo leaves after the name for longer install paths.
struct ModuleSettings {
  uint32_t relativeOutputPos = 0;  // relative path: position in opt.outputPathNarrow...
  uint32_t relativeOutputLen = 0;  // ...and its length
  std::list<LoaderTag> loaderTags;
  uint32_t filepathPadding = 0;
};

struct Context {
  Console con;
  Options opt;                      // what the user said; read-only once the command line is read
  Environment env;                  // read once by the driver (readEnvironment)
  MappedFile* inputFile = nullptr;  // the input stays mapped for the whole run
  bool haveInput = false;           // `input` holds the loaded input image
  ElfImage input;
  InputFacts facts;  // what loading the input revealed
  ModuleSettings moduleSettings;
  SymbolsState sym;
  LayoutState lay;
  WriterState wr;
  // In-process runs (the fuzzer, some tests) keep the module and the import
  // library in memory instead of writing files, and run no archiver.
  bool inMemory = false;
  std::vector<uint8_t> outputBytes;
  std::vector<uint8_t> libraryBytes;

  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() {
    if (inputFile) releaseMappedFile(inputFile);
  }
};

// Prints one message of the run (printf format) to its console.
ZV_PRINTF_FORMAT(2, 3) inline void say(Context& ctx, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsay(ctx.con, fmt, ap);
  va_end(ap);
}

// The module's name as its FileInfo gives it (see ModuleSettings).
inline std::string relativeOutputPath(const Context& ctx) {
  const std::string& path = ctx.opt.outputPathNarrow;
  const ModuleSettings& m = ctx.moduleSettings;
  if (m.relativeOutputPos > path.size()) return std::string();
  return path.substr(m.relativeOutputPos, m.relativeOutputLen);
}

// Whether small-data relocations are refused: the user asked for the check,
// or the input makes a VKM.
inline bool checksNoSda(const Context& ctx) { return ctx.opt.checkNoSda || ctx.facts.checkNoSda; }

}  // namespace zv
