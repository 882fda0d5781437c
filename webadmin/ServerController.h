// The administration's server controller: its settings, the rules for new
// sessions, the URL base before every request and the clean-up of the
// download copies.
#pragma once

#include "platform/web/WebServer.h"

class TVantrell_ServerController : public web::ServerControllerBase {
 public:
  TVantrell_ServerController();
  std::string className() const override { return "TVantrell_ServerController"; }

  // Port: the settings file's TDomainHandler::WebAdminPort.
  void onCreate() override;
  // Remote-admin and public-status rules, the session's TUserSession and its
  // start page; refusals raise web::SilentException.
  void onNewSession(web::WebApplication& app) override;
  void onBeforeDispatch(const web::HttpRequest& req) override;
  // Deletes the session's download copies (Files/0_<id>*).
  void onCloseSession(web::WebApplication& app) override;
  // Deletes every download copy (Files/0_*).
  void onDestroy() override;
};

// EIdSilentException: the framework's session refusal.
using EIdSilentException = web::SilentException;
