#include "Common/uChunked.h"

#include <limits>

#include "platform/SysUtils.h"

std::string ChunkSizeText(std::string_view line) {
  const size_t cut = line.find_first_of(" \t;");
  return Trim(line.substr(0, cut));
}

std::optional<int64_t> ParseChunkSize(std::string_view sizeText) {
  if (sizeText.empty()) return std::nullopt;
  int64_t size = 0;
  for (const char c : sizeText) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    if (size > (std::numeric_limits<int64_t>::max() - digit) / 16) return std::nullopt;
    size = size * 16 + digit;
  }
  return size;
}
