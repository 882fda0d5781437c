#include "platform/MessageBox.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform/SysUtils.h"

namespace {

const char* TypeWord(TMsgDlgType type) {
  switch (type) {
    case TMsgDlgType::mtWarning: return "Warning";
    case TMsgDlgType::mtError: return "Error";
    case TMsgDlgType::mtConfirmation: return "Confirm";
    case TMsgDlgType::mtInformation: break;
  }
  return "Information";
}

// Without a person at a terminal every box is written to standard error and
// answered with its default. On a terminal a box with a choice asks on
// standard input; a plain OK box only prints, there being nothing to choose.
class StandardMessageBoxer : public MessageBoxer {
 public:
  TMsgResult Show(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgButtons buttons,
                  TMsgResult defaultAnswer) override {
    std::string out = caption.empty() ? std::string(TypeWord(type)) : caption;
    out += "\n" + text + "\n";
    const bool ask = buttons != TMsgButtons::mbOK && ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
    if (!ask) {
      std::fputs(out.c_str(), stderr);
      std::fflush(stderr);
      return buttons == TMsgButtons::mbOK ? TMsgResult::mrOk : defaultAnswer;
    }
    const bool yesNo = buttons == TMsgButtons::mbYesNo;
    const TMsgResult positive = yesNo ? TMsgResult::mrYes : TMsgResult::mrOk;
    const TMsgResult negative = yesNo ? TMsgResult::mrNo : TMsgResult::mrCancel;
    const char* prompt = yesNo ? (defaultAnswer == positive ? "[Y/n] " : "[y/N] ")
                               : (defaultAnswer == positive ? "[OK/cancel] " : "[ok/CANCEL] ");
    for (;;) {
      std::fputs((out + prompt).c_str(), stderr);
      std::fflush(stderr);
      std::string line;
      if (!std::getline(std::cin, line)) return defaultAnswer;
      const std::string a = LowerCase(Trim(line));
      if (a.empty()) return defaultAnswer;
      if (a == "y" || a == "yes" || a == "o" || a == "ok") return positive;
      if (a == "n" || a == "no" || a == "c" || a == "cancel") return negative;
    }
  }
};

// A box that waits holds no lock: the terminal's boxes pump the main loop,
// whose tasks may ask again. A boxer replaced meanwhile lives until its open
// boxes are answered.
struct Installed {
  std::mutex mutex;
  std::shared_ptr<MessageBoxer> boxer = std::make_shared<StandardMessageBoxer>();
};

Installed& TheBoxer() {
  static Installed installed;
  return installed;
}

std::shared_ptr<MessageBoxer> Current() {
  Installed& i = TheBoxer();
  std::lock_guard<std::mutex> lock(i.mutex);
  return i.boxer;
}

}  // namespace

void InstallMessageBoxer(std::unique_ptr<MessageBoxer> boxer) {
  Installed& i = TheBoxer();
  std::lock_guard<std::mutex> lock(i.mutex);
  i.boxer = boxer ? std::shared_ptr<MessageBoxer>(std::move(boxer)) : std::make_shared<StandardMessageBoxer>();
}

MessageBoxer& CurrentMessageBoxer() { return *Current(); }

void AnswerOpenBoxesWithDefault() { Current()->AnswerOpenBoxesWithDefault(); }

TMsgResult MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgButtons buttons,
                      TMsgResult defaultAnswer) {
  const std::shared_ptr<MessageBoxer> boxer = Current();
  return boxer->Show(caption, text, type, buttons, defaultAnswer);
}

void ShowMessage(const std::string& text) { MessageDlg("", text); }

TMsgResult RecordingMessageBoxer::Show(const std::string& caption, const std::string& text, TMsgDlgType type,
                                       TMsgButtons buttons, TMsgResult defaultAnswer) {
  shown.push_back(Shown{caption, text, type, buttons});
  if (answers.empty()) return defaultAnswer;
  const TMsgResult r = answers.front();
  answers.erase(answers.begin());
  return r;
}
