// End-to-end conversions of the real modules in tests/corpus (linked by the
// PowerPC cross toolchain): each one converts with exit value 0, the module
// file decodes cleanly with the test suite's own reader (group order, CRC
// words against the uncompressed bytes, decompression, FileInfo), the input
// file is left unchanged, and the standard ELF reader accepts an uncompressed
// module without complaint.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "support/run_tool.h"
#include "support/vkm_reader.h"

namespace zv::test {
namespace {

struct CorpusCase {
  const char* module;
  const char* output;  // file name of the module written
  bool vkx;
  bool tls;
  bool exports;  // the module has export tables, so an import library is written
};

const CorpusCase kCases[] = {
    {"basic", "basic.vkm", false, false, true},
    {"imports", "imports.vkm", false, false, false},
    {"tls", "tls.vkm", false, true, true},
    {"vkx", "vkx.vkx", true, false, false},
    {"big", "big.vkm", false, false, false},
    {"codeonly", "codeonly.vkm", false, false, false},
    {"funcexports", "funcexports.vkm", false, false, true},
    {"dataexports", "dataexports.vkm", false, false, true},
    {"endmarker", "endmarker.vkm", false, false, false},
    {"suffixnames", "suffixnames.vkm", false, false, false},
};

std::vector<std::pair<std::string, std::string>> sdkEnv() {
  return {
      {"EDBA_ROOT", sourceDir() + "/samples/sdk"}, {"GHS_ROOT", toolchainRoot()}, {"SOURCE_DATE_EPOCH", "1700000000"}};
}

class CorpusConversion : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(CorpusConversion, ConvertsVerifiesAndLeavesInputAlone) {
  const CorpusCase& c = GetParam();
  ScratchDir dir;
  const std::string input = dir.path + "/" + c.module + ".elf";
  const auto original = readFile(sourceDir() + "/tests/corpus/" + c.module + ".elf");
  writeFile(input, original);

  auto run = runZodavov({"-dbg_source_root", dir.path, input}, dir.path, sdkEnv());
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  EXPECT_EQ(readFile(input), original) << "the input file was modified";

  const auto bytes = readFile(dir.path + "/" + c.output);
  EXPECT_EQ(bytes.size() % 64, 0u);
  VkmFile f = readVkm(bytes);
  for (const auto& p : f.problems) ADD_FAILURE() << p;
  EXPECT_EQ(f.info.magic, 0xEDBA0402u);
  EXPECT_EQ(f.info.fixedValue, 0x5078u);
  EXPECT_EQ(f.info.fileName, c.output);  // relative to the source root
  EXPECT_EQ((f.info.flags & 0x2) != 0, c.vkx);
  EXPECT_EQ((f.info.flags & 0x8) != 0, c.tls);
  EXPECT_EQ(f.info.sdkVersion, 21300u);
  EXPECT_EQ(f.info.sdkRevision, 7u);
  ASSERT_EQ(f.info.tags.size(), 1u);
  EXPECT_EQ(f.info.tags[0].first, "SAMPLE_TAG");
  EXPECT_EQ(f.info.tags[0].second, "hello");
  EXPECT_EQ(f.info.stackSize, 65536u);
  EXPECT_EQ(f.info.heapSize, 32768u);
  EXPECT_EQ(fileExists(dir.path + "/" + c.module + ".a"), c.exports);

  // The new symbol table starts with the three pseudo-symbols.
  int symtab = vkmFindSection(f, ".symtab");
  ASSERT_GE(symtab, 0);
  auto syms = vkmSymbols(f, static_cast<uint32_t>(symtab));
  ASSERT_GE(syms.size(), 4u);
  uint32_t strtab = f.sections[static_cast<uint32_t>(symtab)].link;
  EXPECT_EQ(vkmString(f, strtab, syms[1].name), "$TEXT");
  EXPECT_EQ(vkmString(f, strtab, syms[2].name), "$DATA");
  EXPECT_EQ(vkmString(f, strtab, syms[3].name), "$UNDEF");
}

TEST_P(CorpusConversion, UncompressedModuleReadsCleanWithReadelf) {
  const CorpusCase& c = GetParam();
  if (runShell("command -v readelf").status != 0) GTEST_SKIP() << "readelf is not installed";
  ScratchDir dir;
  const std::string input = dir.path + "/" + c.module + ".elf";
  writeFile(input, readFile(sourceDir() + "/tests/corpus/" + c.module + ".elf"));
  auto run = runZodavov({"-zx", "-nolib", input}, dir.path, sdkEnv());
  ASSERT_EQ(run.status, 0) << run.out;
  auto re = runShell("readelf -a " + shellQuote(dir.path + "/" + c.output));
  EXPECT_EQ(re.status, 0) << re.out;
  EXPECT_EQ(re.out.find("Error"), std::string::npos) << re.out;
  EXPECT_EQ(re.out.find("Warning"), std::string::npos) << re.out;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusConversion, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.module); });

// The large module is where compression pays: its sections shrink, and each
// one decompresses to bytes whose CRC is the stored word (checked by the
// reader) and equals the uncompressed module's contents; the file is much
// smaller than with -zx, and the FileInfo records the level given.
TEST(CorpusCompression, LargeModuleCompressesAtEveryLevel) {
  ScratchDir dir;
  const std::string input = dir.path + "/big.elf";
  writeFile(input, readFile(sourceDir() + "/tests/corpus/big.elf"));
  auto env = sdkEnv();
  ASSERT_EQ(runZodavov({"-zx", input}, dir.path, env).status, 0);
  const auto plain = readFile(dir.path + "/big.vkm");
  ASSERT_EQ(runZodavov({"-z1", input}, dir.path, env).status, 0);
  const auto fast = readFile(dir.path + "/big.vkm");
  ASSERT_EQ(runZodavov({"-z9", input}, dir.path, env).status, 0);
  const auto best = readFile(dir.path + "/big.vkm");
  EXPECT_LT(best.size(), plain.size() / 2);
  EXPECT_LT(fast.size(), plain.size() / 2);
  EXPECT_EQ(readVkm(fast).info.compressionLevel, 1u);

  VkmFile f = readVkm(best);
  for (const auto& p : f.problems) ADD_FAILURE() << p;
  EXPECT_EQ(f.info.compressionLevel, 9u);
  int compressed = 0;
  for (const auto& s : f.sections) compressed += (s.flags & 0x08000000) != 0;
  EXPECT_GE(compressed, 2);
  VkmFile p = readVkm(plain);
  EXPECT_EQ(p.info.compressionLevel, 0xFFFFFFFFu);
  ASSERT_EQ(p.contents.size(), f.contents.size());
  for (size_t i = 0; i < p.contents.size(); ++i) EXPECT_EQ(p.contents[i], f.contents[i]) << "section " << i;
}

}  // namespace
}  // namespace zv::test
