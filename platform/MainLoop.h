// The main thread's message loop: posted tasks (FIFO), Synchronize, timers
// that fire on the main thread one at a time, an idle handler and Quit.
// A timer is never re-entered while its own handler runs; late ticks
// coalesce into one. Handler exceptions are caught and dropped.
// Timers run on the monotonic clock of the machine, not on the Clock seam, so a
// test that fakes the date still sees its timers fire. A loop that a test
// builds may be given its own time source instead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class MainLoop {
 public:
  static MainLoop& Instance();

  // Makes the calling thread the main thread (main(), or a test fixture).
  void BindToCurrentThread();
  bool IsMainThread() const;

  // Any thread; runs on the main thread in posting order.
  void Post(std::function<void()> fn);
  // On the main thread: runs Fn at once. Elsewhere: posts it and waits for it;
  // an exception Fn raised is raised again in the caller.
  void Synchronize(std::function<void()> fn);

  using TimerId = uint32_t;
  // An interval of 0 never fires (as a window timer with no interval).
  TimerId AddTimer(uint32_t intervalMs, std::function<void()> fn, bool enabled);
  // Any thread. Enabling (also re-enabling) restarts the interval.
  void SetTimerEnabled(TimerId id, bool enabled);
  bool TimerEnabled(TimerId id) const;
  void SetTimerInterval(TimerId id, uint32_t intervalMs);
  // A handler that is running finishes; the timer never fires again.
  void RemoveTimer(TimerId id);

  enum class PumpMode { All, PostedOnly };
  // Non-blocking: runs the posted tasks, then (mode All) the due timers.
  void ProcessPending(PumpMode mode = PumpMode::All);
  // Returns once Done holds. On the main thread the loop keeps turning
  // meanwhile (posted tasks and due timers, between short sleeps), so what
  // Done waits for may itself wait for the main loop; elsewhere it only polls.
  void PumpUntil(const std::function<bool()>& done);
  // Takes Lock (a mutex or a deferred unique_lock). On the main thread it
  // pumps while another thread holds it: that holder may be waiting for the
  // main loop (a stop waiting for its timer), and would wait for ever.
  template <class Lockable>
  void LockPumping(Lockable& lock) {
    if (IsMainThread()) {
      PumpUntil([&lock] { return lock.try_lock(); });
    } else {
      lock.lock();
    }
  }
  // Runs until Quit(); calls OnIdle whenever a round found nothing to do.
  void Run();
  // Any thread; Run returns after the current round.
  void Quit();
  bool Quitting() const;
  // Posted tasks not yet run (diagnostics and tests).
  size_t PendingTasks() const;

  void SetOnIdle(std::function<void()> fn);

  // Milliseconds that timers go by; empty restores the machine's monotonic
  // clock. Set it before the loop is used by other threads.
  void SetTimeSource(std::function<uint64_t()> nowMs);

  // Drops every task, timer and the idle handler and clears Quit (tests start
  // from a clean loop). A Synchronize whose task is dropped raises EAbort.
  void Reset();

 private:
  struct Timer {
    TimerId id;
    uint32_t interval;
    uint64_t nextDue;
    bool enabled;
    bool running;
    bool removed;
    std::function<void()> fn;
  };
  bool RunOneTask();
  bool RunDueTimers();
  uint64_t NowMs() const;
  std::function<uint64_t()> timeSource_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Timer> timers_;
  TimerId nextId_ = 1;
  bool quit_ = false;
  uint64_t changes_ = 0;  // bumped by anything that may shorten Run's wait
  std::thread::id mainThread_{};
  std::function<void()> onIdle_;
};
