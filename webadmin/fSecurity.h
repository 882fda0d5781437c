// The security page: the server-wide address rule, tested before any domain.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uIPRuleControls.h"

class TfrmSecurity : public TAdminPage, public TIPRuleControls {
 public:
  explicit TfrmSecurity(web::WebApplication& app);

  web::Region* rgnSettings;
  web::Button* btnSaveSettings;

  void btnSaveSettingsClick(web::Control&) { StoreControls(); }
  void StoreControls();
};
