#include "host/uServiceVantrell.h"

#include <string>

#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "host/uGlobalName.h"
#include "platform/EventLog.h"
#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/SysUtils.h"
#include "webadmin/fVT_Admin.h"

namespace {

// The service thread ends after a stop or shutdown, whatever its steps raised.
class TerminateAtEnd {
 public:
  explicit TerminateAtEnd(TService& service) : service_(service) {}
  ~TerminateAtEnd() { service_.Terminate(); }
  TerminateAtEnd(const TerminateAtEnd&) = delete;
  TerminateAtEnd& operator=(const TerminateAtEnd&) = delete;

 private:
  TService& service_;
};

}  // namespace

TSvrVantrell::TSvrVantrell(TSvrVantrellSeams seams) : TService("SvrVantrell", "Vantrell"), seams_(std::move(seams)) {
  if (seams_.eventLog != nullptr) {
    eventLog_ = seams_.eventLog;
  } else {
    ownEventLog_ = std::make_unique<SyslogEventLogWriter>(Name());
    eventLog_ = ownEventLog_.get();
  }
  try {
    ServiceCreate();
  } catch (...) {
    // The object never existed: its idle handler goes with it.
    MainLoop::Instance().SetOnIdle(nullptr);
    throw;
  }
}

TSvrVantrell::~TSvrVantrell() { ServiceDestroy(); }

void TSvrVantrell::ServiceCreate() {
  MainLoop::Instance().SetOnIdle([this] {
    bool done = false;
    AppIdle(done);
  });
  GlobalNameHandle = RegisterGlobalName("VantrellHSService");
  // The current folder stays: it is the program folder (the unit's working
  // directory), on which the engine's relative paths hang.
  try {
    engine_ = seams_.createEngine ? seams_.createEngine() : std::make_unique<TdmHTTPBase>();
  } catch (const std::exception& e) {
    const std::string text = Format("Failed to create dmHTTPBase, Error=%s", std::string(e.what()));
    eventLog_->LogMessage(text, TEventLogType::etError);
    throw Exception(text);
  }
  EngineLogFile = engine_->LogFile.get();
}

void TSvrVantrell::ServiceDestroy() {
  MainLoop::Instance().SetOnIdle(nullptr);
  if (EngineLogFile == nullptr) return;
  // A console still attached goes before the engine it is attached to.
  FreeAdminForm();
  FreeConsole();
  if (engine_->Stats->ServerState == ssRunning) {
    std::string msg;
    engine_->StopServer(msg);
  }
  engine_.reset();
  UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));
}

void TSvrVantrell::ServiceStart(bool& started) {
  RunningAsService = true;
  started = true;
  // A start that fails still counts as started: the engine logs why, and the
  // operator can start it again from the web administration.
  std::string msg;
  engine_->LoadSettings(msg);
  engine_->StartServer(msg);
  MainLoop::Instance().Synchronize([this] {
    if (adminForm_) return;
    adminForm_ = seams_.createAdminForm();
    frmVT_Admin = adminForm_.get();
  });
}

void TSvrVantrell::ServiceExecute() {
  while (!Terminated()) ProcessRequests(true);
}

void TSvrVantrell::ServiceStop(bool& stopped) {
  TerminateAtEnd terminate(*this);
  CloseConsole();
  // After a shutdown the switch is stopped already.
  if (ShuttingDown) return;
  stopped = true;
  std::string msg;
  engine_->StopServer(msg);
  FreeForms();
}

void TSvrVantrell::ServiceShutdown() {
  TerminateAtEnd terminate(*this);
  CloseConsole();
  ShuttingDown = true;
  std::string msg;
  engine_->StopServer(msg);
  FreeForms();
}

void TSvrVantrell::AppIdle(bool& done) {
  if (!RunningAsService) return;
  if (adminForm_ && !ShuttingDown && Status() == TCurrentStatus::csRunning) {
    const bool desktop = seams_.desktopPresent();
    if (!desktop) consoleFailed_ = false;
    if (desktop && !console_ && !consoleFailed_) {
      AttachConsole();
    } else if (!desktop && console_) {
      // Nothing may reach the console once it is freed: a line another
      // thread logs meanwhile finds no sink.
      engine_->Interactive = false;
      FreeConsole();
      engine_->RegisterHooks();
    }
  }
  done = true;
}

// A console that cannot be made is dropped alone: the service runs on, and
// tries again only when the desktop has gone and come back (the idle handler
// runs several times a second).
void TSvrVantrell::AttachConsole() {
  try {
    console_ = seams_.createConsole();
  } catch (const std::exception& e) {
    eventLog_->LogMessage(Format("Failed to create the console, Error=%s", std::string(e.what())),
                          TEventLogType::etError);
  }
  if (!console_) {
    consoleFailed_ = true;
    engine_->Interactive = false;
    engine_->SetGUILogSink(nullptr);
    engine_->SetOnRefreshServerState(nullptr);
    engine_->RegisterHooks();
    return;
  }
  engine_->RegisterHooks();
  console_->EndSplash();
}

// A console closed by the service does not ask the operator; a box it has
// open takes its default answer first (the main thread may be waiting in it).
void TSvrVantrell::CloseConsole() {
  AnswerOpenBoxesWithDefault();
  MainLoop::Instance().Synchronize([this] {
    if (!console_) return;
    console_->SetCloseRequested(true);
    console_->Close();
  });
}

void TSvrVantrell::FreeForms() {
  MainLoop::Instance().Synchronize([this] {
    FreeAdminForm();
    FreeConsole();
  });
}

void TSvrVantrell::FreeAdminForm() {
  if (!adminForm_) return;
  frmVT_Admin = nullptr;
  adminForm_.reset();
}

void TSvrVantrell::FreeConsole() {
  if (!console_) return;
  engine_->SetGUILogSink(nullptr);
  engine_->SetOnRefreshServerState(nullptr);
  console_.reset();
}
