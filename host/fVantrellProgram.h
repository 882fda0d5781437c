// The desktop console: log memo, counters, menus, tool bar, status bar,
// splash and the tray icon with its own menu. In program mode it owns the
// engine host and starts it; in service mode it attaches to the service's
// engine. Lines and refreshes reach it only through the engine's relay, on
// the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/CoolTrayIcon.h"
#include "host/uGlobalName.h"
#include "platform/Classes.h"
#include "platform/desktop/Actions.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/StdCtrls.h"
#include "platform/desktop/Timer.h"

class TdmHTTPBase;
class TfrmVT_Admin;

// Tray icon indices, set by ChooseTrayIcons.
extern int TrayIconRunning;
extern int TrayIconStopped;
extern int TrayIconStarting;
// NT from 5.1 on: 12, 13, 14; every older system: 6, 7, 8.
void ChooseTrayIcons(const TOsVersionInfo& os);

class TfrmVantrellProgram : public TForm {
 public:
  // Runs FormCreate. When the start-up fails, the error box has been shown,
  // CreateFailed is set and (in program mode) the application terminates.
  TfrmVantrellProgram(TComponent* owner, ITrayHost& tray);
  ~TfrmVantrellProgram() override;

  static constexpr const char* kVersion = "2.2.51";

  bool CloseRequested = false;
  int SavedHeight = 0;
  int SavedWidth = 0;
  std::string ProductTitle;
  bool CreateFailed = false;

  TCoolTrayIcon* CoolTrayIcon1 = nullptr;
  TMemo* Memo_MainReport = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  TToolBar* ToolBar1 = nullptr;
  TPanel* pnlCounters = nullptr;
  TPanel* pnlSplash = nullptr;
  TImage* imgSplash = nullptr;
  TLabel* Label_Version = nullptr;
  TImageList* ImageList1 = nullptr;
  TActionList* ActionList1 = nullptr;
  TMainMenu* MainMenu1 = nullptr;
  TPopupMenu* PopupMenu_TrayIcon = nullptr;
  TTimer* Timer_RefreshGUI = nullptr;
  TTimer* tmrShowSplash = nullptr;
  // The counter panel's value labels, in the panel's order.
  TLabel *lblTransferred = nullptr, *lblCompSave = nullptr, *lblCompression = nullptr, *lblThreadsActive = nullptr,
         *lblThreadsInPool = nullptr, *lblConnections = nullptr, *lblLBSessions = nullptr, *lblRequests = nullptr,
         *lblKBs = nullptr, *lblRequestsPerSec = nullptr, *lblTransfers = nullptr, *lblKeepAlive = nullptr,
         *lblLogDropped = nullptr, *lblTime = nullptr;

  TAction* Action(const std::string& name) const;

  // Entry points for the engine, the service and the program host.
  void RefreshServerState();
  void AddLogLine(const std::string& text, uint8_t kind);
  void SetCloseRequested(bool value) { CloseRequested = value; }
  void BeginSplash();
  void EndSplash();
  void StartWebAdmin();
  // The system asks whether the session may end.
  bool WMQueryEndSession();
  // The engine this console shows (its own in program mode), or nullptr.
  TdmHTTPBase* Engine() const { return engine_; }
  // Every relayed line before the console's own filter (the headless program
  // prints them).
  std::function<void(const std::string& text, uint8_t kind)> OnRelayedLine;

  // Handlers.
  void FormShow(TForm&);
  void FormHide(TForm&);
  void FormCloseQuery(TForm&, bool& canClose);
  void FormClose(TForm&, TCloseAction& action);
  void Timer_RefreshGUITimer(TTimer&);
  void tmrShowSplashTimer(TTimer&);
  void DebugDump();

  // Seams: the wait of EndSplash and of Web Administration, and whether an
  // interactive desktop is present (service mode's FormClose).
  static std::function<void(uint32_t ms)> SleepMs;
  static std::function<bool()> DesktopPresent;

 protected:
  // The dump's configuration step (under the read lock).
  virtual void DumpDomains(TStringList& lines);

 private:
  void FormCreate(ITrayHost& tray);
  void CreateControls();
  void CreateActions();
  void CreateMenus();
  void Detach();
  void AddLines(const TStringList& lines);

  void Action_StartServerExecute();
  void Action_StopServerExecute();
  void Action_CloseProgramExecute();
  void Action_ClearLBConnectionsExecute();
  void Action_OpenAdministrationWebExecute();
  // The port the web administration listens on (Status Page).
  int32_t WebAdminPort() const;

  std::unique_ptr<TdmHTTPBase> ownEngine_;  // program mode
  TdmHTTPBase* engine_ = nullptr;           // the one shown
  std::unique_ptr<TfrmVT_Admin> admin_;     // program mode
  bool adminAttempted_ = false;
  bool inWebAdmin_ = false;
  bool programMode_ = true;
  bool attached_ = false;
};

// The console of the process, nullptr while there is none.
extern TfrmVantrellProgram* frmVantrellProgram;
