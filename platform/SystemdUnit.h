// systemd in place of the service control manager: the unit file a service
// is registered with, its install and removal, and the system's state. Every
// systemctl call goes through the Systemctl seam; tests record the calls.
#pragma once

#include <string>
#include <vector>

class Systemctl {
 public:
  virtual ~Systemctl() = default;
  // Runs systemctl with Args; Output gets what it printed. The exit code, or
  // -1 when it could not run.
  virtual int Run(const std::vector<std::string>& args, std::string& output) = 0;
};

// The system's systemctl, found in PATH.
class SystemSystemctl : public Systemctl {
 public:
  int Run(const std::vector<std::string>& args, std::string& output) override;
};

// Records every call; answers with ExitCode and Output for calls whose first
// argument has an entry, else 0 and nothing.
class RecordingSystemctl : public Systemctl {
 public:
  struct Answer {
    int exitCode = 0;
    std::string output;
  };
  int Run(const std::vector<std::string>& args, std::string& output) override;
  std::vector<std::vector<std::string>> calls;
  std::vector<std::pair<std::string, Answer>> answers;
};

constexpr const char* kSystemUnitFolder = "/etc/systemd/system/";

struct TServiceUnit {
  std::string name;              // the unit is Name + ".service"
  std::string description;
  std::string execPath;          // absolute
  std::string workingDirectory;  // absolute
  std::string markerVariable;    // set to "1" for the service's process
  int timeoutStopSec = 120;
};

// The unit: Type=notify, KillMode=mixed, WantedBy=multi-user.target, no
// private network. Paths are quoted and their "%" doubled as systemd wants.
std::string ServiceUnitText(const TServiceUnit& unit);

// Writes the unit into UnitFolder, reloads systemd and enables the unit
// without starting it. False with the reason in Error.
bool InstallServiceUnit(const TServiceUnit& unit, const std::string& unitFolder, Systemctl& systemctl,
                        std::string& error);
// Disables the unit, removes its file and reloads systemd. A running
// instance runs on until it is stopped.
bool UninstallServiceUnit(const std::string& name, const std::string& unitFolder, Systemctl& systemctl,
                          std::string& error);

// The system is going down: "systemctl is-system-running" says "stopping".
bool SystemStopping(Systemctl& systemctl);
