// The test request page: how the session's copy of the configuration,
// unsaved edits included, would route a request that is described, not sent.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TfrmTestRequest : public TAdminPage {
 public:
  explicit TfrmTestRequest(web::WebApplication& app);

  web::Region* rgnSettings;
  web::Edit *edtHost, *edtPort, *edtPath, *edtCallerIP, *edtLocalIP;
  web::Button* btnTest;
  web::Memo* mmTestReport;

  // A port that is no integer raises the conversion error; no report then.
  void btnTestClick(web::Control& sender);
};
