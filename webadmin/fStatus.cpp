#include "webadmin/fStatus.h"

#include <tuple>

#include "Common/Misc.h"
#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/web/WebEscape.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uIWMisc.h"
#include "webadmin/uStatusResults.h"

namespace {

constexpr int kRegionLeft = 210;
constexpr int kPublicShift = 200;
constexpr int kAutoUpdateInterval = 10000;
constexpr int kEditColumn = 5;

std::string Indent(int level) {
  std::string out;
  for (int i = 0; i < level; ++i) out += "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  return out;
}

std::string Link(const std::string& url, const std::string& text) {
  return "<a href=\"" + web::HtmlEscape(url) + "\" target=\"NewWindow\">" + web::HtmlEscape(text) + "</a>";
}

// State image suffix and text of the switch or a domain, by how many of N are OK.
std::pair<std::string, std::string> ShareState(int32_t ok, int32_t n, const char* what) {
  if (ok == n) return {"GreenGray", std::string("All ") + what + " are OK"};
  if (ok > 0) return {"OrangeGray", std::string("Some ") + what + " are OK"};
  return {"RedGray", std::string("No ") + what + " are OK"};
}

}  // namespace

TfrmStatus::TfrmStatus(web::WebApplication& app) : TAdminPage(app, AdminPage::Status) {
  CreateMenu();
  iwrStatus = create<web::Region>("iwrStatus", this);
  iwrStatus->setBounds(kRegionLeft, 0, 640, 1200);
  CreateHelpLink(560, 10)->setParent(iwrStatus);

  CreateTitleImages(iwrStatus, "vtwaStatus.jpg", "hdStatus.jpg");
  IWLabel3 = create<web::Label>("IWLabel3", iwrStatus);
  IWLabel3->caption = "An overview of which domains and paths are operating correctly";
  IWLabel3->setBounds(10, 64, 460, 18);
  chkAutoUpdate = create<web::CheckBox>("chkAutoUpdate", iwrStatus);
  chkAutoUpdate->caption = "Automatic update";
  chkAutoUpdate->setBounds(470, 64, 160, 20);
  chkAutoUpdate->onClick = [this](web::Control& s) { chkAutoUpdateClick(s); };
  tmrAutoUpdate = create<web::Timer>("tmrAutoUpdate", iwrStatus);
  tmrAutoUpdate->interval = kAutoUpdateInterval;
  tmrAutoUpdate->enabled = false;
  tmrAutoUpdate->onTimer = [this](web::Control& s) { tmrAutoUpdateTimer(s); };

  Counters = CreateCounterLabels(this, iwrStatus, 10, 92, true);

  int legendTop = 92;
  for (auto [field, name, file, caption] :
       {std::tuple{&imgRunning, "imgRunning", "..\\Files\\StatusGreen.JPG", "Running perfectly"},
        {&imgNotRunning, "imgNotRunning", "..\\Files\\StatusRed.JPG", "Not running"},
        {&imgPartlyRunning, "imgPartlyRunning", "..\\Files\\StatusOrange.JPG", "Partly running"},
        {&imgPaused, "imgPaused", "..\\Files\\StatusPause.JPG", "Paused"},
        {&imgUnknown, "imgUnknown", "..\\Files\\StatusBlue.JPG", "Status unknown"}}) {
    web::ImageFile* img = create<web::ImageFile>(name, iwrStatus);
    img->fileName = file;
    img->setBounds(420, legendTop, 18, 18);
    *field = img;
    auto* label = create<web::Label>(std::string(name) + "Caption", iwrStatus);
    label->caption = caption;
    label->setBounds(446, legendTop + 1, 180, 18);
    legendTop += 22;
  }

  grdStatus = create<web::Grid>("grdStatus", iwrStatus);
  grdStatus->setBounds(10, 342, 620, 0);
  grdStatus->borderVisible = false;

  InitCommon();
}

TfrmStatus::~TfrmStatus() { ClearGrid(grdStatus); }

void TfrmStatus::SetPublicMode(bool value) {
  PublicMode = value;
  if (!value) return;
  if (frameMainMenu) {
    destroyOwned(frameMainMenu);
    frameMainMenu = nullptr;
  }
  iwrStatus->left -= kPublicShift;
  chkAutoUpdate->checked = true;
  chkAutoUpdateClick(*chkAutoUpdate);
}

void TfrmStatus::chkAutoUpdateClick(web::Control&) { tmrAutoUpdate->enabled = chkAutoUpdate->checked; }

// The page is made anew, with a fresh check, in the same session.
void TfrmStatus::tmrAutoUpdateTimer(web::Control&) {
  const bool timerOn = tmrAutoUpdate->enabled;
  const bool publicMode = PublicMode;
  release();
  auto* next = dynamic_cast<TfrmStatus*>(CreatePage(app(), AdminPage::Status));
  if (!next) return;
  next->chkAutoUpdate->checked = timerOn;
  next->tmrAutoUpdate->enabled = timerOn;
  next->SetPublicMode(publicMode);
  next->show();
}

void TfrmStatus::UpdateCounters() { ::UpdateCounters(Counters, false); }

int TfrmStatus::AddRow(RowKind kind) {
  const int row = grdStatus->rowCount();
  grdStatus->setRowCount(row + 1);
  for (int col = 0; col < grdStatus->colCount(); ++col) {
    web::GridCell& cell = grdStatus->cell(row, col);
    switch (kind) {
      case RowKind::Header:
        cell.bgColor = web::Color::fromBGR(0xA65F4A);
        cell.fontColor = web::colors::White;
        cell.bold = true;
        break;
      case RowKind::Grey:
        cell.bgColor = web::Color::fromBGR(0xE3DFE0);
        cell.fontColor = web::colors::Black;
        break;
      case RowKind::White:
        cell.bgColor = web::colors::White;
        cell.fontColor = web::colors::Black;
        break;
    }
    if (col <= 2) cell.height = 18;
    if (col == 0 || col >= kEditColumn) cell.alignment = "center";
  }
  return row;
}

// Name is markup already (a link, or the escaped switch name).
void TfrmStatus::AddStateRow(const std::string& image, const std::string& name, int indent, const std::string& state,
                             int64_t bytes, int64_t requests, RowKind kind) {
  const int row = AddRow(kind);
  grdStatus->cell(row, 0).text =
      "<img src=\"" + web::HtmlEscape(app().urlBase) + "/files/Status" + image + ".jpg\" height=\"18\" width=\"18\">";
  grdStatus->cell(row, 1).text = Indent(indent) + name;
  grdStatus->cell(row, 2).text = CellText(state);
  grdStatus->cell(row, 3).text = "&nbsp;" + FormatThousands64(bytes / 1024) + " kb&nbsp;";
  grdStatus->cell(row, 4).text = "&nbsp;" + FormatThousands64(requests) + "&nbsp;";
}

void TfrmStatus::onRender() {
  const int onOff = OnOffColumn();
  ClearGrid(grdStatus);
  grdStatus->setRowCount(0);
  grdStatus->setColCount(onOff + 1);
  UpdateCounters();
  const int header = AddRow(RowKind::Header);
  const char* titles[] = {"Status", "Name", "Status", "Data trans.", "Req. count", "Edit"};
  for (int col = 0; col < onOff; ++col) grdStatus->cell(header, col).text = std::string("&nbsp;") + titles[col] + "&nbsp;";
  grdStatus->cell(header, onOff).text = "&nbsp;On/Off&nbsp;";

  TdmHTTPBase* host = dmHTTPBase.load();
  TDomainHandler* live = LiveDomainHandler();
  if (!host || !live) return;
  const bool loggedIn = !PublicMode && app().authenticated();
  // Viewers without a login take the shared results (a second old at most)
  // and never wait behind one another's checks; an administrator checks now.
  TStatusCheck& checks = TStatusCheck::Shared();
  const std::shared_ptr<const TStatusResults> results = loggedIn ? checks.CheckNow(*live) : checks.Latest(*live);
  ReadLockGuard guard(live->Synchronizer);
  const auto [image, text] = ShareState(results->FDomainsRunningCorrectly, live->Domains.Count(), "domains");
  AddStateRow(image, CellText(live->GateName), 0, text, host->Stats->BytesTransferred.load(), 0, RowKind::Grey);
  for (int i = 0; i < live->Domains.Count(); ++i) AddDomainRows(*live->Domains[i], i, *results, loggedIn);
}

void TfrmStatus::AddDomainRows(const TDomain& domain, int index, const TStatusResults& results, bool loggedIn) {
  TUserSession* session = UserSession();
  const int onOff = OnOffColumn();
  const TStatusResults::DomainResult& checked = results.Domain(domain.Id);
  std::string image, text;
  if (!domain.Enabled) {
    image = "PauseGray";
    text = "Paused";
  } else if (domain.VirtualPaths.Count() > 0) {
    std::tie(image, text) = ShareState(checked.FVirtualPathsConnecting, domain.VirtualPaths.Count(), "paths");
  } else {
    text = checked.CheckStatusText;
    image = checked.CheckStatus == 0 ? "BlueGray" : checked.CheckStatus == 2 ? "RedGray" : "GreenGray";
  }
  const int row = grdStatus->rowCount();
  AddStateRow(image, Link(domain.GetURL(), domain.DomainName + ":" + domain.ProtocolModeText()), 1, text,
              domain.BytesTransferred.load(), domain.RequestCount.load(), RowKind::Grey);
  if (loggedIn) {
    auto edit = std::make_unique<web::ImageFile>();
    edit->fileName = "DomainEditGray.jpg";
    edit->width = 47;
    edit->height = 18;
    edit->tag = index;
    edit->onClick = [this](web::Control& s) { DomainEditClick(s); };
    grdStatus->setCellControl(row, kEditColumn, std::move(edit));
  }
  // The image carries the domain's Id: its click acts on the domain with
  // that Id in the settings file as it is then, whatever the order. The
  // copy's domain with that Id decides the image; without one the live flag
  // shows.
  session->DomainIndex = index;
  const TDomain* copy = session->DomainHandler->FindDomainById(domain.Id);
  auto onOffImage = std::make_unique<web::ImageFile>();
  onOffImage->fileName = (copy ? copy->Enabled : domain.Enabled) ? "StatusGreenGray.jpg" : "StatusRedGray.jpg";
  onOffImage->width = onOffImage->height = 18;
  onOffImage->tag = domain.Id;
  if (loggedIn) onOffImage->onClick = [this](web::Control& s) { DomainOnOffClick(s); };
  grdStatus->setCellControl(row, onOff, std::move(onOffImage));

  for (const auto& path : domain.VirtualPaths) {
    const TStatusResults::Result& pathChecked = results.Path(domain.Id, path->Id);
    std::string pathImage, pathText;
    if (!path->Enabled) {
      pathImage = "Pause";
      pathText = "Paused";
    } else if (pathChecked.CheckStatus == 2) {
      pathImage = "Red";
      pathText = pathChecked.CheckStatusText;
    } else if (pathChecked.CheckStatus != 0) {
      pathImage = "Green";
      pathText = pathChecked.CheckStatusText;
    } else {
      pathImage = "Blue";
      pathText = "(unknown)";
    }
    const int pathRow = grdStatus->rowCount();
    AddStateRow(pathImage, Link(path->GetURL(), path->Path), 2, pathText, path->BytesTransferred.load(),
                path->RequestCount.load(), RowKind::White);
    // The image carries the path's Id, never a pointer into the live tree:
    // the click acts on the path with that Id in the domain with this Id.
    auto img = std::make_unique<web::ImageFile>();
    img->fileName = path->Enabled ? "StatusGreen.jpg" : "StatusRed.jpg";
    img->width = img->height = 18;
    img->tag = path->Id;
    if (loggedIn) img->onClick = [this, domainId = domain.Id](web::Control& s) { PathOnOffClick(domainId, s.tag); };
    grdStatus->setCellControl(pathRow, onOff, std::move(img));
  }
}

void TfrmStatus::DomainEditClick(web::Control& sender) {
  TUserSession* session = UserSession();
  session->DomainIndex = sender.tag;
  if (sender.tag >= 0 && sender.tag < session->DomainHandler->Domains.Count()) ShowPage(AdminPage::DomainsMain);
}

// The page may be older than the settings file (automatic update renders
// the live tree, other sessions save meanwhile): the copy is read again, so
// the save changes one flag of the file as it is now. A domain that is gone
// changes nothing; the page renders anew.
void TfrmStatus::DomainOnOffClick(web::Control& sender) {
  TUserSession* session = UserSession();
  session->LoadSettings();
  TDomain* domain = session->DomainHandler->FindDomainById(sender.tag);
  if (!domain) return;
  session->SetCurrentDomain(domain);
  domain->Enabled = !domain->Enabled;
  session->SaveSettings();
}

void TfrmStatus::PathOnOffClick(int32_t domainId, int32_t pathId) {
  TUserSession* session = UserSession();
  session->LoadSettings();
  TDomain* domain = session->DomainHandler->FindDomainById(domainId);
  if (!domain) return;
  for (const auto& path : domain->VirtualPaths) {
    if (path->Id != pathId) continue;
    path->Enabled = !path->Enabled;
    session->SaveSettings();
    return;
  }
}
