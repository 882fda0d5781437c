#include "platform/desktop/TrayHost.h"

#include <atomic>

namespace {

std::atomic<ITrayHost*> currentHost{nullptr};

}  // namespace

ITrayHost* CurrentTrayHost() { return currentHost.load(); }
void SetCurrentTrayHost(ITrayHost* host) { currentHost.store(host); }
