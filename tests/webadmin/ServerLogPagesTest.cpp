// The log view, server, test request and support pages through the
// dispatcher: a temporary log root with a link out of it, recording engine
// hooks, and the session's copy of the configuration.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/DateTime.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"
#include "webadmin/fLogView.h"
#include "webadmin/fServer.h"
#include "webadmin/fSupport.h"
#include "webadmin/fTestRequest.h"

namespace fs = std::filesystem;

namespace {

using web::TestBrowser;

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFileReplacing(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// ------------------------------------------------------------ log view

class LogViewPage : public WebAdminFixture {
 protected:
  LogViewPage() {
    root_ = Folder() + "logs/";
    ForceDirectories(root_ + "VT");
    ForceDirectories(root_ + "W3C/site1");
    ForceDirectories(Folder() + "outside");
    WriteText(root_ + "VT/vt261210.txt", "first line\r\nsecond line\r\n");
    WriteText(root_ + "W3C/site1/ex261210.log", "#Software: x\r\nGET /\r\n");
    WriteText(root_ + "W3C/site1/A.TXT", "upper");
    WriteText(root_ + "toplevel.txt", "not listed");
    WriteText(Folder() + "outside/secret.log", "secret");
    EXPECT_EQ(::symlink((Folder() + "outside").c_str(), (root_ + "out").c_str()), 0);
    EXPECT_EQ(::symlink((Folder() + "outside/secret.log").c_str(), (root_ + "W3C/site1/leak.log").c_str()), 0);
    WriteSettings([this](TDomainHandler& h) { h.LogDirectory = root_; });
    engine_ = std::make_unique<TdmHTTPBase>();
    std::string msg;
    engine_->LoadSettings(msg);
  }
  ~LogViewPage() override { engine_.reset(); }

  TestBrowser Open() { return OpenMenu("IMGLOGVIEW"); }
  // A GET as the transport gives it to the dispatcher: the path decoded.
  web::HttpResponse Fetch(const std::string& path) {
    web::HttpRequest get;
    get.method = "GET";
    get.path = path;
    return Server().handle(get);
  }
  static int IndexOf(const std::vector<std::string>& items, const std::string& item) {
    auto it = std::find(items.begin(), items.end(), item);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
  }
  // Selects Item in the list (by its text) as a click would.
  static void Pick(TestBrowser& b, web::ListBox* list, const std::string& id, const std::string& item) {
    const int i = IndexOf(list->items, item);
    ASSERT_GE(i, 0) << item;
    ASSERT_TRUE(b.choose(id, i));
  }

  std::string root_;
  std::unique_ptr<TdmHTTPBase> engine_;
};

TEST(LogView, DownloadNames) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/l/VT/vt261210.txt", "0_abc_vt261210.txt"},
      {"/l/W3C/s/ex261210.log", "0_abc_ex261210.log.txt"},
      {"/l/W3C/s/A.TXT", "0_abc_A.TXT.txt"},
      {"/l/noext", "0_abc_noext.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeDownloadName("abc", c.path), c.name) << c.path;
}

TEST_F(LogViewPage, ListsTheTreeAndShowsAFile) {
  TestBrowser b = Open();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Log View]");
  auto* page = b.activeForm<TfrmLogView>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(CurrentLogRoot(), root_);
  // Folders only, and not the link that leads out.
  EXPECT_EQ(Sorted(page->lstRoot->items), (std::vector<std::string>{"[VT]", "[W3C]"}));
  EXPECT_TRUE(page->lstLevel2->items.empty());
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/viewlog.htm");
  EXPECT_NE(b.html().find("[No files or directories]"), std::string::npos);

  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  EXPECT_EQ(page->LogFolder, root_ + "W3C");
  EXPECT_EQ(page->lstLevel2->items, (std::vector<std::string>{"[site1]"}));
  Pick(b, page->lstLevel2, "LSTLEVEL2", "[site1]");
  EXPECT_EQ(Sorted(page->lstLevel3->items), (std::vector<std::string>{"A.TXT", "ex261210.log"}));
  Pick(b, page->lstLevel3, "LSTLEVEL3", "ex261210.log");
  EXPECT_EQ(page->mmLogFile->lines, (std::vector<std::string>{"#Software: x", "GET /"}));

  // Files of a root folder show from the second list; a new root choice
  // clears what was shown.
  Pick(b, page->lstRoot, "LSTROOT", "[VT]");
  EXPECT_TRUE(page->mmLogFile->lines.empty());
  EXPECT_TRUE(page->lstLevel3->items.empty());
  Pick(b, page->lstLevel2, "LSTLEVEL2", "vt261210.txt");
  EXPECT_EQ(page->mmLogFile->lines, (std::vector<std::string>{"first line", "second line"}));
}

TEST_F(LogViewPage, ForgedSelectionsReachNothing) {
  TestBrowser b = Open();
  auto* page = b.activeForm<TfrmLogView>();
  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  // An index past the items, a text instead of an index, a path.
  for (const char* value : {"5", "../../outside", "[out]", "-2"}) {
    b.postRaw({{"LSTLEVEL2", value}, {"VT_EVENT", "LSTLEVEL2.OnClick"}});
    EXPECT_TRUE(page->lstLevel3->items.empty()) << value;
    EXPECT_TRUE(page->mmLogFile->lines.empty()) << value;
  }
  // The third list's event while the second shows no folder.
  b.postRaw({{"LSTLEVEL3", "0"}, {"VT_EVENT", "LSTLEVEL3.OnClick"}});
  EXPECT_TRUE(page->mmLogFile->lines.empty());
}

// A file that became a link out of the root after it was listed.
TEST_F(LogViewPage, ALinkOutOfTheRootIsRefused) {
  TestBrowser b = Open();
  auto* page = b.activeForm<TfrmLogView>();
  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  Pick(b, page->lstLevel2, "LSTLEVEL2", "[site1]");
  const std::string file = root_ + "W3C/site1/ex261210.log";
  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_EQ(::symlink((Folder() + "outside/secret.log").c_str(), file.c_str()), 0);
  Pick(b, page->lstLevel3, "LSTLEVEL3", "ex261210.log");
  EXPECT_TRUE(page->mmLogFile->lines.empty());
  EXPECT_EQ(b.alerts(), (std::vector<std::string>{"The file is not in the log folder"}));
  b.check("CHKDOWNLOAD", true);
  Pick(b, page->lstLevel3, "LSTLEVEL3", "ex261210.log");
  EXPECT_TRUE(ListFilesByMask(Folder() + "Files/0_*").Empty());
}

TEST_F(LogViewPage, DownloadCopyLivesWithItsSession) {
  TestBrowser b = Open();
  auto* page = b.activeForm<TfrmLogView>();
  const std::string id = b.sessionId();
  b.check("CHKDOWNLOAD", true);
  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  Pick(b, page->lstLevel2, "LSTLEVEL2", "[site1]");
  Pick(b, page->lstLevel3, "LSTLEVEL3", "ex261210.log");
  EXPECT_TRUE(page->mmLogFile->lines.empty());
  const std::string name = "0_" + id + "_ex261210.log.txt";
  EXPECT_NE(b.onloadScript().find("NewWindow(\"/filesnc/" + name + "\", \"\",\"\");"), std::string::npos)
      << b.onloadScript();
  EXPECT_TRUE(FileExists(Folder() + "Files/" + name));

  Pick(b, page->lstLevel3, "LSTLEVEL3", "A.TXT");
  EXPECT_TRUE(FileExists(Folder() + "Files/0_" + id + "_A.TXT.txt"));
  Pick(b, page->lstRoot, "LSTROOT", "[VT]");
  Pick(b, page->lstLevel2, "LSTLEVEL2", "vt261210.txt");
  EXPECT_NE(b.onloadScript().find("/filesnc/0_" + id + "_vt261210.txt\""), std::string::npos);

  web::HttpResponse r = Fetch("/filesnc/" + name);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "#Software: x\r\nGET /\r\n");
  // Another id, or none, finds nothing.
  EXPECT_EQ(Fetch("/filesnc/0_" + std::string(32, 'a') + "_ex261210.log.txt").status, 404);
  EXPECT_EQ(Fetch("/files/" + name).status, 200);

  {
    ScopedManualClock clock(45000.0, 100000000);
    b.session()->lastAccessMs = 0;
    EXPECT_EQ(Server().reapIdleSessions(), 1u);
  }
  EXPECT_FALSE(FileExists(Folder() + "Files/" + name));
  WriteText(Folder() + "Files/" + name, "planted");  // even a file put there is not served
  EXPECT_EQ(Fetch("/filesnc/" + name).status, 404);
}

// A log name is any file name: the address carries it as one encoded path
// segment ("#" no fragment, "?" no query, "%41" not "A") inside a script
// string it cannot end, and that address serves the copy.
TEST_F(LogViewPage, DownloadAddressOfAnOddLogName) {
  const std::string odd = "a'b\"c<d>e#f?g%41 h&i.log";
  WriteText(root_ + "W3C/site1/" + odd, "odd");
  TestBrowser b = Open();
  auto* page = b.activeForm<TfrmLogView>();
  b.check("CHKDOWNLOAD", true);
  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  Pick(b, page->lstLevel2, "LSTLEVEL2", "[site1]");
  Pick(b, page->lstLevel3, "LSTLEVEL3", odd);
  const std::string name = "0_" + b.sessionId() + "_" + odd + ".txt";
  const std::string encoded =
      "0_" + b.sessionId() + "_a%27b%22c%3Cd%3Ee%23f%3Fg%2541%20h%26i.log.txt";
  EXPECT_NE(b.onloadScript().find("NewWindow(\"/filesnc/" + encoded + "\", \"\",\"\");"), std::string::npos)
      << b.onloadScript();
  web::HttpResponse r = Fetch("/filesnc/" + name);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "odd");
}

// Resident memory of this process, from /proc/self/statm, after the heap
// gave back what is free.
int64_t ResidentBytes() {
  ::malloc_trim(0);
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

constexpr size_t kMiB = size_t{1} << 20;

// The sanitizers hold freed memory back (quarantine, shadow), so growth of
// resident memory says nothing in their builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryCounts = false;
#else
constexpr bool kResidentMemoryCounts = true;
#endif

// A 50 MiB log: the page shows its last MiB from a line's start under one
// line saying so, reads no more than that, never posts it back, and the
// download still gets all of it.
TEST_F(LogViewPage, ABigFileShowsItsEndAndTheNextClickStillWorks) {
  const std::string big = root_ + "W3C/site1/big.log";
  size_t lineCount = 0;
  {
    std::ofstream out(big, std::ios::binary);
    std::string chunk;
    while (lineCount * 100 < 50 * kMiB) {
      // 100 bytes a line.
      std::string line = Format("line %.8d ", static_cast<int64_t>(lineCount++));
      line.resize(98, 'x');
      chunk += line + "\r\n";
      if (chunk.size() >= kMiB) {
        out << chunk;
        chunk.clear();
      }
    }
    out << chunk;
  }
  ASSERT_EQ(fs::file_size(big), 50 * kMiB);
  TestBrowser b = Open();
  auto* page = b.activeForm<TfrmLogView>();
  Pick(b, page->lstRoot, "LSTROOT", "[W3C]");
  Pick(b, page->lstLevel2, "LSTLEVEL2", "[site1]");
  const int64_t before = ResidentBytes();

  Pick(b, page->lstLevel3, "LSTLEVEL3", "big.log");
  ASSERT_EQ(b.status(), 200);
  const std::vector<std::string>& lines = page->mmLogFile->lines;
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "... (only the last 1 MiB of this 50 MiB file is shown; tick \"Download file\" for all of it)");
  // Whole lines only, through the file's last one.
  const size_t shown = lines.size() - 1;
  EXPECT_EQ(lines[1].substr(0, 5), "line ");
  EXPECT_EQ(lines[1].size(), 98u);
  EXPECT_EQ(lines.back().substr(0, 13), Format("line %.8d", static_cast<int64_t>(lineCount - 1)));
  EXPECT_EQ(shown, kMiB / 100);
  // Shown only, with no name the browser would post it under.
  const web::HtmlElement* memo = b.doc().byId("MMLOGFILE");
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->has("readonly"));
  EXPECT_FALSE(memo->has("name"));
  EXPECT_LE(b.html().size(), 2 * kMiB);
  if (kResidentMemoryCounts) {
    EXPECT_LT(ResidentBytes() - before, int64_t{10 * kMiB});
  }

  // The next click answers with the other file; then the big one again.
  Pick(b, page->lstLevel3, "LSTLEVEL3", "ex261210.log");
  EXPECT_EQ(b.status(), 200);
  EXPECT_EQ(page->mmLogFile->lines, (std::vector<std::string>{"#Software: x", "GET /"}));
  Pick(b, page->lstLevel3, "LSTLEVEL3", "big.log");
  EXPECT_EQ(b.status(), 200);
  EXPECT_EQ(page->mmLogFile->lines.size(), shown + 1);
  if (kResidentMemoryCounts) {
    EXPECT_LT(ResidentBytes() - before, int64_t{10 * kMiB});
  }

  b.check("CHKDOWNLOAD", true);
  Pick(b, page->lstLevel3, "LSTLEVEL3", "big.log");
  EXPECT_EQ(fs::file_size(Folder() + "Files/0_" + b.sessionId() + "_big.log.txt"), 50 * kMiB);
}

// Where the shown end begins: after the first line break of the last MiB,
// unless the byte before it ends a line; a file of 1 MiB shows whole.
TEST_F(LogViewPage, TheShownEndStartsALine) {
  const std::string note = "... (only the last 1 MiB of this 1 MiB file is shown; tick \"Download file\" for all of it)";
  const struct {
    const char* what;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"exactly 1 MiB", std::string(kMiB - 2, 'a') + "\r\n", {std::string(kMiB - 2, 'a')}},
      {"a line ends before the window", "x\n" + std::string(kMiB - 2, 'b') + "\r\n", {note, std::string(kMiB - 2, 'b')}},
      {"CR LF around the window's start", "x\r\n" + std::string(kMiB - 3, 'c') + "\r\n",
       {note, std::string(kMiB - 3, 'c')}},
      {"a cut line is dropped", "xy" + std::string(kMiB - 10, 'd') + "\r\ntail line", {note, "tail line"}},
      {"one line longer than the window", std::string(kMiB + 5, 'e'), {note, std::string(kMiB, 'e')}},
  };
  for (const auto& c : cases) {
    WriteText(root_ + "VT/cut.txt", c.text);
    TestBrowser b = Open();
    auto* page = b.activeForm<TfrmLogView>();
    Pick(b, page->lstRoot, "LSTROOT", "[VT]");
    Pick(b, page->lstLevel2, "LSTLEVEL2", "cut.txt");
    EXPECT_TRUE(page->mmLogFile->lines == c.lines) << c.what;
  }
}

// ------------------------------------------------------------ server page

class ServerPage : public WebAdminFixture {
 protected:
  ServerPage() { WriteSettings([](TDomainHandler&) {}); }

  // Hooks that record their calls; Running is the engine's state.
  void InstallServerHooks(bool withStartStop) {
    TEngineHookSet hooks;
    hooks.Owner = this;
    hooks.IsServerRunningHook = [this] { return running; };
    if (withStartStop) {
      hooks.StartServerHook = [this](void* sender, std::string& msg) {
        calls.push_back("start");
        senders.push_back(sender);
        running = true;
        msg = "Server started";
      };
      hooks.StopServerHook = [this](void* sender, std::string& msg) {
        calls.push_back("stop");
        senders.push_back(sender);
        running = false;
        msg = "SERVER STOPPED";
      };
    }
    EngineHooks::Assign(hooks);
  }
  TestBrowser Open() { return OpenMenu("IMGSERVER"); }
  std::vector<bool> Enabled(const TestBrowser& b) {
    std::vector<bool> out;
    for (const char* id : {"BTNSTART", "BTNSTOP", "BTNSTOPTHENSTART"}) out.push_back(!b.doc().byId(id)->has("disabled"));
    return out;
  }

  bool running = true;
  std::vector<std::string> calls;
  std::vector<void*> senders;
};

TEST_F(ServerPage, ButtonsFollowTheState) {
  InstallServerHooks(true);
  TestBrowser b = Open();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Service]");
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, true, true}));
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/server.htm");
  EXPECT_NE(b.attr("FRAMEMAINMENU_IMGSERVER", "src").find("mmsServerRunning.jpg"), std::string::npos);

  ASSERT_TRUE(b.click("BTNSTOP"));
  auto* page = b.activeForm<TfrmServer>();
  EXPECT_EQ(page->iwServerFeedback->lines, (std::vector<std::string>{"SERVER STOPPED"}));
  EXPECT_EQ(Enabled(b), (std::vector<bool>{true, false, false}));
  EXPECT_NE(b.attr("FRAMEMAINMENU_IMGSERVER", "src").find("mmsServerStopped.jpg"), std::string::npos);
  EXPECT_FALSE(b.click("BTNSTOP"));

  ASSERT_TRUE(b.click("BTNSTART"));
  EXPECT_EQ(page->iwServerFeedback->lines, (std::vector<std::string>{"Server started"}));
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, true, true}));
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "start"}));
  EXPECT_EQ(senders[0], page->btnStop);
  EXPECT_EQ(senders[1], page->btnStart);
}

TEST_F(ServerPage, StopThenStartFeedback) {
  InstallServerHooks(true);
  TestBrowser b = Open();
  ASSERT_TRUE(b.click("BTNSTOPTHENSTART"));
  auto* page = b.activeForm<TfrmServer>();
  EXPECT_EQ(page->iwServerFeedback->lines,
            (std::vector<std::string>{"Stopping server...", "SERVER STOPPED", "", "Starting server...",
                                      "Server started", "", "Done"}));
  EXPECT_EQ(b.doc().innerHtml(*b.doc().byId("IWSERVERFEEDBACK")),
            "Stopping server...<br>SERVER STOPPED<br><br>Starting server...<br>Server started<br><br>Done");
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "start"}));
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, true, true}));
}

TEST_F(ServerPage, WithoutHooksNothingIsOffered) {
  InstallServerHooks(false);
  {
    // The state is known, but there is nothing to start or stop with.
    TestBrowser b = Open();
    EXPECT_EQ(Enabled(b), (std::vector<bool>{false, true, true}));
    ASSERT_TRUE(b.click("BTNSTOP"));
    ASSERT_TRUE(b.click("BTNSTOPTHENSTART"));
    EXPECT_TRUE(b.activeForm<TfrmServer>()->iwServerFeedback->lines.empty());
    // A forged click on the disabled button fires nothing either.
    b.postRaw({{"VT_EVENT", "BTNSTART.OnClick"}});
    EXPECT_TRUE(b.activeForm<TfrmServer>()->iwServerFeedback->lines.empty());
  }
  TEngineHookSet none;
  none.Owner = this;
  EngineHooks::Assign(none);
  TestBrowser b = Open();
  EXPECT_EQ(Enabled(b), (std::vector<bool>{false, false, false}));
  EXPECT_NE(b.attr("FRAMEMAINMENU_IMGSERVER", "src").find("mmsServer.jpg"), std::string::npos);
}

// ------------------------------------------------------------ test request

class TestRequestPage : public WebAdminFixture {
 protected:
  TestBrowser Open() { return OpenMenu("IMGTESTREQUEST"); }
  static std::vector<std::string> Report(TDomainHandler& h, const std::string& host, int port) {
    TStringList lines;
    h.DescribeMatch(host, "127.0.0.1", lines, "127.0.0.1", "/", port);
    std::vector<std::string> out;
    for (int i = 0; i < lines.Count(); ++i) out.push_back(lines[i]);
    out.push_back("");
    return out;
  }
};

TEST_F(TestRequestPage, DefaultsGiveTheReportOfTheCopy) {
  WriteSettings([](TDomainHandler&) {});
  TestBrowser b = Open();
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Test request]");
  EXPECT_EQ(b.value("EDTHOST"), "");
  EXPECT_EQ(b.value("EDTPORT"), "80");
  EXPECT_EQ(b.value("EDTPATH"), "/");
  EXPECT_EQ(b.value("EDTCALLERIP"), "127.0.0.1");
  EXPECT_EQ(b.value("EDTLOCALIP"), "127.0.0.1");
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/testrequest.htm");
  ASSERT_TRUE(b.click("BTNTEST"));
  auto* page = b.activeForm<TfrmTestRequest>();
  TDomainHandler fresh;
  fresh.LoadFromFile(SettingsFileName);
  const std::vector<std::string> expected = Report(fresh, "", 80);
  EXPECT_EQ(page->mmTestReport->lines, expected);
  EXPECT_EQ(expected.front(), "Incoming request :  @ 127.0.0.1:80/, Caller=127.0.0.1");
  EXPECT_EQ(expected.back(), "");
}

TEST_F(TestRequestPage, APortThatIsNoNumberGivesNoReport) {
  WriteSettings([](TDomainHandler&) {});
  TestBrowser b = Open();
  b.type("EDTPORT", "abc");
  ASSERT_TRUE(b.click("BTNTEST"));
  EXPECT_TRUE(b.activeForm<TfrmTestRequest>()->mmTestReport->lines.empty());
  ASSERT_EQ(b.alerts().size(), 1u);
  EXPECT_NE(b.alerts()[0].find("abc"), std::string::npos) << b.alerts()[0];
}

TEST_F(TestRequestPage, AnUnsavedDomainIsMatched) {
  WriteSettings([](TDomainHandler&) {});
  TestBrowser b = Open();
  {
    web::CurrentAppGuard guard(b.session().get());
    TDomain* d = UserSession()->DomainHandler->AddDomain();
    d->DomainName = "new.example.com";
    d->DefaultTargetAddress = "127.0.0.1";
    d->OutPort = 8080;
  }
  b.type("EDTHOST", "new.example.com");
  ASSERT_TRUE(b.click("BTNTEST"));
  const auto& lines = b.activeForm<TfrmTestRequest>()->mmTestReport->lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Domain=new.example.com"), lines.end());
  EXPECT_EQ(lines.back(), "");
}

// ------------------------------------------------------------ support page

TEST(SupportQuery, ParametersInOrderAndEncoded) {
  const struct {
    const char* what;
    void (*edit)(TDomainHandler&);
    const char* query;
  } cases[] = {
      {"defaults", [](TDomainHandler&) {}, "ver=\"2.2.51\"&name=\"Vantrell%20Switch\"&comp=\"true\"&ssl=\"false\"&lb=\"false\""},
      {"blank name", [](TDomainHandler& h) { h.GateName = "  "; }, "ver=\"2.2.51\"&comp=\"true\"&ssl=\"false\"&lb=\"false\""},
      {"name with specials", [](TDomainHandler& h) { h.GateName = "A&B\"<#%>\xE4"; },
       "ver=\"2.2.51\"&name=\"A%26B%22%3C%23%25%3E%E4\"&comp=\"true\"&ssl=\"false\"&lb=\"false\""},
      {"features", [](TDomainHandler& h) {
         h.GateName = "G";
         h.CompressionLimiter.Enabled = false;
         h.SSLSettingsList.Add(std::make_unique<TSSLSettings>())->Enabled = true;
         h.ServerClusters->Add()->Enabled = false;
         h.ServerClusters->Add()->Enabled = true;
       },
       "ver=\"2.2.51\"&name=\"G\"&comp=\"false\"&ssl=\"true\"&lb=\"true\""},
  };
  for (const auto& c : cases) {
    TDomainHandler h;
    h.SetDefaults();
    h.SSLSettingsList.Clear();
    c.edit(h);
    EXPECT_EQ(BuildSupportQuery(h), c.query) << c.what;
  }
}

TEST_F(WebAdminFixture, SupportPageFrameCarriesTheQuery) {
  WriteSettings([](TDomainHandler& h) { h.GateName = "Gate \"1\""; });
  TestBrowser b = Browser();
  Login(b);
  ASSERT_TRUE(b.click("FRAMEMAINMENU_IMGSUPPORT"));
  ASSERT_EQ(b.title(), "Vantrell - Web Admin [Support]");
  const std::string src = b.attr("WNDSUPPORT", "src");
  EXPECT_EQ(src.rfind(std::string(SupportPageBaseURL) + "?ver=\"2.2.51\"&name=\"Gate%20%221%22\"&comp=", 0), 0u)
      << src;
  EXPECT_EQ(b.html().find("name=\"Gate \"1\""), std::string::npos);
  EXPECT_EQ(b.attr("IWURLHELP", "href"), "/files/Help/support.asp");
}

}  // namespace
