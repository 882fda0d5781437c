// The page of one SSL certificate set: its files, password, verification,
// ciphers and bindings, and the upload of certificate and key files into
// data/cert/. Saving checks the set first and restarts the running engine's
// listeners. All content lies in rgnSettings, so the edition shell can show it.
#pragma once

#include <cstdint>
#include <memory>
#include <tuple>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uPageLayout.h"
#include "webadmin/uVTWAWarnings.h"

class TSSLSettings;

// The cipher-list presets of the three buttons.
extern const char* const CipherListLow;
extern const char* const CipherListMedium;
extern const char* const CipherListHigh;

// The rows "Root Certificate File:", "Certificate File:" and "Key File:"
// with cmbRootCertFile, cmbCertFile and cmbKeyFile (the OWA edition's
// certificate page has them too).
std::tuple<web::ComboBox*, web::ComboBox*, web::ComboBox*> CreateCertFileCombos(TPageLayout& row);

class TfrmSSLSettings : public TAdminPage {
 public:
  explicit TfrmSSLSettings(web::WebApplication& app);
  ~TfrmSSLSettings() override;

  // The selected row of the bindings grid; -1 for none.
  int32_t SelectedBinding = -1;

  web::Region* rgnSettings;
  web::ComboBox *cmbSSLCertificates, *cmbRootCertFile, *cmbCertFile, *cmbKeyFile;
  web::Edit *edtCertificateName, *edtCertPassword, *edtCipherList, *edtBindIP, *edtBindPort;
  web::CheckBox *chkSSLEnabled, *chkVerifyPeer, *chkFailIfNoPeerCert, *chkVerifyClientOnce;
  web::Label *lblPath, *lblFailIfNoPeerCert, *lblVerifyClientOnce, *lblUploadStatus, *lblStatus, *lblRestart;
  web::Button *btnCipherListLow, *btnCipherListMedium, *btnCipherListHigh, *btnBindingAdd, *btnBindingUpdate,
      *btnUpload, *btnSaveSettings;
  web::Grid* grdBindings;
  web::FileUpload* fileUpload;
  web::Url* IWURL1;
  web::ImageFile *imgStatus, *imgHeader;

  // The set at the session's index, the first set for -1; nil when the
  // copy has none.
  TSSLSettings* CurrentSSLSettings() const;
  void LoadSettings();
  void RefreshStatus() override;
  void FillCertificateCombo();
  void BuildBindingsGrid();

  void btnSaveSettingsClick(web::Control& sender);
  void btnUploadClick(web::Control& sender);
  void chkVerifyPeerClick(web::Control& sender);
  void cmbSSLCertificatesChange(web::Control& sender);
  void btnBindingAddClick(web::Control& sender);
  void btnBindingUpdateClick(web::Control& sender);
  void btnCipherListLowClick(web::Control&);
  void btnCipherListMediumClick(web::Control&);
  void btnCipherListHighClick(web::Control&);
  void imgBindingEditClick(web::Control& sender);
  void imgBindingRemoveClick(web::Control& sender);

 private:
  // The page's controls into Set (files, password, flags, name, ciphers).
  void SaveSettings(TSSLSettings& set);
  // False, with the check's message in a message box, when Set has an error.
  bool Validate(TSSLSettings& set);
  std::unique_ptr<TErrorWarningChecker> FChecker;
};

// The set page, or the list page when the session's index names no set.
web::AppForm* CreateSSLSettingsPage(web::WebApplication& app);
