#include "Common/uClusterChecks.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "Common/uGuardedCounter.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uLogger.h"
#include "Common/uServerVerification.h"
#include "platform/SysUtils.h"

namespace {

class ClusterCheckStarter : public IServerCheckStarter {
 public:
  void StartServerChecks(const std::shared_ptr<TServerCluster>& cluster, TServerCheckWaitList* waitList) override {
    ::StartServerChecks(cluster, waitList);
  }
};

// What one check of one server holds from its start to its end. The events
// that share it are dropped on the check thread, so the server lock, should
// the result never be applied, is released there too.
struct ServerCheck {
  std::shared_ptr<TServerCluster> cluster;
  std::shared_ptr<TServer> server;
  std::unique_lock<std::mutex> serverLock;
};

const char* CanConnectWord(uint8_t status) {
  switch (status) {
    case 1:
      return "Yes";
    case 2:
      return "No";
    default:
      return "Unknown";
  }
}

void LogLine(const std::string& line) {
  if (GlobalLogger) GlobalLogger->LogInfoFmt("%s", line);
}

}  // namespace

void InstallServerChecks() {
  static ClusterCheckStarter starter;
  SetServerCheckStarter(&starter);
}

int32_t ServerCheckTimeoutMs(const TServerCluster& cluster) {
  int64_t ms = static_cast<int64_t>(cluster.FailoverCheckInterval.load()) * 1000 - 1000;
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

void StartServerChecks(const std::shared_ptr<TServerCluster>& cluster, TServerCheckWaitList* waitList) {
  if (!cluster || !cluster->Enabled) return;
  std::lock_guard<std::recursive_mutex> clusterGuard(cluster->Lock);
  const int32_t timeout = ServerCheckTimeoutMs(*cluster);
  for (const std::shared_ptr<TServer>& server : cluster->Servers) {
    // A disabled spare is not checked; a disabled weighted server is.
    if (!server->Enabled && !(server->Capacity > 0)) continue;
    auto check = std::make_shared<ServerCheck>();
    check->cluster = cluster;
    check->server = server;

    TServerVerificationThread* thread = GetVerificationThread();
    thread->Target = server.get();
    thread->OnBeforeTest = [check](TServerVerificationThread& t, bool& abort) {
      check->serverLock = std::unique_lock<std::mutex>(check->server->Lock);
      // A server a reload took away is not contacted.
      if (check->server->Retired || check->cluster->Retired) {
        abort = true;
        return;
      }
      t.Port = check->server->ServerPort;
      t.Address = check->server->ServerAddress;
    };
    thread->OnCompleted = [check](TServerVerificationThread& t) {
      struct Release {
        ServerCheck& c;
        ~Release() {
          if (c.serverLock.owns_lock()) c.serverLock.unlock();
        }
      } release{*check};
      ApplyServerCheckResult(*check->cluster, *check->server, t.Status, t.StatusText);
    };
    thread->CheckMethod = cluster->VerifyMethod;
    thread->HostHeader = cluster->HostName;
    thread->UserAgent = cluster->UserAgent;
    thread->SetPath(cluster->Document);
    thread->ConnectTimeout = timeout;
    thread->ReadTimeout = timeout;
    if (waitList) {
      waitList->Add(thread);
      thread->PoolAfterRun = false;
      thread->FreeOnTerminate = false;
    } else {
      thread->FreeOnTerminate = true;
      thread->PoolAfterRun = true;
    }
    thread->Resume();
  }
}

bool TServer::UpdateOnlineState(bool passed) {
  if (passed) {
    Responding = true;
    if (AutoActivate) {
      FConsecutiveFailedOnlineChecks = 0;
      Online = true;
    } else if (Online) {
      // Only failures in a row count; a server that went offline without
      // AutoActivate stays offline.
      FConsecutiveFailedOnlineChecks = 0;
    }
    return Online;
  }
  const int32_t failures = IncrementGuarded(FConsecutiveFailedOnlineChecks, "FConsecutiveFailedOnlineChecks");
  const bool up = failures < (Cluster ? Cluster->MaxFailBeforeOffline.load() : 1);
  Online = up;
  Responding = up;
  return up;
}

void ApplyServerCheckResult(TServerCluster& cluster, TServer& server, uint8_t status,
                            const std::string& statusText) {
  // Under the cluster's Lock a reload cannot retire the server half-way, and
  // results of one cluster are applied one at a time, so "came ONLINE" and
  // "went OFFLINE" follow its availability exactly.
  std::lock_guard<std::recursive_mutex> guard(cluster.Lock);
  if (server.Retired || cluster.Retired) return;
  const char* word = CanConnectWord(status);
  const bool wasAvailable = cluster.HasAvailableServer();
  const bool wasOnline = server.Online;
  server.UpdateOnlineState(status == 1);
  server.SetLastMessage(statusText);
  if (server.Online == wasOnline) {
    if (server.FConsecutiveFailedOnlineChecks > 0 && server.Online) {
      LogLine(Format("Server failed %d out of %d times, Can Connect = %s",
                     server.FConsecutiveFailedOnlineChecks.load(), cluster.MaxFailBeforeOffline.load(), word));
      LogLine(Format("  Reason = %s", statusText));
    }
    return;
  }
  LogLine(Format("State of server %s (%s:%d) (cluster=%s) changed:", server.ServerName, server.ServerAddress,
                 server.ServerPort, cluster.Name));
  LogLine(Format("  Can Connect     = %s", word));
  LogLine(Format("  Connect Message = %s", statusText));
  const bool isAvailable = cluster.HasAvailableServer();
  if (isAvailable != wasAvailable) {
    if (isAvailable)
      LogLine(Format("  Cluster %s came ONLINE", cluster.Name));
    else
      LogLine(Format("  Cluster %s went OFFLINE", cluster.Name));
  }
}

int32_t TServerCluster::GetOfflineTime() const {
  return CheckedMul(CheckedAdd(MaxFailBeforeOffline, 1), FailoverCheckInterval);
}

void TServerClusterList::CheckAllServers() {
  TServerCheckWaitList waitList;
  for (const std::shared_ptr<TServerCluster>& cluster : *this) ::StartServerChecks(cluster, &waitList);
  waitList.WaitForAll();
}
