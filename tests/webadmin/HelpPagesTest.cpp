// The help the pages link to: every link into Files/Help/ of every page finds
// a page there, served like the administration's own pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "Common/uDomainClasses.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uProgramMode.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/AdminPages.h"
#include "webadmin/frMainMenu.h"
#include "webadmin/uAdminPage.h"

namespace fs = std::filesystem;

namespace {

using web::TestBrowser;

constexpr const char* kHelpPrefix = "/files/help/";

class HelpPages : public WebAdminFixture {
 protected:
  HelpPages() {
    // The help as the repository ships it (scripts/run copies Files/ alike).
    fs::copy(fs::path(VT_TEST_SOURCE_DIR) / "Files" / "Help", Folder() + "Files/Help", fs::copy_options::recursive);
    WriteSettings([](TDomainHandler& h) {
      TDomain* d = h.AddDomain();
      d->DomainName = "shop.example";
      d->AddVirtualPath()->Path = "/app";
      auto cluster = h.ServerClusters->Add();
      cluster->Name = "web";
      TServer::Create(*cluster)->ServerName = "one";
    });
  }
  ~HelpPages() override { OWAEdition = false; }

  // The help addresses among the page's links, without a query.
  static void CollectHelpLinks(const TestBrowser& b, const std::string& page,
                               std::map<std::string, std::set<std::string>>& links) {
    for (const web::HtmlElement& e : b.doc().elements()) {
      if (e.tag != "a") continue;
      std::string href = e.attr("href");
      if (LowerCase(href).rfind(kHelpPrefix, 0) != 0) continue;
      href = href.substr(0, href.find('?'));
      links[href].insert(page);
    }
  }
  void Navigate(TestBrowser& b, AdminPage id) {
    {
      web::CurrentAppGuard guard(b.session().get());
      dynamic_cast<TAdminPage*>(b.activeForm())->frameMainMenu->Navigate(id);
      b.session()->commitEvent();
    }
    b.submit();
  }
  web::HttpResponse Get(const std::string& path) {
    web::HttpRequest req;
    req.method = "GET";
    req.path = path;
    req.peerAddress = "127.0.0.1";
    return Server().handle(req);
  }
};

TEST_F(HelpPages, EveryHelpLinkOfEveryPageIsServed) {
  std::map<std::string, std::set<std::string>> links;  // address -> pages that link it
  TestBrowser b = LoggedIn();
  ASSERT_EQ(b.title(), PageTitle(AdminPage::Main));
  const AdminPage pages[] = {AdminPage::Main,
                             AdminPage::GeneralSettings,
                             AdminPage::Domains,
                             AdminPage::DomainsMain,
                             AdminPage::DomainsHeaders,
                             AdminPage::DomainsSecurity,
                             AdminPage::DomainsVirtualDomains,
                             AdminPage::ServerCluster,
                             AdminPage::ServerClusterEdit,
                             AdminPage::Security,
                             AdminPage::SSLSettingsList,
                             AdminPage::SSLSettings,
                             AdminPage::Compression,
                             AdminPage::TestRequest,
                             AdminPage::Server,
                             AdminPage::Status,
                             AdminPage::LogView,
                             AdminPage::Support};
  for (AdminPage id : pages) {
    Navigate(b, id);
    const std::string title = PageTitle(id);
    ASSERT_EQ(b.title(), title);
    std::map<std::string, std::set<std::string>> own;
    CollectHelpLinks(b, title, own);
    EXPECT_FALSE(own.empty()) << title << " has no help link";
    for (const auto& [href, from] : own) links[href].insert(from.begin(), from.end());
  }
  // The Outlook Web Access shell shows its own certificate page.
  OWAEdition = true;
  TestBrowser owa = LoggedIn();
  ASSERT_EQ(owa.title(), PageTitle(AdminPage::OWAMain));
  for (const char* item : {"MMMAIN", "MMGENERALSETTINGS", "MMSSLSETTINGS", "MMCOMPRESSION", "MMOWASETTINGS"}) {
    ASSERT_TRUE(owa.click(item)) << item;
    CollectHelpLinks(owa, std::string("OWA ") + item, links);
  }
  EXPECT_GE(links.size(), 20u);

  for (const auto& [href, from] : links) {
    SCOPED_TRACE(href + " (from " + *from.begin() + ")");
    const web::HttpResponse r = Get(href);
    EXPECT_EQ(r.status, 200);
    if (r.status != 200) continue;
    EXPECT_EQ(r.contentType, "text/html; charset=windows-1252");
    EXPECT_NE(r.body.find("<title>"), std::string::npos);
    EXPECT_NE(r.body.find("charset=windows-1252"), std::string::npos);
    // No script: no script element and no event attribute.
    const web::HtmlDoc doc(r.body);
    for (const web::HtmlElement& e : doc.elements()) {
      EXPECT_NE(e.tag, "script");
      for (const auto& [name, value] : e.attrs) EXPECT_NE(name.rfind("on", 0), 0u) << e.tag << " " << name;
    }
  }
}

// The help pages link one another and the index by relative names: each of
// those names a shipped page, and the index reaches every page.
TEST_F(HelpPages, HelpPagesLinkOnlyShippedPages) {
  const std::string folder = Folder() + "Files/Help/";
  std::set<std::string> shipped;
  for (const auto& e : fs::directory_iterator(folder)) shipped.insert(LowerCase(e.path().filename().string()));
  ASSERT_TRUE(shipped.count("index.html"));
  std::set<std::string> fromIndex;
  for (const std::string& name : shipped) {
    SCOPED_TRACE(name);
    const web::HttpResponse r = Get(kHelpPrefix + name);
    ASSERT_EQ(r.status, 200);
    const web::HtmlDoc doc(r.body);
    for (const web::HtmlElement& e : doc.elements()) {
      if (e.tag != "a" || !e.has("href")) continue;
      const std::string href = e.attr("href");
      if (href.find("://") != std::string::npos || href.rfind("#", 0) == 0) continue;
      const std::string target = LowerCase(href.substr(0, href.find('#')));
      EXPECT_TRUE(shipped.count(target)) << href;
      if (name == "index.html") fromIndex.insert(target);
    }
    // Plain windows-1252 text: no byte the code page leaves undefined.
    for (unsigned char c : r.body) EXPECT_TRUE(c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D);
  }
  for (const std::string& name : shipped) {
    if (name != "index.html") {
      EXPECT_TRUE(fromIndex.count(name)) << name << " is not in the index";
    }
  }
}

}  // namespace
