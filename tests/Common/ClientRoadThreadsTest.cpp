// The request road under concurrency: many kept-alive clients at once, a
// console reading status texts meanwhile, and stops that must end relays and
// waits promptly.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "Common/uLoadBalancingClasses.h"
#include "Common/uStreamIO.h"
#include "tests/Common/ClientRoadFixture.h"

namespace roadtest {
namespace {

class ClientRoadThreads : public RoadFixture {};

TEST_F(ClientRoadThreads, ManyKeptAliveClientsWhileTheConsoleReads) {
  ScriptedBackend backend(Answer(Ok("pong")));
  AddDomain("www.a.com", backend.Port());
  std::atomic<bool> done{false};
  std::atomic<int> texts{0};
  std::thread console([&] {
    while (!done) {
      server_.ForEachActiveThread([&](PeerThread& t) {
        if (static_cast<TClientThread&>(t).GetStatusText().rfind("Id=", 0) == 0) ++texts;
      });
      std::this_thread::sleep_for(1ms);
    }
  });
  constexpr int kClients = 6;
  constexpr int kRequests = 15;
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      Client client(Port());
      for (int i = 0; i < kRequests; ++i) {
        client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
        if (client.ReadResponse().body == "pong") ++good;
      }
    });
  }
  for (auto& t : clients) t.join();
  done = true;
  console.join();
  EXPECT_EQ(good, kClients * kRequests);
  EXPECT_EQ(stats_.TotalRequests.load(), kClients * kRequests);
  EXPECT_EQ(backend.Accepts(), kClients);
  EXPECT_GT(texts, 0);
}

TEST_F(ClientRoadThreads, DeactivationEndsARunningRelay) {
  std::atomic<bool> stopTrickle{false};
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
    while (!stopTrickle && conn.Send(std::string(1000, 't'))) std::this_thread::sleep_for(5ms);
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  client.ReadResponse(true);
  ASSERT_FALSE(client.ReadUntil("tttt").empty());

  const auto start = std::chrono::steady_clock::now();
  server_.SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  const auto drained = std::chrono::steady_clock::now();
  client.ReadUntilClose();  // what was on its way, then the close
  EXPECT_LT(std::chrono::steady_clock::now() - drained, 3s);
  EXPECT_EQ(ActiveThreads.load(), 0);
  stopTrickle = true;
}

TEST_F(ClientRoadThreads, EngineStopEndsKeepAliveWaitsWithinAStep) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  ASSERT_EQ(client.ReadResponse().body, "ok");
  ASSERT_TRUE(WaitUntil([] { return KeepAliveWaiters.load() == 1; }));
  stats_.ServerState = 2;
  EXPECT_TRUE(client.SeesClose());
  EXPECT_TRUE(Logged("Server stopping, connection terminated"));
}

TEST_F(ClientRoadThreads, SettingsReloadDuringATransferAndBetweenRequests) {
  constexpr size_t kPiece = 20000;
  constexpr int kPieces = 60;
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    while (true) {
      const std::string head = b.ReadRequest(conn);
      if (head.empty()) return;
      if (head.find("/p/big") == std::string::npos) {
        conn.Send(Ok("small"));
        continue;
      }
      conn.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kPiece * kPieces) + "\r\n\r\n");
      for (int i = 0; i < kPieces; ++i) {
        if (!conn.Send(std::string(kPiece, static_cast<char>('a' + i % 26)))) return;
        std::this_thread::sleep_for(2ms);
      }
    }
  });
  std::shared_ptr<TServer> first;
  {
    WriteLockGuard g(Handler().Synchronizer);
    auto cluster = Handler().ServerClusters->Add();
    cluster->Name = "Farm";
    first = TServer::Create(*cluster);
    first->ServerName = "S1";
    first->ServerAddress = "127.0.0.1";
    first->ServerPort = backend.Port();
    first->Capacity = 1;
    first->Enabled = true;
    first->Online = true;
  }
  TDomain* domain = AddDomain("www.a.com", 1);
  {
    WriteLockGuard g(Handler().Synchronizer);
    domain->ServerCluster = Handler().ServerClusters->GetCluster(0).get();
    TVirtualPath* path = domain->AddVirtualPath();
    path->SetPath("/p/");
    path->SetCluster(domain->ServerCluster);
  }
  StreamWriter saved;
  Handler().SaveToStream(saved);
  const std::vector<uint8_t> settings = saved.Bytes();

  Client client(Port());
  client.Send("GET /p/big HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  ASSERT_TRUE(WaitUntil([&] { return backend.Heads().size() == 1; }));
  // Every reload frees the domain, path and server records the running
  // request matched, while it counts its bytes and relays its body.
  std::atomic<bool> reloading{true};
  std::atomic<int> reloads{0};
  std::thread reloader([&] {
    while (reloading) {
      Handler().LoadFromStream(settings);
      ++reloads;
      std::this_thread::sleep_for(1ms);
    }
  });
  Response big = client.ReadResponse();
  std::string expected;
  for (int i = 0; i < kPieces; ++i) expected += std::string(kPiece, static_cast<char>('a' + i % 26));
  EXPECT_TRUE(big.body == expected) << big.body.size() << " bytes";
  for (int i = 0; i < 20; ++i) {
    client.Send("GET /p/small HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
    EXPECT_EQ(client.ReadResponse().body, "small");
  }
  reloading = false;
  reloader.join();
  EXPECT_GT(reloads, 10);
  EXPECT_EQ(backend.Accepts(), 1);
  EXPECT_EQ(first->LiveConnections.load(), 1);  // counted where it was opened
  client.Peer().Close();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(first->LiveConnections.load(), 0);
  const TServerList& servers = Handler().ServerClusters->GetCluster(0)->Servers;
  for (int i = 0; i < servers.Count(); ++i) EXPECT_EQ(servers.GetServer(i)->LiveConnections.load(), 0);
  EXPECT_EQ(stats_.TotalRequests.load(), 21);
  EXPECT_EQ(W3C().size(), 21u);
}

// Thousands of clients that connect and send nothing: above the ceiling the
// rest wait in the kernel's backlog (no thread is made for them); once the
// silent ones leave, the backlog drains and a normal request behind them is
// still served. At no time do more client threads run than the ceiling.
TEST_F(ClientRoadThreads, SilentConnectionsBeyondTheCeilingWaitInTheBacklog) {
  constexpr int kCeiling = 200;
  constexpr rlim_t kSilent = 5000;
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  const rlim_t needed = kSilent + 1000;
  if (files.rlim_cur < needed && files.rlim_max >= needed) {
    files.rlim_cur = needed;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur < needed) GTEST_SKIP() << "needs " << needed << " descriptors";
  limits_.HeadLimitMs = 60000;  // the silent ones stay until they leave
  limits_.SlowHeadMs = 60000;
  std::atomic<int> ceilingEvents{0};
  std::atomic<int> reportedCeiling{0};
  server_.SetActive(false);
  pool_.SetMaxActive(kCeiling);
  server_.SetListenQueue(4096);
  server_.SetOnConnectionCeiling([&](int ceiling) {
    reportedCeiling = ceiling;
    ++ceilingEvents;
  });
  server_.SetActive(true);
  port_ = server_.ListeningPort(0);
  ScriptedBackend backend(Answer(Ok("served")));
  AddDomain("www.a.com", backend.Port());

  std::vector<SocketHandle> silent;
  for (rlim_t i = 0; i < kSilent; ++i) {
    SocketHandle s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in sa = tcptest::Loopback(port_);
    ::connect(s.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    silent.push_back(std::move(s));
  }
  ASSERT_TRUE(WaitUntil([&] { return ceilingEvents.load() == 1; }, 30000ms));
  EXPECT_EQ(reportedCeiling.load(), kCeiling);
  EXPECT_EQ(server_.ActiveThreadCount(), kCeiling);
  EXPECT_EQ(pool_.ActiveCount(), kCeiling);
  // The watch sees the full ceiling: every held connection's thread runs.
  EXPECT_TRUE(WaitUntil([&] { return MostActive.load() == kCeiling; }, 30000ms));
  silent.clear();
  Client client(Port());
  timeval tv{60, 0};  // behind thousands in the backlog
  ::setsockopt(client.Peer().Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "served");
  EXPECT_LE(server_.ActiveThreadCount(), kCeiling);
  client.Peer().Close();
  EXPECT_TRUE(Idle());
  EXPECT_GT(MostActive.load(), 0);
  EXPECT_LE(MostActive.load(), kCeiling);
}

}  // namespace
}  // namespace roadtest
