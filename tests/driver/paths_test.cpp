// The names the driver derives: the module and import library beside the
// input, the narrow output path, and the output path relative to the first
// matching source root (Windows, Cygwin and POSIX roots). Also the checks of
// the region-size options.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <ostream>

#include "driver_test_util.h"
#include "support/status_print.h"

namespace zv::test {
namespace {

// --- Module and import library names ---------------------------------------

struct NameCase {
  const char* label;
  std::string input;
  bool vkx;
  bool noLib;
  std::optional<std::string> libOption;
  std::string output;
  std::optional<std::string> library;
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) { return os << c.label; }

class OutputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, ReplaceTheLastExtensionOfTheFileName) {
  const NameCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.inputPath = c.input;
  ctx.facts.outputIsVkx = c.vkx;
  ctx.opt.noLib = c.noLib;
  ctx.opt.importLibPath = c.libOption;
  std::string full;
  size_t namePos = 0;
  ASSERT_TRUE(zv::fullInputPath(ctx, full, namePos).ok()) << ctx.con.text;
  ASSERT_TRUE(zv::deriveOutputNames(ctx, full, namePos).ok()) << ctx.con.text;
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(ctx.opt.outputPath, c.output);
  EXPECT_EQ(ctx.opt.importLibPath, c.library);
  EXPECT_EQ(ctx.opt.outputPathNarrow, c.output);
  EXPECT_EQ(zv::relativeOutputPath(ctx), c.output);
}

const std::string kCwd = std::filesystem::current_path().string();

#if defined(_WIN32)
// Windows resolves drive paths, either separator, and drops trailing dots.
INSTANTIATE_TEST_SUITE_P(
    Inputs, OutputNames,
    ::testing::Values(
        NameCase{"Plain", "C:\\w\\app.elf", false, false, std::nullopt, "C:\\w\\app.vkm", "C:\\w\\app.a"},
        NameCase{"TwoDots", "C:\\w\\core.x.elf", false, false, std::nullopt, "C:\\w\\core.x.vkm", "C:\\w\\core.x.a"},
        NameCase{"DottedDirectory", "C:\\w.d\\app", false, false, std::nullopt, "C:\\w.d\\app.vkm", "C:\\w.d\\app.a"},
        NameCase{"TrailingDot", "C:\\w\\app.", false, false, std::nullopt, "C:\\w\\app.vkm", "C:\\w\\app.a"},
        NameCase{"LeadingDot", "C:\\w\\.app", false, false, std::nullopt, "C:\\w\\.vkm", "C:\\w\\.a"},
        NameCase{"Vkx", "C:\\w\\app.elf", true, false, std::nullopt, "C:\\w\\app.vkx", "C:\\w\\app.a"},
        NameCase{"NoLib", "C:\\w\\app.elf", false, true, std::nullopt, "C:\\w\\app.vkm", std::nullopt},
        NameCase{"LibAsTyped", "C:\\w\\app.elf", false, false, "lib/../x.a", "C:\\w\\app.vkm", "lib/../x.a"},
        NameCase{"Normalised", "C:\\w\\\\v\\..\\u\\.\\app.elf", false, false, std::nullopt, "C:\\w\\u\\app.vkm",
                 "C:\\w\\u\\app.a"},
        NameCase{"ForwardSlashes", "C:/w/app.elf", false, false, std::nullopt, "C:\\w\\app.vkm", "C:\\w\\app.a"},
        NameCase{"Relative", "sub/app.elf", false, false, std::nullopt, kCwd + "\\sub\\app.vkm",
                 kCwd + "\\sub\\app.a"}),
    [](const auto& p) { return std::string(p.param.label); });
#else
INSTANTIATE_TEST_SUITE_P(
    Inputs, OutputNames,
    ::testing::Values(
        NameCase{"Plain", "/w/app.elf", false, false, std::nullopt, "/w/app.vkm", "/w/app.a"},
        NameCase{"TwoDots", "/w/core.x.elf", false, false, std::nullopt, "/w/core.x.vkm", "/w/core.x.a"},
        NameCase{"DottedDirectory", "/w.d/app", false, false, std::nullopt, "/w.d/app.vkm", "/w.d/app.a"},
        NameCase{"TrailingDot", "/w/app.", false, false, std::nullopt, "/w/app.vkm", "/w/app.a"},
        NameCase{"LeadingDot", "/w/.app", false, false, std::nullopt, "/w/.vkm", "/w/.a"},
        NameCase{"Vkx", "/w/app.elf", true, false, std::nullopt, "/w/app.vkx", "/w/app.a"},
        NameCase{"NoLib", "/w/app.elf", false, true, std::nullopt, "/w/app.vkm", std::nullopt},
        NameCase{"LibAsTyped", "/w/app.elf", false, false, "lib/../x.a", "/w/app.vkm", "lib/../x.a"},
        NameCase{"Normalised", "/w//v/../u/./app.elf", false, false, std::nullopt, "/w/u/app.vkm", "/w/u/app.a"},
        NameCase{"Relative", "sub/app.elf", false, false, std::nullopt, kCwd + "/sub/app.vkm", kCwd + "/sub/app.a"}),
    [](const auto& p) { return std::string(p.param.label); });
#endif

TEST(FullInputPath, DirectoryIsRefused) {
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.inputPath = "/w/dir/";
  std::string full;
  size_t namePos = 0;
  EXPECT_FALSE(zv::fullInputPath(ctx, full, namePos).ok());
  EXPECT_EQ(ctx.con.text,
            "Error: src elf is expected to be a full path to and including the file; found only a "
            "directory. return -1.\n");
}

TEST(FullInputPath, TooLongIsRefused) {
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.inputPath = "/" + std::string(259, 'p');  // 260 characters
  std::string full;
  size_t namePos = 0;
  EXPECT_FALSE(zv::fullInputPath(ctx, full, namePos).ok());
  EXPECT_EQ(ctx.con.text, "Error: GetFullPathName for src elf failed. return -1.\n");
}

TEST(OutputNameLength, OutputMustFitAFullPath) {
  for (size_t length : {255u, 256u}) {  // the input without extension; ".vkm" adds 4
    zv::Context ctx;
    ctx.con.capture = true;
    const std::string root = zv::kWindowsHost ? "C:\\" : "/";
    ctx.opt.inputPath = root + std::string(length - root.size(), 'p');
    std::string full;
    size_t namePos = 0;
    ASSERT_TRUE(zv::fullInputPath(ctx, full, namePos).ok());
    bool fits = length + 4 <= 259;
    EXPECT_EQ(zv::deriveOutputNames(ctx, full, namePos).ok(), fits) << length;
    EXPECT_EQ(ctx.con.text, fits ? "" : "Error: GetFullPathName for src elf failed. return -1.\n");
  }
}

// --- Relative path for the FileInfo ------------------------------------------

struct RootCase {
  const char* label;
  std::vector<std::string> roots;
  std::string output;
  std::string relative;
};

std::ostream& operator<<(std::ostream& os, const RootCase& c) { return os << c.label; }

class RelativeOutputPath : public ::testing::TestWithParam<RootCase> {};

TEST_P(RelativeOutputPath, FirstMatchingRootIsCutOff) {
  const RootCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.sourceRoots = c.roots;
  ctx.opt.outputPathNarrow = c.output;
  ctx.moduleSettings.relativeOutputPos = 0;
  ctx.moduleSettings.relativeOutputLen = static_cast<uint32_t>(c.output.size());
  EXPECT_TRUE(zv::makeRelativeOutputPath(ctx).ok());
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(zv::relativeOutputPath(ctx), c.relative);
  EXPECT_EQ(ctx.moduleSettings.relativeOutputPos + ctx.moduleSettings.relativeOutputLen, c.output.size());
}

INSTANTIATE_TEST_SUITE_P(
    Roots, RelativeOutputPath,
    ::testing::Values(
        RootCase{"NoRoots", {}, "/home/u/work/sub/app.vkm", "/home/u/work/sub/app.vkm"},
        RootCase{"Posix", {"/home/u/work"}, "/home/u/work/sub/app.vkm", "sub/app.vkm"},
        RootCase{"PosixTrailingSlash", {"/home/u/work/"}, "/home/u/work/sub/app.vkm", "sub/app.vkm"},
        RootCase{"Windows", {"C:\\work"}, "C:\\work\\sub\\app.vkm", "sub\\app.vkm"},
        RootCase{"Cygdrive", {"/cygdrive/c/work"}, "C:\\work\\sub\\app.vkm", "sub\\app.vkm"},
        RootCase{"CygdriveUpperDrive", {"/cygdrive/C/work"}, "c:\\work\\sub\\app.vkm", "sub\\app.vkm"},
        RootCase{"CygdriveDriveOnly", {"/cygdrive/c"}, "C:\\work\\app.vkm", "work\\app.vkm"},
        RootCase{"Mixed", {"C:/work/sub"}, "C:\\work\\sub\\app.vkm", "app.vkm"},
        RootCase{"NoSeparatorCheck", {"C:\\work"}, "C:\\workspace\\app.vkm", "space\\app.vkm"},
        RootCase{"CaseMatters", {"c:\\work"}, "C:\\work\\app.vkm", "C:\\work\\app.vkm"},
        RootCase{"BackslashRootNeedsBackslash", {"C:\\work\\sub"}, "C:/work/sub/app.vkm", "C:/work/sub/app.vkm"},
        RootCase{
            "RootLongerThanPath", {"C:\\work\\sub\\app.vkm\\x"}, "C:\\work\\sub\\app.vkm", "C:\\work\\sub\\app.vkm"},
        RootCase{"WholePath", {"C:\\work\\app.vkm"}, "C:\\work\\app.vkm", ""},
        RootCase{"SecondRootMatches", {"/other", "C:\\work"}, "C:\\work\\app.vkm", "app.vkm"},
        RootCase{"FirstMatchWins", {"C:\\work", "C:\\work\\sub"}, "C:\\work\\sub\\app.vkm", "sub\\app.vkm"},
        RootCase{"OtherDriveEndsTheSearch", {"/cygdrive/d/x", "C:\\work"}, "C:\\work\\app.vkm", "C:\\work\\app.vkm"},
        RootCase{"CygdriveEndsTheSearchOnPosixPaths",
                 {"/cygdrive/c/x", "/home/u/work"},
                 "/home/u/work/app.vkm",
                 "/home/u/work/app.vkm"},
        RootCase{"CygdriveMismatchTriesTheNextRoot", {"/cygdrive/c/x", "C:\\work"}, "C:\\work\\app.vkm", "app.vkm"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(RelativeOutputPathLength, ALongPathIsRefusedOnlyWithRoots) {
  struct {
    size_t length;
    bool withRoot;
    zv::Status result;
  } cases[] = {{244, true, {}}, {245, true, zv::Status::failed()}, {245, false, {}}, {300, false, {}}};
  for (const auto& c : cases) {
    zv::Context ctx;
    ctx.con.capture = true;
    if (c.withRoot) ctx.opt.sourceRoots = {"/r"};
    ctx.opt.outputPathNarrow = "/r/" + std::string(c.length - 3, 'p');
    ctx.moduleSettings.relativeOutputLen = static_cast<uint32_t>(c.length);
    EXPECT_EQ(zv::makeRelativeOutputPath(ctx), c.result) << c.length;
    EXPECT_EQ(ctx.con.text, c.result.ok() ? "" : "***File path to VKM is too large.\n") << c.length;
    std::string expected = c.withRoot && c.result.ok() ? std::string(c.length - 3, 'p') : ctx.opt.outputPathNarrow;
    EXPECT_EQ(zv::relativeOutputPath(ctx), expected) << c.length;
  }
}

// --- Region sizes -------------------------------------------------------------

struct RegionCase {
  const char* label;
  int32_t data, text, temp, load;
  uint32_t padAll;
  zv::Status result;
  bool byteSizesGiven;
  std::string message;
};

std::ostream& operator<<(std::ostream& os, const RegionCase& c) { return os << c.label; }

class RegionSizes : public ::testing::TestWithParam<RegionCase> {};

TEST_P(RegionSizes, AreGivenAllOrNone) {
  const RegionCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.sizeData = c.data;
  ctx.opt.sizeText = c.text;
  ctx.opt.sizeTemp = c.temp;
  ctx.opt.sizeLoad = c.load;
  ctx.opt.padAllPercent = c.padAll;
  EXPECT_EQ(zv::checkRegionSizes(ctx), c.result);
  EXPECT_EQ(ctx.con.text, c.message);
  if (c.result.ok()) {
    EXPECT_EQ(ctx.opt.byteSizesGiven, c.byteSizesGiven);
  }
}

const char* kPercentOrBytes =
    "Error: Please specify either percentage (-padall <n>) or bytes (-sizedata <n> -sizetext <n> "
    "-sizeload <n> -sizetemp <n>) for segment padding. return -1.\n";

INSTANTIATE_TEST_SUITE_P(
    Combinations, RegionSizes,
    ::testing::Values(RegionCase{"None", -1, -1, -1, -1, 0, {}, false, ""},
                      RegionCase{"NoneWithPadAll", -1, -1, -1, -1, 10, {}, false, ""},
                      RegionCase{"All", 100, 200, 300, 400, 0, {}, true, ""},
                      RegionCase{"AllWithPadAll", 100, 100, 100, 100, 10, zv::Status::failed(), true, kPercentOrBytes},
                      RegionCase{"LoadMissing", 100, 100, 100, -1, 0, zv::Status::failed(), false,
                                 "Error: -sizedata 100 needs to set -sizetext <n> -sizeload <n> -sizetemp <n>. "
                                 "return -1.\n"},
                      RegionCase{"OnlyText", -1, 7, -1, -1, 0, zv::Status::failed(), false,
                                 "Error: -sizetext 7 needs to set -sizedata <n> -sizetemp <n> -sizeload <n>. "
                                 "return -1.\n"},
                      RegionCase{"OnlyTemp", -1, -1, 8, -1, 0, zv::Status::failed(), false,
                                 "Error: -sizetemp 8 needs to set -sizedata <n> -sizetext <n> -sizeload <n>. "
                                 "return -1.\n"},
                      RegionCase{"OnlyLoad", -1, -1, -1, 9, 0, zv::Status::failed(), false,
                                 "Error: -sizeload 9 needs to set -sizedata <n> -sizetext <n> -sizetemp <n>. "
                                 "return -1.\n"},
                      // A negative size other than -1 counts as given but never triggers a rule itself.
                      RegionCase{"NegativeData", -5, -1, -1, -1, 0, {}, true, ""}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace zv::test
