// The desktop console as the service host uses it, and the probe that says
// whether there is a desktop to show it on. host/ServiceConsole.cpp makes it
// from the desktop console in service mode.
#pragma once

#include <memory>

class TServiceConsole {
 public:
  // Main thread. The console detaches itself from the engine (the engine's
  // GUILogSink and refresh link) while they are still its own.
  virtual ~TServiceConsole() = default;
  // Main thread. A close that follows does not ask the operator.
  virtual void SetCloseRequested(bool value) = 0;
  virtual void Close() = 0;
  // Main thread: the splash for a second (none in debug mode), then the
  // console hidden in the tray.
  virtual void EndSplash() = 0;
};

// Main thread, while the service runs: a console attached to the engine
// dmHTTPBase (its creation attaches it, as the console's creation handler
// does). Nullptr when the creation failed: its error box has been shown and
// nothing is left attached.
std::unique_ptr<TServiceConsole> CreateServiceConsole();

// Whether an interactive desktop exists (on Windows, a "Progman" window). A
// system service has no desktop on Linux: false in production; tests pass a
// fake to the service object instead.
bool InteractiveDesktopPresent();
