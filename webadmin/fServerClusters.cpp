#include "webadmin/fServerClusters.h"

#include <cmath>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uIWMisc.h"

int GetAvailableCapacityPercent(const TServerCluster& cluster) {
  double total = 0;
  double available = 0;
  for (const auto& s : cluster.Servers) {
    const double capacity = s->Capacity.load();
    total += capacity;
    if (s->Enabled && s->Responding) available += capacity;
  }
  if (total == 0) return 0;
  // nearbyint rounds halves to the even neighbour in the default mode.
  return static_cast<int>(std::nearbyint(available / total * 100));
}

void CopyLiveStatistics(TDomainHandler& copy) {
  TDomainHandler* live = EngineHooks::GetDomainHandler();
  if (live && live != &copy) copy.CopyStatisticsFrom(live);
}

TfrmServerCluster::TfrmServerCluster(web::WebApplication& app) : TAdminPage(app, AdminPage::ServerCluster) {
  CreateMenu();
  imgHeader = create<web::ImageFile>("imgHeader", this);
  imgHeader->fileName = "..\\Files\\hdServerClusters.jpg";
  imgHeader->setBounds(PageContentLeft, 0, 420, 36);
  imgTitle = create<web::ImageFile>("imgTitle", this);
  imgTitle->fileName = "..\\Files\\vtwaServer_clusters.jpg";
  imgTitle->setBounds(PageContentLeft, 40, 420, 24);
  CreateHelpLink(PageContentLeft + 640, 10);
  IWURLTutorials =
      CreateLink(this, this, "IWURLTutorials", "Tutorials", PageContentLeft + 690, 10, 60, "tutorials.htm");

  btnNewCluster = create<web::Button>("btnNewCluster", this);
  btnNewCluster->caption = "Create new cluster";
  btnNewCluster->setBounds(PageContentLeft, 76, 140, 24);
  btnNewCluster->onClick = [this](web::Control& s) { btnNewClusterClick(s); };

  grdServerClusters = create<web::Grid>("grdServerClusters", this);
  grdServerClusters->setBounds(PageContentLeft, 110, 740, 60);
  grdServerClusters->setColCount(7);
  StyleListGrid(*grdServerClusters);

  // Beside the button, as on the domain list: below the grid, the line
  // would be met by a long list.
  imgStatus = create<web::ImageFile>("imgStatus", this);
  imgStatus->setBounds(PageContentLeft + 160, 79, 18, 18);
  lblStatus = create<web::Label>("lblStatus", this);
  lblStatus->caption = "Settings look OK";
  lblStatus->setBounds(PageContentLeft + 184, 80, 600, 18);

  InitCommon();
  IWURLHelp->url = std::string(HelpBaseURL) + "serverclusters.htm";
  FDomainHandler = UserSession()->DomainHandler.get();
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, FDomainHandler, imgStatus);
  BuildGrid();
}

TfrmServerCluster::~TfrmServerCluster() = default;

void TfrmServerCluster::RefreshStatus() { FChecker->CheckClusters(); }

void TfrmServerCluster::BuildGrid() {
  ClearGrid(grdServerClusters);
  const TServerClusterList& clusters = *FDomainHandler->ServerClusters;
  grdServerClusters->setRowCount(clusters.Count() + 1);
  const char* headers[] = {"&nbsp;On/Off&nbsp;",         "&nbsp;Online&nbsp;",       "&nbsp;Capacity&nbsp;",
                           "&nbsp;Server cluster&nbsp;", "&nbsp;Server count&nbsp;", "&nbsp;Edit&nbsp;",
                           "&nbsp;Remove&nbsp;"};
  for (int c = 0; c < 7; ++c) grdServerClusters->cell(0, c).text = headers[c];
  CopyLiveStatistics(*FDomainHandler);

  for (int i = 0; i < clusters.Count(); ++i) {
    const TServerCluster& cluster = *clusters.GetCluster(i);
    const int row = i + 1;
    const int available = GetAvailableCapacityPercent(cluster);
    AddRowImage(*grdServerClusters, row, 0, RowImage::OnOff, i, [this](web::Control& s) { imgOnOffClick(s); },
                cluster.Enabled);

    auto online = std::make_unique<web::ImageFile>();
    if (!cluster.Enabled) {
      online->fileName = "StatusGray.jpg";
    } else if (!cluster.HasAvailableServer()) {
      online->fileName = "StatusRed.jpg";
    } else {
      online->fileName = available == 100 ? "StatusGreen.jpg" : "StatusOrange.jpg";
    }
    online->width = online->height = 18;
    online->tag = i;
    grdServerClusters->cell(row, 1).alignment = "center";
    grdServerClusters->setCellControl(row, 1, std::move(online));

    web::GridCell& capacity = grdServerClusters->cell(row, 2);
    capacity.text = "&nbsp;" + IntToStr(available) + "&nbsp;%&nbsp;";
    capacity.alignment = "center";
    web::GridCell& name = grdServerClusters->cell(row, 3);
    name.text = CellText(cluster.Name);
    name.width = 300;
    web::GridCell& count = grdServerClusters->cell(row, 4);
    count.text = CellText(IntToStr(cluster.Servers.Count()));
    count.alignment = "center";
    AddRowImage(*grdServerClusters, row, 5, RowImage::Edit, i, [this](web::Control& s) { imgEditClick(s); });
    AddRowImage(*grdServerClusters, row, 6, RowImage::Remove, i, [this](web::Control& s) { imgRemoveClick(s); },
                true, ConfirmRemoveRestart);
  }
  RefreshStatus();
}

TServerCluster* TfrmServerCluster::SelectRowCluster(web::Control& sender) {
  const int i = RowIndex(sender);
  if (i < 0) return nullptr;
  TUserSession* session = UserSession();
  session->ServerClusterIndex = i;
  return session->GetCurrentServerCluster();
}

void TfrmServerCluster::imgOnOffClick(web::Control& sender) {
  TServerCluster* cluster = SelectRowCluster(sender);
  if (!cluster) return;
  cluster->SetEnabled(!cluster->Enabled);
  UserSession()->SaveSettings();
  BuildGrid();
}

void TfrmServerCluster::imgEditClick(web::Control& sender) {
  if (SelectRowCluster(sender)) ShowPage(AdminPage::ServerClusterEdit);
}

// The copy's domains and paths that used the cluster lose it; the
// session's index stays, and names nothing when it was the last cluster.
void TfrmServerCluster::imgRemoveClick(web::Control& sender) {
  TServerCluster* cluster = SelectRowCluster(sender);
  if (!cluster) return;
  FDomainHandler->RemoveCluster(cluster);
  UserSession()->SaveSettings();
  BuildGrid();
}

// Lives only in the copy until the edit page saves.
void TfrmServerCluster::btnNewClusterClick(web::Control&) {
  std::shared_ptr<TServerCluster> cluster = FDomainHandler->ServerClusters->Add();
  cluster->Name = "(New cluster)";
  std::shared_ptr<TServer> server = TServer::Create(*cluster);
  server->ServerName = "(New server)";
  server->ServerAddress = "";
  server->ServerPort = 0;
  server->SetCapacity(1);
  server->Enabled = true;
  UserSession()->SetCurrentServerCluster(cluster.get());
  ShowPage(AdminPage::ServerClusterEdit);
}
