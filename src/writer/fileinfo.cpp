// The FileInfo record: the loader's description of a module. It tells the
// loader how large each region must be, the stack and heap sizes, the
// module's flags, the file name the module was built as (with room set aside
// after it for longer install paths) and the loader tags. Two tags, the SDK
// version and revision, are not stored as text: their numbers go into
// fixed fields of the record.
#include <cctype>
#include <cstring>

#include "writer/writer.h"

namespace zv {

namespace {

constexpr const char* kCygdrivePrefix = "/cygdrive/";
constexpr const char* kSdkRevisionTag = "EDBA_OS_SDK_REVISION";
constexpr const char* kSdkVersionTag = "EDBA_OS_SDK_VERSION";

// True when the first name.size() characters of `name` equal the start of
// `ref` the way a bounded string comparison sees them: a name longer than
// `ref` meets its terminator and differs; a zero character in the name ends
// the comparison when `ref` ends there too.
bool namePrefixOf(const std::string& name, const char* ref) {
  size_t refLen = std::strlen(ref);
  for (size_t i = 0; i < name.size(); ++i) {
    char r = i < refLen ? ref[i] : '\0';
    if (name[i] != r) return false;
    if (r == '\0') return true;
  }
  return true;
}

bool isScanSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

uint32_t filepathPadding(Context& ctx, const std::string& root) {
  int64_t r = static_cast<int64_t>(root.size());
  if (root.compare(0, std::strlen(kCygdrivePrefix), kCygdrivePrefix) == 0) r -= 9;
  int64_t padding = 84 - r;
  if (padding < 0) padding = 0;
  if (ctx.opt.verbose)
    say(ctx, "Found EDBA_ROOT = %s filepath_padding = %d EDBA_ROOT len = %d delta = %d\n", root.c_str(),
        static_cast<int>(padding), static_cast<int>(r), static_cast<int>(31 - r));
  return static_cast<uint32_t>(padding);
}

// A tag value is an SDK number when it reads as one unsigned decimal field
// and nothing else: white space may stand before the digits and after them,
// any other character after them makes it text. Numbers that do not fit 32
// bits are text too.
bool sdkTagNumber(const std::string& value, uint32_t& out) {
  size_t i = 0;
  while (i < value.size() && isScanSpace(value[i])) ++i;
  size_t digits = i;
  uint64_t v = 0;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
    v = v * 10 + static_cast<uint64_t>(value[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
    ++i;
  }
  if (i == digits) return false;
  while (i < value.size() && isScanSpace(value[i])) ++i;
  if (i != value.size()) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

Status sizeFileInfo(Context& ctx) {
  WriterState& w = ctx.wr;
  uint64_t e = uint64_t{ctx.opt.outputPathNarrow.size()} + ctx.moduleSettings.filepathPadding + kFileInfoHeaderSize + 1;
  const std::list<LoaderTag>& tags = ctx.moduleSettings.loaderTags;
  w.textTags.clear();
  for (const LoaderTag& tag : tags) {
    uint32_t* field = nullptr;
    if (namePrefixOf(tag.name, kSdkRevisionTag))
      field = &w.fi.sdkRevision;
    else if (namePrefixOf(tag.name, kSdkVersionTag))
      field = &w.fi.sdkVersion;
    uint32_t number = 0;
    if (field && sdkTagNumber(tag.value, number)) {
      *field = number;
      continue;
    }
    w.textTags.push_back(tag);
    e += tag.name.size() + tag.value.size() + 2;
  }
  if (!tags.empty()) e += 3;
  w.fileInfoSize = static_cast<uint32_t>(e);
  if (e > 0xFFFF0000u) {
    say(ctx, "***Error: Mem alloc failed.\n");
    return Status::failed();
  }
  return {};
}

namespace {

// Copies `text` into the record at `pos` followed by a zero byte; the record
// was sized for every string, the check only guards against a caller that
// changed the tags in between.
uint64_t putString(std::vector<uint8_t>& rec, uint64_t pos, const std::string& text) {
  if (pos + text.size() + 1 > rec.size()) return rec.size();
  std::memcpy(rec.data() + pos, text.data(), text.size());
  rec[pos + text.size()] = 0;
  return pos + text.size() + 1;
}

}  // namespace

Status fillFileInfo(Context& ctx) {
  WriterState& w = ctx.wr;
  w.fileInfo.assign(w.fileInfoSize, 0);
  FileInfoHeader& fi = w.fi;
  fi.magic = kFileInfoMagic;
  fi.fixedValue = kFileInfoFixedValue;
  fi.compressionLevel = static_cast<uint32_t>(ctx.opt.compressLevel);
  fi.trailerSize = w.fileInfoSize - kFileInfoHeaderSize;
  fi.fileInfoAreaSize = ctx.opt.sizeFileInfo;
  fi.flags = (ctx.opt.dynamicOnly ? kFlagDynamicOnly : 0) | (ctx.facts.outputIsVkx ? kFlagVkx : 0) |
             (ctx.lay.tlsPresent ? kFlagTls : 0);
  fi.fileNameOffset = kFileInfoHeaderSize;
  fi.tlsAlignShift = ctx.lay.tlsAlignShift;
  std::string rel = relativeOutputPath(ctx);
  uint64_t pos = putString(w.fileInfo, kFileInfoHeaderSize, rel);
  fi.tagsOffset = 0;
  if (!w.textTags.empty()) {
    fi.tagsOffset = kFileInfoHeaderSize + static_cast<uint32_t>(rel.size()) + 1;
    for (const LoaderTag& t : w.textTags) {
      pos = putString(w.fileInfo, pos, t.name);
      pos = putString(w.fileInfo, pos, t.value);
    }
    // Three zero bytes end the list; the record is zero-filled already.
  }
  return {};
}

void copyRegionSizes(Context& ctx) {
  const RegionSizes& sizes = ctx.lay.sizes;
  FileInfoHeader& fi = ctx.wr.fi;
  fi.textSize = sizes.text;
  fi.dataSize = sizes.data;
  fi.loadSize = sizes.load;
  fi.tempSize = sizes.temp;
  fi.trampAdj = sizes.trampAdj;
  fi.trampAddition = sizes.trampAddition;
}

void storeFileInfo(Context& ctx) {
  WriterState& w = ctx.wr;
  FileInfoHeader& fi = w.fi;
  fi.sdaBase = ctx.facts.sdaBase;
  fi.sda2Base = ctx.facts.sda2Base;
  fi.stackSize = ctx.opt.stackSize;
  fi.heapSize = ctx.opt.heapSize;
  fi.compressionLevel = static_cast<uint32_t>(ctx.opt.compressLevel);
  if (w.fileInfo.size() < kFileInfoHeaderSize) w.fileInfo.resize(kFileInfoHeaderSize, 0);
  storeFileInfoHeader(w.fileInfo.data(), fi);
}

}  // namespace zv
