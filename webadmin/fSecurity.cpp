#include "webadmin/fSecurity.h"

#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/uPageLayout.h"

namespace {

// The deny actions this page offers, by their stored values.
constexpr int OfferedActions[] = {0, 2, 3};
constexpr int SendFileAction = 3;

}  // namespace

TfrmSecurity::TfrmSecurity(web::WebApplication& app) : TAdminPage(app, AdminPage::Security) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(480);

  TPageLayout row(this, rgnSettings, 40);
  web::Label* caption = row.Caption("Forbidden/allowed for the entire Vantrell Switch server:");
  caption->width = 420;
  row.Skip(TPageLayout::RowHeight);
  rgrpAllowForbidd = create<web::RadioGroup>("rgrpAllowForbidd", rgnSettings);
  rgrpAllowForbidd->setBounds(TPageLayout::LabelLeft, row.Top(), 300, 44);
  rgrpAllowForbidd->addItem("IP's in list are forbidden ");
  rgrpAllowForbidd->addItem("IP's in list are allowed");
  row.Skip(54);
  row.Caption("IP numbers:");
  mmIPNumbers = row.Field<web::Memo>("mmIPNumbers", 220, 160);
  row.Caption("Action:");
  cmbRequestDeniedAction = row.Field<web::ComboBox>("cmbRequestDeniedAction");
  for (int action : OfferedActions) cmbRequestDeniedAction->addItem(DenyActionNames[action]);
  row.Caption("Filename:");
  edtFileName = row.Field<web::Edit>("edtFileName");
  lblFileDoesNotExist = create<web::Label>("lblFileDoesNotExist", rgnSettings);
  lblFileDoesNotExist->caption = "File does not exist!";
  lblFileDoesNotExist->font.color = web::colors::Red;
  lblFileDoesNotExist->visible = false;
  lblFileDoesNotExist->setBounds(TPageLayout::ControlLeft, row.Top(), 200, 18);
  row.Skip(TPageLayout::RowHeight + 4);
  btnSaveSettings = create<web::Button>("btnSaveSettings", rgnSettings);
  btnSaveSettings->caption = "Save settings";
  btnSaveSettings->setBounds(TPageLayout::LabelLeft, row.Top(), 110, 24);
  btnSaveSettings->onClick = [this](web::Control& s) { btnSaveSettingsClick(s); };
  CreateSavedLabel(TPageLayout::LabelLeft + 130, row.Top() + 4)->setParent(rgnSettings);

  InitCommon();

  const TIPRestrictor& r = UserSession()->DomainHandler->AdminIPRestrictor;
  rgrpAllowForbidd->itemIndex = r.Mode != 0 ? 0 : 1;
  const std::string stored = DenyActionText(r.RequestDeniedAction);
  for (size_t i = 0; i < cmbRequestDeniedAction->items.size(); ++i)
    if (cmbRequestDeniedAction->items[i] == stored) cmbRequestDeniedAction->itemIndex = static_cast<int>(i);
  edtFileName->text = r.FileName;
  mmIPNumbers->setText(r.IPNumbers.Text());
}

void TfrmSecurity::StoreControls() {
  int action = 0;
  const std::string chosen = cmbRequestDeniedAction->text();
  for (size_t i = 0; i < DenyActionNames.size(); ++i)
    if (chosen == DenyActionNames[i]) action = static_cast<int>(i);
  if (action == SendFileAction && !FileExists(edtFileName->text)) {
    lblFileDoesNotExist->visible = true;
    return;
  }
  lblFileDoesNotExist->visible = false;
  SaveSettingsSequence([this, action] {
    TIPRestrictor& r = UserSession()->DomainHandler->AdminIPRestrictor;
    r.Mode = rgrpAllowForbidd->itemIndex == 1 ? 0 : 1;
    r.IPNumbers.SetText(mmIPNumbers->text());
    r.RequestDeniedAction = static_cast<uint8_t>(action);
    r.FileName = edtFileName->text;
  });
  activeControl = nullptr;
}
