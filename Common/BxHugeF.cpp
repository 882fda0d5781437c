#include "Common/BxHugeF.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr uint32_t kDefaultBufferSize = 65536;
// Largest piece handed to one read or write call.
constexpr uint64_t kMaxTransfer = uint64_t{1} << 30;

uint64_t PageSize() {
  static const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

std::string SystemMessage(int err) {
  char buf[256];
  // GNU strerror_r: returns the text, which may or may not live in buf.
  return strerror_r(err, buf, sizeof buf);
}

std::string OSErrorText(const char* cls, const char* name, const std::string& fileName, int err) {
  std::string text = Format("%s.%s(%s) failed. ", cls, name, fileName);
  if (err != 0) return text + Format("System Error.  Code: %d.\r\n%s", err, SystemMessage(err));
  return text + "A call to an OS function failed";
}

// Public operations report every failure as EBxHugeFile; anything else that
// escapes (an allocation failure) is wrapped with its message.
template <class F>
auto Guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const EBxHugeFile&) {
    throw;
  } catch (const Exception& e) {
    throw EBxHugeFile(e.Message(), 1000);
  } catch (const std::exception& e) {
    throw EBxHugeFile(e.what(), 1000);
  }
}

}  // namespace

void TBxHugeFile::FreeAligned::operator()(uint8_t* p) const { std::free(p); }

TBxHugeFile::TBxHugeFile(std::string fileName, uint32_t desiredAccess)
    : desiredAccess_(desiredAccess), fileName_(std::move(fileName)) {}

TBxHugeFile::~TBxHugeFile() {
  try {
    Close();
  } catch (...) {
    // Close has released everything before it raises.
  }
}

// ------------------------------------------------------------------ errors

void TBxHugeFile::RaiseOSError(int err, const char* name) {
  lastError_ = static_cast<uint32_t>(err);
  throw EBxHugeFile(OSErrorText("TBxHugeFile", name, fileName_, err), err != 0 ? 1001 : 1002);
}

void TBxHugeFile::Win32Check(bool ok, const char* name) {
  if (!ok) RaiseOSError(errno, name);
}

void TBxHugeFile::RaiseMisuse(const char* text, int32_t helpContext) const {
  throw EBxHugeFile(Format(text, fileName_), helpContext);
}

void TBxHugeFile::CheckHandle() const {
  if (fd_ < 0) RaiseMisuse("TBxHugeFile(%s):File not open!", 1004);
}

// ------------------------------------------------------------ open, close

int TBxHugeFile::Reset(uint32_t blockSize, uint32_t bufferSize, uint32_t flags) {
  return Open(blockSize, bufferSize, flags, true);
}

int TBxHugeFile::Rewrite(uint32_t blockSize, uint32_t bufferSize, uint32_t flags) {
  return Open(blockSize, bufferSize, flags, false);
}

int TBxHugeFile::Open(uint32_t blockSize, uint32_t bufferSize, uint32_t flags, bool forReading) {
  try {
    lastError_ = 0;
    if (closeOnEOF_ && isOpen_) Close();
    if (isOpen_) {
      // Reuse the handle: write out what the old mode buffered, start over at 0.
      FreeBuffer();
      buffered_ = false;
      filePosBytes_ = 0;
      if (!forReading) Win32Check(ftruncate(fd_, 0) == 0, "Truncate");
      cachedSize_ = -1;
    }
    buffered_ = (flags & hfBuffered) != 0;
    closeOnEOF_ = forReading && buffered_ && (flags & hfCloseOnEOF) != 0;
    openAlways_ = (flags & hfOpenAlways) != 0;
    if (buffered_) {
      bufferSize_ = bufferSize;
      lockBuffer_ = (flags & hfLockBuffer) != 0;
    }
    int result = OpenOk;
    if (isOpen_) {
      if (blockSize == 0) RaiseMisuse("TBxHugeFile(%s):BlockSize must be greater than zero!", 1003);
      blockSize_ = blockSize;
      if (buffered_) AllocBuffer();
    } else {
      result = AccessFile(blockSize, forReading);
    }
    if (result != OpenOk) {
      Abandon();
      return result;
    }
    filePosBytes_ = 0;
    if (buffered_) {
      if (forReading) InitReadBuffer();
      else InitWriteBuffer();
    }
    readMode_ = forReading;
    closedAtEOF_ = false;
    return OpenOk;
  } catch (...) {
    Abandon();
    return OpenFailed;
  }
}

int TBxHugeFile::AccessFile(uint32_t blockSize, bool forReading) {
  if (blockSize == 0) RaiseMisuse("TBxHugeFile(%s):BlockSize must be greater than zero!", 1003);
  blockSize_ = blockSize;
  const bool read = (desiredAccess_ & hfAccessRead) != 0;
  const bool write = (desiredAccess_ & hfAccessWrite) != 0;
  int oflags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  if (!forReading) oflags |= O_CREAT | O_TRUNC;
  else if (openAlways_) oflags |= O_CREAT;
  int fd;
  do {
    fd = ::open(fileName_.c_str(), oflags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lastError_ = static_cast<uint32_t>(errno);
    return errno == EBUSY || errno == ETXTBSY ? OpenBusy : OpenFailed;
  }
  // A folder opens for reading on Linux, but it is no file.
  struct stat st{};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    lastError_ = EISDIR;
    return OpenFailed;
  }
  fd_ = fd;
  isOpen_ = true;
  cachedSize_ = -1;
  if (buffered_) AllocBuffer();
  return OpenOk;
}

void TBxHugeFile::Close() {
  if (!isOpen_) return;
  try {
    FreeBuffer();
  } catch (...) {
    Abandon();
    throw;
  }
  Abandon();
}

void TBxHugeFile::CloseHandle() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TBxHugeFile::Abandon() {
  if (buffer_ && bufferLocked_) munlock(buffer_.get(), bufferSize_);
  bufferLocked_ = false;
  buffer_.reset();
  CloseHandle();
  isOpen_ = false;
  closedAtEOF_ = false;
  closeOnEOF_ = false;
  cachedSize_ = -1;
}

// ----------------------------------------------------------------- buffer

void TBxHugeFile::AllocBuffer() {
  FreeBuffer();
  const uint64_t page = PageSize();
  uint64_t size = bufferSize_ == 0 ? kDefaultBufferSize : bufferSize_;
  size = (size + page - 1) / page * page;
  if (size > std::numeric_limits<uint32_t>::max()) size -= page;
  void* p = nullptr;
  if (posix_memalign(&p, page, size) != 0) p = nullptr;
  if (p == nullptr) {
    lastError_ = ENOMEM;
    RaiseMisuse("TBxHugeFile(%s):Failed to allocate buffer!", 1005);
  }
  buffer_.reset(static_cast<uint8_t*>(p));
  bufferSize_ = static_cast<uint32_t>(size);
  // Locking is a hint: a low RLIMIT_MEMLOCK must not stop the file from working.
  bufferLocked_ = lockBuffer_ && mlock(p, size) == 0;
}

void TBxHugeFile::FreeBuffer() {
  if (!buffer_) return;
  const bool ok = FlushBuffer();
  if (bufferLocked_) munlock(buffer_.get(), bufferSize_);
  bufferLocked_ = false;
  buffer_.reset();
  if (!ok) RaiseOSError(static_cast<int>(lastError_), "FreeBuffer");
}

void TBxHugeFile::InitReadBuffer() {
  bufferWriting_ = false;
  bufferFilePos_ = filePosBytes_;
  bufferPtr_ = 0;
  bufferFill_ = 0;
}

void TBxHugeFile::InitWriteBuffer() {
  bufferWriting_ = true;
  bufferFilePos_ = filePosBytes_;
  bufferPtr_ = 0;
  bufferFill_ = 0;
}

bool TBxHugeFile::FlushBuffer() {
  if (!buffer_ || !bufferWriting_ || bufferPtr_ == 0) return true;
  int err = 0;
  const uint64_t written = WriteAt(buffer_.get(), bufferPtr_, bufferFilePos_, err);
  cachedSize_ = -1;
  const bool ok = written == bufferPtr_;
  bufferFilePos_ += static_cast<int64_t>(written);
  bufferPtr_ = 0;
  if (!ok) {
    lastError_ = static_cast<uint32_t>(err != 0 ? err : EIO);
    filePosBytes_ = bufferFilePos_;
  }
  return ok;
}

// ------------------------------------------------------- raw transfers

uint64_t TBxHugeFile::WriteAt(const uint8_t* src, uint64_t bytes, int64_t offset, int& err) {
  err = 0;
  uint64_t done = 0;
  while (done < bytes) {
    const size_t piece = static_cast<size_t>(std::min(bytes - done, kMaxTransfer));
    const ssize_t n = ::pwrite(fd_, src + done, piece, offset + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) {
      err = EIO;
      break;
    }
    done += static_cast<uint64_t>(n);
  }
  return done;
}

uint64_t TBxHugeFile::ReadAt(uint8_t* dest, uint64_t bytes, int64_t offset, int& err) {
  err = 0;
  uint64_t done = 0;
  while (done < bytes) {
    const size_t piece = static_cast<size_t>(std::min(bytes - done, kMaxTransfer));
    const ssize_t n = ::pread(fd_, dest + done, piece, offset + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  return done;
}

// ------------------------------------------------------------- writing

void TBxHugeFile::BlockWrite(const void* buffer, uint32_t count, uint32_t& done) {
  Guarded([&] {
    done = 0;
    CheckHandle();
    const uint64_t bytes = uint64_t{count} * blockSize_;
    if (bytes == 0) return;
    const auto* src = static_cast<const uint8_t*>(buffer);
    uint64_t written;
    if (buffered_ && buffer_) {
      written = Transmit(src, bytes);
    } else {
      int err = 0;
      written = WriteAt(src, bytes, filePosBytes_, err);
      filePosBytes_ += static_cast<int64_t>(written);
      cachedSize_ = -1;
      if (written != bytes) RaiseOSError(err != 0 ? err : EIO, "BlockWrite");
    }
    done = static_cast<uint32_t>(written / blockSize_);
    cachedSize_ = -1;
  });
}

uint64_t TBxHugeFile::Transmit(const uint8_t* src, uint64_t bytes) {
  if (!bufferWriting_) {
    // A read buffer turns into a write buffer only at the end of the file:
    // that is how a file opened for reading is appended to.
    if (filePosBytes_ != _FileSize()) RaiseMisuse("TBxHugeFile(%s):Write while in buffered read mode!", 1006);
    InitWriteBuffer();
    readMode_ = false;
  }
  if (bufferPtr_ == 0) bufferFilePos_ = filePosBytes_;
  const uint64_t room = bufferSize_ - bufferPtr_;
  if (bytes <= room) {
    std::memcpy(buffer_.get() + bufferPtr_, src, bytes);
    bufferPtr_ += static_cast<uint32_t>(bytes);
    filePosBytes_ += static_cast<int64_t>(bytes);
    return bytes;
  }
  // Fill the buffer up and write it.
  const uint64_t before = bufferPtr_;
  const int64_t start = bufferFilePos_;
  std::memcpy(buffer_.get() + bufferPtr_, src, room);
  bufferPtr_ = bufferSize_;
  filePosBytes_ += static_cast<int64_t>(room);
  if (!FlushBuffer()) {
    // Count only what of the caller's bytes reached the disk.
    const auto written = static_cast<uint64_t>(bufferFilePos_ - start);
    return written > before ? written - before : 0;
  }
  // Whole buffers go straight from the caller's memory.
  uint64_t taken = room;
  const uint64_t whole = (bytes - taken) / bufferSize_ * bufferSize_;
  if (whole > 0) {
    int err = 0;
    const uint64_t written = WriteAt(src + taken, whole, filePosBytes_, err);
    filePosBytes_ += static_cast<int64_t>(written);
    bufferFilePos_ = filePosBytes_;
    cachedSize_ = -1;
    taken += written;
    if (written != whole) {
      lastError_ = static_cast<uint32_t>(err != 0 ? err : EIO);
      return taken;
    }
  }
  const uint64_t rest = bytes - taken;
  std::memcpy(buffer_.get(), src + taken, rest);
  bufferPtr_ = static_cast<uint32_t>(rest);
  filePosBytes_ += static_cast<int64_t>(rest);
  return bytes;
}

// ------------------------------------------------------------- reading

void TBxHugeFile::BlockRead(void* buffer, uint32_t count, uint32_t& done) {
  Guarded([&] {
    done = 0;
    if (!(buffered_ && closedAtEOF_)) CheckHandle();
    const uint64_t bytes = uint64_t{count} * blockSize_;
    if (bytes == 0) return;
    auto* dest = static_cast<uint8_t*>(buffer);
    uint64_t got;
    if (buffered_ && buffer_) {
      got = Fetch(dest, bytes);
    } else {
      int err = 0;
      got = ReadAt(dest, bytes, filePosBytes_, err);
      filePosBytes_ += static_cast<int64_t>(got);
      if (err != 0) RaiseOSError(err, "BlockRead");
    }
    done = static_cast<uint32_t>(got / blockSize_);
    if (closeOnEOF_ && !closedAtEOF_) {
      // Once everything is read into memory the handle is not needed any more.
      const int64_t diskPos = bufferFilePos_ + bufferFill_;
      const int64_t size = DiskSize("BlockRead");
      if (diskPos >= size) {
        closedSize_ = size;
        CloseHandle();
        closedAtEOF_ = true;
      }
    }
  });
}

uint64_t TBxHugeFile::Fetch(uint8_t* dest, uint64_t bytes) {
  if (bufferWriting_) {
    if (bufferPtr_ > 0) RaiseMisuse("TBxHugeFile(%s):Read while in buffered write mode!", 1007);
    InitReadBuffer();
  }
  uint64_t got = std::min<uint64_t>(bufferFill_ - bufferPtr_, bytes);
  std::memcpy(dest, buffer_.get() + bufferPtr_, got);
  bufferPtr_ += static_cast<uint32_t>(got);
  filePosBytes_ += static_cast<int64_t>(got);
  if (got == bytes || closedAtEOF_) return got;

  // The buffer is used up; whole buffers go straight into the caller's memory.
  uint64_t rest = bytes - got;
  const uint64_t whole = rest / bufferSize_ * bufferSize_;
  if (whole > 0) {
    int err = 0;
    const uint64_t n = ReadAt(dest + got, whole, filePosBytes_, err);
    filePosBytes_ += static_cast<int64_t>(n);
    got += n;
    rest -= n;
    InitReadBuffer();
    if (err != 0) RaiseOSError(err, "Fetch");
    if (n < whole || rest == 0) return got;
  }
  InitReadBuffer();
  int err = 0;
  bufferFill_ = static_cast<uint32_t>(ReadAt(buffer_.get(), bufferSize_, bufferFilePos_, err));
  if (err != 0) RaiseOSError(err, "Fetch");
  const uint64_t n = std::min<uint64_t>(rest, bufferFill_);
  std::memcpy(dest + got, buffer_.get(), n);
  bufferPtr_ = static_cast<uint32_t>(n);
  filePosBytes_ += static_cast<int64_t>(n);
  return got + n;
}

// ------------------------------------------------ positions and sizes

void TBxHugeFile::Seek(int64_t blockPos) {
  Guarded([&] {
    if (!(buffered_ && closedAtEOF_)) CheckHandle();
    if (blockPos < 0 || blockPos > std::numeric_limits<int64_t>::max() / blockSize_) RaiseOSError(EINVAL, "Seek");
    _Seek(false, blockPos * blockSize_);
  });
}

void TBxHugeFile::_Seek(bool forced, int64_t target) {
  if (!buffered_ || !buffer_) {
    filePosBytes_ = target;
    return;
  }
  if (bufferWriting_) {
    if (!forced && target == filePosBytes_) return;
    if (!FlushBuffer()) RaiseOSError(static_cast<int>(lastError_), "_Seek");
    filePosBytes_ = target;
    bufferFilePos_ = target;
    return;
  }
  if (!forced && target >= bufferFilePos_ && target <= bufferFilePos_ + bufferFill_) {
    bufferPtr_ = static_cast<uint32_t>(target - bufferFilePos_);
    filePosBytes_ = target;
    return;
  }
  // Without a handle only what is still in memory can be served.
  if (closedAtEOF_ && target != bufferFilePos_) RaiseMisuse("TBxHugeFile(%s):File not open!", 1004);
  filePosBytes_ = target;
  InitReadBuffer();
}

int64_t TBxHugeFile::FilePos() const { return filePosBytes_ / blockSize_; }

int64_t TBxHugeFile::DiskSize(const char* name) {
  if (cachedSize_ < 0) {
    struct stat st{};
    Win32Check(fstat(fd_, &st) == 0, name);
    cachedSize_ = st.st_size;
  }
  return cachedSize_;
}

int64_t TBxHugeFile::_FileSize() { return std::max(DiskSize("FileSize"), filePosBytes_); }

int64_t TBxHugeFile::FileSize() {
  return Guarded([&] {
    if (closedAtEOF_) return closedSize_ / blockSize_;
    CheckHandle();
    return _FileSize() / blockSize_;
  });
}

void TBxHugeFile::Truncate() {
  Guarded([&] {
    CheckHandle();
    if (buffered_ && buffer_) _Seek(true, filePosBytes_);
    Win32Check(ftruncate(fd_, filePosBytes_) == 0, "Truncate");
    cachedSize_ = -1;
  });
}

void TBxHugeFile::Flush() {
  Guarded([&] {
    CheckHandle();
    if (!FlushBuffer()) RaiseOSError(static_cast<int>(lastError_), "Flush");
    Win32Check(fsync(fd_) == 0, "Flush");
  });
}

TDateTime TBxHugeFile::FileDate() {
  return Guarded([&] {
    CheckHandle();
    struct stat st{};
    Win32Check(fstat(fd_, &st) == 0, "FileDate");
    struct tm tm{};
    localtime_r(&st.st_mtim.tv_sec, &tm);
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                          static_cast<int>(st.st_mtim.tv_nsec / 1000000));
  });
}

void TBxHugeFile::SetDate(TDateTime date) {
  Guarded([&] {
    CheckHandle();
    // Buffered bytes written later would move the date again.
    if (!FlushBuffer()) RaiseOSError(static_cast<int>(lastError_), "SetDate");
    int hour, minute, second, msec;
    DecodeTime(date, hour, minute, second, msec);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = DateTimeToUnix(date);
    times[1].tv_nsec = static_cast<long>(msec) * 1000000;
    Win32Check(futimens(fd_, times) == 0, "SetDate");
  });
}

// ----------------------------------------------------------------- stream

TBxHugeFileStream::TBxHugeFileStream(const std::string& fileName, TBxAccess access, uint32_t flags) {
  const uint32_t rights = access == TBxAccess::Read    ? hfAccessRead
                          : access == TBxAccess::Write ? hfAccessWrite
                                                       : hfAccessRead | hfAccessWrite;
  hugeFile_ = std::make_unique<TBxHugeFile>(fileName, rights);
  int result;
  const char* name;
  switch (access) {
    case TBxAccess::Write:
      result = hugeFile_->Rewrite(1, 0, flags);
      name = "Rewrite";
      break;
    case TBxAccess::Append:
      result = hugeFile_->Reset(1, 0, flags | hfOpenAlways);
      name = "Append";
      break;
    default:
      result = hugeFile_->Reset(1, 0, flags);
      name = "Reset";
      break;
  }
  if (result != TBxHugeFile::OpenOk) {
    streamLastError_ = hugeFile_->LastError();
    const int err = static_cast<int>(streamLastError_);
    throw EBxHugeFileStream(OSErrorText("TBxHugeFileStream", name, fileName, err), err != 0 ? 1001 : 1002);
  }
  if (access == TBxAccess::Append) hugeFile_->Seek(hugeFile_->FileSize());
}

TBxHugeFileStream::~TBxHugeFileStream() = default;

int64_t TBxHugeFileStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (total < count) {
    const auto piece = static_cast<uint32_t>(std::min<int64_t>(count - total, int64_t{1} << 30));
    uint32_t done = 0;
    hugeFile_->BlockRead(p + total, piece, done);
    total += done;
    if (done < piece) break;
  }
  return total;
}

int64_t TBxHugeFileStream::Write(const void* buffer, int64_t count) {
  dirty_ = true;
  const auto* p = static_cast<const uint8_t*>(buffer);
  int64_t total = 0;
  while (total < count) {
    const auto piece = static_cast<uint32_t>(std::min<int64_t>(count - total, int64_t{1} << 30));
    uint32_t done = 0;
    hugeFile_->BlockWrite(p + total, piece, done);
    total += done;
    if (done < piece) break;
  }
  return total;
}

int64_t TBxHugeFileStream::Seek(int64_t offset, int origin) {
  int64_t target;
  switch (origin) {
    case 0:
      target = offset;
      break;
    case 1:
      // Asking for the position must not write out the buffer.
      if (offset == 0) return hugeFile_->FilePos();
      target = hugeFile_->FilePos() + offset;
      break;
    case 2:
      target = hugeFile_->FileSize() + offset;
      break;
    default:
      throw EBxHugeFileStream(Format("TBxHugeFileStream(%s):Invalid mode!", FileName()), 1010);
  }
  hugeFile_->Seek(target);
  return hugeFile_->FilePos();
}

int32_t TBxHugeFileStream::Seek32(int32_t offset, uint16_t origin) { return CheckedToInt32(Seek(offset, origin)); }

int64_t TBxHugeFileStream::GetSize() { return hugeFile_ ? hugeFile_->FileSize() : -1; }

void TBxHugeFileStream::SetSize(int64_t size) {
  hugeFile_->Seek(size);
  hugeFile_->Truncate();
}

void TBxHugeFileStream::Flush() {
  if (hugeFile_ && dirty_) hugeFile_->Flush();
  dirty_ = false;
}

void TBxHugeFileStream::Close() {
  dirty_ = false;
  if (hugeFile_) hugeFile_->Close();
}

std::string TBxHugeFileStream::FileName() const { return hugeFile_ ? hugeFile_->FileName() : std::string(); }

uint32_t TBxHugeFileStream::LastError() const {
  if (streamLastError_ != 0 || !hugeFile_) return streamLastError_;
  return hugeFile_->LastError();
}
