#include "platform/RWLock.h"

#include <unordered_map>

#include "platform/SysUtils.h"

// What the calling thread holds of one lock. Reads taken while the thread
// writes are not counted in readers_ until the write ends, when they turn
// into a plain read.
struct TMultiReadExclusiveWriteSynchronizer::ThreadCounts {
  int readDepth = 0;
  bool countedAsReader = false;
};

namespace {
// A thread mostly holds one lock at a time: that lock's counts live in a
// slot of their own, and only further locks go to the map, so that taking
// and leaving a lock allocates nothing. A lock's counts are in the slot or in
// the map, never in both.
template <class Counts>
struct ThreadLocks {
  const void* slotLock = nullptr;
  Counts slot;
  std::unordered_map<const void*, Counts> others;
};

template <class Counts>
ThreadLocks<Counts>& LocksOfThisThread() {
  thread_local ThreadLocks<Counts> locks;
  return locks;
}
}  // namespace

TMultiReadExclusiveWriteSynchronizer::ThreadCounts& TMultiReadExclusiveWriteSynchronizer::Mine() {
  auto& locks = LocksOfThisThread<ThreadCounts>();
  if (locks.slotLock == this) return locks.slot;
  if (locks.slotLock == nullptr) {
    auto it = locks.others.find(this);
    if (it != locks.others.end()) return it->second;
    locks.slotLock = this;
    locks.slot = ThreadCounts();
    return locks.slot;
  }
  return locks.others[this];
}

void TMultiReadExclusiveWriteSynchronizer::ForgetMine() {
  auto& locks = LocksOfThisThread<ThreadCounts>();
  if (locks.slotLock == this) {
    locks.slotLock = nullptr;
  } else {
    locks.others.erase(this);
  }
}

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  if (mine.readDepth > 0 || writer_ == std::this_thread::get_id()) {
    // Already inside: never queue behind a waiting writer.
    ++mine.readDepth;
    return;
  }
  // New readers let waiting writers go first, so writers are not starved.
  cv_.wait(lock, [&] { return writer_ == std::thread::id() && waitingWriters_ == 0; });
  ++readers_;
  mine.readDepth = 1;
  mine.countedAsReader = true;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  if (mine.readDepth <= 0) {
    lock.unlock();
    ForgetMine();
    throw EAssertionFailed("EndRead without BeginRead");
  }
  if (--mine.readDepth > 0) return;
  const bool counted = mine.countedAsReader;
  if (counted && --readers_ == 0) cv_.notify_all();
  lock.unlock();
  ForgetMine();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  const std::thread::id me = std::this_thread::get_id();
  if (writer_ == me) {
    ++writeDepth_;
    return;
  }
  if (mine.readDepth > 0) {
    lock.unlock();
    throw EAssertionFailed("BeginWrite while the thread holds only a read lock");
  }
  ++waitingWriters_;
  cv_.wait(lock, [&] { return writer_ == std::thread::id() && readers_ == 0; });
  --waitingWriters_;
  writer_ = me;
  writeDepth_ = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  if (writer_ != std::this_thread::get_id() || writeDepth_ <= 0) {
    lock.unlock();
    if (mine.readDepth == 0) ForgetMine();
    throw EAssertionFailed("EndWrite without BeginWrite");
  }
  if (--writeDepth_ > 0) return;
  writer_ = std::thread::id();
  if (mine.readDepth > 0 && !mine.countedAsReader) {
    // Reads taken inside the write outlive it: they become a plain read.
    ++readers_;
    mine.countedAsReader = true;
  }
  cv_.notify_all();
  lock.unlock();
  if (mine.readDepth == 0) ForgetMine();
}

int TMultiReadExclusiveWriteSynchronizer::WaitingWriters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitingWriters_;
}
