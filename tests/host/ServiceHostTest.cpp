// The service application inside ProgramMain: the install switches, and the
// runs that create an engine without loading settings.
#include "host/ServiceHost.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "Common/uProgramMode.h"
#include "host/ProgramMain.h"
#include "platform/MainLoop.h"
#include "platform/SysUtils.h"
#include "tests/Common/TempFolder.h"

namespace {

class NoDesktop : public TDesktopApplication {
 public:
  explicit NoDesktop(bool& ran) : ran_(ran) {}
  void SetTitle(const std::string&) override {}
  void Run() override { ran_ = true; }

 private:
  bool& ran_;
};

class ServiceHost : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = GetCurrentDir();
    ASSERT_EQ(::chdir(program_.Path().c_str()), 0);
    ::unsetenv(kServiceMarkerVariable);
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
    ::mkdir("data", 0755);
    WriteWholeFile("data/lbconnections.bin", kSaved);
  }
  void TearDown() override {
    RunningAsService = false;
    MainLoop::Instance().Reset();
    ASSERT_EQ(::chdir(previousDir_.c_str()), 0);
  }

  int Run(std::vector<std::string> params) {
    params.insert(params.begin(), "vantrell");
    TProgramHosts hosts;
    hosts.createService = [this] {
      TServiceHostSettings settings;
      settings.unitFolder = units_.Path();
      settings.systemctl = &systemctl_;
      return CreateServiceApplication(settings);
    };
    hosts.createDesktop = [this] { return std::make_unique<NoDesktop>(desktopRan_); };
    return ProgramMain(params, hosts);
  }

  static constexpr const char* kSaved = "affinity tables of the last run";
  TempFolder program_, units_;
  std::string previousDir_;
  RecordingSystemctl systemctl_;
  bool desktopRan_ = false;
};

// The engine these runs create never loads settings, so it must not write
// its empty tables over the file the last run saved.
TEST_F(ServiceHost, AStartByHandLeavesTheAffinityFileAndGoesOnAsTheDesktopProgram) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_TRUE(desktopRan_);
  EXPECT_TRUE(systemctl_.calls.empty());
  EXPECT_EQ(ReadWholeFile("data/lbconnections.bin"), kSaved);
  EXPECT_FALSE(RunningAsService);
}

TEST_F(ServiceHost, InstallAndUninstall) {
  for (const char* install : {"/install", "-INSTALL"}) {
    SCOPED_TRACE(install);
    systemctl_.calls.clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run({install}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Service SvrVantrell installed\n");
    EXPECT_EQ(systemctl_.calls,
              (std::vector<std::vector<std::string>>{{"daemon-reload"}, {"enable", "SvrVantrell.service"}}));
    const std::string unit = ReadWholeFile(units_.Path() + "SvrVantrell.service");
    // The program folder is the working directory; the executable is this one.
    EXPECT_NE(unit.find("WorkingDirectory=" + program_.Path().substr(0, program_.Path().size() - 1) + "\n"),
              std::string::npos)
        << unit;
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_NE(unit.find("ExecStart=\"" + std::string(exe) + "\"\n"), std::string::npos) << unit;
  }
  EXPECT_FALSE(desktopRan_);
  EXPECT_EQ(ReadWholeFile("data/lbconnections.bin"), kSaved);

  systemctl_.calls.clear();
  testing::internal::CaptureStdout();
  EXPECT_EQ(Run({"-uninstall"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Service SvrVantrell uninstalled\n");
  EXPECT_EQ(systemctl_.calls,
            (std::vector<std::vector<std::string>>{{"disable", "SvrVantrell.service"}, {"daemon-reload"}}));
  EXPECT_FALSE(FileExists(units_.Path() + "SvrVantrell.service"));
  EXPECT_EQ(ReadWholeFile("data/lbconnections.bin"), kSaved);
}

TEST_F(ServiceHost, ARefusedInstallSaysWhyAndEndsWithOne) {
  systemctl_.answers.push_back({"enable", {1, "Access denied\n"}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run({"/install"}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to install service SvrVantrell: systemctl enable SvrVantrell.service failed with exit code 1: "
            "Access denied\n");

  systemctl_.answers.push_back({"disable", {1, "Unit file SvrVantrell.service does not exist.\n"}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run({"/uninstall"}), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to uninstall service SvrVantrell: systemctl disable SvrVantrell.service failed with exit code 1: "
            "Unit file SvrVantrell.service does not exist.\n");
  EXPECT_FALSE(desktopRan_);
}

}  // namespace
