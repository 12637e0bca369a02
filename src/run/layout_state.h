// The results of the layout stage (src/layout), which alone writes them; the
// writer reads them. The loader's four regions as the layout fills them,
// their sizes, the numbering of the sections that are kept, and what the TLS
// check found.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

// The loader's four regions, in the order the layout numbers them (a
// message names a region by that number).
enum class LoaderRegion : uint8_t { kText, kData, kLoad, kTemp };
constexpr size_t regionIndex(LoaderRegion r) { return static_cast<size_t>(r); }

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

  // The input section behind new index j, or 0 when the map names none of
  // the input's `inputSections` sections.
  uint32_t inputIndexOf(uint32_t j, uint32_t inputSections) const {
    if (j >= oldIndex.size() || oldIndex[j] <= 0) return 0;
    uint32_t old = static_cast<uint32_t>(oldIndex[j]);
    return old < inputSections ? old : 0;
  }
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
  std::array<Region, 4> regions;  // by regionIndex
  Region& region(LoaderRegion r) { return regions[regionIndex(r)]; }
  const Region& region(LoaderRegion r) const { return regions[regionIndex(r)]; }
  RegionSizes sizes;
  SectionMap map;
  bool tlsPresent = false;
  uint16_t tlsAlignShift = 0;
};

}  // namespace zv
