#include "host/CoolTrayIcon.h"

#include <algorithm>
#include <cstring>

namespace {

std::unique_ptr<TTrayIconHandler> handler;
int refCount = 0;
uint32_t nextId = 1;

constexpr uint32_t kNifMessage = 1, kNifIcon = 2, kNifTip = 4;
constexpr size_t kHintMax = 255;
constexpr uint32_t kEnterExitPollMs = 20;

}  // namespace

// ------------------------------------------------------------ handler

TTrayIconHandler* TTrayIconHandler::Instance() { return handler.get(); }
int TTrayIconHandler::RefCount() { return refCount; }

TTrayIconHandler& TTrayIconHandler::Acquire(ITrayHost& host) {
  if (!handler) handler.reset(new TTrayIconHandler());
  ++refCount;
  // The host calls back through the handler that exists then, if any.
  host.SetListener([](uint32_t id, uint32_t message) {
    if (TTrayIconHandler* h = Instance()) h->Dispatch(id, message);
  });
  host.SetRestartListener([] {
    if (TTrayIconHandler* h = Instance()) h->HostRestarted();
  });
  return *handler;
}

void TTrayIconHandler::Release() {
  if (--refCount == 0) handler.reset();
}

void TTrayIconHandler::Dispatch(uint32_t id, uint32_t message) {
  const auto it = icons_.find(id);
  if (it == icons_.end()) return;
  it->second->HandleMessage(message);
}

void TTrayIconHandler::HostRestarted() {
  const auto icons = icons_;
  for (const auto& [id, icon] : icons)
    if (icons_.count(id) != 0 && icon->IconVisible()) icon->AddIcon();
}

// ------------------------------------------------------------ icon

TCoolTrayIcon::TCoolTrayIcon(TComponent* owner, ITrayHost& host, MainLoop& loop)
    : TComponent(owner), host_(host), id_(nextId++) {
  TTrayIconHandler::Acquire(host_).icons_[id_] = this;
  cycleTimer_ = std::make_unique<TSimpleTimer>(this, [](void* self) { static_cast<TCoolTrayIcon*>(self)->CycleTimerProc(); }, loop);
  clickTimer_ = std::make_unique<TSimpleTimer>(this, [](void* self) { static_cast<TCoolTrayIcon*>(self)->ClickTimerProc(); }, loop);
  enterExitTimer_ = std::make_unique<TSimpleTimer>(
      this, [](void* self) { static_cast<TCoolTrayIcon*>(self)->EnterExitTimerProc(); }, loop);
  if (Application != nullptr)
    minimizeHook_ = Application->HookMinimize([this] {
      if (MinimizeToTray) DoMinimizeToTray();
    });
}

TCoolTrayIcon::~TCoolTrayIcon() {
  if (iconVisible_) host_.NotifyIcon(ITrayHost::TOp::Delete, PrepareIconData());
  cycleTimer_.reset();
  clickTimer_.reset();
  enterExitTimer_.reset();
  if (Application != nullptr && minimizeHook_ != 0) Application->UnhookMinimize(minimizeHook_);
  if (TTrayIconHandler* h = TTrayIconHandler::Instance()) h->icons_.erase(id_);
  TTrayIconHandler::Release();
}

void TCoolTrayIcon::SetIconList(TImageList* list) {
  iconList_ = list;
  SetIconIndex(0);
}

void TCoolTrayIcon::SetCycleIcons(bool value) {
  cycleIcons_ = value;
  if (value) {
    SetIconIndex(0);
    cycleTimer_->Start(cycleInterval_);
  } else {
    cycleTimer_->Stop();
  }
}

void TCoolTrayIcon::SetCycleInterval(uint32_t ms) {
  cycleInterval_ = ms;
  SetCycleIcons(cycleIcons_);
}

void TCoolTrayIcon::SetHint(const std::string& hint) {
  hint_ = hint.substr(0, kHintMax);
  ModifyIcon();
}

void TCoolTrayIcon::SetShowHint(bool value) {
  showHint_ = value;
  ModifyIcon();
}

void TCoolTrayIcon::SetIcon(const std::string& picture) {
  icon_ = picture;
  ModifyIcon();
}

void TCoolTrayIcon::SetIconVisible(bool value) {
  if (value) {
    AddIcon();
  } else {
    DeleteIcon();
  }
}

void TCoolTrayIcon::SetIconIndex(int index) {
  if (iconList_ != nullptr) {
    // No lower bound, as stated; the picture read below is bounds-checked.
    iconIndex_ = std::min(index, iconList_->Count() - 1);
    icon_ = iconList_->Get(iconIndex_);
  } else {
    iconIndex_ = 0;
  }
  ModifyIcon();
}

void TCoolTrayIcon::SetWantEnterExitEvents(bool value) {
  wantEnterExit_ = value;
  if (value) {
    enterExitTimer_->Start(kEnterExitPollMs);
  } else {
    enterExitTimer_->Stop();
  }
}

TNotifyIconData TCoolTrayIcon::PrepareIconData() const {
  TNotifyIconData d;
  d.uID = id_;
  d.uFlags = kNifMessage | kNifIcon | kNifTip;
  d.uCallbackMessage = TTrayIconHandler::kCallbackMessage;
  d.hIcon = icon_;
  if (showHint_ && !hint_.empty()) {
    const size_t n = std::min(hint_.size(), d.szTip.size() - 1);
    std::memcpy(d.szTip.data(), hint_.data(), n);
  }
  return d;
}

bool TCoolTrayIcon::AddIcon() {
  iconVisible_ = true;
  return host_.NotifyIcon(ITrayHost::TOp::Add, PrepareIconData());
}

bool TCoolTrayIcon::DeleteIcon() {
  iconVisible_ = false;
  return host_.NotifyIcon(ITrayHost::TOp::Delete, PrepareIconData());
}

bool TCoolTrayIcon::ModifyIcon() { return host_.NotifyIcon(ITrayHost::TOp::Modify, PrepareIconData()); }

void TCoolTrayIcon::Click() {
  if (OnClick) DispatchEvent([this] { OnClick(*this); });
}
void TCoolTrayIcon::DblClick() {
  if (OnDblClick) DispatchEvent([this] { OnDblClick(*this); });
}
void TCoolTrayIcon::DoCycle(int nextIndex) {
  if (OnCycle) DispatchEvent([&] { OnCycle(*this, nextIndex); });
}
void TCoolTrayIcon::MouseDown(TMouseButton button, uint32_t shift, int x, int y) {
  if (OnMouseDown) DispatchEvent([&] { OnMouseDown(*this, button, shift, x, y); });
}
void TCoolTrayIcon::MouseUp(TMouseButton button, uint32_t shift, int x, int y) {
  if (OnMouseUp) DispatchEvent([&] { OnMouseUp(*this, button, shift, x, y); });
}
void TCoolTrayIcon::MouseMove(uint32_t shift, int x, int y) {
  if (OnMouseMove) DispatchEvent([&] { OnMouseMove(*this, shift, x, y); });
}
void TCoolTrayIcon::MouseEnter() {
  if (OnMouseEnter) DispatchEvent([this] { OnMouseEnter(*this); });
}
void TCoolTrayIcon::MouseExit() {
  if (OnMouseExit) DispatchEvent([this] { OnMouseExit(*this); });
}

void TCoolTrayIcon::DoMinimizeToTray() {
  HideMainForm();
  SetIconVisible(true);
}

void TCoolTrayIcon::HideMainForm() {
  if (Application == nullptr || Application->MainForm == nullptr) return;
  if (dynamic_cast<TWinControl*>(Owner()) == nullptr) return;
  Application->MainForm->Hide();
}

void TCoolTrayIcon::PopupAtCursor() {
  TPoint p;
  if (PopupMenu == nullptr || !PopupMenu->AutoPopup || !host_.GetCursorPos(p)) return;
  if (Application != nullptr) {
    Application->Restore();
    Application->ProcessMessages();
  }
  PopupMenu->PopupComponent = this;
  host_.TrackPopupMenu(*PopupMenu, p);
}

uint32_t TCoolTrayIcon::Shift(uint32_t button) const {
  return (host_.KeyModifiers() & (ssShift | ssAlt | ssCtrl)) | button;
}

void TCoolTrayIcon::HandleMessage(uint32_t message) {
  if (!Enabled) return;
  TPoint p;
  host_.GetCursorPos(p);
  switch (message) {
    case WM_MOUSEMOVE:
      if (wantEnterExit_ && mouseOutside_) {
        mouseOutside_ = false;
        MouseEnter();
      }
      MouseMove(Shift(0), p.x, p.y);
      lastPoint_ = p;
      break;
    case WM_LBUTTONDOWN:
      if (OnDblClick) clickTimer_->Start(host_.DoubleClickTime());
      MouseDown(TMouseButton::mbLeft, Shift(ssLeft), p.x, p.y);
      held_ = true;
      if (LeftPopup) PopupAtCursor();
      break;
    case WM_LBUTTONUP:
      if (held_) released_ = true;
      if (held_ && !clickTimer_->Active()) {
        held_ = false;
        released_ = false;
        Click();
      }
      held_ = false;
      MouseUp(TMouseButton::mbLeft, Shift(ssLeft), p.x, p.y);
      break;
    case WM_LBUTTONDBLCLK:
      released_ = false;
      dblClicked_ = true;
      DblClick();
      if (PopupMenu != nullptr && PopupMenu->AutoPopup && !LeftPopup) {
        for (int i = 0; i < PopupMenu->Items.Count(); ++i) {
          TMenuItem& item = PopupMenu->Items.Item(i);
          if (!item.Default) continue;
          item.Click();
          break;
        }
      }
      break;
    case WM_RBUTTONDOWN:
      MouseDown(TMouseButton::mbRight, Shift(ssRight), p.x, p.y);
      PopupAtCursor();
      break;
    case WM_RBUTTONUP: MouseUp(TMouseButton::mbRight, Shift(ssRight), p.x, p.y); break;
    case WM_MBUTTONDOWN: MouseDown(TMouseButton::mbMiddle, Shift(ssMiddle), p.x, p.y); break;
    case WM_MBUTTONUP: MouseUp(TMouseButton::mbMiddle, Shift(ssMiddle), p.x, p.y); break;
    case NIN_BALLOONHIDE:
      if (OnBalloonHintHide) DispatchEvent([this] { OnBalloonHintHide(*this); });
      break;
    case NIN_BALLOONTIMEOUT:
      if (OnBalloonHintTimeout) DispatchEvent([this] { OnBalloonHintTimeout(*this); });
      break;
    case NIN_BALLOONUSERCLICK:
      if (OnBalloonHintClick) DispatchEvent([this] { OnBalloonHintClick(*this); });
      break;
    default: break;
  }
}

void TCoolTrayIcon::ClickTimerProc() {
  clickTimer_->Stop();
  if (!dblClicked_ && released_) {
    released_ = false;
    Click();
  }
  dblClicked_ = false;
}

void TCoolTrayIcon::CycleTimerProc() {
  if (iconList_ != nullptr) {
    icon_ = iconList_->Get(iconIndex_);
    ModifyIcon();
    DoCycle(iconIndex_ < iconList_->Count() ? iconIndex_ + 1 : 0);
    iconIndex_ = iconIndex_ >= iconList_->Count() - 1 ? 0 : iconIndex_ + 1;
  }
}

void TCoolTrayIcon::EnterExitTimerProc() {
  if (mouseOutside_) return;
  TPoint p;
  if (host_.GetCursorPos(p) && p == lastPoint_) return;
  mouseOutside_ = true;
  MouseExit();
}
