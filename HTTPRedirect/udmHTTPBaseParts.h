// Inner parts of TdmHTTPBase shared by its source files.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "HTTPRedirect/udmHTTPBase.h"

// The stop hand-over: StopServer waits here for the result that the stop
// timer publishes on the main thread. An empty result means "pending".
struct TdmHTTPBase::TStopWaiter {
  std::mutex mutex;
  std::condition_variable published;
  std::string result;

  void Reset() {
    std::lock_guard<std::mutex> g(mutex);
    result.clear();
  }
  void Publish(const std::string& text) {
    std::lock_guard<std::mutex> g(mutex);
    result = text;
    published.notify_all();
  }
  // True (and Out set) once a result is there; waits at most Ms.
  bool WaitFor(int ms, std::string& out) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!published.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !result.empty(); })) return false;
    out = result;
    return true;
  }
  void Wait(std::string& out) {
    std::unique_lock<std::mutex> lock(mutex);
    published.wait(lock, [this] { return !result.empty(); });
    out = result;
  }
};

// What the console set, shared with the tasks posted to the main loop: a
// task that runs after the host has gone finds it detached and does nothing.
struct TdmHTTPBase::TRelay {
  // Lines waiting on the main loop beyond this are dropped, so a console
  // that cannot keep up never holds the engine's memory.
  static constexpr int kMaxPending = 10000;

  std::mutex mutex;
  TGUILogSink sink;
  std::function<void()> refresh;
  std::atomic<bool> hasSink{false};
  std::atomic<bool> hasRefresh{false};
  std::atomic<int> pending{0};

  void Detach() {
    std::lock_guard<std::mutex> g(mutex);
    sink = nullptr;
    refresh = nullptr;
    hasSink = false;
    hasRefresh = false;
  }
};
