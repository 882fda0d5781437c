// Local date-time values and the clock seam. TDateTime is days since
// 1899-12-30 in local time, the fraction being the time of day; intervals are
// measured on a 64-bit monotonic millisecond clock, which never wraps.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;

TDateTime EncodeDate(int year, int month, int day);  // EConvertError when invalid
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec);
void DecodeDate(TDateTime t, int& year, int& month, int& day);
void DecodeTime(TDateTime t, int& hour, int& minute, int& second, int& msec);
int DayOfWeek(TDateTime t);  // 1 = Sunday .. 7 = Saturday
// Seconds since the epoch of a local date-time (whole seconds; the zone rules
// of the machine decide daylight saving).
std::time_t DateTimeToUnix(TDateTime local);

// The program's one "short date, blank, long time" form: "yyyy-mm-dd hh:nn:ss".
std::string DateTimeToStr(TDateTime t);
std::string DateToStr(TDateTime t);  // "yyyy-mm-dd"
std::string TimeToStr(TDateTime t);  // "hh:nn:ss"

// The clock seam. The system clock reads local time and CLOCK_MONOTONIC; tests
// install a ManualClock. Every Now() and tick read in the program goes through
// here.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime NowLocal() = 0;
  virtual uint64_t TickMs64() = 0;
};

// The clock in force (the system clock unless a test installed another).
Clock& CurrentClock();
// Installs Clock for the whole process; nullptr restores the system clock.
// The caller keeps ownership and keeps it alive while installed.
void InstallClock(Clock* clock);

TDateTime Now();
uint64_t GetTickCount64();
// The low 32 bits of the millisecond tick, for the places that store one.
uint32_t GetTickCount();

// A clock that moves only when told; thread-safe.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TDateTime now = 45000.0, uint64_t tick = 1000000);
  TDateTime NowLocal() override;
  uint64_t TickMs64() override;
  void SetNow(TDateTime now);
  void SetTick(uint64_t tick);
  // Moves both clocks forward by Ms milliseconds.
  void Advance(uint64_t ms);

 private:
  std::atomic<double> now_;
  std::atomic<uint64_t> tick_;
};

// Installs a ManualClock for the lifetime of the guard (tests).
class ScopedManualClock {
 public:
  explicit ScopedManualClock(TDateTime now = 45000.0, uint64_t tick = 1000000) : clock_(now, tick) {
    InstallClock(&clock_);
  }
  ~ScopedManualClock() { InstallClock(nullptr); }
  ManualClock& clock() { return clock_; }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;

 private:
  ManualClock clock_;
};
