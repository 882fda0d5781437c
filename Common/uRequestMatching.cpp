#include "Common/uRequestMatching.h"

#include "Common/uHTTPHeads.h"
#include "platform/SysUtils.h"

// --------------------------------------------------------- TRequestMatchData

TRequestMatchData::TRequestMatchData() {
  MIMEToCompress.SetSorted(true);
  ExtToCompress.SetSorted(true);
}

void TRequestMatchData::Setup(const std::string& host, const std::string& localIP, int32_t sessionValue,
                              const std::string& clientIP, const std::string& path, int32_t port) {
  Host = host;
  LocalIP = localIP;
  SessionValue = sessionValue;
  ClientIP = clientIP;
  Path = path;
  Port = port;
}

void TRequestMatchData::Reset() {
  Status = rmsNotProcessed;
  TargetPort = 0;
  DomainName.clear();
  SiteName.clear();
  HostHeader.clear();
  TargetHost.clear();
  DenyFile.clear();
  MatchedPath.clear();
  MatchedPathReplace.clear();
  RedirectURL.clear();
  TargetPath.clear();
  ResponseHeadersToAdd.Clear();
  RequestHeadersToAdd.Clear();
  MIMEToCompress.Clear();
  ExtToCompress.Clear();
  MatchedByDefault = false;
  CompressionEnabled = false;
  DenyAction = rdaNotDenied;
  SessionMethod = 0;
  ServerCluster = nullptr;
  Server.reset();
  VirtualPath = nullptr;
  Domain = nullptr;
  LBStatus = 3;
  DomainSSL = false;
  DomainOwaHTTPtoHTTPS = false;
  PathSSL = false;
  PathTomcat = false;
  PathPermanentRedirect = false;
  ServerClusterName.clear();
  GateName.clear();
  AllowKeepAlive = true;
  CustomCallerIPHeaders.clear();
}

bool TRequestMatchData::ShouldCompress(const std::string& path, const std::string& mimeType,
                                       const std::string& userAgent) const {
  std::string ext = LowerCase(DocumentExtension(path));
  if (!CompressionEnabled) return false;
  for (const std::string& entry : ExtToCompress) {
    if (!entry.empty() && path.find(entry) != std::string::npos) return true;
  }
  bool result = path == "/" || MIMEToCompress.IndexOf(mimeType) >= 0 || ExtToCompress.IndexOf(ext) >= 0;
  if (userAgent.find("MSIE 4") != std::string::npos && ext.compare(0, 3, ".js") == 0) return false;
  return result;
}
