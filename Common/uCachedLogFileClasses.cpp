#include "Common/uCachedLogFileClasses.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/SysUtils.h"

namespace {

constexpr std::string_view kCRLF = "\r\n";
// Collected lines go to the writer in blocks of about this size.
constexpr size_t kHandOverSize = 64 * 1024;
// While the file cannot be opened, it is tried again at most this often.
constexpr uint64_t kReopenMs = 1000;

// Stamped lines end in a line break; a raw text without one counts as a line.
uint64_t LineCount(std::string_view text) {
  const auto breaks = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
  return text.empty() || text.back() == '\n' ? breaks : breaks + 1;
}

std::string FullPath(const std::string& folder) {
  if (folder.empty()) return folder;
  return std::filesystem::absolute(folder).lexically_normal().string();
}

}  // namespace

TLogFile::TLogFile(const std::string& folder, uint8_t stampMode, bool dateNamed, std::string extension,
                   std::string prefix, std::string fixedFileName, size_t maxQueued)
    : stampMode_(stampMode),
      fixedFileName_(std::move(fixedFileName)),
      folder_(FullPath(folder)),
      dateNamed_(dateNamed),
      prefix_(std::move(prefix)),
      extension_(std::move(extension)),
      writer_(1000, maxQueued) {
  writer_.SetOnWriteError([this](const std::string&, const std::string& message, bool) {
    std::lock_guard g(errorMutex_);
    if (error_.empty()) error_ = message;
  });
  // On the writer: the line goes to the queue that was full.
  writer_.SetOnDropped([this](uint64_t blocks) {
    WriteLine(Format("Event log queue full : %u blocks of lines dropped", blocks));
  });
  std::lock_guard guard(Lock);
  const TDateTime now = Now();
  Open(FileNameAt(now), now);
}

// The writer, destroyed next, writes what it holds.
TLogFile::~TLogFile() {
  writer_.SetOnDropped(nullptr);
  std::lock_guard guard(Lock);
  HandOver();
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
  // All pieces are added at once, so lines of other threads never come between them.
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
  // A file that failed to open is tried again under a new name, or at most
  // once a second: a broken folder costs no system call per line, and one
  // that comes right (space freed, descriptors released, a folder made
  // writable) has the log back within a second.
  if (name != currentFileName_ || (!enabled_ && GetTickCount64() - lastOpenMs_ >= kReopenMs)) {
    HandOver();
    Open(name, now);
  }
  if (!enabled_) {
    offLines_ += LineCount(text);
    return;
  }
  pending_.append(text);
  if (pending_.size() >= kHandOverSize) HandOver();
}

void TLogFile::HandOver() {
  if (pending_.empty()) return;
  if (!writer_.Append(currentFileName_, pending_))
    droppedLines_.fetch_add(LineCount(pending_), std::memory_order_relaxed);
  pending_.clear();
  dirty_ = true;
}

// Makes the file and its folder and checks that it opens, as the writer
// will open it for its writes. A log that was off says so in its first line.
void TLogFile::Open(const std::string& name, TDateTime now) {
  const bool wasOff = !enabled_;
  currentFileName_ = name;
  lastOpenMs_ = GetTickCount64();
  enabled_ = TAppendFiles::CanAppendTo(name);
  if (!enabled_ || !wasOff) return;
  pending_.append(
      StampLine(Format("Event log reopened : %u lines dropped while it could not be opened", offLines_), now));
  offLines_ = 0;
}

void TLogFile::Flush() {
  std::string name;
  bool sync;
  {
    std::lock_guard guard(Lock);
    HandOver();
    sync = dirty_;
    dirty_ = false;
    name = currentFileName_;
  }
  writer_.Flush();
  std::string error;
  {
    std::lock_guard g(errorMutex_);
    error.swap(error_);
  }
  if (!error.empty()) throw EBxHugeFile(error, 1001);
  if (!sync) return;
  const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  if (::fsync(fd) != 0) {
    // The lines are with the system; a failed sync has nobody to tell.
  }
  ::close(fd);
}

// The writer empties the file in its queue's order, so the lines logged
// before this point are wiped (those not handed over yet are never written)
// and every line after it is kept, whoever flushes meanwhile.
void TLogFile::Clear() {
  {
    std::lock_guard guard(Lock);
    if (!enabled_) return;
    pending_.clear();
    writer_.Truncate(currentFileName_);
  }
  writer_.Flush();
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

uint64_t TLogFile::DroppedLines() const { return droppedLines_.load(std::memory_order_relaxed); }

bool TLogFile::Enabled() const {
  std::lock_guard guard(Lock);
  return enabled_;
}

std::string TLogFile::CurrentFileName() const {
  std::lock_guard guard(Lock);
  return currentFileName_;
}
