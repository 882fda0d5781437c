// The desktop program: the application with the console as its main form,
// drawn full screen on a terminal, or headless (a line per visible change and
// the engine's event lines on standard output). Ctrl+C, SIGTERM and SIGHUP
// close it as Close program answered Yes: the engine stops and is freed,
// which saves the affinity tables.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <thread>

#include "Common/uClusterChecks.h"
#include "Common/uServerVerification.h"
#include "host/ProgramMain.h"
#include "host/fVantrellProgram.h"
#include "platform/MainLoop.h"
#include "platform/desktop/HeadlessRenderer.h"
#include "platform/desktop/TerminalRenderer.h"

namespace {

// Check threads still running at the end get this long to finish.
constexpr int kFinalizeChecksMs = 5000;

class TDesktopConsole : public TDesktopApplication {
 public:
  void SetTitle(const std::string& title) override { title_ = title; }

  void Run() override {
    // The signals are taken by one thread with sigwait; threads started from
    // here on inherit the mask.
    sigset_t signals, previous;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    InstallServerChecks();
    RunConsole(signals);
    FinalizeVerificationThreads(kFinalizeChecksMs);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }

 private:
  void RunConsole(const sigset_t& signals) {
    MainLoop& loop = MainLoop::Instance();
    TApplication app(loop);
    app.Title = title_;
    THeadlessRenderer headless;
    std::unique_ptr<TTerminalRenderer> terminal;
    if (TTerminalRenderer::Available()) {
      terminal = std::make_unique<TTerminalRenderer>(app);
      if (!terminal->Start()) terminal.reset();
    }
    ITrayHost& tray = terminal ? static_cast<ITrayHost&>(*terminal) : static_cast<ITrayHost&>(headless);
    app.SetRenderer(terminal ? static_cast<TDesktopRenderer*>(terminal.get()) : &headless);
    SetCurrentTrayHost(&tray);

    std::atomic<bool> done{false};
    std::thread waiter([&] {
      int sig = 0;
      while (sigwait(&signals, &sig) == 0 && !done) {
        // Close program, answered Yes.
        loop.Post([] {
          if (frmVantrellProgram == nullptr) return;
          AnswerOpenBoxesWithDefault();
          frmVantrellProgram->SetCloseRequested(true);
          frmVantrellProgram->Close();
        });
      }
    });

    try {
      auto* console = new TfrmVantrellProgram(nullptr, tray);
      app.MainForm = console;
      if (!terminal)
        console->OnRelayedLine = [&headless](const std::string& text, uint8_t kind) {
          if (kind == 0) headless.WriteLine(text);
        };
      app.Run();
      // Lines the last steps relayed.
      loop.ProcessPending(MainLoop::PumpMode::PostedOnly);
    } catch (...) {
      Shutdown(app, waiter, done, terminal);
      throw;
    }
    Shutdown(app, waiter, done, terminal);
  }

  static void Shutdown(TApplication& app, std::thread& waiter, std::atomic<bool>& done,
                       std::unique_ptr<TTerminalRenderer>& terminal) {
    done = true;
    pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter
    waiter.join();
    // The console (and with it the engine) goes while the renderer is there.
    while (app.ComponentCount() > 0) app.Components(app.ComponentCount() - 1)->Free();
    app.SetRenderer(nullptr);
    SetCurrentTrayHost(nullptr);
    if (terminal) terminal->Stop();
  }

  std::string title_;
};

}  // namespace

std::unique_ptr<TDesktopApplication> CreateDesktopApplication() { return std::make_unique<TDesktopConsole>(); }
