// The placement checks of the header validation find overlapping sections
// (and segments) with one sorted sweep instead of testing every pair, so a
// table of 65,535 headers costs little. Here they are run on many random
// tables beside the rule as written — each section against the ELF header,
// the two header tables and every later section, in that order — and must
// give the same code, including which of the per-section codes comes first.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "elf/image.h"
#include "support/elf_builder.h"

namespace zv::test {
namespace {

struct Placement {
  uint32_t offset, size, type;
};

constexpr uint32_t kFileSize = 0x4000;
constexpr uint32_t kShoff = 0x3000;
constexpr uint32_t kPhoff = 0x40;

bool hasData(const Placement& p) { return p.size != 0 && p.type != kShtNobits; }

// The rule as written, for sections 1.. and segments 1.. of the table.
zv::Status byRule(const std::vector<Placement>& secs, const std::vector<Placement>& segs) {
  uint64_t shEnd = kShoff + uint64_t{kShdrSize} * secs.size();
  uint64_t phEnd = kPhoff + uint64_t{kPhdrSize} * segs.size();
  for (size_t i = 1; i < secs.size(); ++i) {
    if (!hasData(secs[i])) continue;
    uint32_t o = secs[i].offset;
    if (o < kEhdrSize) return zv::bad::kSecInHeader;
    if (!segs.empty() && kPhoff <= o && o < phEnd) return zv::bad::kSecInPh;
    if (kShoff <= o && o < shEnd) return zv::bad::kSecInSh;
    for (size_t j = i + 1; j < secs.size(); ++j)
      if (hasData(secs[j]) && secs[j].offset <= o && o < uint64_t{secs[j].offset} + secs[j].size)
        return zv::bad::kSecOverlap;
  }
  for (size_t i = 1; i < segs.size(); ++i) {
    if (segs[i].size == 0 || segs[i].type == kPtNull) continue;
    for (size_t j = i + 1; j < segs.size(); ++j)
      if (segs[j].size != 0 && segs[j].type != kPtNull && segs[j].offset <= segs[i].offset &&
          segs[i].offset < uint64_t{segs[j].offset} + segs[j].size)
        return zv::bad::kSegOverlap;
  }
  return {};
}

TEST(PlacementSweep, AgreesWithThePairwiseRule) {
  std::mt19937 gen(7);
  auto below = [&gen](uint32_t n) { return static_cast<uint32_t>(gen() % n); };
  int failures = 0;
  for (int round = 0; round < 600; ++round) {
    std::vector<Placement> secs(1 + below(40)), segs(below(2) ? 0 : 1 + below(8));
    secs[0] = {0, 0, kShtNull};
    // Offsets cluster so that ranges often touch, nest and start together;
    // a few reach into the headers and the header tables.
    std::vector<uint32_t> starts = {0x20, 0x48, 0x100, 0x180, 0x200, 0x400, 0x1000, kShoff + 8, 0xFFFFFF00};
    for (size_t i = 1; i < secs.size(); ++i)
      secs[i] = {starts[below(static_cast<uint32_t>(starts.size()))] + 8 * below(20), below(5) == 0 ? 0 : 8 * below(64),
                 below(6) == 0 ? kShtNobits : kShtProgbits};
    for (Placement& p : segs)
      p = {starts[1 + below(6)] + 8 * below(20), 8 * below(64), below(5) == 0 ? kPtNull : kPtLoad};

    ElfBuilder b;
    b.autoShstrtab = false;
    b.minSize = kFileSize;
    b.shdrTableAt = kShoff;
    b.phdrTableAt = kPhoff;
    for (size_t i = 1; i < secs.size(); ++i) {
      Section s{.name = "s", .type = secs[i].type};
      s.hdr.sh_offset = secs[i].offset;
      s.hdr.sh_size = secs[i].size;
      addSection(b, s);
    }
    for (const Placement& p : segs) addProgramHeader(b, {.p_type = p.type, .p_offset = p.offset, .p_filesz = p.size});
    std::vector<uint8_t> bytes = build(b);
    zv::ElfImage img;
    zv::Status got = zv::checkElfHeader(bytes.data(), static_cast<uint32_t>(bytes.size()), img);
    zv::Status want = byRule(secs, segs);
    EXPECT_EQ(got.value(), want.value()) << "round " << round;
    if (got != want && ++failures > 5) break;
  }
}

}  // namespace
}  // namespace zv::test
