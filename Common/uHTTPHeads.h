// The two heads of a forwarded request: the client's request head rewritten
// for the back end, and the back end's response head rewritten for the
// client. A client thread owns one of each for its whole life and reuses them:
// Clear, fill Raw, Parse, (match), Update, send Updated.
//
// The switch's own wire headers are defined here: Via, VTCallerIP, VTOrigURL,
// VTPathRewrite, VTHopCount, VTEncryption, the User-Agent tag, the
// client-address headers and the affinity cookie VTSession.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "Common/uHTTPHeaders.h"
#include "platform/IdURI.h"
#include "platform/SysUtils.h"

class TRequestMatchData;
class TRequestHeader;
class TResponseHeader;

// A head whose framing the switch cannot relay safely.
VT_DECLARE_EXCEPTION(EInvalidHead, Exception);

// Content codings (TResponseHeader::ContentCoding).
using TContentCoding = uint8_t;
enum : TContentCoding { ceNone = 0, ceUnknown = 1, ceGZip = 2, ceDeflate = 3, ceCompress = 4 };
// A set of content codings: bit (1 << coding) for each member.
using TContentCodings = uint8_t;
constexpr TContentCodings CodingBit(TContentCoding c) { return static_cast<TContentCodings>(1u << c); }
constexpr bool HasCoding(TContentCodings set, TContentCoding c) { return (set & CodingBit(c)) != 0; }

// What a thread's head storage keeps from one request to the next: a head of
// a few KiB is the rule, the storage of a huge one is let go after use.
constexpr size_t kKeptHeadBytes = TStringList::kKeptBytes;
// Empties every string of Fields; their storage stays for the next head
// unless together they hold more than kKeptHeadBytes.
void ClearHeadFields(std::initializer_list<std::string*> fields);

// The version the switch reports in its User-Agent tag.
inline constexpr const char* VTVersion = "2.2.51";

// A document's extension by the file-name rule: the text from its last ".",
// empty when there is none or a backslash or ":" follows it ("/" does not
// cut).
std::string DocumentExtension(std::string_view document);
TContentCoding DecodeContentEncoding(std::string_view text);
TContentCodings ParseAcceptEncoding(std::string_view text);
bool InPragmaContentTypeList(std::string_view contentType);
bool InPragmaExtensionList(std::string_view document);
// "Sun, 13-Dec-2009 10:00:00 GMT" for now + Seconds; empty for a negative
// number.
std::string FormatCookieExpiry(int32_t seconds);

// What the heads read from and write into their client thread. The thread
// derives from it; tests use it alone.
class THeadOwner {
 public:
  virtual ~THeadOwner() = default;
  virtual void LogInfo(const std::string& text) = 0;
  virtual void LogDetail(const std::string& text) = 0;

  int IsHTTPS = 0;  // 1 when the client came in over HTTPS
  int32_t FLocalPort = 0;
  std::string FClientIP;
  int FCloseConnection = 1;  // written: 1 = close after this response
  uint32_t FSessionKey = 0;  // written by the request parser
  TRequestMatchData* MatchData = nullptr;
  TRequestHeader* RequestHeader = nullptr;
  // The statistics holder's switches for this request.
  bool RemoveVTHeaders = false;
  bool LogRequestHeaders = false;
};

class TRequestHeader {
 public:
  explicit TRequestHeader(THeadOwner* owner) : Owner(owner) {}
  TRequestHeader(const TRequestHeader&) = delete;
  TRequestHeader& operator=(const TRequestHeader&) = delete;
  virtual ~TRequestHeader() = default;

  void Clear();
  bool IsEmpty() const { return Version.empty(); }
  // Reads Raw into the fields and copies it to Updated. A head the switch
  // refuses leaves Refusal set (the reply's status text, e.g. "400 Bad
  // Request"); the thread then answers with Version + " " + Refusal and closes
  // without matching or forwarding. Content-Length or VTHopCount values that
  // are not integers raise EConvertError.
  virtual void Parse();
  // Rewrites Updated for the back end after the match.
  virtual void Update();
  // Every Cookie line's value, joined with blanks; "-" when there is none.
  std::string GetCookieValue() const;
  // The same into Value, whose storage is reused.
  void GetCookieValue(std::string& value) const;
  std::string GetLogText() const;

  int64_t ContentLength = 0;
  int32_t HopCount = 0;
  std::string HostWithPort;
  std::string Referer;
  std::string UserAgent;
  std::string Accept;
  std::string Host;
  std::string Version;
  std::string Document;
  std::string Via;
  std::string Method;
  std::string Connection;
  std::string AcceptEncoding;
  THeadOwner* Owner;
  TContentCodings AcceptedEncodings = 0;
  THTTPHeaders Updated;
  THTTPHeaders Raw;
  std::string AcceptLanguage;
  bool IsRead = false;
  TIdURI URI;

  // Empty, or the status text of the refusal ("400 Bad Request", "501 Not
  // Implemented").
  std::string Refusal;
  // The target came in absolute form; it goes on in origin form.
  bool AbsoluteForm = false;
  // "Connection: Close" is forced on the response (keep-alive off, HEAD, the
  // client's own "close", a body left unread); the back end may not undo it.
  bool ForcedClose = false;
  // "Expect: 100-continue" on an HTTP/1.1 request: the body waits for the
  // back end's first status line.
  bool ExpectsContinue = false;

 private:
  void ParseHeaderLines();
  void Refuse(const char* status);

  // A header value being composed; its storage is kept across requests
  // (within kKeptHeadBytes, with the head's fields).
  std::string FValue;
};

class TResponseHeader {
 public:
  explicit TResponseHeader(THeadOwner* owner) : Owner(owner) {}
  TResponseHeader(const TResponseHeader&) = delete;
  TResponseHeader& operator=(const TResponseHeader&) = delete;
  virtual ~TResponseHeader() = default;

  void Clear();
  // Raises EConvertError for a status code, Content-Length or VTHopCount
  // that is not an integer, and EInvalidHead for Content-Length lines that
  // disagree.
  virtual void Parse();
  virtual void Update();
  virtual void RewriteLocation();
  std::string GetLogText() const;
  // The head changes of a body the switch compresses itself: no
  // Content-Length, the new Content-Encoding, and Accept-Encoding named in
  // Vary so that shared caches keep the variants apart.
  void SetCompressed(TContentCoding coding);

  int64_t ContentLength = -1;
  std::string Vary;
  int32_t StatusCode = 0;
  std::string Server;
  int32_t HopCount = 0;
  std::string Date;
  std::string ContentType;
  std::string Version;
  std::string CacheControl;
  std::string Location;
  std::string ReasonText;
  std::string ContentEncoding;
  THeadOwner* Owner;
  TContentCoding ContentCoding = ceNone;
  TIdURI URI;
  THTTPHeaders Updated;
  THTTPHeaders Raw;
  bool Chunked = false;
  // Any Transfer-Encoding line: Content-Length no longer frames the body.
  bool TransferEncoding = false;
  bool IsRead = false;
};
