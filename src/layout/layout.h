// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, the size limits and padding, and the TLS check.
#pragma once

#include <cstdint>

#include "driver/context.h"

namespace zv {

void rebuildSectionNames(Context& ctx);
void prescanLoaderRegion(Context& ctx);
uint32_t classifyAndPlaceSections(Context& ctx);  // 0 or -1
// Zero-filled sections the loader cannot place: none in code, none in its
// own range (read from the file). 0 or -1 after the message.
uint32_t checkZeroFilledSections(Context& ctx);

uint32_t reserveTrampolines(Context& ctx);  // 0 or -1; fills textSize, trampAdj, trampAddition
bool checkRegionLimit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                      int32_t alignment);         // true on an error
bool padRegions(Context& ctx, uint32_t percent);  // true on an error (a size past 32 bits)

uint32_t checkTlsSegment(Context& ctx);  // 0 or -1; sets ctx.lay.tlsPresent, tlsAlignShift

}  // namespace zv
