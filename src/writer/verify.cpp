// The check of a module file's layout when it is read back: the loader
// expects the section header table, the CRC words and the FileInfo record in
// front, then the writable data, then its own tables, then the code, then
// the load-time-only sections, each group behind the one before and all of
// it inside the file. Only file offsets are compared; addresses only tell the
// data group from the loader's read-only group.
//
// The check collects every fault it finds. The converter reports the first
// one as it always has (a duplicate CRC or FileInfo section, else the first
// order check that fails, with the table of offsets); the module viewer
// lists them all.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

enum Value {
  kSecHdrs,
  kCrcs,
  kFileInfo,
  kDataMin,
  kDataMax,
  kReadMin,
  kReadMax,
  kTextMin,
  kTextMax,
  kTempMin,
  kTempMax,
  kEof
};

// The offsets of one group: lowest start and highest end of its sections.
struct Span {
  uint32_t& min;
  uint32_t& max;
  void add(const Elf32_Shdr& h) {
    if (h.sh_offset < min) min = h.sh_offset;
    uint32_t end = h.sh_offset + h.sh_size;  // as the loader computes it
    if (end > max) max = end;
  }
  bool empty() const { return min == kNone; }
  void collapseTo(uint32_t at) { min = max = at; }
};

struct Scan {
  LayoutFindings& f;
  uint64_t frontEnd = 0;  // end of the CRC and FileInfo contents seen
  bool frontSeen = false;
  Span data{f.values[kDataMin], f.values[kDataMax]};
  Span read{f.values[kReadMin], f.values[kReadMax]};
  Span text{f.values[kTextMin], f.values[kTextMax]};
  Span temp{f.values[kTempMin], f.values[kTempMax]};
};

Span& groupFor(Scan& s, const Elf32_Shdr& h) {
  bool table = h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_IMPORTS;
  if ((h.sh_flags & SHF_EXECINSTR) && !table) return s.text;
  if (!(h.sh_flags & SHF_ALLOC)) return s.temp;
  if (h.sh_addr >= kDataLow && h.sh_addr <= kDataHigh) return s.data;
  return s.read;
}

void noteFront(Scan& s, const Elf32_Shdr& h) {
  uint64_t end = uint64_t{h.sh_offset} + h.sh_size;
  if (!s.frontSeen || end > s.frontEnd) s.frontEnd = end;
  s.frontSeen = true;
}

// Records the offset of the CRC or FileInfo section in `slot`; a second one
// is a fault (the first one's offset stays).
void noteSingle(Scan& s, uint32_t index, const Elf32_Shdr& h, Value slot, const char* message, const char* what) {
  if (s.f.values[slot] != kNone) {
    s.f.faults.push_back({message, "section " + std::to_string(index) + " is a second " + what + " section"});
    return;
  }
  s.f.values[slot] = h.sh_offset;
  noteFront(s, h);
}

// Sorts every section with contents into its group.
void classify(const ElfImage& img, Scan& s) {
  uint32_t count = std::min<uint32_t>(img.eh.e_shnum, sectionCount(img));
  for (uint32_t i = 0; i < count; ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_size == 0) continue;
    if (h.sh_type == SHT_VKM_FILEINFO)
      noteSingle(s, i, h, kFileInfo, "***Error: more than one fileinfo section in target file! return -1.\n",
                 "FileInfo");
    else if (h.sh_type == SHT_VKM_CRCS)
      noteSingle(s, i, h, kCrcs, "***Error: more than one crcs section in target file! return -1.\n", "CRC");
    else if (h.sh_type != SHT_NOBITS)
      groupFor(s, h).add(h);
  }
}

// An empty group sits at the point where the one before it ended. The data
// group, first of all, starts where the section contents begin: behind the
// CRC and FileInfo sections, on the next 64-byte boundary.
void applyDefaults(const ElfImage& img, Scan& s) {
  if (s.data.empty()) {
    uint64_t start = s.frontSeen ? (s.frontEnd + 63) & ~uint64_t{63}
                                 : uint64_t{img.eh.e_shoff} + uint64_t{img.eh.e_shnum} * img.eh.e_shentsize;
    s.data.collapseTo(static_cast<uint32_t>(std::min<uint64_t>(start, kNone)));
  }
  if (s.read.empty()) s.read.collapseTo(s.data.max);
  if (s.text.empty()) s.text.collapseTo(s.read.max);
  if (s.temp.empty()) s.temp.collapseTo(s.text.max);
}

// The order checks, in the order the converter makes them: `a` must lie
// below `b` (strictly for the front tables, else or at it).
struct OrderCheck {
  Value a, b;
  bool strict;
  const char* message;
  const char* meaning;
};
constexpr const char* kFrontMessage = "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n";
constexpr OrderCheck kOrderChecks[] = {
    {kSecHdrs, kDataMin, true, kFrontMessage, "the section header table does not lie before the DATA group"},
    {kFileInfo, kDataMin, true, kFrontMessage, "the FileInfo record is missing or does not lie before the DATA group"},
    {kCrcs, kDataMin, true, kFrontMessage, "the CRC words are missing or do not lie before the DATA group"},
    {kDataMin, kDataMax, false, "***Error: DataMin > DataMax. break.\n", "the DATA group ends before it starts"},
    {kDataMin, kReadMin, false, "***Error: DataMin > ReadMin. break.\n", "the LOAD group starts before the DATA group"},
    {kDataMax, kReadMin, false, "***Error: DataMax > ReadMin. break.\n", "the DATA group runs into the LOAD group"},
    {kReadMin, kReadMax, false, "***Error: ReadMin > ReadMax. break.\n", "the LOAD group ends before it starts"},
    {kReadMin, kTextMin, false, "***Error: ReadMin > TextMin. break.\n", "the TEXT group starts before the LOAD group"},
    {kReadMax, kTextMin, false, "***Error: ReadMax > TextMin. break.\n", "the LOAD group runs into the TEXT group"},
    {kTextMin, kTextMax, false, "***Error: TextMin > TextMax. break.\n", "the TEXT group ends before it starts"},
    {kTextMin, kTempMin, false, "***Error: TextMin > TempMin. break.\n", "the TEMP group starts before the TEXT group"},
    {kTextMax, kTempMin, false, "***Error: TextMax > TempMin. break.\n", "the TEXT group runs into the TEMP group"},
    {kTempMin, kTempMax, false, "***Error: TempMin > TempMax. break.\n", "the TEMP group ends before it starts"},
    {kTempMin, kEof, false, "***Error: TempMin > eof. break.\n", "the TEMP group starts past the end of the file"},
    {kTempMax, kEof, false, "***Error: TempMax > eof. break.\n", "the TEMP group runs past the end of the file"},
};

}  // namespace

const char* layoutValueName(int value) {
  static constexpr const char* kNames[kLayoutValueCount] = {"SecHdrs", "CRCs",    "FileInfo", "DataMin",
                                                            "DataMax", "ReadMin", "ReadMax",  "TextMin",
                                                            "TextMax", "TempMin", "TempMax",  "eof"};
  return value >= 0 && value < kLayoutValueCount ? kNames[value] : "";
}

LayoutFindings checkModuleLayout(const ElfImage& img, uint32_t eof) {
  LayoutFindings f;
  std::fill(std::begin(f.values), std::end(f.values), kNone);
  f.values[kSecHdrs] = img.eh.e_shoff;
  f.values[kDataMax] = f.values[kReadMax] = f.values[kTextMax] = f.values[kTempMax] = 0;
  f.values[kEof] = eof;
  Scan s{f};
  classify(img, s);
  f.duplicates = f.faults.size();
  applyDefaults(img, s);
  for (const OrderCheck& c : kOrderChecks) {
    uint32_t a = f.values[c.a], b = f.values[c.b];
    if (c.strict ? a < b : a <= b) continue;
    char values[96];
    std::snprintf(values, sizeof values, " (%s 0x%08X %s %s 0x%08X)", layoutValueName(c.a), a, c.strict ? ">=" : ">",
                  layoutValueName(c.b), b);
    f.faults.push_back({c.message, std::string(c.meaning) + values});
  }
  return f;
}

Status verifyGeneratedLayout(Context& ctx, const ElfImage& img, uint32_t eof) {
  LayoutFindings f = checkModuleLayout(img, eof);
  if (f.faults.empty()) return {};
  say(ctx, "%s", f.faults.front().message);
  if (f.duplicates > 0) return Status::failed();  // the scan stopped there: no table
  for (int i = kSecHdrs; i < kEof; ++i) say(ctx, "foff_%-8s = 0x%08X\n", layoutValueName(i), f.values[i]);
  return Status::failed();
}

}  // namespace zv
