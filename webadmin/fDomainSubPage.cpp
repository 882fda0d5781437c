#include "webadmin/fDomainSubPage.h"

#include <tuple>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "webadmin/UserSession.h"
#include "webadmin/uDomainPageHead.h"

TfrmDomainSubPage::TfrmDomainSubPage(web::WebApplication& app, AdminPage id, const std::string& headerImage)
    : TAdminPage(app, id) {
  CreateMenu();
  std::tie(imgHeader, imgVtwa) = CreateDomainBanner(this, headerImage);
  CreateHelpLink(PageContentLeft + 620, 10);
  std::tie(cmbDomains, imgStatus, lblStatus) =
      CreateDomainComboRow(this, [this](web::Control& s) { cmbDomainsChange(s); });
  rgnContent = create<web::Region>("rgnContent", this);
  rgnContent->setBounds(PageContentLeft, 80, 620, 420);
  btnSaveSettings =
      CreateSaveRow(this, PageContentLeft + 10, 510, [this](web::Control& s) { btnSaveSettingsClick(s); });
}

TfrmDomainSubPage::~TfrmDomainSubPage() = default;

void TfrmDomainSubPage::StartUp() {
  InitCommon();
  FillDomainCombo(cmbDomains);
  TUserSession* session = UserSession();
  FChecker = std::make_unique<TErrorWarningChecker>(lblStatus, session->DomainHandler.get(), imgStatus);
  if (TDomain* d = session->GetCurrentDomain()) {
    LoadControls(*d);
  } else {
    btnSaveSettings->enabled = false;
  }
  RefreshStatus();
}

void TfrmDomainSubPage::RefreshStatus() {
  TUserSession* session = UserSession();
  FChecker->Settings = session->DomainHandler.get();
  if (TDomain* d = session->GetCurrentDomain()) FChecker->CheckDomain(d);
}

bool TfrmDomainSubPage::Store() {
  TDomain* d = UserSession()->GetCurrentDomain();
  if (!d || !StoreFields(*d)) return false;
  RefreshStatus();
  return true;
}

void TfrmDomainSubPage::btnSaveSettingsClick(web::Control&) {
  if (!Store()) return;
  TUserSession* session = UserSession();
  session->SaveSettings();
  if (TDomain* d = session->GetCurrentDomain()) AfterSave(*d);
  activeControl = nullptr;
  lblSaved->visible = true;
  FillDomainCombo(cmbDomains);
}

void TfrmDomainSubPage::cmbDomainsChange(web::Control&) {
  if (cmbDomains->tag == 1) return;
  TUserSession* session = UserSession();
  session->DomainIndex = cmbDomains->itemIndex;
  if (!session->GetCurrentDomain()) return;
  release();
  CreatePage(app(), pageId())->show();
}
