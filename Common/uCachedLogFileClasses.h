// A buffered text log with one stamped line per entry, optionally named after
// the day: the engine's event log (folder Log/VT/, prefix "vt", extension
// "txt", date-named, date-and-time stamps, separator "|").
//
// One lock guards the lines collected, the file's name and the settings the
// name is built from; every operation may be called from any thread. Lines
// collect in a 64 KiB buffer; when it fills, at Flush, when the file is
// switched and when the object is destroyed they are handed to the log's own
// writer thread (TAppendFiles), so a thread that logs never writes the file
// nor waits for the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Common/BxHugeF.h"
#include "Common/uAppendFiles.h"
#include "platform/DateTime.h"

class TLogFile {
 public:
  enum : uint8_t { smNone = 0, smTime = 1, smDateTime = 2 };

  // Folder is made a full path (it ends in "/" when the caller gave one: the
  // file name is Folder + name). The file is opened at once; a file that
  // cannot be opened leaves the object off without raising. MaxQueued caps
  // the bytes waiting for the writer (beyond it, blocks of lines are dropped
  // and counted).
  TLogFile(const std::string& folder, uint8_t stampMode, bool dateNamed, std::string extension, std::string prefix,
           std::string fixedFileName, size_t maxQueued = TAppendFiles::kDefaultMaxQueued);
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Writes Text as one stamped line ending in CR LF; a Text with CR LF
  // inside becomes one stamped line per piece (a final CR LF gives a last,
  // empty line). Stamp modes: 0 none, 1 "hh:nn:ss", 2 "yyyy-mm-dd hh:nn:ss",
  // each followed by the separator; any other mode writes nothing.
  void WriteLine(std::string_view text);
  // Writes Text unchanged to the file of the moment. A new day or a changed
  // folder switches files first (the old one's lines go to the writer);
  // while the file cannot be opened, text is dropped, and opening is tried
  // again at the next write a second or more after the last try, or at once
  // when the file name changes; the file that opens again starts with a line
  // that tells how many lines were dropped meanwhile. A write that fails on
  // the writer loses its lines (the file ends at its last whole line: lines
  // are written whole or not at all) and raises EBxHugeFile at the next Flush.
  void Write(std::string_view text);
  // Has the collected lines written and synced to disk; nothing when nothing
  // was written since the last Flush. Raises EBxHugeFile for a write that
  // failed since the last Flush.
  void Flush();
  // Empties the current file: lines logged before the call are wiped, lines
  // logged after it are kept. Returns once the writer has emptied it.
  void Clear();

  // The folder is read on every write; a change moves the log at the next one.
  void SetFolder(std::string folder);
  std::string Folder() const;
  void SetSeparator(std::string separator);
  // False while the file of the current name could not be opened.
  bool Enabled() const;
  std::string CurrentFileName() const;
  // The name the file of this moment has.
  std::string GetFileName() const;
  // Lines dropped because the writer's queue was full, since creation.
  uint64_t DroppedLines() const;

 private:
  std::string FileNameAt(TDateTime now) const;
  std::string StampLine(std::string_view text, TDateTime now) const;
  void WriteAt(std::string_view text, TDateTime now);
  void Open(const std::string& name, TDateTime now);
  // Gives the collected lines to the writer; under Lock.
  void HandOver();

  mutable std::mutex Lock;
  const uint8_t stampMode_;
  std::string separator_;
  const std::string fixedFileName_;
  std::string folder_;
  const bool dateNamed_;
  const std::string prefix_;
  const std::string extension_;
  bool enabled_ = true;
  uint64_t lastOpenMs_ = 0;  // tick of the last try to open
  uint64_t offLines_ = 0;    // lines dropped since the file could not be opened
  std::string currentFileName_;
  std::string pending_;  // lines of currentFileName_ not yet handed over
  bool dirty_ = false;   // lines handed over since the last Flush

  std::mutex errorMutex_;
  std::string error_;  // the first write error since the last Flush
  std::atomic<uint64_t> droppedLines_{0};

  TAppendFiles writer_;  // last: drains while everything above still exists
};
