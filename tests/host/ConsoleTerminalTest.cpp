// The program in a terminal: build/vantrell prog in a private tmux server,
// driven by keys and read from the screen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "host/uGlobalName.h"
#include "platform/SysUtils.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/Common/TempFolder.h"
#include "tests/host/ProgramProcess.h"

namespace {

using namespace std::chrono_literals;

// Runs a command and gives its standard output.
std::string Run(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(command.c_str(), "r"), ::pclose);
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p.get())) > 0;) out.append(buf, n);
  return out;
}

class Tmux {
 public:
  explicit Tmux(const std::string& folder) : socket_(folder + "tmux.sock") {}
  ~Tmux() {
    // A program still running closes on the hang-up as Close program does.
    Run(Base() + " kill-server 2>/dev/null");
  }
  std::string Base() const { return "tmux -S '" + socket_ + "'"; }
  bool Start(const std::string& folder, const std::string& command) {
    return std::system((Base() + " -f /dev/null new-session -d -x 140 -y 45 -c '" + folder + "' \"" + command + "\"").c_str()) == 0;
  }
  std::string Screen() const { return Run(Base() + " capture-pane -p -t 0 2>/dev/null"); }
  // From now on everything the pane's program writes goes to File too, also
  // what stands on the screen only for a moment.
  bool Record(const std::string& file) {
    return std::system((Base() + " pipe-pane -t 0 'cat >> \"" + file + "\"'").c_str()) == 0;
  }
  void Keys(const std::string& keys) { Run(Base() + " send-keys -t 0 " + keys); }
  bool WaitFor(const std::string& text, std::chrono::milliseconds limit = 15000ms) {
    return tcptest::WaitUntil([&] { return Screen().find(text) != std::string::npos; }, limit);
  }

 private:
  std::string socket_;
};

TEST(ConsoleTerminal, StartStopAndCloseFromTheKeyboard) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs here";
  TempFolder folder;
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  SocketHandle probe = tcptest::RawListener();
  const int port = tcptest::PortOf(probe.Get());
  probe.Reset();
  {
    SocketHandle admin = tcptest::RawListener();
    programtest::WriteShopSettings(folder.Path(), port, backend.Port(), [&](TDomainHandler& settings, TServerCluster&) {
      settings.SetAdminPort(tcptest::PortOf(admin.Get()));
    });
  }
  const std::string binary = std::string(VT_TEST_BINARY_DIR) + "/vantrell";
  const std::string output = folder.Path() + "pane.out";
  Tmux tmux(folder.Path());
  // The program starts on the first Enter, once the pane is recorded. After
  // it: its exit code, whether the terminal echoes again, and an end mark.
  ASSERT_TRUE(tmux.Start(folder.Path(), "read go; BROWSER=true " + binary +
                                            " prog; echo EXIT=$?; stty -a | grep -qw -- -echo || echo ECHO-ON;"
                                            " echo END-OF-RUN; sleep 60"));
  ASSERT_TRUE(tmux.Record(output));
  tmux.Keys("Enter");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch - Program is RUNNING")) << tmux.Screen();
  // The splash shows for a second, then the console lives in the tray: the
  // tray line drawn after the splash's version means the splash is over, so
  // the next key reaches the tray icon.
  ASSERT_TRUE(tcptest::WaitUntil(
      [&] {
        const std::string out = ReadWholeFile(output);
        const size_t splash = out.find("2.2.51");
        return splash != std::string::npos && out.find("Enter: restore", splash) != std::string::npos;
      },
      15000ms))
      << tmux.Screen();
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch - Program is RUNNING")) << tmux.Screen();

  tmux.Keys("Enter");  // a double click on the icon
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch 2.2.51")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("Server : Active")) << tmux.Screen();
  {
    roadtest::Client c(port);
    c.Send("GET / HTTP/1.1\r\nHost: shop.example\r\n\r\n");
    EXPECT_EQ(c.ReadResponse().body, "hello");
  }
  EXPECT_TRUE(tmux.WaitFor("| Requests 1 ")) << tmux.Screen();

  // Server > Stop server, answered y.
  tmux.Keys("F10 Right t");
  ASSERT_TRUE(tmux.WaitFor("This will stop the server, are you sure you want to do this?")) << tmux.Screen();
  tmux.Keys("y");
  ASSERT_TRUE(tmux.WaitFor("Server : Inactive")) << tmux.Screen();
  EXPECT_LT(tcptest::RawConnect(port).Get(), 0);

  // Server > Start server.
  tmux.Keys("F10 Right s");
  ASSERT_TRUE(tmux.WaitFor("Server : Active")) << tmux.Screen();
  {
    roadtest::Client c(port);
    c.Send("GET / HTTP/1.1\r\nHost: shop.example\r\n\r\n");
    EXPECT_EQ(c.ReadResponse().body, "hello");
  }

  // File > Close program, answered y.
  tmux.Keys("F10 c");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch Shutdown")) << tmux.Screen();
  tmux.Keys("y");
  ASSERT_TRUE(tmux.WaitFor("END-OF-RUN", 30000ms)) << tmux.Screen();
  const std::string screen = tmux.Screen();
  EXPECT_NE(screen.find("EXIT=0"), std::string::npos) << screen;
  EXPECT_NE(screen.find("ECHO-ON"), std::string::npos) << screen;
  EXPECT_TRUE(FileExists(folder.Path() + "data/lbconnections.bin"));
  std::string log;
  for (const std::string& name : ListFilesByMask(folder.Path() + "Log/VT/*.*")) log += ReadWholeFile(name);
  EXPECT_NE(log.find("|SERVER STOPPED\r\n"), std::string::npos);
}

// L&B Status and Test Request against the running switch: the status of a
// real back end, its failure and the trace of a request routed to it.
TEST(ConsoleTerminal, MonitoringWindowsShowTheRunningSwitch) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
  if (IsGlobalNameRegistered("VantrellHSProgram")) GTEST_SKIP() << "a program already runs here";
  TempFolder folder;
  auto backend = std::make_unique<roadtest::ScriptedBackend>(roadtest::Answer(roadtest::Ok("hello")));
  SocketHandle probe = tcptest::RawListener();
  const int port = tcptest::PortOf(probe.Get());
  probe.Reset();
  {
    SocketHandle admin = tcptest::RawListener();
    programtest::WriteShopSettings(folder.Path(), port, backend->Port(),
                                   [&](TDomainHandler& settings, TServerCluster& cluster) {
                                     settings.SetAdminPort(tcptest::PortOf(admin.Get()));
                                     cluster.FailoverCheckInterval = 1;
                                     cluster.MaxFailBeforeOffline = 3;
                                   });
  }
  const std::string binary = std::string(VT_TEST_BINARY_DIR) + "/vantrell";
  Tmux tmux(folder.Path());
  ASSERT_TRUE(tmux.Start(folder.Path(), "BROWSER=true " + binary + " prog; echo EXIT=$?; sleep 60"));
  ASSERT_TRUE(tmux.WaitFor("2.2.51")) << tmux.Screen();
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch - Program is RUNNING")) << tmux.Screen();
  {
    roadtest::Client c(port);
    c.Send("GET / HTTP/1.1\r\nHost: shop.example\r\n\r\n");
    EXPECT_EQ(c.ReadResponse().body, "hello");
  }

  // Debug > Test Request from the console: the port typed over, Enter runs
  // Test, and the trace names the domain and the server that answered.
  tmux.Keys("Enter");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch 2.2.51")) << tmux.Screen();
  tmux.Keys("F10 Right Right Right Right r");
  ASSERT_TRUE(tmux.WaitFor("Test Request")) << tmux.Screen();
  tmux.Keys("Tab Tab BSpace BSpace " + IntToStr(port) + " Enter");
  ASSERT_TRUE(tmux.WaitFor("Domain=shop.example")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("    Server : web")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("  ServerCluster : farm")) << tmux.Screen();
  tmux.Keys("Escape");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch 2.2.51")) << tmux.Screen();

  // Log > L&B Status (the second "B" of that menu, so by arrows from the
  // tray menu, where its letter is its own): hide the console first.
  tmux.Keys("Escape");
  ASSERT_TRUE(tmux.WaitFor("m: tray menu")) << tmux.Screen();
  tmux.Keys("m b");
  ASSERT_TRUE(tmux.WaitFor("Load Balancing Server Status")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("Online (checked ")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("   Connected")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("[on]")) << tmux.Screen();
  // Down twice: the server row, whose details show.
  tmux.Keys("Down Down");
  EXPECT_TRUE(tmux.WaitFor("Server Details : web")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("Capacity: 1.0 (100.0%)")) << tmux.Screen();

  // The back end goes away: failed checks, then offline.
  backend.reset();
  EXPECT_TRUE(tmux.WaitFor("SERVER HAS FAILED check", 30000ms)) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("SERVER IS OFFLINE", 30000ms)) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("Offline (checked ")) << tmux.Screen();
  EXPECT_TRUE(tmux.WaitFor("[off]")) << tmux.Screen();

  // Esc closes the window; the console then closes the program.
  tmux.Keys("Escape");
  ASSERT_TRUE(tmux.WaitFor("m: tray menu")) << tmux.Screen();
  tmux.Keys("Enter");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch 2.2.51")) << tmux.Screen();
  tmux.Keys("F10 c");
  ASSERT_TRUE(tmux.WaitFor("Vantrell Switch Shutdown")) << tmux.Screen();
  tmux.Keys("y");
  ASSERT_TRUE(tmux.WaitFor("EXIT=", 30000ms)) << tmux.Screen();
  EXPECT_NE(tmux.Screen().find("EXIT=0"), std::string::npos) << tmux.Screen();
}

}  // namespace
