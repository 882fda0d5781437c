#include "platform/ProcInfo.h"

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace {

// The value of Key ("VmRSS:") in a "/proc" file of "Key: value kB" lines, in
// bytes; -1 when absent.
int64_t ProcField(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0) continue;
    try {
      const int64_t value = std::stoll(line.substr(key.size()));
      return line.find("kB") != std::string::npos ? value * 1024 : value;
    } catch (const std::exception&) {
      return -1;
    }
  }
  return -1;
}

int64_t Self(const char* key) { return ProcField("/proc/self/status", key); }
int64_t Meminfo(const char* key) { return ProcField("/proc/meminfo", key); }

}  // namespace

int64_t ProcessMemoryUsage() { return Self("VmRSS:"); }
int64_t ProcessPeakMemoryUsage() { return Self("VmHWM:"); }
int64_t ProcessPagefileUsage() { return Self("VmSize:"); }
int64_t ProcessPeakPagefileUsage() { return Self("VmPeak:"); }

int64_t ProcessPageFaultCount() {
  rusage usage{};
  if (::getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return static_cast<int64_t>(usage.ru_minflt) + static_cast<int64_t>(usage.ru_majflt);
}

int64_t SystemTotalPhysical() { return Meminfo("MemTotal:"); }
int64_t SystemAvailPhysical() { return Meminfo("MemAvailable:"); }
int64_t SystemTotalPageFile() { return Meminfo("CommitLimit:"); }

int64_t SystemAvailPageFile() {
  const int64_t limit = Meminfo("CommitLimit:");
  const int64_t committed = Meminfo("Committed_AS:");
  if (limit < 0 || committed < 0) return -1;
  return limit > committed ? limit - committed : 0;
}

int64_t SystemTotalVirtual() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return -1;
  if (limit.rlim_cur == RLIM_INFINITY) return int64_t{1} << 47;
  return static_cast<int64_t>(limit.rlim_cur);
}

int64_t SystemAvailVirtual() {
  const int64_t total = SystemTotalVirtual();
  const int64_t used = ProcessPagefileUsage();
  if (total < 0 || used < 0) return -1;
  return total > used ? total - used : 0;
}
