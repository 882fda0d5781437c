// Until the desktop console exists: the service's console shows nothing and
// touches nothing. The production desktop probe is false, so the service never
// asks for one.
#include "host/ServiceConsole.h"

namespace {

class TConsoleStandIn : public TServiceConsole {
 public:
  void SetCloseRequested(bool) override {}
  void Close() override {}
  void EndSplash() override {}
};

}  // namespace

std::unique_ptr<TServiceConsole> CreateServiceConsole() { return std::make_unique<TConsoleStandIn>(); }
