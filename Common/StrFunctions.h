// Text helpers on byte strings. Positions are 1-based; searches compare
// exactly (case-sensitive) unless an argument says otherwise.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

// Position of the first Sub in S; 0 when Sub is empty, longer than S or absent.
int32_t FastPos(std::string_view sub, std::string_view s);

// Text before / after the first Sep; when Sep is absent, S itself if
// WholeIfMissing, else empty.
std::string LeftOf(std::string_view sep, std::string_view s, bool wholeIfMissing);
std::string RightOf(std::string_view sep, std::string_view s, bool wholeIfMissing);
// Between the first and the second Sep; empty without a second Sep.
std::string SecondField(std::string_view sep, std::string_view s);
// After the first Open up to the next Close; empty when either is missing.
std::string TextBetween(std::string_view open, std::string_view close, std::string_view s);

std::string RightStr(std::string_view s, int32_t n);  // the last N characters
std::string LeftStr(std::string_view s, int32_t n);   // the first N characters

// Pad in front of S again and again until the length is at least Width; an
// empty Pad gives S.
std::string PadLeft(std::string_view pad, std::string_view s, int32_t width);
// An empty prefix gives true; without CaseSensitive both sides are upper-cased.
bool StartsWith(std::string_view prefix, std::string_view s, bool caseSensitive);
std::string IfThenStr(bool condition, std::string_view a, std::string_view b);
// Every Old, from the left, replaced by New; replaced text is not searched
// again; an empty Old gives S.
std::string ReplaceAll(std::string_view oldText, std::string_view newText, std::string_view s);
// With Sep: Left := before the first Sep, Right := after it; without: Left :=
// empty, Right := S. Trim trims both afterwards. S may be Left or Right.
void SplitAt(std::string_view sep, std::string s, std::string& left, bool trim, std::string& right);
// Field := text before the first Sep, S := the rest; without Sep, Field :=
// empty and S stays.
void CutField(std::string_view sep, std::string& s, std::string& field);
// Removes Suffix from the end of S as long as S ends with it; an empty Suffix
// gives S.
std::string RemoveTrailing(std::string_view suffix, std::string_view s);

// A set of byte values, for RandomString.
using TByteSet = std::bitset<256>;
TByteSet CharRange(unsigned char first, unsigned char last);
// N characters drawn uniformly from Allowed with the process-wide generator;
// an empty set fails the assertion "You must set AAllowed to a range of
// allowed characters!".
std::string RandomString(int32_t n, const TByteSet& allowed);
