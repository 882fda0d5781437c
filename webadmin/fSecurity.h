// The security page: the server-wide address rule, tested before any domain.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TfrmSecurity : public TAdminPage {
 public:
  explicit TfrmSecurity(web::WebApplication& app);

  web::Region* rgnSettings;
  web::RadioGroup* rgrpAllowForbidd;
  web::Memo* mmIPNumbers;
  web::ComboBox* cmbRequestDeniedAction;
  web::Edit* edtFileName;
  web::Label* lblFileDoesNotExist;
  web::Button* btnSaveSettings;

  void btnSaveSettingsClick(web::Control&) { StoreControls(); }
  void StoreControls();
};
