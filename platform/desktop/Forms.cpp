#include "platform/desktop/Forms.h"

#include <algorithm>
#include <exception>

#include "platform/MessageBox.h"
#include "platform/SysUtils.h"
#include "platform/desktop/Renderer.h"

TApplication* Application = nullptr;

namespace {

TDesktopRenderer* TheRenderer() { return Application != nullptr ? Application->Renderer() : nullptr; }

}  // namespace

void DispatchEvent(const std::function<void()>& fn) {
  if (!fn) return;
  try {
    fn();
  } catch (const std::exception& e) {
    if (Application != nullptr) {
      Application->ShowException(e);
    } else {
      MessageDlg("", e.what(), TMsgDlgType::mtError);
    }
  } catch (...) {
    MessageDlg("", "Unknown exception", TMsgDlgType::mtError);
  }
}

// ------------------------------------------------------------ TComponent

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.emplace_back(this);
}

TComponent::~TComponent() {
  // Destroyed without its owner knowing (a constructor further down raised):
  // it leaves the owner's list rather than be destroyed twice.
  if (owner_ != nullptr) {
    auto& list = owner_->components_;
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (it->get() != this) continue;
      it->release();
      list.erase(it);
      break;
    }
    owner_ = nullptr;
  }
  // Last created first; each leaves the list before it is destroyed.
  while (!components_.empty()) {
    std::unique_ptr<TComponent> last = std::move(components_.back());
    components_.pop_back();
    last->owner_ = nullptr;
    last.reset();
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (const auto& c : components_)
    if (SameText(c->Name, name)) return c.get();
  return nullptr;
}

void TComponent::Free() {
  if (owner_ == nullptr) {
    delete this;
    return;
  }
  auto& list = owner_->components_;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->get() != this) continue;
    std::unique_ptr<TComponent> self = std::move(*it);
    list.erase(it);
    owner_ = nullptr;
    return;  // self is destroyed here
  }
}

// ------------------------------------------------------------ TControl

TControl::TControl(TComponent* owner, TWinControl* parent) : TComponent(owner), parent_(parent) {
  if (parent_ != nullptr) parent_->controls_.push_back(this);
}

TControl::~TControl() {
  if (parent_ != nullptr) {
    auto& list = parent_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  if (TDesktopRenderer* r = TheRenderer()) r->ControlFreed(*this);
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_ != nullptr) c = c->parent_;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetCaption(const std::string& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  Changed();
}

void TControl::Click() {
  if (!enabled_ || !OnClick) return;
  DispatchEvent([&] { OnClick(*this); });
}

void TControl::Changed() {
  if (TDesktopRenderer* r = TheRenderer()) r->Invalidate();
}

TWinControl::~TWinControl() {
  // Children the owner frees later no longer point here.
  for (TControl* c : controls_) c->parent_ = nullptr;
}

// ------------------------------------------------------------ TForm

TForm::TForm(TComponent* owner) : TWinControl(owner != nullptr ? owner : Application, nullptr) {
  SetVisible(false);
  if (Application != nullptr) Application->forms_.push_back(this);
}

TForm::~TForm() {
  *alive_ = false;
  if (Application != nullptr) {
    auto drop = [this](std::vector<TForm*>& v) { v.erase(std::remove(v.begin(), v.end(), this), v.end()); };
    drop(Application->forms_);
    drop(Application->shownOrder_);
    if (Application->MainForm == this) Application->MainForm = nullptr;
    if (TDesktopRenderer* r = Application->Renderer()) r->FormVisibilityChanged(*this);
  }
}

void TForm::Show() {
  if (Application != nullptr) Application->FormShown(*this);
  if (Visible()) return;
  SetVisible(true);
  if (TDesktopRenderer* r = TheRenderer()) r->FormVisibilityChanged(*this);
  if (OnShow) DispatchEvent([&] { OnShow(*this); });
}

void TForm::Hide() {
  if (!Visible()) return;
  SetVisible(false);
  if (TDesktopRenderer* r = TheRenderer()) r->FormVisibilityChanged(*this);
  if (OnHide) DispatchEvent([&] { OnHide(*this); });
}

void TForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) DispatchEvent([&] { OnCloseQuery(*this, canClose); });
  if (!canClose) return;
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) DispatchEvent([&] { OnClose(*this, action); });
  if (action == TCloseAction::caNone) return;
  if (Application != nullptr && Application->MainForm == this) {
    Application->Terminate();
    return;
  }
  switch (action) {
    case TCloseAction::caHide: Hide(); break;
    case TCloseAction::caMinimize:
      if (Application != nullptr) Application->Minimize();
      break;
    case TCloseAction::caFree: Release(); break;
    case TCloseAction::caNone: break;
  }
}

void TForm::Release() {
  Hide();
  if (Application == nullptr) return;
  PostIfAlive([this] { Free(); });
}

void TForm::BringToFront() {
  if (Application != nullptr && Visible()) Application->FormShown(*this);
}

void TForm::Repaint() {
  if (TDesktopRenderer* r = TheRenderer()) r->Repaint();
}

bool TForm::Active() const { return Application != nullptr && Application->ActiveForm() == this; }

void TForm::Center() {
  if (Application == nullptr) return;
  Left = (Application->Screen.Width - Width) / 2;
  Top = (Application->Screen.Height - Height) / 2;
}

void TForm::PostIfAlive(std::function<void()> fn) {
  if (Application == nullptr) return;
  Application->Loop().Post([alive = alive_, fn = std::move(fn)] {
    if (*alive) DispatchEvent(fn);
  });
}

// ------------------------------------------------------------ TApplication

TApplication::TApplication(MainLoop& loop) : TComponent(nullptr), loop_(loop) { Application = this; }

TApplication::~TApplication() {
  // The forms go first, while Application still answers their destructors.
  while (ComponentCount() > 0) Components(ComponentCount() - 1)->Free();
  if (Application == this) Application = nullptr;
}

void TApplication::SetRenderer(TDesktopRenderer* renderer) {
  renderer_ = renderer;
  if (renderer_ != nullptr) renderer_->Invalidate();
}

TForm* TApplication::ActiveForm() const {
  for (auto it = shownOrder_.rbegin(); it != shownOrder_.rend(); ++it)
    if ((*it)->Visible()) return *it;
  return nullptr;
}

void TApplication::FormShown(TForm& form) {
  shownOrder_.erase(std::remove(shownOrder_.begin(), shownOrder_.end(), &form), shownOrder_.end());
  shownOrder_.push_back(&form);
  if (renderer_ != nullptr) renderer_->Invalidate();
}

void TApplication::Run() {
  if (terminated_) return;
  loop_.Run();
}

void TApplication::Terminate() {
  terminated_ = true;
  loop_.Quit();
}

void TApplication::ProcessMessages() { loop_.ProcessPending(); }

int TApplication::HookMinimize(std::function<void()> fn) {
  minimizeHooks_.emplace_back(nextHook_, std::move(fn));
  return nextHook_++;
}

void TApplication::UnhookMinimize(int handle) {
  minimizeHooks_.erase(std::remove_if(minimizeHooks_.begin(), minimizeHooks_.end(),
                                      [&](const auto& h) { return h.first == handle; }),
                       minimizeHooks_.end());
}

void TApplication::Minimize() {
  minimized_ = true;
  const auto hooks = minimizeHooks_;
  for (const auto& h : hooks) DispatchEvent(h.second);
}

void TApplication::ShowException(const std::exception& e) {
  MessageDlg(Title, e.what(), TMsgDlgType::mtError, TMsgButtons::mbOK);
}
