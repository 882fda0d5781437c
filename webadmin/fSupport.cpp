#include "webadmin/fSupport.h"

#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "platform/web/WebEscape.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"

namespace {

std::string Param(const std::string& name, const std::string& value) {
  return name + "=\"" + web::UrlEncode(value) + "\"";
}

const char* Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

std::string BuildSupportQuery(const TDomainHandler& h) {
  std::string q = Param("ver", VTVersion);
  if (!Trim(h.GateName).empty()) q += "&" + Param("name", h.GateName);
  q += "&" + Param("comp", Bool(h.CompressionLimiter.Enabled));
  const TSSLSettings* first = h.FirstSSLSettingsOrNull();
  q += "&" + Param("ssl", Bool(first != nullptr && first->Enabled));
  bool lb = false;
  for (int i = 0; i < h.ServerClusters->Count(); ++i) lb = lb || h.ServerClusters->GetCluster(i)->Enabled;
  q += "&" + Param("lb", Bool(lb));
  return q;
}

TfrmSupport::TfrmSupport(web::WebApplication& app) : TAdminPage(app, AdminPage::Support) {
  CreateMenu();
  web::Region* rgn = CreateSettingsRegion(700);
  CreateTitleImages(rgn, "vtwaSupport.jpg", "hdSupport.jpg");
  wndSupport = create<web::UrlWindow>("wndSupport", rgn);
  wndSupport->setBounds(10, 70, 500, 600);
  InitCommon();
  wndSupport->url = std::string(SupportPageBaseURL) + "?" + BuildSupportQuery(*UserSession()->DomainHandler);
}
