// The import library in a real link. A module with exports (one of the
// corpus modules) is converted, which writes its module file and its import
// library; an importing module, written in assembly, is assembled and linked
// against that library by the PowerPC cross toolchain; the linked importer is
// converted in turn. The loader binds the importer's import sections to the
// exporter by the count and signature words it finds there and by slot
// position, so the importer's sections must carry the exporter's library
// name, its export counts and the signature words of its export tables, and
// the importer's symbols must take the slots in the exporter's entry order.
//
// What GNU ld does between the two conversions decides part of that: it
// copies the stub's import sections and symbols into the importer, but it
// writes global symbols in the order of its own hash table, not in the
// stub's order. The converter lays the import slots out in symbol-table
// order, so where the linker changed the order the importer's signature
// differs from the exporter's (and the loader refuses the import); the
// LinkerKeepsTheExportOrder case reports this as a skip.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

constexpr uint32_t kShtSymtab = 2, kShtRela = 4, kShtImports = 0x80000002;
constexpr uint8_t kSttObject = 1, kSttFunc = 2, kSttSection = 3, kSttTls = 6;
constexpr uint32_t kRel24 = 10, kAddr16Lo = 4, kAddr16Ha = 6, kTprel16Lo = 70, kTprel16Ha = 72;
const std::string kCross = "powerpc-linux-gnu-";

// ---------------------------------------------------------------------------
// Bytes

bool be32(const std::vector<uint8_t>& b, uint64_t at, uint32_t& out) {
  if (at + 4 > b.size()) return false;
  out = uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
  return true;
}

uint32_t be32or0(const std::vector<uint8_t>& b, uint64_t at) {
  uint32_t v = 0;
  return be32(b, at, v) ? v : 0;
}

uint16_t be16or0(const std::vector<uint8_t>& b, uint64_t at) {
  return at + 2 <= b.size() ? uint16_t(b[at] << 8 | b[at + 1]) : 0;
}

// The zero-terminated string at `at`, never read past `end` (or the bytes).
std::string cstr(const std::vector<uint8_t>& b, uint64_t at, uint64_t end) {
  end = std::min<uint64_t>(end, b.size());
  std::string s;
  for (uint64_t i = at; i < end && b[i]; ++i) s += char(b[i]);
  return s;
}

// The word the loader compares: CRC-32 of the names, each with its zero
// byte, followed by 14 zero bytes.
uint32_t importSignature(const std::vector<std::string>& names) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (const std::string& n : names)
    crc = crc32(crc, reinterpret_cast<const Bytef*>(n.c_str()), static_cast<uInt>(n.size() + 1));
  const Bytef zeros[14] = {};
  return static_cast<uint32_t>(crc32(crc, zeros, sizeof zeros));
}

std::string join(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

// ---------------------------------------------------------------------------
// A small reader for the linked (big-endian ELF32) importer: section headers
// with names, the symbol table, and the RELA entries.

struct ElfSection {
  std::string name;
  uint32_t type = 0, flags = 0, addr = 0, offset = 0, size = 0, link = 0, info = 0, entsize = 0;
};
struct ElfSymbol {
  std::string name;
  uint32_t value = 0, size = 0;
  uint8_t info = 0;
  uint16_t shndx = 0;
};
struct ElfRela {
  uint32_t target = 0, offset = 0, type = 0, symbol = 0;
};
struct LinkedElf {
  std::string problem;  // empty when the file was read
  std::vector<uint8_t> bytes;
  std::vector<ElfSection> sections;
  std::vector<ElfSymbol> symbols;
  std::vector<ElfRela> relas;
  int find(const std::string& name) const {
    for (size_t i = 1; i < sections.size(); ++i)
      if (sections[i].name == name) return static_cast<int>(i);
    return -1;
  }
};

bool readSectionHeaders(LinkedElf& e) {
  const auto& b = e.bytes;
  uint32_t shoff = be32or0(b, 32);
  uint16_t shentsize = be16or0(b, 46), shnum = be16or0(b, 48), shstrndx = be16or0(b, 50);
  if (shentsize < 40 || uint64_t(shoff) + uint64_t(shnum) * shentsize > b.size()) return false;
  std::vector<uint32_t> nameOffsets;
  for (uint32_t i = 0; i < shnum; ++i) {
    uint64_t h = shoff + uint64_t(i) * shentsize;
    ElfSection s;
    uint32_t* fields[] = {&s.type, &s.flags, &s.addr, &s.offset, &s.size, &s.link, &s.info, &s.entsize};
    for (size_t k = 0; k < std::size(fields); ++k) *fields[k] = be32or0(b, h + 4 + 4 * k);
    nameOffsets.push_back(be32or0(b, h));
    e.sections.push_back(s);
  }
  if (shstrndx >= e.sections.size()) return false;
  const ElfSection names = e.sections[shstrndx];
  for (size_t i = 0; i < e.sections.size(); ++i)
    e.sections[i].name = cstr(b, uint64_t(names.offset) + nameOffsets[i], uint64_t(names.offset) + names.size);
  return true;
}

void readSymbols(LinkedElf& e) {
  for (const ElfSection& s : e.sections) {
    if (s.type != kShtSymtab || s.link >= e.sections.size()) continue;
    const ElfSection& strtab = e.sections[s.link];
    uint64_t end = std::min<uint64_t>(uint64_t(s.offset) + s.size, e.bytes.size());
    for (uint64_t at = s.offset; at + 16 <= end; at += 16) {
      ElfSymbol sym;
      sym.name = cstr(e.bytes, uint64_t(strtab.offset) + be32or0(e.bytes, at), uint64_t(strtab.offset) + strtab.size);
      sym.value = be32or0(e.bytes, at + 4);
      sym.size = be32or0(e.bytes, at + 8);
      sym.info = e.bytes[at + 12];
      sym.shndx = be16or0(e.bytes, at + 14);
      e.symbols.push_back(sym);
    }
    return;
  }
}

void readRelas(LinkedElf& e) {
  for (const ElfSection& s : e.sections) {
    if (s.type != kShtRela) continue;
    uint64_t end = std::min<uint64_t>(uint64_t(s.offset) + s.size, e.bytes.size());
    for (uint64_t at = s.offset; at + 12 <= end; at += 12) {
      uint32_t info = be32or0(e.bytes, at + 4);
      e.relas.push_back({s.info, be32or0(e.bytes, at), info & 0xFF, info >> 8});
    }
  }
}

LinkedElf readLinkedElf(std::vector<uint8_t> bytes) {
  LinkedElf e;
  e.bytes = std::move(bytes);
  if (e.bytes.size() < 52 || std::memcmp(e.bytes.data(),
                                         "\x7f"
                                         "ELF\x01\x02",
                                         6) != 0)
    e.problem = "not a big-endian ELF32 file";
  else if (!readSectionHeaders(e))
    e.problem = "section headers outside the file";
  else {
    readSymbols(e);
    readRelas(e);
  }
  return e;
}

// ---------------------------------------------------------------------------
// The exporter's tables, read from its module file as the loader reads them.

struct ExportTable {
  bool present = false;
  uint32_t count = 0, signature = 0;
  std::vector<std::string> names;
  std::vector<bool> tls;  // bit 31 of the name word
};

ExportTable exportTable(const VkmFile& f, const std::string& section) {
  ExportTable t;
  int i = vkmFindSection(f, section);
  if (i < 0) return t;
  const std::vector<uint8_t>& c = f.contents[static_cast<size_t>(i)];
  t.present = be32(c, 0, t.count) && be32(c, 4, t.signature);
  for (uint32_t k = 0; t.present && k < t.count; ++k) {
    uint32_t word = 0;
    if (!be32(c, 12 + 8 * uint64_t(k), word)) {
      t.present = false;
      break;
    }
    t.names.push_back(cstr(c, word & 0x7FFFFFFF, c.size()));
    t.tls.push_back((word >> 31) != 0);
  }
  return t;
}

// One import kind: the exporter's table and the section an importer gets.
struct ImportKind {
  const char* exports;  // ".fexports" / ".dexports"
  const char* prefix;   // ".fimport_" / ".dimport_"
  bool code;
};
const ImportKind kKinds[] = {{".fexports", ".fimport_", true}, {".dexports", ".dimport_", false}};

// The symbol type the stub gives export k of a table.
uint8_t stubType(const ImportKind& kind, const ExportTable& t, size_t k) {
  if (kind.code) return kSttFunc;
  return t.tls[k] ? kSttTls : kSttObject;
}

// ---------------------------------------------------------------------------
// Toolchain

bool haveTool(const std::string& name) { return runShell("command -v " + shellQuote(name)).status == 0; }

// A binutils program: the cross one when installed, else the host's.
std::string binutil(const std::string& name) { return haveTool(kCross + name) ? kCross + name : name; }

std::string corpusPath(const std::string& module) { return sourceDir() + "/tests/corpus/" + module + ".elf"; }

std::vector<std::pair<std::string, std::string>> toolEnv() {
  return {
      {"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"GHS_ROOT", toolchainRoot()}, {"SOURCE_DATE_EPOCH", "1700000000"}};
}

// Converts a corpus module in `dir`, giving <module>.vkm and <module>.a.
::testing::AssertionResult convertExporter(const std::string& dir, const std::string& module) {
  writeFile(dir + "/" + module + ".elf", readFile(corpusPath(module)));
  ToolRun r = runZodavov({module + ".elf"}, dir, toolEnv());
  if (r.status != 0 || !fileExists(dir + "/" + module + ".a"))
    return ::testing::AssertionFailure() << "converting " << module << " (" << r.status << "):\n" << r.out;
  return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// The round trip: exporter A, importer B.

struct RoundTripCase {
  const char* exporter;  // corpus module
  const char* importer;  // tests/importlib/roundtrip/<importer>.S
};

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.exporter << " <- " << c.importer; }

// Table modes the importer is converted in: the default rebuilt table and
// the old full-size one.
const char* const kModes[] = {"-new", "-old"};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {
 protected:
  void SetUp() override {
    if (!haveTool(kCross + "as") || !haveTool(kCross + "ld"))
      GTEST_SKIP() << kCross << "as / " << kCross
                   << "ld not found (install binutils-powerpc-linux-gnu); the round trip through the linker "
                      "was not run";
    const RoundTripCase& c = GetParam();
    lib = std::string(c.exporter) + ".vkm";
    ASSERT_TRUE(convertExporter(dir.path, c.exporter));
    exporter = readVkm(readFile(dir.path + "/" + lib));
    ASSERT_TRUE(exporter.problems.empty()) << exporter.problems.front();
    for (const ImportKind& k : kKinds) tables.push_back(exportTable(exporter, k.exports));
    ASSERT_TRUE(linkImporter(c));
    for (const char* mode : kModes) convertImporter(c, mode);
  }

  ::testing::AssertionResult linkImporter(const RoundTripCase& c) {
    const std::string src = sourceDir() + "/tests/importlib/roundtrip/" + c.importer + ".S";
    const std::string obj = dir.path + "/" + c.importer + ".o";
    const std::string elf = dir.path + "/" + c.importer + ".elf";
    ToolRun as = runShell(kCross + "as -a32 -mbig-endian -mregnames -o " + shellQuote(obj) + " " + shellQuote(src));
    if (as.status != 0) return ::testing::AssertionFailure() << "assembling " << src << ":\n" << as.out;
    ToolRun ld =
        runShell(kCross + "ld -q -n -T " + shellQuote(sourceDir() + "/tools/corpus/module.ld") + " -o " +
                 shellQuote(elf) + " " + shellQuote(obj) + " " + shellQuote(dir.path + "/" + c.exporter + ".a"));
    if (ld.status != 0) return ::testing::AssertionFailure() << "linking " << elf << ":\n" << ld.out;
    linked = readLinkedElf(readFile(elf));
    if (!linked.problem.empty()) return ::testing::AssertionFailure() << elf << ": " << linked.problem;
    return ::testing::AssertionSuccess();
  }

  // Converts a copy of the linked importer, one per table mode, so that each
  // mode writes a module file of its own name.
  void convertImporter(const RoundTripCase& c, const std::string& mode) {
    const std::string base = std::string(c.importer) + mode;
    writeFile(dir.path + "/" + base + ".elf", linked.bytes);
    ToolRun r = runZodavov({"-nolib", mode, base + ".elf"}, dir.path, toolEnv());
    ASSERT_EQ(r.status, 0) << "converting the importer with " << mode << ":\n" << r.out;
    importers.push_back(readVkm(readFile(dir.path + "/" + base + ".vkm")));
    for (const auto& p : importers.back().problems) ADD_FAILURE() << mode << ": " << p;
  }

  std::string importSection(const ImportKind& k) const { return k.prefix + lib; }

  ScratchDir dir;
  std::string lib;
  VkmFile exporter;
  std::vector<ExportTable> tables;  // per kKinds entry
  LinkedElf linked;
  std::vector<VkmFile> importers;  // per kModes entry
};

// The symbols a converted importer defines in import section `sec`, in
// symbol-table order (names, values, types), and the address where the first
// slot must lie: 8 past the section when its section symbol is kept, else the
// section's address itself.
struct Slots {
  std::vector<std::string> names;
  std::vector<uint32_t> values;
  std::vector<uint8_t> types;
  uint32_t first = 0;
};

Slots importSlots(const VkmFile& f, uint32_t sec) {
  Slots s;
  s.first = f.sections[sec].addr;
  int symtab = vkmFindSection(f, ".symtab");
  if (symtab < 0) return s;
  uint32_t strtab = f.sections[static_cast<uint32_t>(symtab)].link;
  for (const VkmSymbol& sym : vkmSymbols(f, static_cast<uint32_t>(symtab))) {
    if (sym.shndx != sec) continue;
    if ((sym.info & 0xF) == kSttSection) {
      s.first = f.sections[sec].addr + 8;
      continue;
    }
    s.names.push_back(vkmString(f, strtab, sym.name));
    s.values.push_back(sym.value);
    s.types.push_back(sym.info & 0xF);
  }
  return s;
}

// The linked importer holds the stub's import sections as the library wrote
// them (count, signature, library name), every export of the exporter as a
// symbol in its slot, and the importer's calls and reads aimed at them.
TEST_P(RoundTrip, LinkedImporterTakesTheStubSections) {
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    const ImportKind& kind = kKinds[k];
    const ExportTable& t = tables[k];
    SCOPED_TRACE(importSection(kind));
    int sec = linked.find(importSection(kind));
    ASSERT_EQ(sec >= 0, t.present) << "an import section exists exactly for each export table";
    if (!t.present) continue;
    const ElfSection& s = linked.sections[static_cast<size_t>(sec)];
    EXPECT_EQ(s.type, kShtImports);
    EXPECT_EQ(s.flags & 0x4, kind.code ? 0x4u : 0u);
    EXPECT_EQ(be32or0(linked.bytes, s.offset), t.count);
    EXPECT_EQ(be32or0(linked.bytes, uint64_t(s.offset) + 4), t.signature);
    EXPECT_EQ(cstr(linked.bytes, uint64_t(s.offset) + 8, uint64_t(s.offset) + s.size), lib);
    for (size_t e = 0; e < t.names.size(); ++e) {
      auto sym = std::find_if(linked.symbols.begin(), linked.symbols.end(),
                              [&](const ElfSymbol& y) { return y.name == t.names[e]; });
      ASSERT_NE(sym, linked.symbols.end()) << t.names[e];
      EXPECT_EQ(sym->shndx, sec) << t.names[e];
      EXPECT_EQ(sym->value, s.addr + 8 + 8 * e) << t.names[e] << " keeps the stub's slot";
      EXPECT_EQ(sym->info, 0x10 | stubType(kind, t, e)) << t.names[e];
      // The importer uses every export: calls for functions, address halves
      // (thread-local ones for thread-local data) for data.
      uint32_t index = static_cast<uint32_t>(sym - linked.symbols.begin());
      std::vector<uint32_t> want = kind.code  ? std::vector<uint32_t>{kRel24}
                                   : t.tls[e] ? std::vector<uint32_t>{kTprel16Ha, kTprel16Lo}
                                              : std::vector<uint32_t>{kAddr16Ha, kAddr16Lo};
      for (uint32_t type : want)
        EXPECT_TRUE(std::any_of(linked.relas.begin(), linked.relas.end(),
                                [&](const ElfRela& r) { return r.symbol == index && r.type == type; }))
            << t.names[e] << " has no relocation of type " << type;
    }
  }
}

// The converted importer, in both table modes: each import section counts
// the exporter's exports and carries its library name; the slots follow the
// importer's symbol table, 8 bytes apart; the signature is that of the names
// in slot order, so it equals the exporter's word exactly when the slots are
// in the exporter's entry order.
TEST_P(RoundTrip, ConvertedImporterDescribesTheExporter) {
  for (size_t m = 0; m < importers.size(); ++m) {
    const VkmFile& b = importers[m];
    for (size_t k = 0; k < std::size(kKinds); ++k) {
      const ImportKind& kind = kKinds[k];
      const ExportTable& t = tables[k];
      SCOPED_TRACE(std::string(kModes[m]) + " " + importSection(kind));
      int sec = vkmFindSection(b, importSection(kind));
      ASSERT_EQ(sec >= 0, t.present);
      if (!t.present) continue;
      const std::vector<uint8_t>& c = b.contents[static_cast<size_t>(sec)];
      EXPECT_EQ(b.sections[static_cast<size_t>(sec)].type, kShtImports);
      EXPECT_EQ(be32or0(c, 0), t.count);
      EXPECT_EQ(cstr(c, 8, c.size()), lib);

      Slots s = importSlots(b, static_cast<uint32_t>(sec));
      if (std::string(kModes[m]) == "-old") {
        EXPECT_EQ(s.first, b.sections[static_cast<size_t>(sec)].addr + 8) << "the section symbol stays";
      }
      ASSERT_EQ(s.names.size(), t.count) << "every export is imported: " << join(s.names);
      std::vector<std::string> sorted = s.names, exported = t.names;
      std::sort(sorted.begin(), sorted.end());
      std::sort(exported.begin(), exported.end());
      EXPECT_EQ(sorted, exported);
      for (size_t i = 0; i < s.values.size(); ++i) {
        EXPECT_EQ(s.values[i], s.first + 8 * i) << s.names[i];
        size_t e = static_cast<size_t>(std::find(t.names.begin(), t.names.end(), s.names[i]) - t.names.begin());
        if (e < t.names.size()) {
          EXPECT_EQ(s.types[i], stubType(kind, t, e)) << s.names[i];
        }
      }
      uint32_t signature = be32or0(c, 4);
      EXPECT_EQ(signature, importSignature(s.names)) << "slot order " << join(s.names);
      EXPECT_EQ(signature == t.signature, s.names == t.names)
          << "slot order " << join(s.names) << ", export order " << join(t.names);
    }
  }
}

// The full round trip: the importer's slots in the exporter's entry order
// and its signature words equal to the exporter's. GNU ld writes global
// symbols in its hash-table order, so for a section of several symbols this
// holds only where that order happens to be the entry order; elsewhere the
// case is skipped with the two orders (the loader would refuse the import,
// since the signatures differ).
TEST_P(RoundTrip, LinkerKeepsTheExportOrder) {
  std::ostringstream reordered;
  const VkmFile& b = importers.front();  // default table mode
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    const ExportTable& t = tables[k];
    int sec = vkmFindSection(b, importSection(kKinds[k]));
    if (!t.present || sec < 0) continue;
    Slots s = importSlots(b, static_cast<uint32_t>(sec));
    if (s.names != t.names) {
      reordered << importSection(kKinds[k]) << ": linked order " << join(s.names) << ", export order " << join(t.names)
                << "; ";
      continue;
    }
    EXPECT_EQ(be32or0(b.contents[static_cast<size_t>(sec)], 4), t.signature) << importSection(kKinds[k]);
  }
  if (!reordered.str().empty())
    GTEST_SKIP() << "the linker wrote the stub's symbols out of the export order, so the importer's "
                    "signature cannot match the exporter's: "
                 << reordered.str();
}

INSTANTIATE_TEST_SUITE_P(Corpus, RoundTrip,
                         ::testing::Values(RoundTripCase{"basic", "consumer"},
                                           RoundTripCase{"funcexports", "consumer_funcs"},
                                           RoundTripCase{"dataexports", "consumer_data"},
                                           RoundTripCase{"tls", "consumer_tls"}),
                         [](const auto& p) { return std::string(p.param.exporter); });

// ---------------------------------------------------------------------------
// The import library read by the standard archive and ELF tools.

// The Type column of `readelf -sW` output for the symbol called `name` (the
// last line that ends with it), or "" when none does.
std::string readelfSymbolType(const std::string& listing, const std::string& name) {
  std::istringstream lines(listing);
  std::string line, found;
  while (std::getline(lines, line))
    if (line.size() > name.size() && line.compare(line.size() - name.size() - 1, std::string::npos, " " + name) == 0)
      found = line;
  std::istringstream fields(found);
  std::string num, value, size, type;
  fields >> num >> value >> size >> type;
  return type;
}

class RoundTripLibrary : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(convertExporter(dir.path, GetParam()));
    library = dir.path + "/" + GetParam() + ".a";
    VkmFile f = readVkm(readFile(dir.path + "/" + GetParam() + ".vkm"));
    for (const ImportKind& k : kKinds) tables.push_back(exportTable(f, k.exports));
  }
  ToolRun run(const std::string& tool, const std::string& args) {
    return runShell(binutil(tool) + " " + args + " " + shellQuote(library));
  }
  ScratchDir dir;
  std::string library;
  std::vector<ExportTable> tables;
};

TEST_P(RoundTripLibrary, ArchiverListsOneMember) {
  if (!haveTool(binutil("ar"))) GTEST_SKIP() << "no ar installed";
  ToolRun r = run("ar", "t");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string lib = std::string(GetParam()) + ".vkm";
  EXPECT_EQ(r.out, lib.substr(0, 13) + ".o\n");
}

TEST_P(RoundTripLibrary, SymbolListerShowsEveryExport) {
  if (!haveTool(binutil("nm"))) GTEST_SKIP() << "no nm installed";
  ToolRun r = run("nm", "");
  ASSERT_EQ(r.status, 0) << r.out;
  for (size_t k = 0; k < std::size(kKinds); ++k)
    for (const std::string& name : tables[k].names)
      EXPECT_NE(r.out.find(std::string(kKinds[k].code ? " T " : " D ") + name + "\n"), std::string::npos)
          << name << " in:\n"
          << r.out;
}

// readelf reads the member without complaint, and lists each export with the
// type the stub gives it: FUNC, OBJECT, or TLS for a thread-local export.
TEST_P(RoundTripLibrary, ElfReaderReadsTheMember) {
  if (!haveTool(binutil("readelf"))) GTEST_SKIP() << "no readelf installed";
  ToolRun all = run("readelf", "-a");
  EXPECT_EQ(all.status, 0) << all.out;
  EXPECT_EQ(all.out.find("Error"), std::string::npos) << all.out;
  EXPECT_EQ(all.out.find("Warning"), std::string::npos) << all.out;
  ToolRun syms = run("readelf", "-sW");
  ASSERT_EQ(syms.status, 0) << syms.out;
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    const ExportTable& t = tables[k];
    for (size_t e = 0; e < t.names.size(); ++e) {
      const char* type = stubType(kKinds[k], t, e) == kSttFunc ? "FUNC" : t.tls[e] ? "TLS" : "OBJECT";
      EXPECT_EQ(readelfSymbolType(syms.out, t.names[e]), type) << t.names[e] << " in:\n" << syms.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, RoundTripLibrary, ::testing::Values("basic", "funcexports", "dataexports", "tls"),
                         [](const auto& p) { return std::string(p.param); });

// tls.elf exports its thread-local counter through an R_PPC_DTPREL32
// relocation with bit 31 of the entry set, so the stub defines it as STT_TLS
// in the data import section, beside the ordinary object.
TEST(RoundTripTls, StubSymbolOfThreadLocalExportIsTls) {
  if (!haveTool(binutil("readelf"))) GTEST_SKIP() << "no readelf installed";
  ScratchDir dir;
  ASSERT_TRUE(convertExporter(dir.path, "tls"));
  ToolRun r = runShell(binutil("readelf") + " -sW " + shellQuote(dir.path + "/tls.a"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(readelfSymbolType(r.out, "tls_counter"), "TLS") << r.out;
  EXPECT_EQ(readelfSymbolType(r.out, "tls_plain"), "OBJECT") << r.out;
  EXPECT_EQ(readelfSymbolType(r.out, "tls_bump"), "FUNC") << r.out;
}

}  // namespace
}  // namespace zv::test
