#include "Common/uAppendFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

namespace {

// How long the writer stays awake after a round: lines queued meanwhile
// wake nobody and go out together.
constexpr auto kBatchWindow = std::chrono::milliseconds(5);
// A buffer kept for the next batch keeps at most this much memory.
constexpr size_t kSpareCapacity = 1u << 20;
constexpr size_t kSpareBuffers = 16;

int OpenFile(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

// Opens Path for appending, made with any missing folder; -1 and errno set
// when it cannot be.
int OpenForAppend(const std::string& path) {
  const int fd = OpenFile(path);
  if (fd < 0 && errno == ENOENT && ForceDirectories(ExtractFilePath(path))) return OpenFile(path);
  return fd;
}

// After a write that failed half-way (a full disk) the file is cut back to
// the last whole line of Written, so the next write never follows half a
// line. Only our own bytes go: the unfinished line is cut only when it lies
// whole in the run of our bytes that ends at RunEnd (from RunStart on in
// Written) and nothing was appended after it.
void CutTornLine(int fd, std::string_view written, size_t runStart, off_t runEnd) {
  const size_t nl = written.rfind('\n');
  const size_t keep = nl == std::string_view::npos ? 0 : nl + 1;
  if (keep == written.size() || keep < runStart || runEnd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size != runEnd) return;
  if (::ftruncate(fd, runEnd - static_cast<off_t>(written.size() - keep)) != 0) {
    // Nothing more to do: the next write follows what is there.
  }
}

}  // namespace

TAppendFiles::TAppendFiles(int keepOpenMs, size_t maxQueued)
    : keepOpenMs_(keepOpenMs), maxQueued_(maxQueued), writer_([this] { Run(); }) {}

TAppendFiles::~TAppendFiles() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  writer_.join();
  for (auto& [path, entry] : files_) ::close(entry.fd);
}

bool TAppendFiles::Append(const std::string& path, std::string_view bytes, std::string_view tail) {
  const size_t size = bytes.size() + tail.size();
  if (size == 0) return true;
  bool wake = false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (queued_ + size > maxQueued_) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      ++episodeDropped_;
      return false;
    }
    std::string& queue = pending_[path].bytes;
    queue.append(bytes);
    queue.append(tail);
    queued_ += size;
    ++appended_;
    if (asleep_) {
      asleep_ = false;
      wake = true;
    }
  }
  if (wake) wake_.notify_one();
  return true;
}

void TAppendFiles::Truncate(const std::string& path) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    Queue& queue = pending_[path];
    // These bytes would be wiped as soon as written.
    queued_ -= queue.bytes.size();
    queue.bytes.clear();
    queue.truncate = true;
    ++appended_;
    if (asleep_) {
      asleep_ = false;
      wake = true;
    }
  }
  if (wake) wake_.notify_one();
}

void TAppendFiles::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t target = appended_;
  if (done_ >= target) return;
  ++flushWaiters_;
  asleep_ = false;
  wake_.notify_one();
  written_.wait(lock, [&] { return done_ >= target; });
  --flushWaiters_;
}

void TAppendFiles::SetOnWriteError(TWriteErrorEvent onWriteError) {
  std::lock_guard<std::mutex> g(eventMutex_);
  onWriteError_ = std::move(onWriteError);
}

void TAppendFiles::SetOnDropped(TDroppedEvent onDropped) {
  std::lock_guard<std::mutex> g(eventMutex_);
  onDropped_ = std::move(onDropped);
}

uint64_t TAppendFiles::DroppedCount() const { return dropped_.load(std::memory_order_relaxed); }

void TAppendFiles::CloseAll() {
  std::lock_guard<std::mutex> g(filesMutex_);
  for (auto& [path, entry] : files_) ::close(entry.fd);
  files_.clear();
}

size_t TAppendFiles::OpenCount() {
  std::lock_guard<std::mutex> g(filesMutex_);
  return files_.size();
}

bool TAppendFiles::CanAppendTo(const std::string& path) {
  const int fd = OpenForAppend(path);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void TAppendFiles::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (appended_ == done_) {
      if (stop_) return;
      // Nothing to write: sleep until an Append, a Flush or the stop wakes
      // the writer; while descriptors are open, only until they expire.
      asleep_ = true;
      bool open;
      {
        std::lock_guard<std::mutex> g(filesMutex_);
        open = !files_.empty();
      }
      if (open) {
        wake_.wait_for(lock, std::chrono::milliseconds(keepOpenMs_));
      } else {
        wake_.wait(lock);
      }
      asleep_ = false;
      if (appended_ == done_) {
        lock.unlock();
        {
          std::lock_guard<std::mutex> g(filesMutex_);
          DropExpired(GetTickCount64());
        }
        lock.lock();
        continue;
      }
    }

    const uint64_t upTo = appended_;
    const size_t bytes = TakeBatch();
    lock.unlock();
    WriteBatch();
    lock.lock();
    queued_ -= bytes;
    // A drop episode ends once the queue has drained to half; it is
    // reported before a Flush waiting for this round returns.
    uint64_t droppedNow = 0;
    if (episodeDropped_ > 0 && queued_ <= maxQueued_ / 2) {
      droppedNow = episodeDropped_;
      episodeDropped_ = 0;
    }
    if (droppedNow > 0) {
      lock.unlock();
      {
        std::lock_guard<std::mutex> g(eventMutex_);
        try {
          if (onDropped_) onDropped_(droppedNow);
        } catch (const std::exception&) {
          // An event that fails must not end the writer.
        }
      }
      lock.lock();
    }
    done_ = upTo;
    if (flushWaiters_ > 0) written_.notify_all();
    if (!stop_ && flushWaiters_ == 0) {
      wake_.wait_for(lock, kBatchWindow, [&] { return stop_ || flushWaiters_ > 0; });
    }
  }
}

size_t TAppendFiles::TakeBatch() {
  size_t bytes = 0;
  for (auto it = pending_.begin(); it != pending_.end();) {
    Queue& queue = it->second;
    if (queue.bytes.empty() && !queue.truncate) {
      // Nothing came for this file during a whole round: its entry goes.
      KeepSpare(std::move(queue.bytes));
      it = pending_.erase(it);
      continue;
    }
    bytes += queue.bytes.size();
    Piece& piece = batch_.emplace_back();
    piece.path = it->first;
    piece.truncate = std::exchange(queue.truncate, false);
    piece.bytes.swap(queue.bytes);
    if (!spare_.empty()) {
      queue.bytes.swap(spare_.back());
      spare_.pop_back();
    }
    ++it;
  }
  return bytes;
}

void TAppendFiles::WriteBatch() {
  struct Failure {
    std::string path, message;
    bool repeated;
  };
  std::vector<Failure> errors;
  {
    std::lock_guard<std::mutex> g(filesMutex_);
    DropExpired(GetTickCount64());
    for (Piece& piece : batch_) {
      // A file that is gone is empty enough; any other failure is reported
      // as a write's would be.
      if (piece.truncate && ::truncate(piece.path.c_str(), 0) != 0 && errno != ENOENT) {
        const std::string message = Format("Cannot truncate %s : %s", piece.path, std::strerror(errno));
        const bool repeated = !failing_.insert(piece.path).second;
        errors.push_back({piece.path, message, repeated});
      }
      if (piece.bytes.empty()) continue;
      try {
        WriteAll(piece.path, piece.bytes);
        failing_.erase(piece.path);
      } catch (const EInOutError& e) {
        // A failed write may leave a broken descriptor: the next one opens anew.
        Close(piece.path);
        const bool repeated = !failing_.insert(piece.path).second;
        errors.push_back({piece.path, e.what(), repeated});
      }
    }
  }
  for (Piece& piece : batch_) KeepSpare(std::move(piece.bytes));
  batch_.clear();
  if (errors.empty()) return;
  std::lock_guard<std::mutex> g(eventMutex_);
  for (const Failure& f : errors) {
    try {
      if (onWriteError_) onWriteError_(f.path, f.message, f.repeated);
    } catch (const std::exception&) {
      // An event that fails must not end the writer.
    }
  }
}

void TAppendFiles::WriteAll(const std::string& path, const std::string& bytes) {
  int fd = Acquire(path, false);
  // A deleted file (or folder) is made again for this write.
  struct stat st;
  if (::fstat(fd, &st) == 0 && st.st_nlink == 0) fd = Acquire(path, true);
  size_t written = 0;
  // Our bytes [runStart, written) lie together in the file and end at runEnd;
  // known only after a short write, the one case where a write can follow.
  size_t runStart = 0;
  off_t runEnd = -1;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      // A full disk may have taken part of the bytes.
      if (written > 0) CutTornLine(fd, std::string_view(bytes).substr(0, written), runStart, runEnd);
      throw EInOutError(Format("Write error on %s : %s", path, std::strerror(error)));
    }
    written += static_cast<size_t>(n);
    if (written < bytes.size()) {
      // With O_APPEND the offset is right after the bytes just written,
      // wherever another process's appends put them.
      const off_t end = ::lseek(fd, 0, SEEK_CUR);
      if (end < 0) {
        runStart = written;
      } else if (runEnd < 0 || end - n != runEnd) {
        runStart = written - static_cast<size_t>(n);
      }
      runEnd = end;
    }
  }
}

// The open descriptor of Path; a new one when Fresh or when the cached one
// has expired.
int TAppendFiles::Acquire(const std::string& path, bool fresh) {
  const uint64_t now = GetTickCount64();
  const auto found = files_.find(path);
  if (found != files_.end()) {
    if (!fresh && now - found->second.openedMs < static_cast<uint64_t>(keepOpenMs_)) return found->second.fd;
    Close(path);
  }
  const int fd = OpenForAppend(path);
  if (fd < 0) {
    const int error = errno;
    throw EInOutError(Format("Cannot open %s : %s", path, std::strerror(error)));
  }
  files_[path] = Entry{fd, now};
  return fd;
}

void TAppendFiles::KeepSpare(std::string&& buffer) {
  buffer.clear();
  // A burst's large buffer is let go, so it does not stay for ever; one that
  // holds no storage of its own is no spare.
  if (buffer.capacity() > std::string().capacity() && buffer.capacity() <= kSpareCapacity &&
      spare_.size() < kSpareBuffers) {
    spare_.push_back(std::move(buffer));
  }
}

void TAppendFiles::Close(const std::string& path) {
  const auto found = files_.find(path);
  if (found == files_.end()) return;
  ::close(found->second.fd);
  files_.erase(found);
}

void TAppendFiles::DropExpired(uint64_t now) {
  if (now - lastSweepMs_ < static_cast<uint64_t>(keepOpenMs_)) return;
  lastSweepMs_ = now;
  for (auto it = files_.begin(); it != files_.end();) {
    if (now - it->second.openedMs >= static_cast<uint64_t>(keepOpenMs_)) {
      ::close(it->second.fd);
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
}
