// The server-cluster list and edit pages through the dispatcher: what they
// show, what the row images and Save write, and the health checks that Save
// runs against back ends on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "Common/uClusterChecks.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uServerVerification.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/SysUtils.h"
#include "tests/Common/CheckBackend.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/fServerClusterEdit.h"
#include "webadmin/fServerClusters.h"

namespace {

using web::TestBrowser;

std::shared_ptr<TServer> AddServer(TServerCluster& cluster, const std::string& name, float capacity, bool enabled,
                                   bool responding, int port = 80) {
  auto s = TServer::Create(cluster);
  s->ServerName = name;
  s->ServerAddress = "127.0.0.1";
  s->ServerPort = port;
  s->SetCapacity(capacity);
  s->Enabled = enabled;
  s->Responding = responding;
  return s;
}

TEST(ServerClusterPages, AvailableCapacityRoundsHalvesToEven) {
  struct Server {
    float capacity;
    bool enabled, responding;
  };
  struct Case {
    const char* name;
    std::vector<Server> servers;
    int expected;
  } cases[] = {
      {"1 of 8", {{1, true, true}, {7, true, false}}, 12},
      {"3 of 8", {{3, true, true}, {5, true, false}}, 38},
      {"1 of 3", {{1, true, true}, {2, true, false}}, 33},
      {"2 of 3", {{2, true, true}, {1, true, false}}, 67},
      {"disabled 5 beside responding 5", {{5, false, true}, {5, true, true}}, 50},
      {"all responding", {{2, true, true}, {3, true, true}}, 100},
      {"total 0", {{0, true, true}, {0, true, true}}, 0},
      {"no servers", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TServerClusterList list;
    auto cluster = list.Add();
    for (const Server& s : c.servers) AddServer(*cluster, "s", s.capacity, s.enabled, s.responding);
    EXPECT_EQ(GetAvailableCapacityPercent(*cluster), c.expected);
  }
}

TEST(ServerClusterPages, OnlineImageAndHintOfAServer) {
  struct Case {
    bool enabled, online, responding;
    float capacity;
    const char* image;
    const char* prefix;
  } cases[] = {
      {true, true, true, 1, "StatusGreen.jpg", ""},
      {true, false, true, 1, "StatusOrange.jpg",
       "The server is online but has been offline and is not set to auto activate. "},
      {true, false, false, 1, "StatusRed.jpg", ""},
      {false, false, false, 1, "StatusRed.jpg", "The server is offline. "},
      {false, true, true, 2, "StatusGreen.jpg", "The server is online even if it's disabled. "},
      {false, true, true, 0, "StatusGray.jpg", "The server is disabled and the capacity is set to zero. "},
  };
  TServerClusterList list;
  auto cluster = list.Add();
  for (const Case& c : cases) {
    auto s = AddServer(*cluster, "s", c.capacity, c.enabled, c.responding);
    s->Online = c.online;
    const TServerOnlineView view = ServerOnlineView(*s);
    EXPECT_STREQ(view.image, c.image);
    EXPECT_STREQ(view.hintPrefix, c.prefix);
  }
}

TEST(ServerClusterPages, TimeLabels) {
  EXPECT_EQ(MinutesLabel(1800), "(= 30.00 minutes)");
  EXPECT_EQ(MinutesLabel(90), "(= 1.50 minutes)");
  TServerClusterList list;
  auto cluster = list.Add();
  cluster->MaxFailBeforeOffline = 1;
  cluster->FailoverCheckInterval = 5;
  EXPECT_EQ(FailOverLabel(*cluster), "(Fail Over Timeout = 10 seconds)");
  // Beyond 32 bits: shown, not an overflow error.
  cluster->MaxFailBeforeOffline = INT32_MAX;
  cluster->FailoverCheckInterval = INT32_MAX;
  EXPECT_EQ(FailOverLabel(*cluster), "(Fail Over Timeout = 4611686016279904256 seconds)");
}

// A settings file with one domain on cluster "web" (servers "one" and
// "two"), and a second cluster "spare".
class ClusterPages : public WebAdminFixture {
 protected:
  ClusterPages() {
    InstallServerChecks();
    WriteSettings([](TDomainHandler& h) {
      auto web = h.ServerClusters->Add();
      web->Name = "web";
      AddServer(*web, "one", 1, true, false, 8081);
      AddServer(*web, "two", 3, true, false, 8082);
      auto spare = h.ServerClusters->Add();
      spare->Name = "spare";
      AddServer(*spare, "three", 1, true, false, 8083);
      TDomain* d = h.AddDomain();
      d->DomainName = "example.com";
      d->ServerCluster = web.get();
    });
  }
  ~ClusterPages() override {
    SetServerCheckStarter(nullptr);
    EXPECT_TRUE(FinalizeVerificationThreads(10000));
  }

  TestBrowser OpenList() { return OpenMenu("IMGSERVERCLUSTER", "Vantrell - Web Admin [Server Cluster]"); }
  // The edit page of the cluster in list row Row.
  TestBrowser OpenEdit(int row = 1) {
    TestBrowser b = OpenList();
    EXPECT_TRUE(b.click("GRDSERVERCLUSTERS_R" + std::to_string(row) + "C5"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [Server Cluster Edit]");
    return b;
  }
  static TServerCluster& Cluster(TDomainHandler& h, int i) { return *h.ServerClusters->GetCluster(i); }
};

TEST_F(ClusterPages, ListShowsEveryClusterWithItsState) {
  TestBrowser b = OpenList();
  auto* page = b.activeForm<TfrmServerCluster>();
  ASSERT_NE(page, nullptr);
  web::Grid& g = *page->grdServerClusters;
  ASSERT_EQ(g.rowCount(), 3);
  EXPECT_EQ(g.cell(0, 0).text, "&nbsp;On/Off&nbsp;");
  EXPECT_EQ(g.cell(0, 3).text, "&nbsp;Server cluster&nbsp;");
  EXPECT_EQ(g.cell(1, 3).text, "&nbsp;web&nbsp;");
  EXPECT_EQ(g.cell(1, 3).width, 300);
  EXPECT_EQ(g.cell(1, 4).text, "&nbsp;2&nbsp;");
  EXPECT_EQ(g.cell(1, 2).text, "&nbsp;0&nbsp;%&nbsp;");
  // Servers start online but not responding: enabled and online -> orange.
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(g.cell(1, 1).control.get())->fileName, "StatusOrange.jpg");
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(g.cell(1, 0).control.get())->fileName, "StatusGreen.jpg");
  EXPECT_EQ(page->IWURLHelp->url, "/files/Help/serverclusters.htm");
  EXPECT_EQ(page->IWURLTutorials->url, "/files/Help/tutorials.htm");
  EXPECT_EQ(page->frameMainMenu->imgServerCluster->fileName.substr(
                page->frameMainMenu->imgServerCluster->fileName.rfind('/') + 1),
            "mmsServerClusters.jpg");
  EXPECT_FALSE(page->frameMainMenu->imgDomainsMain->visible);
  EXPECT_EQ(b.text("LBLSTATUS"), "No errors or warnings found for server cluster settings.");
}

TEST_F(ClusterPages, NamesAreEscaped) {
  WriteSettings([](TDomainHandler& h) {
    auto c = h.ServerClusters->Add();
    c->Name = "<b>x</b>";
    AddServer(*c, "<i>s</i>", 1, true, false);
  });
  TestBrowser b = OpenList();
  EXPECT_EQ(b.html().find("<b>x</b>"), std::string::npos);
  EXPECT_NE(b.html().find("&lt;b&gt;x&lt;/b&gt;"), std::string::npos);
  ASSERT_TRUE(b.click("GRDSERVERCLUSTERS_R1C5"));
  EXPECT_EQ(b.html().find("<i>s</i>"), std::string::npos);
  EXPECT_EQ(b.value("GRDSERVERS_R1C2"), "<i>s</i>");
}

TEST_F(ClusterPages, OnOffAndRemoveSaveAtOnce) {
  TestBrowser b = OpenList();
  ASSERT_TRUE(b.click("GRDSERVERCLUSTERS_R2C0"));
  EXPECT_FALSE(Cluster(*FromFile(), 1).Enabled);
  EXPECT_EQ(reloads, 1);
  auto* page = b.activeForm<TfrmServerCluster>();
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(page->grdServerClusters->cell(2, 1).control.get())->fileName,
            "StatusGray.jpg");

  b.acceptConfirm(false);
  EXPECT_FALSE(b.click("GRDSERVERCLUSTERS_R1C6"));
  EXPECT_EQ(b.lastConfirmation(), "Are you sure? The server will have to be restarted!");
  EXPECT_EQ(FromFile()->ServerClusters->Count(), 2);
  b.acceptConfirm(true);
  ASSERT_TRUE(b.click("GRDSERVERCLUSTERS_R1C6"));
  auto file = FromFile();
  ASSERT_EQ(file->ServerClusters->Count(), 1);
  EXPECT_EQ(Cluster(*file, 0).Name, "spare");
  EXPECT_EQ(file->Domains[0]->ServerCluster, nullptr);
  EXPECT_EQ(page->grdServerClusters->rowCount(), 2);

  // The session's index still names row 2, past the end now: nothing.
  ASSERT_TRUE(b.click("GRDSERVERCLUSTERS_R1C6"));
  EXPECT_EQ(FromFile()->ServerClusters->Count(), 0);
  {
    web::CurrentAppGuard guard(b.session().get());
    web::ImageFile stale;
    stale.tag = 1;
    page->imgOnOffClick(stale);
    page->imgRemoveClick(stale);
    web::Label notAnImage;
    page->imgEditClick(notAnImage);
    EXPECT_EQ(UserSession()->GetCurrentServerCluster(), nullptr);
  }
  EXPECT_EQ(b.activeForm(), page);
}

TEST_F(ClusterPages, NewClusterLivesOnlyInTheCopyUntilSaved) {
  const auto before = FileBytes();
  TestBrowser b = OpenList();
  ASSERT_TRUE(b.click("BTNNEWCLUSTER"));
  auto* edit = b.activeForm<TfrmServerClusterEdit>();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(b.value("EDTSERVERCLUSTERNAME"), "(New cluster)");
  EXPECT_EQ(b.value("EDTSERVERCLUSTERCONNECTIONTIMEOUT"), "1800");
  EXPECT_EQ(b.value("GRDSERVERS_R1C2"), "(New server)");
  EXPECT_EQ(b.value("GRDSERVERS_R1C3"), "");
  EXPECT_EQ(b.value("GRDSERVERS_R1C4"), "0");
  EXPECT_EQ(b.value("GRDSERVERS_R1C5"), "1");
  ASSERT_TRUE(b.click("BTNADDSERVER"));
  EXPECT_EQ(b.value("GRDSERVERS_R2C2"), "(New server)");
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGGENERAL"));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(reloads, 0);

  // A row image on the edit page saves the whole copy, new cluster included.
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSERVERCLUSTER"));
  ASSERT_TRUE(b.click("BTNNEWCLUSTER"));
  ASSERT_TRUE(b.click("GRDSERVERS_R1C7"));
  auto file = FromFile();
  ASSERT_EQ(file->ServerClusters->Count(), 3);
  EXPECT_EQ(Cluster(*file, 2).Name, "(New cluster)");
  EXPECT_FALSE(Cluster(*file, 2).Servers.GetServer(0)->AutoActivate);
}

TEST_F(ClusterPages, EditShowsTheClusterAndItsServers) {
  TestBrowser b = OpenEdit();
  auto* page = b.activeForm<TfrmServerClusterEdit>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(b.value("EDTSERVERCLUSTERNAME"), "web");
  EXPECT_TRUE(b.checked("CHKSERVERCLUSTERENABLED"));
  EXPECT_EQ(b.text("LBLTIMEOUTINMINUTES"), "(= 30.00 minutes)");
  EXPECT_EQ(b.text("LBLLOADAPINMINUTES"), "(= 5.00 minutes)");
  EXPECT_EQ(b.text("LBLFAILOVERINSECONDS"), "(Fail Over Timeout = 10 seconds)");
  EXPECT_EQ(b.text("LBLHOSTNAME"), "Host Hame:");
  EXPECT_EQ(page->cmbVerifyMethod->items,
            (std::vector<std::string>{"Can open connection on port", "HTTP GET returns valid result code"}));
  EXPECT_EQ(page->cbSessionMethod->items,
            (std::vector<std::string>{"Peer IP Number", "Persistent Session Cookie", "Transient Session Cookie"}));
  EXPECT_EQ(page->IWURLExample->url, "/files/Help/example_servercluster.htm");
  EXPECT_EQ(page->IWURLHelp3->url, "/files/Help/servercluster.htm");
  web::Grid& g = *page->grdServers;
  ASSERT_EQ(g.rowCount(), 3);
  ASSERT_EQ(g.colCount(), 9);
  EXPECT_EQ(g.cell(0, 5).text, "&nbsp;Capacity&nbsp;");
  EXPECT_EQ(g.cell(0, 6).text, "&nbsp;Capacity&nbsp;");
  EXPECT_EQ(b.value("GRDSERVERS_R2C3"), "127.0.0.1");
  EXPECT_EQ(b.value("GRDSERVERS_R2C4"), "8082");
  EXPECT_EQ(b.value("GRDSERVERS_R2C5"), "3");
  // Enabled and online (the initial state): share of the enabled capacity.
  EXPECT_EQ(g.cell(1, 6).text, "     25.0 % ");
  EXPECT_EQ(g.cell(2, 6).text, "     75.0 % ");

  // "Can open connection on port": the GET fields are read-only, labels grey.
  EXPECT_TRUE(page->edtHostName->readOnly);
  EXPECT_EQ(page->lblUserAgent->font.color, web::colors::Silver);
  ASSERT_TRUE(b.choose("CMBVERIFYMETHOD", 1));
  EXPECT_FALSE(page->edtHostName->readOnly);
  EXPECT_EQ(page->lblUserAgent->font.color, web::colors::Black);
  EXPECT_EQ(page->FCluster->VerifyMethod, 1);
}

TEST_F(ClusterPages, AFailOverTimeBeyond32BitsIsShown) {
  WriteSettings([](TDomainHandler& h) {
    auto c = h.ServerClusters->Add();
    c->Name = "slow";
    c->MaxFailBeforeOffline = INT32_MAX;
    c->FailoverCheckInterval = INT32_MAX;
    AddServer(*c, "one", 1, true, false, 8081);
  });
  TestBrowser b = OpenEdit();
  EXPECT_EQ(b.text("LBLFAILOVERINSECONDS"), "(Fail Over Timeout = 4611686016279904256 seconds)");
  EXPECT_EQ(b.text("LBLSTATUS"), "Fail Over Timeout is very high - Fail Over will be slow.");
}

TEST_F(ClusterPages, SaveStoresEveryField) {
  TestBrowser b = OpenEdit();
  b.type("EDTSERVERCLUSTERNAME", "front");
  b.check("CHKSERVERCLUSTERENABLED", false);
  b.type("EDTSERVERCLUSTERCONNECTIONTIMEOUT", "0");
  b.type("EDTLOADAVERAGINGPERIOD", "600");
  b.type("EDTMAXFAILBEFOREOFFLINE", "2");
  b.type("EDTFAILOVERCHECKINTERVAL", "7");
  b.select("CMBVERIFYMETHOD", 1);
  b.select("CBSESSIONMETHOD", 2);
  b.type("GRDSERVERS_R1C2", "uno");
  b.type("GRDSERVERS_R1C3", "10.0.0.1");
  b.type("GRDSERVERS_R1C4", "");
  b.type("GRDSERVERS_R1C5", " ");
  b.type("GRDSERVERS_R2C5", "2.5");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_EQ(b.text("LBLSAVED"), "Settings saved");
  EXPECT_EQ(b.text("LBLTIMEOUTINMINUTES"), "(= 30.00 minutes)");
  EXPECT_EQ(b.text("LBLFAILOVERINSECONDS"), "(Fail Over Timeout = 21 seconds)");
  EXPECT_EQ(reloads, 1);
  auto file = FromFile();
  TServerCluster& c = Cluster(*file, 0);
  EXPECT_EQ(c.Name, "front");
  EXPECT_FALSE(c.Enabled);
  EXPECT_EQ(c.ConnectionTimeout, 1800);
  EXPECT_EQ(c.LoadAveragingPeriod, 600);
  EXPECT_EQ(c.MaxFailBeforeOffline, 2);
  EXPECT_EQ(c.FailoverCheckInterval, 7);
  EXPECT_EQ(c.VerifyMethod, 1);
  EXPECT_EQ(c.SessionMethod, 2);
  EXPECT_EQ(c.Servers.GetServer(0)->ServerName, "uno");
  EXPECT_EQ(c.Servers.GetServer(0)->ServerAddress, "10.0.0.1");
  EXPECT_EQ(c.Servers.GetServer(0)->ServerPort, 0);
  EXPECT_EQ(c.Servers.GetServer(0)->Capacity, 0);
  EXPECT_EQ(c.Servers.GetServer(1)->Capacity, 2.5f);
}

TEST_F(ClusterPages, ANumberThatIsNoNumberChangesNothing) {
  const char* fields[] = {"EDTSERVERCLUSTERCONNECTIONTIMEOUT", "EDTLOADAVERAGINGPERIOD", "EDTMAXFAILBEFOREOFFLINE",
                          "EDTFAILOVERCHECKINTERVAL", "GRDSERVERS_R1C4", "GRDSERVERS_R2C5", "GRDSERVERS_R1C5"};
  const auto before = FileBytes();
  for (const char* field : fields) {
    SCOPED_TRACE(field);
    TestBrowser b = OpenEdit();
    b.type("EDTSERVERCLUSTERNAME", "changed");
    b.type("GRDSERVERS_R2C2", "changed");
    b.type(field, "abc");
    b.click("BTNSAVESETTINGS");
    EXPECT_NE(b.html().find("&#39;abc&#39; is not a valid"), std::string::npos);
    EXPECT_FALSE(b.shown("LBLSAVED"));
    EXPECT_EQ(FileBytes(), before);
    web::CurrentAppGuard guard(b.session().get());
    TServerCluster& c = Cluster(*UserSession()->DomainHandler, 0);
    EXPECT_EQ(c.Name, "web");
    EXPECT_EQ(c.Servers.GetServer(1)->ServerName, "two");
    EXPECT_EQ(c.ConnectionTimeout, 1800);
  }
}

TEST_F(ClusterPages, RowImagesSaveTheStoredClusterNotTheEdits) {
  TestBrowser b = OpenEdit();
  auto* page = b.activeForm<TfrmServerClusterEdit>();
  b.type("EDTSERVERCLUSTERNAME", "unsaved");
  ASSERT_TRUE(b.click("GRDSERVERS_R1C0"));
  auto file = FromFile();
  EXPECT_FALSE(Cluster(*file, 0).Servers.GetServer(0)->Enabled);
  EXPECT_EQ(Cluster(*file, 0).Name, "web");
  EXPECT_EQ(b.value("EDTSERVERCLUSTERNAME"), "unsaved");
  EXPECT_FALSE(b.shown("LBLSAVED"));

  std::shared_ptr<TServer> removed = page->FCluster->Servers.GetServer(1);
  ASSERT_TRUE(b.click("GRDSERVERS_R2C8"));
  EXPECT_EQ(Cluster(*FromFile(), 0).Servers.Count(), 1);
  EXPECT_TRUE(removed->Retired);
  EXPECT_EQ(page->grdServers->rowCount(), 2);

  // An image naming the removed server, or no image: nothing happens.
  const auto before = FileBytes();
  {
    web::CurrentAppGuard guard(b.session().get());
    web::ImageFile stale;
    stale.tag = 1;
    page->imgOnOffClick(stale);
    page->imgAutoActivateClick(stale);
    page->imgRemoveClick(stale);
    web::Label notAnImage;
    page->imgRemoveClick(notAnImage);
  }
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(page->FCluster->Servers.Count(), 1);
}

// Save runs the checks twice on the copy and shows their results, with no
// engine and with a live engine whose own servers were never checked.
TEST_F(ClusterPages, SaveShowsTheChecksOfAnUpAndADownBackEnd) {
  CheckBackend up(CheckBackend::Mode::Accept);
  const int down = CheckBackend::ClosedPort();
  for (bool liveEngine : {false, true}) {
    SCOPED_TRACE(liveEngine ? "live engine" : "no engine");
    std::unique_ptr<TdmHTTPBase> engine;
    if (liveEngine) {
      engine = std::make_unique<TdmHTTPBase>();
      std::string msg;
      engine->LoadSettings(msg);
    }
    TestBrowser b = OpenEdit();
    b.type("GRDSERVERS_R1C4", std::to_string(up.Port()));
    b.type("GRDSERVERS_R2C4", std::to_string(down));
    b.type("EDTFAILOVERCHECKINTERVAL", "3");
    ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
    auto* page = b.activeForm<TfrmServerClusterEdit>();
    ASSERT_NE(page, nullptr);
    auto image = [&](int row) { return dynamic_cast<web::ImageFile*>(page->grdServers->cell(row, 1).control.get()); };
    EXPECT_EQ(image(1)->fileName, "StatusGreen.jpg");
    EXPECT_EQ(image(2)->fileName, "StatusRed.jpg");
    EXPECT_EQ(image(2)->hint, page->FCluster->Servers.GetServer(1)->GetLastMessage());
    EXPECT_FALSE(image(2)->hint.empty());
    EXPECT_EQ(b.attr("GRDSERVERS_R2C1", "title"), image(2)->hint);
    EXPECT_EQ(page->grdServers->cell(2, 6).text, "");
    // The share counts every enabled server, online or not.
    EXPECT_EQ(page->grdServers->cell(1, 6).text, "     25.0 % ");
    EXPECT_TRUE(b.shown("LBLSAVED"));
    if (engine) {
      // The next build shows the engine's live state again.
      TDomainHandler& live = *engine->GetDomainHandler();
      live.ServerClusters->GetCluster(0)->Servers.GetServer(1)->Online = true;
      ASSERT_TRUE(b.click("GRDSERVERS_R1C7"));
      EXPECT_EQ(image(2)->fileName, "StatusGreen.jpg");
      EXPECT_FALSE(b.shown("LBLSAVED"));
      engine.reset();
    }
  }
}

TEST_F(ClusterPages, ListShowsTheLiveEngineState) {
  auto engine = std::make_unique<TdmHTTPBase>();
  std::string msg;
  engine->LoadSettings(msg);
  TServerCluster& live = *engine->GetDomainHandler()->ServerClusters->GetCluster(0);
  live.Servers.GetServer(1)->Responding = true;  // 3 of 4
  TestBrowser b = OpenList();
  auto* page = b.activeForm<TfrmServerCluster>();
  EXPECT_EQ(page->grdServerClusters->cell(1, 2).text, "&nbsp;75&nbsp;%&nbsp;");
  live.Servers.GetServer(0)->Responding = true;
  ASSERT_TRUE(b.click("GRDSERVERCLUSTERS_R2C0"));
  EXPECT_EQ(page->grdServerClusters->cell(1, 2).text, "&nbsp;100&nbsp;%&nbsp;");
  EXPECT_EQ(dynamic_cast<web::ImageFile*>(page->grdServerClusters->cell(1, 1).control.get())->fileName,
            "StatusGreen.jpg");
  engine.reset();
}

}  // namespace
