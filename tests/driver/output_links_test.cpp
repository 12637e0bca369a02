// Outputs reached through symbolic links, as build scripts point a build's
// module into a deploy folder: the file the link names is replaced, the link
// stays, and the replaced file keeps its permission bits. A link into a
// folder that does not exist is reported like any unwritable output. The
// replaced file itself is left as it was, under any other name it has.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_tool.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> sdkEnv() {
  return {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"SOURCE_DATE_EPOCH", "1700000000"}};
}

// Makes a symbolic link; false where this host's file system library cannot
// (MinGW's std::filesystem has no symbolic links on Windows).
bool makeLink(const std::string& target, const std::string& at) {
  std::error_code ec;
  fs::create_symlink(target, at, ec);
  return !ec;
}

constexpr const char* kNoLinks = "symbolic links cannot be made here (MinGW's std::filesystem on Windows)";

TEST(OutputLinks, ModuleAndLibraryReplaceTheLinkedFilesAndKeepTheLinks) {
  ScratchDir dir;
  const std::string build = dir.path + "/build", deploy = dir.path + "/deploy";
  fs::create_directories(build);
  fs::create_directories(deploy);
  writeFile(build + "/basic.elf", readFile(sourceDir() + "/tests/corpus/basic.elf"));
  // What a plain run writes, to compare with what arrives through the links.
  ASSERT_EQ(runZodavov({"basic.elf"}, build, sdkEnv()).status, 0);
  const auto module = readFile(build + "/basic.vkm"), library = readFile(build + "/basic.a");
  ASSERT_FALSE(module.empty());
  ASSERT_FALSE(library.empty());
  fs::remove(build + "/basic.vkm");
  fs::remove(build + "/basic.a");

  writeText(deploy + "/game.vkm", "previous build");
  fs::permissions(deploy + "/game.vkm", fs::perms(0640));
  // A second name of the previous file keeps it: the new module replaces the name, not the file.
  std::error_code noHardLinks;
  fs::create_hard_link(deploy + "/game.vkm", dir.path + "/kept.vkm", noHardLinks);
  if (!makeLink("../deploy/game.vkm", build + "/basic.vkm")) GTEST_SKIP() << kNoLinks;  // relative link
  ASSERT_TRUE(makeLink(deploy + "/game.a", build + "/lib.a"));                          // dangling link, folder exists

  auto run = runZodavov({"-l", "lib.a", "basic.elf"}, build, sdkEnv());
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(fs::is_symlink(build + "/basic.vkm"));
  EXPECT_TRUE(fs::is_symlink(build + "/lib.a"));
  EXPECT_EQ(readFile(deploy + "/game.vkm"), module);
  EXPECT_EQ(readFile(deploy + "/game.a"), library);
  EXPECT_EQ(fs::status(deploy + "/game.vkm").permissions() & fs::perms::all, fs::perms(0640));
  EXPECT_EQ(folderEntries(deploy), (std::vector<std::string>{"game.a", "game.vkm"}));
  const std::string previous = "previous build";
  if (!noHardLinks) {
    EXPECT_EQ(readFile(dir.path + "/kept.vkm"), std::vector<uint8_t>(previous.begin(), previous.end()));
  }
}

TEST(OutputLinks, LinkIntoAMissingFolderIsReportedAndLeftAlone) {
  ScratchDir dir;
  writeFile(dir.path + "/basic.elf", readFile(sourceDir() + "/tests/corpus/basic.elf"));
  if (!makeLink(dir.path + "/nowhere/basic.vkm", dir.path + "/basic.vkm")) GTEST_SKIP() << kNoLinks;

  auto run = runZodavov({"-nolib", "basic.elf"}, dir.path, sdkEnv());

  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.out.find("***Error: Could not open outfile file for writing.\n"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::is_symlink(dir.path + "/basic.vkm"));
  EXPECT_EQ(folderEntries(dir.path), (std::vector<std::string>{"basic.elf", "basic.vkm"}));
}

}  // namespace
}  // namespace zv::test
