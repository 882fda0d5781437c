#include "webadmin/ServerController.h"

#include "Common/Misc.h"
#include "platform/SysUtils.h"
#include "webadmin/AdminPages.h"
#include "webadmin/UserSession.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uSetupVantrellURLBase.h"
#include "webadmin/uStatusResults.h"

namespace {

constexpr const char* kLocalAddress = "127.0.0.1";

bool IsStatusRequest(const std::vector<std::string>& runParams) {
  for (const auto& p : runParams) {
    if (UpperCase(p).find("STATUS") != std::string::npos) return true;
  }
  return false;
}

}  // namespace

TVantrell_ServerController::TVantrell_ServerController() {
  settings.appName = "VTAdmin";
  settings.description = "Vantrell Switch - Web Admin";
  settings.port = 8888;
  settings.sessionTimeoutMinutes = 600;
  settings.threadPoolSize = 32;
  settings.startCommand = "/";
  settings.allowSubFolders = true;
  settings.showLoadingAnimation = true;
  setMainForm([](web::WebApplication& app) { return CreatePage(app, AdminPage::Login); });
}

void TVantrell_ServerController::onCreate() {
  // The shared check results name the engine's tree by its address only; a
  // new server starts without those of an engine that may be gone.
  TStatusCheck::Shared().Forget();
  settings.filesDir = ProgramFolder() + "Files/";
  TUserSession probe;
  probe.LoadSettings();
  settings.port = probe.DomainHandler->WebAdminPort();
}

void TVantrell_ServerController::onNewSession(web::WebApplication& app) {
  bool noRemoteAdmin = false;
  bool allowStatus = false;
  bool noPassword = false;
  {
    TUserSession probe;
    probe.LoadSettings();
    noRemoteAdmin = probe.DomainHandler->NoRemoteAdmin;
    allowStatus = probe.DomainHandler->AllowAccessToStatus;
    noPassword = probe.DomainHandler->Password.empty();
  }
  const bool status = IsStatusRequest(app.runParams());
  const bool local = app.browserIP() == kLocalAddress;
  // Without a password the administration is open to whoever reaches it, so
  // then only this machine gets a session.
  if (!local && (noPassword || (noRemoteAdmin && !status))) {
    throw EIdSilentException("Remote admin is not allowed");
  }
  auto session = std::make_unique<TUserSession>();
  TUserSession* raw = session.get();
  app.setData(std::move(session));
  raw->LoadSettings();
  if (status) {
    if (!allowStatus && !local) throw EIdSilentException("Status page not public");
    web::AppForm* page = CreatePage(app, AdminPage::Status);
    if (auto* publicMode = dynamic_cast<IPublicModePage*>(page)) publicMode->SetPublicMode(true);
    page->show();
  }
}

void TVantrell_ServerController::onBeforeDispatch(const web::HttpRequest& req) { SetupVantrellURLBase(*this, req); }

void TVantrell_ServerController::onCloseSession(web::WebApplication& app) {
  DeleteFilesByMask(ProgramFolder() + "Files/0_" + app.id() + "*.*");
}

void TVantrell_ServerController::onDestroy() {
  DeleteFilesByMask(ProgramFolder() + "Files/0_*.*");
  TStatusCheck::Shared().Forget();
}
