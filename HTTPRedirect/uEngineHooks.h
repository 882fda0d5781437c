// EngineHooks: the callables through which the web administration drives
// the running engine. The engine host fills them; a caller does nothing
// while a hook is unassigned. Each call copies the hook under the table's
// lock and runs it outside, so a hook may take as long as it needs.
#pragma once

#include <functional>
#include <string>

#include "Common/uDomainHandler.h"

using TServerMsgHook = std::function<void(void* sender, std::string& msg)>;
using TIsServerRunningHook = std::function<bool()>;
using TGetDomainHandlerHook = std::function<TDomainHandler*()>;

struct TEngineHookSet {
  const void* Owner = nullptr;  // the host the hooks point into
  TServerMsgHook StartServerHook;
  TServerMsgHook StopServerHook;
  TServerMsgHook RestartServerHook;
  TServerMsgHook ReloadSettingsHook;
  TIsServerRunningHook IsServerRunningHook;
  TGetDomainHandlerHook GetDomainHandlerHook;
  TWebAdminLogHook WebAdminLogHook;  // also behind TDomainHandler::Log
};

namespace EngineHooks {

// Replaces the whole table.
void Assign(TEngineHookSet hooks);
// Empties the table when Owner filled it.
void ClearOwnedBy(const void* owner);
TEngineHookSet Current();

// The callers' side; each does nothing (false, nullptr) while unassigned.
void StartServer(void* sender, std::string& msg);
void StopServer(void* sender, std::string& msg);
void RestartServer(void* sender, std::string& msg);
void ReloadSettings(void* sender, std::string& msg);
bool IsServerRunning();
TDomainHandler* GetDomainHandler();
void WebAdminLog(TDomainHandler* sender, const std::string& text);

}  // namespace EngineHooks
