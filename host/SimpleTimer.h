// A message timer that needs no window: every TSimpleTimer ticks through one
// shared dispatcher, created by the first timer and freed by the last. Ticks
// carry the timer's id, never its address: a tick that arrives after its
// timer was freed finds no timer and is ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "platform/MainLoop.h"

class TSimpleTimer;

class TSimpleTimerHandler {
 public:
  // The shared dispatcher, nullptr while no timer exists.
  static TSimpleTimerHandler* Instance();
  static int RefCount();
  // Runs the callback of the timer with this id, if it still exists; an
  // exception it raises is swallowed.
  void Dispatch(uint64_t id);

 private:
  friend class TSimpleTimer;
  static TSimpleTimerHandler& Acquire();
  static void Release();
  std::map<uint64_t, TSimpleTimer*> timers_;  // not owned
};

class TSimpleTimer {
 public:
  using TCallback = std::function<void(void* ownerData)>;
  TSimpleTimer(void* ownerData, TCallback callback, MainLoop& loop = MainLoop::Instance());
  ~TSimpleTimer();
  TSimpleTimer(const TSimpleTimer&) = delete;
  TSimpleTimer& operator=(const TSimpleTimer&) = delete;

  // Stops first when active; a 0 ms interval runs at the loop's 10 ms minimum.
  bool Start(uint32_t ms);
  // False when no timer was set.
  bool Stop();
  bool Active() const { return active_; }
  uint32_t Interval() const { return interval_; }
  uint64_t Id() const { return id_; }

 private:
  friend class TSimpleTimerHandler;
  void* ownerData_;
  TCallback callback_;
  MainLoop& loop_;
  uint64_t id_;
  uint32_t interval_ = 0;
  bool active_ = false;
  MainLoop::TimerId loopTimer_ = 0;
};
