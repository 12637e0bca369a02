// Loading a built image into a run's context for the stage tests (see
// loaded_image.h).
#include "support/loaded_image.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "elf/image.h"

namespace zv::test {

void loadImage(zv::Context& ctx, std::vector<uint8_t> bytes) {
  ctx.con.capture = true;
  auto size = static_cast<uint32_t>(bytes.size());
  ctx.inputFile = zv::mapMemory(std::move(bytes));
  zv::Status r = zv::parseElfImage(ctx.inputFile->base, size, ctx.input);
  if (!r.ok()) throw std::runtime_error("test image refused: " + std::to_string(r.value()));
  ctx.haveInput = true;
}

void loadImage(zv::Context& ctx, const ElfBuilder& b) { loadImage(ctx, build(b)); }

std::unique_ptr<zv::Context> loadedContext(std::vector<uint8_t> bytes) {
  auto ctx = std::make_unique<zv::Context>();
  loadImage(*ctx, std::move(bytes));
  return ctx;
}

}  // namespace zv::test
