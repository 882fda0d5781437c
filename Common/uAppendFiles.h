// Append-only text files for many writer threads at once, such as the W3C
// access logs. Append only queues the bytes in memory: one writer thread of
// its own writes them, so a caller never makes a system call for a line,
// never waits for the disk and a thousand callers never queue up on the
// file's kernel lock. The writer takes all that is queued per wake and
// writes each file's bytes in one O_APPEND write; the bytes of one call are
// never split and each file's bytes keep the order in which they were queued.
// A caller wakes the writer only when it sleeps; after a round the writer
// stays awake a few milliseconds, so under load lines cost no wake at all.
//
// A file that was deleted (or whose folder was) is made again by the next
// write. A descriptor stays open for at most KeepOpenMs after it was opened
// and is then opened again, so a file that was moved is written anew within
// that time, and an idle file is closed.
//
// The bytes queued are bounded (MaxQueued): beyond it Append drops the line
// and counts it; OnDropped reports each such episode once, with its count,
// when the queue has drained to half. Open and write errors happen on the
// writer: the bytes of that write are lost (a file that took part of them is
// cut back to its last whole line, unless another process appended after
// them) and OnWriteError reports the failure, with Repeated set when the
// file's previous write failed too (so a burst of failures can be told
// once). Both events run on the writer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TAppendFiles {
 public:
  using TWriteErrorEvent =
      std::function<void(const std::string& path, const std::string& message, bool repeated)>;
  using TDroppedEvent = std::function<void(uint64_t lines)>;
  static constexpr size_t kDefaultMaxQueued = 32u << 20;

  explicit TAppendFiles(int keepOpenMs = 1000, size_t maxQueued = kDefaultMaxQueued);
  // Writes everything queued, then ends the writer.
  ~TAppendFiles();
  TAppendFiles(const TAppendFiles&) = delete;
  TAppendFiles& operator=(const TAppendFiles&) = delete;

  // Queues Bytes and then Tail (one piece: never split, never apart) for the
  // file, which is made with any missing folder when written; any thread.
  // False when the queue is full and the line was dropped.
  bool Append(const std::string& path, std::string_view bytes, std::string_view tail = {});
  // Empties the file on the writer, in queue order: bytes queued for it
  // before the call are dropped (never written), bytes queued after are
  // kept. A file that is gone stays gone.
  void Truncate(const std::string& path);
  // Returns once every byte queued before the call was written (or its write
  // failed and was reported) and every truncation asked for was done. Blocks
  // the calling OS thread: for tests, a stop, and readers that need the file
  // complete.
  void Flush();
  // Set before the first Append or at any time; a setter waits for a
  // running event to end, so after SetOn...(nullptr) the old one never runs.
  void SetOnWriteError(TWriteErrorEvent onWriteError);
  void SetOnDropped(TDroppedEvent onDropped);
  // Lines dropped on a full queue since creation; any thread, never waits.
  uint64_t DroppedCount() const;
  // Closes every descriptor.
  void CloseAll();
  // Descriptors held open now (tests).
  size_t OpenCount();
  // Makes Path and any missing folder as a write would, and tells whether it
  // opens for appending; any thread.
  static bool CanAppendTo(const std::string& path);

 private:
  struct Entry {
    int fd = -1;
    uint64_t openedMs = 0;
  };
  struct Queue {
    std::string bytes;
    bool truncate = false;  // the file is emptied before Bytes are written
  };
  struct Piece {
    std::string path;
    std::string bytes;
    bool truncate = false;
  };
  void Run();
  // Takes every file's queued bytes into batch_; under mutex_.
  size_t TakeBatch();
  void WriteBatch();
  // Writes Bytes to Path; EInOutError when it cannot be opened or written.
  void WriteAll(const std::string& path, const std::string& bytes);
  int Acquire(const std::string& path, bool fresh);
  // Keeps an emptied buffer for the next batch, unless it is large or enough are kept.
  void KeepSpare(std::string&& buffer);
  void Close(const std::string& path);
  void DropExpired(uint64_t now);

  const int keepOpenMs_;
  const size_t maxQueued_;

  std::mutex mutex_;  // guards the queue state below; never held during a write or an event
  std::condition_variable wake_;
  std::condition_variable written_;
  std::unordered_map<std::string, Queue> pending_;  // per file, bytes in queue order
  size_t queued_ = 0;        // bytes queued and not yet written
  uint64_t appended_ = 0;    // lines and truncations accepted so far
  uint64_t done_ = 0;        // lines and truncations done (or failed) so far
  std::atomic<uint64_t> dropped_{0};  // lines dropped since creation; read without the lock
  uint64_t episodeDropped_ = 0;
  bool asleep_ = false;      // the writer waits without a time-out: the next Append wakes it
  int flushWaiters_ = 0;
  bool stop_ = false;

  std::mutex eventMutex_;  // held while an event runs and while one is set
  TWriteErrorEvent onWriteError_;
  TDroppedEvent onDropped_;

  // The writer's own state; files_ is read by CloseAll/OpenCount under filesMutex_.
  std::mutex filesMutex_;
  std::unordered_map<std::string, Entry> files_;
  uint64_t lastSweepMs_ = 0;
  std::vector<Piece> batch_;
  std::vector<std::string> spare_;         // emptied buffers, capacity kept, for the next batch
  std::unordered_set<std::string> failing_;  // files whose last write failed

  std::thread writer_;  // last: starts once everything above exists
};
