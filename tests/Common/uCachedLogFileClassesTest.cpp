#include "Common/uCachedLogFileClasses.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "tests/platform/TcpTestSupport.h"
#include "platform/Classes.h"

namespace {

const TDateTime kAfternoon = EncodeDateTime(2009, 12, 9, 14, 3, 7, 0);

// Occurrences of What that do not overlap.
int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

int64_t DiskSize(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 ? st.st_size : -1;
}

class LogFile : public ::testing::Test {
 protected:
  // An event log as the engine makes it.
  std::unique_ptr<TLogFile> EventLog(const std::string& folder) {
    auto log = std::make_unique<TLogFile>(folder, TLogFile::smDateTime, true, "txt", "vt", "");
    log->SetSeparator("|");
    return log;
  }
  ScopedManualClock clock_{kAfternoon};
  TempFolder dir_;
};

}  // namespace

TEST_F(LogFile, DateNamedAndFixedNames) {
  auto log = EventLog(dir_.Path() + "Log/VT/");
  EXPECT_TRUE(log->Enabled());
  EXPECT_EQ(log->CurrentFileName(), dir_.Path() + "Log/VT/vt091209.txt");
  EXPECT_TRUE(FileExists(log->CurrentFileName())) << "opened, with every missing folder level, at creation";

  TLogFile fixed(dir_.Path(), TLogFile::smNone, false, "txt", "vt", "service.log");
  EXPECT_EQ(fixed.CurrentFileName(), dir_.Path() + "service.log");
}

TEST_F(LogFile, StampModesAndLineBreaks) {
  struct Case {
    uint8_t mode;
    std::string text;
    std::string file;
  } cases[] = {
      {0, "plain", "plain\r\n"},
      {1, "timed", "14:03:07|timed\r\n"},
      {2, "dated", "2009-12-09 14:03:07|dated\r\n"},
      {3, "dropped", ""},
      {2, "a\r\nb", "2009-12-09 14:03:07|a\r\n2009-12-09 14:03:07|b\r\n"},
      {2, "a\r\n", "2009-12-09 14:03:07|a\r\n2009-12-09 14:03:07|\r\n"},
      {0, "\r\n", "\r\n\r\n"},
      {2, "lf\nonly", "2009-12-09 14:03:07|lf\nonly\r\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "case" + std::to_string(n++) + ".log";
    {
      TLogFile log(dir_.Path(), c.mode, false, "", "", name);
      log.SetSeparator("|");
      log.WriteLine(c.text);
    }
    EXPECT_EQ(ReadWholeFile(dir_.Path() + name), c.file) << "mode " << int(c.mode) << " text " << c.text;
  }
}

TEST_F(LogFile, WriteAddsNothingAndAppendsToAnExistingFile) {
  const std::string name = dir_.Path() + "vt091209.txt";
  WriteWholeFile(name, "earlier\r\n");
  {
    auto log = EventLog(dir_.Path());
    log->Write("raw");
    log->WriteLine("line");
  }
  EXPECT_EQ(ReadWholeFile(name), "earlier\r\nraw2009-12-09 14:03:07|line\r\n");
}

TEST_F(LogFile, LinesWaitInTheBufferUntilFlush) {
  auto log = EventLog(dir_.Path());
  const std::string name = log->CurrentFileName();
  log->WriteLine("one");
  EXPECT_EQ(DiskSize(name), 0);
  log->Flush();
  EXPECT_EQ(ReadWholeFile(name), "2009-12-09 14:03:07|one\r\n");
  log->Flush();  // nothing new: nothing happens
  EXPECT_EQ(ReadWholeFile(name), "2009-12-09 14:03:07|one\r\n");
  log->WriteLine("two");
  log.reset();  // destruction writes the rest
  EXPECT_EQ(ReadWholeFile(name), "2009-12-09 14:03:07|one\r\n2009-12-09 14:03:07|two\r\n");
}

TEST_F(LogFile, MidnightSwitchesToTheNewDaysFile) {
  clock_.clock().SetNow(EncodeDateTime(2009, 12, 9, 23, 59, 59, 500));
  auto log = EventLog(dir_.Path());
  log->WriteLine("before");
  clock_.clock().Advance(1000);
  log->WriteLine("after");
  // The old file's lines go to the writer at the switch: it becomes
  // complete although nobody flushes it.
  EXPECT_TRUE(tcptest::WaitUntil(
      [&] { return ReadWholeFile(dir_.Path() + "vt091209.txt") == "2009-12-09 23:59:59|before\r\n"; }))
      << ReadWholeFile(dir_.Path() + "vt091209.txt");
  EXPECT_EQ(log->CurrentFileName(), dir_.Path() + "vt091210.txt");
  log->Flush();
  EXPECT_EQ(ReadWholeFile(dir_.Path() + "vt091210.txt"), "2009-12-10 00:00:00|after\r\n");
}

TEST_F(LogFile, FolderChangeMovesTheLogAndCreatesTheFolder) {
  auto log = EventLog(dir_.Path() + "Log/VT/");
  log->WriteLine("old place");
  const std::string moved = dir_.Path() + "elsewhere/deeper/VT/";
  log->SetFolder(moved);
  EXPECT_EQ(log->Folder(), moved);
  log->WriteLine("new place");
  EXPECT_TRUE(tcptest::WaitUntil(
      [&] { return ReadWholeFile(dir_.Path() + "Log/VT/vt091209.txt") == "2009-12-09 14:03:07|old place\r\n"; }))
      << ReadWholeFile(dir_.Path() + "Log/VT/vt091209.txt");
  log.reset();
  EXPECT_EQ(ReadWholeFile(moved + "vt091209.txt"), "2009-12-09 14:03:07|new place\r\n");
}

// A folder that cannot exist (a file stands in its path): lines are dropped
// without an error, and writing resumes under the next file name, which
// starts with the count of the lines lost.
TEST_F(LogFile, ImpossibleFolderDropsLinesUntilTheNameChanges) {
  WriteWholeFile(dir_.Path() + "blocker", "a file, not a folder");
  const std::string blocked = dir_.Path() + "blocker/VT/";
  auto log = EventLog(blocked);
  EXPECT_FALSE(log->Enabled());
  EXPECT_NO_THROW(log->WriteLine("lost"));
  EXPECT_NO_THROW(log->Flush());
  EXPECT_NO_THROW(log->Clear());

  log->SetFolder(dir_.Path() + "good/");
  log->WriteLine("found");
  EXPECT_TRUE(log->Enabled());
  log->Flush();
  EXPECT_EQ(ReadWholeFile(dir_.Path() + "good/vt091209.txt"),
            "2009-12-09 14:03:07|Event log reopened : 1 lines dropped while it could not be opened\r\n"
            "2009-12-09 14:03:07|found\r\n");

  log->SetFolder(blocked);
  log->WriteLine("lost again");
  EXPECT_FALSE(log->Enabled());
  std::filesystem::remove(dir_.Path() + "blocker");
  log->WriteLine("still the same name: still off");
  clock_.clock().Advance(86400000);
  log->WriteLine("next day");
  EXPECT_TRUE(log->Enabled());
  log.reset();
  EXPECT_EQ(ReadWholeFile(blocked + "vt091210.txt"),
            "2009-12-10 14:03:07|Event log reopened : 2 lines dropped while it could not be opened\r\n"
            "2009-12-10 14:03:07|next day\r\n");
  EXPECT_FALSE(FileExists(blocked + "vt091209.txt"));
}

// A log that could not open its file (a full disk, no descriptors left, a
// folder not writable yet; played by a file where the folder should be)
// tries again at the first line a second after its last try, not only
// under the next day's name, and its first line says what was lost.
TEST_F(LogFile, AnOffLogTriesAgainEverySecond) {
  const std::string blocker = dir_.Path() + "Log";
  WriteWholeFile(blocker, "a file, not a folder");
  auto log = EventLog(blocker + "/VT/");
  ASSERT_FALSE(log->Enabled());
  log->WriteLine("lost one");
  log->WriteLine("lost two\r\nand three");
  clock_.clock().Advance(999);
  log->WriteLine("lost four: a second has not passed, no try");
  EXPECT_FALSE(log->Enabled());
  clock_.clock().Advance(1);
  log->WriteLine("lost five: tried, still broken");
  EXPECT_FALSE(log->Enabled());
  std::filesystem::remove(blocker);
  clock_.clock().Advance(500);
  log->WriteLine("lost six: tried half a second ago");
  EXPECT_FALSE(log->Enabled());
  clock_.clock().Advance(500);
  log->WriteLine("back");
  EXPECT_TRUE(log->Enabled());
  log->Flush();
  EXPECT_EQ(ReadWholeFile(blocker + "/VT/vt091209.txt"),
            "2009-12-09 14:03:09|Event log reopened : 6 lines dropped while it could not be opened\r\n"
            "2009-12-09 14:03:09|back\r\n");
  log->WriteLine("and on");
  log->Flush();
  EXPECT_EQ(Count(ReadWholeFile(blocker + "/VT/vt091209.txt"), "reopened"), 1) << "said once";
}

// A full disk, played by the file size limit: a flush that gets only part
// of its bytes out leaves no torn line behind, and the log goes on once
// there is room again.
TEST_F(LogFile, LinesAreWrittenWholeOrNotAtAllOnAFullDisk) {
  auto log = EventLog(dir_.Path());
  const std::string name = log->CurrentFileName();
  log->WriteLine("first");
  log->Flush();
  const int64_t whole = DiskSize(name);
  ASSERT_GT(whole, 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = static_cast<rlim_t>(whole + 100);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool failed = false;
  try {
    for (int i = 0; i < 10; ++i) log->WriteLine("W3C log line number " + std::to_string(i) + " of some length");
    log->Flush();
  } catch (const EBxHugeFile&) {
    failed = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(failed);
  std::string text = ReadWholeFile(name);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << text;
  log->WriteLine("after");
  log->Flush();
  text = ReadWholeFile(name);
  EXPECT_EQ(text.substr(text.size() - 7), "after\r\n") << text;
  for (size_t at = text.find("W3C log"); at != std::string::npos; at = text.find("W3C log", at + 1)) {
    EXPECT_NE(text.find("of some length\r\n", at), std::string::npos) << text;
  }
}

// A full buffer goes to the log's writer: the thread that logs never
// writes the file, and the lines arrive without a Flush.
TEST_F(LogFile, AFullBufferIsWrittenByTheWriterWithoutAFlush) {
  auto log = EventLog(dir_.Path());
  const std::string name = log->CurrentFileName();
  const std::string text(1000, 'x');
  for (int i = 0; i < 66; ++i) log->WriteLine(text);
  const int64_t line = static_cast<int64_t>(std::string("2009-12-09 14:03:07|").size() + text.size() + 2);
  EXPECT_TRUE(tcptest::WaitUntil([&] { return DiskSize(name) == 65 * line; })) << DiskSize(name);
  log->Flush();
  EXPECT_EQ(DiskSize(name), 66 * line);
}

TEST_F(LogFile, ClearEmptiesTheFile) {
  auto log = EventLog(dir_.Path());
  log->WriteLine("gone");
  log->Flush();
  log->WriteLine("gone too, never written");
  log->Clear();
  EXPECT_EQ(DiskSize(log->CurrentFileName()), 0);
  log->WriteLine("kept");
  log.reset();
  EXPECT_EQ(ReadWholeFile(dir_.Path() + "vt091209.txt"), "2009-12-09 14:03:07|kept\r\n");
}

namespace {

// A manual clock whose next tick read, or next time read, first runs a hook
// once: the log's writer reads the tick at the start of each round of writes,
// and a thread that logs reads the time while it holds the log's lock.
class HookClock : public ManualClock {
 public:
  using ManualClock::ManualClock;
  uint64_t TickMs64() override {
    Run(onTick_);
    return ManualClock::TickMs64();
  }
  TDateTime NowLocal() override {
    Run(onNow_);
    return ManualClock::NowLocal();
  }
  void OnNextTick(std::function<void()> hook) { Set(onTick_, std::move(hook)); }
  void OnNextNow(std::function<void()> hook) { Set(onNow_, std::move(hook)); }

 private:
  void Set(std::function<void()>& slot, std::function<void()> hook) {
    std::lock_guard<std::mutex> g(mutex_);
    slot = std::move(hook);
  }
  void Run(std::function<void()>& slot) {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> g(mutex_);
      hook.swap(slot);
    }
    if (hook) hook();
  }
  std::mutex mutex_;
  std::function<void()> onTick_, onNow_;
};

struct InstalledClock {
  explicit InstalledClock(Clock& clock) { InstallClock(&clock); }
  ~InstalledClock() { InstallClock(nullptr); }
};

}  // namespace

// A line logged while Clear runs, after it began, is kept, even when another
// thread has it written before Clear is done: Clear never wipes it after it
// was written. The hooks pin the order: the writer's round for Clear lets a
// second thread log a line large enough to go to the writer at once; that
// thread then holds the log's lock until the line is in the file.
TEST(LogFileThreads, ClearNeverWipesALineLoggedAfterItBegan) {
  HookClock clock(kAfternoon);
  InstalledClock installed(clock);
  TempFolder dir;
  const std::string stamp = "2009-12-09 14:03:07|";
  const std::string during(64 * 1024, 'd');
  {
    TLogFile log(dir.Path(), TLogFile::smDateTime, true, "txt", "vt", "");
    log.SetSeparator("|");
    const std::string name = log.CurrentFileName();
    log.WriteLine("before");
    std::promise<void> go, handedOver;
    std::shared_future<void> goFuture = go.get_future().share();
    std::shared_future<void> handedOverFuture = handedOver.get_future().share();
    std::atomic<bool> sawDuring{false};
    std::thread other([&] {
      if (goFuture.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return;
      log.WriteLine(during);  // a full buffer: handed to the writer at once
      handedOver.set_value();
      clock.OnNextNow([&] {
        sawDuring = tcptest::WaitUntil(
            [&] { return ReadWholeFile(name).find(during) != std::string::npos; }, std::chrono::seconds(10));
      });
      log.WriteLine("after");
    });
    clock.OnNextTick([&] {
      go.set_value();
      handedOverFuture.wait_for(std::chrono::seconds(10));
    });
    log.Clear();
    other.join();
    EXPECT_TRUE(sawDuring) << "the line logged during Clear was written before Clear ended";
    log.Flush();
    EXPECT_EQ(ReadWholeFile(name), stamp + during + "\r\n" + stamp + "after\r\n");
  }
}

// A writer that cannot keep up (held here inside its first round) fills its
// queue; the blocks past the cap are dropped, and every dropped line is
// counted: the lines in the file and the lines counted make all written.
TEST(LogFileThreads, LinesPastTheFullQueueAreCounted) {
  HookClock clock(kAfternoon);
  InstalledClock installed(clock);
  TempFolder dir;
  const std::string text(1000, 'l');
  constexpr int kFirst = 66;   // one block for the writer to hold
  constexpr int kMore = 1000;  // about 1 MiB more: past the cap
  {
    TLogFile log(dir.Path(), TLogFile::smDateTime, true, "txt", "vt", "", 512 * 1024);
    log.SetSeparator("|");
    const std::string name = log.CurrentFileName();
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    clock.OnNextTick([&] {
      entered.set_value();
      released.wait_for(std::chrono::seconds(10));
    });
    for (int i = 0; i < kFirst; ++i) log.WriteLine(text);
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    for (int i = 0; i < kMore; ++i) log.WriteLine(text);
    EXPECT_GT(log.DroppedLines(), 0u);
    release.set_value();
    log.Flush();
    log.Flush();  // the episode's line, logged by the writer at the first
    const std::string file = ReadWholeFile(name);
    EXPECT_EQ(static_cast<uint64_t>(Count(file, text)) + log.DroppedLines(), uint64_t{kFirst + kMore});
    EXPECT_EQ(Count(file, "|Event log queue full : "), 1) << "one line per episode";
  }
}

// Writers on several threads, one of them with two-line texts, and a flusher:
// every stamped line arrives whole, the pieces of one text stay together,
// and each writer's lines keep their order.
TEST(LogFileThreads, ConcurrentWritersAndFlusher) {
  ScopedManualClock clock(kAfternoon);
  TempFolder dir;
  constexpr int kWriters = 4;
  constexpr int kLines = 500;
  {
    TLogFile log(dir.Path(), TLogFile::smDateTime, true, "txt", "vt", "");
    log.SetSeparator("|");
    std::atomic<bool> done{false};
    std::thread flusher([&] {
      while (!done) log.Flush();
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back([&log, w] {
        for (int i = 0; i < kLines; ++i) {
          const std::string text = "w" + std::to_string(w) + " " + std::to_string(i);
          log.WriteLine(w == 0 ? text + "\r\n" + text + " second" : text);
        }
      });
    }
    for (auto& t : writers) t.join();
    done = true;
    flusher.join();
  }
  TStringList lines;
  lines.SetText(ReadWholeFile(dir.Path() + "vt091209.txt"));
  ASSERT_EQ(lines.Count(), (kWriters + 1) * kLines);
  const std::string stamp = "2009-12-09 14:03:07|";
  int next[kWriters] = {};
  for (int i = 0; i < lines.Count(); ++i) {
    ASSERT_EQ(lines[i].substr(0, stamp.size()), stamp) << i;
    const std::string text = lines[i].substr(stamp.size());
    const int w = text[1] - '0';
    ASSERT_TRUE(w >= 0 && w < kWriters) << text;
    const std::string expected = "w" + std::to_string(w) + " " + std::to_string(next[w]);
    ASSERT_EQ(text, expected);
    if (w == 0) {
      ASSERT_LT(i + 1, lines.Count());
      ASSERT_EQ(lines[++i], stamp + expected + " second");
    }
    ++next[w];
  }
}
