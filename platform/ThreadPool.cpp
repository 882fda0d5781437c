#include "platform/ThreadPool.h"

#include <chrono>

namespace {
// How long TerminateThreads waits for threads still out to come back.
constexpr int kComeBackWaitMs = 5000;
}  // namespace

ThreadPool::ThreadPool(int poolSize) : poolSize_(poolSize) {}

ThreadPool::~ThreadPool() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    for (auto& entry : active_) entry.first->Terminate();
    released_.wait(lock, [this] { return active_.empty(); });
  }
  TerminateThreads();
}

void ThreadPool::SetThreadClass(ThreadFactory factory) {
  std::lock_guard<std::mutex> lock(mutex_);
  factory_ = std::move(factory);
}

void ThreadPool::SetPoolSize(int size) {
  poolSize_ = size;
  std::vector<std::unique_ptr<PeerThread>> surplus;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (static_cast<int>(idle_.size()) > std::max(size, 0)) {
      surplus.push_back(std::move(idle_.front()));
      idle_.erase(idle_.begin());
    }
  }
  EndAndFree(surplus, true);
}

int ThreadPool::PooledCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(idle_.size());
}

int ThreadPool::ActiveCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(active_.size());
}

PeerThread* ThreadPool::GetThread() {
  ReapFinished();
  ThreadFactory factory;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<PeerThread> thread = std::move(idle_.back());
      idle_.pop_back();
      PeerThread* raw = thread.get();
      active_.emplace(raw, std::move(thread));
      return raw;
    }
    factory = factory_;
  }
  // The factory runs outside the lock: it is the user's constructor.
  std::unique_ptr<PeerThread> thread = factory ? factory() : std::make_unique<PeerThread>();
  thread->StartOsThread(runtime_);
  PeerThread* raw = thread.get();
  std::lock_guard<std::mutex> lock(mutex_);
  active_.emplace(raw, std::move(thread));
  return raw;
}

void ThreadPool::ReleaseThread(PeerThread* thread) {
  ReapFinished();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = active_.find(thread);
    if (it == active_.end()) return;
    std::unique_ptr<PeerThread> owned = std::move(it->second);
    active_.erase(it);
    if (!thread->Terminated() && static_cast<int>(idle_.size()) < poolSize_) {
      idle_.push_back(std::move(owned));
    } else {
      // Called on the thread itself, which cannot wait for itself: it ends
      // after this call and the next caller of the pool frees it.
      thread->terminated_ = true;
      finished_.push_back(std::move(owned));
    }
    // Notified under the lock: once nothing is active the pool may be gone.
    released_.notify_all();
  }
}

void ThreadPool::TerminateThreads() {
  std::vector<std::unique_ptr<PeerThread>> idle;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // A thread whose server already let it go (off the server's list) may
    // not have come back yet: terminated, it comes back to be freed instead
    // of pooled after this call; it only has its last steps to run.
    for (auto& entry : active_) entry.first->Terminate();
    released_.wait_for(lock, std::chrono::milliseconds(kComeBackWaitMs), [this] { return active_.empty(); });
    idle.swap(idle_);
  }
  EndAndFree(idle, true);
  ReapFinished();
}

void ThreadPool::ReapFinished() {
  std::vector<std::unique_ptr<PeerThread>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_.empty()) return;
    finished.swap(finished_);
  }
  EndAndFree(finished, false);
}

void ThreadPool::EndAndFree(std::vector<std::unique_ptr<PeerThread>>& threads, bool callTerminate) {
  for (auto& thread : threads) {
    if (callTerminate) thread->Terminate();
    thread->EndOsThread();
    thread.reset();
  }
}
