// The loader's four regions as the layout fills them, the numbering of the
// sections that are kept, and what the TLS check found.
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

struct LayoutState {
  Region regions[4];
  SectionMap map;
  bool tlsPresent = false;
  uint16_t tlsAlignShift = 0;
};

}  // namespace zv
