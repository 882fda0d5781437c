#include "host/uGlobalName.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/ProgramMain.h"
#include "platform/MessageBox.h"
#include "platform/NamedMutex.h"
#include "platform/SysUtils.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Names no developer's running instance or parallel test uses.
std::string TestName(const std::string& base) { return "VtTest-" + std::to_string(::getpid()) + "-" + base; }

// Whether some process holds the abstract name, read without binding it (a
// probe by binding could itself make a starting instance fail).
bool HeldPerProc(const std::string& globalName) {
  std::ifstream in("/proc/net/unix");
  std::string line;
  const std::string want = " @" + globalName;
  while (std::getline(in, line))
    if (line.size() >= want.size() && line.compare(line.size() - want.size(), want.size(), want) == 0) return true;
  return false;
}

template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit = 10s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Waits for Pid for a bounded time; -1 when it did not end.
int WaitExit(pid_t pid, std::chrono::milliseconds limit = 10s) {
  int status = 0;
  if (!Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A child process that holds GlobalName until it is killed.
pid_t StartHolder(const std::string& globalName) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here: socket, bind, write, pause.
    int h;
    const char ok = CreateNamedMutex(globalName, h) == TNamedMutexResult::nmCreated ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  const bool started = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
  ::close(ready[0]);
  if (!started && pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

// Kills and reaps a child that a failed assertion left running.
struct KillOnExit {
  pid_t pid;
  ~KillOnExit() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

TEST(uGlobalName, GlobalPrefixByPlatform) {
  struct Case {
    TOsVersionInfo os;
    std::string want;
  };
  const Case cases[] = {
      {{true, true, 10, 0}, "Global\\X"},   // what Linux reports
      {{true, true, 5, 0}, "Global\\X"},    // Windows 2000
      {{true, true, 4, 0}, "X"},            // NT 4
      {{true, false, 4, 10}, "X"},          // the 9x family
      {{false, true, 10, 0}, "X"},          // the query failed
  };
  for (const Case& c : cases) EXPECT_EQ(GetGlobalName("X", c.os), c.want);
  EXPECT_EQ(GetGlobalName("VantrellHSProgram"), "Global\\VantrellHSProgram");
}

TEST(uGlobalName, RegisterProbeAndRelease) {
  const std::string name = TestName("own");
  EXPECT_FALSE(IsGlobalNameRegistered(name));
  EXPECT_FALSE(IsGlobalNameRegistered(name));  // the probe leaves nothing behind
  const TGlobalNameHandle h = RegisterGlobalName(name);
  ASSERT_NE(h, NoGlobalNameHandle);
  EXPECT_TRUE(IsGlobalNameRegistered(name));
  try {
    RegisterGlobalName(name);
    FAIL() << "registered twice";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Failed to register global name, [Global\\" + name + "] already exists!");
    EXPECT_STREQ(e.ClassName(), "Exception");
  }
  UnregisterGlobalName(h);
  EXPECT_FALSE(IsGlobalNameRegistered(name));
  try {
    RegisterGlobalName(std::string(200, 'n'));  // longer than a socket name can be
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Failed to register global name [Global\\" + std::string(200, 'n') + "],  unknown error!");
  }
}

TEST(uGlobalName, AChildHoldsTheNameUntilItIsKilled) {
  const std::string program = TestName("VantrellHSProgram");
  const pid_t child = StartHolder(GetGlobalName(program));
  ASSERT_GT(child, 0);
  KillOnExit guard{child};
  EXPECT_TRUE(IsGlobalNameRegistered(program));
  EXPECT_THROW(RegisterGlobalName(program), Exception);

  // The entry, asking the real guard under test names, refuses to start.
  auto rec = std::make_unique<RecordingMessageBoxer>();
  RecordingMessageBoxer* boxes = rec.get();
  InstallMessageBoxer(std::move(rec));
  bool created = false;
  TProgramHosts hosts;
  hosts.createService = [&]() -> std::unique_ptr<TServiceApplication> {
    created = true;
    return nullptr;
  };
  hosts.createDesktop = [&]() -> std::unique_ptr<TDesktopApplication> {
    created = true;
    return nullptr;
  };
  hosts.isGlobalNameRegistered = [](const std::string& name) { return IsGlobalNameRegistered(TestName(name)); };
  EXPECT_EQ(ProgramMain({"vantrell", "prog"}, hosts), 0);
  ASSERT_EQ(boxes->shown.size(), 1u);
  EXPECT_EQ(boxes->shown[0].text, "Failed to start: Vantrell Switch Program is already running!");
  InstallMessageBoxer(nullptr);
  EXPECT_FALSE(created);

  // A crash frees the name: nothing stale is left.
  ::kill(child, SIGKILL);
  EXPECT_EQ(WaitExit(child), 128 + SIGKILL);
  guard.pid = -1;
  EXPECT_FALSE(IsGlobalNameRegistered(program));
  const TGlobalNameHandle h = RegisterGlobalName(program);
  UnregisterGlobalName(h);
}

class ProgramTwice : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-prog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Starts build/vantrell in the test folder with standard error to ErrFile.
  pid_t Start(std::vector<std::string> args, const std::string& errFile) {
    args.insert(args.begin(), std::string(VT_TEST_BINARY_DIR) + "/vantrell");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addchdir_np(&fa, dir_.c_str());
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST_F(ProgramTwice, SecondStartReportsTheRunningProgramAndExitsZero) {
  const std::string held = GetGlobalName("VantrellHSProgram");
  if (HeldPerProc(held) || HeldPerProc(GetGlobalName("VantrellHSService")))
    GTEST_SKIP() << "a Vantrell instance already runs on this machine";

  const pid_t first = Start({"prog"}, dir_ + "/first.err");
  ASSERT_GT(first, 0);
  KillOnExit guard{first};
  int firstExit = -1;
  ASSERT_TRUE(Eventually([&] {
    if (HeldPerProc(held)) return true;
    int status;
    if (::waitpid(first, &status, WNOHANG) == first) firstExit = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return firstExit >= 0;
  })) << Read(dir_ + "/first.err");
  if (firstExit >= 0) {
    guard.pid = -1;
    // Another run on this machine started an instance at the same moment.
    if (Read(dir_ + "/first.err").find("already running") != std::string::npos) GTEST_SKIP() << "instance started elsewhere";
    FAIL() << "the first instance ended with " << firstExit << ": " << Read(dir_ + "/first.err");
  }

  const std::string message =
      "Vantrell Switch Failed to start\nFailed to start: Vantrell Switch Program is already running!\n";
  for (const auto& args : {std::vector<std::string>{"prog"}, std::vector<std::string>{}}) {
    const pid_t second = Start(args, dir_ + "/second.err");
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExit(second), 0);
    EXPECT_EQ(Read(dir_ + "/second.err"), message);
  }

  ::kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first), 0) << Read(dir_ + "/first.err");
  guard.pid = -1;
  EXPECT_FALSE(HeldPerProc(held));
}

}  // namespace
