// Memory figures of the process and of the system for the engine's
// statistics lines, read from /proc and getrusage. Each query gives -1 when
// its source cannot be read. The Linux figures stand in for the page-file
// and virtual-memory figures of other systems: page-file usage is the
// virtual size, the page file is the commit limit, virtual memory the
// address-space limit.
#pragma once

#include <cstdint>

// Process (bytes, and a count of page faults).
int64_t ProcessMemoryUsage();       // VmRSS
int64_t ProcessPeakMemoryUsage();   // VmHWM
int64_t ProcessPagefileUsage();     // VmSize
int64_t ProcessPeakPagefileUsage(); // VmPeak
int64_t ProcessPageFaultCount();    // minor + major faults

// System (bytes).
int64_t SystemTotalPhysical();      // MemTotal
int64_t SystemAvailPhysical();      // MemAvailable
int64_t SystemTotalPageFile();      // CommitLimit
int64_t SystemAvailPageFile();      // CommitLimit - Committed_AS
int64_t SystemTotalVirtual();       // RLIMIT_AS, 2^47 when unlimited
int64_t SystemAvailVirtual();       // total virtual - VmSize
