#include "platform/RWLock.h"

#include <unordered_map>

#include "platform/SysUtils.h"

// What the calling flow holds of one lock. Reads taken while the flow
// writes are not counted in readers_ until the write ends, when they turn
// into a plain read.
struct TMultiReadExclusiveWriteSynchronizer::ThreadCounts {
  int readDepth = 0;
  bool countedAsReader = false;
};

namespace {
// A flow mostly holds one lock at a time: that lock's counts live in a
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
  return FlowLocal<ThreadLocks<Counts>>();
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
  if (mine.readDepth > 0 || writer_ == CurrentFlowId()) {
    // Already inside: never queue behind a waiting writer.
    ++mine.readDepth;
    ++HeldLockCount();
    return;
  }
  // New readers let waiting writers go first, so writers are not starved.
  cv_.Wait(lock, [&] { return writer_ == nullptr && waitingWriters_ == 0; });
  ++HeldLockCount();
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
  --HeldLockCount();
  if (--mine.readDepth > 0) return;
  const bool counted = mine.countedAsReader;
  if (counted && --readers_ == 0) cv_.NotifyAll();
  lock.unlock();
  ForgetMine();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  const FlowId me = CurrentFlowId();
  if (writer_ == me) {
    ++writeDepth_;
    ++HeldLockCount();
    return;
  }
  if (mine.readDepth > 0) {
    lock.unlock();
    throw EAssertionFailed("BeginWrite while the thread holds only a read lock");
  }
  ++waitingWriters_;
  cv_.Wait(lock, [&] { return writer_ == nullptr && readers_ == 0; });
  --waitingWriters_;
  ++HeldLockCount();
  writer_ = me;
  writeDepth_ = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  ThreadCounts& mine = Mine();
  std::unique_lock<std::mutex> lock(mutex_);
  if (writer_ != CurrentFlowId() || writeDepth_ <= 0) {
    lock.unlock();
    if (mine.readDepth == 0) ForgetMine();
    throw EAssertionFailed("EndWrite without BeginWrite");
  }
  --HeldLockCount();
  if (--writeDepth_ > 0) return;
  writer_ = nullptr;
  if (mine.readDepth > 0 && !mine.countedAsReader) {
    // Reads taken inside the write outlive it: they become a plain read.
    ++readers_;
    mine.countedAsReader = true;
  }
  cv_.NotifyAll();
  lock.unlock();
  if (mine.readDepth == 0) ForgetMine();
}

int TMultiReadExclusiveWriteSynchronizer::WaitingWriters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitingWriters_;
}
