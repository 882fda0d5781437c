// THTTPHeaders: one HTTP head as a list of lines. Line 0 is the request or
// status line, lines 1.. are "Name: value" lines, and the last line is always
// exactly one empty line (no other line is empty); every change restores that
// form. A line's name is its text before the first ":" (not trimmed, empty
// when there is no ":"), its value the text after it, trimmed. Names compare
// without regard to ASCII case; line 0 is never taken for a header.
#pragma once

#include <string>
#include <string_view>

#include "platform/Classes.h"

// A line's name: the text before its first ":", empty without one.
inline std::string_view NameOf(std::string_view line) {
  const size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

class THTTPHeaders : public TStringList {
 public:
  std::string GetFirstLine() const;
  void SetFirstLine(std::string_view text);

  std::string GetHeaderName(int index) const;
  // Index of the first header line of that name at or after From, or -1.
  int IndexOfHeader(std::string_view name, int from = 1) const;
  std::string GetValue(std::string_view name) const;
  // The trimmed, non-empty values of every line of that name joined with
  // ", " (a list header sent as several lines, read as one).
  std::string GetJoinedValues(std::string_view name) const;
  bool HasHeader(std::string_view name) const { return IndexOfHeader(name) >= 0; }
  // Sets "Name: value": replaces the first line of that name when Replace is
  // set (or leaves it), else inserts the line before the closing empty line.
  void SetValue(std::string_view name, std::string_view value, bool replace);
  void SetHeader(std::string_view name, std::string_view value) { SetValue(name, value, true); }
  // Exactly one line of that name afterwards: the first one is replaced in
  // place and every further one deleted. For the headers whose single value
  // the switch decides (a peer must never be able to slip a second copy past
  // it).
  void SetHeaderUnique(std::string_view name, std::string_view value);
  bool DeleteHeader(std::string_view name);
  // Deletes every line of that name; the number deleted.
  int DeleteAllHeaders(std::string_view name);
  // Inserts a line before the closing empty line, duplicates allowed.
  void AddLine(std::string_view text);
  // Every non-empty "Name:value" line of Lines, name and value untrimmed, set
  // with SetValue(name, value, true); lines with an empty name are skipped.
  void AddHeaders(const TStringList& lines);
  void Normalize();

  // Normalized text: every line followed by CR LF, so it ends CR LF CR LF.
  std::string GetTextStr();
  // The same into Text, whose storage is reused: an outgoing head is built
  // once per head into one buffer kept across requests.
  void GetTextStr(std::string& text);
  // Splits at CR LF, CR or LF, then normalizes.
  void SetTextStr(std::string_view text);
  // The base list's text operations, with this list's rules.
  std::string Text() { return GetTextStr(); }
  void SetText(std::string_view text) { SetTextStr(text); }

 private:
  int InsertPosition() const { return Count() > 0 ? Count() - 1 : 0; }
  // "Name: value", in the storage of a line the head dropped when it can.
  std::string ComposeLine(std::string_view name, std::string_view value);
};
