#include "Common/uHTTPHeads.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "Common/GeneralHashfunctions.h"
#include "Common/Misc.h"
#include "Common/StrFunctions.h"
#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "Common/uRequestMatching.h"
#include "platform/DateTime.h"

namespace {

bool IsTokenChar(unsigned char c) {
  if (c <= ' ' || c >= 0x7F) return false;
  switch (c) {
    case '"': case '(': case ')': case ',': case '/': case ':': case ';': case '<': case '=':
    case '>': case '?': case '@': case '[': case '\\': case ']': case '{': case '}':
      return false;
    default:
      return true;
  }
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsTokenChar(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Control characters other than HT, and DEL.
bool HasControlChars(std::string_view s) {
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if ((u < ' ' && u != '\t') || u == 0x7F) return true;
  }
  return false;
}

// Whether a comma-separated list (a Connection value) names Token.
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const size_t comma = list.find(',');
    if (SameText(TrimView(list.substr(0, comma)), token)) return true;
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return false;
}

// A CR or NUL left inside a line would end the line or the text early for
// some peer downstream; a blank takes its place.
void BlankLineBreaks(THTTPHeaders& lines) {
  auto isBreak = [](char c) { return c == '\r' || c == '\0'; };
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (std::memchr(line.data(), '\r', line.size()) == nullptr &&
        std::memchr(line.data(), '\0', line.size()) == nullptr) {
      continue;
    }
    std::string fixed = line;
    std::replace_if(fixed.begin(), fixed.end(), isBreak, ' ');
    lines.Put(i, std::move(fixed));
  }
}

// "HTTP/" DIGIT "." DIGIT.
bool IsHTTPVersion(std::string_view v) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return v.size() == 8 && v.substr(0, 5) == "HTTP/" && digit(v[5]) && v[6] == '.' && digit(v[7]);
}

std::string NotAnInteger(std::string_view value) {
  return Format("'%s' is not a valid integer value", value);
}

// A length is one or more decimal digits and nothing else.
int64_t ParseLength(std::string_view value) {
  int64_t n = 0;
  bool digitsOnly = !value.empty();
  for (char c : value) digitsOnly = digitsOnly && c >= '0' && c <= '9';
  if (!digitsOnly || !TryStrToInt64(value, n)) throw EConvertError(NotAnInteger(value));
  return n;
}

// A hop count is an optional "-" and decimal digits; below 0 counts as 0.
int32_t ParseHopCount(std::string_view value) {
  std::string_view digits = !value.empty() && value[0] == '-' ? value.substr(1) : value;
  bool digitsOnly = !digits.empty();
  for (char c : digits) digitsOnly = digitsOnly && c >= '0' && c <= '9';
  int32_t n = 0;
  if (!digitsOnly || !TryStrToInt(value, n)) throw EConvertError(NotAnInteger(value));
  return n < 0 ? 0 : n;
}

std::string_view ValueOf(std::string_view line) {
  auto colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : TrimView(line.substr(colon + 1));
}

// Equal copies of a header that has one value collapse into the first line.
void KeepFirst(THTTPHeaders& head, std::string_view name) {
  int first = head.IndexOfHeader(name);
  if (first < 0) return;
  for (int i = head.IndexOfHeader(name, first + 1); i >= 0; i = head.IndexOfHeader(name, i)) head.Delete(i);
}

// Header names are compared for every line of every head; most differ in
// length.
inline bool NameIs(std::string_view name, std::string_view what) {
  return name.size() == what.size() && SameText(name, what);
}

bool IsRedirectStatus(int32_t code) { return code == 301 || code == 302 || code == 303 || code == 307; }

// The UTC broken-down time of the local moment Local plus Seconds.
std::tm UtcAfter(TDateTime local, int32_t seconds) {
  std::time_t t = DateTimeToUnix(local) + seconds;
  std::tm utc{};
  gmtime_r(&t, &utc);
  return utc;
}

const char* const PragmaContentTypes[] = {"application/x-javascript", "text/css", "text/html",
                                          "text/plain", "text/text", "text/xml"};
const char* const PragmaExtensions[] = {".asp", ".aspx", ".css", ".dhtml", ".htm", ".html", ".js",
                                        ".jsp", ".txt", ".jpg", ".gif", ".bmp", ".png"};

}  // namespace

// ------------------------------------------------------------ free functions

std::string DocumentExtension(std::string_view document) {
  auto dot = document.rfind('.');
  if (dot == std::string_view::npos) return std::string();
  std::string_view ext = document.substr(dot);
  if (ext.find_first_of("\\:") != std::string_view::npos) return std::string();
  return std::string(ext);
}

TContentCoding DecodeContentEncoding(std::string_view text) {
  if (SameText(text, "gzip") || SameText(text, "x-gzip")) return ceGZip;
  if (SameText(text, "compress") || SameText(text, "x-compress")) return ceCompress;
  if (SameText(text, "deflate")) return ceDeflate;
  return ceUnknown;
}

TContentCodings ParseAcceptEncoding(std::string_view text) {
  TContentCodings flags = 0;
  std::string_view rest = text;
  while (!rest.empty()) {
    auto comma = rest.find(',');
    std::string_view token = TrimView(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (!token.empty()) flags |= CodingBit(DecodeContentEncoding(token));
  }
  return flags;
}

bool InPragmaContentTypeList(std::string_view contentType) {
  for (const char* t : PragmaContentTypes) {
    if (SameText(contentType, t)) return true;
  }
  return false;
}

bool InPragmaExtensionList(std::string_view document) {
  std::string ext = DocumentExtension(document);
  if (ext.empty()) return false;
  for (const char* e : PragmaExtensions) {
    if (SameText(ext, e)) return true;
  }
  return false;
}

std::string FormatCookieExpiry(int32_t seconds) {
  if (seconds < 0) return std::string();
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm t = UtcAfter(Now(), seconds);
  return Format("%s, %d-%s-%d %.2d:%.2d:%.2d GMT", days[t.tm_wday], t.tm_mday, months[t.tm_mon],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

void ClearHeadFields(std::initializer_list<std::string*> fields) {
  size_t held = 0;
  for (const std::string* field : fields) held += field->capacity();
  const bool letGo = held > kKeptHeadBytes;
  for (std::string* field : fields) {
    if (letGo) {
      std::string().swap(*field);
    } else {
      field->clear();
    }
  }
}

// ------------------------------------------------------------ TRequestHeader

void TRequestHeader::Clear() {
  IsRead = false;
  ClearHeadFields({&HostWithPort, &Referer, &UserAgent, &Accept, &Host, &Version, &Document, &Via, &Method,
                   &Connection, &AcceptEncoding, &AcceptLanguage, &Refusal, &FValue});
  ContentLength = 0;
  HopCount = 0;
  AcceptedEncodings = 0;
  Raw.Clear();
  Updated.Clear();
  AbsoluteForm = false;
  ForcedClose = false;
  ExpectsContinue = false;
}

void TRequestHeader::Refuse(const char* status) {
  // A malformed head is a 400 whatever else is wrong with it.
  if (Refusal.empty() || std::string_view(status) == "400 Bad Request") Refusal = status;
}

void TRequestHeader::Parse() {
  IsRead = true;
  bool badFirstLine = !Raw.Empty() && HasControlChars(Raw[0]);
  // A control character (but HT) in a header line is read differently by
  // different peers.
  bool badHeaderLine = false;
  for (int i = 1; i < Raw.Count() && !badHeaderLine; ++i) badHeaderLine = HasControlChars(Raw[i]);
  // The request line is split as it came: a NUL or CR in it must not move
  // the version (the refusal echoes it), only be blanked in what is kept.
  // A line without them is left as it is, and read where it stands.
  const std::string requestLine = badFirstLine ? Raw[0] : std::string();
  BlankLineBreaks(Raw);
  Updated.Assign(Raw);
  Updated.Normalize();

  std::string_view firstLine = badFirstLine ? std::string_view(requestLine)
                               : Raw.Empty() ? std::string_view()
                                             : std::string_view(Raw[0]);
  auto blank1 = firstLine.find(' ');
  Method = blank1 == std::string_view::npos ? std::string_view() : firstLine.substr(0, blank1);
  auto blank2 = blank1 == std::string_view::npos ? std::string_view::npos : firstLine.find(' ', blank1 + 1);
  if (blank2 == std::string_view::npos) {
    Document.clear();
    Version.clear();
  } else {
    Document = firstLine.substr(blank1 + 1, blank2 - blank1 - 1);
    Version = firstLine.substr(blank2 + 1);
  }
  const bool versionless = Version.empty();
  if (versionless) {
    // Only the HTTP/0.9 form, a bare GET line, goes on without a version.
    // Any longer head would reach the back end as sent, its header lines
    // never read, checked or rewritten.
    bool headerLines = false;
    for (int i = 1; i < Raw.Count() && !headerLines; ++i) headerLines = !Raw[i].empty();
    if (headerLines || !SameText(firstLine.substr(0, blank1), "GET")) badFirstLine = true;
  } else {
    // The version is echoed into every direct reply: only a well-formed one
    // may stand there.
    if (!IsHTTPVersion(Version)) {
      Version = "HTTP/1.0";
      badFirstLine = true;
    }
    if (Method.empty() || Document.empty()) badFirstLine = true;
  }
  if (badFirstLine) {
    auto isBreak = [](char c) { return c == '\r' || c == '\0'; };
    std::replace_if(Method.begin(), Method.end(), isBreak, ' ');
    std::replace_if(Document.begin(), Document.end(), isBreak, ' ');
    Refuse("400 Bad Request");
    if (versionless) Version = "HTTP/1.0";  // for the reply's status line
  }

  // Schemes compare without regard to case; a target in absolute form is
  // reduced to path and query and always sent on in origin form, so that
  // the back end never routes by an authority the switch did not match.
  if (SameText(Copy(Document, 1, 5), "http:") || SameText(Copy(Document, 1, 6), "https:")) {
    AbsoluteForm = true;
    try {
      URI.SetURI(Document);
    } catch (const EIdURIException&) {
      URI.Clear();
    }
    if (URI.IsAbsolute()) {
      Document = URI.Path + URI.Document + URI.Query;
    } else {
      Refuse("400 Bad Request");
    }
  }

  Owner->FCloseConnection = 1;
  if (versionless) return;
  Owner->FSessionKey = 0;
  if (badHeaderLine) Refuse("400 Bad Request");
  ParseHeaderLines();

  // The affinity cookie overrides a forwarded-address key. Several Cookie
  // lines are joined with blanks, so the value also ends at a blank.
  GetCookieValue(FValue);
  const std::string& cookies = FValue;
  std::string_view cookie;
  if (auto at = cookies.find("VTSession="); at != std::string::npos) {
    cookie = std::string_view(cookies).substr(at + 10);
    cookie = TrimView(cookie.substr(0, cookie.find(';')));
    cookie = cookie.substr(0, cookie.find(' '));
  }
  if (!cookie.empty()) {
    int64_t n = StrToInt64Def(cookie, 0);
    Owner->FSessionKey = (n >= 0 && n <= 4294967295LL) ? static_cast<uint32_t>(n) : 1;
  }
}

void TRequestHeader::ParseHeaderLines() {
  int hostLines = 0;
  int lengthLines = 0;
  bool conflict = false;
  bool transferEncoding = false;
  bool upgrade = false;
  bool hopCountSeen = false;
  const std::vector<std::string>& lines = Updated.Items();
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    // An obs-fold continuation, a missing name or a name with blanks or
    // controls (also "Name :") would be read differently by some back end.
    if (line[0] == ' ' || line[0] == '\t') {
      Refuse("400 Bad Request");
      continue;
    }
    auto colon = line.find(':');
    std::string_view name = colon == std::string::npos ? std::string_view() : std::string_view(line).substr(0, colon);
    if (!IsToken(name)) {
      Refuse("400 Bad Request");
      continue;
    }
    std::string_view value = TrimView(std::string_view(line).substr(colon + 1));
    if (NameIs(name, "Accept")) {
      Accept = value;
    } else if (NameIs(name, "Accept-Language")) {
      AcceptLanguage = value;
    } else if (NameIs(name, "Accept-Encoding")) {
      AcceptEncoding = value;
      AcceptedEncodings = ParseAcceptEncoding(value);
    } else if (NameIs(name, "User-Agent")) {
      UserAgent = value;
    } else if (NameIs(name, "Host")) {
      // Copies of Host must agree; the request is matched by one of them.
      if (hostLines++ > 0 && !SameText(value, HostWithPort)) conflict = true;
      HostWithPort = value;
      Host = HostWithoutPortView(HostWithPort);
    } else if (NameIs(name, "Connection")) {
      Connection = value;
      Owner->FCloseConnection = SameText(value, "KEEP-ALIVE") ? 0 : 1;
      // The close follows the response, whatever the back end says.
      if (HasToken(value, "close")) ForcedClose = true;
    } else if (NameIs(name, "Content-Length")) {
      int64_t length = ParseLength(value);
      if (lengthLines++ > 0 && length != ContentLength) conflict = true;
      ContentLength = length;
    } else if (NameIs(name, "Via")) {
      // Several Via lines are one list: every hop stays on it.
      if (!Via.empty() && !value.empty()) Via += ", ";
      Via += value;
    } else if (NameIs(name, "VTHopCount")) {
      // The highest count of any copy, so that a second line cannot reset
      // the loop guard.
      int32_t hops = ParseHopCount(value);
      HopCount = hopCountSeen && HopCount > hops ? HopCount : hops;
      hopCountSeen = true;
    } else if (NameIs(name, "Referer")) {
      Referer = value;
    } else if (NameIs(name, "X-Forwarded-For")) {
      if (UseXForwardedForGlobal) Owner->FSessionKey = APHash(value);
    } else if (NameIs(name, "Transfer-Encoding")) {
      transferEncoding = true;
    } else if (NameIs(name, "Expect")) {
      ExpectsContinue = SameText(value, "100-continue") && Version == "HTTP/1.1";
    } else if (NameIs(name, "Upgrade")) {
      // The switch relays no protocol switch: the back end never hears of it.
      upgrade = true;
    }
  }
  if (conflict) Refuse("400 Bad Request");
  if (upgrade) Updated.DeleteAllHeaders("Upgrade");
  if (hostLines > 1) KeepFirst(Updated, "Host");
  if (lengthLines > 1) KeepFirst(Updated, "Content-Length");
  // The switch relays request bodies by Content-Length only.
  if (transferEncoding) Refuse(lengthLines == 0 ? "501 Not Implemented" : "400 Bad Request");
}

void TRequestHeader::Update() {
  if (IsEmpty()) return;
  THeadOwner& t = *Owner;
  const TRequestMatchData& m = *t.MatchData;

  if (!m.HostHeader.empty()) Updated.SetHeaderUnique("Host", m.HostHeader);

  if (!Via.empty()) Via += ", ";
  Via += RightOf("/", Version, false);
  Via.append(" ").append(m.GateName).append(":").append(IntToStr(t.FLocalPort));
  Updated.SetHeaderUnique("Via", Via);

  if (t.IsHTTPS == 1) {
    std::string destination = Updated.GetValue("Destination");
    if (!destination.empty()) Updated.SetHeader("Destination", StringReplaceAll(destination, "https", "http"));
  }

  if (!m.AllowKeepAlive || SameText(Method, "HEAD")) {
    t.FCloseConnection = 1;
    ForcedClose = true;
    Updated.SetHeaderUnique("Connection", "Close");
  }

  if (!t.RemoveVTHeaders) {
    Updated.SetValue("VTCallerIP", t.FClientIP, false);
    FValue.assign(HostWithoutPortView(HostWithPort)).append(" ").append(IntToStr(t.FLocalPort));
    FValue.append(" ").append(Document);
    Updated.SetValue("VTOrigURL", FValue, false);
    if (!m.MatchedPathReplace.empty() && m.MatchedPathReplace != m.MatchedPath) {
      Updated.SetValue("VTPathRewrite", Format("%s %s", m.MatchedPath, m.MatchedPathReplace), false);
    }
    Updated.SetHeaderUnique("VTHopCount", IntToStr(CheckedAdd(HopCount, 1)));
    if (t.IsHTTPS == 1) Updated.SetHeaderUnique("VTEncryption", "SSL");
  }

  // Client-address headers: the client is appended to a list that came in,
  // and the last address of that list (the client as the nearest proxy saw
  // it) becomes VTCallerIP.
  std::string_view names = m.CustomCallerIPHeaders;
  while (!names.empty()) {
    auto semi = names.find(';');
    std::string name = Trim(names.substr(0, semi));
    names = semi == std::string_view::npos ? std::string_view() : names.substr(semi + 1);
    if (name.empty()) continue;
    std::string old = Updated.GetJoinedValues(name);
    if (old.empty()) {
      Updated.SetHeaderUnique(name, t.FClientIP);
      continue;
    }
    std::string value = old + ", " + t.FClientIP;
    Updated.SetHeaderUnique(name, value);
    if (!t.RemoveVTHeaders) {
      auto lastComma = value.rfind(',');
      auto before = value.rfind(',', lastComma - 1);
      std::string element = before == std::string::npos ? value.substr(0, lastComma)
                                                         : value.substr(before + 1, lastComma - before - 1);
      Updated.SetHeaderUnique("VTCallerIP", element);
    }
  }

  FValue.assign(UserAgent).append(" VT/").append(VTVersion).append(" (IP=").append(t.FClientIP).append(")");
  Updated.SetHeaderUnique("User-Agent", FValue);

  if (AbsoluteForm || Document != m.TargetPath) {
    const std::string& target = m.TargetPath;
    FValue.assign(Method).append(" ").append(target);
    if (!Document.empty() && Document.back() == '/' && (target.empty() || target.back() != '/')) FValue += "/";
    FValue.append(" ").append(Version);
    Updated.SetFirstLine(FValue);
  }

  Updated.AddHeaders(m.RequestHeadersToAdd);

  if (t.LogRequestHeaders) {
    t.LogInfo(Format("*** REQUEST HEADER *** before update (inport=%d)", t.FLocalPort) + "\r\n" + Raw.GetTextStr());
    t.LogInfo("*** REQUEST HEADER *** after update\r\n" + Updated.GetTextStr());
  }
  // The thread writes detail lines only with this log switch; the text is
  // not built for nothing.
  if (m.LogFlags & 4) t.LogDetail(GetLogText());
}

std::string TRequestHeader::GetCookieValue() const {
  std::string r;
  GetCookieValue(r);
  return r;
}

void TRequestHeader::GetCookieValue(std::string& value) const {
  value.clear();
  // The text before a line's first ": " is "Cookie" exactly when the line
  // begins with "Cookie: ".
  const auto isCookie = [](const std::string& line) {
    return line.size() >= 8 && line[6] == ':' && line[7] == ' ' &&
           SameText(std::string_view(line).substr(0, 6), "Cookie");
  };
  size_t size = 0;
  for (const std::string& line : Updated) size += isCookie(line) ? line.size() - 7 : 0;
  value.reserve(size);
  // Each value trimmed and followed by a blank, the whole trimmed once more.
  for (const std::string& line : Updated) {
    if (!isCookie(line)) continue;
    value += TrimView(std::string_view(line).substr(8));
    value += ' ';
  }
  const std::string_view trimmed = TrimView(value);
  const size_t start = static_cast<size_t>(trimmed.data() - value.data());
  value.erase(start + trimmed.size());
  value.erase(0, start);
  if (value.empty()) value = "-";
}

std::string TRequestHeader::GetLogText() const {
  if (!IsRead) return "  Request: NOT READ!";
  return Format("  Request: %s, %s, [%s], %s, %s", Method, Document, AcceptEncoding, Host, Connection);
}

// ----------------------------------------------------------- TResponseHeader

void TResponseHeader::Clear() {
  IsRead = false;
  Raw.Clear();
  Updated.Clear();
  ClearHeadFields(
      {&Vary, &Server, &Date, &ContentType, &Version, &CacheControl, &Location, &ReasonText, &ContentEncoding});
  StatusCode = 0;
  ContentLength = -1;
  Chunked = false;
  TransferEncoding = false;
  ContentCoding = ceNone;
  HopCount = 0;
}

void TResponseHeader::Parse() {
  THeadOwner& t = *Owner;
  const TRequestHeader& r = *t.RequestHeader;
  IsRead = true;
  BlankLineBreaks(Raw);
  Updated.Assign(Raw);
  Updated.Normalize();

  const std::string_view line0 = Raw.Empty() ? std::string_view() : std::string_view(Raw[0]);
  auto blank1 = line0.find(' ');
  Version = blank1 == std::string_view::npos ? std::string_view() : line0.substr(0, blank1);
  const std::string_view rest = blank1 == std::string_view::npos ? std::string_view() : line0.substr(blank1 + 1);
  auto blank2 = rest.find(' ');
  StatusCode = StrToInt(TrimView(rest.substr(0, blank2)));
  ReasonText = blank2 == std::string_view::npos ? std::string_view() : rest.substr(blank2 + 1);

  if (SameText(r.Connection, "Close")) {
    t.FCloseConnection = 1;
  } else if (Version == "HTTP/1.1" && r.Version == "HTTP/1.1") {
    t.FCloseConnection = 0;
  } else if (r.UserAgent.find("MSIE 4") != std::string::npos) {
    t.FCloseConnection = 0;
  } else {
    t.FCloseConnection = 1;
    Updated.SetHeaderUnique("Connection", "Close");
  }

  Date.clear();
  Server.clear();
  Vary.clear();
  CacheControl.clear();
  ContentType.clear();
  ContentEncoding.clear();
  Location.clear();

  int lengthLines = 0;
  bool conflict = false;
  // Points into Updated, which does not change before it is read.
  std::string_view transferEncoding;
  bool hopCountSeen = false;
  for (int i = 1; i < Updated.Count(); ++i) {
    const std::string& line = Updated[i];
    const std::string_view name = NameOf(line);
    if (name.empty()) continue;
    const std::string_view value = ValueOf(line);
    if (SameText(name, "Content-Length")) {
      int64_t length = ParseLength(value);
      if (lengthLines++ > 0 && length != ContentLength) conflict = true;
      ContentLength = length;
    } else if (SameText(name, "Connection")) {
      t.FCloseConnection = ContainsText(line, "KEEP-ALIVE") ? 0 : 1;
    } else if (SameText(name, "Date")) {
      Date = value;
    } else if (SameText(name, "Server")) {
      Server = value;
    } else if (SameText(name, "Vary")) {
      Vary = value;
    } else if (SameText(name, "Cache-Control")) {
      CacheControl = value;
    } else if (SameText(name, "Content-Type")) {
      ContentType = value;
    } else if (SameText(name, "Location")) {
      Location = value;
    } else if (SameText(name, "Transfer-Encoding")) {
      transferEncoding = value;
    } else if (SameText(name, "Content-Encoding")) {
      ContentEncoding = value;
      ContentCoding = DecodeContentEncoding(value);
    } else if (SameText(name, "VTHopCount")) {
      int32_t hops = ParseHopCount(value);
      HopCount = hopCountSeen && HopCount > hops ? HopCount : hops;
      hopCountSeen = true;
    }
  }
  if (conflict) throw EInvalidHead("Response has conflicting Content-Length headers");
  TransferEncoding = !transferEncoding.empty();
  if (TransferEncoding) {
    // Chunked framing is decided by the last coding; any other transfer
    // coding ends with the connection. Either way Content-Length no longer
    // frames the body and must not reach the client.
    const auto comma = transferEncoding.rfind(',');
    const std::string_view last =
        comma == std::string_view::npos ? transferEncoding : transferEncoding.substr(comma + 1);
    Chunked = SameText(TrimView(last), "chunked");
    if (!Chunked) ContentLength = -1;
    Updated.DeleteAllHeaders("Content-Length");
  }
  if (lengthLines > 1) KeepFirst(Updated, "Content-Length");
  if (r.ForcedClose) {
    t.FCloseConnection = 1;
    Updated.SetHeaderUnique("Connection", "Close");
  }
  if (StatusCode == 304 || StatusCode == 204) ContentLength = 0;
}

void TResponseHeader::Update() {
  THeadOwner& t = *Owner;
  const TRequestMatchData& m = *t.MatchData;
  if (ContentLength == -1 && t.FCloseConnection != 1 && !Chunked) {
    // The body can only end with the connection.
    t.FCloseConnection = 1;
    Updated.SetHeaderUnique("Connection", "Close");
    Updated.DeleteAllHeaders("Keep-Alive");
  }
  Updated.AddHeaders(m.ResponseHeadersToAdd);
  if (!t.RemoveVTHeaders) Updated.SetHeaderUnique("VTHopCount", IntToStr(CheckedAdd(HopCount, 1)));
  if (IsRedirectStatus(StatusCode)) RewriteLocation();

  if (t.IsHTTPS == 1) {
    if (SameText(Updated.GetValue("Pragma"), "no-cache") && Updated.HasHeader("Content-Disposition")) {
      Updated.DeleteHeader("Pragma");
      t.LogDetail("Removing \"Pragma: no-cache\" to prevent IE SSL bug - CT");
    } else if (!InPragmaContentTypeList(Updated.GetValue("Content-Type")) &&
               InPragmaExtensionList(t.RequestHeader->Document)) {
      Updated.DeleteHeader("Pragma");
      t.LogDetail("Removing \"Pragma: no-cache\" to prevent IE SSL bug - Not allowed");
    }
  }

  if (t.FSessionKey != 0) {
    std::string expiry = m.SessionMethod == 1 ? Format("; expires=%s", FormatCookieExpiry(345600)) : std::string();
    Updated.AddLine(Format("Set-Cookie: %s=%u; path=/%s", "VTSession", t.FSessionKey, expiry));
  }
}

void TResponseHeader::RewriteLocation() {
  THeadOwner& t = *Owner;
  const TRequestMatchData& m = *t.MatchData;
  const TRequestHeader& r = *t.RequestHeader;
  bool moved = StatusCode == 301 || StatusCode == 302;
  if (moved && m.DomainOwaHTTPtoHTTPS) Location = StringReplaceAll(Location, "http://", "https://");
  if (moved && m.DomainSSL) Location = StringReplaceAll(Location, "http://", "https://");
  if (moved && m.VirtualPath != nullptr && m.PathTomcat) {
    // A Tomcat back end names its own host and context path in redirects
    // and cookies; those lines are mapped back to what the client sees.
    // Other lines (status line, types, dates) are left alone.
    bool toHTTPS = t.IsHTTPS == 1 || m.PathSSL;
    for (int i = 1; i < Updated.Count(); ++i) {
      std::string name = Updated.GetHeaderName(i);
      bool cookie = SameText(name, "Set-Cookie");
      if (!cookie && !SameText(name, "Location")) continue;
      std::string line = Updated[i];
      if (toHTTPS) line = StringReplaceAll(line, "http://", "https://");
      line = StringReplaceAll(line, m.MatchedPathReplace, m.MatchedPath);
      line = StringReplaceAll(line, m.HostHeader, m.DomainName);
      if (cookie) {
        // Only the path value changes; Secure, HttpOnly, Domain and the
        // rest of the cookie stay.
        auto at = line.find("Path=");
        if (at != std::string::npos) {
          auto start = at + 5;
          auto end = line.find(';', start);
          line.replace(start, (end == std::string::npos ? line.size() : end) - start, "/");
        }
      }
      Updated.Put(i, line);
    }
    if (toHTTPS) Location = StringReplaceAll(Location, "http://", "https://");
    Location = StringReplaceAll(Location, m.HostHeader, m.DomainName);
    Location = StringReplaceAll(Location, m.MatchedPathReplace, m.MatchedPath);
  }

  // Only an absolute address naming the back end is rewritten; a relative
  // or unreadable one goes to the client as the back end sent it.
  if (Location.empty()) return;
  try {
    URI.SetURI(Location);
  } catch (const EIdURIException& e) {
    t.LogDetail(Format("%d : Location not re-written : %s (%s)", StatusCode, Location, e.Message()));
    return;
  }
  if (!URI.IsAbsolute() || URI.Host != m.HostHeader) return;
  std::string clientHost = HostWithoutPort(r.HostWithPort);
  if (clientHost.empty()) return;

  std::string before = Location;
  if (t.IsHTTPS == 0 && URI.Port == IntToStr(m.TargetPort)) {
    URI.Port = t.FLocalPort == 80 ? std::string() : IntToStr(t.FLocalPort);
  } else if (t.IsHTTPS == 1) {
    URI.Port.clear();
  }
  URI.Host = clientHost;
  if (!m.MatchedPathReplace.empty()) {
    URI.Path = m.MatchedPath + Copy(URI.Path, static_cast<int64_t>(m.MatchedPathReplace.size()) + 1,
                                    static_cast<int64_t>(URI.Path.size()));
  }
  URI.Path = CollapseSlashes(URI.Path);
  Location = URI.GetURI();
  Updated.SetHeaderUnique("Location", Location);
  t.LogDetail(Format("%d : Location re-written : %s -> %s", StatusCode, before, Location));
}

void TResponseHeader::SetCompressed(TContentCoding coding) {
  Updated.DeleteAllHeaders("Content-Length");
  ContentCoding = coding;
  ContentEncoding = coding == ceGZip ? "gzip" : "deflate";
  Updated.SetHeaderUnique("Content-Encoding", ContentEncoding);
  std::string vary = Updated.GetJoinedValues("Vary");
  bool named = vary == "*";
  for (std::string_view rest = vary; !named && !rest.empty();) {
    auto comma = rest.find(',');
    named = SameText(Trim(rest.substr(0, comma)), "Accept-Encoding");
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  if (!named) {
    Vary = vary.empty() ? std::string("Accept-Encoding") : vary + ", Accept-Encoding";
    Updated.SetHeaderUnique("Vary", Vary);
  }
}

std::string TResponseHeader::GetLogText() const {
  if (!IsRead) return "  Response: NOT READ";
  return Format("  Response: %d, %s, %d, %s, [%s], %s", StatusCode, ReasonText, ContentLength, "", ContentType,
                ContentEncoding);
}
