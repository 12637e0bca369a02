// The loader's four regions as the layout fills them, their sizes, the
// numbering of the sections that are kept, and what the TLS check found.
#pragma once

#include <cstdint>
#include <vector>

namespace zv {

constexpr int kTextRegion = 0, kDataRegion = 1, kLoadRegion = 2, kTempRegion = 3;

struct Region {
  uint32_t base = 0;
  uint32_t end = 0;
  uint32_t align = 0;
};

struct SectionMap {
  std::vector<int32_t> newIndex;  // per input section; -1 when dropped
  std::vector<int32_t> oldIndex;  // per new index
  int32_t nextIndex = 1;
  int32_t importCount = 0;
};

// The region sizes the loader must set aside, as the FileInfo reports them:
// the text with its room for branch trampolines (trampAddition bytes in
// all, trampAdj of them in front of the text).
struct RegionSizes {
  uint32_t text = 0;
  uint32_t data = 0;
  uint32_t load = 0;
  uint32_t temp = 0;
  uint32_t trampAdj = 0;
  uint32_t trampAddition = 0;
};

struct LayoutState {
  Region regions[4];
  RegionSizes sizes;
  SectionMap map;
  bool tlsPresent = false;
  uint16_t tlsAlignShift = 0;
};

}  // namespace zv
