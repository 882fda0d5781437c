// Append-only text files for many writer threads at once, such as the W3C
// access logs. One thread at a time writes a file (descriptor opened with
// O_APPEND); bytes that other threads append meanwhile wait in memory and
// go out in the writer's next write(), so those threads never wait for the
// disk and a thousand threads do not queue up on the file's kernel lock.
// The bytes of one call are never split, and each thread's calls keep their
// order. When Append returns in the last thread, every byte is written.
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
  // thread. EInOutError when the file cannot be opened or written, raised in
  // the thread that was writing; the bytes of that write are lost, as one
  // failed call's would be, and bytes queued meanwhile go out with the next
  // Append.
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
  // Bytes waiting for the thread that writes the file now.
  struct Queue {
    std::string pending;
    bool writing = false;
  };
  // The open descriptor of Path; a new one when the cached one is Stale.
  std::shared_ptr<Descriptor> Acquire(const std::string& path, const Descriptor* stale);
  void DropExpired(uint64_t now);
  void WriteAll(const std::string& path, const std::string& bytes);

  const int keepOpenMs_;
  std::mutex mutex_;  // guards files_, queues_ and lastSweepMs_, never held during a write
  std::unordered_map<std::string, Entry> files_;
  // Entries are erased only while nobody writes them, so a writer may keep
  // a reference to its queue across the unlocked write.
  std::unordered_map<std::string, Queue> queues_;
  uint64_t lastSweepMs_ = 0;
};
