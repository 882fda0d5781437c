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
#include "host/fVantrellProgram.h"
#include "host/uGlobalName.h"
#include "platform/EventLog.h"
#include "platform/MessageBox.h"
#include "platform/desktop/TrayHost.h"
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
    // The real console's splash does not wait, and its tray is recorded.
    TfrmVantrellProgram::SleepMs = [](uint32_t) {};
    SetCurrentTrayHost(&tray_);
    hosttest::Settings settings;
    settings.AddDomain("shop.example", hosttest::FreePort(), hosttest::FreePort());
    settings.handler.AdminPort = hosttest::FreePort();
    settings.Save();
  }
  void TearDown() override {
    RunningAsService = false;
    SetCurrentTrayHost(nullptr);
    InstallMessageBoxer(nullptr);
    TfrmVantrellProgram::SleepMs = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
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
  RecordingTrayHost tray_;  // main thread
};

// A box that holds the main thread without pumping it until it is answered
// with its default; it notes whether the console was still open then.
class BlockingBoxer : public MessageBoxer {
 public:
  TMsgResult Show(const std::string& caption, const std::string&, TMsgDlgType, TMsgButtons,
                  TMsgResult defaultAnswer) override {
    std::unique_lock<std::mutex> g(mutex_);
    this->caption = caption;
    open_ = true;
    cv_.notify_all();
    answeredInTime = cv_.wait_for(g, 20s, [&] { return answer_; });
    open_ = false;
    consoleOpenAtAnswer = frmVantrellProgram != nullptr && !frmVantrellProgram->CloseRequested;
    return defaultAnswer;
  }
  void AnswerOpenBoxesWithDefault() override {
    std::lock_guard<std::mutex> g(mutex_);
    answer_ = true;
    cv_.notify_all();
  }
  bool WaitOpen() {
    std::unique_lock<std::mutex> g(mutex_);
    return cv_.wait_for(g, 10s, [&] { return open_; });
  }
  // Read once the service has stopped.
  std::string caption;
  bool answeredInTime = false;
  bool consoleOpenAtAnswer = false;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
  bool answer_ = false;
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
    // The loop's own idle turns must not find the desktop before the flag.
    desktop_ = false;
    TSvrVantrell service(Seams());
    RunService(service, [&] {
      service.ShuttingDown = true;
      desktop_ = true;
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

TEST_F(ServiceVantrell, TheDesktopConsoleComesAndGoesWithTheDesktop) {
  auto boxes = std::make_unique<RecordingMessageBoxer>();
  RecordingMessageBoxer* shown = boxes.get();
  InstallMessageBoxer(std::move(boxes));
  TSvrVantrellSeams seams = Seams();
  seams.createConsole = CreateServiceConsole;
  TSvrVantrell service(seams);
  auto attached = [&] {
    ASSERT_NE(frmVantrellProgram, nullptr);
    EXPECT_EQ(frmVantrellProgram->Engine(), dmHTTPBase.load());
    EXPECT_TRUE(dmHTTPBase.load()->HasGUILogSink());
    EXPECT_EQ(EngineHooks::Current().Owner, dmHTTPBase.load());
    // The splash has ended: the console waits hidden in the tray.
    EXPECT_FALSE(frmVantrellProgram->Visible());
    EXPECT_EQ(frmVantrellProgram->Menu, frmVantrellProgram->MainMenu1);
    EXPECT_FALSE(frmVantrellProgram->Action("Action_CloseProgram")->Enabled());
    ASSERT_FALSE(tray_.calls.empty());
    EXPECT_EQ(tray_.calls.back().data.Tip(), "Vantrell Switch - Service is RUNNING");
    EXPECT_EQ(tray_.calls.back().data.hIcon, "running");
  };
  RunService(service, [&] {
    desktop_ = true;
    EXPECT_TRUE(Idle(service));
    EXPECT_TRUE(Idle(service));  // one console only
    MainLoop::Instance().Synchronize(attached);
    // A line the engine logs reaches the console's memo.
    MainLoop::Instance().Synchronize([] {
      TAction* events = frmVantrellProgram->Action("Action_ShowLoggedEvents");
      if (!events->Checked()) events->Execute();
      frmVantrellProgram->Memo_MainReport->Lines.Clear();
    });
    dmHTTPBase.load()->Log("from the service");
    bool arrived = false;
    for (int i = 0; i < 500 && !arrived; ++i) {
      MainLoop::Instance().Synchronize(
          [&] {
            const auto& lines = frmVantrellProgram->Memo_MainReport->Lines.Items();
            arrived = std::find(lines.begin(), lines.end(), "vt:from the service") != lines.end();
          });
      if (!arrived) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(arrived);

    desktop_ = false;
    EXPECT_TRUE(Idle(service));
    MainLoop::Instance().Synchronize([&] {
      EXPECT_FALSE(service.HasConsole());
      EXPECT_EQ(frmVantrellProgram, nullptr);
      EXPECT_EQ(Application, nullptr);
      EXPECT_FALSE(dmHTTPBase.load()->HasGUILogSink());
      EXPECT_FALSE(dmHTTPBase.load()->Interactive);
      ASSERT_FALSE(tray_.calls.empty());
      EXPECT_EQ(tray_.calls.back().op, ITrayHost::TOp::Delete);
      tray_.calls.clear();
    });
    desktop_ = true;
    EXPECT_TRUE(Idle(service));
    MainLoop::Instance().Synchronize(attached);
  });
  // The stop closed the console without a question, off the tray, and freed it.
  EXPECT_FALSE(service.HasConsole());
  EXPECT_EQ(frmVantrellProgram, nullptr);
  EXPECT_EQ(Application, nullptr);
  EXPECT_TRUE(shown->shown.empty());
  ASSERT_FALSE(tray_.calls.empty());
  EXPECT_EQ(tray_.calls.back().op, ITrayHost::TOp::Delete);
  EXPECT_EQ(notified_, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
}

TEST_F(ServiceVantrell, AServiceStopAnswersAnOpenConsoleBoxWithItsDefaultFirst) {
  auto blocking = std::make_unique<BlockingBoxer>();
  BlockingBoxer* box = blocking.get();
  InstallMessageBoxer(std::move(blocking));
  TSvrVantrellSeams seams = Seams();
  seams.createConsole = CreateServiceConsole;
  TSvrVantrell service(seams);
  RunService(service, [&] {
    desktop_ = true;
    Idle(service);
    // Stop server, asked on the main thread; the box stays open.
    MainLoop::Instance().Post([] { frmVantrellProgram->Action("Action_StopServer")->Execute(); });
    EXPECT_TRUE(box->WaitOpen());
  });
  EXPECT_EQ(box->caption, "Vantrell Switch Stop server");
  EXPECT_TRUE(box->answeredInTime);
  EXPECT_TRUE(box->consoleOpenAtAnswer);
  EXPECT_FALSE(service.HasConsole());
  EXPECT_EQ(frmVantrellProgram, nullptr);
  service.EngineLogFile->Flush();
  EXPECT_EQ(CountLines("SERVER STOPPED"), 1);  // the stop's, not the box's
  EXPECT_EQ(notified_, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
}

TEST_F(ServiceVantrell, AFailedConsoleCreationDropsOnlyTheConsole) {
  int calls = 0;  // main thread
  std::atomic<bool> raise{false};
  TSvrVantrellSeams seams = Seams();
  seams.createConsole = [&]() -> std::unique_ptr<TServiceConsole> {
    ++calls;
    if (raise) throw Exception("no screen");
    return nullptr;  // the console's box has been shown
  };
  TSvrVantrell service(seams);
  auto callsSoFar = [&] {
    int n = 0;
    MainLoop::Instance().Synchronize([&] { n = calls; });
    return n;
  };
  RunService(service, [&] {
    desktop_ = true;
    EXPECT_TRUE(Idle(service));
    EXPECT_TRUE(Idle(service));  // not again while the desktop stays
    EXPECT_EQ(callsSoFar(), 1);
    MainLoop::Instance().Synchronize([&] { EXPECT_FALSE(service.HasConsole()); });
    EXPECT_TRUE(dmHTTPBase.load()->IsServerRunning());

    // The desktop goes and comes back: another try, which raises.
    desktop_ = false;
    Idle(service);
    raise = true;
    desktop_ = true;
    EXPECT_TRUE(Idle(service));
    EXPECT_TRUE(Idle(service));
    EXPECT_EQ(callsSoFar(), 2);
    MainLoop::Instance().Synchronize([&] {
      EXPECT_FALSE(service.HasConsole());
      EXPECT_FALSE(dmHTTPBase.load()->HasGUILogSink());
      EXPECT_EQ(EngineHooks::Current().Owner, dmHTTPBase.load());
    });
    EXPECT_TRUE(dmHTTPBase.load()->IsServerRunning());
  });
  ASSERT_EQ(eventLog_.Entries().size(), 1u);
  EXPECT_EQ(eventLog_.Entries()[0].text, "Failed to create the console, Error=no screen");
  EXPECT_EQ(eventLog_.Entries()[0].type, TEventLogType::etError);
  EXPECT_EQ(notified_, (std::vector<std::string>{"READY=1", "STOPPING=1"}));
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
