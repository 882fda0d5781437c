#include "Common/uProgramMode.h"

#include <mutex>

std::atomic<bool> RunningAsService{false};
std::atomic<bool> DebugMode{false};
std::atomic<bool> OWAEdition{false};

namespace {
std::mutex installTypeMutex;
std::string& InstallType() {
  static std::string name;
  return name;
}
}  // namespace

std::string InstallTypeName() {
  std::lock_guard<std::mutex> lock(installTypeMutex);
  return InstallType();
}

void SetInstallTypeName(std::string name) {
  std::lock_guard<std::mutex> lock(installTypeMutex);
  InstallType() = std::move(name);
}
