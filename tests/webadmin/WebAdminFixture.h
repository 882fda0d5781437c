// The administration in a temporary program folder, driven through the
// dispatcher: the real controller, recording engine hooks, a test browser.
//
//   WebAdminFixture f;            // or f.WriteSettings([](TDomainHandler& h) { h.Password = "pw"; });
//   auto b = f.Browser();
//   f.Login(b);                   // "Admin", empty password
//   auto g = f.OpenMenu("IMGGENERAL");   // logged in, on a menu item's page
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/uDomainHandler.h"
#include "HTTPRedirect/uEngineHooks.h"
#include "platform/SysUtils.h"
#include "platform/web/WebTestBrowser.h"
#include "tests/Common/TempFolder.h"
#include "webadmin/ServerController.h"
#include "webadmin/UserSession.h"
#include "webadmin/uSetupVantrellURLBase.h"

class WebAdminFixture : public ::testing::Test {
 protected:
  WebAdminFixture() {
    previousDir_ = GetCurrentDir();
    if (::chdir(folder_.Path().c_str()) != 0) throw std::runtime_error("chdir failed");
    ForceDirectories(folder_.Path() + "data");
    ForceDirectories(folder_.Path() + "Files");
    ResetLastPathRewrite();
    InstallHooks();
  }
  ~WebAdminFixture() override {
    server_.reset();
    EngineHooks::ClearOwnedBy(this);
    ResetLastPathRewrite();
    if (::chdir(previousDir_.c_str()) != 0) ADD_FAILURE() << "chdir back failed";
  }

  // Writes data/settings.dat from the defaults changed by Edit.
  void WriteSettings(const std::function<void(TDomainHandler&)>& edit) {
    TDomainHandler h;
    h.SetDefaults();
    edit(h);
    h.SaveToFile(SettingsFileName);
  }

  // The dispatcher with the real controller (created on first use).
  web::WebServer& Server() {
    if (!server_) server_ = std::make_unique<web::WebServer>(std::make_unique<TVantrell_ServerController>());
    return *server_;
  }
  void CloseServer() { server_.reset(); }

  web::TestBrowser Browser(const std::string& peer = "127.0.0.1") { return web::TestBrowser(Server(), peer); }

  void Login(web::TestBrowser& b, const std::string& user = "Admin", const std::string& password = "") {
    b.get("/");
    b.type("EDTUSERNAME", user);
    b.type("EDTPASSWORD", password);
    b.click("BTNLOGIN");
  }

  web::TestBrowser LoggedIn() {
    web::TestBrowser b = Browser();
    Login(b);
    return b;
  }
  // Logged in, then the menu image Item without the frame's prefix
  // ("IMGGENERAL"); Title, when given, is the page that must show.
  web::TestBrowser OpenMenu(const std::string& item, const std::string& title = "") {
    web::TestBrowser b = LoggedIn();
    EXPECT_TRUE(b.click("FRAMEMAINMENU_" + item)) << item;
    if (!title.empty()) {
      EXPECT_EQ(b.title(), title);
    }
    return b;
  }
  // A fresh load of the settings file on disk, and its bytes.
  static std::unique_ptr<TDomainHandler> FromFile() {
    auto h = std::make_unique<TDomainHandler>();
    h->LoadFromFile(SettingsFileName);
    return h;
  }
  static std::vector<uint8_t> FileBytes() { return ReadFileBytes(SettingsFileName); }
  // The session's copy of the configuration.
  static TDomainHandler& Copy(web::TestBrowser& b) {
    web::CurrentAppGuard guard(b.session().get());
    return *UserSession()->DomainHandler;
  }

  // What the engine hooks saw.
  std::vector<std::string> LogLines() {
    std::lock_guard lock(mutex_);
    return logLines_;
  }
  int reloads = 0;
  // Empty: the running-state hook is unassigned.
  std::function<bool()> serverRunning;

  const std::string& Folder() const { return folder_.Path(); }

 private:
  void InstallHooks() {
    TEngineHookSet hooks;
    hooks.Owner = this;
    hooks.ReloadSettingsHook = [this](void*, std::string& msg) {
      ++reloads;
      msg = "reloaded";
    };
    hooks.WebAdminLogHook = [this](TDomainHandler*, const std::string& text) {
      std::lock_guard lock(mutex_);
      logLines_.push_back("Web Admin : " + text);
    };
    hooks.IsServerRunningHook = [this] { return serverRunning ? serverRunning() : false; };
    EngineHooks::Assign(hooks);
  }

  TempFolder folder_;
  std::string previousDir_;
  std::unique_ptr<web::WebServer> server_;
  std::mutex mutex_;
  std::vector<std::string> logLines_;
};
