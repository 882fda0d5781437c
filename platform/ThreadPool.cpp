#include "platform/ThreadPool.h"
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <fstream>

namespace {
// Descriptors and threads the rest of the process needs besides its
// connections (listeners, logs, timers, health checks, the consoles).
constexpr long kReservedForTheProcess = 256;
// The longest a stop waits for a thread that left its server to come back:
// it only closes its connection on the way.
constexpr auto kReturnWait = std::chrono::seconds(30);

long ReadProcNumber(const char* path) {
  long value = 0;
  std::ifstream in(path);
  return in >> value ? value : 0;
}

long SoftLimit(int resource) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<long>(limit.rlim_cur);
}
}  // namespace

ThreadPool::ThreadPool(int poolSize) : poolSize_(poolSize), limitsCeiling_(CeilingFromLimits(runtime_)) {}

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
    // The oldest of the longest list go first, so the carriers stay even.
    while (idleCount_ > static_cast<size_t>(std::max(size, 0))) {
      auto& longest = *std::max_element(idle_.begin(), idle_.end(),
                                        [](const auto& a, const auto& b) { return a.size() < b.size(); });
      surplus.push_back(std::move(longest.front()));
      longest.erase(longest.begin());
      --idleCount_;
    }
  }
  EndAndFree(surplus, true);
}

int ThreadPool::PooledCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(idleCount_);
}

int ThreadPool::ActiveCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(active_.size());
}

void ThreadPool::SetRuntime(ConnectionRuntime runtime) {
  runtime_ = runtime;
  limitsCeiling_ = CeilingFromLimits(runtime);
}

int ThreadPool::MaxActive() const noexcept {
  const int set = maxActive_;
  return set > 0 ? set : limitsCeiling_.load();
}

int ThreadPool::CeilingFromLimits(ConnectionRuntime runtime) {
  long ceiling = 1L << 20;
  const auto cap = [&](long available, long perConnection) {
    if (available > 0) ceiling = std::min(ceiling, (available - kReservedForTheProcess) / perConnection);
  };
  cap(SoftLimit(RLIMIT_NOFILE), 2);
  // Every stack is a mapping and its guard page another, threads or fibers.
  cap(ReadProcNumber("/proc/sys/vm/max_map_count"), 2);
  if (runtime == ConnectionRuntime::Threads) {
    cap(SoftLimit(RLIMIT_NPROC), 1);
    cap(ReadProcNumber("/proc/sys/kernel/threads-max"), 1);
  }
  return static_cast<int>(std::max(ceiling, 16L));
}

bool ThreadPool::WaitForRoom(int ms) {
  const size_t ceiling = static_cast<size_t>(MaxActive());
  std::unique_lock<std::mutex> lock(mutex_);
  return released_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return active_.size() < ceiling; });
}

void ThreadPool::ThreadReturning() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++returning_;
}

// A pooled fiber stays on its carrier. The newest idle ones mostly come from
// whichever carrier ended its connections last, so taking them in order would
// pile the next burst of connections onto that one carrier (after 1000 kept
// connections ended, 64 new TLS clients got a third of the throughput); take
// them round the carriers instead.
std::vector<std::unique_ptr<PeerThread>>& ThreadPool::PickIdle() {
  const size_t lists = idle_.size();
  const size_t wanted = nextCarrier_++ % lists;
  for (size_t i = 0; i < lists; ++i) {
    auto& list = idle_[(wanted + i) % lists];
    if (!list.empty()) return list;
  }
  return idle_.front();  // not reached: some thread is idle
}

std::vector<std::unique_ptr<PeerThread>>& ThreadPool::IdleListOf(const PeerThread& thread) {
  const size_t index = static_cast<size_t>(std::max(thread.CarrierIndex(), 0));
  if (idle_.size() <= index) idle_.resize(index + 1);
  return idle_[index];
}

PeerThread* ThreadPool::GetThread() {
  ReapFinished();
  ThreadFactory factory;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idleCount_ > 0) {
      auto& list = PickIdle();
      std::unique_ptr<PeerThread> thread = std::move(list.back());
      list.pop_back();
      --idleCount_;
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
    if (returning_ > 0) --returning_;
    auto it = active_.find(thread);
    if (it == active_.end()) return;
    std::unique_ptr<PeerThread> owned = std::move(it->second);
    active_.erase(it);
    if (!thread->Terminated() && idleCount_ < static_cast<size_t>(std::max(poolSize_.load(), 0))) {
      IdleListOf(*thread).push_back(std::move(owned));
      ++idleCount_;
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
    released_.wait_for(lock, kReturnWait, [this] { return returning_ == 0; });
    for (auto& list : idle_) {
      for (auto& thread : list) idle.push_back(std::move(thread));
      list.clear();
    }
    idleCount_ = 0;
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
