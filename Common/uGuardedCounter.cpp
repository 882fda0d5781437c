#include "Common/uGuardedCounter.h"

#include <limits>
#include <string>

#include "Common/uLogger.h"
#include "platform/SysUtils.h"

void LogCounterReset(const char* name, int64_t oldValue) {
  GlobalLogger->LogInfoFmt("%s reset to 1. Old value was %d", name, oldValue);
}

int32_t IncrementGuarded(std::atomic<int32_t>& counter, const char* name) {
  int32_t old = counter.load(std::memory_order_relaxed);
  int32_t next;
  do {
    next = old == std::numeric_limits<int32_t>::max() ? 1 : old + 1;
  } while (!counter.compare_exchange_weak(old, next, std::memory_order_relaxed));
  if (next == 1 && old == std::numeric_limits<int32_t>::max())
    LogCounterReset(name, old);
  return next;
}

int32_t DecrementGuarded(std::atomic<int32_t>& counter) {
  int32_t old = counter.load(std::memory_order_relaxed);
  int32_t next;
  do {
    next = old == std::numeric_limits<int32_t>::min() ? 0 : old - 1;
  } while (!counter.compare_exchange_weak(old, next, std::memory_order_relaxed));
  return next;
}
