#include "platform/SystemdUnit.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Spawn.h"

namespace {

// systemd expands "%" specifiers in both settings.
std::string DoublePercent(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// The command's first word, in double quotes: C escapes inside them, "$"
// would start a variable and "%" a specifier.
std::string QuotedCommand(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
    if (c == '$') out += '$';
    if (c == '%') out += '%';
  }
  return out + "\"";
}

// A line break would end the setting; a trailing blank or backslash would be
// cut or join the next line.
bool FitsOnAUnitLine(const std::string& path) {
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return false;
  return !path.empty() && path.back() != ' ' && path.back() != '\\';
}

std::string UnitFileName(const std::string& unitFolder, const std::string& name) {
  std::string folder = unitFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + name + ".service";
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// One systemctl call; False with the reason in Error.
bool Call(Systemctl& systemctl, const std::vector<std::string>& args, std::string& error) {
  std::string output;
  const int rc = systemctl.Run(args, output);
  if (rc == 0) return true;
  std::string command = "systemctl";
  for (const std::string& a : args) command += " " + a;
  error = rc < 0 ? command + " could not be run" : command + " failed with exit code " + std::to_string(rc);
  output = Trimmed(output);
  if (!output.empty()) error += ": " + output;
  return false;
}

bool WriteFile(const std::string& fileName, const std::string& text, std::string& error) {
  FILE* f = std::fopen(fileName.c_str(), "w");
  if (f == nullptr) {
    error = "cannot write " + fileName + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int writeErrno = errno;
  if (std::fclose(f) != 0 || !written) {
    error = "cannot write " + fileName + ": " + std::strerror(written ? errno : writeErrno);
    return false;
  }
  return true;
}

}  // namespace

int SystemSystemctl::Run(const std::vector<std::string>& args, std::string& output) {
  std::vector<std::string> argv{"systemctl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunAndCapture(argv, output);
}

int RecordingSystemctl::Run(const std::vector<std::string>& args, std::string& output) {
  calls.push_back(args);
  output.clear();
  for (const auto& [first, answer] : answers) {
    if (!args.empty() && args[0] == first) {
      output = answer.output;
      return answer.exitCode;
    }
  }
  return 0;
}

std::string ServiceUnitText(const TServiceUnit& unit) {
  // No PrivateNetwork: the single-instance names live per network namespace.
  return "[Unit]\n"
         "Description=" + DoublePercent(unit.description) + "\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + QuotedCommand(unit.execPath) + "\n"
         "WorkingDirectory=" + DoublePercent(unit.workingDirectory) + "\n"
         "Environment=" + unit.markerVariable + "=1\n"
         "KillMode=mixed\n"
         "TimeoutStopSec=" + std::to_string(unit.timeoutStopSec) + "\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

bool InstallServiceUnit(const TServiceUnit& unit, const std::string& unitFolder, Systemctl& systemctl,
                        std::string& error) {
  for (const std::string* path : {&unit.execPath, &unit.workingDirectory}) {
    if (!FitsOnAUnitLine(*path) || path->front() != '/') {
      error = "the path \"" + *path + "\" cannot be written into a unit file";
      return false;
    }
  }
  return WriteFile(UnitFileName(unitFolder, unit.name), ServiceUnitText(unit), error) &&
         Call(systemctl, {"daemon-reload"}, error) && Call(systemctl, {"enable", unit.name + ".service"}, error);
}

bool UninstallServiceUnit(const std::string& name, const std::string& unitFolder, Systemctl& systemctl,
                          std::string& error) {
  if (!Call(systemctl, {"disable", name + ".service"}, error)) return false;
  const std::string fileName = UnitFileName(unitFolder, name);
  if (::unlink(fileName.c_str()) != 0 && errno != ENOENT) {
    error = "cannot remove " + fileName + ": " + std::strerror(errno);
    return false;
  }
  return Call(systemctl, {"daemon-reload"}, error);
}

bool SystemStopping(Systemctl& systemctl) {
  std::string output;
  systemctl.Run({"is-system-running"}, output);  // exits non-zero in every state but "running"
  return Trimmed(output) == "stopping";
}
