// build/vantrell started in a program folder of its own, with its output in
// Folder/out.txt, and stopped by a signal.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "tests/Common/TempFolder.h"
#include "tests/platform/TcpTestSupport.h"

namespace programtest {

using namespace std::chrono_literals;

class Program {
 public:
  // Args follow the program's name; Env is set on top of this process's.
  Program(const std::string& folder, std::vector<std::string> args,
          std::vector<std::pair<std::string, std::string>> env = {})
      : folder_(folder) {
    const std::string binary = std::string(VT_TEST_BINARY_DIR) + "/vantrell";
    DeleteFile(folder + "out.txt");
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      const int in = ::open("/dev/null", O_RDONLY);
      const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(out, 2);
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(binary.c_str())};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(binary.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  std::string Output() const { return ReadWholeFile(folder_ + "out.txt"); }
  bool WaitForOutput(const std::string& text) {
    return tcptest::WaitUntil([&] { return Output().find(text) != std::string::npos; }, 10000ms);
  }
  // Another test started an instance at the same moment.
  bool RefusedAsSecond() const { return Output().find("already running") != std::string::npos; }
  // Sends Sig and waits (at most 20 s) for the exit; the exit code, 1000 + the
  // signal that ended it, or -1.
  int Signal(int sig) {
    ::kill(pid_, sig);
    return WaitForExit();
  }
  int WaitForExit() {
    int status = 0;
    const bool ended = tcptest::WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 20000ms);
    if (!ended) return -1;
    exited_ = true;
    if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string folder_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

// Every event-log file of the program folder, one after the other.
inline std::string EventLog(const std::string& folder) {
  std::string all;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "Log/VT", ec)) all += ReadWholeFile(entry.path());
  return all;
}

// Settings of one site, shop.example on Port, served by a cluster of one back
// end on BackendPort; Adjust changes them before they are written.
inline void WriteShopSettings(const std::string& folder, int port, int backendPort,
                              const std::function<void(TDomainHandler&, TServerCluster&)>& adjust = {}) {
  TDomainHandler settings;
  auto cluster = settings.ServerClusters->Add();
  cluster->Name = "farm";
  auto server = TServer::Create(*cluster);
  server->ServerName = "web";
  server->ServerAddress = "127.0.0.1";
  server->ServerPort = backendPort;
  server->SetCapacity(1);
  server->Enabled = true;
  TDomain* d = settings.AddDomain();
  d->DomainName = "shop.example";
  d->SiteName = "shop";
  d->ListenOnPort = port;
  d->ServerCluster = cluster.get();
  if (adjust) adjust(settings, *cluster);
  settings.SaveToFile(folder + SettingsFileName);
}

}  // namespace programtest
