// Loading the linker's output: validate and convert it, find the small-data
// bases, decide between a VKM and a VKX, and make sure the file carries the
// relocations the loader needs.
#pragma once

#include <string>

#include "driver/context.h"

namespace zv {

// Fails with -1 or a 0xBAD000xx code; prints its own messages. On success
// (and after a successful parse even when a later check fails) ctx.input
// holds the image and ctx.haveInput is set. ctx.inputFile takes the mapping
// in every case except a second input (-1 without a message, the caller
// keeps its file), so the run releases it at its end.
Status loadInputElf(Context& ctx, MappedFile* file, const std::string& name);

}  // namespace zv
