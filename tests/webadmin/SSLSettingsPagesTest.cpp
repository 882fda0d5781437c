// The certificate-set list and set pages through the dispatcher: the list's
// row actions, the set page's checks before a save, the restart after it,
// the bindings and the upload into data/cert/.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Common/uDomainHandler.h"
#include "Common/uProgramMode.h"
#include "Common/uSSLSettings.h"
#include "platform/SysUtils.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fSSLSettings.h"
#include "webadmin/fOWAMain.h"
#include "webadmin/fSSLSettingsList.h"

namespace {

using web::TestBrowser;

void WriteText(const std::string& path, const std::string& text) {
  WriteFileReplacing(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Two sets: "main" (enabled, complete, "*":443) and "second"; the files of
// "main" lie in data/cert/. The restart hook records what it found on disk.
class SSLPages : public WebAdminFixture {
 protected:
  SSLPages() {
    for (const char* f : {"ca.pem", "crt.pem", "key.pem"}) WriteText(std::string("data/cert/") + f, f);
    WriteSettings([](TDomainHandler& h) {
      h.SSLSettingsList.Clear();
      TSSLSettings* s = h.SSLSettingsList.AddNew();
      s->CertificateName = "main";
      s->RootCertificateFile = "ca.pem";
      s->CertificateFile = "crt.pem";
      s->KeyFile = "key.pem";
      s->CertificatePassword = "pw";
      s->Enabled = true;
      s->Bindings.AddBinding("*", 443);
      TSSLSettings* t = h.SSLSettingsList.AddNew();
      t->CertificateName = "second";
    });
    TEngineHookSet hooks = EngineHooks::Current();
    hooks.RestartServerHook = [this](void*, std::string& msg) {
      ++restarts;
      TDomainHandler h;
      h.LoadFromFile(SettingsFileName);
      restartSawName = h.SSLSettingsList.Count() ? h.SSLSettingsList[0]->CertificateName : "";
      if (restartFails) running = false;
      msg = restartFails ? "Could not bind socket" : "Server started";
    };
    serverRunning = [this] { return running; };
    EngineHooks::Assign(hooks);
  }

  TestBrowser OpenList() { return OpenMenu("IMGSSLSETTINGS", "Vantrell - Web Admin [SSL settings]"); }
  TestBrowser OpenSet(int row = 1) {
    TestBrowser b = OpenList();
    EXPECT_TRUE(b.click("GRDSSLSETTINGSLIST_R" + std::to_string(row) + "C5"));
    EXPECT_NE(b.activeForm<TfrmSSLSettings>(), nullptr);
    return b;
  }
  static TSSLSettings& CopySet(TestBrowser& b, int i) { return *Copy(b).SSLSettingsList[i]; }

  int restarts = 0;
  bool running = false;
  bool restartFails = false;
  std::string restartSawName;
};

TEST_F(SSLPages, ListShowsTheSavedSets) {
  TestBrowser b = Browser();
  Login(b);
  // Unsaved edits of the copy never show on the list.
  {
    web::CurrentAppGuard guard(b.session().get());
    UserSession()->DomainHandler->SSLSettingsList[0]->CertificateName = "unsaved";
  }
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSSLSETTINGS"));
  auto* page = b.activeForm<TfrmSSLSettingsList>();
  ASSERT_NE(page, nullptr);
  web::Grid& g = *page->grdSSLSettingsList;
  ASSERT_EQ(g.rowCount(), 3);
  EXPECT_EQ(g.cell(0, 1).text, "&nbsp;Certificate name&nbsp;");
  EXPECT_EQ(g.cell(0, 4).text, "&nbsp;Key file&nbsp;");
  EXPECT_EQ(g.cell(1, 1).text, "&nbsp;main&nbsp;");
  EXPECT_EQ(g.cell(1, 2).text, "&nbsp;ca.pem&nbsp;");
  EXPECT_EQ(g.cell(1, 4).width, 150);
  EXPECT_EQ(g.cell(2, 3).text, "&nbsp;vantrell_test_crt.pem&nbsp;");
  EXPECT_EQ(page->IWURLHelp->url, "/files/Help/SSLSettings.htm");
  EXPECT_EQ(b.text("LBLSTATUS"), "No errors or warnings found for SSL Certificates settings.");
}

TEST_F(SSLPages, ListRowActionsSaveAtOnce) {
  TestBrowser b = OpenList();
  ASSERT_TRUE(b.click("GRDSSLSETTINGSLIST_R2C0"));
  EXPECT_TRUE(FromFile()->SSLSettingsList[1]->Enabled);
  EXPECT_EQ(restarts, 0);
  b.acceptConfirm(false);
  EXPECT_FALSE(b.click("GRDSSLSETTINGSLIST_R1C6"));
  EXPECT_EQ(b.lastConfirmation(), "Are you sure? The server will have to be restarted!");
  b.acceptConfirm(true);
  ASSERT_TRUE(b.click("GRDSSLSETTINGSLIST_R1C6"));
  ASSERT_EQ(FromFile()->SSLSettingsList.Count(), 1);
  ASSERT_TRUE(b.click("GRDSSLSETTINGSLIST_R1C6"));
  EXPECT_EQ(FromFile()->SSLSettingsList.Count(), 0);
  EXPECT_EQ(b.text("LBLSTATUS"), "There are no SSL Certificates");
  EXPECT_EQ(b.session()->data() ? dynamic_cast<TUserSession*>(b.session()->data())->SSLSettingsIndex : 0, -1);

  // The set page with no set shows the list.
  {
    web::CurrentAppGuard guard(b.session().get());
    web::AppForm* shown = CreatePage(*b.session(), AdminPage::SSLSettings);
    EXPECT_NE(dynamic_cast<TfrmSSLSettingsList*>(shown), nullptr);
  }
}

TEST_F(SSLPages, NewCertificateIsSavedAndOpened) {
  TestBrowser b = OpenList();
  ASSERT_TRUE(b.click("BTNNEWCERTIFICATE"));
  auto file = FromFile();
  ASSERT_EQ(file->SSLSettingsList.Count(), 3);
  EXPECT_EQ(file->SSLSettingsList[2]->CertificateName, "New certificate");
  EXPECT_FALSE(file->SSLSettingsList[2]->Enabled);
  auto* page = b.activeForm<TfrmSSLSettings>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(b.value("EDTCERTIFICATENAME"), "New certificate");
  EXPECT_EQ(page->cmbSSLCertificates->itemIndex, 2);
  EXPECT_EQ(page->cmbSSLCertificates->items, (std::vector<std::string>{"main", "second", "New certificate"}));
}

TEST_F(SSLPages, SetPageShowsTheSet) {
  TestBrowser b = OpenSet();
  auto* page = b.activeForm<TfrmSSLSettings>();
  EXPECT_EQ(page->lblPath->caption, std::filesystem::absolute("data/cert").string() + "/");
  EXPECT_EQ(page->lblUploadStatus->caption, "");
  EXPECT_FALSE(b.shown("LBLSAVED"));
  EXPECT_EQ(page->cmbCertFile->items.front(), "None");
  EXPECT_EQ(page->cmbCertFile->text(), "crt.pem");
  EXPECT_EQ(page->cmbKeyFile->text(), "key.pem");
  EXPECT_EQ(page->cmbRootCertFile->text(), "ca.pem");
  EXPECT_EQ(page->cmbCertFile->items.size(), 4u);
  EXPECT_EQ(b.value("EDTCERTPASSWORD"), "pw");
  EXPECT_TRUE(b.checked("CHKSSLENABLED"));
  // Flags 6: no peer verification, so the two options are greyed.
  EXPECT_FALSE(b.checked("CHKVERIFYPEER"));
  EXPECT_TRUE(page->chkFailIfNoPeerCert->checked);
  EXPECT_FALSE(page->chkFailIfNoPeerCert->editable);
  EXPECT_EQ(page->lblVerifyClientOnce->font.color, web::colors::Silver);
  ASSERT_TRUE(b.click("CHKVERIFYPEER"));
  EXPECT_TRUE(page->chkVerifyClientOnce->editable);
  EXPECT_EQ(page->lblFailIfNoPeerCert->font.color, web::colors::Black);
  EXPECT_EQ(page->edtCipherList->hint, "SSL Cipher List");
  EXPECT_EQ(page->grdBindings->cell(1, 0).text, "&nbsp;*&nbsp;");
  EXPECT_EQ(page->grdBindings->cell(1, 1).text, "&nbsp;443&nbsp;");
  EXPECT_EQ(page->grdBindings->cell(0, 1).text, "&nbsp;Bind port&nbsp;");

  ASSERT_TRUE(b.click("BTNCIPHERLISTMEDIUM"));
  EXPECT_EQ(b.value("EDTCIPHERLIST"), "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:!LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA");
  ASSERT_TRUE(b.click("BTNCIPHERLISTHIGH"));
  EXPECT_EQ(b.value("EDTCIPHERLIST"), "ALL:!ADH:RC4+RSA:+HIGH:!MEDIUM:!LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA");
  ASSERT_TRUE(b.click("BTNCIPHERLISTLOW"));
  EXPECT_EQ(b.value("EDTCIPHERLIST"), "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA");

  // Another set: a new page, the controls of this one dropped.
  ASSERT_TRUE(b.choose("CMBSSLCERTIFICATES", 1));
  EXPECT_NE(b.activeForm<TfrmSSLSettings>(), page);
  EXPECT_EQ(b.value("EDTCERTIFICATENAME"), "second");
}

TEST_F(SSLPages, AGoodSaveWritesThenRestarts) {
  running = true;
  TestBrowser b = OpenSet();
  b.type("EDTCERTIFICATENAME", "renamed");
  b.select("CMBROOTCERTFILE", 0);  // "None"
  b.check("CHKVERIFYPEER", true);
  b.type("EDTCIPHERLIST", "HIGH");
  b.type("EDTCERTPASSWORD", " pw2 ");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  // Root "None" is an error: refused.
  EXPECT_EQ(b.alerts(), std::vector<std::string>{"Root certificate file not set!"});
  EXPECT_EQ(restarts, 0);
  b.select("CMBROOTCERTFILE", 1);
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.alerts().empty());
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_FALSE(b.shown("LBLRESTART"));
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(restartSawName, "renamed");
  EXPECT_EQ(reloads, 1);
  auto file = FromFile();
  const TSSLSettings& s = *file->SSLSettingsList[0];
  EXPECT_EQ(s.CertificateName, "renamed");
  EXPECT_EQ(s.CertificatePassword, "pw2");
  EXPECT_EQ(s.CipherList, "HIGH");
  EXPECT_EQ(s.VerifyFlags, 7);
  EXPECT_EQ(s.RootCertificateFile, b.activeForm<TfrmSSLSettings>()->cmbRootCertFile->items[1]);
  EXPECT_EQ(b.activeForm<TfrmSSLSettings>()->cmbSSLCertificates->items[0], "renamed");
}

TEST_F(SSLPages, ARestartThatLeavesTheEngineStoppedIsShown) {
  running = true;
  restartFails = true;
  TestBrowser b = OpenSet();
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_TRUE(b.shown("LBLRESTART"));
  EXPECT_EQ(b.text("LBLRESTART"), "Could not bind socket");
  // A stopped engine that stays stopped is no failure.
  TestBrowser c = OpenSet();
  ASSERT_TRUE(c.click("BTNSAVESETTINGS"));
  EXPECT_FALSE(c.shown("LBLRESTART"));
  EXPECT_EQ(restarts, 2);
}

// The engine also reads names stored with their folder; the page selects
// those files, so saving another field keeps them.
TEST_F(SSLPages, FilesStoredWithTheirFolderAreSelectedAndKept) {
  {
    auto h = FromFile();
    h->SSLSettingsList[0]->RootCertificateFile = "data/cert/ca.pem";
    h->SSLSettingsList[0]->CertificateFile = "data/cert/crt.pem";
    h->SaveToFile(SettingsFileName);
  }
  TestBrowser b = OpenSet();
  EXPECT_EQ(b.activeForm<TfrmSSLSettings>()->cmbCertFile->text(), "crt.pem");
  EXPECT_EQ(b.activeForm<TfrmSSLSettings>()->cmbRootCertFile->text(), "ca.pem");
  b.type("EDTCERTIFICATENAME", "renamed");
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  const auto h = FromFile();
  EXPECT_EQ(h->SSLSettingsList[0]->CertificateName, "renamed");
  EXPECT_EQ(TSSLSettings::ResolveCertPath(h->SSLSettingsList[0]->CertificateFile), "data/cert/crt.pem");
  EXPECT_EQ(TSSLSettings::ResolveCertPath(h->SSLSettingsList[0]->RootCertificateFile), "data/cert/ca.pem");
}

TEST_F(SSLPages, AnErrorStopsTheSave) {
  struct Case {
    const char* name;
    std::function<void()> beforeOpening;
    std::function<void(TestBrowser&)> edit;
    const char* message;
  } cases[] = {
      // The page lists the folder without the key file, so its combo has no
      // selection and the save would store an empty key file name.
      {"stored key file missing", [] { DeleteFile("data/cert/key.pem"); }, [](TestBrowser&) {}, "Key file not set!"},
      {"no password", [] {}, [](TestBrowser& b) { b.type("EDTCERTPASSWORD", "  "); },
       "Certificate password not assigned!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText("data/cert/key.pem", "key");
    c.beforeOpening();
    const auto before = FileBytes();
    TestBrowser b = OpenSet();
    c.edit(b);
    b.type("EDTCERTIFICATENAME", "refused");
    ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
    EXPECT_EQ(b.alerts(), std::vector<std::string>{c.message});
    EXPECT_FALSE(b.shown("LBLSAVED"));
    EXPECT_EQ(FileBytes(), before);
    EXPECT_EQ(restarts, 0);
    EXPECT_EQ(reloads, 0);
    // The copy keeps the stored set, so a later save cannot write it unchecked.
    EXPECT_EQ(CopySet(b, 0).CertificateName, "main");
    EXPECT_EQ(CopySet(b, 0).CertificatePassword, "pw");
    EXPECT_EQ(CopySet(b, 0).KeyFile, "key.pem");
  }
}

TEST_F(SSLPages, WarningsAndDisabledSetsSave) {
  TestBrowser b = OpenSet();
  b.type("EDTBINDIP", "*");
  b.type("EDTBINDPORT", "8443");
  ASSERT_TRUE(b.click("BTNBINDINGADD"));
  ASSERT_TRUE(b.click("GRDBINDINGS_R1C3"));  // the 443 binding
  ASSERT_TRUE(b.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(b.alerts().empty());
  EXPECT_TRUE(b.shown("LBLSAVED"));
  EXPECT_EQ(b.text("LBLSTATUS"), "SSL normally communicates on port 443.");
  EXPECT_EQ(FromFile()->SSLSettingsList[0]->Bindings[0]->Port, 8443);

  TestBrowser c = OpenSet(2);  // "second": disabled, nothing of it in the folder
  c.type("EDTCERTPASSWORD", "");
  ASSERT_TRUE(c.click("BTNSAVESETTINGS"));
  EXPECT_TRUE(c.shown("LBLSAVED"));
  EXPECT_EQ(c.text("LBLSTATUS"), "SSL is disabled");
  EXPECT_EQ(FromFile()->SSLSettingsList[1]->CertificatePassword, "");
  EXPECT_EQ(FromFile()->SSLSettingsList[1]->KeyFile, "");
}

TEST_F(SSLPages, BindingsChangeTheCopyUntilSaved) {
  const auto before = FileBytes();
  TestBrowser b = OpenSet();
  auto* page = b.activeForm<TfrmSSLSettings>();
  for (auto [ip, port] : {std::pair{"", "444"}, {" ", "444"}, {"*", ""}, {"10.0.0.1", "  "}}) {
    b.type("EDTBINDIP", ip);
    b.type("EDTBINDPORT", port);
    ASSERT_TRUE(b.click("BTNBINDINGADD"));
    EXPECT_EQ(CopySet(b, 0).Bindings.Count(), 1) << ip << "/" << port;
  }
  b.type("EDTBINDIP", "*");
  b.type("EDTBINDPORT", "abc");
  b.click("BTNBINDINGADD");
  EXPECT_NE(b.html().find("&#39;abc&#39; is not a valid integer value"), std::string::npos);
  EXPECT_EQ(CopySet(b, 0).Bindings.Count(), 1);

  b.type("EDTBINDIP", "127.0.0.1");
  b.type("EDTBINDPORT", "444");
  ASSERT_TRUE(b.click("BTNBINDINGADD"));
  ASSERT_EQ(CopySet(b, 0).Bindings.Count(), 2);
  EXPECT_EQ(b.value("EDTBINDIP"), "");
  ASSERT_TRUE(b.click("GRDBINDINGS_R2C2"));
  EXPECT_EQ(page->SelectedBinding, 1);
  EXPECT_EQ(b.value("EDTBINDIP"), "127.0.0.1");
  EXPECT_EQ(b.value("EDTBINDPORT"), "444");
  EXPECT_NE(b.html().find("#FFA500"), std::string::npos);

  // A bad port changes nothing, the address included.
  b.type("EDTBINDIP", "10.9.9.9");
  b.type("EDTBINDPORT", "x1");
  b.click("BTNBINDINGUPDATE");
  EXPECT_EQ(CopySet(b, 0).Bindings[1]->IP, "127.0.0.1");
  EXPECT_EQ(CopySet(b, 0).Bindings[1]->Port, 444);

  b.type("EDTBINDIP", "127.0.0.2");
  b.type("EDTBINDPORT", "445");
  ASSERT_TRUE(b.click("BTNBINDINGUPDATE"));
  EXPECT_EQ(CopySet(b, 0).Bindings[1]->IP, "127.0.0.2");
  EXPECT_EQ(CopySet(b, 0).Bindings[1]->Port, 445);
  EXPECT_EQ(page->SelectedBinding, -1);
  EXPECT_EQ(b.html().find("#FFA500"), std::string::npos);
  // Update with no selection does nothing.
  b.type("EDTBINDIP", "1.1.1.1");
  b.type("EDTBINDPORT", "1");
  ASSERT_TRUE(b.click("BTNBINDINGUPDATE"));
  EXPECT_EQ(CopySet(b, 0).Bindings[1]->IP, "127.0.0.2");

  ASSERT_TRUE(b.click("GRDBINDINGS_R1C3"));
  ASSERT_EQ(CopySet(b, 0).Bindings.Count(), 1);
  EXPECT_EQ(CopySet(b, 0).Bindings[0]->IP, "127.0.0.2");
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(SSLPages, UploadWritesOnlyIntoTheCertificateFolder) {
  const auto settings = FileBytes();
  TestBrowser b = OpenSet();
  auto* page = b.activeForm<TfrmSSLSettings>();
  b.upload("FILEUPLOAD", "new.pem", "PEM");
  ASSERT_TRUE(b.click("BTNUPLOAD"));
  EXPECT_EQ(page->lblUploadStatus->caption, "new.pem uploaded.");
  EXPECT_EQ(ReadFileBytes("data/cert/new.pem"), (std::vector<uint8_t>{'P', 'E', 'M'}));
  // A new upload may be a private key: it is the owner's alone.
  struct stat st {};
  ASSERT_EQ(::stat("data/cert/new.pem", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  for (web::ComboBox* combo : {page->cmbRootCertFile, page->cmbCertFile, page->cmbKeyFile})
    EXPECT_NE(std::find(combo->items.begin(), combo->items.end(), "new.pem"), combo->items.end());

  // Only the base name counts.
  TestBrowser c = OpenSet();
  page = c.activeForm<TfrmSSLSettings>();
  c.upload("FILEUPLOAD", "..\\..\\data\\settings.dat", "evil");
  ASSERT_TRUE(c.click("BTNUPLOAD"));
  EXPECT_EQ(page->lblUploadStatus->caption, "settings.dat uploaded.");
  EXPECT_EQ(FileBytes(), settings);
  EXPECT_TRUE(FileExists("data/cert/settings.dat"));

  for (const char* name : {"..", "", ".", "../"}) {
    SCOPED_TRACE(name);
    TestBrowser d = OpenSet();
    page = d.activeForm<TfrmSSLSettings>();
    d.upload("FILEUPLOAD", name, "evil");
    ASSERT_TRUE(d.click("BTNUPLOAD"));
    EXPECT_EQ(page->lblUploadStatus->caption.rfind("Upload failed: ", 0), 0u) << page->lblUploadStatus->caption;
  }
  // Nothing else appeared anywhere in the program folder.
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Folder()))
    if (e.is_regular_file()) files.push_back(std::filesystem::relative(e.path(), Folder()).string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"data/cert/ca.pem", "data/cert/crt.pem", "data/cert/key.pem",
                                             "data/cert/new.pem", "data/cert/settings.dat", "data/settings.dat"}));
  EXPECT_EQ(restarts, 0);
}

// The edition shell shows the set page's region, and another set is shown
// in place: the shell owns the page.
TEST_F(SSLPages, TheEditionShellShowsTheSetPage) {
  struct Edition {
    Edition() { OWAEdition = true; }
    ~Edition() { OWAEdition = false; }
  } edition;
  TestBrowser b = Browser();
  Login(b);
  ASSERT_TRUE(b.click("MMSSLSETTINGS"));
  auto* shell = b.activeForm<TfrmOWAMain>();
  ASSERT_NE(shell, nullptr);
  auto* page = dynamic_cast<TfrmSSLSettings*>(shell->frmSSLSettings());
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(b.shown("FRMSSLSETTINGS_RGNSETTINGS"));
  EXPECT_EQ(b.value("FRMSSLSETTINGS_EDTCERTIFICATENAME"), "main");
  ASSERT_TRUE(b.choose("FRMSSLSETTINGS_CMBSSLCERTIFICATES", 1));
  EXPECT_EQ(b.activeForm(), shell);
  EXPECT_EQ(shell->frmSSLSettings(), page);
  EXPECT_EQ(b.value("FRMSSLSETTINGS_EDTCERTIFICATENAME"), "second");
}

}  // namespace
