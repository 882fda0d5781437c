// The desktop model: components that free what they own, controls with their
// visible state, forms with Show/Hide/Close and their events, the application
// (title, main form, renderer, termination) and the screen. Everything here is
// touched on the main thread only; what other threads want is posted to the
// application's loop. Every event runs through DispatchEvent: an exception
// becomes an error box with its message and the program goes on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MainLoop.h"

class TDesktopRenderer;
class TMainMenu;
class TActionList;
class TAction;

// Owner frees its components, last created first. A component freed on its own
// (Free) leaves its owner's list first.
class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string Name;
  int Tag = 0;
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int i) const { return components_.at(static_cast<size_t>(i)).get(); }
  TComponent* FindComponent(const std::string& name) const;
  // Destroys this component now (through its owner when it has one).
  void Free();

 private:
  TComponent* owner_;
  std::vector<std::unique_ptr<TComponent>> components_;
};

class TWinControl;
class TForm;

// A control sits in a parent (a form, panel or group box) and shows itself in
// the parent's order. Setters tell the renderer what changed.
class TControl : public TComponent {
 public:
  TControl(TComponent* owner, TWinControl* parent);
  ~TControl() override;

  TWinControl* Parent() const { return parent_; }
  TForm* ParentForm() const;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  std::string Hint;
  bool ShowHint = false;

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  int Left = 0, Top = 0, Width = 0, Height = 0;
  void SetBounds(int left, int top, int width, int height);

  std::function<void(TControl&)> OnClick;
  // Runs OnClick through DispatchEvent (no-op while disabled).
  virtual void Click();

 protected:
  void Changed();

 private:
  friend class TWinControl;
  TWinControl* parent_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
};

// A control that holds controls, in creation order.
class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  const std::vector<TControl*>& Controls() const { return controls_; }

 private:
  friend class TControl;
  std::vector<TControl*> controls_;  // not owned: the owner frees them
};

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };

class TForm : public TWinControl {
 public:
  // A form with no owner is owned by the application.
  explicit TForm(TComponent* owner);
  ~TForm() override;

  void Show();
  void Hide();
  // CloseQuery, then OnClose with its action: caHide hides, caFree hides and
  // frees the form after the running event, caMinimize minimises. Closing the
  // application's main form (any action but caNone) terminates the application.
  void Close();
  // Frees the form once the current event is over.
  void Release();
  void BringToFront();
  // Drawn at once, not at the renderer's next turn.
  void Repaint();
  bool Active() const;

  TBorderStyle BorderStyle = TBorderStyle::bsSizeable;
  TMainMenu* Menu = nullptr;  // not owned
  // Actions the form answers by shortcut (not owned).
  TActionList* Actions = nullptr;
  // The control that has the keyboard in the terminal (not owned).
  TControl* ActiveControl = nullptr;
  void Center();

  std::function<void(TForm&)> OnShow;
  std::function<void(TForm&)> OnHide;
  std::function<void(TForm&, bool& canClose)> OnCloseQuery;
  std::function<void(TForm&, TCloseAction& action)> OnClose;

  // Runs Fn at the next turn of the loop if the form still exists then.
  void PostIfAlive(std::function<void()> fn);

 private:
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

enum class TCursor { crDefault, crHourGlass };

class TScreen {
 public:
  int Width = 1024;
  int Height = 768;
  TCursor Cursor = TCursor::crDefault;
};

class TApplication : public TComponent {
 public:
  // Becomes the process's Application until it is destroyed.
  explicit TApplication(MainLoop& loop);
  ~TApplication() override;

  MainLoop& Loop() const { return loop_; }
  std::string Title;
  TForm* MainForm = nullptr;  // not owned
  TScreen Screen;

  // The renderer draws every form and takes the keys (not owned; nullptr: none).
  void SetRenderer(TDesktopRenderer* renderer);
  TDesktopRenderer* Renderer() const { return renderer_; }

  // Forms in creation order (not owned).
  const std::vector<TForm*>& Forms() const { return forms_; }
  // The last shown form that is still visible, or nullptr.
  TForm* ActiveForm() const;

  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  void ProcessMessages();

  // The application is minimised or restored (the tray icon listens). Several
  // listeners may hook; a hook returns a handle to unhook with.
  int HookMinimize(std::function<void()> fn);
  void UnhookMinimize(int handle);
  void Minimize();
  bool Minimized() const { return minimized_; }
  void Restore() { minimized_ = false; }

  // An escaped exception: the error box with its message.
  void ShowException(const std::exception& e);

 private:
  friend class TForm;
  friend class TControl;
  void FormShown(TForm& form);
  MainLoop& loop_;
  TDesktopRenderer* renderer_ = nullptr;
  std::vector<TForm*> forms_;
  std::vector<TForm*> shownOrder_;
  std::vector<std::pair<int, std::function<void()>>> minimizeHooks_;
  int nextHook_ = 1;
  bool terminated_ = false;
  bool minimized_ = false;
};

// The application of the process, nullptr while there is none.
extern TApplication* Application;

// Runs Fn; an exception becomes the error box (see TApplication::ShowException).
void DispatchEvent(const std::function<void()>& fn);
