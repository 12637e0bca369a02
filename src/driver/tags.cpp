// Loader tags: name=value pairs that travel in the module's FileInfo for the
// platform's loader to read. They come from -t options on the command line
// and from the SDK's tags file, system/include/vkm_tags.txt below the SDK
// root. The options keep the -t tags; the module's list (ModuleSettings) runs
// newest first: the file's tags (its last line first) in front of the -t
// tags in reverse command-line order.
#include <new>
#include <string_view>

#include "driver/driver.h"
#include "platform/text_file.h"

namespace zv {

namespace {

// Splits name=value at the first '='. Refused: an empty text, no '=', an
// empty name or an empty value. Later '=' characters belong to the value.
bool splitTag(const std::string& text, LoaderTag& tag) {
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
  tag.name = text.substr(0, eq);
  tag.value = text.substr(eq + 1);
  return true;
}

std::string wholeText(const LoaderTag& tag) { return tag.name + "=" + tag.value; }

Status addCommandLineTag(Context& ctx, const std::string& text) {
  LoaderTag tag;
  if (!splitTag(text, tag)) return Status::failed();
  for (const LoaderTag& old : ctx.opt.loaderTags) {
    if (old.name != tag.name) continue;
    if (old.value == tag.value) return {};
    say(ctx, "***Option -t value conflict. Previous value \"%s\"; current value \"%s\"\n", wholeText(old).c_str(),
        text.c_str());
    return Status::failed();
  }
  ctx.opt.loaderTags.push_front(std::move(tag));
  return {};
}

// What the scan of one line of the tags file found.
enum class LineScan { kEmpty, kToken, kEqualsFirst, kNoEquals };

// Scans a line for its one token: leading blanks and tabs are skipped, the
// token runs to the next blank, tab, '#', line break or the end of the text.
LineScan scanTagLine(const std::string& line, std::string& token) {
  size_t start = std::string::npos, i = 0;
  bool sawEquals = false;
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (c == '#' || c == '\n') break;
    if (c == ' ' || c == '\t') {
      if (start == std::string::npos) continue;
      break;
    }
    if (c == '=') {
      if (start == std::string::npos) return LineScan::kEqualsFirst;
      sawEquals = true;
    }
    if (start == std::string::npos) start = i;
  }
  if (start == std::string::npos) return LineScan::kEmpty;
  if (!sawEquals) return LineScan::kNoEquals;
  token = line.substr(start, i - start);
  return LineScan::kToken;
}

void reportBadTagLine(Context& ctx, const std::string& path, const char* why, const std::string& line) {
  say(ctx, "***Error: invalid VKM TAGS file \"%s\"\n", path.c_str());
  say(ctx, "%s", why);
  say(ctx, "%s\n", line.c_str());
}

// Reads every line of an open tags file into the module's tag list.
Status readTagLines(Context& ctx, TextFile& file, const std::string& path) {
  std::string piece;
  while (readTextPiece(file, piece)) {
    std::string line(piece.c_str());  // the line is text: it ends at a zero byte
    std::string token;
    switch (scanTagLine(line, token)) {
      case LineScan::kEmpty:
        continue;
      case LineScan::kEqualsFirst:
        reportBadTagLine(ctx, path, "***Error: line contains = before a valid tag name\n", line);
        return Status::failed();
      case LineScan::kNoEquals:
        reportBadTagLine(ctx, path, "***Error: line formatted incorrectly\n", line);
        return Status::failed();
      case LineScan::kToken:
        break;
    }
    LoaderTag tag;
    if (!splitTag(token, tag)) return Status::failed();  // name= : nothing after the '='
    ctx.moduleSettings.loaderTags.push_front(std::move(tag));
  }
  return {};
}

}  // namespace

Status addLoaderTag(Context& ctx, const std::string& text) {
  try {
    return addCommandLineTag(ctx, text);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Out Of Memory.\n");
    return Status::failed();
  }
}

std::string loaderTagsFilePath(const std::string& root, bool& cygdrive) {
  constexpr std::string_view kCygdrive = "/cygdrive/";
  constexpr size_t kMaxTagsPath = 1023;
  std::string path;
  cygdrive = root.compare(0, kCygdrive.size(), kCygdrive) == 0;
  if (cygdrive) {
    char drive = root.size() > kCygdrive.size() ? root[kCygdrive.size()] : '\0';
    std::string rest = root.size() > kCygdrive.size() + 1 ? root.substr(kCygdrive.size() + 1) : "";
    path = std::string(1, drive) + ":" + rest + "/system/include/vkm_tags.txt";
  } else if (root.size() > 2 && root[2] == '\\') {
    path = root + "\\system\\include\\vkm_tags.txt";
  } else {
    path = root + "/system/include/vkm_tags.txt";
  }
  path = path.c_str();  // a path is text: it ends at a zero byte
  if (path.size() > kMaxTagsPath) path.resize(kMaxTagsPath);
  return path;
}

Status readLoaderTagsFile(Context& ctx, const std::string& root) {
  ctx.moduleSettings.loaderTags = ctx.opt.loaderTags;
  bool cygdrive = false;
  std::string path;
  try {
    path = loaderTagsFilePath(root, cygdrive);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Out Of Memory.\n");
    return Status::failed();
  }
  if (cygdrive && ctx.opt.verbose) say(ctx, "Found cygdrive path adjusted to \"%s\"\n", path.c_str());
  TextFile file;
  if (!openTextFile(path, file)) {
    say(ctx, "***Error: can not open \"%s\"\n", path.c_str());
    return Status::failed();
  }
  Status r = Status::failed();
  try {
    r = readTagLines(ctx, file, path);
  } catch (const std::bad_alloc&) {
    say(ctx, "***Out Of Memory.\n");
  }
  closeTextFile(file);
  return r;
}

}  // namespace zv
