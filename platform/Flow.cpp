#include "platform/Flow.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <vector>

#include "platform/FiberRuntime.h"
#include "platform/Socket.h"

FlowId CurrentFlowId() noexcept {
  if (Fiber* fiber = Fiber::Current()) return fiber;
  thread_local const char marker = 0;
  return &marker;
}

bool OnFiber() noexcept { return Fiber::Current() != nullptr; }

size_t flow_detail::NewLocalKey() noexcept {
  static std::atomic<size_t> next{0};
  return next.fetch_add(1);
}

void** flow_detail::FiberLocalSlot(size_t key, void (*destroy)(void*)) {
  Fiber* fiber = Fiber::Current();
  return fiber != nullptr ? &fiber->LocalSlot(key, destroy) : nullptr;
}

int& HeldLockCount() noexcept {
  if (Fiber* fiber = Fiber::Current()) return fiber->heldLocks_;
  thread_local int count = 0;
  return count;
}

// ----------------------------------------------------------- FlowCondition
void FlowCondition::Wait(std::unique_lock<std::mutex>& lock) { WaitFor(lock, -1); }

bool FlowCondition::WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs) {
  Fiber* fiber = Fiber::Current();
  if (fiber == nullptr) {
    if (timeoutMs < 0) {
      threads_.wait(lock);
      return true;
    }
    return threads_.wait_for(lock, std::chrono::milliseconds(timeoutMs)) == std::cv_status::no_timeout;
  }
  Waiter waiter{fiber};
  {
    std::lock_guard<std::mutex> list(listMutex_);
    fiber->PreparePark();
    waiter.prev = tail_;
    if (tail_ != nullptr) {
      tail_->next = &waiter;
    } else {
      head_ = &waiter;
    }
    tail_ = &waiter;
    waiter.linked = true;
  }
  lock.unlock();
  bool woken = fiber->Park(timeoutMs);
  {
    std::lock_guard<std::mutex> list(listMutex_);
    if (waiter.linked) Unlink(waiter);
  }
  lock.lock();
  return woken;
}

void FlowCondition::Unlink(Waiter& w) noexcept {
  if (w.prev != nullptr) {
    w.prev->next = w.next;
  } else {
    head_ = w.next;
  }
  if (w.next != nullptr) {
    w.next->prev = w.prev;
  } else {
    tail_ = w.prev;
  }
  w.prev = w.next = nullptr;
  w.linked = false;
}

void FlowCondition::NotifyAll() noexcept {
  {
    std::lock_guard<std::mutex> list(listMutex_);
    while (head_ != nullptr) {
      Waiter& w = *head_;
      Unlink(w);
      w.fiber->Wake();
    }
  }
  threads_.notify_all();
}

// ------------------------------------------------------------------ waits
void FlowSleep(int ms) {
  if (ms <= 0) return;
  Fiber* fiber = Fiber::Current();
  if (fiber == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  Deadline deadline(ms);
  for (int left = ms; left > 0; left = deadline.RemainingMs()) {
    fiber->PreparePark();
    fiber->Park(left);
  }
}

namespace {

// The helper threads behind RunBlocking: started as calls need them, up to
// kBlockingHelpers, kept for later calls, and joined at exit. Calls beyond
// that wait their turn in the queue, so a burst of lookups never makes
// hundreds of threads. A lookup that hangs (a name server that never
// answers) must not hold the exit up: helpers still busy a moment after the
// stop are left to end with the process.
class BlockingHelpers {
 public:
  // Never freed: a fiber may still call in while statics are destroyed;
  // the guard below only stops and joins the threads.
  static BlockingHelpers& Shared() {
    static BlockingHelpers* helpers = new BlockingHelpers();
    static struct JoinAtExit {
      ~JoinAtExit() { helpers->Stop(); }
    } joinAtExit;
    return *helpers;
  }

  // False once stopped, or when no helper runs and none can be started:
  // the caller runs the job itself.
  bool Submit(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    jobs_.push_back(std::move(job));
    // Each queued job needs a helper of its own while there is room for one.
    if (jobs_.size() > idle_ && threads_.size() < static_cast<size_t>(kBlockingHelpers)) {
      try {
        threads_.emplace_back(&BlockingHelpers::Run, this);
        ++running_;
        return true;
      } catch (const std::system_error&) {
        // The job refers to its caller's frame: it must not stay queued
        // behind a caller that returns with the error.
        if (threads_.empty()) {
          jobs_.pop_back();
          return false;
        }
      }
    }
    ready_.notify_one();
    return true;
  }

  int Started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(threads_.size());
  }

 private:
  void Stop() {
    std::vector<std::thread> threads;
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
    ready_.notify_all();
    const bool ended = ended_.wait_for(lock, kExitGrace, [this] { return running_ == 0; });
    lock.unlock();
    // The object is never freed, so a helper left running touches nothing
    // that goes away before the process does.
    for (std::thread& thread : threads) ended ? thread.join() : thread.detach();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!jobs_.empty()) {
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        continue;
      }
      // Queued jobs are done before a stop lets the helper go.
      if (stopping_) {
        --running_;
        ended_.notify_all();
        return;
      }
      ++idle_;
      ready_.wait(lock);
      --idle_;
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable ended_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  static constexpr std::chrono::seconds kExitGrace{1};
  size_t running_ = 0;  // helpers started and not returned
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace

void RunBlocking(const std::function<void()>& fn) {
  if (!OnFiber()) {
    fn();
    return;
  }
  struct Job {
    std::mutex mutex;
    FlowCondition done;
    bool finished = false;
    std::exception_ptr error;
  };
  auto job = std::make_shared<Job>();
  // The caller waits for the helper, so Fn may be borrowed.
  const bool queued = BlockingHelpers::Shared().Submit([job, &fn] {
    try {
      fn();
    } catch (...) {
      job->error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(job->mutex);
    job->finished = true;
    job->done.NotifyAll();
  });
  if (!queued) {
    fn();  // the process is ending
    return;
  }
  std::unique_lock<std::mutex> lock(job->mutex);
  job->done.Wait(lock, [&] { return job->finished; });
  if (job->error) std::rethrow_exception(job->error);
}

int RunBlockingHelpersStarted() { return BlockingHelpers::Shared().Started(); }

ConnectionRuntime DefaultConnectionRuntime() {
  static const ConnectionRuntime runtime = [] {
    const char* chosen = std::getenv("VT_RUNTIME");
    if (chosen != nullptr && std::strcmp(chosen, "fibers") == 0) return ConnectionRuntime::Fibers;
    if (chosen != nullptr && std::strcmp(chosen, "threads") == 0) return ConnectionRuntime::Threads;
#ifdef VT_FIBERS_BY_DEFAULT
    return ConnectionRuntime::Fibers;
#else
    return ConnectionRuntime::Threads;
#endif
  }();
  return runtime;
}

// -------------------------------------------------------------- FlowThread
FlowThread::FlowThread() = default;

FlowThread::~FlowThread() {
  if (Joinable() && !IsCurrent()) Join();
}

void FlowThread::Start(std::function<void()> fn, ConnectionRuntime runtime) {
  auto body = [this, fn = std::move(fn)] {
    id_ = CurrentFlowId();
    fn();
  };
  if (runtime == ConnectionRuntime::Fibers) {
    fiber_ = FiberRuntime::Shared().Spawn(std::move(body));
  } else {
    thread_ = std::thread(std::move(body));
  }
}

bool FlowThread::Joinable() const noexcept { return thread_.joinable() || fiber_ != nullptr; }

bool FlowThread::IsCurrent() const noexcept { return id_.load() == CurrentFlowId(); }

int FlowThread::CarrierIndex() const noexcept { return fiber_ ? fiber_->CarrierIndex() : -1; }

void FlowThread::Join() {
  if (thread_.joinable()) thread_.join();
  if (fiber_) {
    fiber_->Join();
    fiber_.reset();
  }
}
