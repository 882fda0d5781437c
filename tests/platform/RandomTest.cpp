#include "platform/Random.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

TEST(Random, SeedRepeatsAndRangesHold) {
  RandSeed(42);
  std::vector<int32_t> first;
  for (int i = 0; i < 20; ++i) first.push_back(Random(1000));
  RandSeed(42);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Random(1000), first[static_cast<size_t>(i)]);

  std::set<int32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    const int32_t v = Random(7);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 7);
    seen.insert(v);
    const double f = RandomFloat();
    ASSERT_GE(f, 0.0);
    ASSERT_LT(f, 1.0);
  }
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_EQ(Random(0), 0);
  EXPECT_EQ(Random(-5), 0);
  EXPECT_EQ(Random(1), 0);
}

TEST(RandomThreads, ConcurrentDrawsStayInRange) {
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        const int32_t v = Random(2147483646);
        if (v < 0 || v >= 2147483646) ++bad;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
