// The process-wide logger of the engine classes that have no client thread or
// engine host at hand. It filters by level, prefixes each line with the level's
// short name and hands it to a callback on the thread that logs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/SysUtils.h"

class TLogger {
 public:
  TLogger() = default;
  // Takes Lock, so no line is in flight while the logger goes away.
  virtual ~TLogger();
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  // Bit n set: level n passes. {0, 1, 2} after creation.
  std::atomic<uint8_t> Levels{7};
  // False suppresses everything.
  std::atomic<bool> Enabled{true};

  bool Passes(uint8_t level) const { return Enabled && level <= 7 && (Levels >> level & 1u) != 0; }

  // Formats (Format's printf rules) only when the level passes.
  template <class... Args>
  void LogFmt(uint8_t level, std::string_view fmt, const Args&... args) {
    if (Passes(level)) Log(level, Format(fmt, args...));
  }
  template <class... Args>
  void LogInfoFmt(std::string_view fmt, const Args&... args) {
    LogFmt(1, fmt, args...);
  }

  virtual void Log(uint8_t level, const std::string& text) = 0;

 protected:
  // Re-entrant, so a callback that logs again does not deadlock.
  std::recursive_mutex Lock;
};

class TLoggerCallback : public TLogger {
 public:
  using TLogEvent = std::function<void(const std::string& line)>;

  // Set and cleared under Lock: clearing waits for a call in flight, so a host
  // that clears its callback and goes away is never called afterwards.
  void SetOnLog(TLogEvent onLog);
  bool HasOnLog();

  // One OnLog call per CR LF separated line of Text, each as the level's name,
  // "-" and the line, one logger call at a time. A callback's exception goes
  // back to the caller.
  void Log(uint8_t level, const std::string& text) override;

  // "Exp", "Wrn", "Trc", "Dbg" for levels 0 to 3; the number for other levels.
  static std::string LevelName(uint8_t level);

 private:
  TLogEvent OnLog;
};

// The one logger of the process. It exists from static initialisation on and
// is never freed, since parked threads may still log while the process ends;
// the entry point sets its levels to {0, 1, 2, 3}.
extern TLoggerCallback* const GlobalLogger;
