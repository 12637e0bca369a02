// Text at the Windows system boundary: the tool keeps all text as UTF-8, the
// system's wide ("W") calls take UTF-16. These conversions are used only by
// the Windows side of the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace zv {

// UTF-8 to UTF-16. False when `text` is not valid UTF-8.
bool toWide(const std::string& text, std::wstring& out);
// UTF-16 to UTF-8. False when `text` holds an unpaired surrogate.
bool toUtf8(const std::wstring& text, std::string& out);
// The Windows error code as the C runtime's error number (ENOENT, EACCES, ...).
int errnoFromWindowsError(uint32_t error);

}  // namespace zv
