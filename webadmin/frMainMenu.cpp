#include "webadmin/frMainMenu.h"

#include "HTTPRedirect/uEngineHooks.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uAdminPage.h"

namespace {

constexpr int kItemHeight = 28;
constexpr int kMenuWidth = 170;

std::string BareName(const std::string& file) {
  const size_t cut = file.find_last_of("/\\");
  return cut == std::string::npos ? file : file.substr(cut + 1);
}

}  // namespace

TframeMainMenu::TframeMainMenu(web::Control* parent) : web::Frame("frameMainMenu", parent) {
  setBounds(0, 0, kMenuWidth, 700);
  imgHead = AddItem("imgHead", "mmHeader Web Admin.jpg", 69, AdminPage::Login, false);
  imgMain = AddItem("imgMain", "mmMain.jpg", kItemHeight, AdminPage::Main);
  imgGeneral = AddItem("imgGeneral", "mmGeneral.jpg", kItemHeight, AdminPage::GeneralSettings);
  imgDomains = AddItem("imgDomains", "mmDomains.jpg", kItemHeight, AdminPage::Domains);
  imgDomainsMain = AddItem("imgDomainsMain", "mmDomainsMain.jpg", kItemHeight, AdminPage::DomainsMain);
  imgDomainsHeaders = AddItem("imgDomainsHeaders", "mmDomainsHeaders.jpg", kItemHeight, AdminPage::DomainsHeaders);
  imgDomainsSecurity =
      AddItem("imgDomainsSecurity", "mmDomainsSecurity.jpg", kItemHeight, AdminPage::DomainsSecurity);
  imgDomainsVirtualDomains = AddItem("imgDomainsVirtualDomains", "mmDomainsVirtualDomains.jpg", kItemHeight,
                                     AdminPage::DomainsVirtualDomains);
  imgServerCluster = AddItem("imgServerCluster", "mmServerClusters.jpg", kItemHeight, AdminPage::ServerCluster);
  imgSecurity = AddItem("imgSecurity", "mmSecurity.jpg", kItemHeight, AdminPage::Security);
  imgSSLSettings = AddItem("imgSSLSettings", "mmSSLSettings.jpg", kItemHeight, AdminPage::SSLSettingsList);
  imgCompression = AddItem("imgCompression", "mmCompression.jpg", kItemHeight, AdminPage::Compression);
  imgTestRequest = AddItem("imgTestRequest", "mmTestRequest.jpg", kItemHeight, AdminPage::TestRequest);
  imgServer = AddItem("imgServer", "mmServer.jpg", kItemHeight, AdminPage::Server);
  imgStatus = AddItem("imgStatus", "mmStatus.jpg", kItemHeight, AdminPage::Status);
  imgLogView = AddItem("imgLogView", "mmViewLog.jpg", kItemHeight, AdminPage::LogView);
  imgSupport = AddItem("imgSupport", "mmSupport.jpg", kItemHeight, AdminPage::Support);
  imgLogout = AddItem("imgLogout", "mmLogout.jpg", kItemHeight, AdminPage::Login, false);
  imgLogout->onClick = [this](web::Control& s) { imgLogoutClick(s); };
  imgFoot = AddItem("imgFoot", "mmFoot.jpg", 48, AdminPage::Login, false);
  int top = 0;
  for (web::ImageFile* item : items_) {
    item->top = top;
    top += item->height;
  }
}

web::ImageFile* TframeMainMenu::AddItem(const char* name, const char* file, int height, AdminPage target,
                                        bool navigates) {
  auto* img = create<web::ImageFile>(name, this);
  img->fileName = file;
  img->height = height;
  if (navigates) img->onClick = [this, target](web::Control&) { Navigate(target); };
  items_.push_back(img);
  return img;
}

web::AppForm* TframeMainMenu::Page() const { return dynamic_cast<web::AppForm*>(owner()); }

void TframeMainMenu::SelectItem(const std::string& itemName) {
  for (web::ImageFile* item : items_) {
    if (item->name() != itemName) continue;
    const std::string bare = BareName(item->fileName);
    if (bare.rfind("mm", 0) == 0 && bare.rfind("mms", 0) != 0) item->fileName = "mms" + bare.substr(2);
  }
}

void TframeMainMenu::Arrange(bool domainPage) {
  const std::string files = ProgramFolder() + "Files/";
  for (web::ImageFile* item : items_) {
    const std::string wanted = files + BareName(item->fileName);
    if (item->fileName != wanted) item->fileName = wanted;
  }
  for (web::ImageFile* item : {imgDomainsMain, imgDomainsHeaders, imgDomainsSecurity, imgDomainsVirtualDomains}) {
    item->visible = domainPage;
  }
  const web::ImageFile* above = domainPage ? imgDomainsVirtualDomains : imgDomains;
  imgServerCluster->top = above->top + above->height;
  web::ImageFile* previous = imgServerCluster;
  for (web::ImageFile* item : {imgSecurity, imgSSLSettings, imgCompression, imgTestRequest, imgServer, imgStatus,
                               imgLogView, imgSupport, imgLogout, imgFoot}) {
    item->top = previous->top + previous->height;
    previous = item;
  }
  const auto* page = dynamic_cast<const TAdminPage*>(Page());
  const std::string prefix = page && page->pageId() == AdminPage::Server ? "mms" : "mm";
  const TIsServerRunningHook running = EngineHooks::Current().IsServerRunningHook;
  if (!running) {
    imgServer->fileName = prefix + "Server.jpg";
  } else {
    imgServer->fileName = prefix + (running() ? "ServerRunning.jpg" : "ServerStopped.jpg");
  }
}

void TframeMainMenu::Navigate(AdminPage target) {
  web::AppForm* page = Page();
  web::WebApplication& app = page->app();
  web::AppForm* active = app.activeForm();
  KeepOrReloadCopy(active, target);
  if (active) active->release();
  CreatePage(app, target)->show();
}

void TframeMainMenu::KeepOrReloadCopy(web::AppForm* from, AdminPage target) {
  if (KeepsUnsavedEdits(target)) {
    if (auto* keeper = dynamic_cast<IKeepsUnsavedEdits*>(from)) keeper->StoreControls(false);
  } else if (TUserSession* session = UserSession()) {
    session->LoadSettings();
  }
}

void TframeMainMenu::imgLogoutClick(web::Control&) {
  if (TUserSession* session = UserSession()) {
    session->DomainHandler->Log("User: " + session->DomainHandler->Username + " logged out");
  }
  Page()->app().setAuthenticated(false);
  Navigate(AdminPage::Login);
}
