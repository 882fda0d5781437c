// The family of small pages on one part of the current domain (headers,
// security, virtual domains): the menu, the domain combo, the status line,
// the save pattern. A page adds its controls, loads them and stores them.
#pragma once

#include <memory>
#include <string>

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TDomain;

class TfrmDomainSubPage : public TAdminPage, public IKeepsUnsavedEdits {
 public:
  ~TfrmDomainSubPage() override;

  web::ImageFile *imgHeader, *imgVtwa, *imgStatus;
  web::ComboBox* cmbDomains;
  web::Label* lblStatus;
  web::Region* rgnContent;  // the page's own controls
  web::Button* btnSaveSettings;

  // Navigation between the domain's pages stores the controls first.
  void StoreControls(bool) override { Store(); }
  void RefreshStatus() override;
  void btnSaveSettingsClick(web::Control& sender);
  void cmbDomainsChange(web::Control& sender);

 protected:
  // HeaderImage: the header picture's name in Files/.
  TfrmDomainSubPage(web::WebApplication& app, AdminPage id, const std::string& headerImage);
  // The last creation steps, once the page's controls exist: the links, the
  // menu, the domain combo, the controls loaded, the check.
  void StartUp();
  // Copies the domain into the page's controls.
  virtual void LoadControls(TDomain& domain) = 0;
  // Copies the controls into the domain; false stops the store (and the save).
  virtual bool StoreFields(TDomain& domain) = 0;
  // After the file was written.
  virtual void AfterSave(TDomain&) {}

 private:
  bool Store();
  std::unique_ptr<TErrorWarningChecker> FChecker;
};
