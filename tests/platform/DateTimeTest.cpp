#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/SysUtils.h"

namespace {

TEST(DateTime, EncodeDecodeRoundTrip) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 3, 1), 36586.0);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  struct Case {
    int y, mo, d, h, mi, s, ms;
  };
  for (const Case& c : {Case{2009, 12, 9, 14, 3, 7, 0}, Case{2024, 2, 29, 23, 59, 59, 999}, Case{1, 1, 1, 0, 0, 0, 0},
                        Case{9999, 12, 31, 23, 59, 59, 999}, Case{1899, 12, 29, 6, 0, 0, 0}}) {
    const TDateTime t = EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
    int y, mo, d, h, mi, s, ms;
    DecodeDate(t, y, mo, d);
    DecodeTime(t, h, mi, s, ms);
    EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}));
  }
  // Before day 0 the fraction counts forward from that day's midnight.
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
}

TEST(DateTime, InvalidPartsRaise) {
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(2023, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
}

TEST(DateTime, TextFormsAndRounding) {
  const TDateTime t = EncodeDateTime(2009, 12, 9, 14, 3, 7, 0);
  EXPECT_EQ(DateTimeToStr(t), "2009-12-09 14:03:07");
  EXPECT_EQ(DateToStr(t), "2009-12-09");
  EXPECT_EQ(TimeToStr(t), "14:03:07");
  // A value a hair below midnight rounds into the next day, date and time alike.
  EXPECT_EQ(DateTimeToStr(EncodeDate(2009, 12, 9) + 1 - 1e-10), "2009-12-10 00:00:00");
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 6, 2)), 1);    // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 25)), 2);  // a Monday, before day 0
}

TEST(Clock, ManualClockRulesNowAndTicks) {
  const TDateTime start = EncodeDateTime(2020, 1, 1, 23, 59, 59, 500);
  {
    ScopedManualClock manual(start, 5000);
    EXPECT_DOUBLE_EQ(Now(), start);
    EXPECT_EQ(GetTickCount64(), 5000u);
    manual.clock().Advance(1000);
    EXPECT_EQ(GetTickCount64(), 6000u);
    EXPECT_EQ(DateTimeToStr(Now()), "2020-01-02 00:00:00");
    manual.clock().SetTick(0x1'0000'0005ULL);
    EXPECT_EQ(GetTickCount(), 5u);
    EXPECT_EQ(GetTickCount64(), 0x1'0000'0005ULL);
  }
  // The system clock again: local time near the present, a moving tick.
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
  const uint64_t a = GetTickCount64();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(GetTickCount64(), a + 4);
}

}  // namespace
