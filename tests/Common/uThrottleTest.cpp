#include "Common/uThrottle.h"

#include <gtest/gtest.h>

TEST(Throttle, SmallBlockBoundaryIsARealNumber) {
  EXPECT_TRUE(IsSmallBlock(5461));
  EXPECT_FALSE(IsSmallBlock(5462));
  EXPECT_TRUE(IsSmallBlock(0));
}

TEST(Throttle, PauseTable) {
  struct Case {
    int64_t block;
    int active;
    int pause;
  };
  const Case cases[] = {
      {0, 0, 15},      {0, 25, 15},                                           // nothing came
      {4000, 0, 0},    {4000, 3, 0},    {4000, 4, 30},   {4000, 10, 30},      // small
      {4000, 11, 200}, {4000, 15, 200}, {4000, 20, 200}, {4000, 21, 300},
      {5461, 21, 300}, {5462, 21, 100},                                       // the boundary
      {10000, 10, 0},  {10000, 11, 50}, {10000, 15, 50}, {10000, 20, 50},     // large
      {10000, 21, 100}, {32768, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThrottlePauseMs(c.block, c.active), c.pause) << c.block << " bytes, " << c.active << " active";
  }
}
