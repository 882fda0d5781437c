#include "platform/desktop/TerminalRenderer.h"

#include <curses.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <clocale>
#include <cstdlib>

#include "platform/desktop/Actions.h"
#include "platform/desktop/StdCtrls.h"

namespace {

constexpr uint32_t kTickMs = 30;
constexpr int kEsc = 27;
constexpr int kTab = 9;

// The terminal is given back however the process leaves.
bool terminalTaken = false;
void RestoreTerminal() {
  if (!terminalTaken) return;
  terminalTaken = false;
  endwin();
}

class TerminalBoxer : public MessageBoxer {
 public:
  explicit TerminalBoxer(TTerminalRenderer& r) : r_(r) {}
  TMsgResult Show(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgButtons buttons,
                  TMsgResult defaultAnswer) override {
    return r_.Ask(caption, text, type, buttons, defaultAnswer);
  }
  void AnswerOpenBoxesWithDefault() override { r_.AnswerOpenBoxesWithDefault(); }

 private:
  TTerminalRenderer& r_;
};

const char* ButtonText(TMsgResult r) {
  switch (r) {
    case TMsgResult::mrYes: return "Yes";
    case TMsgResult::mrNo: return "No";
    case TMsgResult::mrCancel: return "Cancel";
    case TMsgResult::mrOk: break;
  }
  return "OK";
}

// Writes Text at Row, Col, cut at the screen's edge; "&" marks underline the
// next letter when Hotkeys is set.
void Put(int row, int col, const std::string& text, attr_t attr = A_NORMAL, bool hotkeys = false) {
  if (row < 0 || row >= LINES || col >= COLS) return;
  move(row, std::max(col, 0));
  for (size_t i = 0; i < text.size() && getcurx(stdscr) < COLS - 1; ++i) {
    char c = text[i];
    attr_t a = attr;
    if (hotkeys && c == '&' && i + 1 < text.size()) {
      c = text[++i];
      if (c != '&') a |= A_UNDERLINE;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    addch((u < 32 || u > 126 ? '?' : u) | a);
  }
}

void FillRow(int row, attr_t attr) {
  move(row, 0);
  for (int i = 0; i < COLS; ++i) addch(' ' | attr);
}

std::vector<std::string> Wrap(const std::string& text, int width) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    while (static_cast<int>(line.size()) > width) {
      size_t cut = line.rfind(' ', static_cast<size_t>(width));
      if (cut == std::string::npos || cut == 0) cut = static_cast<size_t>(width);
      out.push_back(line.substr(0, cut));
      line = line.substr(cut == static_cast<size_t>(width) ? cut : cut + 1);
    }
    out.push_back(line);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return out;
}

bool Focusable(const TControl* c) {
  if (!c->Visible() || !c->Enabled()) return false;
  if (auto m = dynamic_cast<const TMemo*>(c)) return !m->ReadOnly;
  return dynamic_cast<const TButton*>(c) || dynamic_cast<const TEdit*>(c) || dynamic_cast<const TComboBox*>(c) ||
         dynamic_cast<const TCheckBox*>(c) || dynamic_cast<const TListView*>(c);
}

void CollectFocusable(const TWinControl& parent, std::vector<TControl*>& out) {
  for (TControl* c : parent.Controls()) {
    if (!c->Visible()) continue;
    if (Focusable(c)) out.push_back(c);
    if (auto w = dynamic_cast<TWinControl*>(c)) CollectFocusable(*w, out);
  }
}

std::string Cell(const std::string& s, int width) {
  std::string t = s.substr(0, static_cast<size_t>(std::max(width - 1, 0)));
  t.resize(static_cast<size_t>(std::max(width, 0)), ' ');
  return t;
}

// One drawn line of a form: text and attribute, or a flexible area.
struct Line {
  std::string text;
  attr_t attr = A_NORMAL;
  TControl* flexible = nullptr;  // a memo or list view that takes the free rows
};

// Labels, buttons and fields flow side by side and wrap at the screen's edge.
class Flow {
 public:
  Flow(std::vector<Line>& out, int width) : out_(out), width_(width) {}
  Flow& operator+=(const std::string& piece) {
    if (!line_.empty() && static_cast<int>(line_.size() + piece.size()) > width_) Flush();
    line_ += piece;
    return *this;
  }
  void Flush() {
    if (!line_.empty()) out_.push_back({line_});
    line_.clear();
  }

 private:
  std::vector<Line>& out_;
  int width_;
  std::string line_;
};

void Layout(TWinControl& parent, TControl* focus, std::vector<Line>& out) {
  Flow flow(out, std::max(COLS - 1, 20));
  std::string caption;  // a plain label waits for the bold value after it
  auto flush = [&] {
    if (!caption.empty()) flow += caption;
    caption.clear();
    flow.Flush();
  };
  for (TControl* c : parent.Controls()) {
    if (!c->Visible()) continue;
    const bool focused = c == focus;
    if (auto l = dynamic_cast<TLabel*>(c)) {
      // A caption stays with the value after it.
      if (l->Bold) {
        flow += caption + l->Caption() + "   ";
        caption.clear();
      } else {
        if (!caption.empty()) flow += caption;
        caption = l->Caption() + " ";
      }
      continue;
    }
    if (!caption.empty()) flow += caption;
    caption.clear();
    if (auto b = dynamic_cast<TButton*>(c)) {
      const std::string t = (focused ? ">" : "[") + StripHotkey(b->Caption()) + (focused ? "<" : "]");
      flow += (b->Enabled() ? t : "(" + StripHotkey(b->Caption()) + ")") + "  ";
    } else if (auto tb = dynamic_cast<TToolBar*>(c)) {
      flush();
      std::string row;
      for (TAction* a : tb->Buttons) {
        if (a == nullptr) {
          row += "| ";
        } else if (a->Visible()) {
          row += (a->Enabled() ? "[" + StripHotkey(a->Caption) + "]" : " " + StripHotkey(a->Caption) + " ") + " ";
        }
      }
      out.push_back({row, A_DIM});
    } else if (auto e = dynamic_cast<TEdit*>(c)) {
      flow += "[" + e->Text() + (focused ? "_" : "") + "]  ";
    } else if (auto cb = dynamic_cast<TComboBox*>(c)) {
      flow += "<" + cb->Text() + (focused ? "_" : "") + " v>  ";
    } else if (auto ch = dynamic_cast<TCheckBox*>(c)) {
      flow += std::string(focused ? ">" : "") + (ch->Checked() ? "[x] " : "[ ] ") + StripHotkey(ch->Caption()) + "  ";
    } else if (auto p = dynamic_cast<TProgressBar*>(c)) {
      flush();
      const int span = std::max(p->Max - p->Min, 1);
      const int filled = (p->Position() - p->Min) * 30 / span;
      out.push_back({"[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(30 - filled), ' ') +
                     "] " + std::to_string(p->Position())});
    } else if (auto g = dynamic_cast<TGroupBox*>(c)) {
      flush();
      out.push_back({"-- " + g->Caption() + " --", A_BOLD});
      Layout(*g, focus, out);
    } else if (auto pn = dynamic_cast<TPanel*>(c)) {
      flush();
      Layout(*pn, focus, out);
    } else if (dynamic_cast<TMemo*>(c) || dynamic_cast<TListView*>(c)) {
      flush();
      out.push_back({"", A_NORMAL, c});
    }
    // Images and status bars are not drawn in the flow.
  }
  flush();
}

}  // namespace

TTerminalRenderer::TTerminalRenderer(TApplication& app) : app_(app) {}

TTerminalRenderer::~TTerminalRenderer() { Stop(); }

bool TTerminalRenderer::Available() {
  const char* term = std::getenv("TERM");
  return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO) && term != nullptr && std::string(term) != "dumb";
}

bool TTerminalRenderer::Start() {
  if (started_) return true;
  std::setlocale(LC_ALL, "");
  if (initscr() == nullptr) return false;
  terminalTaken = true;
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    std::atexit(RestoreTerminal);
  }
  cbreak();  // Ctrl+C stays the interrupt signal
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_DOUBLE_CLICKED | BUTTON3_PRESSED | BUTTON1_CLICKED, nullptr);
  started_ = true;
  app_.Screen.Width = COLS * 8;
  app_.Screen.Height = LINES * 16;
  InstallMessageBoxer(std::make_unique<TerminalBoxer>(*this));
  timer_ = app_.Loop().AddTimer(kTickMs, [this] { Tick(); }, true);
  dirty_ = true;
  return true;
}

void TTerminalRenderer::Stop() {
  if (!started_) return;
  started_ = false;
  app_.Loop().RemoveTimer(timer_);
  InstallMessageBoxer(nullptr);
  RestoreTerminal();
}

void TTerminalRenderer::FormVisibilityChanged(TForm&) {
  CloseMenus();
  memoScroll_ = 0;
  dirty_ = true;
}

void TTerminalRenderer::ControlFreed(TControl&) { dirty_ = true; }

void TTerminalRenderer::PopupMenu(TPopupMenu& menu, int, int) {
  CloseMenus();
  popup_ = &menu;
  menus_.push_back({&menu.Items, -1, 2});
  MoveInMenu(1);
  dirty_ = true;
}

bool TTerminalRenderer::NotifyIcon(TOp op, const TNotifyIconData& data) {
  trayShown_ = op != TOp::Delete;
  trayTip_ = data.Tip();
  trayIcon_ = data.hIcon;
  trayId_ = data.uID;
  dirty_ = true;
  return true;
}

bool TTerminalRenderer::GetCursorPos(TPoint& p) {
  p = {app_.Screen.Width - 1, 0};
  return true;
}

void TTerminalRenderer::TrackPopupMenu(TPopupMenu& menu, TPoint p) { PopupMenu(menu, p.x, p.y); }

// ------------------------------------------------------------ the loop's tick

void TTerminalRenderer::Tick() {
  if (!started_) return;
  if (boxDepth_ == 0) {
    for (int key = getch(); key != ERR; key = getch()) {
      HandleKey(key);
      if (!started_) return;
    }
  }
  if (dirty_ && boxDepth_ == 0) Draw();
}

void TTerminalRenderer::Draw() {
  dirty_ = false;
  if (int r = LINES, c = COLS; r > 0 && c > 0) {
    app_.Screen.Width = c * 8;
    app_.Screen.Height = r * 16;
  }
  erase();
  if (TForm* f = app_.ActiveForm()) {
    DrawForm(*f);
  } else {
    DrawTray();
  }
  DrawMenus();
  for (Box* b : boxes_) DrawBox(*b);
  refresh();
}

void TTerminalRenderer::DrawTray() {
  FillRow(0, A_REVERSE);
  const std::string state = trayIcon_.empty() ? "" : "(" + trayIcon_ + ") ";
  Put(0, 1, trayShown_ ? state + trayTip_ : "(no icon)", A_REVERSE);
  Put(2, 1, "Enter: restore window    m: tray menu    Ctrl+C: close");
}

void TTerminalRenderer::DrawForm(TForm& form) {
  FillRow(0, A_REVERSE);
  Put(0, 1, form.Caption(), A_REVERSE | A_BOLD);
  int row = 1;
  if (form.Menu != nullptr && form.BorderStyle != TBorderStyle::bsNone) {
    FillRow(row, A_REVERSE);
    int col = 1;
    TMenuItem& bar = form.Menu->Items;
    for (int i = 0; i < bar.Count(); ++i) {
      const TMenuItem& m = bar.Item(i);
      if (!m.Visible()) continue;
      const bool open = menuForm_ == &form && menuTop_ == i;
      Put(row, col, " " + m.Caption() + " ", open ? A_NORMAL : A_REVERSE, true);
      col += static_cast<int>(StripHotkey(m.Caption()).size()) + 2;
    }
    ++row;
  }
  TStatusBar* status = nullptr;
  for (TControl* c : form.Controls())
    if (auto s = dynamic_cast<TStatusBar*>(c); s && s->Visible()) status = s;
  std::vector<Line> lines;
  Layout(form, form.ActiveControl, lines);
  const int bottom = LINES - (status ? 1 : 0);
  int fixed = 0, flexible = 0;
  for (const Line& l : lines) (l.flexible ? flexible : fixed) += 1;
  const int each = flexible > 0 ? std::max((bottom - row - fixed) / flexible, 1) : 0;
  for (const Line& l : lines) {
    if (row >= bottom) break;
    if (auto memo = dynamic_cast<TMemo*>(l.flexible)) {
      const int n = memo->Lines.Count();
      const int height = std::min(each, bottom - row);
      memoScroll_ = std::clamp(memoScroll_, 0, std::max(n - height, 0));
      const int first = std::max(n - height - memoScroll_, 0);
      for (int i = 0; i < height && first + i < n; ++i) Put(row + i, 0, memo->Lines[first + i]);
      row += height;
    } else if (auto lv = dynamic_cast<TListView*>(l.flexible)) {
      const int height = std::min(each, bottom - row);
      // A list with images shows each row's picture name as its mark.
      const bool marks = lv->SmallImages != nullptr;
      std::string head = marks ? Cell("", 7) : "";
      for (const TListColumn& c : lv->Columns) head += Cell(c.Caption, std::max(c.Width / 8, 6));
      Put(row, 0, head, A_UNDERLINE);
      const int shown = height - 1;
      const int first = std::clamp(lv->ItemIndex() - shown + 1, 0, std::max(lv->Count() - shown, 0));
      for (int i = 0; i < shown && first + i < lv->Count(); ++i) {
        const TListItem& it = lv->Item(first + i);
        std::string text = marks ? Cell("[" + lv->SmallImages->Get(it.ImageIndex) + "]", 7) : "";
        for (size_t c = 0; c < lv->Columns.size(); ++c) {
          const std::string v = c == 0 ? it.Caption : (c - 1 < it.SubItems.size() ? it.SubItems[c - 1] : "");
          text += Cell(v, std::max(lv->Columns[c].Width / 8, 6));
        }
        const bool sel = first + i == lv->ItemIndex();
        Put(row + 1 + i, 0, text, sel ? (lv == form.ActiveControl ? A_REVERSE : A_BOLD) : A_NORMAL);
      }
      row += height;
    } else {
      Put(row++, 0, l.text, l.attr);
    }
  }
  if (status != nullptr) {
    FillRow(LINES - 1, A_REVERSE);
    int col = 0;
    for (int i = 0; i < status->PanelCount(); ++i) {
      Put(LINES - 1, col, status->Panel(i).Text, A_REVERSE);
      col += std::max(status->Panel(i).Width / 6, static_cast<int>(status->Panel(i).Text.size()) + 1);
      Put(LINES - 1, col - 1, "|", A_REVERSE);
    }
  }
}

void TTerminalRenderer::DrawMenus() {
  int top = menuForm_ != nullptr ? 2 : 1;
  for (const MenuLevel& level : menus_) {
    int width = 10;
    for (int i = 0; i < level.menu->Count(); ++i) {
      const TMenuItem& it = level.menu->Item(i);
      int w = static_cast<int>(StripHotkey(it.Caption()).size()) + 6;
      if (it.Action) w += static_cast<int>(ShortCutToText(it.Action->ShortCut).size()) + 2;
      width = std::max(width, w);
    }
    int row = top;
    for (int i = 0; i < level.menu->Count(); ++i) {
      const TMenuItem& it = level.menu->Item(i);
      if (!it.Visible()) continue;
      if (it.IsSeparator()) {
        Put(row++, level.column, "|" + std::string(static_cast<size_t>(width - 2), '-') + "|");
        continue;
      }
      attr_t a = i == level.index ? A_REVERSE : A_NORMAL;
      if (!it.Enabled()) a |= A_DIM;
      std::string text = std::string(it.Checked() ? "*" : " ") + it.Caption();
      std::string shortcut = it.Action ? ShortCutToText(it.Action->ShortCut) : (it.Count() > 0 ? ">" : "");
      const int pad = width - 3 - static_cast<int>(StripHotkey(text).size()) - static_cast<int>(shortcut.size());
      Put(row, level.column, "|", A_NORMAL);
      Put(row, level.column + 1, text + std::string(static_cast<size_t>(std::max(pad, 1)), ' ') + shortcut, a, true);
      Put(row, level.column + width - 1, "|");
      ++row;
    }
    Put(row, level.column, "+" + std::string(static_cast<size_t>(width - 2), '-') + "+");
    top += std::max(level.index, 0);
  }
}

void TTerminalRenderer::DrawBox(const Box& box) {
  const int width = std::min(std::max(COLS - 8, 20), 70);
  const std::vector<std::string> text = Wrap(box.text, width - 4);
  const int height = static_cast<int>(text.size()) + 4;
  const int top = std::max((LINES - height) / 2, 0);
  const int left = std::max((COLS - width) / 2, 0);
  for (int r = 0; r < height; ++r) Put(top + r, left, std::string(static_cast<size_t>(width), ' '), A_REVERSE);
  Put(top, left + 2, " " + box.caption + " ", A_REVERSE | A_BOLD);
  for (size_t i = 0; i < text.size(); ++i) Put(top + 1 + static_cast<int>(i), left + 2, text[i], A_REVERSE);
  int col = left + 2;
  for (size_t i = 0; i < box.buttons.size(); ++i) {
    const std::string b = std::string("[ ") + ButtonText(box.buttons[i]) + " ]";
    Put(top + height - 2, col, b, static_cast<int>(i) == box.focus ? A_NORMAL | A_BOLD : A_REVERSE);
    col += static_cast<int>(b.size()) + 2;
  }
}

// ------------------------------------------------------------ message boxes

TMsgResult TTerminalRenderer::Ask(const std::string& caption, const std::string& text, TMsgDlgType, TMsgButtons buttons,
                                  TMsgResult defaultAnswer) {
  if (!started_) return buttons == TMsgButtons::mbOK ? TMsgResult::mrOk : defaultAnswer;
  Box box{caption.empty() ? app_.Title : caption, text, {}, 0};
  switch (buttons) {
    case TMsgButtons::mbOK: box.buttons = {TMsgResult::mrOk}; break;
    case TMsgButtons::mbYesNo: box.buttons = {TMsgResult::mrYes, TMsgResult::mrNo}; break;
    case TMsgButtons::mbOKCancel: box.buttons = {TMsgResult::mrOk, TMsgResult::mrCancel}; break;
  }
  const auto def = std::find(box.buttons.begin(), box.buttons.end(), defaultAnswer);
  box.focus = def == box.buttons.end() ? 0 : static_cast<int>(def - box.buttons.begin());
  const TMsgResult escape = box.buttons.back();
  boxes_.push_back(&box);
  ++boxDepth_;
  dirty_ = true;
  std::optional<TMsgResult> answer;
  while (!answer) {
    if (answerDefault_) {
      answer = box.buttons[static_cast<size_t>(box.focus)];
      if (def != box.buttons.end()) answer = defaultAnswer;
      break;
    }
    app_.Loop().ProcessPending();  // timers and posted work go on meanwhile
    if (!started_ || app_.Terminated()) {
      answer = defaultAnswer;
      break;
    }
    if (dirty_) Draw();
    pollfd in{STDIN_FILENO, POLLIN, 0};
    ::poll(&in, 1, 20);
    for (int key = getch(); key != ERR && !answer; key = getch()) {
      const int k = key < 256 ? std::tolower(key) : key;
      const int n = static_cast<int>(box.buttons.size());
      if (k == '\r' || k == '\n' || k == KEY_ENTER || k == ' ') {
        answer = box.buttons[static_cast<size_t>(box.focus)];
      } else if (k == kEsc) {
        answer = escape;
      } else if (k == kTab || k == KEY_RIGHT) {
        box.focus = (box.focus + 1) % n;
      } else if (k == KEY_BTAB || k == KEY_LEFT) {
        box.focus = (box.focus + n - 1) % n;
      } else {
        for (TMsgResult r : box.buttons)
          if (k == std::tolower(ButtonText(r)[0])) answer = r;
      }
      dirty_ = true;
    }
  }
  --boxDepth_;
  boxes_.pop_back();
  if (boxDepth_ == 0) answerDefault_ = false;
  dirty_ = true;
  return *answer;
}

// ------------------------------------------------------------ keys

void TTerminalRenderer::HandleKey(int key) {
  dirty_ = true;
  if (key == KEY_RESIZE) return;
  if (!menus_.empty() && HandleMenuKey(key)) return;
  if (TForm* f = app_.ActiveForm()) {
    HandleFormKey(*f, key);
  } else {
    HandleTrayKey(key);
  }
}

void TTerminalRenderer::HandleTrayKey(int key) {
  MEVENT mouse;
  if (key == KEY_MOUSE && getmouse(&mouse) == OK) {
    if (mouse.bstate & BUTTON1_DOUBLE_CLICKED) key = '\r';
    if (mouse.bstate & BUTTON3_PRESSED) key = 'm';
  }
  if (!trayShown_) return;
  if (key == '\r' || key == '\n' || key == KEY_ENTER) {
    for (uint32_t m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) SendMessage(trayId_, m);
  } else if (key == 'm' || key == 'M' || key == KEY_F(10)) {
    for (uint32_t m : {WM_RBUTTONDOWN, WM_RBUTTONUP}) SendMessage(trayId_, m);
  }
}

std::vector<TControl*> TTerminalRenderer::Focusable(TForm& form) const {
  std::vector<TControl*> out;
  CollectFocusable(form, out);
  return out;
}

void TTerminalRenderer::HandleFormKey(TForm& form, int key) {
  if (key == KEY_F(10) && form.Menu != nullptr) {
    OpenMainMenu(form, 0);
    return;
  }
  if (key == kEsc) {
    // Alt+letter arrives as Esc and the letter.
    const int next = getch();
    if (next != ERR && form.Menu != nullptr) {
      const char up = static_cast<char>(std::toupper(next));
      for (int i = 0; i < form.Menu->Items.Count(); ++i)
        if (HotkeyOf(form.Menu->Items.Item(i).Caption()) == up) OpenMainMenu(form, i);
      return;
    }
    form.Close();
    return;
  }
  if (key >= 1 && key <= 26 && key != kTab && key != '\r' && key != '\n') {
    if (form.Actions != nullptr)
      if (TAction* a = form.Actions->FindShortCut(CtrlKey(static_cast<char>('A' + key - 1)))) a->Execute();
    return;
  }
  if (key == KEY_PPAGE) memoScroll_ += 10;
  if (key == KEY_NPAGE) memoScroll_ = std::max(memoScroll_ - 10, 0);
  std::vector<TControl*> focus = Focusable(form);
  auto at = std::find(focus.begin(), focus.end(), form.ActiveControl);
  if (at == focus.end()) form.ActiveControl = focus.empty() ? nullptr : focus.front();
  if (key == kTab || key == KEY_BTAB) {
    if (focus.empty()) return;
    int i = at == focus.end() ? 0 : static_cast<int>(at - focus.begin());
    const int n = static_cast<int>(focus.size());
    i = key == kTab ? (i + 1) % n : (i + n - 1) % n;
    form.ActiveControl = focus[static_cast<size_t>(i)];
    return;
  }
  TControl* c = form.ActiveControl;
  const bool enter = key == '\r' || key == '\n' || key == KEY_ENTER;
  if (enter && !dynamic_cast<TButton*>(c) && !dynamic_cast<TCheckBox*>(c)) {
    for (TControl* b : focus)
      if (auto btn = dynamic_cast<TButton*>(b); btn && btn->Default) {
        btn->Click();
        return;
      }
  }
  if (c == nullptr) return;
  if (dynamic_cast<TButton*>(c) || dynamic_cast<TCheckBox*>(c)) {
    if (enter || key == ' ') c->Click();
  } else if (auto e = dynamic_cast<TEdit*>(c)) {
    std::string t = e->Text();
    if ((key == KEY_BACKSPACE || key == 127 || key == 8) && !t.empty()) t.pop_back();
    else if (key >= 32 && key < 127) t += static_cast<char>(key);
    if (t != e->Text()) {
      e->SetText(t);
      if (e->OnChange) DispatchEvent([e] { e->OnChange(*e); });
    }
  } else if (auto cb = dynamic_cast<TComboBox*>(c)) {
    const int n = static_cast<int>(cb->Items.size());
    std::string t = cb->Text();
    if (key == KEY_DOWN && n > 0) cb->SetItemIndex(std::min(cb->ItemIndex() + 1, n - 1));
    else if (key == KEY_UP && n > 0) cb->SetItemIndex(std::max(cb->ItemIndex() - 1, 0));
    else if ((key == KEY_BACKSPACE || key == 127 || key == 8) && !t.empty()) cb->SetText(t.substr(0, t.size() - 1));
    else if (key >= 32 && key < 127) cb->SetText(t + static_cast<char>(key));
    else return;
    if (cb->OnChange) DispatchEvent([cb] { cb->OnChange(*cb); });
  } else if (auto lv = dynamic_cast<TListView*>(c)) {
    if (key == KEY_DOWN) lv->SetItemIndex(std::min(lv->ItemIndex() + 1, lv->Count() - 1));
    else if (key == KEY_UP) lv->SetItemIndex(std::max(lv->ItemIndex() - 1, 0));
    else if (!enter) return;
    lv->Click();
  }
}

// ------------------------------------------------------------ menus

void TTerminalRenderer::OpenMainMenu(TForm& form, int top) {
  CloseMenus();
  TMenuItem& bar = form.Menu->Items;
  if (bar.Count() == 0) return;
  menuForm_ = &form;
  menuTop_ = std::clamp(top, 0, bar.Count() - 1);
  int col = 1;
  for (int i = 0; i < menuTop_; ++i) col += static_cast<int>(StripHotkey(bar.Item(i).Caption()).size()) + 2;
  menus_.push_back({&bar.Item(menuTop_), -1, col});
  MoveInMenu(1);
}

void TTerminalRenderer::CloseMenus() {
  menus_.clear();
  menuForm_ = nullptr;
  menuTop_ = -1;
  popup_ = nullptr;
  dirty_ = true;
}

void TTerminalRenderer::MoveInMenu(int delta) {
  MenuLevel& level = menus_.back();
  const int n = level.menu->Count();
  for (int step = 0; step < n; ++step) {
    level.index = ((level.index + delta) % n + n) % n;
    const TMenuItem& it = level.menu->Item(level.index);
    if (!it.IsSeparator() && it.Visible()) return;
  }
  level.index = -1;
}

void TTerminalRenderer::ChooseMenuItem(TMenuItem& item) {
  if (item.Count() > 0) {
    menus_.push_back({&item, -1, menus_.back().column + 4});
    MoveInMenu(1);
    return;
  }
  CloseMenus();
  item.Click();
}

bool TTerminalRenderer::HandleMenuKey(int key) {
  MenuLevel& level = menus_.back();
  switch (key) {
    case KEY_UP: MoveInMenu(-1); return true;
    case KEY_DOWN: MoveInMenu(1); return true;
    case KEY_LEFT:
    case KEY_RIGHT:
      if (key == KEY_RIGHT && level.index >= 0 && level.menu->Item(level.index).Count() > 0) {
        ChooseMenuItem(level.menu->Item(level.index));
      } else if (menus_.size() > 1 && key == KEY_LEFT) {
        menus_.pop_back();
      } else if (menuForm_ != nullptr) {
        const int n = menuForm_->Menu->Items.Count();
        OpenMainMenu(*menuForm_, (menuTop_ + (key == KEY_RIGHT ? 1 : n - 1)) % n);
      }
      return true;
    case kEsc:
    case KEY_F(10):
      if (menus_.size() > 1) {
        menus_.pop_back();
      } else {
        CloseMenus();
      }
      return true;
    case '\r':
    case '\n':
    case KEY_ENTER:
      if (level.index >= 0) ChooseMenuItem(level.menu->Item(level.index));
      return true;
    default: break;
  }
  const char up = static_cast<char>(key >= 'a' && key <= 'z' ? key - 32 : key);
  for (int i = 0; i < level.menu->Count(); ++i) {
    TMenuItem& it = level.menu->Item(i);
    if (it.Visible() && it.Enabled() && HotkeyOf(it.Caption()) == up) {
      level.index = i;
      ChooseMenuItem(it);
      return true;
    }
  }
  return true;  // an open menu takes every key
}
