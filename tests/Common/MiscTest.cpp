#include "Common/Misc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/SysUtils.h"

namespace {

namespace fs = std::filesystem;

TEST(Misc, FormatThousandsTable) {
  struct Case {
    int64_t n;
    std::string want;
  };
  const Case cases[] = {{0, "0"},           {5, "5"},
                        {999, "999"},       {1000, "1 000"},
                        {12345, "12 345"},  {1234567, "1 234 567"},
                        {-5, ""},           {INT32_MAX, "2 147 483 647"},
                        {INT32_MIN, ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(FormatThousands(static_cast<int32_t>(c.n)), c.want) << c.n;
    EXPECT_EQ(FormatThousands64(c.n), c.want) << c.n;
  }
  EXPECT_EQ(FormatThousands64(INT64_MAX), "9 223 372 036 854 775 807");
  EXPECT_EQ(FormatThousands64(-1), "");
}

TEST(Misc, SmallNumberAndTextHelpers) {
  EXPECT_EQ(MinInt(-1, 3), -1);
  EXPECT_EQ(MinInt64(INT64_MIN, 0), INT64_MIN);
  EXPECT_EQ(MaxInt64(INT64_MAX, 0), INT64_MAX);
  EXPECT_EQ(HostWithoutPort("example.com:8080"), "example.com");
  EXPECT_EQ(HostWithoutPort("example.com"), "example.com");
  EXPECT_EQ(HostWithoutPort(":80"), "");
  EXPECT_EQ(DateTimeToStrDef("never", 0), "never");
  EXPECT_EQ(DateTimeToStrDef("never", EncodeDateTime(2009, 12, 9, 14, 3, 7, 0)), "2009-12-09 14:03:07");
}

TEST(Misc, CommandLineSwitchesMatchWholeAndIgnoreCase) {
  SetCommandLine({"prog", "PROG", "/install", "Debug"});
  EXPECT_FALSE(HasCommandLineSwitch("owa"));
  SetCommandLine({"/path/to/vantrell", "PROG", "/install", "Debug"});
  EXPECT_TRUE(HasCommandLineSwitch("prog"));
  EXPECT_TRUE(HasCommandLineSwitch("debug"));
  EXPECT_TRUE(HasCommandLineSwitch("/INSTALL"));
  EXPECT_FALSE(HasCommandLineSwitch("install"));
  EXPECT_FALSE(HasCommandLineSwitch("/path/to/vantrell"));  // the program name is not a parameter
  SetCommandLine({"vantrell", "/prog", "progx"});
  EXPECT_FALSE(HasCommandLineSwitch("prog"));
  const char* argv[] = {"vantrell", "OWA"};
  SetCommandLine(2, argv);
  EXPECT_TRUE(HasCommandLineSwitch("owa"));
  SetCommandLine(std::vector<std::string>{});
  EXPECT_FALSE(HasCommandLineSwitch("owa"));
}

class MiscFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-misc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const std::string& name) { std::ofstream(dir_ + name) << "x"; }
  std::vector<std::string> Sorted(TStringList l) {
    l.Sort();
    return l.Items();
  }
  std::string dir_;
};

TEST_F(MiscFiles, ListAndDeleteByMask) {
  for (const char* n : {"ex091209.log", "EX091210.LOG", "vt091209.log", "README", ".hidden.log"}) Touch(n);
  fs::create_directory(dir_ + "sub.log");

  EXPECT_EQ(Sorted(ListFilesByMask(dir_ + "ex*.log")),
            (std::vector<std::string>{dir_ + "ex091209.log", dir_ + "EX091210.LOG"}));  // case ignored
  EXPECT_EQ(Sorted(ListFilesByMask(dir_ + "*.log")),
            (std::vector<std::string>{dir_ + "ex091209.log", dir_ + "EX091210.LOG", dir_ + "sub.log",
                                      dir_ + "vt091209.log"}));  // folders too, dot-names never
  EXPECT_EQ(ListFilesByMask(dir_ + "*.*").Count(), 5);            // "*.*" includes README
  EXPECT_EQ(Sorted(ListFilesByMask(dir_ + "vt??12?9.log")), (std::vector<std::string>{dir_ + "vt091209.log"}));
  EXPECT_EQ(ListFilesByMask(dir_ + "missing/*").Count(), 0);

  DeleteFilesByMask(dir_ + "*.log");
  EXPECT_TRUE(fs::exists(dir_ + "README"));
  EXPECT_TRUE(fs::exists(dir_ + ".hidden.log"));  // dot-names are left
  EXPECT_TRUE(fs::is_directory(dir_ + "sub.log"));  // folders are not deleted
  EXPECT_FALSE(fs::exists(dir_ + "ex091209.log"));
  EXPECT_FALSE(fs::exists(dir_ + "vt091209.log"));
}

TEST(Misc, BrowserCommand) {
  EXPECT_EQ(CutBeforeFirefoxUrlSwitch("/usr/bin/firefox -url %1"), "/usr/bin/firefox ");
  EXPECT_EQ(CutBeforeFirefoxUrlSwitch("C:\\Mozilla\\FIREFOX.EXE -URL \"%1\""), "C:\\Mozilla\\FIREFOX.EXE ");
  EXPECT_EQ(CutBeforeFirefoxUrlSwitch("chromium -url"), "chromium -url");
  EXPECT_EQ(CutBeforeFirefoxUrlSwitch("firefox"), "firefox");

  const char* saved = std::getenv("BROWSER");
  const std::string keep = saved ? saved : "";
  unsetenv("BROWSER");
  EXPECT_EQ(GetDefaultBrowserCommand(), "xdg-open");
  setenv("BROWSER", "firefox -url:w3m", 1);
  EXPECT_EQ(GetDefaultBrowserCommand(), "firefox ");
  if (saved) setenv("BROWSER", keep.c_str(), 1);
  else unsetenv("BROWSER");
}

TEST_F(MiscFiles, OpenURLPassesTheUrlAsOneArgumentWithoutAShell) {
  const std::string script = dir_ + "browser.sh";
  const std::string out = dir_ + "args.txt";
  {
    std::ofstream s(script);
    s << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " << out << ".tmp\nmv " << out << ".tmp "
      << out << "\n";
  }
  ::chmod(script.c_str(), 0755);
  const char* saved = std::getenv("BROWSER");
  const std::string keep = saved ? saved : "";
  setenv("BROWSER", (script + " --new-window").c_str(), 1);

  const std::string url = "http://127.0.0.1:19721/?status;touch " + dir_ + "pwned&x=$(id)`id`";
  OpenURL(url);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(out) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (saved) setenv("BROWSER", keep.c_str(), 1);
  else unsetenv("BROWSER");

  ASSERT_TRUE(fs::exists(out));
  std::ifstream in(out);
  std::stringstream got;
  got << in.rdbuf();
  EXPECT_EQ(got.str(), "--new-window\n" + url + "\n");
  EXPECT_FALSE(fs::exists(dir_ + "pwned"));
}

TEST(Misc, MachineUserAndAffinity) {
  EXPECT_FALSE(GetComputerNameStr().empty());
  EXPECT_FALSE(GetUserNameStr().empty());
  TProcessorSet process, system;
  ASSERT_TRUE(GetProcessAffinity(0, process, system));
  EXPECT_TRUE(process.any());
  EXPECT_TRUE(system.any());
  EXPECT_FALSE(GetProcessAffinity(-12345, process, system));
  EXPECT_TRUE(process.none());
}

}  // namespace
