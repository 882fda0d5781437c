#include "Common/uAppendFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

namespace {

int OpenForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

}  // namespace

struct TAppendFiles::Descriptor {
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() { ::close(fd); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  const int fd;
};

TAppendFiles::TAppendFiles(int keepOpenMs) : keepOpenMs_(keepOpenMs) {}

TAppendFiles::~TAppendFiles() = default;

std::shared_ptr<TAppendFiles::Descriptor> TAppendFiles::Acquire(const std::string& path, const Descriptor* stale) {
  const uint64_t now = GetTickCount64();
  std::lock_guard<std::mutex> g(mutex_);
  DropExpired(now);
  Entry& entry = files_[path];
  if (entry.fd && entry.fd.get() != stale && now - entry.openedMs < static_cast<uint64_t>(keepOpenMs_)) {
    return entry.fd;
  }
  entry.fd.reset();
  int fd = OpenForAppend(path);
  if (fd < 0 && errno == ENOENT && ForceDirectories(ExtractFilePath(path))) fd = OpenForAppend(path);
  if (fd < 0) {
    const int error = errno;
    files_.erase(path);
    throw EInOutError(Format("Cannot open %s : %s", path, std::strerror(error)));
  }
  entry.fd = std::make_shared<Descriptor>(fd);
  entry.openedMs = now;
  return entry.fd;
}

void TAppendFiles::DropExpired(uint64_t now) {
  if (now - lastSweepMs_ < static_cast<uint64_t>(keepOpenMs_)) return;
  lastSweepMs_ = now;
  for (auto it = files_.begin(); it != files_.end();) {
    if (now - it->second.openedMs >= static_cast<uint64_t>(keepOpenMs_)) {
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = queues_.begin(); it != queues_.end();) {
    if (!it->second.writing && it->second.pending.empty()) {
      it = queues_.erase(it);
    } else {
      ++it;
    }
  }
}

void TAppendFiles::Append(const std::string& path, std::string_view bytes) {
  if (bytes.empty()) return;
  std::string batch;
  Queue* queue;
  {
    std::lock_guard<std::mutex> g(mutex_);
    queue = &queues_[path];
    if (queue->writing) {
      queue->pending.append(bytes);  // the writing thread takes them
      return;
    }
    queue->writing = true;
    batch.swap(queue->pending);  // left by a failed write
    batch.append(bytes);
  }
  // Writes until nothing is queued: a batch takes far less time than the
  // lines that arrive meanwhile take to write one by one, so this ends.
  for (;;) {
    try {
      WriteAll(path, batch);
    } catch (...) {
      std::lock_guard<std::mutex> g(mutex_);
      queue->writing = false;
      throw;
    }
    batch.clear();
    std::lock_guard<std::mutex> g(mutex_);
    if (queue->pending.empty()) {
      queue->writing = false;
      return;
    }
    batch.swap(queue->pending);
  }
}

void TAppendFiles::WriteAll(const std::string& path, const std::string& bytes) {
  std::shared_ptr<Descriptor> file = Acquire(path, nullptr);
  // A deleted file (or folder) is made again for this write.
  struct stat st;
  if (::fstat(file->fd, &st) == 0 && st.st_nlink == 0) file = Acquire(path, file.get());
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(file->fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(Format("Write error on %s : %s", path, std::strerror(errno)));
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void TAppendFiles::CloseAll() {
  std::lock_guard<std::mutex> g(mutex_);
  files_.clear();
}

size_t TAppendFiles::OpenCount() {
  std::lock_guard<std::mutex> g(mutex_);
  return files_.size();
}
