#include "host/uGlobalName.h"

#include "platform/NamedMutex.h"
#include "platform/SysUtils.h"

std::atomic<TGlobalNameHandle> GlobalNameHandle{NoGlobalNameHandle};

TOsVersionInfo SystemOsVersion() { return TOsVersionInfo{}; }

std::string GetGlobalName(const std::string& name, const TOsVersionInfo& os) {
  if (os.queried && os.nt && os.major > 4) return "Global\\" + name;
  return name;
}

std::string GetGlobalName(const std::string& name) { return GetGlobalName(name, SystemOsVersion()); }

bool IsGlobalNameRegistered(const std::string& name) {
  int handle;
  const TNamedMutexResult r = CreateNamedMutex(GetGlobalName(name), handle);
  CloseNamedMutex(handle);
  return r != TNamedMutexResult::nmCreated;
}

TGlobalNameHandle RegisterGlobalName(const std::string& name) {
  const std::string global = GetGlobalName(name);
  int handle;
  switch (CreateNamedMutex(global, handle)) {
    case TNamedMutexResult::nmCreated:
      return handle;
    case TNamedMutexResult::nmAlreadyExists:
      throw Exception(Format("Failed to register global name, [%s] already exists!", global));
    case TNamedMutexResult::nmAccessDenied:
      throw Exception(Format("Failed to register global name [%s],  access denied!", global));
    case TNamedMutexResult::nmFailed:
      break;
  }
  throw Exception(Format("Failed to register global name [%s],  unknown error!", global));
}

void UnregisterGlobalName(TGlobalNameHandle handle) { CloseNamedMutex(handle); }
