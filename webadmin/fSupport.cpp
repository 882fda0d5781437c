#include "webadmin/fSupport.h"

#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "webadmin/UserSession.h"

namespace {

std::string QueryValue(const std::string& value) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '&' || c == '#' || c == '%' ||
        c == '\'' || c == '\\' || c == '+') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Param(const std::string& name, const std::string& value) {
  return name + "=\"" + QueryValue(value) + "\"";
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
  auto* imgTitle = create<web::ImageFile>("imgTitle", rgn);
  imgTitle->fileName = "..\\Files\\vtwaSupport.jpg";
  imgTitle->setBounds(10, 8, 48, 48);
  auto* imgHeader = create<web::ImageFile>("imgHeader", rgn);
  imgHeader->fileName = "..\\Files\\hdSupport.jpg";
  imgHeader->setBounds(66, 12, 300, 40);
  wndSupport = create<web::UrlWindow>("wndSupport", rgn);
  wndSupport->setBounds(10, 70, 500, 600);
  InitCommon();
  wndSupport->url = std::string(SupportPageBaseURL) + "?" + BuildSupportQuery(*UserSession()->DomainHandler);
}
