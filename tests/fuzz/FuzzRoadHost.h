// The loopback switch the road fuzzers drive: one domain "a" in front of the
// fuzzer's back end, compression on, no log files kept, and short read,
// head and idle limits, so that an exchange that stalls ends within
// milliseconds instead of holding up the run.
#pragma once

#include <memory>

#include "tests/Common/ClientRoadHost.h"

inline std::unique_ptr<roadtest::RoadHost> MakeFuzzRoadHost(int backendPort) {
  auto host = std::make_unique<roadtest::RoadHost>();
  host->KeepLogs = false;
  host->limits_.ReadStepMs = 5;
  host->limits_.HeadLimitMs = 50;
  host->limits_.IdleLimitMs = 50;
  host->AddDomain("a", backendPort);
  host->Handler().CompressionLimiter.Enabled = true;
  return host;
}
