// The program itself: build/vantrell started in a program folder of its own,
// serving, and stopped by a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "host/uGlobalName.h"
#include "platform/DateTime.h"
#include "platform/SysUtils.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/Common/TempFolder.h"
#include "tests/host/ProgramProcess.h"

namespace {

using namespace std::chrono_literals;
using programtest::EventLog;
using programtest::Program;

// The site's access log of today.
std::string W3CLog(const std::string& folder) {
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  return ReadWholeFile(folder + "Log/W3C/shop/" + Format("ex%.2d%.2d%.2d.log", year % 100, month, day));
}

TEST(ProgramRun, ServesAndStopsOnSignalSavingTheAffinityTable) {
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs on this machine";
  TempFolder folder;
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  SocketHandle probe = tcptest::RawListener();
  const int port = tcptest::PortOf(probe.Get());
  probe.Reset();
  programtest::WriteShopSettings(folder.Path(), port, backend.Port());

  {
    Program run(folder.Path(), {"prog"});
    const bool started = run.WaitForOutput("Server started\n");
    if (!started && run.RefusedAsSecond()) GTEST_SKIP() << "an instance started elsewhere";
    ASSERT_TRUE(started) << run.Output();
    // The first statistics tick, before any request: no affinity entry yet.
    EXPECT_TRUE(tcptest::WaitUntil([&] { return EventLog(folder.Path()).find("|STAT1: ") != std::string::npos; }));
    roadtest::Client c(port);
    c.Send("GET / HTTP/1.1\r\nHost: shop.example\r\n\r\n");
    EXPECT_EQ(c.ReadResponse().body, "hello");
    // The access-log line follows the response, and a thread that a stop
    // terminated writes none: the stop waits for the line.
    EXPECT_TRUE(tcptest::WaitUntil([&] { return W3CLog(folder.Path()).find(" GET ") != std::string::npos; }))
        << W3CLog(folder.Path());
    EXPECT_EQ(run.Signal(SIGTERM), 0) << run.Output();
    EXPECT_NE(run.Output().find("SERVER STOPPED\n"), std::string::npos);
  }
  const std::string log = EventLog(folder.Path());
  EXPECT_NE(log.find("|SERVER STOPPED\r\n"), std::string::npos);
  EXPECT_NE(log.find("|STAT1: ActiveThreads=0, PooledThreads=0, Trans=0, Compr=0, Conn=0, LBConn=0, "
                     "EventLogDropped=0, W3CLogDropped=0\r\n"),
            std::string::npos);
  EXPECT_TRUE(FileExists(folder.Path() + "data/lbconnections.bin"));
  EXPECT_NE(W3CLog(folder.Path()).find("#Fields: "), std::string::npos);

  // The next start restores the client's affinity entry.
  const size_t before = log.size();
  {
    Program run(folder.Path(), {"prog"});
    ASSERT_TRUE(run.WaitForOutput("Server started\n")) << run.Output();
    EXPECT_TRUE(tcptest::WaitUntil([&] { return EventLog(folder.Path()).find("LBConn=1, ", before) != std::string::npos; },
                                   10000ms));
    EXPECT_EQ(run.Signal(SIGINT), 0) << run.Output();
  }
}

}  // namespace

namespace {

// A port nothing listens on just now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

void WriteAdminPort(const std::string& folder, int port) {
  ForceDirectories(folder + "data");
  TDomainHandler h;
  h.SetDefaults();
  h.AdminPort = port;
  h.SaveToFile(folder + "data/settings.dat");
}

TEST(ProgramRun, ServesTheWebAdministrationOnItsPort) {
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs on this machine";
  TempFolder folder;
  const int port = FreePort();
  WriteAdminPort(folder.Path(), port);
  Program program(folder.Path(), {"prog"});
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(1);
  client.set_read_timeout(5);
  std::string body;
  const bool served = tcptest::WaitUntil(
      [&] {
        auto r = client.Get("/");
        if (r && r->status == 200) body = r->body;
        return !body.empty();
      },
      10000ms);
  if (program.RefusedAsSecond()) GTEST_SKIP() << "another test's program was running";
  ASSERT_TRUE(served) << program.Output();
  EXPECT_NE(body.find("<title>Vantrell - Web Admin [Login]</title>"), std::string::npos);
  EXPECT_EQ(program.Signal(SIGTERM), 0);
  EXPECT_NE(EventLog(folder.Path()).find("Starting Vantrell Switch Web Admin"), std::string::npos);
}

TEST(ProgramRun, ATakenAdministrationPortCostsALogLineNotTheProgram) {
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs on this machine";
  TempFolder folder;
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
  WriteAdminPort(folder.Path(), ntohs(a.sin_port));
  Program program(folder.Path(), {"prog"});
  const bool logged = tcptest::WaitUntil(
      [&] {
        return std::filesystem::exists(folder.Path() + "Log/VT") &&
               EventLog(folder.Path()).find("Web Admin could not bind") != std::string::npos;
      },
      10000ms);
  if (program.RefusedAsSecond()) GTEST_SKIP() << "another test's program was running";
  EXPECT_EQ(program.Signal(SIGTERM), 0) << program.Output();
  EXPECT_TRUE(logged || EventLog(folder.Path()).find("Web Admin could not bind") != std::string::npos);
  ::close(holder);
}

}  // namespace

namespace {

// One web administration session over HTTP: the page last answered, and
// clicks posted as the page's own script posts them.
class AdminSession {
 public:
  explicit AdminSession(int port) : client_("127.0.0.1", port) {
    client_.set_connection_timeout(2);
    client_.set_read_timeout(20);
  }
  bool Open() { return Answer(client_.Get("/")); }
  bool Click(const std::string& event, const std::string& fields = "") {
    return Answer(client_.Post("/",
                               "VT_SESSION=" + Hidden("VT_SESSION") + "&VT_TRACK=" + Hidden("VT_TRACK") + fields +
                                   "&VT_EVENT=" + event + ".OnClick",
                               "application/x-www-form-urlencoded"));
  }
  const std::string& Page() const { return page_; }

 private:
  bool Answer(const httplib::Result& r) {
    if (!r || r->status != 200) return false;
    page_ = r->body;
    return true;
  }
  std::string Hidden(const std::string& name) const {
    const std::string key = "name=\"" + name + "\" value=\"";
    const size_t at = page_.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return page_.substr(start, page_.find('"', start) - start);
  }
  httplib::Client client_;
  std::string page_;
};

// Stops from a web session (worker threads) hold the start/stop lock while
// they wait for the main loop; the signal's close stops and frees the
// administration on the main thread meanwhile. The program still ends, the
// affinity table saved.
TEST(ProgramRunThreads, WebStopsRacingTheSignalsCloseStillEndTheProgramSavingTheAffinityTable) {
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs on this machine";
  TempFolder folder;
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  const int port = FreePort();
  const int adminPort = FreePort();
  programtest::WriteShopSettings(folder.Path(), port, backend.Port(),
                                 [&](TDomainHandler& h, TServerCluster&) { h.AdminPort = adminPort; });
  Program run(folder.Path(), {"prog"});
  const bool started = run.WaitForOutput("Server started\n");
  if (!started && run.RefusedAsSecond()) GTEST_SKIP() << "an instance started elsewhere";
  ASSERT_TRUE(started) << run.Output();

  std::atomic<bool> done{false};
  std::atomic<int> restarts{0};
  // One session: concurrent requests make the uninstrumented HTTP library
  // noisy under the thread sanitizer.
  std::thread session([&] {
    AdminSession s(adminPort);
    if (!tcptest::WaitUntil([&] { return s.Open(); }, 10000ms)) return;
    if (!s.Click("BTNLOGIN", "&EDTUSERNAME=Admin&EDTPASSWORD=")) return;
    if (!s.Click("FRAMEMAINMENU_IMGSERVER")) return;
    // Each click stops on a worker thread and starts again; a disabled
    // button (the engine was not running) is ignored: then Start.
    while (!done && s.Click("BTNSTOPTHENSTART")) {
      if (s.Page().find("Starting server...") != std::string::npos) {
        ++restarts;
      } else if (!s.Click("BTNSTART") || s.Page().find("Server started") == std::string::npos) {
        std::this_thread::sleep_for(20ms);
      }
    }
  });
  // A few rounds of stops from the web, then the signal while they go on.
  const bool raced = tcptest::WaitUntil([&] { return restarts >= 4; }, 30000ms);
  const int code = run.Signal(SIGTERM);
  done = true;
  session.join();
  EXPECT_TRUE(raced) << restarts.load() << " restarts\n" << EventLog(folder.Path());
  EXPECT_EQ(code, 0) << run.Output();
  const std::string log = EventLog(folder.Path());
  EXPECT_NE(log.find("|SERVER STOPPED\r\n"), std::string::npos);
  EXPECT_EQ(log.find("Stop server failed"), std::string::npos);
  EXPECT_TRUE(FileExists(folder.Path() + "data/lbconnections.bin"));
}

}  // namespace
