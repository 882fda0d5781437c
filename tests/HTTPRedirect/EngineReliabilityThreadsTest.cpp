// The running engine under strain over the loopback: starts and stops while
// clients connect, back ends that die, slow clients, many connections at
// once and settings reloads while requests flow. Each test ends with every
// connection closed and no client thread left.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Common/uClientThread.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/HTTPRedirect/HostFixture.h"

namespace {

using hosttest::FreePort;
using hosttest::HostTest;
using hosttest::Settings;
using namespace std::chrono_literals;

class EngineHostThreads : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Host().Limits.ReadStepMs = 50;
    Host().Limits.SlowHeadMs = 500;
    Host().Limits.HeadLimitMs = 2000;
    Host().Limits.IdleLimitMs = 2000;
    Host().Limits.ConnectTimeoutMs = 1000;
  }
  void TearDown() override {
    StopIfRunning();
    // Every connection closed, no client thread left behind.
    EXPECT_EQ(Host().HTTPServer->ActiveThreadCount(), 0);
    EXPECT_EQ(ActiveThreads.load(), 0);
    EXPECT_EQ(Host().HTTPThreadPool->PooledCount(), 0);
    EXPECT_TRUE(tcptest::WaitUntil([] { return TClientThreadCount.load() == 0; }));
    HostTest::TearDown();
  }
  void Serve(int backendPort) {
    port_ = FreePort();
    Settings s;
    s.AddDomain("shop.example", port_, backendPort);
    s.Save();
    ASSERT_EQ(Load(), "Settings reloaded");
    ASSERT_EQ(Start(), "Server started");
  }
  static std::string Get(const std::string& path = "/") {
    return "GET " + path + " HTTP/1.1\r\nHost: shop.example\r\n\r\n";
  }
  int port_ = 0;
};

TEST_F(EngineHostThreads, StartAndStopWhileClientsConnect) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Serve(backend.Port());
  std::atomic<bool> done{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) {
    clients.emplace_back([&] {
      while (!done) {
        roadtest::Client c(port_);
        c.Send(Get());
        if (c.ReadResponse().body == "hello") ++answered;
      }
    });
  }
  for (int round = 0; round < 5; ++round) {
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Stop(), "SERVER STOPPED");
    EXPECT_EQ(Host().HTTPServer->ActiveThreadCount(), 0);
    EXPECT_EQ(Start(), "Server started");
  }
  std::this_thread::sleep_for(100ms);
  done = true;
  for (auto& t : clients) t.join();
  EXPECT_GT(answered.load(), 0);
}

TEST_F(EngineHostThreads, BackendKilledMidResponse) {
  roadtest::ScriptedBackend backend([](roadtest::BackendConn& conn, roadtest::ScriptedBackend& b) {
    if (b.ReadRequest(conn).empty()) return;
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n0123456789");
    conn.Close();
  });
  Serve(backend.Port());
  for (int i = 0; i < 3; ++i) {
    roadtest::Client c(port_);
    c.Send(Get());
    const roadtest::Response r = c.ReadResponse();
    EXPECT_EQ(r.Status(), 200);
    EXPECT_FALSE(r.complete) << "the client sees the response end short";
    EXPECT_TRUE(c.SeesClose());
  }
  EXPECT_TRUE(tcptest::WaitUntil([] { return ActiveThreads.load() == 0; }));
}

TEST_F(EngineHostThreads, ClientSendingOneBytePerSecond) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Serve(backend.Port());
  roadtest::Client slow(port_);
  const std::string head = Get();
  std::atomic<bool> closed{false};
  std::thread trickle([&] {
    for (size_t i = 0; i < head.size() && !closed; ++i) {
      slow.Send(head.substr(i, 1));
      std::this_thread::sleep_for(1s);
      if (::send(slow.Peer().Fd(), "", 0, MSG_NOSIGNAL) < 0) break;
    }
  });
  // Others are served meanwhile.
  std::this_thread::sleep_for(300ms);
  for (int i = 0; i < 3; ++i) {
    roadtest::Client c(port_);
    c.Send(Get());
    EXPECT_EQ(c.ReadResponse().body, "hello");
  }
  // The head limit, counted from the head's first byte, ends the slow one.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(slow.ReadUntilClose().find("200 OK"), std::string::npos);
  closed = true;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  trickle.join();
}

TEST_F(EngineHostThreads, TwoThousandConnectionsAtOnce) {
  constexpr int kConnections = 2000;
  // Every switch thread opens its own back-end connection at the same moment.
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")), kConnections);
  Host().Limits.ConnectTimeoutMs = 20000;
  Host().Limits.HeadLimitMs = 30000;
  Host().Limits.SlowHeadMs = 30000;  // 2000 live connections are far above the pool size
  Host().Limits.IdleLimitMs = 30000;
  Serve(backend.Port());
  std::vector<std::unique_ptr<roadtest::Client>> clients;
  for (int i = 0; i < kConnections; ++i) {
    clients.push_back(std::make_unique<roadtest::Client>(port_));
    clients.back()->Send(Get());
  }
  int answered = 0;
  for (auto& c : clients) answered += c->ReadResponse().body == "hello" ? 1 : 0;
  EXPECT_EQ(answered, kConnections);
  clients.clear();
  EXPECT_TRUE(tcptest::WaitUntil([] { return ActiveThreads.load() == 0; }, 20000ms));
}

// At the ceiling a connection waits in the listen queue until a live one
// ends; the episode is one event-log line.
TEST_F(EngineHostThreads, ConnectionCeilingKeepsConnectionsQueuedWithOneLogLine) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Host().HTTPThreadPool->SetMaxActive(2);
  Host().Limits.HeadLimitMs = 30000;  // the silent ones stay until they close
  Serve(backend.Port());
  std::vector<std::unique_ptr<tcptest::RawPeer>> silent;
  for (int i = 0; i < 2; ++i) silent.push_back(std::make_unique<tcptest::RawPeer>(tcptest::RawConnect(port_)));
  ASSERT_TRUE(tcptest::WaitUntil([&] { return Host().HTTPServer->ActiveThreadCount() == 2; }));
  roadtest::Client queued(port_);
  queued.Send(Get());
  ASSERT_TRUE(tcptest::WaitUntil([&] { return Logged("Connection ceiling of 2 live connections reached"); }));
  EXPECT_EQ(Host().HTTPServer->ActiveThreadCount(), 2);
  silent.clear();
  EXPECT_EQ(queued.ReadResponse().body, "hello");
  int lines = 0;
  for (const std::string& line : EventLog()) lines += line.find("Connection ceiling") != std::string::npos ? 1 : 0;
  EXPECT_EQ(lines, 1);
}

TEST_F(EngineHostThreads, SettingsReloadWhileRequestsFlow) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Serve(backend.Port());
  std::atomic<bool> done{false};
  std::atomic<int> answered{0}, failed{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i) {
    clients.emplace_back([&] {
      roadtest::Client c(port_);
      while (!done) {
        c.Send(Get());
        const roadtest::Response r = c.ReadResponse();
        if (r.body == "hello") {
          ++answered;
        } else {
          ++failed;
          return;
        }
      }
    });
  }
  for (int i = 0; i < 100; ++i) {
    Settings s;
    TDomain* d = s.AddDomain("shop.example", port_, backend.Port());
    d->Description = "round " + IntToStr(i);
    d->ResponseHeadersToAdd.Add("X-Round: " + IntToStr(i));
    s.Save();
    ASSERT_EQ(Load(), "Settings reloaded");
  }
  done = true;
  for (auto& t : clients) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_GT(answered.load(), 0);
  EXPECT_EQ(State(), 1);
}

TEST_F(EngineHostThreads, ReloadOnAnotherThreadWhileTheTimersRun) {
  // The web administration reloads on its worker threads while the main
  // loop's timers walk the clusters and read the log folder.
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Serve(backend.Port());
  std::atomic<bool> done{false};
  std::thread reloader([&] {
    for (int i = 0; i < 100; ++i) {
      Settings s;
      auto cluster = s.AddCluster("farm");
      s.AddServer(*cluster, backend.Port());
      s.AddServer(*cluster, backend.Port() + (i % 2));
      s.handler.LogDirectory = i % 2 ? folder_.Path() + "logs" : "";
      s.AddDomain("shop.example", port_, backend.Port())->ServerCluster = cluster.get();
      s.Save();
      std::string msg;
      Host().LoadSettings(msg);
      if (msg != "Settings reloaded") ADD_FAILURE() << msg;
    }
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] {
    Host().Timer_UpdateStatsTimer();
    Host().Timer_TickTimer();
    return done.load();
  }, 60000ms));
  reloader.join();
  EXPECT_EQ(State(), 1);
}

TEST_F(EngineHostThreads, CorruptSettingsReloadedWhileRequestsFlow) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  Serve(backend.Port());
  roadtest::Client c(port_);
  WriteWholeFile(SettingsFileName, std::string(64, '\x07'));
  const std::string msg = Load();
  EXPECT_EQ(msg.rfind("LoadSettings failed : ", 0), 0u) << msg;
  EXPECT_TRUE(Logged(msg));
  c.Send(Get());
  EXPECT_EQ(c.ReadResponse().body, "hello") << "the running configuration stays";
}

}  // namespace
