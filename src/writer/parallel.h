// Running independent pieces of the writer's work, such as compressing the
// sections of a module, on several threads. The pieces are taken in the order
// given, each by whichever thread is free, and the call returns once all of
// them are done; the caller's thread works too. The results never depend on
// the number of threads, only the time does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zv {

// Threads the machine runs at once (1 when the library cannot tell).
uint32_t hardwareThreads();

// Most threads a run uses, whatever ZODAVOV_THREADS asks for.
constexpr uint32_t kMaxThreads = 64;

// The thread count ZODAVOV_THREADS asks for: a positive decimal number
// (counts above kMaxThreads give kMaxThreads). Nothing for any other text.
std::optional<uint32_t> parseThreadCount(const std::string& text);

// Calls work(0) ... work(count - 1), on up to `threads` threads. A thread that
// cannot be started leaves its share to the others.
void runOnThreads(size_t count, uint32_t threads, const std::function<void(size_t)>& work);

}  // namespace zv
