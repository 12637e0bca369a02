// Section layout: which sections the loader gets and in which of its four
// regions (TEXT, DATA, LOAD, TEMP), the region sizes with room for branch
// trampolines, the size limits and padding, and the TLS check.
#pragma once

#include <cstdint>

#include "driver/context.h"

namespace zv {

void rebuild_section_names(Context& ctx);
void prescan_loader_region(Context& ctx);
uint32_t classify_and_place_sections(Context& ctx);  // 0 or -1
// Zero-filled sections the loader cannot place: none in code, none in its
// own range (read from the file). 0 or -1 after the message.
uint32_t check_zero_filled_sections(Context& ctx);

uint32_t reserve_trampolines(Context& ctx);  // 0 or -1; fills textSize, trampAdj, trampAddition
bool check_region_limit(Context& ctx, const char* regionName, const char* optionName, int32_t size, int32_t limit,
                        int32_t alignment);        // true on an error
bool pad_regions(Context& ctx, uint32_t percent);  // true on an error (a size past 32 bits)

uint32_t check_tls_segment(Context& ctx);  // 0 or -1; sets ctx.lay.tlsPresent, tlsAlignShift

}  // namespace zv
