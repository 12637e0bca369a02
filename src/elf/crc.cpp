// A large module's sections add up to tens of megabytes, and an uncompressed
// conversion spends much of its time on their CRCs. Where the build found
// ISA-L, its carry-less-multiply CRC computes them several times faster than
// zlib's table-driven one, with the same values; elsewhere zlib does.
#include "elf/crc.h"

#ifdef ZV_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

namespace zv {

uint32_t crc32Of(uint32_t crc, const uint8_t* data, size_t size) {
  if (size == 0) return crc;
#ifdef ZV_HAVE_ISAL
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
