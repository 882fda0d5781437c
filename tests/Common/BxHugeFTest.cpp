#include "Common/BxHugeF.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "TempFolder.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

int64_t DiskSize(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 ? st.st_size : -1;
}

// Expects Action to raise an EBxHugeFile of class Cls with exactly Message.
template <class F>
void ExpectError(F action, const char* cls, int32_t helpContext, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const EBxHugeFile& e) {
    EXPECT_STREQ(e.ClassName(), cls);
    EXPECT_EQ(e.HelpContext(), helpContext);
    EXPECT_EQ(e.Message(), message);
  }
}

class HugeFile : public ::testing::Test {
 protected:
  TempFolder dir_;
  std::string Name(const char* base) const { return dir_.Path() + base; }
};

}  // namespace

TEST_F(HugeFile, AppendCreatesThenWritesAfterTheLastByte) {
  const std::string name = Name("a.log");
  {
    TBxHugeFileStream s(name, TBxAccess::Append, hfBuffered);
    EXPECT_EQ(s.Write("one\r\n", 5), 5);
  }
  EXPECT_EQ(ReadWholeFile(name), "one\r\n");
  {
    TBxHugeFileStream s(name, TBxAccess::Append, hfBuffered);
    EXPECT_EQ(s.Position(), 5);
    s.Write("two\r\n", 5);
  }
  EXPECT_EQ(ReadWholeFile(name), "one\r\ntwo\r\n");
}

TEST_F(HugeFile, BufferedBytesCountInTheSizeAndReachTheDiskAtFlush) {
  const std::string name = Name("b.log");
  TBxHugeFileStream s(name, TBxAccess::Append, hfBuffered);
  s.Write("hello", 5);
  EXPECT_EQ(s.GetSize(), 5);
  EXPECT_EQ(DiskSize(name), 0) << "a small write stays in the buffer";
  s.Flush();
  EXPECT_EQ(DiskSize(name), 5);
  EXPECT_EQ(ReadWholeFile(name), "hello");
}

// Writes and reads of many sizes across the block buffer's edges, buffered
// and unbuffered, compared with what is on disk.
TEST_F(HugeFile, TransfersAcrossBufferBoundaries) {
  const std::string data = Pattern(200 * 1024 + 13);
  const size_t writes[] = {1, 4095, 65535, 1, 65536, 70000, 131072, 3};
  const size_t reads[] = {7, 65536, 1, 65535, 140000, 100, 65536};
  for (uint32_t flags : {uint32_t{0}, uint32_t{hfBuffered}}) {
    SCOPED_TRACE("flags " + std::to_string(flags));
    const std::string name = Name("c.bin");
    {
      TBxHugeFileStream w(name, TBxAccess::Write, flags);
      size_t at = 0;
      for (size_t i = 0; at < data.size(); ++i) {
        const size_t n = std::min(writes[i % std::size(writes)], data.size() - at);
        ASSERT_EQ(w.Write(data.data() + at, static_cast<int64_t>(n)), static_cast<int64_t>(n));
        at += n;
        EXPECT_EQ(w.Position(), static_cast<int64_t>(at));
      }
      EXPECT_EQ(w.GetSize(), static_cast<int64_t>(data.size()));
    }
    ASSERT_EQ(ReadWholeFile(name), data);

    TBxHugeFileStream r(name, TBxAccess::Read, flags);
    std::string back;
    for (size_t i = 0;; ++i) {
      std::string piece(reads[i % std::size(reads)], '\0');
      const int64_t n = r.Read(piece.data(), static_cast<int64_t>(piece.size()));
      back.append(piece.data(), static_cast<size_t>(n));
      if (n < static_cast<int64_t>(piece.size())) break;
    }
    EXPECT_EQ(back, data);
    // Back into the middle, inside and outside what the buffer holds.
    for (int64_t pos : {int64_t{100}, int64_t{150000}, int64_t{65536}}) {
      EXPECT_EQ(r.Seek(pos, 0), pos);
      char c[3];
      ASSERT_EQ(r.Read(c, 3), 3);
      EXPECT_EQ(std::string(c, 3), data.substr(static_cast<size_t>(pos), 3));
    }
  }
}

TEST_F(HugeFile, BlocksOfSixteenBytesWithAnOddBufferSize) {
  const std::string name = Name("d.bin");
  const std::string data = Pattern(16 * 1000);
  TBxHugeFile f(name, hfAccessRead | hfAccessWrite);
  ASSERT_EQ(f.Rewrite(16, 5000, hfBuffered), TBxHugeFile::OpenOk);
  uint32_t done = 0;
  f.BlockWrite(data.data(), 300, done);
  EXPECT_EQ(done, 300u);
  f.BlockWrite(data.data() + 300 * 16, 700, done);
  EXPECT_EQ(done, 700u);
  EXPECT_EQ(f.FilePos(), 1000);
  EXPECT_EQ(f.FileSize(), 1000);
  f.Close();
  EXPECT_EQ(ReadWholeFile(name), data);

  ASSERT_EQ(f.Reset(16, 5000, hfBuffered), TBxHugeFile::OpenOk);
  f.Seek(999);
  std::string last(32, '\0');
  f.BlockRead(last.data(), 2, done);
  EXPECT_EQ(done, 1u) << "only one whole block is left";
  EXPECT_EQ(last.substr(0, 16), data.substr(999 * 16));
}

// Positions beyond 32 bits in a sparse file: cheap on any Linux file system.
TEST_F(HugeFile, PositionsBeyondFourGiB) {
  const std::string name = Name("big.bin");
  const int64_t far = (int64_t{5} << 30) + 3;
  {
    TBxHugeFileStream s(name, TBxAccess::Write, hfBuffered);
    s.Write("head", 4);
    EXPECT_EQ(s.Seek(far, 0), far);
    s.Write("tail", 4);
    EXPECT_EQ(s.GetSize(), far + 4);
    EXPECT_THROW(s.Seek32(0, 1), ERangeError);
  }
  EXPECT_EQ(DiskSize(name), far + 4);
  TBxHugeFileStream s(name, TBxAccess::Read, hfBuffered);
  EXPECT_EQ(s.Seek(-4, 2), far);
  char buf[8];
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_EQ(std::string(buf, 4), "tail");
  EXPECT_EQ(s.Seek(-(far + 4), 1), 0);
  EXPECT_EQ(s.Read(buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "head");
}

TEST_F(HugeFile, TruncateAndSetSize) {
  const std::string name = Name("e.bin");
  TBxHugeFileStream s(name, TBxAccess::Write, hfBuffered);
  s.Write("0123456789", 10);
  s.SetSize(4);
  EXPECT_EQ(s.GetSize(), 4);
  EXPECT_EQ(s.Position(), 4);
  s.Write("xy", 2);
  s.Truncate(5);
  EXPECT_EQ(s.GetSize(), 5);
  s.Flush();
  EXPECT_EQ(ReadWholeFile(name), "0123x");
  s.SetSize(0);
  EXPECT_EQ(s.GetSize(), 0);
  EXPECT_EQ(DiskSize(name), 0);
}

TEST_F(HugeFile, OpenFailuresNameTheOperationAndTheSystemError) {
  const std::string missing = Name("no/such/folder/x.log");
  ExpectError([&] { TBxHugeFileStream s(missing, TBxAccess::Append, hfBuffered); }, "EBxHugeFileStream", 1001,
              "TBxHugeFileStream.Append(" + missing + ") failed. System Error.  Code: 2.\r\nNo such file or directory");
  ExpectError([&] { TBxHugeFileStream s(missing, TBxAccess::Write, 0); }, "EBxHugeFileStream", 1001,
              "TBxHugeFileStream.Rewrite(" + missing + ") failed. System Error.  Code: 2.\r\nNo such file or directory");
  const std::string absent = Name("absent.log");
  ExpectError([&] { TBxHugeFileStream s(absent, TBxAccess::Read, 0); }, "EBxHugeFileStream", 1001,
              "TBxHugeFileStream.Reset(" + absent + ") failed. System Error.  Code: 2.\r\nNo such file or directory");
  EXPECT_FALSE(FileExists(absent));
  // A folder is not a file.
  ExpectError([&] { TBxHugeFileStream s(dir_.Path(), TBxAccess::Read, 0); }, "EBxHugeFileStream", 1001,
              "TBxHugeFileStream.Reset(" + dir_.Path() + ") failed. System Error.  Code: 21.\r\nIs a directory");

  TBxHugeFile f(absent, hfAccessRead);
  EXPECT_EQ(f.Reset(1, 0, 0), TBxHugeFile::OpenFailed);
  EXPECT_EQ(f.LastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(f.Reset(0, 0, hfOpenAlways), TBxHugeFile::OpenFailed) << "block size 0";
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Reset(1, 0, hfOpenAlways), TBxHugeFile::OpenOk);
  EXPECT_TRUE(FileExists(absent));
}

TEST_F(HugeFile, MisuseTexts) {
  const std::string name = Name("f.bin");
  WriteWholeFile(name, "0123456789");
  {
    TBxHugeFileStream s(name, TBxAccess::ReadWrite, hfBuffered);
    ExpectError([&] { s.Seek(0, 3); }, "EBxHugeFileStream", 1010, "TBxHugeFileStream(" + name + "):Invalid mode!");
    // Writing through a read buffer is only possible at the end of the file.
    ExpectError([&] { s.Write("x", 1); }, "EBxHugeFile", 1006,
                "TBxHugeFile(" + name + "):Write while in buffered read mode!");
    s.Seek(0, 2);
    EXPECT_EQ(s.Write("AB", 2), 2);
    char c;
    ExpectError([&] { s.Read(&c, 1); }, "EBxHugeFile", 1007,
                "TBxHugeFile(" + name + "):Read while in buffered write mode!");
  }
  EXPECT_EQ(ReadWholeFile(name), "0123456789AB");

  TBxHugeFile closed(name, hfAccessRead);
  uint32_t done;
  ExpectError([&] { closed.BlockWrite("x", 1, done); }, "EBxHugeFile", 1004, "TBxHugeFile(" + name + "):File not open!");
  ExpectError([&] { closed.FileSize(); }, "EBxHugeFile", 1004, "TBxHugeFile(" + name + "):File not open!");
}

// A disk that takes only part of the data: buffered writes count what reached
// it without raising; Flush reports the system error.
TEST_F(HugeFile, FailedDiskWritesGiveShortCountsAndFlushErrors) {
  const std::string name = Name("g.bin");
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  {
    TBxHugeFileStream s(name, TBxAccess::Write, hfBuffered);
    const std::string data = Pattern(200000);
    EXPECT_EQ(s.Write(data.data(), 200000), 100000);
    EXPECT_EQ(s.LastError(), static_cast<uint32_t>(EFBIG));
    EXPECT_EQ(s.Position(), 100000);
    EXPECT_EQ(s.Write("more", 4), 4) << "small writes go to the buffer";
    ExpectError([&] { s.Flush(); }, "EBxHugeFile", 1001,
                "TBxHugeFile.Flush(" + name + ") failed. System Error.  Code: 27.\r\nFile too large");
    EXPECT_EQ(s.Position(), 100000) << "the lost bytes do not count";
    s.Write("last", 4);
    ExpectError([&] { s.Close(); }, "EBxHugeFile", 1001,
                "TBxHugeFile.FreeBuffer(" + name + ") failed. System Error.  Code: 27.\r\nFile too large");
    ExpectError([&] { s.Write("x", 1); }, "EBxHugeFile", 1004, "TBxHugeFile(" + name + "):File not open!");
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadWholeFile(name), Pattern(100000));
}

TEST_F(HugeFile, CloseOnEndServesWhatIsInMemory) {
  const std::string name = Name("h.bin");
  const std::string data = Pattern(1000);
  WriteWholeFile(name, data);
  TBxHugeFile f(name, hfAccessRead);
  ASSERT_EQ(f.Reset(1, 0, hfBuffered | hfCloseOnEOF), TBxHugeFile::OpenOk);
  std::string buf(1200, '\0');
  uint32_t done = 0;
  f.BlockRead(buf.data(), 1200, done);
  EXPECT_EQ(done, 1000u);
  std::filesystem::remove(name);  // the handle is closed: the file is not needed any more
  EXPECT_EQ(f.FileSize(), 1000);
  f.Seek(500);
  f.BlockRead(buf.data(), 600, done);
  EXPECT_EQ(done, 500u);
  EXPECT_EQ(buf.substr(0, 500), data.substr(500));
  f.BlockRead(buf.data(), 10, done);
  EXPECT_EQ(done, 0u);
  f.Close();
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(HugeFile, ReopeningAnOpenObjectReusesIt) {
  const std::string name = Name("i.bin");
  TBxHugeFile f(name, hfAccessRead | hfAccessWrite);
  ASSERT_EQ(f.Rewrite(1, 0, hfBuffered), TBxHugeFile::OpenOk);
  uint32_t done;
  f.BlockWrite("abcdef", 6, done);
  ASSERT_EQ(f.Reset(1, 0, hfBuffered), TBxHugeFile::OpenOk) << "writes out the buffer first";
  EXPECT_TRUE(f.ReadMode());
  char buf[6];
  f.BlockRead(buf, 6, done);
  EXPECT_EQ(std::string(buf, done), "abcdef");
  ASSERT_EQ(f.Rewrite(1, 0, 0), TBxHugeFile::OpenOk);
  EXPECT_EQ(f.FileSize(), 0) << "Rewrite empties the file";
}

TEST_F(HugeFile, FileDateRoundTrip) {
  const std::string name = Name("j.bin");
  TBxHugeFileStream s(name, TBxAccess::Write, 0);
  TBxHugeFile f(name, hfAccessRead | hfAccessWrite);
  ASSERT_EQ(f.Reset(1, 0, 0), TBxHugeFile::OpenOk);
  const TDateTime when = EncodeDateTime(2009, 12, 9, 14, 3, 7, 250);
  f.SetDate(when);
  EXPECT_NEAR(f.FileDate(), when, 1.0 / MSecsPerDay);
}

TEST_F(HugeFile, DestroyWritesTheBuffer) {
  const std::string name = Name("k.bin");
  {
    TBxHugeFileStream s(name, TBxAccess::Append, hfBuffered);
    s.Write("kept", 4);
  }
  EXPECT_EQ(ReadWholeFile(name), "kept");
}
