// A test's files and environment (see scratch.h): scratch folders, the
// environment guard and whole-file reads and writes, through std::filesystem
// and the platform layer so that they work on every host.
#include "support/scratch.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"

namespace zv::test {

namespace fs = std::filesystem;

fs::path fsPath(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8Of(const fs::path& path) {
  std::u8string u = path.u8string();
  return std::string(reinterpret_cast<const char*>(u.data()), u.size());
}

ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("zvtest-" + std::to_string(random() % 100000000));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path = utf8Of(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Tests take write permission away from files and folders; give it back.
  for (auto it = fs::recursive_directory_iterator(fsPath(path), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::permissions(fsPath(path), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(fsPath(path), ec);
}

std::string ScratchDir::operator/(const std::string& name) const { return utf8Of(fsPath(path) / fsPath(name)); }

EnvVar::EnvVar(const char* name, std::optional<std::string> value) : name_(name), old_(zv::getEnv(name)) {
  zv::setEnv(name, value);
}

EnvVar::~EnvVar() { zv::setEnv(name_.c_str(), old_); }

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(fsPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const std::string& path) {
  std::ifstream in(fsPath(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  fs::create_directories(fsPath(path).parent_path(), ec);
  std::ofstream out(fsPath(path), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void writeText(const std::string& path, const std::string& text) {
  writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> folderEntries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(fsPath(dir), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    names.push_back(utf8Of(it->path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fsPath(path), ec);
}

}  // namespace zv::test
