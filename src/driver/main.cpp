// Entry point of zodavov: one run of the tool over the process's arguments.
#include "driver/driver.h"

int main(int argc, char** argv) {
  zv::Context ctx;
  return zv::runTool(ctx, argc, argv);
}
