// The M:N runtime under the TCP layer: fibers (each with its own stack,
// switched through Boost.Context) on carrier threads, one carrier per core.
// A carrier runs its fibers one at a time; a fiber gives its carrier up only
// where it parks (a socket wait, a sleep, a FlowCondition, a join), never in
// the middle of ordinary code. Each carrier owns an epoll set for socket
// waits, a timer heap for time-outs, and an inbox with an eventfd through
// which other threads hand it fibers to resume.
//
// Parking: the fiber first calls PreparePark, then publishes itself to
// whoever will wake it (a condition's waiter list, the epoll set), then
// calls Park. Wake from any thread wins once per park: only the first of
// several wakers (a notify, a socket event, the time-out) schedules it, so a
// fiber is never resumed twice. A fiber stays on the carrier it started on.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Flow.h"

class Carrier;
class FiberRuntime;

class Fiber {
 public:
  ~Fiber();  // joins first
  Fiber(const Fiber&) = delete;
  Fiber& operator=(const Fiber&) = delete;

  // The fiber running on the calling thread; nullptr on a plain thread.
  static Fiber* Current() noexcept;

  // From the fiber itself: marks it about to park. Publish the fiber to its
  // wakers after this call, then call Park.
  void PreparePark() noexcept;
  // Gives the carrier up until Wake or until TimeoutMs passes (< 0: no
  // limit). True when woken, false on the time-out.
  bool Park(int timeoutMs);
  // Any thread. False when the fiber was not parked or another wake won.
  bool Wake() noexcept;

  // Waits (fiber-aware) until the fiber's function has returned.
  void Join();
  bool Finished() const;

  // Storage of one value per fiber and key (see FlowLocal).
  void*& LocalSlot(size_t key, void (*destroy)(void*));

  // The carrier it runs on, counted from 0 in its runtime.
  int CarrierIndex() const noexcept;

 private:
  friend class Carrier;
  friend class FiberRuntime;
  friend int& HeldLockCount() noexcept;

  enum State : int { kReady, kRunning, kParked };

  Fiber(Carrier* carrier, std::function<void()> fn);
  void SwitchToCarrier();

  Carrier* carrier_;
  std::function<void()> fn_;
  struct Context;
  std::unique_ptr<Context> context_;
  std::atomic<int> state_{kReady};
  bool woken_ = false;  // written by the wake that won, read after resuming
  // Timer heap slot while a parked wait has a time limit.
  size_t timerIndex_ = static_cast<size_t>(-1);
  int heldLocks_ = 0;
  struct LocalValue {
    void* value = nullptr;
    void (*destroy)(void*) = nullptr;
  };
  std::vector<LocalValue> locals_;

  mutable std::mutex joinMutex_;
  FlowCondition joined_;
  bool finished_ = false;
};

class FiberRuntime {
 public:
  // Carriers <= 0: DefaultCarrierCount() (platform/CpuShare.h).
  explicit FiberRuntime(int carriers = 0);
  // Every fiber must have been joined; ends the carriers.
  ~FiberRuntime();
  FiberRuntime(const FiberRuntime&) = delete;
  FiberRuntime& operator=(const FiberRuntime&) = delete;

  // Starts Fn on a fiber of the next carrier (round robin). Nothing may
  // escape Fn: an exception that does ends the process.
  std::unique_ptr<Fiber> Spawn(std::function<void()> fn);
  int CarrierCount() const noexcept { return static_cast<int>(carriers_.size()); }
  // Fibers started and not finished yet.
  int FiberCount() const noexcept { return fibers_.load(); }

  // The process-wide runtime the servers use, with the default carrier count,
  // started on first use and never ended.
  static FiberRuntime& Shared();

 private:
  friend class Carrier;
  std::vector<std::unique_ptr<Carrier>> carriers_;
  std::atomic<unsigned> next_{0};
  std::atomic<int> fibers_{0};
};

// Waits on a carrier's epoll set until Fd is ready for Events (POLLIN /
// POLLOUT; an error or hang-up counts as ready) or TimeoutMs passes (< 0: no
// limit). From a fiber only. True when ready.
bool FiberWaitFd(int fd, short events, int timeoutMs);
// From a fiber, after a receive on Fd: Drained says the receive emptied the
// socket's queue (it took less than it asked for, or found nothing).
void FiberNoteReceive(int fd, bool drained) noexcept;
// From a fiber: true when Fd certainly had nothing to read at its carrier's
// last look at the epoll set, which is under a millisecond old: it was drained
// before that look and no event came for it. A receive that must not wait can
// then answer without a system call, as the look's report would.
bool FiberKnownQuiet(int fd) noexcept;
// From a fiber: true when Fd is in its carrier's epoll set and no event for
// reading came since it was drained or added: whatever a receive could find
// now, the carrier's next look reports, so a receive that may wait can wait
// first and spare a receive that finds nothing.
bool FiberKnownDrained(int fd) noexcept;
// From a fiber: true when Fd is in its carrier's epoll set and no error or
// hang-up was reported for it. A connect whose wait for writing ended so has
// succeeded: an error would have come with the event that ended the wait.
bool FiberKnownNoError(int fd) noexcept;
// Any thread, right before Fd is closed: the number may come back for
// another socket, which must be added to an epoll set anew.
void FiberForgetFd(int fd) noexcept;
