#include "webadmin/fServerClusterEdit.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <tuple>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"
#include "webadmin/UserSession.h"
#include "webadmin/fServerClusters.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uIWMisc.h"
#include "webadmin/uPageLayout.h"

namespace {

constexpr int kColumns = 9;
const char* const ClusterHelpFile = "servercluster.htm";

// General decimal form of a capacity: up to 15 significant digits, no
// trailing zeros.
std::string CapacityText(float capacity) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(capacity), std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

// An empty (or blank) text is 0; anything else must be a number.
int32_t PortFromText(const std::string& text) { return Trim(text).empty() ? 0 : StrToInt(text); }

float CapacityFromText(const std::string& text) {
  if (Trim(text).empty()) return 0;
  const double v = StrToFloat(text);
  if (std::fabs(v) > FLT_MAX) throw EConvertError("'" + text + "' is not a valid floating point value");
  return static_cast<float>(v);
}

std::string EditText(web::Grid& grid, int row, int col) {
  auto* edit = dynamic_cast<web::Edit*>(grid.cell(row, col).control.get());
  return edit ? edit->text : std::string();
}

}  // namespace

TServerOnlineView ServerOnlineView(const TServer& server) {
  const bool online = server.Online;
  if (server.Enabled) {
    if (online) return {"StatusGreen.jpg", ""};
    if (server.Responding)
      return {"StatusOrange.jpg", "The server is online but has been offline and is not set to auto activate. "};
    return {"StatusRed.jpg", ""};
  }
  if (!online) return {"StatusRed.jpg", "The server is offline. "};
  if (server.Capacity > 0) return {"StatusGreen.jpg", "The server is online even if it's disabled. "};
  return {"StatusGray.jpg", "The server is disabled and the capacity is set to zero. "};
}

std::string MinutesLabel(int32_t seconds) { return Format("(= %f minutes)", seconds / 60.0); }

std::string FailOverLabel(const TServerCluster& cluster) {
  const int64_t seconds =
      (static_cast<int64_t>(cluster.MaxFailBeforeOffline.load()) + 1) * cluster.FailoverCheckInterval.load();
  return Format("(Fail Over Timeout = %d seconds)", seconds);
}

TfrmServerClusterEdit::TfrmServerClusterEdit(web::WebApplication& app)
    : TAdminPage(app, AdminPage::ServerClusterEdit) {
  CreateMenu();
  web::Region* rgn = CreateSettingsRegion(900);
  rgn->width = 760;
  IWURLHelp->left = 640;
  imgHeader = create<web::ImageFile>("imgHeader", rgn);
  imgHeader->fileName = "..\\Files\\hdServerClustersEdit.jpg";
  imgHeader->setBounds(0, 0, 420, 36);
  imgTitle = create<web::ImageFile>("imgTitle", rgn);
  imgTitle->fileName = "..\\Files\\vtwaServer_clusters.jpg";
  imgTitle->setBounds(0, 40, 420, 24);
  IWURLTutorials = CreateLink(this, rgn, "IWURLTutorials", "Tutorials", 690, 10, 60, "tutorials.htm");
  IWURLExample = CreateLink(this, rgn, "IWURLExample", "Example", 690, 30, 60, "example_servercluster.htm");

  TPageLayout row(this, rgn, 76);
  // The grey section headings; a help link beside some.
  const auto section = [&row](const char* caption) {
    web::Label* heading = row.Heading(caption);
    heading->font.color = web::Color::rgbValue(0x808080);
    return heading;
  };
  const auto helpBeside = [this, rgn](const char* name, const web::Label* heading) {
    return CreateLink(this, rgn, name, "Help", TPageLayout::ControlLeft, heading->top, 40, ClusterHelpFile);
  };
  web::Label* required = row.Caption("All fields are required fields!");
  required->width = 300;
  row.Skip(TPageLayout::RowHeight);
  row.Caption("Name:");
  edtServerClusterName = row.Field<web::Edit>("edtServerClusterName");
  row.Caption("Enabled:");
  chkServerClusterEnabled = row.Field<web::CheckBox>("chkServerClusterEnabled", 40);
  row.Caption("Session Timeout:");
  edtServerClusterConnectionTimeout = row.Field<web::Edit>("edtServerClusterConnectionTimeout", 80);
  lblTimeoutInMinutes = row.NoteBeside("lblTimeoutInMinutes", edtServerClusterConnectionTimeout, 200);
  row.Caption("Session method:");
  cbSessionMethod = row.Field<web::ComboBox>("cbSessionMethod");
  row.Caption("Load Averag. Period:");
  edtLoadAveragingPeriod = row.Field<web::Edit>("edtLoadAveragingPeriod", 80);
  lblLoadAPInMinutes = row.NoteBeside("lblLoadAPInMinutes", edtLoadAveragingPeriod, 200);

  IWURLHelp2 = helpBeside("IWURLHelp2", section("Failover settings"));
  row.Caption("Max Fail Before Offline:");
  edtMaxFailBeforeOffline = row.Field<web::Edit>("edtMaxFailBeforeOffline", 80);
  row.Caption("Failover Check Interval:");
  edtFailoverCheckInterval = row.Field<web::Edit>("edtFailoverCheckInterval", 80);
  lblFailOverInSeconds = row.NoteBeside("lblFailOverInSeconds", edtFailoverCheckInterval, 300);

  section("Failover Detection");
  row.Caption("Failover Verify Method:");
  cmbVerifyMethod = row.Field<web::ComboBox>("cmbVerifyMethod", 260);
  cmbVerifyMethod->addItem("Can open connection on port");
  cmbVerifyMethod->addItem("HTTP GET returns valid result code");
  cmbVerifyMethod->onChange = [this](web::Control& s) { cmbVerifyMethodChange(s); };
  lblHostName = row.Caption("Host Hame:", "lblHostName");
  edtHostName = row.Field<web::Edit>("edtHostName");
  lblDocument = row.Caption("Document:", "lblDocument");
  edtDocument = row.Field<web::Edit>("edtDocument");
  lblUserAgent = row.Caption("User Agent:", "lblUserAgent");
  edtUserAgent = row.Field<web::Edit>("edtUserAgent", 300);

  IWURLHelp3 = helpBeside("IWURLHelp3", section("Server list"));
  grdServers = create<web::Grid>("grdServers", rgn);
  grdServers->setBounds(TPageLayout::LabelLeft, row.Top(), 740, 60);
  grdServers->setColCount(kColumns);
  StyleListGrid(*grdServers);
  row.Skip(200);
  btnAddServer = create<web::Button>("btnAddServer", rgn);
  btnAddServer->caption = "Add server";
  btnAddServer->setBounds(TPageLayout::LabelLeft, row.Top(), 110, 24);
  btnAddServer->onClick = [this](web::Control& s) { btnAddServerClick(s); };
  row.Skip(TPageLayout::RowHeight + 10);
  std::tie(imgStatus, lblStatus) = row.StatusLine(600);
  btnSaveSettings = CreateSaveRow(row, [this](web::Control& s) { btnSaveSettingsClick(s); });
  // "Add server", the status line and the save row.
  KeepBelow(grdServers, {btnAddServer, imgStatus, lblStatus, btnSaveSettings, lblSaved});

  InitCommon();
  IWURLHelp->url = std::string(HelpBaseURL) + ClusterHelpFile;

  TUserSession* session = UserSession();
  if (TServerCluster* current = session->GetCurrentServerCluster()) {
    const TServerClusterList& clusters = *session->DomainHandler->ServerClusters;
    FCluster = clusters.GetCluster(clusters.IndexOf(current));
  }
  LoadControls();
}

TfrmServerClusterEdit::~TfrmServerClusterEdit() = default;

void TfrmServerClusterEdit::LoadControls() {
  FDomainHandler = UserSession()->DomainHandler.get();
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, FDomainHandler, imgStatus);
  cbSessionMethod->clear();
  for (const char* item : {"Peer IP Number", "Persistent Session Cookie", "Transient Session Cookie"})
    cbSessionMethod->addItem(item);
  if (!FCluster) return;
  const TServerCluster& c = *FCluster;
  edtServerClusterName->text = c.Name;
  chkServerClusterEnabled->checked = c.Enabled;
  edtServerClusterConnectionTimeout->text = IntToStr(c.ConnectionTimeout);
  edtLoadAveragingPeriod->text = IntToStr(c.LoadAveragingPeriod);
  edtMaxFailBeforeOffline->text = IntToStr(c.MaxFailBeforeOffline);
  edtFailoverCheckInterval->text = IntToStr(c.FailoverCheckInterval);
  cmbVerifyMethod->itemIndex = c.VerifyMethod < cmbVerifyMethod->items.size() ? c.VerifyMethod : -1;
  edtHostName->text = c.HostName;
  edtDocument->text = c.Document;
  edtUserAgent->text = c.UserAgent;
  cbSessionMethod->itemIndex = c.SessionMethod < cbSessionMethod->items.size() ? c.SessionMethod : -1;
  UpdateVerifyControls();
  RefreshPage();
}

void TfrmServerClusterEdit::UpdateVerifyControls() {
  const bool httpGet = FCluster && FCluster->VerifyMethod != 0;
  SetControlsEditable(httpGet, {edtHostName, edtDocument, edtUserAgent, lblHostName, lblDocument, lblUserAgent});
}

void TfrmServerClusterEdit::RefreshStatus() {
  if (FCluster) FChecker->CheckCluster(FCluster.get());
}

void TfrmServerClusterEdit::RefreshPage(bool copyLive) {
  BuildServersGrid(copyLive);
  RefreshStatus();
}

void TfrmServerClusterEdit::BuildServersGrid(bool copyLive) {
  ClearGrid(grdServers);
  if (!FCluster) return;
  TServerCluster& c = *FCluster;
  lblTimeoutInMinutes->caption = MinutesLabel(c.ConnectionTimeout);
  lblLoadAPInMinutes->caption = MinutesLabel(c.LoadAveragingPeriod);
  lblFailOverInSeconds->caption = FailOverLabel(c);
  grdServers->setRowCount(c.Servers.Count() + 1);
  const char* headers[kColumns] = {"&nbsp;On/Off&nbsp;",      "&nbsp;Online&nbsp;",   "&nbsp;Server name&nbsp;",
                                   "&nbsp;Server address&nbsp;", "&nbsp;Server port&nbsp;", "&nbsp;Capacity&nbsp;",
                                   "&nbsp;Capacity&nbsp;",    "&nbsp;AutoActivate&nbsp;", "&nbsp;Remove&nbsp;"};
  for (int col = 0; col < kColumns; ++col) grdServers->cell(0, col).text = headers[col];
  if (copyLive) CopyLiveStatistics(*FDomainHandler);
  const float total = c.GetTotalCapacity();

  for (int i = 0; i < c.Servers.Count(); ++i) {
    const TServer& s = *c.Servers.GetServer(i);
    const int row = i + 1;
    AddRowImage(*grdServers, row, 0, RowImage::OnOff, i, [this](web::Control& x) { imgOnOffClick(x); }, s.Enabled);

    const TServerOnlineView view = ServerOnlineView(s);
    auto online = std::make_unique<web::ImageFile>();
    online->fileName = view.image;
    online->hint = view.hintPrefix + s.GetLastMessage();
    online->width = online->height = 18;
    online->tag = i;
    grdServers->cell(row, 1).alignment = "center";
    grdServers->setCellControl(row, 1, std::move(online));

    struct {
      int col;
      int width;
      std::string text;
    } edits[] = {{2, 160, s.ServerName},
                 {3, 110, s.ServerAddress},
                 {4, 70, IntToStr(s.ServerPort)},
                 {5, 70, CapacityText(s.Capacity)}};
    for (const auto& e : edits) {
      auto edit = std::make_unique<web::Edit>();
      edit->text = e.text;
      edit->width = e.width;
      edit->height = 20;
      grdServers->setCellControl(row, e.col, std::move(edit));
    }

    web::GridCell& share = grdServers->cell(row, 6);
    share.alignment = "right";
    if (s.IsAvailable() && total != 0)
      share.text = web::HtmlEscape(" " + Format("%8.1f", static_cast<double>(s.Capacity) / total * 100) + " % ");

    auto autoActivate = std::make_unique<web::ImageFile>();
    autoActivate->fileName = s.AutoActivate ? "StatusGreen.jpg" : "StatusGray.jpg";
    autoActivate->width = autoActivate->height = 18;
    autoActivate->tag = i;
    autoActivate->onClick = [this](web::Control& x) { imgAutoActivateClick(x); };
    grdServers->cell(row, 7).alignment = "center";
    grdServers->setCellControl(row, 7, std::move(autoActivate));

    AddRowImage(*grdServers, row, 8, RowImage::Remove, i, [this](web::Control& x) { imgRemoveClick(x); }, true,
                ConfirmRemoveRestart);
  }
}

void TfrmServerClusterEdit::StoreControls(bool) {
  if (!FCluster) return;
  TServerCluster& c = *FCluster;
  // Every number first: a bad one leaves the copy as it was.
  const int32_t timeout = StrToInt(edtServerClusterConnectionTimeout->text);
  const int32_t averaging = StrToInt(edtLoadAveragingPeriod->text);
  const int32_t maxFail = StrToInt(edtMaxFailBeforeOffline->text);
  const int32_t interval = StrToInt(edtFailoverCheckInterval->text);
  struct ServerRow {
    TServer* server;
    std::string name, address;
    int32_t port;
    float capacity;
  };
  std::vector<ServerRow> rows;
  for (int row = grdServers->rowCount() - 1; row >= 1; --row) {
    if (row - 1 >= c.Servers.Count()) continue;
    rows.push_back({c.Servers.GetServer(row - 1).get(), EditText(*grdServers, row, 2), EditText(*grdServers, row, 3),
                    PortFromText(EditText(*grdServers, row, 4)), CapacityFromText(EditText(*grdServers, row, 5))});
  }

  c.SetEnabled(chkServerClusterEnabled->checked);
  c.Name = edtServerClusterName->text;
  c.SetConnectionTimeout(timeout);
  c.LoadAveragingPeriod = averaging;
  c.MaxFailBeforeOffline = maxFail;
  c.FailoverCheckInterval = interval;
  if (cmbVerifyMethod->itemIndex >= 0) c.VerifyMethod = static_cast<uint8_t>(cmbVerifyMethod->itemIndex);
  c.HostName = edtHostName->text;
  c.Document = edtDocument->text;
  c.UserAgent = edtUserAgent->text;
  if (cbSessionMethod->itemIndex >= 0) c.SessionMethod = static_cast<uint8_t>(cbSessionMethod->itemIndex);
  for (const ServerRow& r : rows) {
    r.server->ServerName = r.name;
    r.server->ServerAddress = r.address;
    r.server->ServerPort = r.port;
    r.server->SetCapacity(r.capacity);
  }
}

void TfrmServerClusterEdit::btnSaveSettingsClick(web::Control&) {
  if (!FCluster) return;
  StoreControls(true);
  UserSession()->SaveSettings();
  // Twice: each run checks every server and waits for the results.
  FDomainHandler->CheckIfLBServersAreOK();
  FDomainHandler->CheckIfLBServersAreOK();
  RefreshPage(false);
  lblSaved->visible = true;
}

// Nothing is saved; the navigation stores this page's edits first.
void TfrmServerClusterEdit::btnAddServerClick(web::Control&) {
  if (!FCluster) return;
  std::shared_ptr<TServer> server = TServer::Create(*FCluster);
  server->ServerName = "(New server)";
  server->ServerAddress = "";
  server->ServerPort = 0;
  server->SetCapacity(1);
  server->Enabled = true;
  ShowPage(AdminPage::ServerClusterEdit);
}

void TfrmServerClusterEdit::cmbVerifyMethodChange(web::Control&) {
  if (FCluster && cmbVerifyMethod->itemIndex >= 0)
    FCluster->VerifyMethod = static_cast<uint8_t>(cmbVerifyMethod->itemIndex);
  UpdateVerifyControls();
}

TServer* TfrmServerClusterEdit::RowServer(web::Control& sender) {
  const int i = RowIndex(sender);
  if (!FCluster || FCluster->Retired || i < 0 || i >= FCluster->Servers.Count()) return nullptr;
  return FCluster->Servers.GetServer(i).get();
}

// Row actions save the copy as last stored, not the page's unsaved edits.
void TfrmServerClusterEdit::SaveAfterRowAction() {
  UserSession()->SaveSettings();
  RefreshPage();
  lblSaved->visible = false;
}

void TfrmServerClusterEdit::imgOnOffClick(web::Control& sender) {
  if (TServer* s = RowServer(sender)) {
    s->Enabled = !s->Enabled;
    SaveAfterRowAction();
  }
}

void TfrmServerClusterEdit::imgAutoActivateClick(web::Control& sender) {
  if (TServer* s = RowServer(sender)) {
    s->AutoActivate = !s->AutoActivate;
    SaveAfterRowAction();
  }
}

// The server leaves the cluster and is retired: nothing uses it again.
void TfrmServerClusterEdit::imgRemoveClick(web::Control& sender) {
  if (TServer* s = RowServer(sender)) {
    FCluster->RemoveServer(s);
    SaveAfterRowAction();
  }
}
