// Test-side process and file helpers: starting the tool in a folder with a
// changed environment, capturing its output. Portable: processes go through
// the platform layer, files through std::filesystem.
#include "support/run_tool.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "platform/platform.h"
#include "platform/process.h"

namespace zv::test {

namespace fs = std::filesystem;

namespace {

// Paths fixed when the tests were built are Linux paths; under Wine the
// Linux root is drive Z:.
std::string builtPath(const std::string& path) {
  if (zv::kWindowsHost && !path.empty() && path[0] == '/') return "Z:" + path;
  return path;
}

// The status a shell would show for an exit code: the low byte, or -1 for
// a program that did not end by itself (a signal, a Windows exception).
int shellStatus(int64_t code) {
  if (code < 0) return -1;
  if (zv::kWindowsHost && code >= 0xC0000000 && code < 0xD0000000) return -1;
  return static_cast<int>(code & 0xFF);
}

}  // namespace

std::string shellQuote(const std::string& text) {
  const std::string s = shellPath(text);
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string zodavovPath() {
  if (std::optional<std::string> p = zv::getEnv("ZV_BINARY")) return builtPath(*p);
  return builtPath(ZV_BINARY);
}

std::string sourceDir() { return builtPath(ZV_SOURCE_DIR); }

std::string fakeArchiverPath() { return builtPath(ZV_FAKE_AX); }

std::string toolchainRoot() {
  if (!zv::kWindowsHost) return sourceDir() + "/samples/toolchain";
  return utf8Of(fsPath(fakeArchiverPath()).parent_path() / "toolchain");
}

std::string shellPath(const std::string& path) {
  if (!zv::kWindowsHost || path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return path;
  // Under Wine, Z: is the Linux root and C: the prefix's drive_c folder.
  std::string p = path.substr(2);
  std::replace(p.begin(), p.end(), '\\', '/');
  char drive = static_cast<char>(path[0] | 0x20);
  if (drive == 'z') return p;
  if (drive == 'c') return zv::getEnv("WINEPREFIX").value_or("") + "/drive_c" + p;
  return path;
}

bool haveShell() { return fs::exists(fsPath(builtPath("/bin/sh"))); }

ToolRun runShell(const std::string& command) {
  ToolRun r;
  // The status travels in the output: a Linux program started from Wine
  // gives no exit code of its own.
  const std::string marker = "\n@zvtest-status=";
  // From Wine the shell inherits the Windows PATH; the Linux tools are in the usual places.
  const std::string path = zv::kWindowsHost ? "PATH=/usr/local/bin:/usr/bin:/bin; " : "";
  int64_t code =
      zv::runCaptured(builtPath("/bin/sh"),
                      {"-c", path + "(" + command + ") 2>&1; printf '" + marker.substr(1) + "%d' $?"}, "", {}, r.out);
  size_t at = r.out.rfind(marker.substr(1));
  if (code < 0 || at == std::string::npos) {
    r.status = -1;
    return r;
  }
  r.status = std::atoi(r.out.c_str() + at + marker.size() - 1);
  r.exitCode = r.status;
  r.out.erase(at);
  return r;
}

namespace {

// Runs one of the built programs directly (no shell), its output with CR LF
// turned into LF.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::pair<std::string, std::optional<std::string>>> changes;
  for (const auto& [name, value] : env)
    changes.emplace_back(name, value == "\x01unset" ? std::nullopt : std::optional<std::string>(value));
  ToolRun r;
  r.exitCode = zv::runCaptured(program, args, dir, changes, r.rawOut);
  r.status = shellStatus(r.exitCode);
  for (size_t i = 0; i < r.rawOut.size(); ++i)
    if (!(r.rawOut[i] == '\r' && i + 1 < r.rawOut.size() && r.rawOut[i + 1] == '\n')) r.out.push_back(r.rawOut[i]);
  return r;
}

}  // namespace

ToolRun runZodavov(const std::vector<std::string>& args, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  return runProgram(zodavovPath(), args, dir, env);
}

ToolRun runVkmdump(const std::vector<std::string>& args) { return runProgram(builtPath(ZV_DUMP_BINARY), args, "", {}); }

}  // namespace zv::test
