#include "Common/uServerVerification.h"

#include <algorithm>
#include <chrono>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"
#include "platform/TcpClient.h"

std::atomic<int32_t> VerificationThreadsCreated{0};
std::atomic<int32_t> VerificationThreadsRunning{0};
std::atomic<int32_t> VerificationThreadsFreed{0};

namespace {

// The idle pool outlives every thread that may still park in it at process
// end, so it is never destroyed.
struct IdlePool {
  std::mutex lock;
  std::vector<TServerVerificationThread*> threads;
};

IdlePool& IdleVerificationThreads() {
  static IdlePool* pool = new IdlePool;
  return *pool;
}

int32_t EffectiveTimeout(int32_t ms) { return std::max(ms, MinCheckTimeoutMs); }

// Keeps the running counter right however the test ends.
class RunningCount {
 public:
  RunningCount() { VerificationThreadsRunning.fetch_add(1, std::memory_order_relaxed); }
  ~RunningCount() { VerificationThreadsRunning.fetch_sub(1, std::memory_order_relaxed); }
  RunningCount(const RunningCount&) = delete;
  RunningCount& operator=(const RunningCount&) = delete;
};

}  // namespace

TServerVerificationThread::TServerVerificationThread() {
  VerificationThreadsCreated.fetch_add(1, std::memory_order_relaxed);
  SetDefaults();
  // The body first waits for mutex_, so thread_ is assigned before it runs.
  std::lock_guard<std::mutex> guard(mutex_);
  thread_ = std::thread([this] { ThreadMain(); });
}

TServerVerificationThread::~TServerVerificationThread() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    // Deleted from outside (never started, parked, or waited for): the body
    // ends without freeing itself, and we wait for it.
    {
      std::lock_guard<std::mutex> guard(mutex_);
      FreeOnTerminate = false;
    }
    Terminate();
    Resume();
    thread_.join();
  }
  VerificationThreadsFreed.fetch_add(1, std::memory_order_relaxed);
}

void TServerVerificationThread::SetDefaults() {
  CheckMethod = 0;
  UserAgent = "Mozilla/4.0 (compatible; MSIE 6.0)";
  HostHeader.clear();
  Path = "/";
  ConnectTimeout = 5000;
  Target = nullptr;
  Port = 0;
  Address.clear();
  StatusText.clear();
  Status = 0;
  StartTick = 0;
  VerifierName = "Vantrell";
  ReadTimeout = 5000;
  PoolAfterRun = false;
}

void TServerVerificationThread::SetPath(std::string_view text) {
  if (text.empty() || text.front() != '/')
    Path = "/" + std::string(text);
  else
    Path = std::string(text);
}

void TServerVerificationThread::Resume() {
  std::lock_guard<std::mutex> guard(mutex_);
  suspended_ = false;
  wake_.notify_all();
}

bool TServerVerificationThread::Suspended() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return suspended_;
}

void TServerVerificationThread::Suspend() {
  std::unique_lock<std::mutex> lock(mutex_);
  suspended_ = true;
  wake_.wait(lock, [this] { return !suspended_; });
}

void TServerVerificationThread::WaitFor() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return finished_; });
}

void TServerVerificationThread::ReturnToPool() {
  IdlePool& pool = IdleVerificationThreads();
  std::lock_guard<std::mutex> guard(pool.lock);
  pool.threads.push_back(this);
}

void TServerVerificationThread::ThreadMain() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !suspended_; });
  }
  try {
    Execute();
  } catch (...) {
    // Nothing leaves the thread; a check that raised past RunTest ends it.
  }
  // Events may hold locks and references of their user; drop them here, on
  // the thread that took them.
  OnBeforeTest = nullptr;
  OnCompleted = nullptr;
  bool freeSelf;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    finished_ = true;
    freeSelf = FreeOnTerminate;
    wake_.notify_all();
  }
  if (freeSelf) {
    thread_.detach();
    delete this;
  }
}

void TServerVerificationThread::Execute() {
  while (!Terminated()) {
    {
      RunningCount running;
      RunTest();
    }
    // A parked thread must not keep its last user's target alive.
    Target = nullptr;
    OnBeforeTest = nullptr;
    OnCompleted = nullptr;
    if (Terminated() || !PoolAfterRun) {
      Terminate();
      break;
    }
    ReturnToPool();
    Suspend();
  }
}

void TServerVerificationThread::BuildRequest() {
  Headers.Clear();
  Headers.Add(Format("GET %s HTTP/1.0", Path));
  Headers.Add(Format("%s: %s", "Host", HostHeader));
  Headers.Add(Format("%s: %s", "User-Agent", UserAgent));
  Headers.Add(Format("%s: %s", "Connection", "Close"));
  Headers.Add(Format("%s: %s", "Purpose", "VerifyingServerIsUp"));
  Headers.Add(Format("%s: %s", "Verifier", VerifierName));
  Headers.Add("");
}

bool TServerVerificationThread::DoBeforeTest() {
  bool abort = false;
  if (OnBeforeTest) OnBeforeTest(*this, abort);
  return abort;
}

void TServerVerificationThread::DoCompleted() {
  if (OnCompleted) OnCompleted(*this);
}

double TServerVerificationThread::SecondsSinceStart() const {
  return static_cast<double>(GetTickCount64() - StartTick) / 1000.0;
}

void TServerVerificationThread::RunTest() {
  Status = 0;
  StatusText = "Test not run";
  if (!DoBeforeTest()) {
    try {
      TcpClient client;
      client.SetReadTimeout(EffectiveTimeout(ReadTimeout));
      // The request is small, but a peer that never reads must not hold the
      // check (and its server's lock) for good.
      client.SetWriteTimeout(EffectiveTimeout(ReadTimeout));
      client.SetPort(Port);
      client.SetHost(Address);
      try {
        if (Port == 0) {
          Status = 2;
          StatusText = "No valid port was assigned!";
        } else if (Trim(Address).empty()) {
          Status = 2;
          StatusText = "No valid host was assigned!";
        } else {
          StatusText.clear();
          StartTick = GetTickCount64();
          if (CheckMethod == 0)
            TestOpenSocket(client);
          else if (CheckMethod == 1)
            TestGetDocument(client);
        }
      } catch (...) {
        client.Disconnect();
        throw;
      }
      client.Disconnect();
    } catch (const Exception& e) {
      Status = 2;
      StatusText = e.Message();
    }
  }
  DoCompleted();
}

void TServerVerificationThread::TestOpenSocket(TcpClient& client) {
  client.Connect(EffectiveTimeout(ConnectTimeout));
  Status = 1;
  StatusText = Format("OK. (%f s)", SecondsSinceStart());
}

void TServerVerificationThread::TestGetDocument(TcpClient& client) {
  client.Connect(EffectiveTimeout(ConnectTimeout));
  BuildRequest();
  client.Write(Headers.Text());
  std::string line = client.ReadLn("\r\n", EffectiveTimeout(ReadTimeout), MaxCheckStatusLine);
  if (client.ReadLnTimedOut()) {
    Status = 2;
    StatusText = "Reading timed out";
    return;
  }
  Headers.Clear();
  Headers.Add(line);
  const std::string& first = Headers[0];
  if (!CheckStatusLinePasses(first)) {
    Status = 2;
    StatusText = first;
  } else {
    Status = 1;
    StatusText = Format("OK (%s). (%f s)", first, SecondsSinceStart());
  }
}

bool CheckStatusLinePasses(std::string_view statusLine) {
  size_t blank = statusLine.find(' ');
  if (blank == std::string_view::npos) return true;
  std::string_view code = statusLine.substr(blank + 1);
  code = code.substr(0, code.find(' '));
  return code.empty() || (code.front() != '4' && code.front() != '5');
}

TServerVerificationThread* GetVerificationThread() {
  IdlePool& pool = IdleVerificationThreads();
  {
    std::lock_guard<std::mutex> guard(pool.lock);
    for (auto it = pool.threads.begin(); it != pool.threads.end(); ++it) {
      // A thread that has put itself in the list but not yet suspended is
      // passed over.
      if ((*it)->Suspended()) {
        TServerVerificationThread* thread = *it;
        pool.threads.erase(it);
        return thread;
      }
    }
  }
  return new TServerVerificationThread();
}

int IdleVerificationThreadCount() {
  IdlePool& pool = IdleVerificationThreads();
  std::lock_guard<std::mutex> guard(pool.lock);
  return static_cast<int>(pool.threads.size());
}

void TServerCheckWaitList::Add(TServerVerificationThread* thread) {
  std::lock_guard<std::mutex> guard(lock_);
  threads_.push_back(thread);
}

int TServerCheckWaitList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(threads_.size());
}

void TServerCheckWaitList::WaitForAll() {
  for (;;) {
    TServerVerificationThread* first;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (threads_.empty()) return;
      first = threads_.front();
      threads_.erase(threads_.begin());
    }
    first->WaitFor();
    delete first;
  }
}

bool FinalizeVerificationThreads(int timeoutMs) {
  IdlePool& pool = IdleVerificationThreads();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Threads still running a check may park after a first pass, so drain the
  // pool until no thread object is left.
  for (;;) {
    std::vector<TServerVerificationThread*> parked;
    {
      std::lock_guard<std::mutex> guard(pool.lock);
      for (auto it = pool.threads.begin(); it != pool.threads.end();) {
        if ((*it)->Suspended()) {
          parked.push_back(*it);
          it = pool.threads.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (TServerVerificationThread* thread : parked) {
      // Out of the pool it is ours: its body ends and we free it.
      thread->FreeOnTerminate = false;
      delete thread;
    }
    if (VerificationThreadsCreated.load() == VerificationThreadsFreed.load()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}
