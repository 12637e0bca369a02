// Inputs near the format's limits: tens of thousands of sections, hundreds of
// thousands of symbols and relocations, and a code section of many MiB. A
// module of that size must convert in time proportional to its size: every
// stage walks its tables a bounded number of times, never "every section
// against every symbol". The test builds such a module in memory, converts it
// in-process in both symbol-table modes, and checks that the run succeeds
// within a generous time and that the module reads back.
//
// The size run here keeps the whole suite quick. ZV_LARGE_TESTS=1 adds a
// module whose kept names would exceed 2 GiB (refused), and the
// full-size case (65,000 sections, 200,000 symbols, 300,000 relocations, a
// 40 MiB code section). With ZV_LARGE_OUT=<prefix>, each input is also
// written to <prefix>.<size>.elf so that the executable can be timed on it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "support/elf_builder.h"
#include "support/vkm_reader.h"
#include "writer_fixture.h"

namespace zv::test {
namespace {

constexpr uint32_t kTextBase = 0x02000000;
constexpr uint32_t kDataBase = 0x10000000;
constexpr uint32_t kDataSectionSize = 64;

// How big the generated module is.
struct LargeShape {
  const char* label;
  uint32_t unusedSections;  // not allocated, nothing refers to them; one symbol each
  uint32_t emptySections;   // size 0, one label each (re-homed or stripped in -old mode)
  uint32_t dataSections;    // small allocated data sections
  uint32_t importSections;  // import tables with a few symbols each
  uint32_t symbols;         // total symbols (the rest are functions and objects)
  uint32_t relocations;     // entries of .rela.text
  uint32_t textBytes;       // size of .text (a multiple of 16)
  double secondsAllowed;    // per conversion, in the sanitizer build
};

constexpr uint32_t kImportSymbols = 3;

std::string numbered(const char* prefix, uint32_t n) { return prefix + std::to_string(n); }

// Instruction-like words: compressible, but not trivially so.
std::vector<uint8_t> textContents(uint32_t bytes) {
  std::vector<uint8_t> out(bytes);
  uint32_t x = 0x12345678;
  for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
    x = x * 1664525u + 1013904223u;
    uint32_t w = (i % 64 == 60) ? 0x4E800020u : (0x38000000u | (x >> 16));
    out[i] = uint8_t(w >> 24);
    out[i + 1] = uint8_t(w >> 16);
    out[i + 2] = uint8_t(w >> 8);
    out[i + 3] = uint8_t(w);
  }
  return out;
}

std::vector<uint8_t> importContents(uint32_t k) {
  std::vector<uint8_t> out(8, 0);
  std::string module = numbered("lib", k) + ".vkm";
  out.insert(out.end(), module.begin(), module.end());
  out.resize(32, 0);
  return out;
}

struct BuiltModule {
  std::vector<uint8_t> bytes;
  uint32_t sections = 0;
  uint32_t symbols = 0;
  uint32_t relocations = 0;
};

BuiltModule buildLargeModule(const LargeShape& s) {
  ElfBuilder b;
  b.ehdr.e_entry = kTextBase;
  uint16_t text = addProgbits(b, ".text", kShfAlloc | kShfExecInstr, kTextBase, textContents(s.textBytes), 64);
  std::vector<uint16_t> data;
  for (uint32_t k = 0; k < s.dataSections; ++k)
    data.push_back(addProgbits(b, numbered(".data.", k), kShfAlloc | kShfWrite, kDataBase + k * kDataSectionSize,
                               std::vector<uint8_t>(kDataSectionSize, uint8_t(k)), 4));
  std::vector<uint16_t> imports;
  for (uint32_t k = 0; k < s.importSections; ++k)
    imports.push_back(addSection(b, Section{.name = numbered(".fimport_lib", k),
                                            .type = kShtVkmImports,
                                            .flags = kShfAlloc | kShfExecInstr,
                                            .addralign = 4,
                                            .data = importContents(k)}));
  std::vector<uint16_t> unused;
  for (uint32_t k = 0; k < s.unusedSections; ++k) {
    // Half of them string tables, which the -old -s compaction visits one by one.
    bool strings = k % 2 == 1;
    std::vector<uint8_t> bytes = {0, 'n', 'o', 't', 'e', 0, 0, 0};
    unused.push_back(addSection(
        b, Section{.name = numbered(".note.", k), .type = strings ? kShtStrtab : kShtProgbits, .data = bytes}));
  }
  std::vector<uint16_t> empty;
  for (uint32_t k = 0; k < s.emptySections; ++k)
    empty.push_back(addProgbits(b, numbered(".empty.", k), kShfAlloc, kTextBase, {}, 4));
  addSymtab(b);

  std::vector<uint32_t> importSyms, funcs, objects;
  for (uint32_t k = 0; k < s.importSections; ++k)
    for (uint32_t n = 0; n < kImportSymbols; ++n)
      importSyms.push_back(addSymbol(b, {.name = numbered("imp", k * kImportSymbols + n),
                                         .info = stInfo(kStbGlobal, kSttNotype),
                                         .shndx = imports[k]}));
  for (uint32_t k = 0; k < s.unusedSections; ++k)
    addSymbol(b, {.name = numbered("unused", k), .info = stInfo(kStbLocal, kSttNotype), .shndx = unused[k]});
  for (uint32_t k = 0; k < s.emptySections; ++k) {
    // Every other label lies inside .text (re-homed there), the rest nowhere (stripped).
    uint32_t value = k % 2 == 0 ? kTextBase + (k * 16) % s.textBytes : 0x01000000 + k;
    addSymbol(b,
              {.name = numbered("label", k), .value = value, .info = stInfo(kStbLocal, kSttNotype), .shndx = empty[k]});
  }
  uint32_t rest = s.symbols - static_cast<uint32_t>(b.symbols.size());
  for (uint32_t k = 0; k < rest; ++k) {
    if (k % 2 == 0 || s.dataSections == 0) {
      uint32_t at = (k * 16) % s.textBytes;
      funcs.push_back(addSymbol(b, {.name = numbered("func", k),
                                    .value = kTextBase + at,
                                    .size = 16,
                                    .info = stInfo(kStbGlobal, kSttFunc),
                                    .shndx = text}));
    } else {
      uint32_t sec = k % s.dataSections;
      uint32_t at = (k * 4) % kDataSectionSize;
      objects.push_back(addSymbol(b, {.name = numbered("obj", k),
                                      .value = kDataBase + sec * kDataSectionSize + at,
                                      .size = 4,
                                      .info = stInfo(kStbGlobal, kSttObject),
                                      .shndx = data[sec]}));
    }
  }

  uint16_t rela = addRelaSection(b, ".rela.text", text);
  uint32_t textEnd = kTextBase + s.textBytes;
  // One call per import section, close enough to the end of the text for a
  // trampoline behind it.
  for (uint32_t k = 0; k < s.importSections; ++k)
    addReloc(b, rela, textEnd - 4 * (k + 1), importSyms[k * kImportSymbols], kRPpcRel24);
  for (uint32_t k = s.importSections; k < s.relocations; ++k) {
    uint32_t place = kTextBase + (k * 8) % s.textBytes;
    if (k % 3 == 0 || objects.empty())
      addReloc(b, rela, place, funcs[k % funcs.size()], kRPpcRel24);
    else
      addReloc(b, rela, place + 2, objects[k % objects.size()], k % 3 == 1 ? kRPpcAddr16Ha : kRPpcAddr16Lo);
  }

  BuiltModule m;
  m.sections = static_cast<uint32_t>(b.sections.size()) + 1;  // and .shstrtab
  m.symbols = static_cast<uint32_t>(b.symbols.size());
  m.relocations = static_cast<uint32_t>(b.sections[rela].relocs.size());
  m.bytes = build(b);
  return m;
}

// One in-process run of the whole tool over `path`: 0 or the failure value.
// The module is kept in memory, or written to its file when `toFile`.
int convert(const std::string& path, std::vector<std::string> options, std::string& console, VkmFile& vkm,
            std::vector<uint8_t>* bytes = nullptr, bool toFile = false) {
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.inMemory = !toFile;
  std::vector<std::string> text{"zodavov"};
  text.insert(text.end(), options.begin(), options.end());
  text.push_back(path);
  std::vector<char*> argv;
  for (std::string& t : text) argv.push_back(t.data());
  argv.push_back(nullptr);
  int rc = zv::runTool(ctx, static_cast<int>(text.size()), argv.data());
  console = std::move(ctx.con.text);
  if (rc == 0) vkm = readVkm(ctx.outputBytes);
  if (bytes) *bytes = ctx.outputBytes;
  return rc;
}

class LargeInput : public ::testing::TestWithParam<LargeShape> {};

TEST_P(LargeInput, ConvertsInBoundedTime) {
  const LargeShape& s = GetParam();
  if (s.secondsAllowed > 100 && !std::getenv("ZV_LARGE_TESTS"))
    GTEST_SKIP() << "set ZV_LARGE_TESTS=1 for the full-size module";
  SdkRoot root;
  ScratchDir dir;
  BuiltModule m = buildLargeModule(s);
  std::string path = dir / "large.elf";
  writeText(path, std::string(m.bytes.begin(), m.bytes.end()));
  if (const char* out = std::getenv("ZV_LARGE_OUT"))
    writeText(std::string(out) + "." + s.label + ".elf", std::string(m.bytes.begin(), m.bytes.end()));
  std::printf("[ large    ] %s: %u sections, %u symbols, %u relocations, %zu bytes\n", s.label, m.sections, m.symbols,
              m.relocations, m.bytes.size());

  for (const std::vector<std::string>& options : {std::vector<std::string>{}, std::vector<std::string>{"-old", "-s"}}) {
    std::string console;
    VkmFile vkm;
    auto start = std::chrono::steady_clock::now();
    int rc = convert(path, options, console, vkm);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string mode = options.empty() ? "-new" : "-old -s";
    std::printf("[ large    ] %s %s: %.2f s\n", s.label, mode.c_str(), seconds);
    ASSERT_EQ(rc, 0) << mode << "\n" << console.substr(0, 4000);
    EXPECT_LT(seconds, s.secondsAllowed) << mode;
    EXPECT_TRUE(vkm.problems.empty()) << mode << ": " << vkm.problems.front();
    // Kept: .text, the data and import sections, the relocations, and the
    // three tables; the unused and empty sections are gone. Plus the null,
    // CRC and FileInfo sections.
    uint32_t kept = 1 + s.dataSections + s.importSections + 1 + 3;
    EXPECT_EQ(vkm.sections.size(), kept + 3u) << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargeInput,
                         ::testing::Values(LargeShape{"Moderate", 6000, 1000, 200, 100, 30000, 40000, 1u << 20, 60.0},
                                           LargeShape{"FullSize", 60000, 3000, 1000, 800, 200000, 300000, 40u << 20,
                                                      600.0}),
                         [](const auto& p) { return std::string(p.param.label); });

// Tables of more than twice 65,536 entries are walked in parts on the run's
// threads (the conversion, the counts, the marks, the rewrite, the checks,
// the conversion back). The module and every message are the same with one
// thread and with several, in both symbol-table modes.
TEST(LargeInput, TablesWalkedInPartsGiveTheSameModule) {
  SdkRoot root;
  ScratchDir dir;
  BuiltModule m = buildLargeModule(LargeShape{"Parts", 20, 20, 20, 4, 3000, 140000, 1u << 20, 60.0});
  std::string path = dir / "parts.elf";
  writeText(path, std::string(m.bytes.begin(), m.bytes.end()));
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, std::vector<std::string>{"-old", "-s"}}) {
    const std::string mode = options.empty() ? "-new" : "-old -s";
    std::string console[2];
    VkmFile vkm[2];
    std::vector<uint8_t> bytes[2];
    for (int k = 0; k < 2; ++k) {
      EnvVar threads("ZODAVOV_THREADS", std::string(k == 0 ? "1" : "3"));
      ASSERT_EQ(convert(path, options, console[k], vkm[k], &bytes[k]), 0) << mode << "\n" << console[k].substr(0, 4000);
    }
    EXPECT_EQ(console[0], console[1]) << mode;
    EXPECT_TRUE(bytes[0] == bytes[1]) << mode;
    EXPECT_TRUE(vkm[1].problems.empty()) << mode;
  }
}

// A module goes to its file a megabyte at a time. Written uncompressed, with
// a code section of a few MiB, the file holds exactly the module that a run
// kept in memory makes.
TEST(LargeInput, ModuleFileWrittenInPiecesIsWhole) {
  SdkRoot root;
  ScratchDir dir;
  BuiltModule m = buildLargeModule(LargeShape{"Pieces", 2, 2, 2, 1, 200, 3000, (3u << 20) + 48, 60.0});
  std::string path = dir / "pieces.elf";
  writeText(path, std::string(m.bytes.begin(), m.bytes.end()));
  std::string console;
  VkmFile vkm;
  std::vector<uint8_t> inMemory;
  ASSERT_EQ(convert(path, {"-zx", "-nolib"}, console, vkm, &inMemory), 0) << console.substr(0, 4000);
  ASSERT_EQ(convert(path, {"-zx", "-nolib"}, console, vkm, nullptr, true), 0) << console.substr(0, 4000);
  ASSERT_GT(inMemory.size(), 3u << 20);
  EXPECT_TRUE(readFile(dir / "pieces.vkm") == inMemory);
}

// Kept symbols each get their own copy of their name. A damaged string table
// whose one long name many function symbols share would make the new table's
// names larger than the loader area (1 GB) that holds them; the conversion is
// refused before anything that size is allocated.
TEST(LargeInput, NamesBeyondTheLoaderAreaAreRefused) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  constexpr uint32_t kNameLength = 4u << 20;
  uint32_t first = addSymbol(m.b, {.name = std::string(kNameLength, 'f'),
                                   .value = 0x02000000,
                                   .size = 4,
                                   .info = stInfo(kStbGlobal, kSttFunc),
                                   .shndx = m.text});
  std::vector<uint8_t> probe = build(m.b);
  uint32_t nameAt = get32(probe, symbolOffset(m.b, first) + sym_at::st_name);
  for (int k = 1; k < 256; ++k)  // 256 names of 4 MiB: just over 1 GiB
    addSymbol(
        m.b,
        {.value = 0x02000004, .size = 4, .info = stInfo(kStbGlobal, kSttFunc), .shndx = m.text, .st_name = nameAt});
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  EXPECT_EQ(convertLoaded(ctx), 0xFFFFFFFFu);
  EXPECT_NE(ctx.con.text.find("***Error: The names of the new symbol table would take more than 1 GB, more than "
                              "the loader area holds. Return -1.\n"),
            std::string::npos)
      << ctx.con.text.substr(0, 2000);
  EXPECT_TRUE(ctx.outputBytes.empty());
}

}  // namespace
}  // namespace zv::test
