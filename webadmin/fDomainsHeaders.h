// The current domain's header lines added to or replacing those of requests
// and responses.
#pragma once

#include "webadmin/fDomainSubPage.h"

class TfrmDomainsHeaders : public TfrmDomainSubPage {
 public:
  explicit TfrmDomainsHeaders(web::WebApplication& app);

  web::Memo *mmAddRequest, *mmAddResponse;

 protected:
  void LoadControls(TDomain& domain) override;
  bool StoreFields(TDomain& domain) override;
};
