#include "webadmin/fOWASettings.h"

#include "platform/SysUtils.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uPageLayout.h"

TfrmOWASettings::TfrmOWASettings(web::WebApplication& app) : AppForm(app, "frmOWASettings") {
  title = "Vantrell OWA - Web Admin";
  rgnSettings = create<web::Region>("rgnSettings", this);
  rgnSettings->setBounds(0, 0, 500, 520);
  IWURLHelp = create<web::Url>("IWURLHelp", rgnSettings);
  IWURLHelp->caption = "Help";
  IWURLHelp->target = "NewWindow";
  IWURLHelp->setBounds(440, 10, 40, 16);
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
  row.Caption("Root Certificate File:");
  cmbRootCertFile = row.Field<web::ComboBox>("cmbRootCertFile");
  row.Caption("Certificate File:");
  cmbCertFile = row.Field<web::ComboBox>("cmbCertFile");
  row.Caption("Key File:");
  cmbKeyFile = row.Field<web::ComboBox>("cmbKeyFile");
  for (web::ComboBox* c : {cmbRootCertFile, cmbCertFile, cmbKeyFile}) c->noSelectionText = "None";
  row.Caption("Certificate Password:");
  edtCertPassword = row.Field<web::Edit>("edtCertPassword");
  row.Caption("SSL Version:");
  cmbSSLVersion = row.Field<web::ComboBox>("cmbSSLVersion");
  cmbSSLVersion->noSelectionText = "-- No Selection --";
  row.Caption("Enabled:");
  chkSSLEnabled = row.Field<web::CheckBox>("chkSSLEnabled", 40);
  row.Skip(8);
  imgStatus = create<web::ImageFile>("imgStatus", rgnSettings);
  imgStatus->setBounds(TPageLayout::LabelLeft, row.Top(), 18, 18);
  imgStatus->fileName = "..\\Files\\StatusGreen.jpg";  // nothing checks here: the picture beside "look OK"
  lblStatus = create<web::Label>("lblStatus", rgnSettings);
  lblStatus->caption = "Settings look OK";
  lblStatus->setBounds(TPageLayout::LabelLeft + 26, row.Top(), 400, 18);
  row.Skip(TPageLayout::RowHeight + 4);
  btnSaveSettings = create<web::Button>("btnSaveSettings", rgnSettings);
  btnSaveSettings->caption = "Save settings";
  btnSaveSettings->setBounds(TPageLayout::LabelLeft, row.Top(), 110, 24);
  lblSaved = create<web::Label>("lblSaved", rgnSettings);
  lblSaved->caption = "Settings saved";
  lblSaved->visible = false;
  lblSaved->setBounds(TPageLayout::LabelLeft + 130, row.Top() + 4, 120, 18);

  lblUploadStatus->caption = "";
  IWURLHelp->url = std::string(HelpBaseURL) + "OWASettings.htm";
  lblPath->caption = Format(lblPath->caption, CertificateFolder());
}
