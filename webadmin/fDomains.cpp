#include "webadmin/fDomains.h"

#include <tuple>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/web/WebEscape.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uDomainPageHead.h"
#include "webadmin/uIWMisc.h"

namespace {

const char* const Headers[] = {"On/Off", "Domain", "Desc", "Edit", "Server cluster", "Target addr.", "Host replace",
                               "In", "Out", "Log", "Def", "", "", "Remove"};
constexpr int ColCount = 14;

const char* ProtocolSuffix(uint8_t mode) {
  switch (mode) {
    case 1:
      return " (HTTP/SSL)";
    case 2:
      return " (SSL)";
    default:
      return " (HTTP)";
  }
}

}  // namespace

TfrmDomains::TfrmDomains(web::WebApplication& app) : TAdminPage(app, AdminPage::Domains) {
  CreateMenu();
  std::tie(imgHeader, imgVtwa) = CreateDomainBanner(this, "hdDomains.jpg");
  CreateHelpLink(PageContentLeft + 620, 10);
  IWURLTutorial = CreateLink(this, this, "IWURLTutorial", "Tutorials", PageContentLeft + 670, 10, 70, "tutorials.htm");
  btnNewDomain = create<web::Button>("btnNewDomain", this);
  btnNewDomain->caption = "Create new domain";
  btnNewDomain->setBounds(PageContentLeft, 50, 140, 24);
  btnNewDomain->onClick = [this](web::Control& s) { btnNewDomainClick(s); };
  imgStatus = create<web::ImageFile>("imgStatus", this);
  imgStatus->setBounds(PageContentLeft + 160, 53, 18, 18);
  lblStatus = create<web::Label>("lblStatus", this);
  lblStatus->caption = "Settings look OK";
  lblStatus->setBounds(PageContentLeft + 184, 54, 600, 18);
  grdDomains = create<web::Grid>("grdDomains", this);
  grdDomains->setBounds(PageContentLeft, 84, 0, 0);
  grdDomains->setColCount(ColCount);
  grdDomains->setRowCount(1);
  StyleListGrid(*grdDomains);

  InitCommon();
  FDomainHandler = UserSession()->DomainHandler.get();
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, FDomainHandler, imgStatus);
  BuildGrid();
}

TfrmDomains::~TfrmDomains() { ClearGrid(grdDomains); }

web::ImageFile* TfrmDomains::AddImage(int row, int col, const char* file, int width, int index,
                                      void (TfrmDomains::*click)(web::Control&)) {
  auto img = std::make_unique<web::ImageFile>();
  img->fileName = file;
  img->width = width;
  img->height = 18;
  img->tag = index;
  img->onClick = [this, click](web::Control& s) { (this->*click)(s); };
  return grdDomains->setCellControl(row, col, std::move(img));
}

void TfrmDomains::BuildGrid() {
  ClearGrid(grdDomains);
  const TDomainList& domains = FDomainHandler->Domains;
  grdDomains->setRowCount(domains.Count() + 1);
  for (int c = 0; c < ColCount; ++c) {
    web::GridCell& cell = grdDomains->cell(0, c);
    cell.text = Headers[c][0] ? std::string("&nbsp;") + Headers[c] + "&nbsp;" : std::string();
    cell.bold = true;
  }
  for (int i = 0; i < domains.Count(); ++i) {
    const TDomain& d = *domains[i];
    const int r = i + 1;
    AddImage(r, 0, d.Enabled ? "StatusGreen.jpg" : "StatusRed.jpg", 18, i, &TfrmDomains::imgOnOffClick);
    grdDomains->cell(r, 1).text = "&nbsp;" + web::HtmlEscape(d.DomainName) + ProtocolSuffix(d.ProtocolMode) + "&nbsp;";
    grdDomains->cell(r, 2).text = CellText(d.Description);
    AddImage(r, 3, "DomainEdit.jpg", 47, i, &TfrmDomains::imgEditClick);
    grdDomains->cell(r, 4).text = d.ServerCluster ? CellText(d.ServerCluster->Name) : std::string();
    grdDomains->cell(r, 5).text = CellText(d.DefaultTargetAddress);
    grdDomains->cell(r, 6).text = CellText(d.DefaultHostReplace);
    grdDomains->cell(r, 7).text = CellText(d.PortText());
    grdDomains->cell(r, 8).text = CellText(d.TargetPortText());
    AddImage(r, 9, d.LogEnabled ? "StatusGreen.jpg" : "StatusGray.jpg", 18, i, &TfrmDomains::imgLogClick);
    AddImage(r, 10, d.DefaultForPort ? "StatusGreen.jpg" : "StatusGray.jpg", 18, i, &TfrmDomains::imgDefaultClick);
    AddImage(r, 11, "DomainUp.jpg", 18, i, &TfrmDomains::imgUpClick);
    AddImage(r, 12, "DomainDown.jpg", 18, i, &TfrmDomains::imgDownClick);
    AddImage(r, 13, "DomainRemove.jpg", 66, i, &TfrmDomains::imgRemoveClick)->confirmation = ConfirmRemoveDomain;
    for (int c : {0, 7, 8, 9, 10}) grdDomains->cell(r, c).alignment = "center";
  }
  RefreshStatus();
}

void TfrmDomains::RefreshStatus() {
  FChecker->Settings = FDomainHandler;
  FChecker->CheckDomains();
}

TDomain* TfrmDomains::SelectRow(web::Control& sender) {
  const int i = RowIndex(sender);
  if (i < 0) return nullptr;
  TUserSession* session = UserSession();
  session->DomainIndex = i;
  return session->GetCurrentDomain();
}

void TfrmDomains::Toggle(web::Control& sender, bool TDomain::*flag) {
  TDomain* d = SelectRow(sender);
  if (!d) return;
  d->*flag = !(d->*flag);
  UserSession()->SaveSettings();
  BuildGrid();
}

void TfrmDomains::imgOnOffClick(web::Control& sender) { Toggle(sender, &TDomain::Enabled); }
void TfrmDomains::imgLogClick(web::Control& sender) { Toggle(sender, &TDomain::LogEnabled); }
void TfrmDomains::imgDefaultClick(web::Control& sender) { Toggle(sender, &TDomain::DefaultForPort); }

void TfrmDomains::imgEditClick(web::Control& sender) {
  if (SelectRow(sender)) ShowPage(AdminPage::DomainsMain);
}

// A list move: the other domains keep their order, DomainIndex stays.
void TfrmDomains::Move(web::Control& sender, int step) {
  const int i = RowIndex(sender);
  const int to = i + step;
  if (i < 0 || i >= FDomainHandler->Domains.Count() || to < 0 || to >= FDomainHandler->Domains.Count()) return;
  FDomainHandler->Domains.Move(i, to);
  UserSession()->SaveSettings();
  BuildGrid();
}

void TfrmDomains::imgUpClick(web::Control& sender) { Move(sender, -1); }
void TfrmDomains::imgDownClick(web::Control& sender) { Move(sender, 1); }

void TfrmDomains::imgRemoveClick(web::Control& sender) {
  TDomain* d = SelectRow(sender);
  if (!d) return;
  TUserSession* session = UserSession();
  FDomainHandler->RemoveDomain(d);
  session->SetCurrentDomain(nullptr);
  session->SaveSettings();
  BuildGrid();
}

void TfrmDomains::btnNewDomainClick(web::Control&) {
  TUserSession* session = UserSession();
  TDomain* d = FDomainHandler->AddDomain();
  d->DomainName = "(New_domain)";
  d->AssignLogName();
  session->SetCurrentDomain(d);
  if (FDomainHandler->Domains.Count() == 1) d->DefaultForPort = true;
  ShowPage(AdminPage::DomainsMain);
}
