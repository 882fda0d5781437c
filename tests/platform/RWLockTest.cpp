#include "platform/RWLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/SysUtils.h"

namespace {

using namespace std::chrono_literals;
using Lock = TMultiReadExclusiveWriteSynchronizer;

// Polls Pred for up to five seconds.
template <class Pred>
bool Eventually(Pred pred) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(RWLock, ReentrantOnOneThread) {
  Lock lock;
  {
    ReadLockGuard r1(lock);
    ReadLockGuard r2(lock);
  }
  {
    WriteLockGuard w1(lock);
    WriteLockGuard w2(lock);
    ReadLockGuard r(lock);
  }
  // Write while only reading would deadlock against itself: refused.
  lock.BeginRead();
  EXPECT_THROW(lock.BeginWrite(), EAssertionFailed);
  lock.EndRead();
  EXPECT_THROW(lock.EndRead(), EAssertionFailed);
  EXPECT_THROW(lock.EndWrite(), EAssertionFailed);
  // Still usable from another thread afterwards.
  auto other = std::async(std::launch::async, [&] { WriteLockGuard w(lock); });
  EXPECT_EQ(other.wait_for(5s), std::future_status::ready);
}

TEST(RWLockThreads, NestedReadIsNotQueuedBehindAWaitingWriter) {
  Lock lock;
  lock.BeginRead();
  std::atomic<bool> wrote{false};
  std::thread writer([&] {
    WriteLockGuard w(lock);
    wrote = true;
  });
  ASSERT_TRUE(Eventually([&] { return lock.WaitingWriters() == 1; }));

  lock.BeginRead();  // would deadlock if queued behind the writer
  lock.EndRead();
  EXPECT_FALSE(wrote.load());
  lock.EndRead();
  writer.join();
  EXPECT_TRUE(wrote.load());
}

TEST(RWLockThreads, NewReaderWaitsForAQueuedWriter) {
  Lock lock;
  lock.BeginRead();
  std::mutex orderMutex;
  std::vector<char> order;
  auto note = [&](char c) {
    std::lock_guard<std::mutex> g(orderMutex);
    order.push_back(c);
  };
  std::thread writer([&] {
    WriteLockGuard w(lock);
    note('W');
  });
  ASSERT_TRUE(Eventually([&] { return lock.WaitingWriters() == 1; }));
  std::atomic<bool> readerStarted{false};
  std::thread reader([&] {
    readerStarted = true;
    ReadLockGuard r(lock);
    note('R');
  });
  ASSERT_TRUE(Eventually([&] { return readerStarted.load(); }));
  std::this_thread::sleep_for(20ms);
  {
    std::lock_guard<std::mutex> g(orderMutex);
    EXPECT_TRUE(order.empty());
  }
  lock.EndRead();
  writer.join();
  reader.join();
  EXPECT_EQ(order, (std::vector<char>{'W', 'R'}));
}

TEST(RWLockThreads, ReadTakenInsideWriteOutlivesIt) {
  Lock lock;
  lock.BeginWrite();
  lock.BeginRead();
  lock.EndWrite();  // still reading
  std::atomic<bool> wrote{false};
  std::thread writer([&] {
    WriteLockGuard w(lock);
    wrote = true;
  });
  ASSERT_TRUE(Eventually([&] { return lock.WaitingWriters() == 1; }));
  EXPECT_FALSE(wrote.load());
  lock.EndRead();
  writer.join();
  EXPECT_TRUE(wrote.load());
}

TEST(RWLockThreads, WritersExcludeReadersAndEachOther) {
  Lock lock;
  std::atomic<int> readers{0}, writers{0}, violations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        if ((i + t) % 4 == 0) {
          WriteLockGuard w(lock);
          WriteLockGuard again(lock);
          if (writers.fetch_add(1) != 0 || readers.load() != 0) ++violations;
          std::this_thread::yield();
          writers.fetch_sub(1);
        } else {
          ReadLockGuard r(lock);
          readers.fetch_add(1);
          {
            ReadLockGuard nested(lock);
            if (writers.load() != 0) ++violations;
          }
          readers.fetch_sub(1);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(violations.load(), 0);
}

}  // namespace
