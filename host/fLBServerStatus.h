// The load-balancing status window. First its texts: one row per cluster and per
// server, and the details of the selected server. Pure functions over the
// configuration's records, so the window only compares and writes.
//
// Every function here reads a live configuration: the caller holds its read
// lock, and passes only clusters and servers of that configuration.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TServer;
class TServerCluster;
class TServerClusterList;

// Images of the status list.
enum TLBImage : int { lbiOnline = 0, lbiOffline = 1, lbiFailed = 2, lbiDisabled = 3 };

// Sub-items of a server row, after the caption.
inline constexpr int LBServerSubItems = 5;

struct TLBRow {
  std::string Caption;
  int ImageIndex = lbiOnline;
  // A cluster row: the status alone. A server row: status, KB/s, requests per
  // second, client connections, the load window.
  std::vector<std::string> SubItems;
  // The row's server, none for a cluster row. Shared, so that a row of a
  // server a reload took out still points at a live object; the details pane
  // reads it only while it is part of the live configuration.
  std::shared_ptr<TServer> Server;

  const std::string& Status() const;
  bool operator==(const TLBRow&) const = default;
};

TLBRow ClusterRowText(const TServerCluster& cluster);
TLBRow ServerRowText(const TServerCluster& cluster, const std::shared_ptr<TServer>& server);
// Each cluster's row followed by its servers' rows, in configuration order.
std::vector<TLBRow> LBStatusRows(const TServerClusterList& clusters);

// The cluster of the live list that holds Server, or none when a reload took
// the server out (or is about to retire it).
TServerCluster* FindLiveCluster(const TServerClusterList& clusters, const TServer* server);

// "%2.1f (%2.1f%%)": Part and its share of Total; "(none)" when Total is not
// above 0.
std::string ShareText(float part, float total);

struct TLBServerDetails {
  std::string Caption = "Server Details : (none)";
  std::string ActiveSessions = "(none)";
  std::string TotalSessions = "(none)";
  std::string TotalRequests = "(none)";
  std::string LastNewSession = "(none)";
  std::string LastNewRequest = "(none)";
  std::string Status = "(none)";
  std::string Capacity = "(none)";
  std::string Load = "(none)";

  bool operator==(const TLBServerDetails&) const = default;
};

// The details of Server of Cluster; RowStatus is the status text its row shows.
TLBServerDetails ServerDetailsText(const TServerCluster& cluster, const TServer& server,
                                   const std::string& rowStatus);
