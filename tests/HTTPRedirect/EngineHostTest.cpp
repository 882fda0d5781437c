// The engine host's operator operations: start and stop with their event-log
// lines and result texts, the binding checks, settings reloads and the stop
// hand-over between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Common/uProgramMode.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "platform/MessageBox.h"
#include "tests/HTTPRedirect/HostFixture.h"

namespace {

using hosttest::FreePort;
using hosttest::HostTest;
using hosttest::Settings;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

class EngineHost : public HostTest {
 protected:
  // One enabled domain listening on Port, written and loaded.
  void LoadOneDomain(int port) {
    Settings s;
    s.AddDomain("shop.example", port, 1);
    s.Save();
    ASSERT_EQ(Load(), "Settings reloaded");
  }
};

TEST_F(EngineHost, StartAndStopWriteTheirLinesAndResults) {
  SetInstallTypeName("Vantrell Program");
  const int port = FreePort();
  LoadOneDomain(port);
  size_t mark = Mark();
  EXPECT_EQ(Start(), "Server started");
  EXPECT_EQ(State(), 1);
  EXPECT_TRUE(Host().HTTPServer->Active());
  EXPECT_EQ(WithoutStats(Since(mark)),
            (Lines{"Server starting...", "  Version = 2.2.51", "  Install type = Vantrell Program",
                   Format("Preparing to listen on all local IPs:%d", port), "Starting HTTP Listener...",
                   Format("Checking for listening server on 127.0.0.1:%d", port), "Starting HTTP Listener...",
                   "HTTP Listener started", "Starting HTTPS Listener...", "Verifying Load Balancing Servers...",
                   "Load Balancing Servers verified", "Server started"}));
  EXPECT_NE(tcptest::RawConnect(port).Get(), -1) << "the listener takes connections";

  mark = Mark();
  EXPECT_EQ(Stop(), "SERVER STOPPED");
  EXPECT_EQ(State(), 3);
  EXPECT_FALSE(Host().HTTPServer->Active());
  EXPECT_EQ(WithoutStats(Since(mark)),
            (Lines{"Stopping Server!", "Server stopping...", "Disabling server...", "Disabling HTTP server...",
                   "Disabled HTTP server", "Terminating pooled threads...", "SERVER STOPPED", ""}));
  EXPECT_EQ(tcptest::RawConnect(port).Get(), -1) << "nothing listens after the stop";

  // The listener keeps its bindings; the next start rebuilds them.
  EXPECT_EQ(Start(), "Server started");
  EXPECT_EQ(Stop(), "SERVER STOPPED");
}

TEST_F(EngineHost, StartWhileRunningAndStopWhileStoppedChangeNothing) {
  LoadOneDomain(FreePort());
  ASSERT_EQ(Start(), "Server started");
  size_t mark = Mark();
  EXPECT_EQ(Start(), "Server not stopped");
  EXPECT_EQ(State(), 1);
  EXPECT_EQ(WithoutStats(Since(mark)), Lines{"Server not stopped"});
  ASSERT_EQ(Stop(), "SERVER STOPPED");

  mark = Mark();
  EXPECT_EQ(Stop(), "Server not running!");
  EXPECT_EQ(State(), 3);
  EXPECT_EQ(WithoutStats(Since(mark)), (Lines{"Stopping Server!", "Server not running!"}));
}

TEST_F(EngineHost, PortTakenByAnotherProgramFailsTheStart) {
  SocketHandle other = tcptest::RawListener();
  const int port = tcptest::PortOf(other.Get());
  LoadOneDomain(port);
  EXPECT_EQ(Start(), "ERROR : Failed to start server. \r\nERROR : The error message was:Operation aborted");
  EXPECT_EQ(State(), 3);
  EXPECT_FALSE(Host().HTTPServer->Active());
  EXPECT_TRUE(Logged(Format("ERROR : Failed to start server, there is already a server listening to 127.0.0.1:%d", port)));
  // The failure text is two stamped lines.
  EXPECT_TRUE(Logged("ERROR : The error message was:Operation aborted"));
}

TEST_F(EngineHost, InteractiveStartShowsItsFailures) {
  auto boxer = std::make_unique<RecordingMessageBoxer>();
  RecordingMessageBoxer* boxes = boxer.get();
  InstallMessageBoxer(std::move(boxer));
  SocketHandle other = tcptest::RawListener();
  const int port = tcptest::PortOf(other.Get());
  LoadOneDomain(port);
  Host().Interactive = true;
  const std::string msg = Start();
  Host().Interactive = false;
  // The probe's own box, then the start's.
  ASSERT_EQ(boxes->shown.size(), 2u);
  EXPECT_EQ(boxes->shown[0].text,
            Format("ERROR : Failed to start server, there is already a server listening to 127.0.0.1:%d", port));
  EXPECT_EQ(boxes->shown[1].text, msg);
  for (const auto& box : boxes->shown) {
    EXPECT_EQ(box.caption, "Vantrell Switch");
    EXPECT_EQ(box.type, TMsgDlgType::mtError);
  }
  InstallMessageBoxer(nullptr);
}

TEST_F(EngineHost, RefusedBindings) {
  struct Case {
    TcpBinding binding;
    std::string msgStart;
    uint8_t stateAfter;  // 0 = unchanged
  };
  const int port = FreePort();
  const Case cases[] = {
      {{"1.2.3.256", 80}, "ERROR : Failed to start server, invalid IP number for binding 1.2.3.256:80.", 0},
      {{"", 70000}, "ERROR : Failed to start server, port must be in range 0 to 65535 for binding :70000!", 0},
      {{"", -1}, "ERROR : Failed to start server, port must be in range 0 to 65535 for binding :-1!", 0},
      // An address of no local interface: the probe fails, then the test bind.
      {{"192.0.2.1", port}, Format("ERROR : Failed to start server, could not bind to 192.0.2.1:%d, error was:\r\n", port),
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.msgStart);
    Host().Stats->ServerState = 0;
    std::string msg = "old";
    EXPECT_FALSE(Host().CheckBinding(msg, c.binding));
    EXPECT_EQ(msg.substr(0, c.msgStart.size()), c.msgStart);
    if (c.msgStart.back() != '\n') {
      EXPECT_EQ(msg, c.msgStart);
    }
    EXPECT_EQ(State(), c.stateAfter);
    EXPECT_TRUE(Logged(c.msgStart.substr(0, c.msgStart.find('\r'))));
  }
  // A free port on the loopback passes, as does port 0.
  std::string msg = "old";
  EXPECT_TRUE(Host().CheckBinding(msg, {"127.0.0.1", port}));
  EXPECT_EQ(msg, "");
  EXPECT_TRUE(Host().CheckBinding(msg, {"", 0}));
}

TEST_F(EngineHost, NoEnabledDomainStartsListeningNowhere) {
  Settings s;
  s.AddDomain("off.example", FreePort(), 1)->Enabled = false;
  s.Save();
  ASSERT_EQ(Load(), "Settings reloaded");
  const size_t mark = Mark();
  EXPECT_EQ(Start(), "Server started");
  const Lines lines = Since(mark);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Note: No active domains configured, Vantrell Switch isn't listening on any ports!"),
            lines.end());
  EXPECT_EQ(Host().HTTPServer->BindingCount(), 0);
}

TEST_F(EngineHost, LoadSettingsWithoutFileAndTheMaxThreadsTable) {
  // The client threads' overload rule reads the pool size before any
  // statistics tick has copied it.
  EXPECT_EQ(Host().Stats->PoolSize, 40);
  EXPECT_EQ(Load(), "No settings file found!");
  EXPECT_EQ(Host().Stats->PoolSize, 150);
  EXPECT_TRUE(Logged("MaxThreadsToPool changed from 40 to 150."));
  EXPECT_EQ(Host().HTTPThreadPool->PoolSize(), 150);

  struct Case {
    int32_t maxThreads;
    int expectedPool;
    std::string line;  // "" = none
  };
  const Case cases[] = {
      {0, 150, ""},
      {-5, 150, ""},
      {150, 150, ""},
      {60, 60, "MaxThreadsToPool changed from 150 to 60."},
      {0, 60, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxThreads);
    Settings s;
    s.handler.MaxThreads = c.maxThreads;
    s.Save();
    const size_t mark = Mark();
    EXPECT_EQ(Load(), "Settings reloaded");
    EXPECT_EQ(Host().HTTPThreadPool->PoolSize(), c.expectedPool);
    EXPECT_EQ(Host().Stats->PoolSize, c.expectedPool);
    const Lines lines = Since(mark);
    EXPECT_EQ(lines.empty() ? std::string() : lines.back(), c.line);
  }
}

TEST_F(EngineHost, FirstEnabledDomainWhileRunningRestartsTheListeners) {
  ASSERT_EQ(Load(), "No settings file found!");
  ASSERT_EQ(Start(), "Server started");
  EXPECT_EQ(Host().HTTPServer->BindingCount(), 0);

  const int port = FreePort();
  const size_t mark = Mark();
  LoadOneDomain(port);
  const Lines lines = WithoutStats(Since(mark));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "Stopping Server!");
  EXPECT_NE(std::find(lines.begin(), lines.end(), Format("Preparing to listen on all local IPs:%d", port)), lines.end());
  EXPECT_EQ(lines.back(), "Server started");
  EXPECT_EQ(State(), 1);
  EXPECT_NE(tcptest::RawConnect(port).Get(), -1);
}

TEST_F(EngineHost, LastDomainDisabledRestartsEvenAStoppedEngine) {
  const int port = FreePort();
  LoadOneDomain(port);
  ASSERT_EQ(Start(), "Server started");
  ASSERT_EQ(Stop(), "SERVER STOPPED");

  Settings s;
  s.AddDomain("shop.example", port, 1)->Enabled = false;
  s.Save();
  EXPECT_EQ(Load(), "Settings reloaded");
  EXPECT_EQ(State(), 1) << "a reload without an enabled domain restarts the engine";
  EXPECT_EQ(Host().HTTPServer->BindingCount(), 0);
  EXPECT_EQ(tcptest::RawConnect(port).Get(), -1);
}

TEST_F(EngineHost, CorruptSettingsKeepTheRunningConfiguration) {
  const int port = FreePort();
  LoadOneDomain(port);
  ASSERT_EQ(Start(), "Server started");
  WriteWholeFile(SettingsFileName, "not a settings file at all");
  const std::string msg = Load();
  EXPECT_EQ(msg.rfind("LoadSettings failed : ", 0), 0u) << msg;
  EXPECT_TRUE(Logged(msg));
  EXPECT_EQ(Config().CountEnabledDomains(), 1);
  EXPECT_EQ(State(), 1);
  EXPECT_NE(tcptest::RawConnect(port).Get(), -1);
}

TEST_F(EngineHost, StopFromAnotherThreadWaitsForTheMainLoop) {
  LoadOneDomain(FreePort());
  ASSERT_EQ(Start(), "Server started");
  std::atomic<bool> returned{false};
  std::string msg;
  uint8_t stateSeen = 0;
  std::thread stopper([&] {
    Host().StopServer(msg);
    stateSeen = State();
    returned = true;
  });
  // Without the main loop the stop timer cannot fire.
  std::this_thread::sleep_for(400ms);
  EXPECT_FALSE(returned);
  EXPECT_TRUE(PumpUntil([&] { return returned.load(); }));
  stopper.join();
  EXPECT_EQ(msg, "SERVER STOPPED");
  EXPECT_EQ(stateSeen, 3) << "the waiter sees the final state";
}

// A thread that ignores the stop for a while, so that deactivation times out.
class StubbornThread : public PeerThread {
 protected:
  void Run() override {
    std::this_thread::sleep_for(600ms);
    Stop();
  }
};

TEST_F(EngineHost, FailedStopStillReturnsWithItsResult) {
  LoadOneDomain(FreePort());
  Host().SetThreadClass([] { return std::make_unique<StubbornThread>(); });
  Host().HTTPServer->SetTerminateWaitTime(20);
  ASSERT_EQ(Start(), "Server started");
  const int port = Host().HTTPServer->ListeningPort(0);
  SocketHandle client = tcptest::RawConnect(port);
  ASSERT_TRUE(tcptest::WaitUntil([&] { return Host().HTTPServer->ActiveThreadCount() == 1; }));

  std::string msg;
  std::thread stopper([&] { Host().StopServer(msg); });
  EXPECT_TRUE(PumpUntil([&] { return !msg.empty(); }));
  stopper.join();
  EXPECT_EQ(msg, "HTTP Server Stop failed!");
  EXPECT_TRUE(Logged("Stop server failed : Terminate Thread Timeout"));
  EXPECT_EQ(State(), 3) << "the listener is inactive after the failed stop";
}

TEST_F(EngineHost, HooksPointAtTheHostUntilItGoes) {
  std::string msg;
  EngineHooks::RestartServer(nullptr, msg);
  EXPECT_EQ(msg, "") << "creation does not assign the restart hook";
  Host().RegisterHooks();
  EngineHooks::RestartServer(nullptr, msg);
  EXPECT_EQ(msg, "Server not running");
  EXPECT_EQ(EngineHooks::GetDomainHandler(), &Config());
  EXPECT_FALSE(EngineHooks::IsServerRunning());

  LoadOneDomain(FreePort());
  EngineHooks::StartServer(nullptr, msg);
  EXPECT_EQ(msg, "Server started");
  EXPECT_TRUE(EngineHooks::IsServerRunning());
  EngineHooks::RestartServer(nullptr, msg);
  EXPECT_EQ(msg, "Server started");
  EngineHooks::StopServer(nullptr, msg);
  EXPECT_EQ(msg, "SERVER STOPPED");

  Config().Log("login from 10.0.0.1");
  EXPECT_TRUE(Logged("Web Admin : login from 10.0.0.1"));

  host_.reset();
  msg = "untouched";
  EngineHooks::StartServer(nullptr, msg);
  EXPECT_EQ(msg, "untouched");
  EXPECT_EQ(EngineHooks::GetDomainHandler(), nullptr);
  EXPECT_EQ(dmHTTPBase.load(), nullptr);
}

TEST_F(EngineHost, ConnectionArrivingDuringTheStopIsNotRegistered) {
  LoadOneDomain(FreePort());
  ASSERT_EQ(Start(), "Server started");
  const int port = Host().HTTPServer->ListeningPort(0);
  const int32_t live = Host().Stats->LiveConnections;
  Host().Stats->ServerState = 2;
  tcptest::RawPeer client(tcptest::RawConnect(port));
  EXPECT_TRUE(client.SeesClose());
  EXPECT_EQ(Host().Stats->LiveConnections, live);
  Host().Stats->ServerState = 1;
}

}  // namespace
