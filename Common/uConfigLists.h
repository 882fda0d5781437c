// The two list shapes of the configuration tree: an ordered list that owns its
// items, and an ordered list of pointers it does not own. Typed access is
// index checked (ERangeError).
#pragma once

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/SysUtils.h"

// A position that names no item of a list ("List index out of bounds (%d)").
VT_DECLARE_EXCEPTION(EListError, Exception);

template <class T>
class TOwningList {
 public:
  TOwningList() = default;
  TOwningList(const TOwningList&) = delete;
  TOwningList& operator=(const TOwningList&) = delete;
  ~TOwningList() { Clear(); }

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  T* Items(int index) const {
    CheckIndex(index, Count());
    return items_[static_cast<size_t>(index)].get();
  }
  T* operator[](int index) const { return Items(index); }

  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  // Takes the item out without freeing it.
  std::unique_ptr<T> Extract(int index) {
    CheckIndex(index, Count());
    auto item = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    return item;
  }
  // Frees the item. It is taken out of the list first, so its destructor sees
  // a consistent list.
  void Delete(int index) { Extract(index).reset(); }
  bool Remove(const T* item) {
    const int i = IndexOf(item);
    if (i < 0) return false;
    Delete(i);
    return true;
  }
  void Move(int from, int to) {
    CheckIndex(from, Count());
    CheckIndex(to, Count());
    auto item = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(item));
  }
  void Clear() {
    auto old = std::move(items_);
    items_.clear();
    old.clear();
  }
  void Swap(TOwningList& other) noexcept { items_.swap(other.items_); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

template <class T>
class TPointerList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  T* Items(int index) const {
    CheckIndex(index, Count());
    return items_[static_cast<size_t>(index)];
  }
  T* operator[](int index) const { return Items(index); }
  void Add(T* item) { items_.push_back(item); }
  int IndexOf(const T* item) const {
    auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  }
  // Searches from the end: the item removed is most often a recent one.
  bool Remove(const T* item) {
    for (size_t i = items_.size(); i-- > 0;) {
      if (items_[i] == item) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
      }
    }
    return false;
  }
  void Clear() { items_.clear(); }
  void Swap(TPointerList& other) noexcept { items_.swap(other.items_); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T*> items_;
};
