// The engine host's log writers: W3C files and their headers, the console
// relay, the statistics lines and the folder of the event log.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "Common/uClientThread.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/Misc.h"
#include "Common/uLogger.h"
#include "Common/uServerVerification.h"
#include "platform/DateTime.h"
#include "tests/HTTPRedirect/HostFixture.h"

namespace {

using hosttest::HostTest;
using hosttest::Settings;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class EngineLog : public HostTest {
 protected:
  // A client thread object whose request matched a domain with LogName.
  std::unique_ptr<TClientThread> ThreadOf(const std::string& logName) {
    auto t = std::make_unique<TClientThread>();
    t->MatchData->SiteName = logName;
    return t;
  }
  // The W3C file's content once every queued line is written.
  std::string ReadW3C(const std::string& file) {
    Host().FlushW3C();
    return ReadWholeFile(file);
  }
  std::string W3CFile(const std::string& logName, const std::string& day, const std::string& root = "") {
    return (root.empty() ? folder_.Path() + "Log/" : root) + "W3C/" + logName + "/ex" + day + ".log";
  }
  void SetLogDirectory(const std::string& dir) {
    WriteLockGuard g(Config().Synchronizer);
    Config().LogDirectory = dir;
  }
};

TEST_F(EngineLog, HeaderOncePerDomainDayAndFolder) {
  ScopedManualClock clock(EncodeDateTime(2026, 3, 9, 23, 59, 0, 0));
  auto shop = ThreadOf("shop");
  auto blog = ThreadOf("blog");
  // Today's file of the shop already exists with a header: a new host still
  // opens its first line with one.
  ForceDirectories(folder_.Path() + "Log/W3C/shop/");
  WriteWholeFile(W3CFile("shop", "260309"), "#Software: old\r\nline0\r\n");

  Host().ClientW3CLog("line1", shop.get());
  Host().ClientW3CLog("line2", shop.get());
  Host().ClientW3CLog("b1", blog.get());
  std::string shopFile = ReadW3C(W3CFile("shop", "260309"));
  EXPECT_EQ(Count(shopFile, "#Software: Vantrell Switch 2.2.51\r\n#Version: 1.0\r\n#Date: 2026-03-09 23:59:00\r\n"
                            "#Fields: date time c-ip"),
            1);
  EXPECT_NE(shopFile.find("#Software: old\r\nline0\r\n#Software: Vantrell Switch"), std::string::npos);
  EXPECT_NE(shopFile.find("cs(Referer)\r\nline1\r\nline2\r\n"), std::string::npos);
  EXPECT_EQ(Count(ReadW3C(W3CFile("blog", "260309")), "#Software"), 1);

  // Midnight: the next line opens the new day's file with a header.
  clock.clock().Advance(61000);
  Host().ClientW3CLog("line3", shop.get());
  const std::string next = ReadW3C(W3CFile("shop", "260310"));
  EXPECT_EQ(next.rfind("#Software: Vantrell Switch 2.2.51\r\n", 0), 0u);
  EXPECT_NE(next.find("cs(Referer)\r\nline3\r\n"), std::string::npos);

  // Another folder: a header again, and the file lies under the new root.
  TempFolder other;
  SetLogDirectory(other.Path() + "logs");
  Host().ClientW3CLog("line4", shop.get());
  const std::string moved = ReadW3C(W3CFile("shop", "260310", other.Path() + "logs/"));
  EXPECT_EQ(Count(moved, "#Software"), 1);
  EXPECT_NE(moved.find("line4\r\n"), std::string::npos);
}

// Runs under the thread sanitizer too.
class EngineLogThreads : public EngineLog {};

TEST_F(EngineLogThreads, SixteenThreadsOfOneDomainWriteOneHeader) {
  constexpr int kThreads = 16, kLines = 50;
  std::vector<std::unique_ptr<TClientThread>> owners;
  for (int i = 0; i < kThreads; ++i) owners.push_back(ThreadOf("shop"));
  std::atomic<int> ready{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < kThreads; ++i) {
    writers.emplace_back([&, i] {
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      for (int n = 0; n < kLines; ++n) Host().ClientW3CLog(Format("t%d-%d", i, n), owners[i].get());
    });
  }
  for (auto& w : writers) w.join();
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string file =
      ReadW3C(W3CFile("shop", Format("%.2d%.2d%.2d", year % 100, month, day)));
  EXPECT_EQ(Count(file, "#Software"), 1);
  EXPECT_EQ(file.rfind("#Software", 0), 0u) << "the header comes first";
  EXPECT_EQ(Count(file, "\r\nt"), kThreads * kLines);
}

TEST_F(EngineLog, W3CFailureCostsOneEventLineNotTheRequest) {
  // A file where the W3C root should be: no folder can be made below it.
  TempFolder other;
  WriteWholeFile(other.Path() + "blocked", "x");
  SetLogDirectory(other.Path() + "blocked");
  auto shop = ThreadOf("shop");
  EXPECT_NO_THROW(Host().ClientW3CLog("line", shop.get()));
  EXPECT_TRUE(Logged("Failed to create path " + other.Path() + "blocked/W3C/shop/!"));

  // A folder removed while the switch runs is made again for the next line.
  SetLogDirectory("");
  Host().ClientW3CLog("first", shop.get());
  Host().FlushW3C();
  std::filesystem::remove_all(folder_.Path() + "Log/W3C");
  const size_t mark = Mark();
  Host().ClientW3CLog("second", shop.get());
  EXPECT_EQ(Since(mark).size(), 0u);
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  EXPECT_NE(ReadW3C(W3CFile("shop", Format("%.2d%.2d%.2d", year % 100, month, day))).find("second\r\n"),
            std::string::npos);

  // A log name that would leave the log root is refused.
  SetLogDirectory("");
  auto escape = ThreadOf("../escape");
  EXPECT_NO_THROW(Host().ClientW3CLog("line", escape.get()));
  EXPECT_TRUE(Logged("W3C log name refused : ../escape"));
  EXPECT_FALSE(DirectoryExists(folder_.Path() + "Log/escape"));
}

TEST_F(EngineLog, W3CWriteFailureIsLoggedOncePerBurstAndTheFileStartsAgainWithAHeader) {
  auto shop = ThreadOf("shop");
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string file = W3CFile("shop", Format("%.2d%.2d%.2d", year % 100, month, day));
  Host().ClientW3CLog("first", shop.get());
  Host().FlushW3C();
  // A folder where the file was: the writer can no longer open it.
  ASSERT_TRUE(std::filesystem::remove(file));
  ASSERT_TRUE(ForceDirectories(file));
  const size_t mark = Mark();
  for (int i = 0; i < 3; ++i) {
    EXPECT_NO_THROW(Host().ClientW3CLog(Format("lost%d", i), shop.get()));
    Host().FlushW3C();  // one failed write each
  }
  const Lines failed = Since(mark);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], "W3C log write failed : Cannot open " + file + " : Is a directory");

  std::filesystem::remove(file);
  Host().ClientW3CLog("back", shop.get());
  const std::string again = ReadW3C(file);
  EXPECT_EQ(again.rfind("#Software: Vantrell Switch", 0), 0u) << again;
  EXPECT_NE(again.find("cs(Referer)\r\nback\r\n"), std::string::npos) << again;
  EXPECT_EQ(again.find("lost"), std::string::npos);
  EXPECT_EQ(Since(mark).size(), 1u) << "a write that works again costs no line";
}

TEST_F(EngineLog, StopWritesTheQueuedW3CLines) {
  auto shop = ThreadOf("shop");
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    Host().ClientW3CLog(Format("line%d", i), shop.get());
    expected += Format("line%d\r\n", i);
  }
  Stop();
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string file = ReadWholeFile(W3CFile("shop", Format("%.2d%.2d%.2d", year % 100, month, day)));
  EXPECT_TRUE(file.ends_with(expected)) << "every line is in the file once the stop returns";
}

TEST_F(EngineLog, RelayRules) {
  struct Relayed {
    std::string text;
    uint8_t kind;
  };
  std::vector<Relayed> seen;
  Host().SetGUILogSink([&](const std::string& text, uint8_t kind) { seen.push_back({text, kind}); });
  auto t = ThreadOf("shop");
  auto deliver = [&] {
    seen.clear();
    MainLoop::Instance().ProcessPending(MainLoop::PumpMode::PostedOnly);
  };

  struct Case {
    uint8_t flags, state;
    bool host, client, w3c;  // relayed?
  };
  const Case cases[] = {
      {0, 0, true, false, false}, {0, 1, true, false, false}, {1, 1, true, true, false},
      {2, 1, true, false, true},  {3, 2, true, false, false}, {3, 3, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("flags %d, state %d", c.flags, c.state));
    Host().GUILogFlags = c.flags;
    Host().Stats->ServerState = c.state;
    deliver();
    Host().Log("host line");
    Host().ClientLog("client line", t.get());
    Host().ClientW3CLog("w3c line", t.get());
    Host().WebAdminLog(&Config(), "admin line");
    GlobalLogger->Log(1, "logger line");
    EXPECT_TRUE(seen.empty()) << "lines reach the console on the main loop only";
    MainLoop::Instance().ProcessPending(MainLoop::PumpMode::PostedOnly);
    std::vector<std::string> texts;
    for (const Relayed& r : seen) {
      texts.push_back(r.text);
      EXPECT_EQ(r.kind, r.text == "w3c line" ? 1 : 0);
    }
    Lines expected;
    if (c.host) expected.push_back("host line");
    if (c.client) expected.push_back("client line");
    if (c.w3c) expected.push_back("w3c line");
    EXPECT_EQ(texts, expected);
  }
  EXPECT_TRUE(Logged("Web Admin : admin line"));
  EXPECT_TRUE(Logged("Wrn-logger line"));

  // A client thread never waits for the main thread.
  Host().GUILogFlags = 1;
  Host().Stats->ServerState = 1;
  std::thread other([&] { Host().ClientLog("from a client thread", t.get()); });
  other.join();
  seen.clear();
  MainLoop::Instance().ProcessPending(MainLoop::PumpMode::PostedOnly);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "from a client thread");
  seen.clear();
  // A sink cleared before its lines are delivered gets none.
  Host().ClientLog("late line", t.get());
  Host().SetGUILogSink(nullptr);
  MainLoop::Instance().ProcessPending(MainLoop::PumpMode::PostedOnly);
  EXPECT_TRUE(seen.empty());
}

TEST_F(EngineLog, StatisticsLinesWithASettableClock) {
  ScopedManualClock clock(45000.0, 5000000);
  size_t mark = Mark();
  Host().Timer_UpdateStatsTimer();
  Lines lines = Since(mark);
  ASSERT_EQ(lines.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lines[i].rfind(Format("STAT%d: ", i + 1), 0), 0u) << lines[i];
  EXPECT_EQ(lines[0],
            "STAT1: ActiveThreads=0, PooledThreads=0, Trans=0, Compr=0, Conn=0, LBConn=0, EventLogDropped=0, "
            "W3CLogDropped=0");
  EXPECT_EQ(lines[1],
            "STAT2: Req=0, KB/s=0.0, Req/s=0.0, Comp%=0.00%, KeepAlive=0, Transfer=0, MaxKB/s=0.0, MaxReq/s=0.0");
  // Process-wide counters: earlier tests of this process may have moved them.
  EXPECT_EQ(lines[2], Format("STAT3: VerificationThreads; Created=%s, Running=%s, Freed=%s",
                             FormatThousands(VerificationThreadsCreated), FormatThousands(VerificationThreadsRunning),
                             FormatThousands(VerificationThreadsFreed)));

  struct Step {
    uint64_t advanceMs;
    bool batch;
  };
  const Step steps[] = {{250, false}, {599750, false}, {1, true}, {600000, false}, {1, true}};
  for (const Step& s : steps) {
    clock.clock().Advance(s.advanceMs);
    mark = Mark();
    Host().Timer_UpdateStatsTimer();
    EXPECT_EQ(Since(mark).size(), s.batch ? 5u : 0u) << "after +" << s.advanceMs;
  }

  // Thousands are grouped; STAT6 comes once per new maximum.
  Host().Stats->BytesTransferred = 1234567;
  ActiveThreads = 3;
  mark = Mark();
  Host().Timer_UpdateStatsTimer();
  Host().Timer_UpdateStatsTimer();
  lines = Since(mark);
  ActiveThreads = 0;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "STAT6: ActiveThreads=3, PooledThreads=0, MaxThreads=3, MaxPooledThreads=40");
  clock.clock().Advance(600001);
  mark = Mark();
  Host().Timer_UpdateStatsTimer();
  EXPECT_NE(Since(mark).at(0).find("Trans=1 234 567,"), std::string::npos);
}

// Lines a full writer queue dropped are counted per log and shown after the
// fixed figures of STAT1. A line larger than the whole queue is always
// dropped, so no slow disk is needed to play one.
TEST_F(EngineLog, StatisticsLineCountsDroppedLogLines) {
  ScopedManualClock clock(45000.0, 5000000);
  const std::string huge((32u << 20) + 1, 'x');
  Host().LogFile->Flush();
  Host().LogFile->WriteLine(huge);
  auto thread = ThreadOf("shop");
  Host().ClientW3CLog(huge, thread.get());
  Host().ClientW3CLog(huge, thread.get());
  EXPECT_EQ(Host().EventLogDropped(), 1u);
  EXPECT_EQ(Host().W3CLogDropped(), 2u);
  const size_t mark = Mark();
  Host().Timer_UpdateStatsTimer();
  const Lines lines = Since(mark);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0],
            "STAT1: ActiveThreads=0, PooledThreads=0, Trans=0, Compr=0, Conn=0, LBConn=0, EventLogDropped=1, "
            "W3CLogDropped=2");
  EXPECT_EQ(ReadW3C(W3CFile("shop", "230315")), "") << "nothing of the dropped lines reached the file";
}

TEST_F(EngineLog, EventLogFollowsTheConfiguredFolder) {
  Host().Log("before");
  const std::string first = Host().LogFile->CurrentFileName();
  EXPECT_EQ(first.rfind(folder_.Path() + "Log/VT/vt", 0), 0u) << first;

  TempFolder other;
  SetLogDirectory(other.Path() + "logs");
  Host().Timer_UpdateStatsTimer();
  Host().Log("after");
  Host().LogFile->Flush();
  const std::string moved = Host().LogFile->CurrentFileName();
  EXPECT_EQ(moved.rfind(other.Path() + "logs/VT/vt", 0), 0u) << moved;
  EXPECT_NE(ReadWholeFile(moved).find("|after\r\n"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(first).find("after"), std::string::npos);
}

TEST_F(EngineLog, AffinityFileSavedOnlyByAHostThatLoaded) {
  ForceDirectories("data");
  WriteWholeFile("data/lbconnections.bin", "kept as it was");
  // A host that never loaded settings leaves the file alone.
  host_.reset();
  EXPECT_EQ(ReadWholeFile("data/lbconnections.bin"), "kept as it was");

  host_ = std::make_unique<TdmHTTPBase>();
  WriteWholeFile("data/lbconnections.bin", "");  // an empty table file loads as nothing
  ASSERT_EQ(Load(), "No settings file found!");
  host_.reset();
  EXPECT_NE(ReadWholeFile("data/lbconnections.bin"), "kept as it was");
  EXPECT_FALSE(ReadWholeFile("data/lbconnections.bin").empty());
}

TEST_F(EngineLogThreads, DestructionWhileOtherThreadsLog) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> loggers;
  for (int i = 0; i < 4; ++i)
    loggers.emplace_back([&] {
      while (!stop) GlobalLogger->Log(1, "busy");
    });
  std::this_thread::sleep_for(20ms);
  host_.reset();
  std::this_thread::sleep_for(20ms);
  stop = true;
  for (auto& t : loggers) t.join();
  EXPECT_FALSE(GlobalLogger->HasOnLog());
}

}  // namespace
