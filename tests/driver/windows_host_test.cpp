// What only the Windows build does, run through the executable the way a
// studio's build script on Windows runs it: drive-letter and /cygdrive/
// roots, non-ASCII paths, the 259-unit full-path limit counted in UTF-16,
// devices as outputs, an archiver behind a path with spaces and '&', the
// whole 32-bit exit value and CR LF line ends. Built for Windows hosts only.
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/run_tool.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

// A folder holding basic.elf under `name`, and a toolchain folder `tools`
// (below the scratch folder) with the archiver stand-in.
struct HostFolder {
  ScratchDir dir;
  std::string input(const std::string& name) const {
    writeFile(dir.path + "\\" + name, readFile(sourceDir() + "/tests/corpus/basic.elf"));
    return name;
  }
  std::string tools(const std::string& sub) const {
    std::string folder = dir.path + "\\" + sub;
    fs::create_directories(fsPath(folder));
    fs::copy_file(fakeArchiverPath(), fsPath(folder + "\\ax.exe"));
    return folder;
  }
  std::vector<std::pair<std::string, std::string>> env(const std::string& ghsRoot) const {
    return {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"GHS_ROOT", ghsRoot}, {"SOURCE_DATE_EPOCH", "1700000000"}};
  }
};

// C:\x\y as Cygwin writes it: /cygdrive/c/x/y.
std::string cygdriveForm(const std::string& path) {
  std::string p = "/cygdrive/" + std::string(1, static_cast<char>(path[0] | 0x20)) + path.substr(2);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

TEST(WindowsHost, ExitValueKeepsAll32BitsAndLinesEndInCrLf) {
  HostFolder s;
  ToolRun r = runZodavov({"missing.elf"}, s.dir.path);
  EXPECT_EQ(r.exitCode, 0x80070002);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.rawOut.find("Error 0x80070002\r\n"), std::string::npos) << r.rawOut;
  EXPECT_EQ(r.rawOut.find("2\n"), std::string::npos);  // no bare line feed
}

TEST(WindowsHost, ArchiverBehindSpacesAndAmpersandGetsTheLibraryPathUnchanged) {
  HostFolder s;
  std::string tools = s.tools("tools & more\\bin 100%");
  ToolRun r = runZodavov({"-v", s.input("app.elf")}, s.dir.path, s.env(tools));
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string lib = s.dir.path + "\\app.a";
  EXPECT_NE(r.out.find("exec: " + tools + "\\ax -ts \"" + lib + "\"\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("FAILED"), std::string::npos) << r.out;
  const std::string args = "-ts\n" + lib + "\n";
  EXPECT_EQ(readFile(tools + "\\args.txt"), std::vector<uint8_t>(args.begin(), args.end()));
  EXPECT_EQ(readFile(tools + "\\seen.a"), readFile(lib));
}

TEST(WindowsHost, CygdriveRootsReachTheArchiverAndTheTagsFile) {
  HostFolder s;
  std::string tools = s.tools("tools");
  auto env = s.env(cygdriveForm(tools));
  env[0].second = cygdriveForm(s.dir.path + "\\sdk");
  fs::create_directories(fsPath(s.dir.path + "\\sdk\\system\\include"));
  writeText(s.dir.path + "\\sdk\\system\\include\\vkm_tags.txt", "GAME_REGION=eu\r\n");
  ToolRun r = runZodavov({"-v", "-dbg_source_root", cygdriveForm(s.dir.path), s.input("app.elf")}, s.dir.path, env);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::string driveTools = std::string(1, static_cast<char>(tools[0] | 0x20)) + ":" + cygdriveForm(tools).substr(11);
  EXPECT_NE(r.out.find("exec: " + driveTools + "/ax -ts"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Found cygdrive path adjusted to"), std::string::npos) << r.out;
  EXPECT_TRUE(fileExists(tools + "\\args.txt"));
}

TEST(WindowsHost, NonAsciiInputOutputAndLibraryPaths) {
  HostFolder s;
  std::string tools = s.tools("tools");
  fs::create_directories(fsPath(s.dir.path + "\\módulo 日本"));
  std::string input = s.input("módulo 日本\\ゲーム.elf");
  ToolRun r = runZodavov({"-l", "bibliothèque.a", input}, s.dir.path, s.env(tools));
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(fileExists(s.dir.path + "\\módulo 日本\\ゲーム.vkm"));
  EXPECT_TRUE(fileExists(s.dir.path + "\\bibliothèque.a"));
}

TEST(WindowsHost, LibraryToNulIsWrittenToTheDevice) {
  HostFolder s;
  ToolRun r = runZodavov({"-l", "NUL", s.input("app.elf")}, s.dir.path, s.env(s.tools("tools")));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(fileExists(s.dir.path + "\\app.vkm"));
  EXPECT_FALSE(fileExists(s.dir.path + "\\app.a"));
}

// A module another program holds open (here: mapped by the test, which
// shares it for reading only) is not replaced: the open fails as it would
// for writing, and the old file stays as it was.
TEST(WindowsHost, OutputHeldOpenByAnotherProgramStaysAsItWas) {
  HostFolder s;
  const std::string module = s.dir.path + "\\app.vkm";
  const std::vector<uint8_t> old(300, 'o');
  writeFile(module, old);
  zv::MappedFile* held = nullptr;
  ASSERT_TRUE(zv::mapFile(module, held).ok());
  ToolRun r = runZodavov({"-nolib", s.input("app.elf")}, s.dir.path, s.env(s.tools("tools")));
  zv::releaseMappedFile(held);
  EXPECT_EQ(r.exitCode, 0xFFFFFFFF) << r.out;
  EXPECT_NE(r.out.find("***Error: Could not open outfile file for writing.\n"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(module), old);
  EXPECT_EQ(folderEntries(s.dir.path), (std::vector<std::string>{"app.elf", "app.vkm", "tools"}));
}

// The full output path may take 259 UTF-16 units and not one more; a name of
// non-ASCII characters counts by its UTF-16 units, not its UTF-8 bytes.
TEST(WindowsHost, FullPathLimitIsCountedInUtf16Units) {
  HostFolder s;
  for (size_t over : {0u, 1u}) {
    size_t room = 259 + over - s.dir.path.size() - 1 - 4;  // "\" and ".vkm"
    std::string stem;
    for (size_t i = 0; i < room; ++i) stem += i < 10 ? "é" : "a";  // 10 more bytes than units
    ToolRun r =
        runZodavov({"-nolib", s.input(stem + ".elf")}, s.dir.path, s.env(s.tools("tools" + std::to_string(over))));
    if (over == 0) {
      EXPECT_EQ(r.exitCode, 0) << r.out;
      EXPECT_TRUE(fileExists(s.dir.path + "\\" + stem + ".vkm"));
    } else {
      EXPECT_EQ(r.exitCode, 0xFFFFFFFF) << r.out;
      EXPECT_NE(r.out.find("Error: GetFullPathName for src elf failed. return -1.\n"), std::string::npos) << r.out;
    }
  }
}

}  // namespace
}  // namespace zv::test

#endif
