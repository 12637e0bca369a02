// A tiny pool of standard threads: one shared counter hands
// out the next piece of work under a mutex, so the pieces start in the order
// the caller sorted them (the largest sections first).
#include "platform/parallel.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zv {

uint32_t hardwareThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<uint32_t>(std::min<unsigned>(n, kMaxThreads));
}

std::optional<uint32_t> parseThreadCount(const std::string& text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - '0'), uint64_t{1} << 32);
  }
  if (value == 0) return std::nullopt;
  return static_cast<uint32_t>(std::min<uint64_t>(value, kMaxThreads));
}

void runOnThreads(size_t count, uint32_t threads, const std::function<void(size_t)>& work) {
  std::mutex lock;
  size_t next = 0;
  auto worker = [&] {
    for (;;) {
      size_t k;
      {
        std::lock_guard<std::mutex> hold(lock);
        if (next == count) return;
        k = next++;
      }
      work(k);
    }
  };
  size_t helpers = std::min<size_t>(threads > 0 ? threads - 1 : 0, count > 0 ? count - 1 : 0);
  std::vector<std::thread> pool;
  for (size_t i = 0; i < helpers; ++i) {
    try {
      pool.emplace_back(worker);
    } catch (const std::system_error&) {
      break;
    }
  }
  worker();
  for (std::thread& t : pool) t.join();
}

Parts splitEntries(uint32_t count, uint32_t threads) {
  Parts p;
  p.count = count;
  p.parts = std::max<uint32_t>(1, std::min<uint32_t>(threads, count / kMinEntriesPerThread));
  return p;
}

void forEachPart(const Parts& parts, const std::function<void(uint32_t, uint32_t, uint32_t)>& work) {
  auto one = [&](size_t k) {
    uint32_t part = static_cast<uint32_t>(k);
    work(part, parts.begin(part), parts.begin(part + 1));
  };
  if (parts.parts <= 1) {
    one(0);
    return;
  }
  runOnThreads(parts.parts, parts.parts, one);
}

}  // namespace zv
