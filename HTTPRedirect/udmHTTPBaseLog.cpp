// The engine host's log writers: the event log, the W3C access logs and the
// relay of lines to a console on the main loop.
#include <filesystem>

#include "Common/uCachedLogFileClasses.h"
#include "Common/uDomainHandler.h"
#include "Common/uStatHolder.h"
#include "Common/uW3CLog.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "HTTPRedirect/udmHTTPBaseParts.h"

std::string LogRoot(const TDomainHandler& config, const std::string& programFolder) {
  std::string dir;
  {
    ReadLockGuard g(config.Synchronizer);
    dir = config.LogDirectory;
  }
  if (dir.empty()) return programFolder + "Log/";
  return IncludeTrailingPathDelimiter(dir);
}

namespace {

std::string FullPath(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(folder, ec);
  return ec ? folder : full.lexically_normal().string();
}

// A log name becomes a folder name; it must not lead out of the log root.
bool SafeLogName(const std::string& name) {
  return name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         name.find("..") == std::string::npos;
}

std::string TwoDigits(int n) { return Format("%.2d", n % 100); }

}  // namespace

// ------------------------------------------------------------ event log

void TdmHTTPBase::Log(const std::string& text) {
  LogFile->WriteLine(text);
  if (relay_->hasSink && Stats->ServerState < ssStopped) PostToGUI(text, 0);
}

void TdmHTTPBase::ClientLog(const std::string& text, TClientThread*) {
  LogFile->WriteLine(text);
  if ((GUILogFlags & 1) != 0 && relay_->hasSink && Stats->ServerState < ssStopping) PostToGUI(text, 0);
}

void TdmHTTPBase::WebAdminLog(TDomainHandler*, const std::string& text) { LogFile->WriteLine("Web Admin : " + text); }

void TdmHTTPBase::LoggerCallback(const std::string& text) {
  if (LogFile) LogFile->WriteLine(text);
}

void TdmHTTPBase::UpdateLogDirectory() {
  const std::string folder = FullPath(LogRoot(*Stats->DomainHandler, programFolder_) + "VT") + "/";
  if (folder != LogFile->Folder()) LogFile->SetFolder(folder);
}

uint64_t TdmHTTPBase::EventLogDropped() const { return LogFile ? LogFile->DroppedLines() : 0; }

uint64_t TdmHTTPBase::W3CLogDropped() const { return W3CFiles.DroppedCount(); }

// ------------------------------------------------------------ W3C logs

void TdmHTTPBase::ClientW3CLog(const std::string& text, TClientThread* thread) {
  // The match's own copy of the log name: the domain itself may be gone
  // after a reload.
  const std::string siteName = thread != nullptr && thread->MatchData != nullptr ? thread->MatchData->SiteName : "";
  // Only queues the line: open and write failures come back on the writer
  // (W3CWriteFailed), so nothing here reports a failed write.
  WriteW3CLine(siteName, text);
  if ((GUILogFlags & 2) != 0 && relay_->hasSink && Stats->ServerState < ssStopping) PostToGUI(text, 1);
}

void TdmHTTPBase::FlushW3C() { W3CFiles.Flush(); }

// The folder, the file, the header decision and the remembered file name are
// all settled under W3CLock, so one domain's first line of a file gets
// exactly one header however many threads write at once. The header is
// queued with that line while the lock is held exclusively; every later line
// of the file only reads the settled state under a shared hold and is queued
// after the lock was left, whole. Queuing never waits for the disk: the
// writer of W3CFiles writes the lines and reports its failures to
// W3CWriteFailed.
void TdmHTTPBase::WriteW3CLine(const std::string& siteName, const std::string& text) {
  if (!SafeLogName(siteName)) {
    Log(Format("W3C log name refused : %s", siteName));
    return;
  }
  const std::string rawFolder = LogRoot(*Stats->DomainHandler, programFolder_) + "W3C/" + siteName;
  int year, month, day;
  DecodeDate(Now(), year, month, day);
  const std::string fileName = "ex" + TwoDigits(year) + TwoDigits(month) + TwoDigits(day) + ".log";
  std::string path;
  {
    std::shared_lock<std::shared_mutex> g(W3CLock);
    const auto target = W3CTargets.find(siteName);
    const auto last = W3CFileNames.find(siteName);
    // The file last written is today's file in the settled folder (compared
    // without building the name).
    if (target != W3CTargets.end() && target->second.rawFolder == rawFolder && !target->second.folder.empty() &&
        last != W3CFileNames.end() && last->second.size() == target->second.folder.size() + fileName.size() &&
        last->second.starts_with(target->second.folder) && last->second.ends_with(fileName)) {
      path = last->second;
    }
  }
  if (!path.empty()) {
    W3CFiles.Append(path, text, "\r\n");
    return;
  }

  std::unique_lock<std::shared_mutex> g(W3CLock);
  TW3CTarget& target = W3CTargets[siteName];
  // The folder is expanded and made once per folder setting; when it was
  // removed meanwhile the writer makes it again.
  const bool known = target.rawFolder == rawFolder && !target.folder.empty();
  if (!known) {
    const std::string folder = FullPath(rawFolder) + "/";
    if (!ForceDirectories(folder)) {
      target.folder.clear();
      Log(Format("Failed to create path %s!", folder));
      return;
    }
    target.rawFolder = rawFolder;
    target.folder = folder;
  }
  path = target.folder + fileName;
  std::string& last = W3CFileNames[siteName];
  if (path != last) {
    // A header dropped on a full queue is queued again with the next line.
    if (W3CFiles.Append(path, GetW3CLogHeader() + "\r\n" + text, "\r\n")) last = path;
    return;
  }
  g.unlock();
  W3CFiles.Append(path, text, "\r\n");
}

// On the writer's thread, per failed write; one event line per burst. The
// folder is made again for the next line, and the file gets a header again:
// the lost bytes may have held it.
void TdmHTTPBase::W3CWriteFailed(const std::string& path, const std::string& message, bool repeated) {
  {
    std::lock_guard<std::shared_mutex> g(W3CLock);
    for (auto& [siteName, target] : W3CTargets) {
      if (!target.folder.empty() && path.starts_with(target.folder) &&
          path.find('/', target.folder.size()) == std::string::npos) {
        target.folder.clear();
      }
    }
    for (auto& [siteName, last] : W3CFileNames) {
      if (last == path) last.clear();
    }
  }
  if (!repeated) Log(Format("W3C log write failed : %s", message));
}

// ------------------------------------------------------------ console relay

void TdmHTTPBase::SetGUILogSink(TGUILogSink sink) {
  std::lock_guard<std::mutex> g(relay_->mutex);
  relay_->hasSink = static_cast<bool>(sink);
  relay_->sink = std::move(sink);
}

bool TdmHTTPBase::HasGUILogSink() const { return relay_->hasSink; }

void TdmHTTPBase::SetOnRefreshServerState(std::function<void()> refresh) {
  std::lock_guard<std::mutex> g(relay_->mutex);
  relay_->hasRefresh = static_cast<bool>(refresh);
  relay_->refresh = std::move(refresh);
}

// Posted in order, never waited for: a thread that logs never blocks on the
// main thread, which may itself be waiting for that thread (a stop) or for a
// lock it holds (a reload).
void TdmHTTPBase::PostToGUI(const std::string& text, uint8_t kind) {
  if (relay_->pending.fetch_add(1) >= TRelay::kMaxPending) {
    relay_->pending.fetch_sub(1);
    return;
  }
  loop_.Post([relay = relay_, text, kind] {
    relay->pending.fetch_sub(1);
    TGUILogSink sink;
    {
      std::lock_guard<std::mutex> g(relay->mutex);
      sink = relay->sink;
    }
    if (sink) sink(text, kind);
  });
}

void TdmHTTPBase::RefreshConsole() {
  if (!relay_->hasRefresh) return;
  loop_.Post([relay = relay_] {
    std::function<void()> refresh;
    {
      std::lock_guard<std::mutex> g(relay->mutex);
      refresh = relay->refresh;
    }
    if (refresh) refresh();
  });
}
