// The single-instance guard: machine-wide names that a desktop program
// ("VantrellHSProgram") or the service process ("VantrellHSService") holds.
#pragma once

#include <atomic>
#include <string>

using TGlobalNameHandle = int;
constexpr TGlobalNameHandle NoGlobalNameHandle = -1;

// What the system's version query reports; Linux reports itself as NT 10.0.
struct TOsVersionInfo {
  bool queried = true;  // false when the query failed
  bool nt = true;
  int major = 10;
  int minor = 0;
};
TOsVersionInfo SystemOsVersion();

// "Global\" + Name on NT above major version 4; Name itself on older systems
// or when the version query failed.
std::string GetGlobalName(const std::string& name, const TOsVersionInfo& os);
std::string GetGlobalName(const std::string& name);

// True when the name is held already (or could not be created); holds nothing
// afterwards.
bool IsGlobalNameRegistered(const std::string& name);
// Takes the name and keeps it; raises Exception with "Failed to register global
// name, [%s] already exists!", "... [%s],  access denied!" or "... [%s],
// unknown error!" (the prefixed name in place of %s).
TGlobalNameHandle RegisterGlobalName(const std::string& name);
void UnregisterGlobalName(TGlobalNameHandle handle);

// The name this process holds: the service name in service mode, the program
// name in program mode; NoGlobalNameHandle while none.
extern std::atomic<TGlobalNameHandle> GlobalNameHandle;
