// Actions and what is built from them: menu items, the main menu, popup menus
// and the tool bar take their caption, enabled, checked and visible state from
// the action they are bound to, and are built from lists of action names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/Forms.h"

// A key with its modifiers: the key's upper-case character or a TKey value.
using TShortCut = uint32_t;
constexpr TShortCut kShortCutCtrl = 0x10000;
constexpr TShortCut kShortCutAlt = 0x20000;
constexpr TShortCut CtrlKey(char c) { return kShortCutCtrl | static_cast<TShortCut>(c >= 'a' && c <= 'z' ? c - 32 : c); }
// "Ctrl+L", "Alt+X", "F10"; "" for no shortcut.
std::string ShortCutToText(TShortCut shortCut);

// Caption text with the "&" accelerator marks removed ("&&" is one "&").
std::string StripHotkey(const std::string& caption);
// The accelerator letter of a caption in upper case, 0 when none.
char HotkeyOf(const std::string& caption);

class TAction : public TComponent {
 public:
  using TComponent::TComponent;

  std::string Caption;
  std::string Category;
  std::string Hint;
  int ImageIndex = -1;
  TShortCut ShortCut = 0;
  bool AutoCheck = false;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  std::function<void(TAction&)> OnExecute;
  // While enabled: toggles an auto-check action, then runs OnExecute through
  // DispatchEvent. Returns whether it ran.
  bool Execute();

 private:
  bool enabled_ = true;
  bool checked_ = false;
  bool visible_ = true;
};

class TActionList : public TComponent {
 public:
  using TComponent::TComponent;
  TAction* Add(const std::string& name);
  TAction* Find(const std::string& name) const;  // nullptr when unknown
  const std::vector<TAction*>& Actions() const { return actions_; }
  // The enabled, visible action with this shortcut, or nullptr.
  TAction* FindShortCut(TShortCut shortCut) const;

 private:
  std::vector<TAction*> actions_;  // owned as components
};

class TMenuItem {
 public:
  TMenuItem() = default;
  explicit TMenuItem(std::string caption) : caption_(std::move(caption)) {}

  TAction* Action = nullptr;  // not owned
  bool Default = false;
  std::string Hint;
  std::function<void(TMenuItem&)> OnClick;

  bool IsSeparator() const { return Action == nullptr && caption_ == "-"; }
  std::string Caption() const;
  bool Enabled() const;
  bool Visible() const;
  bool Checked() const;
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem& Item(int i) const { return *items_.at(static_cast<size_t>(i)); }
  TMenuItem& AddItem(std::string caption);
  TMenuItem& AddAction(TAction* action);
  // Appends one item per name: "-" a separator, otherwise the named action
  // (EAssertionFailed for a name that is not in the list).
  void AddActions(const TActionList& actions, const std::vector<std::string>& names);
  // Executes the action (or OnClick) through DispatchEvent.
  void Click();

 private:
  std::string caption_;
  std::vector<std::unique_ptr<TMenuItem>> items_;
};

class TMainMenu : public TComponent {
 public:
  using TComponent::TComponent;
  TMenuItem Items;
};

class TPopupMenu : public TComponent {
 public:
  using TComponent::TComponent;
  TMenuItem Items;
  bool AutoPopup = true;
  TComponent* PopupComponent = nullptr;  // not owned
  // Asks the renderer to show the menu at X, Y (nothing without a renderer).
  void Popup(int x, int y);
};

// Buttons bound to actions; a null action is a separator.
class TToolBar : public TControl {
 public:
  using TControl::TControl;
  std::vector<TAction*> Buttons;
  void AddActions(const TActionList& actions, const std::vector<std::string>& names);
};
