// The program itself: build/vantrell started in a program folder of its own,
// serving, and stopped by a signal.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

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
    EXPECT_EQ(run.Signal(SIGTERM), 0) << run.Output();
    EXPECT_NE(run.Output().find("SERVER STOPPED\n"), std::string::npos);
  }
  const std::string log = EventLog(folder.Path());
  EXPECT_NE(log.find("|SERVER STOPPED\r\n"), std::string::npos);
  EXPECT_NE(log.find("|STAT1: ActiveThreads=0, PooledThreads=0, Trans=0, Compr=0, Conn=0, LBConn=0\r\n"),
            std::string::npos);
  EXPECT_TRUE(FileExists(folder.Path() + "data/lbconnections.bin"));
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string w3c =
      ReadWholeFile(folder.Path() + "Log/W3C/shop/" + Format("ex%.2d%.2d%.2d.log", year % 100, month, day));
  EXPECT_NE(w3c.find("#Fields: "), std::string::npos);

  // The next start restores the client's affinity entry.
  const size_t before = log.size();
  {
    Program run(folder.Path(), {"prog"});
    ASSERT_TRUE(run.WaitForOutput("Server started\n")) << run.Output();
    EXPECT_TRUE(tcptest::WaitUntil([&] { return EventLog(folder.Path()).find("LBConn=1\r\n", before) != std::string::npos; },
                                   10000ms));
    EXPECT_EQ(run.Signal(SIGINT), 0) << run.Output();
  }
}

}  // namespace
