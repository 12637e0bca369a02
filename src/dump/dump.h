// vkmdump: shows what is inside a VKM/VKX module: the FileInfo record the
// loader reads, the regions and sections, the import, export and symbol
// tables, and whether every CRC and the converter's layout rules still hold.
// The views are plain text for people and one JSON document per file for
// build dashboards.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "dump/module.h"
#include "platform/platform.h"

namespace zv {

constexpr int kDumpSchemaVersion = 1;

struct DumpOptions {
  bool summary = false;
  bool imports = false;
  bool exports = false;
  bool symbols = false;
  bool verify = false;
  bool json = false;
  bool help = false;
  std::string extract;    // -x: section index or name
  std::string extractTo;  // -o
  std::vector<std::string> files;
};

// Reads the command line (without the program name). "" or what is wrong.
std::string parseDumpArgs(const std::vector<std::string>& args, DumpOptions& opt);
std::string dumpUsage();

// The text views of one module, as chosen in `opt`.
std::string textView(const std::string& path, const Module& m, const DumpOptions& opt);
// The JSON document of one module (documented in docs/vkmdump-json.md).
nlohmann::ordered_json jsonView(const std::string& path, const Module& m, const DumpOptions& opt);
// The JSON document of a file that is not a readable module.
nlohmann::ordered_json jsonError(const std::string& path, const std::string& error);

// The whole program: 0 when every file was read (and, with --verify, found
// sound), 1 when a file could not be read or has problems, 2 for a bad
// command line.
int runDump(Console& con, const std::vector<std::string>& args);

}  // namespace zv
