// Request matching: the inputs and results of matching one request head
// against the configuration (which domain and virtual path serve it, whether
// it is refused or redirected, where it goes and which server takes it).
//
// The record pointers (Domain, VirtualPath, ServerCluster, Server) belong to
// the configuration and are valid only while it is not reloaded; everything a
// request needs after the match (domain and path flags, the handler's head
// settings, the cluster name) is copied here at match time, under the
// configuration's read lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Classes.h"

class TDomain;
class TServer;
class TServerCluster;
class TVirtualPath;

// Match statuses (TRequestMatchData::Status).
enum : uint8_t {
  rmsNotProcessed = 0,
  rmsUnfilled = 1,
  rmsFilled = 2,
  rmsFilledVPath = 3,
  rmsRefusedByIPRestrictor = 4,
  rmsRefusedByIPRestrictorVPath = 5,
  rmsForbidden = 6,
  rmsRedirect = 7,
  rmsRedirectHTTPS = 8,
};
constexpr int MatchStatusCount = 9;

// Deny actions of an address rule (TIPRestrictor::RequestDeniedAction).
enum : uint8_t {
  rdaSendDenied = 0,
  rdaTryNextDomain = 1,
  rdaCloseConnection = 2,
  rdaSendFile = 3,
  rdaNotDenied = 4,
};

class TRequestMatchData {
 public:
  TRequestMatchData();

  void Setup(const std::string& host, const std::string& localIP, int32_t sessionValue,
             const std::string& clientIP, const std::string& path, int32_t port);
  // Clears every result; the inputs and LogFlags stay.
  void Reset();
  // Whether a response to a request for Path (with query) of that MIME type
  // should be compressed for that user agent.
  bool ShouldCompress(const std::string& path, const std::string& mimeType,
                      const std::string& userAgent) const;

  bool CompressionEnabled = true;
  bool MatchedByDefault = false;
  int32_t TargetPort = 0;
  int32_t Port = 0;  // input: local port
  std::string TargetPath;
  std::string HostHeader;
  std::string DenyFile;
  std::string MatchedPath;
  std::string MatchedPathReplace;
  std::string DomainName;
  std::string ClientIP;  // input
  uint8_t LogFlags = 0;
  uint8_t DenyAction = rdaNotDenied;
  uint8_t Status = rmsNotProcessed;
  TServerCluster* ServerCluster = nullptr;
  TStringList ResponseHeadersToAdd;
  TStringList MIMEToCompress;  // sorted
  TStringList RequestHeadersToAdd;
  TStringList ExtToCompress;  // sorted
  std::string TargetHost;
  uint8_t LBStatus = 3;
  // Shared with the client thread, which keeps the record its back-end
  // connection was opened for.
  std::shared_ptr<TServer> Server;
  std::string SiteName;
  std::string Host;  // input
  std::string Path;  // input: path with query
  TDomain* Domain = nullptr;
  TVirtualPath* VirtualPath = nullptr;
  int32_t SessionValue = 0;  // input: affinity cookie value, 0 when none
  uint8_t SessionMethod = 0;
  std::string LocalIP;  // input
  std::string RedirectURL;

  // Copied at match time so that the request road never reads the
  // configuration tree after the match.
  bool DomainSSL = false;
  bool DomainOwaHTTPtoHTTPS = false;
  bool PathSSL = false;
  bool PathTomcat = false;
  bool PathPermanentRedirect = false;
  std::string ServerClusterName;
  std::string GateName;
  bool AllowKeepAlive = true;
  std::string CustomCallerIPHeaders;

  // Scratch of one MatchRequest: whether each domain's host rule took the
  // request's host (-1 not yet known), so that the passes test it once.
  std::vector<int8_t> HostMatches;
};
