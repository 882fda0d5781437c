#include "Common/uIPMisc.h"

bool IsValidIPAddress(std::string_view s) {
  if (s.empty()) return false;
  // Value stops growing once above 255: the part is invalid anyway, and long
  // digit runs must not overflow.
  int value = 0, digits = 0, dots = 0;  // digits: whether the part has any
  auto partOk = [&] { return digits > 0 && value <= 255; };
  for (const char c : s) {
    if (c >= '0' && c <= '9') {
      digits = 1;
      if (value <= 255) value = value * 10 + (c - '0');
    } else if (c == '.') {
      if (!partOk()) return false;
      if (++dots > 3) return false;
      value = 0;
      digits = 0;
    } else {
      return false;
    }
  }
  return partOk() && dots == 3;
}
