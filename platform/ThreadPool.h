// Peer threads kept for reuse, shared by any number of servers. PoolSize is
// how many idle threads are kept, not a cap: GetThread makes a new thread
// whenever none is idle, so active threads may outnumber the pool size.
// The pool's threads are OS threads or fibers (ConnectionRuntime); the
// counts and the size mean the same either way.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/PeerThread.h"

class ThreadPool {
 public:
  using ThreadFactory = std::function<std::unique_ptr<PeerThread>()>;

  explicit ThreadPool(int poolSize = 0);
  // Ends the idle threads. The servers that use the pool are destroyed
  // (or deactivated) first, which ends every connection; threads still
  // serving are terminated and waited for.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The factory for new threads (the thread class); default: PeerThread.
  void SetThreadClass(ThreadFactory factory);
  int PoolSize() const noexcept { return poolSize_; }
  // Any time; idle threads above the new size are ended at once.
  void SetPoolSize(int size);
  // How new threads run; change it before the pool makes any.
  ConnectionRuntime Runtime() const noexcept { return runtime_; }
  void SetRuntime(ConnectionRuntime runtime) noexcept { runtime_ = runtime; }
  // Idle threads.
  int PooledCount() const;
  // Threads serving a connection.
  int ActiveCount() const;

  // An idle thread, else a new one; raises when no thread can be made.
  PeerThread* GetThread();
  // Back to idle while fewer than PoolSize are idle and the thread is not
  // terminated; otherwise the thread is freed. Called on the thread itself.
  void ReleaseThread(PeerThread* thread);
  // Ends and frees every idle thread (Terminate, then wait for it). Threads
  // still out are terminated too and freed when they come back, so call it
  // once the servers that use the pool are inactive.
  void TerminateThreads();

 private:
  void ReapFinished();
  static void EndAndFree(std::vector<std::unique_ptr<PeerThread>>& threads, bool callTerminate);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  ThreadFactory factory_;
  std::atomic<int> poolSize_;
  ConnectionRuntime runtime_ = DefaultConnectionRuntime();
  std::vector<std::unique_ptr<PeerThread>> idle_;
  std::unordered_map<PeerThread*, std::unique_ptr<PeerThread>> active_;
  // Threads whose OS thread is ending; joined and freed by the next caller.
  std::vector<std::unique_ptr<PeerThread>> finished_;
};
