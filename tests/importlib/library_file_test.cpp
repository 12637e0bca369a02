// Writing the import library to disk and running the archiver on it: the
// file holds exactly the archive bytes, it replaces an old library only once
// complete, a failed open or write leaves the old library alone and runs no
// archiver, and the archiver is found through GHS_ROOT (with its /cygdrive/
// form) or PATH. A fake archiver, a shell script written into a temporary
// folder, records its arguments and the library it saw.

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>  // the file-size limit
#endif

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "implib_fixture.h"
#include "importlib/importlib.h"

namespace zv::test {
namespace {

namespace fs = std::filesystem;

struct FileRun {
  uint32_t rc = 0;
  std::string text;
};

FileRun runToFile(const std::string& libraryPath, bool verbose = false, const ModuleSpec& shape = workedExample()) {
  auto ctx = contextFor(build(makeModule(shape).b), "/build/out/MyLib.vkm", false);
  ctx->opt.importLibPath = libraryPath;
  ctx->opt.verbose = verbose;
  FileRun r;
  r.rc = writeLibrary(*ctx);
  r.text = ctx->con.text;
  return r;
}

std::vector<uint8_t> inMemoryArchive() {
  auto ctx = contextFor(build(makeModule(workedExample()).b));
  EXPECT_EQ(writeLibrary(*ctx), 0u);
  return ctx->libraryBytes;
}

class LibraryFile : public ::testing::Test {
 protected:
  EnvVar epoch{"SOURCE_DATE_EPOCH", "1700000000"};
  ScratchDir out;   // where the library goes
  ScratchDir tool;  // where the fake archiver lives
  EnvVar ghs{"GHS_ROOT", tool.path};
  std::string lib = out / "mylib.a";
  std::string args() const { return readText(tool / "args.txt"); }
};

TEST_F(LibraryFile, HoldsTheArchiveAndTheArchiverSeesItComplete) {
  writeFakeArchiver(tool.path, 0);
  FileRun r = runToFile(lib);
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(r.text, "");
  std::vector<uint8_t> want = inMemoryArchive();
  EXPECT_EQ(readFile(lib), want);
  EXPECT_EQ(readFile(tool / "seen.a"), want);
  EXPECT_EQ(args(), "-ts\n" + lib + "\n");
  EXPECT_EQ(folderEntries(out.path), std::vector<std::string>{"mylib.a"});  // no temporary file left
}

TEST_F(LibraryFile, ReplacesAnExistingLibrary) {
  writeFakeArchiver(tool.path, 0);
  std::ofstream(lib) << std::string(4000, 'x');  // longer than the new library
  FileRun r = runToFile(lib);
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(readFile(lib), inMemoryArchive());
}

TEST_F(LibraryFile, VerboseShowsTheCommandLine) {
  writeFakeArchiver(tool.path, 0);
  FileRun r = runToFile(lib, true);
  ASSERT_EQ(r.rc, 0u);
  // Windows joins a drive-letter root with '\\'.
  EXPECT_EQ(r.text, "exec: " + tool.path + (zv::kWindowsHost ? "\\" : "/") + "ax -ts \"" + lib + "\"\n");
}

TEST_F(LibraryFile, ArchiverFailureIsReportedButDoesNotFail) {
  writeFakeArchiver(tool.path, 3);
  FileRun r = runToFile(lib);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "FAILED: ax -ts " + lib + "\nreturned 3\n");
  EXPECT_EQ(readFile(lib), inMemoryArchive());
}

TEST_F(LibraryFile, ArchiverThatCannotStartReturnsMinusOne) {
  // tool_ holds no "ax".
  FileRun r = runToFile(lib);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "FAILED: ax -ts " + lib + "\nreturned -1\n");
  EXPECT_TRUE(fileExists(lib));
}

TEST_F(LibraryFile, ArchiverIsFoundOnPathWithoutGhsRoot) {
  writeFakeArchiver(tool.path, 0);
  EnvVar noRoot("GHS_ROOT", std::nullopt);
  EnvVar path("PATH", tool.path + (zv::kWindowsHost ? ";" : ":") + zv::getEnv("PATH").value_or(""));
  FileRun r = runToFile(lib, true);
  ASSERT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "exec: ax -ts \"" + lib + "\"\n");
  EXPECT_EQ(args(), "-ts\n" + lib + "\n");
}

TEST_F(LibraryFile, CygdriveRootNamesTheDrive) {
  EnvVar root("GHS_ROOT", "/cygdrive/d/ghs");
  FileRun r = runToFile(lib, true);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "exec: d:/ghs/ax -ts \"" + lib + "\"\nFAILED: ax -ts " + lib + "\nreturned -1\n");
}

TEST_F(LibraryFile, PathCharactersReachTheArchiverUnchanged) {
  writeFakeArchiver(tool.path, 0);
  std::string odd = (out / "my lib $(x) 'q'.a");
  FileRun r = runToFile(odd);
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(args(), "-ts\n" + odd + "\n");
  EXPECT_EQ(readFile(tool / "seen.a"), inMemoryArchive());
}

TEST_F(LibraryFile, InMemoryRunsWriteNothingAndRunNoArchiver) {
  writeFakeArchiver(tool.path, 0);
  auto ctx = contextFor(build(makeModule(workedExample()).b));
  ctx->opt.importLibPath = lib;
  EXPECT_EQ(writeLibrary(*ctx), 0u);
  EXPECT_FALSE(ctx->libraryBytes.empty());
  EXPECT_FALSE(fileExists(lib));
  EXPECT_FALSE(fileExists(tool / "args.txt"));
}

TEST_F(LibraryFile, NoExportsWriteNoFileAndRunNoArchiver) {
  writeFakeArchiver(tool.path, 0);
  FileRun r = runToFile(lib, true, ModuleSpec{});
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "");
  EXPECT_FALSE(fileExists(lib));
  EXPECT_FALSE(fileExists(tool / "args.txt"));
}

TEST_F(LibraryFile, RefusedExportsWriteNoFile) {
  writeFakeArchiver(tool.path, 0);
  ModuleSpec shape = workedExample();
  shape.data->push_back({"second"});  // two data exports, one relocation
  FileRun r = runToFile(lib, false, shape);
  EXPECT_EQ(r.rc, 0xFFFFFFFFu);
  EXPECT_EQ(r.text, "***Error: numDataExports (2) != numRelaDataExports (1). Return -1\n");
  EXPECT_FALSE(fileExists(lib));
  EXPECT_FALSE(fileExists(tool / "args.txt"));
}

// Opening fails: the error number is the result and no archiver runs.
struct OpenFailureCase {
  const char* label;
  const char* relative;  // under the output folder
  int err;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.label; }

class OpenFailure : public LibraryFile, public ::testing::WithParamInterface<OpenFailureCase> {};
INSTANTIATE_TEST_SUITE_P(Paths, OpenFailure,
                         ::testing::Values(OpenFailureCase{"MissingFolder", "no/such/folder/mylib.a", ENOENT},
                                           OpenFailureCase{"IsAFolder", "", EISDIR}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_P(OpenFailure, GivesTheErrorNumber) {
  writeFakeArchiver(tool.path, 0);
  FileRun r = runToFile((out / GetParam().relative));
  EXPECT_EQ(r.rc, static_cast<uint32_t>(GetParam().err));
  EXPECT_EQ(r.text, "***Error: Could not open output file for writing.\n");
  EXPECT_FALSE(fileExists(tool / "args.txt"));
}

TEST_F(LibraryFile, WriteFailureOnADeviceGivesTheErrorNumber) {
  if (!fileExists("/dev/full")) GTEST_SKIP() << "/dev/full is not available on this host";
  writeFakeArchiver(tool.path, 0);
  FileRun r = runToFile("/dev/full");
  EXPECT_EQ(r.rc, static_cast<uint32_t>(ENOSPC));
  // The stream holds the member until the seek to the ELF header flushes it.
  EXPECT_EQ(r.text, "*** error seeking in output file.\n");
  EXPECT_FALSE(fileExists(tool / "args.txt"));
}

#if !defined(_WIN32)
// Limits the size of files this process may write for one scope; a write
// beyond it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};
#endif

TEST_F(LibraryFile, WriteFailureLeavesTheOldLibraryAndRunsNoArchiver) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no per-process file-size limit to make a write fail";
#else
  writeFakeArchiver(tool.path, 0);
  const std::string old = "the library of an earlier run";
  std::ofstream(lib) << old;
  FileRun r;
  {
    FileSizeLimit limit(100);
    r = runToFile(lib);
  }
  EXPECT_EQ(r.rc, static_cast<uint32_t>(EFBIG));
  EXPECT_EQ(r.text, "*** error seeking in output file.\n");
  EXPECT_EQ(readText(lib), old);
  EXPECT_EQ(folderEntries(out.path), std::vector<std::string>{"mylib.a"});  // temporary file removed
  EXPECT_FALSE(fileExists(tool / "args.txt"));
#endif
}

}  // namespace
}  // namespace zv::test
