#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "Common/uLoadBalancingClasses.h"
#include "Common/uLogger.h"
#include "platform/DateTime.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

constexpr double Second = 1.0 / 86400.0;

struct ServerSpec {
  float capacity = 1;
  bool enabled = true;
  bool online = true;
  int load = 0;  // put into slot 0 of the window
};

// A cluster held the way a configuration holds it.
struct ClusterFixture {
  TServerClusterList list;
  std::shared_ptr<TServerCluster> cluster = list.Add();

  TServer& AddServer(const ServerSpec& spec) {
    auto server = TServer::Create(*cluster);
    server->ServerName = "S" + IntToStr(cluster->Servers.Count());
    server->ServerAddress = "10.0.0." + IntToStr(cluster->Servers.Count());
    server->ServerPort = 8000 + cluster->Servers.Count();
    server->Capacity = spec.capacity;
    server->Enabled = spec.enabled;
    server->Online = spec.online;
    server->LoadWindow[0] = spec.load;
    return *server;
  }
  TServer& Server(int i) { return *cluster->Servers.GetServer(i); }
  int IndexOf(const TServer* s) const { return cluster->Servers.IndexOf(s); }
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vt-lb-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

// ------------------------------------------------------------- key conversions

TEST(LoadBalancingKeys, IPToIntAndBack) {
  struct Case {
    std::string text;
    int32_t key;
  } cases[] = {
      {"", 0},
      {"10.0.0.1", 16777226},
      {"1.2.3.4", 67305985},
      {"192.168.0.1", 16820416},
      {"1.2.3.200", -939326975},
      {"1.2.3.a", 0x31030201},  // letters are not refused, only out-of-range octets
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IPToInt(c.text), c.key) << c.text;
  }
  EXPECT_EQ(IntToIP(IPToInt("10.0.0.1")), "10.0.0.1");
  EXPECT_EQ(IntToIP(IPToInt("1.2.3.200")), "1.2.3.200");

  for (const std::string& bad : std::vector<std::string>{"1.2.3.4.5", "1.2.3.4.", "256.1.1.1", "1. 2.3.4", std::string(256, '1')}) {
    EXPECT_THROW(IPToInt(bad), ERangeError) << bad;
  }
}

TEST(LoadBalancingKeys, StatusTexts) {
  EXPECT_STREQ(LBStatusText(0), "Not set");
  EXPECT_STREQ(LBStatusText(1), "New connection");
  EXPECT_STREQ(LBStatusText(2), "Old connection");
  EXPECT_STREQ(LBStatusText(3), "");
  EXPECT_STREQ(LBStatusText(4), "Old updated connection");
  EXPECT_STREQ(LBStatusText(5), "No server capacity");
  EXPECT_STREQ(LBStatusText(6), "No online servers");
  EXPECT_STREQ(LBStatusText(7), "Failed to find server");
  EXPECT_STREQ(LBStatusText(8), "Cluster disabled");
  EXPECT_STREQ(LBStatusText(9), "");
}

// ------------------------------------------------------------------ selection

TEST(LoadBalancingChoice, SelectServerTable) {
  struct Case {
    const char* name;
    std::vector<ServerSpec> servers;
    int expected;  // index, -1 none
    uint8_t status;
  } cases[] = {
      {"capacities 1 and 3, empty windows", {{1}, {3}}, 1, LBStatus::NewConnection},
      {"equal scores: the earlier wins", {{2, true, true, 1}, {1, true, true, 0}}, 0, LBStatus::NewConnection},
      {"load per capacity", {{1, true, true, 4}, {2, true, true, 5}}, 1, LBStatus::NewConnection},
      {"disabled skipped", {{5, false}, {1}}, 1, LBStatus::NewConnection},
      {"offline skipped", {{5, true, false}, {1}}, 1, LBStatus::NewConnection},
      {"weighted beats an idle spare", {{0}, {1, true, true, 100}}, 1, LBStatus::NewConnection},
      {"only spares: least loaded", {{0, true, true, 3}, {0, true, true, 1}}, 1, LBStatus::NewConnection},
      {"only spares: tie to the first", {{0, true, true, 1}, {0, true, true, 1}}, 0, LBStatus::NewConnection},
      {"spare used when weighted is offline", {{3, true, false}, {0}}, 1, LBStatus::NewConnection},
      {"all offline or disabled", {{1, true, false}, {1, false, true}, {0, false}}, -1, LBStatus::NoOnlineServers},
      {"empty cluster", {}, -1, LBStatus::NoOnlineServers},
      {"negative capacity from a file is never chosen", {{-1}}, -1, LBStatus::NoOnlineServers},
      {"NaN capacity is never chosen", {{NAN}, {2}}, 1, LBStatus::NewConnection},
  };
  for (const Case& c : cases) {
    ClusterFixture f;
    for (const ServerSpec& s : c.servers) f.AddServer(s);
    uint8_t status = LBStatus::NewConnection;
    TServer* chosen = f.cluster->SelectServer(status);
    EXPECT_EQ(f.IndexOf(chosen), c.expected) << c.name;
    EXPECT_EQ(status, c.status) << c.name;
  }
}

// The state table of one request on an existing (or missing) entry.
TEST(LoadBalancingChoice, GetServerForClientTable) {
  const int32_t client = IPToInt("192.168.1.7");
  struct Case {
    const char* name;
    std::vector<ServerSpec> servers;
    int entryOn;                // -1: no entry; -2: entry without a server
    double entryAgeSeconds;     // age of the entry before the request
    std::function<void(ClusterFixture&)> change;  // applied after the entry exists
    uint8_t status;
    int expected;
    bool newSession;  // LastNewSession set by this request
  } cases[] = {
      {"new client", {{1}, {3}}, -1, 0, nullptr, LBStatus::NewConnection, 1, true},
      {"new client, nothing available", {{1, true, false}}, -1, 0, nullptr, LBStatus::NoOnlineServers, -1, false},
      {"returning client", {{1}, {3}}, 0, 100, nullptr, LBStatus::OldConnection, 0, false},
      {"disabled but online keeps its client", {{1}, {3}}, 0, 100,
       [](ClusterFixture& f) { f.Server(0).Enabled = false; }, LBStatus::OldUpdatedConnection, 0, true},
      {"offline server: moved", {{1}, {3}}, 0, 100,
       [](ClusterFixture& f) { f.Server(0).Online = false; }, LBStatus::OldUpdatedConnection, 1, false},
      {"offline server, nothing else", {{1}, {3, false}}, 0, 100,
       [](ClusterFixture& f) { f.Server(0).Online = false; }, LBStatus::NoOnlineServers, -1, false},
      {"entry without a server, a server is back", {{1}}, -2, 100, nullptr, LBStatus::OldUpdatedConnection, 0, false},
      {"expired entry: fresh choice", {{1, true, true, 50}, {1}}, 0, 1801, nullptr, LBStatus::OldUpdatedConnection, 1, false},
      {"just inside the time-out", {{1, true, true, 50}, {1}}, 0, 1799, nullptr, LBStatus::OldConnection, 0, false},
      {"spare left for a weighted server that is back", {{0}, {1, true, false}}, 0, 10,
       [](ClusterFixture& f) { f.Server(1).Online = true; }, LBStatus::OldUpdatedConnection, 1, true},
      {"spare: re-chosen among spares each request", {{0, true, true, 5}, {0}}, 0, 10, nullptr,
       LBStatus::OldUpdatedConnection, 1, true},
  };
  for (const Case& c : cases) {
    ScopedManualClock clock(45000.0);
    ClusterFixture f;
    for (const ServerSpec& s : c.servers) f.AddServer(s);
    if (c.entryOn != -1) {
      auto entry = std::make_unique<TLoadBalancedConnection>();
      entry->ClientKey = client;
      if (c.entryOn >= 0) entry->SetServer(&f.Server(c.entryOn));
      entry->LastUse = 45000.0 - c.entryAgeSeconds * Second;
      f.cluster->Connections.Add(std::move(entry));
    }
    if (c.change) c.change(f);
    std::vector<int32_t> sessionsBefore;
    for (const auto& s : f.cluster->Servers) sessionsBefore.push_back(s->ActiveSessions);
    const int32_t countBefore = f.cluster->Connections.GetCount();

    uint8_t status = LBStatus::NotSet;
    TServer* chosen = f.cluster->GetServerForClient(client, status);
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(f.IndexOf(chosen), c.expected) << c.name;

    TLoadBalancedConnection* entry = f.cluster->Connections.Find(client);
    ASSERT_NE(entry, nullptr) << c.name;
    EXPECT_EQ(entry->Server(), chosen) << c.name;
    EXPECT_DOUBLE_EQ(entry->LastUse, 45000.0) << c.name;
    EXPECT_EQ(f.cluster->Connections.GetCount(), countBefore + (c.entryOn == -1 ? 1 : 0)) << c.name;
    // Sessions follow the entry: one on the chosen server, none left behind.
    for (int i = 0; i < f.cluster->Servers.Count(); ++i) {
      const int32_t expectedSessions =
          sessionsBefore[i] - (i == c.entryOn ? 1 : 0) + (i == c.expected ? 1 : 0);
      EXPECT_EQ(f.Server(i).ActiveSessions, expectedSessions) << c.name << " server " << i;
      EXPECT_EQ(f.Server(i).TotalRequests, i == c.expected ? 1 : 0) << c.name << " server " << i;
    }
    if (chosen) {
      EXPECT_DOUBLE_EQ(chosen->LastNewRequest, 45000.0) << c.name;
      EXPECT_EQ(chosen->LoadWindow[0], c.servers[c.expected].load + 1) << c.name;
    }
    for (int i = 0; i < f.cluster->Servers.Count(); ++i)
      EXPECT_EQ(f.Server(i).LastNewSession == 45000.0, c.newSession && i == c.expected) << c.name << " server " << i;
  }
}

TEST(LoadBalancingChoice, GetServerFillsTargetAndHonoursDisabledCluster) {
  ScopedManualClock clock;
  ClusterFixture f;
  f.AddServer({1});
  std::shared_ptr<TServer> server;
  uint8_t status = LBStatus::NoSelection;
  int32_t port = -1;
  std::string host = "unchanged";

  f.cluster->SetEnabled(false);
  f.cluster->GetServer(1, server, status, port, host);
  EXPECT_EQ(status, LBStatus::ClusterDisabled);
  EXPECT_EQ(server, nullptr);
  EXPECT_EQ(f.cluster->Connections.GetCount(), 0);
  EXPECT_EQ(host, "unchanged");

  f.cluster->SetEnabled(true);
  f.cluster->GetServer(1, server, status, port, host);
  EXPECT_EQ(status, LBStatus::NewConnection);
  EXPECT_EQ(server.get(), &f.Server(0));
  EXPECT_EQ(host, "10.0.0.1");
  EXPECT_EQ(port, 8001);

  f.Server(0).Online = false;
  port = -1;
  f.cluster->GetServer(1, server, status, port, host);
  EXPECT_EQ(status, LBStatus::NoOnlineServers);
  EXPECT_EQ(server, nullptr);
  EXPECT_EQ(port, -1);
}

TEST(LoadBalancingChoice, CountersOfEntriesAndSessions) {
  ScopedManualClock clock;
  const int32_t before = LBConnectionCount;
  {
    ClusterFixture f;
    TServer& a = f.AddServer({1});
    uint8_t status = 0;
    for (int32_t key = 1; key <= 3; ++key) f.cluster->GetServerForClient(key, status);
    EXPECT_EQ(LBConnectionCount, before + 3);
    EXPECT_EQ(a.ActiveSessions, 3);
    EXPECT_EQ(a.TotalSessions, 3);
    f.cluster->GetServerForClient(2, status);
    EXPECT_EQ(a.TotalRequests, 4);
    EXPECT_EQ(a.TotalSessions, 3);
    f.cluster->RemoveExpiredConnections(0);
    EXPECT_EQ(f.cluster->Connections.GetCount(), 3) << "ages of 0 are not above 0";
    clock.clock().Advance(1000);
    f.cluster->RemoveExpiredConnections(0);
    EXPECT_EQ(f.cluster->Connections.GetCount(), 0);
    EXPECT_EQ(a.ActiveSessions, 0);
    EXPECT_EQ(LBConnectionCount, before);
    f.cluster->GetServerForClient(9, status);
  }
  EXPECT_EQ(LBConnectionCount, before) << "freeing the configuration frees its entries";
}

TEST(LoadBalancingChoice, CookieKeysAreClientsOfTheirOwn) {
  ScopedManualClock clock;
  ClusterFixture f;
  f.cluster->SessionMethod = 1;
  f.AddServer({1});
  f.AddServer({1});
  // Session values span the whole 32-bit range; keys that share a low byte
  // or differ only in sign are still different clients.
  const int32_t keys[] = {2147483646, -2147483647 - 1, 256, 512, 1, -1};
  uint8_t status = 0;
  std::vector<TServer*> first;
  for (int32_t key : keys) {
    first.push_back(f.cluster->GetServerForClient(key, status));
    EXPECT_EQ(status, LBStatus::NewConnection) << key;
  }
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(f.cluster->GetServerForClient(keys[i], status), first[i]) << keys[i];
    EXPECT_EQ(status, LBStatus::OldConnection) << keys[i];
  }
  EXPECT_EQ(f.cluster->Connections.GetCount(), 6);
  EXPECT_EQ(f.Server(0).ActiveSessions, 3);
  EXPECT_EQ(f.Server(1).ActiveSessions, 3);
}

TEST(LoadBalancingChoice, AffinityTableIsCappedOldestFirst) {
  ScopedManualClock clock;
  ClusterFixture f;
  f.cluster->SessionMethod = 1;
  f.cluster->MaxConnections = 20;
  f.AddServer({1});
  f.AddServer({1});
  std::vector<std::string> lines;
  GlobalLogger->SetOnLog([&](const std::string& line) { lines.push_back(line); });
  uint8_t status = 0;
  // A client that keeps coming back, among many that come once.
  TServer* returning = f.cluster->GetServerForClient(-5, status);
  for (int32_t key = 1; key <= 500; ++key) {
    clock.clock().Advance(1);
    f.cluster->GetServerForClient(key, status);
    EXPECT_LE(f.cluster->Connections.GetCount(), 20) << key;
    if (key % 5 == 0) {
      EXPECT_EQ(f.cluster->GetServerForClient(-5, status), returning) << key;
      EXPECT_EQ(status, LBStatus::OldConnection) << key;
    }
  }
  // The newest entries stay; the oldest made room.
  EXPECT_NE(f.cluster->Connections.Find(500), nullptr);
  EXPECT_EQ(f.cluster->Connections.Find(1), nullptr);
  EXPECT_EQ(f.Server(0).ActiveSessions + f.Server(1).ActiveSessions, f.cluster->Connections.GetCount());
  GlobalLogger->SetOnLog(nullptr);
  // One line for the whole episode.
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Affinity table of cluster"), std::string::npos) << lines[0];
}

TEST(LoadBalancingChoice, ConsoleQueries) {
  ClusterFixture f;
  f.AddServer({2, false, true, 3});
  f.AddServer({1.5f, true, false, 1});
  EXPECT_FALSE(f.cluster->HasAvailableServer());
  EXPECT_EQ(f.cluster->GetFirstAvailableServer(), nullptr);
  f.AddServer({0, true, true, 0});
  EXPECT_EQ(f.cluster->GetFirstAvailableServer(), &f.Server(2));
  EXPECT_EQ(f.cluster->GetEnabledCount(), 2);
  EXPECT_FLOAT_EQ(f.cluster->GetTotalCapacity(), 1.5f);
  EXPECT_FLOAT_EQ(f.cluster->GetTotalLoad(), 4);
  f.cluster->SetConnectionTimeout(0);
  EXPECT_EQ(f.cluster->ConnectionTimeout, 1800);
  f.cluster->SetConnectionTimeout(-5);
  EXPECT_EQ(f.cluster->ConnectionTimeout, 1800);
  f.cluster->SetConnectionTimeout(30);
  EXPECT_EQ(f.cluster->ConnectionTimeout, 30);
  f.Server(0).SetCapacity(-3);
  EXPECT_EQ(f.Server(0).Capacity, 0);
  f.Server(0).SetLastMessage("line one\r\nline two\n");
  EXPECT_EQ(f.Server(0).GetLastMessage(), "line one:line two");
}

// ------------------------------------------------------------ windows, tick

TEST(LoadBalancingTick, WindowShift) {
  TServer server(nullptr);
  for (int i = 0; i < 6; ++i) server.LoadWindow[i] = i + 1;
  server.ShiftLoadWindow();
  const int32_t expected[6] = {0, 1, 2, 3, 4, 5};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(server.LoadWindow[i], expected[i]) << i;
  EXPECT_EQ(server.GetWindowSum(), 15);
  server.RegisterHit();
  EXPECT_EQ(server.LoadWindow[0], 1);
  EXPECT_FLOAT_EQ(server.GetRecentLoad(), 16);
}

namespace {
struct CountingStarter : IServerCheckStarter {
  int calls = 0;
  TServerCluster* last = nullptr;
  void StartServerChecks(const std::shared_ptr<TServerCluster>& cluster, TServerCheckWaitList*) override {
    ++calls;
    last = cluster.get();
  }
};
struct StarterScope {
  explicit StarterScope(IServerCheckStarter* s) { SetServerCheckStarter(s); }
  ~StarterScope() { SetServerCheckStarter(nullptr); }
};
}  // namespace

TEST(LoadBalancingTick, ScheduleStepsAroundEachThreshold) {
  struct Case {
    const char* name;
    int period;    // LoadAveragingPeriod
    int interval;  // FailoverCheckInterval
    bool enabled;
    double secondsAfterFirst;
    bool shifted, checked, expired;
  } cases[] = {
      {"windows: 49 s", 300, 1000, true, 49, false, false, false},
      {"windows: 51 s", 300, 1000, true, 51, true, false, false},
      {"period below 6: every tick", 5, 1000, true, 1, true, false, false},
      {"checks: 4 s", 6000, 5, true, 4, false, false, false},
      {"checks: 6 s", 6000, 5, true, 6, false, true, false},
      {"expiry: 59 s", 6000, 1000, true, 59, false, false, false},
      {"expiry: 61 s", 6000, 1000, true, 61, false, false, true},
      {"disabled: expires only", 5, 1, false, 61, false, false, true},
  };
  for (const Case& c : cases) {
    ScopedManualClock clock(45000.0);
    CountingStarter starter;
    StarterScope scope(&starter);
    ClusterFixture f;
    TServer& s = f.AddServer({1});
    f.cluster->LoadAveragingPeriod = c.period;
    f.cluster->FailoverCheckInterval = c.interval;
    f.cluster->SetEnabled(c.enabled);
    f.cluster->ConnectionTimeout = 10;

    f.cluster->Tick();  // the first tick does everything the cluster's state allows
    EXPECT_EQ(starter.calls, c.enabled ? 1 : 0) << c.name;
    EXPECT_DOUBLE_EQ(f.cluster->LastExpiry, 45000.0) << c.name;
    if (c.enabled) {
      EXPECT_EQ(starter.last, f.cluster.get());
    }

    s.LoadWindow[0] = 7;
    uint8_t status = 0;
    f.cluster->GetServerForClient(1, status);  // an entry that is old by the time of the pass
    clock.clock().SetNow(45000.0 + c.secondsAfterFirst * Second);
    f.cluster->Tick();
    EXPECT_EQ(s.LoadWindow[0] == 0, c.shifted) << c.name;
    EXPECT_EQ(starter.calls, (c.enabled ? 1 : 0) + (c.checked ? 1 : 0)) << c.name;
    EXPECT_EQ(f.cluster->Connections.GetCount(), c.expired ? 0 : 1) << c.name;
  }
}

TEST(LoadBalancingTick, ExpiryBoundaryAndChecksWithoutStarter) {
  ScopedManualClock clock(45000.0);
  ClusterFixture f;
  f.AddServer({1});
  f.cluster->ConnectionTimeout = 100;
  for (int32_t key : {1, 2}) {
    auto e = std::make_unique<TLoadBalancedConnection>();
    e->ClientKey = key;
    e->LastUse = 45000.0 - (key == 1 ? 99 : 101) * Second;
    f.cluster->Connections.Add(std::move(e));
  }
  f.cluster->RemoveExpiredConnections(-1);
  EXPECT_NE(f.cluster->Connections.Find(1), nullptr);
  EXPECT_EQ(f.cluster->Connections.Find(2), nullptr);
  f.cluster->StartServerChecks(nullptr);  // no starter installed: nothing happens
  TServerCluster scratch;
  CountingStarter starter;
  StarterScope scope(&starter);
  scratch.StartServerChecks(nullptr);
  EXPECT_EQ(starter.calls, 0) << "a cluster outside any configuration is never checked";
}

// -------------------------------------------------------------- stored records

TEST(LoadBalancingRecords, RoundTripKeepsEveryField) {
  TServerClusterList list;
  auto c = list.Add();
  c->Name = "Web farm";
  c->Enabled = false;
  c->ConnectionTimeout = 0;  // kept as stored: affinity effectively off
  c->ClusterKey = 0x01020304;
  c->MaxFailBeforeOffline = 3;
  c->FailoverCheckInterval = 9;
  c->LoadAveragingPeriod = 120;
  c->UserAgent = "probe";
  c->HostName = "h.example";
  c->Document = "/ping";
  c->VerifyMethod = 1;
  c->SessionMethod = 2;
  auto s = TServer::Create(*c);
  s->ServerName = "one";
  s->ServerAddress = "10.1.1.1";
  s->ServerPort = 8080;
  s->Capacity = 2.5f;
  s->Enabled = true;
  s->AutoActivate = false;
  TServer::Create(*c)->ServerName = "two";
  EXPECT_EQ(c->FLastUniqueServerKey, 2);

  StreamWriter w;
  list.SaveToStream(w);
  StreamReader r(w.Bytes());
  TServerClusterList loaded;
  loaded.LoadFromStream(r);
  EXPECT_EQ(r.Remaining(), 0u);
  ASSERT_EQ(loaded.Count(), 1);
  const TServerCluster& l = *loaded.GetCluster(0);
  EXPECT_EQ(l.Name, "Web farm");
  EXPECT_FALSE(l.Enabled);
  EXPECT_EQ(l.ConnectionTimeout, 0);
  EXPECT_EQ(l.ClusterKey, 0x01020304);
  EXPECT_EQ(l.MaxFailBeforeOffline, 3);
  EXPECT_EQ(l.FailoverCheckInterval, 9);
  EXPECT_EQ(l.LoadAveragingPeriod, 120);
  EXPECT_EQ(l.UserAgent, "probe");
  EXPECT_EQ(l.HostName, "h.example");
  EXPECT_EQ(l.Document, "/ping");
  EXPECT_EQ(l.VerifyMethod, 1);
  EXPECT_EQ(l.SessionMethod, 2);
  EXPECT_EQ(l.FLastUniqueServerKey, 2);
  EXPECT_FALSE(l.Loading);
  EXPECT_EQ(l.OwnerList, &loaded);
  ASSERT_EQ(l.Servers.Count(), 2);
  const TServer& ls = *l.Servers.GetServer(0);
  EXPECT_EQ(ls.ServerName, "one");
  EXPECT_EQ(ls.ServerAddress, "10.1.1.1");
  EXPECT_EQ(ls.ServerPort, 8080);
  EXPECT_FLOAT_EQ(ls.Capacity, 2.5f);
  EXPECT_TRUE(ls.Enabled);
  EXPECT_FALSE(ls.AutoActivate);
  EXPECT_EQ(ls.UniqueServerKey, 1);
  EXPECT_EQ(ls.Cluster, &l);
  EXPECT_EQ(l.Servers.GetServer(1)->UniqueServerKey, 2);

  StreamWriter again;
  loaded.SaveToStream(again);
  EXPECT_EQ(again.Bytes(), w.Bytes());
}

TEST(LoadBalancingRecords, ServerRecordGoldenBytes) {
  TServer s(nullptr);
  s.ServerName = "A";
  s.ServerAddress = "b";
  s.ServerPort = 80;
  s.Capacity = 1;
  s.Enabled = true;
  s.UniqueServerKey = 7;
  StreamWriter w;
  s.SaveToStream(w);
  EXPECT_EQ(Hex(w.Bytes()), "03000000" "0100000041" "0100000062" "50000000" "0000803f" "01" "0700" "01");
}

TEST(LoadBalancingRecords, OlderVersionsKeepDefaults) {
  RandSeed(7);
  // Cluster version 2 with one server of version 0 and one of version 2.
  StreamWriter w;
  w.WriteInteger(1);  // list count
  w.WriteInteger(2);  // cluster version
  w.WriteString("old");
  w.WriteBoolean(true);
  w.WriteInteger(600);
  w.WriteInteger(2);  // servers
  w.WriteInteger(0);  // server version 0: no key, no AutoActivate
  w.WriteString("s0");
  w.WriteString("h0");
  w.WriteInteger(81);
  w.WriteSingle(1);
  w.WriteBoolean(true);
  w.WriteInteger(2);  // server version 2: key, no AutoActivate
  w.WriteString("s1");
  w.WriteString("h1");
  w.WriteInteger(82);
  w.WriteSingle(-2);  // stored as read
  w.WriteBoolean(false);
  w.WriteWord(40);
  w.WriteWord(50);  // FLastUniqueServerKey
  StreamReader r(w.Bytes());
  TServerClusterList list;
  list.LoadFromStream(r);
  EXPECT_EQ(r.Remaining(), 0u);
  const TServerCluster& c = *list.GetCluster(0);
  EXPECT_EQ(c.ConnectionTimeout, 600);
  EXPECT_GE(c.ClusterKey, 0);  // a new random key
  EXPECT_EQ(c.MaxFailBeforeOffline, 1);
  EXPECT_EQ(c.FailoverCheckInterval, 5);
  EXPECT_EQ(c.LoadAveragingPeriod, 300);
  EXPECT_EQ(c.UserAgent, "Mozilla/4.0 (compatible; MSIE 6.0)");
  EXPECT_EQ(c.HostName, "yourHost");
  EXPECT_EQ(c.Document, "/");
  EXPECT_EQ(c.SessionMethod, 0);
  EXPECT_EQ(c.Servers.GetServer(0)->UniqueServerKey, 1) << "a forced key from the counter";
  EXPECT_TRUE(c.Servers.GetServer(0)->AutoActivate);
  EXPECT_EQ(c.Servers.GetServer(1)->UniqueServerKey, 40);
  EXPECT_FLOAT_EQ(c.Servers.GetServer(1)->Capacity, -2);
  EXPECT_TRUE(c.Servers.GetServer(1)->AutoActivate);
  EXPECT_EQ(c.FLastUniqueServerKey, 50);

  // Version 0 cluster: the time-out stays 1800.
  StreamWriter v0;
  v0.WriteInteger(0);
  v0.WriteString("v0");
  v0.WriteBoolean(true);
  v0.WriteInteger(0);
  StreamReader r0(v0.Bytes());
  TServerCluster c0;
  c0.LoadFromStream(r0);
  EXPECT_EQ(c0.ConnectionTimeout, 1800);
}

TEST(LoadBalancingRecords, BadCountsAndCutRecordsRaise) {
  StreamWriter w;
  w.WriteInteger(1000000);  // more clusters than bytes
  StreamReader r(w.Bytes());
  TServerClusterList list;
  EXPECT_THROW(list.LoadFromStream(r), EReadError);

  TServerClusterList good;
  auto c = good.Add();
  TServer::Create(*c);
  StreamWriter full;
  good.SaveToStream(full);
  for (size_t cut : {size_t(3), size_t(20), full.Size() - 1}) {
    std::vector<uint8_t> bytes(full.Bytes().begin(), full.Bytes().begin() + cut);
    StreamReader rc(bytes);
    TServerClusterList l;
    EXPECT_THROW(l.LoadFromStream(rc), EReadError) << cut;
    for (const auto& cl : l) EXPECT_FALSE(cl->Loading) << "Loading ends also when reading fails";
  }
}

TEST(LoadBalancingRecords, ServerKeysWhileLoadingAndAfterWrap) {
  TServerCluster c;
  c.Loading = true;
  EXPECT_EQ(c.NextUniqueServerKey(false), 0);
  EXPECT_EQ(c.FLastUniqueServerKey, 0);
  EXPECT_EQ(c.NextUniqueServerKey(true), 1);
  c.Loading = false;

  auto cluster = std::make_shared<TServerCluster>();
  cluster->FLastUniqueServerKey = 65533;
  auto a = TServer::Create(*cluster);  // 65534
  EXPECT_EQ(a->UniqueServerKey, 65534);
  cluster->FLastUniqueServerKey = 0;
  auto b = TServer::Create(*cluster);  // 1
  cluster->FLastUniqueServerKey = 65535;
  std::vector<std::string> lines;
  GlobalLogger->SetOnLog([&](const std::string& line) { lines.push_back(line); });
  auto d = TServer::Create(*cluster);  // wraps to 1, which b holds: 2
  GlobalLogger->SetOnLog(nullptr);
  EXPECT_EQ(b->UniqueServerKey, 1);
  EXPECT_EQ(d->UniqueServerKey, 2);
  EXPECT_EQ(lines, std::vector<std::string>{"Wrn-FLastUniqueServerKey reset to 1. Old value was 65535"});
}

// -------------------------------------------------------------- affinity file

TEST(LoadBalancingAffinityFile, GoldenBytes) {
  TPackedConnectionList list;
  list.Items.push_back({0x01020304, IPToInt("10.0.0.1"), 7, 45658.5});
  StreamWriter w;
  list.SaveToStream(w);
  EXPECT_EQ(Hex(w.Bytes()), "01000000" "01000000" "02000000" "04030201" "0a000001" "0700" "805a3247");
}

TEST(LoadBalancingAffinityFile, RoundTripRestoresAvailableEntriesOnly) {
  TempDir dir;
  const std::string file = dir.File("data/lbconnections.bin");
  const TDateTime base = 45658.5;
  ScopedManualClock clock(base);

  TServerClusterList live;
  auto c = live.Add();
  c->ClusterKey = 11;
  auto on = TServer::Create(*c);
  on->Enabled = true;
  on->Capacity = 1;
  auto off = TServer::Create(*c);
  off->Enabled = true;
  off->Capacity = 1;
  auto drain = TServer::Create(*c);
  drain->Enabled = true;
  drain->Capacity = 1;
  auto add = [&](int32_t key, TServer* s, double offsetSeconds) {
    auto e = std::make_unique<TLoadBalancedConnection>();
    e->ClientKey = key;
    e->SetServer(s);
    e->LastUse = base + offsetSeconds * Second;
    c->Connections.Add(std::move(e));
  };
  add(1, on.get(), 100);   // comes back rounded down to the 337.5 s step
  add(2, on.get(), 200);   // comes back rounded up
  add(3, off.get(), 0);
  add(4, drain.get(), 0);
  add(5, nullptr, 0);
  off->Online = false;
  drain->Enabled = false;
  live.SaveConnectionsToFile(file);
  EXPECT_FALSE(FileExists(file + ".tmp"));
  EXPECT_EQ(ReadBytes(file).size(), 8u + 2 * 18);

  StreamWriter settings;
  live.SaveToStream(settings);
  StreamReader r(settings.Bytes());
  TServerClusterList restarted;
  restarted.LoadFromStream(r);
  restarted.LoadConnectionsFromFile(file);
  const TServerCluster& rc = *restarted.GetCluster(0);
  EXPECT_EQ(rc.Connections.GetCount(), 2);
  ASSERT_NE(rc.Connections.Find(1), nullptr);
  ASSERT_NE(rc.Connections.Find(2), nullptr);
  EXPECT_EQ(rc.Connections.Find(1)->Server(), rc.Servers.GetServer(0).get());
  EXPECT_NEAR((rc.Connections.Find(1)->LastUse - base) * 86400, 0, 0.01);
  EXPECT_NEAR((rc.Connections.Find(2)->LastUse - base) * 86400, 337.5, 0.01);
  EXPECT_EQ(rc.Servers.GetServer(0)->ActiveSessions, 2);

  // A missing file is no error and restores nothing.
  TServerClusterList fresh;
  EXPECT_NO_THROW(fresh.LoadConnectionsFromFile(dir.File("none.bin")));
}

TEST(LoadBalancingAffinityFile, BadFilesRaiseAndRestoreNothing) {
  TempDir dir;
  ScopedManualClock clock(45000.0);
  TServerClusterList list;
  auto c = list.Add();
  c->ClusterKey = 5;
  TServer::Create(*c)->UniqueServerKey = 1;

  TPackedConnectionList packed;
  packed.Items.push_back({5, 100, 1, 45000.0});
  packed.Items.push_back({5, 101, 1, 45000.0});
  StreamWriter w;
  packed.SaveToStream(w);
  const std::vector<uint8_t> good = w.Bytes();

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"cut inside the second entry", std::vector<uint8_t>(good.begin(), good.end() - 3)});
  cases.push_back({"cut inside the head", std::vector<uint8_t>(good.begin(), good.begin() + 6)});
  auto bigCount = good;
  bigCount[4] = 0xff;  // 255 entries announced, two present
  cases.push_back({"count beyond the file", bigCount});
  auto negative = good;
  std::memset(&negative[4], 0xff, 4);
  cases.push_back({"negative count", negative});
  for (const Case& bad : cases) {
    const std::string file = dir.File("bad.bin");
    WriteBytes(file, bad.bytes);
    EXPECT_THROW(list.LoadConnectionsFromFile(file), EReadError) << bad.name;
    EXPECT_EQ(c->Connections.GetCount(), 0) << bad.name;
  }
}

TEST(LoadBalancingAffinityFile, OldEntriesUnknownKeysAndDuplicates) {
  ScopedManualClock clock(45000.0);
  TServerClusterList list;
  auto c = list.Add();
  c->ClusterKey = 5;
  auto s = TServer::Create(*c);
  auto other = TServer::Create(*c);

  StreamWriter w;
  w.WriteInteger(1);
  w.WriteInteger(5);
  auto entry = [&](int32_t version, int32_t cluster, int32_t client, uint16_t server, float lastUse) {
    w.WriteInteger(version);
    w.WriteInteger(cluster);
    w.WriteInteger(client);
    w.WriteWord(server);
    if (version >= 2) w.WriteSingle(lastUse);
  };
  entry(1, 5, 100, s->UniqueServerKey, 0);          // no LastUse: the time of loading
  entry(2, 6, 101, s->UniqueServerKey, 44000);      // unknown cluster
  entry(2, 5, 102, 999, 44000);                     // unknown server
  entry(2, 5, 103, s->UniqueServerKey, 44000);
  entry(2, 5, 103, other->UniqueServerKey, 44000);  // the same key again: the first wins
  StreamReader r(w.Bytes());
  TPackedConnectionList packed;
  packed.LoadFromStream(r);
  ASSERT_EQ(packed.Count(), 5);
  list.RestoreConnections(&packed);
  EXPECT_EQ(c->Connections.GetCount(), 2);
  EXPECT_DOUBLE_EQ(c->Connections.Find(100)->LastUse, 45000.0);
  EXPECT_EQ(c->Connections.Find(103)->Server(), s.get());
  EXPECT_EQ(s->ActiveSessions, 2);
  EXPECT_EQ(other->ActiveSessions, 0) << "a skipped duplicate counts no session";
  EXPECT_THROW(list.RestoreConnections(nullptr), EAssertionFailed);
}

// ---------------------------------------------------------------------- reload

namespace {
// Builds the next configuration from the settings of Old, without the server
// of key DropKey, as a reload from the settings file would.
std::unique_ptr<TServerClusterList> Reloaded(const TServerClusterList& old, uint16_t dropKey) {
  StreamWriter w;
  old.SaveToStream(w);
  StreamReader r(w.Bytes());
  auto next = std::make_unique<TServerClusterList>();
  next->LoadFromStream(r);
  for (const auto& cluster : *next)
    if (TServer* s = cluster->Servers.FindByKey(dropKey)) cluster->RemoveServer(s);
  return next;
}
}  // namespace

TEST(LoadBalancingReload, StateCarriesOverAndRemovedServersRetire) {
  ScopedManualClock clock(45000.0);
  auto live = std::make_unique<TServerClusterList>();
  auto c = live->Add();
  for (int i = 0; i < 2; ++i) {
    auto s = TServer::Create(*c);
    s->Enabled = true;
    s->Capacity = 1;
  }
  std::shared_ptr<TServer> a = c->Servers.GetServer(0);
  std::shared_ptr<TServer> b = c->Servers.GetServer(1);
  uint8_t status = 0;
  for (int32_t key = 1; key <= 4; ++key) c->GetServerForClient(key, status);  // 1,3 on a; 2,4 on b
  a->Online = false;
  a->SetLastMessage("down");
  a->Stats->AddBytes(500);
  b->Stats->AddBytes(700);
  b->LoadWindow[3] = 9;
  b->FConsecutiveFailedOnlineChecks = 2;
  c->LastWindowShift = 44999.0;
  // A client thread is connected to b and keeps the record across the reload.
  std::shared_ptr<TServer> held = b;
  held->OnBackendConnected();
  const int32_t bTotalSessions = b->TotalSessions;

  auto next = Reloaded(*live, a->UniqueServerKey);
  next->TakeStateFrom(*live);
  live.reset();  // the old configuration goes
  c.reset();

  EXPECT_TRUE(a->Retired);
  EXPECT_TRUE(b->Retired);
  const TServerCluster& nc = *next->GetCluster(0);
  ASSERT_EQ(nc.Servers.Count(), 1);
  TServer& nb = *nc.Servers.GetServer(0);
  EXPECT_FALSE(nb.Retired);
  EXPECT_EQ(nc.Connections.GetCount(), 2) << "entries on b come back, those on the offline a do not";
  EXPECT_EQ(nc.Connections.Find(2)->Server(), &nb);
  EXPECT_EQ(nb.ActiveSessions, 2);
  EXPECT_EQ(nb.TotalSessions, bTotalSessions);
  EXPECT_EQ(nb.LoadWindow[3], 9);
  EXPECT_EQ(nb.FConsecutiveFailedOnlineChecks, 2);
  EXPECT_EQ(nb.Stats, held->Stats) << "the counters go on in one record";
  EXPECT_EQ(nb.Stats->Bytes, 700);
  EXPECT_DOUBLE_EQ(nc.LastWindowShift, 44999.0);

  // The connection opened before the reload closes on the record it was opened for.
  held->OnBackendDisconnected();
  EXPECT_EQ(held->LiveConnections, 0);
  EXPECT_EQ(nb.LiveConnections, 0);
  held->Stats->AddBytes(1);
  EXPECT_EQ(nb.Stats->Bytes, 701);
}

TEST(LoadBalancingReload, CopyServerStatsMatchesByKeys) {
  TServerClusterList live;
  auto c = live.Add();
  auto s = TServer::Create(*c);
  s->Online = false;
  s->Responding = true;
  s->LoadWindow[5] = 4;
  s->SetLastMessage("why");
  s->TotalRequests = 10;
  auto copy = Reloaded(live, 0);
  copy->GetCluster(0)->ClusterKey ^= 1;
  copy->CopyServerStats(live);
  EXPECT_TRUE(copy->GetCluster(0)->Servers.GetServer(0)->Online) << "another cluster key: nothing copied";
  copy->GetCluster(0)->ClusterKey ^= 1;
  copy->CopyServerStats(live);
  const TServer& cs = *copy->GetCluster(0)->Servers.GetServer(0);
  EXPECT_FALSE(cs.Online);
  EXPECT_TRUE(cs.Responding);
  EXPECT_EQ(cs.LoadWindow[5], 4);
  EXPECT_EQ(cs.GetLastMessage(), "why");
  EXPECT_EQ(cs.TotalRequests, 0) << "only the health and load state is copied";
  EXPECT_NE(cs.Stats, s->Stats);
}

TEST(LoadBalancingReload, BackendConnectionsCountOnTheirOwnServer) {
  ScopedManualClock clock;
  ClusterFixture f;
  TServer& a = f.AddServer({0});
  TServer& b = f.AddServer({0, true, true, 1});
  a.Stats->AddResponseTime(40);
  b.Stats->AddResponseTime(60);
  // One kept-alive client connection moving between two spares: each back-end
  // connection is closed on the record it was opened for.
  std::shared_ptr<TServer> open;
  for (int request = 0; request < 6; ++request) {
    std::shared_ptr<TServer> chosen;
    uint8_t status = 0;
    int32_t port = 0;
    std::string host;
    f.cluster->GetServer(42, chosen, status, port, host);
    ASSERT_NE(chosen, nullptr);
    if (chosen != open) {
      if (open) open->OnBackendDisconnected();
      open = chosen;
      open->OnBackendConnected();
    }
  }
  open->OnBackendDisconnected();
  EXPECT_EQ(a.LiveConnections, 0);
  EXPECT_EQ(b.LiveConnections, 0);
  EXPECT_EQ(a.Stats->ResponseCount, 0) << "the last connection closing resets the response times";
  a.OnBackendDisconnected();
  EXPECT_EQ(a.LiveConnections, 0) << "never below 0";
}
