// The desktop program: the application with the console as its main form,
// drawn full screen on a terminal, or headless (a line per visible change and
// the engine's event lines on standard output). Ctrl+C, SIGTERM and SIGHUP
// close it as Close program answered Yes: the engine stops and is freed,
// which saves the affinity tables.
#include <memory>

#include "Common/uClusterChecks.h"
#include "Common/uServerVerification.h"
#include "host/ProgramMain.h"
#include "host/fVantrellProgram.h"
#include "platform/MainLoop.h"
#include "platform/SignalThread.h"
#include "platform/desktop/HeadlessRenderer.h"
#include "platform/desktop/TerminalRenderer.h"

namespace {

// Check threads still running at the end get this long to finish.
constexpr int kFinalizeChecksMs = 5000;

class TDesktopConsole : public TDesktopApplication {
 public:
  void SetTitle(const std::string& title) override { title_ = title; }

  void Run() override {
    InstallServerChecks();
    RunConsole();
    FinalizeVerificationThreads(kFinalizeChecksMs);
  }

 private:
  void RunConsole() {
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

    auto signals = std::make_unique<SignalThread>([&loop](int) {
      // Close program, answered Yes.
      loop.Post([] {
        if (frmVantrellProgram == nullptr) return;
        AnswerOpenBoxesWithDefault();
        frmVantrellProgram->SetCloseRequested(true);
        frmVantrellProgram->Close();
      });
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
      Shutdown(app, signals, terminal);
      throw;
    }
    Shutdown(app, signals, terminal);
  }

  static void Shutdown(TApplication& app, std::unique_ptr<SignalThread>& signals,
                       std::unique_ptr<TTerminalRenderer>& terminal) {
    signals.reset();
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
