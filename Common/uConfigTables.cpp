#include "Common/uConfigTables.h"

#include "platform/Random.h"

std::string XorString(std::string_view text, std::string_view key) {
  std::string out(text);
  if (key.empty()) return out;
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>(static_cast<uint8_t>(out[i]) ^ static_cast<uint8_t>(key[(i + 1) % key.size()]));
  return out;
}

int32_t NewConfigId() { return Random(2147483646) + 1; }

void CleanHeaderList(TStringList& list) {
  for (int i = list.Count() - 1; i >= 0; --i)
    if (list[i].empty()) list.Delete(i);
}

std::string CollapseSlashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '/' || out.empty() || out.back() != '/') out.push_back(c);
  return out;
}
