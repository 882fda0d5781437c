#include "webadmin/fDomainsMain.h"

#include <tuple>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uSSLSettings.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uDomainPageHead.h"
#include "webadmin/uIWMisc.h"
#include "webadmin/uPageLayout.h"

namespace {

const char kDomainDefaultMarker = 0;

// A port field: 0 when empty, else the whole number (EConvertError otherwise).
int32_t PortFromText(const std::string& text) {
  const std::string t = Trim(text);
  return t.empty() ? 0 : StrToInt(t);
}

std::string PortText(int32_t port) { return port <= 0 ? std::string() : IntToStr(port); }

web::Label* RequiredMark(web::Control* owner, web::Control* parent, const std::string& name, web::Control* beside) {
  auto* mark = owner->create<web::Label>(name, parent);
  mark->caption = "*";
  mark->font.color = web::colors::Red;
  mark->font.bold = true;
  mark->setBounds(beside->left + beside->width + 6, beside->top + 2, 10, 16);
  return mark;
}

}  // namespace

const void* TfrmDomainsMain::DomainDefaultMarker() { return &kDomainDefaultMarker; }

TfrmDomainsMain::TfrmDomainsMain(web::WebApplication& app) : TAdminPage(app, AdminPage::DomainsMain) {
  CreateMenu();
  javaScript = VirtualPathGrid::PageScript();
  // Once the page has loaded: the tab look, then the grid's edit style.
  addToInitProc("VTInitTabcontrols();");
  addToInitProc("VTFormInit();");

  std::tie(imgHeader, imgVtwa) = CreateDomainBanner(this, "hdDomainsMain.jpg");
  imgHeader->scriptEvents["onload"] = "Done();";
  IWURLTutorial = CreateLink(this, this, "IWURLTutorial", "Tutorials", PageContentLeft + 620, 10, 70, "tutorials.htm");

  std::tie(cmbDomains, imgStatus, lblStatus) =
      CreateDomainComboRow(this, [this](web::Control& s) { cmbDomainsChange(s); });

  tcMain = create<web::TabControl>("tcMain", this);
  tcMain->setBounds(PageContentLeft, 78, 1000, 560);
  tsDomainSettings = create<web::TabPage>("tsDomainSettings", tcMain);
  // Tab titles are escaped text: the blanks around them are no-break spaces.
  tsDomainSettings->title = "\xA0\xA0" "Domain settings\xA0\xA0";
  tsVirtualPaths = create<web::TabPage>("tsVirtualPaths", tcMain);
  tsVirtualPaths->title = "\xA0\xA0" "Virtual paths\xA0\xA0";
  // As wide as the tabs: the grid's columns take their widths from it.
  for (web::TabPage* page : {tsDomainSettings, tsVirtualPaths}) page->setBounds(0, 0, 1000, 520);

  // Tab "Domain settings".
  web::Control* tab = tsDomainSettings;
  IWURLHelp1 = CreateLink(this, tab, "IWURLHelp1", "Help", 560, 10, 70, "domainsmain.htm");
  IWURLExample1 = CreateLink(this, tab, "IWURLExample1", "Example", 610, 10, 70, "example_domain.htm");
  TPageLayout row(this, tab, 14);
  row.Caption("Enabled:");
  chkDomainNameEnabled = row.Field<web::CheckBox>("chkDomainNameEnabled", 40);
  row.Caption("Domain name:");
  edtDomainName = row.Field<web::Edit>("edtDomainName");
  reqDomainName = RequiredMark(this, tab, "reqDomainName", edtDomainName);
  row.Caption("Domain description:");
  mmDomainDesc = row.Field<web::Memo>("mmDomainDesc", 220, 40);
  row.Caption("Site Name (for logging):");
  edtSiteName = row.Field<web::Edit>("edtSiteName");
  row.Caption("Log enabled:");
  chkLogEnabled = row.Field<web::CheckBox>("chkLogEnabled", 40);
  row.Caption("Default for port:");
  chkDefaultForPort = row.Field<web::CheckBox>("chkDefaultForPort", 40);
  row.Caption("IPs to bind to (* = all):");
  mmIPsToBind = row.Field<web::Memo>("mmIPsToBind", 220, 60);
  row.Skip(6);
  row.Heading("Defaults");
  lblDefaultTagetAdress = row.Caption("Target address:", "lblDefaultTagetAdress");
  edtDefaultTagetAdress = row.Field<web::Edit>("edtDefaultTagetAdress");
  reqDefaultTagetAdress = RequiredMark(this, tab, "reqDefaultTagetAdress", edtDefaultTagetAdress);
  row.Caption("Host replace:");
  edtDefaultHostReplace = row.Field<web::Edit>("edtDefaultHostReplace");
  row.Caption("Listen on port:");
  edtDefaultListenOnPort = row.Field<web::Edit>("edtDefaultListenOnPort", 80);
  edtDefaultListenOnPort->onSubmit = [this](web::Control& s) { edtDefaultListenOnPortSubmit(s); };
  lblDefaultOutPort = row.Caption("Outport:", "lblDefaultOutPort");
  edtDefaultOutPort = row.Field<web::Edit>("edtDefaultOutPort", 80);
  reqDefaultOutPort = RequiredMark(this, tab, "reqDefaultOutPort", edtDefaultOutPort);
  row.Caption("Server cluster:");
  cmbServerCluster = row.Field<web::ComboBox>("cmbServerCluster");
  cmbServerCluster->onChange = [this](web::Control& s) { cmbServerClusterChange(s); };
  cbSSL = create<web::CheckBox>("cbSSL", tab);
  cbSSL->caption = "SSL";
  cbSSL->setBounds(TPageLayout::LabelLeft, row.Top(), 60, 20);
  cbSSL->onClick = [this](web::Control& s) { cbSSLClick(s); };
  lblSSLMatch = create<web::Label>("lblSSLMatch", tab);
  lblSSLMatch->setBounds(TPageLayout::ControlLeft, row.Top() + 2, 320, 18);
  row.Skip(TPageLayout::RowHeight);
  cbOwaHTTPtoHTTPS = create<web::CheckBox>("cbOwaHTTPtoHTTPS", tab);
  cbOwaHTTPtoHTTPS->caption = "On redirect, force HTTP -> HTTPS";
  cbOwaHTTPtoHTTPS->setBounds(TPageLayout::LabelLeft, row.Top(), 300, 20);
  row.Skip(TPageLayout::RowHeight);
  row.Caption("Redirect to HTTPS:");
  cbForcedHTTPtoHTTPS = row.Field<web::CheckBox>("cbForcedHTTPtoHTTPS", 40);
  web::Label* required = row.Caption("* means required field");
  required->width = 200;

  // Tab "Virtual paths".
  tab = tsVirtualPaths;
  btn1 = create<web::Button>("btn1", tab);
  btn1->caption = "Add virtual path";
  btn1->scriptEvents["onclick"] = "addRow(event, 'TBLGRDVIRTUALPATHS');";
  btn1->setBounds(10, 10, 130, 24);
  imgBusy = create<web::ImageFile>("imgBusy", tab);
  imgBusy->fileName = "..\\Files\\StatusGray.jpg";
  imgBusy->setBounds(160, 13, 18, 18);
  lblBusy = create<web::Label>("lblBusy", tab);
  lblBusy->setBounds(184, 14, 60, 18);
  IWLabel13 = create<web::Label>("IWLabel13", tab);
  IWLabel13->setBounds(260, 14, 10, 18);
  IWLabel13->onAsyncClick = [this](web::Control& s, const web::ParamMap& p) { IWLabel13AsyncClick(s, p); };
  IWURLHelp2 = CreateLink(this, tab, "IWURLHelp2", "Help", 560, 10, 70, "domainsvirtualdomains.htm");
  IWURLExample2 = CreateLink(this, tab, "IWURLExample2", "Example", 610, 10, 70, "example_virtualpaths.htm");
  grdVirtualPaths = create<web::Grid>("grdVirtualPaths", tab);
  grdVirtualPaths->setBounds(10, 44, 0, 0);
  StyleListGrid(*grdVirtualPaths);
  // Rows marked for removal show their texts on pink, as the browser does.
  grdVirtualPaths->onRenderCell = [this, style = grdVirtualPaths->onRenderCell](web::GridCell& cell, int r, int c) {
    style(cell, r, c);
    if (r > 0 && c >= VirtualPathGrid::ColPath && c <= VirtualPathGrid::ColOutPort && r < FGrid->RowCount() &&
        FGrid->Marked(r)) {
      cell.bgColor = web::Color::rgbValue(0xFAAFBA);
    }
  };
  FGrid = std::make_unique<VirtualPathGrid>(*grdVirtualPaths);

  btnSaveSettings = CreateSaveRow(this, PageContentLeft, 646, [this](web::Control& s) { btnSaveSettingsClick(s); });
  // Below the grid of the other tab, which grows with its rows and wrapped texts.
  KeepBelow(grdVirtualPaths, {btnSaveSettings, lblSaved});

  // Creation: the busy texts, the links, the menu.
  IWLabel13->caption = " ";
  lblBusy->caption = " ";
  InitCommon();
  frameMainMenu->SelectItem("imgDomainsMain");
  FillDomainCombo(cmbDomains);
  tcMain->activePage = 0;

  TUserSession* session = UserSession();
  TDomainHandler& handler = *session->DomainHandler;
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, &handler, imgStatus);
  TDomain* d = session->GetCurrentDomain();
  if (d) {
    chkDomainNameEnabled->checked = d->Enabled;
    edtDomainName->text = d->DomainName;
    mmDomainDesc->setText(d->Description);
    edtSiteName->text = d->SiteName;
    chkLogEnabled->checked = d->LogEnabled;
    chkDefaultForPort->checked = d->DefaultForPort;
    mmIPsToBind->setText(d->IPsToBindTo.Text());
    edtDefaultTagetAdress->text = d->DefaultTargetAddress;
    edtDefaultHostReplace->text = d->DefaultHostReplace;
    edtDefaultListenOnPort->text = PortText(d->ListenOnPort);
    edtDefaultOutPort->text = PortText(d->OutPort);
  } else {
    btnSaveSettings->enabled = false;
  }
  cmbServerCluster->clear();
  cmbServerCluster->addItem(VirtualPathGrid::NoSelection, nullptr);
  cmbServerCluster->addItem(VirtualPathGrid::DomainDefault, DomainDefaultMarker());
  FillClusterCombo(cmbServerCluster, d ? d->ServerCluster : nullptr);
  BuildVirtualPathsGrid();
  UpdateSSLControls();
  TakeBindingSnapshot();
}

TfrmDomainsMain::~TfrmDomainsMain() { ClearGrid(grdVirtualPaths); }

void TfrmDomainsMain::TakeBindingSnapshot() {
  FBindingSnapshot.Clear();
  UserSession()->DomainHandler->GetBindings(&FBindingSnapshot, false);
  FBindingSnapshot.Sort();
}

void TfrmDomainsMain::FillClusterCombo(web::ComboBox* combo, const TServerCluster* cluster) {
  for (const auto& c : *UserSession()->DomainHandler->ServerClusters) combo->addItem(c->Name, c.get());
  combo->itemIndex = 0;
  for (size_t i = 0; i < combo->objects.size(); ++i) {
    if (cluster && combo->objects[i] == cluster) combo->itemIndex = static_cast<int>(i);
  }
  if (combo->onChange) combo->onChange(*this);
}

void TfrmDomainsMain::RefreshStatus() {
  TUserSession* session = UserSession();
  FChecker->Settings = session->DomainHandler.get();
  if (TDomain* d = session->GetCurrentDomain()) FChecker->CheckDomain(d);
}

void TfrmDomainsMain::cmbServerClusterChange(web::Control&) {
  const bool free = cmbServerCluster->itemIndex == 0;
  SetControlsEditable(free, {edtDefaultTagetAdress, lblDefaultTagetAdress, edtDefaultOutPort, lblDefaultOutPort});
  SetControlsVisible(free, {reqDefaultTagetAdress, reqDefaultOutPort});
  if (!free) {
    edtDefaultTagetAdress->text.clear();
    edtDefaultOutPort->text.clear();
  }
  RefreshStatus();
}

void TfrmDomainsMain::cbSSLClick(web::Control&) {
  TDomain* d = UserSession()->GetCurrentDomain();
  if (!d) return;
  d->ListenOnPort = cbSSL->checked ? 443 : 80;
  d->SSL = cbSSL->checked;
  d->UpdateProtocolMode();
  edtDefaultListenOnPort->text = IntToStr(d->ListenOnPort);
  UpdateSSLControls();
}

void TfrmDomainsMain::UpdateSSLControls() {
  if (TDomain* d = UserSession()->GetCurrentDomain()) {
    cbSSL->checked = d->SSL;
    cbOwaHTTPtoHTTPS->checked = d->OwaHTTPtoHTTPS;
    cbForcedHTTPtoHTTPS->checked = d->ForcedHTTPtoHTTPS;
  }
  UpdateSSLMatch();
}

void TfrmDomainsMain::UpdateSSLMatch() {
  lblSSLMatch->visible = cbSSL->checked;
  if (!lblSSLMatch->visible) return;
  int32_t port = 0;
  const std::string text = Trim(edtDefaultListenOnPort->text);
  if (!text.empty() && !TryStrToInt(text, port)) port = 0;
  TStringList ips;
  ips.SetText(mmIPsToBind->text());
  const TSSLSettings* set = UserSession()->DomainHandler->SSLSettingsList.FindForBinding(ips, port);
  if (set) {
    lblSSLMatch->caption = Format("Matches SSL Certificate \"%s\"", set->CertificateName);
    lblSSLMatch->font.bold = false;
  } else {
    lblSSLMatch->caption = "No matching certificate!";
    lblSSLMatch->font.bold = true;
  }
}

void TfrmDomainsMain::ValidateDomain() {
  TDomain* d = UserSession()->GetCurrentDomain();
  if (!d) return;
  FChecker->Settings = UserSession()->DomainHandler.get();
  FChecker->CheckDomain(d);
  if (FChecker->Status == TErrorWarningChecker::StatusError) app().showMessage(FChecker->Message);
}

void TfrmDomainsMain::BuildVirtualPathsGrid() {
  TUserSession* session = UserSession();
  ClearGrid(grdVirtualPaths);
  if (TDomain* d = session->GetCurrentDomain()) {
    FGrid->Build(*d, *session->DomainHandler);
    for (int r = 1; r < FGrid->RowCount(); ++r) {
      if (session->PathsMarkedForRemoval.count(FGrid->PathOf(r)->Id)) {
        FGrid->SetRemoveCell(r, VirtualPathGrid::ColRemove, true);
      }
    }
  } else {
    grdVirtualPaths->setRowCount(0);
  }
  RefreshStatus();
}

void TfrmDomainsMain::SaveVirtualPaths(bool commit) {
  TUserSession* session = UserSession();
  TDomain* d = session->GetCurrentDomain();
  if (!d) return;
  // The marks outlive this page while the menu moves among the domain's
  // pages; a committing store removes the paths and forgets the marks.
  FGrid->Store(*d, *session->DomainHandler, commit);
  if (commit) {
    session->PathsMarkedForRemoval.clear();
    return;
  }
  for (int r = 1; r < FGrid->RowCount(); ++r) {
    if (const TVirtualPath* p = FGrid->PathOf(r)) {
      if (FGrid->Marked(r)) {
        session->PathsMarkedForRemoval.insert(p->Id);
      } else {
        session->PathsMarkedForRemoval.erase(p->Id);
      }
    }
  }
}

// Every control is read and checked before the domain changes, so a bad
// number leaves the domain as it was.
void TfrmDomainsMain::StoreControls(bool commit) {
  TUserSession* session = UserSession();
  TDomain* d = session->GetCurrentDomain();
  if (!d) return;
  const int32_t listenOnPort = PortFromText(edtDefaultListenOnPort->text);
  const int32_t outPort = PortFromText(edtDefaultOutPort->text);
  FGrid->Validate();
  const void* cluster = cmbServerCluster->selectedObject();
  d->Enabled = chkDomainNameEnabled->checked;
  d->DomainName = edtDomainName->text;
  // The memo's own text: its lines joined, without a line break at the end.
  std::string description = mmDomainDesc->text();
  if (description.size() >= 2) description.resize(description.size() - 2);
  d->Description = description;
  d->SetLogName(edtSiteName->text);
  d->LogEnabled = chkLogEnabled->checked;
  d->DefaultForPort = chkDefaultForPort->checked;
  d->IPsToBindTo.SetText(mmIPsToBind->text());
  d->DefaultTargetAddress = edtDefaultTagetAdress->text;
  d->DefaultHostReplace = edtDefaultHostReplace->text;
  d->OwaHTTPtoHTTPS = cbOwaHTTPtoHTTPS->checked;
  d->ForcedHTTPtoHTTPS = cbForcedHTTPtoHTTPS->checked;
  d->ListenOnPort = listenOnPort;
  d->OutPort = outPort;
  // "-- Domain Default --" on the domain itself names no cluster, as the
  // file stores it.
  d->ServerCluster = cluster == DomainDefaultMarker()
                         ? nullptr
                         : static_cast<TServerCluster*>(const_cast<void*>(cluster));
  SaveVirtualPaths(commit);
  d->UpdateProtocolMode();
  ValidateDomain();
}

void TfrmDomainsMain::btnSaveSettingsClick(web::Control&) {
  TUserSession* session = UserSession();
  StoreControls(true);
  session->SaveSettings();
  TStringList now;
  session->DomainHandler->GetBindings(&now, false);
  now.Sort();
  const bool changed = FBindingSnapshot.Text() != now.Text();
  lblSaved->caption = "Settings saved";
  if (changed && EngineHooks::Current().IsServerRunningHook && EngineHooks::IsServerRunning()) {
    std::string stopped, started;
    EngineHooks::StopServer(this, stopped);
    EngineHooks::StartServer(btnSaveSettings, started);
    lblSaved->caption = EngineHooks::IsServerRunning()
                            ? "Settings saved and server restarted"
                            : "Settings saved, but the server failed to start: " + started;
  }
  activeControl = nullptr;
  lblSaved->visible = true;
  if (TDomain* d = session->GetCurrentDomain()) edtSiteName->text = d->SiteName;
  BuildVirtualPathsGrid();
  FillDomainCombo(cmbDomains);
  TakeBindingSnapshot();
  UpdateSSLControls();
}

void TfrmDomainsMain::cmbDomainsChange(web::Control&) {
  if (cmbDomains->tag == 1) return;
  TUserSession* session = UserSession();
  session->DomainIndex = cmbDomains->itemIndex;
  if (!session->GetCurrentDomain()) return;
  release();
  CreatePage(app(), AdminPage::DomainsMain)->show();
}

void TfrmDomainsMain::IWLabel13AsyncClick(web::Control&, const web::ParamMap& eventParams) {
  TUserSession* session = UserSession();
  TDomain* d = session->GetCurrentDomain();
  const auto result = d ? FGrid->Handle(eventParams, *d, *session->DomainHandler)
                        : VirtualPathGrid::PostResult::Ignored;
  // The browser already shows its own cell edits; only a new row or a move
  // sends the grid back.
  if (result != VirtualPathGrid::PostResult::GridRebuilt) app().keepClientView(grdVirtualPaths);
  // The post carries the tab the browser switched to, which it shows already.
  app().keepClientView(tcMain);
  if (result == VirtualPathGrid::PostResult::GridRebuilt) RefreshStatus();
  imgBusy->fileName = "StatusGray.jpg";
  lblBusy->caption = "";
  app().resendControl(imgBusy);
  app().resendControl(lblBusy);
}
