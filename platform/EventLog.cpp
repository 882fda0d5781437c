#include "platform/EventLog.h"

#include <syslog.h>

SyslogEventLogWriter::SyslogEventLogWriter(std::string ident) : ident_(std::move(ident)) {}

void SyslogEventLogWriter::LogMessage(const std::string& text, TEventLogType type) {
  int priority = LOG_INFO;
  if (type == TEventLogType::etError) priority = LOG_ERR;
  if (type == TEventLogType::etWarning) priority = LOG_WARNING;
  // Opened per entry: the entries are rare, and the ident must be this one's
  // even if something else of the process opened syslog meanwhile.
  openlog(ident_.c_str(), LOG_PID, LOG_DAEMON);
  syslog(priority, "%s", text.c_str());
  closelog();
}

void RecordingEventLogWriter::LogMessage(const std::string& text, TEventLogType type) {
  std::lock_guard<std::mutex> g(mutex_);
  entries_.push_back({text, type});
}

std::vector<RecordingEventLogWriter::Entry> RecordingEventLogWriter::Entries() const {
  std::lock_guard<std::mutex> g(mutex_);
  return entries_;
}
