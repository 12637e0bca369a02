// Messages of a run: printf-formatted text written to the run's console. A
// message of any length is written whole.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/compiler.h"
#include "platform/platform.h"

namespace zv {

inline void vsay(Console& con, const char* fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  char small[512];
  int n = vsnprintf(small, sizeof small, fmt, ap);
  if (n < 0) {
    va_end(ap2);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(ap2);
    consoleWrite(con, small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(big.data(), big.size(), fmt, ap2);
  va_end(ap2);
  consoleWrite(con, big.data(), static_cast<size_t>(n));
}

// Prints one message (printf format) to the console.
ZV_PRINTF_FORMAT(2, 3) inline void say(Console& con, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vsay(con, fmt, ap);
  va_end(ap);
}

}  // namespace zv
