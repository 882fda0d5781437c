// The menu frame: layout, server image, keep-or-reload navigation, logout;
// and the page helpers.
#include <gtest/gtest.h>

#include "Common/uDomainClasses.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminMisc.h"
#include "webadmin/uAdminPage.h"
#include "webadmin/uIWMisc.h"

namespace {

using web::TestBrowser;

// A stand-in for a page that keeps unsaved edits: its edit holds the first
// domain's name.
class StubKeepPage : public TAdminPage, public IKeepsUnsavedEdits {
 public:
  StubKeepPage(web::WebApplication& app, AdminPage id) : TAdminPage(app, id) {
    CreateMenu();
    edtName = create<web::Edit>("edtName", this);
    edtName->setBounds(PageContentLeft, 10, 200, 20);
    if (TDomain* d = UserSession()->GetCurrentDomain()) edtName->text = d->DomainName;
    InitCommon();
  }
  void StoreControls(bool commit) override {
    ++stores;
    lastCommit = commit;
    if (failStore) throw Exception("Store failed");
    if (TDomain* d = UserSession()->GetCurrentDomain()) d->DomainName = edtName->text;
  }
  web::Edit* edtName;
  static inline int stores = 0;
  static inline bool lastCommit = true;
  static inline bool failStore = false;
};

class MenuTest : public WebAdminFixture {
 protected:
  MenuTest() {
    WriteSettings([](TDomainHandler& h) { h.AddDomain()->DomainName = "stored.example"; });
    for (AdminPage id : {AdminPage::DomainsMain, AdminPage::DomainsHeaders, AdminPage::ServerClusterEdit}) {
      OverridePageFactory(id, [id](web::WebApplication& app) { return app.createForm<StubKeepPage>(id); });
    }
    StubKeepPage::stores = 0;
    StubKeepPage::failStore = false;
  }
  ~MenuTest() override {
    for (AdminPage id : {AdminPage::DomainsMain, AdminPage::DomainsHeaders, AdminPage::ServerClusterEdit}) {
      OverridePageFactory(id, nullptr);
    }
  }
  TframeMainMenu* Menu(TestBrowser& b) { return dynamic_cast<TAdminPage*>(b.activeForm())->frameMainMenu; }
  std::string CopyName(TestBrowser& b) {
    web::CurrentAppGuard guard(b.session().get());
    return UserSession()->GetCurrentDomain()->DomainName;
  }
};

TEST_F(MenuTest, EditsSurviveOnlyBetweenTheKeepPages) {
  TestBrowser b = Browser();
  Login(b);
  b.click("FRAMEMAINMENU_IMGDOMAINS");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains]");
  // Domain pages show their sub-items; a domain sub-page is reached from there.
  b.submit();
  {
    web::CurrentAppGuard guard(b.session().get());
    Menu(b)->Navigate(AdminPage::DomainsMain);
    b.session()->commitEvent();
  }
  b.submit();
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
  EXPECT_EQ(StubKeepPage::stores, 0);  // from a page that keeps nothing: nothing stored
  b.type("EDTNAME", "edited.example");
  b.click("FRAMEMAINMENU_IMGDOMAINSHEADERS");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Headers]");
  EXPECT_EQ(StubKeepPage::stores, 1);
  EXPECT_FALSE(StubKeepPage::lastCommit);
  EXPECT_EQ(CopyName(b), "edited.example");
  b.click("FRAMEMAINMENU_IMGGENERAL");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [General settings]");
  EXPECT_EQ(StubKeepPage::stores, 1);
  EXPECT_EQ(CopyName(b), "stored.example");  // read again from the file
}

TEST_F(MenuTest, AFailedStoreKeepsThePageAndShowsTheError) {
  TestBrowser b = Browser();
  Login(b);
  {
    web::CurrentAppGuard guard(b.session().get());
    Menu(b)->Navigate(AdminPage::DomainsMain);
    b.session()->commitEvent();
  }
  b.submit();
  auto* page = b.activeForm<StubKeepPage>();
  ASSERT_NE(page, nullptr);
  StubKeepPage::failStore = true;
  b.click("FRAMEMAINMENU_IMGDOMAINSHEADERS");
  EXPECT_EQ(b.activeForm(), page);
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
  EXPECT_EQ(b.alerts(), std::vector<std::string>{"Store failed"});
  EXPECT_EQ(b.session()->forms().size(), 1u);
}

TEST_F(MenuTest, TheMenuStacksWithoutGapsForThePage) {
  TestBrowser b = Browser();
  Login(b);
  TframeMainMenu* m = Menu(b);
  EXPECT_FALSE(m->imgDomainsMain->visible);
  EXPECT_EQ(m->imgServerCluster->top, m->imgDomains->top + 28);
  EXPECT_EQ(m->imgFoot->top, m->imgLogout->top + 28);
  EXPECT_EQ(m->imgMain->fileName, ProgramFolder() + "Files/mmsMain.jpg");
  EXPECT_EQ(m->imgGeneral->fileName, ProgramFolder() + "Files/mmGeneral.jpg");
  EXPECT_EQ(b.attr("FRAMEMAINMENU_IMGHEAD", "src"), "/files/mmHeader%20Web%20Admin.jpg");
  m->imgMain->fileName = "C:\\x\\Files\\mmMain.jpg";
  m->Arrange(true);
  EXPECT_EQ(m->imgMain->fileName, ProgramFolder() + "Files/mmMain.jpg");
  EXPECT_TRUE(m->imgDomainsVirtualDomains->visible);
  EXPECT_EQ(m->imgServerCluster->top, m->imgDomainsVirtualDomains->top + 28);
  web::ImageFile* order[] = {m->imgHead,     m->imgMain,       m->imgGeneral,     m->imgDomains,
                             m->imgDomainsMain, m->imgDomainsHeaders, m->imgDomainsSecurity,
                             m->imgDomainsVirtualDomains, m->imgServerCluster, m->imgSecurity,
                             m->imgSSLSettings, m->imgCompression, m->imgTestRequest, m->imgServer,
                             m->imgStatus,   m->imgLogView,    m->imgSupport,     m->imgLogout,  m->imgFoot};
  for (size_t i = 1; i < std::size(order); ++i) {
    EXPECT_EQ(order[i]->top, order[i - 1]->top + order[i - 1]->height) << order[i]->name();
  }
}

TEST_F(MenuTest, TheServerImageShowsTheEngineState) {
  const struct {
    int hook;  // -1 unassigned, 0 stopped, 1 running
    bool onServerPage;
    const char* file;
  } cases[] = {{1, false, "mmServerRunning.jpg"}, {1, true, "mmsServerRunning.jpg"},
               {0, false, "mmServerStopped.jpg"}, {0, true, "mmsServerStopped.jpg"},
               {-1, false, "mmServer.jpg"},       {-1, true, "mmsServer.jpg"}};
  for (const auto& c : cases) {
    if (c.hook < 0) {
      TEngineHookSet none = EngineHooks::Current();
      none.IsServerRunningHook = nullptr;
      EngineHooks::Assign(none);
    } else {
      serverRunning = [&c] { return c.hook == 1; };
    }
    TestBrowser b = Browser();
    Login(b);
    if (c.onServerPage) b.click("FRAMEMAINMENU_IMGSERVER");
    EXPECT_EQ(Menu(b)->imgServer->fileName, c.file) << c.hook << c.onServerPage;
  }
}

TEST_F(MenuTest, LogoutWritesTheLineAndReloadsTheCopy) {
  TestBrowser b = Browser();
  Login(b);
  {
    web::CurrentAppGuard guard(b.session().get());
    UserSession()->DomainHandler->GateName = "unsaved";
  }
  b.click("FRAMEMAINMENU_IMGLOGOUT");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Login]");
  EXPECT_EQ(LogLines().back(), "Web Admin : User: Admin logged out");
  EXPECT_FALSE(b.session()->authenticated());
  web::CurrentAppGuard guard(b.session().get());
  EXPECT_EQ(UserSession()->DomainHandler->GateName, "Vantrell Switch");
}

TEST_F(MenuTest, EveryMenuItemLeadsToItsTitledPage) {
  TestBrowser b = Browser();
  Login(b);
  const struct {
    const char* item;
    const char* title;
  } items[] = {{"IMGGENERAL", "General settings"}, {"IMGDOMAINS", "Domains"},
               {"IMGSERVERCLUSTER", "Server Cluster"}, {"IMGSECURITY", "Security settings"},
               {"IMGSSLSETTINGS", "SSL settings"}, {"IMGCOMPRESSION", "Compression settings"},
               {"IMGTESTREQUEST", "Test request"}, {"IMGSERVER", "Service"},
               {"IMGSTATUS", "Status"},        {"IMGLOGVIEW", "Log View"},
               {"IMGSUPPORT", "Support"},      {"IMGMAIN", "Main"}};
  for (const auto& i : items) {
    ASSERT_TRUE(b.click(std::string("FRAMEMAINMENU_") + i.item)) << i.item;
    EXPECT_EQ(b.title(), std::string("Vantrell - Web Admin [") + i.title + "]");
    EXPECT_EQ(b.session()->forms().size(), 1u);
  }
}

TEST_F(MenuTest, ListGridConventionsAndHelpers) {
  TestBrowser b = Browser();
  Login(b);
  struct Page : TAdminPage {
    explicit Page(web::WebApplication& app) : TAdminPage(app, AdminPage::Domains) {
      grid = create<web::Grid>("grdDomains", this);
      grid->setRowCount(2);
      grid->setColCount(3);
      StyleListGrid(*grid);
      grid->cell(0, 0).text = CellText("Name");
      grid->cell(1, 0).text = CellText("<script>x</script>");
      AddRowImage(*grid, 1, 1, RowImage::OnOff, 0, [this](web::Control& s) { index = RowIndex(s); }, false);
      AddRowImage(*grid, 1, 2, RowImage::Remove, 0, [this](web::Control&) { ++removes; }, true,
                  ConfirmRemoveRestart);
      help = create<web::Url>("lnkTagged", this);
      help->tag = 1;
      other = create<web::Url>("lnkOther", this);
    }
    web::Grid* grid;
    web::Url *help, *other;
    int index = -2;
    int removes = 0;
  };
  auto* page = b.session()->createForm<Page>();
  b.activeForm()->release();
  page->show();
  b.session()->commitEvent();
  b.submit();
  const std::string html = b.html();
  EXPECT_NE(html.find("<td bgcolor=\"#4A5FA6\" style=\"color:#FFFFFF;font-weight:bold;\">&nbsp;Name&nbsp;</td>"),
            std::string::npos);
  EXPECT_NE(html.find("&nbsp;&lt;script&gt;x&lt;/script&gt;&nbsp;"), std::string::npos);
  EXPECT_EQ(b.attr("GRDDOMAINS_R1C1", "src"), "/files/StatusRed.jpg");
  b.acceptConfirm(false);
  EXPECT_FALSE(b.click("GRDDOMAINS_R1C2"));
  EXPECT_EQ(b.lastConfirmation(), "Are you sure? The server will have to be restarted!");
  EXPECT_EQ(page->removes, 0);
  EXPECT_TRUE(b.click("GRDDOMAINS_R1C1"));
  EXPECT_EQ(page->index, 0);
  ClearGrid(page->grid);
  ClearGrid(nullptr);
  EXPECT_EQ(page->grid->children().size(), 0u);
  SetTaggedURLs(page, "/files/Help/index.html?x.html");
  EXPECT_EQ(page->help->url, "/files/Help/index.html?x.html");
  EXPECT_EQ(page->other->url, "");

  web::Label label;
  web::Edit edit;
  web::CheckBox check;
  web::Button button;
  SetControlsEditable(false, {&label, &edit, &check, &button});
  EXPECT_EQ(label.font.color, web::colors::Silver);
  EXPECT_TRUE(edit.readOnly);
  EXPECT_FALSE(check.editable);
  SetControlsEditable(true, {&label, &edit, &check});
  EXPECT_EQ(label.font.color, web::colors::Black);
  EXPECT_FALSE(edit.readOnly);
  SetControlsVisible(false, {&label, &edit});
  EXPECT_FALSE(label.visible);
  EXPECT_TRUE(edit.visible);
}

// External links share one named window, which a second click reuses; the
// help links keep their own named window.
TEST_F(MenuTest, LinksOpenInTheirNamedWindows) {
  TestBrowser b = LoggedIn();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  for (const char* id : {"IWURLDOCUMENTATION", "IWURLHOMEPAGE", "IWURLSUPPORT"}) {
    EXPECT_EQ(b.attr(id, "target"), "ExternalBrowser") << id;
  }
  EXPECT_EQ(b.attr("IWURLHELP", "target"), "NewWindow");
}

}  // namespace
