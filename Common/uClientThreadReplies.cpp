// The outward duties of TClientThread without a back end: the replies the
// switch writes itself, and the per-request log output (event-log lines,
// the request and summary trace lines, the W3C access-log line).
#include <fstream>
#include <iterator>

#include "Common/uClientThread.h"
#include "Common/uConfigTables.h"
#include "Common/uDirectReplies.h"
#include "Common/uDomainHandler.h"
#include "Common/uStatHolder.h"
#include "Common/uW3CLog.h"
#include "platform/DateTime.h"

namespace {

// Control characters in a line of client text would let it forge lines of
// the event log.
std::string Printable(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return s;
}

}  // namespace

// ------------------------------------------------------------ event log

void TClientThread::WriteLog(const std::string& text) {
  if (Terminated() || !OnLog) return;
  if (text.find('\r') == std::string::npos) {
    OnLog(Format("(%d) : %s", FRequestId, Printable(text)), this);
    return;
  }
  // One line per piece; a text that ends in CR LF gives a last, empty piece.
  const std::string all = text + "\r\n";
  size_t start = 0;
  for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
    OnLog(Format("(%d) : %s", FRequestId, Printable(std::string_view(all).substr(start, end - start))), this);
  }
}

void TClientThread::LogInfo(const std::string& text) {
  if ((MatchData->LogFlags & 2) != 0) WriteLog(text);
}

void TClientThread::LogDetail(const std::string& text) {
  if ((MatchData->LogFlags & 4) != 0) WriteLog(text);
}

void TClientThread::LogRequest() {
  if ((MatchData->LogFlags & 4) == 0) return;  // a detail line; its parts are not built for nothing
  const TRequestHeader& r = *RequestHeader;
  const TRequestMatchData& m = *MatchData;
  LogDetailFmt(" %d, %s,%s,%s,%s,%s%s -> %s%s %s, %s, %s", FRequestId, FClientIP,
               m.DomainName + (m.MatchedByDefault ? " (def. match)" : ""), r.Method, r.Version,
               HostPortText(r.Host, FLocalPort), r.Document,
               HostPortText(m.TargetHost.empty() ? std::string("(127.0.0.1)") : m.TargetHost, m.TargetPort),
               m.TargetPath, m.HostHeader != m.TargetHost ? " (" + m.HostHeader + ")" : std::string(), r.Referer,
               FCloseConnection == 0 ? "Keep-Alive" : "Close");
}

void TClientThread::LogSummary() {
  const TResponseHeader& p = *ResponseHeader;
  const double ms = ElapsedMs();
  const double kb = FBytesFromServer / 1000.0;
  LogDetailFmt("%d, %f ms, %f kb (%f kb, %d blocks), %f kbs, %s, %s, %s,%s", p.StatusCode, ms, kb,
               p.ContentLength / 1000.0, FBlocksTransferred, ms > 0 ? kb / (ms / 1000.0) : 0.0,
               p.ContentEncoding.empty() ? std::string("(plain)") : p.ContentEncoding,
               p.Chunked ? "Chunked" : "(plain)", ContentCodingName(p.ContentCoding),
               FCloseConnection == 0 ? "Keep-Alive" : "Close");
}

void TClientThread::WriteW3CLogEntry() {
  if (Terminated()) return;
  const uint8_t flags = MatchData->LogFlags;
  if ((flags & 4) != 0) LogSummary();
  if ((flags & 1) == 0) return;

  const TRequestHeader& r = *RequestHeader;
  // Every field is assigned anew; the entry only lends its storage.
  TW3CLogEntry& e = FW3CEntry;
  e.Time = Now();
  e.ClientIP = FClientIP;
  e.SiteName = MatchData->SiteName;
  e.ServerHost = FServerConnection.Host();
  e.LocalIP = FLocalIP;
  e.Port = MatchData->Port;
  e.Method = r.Method;
  e.Document = r.Document;
  e.Status = ResponseHeader->StatusCode;
  e.BytesOut = FBytesOut;
  e.BytesIn = FBytesIn;
  e.ElapsedMs = ElapsedMs();
  e.Version = r.Version;
  e.HostWithPort = r.HostWithPort;
  e.UserAgent = r.UserAgent;
  r.GetCookieValue(e.Cookie);
  e.Referer = r.Referer;
  const std::string line = BuildW3CLine(e);
  ClearHeadFields({&e.ClientIP, &e.SiteName, &e.ServerHost, &e.LocalIP, &e.Method, &e.Document, &e.Version,
                   &e.HostWithPort, &e.UserAgent, &e.Cookie, &e.Referer});

  const uint8_t state = Stats->ServerState.load();
  if (Terminated() || Stopped() || state == ssStopping || state == ssStopped) return;
  if (OnW3CLog) OnW3CLog(line, this);
}

// ------------------------------------------------------------ direct replies

void TClientThread::SendReply(const std::string& bytes) {
  Client().Write(bytes);
  Client().Disconnect();
}

void TClientThread::SendStatusReply(const std::string& text) { SendReply(StatusReply(RequestHeader->Version, text)); }

void TClientThread::HandleNonMatchingRequest() {
  const TRequestHeader& r = *RequestHeader;
  const TRequestMatchData& m = *MatchData;
  const std::string scheme = IsHTTPS == 1 ? "https" : "http";
  switch (m.Status) {
    case rmsNotProcessed:
      LogDetail("Request failed to be processed!");
      SendStatusReply("401 Unauthorized");
      break;
    case rmsUnfilled: SendStatusReply("404 Not Found"); break;
    case rmsFilled:
      LogInfo("Request was matched, but ended up in HandleNonMatchingRequest!");
      LogSummaries();
      SendStatusReply("500 Internal Server Error");
      break;
    case rmsFilledVPath:
      LogInfoFmt("Redirecting VPath from %s to %s://%s%s/", r.Document, scheme, r.HostWithPort, r.Document);
      SendReply(RedirectReply(r.Version, true, Format("%s://%s%s/", scheme, r.HostWithPort, r.Document)));
      break;
    // A refusal by a virtual path's address rule carries that rule's action,
    // like a refusal by the domain's.
    case rmsRefusedByIPRestrictor:
    case rmsRefusedByIPRestrictorVPath: HandleDeniedRequest(); break;
    case rmsForbidden: SendStatusReply("403 Forbidden"); break;
    case rmsRedirect:
      LogInfoFmt("Redirecting from %s to %s", m.Path, m.RedirectURL);
      SendReply(RedirectReply(r.Version, m.VirtualPath != nullptr && m.PathPermanentRedirect,
                              RedirectLocation(m.RedirectURL, scheme, r.HostWithPort)));
      break;
    case rmsRedirectHTTPS:
      LogInfoFmt("Redirecting from %s to %s", m.Path, m.RedirectURL);
      SendReply(RedirectReply(r.Version, m.VirtualPath != nullptr && m.PathPermanentRedirect,
                              HTTPSRedirectLocation(r.Document, r.HostWithPort)));
      break;
    default:
      LogInfo("Bad Status in HandleNonMatchingRequest");
      LogSummaries();
      break;
  }
}

void TClientThread::HandleDeniedRequest() {
  const TRequestMatchData& m = *MatchData;
  LogInfo(std::string("RequestDeniedAction : ") + DenyActionText(m.DenyAction));
  LogSummaries();
  switch (m.DenyAction) {
    case rdaSendDenied:
    case rdaTryNextDomain: SendStatusReply("403 Forbidden"); break;
    case rdaCloseConnection: Client().Disconnect(); break;
    case rdaSendFile: {
      std::string reply = RequestHeader->Version + " 200 OK\r\n\r\n";
      std::ifstream file;
      if (FileExists(m.DenyFile)) file.open(m.DenyFile, std::ios::binary);
      if (file.is_open()) {
        reply.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      } else {
        reply += Format("File [%s] not found\r\n", m.DenyFile);
      }
      SendReply(reply);
      break;
    }
    default: Assert(false, "TClientThread.HandleNonMatchingRequest failed : rmsRefusedByIPRestrictor and rdaNotDenied");
  }
}

void TClientThread::HandleCircularReference() {
  LogInfoFmt("Circular reference: Request was aborted after %d Vantrell Switch hops", RequestHeader->HopCount);
  LogInfo(RequestHeader->GetLogText());
  SendReply(CircularReferenceReply());
}
