// The renderer without a terminal: one line per change a person would see
// (tray tip, status panel, memo line) on a stream, and a tray that shows its
// icons as such lines. Popup menus have nobody to choose from them.
#pragma once

#include <cstdio>
#include <string>

#include "platform/desktop/Renderer.h"
#include "platform/desktop/TrayHost.h"

class THeadlessRenderer : public TDesktopRenderer, public ITrayHost {
 public:
  explicit THeadlessRenderer(std::FILE* out = stdout) : out_(out) {}

  void MemoLineAdded(TMemo&, const std::string& line) override;
  void StatusTextChanged(TStatusBar&, int panel, const std::string& text) override;

  bool NotifyIcon(TOp op, const TNotifyIconData& data) override;
  bool GetCursorPos(TPoint&) override { return false; }
  void TrackPopupMenu(TPopupMenu&, TPoint) override {}

  // A line of its own (for example a relayed log line).
  void WriteLine(const std::string& line);

 private:
  std::FILE* out_;
  std::string lastTip_;
  std::string lastIcon_;
  bool shown_ = false;
};
