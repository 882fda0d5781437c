// The two monitoring windows on a configuration of the test's own, with a
// main loop whose clock the test moves and a recording message boxer.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uProgramMode.h"
#include "host/fLBServerStatus.h"
#include "host/fTestRequestProg.h"
#include "platform/MessageBox.h"
#include "platform/desktop/Forms.h"

namespace {

std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.Bytes();
}

std::shared_ptr<TServerCluster> AddCluster(TDomainHandler& h, const char* name,
                                           std::initializer_list<const char*> servers) {
  auto cluster = h.ServerClusters->Add();
  cluster->Name = name;
  for (const char* server : servers) {
    auto s = TServer::Create(*cluster);
    s->ServerName = server;
    s->ServerAddress = "127.0.0.1";
    s->ServerPort = 8000;
    s->Capacity = 1;
    s->Enabled = true;
  }
  return cluster;
}

class MonitoringWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    loop().Reset();
    loop().BindToCurrentThread();
    loop().SetTimeSource([this] { return now_.load(); });
    auto rec = std::make_unique<RecordingMessageBoxer>();
    boxes = rec.get();
    InstallMessageBoxer(std::move(rec));
    app = std::make_unique<TApplication>(loop());
    app->Title = "Vantrell Switch";
    console = new TForm(nullptr);
    DebugMode = false;
  }
  void TearDown() override {
    app.reset();
    EXPECT_EQ(frmLBServerStatus, nullptr);
    EXPECT_EQ(frmTestRequestProg, nullptr);
    InstallMessageBoxer(nullptr);
    DebugMode = false;
    loop().SetTimeSource(nullptr);
    loop().Reset();
  }
  static MainLoop& loop() { return MainLoop::Instance(); }
  void Skip(uint64_t ms) {
    now_ += ms;
    loop().ProcessPending();
  }
  TLiveConfiguration Live() {
    return [this] { return &h; };
  }
  TfrmLBServerStatus& Status() {
    ShowLBServerStatus(console, Live());
    return *frmLBServerStatus;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (int i = 0; i < frmLBServerStatus->lvLB->Count(); ++i) out.push_back(frmLBServerStatus->lvLB->Item(i).Caption);
    return out;
  }

  std::atomic<uint64_t> now_{1000000};
  RecordingMessageBoxer* boxes = nullptr;
  std::unique_ptr<TApplication> app;
  TForm* console = nullptr;  // owned by the application
  TDomainHandler h;
};

TEST_F(MonitoringWindows, StatusWindowShape) {
  TfrmLBServerStatus& w = Status();
  EXPECT_EQ(w.Caption(), "Load Balancing Server Status");
  EXPECT_EQ(w.Owner(), console);
  EXPECT_EQ(w.Width, 766);
  EXPECT_EQ(w.Height, 300);
  std::vector<std::string> columns;
  for (const TListColumn& c : w.lvLB->Columns) columns.push_back(c.Caption + "/" + std::to_string(c.Width));
  EXPECT_EQ(columns, std::vector<std::string>({"Name/120", "Status/266", "KB/s/70", "Reg/s/60",
                                               "Client connections/100", "Historic requests/150"}));
  EXPECT_EQ(w.lvLB->SmallImages->Count(), 4);
  EXPECT_EQ(w.Button_Close->Caption(), "&Close");
  EXPECT_EQ(w.Timer1->Interval(), 1000u);
  EXPECT_TRUE(w.Timer1->Enabled());
  // An empty configuration: no rows, no details.
  EXPECT_EQ(w.lvLB->Count(), 0);
  EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : (none)");
  for (TLabel* l : {w.lblActiveSessions, w.lblTotalSessions, w.lblTotalRequests, w.lblLastNewSession,
                    w.lblLastNewRequest, w.lblStatus, w.lblCapacity, w.lblLoad})
    EXPECT_EQ(l->Caption(), "(none)");
  w.Button_Close->Click();
  EXPECT_EQ(frmLBServerStatus, nullptr);
  Skip(0);
}

TEST_F(MonitoringWindows, StatusRowsAreReusedAndTheSelectionSurvives) {
  AddCluster(h, "A", {"a1", "a2"});
  AddCluster(h, "B", {"b1"});
  TfrmLBServerStatus& w = Status();
  EXPECT_EQ(Captions(), std::vector<std::string>({"A", "   a1", "   a2", "B", "   b1"}));
  EXPECT_EQ(w.lvLB->Item(0).Data, nullptr);
  EXPECT_EQ(w.lvLB->Item(2).Data, h.ServerClusters->GetCluster(0)->Servers.GetServer(1).get());
  EXPECT_EQ(w.lvLB->Item(2).SubItems[0], "   Connected ");

  // A click on a server row shows its details; a cluster row shows none.
  w.lvLB->SetItemIndex(2);
  w.lvLB->Click();
  EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : a2");
  EXPECT_EQ(w.lblCapacity->Caption(), "1.0 (50.0%)");
  EXPECT_EQ(w.lblStatus->Caption(), "Connected");
  w.lvLB->SetItemIndex(0);
  w.lvLB->Click();
  EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : (none)");

  // Ticks keep the selection and follow the servers' state.
  w.lvLB->SetItemIndex(2);
  h.ServerClusters->GetCluster(0)->Servers.GetServer(1)->Online = false;
  Skip(1000);
  EXPECT_EQ(w.lvLB->ItemIndex(), 2);
  EXPECT_EQ(w.lvLB->Item(2).SubItems[0], "   SERVER IS OFFLINE: ");
  EXPECT_EQ(w.lvLB->Item(2).ImageIndex, lbiOffline);
  EXPECT_EQ(w.lblStatus->Caption(), "SERVER IS OFFLINE:");

  // A reload without cluster B: its rows go from the end at the next tick.
  TDomainHandler next;
  AddCluster(next, "A", {"a1", "a2"});
  h.LoadFromStream(Save(next));
  EXPECT_EQ(w.lvLB->Count(), 5);
  Skip(1000);
  EXPECT_EQ(Captions(), std::vector<std::string>({"A", "   a1", "   a2"}));
  EXPECT_EQ(w.lvLB->ItemIndex(), 2);
  EXPECT_EQ(w.lvLB->Item(2).Data, h.ServerClusters->GetCluster(0)->Servers.GetServer(1).get());
  EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : a2");

  // The global cleared on close, so the next request makes a new window.
  w.Close();
  EXPECT_EQ(frmLBServerStatus, nullptr);
  Skip(1000);
  EXPECT_NE(&Status(), nullptr);
  frmLBServerStatus->Close();
  Skip(0);
}

// A reload on another thread replaces every server; a click on a row before
// the next tick must not read the old records.
TEST_F(MonitoringWindows, Threads_ClickAfterAReloadOnAnotherThread) {
  AddCluster(h, "A", {"a1", "a2"});
  AddCluster(h, "B", {"b1"});
  TfrmLBServerStatus& w = Status();
  const std::vector<uint8_t> full = Save(h);
  TDomainHandler reduced;
  AddCluster(reduced, "A", {"a1"});
  const std::vector<uint8_t> without = Save(reduced);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    h.LoadFromStream(full);
    Skip(1000);
    w.lvLB->SetItemIndex(2);
    ASSERT_EQ(w.lvLB->ItemIndex(), 2);
    // Every odd round drops a2 and cluster B; the others replace every server.
    std::thread reload([&] { h.LoadFromStream(round % 2 == 0 ? full : without); });
    reload.join();
    w.lvLB->Click();
    if (round % 2 == 0) {
      EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : a2");
      EXPECT_EQ(w.lvLB->Item(2).Data, h.ServerClusters->GetCluster(0)->Servers.GetServer(1).get());
    } else {
      // Row 2 is gone: no selection, no details.
      EXPECT_EQ(w.lvLB->Count(), 2);
      EXPECT_EQ(w.GroupBox_ServerDetails->Caption(), "Server Details : (none)");
      EXPECT_EQ(w.lblLoad->Caption(), "(none)");
    }
  }
  w.Close();
  Skip(0);
}

TEST_F(MonitoringWindows, ATickQueuedForAFreedWindowDoesNothing) {
  AddCluster(h, "A", {"a1"});
  Status();
  frmLBServerStatus->Close();
  EXPECT_EQ(frmLBServerStatus, nullptr);
  Skip(0);  // freed now
  Skip(5000);
  EXPECT_TRUE(boxes->shown.empty());
  // The console frees a window it still owns.
  Status();
  console->Free();
  EXPECT_EQ(frmLBServerStatus, nullptr);
  Skip(2000);
}

TEST_F(MonitoringWindows, TestWindow) {
  TDomain* a = h.AddDomain();
  a->DomainName = "www.a.com";
  a->DefaultTargetAddress = "10.0.0.1";
  a->VirtualDomains.Add("a.com");
  a->VirtualDomains.Add("*.shop.com");
  h.AddDomain()->DomainName = "b.com";
  ShowTestRequest(console, Live());
  TfrmTestRequestProg& w = *frmTestRequestProg;
  EXPECT_EQ(w.Caption(), "Test Request");
  EXPECT_EQ(w.Owner(), console);
  EXPECT_EQ(w.BorderStyle, TBorderStyle::bsDialog);
  EXPECT_EQ(w.ComboBox_Host->Items, std::vector<std::string>({"www.a.com", "a.com", "*.shop.com", "b.com"}));
  EXPECT_EQ(w.ComboBox_Host->Text(), "www.a.com");
  EXPECT_EQ(w.Edit_PathDocument->Text(), "/");
  EXPECT_EQ(w.Edit_Port->Text(), "80");
  EXPECT_EQ(w.ComboBox_CallerIP->Items.size(), 7u);
  EXPECT_EQ(w.ComboBox_CallerIP->Text(), "192.168.0.1");
  EXPECT_EQ(w.ComboBox_LocalIP->Items.front(), "127.0.0.1");
  EXPECT_EQ(w.ComboBox_LocalIP->Items.size(), 8u);
  EXPECT_EQ(w.ComboBox_LocalIP->Text(), "192.168.0.1");
  EXPECT_TRUE(w.Button_Test->Default);
  EXPECT_EQ(w.Button_Test->Caption(), "Test");
  EXPECT_TRUE(w.CheckBox_ClearLinesBeforeTest->Checked());
  EXPECT_FALSE(w.Button_DebugLBTest->Visible());
  EXPECT_FALSE(w.ProgressBar1->Visible());

  w.ComboBox_Host->SetItemIndex(1);
  w.Button_Test->Click();
  const std::vector<std::string> one = w.Memo_Report->Lines.Items();
  ASSERT_GE(one.size(), 4u);
  EXPECT_EQ(one[0], "Incoming request : a.com @ 192.168.0.1:80/, Caller=192.168.0.1");
  EXPECT_EQ(one[3], "Domain=www.a.com");
  w.Button_Test->Click();
  EXPECT_EQ(w.Memo_Report->Lines.Items(), one);
  w.CheckBox_ClearLinesBeforeTest->Click();
  EXPECT_FALSE(w.CheckBox_ClearLinesBeforeTest->Checked());
  w.Button_Test->Click();
  EXPECT_EQ(w.Memo_Report->Lines.Count(), static_cast<int>(2 * one.size()));

  // A port that is not a number: the error box, and the report unchanged.
  w.Edit_Port->SetText("abc");
  w.Button_Test->Click();
  ASSERT_EQ(boxes->shown.size(), 1u);
  EXPECT_EQ(boxes->shown[0].text, "'abc' is not a valid integer value");
  EXPECT_EQ(boxes->shown[0].caption, "Vantrell Switch");
  EXPECT_EQ(w.Memo_Report->Lines.Count(), static_cast<int>(2 * one.size()));
  w.CheckBox_ClearLinesBeforeTest->Click();
  w.Button_Test->Click();
  EXPECT_EQ(boxes->shown.size(), 2u);
  EXPECT_EQ(w.Memo_Report->Lines.Count(), 0);

  w.Close();
  EXPECT_EQ(frmTestRequestProg, nullptr);
  Skip(0);
}

TEST_F(MonitoringWindows, TestWindowDebugButtons) {
  DebugMode = true;
  TDomain* d = h.AddDomain();
  d->DomainName = "lb.com";
  d->ServerCluster = AddCluster(h, "farm", {"s1", "s2"}).get();
  ShowTestRequest(console, Live());
  TfrmTestRequestProg& w = *frmTestRequestProg;
  EXPECT_TRUE(w.Button_DebugLBTest->Visible());
  EXPECT_TRUE(w.Button_DebugRemoveConnections->Visible());
  EXPECT_TRUE(w.ProgressBar1->Visible());
  EXPECT_EQ(w.Button_DebugLBTest->Caption(), "DEBUG LB TEST");
  EXPECT_EQ(w.Button_DebugRemoveConnections->Caption(), "REMOVE OLD CON.");
  w.Button_DebugLBTest->Click();
  EXPECT_EQ(w.ProgressBar1->Max, DebugLBTestRequests);
  EXPECT_EQ(w.ProgressBar1->Position(), DebugLBTestRequests - 1);
  EXPECT_GE(h.GetConnectionCount(), 1);
  ASSERT_GE(w.Memo_Report->Lines.Count(), 2);
  EXPECT_EQ(w.Memo_Report->Lines[1], "ServerCluster[0]='farm'");
  w.Button_DebugRemoveConnections->Click();
  EXPECT_EQ(w.Memo_Report->Lines[1], "ServerCluster[0]='farm'");
  EXPECT_TRUE(boxes->shown.empty());
  w.Close();
  Skip(0);
}

TEST_F(MonitoringWindows, AnEmptyConfigurationGivesAnEmptyHostList) {
  ShowTestRequest(console, [] { return nullptr; });
  EXPECT_TRUE(frmTestRequestProg->ComboBox_Host->Items.empty());
  frmTestRequestProg->Button_Test->Click();
  EXPECT_EQ(frmTestRequestProg->Memo_Report->Lines.Count(), 0);
  ShowTestRequest(console, Live());  // the window exists: no second one
  EXPECT_EQ(console->ComponentCount(), 1);
  frmTestRequestProg->Close();
  Skip(0);
}

}  // namespace
