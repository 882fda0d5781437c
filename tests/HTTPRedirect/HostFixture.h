// An engine host in a fresh program folder, with the test thread as the main
// thread: settings files written with the configuration's own writer, the
// event log read back without its stamps, and bounded pumps of the main loop.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/uCachedLogFileClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/MainLoop.h"
#include "platform/SysUtils.h"
#include "tests/Common/TempFolder.h"
#include "tests/platform/TcpTestSupport.h"

namespace hosttest {

using namespace std::chrono_literals;

// A port nobody listens on at this moment.
inline int FreePort() {
  SocketHandle s = tcptest::RawListener();
  return tcptest::PortOf(s.Get());
}

// A configuration to be written as data/settings.dat.
struct Settings {
  TDomainHandler handler;

  Settings() { handler.MaxThreads = 150; }
  TDomain* AddDomain(const std::string& host, int listenPort, int backendPort) {
    TDomain* d = handler.AddDomain();
    d->DomainName = host;
    d->SiteName = host;
    d->ListenOnPort = listenPort;
    d->DefaultTargetAddress = "127.0.0.1";
    d->OutPort = backendPort;
    d->DefaultForPort = true;
    return d;
  }
  std::shared_ptr<TServerCluster> AddCluster(const std::string& name) {
    auto cluster = handler.ServerClusters->Add();
    cluster->Name = name;
    return cluster;
  }
  std::shared_ptr<TServer> AddServer(TServerCluster& cluster, int port) {
    auto server = TServer::Create(cluster);
    server->ServerName = "S" + IntToStr(port);
    server->ServerAddress = "127.0.0.1";
    server->ServerPort = port;
    server->SetCapacity(1);
    server->Enabled = true;
    return server;
  }
  void Save(const std::string& folder = "") { handler.SaveToFile(folder + SettingsFileName); }
};

// The event log's texts, stamps cut off ("yyyy-mm-dd hh:nn:ss|").
inline std::vector<std::string> ReadEventLog(const std::string& fileName) {
  std::vector<std::string> lines;
  const std::string all = ReadWholeFile(fileName);
  size_t start = 0;
  for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = all.substr(start, end - start);
    const size_t bar = line.find('|');
    lines.push_back(bar == std::string::npos ? line : line.substr(bar + 1));
  }
  return lines;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = GetCurrentDir();
    ASSERT_EQ(::chdir(folder_.Path().c_str()), 0);
    MainLoop::Instance().Reset();
    MainLoop::Instance().BindToCurrentThread();
    host_ = std::make_unique<TdmHTTPBase>();
  }
  void TearDown() override {
    StopIfRunning();
    host_.reset();
    MainLoop::Instance().Reset();
    ASSERT_EQ(::chdir(previousDir_.c_str()), 0);
  }

  TdmHTTPBase& Host() { return *host_; }
  TDomainHandler& Config() { return *host_->Stats->DomainHandler; }
  uint8_t State() { return host_->Stats->ServerState; }

  std::string Load() {
    std::string msg;
    host_->LoadSettings(msg);
    return msg;
  }
  std::string Start() {
    std::string msg;
    host_->StartServer(msg);
    return msg;
  }
  std::string Stop() {
    std::string msg;
    host_->StopServer(msg);
    return msg;
  }
  void StopIfRunning() {
    if (host_ && (host_->HTTPServer->Active() || State() == 1)) Stop();
  }

  std::vector<std::string> EventLog() {
    host_->FlushW3C();  // its write errors reach the event log first
    host_->LogFile->Flush();
    return ReadEventLog(host_->LogFile->CurrentFileName());
  }
  // Lines logged from now on (see Since).
  size_t Mark() { return EventLog().size(); }
  std::vector<std::string> Since(size_t mark) {
    std::vector<std::string> all = EventLog();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
  }
  // Lines without the statistics lines, which a tick may put anywhere.
  static std::vector<std::string> WithoutStats(std::vector<std::string> lines) {
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("STAT", 0) == 0; }),
                lines.end());
    return lines;
  }
  bool Logged(const std::string& text) {
    for (const std::string& line : EventLog())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  // Runs the main loop until Pred holds (at most Limit).
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      MainLoop::Instance().ProcessPending();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
  }

  TempFolder folder_;
  std::string previousDir_;
  std::unique_ptr<TdmHTTPBase> host_;
};

}  // namespace hosttest
