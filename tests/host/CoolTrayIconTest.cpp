#include "host/CoolTrayIcon.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/SimpleTimer.h"
#include "platform/MessageBox.h"
#include "platform/SysUtils.h"
#include "platform/desktop/Forms.h"

namespace {

// A test loop with a settable time, an application on it, a recording tray
// and an icon whose events are traced with their time.
class Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    loop.BindToCurrentThread();
    loop.SetTimeSource([this] { return now; });
    app = std::make_unique<TApplication>(loop);
    form = new TForm(nullptr);
    icon = new TCoolTrayIcon(form, host, loop);
    icon->OnClick = [this](TCoolTrayIcon&) { Trace("click"); };
    icon->OnMouseDown = [this](TCoolTrayIcon&, TMouseButton b, uint32_t, int x, int y) {
      Trace(std::string(b == TMouseButton::mbLeft ? "ldown" : "rdown") + "@" + std::to_string(x) + "," +
            std::to_string(y));
    };
  }
  void TearDown() override { app.reset(); }

  void Trace(const std::string& what) { trace.push_back(what + "+" + std::to_string(now - start)); }
  void Send(uint32_t message) { host.SendMessage(icon->Id(), message); }
  void Advance(uint64_t ms) {
    for (uint64_t i = 0; i < ms; ++i) {
      ++now;
      loop.ProcessPending();
    }
  }

  uint64_t start = 1000;
  uint64_t now = 1000;
  MainLoop loop;
  RecordingTrayHost host;
  std::unique_ptr<TApplication> app;
  TForm* form = nullptr;
  TCoolTrayIcon* icon = nullptr;
  std::vector<std::string> trace;
};

struct ClickCase {
  const char* name;
  bool withDblClick;
  bool enabled;
  bool leftPopup;
  std::vector<uint32_t> messages;
  std::vector<std::string> expected;  // after 600 ms
  size_t popups;
};

TEST_F(Tray, MouseMessagesTable) {
  const std::vector<ClickCase> cases = {
      {"click with a double-click handler fires at +500",
       true, true, false, {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"ldown@100,200+0", "click+500"}, 0},
      {"double click fires only DblClick",
       true, true, false, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
       {"ldown@100,200+0", "dbl+0"}, 0},
      {"click without a double-click handler fires on up",
       false, true, false, {WM_LBUTTONDOWN, WM_LBUTTONUP}, {"ldown@100,200+0", "click+0"}, 0},
      {"disabled ignores everything", true, false, false, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN}, {}, 0},
      {"right down pops the menu up", false, true, false, {WM_RBUTTONDOWN, WM_RBUTTONUP}, {"rdown@100,200+0"}, 1},
      {"left popup pops up on left down", false, true, true, {WM_LBUTTONDOWN}, {"ldown@100,200+0"}, 1},
  };
  auto* menu = new TPopupMenu(form);
  menu->Items.AddItem("Item");
  for (const ClickCase& c : cases) {
    SCOPED_TRACE(c.name);
    trace.clear();
    host.popups.clear();
    start = now;
    icon->OnDblClick = c.withDblClick ? std::function<void(TCoolTrayIcon&)>([this](TCoolTrayIcon&) { Trace("dbl"); })
                                      : nullptr;
    icon->Enabled = c.enabled;
    icon->LeftPopup = c.leftPopup;
    icon->PopupMenu = menu;
    for (uint32_t m : c.messages) Send(m);
    if (c.withDblClick && c.enabled && c.messages.size() == 2) {
      Advance(499);
      EXPECT_EQ(trace.size(), 1u) << "no click before the double-click time";
    }
    Advance(600 - (now - start));
    EXPECT_EQ(trace, c.expected);
    ASSERT_EQ(host.popups.size(), c.popups);
    if (c.popups > 0) {
      EXPECT_EQ(host.popups[0].first, menu);
      EXPECT_EQ(host.popups[0].second, (TPoint{100, 200}));
      EXPECT_EQ(menu->PopupComponent, icon);
    }
  }
}

TEST_F(Tray, DoubleClickClicksTheMenusDefaultItemUnlessLeftPopup) {
  auto* menu = new TPopupMenu(form);
  int first = 0, second = 0;
  menu->Items.AddItem("first").OnClick = [&](TMenuItem&) { ++first; };
  TMenuItem& def = menu->Items.AddItem("second");
  def.OnClick = [&](TMenuItem&) { ++second; };
  icon->PopupMenu = menu;
  icon->OnDblClick = [](TCoolTrayIcon&) {};
  Send(WM_LBUTTONDBLCLK);
  EXPECT_EQ(second, 0) << "no default item";
  def.Default = true;
  Send(WM_LBUTTONDBLCLK);
  EXPECT_EQ(second, 1);
  icon->LeftPopup = true;
  Send(WM_LBUTTONDBLCLK);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(first, 0);
}

TEST_F(Tray, EnterAndExitWithinOnePoll) {
  icon->OnMouseEnter = [this](TCoolTrayIcon&) { Trace("enter"); };
  icon->OnMouseExit = [this](TCoolTrayIcon&) { Trace("exit"); };
  icon->SetWantEnterExitEvents(true);
  Send(WM_MOUSEMOVE);
  Send(WM_MOUSEMOVE);
  Advance(100);
  EXPECT_EQ(trace, (std::vector<std::string>{"enter+0"}));
  host.cursor = {300, 300};
  Advance(20);
  EXPECT_EQ(trace, (std::vector<std::string>{"enter+0", "exit+120"}));
}

TEST_F(Tray, TipRecordBytes) {
  icon->SetHint(std::string(200, 'h'));
  TNotifyIconData d = icon->PrepareIconData();
  EXPECT_EQ(d.uFlags, 7u);
  EXPECT_EQ(d.uCallbackMessage, 2048u);
  EXPECT_EQ(std::string(d.szTip.data()), std::string(127, 'h'));
  EXPECT_EQ(d.szTip[127], '\0');
  EXPECT_EQ(icon->Hint().size(), 200u);
  icon->SetHint(std::string(300, 'x'));
  EXPECT_EQ(icon->Hint().size(), 255u);

  icon->SetShowHint(false);
  d = icon->PrepareIconData();
  for (char c : d.szTip) ASSERT_EQ(c, '\0');
  icon->SetShowHint(true);
  icon->SetHint("");
  d = icon->PrepareIconData();
  for (char c : d.szTip) ASSERT_EQ(c, '\0');
  EXPECT_EQ(host.calls.back().op, ITrayHost::TOp::Modify);
}

TEST_F(Tray, IndexCyclingAndImagesOutsideTheList) {
  auto* images = new TImageList(form);
  images->Images = {"i0", "i1", "i2"};
  icon->SetIconList(images);
  icon->SetIconIndex(7);
  EXPECT_EQ(icon->IconIndex(), 2);
  EXPECT_EQ(icon->Icon(), "i2");

  std::vector<int> reported;
  std::vector<std::string> shown;
  icon->OnCycle = [&](TCoolTrayIcon& i, int next) {
    reported.push_back(next);
    shown.push_back(i.Icon());
  };
  icon->SetCycleInterval(100);
  icon->SetCycleIcons(true);
  Advance(400);
  EXPECT_EQ(shown, (std::vector<std::string>{"i0", "i1", "i2", "i0"}));
  EXPECT_EQ(reported, (std::vector<int>{1, 2, 3, 1}));
  icon->SetCycleIcons(false);
  Advance(300);
  EXPECT_EQ(reported.size(), 4u);

  // A negative index is kept, as stated, but reads no picture.
  icon->SetIconIndex(-3);
  EXPECT_EQ(icon->IconIndex(), -3);
  EXPECT_EQ(icon->Icon(), "");
  images->Images.clear();
  icon->SetIconIndex(0);
  EXPECT_EQ(icon->Icon(), "");
  icon->SetCycleIcons(true);
  Advance(300);
  EXPECT_EQ(icon->Icon(), "");
  icon->SetIconList(nullptr);
  EXPECT_EQ(icon->IconIndex(), 0);
}

TEST_F(Tray, VisibilityHostRestartMinimiseAndFree) {
  icon->SetIconVisible(true);
  ASSERT_EQ(host.calls.back().op, ITrayHost::TOp::Add);
  const size_t before = host.calls.size();
  host.HostRestarted();
  ASSERT_EQ(host.calls.size(), before + 1);
  EXPECT_EQ(host.calls.back().op, ITrayHost::TOp::Add);
  icon->SetIconVisible(false);
  EXPECT_EQ(host.calls.back().op, ITrayHost::TOp::Delete);
  host.HostRestarted();
  EXPECT_EQ(host.calls.back().op, ITrayHost::TOp::Delete);

  app->MainForm = form;
  form->Show();
  app->Minimize();
  EXPECT_TRUE(form->Visible()) << "minimise-to-tray is off";
  icon->MinimizeToTray = true;
  app->Minimize();
  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(icon->IconVisible());

  // Freed: the icon leaves the tray; its messages and pending ticks are ignored.
  icon->OnDblClick = [this](TCoolTrayIcon&) { Trace("dbl"); };
  const uint32_t id = icon->Id();
  Send(WM_LBUTTONDOWN);
  Send(WM_LBUTTONUP);
  icon->Free();
  EXPECT_EQ(host.calls.back().op, ITrayHost::TOp::Delete);
  EXPECT_EQ(TTrayIconHandler::Instance(), nullptr);
  host.SendMessage(id, WM_LBUTTONDOWN);
  Advance(600);
  EXPECT_EQ(trace, (std::vector<std::string>{"ldown@100,200+0"}));
}

TEST(SimpleTimer, SharedHandlerRestartSwallowedErrorAndATickAfterFree) {
  MainLoop loop;
  uint64_t now = 0;
  loop.SetTimeSource([&] { return now; });
  auto step = [&](uint64_t ms) {
    for (uint64_t i = 0; i < ms; ++i) {
      ++now;
      loop.ProcessPending();
    }
  };
  int ticks = 0;
  EXPECT_EQ(TSimpleTimerHandler::Instance(), nullptr);
  {
    TSimpleTimer a(&ticks, [](void* d) { ++*static_cast<int*>(d); }, loop);
    auto b = std::make_unique<TSimpleTimer>(nullptr, [](void*) { throw Exception("swallowed"); }, loop);
    EXPECT_EQ(TSimpleTimerHandler::RefCount(), 2);
    EXPECT_TRUE(b->Start(10));
    step(30);
    b.reset();
    EXPECT_EQ(TSimpleTimerHandler::RefCount(), 1);

    EXPECT_TRUE(a.Start(100));
    step(60);
    EXPECT_TRUE(a.Start(100));  // restarts the interval
    step(60);
    EXPECT_EQ(ticks, 0);
    step(40);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(a.Stop());
    EXPECT_FALSE(a.Stop());
    a.Start(0);  // the loop's minimum
    step(10);
    EXPECT_EQ(ticks, 2);
    // A tick that is already due when the timer goes is dropped.
    now += 10;
  }
  EXPECT_EQ(TSimpleTimerHandler::Instance(), nullptr);
  loop.ProcessPending();
  EXPECT_EQ(ticks, 2);
}

}  // namespace
