// Fuzz target: the command line and the loader tags file. The input is split
// at NUL bytes into arguments; after a 0xFF byte the rest is the tags file.
// No input file is mapped unless an argument happens to name one.
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
    char tmpl[] = "/tmp/zv-fuzzcl-XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    return std::string(tmpl);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"zodavov"};
  std::string current;
  size_t i = 0;
  for (; i < size && data[i] != 0xFF; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);
  std::string tags = i < size ? std::string(reinterpret_cast<const char*>(data + i + 1), size - i - 1) : std::string();

  std::string root = scratchDir();
  std::string inc = root + "/system/include";
  static bool made = system(("mkdir -p '" + inc + "'").c_str()) == 0;
  if (!made) abort();
  FILE* f = fopen((inc + "/vkm_tags.txt").c_str(), "wb");
  if (!f) abort();
  fwrite(tags.data(), 1, tags.size(), f);
  fclose(f);

  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.inMemory = true;
  // Every outcome is acceptable here; what counts is that none reads out of bounds.
  static_cast<void>(zv::parseCommandLine(ctx, static_cast<int>(args.size()), argv.data()));
  static_cast<void>(zv::readLoaderTagsFile(ctx, root));
  static_cast<void>(zv::makeRelativeOutputPath(ctx));
  return 0;
}
