// The desktop console as the service uses it: TfrmVantrellProgram in service
// mode, attached to the service's running engine. The service has no
// application of its own; the console brings one while it lives, drawn by the
// headless renderer unless a tray host is installed.
#include "host/ServiceConsole.h"

#include <memory>

#include "host/fVantrellProgram.h"
#include "platform/MainLoop.h"
#include "platform/desktop/HeadlessRenderer.h"
#include "platform/desktop/TrayHost.h"

namespace {

class TServiceConsoleLink : public TServiceConsole {
 public:
  TServiceConsoleLink() {
    if (Application == nullptr) {
      ownApp_ = std::make_unique<TApplication>(MainLoop::Instance());
      ownApp_->Title = "Vantrell Switch";
      ownApp_->SetRenderer(&headless_);
    }
    ITrayHost* tray = CurrentTrayHost();
    form_ = new TfrmVantrellProgram(nullptr, tray != nullptr ? *tray : headless_);
  }
  ~TServiceConsoleLink() override {
    // The form detaches itself from the engine in its destructor.
    if (Alive()) form_->Free();
    form_ = nullptr;
    // Forms the console left for later (a release after a close) go with it.
    ownApp_.reset();
  }

  bool CreateFailed() const { return form_->CreateFailed; }
  void SetCloseRequested(bool value) override {
    if (Alive()) form_->SetCloseRequested(value);
  }
  void Close() override {
    if (Alive()) form_->Close();
  }
  void EndSplash() override {
    if (Alive()) form_->EndSplash();
  }

 private:
  // A console closed while no desktop is present has detached itself and is
  // released by the loop; it is no longer the console of the process.
  bool Alive() const { return form_ != nullptr && frmVantrellProgram == form_; }

  THeadlessRenderer headless_;
  std::unique_ptr<TApplication> ownApp_;
  TfrmVantrellProgram* form_ = nullptr;  // owned by the application
};

}  // namespace

std::unique_ptr<TServiceConsole> CreateServiceConsole() {
  auto console = std::make_unique<TServiceConsoleLink>();
  // The error box has been shown; only the console goes, the service runs on.
  if (console->CreateFailed()) return nullptr;
  return console;
}
