// A multi-reader / single-writer lock that the holding thread may take again:
// read inside read, read inside write, write inside write. A thread that
// already reads is never queued behind a waiting writer, so nested reads
// cannot deadlock. Taking write while holding only read is a programming
// error (EAssertionFailed).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class TMultiReadExclusiveWriteSynchronizer {
 public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();
  // Threads queued for write at this moment (diagnostics and tests).
  int WaitingWriters() const;

 private:
  struct ThreadCounts;
  ThreadCounts& Mine();
  void ForgetMine();  // drops the calling thread's entry once it holds nothing
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int readers_ = 0;            // threads holding read (not counting nesting)
  int waitingWriters_ = 0;
  std::thread::id writer_{};   // thread holding write, if any
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
