#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "Common/uAppendFiles.h"
#include "platform/DateTime.h"
#include "platform/SysUtils.h"
#include "tests/Common/TempFolder.h"

namespace {

TEST(AppendFiles, AppendsToExistingFileAndCreatesMissingFolders) {
  TempFolder dir;
  TAppendFiles files;
  const std::string existing = dir.Path() + "a.log";
  WriteWholeFile(existing, "old\r\n");
  EXPECT_TRUE(files.Append(existing, "one\r\n"));
  EXPECT_TRUE(files.Append(existing, "two", "\r\n"));
  files.Flush();
  EXPECT_EQ(ReadWholeFile(existing), "old\r\none\r\ntwo\r\n");

  const std::string deep = dir.Path() + "W3C/site/ex261210.log";
  files.Append(deep, "line\r\n");
  files.Append(deep, "");  // nothing to write, nothing changes
  files.Flush();
  EXPECT_EQ(ReadWholeFile(deep), "line\r\n");
  files.Flush();  // nothing queued: returns at once and changes nothing
  EXPECT_EQ(ReadWholeFile(existing), "old\r\none\r\ntwo\r\n");
  EXPECT_EQ(ReadWholeFile(deep), "line\r\n");
}

// Truncate empties the file in queue order: what was queued before it is
// wiped, what comes after is kept; a file that is gone is not made, and one
// that cannot be emptied is reported like a failed write.
TEST(AppendFiles, TruncateWipesWhatCameBeforeAndKeepsWhatComesAfter) {
  TempFolder dir;
  TAppendFiles files;
  std::vector<std::string> errors;  // written on the writer, read after a Flush
  std::mutex errorsMutex;
  files.SetOnWriteError([&](const std::string&, const std::string& message, bool) {
    std::lock_guard<std::mutex> g(errorsMutex);
    errors.push_back(message);
  });
  const std::string path = dir.Path() + "a.log";
  WriteWholeFile(path, "old\r\n");
  files.Append(path, "queued\r\n");
  files.Truncate(path);
  files.Append(path, "kept\r\n");
  files.Flush();
  EXPECT_EQ(ReadWholeFile(path), "kept\r\n");
  files.Truncate(path);
  files.Flush();
  EXPECT_EQ(ReadWholeFile(path), "");
  const std::string gone = dir.Path() + "gone.log";
  files.Truncate(gone);
  files.Flush();
  EXPECT_FALSE(FileExists(gone));
  const std::string folder = dir.Path() + "folder.log";
  std::filesystem::create_directory(folder);
  files.Truncate(folder);
  files.Flush();
  std::lock_guard<std::mutex> g(errorsMutex);
  EXPECT_EQ(errors, std::vector<std::string>{"Cannot truncate " + folder + " : Is a directory"});
}

TEST(AppendFiles, DeletedFileIsMadeAgainAtOnceAndMovedOneOnceTheDescriptorExpires) {
  ScopedManualClock clock;
  TempFolder dir;
  TAppendFiles files(50);
  const std::string path = dir.Path() + "x/ex.log";
  files.Append(path, "first\r\n");
  files.Flush();
  std::filesystem::remove_all(dir.Path() + "x");
  files.Append(path, "second\r\n");
  files.Flush();
  EXPECT_EQ(ReadWholeFile(path), "second\r\n") << "a removed folder and file are made again for the next line";

  ASSERT_EQ(::rename(path.c_str(), (dir.Path() + "moved.log").c_str()), 0);
  clock.clock().Advance(50);
  files.Append(path, "third\r\n");
  files.Flush();
  EXPECT_EQ(ReadWholeFile(path), "third\r\n");
  EXPECT_EQ(ReadWholeFile(dir.Path() + "moved.log"), "second\r\n");
}

TEST(AppendFiles, IdleFilesAreClosed) {
  ScopedManualClock clock;
  TempFolder dir;
  TAppendFiles files(30);
  files.Append(dir.Path() + "a.log", "a");
  files.Flush();
  clock.clock().Advance(29);
  files.Append(dir.Path() + "b.log", "b");
  files.Flush();
  EXPECT_EQ(files.OpenCount(), 2u);
  clock.clock().Advance(30);
  files.Append(dir.Path() + "c.log", "c");
  files.Flush();
  EXPECT_EQ(files.OpenCount(), 1u);
  files.CloseAll();
  EXPECT_EQ(files.OpenCount(), 0u);
  EXPECT_EQ(ReadWholeFile(dir.Path() + "a.log") + ReadWholeFile(dir.Path() + "b.log") +
                ReadWholeFile(dir.Path() + "c.log"),
            "abc");
}

// Errors happen on the writer and reach the event, each failed write once;
// Repeated tells a burst's later failures, and a write that works ends it.
TEST(AppendFiles, WriteErrorsReachTheEventWithTheBurstMarked) {
  TempFolder dir;
  TAppendFiles files;
  struct Seen {
    std::string path, message;
    bool repeated;
  };
  std::vector<Seen> seen;  // written on the writer, read after a Flush
  std::mutex seenMutex;
  files.SetOnWriteError([&](const std::string& path, const std::string& message, bool repeated) {
    std::lock_guard<std::mutex> g(seenMutex);
    seen.push_back({path, message, repeated});
  });
  // A file stands where a folder would have to be.
  WriteWholeFile(dir.Path() + "plain", "x");
  const std::string path = dir.Path() + "plain/ex.log";
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(files.Append(path, "lost\r\n")) << "the caller never sees the error";
    files.Flush();
  }
  EXPECT_EQ(files.OpenCount(), 0u);
  std::filesystem::remove(dir.Path() + "plain");
  files.Append(path, "kept\r\n");
  files.Flush();
  std::filesystem::remove_all(dir.Path() + "plain");
  WriteWholeFile(dir.Path() + "plain", "x");
  files.CloseAll();
  files.Append(path, "lost again\r\n");
  files.Flush();

  std::lock_guard<std::mutex> g(seenMutex);
  ASSERT_EQ(seen.size(), 3u);
  const std::string message = "Cannot open " + path + " : Not a directory";
  const bool repeated[] = {false, true, false};
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].path, path);
    EXPECT_EQ(seen[i].message, message);
    EXPECT_EQ(seen[i].repeated, repeated[i]) << i;
  }
}

// Past the cap, lines are dropped and counted, and the episode is reported
// once when the queue has drained. The writer is held inside an event so
// the queue fills.
TEST(AppendFiles, FullQueueDropsAndCountsLinesAndReportsTheEpisodeOnce) {
  TempFolder dir;
  TAppendFiles files(1000, 100);
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};
  files.SetOnWriteError([&](const std::string&, const std::string&, bool) {
    if (!first.exchange(false)) return;
    entered.set_value();
    released.wait_for(std::chrono::seconds(10));
  });
  std::vector<uint64_t> episodes;
  files.SetOnDropped([&](uint64_t lines) { episodes.push_back(lines); });
  WriteWholeFile(dir.Path() + "plain", "x");
  ASSERT_TRUE(files.Append(dir.Path() + "plain/ex.log", "123456789\n"));  // 10 bytes, held by the writer
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

  const std::string path = dir.Path() + "ok.log";
  int accepted = 0;
  for (int i = 0; i < 20; ++i) accepted += files.Append(path, Format("line %.3d\r\n", i)) ? 1 : 0;  // 10 bytes
  EXPECT_EQ(accepted, 9);
  EXPECT_EQ(files.DroppedCount(), 11u);
  release.set_value();
  files.Flush();
  EXPECT_EQ(episodes, std::vector<uint64_t>{11});
  std::string expected;
  for (int i = 0; i < 9; ++i) expected += Format("line %.3d\r\n", i);
  EXPECT_EQ(ReadWholeFile(path), expected);
  EXPECT_TRUE(files.Append(path, "after\r\n")) << "a drained queue takes lines again";
  files.Flush();
  EXPECT_EQ(episodes.size(), 1u);
}

// The destructor writes what is queued before the writer ends.
TEST(AppendFiles, DestructionWritesEverythingQueued) {
  TempFolder dir;
  const std::string path = dir.Path() + "w3c/ex.log";
  std::string expected;
  {
    TAppendFiles files;
    for (int i = 0; i < 1000; ++i) {
      const std::string line = Format("line %d\r\n", i);
      files.Append(path, line);
      expected += line;
    }
  }
  EXPECT_EQ(ReadWholeFile(path), expected);
}

// Every call's bytes arrive whole and in each thread's own order, however
// many threads write the same files at once, with flushes running among the
// appends and descriptors expiring on the way. Every thread appends until
// kFlushes flushes, all begun once every thread was appending, have
// returned, so the flushes surely overlap the appends.
TEST(AppendFilesThreads, ConcurrentAppendsStayWholeAndInOrder) {
  TempFolder dir;
  TAppendFiles files(5);
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;  // at least, per thread
  constexpr int kFlushes = 20;
  const std::string paths[2] = {dir.Path() + "one/ex.log", dir.Path() + "two/ex.log"};
  std::vector<std::thread> threads;
  std::atomic<int> started{0};
  std::atomic<int> flushes{0};
  std::atomic<bool> writing{true};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto inTime = [&] { return std::chrono::steady_clock::now() < deadline; };
  std::thread flusher([&] {
    while (started < kThreads && inTime()) std::this_thread::yield();
    while (writing) {
      files.Flush();
      ++flushes;
    }
  });
  int lines[kThreads] = {};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string pad(200 + t * 37, 'a' + t);
      int i = 0;
      for (; i < kLines || (flushes < kFlushes && inTime()); ++i) {
        files.Append(paths[i % 2], Format("%d %d %s\r\n", t, i, pad));
        if (i == 0) ++started;
        if (i >= kLines) std::this_thread::yield();  // only waiting for the flushes now
      }
      lines[t] = i;
    });
  }
  for (auto& th : threads) th.join();
  writing = false;
  flusher.join();
  ASSERT_GE(flushes, kFlushes) << "the flushes did not overlap the appends";
  files.Flush();
  ASSERT_EQ(files.DroppedCount(), 0u);

  std::map<int, int> next;  // per thread: the next line number expected in the file being read
  for (const std::string& path : paths) {
    const int first = path == paths[0] ? 0 : 1;
    next.clear();
    std::istringstream in(ReadWholeFile(path));
    std::string line;
    while (std::getline(in, line)) {
      ASSERT_FALSE(line.empty());
      ASSERT_EQ(line.back(), '\r');
      int t = -1, i = -1;
      char pad[2048];
      ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %2047s", &t, &i, pad), 3) << line;
      ASSERT_TRUE(t >= 0 && t < kThreads) << line;
      ASSERT_EQ(std::string(pad).size(), static_cast<size_t>(200 + t * 37)) << line;
      if (!next.count(t)) next[t] = first;
      ASSERT_EQ(i, next[t]);
      next[t] = i + 2;
    }
    for (int t = 0; t < kThreads; ++t) {
      // Every line of the thread for this file arrived: the next expected is past its last.
      const int expected = lines[t] + (lines[t] % 2 != first ? 1 : 0);
      EXPECT_EQ(next.count(t) ? next[t] : first, expected) << path << " thread " << t;
    }
  }
}

}  // namespace
