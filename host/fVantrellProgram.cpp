#include "host/fVantrellProgram.h"

#include <chrono>
#include <thread>

#include "Common/Misc.h"
#include "Common/uCachedLogFileClasses.h"
#include "Common/uClientThread.h"
#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancedConnections.h"
#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "HTTPRedirect/udmSSLServer.h"
#include "host/fLBServerStatus.h"
#include "host/ServiceConsole.h"
#include "host/fTestRequestProg.h"
#include "platform/DateTime.h"
#include "platform/MessageBox.h"
#include "platform/RWLock.h"
#include "platform/SysUtils.h"
#include "webadmin/fVT_Admin.h"

int TrayIconRunning = 12;
int TrayIconStopped = 13;
int TrayIconStarting = 14;
TfrmVantrellProgram* frmVantrellProgram = nullptr;

std::function<void(uint32_t)> TfrmVantrellProgram::SleepMs = [](uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
};
std::function<bool()> TfrmVantrellProgram::DesktopPresent = InteractiveDesktopPresent;

namespace {

// The product's own pages; the help lies below the home page.
const char* const kHomePage = "https://www.vantrell.example/";
const char* const kHelpBaseURL = "https://www.vantrell.example/help/";

const char* const kStopQuestion = "This will stop the server, are you sure you want to do this?";
const char* const kClearLBQuestion =
    "All currently connected users will be assigned to new servers - are you sure you want to do this?";

// The pictures of ImageList1: action images 0-11, tray icons 6-8 (older
// systems) and 12-14.
const std::vector<std::string> kImages = {"start",   "stop",     "restore", "reload", "close", "minimize",
                                          "running", "stopped",  "starting", "clear", "web",   "help",
                                          "running", "stopped",  "starting"};

struct TActionDef {
  const char* name;
  const char* caption;
  const char* category;
  int image;
  TShortCut shortCut;
  bool autoCheck;
};

const TActionDef kActions[] = {
    {"Action_StartServer", "&Start server", "Server", 0, 0, false},
    {"Action_StopServer", "S&top server", "Server", 1, 0, false},
    {"Action_ReloadSettings", "&Reload Settings", "Server", 3, 0, false},
    {"Action_ClearLBConnections", "Clear &Load Balanced Conections", "Server", -1, 0, false},
    {"Action_HTTPCompression", "&HTTP Compression", "Server", -1, 0, false},
    {"Action_CloseProgram", "&Close program", "Server", 4, 0, false},
    {"Action_RestartServer", "&Restart server", "Server", 3, 0, false},
    {"Action_OpenAdministrationWeb", "Web &Administration", "Administration", 10, 0, false},
    {"Action_OpenWebStatus", "Status &Page", "Administration", 10, 0, false},
    {"Action_ShowLoggedEvents", "Show Logged &Events", "Logging", -1, 0, true},
    {"Action_ShowLoggedW3C", "Show Logged &W3C", "Logging", -1, 0, true},
    {"Action_LogRequestHeader", "&Log Request Header", "Logging", -1, 0, true},
    {"Action_LogResponseHeader", "Log R&esponse Header", "Logging", -1, 0, true},
    {"Action_LogLoadBalancedConnections", "Show Load &Balanced Connections", "Logging", -1, 0, false},
    {"Action_ShowServerClusterStatus", "L&B Status", "Logging", 10, 0, false},
    {"Action_ClearVisibleLog", "&Clear visible log", "Logging", 9, 0, false},
    {"Action_GoToLogDirectory", "Go to Log &Directory", "Logging", -1, 0, false},
    {"Action_TestLBServers", "Test Load Balanced Servers", "Debug", -1, CtrlKey('L'), false},
    {"Action_ShowLBServers", "Show LB Server Status", "Debug", -1, 0, false},
    {"Action_TestRequest", "Test &Request", "Debug", -1, 0, false},
    {"Action_DebugInfo", "Debug &Info", "Debug", -1, CtrlKey('D'), false},
    {"Action_FailLBServerChecks", "Fail LB Server Checks", "Debug", -1, 0, false},
    {"Action_RestoreWindow", "&Restore window", "", 2, 0, false},
    {"Action_MinimizeWindow", "&Minimize window", "", 5, 0, false},
    {"Action_VantrellHelp", "&Vantrell Help", "Help", 11, 0, false},
    {"Action_Support", "&Support", "Help", -1, 0, false},
    {"Action_About", "&About...", "Help", -1, 0, false},
};

}  // namespace

// The flag has no other reader, as in the system it stands for.
static bool DebugFailLBServerChecks = false;

void ChooseTrayIcons(const TOsVersionInfo& os) {
  const bool xpOrLater = os.queried && os.nt && (os.major > 5 || (os.major == 5 && os.minor >= 1));
  TrayIconRunning = xpOrLater ? 12 : 6;
  TrayIconStopped = xpOrLater ? 13 : 7;
  TrayIconStarting = xpOrLater ? 14 : 8;
}

// ------------------------------------------------------------ creation

TfrmVantrellProgram::TfrmVantrellProgram(TComponent* owner, ITrayHost& tray) : TForm(owner) {
  Name = "frmVantrellProgram";
  SetBounds(0, 0, 789, 469);
  Center();
  CreateControls();
  CreateActions();
  CreateMenus();
  OnShow = [this](TForm& f) { FormShow(f); };
  OnHide = [this](TForm& f) { FormHide(f); };
  OnCloseQuery = [this](TForm& f, bool& can) { FormCloseQuery(f, can); };
  OnClose = [this](TForm& f, TCloseAction& a) { FormClose(f, a); };
  frmVantrellProgram = this;
  FormCreate(tray);
}

TfrmVantrellProgram::~TfrmVantrellProgram() {
  Detach();
  // A console that goes without its close handler still gives the name back.
  if (programMode_) UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));
  if (frmVantrellProgram == this) frmVantrellProgram = nullptr;
  // The administration goes before the engine: its pages may still call it.
  if (frmVT_Admin == admin_.get()) frmVT_Admin = nullptr;
  admin_.reset();
  ownEngine_.reset();
}

void TfrmVantrellProgram::CreateControls() {
  ImageList1 = new TImageList(this);
  ImageList1->Images = kImages;

  ToolBar1 = new TToolBar(this, this);
  ToolBar1->Name = "ToolBar1";

  pnlCounters = new TPanel(this, this);
  pnlCounters->Name = "pnlCounters";
  auto pair = [this](const char* caption, const char* hint, TLabel*& value) {
    auto* c = new TLabel(this, pnlCounters);
    c->SetCaption(caption);
    c->Hint = hint;
    value = new TLabel(this, pnlCounters);
    value->Bold = true;
    value->Hint = hint;
    value->SetCaption("0");
  };
  pair("Transferred", "Number of bytes transferred", lblTransferred);
  pair("Comp. save", "", lblCompSave);
  pair("| Compression", "", lblCompression);
  pair("| Threads active", "Number of currently active threds / connections", lblThreadsActive);
  pair("| Threads in pool", "Number of threads pooled", lblThreadsInPool);
  pair("| Connections", "Total number of connections", lblConnections);
  pair("| LB Sessions", "", lblLBSessions);
  pair("| Requests", "Total number of requests", lblRequests);
  pair("| KB/s", "Total number of requests", lblKBs);
  pair("| Requests / s", "Requests Per Second", lblRequestsPerSec);
  pair("Transfers", "Total number of connections", lblTransfers);
  pair("| Keep-Alive", "", lblKeepAlive);
  pair("| Log lines dropped", "Log lines dropped on a full log queue (event log and W3C; STAT1 tells them apart)",
       lblLogDropped);
  lblTime = new TLabel(this, pnlCounters);
  lblTime->Hint = "Number of threads pooled";

  Memo_MainReport = new TMemo(this, this);
  Memo_MainReport->Name = "Memo_MainReport";
  Memo_MainReport->ReadOnly = true;
  Memo_MainReport->WordWrap = false;

  StatusBar1 = new TStatusBar(this, this);
  StatusBar1->Name = "StatusBar1";
  StatusBar1->AddPanel(100);
  StatusBar1->AddPanel(90);
  StatusBar1->AddPanel(50);

  pnlSplash = new TPanel(this, this);
  pnlSplash->Name = "pnlSplash";
  pnlSplash->White = true;
  pnlSplash->SetBounds(0, 0, 194, 69);
  pnlSplash->SetVisible(false);
  imgSplash = new TImage(this, pnlSplash);
  imgSplash->Name = "imgSplash";
  Label_Version = new TLabel(this, pnlSplash);
  Label_Version->Name = "Label_Version";

  Timer_RefreshGUI = new TTimer(this);
  Timer_RefreshGUI->SetInterval(250);
  Timer_RefreshGUI->OnTimer = [this](TTimer& t) { Timer_RefreshGUITimer(t); };
  tmrShowSplash = new TTimer(this);
  tmrShowSplash->SetEnabled(false);
  tmrShowSplash->SetInterval(1000);
  tmrShowSplash->OnTimer = [this](TTimer& t) { tmrShowSplashTimer(t); };
}

TAction* TfrmVantrellProgram::Action(const std::string& name) const { return ActionList1->Find(name); }

void TfrmVantrellProgram::CreateActions() {
  ActionList1 = new TActionList(this);
  Actions = ActionList1;
  for (const TActionDef& d : kActions) {
    TAction* a = ActionList1->Add(d.name);
    a->Caption = d.caption;
    a->Category = d.category;
    a->ImageIndex = d.image;
    a->ShortCut = d.shortCut;
    a->AutoCheck = d.autoCheck;
  }
  Action("Action_StopServer")->SetEnabled(false);
  Action("Action_HTTPCompression")->SetChecked(true);
  Action("Action_HTTPCompression")->SetVisible(false);
  Action("Action_CloseProgram")->Hint = "This will close Vantrell";

  auto on = [this](const char* name, std::function<void()> fn) {
    Action(name)->OnExecute = [fn = std::move(fn)](TAction&) { fn(); };
  };
  auto dump = [this] {
    TStringList lines;
    ReadLockGuard g(engine_->Stats->DomainHandler->Synchronizer);
    engine_->Stats->DomainHandler->DumpClusterStatus(lines);
    AddLines(lines);
  };
  on("Action_StartServer", [this] { Action_StartServerExecute(); });
  on("Action_StopServer", [this] { Action_StopServerExecute(); });
  on("Action_ReloadSettings", [this] {
    std::string msg;
    engine_->LoadSettings(msg);
  });
  on("Action_ClearLBConnections", [this] { Action_ClearLBConnectionsExecute(); });
  on("Action_HTTPCompression", [this] {
    engine_->Stats->CompressionEnabled = !engine_->Stats->CompressionEnabled;
    Action("Action_HTTPCompression")->SetChecked(engine_->Stats->CompressionEnabled);
  });
  on("Action_CloseProgram", [this] { Action_CloseProgramExecute(); });
  on("Action_RestartServer", [this] {
    std::string msg;
    engine_->StopServer(msg);
    RefreshServerState();
    engine_->StartServer(msg);
    RefreshServerState();
  });
  on("Action_OpenAdministrationWeb", [this] { Action_OpenAdministrationWebExecute(); });
  on("Action_OpenWebStatus", [this] { OpenURL("http://127.0.0.1:" + IntToStr(WebAdminPort()) + "?status"); });
  auto flags = [this] {
    engine_->GUILogFlags = static_cast<uint8_t>((Action("Action_ShowLoggedEvents")->Checked() ? 1 : 0) |
                                                (Action("Action_ShowLoggedW3C")->Checked() ? 2 : 0));
  };
  on("Action_ShowLoggedEvents", flags);
  on("Action_ShowLoggedW3C", flags);
  on("Action_LogRequestHeader",
     [this] { engine_->Stats->LogRequestHeaders = Action("Action_LogRequestHeader")->Checked(); });
  on("Action_LogResponseHeader",
     [this] { engine_->Stats->LogResponseHeaders = Action("Action_LogResponseHeader")->Checked(); });
  on("Action_LogLoadBalancedConnections", [this, dump] {
    dump();
    Memo_MainReport->Lines.Add("");
  });
  // The monitoring windows read whichever engine the console shows now.
  auto live = [this]() -> TDomainHandler* {
    return engine_ != nullptr ? engine_->Stats->DomainHandler.get() : nullptr;
  };
  on("Action_ShowServerClusterStatus", [this, live] { ShowLBServerStatus(this, live); });
  on("Action_ClearVisibleLog", [this] { Memo_MainReport->Lines.Clear(); });
  // The program folder's Log, whatever log folder is configured.
  on("Action_GoToLogDirectory", [] { OpenURL(IncludeTrailingPathDelimiter(GetCurrentDir()) + "Log"); });
  on("Action_TestLBServers", [this, dump] {
    engine_->Stats->DomainHandler->CheckIfLBServersAreOK();
    dump();
  });
  on("Action_ShowLBServers", dump);
  on("Action_TestRequest", [this, live] { ShowTestRequest(this, live); });
  on("Action_DebugInfo", [this] { DebugDump(); });
  on("Action_FailLBServerChecks", [this] {
    DebugFailLBServerChecks = !DebugFailLBServerChecks;
    Action("Action_FailLBServerChecks")->SetChecked(DebugFailLBServerChecks);
  });
  on("Action_RestoreWindow", [this] { Show(); });
  on("Action_MinimizeWindow", [this] { Hide(); });
  on("Action_VantrellHelp", [] { OpenURL(std::string(kHelpBaseURL) + "Index.html"); });
  on("Action_Support", [] { OpenURL(std::string(kHomePage) + "Support.asp"); });
  on("Action_About", [] { OpenURL(kHomePage); });
}

void TfrmVantrellProgram::CreateMenus() {
  ToolBar1->AddActions(*ActionList1, {"Action_StartServer", "Action_StopServer", "-", "Action_OpenAdministrationWeb",
                                      "Action_OpenWebStatus", "-", "Action_ShowServerClusterStatus", "-",
                                      "Action_ClearVisibleLog"});
  MainMenu1 = new TMainMenu(this);
  TMenuItem& bar = MainMenu1->Items;
  bar.AddItem("&File").AddActions(*ActionList1, {"Action_CloseProgram"});
  bar.AddItem("&Server").AddActions(*ActionList1, {"Action_StartServer", "Action_StopServer", "-",
                                                   "Action_ReloadSettings", "Action_ClearLBConnections", "-",
                                                   "Action_HTTPCompression"});
  bar.AddItem("&Administration").AddActions(*ActionList1, {"Action_OpenAdministrationWeb", "Action_OpenWebStatus"});
  bar.AddItem("&Log").AddActions(
      *ActionList1, {"Action_ShowLoggedEvents", "Action_ShowLoggedW3C", "-", "Action_LogRequestHeader",
                     "Action_LogResponseHeader", "-", "Action_LogLoadBalancedConnections",
                     "Action_ShowServerClusterStatus", "-", "Action_ClearVisibleLog", "Action_GoToLogDirectory"});
  TMenuItem& debug = bar.AddItem("&Debug");
  debug.AddItem("Debug Settings").AddActions(*ActionList1, {"Action_FailLBServerChecks"});
  debug.AddActions(*ActionList1,
                   {"-", "Action_TestLBServers", "Action_ShowLBServers", "Action_TestRequest", "Action_DebugInfo"});
  TMenuItem& help = bar.AddItem("&Help");
  // The menu says "&Help" where the action says "&Vantrell Help".
  help.AddItem("&Help").OnClick = [this](TMenuItem&) { Action("Action_VantrellHelp")->Execute(); };
  help.AddActions(*ActionList1, {"-", "Action_Support", "-", "Action_About"});
  PopupMenu_TrayIcon = new TPopupMenu(this);
  PopupMenu_TrayIcon->Items.AddActions(
      *ActionList1, {"Action_OpenAdministrationWeb", "-", "Action_OpenWebStatus", "Action_ShowServerClusterStatus",
                     "-", "Action_StartServer", "Action_StopServer", "-", "Action_RestoreWindow",
                     "Action_MinimizeWindow", "-", "Action_CloseProgram"});
  PopupMenu_TrayIcon->Items.Item(PopupMenu_TrayIcon->Items.Count() - 1).Hint = "This will close Vantrell";
}

void TfrmVantrellProgram::FormCreate(ITrayHost& tray) {
  // 1. The tray icon.
  CoolTrayIcon1 = new TCoolTrayIcon(this, tray, Application->Loop());
  CoolTrayIcon1->Name = "CoolTrayIcon1";
  CoolTrayIcon1->SetIconList(ImageList1);
  CoolTrayIcon1->SetCycleInterval(0);
  CoolTrayIcon1->SetIconVisible(true);
  CoolTrayIcon1->SetIconIndex(0);
  CoolTrayIcon1->PopupMenu = PopupMenu_TrayIcon;
  CoolTrayIcon1->MinimizeToTray = true;
  CoolTrayIcon1->OnDblClick = [this](TCoolTrayIcon&) {
    Hide();
    Show();
    BringToFront();
  };
  // 2-5.
  BeginSplash();
  CloseRequested = false;
  ChooseTrayIcons(SystemOsVersion());
  CoolTrayIcon1->SetIconIndex(TrayIconStarting);
  ProductTitle = OWAEdition ? "Vantrell OWA" : "Vantrell Switch";
  SetCaption(ProductTitle);
  // 6.
  programMode_ = !RunningAsService;
  if (!programMode_) {
    Action("Action_CloseProgram")->SetEnabled(false);
  } else {
    GlobalNameHandle = RegisterGlobalName("VantrellHSProgram");
  }
  // 7.
  try {
    if (programMode_) {
      ownEngine_ = std::make_unique<TdmHTTPBase>(Application->Loop());
      engine_ = ownEngine_.get();
    } else {
      engine_ = dmHTTPBase.load();
      if (engine_ == nullptr) throw Exception("No engine to attach to");
    }
    engine_->RegisterHooks();
    engine_->Interactive = true;
    attached_ = true;
    engine_->SetGUILogSink([this](const std::string& text, uint8_t kind) { AddLogLine(text, kind); });
    engine_->SetOnRefreshServerState([this] { RefreshServerState(); });
    std::string msg;
    engine_->LoadSettings(msg);
  } catch (const std::exception& e) {
    MessageDlg(ProductTitle + " Startup",
               ProductTitle + " Server Startup Failed! Will close down. Error was " + e.what(), TMsgDlgType::mtError,
               TMsgButtons::mbOK);
    CreateFailed = true;
    // In service mode only the console goes: the service's loop must go on.
    if (programMode_) Application->Terminate();
    return;
  }
  // 8-12.
  engine_->GUILogFlags = static_cast<uint8_t>((Action("Action_ShowLoggedEvents")->Checked() ? 1 : 0) |
                                              (Action("Action_ShowLoggedW3C")->Checked() ? 2 : 0));
  Action("Action_HTTPCompression")->SetChecked(engine_->Stats->CompressionEnabled);
  if (programMode_) Action("Action_StartServer")->Execute();
  engine_->Interactive = false;
  Action("Action_ShowLoggedW3C")->SetChecked(false);
  if (DebugMode) tmrShowSplash->SetInterval(10);
  tmrShowSplash->SetEnabled(true);
}

void TfrmVantrellProgram::Detach() {
  if (!attached_ || engine_ == nullptr) return;
  attached_ = false;
  engine_->Interactive = false;
  engine_->SetGUILogSink(nullptr);
  engine_->SetOnRefreshServerState(nullptr);
}

// ------------------------------------------------------------ splash

void TfrmVantrellProgram::tmrShowSplashTimer(TTimer& timer) {
  timer.SetEnabled(false);
  if (!programMode_) return;
  StartWebAdmin();
  EndSplash();
}

void TfrmVantrellProgram::StartWebAdmin() {
  engine_->LogFile->WriteLine("Starting " + ProductTitle + " Web Admin");
  if (!programMode_ || frmVT_Admin != nullptr) return;
  adminAttempted_ = true;
  TdmHTTPBase* engine = engine_;
  admin_ = std::make_unique<TfrmVT_Admin>([engine](const std::string& line) { engine->Log(line); });
  frmVT_Admin = admin_.get();
}

void TfrmVantrellProgram::BeginSplash() {
  SavedHeight = Height;
  SavedWidth = Width;
  Menu = nullptr;
  BorderStyle = TBorderStyle::bsNone;
  Width = pnlSplash->Width;
  Height = pnlSplash->Height;
  Top = Application->Screen.Height - pnlSplash->Height;
  Left = Application->Screen.Width - pnlSplash->Width;
  pnlSplash->SetBounds(0, 0, pnlSplash->Width, pnlSplash->Height);
  Label_Version->SetCaption(kVersion);
  pnlSplash->SetVisible(true);
}

void TfrmVantrellProgram::EndSplash() {
  Show();
  Repaint();
  Application->ProcessMessages();
  if (!DebugMode) SleepMs(1000);
  Hide();
  RefreshServerState();
  pnlSplash->SetVisible(false);
  BorderStyle = TBorderStyle::bsSizeable;
  Menu = MainMenu1;
  Left = Application->Screen.Width;
  Top = Application->Screen.Height;
  Show();
  Hide();
  Height = SavedHeight;
  Width = SavedWidth;
  Top = Application->Screen.Height - Height;
  Left = Application->Screen.Width - Width;
  Changed();
}

// ------------------------------------------------------------ show, hide, state

void TfrmVantrellProgram::FormShow(TForm&) {
  if (frmLBServerStatus != nullptr) frmLBServerStatus->Show();
  Action("Action_RestoreWindow")->SetEnabled(false);
  Action("Action_MinimizeWindow")->SetEnabled(true);
  SetCaption(ProductTitle + " " + kVersion);
}

void TfrmVantrellProgram::FormHide(TForm&) {
  Action("Action_RestoreWindow")->SetEnabled(true);
  Action("Action_MinimizeWindow")->SetEnabled(false);
  if (frmLBServerStatus != nullptr) frmLBServerStatus->Close();
}

void TfrmVantrellProgram::RefreshServerState() {
  if (engine_ == nullptr) return;
  // Only the plain HTTP listener counts; active with no binding it listens
  // nowhere, as with HTTPS bindings only.
  const bool active = engine_->HTTPServer != nullptr && engine_->HTTPServer->Listening();
  Action("Action_StartServer")->SetEnabled(!active);
  Action("Action_StopServer")->SetEnabled(active);
  StatusBar1->SetPanelText(0, active ? "Server : Active" : "Server : Inactive");
  if (!CoolTrayIcon1->Enabled) return;
  CoolTrayIcon1->SetIconIndex(active ? TrayIconRunning : TrayIconStopped);
  const std::string kind = RunningAsService ? " - Service is " : " - Program is ";
  CoolTrayIcon1->SetHint((ProductTitle + kind + (active ? "RUNNING" : "STOPPED")).substr(0, 255));
}

void TfrmVantrellProgram::AddLogLine(const std::string& text, uint8_t kind) {
  if (OnRelayedLine) OnRelayedLine(text, kind);
  if (kind == 0 && Action("Action_ShowLoggedEvents")->Checked()) Memo_MainReport->Lines.Add("vt:" + text);
  if (kind == 1 && Action("Action_ShowLoggedW3C")->Checked()) Memo_MainReport->Lines.Add("ex:" + text);
  TMemoLines& lines = Memo_MainReport->Lines;
  if (lines.Count() > 1000) {
    lines.BeginUpdate();
    while (lines.Count() > 500) lines.Delete(0);
    lines.EndUpdate();
  }
}

void TfrmVantrellProgram::AddLines(const TStringList& lines) {
  for (const std::string& l : lines) Memo_MainReport->Lines.Add(l);
}

void TfrmVantrellProgram::Timer_RefreshGUITimer(TTimer&) {
  if (!Visible() || engine_ == nullptr) return;
  TStatHolder& s = *engine_->Stats;
  ReadLockGuard g(s.DomainHandler->Synchronizer);
  lblTransferred->SetCaption(FormatThousands64(s.BytesTransferred));
  lblCompSave->SetCaption(FormatThousands64(s.BytesSaved));
  lblCompression->SetCaption(Format("%f%%", static_cast<double>(s.GetCompressionRate())));
  lblThreadsActive->SetCaption(FormatThousands(ActiveThreads));
  lblThreadsInPool->SetCaption(FormatThousands(s.PooledThreads));
  lblConnections->SetCaption(FormatThousands64(s.NextRequestId));
  lblLBSessions->SetCaption(FormatThousands(s.DomainHandler->GetConnectionCount()));
  lblRequests->SetCaption(FormatThousands64(s.TotalRequests));
  lblKBs->SetCaption(Format("%2.1f", static_cast<double>(s.KBPerSecond)));
  lblRequestsPerSec->SetCaption(Format("%2.1f", static_cast<double>(s.RequestsPerSecond)));
  lblTransfers->SetCaption(FormatThousands(ActiveTransfers));
  lblKeepAlive->SetCaption(FormatThousands(KeepAliveWaiters));
  lblLogDropped->SetCaption(
      FormatThousands64(static_cast<int64_t>(engine_->EventLogDropped() + engine_->W3CLogDropped())));
  int h, m, sec, ms;
  DecodeTime(Now(), h, m, sec, ms);
  lblTime->SetCaption(Format("| Time %.2d:%.2d:%.2d", h, m, sec));
}

// ------------------------------------------------------------ actions

void TfrmVantrellProgram::Action_StartServerExecute() {
  engine_->Interactive = true;
  std::string msg;
  try {
    engine_->StartServer(msg);
  } catch (...) {
    engine_->Interactive = false;
    throw;
  }
  engine_->Interactive = false;
  RefreshServerState();
}

void TfrmVantrellProgram::Action_StopServerExecute() {
  if (!DebugMode) {
    if (MessageDlg(ProductTitle + " Stop server", kStopQuestion, TMsgDlgType::mtWarning, TMsgButtons::mbYesNo,
                   TMsgResult::mrNo) != TMsgResult::mrYes)
      return;
  } else {
    Memo_MainReport->Lines.Add("Stopping Server");
    DebugDump();
  }
  std::string msg;
  engine_->StopServer(msg);
  RefreshServerState();
}

void TfrmVantrellProgram::Action_CloseProgramExecute() {
  if (MessageDlg(ProductTitle + " Shutdown", kStopQuestion, TMsgDlgType::mtWarning, TMsgButtons::mbYesNo,
                 TMsgResult::mrNo) == TMsgResult::mrYes) {
    CloseRequested = true;
    Close();
  } else {
    CloseRequested = false;
  }
}

void TfrmVantrellProgram::Action_ClearLBConnectionsExecute() {
  if (MessageDlg(ProductTitle + " Shutdown", kClearLBQuestion, TMsgDlgType::mtWarning, TMsgButtons::mbYesNo,
                 TMsgResult::mrNo) != TMsgResult::mrYes)
    return;
  ReadLockGuard g(engine_->Stats->DomainHandler->Synchronizer);
  engine_->Stats->DomainHandler->RemoveExpiredConnections(0);
}

// A running administration keeps the port it started on, whatever a reload
// stored since; before it runs, the port it will take.
int32_t TfrmVantrellProgram::WebAdminPort() const {
  if (frmVT_Admin != nullptr && frmVT_Admin->Running()) return frmVT_Admin->Port();
  ReadLockGuard g(engine_->Stats->DomainHandler->Synchronizer);
  return engine_->Stats->DomainHandler->WebAdminPort();
}

// Waits while the administration is still to come (program mode before the
// splash timer); an administration that failed, or has no server, ends the
// wait with an error box. Never re-entered.
void TfrmVantrellProgram::Action_OpenAdministrationWebExecute() {
  if (inWebAdmin_) return;
  inWebAdmin_ = true;
  Application->Screen.Cursor = TCursor::crHourGlass;
  try {
    for (;;) {
      if (frmVT_Admin != nullptr && frmVT_Admin->Running()) {
        frmVT_Admin->btnStartClick();
        break;
      }
      const bool pending = programMode_ && !adminAttempted_ && frmVT_Admin == nullptr && !Application->Terminated();
      if (!pending) {
        MessageDlg(ProductTitle, "The web administration is not running.", TMsgDlgType::mtError, TMsgButtons::mbOK);
        break;
      }
      Application->ProcessMessages();
      SleepMs(250);
    }
  } catch (...) {
    Application->Screen.Cursor = TCursor::crDefault;
    inWebAdmin_ = false;
    throw;
  }
  Application->Screen.Cursor = TCursor::crDefault;
  inWebAdmin_ = false;
}

// ------------------------------------------------------------ debug dump

void TfrmVantrellProgram::DumpDomains(TStringList& lines) {
  const TDomainHandler& h = *engine_->Stats->DomainHandler;
  for (int i = 0; i < h.Domains.Count(); ++i) {
    const TDomain* d = h.Domains[i];
    lines.Add(Format("  %s: Data Trans=%s, Req=%s", d->DomainName, FormatThousands64(d->BytesTransferred),
                     FormatThousands64(d->RequestCount.load())));
    for (int j = 0; j < d->VirtualPaths.Count(); ++j) {
      const TVirtualPath* p = d->VirtualPaths[j];
      lines.Add(Format("    %s: Data Trans=%s, Req=%s", p->Path, FormatThousands64(p->BytesTransferred),
                       FormatThousands64(p->RequestCount.load())));
    }
  }
}

void TfrmVantrellProgram::DebugDump() {
  TMemoLines& memo = Memo_MainReport->Lines;
  auto listThreads = [&memo](const TcpServer& server) {
    std::vector<std::string> statuses;
    server.ForEachActiveThread([&](PeerThread& t) {
      auto* ct = dynamic_cast<TClientThread*>(&t);
      statuses.push_back(ct != nullptr ? ct->GetStatusText() : "");
    });
    memo.Add("");
    memo.Add(Format("Active Threads : %d", static_cast<int32_t>(statuses.size())));
    for (size_t i = 0; i < statuses.size(); ++i) memo.Add(Format("Thread[%d] : %s", static_cast<int32_t>(i), statuses[i]));
  };
  try {
    memo.Add("");
    memo.Add(Format("LBConnectionCount : %d", LBConnectionCount.load()));
    memo.Add(Format("TClientThreadCount : %d", TClientThreadCount.load()));
    memo.Add("");
    memo.Add(Format("UserName : %s", GetUserNameStr()));
    memo.Add(Format("ComputerName : %s", GetComputerNameStr()));
    memo.Add("");
    const std::vector<std::string> params = CommandLineParams();
    for (size_t i = 0; i < params.size(); ++i) memo.Add(Format("Param[%d] = %s", static_cast<int32_t>(i), params[i]));
    memo.Add("");
    memo.Add("(listing active http threads)");
    if (engine_->HTTPServer) listThreads(*engine_->HTTPServer);
    memo.Add("(listing active https threads)");
    if (engine_->SSLServers)
      for (int i = 0; i < engine_->SSLServers->Count(); ++i)
        if (engine_->SSLServers->Items(i)->Server) listThreads(*engine_->SSLServers->Items(i)->Server);
    memo.Add("");
    memo.Add("");
    memo.Add("Domains / VPaths");
    memo.Add(Format("Site: Data Trans=%s", FormatThousands64(engine_->Stats->BytesTransferred)));
    TStringList lines;
    try {
      ReadLockGuard g(engine_->Stats->DomainHandler->Synchronizer);
      DumpDomains(lines);
    } catch (...) {
      AddLines(lines);
      throw;
    }
    AddLines(lines);
  } catch (...) {
    memo.Add("*DONE*");
    throw;
  }
  memo.Add("*DONE*");
}

// ------------------------------------------------------------ closing

void TfrmVantrellProgram::FormCloseQuery(TForm&, bool& canClose) {
  if (!programMode_) {
    canClose = true;
    Hide();
    return;
  }
  canClose = CloseRequested;
  if (engine_ != nullptr && engine_->Stats->ServerState == ssRunning) {
    if (CloseRequested) {
      std::string msg;
      engine_->StopServer(msg);
    } else {
      Hide();
    }
  } else {
    Hide();
  }
}

void TfrmVantrellProgram::FormClose(TForm&, TCloseAction& action) {
  if (programMode_) {
    Timer_RefreshGUI->SetEnabled(false);
    UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));
    if (frmVT_Admin == admin_.get()) frmVT_Admin = nullptr;
    admin_.reset();
    Application->Terminate();
    return;
  }
  if (CloseRequested) {
    CoolTrayIcon1->Enabled = false;
    CoolTrayIcon1->SetIconVisible(false);
    Application->ProcessMessages();
    Timer_RefreshGUI->SetEnabled(false);
  }
  Hide();
  action = TCloseAction::caHide;
  if (!DesktopPresent()) {
    Detach();
    if (frmVantrellProgram == this) frmVantrellProgram = nullptr;
    action = TCloseAction::caFree;
  }
}

bool TfrmVantrellProgram::WMQueryEndSession() {
  if (!programMode_) return true;
  return MessageDlg(ProductTitle + " Shutdown", kStopQuestion, TMsgDlgType::mtWarning, TMsgButtons::mbYesNo,
                    TMsgResult::mrNo) == TMsgResult::mrYes;
}
