// The program's entry: the global logger, the mode values, the single-instance
// guard, the service run and otherwise the desktop program.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The service application with its service object SvrVantrell: creating it
// runs the service object's creation handler (which takes the service name);
// destroying it frees the service object and what its creation took.
class TServiceApplication {
 public:
  virtual ~TServiceApplication() = default;
  // Returns when the process was not started by the service manager, after an
  // install switch was handled, or after the service has stopped. The exit
  // code of a process that ends after the run (1: an install switch failed).
  virtual int Run() = 0;
};

// The desktop program: Run creates the main form, hidden (the console starts
// in the tray), and runs the message loop until the application ends.
class TDesktopApplication {
 public:
  virtual ~TDesktopApplication() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void Run() = 0;
};

// Some of "/install", "/uninstall", "-install", "-uninstall" was given.
bool HasInstallSwitch();

// The hosts of this build; each is defined by the unit that implements it.
std::unique_ptr<TServiceApplication> CreateServiceApplication();
std::unique_ptr<TDesktopApplication> CreateDesktopApplication();

struct TProgramHosts {
  std::function<std::unique_ptr<TServiceApplication>()> createService = CreateServiceApplication;
  std::function<std::unique_ptr<TDesktopApplication>()> createDesktop = CreateDesktopApplication;
  std::function<bool(const std::string&)> isGlobalNameRegistered;  // empty: the real guard
};

// Everything after the runtime start-up. Args include the program name first.
// Returns the exit code; an exception from creating the service object
// propagates.
int ProgramMain(const std::vector<std::string>& args, const TProgramHosts& hosts = TProgramHosts());

// main(): the runtime start-up, then ProgramMain; an exception that escapes is
// written to standard error and gives exit code 1.
int RunProgram(int argc, char** argv);
