#include "Common/Misc.h"

#include <dirent.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/Spawn.h"
#include "platform/SysUtils.h"

extern char** environ;

int32_t MinInt(int32_t a, int32_t b) { return a < b ? a : b; }
int64_t MinInt64(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t MaxInt64(int64_t a, int64_t b) { return a > b ? a : b; }

std::string FormatThousands64(int64_t n) {
  if (n < 0) return std::string();
  const std::string digits = std::to_string(n);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(' ');
    out.push_back(digits[i]);
  }
  return out;
}

std::string FormatThousands(int32_t n) { return FormatThousands64(n); }

std::string DateTimeToStrDef(const std::string& defaultText, TDateTime moment) {
  return moment == 0 ? defaultText : DateTimeToStr(moment);
}

std::string HostWithoutPort(const std::string& s) { return std::string(HostWithoutPortView(s)); }

std::string_view HostWithoutPortView(std::string_view s) { return s.substr(0, s.find(':')); }

// ------------------------------------------------------------- command line
namespace {
std::mutex commandLineMutex;
std::vector<std::string>& CommandLine() {
  static std::vector<std::string> args;
  return args;
}
}  // namespace

void SetCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  SetCommandLine(std::move(args));
}

void SetCommandLine(std::vector<std::string> args) {
  std::lock_guard<std::mutex> lock(commandLineMutex);
  CommandLine() = std::move(args);
}

std::vector<std::string> CommandLineParams() {
  std::lock_guard<std::mutex> lock(commandLineMutex);
  return CommandLine();
}

bool HasCommandLineSwitch(const std::string& name) {
  std::lock_guard<std::mutex> lock(commandLineMutex);
  const std::vector<std::string>& args = CommandLine();
  for (size_t i = 1; i < args.size(); ++i)
    if (SameText(args[i], name)) return true;
  return false;
}

// -------------------------------------------------------------- file masks
namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// "*" and "?" wildcards; iterative with one back-track point, so linear in
// practice and never recursive.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Calls Fn(folder + name, is regular file) for every matching entry.
template <class Fn>
void ForEachMatch(const std::string& mask, Fn fn) {
  const std::string folder = ExtractFilePath(mask);
  std::string pattern = ExtractFileName(mask);
  if (pattern == "*.*") pattern = "*";
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.' || !WildcardMatch(pattern, name)) continue;
    const std::string path = folder + name;
    struct stat st;
    const bool regular = ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    fn(path, regular);
  }
  ::closedir(dir);
}

}  // namespace

void DeleteFilesByMask(const std::string& mask) {
  ForEachMatch(mask, [](const std::string& path, bool regular) {
    if (regular) ::unlink(path.c_str());
  });
}

TStringList ListFilesByMask(const std::string& mask) {
  TStringList list;
  ForEachMatch(mask, [&](const std::string& path, bool) { list.Add(path); });
  return list;
}

// ----------------------------------------------------------------- browser
std::string CutBeforeFirefoxUrlSwitch(const std::string& command) {
  const std::string lower = LowerCase(command);
  const size_t url = lower.find("-url");
  if (lower.find("firefox") == std::string::npos || url == std::string::npos) return command;
  return command.substr(0, url);
}

std::string GetDefaultBrowserCommand() {
  const char* browser = std::getenv("BROWSER");
  std::string command = browser && *browser ? browser : "xdg-open";
  // $BROWSER may list several commands separated by ":"; the first one counts.
  command = command.substr(0, command.find(':'));
  return CutBeforeFirefoxUrlSwitch(command);
}

void OpenURL(const std::string& url) {
  // The command's own words, then the URL as a single argument: nothing of
  // the URL is ever read by a shell.
  std::vector<std::string> words;
  const std::string command = GetDefaultBrowserCommand();
  for (size_t i = 0; i < command.size();) {
    while (i < command.size() && command[i] == ' ') ++i;
    const size_t start = i;
    while (i < command.size() && command[i] != ' ') ++i;
    if (i > start) words.push_back(command.substr(start, i - start));
  }
  if (words.empty()) return;
  words.push_back(url);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Listening sockets and the single-instance name stay with this process.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  InitChildSpawnAttr(attr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// ------------------------------------------------------ machine and user
std::string GetComputerNameStr() {
  char buf[100] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return std::string();
  return std::string(buf);
}

std::string GetUserNameStr() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw;
  passwd* result = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) != 0 || !result || !result->pw_name)
    return std::string();
  return std::string(result->pw_name);
}

bool GetProcessAffinity(pid_t process, TProcessorSet& processMask, TProcessorSet& systemMask) {
  processMask.reset();
  systemMask.reset();
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(process, sizeof set, &set) != 0) return false;
  for (int cpu = 0; cpu < 32; ++cpu)
    if (CPU_ISSET(cpu, &set)) processMask.set(static_cast<size_t>(cpu));
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  for (long cpu = 0; cpu < online && cpu < 32; ++cpu) systemMask.set(static_cast<size_t>(cpu));
  return true;
}
