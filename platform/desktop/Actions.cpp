#include "platform/desktop/Actions.h"

#include "platform/SysUtils.h"
#include "platform/desktop/Renderer.h"

namespace {

void Redraw() {
  if (Application != nullptr && Application->Renderer() != nullptr) Application->Renderer()->Invalidate();
}

}  // namespace

std::string ShortCutToText(TShortCut shortCut) {
  if (shortCut == 0) return "";
  std::string text;
  if (shortCut & kShortCutCtrl) text += "Ctrl+";
  if (shortCut & kShortCutAlt) text += "Alt+";
  const char key = static_cast<char>(shortCut & 0xFF);
  text += key;
  return text;
}

std::string StripHotkey(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&';
      else continue;
      ++i;
      continue;
    }
    out += caption[i];
  }
  return out;
}

char HotkeyOf(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    const char c = caption[i + 1];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  return 0;
}

// ------------------------------------------------------------ actions

void TAction::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Redraw();
}

void TAction::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Redraw();
}

void TAction::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Redraw();
}

bool TAction::Execute() {
  if (!enabled_) return false;
  if (AutoCheck) SetChecked(!checked_);
  if (OnExecute) DispatchEvent([this] { OnExecute(*this); });
  return true;
}

TAction* TActionList::Add(const std::string& name) {
  auto* a = new TAction(this);  // owned by this list as its component
  a->Name = name;
  actions_.push_back(a);
  return a;
}

TAction* TActionList::Find(const std::string& name) const {
  for (TAction* a : actions_)
    if (a->Name == name) return a;
  return nullptr;
}

TAction* TActionList::FindShortCut(TShortCut shortCut) const {
  if (shortCut == 0) return nullptr;
  for (TAction* a : actions_)
    if (a->ShortCut == shortCut && a->Enabled() && a->Visible()) return a;
  return nullptr;
}

// ------------------------------------------------------------ menus

std::string TMenuItem::Caption() const { return Action != nullptr ? Action->Caption : caption_; }
bool TMenuItem::Enabled() const { return Action == nullptr || Action->Enabled(); }
bool TMenuItem::Visible() const { return Action == nullptr || Action->Visible(); }
bool TMenuItem::Checked() const { return Action != nullptr && Action->Checked(); }

TMenuItem& TMenuItem::AddItem(std::string caption) {
  items_.push_back(std::make_unique<TMenuItem>(std::move(caption)));
  return *items_.back();
}

TMenuItem& TMenuItem::AddAction(TAction* action) {
  TMenuItem& item = AddItem("");
  item.Action = action;
  item.Hint = action->Hint;
  return item;
}

void TMenuItem::AddActions(const TActionList& actions, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name == "-") {
      AddItem("-");
      continue;
    }
    TAction* a = actions.Find(name);
    if (a == nullptr) throw EAssertionFailed("No action named " + name);
    AddAction(a);
  }
}

void TMenuItem::Click() {
  if (!Enabled()) return;
  if (Action != nullptr) {
    Action->Execute();
  } else if (OnClick) {
    DispatchEvent([this] { OnClick(*this); });
  }
}

void TPopupMenu::Popup(int x, int y) {
  if (Application != nullptr && Application->Renderer() != nullptr) Application->Renderer()->PopupMenu(*this, x, y);
}

void TToolBar::AddActions(const TActionList& actions, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name == "-") {
      Buttons.push_back(nullptr);
      continue;
    }
    TAction* a = actions.Find(name);
    if (a == nullptr) throw EAssertionFailed("No action named " + name);
    Buttons.push_back(a);
  }
  Changed();
}
