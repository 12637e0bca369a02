// vkmdump on damaged and foreign files: --verify passes a sound module with
// OK and lists each damage (a flipped byte inside a compressed section, a
// wrong CRC word, a truncated tail, several at once) with the section it
// hurts, exiting non-zero, where the tests' own reader also finds the file
// damaged; files that are no module get one clear line naming the file; -x
// writes exactly the unpacked bytes the tests' reader finds; and the JSON
// of sound, damaged and foreign files passes the schema check written in
// Python.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCompressed = 0x08000000, kCrcs = 0x80000003;

// The big corpus module, converted at level 9 so several sections are compressed.
Bytes convertedModule(const ScratchDir& dir) {
  const std::string input = dir.path + "/big.elf";
  writeFile(input, readFile(sourceDir() + "/tests/corpus/big.elf"));
  auto run = runZodavov({"-z9", "-nolib", input}, dir.path, {{"EDBA_ROOT", sourceDir() + "/samples/sdk"}});
  EXPECT_EQ(run.status, 0) << run.out;
  return readFile(dir.path + "/big.vkm");
}

uint32_t firstSection(const VkmFile& f, const std::function<bool(const VkmSection&)>& pick) {
  for (uint32_t i = 1; i < f.sections.size(); ++i)
    if (f.sections[i].size && pick(f.sections[i])) return i;
  ADD_FAILURE() << "no such section";
  return 0;
}

std::string label(const VkmFile& f, uint32_t i) {
  return "section " + std::to_string(i) + " (" + vkmSectionName(f, i) + ")";
}

uint32_t flipInCompressed(Bytes& b, const VkmFile& f) {
  uint32_t i = firstSection(f, [](const VkmSection& s) { return (s.flags & kCompressed) && s.size > 16; });
  b[f.sections[i].offset + f.sections[i].size / 2] ^= 0x10;
  return i;
}

// The last section with contents in a group (another than the one flipInCompressed hurts).
uint32_t breakCrcWord(Bytes& b, const VkmFile& f) {
  uint32_t i = 0;
  for (uint32_t k = 1; k < f.sections.size(); ++k)
    if (f.sections[k].size && f.sections[k].type != 8 && f.sections[k].type < kCrcs) i = k;
  EXPECT_NE(i, 0u);
  b[64 + 40 * f.sections.size() + 4 * i + 3] ^= 0x01;
  return i;
}

uint32_t cutTail(Bytes& b, const VkmFile& f) {
  uint32_t last = 0;
  for (uint32_t i = 1; i < f.sections.size(); ++i)
    if (f.sections[i].type != 8 && f.sections[i].offset > f.sections[last].offset) last = i;
  b.resize(f.sections[last].offset + 1);
  return last;
}

struct Damage {
  const char* label;
  std::function<std::vector<uint32_t>(Bytes&, const VkmFile&)> apply;  // the sections hurt
  const char* expect;                                                  // in the line of each hurt section
};

const Damage kDamages[] = {
    {"FlippedByteInCompressedSection", [](Bytes& b, const VkmFile& f) { return std::vector{flipInCompressed(b, f)}; },
     ""},
    {"WrongCrcWord", [](Bytes& b, const VkmFile& f) { return std::vector{breakCrcWord(b, f)}; }, ": CRC word 0x"},
    {"TruncatedTail", [](Bytes& b, const VkmFile& f) { return std::vector{cutTail(b, f)}; },
     "run past the end of the file"},
    {"SeveralAtOnce",
     [](Bytes& b, const VkmFile& f) {
       return std::vector{flipInCompressed(b, f), breakCrcWord(b, f)};
     },
     ""},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.label; }

class DumpVerify : public ::testing::TestWithParam<Damage> {};

TEST_P(DumpVerify, ListsEveryDamageAndFails) {
  ScratchDir dir;
  const Bytes good = convertedModule(dir);
  const VkmFile f = readVkm(good);
  ASSERT_TRUE(f.problems.empty());
  const std::string path = dir.path + "/damaged.vkm";
  Bytes bad = good;
  std::vector<uint32_t> hurt = GetParam().apply(bad, f);
  writeFile(path, bad);
  EXPECT_FALSE(readVkm(bad).problems.empty()) << "the tests' reader finds the damage too";

  auto run = runVkmdump({"--verify", path});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_EQ(run.out.find("\nOK\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" problem"), std::string::npos) << run.out;
  for (uint32_t i : hurt) {
    size_t at = run.out.find("  " + label(f, i) + ":");
    ASSERT_NE(at, std::string::npos) << label(f, i) << " not reported:\n" << run.out;
    EXPECT_NE(run.out.substr(at, run.out.find('\n', at) - at).find(GetParam().expect), std::string::npos) << run.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Damages, DumpVerify, ::testing::ValuesIn(kDamages),
                         [](const auto& param) { return std::string(param.param.label); });

TEST(DumpVerifyGood, SoundModulePrintsOk) {
  ScratchDir dir;
  writeFile(dir.path + "/big.vkm", convertedModule(dir));
  auto run = runVkmdump({"--verify", dir.path + "/big.vkm"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - 4), "\nOK\n") << run.out;
}

TEST(DumpForeign, FilesThatAreNoModuleGetOneClearLine) {
  ScratchDir dir;
  const Bytes module = convertedModule(dir);
  const struct {
    const char* name;
    Bytes bytes;
    const char* says;
  } cases[] = {
      {"linked.elf", readFile(sourceDir() + "/tests/corpus/basic.elf"), "not a VKM/VKX module"},
      {"notes.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "not an ELF file"},
      {"empty.vkm", Bytes{}, "cannot be read"},
      {"header.vkm", Bytes(module.begin(), module.begin() + 40), "truncated"},
      {"table.vkm", Bytes(module.begin(), module.begin() + 200), "section headers"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path + "/" + c.name;
    writeFile(path, c.bytes);
    auto run = runVkmdump({"--all", path});
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out.rfind("vkmdump: " + path + ": ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  }
}

TEST(DumpExtract, WritesTheUnpackedContents) {
  ScratchDir dir;
  const Bytes module = convertedModule(dir);
  const std::string path = dir.path + "/big.vkm";
  writeFile(path, module);
  const VkmFile f = readVkm(module);
  uint32_t packed = firstSection(f, [](const VkmSection& s) { return (s.flags & kCompressed) != 0; });
  for (const std::string& which : {vkmSectionName(f, packed), std::to_string(packed)}) {
    const std::string out = dir.path + "/out.bin";
    auto run = runVkmdump({"-x", which, "-o", out, path});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(readFile(out), f.contents[packed]) << which;
  }
  auto missing = runVkmdump({"-x", ".nosuch", "-o", dir.path + "/x.bin", path});
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(fileExists(dir.path + "/x.bin"));
}

TEST(DumpJson, PythonReadsEveryDocumentWithItsSchema) {
  if (runShell("command -v python3").status != 0) GTEST_SKIP() << "python3 is not installed";
  ScratchDir dir;
  const Bytes module = convertedModule(dir);
  writeFile(dir.path + "/big.vkm", module);
  Bytes bad = module;
  breakCrcWord(bad, readVkm(module));
  writeFile(dir.path + "/bad.vkm", bad);
  writeFile(dir.path + "/none.vkm", Bytes{'x'});
  auto run = runVkmdump({"--json", "--all", dir.path + "/big.vkm", dir.path + "/bad.vkm", dir.path + "/none.vkm"});
  EXPECT_EQ(run.status, 1);
  writeText(dir.path + "/docs.json", run.out);
  auto check = runShell("python3 " + shellQuote(sourceDir() + "/tests/dump/check_json_schema.py") + " " +
                        shellQuote(dir.path + "/docs.json") + " 3 1 2");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out, "3 documents match schema 1\n");
}

}  // namespace
}  // namespace zv::test
