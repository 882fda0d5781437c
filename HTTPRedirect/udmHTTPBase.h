// TdmHTTPBase: the one engine host of the process. It owns the HTTP listener,
// the client-thread pool that every listener shares, the HTTPS listeners,
// the statistics holder with the live configuration, the event log, the
// binding test and the three engine timers on the main loop; it loads the
// settings, starts and stops the switch and writes every step to the event
// log. Its log writers (event log, W3C access logs, console relay) live in
// udmHTTPBaseLog.cpp, the timers in udmHTTPBaseStats.cpp, the HTTPS seam in
// udmHTTPBaseSSL.cpp.
//
// Threads: creation, destruction and the timers run on the main thread. The
// operator operations (LoadSettings, StartServer, StopServer) run on any
// thread; StopServer waits for the stop timer, so the main loop must run
// while a stop may happen (on the main thread StopServer pumps it itself).
// The connection handlers run on the listeners' peer threads; the log
// writers on any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "Common/uAppendFiles.h"
#include "Common/uClientThread.h"
#include "platform/MainLoop.h"
#include "platform/SysUtils.h"
#include "platform/TcpServer.h"
#include "platform/ThreadPool.h"

class TDomainHandler;
class TLogFile;
class TStatHolder;
class TSSLServerList;

// Frees the HTTPS listener list where its type is complete (udmHTTPBaseSSL.cpp).
struct TSSLServerListDeleter {
  void operator()(TSSLServerList* list) const;
};

class TdmHTTPBase {
 public:
  // Console sink for relayed lines: Kind 0 event line, 1 W3C line.
  using TGUILogSink = std::function<void(const std::string& text, uint8_t kind)>;

  // Builds the host and registers it as dmHTTPBase when that is free.
  // Raises EVantrell ("ERROR : Vantrell failed to create log. Logging
  // disabled ;" + reason) when the event log cannot be made.
  explicit TdmHTTPBase(MainLoop& loop = MainLoop::Instance());
  // Stops timers and listeners, ends the pool, clears the hooks and the
  // logger callback, saves the affinity tables (only when settings were
  // loaded), then frees everything.
  ~TdmHTTPBase();
  TdmHTTPBase(const TdmHTTPBase&) = delete;
  TdmHTTPBase& operator=(const TdmHTTPBase&) = delete;

  // Operator operations: each gives a result text and never raises.
  void LoadSettings(std::string& msg);
  void StartServer(std::string& msg);
  void StopServer(std::string& msg);

  // (Re)assigns all seven EngineHooks to this host.
  void RegisterHooks();
  // The binding test of a start, also run by the HTTPS listeners for theirs.
  bool CheckBinding(std::string& msg, const TcpBinding& binding);
  bool IsServerRunning() const;
  TDomainHandler* GetDomainHandler() const;
  // The thread class of every listener (the pool makes the threads).
  void SetThreadClass(ThreadPool::ThreadFactory factory);

  // Connection handlers of the HTTP listener and of every HTTPS listener.
  void Server_HTTPConnect(PeerThread& thread);
  void Server_HTTPSConnect(PeerThread& thread);
  void Server_HTTPExecute(PeerThread& thread);
  void Server_HTTPDisconnect(PeerThread& thread);
  void Server_HTTPException(PeerThread& thread, const Exception& e);
  void Server_HTTPListenException(const Exception& e);
  void Server_ConnectionCeiling(int ceiling);

  // Log writers (udmHTTPBaseLog.cpp); any thread.
  void Log(const std::string& text);
  template <class... Args>
  void LogFmt(std::string_view fmt, const Args&... args) {
    Log(Format(fmt, args...));
  }
  void ClientLog(const std::string& text, TClientThread* thread);
  // Queues the line for its W3C file; never waits for the disk.
  void ClientW3CLog(const std::string& text, TClientThread* thread);
  // Returns once every W3C line queued before the call is written (stop,
  // tests); blocks the calling OS thread.
  void FlushW3C();
  void WebAdminLog(TDomainHandler* sender, const std::string& text);
  void LoggerCallback(const std::string& text);
  // Points the event log at the configured folder.
  void UpdateLogDirectory();
  // Lines the event log and the W3C logs dropped on a full writer queue
  // since creation (the disk does not keep up); any thread.
  uint64_t EventLogDropped() const;
  uint64_t W3CLogDropped() const;

  // The console's sink; set and cleared on the main thread, where the
  // relayed lines are delivered (posted, never waited for).
  void SetGUILogSink(TGUILogSink sink);
  bool HasGUILogSink() const;
  // Called on the main thread after every start and stop while a console exists.
  void SetOnRefreshServerState(std::function<void()> refresh);

  // Timer handlers (udmHTTPBaseStats.cpp and udmHTTPBase.cpp); main thread.
  void Timer_StopServerTimer();
  void Timer_TickTimer();
  void Timer_UpdateStatsTimer();

  // Readable by the hosts and pages.
  std::unique_ptr<TStatHolder> Stats;
  std::unique_ptr<TLogFile> LogFile;
  // Declared before the listeners, which use it, so it is freed after them.
  std::unique_ptr<ThreadPool> HTTPThreadPool;
  std::unique_ptr<TcpServer> HTTPServer;
  // Empty (nullptr) until a start has built the HTTPS listeners.
  std::unique_ptr<TSSLServerList, TSSLServerListDeleter> SSLServers;

  // Writable by the hosts.
  std::atomic<bool> Interactive{false};
  std::atomic<uint8_t> GUILogFlags{0};  // bit 0 client event lines, bit 1 W3C lines

  std::atomic<int32_t> MaxActiveThreads{0};
  // Waits and caps handed to every accepted connection (tests shorten them).
  TRoadLimits Limits;

  static constexpr int kPoolSize = 40;
  static constexpr int kListenQueue = 500;
  static constexpr int kTerminateWaitTime = 75000;
  static constexpr int kMaxLineLength = 524288;
  static constexpr uint64_t kStatLineIntervalMs = 600000;

 private:
  struct TRelay;
  struct TStopWaiter;

  void CreateServerComponents();
  void PrepareBindings();
  void StartHTTPListener(std::string& msg);
  void CheckLBServers();
  void DoStopServer(std::string& result);
  // The connect handler of either listener kind.
  void ServerConnect(PeerThread& peer, uint8_t isHTTPS);
  void InstallLogWriters(TClientThread& thread);
  void ShowStartError(const std::string& msg);
  void RefreshConsole();
  void PostToGUI(const std::string& text, uint8_t kind);
  void WriteStatLines();
  void WriteW3CLine(const std::string& siteName, const std::string& text);
  void W3CWriteFailed(const std::string& path, const std::string& message, bool repeated);
  void SaveConnections();
  std::string ConnectionsFileName() const;

  // The HTTPS seam (udmHTTPBaseSSL.cpp).
  void CreateSSLServers();
  void StartSSLServers(std::string& msg, std::string& applyMsg);
  bool AnySSLServerActive() const;
  void DeactivateSSLServers();
  int SSLBindingCount() const;

  MainLoop& loop_;
  // The process's current folder at creation, with a trailing "/": the
  // program folder, below which data/ and Log/ lie.
  const std::string programFolder_;
  MainLoop::TimerId Timer_StopServer = 0;
  MainLoop::TimerId Timer_Tick = 0;
  MainLoop::TimerId Timer_UpdateStats = 0;

  // Held by a StopServer across its wait for the main loop, so the main
  // thread takes it only through MainLoop::LockPumping.
  std::recursive_mutex StartStopLock;
  // One load at a time: interleaved, an earlier reload could swap in the
  // file it read after a later one applied a newer file, and one reload's
  // "no file yet" state showed through another's answer. Held only around
  // the load and the pool size, never with StartStopLock nor across a wait
  // for the main loop, so no thread waits for it long and none takes it twice.
  std::mutex ReloadLock;
  std::unique_ptr<TStopWaiter> stopWaiter_;
  std::shared_ptr<TRelay> relay_;

  // Per log name: the configured folder it was last written under and that
  // folder made a full path (empty: not known to exist).
  struct TW3CTarget {
    std::string rawFolder;
    std::string folder;
  };
  std::shared_mutex W3CLock;
  std::map<std::string, std::string> W3CFileNames;  // log name -> file last written
  std::map<std::string, TW3CTarget> W3CTargets;
  TAppendFiles W3CFiles;

  bool FirstLoad = true;
  bool statLinesWritten_ = false;
  uint64_t LastStatTime = 0;  // GetTickCount64() of the last STAT1-STAT5 batch
};

// The engine host of the process; nullptr while there is none.
extern std::atomic<TdmHTTPBase*> dmHTTPBase;

// The folder the logs go below (VT/, W3C/<site>/), with a trailing "/": the
// configured LogDirectory, read under the configuration's lock, or "Log" in
// the program folder. The engine writes there and the log view reads there.
std::string LogRoot(const TDomainHandler& config, const std::string& programFolder);
