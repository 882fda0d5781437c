// The service object with a real engine in a program folder of its own; the
// console, the admin form and the desktop probe are fakes.
#include "host/uServiceVantrell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Common/uProgramMode.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "host/uGlobalName.h"
#include "platform/EventLog.h"
#include "tests/HTTPRedirect/HostFixture.h"

namespace {

using namespace std::chrono_literals;

// What the fake consoles saw; main thread only, except the line count.
struct ConsoleTrace {
  std::vector<std::string> events;
  bool sinkAtDestruction = true;
  bool interactiveAtDestruction = true;
};

class FakeConsole : public TServiceConsole {
 public:
  FakeConsole(ConsoleTrace& trace, TdmHTTPBase& engine) : trace_(trace), engine_(engine) {
    // Attaches as the console does; the hooks are cleared so that the
    // service's RegisterHooks shows.
    engine_.Interactive = true;
    engine_.SetGUILogSink([this](const std::string&, uint8_t) { ++lines_; });
    EngineHooks::ClearOwnedBy(&engine_);
    trace_.events.push_back("created");
  }
  ~FakeConsole() override {
    trace_.sinkAtDestruction = engine_.HasGUILogSink();
    trace_.interactiveAtDestruction = engine_.Interactive;
    trace_.events.push_back("destroyed");
  }
  void SetCloseRequested(bool value) override { trace_.events.push_back(value ? "close requested" : "close not requested"); }
  void Close() override { trace_.events.push_back("closed"); }
  void EndSplash() override {
    trace_.events.push_back(EngineHooks::Current().Owner == &engine_ ? "splash ended, hooks registered" : "splash ended");
  }

 private:
  ConsoleTrace& trace_;
  TdmHTTPBase& engine_;
  int lines_ = 0;  // written by the sink: a line after the free would show under ASan
};

class ServiceVantrell : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = GetCurrentDir();
    ASSERT_EQ(::chdir(folder_.Path().c_str()), 0);
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
    RunningAsService = false;
    hosttest::Settings settings;
    settings.AddDomain("shop.example", hosttest::FreePort(), hosttest::FreePort());
    settings.handler.AdminPort = hosttest::FreePort();
    settings.Save();
  }
  void TearDown() override {
    RunningAsService = false;
    MainLoop::Instance().Reset();
    ASSERT_EQ(::chdir(previousDir_.c_str()), 0);
  }

  // Every service run ends its main loop for good; the next service object
  // starts with a fresh one.
  TSvrVantrellSeams Seams() {
    MainLoop::Instance().Reset();
    TSvrVantrellSeams seams;
    seams.eventLog = &eventLog_;
    seams.desktopPresent = [this] { return desktop_.load(); };
    seams.createConsole = [this] { return std::make_unique<FakeConsole>(trace_, *dmHTTPBase.load()); };
    seams.createAdminForm = [this] {
      ++adminForms_;
      return withAdminForm_ ? CreateVT_Admin() : TfrmVT_AdminPtr();  // the real form, on a free port
    };
    return seams;
  }

  // Runs the service as the service manager would; WhileRunning runs on a
  // thread of its own once READY was reported, then the service is stopped.
  void RunService(TSvrVantrell& service, const std::function<void()>& whileRunning,
                  TServiceControl stop = TServiceControl::scStop) {
    std::mutex mutex;
    std::condition_variable cv;
    bool ready = false;
    TService::TRunOptions options;
    options.notify = [&](const std::string& state) {
      std::lock_guard<std::mutex> g(mutex);
      notified_.push_back(state);
      if (state == "READY=1") ready = true;
      cv.notify_all();
    };
    std::thread controller([&] {
      {
        std::unique_lock<std::mutex> g(mutex);
        if (!cv.wait_for(g, 10s, [&] { return ready; })) ADD_FAILURE() << "no READY";
      }
      if (whileRunning) whileRunning();
      service.Control(stop);
    });
    service.Run(options);
    controller.join();
  }

  // On the main thread, from the controller: one idle moment.
  bool Idle(TSvrVantrell& service) {
    bool done = false;
    MainLoop::Instance().Synchronize([&] { service.AppIdle(done); });
    return done;
  }
  std::vector<std::string> ConsoleEvents() {
    std::vector<std::string> events;
    MainLoop::Instance().Synchronize([&] { events = trace_.events; });
    return events;
  }

  // The event log's lines, also after the engine is gone.
  std::vector<std::string> EventLogLines() {
    std::vector<std::string> lines;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path() + "Log/VT")) {
      auto more = hosttest::ReadEventLog(entry.path());
      lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
  }
  int CountLines(const std::string& text) {
    const auto lines = EventLogLines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
  }

  TempFolder folder_;
  std::string previousDir_;
  RecordingEventLogWriter eventLog_;
  std::atomic<bool> desktop_{false};
  bool withAdminForm_ = true;
  std::atomic<int> adminForms_{0};
  ConsoleTrace trace_;
  std::vector<std::string> notified_;
};

TEST_F(ServiceVantrell, RunsTheEngineFromStartToStopAndSavesOnDestruction) {
  {
    TSvrVantrell service(Seams());
    EXPECT_TRUE(IsGlobalNameRegistered("VantrellHSService"));
    EXPECT_EQ(GetCurrentDir() + "/", folder_.Path());  // the program folder stays current
    ASSERT_NE(service.EngineLogFile, nullptr);
    RunService(service, [&] {
      EXPECT_TRUE(dmHTTPBase.load()->IsServerRunning());
      MainLoop::Instance().Synchronize([&] { EXPECT_TRUE(service.HasAdminForm()); });
    });
    EXPECT_TRUE(RunningAsService);
    EXPECT_EQ(notified_, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
    EXPECT_FALSE(service.HasAdminForm());
    EXPECT_EQ(adminForms_, 1);
  }
  EXPECT_FALSE(IsGlobalNameRegistered("VantrellHSService"));
  EXPECT_EQ(dmHTTPBase.load(), nullptr);
  EXPECT_EQ(CountLines("SERVER STOPPED"), 1);
  EXPECT_EQ(CountLines("Stopping Server!"), 1);  // destruction found the switch stopped
  EXPECT_TRUE(FileExists(folder_.Path() + "data/lbconnections.bin"));
  EXPECT_TRUE(eventLog_.Entries().empty());
}

TEST_F(ServiceVantrell, AppIdleAttachesAndDetachesTheConsoleWithTheDesktop) {
  // Not a service: nothing happens and Done is left alone.
  {
    TSvrVantrell service(Seams());
    desktop_ = true;
    bool done = false;
    service.AppIdle(done);
    EXPECT_FALSE(done);
    EXPECT_TRUE(trace_.events.empty());
  }
  // No admin form, or shutting down: Done, but no console.
  withAdminForm_ = false;
  {
    TSvrVantrell service(Seams());
    RunService(service, [&] { EXPECT_TRUE(Idle(service)); });
    EXPECT_TRUE(trace_.events.empty());
  }
  withAdminForm_ = true;
  {
    TSvrVantrell service(Seams());
    RunService(service, [&] {
      service.ShuttingDown = true;
      EXPECT_TRUE(Idle(service));
    });
    EXPECT_TRUE(trace_.events.empty());
  }
  // The desktop comes and goes, then comes again and the service stops.
  {
    TSvrVantrell service(Seams());
    RunService(service, [&] {
      EXPECT_TRUE(Idle(service));
      EXPECT_TRUE(Idle(service));  // one console only
      EXPECT_EQ(ConsoleEvents(), (std::vector<std::string>{"created", "splash ended, hooks registered"}));
      desktop_ = false;
      EXPECT_TRUE(Idle(service));
      MainLoop::Instance().Synchronize([&] {
        ASSERT_FALSE(trace_.events.empty());
        EXPECT_EQ(trace_.events.back(), "destroyed");
        EXPECT_FALSE(trace_.sinkAtDestruction);
        EXPECT_FALSE(trace_.interactiveAtDestruction);
        EXPECT_EQ(EngineHooks::Current().Owner, dmHTTPBase.load());
        trace_.events.clear();
      });
      desktop_ = true;
      Idle(service);
    });
    // The stop closes the console without a question before it frees it.
    EXPECT_EQ(trace_.events, (std::vector<std::string>{"created", "splash ended, hooks registered", "close requested",
                                                       "closed", "destroyed"}));
    EXPECT_FALSE(trace_.sinkAtDestruction);
    EXPECT_FALSE(service.HasConsole());
  }
}

TEST_F(ServiceVantrell, AfterAShutdownAStopOnlyEndsTheThreadAndNoConsoleAttaches) {
  TSvrVantrell service(Seams());
  RunService(
      service,
      [&] {
        desktop_ = true;
        Idle(service);
        service.Control(TServiceControl::scShutdown);
      },
      TServiceControl::scStop);
  EXPECT_TRUE(service.ShuttingDown);
  EXPECT_EQ(trace_.events, (std::vector<std::string>{"created", "splash ended, hooks registered", "close requested",
                                                     "closed", "destroyed"}));
  // A stop that comes later still, handled directly.
  bool stopped = false;
  service.ServiceStop(stopped);
  EXPECT_FALSE(stopped);
  EXPECT_TRUE(service.Terminated());
  bool done = false;
  service.AppIdle(done);
  EXPECT_FALSE(service.HasConsole());
  service.EngineLogFile->Flush();
  EXPECT_EQ(CountLines("Stopping Server!"), 1);
  EXPECT_EQ(notified_, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
}

TEST_F(ServiceVantrell, AFailedEngineCreationIsLoggedAndRaisedAndLeavesTheNameAlone) {
  TSvrVantrellSeams seams = Seams();
  seams.createEngine = []() -> std::unique_ptr<TdmHTTPBase> { throw Exception("boom"); };
  try {
    TSvrVantrell service(seams);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Failed to create dmHTTPBase, Error=boom");
  }
  ASSERT_EQ(eventLog_.Entries().size(), 1u);
  EXPECT_EQ(eventLog_.Entries()[0].text, "Failed to create dmHTTPBase, Error=boom");
  EXPECT_EQ(eventLog_.Entries()[0].type, TEventLogType::etError);
  EXPECT_EQ(dmHTTPBase.load(), nullptr);
  // The process ends with the exception; the name is released only then.
  EXPECT_TRUE(IsGlobalNameRegistered("VantrellHSService"));
  UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));

  // A name already taken: the engine is not created.
  const TGlobalNameHandle taken = RegisterGlobalName("VantrellHSService");
  bool engineCreated = false;
  seams.createEngine = [&]() -> std::unique_ptr<TdmHTTPBase> {
    engineCreated = true;
    return nullptr;
  };
  EXPECT_THROW(TSvrVantrell service(seams), Exception);
  EXPECT_FALSE(engineCreated);
  UnregisterGlobalName(taken);
}

// A thread logs through the engine all the while the console comes and goes,
// so a line may be on its way to the sink at every detach.
TEST_F(ServiceVantrell, DetachWhileAThreadLogsThreads) {
  TSvrVantrell service(Seams());
  RunService(service, [&] {
    std::atomic<bool> logging{true};
    std::thread logger([&] {
      while (logging) {
        dmHTTPBase.load()->Log("a line from elsewhere");
        std::this_thread::sleep_for(20us);  // the log file stays small
      }
    });
    for (int i = 0; i < 20; ++i) {
      desktop_ = true;
      Idle(service);
      desktop_ = false;
      Idle(service);
    }
    logging = false;
    logger.join();
  });
  EXPECT_FALSE(trace_.sinkAtDestruction);
  EXPECT_EQ(std::count(trace_.events.begin(), trace_.events.end(), "destroyed"), 20);
}

}  // namespace
