// The service's own entries in the system's event log: syslog under the
// service's name. Tests record them instead.
#pragma once

#include <mutex>
#include <string>
#include <vector>

enum class TEventLogType { etError, etWarning, etInformation };

class EventLogWriter {
 public:
  virtual ~EventLogWriter() = default;
  // Any thread.
  virtual void LogMessage(const std::string& text, TEventLogType type) = 0;
};

// syslog(3) with Ident, facility daemon.
class SyslogEventLogWriter : public EventLogWriter {
 public:
  explicit SyslogEventLogWriter(std::string ident);
  void LogMessage(const std::string& text, TEventLogType type) override;

 private:
  std::string ident_;  // openlog keeps the pointer, so the text lives here
};

class RecordingEventLogWriter : public EventLogWriter {
 public:
  struct Entry {
    std::string text;
    TEventLogType type;
  };
  void LogMessage(const std::string& text, TEventLogType type) override;
  std::vector<Entry> Entries() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};
