#include "HTTPRedirect/udmHTTPBase.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "Common/uCachedLogFileClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uIPMisc.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uLogger.h"
#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "HTTPRedirect/udmHTTPBaseParts.h"
#include "platform/AntiFreeze.h"
#include "platform/Classes.h"
#include "platform/MessageBox.h"
#include "platform/TcpClient.h"
#include "platform/TcpErrors.h"

std::atomic<TdmHTTPBase*> dmHTTPBase{nullptr};

namespace {

// The host whose LoggerCallback the global logger calls.
std::atomic<TdmHTTPBase*> loggerOwner{nullptr};

constexpr uint32_t kStopTimerMs = 250;
constexpr uint32_t kTickTimerMs = 1000;
constexpr uint32_t kStatsTimerMs = 250;
constexpr int kStopPollMs = 150;
constexpr int kProbeTimeoutMs = 150;

const char* const kBoxCaption = "Vantrell Switch";

// One step above normal; needs the right to raise priority, so it is best
// effort. A pool thread keeps it for its later connections.
void RaiseThreadPriority() {
  thread_local bool raised = false;
  if (raised) return;
  raised = true;
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  ::setpriority(PRIO_PROCESS, tid, ::getpriority(PRIO_PROCESS, tid) - 1);
}

}  // namespace

// ------------------------------------------------------------ creation

TdmHTTPBase::TdmHTTPBase(MainLoop& loop)
    : loop_(loop),
      programFolder_(IncludeTrailingPathDelimiter(GetCurrentDir())),
      stopWaiter_(std::make_unique<TStopWaiter>()), relay_(std::make_shared<TRelay>()) {
  CreateServerComponents();
  try {
    LogFile = std::make_unique<TLogFile>(programFolder_ + "Log/VT/",
                                         TLogFile::smDateTime, true, "txt", "vt", "");
    LogFile->SetSeparator("|");
  } catch (const std::exception& e) {
    throw EVantrell(std::string("ERROR : Vantrell failed to create log. Logging disabled ;") + e.what());
  }
  Stats = std::make_unique<TStatHolder>();
  // The client threads' overload rule reads it from the first connection on,
  // not only from the first statistics tick.
  Stats->PoolSize = HTTPThreadPool->PoolSize();
  SetThreadClass([] { return std::make_unique<TClientThread>(); });

  // Callbacks and hooks point here only once everything they reach exists.
  loggerOwner = this;
  W3CFiles.SetOnWriteError([this](const std::string& path, const std::string& message, bool repeated) {
    W3CWriteFailed(path, message, repeated);
  });
  W3CFiles.SetOnDropped(
      [this](uint64_t lines) { Log(Format("W3C log queue full : %u lines dropped", lines)); });
  GlobalLogger->SetOnLog([this](const std::string& line) { LoggerCallback(line); });
  TEngineHookSet hooks;
  hooks.Owner = this;
  hooks.StartServerHook = [this](void*, std::string& msg) { StartServer(msg); };
  hooks.StopServerHook = [this](void*, std::string& msg) { StopServer(msg); };
  hooks.ReloadSettingsHook = [this](void*, std::string& msg) { LoadSettings(msg); };
  hooks.IsServerRunningHook = [this] { return IsServerRunning(); };
  hooks.GetDomainHandlerHook = [this] { return GetDomainHandler(); };
  hooks.WebAdminLogHook = [this](TDomainHandler* sender, const std::string& text) { WebAdminLog(sender, text); };
  EngineHooks::Assign(hooks);

  Timer_StopServer = loop_.AddTimer(kStopTimerMs, [this] { Timer_StopServerTimer(); }, false);
  Timer_Tick = loop_.AddTimer(kTickTimerMs, [this] { Timer_TickTimer(); }, false);
  Timer_UpdateStats = loop_.AddTimer(kStatsTimerMs, [this] { Timer_UpdateStatsTimer(); }, true);

  TdmHTTPBase* none = nullptr;
  dmHTTPBase.compare_exchange_strong(none, this);
}

void TdmHTTPBase::CreateServerComponents() {
  HTTPThreadPool = std::make_unique<ThreadPool>(kPoolSize);
  HTTPServer = std::make_unique<TcpServer>();
  HTTPServer->SetListenQueue(kListenQueue);
  HTTPServer->SetReuseSocket(true);
  HTTPServer->SetThreadPool(HTTPThreadPool.get());
  HTTPServer->SetTerminateWaitTime(kTerminateWaitTime);
  HTTPServer->SetOnConnect([this](PeerThread& t) { Server_HTTPConnect(t); });
  HTTPServer->SetOnExecute([this](PeerThread& t) { Server_HTTPExecute(t); });
  HTTPServer->SetOnDisconnect([this](PeerThread& t) { Server_HTTPDisconnect(t); });
  HTTPServer->SetOnException([this](PeerThread& t, const Exception& e) { Server_HTTPException(t, e); });
  HTTPServer->SetOnListenException([this](const Exception& e) { Server_HTTPListenException(e); });
  HTTPServer->SetOnConnectionCeiling([this](int ceiling) { Server_ConnectionCeiling(ceiling); });
}

// Nothing may reach a part of the host after it is freed: the timers go
// first, then whatever could call in (hooks, console relays), then the
// listeners and the pool, whose threads count on Stats. Only then the
// affinity tables are saved and the rest is freed.
TdmHTTPBase::~TdmHTTPBase() {
  TdmHTTPBase* self = this;
  dmHTTPBase.compare_exchange_strong(self, nullptr);
  loop_.RemoveTimer(Timer_StopServer);
  loop_.RemoveTimer(Timer_Tick);
  loop_.RemoveTimer(Timer_UpdateStats);
  EngineHooks::ClearOwnedBy(this);
  relay_->Detach();

  try {
    DeactivateSSLServers();
  } catch (const std::exception&) {
  }
  try {
    HTTPServer->SetActive(false);
  } catch (const std::exception&) {
  }
  HTTPThreadPool->TerminateThreads();

  // A host that never loaded the settings holds empty tables; the file keeps
  // what the last host that ran saved.
  if (!FirstLoad) SaveConnections();

  // No client writes W3C lines any more: the queue is written while the
  // event log its errors go to still exists.
  FlushW3C();
  W3CFiles.SetOnWriteError(nullptr);
  W3CFiles.SetOnDropped(nullptr);
  if (loggerOwner == this) {
    GlobalLogger->SetOnLog(nullptr);
    loggerOwner = nullptr;
  }
  SSLServers.reset();
  HTTPServer.reset();
  HTTPThreadPool.reset();
  Stats.reset();
  LogFile.reset();
}

std::string TdmHTTPBase::ConnectionsFileName() const {
  return programFolder_ + "data/lbconnections.bin";
}

void TdmHTTPBase::SaveConnections() {
  const std::string path = ConnectionsFileName();
  try {
    TDomainHandler& config = *Stats->DomainHandler;
    ReadLockGuard g(config.Synchronizer);
    config.ServerClusters->SaveConnectionsToFile(path);
  } catch (const std::exception& e) {
    LogFile->WriteLine(Format("Failed to save LB Connections, File=%s. %s.", path, e.what()));
  }
}

void TdmHTTPBase::RegisterHooks() {
  TEngineHookSet hooks;
  hooks.Owner = this;
  hooks.StartServerHook = [this](void*, std::string& msg) { StartServer(msg); };
  hooks.StopServerHook = [this](void*, std::string& msg) { StopServer(msg); };
  hooks.ReloadSettingsHook = [this](void*, std::string& msg) { LoadSettings(msg); };
  hooks.RestartServerHook = [this](void*, std::string& msg) {
    if (Stats->ServerState == ssRunning) {
      std::string dropped;
      StopServer(dropped);
      StartServer(msg);
    } else {
      msg = "Server not running";
    }
  };
  hooks.IsServerRunningHook = [this] { return IsServerRunning(); };
  hooks.GetDomainHandlerHook = [this] { return GetDomainHandler(); };
  hooks.WebAdminLogHook = [this](TDomainHandler* sender, const std::string& text) { WebAdminLog(sender, text); };
  EngineHooks::Assign(hooks);
}

bool TdmHTTPBase::IsServerRunning() const { return Stats->ServerState == ssRunning; }

TDomainHandler* TdmHTTPBase::GetDomainHandler() const { return Stats->DomainHandler.get(); }

void TdmHTTPBase::SetThreadClass(ThreadPool::ThreadFactory factory) { HTTPThreadPool->SetThreadClass(std::move(factory)); }

// ------------------------------------------------------------ settings

void TdmHTTPBase::LoadSettings(std::string& msg) {
  try {
    TDomainHandler& config = *Stats->DomainHandler;
    int32_t enabledBefore, enabledNow;
    bool noSettingsFile;
    {
      // Only the load itself: a restart below waits for the main loop.
      std::lock_guard<std::mutex> reload(ReloadLock);
      enabledBefore = config.CountEnabledDomains();
      config.LoadFromFile(SettingsFileName);
      if (FirstLoad) {
        FirstLoad = false;
        const std::string path = ConnectionsFileName();
        try {
          ReadLockGuard g(config.Synchronizer);
          config.ServerClusters->LoadConnectionsFromFile(path);
        } catch (const std::exception&) {
          LogFile->WriteLine(Format("Failed to load LB Connections, File=%s.", path));
        }
      }
      enabledNow = config.CountEnabledDomains();
      ReadLockGuard g(config.Synchronizer);
      noSettingsFile = config.NoSettingsFile;
    }
    std::string dropped;
    // New domains need listeners; without any domain the listeners must go.
    if (enabledBefore == 0 && enabledNow > 0 && Stats->ServerState == ssRunning) {
      StopServer(dropped);
      StartServer(dropped);
    }
    bool listening;
    {
      // A start on another thread rebuilds the bindings under this lock.
      std::unique_lock<std::recursive_mutex> startStop(StartStopLock, std::defer_lock);
      loop_.LockPumping(startStop);
      listening = HTTPServer->BindingCount() > 0 || SSLBindingCount() > 0;
    }
    if (enabledNow == 0 && listening) {
      StopServer(dropped);
      StartServer(dropped);
    }
    {
      // The pool follows the configuration as the last reload left it.
      std::lock_guard<std::mutex> reload(ReloadLock);
      int32_t maxThreads;
      {
        ReadLockGuard g(config.Synchronizer);
        maxThreads = config.MaxThreads;
      }
      if (maxThreads > 0 && maxThreads != HTTPThreadPool->PoolSize()) {
        Log(Format("MaxThreadsToPool changed from %d to %d.", HTTPThreadPool->PoolSize(), maxThreads));
        HTTPThreadPool->SetPoolSize(maxThreads);
        Stats->PoolSize = maxThreads;
      }
    }
    msg = noSettingsFile ? "No settings file found!" : "Settings reloaded";
  } catch (const std::exception& e) {
    msg = Format("LoadSettings failed : %s", e.what());
    LogFile->WriteLine(msg);
  }
}

// ------------------------------------------------------------ start

void TdmHTTPBase::StartServer(std::string& msg) {
  std::unique_lock<std::recursive_mutex> startStop(StartStopLock, std::defer_lock);
  loop_.LockPumping(startStop);
  if (Stats->ServerState == ssRunning) {
    msg = "Server not stopped";
    Log(msg);
  } else {
    Stats->ServerState = ssStarting;
    Log("Server starting...");
    Log(std::string("  Version = ") + VTVersion);
    Log("  Install type = " + InstallTypeName());
    try {
      PrepareBindings();
      Log("Starting HTTP Listener...");
      StartHTTPListener(msg);
      Log("Starting HTTPS Listener...");
      std::string applyMsg;
      StartSSLServers(msg, applyMsg);
      Stats->ServerState = ssRunning;
      loop_.SetTimerEnabled(Timer_Tick, true);
      Log("Verifying Load Balancing Servers...");
      CheckLBServers();
      Log("Load Balancing Servers verified");
      msg = "Server started";
      Log(msg);
    } catch (const std::exception& e) {
      if (dynamic_cast<const EIdCouldNotBindSocket*>(&e) != nullptr) {
        msg = std::string("ERROR : Failed to start server, most likely you're already using the port in question for "
                          "another server. \r\nERROR : The error message was:") + e.what();
      } else {
        msg = std::string("ERROR : Failed to start server. \r\nERROR : The error message was:") + e.what();
      }
      Log(msg);
      ShowStartError(msg);
      Stats->ServerState = ssStopped;
    }
  }
  RefreshConsole();
}

void TdmHTTPBase::PrepareBindings() {
  TDomainHandler& config = *Stats->DomainHandler;
  TStringList entries;
  config.GetBindings(&entries, false);
  HTTPServer->ClearBindings();
  for (int i = 0; i < entries.Count(); ++i) {
    const std::string& entry = entries[i];
    const size_t bar = entry.rfind('|');
    const std::string ip = bar == std::string::npos ? entry : entry.substr(0, bar);
    const int port = StrToInt(bar == std::string::npos ? std::string_view() : std::string_view(entry).substr(bar + 1));
    HTTPServer->AddBinding(ip == "*" ? std::string() : ip, port);
    Log(Format("Preparing to listen on %s:%d", ip == "*" ? std::string("all local IPs") : ip, port));
  }
  CreateSSLServers();  // takes the configuration's read lock itself
  if (HTTPServer->BindingCount() == 0 && SSLBindingCount() == 0)
    Log("Note: No active domains configured, Vantrell Switch isn't listening on any ports!");
}

void TdmHTTPBase::StartHTTPListener(std::string& msg) {
  for (const TcpBinding& binding : HTTPServer->Bindings()) {
    if (!CheckBinding(msg, binding)) throw EAbort();
  }
  Log("Starting HTTP Listener...");
  HTTPServer->SetActive(true);
  Log("HTTP Listener started");
}

void TdmHTTPBase::CheckLBServers() {
  try {
    Stats->DomainHandler->CheckIfLBServersAreOK();
  } catch (const std::exception& e) {
    Log(Format("CheckIfLBServersAreOK failed : %s", e.what()));
  }
}

void TdmHTTPBase::ShowStartError(const std::string& msg) {
  if (Interactive) MessageDlg(kBoxCaption, msg, TMsgDlgType::mtError);
}

bool TdmHTTPBase::CheckBinding(std::string& msg, const TcpBinding& binding) {
  msg.clear();
  const std::string text = Format("%s:%d", binding.ip, binding.port);
  if (!binding.ip.empty() && !IsValidIPAddress(binding.ip)) {
    msg = Format("ERROR : Failed to start server, invalid IP number for binding %s.", text);
    Log(msg);
    return false;
  }
  if (binding.port < 0 || binding.port > 65535) {
    msg = Format("ERROR : Failed to start server, port must be in range 0 to 65535 for binding %s!", text);
    Log(msg);
    return false;
  }
  const std::string host = binding.ip.empty() ? std::string("127.0.0.1") : binding.ip;
  bool listening = false;
  {
    TcpClient probe;
    probe.SetHost(host);
    probe.SetPort(binding.port);
    probe.SetBoundIP(host);
    Log(Format("Checking for listening server on %s:%d", host, binding.port));
    try {
      probe.Connect(kProbeTimeoutMs);
      listening = true;
    } catch (const std::exception&) {
    }
    probe.Disconnect();
  }
  if (listening) {
    msg = Format("ERROR : Failed to start server, there is already a server listening to %s:%d", host, binding.port);
    Log(msg);
    ShowStartError(msg);
    Stats->ServerState = ssStopped;
    return false;
  }
  try {
    TestBind(host, binding.port);
  } catch (const std::exception& e) {
    msg = Format("ERROR : Failed to start server, could not bind to %s:%d, error was:\r\n", host, binding.port) + e.what();
    Log(msg);
    ShowStartError(msg);
    Stats->ServerState = ssStopped;
    return false;
  }
  return true;
}

// ------------------------------------------------------------ stop

void TdmHTTPBase::StopServer(std::string& msg) {
  Log("Stopping Server!");
  Stats->ServerState = ssStopping;
  std::unique_lock<std::recursive_mutex> startStop(StartStopLock, std::defer_lock);
  loop_.LockPumping(startStop);
  const bool antiFreezeWas = AntiFreeze::Active();
  AntiFreeze::SetActive(true);
  try {
    stopWaiter_->Reset();
    loop_.SetTimerEnabled(Timer_StopServer, true);
    loop_.SetTimerEnabled(Timer_Tick, false);
    if (loop_.IsMainThread()) {
      // The stop timer fires in this thread's own pump.
      while (!stopWaiter_->WaitFor(kStopPollMs, msg)) loop_.ProcessPending(MainLoop::PumpMode::All);
    } else {
      stopWaiter_->Wait(msg);
    }
  } catch (const std::exception& e) {
    msg = std::string("Stop server failed : ") + e.what();
  }
  AntiFreeze::SetActive(antiFreezeWas);
  RefreshConsole();
}

void TdmHTTPBase::Timer_StopServerTimer() {
  loop_.SetTimerEnabled(Timer_StopServer, false);
  std::string result;
  try {
    DoStopServer(result);
  } catch (const std::exception& e) {
    // A stop that failed before it had a result still ends the wait.
    if (result.empty()) {
      result = std::string("Stop server failed : ") + e.what();
      try {
        Log(result);
      } catch (const std::exception&) {
      }
    }
  }
  if (result.empty()) result = "Stop server failed : unknown error";
  // The access-log lines of the last requests are in their files before a
  // waiter sees the result.
  FlushW3C();
  // The final state is settled before a waiter can see the result.
  if (!HTTPServer->Active() && !AnySSLServerActive()) Stats->ServerState = ssStopped;
  stopWaiter_->Publish(result);
}

void TdmHTTPBase::DoStopServer(std::string& result) {
  if (Stats->ServerState == ssRunning || HTTPServer->Active() || AnySSLServerActive()) {
    Stats->ServerState = ssStopping;
    Log("Server stopping...");
    Log("Disabling server...");
    if (HTTPServer->Active()) {
      Log("Disabling HTTP server...");
      try {
        HTTPServer->SetActive(false);
      } catch (const std::exception& e) {
        result = "HTTP Server Stop failed!";
        Log(std::string("Stop server failed : ") + e.what());
        throw;
      }
      Log("Disabled HTTP server");
    }
    if (AnySSLServerActive()) {
      Log("Disabling HTTPS server...");
      try {
        DeactivateSSLServers();
      } catch (const std::exception& e) {
        result = "HTTPS Server Stop failed!";
        Log(std::string("Stop server failed : ") + e.what());
        throw;
      }
      Log("Disabled HTTPS server");
    }
    Log("Terminating pooled threads...");
    HTTPThreadPool->TerminateThreads();
    result = "SERVER STOPPED";
    Log(result);
    Log("");
  } else {
    result = "Server not running!";
    Log(result);
    Stats->ServerState = ssStopped;
  }
}

// ------------------------------------------------------------ connections

void TdmHTTPBase::Server_HTTPConnect(PeerThread& peer) { ServerConnect(peer, 0); }

void TdmHTTPBase::Server_HTTPSConnect(PeerThread& peer) { ServerConnect(peer, 1); }

void TdmHTTPBase::ServerConnect(PeerThread& peer, uint8_t isHTTPS) {
  auto* client = dynamic_cast<TClientThread*>(&peer);
  if (client == nullptr) return;
  TClientThread& thread = *client;
  thread.IsHTTPS = isHTTPS;
  thread.Connection()->SetMaxLineLength(kMaxLineLength);
  thread.Stats = Stats.get();
  thread.Limits = Limits;
  const uint8_t state = Stats->ServerState;
  if (state == ssStopping || state == ssStopped) {
    thread.Stop();
    return;
  }
  try {
    thread.RegisterConnection();
  } catch (const std::exception& e) {
    InstallLogWriters(thread);
    thread.WriteLog(std::string("Exception in ServerConnect : ") + e.what());
  }
}

void TdmHTTPBase::InstallLogWriters(TClientThread& thread) {
  if (!thread.OnLog) thread.OnLog = [this](const std::string& text, TClientThread* t) { ClientLog(text, t); };
  if (!thread.OnW3CLog) thread.OnW3CLog = [this](const std::string& text, TClientThread* t) { ClientW3CLog(text, t); };
}

void TdmHTTPBase::Server_HTTPExecute(PeerThread& peer) {
  auto* thread = dynamic_cast<TClientThread*>(&peer);
  if (thread == nullptr) {
    peer.Stop();
    return;
  }
  try {
    const uint8_t state = Stats->ServerState;
    if (state == ssStopping || state == ssStopped) {
      thread->Stop();
      return;
    }
    if (thread->Terminated()) return;
    InstallLogWriters(*thread);
  } catch (const std::exception& e) {
    thread->WriteLog(std::string("Exception in ServerExecute - Pre Start : ") + e.what());
  }
  try {
    RaiseThreadPriority();
    struct ActiveCount {
      ActiveCount() { ActiveThreads.fetch_add(1); }
      ~ActiveCount() { ActiveThreads.fetch_sub(1); }
    };
    {
      ActiveCount active;
      thread->HandleConnection();
    }
    if (thread->Terminated()) {
      thread->Disconnect(false);
    } else {
      thread->Stop();
    }
  } catch (const std::exception&) {
  }
}

void TdmHTTPBase::Server_HTTPDisconnect(PeerThread& peer) {
  auto* thread = dynamic_cast<TClientThread*>(&peer);
  if (thread == nullptr) return;
  if (thread->EndServerConnection()) thread->WriteLog("Thread ended with server connected.");
  TcpConnection* client = thread->Connection();
  if (client != nullptr && client->Connected()) {
    thread->WriteLog("Thread ended with client connected.");
    client->Disconnect();
  }
}

void TdmHTTPBase::Server_HTTPException(PeerThread&, const Exception& e) {
  // Re-raising on a pool thread would only end that thread; the line is
  // all an operator can use.
  if (!TClientThread::IsReportableException(e)) return;
  Log("Exception :" + e.Message());
}

void TdmHTTPBase::Server_HTTPListenException(const Exception& e) { Log("Listen Exception :" + e.Message()); }

void TdmHTTPBase::Server_ConnectionCeiling(int ceiling) {
  Log(Format("Connection ceiling of %d live connections reached: new connections wait in the listen queue", ceiling));
}

// ------------------------------------------------------------ ticks

void TdmHTTPBase::Timer_TickTimer() {
  try {
    Stats->DomainHandler->RemoveOldConnections();
  } catch (const std::exception& e) {
    Log(Format("RemoveOldConnections failed : %s", e.what()));
  }
  try {
    LogFile->Flush();
  } catch (const std::exception& e) {
    Log(Format("Event log flush failed : %s", e.what()));
  }
}
