// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, the size limits and padding, and the TLS check.
#pragma once

#include <cstdint>

#include "driver/context.h"
#include "platform/status.h"

namespace zv {

void rebuildSectionNames(Context& ctx);
void prescanLoaderRegion(Context& ctx);
Status classifyAndPlaceSections(Context& ctx);
// Zero-filled sections the loader cannot place: none in code, none in its
// own range (read from the file). Fails after the message.
Status checkZeroFilledSections(Context& ctx);

// Fills textSize, trampAdj, trampAddition; fails when a branch cannot reach
// a trampoline.
Status reserveTrampolines(Context& ctx);
// Holds a region's size against its limit from the command line (warns when
// little room is left); fails when the size is over it or the limit is not
// aligned as the region is.
Status checkRegionLimit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                        int32_t alignment);
// Grows the region sizes by `percent`; fails when one would pass 32 bits.
Status padRegions(Context& ctx, uint32_t percent);

// Sets ctx.lay.tlsPresent and tlsAlignShift; fails when the TLS segment
// does not match the TLS sections.
Status checkTlsSegment(Context& ctx);

}  // namespace zv
