// Builds settings-file bytes field by field for hand-made fixtures, and
// turns hex text into bytes for records derived by hand.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Bytes {
 public:
  Bytes& i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) b_.push_back(static_cast<uint8_t>(u >> (8 * k)));
    return *this;
  }
  Bytes& u16(uint16_t v) {
    b_.push_back(static_cast<uint8_t>(v));
    b_.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Bytes& byte(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  Bytes& str(std::string_view s) {
    i32(static_cast<int32_t>(s.size()));
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  // Skipped bytes are filled with a non-zero value so that a reader that
  // does not skip exactly reads nonsense.
  Bytes& pad(size_t n, uint8_t fill = 0xA5) {
    b_.insert(b_.end(), n, fill);
    return *this;
  }
  Bytes& raw(const std::vector<uint8_t>& v) {
    b_.insert(b_.end(), v.begin(), v.end());
    return *this;
  }
  // Hex digit pairs; blanks ignored.
  Bytes& hex(std::string_view h) {
    int hi = -1;
    for (char c : h) {
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) continue;
      if (hi < 0) {
        hi = d;
      } else {
        b_.push_back(static_cast<uint8_t>(hi * 16 + d));
        hi = -1;
      }
    }
    return *this;
  }
  // Text bytes without a length.
  Bytes& text(std::string_view s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  const std::vector<uint8_t>& get() const { return b_; }
  operator const std::vector<uint8_t>&() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};
