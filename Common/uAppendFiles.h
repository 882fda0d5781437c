// Append-only text files for many writer threads at once, such as the W3C
// access logs: each Append is one write() to a descriptor opened with
// O_APPEND, so the bytes of one call are never split by another thread's,
// and no lock is held while the write runs.
//
// A file that was deleted (or whose folder was) is made again by the next
// Append. A descriptor stays open for at most KeepOpenMs after it was opened
// and is then opened again, so a file that was moved is written anew within
// that time, and an idle file is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class TAppendFiles {
 public:
  explicit TAppendFiles(int keepOpenMs = 1000);
  ~TAppendFiles();
  TAppendFiles(const TAppendFiles&) = delete;
  TAppendFiles& operator=(const TAppendFiles&) = delete;

  // Appends Bytes to the file, creating it and any missing folder; any
  // thread. EInOutError when the file cannot be opened or written.
  void Append(const std::string& path, std::string_view bytes);
  // Closes every descriptor (each closes once its last running write ends).
  void CloseAll();
  // Descriptors held open now (tests).
  size_t OpenCount();

 private:
  struct Descriptor;
  struct Entry {
    std::shared_ptr<Descriptor> fd;
    uint64_t openedMs = 0;
  };
  // The open descriptor of Path; a new one when the cached one is Stale.
  std::shared_ptr<Descriptor> Acquire(const std::string& path, const Descriptor* stale);
  void DropExpired(uint64_t now);

  const int keepOpenMs_;
  std::mutex mutex_;  // guards files_ and lastSweepMs_, never held during a write
  std::unordered_map<std::string, Entry> files_;
  uint64_t lastSweepMs_ = 0;
};
