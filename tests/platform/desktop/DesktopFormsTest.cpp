#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/MessageBox.h"
#include "platform/SysUtils.h"
#include "platform/desktop/Actions.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/HeadlessRenderer.h"
#include "platform/desktop/StdCtrls.h"
#include "platform/desktop/Timer.h"

namespace {

// A loop of the test's own with a settable time, an application on it and a
// recording message boxer.
class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.BindToCurrentThread();
    loop.SetTimeSource([this] { return now; });
    auto rec = std::make_unique<RecordingMessageBoxer>();
    boxes = rec.get();
    InstallMessageBoxer(std::move(rec));
    app = std::make_unique<TApplication>(loop);
    app->Title = "Test App";
  }
  void TearDown() override {
    app.reset();
    InstallMessageBoxer(nullptr);
  }
  void Advance(uint64_t ms) {
    now += ms;
    loop.ProcessPending();
  }

  uint64_t now = 1000;
  MainLoop loop;
  RecordingMessageBoxer* boxes = nullptr;
  std::unique_ptr<TApplication> app;
};

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>& trace, std::string name) : TComponent(owner), trace_(trace) {
    Name = std::move(name);
  }
  ~Probe() override { trace_.push_back("free " + Name); }

 private:
  std::vector<std::string>& trace_;
};

TEST_F(Desktop, OwnerFreesItsComponentsLastFirstAndAFreedOneLeavesItsOwner) {
  std::vector<std::string> trace;
  auto* form = new TForm(nullptr);
  new Probe(form, trace, "a");
  auto* b = new Probe(form, trace, "b");
  new Probe(form, trace, "c");
  b->Free();
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->FindComponent("C"), form->Components(1));
  form->Free();
  EXPECT_EQ(trace, (std::vector<std::string>{"free b", "free c", "free a"}));
  EXPECT_TRUE(app->Forms().empty());
}

// A form whose constructor raises after its children were made.
class RaisingForm : public TForm {
 public:
  RaisingForm(std::vector<std::string>& trace) : TForm(nullptr) {
    new Probe(this, trace, "child");
    throw Exception("creation failed");
  }
};

TEST_F(Desktop, AComponentWhoseConstructorRaisesLeavesItsOwner) {
  std::vector<std::string> trace;
  EXPECT_THROW(new RaisingForm(trace), Exception);
  EXPECT_EQ(trace, std::vector<std::string>{"free child"});
  EXPECT_EQ(app->ComponentCount(), 0);
  app.reset();  // nothing is freed twice
}

TEST_F(Desktop, FormEventsAndCloseActions) {
  std::string trace;
  auto* main = new TForm(nullptr);
  auto* other = new TForm(main);
  app->MainForm = main;
  other->OnShow = [&](TForm&) { trace += "show;"; };
  other->OnHide = [&](TForm&) { trace += "hide;"; };
  bool allow = false;
  other->OnCloseQuery = [&](TForm&, bool& can) {
    trace += "query;";
    can = allow;
  };
  TCloseAction next = TCloseAction::caHide;
  other->OnClose = [&](TForm&, TCloseAction& a) {
    trace += "close;";
    a = next;
  };
  other->Show();
  other->Show();
  EXPECT_EQ(app->ActiveForm(), other);
  other->Close();
  EXPECT_TRUE(other->Visible());
  allow = true;
  other->Close();
  EXPECT_FALSE(other->Visible());
  EXPECT_EQ(trace, "show;query;query;close;hide;");

  // caFree: hidden now, freed once the current event is over.
  other->Show();
  next = TCloseAction::caFree;
  other->Close();
  EXPECT_EQ(main->ComponentCount(), 1);
  loop.ProcessPending();
  EXPECT_EQ(main->ComponentCount(), 0);
  EXPECT_FALSE(app->Terminated());

  main->Close();
  EXPECT_TRUE(app->Terminated());
  EXPECT_TRUE(loop.Quitting());
}

TEST_F(Desktop, AnEventThatRaisesShowsAnErrorBoxAndTheProgramGoesOn) {
  auto* form = new TForm(nullptr);
  auto* button = new TButton(form, form);
  int clicks = 0;
  button->OnClick = [&](TControl&) {
    ++clicks;
    throw EConvertError("'abc' is not a valid integer value");
  };
  button->Click();
  button->Click();
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(boxes->shown.size(), 2u);
  EXPECT_EQ(boxes->shown[0].caption, "Test App");
  EXPECT_EQ(boxes->shown[0].text, "'abc' is not a valid integer value");
  EXPECT_EQ(boxes->shown[0].type, TMsgDlgType::mtError);

  button->SetEnabled(false);
  button->Click();
  EXPECT_EQ(clicks, 2);
}

TEST_F(Desktop, TimersRunOnTheLoopHandedInAndSurviveARaisingHandler) {
  auto* form = new TForm(nullptr);
  auto* timer = new TTimer(form, loop);
  timer->SetInterval(250);
  int ticks = 0;
  timer->OnTimer = [&](TTimer&) {
    if (++ticks == 2) throw Exception("tick failed");
  };
  Advance(249);
  EXPECT_EQ(ticks, 0);
  Advance(1);
  EXPECT_EQ(ticks, 1);
  Advance(250);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(boxes->shown.size(), 1u);
  Advance(250);
  EXPECT_EQ(ticks, 3);
  timer->SetEnabled(false);
  Advance(1000);
  EXPECT_EQ(ticks, 3);
  timer->SetEnabled(true);
  timer->Free();
  Advance(1000);
  EXPECT_EQ(ticks, 3);
}

TEST_F(Desktop, ActionsDriveMenusToolBarAndShortcuts) {
  auto* form = new TForm(nullptr);
  auto* actions = new TActionList(form);
  std::string trace;
  TAction* start = actions->Add("Action_Start");
  start->Caption = "&Start server";
  start->OnExecute = [&](TAction&) { trace += "start;"; };
  TAction* check = actions->Add("Action_Check");
  check->Caption = "Show &Events";
  check->AutoCheck = true;
  check->ShortCut = CtrlKey('e');
  check->OnExecute = [&](TAction& a) { trace += a.Checked() ? "on;" : "off;"; };

  auto* menu = new TMainMenu(form);
  TMenuItem& server = menu->Items.AddItem("&Server");
  server.AddActions(*actions, {"Action_Start", "-", "Action_Check"});
  EXPECT_THROW(server.AddActions(*actions, {"Action_Missing"}), EAssertionFailed);
  ASSERT_EQ(server.Count(), 3);
  EXPECT_TRUE(server.Item(1).IsSeparator());
  EXPECT_EQ(StripHotkey(server.Item(0).Caption()), "Start server");
  EXPECT_EQ(HotkeyOf(server.Item(2).Caption()), 'E');
  EXPECT_EQ(ShortCutToText(check->ShortCut), "Ctrl+E");

  server.Item(0).Click();
  actions->FindShortCut(CtrlKey('E'))->Execute();
  server.Item(2).Click();
  start->SetEnabled(false);
  EXPECT_FALSE(server.Item(0).Enabled());
  server.Item(0).Click();
  EXPECT_EQ(trace, "start;on;off;");

  auto* bar = new TToolBar(form, form);
  bar->AddActions(*actions, {"Action_Start", "-"});
  EXPECT_EQ(bar->Buttons, (std::vector<TAction*>{start, nullptr}));
}

TEST_F(Desktop, ControlsKeepTheirValuesAndTheHeadlessRendererWritesVisibleChanges) {
  std::FILE* out = std::tmpfile();
  THeadlessRenderer renderer(out);
  app->SetRenderer(&renderer);
  auto* form = new TForm(nullptr);
  auto* memo = new TMemo(form, form);
  memo->Lines.Add("vt:one");
  memo->Lines.BeginUpdate();
  memo->Lines.Delete(0);
  memo->Lines.EndUpdate();
  auto* status = new TStatusBar(form, form);
  status->AddPanel(100);
  status->SetPanelText(0, "Server : Active");
  status->SetPanelText(0, "Server : Active");
  TNotifyIconData icon;
  icon.hIcon = "12";
  std::snprintf(icon.szTip.data(), icon.szTip.size(), "%s", "Tip");
  renderer.NotifyIcon(ITrayHost::TOp::Add, icon);
  renderer.NotifyIcon(ITrayHost::TOp::Modify, icon);
  renderer.NotifyIcon(ITrayHost::TOp::Delete, icon);

  auto* list = new TListView(form, form);
  for (int i = 0; i < 3; ++i) list->Add().Caption = std::to_string(i);
  list->SetItemIndex(2);
  list->Delete(0);
  EXPECT_EQ(list->ItemIndex(), 1);
  list->Delete(1);
  EXPECT_EQ(list->ItemIndex(), -1);

  auto* combo = new TComboBox(form, form);
  combo->Items = {"a", "b"};
  combo->SetItemIndex(1);
  EXPECT_EQ(combo->Text(), "b");
  combo->SetText("a");
  EXPECT_EQ(combo->ItemIndex(), 0);
  combo->SetItemIndex(5);
  EXPECT_EQ(combo->ItemIndex(), -1);

  auto* images = new TImageList(form);
  images->Images = {"x"};
  EXPECT_EQ(images->Get(0), "x");
  EXPECT_EQ(images->Get(-1), "");
  EXPECT_EQ(images->Get(1), "");

  app->SetRenderer(nullptr);
  std::rewind(out);
  std::string text;
  char buf[256];
  while (std::fgets(buf, sizeof buf, out)) text += buf;
  std::fclose(out);
  EXPECT_EQ(text, "vt:one\n[status 0] Server : Active\n[tray] icon=12 tip=\"Tip\"\n[tray] removed\n");
}

// A box that waits lets other boxes through: the terminal's boxes pump the
// loop, whose tasks may ask again.
class NestingBoxer : public MessageBoxer {
 public:
  TMsgResult Show(const std::string&, const std::string& text, TMsgDlgType, TMsgButtons, TMsgResult d) override {
    texts.push_back(text);
    if (text == "outer") MessageDlg("", "inner");
    return d;
  }
  std::vector<std::string> texts;
};

TEST(MessageDlgNesting, ABoxThatWaitsHoldsNoLock) {
  auto boxer = std::make_unique<NestingBoxer>();
  NestingBoxer* b = boxer.get();
  InstallMessageBoxer(std::move(boxer));
  MessageDlg("", "outer");
  EXPECT_EQ(b->texts, (std::vector<std::string>{"outer", "inner"}));
  InstallMessageBoxer(nullptr);
}

}  // namespace
