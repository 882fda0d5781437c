#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uRequestMatching.h"
#include "platform/RWLock.h"

namespace {

// Client threads match at once while the configuration is changed under its
// writer lock: every request is counted once, and what a match copies out
// is read under the reader lock only.
TEST(RequestMatchingThreads, ConcurrentMatchesAgainstAChangingConfiguration) {
  TDomainHandler h;
  auto cluster = h.ServerClusters->Add();
  cluster->Name = "c";
  cluster->SessionMethod = 0;
  for (int i = 0; i < 3; ++i) {
    auto s = TServer::Create(*cluster);
    s->ServerAddress = "10.0.0." + std::to_string(i + 1);
    s->ServerPort = 80;
    s->Capacity = 1;
    s->Enabled = true;
  }
  for (int i = 0; i < 20; ++i) {
    TDomain* d = h.AddDomain();
    d->DomainName = "www.d" + std::to_string(i) + ".com";
    d->DefaultTargetAddress = "t";
    TVirtualPath* p = d->AddVirtualPath();
    p->SetPath("/app");
    if (i == 17) d->ServerCluster = cluster.get();
  }

  constexpr int kThreads = 6;
  constexpr int kRequests = 1500;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    int n = 0;
    while (!stop.load()) {
      WriteLockGuard write(h.Synchronizer);
      h.GateName = (++n % 2) ? "Gate A" : "Gate B";
      h.CustomCallerIPHeaders = (n % 2) ? "X-A" : "X-B;X-C";
    }
  });
  std::vector<std::thread> clients;
  std::atomic<int> filled{0};
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      TRequestMatchData m;
      for (int i = 0; i < kRequests; ++i) {
        m.Setup("www.d17.com", "127.0.0.1", 0, "192.168." + std::to_string(t) + "." + std::to_string(i % 250), "/app/x",
                80);
        h.MatchRequest(m);
        if (m.Status == rmsFilled && m.Server && (m.GateName == "Gate A" || m.GateName == "Gate B" ||
                                                  m.GateName == "Vantrell Switch")) {
          filled.fetch_add(1);
        }
      }
    });
  }
  for (auto& c : clients) c.join();
  stop = true;
  writer.join();

  const int total = kThreads * kRequests;
  EXPECT_EQ(filled.load(), total);
  EXPECT_EQ(h.RequestCount.load(), total);
  EXPECT_EQ(h.MatchStatusCounts[rmsFilled].load(), total);
  int64_t hits = 0;
  for (const auto& s : cluster->Servers) hits += s->TotalRequests.load();
  EXPECT_EQ(hits, total) << "one server choice per request";
}

}  // namespace
