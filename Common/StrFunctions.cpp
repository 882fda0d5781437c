#include "Common/StrFunctions.h"

#include <vector>

#include "platform/Random.h"
#include "platform/SysUtils.h"

int32_t FastPos(std::string_view sub, std::string_view s) { return Pos(sub, s); }

std::string LeftOf(std::string_view sep, std::string_view s, bool wholeIfMissing) {
  const int32_t p = FastPos(sep, s);
  if (p == 0) return wholeIfMissing ? std::string(s) : std::string();
  return std::string(s.substr(0, static_cast<size_t>(p - 1)));
}

std::string RightOf(std::string_view sep, std::string_view s, bool wholeIfMissing) {
  const int32_t p = FastPos(sep, s);
  if (p == 0) return wholeIfMissing ? std::string(s) : std::string();
  return std::string(s.substr(static_cast<size_t>(p - 1) + sep.size()));
}

std::string SecondField(std::string_view sep, std::string_view s) {
  return LeftOf(sep, RightOf(sep, s, false), false);
}

std::string TextBetween(std::string_view open, std::string_view close, std::string_view s) {
  return LeftOf(close, RightOf(open, s, false), false);
}

std::string RightStr(std::string_view s, int32_t n) {
  if (n <= 0) return std::string();
  if (static_cast<size_t>(n) >= s.size()) return std::string(s);
  return std::string(s.substr(s.size() - static_cast<size_t>(n)));
}

std::string LeftStr(std::string_view s, int32_t n) {
  if (n <= 0) return std::string();
  return std::string(s.substr(0, static_cast<size_t>(n)));
}

std::string PadLeft(std::string_view pad, std::string_view s, int32_t width) {
  std::string r(s);
  if (pad.empty() || width <= 0 || r.size() >= static_cast<size_t>(width)) return r;
  const size_t missing = static_cast<size_t>(width) - r.size();
  const size_t times = (missing + pad.size() - 1) / pad.size();
  std::string front;
  front.reserve(times * pad.size());
  for (size_t i = 0; i < times; ++i) front.append(pad);
  return front + r;
}

bool StartsWith(std::string_view prefix, std::string_view s, bool caseSensitive) {
  if (prefix.size() > s.size()) return false;
  const std::string_view head = s.substr(0, prefix.size());
  return caseSensitive ? head == prefix : SameText(head, prefix);
}

std::string IfThenStr(bool condition, std::string_view a, std::string_view b) {
  return std::string(condition ? a : b);
}

std::string ReplaceAll(std::string_view oldText, std::string_view newText, std::string_view s) {
  return StringReplaceAll(s, oldText, newText);
}

void SplitAt(std::string_view sep, std::string s, std::string& left, bool trim, std::string& right) {
  // S is a copy, so Left or Right may be the caller's S.
  std::string l, r;
  const int32_t p = FastPos(sep, s);
  if (p == 0) {
    r = std::move(s);
  } else {
    l = s.substr(0, static_cast<size_t>(p - 1));
    r = s.substr(static_cast<size_t>(p - 1) + sep.size());
  }
  if (trim) {
    l = Trim(l);
    r = Trim(r);
  }
  left = std::move(l);
  right = std::move(r);
}

void CutField(std::string_view sep, std::string& s, std::string& field) { SplitAt(sep, s, field, false, s); }

std::string RemoveTrailing(std::string_view suffix, std::string_view s) {
  if (suffix.empty()) return std::string(s);
  while (s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix) s.remove_suffix(suffix.size());
  return std::string(s);
}

TByteSet CharRange(unsigned char first, unsigned char last) {
  TByteSet set;
  for (unsigned c = first; c <= last; ++c) set.set(c);
  return set;
}

std::string RandomString(int32_t n, const TByteSet& allowed) {
  Assert(allowed.any(), "You must set AAllowed to a range of allowed characters!");
  std::vector<char> chars;
  for (unsigned c = 0; c < 256; ++c)
    if (allowed.test(c)) chars.push_back(static_cast<char>(c));
  std::string r;
  if (n <= 0) return r;
  r.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) r.push_back(chars[static_cast<size_t>(Random(static_cast<int32_t>(chars.size())))]);
  return r;
}
