// One run of the tool, start to end: the environment (read once), the command
// line (which loads the input), the defaults and checks that depend on
// several options, the output names, then the conversion (convert.cpp), whose
// last pass maps the generated module again, parses it and verifies its
// layout, so that a broken module never passes for a good one. The outcome is
// one FAILED line and the process exit value.
#include <cstdint>
#include <new>

#include "driver/driver.h"
#include "elf/image.h"
#include "importlib/importlib.h"
#include "platform/parallel.h"
#include "writer/writer.h"

namespace zv {

namespace {

// The thread count ZODAVOV_THREADS asks for, or the machine's.
uint32_t threadCountAsked(const std::optional<std::string>& asked) {
  if (asked && !asked->empty())
    if (std::optional<uint32_t> n = parseThreadCount(*asked)) return *n;
  return hardwareThreads();
}

constexpr uint32_t kDefaultStackSize = 0x10000;
constexpr uint32_t kMinHeapSize = 0x8000;
constexpr uint64_t kMinGeneratedSize = 260;

const char* programName(int argc, char** argv) { return argc > 0 && argv[0] ? argv[0] : ""; }

void warnEmptyRelocations(Context& ctx) {
  const Options& o = ctx.opt;
  if (!ctx.facts.emptyNullRelaSeen || !o.warnEmptyRela || !o.inputPath) return;
  say(ctx,
      "*** Warning found relocation section for NULL section that has empty relocations in ELF "
      "file \"%s\"\n",
      o.inputPath->c_str());
  say(ctx,
      "*** This is not a problem for your game but please contact QVN support so we can fix this "
      "issue\n");
}

void applyRunDefaults(Options& o) {
  if (o.stackSize == 0) o.stackSize = kDefaultStackSize;
  if (o.heapSize < kMinHeapSize) o.heapSize = kMinHeapSize;
}

// The final word of a run: flush what was said, then the FAILED line. The
// failure's value is the exit value.
int finish(Context& ctx, const char* self, Status result) {
  consoleFlush(ctx.con);
  if (!result.ok()) {
    say(ctx, "\n\n%s FAILED Error = %d\n", self, static_cast<int>(result.value()));
    consoleFlush(ctx.con);
  }
  return static_cast<int>(result.value());
}

int commandLineFailure(Context& ctx, int argc, char** argv) {
  reportCommandLineFailure(ctx, argc, argv, Status::failed());
  consoleFlush(ctx.con);
  return static_cast<int>(Status::failed().value());
}

int runSteps(Context& ctx, int argc, char** argv) {
  const char* self = programName(argc, argv);
  ctx.env = readEnvironment();
  // The input is read while the command line is; its large tables already
  // use the threads (a bad value is reported once the conversion starts).
  ctx.opt.threads = threadCountAsked(ctx.env.threads);
  if (Status r = parseCommandLine(ctx, argc, argv); !r.ok()) {
    printUsage(ctx);
    consoleFlush(ctx.con);
    return static_cast<int>(r.value());
  }
  warnEmptyRelocations(ctx);
  applyRunDefaults(ctx.opt);
  if (!ctx.haveInput) {
    say(ctx, "Error: No Elf file found on command line. Return -1.\n");
    return commandLineFailure(ctx, argc, argv);
  }
  std::string full;
  size_t fileNamePos = 0;
  if (!fullInputPath(ctx, full, fileNamePos).ok()) return commandLineFailure(ctx, argc, argv);
  if (Status r = checkRegionSizes(ctx); !r.ok()) return finish(ctx, self, r);
  if (!deriveOutputNames(ctx, full, fileNamePos).ok()) return commandLineFailure(ctx, argc, argv);
  if (Status r = outputsSpareTheInput(ctx); !r.ok()) return finish(ctx, self, r);
  chooseThreadCount(ctx);
  return finish(ctx, self, convert(ctx));
}

}  // namespace

Environment readEnvironment() {
  Environment env;
  env.sdkRoot = getEnv("EDBA_ROOT");
  env.toolchainRoot = getEnv("GHS_ROOT");
  env.sourceDateEpoch = getEnv("SOURCE_DATE_EPOCH");
  env.threads = getEnv("ZODAVOV_THREADS");
  return env;
}

void chooseThreadCount(Context& ctx) {
  const std::optional<std::string>& asked = ctx.env.threads;
  ctx.opt.threads = threadCountAsked(asked);
  if (!asked || asked->empty() || parseThreadCount(*asked)) return;
  say(ctx, "WARN: ZODAVOV_THREADS \"%s\" is not a positive number; one thread per hardware thread is used.\n",
      asked->c_str());
}

Status checkRegionSizes(Context& ctx) {
  Options& o = ctx.opt;
  const int32_t d = o.sizeData, x = o.sizeText, m = o.sizeTemp, l = o.sizeLoad;
  if (d >= 0 && (x == -1 || m == -1 || l == -1)) {
    say(ctx, "Error: -sizedata %d needs to set -sizetext <n> -sizeload <n> -sizetemp <n>. return -1.\n", d);
    return Status::failed();
  }
  if (x >= 0 && (d == -1 || m == -1 || l == -1)) {
    say(ctx, "Error: -sizetext %d needs to set -sizedata <n> -sizetemp <n> -sizeload <n>. return -1.\n", x);
    return Status::failed();
  }
  if (m >= 0 && (d == -1 || x == -1 || l == -1)) {
    say(ctx, "Error: -sizetemp %d needs to set -sizedata <n> -sizetext <n> -sizeload <n>. return -1.\n", m);
    return Status::failed();
  }
  if (l >= 0 && (d == -1 || x == -1 || m == -1)) {
    say(ctx, "Error: -sizeload %d needs to set -sizedata <n> -sizetext <n> -sizetemp <n>. return -1.\n", l);
    return Status::failed();
  }
  o.byteSizesGiven = !(d == -1 && x == -1 && m == -1 && l == -1);
  if (o.byteSizesGiven && o.padAllPercent != 0) {
    say(ctx,
        "Error: Please specify either percentage (-padall <n>) or bytes (-sizedata <n> -sizetext "
        "<n> -sizeload <n> -sizetemp <n>) for segment padding. return -1.\n");
    return Status::failed();
  }
  return {};
}

Status reloadGeneratedFile(Context& ctx) {
  const char* path = ctx.opt.outputPath.c_str();
  MappedFile* file = nullptr;
  if (ctx.inMemory) {
    file = mapMemory(ctx.outputBytes);  // a copy: the parse converts it in place
  } else if (Status r = mapFile(ctx.opt.outputPath, file); !r.ok()) {
    say(ctx, "***Error: Could not map in generated file \"%s\". Error 0x%08X\n", path, r.value());
    return r;
  }
  if (file->size > UINT32_MAX) {  // only a module kept in memory can be this large
    releaseMappedFile(file);
    say(ctx, "***Error: Could not map in generated file \"%s\". Error 0x%08X\n", path, kErrFail);
    return Status::withValue(kErrFail);
  }
  if (file->size < kMinGeneratedSize) {
    releaseMappedFile(file);
    say(ctx, "***Error: Generated file \"%s\" is too small. Error 0x%08X\n", path, bad::kFileTooSmall.value());
    return bad::kFileTooSmall;
  }
  const uint32_t size = static_cast<uint32_t>(file->size);
  ElfImage generated;
  Status r = parseElfImage(file->base, size, generated, false, ctx.opt.threads);  // checked, not converted
  if (r.ok()) r = verifyGeneratedLayout(ctx, generated, size);
  releaseMappedFile(file);
  if (!r.ok()) say(ctx, "***Error 0x%08X reloading generated file \"%s\"\n", r.value(), path);
  return r;
}

int runTool(Context& ctx, int argc, char** argv) {
  try {
    return runSteps(ctx, argc, argv);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return finish(ctx, programName(argc, argv), Status::failed());
  }
}

}  // namespace zv
