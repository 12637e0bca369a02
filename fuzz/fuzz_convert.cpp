// Fuzz target: the whole conversion of one input file, in process. The first
// byte picks options (symbol-table mode, string stripping, compression, VKX,
// the relocation-rule switches, verbose listings); the rest is the input ELF.
// The module and the import library are built in memory, read back and
// verified exactly as a real run does, without touching the disk beyond the
// input file itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/driver.h"

namespace {

std::string scratchDir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/zv-fuzz-XXXXXX";
    const char* shm = "/dev/shm/zv-fuzz-XXXXXX";
    std::string t = access("/dev/shm", W_OK) == 0 ? shm : tmpl;
    std::vector<char> buf(t.begin(), t.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) abort();
    return std::string(buf.data());
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = scratchDir() + "/sdk";
  std::string inc = root + "/system/include";
  if (system(("mkdir -p '" + inc + "'").c_str()) != 0) abort();
  FILE* f = fopen((inc + "/vkm_tags.txt").c_str(), "w");
  if (!f) abort();
  fputs("# fuzz\nEDBA_OS_SDK_VERSION=21300\nTAG=value\n", f);
  fclose(f);
  setenv("EDBA_ROOT", root.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t bits = data[0];
  std::string input = scratchDir() + "/in.elf";
  FILE* f = fopen(input.c_str(), "wb");
  if (!f) abort();
  if (size > 1 && fwrite(data + 1, 1, size - 1, f) != size - 1) abort();
  fclose(f);

  std::vector<std::string> args = {"zodavov"};
  if (bits & 0x01) args.push_back("-old");
  if (bits & 0x02) args.push_back("-s");
  if (bits & 0x04) args.push_back("-zx");
  if (bits & 0x08) args.push_back("-f");
  if (bits & 0x10) args.push_back("-x32");
  if (bits & 0x20) args.push_back("-checknosda");
  if (bits & 0x40) {
    args.push_back("-v");
    args.push_back("-v2");
    args.push_back("-v3");
  }
  if (bits & 0x80) {
    args.push_back("-padall");
    args.push_back("10");
    args.push_back("-t");
    args.push_back("A=B");
  }
  args.push_back(input);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  zv::Context ctx;
  ctx.con.capture = true;
  ctx.inMemory = true;
  zv::runTool(ctx, static_cast<int>(args.size()), argv.data());
  return 0;
}
