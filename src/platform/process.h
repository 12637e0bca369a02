// Starting an outside program: the toolchain's archiver is run on the finished
// import library. The program is started directly with its arguments — no
// command interpreter stands between, so no character of a path is ever
// interpreted — and the tool waits for it to end.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace zv {

// Runs `program` (a path, or a bare name looked up on PATH) with `args` as its
// arguments and waits for it. The console is flushed first, so what the tool
// printed so far comes before anything the program prints. Returns the
// program's exit code, or -1 when it cannot be started or ends by a signal.
int runProgram(Console& con, const std::string& program, const std::vector<std::string>& args);

}  // namespace zv
