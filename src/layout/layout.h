// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, and the TLS check.
#pragma once

#include <cstdint>

#include "run/context.h"

namespace zv {

void prescanLoaderRegion(Context& ctx);
// Makes a table the loader reads (symbols, strings, section names) an
// allocated section at the end of the LOAD region; one already allocated stays.
void placeTableInLoadRegion(Context& ctx, uint32_t sectionIndex);
uint32_t classifyAndPlaceSections(Context& ctx);  // 0 or -1
// Zero-filled sections the loader cannot place: none in code, none in its
// own range (read from the file). 0 or -1 after the message.
uint32_t checkZeroFilledSections(Context& ctx);

// The region sizes (ctx.lay.sizes) from the placed regions, with room for
// branch trampolines. 0 or -1 after the message.
uint32_t sizeRegions(Context& ctx);
uint32_t reserveTrampolines(Context& ctx);  // 0 or -1; fills sizes.text, trampAdj, trampAddition

uint32_t checkTlsSegment(Context& ctx);  // 0 or -1; sets ctx.lay.tlsPresent, tlsAlignShift

}  // namespace zv
