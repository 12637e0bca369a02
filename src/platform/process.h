// Starting an outside program: the toolchain's archiver is run on the finished
// import library. The program is started directly with its arguments — no
// command interpreter stands between, so no character of a path is ever
// interpreted — and the tool waits for it to end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace zv {

// Runs `program` (a path, or a bare name looked up on PATH) with `args` as its
// arguments and waits for it. The console is flushed first, so what the tool
// printed so far comes before anything the program prints. Returns the
// program's exit code, or -1 when it cannot be started or ends by a signal.
int runProgram(Console& con, const std::string& program, const std::vector<std::string>& args);

// Runs `program` (a path) with `args` in `folder` (the current one when
// empty) and waits for it, with its standard output and error captured in
// `output` and its environment changed by `env` (a value of nullopt removes
// the variable). Returns the exit code — on Windows the full unsigned 32-bit
// value, exception codes of a crash included — or -1 when the program cannot
// be started or (POSIX) ends by a signal.
// For tests and tools that run the finished executable.
int64_t runCaptured(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                    const std::vector<std::pair<std::string, std::optional<std::string>>>& env, std::string& output);

}  // namespace zv
