// The general settings page: the server-wide fields of the configuration
// copy, the logging options and the general check.
#pragma once

#include <memory>

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TfrmGeneralSettings : public TAdminPage {
 public:
  explicit TfrmGeneralSettings(web::WebApplication& app);
  ~TfrmGeneralSettings() override;

  web::Region* rgnSettings;
  web::Edit *edtGateName, *edtAdminPort, *edtUsername, *edtPassword, *edtPasswordVerify, *edtMaxThreads,
      *edtContactEmailAddress, *edtLogDirectory, *edtCustomCallerIPHeader;
  web::CheckBox *chkAllowAccessToStatus, *chkNoRemoteAdmin, *chkSendMailOnBrokenServer, *chkAllowKeepAlive,
      *chkRemoveVTHeaders, *chkUseXForwardedFor, *chkW3C, *chkEvent, *chkTrace;
  web::ComboBox* cmbCheckMethod;
  web::Label *lblPasswordVerify, *lblStatus;
  web::Button *btnSaveSettings, *btnResetCustomCallerIPHeaders, *btnTestEmail;
  web::ImageFile* imgStatus;

  void RefreshStatus() override;
  void btnSaveSettingsClick(web::Control& sender);
  void btnResetCustomCallerIPHeadersClick(web::Control& sender);
  void chkW3CClick(web::Control&) { SetLogBit(*chkW3C, 1); }
  void chkEventClick(web::Control&) { SetLogBit(*chkEvent, 2); }
  void chkTraceClick(web::Control&) { SetLogBit(*chkTrace, 4); }

 private:
  void SetLogBit(const web::CheckBox& box, uint8_t bit);
  void StoreFields();
  std::unique_ptr<TErrorWarningChecker> checker_;
};
