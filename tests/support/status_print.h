// How a test shows a failure value: the 32-bit value in hex, as the FAILED
// line and the messages name it, instead of the bytes of the record.
#pragma once

#include <cstdio>
#include <ostream>

#include "platform/status.h"

namespace zv {

inline void PrintTo(const Status& s, std::ostream* os) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", s.value());
  *os << buf;
}

}  // namespace zv
