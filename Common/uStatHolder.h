// Engine-wide and per-server statistics: traffic counters written by client
// threads, smoothed rates updated every 250 ms by the engine host's timer.
// Counters are atomics (relaxed); the rates are written by the timer alone and
// read by the consoles without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class TDomainHandler;

// Adds to a 64-bit statistics counter; the total sticks at the largest value
// instead of wrapping or raising.
void AddSaturating(std::atomic<int64_t>& counter, int64_t amount);

// The rate fields and the sampling rule shared by both records. Intervals are
// taken on the 64-bit monotonic millisecond clock, so they never wrap.
class TRateSampler {
 public:
  std::atomic<float> KBPerSecond{0};
  std::atomic<float> MaxKBPerSecond{0};
  std::atomic<float> RequestsPerSecond{0};
  std::atomic<float> MaxRequestsPerSecond{0};
  int64_t BytesAtLastSample = 0;
  int64_t RequestsAtLastSample = 0;
  uint64_t LastSampleTime = 0;  // GetTickCount64() of the previous sample
  bool HasSample = false;

 protected:
  // One sample over the current byte and request totals; never throws.
  void Sample(int64_t bytes, int64_t requests) noexcept;
};

// The rate record of one back-end server. A server shares it with the client
// threads that count on it, so it lives as long as the last of them.
class TServerStatHolder : public TRateSampler {
 public:
  std::atomic<int64_t> Bytes{0};
  std::atomic<int64_t> Requests{0};
  std::atomic<float> AverageResponseTime{0};  // ms; 0 while ResponseCount is 0
  std::atomic<int64_t> ResponseTimeTotal{0};  // ms
  std::atomic<int64_t> ResponseCount{0};

  void AddBytes(int64_t n) { AddSaturating(Bytes, n); }
  void AddRequest() { Requests.fetch_add(1, std::memory_order_relaxed); }
  // One timed response of Ms milliseconds; refreshes the average.
  void AddResponseTime(int64_t ms);
  // Called when the server's last back-end connection closes.
  void ResetResponseTimes();
  void UpdateRates() noexcept { Sample(Bytes.load(std::memory_order_relaxed), Requests.load(std::memory_order_relaxed)); }
};

// The engine states, ServerState's values (the byte is kept: the consoles and
// pages read it as a number).
enum TServerState : uint8_t { ssStarting = 0, ssRunning = 1, ssStopping = 2, ssStopped = 3 };

// The engine's one statistics and state record; owns the live configuration.
class TStatHolder : public TRateSampler {
 public:
  TStatHolder();
  ~TStatHolder();
  TStatHolder(const TStatHolder&) = delete;
  TStatHolder& operator=(const TStatHolder&) = delete;

  std::atomic<bool> CompressionEnabled{true};
  std::atomic<bool> LogResponseHeaders{false};
  std::atomic<bool> LogRequestHeaders{false};
  // Written by every request or connection: on cache lines of their own,
  // apart from the switches every request reads.
  alignas(64) std::atomic<int64_t> BytesSaved{0};
  std::atomic<int64_t> FTotalLBConnections{0};
  std::atomic<int64_t> TotalRequests{0};
  std::atomic<int64_t> NextRequestId{0};
  std::atomic<int64_t> BytesTransferred{0};
  std::atomic<int32_t> LiveConnections{0};
  std::atomic<int32_t> PooledThreads{0};
  alignas(64) std::unique_ptr<TDomainHandler> DomainHandler;
  std::atomic<uint8_t> ServerState{ssStarting};  // a TServerState
  std::atomic<bool> RemoveVTHeaders{false};
  std::atomic<int32_t> PoolSize{0};

  void AddBytes(int64_t n) { AddSaturating(BytesTransferred, n); }
  void AddBytesSaved(int64_t n) { AddSaturating(BytesSaved, n); }
  // The id of a new request: the current value, then one more.
  int64_t TakeRequestId() { return NextRequestId.fetch_add(1, std::memory_order_relaxed); }

  void UpdateRates() noexcept {
    Sample(BytesTransferred.load(std::memory_order_relaxed), TotalRequests.load(std::memory_order_relaxed));
  }
  // Share of the uncompressed volume saved, in percent; 0 when nothing was saved.
  float GetCompressionRate() const;
};
