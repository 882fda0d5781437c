// The extra host names under which the current domain answers.
#pragma once

#include "webadmin/fDomainSubPage.h"

class TfrmDomainsVirtualDomains : public TfrmDomainSubPage {
 public:
  explicit TfrmDomainsVirtualDomains(web::WebApplication& app);

  web::Memo* mmVirtualDomains;

 protected:
  void LoadControls(TDomain& domain) override;
  bool StoreFields(TDomain& domain) override;
  void AfterSave(TDomain& domain) override { LoadControls(domain); }
};
