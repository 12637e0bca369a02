// Running the built zodavov executable from a test, the way a build script
// does: in a folder, with an environment, capturing standard output and the
// exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch.h"

namespace zv::test {

struct ToolRun {
  int status = -1;        // exit status as a shell sees it (0..255), -1 when it did not exit
  int64_t exitCode = -1;  // the whole exit code (32 bits on Windows), -1 when it did not exit
  std::string out;        // standard output (and standard error), lines ending in "\n"
  std::string rawOut;     // the same as written (on Windows, lines end in CR LF)
};

// Runs the executable with `args` in `dir`. `env` entries are set (name, value);
// a value of "\x01unset" removes the variable.
ToolRun runZodavov(const std::vector<std::string>& args, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env = {});

// Runs the module viewer (vkmdump) with `args`, capturing its output.
ToolRun runVkmdump(const std::vector<std::string>& args);

// Runs any shell command line, capturing its output. On Windows (under Wine)
// the command runs in the Linux host's /bin/sh; see hostUnixPath.
ToolRun runShell(const std::string& command);
// Whether runShell can run commands on this host.
bool haveShell();

// Path of the executable under test and of the source tree.
std::string zodavovPath();
std::string sourceDir();
// A path for the shell of runShell: on Windows under Wine, Z:\x\y (the Linux
// root's drive) becomes /x/y; elsewhere the path itself.
std::string shellPath(const std::string& path);
// A GHS_ROOT whose "ax" indexes libraries: the SDK sample's script on POSIX
// hosts, the archiver stand-in on Windows.
std::string toolchainRoot();
// Path of the archiver stand-in (tests/support/fake_ax.cpp).
std::string fakeArchiverPath();

std::string shellQuote(const std::string& s);

}  // namespace zv::test
