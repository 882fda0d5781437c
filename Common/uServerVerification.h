// Health checks of back ends: one check thread per probe, either opening a TCP
// connection or sending a small GET and judging the status line. Threads
// started by the cluster tick park themselves in an idle pool after their
// check and are reused; checks a caller waits for run on threads that end
// after one check.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Classes.h"

class TcpClient;

// Counters of the statistics line "STAT3"; changed atomically.
extern std::atomic<int32_t> VerificationThreadsCreated;
extern std::atomic<int32_t> VerificationThreadsRunning;
extern std::atomic<int32_t> VerificationThreadsFreed;

// Effective socket time-outs of a check never go below this, so a short
// failover interval can neither fail every check at once nor wait unbounded.
constexpr int32_t MinCheckTimeoutMs = 1000;
// Longest status line a GET check accepts.
constexpr size_t MaxCheckStatusLine = 8192;

class TServerVerificationThread {
 public:
  using TCompletedEvent = std::function<void(TServerVerificationThread& thread)>;
  using TBeforeTestEvent = std::function<void(TServerVerificationThread& thread, bool& abort)>;

  // Created suspended: the caller fills the fields and calls Resume.
  TServerVerificationThread();
  virtual ~TServerVerificationThread();
  TServerVerificationThread(const TServerVerificationThread&) = delete;
  TServerVerificationThread& operator=(const TServerVerificationThread&) = delete;

  uint8_t CheckMethod = 0;  // 0 open a connection, 1 HTTP GET, else no test
  TStringList Headers;      // the request, then the status line read back
  std::string UserAgent;
  std::string HostHeader;
  std::string Path;
  int32_t ConnectTimeout = 0;  // ms
  // What is checked (a server or a virtual path); identifies the check only.
  // The events keep alive whatever they touch.
  const void* Target = nullptr;
  int32_t Port = 0;
  std::string Address;
  std::string StatusText;
  uint8_t Status = 0;  // 0 not run, 1 passed, 2 failed
  TCompletedEvent OnCompleted;
  TBeforeTestEvent OnBeforeTest;
  uint64_t StartTick = 0;
  std::string VerifierName;
  int32_t ReadTimeout = 0;  // ms, for the status line
  bool PoolAfterRun = false;
  // Set before Resume. True: the thread frees itself when it ends and nobody
  // may touch it after Resume. False: the caller WaitFor()s and deletes it.
  bool FreeOnTerminate = true;

  virtual void SetDefaults();
  void SetPath(std::string_view text);

  void Resume();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  bool Suspended() const;
  // Blocks until the thread body has ended (FreeOnTerminate false only).
  void WaitFor();
  void ReturnToPool();

  // Runs one test on the calling thread; the thread body calls it.
  void RunTest();

 protected:
  virtual void Execute();
  virtual void BuildRequest();
  virtual void DoCompleted();
  // True when the test is to be skipped.
  virtual bool DoBeforeTest();

 private:
  void ThreadMain();
  void Suspend();
  void TestOpenSocket(TcpClient& client);
  void TestGetDocument(TcpClient& client);
  double SecondsSinceStart() const;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool suspended_ = true;
  bool finished_ = false;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

// A parked thread from the idle pool, or a new suspended one.
TServerVerificationThread* GetVerificationThread();

// At process end: ends every parked thread and waits, up to TimeoutMs, for
// self-freeing threads still running a check. True when none is left.
bool FinalizeVerificationThreads(int timeoutMs);

// Number of threads parked in the idle pool.
int IdleVerificationThreadCount();

// True when the status line of a GET check counts as a pass: its second
// blank-separated field (up to the next blank or the end) does not begin
// with "4" or "5".
bool CheckStatusLinePasses(std::string_view statusLine);

// Checks a caller waits for: threads with FreeOnTerminate and PoolAfterRun
// false, added as they are started (from several threads, if need be).
class TServerCheckWaitList {
 public:
  TServerCheckWaitList() = default;
  ~TServerCheckWaitList() { WaitForAll(); }
  TServerCheckWaitList(const TServerCheckWaitList&) = delete;
  TServerCheckWaitList& operator=(const TServerCheckWaitList&) = delete;

  void Add(TServerVerificationThread* thread);
  int Count() const;
  // Waits for every thread in the order they were added and frees each.
  void WaitForAll();

 private:
  mutable std::mutex lock_;
  std::vector<TServerVerificationThread*> threads_;
};
