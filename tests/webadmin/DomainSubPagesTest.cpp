// The domain's headers, security and virtual domains pages through the
// dispatcher: what each loads, stores and saves, and the menu moves that
// keep or drop typed text.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Common/uDomainClasses.h"
#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fDomainsHeaders.h"
#include "webadmin/fDomainsSecurity.h"
#include "webadmin/fDomainsVirtualDomains.h"

namespace {

using web::TestBrowser;

class DomainSubPages : public WebAdminFixture {
 protected:
  DomainSubPages() {
    WriteSettings([](TDomainHandler& h) {
      TDomain* a = h.AddDomain();
      a->DomainName = "a.example";
      a->DefaultTargetAddress = "10.0.0.1";
      a->RequestHeadersToAdd.Add("X-Old: 1");
      a->VirtualDomains.Add("www.a.example");
      a->IPRestrictor.Mode = 7;
      a->IPRestrictor.RequestDeniedAction = 2;
      TDomain* b = h.AddDomain();
      b->DomainName = "b.example";
      b->DefaultTargetAddress = "10.0.0.1";
      b->IPRestrictor.RequestDeniedAction = 4;  // "Not Denied": not offered
    });
  }
  // The sub-page Item of domain Row, reached through the domain main page.
  TestBrowser Open(const std::string& item, int row = 1) {
    TestBrowser b = OpenMenu("IMGDOMAINS");
    EXPECT_TRUE(b.click("GRDDOMAINS_R" + std::to_string(row) + "C3"));
    EXPECT_TRUE(b.click("FRAMEMAINMENU_" + item));
    return b;
  }
  TDomain& CopyDomain(TestBrowser& b, int i) { return *Copy(b).Domains[i]; }
};

TEST_F(DomainSubPages, HeadersAreSavedAsTypedAndTheCheckOnlyWarns) {
  TestBrowser b = Open("IMGDOMAINSHEADERS");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Headers]");
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/domainsheaders.htm");
  EXPECT_EQ(b.value("MMADDREQUEST"), "X-Old: 1");
  b.type("MMADDREQUEST", "X-A: 1\r\n\r\nbad");
  b.type("MMADDRESPONSE", "X-R: 2");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_EQ(b.text("LBLSTATUS"), "All request headers must follow the format \"HeaderName: HeaderValue\".");
  auto h = FromFile();
  EXPECT_EQ(h->Domains[0]->RequestHeadersToAdd.Text(), "X-A: 1\r\nbad\r\n");
  EXPECT_EQ(h->Domains[0]->ResponseHeadersToAdd.Text(), "X-R: 2\r\n");
}

TEST_F(DomainSubPages, VirtualDomainsShowTheStoredListAfterASave) {
  TestBrowser b = Open("IMGDOMAINSVIRTUALDOMAINS");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Virtual domains]");
  EXPECT_EQ(b.value("MMVIRTUALDOMAINS"), "www.a.example");
  b.type("MMVIRTUALDOMAINS", "");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(FromFile()->Domains[0]->VirtualDomains.Empty());
  b.type("MMVIRTUALDOMAINS", "*.a.example\nb.a.example\n");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->Domains[0]->VirtualDomains.Text(), "*.a.example\r\nb.a.example\r\n");
  EXPECT_EQ(b.value("MMVIRTUALDOMAINS"), "*.a.example\r\nb.a.example");
}

TEST_F(DomainSubPages, SecurityModesActionsAndTheDenyFile) {
  TestBrowser b = Open("IMGDOMAINSSECURITY");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Security]");
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/domainssecuritysettings.htm");
  auto* page = b.activeForm<TfrmDomainsSecurity>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->rgrpAllowForbidd->items[0], "IP's in list are forbidden     ");
  EXPECT_EQ(page->cmbRequestDeniedAction->items,
            (std::vector<std::string>{"Send denied 401", "Try Next Domain", "Close Connection", "Send File"}));
  // Mode 7 shows as forbidden and saves as 1.
  EXPECT_EQ(page->rgrpAllowForbidd->itemIndex, 0);
  EXPECT_EQ(page->cmbRequestDeniedAction->itemIndex, 2);
  b.type("MMIPNUMBERS", "10.0.0.1\n10.0.0.*");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  {
    auto h = FromFile();
    EXPECT_EQ(h->Domains[0]->IPRestrictor.Mode, 1);
    EXPECT_EQ(h->Domains[0]->IPRestrictor.IPNumbers.Text(), "10.0.0.1\r\n10.0.0.*\r\n");
  }
  // "Send File" with a missing file: nothing changes, the copy and the file keep the rule.
  const auto stored = ReadFileBytes(SettingsFileName);
  const int before = reloads;
  b.select("RGRPALLOWFORBIDD", 1);
  b.select("CMBREQUESTDENIEDACTION", 3);
  b.type("EDTFILENAME", "denied.html");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  EXPECT_EQ(reloads, before);
  EXPECT_EQ(ReadFileBytes(SettingsFileName), stored);
  EXPECT_EQ(CopyDomain(b, 0).IPRestrictor.Mode, 1);
  EXPECT_EQ(CopyDomain(b, 0).IPRestrictor.RequestDeniedAction, 2);
  // The file as the engine's "Send File" opens it: relative to the program folder.
  WriteFileReplacing("denied.html", std::vector<uint8_t>{'n', 'o'});
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  {
    auto h = FromFile();
    EXPECT_EQ(h->Domains[0]->IPRestrictor.Mode, 0);
    EXPECT_EQ(h->Domains[0]->IPRestrictor.RequestDeniedAction, 3);
    EXPECT_EQ(h->Domains[0]->IPRestrictor.FileName, "denied.html");
  }
  // Once shown, the warning stays until the page is replaced, as on the
  // server's security page.
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  b.type("EDTFILENAME", "missing.html");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  // Another action needs no file: it saves; a new page has no warning.
  b.select("CMBREQUESTDENIEDACTION", 1);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->Domains[0]->IPRestrictor.RequestDeniedAction, 1);
  EXPECT_EQ(FromFile()->Domains[0]->IPRestrictor.FileName, "missing.html");
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINSSECURITY"));
  EXPECT_FALSE(b.shown("LBLFILEDOESNOTEXIST"));
}

TEST_F(DomainSubPages, AStoredActionTheComboLacksIsKept) {
  TestBrowser b = Open("IMGDOMAINSSECURITY", 2);
  EXPECT_EQ(b.activeForm<TfrmDomainsSecurity>()->cmbRequestDeniedAction->itemIndex, -1);
  b.type("MMIPNUMBERS", "10.1.1.1");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->Domains[1]->IPRestrictor.RequestDeniedAction, 4);
  EXPECT_EQ(FromFile()->Domains[1]->IPRestrictor.IPNumbers.Text(), "10.1.1.1\r\n");
}

TEST_F(DomainSubPages, MenuKeepsTypedTextAndTheComboDropsIt) {
  TestBrowser b = Open("IMGDOMAINSVIRTUALDOMAINS");
  b.type("MMVIRTUALDOMAINS", "kept.example");
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINSHEADERS"));
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINSVIRTUALDOMAINS"));
  EXPECT_EQ(b.value("MMVIRTUALDOMAINS"), "kept.example");
  b.type("MMVIRTUALDOMAINS", "dropped.example");
  ASSERT_TRUE(b.choose("CMBDOMAINS", 1));
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Domains/Virtual domains]");
  EXPECT_EQ(b.value("MMVIRTUALDOMAINS"), "");
  EXPECT_EQ(CopyDomain(b, 0).VirtualDomains.Text(), "kept.example\r\n");
  // Leaving the domain's pages reads the file again.
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGDOMAINS"));
  EXPECT_EQ(CopyDomain(b, 0).VirtualDomains.Text(), "www.a.example\r\n");
}

}  // namespace
