#include "webadmin/fMain.h"

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uVTWAWarnings.h"

namespace {

constexpr int kCheckTop = 320;
constexpr int kCheckStep = 40;

}  // namespace

TfrmMain::TfrmMain(web::WebApplication& app) : TAdminPage(app, AdminPage::Main) {
  CreateMenu();
  rgnSettings = CreateSettingsRegion(640);

  CreateTitleImages(rgnSettings, "vtwaMain.jpg", "hdMain.jpg");

  Counters = CreateCounterLabels(this, rgnSettings, 10, 70, false);

  struct {
    web::ImageFile** icon;
    const char* iconName;
    const char* iconFile;
    web::ImageFile** image;
    const char* imageName;
    web::Label** label;
    const char* labelName;
    void (TfrmMain::*click)(web::Control&);
  } checks[] = {
      {&imgGeneralSettingsIcon, "imgGeneralSettingsIcon", "..\\Files\\vtwaGeneral_settings_32x32.jpg", &imgStatusG,
       "imgStatusG", &lblStatusG, "lblStatusG", &TfrmMain::imgGeneralSettingsIconClick},
      {&imgDomainsIcon, "imgDomainsIcon", "..\\Files\\vtwaDomains_32x32.jpg", &imgStatusD, "imgStatusD", &lblStatusD,
       "lblStatusD", &TfrmMain::imgDomainsIconClick},
      {&imgClustersIcon, "imgClustersIcon", "..\\Files\\vtwaServer_clusters-32x32.jpg", &imgStatusC, "imgStatusC",
       &lblStatusC, "lblStatusC", &TfrmMain::imgClustersIconClick},
      {&imgSSLSettingsIcon, "imgSSLSettings", "..\\Files\\vtwaSSL_settings_32x32.jpg", &imgStatusSSL,
       "imgStatusSSL", &lblStatusSSL, "lblStatusSSL", &TfrmMain::imgSSLSettingsClick},
  };
  int top = kCheckTop;
  for (const auto& c : checks) {
    web::ImageFile* icon = create<web::ImageFile>(c.iconName, rgnSettings);
    icon->fileName = c.iconFile;
    icon->setBounds(10, top, 32, 32);
    icon->tag = -1;
    const auto click = c.click;
    icon->onClick = [this, click](web::Control& s) { (this->*click)(s); };
    *c.icon = icon;
    web::ImageFile* image = create<web::ImageFile>(c.imageName, rgnSettings);
    image->setBounds(52, top + 7, 18, 18);
    *c.image = image;
    web::Label* label = create<web::Label>(c.labelName, rgnSettings);
    label->caption = "Settings look OK";
    label->setBounds(78, top + 8, 430, 18);
    *c.label = label;
    top += kCheckStep;
  }

  IWURLDocumentation = create<web::Url>("IWURLDocumentation", rgnSettings);
  IWURLDocumentation->caption = "Vantrell Documentation";
  IWURLDocumentation->target = "ExternalBrowser";
  IWURLDocumentation->setBounds(10, top + 6, 200, 18);
  auto* lblExternal = create<web::Label>("lblExternalLinks", rgnSettings);
  lblExternal->caption = "External links";
  lblExternal->font.bold = true;
  lblExternal->setBounds(10, top + 36, 200, 18);
  IWURLHomePage = create<web::Url>("IWURLHomePage", rgnSettings);
  IWURLHomePage->caption = "Vantrell Home Page";
  IWURLHomePage->url = VendorHomePageURL;
  IWURLHomePage->target = "ExternalBrowser";
  IWURLHomePage->setBounds(10, top + 56, 200, 18);
  IWURLSupport = create<web::Url>("IWURLSupport", rgnSettings);
  IWURLSupport->caption = "Vantrell Support";
  IWURLSupport->url = VendorSupportURL;
  IWURLSupport->target = "ExternalBrowser";
  IWURLSupport->setBounds(10, top + 76, 200, 18);

  IWURLDocumentation->url = std::string(HelpBaseURL) + "index.html";
  InitCommon("main.htm");
  RunChecks();
}

// Over the running configuration, under its read lock; the checkers only
// live for this, their texts and images stay on the page.
void TfrmMain::RunChecks() {
  TDomainHandler* live = LiveDomainHandler();
  if (!live) return;
  TErrorWarningChecker general(lblStatusG, live, imgStatusG);
  TErrorWarningChecker domains(lblStatusD, live, imgStatusD);
  TErrorWarningChecker clusters(lblStatusC, live, imgStatusC);
  TErrorWarningChecker ssl(lblStatusSSL, live, imgStatusSSL);
  ReadLockGuard guard(live->Synchronizer);
  imgDomainsIcon->tag = imgClustersIcon->tag = imgSSLSettingsIcon->tag = -1;
  general.CheckGeneral();
  if (!domains.CheckDomains()) imgDomainsIcon->tag = domains.FailedDomainIndex;
  if (!clusters.CheckClusters()) imgClustersIcon->tag = clusters.FailedClusterIndex;
  if (!ssl.CheckSSLCertificates()) imgSSLSettingsIcon->tag = ssl.FailedSSLIndex;
}

void TfrmMain::onRender() { UpdateCounters(Counters, true); }

void TfrmMain::ShowItem(int tag, AdminPage list, AdminPage edit, int32_t& index, int count) {
  if (tag < 0) {
    ShowPage(list);
    return;
  }
  index = tag;
  if (tag < count) ShowPage(edit);
}

void TfrmMain::imgGeneralSettingsIconClick(web::Control&) { ShowPage(AdminPage::GeneralSettings); }

void TfrmMain::imgDomainsIconClick(web::Control& sender) {
  TUserSession* s = UserSession();
  ShowItem(sender.tag, AdminPage::Domains, AdminPage::DomainsMain, s->DomainIndex, s->DomainHandler->Domains.Count());
}

void TfrmMain::imgClustersIconClick(web::Control& sender) {
  TUserSession* s = UserSession();
  ShowItem(sender.tag, AdminPage::ServerCluster, AdminPage::ServerClusterEdit, s->ServerClusterIndex,
           s->DomainHandler->ServerClusters->Count());
}

void TfrmMain::imgSSLSettingsClick(web::Control& sender) {
  TUserSession* s = UserSession();
  ShowItem(sender.tag, AdminPage::SSLSettingsList, AdminPage::SSLSettings, s->SSLSettingsIndex,
           s->DomainHandler->SSLSettingsList.Count());
}
