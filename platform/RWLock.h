// A multi-reader / single-writer lock that the holding flow may take again:
// read inside read, read inside write, write inside write. A flow that
// already reads is never queued behind a waiting writer, so nested reads
// cannot deadlock. Taking write while holding only read is a programming
// error (EAssertionFailed). The holder is the flow (Flow.h): a fiber of the
// connection runtime or an OS thread; waits park a fiber, and a fiber must
// not park while it holds the lock.
//
// Reading takes no shared mutex: a reader counts itself in one of a few
// reader slots (each on a cache line of its own, chosen per thread) and
// looks whether a writer waits or writes. Only then does it step back and
// queue on the mutex, behind the writer: new readers let waiting writers go
// first, so writers are not starved. A writer announces itself first, then
// waits until every slot is empty.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/Flow.h"

class TMultiReadExclusiveWriteSynchronizer {
 public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();
  // Threads queued for write at this moment (diagnostics and tests).
  int WaitingWriters() const;

 private:
  static constexpr int kReaderSlots = 32;
  struct alignas(64) ReaderSlot {
    std::atomic<int> count{0};
  };
  struct ThreadCounts;
  ThreadCounts& Mine();
  void ForgetMine();  // drops the calling flow's entry once it holds nothing
  bool AnyReader() const;

  ReaderSlot slots_[kReaderSlots];
  // Writers waiting or writing; readers queue on the mutex while it is not 0.
  alignas(64) std::atomic<int> writers_{0};
  mutable std::mutex mutex_;
  FlowCondition cv_;
  int waitingWriters_ = 0;     // under mutex_
  FlowId writer_ = nullptr;    // flow holding write, if any; under mutex_
};

class ReadLockGuard {
 public:
  explicit ReadLockGuard(TMultiReadExclusiveWriteSynchronizer& lock) : lock_(lock) { lock_.BeginRead(); }
  ~ReadLockGuard() { lock_.EndRead(); }
  ReadLockGuard(const ReadLockGuard&) = delete;
  ReadLockGuard& operator=(const ReadLockGuard&) = delete;

 private:
  TMultiReadExclusiveWriteSynchronizer& lock_;
};

class WriteLockGuard {
 public:
  explicit WriteLockGuard(TMultiReadExclusiveWriteSynchronizer& lock) : lock_(lock) { lock_.BeginWrite(); }
  ~WriteLockGuard() { lock_.EndWrite(); }
  WriteLockGuard(const WriteLockGuard&) = delete;
  WriteLockGuard& operator=(const WriteLockGuard&) = delete;

 private:
  TMultiReadExclusiveWriteSynchronizer& lock_;
};
