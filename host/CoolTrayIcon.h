// One icon in the notification area: hint, popup menu, animation over an
// image list, click told apart from double click, enter and exit, balloon
// events and minimise-to-tray. Every icon hears the tray through one shared,
// reference-counted dispatcher that knows icons by id only: a message for an
// icon that was freed is ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "host/SimpleTimer.h"
#include "platform/MainLoop.h"
#include "platform/desktop/Actions.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/StdCtrls.h"
#include "platform/desktop/TrayHost.h"

class TCoolTrayIcon;

class TTrayIconHandler {
 public:
  static TTrayIconHandler* Instance();  // nullptr while no icon exists
  static int RefCount();
  // A tray message for the icon with this id (ignored for an unknown id).
  void Dispatch(uint32_t id, uint32_t message);
  // The tray came back: every visible icon adds itself again.
  void HostRestarted();

  // The tray's callback message (the first user message plus 1024).
  static constexpr uint32_t kCallbackMessage = 2048;

 private:
  friend class TCoolTrayIcon;
  static TTrayIconHandler& Acquire(ITrayHost& host);
  static void Release();
  std::map<uint32_t, TCoolTrayIcon*> icons_;  // not owned
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TCoolTrayIcon : public TComponent {
 public:
  TCoolTrayIcon(TComponent* owner, ITrayHost& host, MainLoop& loop = MainLoop::Instance());
  ~TCoolTrayIcon() override;

  // Properties.
  TImageList* IconList() const { return iconList_; }
  void SetIconList(TImageList* list);
  bool CycleIcons() const { return cycleIcons_; }
  void SetCycleIcons(bool value);
  uint32_t CycleInterval() const { return cycleInterval_; }
  void SetCycleInterval(uint32_t ms);
  bool Enabled = true;
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);  // kept to 255 characters
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool value);
  const std::string& Icon() const { return icon_; }
  void SetIcon(const std::string& picture);
  bool IconVisible() const { return iconVisible_; }
  void SetIconVisible(bool value);
  int IconIndex() const { return iconIndex_; }
  void SetIconIndex(int index);
  TPopupMenu* PopupMenu = nullptr;  // not owned
  bool LeftPopup = false;
  bool WantEnterExitEvents() const { return wantEnterExit_; }
  void SetWantEnterExitEvents(bool value);
  bool MinimizeToTray = false;

  // Events.
  std::function<void(TCoolTrayIcon&)> OnClick, OnDblClick, OnMouseEnter, OnMouseExit;
  std::function<void(TCoolTrayIcon&, TMouseButton, uint32_t shift, int x, int y)> OnMouseDown, OnMouseUp;
  std::function<void(TCoolTrayIcon&, uint32_t shift, int x, int y)> OnMouseMove;
  std::function<void(TCoolTrayIcon&, int nextIndex)> OnCycle;
  std::function<void(TCoolTrayIcon&)> OnBalloonHintClick, OnBalloonHintHide, OnBalloonHintTimeout;
  std::function<void(TCoolTrayIcon&, bool& showMainForm)> OnStartup;

  // Dispatchers (each fires its event when assigned).
  virtual void Click();
  virtual void DblClick();
  virtual void DoCycle(int nextIndex);
  virtual void MouseDown(TMouseButton button, uint32_t shift, int x, int y);
  virtual void MouseUp(TMouseButton button, uint32_t shift, int x, int y);
  virtual void MouseMove(uint32_t shift, int x, int y);
  virtual void MouseEnter();
  virtual void MouseExit();
  virtual void DoMinimizeToTray();

  virtual bool CanShowIcon() { return true; }
  virtual bool AddIcon();
  virtual bool DeleteIcon();
  virtual bool ModifyIcon();
  // The record as the tray gets it: flags 7, callback message, picture, tip.
  TNotifyIconData PrepareIconData() const;
  void PopupAtCursor();
  void HideMainForm();
  uint32_t Id() const { return id_; }

  // One tray message (the dispatcher calls this).
  void HandleMessage(uint32_t message);

 private:
  void ClickTimerProc();
  void CycleTimerProc();
  void EnterExitTimerProc();
  uint32_t Shift(uint32_t button) const;

  ITrayHost& host_;
  uint32_t id_;
  TImageList* iconList_ = nullptr;
  bool cycleIcons_ = false;
  uint32_t cycleInterval_ = 0;
  std::string hint_;
  bool showHint_ = true;
  std::string icon_;
  bool iconVisible_ = false;
  int iconIndex_ = 0;
  bool wantEnterExit_ = false;

  bool held_ = false;
  bool released_ = false;
  bool dblClicked_ = false;
  bool mouseOutside_ = true;
  TPoint lastPoint_;
  int minimizeHook_ = 0;

  std::unique_ptr<TSimpleTimer> cycleTimer_, clickTimer_, enterExitTimer_;
};
