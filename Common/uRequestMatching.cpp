#include "Common/uRequestMatching.h"

#include <cstring>
#include <string_view>

#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/Random.h"
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
  LBStatus = ::LBStatus::NoSelection;
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

// ------------------------------------------------------------ address rules

namespace {

// SameText with the length test in line: most texts a match compares differ
// in length.
inline bool EqualText(std::string_view a, std::string_view b) { return a.size() == b.size() && SameText(a, b); }

// The first length(Prefix) characters of S equal Prefix, ignoring case.
bool StartsWithText(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// The request's host as the host rules of every domain compare it: with a
// name, or with a name's tail. Host names that differ mostly differ in their
// last eight bytes, which are compared first, in line.
class THostKey {
 public:
  explicit THostKey(std::string_view host) : host_(host), tail_(host.size() >= 8 ? UpTail(host) : 0) {}

  bool Equals(std::string_view name) const { return name.size() == host_.size() && SameTail(name) && SameText(host_, name); }
  bool EndsWith(std::string_view suffix) const {
    return suffix.size() <= host_.size() && SameTail(suffix) &&
           SameText(host_.substr(host_.size() - suffix.size()), suffix);
  }

 private:
  static uint64_t UpTail(std::string_view s) {
    uint64_t x;
    std::memcpy(&x, s.data() + s.size() - 8, 8);
    return UpWord(x);
  }
  // Only for a text no longer than the host.
  bool SameTail(std::string_view s) const { return s.size() < 8 || UpTail(s) == tail_; }

  std::string_view host_;
  uint64_t tail_;
};

bool HostRuleTakes(const TDomain& domain, const THostKey& host) {
  if (host.Equals(domain.DomainName)) return true;
  for (const std::string& alias : domain.VirtualDomains) {
    if (host.Equals(alias)) return true;
    if (!alias.empty() && alias[0] == '*' && host.EndsWith(std::string_view(alias).substr(1))) return true;
  }
  return false;
}

}  // namespace

bool TIPRestrictor::InList(const std::string& ip) const {
  for (const std::string& raw : IPNumbers) {
    std::string_view entry = TrimView(raw);
    if (entry.empty()) continue;
    if (entry == ip) return true;
    if (entry.back() == '*') {
      std::string_view prefix = entry.substr(0, entry.size() - 1);
      if (ip.size() >= prefix.size() && std::string_view(ip).substr(0, prefix.size()) == prefix) return true;
    }
  }
  return false;
}

bool TIPRestrictor::IsAllowed(const std::string& ip) const {
  bool anyEntry = false;
  for (const std::string& raw : IPNumbers) anyEntry = anyEntry || !TrimView(raw).empty();
  if (!anyEntry) return true;
  switch (Mode) {
    case 1:
      return !InList(ip);
    case 0:
      return InList(ip);
    default:
      return false;
  }
}

// ------------------------------------------------------- host, binding, path

bool TDomain::MatchesHost(const std::string& host) const { return HostRuleTakes(*this, THostKey(host)); }

bool TDomain::IsBoundTo(const std::string& localIP, int32_t port) const {
  if (port != ListenOnPort) return false;
  // The listeners take an empty list for "*"; so does the match.
  if (IPsToBindTo.Empty()) return true;
  for (const std::string& address : IPsToBindTo) {
    if ((address.size() == 1 && address[0] == '*') || EqualText(address, localIP)) return true;
  }
  return false;
}

std::string TVirtualPath::MapPath(const std::string& requestPath) const {
  if (PathReplace.empty()) return requestPath;
  std::string_view rest = requestPath.size() > Path.size() ? std::string_view(requestPath).substr(Path.size())
                                                           : std::string_view();
  if (rest == "/") rest = std::string_view();
  // PathReplace + Rest with every run of slashes before the first "?" made
  // one; slashes inside the query are the client's data. Built in one pass,
  // since it runs for every request under a virtual path.
  std::string target;
  target.reserve(PathReplace.size() + rest.size());
  bool inQuery = false;
  for (std::string_view part : {std::string_view(PathReplace), rest}) {
    if (inQuery) {
      target.append(part);
      continue;
    }
    for (size_t i = 0; i < part.size(); ++i) {
      const char c = part[i];
      if (c == '?') {
        target.append(part.substr(i));
        inQuery = true;
        break;
      }
      if (c != '/' || target.empty() || target.back() != '/') target.push_back(c);
    }
  }
  return target;
}

// ------------------------------------------------------------- one domain

void TDomain::Match(TRequestMatchData& m, bool defaultPass) {
  if (!Enabled) return;
  const bool mixed443 = ProtocolMode.load() == 1 && m.Port == 443;
  if (!mixed443 && !IsBoundTo(m.LocalIP, m.Port)) return;
  if (!MatchesHost(m.Host)) {
    if (!(defaultPass && DefaultForPort)) return;
    m.MatchedByDefault = true;
  }

  m.DomainName = DomainName;
  m.SiteName = SiteName;
  m.TargetPath = m.Path;
  m.MatchedPath.clear();
  m.MatchedPathReplace.clear();
  m.TargetPort = OutPort;
  m.ServerCluster = ServerCluster;
  // Nothing an earlier domain chose may stand for this one, its logging
  // switch included: each domain starts from the configuration's options.
  m.LogFlags = Handler->LogOptions;
  m.Domain = nullptr;
  m.VirtualPath = nullptr;
  m.DomainSSL = false;
  m.DomainOwaHTTPtoHTTPS = false;
  m.PathSSL = false;
  m.PathTomcat = false;
  m.PathPermanentRedirect = false;

  if (!IPRestrictor.IsAllowed(m.ClientIP)) {
    m.Status = rmsRefusedByIPRestrictor;
    m.DenyAction = IPRestrictor.RequestDeniedAction;
    m.DenyFile = IPRestrictor.FileName;
    MatchStatusCounts[rmsRefusedByIPRestrictor].fetch_add(1, std::memory_order_relaxed);
    for (const auto& path : VirtualPaths) {
      if (StartsWithText(m.Path, path->Path)) {
        m.Status = rmsRefusedByIPRestrictorVPath;
        break;
      }
    }
    return;
  }

  m.HostHeader = DefaultHostReplace.empty() ? m.Host : DefaultHostReplace;
  if (m.Port != 80 && m.Port != 443) m.HostHeader += ":" + IntToStr(m.Port);
  m.TargetHost = DefaultTargetAddress;
  m.RequestHeadersToAdd.Clear();
  m.RequestHeadersToAdd.AddStrings(RequestHeadersToAdd);
  m.ResponseHeadersToAdd.Clear();
  m.ResponseHeadersToAdd.AddStrings(ResponseHeadersToAdd);
  m.Status = rmsFilled;
  m.Domain = this;
  m.DomainSSL = SSL;
  m.DomainOwaHTTPtoHTTPS = OwaHTTPtoHTTPS;

  if (ForcedHTTPtoHTTPS) {
    m.HostHeader = m.Host;
    m.Status = rmsRedirectHTTPS;
    m.RedirectURL = "https://" + m.Host + m.TargetPath;
  }

  // The longest enabled prefix; the first of equally long ones.
  TVirtualPath* best = nullptr;
  size_t bestLength = 0;
  for (const auto& owned : VirtualPaths) {
    TVirtualPath* path = owned.get();
    const size_t length = path->Path.size();
    if (!path->Enabled || m.Path.size() < length || (best != nullptr && length <= bestLength)) continue;
    if (!StartsWithText(m.Path, path->Path)) continue;
    if (mixed443 && !path->SSL) continue;
    if (m.Port != 443 && !SSL && path->SSL) continue;
    best = path;
    bestLength = length;
    if (length >= 2 && m.Path.size() == length) {
      m.Status = rmsFilledVPath;
      continue;
    }
    // "/app?x" is sent to "/app/?x", unless the path is an application
    // that takes queries on its bare name.
    if (m.Path.size() > length && m.Path[length] == '?' && m.Path.find("/?") == std::string::npos &&
        m.Path.find('.') == std::string::npos && !path->PathReplace.empty() && !path->App) {
      m.Status = rmsRedirect;
      m.RedirectURL = StringReplaceAll(m.Path, "?", "/?");
      return;
    }
    if (path->Redirect) {
      m.Status = rmsRedirect;
      m.RedirectURL = path->PathReplace;
      m.VirtualPath = path;
      m.PathSSL = path->SSL;
      m.PathTomcat = path->Tomcat;
      m.PathPermanentRedirect = path->PermanentRedirect;
      return;
    }
  }
  if (mixed443 && best == nullptr) {
    m.Status = rmsUnfilled;
    return;
  }

  if (best != nullptr) {
    m.VirtualPath = best;
    m.PathSSL = best->SSL;
    m.PathTomcat = best->Tomcat;
    m.PathPermanentRedirect = best->PermanentRedirect;
    m.ServerCluster = best->GetCluster();
    if (m.ServerCluster == nullptr) {
      if (best->OutPort != 0) m.TargetPort = best->OutPort;
      if (!best->TargetAddress.empty()) m.TargetHost = best->TargetAddress;
    } else {
      m.TargetPort = 0;
      m.TargetHost.clear();
    }
    if (!best->HostReplace.empty()) m.HostHeader = best->HostReplace;
    m.TargetPath = best->MapPath(m.Path);
    m.MatchedPath = best->Path;
    m.MatchedPathReplace = best->PathReplace;
  }

  if (!LogEnabled) m.LogFlags = 0;
  if (best != nullptr) {
    best->RequestCount.fetch_add(1, std::memory_order_relaxed);
    best->MatchStatusCounts[m.Status].fetch_add(1, std::memory_order_relaxed);
  }
  RequestCount.fetch_add(1, std::memory_order_relaxed);
  MatchStatusCounts[m.Status].fetch_add(1, std::memory_order_relaxed);
}

// ------------------------------------------------------------ the passes

namespace {

// What a pass does with the status one domain's match left.
enum class PassStep { Next, End };

PassStep AfterVirtualPathPass(TRequestMatchData& m) {
  if (m.Status == rmsFilledVPath) return PassStep::End;
  if (m.Status != rmsRefusedByIPRestrictorVPath) return PassStep::Next;
  if (m.DenyAction == rdaTryNextDomain) {
    m.DenyAction = rdaNotDenied;
    m.Status = rmsUnfilled;
    return PassStep::Next;
  }
  Assert(m.DenyAction != rdaNotDenied,
         "TDomainHandler.MatchRequest failed : rmsRefusedByIPRestrictorVPath and rdaNotDenied");
  return PassStep::End;
}

PassStep AfterHostPass(TRequestMatchData& m) {
  switch (m.Status) {
    case rmsFilled:
    case rmsFilledVPath:
    case rmsRedirect:
    case rmsRedirectHTTPS:
      return PassStep::End;
    case rmsRefusedByIPRestrictor:
      if (m.DenyAction == rdaTryNextDomain) {
        m.DenyAction = rdaNotDenied;
        m.Status = rmsUnfilled;
        return PassStep::Next;
      }
      Assert(m.DenyAction != rdaNotDenied,
             "TDomainHandler.MatchRequest failed : rmsRefusedByIPRestrictor and rdaNotDenied");
      return PassStep::End;
    default:
      return PassStep::Next;
  }
}

}  // namespace

bool TDomainHandler::RunMatchPass(TRequestMatchData& m, int pass) {
  const bool defaultPass = pass == 3;
  const THostKey hostKey(m.Host);
  int index = 0;
  for (const auto& domain : Domains) {
    // A domain whose host rule fails ends its match at once and changes
    // nothing (outside the default pass): most domains of a large
    // configuration are passed over here without being read again.
    int8_t& host = m.HostMatches[static_cast<size_t>(index++)];
    if (host < 0) host = HostRuleTakes(*domain, hostKey) ? 1 : 0;
    if (host == 0 && !(defaultPass && domain->DefaultForPort)) continue;
    domain->Match(m, defaultPass);
    if ((pass == 1 ? AfterVirtualPathPass(m) : AfterHostPass(m)) == PassStep::End) return true;
  }
  return false;
}

void TDomainHandler::ChooseServer(TRequestMatchData& m) {
  TServerCluster& cluster = *m.ServerCluster;
  int32_t key;
  if (cluster.SessionMethod == 1 || cluster.SessionMethod == 2) {
    // A cookie cluster keys on the switch's own session value; a new client
    // gets one (never 0, which means "no cookie").
    if (m.SessionValue == 0) m.SessionValue = 1 + Random(2147483646);
    key = m.SessionValue;
  } else {
    key = IPToInt(m.ClientIP);
  }
  m.SessionMethod = cluster.SessionMethod;
  cluster.GetServer(key, m.Server, m.LBStatus, m.TargetPort, m.TargetHost);
}

void TDomainHandler::MatchRequest(TRequestMatchData& m) {
  ReadLockGuard lock(Synchronizer);
  RequestCount.fetch_add(1, std::memory_order_relaxed);
  m.Reset();
  m.CompressionEnabled = CompressionLimiter.Enabled;
  m.LogFlags = LogOptions;
  if (m.CompressionEnabled) {
    // The limiter keeps its lists sorted; a copy keeps the order.
    m.ExtToCompress.Assign(CompressionLimiter.ExtToCompress);
    m.MIMEToCompress.Assign(CompressionLimiter.MIMEToCompress);
  }
  m.GateName = GateName;
  m.AllowKeepAlive = AllowKeepAlive;
  m.CustomCallerIPHeaders = CustomCallerIPHeaders;

  if (!AdminIPRestrictor.IsAllowed(m.ClientIP)) {
    m.Status = rmsRefusedByIPRestrictor;
    m.DenyAction = AdminIPRestrictor.RequestDeniedAction;
    m.DenyFile = AdminIPRestrictor.FileName;
  } else {
    m.HostMatches.assign(static_cast<size_t>(Domains.Count()), -1);
    bool ended = RunMatchPass(m, 1);
    if (!ended) {
      m.Status = rmsNotProcessed;
      ended = RunMatchPass(m, 2) || RunMatchPass(m, 3);
      if (!ended) m.Status = rmsUnfilled;
    }
    // One server choice per request, for the match that ended the passes.
    if (ended && m.ServerCluster != nullptr &&
        (m.Status == rmsFilled || m.Status == rmsFilledVPath || m.Status == rmsRedirectHTTPS)) {
      m.ServerClusterName = m.ServerCluster->Name;
      ChooseServer(m);
    }
  }
  MatchStatusCounts[m.Status].fetch_add(1, std::memory_order_relaxed);
}

// ------------------------------------------------------------ test report

namespace {

const char* const DescribeStatusLines[MatchStatusCount] = {
    " ** Not processed ** ",
    " ** No match found! ** ",
    "  Request filled",
    "  Request filled VPath",
    " ** IP Refused by IP restrictor! ** ",
    " ** IP Refused by IP restrictor VPath! ** ",
    " ** Forbidden ** ",
    " ** Redirecting to other page **",
    " ** Redirecting to other page. Force HTTPS **",
};

}  // namespace

void TDomainHandler::DescribeMatch(const std::string& host, const std::string& localIP, TStringList& lines,
                                   const std::string& callerIP, const std::string& path, int32_t port) {
  lines.Add(Format("Incoming request : %s @ %s:%d%s, Caller=%s", host, localIP, port, path, callerIP));
  // The read lock keeps the matched records alive while they are described.
  ReadLockGuard lock(Synchronizer);
  TRequestMatchData m;
  m.Setup(host, localIP, 0, callerIP, path, port);
  MatchRequest(m);
  if (m.Status < MatchStatusCount) lines.Add(DescribeStatusLines[m.Status]);
  if (m.Domain != nullptr) {
    lines.Add(Format("  Outgoing request : %s:%d%s (at %s)", m.HostHeader, m.TargetPort, m.TargetPath, m.TargetHost));
    lines.Add(Format("Domain=%s", m.Domain->DomainName));
    if (m.VirtualPath != nullptr) lines.Add(Format("VirtualPath=%s", m.VirtualPath->Path));
    if (!m.RequestHeadersToAdd.Empty()) {
      lines.Add(Format("  RequestHeadersToAdd : %s", m.RequestHeadersToAdd.Text()));
    }
    if (!m.ResponseHeadersToAdd.Empty()) {
      lines.Add(Format("  ResponseHeadersToAdd : %s", m.ResponseHeadersToAdd.Text()));
    }
    if (m.MatchedByDefault) lines.Add("  Request was matched by default domain (no specific match)");
    if (m.ServerCluster != nullptr) {
      lines.Add(Format("  ServerCluster : %s", m.ServerCluster->Name));
      lines.Add(Format("    Server selection status : %s", LBStatusText(m.LBStatus)));
      lines.Add(Format("    Server : %s", m.Server ? m.Server->ServerName : std::string("(NONE)")));
      if (m.SessionValue != 0) lines.Add(Format("    SessionID : %d", m.SessionValue));
    }
  }
  lines.Add("");
}
