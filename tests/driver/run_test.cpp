// Whole runs of the tool: what is printed and returned when the command line
// is bad, names no input or asks for conflicting region sizes; the defaults
// applied after the options; the read-back of the generated module; and the
// built executable itself, run as a separate process, for its exact standard
// output and exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "driver_test_util.h"
#include "support/elf_builder.h"

namespace zv::test {
namespace {

const std::string kNoInput = "Error: No Elf file found on command line. Return -1.\n";

std::string failedLine(const std::string& self, int code) {
  return "\n\n" + self + " FAILED Error = " + std::to_string(code) + "\n";
}

std::string writeModule(const ScratchDir& dir, const std::string& name, const ElfBuilder& b = makeLinkedModule().b) {
  std::string path = dir / name;
  writeFile(path, build(b));
  return path;
}

// --- The command line goes wrong ---------------------------------------------

TEST(RunTool, NoArgumentsReportsNoInputEchoAndUsage) {
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {}), -1);
  EXPECT_EQ(ctx.con.text, kNoInput + failedLine("zodavov", -1) + "\tzodavov\n" + expectedUsage());
}

TEST(RunTool, EchoShowsEveryArgumentOnItsOwnLine) {
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {"-v", "-h", "100"}, "bin/zodavov"), -1);
  EXPECT_EQ(ctx.con.text, kNoInput + failedLine("bin/zodavov", -1) +
                              "\tbin/zodavov \\\n\t\t-v \\\n\t\t-h \\\n\t\t100\n" + expectedUsage());
}

TEST(RunTool, BadOptionPrintsUsageWithoutFailedLine) {
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {"-zy"}), -1);
  EXPECT_EQ(ctx.con.text, "***Option -z takes compression level 1 to 9 or x. Return -1.\n" + expectedUsage());
}

TEST(RunTool, UnmappableInputReturnsTheMappingError) {
  ScratchDir dir;
  std::string path = dir / "missing.elf";
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {path}), static_cast<int>(0x80070002));
  EXPECT_EQ(ctx.con.text, "***Error: Could not map in file \"" + path + "\". Error 0x80070002\n" + expectedUsage());
}

TEST(RunTool, SmallInputCountsAsNoInput) {
  ScratchDir dir;
  std::string path = dir / "tiny.elf";
  writeText(path, std::string(100, '\0'));
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {path}), -1);
  EXPECT_EQ(ctx.con.text, kNoInput + failedLine("zodavov", -1) + "\tzodavov \\\n\t\t" + path + "\n" + expectedUsage());
}

TEST(ReportCommandLineFailure, PrintsTheValueAsSignedDecimal) {
  ArgV a({"x.elf"});
  zv::Context ctx;
  ctx.con.capture = true;
  zv::reportCommandLineFailure(ctx, a.argc(), a.argv(), zv::bad::kFileTooSmall);
  EXPECT_EQ(ctx.con.text, failedLine("zodavov", -1160773608) + "\tzodavov \\\n\t\tx.elf\n" + expectedUsage());
}

// --- Defaults applied after the options ---------------------------------------

struct DefaultCase {
  std::vector<std::string> args;
  uint32_t stack;
  uint32_t heap;
};

class RunDefaults : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(RunDefaults, StackAndHeapGetTheirMinimums) {
  zv::Context ctx;
  run(ctx, GetParam().args);  // no input: the run fails after the defaults
  EXPECT_EQ(ctx.opt.stackSize, GetParam().stack);
  EXPECT_EQ(ctx.opt.heapSize, GetParam().heap);
}

INSTANTIATE_TEST_SUITE_P(Options, RunDefaults,
                         ::testing::Values(DefaultCase{{}, 65536, 32768}, DefaultCase{{"-h", "100"}, 65536, 32768},
                                           DefaultCase{{"-h", "32767"}, 65536, 32768},
                                           DefaultCase{{"-h", "32769", "-stack", "4096"}, 4096, 32769},
                                           DefaultCase{{"-h", "-5", "-stack", "-1"}, 0xFFFFFFFF, 0xFFFFFFFB}));

// --- Runs over a real module --------------------------------------------------

TEST(RunTool, RegionSizeConflictPrintsOnlyTheFailedLine) {
  ScratchDir dir;
  std::string path = writeModule(dir, "app.elf");
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {"-sizedata", "100", "-sizetext", "100", "-sizetemp", "100", path}), -1);
  EXPECT_EQ(ctx.con.text,
            "Error: -sizedata 100 needs to set -sizetext <n> -sizeload <n> -sizetemp <n>. return "
            "-1.\n" +
                failedLine("zodavov", -1));
}

TEST(RunTool, PercentAndBytesTogetherFail) {
  ScratchDir dir;
  std::string path = writeModule(dir, "app.elf");
  zv::Context ctx;
  EXPECT_EQ(run(ctx, {"-sizedata", "1", "-sizetext", "1", "-sizetemp", "1", "-sizeload", "1", "-padall", "10", path}),
            -1);
  EXPECT_EQ(ctx.con.text,
            "Error: Please specify either percentage (-padall <n>) or bytes (-sizedata <n> "
            "-sizetext <n> -sizeload <n> -sizetemp <n>) for segment padding. return -1.\n" +
                failedLine("zodavov", -1));
  EXPECT_TRUE(ctx.opt.byteSizesGiven);
}

TEST(RunTool, EmptyRelocationsForNullSectionAreReportedOnRequest) {
  ScratchDir dir;
  LinkedModule m = makeLinkedModule();
  uint16_t nullRela = addRelaSection(m.b, ".rela.none", 0);
  addReloc(m.b, nullRela, 0, 0, kRPpcNone);
  std::string path = writeModule(dir, "app.elf", m.b);
  const std::string warning =
      "*** Warning found relocation section for NULL section that has empty relocations in ELF "
      "file \"" +
      path +
      "\"\n"
      "*** This is not a problem for your game but please contact QVN support so we can fix this "
      "issue\n";
  const std::string stop =
      "Error: -sizeload 1 needs to set -sizedata <n> -sizetext <n> -sizetemp "
      "<n>. return -1.\n" +
      failedLine("zodavov", -1);
  zv::Context quiet, warned;
  EXPECT_EQ(run(quiet, {path, "-sizeload", "1"}), -1);
  EXPECT_EQ(quiet.con.text, stop);
  EXPECT_EQ(run(warned, {"-warnemptyrela", path, "-sizeload", "1"}), -1);
  EXPECT_EQ(warned.con.text, warning + stop);
}

TEST(RunTool, TooLongOutputPathFailsTheSourceRootStep) {
  ScratchDir dir;
  // An output path of 250 characters: resolvable, but too long for the FileInfo.
  size_t stem = 250 - dir.path.size() - 1 - 4;
  std::string path = writeModule(dir, std::string(stem, 'm') + ".elf");
  zv::Context ctx;
  ctx.inMemory = true;
  EXPECT_EQ(run(ctx, {"-nolib", "-dbg_source_root", dir.path, path}), -1);
  EXPECT_EQ(ctx.con.text, "***File path to VKM is too large.\n" + failedLine("zodavov", -1));
  EXPECT_TRUE(ctx.outputBytes.empty());  // the writer never ran
}

TEST(RunTool, ModuleConvertsInMemory) {
  ScratchDir dir;
  std::string path = writeModule(dir, "app.elf");
  EnvVar root("EDBA_ROOT", dir.path);
  zv::Context ctx;
  ctx.inMemory = true;
  EXPECT_EQ(run(ctx, {"-nolib", "-dbg_source_root", dir.path, path}), 0) << ctx.con.text;
  EXPECT_EQ(ctx.con.text.find("FAILED"), std::string::npos) << ctx.con.text;
  EXPECT_EQ(ctx.opt.outputPath, dir / "app.vkm");
  EXPECT_EQ(zv::relativeOutputPath(ctx), "app.vkm");
  EXPECT_FALSE(ctx.opt.importLibPath.has_value());
  EXPECT_GE(ctx.outputBytes.size(), 260u);
}

// --- Reading the generated module back ------------------------------------------

class Reload : public ::testing::Test {
 protected:
  ScratchDir dir;
  zv::Context ctx;
  void SetUp() override {
    ctx.con.capture = true;
    ctx.opt.outputPath = dir / "app.vkm";
  }
};

TEST_F(Reload, MissingFileReportsTheMappingError) {
  EXPECT_EQ(zv::reloadGeneratedFile(ctx).value(), 0x80070002u);
  EXPECT_EQ(ctx.con.text,
            "***Error: Could not map in generated file \"" + ctx.opt.outputPath + "\". Error 0x80070002\n");
}

TEST_F(Reload, SmallFileIsTooSmall) {
  writeText(ctx.opt.outputPath, std::string(259, 'x'));
  EXPECT_EQ(zv::reloadGeneratedFile(ctx).value(), 0xBAD00018u);
  EXPECT_EQ(ctx.con.text, "***Error: Generated file \"" + ctx.opt.outputPath + "\" is too small. Error 0xBAD00018\n");
}

TEST_F(Reload, EmptyModuleInMemoryIsTooSmall) {
  ctx.inMemory = true;
  EXPECT_EQ(zv::reloadGeneratedFile(ctx).value(), 0xBAD00018u);
  EXPECT_EQ(ctx.con.text, "***Error: Generated file \"" + ctx.opt.outputPath + "\" is too small. Error 0xBAD00018\n");
}

TEST_F(Reload, UnparsableModuleReportsTheParseError) {
  ctx.inMemory = true;
  ctx.outputBytes.assign(300, 'x');
  EXPECT_EQ(zv::reloadGeneratedFile(ctx).value(), 0xBAD00019u);
  EXPECT_EQ(ctx.con.text, "***Error 0xBAD00019 reloading generated file \"" + ctx.opt.outputPath + "\"\n");
  EXPECT_EQ(ctx.outputBytes, std::vector<uint8_t>(300, 'x'));  // the module itself is untouched
}

// --- The executable -------------------------------------------------------------

std::string binaryPath() { return zodavovPath(); }

// Runs the tool in `dir` with `args`, and EDBA_ROOT set to `root` when given.
ToolRun runBinary(const ScratchDir& dir, const std::vector<std::string>& args, const std::string& root = "") {
  std::vector<std::pair<std::string, std::string>> env;
  if (!root.empty()) env.emplace_back("EDBA_ROOT", root);
  return runZodavov(args, dir.path, env);
}

TEST(Executable, NoArgumentsPrintsUsageAndExits255) {
  ScratchDir dir;
  ToolRun r = runBinary(dir, {});
  std::string self = binaryPath();
  EXPECT_EQ(r.out, kNoInput + failedLine(self, -1) + "\t" + self + "\n" + expectedUsage());
  EXPECT_EQ(r.status, 255);
}

TEST(Executable, MissingFilePrintsTheMappingErrorAndUsage) {
  ScratchDir dir;
  ToolRun r = runBinary(dir, {"missing.elf"});
  EXPECT_EQ(r.out, "***Error: Could not map in file \"missing.elf\". Error 0x80070002\n" + expectedUsage());
  EXPECT_EQ(r.status, 2);  // the low 8 bits of 0x80070002
}

TEST(Executable, WritesTheModuleBesideTheInput) {
  ScratchDir dir;
  writeModule(dir, "app.elf");
  ToolRun r = runBinary(dir, {"-nolib", "app.elf"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "app.vkm"));
  EXPECT_FALSE(std::filesystem::exists(dir / "app.a"));
}

TEST(Executable, ForceVkxBeforeTheInputMakesAVkx) {
  ScratchDir dir;
  writeModule(dir, "core.x.elf");
  ToolRun r = runBinary(dir, {"-f", "-nolib", "core.x.elf"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "core.x.vkx"));
  EXPECT_FALSE(std::filesystem::exists(dir / "core.x.vkm"));
}

}  // namespace
}  // namespace zv::test
