// The files and environment of one test: a scratch folder that removes
// itself with everything in it, a guard that sets an environment variable
// for the life of a test, and small whole-file reads and writes. Paths are
// UTF-8 on every host; under Windows they may hold non-ASCII names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zv::test {

// A UTF-8 path as the file system library takes it, and back.
std::filesystem::path fsPath(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed with
// everything in it (write permission given back first) when destroyed.
struct ScratchDir {
  std::string path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // `name` (which may hold folders) inside the folder, joined the host's way.
  std::string operator/(const std::string& name) const;
};

// Sets (or, with nullopt, removes) an environment variable of the test
// process for the life of the object.
class EnvVar {
 public:
  EnvVar(const char* name, std::optional<std::string> value);
  ~EnvVar();
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Whole files. readFile throws when the file cannot be read; readText gives
// "" for a missing file. The writes create missing parent folders.
std::vector<uint8_t> readFile(const std::string& path);
std::string readText(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
// Names in a folder (without "." and ".."), sorted.
std::vector<std::string> folderEntries(const std::string& dir);

}  // namespace zv::test
