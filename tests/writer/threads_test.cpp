// Sections are compressed on several threads, and nothing about the result
// may depend on how many: every real module, under several option sets,
// gives the same module, library and messages with one thread, two, seven
// and the machine's default. A ZODAVOV_THREADS value that is not a positive
// number is reported once and the default is used.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.h"
#include "support/run_tool.h"
#include "platform/parallel.h"
#include "writer_fixture.h"

namespace zv::test {
namespace {

const char* const kModules[] = {"basic", "imports", "tls", "vkx", "big", "codeonly", "funcexports", "dataexports"};

const std::vector<std::vector<std::string>> kOptionSets = {{}, {"-z9", "-v"}, {"-old", "-s", "-z1"}, {"-zx", "-v3"}};

struct Outcome {
  int status = -1;
  std::string out;
  std::vector<uint8_t> module;
  std::vector<uint8_t> library;
};

// Converts a fresh copy of `module` in `dir` with ZODAVOV_THREADS set to
// `threads` (unset when "\x01unset").
Outcome convert(const ScratchDir& dir, const std::string& module, const std::vector<std::string>& options,
                const std::string& threads) {
  const std::string input = dir.path + "/" + module + ".elf";
  writeFile(input, readFile(sourceDir() + "/tests/corpus/" + module + ".elf"));
  std::vector<std::string> args = options;
  args.push_back(input);
  auto run = runZodavov(args, dir.path,
                        {{"EDBA_ROOT", sourceDir() + "/samples/sdk"},
                         {"GHS_ROOT", sourceDir() + "/samples/toolchain"},
                         {"SOURCE_DATE_EPOCH", "1700000000"},
                         {"ZODAVOV_THREADS", threads}});
  Outcome o{run.status, run.out, {}, {}};
  for (const std::string& name : folderEntries(dir.path)) {
    if (name.ends_with(".vkm") || name.ends_with(".vkx")) o.module = readFile(dir.path + "/" + name);
    if (name.ends_with(".a")) o.library = readFile(dir.path + "/" + name);
  }
  return o;
}

TEST(CompressionThreads, EveryCorpusModuleIsTheSameForEveryThreadCount) {
  for (const char* module : kModules) {
    for (const auto& options : kOptionSets) {
      ScratchDir dir;
      std::string what = std::string(module) + " with";
      for (const auto& o : options) what += " " + o;
      Outcome serial = convert(dir, module, options, "1");
      ASSERT_EQ(serial.status, 0) << what << "\n" << serial.out;
      ASSERT_FALSE(serial.module.empty()) << what;
      for (const char* threads : {"2", "7", "\x01unset"}) {
        Outcome parallel = convert(dir, module, options, threads);
        EXPECT_EQ(parallel.status, 0) << what;
        EXPECT_EQ(parallel.out, serial.out) << what << ", threads " << threads;
        EXPECT_TRUE(parallel.module == serial.module) << what << ", threads " << threads;
        EXPECT_TRUE(parallel.library == serial.library) << what << ", threads " << threads;
      }
    }
  }
}

// The executable says it once, before anything else, and converts as usual.
TEST(CompressionThreads, BadValueIsReportedAndTheModuleIsUnchanged) {
  ScratchDir dir;
  Outcome good = convert(dir, "big", {"-nolib"}, "1");
  ASSERT_EQ(good.status, 0) << good.out;
  Outcome bad = convert(dir, "big", {"-nolib"}, "0");
  EXPECT_EQ(bad.status, 0) << bad.out;
  EXPECT_EQ(bad.out, "WARN: ZODAVOV_THREADS \"0\" is not a positive number; one thread per hardware thread is used.\n" +
                         good.out);
  EXPECT_TRUE(bad.module == good.module);
}

TEST(CompressionThreads, ThreadCountComesFromTheEnvironment) {
  const uint32_t dflt = zv::hardwareThreads();
  ASSERT_GE(dflt, 1u);
  struct Row {
    const char* value;  // nullptr: unset
    uint32_t threads;
    bool warns;
  };
  const Row rows[] = {
      {nullptr, dflt, false},
      {"", dflt, false},
      {"1", 1, false},
      {"3", 3, false},
      {"0064", 64, false},
      {"65", zv::kMaxThreads, false},
      {"99999999999999999999", zv::kMaxThreads, false},
      {"0", dflt, true},
      {"-2", dflt, true},
      {"two", dflt, true},
      {"3x", dflt, true},
      {" 3", dflt, true},
      {"+3", dflt, true},
      {"2.5", dflt, true},
  };
  for (const Row& row : rows) {
    EnvVar env("ZODAVOV_THREADS", row.value ? std::optional<std::string>(row.value) : std::nullopt);
    zv::Context ctx;
    ctx.con.capture = true;
    ctx.env = zv::readEnvironment();
    zv::chooseThreadCount(ctx);
    const std::string what = row.value ? row.value : "(unset)";
    EXPECT_EQ(ctx.opt.threads, row.threads) << what;
    std::string warning =
        "WARN: ZODAVOV_THREADS \"" + what + "\" is not a positive number; one thread per hardware thread is used.\n";
    EXPECT_EQ(ctx.con.text, row.warns ? warning : std::string()) << what;
  }
}

}  // namespace
}  // namespace zv::test
