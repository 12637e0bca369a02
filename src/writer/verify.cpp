// The check of a module file after it was written and read back: the loader
// expects the section header table, the CRC words and the FileInfo record in
// front, then the writable data, then its own tables, then the code, then
// the load-time-only sections, each group behind the one before and all of
// it inside the file. Only file offsets are compared; addresses only tell the
// data group from the loader's read-only group.
#include <algorithm>

#include "writer/writer.h"

namespace zv {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kDataStart = 0x10000000, kDataLast = 0xBFFFFFFF;

struct Span {
  uint32_t min = kNone;
  uint32_t max = 0;
  void add(const Elf32_Shdr& h) {
    if (h.sh_offset < min) min = h.sh_offset;
    uint32_t end = h.sh_offset + h.sh_size;  // as the loader computes it
    if (end > max) max = end;
  }
  bool empty() const { return min == kNone; }
  void collapseTo(uint32_t at) { min = max = at; }
};

struct Offsets {
  uint32_t secHdrs = 0;
  uint32_t crcs = kNone;
  uint32_t fileInfo = kNone;
  uint64_t frontEnd = 0;  // end of the CRC and FileInfo contents seen
  bool frontSeen = false;
  Span data, read, text, temp;
};

Span& group_for(Offsets& o, const Elf32_Shdr& h) {
  bool table = h.sh_type == SHT_VKM_EXPORTS || h.sh_type == SHT_VKM_IMPORTS;
  if ((h.sh_flags & SHF_EXECINSTR) && !table) return o.text;
  if (!(h.sh_flags & SHF_ALLOC)) return o.temp;
  if (h.sh_addr >= kDataStart && h.sh_addr <= kDataLast) return o.data;
  return o.read;
}

void note_front(Offsets& o, const Elf32_Shdr& h) {
  uint64_t end = uint64_t{h.sh_offset} + h.sh_size;
  if (!o.frontSeen || end > o.frontEnd) o.frontEnd = end;
  o.frontSeen = true;
}

// Sorts every section with contents into its group; false on a duplicate
// CRC or FileInfo section (its message printed).
bool classify(Context& ctx, const ElfImage& img, Offsets& o) {
  uint32_t count = std::min<uint32_t>(img.eh.e_shnum, sectionCount(img));
  for (uint32_t i = 0; i < count; ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (h.sh_size == 0) continue;
    if (h.sh_type == SHT_VKM_FILEINFO) {
      if (o.fileInfo != kNone) {
        say(ctx, "***Error: more than one fileinfo section in target file! return -1.\n");
        return false;
      }
      o.fileInfo = h.sh_offset;
      note_front(o, h);
    } else if (h.sh_type == SHT_VKM_CRCS) {
      if (o.crcs != kNone) {
        say(ctx, "***Error: more than one crcs section in target file! return -1.\n");
        return false;
      }
      o.crcs = h.sh_offset;
      note_front(o, h);
    } else if (h.sh_type != SHT_NOBITS) {
      group_for(o, h).add(h);
    }
  }
  return true;
}

// An empty group sits at the point where the one before it ended. The data
// group, first of all, starts where the section contents begin: behind the
// CRC and FileInfo sections, on the next 64-byte boundary.
void apply_defaults(const ElfImage& img, Offsets& o) {
  if (o.data.empty()) {
    uint64_t start = o.frontSeen ? (o.frontEnd + 63) & ~uint64_t{63}
                                 : uint64_t{img.eh.e_shoff} + uint64_t{img.eh.e_shnum} * img.eh.e_shentsize;
    o.data.collapseTo(static_cast<uint32_t>(std::min<uint64_t>(start, kNone)));
  }
  if (o.read.empty()) o.read.collapseTo(o.data.max);
  if (o.text.empty()) o.text.collapseTo(o.read.max);
  if (o.temp.empty()) o.temp.collapseTo(o.text.max);
}

const char* first_failed_check(const Offsets& o, uint32_t eof) {
  if (!(o.secHdrs < o.data.min && o.fileInfo < o.data.min && o.crcs < o.data.min))
    return "***Error: SecHrs, FileInfo, or CRCs in bad spot in file. Return -1.\n";
  if (o.data.min > o.data.max) return "***Error: DataMin > DataMax. break.\n";
  if (o.data.min > o.read.min) return "***Error: DataMin > ReadMin. break.\n";
  if (o.data.max > o.read.min) return "***Error: DataMax > ReadMin. break.\n";
  if (o.read.min > o.read.max) return "***Error: ReadMin > ReadMax. break.\n";
  if (o.read.min > o.text.min) return "***Error: ReadMin > TextMin. break.\n";
  if (o.read.max > o.text.min) return "***Error: ReadMax > TextMin. break.\n";
  if (o.text.min > o.text.max) return "***Error: TextMin > TextMax. break.\n";
  if (o.text.min > o.temp.min) return "***Error: TextMin > TempMin. break.\n";
  if (o.text.max > o.temp.min) return "***Error: TextMax > TempMin. break.\n";
  if (o.temp.min > o.temp.max) return "***Error: TempMin > TempMax. break.\n";
  if (o.temp.min > eof) return "***Error: TempMin > eof. break.\n";
  if (o.temp.max > eof) return "***Error: TempMax > eof. break.\n";
  return nullptr;
}

void print_offsets(Context& ctx, const Offsets& o) {
  say(ctx, "foff_SecHdrs  = 0x%08X\n", o.secHdrs);
  say(ctx, "foff_CRCs     = 0x%08X\n", o.crcs);
  say(ctx, "foff_FileInfo = 0x%08X\n", o.fileInfo);
  say(ctx, "foff_DataMin  = 0x%08X\n", o.data.min);
  say(ctx, "foff_DataMax  = 0x%08X\n", o.data.max);
  say(ctx, "foff_ReadMin  = 0x%08X\n", o.read.min);
  say(ctx, "foff_ReadMax  = 0x%08X\n", o.read.max);
  say(ctx, "foff_TextMin  = 0x%08X\n", o.text.min);
  say(ctx, "foff_TextMax  = 0x%08X\n", o.text.max);
  say(ctx, "foff_TempMin  = 0x%08X\n", o.temp.min);
  say(ctx, "foff_TempMax  = 0x%08X\n", o.temp.max);
}

}  // namespace

uint32_t verifyGeneratedLayout(Context& ctx, const ElfImage& img, uint32_t eof) {
  Offsets o;
  o.secHdrs = img.eh.e_shoff;
  if (!classify(ctx, img, o)) return kNone;
  apply_defaults(img, o);
  const char* failure = first_failed_check(o, eof);
  if (!failure) return 0;
  say(ctx, "%s", failure);
  print_offsets(ctx, o);
  return kNone;
}

}  // namespace zv
