// Size limits against region alignments of 2 GB and more. A section may ask
// for any power-of-two alignment; the region takes the largest one, and a
// limit given on the command line must still be a multiple of it, even though
// such an alignment no longer fits a positive 32-bit number.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "layout/layout.h"
#include "writer/writer.h"

namespace zv::test {
namespace {

struct HugeAlignCase {
  const char* name;
  int32_t size, limit, alignment;
  bool error;
  const char* text;
};

void PrintTo(const HugeAlignCase& c, std::ostream* os) { *os << c.name; }

class CheckRegionLimitHugeAlignment : public ::testing::TestWithParam<HugeAlignCase> {};

constexpr int32_t k2Gb = INT32_MIN;  // 0x80000000 as the record's signed field

INSTANTIATE_TEST_SUITE_P(Cases, CheckRegionLimitHugeAlignment,
                         ::testing::Values(
                             // 4096 is no multiple of 2 GB: the error names the next multiple,
                             // 2 GB itself, printed as the signed field shows it.
                             HugeAlignCase{"LimitNotAMultiple", 100, 4096, k2Gb, true,
                                           "Error: \"/out/m.vkm\" -sizedata 4096 is not aligned to DATA segment "
                                           "-2147483648 byte alignment (try -2147483648).\n"},
                             // 0 is a multiple of every alignment; the empty region is within it.
                             HugeAlignCase{"ZeroLimitIsAMultiple", 0, 0, k2Gb, false, ""},
                             // Over the limit as well: both errors, alignment first.
                             HugeAlignCase{
                                 "MisalignedAndOver", 8192, 4096, k2Gb, true,
                                 "Error: \"/out/m.vkm\" -sizedata 4096 is not aligned to DATA segment "
                                 "-2147483648 byte alignment (try -2147483648).\n"
                                 "Error: /out/m.vkm has DATA size of 8192 is larger then limit from -sizedata "
                                 "4096\n"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(CheckRegionLimitHugeAlignment, StillChecksTheAlignment) {
  const HugeAlignCase& c = GetParam();
  zv::Context ctx;
  ctx.con.capture = true;
  ctx.opt.outputPath = "/out/m.vkm";

  EXPECT_EQ(!zv::checkRegionLimit(ctx, "DATA", "-sizedata", c.size, c.limit, c.alignment).ok(), c.error);
  EXPECT_EQ(ctx.con.text, c.text);
}

}  // namespace
}  // namespace zv::test
