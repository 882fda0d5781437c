#include "webadmin/fDomainsHeaders.h"

#include "Common/uDomainClasses.h"
#include "webadmin/uPageLayout.h"

TfrmDomainsHeaders::TfrmDomainsHeaders(web::WebApplication& app)
    : TfrmDomainSubPage(app, AdminPage::DomainsHeaders, "hdDomainsHeaders.jpg") {
  TPageLayout row(this, rgnContent, 10);
  row.Caption("Add to/replace request header:")->width = 200;
  mmAddRequest = row.Field<web::Memo>("mmAddRequest", 360, 160);
  row.Caption("Add to/replace response header:")->width = 200;
  mmAddResponse = row.Field<web::Memo>("mmAddResponse", 360, 160);
  StartUp();
}

void TfrmDomainsHeaders::LoadControls(TDomain& d) {
  mmAddRequest->setText(d.RequestHeadersToAdd.Text());
  mmAddResponse->setText(d.ResponseHeadersToAdd.Text());
}

bool TfrmDomainsHeaders::StoreFields(TDomain& d) {
  d.RequestHeadersToAdd.SetText(mmAddRequest->text());
  d.ResponseHeadersToAdd.SetText(mmAddResponse->text());
  return true;
}
