// One conversion run. Everything a run knows lives in this one record, passed
// by reference to every stage: the options, the input image, the analysis of
// its symbols, the region layout and the writer's buffers. Nothing is global,
// so tests and the fuzzer can run many conversions in one process.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/options.h"
#include "elf/image.h"
#include "layout/layout_state.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "symbols/symbols_state.h"
#include "writer/writer_state.h"

namespace zv {

struct Context {
  Console con;
  Options opt;
  Environment env;                  // read once by the driver (readEnvironment)
  MappedFile* inputFile = nullptr;  // the input stays mapped for the whole run
  bool haveInput = false;           // `input` holds the loaded input image
  ElfImage input;
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
  va_list ap2;
  va_copy(ap2, ap);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(ap2);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(ap2);
    consoleWrite(ctx.con, small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(big.data(), big.size(), fmt, ap2);
  va_end(ap2);
  consoleWrite(ctx.con, big.data(), static_cast<size_t>(n));
}

}  // namespace zv
