// How a test shows a failure value: the 32-bit value in hex, as the FAILED
// line and the messages name it, instead of the bytes of the record; hex()
// spells any 32-bit value that way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "platform/status.h"

namespace zv::test {

inline std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}
inline std::string hex(Status s) { return hex(s.value()); }

}  // namespace zv::test

namespace zv {

inline void PrintTo(const Status& s, std::ostream* os) { *os << test::hex(s); }

}  // namespace zv
