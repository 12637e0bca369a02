// Entry point of vkmdump, the module viewer: one run over the process's arguments.
#include <new>
#include <string>
#include <vector>

#include "dump/dump.h"
#include "platform/entry.h"

namespace {

int runVkmdump(int argc, char** argv) {
  zv::Console con;
  try {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return zv::runDump(con, args);
  } catch (const std::bad_alloc&) {
    const std::string text = "vkmdump: out of memory\n";
    zv::consoleWrite(con, text.data(), text.size());
    zv::consoleFlush(con);
    return 1;
  }
}

}  // namespace

ZV_PROGRAM_ENTRY(runVkmdump)
