// The writer: turns the parsed input image into the VKM/VKX file, and the
// check of a generated file's layout that runs when the file is read back.
#pragma once

#include <cstdint>

#include "driver/context.h"

namespace zv {

uint32_t write_output_file(Context& ctx);  // the writer stage: 0 or an error value
uint32_t lay_out_sections(Context& ctx);
uint32_t build_and_write_image(Context& ctx);

// Checks the group order of a generated file already parsed into `img`
// (whose bytes are `eof` long). 0 or -1; prints its own messages.
uint32_t verifyGeneratedLayout(Context& ctx, const ElfImage& img, uint32_t eof);

}  // namespace zv
