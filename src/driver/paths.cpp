// Where the results go. The module lands beside the input, under the input's
// name with its last extension replaced by .vkm or .vkx; the import library
// beside it with .a, unless -l names one. The module's FileInfo carries the
// output path relative to the first source root that matches it, so that the
// debugger can find the sources on another machine. Roots come as Windows,
// Cygwin (/cygdrive/c/...) or mixed paths.
#include <string_view>

#include "driver/driver.h"

namespace zv {

namespace {

// The FileInfo keeps the path in a 260-byte area that also needs 16 bytes of
// its own.
constexpr size_t kFileInfoPathArea = 260;
constexpr size_t kFileInfoPathReserve = 16;

constexpr std::string_view kCygdrive = "/cygdrive/";

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// Character i of s, or 0 past its end (the end of a text reads as its terminator).
char charAt(const std::string& s, size_t i) { return i < s.size() ? s[i] : '\0'; }

// Compares root[ri..] with path[wi..]: a '\' in the path matches a '/' in the
// root. On a match `end` is the position in the path after the matched text.
bool matchesFrom(const std::string& path, size_t wi, const std::string& root, size_t ri, size_t& end) {
  if (ri > root.size() || wi > path.size() || root.size() - ri > path.size() - wi) return false;
  for (; ri < root.size(); ++ri, ++wi) {
    char w = path[wi], r = root[ri];
    if (w != r && !(w == '\\' && r == '/')) return false;
  }
  end = wi;
  return true;
}

enum class RootMatch { kNo, kYes, kStopSearch };

// Whether `root` is a prefix of `path`, and where the rest of the path begins.
RootMatch matchRoot(const std::string& path, const std::string& root, size_t& end) {
  if (path.size() >= root.size() && path.compare(0, root.size(), root) == 0) {
    end = root.size();
    return RootMatch::kYes;
  }
  size_t wi = 0, ri = 0;
  if (root.compare(0, kCygdrive.size(), kCygdrive) == 0) {
    // /cygdrive/c/... stands for C:...; another drive ends the whole search.
    char drive = charAt(root, kCygdrive.size());
    if (upperAscii(drive) != upperAscii(charAt(path, 0)) || charAt(path, 1) != ':') return RootMatch::kStopSearch;
    wi = 2;
    ri = kCygdrive.size() + 1;
  }
  return matchesFrom(path, wi, root, ri, end) ? RootMatch::kYes : RootMatch::kNo;
}

}  // namespace

Status fullInputPath(Context& ctx, std::string& full, size_t& fileNamePos) {
  if (!ctx.opt.inputPath || !fullPath(*ctx.opt.inputPath, full, fileNamePos)) {
    say(ctx, "Error: GetFullPathName for src elf failed. return -1.\n");
    return Status::failed();
  }
  if (fileNamePos == std::string::npos || fileNamePos >= full.size()) {
    say(ctx,
        "Error: src elf is expected to be a full path to and including the file; found only a "
        "directory. return -1.\n");
    return Status::failed();
  }
  return {};
}

Status deriveOutputNames(Context& ctx, const std::string& full, size_t fileNamePos) {
  Options& o = ctx.opt;
  size_t ext = full.rfind('.');
  if (ext == std::string::npos || ext < fileNamePos) ext = full.size();
  std::string stem = full.substr(0, ext);
  o.outputPath = stem + (ctx.facts.outputIsVkx ? ".vkx" : ".vkm");
  if (!o.importLibPath && !o.noLib) o.importLibPath = stem + ".a";

  std::string narrow;
  size_t namePos;
  if (pathLength(o.outputPath) > kMaxPath || !fullPath(o.outputPath, narrow, namePos)) {
    say(ctx, "Error: GetFullPathName for src elf failed. return -1.\n");
    return Status::failed();
  }
  o.outputPathNarrow = narrow;
  ctx.moduleSettings.relativeOutputPos = 0;
  ctx.moduleSettings.relativeOutputLen = static_cast<uint32_t>(narrow.size());
  return {};
}

Status outputsSpareTheInput(Context& ctx) {
  const Options& o = ctx.opt;
  for (const std::string* path : {&o.outputPath, o.importLibPath ? &*o.importLibPath : nullptr}) {
    if (!path || !isMappedFile(ctx.inputFile, *path)) continue;
    say(ctx, "***Error: \"%s\" is the input file; writing the output there would destroy it. Return -1.\n",
        path->c_str());
    return Status::failed();
  }
  return {};
}

Status makeRelativeOutputPath(Context& ctx) {
  const Options& o = ctx.opt;
  ModuleSettings& m = ctx.moduleSettings;
  if (o.sourceRoots.empty()) return {};
  size_t n = m.relativeOutputLen;
  if (n + kFileInfoPathReserve > kFileInfoPathArea) {
    say(ctx, "***File path to VKM is too large.\n");
    return Status::failed();
  }
  const std::string path = relativeOutputPath(ctx);
  for (const std::string& root : o.sourceRoots) {
    size_t k = 0;
    RootMatch match = matchRoot(path, root, k);
    if (match == RootMatch::kStopSearch) break;
    if (match == RootMatch::kNo) continue;
    if (k < path.size() && (path[k] == '\\' || path[k] == '/')) ++k;
    m.relativeOutputPos += static_cast<uint32_t>(k);
    m.relativeOutputLen = static_cast<uint32_t>(path.size() - k);
    break;
  }
  return {};
}

}  // namespace zv
