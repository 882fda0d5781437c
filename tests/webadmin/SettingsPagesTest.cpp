// The general, security and compression pages through the test browser:
// what each shows, what a save writes to data/settings.dat and what the
// running engine applies.
#include <gtest/gtest.h>

#include <memory>

#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/SysUtils.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fCompression.h"
#include "webadmin/fGeneralSettings.h"
#include "webadmin/fSecurity.h"

namespace {

using web::TestBrowser;

// The fixture's program folder with a real engine host, which takes the
// engine hooks: every save reloads its live configuration.
class SettingsPages : public WebAdminFixture {
 protected:
  SettingsPages() {
    WriteSettings([](TDomainHandler& h) {
      h.ContactEmailAddress = "ops@example.com";
      h.SendMailOnBrokenServer = true;
      h.AdminIPRestrictor.RequestDeniedAction = 1;  // "Try Next Domain"
      h.CompressionLimiter.ExtToCompress.SetText(".zz\r\n.aa\r\n.mm");
      h.CompressionLimiter.MIMEToCompress.SetText("text/z\r\ntext/a");
    });
    engine_ = std::make_unique<TdmHTTPBase>();
    std::string msg;
    engine_->LoadSettings(msg);
  }
  ~SettingsPages() override { engine_.reset(); }

  TDomainHandler& Live() { return *engine_->GetDomainHandler(); }

  std::unique_ptr<TdmHTTPBase> engine_;
};

TEST_F(SettingsPages, GeneralShowsTheStoredFields) {
  TestBrowser b = OpenMenu("IMGGENERAL");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [General settings]");
  EXPECT_EQ(b.value("EDTGATENAME"), "Vantrell Switch");
  EXPECT_EQ(b.value("EDTADMINPORT"), "19721");
  EXPECT_EQ(b.value("EDTUSERNAME"), "Admin");
  EXPECT_EQ(b.value("EDTMAXTHREADS"), "150");
  EXPECT_EQ(b.value("EDTCUSTOMCALLERIPHEADER"), "X-Forwarded-for;rlnclientipaddr");
  EXPECT_TRUE(b.checked("CHKW3C"));
  EXPECT_TRUE(b.checked("CHKEVENT"));
  EXPECT_FALSE(b.checked("CHKTRACE"));
  EXPECT_FALSE(b.shown("EDTCONTACTEMAILADDRESS"));
  EXPECT_FALSE(b.shown("LBLPASSWORDVERIFY"));
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/GeneralSettings.htm");
  // Empty stored password: the check warns at once.
  EXPECT_EQ(b.text("LBLSTATUS"), "Login Password should not be empty for security reasons");
  auto* page = b.activeForm<TfrmGeneralSettings>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->cmbCheckMethod->items,
            (std::vector<std::string>{"Failure to open socket", "Failure to get HTTP document", "Failure to ping"}));
  EXPECT_EQ(page->imgStatus->fileName, "StatusOrange.jpg");
}

TEST_F(SettingsPages, GeneralSaveWritesEveryFieldAndTheEngineRunsIt) {
  TestBrowser b = OpenMenu("IMGGENERAL");
  b.type("EDTGATENAME", "Gate 2");
  b.type("EDTADMINPORT", "18000");
  b.type("EDTUSERNAME", "root");
  b.type("EDTPASSWORD", "pw");
  b.type("EDTPASSWORDVERIFY", "pw");
  b.type("EDTMAXTHREADS", "40");
  b.check("CHKALLOWACCESSTOSTATUS", true);
  b.check("CHKNOREMOTEADMIN", true);
  b.select("CMBCHECKMETHOD", 1);
  b.check("CHKALLOWKEEPALIVE", false);
  b.check("CHKREMOVEVTHEADERS", true);
  b.type("EDTLOGDIRECTORY", "/tmp/logs");
  b.check("CHKUSEXFORWARDEDFOR", true);
  b.type("EDTCUSTOMCALLERIPHEADER", "X-Real-IP");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_EQ(b.text("LBLSTATUS"), "No errors or warnings found for general settings.");

  auto file = FromFile();
  for (TDomainHandler* h : {file.get(), &Live()}) {
    SCOPED_TRACE(h == file.get() ? "file" : "engine");
    EXPECT_EQ(h->GateName, "Gate 2");
    EXPECT_EQ(h->AdminPort, 18000);
    EXPECT_EQ(h->Username, "root");
    EXPECT_EQ(h->Password, "pw");
    EXPECT_EQ(h->MaxThreads, 40);
    EXPECT_TRUE(h->AllowAccessToStatus);
    EXPECT_TRUE(h->NoRemoteAdmin);
    EXPECT_EQ(h->CheckMethod, 1);
    EXPECT_FALSE(h->AllowKeepAlive);
    EXPECT_TRUE(h->RemoveVTHeaders);
    EXPECT_EQ(h->LogDirectory, "/tmp/logs");
    EXPECT_TRUE(h->UseXForwardedFor);
    EXPECT_EQ(h->CustomCallerIPHeaders, "X-Real-IP");
    // The hidden e-mail fields keep what was stored.
    EXPECT_EQ(h->ContactEmailAddress, "ops@example.com");
    EXPECT_TRUE(h->SendMailOnBrokenServer);
  }
}

TEST_F(SettingsPages, GeneralAdminPortFallsBackToTheDefault) {
  for (const char* text : {"0", "abc", "-5"}) {
    SCOPED_TRACE(text);
    TestBrowser b = OpenMenu("IMGGENERAL");
    b.type("EDTADMINPORT", text);
    ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
    EXPECT_EQ(b.value("EDTADMINPORT"), "19721");
    EXPECT_EQ(FromFile()->AdminPort, 19721);
  }
}

TEST_F(SettingsPages, GeneralPasswordMustVerify) {
  const auto before = FileBytes();
  TestBrowser b = OpenMenu("IMGGENERAL");
  b.type("EDTGATENAME", "Changed");
  b.type("EDTPASSWORD", "one");
  b.type("EDTPASSWORDVERIFY", "two");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLPASSWORDVERIFY"));
  EXPECT_EQ(b.text("LBLPASSWORDVERIFY"), "Password does not verify");
  EXPECT_FALSE(b.shown("LBLSAVED"));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(b.activeForm<TfrmGeneralSettings>()->activeControl, b.activeForm<TfrmGeneralSettings>()->edtGateName);

  // Both empty: stored, and the check warns.
  b.type("EDTPASSWORD", "");
  b.type("EDTPASSWORDVERIFY", "");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_FALSE(b.shown("LBLPASSWORDVERIFY"));
  EXPECT_EQ(FromFile()->GateName, "Changed");
  EXPECT_EQ(FromFile()->Password, "");
  EXPECT_EQ(b.text("LBLSTATUS"), "Login Password should not be empty for security reasons");
}

TEST_F(SettingsPages, GeneralPoolSizeMustBeAnInteger) {
  const auto before = FileBytes();
  TestBrowser b = OpenMenu("IMGGENERAL");
  b.type("EDTGATENAME", "Not written");
  b.type("EDTMAXTHREADS", "abc");
  b.click("BTNSAVESETTINGS");
  EXPECT_NE(b.html().find("&#39;abc&#39; is not a valid integer value"), std::string::npos);
  EXPECT_FALSE(b.shown("LBLSAVED"));
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(Live().GateName, "Vantrell Switch");
}

TEST_F(SettingsPages, GeneralLoggingBoxesChangeTheCopyAtOnce) {
  const auto before = FileBytes();
  TestBrowser b = OpenMenu("IMGGENERAL");
  ASSERT_TRUE(b.click("CHKTRACE"));
  ASSERT_TRUE(b.click("CHKW3C"));
  {
    web::CurrentAppGuard guard(b.session().get());
    EXPECT_EQ(UserSession()->DomainHandler->LogOptions, 2 | 4);
  }
  EXPECT_EQ(FileBytes(), before);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->LogOptions, 2 | 4);
  EXPECT_EQ(Live().LogOptions, 2 | 4);
}

TEST_F(SettingsPages, GeneralResetRestoresTheCallerIPHeadersUnsaved) {
  TestBrowser b = OpenMenu("IMGGENERAL");
  b.type("EDTCUSTOMCALLERIPHEADER", "Mine");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  ASSERT_TRUE(b.click("BTNRESETCUSTOMCALLERIPHEADERS"));
  EXPECT_EQ(b.value("EDTCUSTOMCALLERIPHEADER"), "X-Forwarded-for;rlnclientipaddr");
  EXPECT_EQ(FromFile()->CustomCallerIPHeaders, "Mine");
}

TEST_F(SettingsPages, SecurityShowsAndStoresTheRule) {
  TestBrowser b = OpenMenu("IMGSECURITY");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Security settings]");
  auto* page = b.activeForm<TfrmSecurity>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->cmbRequestDeniedAction->items,
            (std::vector<std::string>{"Send denied 401", "Close Connection", "Send File"}));
  EXPECT_EQ(page->rgrpAllowForbidd->items,
            (std::vector<std::string>{"IP's in list are forbidden ", "IP's in list are allowed"}));
  // Stored "Try Next Domain" is not offered: no selection; mode 1 is index 0.
  EXPECT_EQ(page->cmbRequestDeniedAction->itemIndex, -1);
  EXPECT_EQ(page->rgrpAllowForbidd->itemIndex, 0);

  b.select("RGRPALLOWFORBIDD", 1);
  b.type("MMIPNUMBERS", "10.0.0.1\r\n192.168.*");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  auto file = FromFile();
  for (TDomainHandler* h : {file.get(), &Live()}) {
    EXPECT_EQ(h->AdminIPRestrictor.Mode, 0);
    EXPECT_EQ(h->AdminIPRestrictor.RequestDeniedAction, 0);  // nothing chosen: "Send denied 401"
    EXPECT_EQ(h->AdminIPRestrictor.IPNumbers.Items(), (std::vector<std::string>{"10.0.0.1", "192.168.*"}));
  }

  b.select("CMBREQUESTDENIEDACTION", 1);
  b.select("RGRPALLOWFORBIDD", 0);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_EQ(FromFile()->AdminIPRestrictor.RequestDeniedAction, 2);
  EXPECT_EQ(Live().AdminIPRestrictor.Mode, 1);
}

TEST_F(SettingsPages, SecuritySendFileNeedsAnExistingFile) {
  TestBrowser b = OpenMenu("IMGSECURITY");
  const auto before = FileBytes();
  b.select("CMBREQUESTDENIEDACTION", 2);
  b.type("EDTFILENAME", "data/denied.html");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  EXPECT_EQ(b.text("LBLFILEDOESNOTEXIST"), "File does not exist!");
  EXPECT_FALSE(b.shown("LBLSAVED"));
  EXPECT_EQ(FileBytes(), before);

  // Once shown, the warning stays until the page is replaced.
  WriteFileReplacing("data/denied.html", {'n', 'o'});
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLFILEDOESNOTEXIST"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_EQ(FromFile()->AdminIPRestrictor.RequestDeniedAction, 3);
  EXPECT_EQ(Live().AdminIPRestrictor.FileName, "data/denied.html");
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSECURITY"));
  EXPECT_FALSE(b.shown("LBLFILEDOESNOTEXIST"));
}

TEST_F(SettingsPages, CompressionSortsAndSetsDefaults) {
  TestBrowser b = OpenMenu("IMGCOMPRESSION");
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Compression settings]");
  auto* page = b.activeForm<TfrmCompression>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->mmExtToCompress->lines, (std::vector<std::string>{".aa", ".mm", ".zz"}));
  EXPECT_EQ(page->mmMIMEToCompress->lines, (std::vector<std::string>{"text/a", "text/z"}));

  ASSERT_TRUE(b.click("IWBUTTONSETEXTDEFAULTS"));
  ASSERT_TRUE(b.click("IWBUTTONSETMIMEDEFAULTS"));
  EXPECT_EQ(FromFile()->CompressionLimiter.ExtToCompress.Count(), 3);  // nothing saved yet
  b.check("IWCHECKBOXCOMPRESSIONENABLED", false);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));

  TCompressionLimiter defaults;
  auto file = FromFile();
  for (TDomainHandler* h : {file.get(), &Live()}) {
    EXPECT_FALSE(h->CompressionLimiter.Enabled);
    EXPECT_EQ(h->CompressionLimiter.ExtToCompress.Items(), defaults.ExtToCompress.Items());
    EXPECT_EQ(h->CompressionLimiter.MIMEToCompress.Items(), defaults.MIMEToCompress.Items());
  }
  EXPECT_EQ(defaults.ExtToCompress.Count(), 12);
  EXPECT_EQ(defaults.MIMEToCompress.Count(), 7);
}

}  // namespace
