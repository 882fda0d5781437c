#include "Common/uStatHolder.h"

#include <limits>

#include "Common/uDomainHandler.h"
#include "platform/DateTime.h"

void AddSaturating(std::atomic<int64_t>& counter, int64_t amount) {
  int64_t old = counter.load(std::memory_order_relaxed);
  int64_t next;
  do {
    if (amount > 0 && old > std::numeric_limits<int64_t>::max() - amount)
      next = std::numeric_limits<int64_t>::max();
    else if (amount < 0 && old < std::numeric_limits<int64_t>::min() - amount)
      next = std::numeric_limits<int64_t>::min();
    else
      next = old + amount;
  } while (!counter.compare_exchange_weak(old, next, std::memory_order_relaxed));
}

void TRateSampler::Sample(int64_t bytes, int64_t requests) noexcept {
  if (!HasSample) {
    KBPerSecond = 0;
    RequestsPerSecond = 0;
  } else {
    const uint64_t now = GetTickCount64();
    // A clock set back by a test gives no sample, like a tick that failed.
    if (now < LastSampleTime) return;
    const uint64_t elapsed = now - LastSampleTime;
    if (elapsed > 0) {
      // Bytes per millisecond are kilobytes (of 1000 bytes) per second.
      const float byteRate = static_cast<float>(static_cast<double>(bytes - BytesAtLastSample) / elapsed);
      const float kb = KBPerSecond.load(std::memory_order_relaxed) * 0.8f + byteRate * 0.2f;
      KBPerSecond.store(kb, std::memory_order_relaxed);
      if (kb > MaxKBPerSecond.load(std::memory_order_relaxed)) MaxKBPerSecond.store(kb, std::memory_order_relaxed);

      const float requestRate =
          static_cast<float>(static_cast<double>(requests - RequestsAtLastSample) * 1000.0 / elapsed);
      const float rps = RequestsPerSecond.load(std::memory_order_relaxed) * 0.9f + requestRate * 0.1f;
      RequestsPerSecond.store(rps, std::memory_order_relaxed);
      if (rps > MaxRequestsPerSecond.load(std::memory_order_relaxed))
        MaxRequestsPerSecond.store(rps, std::memory_order_relaxed);
    }
  }
  BytesAtLastSample = bytes;
  RequestsAtLastSample = requests;
  LastSampleTime = GetTickCount64();
  HasSample = true;
}

void TServerStatHolder::AddResponseTime(int64_t ms) {
  AddSaturating(ResponseTimeTotal, ms);
  const int64_t count = ResponseCount.fetch_add(1, std::memory_order_relaxed) + 1;
  AverageResponseTime.store(static_cast<float>(static_cast<double>(ResponseTimeTotal.load()) / count),
                            std::memory_order_relaxed);
}

void TServerStatHolder::ResetResponseTimes() {
  AverageResponseTime = 0;
  ResponseTimeTotal = 0;
  ResponseCount = 0;
}

TStatHolder::TStatHolder() : DomainHandler(std::make_unique<TDomainHandler>()) {}

TStatHolder::~TStatHolder() = default;

float TStatHolder::GetCompressionRate() const {
  const int64_t saved = BytesSaved.load(std::memory_order_relaxed);
  if (saved <= 0) return 0;
  const double sent = static_cast<double>(BytesTransferred.load(std::memory_order_relaxed));
  return static_cast<float>((1.0 - sent / (static_cast<double>(saved) + sent)) * 100.0);
}
