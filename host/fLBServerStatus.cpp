#include "host/fLBServerStatus.h"

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
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

// ------------------------------------------------------------ the window

TfrmLBServerStatus* frmLBServerStatus = nullptr;

namespace {

// Pictures of the status list, in TLBImage order.
const std::vector<std::string> kStatusImages = {"on", "off", "fail", "dis"};

TLabel* AddLabel(TForm* form, TWinControl* parent, const std::string& caption, int left, int top, bool value) {
  auto* label = new TLabel(form, parent);
  label->SetCaption(caption);
  label->Bold = value;
  label->SetBounds(left, top, value ? 130 : 100, 13);
  return label;
}

}  // namespace

TfrmLBServerStatus::TfrmLBServerStatus(TComponent* owner, TLiveConfiguration live)
    : TForm(owner), live_(std::move(live)) {
  Name = "frmLBServerStatus";
  SetCaption("Load Balancing Server Status");
  SetBounds(0, 0, 766, 300);
  BorderStyle = TBorderStyle::bsSingle;
  Center();

  ImageList1 = new TImageList(this);
  ImageList1->Images = kStatusImages;

  lvLB = new TListView(this, this);
  lvLB->Name = "lvLB";
  lvLB->SetBounds(0, 0, 766, 180);
  lvLB->SmallImages = ImageList1;
  lvLB->Columns = {{"Name", 120}, {"Status", 766 - 120 - 70 - 60 - 100 - 150}, {"KB/s", 70},
                   {"Reg/s", 60},  {"Client connections", 100},                {"Historic requests", 150}};
  lvLB->OnClick = [this](TControl& c) { lvLBClick(c); };

  GroupBox_ServerDetails = new TGroupBox(this, this);
  GroupBox_ServerDetails->Name = "GroupBox_ServerDetails";
  GroupBox_ServerDetails->SetCaption("Server Details : (none)");
  GroupBox_ServerDetails->SetBounds(0, 184, 660, 112);
  const struct {
    const char* caption;
    TLabel** value;
  } labels[] = {
      {"Active Sessions:", &lblActiveSessions}, {"Total Sessions:", &lblTotalSessions},
      {"Total Requests:", &lblTotalRequests},   {"Last New Session:", &lblLastNewSession},
      {"Last New Request:", &lblLastNewRequest}, {"Reported Status:", &lblStatus},
      {"Capacity:", &lblCapacity},              {"Load:", &lblLoad},
  };
  int i = 0;
  for (const auto& l : labels) {
    const int left = i < 4 ? 8 : 330;
    const int top = 16 + (i % 4) * 22;
    AddLabel(this, GroupBox_ServerDetails, l.caption, left, top, false);
    *l.value = AddLabel(this, GroupBox_ServerDetails, "(none)", left + 100, top, true);
    ++i;
  }

  Button_Close = new TButton(this, this);
  Button_Close->Name = "Button_Close";
  Button_Close->SetCaption("&Close");
  Button_Close->SetBounds(676, 268, 75, 25);
  Button_Close->OnClick = [this](TControl&) { Close(); };

  ActiveControl = lvLB;
  OnClose = [this](TForm& f, TCloseAction& a) { FormClose(f, a); };

  Timer1 = new TTimer(this);
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this](TTimer&) { RefreshList(); };
}

TfrmLBServerStatus::~TfrmLBServerStatus() {
  if (frmLBServerStatus == this) frmLBServerStatus = nullptr;
}

void TfrmLBServerStatus::FormClose(TForm&, TCloseAction& action) {
  action = TCloseAction::caFree;
  if (frmLBServerStatus == this) frmLBServerStatus = nullptr;
}

void TfrmLBServerStatus::lvLBClick(TControl&) { ShowServerDetails(); }

bool TfrmLBServerStatus::WriteRow(int index, TLBRow& row) {
  bool changed = false;
  if (index >= lvLB->Count()) {
    lvLB->Add();
    rowServers_.emplace_back();
    changed = true;
  }
  TListItem& item = lvLB->Item(index);
  if (item.Caption != row.Caption) {
    item.Caption = row.Caption;
    changed = true;
  }
  // A cluster row has exactly its status; a server row at least its five
  // cells.
  if (row.Server == nullptr ? item.SubItems.size() != row.SubItems.size()
                            : item.SubItems.size() < row.SubItems.size()) {
    item.SubItems.assign(row.SubItems.size(), std::string());
    changed = true;
  }
  for (size_t i = 0; i < row.SubItems.size(); ++i) {
    if (item.SubItems[i] != row.SubItems[i]) {
      item.SubItems[i] = std::move(row.SubItems[i]);
      changed = true;
    }
  }
  if (item.ImageIndex != row.ImageIndex) {
    item.ImageIndex = row.ImageIndex;
    changed = true;
  }
  item.Data = row.Server.get();
  rowServers_[static_cast<size_t>(index)] = std::move(row.Server);
  return changed;
}

void TfrmLBServerStatus::RefreshList() {
  TDomainHandler* handler = live_ ? live_() : nullptr;
  struct Suspended {
    TfrmLBServerStatus& form;
    explicit Suspended(TfrmLBServerStatus& f) : form(f) {
      form.refreshing_ = true;
      form.lvLB->BeginUpdate();
    }
    ~Suspended() {
      form.lvLB->EndUpdate();
      form.refreshing_ = false;
    }
  } suspended(*this);

  // Held over the details too: the rows' servers are then those of the
  // configuration the details read.
  std::unique_ptr<ReadLockGuard> lock;
  std::vector<TLBRow> rows;
  if (handler != nullptr) {
    lock = std::make_unique<ReadLockGuard>(handler->Synchronizer);
    rows = LBStatusRows(*handler->ServerClusters);
  }
  bool changed = false;
  int n = 0;
  for (TLBRow& row : rows) changed |= WriteRow(n++, row);
  while (lvLB->Count() > n) {
    lvLB->Delete(lvLB->Count() - 1);
    rowServers_.pop_back();
    changed = true;
  }
  if (changed) lvLB->Invalidate();
  ShowServerDetails();
}

void TfrmLBServerStatus::ShowServerDetails() {
  TLBServerDetails details;
  TDomainHandler* handler = live_ ? live_() : nullptr;
  const int index = lvLB->ItemIndex();
  if (handler != nullptr && index >= 0 && index < static_cast<int>(rowServers_.size()) &&
      rowServers_[static_cast<size_t>(index)] != nullptr) {
    ReadLockGuard lock(handler->Synchronizer);
    const TServer& server = *rowServers_[static_cast<size_t>(index)];
    TServerCluster* cluster = FindLiveCluster(*handler->ServerClusters, &server);
    if (cluster == nullptr && !refreshing_) {
      // A reload replaced the row's server: the rows are rebuilt from the
      // live configuration, which shows the details of the new selection.
      RefreshList();
      return;
    }
    if (cluster != nullptr) {
      const std::vector<std::string>& cells = lvLB->Item(index).SubItems;
      details = ServerDetailsText(*cluster, server, cells.empty() ? std::string() : cells[0]);
    }
  }
  WriteDetails(details);
}

void TfrmLBServerStatus::WriteDetails(const TLBServerDetails& d) {
  GroupBox_ServerDetails->SetCaption(d.Caption);
  lblActiveSessions->SetCaption(d.ActiveSessions);
  lblTotalSessions->SetCaption(d.TotalSessions);
  lblTotalRequests->SetCaption(d.TotalRequests);
  lblLastNewSession->SetCaption(d.LastNewSession);
  lblLastNewRequest->SetCaption(d.LastNewRequest);
  lblStatus->SetCaption(d.Status);
  lblCapacity->SetCaption(d.Capacity);
  lblLoad->SetCaption(d.Load);
}

void ShowLBServerStatus(TComponent* console, TLiveConfiguration live) {
  if (frmLBServerStatus == nullptr) {
    frmLBServerStatus = new TfrmLBServerStatus(console, std::move(live));
    frmLBServerStatus->RefreshList();
  }
  frmLBServerStatus->Show();
  frmLBServerStatus->BringToFront();
}
