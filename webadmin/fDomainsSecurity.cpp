#include "webadmin/fDomainsSecurity.h"

#include "Common/uDomainClasses.h"
#include "webadmin/uPageLayout.h"

TfrmDomainsSecurity::TfrmDomainsSecurity(web::WebApplication& app)
    : TfrmDomainSubPage(app, AdminPage::DomainsSecurity, "hdDomainsSecurity.jpg") {
  TPageLayout row(this, rgnContent, 10);
  row.Caption("Forbidden/allowed IPs for this domain:")->width = 300;
  row.Skip(TPageLayout::RowHeight);
  // Every deny action but "Not Denied", in stored-value order.
  CreateRuleControls(row, "IP's in list are forbidden     ", {0, 1, 2, 3});
  StartUp();
}

void TfrmDomainsSecurity::LoadControls(TDomain& d) { LoadRule(d.IPRestrictor); }

// A stored action the combo does not offer stays as stored.
bool TfrmDomainsSecurity::StoreFields(TDomain& d) {
  const int action = ChosenAction();
  if (!CheckRuleFile(action)) return false;
  StoreRule(d.IPRestrictor, action);
  mmIPNumbers->setText(d.IPRestrictor.IPNumbers.Text());
  return true;
}
