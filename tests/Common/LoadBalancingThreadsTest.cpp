#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Common/uLoadBalancingClasses.h"
#include "platform/RWLock.h"

namespace {

// The live configuration as the engine holds it: readers choose and tick
// under the reader lock, a reload swaps the list under the writer lock.
struct LiveConfiguration {
  TMultiReadExclusiveWriteSynchronizer lock;
  std::unique_ptr<TServerClusterList> clusters = std::make_unique<TServerClusterList>();
};

std::unique_ptr<TServerClusterList> NextConfiguration(const TServerClusterList& current, int round) {
  StreamWriter w;
  current.SaveToStream(w);
  StreamReader r(w.Bytes());
  auto next = std::make_unique<TServerClusterList>();
  next->LoadFromStream(r);
  TServerCluster& cluster = *next->GetCluster(0);
  if (round % 2 == 0 && cluster.Servers.Count() > 1) {
    cluster.RemoveServer(cluster.Servers.GetServer(0).get());
  } else {
    auto s = TServer::Create(cluster);
    s->Enabled = true;
    s->Capacity = static_cast<float>(1 + round % 3);
  }
  return next;
}

}  // namespace

TEST(LoadBalancingThreads, ChoosingWhileReloadsRetireServers) {
  LiveConfiguration live;
  {
    auto c = live.clusters->Add();
    c->ConnectionTimeout = 1;
    for (int i = 0; i < 3; ++i) {
      auto s = TServer::Create(*c);
      s->Enabled = true;
      s->Capacity = 1;
      s->ServerAddress = "127.0.0.1";
    }
  }
  const int32_t entriesBefore = LBConnectionCount;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> choices{0};
  std::atomic<int> clientsDone{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&, t] {
      std::shared_ptr<TServer> open;  // the record the back-end connection was opened for
      for (int i = 0; i < 4000 && !stop; ++i) {
        std::shared_ptr<TServer> server;
        uint8_t status = 0;
        int32_t port = 0;
        std::string host;
        {
          ReadLockGuard guard(live.lock);
          live.clusters->GetCluster(0)->GetServer(t * 100 + i % 50, server, status, port, host);
        }
        if (!server) continue;
        ++choices;
        if (server != open) {
          if (open) open->OnBackendDisconnected();
          open = server;
          open->OnBackendConnected();
        }
        open->Stats->AddBytes(100);
        open->Stats->AddResponseTime(1);
      }
      if (open) open->OnBackendDisconnected();
      ++clientsDone;
    });
  }
  std::thread ticker([&] {
    while (!stop) {
      {
        ReadLockGuard guard(live.lock);
        live.clusters->Tick();
        live.clusters->RemoveExpiredConnections(0.5f);
        for (const auto& c : *live.clusters)
          for (const auto& s : c->Servers) s->Stats->UpdateRates();
      }
      std::this_thread::yield();
    }
  });
  // Reloads go on for as long as any client chooses.
  for (int round = 0; round < 60 || clientsDone < 8; ++round) {
    std::unique_ptr<TServerClusterList> next;
    {
      ReadLockGuard guard(live.lock);
      next = NextConfiguration(*live.clusters, round);
    }
    {
      WriteLockGuard guard(live.lock);
      next->TakeStateFrom(*live.clusters);
      std::swap(next, live.clusters);
    }
    next.reset();  // retires the old clusters and servers; holders keep them alive
    std::this_thread::yield();
  }
  for (auto& c : clients) c.join();
  stop = true;
  ticker.join();

  EXPECT_GT(choices.load(), 0);
  const TServerCluster& cluster = *live.clusters->GetCluster(0);
  for (const auto& s : cluster.Servers) {
    EXPECT_EQ(s->LiveConnections, 0);
    EXPECT_FALSE(s->Retired);
  }
  EXPECT_EQ(LBConnectionCount - entriesBefore, live.clusters->GetConnectionCount());
  int32_t sessions = 0;
  for (const auto& s : cluster.Servers) sessions += s->ActiveSessions;
  int32_t withServer = 0;
  for (const TLoadBalancedConnection* e : cluster.Connections.GetList()) withServer += e->Server() ? 1 : 0;
  EXPECT_EQ(sessions, withServer);
}
