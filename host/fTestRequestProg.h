// The test-request window: routing of a request that is described, not sent,
// on the live configuration, and two load-balancing exercises for debugging.
// First the window's operations as functions over the configuration and the
// report's lines, so the window only reads its controls and calls them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Classes.h"

class TDomainHandler;

// What the window's controls hold; the port is the text as typed.
struct TTestRequestInput {
  std::string Host;
  std::string Path = "/";
  std::string Port = "80";
  std::string CallerIP = "192.168.0.1";
  std::string LocalIP = "192.168.0.1";
};

inline constexpr int32_t DebugLBTestAddresses = 1000;
inline constexpr int32_t DebugLBTestRequests = 10000;
// Drops affinity entries older than this many seconds.
inline constexpr int32_t DebugRemoveConnectionsAge = 10;

// Each domain's name followed by its host aliases, in configuration order.
// Takes the configuration's read lock, since a reload may run on another
// thread.
TStringList TestRequestHosts(const TDomainHandler& handler);

// "Test": empties Report when Clear is set, then appends the routing trace.
// A port that is not a number raises EConvertError after the clearing and
// before anything is added.
void RunTestRequest(TDomainHandler& handler, const TTestRequestInput& input, bool clear, TStringList& report);

// "DEBUG LB TEST": DebugLBTestRequests matches of the real routing, from
// DebugLBTestAddresses addresses drawn from the process's generator; they
// count and add affinity entries like real requests. Progress gets each step
// number. Report ends up holding the cluster dump.
void RunDebugLBTest(TDomainHandler& handler, const TTestRequestInput& input, TStringList& report,
                    const std::function<void(int32_t step)>& progress);

// "REMOVE OLD CON.": drops the older affinity entries and dumps the clusters.
void RunDebugRemoveConnections(TDomainHandler& handler, TStringList& report);
