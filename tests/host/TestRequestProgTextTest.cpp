#include <gtest/gtest.h>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "host/fTestRequestProg.h"
#include "platform/DateTime.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

TDomain* AddDomain(TDomainHandler& h, const char* name, std::initializer_list<const char*> aliases) {
  TDomain* d = h.AddDomain();
  d->DomainName = name;
  d->DefaultTargetAddress = "10.0.0.1";
  for (const char* alias : aliases) d->VirtualDomains.Add(alias);
  return d;
}

TEST(TestRequestProg, HostListHoldsEachDomainThenItsAliases) {
  TDomainHandler h;
  EXPECT_TRUE(TestRequestHosts(h).Empty());
  AddDomain(h, "www.a.com", {"a.com", "*.shop.com"});
  AddDomain(h, "b.com", {});
  AddDomain(h, "c.com", {"cc.com"});
  EXPECT_EQ(TestRequestHosts(h).Text(), "www.a.com\r\na.com\r\n*.shop.com\r\nb.com\r\nc.com\r\ncc.com\r\n");
}

TEST(TestRequestProg, TestAppendsTheTraceAndClearsOnlyWhenAsked) {
  TDomainHandler h;
  AddDomain(h, "www.a.com", {});
  TTestRequestInput in;
  in.Host = "www.a.com";
  in.Path = "/x";
  TStringList report;
  RunTestRequest(h, in, true, report);
  const TStringList one = report;
  ASSERT_GE(one.Count(), 3);
  EXPECT_EQ(one[0], "Incoming request : www.a.com @ 192.168.0.1:80/x, Caller=192.168.0.1");
  EXPECT_EQ(one[2], "  Outgoing request : www.a.com:80/x (at 10.0.0.1)");
  EXPECT_EQ(one[3], "Domain=www.a.com");

  RunTestRequest(h, in, false, report);
  EXPECT_EQ(report.Count(), 2 * one.Count());
  RunTestRequest(h, in, true, report);
  EXPECT_EQ(report, one);

  // A port that is not a number: the error names it, nothing is added, and
  // only the optional clearing happened.
  in.Port = "abc";
  for (bool clear : {false, true}) {
    SCOPED_TRACE(clear);
    TStringList before = one;
    try {
      RunTestRequest(h, in, clear, before);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
    }
    EXPECT_EQ(before.Count(), clear ? 0 : one.Count());
  }
}

// The debug pair on a cluster that keys on the client address: the load test
// adds real affinity entries, and those older than ten seconds go.
TEST(TestRequestProg, DebugPairAddsThenDropsAffinityEntries) {
  ScopedManualClock clock;
  TDomainHandler h;
  TDomain* d = AddDomain(h, "lb.com", {});
  auto cluster = h.ServerClusters->Add();
  cluster->Name = "farm";
  for (const char* name : {"s1", "s2"}) {
    auto s = TServer::Create(*cluster);
    s->ServerName = name;
    s->ServerAddress = "10.0.0.2";
    s->ServerPort = 8000;
    s->Capacity = 1;
    s->Enabled = true;
  }
  d->ServerCluster = cluster.get();

  TTestRequestInput in;
  in.Host = "lb.com";
  RandSeed(42);
  TStringList report;
  report.Add("old line");
  int32_t steps = 0;
  int32_t last = -1;
  RunDebugLBTest(h, in, report, [&](int32_t step) {
    ++steps;
    last = step;
  });
  EXPECT_EQ(steps, DebugLBTestRequests);
  EXPECT_EQ(last, DebugLBTestRequests - 1);
  const int32_t entries = h.GetConnectionCount();
  EXPECT_GE(entries, 1);
  EXPECT_LE(entries, DebugLBTestAddresses);
  // The report holds the dump alone: the old line and the "Performing" line
  // are gone.
  ASSERT_GE(report.Count(), 2);
  EXPECT_EQ(report[0], "");
  EXPECT_EQ(report[1], "ServerCluster[0]='farm'");
  EXPECT_EQ(report.IndexOf("old line"), -1);

  clock.clock().Advance(5000);
  RunDebugRemoveConnections(h, report);
  EXPECT_EQ(h.GetConnectionCount(), entries);
  EXPECT_EQ(report[1], "ServerCluster[0]='farm'");
  clock.clock().Advance(6000);
  report.Add("stale");
  RunDebugRemoveConnections(h, report);
  EXPECT_EQ(h.GetConnectionCount(), 0);
  EXPECT_EQ(report.IndexOf("stale"), -1);
}

TEST(TestRequestProg, DebugLBTestRefusesAPortThatIsNotANumber) {
  TDomainHandler h;
  TTestRequestInput in;
  in.Port = "8o";
  TStringList report;
  report.Add("kept");
  EXPECT_THROW(RunDebugLBTest(h, in, report, nullptr), EConvertError);
  EXPECT_EQ(report.Text(), "kept\r\n");
}

}  // namespace
