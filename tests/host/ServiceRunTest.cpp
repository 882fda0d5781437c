// build/vantrell started the way systemd starts the unit: the marker set, a
// notify socket to report to, and stopped with SIGTERM.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/ServiceHost.h"
#include "host/uGlobalName.h"
#include "platform/SysUtils.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/Common/TempFolder.h"
#include "tests/host/ProgramProcess.h"
#include "tests/platform/NotifySocket.h"

namespace {

using namespace std::chrono_literals;
using programtest::EventLog;
using programtest::Program;

TEST(ServiceRun, ReportsReadyOnceItServesAndSavesTheAffinityTableOnSigterm) {
  if (IsGlobalNameRegistered("VantrellHSService") || IsGlobalNameRegistered("VantrellHSProgram"))
    GTEST_SKIP() << "an instance already runs on this machine";
  TempFolder folder;
  roadtest::ScriptedBackend backend(roadtest::Answer(roadtest::Ok("hello")));
  SocketHandle probe = tcptest::RawListener();
  const int port = tcptest::PortOf(probe.Get());
  probe.Reset();
  programtest::WriteShopSettings(folder.Path(), port, backend.Port());
  // The system is running, whatever the machine's systemd says.
  ::mkdir((folder.Path() + "bin").c_str(), 0755);
  WriteWholeFile(folder.Path() + "bin/systemctl", "#!/bin/sh\necho running\n");
  ::chmod((folder.Path() + "bin/systemctl").c_str(), 0755);
  const char* path = std::getenv("PATH");
  const std::string searchPath = folder.Path() + "bin:" + (path != nullptr ? path : "/usr/bin:/bin");

  size_t logBefore = 0;
  const std::string sockets[] = {folder.Path() + "notify", "@vantrell-service-run-" + std::to_string(::getpid())};
  for (const std::string& socketName : sockets) {
    SCOPED_TRACE(socketName);
    NotifySocket notify(socketName);
    ASSERT_TRUE(notify.Bound());
    Program run(folder.Path(), {},
                {{kServiceMarkerVariable, "1"}, {"NOTIFY_SOCKET", socketName}, {"PATH", searchPath}});
    const std::string ready = notify.Receive();
    if (ready.empty() && run.RefusedAsSecond()) GTEST_SKIP() << "an instance started elsewhere";
    ASSERT_EQ(ready, "READY=1") << run.Output();
    if (socketName == sockets[0]) {
      // It serves once it says so; the request makes the affinity entry.
      roadtest::Client c(port);
      c.Send("GET / HTTP/1.1\r\nHost: shop.example\r\n\r\n");
      EXPECT_EQ(c.ReadResponse().body, "hello");
    } else {
      // The next start restored the client's affinity entry.
      EXPECT_TRUE(tcptest::WaitUntil(
          [&] { return EventLog(folder.Path()).find("LBConn=1, ", logBefore) != std::string::npos; }, 10000ms));
    }
    EXPECT_EQ(notify.Receive(false), "");  // READY once, nothing else meanwhile
    EXPECT_EQ(run.Signal(SIGTERM), 0) << run.Output();
    EXPECT_EQ(notify.Receive(false), "STOPPING=1");
    const std::string log = EventLog(folder.Path());
    EXPECT_NE(log.find("|SERVER STOPPED\r\n", logBefore), std::string::npos);
    EXPECT_TRUE(FileExists(folder.Path() + "data/lbconnections.bin"));
    logBefore = log.size();
  }
}

}  // namespace
