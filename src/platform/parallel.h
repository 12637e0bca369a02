// Running independent pieces of a conversion's work, such as compressing the
// sections of a module or walking the parts of a large relocation table, on
// several threads. The pieces are taken in the order
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

// Entries a table needs per thread before its walk is shared out.
constexpr uint32_t kMinEntriesPerThread = 1u << 16;

// A walk over `count` entries cut into consecutive parts: part k covers
// [begin(k), begin(k + 1)). One part when the table is small or one thread
// runs, so the walk costs nothing extra there.
struct Parts {
  uint32_t count = 0;
  uint32_t parts = 1;
  uint32_t begin(uint32_t k) const { return static_cast<uint32_t>(uint64_t{count} * k / parts); }
};
Parts splitEntries(uint32_t count, uint32_t threads);

// Calls work(k, begin, end) for every part of `parts`, on up to as many
// threads as there are parts.
void forEachPart(const Parts& parts, const std::function<void(uint32_t, uint32_t, uint32_t)>& work);

}  // namespace zv
