// A multi-reader / single-writer lock that the holding flow may take again:
// read inside read, read inside write, write inside write. A flow that
// already reads is never queued behind a waiting writer, so nested reads
// cannot deadlock. Taking write while holding only read is a programming
// error (EAssertionFailed). The holder is the flow (Flow.h): a fiber of the
// connection runtime or an OS thread; waits park a fiber, and a fiber must
// not park while it holds the lock.
#pragma once

#include <mutex>

#include "platform/Flow.h"

class TMultiReadExclusiveWriteSynchronizer {
 public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();
  // Flows queued for write at this moment (diagnostics and tests).
  int WaitingWriters() const;

 private:
  struct ThreadCounts;
  ThreadCounts& Mine();
  void ForgetMine();  // drops the calling flow's entry once it holds nothing
  mutable std::mutex mutex_;
  FlowCondition cv_;
  int readers_ = 0;            // flows holding read (not counting nesting)
  int waitingWriters_ = 0;
  FlowId writer_ = nullptr;    // flow holding write, if any
  int writeDepth_ = 0;
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
