// Running the built zodavov executable from a test, the way a build script
// does: in a folder, with an environment, capturing standard output and the
// exit status. Also a scratch folder that removes itself.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zvtest {

struct ToolRun {
  int status = -1;  // exit status as a shell sees it (0..255), -1 when it did not exit
  std::string out;  // standard output (and standard error)
};

// Runs the executable with `args` in `dir`. `env` entries are set (name, value);
// a value of "\x01unset" removes the variable.
ToolRun runZodavov(const std::vector<std::string>& args, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// Runs the module viewer (vkmdump) with `args`, capturing its output.
ToolRun runVkmdump(const std::vector<std::string>& args);

// Runs any shell command line, capturing its output.
ToolRun runShell(const std::string& command);

// Path of the executable under test and of the source tree.
std::string zodavovPath();
std::string sourceDir();

// A fresh temporary folder, removed with everything in it when destroyed.
struct ScratchDir {
  std::string path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
// Names in a folder (without "." and ".."), sorted.
std::vector<std::string> folderEntries(const std::string& dir);
std::string shellQuote(const std::string& s);

}  // namespace zvtest
