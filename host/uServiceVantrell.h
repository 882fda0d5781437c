// TSvrVantrell: the service SvrVantrell ("Vantrell", no pause) that hosts the
// one engine of the service process. Its creation takes the service name and
// creates the engine; its start loads the settings, starts the switch and
// creates the web administration's form; stop and shutdown close a console and
// stop the switch; its destruction frees the engine (which saves the affinity
// tables) and releases the name. While it runs, AppIdle attaches a console
// when a desktop appears and detaches it when the desktop goes.
//
// Threads: creation, destruction and AppIdle on the main thread; start, stop
// and shutdown on the service thread, which reaches the console and the admin
// form only through MainLoop::Synchronize, so both are touched on the main
// thread alone.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "host/AdminForm.h"
#include "host/ServiceConsole.h"
#include "platform/Service.h"

class EventLogWriter;
class TLogFile;
class TdmHTTPBase;

// What the service object reaches through seams; tests pass fakes.
struct TSvrVantrellSeams {
  std::function<std::unique_ptr<TdmHTTPBase>()> createEngine;  // empty: a new engine host
  std::function<std::unique_ptr<TServiceConsole>()> createConsole = CreateServiceConsole;
  std::function<TfrmVT_AdminPtr()> createAdminForm = CreateVT_Admin;
  std::function<bool()> desktopPresent = InteractiveDesktopPresent;
  EventLogWriter* eventLog = nullptr;  // nullptr: syslog under the service's name
};

class TSvrVantrell : public TService {
 public:
  // ServiceCreate. Raises when the service name is taken or the engine cannot
  // be created ("Failed to create dmHTTPBase, Error=%s", also written to the
  // event log).
  explicit TSvrVantrell(TSvrVantrellSeams seams = TSvrVantrellSeams());
  // ServiceDestroy.
  ~TSvrVantrell() override;

  // True once the shutdown handler ran.
  std::atomic<bool> ShuttingDown{false};
  // The engine's event log; set means that this object created the engine.
  TLogFile* EngineLogFile = nullptr;

  // The main loop's idle handler while the object exists.
  void AppIdle(bool& done);

  EventLogWriter& EventLog() { return *eventLog_; }
  bool HasConsole() const { return console_ != nullptr; }  // main thread
  bool HasAdminForm() const { return adminForm_ != nullptr; }  // main thread

  void ServiceStart(bool& started) override;
  void ServiceExecute() override;
  void ServiceStop(bool& stopped) override;
  void ServiceShutdown() override;
  // Registration hooks of the framework; nothing to do before either.
  void ServiceBeforeInstall() {}
  void ServiceBeforeUninstall() {}

 private:
  void ServiceCreate();
  void ServiceDestroy();
  void AttachConsole();
  void CloseConsole();
  void FreeForms();
  void FreeConsole();
  void FreeAdminForm();

  TSvrVantrellSeams seams_;
  std::unique_ptr<EventLogWriter> ownEventLog_;
  EventLogWriter* eventLog_ = nullptr;
  std::unique_ptr<TdmHTTPBase> engine_;
  // Main thread only; freed before the engine, which a console is attached
  // to. The global frmVT_Admin points at the admin form while it exists.
  TfrmVT_AdminPtr adminForm_;
  std::unique_ptr<TServiceConsole> console_;
  // The console's creation failed while this desktop is present.
  bool consoleFailed_ = false;
};
