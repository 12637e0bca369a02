// The outcome of a step that can fail. A failed run ends with one FAILED
// line and an exit value, and that value is what a failure carries: -1 for
// a failure the message already explains, a 0xBAD000xx code of a malformed
// image, the 0x8xxxxxxx form of a system error of the host, a system error
// number of a failed write, or a zlib result. Success is the value 0.
//
// The step that finds a failure prints its message there (the order of the
// messages is fixed); checks that print nothing just return the value, and
// the caller says what it means. A Status must be looked at: dropping one
// is a compile error where the compiler warns (warnings are errors).
#pragma once

#include <cstdint>

namespace zv {

class [[nodiscard]] Status {
 public:
  // Success.
  constexpr Status() = default;
  // A failure whose message has been printed: the value -1.
  static constexpr Status failed() { return Status(kFailedValue); }
  // A failure carrying its own value (an image code, a system error, a zlib
  // result). The value 0 is success.
  static constexpr Status withValue(uint32_t value) { return Status(value); }

  constexpr bool ok() const { return value_ == 0; }
  // The 32-bit value of the FAILED line and the exit value; 0 on success.
  constexpr uint32_t value() const { return value_; }

  friend constexpr bool operator==(Status a, Status b) { return a.value_ == b.value_; }

 private:
  static constexpr uint32_t kFailedValue = 0xFFFFFFFF;
  constexpr explicit Status(uint32_t value) : value_(value) {}
  uint32_t value_ = 0;
};

}  // namespace zv
