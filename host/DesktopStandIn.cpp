// Until the desktop console exists: a desktop program without a console. It
// holds the program name, creates the engine host, loads the settings and
// starts the switch the way the console's main form does, brings up the web
// administration, runs the main loop
// and, on SIGTERM or SIGINT, stops the switch and frees the engine (which
// saves the affinity tables). Result texts go to standard output.
#include <atomic>
#include <cstdio>
#include <memory>

#include "Common/uClusterChecks.h"
#include "Common/uServerVerification.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "host/AdminForm.h"
#include "host/ProgramMain.h"
#include "host/uGlobalName.h"
#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/SignalThread.h"
#include "webadmin/fVT_Admin.h"

namespace {

// Check threads still running at the end get this long to finish.
constexpr int kFinalizeChecksMs = 5000;

void Report(const std::string& msg) {
  std::printf("%s\n", msg.c_str());
  std::fflush(stdout);
}

class TDesktopStandIn : public TDesktopApplication {
 public:
  void SetTitle(const std::string& title) override { title_ = title; }

  void Run() override {
    GlobalNameHandle = RegisterGlobalName("VantrellHSProgram");
    InstallServerChecks();
    RunEngine();
    FinalizeVerificationThreads(kFinalizeChecksMs);
    UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));
  }

 private:
  void RunEngine() {
    std::unique_ptr<TdmHTTPBase> engine;
    try {
      engine = std::make_unique<TdmHTTPBase>();
    } catch (const Exception& e) {
      MessageDlg(title_, e.Message(), TMsgDlgType::mtError);
      return;
    }
    engine->RegisterHooks();
    std::string msg;
    engine->LoadSettings(msg);
    Report(msg);
    engine->StartServer(msg);
    Report(msg);
    // The administration comes up whether or not the switch started, so a
    // failed start can be mended from the browser.
    TfrmVT_AdminPtr admin = CreateVT_Admin();
    frmVT_Admin = admin.get();

    // The stop waits for the engine's stop timer, so it runs on the signal
    // thread while the main loop keeps turning.
    std::atomic<bool> stopped{false};
    {
      SignalThread signals([&](int) {
        if (stopped.exchange(true)) return;
        if (engine->IsServerRunning()) {
          std::string stopMsg;
          engine->StopServer(stopMsg);
          Report(stopMsg);
        }
        MainLoop::Instance().Quit();
      });
      MainLoop::Instance().Run();
    }
    frmVT_Admin = nullptr;
    admin.reset();  // before the engine: pages may still call its hooks
    engine.reset();
  }

  std::string title_;
};

}  // namespace

std::unique_ptr<TDesktopApplication> CreateDesktopApplication() { return std::make_unique<TDesktopStandIn>(); }
