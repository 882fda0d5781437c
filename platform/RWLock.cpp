#include "platform/RWLock.h"

#include <unordered_map>

#include "platform/SysUtils.h"

// What the calling flow holds of one lock. Reads taken while the flow
// writes are not counted in a reader slot until the write ends, when they
// turn into a plain read.
struct TMultiReadExclusiveWriteSynchronizer::ThreadCounts {
  int readDepth = 0;
  int writeDepth = 0;
  bool countedAsReader = false;
  int slot = 0;  // the reader slot counted in
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
  return FlowLocal<ThreadLocks<Counts>>();
}

// Threads spread over the reader slots in the order they first read; the
// fibers of one carrier share its slot (each remembers the slot it counted in).
int ReaderSlotOfThisThread(int slots) {
  static std::atomic<unsigned> next{0};
  thread_local const int slot = static_cast<int>(next.fetch_add(1, std::memory_order_relaxed) % slots);
  return slot;
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

bool TMultiReadExclusiveWriteSynchronizer::AnyReader() const {
  for (const ReaderSlot& s : slots_) {
    if (s.count.load() != 0) return true;
  }
  return false;
}

// The reader's count and the writer's announcement are both sequentially
// consistent, and each side looks at the other's after making its own: a
// reader that finds no writer is seen by every writer that comes later.
void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  ThreadCounts& mine = Mine();
  if (mine.readDepth > 0 || mine.writeDepth > 0) {
    // Already inside: never queue behind a waiting writer.
    ++mine.readDepth;
    ++HeldLockCount();
    return;
  }
  const int slot = ReaderSlotOfThisThread(kReaderSlots);
  std::atomic<int>& count = slots_[slot].count;
  count.fetch_add(1);
  if (writers_.load() != 0) {
    // A writer waits or writes: step back and queue behind it.
    count.fetch_sub(1);
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.NotifyAll();  // the writer may be waiting for this slot to empty
    cv_.Wait(lock, [&] { return writers_.load() == 0; });
    // Under the mutex with no writer: one that comes later announces itself
    // under the mutex too, and then sees this count.
    count.fetch_add(1);
  }
  ++HeldLockCount();
  mine.readDepth = 1;
  mine.countedAsReader = true;
  mine.slot = slot;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  ThreadCounts& mine = Mine();
  if (mine.readDepth <= 0) {
    if (mine.writeDepth == 0) ForgetMine();
    throw EAssertionFailed("EndRead without BeginRead");
  }
  --HeldLockCount();
  if (--mine.readDepth > 0) return;
  if (mine.countedAsReader) {
    mine.countedAsReader = false;
    slots_[mine.slot].count.fetch_sub(1);
    if (writers_.load() != 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      cv_.NotifyAll();
    }
  }
  if (mine.writeDepth == 0) ForgetMine();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  ThreadCounts& mine = Mine();
  if (mine.writeDepth > 0) {
    ++mine.writeDepth;
    ++HeldLockCount();
    return;
  }
  if (mine.readDepth > 0) throw EAssertionFailed("BeginWrite while the thread holds only a read lock");
  std::unique_lock<std::mutex> lock(mutex_);
  ++waitingWriters_;
  writers_.fetch_add(1);
  cv_.Wait(lock, [&] { return writer_ == nullptr && !AnyReader(); });
  --waitingWriters_;
  writer_ = CurrentFlowId();
  ++HeldLockCount();
  mine.writeDepth = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  ThreadCounts& mine = Mine();
  if (mine.writeDepth <= 0) {
    if (mine.readDepth == 0) ForgetMine();
    throw EAssertionFailed("EndWrite without BeginWrite");
  }
  --HeldLockCount();
  if (--mine.writeDepth > 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mine.readDepth > 0) {
      // Reads taken inside the write outlive it: they become a plain read,
      // counted before the write lets anyone in.
      mine.slot = ReaderSlotOfThisThread(kReaderSlots);
      slots_[mine.slot].count.fetch_add(1);
      mine.countedAsReader = true;
    }
    writer_ = nullptr;
    writers_.fetch_sub(1);
    cv_.NotifyAll();
  }
  if (mine.readDepth == 0) ForgetMine();
}

int TMultiReadExclusiveWriteSynchronizer::WaitingWriters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waitingWriters_;
}
