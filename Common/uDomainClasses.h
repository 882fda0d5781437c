// Domains and their virtual paths: the host and path rules of the switch,
// owned by a TDomainHandler. Counters that client threads change are atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Common/uConfigLists.h"
#include "Common/uIPRestrictor.h"
#include "Common/uStreamIO.h"
#include "platform/Classes.h"

class TDomainHandler;
class TDomain;
class TServerCluster;
class TRequestMatchData;
class TServer;

// One counter per match status.
using TMatchStatusCounts = std::array<std::atomic<int32_t>, 9>;

// Stored cluster positions of a virtual path that name no cluster.
inline constexpr int32_t NoClusterIndex = -1;
inline constexpr int32_t DomainClusterIndex = -2;

class TVirtualPath {
 public:
  // A registered path is listed by its domain and by the handler; create one
  // with TDomain::AddVirtualPath. An unregistered path belongs to nobody.
  TVirtualPath(TDomain* domain, bool registered);
  ~TVirtualPath();
  TVirtualPath(const TVirtualPath&) = delete;
  TVirtualPath& operator=(const TVirtualPath&) = delete;

  // How a path names its cluster.
  enum class ClusterKind : uint8_t { None, DomainCluster, Explicit };

  int32_t ClusterIndex = DomainClusterIndex;  // as read from the file
  bool Enabled = true;
  std::atomic<int32_t> RequestCount{0};
  std::atomic<int64_t> BytesTransferred{0};
  int32_t Id;
  int32_t OutPort = 0;  // 0 = the domain's
  std::string TargetAddress;
  std::string HostReplace;
  std::string Path = "/";
  std::string PathReplace;  // or the redirect address when Redirect is set
  std::string CheckStatusText;
  uint8_t CheckStatus = 0;  // 0 not checked, 1 OK, 2 failed, 3 path disabled
  TDomain* const Domain;
  TMatchStatusCounts MatchStatusCounts{};
  ClusterKind Cluster = ClusterKind::DomainCluster;
  TServerCluster* ServerCluster = nullptr;  // when Cluster is Explicit
  const bool Registered;
  bool SSL = false;
  bool App = false;
  bool Tomcat = false;
  bool Redirect = false;
  bool PermanentRedirect = false;

  // The effective cluster: none, the domain's, or the path's own.
  TServerCluster* GetCluster() const;
  // Nullptr names no cluster.
  void SetCluster(TServerCluster* cluster);
  void SetDomainCluster();

  // Where a health check of the path goes (defined with the configuration-
  // wide operations).
  std::string DisplayName() const;  // PathReplace, else Path
  int32_t TargetPort() const;       // OutPort, else the domain's
  std::string TargetHost() const;   // TargetAddress, else the domain's TargetHost
  // HostReplace, else the domain's DefaultHostReplace, else its DomainName.
  std::string HostHeader() const;
  // False without an effective cluster; else true, with the cluster's first
  // available server (none when there is none).
  bool CheckServer(TServer*& server) const;

  void SetPath(std::string_view text);
  void SetTargetPath(std::string_view text);
  std::string GetURL() const;

  // The path to send to the back end for RequestPath (request matching).
  std::string MapPath(const std::string& requestPath) const;

  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s) const;

  static constexpr size_t MinRecordBytes = 4 + 4 + 4 + 4 + 4 + 4 + 4 + 1 + 4;
};

using TVirtualPathList = TOwningList<TVirtualPath>;

class TDomain {
 public:
  ~TDomain();
  TDomain(const TDomain&) = delete;
  TDomain& operator=(const TDomain&) = delete;

  int32_t ClusterIndex = -1;  // as read from the file
  bool LogEnabled = true;
  bool Enabled = true;
  bool DefaultForPort = false;
  std::atomic<int64_t> BytesTransferred{0};
  std::atomic<int32_t> RequestCount{0};
  int32_t Id;
  int32_t ListenOnPort = 80;
  int32_t OutPort = 80;
  int32_t FVirtualPathsConnecting = 0;
  std::string DefaultHostReplace;
  std::string DomainName = "(unnamed)";
  std::string Description;
  std::string DefaultTargetAddress;
  TDomainHandler* Handler;
  TIPRestrictor IPRestrictor;
  TMatchStatusCounts MatchStatusCounts{};
  TServerCluster* ServerCluster = nullptr;
  TStringList VirtualDomains;  // host aliases; "*" in front matches by suffix
  TStringList ResponseHeadersToAdd;
  TStringList RequestHeadersToAdd;
  TStringList IPsToBindTo;
  TVirtualPathList VirtualPaths;
  std::string SiteName;
  std::string CheckStatusText;
  uint8_t CheckStatus = 0;
  // Computed from SSL and the paths; written under the read lock, so atomic.
  std::atomic<uint8_t> ProtocolMode{0};  // 0 "http", 1 "mix", 2 "ssl"
  bool SSL = false;
  bool OwaHTTPtoHTTPS = false;
  bool ForcedHTTPtoHTTPS = false;

  // Appends a registered path.
  TVirtualPath* AddVirtualPath();
  // Frees the path; false when it is not one of this domain's.
  bool RemoveVirtualPath(TVirtualPath* path);
  bool HasVirtualPath(std::string_view path) const;
  // DefaultTargetAddress, or DomainName when that is empty.
  std::string TargetHost() const;

  // Request matching: this domain's match of M, and its host and binding
  // rules.
  void Match(TRequestMatchData& m, bool defaultPass);
  bool MatchesHost(const std::string& host) const;
  bool IsBoundTo(const std::string& localIP, int32_t port) const;

  void SetLogName(std::string_view text);
  void AssignLogName();
  void UpdateProtocolMode();
  const char* ProtocolModeText() const;
  std::string GetURL() const;
  std::string PortText() const;
  std::string TargetPortText() const;

  // The request matching adds Match here.

  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s);  // cleans the header lists first

  static constexpr size_t MinRecordBytes = 70;

 private:
  friend class TDomainHandler;
  explicit TDomain(TDomainHandler* handler);
};

using TDomainList = TOwningList<TDomain>;
