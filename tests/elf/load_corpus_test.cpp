// Real linker output: every module of the corpus (tests/corpus, made by a
// PowerPC cross toolchain, see tools/corpus/README.md) loads from disk, and
// only the small-data module asks for a VKX unless -vkx came first. The
// loader needs no run record: a console, the settings and the file.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "elf/input.h"

namespace zv::test {
namespace {

struct CorpusCase {
  std::string file;
  bool forceVkx;
  bool vkx;
  uint32_t sdaBase;
};

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.file << (c.forceVkx ? " -vkx" : ""); }

class LoadCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(LoadCorpus, LoadsAndChoosesTheOutputKind) {
  const CorpusCase& c = GetParam();
  std::string path = std::string(ZV_SOURCE_DIR) + "/tests/corpus/" + c.file;
  zv::MappedFile* file = nullptr;
  ASSERT_TRUE(zv::mapFile(path, file).ok()) << path;
  zv::Console con;
  con.capture = true;
  zv::ElfImage image;
  zv::InputFacts facts;
  EXPECT_TRUE(zv::loadInputElf(con, *file, c.file, zv::LoadSettings{c.forceVkx, 2}, image, facts).ok()) << con.text;
  EXPECT_EQ(con.text, "");
  EXPECT_TRUE(image.swap);
  EXPECT_EQ(image.eh.e_machine, 20);
  EXPECT_TRUE(facts.parsed);
  EXPECT_EQ(facts.outputIsVkx, c.vkx);
  EXPECT_EQ(facts.checkNoSda, !c.vkx);
  EXPECT_EQ(facts.sdaBase, c.sdaBase);
  EXPECT_EQ(facts.sda2Base, 0x8000u);
  EXPECT_FALSE(facts.emptyNullRelaSeen);
  zv::releaseMappedFile(file);
}

INSTANTIATE_TEST_SUITE_P(
    LoadCorpusModules, LoadCorpus,
    ::testing::Values(CorpusCase{"basic.elf", false, false, 0x8000}, CorpusCase{"imports.elf", false, false, 0x8000},
                      CorpusCase{"tls.elf", false, false, 0x8000}, CorpusCase{"vkx.elf", false, true, 0x10008100},
                      CorpusCase{"big.elf", false, false, 0x8000}, CorpusCase{"codeonly.elf", false, false, 0x8000},
                      CorpusCase{"basic.elf", true, true, 0x8000}),
    [](const auto& p) { return p.param.file.substr(0, p.param.file.find('.')) + (p.param.forceVkx ? "_forced" : ""); });

}  // namespace
}  // namespace zv::test
