#include "platform/TcpServer.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/AntiFreeze.h"
#include "platform/FiberRuntime.h"
#include "platform/MainLoop.h"
#include "platform/TcpErrors.h"
#include "platform/ThreadPool.h"
#include "tests/platform/TcpTestSupport.h"

namespace {

using namespace tcptest;

class Trace {
 public:
  void Add(std::string s) {
    std::lock_guard<std::mutex> lock(m_);
    items_.push_back(std::move(s));
  }
  std::vector<std::string> Items() const {
    std::lock_guard<std::mutex> lock(m_);
    return items_;
  }
  bool Has(const std::string& s) const {
    std::lock_guard<std::mutex> lock(m_);
    return std::find(items_.begin(), items_.end(), s) != items_.end();
  }
  int Count(const std::string& s) const {
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<int>(std::count(items_.begin(), items_.end(), s));
  }

 private:
  mutable std::mutex m_;
  std::vector<std::string> items_;
};

std::atomic<int> g_serial{0};

// Records its virtual operations; Serial tells thread objects apart.
class RecordingThread : public PeerThread {
 public:
  explicit RecordingThread(Trace* trace) : trace_(trace), serial_(++g_serial) {}
  int Serial() const { return serial_; }
  void Terminate() override {
    trace_->Add("Terminate");
    PeerThread::Terminate();
  }

 protected:
  void BeforeRun() override { trace_->Add("BeforeRun"); }
  void Cleanup() override { trace_->Add("Cleanup"); }
  void DoException(const Exception& e) override {
    trace_->Add(std::string("DoException:") + e.ClassName() + ":" + e.Message());
    PeerThread::DoException(e);
  }

 private:
  Trace* trace_;
  int serial_;
};

int SerialOf(PeerThread& thread) { return static_cast<RecordingThread&>(thread).Serial(); }

struct ServerFixture {
  Trace trace;
  ThreadPool pool{4};
  TcpServer server;

  ServerFixture() {
    pool.SetThreadClass([this] { return std::make_unique<RecordingThread>(&trace); });
    server.SetThreadPool(&pool);
    server.AddBinding("127.0.0.1", 0);
    server.SetOnConnect([this](PeerThread&) { trace.Add("Connect"); });
    server.SetOnDisconnect([this](PeerThread&) { trace.Add("Disconnect"); });
    server.SetOnException([this](PeerThread&, const Exception& e) { trace.Add(std::string("OnException:") + e.Message()); });
  }
  int Port() const { return server.ListeningPort(0); }
  // An echo of lines; "quit" stops the run.
  void EchoLines() {
    server.SetOnExecute([this](PeerThread& thread) {
      std::string line = thread.Connection()->ReadLn("\n", TcpConnection::kNoTimeout);
      trace.Add("Execute:" + line);
      if (line == "quit") {
        thread.Stop();
        return;
      }
      thread.Connection()->Write(line + "\r\n");
    });
  }
};

TEST(TcpServer, EventsRunInOrderAroundEachConnection) {
  ServerFixture f;
  f.EchoLines();
  f.server.SetActive(true);
  ASSERT_TRUE(f.server.Active());
  RawPeer client(RawConnect(f.Port()));
  client.Send("hello\n");
  EXPECT_EQ(client.Receive(7), "hello\r\n");
  client.Send("quit\n");
  EXPECT_TRUE(client.SeesClose());
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("Cleanup"); }));
  EXPECT_EQ(f.trace.Items(), (std::vector<std::string>{"Connect", "BeforeRun", "Execute:hello", "Execute:quit",
                                                        "Disconnect", "Cleanup"}));
  EXPECT_TRUE(WaitUntil([&] { return f.pool.PooledCount() == 1; }));
}

// The acceptor takes the addresses from the accept and the binding, and the
// socket inherits TCP_NODELAY from its listener; a wildcard binding leaves
// the local address to the socket.
TEST(TcpServer, AcceptedConnectionKnowsItsAddressesNoDelayAndTheDefaultLineLimit) {
  struct Probe : TcpConnection {
    using TcpConnection::CurrentTransport;
  };
  for (const char* binding : {"127.0.0.1", "0.0.0.0"}) {
    SCOPED_TRACE(binding);
    ServerFixture f;
    f.server.ClearBindings();
    f.server.AddBinding(binding, 0);
    std::promise<std::string> seen;
    f.server.SetOnExecute([&](PeerThread& thread) {
      TcpConnection& c = *thread.Connection();
      int noDelay = 0;
      socklen_t len = sizeof noDelay;
      ::getsockopt((c.*(&Probe::CurrentTransport))()->Handle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &len);
      seen.set_value(c.PeerIP() + ":" + std::to_string(c.PeerPort()) + " " + c.LocalIP() + ":" +
                     std::to_string(c.LocalPort()) + " " + std::to_string(c.MaxLineLength()) +
                     (noDelay != 0 ? " nodelay" : " nagle"));
      thread.Stop();
    });
    f.server.SetActive(true);
    RawPeer client(RawConnect(f.Port()));
    auto result = seen.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(result.get(), "127.0.0.1:" + std::to_string(PortOf(client.Fd())) + " 127.0.0.1:" +
                                std::to_string(f.Port()) + " 16384 nodelay");
  }
}

TEST(TcpServer, StopInOnConnectSkipsBeforeRunAndExecute) {
  ServerFixture f;
  f.server.SetOnConnect([&](PeerThread& thread) {
    f.trace.Add("Connect");
    thread.Stop();
  });
  f.server.SetOnExecute([&](PeerThread&) { f.trace.Add("Execute"); });
  f.server.SetActive(true);
  RawPeer client(RawConnect(f.Port()));
  EXPECT_TRUE(client.SeesClose());
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("Cleanup"); }));
  EXPECT_EQ(f.trace.Items(), (std::vector<std::string>{"Connect", "Disconnect", "Cleanup"}));
}

TEST(TcpServer, ExceptionFromExecuteIsReportedAfterCleanupAndEndsTheThread) {
  ServerFixture f;
  std::atomic<int> lastSerial{0};
  f.server.SetOnExecute([&](PeerThread& thread) {
    lastSerial = SerialOf(thread);
    std::string line = thread.Connection()->ReadLn("\n", 5000);
    if (line == "boom") throw Exception("boom");
    thread.Stop();
  });
  f.server.SetActive(true);
  {
    RawPeer client(RawConnect(f.Port()));
    client.Send("boom\n");
    EXPECT_TRUE(client.SeesClose());
  }
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("OnException:boom"); }));
  EXPECT_EQ(f.trace.Items(), (std::vector<std::string>{"Connect", "BeforeRun", "Disconnect", "Cleanup",
                                                        "DoException:Exception:boom", "OnException:boom"}));
  int failedSerial = lastSerial;
  EXPECT_TRUE(WaitUntil([&] { return f.pool.ActiveCount() == 0; }));
  EXPECT_EQ(f.pool.PooledCount(), 0);
  // A peer's reset under the handler ends the run quietly; that thread is kept.
  {
    RawPeer client(RawConnect(f.Port()));
    ASSERT_TRUE(WaitUntil([&] { return lastSerial != failedSerial; }));
    client.Reset();
  }
  EXPECT_TRUE(WaitUntil([&] { return f.pool.PooledCount() == 1; }));
  EXPECT_EQ(f.trace.Count("Disconnect"), 2);
  EXPECT_EQ(f.trace.Count("OnException:boom"), 1);
  EXPECT_EQ(f.trace.Items().size(), 10u) << "no second exception report";
}

TEST(TcpServer, ListeningMeansActiveOnAtLeastOneBinding) {
  TcpServer none;
  none.SetActive(true);
  EXPECT_TRUE(none.Active());
  EXPECT_FALSE(none.Listening());
  none.SetActive(false);

  TcpServer one;
  one.AddBinding("127.0.0.1", 0);
  EXPECT_FALSE(one.Listening());
  one.SetActive(true);
  EXPECT_TRUE(one.Listening());
  one.SetActive(false);
  EXPECT_FALSE(one.Listening());
}

TEST(TcpServer, BindingInUseRaisesCouldNotBindAndNothingStaysListening) {
  ServerFixture a;
  a.server.SetActive(true);
  const int taken = a.Port();

  TcpServer b;
  b.AddBinding("127.0.0.1", 0);
  b.AddBinding("127.0.0.1", taken);
  try {
    b.SetActive(true);
    FAIL() << "activated";
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_STREQ(e.ClassName(), "EIdCouldNotBindSocket");
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(b.Active());
  EXPECT_THROW(TestBind("127.0.0.1", taken), EIdCouldNotBindSocket);
  EXPECT_THROW(TestBind("", taken), EIdCouldNotBindSocket);
  a.server.SetActive(false);
  EXPECT_NO_THROW(TestBind("127.0.0.1", taken));
  EXPECT_NO_THROW(b.SetActive(true));  // the same bindings now free
  EXPECT_THROW(TestBind("300.1.1.1", 80), EIdSocketError);
}

TEST(TcpServer, ServerWithoutBindingsIsActiveAndListensNowhere) {
  TcpServer server;
  server.SetActive(true);
  EXPECT_TRUE(server.Active());
  server.SetActive(false);
  EXPECT_FALSE(server.Active());
}

TEST(TcpServer, PoolKeepsIdleThreadsSharedByTwoServersWithoutCappingActiveOnes) {
  Trace trace;
  ThreadPool pool(1);
  pool.SetThreadClass([&] { return std::make_unique<RecordingThread>(&trace); });
  std::mutex m;
  std::vector<int> serials;
  auto execute = [&](PeerThread& thread) {
    {
      std::lock_guard<std::mutex> lock(m);
      serials.push_back(SerialOf(thread));
    }
    thread.Connection()->ReadLn("\n", 5000);
    thread.Stop();
  };
  TcpServer a, b;
  for (TcpServer* s : {&a, &b}) {
    s->SetThreadPool(&pool);
    s->AddBinding("127.0.0.1", 0);
    s->SetOnExecute(execute);
    s->SetActive(true);
  }
  auto serve = [&](TcpServer& s) {
    RawPeer client(RawConnect(s.ListeningPort(0)));
    client.Send("x\n");
    EXPECT_TRUE(client.SeesClose());
    EXPECT_TRUE(WaitUntil([&] { return pool.PooledCount() == 1 && pool.ActiveCount() == 0; }));
  };
  serve(a);
  serve(b);
  {
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(serials.size(), 2u);
    EXPECT_EQ(serials[0], serials[1]) << "the pooled thread served the second server";
    serials.clear();
  }
  // Three at once with a pool size of 1: three threads, one kept afterwards.
  std::vector<std::unique_ptr<RawPeer>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(std::make_unique<RawPeer>(RawConnect(a.ListeningPort(0))));
  ASSERT_TRUE(WaitUntil([&] { return pool.ActiveCount() == 3; }));
  EXPECT_EQ(a.ActiveThreadCount(), 3);
  EXPECT_EQ(pool.PooledCount(), 0);
  for (auto& c : clients) c->Send("x\n");
  for (auto& c : clients) EXPECT_TRUE(c->SeesClose());
  EXPECT_TRUE(WaitUntil([&] { return pool.ActiveCount() == 0; }));
  EXPECT_EQ(pool.PooledCount(), 1);
  pool.SetPoolSize(0);
  EXPECT_EQ(pool.PooledCount(), 0);
  EXPECT_EQ(trace.Count("Terminate"), 1);
}

// ------------------------------------------------------------- threads
// The connection ceiling the limits allow: two descriptors per connection
// (client and back end) with room for the rest of the process; threads
// also count against the thread limits, fibers do not.
TEST(ThreadPool, CeilingFollowsTheOpenFilesLimit) {
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  const rlimit saved = files;
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
  const int threads = ThreadPool::CeilingFromLimits(ConnectionRuntime::Threads);
  const int fibers = ThreadPool::CeilingFromLimits(ConnectionRuntime::Fibers);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  const int half = static_cast<int>(files.rlim_cur / 2);
  EXPECT_LT(fibers, half);
  EXPECT_GT(fibers, half - 200);
  EXPECT_LE(threads, fibers);
  ThreadPool pool;
  EXPECT_EQ(pool.MaxActive(), ThreadPool::CeilingFromLimits(pool.Runtime()));
  pool.SetMaxActive(7);
  EXPECT_EQ(pool.MaxActive(), 7);
}

TEST(TcpServerThreads, DeactivationEndsActiveConnectionsWithinTheWait) {
  ServerFixture f;
  f.server.SetTerminateWaitTime(5000);
  f.EchoLines();
  f.server.SetActive(true);
  std::vector<std::unique_ptr<RawPeer>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<RawPeer>(RawConnect(f.Port())));
  ASSERT_TRUE(WaitUntil([&] { return f.server.ActiveThreadCount() == 4 && f.trace.Count("BeforeRun") == 4; }));
  const int port = f.Port();
  auto start = std::chrono::steady_clock::now();
  f.server.SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_FALSE(f.server.Active());
  EXPECT_EQ(f.server.ActiveThreadCount(), 0);
  EXPECT_EQ(f.trace.Count("Terminate"), 4);
  EXPECT_EQ(f.trace.Count("Disconnect"), 4);
  EXPECT_EQ(f.trace.Count("Cleanup"), 4);
  for (auto& c : clients) EXPECT_TRUE(c->SeesClose());
  // Terminated threads are freed, not pooled; nothing listens any more.
  EXPECT_TRUE(WaitUntil([&] { return f.pool.ActiveCount() == 0; }));
  EXPECT_EQ(f.pool.PooledCount(), 0);
  EXPECT_FALSE(RawConnect(port).Valid());
  for (const std::string& item : f.trace.Items()) EXPECT_EQ(item.find("OnException"), std::string::npos) << item;
}

TEST(TcpServerThreads, DeactivationRaisesWhenAConnectionOutlastsTheWait) {
  ServerFixture f;
  std::atomic<bool> release{false};
  f.server.SetTerminateWaitTime(100);
  f.server.SetOnExecute([&](PeerThread& thread) {
    // Ignores the shut-down socket until told.
    WaitUntil([&] { return release.load(); });
    thread.Stop();
  });
  f.server.SetActive(true);
  RawPeer client(RawConnect(f.Port()));
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("BeforeRun"); }));
  try {
    f.server.SetActive(false);
    FAIL() << "no time-out";
  } catch (const EIdTerminateThreadTimeout& e) {
    EXPECT_EQ(e.Message(), "Terminate Thread Timeout");
  }
  EXPECT_FALSE(f.server.Active());
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return f.server.ActiveThreadCount() == 0; }));
}

TEST(TcpServerThreads, MainThreadDeactivationRunsPostedTasksWithTheAntiFreezeOn) {
  MainLoop& loop = MainLoop::Instance();
  loop.Reset();
  loop.BindToCurrentThread();
  ServerFixture f;
  std::atomic<bool> posted{false};
  f.server.SetOnExecute([&](PeerThread& thread) {
    // Can only end once the main thread ran the task posted below.
    WaitUntil([&] { return posted.load(); });
    thread.Stop();
  });
  f.server.SetActive(true);
  RawPeer client(RawConnect(f.Port()));
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("BeforeRun"); }));
  loop.Post([&] { posted = true; });
  AntiFreeze::SetActive(true);
  AntiFreeze::SetIdleTimeOutMs(5);
  EXPECT_NO_THROW(f.server.SetActive(false));
  AntiFreeze::SetActive(false);
  AntiFreeze::SetIdleTimeOutMs(100);
  EXPECT_TRUE(posted);
  loop.Reset();
}

TEST(TcpServerThreads, DisconnectFromAnotherThreadEndsTheWorkersBlockedRead) {
  ServerFixture f;
  f.EchoLines();
  f.server.SetActive(true);
  RawPeer client(RawConnect(f.Port()));
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("BeforeRun"); }));
  std::atomic<int> disconnected{0};
  f.server.ForEachActiveThread([&](PeerThread& thread) {
    thread.Connection()->SetOnDisconnected([&] { ++disconnected; });
  });
  std::vector<std::thread> others;
  for (int i = 0; i < 4; ++i) {
    others.emplace_back([&] { f.server.ForEachActiveThread([](PeerThread& t) { t.Connection()->Disconnect(); }); });
  }
  for (auto& t : others) t.join();
  EXPECT_TRUE(client.SeesClose());
  ASSERT_TRUE(WaitUntil([&] { return f.trace.Has("Cleanup"); }));
  EXPECT_EQ(disconnected, 1);
  // A connection that died under the handler is no thread failure.
  EXPECT_TRUE(WaitUntil([&] { return f.pool.PooledCount() == 1; }));
  for (const std::string& item : f.trace.Items()) EXPECT_EQ(item.find("Exception"), std::string::npos) << item;
}

TEST(TcpConnectionThreads, DisconnectFromAnotherThreadWakesTheOwnersReadOnce) {
  ClientPair pair;
  std::atomic<int> events{0};
  pair.client->SetOnDisconnected([&] { ++events; });
  std::vector<std::thread> others;
  for (int i = 0; i < 4; ++i) {
    others.emplace_back([&] {
      std::this_thread::sleep_for(50ms);
      pair.client->Disconnect();
    });
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(pair.client->ReadLn("\n", TcpConnection::kNoTimeout), EIdClosedSocket);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  for (auto& t : others) t.join();
  EXPECT_EQ(events, 1);
  EXPECT_FALSE(pair.client->Connected());
  EXPECT_TRUE(pair.peer->SeesClose());
  pair.client->Disconnect();  // the owner closes the descriptor; no second event
  EXPECT_EQ(events, 1);
  EXPECT_THROW(pair.client->Write("x"), EIdClosedSocket);
}

}  // namespace

// Pooled fibers stay on their carriers: the next connections are spread
// over the carriers even when the newest idle fibers all sit on one.
TEST(ThreadPool, IdleFibersAreTakenRoundTheCarriers) {
  const int carriers = FiberRuntime::Shared().CarrierCount();
  if (carriers < 2) GTEST_SKIP() << "one carrier";
  ThreadPool pool(4 * carriers);
  pool.SetRuntime(ConnectionRuntime::Fibers);
  std::vector<PeerThread*> threads;
  for (int i = 0; i < 2 * carriers; ++i) threads.push_back(pool.GetThread());
  std::stable_sort(threads.begin(), threads.end(), [](const PeerThread* a, const PeerThread* b) {
    return (a->CarrierIndex() == 0) < (b->CarrierIndex() == 0);
  });
  ASSERT_EQ(threads.back()->CarrierIndex(), 0);
  for (PeerThread* thread : threads) pool.ReleaseThread(thread);
  std::set<int> seen;
  std::vector<PeerThread*> taken;
  for (int i = 0; i < carriers; ++i) {
    taken.push_back(pool.GetThread());
    seen.insert(taken.back()->CarrierIndex());
  }
  EXPECT_EQ(static_cast<int>(seen.size()), carriers);
  for (PeerThread* thread : taken) pool.ReleaseThread(thread);
  pool.TerminateThreads();
}

// A smaller pool lets the oldest go from the carriers that keep the most:
// letting the oldest go overall would leave only the carrier that ended its
// connections last, and every new connection would pile onto it.
TEST(ThreadPool, ASmallerPoolKeepsAnIdleFiberOnEveryCarrier) {
  const int carriers = FiberRuntime::Shared().CarrierCount();
  if (carriers < 2) GTEST_SKIP() << "one carrier";
  ThreadPool pool(4 * carriers);
  pool.SetRuntime(ConnectionRuntime::Fibers);
  std::vector<PeerThread*> first;  // one on each carrier but the first
  std::vector<PeerThread*> last;   // three on the first carrier
  std::vector<PeerThread*> spare;
  while (static_cast<int>(first.size()) < carriers - 1 || last.size() < 3) {
    PeerThread* thread = pool.GetThread();
    const int carrier = thread->CarrierIndex();
    if (carrier == 0 && last.size() < 3) {
      last.push_back(thread);
    } else if (carrier != 0 && std::none_of(first.begin(), first.end(),
                                            [&](PeerThread* t) { return t->CarrierIndex() == carrier; })) {
      first.push_back(thread);
    } else {
      spare.push_back(thread);
    }
  }
  for (PeerThread* thread : first) pool.ReleaseThread(thread);
  for (PeerThread* thread : last) pool.ReleaseThread(thread);
  pool.SetPoolSize(carriers);
  EXPECT_EQ(pool.PooledCount(), carriers);
  std::set<int> seen;
  std::vector<PeerThread*> taken;
  for (int i = 0; i < carriers; ++i) {
    taken.push_back(pool.GetThread());
    seen.insert(taken.back()->CarrierIndex());
  }
  EXPECT_EQ(static_cast<int>(seen.size()), carriers);
  for (PeerThread* thread : taken) pool.ReleaseThread(thread);
  for (PeerThread* thread : spare) pool.ReleaseThread(thread);
  pool.TerminateThreads();
}
