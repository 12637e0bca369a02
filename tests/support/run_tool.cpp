// Test-side process and file helpers: starting the tool through the shell,
// capturing its output, and scratch folders.
#include "support/run_tool.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zvtest {

std::string shellQuote(const std::string& s) {
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
  if (const char* p = std::getenv("ZV_BINARY")) return p;
  return ZV_BINARY;
}

std::string sourceDir() { return ZV_SOURCE_DIR; }

ToolRun runShell(const std::string& command) {
  ToolRun r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) throw std::runtime_error("popen failed");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

ToolRun runZodavov(const std::vector<std::string>& args, const std::string& dir,
                   const std::vector<std::pair<std::string, std::string>>& env) {
  // env takes its -u options before any NAME=VALUE: after one, "-u" would
  // be taken for the command.
  std::string cmd = "cd " + shellQuote(dir) + " && env";
  for (const auto& [name, value] : env)
    if (value == "\x01unset") cmd += " -u " + name;
  for (const auto& [name, value] : env)
    if (value != "\x01unset") cmd += " " + name + "=" + shellQuote(value);
  cmd += " " + shellQuote(zodavovPath());
  for (const auto& a : args) cmd += " " + shellQuote(a);
  return runShell(cmd);
}

ScratchDir::ScratchDir() {
  char tmpl[] = "/tmp/zvtest-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

ScratchDir::~ScratchDir() {
  std::string cmd = "chmod -R u+w " + shellQuote(path) + " 2>/dev/null; rm -rf " + shellQuote(path);
  if (std::system(cmd.c_str()) != 0) {
  }
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeText(const std::string& path, const std::string& text) {
  writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> folderEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace zvtest
