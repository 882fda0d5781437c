// The engine host's statistics timer and its STAT lines.
#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uServerVerification.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/ProcInfo.h"

namespace {

std::string N(int64_t v) { return FormatThousands64(v); }

}  // namespace

void TdmHTTPBase::Timer_UpdateStatsTimer() {
  try {
    UpdateLogDirectory();
    Stats->UpdateRates();
    Stats->PooledThreads = HTTPThreadPool->PooledCount();
    Stats->PoolSize = HTTPThreadPool->PoolSize();
    // A reload replaces the clusters under the write lock.
    TDomainHandler& config = *Stats->DomainHandler;
    ReadLockGuard g(config.Synchronizer);
    for (const auto& cluster : *config.ServerClusters) {
      for (const auto& server : cluster->Servers) {
        if (server->Stats) server->Stats->UpdateRates();
      }
    }
  } catch (const std::exception& e) {
    LogFmt("UpdateStats failed : %s", e.what());
  }

  // On the monotonic 64-bit clock, with a flag for "never": no wrap, and
  // a clock that starts at 0 still writes the first batch.
  const uint64_t now = GetTickCount64();
  if (!statLinesWritten_ || now - LastStatTime > kStatLineIntervalMs) {
    statLinesWritten_ = true;
    LastStatTime = now;
    WriteStatLines();
  }

  const int32_t active = ActiveThreads;
  if (active > MaxActiveThreads) {
    MaxActiveThreads = active;
    try {
      Log(Format("STAT6: ActiveThreads=%s, PooledThreads=%s, MaxThreads=%s, MaxPooledThreads=%s", N(active),
                 N(Stats->PooledThreads), N(MaxActiveThreads), N(Stats->PoolSize)));
    } catch (const std::exception& e) {
      LogFmt("UpdateStats(STAT6) failed : %s", e.what());
    }
  }
}

void TdmHTTPBase::WriteStatLines() {
  TStatHolder& s = *Stats;
  try {
    // The log figures follow the fixed ones, so readers of those still find them.
    Log(Format("STAT1: ActiveThreads=%s, PooledThreads=%s, Trans=%s, Compr=%s, Conn=%s, LBConn=%s, "
               "EventLogDropped=%s, W3CLogDropped=%s",
               N(ActiveThreads), N(s.PooledThreads), N(s.BytesTransferred), N(s.BytesSaved), N(s.NextRequestId),
               N(s.DomainHandler->GetConnectionCount()), N(static_cast<int64_t>(EventLogDropped())),
               N(static_cast<int64_t>(W3CLogDropped()))));
  } catch (const std::exception& e) {
    LogFmt("UpdateStats(STAT1) failed : %s", e.what());
  }
  try {
    Log(Format("STAT2: Req=%s, KB/s=%s, Req/s=%s, Comp%%=%s, KeepAlive=%s, Transfer=%s, MaxKB/s=%s, MaxReq/s=%s",
               N(s.TotalRequests), Format("%2.1f", s.KBPerSecond.load()), Format("%2.1f", s.RequestsPerSecond.load()),
               Format("%f%%", s.GetCompressionRate()), N(KeepAliveWaiters), N(ActiveTransfers),
               Format("%2.1f", s.MaxKBPerSecond.load()), Format("%2.1f", s.MaxRequestsPerSecond.load())));
  } catch (const std::exception& e) {
    LogFmt("UpdateStats(STAT2) failed : %s", e.what());
  }
  try {
    Log(Format("STAT3: VerificationThreads; Created=%s, Running=%s, Freed=%s", N(VerificationThreadsCreated),
               N(VerificationThreadsRunning), N(VerificationThreadsFreed)));
  } catch (const std::exception& e) {
    LogFmt("UpdateStats(STAT3) failed : %s", e.what());
  }
  try {
    Log(Format("STAT4: ProcessInfo; MemoryUsage=%s, PeakMemoryUsage=%s, PagefileUsage=%s, PeakPagefileUsage=%s, "
               "PageFaultCount=%s",
               N(ProcessMemoryUsage()), N(ProcessPeakMemoryUsage()), N(ProcessPagefileUsage()),
               N(ProcessPeakPagefileUsage()), N(ProcessPageFaultCount())));
  } catch (const std::exception& e) {
    LogFmt("UpdateStats(STAT4) failed : %s", e.what());
  }
  try {
    Log(Format("STAT5: SystemMemoryInfo; TP=%s, AP=%s, TPF=%s, APF=%s, TV=%s, AV=%s", N(SystemTotalPhysical()),
               N(SystemAvailPhysical()), N(SystemTotalPageFile()), N(SystemAvailPageFile()), N(SystemTotalVirtual()),
               N(SystemAvailVirtual())));
  } catch (const std::exception& e) {
    LogFmt("UpdateStats(STAT5) failed : %s", e.what());
  }
}
