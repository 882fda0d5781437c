// Peer threads kept for reuse, shared by any number of servers. PoolSize is
// how many idle threads are kept, not a cap: GetThread makes a new thread
// whenever none is idle, so active threads may outnumber the pool size.
// MaxActive is the cap the servers keep to: above it they leave new
// connections in the kernel's backlog instead of making threads the
// process's limits would refuse.
// The pool's threads are OS threads or fibers (ConnectionRuntime); the
// counts and the size mean the same either way.
#pragma once

#include <atomic>
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
  void SetRuntime(ConnectionRuntime runtime);
  // Idle threads.
  int PooledCount() const;
  // Threads serving a connection.
  int ActiveCount() const;

  // The most threads serving at once; 0 (the default) takes it from the
  // process's limits.
  int MaxActive() const noexcept;
  void SetMaxActive(int count) noexcept { maxActive_ = count; }
  // What the limits allow (open files, threads, memory mappings), with room
  // for the rest of the process: a connection may hold two descriptors (the
  // client's and the back end's) and, on threads, a thread and its stack.
  static int CeilingFromLimits(ConnectionRuntime runtime);
  // True when a thread may be taken without passing MaxActive; else waits
  // up to Ms for one to come back and says whether one did.
  bool WaitForRoom(int ms);

  // An idle thread, else a new one; raises when no thread can be made.
  PeerThread* GetThread();
  // Back to idle while fewer than PoolSize are idle and the thread is not
  // terminated; otherwise the thread is freed. Called on the thread itself.
  void ReleaseThread(PeerThread* thread);
  // Ends and frees every idle thread (Terminate, then wait for it). Threads
  // that have left their server but are not back yet are waited for first,
  // so after every server of the pool was deactivated none is left over.
  void TerminateThreads();

 private:
  friend class PeerThread;

  // Called by a thread before it leaves its server's list; ReleaseThread
  // follows.
  void ThreadReturning();
  void ReapFinished();
  // The idle list GetThread takes from; some thread is idle.
  std::vector<std::unique_ptr<PeerThread>>& PickIdle();
  std::vector<std::unique_ptr<PeerThread>>& IdleListOf(const PeerThread& thread);
  static void EndAndFree(std::vector<std::unique_ptr<PeerThread>>& threads, bool callTerminate);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  ThreadFactory factory_;
  std::atomic<int> poolSize_;
  ConnectionRuntime runtime_ = DefaultConnectionRuntime();
  std::atomic<int> maxActive_{0};
  std::atomic<int> limitsCeiling_;
  unsigned nextCarrier_ = 0;  // the carrier whose idle fiber is taken next
  int returning_ = 0;  // threads between their server's list and ReleaseThread
  // Idle threads by the carrier their fiber stays on (one list on OS
  // threads), newest last: taking one costs the same however many wait.
  std::vector<std::vector<std::unique_ptr<PeerThread>>> idle_;
  size_t idleCount_ = 0;
  std::unordered_map<PeerThread*, std::unique_ptr<PeerThread>> active_;
  // Threads whose OS thread is ending; joined and freed by the next caller.
  std::vector<std::unique_ptr<PeerThread>> finished_;
};
