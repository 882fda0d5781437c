#include "platform/DateTime.h"

#include <time.h>

#include <cmath>

#include "platform/SysUtils.h"

namespace {

// Day 0 of TDateTime (1899-12-30) counted from 1970-01-01.
constexpr int64_t kUnixEpochDays = -25569;

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

// Howard Hinnant's civil-date algorithms, on days since 1970-01-01.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// Splits a date-time into whole days and milliseconds of the day, rounded to
// the millisecond. Before day 0 the fraction still counts forward from
// midnight (the value -1.25 is 1899-12-29 06:00).
void Split(TDateTime t, int64_t& days, int64_t& msOfDay) {
  if (!std::isfinite(t)) t = 0;
  const double whole = std::trunc(t);
  days = static_cast<int64_t>(whole);
  msOfDay = std::llround(std::fabs(t - whole) * MSecsPerDay);
  if (msOfDay >= static_cast<int64_t>(MSecsPerDay)) {
    msOfDay -= static_cast<int64_t>(MSecsPerDay);
    days += 1;
  }
}

class SystemClock : public Clock {
 public:
  TDateTime NowLocal() override {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    // localtime_r takes a process-wide lock of the C library: each thread
    // asks it once per second at most.
    thread_local time_t cachedSecond = -1;
    thread_local tm local;
    if (ts.tv_sec != cachedSecond) {
      localtime_r(&ts.tv_sec, &local);
      cachedSecond = ts.tv_sec;
    }
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(ts.tv_nsec / 1000000));
  }
  uint64_t TickMs64() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec / 1000000);
  }
};

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::atomic<Clock*> installedClock{nullptr};

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    throw EConvertError("Invalid argument to date encode");
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                             kUnixEpochDays);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    throw EConvertError("Invalid argument to time encode");
  return (((hour * 60 + minute) * 60 + second) * 1000 + msec) / MSecsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  const TDateTime date = EncodeDate(year, month, day);
  const TDateTime time = EncodeTime(hour, minute, second, msec);
  return date < 0 ? date - time : date + time;
}

void DecodeDate(TDateTime t, int& year, int& month, int& day) {
  int64_t days, ms;
  Split(t, days, ms);
  CivilFromDays(days + kUnixEpochDays, year, month, day);
}

void DecodeTime(TDateTime t, int& hour, int& minute, int& second, int& msec) {
  int64_t days, ms;
  Split(t, days, ms);
  msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  second = static_cast<int>(ms % 60);
  ms /= 60;
  minute = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

std::time_t DateTimeToUnix(TDateTime local) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(local, year, month, day);
  DecodeTime(local, hour, minute, second, msec);
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

int DayOfWeek(TDateTime t) {
  int64_t days, ms;
  Split(t, days, ms);
  // Day 0 was a Saturday.
  const int64_t r = ((days + 6) % 7 + 7) % 7;
  return static_cast<int>(r) + 1;
}

std::string DateToStr(TDateTime t) {
  int y, m, d;
  DecodeDate(t, y, m, d);
  return Format("%.4d-%.2d-%.2d", y, m, d);
}

std::string TimeToStr(TDateTime t) {
  int h, n, s, ms;
  DecodeTime(t, h, n, s, ms);
  return Format("%.2d:%.2d:%.2d", h, n, s);
}

std::string DateTimeToStr(TDateTime t) { return DateToStr(t) + " " + TimeToStr(t); }

Clock& CurrentClock() {
  Clock* c = installedClock.load(std::memory_order_acquire);
  return c ? *c : TheSystemClock();
}

void InstallClock(Clock* clock) { installedClock.store(clock, std::memory_order_release); }

TDateTime Now() { return CurrentClock().NowLocal(); }
uint64_t GetTickCount64() { return CurrentClock().TickMs64(); }
uint32_t GetTickCount() { return static_cast<uint32_t>(GetTickCount64()); }

ManualClock::ManualClock(TDateTime now, uint64_t tick) : now_(now), tick_(tick) {}
TDateTime ManualClock::NowLocal() { return now_.load(); }
uint64_t ManualClock::TickMs64() { return tick_.load(); }
void ManualClock::SetNow(TDateTime now) { now_.store(now); }
void ManualClock::SetTick(uint64_t tick) { tick_.store(tick); }
void ManualClock::Advance(uint64_t ms) {
  tick_.fetch_add(ms);
  double cur = now_.load();
  while (!now_.compare_exchange_weak(cur, cur + static_cast<double>(ms) / MSecsPerDay)) {
  }
}
