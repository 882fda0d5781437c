// The web layer through its dispatcher, without sockets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/DateTime.h"
#include "platform/web/WebEscape.h"
#include "platform/web/WebTabControl.h"
#include "platform/web/WebTestBrowser.h"
#include "tests/platform/web/WebTestPages.h"

namespace {

using namespace web;
using namespace webtest;

class WebServerTest : public ::testing::Test {
 protected:
  WebServerTest() {
    auto c = std::make_unique<TestController>();
    controller = c.get();
    server = std::make_unique<WebServer>(std::move(c));
  }
  TestController* controller;
  std::unique_ptr<WebServer> server;
};

TEST_F(WebServerTest, EachStartGetsItsOwnUnguessableSession) {
  TestBrowser a(*server), b(*server);
  a.get("/");
  b.get("/");
  EXPECT_EQ(a.status(), 200);
  EXPECT_TRUE(std::regex_match(a.sessionId(), std::regex("[0-9a-f]{32}")));
  EXPECT_NE(a.sessionId(), b.sessionId());
  EXPECT_EQ(server->sessionCount(), 2u);
  EXPECT_EQ(a.title(), "Test <page>");
  EXPECT_EQ(a.response().contentType, "text/html; charset=windows-1252");
  EXPECT_EQ(a.response().header("Cache-Control"), "no-cache, no-store");
  // The id travels in the hidden field only: no cookie, no address.
  EXPECT_EQ(a.response().header("Set-Cookie"), "");
  EXPECT_EQ(a.html().find("VT_SESSION=" + a.sessionId()), std::string::npos);
  EXPECT_NE(a.onloadScript().find("VTFW.focus('EDTNAME')"), std::string::npos);
}

TEST_F(WebServerTest, ASessionIdInTheAddressIsIgnored) {
  TestBrowser a(*server);
  a.get("/");
  TestBrowser b(*server);
  b.get("/?VT_SESSION=" + a.sessionId());
  EXPECT_NE(b.sessionId(), a.sessionId());
  HttpRequest req;
  req.method = "POST";
  req.query = "VT_SESSION=" + a.sessionId();
  EXPECT_EQ(server->handle(req).status, 302);
}

TEST_F(WebServerTest, PostsChangeOnlyControlsThatWereShownEnabledAndEditable) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  ASSERT_NE(page, nullptr);
  // Forged values for every field, as a hostile page could send them.
  ParamMap forged = {{"EDTNAME", "typed"},   {"EDTHIDDEN", "forged"}, {"EDTRO", "forged"},
                     {"EDTDIS", "forged"},   {"CMBPICK", "7"},        {"RGMODE", "1"},
                     {"MEMNOTES", "a\r\nb\n"}, {"VT_EVENT", ""}};
  b.postRaw(forged);
  struct Case {
    const char* what;
    std::string got;
    std::string want;
  } cases[] = {
      {"shown edit", page->edtName->text, "typed"},
      {"hidden edit keeps its value", page->edtHidden->text, "keep"},
      {"read-only edit", page->edtRo->text, "ro"},
      {"disabled edit", page->edtDis->text, "dis"},
      {"combo index out of range", std::to_string(page->cmbPick->itemIndex), "1"},
      {"radio index", std::to_string(page->rgMode->itemIndex), "1"},
      {"absent shown check box", page->chkOn->checked ? "1" : "0", "0"},
      {"absent hidden check box", page->chkHidden->checked ? "1" : "0", "1"},
      {"absent locked check box", page->chkLocked->checked ? "1" : "0", "1"},
      {"memo lines", std::to_string(page->memNotes->lines.size()), "2"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  b.postRaw({{"CMBPICK", "2"}, {"CHKON", "on"}});
  EXPECT_EQ(page->cmbPick->itemIndex, 2);
  EXPECT_EQ(page->cmbPick->text(), "c");
  EXPECT_TRUE(page->chkOn->checked);
}

TEST_F(WebServerTest, OnlyTheSourceOfAShownEnabledControlFires) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  b.submit("BTNHIDDEN", "OnClick");
  b.submit("BTNDISABLED", "OnClick");
  b.submit("NOSUCH", "OnClick");
  b.submit("BTNGO", "OnSubmit");  // a button has no submit event
  EXPECT_EQ(page->clicks, 0);
  EXPECT_FALSE(b.click("BTNDISABLED"));
  EXPECT_TRUE(b.click("BTNGO"));
  EXPECT_EQ(page->clicks, 1);
  EXPECT_TRUE(b.pressEnter("EDTNAME"));
  EXPECT_EQ(page->submits, 1);
  EXPECT_FALSE(b.pressEnter("EDTRO"));  // no submit handler: Enter is swallowed
}

TEST_F(WebServerTest, AStaleTrackNumberFiresNothingAndShowsThePageAgain) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  const std::string oldTrack = b.trackId();
  b.click("BTNGO");
  EXPECT_EQ(page->clicks, 1);
  b.postRaw({{"VT_TRACK", oldTrack}, {"VT_EVENT", "BTNGO.OnClick"}, {"EDTNAME", "late"}});
  EXPECT_EQ(page->clicks, 1);
  EXPECT_EQ(page->edtName->text, "");
  EXPECT_EQ(b.status(), 200);
  EXPECT_NE(b.trackId(), oldTrack);
}

TEST_F(WebServerTest, UnknownSessionsAndCommandsAreRedirected) {
  controller->updateUrls([](UrlSettings& u) {
    u.sessionTimeoutURL = "/admin/";
    u.invalidCommandURL = "/admin/bad";
  });
  HttpRequest post;
  post.method = "POST";
  post.form = {{"VT_SESSION", "0123456789abcdef0123456789abcdef"}, {"VT_EVENT", "BTNGO.OnClick"}};
  HttpResponse r = server->handle(post);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.header("Location"), "/admin/");
  HttpRequest get;
  get.path = "/other";
  r = server->handle(get);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.header("Location"), "/admin/bad");
  EXPECT_EQ(server->sessionCount(), 0u);
}

TEST_F(WebServerTest, ARefusedSessionGets403AndKeepsNothing) {
  const int freed = gDataFreed;
  TestBrowser b(*server, "10.0.0.9");
  b.get("/");
  EXPECT_EQ(b.status(), 403);
  EXPECT_EQ(b.response().body, "Remote admin is not allowed");
  EXPECT_EQ(server->sessionCount(), 0u);
  EXPECT_EQ(gDataFreed, freed + 1);
}

TEST_F(WebServerTest, IdleSessionsEndAfterTheTimeOutButNeverWhileBusy) {
  ScopedManualClock clock;
  TestBrowser a(*server), b(*server);
  a.get("/");
  b.get("/");
  clock.clock().Advance(599 * 60000);
  a.submit();
  clock.clock().Advance(2 * 60000);
  {
    // B is idle for 601 minutes but has a request running.
    std::lock_guard busy(b.session()->dispatchMutex());
    EXPECT_EQ(server->reapIdleSessions(), 0u);
  }
  EXPECT_EQ(server->reapIdleSessions(), 1u);
  EXPECT_EQ(controller->closed, 1);
  EXPECT_EQ(server->sessionCount(), 1u);
  b.submit("BTNGO", "OnClick");
  EXPECT_EQ(b.status(), 302);  // back to the start
  EXPECT_EQ(server->reapIdleSessions(), 0u);
  EXPECT_EQ(controller->closed, 1);
}

TEST_F(WebServerTest, AHandlerMayReleaseItsOwnPageAndGoOn) {
  TestBrowser b(*server);
  b.get("/");
  b.click("BTNSWITCH");
  EXPECT_EQ(b.title(), "Second");
  EXPECT_NE(b.activeForm<SecondPage>(), nullptr);
  EXPECT_EQ(b.session()->forms().size(), 1u);
}

TEST_F(WebServerTest, AnErrorUndoesThePageSwitchAndShowsOnTheKeptPage) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  b.click("BTNFAIL");
  EXPECT_EQ(b.activeForm(), page);
  EXPECT_EQ(b.session()->forms().size(), 1u);
  EXPECT_EQ(b.title(), "Test <page>");
  EXPECT_EQ(b.text("VTFW_ERROR"), "Boom <x>");
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_EQ(b.alerts()[0], "Boom <x>");
  b.click("BTNGO");  // the kept page still works
  EXPECT_EQ(page->clicks, 1);
}

TEST_F(WebServerTest, MessagesAreEscapedAlertsOfTheNextAnswer) {
  TestBrowser b(*server);
  b.get("/");
  b.click("BTNMSG");
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_EQ(b.alerts()[0], "It's <done>");
  EXPECT_EQ(b.html().find("It's <done>"), std::string::npos);
  b.submit();
  EXPECT_TRUE(b.alerts().empty());
  b.activeForm()->app().showMessage("Async 'one'");
  AsyncAnswer a = b.async("LBLASYNC.DoOnAsyncClick", "cmd=x");
  ASSERT_EQ(a.scripts.size(), 1u);
  EXPECT_EQ(a.scripts[0], "alert('Async \\x27one\\x27');");
}

TEST_F(WebServerTest, TextsAreEscapedAndCellTextIsRaw) {
  TestBrowser b(*server);
  b.get("/");
  EXPECT_NE(b.html().find("<title>Test &lt;page&gt;</title>"), std::string::npos);
  EXPECT_EQ(b.text("LBLOUT"), "<b>&amp;");
  EXPECT_NE(b.html().find("&lt;b&gt;&amp;amp;"), std::string::npos);
  EXPECT_EQ(b.attr("BTNGO", "value"), "Go \"now\"");
  EXPECT_NE(b.html().find("<td><i>raw</i></td>"), std::string::npos);
  EXPECT_NE(b.html().find("id=\"TBLGRDLIST\""), std::string::npos);
  // Images: the bare name below /files/, encoded; frames prefix their ids.
  EXPECT_EQ(b.attr("FRAMEMENU_IMGMAIN", "src"), "/files/mm%20Main.jpg");
  EXPECT_EQ(b.attr("FRAMEMENU_IMGMAIN", "onclick"),
            "if(confirm('Are you sure?'))VTFW.submit('FRAMEMENU_IMGMAIN','OnClick');");
}

TEST_F(WebServerTest, ConfirmationsGuardTheClick) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  b.acceptConfirm(false);
  EXPECT_FALSE(b.click("FRAMEMENU_IMGMAIN"));
  EXPECT_EQ(b.lastConfirmation(), "Are you sure?");
  b.acceptConfirm(true);
  EXPECT_TRUE(b.click("FRAMEMENU_IMGMAIN"));
  EXPECT_EQ(page->clicks, 1);
}

TEST_F(WebServerTest, AsyncAnswersCarryOnlyTheChangedControls) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  AsyncAnswer a = b.async("LBLASYNC.DoOnAsyncClick", "cmd=addRow");
  EXPECT_FALSE(a.reload);
  ASSERT_EQ(a.updatedIds, std::vector<std::string>{"LBLASYNCIWCL"});
  EXPECT_EQ(b.text("LBLASYNC"), "addRow");
  // A grid change of structure is sent whole.
  page->lblAsync->onAsyncClick = [page](Control&, const ParamMap&) { page->grdList->setRowCount(3); };
  a = b.async("LBLASYNC.DoOnAsyncClick");
  EXPECT_EQ(a.updatedIds, std::vector<std::string>{"GRDLISTIWCL"});
  // A cell the browser edited itself is not sent back.
  page->lblAsync->onAsyncClick = [page](Control&, const ParamMap&) {
    page->grdList->cell(1, 1).text = "typed";
    page->app().keepClientView(page->grdList);
  };
  a = b.async("LBLASYNC.DoOnAsyncClick");
  EXPECT_TRUE(a.updatedIds.empty());
  // A page switch makes the client post the form.
  page->lblAsync->onAsyncClick = [page](Control&, const ParamMap&) {
    page->release();
    page->app().createForm<SecondPage>()->show();
  };
  a = b.async("LBLASYNC.DoOnAsyncClick");
  EXPECT_TRUE(a.reload);
  EXPECT_EQ(b.title(), "Second");
}

TEST_F(WebServerTest, AStaleAsyncEventAsksForAReload) {
  TestBrowser b(*server);
  b.get("/");
  const std::string html = b.html();
  b.submit();
  HttpRequest req;
  req.method = "POST";
  req.form = {{"VT_SESSION", b.sessionId()}, {"VT_TRACK", "1"}, {"VT_ASYNC", "1"},
              {"VT_EVENT", "LBLASYNC.DoOnAsyncClick"}, {"cmd", "x"}};
  const HttpResponse r = server->handle(req);
  EXPECT_NE(r.body.find("\"reload\":true"), std::string::npos);
  EXPECT_EQ(b.activeForm<TestPage>()->lblAsync->caption, "");
}

TEST_F(WebServerTest, TheRenderHookOfEveryShownPageRuns) {
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TestPage>();
  EXPECT_EQ(page->renders, 1);
  // A second page's region shown inside the first: both hooks run.
  struct Embedded : AppForm {
    explicit Embedded(WebApplication& app) : AppForm(app, "frmInner") {
      rgn = create<Region>("rgnInner", this);
      lbl = create<Label>("lblInner", rgn);
    }
    void onRender() override { ++renders; }
    Region* rgn;
    Label* lbl;
    int renders = 0;
  };
  auto* inner = b.session()->createForm<Embedded>();
  inner->rgn->setParent(page);
  b.submit();
  EXPECT_EQ(page->renders, 2);
  EXPECT_EQ(inner->renders, 1);
  EXPECT_TRUE(b.has("FRMINNER_LBLINNER"));
}

TEST_F(WebServerTest, UploadsKeepOnlyTheBaseName) {
  const struct {
    const char* sent;
    const char* base;
  } cases[] = {{"..\\..\\evil.pem", "evil.pem"}, {"../../x/evil.pem", "evil.pem"}, {"plain.pem", "plain.pem"},
               {"..", ""},  {".", ""},  {"", ""},  {"dir/", ""}};
  for (const auto& c : cases) EXPECT_EQ(UploadBaseName(c.sent), c.base) << c.sent;
  TestBrowser b(*server);
  b.get("/");
  EXPECT_NE(b.html().find("enctype=\"multipart/form-data\""), std::string::npos);
  b.upload("UPFILE", "..\\..\\evil.pem", "PEM");
  b.submit();
  auto* page = b.activeForm<TestPage>();
  EXPECT_EQ(page->upFile->fileName(), "evil.pem");
  EXPECT_EQ(page->upFile->content(), "PEM");
  b.upload("UPFILE", "..", "X");
  b.submit();
  EXPECT_FALSE(page->upFile->hasFile());
}

TEST(WebHttpTest, FormTextStaysRawBytes) {
  ParamMap p;
  ParseUrlEncoded("a=%E4+b&b=%u00e4%u20AC&c&d=x%2By&=e", p);
  EXPECT_EQ(p.find("a")->second, "\xE4 b");
  EXPECT_EQ(p.find("b")->second, "\xE4?");
  EXPECT_EQ(p.find("c")->second, "");
  EXPECT_EQ(p.find("d")->second, "x+y");
}

TEST(WebEscapeTest, OnePlaceForEachKindOfText) {
  EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  EXPECT_EQ(HtmlEscape("\xE4"), "\xE4");
  EXPECT_EQ(JsString("it's </script>\n\\"), "'it\\x27s \\x3C/script\\x3E\\x0A\\x5C'");
  EXPECT_EQ(JsString("it's \"x\"</script>", '"'), "\"it\\x27s \\x22x\\x22\\x3C/script\\x3E\"");
  EXPECT_EQ(JsonString("a\"<\xE4"), "\"a\\\"\\u003c\\u00e4\"");
  EXPECT_EQ(UrlEncode("mmHeader Web Admin.jpg"), "mmHeader%20Web%20Admin.jpg");
}

class WebStaticTest : public WebServerTest {
 protected:
  WebStaticTest() {
    dir = std::filesystem::temp_directory_path() / ("vtweb_" + NewSessionId());
    std::filesystem::create_directories(dir / "Files" / "HTML");
    std::ofstream(dir / "Files" / "StatusGreen.jpg") << "JPG";
    std::ofstream(dir / "Files" / "HTML" / "NotSupported.html") << "<p>no</p>";
    std::ofstream(dir / "secret.txt") << "secret";
    std::filesystem::create_symlink(dir / "secret.txt", dir / "Files" / "link.txt");
    controller->settings.filesDir = (dir / "Files").string() + "/";
  }
  ~WebStaticTest() override { std::filesystem::remove_all(dir); }
  HttpResponse get(const std::string& path) {
    HttpRequest r;
    r.path = path;
    return server->handle(r);
  }
  std::filesystem::path dir;
};

TEST_F(WebStaticTest, FilesAreServedFromTheFolderOnly) {
  const struct {
    const char* path;
    int status;
  } cases[] = {
      {"/files/StatusGreen.jpg", 200},       {"/files/StatusGreen.JPG", 200},
      {"/Files/HTML/NotSupported.html", 200}, {"/files/../secret.txt", 403},
      {"/files/HTML/../../secret.txt", 403}, {"/files/..\\secret.txt", 403},
      {"/files/link.txt", 404},              {"/files/missing.jpg", 404},
      {"/files/HTML", 404},                  {"/files//etc/passwd", 404},
  };
  for (const auto& c : cases) EXPECT_EQ(get(c.path).status, c.status) << c.path;
  HttpResponse r = get("/files/StatusGreen.JPG");
  EXPECT_EQ(r.body, "JPG");
  EXPECT_EQ(r.contentType, "image/jpeg");
  EXPECT_EQ(r.header("Cache-Control"), "");
  r = get("/filesnc/StatusGreen.jpg");
  EXPECT_EQ(r.header("Cache-Control"), "no-cache, no-store");
  r = get("/files/vtfw.js");
  EXPECT_NE(r.body.find("function executeAjaxEvent"), std::string::npos);
  EXPECT_EQ(server->sessionCount(), 0u);
}

TEST_F(WebServerTest, AFullTableEvictsAnAnonymousSessionButNeverALoggedInOne) {
  controller->settings.maxSessions = 3;
  ScopedManualClock clock;
  TestBrowser admin(*server), first(*server), second(*server);
  admin.get("/");
  admin.session()->setAuthenticated(true);
  clock.clock().Advance(1000);
  first.get("/");
  clock.clock().Advance(1000);
  second.get("/");
  clock.clock().Advance(1000);
  TestBrowser flood(*server);
  flood.get("/");
  EXPECT_EQ(flood.status(), 200);
  EXPECT_EQ(server->sessionCount(), 3u);
  EXPECT_EQ(first.session(), nullptr);  // the longest-idle anonymous one
  EXPECT_NE(admin.session(), nullptr);
  EXPECT_EQ(controller->closed, 1);
  second.session()->setAuthenticated(true);
  flood.session()->setAuthenticated(true);
  TestBrowser late(*server);
  late.get("/");
  EXPECT_EQ(late.status(), 503);
  EXPECT_EQ(server->sessionCount(), 3u);
}

TEST_F(WebServerTest, ClosingTheServerClosesEverySession) {
  TestBrowser a(*server), b(*server);
  a.get("/");
  b.get("/");
  const int freed = gDataFreed;
  const int closedBefore = gSessionsClosed;
  server.reset();
  EXPECT_EQ(gSessionsClosed, closedBefore + 2);
  EXPECT_EQ(gDataFreed, freed + 2);
}

}  // namespace

namespace {

using namespace web;
using namespace webtest;

class TabPageForm : public AppForm {
 public:
  explicit TabPageForm(WebApplication& app) : AppForm(app, "frmTabs") {
    tabs = create<TabControl>("tcMain", this);
    first = create<TabPage>("tpFirst", tabs);
    first->title = "First <1>";
    second = create<TabPage>("tpSecond", tabs);
    second->title = "Second";
    edtOne = create<Edit>("edtOne", first);
    edtTwo = create<Edit>("edtTwo", second);
  }
  TabControl* tabs;
  TabPage *first, *second;
  Edit *edtOne, *edtTwo;
};

TEST_F(WebServerTest, EveryTabPagePostsAndTheChosenTabComesBack) {
  controller->setMainForm([](WebApplication& app) { return app.createForm<TabPageForm>(); });
  TestBrowser b(*server);
  b.get("/");
  auto* page = b.activeForm<TabPageForm>();
  ASSERT_NE(page, nullptr);
  EXPECT_NE(b.html().find("First &lt;1&gt;"), std::string::npos);
  EXPECT_EQ(b.attr("TPSECONDIWCL", "style").find("visibility:hidden"), 0u);
  b.type("EDTONE", "one");
  b.type("EDTTWO", "two");
  b.type("TCMAIN", "1");
  b.submit();
  EXPECT_EQ(page->edtOne->text, "one");
  EXPECT_EQ(page->edtTwo->text, "two");
  EXPECT_EQ(page->tabs->activePage, 1);
  EXPECT_NE(b.attr("TPFIRSTIWCL", "style").find("visibility:hidden"), std::string::npos);
  b.postRaw({{"TCMAIN", "5"}});
  EXPECT_EQ(page->tabs->activePage, 1);
}

}  // namespace
