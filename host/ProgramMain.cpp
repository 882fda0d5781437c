#include "host/ProgramMain.h"

#include <csignal>
#include <cstdio>

#include "Common/Misc.h"
#include "Common/uLogger.h"
#include "Common/uProgramMode.h"
#include "host/uGlobalName.h"
#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/Random.h"
#include "platform/SignalThread.h"
#include "platform/SysUtils.h"

namespace {

const char* const kProgramName = "VantrellHSProgram";
const char* const kServiceName = "VantrellHSService";
const char* const kFailedCaption = "Vantrell Switch Failed to start";

std::string WithEdition(const std::string& name) { return OWAEdition ? name + " - OWA Edition" : name; }

}  // namespace

bool HasInstallSwitch() {
  return HasCommandLineSwitch("/install") || HasCommandLineSwitch("/uninstall") || HasCommandLineSwitch("-install") ||
         HasCommandLineSwitch("-uninstall");
}

int ProgramMain(const std::vector<std::string>& args, const TProgramHosts& hosts) {
  SetCommandLine(args);
  GlobalLogger->Levels = 15;
  RunningAsService = false;
  DebugMode = HasCommandLineSwitch("debug");
  OWAEdition = HasCommandLineSwitch("owa");

  const auto isRegistered = hosts.isGlobalNameRegistered ? hosts.isGlobalNameRegistered
                                                         : std::function<bool(const std::string&)>(IsGlobalNameRegistered);
  // The program is asked first: while one runs, any second start reports it.
  if (isRegistered(kProgramName)) {
    MessageDlg(kFailedCaption, "Failed to start: Vantrell Switch Program is already running!", TMsgDlgType::mtWarning,
               TMsgButtons::mbOK);
    return 0;
  }
  if (isRegistered(kServiceName)) {
    MessageDlg(kFailedCaption, "Failed to start: Vantrell Switch Service is already running!", TMsgDlgType::mtWarning,
               TMsgButtons::mbOK);
    return 0;
  }

  std::unique_ptr<TServiceApplication> service;
  int exitCode = 0;
  if (!HasCommandLineSwitch("prog")) {
    SetInstallTypeName(WithEdition("Vantrell Service"));
    service = hosts.createService();
    exitCode = service->Run();
  }
  // The service object is freed on the way out, on this thread, after the
  // main loop has ended: it frees the engine, which saves the affinity tables.
  if (RunningAsService || HasInstallSwitch()) return exitCode;
  // A start by hand: the service object goes, with its engine and the service
  // name, before the desktop program takes over.
  service.reset();

  SetInstallTypeName(WithEdition("Vantrell Program"));
  MainLoop::Instance().ProcessPending();
  std::unique_ptr<TDesktopApplication> desktop = hosts.createDesktop();
  desktop->SetTitle("Vantrell Switch");
  desktop->Run();
  return 0;
}

int RunProgram(int argc, char** argv) {
  // Before any thread starts: every thread inherits the block, and the host's
  // signal thread takes the stop signals.
  BlockStopSignals();
  // A peer that goes away must not end the process through a write.
  std::signal(SIGPIPE, SIG_IGN);
  Randomize();
  MainLoop::Instance().BindToCurrentThread();
  std::vector<std::string> args(argv, argv + argc);
  try {
    return ProgramMain(args);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 1;
}
