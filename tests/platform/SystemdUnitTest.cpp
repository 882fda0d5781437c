#include "platform/SystemdUnit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/Spawn.h"
#include "platform/SysUtils.h"
#include "tests/Common/TempFolder.h"

namespace {

// A program folder whose name holds a blank and a "%", with an executable in it.
struct ProgramFolder {
  TempFolder temp;
  std::string path;
  std::string exe;
  ProgramFolder() : path(temp.Path() + "Vantrell 100% switch"), exe(path + "/vantrell") {
    std::filesystem::create_directory(path);
    std::filesystem::copy_file("/bin/true", exe);
  }
  TServiceUnit Unit() const {
    TServiceUnit unit;
    unit.name = "SvrVantrell";
    unit.description = "Vantrell";
    unit.execPath = exe;
    unit.workingDirectory = path;
    unit.markerVariable = "VANTRELL_SERVICE";
    return unit;
  }
};

TEST(SystemdUnit, InstallWritesAUnitThatSystemdAcceptsAndEnablesItWithoutAStart) {
  ProgramFolder folder;
  RecordingSystemctl systemctl;
  std::string error;
  ASSERT_TRUE(InstallServiceUnit(folder.Unit(), folder.temp.Path(), systemctl, error)) << error;
  EXPECT_EQ(systemctl.calls,
            (std::vector<std::vector<std::string>>{{"daemon-reload"}, {"enable", "SvrVantrell.service"}}));

  const std::string unitFile = folder.temp.Path() + "SvrVantrell.service";
  const std::string text = ReadWholeFile(unitFile);
  for (const char* line : {"Description=Vantrell\n", "Type=notify\n", "ExecStart=\"" /* quoted */,
                           "/Vantrell 100%% switch/vantrell\"\n", "WorkingDirectory=", "Vantrell 100%% switch\n",
                           "Environment=VANTRELL_SERVICE=1\n", "KillMode=mixed\n", "TimeoutStopSec=120\n",
                           "WantedBy=multi-user.target\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(text.find("PrivateNetwork"), std::string::npos);

  if (::access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
  // Some mistakes only warn, so nothing at all may be printed.
  std::string output;
  EXPECT_EQ(RunAndCapture({"systemd-analyze", "verify", unitFile}, output), 0) << output;
  EXPECT_EQ(output, "");
}

TEST(SystemdUnit, QuotingOfTheCommand) {
  TServiceUnit unit;
  unit.execPath = "/opt/a \"b\"\\c$d%e/vantrell";
  unit.workingDirectory = "/opt/x%y";
  const std::string text = ServiceUnitText(unit);
  EXPECT_NE(text.find("ExecStart=\"/opt/a \\\"b\\\"\\\\c$$d%%e/vantrell\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WorkingDirectory=/opt/x%%y\n"), std::string::npos) << text;
}

TEST(SystemdUnit, UninstallDisablesRemovesAndReloads) {
  TempFolder folder;
  WriteWholeFile(folder.Path() + "SvrVantrell.service", "[Unit]\n");
  RecordingSystemctl systemctl;
  std::string error;
  ASSERT_TRUE(UninstallServiceUnit("SvrVantrell", folder.Path(), systemctl, error)) << error;
  EXPECT_EQ(systemctl.calls,
            (std::vector<std::vector<std::string>>{{"disable", "SvrVantrell.service"}, {"daemon-reload"}}));
  EXPECT_FALSE(FileExists(folder.Path() + "SvrVantrell.service"));
}

TEST(SystemdUnit, FailuresSayWhy) {
  ProgramFolder folder;
  struct Case {
    const char* name;
    std::string unitFolder;
    std::string refused;  // the systemctl call that fails
    std::string execPath;
    std::string reason;
  };
  const Case cases[] = {
      {"no unit folder", folder.temp.Path() + "missing/", "", folder.exe, "cannot write " + folder.temp.Path() +
                                                                               "missing/SvrVantrell.service: No such"},
      {"enable refused", folder.temp.Path(), "enable", folder.exe,
       "systemctl enable SvrVantrell.service failed with exit code 1: Access denied"},
      {"reload refused", folder.temp.Path(), "daemon-reload", folder.exe,
       "systemctl daemon-reload failed with exit code 1: Access denied"},
      {"line break in the path", folder.temp.Path(), "", "/opt/a\nb/vantrell", "cannot be written into a unit file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSystemctl systemctl;
    if (!c.refused.empty()) systemctl.answers.push_back({c.refused, {1, "Access denied\n"}});
    TServiceUnit unit = folder.Unit();
    unit.execPath = c.execPath;
    std::string error;
    EXPECT_FALSE(InstallServiceUnit(unit, c.unitFolder, systemctl, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  RecordingSystemctl systemctl;
  systemctl.answers.push_back({"disable", {1, "Unit file SvrVantrell.service does not exist.\n"}});
  std::string error;
  EXPECT_FALSE(UninstallServiceUnit("SvrVantrell", folder.temp.Path(), systemctl, error));
  EXPECT_EQ(error, "systemctl disable SvrVantrell.service failed with exit code 1: Unit file SvrVantrell.service "
                   "does not exist.");
}

TEST(SystemdUnit, SystemStoppingReadsTheSystemState) {
  for (const auto& [state, stopping] :
       std::vector<std::pair<std::string, bool>>{{"stopping\n", true}, {"running\n", false}, {"degraded\n", false},
                                                 {"", false}}) {
    RecordingSystemctl systemctl;
    systemctl.answers.push_back({"is-system-running", {state == "running\n" ? 0 : 1, state}});
    EXPECT_EQ(SystemStopping(systemctl), stopping) << state;
    EXPECT_EQ(systemctl.calls, (std::vector<std::vector<std::string>>{{"is-system-running"}}));
  }
}

}  // namespace
