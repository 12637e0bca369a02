// Loader tags: the name=value split, the -t conflict rule, the place of the
// SDK's tags file for each form of root, and the reading of that file with
// its comments, blanks, bad lines, long lines and Windows line ends.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>  // FIFOs
#endif

#include <filesystem>
#include <ostream>

#include "driver_test_util.h"

namespace zv::test {
namespace {

// The tags of a list as (name, value) pairs in list order.
std::vector<std::pair<std::string, std::string>> tagsOf(const std::list<zv::LoaderTag>& tags) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const zv::LoaderTag& t : tags) out.emplace_back(t.name, t.value);
  return out;
}

// The -t tags the options keep.
std::vector<std::pair<std::string, std::string>> tagsOf(const zv::Context& ctx) { return tagsOf(ctx.opt.loaderTags); }

// The module's list: the tags file's in front of the -t tags.
std::vector<std::pair<std::string, std::string>> moduleTagsOf(const zv::Context& ctx) {
  return tagsOf(ctx.moduleSettings.loaderTags);
}

using Tags = std::vector<std::pair<std::string, std::string>>;

// --- -t on the command line ------------------------------------------------

struct SplitCase {
  const char* text;
  bool accepted;
  const char* name;
  const char* value;
};

class TagSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TagSplit, AcceptsOnlyNameEqualsValue) {
  const SplitCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  EXPECT_EQ(zv::addLoaderTag(ctx, c.text).ok(), c.accepted);
  EXPECT_EQ(ctx.con.text, "");  // a refused text has no message of its own
  Tags expected;
  if (c.accepted) expected.emplace_back(c.name, c.value);
  EXPECT_EQ(tagsOf(ctx), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, TagSplit,
                         ::testing::Values(SplitCase{"A=1", true, "A", "1"}, SplitCase{"a=b=c", true, "a", "b=c"},
                                           SplitCase{"A==", true, "A", "="}, SplitCase{"A= x", true, "A", " x"},
                                           SplitCase{"", false, "", ""}, SplitCase{"=1", false, "", ""},
                                           SplitCase{"A", false, "", ""}, SplitCase{"A=", false, "", ""}));

TEST(CommandLineTags, SameTagTwiceIsStoredOnce) {
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, {"-t", "A=1", "-t", "A=1"}), 0u);
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(tagsOf(ctx), (Tags{{"A", "1"}}));
}

TEST(CommandLineTags, ConflictingValueEndsTheRun) {
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, {"-t", "A=1", "-t", "A=2", "-f"}), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text,
            "***Option -t value conflict. Previous value \"A=1\"; current value \"A=2\"\n"
            "***Option -t must be of the format  -t <x>=<y>.\n");
  EXPECT_FALSE(ctx.opt.forceVkx);
  EXPECT_EQ(tagsOf(ctx), (Tags{{"A", "1"}}));
}

TEST(CommandLineTags, NamesAreCaseSensitiveAndNewestComesFirst) {
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, {"-t", "a=1", "-t", "A=2", "-t", "B=x=y"}), 0u);
  EXPECT_EQ(tagsOf(ctx), (Tags{{"B", "x=y"}, {"A", "2"}, {"a", "1"}}));
}

class MalformedTagOption : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(MalformedTagOption, IsRefusedWithTheFormatMessage) {
  zv::Context ctx;
  EXPECT_EQ(parse(ctx, GetParam()), 0xFFFFFFFFu);
  EXPECT_EQ(ctx.con.text, "***Option -t must be of the format  -t <x>=<y>.\n");
  EXPECT_TRUE(ctx.opt.loaderTags.empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, MalformedTagOption,
                         ::testing::Values(std::vector<std::string>{"-t", "=1"}, std::vector<std::string>{"-t", "A"},
                                           std::vector<std::string>{"-t", "A="}, std::vector<std::string>{"-tA=1"},
                                           std::vector<std::string>{"-t"}));

// --- Where the tags file lies ----------------------------------------------

struct PathCase {
  const char* root;
  const char* path;
  bool cygdrive;
};

class TagsFilePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(TagsFilePath, FollowsTheFormOfTheRoot) {
  bool cygdrive = !GetParam().cygdrive;
  EXPECT_EQ(zv::loaderTagsFilePath(GetParam().root, cygdrive), GetParam().path);
  EXPECT_EQ(cygdrive, GetParam().cygdrive);
}

INSTANTIATE_TEST_SUITE_P(Roots, TagsFilePath,
                         ::testing::Values(PathCase{"/cygdrive/c/sdk", "c:/sdk/system/include/vkm_tags.txt", true},
                                           PathCase{"C:\\sdk", "C:\\sdk\\system\\include\\vkm_tags.txt", false},
                                           PathCase{"C:/sdk", "C:/sdk/system/include/vkm_tags.txt", false},
                                           PathCase{"/opt/sdk", "/opt/sdk/system/include/vkm_tags.txt", false},
                                           PathCase{"/cygdrive/d", "d:/system/include/vkm_tags.txt", true},
                                           PathCase{"/CYGDRIVE/c/sdk", "/CYGDRIVE/c/sdk/system/include/vkm_tags.txt",
                                                    false},
                                           PathCase{"\\\\\\share", "\\\\\\share\\system\\include\\vkm_tags.txt", false},
                                           PathCase{"", "/system/include/vkm_tags.txt", false}));

TEST(TagsFilePathLength, IsCutAt1023Characters) {
  bool cygdrive = true;
  std::string root(2000, 'r');
  std::string path = zv::loaderTagsFilePath(root, cygdrive);
  EXPECT_EQ(path, std::string(1023, 'r'));
  EXPECT_FALSE(cygdrive);
}

// --- Reading the tags file --------------------------------------------------

class TagsFile : public ::testing::Test {
 protected:
  ScratchDir root;
  zv::Context ctx;

  std::string tagsPath() {
    bool cygdrive = false;
    return zv::loaderTagsFilePath(root.path, cygdrive);
  }
  bool readWith(const std::string& text) {
    writeText(tagsPath(), text);
    ctx.con.capture = true;
    return zv::readLoaderTagsFile(ctx, root.path).ok();
  }
  std::string invalid(const char* why, const std::string& line) {
    return "***Error: invalid VKM TAGS file \"" + tagsPath() + "\"\n" + why + line + "\n";
  }
};

TEST_F(TagsFile, ExampleFileGivesItsTagsLastLineFirst) {
  EXPECT_TRUE(readWith("# SDK loader tags\nNAME1=value1\n\n  NAME2=some=text # note\n"));
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(moduleTagsOf(ctx), (Tags{{"NAME2", "some=text"}, {"NAME1", "value1"}}));
}

TEST_F(TagsFile, FileTagsGoInFrontOfCommandLineTagsWithoutConflict) {
  ASSERT_TRUE(zv::addLoaderTag(ctx, "X=cmd").ok());
  EXPECT_TRUE(readWith("X=file\n"));
  EXPECT_EQ(moduleTagsOf(ctx), (Tags{{"X", "file"}, {"X", "cmd"}}));
  EXPECT_EQ(tagsOf(ctx), (Tags{{"X", "cmd"}}));  // the options keep what the user said
}

TEST_F(TagsFile, SpaceAroundEqualsIsFormattedIncorrectly) {
  ASSERT_TRUE(zv::addLoaderTag(ctx, "K=v").ok());
  EXPECT_FALSE(readWith("A=1\nNAME = value\nB=2\n"));
  EXPECT_EQ(ctx.con.text, invalid("***Error: line formatted incorrectly\n", "NAME = value\n"));
  EXPECT_EQ(moduleTagsOf(ctx), (Tags{{"A", "1"}, {"K", "v"}}));  // earlier lines stay
}

TEST_F(TagsFile, LeadingEqualsIsAnError) {
  EXPECT_FALSE(readWith("  =value\n"));
  EXPECT_EQ(ctx.con.text, invalid("***Error: line contains = before a valid tag name\n", "  =value\n"));
}

TEST_F(TagsFile, TagWithoutValueStopsWithoutAMessage) {
  EXPECT_FALSE(readWith("A=1\nname=\nB=2\n"));
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(moduleTagsOf(ctx), (Tags{{"A", "1"}}));
}

struct LineCase {
  const char* label;
  std::string text;
  Tags tags;
};

std::ostream& operator<<(std::ostream& os, const LineCase& c) { return os << c.label; }

class TagsFileLines : public TagsFile, public ::testing::WithParamInterface<LineCase> {};

TEST_P(TagsFileLines, GiveTheirTags) {
  EXPECT_TRUE(readWith(GetParam().text));
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_EQ(moduleTagsOf(ctx), GetParam().tags);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TagsFileLines,
    ::testing::Values(LineCase{"CommentRightAfterValue", "X=1#comment\n", {{"X", "1"}}},
                      LineCase{"SecondTokenIgnored", "X=1 Y=2\n", {{"X", "1"}}},
                      LineCase{"TabsAround", "\t\tX=1\tY\n", {{"X", "1"}}},
                      LineCase{"NoFinalLineBreak", "A=1\nB=2", {{"B", "2"}, {"A", "1"}}},
                      LineCase{"OnlyBlankAndComments", "\n   \n\t# A=1\n#\n", {}}, LineCase{"EmptyFile", "", {}},
                      LineCase{"WindowsLineEnds", "A=1\r\nB=2\r\n", {{"B", "2"}, {"A", "1"}}},
                      LineCase{"LoneCarriageReturnIsText", "A=1\rB=2\n", {{"A", "1\rB=2"}}},
                      LineCase{"ZeroByteEndsTheLine", std::string("A=1\0junk\nB=2\n", 13), {{"B", "2"}, {"A", "1"}}},
                      LineCase{"NameMayRepeat", "A=1\nA=2\n", {{"A", "2"}, {"A", "1"}}},
                      // A line longer than 1023 bytes is read in pieces, each a line of its own.
                      LineCase{"LongLineInPieces",
                               "A=" + std::string(1021, 'v') + "B=2\n",
                               {{"B", "2"}, {"A", std::string(1021, 'v')}}},
                      LineCase{"CarriageReturnLineEndAtPieceEdge",
                               "A=" + std::string(1020, 'v') + "\r\nB=2\n",
                               {{"B", "2"}, {"A", std::string(1020, 'v')}}}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(TagsFile, MissingFileCannotBeOpened) {
  ctx.con.capture = true;
  EXPECT_FALSE(zv::readLoaderTagsFile(ctx, root.path).ok());
  EXPECT_EQ(ctx.con.text, "***Error: can not open \"" + tagsPath() + "\"\n");
}

// Only a regular file is read: a named pipe would keep the run waiting for a
// writer, and a folder has no lines. (Windows has no named pipes in folders.)
TEST_F(TagsFile, PipeOrFolderCannotBeOpened) {
  for (bool pipe : {true, false}) {
    if (pipe && zv::kWindowsHost) continue;
    ScratchDir other;
    std::filesystem::create_directories(other / "system/include");
    std::string path = other / "system/include/vkm_tags.txt";
#if !defined(_WIN32)
    ASSERT_EQ(pipe ? mkfifo(path.c_str(), 0644) : mkdir(path.c_str(), 0755), 0);
#else
    ASSERT_TRUE(std::filesystem::create_directory(path));
#endif
    zv::Context fresh;
    fresh.con.capture = true;
    EXPECT_FALSE(zv::readLoaderTagsFile(fresh, other.path).ok());
    bool cygdrive = false;
    EXPECT_EQ(fresh.con.text, "***Error: can not open \"" + zv::loaderTagsFilePath(other.path, cygdrive) + "\"\n");
  }
}

TEST_F(TagsFile, CygdriveRootIsAnnouncedWhenVerbose) {
  ctx.con.capture = true;
  ctx.opt.verbose = true;
  EXPECT_FALSE(zv::readLoaderTagsFile(ctx, "/cygdrive/q/nowhere").ok());
  EXPECT_EQ(ctx.con.text,
            "Found cygdrive path adjusted to \"q:/nowhere/system/include/vkm_tags.txt\"\n"
            "***Error: can not open \"q:/nowhere/system/include/vkm_tags.txt\"\n");
}

TEST_F(TagsFile, CygdriveRootIsQuietOtherwise) {
  ctx.con.capture = true;
  EXPECT_FALSE(zv::readLoaderTagsFile(ctx, "/cygdrive/q/nowhere").ok());
  EXPECT_EQ(ctx.con.text, "***Error: can not open \"q:/nowhere/system/include/vkm_tags.txt\"\n");
}

}  // namespace
}  // namespace zv::test
