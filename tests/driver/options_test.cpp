// The command line: every option family, the case rules, the reading of
// numbers, the messages of bad options, and the input argument (missing,
// too small to be a module, a real module, two of them).
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <ostream>

#include "driver_test_util.h"
#include "support/elf_builder.h"

namespace zv::test {
namespace {

constexpr uint32_t kExitMinusOne = 0xFFFFFFFF;

struct OptionCase {
  const char* label;
  std::vector<std::string> args;
  uint32_t result;
  std::string output;
  std::function<void(const zv::Options&)> check;
};

std::ostream& operator<<(std::ostream& os, const OptionCase& c) { return os << c.label; }

class ParseOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ParseOptions, ResultMessageAndSettings) {
  const OptionCase& c = GetParam();
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, c.args), c.result);
  EXPECT_EQ(ctx.con.text, c.output);
  if (c.check) c.check(ctx.opt);
}

std::string unrecognized(const std::string& arg) {
  return "***Error: Unrecognized option \"" + arg + "\" specified. Return -1.\n";
}

// Settings untouched by an option that is ignored.
void expectDefaults(const zv::Options& o) {
  EXPECT_TRUE(o.newSymbolTable);
  EXPECT_FALSE(o.verbose);
  EXPECT_FALSE(o.noLib);
  EXPECT_EQ(o.padAllPercent, 0u);
  EXPECT_EQ(o.heapSize, 0u);
  EXPECT_EQ(o.stackSize, 0u);
  EXPECT_TRUE(o.compress);
  EXPECT_EQ(o.compressLevel, -1);
}

const std::string kZMessage = "***Option -z takes compression level 1 to 9 or x. Return -1.\n";
const std::string kStackMessage = "***Option -stack did not have a valid argument (# of bytes). Return -1.\n";
const std::string kFileInfoMessage = "***Option -sizefileinfo did not have a valid argument (# of bytes). Return -1.\n";

// clang-format off
const OptionCase kFamilyCases[] = {
    {"StackMixedCase", {"-sTaCk", "4096"}, 0, "", [](auto& o) { EXPECT_EQ(o.stackSize, 4096u); }},
    {"StackUpperCaseFamily", {"-STACK", "4096"}, kExitMinusOne, unrecognized("-STACK"),
     [](auto& o) { EXPECT_EQ(o.stackSize, 0u); }},
    {"CheckNoSdaUpper", {"-CHECKNOSDA"}, 0, "", [](auto& o) { EXPECT_TRUE(o.checkNoSda); }},
    {"WarnEmptyRelaMixed", {"-WarnEmptyRela"}, 0, "", [](auto& o) { EXPECT_TRUE(o.warnEmptyRela); }},
    {"HelpIsHeap", {"-help", "40000"}, 0, "", [](auto& o) { EXPECT_EQ(o.heapSize, 40000u); }},
    {"IgnoredNothing", {"-nothing"}, 0, "", expectDefaults},
    {"IgnoredVerbose", {"-verbose"}, 0, "", expectDefaults},
    {"IgnoredPad", {"-pad"}, 0, "", expectDefaults},
    {"IgnoredO", {"-o"}, 0, "", expectDefaults},
    {"ZAlone", {"-z"}, 0, "", expectDefaults},
    {"ZZero", {"-z0"}, kExitMinusOne, kZMessage, nullptr},
    {"ZLetter", {"-zy"}, kExitMinusOne, kZMessage, nullptr},
    {"ZxLonger", {"-zxx"}, kExitMinusOne, kZMessage, nullptr},
    {"ZFiveFast", {"-z5fast"}, 0, "", [](auto& o) { EXPECT_EQ(o.compressLevel, 5); }},
    {"ZxMixedCase", {"-zX"}, 0, "", [](auto& o) { EXPECT_FALSE(o.compress); }},
    {"LibJoined", {"-lout.a"}, 0, "", [](auto& o) { EXPECT_EQ(o.importLibPath, "out.a"); }},
    {"LibSeparate", {"-l", "out.a"}, 0, "", [](auto& o) { EXPECT_EQ(o.importLibPath, "out.a"); }},
    {"LibTakesDashValue", {"-l", "-f"}, 0, "",
     [](auto& o) { EXPECT_EQ(o.importLibPath, "-f"); EXPECT_FALSE(o.forceVkx); }},
    {"StackHex", {"-stack", "0x1000"}, kExitMinusOne, kStackMessage, nullptr},
    {"StackKilo", {"-stack", "4k"}, 0, "", [](auto& o) { EXPECT_EQ(o.stackSize, 4u); }},
    {"StackNegative", {"-stack", "-5"}, 0, "", [](auto& o) { EXPECT_EQ(o.stackSize, 0xFFFFFFFBu); }},
    {"FileInfo95", {"-sizefileinfo", "95"}, kExitMinusOne,
     "***Option -sizefileinfo did not have a valid argument (# of bytes). Must be at least as "
     "large as 96. Return -1.\n",
     [](auto& o) { EXPECT_EQ(o.sizeFileInfo, 0u); }},
    {"FileInfo96", {"-sizefileinfo", "96"}, 0, "", [](auto& o) { EXPECT_EQ(o.sizeFileInfo, 96u); }},
    {"FileInfoNegativeIsLargeUnsigned", {"-sizefileinfo", "-1"}, 0, "",
     [](auto& o) { EXPECT_EQ(o.sizeFileInfo, 0xFFFFFFFFu); }},
    {"FileInfoZero", {"-sizefileinfo", "0"}, kExitMinusOne, kFileInfoMessage, nullptr},
    {"X64", {"-x64"}, kExitMinusOne, "***Error: Unrecognized option \"-x64\" specified.\n", nullptr},
    {"X32", {"-x32"}, 0, "", [](auto& o) { EXPECT_TRUE(o.allowCode32); }},
    {"SourceRootsBeforeAFailureStay",
     {"-dbg_source_root", "/a", "-dbg_source_root", "/b", "-DBG_SOURCE_ROOT"}, kExitMinusOne,
     unrecognized("-DBG_SOURCE_ROOT"),
     [](auto& o) { EXPECT_EQ(o.sourceRoots, (std::vector<std::string>{"/a", "/b"})); }},
    {"SourceRootDuplicate",
     {"-dbg_source_root", "/b", "-dBg_SoUrCe_RoOt", "/a", "-dbg_source_root", "/b"}, 0, "",
     [](auto& o) { EXPECT_EQ(o.sourceRoots, (std::vector<std::string>{"/b", "/a"})); }},
    {"SourceRootCaseMatters", {"-dbg_source_root", "/A", "-dbg_source_root", "/a"}, 0, "",
     [](auto& o) { EXPECT_EQ(o.sourceRoots, (std::vector<std::string>{"/A", "/a"})); }},
    {"SourceRootEmpty", {"-dbg_source_root", ""}, kExitMinusOne,
     "***Option -dbg_source_root did not have a valid argument (a path beginning with the "
     "drive). Return -1.\n", nullptr},
    {"StripStrings", {"-s"}, 0, "", [](auto& o) { EXPECT_TRUE(o.stripStrings); }},
    {"StripWithText", {"-sx"}, kExitMinusOne, "***Option -s does not take an argument. Return -1.\n", nullptr},
    {"Dynamic", {"-d"}, 0, "", [](auto& o) { EXPECT_TRUE(o.dynamicOnly); }},
    {"DynamicWithText", {"-dx"}, kExitMinusOne, "***Option -d does not take an argument. Return -1.\n", nullptr},
    {"ForceVkx", {"-f"}, 0, "", [](auto& o) { EXPECT_TRUE(o.forceVkx); }},
    {"ForceWithText", {"-fx"}, kExitMinusOne, "***Option -f does not take an argument. Return -1.\n", nullptr},
    {"UpperFamilyLetter", {"-old", "-NEW"}, kExitMinusOne, unrecognized("-NEW"),
     [](auto& o) { EXPECT_FALSE(o.newSymbolTable); }},
    {"OldThenNewMixed", {"-old", "-nEw", "-nOLIB"}, 0, "",
     [](auto& o) { EXPECT_TRUE(o.newSymbolTable); EXPECT_TRUE(o.noLib); }},
    {"VerboseLevels", {"-v2", "-v3"}, 0, "",
     [](auto& o) { EXPECT_FALSE(o.verbose); EXPECT_TRUE(o.verbose2); EXPECT_TRUE(o.verbose3); }},
    {"Verbose", {"-v"}, 0, "", [](auto& o) { EXPECT_TRUE(o.verbose); EXPECT_FALSE(o.verbose2); }},
    {"PadAllMixed", {"-pAdAlL", "10"}, 0, "", [](auto& o) { EXPECT_EQ(o.padAllPercent, 10u); }},
    {"PadAllZero", {"-padall", "0"}, kExitMinusOne,
     "***Option -padall did not have a valid argument (percentage). Return -1.\n", nullptr},
    {"DashAlone", {"-"}, kExitMinusOne, unrecognized("-"), nullptr},
    {"StopsAtFirstFailure", {"-zy", "-f"}, kExitMinusOne, kZMessage,
     [](auto& o) { EXPECT_FALSE(o.forceVkx); }},
    {"ValueTakenWhateverItLooksLike", {"-stack", "-f"}, kExitMinusOne, kStackMessage,
     [](auto& o) { EXPECT_FALSE(o.forceVkx); }},
    {"RegionSizes", {"-sizedata", "1", "-sizetext", "2", "-sizetemp", "3", "-sizeload", "4"}, 0, "",
     [](auto& o) {
       EXPECT_EQ(o.sizeData, 1); EXPECT_EQ(o.sizeText, 2);
       EXPECT_EQ(o.sizeTemp, 3); EXPECT_EQ(o.sizeLoad, 4);
     }},
    {"SaturateHigh", {"-sizedata", "99999999999"}, 0, "", [](auto& o) { EXPECT_EQ(o.sizeData, INT32_MAX); }},
    {"SaturateLow", {"-sizetext", "-99999999999"}, 0, "", [](auto& o) { EXPECT_EQ(o.sizeText, INT32_MIN); }},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Families, ParseOptions, ::testing::ValuesIn(kFamilyCases),
                         [](const auto& p) { return std::string(p.param.label); });

// Every option that needs a value fails with its own message when it is the
// last argument.
std::string bytesMessage(const char* option) {
  return std::string("***Option ") + option + " did not have a valid argument (# of bytes). Return -1.\n";
}

// clang-format off
const OptionCase kMissingValueCases[] = {
    {"Stack", {"-stack"}, kExitMinusOne, bytesMessage("-stack"), nullptr},
    {"SizeData", {"-sizedata"}, kExitMinusOne, bytesMessage("-sizedata"), nullptr},
    {"SizeText", {"-sizetext"}, kExitMinusOne, bytesMessage("-sizetext"), nullptr},
    {"SizeTemp", {"-sizetemp"}, kExitMinusOne, bytesMessage("-sizetemp"), nullptr},
    {"SizeLoad", {"-sizeload"}, kExitMinusOne, bytesMessage("-sizeload"), nullptr},
    {"SizeFileInfo", {"-sizefileinfo"}, kExitMinusOne, bytesMessage("-sizefileinfo"), nullptr},
    {"Heap", {"-h"}, kExitMinusOne, bytesMessage("-h"), nullptr},
    {"PadAll", {"-padall"}, kExitMinusOne,
     "***Option -padall did not have a valid argument (percentage). Return -1.\n", nullptr},
    {"Tag", {"-t"}, kExitMinusOne, "***Option -t must be of the format  -t <x>=<y>.\n", nullptr},
    {"SourceRoot", {"-dbg_source_root"}, kExitMinusOne,
     "***Option -dbg_source_root did not have a valid argument (a path beginning with the "
     "drive). Return -1.\n", nullptr},
    {"Lib", {"-l"}, kExitMinusOne, "***Option -l requires a filename. Return -1.\n", nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(MissingValue, ParseOptions, ::testing::ValuesIn(kMissingValueCases),
                         [](const auto& p) { return std::string(p.param.label); });

struct NumberCase {
  const char* text;
  int32_t value;
};

class ReadDecimal : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadDecimal, ReadsLikeTheCommandLine) {
  EXPECT_EQ(zv::readDecimal(GetParam().text), GetParam().value) << "\"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(Numbers, ReadDecimal,
                         ::testing::Values(NumberCase{"42", 42}, NumberCase{"  \t\n42", 42}, NumberCase{"+7", 7},
                                           NumberCase{"-7", -7}, NumberCase{"12abc", 12}, NumberCase{"abc", 0},
                                           NumberCase{"", 0}, NumberCase{"- 5", 0}, NumberCase{"0x1000", 0},
                                           NumberCase{"2147483647", INT32_MAX}, NumberCase{"2147483648", INT32_MAX},
                                           NumberCase{"-2147483648", INT32_MIN}, NumberCase{"-2147483649", INT32_MIN},
                                           NumberCase{"99999999999999999999999", INT32_MAX},
                                           NumberCase{"-99999999999", INT32_MIN}, NumberCase{"007", 7}));

// --- The input argument ------------------------------------------------------

class InputArgument : public ::testing::Test {
 protected:
  ScratchDir dir;

  std::string module(const std::string& name) {
    std::string path = dir / name;
    writeFile(path, build(makeLinkedModule().b));
    return path;
  }
  std::string smallFile(const std::string& name) {
    std::string path = dir / name;
    writeText(path, std::string(259, 'x'));
    return path;
  }
};

TEST_F(InputArgument, MissingFileReportsTheMappingError) {
  zv::Context ctx;
  std::string path = dir / "missing.elf";
  EXPECT_EQ(parse(ctx, {path, "-f"}), 0x80070002u);
  EXPECT_EQ(ctx.con.text, "***Error: Could not map in file \"" + path + "\". Error 0x80070002\n");
  EXPECT_FALSE(ctx.opt.forceVkx);
  EXPECT_FALSE(ctx.opt.inputPath.has_value());
}

TEST_F(InputArgument, EmptyArgumentIsAMissingPath) {
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, {""}), 0x8000FFFFu);
  EXPECT_EQ(ctx.con.text, "***Error: Could not map in file \"\". Error 0x8000FFFF\n");
}

TEST_F(InputArgument, SmallFilesAreDroppedSilently) {
  zv::Context ctx;
  std::string a = smallFile("a.elf"), b = smallFile("b.elf");
  EXPECT_EQ(parse(ctx, {a, b}), 0u);
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_FALSE(ctx.haveInput);
  EXPECT_EQ(ctx.inputFile, nullptr);
  EXPECT_EQ(ctx.opt.inputPath, b);
}

TEST_F(InputArgument, GarbageFileFailsWithTheLoadersValue) {
  zv::Context ctx;
  std::string path = dir / "junk.elf";
  writeText(path, std::string(400, 'j'));
  uint32_t r = parse(ctx, {path});
  EXPECT_EQ(r, 0xBAD00019u);  // not an ELF file
  EXPECT_NE(ctx.con.text, "");
  EXPECT_EQ(ctx.opt.inputPath, path);
}

TEST_F(InputArgument, ModuleIsLoaded) {
  zv::Context ctx;
  std::string path = module("app.elf");
  EXPECT_EQ(parse(ctx, {"-v2", path}), 0u) << ctx.con.text;
  EXPECT_TRUE(ctx.haveInput);
  EXPECT_NE(ctx.inputFile, nullptr);
  EXPECT_EQ(ctx.opt.inputPath, path);
  EXPECT_TRUE(ctx.opt.verbose2);
}

TEST_F(InputArgument, SecondModuleFails) {
  zv::Context ctx;
  std::string a = module("a.elf"), b = module("b.elf");
  EXPECT_EQ(parse(ctx, {a, b}), kExitMinusOne);
  EXPECT_EQ(ctx.con.text, "***Error: More than one ELF input file specified. \"" + b + "\"\n");
}

TEST_F(InputArgument, SmallFileThenModuleIsFine) {
  zv::Context ctx;
  std::string a = smallFile("a.elf"), b = module("b.elf");
  EXPECT_EQ(parse(ctx, {a, b}), 0u) << ctx.con.text;
  EXPECT_TRUE(ctx.haveInput);
  EXPECT_EQ(ctx.opt.inputPath, b);
}

TEST_F(InputArgument, ForceVkxCountsOnlyBeforeTheInput) {
  std::string path = module("app.elf");
  zv::Context before, after;
  EXPECT_EQ(parse(before, {"-f", path}), 0u) << before.con.text;
  EXPECT_EQ(parse(after, {path, "-f"}), 0u) << after.con.text;
  EXPECT_TRUE(before.facts.outputIsVkx);
  EXPECT_FALSE(after.facts.outputIsVkx);
  EXPECT_TRUE(after.opt.forceVkx);
}

}  // namespace
}  // namespace zv::test
