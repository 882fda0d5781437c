// How many cores the process can really have, for the fiber runtime's carrier
// count: a carrier more than the process gets CPU time for only adds sleeps,
// wake-ups and context switches, and takes time slices from the programs it
// shares the machine with (often its own back ends).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Cores the process may run on (its affinity), no more than its cgroup's CPU
// quota rounded up. At least 1.
int UsableCores();

// The carrier count: VT_CARRIERS when it holds a count from 1 to 1024, else
// UsableCores().
int DefaultCarrierCount();

// The pieces, for tests.
// A count from 1 to 1024 in Text, else nothing.
std::optional<int> CarrierCountSetting(const char* text);
// Cores a quota gives: the contents of a cgroup v2 "cpu.max" ("max 100000",
// "150000 100000"), or nothing for no limit or unreadable contents.
std::optional<int> QuotaCoresV2(std::string_view cpuMax);
// The same for cgroup v1's cpu.cfs_quota_us and cpu.cfs_period_us.
std::optional<int> QuotaCoresV1(std::string_view quotaUs, std::string_view periodUs);
// The smallest quota of the process's cgroup and its ancestors, read below
// CgroupRoot (normally /sys/fs/cgroup) for the membership lines of
// /proc/self/cgroup in ProcSelfCgroup.
std::optional<int> CgroupQuotaCores(const std::string& cgroupRoot, std::string_view procSelfCgroup);
