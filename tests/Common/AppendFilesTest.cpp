#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
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
  files.Append(existing, "one\r\n");
  files.Append(existing, "two\r\n");
  EXPECT_EQ(ReadWholeFile(existing), "old\r\none\r\ntwo\r\n");

  const std::string deep = dir.Path() + "W3C/site/ex261210.log";
  files.Append(deep, "line\r\n");
  EXPECT_EQ(ReadWholeFile(deep), "line\r\n");
  files.Append(deep, "");  // nothing to write, nothing changes
  EXPECT_EQ(ReadWholeFile(deep), "line\r\n");
}

TEST(AppendFiles, DeletedFileIsMadeAgainAtOnceAndMovedOneOnceTheDescriptorExpires) {
  ScopedManualClock clock;
  TempFolder dir;
  TAppendFiles files(50);
  const std::string path = dir.Path() + "x/ex.log";
  files.Append(path, "first\r\n");
  std::filesystem::remove_all(dir.Path() + "x");
  files.Append(path, "second\r\n");
  EXPECT_EQ(ReadWholeFile(path), "second\r\n") << "a removed folder and file are made again for the next line";

  ASSERT_EQ(::rename(path.c_str(), (dir.Path() + "moved.log").c_str()), 0);
  clock.clock().Advance(50);
  files.Append(path, "third\r\n");
  EXPECT_EQ(ReadWholeFile(path), "third\r\n");
  EXPECT_EQ(ReadWholeFile(dir.Path() + "moved.log"), "second\r\n");
}

TEST(AppendFiles, IdleFilesAreClosed) {
  ScopedManualClock clock;
  TempFolder dir;
  TAppendFiles files(30);
  files.Append(dir.Path() + "a.log", "a");
  clock.clock().Advance(29);
  files.Append(dir.Path() + "b.log", "b");
  EXPECT_EQ(files.OpenCount(), 2u);
  clock.clock().Advance(30);
  files.Append(dir.Path() + "c.log", "c");
  EXPECT_EQ(files.OpenCount(), 1u);
  files.CloseAll();
  EXPECT_EQ(files.OpenCount(), 0u);
  EXPECT_EQ(ReadWholeFile(dir.Path() + "a.log") + ReadWholeFile(dir.Path() + "b.log") +
                ReadWholeFile(dir.Path() + "c.log"),
            "abc");
}

TEST(AppendFiles, FailureToOpenRaisesAndIsNotRemembered) {
  TempFolder dir;
  TAppendFiles files;
  WriteWholeFile(dir.Path() + "plain", "x");
  // A file stands where a folder would have to be.
  EXPECT_THROW(files.Append(dir.Path() + "plain/ex.log", "line"), EInOutError);
  EXPECT_EQ(files.OpenCount(), 0u);
  EXPECT_THROW(files.Append(dir.Path() + "plain/ex.log", "line"), EInOutError);
}

// Every call's bytes arrive whole and in each thread's own order, however
// many threads write the same files at once, with descriptors expiring on
// the way.
TEST(AppendFilesThreads, ConcurrentAppendsStayWholeAndInOrder) {
  TempFolder dir;
  TAppendFiles files(5);
  constexpr int kThreads = 8;
  constexpr int kLines = 2000;
  const std::string paths[2] = {dir.Path() + "one/ex.log", dir.Path() + "two/ex.log"};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string pad(200 + t * 37, 'a' + t);
      for (int i = 0; i < kLines; ++i) files.Append(paths[i % 2], Format("%d %d %s\r\n", t, i, pad));
    });
  }
  for (auto& th : threads) th.join();

  std::map<int, int> next;  // per thread: the next line number expected in the file being read
  for (const std::string& path : paths) {
    next.clear();
    std::istringstream in(ReadWholeFile(path));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
      ++count;
      ASSERT_FALSE(line.empty());
      ASSERT_EQ(line.back(), '\r');
      int t = -1, i = -1;
      char pad[2048];
      ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %2047s", &t, &i, pad), 3) << line;
      ASSERT_EQ(std::string(pad).size(), static_cast<size_t>(200 + t * 37)) << line;
      const int first = path == paths[0] ? 0 : 1;
      if (!next.count(t)) next[t] = first;
      ASSERT_EQ(i, next[t]);
      next[t] = i + 2;
    }
    EXPECT_EQ(count, kThreads * kLines / 2);
  }
}

}  // namespace
