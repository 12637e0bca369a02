// The CRC-32 the module format keeps for every section: the reflected IEEE
// polynomial that gzip and zlib use, started at 0 and chained by passing the
// previous value. One function for every part of the tool that checks or
// writes a CRC, so all of them agree.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// The CRC-32 of `size` bytes at `data`, continuing from `crc` (0 to start).
uint32_t crc32Of(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace zv
