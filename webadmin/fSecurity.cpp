#include "webadmin/fSecurity.h"

#include "Common/uDomainHandler.h"
#include "webadmin/UserSession.h"
#include "webadmin/uPageLayout.h"

TfrmSecurity::TfrmSecurity(web::WebApplication& app) : TAdminPage(app, AdminPage::Security) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(480);

  TPageLayout row(this, rgnSettings, 40);
  web::Label* caption = row.Caption("Forbidden/allowed for the entire Vantrell Switch server:");
  caption->width = 420;
  row.Skip(TPageLayout::RowHeight);
  // "Send denied 401", "Close Connection", "Send File".
  CreateRuleControls(row, "IP's in list are forbidden ", {0, 2, 3});
  row.Skip(TPageLayout::RowHeight + 4);
  btnSaveSettings = CreateSaveRow(row, [this](web::Control& s) { btnSaveSettingsClick(s); });

  InitCommon();
  LoadRule(UserSession()->DomainHandler->AdminIPRestrictor);
}

// Without a choice (a stored action the combo does not offer) the rule
// gets "Send denied 401".
void TfrmSecurity::StoreControls() {
  const int chosen = ChosenAction();
  const int action = chosen < 0 ? 0 : chosen;
  if (!CheckRuleFile(action)) return;
  SaveSettingsSequence([this, action] { StoreRule(UserSession()->DomainHandler->AdminIPRestrictor, action); });
  activeControl = nullptr;
}
