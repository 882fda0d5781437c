#include "platform/MainLoop.h"

#include <chrono>
#include <exception>
#include <memory>

#include "platform/SysUtils.h"

namespace {

// The sleep between two turns of a pumping wait: short against the 250 ms
// timers it must keep running, long enough not to spin.
constexpr int kPumpSliceMs = 2;

// Completes a Synchronize: with the task's outcome when it ran, with EAbort
// when the task was dropped unrun (Reset, or the loop going away).
class SyncCompletion {
 public:
  void Finish(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    error_ = std::move(error);
    cv_.notify_all();
  }
  // Hands the error over: the waiting thread becomes its only owner, so the
  // exception object is freed on the thread that last reads it.
  std::exception_ptr Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return done_; });
    return std::move(error_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::exception_ptr error_;
};

class SyncTask {
 public:
  SyncTask(std::function<void()> fn, std::shared_ptr<SyncCompletion> done) : fn_(std::move(fn)), done_(std::move(done)) {}
  ~SyncTask() {
    if (!ran_) done_->Finish(std::make_exception_ptr(EAbort()));
  }
  void Run() {
    ran_ = true;
    std::exception_ptr error;
    try {
      fn_();
    } catch (...) {
      error = std::current_exception();
    }
    // Only after the handler has let go of the exception.
    done_->Finish(std::move(error));
  }
  SyncTask(const SyncTask&) = delete;
  SyncTask& operator=(const SyncTask&) = delete;

 private:
  std::function<void()> fn_;
  std::shared_ptr<SyncCompletion> done_;
  bool ran_ = false;
};

}  // namespace

MainLoop& MainLoop::Instance() {
  static MainLoop loop;
  return loop;
}

void MainLoop::SetTimeSource(std::function<uint64_t()> nowMs) { timeSource_ = std::move(nowMs); }

uint64_t MainLoop::NowMs() const {
  if (timeSource_) return timeSource_();
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void MainLoop::BindToCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  mainThread_ = std::this_thread::get_id();
}

bool MainLoop::IsMainThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mainThread_ == std::this_thread::get_id();
}

void MainLoop::Post(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(fn));
  ++changes_;
  cv_.notify_all();
}

void MainLoop::Synchronize(std::function<void()> fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto done = std::make_shared<SyncCompletion>();
  auto task = std::make_shared<SyncTask>(std::move(fn), done);
  Post([task] { task->Run(); });
  task.reset();
  if (std::exception_ptr error = done->Wait()) std::rethrow_exception(error);
}

MainLoop::TimerId MainLoop::AddTimer(uint32_t intervalMs, std::function<void()> fn, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  const TimerId id = nextId_++;
  timers_.push_back(Timer{id, intervalMs, NowMs() + intervalMs, enabled, false, false, std::move(fn)});
  ++changes_;
  cv_.notify_all();
  return id;
}

void MainLoop::SetTimerEnabled(TimerId id, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Timer& t : timers_) {
    if (t.id != id || t.removed) continue;
    t.enabled = enabled;
    if (enabled) t.nextDue = NowMs() + t.interval;
  }
  ++changes_;
  cv_.notify_all();
}

bool MainLoop::TimerEnabled(TimerId id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Timer& t : timers_)
    if (t.id == id && !t.removed) return t.enabled;
  return false;
}

void MainLoop::SetTimerInterval(TimerId id, uint32_t intervalMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Timer& t : timers_) {
    if (t.id != id || t.removed) continue;
    t.interval = intervalMs;
    t.nextDue = NowMs() + intervalMs;
  }
  ++changes_;
  cv_.notify_all();
}

void MainLoop::RemoveTimer(TimerId id) {
  std::function<void()> dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->id != id) continue;
    if (it->running) {
      it->removed = true;  // the running round erases it when the handler returns
    } else {
      dropped = std::move(it->fn);
      timers_.erase(it);
    }
    break;
  }
}

bool MainLoop::RunOneTask() {
  std::function<void()> fn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.empty()) return false;
    fn = std::move(tasks_.front());
    tasks_.pop_front();
  }
  try {
    fn();
  } catch (...) {
  }
  return true;
}

bool MainLoop::RunDueTimers() {
  std::vector<TimerId> due;
  const uint64_t now = NowMs();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Timer& t : timers_)
      if (t.enabled && !t.running && !t.removed && t.interval > 0 && t.nextDue <= now) due.push_back(t.id);
  }
  bool ran = false;
  for (TimerId id : due) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Timer* t = nullptr;
      for (Timer& x : timers_)
        if (x.id == id) t = &x;
      // An earlier handler of this round may have changed or removed it.
      if (!t || !t->enabled || t->running || t->removed || t->interval == 0 || t->nextDue > now) continue;
      t->running = true;
      // Missed intervals coalesce: the next tick is a whole interval away.
      t->nextDue = NowMs() + t->interval;
      fn = t->fn;
    }
    ran = true;
    try {
      fn();
    } catch (...) {
    }
    std::function<void()> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->id != id) continue;
      it->running = false;
      if (it->removed) {
        dropped = std::move(it->fn);
        timers_.erase(it);
      }
      break;
    }
    ++changes_;
  }
  return ran;
}

void MainLoop::ProcessPending(PumpMode mode) {
  // Only what is queued now: a task that posts again waits for the next call.
  size_t n;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    n = tasks_.size();
  }
  while (n-- > 0 && RunOneTask()) {
  }
  if (mode == PumpMode::All) RunDueTimers();
}

void MainLoop::PumpUntil(const std::function<bool()>& done) {
  const bool pump = IsMainThread();
  while (!done()) {
    if (pump) ProcessPending(PumpMode::All);
    std::this_thread::sleep_for(std::chrono::milliseconds(kPumpSliceMs));
  }
}

void MainLoop::Run() {
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return;
      seen = changes_;
    }
    bool did = false;
    size_t n;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      n = tasks_.size();
    }
    while (n-- > 0 && RunOneTask()) did = true;
    if (RunDueTimers()) did = true;
    if (did) continue;

    std::function<void()> idle;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      idle = onIdle_;
    }
    if (idle) {
      try {
        idle();
      } catch (...) {
      }
    }

    std::unique_lock<std::mutex> lock(mutex_);
    if (quit_ || !tasks_.empty()) continue;
    // The idle handler may itself have changed timers; look again first.
    if (changes_ != seen) continue;
    uint64_t earliest = UINT64_MAX;
    for (const Timer& t : timers_)
      if (t.enabled && !t.running && !t.removed && t.interval > 0) earliest = std::min(earliest, t.nextDue);
    auto woken = [&] { return quit_ || !tasks_.empty() || changes_ != seen; };
    if (earliest == UINT64_MAX) {
      cv_.wait(lock, woken);
    } else {
      const uint64_t now = NowMs();
      if (earliest > now) cv_.wait_for(lock, std::chrono::milliseconds(earliest - now), woken);
    }
  }
}

void MainLoop::Quit() {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  ++changes_;
  cv_.notify_all();
}

bool MainLoop::Quitting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

size_t MainLoop::PendingTasks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasks_.size();
}

void MainLoop::SetOnIdle(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  onIdle_ = std::move(fn);
  ++changes_;
}

void MainLoop::Reset() {
  std::deque<std::function<void()>> tasks;
  std::vector<Timer> timers;
  std::function<void()> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(tasks_);
    timers.swap(timers_);
    idle.swap(onIdle_);
    quit_ = false;
    ++changes_;
  }
  // Destroyed outside the lock: a dropped Synchronize wakes its caller here.
}
