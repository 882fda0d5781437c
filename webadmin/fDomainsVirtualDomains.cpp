#include "webadmin/fDomainsVirtualDomains.h"

#include "Common/uDomainClasses.h"
#include "webadmin/uPageLayout.h"

TfrmDomainsVirtualDomains::TfrmDomainsVirtualDomains(web::WebApplication& app)
    : TfrmDomainSubPage(app, AdminPage::DomainsVirtualDomains, "hdDomainsVirtualDomains.jpg") {
  TPageLayout row(this, rgnContent, 10);
  row.Caption("Virtual domains (* = wildcard):")->width = 200;
  mmVirtualDomains = row.Field<web::Memo>("mmVirtualDomains", 360, 300);
  StartUp();
}

void TfrmDomainsVirtualDomains::LoadControls(TDomain& d) { mmVirtualDomains->setText(d.VirtualDomains.Text()); }

bool TfrmDomainsVirtualDomains::StoreFields(TDomain& d) {
  d.VirtualDomains.SetText(mmVirtualDomains->text());
  return true;
}
