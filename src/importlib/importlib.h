// The import library: an ar archive holding one ELF stub object that declares
// the module's exports, which other modules link against.
#pragma once

#include <cstdint>

#include "driver/context.h"

namespace zv {

uint32_t writeImportLibrary(Context& ctx);  // the stage: 0 or an error value

}  // namespace zv
