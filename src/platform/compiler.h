// Compiler-specific spellings in one place: the rest of the tree is standard
// C++ that any of the host compilers (g++, clang, MinGW-w64, MSVC) accepts.
// Only these small macros differ between them.
#pragma once

#include <cstdint>

// Lets the compiler check printf-style format strings of the tool's messages.
#if defined(__MINGW32__)
#define ZV_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__GNUC__) || defined(__clang__)
#define ZV_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define ZV_PRINTF_FORMAT(fmt, first)
#endif

namespace zv {

// Byte swaps: one instruction where the compiler offers it, plain shifts otherwise.
inline uint16_t byteSwap16(uint16_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap16(v);
#else
  return static_cast<uint16_t>((v >> 8) | (v << 8));
#endif
}

inline uint32_t byteSwap32(uint32_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap32(v);
#else
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
#endif
}

}  // namespace zv
