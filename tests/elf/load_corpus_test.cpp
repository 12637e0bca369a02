// Real linker output: every module of the corpus (tests/corpus, made by a
// PowerPC cross toolchain, see tools/corpus/README.md) loads from disk, and
// only the small-data module asks for a VKX.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/context.h"
#include "elf/input.h"

namespace zv::test {
namespace {

struct CorpusCase {
  std::string file;
  bool vkx;
  uint32_t sdaBase;
};

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.file; }

class LoadCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(LoadCorpus, LoadsAndChoosesTheOutputKind) {
  const CorpusCase& c = GetParam();
  std::string path = std::string(ZV_SOURCE_DIR) + "/tests/corpus/" + c.file;
  zv::MappedFile* file = nullptr;
  ASSERT_EQ(zv::mapFile(path, file), 0u) << path;
  zv::Context ctx;
  ctx.con.capture = true;
  EXPECT_TRUE(zv::loadInputElf(ctx, file, c.file).ok()) << ctx.con.text;
  EXPECT_EQ(ctx.con.text, "");
  EXPECT_TRUE(ctx.input.swap);
  EXPECT_EQ(ctx.input.eh.e_machine, 20);
  EXPECT_EQ(ctx.opt.outputIsVkx, c.vkx);
  EXPECT_EQ(ctx.opt.checkNoSda, !c.vkx);
  EXPECT_EQ(ctx.opt.sdaBase, c.sdaBase);
  EXPECT_EQ(ctx.opt.sda2Base, 0x8000u);
}

INSTANTIATE_TEST_SUITE_P(
    LoadCorpusModules, LoadCorpus,
    ::testing::Values(CorpusCase{"basic.elf", false, 0x8000}, CorpusCase{"imports.elf", false, 0x8000},
                      CorpusCase{"tls.elf", false, 0x8000}, CorpusCase{"vkx.elf", true, 0x10008100},
                      CorpusCase{"big.elf", false, 0x8000}, CorpusCase{"codeonly.elf", false, 0x8000}),
    [](const auto& p) { return p.param.file.substr(0, p.param.file.find('.')); });

}  // namespace
}  // namespace zv::test
