#include "platform/CpuShare.h"

#include <sched.h>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>
#include "platform/SysUtils.h"

namespace {

constexpr int kMostCarriers = 1024;

std::optional<int64_t> Number(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> CoresOf(int64_t quota, int64_t period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const int64_t cores = (quota + period - 1) / period;
  return static_cast<int>(std::min<int64_t>(cores, kMostCarriers));
}

std::optional<std::string> Contents(const std::string& path) {
  try {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// "/a/b" -> "/a/b", "/a", "/": a quota anywhere above the process applies too.
std::vector<std::string> SelfAndAncestors(std::string path) {
  std::vector<std::string> paths;
  while (!path.empty() && path != "/") {
    paths.push_back(path);
    path.resize(path.rfind('/'));
  }
  paths.push_back("");
  return paths;
}

void KeepSmaller(std::optional<int>& smallest, std::optional<int> cores) {
  if (cores && (!smallest || *cores < *smallest)) smallest = cores;
}

}  // namespace

std::optional<int> CarrierCountSetting(const char* text) {
  if (text == nullptr) return std::nullopt;
  const std::optional<int64_t> value = Number(text);
  if (!value || *value < 1 || *value > kMostCarriers) return std::nullopt;
  return static_cast<int>(*value);
}

std::optional<int> QuotaCoresV2(std::string_view cpuMax) {
  const size_t blank = cpuMax.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::optional<int64_t> quota = Number(cpuMax.substr(0, blank));  // "max": nothing
  const std::optional<int64_t> period = Number(cpuMax.substr(blank + 1));
  if (!quota || !period) return std::nullopt;
  return CoresOf(*quota, *period);
}

std::optional<int> QuotaCoresV1(std::string_view quotaUs, std::string_view periodUs) {
  const std::optional<int64_t> quota = Number(quotaUs);  // -1: no limit
  const std::optional<int64_t> period = Number(periodUs);
  if (!quota || !period) return std::nullopt;
  return CoresOf(*quota, *period);
}

std::optional<int> CgroupQuotaCores(const std::string& cgroupRoot, std::string_view procSelfCgroup) {
  std::optional<int> smallest;
  size_t start = 0;
  while (start < procSelfCgroup.size()) {
    size_t end = procSelfCgroup.find('\n', start);
    if (end == std::string_view::npos) end = procSelfCgroup.size();
    const std::string_view line = procSelfCgroup.substr(start, end - start);
    start = end + 1;
    // "hierarchy:controllers:path"; v2 has hierarchy 0 and no controllers.
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string path(line.substr(second + 1));
    if (line.substr(0, first) == "0" && controllers.empty()) {
      for (const std::string& at : SelfAndAncestors(path))
        if (auto max = Contents(cgroupRoot + at + "/cpu.max")) KeepSmaller(smallest, QuotaCoresV2(*max));
      continue;
    }
    bool cpu = false;
    for (size_t from = 0; from <= controllers.size();) {
      size_t comma = controllers.find(',', from);
      if (comma == std::string_view::npos) comma = controllers.size();
      cpu = cpu || controllers.substr(from, comma - from) == "cpu";
      from = comma + 1;
    }
    if (!cpu) continue;
    for (const char* mount : {"/cpu,cpuacct", "/cpu"}) {
      for (const std::string& at : SelfAndAncestors(path)) {
        const std::string dir = cgroupRoot + mount + at;
        const auto quota = Contents(dir + "/cpu.cfs_quota_us");
        const auto period = Contents(dir + "/cpu.cfs_period_us");
        if (quota && period) KeepSmaller(smallest, QuotaCoresV1(*quota, *period));
      }
    }
  }
  return smallest;
}

int UsableCores() {
  int cores = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  if (const auto self = Contents("/proc/self/cgroup"))
    if (const auto quota = CgroupQuotaCores("/sys/fs/cgroup", *self)) cores = std::min(cores, *quota);
  return std::max(1, cores);
}

int DefaultCarrierCount() {
  if (const auto set = CarrierCountSetting(std::getenv("VT_CARRIERS"))) return *set;
  return UsableCores();
}
