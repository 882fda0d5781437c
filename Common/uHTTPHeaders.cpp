#include "Common/uHTTPHeaders.h"

#include <vector>

#include "platform/SysUtils.h"

std::string THTTPHeaders::ComposeLine(std::string_view name, std::string_view value) {
  std::string line = SpareLine();
  line.reserve(name.size() + 2 + value.size());
  line.append(name).append(": ").append(value);
  return line;
}

std::string THTTPHeaders::GetFirstLine() const { return Empty() ? std::string() : Get(0); }

void THTTPHeaders::SetFirstLine(std::string_view text) {
  std::string line = SpareLine();
  line.assign(text);
  if (Empty()) {
    Add(std::move(line));
  } else {
    Put(0, std::move(line));
  }
  Normalize();
}

std::string THTTPHeaders::GetHeaderName(int index) const { return std::string(NameOf(Get(index))); }

int THTTPHeaders::IndexOfHeader(std::string_view name, int from) const {
  // A name without ":" is the text before a line's first ":" exactly when
  // the line has ":" right after it; no need to search each line for it.
  const bool plainName = name.find(':') == std::string_view::npos;
  const std::vector<std::string>& lines = Items();
  const int count = static_cast<int>(lines.size());
  // Many header names share a length (User-Agent, Connection, VTCallerIP):
  // the first letter tells most of them apart without a call.
  const char first = name.empty() ? '\0' : static_cast<char>(name[0] & ~0x20);
  for (int i = from < 1 ? 1 : from; i < count; ++i) {
    const std::string& line = lines[static_cast<size_t>(i)];
    if (plainName) {
      if (line.size() > name.size() && line[name.size()] == ':' &&
          (name.empty() || static_cast<char>(line[0] & ~0x20) == first) &&
          SameText(std::string_view(line).substr(0, name.size()), name)) {
        return i;
      }
    } else if (SameText(NameOf(line), name)) {
      return i;
    }
  }
  return -1;
}

std::string THTTPHeaders::GetValue(std::string_view name) const {
  int i = IndexOfHeader(name);
  if (i < 0) return std::string();
  const std::string& line = Items()[i];
  return Trim(std::string_view(line).substr(line.find(':') + 1));
}

std::string THTTPHeaders::GetJoinedValues(std::string_view name) const {
  std::string joined;
  for (int i = IndexOfHeader(name); i >= 0; i = IndexOfHeader(name, i + 1)) {
    const std::string& line = Items()[i];
    std::string value = Trim(std::string_view(line).substr(line.find(':') + 1));
    if (value.empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += value;
  }
  return joined;
}

void THTTPHeaders::SetValue(std::string_view name, std::string_view value, bool replace) {
  int i = IndexOfHeader(name);
  if (i >= 0) {
    if (replace) Put(i, ComposeLine(name, value));
  } else {
    Insert(InsertPosition(), ComposeLine(name, value));
  }
  Normalize();
}

void THTTPHeaders::SetHeaderUnique(std::string_view name, std::string_view value) {
  int first = IndexOfHeader(name);
  if (first < 0) {
    Insert(InsertPosition(), ComposeLine(name, value));
  } else {
    Put(first, ComposeLine(name, value));
    for (int i = IndexOfHeader(name, first + 1); i >= 0; i = IndexOfHeader(name, i)) Delete(i);
  }
  Normalize();
}

bool THTTPHeaders::DeleteHeader(std::string_view name) {
  int i = IndexOfHeader(name);
  if (i >= 0) Delete(i);
  Normalize();
  return i >= 0;
}

int THTTPHeaders::DeleteAllHeaders(std::string_view name) {
  int deleted = 0;
  for (int i = IndexOfHeader(name); i >= 0; i = IndexOfHeader(name, i)) {
    Delete(i);
    ++deleted;
  }
  Normalize();
  return deleted;
}

void THTTPHeaders::AddLine(std::string_view text) {
  std::string line = SpareLine();
  line.assign(text);
  Insert(InsertPosition(), std::move(line));
  Normalize();
}

void THTTPHeaders::AddHeaders(const TStringList& lines) {
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    SetValue(std::string_view(line).substr(0, colon), std::string_view(line).substr(colon + 1), true);
  }
}

void THTTPHeaders::Normalize() {
  if (Empty()) return;
  if (!Items().back().empty()) Add(std::string());
  // Nearly always in form already: look before changing anything.
  const std::vector<std::string>& lines = Items();
  bool inForm = true;
  for (size_t i = 0; i + 1 < lines.size() && inForm; ++i) inForm = !lines[i].empty();
  if (inForm) return;
  for (int i = Count() - 2; i >= 0; --i) {
    if (Items()[i].empty()) Delete(i);
  }
}

std::string THTTPHeaders::GetTextStr() {
  Normalize();
  return TStringList::Text();
}

void THTTPHeaders::GetTextStr(std::string& text) {
  Normalize();
  TextInto(text);
}

void THTTPHeaders::SetTextStr(std::string_view text) {
  TStringList::SetText(text);
  Normalize();
}
