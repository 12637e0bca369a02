// Damaged linker output, run the way a build script runs the tool. Each real
// module of tests/corpus is bent in many small ways — cut short, a header or
// table field replaced with an edge value, a few bytes flipped — using a fixed
// random sequence so every run sees the same inputs. Whatever the tool makes
// of such a file, it must exit by itself (no signal, no sanitizer report),
// leave the input as it was and leave no temporary file; a failure must be
// visible to the shell and leave no module behind, and a success must leave a
// module that decodes cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/elf_builder.h"
#include "support/run_tool.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

constexpr uint32_t kEdgeValues[] = {0,      1,       3,          4,          0x10,       0x7F,       0x80,      0xFF,
                                    0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFC, 0xFFFFFFFF};

struct Mutation {
  std::string what;  // for the failure report
  std::vector<uint8_t> bytes;
};

// Where the tables of a big-endian module lie, read straight from its header.
struct TableMap {
  uint32_t shoff = 0, shnum = 0;
  std::vector<uint32_t> symtabs, relas;  // section indexes
};

TableMap mapTables(const std::vector<uint8_t>& elf) {
  TableMap t;
  t.shoff = get32(elf, 32, true);
  t.shnum = get16(elf, 48, true);
  for (uint32_t i = 0; i < t.shnum; ++i) {
    uint32_t type = get32(elf, t.shoff + i * 40 + 4, true);
    if (type == kShtSymtab) t.symtabs.push_back(i);
    if (type == kShtRela) t.relas.push_back(i);
  }
  return t;
}

uint32_t sectionField(const std::vector<uint8_t>& elf, const TableMap& t, uint32_t sec, uint32_t field) {
  return get32(elf, t.shoff + sec * 40 + field, true);
}

// Offset of a random entry of one of `sections` (entries of `entsize` bytes),
// or 0 when there is none.
uint64_t randomEntry(const std::vector<uint8_t>& elf, const TableMap& t, const std::vector<uint32_t>& sections,
                     uint32_t entsize, std::mt19937& rng) {
  if (sections.empty()) return 0;
  uint32_t sec = sections[rng() % sections.size()];
  uint32_t count = sectionField(elf, t, sec, 20) / entsize;
  if (count == 0) return 0;
  return sectionField(elf, t, sec, 16) + uint64_t{rng() % count} * entsize;
}

Mutation mutate(const std::vector<uint8_t>& original, const TableMap& t, std::mt19937& rng) {
  Mutation m{"", original};
  std::vector<uint8_t>& b = m.bytes;
  uint32_t edge = kEdgeValues[rng() % std::size(kEdgeValues)];
  switch (rng() % 7) {
    case 0: {  // cut short
      size_t keep = rng() % 3 == 0 ? rng() % 128 : rng() % b.size();
      b.resize(keep);
      m.what = "cut to " + std::to_string(keep) + " bytes";
      break;
    }
    case 1: {  // one field of a section header
      uint32_t sec = static_cast<uint32_t>(rng() % t.shnum), field = static_cast<uint32_t>(rng() % 10) * 4;
      put32(b, t.shoff + sec * 40 + field, edge, true);
      m.what = "section " + std::to_string(sec) + " header word " + std::to_string(field / 4);
      break;
    }
    case 2: {  // one field of the ELF header past the identification
      static constexpr uint32_t kHalfFields[] = {16, 18, 40, 42, 44, 46, 48, 50};
      static constexpr uint32_t kWordFields[] = {20, 24, 28, 32, 36};
      if (rng() % 2) {
        uint32_t at = kHalfFields[rng() % std::size(kHalfFields)];
        put16(b, at, static_cast<uint16_t>(edge), true);
        m.what = "ELF header half at " + std::to_string(at);
      } else {
        uint32_t at = kWordFields[rng() % std::size(kWordFields)];
        put32(b, at, edge, true);
        m.what = "ELF header word at " + std::to_string(at);
      }
      break;
    }
    case 3: {  // a symbol's name, value, size, info or section
      uint64_t at = randomEntry(b, t, t.symtabs, 16, rng);
      uint32_t field = static_cast<uint32_t>(rng() % 5);
      if (field < 3) put32(b, at + field * 4, edge, true);
      if (field == 3) b[at + 12] = static_cast<uint8_t>(edge);
      if (field == 4) put16(b, at + 14, static_cast<uint16_t>(edge), true);
      m.what = "symbol at " + std::to_string(at) + " field " + std::to_string(field);
      break;
    }
    case 4: {  // a relocation's offset, symbol and type, or addend
      uint64_t at = randomEntry(b, t, t.relas, 12, rng);
      uint32_t field = static_cast<uint32_t>(rng() % 3);
      if (at != 0 && field == 1 && rng() % 2) {
        b[at + 7] = static_cast<uint8_t>(rng());  // the type alone
      } else if (at != 0) {
        put32(b, at + field * 4, edge, true);
      }
      m.what = "relocation at " + std::to_string(at) + " field " + std::to_string(field);
      break;
    }
    case 5: {  // one field of a program header
      uint32_t phoff = get32(b, 28, true), phnum = get16(b, 44, true);
      if (phnum == 0) break;
      uint32_t at = static_cast<uint32_t>(phoff + (rng() % phnum) * 32 + (rng() % 8) * 4);
      put32(b, at, edge, true);
      m.what = "program header word at " + std::to_string(at);
      break;
    }
    default: {  // a few random bytes anywhere
      uint32_t n = 1 + rng() % 8;
      m.what = "bytes flipped at";
      for (uint32_t i = 0; i < n; ++i) {
        size_t at = rng() % b.size();
        b[at] ^= static_cast<uint8_t>(1 + rng() % 255);
        m.what += " " + std::to_string(at);
      }
    }
  }
  return m;
}

// Runs one damaged input and checks what any run must leave behind.
// The module is written as in.vkm or, for an executable, in.vkx. Returns
// whether the run failed.
bool runDamaged(const Mutation& m, const std::vector<std::string>& options) {
  ScratchDir dir;
  const std::string input = dir.path + "/in.elf";
  writeFile(input, m.bytes);
  std::vector<std::string> args = options;
  args.push_back("in.elf");
  ToolRun run =
      runZodavov(args, dir.path, {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"GHS_ROOT", toolchainRoot()}});

  EXPECT_GE(run.status, 0) << "ended by a signal\n" << run.out;
  EXPECT_EQ(run.out.find("Sanitizer"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("runtime error"), std::string::npos) << run.out;
  EXPECT_EQ(readFile(input), m.bytes) << "the input was changed";
  for (const std::string& name : folderEntries(dir.path)) {
    EXPECT_TRUE(name == "in.elf" || name == "in.a" || name == "in.vkm" || name == "in.vkx") << "left behind: " << name;
  }
  const std::string module = dir.path + (fileExists(dir.path + "/in.vkx") ? "/in.vkx" : "/in.vkm");
  const bool failed =
      run.out.find(" FAILED Error = ") != std::string::npos || run.out.find("\nUsage:\n") != std::string::npos;
  if (failed) {
    EXPECT_NE(run.status, 0) << "a failure the shell sees as success\n" << run.out;
    EXPECT_FALSE(fileExists(module)) << "a module left by a failed run\n" << run.out;
    return true;
  }
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(fileExists(module)) << run.out;
  if (fileExists(module)) {
    VkmFile f = readVkm(readFile(module));
    EXPECT_TRUE(f.problems.empty()) << f.problems.front();
  }
  return false;
}

struct SweepCase {
  const char* module;
};

void PrintTo(const SweepCase& c, std::ostream* os) { *os << c.module; }

class MutationSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(MutationSweep, DamagedModulesAreRefusedOrConvertedCleanly) {
  const SweepCase& c = GetParam();
  const std::vector<uint8_t> original = readFile(sourceDir() + "/tests/corpus/" + c.module + ".elf");
  ASSERT_GT(original.size(), 52u);
  const TableMap tables = mapTables(original);
  ASSERT_GT(tables.shnum, 0u);
  ASSERT_FALSE(tables.symtabs.empty());
  std::mt19937 rng(0x5EED0000u + static_cast<uint32_t>(original.size()));
  const std::vector<std::vector<std::string>> optionSets = {{}, {"-old"}, {"-old", "-s"}, {"-zx", "-f"}, {"-x32"}};
  constexpr int kCases = 60;
  int failures = 0;
  for (int i = 0; i < kCases; ++i) {
    Mutation m = mutate(original, tables, rng);
    const std::vector<std::string>& options = optionSets[i % optionSets.size()];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + m.what);
    failures += runDamaged(m, options) ? 1 : 0;
  }
  // The damage is real: some inputs are refused, and some still convert.
  EXPECT_GT(failures, kCases / 4);
  EXPECT_LT(failures, kCases);
  std::printf("%d of %d damaged inputs refused\n", failures, kCases);
}

// The inputs kept from fuzzing and reviews (fuzz/regressions/convert: the
// first byte selects the fuzz target's options, the rest is the input) go
// through the same checks with the default options. (Those kept so far are
// all refused; their messages are rows of the bad-input table.)
TEST(KeptFindings, AreRefusedOrConvertedCleanly) {
  const std::string dir = sourceDir() + "/fuzz/regressions/convert";
  std::vector<std::string> names = folderEntries(dir);
  ASSERT_FALSE(names.empty()) << dir;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = readFile(dir + "/" + name);
    ASSERT_GT(bytes.size(), 1u);
    Mutation m{name, std::vector<uint8_t>(bytes.begin() + 1, bytes.end())};
    runDamaged(m, {});
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, MutationSweep,
                         ::testing::Values(SweepCase{"basic"}, SweepCase{"imports"}, SweepCase{"tls"}, SweepCase{"vkx"},
                                           SweepCase{"codeonly"}, SweepCase{"funcexports"}, SweepCase{"dataexports"}),
                         [](const auto& p) { return std::string(p.param.module); });

}  // namespace
}  // namespace zv::test
