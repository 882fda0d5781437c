#include "host/ProgramMain.h"

#include <gtest/gtest.h>

#include "Common/uLogger.h"
#include "Common/uProgramMode.h"
#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/SysUtils.h"

namespace {

// What the fakes saw during one ProgramMain run.
struct Trace {
  bool serviceCreated = false, serviceRan = false, serviceFreed = false;
  bool desktopCreated = false, desktopRan = false;
  bool freedBeforeDesktop = false;
  std::string title;
  std::string installTypeInService, installTypeInDesktop;
  bool startedByManager = false;  // the fake service run sets RunningAsService
  bool failCreation = false;
  int runExitCode = 0;
  std::vector<std::string> guardAsked;
  std::vector<std::string> held;  // names the fake guard reports as registered
};

class FakeService : public TServiceApplication {
 public:
  explicit FakeService(Trace& t) : t_(t) {
    if (t_.failCreation) throw Exception("Engine could not be created");
    t_.serviceCreated = true;
    t_.installTypeInService = InstallTypeName();
  }
  ~FakeService() override { t_.serviceFreed = true; }
  int Run() override {
    t_.serviceRan = true;
    if (t_.startedByManager) RunningAsService = true;
    return t_.runExitCode;
  }

 private:
  Trace& t_;
};

class FakeDesktop : public TDesktopApplication {
 public:
  explicit FakeDesktop(Trace& t) : t_(t) {
    t_.desktopCreated = true;
    t_.freedBeforeDesktop = !t_.serviceCreated || t_.serviceFreed;
  }
  void SetTitle(const std::string& title) override { t_.title = title; }
  void Run() override {
    t_.desktopRan = true;
    t_.installTypeInDesktop = InstallTypeName();
  }

 private:
  Trace& t_;
};

class ProgramMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto rec = std::make_unique<RecordingMessageBoxer>();
    boxes_ = rec.get();
    InstallMessageBoxer(std::move(rec));
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
    GlobalLogger->Levels = 7;
    DebugMode = true;  // ProgramMain must set every value itself
    OWAEdition = true;
    RunningAsService = true;
    SetInstallTypeName("stale");
  }
  void TearDown() override {
    InstallMessageBoxer(nullptr);
    RunningAsService = false;
  }

  int Run(std::vector<std::string> params) {
    params.insert(params.begin(), "vantrell");
    TProgramHosts hosts;
    hosts.createService = [this] { return std::make_unique<FakeService>(trace_); };
    hosts.createDesktop = [this] { return std::make_unique<FakeDesktop>(trace_); };
    hosts.isGlobalNameRegistered = [this](const std::string& name) {
      trace_.guardAsked.push_back(name);
      return std::find(trace_.held.begin(), trace_.held.end(), name) != trace_.held.end();
    };
    return ProgramMain(params, hosts);
  }

  Trace trace_;
  RecordingMessageBoxer* boxes_ = nullptr;
};

TEST_F(ProgramMainTest, StartUpModeTable) {
  struct Case {
    std::vector<std::string> args;
    bool byManager;
    bool service;  // service object created, run and freed
    bool desktop;
    std::string installType;  // in force when the process ends
    bool debug, owa;
  };
  const Case cases[] = {
      // A start by hand: service object created and freed, then the desktop.
      {{}, false, true, true, "Vantrell Program", false, false},
      {{"prog"}, false, false, true, "Vantrell Program", false, false},
      {{"PROG"}, false, false, true, "Vantrell Program", false, false},
      {{"Prog", "owa"}, false, false, true, "Vantrell Program - OWA Edition", false, true},
      {{"/prog"}, false, true, true, "Vantrell Program", false, false},  // not the switch
      {{"-prog", "DEBUG"}, false, true, true, "Vantrell Program", true, false},
      {{"prog", "/install"}, false, false, false, "", false, false},  // ends: nothing registered, no console
      {{"-INSTALL"}, false, true, false, "Vantrell Service", false, false},
      {{"/uninstall", "owa"}, false, true, false, "Vantrell Service - OWA Edition", false, true},
      {{"-uninstall"}, false, true, false, "Vantrell Service", false, false},
      {{"install"}, false, true, true, "Vantrell Program", false, false},  // no prefix: not an install
      // Started by the service manager: the service ran and the process ends.
      {{}, true, true, false, "Vantrell Service", false, false},
      {{"owa"}, true, true, false, "Vantrell Service - OWA Edition", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    trace_ = Trace();
    trace_.startedByManager = c.byManager;
    SetInstallTypeName("");
    EXPECT_EQ(Run(c.args), 0);
    EXPECT_EQ(trace_.serviceCreated, c.service);
    EXPECT_EQ(trace_.serviceRan, c.service);
    EXPECT_EQ(trace_.serviceFreed, c.service);
    EXPECT_EQ(trace_.desktopCreated, c.desktop);
    EXPECT_EQ(trace_.desktopRan, c.desktop);
    EXPECT_EQ(InstallTypeName(), c.installType);
    EXPECT_EQ(DebugMode.load(), c.debug);
    EXPECT_EQ(OWAEdition.load(), c.owa);
    EXPECT_EQ(RunningAsService.load(), c.byManager);
    if (c.service) {
      EXPECT_EQ(trace_.installTypeInService, c.owa ? "Vantrell Service - OWA Edition" : "Vantrell Service");
    }
    if (c.desktop) {
      EXPECT_TRUE(trace_.freedBeforeDesktop);
      EXPECT_EQ(trace_.title, "Vantrell Switch");
      EXPECT_EQ(trace_.installTypeInDesktop, c.installType);
    }
    EXPECT_TRUE(boxes_->shown.empty());
    EXPECT_EQ(GlobalLogger->Levels.load(), 15);
  }
}

TEST_F(ProgramMainTest, AlreadyRunningShowsTheMessageAndEndsWithZero) {
  struct Case {
    std::vector<std::string> held;
    std::vector<std::string> args;
    std::string text;
  };
  const Case cases[] = {
      {{"VantrellHSProgram"}, {"prog"}, "Failed to start: Vantrell Switch Program is already running!"},
      {{"VantrellHSProgram"}, {}, "Failed to start: Vantrell Switch Program is already running!"},
      {{"VantrellHSProgram", "VantrellHSService"}, {}, "Failed to start: Vantrell Switch Program is already running!"},
      {{"VantrellHSService"}, {"prog"}, "Failed to start: Vantrell Switch Service is already running!"},
      {{"VantrellHSService"}, {"/install"}, "Failed to start: Vantrell Switch Service is already running!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    trace_ = Trace();
    trace_.held = c.held;
    boxes_->shown.clear();
    EXPECT_EQ(Run(c.args), 0);
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].caption, "Vantrell Switch Failed to start");
    EXPECT_EQ(boxes_->shown[0].text, c.text);
    EXPECT_EQ(boxes_->shown[0].type, TMsgDlgType::mtWarning);
    EXPECT_EQ(boxes_->shown[0].buttons, TMsgButtons::mbOK);
    EXPECT_FALSE(trace_.serviceCreated);
    EXPECT_FALSE(trace_.desktopCreated);
  }
  // The program name is asked first.
  EXPECT_EQ(trace_.guardAsked, (std::vector<std::string>{"VantrellHSProgram", "VantrellHSService"}));
}

TEST_F(ProgramMainTest, AFailedInstallSwitchEndsWithTheRunsExitCode) {
  trace_.runExitCode = 1;
  EXPECT_EQ(Run({"/install"}), 1);
  EXPECT_FALSE(trace_.desktopCreated);
}

TEST_F(ProgramMainTest, FailedServiceCreationPropagates) {
  trace_.failCreation = true;
  EXPECT_THROW(Run({}), Exception);
  EXPECT_FALSE(trace_.desktopCreated);
}

}  // namespace
