#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/uClusterChecks.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uLogger.h"
#include "Common/uServerVerification.h"
#include "platform/DateTime.h"
#include "tests/Common/CheckBackend.h"

namespace {

using Mode = CheckBackend::Mode;

// Collects what the global logger passes on.
class LogCapture {
 public:
  LogCapture() {
    GlobalLogger->SetOnLog([this](const std::string& line) {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { GlobalLogger->SetOnLog(nullptr); }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> g(m_);
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
  }

 private:
  std::mutex m_;
  std::vector<std::string> lines_;
};

struct StarterScope {
  StarterScope() { InstallServerChecks(); }
  ~StarterScope() { SetServerCheckStarter(nullptr); }
};

std::shared_ptr<TServer> AddServer(TServerCluster& cluster, const std::string& name, int port, bool enabled = true,
                                   float capacity = 1) {
  auto server = TServer::Create(cluster);
  server->ServerName = name;
  server->ServerAddress = "127.0.0.1";
  server->ServerPort = port;
  server->Enabled = enabled;
  server->SetCapacity(capacity);
  return server;
}

// Runs one round of waited checks of the cluster.
void CheckNow(const std::shared_ptr<TServerCluster>& cluster) {
  TServerCheckWaitList waitList;
  StartServerChecks(cluster, &waitList);
  waitList.WaitForAll();
}

class ClusterChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    cluster_ = clusters_.Add();
    cluster_->Name = "web";
  }
  void TearDown() override { EXPECT_TRUE(FinalizeVerificationThreads(10000)); }

  ScopedManualClock clock_;
  LogCapture log_;
  TServerClusterList clusters_;
  std::shared_ptr<TServerCluster> cluster_;
};

TEST_F(ClusterChecks, TimeoutsFollowTheInterval) {
  cluster_->FailoverCheckInterval = 5;
  EXPECT_EQ(4000, ServerCheckTimeoutMs(*cluster_));
  cluster_->FailoverCheckInterval = 1;
  EXPECT_EQ(0, ServerCheckTimeoutMs(*cluster_));
  cluster_->FailoverCheckInterval = 2147483647;
  EXPECT_EQ(2147483647, ServerCheckTimeoutMs(*cluster_));
  cluster_->MaxFailBeforeOffline = 3;
  cluster_->FailoverCheckInterval = 5;
  EXPECT_EQ(20, cluster_->GetOfflineTime());
  cluster_->MaxFailBeforeOffline = 2147483647;
  EXPECT_THROW(cluster_->GetOfflineTime(), EIntOverflow);
}

TEST_F(ClusterChecks, UpdateOnlineStateTable) {
  struct Case {
    bool autoActivate;
    int maxFail;
    bool online;
    int failures;
    bool passed;
    bool onlineAfter;
    bool respondingAfter;
    int failuresAfter;
  };
  const Case cases[] = {
      {true, 1, true, 0, true, true, true, 0},
      {true, 1, false, 4, true, true, true, 0},     // comes back
      {false, 1, false, 4, true, false, true, 4},   // stays offline, but responds
      {false, 3, true, 2, true, true, true, 0},     // only failures in a row count
      {true, 1, true, 0, false, false, false, 1},   // the first failure takes it offline
      {true, 3, true, 1, false, true, true, 2},
      {true, 3, true, 2, false, false, false, 3},
      {false, 3, false, 3, false, false, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "auto=" << c.autoActivate << " max=" << c.maxFail << " online="
                                      << c.online << " n=" << c.failures << " passed=" << c.passed);
    auto server = AddServer(*cluster_, "s", 1);
    cluster_->MaxFailBeforeOffline = c.maxFail;
    server->AutoActivate = c.autoActivate;
    server->Online = c.online;
    server->Responding = !c.passed;
    server->FConsecutiveFailedOnlineChecks = c.failures;
    EXPECT_EQ(c.onlineAfter, server->UpdateOnlineState(c.passed));
    EXPECT_EQ(c.onlineAfter, server->Online.load());
    EXPECT_EQ(c.respondingAfter, server->Responding.load());
    EXPECT_EQ(c.failuresAfter, server->FConsecutiveFailedOnlineChecks.load());
  }
}

TEST_F(ClusterChecks, FailureCountWrapsWithALine) {
  auto server = AddServer(*cluster_, "s", 1);
  cluster_->MaxFailBeforeOffline = 3;
  server->FConsecutiveFailedOnlineChecks = 2147483647;
  server->UpdateOnlineState(false);
  EXPECT_EQ(1, server->FConsecutiveFailedOnlineChecks.load());
  EXPECT_EQ(std::vector<std::string>{"Wrn-FConsecutiveFailedOnlineChecks reset to 1. Old value was 2147483647"},
            log_.Take());
}

TEST_F(ClusterChecks, FailuresInARowThenRecoveryWithTheirLines) {
  CheckBackend up(Mode::Accept);
  const int down = CheckBackend::ClosedPort();
  cluster_->MaxFailBeforeOffline = 3;
  auto a = AddServer(*cluster_, "alpha", down);
  log_.Take();

  // The refusal's text runs over two lines, which the logger passes on as
  // two lines.
  CheckNow(cluster_);
  auto lines = log_.Take();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("Wrn-Server failed 1 out of 3 times, Can Connect = No", lines[0]);
  EXPECT_EQ("Wrn-  Reason = " + a->GetLastMessage().substr(0, lines[1].size() - 15), lines[1]);
  CheckNow(cluster_);
  lines = log_.Take();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("Wrn-Server failed 2 out of 3 times, Can Connect = No", lines[0]);
  EXPECT_TRUE(a->Online);
  EXPECT_TRUE(a->Responding);

  CheckNow(cluster_);
  EXPECT_FALSE(a->Online);
  EXPECT_FALSE(a->Responding);
  lines = log_.Take();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Format("Wrn-State of server alpha (127.0.0.1:%d) (cluster=web) changed:", down), lines[0]);
  EXPECT_EQ("Wrn-  Can Connect     = No", lines[1]);
  EXPECT_EQ(0u, lines[2].rfind("Wrn-  Connect Message = ", 0));
  EXPECT_EQ("Wrn-  Cluster web went OFFLINE", lines.back());

  // Still failing: nothing more to say.
  CheckNow(cluster_);
  EXPECT_TRUE(log_.Take().empty());
  EXPECT_EQ(4, a->FConsecutiveFailedOnlineChecks.load());

  a->ServerPort = up.Port();
  CheckNow(cluster_);
  EXPECT_TRUE(a->Online);
  EXPECT_EQ(0, a->FConsecutiveFailedOnlineChecks.load());
  EXPECT_EQ("OK. (0.00 s)", a->GetLastMessage());
  lines = log_.Take();
  const std::vector<std::string> expected = {
      Format("Wrn-State of server alpha (127.0.0.1:%d) (cluster=web) changed:", up.Port()),
      "Wrn-  Can Connect     = Yes",
      "Wrn-  Connect Message = OK. (0.00 s)",
      "Wrn-  Cluster web came ONLINE",
  };
  EXPECT_EQ(expected, lines);
}

TEST_F(ClusterChecks, GetCheckTakesTheClusterSettings) {
  CheckBackend ok(Mode::Reply, "HTTP/1.1 200 OK\r\n\r\n");
  CheckBackend busy(Mode::Reply, "HTTP/1.1 503 Service Unavailable\r\n\r\n");
  cluster_->VerifyMethod = 1;
  cluster_->HostName = "app.example";
  cluster_->UserAgent = "probe/1";
  cluster_->Document = "alive";
  auto a = AddServer(*cluster_, "a", ok.Port());
  auto b = AddServer(*cluster_, "b", busy.Port());
  CheckNow(cluster_);
  EXPECT_TRUE(a->Online);
  EXPECT_EQ("OK (HTTP/1.1 200 OK). (0.00 s)", a->GetLastMessage());
  EXPECT_FALSE(b->Online);
  EXPECT_EQ("HTTP/1.1 503 Service Unavailable", b->GetLastMessage());
  ASSERT_EQ(1u, ok.Requests().size());
  EXPECT_EQ(
      "GET /alive HTTP/1.0\r\nHost: app.example\r\nUser-Agent: probe/1\r\nConnection: Close\r\n"
      "Purpose: VerifyingServerIsUp\r\nVerifier: Vantrell\r\n\r\n",
      ok.Requests()[0]);
  // b failed while a stayed available: no cluster line.
  for (const std::string& line : log_.Take()) EXPECT_EQ(std::string::npos, line.find("Cluster web"));
}

TEST_F(ClusterChecks, WithoutAutoActivateAnOfflineServerOnlyResponds) {
  CheckBackend up(Mode::Accept);
  auto a = AddServer(*cluster_, "a", CheckBackend::ClosedPort());
  a->AutoActivate = false;
  CheckNow(cluster_);
  EXPECT_FALSE(a->Online);
  log_.Take();
  a->ServerPort = up.Port();
  CheckNow(cluster_);
  CheckNow(cluster_);
  EXPECT_FALSE(a->Online);
  EXPECT_TRUE(a->Responding);
  EXPECT_TRUE(log_.Take().empty());
}

TEST_F(ClusterChecks, WhichServersAreChecked) {
  CheckBackend enabled(Mode::Accept), weighted(Mode::Accept), spare(Mode::Accept);
  AddServer(*cluster_, "enabled", enabled.Port(), true, 1);
  AddServer(*cluster_, "disabled weighted", weighted.Port(), false, 2);
  AddServer(*cluster_, "disabled spare", spare.Port(), false, 0);
  CheckNow(cluster_);
  EXPECT_EQ(1, enabled.Accepts());
  EXPECT_EQ(1, weighted.Accepts());
  EXPECT_EQ(0, spare.Accepts());

  cluster_->Enabled = false;
  StarterScope starter;
  clusters_.CheckAllServers();
  EXPECT_EQ(1, enabled.Accepts());
}

TEST_F(ClusterChecks, CheckAllServersReturnsWithResultsApplied) {
  CheckBackend up(Mode::Accept);
  auto other = clusters_.Add();
  other->Name = "api";
  auto a = AddServer(*cluster_, "a", CheckBackend::ClosedPort());
  auto b = AddServer(*other, "b", up.Port());
  b->Online = false;
  clusters_.CheckAllServers();
  EXPECT_FALSE(a->Online);
  EXPECT_TRUE(b->Online);
  EXPECT_EQ(0, VerificationThreadsRunning.load());
  EXPECT_EQ(0, IdleVerificationThreadCount());
}

TEST_F(ClusterChecks, TickStartsChecksByTheInterval) {
  StarterScope starter;
  CheckBackend up(Mode::Accept);
  AddServer(*cluster_, "a", up.Port());
  cluster_->FailoverCheckInterval = 5;
  struct Step {
    uint64_t advanceMs;
    int accepts;
  };
  // The first tick checks at once; later ones when more than 5 s passed.
  const Step steps[] = {{0, 1}, {4000, 1}, {2000, 2}, {4900, 2}, {1500, 3}};
  for (const Step& s : steps) {
    clock_.clock().Advance(s.advanceMs);
    clusters_.Tick();
    ASSERT_TRUE(FinalizeVerificationThreads(10000));
    EXPECT_EQ(s.accepts, up.Accepts());
  }
}

TEST(ClusterChecksThreads, OverlappingChecksOfOneServerRunInTurn) {
  ScopedManualClock clock;
  LogCapture log;
  TServerClusterList clusters;
  auto cluster = clusters.Add();
  cluster->Name = "slow";
  cluster->VerifyMethod = 1;
  cluster->FailoverCheckInterval = 1;  // effective time-outs: the 1 s floor
  cluster->MaxFailBeforeOffline = 5;
  CheckBackend hang(Mode::Hang);
  auto a = AddServer(*cluster, "a", hang.Port());
  auto start = std::chrono::steady_clock::now();
  {
    TServerCheckWaitList waitList;
    StartServerChecks(cluster, &waitList);
    StartServerChecks(cluster, &waitList);
    waitList.WaitForAll();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));
  EXPECT_EQ(2, a->FConsecutiveFailedOnlineChecks.load());
  EXPECT_EQ("Reading timed out", a->GetLastMessage());
  EXPECT_TRUE(FinalizeVerificationThreads(10000));
}

TEST(ClusterChecksThreads, ReloadWhileChecksRunAppliesNothing) {
  ScopedManualClock clock;
  LogCapture log;
  StarterScope starter;
  CheckBackend hang(Mode::Hang);
  std::shared_ptr<TServer> old;
  {
    TServerClusterList clusters;
    auto cluster = clusters.Add();
    cluster->Name = "old";
    cluster->VerifyMethod = 1;
    cluster->FailoverCheckInterval = 2;  // one-second time-outs
    for (int i = 0; i < 4; ++i) AddServer(*cluster, Format("s%d", i), hang.Port());
    old = cluster->Servers.GetServer(0);
    clusters.Tick();  // pooled checks, nobody waits
    // Wait until the checks are inside their tests, then drop the list as a
    // reload does.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (hang.Accepts() < 4 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(4, hang.Accepts());
  }
  EXPECT_TRUE(old->Retired);
  ASSERT_TRUE(FinalizeVerificationThreads(20000));
  EXPECT_TRUE(old->Online);
  EXPECT_EQ(0, old->FConsecutiveFailedOnlineChecks.load());
  EXPECT_EQ("", old->GetLastMessage());
  EXPECT_TRUE(log.Take().empty());
}

}  // namespace
