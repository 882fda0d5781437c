// The current domain's address rule and what a refused request gets.
#pragma once

#include "webadmin/fDomainSubPage.h"

class TfrmDomainsSecurity : public TfrmDomainSubPage {
 public:
  explicit TfrmDomainsSecurity(web::WebApplication& app);

  web::RadioGroup* rgrpAllowForbidd;
  web::Memo* mmIPNumbers;
  web::ComboBox* cmbRequestDeniedAction;
  web::Edit* edtFileName;
  web::Label* lblFileDoesNotExist;

 protected:
  void LoadControls(TDomain& domain) override;
  bool StoreFields(TDomain& domain) override;
};
