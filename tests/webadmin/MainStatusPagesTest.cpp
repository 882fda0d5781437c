// The main and status pages over a real engine host: counters, the checks
// of the running configuration and their icons, the status grid after real
// health checks against loopback back ends, public mode and the On/Off
// images.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uProgramMode.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "tests/Common/CheckBackend.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fMain.h"
#include "webadmin/fStatus.h"

namespace {

using web::TestBrowser;

class MainStatusPages : public WebAdminFixture {
 protected:
  void StartEngine() {
    engine_ = std::make_unique<TdmHTTPBase>();
    std::string msg;
    engine_->LoadSettings(msg);
  }
  ~MainStatusPages() override { engine_.reset(); }

  TStatHolder& Stats() { return *engine_->Stats; }

  std::unique_ptr<TdmHTTPBase> engine_;
};

TDomain* AddDomain(TDomainHandler& h, const std::string& name, int backendPort) {
  TDomain* d = h.AddDomain();
  d->DomainName = name;
  d->DefaultTargetAddress = "127.0.0.1";
  d->OutPort = backendPort;
  d->ListenOnPort = 8080;
  return d;
}

TVirtualPath* AddPath(TDomain* d, const std::string& path, int port, bool enabled = true) {
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath(path);
  p->TargetAddress = "127.0.0.1";
  p->OutPort = port;
  p->Enabled = enabled;
  return p;
}

// One grid row: the state image's suffix and the texts of columns 1 to 4,
// markup and blanks dropped.
struct Row {
  std::string image, name, state, data, count;
  bool operator==(const Row&) const = default;
};

std::string Plain(const std::string& html) {
  std::string out;
  bool inTag = false;
  for (size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<') inTag = true;
    if (!inTag) out += html[i];
    if (html[i] == '>') inTag = false;
  }
  std::string result;
  for (size_t p = 0; p < out.size();) {
    if (out.compare(p, 6, "&nbsp;") == 0) {
      p += 6;
    } else {
      result += out[p++];
    }
  }
  return result;
}

std::vector<Row> Rows(TfrmStatus& page) {
  std::vector<Row> rows;
  web::Grid& g = *page.grdStatus;
  for (int r = 1; r < g.rowCount(); ++r) {
    const std::string img = g.cell(r, 0).text;
    const size_t a = img.find("/files/Status") + 13;
    rows.push_back({img.substr(a, img.find(".jpg", a) - a), Plain(g.cell(r, 1).text), Plain(g.cell(r, 2).text),
                    Plain(g.cell(r, 3).text), Plain(g.cell(r, 4).text)});
  }
  return rows;
}

web::ImageFile* CellImage(TfrmStatus& page, int row, int col) {
  return dynamic_cast<web::ImageFile*>(page.grdStatus->cell(row, col).control.get());
}

// ------------------------------------------------------------ main page

TEST_F(MainStatusPages, MainCountersInTheirFormats) {
  WriteSettings([](TDomainHandler&) {});
  StartEngine();
  Stats().BytesTransferred = 1234567;
  Stats().TotalRequests = 4321;
  Stats().NextRequestId = 1000;
  Stats().KBPerSecond = 3.3f;
  TestBrowser b = LoggedIn();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  EXPECT_EQ(b.text("IWLABELVTVERSION"), "2.2.51 (" + InstallTypeName() + ")");
  EXPECT_EQ(b.text("IWLABELTRANSFERRED"), "1 234 567 bytes");
  EXPECT_EQ(b.text("IWLABELREQUESTS"), "4 321");
  EXPECT_EQ(b.text("IWLABELCONNECTIONS"), "1 000");
  EXPECT_EQ(b.text("IWLABELDATATHROUGHPUT"), "3.3 kbyte/s");
  EXPECT_EQ(b.text("IWLABELCOMPRESSIONRATE"), "0.00%");
  EXPECT_EQ(b.text("IWLABELACTIVELBCONNECTIONS"), "0");
  EXPECT_NE(b.text("IWLABELSERVERNAME"), "(unknown)");
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/main.htm");
  EXPECT_EQ(b.attr("IWURLDOCUMENTATION", "href"), "/files/Help/index.html");
  EXPECT_EQ(b.text("IWURLHOMEPAGE"), "Vantrell Home Page");
  EXPECT_EQ(b.text("IWURLSUPPORT"), "Vantrell Support");

  // The counters are read again at every render.
  Stats().BytesTransferred = 700;
  Stats().BytesSaved = 100;
  b.submit();
  EXPECT_EQ(b.text("IWLABELCOMPRESSIONRATE"), "12.50%");
  EXPECT_EQ(b.text("IWLABELCOMPRESSED"), "100 bytes");
}

TEST_F(MainStatusPages, MainWithoutEngineShowsUnknown) {
  WriteSettings([](TDomainHandler&) {});
  TestBrowser b = LoggedIn();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  for (const char* id : {"IWLABELTRANSFERRED", "IWLABELACTIVETHREADS", "IWLABELREQUESTS", "IWLABELCOMPRESSIONRATE",
                         "IWLABELDATATHROUGHPUT", "IWLABELLBCONNECTIONS"}) {
    EXPECT_EQ(b.text(id), "(unknown)") << id;
  }
  EXPECT_NE(b.text("IWLABELVTVERSION"), "(unknown)");
  EXPECT_EQ(b.text("LBLSTATUSD"), "Settings look OK");
}

// An SSL path with no certificate set at all must not stop the start page.
TEST_F(MainStatusPages, MainChecksRunWithoutACertificateSet) {
  WriteSettings([](TDomainHandler& h) {
    h.SSLSettingsList.Clear();
    TDomain* d = AddDomain(h, "www.example.com", 80);
    AddPath(d, "/secure", 80)->SSL = true;
  });
  StartEngine();
  ASSERT_EQ(engine_->GetDomainHandler()->SSLSettingsList.Count(), 0);
  TestBrowser b = LoggedIn();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  EXPECT_EQ(b.text("LBLSTATUSD"), "www.example.com: Virtual path is set to use SSL but SSL is disabled!");
  auto* page = b.activeForm<TfrmMain>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->imgDomainsIcon->tag, 0);
  EXPECT_EQ(page->imgSSLSettingsIcon->tag, -1);
}

TEST_F(MainStatusPages, MainIconsLeadToTheItemAtFault) {
  WriteSettings([](TDomainHandler& h) {
    AddDomain(h, "good.example.com", 80);
    AddDomain(h, "bad name!", 80);
  });
  StartEngine();
  {
    TestBrowser b = LoggedIn();
    auto* page = b.activeForm<TfrmMain>();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->imgDomainsIcon->tag, 1) << b.text("LBLSTATUSD");
    EXPECT_EQ(page->imgClustersIcon->tag, -1);
    ASSERT_TRUE(b.click("IMGDOMAINSICON"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
    web::CurrentAppGuard guard(b.session().get());
    EXPECT_EQ(UserSession()->DomainIndex, 1);
    EXPECT_EQ(UserSession()->GetCurrentDomain()->DomainName, "bad name!");
  }
  {
    // No fault: the lists.
    TestBrowser b = LoggedIn();
    ASSERT_TRUE(b.click("IMGCLUSTERSICON"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [Server Cluster]");
  }
  {
    TestBrowser b = LoggedIn();
    ASSERT_TRUE(b.click("IMGSSLSETTINGS"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [SSL settings]");
  }
  {
    TestBrowser b = LoggedIn();
    ASSERT_TRUE(b.click("IMGGENERALSETTINGSICON"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [General settings]");
  }
  {
    // The file now has one domain; the engine still runs two. The copy has
    // no second domain, so the page stays.
    WriteSettings([](TDomainHandler& h) { AddDomain(h, "good.example.com", 80); });
    TestBrowser b = LoggedIn();
    ASSERT_TRUE(b.click("IMGDOMAINSICON"));
    EXPECT_EQ(b.title(), "Vantrell - Web Admin [Main]");
  }
}

// ------------------------------------------------------------ status page

TEST_F(MainStatusPages, StatusWithoutDomains) {
  WriteSettings([](TDomainHandler& h) { h.GateName = "Gate"; });
  StartEngine();
  Stats().BytesTransferred = 5 * 1024 * 1024;
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSTATUS"));
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Status]");
  auto* page = b.activeForm<TfrmStatus>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->grdStatus->colCount(), 7);
  std::vector<std::string> header;
  for (int c = 0; c < 7; ++c) header.push_back(page->grdStatus->cell(0, c).text);
  EXPECT_EQ(header, (std::vector<std::string>{"&nbsp;Status&nbsp;", "&nbsp;Name&nbsp;", "&nbsp;Status&nbsp;",
                                              "&nbsp;Data trans.&nbsp;", "&nbsp;Req. count&nbsp;",
                                              "&nbsp;Edit&nbsp;", "&nbsp;On/Off&nbsp;"}));
  EXPECT_TRUE(page->grdStatus->cell(0, 0).bold);
  EXPECT_EQ(page->grdStatus->cell(0, 0).bgColor.css(), "#4A5FA6");
  EXPECT_EQ(page->grdStatus->cell(1, 0).bgColor.css(), "#E0DFE3");
  EXPECT_EQ(page->grdStatus->cell(1, 2).height, 18);
  EXPECT_EQ(Rows(*page), (std::vector<Row>{{"GreenGray", "Gate", "All domains are OK", "5 120 kb", "0"}}));
  EXPECT_EQ(page->grdStatus->cell(1, 0).text, "<img src=\"/files/StatusGreenGray.jpg\" height=\"18\" width=\"18\">");
  EXPECT_TRUE(b.shown("FRAMEMAINMENU"));
  EXPECT_FALSE(b.checked("CHKAUTOUPDATE"));
  EXPECT_FALSE(page->tmrAutoUpdate->enabled);
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/status.htm");
  EXPECT_EQ(b.text("IWLABEL3"), "An overview of which domains and paths are operating correctly");
}

TEST_F(MainStatusPages, StatusRowsAfterRealChecks) {
  CheckBackend up(CheckBackend::Mode::Accept);
  const int down = CheckBackend::ClosedPort();
  WriteSettings([&](TDomainHandler& h) {
    TDomain* mixed = AddDomain(h, "mixed.example.com", up.Port());
    AddPath(mixed, "/up", up.Port());
    AddPath(mixed, "/down", down);
    AddPath(mixed, "/off", up.Port(), false);
    TDomain* paused = AddDomain(h, "paused.example.com", up.Port());
    paused->Enabled = false;
    AddPath(paused, "/p", up.Port());
    AddDomain(h, "plain.example.com", up.Port());
    AddDomain(h, "gone.example.com", down);
  });
  StartEngine();
  engine_->GetDomainHandler()->Domains[0]->BytesTransferred = 4096;
  engine_->GetDomainHandler()->Domains[0]->RequestCount = 12345;
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSTATUS"));
  auto* page = b.activeForm<TfrmStatus>();
  ASSERT_NE(page, nullptr);
  const std::vector<Row> rows = Rows(*page);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0], (Row{"OrangeGray", "Vantrell Switch", "Some domains are OK", "0 kb", "0"}));
  EXPECT_EQ(rows[1], (Row{"OrangeGray", "mixed.example.com:http", "Some paths are OK", "4 kb", "12 345"}));
  EXPECT_EQ(rows[2].image, "Green");
  EXPECT_EQ(rows[2].name, "/up");
  EXPECT_EQ(rows[2].state.rfind("OK", 0), 0u) << rows[2].state;
  EXPECT_EQ(rows[3].image, "Red");
  EXPECT_EQ(rows[3].name, "/down");
  EXPECT_EQ(rows[4], (Row{"Pause", "/off", "Paused", "0 kb", "0"}));
  EXPECT_EQ(rows[5], (Row{"PauseGray", "paused.example.com:http", "Paused", "0 kb", "0"}));
  // A paused domain's paths are still listed.
  EXPECT_EQ(rows[6].name, "/p");
  EXPECT_EQ(rows[7].image, "GreenGray");
  EXPECT_EQ(rows[7].state.rfind("OK", 0), 0u) << rows[7].state;
  EXPECT_EQ(rows[8].image, "RedGray");
  EXPECT_EQ(rows[8].name, "gone.example.com:http");
  // The links, with the path rows indented twice.
  EXPECT_EQ(page->grdStatus->cell(3, 1).text,
            "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
            "<a href=\"HTTP://mixed.example.com:8080/up\" target=\"NewWindow\">/up</a>");
  EXPECT_EQ(page->grdStatus->cell(3, 0).bgColor.css(), "#FFFFFF");
  // Logged in: the Edit image on domain rows, On/Off on every domain and path row.
  web::ImageFile* edit = CellImage(*page, 2, 5);  // the first domain's row
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->fileName, "DomainEditGray.jpg");
  EXPECT_EQ(edit->tag, 0);
  EXPECT_EQ(CellImage(*page, 3, 5), nullptr);
  EXPECT_EQ(CellImage(*page, 3, 6)->fileName, "StatusGreen.jpg");
  EXPECT_EQ(CellImage(*page, 5, 6)->fileName, "StatusRed.jpg");
  EXPECT_EQ(CellImage(*page, 6, 6)->fileName, "StatusRedGray.jpg");
  EXPECT_EQ(CellImage(*page, 8, 6)->fileName, "StatusGreenGray.jpg");
  EXPECT_EQ(CellImage(*page, 3, 6)->tag, engine_->GetDomainHandler()->Domains[0]->VirtualPaths[0]->Id);
  // DomainIndex stays at the last domain.
  web::CurrentAppGuard guard(b.session().get());
  EXPECT_EQ(UserSession()->DomainIndex, 3);
}

TEST_F(MainStatusPages, StatusClicksActOnTheCopyAndSave) {
  CheckBackend up(CheckBackend::Mode::Accept);
  WriteSettings([&](TDomainHandler& h) {
    AddPath(AddDomain(h, "one.example.com", up.Port()), "/a", up.Port());
    AddDomain(h, "two.example.com", up.Port());
  });
  StartEngine();
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSTATUS"));
  // Rows: switch 1, one 2, /a 3, two 4.
  ASSERT_TRUE(b.click("GRDSTATUS_R4C6"));
  EXPECT_FALSE(FromFile()->Domains[1]->Enabled);
  EXPECT_TRUE(FromFile()->Domains[0]->Enabled);
  // The save reloaded the engine; the page shows the running state.
  EXPECT_FALSE(engine_->GetDomainHandler()->Domains[1]->Enabled);
  EXPECT_EQ(Rows(*b.activeForm<TfrmStatus>())[3].state, "Paused");
  EXPECT_EQ(b.attr("GRDSTATUS_R4C6", "src"), "/files/StatusRedGray.jpg");

  ASSERT_TRUE(b.click("GRDSTATUS_R3C6"));
  EXPECT_FALSE(FromFile()->Domains[0]->VirtualPaths[0]->Enabled);
  EXPECT_FALSE(engine_->GetDomainHandler()->Domains[0]->VirtualPaths[0]->Enabled);
  EXPECT_EQ(b.attr("GRDSTATUS_R3C6", "src"), "/files/StatusRed.jpg");

  ASSERT_TRUE(b.click("GRDSTATUS_R4C5"));
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Main]");
  web::CurrentAppGuard guard(b.session().get());
  EXPECT_EQ(UserSession()->GetCurrentDomain()->DomainName, "two.example.com");
}

// A page rendered before a reload still works afterwards: the path image
// carries an Id, the click flips the copy's path with that Id and saves.
TEST_F(MainStatusPages, StatusPathClickAfterAnotherSessionsReload) {
  CheckBackend up(CheckBackend::Mode::Accept);
  WriteSettings([&](TDomainHandler& h) {
    TDomain* d = AddDomain(h, "one.example.com", up.Port());
    AddPath(d, "/a", up.Port());
    AddPath(d, "/b", up.Port());
  });
  StartEngine();
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSTATUS"));

  TestBrowser other = LoggedIn();
  ASSERT_TRUE(other.click("FRAMEMAINMENU_IMGGENERAL"));
  other.type("EDTGATENAME", "Other gate");
  ASSERT_TRUE(other.click("BTNSAVESETTINGS"));  // the engine reloads: the live tree is replaced
  ASSERT_EQ(engine_->GetDomainHandler()->GateName, "Other gate");

  ASSERT_TRUE(b.click("GRDSTATUS_R4C6"));  // "/b"
  auto file = FromFile();
  EXPECT_TRUE(file->Domains[0]->VirtualPaths[0]->Enabled);
  EXPECT_FALSE(file->Domains[0]->VirtualPaths[1]->Enabled);
  // The click works on the file as it is now: the other session's save stays.
  EXPECT_EQ(file->GateName, "Other gate");
}

// Session A keeps its status page up (automatic update) while session B
// saves: A's On/Off clicks flip the item its row shows, by Id, in the file
// as B left it, and keep B's changes.
TEST_F(MainStatusPages, StatusOnOffKeepsOtherSessionsSaves) {
  CheckBackend up(CheckBackend::Mode::Accept);
  WriteSettings([&](TDomainHandler& h) {
    AddPath(AddDomain(h, "one.example.com", up.Port()), "/a", up.Port());
    AddPath(AddDomain(h, "two.example.com", up.Port()), "/b", up.Port());
  });
  StartEngine();
  TestBrowser a = LoggedIn();
  ASSERT_TRUE(a.click("FRAMEMAINMENU_IMGSTATUS"));
  ASSERT_TRUE(a.click("CHKAUTOUPDATE"));
  TestBrowser b = LoggedIn();
  auto saveInB = [&](const std::function<void(TDomainHandler&)>& edit) {
    web::CurrentAppGuard guard(b.session().get());
    UserSession()->LoadSettings();
    edit(*UserSession()->DomainHandler);
    UserSession()->SaveSettings();  // the engine reloads
  };
  auto names = [](const TDomainHandler& h) {
    std::vector<std::string> out;
    for (const auto& d : h.Domains) out.push_back(d->DomainName + (d->Enabled ? "" : " off"));
    return out;
  };

  // B moves "two" to the front and adds "three"; A's page updates itself.
  saveInB([&](TDomainHandler& h) {
    h.Domains.Move(1, 0);
    AddDomain(h, "three.example.com", up.Port());
  });
  a.submit("TMRAUTOUPDATE", "OnTimer");
  // Rows: switch 1, two 2, /b 3, one 4, /a 5, three 6.
  ASSERT_EQ(Rows(*a.activeForm<TfrmStatus>())[1].name, "two.example.com:http");
  ASSERT_TRUE(a.click("GRDSTATUS_R2C6"));
  EXPECT_EQ(names(*FromFile()),
            (std::vector<std::string>{"two.example.com off", "one.example.com", "three.example.com"}));

  // A path row: B adds "four" first; A's click flips "/a" and keeps "four".
  saveInB([&](TDomainHandler& h) { AddDomain(h, "four.example.com", up.Port()); });
  ASSERT_EQ(Rows(*a.activeForm<TfrmStatus>())[4].name, "/a");
  ASSERT_TRUE(a.click("GRDSTATUS_R5C6"));
  {
    auto file = FromFile();
    EXPECT_EQ(names(*file), (std::vector<std::string>{"two.example.com off", "one.example.com", "three.example.com",
                                                      "four.example.com"}));
    EXPECT_FALSE(file->Domains[1]->VirtualPaths[0]->Enabled);
    EXPECT_TRUE(file->Domains[0]->VirtualPaths[0]->Enabled);
  }

  // B removes "one" while A's page still shows it: A's click changes nothing.
  saveInB([&](TDomainHandler& h) { h.RemoveDomain(h.Domains[1]); });
  const auto before = FileBytes();
  ASSERT_EQ(Rows(*a.activeForm<TfrmStatus>())[3].name, "one.example.com:http");
  ASSERT_TRUE(a.click("GRDSTATUS_R4C6"));
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(MainStatusPages, PublicStatusHasNoMenuNoEditAndNoClicks) {
  CheckBackend up(CheckBackend::Mode::Accept);
  WriteSettings([&](TDomainHandler& h) {
    h.AllowAccessToStatus = true;
    h.Password = "pw";
    h.GateName = "<b>Gate & \"co\"</b>";
    TDomain* d = AddDomain(h, "one.example.com", up.Port());
    AddPath(d, "/<script>", up.Port());
  });
  StartEngine();
  const auto before = ReadFileBytes(SettingsFileName);
  TestBrowser b = Browser("10.1.2.3");
  b.get("/?status");
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Status]");
  auto* page = b.activeForm<TfrmStatus>();
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(page->PublicMode);
  EXPECT_EQ(page->frameMainMenu, nullptr);
  EXPECT_FALSE(b.has("FRAMEMAINMENU"));
  EXPECT_EQ(page->grdStatus->colCount(), 6);
  EXPECT_EQ(page->grdStatus->cell(0, 5).text, "&nbsp;On/Off&nbsp;");
  EXPECT_TRUE(b.checked("CHKAUTOUPDATE"));
  EXPECT_TRUE(page->tmrAutoUpdate->enabled);
  EXPECT_EQ(page->iwrStatus->left, 10);
  for (int r = 1; r < page->grdStatus->rowCount(); ++r) {
    if (web::ImageFile* img = CellImage(*page, r, 5)) {
      EXPECT_FALSE(img->onClick) << r;
    }
  }
  // Values are escaped, the public page first.
  EXPECT_EQ(b.html().find("<b>Gate"), std::string::npos);
  EXPECT_EQ(b.html().find("/<script>"), std::string::npos);
  EXPECT_NE(b.html().find("/&lt;script&gt;"), std::string::npos);
  EXPECT_NE(b.html().find("&lt;b&gt;Gate &amp; &quot;co&quot;&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(b.attr("GRDSTATUS_R3C5", "onclick"), "");

  // A forged click on an On/Off image fires nothing.
  b.postRaw({{"VT_EVENT", "GRDSTATUS_R2C5.OnClick"}});
  b.postRaw({{"VT_EVENT", "GRDSTATUS_R3C5.OnClick"}});
  EXPECT_EQ(ReadFileBytes(SettingsFileName), before);
  EXPECT_TRUE(engine_->GetDomainHandler()->Domains[0]->Enabled);
  EXPECT_TRUE(engine_->GetDomainHandler()->Domains[0]->VirtualPaths[0]->Enabled);

  // The timer makes the page anew, still public and updating.
  b.submit("TMRAUTOUPDATE", "OnTimer");
  auto* next = b.activeForm<TfrmStatus>();
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, page);
  EXPECT_TRUE(next->PublicMode);
  EXPECT_TRUE(next->tmrAutoUpdate->enabled);
  EXPECT_EQ(b.session()->forms().size(), 1u);
  EXPECT_NE(b.onloadScript().find("10000"), std::string::npos);
}

// Anonymous viewers share the latest check results instead of each probing
// every back end: a crowd of public renders against slow back ends probes
// them a few times, not once per render, and a logged-in status page is not
// queued behind the crowd.
TEST_F(MainStatusPages, PublicStatusCrowdSharesTheChecks) {
  constexpr int kViewers = 200;
  auto slowBackend = std::make_unique<CheckBackend>(CheckBackend::Mode::Reply, "HTTP/1.0 200 OK\r\n\r\n", 300);
  CheckBackend& slow = *slowBackend;
  WriteSettings([&](TDomainHandler& h) {
    h.AllowAccessToStatus = true;
    h.CheckMethod = 1;  // GET: each probe waits for the slow answer
    AddPath(AddDomain(h, "one.example.com", slow.Port()), "/a", slow.Port());
  });
  StartEngine();
  TestBrowser admin = LoggedIn();

  std::atomic<int> greenPaths{0};
  std::vector<std::thread> viewers;
  for (int i = 0; i < kViewers; ++i) {
    viewers.emplace_back([&] {
      TestBrowser viewer = Browser();
      viewer.get("/?status");
      if (auto* page = viewer.activeForm<TfrmStatus>(); page && page->PublicMode) {
        const std::vector<Row> rows = Rows(*page);
        if (rows.size() == 3 && rows[2].image == "Green") ++greenPaths;
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (slow.Requests().empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));

  // A watchdog, not a speed target: queued behind the crowd's checks one by
  // one, this would take about a minute.
  auto adminPage = std::async(std::launch::async, [&] { return admin.click("FRAMEMAINMENU_IMGSTATUS"); });
  EXPECT_EQ(adminPage.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(adminPage.get());
  EXPECT_EQ(admin.title(), "Vantrell - Web Admin [Status]");
  for (auto& t : viewers) t.join();

  // Every viewer saw a checked path (the first renders wait for the first
  // check); the probes are a few refreshes, not one per render.
  EXPECT_EQ(greenPaths.load(), kViewers);
  EXPECT_LE(slow.Accepts(), 20);

  // The shared results follow the back end: once it is gone, a viewer soon
  // sees the path fail.
  slowBackend.reset();
  TestBrowser viewer = Browser();
  std::string image;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       image != "Red" && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    viewer.get("/?status");
    auto* page = viewer.activeForm<TfrmStatus>();
    ASSERT_NE(page, nullptr);
    const std::vector<Row> rows = Rows(*page);
    ASSERT_EQ(rows.size(), 3u);
    image = rows[2].image;
  }
  EXPECT_EQ(image, "Red");
}

TEST_F(MainStatusPages, StatusAutomaticUpdateAndTheUrlBase) {
  WriteSettings([](TDomainHandler&) {});
  StartEngine();
  TestBrowser b = LoggedIn();
  b.setHeader("VTPathRewrite", "/admin /");
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSTATUS"));
  auto* page = b.activeForm<TfrmStatus>();
  EXPECT_EQ(page->grdStatus->cell(1, 0).text,
            "<img src=\"/admin/files/StatusGreenGray.jpg\" height=\"18\" width=\"18\">");
  // Unticked, the timer cannot fire.
  b.submit("TMRAUTOUPDATE", "OnTimer");
  EXPECT_EQ(b.activeForm<TfrmStatus>(), page);
  ASSERT_TRUE(b.click("CHKAUTOUPDATE"));
  EXPECT_TRUE(page->tmrAutoUpdate->enabled);
  b.submit("TMRAUTOUPDATE", "OnTimer");
  auto* next = b.activeForm<TfrmStatus>();
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, page);
  EXPECT_FALSE(next->PublicMode);
  EXPECT_TRUE(next->chkAutoUpdate->checked);
  EXPECT_TRUE(next->tmrAutoUpdate->enabled);
  EXPECT_TRUE(b.shown("FRAMEMAINMENU"));
}

}  // namespace
