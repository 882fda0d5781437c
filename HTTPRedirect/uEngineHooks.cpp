#include "HTTPRedirect/uEngineHooks.h"

#include <mutex>

namespace EngineHooks {
namespace {

std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}

TEngineHookSet& Table() {
  static TEngineHookSet table;
  return table;
}

template <class Member>
auto Get(Member member) {
  std::lock_guard<std::mutex> g(TableMutex());
  return Table().*member;
}

}  // namespace

void Assign(TEngineHookSet hooks) {
  {
    std::lock_guard<std::mutex> g(TableMutex());
    Table() = hooks;
  }
  SetWebAdminLogHook(hooks.WebAdminLogHook);
}

void ClearOwnedBy(const void* owner) {
  {
    std::lock_guard<std::mutex> g(TableMutex());
    if (Table().Owner != owner) return;
    Table() = TEngineHookSet();
  }
  SetWebAdminLogHook(nullptr);
}

TEngineHookSet Current() {
  std::lock_guard<std::mutex> g(TableMutex());
  return Table();
}

void StartServer(void* sender, std::string& msg) {
  if (auto hook = Get(&TEngineHookSet::StartServerHook)) hook(sender, msg);
}

void StopServer(void* sender, std::string& msg) {
  if (auto hook = Get(&TEngineHookSet::StopServerHook)) hook(sender, msg);
}

void RestartServer(void* sender, std::string& msg) {
  if (auto hook = Get(&TEngineHookSet::RestartServerHook)) hook(sender, msg);
}

void ReloadSettings(void* sender, std::string& msg) {
  if (auto hook = Get(&TEngineHookSet::ReloadSettingsHook)) hook(sender, msg);
}

bool IsServerRunning() {
  auto hook = Get(&TEngineHookSet::IsServerRunningHook);
  return hook ? hook() : false;
}

TDomainHandler* GetDomainHandler() {
  auto hook = Get(&TEngineHookSet::GetDomainHandlerHook);
  return hook ? hook() : nullptr;
}

void WebAdminLog(TDomainHandler* sender, const std::string& text) {
  if (auto hook = Get(&TEngineHookSet::WebAdminLogHook)) hook(sender, text);
}

}  // namespace EngineHooks
