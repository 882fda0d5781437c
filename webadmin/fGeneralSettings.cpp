#include "webadmin/fGeneralSettings.h"

#include <tuple>

#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uPageLayout.h"

namespace {

const char* const XForwardedForHint =
    "If a frontend web product is used in front of Vantrell Switch, this will enable Vantrell Switch to detect the "
    "actual IP number of the real user. This is used for IP based load balancing.";
const char* const DefaultCallerIPHeaders = "X-Forwarded-for;rlnclientipaddr";

}  // namespace

TfrmGeneralSettings::TfrmGeneralSettings(web::WebApplication& app) : TAdminPage(app, AdminPage::GeneralSettings) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(640);

  TPageLayout row(this, rgnSettings, 40);
  row.Caption("Server name:");
  edtGateName = row.Field<web::Edit>("edtGateName");
  row.Caption("Web Admin Port:");
  edtAdminPort = row.Field<web::Edit>("edtAdminPort", 80);
  row.Caption("Login name:");
  edtUsername = row.Field<web::Edit>("edtUsername");
  row.Caption("Password:");
  edtPassword = row.Field<web::Edit>("edtPassword");
  edtPassword->password = true;
  row.Caption("Password verify:");
  edtPasswordVerify = row.Field<web::Edit>("edtPasswordVerify");
  edtPasswordVerify->password = true;
  lblPasswordVerify = row.NoteBeside("lblPasswordVerify", edtPasswordVerify, 180);
  lblPasswordVerify->caption = "Password does not verify";
  lblPasswordVerify->font.color = web::colors::Red;
  lblPasswordVerify->visible = false;
  row.Caption("Max threads to pool:");
  edtMaxThreads = row.Field<web::Edit>("edtMaxThreads", 80);
  row.Caption("Public statuspage:");
  chkAllowAccessToStatus = row.Field<web::CheckBox>("chkAllowAccessToStatus", 40);
  row.Caption("No remote admin:");
  chkNoRemoteAdmin = row.Field<web::CheckBox>("chkNoRemoteAdmin", 40);

  // Stored and kept through every save, but not offered.
  web::Label* mailLabel = row.Caption("Email to administrator:", "lblContactEmailAddress");
  mailLabel->visible = false;
  edtContactEmailAddress = create<web::Edit>("edtContactEmailAddress", rgnSettings);
  edtContactEmailAddress->setBounds(TPageLayout::ControlLeft, mailLabel->top - 2, 220, 20);
  edtContactEmailAddress->visible = false;
  btnTestEmail = create<web::Button>("btnTestEmail", rgnSettings);
  btnTestEmail->caption = "Test";
  btnTestEmail->setBounds(TPageLayout::ControlLeft + 230, mailLabel->top - 2, 50, 20);
  btnTestEmail->visible = false;
  web::Label* brokenLabel = row.Caption("Email on broken server:", "lblSendMailOnBrokenServer");
  brokenLabel->visible = false;
  chkSendMailOnBrokenServer = create<web::CheckBox>("chkSendMailOnBrokenServer", rgnSettings);
  chkSendMailOnBrokenServer->setBounds(TPageLayout::ControlLeft, brokenLabel->top - 2, 40, 20);
  chkSendMailOnBrokenServer->visible = false;

  row.Caption("Status check method:");
  cmbCheckMethod = row.Field<web::ComboBox>("cmbCheckMethod");
  for (const char* item : {"Failure to open socket", "Failure to get HTTP document", "Failure to ping"})
    cmbCheckMethod->addItem(item);
  row.Caption("Allow Keep-Alive:");
  chkAllowKeepAlive = row.Field<web::CheckBox>("chkAllowKeepAlive", 40);
  row.Caption("Remove VT Headers");
  chkRemoveVTHeaders = row.Field<web::CheckBox>("chkRemoveVTHeaders", 40);
  row.Caption("Log Directory:");
  edtLogDirectory = row.Field<web::Edit>("edtLogDirectory");
  web::Label* note = row.Caption("(Leave empty for default directory)");
  note->left = TPageLayout::ControlLeft;
  note->width = 260;
  row.Skip(TPageLayout::RowHeight);
  web::Label* xff1 = row.Caption("Use \"X-Forwarded-For\"", "lblUseXForwardedFor");
  xff1->hint = XForwardedForHint;
  chkUseXForwardedFor = row.Field<web::CheckBox>("chkUseXForwardedFor", 40);
  chkUseXForwardedFor->hint = XForwardedForHint;
  web::Label* xff2 = row.Caption("as session identifier");
  xff2->top -= 8;
  xff2->hint = XForwardedForHint;
  // The second caption line ends 18 below its top; a row's gap follows it.
  row.Skip(18);
  row.Caption("Custom caller IP headers:");
  edtCustomCallerIPHeader = row.Field<web::Edit>("edtCustomCallerIPHeader");
  edtCustomCallerIPHeader->hint = "Add your custom Caller IP headers. Separated with a semicolon (;).";
  btnResetCustomCallerIPHeaders = create<web::Button>("btnResetCustomCallerIPHeaders", rgnSettings);
  btnResetCustomCallerIPHeaders->caption = "Reset";
  btnResetCustomCallerIPHeaders->setBounds(TPageLayout::ControlLeft + 230, edtCustomCallerIPHeader->top, 60, 20);
  btnResetCustomCallerIPHeaders->onClick = [this](web::Control& s) { btnResetCustomCallerIPHeadersClick(s); };

  row.Caption("Logging options:");
  const int logTop = row.Top();
  chkW3C = create<web::CheckBox>("chkW3C", rgnSettings);
  chkEvent = create<web::CheckBox>("chkEvent", rgnSettings);
  chkTrace = create<web::CheckBox>("chkTrace", rgnSettings);
  int x = TPageLayout::ControlLeft;
  for (auto [box, caption] : {std::pair{chkW3C, "W3C"}, {chkEvent, "Event"}, {chkTrace, "Trace"}}) {
    box->caption = caption;
    box->setBounds(x, logTop, 70, 20);
    x += 75;
  }
  chkW3C->onClick = [this](web::Control& s) { chkW3CClick(s); };
  chkEvent->onClick = [this](web::Control& s) { chkEventClick(s); };
  chkTrace->onClick = [this](web::Control& s) { chkTraceClick(s); };
  row.Skip(TPageLayout::RowHeight + 10);

  std::tie(imgStatus, lblStatus) = row.StatusLine(460);
  btnSaveSettings = CreateSaveRow(row, [this](web::Control& s) { btnSaveSettingsClick(s); });

  InitCommon();

  TDomainHandler& h = *UserSession()->DomainHandler;
  edtGateName->text = h.GateName;
  edtAdminPort->text = IntToStr(h.AdminPort);
  edtUsername->text = h.Username;
  edtPassword->text = h.Password;
  edtPasswordVerify->text = h.Password;
  edtMaxThreads->text = IntToStr(h.MaxThreads);
  chkAllowAccessToStatus->checked = h.AllowAccessToStatus;
  chkNoRemoteAdmin->checked = h.NoRemoteAdmin;
  edtContactEmailAddress->text = h.ContactEmailAddress;
  chkSendMailOnBrokenServer->checked = h.SendMailOnBrokenServer;
  cmbCheckMethod->itemIndex = h.CheckMethod < cmbCheckMethod->items.size() ? h.CheckMethod : -1;
  chkAllowKeepAlive->checked = h.AllowKeepAlive;
  chkRemoveVTHeaders->checked = h.RemoveVTHeaders;
  edtLogDirectory->text = h.LogDirectory;
  chkUseXForwardedFor->checked = h.UseXForwardedFor;
  edtCustomCallerIPHeader->text = h.CustomCallerIPHeaders;
  chkW3C->checked = (h.LogOptions & 1) != 0;
  chkEvent->checked = (h.LogOptions & 2) != 0;
  chkTrace->checked = (h.LogOptions & 4) != 0;

  SetTaggedURLs(this, std::string(HelpIndexURL) + "generalsettings.htm");
  checker_ = std::make_unique<TErrorWarningChecker>(lblStatus, &h, imgStatus);
  checker_->CheckGeneral();
}

TfrmGeneralSettings::~TfrmGeneralSettings() = default;

void TfrmGeneralSettings::RefreshStatus() {
  // The copy may have been replaced since the checker was made.
  checker_->Settings = UserSession()->DomainHandler.get();
  checker_->CheckGeneral();
}

void TfrmGeneralSettings::SetLogBit(const web::CheckBox& box, uint8_t bit) {
  TDomainHandler& h = *UserSession()->DomainHandler;
  h.LogOptions = box.checked ? (h.LogOptions | bit) : (h.LogOptions & ~bit);
}

void TfrmGeneralSettings::btnResetCustomCallerIPHeadersClick(web::Control&) {
  edtCustomCallerIPHeader->text = DefaultCallerIPHeaders;
}

// In the order of the fields; a MaxThreads text that is no number raises
// after the fields before it were stored, and nothing is written.
void TfrmGeneralSettings::StoreFields() {
  TDomainHandler& h = *UserSession()->DomainHandler;
  h.GateName = edtGateName->text;
  h.SetAdminPort(StrToIntDef(edtAdminPort->text, DefaultAdminPort));
  edtAdminPort->text = IntToStr(h.AdminPort);
  h.Username = edtUsername->text;
  h.Password = edtPassword->text;
  h.MaxThreads = StrToInt(edtMaxThreads->text);
  h.AllowAccessToStatus = chkAllowAccessToStatus->checked;
  h.NoRemoteAdmin = chkNoRemoteAdmin->checked;
  h.ContactEmailAddress = edtContactEmailAddress->text;
  h.SendMailOnBrokenServer = chkSendMailOnBrokenServer->checked;
  h.CheckMethod = static_cast<uint8_t>(cmbCheckMethod->itemIndex);
  h.AllowKeepAlive = chkAllowKeepAlive->checked;
  h.RemoveVTHeaders = chkRemoveVTHeaders->checked;
  h.LogDirectory = edtLogDirectory->text;
  h.UseXForwardedFor = chkUseXForwardedFor->checked;
  h.CustomCallerIPHeaders = edtCustomCallerIPHeader->text;
}

void TfrmGeneralSettings::btnSaveSettingsClick(web::Control&) {
  if (edtPassword->text != edtPasswordVerify->text) {
    lblSaved->visible = false;
    lblPasswordVerify->visible = true;
    activeControl = edtGateName;
    RefreshStatus();
    return;
  }
  lblPasswordVerify->visible = false;
  SaveSettingsSequence([this] { StoreFields(); });
  activeControl = nullptr;
}
