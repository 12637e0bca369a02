// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, and the TLS check.
#pragma once

#include <cstdint>

#include "platform/status.h"
#include "run/context.h"

namespace zv {

void prescanLoaderRegion(Context& ctx);
// Makes a table the loader reads (symbols, strings, section names) an
// allocated section at the end of the LOAD region; one already allocated stays.
void placeTableInLoadRegion(Context& ctx, uint32_t sectionIndex);
Status classifyAndPlaceSections(Context& ctx);
// Zero-filled sections the loader cannot place: none in code, none in its
// own range (read from the file). Fails after the message.
Status checkZeroFilledSections(Context& ctx);

// The region sizes (ctx.lay.sizes) from the placed regions, with room for
// branch trampolines; fails after the message.
Status sizeRegions(Context& ctx);
// Fills sizes.text, trampAdj, trampAddition; fails when a branch cannot reach
// a trampoline.
Status reserveTrampolines(Context& ctx);

// Sets ctx.lay.tlsPresent and tlsAlignShift; fails when the TLS segment
// does not match the TLS sections.
Status checkTlsSegment(Context& ctx);

}  // namespace zv
