// A run's context holding a built ELF image as its input, the way the stages
// after the input loader find it: the bytes mapped, validated and parsed into
// ctx.input with headers, symbols and relocations in host order, and the
// run's messages captured in ctx.con.text. Stage tests start from here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "run/context.h"
#include "support/elf_builder.h"

namespace zv::test {

// Parse only, unlike the writer tests' loadModule: stage tests get images the input loader would refuse or report on.
// Loads `bytes` into ctx as described above. A refused image throws (a
// failed test) with the parser's code.
void loadImage(zv::Context& ctx, std::vector<uint8_t> bytes);
void loadImage(zv::Context& ctx, const ElfBuilder& b);

// A fresh context with `bytes` loaded.
std::unique_ptr<zv::Context> loadedContext(std::vector<uint8_t> bytes);

}  // namespace zv::test
