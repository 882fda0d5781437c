#include "platform/FiberRuntime.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <boost/context/detail/fcontext.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/CpuShare.h"
#include "platform/TcpErrors.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define VT_ASAN_FIBERS 1
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define VT_TSAN_FIBERS 1
#endif

namespace fctx = boost::context::detail;

namespace {
#if defined(VT_ASAN_FIBERS) || defined(VT_TSAN_FIBERS)
constexpr size_t kStackSize = 1024 * 1024;  // instrumented frames are larger
#else
constexpr size_t kStackSize = 256 * 1024;
#endif
constexpr size_t kNoTimer = static_cast<size_t>(-1);
constexpr uint64_t kWakeTag = ~uint64_t{0};
constexpr int kMaxEvents = 256;
constexpr auto kRearmEvery = std::chrono::seconds(1);

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fiber runtime: %s\n", what);
  std::abort();
}

// Edge events a wait takes; an error or a hang-up stays, and answers every
// later wait at once.
constexpr uint32_t kTakenEvents = EPOLLIN | EPOLLOUT;

// Which carrier's epoll set holds each descriptor, for any thread to forget
// at the close. Chunks are made on first use and kept.
constexpr size_t kRegistrationChunk = 4096;
constexpr size_t kRegistrationChunks = 1024;  // descriptors below 4 Mi
std::atomic<std::atomic<Carrier*>*> registrations[kRegistrationChunks];

std::atomic<Carrier*>* RegistrationOrNull(int fd, bool make) {
  const size_t chunk = static_cast<size_t>(fd) / kRegistrationChunk;
  if (fd < 0 || chunk >= kRegistrationChunks) {
    if (make) Die("descriptor out of range");
    return nullptr;
  }
  std::atomic<Carrier*>* entries = registrations[chunk].load(std::memory_order_acquire);
  if (entries == nullptr && make) {
    auto* fresh = new std::atomic<Carrier*>[kRegistrationChunk]();
    if (registrations[chunk].compare_exchange_strong(entries, fresh, std::memory_order_acq_rel)) {
      entries = fresh;
    } else {
      delete[] fresh;
    }
  }
  return entries != nullptr ? entries + static_cast<size_t>(fd) % kRegistrationChunk : nullptr;
}

std::atomic<Carrier*>& Registration(int fd) { return *RegistrationOrNull(fd, true); }

thread_local Fiber* tlsFiber = nullptr;
thread_local Carrier* tlsCarrier = nullptr;

}  // namespace

// The fiber's machine context and stack, and what the sanitizers need to
// follow a switch.
struct Fiber::Context {
  fctx::fcontext_t self = nullptr;     // where the fiber resumes
  fctx::fcontext_t carrier = nullptr;  // where its carrier resumes
  void* stack = nullptr;               // mapping, guard page first
  size_t mapped = 0;
  bool done = false;
  void* asanFakeStack = nullptr;
  void* tsanFiber = nullptr;
};

class Carrier {
 public:
  Carrier(FiberRuntime* runtime, int index);
  int Index() const noexcept { return index_; }
  ~Carrier();

  // Any thread: the fiber is ready to run.
  void Schedule(Fiber* fiber);
  void Stop();

  // On this carrier's thread, for the running fiber.
  void AddTimer(Fiber* fiber, std::chrono::steady_clock::time_point due);
  void RemoveTimer(Fiber* fiber);
  bool WaitFd(Fiber* fiber, int fd, short events, int timeoutMs);
  void NoteReceive(int fd, bool drained) noexcept;
  bool KnownQuiet(int fd) noexcept;
  bool KnownDrained(int fd) noexcept;
  bool KnownNoError(int fd) noexcept;
  void SwitchOut(Fiber* fiber, bool last);
  static void Entry(fctx::transfer_t from);

  std::atomic<int> live_{0};  // fibers started here and not finished

 private:
  void Loop();
  void Resume(Fiber* fiber);
  void Finish(Fiber* fiber);
  // The winner of a wake on this thread (an event or a time-out).
  void WakeLocal(Fiber* fiber, bool woken);
  void RunTimers();
  int NextTimeoutMs() const;
  // Each entry holds its time, so ordering the heap reads no fiber: with a
  // thousand parked fibers their objects are mostly out of the cache.
  struct Timer {
    std::chrono::steady_clock::time_point due;
    Fiber* fiber;
  };
  void HeapSet(size_t i, Timer timer);
  void HeapUp(size_t i);
  void HeapDown(size_t i);

  FiberRuntime* runtime_;
  const int index_;
  int epoll_ = -1;
  int wake_ = -1;
  std::vector<Fiber*> runq_;
  std::mutex inboxMutex_;
  std::vector<Fiber*> inbox_;
  std::atomic<int> inboxCount_{0};
  std::atomic<bool> sleeping_{false};
  std::atomic<bool> stopping_{false};
  std::vector<Timer> timers_;  // min-heap on due
  // By descriptor: the parked waiter and what it waits for, and the events
  // that came in since a wait last took them (edge-triggered: the kernel
  // reports a change once, whether or not a fiber waits at that moment).
  struct FdState {
    Fiber* waiter = nullptr;
    uint32_t wanted = 0;
    uint32_t ready = 0;
    // Drained before the look numbered so (0: not known drained).
    uint64_t drainedBefore = 0;
    // The last time a wait that timed out re-armed the descriptor.
    std::chrono::steady_clock::time_point rearmedAt{};
  };
  // Looks at the epoll set so far, and when the last one returned.
  uint64_t polls_ = 0;
  std::chrono::steady_clock::time_point polledAt_{};
  FdState& StateOf(int fd);
  // The descriptor's state while it is in this carrier's epoll set.
  FdState* OwnState(int fd) noexcept;
  std::vector<FdState> fds_;
  // The carrier's own stack, for the sanitizers.
  const void* stackBottom_ = nullptr;
  size_t stackSize_ = 0;
  void* tsanSelf_ = nullptr;
  std::thread thread_;
};

// ------------------------------------------------------------------ Fiber
Fiber::Fiber(Carrier* carrier, std::function<void()> fn)
    : carrier_(carrier), fn_(std::move(fn)), context_(std::make_unique<Context>()) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t mapped = kStackSize + page;
  void* stack = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (stack == MAP_FAILED) RaiseSocketError(errno);
  // The lowest page stays unmapped for access: an overflow faults at once.
  ::mprotect(stack, page, PROT_NONE);
  context_->stack = stack;
  context_->mapped = mapped;
  context_->self = fctx::make_fcontext(static_cast<char*>(stack) + mapped, kStackSize, &Carrier::Entry);
#if defined(VT_TSAN_FIBERS)
  context_->tsanFiber = __tsan_create_fiber(0);
#endif
}

Fiber::~Fiber() {
  Join();
  if (context_->stack != nullptr) ::munmap(context_->stack, context_->mapped);
}

Fiber* Fiber::Current() noexcept { return tlsFiber; }

void Fiber::PreparePark() noexcept {
  woken_ = false;
  state_.store(kParked);
}

bool Fiber::Park(int timeoutMs) {
#ifndef NDEBUG
  if (heldLocks_ > 0) Die("a fiber parks while it holds a lock");
#endif
  if (timeoutMs >= 0) carrier_->AddTimer(this, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
  carrier_->SwitchOut(this, false);
  if (timerIndex_ != kNoTimer) carrier_->RemoveTimer(this);
  return woken_;
}

bool Fiber::Wake() noexcept {
  int expected = kParked;
  if (!state_.compare_exchange_strong(expected, kReady)) return false;
  woken_ = true;
  carrier_->Schedule(this);
  return true;
}

void Fiber::Join() {
  std::unique_lock<std::mutex> lock(joinMutex_);
  joined_.Wait(lock, [this] { return finished_; });
}

bool Fiber::Finished() const {
  std::lock_guard<std::mutex> lock(joinMutex_);
  return finished_;
}

void*& Fiber::LocalSlot(size_t key, void (*destroy)(void*)) {
  if (locals_.size() <= key) locals_.resize(key + 1);
  locals_[key].destroy = destroy;
  return locals_[key].value;
}

// ---------------------------------------------------------------- Carrier
Carrier::Carrier(FiberRuntime* runtime, int index) : runtime_(runtime), index_(index) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) RaiseSocketError(errno);
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    int error = errno;
    ::close(epoll_);
    RaiseSocketError(error);
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
  thread_ = std::thread(&Carrier::Loop, this);
}

Carrier::~Carrier() {
  Stop();
  if (thread_.joinable()) thread_.join();
  // A later carrier may live at this address: descriptors still open must
  // not look registered with it.
  for (size_t fd = 0; fd < fds_.size(); ++fd) {
    std::atomic<Carrier*>* entry = RegistrationOrNull(static_cast<int>(fd), false);
    Carrier* self = this;
    if (entry != nullptr) entry->compare_exchange_strong(self, nullptr);
  }
  ::close(wake_);
  ::close(epoll_);
}

void Carrier::Stop() {
  stopping_ = true;
  uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // Only a full counter fails, which wakes the carrier anyway.
  }
}

void Carrier::Schedule(Fiber* fiber) {
  if (tlsCarrier == this) {
    runq_.push_back(fiber);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(inboxMutex_);
    inbox_.push_back(fiber);
    inboxCount_.fetch_add(1);
  }
  // Pairs with the carrier's sleeping_ store and inboxCount_ load: either it
  // sees the fiber before it sleeps, or this sees it asleep and wakes it.
  if (sleeping_.exchange(false)) {
    uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) {
      // Only a full counter fails, which wakes the carrier anyway.
    }
  }
}

void Carrier::Loop() {
  tlsCarrier = this;
#if defined(VT_TSAN_FIBERS)
  tsanSelf_ = __tsan_get_current_fiber();
#endif
  std::vector<Fiber*> batch;
  epoll_event events[kMaxEvents];
  for (;;) {
    if (inboxCount_.load() > 0) {
      std::lock_guard<std::mutex> lock(inboxMutex_);
      runq_.insert(runq_.end(), inbox_.begin(), inbox_.end());
      inbox_.clear();
      inboxCount_.store(0);
    }
    // Fibers woken while this batch runs wait for the next turn, after the
    // sockets and timers had their look.
    batch.swap(runq_);
    for (Fiber* fiber : batch) Resume(fiber);
    batch.clear();
    if (stopping_ && live_.load() == 0) return;
    int timeout = runq_.empty() ? NextTimeoutMs() : 0;
    if (timeout != 0) {
      sleeping_.store(true);
      if (inboxCount_.load() > 0) timeout = 0;
    }
    int n = ::epoll_wait(epoll_, events, kMaxEvents, timeout);
    sleeping_.store(false);
    ++polls_;
    polledAt_ = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
      uint64_t tag = events[i].data.u64;
      if (tag == kWakeTag) {
        uint64_t count;
        if (::read(wake_, &count, sizeof count) < 0) {
          // Already drained.
        }
        continue;
      }
      size_t fd = static_cast<size_t>(tag);
      if (fd >= fds_.size()) continue;
      FdState& state = fds_[fd];
      state.ready |= events[i].events;
      if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) state.drainedBefore = 0;
      if (state.waiter != nullptr && (state.ready & state.wanted) != 0) {
        Fiber* fiber = state.waiter;
        state.waiter = nullptr;
        state.ready &= ~(state.wanted & kTakenEvents);
        WakeLocal(fiber, true);
      }
    }
    RunTimers();
  }
}

void Carrier::WakeLocal(Fiber* fiber, bool woken) {
  int expected = Fiber::kParked;
  if (!fiber->state_.compare_exchange_strong(expected, Fiber::kReady)) return;
  fiber->woken_ = woken;
  runq_.push_back(fiber);
}

void Carrier::Resume(Fiber* fiber) {
  Fiber::Context& c = *fiber->context_;
  fiber->state_.store(Fiber::kRunning);
  tlsFiber = fiber;
#if defined(VT_ASAN_FIBERS)
  void* fake = nullptr;
  __sanitizer_start_switch_fiber(&fake, static_cast<char*>(c.stack) + c.mapped - kStackSize, kStackSize);
#endif
#if defined(VT_TSAN_FIBERS)
  __tsan_switch_to_fiber(c.tsanFiber, 0);
#endif
  fctx::transfer_t back = fctx::jump_fcontext(c.self, fiber);
#if defined(VT_ASAN_FIBERS)
  __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
#endif
  tlsFiber = nullptr;
  c.self = back.fctx;
  if (c.done) Finish(fiber);
}

void Carrier::Entry(fctx::transfer_t from) {
  Fiber* fiber = static_cast<Fiber*>(from.data);
  Carrier* carrier = fiber->carrier_;
  fiber->context_->carrier = from.fctx;
#if defined(VT_ASAN_FIBERS)
  __sanitizer_finish_switch_fiber(nullptr, &carrier->stackBottom_, &carrier->stackSize_);
#endif
  try {
    fiber->fn_();
  } catch (...) {
    Die("an exception escaped a fiber");
  }
  fiber->fn_ = nullptr;
  // Flow-local values go with their flow, on the flow, as thread_local ones do.
  for (Fiber::LocalValue& local : fiber->locals_) {
    if (local.value != nullptr) local.destroy(local.value);
  }
  fiber->locals_.clear();
  carrier->SwitchOut(fiber, true);
}

void Carrier::SwitchOut(Fiber* fiber, bool last) {
  Fiber::Context& c = *fiber->context_;
  if (last) c.done = true;
#if defined(VT_ASAN_FIBERS)
  __sanitizer_start_switch_fiber(last ? nullptr : &c.asanFakeStack, stackBottom_, stackSize_);
#endif
#if defined(VT_TSAN_FIBERS)
  __tsan_switch_to_fiber(tsanSelf_, 0);
#endif
  fctx::transfer_t back = fctx::jump_fcontext(c.carrier, nullptr);
  // Resumed by the carrier: it passes where it will resume next.
#if defined(VT_ASAN_FIBERS)
  __sanitizer_finish_switch_fiber(c.asanFakeStack, &stackBottom_, &stackSize_);
#endif
  c.carrier = back.fctx;
}

void Carrier::Finish(Fiber* fiber) {
#if defined(VT_TSAN_FIBERS)
  __tsan_destroy_fiber(fiber->context_->tsanFiber);
  fiber->context_->tsanFiber = nullptr;
#endif
  Fiber::Context& c = *fiber->context_;
  ::munmap(c.stack, c.mapped);
  c.stack = nullptr;
  live_.fetch_sub(1);
  runtime_->fibers_.fetch_sub(1);
  // The last touch: once the flag is seen, the joiner may free the fiber.
  std::lock_guard<std::mutex> lock(fiber->joinMutex_);
  fiber->finished_ = true;
  fiber->joined_.NotifyAll();
}

Carrier::FdState& Carrier::StateOf(int fd) {
  const size_t slot = static_cast<size_t>(fd);
  if (fds_.size() <= slot) fds_.resize(std::max(slot + 1, fds_.size() * 2));
  return fds_[slot];
}

bool Carrier::WaitFd(Fiber* fiber, int fd, short events, int timeoutMs) {
  FdState& state = StateOf(fd);
  // Registered once per descriptor for every event, edge-triggered: a wait
  // costs no system call. A descriptor opened anew under a number the set
  // knew was forgotten at its close (FiberForgetFd), so it is added again.
  std::atomic<Carrier*>& owner = Registration(fd);
  if (owner.load(std::memory_order_relaxed) != this) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = static_cast<uint64_t>(fd);
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
      // Already in this set: a close that did not go through the handle.
      if (errno != EEXIST || ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) != 0) RaiseSocketError(errno);
    }
    owner.store(this, std::memory_order_relaxed);
    // The add makes the kernel report what is ready at the next look, so
    // from here on nothing readable goes unreported.
    state = FdState{.drainedBefore = polls_ + 1};
  }
  uint32_t wanted = EPOLLERR | EPOLLHUP;
  if (events & POLLIN) wanted |= EPOLLIN | EPOLLRDHUP;
  if (events & POLLOUT) wanted |= EPOLLOUT;
  if ((state.ready & wanted) != 0) {
    // Came in before this wait; the caller's next call finds it.
    state.ready &= ~(wanted & kTakenEvents);
    return true;
  }
  fiber->PreparePark();
  state.waiter = fiber;
  state.wanted = wanted;
  bool woken = fiber->Park(timeoutMs);
  // fds_ may have grown meanwhile: look the slot up again.
  FdState& after = fds_[static_cast<size_t>(fd)];
  if (after.waiter == fiber) after.waiter = nullptr;
  if (!woken && polledAt_ - after.rearmedAt >= kRearmEvery) {
    // Re-arming makes the kernel look at the descriptor's state once more
    // and report what is ready, should an edge ever have been missed. Once
    // a second is enough: an idle connection's wait times out every slice
    // of its stop check, and ten thousand of them would re-arm 40,000 times
    // a second.
    after.rearmedAt = polledAt_;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.u64 = static_cast<uint64_t>(fd);
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev) != 0 && errno == ENOENT) {
      owner.store(nullptr, std::memory_order_relaxed);
    }
  }
  return woken;
}

Carrier::FdState* Carrier::OwnState(int fd) noexcept {
  const size_t slot = static_cast<size_t>(fd);
  if (slot >= fds_.size()) return nullptr;
  std::atomic<Carrier*>* owner = RegistrationOrNull(fd, false);
  if (owner == nullptr || owner->load(std::memory_order_relaxed) != this) return nullptr;
  return &fds_[slot];
}

void Carrier::NoteReceive(int fd, bool drained) noexcept {
  if (FdState* state = OwnState(fd)) state->drainedBefore = drained ? polls_ + 1 : 0;
}

bool Carrier::KnownNoError(int fd) noexcept {
  const FdState* state = OwnState(fd);
  return state != nullptr && (state->ready & (EPOLLERR | EPOLLHUP)) == 0;
}

bool Carrier::KnownDrained(int fd) noexcept {
  const FdState* state = OwnState(fd);
  return state != nullptr && state->drainedBefore != 0;
}

bool Carrier::KnownQuiet(int fd) noexcept {
  // Drained before the last look, which brought no event for it. A hang-up
  // reported with the last bytes stays for a receive to find.
  const FdState* state = OwnState(fd);
  if (state == nullptr || state->drainedBefore == 0 || state->drainedBefore > polls_) return false;
  if ((state->ready & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) return false;
  return std::chrono::steady_clock::now() - polledAt_ < std::chrono::milliseconds(1);
}

// ------------------------------------------------------------ timer heap
void Carrier::HeapSet(size_t i, Timer timer) {
  timers_[i] = timer;
  timer.fiber->timerIndex_ = i;
}

void Carrier::HeapUp(size_t i) {
  const Timer timer = timers_[i];
  while (i > 0) {
    size_t parent = (i - 1) / 2;
    if (!(timer.due < timers_[parent].due)) break;
    HeapSet(i, timers_[parent]);
    i = parent;
  }
  HeapSet(i, timer);
}

void Carrier::HeapDown(size_t i) {
  const Timer timer = timers_[i];
  const size_t n = timers_.size();
  for (;;) {
    size_t child = 2 * i + 1;
    if (child >= n) break;
    if (child + 1 < n && timers_[child + 1].due < timers_[child].due) ++child;
    if (!(timers_[child].due < timer.due)) break;
    HeapSet(i, timers_[child]);
    i = child;
  }
  HeapSet(i, timer);
}

void Carrier::AddTimer(Fiber* fiber, std::chrono::steady_clock::time_point due) {
  timers_.push_back({due, fiber});
  HeapUp(timers_.size() - 1);
}

void Carrier::RemoveTimer(Fiber* fiber) {
  size_t i = fiber->timerIndex_;
  fiber->timerIndex_ = kNoTimer;
  const Timer last = timers_.back();
  timers_.pop_back();
  if (i == timers_.size()) return;
  HeapSet(i, last);
  HeapDown(i);
  HeapUp(last.fiber->timerIndex_);
}

void Carrier::RunTimers() {
  if (timers_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  while (!timers_.empty() && timers_.front().due <= now) {
    Fiber* fiber = timers_.front().fiber;
    RemoveTimer(fiber);
    WakeLocal(fiber, false);
  }
}

int Carrier::NextTimeoutMs() const {
  if (timers_.empty()) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(timers_.front().due - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 0x7fffffff)) : 0;
}

// ----------------------------------------------------------- FiberRuntime
FiberRuntime::FiberRuntime(int carriers) {
  if (carriers <= 0) carriers = DefaultCarrierCount();
  for (int i = 0; i < carriers; ++i) carriers_.push_back(std::make_unique<Carrier>(this, i));
}

FiberRuntime::~FiberRuntime() {
  for (auto& carrier : carriers_) carrier->Stop();
  carriers_.clear();
}

int Fiber::CarrierIndex() const noexcept { return carrier_->Index(); }

std::unique_ptr<Fiber> FiberRuntime::Spawn(std::function<void()> fn) {
  Carrier* carrier = carriers_[next_.fetch_add(1) % carriers_.size()].get();
  std::unique_ptr<Fiber> fiber(new Fiber(carrier, std::move(fn)));
  fibers_.fetch_add(1);
  carrier->live_.fetch_add(1);
  carrier->Schedule(fiber.get());
  return fiber;
}

FiberRuntime& FiberRuntime::Shared() {
  // Never freed: carriers run until the process ends.
  static FiberRuntime* shared = new FiberRuntime(0);
  return *shared;
}

void FiberNoteReceive(int fd, bool drained) noexcept {
  if (tlsFiber != nullptr) tlsCarrier->NoteReceive(fd, drained);
}

bool FiberKnownQuiet(int fd) noexcept { return tlsFiber != nullptr && tlsCarrier->KnownQuiet(fd); }

bool FiberKnownDrained(int fd) noexcept { return tlsFiber != nullptr && tlsCarrier->KnownDrained(fd); }

bool FiberKnownNoError(int fd) noexcept { return tlsFiber != nullptr && tlsCarrier->KnownNoError(fd); }

void FiberForgetFd(int fd) noexcept {
  if (fd < 0) return;
  if (std::atomic<Carrier*>* entry = RegistrationOrNull(fd, false)) entry->store(nullptr, std::memory_order_relaxed);
}

bool FiberWaitFd(int fd, short events, int timeoutMs) {
  Fiber* fiber = Fiber::Current();
  if (fiber == nullptr) Die("a fiber wait outside a fiber");
  return tlsCarrier->WaitFd(fiber, fd, events, timeoutMs);
}
