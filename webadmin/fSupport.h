// The support page: the vendor's support page in an inline frame, told the
// version and the features the session's configuration uses.
#pragma once

#include <string>

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"

class TDomainHandler;

// The vendor's support page that the frame shows.
inline constexpr const char* SupportPageBaseURL = "http://www.vantrell.com/support/vtsupport.asp";

// ver, name (only for a non-blank GateName), comp, ssl and lb, in that
// order, each as name="value" joined by "&". Inside the quotes the
// characters a URL cannot carry as they are (blank, quotes, <, >, &, #, %,
// controls, non-ASCII) are percent-encoded.
std::string BuildSupportQuery(const TDomainHandler& settings);

class TfrmSupport : public TAdminPage {
 public:
  explicit TfrmSupport(web::WebApplication& app);

  web::UrlWindow* wndSupport;
};
