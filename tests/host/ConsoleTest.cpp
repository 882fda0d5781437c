// The desktop console on the real engine, in a program folder of its own,
// with a recording tray and message boxer and a main-loop clock the test can
// move forward.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/Misc.h"
#include "Common/uCachedLogFileClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "HTTPRedirect/udmSSLServer.h"
#include "host/fLBServerStatus.h"
#include "host/fTestRequestProg.h"
#include "host/ServiceConsole.h"
#include "host/fVantrellProgram.h"
#include "host/uGlobalName.h"
#include "platform/MessageBox.h"
#include "platform/RWLock.h"
#include "platform/SysUtils.h"
#include "tests/HTTPRedirect/HostFixture.h"
#include "tests/platform/TlsTestCerts.h"
#include "webadmin/fVT_Admin.h"

namespace {

using namespace std::chrono_literals;
using hosttest::FreePort;

// Points BROWSER at a script that appends every address it is given to a
// file, for as long as it lives.
class RecordingBrowser {
 public:
  explicit RecordingBrowser(const std::string& folder)
      : script_(folder + "browser.sh"), record_(folder + "opened.txt") {
    std::ofstream(script_) << "#!/bin/sh\necho \"$1\" >> '" << record_ << "'\n";
    EXPECT_EQ(::chmod(script_.c_str(), 0755), 0);
    const char* old = std::getenv("BROWSER");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    ::setenv("BROWSER", script_.c_str(), 1);
  }
  ~RecordingBrowser() {
    if (hadOld_) ::setenv("BROWSER", old_.c_str(), 1);
    else ::unsetenv("BROWSER");
  }
  RecordingBrowser(const RecordingBrowser&) = delete;
  RecordingBrowser& operator=(const RecordingBrowser&) = delete;
  const std::string& Record() const { return record_; }

 private:
  std::string script_;
  std::string record_;
  std::string old_;
  bool hadOld_ = false;
};

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = GetCurrentDir();
    ASSERT_EQ(::chdir(folder_.Path().c_str()), 0);
    loop().Reset();
    loop().BindToCurrentThread();
    // Real time (or the moment it was frozen) plus what the test skips forward.
    loop().SetTimeSource([this] { return (frozen_ ? frozenAt_.load() : RealMs()) + skipped_.load(); });
    auto rec = std::make_unique<RecordingMessageBoxer>();
    boxes = rec.get();
    InstallMessageBoxer(std::move(rec));
    app = std::make_unique<TApplication>(loop());
    app->Title = "Vantrell Switch";
    RunningAsService = false;
    DebugMode = false;
    OWAEdition = false;
    TfrmVantrellProgram::SleepMs = [this](uint32_t ms) { skipped_ += ms; };
    adminPort = FreePort();
    httpPort = FreePort();
    SetCommandLine({"/opt/vantrell/vantrell", "prog"});
  }
  void TearDown() override {
    frozen_ = false;  // a stop waits for the engine's timer
    if (console != nullptr && console->Engine() != nullptr && console->Engine()->Stats->ServerState == 1) {
      std::string msg;
      console->Engine()->StopServer(msg);
    }
    app.reset();
    service.reset();
    InstallMessageBoxer(nullptr);
    TfrmVantrellProgram::SleepMs = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    TfrmVantrellProgram::DesktopPresent = InteractiveDesktopPresent;
    RunningAsService = false;
    DebugMode = false;
    loop().SetTimeSource(nullptr);
    loop().Reset();
    ASSERT_EQ(::chdir(previousDir_.c_str()), 0);
  }
  static MainLoop& loop() { return MainLoop::Instance(); }
  static uint64_t RealMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }
  // Main-loop time stands still but for Skip (nothing may wait for a timer).
  void Freeze() {
    frozenAt_ = RealMs();
    frozen_ = true;
  }

  void WriteSettings(bool withDomain = true) {
    hosttest::Settings s;
    s.handler.SetAdminPort(adminPort);
    if (withDomain) {
      TDomain* d = s.AddDomain("shop.example", httpPort, FreePort());
      d->AddVirtualPath()->Path = "/app";
    }
    s.Save();
  }
  void Create() {
    console = new TfrmVantrellProgram(nullptr, tray);
    app->MainForm = RunningAsService ? nullptr : console;
  }
  // Skips Ms of main-loop time and runs what became due.
  void Skip(uint64_t ms) {
    skipped_ += ms;
    loop().ProcessPending();
  }
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      loop().ProcessPending();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  std::string Tip(size_t i) const { return tray.calls.at(i).data.Tip(); }
  std::vector<std::string> MemoLines() const { return console->Memo_MainReport->Lines.Items(); }

  TempFolder folder_;
  std::string previousDir_;
  std::atomic<uint64_t> skipped_{0};
  std::atomic<bool> frozen_{false};
  std::atomic<uint64_t> frozenAt_{0};
  RecordingMessageBoxer* boxes = nullptr;
  RecordingTrayHost tray;
  std::unique_ptr<TdmHTTPBase> service;  // the service's engine in service mode
  std::unique_ptr<TApplication> app;
  TfrmVantrellProgram* console = nullptr;
  int adminPort = 0;
  int httpPort = 0;
};

TEST_F(Console, ProgramStartSplashAndTray) {
  WriteSettings();
  Freeze();
  Create();
  ASSERT_FALSE(console->CreateFailed);
  EXPECT_EQ(console->Caption(), "Vantrell Switch");
  EXPECT_TRUE(console->Engine()->HTTPServer->Active());
  EXPECT_TRUE(IsGlobalNameRegistered("VantrellHSProgram"));
  // The splash shape.
  EXPECT_EQ(console->BorderStyle, TBorderStyle::bsNone);
  EXPECT_EQ(console->Menu, nullptr);
  EXPECT_EQ(std::vector<int>({console->Left, console->Top, console->Width, console->Height}),
            std::vector<int>({830, 699, 194, 69}));
  EXPECT_EQ(console->Label_Version->Caption(), "2.2.51");
  EXPECT_FALSE(console->Visible());

  // The icon went in with the starting picture, then the running one.
  std::vector<std::string> icons;
  for (const auto& c : tray.calls) icons.push_back(c.data.hIcon);
  const auto starting = std::find(icons.begin(), icons.end(), "starting");
  ASSERT_NE(starting, icons.end());
  EXPECT_EQ(tray.calls.back().data.hIcon, "running");
  EXPECT_EQ(tray.calls.back().data.Tip(), "Vantrell Switch - Program is RUNNING");
  EXPECT_EQ(console->StatusBar1->Panel(0).Text, "Server : Active");

  Skip(999);
  EXPECT_EQ(frmVT_Admin, nullptr);
  Skip(1);
  ASSERT_NE(frmVT_Admin, nullptr);
  EXPECT_TRUE(frmVT_Admin->Running());
  EXPECT_FALSE(console->Visible());
  EXPECT_EQ(console->Caption(), "Vantrell Switch 2.2.51");
  EXPECT_EQ(std::vector<int>({console->Left, console->Top, console->Width, console->Height}),
            std::vector<int>({235, 299, 789, 469}));
  EXPECT_EQ(console->Menu, console->MainMenu1);
  EXPECT_EQ(console->BorderStyle, TBorderStyle::bsSizeable);
  EXPECT_FALSE(console->pnlSplash->Visible());
  EXPECT_TRUE(console->Action("Action_RestoreWindow")->Enabled());
  EXPECT_FALSE(console->Action("Action_MinimizeWindow")->Enabled());
  EXPECT_TRUE(boxes->shown.empty());

  // A double click on the icon brings the console up.
  tray.SendMessage(console->CoolTrayIcon1->Id(), WM_LBUTTONDBLCLK);
  EXPECT_TRUE(console->Visible());
  EXPECT_FALSE(console->Action("Action_RestoreWindow")->Enabled());
}

TEST_F(Console, RefreshServerStateTable) {
  WriteSettings();
  Create();
  TdmHTTPBase& engine = *console->Engine();
  // Every row of one server state: program and service mode, tray icon enabled or not.
  auto rows = [&](const std::string& state, bool active) {
    for (bool service : {false, true}) {
      for (bool trayEnabled : {true, false}) {
        SCOPED_TRACE(state + (service ? ", service" : ", program") + (trayEnabled ? "" : ", tray off"));
        RunningAsService = service;
        console->CoolTrayIcon1->Enabled = trayEnabled;
        const size_t before = tray.calls.size();
        console->RefreshServerState();
        EXPECT_EQ(console->StatusBar1->Panel(0).Text, active ? "Server : Active" : "Server : Inactive");
        EXPECT_EQ(console->Action("Action_StartServer")->Enabled(), !active);
        EXPECT_EQ(console->Action("Action_StopServer")->Enabled(), active);
        if (!trayEnabled) {
          EXPECT_EQ(tray.calls.size(), before);
          continue;
        }
        ASSERT_GT(tray.calls.size(), before);
        EXPECT_EQ(tray.calls.back().data.hIcon, active ? "running" : "stopped");
        EXPECT_EQ(tray.calls.back().data.Tip(), std::string("Vantrell Switch - ") + (service ? "Service" : "Program") +
                                                    " is " + (active ? "RUNNING" : "STOPPED"));
      }
    }
  };
  std::string msg;
  ASSERT_TRUE(engine.HTTPServer->Active());
  rows("HTTP on", true);
  engine.StopServer(msg);
  rows("HTTP off", false);

  // HTTPS bindings only: the switch serves, but only the plain HTTP listener counts.
  tlstest::TlsFiles certs(folder_.Path() + "data/cert");
  {
    hosttest::Settings s;
    s.handler.SetAdminPort(adminPort);
    s.handler.SSLSettingsList.Clear();
    const int httpsPort = FreePort();
    TDomain* d = s.AddDomain("secure.example", httpsPort, FreePort());
    d->DefaultForPort = false;
    d->IPsToBindTo.Add("127.0.0.1");
    d->SSL = true;
    TSSLSettings* set = s.handler.SSLSettingsList.AddNew();
    set->Enabled = true;
    set->CertificateFile = "server.pem";
    set->KeyFile = "server.key";
    set->RootCertificateFile = "ca.pem";
    set->CertificatePassword = "secret";
    set->Bindings.AddBinding("127.0.0.1", httpsPort);
    s.Save();
  }
  engine.LoadSettings(msg);
  engine.StartServer(msg);
  ASSERT_EQ(engine.Stats->ServerState, 1) << msg;
  ASSERT_EQ(engine.SSLServers->Count(), 1);
  ASSERT_TRUE(engine.SSLServers->Items(0)->Server->Active());
  rows("HTTPS only", false);

  OWAEdition = true;
  console->ProductTitle = "Vantrell OWA";
  RunningAsService = true;
  console->CoolTrayIcon1->Enabled = true;
  console->RefreshServerState();
  EXPECT_EQ(tray.calls.back().data.Tip(), "Vantrell OWA - Service is STOPPED");
  OWAEdition = false;
  RunningAsService = false;
}

TEST_F(Console, AddLogLineFiltersAndTrims) {
  WriteSettings();
  Create();
  console->Memo_MainReport->Lines.Clear();
  struct Case {
    uint8_t kind;
    bool events, w3c;
    std::vector<std::string> expected;
  };
  const Case cases[] = {{0, false, false, {}},     {0, true, false, {"vt:x"}}, {1, true, false, {}},
                        {1, false, true, {"ex:x"}}, {0, false, true, {}}};
  for (const Case& c : cases) {
    console->Memo_MainReport->Lines.Clear();
    console->Action("Action_ShowLoggedEvents")->SetChecked(c.events);
    console->Action("Action_ShowLoggedW3C")->SetChecked(c.w3c);
    console->AddLogLine("x", c.kind);
    EXPECT_EQ(MemoLines(), c.expected) << int(c.kind) << c.events << c.w3c;
  }
  console->Action("Action_ShowLoggedEvents")->SetChecked(true);
  console->Memo_MainReport->Lines.Clear();
  for (int i = 1; i <= 1000; ++i) console->AddLogLine(IntToStr(i), 0);
  EXPECT_EQ(console->Memo_MainReport->Lines.Count(), 1000);
  console->AddLogLine("1001", 0);
  ASSERT_EQ(console->Memo_MainReport->Lines.Count(), 500);
  EXPECT_EQ(console->Memo_MainReport->Lines[0], "vt:502");
  // The trim runs on every call, also with both checks off.
  for (int i = 0; i < 501; ++i) console->Memo_MainReport->Lines.Add("y");
  console->Action("Action_ShowLoggedEvents")->SetChecked(false);
  console->AddLogLine("z", 0);
  EXPECT_EQ(console->Memo_MainReport->Lines.Count(), 500);
}

TEST_F(Console, ThreadsLinesOfEightThreadsArriveInOrder) {
  WriteSettings();
  Create();
  console->Action("Action_ShowLoggedEvents")->SetChecked(true);
  console->Memo_MainReport->Lines.Clear();
  TdmHTTPBase* engine = console->Engine();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([engine, t] {
      for (int i = 0; i < 50; ++i) engine->Log(Format("T%d %d", t, i));
    });
  for (auto& th : threads) th.join();
  ASSERT_TRUE(PumpUntil([&] { return console->Memo_MainReport->Lines.Count() >= 400; }));
  std::vector<int> next(8, 0);
  for (const std::string& line : MemoLines()) {
    int t = -1, i = -1;
    if (std::sscanf(line.c_str(), "vt:T%d %d", &t, &i) != 2) continue;
    EXPECT_EQ(i, next[static_cast<size_t>(t)]) << line;
    next[static_cast<size_t>(t)] = i + 1;
  }
  EXPECT_EQ(next, std::vector<int>(8, 50));
}

TEST_F(Console, QuestionsAndTheirAnswers) {
  WriteSettings();
  Create();
  TdmHTTPBase* engine = console->Engine();
  boxes->answers = {TMsgResult::mrNo};
  console->Action("Action_StopServer")->Execute();
  ASSERT_EQ(boxes->shown.size(), 1u);
  EXPECT_EQ(boxes->shown[0].caption, "Vantrell Switch Stop server");
  EXPECT_EQ(boxes->shown[0].text, "This will stop the server, are you sure you want to do this?");
  EXPECT_EQ(boxes->shown[0].type, TMsgDlgType::mtWarning);
  EXPECT_EQ(boxes->shown[0].buttons, TMsgButtons::mbYesNo);
  EXPECT_TRUE(engine->HTTPServer->Active());

  boxes->answers = {TMsgResult::mrYes};
  console->Action("Action_StopServer")->Execute();
  EXPECT_FALSE(engine->HTTPServer->Active());
  EXPECT_EQ(console->StatusBar1->Panel(0).Text, "Server : Inactive");
  EXPECT_TRUE(console->Action("Action_StartServer")->Enabled());

  console->Action("Action_StartServer")->Execute();
  EXPECT_TRUE(engine->HTTPServer->Active());
  DebugMode = true;
  console->Memo_MainReport->Lines.Clear();
  const size_t asked = boxes->shown.size();
  console->Action("Action_StopServer")->Execute();
  EXPECT_EQ(boxes->shown.size(), asked);
  EXPECT_FALSE(engine->HTTPServer->Active());
  ASSERT_GE(console->Memo_MainReport->Lines.Count(), 2);
  EXPECT_EQ(console->Memo_MainReport->Lines[0], "Stopping Server");
  EXPECT_EQ(MemoLines().back(), "*DONE*");
  DebugMode = false;

  boxes->answers = {TMsgResult::mrNo};
  console->Action("Action_CloseProgram")->Execute();
  EXPECT_EQ(boxes->shown.back().caption, "Vantrell Switch Shutdown");
  EXPECT_FALSE(console->CloseRequested);
  EXPECT_FALSE(app->Terminated());

  boxes->answers = {TMsgResult::mrNo};
  console->Action("Action_ClearLBConnections")->Execute();
  EXPECT_EQ(boxes->shown.back().caption, "Vantrell Switch Shutdown");
  EXPECT_EQ(boxes->shown.back().text,
            "All currently connected users will be assigned to new servers - are you sure you want to do this?");

  boxes->answers = {TMsgResult::mrNo, TMsgResult::mrYes};
  EXPECT_FALSE(console->WMQueryEndSession());
  EXPECT_TRUE(console->WMQueryEndSession());
}

TEST_F(Console, ClosingInProgramMode) {
  WriteSettings();
  Create();
  Skip(1000);
  console->Show();
  // The window's close box only hides.
  console->Close();
  EXPECT_FALSE(console->Visible());
  EXPECT_TRUE(console->Engine()->HTTPServer->Active());
  EXPECT_FALSE(app->Terminated());

  boxes->answers = {TMsgResult::mrYes};
  console->Action("Action_CloseProgram")->Execute();
  EXPECT_TRUE(console->CloseRequested);
  EXPECT_TRUE(app->Terminated());
  EXPECT_EQ(console->Engine()->Stats->ServerState, 3);
  EXPECT_EQ(frmVT_Admin, nullptr);
  EXPECT_FALSE(IsGlobalNameRegistered("VantrellHSProgram"));
  app.reset();  // the engine goes with the form
  console = nullptr;
  EXPECT_TRUE(FileExists("data/lbconnections.bin"));
}

TEST_F(Console, ServiceModeAttachAndDetach) {
  WriteSettings();
  RunningAsService = true;
  service = std::make_unique<TdmHTTPBase>(loop());
  std::string msg;
  service->LoadSettings(msg);
  service->StartServer(msg);
  Create();
  ASSERT_FALSE(console->CreateFailed);
  EXPECT_EQ(console->Engine(), service.get());
  EXPECT_TRUE(service->HasGUILogSink());
  EXPECT_FALSE(console->Action("Action_CloseProgram")->Enabled());
  Skip(1000);
  EXPECT_EQ(frmVT_Admin, nullptr) << "the service brings its own administration";

  // Web Administration without an administration: an error box, no wait.
  console->Action("Action_OpenAdministrationWeb")->Execute();
  ASSERT_EQ(boxes->shown.size(), 1u);
  EXPECT_EQ(boxes->shown[0].type, TMsgDlgType::mtError);
  EXPECT_EQ(app->Screen.Cursor, TCursor::crDefault);

  // Closed with a desktop present: hidden and still attached.
  TfrmVantrellProgram::DesktopPresent = [] { return true; };
  console->Show();
  console->Close();
  EXPECT_FALSE(console->Visible());
  EXPECT_EQ(frmVantrellProgram, console);
  EXPECT_FALSE(app->Terminated());

  // Closed for good with no desktop: off the tray, detached and freed.
  TfrmVantrellProgram::DesktopPresent = [] { return false; };
  console->SetCloseRequested(true);
  console->Close();
  EXPECT_EQ(tray.calls.back().op, ITrayHost::TOp::Delete);
  EXPECT_FALSE(service->HasGUILogSink());
  EXPECT_EQ(frmVantrellProgram, nullptr);
  loop().ProcessPending();
  EXPECT_EQ(app->ComponentCount(), 0);
  console = nullptr;
  EXPECT_FALSE(app->Terminated());
  EXPECT_TRUE(service->HTTPServer->Active());
  service->StopServer(msg);
}

TEST_F(Console, ServiceModeWithoutAnEngineDropsOnlyTheConsole) {
  RunningAsService = true;
  Create();
  EXPECT_TRUE(console->CreateFailed);
  ASSERT_EQ(boxes->shown.size(), 1u);
  EXPECT_EQ(boxes->shown[0].caption, "Vantrell Switch Startup");
  EXPECT_EQ(boxes->shown[0].text.rfind("Vantrell Switch Server Startup Failed! Will close down. Error was ", 0), 0u);
  EXPECT_FALSE(app->Terminated());
  console->Free();
  console = nullptr;

  // The service's factory, which brings its own application: nothing is left
  // behind, and the loop the service runs on goes on.
  app.reset();
  EXPECT_EQ(CreateServiceConsole(), nullptr);
  EXPECT_EQ(boxes->shown.size(), 2u);
  EXPECT_EQ(frmVantrellProgram, nullptr);
  EXPECT_EQ(Application, nullptr);
  bool ran = false;
  loop().Post([&] { ran = true; });
  loop().ProcessPending();
  EXPECT_TRUE(ran);
}

TEST_F(Console, WebAdministrationWithItsPortTakenEndsWithAnErrorBox) {
  SocketHandle taken = tcptest::RawListener();
  adminPort = tcptest::PortOf(taken.Get());
  WriteSettings();
  Create();
  Skip(1000);
  ASSERT_NE(frmVT_Admin, nullptr);
  EXPECT_FALSE(frmVT_Admin->Running());
  console->Action("Action_OpenAdministrationWeb")->Execute();
  ASSERT_FALSE(boxes->shown.empty());
  EXPECT_EQ(boxes->shown.back().type, TMsgDlgType::mtError);
}

TEST_F(Console, CountersAreWrittenOnlyWhileVisible) {
  WriteSettings();
  Create();
  TStatHolder& s = *console->Engine()->Stats;
  s.BytesTransferred = 1234567;
  s.BytesSaved = 800;
  s.KBPerSecond = 4.0f;
  s.RequestsPerSecond = 12.25f;
  s.TotalRequests = 1000;
  console->Timer_RefreshGUITimer(*console->Timer_RefreshGUI);
  EXPECT_EQ(console->lblTransferred->Caption(), "0");
  console->Show();
  console->Timer_RefreshGUITimer(*console->Timer_RefreshGUI);
  EXPECT_EQ(console->lblTransferred->Caption(), "1 234 567");
  EXPECT_EQ(console->lblCompSave->Caption(), "800");
  EXPECT_EQ(console->lblKBs->Caption(), "4.0");
  EXPECT_EQ(console->lblRequestsPerSec->Caption(), "12.2");
  EXPECT_EQ(console->lblRequests->Caption(), "1 000");
  EXPECT_EQ(console->lblCompression->Caption().back(), '%');
  EXPECT_EQ(console->lblTime->Caption().rfind("| Time ", 0), 0u);
  EXPECT_EQ(console->lblTime->Caption().size(), std::string("| Time 09:05:03").size());
  EXPECT_EQ(console->lblLogDropped->Caption(), "0");
  // A line larger than the whole queue is dropped, and counted.
  TLogFile& log = *console->Engine()->LogFile;
  log.Flush();
  log.WriteLine(std::string((32u << 20) + 1, 'x'));
  console->Timer_RefreshGUITimer(*console->Timer_RefreshGUI);
  EXPECT_EQ(console->lblLogDropped->Caption(), "1");
}

class FailingDump : public TfrmVantrellProgram {
 public:
  using TfrmVantrellProgram::TfrmVantrellProgram;
  bool fail = false;

 protected:
  void DumpDomains(TStringList& lines) override {
    if (!fail) return TfrmVantrellProgram::DumpDomains(lines);
    lines.Add("partial");
    throw Exception("dump failed");
  }
};

TEST_F(Console, DebugDumpGoldenTextAndDoneAfterAFailingStep) {
  WriteSettings();
  auto* dumping = new FailingDump(nullptr, tray);
  console = dumping;
  app->MainForm = console;
  console->Memo_MainReport->Lines.Clear();
  console->DebugDump();
  const std::vector<std::string> expected = {
      "", "LBConnectionCount : 0", "TClientThreadCount : 0", "",
      "UserName : " + GetUserNameStr(), "ComputerName : " + GetComputerNameStr(), "",
      "Param[0] = /opt/vantrell/vantrell", "Param[1] = prog", "",
      "(listing active http threads)", "", "Active Threads : 0",
      "(listing active https threads)", "", "", "Domains / VPaths", "Site: Data Trans=0",
      "  shop.example: Data Trans=0, Req=0", "    /app: Data Trans=0, Req=0", "*DONE*"};
  EXPECT_EQ(MemoLines(), expected);

  console->Memo_MainReport->Lines.Clear();
  dumping->fail = true;
  console->Action("Action_DebugInfo")->Execute();  // the error box, and on
  const std::vector<std::string> lines = MemoLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "partial");
  EXPECT_EQ(lines.back(), "*DONE*");
  ASSERT_FALSE(boxes->shown.empty());
  EXPECT_EQ(boxes->shown.back().text, "dump failed");
  // The read lock was let go: a writer gets in.
  TDomainHandler& config = *console->Engine()->Stats->DomainHandler;
  std::thread writer([&] {
    config.Synchronizer.BeginWrite();
    config.Synchronizer.EndWrite();
  });
  writer.join();
}

TEST_F(Console, StatusPageAndFoldersOpenThroughTheBrowser) {
  WriteSettings();
  const RecordingBrowser browser(folder_.Path());
  const std::string& record = browser.Record();
  Create();
  console->Action("Action_OpenWebStatus")->Execute();
  EXPECT_TRUE(PumpUntil([&] { return FileExists(record) && ReadWholeFile(record).find('\n') != std::string::npos; }));
  console->Action("Action_GoToLogDirectory")->Execute();
  EXPECT_TRUE(PumpUntil([&] { return ReadWholeFile(record).find("/Log\n") != std::string::npos; }));
  const std::string opened = ReadWholeFile(record);
  EXPECT_EQ(opened.substr(0, opened.find('\n')), "http://127.0.0.1:" + IntToStr(adminPort) + "?status");
  EXPECT_NE(opened.find(IncludeTrailingPathDelimiter(GetCurrentDir()) + "Log\n"), std::string::npos);
}

// Status Page goes where the administration listens: the default port while
// the stored one is 0 or below, and the running server's own port after a
// reload stored another one (a new port counts from the next start).
TEST_F(Console, StatusPageOpensThePortTheAdministrationListensOn) {
  WriteSettings();
  const RecordingBrowser browser(folder_.Path());
  const std::string& record = browser.Record();
  Create();
  TDomainHandler& live = *console->Engine()->Stats->DomainHandler;
  auto statusWith = [&](int32_t stored) {
    {
      WriteLockGuard g(live.Synchronizer);
      live.AdminPort = stored;
    }
    std::remove(record.c_str());
    console->Action("Action_OpenWebStatus")->Execute();
    EXPECT_TRUE(PumpUntil([&] { return ReadWholeFile(record).find('\n') != std::string::npos; }));
    const std::string opened = ReadWholeFile(record);
    return opened.substr(0, opened.find('\n'));
  };
  // Before the splash has started the administration.
  EXPECT_EQ(statusWith(0), "http://127.0.0.1:19721?status");
  EXPECT_EQ(statusWith(-5), "http://127.0.0.1:19721?status");
  Skip(1000);
  ASSERT_NE(frmVT_Admin, nullptr);
  ASSERT_TRUE(frmVT_Admin->Running());
  EXPECT_EQ(statusWith(1), "http://127.0.0.1:" + IntToStr(adminPort) + "?status");
  EXPECT_EQ(statusWith(0), "http://127.0.0.1:" + IntToStr(adminPort) + "?status");
}

TEST_F(Console, MonitoringWindowsOpenOnceAndHidingTheConsoleClosesTheStatus) {
  WriteSettings();
  Create();
  Skip(1000);
  console->Action("Action_RestoreWindow")->Execute();
  console->Action("Action_ShowServerClusterStatus")->Execute();
  TfrmLBServerStatus* status = frmLBServerStatus;
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->Owner(), console);
  EXPECT_TRUE(status->Visible());
  console->Action("Action_ShowServerClusterStatus")->Execute();
  EXPECT_EQ(frmLBServerStatus, status);
  console->Action("Action_TestRequest")->Execute();
  ASSERT_NE(frmTestRequestProg, nullptr);
  EXPECT_EQ(frmTestRequestProg->Owner(), console);
  EXPECT_EQ(frmTestRequestProg->ComboBox_Host->Items, std::vector<std::string>({"shop.example"}));
  frmTestRequestProg->Edit_Port->SetText(IntToStr(httpPort));
  frmTestRequestProg->Button_Test->Click();
  ASSERT_GE(frmTestRequestProg->Memo_Report->Lines.Count(), 4);
  EXPECT_EQ(frmTestRequestProg->Memo_Report->Lines[3], "Domain=shop.example");

  // Hiding the console closes the status window, not the test window.
  console->Action("Action_MinimizeWindow")->Execute();
  EXPECT_EQ(frmLBServerStatus, nullptr);
  ASSERT_NE(frmTestRequestProg, nullptr);
  Skip(1000);
  frmTestRequestProg->Close();
  EXPECT_EQ(frmTestRequestProg, nullptr);
  Skip(0);
  EXPECT_TRUE(boxes->shown.empty());
}

}  // namespace
