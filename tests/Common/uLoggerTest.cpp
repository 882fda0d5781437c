#include "Common/uLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Recorder {
  std::vector<std::string> lines;
  TLoggerCallback::TLogEvent fn() {
    return [this](const std::string& l) { lines.push_back(l); };
  }
};

TEST(uLogger, SplitsAtCrLfWithTheLevelPrefix) {
  struct Case {
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a\r\nb", {"Wrn-a", "Wrn-b"}},
      {"", {"Wrn-"}},
      {"a\r\n", {"Wrn-a", "Wrn-"}},
      {"a\r\n\r\nb", {"Wrn-a", "Wrn-", "Wrn-b"}},
      {"lone\rCR\nLF", {"Wrn-lone\rCR\nLF"}},
      {"LBConnectionCount reset to 1. Old value was 2147483647",
       {"Wrn-LBConnectionCount reset to 1. Old value was 2147483647"}},
  };
  for (const Case& c : cases) {
    TLoggerCallback logger;
    Recorder rec;
    logger.SetOnLog(rec.fn());
    logger.LogInfoFmt("%s", c.text);
    EXPECT_EQ(rec.lines, c.lines);
  }
}

TEST(uLogger, LevelFilterAndNames) {
  TLoggerCallback logger;
  Recorder rec;
  logger.SetOnLog(rec.fn());
  logger.LogFmt(3, "debug");  // not in the default {0, 1, 2}
  logger.Levels = 15;
  logger.LogFmt(0, "e%d", 1);
  logger.LogFmt(2, "t");
  logger.LogFmt(3, "d");
  logger.LogFmt(4, "never");
  logger.LogFmt(200, "never");
  logger.Levels = 0xFF;
  logger.LogFmt(7, "seven");
  logger.LogFmt(8, "never");
  logger.Enabled = false;
  logger.LogFmt(1, "never");
  EXPECT_EQ(rec.lines, (std::vector<std::string>{"Exp-e1", "Trc-t", "Dbg-d", "7-seven"}));
}

TEST(uLogger, WithoutCallbackNothingHappensAndFormatIsSkipped) {
  TLoggerCallback logger;
  EXPECT_FALSE(logger.HasOnLog());
  EXPECT_NO_THROW(logger.LogInfoFmt("%d", 1));
  // A filtered level does not even format.
  EXPECT_NO_THROW(logger.LogFmt(5, "%d", "not a number"));
  Recorder rec;
  logger.SetOnLog(rec.fn());
  logger.SetOnLog(nullptr);
  logger.LogInfoFmt("dropped");
  EXPECT_TRUE(rec.lines.empty());
}

TEST(uLogger, CallbackExceptionReachesTheCallerAndReleasesTheLock) {
  TLoggerCallback logger;
  logger.SetOnLog([](const std::string&) { throw Exception("sink failed"); });
  EXPECT_THROW(logger.LogInfoFmt("x"), Exception);
  Recorder rec;
  logger.SetOnLog(rec.fn());  // would deadlock if the lock were still held
  logger.LogInfoFmt("y");
  EXPECT_EQ(rec.lines, (std::vector<std::string>{"Wrn-y"}));
}

TEST(uLogger, CallbackMayClearItselfOrLogAgain) {
  TLoggerCallback logger;
  std::vector<std::string> lines;
  logger.SetOnLog([&](const std::string& l) {
    lines.push_back(l);
    if (l == "Wrn-again") logger.LogInfoFmt("nested");
    if (l == "Wrn-stop") logger.SetOnLog(nullptr);
  });
  logger.LogInfoFmt("again");
  logger.LogInfoFmt("stop\r\nrest");  // the rest of a line already in flight still arrives
  logger.LogInfoFmt("gone");
  EXPECT_EQ(lines, (std::vector<std::string>{"Wrn-again", "Wrn-nested", "Wrn-stop", "Wrn-rest"}));
}

TEST(uLogger, GlobalLoggerExists) {
  ASSERT_NE(GlobalLogger, nullptr);
  EXPECT_TRUE(GlobalLogger->Enabled);
}

TEST(uLoggerThreads, ConcurrentWritersNeverOverlap) {
  TLoggerCallback logger;
  std::atomic<int> inside{0}, overlaps{0};
  std::vector<std::string> lines;  // guarded by the logger's own lock
  logger.SetOnLog([&](const std::string& l) {
    if (inside.fetch_add(1) != 0) ++overlaps;
    lines.push_back(l);
    std::this_thread::yield();
    inside.fetch_sub(1);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) logger.LogInfoFmt("t%d\r\ni%d", t, i);
    });
  // Clearing and setting the callback while others log is safe too.
  std::thread toggler([&] {
    for (int i = 0; i < 50; ++i) {
      auto keep = [&](const std::string& l) {
        if (inside.fetch_add(1) != 0) ++overlaps;
        lines.push_back(l);
        inside.fetch_sub(1);
      };
      logger.SetOnLog(keep);
    }
  });
  for (auto& th : threads) th.join();
  toggler.join();
  EXPECT_EQ(overlaps.load(), 0);
  // Each call's two lines arrive together.
  ASSERT_EQ(lines.size(), 8u * 200u * 2u);
  for (size_t i = 0; i < lines.size(); i += 2) {
    ASSERT_EQ(lines[i].substr(0, 5), "Wrn-t");
    ASSERT_EQ(lines[i + 1].substr(0, 5), "Wrn-i");
  }
}

}  // namespace
