// Shared set-up of the writer's tests: a scratch SDK root (with a loader tags
// file when a test wants one) named by EDBA_ROOT, a module described with the
// test ELF maker loaded as the input loader loads it, the options the driver
// would have filled in, and a run of the writer kept in memory whose result
// is decoded by the independent module-file reader.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "elf/input.h"
#include "support/elf_builder.h"
#include "support/run_tool.h"
#include "support/vkm_reader.h"
#include "writer/writer.h"

namespace zv::test {

// The output path a test run claims, and the part of it stored in the FileInfo.
inline constexpr const char* kOutputPath = "/work/project/build/mod.vkm";
inline constexpr uint32_t kRelativePos = 14;  // "build/mod.vkm"

// Not built on loadImage: a converted module needs the input loader's own checks and the facts it returns.
// Loads `elf` as the input loader does and fills in what the driver would:
// default stack and heap, the output names.
inline void loadModule(zv::Context& ctx, std::vector<uint8_t> elf) {
  ctx.con.capture = true;
  ctx.inMemory = true;
  ctx.opt.inputPath = "mod.elf";
  ctx.opt.stackSize = 0x10000;
  ctx.opt.heapSize = 0x8000;
  ctx.opt.outputPath = kOutputPath;
  ctx.opt.outputPathNarrow = kOutputPath;
  ctx.moduleSettings.relativeOutputPos = kRelativePos;
  ctx.moduleSettings.relativeOutputLen = static_cast<uint32_t>(ctx.opt.outputPathNarrow.size()) - kRelativePos;
  ASSERT_TRUE(zv::loadInput(ctx, zv::mapMemory(std::move(elf)), "mod.elf").ok()) << ctx.con.text;
}

// A scratch SDK root in EDBA_ROOT for one test, with a tags file (empty by
// default; none with std::nullopt).
struct SdkRoot {
  ScratchDir dir;
  EnvVar env;
  explicit SdkRoot(std::optional<std::string> tagsFile = std::string()) : env("EDBA_ROOT", dir.path) {
    if (tagsFile) writeText(dir / "system/include/vkm_tags.txt", *tagsFile);
  }
};

// Runs the writer over a loaded module; the module file is decoded into `vkm`.
struct WriterRun {
  uint32_t result = 0;
  VkmFile vkm;
};

// Converts a loaded module as a run does once its command line is read: the
// environment as it is now, no import library.
inline uint32_t convertLoaded(zv::Context& ctx) {
  ctx.env = zv::readEnvironment();
  ctx.opt.noLib = true;
  return zv::convert(ctx).value();
}

inline WriterRun runWriter(zv::Context& ctx) {
  WriterRun run;
  run.result = convertLoaded(ctx);
  if (run.result == 0) run.vkm = readVkm(ctx.outputBytes);
  return run;
}

inline std::string problems(const VkmFile& f) {
  std::string s;
  for (const std::string& p : f.problems) s += p + "\n";
  return s;
}

// Appends a data section of `bytes` at `addr` to the module.
inline uint16_t addData(ElfBuilder& b, const std::string& name, uint32_t addr, std::vector<uint8_t> bytes,
                        uint32_t align = 4) {
  return addProgbits(b, name, kShfAlloc | kShfWrite, addr, std::move(bytes), align);
}

}  // namespace zv::test
