#include "webadmin/fTestRequest.h"

#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"
#include "webadmin/uPageLayout.h"

TfrmTestRequest::TfrmTestRequest(web::WebApplication& app) : TAdminPage(app, AdminPage::TestRequest) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(560);
  CreateTitleImages(rgnSettings, "vtwaTest_request.jpg", "hdTestRequest.jpg");

  TPageLayout row(this, rgnSettings, 70);
  row.Caption("Host:");
  edtHost = row.Field<web::Edit>("edtHost");
  row.Caption("Port:");
  edtPort = row.Field<web::Edit>("edtPort", 80);
  edtPort->text = "80";
  row.Caption("Path/document:");
  edtPath = row.Field<web::Edit>("edtPath");
  edtPath->text = "/";
  row.Caption("Caller IP:");
  edtCallerIP = row.Field<web::Edit>("edtCallerIP");
  edtCallerIP->text = "127.0.0.1";
  row.Caption("Local IP:");
  edtLocalIP = row.Field<web::Edit>("edtLocalIP");
  edtLocalIP->text = "127.0.0.1";
  btnTest = create<web::Button>("btnTest", rgnSettings);
  btnTest->caption = "Test";
  btnTest->setBounds(TPageLayout::ControlLeft, row.Top(), 80, 24);
  btnTest->onClick = [this](web::Control& s) { btnTestClick(s); };
  row.Skip(34);
  row.Caption("Test report:");
  mmTestReport = create<web::Memo>("mmTestReport", rgnSettings);
  mmTestReport->setBounds(TPageLayout::LabelLeft, row.Top() + 4, 500, 300);

  InitCommon();
}

void TfrmTestRequest::btnTestClick(web::Control&) {
  const int32_t port = StrToInt(edtPort->text);
  TStringList lines;
  UserSession()->DomainHandler->DescribeMatch(edtHost->text, edtLocalIP->text, lines, edtCallerIP->text,
                                              edtPath->text, port);
  lines.Add("");
  mmTestReport->lines.clear();
  for (int i = 0; i < lines.Count(); ++i) mmTestReport->lines.push_back(lines[i]);
}
