// Requests through the running engine host: listener, pool, client threads,
// health checks and logs together, against back ends on the loopback.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Common/uClusterChecks.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/HTTPRedirect/HostFixture.h"

namespace {

using hosttest::FreePort;
using hosttest::HostTest;
using hosttest::Settings;
using namespace std::chrono_literals;

// A back end on a fixed loopback port that can die and come back: each
// request gets "HTTP/1.1 200 OK" with Body and the connection is closed.
class RestartableBackend {
 public:
  RestartableBackend(int port, std::string body) : port_(port), body_(std::move(body)) { Start(); }
  ~RestartableBackend() { Kill(); }

  void Start() {
    listener_ = SocketHandle(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = tcptest::Loopback(port_);
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(listener_.Get(), 64) != 0)
      throw std::runtime_error("back end cannot listen");
    stopping_ = false;
    acceptor_ = std::thread([this] { Serve(); });
  }
  // Closes the listener and every connection at once.
  void Kill() {
    if (!acceptor_.joinable()) return;
    stopping_ = true;
    acceptor_.join();
    listener_.Reset();
  }

 private:
  void Serve() {
    while (!stopping_) {
      pollfd p{listener_.Get(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      SocketHandle conn(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (conn.Get() < 0) continue;
      std::string head;
      char buf[4096];
      while (!stopping_ && head.find("\r\n\r\n") == std::string::npos) {
        pollfd c{conn.Get(), POLLIN, 0};
        if (::poll(&c, 1, 20) == 0) continue;
        const ssize_t n = ::recv(conn.Get(), buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      if (head.find("\r\n\r\n") == std::string::npos) continue;  // a health check's bare connect
      const std::string reply = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                std::to_string(body_.size()) + "\r\n\r\n" + body_;
      ::send(conn.Get(), reply.data(), reply.size(), MSG_NOSIGNAL);
    }
  }

  const int port_;
  const std::string body_;
  SocketHandle listener_;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
};

class EngineRoad : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    InstallServerChecks();
    Host().Limits.ReadStepMs = 50;
    Host().Limits.ConnectTimeoutMs = 1000;
  }
  // One request on a fresh connection; the body, or "" when none came.
  std::string Fetch(int port, const std::string& path) {
    roadtest::Client c(port);
    c.Send("GET " + path + " HTTP/1.1\r\nHost: shop.example\r\nConnection: close\r\n\r\n");
    roadtest::Response r = c.ReadResponse();
    return r.Status() == 200 ? r.body : std::string();
  }
};

TEST_F(EngineRoad, RequestThroughTheRunningEngine) {
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  const int port = FreePort();
  Settings s;
  s.AddDomain("shop.example", port, backend.Port());
  s.Save();
  ASSERT_EQ(Load(), "Settings reloaded");
  ASSERT_EQ(Start(), "Server started");

  roadtest::Client c(port);
  c.Send("GET /cart?x=1 HTTP/1.1\r\nHost: shop.example\r\n\r\n");
  roadtest::Response r = c.ReadResponse();
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.body, "hello");
  EXPECT_EQ(backend.LastHead().rfind("GET /cart?x=1 HTTP/1.1\r\n", 0), 0u);
  // Kept alive: a second request on the same connection.
  c.Send("GET /two HTTP/1.1\r\nHost: shop.example\r\n\r\n");
  EXPECT_EQ(c.ReadResponse().body, "hello");

  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string w3c =
      folder_.Path() + "Log/W3C/shop.example/" + Format("ex%.2d%.2d%.2d.log", year % 100, month, day);
  ASSERT_TRUE(tcptest::WaitUntil([&] { return ReadWholeFile(w3c).find(" /two ") != std::string::npos; }));
  const std::string lines = ReadWholeFile(w3c);
  EXPECT_EQ(lines.rfind("#Software: Vantrell Switch 2.2.51\r\n", 0), 0u);
  EXPECT_NE(lines.find(" /cart x=1 200 "), std::string::npos) << lines;

  EXPECT_EQ(Stop(), "SERVER STOPPED");
  EXPECT_TRUE(c.SeesClose());
  EXPECT_EQ(ActiveThreads.load(), 0);
  EXPECT_EQ(Host().HTTPServer->ActiveThreadCount(), 0);
}

TEST_F(EngineRoad, DeadBackendLeavesRotationAndComesBack) {
  const int portA = FreePort();
  auto a = std::make_unique<RestartableBackend>(portA, "A");
  roadtest::ScriptedBackend b(roadtest::Answer(roadtest::Ok("B", "Connection: close\r\n")));
  const int port = FreePort();
  Settings s;
  auto cluster = s.AddCluster("farm");
  cluster->FailoverCheckInterval = 1;
  cluster->MaxFailBeforeOffline = 1;
  s.AddServer(*cluster, portA)->AutoActivate = true;
  s.AddServer(*cluster, b.Port());
  s.AddDomain("shop.example", port, 1)->ServerCluster = cluster.get();
  s.Save();
  ASSERT_EQ(Load(), "Settings reloaded");
  ASSERT_EQ(Start(), "Server started");
  ASSERT_EQ(Fetch(port, "/"), "A") << "the first server of equal load wins, and the client stays there";
  ASSERT_EQ(Fetch(port, "/"), "A");

  auto serverA = [&] {
    ReadLockGuard g(Config().Synchronizer);
    return Config().ServerClusters->GetCluster(0)->Servers.GetServer(0);
  };
  a->Kill();
  const auto killed = std::chrono::steady_clock::now();
  // The fail-over time the operator is shown is (1 + 1) x 1 s; allow a
  // check's time-out and the tick's granularity on top.
  std::string body;
  EXPECT_TRUE(PumpUntil(
      [&] {
        body = Fetch(port, "/");
        return body == "B";
      },
      8000ms));
  const auto moved = std::chrono::steady_clock::now() - killed;
  const std::string changed = Format("State of server S%d (127.0.0.1:%d) (cluster=farm) changed:", portA, portA);
  auto changes = [&] {
    const auto lines = EventLog();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(changed) != std::string::npos; });
  };
  EXPECT_FALSE(serverA()->Online);
  // The state flips before its line is written.
  EXPECT_TRUE(PumpUntil([&] { return changes() == 1; }, 2000ms));
  RecordProperty("failover_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(moved).count()));

  a->Start();
  EXPECT_TRUE(PumpUntil([&] { return serverA()->Online.load(); }, 8000ms));
  EXPECT_TRUE(PumpUntil([&] { return changes() == 2; }, 2000ms));
  EXPECT_EQ(Fetch(port, "/"), "B") << "the client keeps its new server";
}

}  // namespace
