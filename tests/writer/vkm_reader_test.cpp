// The tests' module-file reader must notice a damaged file, or its silence
// about the writer's files would mean nothing: one byte changed in a CRC
// word, in the padding, in the FileInfo record or in a compressed section's
// size word, or a file cut short, each shows up as a problem.

#include <gtest/gtest.h>

#include <functional>

#include "writer_fixture.h"

namespace zv::test {
namespace {

struct Damage {
  const char* label;
  std::function<void(std::vector<uint8_t>&, const VkmFile&)> apply;
};

class ReaderNotices : public ::testing::TestWithParam<Damage> {};

INSTANTIATE_TEST_SUITE_P(
    Faults, ReaderNotices,
    ::testing::Values(Damage{"CrcWord", [](auto& b, const VkmFile& f) { b[64 + 40 * f.shnum + 4] ^= 1; }},
                      Damage{"PaddingByte", [](auto& b, const VkmFile& f) { b[64 + 44 * f.shnum] = 1; }},
                      Damage{"FileInfoMagic", [](auto& b, const VkmFile& f) { b[f.sections.back().offset] ^= 0x80; }},
                      Damage{"SizeWord",
                             [](auto& b, const VkmFile& f) {
                               for (uint32_t i = 1; i < f.shnum; ++i)
                                 if (f.sections[i].flags & kShfVkmCompressed) {
                                   b[f.sections[i].offset + 3] ^= 1;
                                   return;
                                 }
                             }},
                      Damage{"CutShort", [](auto& b, const VkmFile&) { b.resize(b.size() - 64); }}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(ReaderNotices, DamagedFile) {
  SdkRoot root;
  LinkedModule m = makeLinkedModule();
  addData(m.b, ".zeros", 0x10000100, std::vector<uint8_t>(256, 0));  // compresses
  zv::Context ctx;
  loadModule(ctx, build(m.b));
  ASSERT_EQ(convertLoaded(ctx), 0u) << ctx.con.text;
  std::vector<uint8_t> bytes = ctx.outputBytes;
  VkmFile good = readVkm(bytes);
  ASSERT_TRUE(good.problems.empty()) << problems(good);
  GetParam().apply(bytes, good);
  EXPECT_FALSE(readVkm(bytes).problems.empty());
}

}  // namespace
}  // namespace zv::test
