// The request road under concurrency: many kept-alive clients at once, a
// console reading status texts meanwhile, and stops that must end relays and
// waits promptly.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace roadtest
