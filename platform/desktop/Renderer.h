// What draws the desktop model: told of every visible change on the main
// thread. The headless renderer writes a line per change worth a line; the
// terminal renderer draws the screen and takes the keys.
#pragma once

#include <string>

class TControl;
class TForm;
class TMemo;
class TStatusBar;
class TPopupMenu;

class TDesktopRenderer {
 public:
  virtual ~TDesktopRenderer() = default;
  // Something visible changed; draw again when convenient.
  virtual void Invalidate() {}
  // Draw now (a form that is about to block the loop for a moment).
  virtual void Repaint() {}
  virtual void MemoLineAdded(TMemo&, const std::string& /*line*/) {}
  virtual void StatusTextChanged(TStatusBar&, int /*panel*/, const std::string& /*text*/) {}
  virtual void FormVisibilityChanged(TForm&) {}
  // The control goes away: forget every reference to it.
  virtual void ControlFreed(TControl&) {}
  // Shows Menu at X, Y; the chosen item is clicked later on the main thread.
  virtual void PopupMenu(TPopupMenu&, int /*x*/, int /*y*/) {}
};
