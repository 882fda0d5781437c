#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/SysUtils.h"

namespace fs = std::filesystem;

namespace {
class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("vt-filebytes-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  size_t Entries(const std::string& sub = "") const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(path_ / sub), fs::directory_iterator()));
  }

 private:
  fs::path path_;
};
}  // namespace

TEST(FileBytes, WriteReplacesAndCreatesFolders) {
  TempDir dir;
  const std::string file = dir / "a/b/file.bin";
  const std::vector<uint8_t> first = {1, 2, 0, 3};
  WriteFileReplacing(file, first);
  EXPECT_EQ(ReadFileBytes(file), first);
  WriteFileReplacing(file, {});
  EXPECT_TRUE(ReadFileBytes(file).empty());
  // Nothing but the file is left in its folder.
  EXPECT_EQ(dir.Entries("a/b"), 1u);
}

TEST(FileBytes, FailuresRaiseAndLeaveNoTemporaryFile) {
  TempDir dir;
  EXPECT_THROW(ReadFileBytes(dir / "missing"), EInOutError);
  fs::create_directories(dir / "folder");
  EXPECT_THROW(ReadFileBytes(dir / "folder"), EInOutError);
  EXPECT_THROW(WriteFileReplacing(dir / "folder", {1}), EInOutError);
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_EQ(dir.Entries(), 1u);
}
