// Until the service host exists: a service application whose service object
// only takes the service name, and whose run finds that the service manager
// did not start the process.
#include <cstdio>

#include "host/ProgramMain.h"
#include "host/uGlobalName.h"

namespace {

class TServiceStandIn : public TServiceApplication {
 public:
  TServiceStandIn() { GlobalNameHandle = RegisterGlobalName("VantrellHSService"); }
  ~TServiceStandIn() override { UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle)); }

  void Run() override {
    if (HasInstallSwitch()) std::fputs("Service registration is not available in this build.\n", stderr);
  }
};

}  // namespace

std::unique_ptr<TServiceApplication> CreateServiceApplication() { return std::make_unique<TServiceStandIn>(); }
