// File access with 64-bit positions and an optional block buffer: the log
// writers open their files through TBxHugeFileStream in append mode with
// buffering, so that a line costs a memory copy and the disk sees large writes.
//
// TBxHugeFile counts positions and sizes in blocks of BlockSize bytes; the
// stream always uses blocks of one byte. One object belongs to one thread at a
// time; callers that share one hold their own lock around every use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

// Every failure of the file classes. HelpContext tells the kind (1000 wraps
// another exception, 1001/1002 a failed system call, 1003-1010 misuse).
class EBxHugeFile : public Exception {
 public:
  EBxHugeFile(std::string message, int32_t helpContext)
      : Exception(std::move(message)), helpContext_(helpContext) {}
  int32_t HelpContext() const noexcept { return helpContext_; }
  const char* ClassName() const noexcept override { return "EBxHugeFile"; }

 private:
  int32_t helpContext_;
};

class EBxHugeFileStream : public EBxHugeFile {
 public:
  using EBxHugeFile::EBxHugeFile;
  const char* ClassName() const noexcept override { return "EBxHugeFileStream"; }
};

// Open flags of Reset, Rewrite and the stream.
enum : uint32_t {
  hfBuffered = 1,     // reads and writes go through the block buffer
  hfLockBuffer = 2,   // keep the buffer in memory (with hfBuffered; best effort)
  hfCloseOnEOF = 4,   // buffered reading closes the handle at the end of the file
  hfOpenAlways = 8,   // opening for reading creates a missing file
  hfCompressed = 16,  // file-system compression of new files: not available here, ignored
};

// Access rights of a file object.
enum : uint32_t {
  hfAccessRead = 0x80000000u,
  hfAccessWrite = 0x40000000u,
};

class TBxHugeFile {
 public:
  // Open results.
  static constexpr int OpenOk = 0;
  static constexpr int OpenBusy = 1;
  static constexpr int OpenFailed = 2;

  // No file is opened yet; DesiredAccess is hfAccessRead, hfAccessWrite or both.
  TBxHugeFile(std::string fileName, uint32_t desiredAccess);
  // Closes, writing out buffered data; errors are swallowed here (use Close
  // to see them).
  ~TBxHugeFile();
  TBxHugeFile(const TBxHugeFile&) = delete;
  TBxHugeFile& operator=(const TBxHugeFile&) = delete;

  // Open for reading (Reset) or for writing, emptying the file (Rewrite).
  // BufferSize 0 means 65536; it is raised to a multiple of the page size.
  // Results: OpenOk, OpenBusy (the system reports the file busy), OpenFailed
  // (any other failure, LastError tells the system's code). An open object is
  // reused: Rewrite then truncates it.
  int Reset(uint32_t blockSize, uint32_t bufferSize, uint32_t flags);
  int Rewrite(uint32_t blockSize, uint32_t bufferSize, uint32_t flags);
  // Writes out buffered data and closes.
  void Close();

  // Counts in blocks; Done is the number of whole blocks moved. A buffered
  // write whose disk write fails returns a short count without raising.
  void BlockRead(void* buffer, uint32_t count, uint32_t& done);
  void BlockWrite(const void* buffer, uint32_t count, uint32_t& done);
  void Seek(int64_t blockPos);
  int64_t FilePos() const;
  // Includes buffered data that is not yet on disk.
  int64_t FileSize();
  // Cuts the file at the current position.
  void Truncate();
  // Writes the buffer and asks the system to put the file on disk.
  void Flush();
  TDateTime FileDate();
  void SetDate(TDateTime date);
  bool IsOpen() const { return isOpen_; }

  const std::string& FileName() const { return fileName_; }
  // The last system error code (errno), 0 for none.
  uint32_t LastError() const { return lastError_; }
  bool ReadMode() const { return readMode_; }

 private:
  struct FreeAligned {
    void operator()(uint8_t* p) const;
  };

  int Open(uint32_t blockSize, uint32_t bufferSize, uint32_t flags, bool forReading);
  // Size in bytes: the disk's, or the logical position when that is larger.
  int64_t _FileSize();
  int64_t DiskSize(const char* name);
  // Moves the logical position to Target bytes; Forced also empties a read
  // buffer that holds the target.
  void _Seek(bool forced, int64_t target);
  int AccessFile(uint32_t blockSize, bool forReading);
  void AllocBuffer();
  void CheckHandle() const;
  uint64_t Fetch(uint8_t* dest, uint64_t bytes);
  // Writes the buffer's bytes; false after a failed disk write, whose
  // unwritten bytes are dropped (positions follow what reached the disk).
  bool FlushBuffer();
  void FreeBuffer();
  void InitReadBuffer();
  void InitWriteBuffer();
  uint64_t Transmit(const uint8_t* src, uint64_t bytes);
  // Full transfers at an offset: loop over short transfers and EINTR. The
  // result is what moved; Err is the system error that ended it (0 for none,
  // and for reading also 0 at the end of the file).
  uint64_t WriteAt(const uint8_t* src, uint64_t bytes, int64_t offset, int& err);
  uint64_t ReadAt(uint8_t* dest, uint64_t bytes, int64_t offset, int& err);
  void CloseHandle();
  // Drops handle and buffer without writing (after a failure inside an open).
  void Abandon();
  // Raises the 1001 (with Err) or 1002 (Err 0) error for operation Name.
  [[noreturn]] void RaiseOSError(int err, const char* name);
  // Raises for a failed call when Ok is false, taking errno.
  void Win32Check(bool ok, const char* name);
  [[noreturn]] void RaiseMisuse(const char* text, int32_t helpContext) const;

  uint32_t blockSize_ = 1;
  std::unique_ptr<uint8_t, FreeAligned> buffer_;
  bool buffered_ = false;
  uint32_t bufferSize_ = 0;
  int64_t bufferFilePos_ = 0;  // file offset of the buffer's first byte
  int64_t filePosBytes_ = 0;   // logical position
  uint32_t bufferPtr_ = 0;     // next byte inside the buffer
  uint32_t bufferFill_ = 0;    // valid bytes when reading
  bool bufferWriting_ = false;
  int64_t cachedSize_ = -1;
  bool openAlways_ = false;
  bool closeOnEOF_ = false;
  uint32_t desiredAccess_;
  int fd_ = -1;
  bool isOpen_ = false;
  int64_t closedSize_ = 0;  // size remembered when the handle closed at the end
  bool lockBuffer_ = false;
  bool bufferLocked_ = false;
  std::string fileName_;
  bool readMode_ = false;
  uint32_t lastError_ = 0;
  bool closedAtEOF_ = false;
};

// Access modes of the stream.
enum class TBxAccess { Read = 0, Write = 1, ReadWrite = 2, Append = 3 };

// A stream over an owned TBxHugeFile with blocks of one byte.
class TBxHugeFileStream {
 public:
  // Read opens an existing file; Write creates or empties it; ReadWrite opens
  // an existing one; Append opens or creates it and moves to its end. A
  // failed open raises EBxHugeFileStream naming "Reset", "Rewrite" or "Append".
  TBxHugeFileStream(const std::string& fileName, TBxAccess access, uint32_t flags);
  // Writes out the buffer and closes, swallowing errors; call Close first to
  // learn of a failed last write.
  ~TBxHugeFileStream();
  TBxHugeFileStream(const TBxHugeFileStream&) = delete;
  TBxHugeFileStream& operator=(const TBxHugeFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count);
  int64_t Write(const void* buffer, int64_t count);
  // Origins: 0 from the beginning, 1 from the current position, 2 from the
  // end; any other raises the "Invalid mode!" error. Returns the new position.
  int64_t Seek(int64_t offset, int origin);
  // The same with a 32-bit result: ERangeError when the position does not fit.
  int32_t Seek32(int32_t offset, uint16_t origin);
  int64_t Position() { return Seek(0, 1); }
  int64_t GetSize();
  void SetSize(int64_t size);
  void Truncate(int64_t position) { SetSize(position); }
  // Hands buffered data to the system and has it written to disk; nothing
  // when nothing was written since the last Flush.
  void Flush();
  // Writes out the buffer and closes the file (without asking the system to
  // put it on disk); a failed write raises. Later operations raise "File not open!".
  void Close();
  std::string FileName() const;
  uint32_t LastError() const;

 private:
  std::unique_ptr<TBxHugeFile> hugeFile_;
  uint32_t streamLastError_ = 0;
  bool dirty_ = false;
};
