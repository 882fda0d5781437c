// The load-balancing status window. First its texts: one row per cluster and per
// server, and the details of the selected server. Pure functions over the
// configuration's records, so the window only compares and writes.
//
// Every function here reads a live configuration: the caller holds its read
// lock, and passes only clusters and servers of that configuration.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/Forms.h"
#include "platform/desktop/StdCtrls.h"
#include "platform/desktop/Timer.h"

class TDomainHandler;
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

// The live configuration the monitoring windows read: asked anew each time,
// since the console may lose its engine; nullptr reads as an empty one.
using TLiveConfiguration = std::function<TDomainHandler*()>;

// The clusters and servers of the live configuration, refreshed every second,
// with the details of the selected server. Main thread only.
class TfrmLBServerStatus : public TForm {
 public:
  TfrmLBServerStatus(TComponent* owner, TLiveConfiguration live);
  ~TfrmLBServerStatus() override;

  TImageList* ImageList1 = nullptr;
  TListView* lvLB = nullptr;
  TGroupBox* GroupBox_ServerDetails = nullptr;
  TLabel *lblActiveSessions = nullptr, *lblTotalSessions = nullptr, *lblTotalRequests = nullptr,
         *lblLastNewSession = nullptr, *lblLastNewRequest = nullptr, *lblStatus = nullptr, *lblCapacity = nullptr,
         *lblLoad = nullptr;
  TButton* Button_Close = nullptr;
  TTimer* Timer1 = nullptr;

  // Rows reused in place under the configuration's read lock, then the
  // details of the selection.
  void RefreshList();
  // The selected server row's details, or "(none)". A row whose server a
  // reload took out refreshes the list first.
  void ShowServerDetails();

  void lvLBClick(TControl&);
  void FormClose(TForm&, TCloseAction& action);

 private:
  bool WriteRow(int index, TLBRow& row);
  void WriteDetails(const TLBServerDetails& details);

  TLiveConfiguration live_;
  // Each row's server (none for a cluster row), in row order; keeps the
  // record alive for the identity check even after a reload dropped it.
  std::vector<std::shared_ptr<TServer>> rowServers_;
  bool refreshing_ = false;
};

// The status window while it exists.
extern TfrmLBServerStatus* frmLBServerStatus;

// "L&B Status": creates the window once (owned by Console), fills it and
// shows it.
void ShowLBServerStatus(TComponent* console, TLiveConfiguration live);
