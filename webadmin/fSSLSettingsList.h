// The certificate-set list page: every SSL certificate set of the saved
// configuration, switched on and off, removed, edited or added. All content
// lies in rgnSettings: the edition shell's SSL item shows this page while
// the configuration has no set.
#pragma once

#include <memory>

#include "platform/web/WebControls.h"
#include "platform/web/WebGrid.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uVTWAWarnings.h"

class TSSLSettings;

class TfrmSSLSettingsList : public TAdminPage {
 public:
  explicit TfrmSSLSettingsList(web::WebApplication& app);
  ~TfrmSSLSettingsList() override;

  web::Region* rgnSettings;
  web::Button* btnNewCertificate;
  web::Grid* grdSSLSettingsList;
  web::Label* lblStatus;
  web::ImageFile *imgStatus, *imgHeader;

  void RefreshStatus() override;
  void BuildGrid();
  void btnNewCertificateClick(web::Control& sender);
  void imgOnOffClick(web::Control& sender);
  void imgEditClick(web::Control& sender);
  void imgRemoveClick(web::Control& sender);

 private:
  // The set a row image names, after making it the current one; nil for
  // another sender or an index that names nothing.
  TSSLSettings* SelectRowSet(web::Control& sender);
  std::unique_ptr<TErrorWarningChecker> FChecker;
};
