// The compression page: which responses the switch compresses.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TfrmCompression : public TAdminPage {
 public:
  explicit TfrmCompression(web::WebApplication& app);

  web::Region* rgnSettings;
  web::CheckBox* IWCheckBoxCompressionEnabled;
  web::Memo *mmExtToCompress, *mmMIMEToCompress;
  web::Button *IWButtonSetEXTDefaults, *IWButtonSetMIMEDefaults, *btnSaveSettings;

  void IWButtonSetEXTDefaultsClick(web::Control& sender);
  void IWButtonSetMIMEDefaultsClick(web::Control& sender);
  void btnSaveSettingsClick(web::Control&) { SaveSettings(); }
  void SaveSettings();
};
