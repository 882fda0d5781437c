// A flow is what runs the code: a fiber of the connection runtime
// (FiberRuntime.h) when one runs on the calling thread, else the OS thread.
// Whatever the code keys by "the caller" (lock re-entrancy, a connection's
// owner, per-caller caches) is keyed by the flow, and the waits here are
// fiber-aware: on a fiber they park it and leave its carrier to the others,
// on a plain thread they block as usual.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class Fiber;

using FlowId = const void*;
// The calling flow; never nullptr.
FlowId CurrentFlowId() noexcept;
bool OnFiber() noexcept;

namespace flow_detail {
size_t NewLocalKey() noexcept;
// The calling fiber's slot for Key (created empty), or nullptr on a thread.
void** FiberLocalSlot(size_t key, void (*destroy)(void*));
}  // namespace flow_detail

// One T per flow, made on first use and freed with the flow.
template <class T>
T& FlowLocal() {
  static const size_t key = flow_detail::NewLocalKey();
  if (void** slot = flow_detail::FiberLocalSlot(key, [](void* p) { delete static_cast<T*>(p); })) {
    if (*slot == nullptr) *slot = new T();
    return *static_cast<T*>(*slot);
  }
  thread_local T value;
  return value;
}

// Locks the calling flow holds that must not be held where a fiber parks:
// another fiber of the same carrier that wanted one would stall the carrier
// for good. Debug builds end the process when a fiber parks holding one.
int& HeldLockCount() noexcept;
class HeldLockScope {
 public:
  HeldLockScope() noexcept { ++HeldLockCount(); }
  ~HeldLockScope() { --HeldLockCount(); }
  HeldLockScope(const HeldLockScope&) = delete;
  HeldLockScope& operator=(const HeldLockScope&) = delete;
};

// A condition variable over a std::mutex that fibers and threads can wait
// on alike. Notifications may come from any thread, with or without the
// mutex; waits may wake spuriously, so they sit in a loop on the condition.
class FlowCondition {
 public:
  FlowCondition() = default;
  FlowCondition(const FlowCondition&) = delete;
  FlowCondition& operator=(const FlowCondition&) = delete;

  void Wait(std::unique_lock<std::mutex>& lock);
  // False when TimeoutMs (>= 0) passed without a notification.
  bool WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs);
  template <class Pred>
  void Wait(std::unique_lock<std::mutex>& lock, Pred pred) {
    while (!pred()) Wait(lock);
  }
  void NotifyAll() noexcept;

 private:
  struct Waiter {
    Fiber* fiber;
    Waiter* prev = nullptr;
    Waiter* next = nullptr;
    bool linked = false;
  };
  void Unlink(Waiter& w) noexcept;

  std::condition_variable threads_;
  std::mutex listMutex_;  // guards the fiber waiters only
  Waiter* head_ = nullptr;
  Waiter* tail_ = nullptr;
};

// Sleeps without holding a carrier.
void FlowSleep(int ms);

// Runs Fn on a helper thread while the calling fiber parks (name lookups,
// anything that blocks in the kernel without a descriptor to wait on); on a
// plain thread runs it in place. Fn's exception reaches the caller. The
// helpers are a pool of at most kBlockingHelpers threads, started as calls
// need them and joined at exit; further calls queue for a free one.
constexpr int kBlockingHelpers = 16;
void RunBlocking(const std::function<void()>& fn);
// Helper threads started so far (tests).
int RunBlockingHelpersStarted();

// How the servers run their connections: an OS thread each, or a fiber each
// on the shared runtime. The environment variable VT_RUNTIME ("threads" or
// "fibers") overrides the built-in default.
enum class ConnectionRuntime { Threads, Fibers };
ConnectionRuntime DefaultConnectionRuntime();

// An OS thread or a fiber of the shared runtime, started and joined alike.
class FlowThread {
 public:
  FlowThread();
  ~FlowThread();  // joins
  FlowThread(const FlowThread&) = delete;
  FlowThread& operator=(const FlowThread&) = delete;

  void Start(std::function<void()> fn, ConnectionRuntime runtime);
  bool Joinable() const noexcept;
  // The calling flow is this one.
  bool IsCurrent() const noexcept;
  void Join();
  // The carrier of a started fiber; -1 for an OS thread.
  int CarrierIndex() const noexcept;

 private:
  std::thread thread_;
  std::unique_ptr<Fiber> fiber_;
  std::atomic<FlowId> id_{nullptr};
};
