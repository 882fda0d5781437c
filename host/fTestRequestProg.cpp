#include "host/fTestRequestProg.h"

#include <vector>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uRequestMatching.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

TStringList TestRequestHosts(const TDomainHandler& handler) {
  TStringList hosts;
  ReadLockGuard guard(handler.Synchronizer);
  for (const auto& domain : handler.Domains) {
    hosts.Add(domain->DomainName);
    hosts.AddStrings(domain->VirtualDomains);
  }
  return hosts;
}

void RunTestRequest(TDomainHandler& handler, const TTestRequestInput& input, bool clear, TStringList& report) {
  if (clear) report.Clear();
  const int32_t port = StrToInt(input.Port);
  handler.DescribeMatch(input.Host, input.LocalIP, report, input.CallerIP, input.Path, port);
}

void RunDebugLBTest(TDomainHandler& handler, const TTestRequestInput& input, TStringList& report,
                    const std::function<void(int32_t step)>& progress) {
  std::vector<std::string> addresses;
  addresses.reserve(DebugLBTestAddresses);
  for (int32_t i = 0; i < DebugLBTestAddresses; ++i)
    addresses.push_back(Format("%d.%d.%d.%d", Random(255), Random(255), Random(255), Random(255)));

  const int32_t port = StrToInt(input.Port);
  report.Add(Format("Performing %s tests on %s ip numbers", FormatThousands(DebugLBTestRequests),
                    FormatThousands(DebugLBTestAddresses)));
  TRequestMatchData m;
  for (int32_t step = 0; step < DebugLBTestRequests; ++step) {
    if (progress) progress(step);
    const std::string& address = addresses[static_cast<size_t>(Random(DebugLBTestAddresses))];
    m.Setup(input.Host, input.LocalIP, IPToInt(address), address, input.Path, port);
    handler.MatchRequest(m);
  }
  report.Clear();
  handler.DumpClusterStatus(report);
}

void RunDebugRemoveConnections(TDomainHandler& handler, TStringList& report) {
  report.Clear();
  handler.RemoveExpiredConnections(DebugRemoveConnectionsAge);
  handler.DumpClusterStatus(report);
}
