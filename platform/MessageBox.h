// Message boxes. The program asks through the one installed MessageBoxer:
// on a terminal it prints the text and asks; without one it writes the text
// to standard error and takes the default answer; tests install a recorder.
#pragma once

#include <memory>
#include <string>
#include <vector>

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };
enum class TMsgResult { mrOk, mrCancel, mrYes, mrNo };
enum class TMsgButtons { mbOK, mbYesNo, mbOKCancel };

class MessageBoxer {
 public:
  virtual ~MessageBoxer() = default;
  // DefaultAnswer is what a box without a person in front of it answers.
  virtual TMsgResult Show(const std::string& caption, const std::string& text, TMsgDlgType type,
                          TMsgButtons buttons, TMsgResult defaultAnswer) = 0;
  // Any thread: boxes waiting for a person take their default answer now.
  virtual void AnswerOpenBoxesWithDefault() {}
};

// Installs Boxer (nullptr restores the standard one: terminal or stderr).
void InstallMessageBoxer(std::unique_ptr<MessageBoxer> boxer);
MessageBoxer& CurrentMessageBoxer();
// Answers the installed boxer's open boxes with their defaults (a service stop).
void AnswerOpenBoxesWithDefault();

TMsgResult MessageDlg(const std::string& caption, const std::string& text, TMsgDlgType type = TMsgDlgType::mtInformation,
                      TMsgButtons buttons = TMsgButtons::mbOK, TMsgResult defaultAnswer = TMsgResult::mrOk);
// Plain information box with OK, as the program's ShowMessage.
void ShowMessage(const std::string& text);

// Records every box and answers from a queue (then the default answer).
class RecordingMessageBoxer : public MessageBoxer {
 public:
  struct Shown {
    std::string caption, text;
    TMsgDlgType type;
    TMsgButtons buttons;
  };
  TMsgResult Show(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgButtons buttons,
                  TMsgResult defaultAnswer) override;
  std::vector<Shown> shown;
  std::vector<TMsgResult> answers;  // taken from the front
};
