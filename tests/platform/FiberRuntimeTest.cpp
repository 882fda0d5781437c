#include "platform/FiberRuntime.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/RWLock.h"
#include "platform/TcpErrors.h"
#include "tests/platform/TcpTestSupport.h"

using namespace tcptest;

namespace {

// Joins within Limit; false (and no join) when the fiber is still running.
bool JoinWithin(Fiber& fiber, std::chrono::milliseconds limit = 5000ms) {
  if (!WaitUntil([&] { return fiber.Finished(); }, limit)) return false;
  fiber.Join();
  return true;
}

// What a read parked on a fiber ended with.
std::string ReadOnFiber(TcpConnection& connection) {
  connection.SetOwnerThread();
  try {
    return "line:" + connection.ReadLn("\n", TcpConnection::kNoTimeout);
  } catch (const EIdClosedSocket&) {
    return "closed";
  } catch (const EIdConnClosedGracefully&) {
    return "peer closed";
  }
}

}  // namespace

TEST(FiberRuntime, RunsFibersOnItsCarriersAndJoinsThem) {
  FiberRuntime runtime(2);
  EXPECT_EQ(runtime.CarrierCount(), 2);
  std::atomic<int> ran{0};
  std::mutex mutex;
  std::vector<std::thread::id> carriers;
  std::vector<std::unique_ptr<Fiber>> fibers;
  for (int i = 0; i < 100; ++i) {
    fibers.push_back(runtime.Spawn([&] {
      EXPECT_TRUE(OnFiber());
      ++ran;
      std::lock_guard<std::mutex> lock(mutex);
      if (std::find(carriers.begin(), carriers.end(), std::this_thread::get_id()) == carriers.end()) {
        carriers.push_back(std::this_thread::get_id());
      }
    }));
  }
  for (auto& fiber : fibers) ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(ran.load(), 100);
  EXPECT_EQ(carriers.size(), 2u);
  EXPECT_EQ(runtime.FiberCount(), 0);
  EXPECT_FALSE(OnFiber());
}

TEST(FiberRuntime, ParkedFiberWakesOnANotifyFromAThreadOrAFiber) {
  FiberRuntime runtime(1);
  std::mutex mutex;
  FlowCondition condition;
  int stage = 0;
  auto waiter = runtime.Spawn([&] {
    std::unique_lock<std::mutex> lock(mutex);
    condition.Wait(lock, [&] { return stage == 1; });
    stage = 2;
    condition.NotifyAll();
    condition.Wait(lock, [&] { return stage == 3; });
    stage = 4;
  });
  // The second notify comes from a fiber of the same carrier, which can only
  // run while the first one is parked.
  auto notifier = runtime.Spawn([&] {
    std::unique_lock<std::mutex> lock(mutex);
    condition.Wait(lock, [&] { return stage == 2; });
    stage = 3;
    condition.NotifyAll();
  });
  {
    std::lock_guard<std::mutex> lock(mutex);
    stage = 1;
  }
  condition.NotifyAll();
  ASSERT_TRUE(JoinWithin(*waiter));
  ASSERT_TRUE(JoinWithin(*notifier));
  EXPECT_EQ(stage, 4);
}

TEST(FiberRuntime, TimersWakeParkedFibersInDueOrder) {
  // One carrier: its timer heap alone decides the order, by due time.
  using Clock = std::chrono::steady_clock;
  FiberRuntime runtime(1);
  std::mutex mutex;
  std::vector<Clock::time_point> dues;
  bool slept = true;
  std::vector<std::unique_ptr<Fiber>> fibers;
  for (int ms : {60, 20, 40, 10, 30}) {
    fibers.push_back(runtime.Spawn([&, ms] {
      const auto start = Clock::now();
      FlowSleep(ms);
      std::lock_guard<std::mutex> lock(mutex);
      if (Clock::now() - start < std::chrono::milliseconds(ms)) slept = false;
      dues.push_back(start + std::chrono::milliseconds(ms));
    }));
  }
  // A timed wait that nobody notifies ends by its time-out.
  bool notified = true;
  fibers.push_back(runtime.Spawn([&] {
    std::mutex own;
    FlowCondition never;
    std::unique_lock<std::mutex> lock(own);
    notified = never.WaitFor(lock, 10);
  }));
  for (auto& fiber : fibers) ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(dues.size(), 5u);
  EXPECT_TRUE(std::is_sorted(dues.begin(), dues.end()));
  EXPECT_TRUE(slept);
  EXPECT_FALSE(notified);
}

TEST(FiberRuntime, IdentityAndFlowLocalsArePerFiberOnOneCarrier) {
  FiberRuntime runtime(1);
  FlowId ids[2] = {};
  std::thread::id threads[2];
  int* locals[2] = {};
  std::vector<std::unique_ptr<Fiber>> fibers;
  for (int i = 0; i < 2; ++i) {
    fibers.push_back(runtime.Spawn([&, i] {
      ids[i] = CurrentFlowId();
      threads[i] = std::this_thread::get_id();
      locals[i] = &FlowLocal<int>();
      *locals[i] = i + 10;
      FlowSleep(5);  // both are alive at once
      EXPECT_EQ(FlowLocal<int>(), i + 10);
    }));
  }
  for (auto& fiber : fibers) ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(threads[0], threads[1]);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(locals[0], locals[1]);
  EXPECT_NE(ids[0], CurrentFlowId());
}

TEST(FiberRuntime, ReadParkedOnAFiberEndsOnADisconnectFromAnotherThread) {
  FiberRuntime runtime(1);
  ClientPair pair;
  std::string result;
  auto reader = runtime.Spawn([&] { result = ReadOnFiber(*pair.client); });
  // Give the reader time to park; the disconnect must end it either way.
  std::this_thread::sleep_for(20ms);
  pair.client->Disconnect();
  ASSERT_TRUE(JoinWithin(*reader));
  EXPECT_EQ(result, "closed");
  EXPECT_TRUE(pair.peer->SeesClose());
}

TEST(FiberRuntime, ReadParkedOnAFiberEndsOnADisconnectFromAnotherFiberOfItsCarrier) {
  // Same OS thread, different flow: the disconnect must only shut the socket
  // down, not free the transport under the parked read.
  FiberRuntime runtime(1);
  ClientPair pair;
  std::string result;
  std::atomic<bool> parked{false};
  auto reader = runtime.Spawn([&] {
    parked = true;
    result = ReadOnFiber(*pair.client);
  });
  auto closer = runtime.Spawn([&] {
    while (!parked) FlowSleep(1);
    FlowSleep(5);
    pair.client->Disconnect();
  });
  ASSERT_TRUE(JoinWithin(*closer));
  ASSERT_TRUE(JoinWithin(*reader));
  EXPECT_EQ(result, "closed");
}

TEST(FiberRuntime, ReadParkedOnAFiberEndsOnAStopAndLinesStillFlow) {
  FiberRuntime runtime(2);
  ClientPair pair;
  std::atomic<bool> stop{false};
  pair.client->SetStopCheck([&] { return stop.load(); });
  std::vector<std::string> results;
  std::atomic<bool> firstRead{false};
  auto reader = runtime.Spawn([&] {
    results.push_back(ReadOnFiber(*pair.client));
    firstRead = true;
    results.push_back(ReadOnFiber(*pair.client));
  });
  pair.peer->Send("first\r\n");
  ASSERT_TRUE(WaitUntil([&] { return firstRead.load(); }));
  stop = true;
  ASSERT_TRUE(JoinWithin(*reader));
  EXPECT_EQ(results, (std::vector<std::string>{"line:first", "closed"}));
  EXPECT_FALSE(pair.client->KnownConnected());
}

// Socket waits keep each descriptor in the carrier's epoll set, edge-
// triggered. Two ways that goes wrong: an edge that came while no fiber
// waited is lost, and a descriptor number that comes back for a new socket
// still counts as registered, so its events never arrive.
TEST(FiberRuntime, SocketWaitsSeeEarlierEdgesAndReusedDescriptorNumbers) {
  FiberRuntime runtime(1);
  auto pairOf = [] {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
    return std::pair<SocketHandle, SocketHandle>(SocketHandle(sv[0]), SocketHandle(sv[1]));
  };
  std::vector<std::string> seen;
  int firstFd = -1;
  int secondFd = -1;
  std::atomic<bool> waiting{false};
  std::atomic<int> writeOn{-1};
  auto fiber = runtime.Spawn([&] {
    auto [mine, theirs] = pairOf();
    firstFd = mine.Get();
    // Registered by a first wait that times out.
    seen.push_back(FiberWaitFd(mine.Get(), POLLIN, 1) ? "ready" : "timed out");
    // Bytes that come while this fiber sleeps: the carrier sees their edge
    // with nobody waiting, and the next wait must still answer at once.
    ASSERT_EQ(::send(theirs.Get(), "x", 1, 0), 1);
    FlowSleep(20);
    seen.push_back(FiberWaitFd(mine.Get(), POLLIN, 2000) ? "ready" : "timed out");
    mine.Reset();
    theirs.Reset();
    // The numbers come back for a new pair; a thread writes once the wait
    // is parked.
    auto [again, other] = pairOf();
    secondFd = again.Get();
    writeOn = other.Get();
    waiting = true;
    seen.push_back(FiberWaitFd(again.Get(), POLLIN, 2000) ? "ready" : "timed out");
  });
  ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(::send(writeOn.load(), "y", 1, 0), 1);
  ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(secondFd, firstFd);
  EXPECT_EQ(seen, (std::vector<std::string>{"timed out", "ready", "ready"}));
}

// A waiting receive on a fiber skips the receive that would find nothing
// when the carrier knows the socket was emptied (or just added) and no event
// for reading came since. Bytes must never be missed that way: bytes that
// come with no look at the epoll set between the drain and the wait, and
// bytes that a look saw with nobody waiting (the receive then comes first),
// also when they were queued before the socket was added.
TEST(FiberRuntime, ReceivesThatWaitFirstMissNoBytes) {
  FiberRuntime runtime(1);
  std::vector<std::string> seen;
  auto fiber = runtime.Spawn([&] {
    for (const bool queuedFirst : {false, true}) {
      int sv[2];
      ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
      SocketHandle theirs(sv[1]);
      const int fd = sv[0];
      PlainTransport mine{SocketHandle(sv[0])};
      auto send = [&](const char* bytes) { ASSERT_EQ(::send(theirs.Get(), bytes, 1, 0), 1); };
      auto receive = [&] {
        char buf[64];
        long n = mine.Receive(buf, sizeof buf, 2000, {});
        seen.push_back(n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::to_string(n));
      };
      auto drained = [&](const char* when) {
        seen.push_back(std::string(when) + (FiberKnownDrained(fd) ? ": drained" : ": unknown"));
      };
      if (queuedFirst) {
        send("q");
        // Added by a wait for writing: the look reports the queued byte too.
        ASSERT_TRUE(FiberWaitFd(fd, POLLOUT, 1000));
        drained("added with a byte queued");
        receive();
        continue;
      }
      drained("new");
      ASSERT_TRUE(FiberWaitFd(fd, POLLOUT, 1000));
      drained("added");
      send("a");
      receive();
      drained("after a short read");
      send("b");
      receive();
      send("c");
      FlowSleep(20);
      drained("seen while nobody waited");
      receive();
    }
  });
  ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(seen, (std::vector<std::string>{"new: unknown", "added: drained", "a", "after a short read: drained", "b",
                                            "seen while nobody waited: unknown", "c",
                                            "added with a byte queued: unknown", "q"}));
}

// A peer's close that the carrier saw together with the last bytes is found
// by a look without waiting after those bytes were read, also once later
// looks at the epoll set brought nothing new for the socket.
TEST(FiberRuntime, LookWithoutWaitingSeesACloseThatCameWithTheLastBytes) {
  FiberRuntime runtime(1);
  std::vector<std::string> seen;
  auto fiber = runtime.Spawn([&] {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
    SocketHandle theirs(sv[1]);
    const int fd = sv[0];
    PlainTransport mine{SocketHandle(sv[0])};
    ASSERT_TRUE(FiberWaitFd(fd, POLLOUT, 1000));
    ASSERT_EQ(::send(theirs.Get(), "x", 1, 0), 1);
    ::shutdown(theirs.Get(), SHUT_WR);
    FlowSleep(20);  // the carrier sees the bytes and the close at one look
    char buf[64];
    long n = mine.Receive(buf, sizeof buf, 2000, {});
    seen.push_back(n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::to_string(n));
    FlowSleep(20);  // a look that brings nothing new
    seen.push_back(FiberKnownQuiet(fd) ? "quiet" : "not quiet");
    seen.push_back(std::to_string(mine.Receive(buf, sizeof buf, 0, {})));
  });
  ASSERT_TRUE(JoinWithin(*fiber));
  EXPECT_EQ(seen, (std::vector<std::string>{"x", "not quiet", "0"}));
}

TEST(FiberRuntime, BlockingWorkAndLockWaitsLeaveTheCarrierToOtherFibers) {
  FiberRuntime runtime(1);
  std::atomic<bool> otherRan{false};
  // The helper's work only ends once another fiber of the one carrier ran.
  bool helperSawOther = false;
  auto blocking = runtime.Spawn([&] {
    RunBlocking([&] { helperSawOther = WaitUntil([&] { return otherRan.load(); }); });
  });
  auto other = runtime.Spawn([&] { otherRan = true; });
  ASSERT_TRUE(JoinWithin(*other));
  ASSERT_TRUE(JoinWithin(*blocking));
  EXPECT_TRUE(helperSawOther);

  // A read that waits for a thread's write lock parks: the carrier goes on.
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginWrite();
  std::atomic<bool> reading{false};
  std::atomic<bool> ranMeanwhile{false};
  auto reader = runtime.Spawn([&] {
    ReadLockGuard guard(lock);
    reading = true;
  });
  auto bystander = runtime.Spawn([&] { ranMeanwhile = true; });
  ASSERT_TRUE(JoinWithin(*bystander));
  EXPECT_TRUE(ranMeanwhile);
  EXPECT_FALSE(reading);
  lock.EndWrite();
  ASSERT_TRUE(JoinWithin(*reader));
  EXPECT_TRUE(reading);

  // A name lookup goes through a helper thread and still answers.
  in_addr addr{};
  auto resolver = runtime.Spawn([&] { addr = ResolveIPv4("localhost"); });
  ASSERT_TRUE(JoinWithin(*resolver));
  EXPECT_EQ(IPv4ToStr(addr), "127.0.0.1");
}

// A burst of blocking calls from many fibers: every call completes (an
// exception reaches its own caller), the calls run side by side, and they
// share a bounded set of helper threads instead of one thread each.
TEST(FiberRuntimeThreads, BlockingCallsShareABoundedSetOfHelperThreads) {
  constexpr int kCalls = 300;
  FiberRuntime runtime(4);
  std::mutex mutex;
  std::vector<std::thread::id> helpers;
  std::atomic<int> running{0};
  std::atomic<int> mostRunning{0};
  std::atomic<int> completed{0};
  std::atomic<int> raised{0};
  std::vector<std::unique_ptr<Fiber>> fibers;
  for (int i = 0; i < kCalls; ++i) {
    fibers.push_back(runtime.Spawn([&, i] {
      try {
        RunBlocking([&] {
          int now = ++running;
          int seen = mostRunning.load();
          while (now > seen && !mostRunning.compare_exchange_weak(seen, now)) {
          }
          {
            std::lock_guard<std::mutex> lock(mutex);
            if (std::find(helpers.begin(), helpers.end(), std::this_thread::get_id()) == helpers.end()) {
              helpers.push_back(std::this_thread::get_id());
            }
          }
          std::this_thread::sleep_for(2ms);  // blocks in the kernel, as a lookup does
          --running;
          if (i % 50 == 0) throw std::runtime_error("lookup failed");
        });
        ++completed;
      } catch (const std::runtime_error&) {
        ++raised;
      }
    }));
  }
  for (auto& fiber : fibers) ASSERT_TRUE(JoinWithin(*fiber, 60000ms));
  EXPECT_EQ(completed.load(), kCalls - kCalls / 50);
  EXPECT_EQ(raised.load(), kCalls / 50);
  EXPECT_GT(mostRunning.load(), 1);
  EXPECT_LE(mostRunning.load(), kBlockingHelpers);
  EXPECT_LE(helpers.size(), static_cast<size_t>(kBlockingHelpers));
  EXPECT_LE(RunBlockingHelpersStarted(), kBlockingHelpers);
  EXPECT_EQ(runtime.FiberCount(), 0);
}

#ifndef NDEBUG
TEST(FiberRuntimeDeathTest, AFiberThatParksHoldingALockEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        FiberRuntime runtime(1);
        TMultiReadExclusiveWriteSynchronizer lock;
        auto fiber = runtime.Spawn([&] {
          ReadLockGuard guard(lock);
          FlowSleep(1);
        });
        fiber->Join();
      },
      "parks while it holds a lock");
}
#endif

// A name lookup that never comes back (a name server that does not answer)
// holds its helper thread; the process's exit must not wait for it.
TEST(FiberRuntimeDeathTest, ExitDoesNotWaitForABlockingCallThatHangs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static FiberRuntime* runtime = new FiberRuntime(1);
        static std::atomic<bool> started{false};
        static Fiber* fiber = runtime->Spawn([] {
                                        RunBlocking([] {
                                          started = true;
                                          std::this_thread::sleep_for(std::chrono::hours(1));
                                        });
                                      }).release();
        (void)fiber;
        while (!started) std::this_thread::sleep_for(1ms);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

// Ten thousand connections held open at once on four carriers: each
// connection's fiber echoes lines until its client leaves. The clients run
// in a child process: both ends in one process would pass the descriptor
// limit. ThreadSanitizer clears most of a megabyte per fiber it follows, so
// its build holds two hundred; AddressSanitizer's, slowed several times over,
// three thousand.
TEST(FiberRuntimeThreads, TenThousandConnectionsOnFourCarriers) {
#if defined(__SANITIZE_THREAD__)
  constexpr int kConnections = 200;
#elif defined(__SANITIZE_ADDRESS__)
  constexpr int kConnections = 3000;
#else
  constexpr int kConnections = 10000;
#endif
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < kConnections + 200) GTEST_SKIP() << "descriptor limit below " << kConnections + 200;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);

  SocketHandle listener = RawListener(4096);
  const int port = PortOf(listener.Get());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Client side: connect all, one line each and its echo while all stay
    // open, then a second round, then close. Exit status 0 = all answered.
    listener.Reset();
    std::vector<int> fds;
    for (int i = 0; i < kConnections; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in sa = Loopback(port);
      if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) ::_exit(2);
      timeval tv{60, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      fds.push_back(fd);
    }
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kConnections; ++i) {
        std::string line = "line " + std::to_string(round) + " " + std::to_string(i) + "\n";
        if (::send(fds[i], line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) ::_exit(3);
      }
      for (int i = 0; i < kConnections; ++i) {
        std::string want = "line " + std::to_string(round) + " " + std::to_string(i) + "\n";
        std::string got;
        char buf[64];
        while (got.size() < want.size()) {
          ssize_t n = ::recv(fds[i], buf, std::min(sizeof buf, want.size() - got.size()), 0);
          if (n <= 0) ::_exit(4);
          got.append(buf, static_cast<size_t>(n));
        }
        if (got != want) ::_exit(5);
      }
    }
    for (int fd : fds) ::close(fd);
    ::_exit(0);
  }

  FiberRuntime runtime(4);
  std::atomic<int> live{0};
  std::atomic<int> mostLive{0};
  std::atomic<int> echoed{0};
  std::vector<std::unique_ptr<Fiber>> fibers;
  fibers.reserve(kConnections);
  pollfd p{listener.Get(), POLLIN, 0};
  while (static_cast<int>(fibers.size()) < kConnections && ::poll(&p, 1, 60000) > 0) {
    int fd = ::accept4(listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    auto connection = std::make_shared<TcpConnection>(std::make_unique<PlainTransport>(SocketHandle(fd)));
    fibers.push_back(runtime.Spawn([connection, &live, &mostLive, &echoed] {
      connection->SetOwnerThread();
      connection->SetReadTimeout(60000);
      int now = ++live;
      int seen = mostLive.load();
      while (now > seen && !mostLive.compare_exchange_weak(seen, now)) {
      }
      try {
        for (;;) {
          std::string line = connection->ReadLn();
          if (connection->ReadLnTimedOut()) break;
          connection->Write(line + "\n");
          ++echoed;
        }
      } catch (const EIdException&) {
        // The client left.
      }
      connection->Disconnect();
      --live;
    }));
  }
  EXPECT_EQ(static_cast<int>(fibers.size()), kConnections);
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (auto& fiber : fibers) ASSERT_TRUE(JoinWithin(*fiber, 60000ms));
  EXPECT_EQ(echoed.load(), 2 * kConnections);
  EXPECT_EQ(mostLive.load(), kConnections);
  EXPECT_EQ(runtime.FiberCount(), 0);
}
