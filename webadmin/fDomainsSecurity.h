// The current domain's address rule and what a refused request gets.
#pragma once

#include "webadmin/fDomainSubPage.h"
#include "webadmin/uIPRuleControls.h"

class TfrmDomainsSecurity : public TfrmDomainSubPage, public TIPRuleControls {
 public:
  explicit TfrmDomainsSecurity(web::WebApplication& app);

 protected:
  void LoadControls(TDomain& domain) override;
  bool StoreFields(TDomain& domain) override;
};
