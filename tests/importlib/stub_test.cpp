// The stub object of the import library: which export tables it is made
// from, its sections, symbols and string tables field by field, the checks
// of the data exports against their relocations, and the refusal of export
// tables whose entries or names lie outside them. Runs are in memory; the
// archive comes back in ctx.libraryBytes.

#include <gtest/gtest.h>

#include "implib_fixture.h"
#include "importlib/importlib.h"

namespace zv::test {
namespace {

constexpr uint32_t kExitMinusOne = 0xFFFFFFFF;

struct Result {
  uint32_t rc = 0;
  std::string text;
  std::vector<uint8_t> archive;
};

Result runOn(const ElfBuilder& b, const std::string& outputPath = "/build/out/MyLib.vkm") {
  EnvVar epoch("SOURCE_DATE_EPOCH", "1700000000");
  auto ctx = contextFor(build(b), outputPath);
  Result r;
  r.rc = writeLibrary(*ctx);
  r.text = ctx->con.text;
  r.archive = ctx->libraryBytes;
  return r;
}

Result runOn(const ModuleSpec& shape, const std::string& outputPath = "/build/out/MyLib.vkm") {
  return runOn(makeModule(shape).b, outputPath);
}

void putText(std::vector<uint8_t>& v, size_t at, const std::string& s) {
  std::copy(s.begin(), s.end(), v.begin() + static_cast<long>(at));
}

// One section header of the expected stub (offsets from the member start).
void putShdr(std::vector<uint8_t>& o, uint32_t i, std::array<uint32_t, 10> f, bool be) {
  for (uint32_t k = 0; k < 10; ++k) put32(o, 512 + 40 * i + 4 * k, f[k], be);
}

void putSym(std::vector<uint8_t>& o, uint32_t i, uint32_t name, uint32_t value, uint8_t info, uint16_t shndx, bool be) {
  uint32_t at = 192 + 16 * i;
  put32(o, at, name, be);
  put32(o, at + 4, value, be);
  o[at + 12] = info;
  put16(o, at + 14, shndx, be);
}

// The worked example written out by hand: mylib.vkm, alpha/beta/gamma and
// counter; .fimport at 64 (32 bytes), .dimport at 128 (18), .symtab at 192
// (80), .strtab at 320 (26), .secstrtab at 384 (66), headers at 512.
std::vector<uint8_t> expectedWorkedArchive(bool be) {
  std::vector<uint8_t> o(768, 0);
  putText(o, 0,
          "\x7F"
          "ELF");
  o[4] = 1;
  o[5] = be ? 2 : 1;
  o[6] = 1;
  put16(o, 16, 1, be);
  put16(o, 18, 20, be);
  put32(o, 20, 1, be);
  put32(o, 32, 512, be);
  put16(o, 40, 52, be);
  put16(o, 42, 32, be);
  put16(o, 46, 40, be);
  put16(o, 48, 6, be);
  put16(o, 50, 5, be);
  put32(o, 64, 3);  // import sections are big-endian in either order
  put32(o, 68, 0x11223344);
  putText(o, 72, "mylib.vkm");
  put32(o, 128, 1);
  put32(o, 132, 0x55667788);
  putText(o, 136, "mylib.vkm");
  putSym(o, 1, 1, 8, 0x12, 1, be);
  putSym(o, 2, 7, 16, 0x12, 1, be);
  putSym(o, 3, 12, 24, 0x12, 1, be);
  putSym(o, 4, 18, 8, 0x11, 2, be);
  putText(o, 320, std::string("\0alpha\0beta\0gamma\0counter\0", 26));
  putText(o, 384, std::string("\0.fimport_mylib.vkm\0.dimport_mylib.vkm\0.symtab\0.strtab\0.secstrtab\0", 66));
  putShdr(o, 1, {1, 0x80000002, 6, 0, 64, 32, 0, 9, 4, 0}, be);
  putShdr(o, 2, {20, 0x80000002, 3, 0, 128, 18, 0, 9, 4, 0}, be);
  putShdr(o, 3, {39, 2, 0, 0, 192, 80, 4, 1, 16, 16}, be);
  putShdr(o, 4, {47, 3, 0, 0, 320, 26, 0, 0, 1, 0}, be);
  putShdr(o, 5, {55, 3, 0, 0, 384, 66, 0, 0, 1, 0}, be);

  std::vector<uint8_t> ar(68, 0);
  putText(ar, 0, "!<arch>\n");
  putText(ar, 8, "mylib.vkm.o/    1700000000  0     0     100666  768       `\n");
  ar.insert(ar.end(), o.begin(), o.end());
  return ar;
}

// Index of the first byte where two buffers differ (or the shorter length).
size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

class WorkedExample : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ByteOrder, WorkedExample, ::testing::Values(true, false),
                         [](const auto& p) { return std::string(p.param ? "Big" : "Little"); });

TEST_P(WorkedExample, ArchiveMatchesTheHandWrittenBytes) {
  Result r = runOn(workedExample(GetParam()));
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(r.text, "");
  std::vector<uint8_t> want = expectedWorkedArchive(GetParam());
  ASSERT_EQ(r.archive.size(), want.size());
  EXPECT_EQ(firstDifference(r.archive, want), want.size()) << "archives differ at this offset";
}

TEST(ImportLibraryName, IsTheLoweredFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"/build/out/MyLib.vkm", "mylib.vkm"}, {"C:\\w\\MyLib.VKX", "mylib.vkx"}, {"plain.vkm", "plain.vkm"},
      {"dir\\sub/A-Z_09.Vkm", "a-z_09.vkm"}, {"/mixed/dir\\X.vkm", "x.vkm"},    {"/trailing/", ""},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(zv::importLibraryName(path), name) << path;
}

// Which sections the stub has for each combination of export tables.
struct SectionSetCase {
  const char* label;
  bool funcs;
  bool data;
  std::vector<std::string> names;
  uint16_t dataShndx;
};

void PrintTo(const SectionSetCase& c, std::ostream* os) { *os << c.label; }

class SectionSet : public ::testing::TestWithParam<SectionSetCase> {};
INSTANTIATE_TEST_SUITE_P(
    Exports, SectionSet,
    ::testing::Values(
        SectionSetCase{"FunctionsOnly", true, false, {"", ".fimport_mylib.vkm", ".symtab", ".strtab", ".secstrtab"}, 0},
        SectionSetCase{"DataOnly", false, true, {"", ".dimport_mylib.vkm", ".symtab", ".strtab", ".secstrtab"}, 1},
        SectionSetCase{"Both",
                       true,
                       true,
                       {"", ".fimport_mylib.vkm", ".dimport_mylib.vkm", ".symtab", ".strtab", ".secstrtab"},
                       2}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(SectionSet, SectionsAndSymbolsFollowTheTables) {
  const SectionSetCase& c = GetParam();
  ModuleSpec shape;
  if (c.funcs) shape.funcs = std::vector<Export>{{"f_one"}, {"f_two"}};
  if (c.data) {
    shape.data = std::vector<Export>{{"d_one"}};
    shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32};
  }
  Result r = runOn(shape);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  uint32_t n = static_cast<uint32_t>(c.names.size());
  EXPECT_EQ(s.u16(ehdr_at::e_shnum), n);
  EXPECT_EQ(s.u16(ehdr_at::e_shstrndx), n - 1);
  for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(s.sectionName(i), c.names[i]) << "section " << i;
  EXPECT_EQ(s.shdr(n - 3, shdr_at::sh_link), n - 2);  // .symtab names .strtab
  uint32_t symbols = 1 + (c.funcs ? 2 : 0) + (c.data ? 1 : 0);
  EXPECT_EQ(s.shdr(n - 3, shdr_at::sh_size), 16 * symbols);
  if (c.funcs) {
    EXPECT_EQ(s.symbol(1, sym_at::st_shndx), 1u);
  }
  if (c.data) {
    EXPECT_EQ(s.symbol(symbols - 1, sym_at::st_shndx), c.dataShndx);
  }
  // Every section after the null one starts at a multiple of 64, past the one before.
  uint32_t end = 52;
  for (uint32_t i = 1; i < n; ++i) {
    uint32_t off = s.shdr(i, shdr_at::sh_offset);
    EXPECT_EQ(off % 64, 0u);
    EXPECT_GE(off, end);
    EXPECT_LT(off, end + 64);
    end = off + s.shdr(i, shdr_at::sh_size);
  }
  EXPECT_EQ(s.u32(ehdr_at::e_shoff), (end + 63) / 64 * 64);
  EXPECT_EQ(s.obj.size(), (s.u32(ehdr_at::e_shoff) + 40 * n + 63) / 64 * 64);
}

// An export table without entries still gives an import section, long enough
// for the library name and its terminator, and no symbols.
class EmptyTable : public ::testing::TestWithParam<std::pair<const char*, uint32_t>> {};
INSTANTIATE_TEST_SUITE_P(Names, EmptyTable,
                         ::testing::Values(std::pair<const char*, uint32_t>{"/o/a.vkm", 5},
                                           std::pair<const char*, uint32_t>{"/o/mylib.vkm", 9},
                                           std::pair<const char*, uint32_t>{"/o/averylongname.vkm", 17}));

TEST_P(EmptyTable, ImportSectionHoldsTheNameAndNothingElse) {
  auto [path, length] = GetParam();
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{};
  Result r = runOn(shape, path);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  EXPECT_EQ(s.shdr(1, shdr_at::sh_size), length + 9);
  EXPECT_EQ(s.shdr(1, shdr_at::sh_info), length);
  uint32_t at = s.shdr(1, shdr_at::sh_offset);
  EXPECT_EQ(get32(s.obj, at), 0u);
  EXPECT_EQ(get32(s.obj, at + 4), 0x11223344u);
  EXPECT_EQ(s.cstring(at + 8), zv::importLibraryName(path));
  EXPECT_EQ(s.obj[at + 8 + length], 0);
  EXPECT_EQ(s.shdr(2, shdr_at::sh_size), 16u);  // the null symbol only
  EXPECT_EQ(s.shdr(3, shdr_at::sh_size), 1u);   // .strtab: its zero byte
}

// The type of a data export from its relocation and its thread-local bit.
struct DataTypeCase {
  const char* label;
  std::optional<uint8_t> relocType;  // none: no .rela.dexports
  bool threadLocal;
  uint32_t rc;
  uint8_t info;
  const char* text;
};

void PrintTo(const DataTypeCase& c, std::ostream* os) { *os << c.label; }

class DataExportType : public ::testing::TestWithParam<DataTypeCase> {};
INSTANTIATE_TEST_SUITE_P(
    Relocations, DataExportType,
    ::testing::Values(DataTypeCase{"Addr32", kRPpcAddr32, false, 0, 0x11, ""},
                      DataTypeCase{"Addr32WithFlag", kRPpcAddr32, true, 0, 0x11, ""},
                      DataTypeCase{"DtpRel32WithFlag", kRPpcDtpRel32, true, 0, 0x16, ""},
                      DataTypeCase{"DtpRel32WithoutFlag", kRPpcDtpRel32, false, kExitMinusOne, 0,
                                   "***Error: Export symbol \"tls_var\" is unexpectedly a TLS symbol. Clobber and "
                                   "rebuild with current vodazed[32|64]. Return -1.\n"},
                      DataTypeCase{"NoRelocationsWithFlag", std::nullopt, true, 0, 0x11, ""}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(DataExportType, SymbolTypeOrMessage) {
  const DataTypeCase& c = GetParam();
  ModuleSpec shape;
  shape.data = std::vector<Export>{{"plain_var"}, {"tls_var", c.threadLocal}};
  if (c.relocType) shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32, *c.relocType};
  Result r = runOn(shape);
  EXPECT_EQ(r.rc, c.rc);
  EXPECT_EQ(r.text, c.text);
  if (c.rc != 0) {
    EXPECT_TRUE(r.archive.empty());
    return;
  }
  Stub s = readStub(r.archive);
  EXPECT_EQ(s.symbol(1, sym_at::st_info), 0x11u);
  EXPECT_EQ(s.symbol(2, sym_at::st_info), c.info);
  EXPECT_EQ(s.symbol(2, sym_at::st_value), 16u);
}

TEST(DataExportChecks, CountMismatchIsRefused) {
  ModuleSpec shape;
  shape.data = std::vector<Export>{{"a"}, {"b"}};
  shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32};
  Result r = runOn(shape);
  EXPECT_EQ(r.rc, kExitMinusOne);
  EXPECT_EQ(r.text, "***Error: numDataExports (2) != numRelaDataExports (1). Return -1\n");
  EXPECT_TRUE(r.archive.empty());
}

TEST(DataExportChecks, RelocationAtTheWrongWordIsRefused) {
  ModuleSpec shape;
  shape.data = std::vector<Export>{{"a"}, {"b"}};
  shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32, kRPpcAddr32};
  Module m = makeModule(shape);
  m.b.sections[m.relaDexports].relocs[1].r_offset += 4;  // the name word, not the value
  Result r = runOn(m.b);
  EXPECT_EQ(r.rc, kExitMinusOne);
  EXPECT_EQ(r.text, "***Error: mismatched relocations and .dexports section. Return -1\n");
  EXPECT_TRUE(r.archive.empty());
}

TEST(DataExportChecks, EntrySizeZeroCountsTwelveByteRecords) {
  ModuleSpec shape;
  shape.data = std::vector<Export>{{"a"}, {"b"}};
  shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32, kRPpcDtpRel32};
  shape.data->at(1).threadLocal = true;
  Module m = makeModule(shape);
  m.b.sections[m.relaDexports].hdr.sh_entsize = 0;
  Result r = runOn(m.b);
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(readStub(r.archive).symbol(2, sym_at::st_info), 0x16u);
}

TEST(ExportSections, HighestIndexWins) {
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{{"old_func"}};
  shape.data = std::vector<Export>{{"old_data"}};
  shape.dataRelocTypes = std::vector<uint8_t>{kRPpcAddr32};
  Module m = makeModule(shape);
  // A later pair of tables, and a later, correct relocation section for the
  // later data table; the first relocation section has a wrong count for it.
  uint16_t f2 = addSection(m.b, Section{.name = ".fexports2",
                                        .type = kShtVkmExports,
                                        .flags = kShfAlloc | kShfExecInstr,
                                        .addr = 0xC0002000,
                                        .addralign = 4,
                                        .data = exportTable({{"new_f1"}, {"new_f2"}}, 0xAAAA0001, 0x02000000)});
  uint16_t d2 = addSection(m.b, Section{.name = ".dexports2",
                                        .type = kShtVkmExports,
                                        .flags = kShfAlloc,
                                        .addr = 0xC0003000,
                                        .addralign = 4,
                                        .data = exportTable({{"new_d1"}, {"new_d2"}}, 0xAAAA0002, 0x10000000)});
  uint16_t bad = addRelaSection(m.b, ".rela.dexports2.bad", d2);
  addReloc(m.b, bad, 0xC0003008, 1, kRPpcAddr32);
  uint16_t good = addRelaSection(m.b, ".rela.dexports2", d2);
  addReloc(m.b, good, 0xC0003008, 1, kRPpcAddr32);
  addReloc(m.b, good, 0xC0003010, 1, kRPpcDtpRel32);
  m.b.sections[d2].data = exportTable({{"new_d1"}, {"new_d2", true}}, 0xAAAA0002, 0x10000000);
  (void)f2;
  Result r = runOn(m.b);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  uint32_t strtab = s.shdr(4, shdr_at::sh_offset);
  const char* names[] = {"new_f1", "new_f2", "new_d1", "new_d2"};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(s.cstring(strtab + s.symbol(i + 1, sym_at::st_name)), names[i]);
  EXPECT_EQ(s.symbol(4, sym_at::st_info), 0x16u);
  EXPECT_EQ(get32(s.obj, s.shdr(1, shdr_at::sh_offset) + 4), 0xAAAA0001u);
  EXPECT_EQ(get32(s.obj, s.shdr(2, shdr_at::sh_offset) + 4), 0xAAAA0002u);
}

TEST(ExportSections, FunctionTablesAloneRunNoRelocationCheck) {
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{{"f"}};
  Module m = makeModule(shape);
  // Relocation sections aimed at section 0 and at the function table, with
  // entries that match nothing.
  uint16_t nullRela = addRelaSection(m.b, ".rela.null", 0);
  (void)nullRela;
  uint16_t other = addRelaSection(m.b, ".rela.fexports.extra", m.fexports);
  addReloc(m.b, other, 0xC0000004, 1, kRPpcDtpRel32);
  addReloc(m.b, other, 0xC000000C, 1, kRPpcDtpRel32);
  Result r = runOn(m.b);
  ASSERT_EQ(r.rc, 0u) << r.text;
  EXPECT_EQ(r.text, "");
  EXPECT_EQ(readStub(r.archive).symbol(1, sym_at::st_info), 0x12u);
}

TEST(ExportSections, FunctionThreadLocalBitIsIgnoredAndMasked) {
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{{"first", true}, {"second", true}};
  Result r = runOn(shape);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  uint32_t strtab = s.shdr(3, shdr_at::sh_offset);
  EXPECT_EQ(s.cstring(strtab + s.symbol(1, sym_at::st_name)), "first");
  EXPECT_EQ(s.cstring(strtab + s.symbol(2, sym_at::st_name)), "second");
  EXPECT_EQ(s.symbol(2, sym_at::st_info), 0x12u);
  EXPECT_EQ(s.symbol(2, sym_at::st_value), 16u);
}

TEST(ExportSections, NoExportTablesGiveNoLibrary) {
  Result r = runOn(ModuleSpec{});
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.text, "");
  EXPECT_TRUE(r.archive.empty());
}

// Export tables whose pieces lie outside the section are refused before
// anything is read there.
struct MalformedCase {
  const char* label;
  std::vector<uint8_t> table;
  const char* text;
};

std::vector<uint8_t> words(std::initializer_list<uint32_t> w) { return words32(w); }

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.label; }

class MalformedTable : public ::testing::TestWithParam<MalformedCase> {};
INSTANTIATE_TEST_SUITE_P(
    Tables, MalformedTable,
    ::testing::Values(MalformedCase{"HeaderCut", words({1}),
                                    "***Error: \".fexports\" export table is malformed: its header lies outside the "
                                    "section. Return -1.\n"},
                      MalformedCase{"ThirdEntryOutside", words({3, 0, 0x02000000, 24, 0x02000004, 24, 0x41420000}),
                                    "***Error: \".fexports\" export table is malformed: entry 2 lies outside the "
                                    "section. Return -1.\n"},
                      MalformedCase{"HugeCount", words({0xFFFFFFFF, 0, 0x02000000, 16}),
                                    "***Error: \".fexports\" export table is malformed: entry 1 lies outside the "
                                    "section. Return -1.\n"},
                      MalformedCase{"NameOutside", words({2, 0, 0x02000000, 24, 0x02000004, 28, 0x41420000}),
                                    "***Error: \".fexports\" export table is malformed: the name of entry 1 lies "
                                    "outside the section. Return -1.\n"},
                      MalformedCase{"NameOutsideWithFlag", words({1, 0, 0x02000000, 0x80001000}),
                                    "***Error: \".fexports\" export table is malformed: the name of entry 0 lies "
                                    "outside the section. Return -1.\n"},
                      // Entries sharing one name: together their names outgrow the 8 bytes behind the entries.
                      MalformedCase{
                          "EntriesShareOneName",
                          words({3, 0, 0x02000000, 32, 0x02000004, 32, 0x02000008, 32, 0x61626364, 0x65666700}),
                          "***Error: \".fexports\" export table is malformed: the names up to entry 1 take more than "
                          "the 8 bytes after the entries. Return -1.\n"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(MalformedTable, IsRefusedWithItsName) {
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{{"f1"}, {"f2"}};
  Module m = makeModule(shape);
  m.b.sections[m.fexports].data = GetParam().table;
  Result r = runOn(m.b);
  EXPECT_EQ(r.rc, kExitMinusOne);
  EXPECT_EQ(r.text, GetParam().text);
  EXPECT_TRUE(r.archive.empty());
}

TEST(MalformedTable, NameRunningToTheSectionEndIsCutThere) {
  ModuleSpec shape;
  shape.funcs = std::vector<Export>{{"f1"}};
  Module m = makeModule(shape);
  // The name "ABCD" fills the last word, without a terminator.
  m.b.sections[m.fexports].data = words({1, 0, 0x02000000, 16, 0x41424344});
  Result r = runOn(m.b);
  ASSERT_EQ(r.rc, 0u) << r.text;
  Stub s = readStub(r.archive);
  uint32_t strtab = s.shdr(3, shdr_at::sh_offset);
  EXPECT_EQ(s.shdr(3, shdr_at::sh_size), 6u);
  EXPECT_EQ(s.cstring(strtab + 1), "ABCD");
}

}  // namespace
}  // namespace zv::test
