#include "Common/uCachedLogFileClasses.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/SysUtils.h"

namespace {

constexpr std::string_view kCRLF = "\r\n";

std::string FullPath(const std::string& folder) {
  if (folder.empty()) return folder;
  return std::filesystem::absolute(folder).lexically_normal().string();
}

}  // namespace

TLogFile::TLogFile(const std::string& folder, uint8_t stampMode, bool dateNamed, std::string extension,
                   std::string prefix, std::string fixedFileName)
    : stampMode_(stampMode),
      fixedFileName_(std::move(fixedFileName)),
      folder_(FullPath(folder)),
      dateNamed_(dateNamed),
      prefix_(std::move(prefix)),
      extension_(std::move(extension)) {
  std::lock_guard guard(Lock);
  Open(FileNameAt(Now()));
}

TLogFile::~TLogFile() {
  std::lock_guard guard(Lock);
  stream_.reset();
}

std::string TLogFile::FileNameAt(TDateTime now) const {
  if (!dateNamed_) return folder_ + fixedFileName_;
  int year, month, day;
  DecodeDate(now, year, month, day);
  return folder_ + prefix_ + Format("%.2d%.2d%.2d", year % 100, month, day) + "." + extension_;
}

std::string TLogFile::GetFileName() const {
  std::lock_guard guard(Lock);
  return FileNameAt(Now());
}

std::string TLogFile::StampLine(std::string_view text, TDateTime now) const {
  std::string line;
  switch (stampMode_) {
    case smNone:
      break;
    case smTime:
      line = TimeToStr(now) + separator_;
      break;
    case smDateTime:
      line = DateTimeToStr(now) + separator_;
      break;
    default:
      return line;
  }
  line.append(text);
  line.append(kCRLF);
  return line;
}

void TLogFile::WriteLine(std::string_view text) {
  std::lock_guard guard(Lock);
  const TDateTime now = Now();
  // All pieces go out in one write, so lines of other threads never come between them.
  std::string lines;
  if (text.find(kCRLF) == std::string_view::npos) {
    lines = StampLine(text, now);
  } else {
    std::string all(text);
    all.append(kCRLF);
    size_t start = 0;
    for (size_t end; (end = all.find(kCRLF, start)) != std::string::npos; start = end + kCRLF.size())
      lines += StampLine(std::string_view(all).substr(start, end - start), now);
  }
  if (!lines.empty()) WriteAt(lines, now);
}

void TLogFile::Write(std::string_view text) {
  std::lock_guard guard(Lock);
  WriteAt(text, Now());
}

void TLogFile::WriteAt(std::string_view text, TDateTime now) {
  const std::string name = FileNameAt(now);
  if (!stream_ || name != currentFileName_) {
    // A file that failed to open is tried again only under a new name, so a
    // broken folder costs no system call per line; one that failed to write
    // (a full disk) is tried again at the next line.
    if (name != currentFileName_ || reopen_) Open(name);
    if (!stream_) return;
  }
  int64_t written = 0;
  try {
    written = stream_->Write(text.data(), static_cast<int64_t>(text.size()));
  } catch (const std::exception&) {
    DropTornTail();
    throw;
  }
  // A short write (a buffer that filled and could not go out) loses lines
  // quietly, as it always did, but never leaves half of one.
  if (written != static_cast<int64_t>(text.size())) DropTornTail();
}

// After a failed write the file may end inside a line: it is cut back to
// its last whole line, and the buffered lines are dropped with the stream.
void TLogFile::DropTornTail() {
  stream_.reset();  // its last flush may fail too; the cut below follows it
  reopen_ = true;
  const int fd = ::open(currentFileName_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  off_t end = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  char block[4096];
  while (end > 0) {
    const off_t start = std::max<off_t>(0, end - static_cast<off_t>(sizeof block));
    const ssize_t n = ::pread(fd, block, static_cast<size_t>(end - start), start);
    if (n <= 0) break;
    const char* last = static_cast<const char*>(::memrchr(block, '\n', static_cast<size_t>(n)));
    if (last != nullptr) {
      end = start + (last - block) + 1;
      break;
    }
    end = start;
  }
  if (::ftruncate(fd, end) != 0) {
    // Nothing more to do: the next whole line follows what is there.
  }
  ::close(fd);
}

void TLogFile::Open(const std::string& name) {
  if (stream_) {
    // Errors of the old file must not keep the log from moving on.
    try {
      stream_->Flush();
    } catch (const EBxHugeFile&) {
    }
    stream_.reset();
  }
  currentFileName_ = name;
  try {
    const std::string dir = ExtractFilePath(name);
    if (!dir.empty() && !ForceDirectories(dir)) {
      enabled_ = false;
      return;
    }
    stream_ = std::make_unique<TBxHugeFileStream>(name, TBxAccess::Append, hfBuffered);
    enabled_ = true;
    reopen_ = false;
  } catch (const std::exception&) {
    enabled_ = false;
  }
}

void TLogFile::Flush() {
  std::lock_guard guard(Lock);
  if (!stream_) return;
  try {
    stream_->Flush();
  } catch (const std::exception&) {
    DropTornTail();
    throw;
  }
}

void TLogFile::Clear() {
  std::lock_guard guard(Lock);
  if (stream_) stream_->SetSize(0);
}

void TLogFile::SetFolder(std::string folder) {
  std::lock_guard guard(Lock);
  folder_ = std::move(folder);
}

std::string TLogFile::Folder() const {
  std::lock_guard guard(Lock);
  return folder_;
}

void TLogFile::SetSeparator(std::string separator) {
  std::lock_guard guard(Lock);
  separator_ = std::move(separator);
}

bool TLogFile::Enabled() const {
  std::lock_guard guard(Lock);
  return enabled_;
}

std::string TLogFile::CurrentFileName() const {
  std::lock_guard guard(Lock);
  return currentFileName_;
}
