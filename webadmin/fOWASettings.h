// The certificate page of the Outlook Web Access edition. It shows its
// controls and the certificate folder; only its creation does anything.
#pragma once

#include "platform/web/WebControls.h"
#include "platform/web/WebForm.h"

class TfrmOWASettings : public web::AppForm {
 public:
  explicit TfrmOWASettings(web::WebApplication& app);

  web::Region* rgnSettings;
  web::Url* IWURLHelp;
  web::ImageFile *imgHeader, *imgSSLSettings, *imgStatus;
  web::Label *lblPath, *lblUploadStatus, *lblStatus, *lblSaved;
  web::FileUpload* fileUpload;
  web::ComboBox *cmbRootCertFile, *cmbCertFile, *cmbKeyFile, *cmbSSLVersion;
  web::Edit* edtCertPassword;
  web::CheckBox* chkSSLEnabled;
  web::Button* btnSaveSettings;
};
