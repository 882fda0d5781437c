#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SysUtils.h"

namespace {

using namespace std::chrono_literals;

class MainLoopFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    loop().Reset();
    loop().BindToCurrentThread();
  }
  void TearDown() override { loop().Reset(); }
  static MainLoop& loop() { return MainLoop::Instance(); }

  // Pumps until Pred holds, for at most five seconds.
  template <class Pred>
  bool PumpUntil(Pred pred) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      loop().ProcessPending();
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
};

using MainLoop_ = MainLoopFixture;
using MainLoopThreads = MainLoopFixture;

TEST_F(MainLoop_, PostedTasksRunInOrderAndOnlyWhenPumped) {
  std::string trace;
  loop().Post([&] { trace += 'a'; });
  loop().Post([&] {
    trace += 'b';
    loop().Post([&] { trace += 'd'; });  // waits for the next pump
  });
  loop().Post([&] { throw Exception("dropped"); });
  loop().Post([&] { trace += 'c'; });
  EXPECT_EQ(trace, "");
  loop().ProcessPending(MainLoop::PumpMode::PostedOnly);
  EXPECT_EQ(trace, "abc");
  loop().ProcessPending();
  EXPECT_EQ(trace, "abcd");
}

TEST_F(MainLoop_, NestedProcessPendingKeepsFifoOrder) {
  std::string trace;
  loop().Post([&] {
    trace += "A(";
    loop().ProcessPending();
    trace += ")";
  });
  loop().Post([&] { trace += "B"; });
  loop().Post([&] { trace += "C"; });
  loop().ProcessPending();
  EXPECT_EQ(trace, "A(BC)");
}

TEST_F(MainLoop_, TimerFiresEnablesAndRemoves) {
  int ticks = 0, never = 0;
  const auto t = loop().AddTimer(5, [&] { ++ticks; }, true);
  const auto off = loop().AddTimer(1, [&] { ++never; }, false);
  const auto zero = loop().AddTimer(0, [&] { ++never; }, true);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(loop().TimerEnabled(t));
  EXPECT_FALSE(loop().TimerEnabled(off));

  loop().SetTimerEnabled(t, false);
  const int stopped = ticks;
  std::this_thread::sleep_for(15ms);
  loop().ProcessPending();
  EXPECT_EQ(ticks, stopped);

  // Enabling restarts the interval: a long one does not fire at once.
  loop().SetTimerInterval(t, 60000);
  loop().SetTimerEnabled(t, true);
  loop().ProcessPending();
  EXPECT_EQ(ticks, stopped);

  loop().RemoveTimer(t);
  EXPECT_FALSE(loop().TimerEnabled(t));
  loop().RemoveTimer(zero);
  EXPECT_EQ(never, 0);
}

TEST_F(MainLoop_, TimerRemovedOrFailingInsideItsHandler) {
  int once = 0, failing = 0;
  MainLoop::TimerId self = 0;
  self = loop().AddTimer(1, [&] {
    ++once;
    loop().RemoveTimer(self);
  }, true);
  loop().AddTimer(1, [&] {
    ++failing;
    throw Exception("handler error");
  }, true);
  ASSERT_TRUE(PumpUntil([&] { return failing >= 3; }));  // keeps firing after raising
  EXPECT_EQ(once, 1);
}

TEST_F(MainLoop_, TimerIsNotReenteredByANestedPump) {
  int depth = 0, maxDepth = 0, fired = 0, other = 0;
  loop().AddTimer(1, [&] {
    ++fired;
    maxDepth = std::max(maxDepth, ++depth);
    std::this_thread::sleep_for(3ms);  // overdue again before the nested pump
    const int before = other;
    for (int i = 0; i < 1000 && other == before; ++i) {
      loop().ProcessPending();
      std::this_thread::sleep_for(1ms);
    }
    --depth;
  }, true);
  loop().AddTimer(1, [&] { ++other; }, true);
  ASSERT_TRUE(PumpUntil([&] { return fired >= 3; }));
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GT(other, 0);  // other timers do fire inside the handler's pump
}

TEST_F(MainLoop_, LateTicksCoalesceIntoOne) {
  int ticks = 0;
  loop().AddTimer(100, [&] { ++ticks; }, true);
  std::this_thread::sleep_for(350ms);  // three intervals missed
  loop().ProcessPending();
  EXPECT_EQ(ticks, 1);
  loop().ProcessPending();
  EXPECT_EQ(ticks, 1);  // the next tick is a whole interval away
}

TEST_F(MainLoop_, SynchronizeOnTheMainThreadRunsInline) {
  bool ran = false;
  loop().Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(loop().Synchronize([] { throw EAbort(); }), EAbort);
}

TEST_F(MainLoopThreads, SynchronizeFromAnotherThreadRunsOnTheMainThread) {
  const auto mainId = std::this_thread::get_id();
  std::atomic<bool> onMain{false};
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    EXPECT_FALSE(loop().IsMainThread());
    loop().Synchronize([&] { onMain = std::this_thread::get_id() == mainId; });
    try {
      loop().Synchronize([] { throw EConvertError("bad value"); });
    } catch (const EConvertError& e) {
      caught = e.Message();
    }
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(onMain.load());
  EXPECT_EQ(caught, "bad value");
}

TEST_F(MainLoopThreads, RunWakesForPostsAndTimersAndEndsOnQuit) {
  std::atomic<int> idles{0}, ticks{0};
  std::vector<int> seen;
  loop().SetOnIdle([&] { ++idles; });
  loop().AddTimer(2, [&] { ++ticks; }, true);
  std::thread poster([&] {
    for (int i = 0; i < 5; ++i) {
      loop().Post([&seen, i] { seen.push_back(i); });
      std::this_thread::sleep_for(2ms);
    }
    for (int i = 0; i < 5000 && ticks.load() < 3; ++i) std::this_thread::sleep_for(1ms);
    loop().Post([] { loop().Quit(); });
  });
  auto run = std::async(std::launch::deferred, [] { loop().Run(); });
  run.get();  // bounded by the poster's own bounded waits
  poster.join();
  EXPECT_TRUE(loop().Quitting());
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_GE(ticks.load(), 3);
  EXPECT_GT(idles.load(), 0);
}

TEST_F(MainLoopThreads, QuitFromAnotherThreadEndsAnIdleRun) {
  std::thread quitter([] {
    std::this_thread::sleep_for(10ms);
    loop().Quit();
  });
  loop().Run();  // nothing due: only Quit's wake-up ends the wait
  quitter.join();
  SUCCEED();
}

TEST_F(MainLoopThreads, ADroppedSynchronizeRaisesAbortInItsCaller) {
  std::promise<std::string> result;
  std::thread worker([&] {
    try {
      loop().Synchronize([] {});
      result.set_value("ran");
    } catch (const EAbort& e) {
      result.set_value(e.Message());
    }
  });
  auto f = result.get_future();
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (loop().PendingTasks() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(loop().PendingTasks(), 1u);
  loop().Reset();
  ASSERT_EQ(f.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(f.get(), "Operation aborted");
  worker.join();
}

}  // namespace

namespace {

// A holder that keeps a lock until the main loop has run a timer and a posted
// task (at most five seconds), as a stop waiting for its timer does.
TEST_F(MainLoopThreads, LockPumpingKeepsTheLoopTurningWhileAnotherThreadHoldsTheLock) {
  std::recursive_mutex lock;
  std::atomic<bool> held{false}, fired{false}, posted{false}, releasedAfterTheLoop{false};
  const MainLoop::TimerId timer = loop().AddTimer(20, [&] { fired = true; }, true);
  std::thread holder([&] {
    std::lock_guard<std::recursive_mutex> g(lock);
    held = true;
    loop().Post([&] { posted = true; });
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!(fired && posted) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    releasedAfterTheLoop = fired && posted;
  });
  while (!held) std::this_thread::sleep_for(1ms);
  {
    std::unique_lock<std::recursive_mutex> g(lock, std::defer_lock);
    loop().LockPumping(g);
    EXPECT_TRUE(g.owns_lock());
    // Re-entered at once by its holder.
    std::unique_lock<std::recursive_mutex> again(lock, std::defer_lock);
    loop().LockPumping(again);
    EXPECT_TRUE(again.owns_lock());
  }
  holder.join();
  EXPECT_TRUE(releasedAfterTheLoop) << "the holder waited for a loop that did not turn";
  loop().RemoveTimer(timer);

  // Another thread only waits: the main loop's work stays for the main thread.
  std::atomic<bool> ran{false};
  loop().Post([&] { ran = true; });
  std::thread other([&] {
    std::mutex m;
    loop().LockPumping(m);
    m.unlock();
    int turns = 0;
    loop().PumpUntil([&] { return ++turns == 3; });
  });
  other.join();
  EXPECT_FALSE(ran);
  loop().ProcessPending();
  EXPECT_TRUE(ran);
}

}  // namespace
