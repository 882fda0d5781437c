// Operations across a whole configuration tree: statistics carried into
// another tree, health checks of every server and of every virtual path,
// affinity upkeep, counts and the cluster dump.
#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uServerVerification.h"
#include "platform/SysUtils.h"

namespace {

// Path checks write the status fields of the tree they check; two callers
// verifying the live tree at once would write them together.
std::mutex& VerifyLock() {
  static std::mutex lock;
  return lock;
}

void CopyCounts(TMatchStatusCounts& to, const TMatchStatusCounts& from) {
  for (size_t i = 0; i < to.size(); ++i) to[i] = from[i].load(std::memory_order_relaxed);
}

// Counting that starts again at 1 instead of overflowing, with a line.
void CountUp(int32_t& counter, const char* name, TDomainHandler& handler) {
  if (counter == std::numeric_limits<int32_t>::max()) {
    handler.Log(Format("%s reset to 1. Old value was %d", name, counter));
    counter = 1;
  } else {
    ++counter;
  }
}

}  // namespace

// ------------------------------------------------------------ record helpers

std::string TDomain::TargetHost() const { return DefaultTargetAddress.empty() ? DomainName : DefaultTargetAddress; }

std::string TVirtualPath::DisplayName() const { return PathReplace.empty() ? Path : PathReplace; }

int32_t TVirtualPath::TargetPort() const { return OutPort != 0 ? OutPort : Domain->OutPort; }

std::string TVirtualPath::TargetHost() const { return TargetAddress.empty() ? Domain->TargetHost() : TargetAddress; }

std::string TVirtualPath::HostHeader() const {
  if (!HostReplace.empty()) return HostReplace;
  if (!Domain->DefaultHostReplace.empty()) return Domain->DefaultHostReplace;
  return Domain->DomainName;
}

bool TVirtualPath::CheckServer(TServer*& server) const {
  server = nullptr;
  TServerCluster* cluster = GetCluster();
  if (!cluster) return false;
  server = cluster->GetFirstAvailableServer();
  return true;
}

// ------------------------------------------------------------------ look-ups

TDomain* TDomainHandler::FindDomainById(int32_t id) const {
  for (const auto& domain : Domains)
    if (domain->Id == id) return domain.get();
  return nullptr;
}

TVirtualPath* TDomainHandler::FindVirtualPathById(int32_t id) const {
  for (TVirtualPath* path : VirtualPaths)
    if (path->Id == id) return path;
  return nullptr;
}

int32_t TDomainHandler::CountEnabledDomains() const {
  ReadLockGuard guard(Synchronizer);
  int32_t count = 0;
  for (const auto& domain : Domains)
    if (domain->Enabled) ++count;
  return count;
}

void TDomainHandler::CopyStatisticsFrom(const TDomainHandler* old) {
  if (!old) return;
  ReadLockGuard oldGuard(old->Synchronizer);
  ReadLockGuard guard(Synchronizer);
  BytesTransferred = old->BytesTransferred.load();
  RequestCount = old->RequestCount.load();
  CopyCounts(MatchStatusCounts, old->MatchStatusCounts);
  for (const auto& domain : Domains) {
    if (const TDomain* from = old->FindDomainById(domain->Id)) {
      domain->BytesTransferred = from->BytesTransferred.load();
      domain->RequestCount = from->RequestCount.load();
      CopyCounts(domain->MatchStatusCounts, from->MatchStatusCounts);
    }
    for (const auto& path : domain->VirtualPaths) {
      if (const TVirtualPath* from = old->FindVirtualPathById(path->Id)) {
        path->RequestCount = from->RequestCount.load();
        path->BytesTransferred = from->BytesTransferred.load();
        CopyCounts(path->MatchStatusCounts, from->MatchStatusCounts);
      }
    }
  }
  ServerClusters->CopyServerStats(*old->ServerClusters);
}

// ---------------------------------------------------------------- affinity

void TDomainHandler::RemoveOldConnections() {
  ReadLockGuard guard(Synchronizer);
  ServerClusters->Tick();
}

void TDomainHandler::RemoveExpiredConnections(int32_t maxAge) {
  ReadLockGuard guard(Synchronizer);
  ServerClusters->RemoveExpiredConnections(static_cast<float>(maxAge));
}

int32_t TDomainHandler::GetConnectionCount() const {
  ReadLockGuard guard(Synchronizer);
  return ServerClusters->GetConnectionCount();
}

// ------------------------------------------------------------ health checks

void TDomainHandler::CheckIfLBServersAreOK() {
  ReadLockGuard guard(Synchronizer);
  ServerClusters->CheckAllServers();
}

namespace {

// Where the check of Path goes: the path's own target without a cluster,
// else the first available server of its cluster; none available fails the
// check without contacting anything.
void OnBeforeVerify(const TVirtualPath& path, TServerVerificationThread& thread, bool& skip) {
  try {
    TServer* server = nullptr;
    if (!path.CheckServer(server)) {
      thread.Port = path.TargetPort();
      thread.Address = path.TargetHost();
    } else if (server) {
      thread.Port = server->ServerPort;
      thread.Address = server->ServerAddress;
    } else {
      thread.Status = 2;
      thread.StatusText =
          Format("Failed to find an active Load Balancing server on cluster %s.", path.GetCluster()->Name);
      skip = true;
    }
  } catch (const Exception& e) {
    thread.Status = 2;
    thread.StatusText = e.Message();
    skip = true;
  }
}

// A registered path keeps its result; the temporary path of a domain
// without paths hands it to the domain.
void OnVerified(TVirtualPath& path, const TServerVerificationThread& thread) {
  if (path.Registered) {
    path.CheckStatusText = thread.StatusText;
    path.CheckStatus = thread.Status;
  } else {
    path.Domain->CheckStatusText = thread.StatusText;
    path.Domain->CheckStatus = thread.Status;
  }
}

void StartPathVerification(TVirtualPath& path, uint8_t checkMethod, TServerCheckWaitList& waitList) {
  auto* thread = new TServerVerificationThread();
  thread->Target = &path;
  thread->SetPath(path.DisplayName());
  thread->HostHeader = path.HostHeader();
  thread->CheckMethod = checkMethod;
  thread->PoolAfterRun = false;
  thread->FreeOnTerminate = false;
  thread->OnBeforeTest = [&path](TServerVerificationThread& t, bool& skip) { OnBeforeVerify(path, t, skip); };
  thread->OnCompleted = [&path](TServerVerificationThread& t) { OnVerified(path, t); };
  waitList.Add(thread);
  thread->Resume();
}

}  // namespace

void TDomainHandler::VerifyAllDomains() {
  std::lock_guard<std::mutex> one(VerifyLock());
  ReadLockGuard guard(Synchronizer);
  // Temporary paths of domains without paths; the checks that use them end
  // before these go.
  std::vector<std::unique_ptr<TVirtualPath>> temporary;
  {
    TServerCheckWaitList waitList;
    for (const auto& domain : Domains) {
      if (!domain->Enabled) continue;
      if (domain->VirtualPaths.Count() > 0) {
        for (const auto& path : domain->VirtualPaths) {
          if (path->Enabled)
            StartPathVerification(*path, CheckMethod, waitList);
          else
            path->CheckStatus = 3;
        }
      } else {
        auto path = std::make_unique<TVirtualPath>(domain.get(), false);
        path->SetCluster(domain->ServerCluster);
        path->OutPort = domain->OutPort;
        path->TargetAddress = domain->DefaultTargetAddress;
        path->SetPath("/");
        StartPathVerification(*path, CheckMethod, waitList);
        temporary.push_back(std::move(path));
      }
    }
    waitList.WaitForAll();
  }

  FDomainsRunningCorrectly = 0;
  for (const auto& domain : Domains) {
    domain->FVirtualPathsConnecting = 0;
    for (const auto& path : domain->VirtualPaths) {
      if (!domain->Enabled)
        path->CheckStatus = 2;
      else if (path->CheckStatus == 1)
        CountUp(domain->FVirtualPathsConnecting, "Domain.FVirtualPathsConnecting", *this);
    }
    if (domain->FVirtualPathsConnecting == domain->VirtualPaths.Count() || !domain->Enabled)
      CountUp(FDomainsRunningCorrectly, "FDomainsRunningCorrectly", *this);
  }
}

// --------------------------------------------------------------------- dump

void TDomainHandler::DumpClusterStatus(TStringList& lines) const {
  constexpr int MaxListedConnections = 101;
  ReadLockGuard guard(Synchronizer);
  for (int i = 0; i < ServerClusters->Count(); ++i) {
    const std::shared_ptr<TServerCluster>& cluster = ServerClusters->GetCluster(i);
    std::lock_guard<std::recursive_mutex> clusterGuard(cluster->Lock);
    lines.Add("");
    lines.Add(Format("ServerCluster[%d]='%s'", i, cluster->Name));
    for (int j = 0; j < cluster->Servers.Count(); ++j) {
      const TServer& s = *cluster->Servers.GetServer(j);
      lines.Add(Format("  Server[%d]='%s' => Host=%s:%d Cap=%f, Key=%d", j, s.ServerName, s.ServerAddress,
                       s.ServerPort, s.Capacity.load(), s.UniqueServerKey));
      lines.Add(Format("    Stats: Connections = !! %d !! (%d, %d, %d, %d, %d)", s.GetWindowSum(),
                       s.LoadWindow[0].load(), s.LoadWindow[1].load(), s.LoadWindow[2].load(),
                       s.LoadWindow[3].load(), s.LoadWindow[4].load()));
      if (!s.Enabled)
        lines.Add("    Server is disabled");
      else if (s.Online && s.FConsecutiveFailedOnlineChecks > 0)
        lines.Add(Format("    SERVER HAS FAILED check %d time(s): %s", s.FConsecutiveFailedOnlineChecks.load(),
                         s.GetLastMessage()));
      else if (!s.Online)
        lines.Add(Format("    SERVER IS OFFLINE: %s", s.GetLastMessage()));
    }
    lines.Add("");
    lines.Add(Format("  Connections : %d", cluster->Connections.GetCount()));
    const std::vector<TLoadBalancedConnection*> entries = cluster->Connections.GetList();
    const int listed = std::min(static_cast<int>(entries.size()), MaxListedConnections);
    for (int k = 0; k < listed; ++k) {
      const TLoadBalancedConnection& entry = *entries[static_cast<size_t>(k)];
      lines.Add(Format("  Connection[%d] = %s => %s (%f s)", k, IntToIP(entry.ClientKey),
                       entry.Server() ? entry.Server()->ServerName : std::string("NO SERVER"),
                       entry.GetConnectionAge()));
    }
    lines.Add("");
  }
  lines.Add("");
}
