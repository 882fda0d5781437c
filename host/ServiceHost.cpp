#include "host/ServiceHost.h"

#include <unistd.h>

#include <cstdio>

#include "Common/Misc.h"
#include "Common/uClusterChecks.h"
#include "Common/uServerVerification.h"
#include "platform/SysUtils.h"

namespace {

// Check threads still running at the end get this long to finish.
constexpr int kFinalizeChecksMs = 5000;

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class TVantrellServiceApplication : public TServiceApplication {
 public:
  explicit TVantrellServiceApplication(TServiceHostSettings settings)
      : settings_(std::move(settings)), service_(std::make_unique<TSvrVantrell>(settings_.seams)) {
    if (settings_.systemctl == nullptr) {
      ownSystemctl_ = std::make_unique<SystemSystemctl>();
      settings_.systemctl = ownSystemctl_.get();
    }
  }

  // The service object goes first (it frees the engine); then the health
  // checks the run started.
  ~TVantrellServiceApplication() override {
    service_.reset();
    if (checksInstalled_) FinalizeVerificationThreads(kFinalizeChecksMs);
  }

  int Run() override {
    if (HasCommandLineSwitch("/install") || HasCommandLineSwitch("-install")) return Install();
    if (HasCommandLineSwitch("/uninstall") || HasCommandLineSwitch("-uninstall")) return Uninstall();
    if (!StartedByServiceManager(kServiceMarkerVariable)) return 0;
    InstallServerChecks();
    checksInstalled_ = true;
    TService::TRunOptions options;
    options.notify = settings_.notify;
    options.eventLog = &service_->EventLog();
    Systemctl* systemctl = settings_.systemctl;
    options.systemStopping = [systemctl] { return SystemStopping(*systemctl); };
    service_->Run(options);
    return 0;
  }

 private:
  int Install() {
    service_->ServiceBeforeInstall();
    TServiceUnit unit;
    unit.name = service_->Name();
    unit.description = service_->DisplayName();
    unit.execPath = ExecutablePath();
    unit.workingDirectory = GetCurrentDir();
    unit.markerVariable = kServiceMarkerVariable;
    unit.timeoutStopSec = kServiceStopTimeoutSec;
    std::string error;
    if (!InstallServiceUnit(unit, settings_.unitFolder, *settings_.systemctl, error))
      return Failed("install", error);
    std::printf("Service %s installed\n", unit.name.c_str());
    std::fflush(stdout);
    return 0;
  }

  int Uninstall() {
    service_->ServiceBeforeUninstall();
    std::string error;
    if (!UninstallServiceUnit(service_->Name(), settings_.unitFolder, *settings_.systemctl, error))
      return Failed("uninstall", error);
    std::printf("Service %s uninstalled\n", service_->Name().c_str());
    std::fflush(stdout);
    return 0;
  }

  int Failed(const char* what, const std::string& error) {
    std::fprintf(stderr, "Failed to %s service %s: %s\n", what, service_->Name().c_str(), error.c_str());
    return 1;
  }

  TServiceHostSettings settings_;
  std::unique_ptr<Systemctl> ownSystemctl_;
  std::unique_ptr<TSvrVantrell> service_;
  bool checksInstalled_ = false;
};

}  // namespace

std::unique_ptr<TServiceApplication> CreateServiceApplication(TServiceHostSettings settings) {
  return std::make_unique<TVantrellServiceApplication>(std::move(settings));
}

std::unique_ptr<TServiceApplication> CreateServiceApplication() {
  return CreateServiceApplication(TServiceHostSettings());
}
