// A stop on another thread holds the start/stop lock while it waits for the
// main loop; the main thread's own reloads and starts must not block on it
// (nor on a lock it holds itself), or neither ever ends. Every round runs
// under a watchdog, so a deadlock fails the run instead of hanging it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/HTTPRedirect/HostFixture.h"
#include "tests/platform/Watchdog.h"

namespace {

using hosttest::FreePort;
using hosttest::HostTest;
using hosttest::Settings;
using namespace std::chrono_literals;

class EngineStopRaceThreads : public HostTest {
 protected:
  // One site on Port_, enabled or not, as data/settings.dat.
  void WriteSite(bool enabled) {
    Settings s;
    s.AddDomain("shop.example", port_, FreePort())->Enabled = enabled;
    s.Save();
  }
  void ServeSite() {
    port_ = FreePort();
    WriteSite(true);
    ASSERT_EQ(Load(), "Settings reloaded");
    ASSERT_EQ(Start(), "Server started");
  }
  int port_ = 0;
};

TEST_F(EngineStopRaceThreads, AWorkerStopRacingAMainThreadReloadAndStartEndsEveryRound) {
  ServeSite();
  bool enabled = true;
  for (int round = 0; round < 100; ++round) {
    testwatch::Watchdog watchdog(60s, "race round " + std::to_string(round));
    // Every fourth round the reload restarts the engine (the site goes or
    // comes back), and a console reload arrives while it stops.
    const bool restarting = round % 4 == 0;
    if (restarting) WriteSite(enabled = !enabled);
    std::string nested;
    if (restarting) MainLoop::Instance().Post([&] { nested = Load(); });

    std::atomic<bool> stopped{false};
    std::string stopMsg;
    std::thread worker([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(300 * (round % 7)));
      Host().StopServer(stopMsg);
      stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(300 * (round % 5)));
    const std::string loaded = Load();
    const std::string started = Start();
    EXPECT_TRUE(PumpUntil([&] { return stopped.load(); }, 30000ms)) << "round " << round;
    worker.join();

    EXPECT_EQ(loaded, "Settings reloaded") << "round " << round;
    EXPECT_TRUE(started == "Server started" || started == "Server not stopped") << started << ", round " << round;
    EXPECT_TRUE(stopMsg == "SERVER STOPPED" || stopMsg == "Server not running!") << stopMsg << ", round " << round;
    if (restarting) {
      EXPECT_TRUE(PumpUntil([&] { return !nested.empty(); }));
      EXPECT_EQ(nested, "Settings reloaded") << "round " << round;
    }
  }
  testwatch::Watchdog watchdog(60s, "the last stop");
  const std::string last = Stop();
  EXPECT_TRUE(last == "SERVER STOPPED" || last == "Server not running!") << last;
  EXPECT_EQ(State(), 3);
  EXPECT_FALSE(Host().HTTPServer->Active());
  EXPECT_FALSE(Logged("Stop server failed"));
}

// The console's Reload Settings, pumped while a reload's restart waits for
// its stop timer on the main thread, is a second reload on the same thread.
TEST_F(EngineStopRaceThreads, AReloadPumpedInsideARestartingReloadRunsToo) {
  ServeSite();
  testwatch::Watchdog watchdog(60s, "a reload inside a reload");
  WriteSite(false);
  std::string nested;
  MainLoop::Instance().Post([&] { nested = Load(); });
  EXPECT_EQ(Load(), "Settings reloaded");
  EXPECT_EQ(nested, "Settings reloaded") << "the nested reload ran in the restart's stop";
  EXPECT_EQ(Config().CountEnabledDomains(), 0);
  EXPECT_EQ(tcptest::RawConnect(port_).Get(), -1) << "the restart dropped the site's listener";
}

}  // namespace
