#include "webadmin/AdminPages.h"

#include <map>
#include <mutex>

#include "platform/SysUtils.h"
#include "webadmin/uAdminPage.h"

// Each built page's header. Keep a blank line between entries, so that
// pages added on different branches merge without conflicts.
#include "webadmin/fLogin.h"

#include "webadmin/fGeneralSettings.h"

#include "webadmin/fSecurity.h"

#include "webadmin/fCompression.h"

#include "webadmin/fOWAMain.h"

#include "webadmin/fMain.h"

#include "webadmin/fStatus.h"

#include "webadmin/fServer.h"

#include "webadmin/fTestRequest.h"

#include "webadmin/fLogView.h"

#include "webadmin/fSupport.h"

#include "webadmin/fServerClusters.h"

#include "webadmin/fServerClusterEdit.h"

#include "webadmin/fSSLSettingsList.h"

#include "webadmin/fSSLSettings.h"

#include "webadmin/fDomains.h"

#include "webadmin/fDomainsMain.h"

#include "webadmin/fDomainsHeaders.h"

#include "webadmin/fDomainsSecurity.h"

#include "webadmin/fDomainsVirtualDomains.h"

namespace {

const PageInfo kPages[] = {
    {AdminPage::Login, "TfrmLogin", "frmLogin", "Login", "", "login.html", false},
    {AdminPage::Main, "TfrmMain", "frmMain", "Main", "imgMain", "main.htm", false},
    {AdminPage::GeneralSettings, "TfrmGeneralSettings", "frmGeneralSettings", "General settings", "imgGeneral",
     "GeneralSettings.htm", false},
    {AdminPage::Domains, "TfrmDomains", "frmDomains", "Domains", "imgDomains", "domains.htm", false},
    {AdminPage::DomainsMain, "TfrmDomainsMain", "frmDomainsMain", "Domains/Main", "imgDomainsMain",
     "domainsmain.htm", true},
    {AdminPage::DomainsHeaders, "TfrmDomainsHeaders", "frmDomainsHeaders", "Domains/Headers", "imgDomainsHeaders",
     "domainsheaders.htm", true},
    {AdminPage::DomainsSecurity, "TfrmDomainsSecurity", "frmDomainsSecurity", "Domains/Security",
     "imgDomainsSecurity", "domainssecuritysettings.htm", true},
    {AdminPage::DomainsVirtualDomains, "TfrmDomainsVirtualDomains", "frmDomainsVirtualDomains",
     "Domains/Virtual domains", "imgDomainsVirtualDomains", "domainsvirtualdomains.htm", true},
    {AdminPage::ServerCluster, "TfrmServerCluster", "frmServerCluster", "Server Cluster", "imgServerCluster",
     "servercluster.html", false},
    {AdminPage::ServerClusterEdit, "TfrmServerClusterEdit", "frmServerClusterEdit", "Server Cluster Edit",
     "imgServerCluster", "serverclusteredit.html", false},
    {AdminPage::Security, "TfrmSecurity", "frmSecurity", "Security settings", "imgSecurity",
     "SecuritySettings.htm", false},
    {AdminPage::SSLSettingsList, "TfrmSSLSettingsList", "frmSSLSettingsList", "SSL settings", "imgSSLSettings",
     "sslsettings.html", false},
    {AdminPage::SSLSettings, "TfrmSSLSettings", "frmSSLSettings", "SSL settings", "imgSSLSettings",
     "sslsettingsedit.html", false},
    {AdminPage::Compression, "TfrmCompression", "frmCompression", "Compression settings", "imgCompression",
     "Compression.htm", false},
    {AdminPage::TestRequest, "TfrmTestRequest", "frmTestRequest", "Test request", "imgTestRequest",
     "testrequest.htm", false},
    {AdminPage::Server, "TfrmServer", "frmServer", "Service", "imgServer", "server.htm", false},
    {AdminPage::Status, "TfrmStatus", "frmStatus", "Status", "imgStatus", "status.htm", false},
    {AdminPage::LogView, "TfrmLogView", "frmLogView", "Log View", "imgLogView", "viewlog.htm", false},
    {AdminPage::Support, "TfrmSupport", "frmSupport", "Support", "imgSupport", "support.asp", false},
    {AdminPage::OWAMain, "TfrmOWAMain", "frmOWAMain", "", "", "owa.html", false},
};

template <class T>
PageFactory Make() {
  return [](web::WebApplication& app) -> web::AppForm* { return app.createForm<T>(); };
}

// The built pages. Add one entry per page, with a blank line around it.
const std::map<AdminPage, PageFactory>& Factories() {
  static const std::map<AdminPage, PageFactory> factories = {
      {AdminPage::Login, Make<TfrmLogin>()},

      {AdminPage::GeneralSettings, Make<TfrmGeneralSettings>()},

      {AdminPage::Security, Make<TfrmSecurity>()},

      {AdminPage::Compression, Make<TfrmCompression>()},

      {AdminPage::OWAMain, Make<TfrmOWAMain>()},

      {AdminPage::Main, Make<TfrmMain>()},

      {AdminPage::Status, Make<TfrmStatus>()},

      {AdminPage::Server, Make<TfrmServer>()},

      {AdminPage::TestRequest, Make<TfrmTestRequest>()},

      {AdminPage::LogView, Make<TfrmLogView>()},

      {AdminPage::Support, Make<TfrmSupport>()},

      {AdminPage::ServerCluster, Make<TfrmServerCluster>()},

      {AdminPage::ServerClusterEdit, Make<TfrmServerClusterEdit>()},

      {AdminPage::SSLSettingsList, Make<TfrmSSLSettingsList>()},

      {AdminPage::SSLSettings, CreateSSLSettingsPage},

      {AdminPage::Domains, Make<TfrmDomains>()},

      {AdminPage::DomainsMain, Make<TfrmDomainsMain>()},

      {AdminPage::DomainsHeaders, Make<TfrmDomainsHeaders>()},

      {AdminPage::DomainsSecurity, Make<TfrmDomainsSecurity>()},

      {AdminPage::DomainsVirtualDomains, Make<TfrmDomainsVirtualDomains>()},

  };
  return factories;
}

std::mutex gOverrideMutex;
std::map<AdminPage, PageFactory> gOverrides;

PageFactory OverrideFor(AdminPage id) {
  std::lock_guard lock(gOverrideMutex);
  auto it = gOverrides.find(id);
  return it == gOverrides.end() ? PageFactory() : it->second;
}

}  // namespace

void OverridePageFactory(AdminPage id, PageFactory factory) {
  std::lock_guard lock(gOverrideMutex);
  if (factory) {
    gOverrides[id] = std::move(factory);
  } else {
    gOverrides.erase(id);
  }
}

const PageInfo& GetPageInfo(AdminPage id) {
  for (const auto& p : kPages) {
    if (p.id == id) return p;
  }
  throw EAssertionFailed("Unknown administration page");
}

std::string PageTitle(AdminPage id) {
  if (id == AdminPage::OWAMain) return "Vantrell OWA - Web Admin";
  return std::string("Vantrell - Web Admin [") + GetPageInfo(id).titleSuffix + "]";
}

bool PageIsBuilt(AdminPage id) { return Factories().count(id) > 0; }

web::AppForm* CreatePage(web::WebApplication& app, AdminPage id) {
  if (PageFactory f = OverrideFor(id)) return f(app);
  auto it = Factories().find(id);
  if (it != Factories().end()) return it->second(app);
  return app.createForm<TPlaceholderPage>(id);
}

bool KeepsUnsavedEdits(AdminPage id) {
  return id == AdminPage::DomainsMain || id == AdminPage::DomainsHeaders || id == AdminPage::DomainsSecurity ||
         id == AdminPage::DomainsVirtualDomains || id == AdminPage::ServerClusterEdit;
}
