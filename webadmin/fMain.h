// The start page after the login: computer, version and live counters, and
// the four checks of the running configuration, whose icons lead to the
// first item at fault. All of it lies in rgnSettings, which the OWA shell
// embeds.
#pragma once

#include "platform/web/WebControls.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uCounters.h"

// The vendor's addresses behind the "External links".
inline constexpr const char* VendorHomePageURL = "http://www.vantrell.com/";
inline constexpr const char* VendorSupportURL = "http://www.vantrell.com/support/";

class TfrmMain : public TAdminPage {
 public:
  explicit TfrmMain(web::WebApplication& app);

  web::Region* rgnSettings;
  TCounterLabels Counters;
  web::ImageFile *imgStatusG, *imgStatusD, *imgStatusC, *imgStatusSSL;
  web::Label *lblStatusG, *lblStatusD, *lblStatusC, *lblStatusSSL;
  // Tag: the index of the failing item in the live configuration, or -1.
  web::ImageFile *imgGeneralSettingsIcon, *imgDomainsIcon, *imgClustersIcon, *imgSSLSettingsIcon;
  web::Url *IWURLDocumentation, *IWURLHomePage, *IWURLSupport;

  void onRender() override;
  void imgGeneralSettingsIconClick(web::Control& sender);
  void imgDomainsIconClick(web::Control& sender);
  void imgClustersIconClick(web::Control& sender);
  void imgSSLSettingsClick(web::Control& sender);

 private:
  void RunChecks();
  // The page of the item at Tag when the session copy has it, else nothing;
  // Tag < 0: the list page.
  void ShowItem(int tag, AdminPage list, AdminPage edit, int32_t& index, int count);
};
