#include "host/fLBServerStatus.h"

#include "Common/Misc.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/DateTime.h"
#include "platform/SysUtils.h"

const std::string& TLBRow::Status() const {
  static const std::string none;
  return SubItems.empty() ? none : SubItems[0];
}

TLBRow ClusterRowText(const TServerCluster& cluster) {
  TLBRow row;
  row.Caption = cluster.Name;
  std::string status;
  if (!cluster.Enabled) {
    status = "Disabled";
    row.ImageIndex = lbiDisabled;
  } else if (cluster.HasAvailableServer()) {
    status = Format("Online (checked %s)", TimeToStr(cluster.LastCheck.load()));
    row.ImageIndex = lbiOnline;
  } else {
    status = Format("Offline (checked %s)", TimeToStr(cluster.LastCheck.load()));
    row.ImageIndex = lbiOffline;
  }
  row.SubItems.push_back(std::move(status));
  return row;
}

TLBRow ServerRowText(const TServerCluster& cluster, const std::shared_ptr<TServer>& server) {
  const TServer& s = *server;
  TLBRow row;
  row.Caption = "   " + s.ServerName;
  row.Server = server;
  if (!cluster.Enabled) {
    // The window leaves the image of a disabled cluster's servers open; they
    // take the cluster's own.
    row.ImageIndex = lbiDisabled;
    row.SubItems.assign(LBServerSubItems, std::string());
    return row;
  }
  const int32_t failed = s.FConsecutiveFailedOnlineChecks.load();
  std::string status;
  if (!s.Enabled) {
    status = "   Server is disabled";
    row.ImageIndex = lbiDisabled;
  } else if (s.Online && failed <= 0) {
    status = "   Connected " + s.GetLastMessage();
    row.ImageIndex = lbiOnline;
  } else if (s.Online) {
    status = Format("   SERVER HAS FAILED check %d(out of %d) time(s): %s", failed, cluster.MaxFailBeforeOffline.load(),
                    s.GetLastMessage());
    row.ImageIndex = lbiFailed;
  } else {
    status = Format("   SERVER IS OFFLINE: %s", s.GetLastMessage());
    row.ImageIndex = lbiOffline;
  }
  row.SubItems = {
      std::move(status),
      Format("%8.2f", s.GetTransferRate()),
      Format("%8.2f", s.GetRequestRate()),
      FormatThousands(s.LiveConnections.load()),
      Format("%d, %d, %d, %d, %d, %d", s.LoadWindow[0].load(), s.LoadWindow[1].load(), s.LoadWindow[2].load(),
             s.LoadWindow[3].load(), s.LoadWindow[4].load(), s.LoadWindow[5].load()),
  };
  return row;
}

std::vector<TLBRow> LBStatusRows(const TServerClusterList& clusters) {
  std::vector<TLBRow> rows;
  for (const auto& cluster : clusters) {
    rows.push_back(ClusterRowText(*cluster));
    for (const auto& server : cluster->Servers) rows.push_back(ServerRowText(*cluster, server));
  }
  return rows;
}

TServerCluster* FindLiveCluster(const TServerClusterList& clusters, const TServer* server) {
  if (server == nullptr || server->Retired) return nullptr;
  for (const auto& cluster : clusters)
    if (cluster->Servers.IndexOf(server) >= 0) return cluster.get();
  return nullptr;
}

std::string ShareText(float part, float total) {
  if (!(total > 0)) return "(none)";
  return Format("%2.1f (%2.1f%%)", part, part / total * 100.0);
}

TLBServerDetails ServerDetailsText(const TServerCluster& cluster, const TServer& server,
                                   const std::string& rowStatus) {
  TLBServerDetails d;
  d.Caption = Format("Server Details : %s", server.ServerName);
  d.ActiveSessions = FormatThousands(server.ActiveSessions.load());
  d.TotalSessions = FormatThousands(server.TotalSessions.load());
  d.TotalRequests = FormatThousands(server.TotalRequests.load());
  d.LastNewSession = DateTimeToStrDef("(none)", server.LastNewSession.load());
  d.LastNewRequest = DateTimeToStrDef("(none)", server.LastNewRequest.load());
  d.Status = Trim(rowStatus);
  d.Capacity = ShareText(server.Capacity.load(), cluster.GetTotalCapacity());
  d.Load = ShareText(server.GetRecentLoad(), cluster.GetTotalLoad());
  return d;
}
