// Entry point of zodavov: one run of the tool over the process's arguments.
#include "driver/driver.h"
#include "platform/entry.h"

namespace {

int runZodavov(int argc, char** argv) {
  zv::Context ctx;
  return zv::runTool(ctx, argc, argv);
}

}  // namespace

ZV_PROGRAM_ENTRY(runZodavov)
