// The domain list and the domain main page through the dispatcher: row
// actions and what they write, the domain fields, the cluster and SSL
// controls, and the restart decision of a save.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uSSLSettings.h"
#include "platform/SysUtils.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fDomains.h"
#include "webadmin/fDomainsMain.h"

namespace {

using web::TestBrowser;

class DomainPages : public WebAdminFixture {
 protected:
  DomainPages() {
    WriteSettings([](TDomainHandler& h) {
      TDomain* a = h.AddDomain();
      a->DomainName = "a.example";
      a->Description = "first <one>";
      a->DefaultTargetAddress = "10.0.0.1";
      a->SiteName = "W3SVC0";
      a->DefaultForPort = true;
      TDomain* b = h.AddDomain();
      b->DomainName = "b.example";
      b->ListenOnPort = 8080;
      b->OutPort = 0;
      b->LogEnabled = false;
      b->SiteName = "W3SVC1";
      TDomain* c = h.AddDomain();
      c->DomainName = "c.example";
      c->SSL = true;
      c->ListenOnPort = 443;
      c->UpdateProtocolMode();
      c->SiteName = "W3SVC2";
      auto cluster = h.ServerClusters->Add();
      cluster->Name = "pool";
    });
  }

  TestBrowser Open(const std::string& menuItem = "IMGDOMAINS") { return OpenMenu(menuItem); }
  // The main page of domain Row (1-based row of the list).
  TestBrowser OpenMain(int row) {
    TestBrowser b = Open();
    EXPECT_TRUE(b.click("GRDDOMAINS_R" + std::to_string(row) + "C3"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
    return b;
  }
  std::vector<std::string> FileNames() {
    std::vector<std::string> names;
    const auto h = FromFile();
    for (const auto& d : h->Domains) names.push_back(d->DomainName);
    return names;
  }

  // Stop and start hooks that record their calls and move the running flag.
  void RecordStartStop(bool running, bool startFails = false) {
    running_ = running;
    serverRunning = [this] { return running_; };
    TEngineHookSet hooks = EngineHooks::Current();
    hooks.StopServerHook = [this](void*, std::string& msg) {
      calls_.push_back("stop");
      running_ = false;
      msg = "Server stopped";
    };
    hooks.StartServerHook = [this, startFails](void*, std::string& msg) {
      calls_.push_back("start");
      running_ = !startFails;
      msg = startFails ? "ERROR : Failed to start server." : "Server started";
    };
    EngineHooks::Assign(hooks);
  }
  bool running_ = false;
  std::vector<std::string> calls_;
};

TEST_F(DomainPages, ListShowsEveryDomainInOrder) {
  TestBrowser b = Open();
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains]");
  auto* page = b.activeForm<TfrmDomains>();
  ASSERT_NE(page, nullptr);
  web::Grid& g = *page->grdDomains;
  ASSERT_EQ(g.rowCount(), 4);
  EXPECT_EQ(g.cell(0, 0).text, "&nbsp;On/Off&nbsp;");
  EXPECT_EQ(g.cell(0, 11).text, "");
  EXPECT_EQ(g.cell(0, 13).text, "&nbsp;Remove&nbsp;");
  EXPECT_EQ(g.cell(1, 1).text, "&nbsp;a.example (HTTP)&nbsp;");
  EXPECT_EQ(g.cell(1, 2).text, "&nbsp;first &lt;one&gt;&nbsp;");
  EXPECT_EQ(g.cell(1, 4).text, "");
  EXPECT_EQ(g.cell(1, 7).text, "&nbsp;HTTP&nbsp;");
  EXPECT_EQ(g.cell(2, 7).text, "&nbsp;8080&nbsp;");
  EXPECT_EQ(g.cell(2, 8).text, "&nbsp;-&nbsp;");
  EXPECT_EQ(g.cell(3, 1).text, "&nbsp;c.example (SSL)&nbsp;");
  EXPECT_EQ(g.cell(3, 7).text, "&nbsp;SSL&nbsp;");
  struct Image {
    int row, col;
    const char* file;
    int width, tag;
  };
  for (const Image& i : {Image{1, 0, "StatusGreen.jpg", 18, 0}, Image{2, 9, "StatusGray.jpg", 18, 1},
                         Image{1, 10, "StatusGreen.jpg", 18, 0}, Image{2, 10, "StatusGray.jpg", 18, 1},
                         Image{3, 3, "DomainEdit.jpg", 47, 2}, Image{3, 11, "DomainUp.jpg", 18, 2},
                         Image{3, 12, "DomainDown.jpg", 18, 2}, Image{3, 13, "DomainRemove.jpg", 66, 2}}) {
    SCOPED_TRACE(std::to_string(i.row) + "," + std::to_string(i.col));
    auto* img = dynamic_cast<web::ImageFile*>(g.cell(i.row, i.col).control.get());
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->fileName, i.file);
    EXPECT_EQ(img->width, i.width);
    EXPECT_EQ(img->tag, i.tag);
  }
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(g.cell(1, 13).control.get())->confirmation, "Are you sure?");
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/domains.htm");
  EXPECT_EQ(b.attr("IWURLTUTORIAL", "href"), "/files/Help/tutorials.htm");
}

TEST_F(DomainPages, MovesSaveAtOnceButUpOnTheFirstAndDownOnTheLastDoNot) {
  TestBrowser b = Open();
  const int before = reloads;
  const auto stored = ReadFileBytes(SettingsFileName);
  EXPECT_TRUE(b.click("GRDDOMAINS_R1C11"));  // up on the first row
  EXPECT_TRUE(b.click("GRDDOMAINS_R3C12"));  // down on the last row
  EXPECT_EQ(reloads, before);
  EXPECT_EQ(ReadFileBytes(SettingsFileName), stored);
  EXPECT_TRUE(b.click("GRDDOMAINS_R2C11"));
  EXPECT_EQ(reloads, before + 1);
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"b.example", "a.example", "c.example"}));
  EXPECT_TRUE(b.click("GRDDOMAINS_R2C12"));
  EXPECT_EQ(reloads, before + 2);
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"b.example", "c.example", "a.example"}));
  // The rebuilt grid's images carry the new indexes.
  EXPECT_EQ(b.activeForm<TfrmDomains>()->grdDomains->cell(3, 1).text, "&nbsp;a.example (HTTP)&nbsp;");
}

TEST_F(DomainPages, SwitchesFlipAndSave) {
  TestBrowser b = Open();
  EXPECT_TRUE(b.click("GRDDOMAINS_R1C0"));
  EXPECT_TRUE(b.click("GRDDOMAINS_R2C9"));
  EXPECT_TRUE(b.click("GRDDOMAINS_R1C10"));
  auto h = FromFile();
  EXPECT_FALSE(h->Domains[0]->Enabled);
  EXPECT_TRUE(h->Domains[1]->LogEnabled);
  EXPECT_FALSE(h->Domains[0]->DefaultForPort);
  EXPECT_EQ(b.activeForm<TfrmDomains>()->grdDomains->cell(1, 0).control->name(), "grdDomains_R1C0");
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(b.activeForm<TfrmDomains>()->grdDomains->cell(1, 0).control.get())->fileName,
            "StatusRed.jpg");
}

TEST_F(DomainPages, RemoveAfterConfirmationOnlyAndTheCurrentDomainIsForgotten) {
  TestBrowser b = Open();
  b.acceptConfirm(false);
  EXPECT_FALSE(b.click("GRDDOMAINS_R2C13"));
  EXPECT_EQ(b.lastConfirmation(), "Are you sure?");
  EXPECT_EQ(FileNames().size(), 3u);
  b.acceptConfirm(true);
  EXPECT_TRUE(b.click("GRDDOMAINS_R2C13"));
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a.example", "c.example"}));
  {
    web::CurrentAppGuard guard(b.session().get());
    EXPECT_EQ(UserSession()->DomainIndex, -1);
    // The removed domain's paths left the flat list too.
    EXPECT_EQ(UserSession()->DomainHandler->Domains.Count(), 2);
  }
  EXPECT_EQ(b.activeForm<TfrmDomains>()->grdDomains->rowCount(), 3);
}

TEST_F(DomainPages, NewDomainIsNotSavedAndOnlyTheFirstIsTheDefault) {
  WriteSettings([](TDomainHandler&) {});
  TestBrowser b = Open();
  EXPECT_EQ(b.activeForm<TfrmDomains>()->grdDomains->rowCount(), 1);
  EXPECT_EQ(b.text("LBLSTATUS"), "There are no domains");
  const int before = reloads;
  ASSERT_TRUE(b.click("BTNNEWDOMAIN"));
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
  EXPECT_EQ(b.value("EDTDOMAINNAME"), "(New_domain)");
  EXPECT_EQ(b.value("EDTSITENAME"), "W3SVC0");
  EXPECT_TRUE(b.checked("CHKDEFAULTFORPORT"));
  EXPECT_EQ(reloads, before);
  EXPECT_TRUE(FromFile()->Domains.Empty());
  // Through the menu to the list (which reloads the copy) and a second one.
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINS"));
  EXPECT_EQ(Copy(b).Domains.Count(), 0);
  ASSERT_TRUE(b.click("BTNNEWDOMAIN"));
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINS"));
  ASSERT_TRUE(b.click("BTNNEWDOMAIN"));
  EXPECT_FALSE(b.checked("CHKDEFAULTFORPORT"));
  EXPECT_EQ(b.value("EDTSITENAME"), "W3SVC1");
}

TEST_F(DomainPages, MainShowsTheDomainFields) {
  TestBrowser b = OpenMain(2);
  EXPECT_EQ(b.value("EDTDOMAINNAME"), "b.example");
  EXPECT_EQ(b.value("EDTDEFAULTLISTENONPORT"), "8080");
  EXPECT_EQ(b.value("EDTDEFAULTOUTPORT"), "");
  EXPECT_FALSE(b.checked("CHKLOGENABLED"));
  EXPECT_EQ(b.value("EDTSITENAME"), "W3SVC1");
  auto* page = b.activeForm<TfrmDomainsMain>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->cmbServerCluster->items,
            (std::vector<std::string>{"-- No Selection --", "-- Domain Default --", "pool"}));
  EXPECT_EQ(page->cmbServerCluster->itemIndex, 0);
  EXPECT_EQ(page->cmbDomains->itemIndex, 1);
  EXPECT_EQ(page->tcMain->pages()[0]->title, "\xA0\xA0" "Domain settings\xA0\xA0");
  EXPECT_FALSE(b.shown("LBLSSLMATCH"));
  EXPECT_FALSE(b.shown("LBLSAVED"));
  EXPECT_NE(b.onloadScript().find("VTInitTabcontrols();VTFormInit();"), std::string::npos);
  EXPECT_EQ(b.attr("IMGHEADER", "onload"), "Done();");
  EXPECT_EQ(b.attr("BTN1", "onclick"), "addRow(event, 'TBLGRDVIRTUALPATHS');");
  EXPECT_EQ(b.attr("IWURLHELP1", "href"), "/files/Help/domainsmain.htm");
  EXPECT_EQ(b.attr("IWURLEXAMPLE2", "href"), "/files/Help/example_virtualpaths.htm");
}

TEST_F(DomainPages, MainSaveStoresEveryField) {
  TestBrowser b = OpenMain(1);
  b.check("CHKDOMAINNAMEENABLED", false);
  b.type("EDTDOMAINNAME", "new.example");
  b.type("MMDOMAINDESC", "line1\r\nline2");
  b.type("EDTSITENAME", "my site");
  b.check("CHKLOGENABLED", false);
  b.check("CHKDEFAULTFORPORT", false);
  b.type("MMIPSTOBIND", "127.0.0.1\r\n127.0.0.2");
  b.type("EDTDEFAULTTAGETADRESS", "10.1.1.1");
  b.type("EDTDEFAULTHOSTREPLACE", "inner.example");
  b.type("EDTDEFAULTLISTENONPORT", "8081");
  b.type("EDTDEFAULTOUTPORT", " ");
  b.check("CBOWAHTTPTOHTTPS", true);
  b.check("CBFORCEDHTTPTOHTTPS", true);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(b.text("LBLSAVED"), "Settings saved");
  auto h = FromFile();
  const TDomain& d = *h->Domains[0];
  EXPECT_FALSE(d.Enabled);
  EXPECT_EQ(d.DomainName, "new.example");
  EXPECT_EQ(d.Description, "line1\r\nline2");
  EXPECT_EQ(d.SiteName, "mysite");
  EXPECT_FALSE(d.LogEnabled);
  EXPECT_FALSE(d.DefaultForPort);
  EXPECT_EQ(d.IPsToBindTo.Text(), "127.0.0.1\r\n127.0.0.2\r\n");
  EXPECT_EQ(d.DefaultTargetAddress, "10.1.1.1");
  EXPECT_EQ(d.DefaultHostReplace, "inner.example");
  EXPECT_EQ(d.ListenOnPort, 8081);
  EXPECT_EQ(d.OutPort, 0);
  EXPECT_TRUE(d.OwaHTTPtoHTTPS);
  EXPECT_TRUE(d.ForcedHTTPtoHTTPS);
  EXPECT_EQ(b.value("EDTSITENAME"), "mysite");
  // An emptied site name takes the first free log name.
  b.type("EDTSITENAME", "  ");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(b.value("EDTSITENAME"), "W3SVC0");
}

TEST_F(DomainPages, ABadPortShowsTheErrorAndChangesNothing) {
  TestBrowser b = OpenMain(1);
  b.type("EDTDOMAINNAME", "changed.example");
  b.type("EDTDEFAULTOUTPORT", "8o");
  const int before = reloads;
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(reloads, before);
  EXPECT_FALSE(b.shown("LBLSAVED"));
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_NE(b.alerts()[0].find("8o"), std::string::npos);
  EXPECT_EQ(Copy(b).Domains[0]->DomainName, "a.example");
  EXPECT_EQ(FromFile()->Domains[0]->DomainName, "a.example");
}

TEST_F(DomainPages, ClusterChoiceLocksTargetAndOutportAndDomainDefaultStoresNoCluster) {
  TestBrowser b = OpenMain(1);
  ASSERT_TRUE(b.choose("CMBSERVERCLUSTER", 2));
  auto* page = b.activeForm<TfrmDomainsMain>();
  EXPECT_EQ(b.value("EDTDEFAULTTAGETADRESS"), "");
  EXPECT_TRUE(page->edtDefaultTagetAdress->readOnly);
  EXPECT_TRUE(page->edtDefaultOutPort->readOnly);
  EXPECT_EQ(page->lblDefaultOutPort->font.color, web::colors::Silver);
  EXPECT_FALSE(b.shown("REQDEFAULTTAGETADRESS"));
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  {
    auto h = FromFile();
    ASSERT_NE(h->Domains[0]->ServerCluster, nullptr);
    EXPECT_EQ(h->Domains[0]->ServerCluster->Name, "pool");
    EXPECT_EQ(h->Domains[0]->DefaultTargetAddress, "");
    EXPECT_EQ(h->Domains[0]->OutPort, 0);
  }
  ASSERT_TRUE(b.choose("CMBSERVERCLUSTER", 1));
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(Copy(b).Domains[0]->ServerCluster, nullptr);
  EXPECT_EQ(FromFile()->Domains[0]->ServerCluster, nullptr);
  // No cluster and no target: the check says so, and the save went through.
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_EQ(b.alerts()[0], "Target address must be set!");
  EXPECT_TRUE(b.shown("LBLSAVED"));
  ASSERT_TRUE(b.choose("CMBSERVERCLUSTER", 0));
  EXPECT_FALSE(b.activeForm<TfrmDomainsMain>()->edtDefaultTagetAdress->readOnly);
  EXPECT_TRUE(b.shown("REQDEFAULTTAGETADRESS"));
}

TEST_F(DomainPages, SSLCheckBoxWritesTheCopyAtOnceAndShowsTheMatch) {
  WriteSettings([](TDomainHandler& h) {
    h.AddDomain()->DomainName = "a.example";
    TSSLSettings* set = h.SSLSettingsList.Items(0);
    set->Enabled = true;
    set->CertificateName = "main cert";
    set->Bindings.AddBinding("*", 443);
  });
  TestBrowser b = OpenMain(1);
  ASSERT_TRUE(b.click("CBSSL"));
  EXPECT_EQ(Copy(b).Domains[0]->ListenOnPort, 443);
  EXPECT_TRUE(Copy(b).Domains[0]->SSL);
  EXPECT_EQ(b.value("EDTDEFAULTLISTENONPORT"), "443");
  EXPECT_EQ(b.text("LBLSSLMATCH"), "Matches SSL Certificate \"main cert\"");
  EXPECT_FALSE(b.activeForm<TfrmDomainsMain>()->lblSSLMatch->font.bold);
  b.type("EDTDEFAULTLISTENONPORT", "");
  ASSERT_TRUE(b.pressEnter("EDTDEFAULTLISTENONPORT"));
  EXPECT_EQ(b.text("LBLSSLMATCH"), "No matching certificate!");
  EXPECT_TRUE(b.activeForm<TfrmDomainsMain>()->lblSSLMatch->font.bold);
  ASSERT_TRUE(b.click("CBSSL"));
  EXPECT_EQ(Copy(b).Domains[0]->ListenOnPort, 80);
  EXPECT_FALSE(Copy(b).Domains[0]->SSL);
  EXPECT_FALSE(b.shown("LBLSSLMATCH"));
}

TEST_F(DomainPages, RestartOnlyWhenThePlainBindingsChangeWhileRunning) {
  struct Case {
    const char* name;
    int row;
    const char* field;
    const char* value;
    bool running;
    bool startFails;
    std::vector<std::string> calls;
    const char* saved;
  };
  const Case cases[] = {
      {"port while running", 1, "EDTDEFAULTLISTENONPORT", "8090", true, false, {"stop", "start"},
       "Settings saved and server restarted"},
      {"port while stopped", 1, "EDTDEFAULTLISTENONPORT", "8090", false, false, {}, "Settings saved"},
      {"description only", 1, "MMDOMAINDESC", "other", true, false, {}, "Settings saved"},
      {"an SSL domain's port", 3, "EDTDEFAULTLISTENONPORT", "4443", true, false, {}, "Settings saved"},
      {"an address beside *", 1, "MMIPSTOBIND", "*\r\n127.0.0.1", true, false, {}, "Settings saved"},
      {"a failing start", 1, "EDTDEFAULTLISTENONPORT", "8090", true, true, {"stop", "start"},
       "Settings saved, but the server failed to start: ERROR : Failed to start server."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    calls_.clear();
    RecordStartStop(c.running, c.startFails);
    TestBrowser b = OpenMain(c.row);
    b.type(c.field, c.value);
    ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
    EXPECT_EQ(calls_, c.calls);
    EXPECT_EQ(b.text("LBLSAVED"), c.saved);
    EXPECT_TRUE(b.shown("LBLSAVED"));
    // The snapshot moved with the save: a second save restarts nothing.
    calls_.clear();
    running_ = true;
    ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
    EXPECT_TRUE(calls_.empty());
    WriteSettings([](TDomainHandler& h) {
      for (int i = 0; i < 3; ++i) {
        TDomain* d = h.AddDomain();
        d->DomainName = std::string(1, static_cast<char>('a' + i)) + ".example";
        d->SiteName = "W3SVC" + std::to_string(i);
        d->DefaultTargetAddress = "10.0.0.1";
        if (i == 2) {
          d->SSL = true;
          d->ListenOnPort = 443;
        }
      }
    });
  }
}

TEST_F(DomainPages, DomainComboOpensAnotherDomainAndDropsTyping) {
  TestBrowser b = OpenMain(1);
  b.type("EDTDOMAINNAME", "typed.example");
  ASSERT_TRUE(b.choose("CMBDOMAINS", 1));
  EXPECT_EQ(b.value("EDTDOMAINNAME"), "b.example");
  EXPECT_EQ(Copy(b).Domains[0]->DomainName, "a.example");
}

}  // namespace
