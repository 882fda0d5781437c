// The host object that owns the administration's server.
#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>
#include <thread>

#include "Common/uCachedLogFileClasses.h"
#include "Common/uDomainClasses.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/MainLoop.h"
#include "tests/platform/TcpTestSupport.h"
#include "tests/platform/Watchdog.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/fVT_Admin.h"

namespace {

using namespace std::chrono_literals;

class VTAdminTest : public WebAdminFixture {
 protected:
  VTAdminTest() {
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
  }
  ~VTAdminTest() override { MainLoop::Instance().Reset(); }

  // A free port, stored as the administration port.
  int StoreFreeAdminPort() {
    int port = 0;
    {
      SocketHandle listener = tcptest::RawListener();
      port = tcptest::PortOf(listener.Get());
    }
    WriteSettings([&](TDomainHandler& h) { h.AdminPort = port; });
    return port;
  }
};
using VTAdminThreads = VTAdminTest;

std::string Hidden(const std::string& html, const std::string& name) {
  std::smatch m;
  const std::regex re("name=\"" + name + "\" value=\"([^\"]*)\"");
  return std::regex_search(html, m, re) ? m[1].str() : "";
}

// Logs in on Port over HTTP (the login's log line runs the engine hook).
void LogInOverHttp(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(30);
  auto page = client.Get("/");
  if (!page) return;
  client.Post("/",
              "VT_SESSION=" + Hidden(page->body, "VT_SESSION") + "&VT_TRACK=" + Hidden(page->body, "VT_TRACK") +
                  "&EDTUSERNAME=Admin&EDTPASSWORD=&VT_EVENT=BTNLOGIN.OnClick",
              "application/x-www-form-urlencoded");
}

TEST_F(VTAdminTest, OwnsTheServerOnTheStoredPort) {
  WriteSettings([](TDomainHandler& h) { h.AdminPort = 0; });
  // Port 0 is stored; the server takes the default port, which may be taken
  // on this machine: either way the object lives and says what happened.
  std::vector<std::string> lines;
  TfrmVT_Admin admin([&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(admin.Caption, "Vantrell - Admin");
  EXPECT_EQ(admin.btnStart.Caption, "Start");
  EXPECT_EQ(admin.Button1.Caption, "Button1");
  EXPECT_EQ(admin.Edit1.Text, "TVantrell_ServerController");
  if (admin.Running()) {
    EXPECT_EQ(admin.Port(), 19721);
    admin.Button1Click();
    EXPECT_EQ(admin.Edit1.Text, "http://127.0.0.1:19721/");
    EXPECT_TRUE(lines.empty());
  } else {
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("19721"), std::string::npos);
  }
}

TEST_F(VTAdminTest, FreeingItLetsAPageWaitingForTheMainLoopFinish) {
  std::atomic<bool> inHook{false};
  TEngineHookSet hooks = EngineHooks::Current();
  hooks.WebAdminLogHook = [&](TDomainHandler*, const std::string&) {
    inHook = true;
    MainLoop::Instance().Synchronize([] {});
  };
  EngineHooks::Assign(hooks);
  const int port = StoreFreeAdminPort();

  auto admin = std::make_unique<TfrmVT_Admin>();
  ASSERT_TRUE(admin->Running());
  std::thread browser([port] { LogInOverHttp(port); });
  EXPECT_TRUE(tcptest::WaitUntil([&] { return inHook.load(); }, 10000ms));
  admin.reset();  // on the main thread: pumps the loop while the server stops
  browser.join();
}

// Behind a switch domain whose virtual path rewrites "/admin" to "/", the
// pages load their script and post below the prefix; a client's own header,
// which the switch passes on, cannot move them elsewhere.
TEST_F(VTAdminTest, ThroughASwitchDomainThePagesLiveBelowThePrefix) {
  int adminPort = 0;
  int switchPort = 0;
  {
    SocketHandle a = tcptest::RawListener();
    SocketHandle b = tcptest::RawListener();
    adminPort = tcptest::PortOf(a.Get());
    switchPort = tcptest::PortOf(b.Get());
  }
  WriteSettings([&](TDomainHandler& h) {
    h.AdminPort = adminPort;
    TDomain* d = h.AddDomain();
    d->DomainName = "switch.test";
    d->ListenOnPort = switchPort;
    d->IPsToBindTo.SetText("127.0.0.1");
    d->DefaultForPort = true;
    d->DefaultTargetAddress = "127.0.0.1";
    d->OutPort = adminPort;
    TVirtualPath* p = d->AddVirtualPath();
    p->SetPath("/admin");
    p->SetTargetPath("/");
  });
  TdmHTTPBase engine;
  std::string msg;
  engine.LoadSettings(msg);
  engine.StartServer(msg);
  ASSERT_EQ(msg, "Server started");
  TfrmVT_Admin admin;
  ASSERT_TRUE(admin.Running());

  httplib::Client client("127.0.0.1", switchPort);
  client.set_read_timeout(30);
  const auto page = client.Get("/admin/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<script src=\"/admin/files/vtfw.js\">"), std::string::npos) << page->body;
  EXPECT_NE(page->body.find("action=\"/admin/\""), std::string::npos);
  const auto script = client.Get("/admin/files/vtfw.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_NE(script->body.find("VTFW"), std::string::npos);

  const auto forged = client.Get("/admin/", {{"VTPathRewrite", "//elsewhere.example/x /"}});
  ASSERT_TRUE(forged);
  EXPECT_EQ(forged->body.find("elsewhere"), std::string::npos);
  EXPECT_NE(forged->body.find("<script src=\"/admin/files/vtfw.js\">"), std::string::npos);
  engine.LogFile->Flush();
  EXPECT_NE(ReadWholeFile(engine.LogFile->CurrentFileName())
                .find("Web Admin : Ignored VTPathRewrite header from 127.0.0.1: not a plain path"),
            std::string::npos);
  engine.StopServer(msg);
}

// A page inside an engine stop waits for the stop timer, which only the main
// loop runs: freeing the form on the main thread keeps the timers going.
TEST_F(VTAdminThreads, FreeingItWhileAPageIsInsideAnEngineStopLetsTheStopFinish) {
  TdmHTTPBase engine;
  std::atomic<bool> inStop{false};
  std::atomic<bool> stopped{false};
  TEngineHookSet hooks = EngineHooks::Current();
  hooks.WebAdminLogHook = [&](TDomainHandler*, const std::string&) {
    inStop = true;
    std::string msg;
    engine.StopServer(msg);
    stopped = msg == "Server not running!";
  };
  EngineHooks::Assign(hooks);
  const int port = StoreFreeAdminPort();

  auto admin = std::make_unique<TfrmVT_Admin>();
  ASSERT_TRUE(admin->Running());
  std::thread browser([port] { LogInOverHttp(port); });
  EXPECT_TRUE(tcptest::WaitUntil([&] { return inStop.load(); }, 10000ms));
  {
    testwatch::Watchdog watchdog(60s, "freeing the host form while a page stops the engine");
    admin.reset();
  }
  browser.join();
  EXPECT_TRUE(stopped);
}

}  // namespace
