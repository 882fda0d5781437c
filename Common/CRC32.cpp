#include "Common/CRC32.h"

#include <zlib.h>

// zlib's crc32 computes the same standard CRC with a faster method; it keeps
// the register inverted between calls, so the plain register is converted on
// the way in and out.
uint32_t UpdateCRC32(uint32_t crc, const void* buffer, size_t count) {
  if (buffer == nullptr) return crc;
  const auto* p = static_cast<const Bytef*>(buffer);
  return ~static_cast<uint32_t>(crc32_z(~crc & 0xFFFFFFFFu, p, count));
}
