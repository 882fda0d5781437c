#include <gtest/gtest.h>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "host/fLBServerStatus.h"
#include "platform/DateTime.h"

namespace {

struct ServerSpec {
  const char* name;
  bool enabled = true;
  bool online = true;
  int failed = 0;
  const char* message = "";
};

std::shared_ptr<TServerCluster> AddCluster(TServerClusterList& list, const char* name, bool enabled,
                                           std::initializer_list<ServerSpec> servers) {
  auto cluster = list.Add();
  cluster->Name = name;
  cluster->Enabled = enabled;
  cluster->MaxFailBeforeOffline = 3;
  cluster->LastCheck = EncodeDateTime(2026, 12, 10, 9, 5, 3, 0);
  for (const ServerSpec& spec : servers) {
    auto s = TServer::Create(*cluster);
    s->ServerName = spec.name;
    s->Enabled = spec.enabled;
    s->Online = spec.online;
    s->FConsecutiveFailedOnlineChecks = spec.failed;
    s->SetLastMessage(spec.message);
    s->Capacity = 1;
  }
  return cluster;
}

struct GoldenRow {
  const char* caption;
  int image;
  std::vector<std::string> subItems;
};

TEST(LBStatusRows, Golden) {
  TServerClusterList list;
  AddCluster(list, "Parked", false, {{"p1"}});
  auto main = AddCluster(list, "Main", true,
                         {{"off", false},
                          {"up", true, true, 0, "200 OK"},
                          {"shaky", true, true, 2, "timed out"},
                          {"down", true, false, 3, "refused"}});
  AddCluster(list, "Dark", true, {{"d1", true, false, 0, "refused"}});
  TServer& up = *main->Servers.GetServer(1);
  up.Stats->KBPerSecond = 1.5f;
  up.Stats->RequestsPerSecond = 12.25f;
  up.LiveConnections = 1234;
  up.LoadWindow[0] = 3;
  up.LoadWindow[1] = 2;
  up.LoadWindow[2] = 1;

  const std::string none = "    0.00";
  const std::vector<GoldenRow> expected = {
      {"Parked", lbiDisabled, {"Disabled"}},
      {"   p1", lbiDisabled, {"", "", "", "", ""}},
      {"Main", lbiOnline, {"Online (checked 09:05:03)"}},
      {"   off", lbiDisabled, {"   Server is disabled", none, none, "0", "0, 0, 0, 0, 0, 0"}},
      {"   up", lbiOnline, {"   Connected 200 OK", "    1.50", "   12.25", "1 234", "3, 2, 1, 0, 0, 0"}},
      {"   shaky",
       lbiFailed,
       {"   SERVER HAS FAILED check 2(out of 3) time(s): timed out", none, none, "0", "0, 0, 0, 0, 0, 0"}},
      {"   down", lbiOffline, {"   SERVER IS OFFLINE: refused", none, none, "0", "0, 0, 0, 0, 0, 0"}},
      {"Dark", lbiOffline, {"Offline (checked 09:05:03)"}},
      {"   d1", lbiOffline, {"   SERVER IS OFFLINE: refused", none, none, "0", "0, 0, 0, 0, 0, 0"}},
  };
  const std::vector<TLBRow> rows = LBStatusRows(list);
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(expected[i].caption);
    EXPECT_EQ(rows[i].Caption, expected[i].caption);
    EXPECT_EQ(rows[i].ImageIndex, expected[i].image);
    EXPECT_EQ(rows[i].SubItems, expected[i].subItems);
    EXPECT_EQ(rows[i].Server == nullptr, rows[i].SubItems.size() == 1);
  }
  EXPECT_EQ(rows[4].Server.get(), &up);
  EXPECT_EQ(rows[4].Status(), "   Connected 200 OK");
  EXPECT_TRUE(LBStatusRows(TServerClusterList()).empty());
}

TEST(LBStatusDetails, Table) {
  const TDateTime when = EncodeDateTime(2026, 12, 10, 9, 5, 3, 0);
  struct Row {
    const char* name;
    float capacities[4];
    int loads[4];
    bool withTimes;
    const char* capacity;
    const char* load;
    const char* lastSession;
  };
  const Row rows[] = {
      {"no capacity", {0, 0, 0, 0}, {0, 0, 0, 0}, false, "(none)", "(none)", "(none)"},
      {"one of four", {1, 1, 1, 1}, {1, 1, 1, 1}, true, "1.0 (25.0%)", "1.0 (25.0%)", "2026-12-10 09:05:03"},
      {"half", {2, 2, 0, 0}, {5, 0, 3, 2}, true, "2.0 (50.0%)", "5.0 (50.0%)", "2026-12-10 09:05:03"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TServerClusterList list;
    auto cluster = AddCluster(list, "C", true, {{"a"}, {"b"}, {"c"}, {"d"}});
    for (int i = 0; i < 4; ++i) {
      TServer& s = *cluster->Servers.GetServer(i);
      s.Capacity = r.capacities[i];
      s.LoadWindow[1] = r.loads[i];
    }
    TServer& a = *cluster->Servers.GetServer(0);
    a.ActiveSessions = 12;
    a.TotalSessions = 1234567;
    a.TotalRequests = 0;
    if (r.withTimes) {
      a.LastNewSession = when;
      a.LastNewRequest = when;
    }
    const TLBServerDetails d = ServerDetailsText(*cluster, a, "   Connected ok  ");
    EXPECT_EQ(d.Caption, "Server Details : a");
    EXPECT_EQ(d.ActiveSessions, "12");
    EXPECT_EQ(d.TotalSessions, "1 234 567");
    EXPECT_EQ(d.TotalRequests, "0");
    EXPECT_EQ(d.LastNewSession, r.lastSession);
    EXPECT_EQ(d.LastNewRequest, r.lastSession);
    EXPECT_EQ(d.Status, "Connected ok");
    EXPECT_EQ(d.Capacity, r.capacity);
    EXPECT_EQ(d.Load, r.load);
  }
  const TLBServerDetails none;
  EXPECT_EQ(none.Caption, "Server Details : (none)");
  EXPECT_EQ(none.Load, "(none)");
}

std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.Bytes();
}

// A row's server is read only while the live configuration holds it: a
// reload replaces every server record, and one a cluster edit removed is
// retired.
TEST(LBStatusDetails, OnlyServersOfTheLiveConfigurationAreFound) {
  TDomainHandler h;
  AddCluster(*h.ServerClusters, "A", true, {{"a1"}, {"a2"}});
  AddCluster(*h.ServerClusters, "B", true, {{"b1"}});
  std::shared_ptr<TServer> a2 = h.ServerClusters->GetCluster(0)->Servers.GetServer(1);
  std::shared_ptr<TServer> b1 = h.ServerClusters->GetCluster(1)->Servers.GetServer(0);
  EXPECT_EQ(FindLiveCluster(*h.ServerClusters, b1.get()), h.ServerClusters->GetCluster(1).get());
  EXPECT_EQ(FindLiveCluster(*h.ServerClusters, nullptr), nullptr);

  h.ServerClusters->GetCluster(0)->RemoveServer(a2.get());
  EXPECT_TRUE(a2->Retired);
  EXPECT_EQ(FindLiveCluster(*h.ServerClusters, a2.get()), nullptr);

  h.LoadFromStream(Save(h));
  EXPECT_EQ(FindLiveCluster(*h.ServerClusters, b1.get()), nullptr);
  EXPECT_EQ(FindLiveCluster(*h.ServerClusters, h.ServerClusters->GetCluster(1)->Servers.GetServer(0).get()),
            h.ServerClusters->GetCluster(1).get());
}

}  // namespace
