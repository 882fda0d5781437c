// Server clusters: the back-end servers of a domain or virtual path, the
// choice of a server for a client with session affinity, the load windows,
// the once-a-second cluster tick and the records in the settings file.
//
// Ownership: a TServerClusterList owns its clusters, a cluster its servers,
// both through shared_ptr, because a reload retires them while client threads
// (the server a back-end connection was opened for, its Stats) and running
// health checks (server and cluster) still hold them. A retired object is
// out of the configuration: nothing displays it and checks apply nothing to
// it; it is freed when its last holder lets go.
//
// Locks: the configuration's reader lock is held around choices, ticks and
// queries, its writer lock around a reload. Each cluster's Lock guards its
// affinity table and every choice on it; a server's Lock is held by a running
// health check of it. Order: configuration lock -> cluster Lock -> logger.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Common/uLoadBalancedConnections.h"
#include "Common/uPackedConnections.h"
#include "Common/uStatHolder.h"
#include "Common/uStreamIO.h"
#include "platform/DateTime.h"

class TServerCluster;
class TServerClusterList;

// Outcome of a server choice, passed in and read back by the caller.
namespace LBStatus {
constexpr uint8_t NotSet = 0;
constexpr uint8_t NewConnection = 1;
constexpr uint8_t OldConnection = 2;
constexpr uint8_t NoSelection = 3;  // what a match result holds before any choice
constexpr uint8_t OldUpdatedConnection = 4;
constexpr uint8_t NoServerCapacity = 5;
constexpr uint8_t NoOnlineServers = 6;
constexpr uint8_t FailedToFindServer = 7;
constexpr uint8_t ClusterDisabled = 8;
}  // namespace LBStatus

// "Not set", "New connection", ... ; "" for 3 and unknown values.
const char* LBStatusText(uint8_t status);

// Client key of an IPv4 address text, byte 0 = first octet. "" gives 0; a
// text over 255 characters, an octet over 255 or a fifth octet raises
// ERangeError.
int32_t IPToInt(const std::string& text);
std::string IntToIP(int32_t key);

// Seam through which the cluster tick starts health checks; the health-check
// unit installs its starter. Without one, no checks run.
class TServerCheckWaitList;
class IServerCheckStarter {
 public:
  virtual ~IServerCheckStarter() = default;
  // Starts a check of every server of Cluster that is due one. WaitList, when
  // given, collects the started checks for a caller that waits for them.
  virtual void StartServerChecks(const std::shared_ptr<TServerCluster>& cluster, TServerCheckWaitList* waitList) = 0;
};
// Installs Starter for the process (nullptr: none). The caller keeps it alive.
void SetServerCheckStarter(IServerCheckStarter* starter);
IServerCheckStarter* GetServerCheckStarter();

// One back-end server.
class TServer : public std::enable_shared_from_this<TServer> {
 public:
  // Creates a server in Cluster (appended to its Servers) with a fresh key.
  static std::shared_ptr<TServer> Create(TServerCluster& cluster);
  explicit TServer(TServerCluster* cluster);  // not added to any list; use Create
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // Settings (written while the configuration is built or edited).
  std::atomic<bool> Enabled{false};
  int32_t ServerPort = 0;
  std::atomic<float> Capacity{0};  // 0: a spare server
  std::string ServerName;
  std::string ServerAddress;
  // The owning cluster; not to be followed once the server is retired.
  TServerCluster* Cluster;
  std::atomic<bool> Online{true};
  uint16_t UniqueServerKey = 0;
  std::array<std::atomic<int32_t>, 6> LoadWindow{};  // slot 0 current, 5 oldest
  std::atomic<int32_t> FConsecutiveFailedOnlineChecks{0};
  std::mutex Lock;  // held by a running health check of this server
  std::atomic<int32_t> ActiveSessions{0};
  std::atomic<TDateTime> LastNewRequest{0};
  std::atomic<TDateTime> LastNewSession{0};
  std::atomic<int32_t> TotalRequests{0};
  std::atomic<int32_t> TotalSessions{0};
  std::atomic<bool> AutoActivate{true};
  std::atomic<bool> Responding{false};
  std::atomic<int32_t> LiveConnections{0};  // back-end connections opened for this record
  // Shared with client threads; a reload hands it on to the same server of
  // the new configuration.
  std::shared_ptr<TServerStatHolder> Stats;
  // Set when a reload or an edit takes the server out of the configuration.
  std::atomic<bool> Retired{false};

  void SaveToStream(StreamWriter& w) const;
  void LoadFromStream(StreamReader& r);

  void SetCapacity(float value);  // negative -> 0
  bool IsAvailable() const { return Enabled.load() && Online.load(); }
  void RegisterHit() { RegisterHit(Now()); }
  void RegisterHit(TDateTime now);
  void ShiftLoadWindow();
  int32_t GetWindowSum() const;
  float GetRecentLoad() const { return static_cast<float>(GetWindowSum()); }
  float GetRequestRate() const { return Stats->RequestsPerSecond.load(); }
  float GetTransferRate() const { return Stats->KBPerSecond.load(); }

  // Back-end connection events. The client thread calls both on the record it
  // connected for (keeping its shared_ptr), never on a later choice.
  void OnBackendConnected();
  void OnBackendDisconnected();

  std::string GetLastMessage() const;
  void SetLastMessage(const std::string& text);  // CR -> ":", LF removed

  // Health-check result (Common/uClusterChecks.cpp): failures in a row take
  // the server offline; a pass brings it back only with AutoActivate.
  // Returns the new Online.
  bool UpdateOnlineState(bool passed);

  // Load windows, Online, LastMessage and Responding of the same server of
  // another configuration.
  void CopyStatsFrom(const TServer& other);
  // On a reload: CopyStatsFrom, plus the counters, times, failure count and
  // the shared Stats record of the same server of the outgoing configuration.
  void TakeStateFrom(const TServer& old);

 private:
  mutable std::mutex messageLock_;
  std::string lastMessage_;
};

// The servers of one cluster, in the order of every search and tie-break.
class TServerList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // Index checked (ERangeError).
  const std::shared_ptr<TServer>& GetServer(int index) const;
  // The first server with Key, or none.
  TServer* FindByKey(uint16_t key) const;
  int IndexOf(const TServer* server) const;
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  void SaveToStream(StreamWriter& w) const;
  // Int32 count, then that many server records created in Cluster.
  void LoadFromStream(StreamReader& r, TServerCluster& cluster);

 private:
  friend class TServerCluster;
  friend class TServer;
  std::vector<std::shared_ptr<TServer>> items_;
};

class TServerCluster : public std::enable_shared_from_this<TServerCluster> {
 public:
  // Remembers OwnerList but does not add itself; TServerClusterList::Add does.
  explicit TServerCluster(TServerClusterList* ownerList = nullptr);
  ~TServerCluster();
  TServerCluster(const TServerCluster&) = delete;
  TServerCluster& operator=(const TServerCluster&) = delete;

  std::atomic<bool> Enabled{true};
  std::string Name;
  TServerList Servers;
  mutable std::recursive_mutex Lock;  // affinity table, choices, check starts
  std::atomic<int32_t> ConnectionTimeout{1800};  // seconds
  TLoadBalancedConnectionHandlerBucketList Connections;
  // Affinity entries kept at most: clients without a key of their own (no
  // cookie yet) add one each, so the oldest make room.
  std::atomic<int32_t> MaxConnections{200000};
  uint16_t FLastUniqueServerKey = 0;
  bool Loading = false;
  TServerClusterList* OwnerList;
  int32_t ClusterKey;
  std::atomic<int32_t> MaxFailBeforeOffline{1};
  std::atomic<int32_t> FailoverCheckInterval{5};
  std::atomic<int32_t> LoadAveragingPeriod{300};
  std::atomic<TDateTime> LastWindowShift{0};
  std::atomic<TDateTime> LastCheck{0};
  std::atomic<TDateTime> LastExpiry{0};
  std::string UserAgent = "Mozilla/4.0 (compatible; MSIE 6.0)";
  std::string HostName = "yourHost";
  std::string Document = "/";
  uint8_t VerifyMethod = 0;   // 0 open a connection, 1 HTTP GET
  uint8_t SessionMethod = 0;  // 0 peer address, 1 persistent cookie, 2 transient cookie
  std::atomic<bool> Retired{false};

  void SaveToStream(StreamWriter& w) const;
  void LoadFromStream(StreamReader& r);

  // Forced or not while loading: 0 and no change unless Forced.
  uint16_t NextUniqueServerKey(bool forced);

  // Takes Server out of this cluster: its affinity entries lose it, and it is
  // retired.
  void RemoveServer(TServer* server);

  // The choice for one request. Server stays none when the cluster is
  // disabled (status 8) or no server could be chosen; Port and Host are set
  // only when a server is chosen.
  void GetServer(int32_t clientKey, std::shared_ptr<TServer>& server, uint8_t& status, int32_t& port,
                 std::string& host);
  TServer* GetServerForClient(int32_t clientKey, uint8_t& status);
  TServer* SelectServer(uint8_t& status);
  TServer* FindLeastLoadedServer() const;

  // Frees the entries older than MaxAge seconds; -1 stands for ConnectionTimeout.
  void RemoveExpiredConnections(float maxAge);
  void Tick();
  void ShiftLoadWindows();
  // Through the installed check starter; nothing without one.
  void StartServerChecks(TServerCheckWaitList* waitList);
  // The fail-over time shown to the operator, in seconds:
  // (MaxFailBeforeOffline + 1) x FailoverCheckInterval; EIntOverflow when it
  // does not fit.
  int32_t GetOfflineTime() const;

  // Console queries.
  bool HasAvailableServer() const;
  TServer* GetFirstAvailableServer() const;
  int GetEnabledCount() const;
  float GetTotalCapacity() const;  // enabled servers, online or not
  float GetTotalLoad() const;      // all servers

  void SetConnectionTimeout(int32_t seconds);  // 0 or less -> 1800
  void SetEnabled(bool value) { Enabled = value; }

  // Clears the affinity table and retires the cluster and its servers.
  void Retire();

 private:
  bool KeyInUse(uint16_t key) const;
  // Room for one more affinity entry; under Lock.
  void MakeRoom();
  bool FEvicting = false;  // an eviction episode is running (logged once)
};

class TServerClusterList {
 public:
  TServerClusterList() = default;
  ~TServerClusterList() { Clear(); }
  TServerClusterList(const TServerClusterList&) = delete;
  TServerClusterList& operator=(const TServerClusterList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Index checked (ERangeError).
  const std::shared_ptr<TServerCluster>& GetCluster(int index) const;
  int IndexOf(const TServerCluster* cluster) const;  // -1 when absent
  TServerCluster* FindByClusterKey(int32_t key) const;
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // A new cluster with its defaults, appended.
  std::shared_ptr<TServerCluster> Add();
  // Takes the cluster out of the list and retires it. References to it from
  // domains and paths are the caller's to clear first.
  void Remove(TServerCluster* cluster);
  // Retires and drops every cluster.
  void Clear();

  void SaveToStream(StreamWriter& w) const;
  // Int32 count, then that many cluster records appended to this list.
  void LoadFromStream(StreamReader& r);

  void Tick();
  void RemoveExpiredConnections(float maxAge);
  int32_t GetConnectionCount() const;
  // Checks every server of every enabled cluster and returns when all
  // results are applied (Common/uClusterChecks.cpp).
  void CheckAllServers();

  // Servers matched by ClusterKey and UniqueServerKey: CopyStatsFrom.
  void CopyServerStats(const TServerClusterList& previous);
  // Entries on an enabled, online server, in cluster order.
  void PackConnections(TPackedConnectionList& list) const;
  // Entries whose cluster and server exist and whose key is not yet taken.
  void RestoreConnections(const TPackedConnectionList* list);
  // A reload: this freshly loaded list takes the affinity entries, server
  // state, counters and Stats records, and the cluster tick times of the
  // clusters and servers that stay. Both lists' clusters must be idle (the
  // configuration's writer lock is held).
  void TakeStateFrom(const TServerClusterList& old);

  // Written to a temporary file that then replaces FileName.
  void SaveConnectionsToFile(const std::string& fileName) const;
  // Nothing when the file is missing; a bad file raises EReadError and
  // restores nothing.
  void LoadConnectionsFromFile(const std::string& fileName);

 private:
  std::vector<std::shared_ptr<TServerCluster>> items_;
};
