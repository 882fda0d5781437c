#include "webadmin/fLogin.h"

#include "Common/uProgramMode.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"

TfrmLogin::TfrmLogin(web::WebApplication& app) : TAdminPage(app, AdminPage::Login) {
  rgnLogin = create<web::Region>("rgnLogin", this);
  rgnLogin->setBounds(200, 80, 330, 250);
  rgnLogin->border = true;
  imgLoginLogo = create<web::ImageFile>("imgLoginLogo", rgnLogin);
  imgLoginLogo->setBounds(60, 10, 210, 85);
  imgLoginLogo->fileName = OWAEdition ? "..\\Files\\LoginLogoOWA.jpg" : "..\\Files\\LoginLogo.jpg";
  lblUsername = create<web::Label>("lblUsername", rgnLogin);
  lblUsername->caption = "Username:";
  lblUsername->setBounds(20, 113, 80, 16);
  edtUsername = create<web::Edit>("edtUsername", rgnLogin);
  edtUsername->setBounds(110, 110, 190, 21);
  lblPassword = create<web::Label>("lblPassword", rgnLogin);
  lblPassword->caption = "Password:";
  lblPassword->setBounds(20, 143, 80, 16);
  edtPassword = create<web::Edit>("edtPassword", rgnLogin);
  edtPassword->password = true;
  edtPassword->setBounds(110, 140, 190, 21);
  btnLogin = create<web::Button>("btnLogin", rgnLogin);
  btnLogin->caption = "Login";
  btnLogin->setBounds(110, 172, 80, 25);
  lblPleaseRetry = create<web::Label>("lblPleaseRetry", rgnLogin);
  lblPleaseRetry->caption = "Login failed! Please try again.";
  lblPleaseRetry->font.color = web::colors::Red;
  lblPleaseRetry->visible = false;
  lblPleaseRetry->setBounds(20, 210, 290, 16);

  btnLogin->onClick = [this](web::Control& s) { btnLoginClick(s); };
  edtUsername->onSubmit = [this](web::Control& s) { btnLoginClick(s); };
  edtPassword->onSubmit = [this](web::Control& s) { btnLoginClick(s); };
  activeControl = edtUsername;
}

void TfrmLogin::btnLoginClick(web::Control&) {
  TDomainHandler& settings = *UserSession()->DomainHandler;
  if (UpperCase(settings.Username) == UpperCase(edtUsername->text) && settings.Password == edtPassword->text) {
    settings.Log("User: " + settings.Username + " logged in");
    app().setAuthenticated(true);
    release();
    CreatePage(app(), OWAEdition ? AdminPage::OWAMain : AdminPage::Main)->show();
  } else {
    lblPleaseRetry->visible = true;
    activeControl = edtUsername;
  }
}
