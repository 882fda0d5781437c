// Process-wide mode values, written once during start-up (RunningAsService
// later by the service) and read across the program.
#pragma once

#include <atomic>
#include <string>

// This process serves the service manager.
extern std::atomic<bool> RunningAsService;
// Switch "debug": the consoles' debugging aids.
extern std::atomic<bool> DebugMode;
// Switch "owa": the Outlook Web Access edition.
extern std::atomic<bool> OWAEdition;

// "Vantrell Service" or "Vantrell Program", with " - OWA Edition" in that
// edition; shown in the engine's start banner and the web administration.
std::string InstallTypeName();
void SetInstallTypeName(std::string name);
