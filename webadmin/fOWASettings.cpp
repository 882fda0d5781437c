#include "webadmin/fOWASettings.h"

#include <tuple>

#include "platform/SysUtils.h"
#include "webadmin/fSSLSettings.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uPageLayout.h"

TfrmOWASettings::TfrmOWASettings(web::WebApplication& app) : AppForm(app, "frmOWASettings") {
  title = "Vantrell OWA - Web Admin";
  rgnSettings = create<web::Region>("rgnSettings", this);
  rgnSettings->setBounds(0, 0, 500, 520);
  IWURLHelp = CreateLink(this, rgnSettings, "IWURLHelp", "Help", 440, 10, 40, "OWASettings.htm");
  imgHeader = create<web::ImageFile>("imgHeader", rgnSettings);
  imgHeader->fileName = "..\\Files\\hdBO_OWASettings.jpg";
  imgHeader->setBounds(0, 0, 420, 36);
  imgSSLSettings = create<web::ImageFile>("imgSSLSettings", rgnSettings);
  imgSSLSettings->fileName = "..\\Files\\vtwaSSL_settings.jpg";
  imgSSLSettings->setBounds(0, 40, 420, 24);

  TPageLayout row(this, rgnSettings, 76);
  row.Caption("Certificate Location:");
  lblPath = row.Field<web::Label>("lblPath", 260, 18);
  lblPath->caption = "%s";
  row.Caption("Upload Cert/Key File");
  fileUpload = row.Field<web::FileUpload>("fileUpload");
  lblUploadStatus = row.Field<web::Label>("lblUploadStatus", 260, 18);
  lblUploadStatus->caption = "lblUploadStatus";
  std::tie(cmbRootCertFile, cmbCertFile, cmbKeyFile) = CreateCertFileCombos(row);
  for (web::ComboBox* c : {cmbRootCertFile, cmbCertFile, cmbKeyFile}) c->noSelectionText = "None";
  row.Caption("Certificate Password:");
  edtCertPassword = row.Field<web::Edit>("edtCertPassword");
  row.Caption("SSL Version:");
  cmbSSLVersion = row.Field<web::ComboBox>("cmbSSLVersion");
  cmbSSLVersion->noSelectionText = "-- No Selection --";
  row.Caption("Enabled:");
  chkSSLEnabled = row.Field<web::CheckBox>("chkSSLEnabled", 40);
  row.Skip(8);
  std::tie(imgStatus, lblStatus) = row.StatusLine(400);
  imgStatus->fileName = "..\\Files\\StatusGreen.jpg";  // nothing checks here: the picture beside "look OK"
  std::tie(btnSaveSettings, lblSaved) = row.SaveRow(nullptr);

  lblUploadStatus->caption = "";
  lblPath->caption = Format(lblPath->caption, CertificateFolder());
}
