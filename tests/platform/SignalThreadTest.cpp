#include "platform/SignalThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the handler saw, waited on without sleeping.
struct Seen {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int> signals;
  std::vector<std::thread::id> threads;

  void Add(int sig) {
    std::lock_guard<std::mutex> g(mutex);
    signals.push_back(sig);
    threads.push_back(std::this_thread::get_id());
    cv.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> g(mutex);
    return cv.wait_for(g, 5s, [&] { return signals.size() >= count; });
  }
};

TEST(SignalThreadThreads, EachStopSignalRunsTheHandlerOnTheSignalThread) {
  Seen seen;
  {
    SignalThread signals([&](int sig) {
      seen.Add(sig);
      if (seen.signals.size() == 1) throw std::runtime_error("dropped");  // the thread goes on
    });
    signals.Raise(SIGTERM);
    ASSERT_TRUE(seen.WaitFor(1));
    signals.Raise(SIGINT);
    ASSERT_TRUE(seen.WaitFor(2));
  }
  EXPECT_EQ(seen.signals, (std::vector<int>{SIGTERM, SIGINT}));
  EXPECT_NE(seen.threads[0], std::this_thread::get_id());
  EXPECT_EQ(seen.threads[0], seen.threads[1]);
}

TEST(SignalThreadThreads, EndsWithoutASignalAndWithoutCallingTheHandler) {
  bool called = false;
  { SignalThread signals([&](int) { called = true; }); }
  EXPECT_FALSE(called);
}

}  // namespace
