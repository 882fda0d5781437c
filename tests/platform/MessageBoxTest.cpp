#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace {

TEST(MessageBox, RecorderKeepsBoxesAndAnswersFromItsQueue) {
  auto owned = std::make_unique<RecordingMessageBoxer>();
  RecordingMessageBoxer* rec = owned.get();
  rec->answers = {TMsgResult::mrNo};
  InstallMessageBoxer(std::move(owned));
  EXPECT_EQ(&CurrentMessageBoxer(), rec);

  EXPECT_EQ(MessageDlg("Caption", "Stop the server?", TMsgDlgType::mtWarning, TMsgButtons::mbYesNo,
                       TMsgResult::mrYes),
            TMsgResult::mrNo);
  EXPECT_EQ(MessageDlg("Caption", "Again?", TMsgDlgType::mtWarning, TMsgButtons::mbYesNo, TMsgResult::mrYes),
            TMsgResult::mrYes);  // queue empty: the default answer
  ShowMessage("Done");
  ASSERT_EQ(rec->shown.size(), 3u);
  EXPECT_EQ(rec->shown[0].caption, "Caption");
  EXPECT_EQ(rec->shown[0].text, "Stop the server?");
  EXPECT_EQ(rec->shown[0].type, TMsgDlgType::mtWarning);
  EXPECT_EQ(rec->shown[0].buttons, TMsgButtons::mbYesNo);
  EXPECT_EQ(rec->shown[2].text, "Done");
  EXPECT_EQ(rec->shown[2].buttons, TMsgButtons::mbOK);
  InstallMessageBoxer(nullptr);
  EXPECT_NE(&CurrentMessageBoxer(), rec);
}

// Without a terminal the standard boxer writes to standard error and takes the
// default answer.
TEST(MessageBox, WithoutATerminalWritesToStderrAndTakesTheDefault) {
  InstallMessageBoxer(nullptr);
  std::FILE* tmp = std::tmpfile();
  ASSERT_NE(tmp, nullptr);
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  const int savedIn = dup(STDIN_FILENO);
  std::FILE* devnull = std::fopen("/dev/null", "r");
  ASSERT_NE(devnull, nullptr);
  dup2(fileno(tmp), STDERR_FILENO);
  dup2(fileno(devnull), STDIN_FILENO);
  const TMsgResult a = MessageDlg("Vantrell Switch", "Stop the server?", TMsgDlgType::mtWarning,
                                  TMsgButtons::mbYesNo, TMsgResult::mrNo);
  const TMsgResult b = MessageDlg("Cap", "Plain", TMsgDlgType::mtInformation);
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  dup2(savedIn, STDIN_FILENO);
  close(saved);
  close(savedIn);
  std::fclose(devnull);
  EXPECT_EQ(a, TMsgResult::mrNo);
  EXPECT_EQ(b, TMsgResult::mrOk);
  std::rewind(tmp);
  char buf[512] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, tmp);
  std::fclose(tmp);
  EXPECT_EQ(std::string(buf, n), "Vantrell Switch\nStop the server?\nCap\nPlain\n");
}

}  // namespace
