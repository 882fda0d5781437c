// Ends the test program when a step does not end in time, so a deadlock
// fails the test run instead of hanging it. Disarmed by its destructor.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace testwatch {

class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds limit, std::string what) : what_(std::move(what)) {
    thread_ = std::thread([this, limit] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (cv_.wait_for(lock, limit, [this] { return disarmed_; })) return;
      std::fprintf(stderr, "WATCHDOG: %s did not end within %lld ms (a deadlock?)\n", what_.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(3);
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      disarmed_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool disarmed_ = false;
  std::thread thread_;
};

}  // namespace testwatch
