// The TLS check: the PT_TLS program header must describe exactly the
// sections flagged as thread-local (start, extent and largest alignment),
// and the alignment must be a power of two, whose logarithm the FileInfo
// carries. Each case is a small module made with the test ELF maker.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "layout/layout.h"
#include "support/elf_builder.h"
#include "support/loaded_image.h"
#include "support/status_print.h"

namespace zv::test {
namespace {

struct TlsSection {
  uint32_t addr;
  uint32_t size;
  uint32_t align;
  bool tls = true;
};

struct TlsCase {
  const char* label;
  std::vector<TlsSection> sections;
  std::vector<ProgramHeader> phdrs;
  bool passes;
  bool present;
  uint16_t shift;
  const char* message;
};

constexpr const char* kMismatch = "***Error: TLS Program Header does not match TLS sections.\n";
constexpr const char* kNotPowerOfTwo = "***Error: TLS Program Header alignment is not a power of two.\n";

ProgramHeader tlsHeader(uint32_t vaddr, uint32_t memsz, uint32_t align, uint32_t filesz = 0) {
  return ProgramHeader{.p_type = kPtTls, .p_vaddr = vaddr, .p_filesz = filesz, .p_memsz = memsz, .p_align = align};
}

const ProgramHeader kLoad{.p_type = kPtLoad, .p_vaddr = 0x10000000, .p_align = 4};

class TlsSegment : public ::testing::TestWithParam<TlsCase> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsSegment,
    ::testing::Values(
        TlsCase{"NoTlsHeaderPasses", {{0x10000100, 0x20, 8}}, {kLoad}, true, false, 0, ""},
        TlsCase{"NoProgramHeadersPass", {{0x10000100, 0x20, 8}}, {}, true, false, 0, ""},
        TlsCase{"TwoSectionsGiveShiftFour",
                {{0x10000100, 0x20, 8}, {0x10000140, 0x10, 16}},
                {kLoad, tlsHeader(0x10000100, 0x50, 16)},
                true,
                true,
                4,
                ""},
        TlsCase{"AlignmentOneGivesZero", {{0x10000000, 0x10, 1}}, {tlsHeader(0x10000000, 0x10, 1)}, true, true, 0, ""},
        TlsCase{
            "AlignmentEightGivesThree", {{0x10000000, 0x10, 8}}, {tlsHeader(0x10000000, 0x10, 8)}, true, true, 3, ""},
        TlsCase{"AlignmentBit31GivesThirtyOne",
                {{0x10000000, 0x10, 0x80000000}},
                {tlsHeader(0x10000000, 0x10, 0x80000000)},
                true,
                true,
                31,
                ""},
        TlsCase{"AlignmentZeroIsPresentWithShiftZero",
                {{0x10000000, 0x10, 0}},
                {tlsHeader(0x10000000, 0x10, 0)},
                true,
                true,
                0,
                ""},
        TlsCase{"AlignmentTwelveFails",
                {{0x10000000, 0x10, 12}},
                {tlsHeader(0x10000000, 0x10, 12)},
                false,
                false,
                0,
                kNotPowerOfTwo},
        TlsCase{
            "OtherStartFails", {{0x10000000, 0x10, 8}}, {tlsHeader(0x10000004, 0x10, 8)}, false, false, 0, kMismatch},
        TlsCase{
            "OtherSizeFails", {{0x10000000, 0x10, 8}}, {tlsHeader(0x10000000, 0x14, 8)}, false, false, 0, kMismatch},
        TlsCase{"OtherAlignmentFails",
                {{0x10000000, 0x10, 8}},
                {tlsHeader(0x10000000, 0x10, 4)},
                false,
                false,
                0,
                kMismatch},
        TlsCase{
            "FileSizeIsNotLookedAt", {{0x10000000, 0x10, 8}}, {tlsHeader(0x10000000, 0x10, 8, 0x4)}, true, true, 3, ""},
        TlsCase{"OnlyTheFirstTlsHeaderCounts",
                {{0x10000000, 0x10, 8}},
                {tlsHeader(0x10000000, 0x10, 8), tlsHeader(0x20000000, 0x99, 3)},
                true,
                true,
                3,
                ""},
        TlsCase{"AFirstWrongTlsHeaderFails",
                {{0x10000000, 0x10, 8}},
                {tlsHeader(0x20000000, 0x99, 3), tlsHeader(0x10000000, 0x10, 8)},
                false,
                false,
                0,
                kMismatch},
        TlsCase{"EmptyAndPlainSectionsDoNotCount",
                {{0x10000000, 0, 64}, {0x10000010, 0x10, 8}, {0x10000040, 0x40, 32, false}},
                {tlsHeader(0x10000010, 0x10, 8)},
                true,
                true,
                3,
                ""},
        TlsCase{"TlsHeaderWithoutTlsSectionsFails",
                {{0x10000000, 0x10, 8, false}},
                {tlsHeader(0x10000000, 0x10, 8)},
                false,
                false,
                0,
                kMismatch},
        TlsCase{"TlsHeaderWithoutSectionsMatchesOnlyTheEmptyExtent",
                {{0x10000000, 0x10, 8, false}},
                {tlsHeader(0xFFFFFFFF, 1, 0)},
                true,
                true,
                0,
                ""}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_P(TlsSegment, MatchesHeaderToSections) {
  const TlsCase& c = GetParam();
  ElfBuilder b;
  for (size_t i = 0; i < c.sections.size(); ++i) {
    const TlsSection& s = c.sections[i];
    uint32_t flags = kShfAlloc | kShfWrite | (s.tls ? kShfVkmTls : 0);
    uint16_t k = addProgbits(b, ".tdata" + std::to_string(i), flags, s.addr, std::vector<uint8_t>(s.size));
    b.sections[k].hdr.sh_addralign = s.align;  // the file keeps its own alignment
  }
  for (const ProgramHeader& p : c.phdrs) addProgramHeader(b, p);
  zv::Context ctx;
  loadImage(ctx, b);
  ctx.lay.tlsPresent = true;  // left over from nothing: the check clears both
  ctx.lay.tlsAlignShift = 9;

  EXPECT_EQ(zv::checkTlsSegment(ctx), c.passes ? zv::Status() : zv::Status::failed());

  EXPECT_EQ(ctx.lay.tlsPresent, c.present);
  EXPECT_EQ(ctx.lay.tlsAlignShift, c.shift);
  EXPECT_EQ(ctx.con.text, c.message);
}

}  // namespace
}  // namespace zv::test
