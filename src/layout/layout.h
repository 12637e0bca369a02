// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, the size limits and padding, and the TLS check.
#pragma once

#include <cstdint>

#include "run/context.h"
#include "writer/module_format.h"

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
bool checkRegionLimit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                      int32_t alignment);  // true on an error
// Grows the region sizes of `fi` by `percent`, each rounded up to its
// region's alignment; true on an error (a size past 32 bits).
bool padRegions(Context& ctx, uint32_t percent, FileInfoHeader& fi);

uint32_t checkTlsSegment(Context& ctx);  // 0 or -1; sets ctx.lay.tlsPresent, tlsAlignShift

}  // namespace zv
