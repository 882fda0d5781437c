// The Outlook Web Access edition's shell: its menu, the embedded pages'
// regions, their events and the logout.
#include <gtest/gtest.h>

#include <filesystem>

#include "Common/uDomainHandler.h"
#include "Common/uProgramMode.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/fGeneralSettings.h"
#include "webadmin/fOWAMain.h"
#include "webadmin/fOWASettings.h"

namespace {

using web::TestBrowser;

class OWAShell : public WebAdminFixture {
 protected:
  OWAShell() {
    WriteSettings([](TDomainHandler&) {});
    OWAEdition = true;
  }
  ~OWAShell() override { OWAEdition = false; }

  static constexpr const char* Regions[] = {"FRMMAIN_RGNSETTINGS", "FRMGENERALSETTINGS_RGNSETTINGS",
                                            "FRMSSLSETTINGS_RGNSETTINGS", "FRMCOMPRESSION_RGNSETTINGS",
                                            "FRMOWASETTINGS_RGNSETTINGS"};
  // The regions the page shows.
  std::vector<std::string> ShownRegions(const TestBrowser& b) {
    std::vector<std::string> shown;
    for (const char* id : Regions)
      if (b.shown(id)) shown.push_back(id);
    return shown;
  }
};

TEST_F(OWAShell, LoginShowsTheShellWithTheMainRegion) {
  TestBrowser b = LoggedIn();
  EXPECT_EQ(b.title(), "Vantrell OWA - Web Admin");
  auto* shell = b.activeForm<TfrmOWAMain>();
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMMAIN_RGNSETTINGS"});
  EXPECT_EQ(shell->mmMain->fileName, "..\\Files\\mmsBO_Main.jpg");
  EXPECT_EQ(shell->mmGeneralSettings->fileName, "..\\Files\\mmBO_GeneralSettings.jpg");
  EXPECT_EQ(shell->mmSSLSettings->fileName, "..\\Files\\mmSSLSettings.jpg");
  EXPECT_EQ(shell->mmCompression->fileName, "..\\Files\\mmCompression.jpg");
  EXPECT_EQ(shell->mmOWASettings->fileName, "..\\Files\\mmBO_OWASettings.jpg");
  EXPECT_EQ(shell->mmLogout->fileName, "..\\Files\\mmLogout.jpg");
  EXPECT_EQ(shell->frmGeneralSettings(), nullptr);
  EXPECT_EQ(shell->width, 717);
  EXPECT_EQ(shell->height, 583);
}

TEST_F(OWAShell, EachPageIsMadeOnceAndOneRegionShows) {
  TestBrowser b = LoggedIn();
  auto* shell = b.activeForm<TfrmOWAMain>();
  ASSERT_TRUE(b.click("MMGENERALSETTINGS"));
  web::AppForm* general = shell->frmGeneralSettings();
  ASSERT_NE(general, nullptr);
  EXPECT_EQ(general->owner(), shell);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMGENERALSETTINGS_RGNSETTINGS"});
  EXPECT_EQ(shell->mmGeneralSettings->fileName, "..\\Files\\mmsBO_GeneralSettings.jpg");
  EXPECT_EQ(shell->mmMain->fileName, "..\\Files\\mmBO_Main.jpg");
  EXPECT_EQ(SettingsRegion(*general)->left, 216);

  ASSERT_TRUE(b.click("MMMAIN"));
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMMAIN_RGNSETTINGS"});
  ASSERT_TRUE(b.click("MMGENERALSETTINGS"));
  EXPECT_EQ(shell->frmGeneralSettings(), general);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMGENERALSETTINGS_RGNSETTINGS"});

  for (const char* item : {"MMSSLSETTINGS", "MMCOMPRESSION", "MMOWASETTINGS"}) {
    ASSERT_TRUE(b.click(item));
    EXPECT_EQ(ShownRegions(b).size(), 1u) << item;
  }
  EXPECT_EQ(b.activeForm(), shell);
  // The session holds only the shell; the shell holds the pages.
  EXPECT_EQ(b.session()->forms().size(), 1u);
}

TEST_F(OWAShell, AnEmbeddedPagesSaveWritesTheFile) {
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("MMGENERALSETTINGS"));
  b.type("FRMGENERALSETTINGS_EDTGATENAME", "OWA gate");
  ASSERT_TRUE(b.click("FRMGENERALSETTINGS_BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("FRMGENERALSETTINGS_LBLSAVED"));
  TDomainHandler h;
  h.LoadFromFile(SettingsFileName);
  EXPECT_EQ(h.GateName, "OWA gate");
  EXPECT_EQ(reloads, 1);
  EXPECT_EQ(b.title(), "Vantrell OWA - Web Admin");
}

TEST_F(OWAShell, LogoutLogsAndShowsAFreshLogin) {
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("MMLOGOUT"));
  EXPECT_EQ(b.title(), "Vantrell - Web Admin [Login]");
  const auto lines = LogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Web Admin : User: Admin logged out"), lines.end());
  EXPECT_EQ(b.session()->forms().size(), 1u);
  EXPECT_FALSE(b.session()->authenticated());
}

TEST_F(OWAShell, CertificatePageShowsTheFolderAndDoesNothingElse) {
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("MMOWASETTINGS"));
  auto* shell = b.activeForm<TfrmOWAMain>();
  auto* page = dynamic_cast<TfrmOWASettings*>(shell->frmOWASettings());
  ASSERT_NE(page, nullptr);
  const std::string expected = std::filesystem::absolute("data/cert/a").parent_path().string() + "/";
  EXPECT_EQ(page->lblPath->caption, expected);
  EXPECT_EQ(expected.back(), '/');
  EXPECT_EQ(expected.rfind(Folder(), 0), 0u);
  EXPECT_EQ(page->IWURLHelp->url, "/files/Help/OWASettings.htm");
  EXPECT_EQ(page->lblUploadStatus->caption, "");
  EXPECT_EQ(page->cmbKeyFile->noSelectionText, "None");
  EXPECT_EQ(page->cmbSSLVersion->noSelectionText, "-- No Selection --");
  const auto before = ReadFileBytes(SettingsFileName);
  b.click("FRMOWASETTINGS_BTNSAVESETTINGS");
  EXPECT_FALSE(b.shown("FRMOWASETTINGS_LBLSAVED"));
  EXPECT_EQ(ReadFileBytes(SettingsFileName), before);
  EXPECT_EQ(reloads, 0);
}

// Without a certificate set the SSL item shows the set list, whose new set
// then opens in the shell, not in the full administration.
TEST_F(OWAShell, SSLItemWithoutASetShowsTheListAndANewSetInPlace) {
  WriteSettings([](TDomainHandler& h) { h.SSLSettingsList.Clear(); });
  TestBrowser b = LoggedIn();
  auto* shell = b.activeForm<TfrmOWAMain>();
  ASSERT_TRUE(b.click("MMSSLSETTINGS"));
  EXPECT_TRUE(b.shown("FRMSSLSETTINGSLIST_RGNSETTINGS"));
  EXPECT_TRUE(b.shown("FRMSSLSETTINGSLIST_BTNNEWCERTIFICATE"));
  EXPECT_FALSE(b.shown("FRMSSLSETTINGSLIST_LBLNOTBUILT"));

  ASSERT_TRUE(b.click("FRMSSLSETTINGSLIST_BTNNEWCERTIFICATE"));
  EXPECT_EQ(b.activeForm(), shell);
  EXPECT_EQ(b.title(), "Vantrell OWA - Web Admin");
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMSSLSETTINGS_RGNSETTINGS"});
  EXPECT_EQ(b.text("FRMSSLSETTINGS_EDTCERTIFICATENAME"), "New certificate");
  EXPECT_EQ(FromFile()->SSLSettingsList.Count(), 1);
  // The replaced list goes at the next click; the set page stays the item's.
  web::AppForm* set = shell->frmSSLSettings();
  ASSERT_TRUE(b.click("MMMAIN"));
  ASSERT_TRUE(b.click("MMSSLSETTINGS"));
  EXPECT_EQ(shell->frmSSLSettings(), set);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMSSLSETTINGS_RGNSETTINGS"});
}

// The main page's icons go on inside the shell: a page of a menu item's kind
// under that item, any other in the main page's place until "Main" is
// clicked again.
TEST_F(OWAShell, MainPageIconsStayInTheShell) {
  TestBrowser b = LoggedIn();
  auto* shell = b.activeForm<TfrmOWAMain>();
  web::AppForm* main = shell->frmMain();
  ASSERT_TRUE(b.click("FRMMAIN_IMGGENERALSETTINGSICON"));
  EXPECT_EQ(b.activeForm(), shell);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMGENERALSETTINGS_RGNSETTINGS"});
  EXPECT_EQ(shell->mmGeneralSettings->fileName, "..\\Files\\mmsBO_GeneralSettings.jpg");
  EXPECT_EQ(shell->mmMain->fileName, "..\\Files\\mmBO_Main.jpg");
  ASSERT_TRUE(b.click("MMMAIN"));
  EXPECT_EQ(shell->frmMain(), main);

  ASSERT_TRUE(b.click("FRMMAIN_IMGDOMAINSICON"));
  EXPECT_EQ(b.activeForm(), shell);
  EXPECT_EQ(b.title(), "Vantrell OWA - Web Admin");
  EXPECT_TRUE(ShownRegions(b).empty());
  EXPECT_TRUE(b.shown("FRMDOMAINS_LBLNOTBUILT"));
  ASSERT_TRUE(b.click("MMMAIN"));
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMMAIN_RGNSETTINGS"});
  EXPECT_FALSE(b.shown("FRMDOMAINS_LBLNOTBUILT"));
  EXPECT_EQ(b.session()->forms().size(), 1u);
}

TEST_F(OWAShell, PageReferencesClearWhenAPageIsFreed) {
  TestBrowser b = LoggedIn();
  ASSERT_TRUE(b.click("MMCOMPRESSION"));
  auto* shell = b.activeForm<TfrmOWAMain>();
  web::AppForm* page = shell->frmCompression();
  ASSERT_NE(page, nullptr);
  {
    web::CurrentAppGuard guard(b.session().get());
    ASSERT_TRUE(shell->destroyOwned(page));
  }
  EXPECT_EQ(shell->frmCompression(), nullptr);
  ASSERT_TRUE(b.click("MMMAIN"));
  ASSERT_TRUE(b.click("MMCOMPRESSION"));
  EXPECT_NE(shell->frmCompression(), nullptr);
  EXPECT_EQ(ShownRegions(b), std::vector<std::string>{"FRMCOMPRESSION_RGNSETTINGS"});
}

}  // namespace
