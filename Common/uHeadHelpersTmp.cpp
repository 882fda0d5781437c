#include "Common/uHeadHelpersTmp.h"
bool UseXForwardedForGlobal = false;
uint32_t APHash(std::string_view s) {
  uint32_t h = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = static_cast<unsigned char>(s[i]);
    if ((i % 2) == 0) h ^= ~(c ^ (h << 11) ^ (h >> 5)); else h ^= (c ^ (h << 7) ^ (h >> 3));
  }
  return h;
}
std::string HostWithoutPort(std::string_view s) { return std::string(s.substr(0, s.find(':'))); }
std::string TextBetween(std::string_view open, std::string_view close, std::string_view s) {
  auto a = s.find(open); if (open.empty() || a == std::string_view::npos) return {};
  s = s.substr(a + open.size()); auto b = s.find(close); if (close.empty() || b == std::string_view::npos) return {};
  return std::string(s.substr(0, b));
}
std::string CollapseSlashes(std::string_view s) {
  std::string r; for (char c : s) { if (c == '/' && !r.empty() && r.back() == '/') continue; r += c; } return r;
}
