// A large module's sections add up to tens of megabytes, and an uncompressed
// conversion spends much of its time on their CRCs. Where the build found
// ISA-L, its carry-less-multiply CRC computes them several times faster than
// zlib's table-driven one, with the same values; elsewhere zlib does.
//
// On a processor with 512-bit vectors ISA-L picks its AVX-512 routine. Each
// section's CRC is taken just before it is compressed, and after that
// routine zlib compressed every section about 3 % slower on the machine we
// measure on (2 s of compression against 5 ms of CRC at 32 MiB), so the
// 128-bit routine is called by name where the processor has its
// instructions; it is within a millisecond of the other at 32 MiB.
#include "elf/crc.h"

#ifdef ZV_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

#ifdef ZV_HAVE_ISAL_BY8
extern "C" uint32_t crc32_gzip_refl_by8(  // NOLINT(readability-identifier-naming): ISA-L's name
    uint32_t crc, const unsigned char* data, uint64_t size);
#endif

namespace zv {

namespace {

#ifdef ZV_HAVE_ISAL_BY8
bool has128BitRoutine() {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool kHas = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return kHas;
#else
  return false;
#endif
}
#endif

}  // namespace

uint32_t crc32Of(uint32_t crc, const uint8_t* data, size_t size) {
  if (size == 0) return crc;
#ifdef ZV_HAVE_ISAL
#ifdef ZV_HAVE_ISAL_BY8
  if (has128BitRoutine()) return crc32_gzip_refl_by8(crc, data, size);
#endif
  return crc32_gzip_refl(crc, data, size);
#else
  // zlib counts in 32 bits: long contents go in pieces.
  constexpr size_t kPiece = size_t{1} << 30;
  uLong value = crc;
  for (size_t done = 0; done < size; done += kPiece) {
    size_t n = size - done < kPiece ? size - done : kPiece;
    value = crc32(value, data + done, static_cast<uInt>(n));
  }
  return static_cast<uint32_t>(value);
#endif
}

}  // namespace zv
