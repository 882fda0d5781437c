#include "platform/Classes.h"

#include <algorithm>
#include <utility>

#include "platform/SysUtils.h"

namespace {
// Storage kept for later lines: enough for a head, little for a line that
// was long once, and at most kKeptBytes of lines (and of line slots after a
// Clear) for a list that once held a huge head.
constexpr size_t kKeptLines = 256;
constexpr size_t kKeptLineCapacity = 4096;
}  // namespace

TStringList::TStringList(const TStringList& other)
    : items_(other.items_), sorted_(other.sorted_), caseSensitive_(other.caseSensitive_) {}

TStringList::TStringList(TStringList&& other) noexcept
    : items_(std::move(other.items_)),
      spare_(std::move(other.spare_)),
      spareBytes_(std::exchange(other.spareBytes_, 0)),
      sorted_(other.sorted_),
      caseSensitive_(other.caseSensitive_) {
  other.items_.clear();
  other.spare_.clear();
}

TStringList& TStringList::operator=(TStringList&& other) noexcept {
  if (&other == this) return *this;
  items_ = std::move(other.items_);
  spare_ = std::move(other.spare_);
  spareBytes_ = std::exchange(other.spareBytes_, 0);
  sorted_ = other.sorted_;
  caseSensitive_ = other.caseSensitive_;
  other.items_.clear();
  other.spare_.clear();
  return *this;
}

TStringList& TStringList::operator=(const TStringList& other) {
  if (&other == this) return *this;
  Clear();
  items_.reserve(other.items_.size());
  for (const std::string& s : other.items_) items_.push_back(CopyLine(s));
  sorted_ = other.sorted_;
  caseSensitive_ = other.caseSensitive_;
  return *this;
}

void TStringList::Keep(std::string&& line) {
  // Short lines live inside the string itself: nothing to keep.
  if (spare_.size() >= kKeptLines || line.capacity() <= std::string().capacity() ||
      line.capacity() > kKeptLineCapacity || spareBytes_ + line.capacity() > kKeptBytes) {
    return;
  }
  line.clear();
  spareBytes_ += line.capacity();
  spare_.push_back(std::move(line));
}

std::string TStringList::SpareLine() {
  if (spare_.empty()) return std::string();
  std::string line = std::move(spare_.back());
  spare_.pop_back();
  spareBytes_ -= line.capacity();
  return line;
}

std::string TStringList::CopyLine(std::string_view s) {
  std::string line = SpareLine();
  line.assign(s);
  return line;
}

void TStringList::Clear() {
  for (std::string& s : items_) Keep(std::move(s));
  items_.clear();
  if (items_.capacity() * sizeof(std::string) > kKeptBytes) std::vector<std::string>().swap(items_);
}

const std::string& TStringList::operator[](int index) const {
  CheckIndex(index, Count());
  return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, std::string s) {
  CheckIndex(index, Count());
  std::string& item = items_[static_cast<size_t>(index)];
  Keep(std::move(item));
  item = std::move(s);
}

int TStringList::Add(std::string s) {
  if (!sorted_) {
    items_.push_back(std::move(s));
    return Count() - 1;
  }
  // After any equal items, so duplicates keep their order of arrival.
  auto it = std::upper_bound(items_.begin(), items_.end(), s,
                             [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
  const int index = static_cast<int>(it - items_.begin());
  items_.insert(it, std::move(s));
  return index;
}

void TStringList::Insert(int index, std::string s) {
  if (index != Count()) CheckIndex(index, Count());
  items_.insert(items_.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
  CheckIndex(index, Count());
  Keep(std::move(items_[static_cast<size_t>(index)]));
  items_.erase(items_.begin() + index);
}

void TStringList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from, Count());
  CheckIndex(to, Count());
  std::string s = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(s));
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a, Count());
  CheckIndex(b, Count());
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
}

void TStringList::AddStrings(const TStringList& other) {
  if (&other == this) {
    const TStringList copy = other;
    AddStrings(copy);
    return;
  }
  for (const std::string& s : other.items_) Add(CopyLine(s));
}

std::string TStringList::Text() const {
  std::string out;
  TextInto(out);
  return out;
}

void TStringList::TextInto(std::string& out) const {
  size_t n = 0;
  for (const std::string& s : items_) n += s.size() + 2;
  out.clear();
  out.reserve(n);
  for (const std::string& s : items_) out.append(s).append("\r\n");
}

void TStringList::SetText(std::string_view text) {
  Clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    Add(CopyLine(text.substr(i, j - i)));
    if (j < text.size() && text[j] == '\r') {
      ++j;
      if (j < text.size() && text[j] == '\n') ++j;
    } else if (j < text.size()) {
      ++j;
    }
    i = j;
  }
}

namespace {
bool NeedsQuotes(const std::string& s) {
  if (s.empty()) return true;
  for (char c : s)
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
  return false;
}
}  // namespace

std::string TStringList::CommaText() const {
  std::string out;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i) out += ',';
    const std::string& s = items_[i];
    if (!NeedsQuotes(s)) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

void TStringList::SetCommaText(std::string_view text) {
  Clear();
  auto blank = [&](size_t p) { return p < text.size() && static_cast<unsigned char>(text[p]) <= ' '; };
  size_t p = 0;
  while (blank(p)) ++p;
  while (p < text.size()) {
    std::string item;
    if (text[p] == '"') {
      ++p;
      while (p < text.size()) {
        if (text[p] == '"') {
          if (p + 1 < text.size() && text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      const size_t start = p;
      while (p < text.size() && static_cast<unsigned char>(text[p]) > ' ' && text[p] != ',') ++p;
      item.assign(text.substr(start, p - start));
    }
    Add(std::move(item));
    while (blank(p)) ++p;
    if (p < text.size() && text[p] == ',') {
      if (p + 1 == text.size()) Add(std::string());
      do ++p;
      while (blank(p));
    }
  }
}

int TStringList::Compare(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? CompareStr(a, b) : CompareText(a, b);
}

int TStringList::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].size() == s.size() && Compare(items_[i], s) == 0) return static_cast<int>(i);
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const size_t eq = items_[i].find('=');
    if (eq != std::string::npos && eq == name.size() && Compare(std::string_view(items_[i]).substr(0, eq), name) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& s = (*this)[index];
  const size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& s = (*this)[index];
  const size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string TStringList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i < 0) {
    Add(std::move(line));
  } else if (sorted_) {
    Delete(i);
    Add(std::move(line));
  } else {
    Put(i, std::move(line));
  }
}

void TStringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
}

void TStringList::CustomSort(const std::function<bool(const std::string&, const std::string&)>& less) {
  std::stable_sort(items_.begin(), items_.end(), less);
}

void TStringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) Sort();
  sorted_ = sorted;
}
