#include "Common/GeneralHashfunctions.h"

uint32_t APHash(std::string_view s) {
  uint32_t h = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const uint32_t c = static_cast<unsigned char>(s[i]);
    // Positions count from 1, so index 0 is an odd position.
    if (i % 2 == 0)
      h ^= ~(c ^ (h << 11) ^ (h >> 5));
    else
      h ^= c ^ (h << 7) ^ (h >> 3);
  }
  return h;
}
