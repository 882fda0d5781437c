#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Common/uClusterChecks.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uServerVerification.h"
#include "platform/Classes.h"
#include "platform/DateTime.h"
#include "tests/Common/CheckBackend.h"

namespace {

using Mode = CheckBackend::Mode;

std::shared_ptr<TServer> AddServer(TServerCluster& cluster, const std::string& name, int port, bool enabled = true) {
  auto server = TServer::Create(cluster);
  server->ServerName = name;
  server->ServerAddress = "127.0.0.1";
  server->ServerPort = port;
  server->Enabled = enabled;
  server->SetCapacity(1);
  return server;
}

std::vector<uint8_t> Saved(TDomainHandler& handler) {
  StreamWriter w;
  handler.SaveToStream(w);
  return w.Bytes();
}

void SetCounts(TMatchStatusCounts& counts, int32_t base) {
  for (size_t i = 0; i < counts.size(); ++i) counts[i] = base + static_cast<int32_t>(i);
}

TEST(ConfigOperations, CopyStatisticsFromMatchesRecordsById) {
  TDomainHandler live;
  TDomain* d = live.AddDomain();
  d->DomainName = "shop.example";
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath("/cart");
  auto cluster = live.ServerClusters->Add();
  cluster->Name = "web";
  AddServer(*cluster, "a", 8080);
  d->ServerCluster = cluster.get();

  TDomainHandler copy;
  copy.LoadFromStream(Saved(live));
  // Records only the copy has keep their own counters.
  TDomain* extra = copy.AddDomain();
  extra->RequestCount = 7;
  TVirtualPath* extraPath = copy.Domains[0]->AddVirtualPath();
  extraPath->RequestCount = 9;

  live.BytesTransferred = 1000;
  live.RequestCount = 10;
  SetCounts(live.MatchStatusCounts, 100);
  d->BytesTransferred = 500;
  d->RequestCount = 5;
  SetCounts(d->MatchStatusCounts, 200);
  p->BytesTransferred = 300;
  p->RequestCount = 3;
  SetCounts(p->MatchStatusCounts, 300);
  TServer& a = *cluster->Servers.GetServer(0);
  a.Online = false;
  a.SetLastMessage("HTTP/1.1 503 Service Unavailable");
  a.LoadWindow[2] = 4;

  copy.CopyStatisticsFrom(nullptr);
  EXPECT_EQ(0, copy.RequestCount.load());
  copy.CopyStatisticsFrom(&live);

  EXPECT_EQ(1000, copy.BytesTransferred.load());
  EXPECT_EQ(10, copy.RequestCount.load());
  EXPECT_EQ(108, copy.MatchStatusCounts[8].load());
  TDomain* cd = copy.FindDomainById(d->Id);
  ASSERT_NE(nullptr, cd);
  EXPECT_EQ(500, cd->BytesTransferred.load());
  EXPECT_EQ(5, cd->RequestCount.load());
  EXPECT_EQ(200, cd->MatchStatusCounts[0].load());
  TVirtualPath* cp = copy.FindVirtualPathById(p->Id);
  ASSERT_NE(nullptr, cp);
  EXPECT_EQ(300, cp->BytesTransferred.load());
  EXPECT_EQ(3, cp->RequestCount.load());
  EXPECT_EQ(304, cp->MatchStatusCounts[4].load());
  EXPECT_EQ(7, extra->RequestCount.load());
  EXPECT_EQ(9, extraPath->RequestCount.load());
  const TServer& ca = *copy.ServerClusters->GetCluster(0)->Servers.GetServer(0);
  EXPECT_FALSE(ca.Online);
  EXPECT_EQ("HTTP/1.1 503 Service Unavailable", ca.GetLastMessage());
  EXPECT_EQ(4, ca.LoadWindow[2].load());

  EXPECT_EQ(nullptr, copy.FindDomainById(-5));
  EXPECT_EQ(nullptr, copy.FindVirtualPathById(-5));
}

class VerifyAllDomainsTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(FinalizeVerificationThreads(10000)); }
  ScopedManualClock clock_;
  TDomainHandler handler_;
};

TEST_F(VerifyAllDomainsTest, ResultsAndTheDomainsThatRunCorrectly) {
  CheckBackend target(Mode::Accept);
  CheckBackend serverBackend(Mode::Accept);
  const int closed = CheckBackend::ClosedPort();

  // No paths: the domain's own target on "/", the result on the domain.
  TDomain* a = handler_.AddDomain();
  a->DomainName = "a.example";
  a->DefaultTargetAddress = "127.0.0.1";
  a->OutPort = target.Port();

  // An enabled path that passes and a disabled one.
  TDomain* b = handler_.AddDomain();
  b->DefaultTargetAddress = "127.0.0.1";
  b->OutPort = target.Port();
  TVirtualPath* bUp = b->AddVirtualPath();
  TVirtualPath* bOff = b->AddVirtualPath();
  bOff->Enabled = false;

  // Disabled: its paths count as failed, the domain as running correctly.
  TDomain* c = handler_.AddDomain();
  c->Enabled = false;
  TVirtualPath* cPath = c->AddVirtualPath();

  // A cluster without an available server: nothing is contacted.
  auto dead = handler_.ServerClusters->Add();
  dead->Name = "dead";
  AddServer(*dead, "off", serverBackend.Port())->Online = false;
  AddServer(*dead, "disabled", serverBackend.Port(), false);
  TDomain* d = handler_.AddDomain();
  d->DefaultTargetAddress = "127.0.0.1";
  d->OutPort = target.Port();
  TVirtualPath* dPath = d->AddVirtualPath();
  dPath->SetCluster(dead.get());

  // A cluster with a live server: the check goes to the server, not to the
  // path's own target.
  auto live = handler_.ServerClusters->Add();
  live->Name = "live";
  AddServer(*live, "up", serverBackend.Port());
  TDomain* e = handler_.AddDomain();
  e->DefaultTargetAddress = "127.0.0.1";
  e->OutPort = closed;
  e->ServerCluster = live.get();
  TVirtualPath* ePath = e->AddVirtualPath();  // takes the domain's cluster

  // A path whose target refuses.
  TDomain* f = handler_.AddDomain();
  f->DefaultTargetAddress = "127.0.0.1";
  TVirtualPath* fPath = f->AddVirtualPath();
  fPath->OutPort = closed;

  EXPECT_EQ(5, handler_.CountEnabledDomains());
  handler_.VerifyAllDomains();

  EXPECT_EQ(1, a->CheckStatus);
  EXPECT_EQ("OK. (0.00 s)", a->CheckStatusText);
  EXPECT_EQ(1, bUp->CheckStatus);
  EXPECT_EQ(3, bOff->CheckStatus);
  EXPECT_EQ(1, b->FVirtualPathsConnecting);
  EXPECT_EQ(2, cPath->CheckStatus);
  EXPECT_EQ(2, dPath->CheckStatus);
  EXPECT_EQ("Failed to find an active Load Balancing server on cluster dead.", dPath->CheckStatusText);
  EXPECT_EQ(1, ePath->CheckStatus);
  EXPECT_EQ(2, fPath->CheckStatus);
  EXPECT_FALSE(fPath->CheckStatusText.empty());
  // a, b's path and the domain without paths went to the target; e's path
  // to its server.
  EXPECT_EQ(2, target.Accepts());
  EXPECT_EQ(1, serverBackend.Accepts());
  // a (no paths), c (disabled) and e (all paths up).
  EXPECT_EQ(3, handler_.FDomainsRunningCorrectly);
}

TEST_F(VerifyAllDomainsTest, PathLessDomainCountsWhateverItsResult) {
  TDomain* a = handler_.AddDomain();
  a->DefaultTargetAddress = "127.0.0.1";
  a->OutPort = CheckBackend::ClosedPort();
  handler_.VerifyAllDomains();
  EXPECT_EQ(2, a->CheckStatus);
  EXPECT_EQ(1, handler_.FDomainsRunningCorrectly);
}

TEST_F(VerifyAllDomainsTest, GetCheckUsesThePathsDisplayNameAndHostRules) {
  CheckBackend backend(Mode::Reply, "HTTP/1.1 200 OK\r\n\r\n");
  handler_.CheckMethod = 1;
  TDomain* d = handler_.AddDomain();
  d->DomainName = "www.example";
  d->DefaultTargetAddress = "127.0.0.1";
  d->OutPort = backend.Port();
  TVirtualPath* plain = d->AddVirtualPath();
  plain->SetPath("/shop");
  TVirtualPath* replaced = d->AddVirtualPath();
  replaced->SetPath("/old");
  replaced->SetTargetPath("new");
  replaced->HostReplace = "inner.example";
  TDomain* proxied = handler_.AddDomain();
  proxied->DefaultHostReplace = "backend.example";
  proxied->DefaultTargetAddress = "127.0.0.1";
  proxied->OutPort = backend.Port();

  handler_.VerifyAllDomains();
  EXPECT_EQ(1, plain->CheckStatus);
  EXPECT_EQ("OK (HTTP/1.1 200 OK). (0.00 s)", plain->CheckStatusText);
  EXPECT_EQ(1, replaced->CheckStatus);
  EXPECT_EQ(1, proxied->CheckStatus);

  std::vector<std::string> firstLines;
  for (const std::string& r : backend.Requests()) firstLines.push_back(r.substr(0, r.find("\r\nUser-Agent")));
  std::sort(firstLines.begin(), firstLines.end());
  const std::vector<std::string> expected = {
      "GET / HTTP/1.0\r\nHost: backend.example",
      "GET /new HTTP/1.0\r\nHost: inner.example",
      "GET /shop HTTP/1.0\r\nHost: www.example",
  };
  EXPECT_EQ(expected, firstLines);
}

TEST_F(VerifyAllDomainsTest, NoTestMethodLeavesPathsUnconfirmed) {
  CheckBackend backend(Mode::Accept);
  handler_.CheckMethod = 2;
  TDomain* d = handler_.AddDomain();
  d->DefaultTargetAddress = "127.0.0.1";
  d->OutPort = backend.Port();
  TVirtualPath* p = d->AddVirtualPath();
  handler_.VerifyAllDomains();
  EXPECT_EQ(0, p->CheckStatus);
  EXPECT_EQ("", p->CheckStatusText);
  EXPECT_EQ(0, handler_.FDomainsRunningCorrectly);
  EXPECT_EQ(0, backend.Accepts());
}

TEST(ConfigOperations, DumpClusterStatus) {
  ScopedManualClock clock;
  TDomainHandler handler;
  auto cluster = handler.ServerClusters->Add();
  cluster->Name = "web";
  auto off = AddServer(*cluster, "off", 81, false);
  auto failing = AddServer(*cluster, "failing", 82);
  failing->FConsecutiveFailedOnlineChecks = 2;
  failing->SetLastMessage("Reading timed out");
  failing->LoadWindow[0] = 3;
  failing->LoadWindow[5] = 1;
  auto down = AddServer(*cluster, "down", 83);
  down->Online = false;
  down->SetLastMessage("HTTP/1.1 503");
  for (int i = 0; i < 150; ++i) {
    std::shared_ptr<TServer> chosen;
    uint8_t status = 0;
    int32_t port = 0;
    std::string host;
    cluster->GetServer(IPToInt(Format("10.0.0.%d", i + 1)), chosen, status, port, host);
  }
  auto empty = handler.ServerClusters->Add();
  empty->Name = "spare";

  TStringList lines;
  handler.DumpClusterStatus(lines);
  ASSERT_GE(lines.Count(), 12);
  const std::vector<std::string> head = {
      "",
      "ServerCluster[0]='web'",
      Format("  Server[0]='off' => Host=127.0.0.1:81 Cap=1.00, Key=%d", off->UniqueServerKey),
      "    Stats: Connections = !! 0 !! (0, 0, 0, 0, 0)",
      "    Server is disabled",
      Format("  Server[1]='failing' => Host=127.0.0.1:82 Cap=1.00, Key=%d", failing->UniqueServerKey),
      // 150 choices counted in slot 0, plus the 3 and 1 set above.
      "    Stats: Connections = !! 154 !! (153, 0, 0, 0, 0)",
      "    SERVER HAS FAILED check 2 time(s): Reading timed out",
      Format("  Server[2]='down' => Host=127.0.0.1:83 Cap=1.00, Key=%d", down->UniqueServerKey),
      "    Stats: Connections = !! 0 !! (0, 0, 0, 0, 0)",
      "    SERVER IS OFFLINE: HTTP/1.1 503",
      "",
      "  Connections : 150",
  };
  for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(head[i], lines[static_cast<int>(i)]) << "line " << i;
  const std::regex entry(R"(  Connection\[(\d+)\] = 10\.0\.0\.\d+ => failing \(0\.00 s\))");
  int listed = 0;
  for (int i = static_cast<int>(head.size()); i < lines.Count() && std::regex_match(lines[i], entry); ++i)
    ++listed;
  EXPECT_EQ(101, listed);
  const std::vector<std::string> tail = {"", "", "ServerCluster[1]='spare'", "", "  Connections : 0", "", ""};
  ASSERT_EQ(static_cast<int>(head.size() + 101 + tail.size()), lines.Count());
  for (size_t i = 0; i < tail.size(); ++i)
    EXPECT_EQ(tail[i], lines[static_cast<int>(head.size() + 101 + i)]) << "tail line " << i;
}

TEST(ConfigOperations, AffinityUpkeep) {
  ScopedManualClock clock;
  TDomainHandler handler;
  auto cluster = handler.ServerClusters->Add();
  cluster->SetConnectionTimeout(100);
  AddServer(*cluster, "a", 80);
  auto connect = [&](const char* ip) {
    std::shared_ptr<TServer> chosen;
    uint8_t status = 0;
    int32_t port = 0;
    std::string host;
    cluster->GetServer(IPToInt(ip), chosen, status, port, host);
  };
  connect("10.0.0.1");
  connect("10.0.0.2");
  clock.clock().Advance(50000);
  connect("10.0.0.3");
  clock.clock().Advance(60000);  // ages 110, 110 and 60 s
  EXPECT_EQ(3, handler.GetConnectionCount());
  handler.RemoveExpiredConnections(-1);
  EXPECT_EQ(1, handler.GetConnectionCount());
  handler.RemoveExpiredConnections(0);
  EXPECT_EQ(0, handler.GetConnectionCount());

  // The tick expires by the cluster's own time-out once a minute.
  connect("10.0.0.4");
  handler.RemoveOldConnections();
  clock.clock().Advance(101000);
  EXPECT_EQ(1, handler.GetConnectionCount());
  handler.RemoveOldConnections();
  EXPECT_EQ(0, handler.GetConnectionCount());
}

TEST(ConfigOperations, CheckIfLBServersAreOKAppliesEveryResult) {
  ScopedManualClock clock;
  CheckBackend up(Mode::Accept);
  TDomainHandler handler;
  auto web = handler.ServerClusters->Add();
  auto a = AddServer(*web, "a", CheckBackend::ClosedPort());
  auto b = AddServer(*web, "b", up.Port());
  b->Online = false;
  auto off = handler.ServerClusters->Add();
  off->Enabled = false;
  auto c = AddServer(*off, "c", CheckBackend::ClosedPort());
  handler.CheckIfLBServersAreOK();
  EXPECT_FALSE(a->Online);
  EXPECT_TRUE(b->Online);
  EXPECT_TRUE(c->Online);  // its cluster is disabled: not checked
  EXPECT_EQ("", c->GetLastMessage());
  EXPECT_EQ(0, VerificationThreadsRunning.load());
  EXPECT_TRUE(FinalizeVerificationThreads(10000));
}

// A settings reload while the tick's checks of the old servers still run:
// their results go nowhere, and the new tree is left alone.
TEST(ConfigOperationsThreads, ReloadWhileTickChecksRun) {
  ScopedManualClock clock;
  InstallServerChecks();
  CheckBackend hang(Mode::Hang);
  TDomainHandler handler;
  auto cluster = handler.ServerClusters->Add();
  cluster->Name = "web";
  cluster->VerifyMethod = 1;
  cluster->FailoverCheckInterval = 2;  // one-second time-outs
  for (int i = 0; i < 3; ++i) AddServer(*cluster, Format("s%d", i), hang.Port());
  const std::vector<uint8_t> bytes = Saved(handler);
  std::shared_ptr<TServer> old = cluster->Servers.GetServer(0);
  cluster.reset();

  handler.RemoveOldConnections();  // the first tick starts the checks
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (hang.Accepts() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(3, hang.Accepts());
  handler.LoadFromStream(bytes);
  EXPECT_TRUE(old->Retired);
  // Ticks on the new tree meanwhile: their checks are not due yet.
  handler.RemoveOldConnections();
  ASSERT_TRUE(FinalizeVerificationThreads(20000));
  SetServerCheckStarter(nullptr);

  EXPECT_EQ(0, old->FConsecutiveFailedOnlineChecks.load());
  const auto& fresh = handler.ServerClusters->GetCluster(0);
  for (const auto& server : fresh->Servers) {
    EXPECT_FALSE(server->Retired);
    EXPECT_TRUE(server->Online);
    EXPECT_EQ(0, server->FConsecutiveFailedOnlineChecks.load());
  }
}

}  // namespace
