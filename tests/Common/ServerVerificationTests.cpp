#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "Common/uServerVerification.h"
#include "platform/DateTime.h"
#include "tests/Common/CheckBackend.h"

namespace {

using Mode = CheckBackend::Mode;
using Clock = std::chrono::steady_clock;

// A check thread that runs its test on the calling thread; the real thread
// stays parked and ends when the object goes.
struct DirectCheck {
  std::unique_ptr<TServerVerificationThread> thread = std::make_unique<TServerVerificationThread>();

  DirectCheck(uint8_t method, int port, const std::string& address = "127.0.0.1") {
    thread->CheckMethod = method;
    thread->Port = port;
    thread->Address = address;
  }
  TServerVerificationThread& Run() {
    thread->RunTest();
    return *thread;
  }
};

class ServerVerification : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(FinalizeVerificationThreads(10000)); }
  // Elapsed check times read 0.00 s on a clock that stands still.
  ScopedManualClock clock_;
};

TEST_F(ServerVerification, GetRequestHasTheExactBytes) {
  CheckBackend backend(Mode::Reply, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  DirectCheck check(1, backend.Port());
  check.thread->HostHeader = "app.example";
  check.thread->SetPath("health/ping");
  TServerVerificationThread& t = check.Run();
  EXPECT_EQ(1, t.Status);
  EXPECT_EQ("OK (HTTP/1.1 200 OK). (0.00 s)", t.StatusText);
  ASSERT_EQ(1u, backend.Requests().size());
  EXPECT_EQ(
      "GET /health/ping HTTP/1.0\r\n"
      "Host: app.example\r\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0)\r\n"
      "Connection: Close\r\n"
      "Purpose: VerifyingServerIsUp\r\n"
      "Verifier: Vantrell\r\n"
      "\r\n",
      backend.Requests()[0]);
}

TEST_F(ServerVerification, EmptyHostHeaderKeepsTheBlank) {
  CheckBackend backend(Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n");
  DirectCheck check(1, backend.Port());
  check.Run();
  ASSERT_EQ(1u, backend.Requests().size());
  EXPECT_NE(std::string::npos, backend.Requests()[0].find("GET / HTTP/1.0\r\nHost: \r\nUser-Agent: "));
}

TEST_F(ServerVerification, StatusLineDecidesTheGetCheck) {
  struct Case {
    const char* reply;
    uint8_t status;
    const char* text;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\n", 1, "OK (HTTP/1.1 200 OK). (0.00 s)"},
      {"HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", 1, "OK (HTTP/1.1 302 Found). (0.00 s)"},
      {"HTTP/1.1 404 Not Found\r\n\r\n", 2, "HTTP/1.1 404 Not Found"},
      {"HTTP/1.0 503 Service Unavailable\r\n\r\n", 2, "HTTP/1.0 503 Service Unavailable"},
      // The code runs to the end of the line when no reason follows.
      {"HTTP/1.0 503\r\n", 2, "HTTP/1.0 503"},
      {"SSH-2.0-OpenSSH_9.2\r\n", 1, "OK (SSH-2.0-OpenSSH_9.2). (0.00 s)"},
      {"garbage 4oops\r\n", 2, "garbage 4oops"},
      {"\r\n", 1, "OK (). (0.00 s)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    CheckBackend backend(Mode::Reply, c.reply);
    DirectCheck tCheck(1, backend.Port());
    TServerVerificationThread& t = tCheck.Run();
    EXPECT_EQ(c.status, t.Status);
    EXPECT_EQ(c.text, t.StatusText);
  }
}

TEST_F(ServerVerification, StatusLineRule) {
  EXPECT_TRUE(CheckStatusLinePasses("HTTP/1.1 200 OK"));
  EXPECT_TRUE(CheckStatusLinePasses("HTTP/1.1 301 Moved"));
  EXPECT_FALSE(CheckStatusLinePasses("HTTP/1.1 400 Bad Request"));
  EXPECT_FALSE(CheckStatusLinePasses("HTTP/1.1 599"));
  EXPECT_TRUE(CheckStatusLinePasses("HTTP/1.1"));
  EXPECT_TRUE(CheckStatusLinePasses("HTTP/1.1  500 two blanks"));
  EXPECT_TRUE(CheckStatusLinePasses(""));
}

TEST_F(ServerVerification, GetCheckFailuresAreResults) {
  {
    SCOPED_TRACE("silent back end");
    CheckBackend backend(Mode::Hang);
    DirectCheck check(1, backend.Port());
    check.thread->ReadTimeout = 1000;
    auto start = Clock::now();
    TServerVerificationThread& t = check.Run();
    EXPECT_EQ(2, t.Status);
    EXPECT_EQ("Reading timed out", t.StatusText);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
  {
    SCOPED_TRACE("closed at once");
    CheckBackend backend(Mode::Close);
    DirectCheck tCheck(1, backend.Port());
    TServerVerificationThread& t = tCheck.Run();
    EXPECT_EQ(2, t.Status);
    EXPECT_FALSE(t.StatusText.empty());
  }
  {
    SCOPED_TRACE("line without an end, then close");
    CheckBackend backend(Mode::Reply, "HTTP/1.1 200 OK");
    DirectCheck tCheck(1, backend.Port());
    TServerVerificationThread& t = tCheck.Run();
    EXPECT_EQ(2, t.Status);
    EXPECT_FALSE(t.StatusText.empty());
  }
  {
    SCOPED_TRACE("endless line");
    CheckBackend backend(Mode::Endless);
    DirectCheck check(1, backend.Port());
    check.thread->ReadTimeout = 3000;
    auto start = Clock::now();
    TServerVerificationThread& t = check.Run();
    EXPECT_EQ(2, t.Status);
    EXPECT_FALSE(t.StatusText.empty());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  }
  {
    SCOPED_TRACE("refused");
    DirectCheck tCheck(1, CheckBackend::ClosedPort());
    TServerVerificationThread& t = tCheck.Run();
    EXPECT_EQ(2, t.Status);
    EXPECT_FALSE(t.StatusText.empty());
  }
}

TEST_F(ServerVerification, OpenSocketCheck) {
  CheckBackend backend(Mode::Accept);
  DirectCheck upCheck(0, backend.Port());
  TServerVerificationThread& up = upCheck.Run();
  EXPECT_EQ(1, up.Status);
  EXPECT_EQ("OK. (0.00 s)", up.StatusText);

  DirectCheck downCheck(0, CheckBackend::ClosedPort());
  TServerVerificationThread& down = downCheck.Run();
  EXPECT_EQ(2, down.Status);
  EXPECT_FALSE(down.StatusText.empty());
}

TEST_F(ServerVerification, MissingPortOrHostFailWithoutConnecting) {
  CheckBackend backend(Mode::Accept);
  DirectCheck noPortCheck(0, 0);
  TServerVerificationThread& noPort = noPortCheck.Run();
  EXPECT_EQ(2, noPort.Status);
  EXPECT_EQ("No valid port was assigned!", noPort.StatusText);

  DirectCheck noHostCheck(1, backend.Port(), "   ");
  TServerVerificationThread& noHost = noHostCheck.Run();
  EXPECT_EQ(2, noHost.Status);
  EXPECT_EQ("No valid host was assigned!", noHost.StatusText);
  EXPECT_EQ(0, backend.Accepts());
}

TEST_F(ServerVerification, OtherMethodRunsNoTest) {
  CheckBackend backend(Mode::Accept);
  DirectCheck tCheck(2, backend.Port());
  TServerVerificationThread& t = tCheck.Run();
  EXPECT_EQ(0, t.Status);
  EXPECT_EQ("", t.StatusText);
  EXPECT_EQ(0, backend.Accepts());
}

TEST_F(ServerVerification, TimeoutsBelowTheFloorStillWait) {
  // Zero time-outs come from a one-second failover interval; the check must
  // neither fail at once nor wait without end.
  CheckBackend backend(Mode::Hang);
  DirectCheck check(1, backend.Port());
  check.thread->ConnectTimeout = 0;
  check.thread->ReadTimeout = 0;
  auto start = Clock::now();
  TServerVerificationThread& t = check.Run();
  auto took = Clock::now() - start;
  EXPECT_EQ(2, t.Status);
  EXPECT_EQ("Reading timed out", t.StatusText);
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(ServerVerification, AbortSkipsTheTestButCompletes) {
  CheckBackend backend(Mode::Accept);
  DirectCheck check(0, backend.Port());
  int completed = 0;
  check.thread->OnBeforeTest = [](TServerVerificationThread& t, bool& abort) {
    t.Status = 2;
    t.StatusText = "skipped";
    abort = true;
  };
  check.thread->OnCompleted = [&](TServerVerificationThread& t) {
    ++completed;
    EXPECT_EQ(2, t.Status);
    EXPECT_EQ("skipped", t.StatusText);
  };
  check.Run();
  EXPECT_EQ(1, completed);
  EXPECT_EQ(0, backend.Accepts());
}

TEST(ServerVerificationFields, DefaultsAndPath) {
  TServerVerificationThread t;
  EXPECT_EQ(0, t.CheckMethod);
  EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0)", t.UserAgent);
  EXPECT_EQ("", t.HostHeader);
  EXPECT_EQ("/", t.Path);
  EXPECT_EQ(5000, t.ConnectTimeout);
  EXPECT_EQ(5000, t.ReadTimeout);
  EXPECT_EQ("Vantrell", t.VerifierName);
  EXPECT_TRUE(t.FreeOnTerminate);
  EXPECT_TRUE(t.Suspended());
  t.SetPath("x/y");
  EXPECT_EQ("/x/y", t.Path);
  t.SetPath("/z");
  EXPECT_EQ("/z", t.Path);
  t.SetPath("");
  EXPECT_EQ("/", t.Path);
}

// Signals once per completed check.
class Completions {
 public:
  void Hit() {
    std::lock_guard<std::mutex> g(m_);
    ++count_;
    cv_.notify_all();
  }
  bool WaitFor(int n) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::seconds(10), [&] { return count_ >= n; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int count_ = 0;
};

bool WaitUntilParked(TServerVerificationThread* t) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (IdleVerificationThreadCount() == 1 && t->Suspended()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

TEST(ServerVerificationThreads, PooledThreadIsReused) {
  ASSERT_TRUE(FinalizeVerificationThreads(10000));
  CheckBackend backend(Mode::Accept);
  Completions done;
  const int created = VerificationThreadsCreated.load();
  const int freed = VerificationThreadsFreed.load();

  TServerVerificationThread* first = GetVerificationThread();
  first->Port = backend.Port();
  first->Address = "127.0.0.1";
  first->PoolAfterRun = true;
  first->OnCompleted = [&](TServerVerificationThread& t) {
    EXPECT_EQ(1, t.Status);
    done.Hit();
  };
  first->Resume();
  ASSERT_TRUE(done.WaitFor(1));
  ASSERT_TRUE(WaitUntilParked(first));
  EXPECT_EQ(0, VerificationThreadsRunning.load());

  TServerVerificationThread* second = GetVerificationThread();
  EXPECT_EQ(first, second);
  EXPECT_EQ(0, IdleVerificationThreadCount());
  // A parked thread forgot its last user's events.
  EXPECT_FALSE(second->OnCompleted);
  second->PoolAfterRun = true;
  second->OnCompleted = [&](TServerVerificationThread&) { done.Hit(); };
  second->Resume();
  ASSERT_TRUE(done.WaitFor(2));
  EXPECT_EQ(created + 1, VerificationThreadsCreated.load());

  ASSERT_TRUE(FinalizeVerificationThreads(10000));
  EXPECT_EQ(freed + 1, VerificationThreadsFreed.load());
  EXPECT_EQ(0, VerificationThreadsRunning.load());
  EXPECT_EQ(0, IdleVerificationThreadCount());
}

TEST(ServerVerificationThreads, WaitListRunsChecksInParallelAndFreesThem) {
  ASSERT_TRUE(FinalizeVerificationThreads(10000));
  CheckBackend slow(Mode::Hang);
  const int freed = VerificationThreadsFreed.load();
  int statuses[4] = {};
  auto start = Clock::now();
  {
    TServerCheckWaitList waitList;
    for (int i = 0; i < 4; ++i) {
      TServerVerificationThread* t = GetVerificationThread();
      t->CheckMethod = 1;
      t->Port = slow.Port();
      t->Address = "127.0.0.1";
      t->ReadTimeout = 1000;
      t->PoolAfterRun = false;
      t->FreeOnTerminate = false;
      t->OnCompleted = [&statuses, i](TServerVerificationThread& th) { statuses[i] = th.Status; };
      waitList.Add(t);
      t->Resume();
    }
    EXPECT_EQ(4, waitList.Count());
    waitList.WaitForAll();
    EXPECT_EQ(0, waitList.Count());
  }
  // Four one-second checks side by side, not one after the other.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(3500));
  for (int s : statuses) EXPECT_EQ(2, s);
  EXPECT_EQ(freed + 4, VerificationThreadsFreed.load());
  EXPECT_EQ(0, IdleVerificationThreadCount());
}

TEST(ServerVerificationThreads, ExceptionInAnEventEndsOnlyThatThread) {
  ASSERT_TRUE(FinalizeVerificationThreads(10000));
  const int freed = VerificationThreadsFreed.load();
  TServerVerificationThread* t = GetVerificationThread();
  t->PoolAfterRun = true;
  t->OnCompleted = [](TServerVerificationThread&) { throw std::runtime_error("boom"); };
  t->Resume();
  // It frees itself instead of parking, and the counters stay right.
  ASSERT_TRUE(FinalizeVerificationThreads(10000));
  EXPECT_EQ(freed + 1, VerificationThreadsFreed.load());
  EXPECT_EQ(0, VerificationThreadsRunning.load());
  EXPECT_EQ(0, IdleVerificationThreadCount());
}

}  // namespace
