// The login page, the start page of every session that is not a public
// status request.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TfrmLogin : public TAdminPage {
 public:
  explicit TfrmLogin(web::WebApplication& app);

  web::Region* rgnLogin;
  web::ImageFile* imgLoginLogo;
  web::Label* lblUsername;
  web::Label* lblPassword;
  web::Edit* edtUsername;
  web::Edit* edtPassword;
  web::Button* btnLogin;
  web::Label* lblPleaseRetry;

  void btnLoginClick(web::Control& sender);
};
