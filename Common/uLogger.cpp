#include "Common/uLogger.h"

TLogger::~TLogger() { std::lock_guard<std::recursive_mutex> lock(Lock); }

void TLoggerCallback::SetOnLog(TLogEvent onLog) {
  TLogEvent old;
  {
    std::lock_guard<std::recursive_mutex> lock(Lock);
    old = std::move(OnLog);
    OnLog = std::move(onLog);
  }
  // The old callback's captures are released outside the lock.
}

bool TLoggerCallback::HasOnLog() {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  return static_cast<bool>(OnLog);
}

std::string TLoggerCallback::LevelName(uint8_t level) {
  static const char* const names[] = {"Exp", "Wrn", "Trc", "Dbg"};
  return level < 4 ? names[level] : std::to_string(level);
}

void TLoggerCallback::Log(uint8_t level, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(Lock);
  if (!OnLog) return;
  // A copy, so a callback that clears or replaces OnLog does not destroy the
  // function it is running in.
  const TLogEvent onLog = OnLog;
  const std::string prefix = LevelName(level) + "-";
  // n line breaks give n + 1 lines; a lone CR or LF does not split.
  size_t start = 0;
  for (;;) {
    const size_t brk = text.find("\r\n", start);
    if (brk == std::string::npos) {
      onLog(prefix + text.substr(start));
      return;
    }
    onLog(prefix + text.substr(start, brk - start));
    start = brk + 2;
  }
}

TLoggerCallback* const GlobalLogger = new TLoggerCallback;
