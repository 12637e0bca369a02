// Validation of an ELF32 image and its conversion to host byte order. The
// ELF header, every section header and every program header are checked to
// lie inside the file and are copied, in host order, into the ElfImage; the
// entries of every symbol table and relocation section are checked against
// the tables they refer to. The symbol entries are converted to host order
// in place; relocation entries stay in the file's order unless their bytes
// are shared with another section (see image.h). A malformed image gives a
// 0xBAD000xx code naming the first fault found; nothing is printed here.
//
// Every offset plus size is summed in 64 bits, and every table record that
// is read lies wholly inside the file, whatever the entry sizes say.
#include <algorithm>
#include <new>

#include "elf/image.h"
#include "platform/parallel.h"

namespace zv {

namespace {

uint32_t orDefault(uint32_t stored, uint32_t dflt) { return stored ? stored : dflt; }

// The first byte after a table of `num` records `stride` bytes apart, each of
// which is read as `record` bytes: with a stride below the record size the
// last record reaches beyond num x stride.
uint64_t tableEnd(uint32_t off, uint32_t num, uint32_t stride, uint32_t record) {
  uint64_t end = uint64_t(off) + uint64_t(num) * stride;
  if (num == 0) return end;
  return std::max(end, uint64_t(off) + uint64_t(num - 1) * stride + record);
}

bool startsIn(uint64_t x, uint64_t start, uint64_t end) { return start <= x && x < end; }

// The ELF header size in use: 0 stands for the standard 52 bytes.
uint32_t headerSize(const ElfImage& img) { return orDefault(img.eh.e_ehsize, kEhdrSize); }

// One stretch of the file that a section or segment occupies; `used` is false
// for those that take no part in the placement tests.
struct FileRange {
  uint64_t start = 0;
  uint64_t end = 0;
  bool used = false;
};

// For every range, whether its start lies inside a range that comes later in
// the list. One backward sweep with a prefix-maximum tree over the starts
// keeps this at n log n, so a table of 65535 headers costs little.
std::vector<uint8_t> startsInsideLater(const std::vector<FileRange>& r) {
  std::vector<uint64_t> keys;
  for (const FileRange& x : r)
    if (x.used) keys.push_back(x.start);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<uint64_t> maxEnd(keys.size() + 1, 0);
  std::vector<uint8_t> inside(r.size(), 0);
  for (size_t k = r.size(); k-- > 0;) {
    if (!r[k].used) continue;
    size_t pos = size_t(std::upper_bound(keys.begin(), keys.end(), r[k].start) - keys.begin());
    uint64_t best = 0;
    for (size_t i = pos; i > 0; i &= i - 1) best = std::max(best, maxEnd[i]);
    inside[k] = best > r[k].start;
    for (size_t i = pos; i < maxEnd.size(); i += i & (~i + 1)) maxEnd[i] = std::max(maxEnd[i], r[k].end);
  }
  return inside;
}

// --- ELF header --------------------------------------------------------------

Status checkIdent(const uint8_t* base, uint32_t size) {
  if (!base || size < 260) return bad::kFileTooSmall;
  if (base[0] != 0x7F || base[1] != 'E' || base[2] != 'L' || base[3] != 'F') return bad::kMagic;
  if (base[EI_CLASS] != ELFCLASS32) return bad::kClass;
  if (base[EI_VERSION] > 1) return bad::kIdentVersion;
  return {};
}

Status checkHeaderFields(const ElfImage& img) {
  const Elf32_Ehdr& eh = img.eh;
  if (eh.e_machine == 0) return bad::kMachine;
  if (eh.e_version != 1) return bad::kVersion;
  if (eh.e_ehsize != 0 && eh.e_ehsize < kEhdrSize) return bad::kEhsizeSmall;
  uint32_t ehsize = headerSize(img);
  if (int32_t(ehsize) >= int32_t(img.size - 208)) return bad::kEhsizeLarge;
  if (eh.e_phoff != 0 && (eh.e_phoff < ehsize || eh.e_phoff >= img.size)) return bad::kPhoff;
  if (eh.e_shoff != 0 && (eh.e_shoff < ehsize || eh.e_shoff >= img.size)) return bad::kShoff;
  if (eh.e_shstrndx != 0 && (eh.e_shstrndx >= eh.e_shnum || eh.e_shstrndx >= SHN_LORESERVE)) return bad::kShstrndx;
  if (eh.e_phoff != 0 && tableEnd(eh.e_phoff, eh.e_phnum, img.phentsize, kPhdrSize) > img.size) return bad::kPhTable;
  // A zero e_shoff is not exempt here: the table is then read from the start
  // of the file, and it must lie inside the file all the same.
  if (tableEnd(eh.e_shoff, eh.e_shnum, img.shentsize, kShdrSize) > img.size) return bad::kShTable;
  return {};
}

// Section header 0 is kept as stored; the others are converted.
void readSectionHeaders(ElfImage& img) {
  img.sh.resize(img.eh.e_shnum);
  for (uint32_t i = 0; i < img.sh.size(); ++i) {
    img.sh[i] = loadRecord<Elf32_Shdr>(img.base + img.eh.e_shoff + uint64_t(i) * img.shentsize);
    if (i != 0 && img.swap) swapSectionHeader(img.sh[i]);
  }
}

// A zero e_phoff means the file has no program header table, whatever e_phnum says.
void readProgramHeaders(ElfImage& img) {
  if (img.eh.e_phoff == 0) return;
  img.ph.resize(img.eh.e_phnum);
  for (uint32_t i = 0; i < img.ph.size(); ++i) {
    img.ph[i] = loadRecord<Elf32_Phdr>(img.base + img.eh.e_phoff + uint64_t(i) * img.phentsize);
    if (img.swap) swapProgramHeader(img.ph[i]);
  }
}

bool hasFileData(const Elf32_Shdr& h) { return h.sh_size != 0 && h.sh_type != SHT_NOBITS; }
bool hasFileData(const Elf32_Phdr& p) { return p.p_filesz != 0 && p.p_type != PT_NULL; }

Status checkSectionPlacement(const ElfImage& img) {
  const Elf32_Ehdr& eh = img.eh;
  std::vector<FileRange> ranges(img.sh.size());
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    ranges[i] = {h.sh_offset, uint64_t(h.sh_offset) + h.sh_size, hasFileData(h)};
  }
  std::vector<uint8_t> overlaps = startsInsideLater(ranges);
  uint64_t phEnd = uint64_t(eh.e_phoff) + uint64_t(eh.e_phnum) * img.phentsize;
  uint64_t shEnd = uint64_t(eh.e_shoff) + uint64_t(eh.e_shnum) * img.shentsize;
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    if (!ranges[i].used) continue;
    uint32_t o = img.sh[i].sh_offset;
    if (o < headerSize(img)) return bad::kSecInHeader;
    if (eh.e_phoff != 0 && eh.e_phnum != 0 && startsIn(o, eh.e_phoff, phEnd)) return bad::kSecInPh;
    if (startsIn(o, eh.e_shoff, shEnd)) return bad::kSecInSh;
    if (overlaps[i]) return bad::kSecOverlap;
  }
  return {};
}

// The first program header takes no part in the segment tests.
Status checkSegmentPlacement(const ElfImage& img) {
  std::vector<FileRange> ranges(img.ph.size());
  for (uint32_t i = 1; i < img.ph.size(); ++i) {
    const Elf32_Phdr& p = img.ph[i];
    ranges[i] = {p.p_offset, uint64_t(p.p_offset) + p.p_filesz, hasFileData(p)};
  }
  std::vector<uint8_t> overlaps = startsInsideLater(ranges);
  for (uint32_t i = 1; i < img.ph.size(); ++i)
    if (ranges[i].used && overlaps[i]) return bad::kSegOverlap;
  return {};
}

// --- Extents and section names ----------------------------------------------

Status checkExtents(const ElfImage& img) {
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    if (hasFileData(h) && uint64_t(h.sh_offset) + h.sh_size > img.size) return bad::kSecPastEnd;
  }
  for (uint32_t i = 1; i < img.ph.size(); ++i) {
    const Elf32_Phdr& p = img.ph[i];
    if (hasFileData(p) && uint64_t(p.p_offset) + p.p_filesz > img.size) return bad::kSegPastEnd;
  }
  return {};
}

bool isCompressed(const Elf32_Shdr& h) { return (h.sh_flags & SHF_VKM_COMPRESSED) != 0; }

// The first word of a compressed section's data: its size before
// compression, always stored most-significant byte first (whatever order the
// rest of the file uses). False when the file does not hold those bytes.
bool firstWord(const ElfImage& img, const Elf32_Shdr& h, uint32_t& out) {
  if (uint64_t(h.sh_offset) + 4 > img.size) return false;
  out = loadBE32(img.base + h.sh_offset);
  return true;
}

// The size of a section's contents as the program sees them: for a
// compressed section the size before compression (0 when the size word is
// missing), else sh_size. A module read back from disk keeps an uncompressed
// symbol table beside compressed sections, so the symbol and relocation
// checks measure against this size.
uint32_t contentSize(const ElfImage& img, const Elf32_Shdr& h) {
  if (!isCompressed(h)) return h.sh_size;
  uint32_t size = 0;
  return firstWord(img, h, size) ? size : 0;
}

// A compressed name table whose size word lies outside the file has no room
// for any name.
Status checkSectionNames(const ElfImage& img) {
  uint32_t idx = img.eh.e_shstrndx;
  if (idx == 0) return {};
  const Elf32_Shdr& names = img.sh[idx];
  if (names.sh_type != SHT_STRTAB) return bad::kShstrType;
  uint32_t length = names.sh_size;
  if (isCompressed(names) && !firstWord(img, names, length)) length = 0;
  for (uint32_t i = 1; i < img.sh.size(); ++i)
    if (img.sh[i].sh_name >= length) return bad::kSecName;
  return {};
}

// Symbol tables and relocation sections are converted and later rewritten in
// place, so no two of them may share bytes: a shared entry would be converted
// twice (back to the file's order) and rewritten for two tables. Sorting the
// tables by offset finds any overlap in n log n.
Status checkTablesApart(const ElfImage& img) {
  std::vector<FileRange> tables;
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    const Elf32_Shdr& h = img.sh[i];
    bool table = h.sh_type == SHT_SYMTAB || h.sh_type == SHT_RELA || h.sh_type == SHT_REL;
    if (table && h.sh_size != 0 && !isCompressed(h))
      tables.push_back({h.sh_offset, uint64_t(h.sh_offset) + h.sh_size, true});
  }
  std::sort(tables.begin(), tables.end(), [](const FileRange& a, const FileRange& b) { return a.start < b.start; });
  for (size_t k = 1; k < tables.size(); ++k)
    if (tables[k].start < tables[k - 1].end) return bad::kSecOverlap;
  return {};
}

// Whether each section is a symbol or relocation table whose bytes no other
// section shows. Ranges sorted by start: a table overlaps another range when
// one that starts before it reaches past its start, or the next one starts
// before its end.
std::vector<uint8_t> tablesOnTheirOwn(const ElfImage& img) {
  std::vector<uint8_t> alone(img.sh.size(), 0);
  std::vector<uint32_t> order;
  for (uint32_t i = 1; i < img.sh.size(); ++i)
    if (hasFileData(img.sh[i])) order.push_back(i);
  auto start = [&](uint32_t i) { return uint64_t{img.sh[i].sh_offset}; };
  auto end = [&](uint32_t i) { return uint64_t{img.sh[i].sh_offset} + img.sh[i].sh_size; };
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return start(a) < start(b); });
  uint64_t reach = 0;  // furthest end of the ranges before position k
  for (size_t k = 0; k < order.size(); ++k) {
    uint32_t i = order[k];
    const Elf32_Shdr& h = img.sh[i];
    bool table = h.sh_type == SHT_SYMTAB || h.sh_type == SHT_RELA || h.sh_type == SHT_REL;
    bool shared = (k > 0 && reach > start(i)) || (k + 1 < order.size() && start(order[k + 1]) < end(i));
    alone[i] = table && !isCompressed(h) && !shared;
    reach = std::max(reach, end(i));
  }
  return alone;
}

// Whether the header of section 0, kept as stored, describes bytes of table
// i. Nothing checks that header, yet the stages may read and write through it
// (a symbol table linked to section 0, a string table of that type), so a
// table it shows must not be left in the view where those writes land.
bool sectionZeroShows(const ElfImage& img, uint32_t i) {
  const Elf32_Shdr& zero = img.sh[0];
  const Elf32_Shdr& h = img.sh[i];
  if (!hasFileData(zero)) return false;
  uint64_t zeroEnd = uint64_t{zero.sh_offset} + zero.sh_size, end = uint64_t{h.sh_offset} + h.sh_size;
  return zero.sh_offset < end && h.sh_offset < zeroEnd;
}

// A symbol table the parse converts to host order gets storage of its own
// first, in one copy; writing into the file's private view would copy it page
// by page as it is touched. A relocation table stays in the view, in the
// file's order, until its symbols are renumbered (if ever): that writes it
// into storage of its own. A table whose bytes another section also shows
// stays in the view, so that section sees the table's bytes exactly as before;
// a relocation table that section 0 shows is copied at once, as a symbol table.
void moveTablesToOwnStorage(ElfImage& img, const std::vector<uint8_t>& alone) {
  try {
    for (uint32_t i = 1; i < img.sh.size(); ++i)
      if (alone[i] && (img.sh[i].sh_type == SHT_SYMTAB || sectionZeroShows(img, i)))
        replaceSectionBytes(img, i, sectionBytes(img, i).size());
  } catch (const std::bad_alloc&) {
    // Short of memory the tables stay where they are: slower, not wrong.
  }
}

// --- Table entries ------------------------------------------------------------

// A table walked by the parse: each entry read in host order and, when the
// table is being converted, stored back so. The choice is taken once, not
// per entry (a store into the bytes could change anything as far as the
// compiler knows).
template <typename T>
struct ParsedEntries {
  EntryTable<T> table;
  bool convert;
  T get(uint32_t n) const {
    T rec = table.get(n);
    if (convert) storeEntry(table.data + n * table.stride, rec);
    return rec;
  }
};

// Object and function symbols must lie inside the allocated section they name.
Status checkSymbolTarget(const ElfImage& img, const Elf32_Sym& s) {
  uint8_t type = symType(s);
  if (s.st_shndx == SHN_UNDEF || s.st_shndx >= SHN_LORESERVE) return {};
  if (type == STT_SECTION || type == STT_FILE) return {};
  if (s.st_shndx >= img.sh.size()) return bad::kSymShndx;
  if (type != STT_OBJECT && type != STT_FUNC) return {};
  const Elf32_Shdr& t = img.sh[s.st_shndx];
  if (t.sh_size == 0 || (t.sh_flags & SHF_ALLOC) == 0) return {};
  bool object = type == STT_OBJECT;
  if (t.sh_type == SHT_NULL) return object ? bad::kObjInNull : bad::kFuncInNull;
  uint32_t d = s.st_value - t.sh_addr;
  uint32_t size = contentSize(img, t);
  if (d > size || uint64_t(d) + s.st_size > size) return object ? bad::kObjOutside : bad::kFuncOutside;
  return {};
}

// A relocation section aimed at a null section carries no relocations; its
// first entry must be zero, and the section is then emptied. Testing the
// entry in 32-bit words (aligned sections) or bytes finds the same zeros;
// the words only add the demand for a whole number of them.
Status emptyNullTarget(ElfImage& img, uint32_t r, uint32_t stride, Status code) {
  Elf32_Shdr& h = img.sh[r];
  if (h.sh_addralign >= 4 && stride % 4 != 0) return code;
  std::span<uint8_t> bytes = sectionBytes(img, r);
  if (bytes.size() < stride) return code;
  if (std::any_of(bytes.begin(), bytes.begin() + stride, [](uint8_t b) { return b != 0; })) return code;
  h.sh_size = 0;
  img.emptyNullRelaSeen = true;
  return {};
}

// Number of symbols in the table a relocation section uses. A compressed
// table states it in its first word; without that word it has none.
uint32_t relocSymbolCount(const ElfImage& img, const Elf32_Shdr& symtab, uint32_t stride) {
  return contentSize(img, symtab) / stride;
}

// The codes of one kind of relocation section.
struct RelocCodes {
  uint32_t recordSize;
  Status entsize, tooSmall, link, linkType, symEntsize, info, null, sym;
};
constexpr RelocCodes kRelaCodes{kRelaSize,      bad::kRelaEntsize,  bad::kRelaTooSmall,
                                bad::kRelaLink, bad::kRelaLinkType, bad::kRelaSymEntsize,
                                bad::kRelaInfo, bad::kRelaNull,     bad::kRelaSym};
constexpr RelocCodes kRelCodes{kRelSize,      bad::kRelEntsize,  bad::kRelTooSmall,
                               bad::kRelLink, bad::kRelLinkType, bad::kRelSymEntsize,
                               bad::kRelInfo, bad::kRelNull,     bad::kRelSym};

// The checks shared by both kinds up to the entries: entry size, link, symbol
// table and target. `symbols` receives the symbol count; `skip` is set when a
// RELA section without a symbol table is accepted as it is.
Status checkRelocFrame(const ElfImage& img, uint32_t r, const RelocCodes& c, uint32_t& symbols, bool& skip) {
  const Elf32_Shdr& h = img.sh[r];
  bool rela = h.sh_type == SHT_RELA;
  uint32_t stride = orDefault(h.sh_entsize, c.recordSize);
  if (stride < c.recordSize) return c.entsize;
  if (h.sh_size / stride == 0) return c.tooSmall;
  if (!namesSection(img, h.sh_link)) return c.link;
  if (rela && h.sh_link == 0) {
    skip = true;
    return {};
  }
  const Elf32_Shdr& symtab = img.sh[h.sh_link];
  if (symtab.sh_type != SHT_SYMTAB) return c.linkType;
  uint32_t symStride = orDefault(symtab.sh_entsize, kSymSize);
  if (symStride < kSymSize) return c.symEntsize;
  symbols = relocSymbolCount(img, symtab, symStride);
  if (!namesSection(img, h.sh_info)) return c.info;
  return {};
}

// With sh_link 0 the table has no string table, and the names are not tested.
Status checkSymbolSection(ElfImage& img, uint32_t index, bool convert) {
  if (!namesSection(img, index)) return {};
  const Elf32_Shdr h = img.sh[index];
  if (h.sh_size == 0) return {};
  if (!namesSection(img, h.sh_link)) return bad::kSymLink;
  if (h.sh_link != 0 && img.sh[h.sh_link].sh_type != SHT_STRTAB) return bad::kSymLinkType;
  uint32_t stride = orDefault(h.sh_entsize, kSymSize);
  if (stride < kSymSize) return bad::kSymEntsize;
  uint32_t count = h.sh_size / stride;
  if (count == 0) return bad::kSymTooSmall;
  uint32_t stringsSize = contentSize(img, img.sh[h.sh_link]);
  const ParsedEntries<Elf32_Sym> table{symTable(img, index), convert};
  for (uint32_t n = 0; n < table.table.count; ++n) {
    Elf32_Sym s = table.get(n);
    if (h.sh_link != 0 && s.st_name >= stringsSize) return bad::kSymName;
    if (Status e = checkSymbolTarget(img, s); !e.ok()) return e;
  }
  return {};
}

// A RELA section with sh_link 0 is accepted at once, its entries untested.
Status checkRelaSection(ElfImage& img, uint32_t index, bool convert) {
  if (!namesSection(img, index) || img.sh[index].sh_size == 0) return {};
  uint32_t symbols = 0;
  bool skip = false;
  if (Status e = checkRelocFrame(img, index, kRelaCodes, symbols, skip); !e.ok()) return e;
  const Elf32_Shdr h = img.sh[index];
  uint32_t stride = orDefault(h.sh_entsize, kRelaSize);
  if (!skip && img.sh[h.sh_info].sh_type == SHT_NULL) return emptyNullTarget(img, index, stride, bad::kRelaNull);
  // The parts of a large table are walked side by side; each stops at its
  // first bad entry, and the run fails as soon as any part found one.
  const ParsedEntries<Elf32_Rela> table{relaTable(img, index), convert};
  Parts parts = splitEntries(table.table.count, img.threads);
  std::vector<uint8_t> bad(parts.parts, 0);
  forEachPart(parts, [&](uint32_t k, uint32_t begin, uint32_t end) {
    const ParsedEntries<Elf32_Rela> local = table;  // in registers: the stores below could alias it
    for (uint32_t n = begin; n < end; ++n) {
      Elf32_Rela r = local.get(n);
      if (!skip && relType(r.r_info) != 0 && relSym(r.r_info) >= symbols) {
        bad[k] = 1;
        return;
      }
    }
  });
  return std::find(bad.begin(), bad.end(), uint8_t{1}) != bad.end() ? bad::kRelaSym : Status();
}

// REL entries are tested whatever their type, and against the target's size.
Status checkRelSection(ElfImage& img, uint32_t index, bool convert) {
  if (!namesSection(img, index) || img.sh[index].sh_size == 0) return {};
  uint32_t symbols = 0;
  bool skip = false;
  if (Status e = checkRelocFrame(img, index, kRelCodes, symbols, skip); !e.ok()) return e;
  const Elf32_Shdr h = img.sh[index];
  uint32_t stride = orDefault(h.sh_entsize, kRelSize);
  const Elf32_Shdr target = img.sh[h.sh_info];
  if (target.sh_type == SHT_NULL) return emptyNullTarget(img, index, stride, bad::kRelNull);
  const ParsedEntries<Elf32_Rel> table{entryTable<Elf32_Rel>(img, index, kRelSize), convert};
  for (uint32_t n = 0; n < table.table.count; ++n) {
    Elf32_Rel r = table.get(n);
    if (relSym(r.r_info) >= symbols) return bad::kRelSym;
    if (r.r_offset >= contentSize(img, target)) return bad::kRelOffset;
  }
  return {};
}

// Every table's entries checked. The parse converts to host order in place
// every symbol table and the relocation tables whose bytes another section
// also shows; the other relocation tables stay in the file's order.
Status checkTables(ElfImage& img) {
  img.hostOrder.assign(img.sh.size(), 0);
  img.copiedWhenRewritten.assign(img.sh.size(), 0);
  bool converting = img.swap && img.convertInPlace;
  std::vector<uint8_t> alone;
  if (img.convertInPlace) {
    alone = tablesOnTheirOwn(img);
    for (uint32_t i = 1; i < img.sh.size(); ++i)
      img.copiedWhenRewritten[i] = alone[i] && img.sh[i].sh_type == SHT_RELA && !sectionZeroShows(img, i);
  }
  if (converting) moveTablesToOwnStorage(img, alone);
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    if (isCompressed(img.sh[i]) || img.sh[i].sh_type != SHT_SYMTAB) continue;
    if (Status e = checkSymbolSection(img, i, converting); !e.ok()) return e;
    img.hostOrder[i] = converting;
  }
  for (uint32_t i = 1; i < img.sh.size(); ++i) {
    uint32_t type = img.sh[i].sh_type;
    if (isCompressed(img.sh[i]) || (type != SHT_RELA && type != SHT_REL)) continue;
    bool convert = converting && !alone[i];
    Status e = type == SHT_RELA ? checkRelaSection(img, i, convert) : checkRelSection(img, i, convert);
    if (!e.ok()) return e;
    img.hostOrder[i] = convert;
  }
  return {};
}

}  // namespace

// --- Public checks ------------------------------------------------------------

Status checkElfHeader(uint8_t* base, uint32_t size, ElfImage& img) {
  img = ElfImage{};
  if (Status e = checkIdent(base, size); !e.ok()) return e;
  img.base = base;
  img.size = size;
  img.swap = base[EI_DATA] != ELFDATA2LSB;
  img.eh = loadRecord<Elf32_Ehdr>(base);
  if (img.swap) swapElfHeader(img.eh);
  img.phentsize = orDefault(img.eh.e_phentsize, kPhdrSize);
  img.shentsize = orDefault(img.eh.e_shentsize, kShdrSize);
  if (Status e = checkHeaderFields(img); !e.ok()) return e;
  readSectionHeaders(img);
  if (Status e = checkSectionPlacement(img); !e.ok()) return e;
  readProgramHeaders(img);
  return checkSegmentPlacement(img);
}

Status parseElfImage(uint8_t* base, uint32_t size, ElfImage& img, bool convert, uint32_t threads) {
  if (Status e = checkElfHeader(base, size, img); !e.ok()) return e;
  img.convertInPlace = convert;
  img.threads = threads;
  if (Status e = checkExtents(img); !e.ok()) return e;
  if (Status e = checkSectionNames(img); !e.ok()) return e;
  if (Status e = checkTablesApart(img); !e.ok()) return e;
  return checkTables(img);
}

}  // namespace zv
