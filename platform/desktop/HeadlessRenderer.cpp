#include "platform/desktop/HeadlessRenderer.h"

void THeadlessRenderer::WriteLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), out_);
  std::fflush(out_);
}

void THeadlessRenderer::MemoLineAdded(TMemo&, const std::string& line) { WriteLine(line); }

void THeadlessRenderer::StatusTextChanged(TStatusBar&, int panel, const std::string& text) {
  WriteLine("[status " + std::to_string(panel) + "] " + text);
}

bool THeadlessRenderer::NotifyIcon(TOp op, const TNotifyIconData& data) {
  if (op == TOp::Delete) {
    if (shown_) WriteLine("[tray] removed");
    shown_ = false;
    lastTip_.clear();
    lastIcon_.clear();
    return true;
  }
  const std::string tip = data.Tip();
  if (shown_ && tip == lastTip_ && data.hIcon == lastIcon_) return true;
  shown_ = true;
  lastTip_ = tip;
  lastIcon_ = data.hIcon;
  WriteLine("[tray] icon=" + data.hIcon + " tip=\"" + tip + "\"");
  return true;
}
