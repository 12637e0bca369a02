// The FileInfo record of a module: the padding left behind the file name for
// the SDK root, the SDK version and revision tags that become numbers, the
// other loader tags stored as text, and the flags for dynamic-only modules,
// VKX files and thread-local data.

#include <gtest/gtest.h>

#include "writer_fixture.h"

namespace zv::test {
namespace {

struct PaddingCase {
  const char* label;
  std::string root;
  uint32_t padding;
  int length;
};

class Padding : public ::testing::TestWithParam<PaddingCase> {};

INSTANTIATE_TEST_SUITE_P(Roots, Padding,
                         ::testing::Values(PaddingCase{"Cygdrive", "/cygdrive/c/sdk", 78, 6},
                                           PaddingCase{"CygdriveIsCaseSensitive", "/CYGDRIVE/c/sdk", 69, 15},
                                           PaddingCase{"Plain", "/opt/sdk", 76, 8},
                                           PaddingCase{"Length83", std::string(83, 'a'), 1, 83},
                                           PaddingCase{"Length84", std::string(84, 'a'), 0, 84},
                                           PaddingCase{"Length200", std::string(200, 'a'), 0, 200}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(Padding, FollowsTheRootLength) {
  const PaddingCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.verbose = true;
  EXPECT_EQ(zv::filepathPadding(ctx, c.root), c.padding);
  EXPECT_EQ(ctx.con.text, "Found EDBA_ROOT = " + c.root + " filepath_padding = " + std::to_string(c.padding) +
                              " EDBA_ROOT len = " + std::to_string(c.length) +
                              " delta = " + std::to_string(31 - c.length) + "\n");
}

TEST(Padding, QuietWithoutVerbose) {
  zv::Context ctx;
  ctx.con.capture = true;
  EXPECT_EQ(zv::filepathPadding(ctx, "/cygdrive/c/sdk"), 78u);
  EXPECT_EQ(ctx.con.text, "");
}

struct NumberCase {
  const char* text;
  bool isNumber;
  uint32_t value;
};

class SdkNumber : public ::testing::TestWithParam<NumberCase> {};

INSTANTIATE_TEST_SUITE_P(Values, SdkNumber,
                         ::testing::Values(NumberCase{"21300", true, 21300}, NumberCase{" \t21300", true, 21300},
                                           NumberCase{"21300 ", true, 21300}, NumberCase{"0", true, 0},
                                           NumberCase{"4294967295", true, 0xFFFFFFFF},
                                           NumberCase{"4294967296", false, 0}, NumberCase{"abc", false, 0},
                                           NumberCase{"21300x", false, 0}, NumberCase{"12 34", false, 0},
                                           NumberCase{"+5", false, 0}, NumberCase{"-5", false, 0},
                                           NumberCase{"", false, 0}, NumberCase{" ", false, 0}));

TEST_P(SdkNumber, OnlyAPlainUnsignedDecimalCounts) {
  uint32_t v = 77;
  EXPECT_EQ(zv::sdkTagNumber(GetParam().text, v), GetParam().isNumber) << '"' << GetParam().text << '"';
  if (GetParam().isNumber) {
    EXPECT_EQ(v, GetParam().value);
  }
}

struct TagCase {
  const char* label;
  std::vector<zv::LoaderTag> tags;  // list order (newest first)
  uint32_t sdkVersion;
  uint32_t sdkRevision;
  std::vector<std::pair<std::string, std::string>> stored;
};

class Tags : public ::testing::TestWithParam<TagCase> {};

INSTANTIATE_TEST_SUITE_P(
    Lists, Tags,
    ::testing::Values(
        TagCase{"VersionNumber", {{"EDBA_OS_SDK_VERSION", "21300"}}, 21300, 0, {}},
        TagCase{"VersionText", {{"EDBA_OS_SDK_VERSION", "abc"}}, 0, 0, {{"EDBA_OS_SDK_VERSION", "abc"}}},
        TagCase{"RevisionAndVersion", {{"EDBA_OS_SDK_REVISION", "3"}, {"EDBA_OS_SDK_VERSION", "21300"}}, 21300, 3, {}},
        TagCase{"PrefixOfBothIsRevision", {{"EDBA_OS_SDK_", "7"}}, 0, 7, {}},
        TagCase{"PrefixOfVersionOnly", {{"EDBA_OS_SDK_V", "8"}}, 8, 0, {}},
        TagCase{"LongerNameIsText", {{"EDBA_OS_SDK_VERSIONS", "9"}}, 0, 0, {{"EDBA_OS_SDK_VERSIONS", "9"}}},
        TagCase{"LastOneWins", {{"EDBA_OS_SDK_VERSION", "1"}, {"EDBA_OS_SDK_VERSION", "2"}}, 2, 0, {}},
        TagCase{"OthersStayInOrder",
                {{"ABC", "abc"}, {"EDBA_OS_SDK_VERSION", "21300"}, {"X", "a=b"}},
                21300,
                0,
                {{"ABC", "abc"}, {"X", "a=b"}}}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(Tags, SdkNumbersAreTakenOutOthersStored) {
  const TagCase& c = GetParam();
  SdkRoot root;
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  ctx.opt.loaderTags.assign(c.tags.begin(), c.tags.end());
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  const VkmFile& f = run.vkm;
  EXPECT_TRUE(f.problems.empty()) << problems(f);  // tags layout, list end, padding
  EXPECT_EQ(f.info.sdkVersion, c.sdkVersion);
  EXPECT_EQ(f.info.sdkRevision, c.sdkRevision);
  EXPECT_EQ(f.info.tags, c.stored);
  // The options keep every tag the user gave, numbers too.
  EXPECT_EQ(ctx.opt.loaderTags.size(), c.tags.size());
  uint32_t rel = static_cast<uint32_t>(std::string("build/mod.vkm").size());
  EXPECT_EQ(f.info.tagsOffset, c.stored.empty() ? 0u : 96 + rel + 1);
  // The record: 96 bytes, the full output path's length, the padding, the
  // name's zero byte, each stored tag with its two zero bytes, and the
  // three zero bytes of the list end (counted even when no tag is stored).
  size_t r = root.dir.path.size();
  size_t expected = 97 + std::string(kOutputPath).size() + (r < 84 ? 84 - r : 0) + 3;
  for (const auto& [name, value] : c.stored) expected += name.size() + value.size() + 2;
  EXPECT_EQ(f.sections.back().size, expected);
}

TEST(Tags, TagsFileTagsComeFirst) {
  SdkRoot root("# SDK\nEDBA_OS_SDK_VERSION=21300\nFROMFILE=1\n");
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  ctx.opt.loaderTags.push_back({"CMDLINE", "2"});
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_TRUE(run.vkm.problems.empty()) << problems(run.vkm);
  EXPECT_EQ(run.vkm.info.sdkVersion, 21300u);
  std::vector<std::pair<std::string, std::string>> want{{"FROMFILE", "1"}, {"CMDLINE", "2"}};
  EXPECT_EQ(run.vkm.info.tags, want);
}

struct FlagCase {
  const char* label;
  bool dynamicOnly;
  bool forceVkx;
  uint32_t flags;
};

class Flags : public ::testing::TestWithParam<FlagCase> {};

INSTANTIATE_TEST_SUITE_P(Kinds, Flags,
                         ::testing::Values(FlagCase{"Vkm", false, false, 0}, FlagCase{"Dynamic", true, false, 1},
                                           FlagCase{"Vkx", false, true, 2}, FlagCase{"DynamicVkx", true, true, 3}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(Flags, DynamicAndVkxBits) {
  SdkRoot root;
  zv::Context ctx;
  ctx.opt.forceVkx = GetParam().forceVkx;
  ctx.opt.dynamicOnly = GetParam().dynamicOnly;
  loadModule(ctx, build(makeLinkedModule().b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_EQ(run.vkm.info.flags, GetParam().flags);
}

TEST(Flags, ThreadLocalDataSetsTlsBitAndShift) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  uint16_t tdata =
      addProgbits(m.b, ".tdata", kShfAlloc | kShfWrite | kShfVkmTls, 0x10000100, std::vector<uint8_t>(0x20, 5), 8);
  addProgramHeader(m.b, {.p_type = kPtTls, .p_vaddr = 0x10000100, .p_memsz = 0x20, .p_align = 8});
  addSymbol(m.b, {.name = "tls_var", .value = 0, .size = 4, .info = stInfo(kStbGlobal, kSttTls), .shndx = tdata});
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_EQ(run.vkm.info.flags, 8u);
  EXPECT_EQ(run.vkm.info.tlsAlignShift, 3u);
  EXPECT_EQ(run.vkm.phnum, 0u);  // the segment itself is not in the file
}

TEST(FileInfoSizes, AreaSizeAndStackHeapAreRecorded) {
  SdkRoot root;
  zv::Context ctx;
  loadModule(ctx, build(makeLinkedModule().b));
  ctx.opt.sizeFileInfo = 0x400;
  ctx.opt.stackSize = 0x20000;
  ctx.opt.heapSize = 0x40000;
  WriterRun run = runWriter(ctx);
  ASSERT_EQ(run.result, 0u) << ctx.con.text;
  EXPECT_EQ(run.vkm.info.fileInfoAreaSize, 0x400u);
  EXPECT_EQ(run.vkm.info.stackSize, 0x20000u);
  EXPECT_EQ(run.vkm.info.heapSize, 0x40000u);
}

}  // namespace
}  // namespace zv::test
