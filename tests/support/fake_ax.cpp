// A stand-in for the compiler toolchain's archiver in tests, as a small
// program so that it runs on every host: it writes its arguments, one a
// line, to args.txt beside itself, copies the library it was given to
// seen.a there, and exits with the number in status.txt (0 without one).
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/entry.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

fs::path fsPath(const std::string& path) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

int fakeArchiver(int argc, char** argv) {
  fs::path dir = fsPath(zv::executablePath()).parent_path();
  {
    std::ofstream args(dir / "args.txt", std::ios::binary);
    for (int i = 1; i < argc; ++i) args << argv[i] << "\n";
  }
  std::error_code ec;
  if (argc > 2) fs::copy_file(fsPath(argv[2]), dir / "seen.a", fs::copy_options::overwrite_existing, ec);
  int status = 0;
  std::ifstream(dir / "status.txt") >> status;
  return status;
}

}  // namespace

ZV_PROGRAM_ENTRY(fakeArchiver)
