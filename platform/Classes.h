// TStringList: an ordered list of byte strings with the behaviour the program
// relies on: Text joined with CR LF, Name=Value access, sorting and searches
// that ignore ASCII case unless CaseSensitive is set.
//
// Clear, Delete, Put and assignment keep the storage of the lines they drop
// (a few hundred short lines, at most 64 KiB) for the lines added after
// them: a list that is refilled over and over, as a head is for every
// request, fills without allocating. SpareLine hands out such a string to
// fill. Clear lets the line slots of a list of thousands of lines go, so a
// huge head once costs nothing afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TStringList {
 public:
  // The most bytes of dropped lines, and of line slots after a Clear, a
  // list keeps for its next lines.
  static constexpr size_t kKeptBytes = 65536;

  TStringList() = default;
  // A copy copies the lines, never the kept storage.
  TStringList(const TStringList& other);
  TStringList& operator=(const TStringList& other);
  TStringList(TStringList&& other) noexcept;
  TStringList& operator=(TStringList&& other) noexcept;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  // Index checked: ERangeError ("Range check error") outside 0..Count-1.
  const std::string& operator[](int index) const;
  const std::string& Get(int index) const { return (*this)[index]; }
  void Put(int index, std::string s);

  // In a sorted list Add inserts at the sorted place (duplicates kept) and
  // returns that index; otherwise it appends.
  int Add(std::string s);
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear();
  void Move(int from, int to);
  void Exchange(int a, int b);
  void Assign(const TStringList& other) { *this = other; }
  void AddStrings(const TStringList& other);
  // An empty string, with the storage of a line this list dropped when it
  // kept one; fill it and hand it to Add, Insert or Put.
  std::string SpareLine();
  // Bytes of the dropped lines' storage kept for SpareLine.
  size_t KeptBytes() const { return spareBytes_; }

  // Every line followed by CR LF (Delphi's rule: "a\r\nb\r\n"); an empty list
  // gives "". Setting splits at CR LF, LF or CR; a final line break adds no
  // empty line.
  std::string Text() const;
  // The same into Out, whose storage is reused.
  void TextInto(std::string& out) const;
  void SetText(std::string_view text);
  // Comma-joined, items with blanks, commas or quotes in double quotes.
  std::string CommaText() const;
  void SetCommaText(std::string_view text);

  // First index of S, or -1; compares by the case rule of this list.
  int IndexOf(std::string_view s) const;
  // Name=Value access; names compare by the case rule of this list.
  int IndexOfName(std::string_view name) const;
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;  // "" when absent
  // Sets Name=Value (adding it when absent); an empty value deletes the entry.
  void SetValue(std::string_view name, std::string_view value);

  void Sort();
  void CustomSort(const std::function<bool(const std::string&, const std::string&)>& less);
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool cs) { caseSensitive_ = cs; }

  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }
  const std::vector<std::string>& Items() const { return items_; }

  bool operator==(const TStringList& other) const { return items_ == other.items_; }

 private:
  int Compare(std::string_view a, std::string_view b) const;
  // Keeps the storage of a dropped line for SpareLine.
  void Keep(std::string&& line);
  // A new line with the text of S, in kept storage when there is some.
  std::string CopyLine(std::string_view s);
  std::vector<std::string> items_;
  std::vector<std::string> spare_;
  size_t spareBytes_ = 0;  // capacities of spare_
  bool sorted_ = false;
  bool caseSensitive_ = false;
};
