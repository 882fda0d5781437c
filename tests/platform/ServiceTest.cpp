#include "platform/Service.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/EventLog.h"
#include "platform/MainLoop.h"
#include "tests/Common/TempFolder.h"
#include "tests/platform/NotifySocket.h"

namespace {

using namespace std::chrono_literals;

// A service that records its handlers and what was reported, and stops the
// way the host's does (it terminates its thread).
class RecordingService : public TService {
 public:
  RecordingService() : TService("SvrTest", "Test") {}

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> g(mutex_);
    return events_;
  }
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> g(mutex_);
    events_.push_back(event);
  }
  TService::TRunOptions Options() {
    TService::TRunOptions options;
    options.notify = [this](const std::string& state) { Add(state + " while " + StatusName()); };
    options.eventLog = &eventLog;
    options.systemStopping = [this] { return systemStopping; };
    return options;
  }
  std::string StatusName() const {
    switch (Status()) {
      case TCurrentStatus::csStopped: return "stopped";
      case TCurrentStatus::csStartPending: return "start pending";
      case TCurrentStatus::csRunning: return "running";
      case TCurrentStatus::csStopPending: return "stop pending";
    }
    return "?";
  }

  bool startResult = true;
  bool failStart = false;
  bool systemStopping = false;
  std::function<void()> onStart;
  RecordingEventLogWriter eventLog;

 protected:
  void ServiceStart(bool& started) override {
    Add("start");
    if (failStart) throw std::runtime_error("boom");
    started = startResult;
    if (onStart) onStart();
  }
  void ServiceExecute() override {
    while (!Terminated()) ProcessRequests(true);
  }
  void ServiceStop(bool&) override {
    Add("stop while " + StatusName());
    Terminate();
  }
  void ServiceShutdown() override {
    Add("shutdown");
    Terminate();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

class ServiceRunThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
  }
  void TearDown() override { MainLoop::Instance().Reset(); }
};

TEST_F(ServiceRunThreads, StartReportsReadyAndAStopEndsTheRun) {
  struct Case {
    const char* name;
    bool systemStopping;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"stop", false, {"start", "READY=1 while running", "STOPPING=1 while stop pending", "stop while stop pending"}},
      {"shutdown", true, {"start", "READY=1 while running", "STOPPING=1 while stop pending", "shutdown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MainLoop::Instance().Reset();
    RecordingService service;
    service.systemStopping = c.systemStopping;
    // The main loop turns while the service starts; the request comes from
    // another thread.
    bool ranOnLoop = false;
    service.onStart = [&] {
      MainLoop::Instance().Synchronize([&] { ranOnLoop = MainLoop::Instance().IsMainThread(); });
      service.Control(c.systemStopping ? TServiceControl::scShutdown : TServiceControl::scStop);
    };
    service.Run(service.Options());
    EXPECT_EQ(service.Events(), c.events);
    EXPECT_TRUE(ranOnLoop);
    EXPECT_EQ(service.Status(), TCurrentStatus::csStopped);
  }
}

TEST_F(ServiceRunThreads, AStartThatFailsOrRaisesEndsWithoutReady) {
  RecordingService notStarted;
  notStarted.startResult = false;
  notStarted.Run(notStarted.Options());
  EXPECT_EQ(notStarted.Events(), std::vector<std::string>{"start"});

  MainLoop::Instance().Reset();
  RecordingService raising;
  raising.failStart = true;
  raising.Run(raising.Options());
  EXPECT_EQ(raising.Events(), std::vector<std::string>{"start"});
  ASSERT_EQ(raising.eventLog.Entries().size(), 1u);
  EXPECT_EQ(raising.eventLog.Entries()[0].text, "SvrTest: boom");
  EXPECT_EQ(raising.eventLog.Entries()[0].type, TEventLogType::etError);
}

TEST_F(ServiceRunThreads, ALoopEndedElsewhereStillStopsTheService) {
  RecordingService service;
  service.onStart = [] { MainLoop::Instance().Quit(); };
  service.Run(service.Options());
  EXPECT_EQ(service.Events(), (std::vector<std::string>{"start", "READY=1 while running", "STOPPING=1 while stop pending",
                                                        "stop while stop pending"}));
}

TEST(NotifyServiceManager, SendsOneDatagramToAPathOrAnAbstractName) {
  TempFolder folder;
  const std::string names[] = {folder.Path() + "notify", "@vantrell-notify-test-" + std::to_string(::getpid())};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    NotifySocket socket(name);
    ASSERT_TRUE(socket.Bound());
    ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_TRUE(NotifyServiceManager("READY=1"));
    EXPECT_TRUE(NotifyServiceManager("STOPPING=1"));
    EXPECT_EQ(socket.Receive(), "READY=1");
    EXPECT_EQ(socket.Receive(), "STOPPING=1");
  }
  ::setenv("NOTIFY_SOCKET", (folder.Path() + "nobody").c_str(), 1);
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_TRUE(NotifyServiceManager("READY=1"));  // nothing to tell
}

TEST(StartedByServiceManager, TheMarkerVariableDecides) {
  ::unsetenv("VT_TEST_MARKER");
  EXPECT_FALSE(StartedByServiceManager("VT_TEST_MARKER"));
  ::setenv("VT_TEST_MARKER", "", 1);
  EXPECT_FALSE(StartedByServiceManager("VT_TEST_MARKER"));
  ::setenv("VT_TEST_MARKER", "1", 1);
  EXPECT_TRUE(StartedByServiceManager("VT_TEST_MARKER"));
  ::unsetenv("VT_TEST_MARKER");
}

}  // namespace
