#include "webadmin/fSSLSettingsList.h"

#include "Common/uDomainHandler.h"
#include "Common/uSSLSettings.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uIWMisc.h"

TfrmSSLSettingsList::TfrmSSLSettingsList(web::WebApplication& app) : TAdminPage(app, AdminPage::SSLSettingsList) {
  CreateMenu();
  // In a region, so that the edition shell can show the list too.
  rgnSettings = CreateSettingsRegion(160);
  rgnSettings->width = 760;
  IWURLHelp->left = 640;
  imgHeader = create<web::ImageFile>("imgHeader", rgnSettings);
  imgHeader->fileName = "..\\Files\\vtwaSSL_settings.jpg";
  imgHeader->setBounds(0, 0, 420, 36);
  btnNewCertificate = create<web::Button>("btnNewCertificate", rgnSettings);
  btnNewCertificate->caption = "Create new certificate";
  btnNewCertificate->setBounds(0, 50, 160, 24);
  btnNewCertificate->onClick = [this](web::Control& s) { btnNewCertificateClick(s); };
  grdSSLSettingsList = create<web::Grid>("grdSSLSettingsList", rgnSettings);
  grdSSLSettingsList->setBounds(0, 84, 740, 60);
  grdSSLSettingsList->setColCount(7);
  StyleListGrid(*grdSSLSettingsList);
  // Beside the button, as on the domain list: below the grid, the line
  // would be met by a long list.
  imgStatus = create<web::ImageFile>("imgStatus", rgnSettings);
  imgStatus->setBounds(180, 53, 18, 18);
  lblStatus = create<web::Label>("lblStatus", rgnSettings);
  lblStatus->caption = "Settings look OK";
  lblStatus->setBounds(204, 54, 556, 18);

  InitCommon("SSLSettingsList.htm");
  IWURLHelp->url = std::string(HelpBaseURL) + "SSLSettings.htm";
  // The list always shows the saved state.
  UserSession()->LoadSettings();
  BuildGrid();
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, UserSession()->DomainHandler.get(), imgStatus);
  RefreshStatus();
}

TfrmSSLSettingsList::~TfrmSSLSettingsList() = default;

void TfrmSSLSettingsList::RefreshStatus() { FChecker->CheckSSLCertificates(); }

void TfrmSSLSettingsList::BuildGrid() {
  ClearGrid(grdSSLSettingsList);
  TUserSession* session = UserSession();
  const TSSLSettingsList& sets = session->DomainHandler->SSLSettingsList;
  grdSSLSettingsList->setRowCount(sets.Count() + 1);
  const char* headers[] = {"&nbsp;On/Off&nbsp;",    "&nbsp;Certificate name&nbsp;", "&nbsp;Root file&nbsp;",
                           "&nbsp;Certificate file&nbsp;", "&nbsp;Key file&nbsp;", "&nbsp;Edit&nbsp;",
                           "&nbsp;Remove&nbsp;"};
  for (int c = 0; c < 7; ++c) grdSSLSettingsList->cell(0, c).text = headers[c];
  session->SSLSettingsIndex = sets.Count() > 0 ? 0 : -1;
  for (int i = 0; i < sets.Count(); ++i) {
    const TSSLSettings& s = *sets[i];
    const int row = i + 1;
    AddRowImage(*grdSSLSettingsList, row, 0, RowImage::OnOff, i, [this](web::Control& x) { imgOnOffClick(x); },
                s.Enabled);
    int col = 1;
    for (const std::string* text : {&s.CertificateName, &s.RootCertificateFile, &s.CertificateFile, &s.KeyFile}) {
      web::GridCell& cell = grdSSLSettingsList->cell(row, col++);
      cell.text = CellText(*text);
      cell.width = 150;
    }
    AddRowImage(*grdSSLSettingsList, row, 5, RowImage::Edit, i, [this](web::Control& x) { imgEditClick(x); });
    AddRowImage(*grdSSLSettingsList, row, 6, RowImage::Remove, i, [this](web::Control& x) { imgRemoveClick(x); },
                true, ConfirmRemoveRestart);
  }
}

TSSLSettings* TfrmSSLSettingsList::SelectRowSet(web::Control& sender) {
  const int i = RowIndex(sender);
  if (i < 0) return nullptr;
  TUserSession* session = UserSession();
  session->SSLSettingsIndex = i;
  return session->GetCurrentSSLSettings();
}

void TfrmSSLSettingsList::imgOnOffClick(web::Control& sender) {
  TSSLSettings* s = SelectRowSet(sender);
  if (!s) return;
  s->Enabled = !s->Enabled;
  UserSession()->SaveSettings();
  RefreshStatus();
  BuildGrid();
}

void TfrmSSLSettingsList::imgEditClick(web::Control& sender) {
  if (SelectRowSet(sender)) ShowPage(AdminPage::SSLSettings);
}

void TfrmSSLSettingsList::imgRemoveClick(web::Control& sender) {
  TSSLSettings* s = SelectRowSet(sender);
  if (!s) return;
  TUserSession* session = UserSession();
  session->DomainHandler->SSLSettingsList.Remove(s);
  session->SSLSettingsIndex = -1;
  session->SaveSettings();
  RefreshStatus();
  BuildGrid();
}

// Saved at once, then edited on the set page.
void TfrmSSLSettingsList::btnNewCertificateClick(web::Control&) {
  TUserSession* session = UserSession();
  TSSLSettingsList& sets = session->DomainHandler->SSLSettingsList;
  TSSLSettings* s = sets.AddNew();
  s->CertificateName = "New certificate";
  session->SSLSettingsIndex = sets.IndexOf(s);
  session->SaveSettings();
  ShowPage(AdminPage::SSLSettings);
}
