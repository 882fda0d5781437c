// The notification area: the icons the program adds there, the mouse
// messages it sends back and the few system values the tray icon asks for.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TPopupMenu;

// Mouse and balloon messages as the tray sends them.
enum TTrayMessage : uint32_t {
  WM_MOUSEMOVE = 0x200,
  WM_LBUTTONDOWN = 0x201,
  WM_LBUTTONUP = 0x202,
  WM_LBUTTONDBLCLK = 0x203,
  WM_RBUTTONDOWN = 0x204,
  WM_RBUTTONUP = 0x205,
  WM_MBUTTONDOWN = 0x207,
  WM_MBUTTONUP = 0x208,
  NIN_BALLOONHIDE = 0x403,
  NIN_BALLOONTIMEOUT = 0x404,
  NIN_BALLOONUSERCLICK = 0x405,
};

// What an icon shows: flags, callback message, picture and the tip as the
// tray keeps it (127 bytes and a NUL; all zero when there is no tip).
struct TNotifyIconData {
  uint32_t uID = 0;
  uint32_t uFlags = 0;
  uint32_t uCallbackMessage = 0;
  std::string hIcon;  // the picture's name; "" for none
  std::array<char, 128> szTip{};
  std::string Tip() const { return std::string(szTip.data()); }
};

struct TPoint {
  int x = 0;
  int y = 0;
  bool operator==(const TPoint&) const = default;
};

enum TShiftFlag : uint32_t { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };

class ITrayHost {
 public:
  virtual ~ITrayHost() = default;
  enum class TOp { Add, Modify, Delete };
  virtual bool NotifyIcon(TOp op, const TNotifyIconData& data) = 0;
  // False when the cursor position is not known.
  virtual bool GetCursorPos(TPoint& p) = 0;
  virtual uint32_t KeyModifiers() { return 0; }
  virtual uint32_t DoubleClickTime() { return 500; }
  // Shows Menu at P (the item is chosen later).
  virtual void TrackPopupMenu(TPopupMenu& menu, TPoint p) = 0;

  // Messages for an icon go to the listener (one per host; the tray handler).
  using TListener = std::function<void(uint32_t id, uint32_t message)>;
  void SetListener(TListener l) { listener_ = std::move(l); }
  // The tray came back (its shell restarted): visible icons add themselves again.
  using TRestartListener = std::function<void()>;
  void SetRestartListener(TRestartListener l) { restart_ = std::move(l); }
  void SendMessage(uint32_t id, uint32_t message) {
    if (listener_) listener_(id, message);
  }
  void HostRestarted() {
    if (restart_) restart_();
  }

 private:
  TListener listener_;
  TRestartListener restart_;
};

// Records every call; the cursor is where the test puts it.
class RecordingTrayHost : public ITrayHost {
 public:
  struct Call {
    TOp op;
    TNotifyIconData data;
  };
  bool NotifyIcon(TOp op, const TNotifyIconData& data) override {
    calls.push_back({op, data});
    return succeed;
  }
  bool GetCursorPos(TPoint& p) override {
    p = cursor;
    return cursorKnown;
  }
  uint32_t KeyModifiers() override { return modifiers; }
  void TrackPopupMenu(TPopupMenu& menu, TPoint p) override { popups.push_back({&menu, p}); }

  std::vector<Call> calls;
  std::vector<std::pair<TPopupMenu*, TPoint>> popups;
  TPoint cursor{100, 200};
  bool cursorKnown = true;
  bool succeed = true;
  uint32_t modifiers = 0;
};

// The tray the process shows its icons in; nullptr while there is none.
ITrayHost* CurrentTrayHost();
void SetCurrentTrayHost(ITrayHost* host);
