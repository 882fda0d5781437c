// The root of the switch's configuration: general and administration
// settings, the domains with their virtual paths, the server clusters and the
// certificate sets, with the settings file that stores them all.
//
// One re-entrant reader/writer lock, Synchronizer, guards the tree. A load
// parses into a separate tree and swaps it in under the write lock only when
// the whole file was read, so a bad file changes nothing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/uCompressionLimiter.h"
#include "Common/uConfigLists.h"
#include "Common/uDomainClasses.h"
#include "Common/uIPRestrictor.h"
#include "Common/uSSLSettings.h"
#include "Common/uStreamIO.h"
#include "platform/Classes.h"
#include "platform/RWLock.h"

class TServerCluster;
class TServerClusterList;
class TDomainHandler;
class TRequestMatchData;

// Process-wide copy of the last loaded or saved UseXForwardedFor, read by the
// request-head parser.
extern std::atomic<bool> UseXForwardedForGlobal;

// Receives TDomainHandler::Log lines; installed by the engine host.
using TWebAdminLogHook = std::function<void(TDomainHandler* sender, const std::string& text)>;
void SetWebAdminLogHook(TWebAdminLogHook hook);

inline constexpr int32_t DefaultAdminPort = 19721;
inline constexpr int32_t SettingsFileVersion = 16;
inline constexpr const char* SettingsFileName = "data/settings.dat";

// The settings a load replaces as a whole and that are plain values. Kept
// apart so that a load can start from the current values (fields an older
// file lacks keep them) and hand the result back in one assignment.
struct TDomainHandlerSettings {
  std::string FileName;
  bool NoRemoteAdmin = false;
  bool AllowAccessToStatus = false;
  bool NoSettingsFile = true;
  bool SendMailOnBrokenServer = false;
  int32_t FileVersion = 0;
  int32_t MaxThreads = 150;
  std::string ContactEmailAddress;
  std::string Username = "Admin";
  std::string GateName = "Vantrell Switch";
  std::string Password;
  TCompressionLimiter CompressionLimiter;
  TIPRestrictor AdminIPRestrictor;
  uint8_t LogOptions = 3;  // 1 W3C access log, 2 event lines, 4 trace lines
  int32_t AdminPort = DefaultAdminPort;
  uint8_t CheckMethod = 0;  // index into CheckMethodNames
  bool AllowKeepAlive = true;
  bool RemoveVTHeaders = false;
  std::string LogDirectory;  // empty: "Log" in the program folder
  bool UseXForwardedFor = false;
  std::string CustomCallerIPHeaders = "X-Forwarded-for;rlnclientipaddr";
};

class TDomainHandler : public TDomainHandlerSettings {
 public:
  TDomainHandler();
  ~TDomainHandler();
  TDomainHandler(const TDomainHandler&) = delete;
  TDomainHandler& operator=(const TDomainHandler&) = delete;

  std::atomic<int64_t> BytesTransferred{0};
  std::atomic<int32_t> RequestCount{0};
  int32_t FDomainsRunningCorrectly = 0;
  TDomainList Domains;  // in matching order
  mutable TMultiReadExclusiveWriteSynchronizer Synchronizer;
  TMatchStatusCounts MatchStatusCounts{};
  std::unique_ptr<TServerClusterList> ServerClusters;
  // Every registered path of every domain, for lookups by id; not owned.
  TPointerList<TVirtualPath> VirtualPaths;
  TSSLSettingsList SSLSettingsList;

  // Reads the file, or takes the defaults when it does not exist. A file
  // that cannot be read leaves the configuration as it was and raises.
  void LoadFromFile(const std::string& fileName);
  // Replaces the whole tree from the stream. On any error the tree, its
  // counters and the clusters' affinity entries stay as they were.
  void LoadFromStream(StreamReader& s);
  void LoadFromStream(const std::vector<uint8_t>& bytes);
  // Keeps the previous file as FileName + ".old" and replaces the file.
  void SaveToFile(const std::string& fileName);
  void SaveToStream(StreamWriter& s);

  void SetDefaults();
  // Turns stored cluster positions into clusters and fills the bindings of
  // the certificate sets that take them from the domains.
  void ResolveReferences();
  // One "address|port" entry per listener the enabled domains need, HTTPS
  // ones when Ssl is set. A specific address is left out when the wildcard
  // of its port is listed.
  void GetBindings(TStringList* list, bool ssl) const;
  void Log(const std::string& text);

  // The first certificate set; an assertion failure when there is none.
  TSSLSettings* FirstSSLSettings() const;
  TSSLSettings* FirstSSLSettingsOrNull() const;
  // 0 or below gives the default port.
  void SetAdminPort(int32_t port);
  // The port the web administration listens on: AdminPort, or the default
  // when a file holds 0 or below (the stored value is kept as stored).
  int32_t WebAdminPort() const;

  // Operations across the whole tree (Common/uConfigOperations.cpp).
  // First domain / registered path with Id; no lock taken.
  TDomain* FindDomainById(int32_t id) const;
  TVirtualPath* FindVirtualPathById(int32_t id) const;
  int32_t CountEnabledDomains() const;
  // Copies Old's counters into the records with the same ids, and the server
  // state of the same clusters and servers. Nothing when Old is null.
  void CopyStatisticsFrom(const TDomainHandler* old);
  // The cluster tick: affinity expiry, load windows, due health checks.
  void RemoveOldConnections();
  // MaxAge in seconds; -1 is each cluster's own session time-out.
  void RemoveExpiredConnections(int32_t maxAge);
  int32_t GetConnectionCount() const;
  // Checks every server of every enabled cluster and waits for the results.
  void CheckIfLBServersAreOK();
  // Checks every enabled virtual path (or a path-less domain's target),
  // waits, and counts the domains that run correctly.
  void VerifyAllDomains();
  void DumpClusterStatus(TStringList& lines) const;

  // Appends a new domain with its defaults.
  TDomain* AddDomain();
  // Frees the domain and its paths; false when it is not one of ours.
  bool RemoveDomain(TDomain* domain);
  // Clears every domain's and path's reference to the cluster, then frees it.
  void RemoveCluster(TServerCluster* cluster);

  // Position of Cluster in ServerClusters; -1 for none or one not listed.
  int32_t ClusterPosition(const TServerCluster* cluster) const;

  // Request matching (defined with the matcher): the domain, path, target
  // and server of one request, under the read lock; and the test report of
  // the match of a request that is described, not sent.
  void MatchRequest(TRequestMatchData& matchData);
  void DescribeMatch(const std::string& host, const std::string& localIP, TStringList& lines,
                     const std::string& callerIP, const std::string& path, int32_t port);

 private:
  bool RunMatchPass(TRequestMatchData& matchData, int pass);
  void ChooseServer(TRequestMatchData& matchData);
  void ReadTree(StreamReader& s);
  void TakeTreeFrom(TDomainHandler& fresh);
  TServerCluster* ClusterAt(int32_t position) const;
};
