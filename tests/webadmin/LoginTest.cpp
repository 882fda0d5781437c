// The controller's session rules, the URL base, the login and the session
// object.
#include <gtest/gtest.h>

#include <filesystem>

#include "Common/uDomainClasses.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uProgramMode.h"
#include "platform/DateTime.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fLogin.h"

namespace {

using web::TestBrowser;

class LoginTest : public WebAdminFixture {};

TEST_F(LoginTest, NewSessionRules) {
  const struct Case {
    const char* what;
    bool noRemoteAdmin, allowStatus;
    const char* password;
    const char* peer;
    const char* target;
    int status;
    const char* result;  // the title, or the refusal text
  } cases[] = {
      {"local, no query", true, false, "", "127.0.0.1", "/", 200, "Vantrell - Web Admin [Login]"},
      {"remote with NoRemoteAdmin", true, true, "pw", "10.1.2.3", "/", 403, "Remote admin is not allowed"},
      {"remote without NoRemoteAdmin", false, false, "pw", "10.1.2.3", "/", 200, "Vantrell - Web Admin [Login]"},
      {"remote status, public", true, true, "pw", "10.1.2.3", "/?STATUS", 200, "Vantrell - Web Admin [Status]"},
      {"remote status, not public", true, false, "pw", "10.1.2.3", "/?status", 403, "Status page not public"},
      {"local status, not public", true, false, "", "127.0.0.1", "/?status&xstatus", 200,
       "Vantrell - Web Admin [Status]"},
      {"localhost counts as remote", true, true, "pw", "localhost", "/", 403, "Remote admin is not allowed"},
      {"IPv6 loopback counts as remote", true, true, "pw", "::1", "/", 403, "Remote admin is not allowed"},
      // A fresh install has no password: only this machine gets a session.
      {"remote, empty password", false, true, "", "10.1.2.3", "/", 403, "Remote admin is not allowed"},
      {"remote status, empty password", false, true, "", "10.1.2.3", "/?status", 403,
       "Remote admin is not allowed"},
  };
  for (const Case& c : cases) {
    WriteSettings([&](TDomainHandler& h) {
      h.NoRemoteAdmin = c.noRemoteAdmin;
      h.AllowAccessToStatus = c.allowStatus;
      h.Password = c.password;
    });
    TestBrowser b = Browser(c.peer);
    const size_t before = Server().sessionCount();
    b.get(c.target);
    EXPECT_EQ(b.status(), c.status) << c.what;
    if (c.status == 200) {
      EXPECT_EQ(b.title(), c.result) << c.what;
      EXPECT_EQ(b.session()->forms().size(), 1u) << c.what;
      EXPECT_NE(dynamic_cast<TUserSession*>(b.session()->data()), nullptr) << c.what;
    } else {
      EXPECT_EQ(b.response().body, c.result) << c.what;
      EXPECT_EQ(Server().sessionCount(), before) << c.what;
    }
  }
}

TEST_F(LoginTest, UrlBaseFollowsThePathRewriteHeader) {
  const struct {
    const char* header;  // nullptr: no header
    const char* base;
  } steps[] = {
      {"/admin/ /", "/admin"}, {nullptr, ""}, {"/admin/", ""}, {"/x/y /", "/x/y"}, {"/x/y /", "/x/y"}, {"", ""},
  };
  for (const auto& s : steps) {
    TestBrowser b = Browser();
    if (s.header) b.setHeader("VTPathRewrite", s.header);
    b.get("/");
    const web::UrlSettings u = Server().controller().urls();
    EXPECT_EQ(u.urlBase, s.base) << (s.header ? s.header : "(none)");
    EXPECT_EQ(u.sessionTimeoutURL, std::string(s.base) + "/");
    EXPECT_EQ(u.invalidCommandURL, std::string(s.base) + "/");
    EXPECT_EQ(u.unknownBrowserURL, std::string(s.base) + "/Files/HTML/NotSupported.html");
    // The page posts to the base and loads its script below it.
    EXPECT_EQ(b.attr("SUBMITFORM", "action"), std::string(s.base) + "/");
  }
  TestBrowser b = Browser();
  b.setHeader("VTPathRewrite", "/admin/ /");
  b.get("/");
  web::HttpRequest expired;
  expired.method = "POST";
  expired.headers = {{"vtpathrewrite", "/admin/ /"}};
  expired.form = {{"VT_SESSION", "00000000000000000000000000000000"}};
  EXPECT_EQ(Server().handle(expired).header("Location"), "/admin/");
}

// The addresses a page loads and posts to: the form's action and the
// framework script's source.
std::pair<std::string, std::string> PageAddresses(const TestBrowser& b) {
  std::string script;
  for (const web::HtmlElement& e : b.doc().elements())
    if (e.tag == "script" && e.has("src")) script = e.attr("src");
  return {b.attr("SUBMITFORM", "action"), script};
}

// Any client may send the header, also one refused a session; a value that is
// no plain path reaches no page, is kept nowhere and is logged once.
TEST_F(LoginTest, UrlBaseTakesOnlyPlainPaths) {
  WriteSettings([](TDomainHandler& h) {
    h.NoRemoteAdmin = true;
    h.Password = "pw";
  });
  const std::pair<std::string, std::string> sw = {"/sw/", "/sw/files/vtfw.js"};
  TestBrowser admin = Browser();
  admin.setHeader("VTPathRewrite", "/sw/ /");
  admin.get("/");
  ASSERT_EQ(PageAddresses(admin), sw);

  const std::string tooLong = "/" + std::string(255, 'a');
  const std::string hostile[] = {
      "//elsewhere.example/x /", "//elsewhere.example/x", "http://x/ /", "http://x/", "https:/x /", "/a\"b /",
      "/a'b /", "/a<b /", "/a>b /", "/a\\b /", "/a\x01" "b /", "\x7f", "/a\x7f /", "/a\x80 /", "a/b /", "///x /",
      "/a//b /", tooLong + " /", tooLong, "/ok\r\n /", "/ok /\r\n", "/ok\r\nX-Y: z /", "/ok\t/", "/a b c", " /",
      "/ok ", "/ok  /", "/ok?x /", "/ok#x /", "/ok //elsewhere.example", "/ok http://x/", std::string("/a\0b /", 6),
  };
  for (const std::string& h : hostile) {
    SCOPED_TRACE(h);
    TestBrowser remote = Browser("10.1.2.3");
    remote.setHeader("VTPathRewrite", h);
    remote.get("/");
    EXPECT_EQ(remote.status(), 403);
    // A local browser sending it gets the page of the base in force.
    TestBrowser local = Browser();
    local.setHeader("VTPathRewrite", h);
    local.get("/");
    EXPECT_EQ(PageAddresses(local), sw);
    web::HttpRequest expired;
    expired.method = "POST";
    expired.peerAddress = "10.1.2.3";
    expired.headers = {{"VTPathRewrite", h}};
    expired.form = {{"VT_SESSION", "00000000000000000000000000000000"}};
    EXPECT_EQ(Server().handle(expired).header("Location"), "/sw/");
    const web::UrlSettings u = Server().controller().urls();
    EXPECT_EQ(u.urlBase, "/sw");
    EXPECT_EQ(u.sessionTimeoutURL, "/sw/");
    EXPECT_EQ(u.invalidCommandURL, "/sw/");
    EXPECT_EQ(u.unknownBrowserURL, "/sw/Files/HTML/NotSupported.html");
    EXPECT_EQ(LastPathRewrite(), "/sw/ /");
  }
  // The sessions already open, and one a later client opens, keep the base.
  admin.submit();
  EXPECT_EQ(PageAddresses(admin), sw);
  TestBrowser later = Browser();
  later.setHeader("VTPathRewrite", "/sw/ /");
  later.get("/");
  EXPECT_EQ(PageAddresses(later), sw);
  EXPECT_EQ(later.html().find("elsewhere"), std::string::npos);
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"Web Admin : Ignored VTPathRewrite header from 10.1.2.3: not a plain path"});

  // Plain paths up to 255 bytes still set the base.
  const std::string longest = "/" + std::string(254, 'a');
  const struct {
    std::string header, base;
  } valid[] = {{longest + " /", longest},
               {"/a-b_c.d~e!$&()*+,;=:@%20/ /x", "/a-b_c.d~e!$&()*+,;=:@%20"},
               {"/ /app", ""},
               {"/admin", ""}};
  for (const auto& v : valid) {
    TestBrowser b = Browser();
    b.setHeader("VTPathRewrite", v.header);
    b.get("/");
    EXPECT_EQ(Server().controller().urls().urlBase, v.base) << v.header;
    EXPECT_EQ(PageAddresses(b).first, v.base + "/") << v.header;
  }
}

// A flood of refused values costs one event line a minute, which counts the
// ones left out.
TEST_F(LoginTest, RefusedPathRewritesAreLoggedAtMostOnceAMinute) {
  ScopedManualClock clock;
  auto send = [this](const std::string& value) {
    TestBrowser b = Browser("10.9.8.7");
    b.setHeader("VTPathRewrite", value);
    b.get("/");
  };
  for (int i = 0; i < 5; ++i) send("//elsewhere.example/" + std::to_string(i) + " /");
  clock.clock().Advance(59999);
  send("//x /");
  EXPECT_EQ(LogLines().size(), 1u);
  clock.clock().Advance(1);
  send("//y /");
  send("//z /");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "Web Admin : Ignored VTPathRewrite header from 10.9.8.7: not a plain path",
                            "Web Admin : Ignored VTPathRewrite header from 10.9.8.7: not a plain path (5 more "
                            "ignored since the last line)",
                        }));
}

TEST_F(LoginTest, LoginTakesTheUserInAnyCaseAndThePasswordExactly) {
  WriteSettings([](TDomainHandler& h) {
    h.Username = "Admin";
    h.Password = "Secret";
  });
  const struct {
    const char* user;
    const char* password;
    bool ok;
  } cases[] = {{"Admin", "Secret", true},  {"admin", "Secret", true},   {"ADMIN", "Secret", true},
               {"Admin", "secret", false}, {"Admin", "Secret ", false}, {"Admin2", "Secret", false},
               {"", "", false}};
  for (const auto& c : cases) {
    TestBrowser b = Browser();
    Login(b, c.user, c.password);
    if (c.ok) {
      EXPECT_EQ(b.title(), "Vantrell - Web Admin [Main]") << c.user << "/" << c.password;
      EXPECT_TRUE(b.session()->authenticated());
      EXPECT_TRUE(b.has("FRAMEMAINMENU_IMGMAIN"));
    } else {
      EXPECT_EQ(b.title(), "Vantrell - Web Admin [Login]") << c.user << "/" << c.password;
      EXPECT_TRUE(b.shown("LBLPLEASERETRY"));
      EXPECT_EQ(b.text("LBLPLEASERETRY"), "Login failed! Please try again.");
      EXPECT_NE(b.onloadScript().find("VTFW.focus('EDTUSERNAME')"), std::string::npos);
      EXPECT_FALSE(b.session()->authenticated());
    }
  }
  // Only the successes were logged, with the stored name.
  EXPECT_EQ(LogLines(), std::vector<std::string>(3, "Web Admin : User: Admin logged in"));
}

TEST_F(LoginTest, AFreshInstallTakesAdminWithAnEmptyPasswordAndEnterLogsIn) {
  TestBrowser b = Browser();
  b.get("/");
  EXPECT_FALSE(b.shown("LBLPLEASERETRY"));
  EXPECT_EQ(b.attr("EDTPASSWORD", "type"), "password");
  EXPECT_EQ(b.attr("IMGLOGINLOGO", "src"), "/files/LoginLogo.jpg");
  b.type("EDTUSERNAME", "admin");
  EXPECT_TRUE(b.pressEnter("EDTPASSWORD"));
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  EXPECT_EQ(b.session()->forms().size(), 1u);  // the login page was released
}

TEST_F(LoginTest, TheOwaEditionStartsOnItsOwnPage) {
  OWAEdition = true;
  TestBrowser b = Browser();
  b.get("/");
  EXPECT_EQ(b.attr("IMGLOGINLOGO", "src"), "/files/LoginLogoOWA.jpg");
  b.type("EDTUSERNAME", "Admin");
  b.click("BTNLOGIN");
  OWAEdition = false;
  EXPECT_EQ(b.title(), "Vantrell OWA - Web Admin");
}

TEST_F(LoginTest, NoMenuEventFiresBeforeTheLogin) {
  TestBrowser b = Browser();
  b.get("/");
  b.postRaw({{"VT_EVENT", "FRAMEMAINMENU_IMGGENERAL.OnClick"}});
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Login]");
  b.postRaw({{"VT_EVENT", "LBLPLEASERETRY.OnClick"}});
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Login]");
}

TEST_F(LoginTest, SaveWritesTheFileThenTheEngineReloads) {
  TestBrowser b = Browser();
  Login(b);
  web::CurrentAppGuard guard(b.session().get());
  UserSession()->DomainHandler->GateName = "Saved";
  UserSession()->SaveSettings();
  EXPECT_EQ(reloads, 1);
  UserSession()->DomainHandler->GateName = "Again";
  UserSession()->SaveSettings();
  EXPECT_TRUE(FileExists(Folder() + "data/settings.dat.old"));
  TDomainHandler check;
  check.LoadFromFile(SettingsFileName);
  EXPECT_EQ(check.GateName, "Again");
  EngineHooks::ClearOwnedBy(this);
  UserSession()->SaveSettings();  // no hook: still written
  EXPECT_EQ(reloads, 2);
  EXPECT_EQ(UserSession(), b.session()->data());
}

TEST_F(LoginTest, CurrentItemsAreNilOutsideTheLists) {
  TUserSession s;
  EXPECT_EQ(s.GetCurrentDomain(), nullptr);
  EXPECT_EQ(s.GetCurrentServerCluster(), nullptr);
  s.SetSSLSettingsIndex(s.DomainHandler->SSLSettingsList.Count());
  EXPECT_EQ(s.GetCurrentSSLSettings(), nullptr);
  TDomain* d1 = s.DomainHandler->AddDomain();
  TDomain* d2 = s.DomainHandler->AddDomain();
  EXPECT_EQ(s.GetCurrentDomain(), d1);
  s.SetCurrentDomain(d2);
  EXPECT_EQ(s.DomainIndex, 1);
  EXPECT_EQ(s.GetCurrentDomain(), d2);
  for (int stale : {2, 7, -2}) {
    s.SetDomainIndex(stale);
    EXPECT_EQ(s.GetCurrentDomain(), nullptr) << stale;
  }
  s.SetCurrentDomain(nullptr);
  EXPECT_EQ(s.DomainIndex, -1);
  TServerCluster* c = s.DomainHandler->ServerClusters->Add().get();
  EXPECT_EQ(s.GetCurrentServerCluster(), c);
  s.SetServerClusterIndex(3);
  EXPECT_EQ(s.GetCurrentServerCluster(), nullptr);
}

TEST_F(LoginTest, FillDomainComboListsTheDomainsAndSelectsTheCurrentOne) {
  TestBrowser b = Browser();
  b.get("/");
  web::CurrentAppGuard guard(b.session().get());
  web::ComboBox combo;
  combo.tag = 5;
  FillDomainCombo(&combo);
  EXPECT_TRUE(combo.items.empty());
  EXPECT_EQ(combo.tag, 0);
  TDomainHandler& h = *UserSession()->DomainHandler;
  TDomain* a = h.AddDomain();
  a->DomainName = "a.example";
  TDomain* c = h.AddDomain();
  c->DomainName = "c.example";
  UserSession()->SetCurrentDomain(c);
  FillDomainCombo(&combo);
  ASSERT_EQ(combo.items.size(), 2u);
  EXPECT_EQ(combo.items[0], std::string("(") + a->ProtocolModeText() + ") a.example");
  EXPECT_EQ(combo.itemIndex, 1);
  EXPECT_EQ(combo.selectedObject(), c);
}

TEST_F(LoginTest, ClosingASessionDeletesOnlyItsDownloadCopies) {
  TestBrowser a = Browser(), b = Browser();
  a.get("/");
  b.get("/");
  const std::string files = Folder() + "Files/";
  for (const std::string& name : {"0_" + a.sessionId() + "_x.log", "0_" + b.sessionId() + "_y.log", std::string("keep.jpg")}) {
    WriteWholeFile(files + name, "x");
  }
  {
    ScopedManualClock clock(45000.0, 100000000);
    a.session()->lastAccessMs = 0;
    b.session()->lastAccessMs = GetTickCount64();
    EXPECT_EQ(Server().reapIdleSessions(), 1u);
  }
  EXPECT_FALSE(FileExists(files + "0_" + a.sessionId() + "_x.log"));
  EXPECT_TRUE(FileExists(files + "0_" + b.sessionId() + "_y.log"));
  CloseServer();
  EXPECT_FALSE(FileExists(files + "0_" + b.sessionId() + "_y.log"));
  EXPECT_TRUE(FileExists(files + "keep.jpg"));
}

TEST_F(LoginTest, ThePortComesFromTheSettingsFile) {
  const struct {
    int stored;
    int port;
  } cases[] = {{0, 19721}, {-5, 19721}, {8123, 8123}};
  for (const auto& c : cases) {
    WriteSettings([&](TDomainHandler& h) { h.AdminPort = c.stored; });
    CloseServer();
    EXPECT_EQ(Server().controller().settings.port, c.port) << c.stored;
  }
  std::filesystem::remove(SettingsFileName);
  CloseServer();
  EXPECT_EQ(Server().controller().settings.port, 19721);
  EXPECT_EQ(Server().controller().settings.threadPoolSize, 32);
  EXPECT_EQ(Server().controller().settings.sessionTimeoutMinutes, 600);
}

}  // namespace
