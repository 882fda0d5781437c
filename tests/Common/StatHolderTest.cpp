#include <gtest/gtest.h>

#include "Common/uStatHolder.h"
#include "platform/DateTime.h"

TEST(StatHolder, UpdateRatesSteps) {
  ScopedManualClock clock(45000.0, 5000);
  TServerStatHolder s;
  s.Bytes = 123;
  s.UpdateRates();  // first call: snapshots only
  EXPECT_EQ(s.KBPerSecond, 0);
  EXPECT_EQ(s.RequestsPerSecond, 0);
  EXPECT_EQ(s.MaxKBPerSecond, 0);
  EXPECT_EQ(s.BytesAtLastSample, 123);

  struct Step {
    const char* name;
    uint64_t elapsedMs;
    int64_t bytes, requests;  // added since the previous step
    float kb, rps, maxKb, maxRps;
  } steps[] = {
      {"1000000 bytes and 10 requests in 250 ms", 250, 1000000, 10, 800, 4, 800, 4},
      {"no time passed: rates stay", 0, 5000, 5, 800, 4, 800, 4},
      // The 5000 bytes and 5 requests of the empty step were taken into the snapshot.
      {"idle: rates decay, peaks stay", 250, 0, 0, 640, 3.6f, 800, 4},
      {"a negative difference gives a negative sample", 1000, -1000000, -100, 312, -6.76f, 800, 4},
      {"a long gap is no error", 86400000ull * 60, 864000000, 0, 249.6f + 0.2f * 864000000.0f / (86400000.0f * 60),
       -6.084f, 800, 4},
  };
  for (const Step& st : steps) {
    clock.clock().SetTick(clock.clock().TickMs64() + st.elapsedMs);
    s.Bytes += st.bytes;
    s.Requests += st.requests;
    s.UpdateRates();
    EXPECT_NEAR(s.KBPerSecond, st.kb, 0.01) << st.name;
    EXPECT_NEAR(s.RequestsPerSecond, st.rps, 0.001) << st.name;
    EXPECT_FLOAT_EQ(s.MaxKBPerSecond, st.maxKb) << st.name;
    EXPECT_FLOAT_EQ(s.MaxRequestsPerSecond, st.maxRps) << st.name;
    EXPECT_EQ(s.BytesAtLastSample, s.Bytes) << st.name;
    EXPECT_EQ(s.LastSampleTime, clock.clock().TickMs64()) << st.name;
  }
}

TEST(StatHolder, ResponseTimesAndSaturation) {
  TServerStatHolder s;
  s.AddResponseTime(10);
  s.AddResponseTime(30);
  EXPECT_FLOAT_EQ(s.AverageResponseTime, 20);
  s.ResetResponseTimes();
  EXPECT_EQ(s.ResponseCount, 0);
  EXPECT_EQ(s.ResponseTimeTotal, 0);
  EXPECT_EQ(s.AverageResponseTime, 0);

  s.Bytes = INT64_MAX - 5;
  s.AddBytes(100);
  EXPECT_EQ(s.Bytes, INT64_MAX);
}

#include "Common/uGuardedCounter.h"
#include "Common/uLogger.h"

TEST(GuardedCounter, WrapsToOneWithALineAndStopsAtZeroBelow) {
  std::vector<std::string> lines;
  GlobalLogger->SetOnLog([&](const std::string& line) { lines.push_back(line); });
  std::atomic<int32_t> c{2147483646};
  EXPECT_EQ(IncrementGuarded(c, "FCount"), 2147483647);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(IncrementGuarded(c, "FCount"), 1);
  GlobalLogger->SetOnLog(nullptr);
  EXPECT_EQ(lines, std::vector<std::string>{"Wrn-FCount reset to 1. Old value was 2147483647"});
  c = -2147483647 - 1;
  EXPECT_EQ(DecrementGuarded(c), 0);
  EXPECT_EQ(DecrementGuarded(c), -1);
}

#include "Common/uDomainHandler.h"

TEST(StatHolder, EngineRecordAtCreationAndCompressionRate) {
  ScopedManualClock clock(45000.0, 5000);
  TStatHolder s;
  EXPECT_EQ(s.ServerState, 0);
  EXPECT_TRUE(s.CompressionEnabled);
  ASSERT_NE(s.DomainHandler, nullptr);
  EXPECT_EQ(s.DomainHandler->Domains.Count(), 0);
  EXPECT_EQ(s.GetCompressionRate(), 0);
  s.BytesSaved = 300;
  s.BytesTransferred = 700;
  EXPECT_FLOAT_EQ(s.GetCompressionRate(), 30);
  s.BytesSaved = -1;
  EXPECT_EQ(s.GetCompressionRate(), 0);
  EXPECT_EQ(s.TakeRequestId(), 0);
  EXPECT_EQ(s.TakeRequestId(), 1);

  // The engine record samples bytes relayed and requests read.
  s.UpdateRates();
  s.BytesTransferred += 1000000;
  s.TotalRequests += 10;
  clock.clock().Advance(250);
  s.UpdateRates();
  EXPECT_FLOAT_EQ(s.KBPerSecond, 800);
  EXPECT_FLOAT_EQ(s.RequestsPerSecond, 4);
}
