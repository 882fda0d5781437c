// The desktop on a terminal: full screen with ncurses on standard input and
// output. Drawing and keys run on the main loop (a 30 ms timer; keys are read
// without waiting), message boxes are prompts answered by keys while the loop
// keeps turning, and the terminal is restored on every way out.
//
// Keys
//   No window shown (the tray line):  Enter  restore (a double click on the icon)
//                                     m      the tray menu (a right click)
//   A window shown:   F10 or Alt+letter  the menu bar ("&" letters pick items)
//                     Ctrl+letter        the window's action shortcuts (Ctrl+L, Ctrl+D)
//                     Tab / Shift+Tab    next / previous control
//                     Enter, Space       click the control (Enter: the default button)
//                     Up / Down          choose in a list or combo box
//                     PgUp / PgDn        scroll the memo
//                     Esc                close the window (the console only hides)
//   Menus:            arrows, Enter, the "&" letter, Esc
//   Message boxes:    y / n / o / c, Left / Right / Tab and Enter, Esc
//   Ctrl+C is left to the terminal's interrupt signal.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/desktop/Forms.h"
#include "platform/desktop/Renderer.h"
#include "platform/desktop/TrayHost.h"

class TMenuItem;

class TTerminalRenderer : public TDesktopRenderer, public ITrayHost {
 public:
  explicit TTerminalRenderer(TApplication& app);
  ~TTerminalRenderer() override;

  // Standard input and output are both terminals.
  static bool Available();
  // Takes the terminal, installs the key timer and the terminal's message
  // boxes. False when the terminal cannot be used.
  bool Start();
  // Gives the terminal back (also done by the destructor and at exit).
  void Stop();

  void Invalidate() override { dirty_ = true; }
  void Repaint() override {
    if (started_ && boxDepth_ == 0) Draw();
  }
  void FormVisibilityChanged(TForm&) override;
  void ControlFreed(TControl& control) override;
  void PopupMenu(TPopupMenu& menu, int x, int y) override;

  bool NotifyIcon(TOp op, const TNotifyIconData& data) override;
  bool GetCursorPos(TPoint& p) override;
  void TrackPopupMenu(TPopupMenu& menu, TPoint p) override;

  // A message box as a prompt; the loop turns while it waits.
  TMsgResult Ask(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgButtons buttons,
                 TMsgResult defaultAnswer);
  // Any thread: open prompts take their default answer.
  void AnswerOpenBoxesWithDefault() { answerDefault_ = true; }

 private:
  struct MenuLevel {
    TMenuItem* menu;  // whose items are listed
    int index;        // the highlighted item
    int column;       // where the list is drawn
  };
  struct Box {
    std::string caption, text;
    std::vector<TMsgResult> buttons;
    int focus;
  };

  void Tick();
  void Draw();
  void DrawTray();
  void DrawForm(TForm& form);
  void DrawMenus();
  void DrawBox(const Box& box);
  void HandleKey(int key);
  void HandleTrayKey(int key);
  void HandleFormKey(TForm& form, int key);
  bool HandleMenuKey(int key);
  void OpenMainMenu(TForm& form, int top);
  void CloseMenus();
  void MoveInMenu(int delta);
  void ChooseMenuItem(TMenuItem& item);
  std::vector<TControl*> Focusable(TForm& form) const;

  TApplication& app_;
  bool started_ = false;
  bool dirty_ = true;
  MainLoop::TimerId timer_ = 0;
  int boxDepth_ = 0;
  std::atomic<bool> answerDefault_{false};

  // The tray's one icon.
  bool trayShown_ = false;
  std::string trayTip_;
  std::string trayIcon_;
  uint32_t trayId_ = 0;

  // Open menus: the main menu's bar (top >= 0) or a popup; levels below.
  TForm* menuForm_ = nullptr;
  int menuTop_ = -1;
  std::vector<MenuLevel> menus_;
  TPopupMenu* popup_ = nullptr;
  std::vector<Box*> boxes_;  // open prompts, innermost last (not owned)
  int memoScroll_ = 0;
};
