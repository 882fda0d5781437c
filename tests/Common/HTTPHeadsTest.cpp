#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "Common/GeneralHashfunctions.h"
#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uRequestMatching.h"
#include "platform/DateTime.h"

namespace {

class FakeOwner : public THeadOwner {
 public:
  void LogInfo(const std::string& text) override { info.push_back(text); }
  void LogDetail(const std::string& text) override { detail.push_back(text); }
  std::vector<std::string> info;
  std::vector<std::string> detail;
};

// The lines of a head as the client thread reads them: up to each CR LF,
// without the closing empty line. A CR elsewhere stays inside its line.
void ReadLines(THTTPHeaders& raw, const std::string& text) {
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    raw.TStringList::Add(text.substr(start, end - start));
  }
  if (start < text.size()) raw.TStringList::Add(text.substr(start));
}

// One client thread's heads and match, without a connection.
class Heads : public ::testing::Test {
 protected:
  Heads() {
    owner.MatchData = &match;
    owner.RequestHeader = &request;
    owner.FClientIP = "1.2.3.4";
    owner.FLocalPort = 80;
    match.GateName = "Vantrell Switch";
    match.AllowKeepAlive = true;
    match.CustomCallerIPHeaders = "X-Forwarded-for;rlnclientipaddr";
    match.LogFlags = 7;
  }

  // The thread's lines as read (no closing empty line), then Parse.
  void ParseRequest(const std::string& text) {
    request.Clear();
    response.Clear();
    ReadLines(request.Raw, text);
    request.Parse();
  }

  // Parse, a match that keeps the path and takes the request's host, Update.
  std::string Forward(const std::string& text) {
    ParseRequest(text);
    EXPECT_EQ(request.Refusal, "");
    if (match.TargetPath.empty()) match.TargetPath = request.Document;
    if (match.HostHeader.empty()) match.HostHeader = request.HostWithPort;
    request.Update();
    return request.Updated.GetTextStr();
  }

  void ParseResponse(const std::string& text) {
    response.Clear();
    ReadLines(response.Raw, text);
    response.Parse();
  }

  std::string Respond(const std::string& text) {
    ParseResponse(text);
    response.Update();
    return response.Updated.GetTextStr();
  }

  FakeOwner owner;
  TRequestMatchData match;
  TRequestHeader request{&owner};
  TResponseHeader response{&owner};
};

// ------------------------------------------------------------ request heads

TEST_F(Heads, ForwardsATypicalRequestWithTheSwitchsHeaders) {
  EXPECT_EQ(Forward("GET /a HTTP/1.1\r\nHost: www.x.com\r\nUser-Agent: Mozilla/5.0\r\nConnection: keep-alive\r\n"),
            "GET /a HTTP/1.1\r\n"
            "Host: www.x.com\r\n"
            "User-Agent: Mozilla/5.0 VT/2.2.51 (IP=1.2.3.4)\r\n"
            "Connection: keep-alive\r\n"
            "Via: 1.1 Vantrell Switch:80\r\n"
            "VTCallerIP: 1.2.3.4\r\n"
            "VTOrigURL: www.x.com 80 /a\r\n"
            "VTHopCount: 1\r\n"
            "X-Forwarded-for: 1.2.3.4\r\n"
            "rlnclientipaddr: 1.2.3.4\r\n"
            "\r\n");
  EXPECT_EQ(owner.FCloseConnection, 0);
  EXPECT_EQ(owner.detail.back(), "  Request: GET, /a, [], www.x.com, keep-alive");
  // Without the detail switch the line is not built.
  owner.detail.clear();
  match.LogFlags = 3;
  Forward("GET /a HTTP/1.1\r\nHost: www.x.com\r\n");
  EXPECT_TRUE(owner.detail.empty());
}

struct RewriteCase {
  const char* name;
  const char* head;
  std::function<void(FakeOwner&, TRequestMatchData&)> setup;
  const char* forwarded;
};

TEST_F(Heads, RewritesRequestHeads) {
  const RewriteCase cases[] = {
      {"no user agent: the tag begins with a blank and comes last", "GET /a HTTP/1.0\r\nHost: h\r\n",
       [](FakeOwner& o, TRequestMatchData& m) {
         o.RemoveVTHeaders = true;
         m.CustomCallerIPHeaders = "";
       },
       "GET /a HTTP/1.0\r\nHost: h\r\nVia: 1.0 Vantrell Switch:80\r\nUser-Agent:  VT/2.2.51 (IP=1.2.3.4)\r\n\r\n"},
      {"Host replaced, path mapped with the trailing slash kept, rule lines last",
       "GET /app/ HTTP/1.1\r\nHost: www.a.com\r\nUser-Agent: u\r\nX-Tag: off\r\n",
       [](FakeOwner& o, TRequestMatchData& m) {
         o.FLocalPort = 8080;
         m.HostHeader = "backend:8080";
         m.TargetPath = "/target";
         m.MatchedPath = "/app";
         m.MatchedPathReplace = "/target";
         m.CustomCallerIPHeaders = "";
         m.RequestHeadersToAdd.Add("X-Tag: on");
       },
       "GET /target/ HTTP/1.1\r\nHost: backend:8080\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\nX-Tag:  on\r\n"
       "Via: 1.1 Vantrell Switch:8080\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: www.a.com 8080 /app/\r\n"
       "VTPathRewrite: /app /target\r\nVTHopCount: 1\r\n\r\n"},
      {"HTTPS: encryption header, WebDAV destination made http",
       "MOVE /a HTTP/1.1\r\nHost: h\r\nDestination: https://h/b\r\nUser-Agent: u\r\nVTCallerIP: 5.5.5.5\r\n",
       [](FakeOwner& o, TRequestMatchData& m) {
         o.IsHTTPS = 1;
         m.CustomCallerIPHeaders = "";
       },
       "MOVE /a HTTP/1.1\r\nHost: h\r\nDestination: http://h/b\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\n"
       "VTCallerIP: 5.5.5.5\r\nVia: 1.1 Vantrell Switch:80\r\nVTOrigURL: h 80 /a\r\nVTHopCount: 1\r\n"
       "VTEncryption: SSL\r\n\r\n"},
      {"a forwarded list grows and its last address becomes VTCallerIP",
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\nX-Forwarded-For: 9.9.9.9\r\n", nullptr,
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\nX-Forwarded-for: 9.9.9.9, 1.2.3.4\r\n"
       "Via: 1.1 Vantrell Switch:80\r\nVTCallerIP: 9.9.9.9\r\nVTOrigURL: h 80 /\r\nVTHopCount: 1\r\n"
       "rlnclientipaddr: 1.2.3.4\r\n\r\n"},
      {"the element keeps the blank after its comma",
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\nX-Forwarded-For: 8.8.8.8, 9.9.9.9\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = "X-Forwarded-for"; },
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\n"
       "X-Forwarded-for: 8.8.8.8, 9.9.9.9, 1.2.3.4\r\nVia: 1.1 Vantrell Switch:80\r\nVTCallerIP:  9.9.9.9\r\n"
       "VTOrigURL: h 80 /\r\nVTHopCount: 1\r\n\r\n"},
      {"several lines of a forwarded list are one list; empty names are skipped",
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\nX-Forwarded-For: 7.7.7.7\r\nX-Forwarded-For: 8.8.8.8\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = ";X-Forwarded-for;;"; },
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\n"
       "X-Forwarded-for: 7.7.7.7, 8.8.8.8, 1.2.3.4\r\nVia: 1.1 Vantrell Switch:80\r\nVTCallerIP:  8.8.8.8\r\n"
       "VTOrigURL: h 80 /\r\nVTHopCount: 1\r\n\r\n"},
      {"an empty forwarded header is filled with the client, VTCallerIP stays the client",
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\nX-Forwarded-For:\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = "X-Forwarded-For"; },
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\nX-Forwarded-For: 1.2.3.4\r\n"
       "Via: 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: h 80 /\r\nVTHopCount: 1\r\n\r\n"},
      {"HEAD and keep-alive off force a close; the client's own VT headers are kept",
       "HEAD /x HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\nUser-Agent: u\r\nVTOrigURL: o\r\n"
       "Via: 1.1 a, 1.1 b\r\nVia: 1.0 c\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = ""; },
       "HEAD /x HTTP/1.1\r\nHost: h\r\nConnection: Close\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\nVTOrigURL: o\r\n"
       "Via: 1.1 a, 1.1 b, 1.0 c, 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTHopCount: 1\r\n\r\n"},
      {"the switch's own headers are set once whatever the client sent",
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: a\r\nUser-Agent: b\r\nVTHopCount: 9\r\nVTHopCount: 0\r\n"
       "VTEncryption: none\r\nVTEncryption: none\r\n",
       [](FakeOwner& o, TRequestMatchData& m) {
         o.IsHTTPS = 1;
         m.CustomCallerIPHeaders = "";
       },
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: b VT/2.2.51 (IP=1.2.3.4)\r\nVTHopCount: 10\r\n"
       "VTEncryption: SSL\r\nVia: 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: h 80 /\r\n\r\n"},
      {"a negative hop count counts as 0", "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\nVTHopCount: -5\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = ""; },
       "GET / HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\nVTHopCount: 1\r\n"
       "Via: 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: h 80 /\r\n\r\n"},
      {"an absolute-form target goes on in origin form",
       "GET http://example.com/dir/page.asp?x=1#frag HTTP/1.1\r\nHost: h\r\nUser-Agent: u\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = ""; },
       "GET /dir/page.asp?x=1 HTTP/1.1\r\nHost: h\r\nUser-Agent: u VT/2.2.51 (IP=1.2.3.4)\r\n"
       "Via: 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: h 80 /dir/page.asp?x=1\r\n"
       "VTHopCount: 1\r\n\r\n"},
      {"equal Host and Content-Length copies collapse",
       "POST /a HTTP/1.1\r\nHost: h\r\nhost: H\r\nContent-Length: 5\r\nContent-Length: 05\r\n"
       "User-Agent: u X-Injected: 1\r\n",
       [](FakeOwner&, TRequestMatchData& m) { m.CustomCallerIPHeaders = ""; },
       "POST /a HTTP/1.1\r\nHost: H\r\nContent-Length: 5\r\nUser-Agent: u X-Injected: 1 VT/2.2.51 (IP=1.2.3.4)\r\n"
       "Via: 1.1 Vantrell Switch:80\r\nVTCallerIP: 1.2.3.4\r\nVTOrigURL: H 80 /a\r\nVTHopCount: 1\r\n\r\n"},
  };
  for (const RewriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    owner = FakeOwner();
    owner.MatchData = &match;
    owner.RequestHeader = &request;
    owner.FClientIP = "1.2.3.4";
    owner.FLocalPort = 80;
    match.Reset();
    match.GateName = "Vantrell Switch";
    match.CustomCallerIPHeaders = "X-Forwarded-for;rlnclientipaddr";
    if (c.setup) c.setup(owner, match);
    EXPECT_EQ(Forward(c.head), c.forwarded);
  }
}

TEST_F(Heads, KeepAliveDecisionsOfTheRequest) {
  ParseRequest("GET /a HTTP/1.1\r\nHost: h\r\n");
  EXPECT_EQ(owner.FCloseConnection, 1);
  ParseRequest("GET /a HTTP/1.1\r\nHost: h\r\nConnection: Keep-Alive\r\n");
  EXPECT_EQ(owner.FCloseConnection, 0);
  ParseRequest("GET /a HTTP/1.1\r\nConnection: Keep-Alive\r\nConnection: close\r\n");
  EXPECT_EQ(owner.FCloseConnection, 1);

  match.AllowKeepAlive = false;
  Forward("GET /a HTTP/1.1\r\nHost: h\r\nConnection: keep-alive\r\n");
  EXPECT_EQ(owner.FCloseConnection, 1);
  EXPECT_EQ(request.Updated.GetValue("Connection"), "Close");
  // The back end's keep-alive does not undo a forced close.
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n");
  EXPECT_EQ(owner.FCloseConnection, 1);
  EXPECT_EQ(response.Updated.GetJoinedValues("Connection"), "Close");
}

TEST_F(Heads, RequestLineWithoutVersion) {
  owner.FSessionKey = 42;
  ParseRequest("GET /x");
  EXPECT_TRUE(request.IsEmpty());
  EXPECT_EQ(request.Method, "GET");
  EXPECT_EQ(request.Document, "");
  EXPECT_EQ(owner.FSessionKey, 42u);
  EXPECT_EQ(owner.FCloseConnection, 1);
  request.Update();
  EXPECT_EQ(request.Updated.GetTextStr(), "GET /x\r\n\r\n");
}

struct SessionCase {
  const char* lines;
  bool useForwarded;
  uint32_t key;
};

TEST_F(Heads, AffinityKeyFromCookieOrForwardedAddress) {
  const SessionCase cases[] = {
      {"Cookie: a=1; VTSession=77; b=2\r\n", false, 77},
      {"Cookie: VTSession=-5\r\n", false, 1},
      {"Cookie: VTSession=abc\r\n", false, 0},
      {"Cookie: VTSession=4294967296\r\n", false, 1},
      {"Cookie: VTSession=4294967295\r\n", false, 4294967295u},
      {"Cookie: a=1; VTSession=5\r\nCookie: b=2\r\n", false, 5},
      {"Cookie: a=1\r\n", false, 0},
      {"X-Forwarded-For: 10.0.0.9\r\n", true, APHash("10.0.0.9")},
      {"X-Forwarded-For: 10.0.0.9\r\n", false, 0},
      {"X-Forwarded-For: 10.0.0.9\r\nCookie: VTSession=12\r\n", true, 12},
  };
  for (const SessionCase& c : cases) {
    SCOPED_TRACE(c.lines);
    UseXForwardedForGlobal = c.useForwarded;
    owner.FSessionKey = 99;
    ParseRequest(std::string("GET / HTTP/1.1\r\nHost: h\r\n") + c.lines);
    EXPECT_EQ(owner.FSessionKey, c.key);
  }
  UseXForwardedForGlobal = false;
  ParseRequest("GET / HTTP/1.1\r\nCookie: x=1\r\ncookie: y=2\r\nCookie:z=3\r\n");
  EXPECT_EQ(request.GetCookieValue(), "x=1 y=2");
  ParseRequest("GET / HTTP/1.1\r\n");
  EXPECT_EQ(request.GetCookieValue(), "-");
}

struct RefusalCase {
  const char* head;
  const char* refusal;
  const char* version;
};

TEST_F(Heads, RefusesHeadsThatCouldBeReadTwoWays) {
  const RefusalCase cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n", "400 Bad Request", "HTTP/1.1"},
      {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n", "400 Bad Request", "HTTP/1.1"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n", "501 Not Implemented", "HTTP/1.1"},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n", "400 Bad Request", "HTTP/1.0"},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nX : y\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nHost : a\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nX-A: 1\r\n continued\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nX-A: 1\r\n\tcontinued\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nNoColonHere\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\n: empty name\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nX\x01Y: 1\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nX\rY: 1\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET /a\x7f HTTP/1.1\r\n", "400 Bad Request", "HTTP/1.1"},
      // A CR or NUL in the request line does not move the version.
      {"GET /a\rb HTTP/1.1\r\n", "400 Bad Request", "HTTP/1.1"},
      // Controls but HT in a header value: a bare CR never survives.
      {"GET / HTTP/1.1\r\nUser-Agent: u\rX-Injected: 1\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1\r\nX-A: a\x1b[31m\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET / HTTP/1.1 200 OK\r\n", "400 Bad Request", "HTTP/1.0"},
      {"GET / FOO\r\n", "400 Bad Request", "HTTP/1.0"},
      {"GET / HTTP/11\r\n", "400 Bad Request", "HTTP/1.0"},
      {"GET  HTTP/1.1\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET http://a:99999/x HTTP/1.1\r\n", "400 Bad Request", "HTTP/1.1"},
      {"GET http:/x HTTP/1.1\r\n", "400 Bad Request", "HTTP/1.1"},
      // Without a version only a bare GET line goes on; header lines after
      // a versionless line would reach the back end unread.
      {"POST /x\r\nHost: a\r\nTransfer-Encoding: chunked\r\n", "400 Bad Request", "HTTP/1.0"},
      {"GET /x\r\nHost: a\r\n", "400 Bad Request", "HTTP/1.0"},
      {"DELETE /x\r\n", "400 Bad Request", "HTTP/1.0"},
      {"GET /a\x01\r\n", "400 Bad Request", "HTTP/1.0"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.head);
    ParseRequest(std::string(c.head, strlen(c.head)));
    EXPECT_EQ(request.Refusal, c.refusal);
    EXPECT_EQ(request.Version, c.version);
    EXPECT_EQ(owner.FCloseConnection, 1);
  }
  // A NUL in the request line.
  ParseRequest(std::string("GET /a\0b HTTP/1.1\r\n", 20));
  EXPECT_EQ(request.Refusal, "400 Bad Request");
  // An HTTP/0.9 line has no headers to refuse.
  ParseRequest("GET /x");
  EXPECT_EQ(request.Refusal, "");
  EXPECT_EQ(request.Version, "");
}

TEST_F(Heads, NumbersThatAreNotDecimalIntegersFailTheParse) {
  for (const char* line : {"Content-Length: $10", "Content-Length: 1 0", "Content-Length: -1", "Content-Length: +5",
                           "Content-Length:", "Content-Length: 99999999999999999999", "VTHopCount: abc",
                           "VTHopCount: 0x10", "VTHopCount: 2147483648"}) {
    SCOPED_TRACE(line);
    EXPECT_THROW(ParseRequest(std::string("POST / HTTP/1.1\r\n") + line + "\r\n"), EConvertError);
  }
  try {
    ParseRequest("POST / HTTP/1.1\r\nContent-Length: 12x\r\n");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
  ParseRequest("POST / HTTP/1.1\r\nContent-Length:  123 \r\n");
  EXPECT_EQ(request.ContentLength, 123);
}

TEST_F(Heads, HopCountAtTheTopOfTheRangeOverflows) {
  ParseRequest("GET / HTTP/1.1\r\nVTHopCount: 2147483647\r\n");
  EXPECT_EQ(request.HopCount, 2147483647);
  match.TargetPath = "/";
  EXPECT_THROW(request.Update(), EIntOverflow);
}

TEST_F(Heads, RequestFieldsAndLogTexts) {
  EXPECT_EQ(request.GetLogText(), "  Request: NOT READ!");
  ParseRequest(
      "GET /p?q HTTP/1.1\r\nHost: www.a.com:8080\r\nAccept: */*\r\nAccept-Language: de\r\n"
      "Accept-Encoding: gzip, deflate\r\nReferer: r\r\nUser-Agent: MSIE 4\r\n");
  EXPECT_EQ(request.Method, "GET");
  EXPECT_EQ(request.Document, "/p?q");
  EXPECT_EQ(request.Version, "HTTP/1.1");
  EXPECT_EQ(request.HostWithPort, "www.a.com:8080");
  EXPECT_EQ(request.Host, "www.a.com");
  EXPECT_EQ(request.Accept, "*/*");
  EXPECT_EQ(request.AcceptLanguage, "de");
  EXPECT_EQ(request.Referer, "r");
  EXPECT_EQ(request.AcceptedEncodings, CodingBit(ceGZip) | CodingBit(ceDeflate));
  EXPECT_EQ(request.GetLogText(), "  Request: GET, /p?q, [gzip, deflate], www.a.com, ");

  owner.LogRequestHeaders = true;
  match.TargetPath = "/p?q";
  match.CustomCallerIPHeaders = "";
  request.Update();
  ASSERT_EQ(owner.info.size(), 2u);
  EXPECT_EQ(owner.info[0].substr(0, 67),
            "*** REQUEST HEADER *** before update (inport=80)\r\nGET /p?q HTTP/1.1");
  EXPECT_EQ(owner.info[1].substr(0, 56), "*** REQUEST HEADER *** after update\r\nGET /p?q HTTP/1.1\r\n");
  request.Clear();
  EXPECT_FALSE(request.IsRead);
  EXPECT_EQ(request.Raw.Count(), 0);
}

// ----------------------------------------------------------- response heads

struct ClosingCase {
  const char* requestVersion;
  const char* requestConnection;  // nullptr: none
  const char* userAgent;
  const char* response;
  int close;
  bool toldToClose;
};

TEST_F(Heads, KeepAliveDecisionsOfTheResponse) {
  const ClosingCase cases[] = {
      {"HTTP/1.1", nullptr, "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", 0, false},
      {"HTTP/1.1", "close", "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", 1, true},
      // The client's own close holds whatever the back end answers.
      {"HTTP/1.1", "TE, close", "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: keep-alive\r\n", 1, true},
      {"HTTP/1.0", nullptr, "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n", 1, true},
      {"HTTP/1.0", nullptr, "Mozilla (MSIE 4.01)", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n", 0, false},
      {"HTTP/1.0", "keep-alive", "u", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nConnection: Keep-Alive\r\n", 1, true},
      {"HTTP/1.1", nullptr, "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n", 1, true},
      {"HTTP/1.1", "keep-alive", "u", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: keep-alive\r\n", 0, false},
      // No length: the body ends with the connection.
      {"HTTP/1.1", "keep-alive", "u", "HTTP/1.1 200 OK\r\nKeep-Alive: timeout=5\r\n", 1, true},
      {"HTTP/1.1", "keep-alive", "u", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", 0, false},
  };
  for (const ClosingCase& c : cases) {
    SCOPED_TRACE(std::string(c.requestVersion) + " / " + c.response);
    std::string head = std::string("GET / ") + c.requestVersion + "\r\nUser-Agent: " + c.userAgent + "\r\n";
    if (c.requestConnection) head += std::string("Connection: ") + c.requestConnection + "\r\n";
    ParseRequest(head);
    std::string out = Respond(c.response);
    EXPECT_EQ(owner.FCloseConnection, c.close);
    EXPECT_EQ(SameText(response.Updated.GetValue("Connection"), "Close"), c.toldToClose) << out;
    EXPECT_FALSE(response.Updated.HasHeader("Keep-Alive") && c.close == 1 && response.ContentLength == -1);
  }
}

// A thread's heads keep their storage for the next request, but not the
// storage of a huge head: its fields and lines are let go when cleared.
TEST_F(Heads, AHugeHeadLeavesLittleStorageBehind) {
  const std::string huge(200000, 'u');
  // Lines of a few KiB are each worth keeping; only the cap on their sum
  // keeps the head's lists small.
  std::string padding;
  for (int i = 0; i < 100; ++i) padding += "X-Pad-" + std::to_string(i) + ": " + std::string(2000, 'p') + "\r\n";
  Forward("GET /" + huge + " HTTP/1.1\r\nHost: www.a.com\r\nUser-Agent: " + huge + "\r\nCookie: a=" + huge +
          "; VTSession=1\r\n" + padding);
  Respond("HTTP/1.1 200 OK\r\nServer: " + huge + "\r\nContent-Type: " + huge + "\r\nContent-Length: 0\r\n");
  EXPECT_GE(request.UserAgent.capacity(), huge.size());
  request.Clear();
  response.Clear();
  EXPECT_LE(request.Document.capacity() + request.UserAgent.capacity(), kKeptHeadBytes);
  EXPECT_LE(response.Server.capacity() + response.ContentType.capacity(), kKeptHeadBytes);
  for (const THTTPHeaders* head : {&request.Raw, &request.Updated, &response.Raw, &response.Updated}) {
    EXPECT_LE(head->KeptBytes(), kKeptHeadBytes);
  }

  const std::string agent(300, 'a');
  match.TargetPath.clear();  // taken from the huge request
  Forward("GET /index.html HTTP/1.1\r\nHost: www.a.com\r\nUser-Agent: " + agent + "\r\n");
  request.Clear();
  EXPECT_GE(request.UserAgent.capacity(), agent.size());
  EXPECT_GT(request.Raw.KeptBytes(), 0u);
}

TEST_F(Heads, ResponseFramingFields) {
  ParseRequest("GET / HTTP/1.1\r\nConnection: keep-alive\r\n");
  EXPECT_EQ(response.GetLogText(), "  Response: NOT READ");
  ParseResponse(
      "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nContent-Type: text/html\r\nContent-Encoding: x-gzip\r\n"
      "Date: d\r\nServer: s\r\nVary: v\r\nCache-Control: c\r\nVTHopCount: 3\r\n");
  EXPECT_EQ(response.StatusCode, 200);
  EXPECT_EQ(response.ReasonText, "OK");
  EXPECT_EQ(response.ContentLength, 12);
  EXPECT_EQ(response.ContentCoding, ceGZip);
  EXPECT_EQ(response.Date + response.Server + response.Vary + response.CacheControl, "dsvc");
  EXPECT_EQ(response.GetLogText(), "  Response: 200, OK, 12, , [text/html], x-gzip");
  response.Update();
  EXPECT_EQ(response.Updated.GetValue("VTHopCount"), "4");

  ParseResponse("HTTP/1.1 304\r\nContent-Length: 50\r\n");
  EXPECT_EQ(response.StatusCode, 304);
  EXPECT_EQ(response.ReasonText, "");
  EXPECT_EQ(response.ContentLength, 0);
  ParseResponse("HTTP/1.1 204 No Content\r\n");
  EXPECT_EQ(response.ContentLength, 0);
  ParseResponse("HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(response.ContentLength, -1);

  // A chunked body is framed by its chunks: a Content-Length must not reach
  // the client.
  ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nTransfer-Encoding: gzip, chunked\r\n");
  EXPECT_TRUE(response.Chunked);
  EXPECT_FALSE(response.Updated.HasHeader("Content-Length"));
  // Any other transfer coding ends with the connection.
  ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nTransfer-Encoding: gzip\r\n");
  EXPECT_FALSE(response.Chunked);
  EXPECT_EQ(response.ContentLength, -1);
  response.Update();
  EXPECT_EQ(owner.FCloseConnection, 1);
  EXPECT_FALSE(response.Updated.HasHeader("Content-Length"));

  ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 7\r\n");
  EXPECT_EQ(response.Updated.GetJoinedValues("Content-Length"), "7");
  EXPECT_THROW(ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 7\r\nContent-Length: 8\r\n"), EInvalidHead);
  EXPECT_THROW(ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: -7\r\n"), EConvertError);
  EXPECT_THROW(ParseResponse("HTTP/1.1 OK\r\n"), EConvertError);
  EXPECT_THROW(ParseResponse("HTTP/1.1 200 OK\r\nVTHopCount: x\r\n"), EConvertError);

  // A bare CR from the back end does not split a line for the client.
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX-A: a\rSet-Cookie: evil=1\r\n");
  EXPECT_EQ(response.Updated.GetValue("X-A"), "a Set-Cookie: evil=1");
  EXPECT_FALSE(response.Updated.HasHeader("Set-Cookie"));
}

TEST_F(Heads, ResponseRulesAndHopCount) {
  ParseRequest("GET / HTTP/1.1\r\n");
  match.ResponseHeadersToAdd.Add("X-Frame-Options: DENY");
  owner.RemoveVTHeaders = true;
  EXPECT_EQ(Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX-Frame-Options:  DENY\r\n\r\n");
}

class ScopedUTC {
 public:
  ScopedUTC() {
    const char* tz = std::getenv("TZ");
    had_ = tz != nullptr;
    if (had_) old_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~ScopedUTC() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST_F(Heads, AffinityCookieOnEveryResponseOfAKeyedRequest) {
  ScopedUTC utc;
  ScopedManualClock clock(EncodeDateTime(2009, 12, 9, 10, 0, 0, 0));
  ParseRequest("GET / HTTP/1.1\r\nCookie: VTSession=1234567\r\n");
  match.SessionMethod = 1;
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nSet-Cookie: app=1\r\n");
  EXPECT_EQ(response.Updated[response.Updated.Count() - 2], "Set-Cookie: VTSession=1234567; path=/; expires=Sun, 13-Dec-2009 10:00:00 GMT");
  match.SessionMethod = 2;
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n");
  EXPECT_EQ(response.Updated.GetValue("Set-Cookie"), "VTSession=1234567; path=/");
  owner.FSessionKey = 0;
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n");
  EXPECT_FALSE(response.Updated.HasHeader("Set-Cookie"));
  owner.FSessionKey = 3000000000u;
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n");
  EXPECT_EQ(response.Updated.GetValue("Set-Cookie"), "VTSession=3000000000; path=/");

  EXPECT_EQ(FormatCookieExpiry(-1), "");
  clock.clock().SetNow(EncodeDateTime(2009, 12, 5, 7, 8, 9, 0));
  EXPECT_EQ(FormatCookieExpiry(0), "Sat, 5-Dec-2009 07:08:09 GMT");
  EXPECT_EQ(FormatCookieExpiry(86400 * 30), "Mon, 4-Jan-2010 07:08:09 GMT");
}

TEST_F(Heads, PragmaRuleOverHTTPS) {
  owner.IsHTTPS = 1;
  ParseRequest("GET /report.pdf HTTP/1.1\r\n");
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nPragma: no-cache\r\nContent-Disposition: attachment\r\n");
  EXPECT_FALSE(response.Updated.HasHeader("Pragma"));
  EXPECT_EQ(owner.detail.back(), "Removing \"Pragma: no-cache\" to prevent IE SSL bug - CT");

  ParseRequest("GET /a.JPG HTTP/1.1\r\n");
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: image/jpeg\r\nPragma: no-cache\r\n");
  EXPECT_FALSE(response.Updated.HasHeader("Pragma"));
  EXPECT_EQ(owner.detail.back(), "Removing \"Pragma: no-cache\" to prevent IE SSL bug - Not allowed");

  owner.detail.clear();
  ParseRequest("GET /a.htm HTTP/1.1\r\n");
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: TEXT/HTML\r\nPragma: no-cache\r\n");
  EXPECT_TRUE(response.Updated.HasHeader("Pragma"));
  EXPECT_TRUE(owner.detail.empty());

  owner.IsHTTPS = 0;
  ParseRequest("GET /a.jpg HTTP/1.1\r\n");
  Respond("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nContent-Type: image/jpeg\r\nPragma: no-cache\r\n");
  EXPECT_TRUE(response.Updated.HasHeader("Pragma"));
}

// ------------------------------------------------------------- redirects

class Locations : public Heads {
 protected:
  Locations() {
    match.HostHeader = "backend";
    match.TargetPort = 8080;
    match.DomainName = "www.a.com";
  }
  std::string Redirect(const std::string& location, int status = 302) {
    Respond(Format("HTTP/1.1 %d Found\r\nContent-Length: 0\r\nLocation: %s\r\n", status, location));
    return response.Updated.GetValue("Location");
  }
};

TEST_F(Locations, AnAbsoluteLocationNamingTheBackEndIsMappedBack) {
  ParseRequest("GET /front/x HTTP/1.1\r\nHost: www.a.com\r\n");
  match.MatchedPath = "/front";
  match.MatchedPathReplace = "/app";
  EXPECT_EQ(Redirect("http://backend:8080/app/x?y=1#top"), "http://www.a.com/front/x?y=1#top");
  EXPECT_EQ(owner.detail.back(),
            "302 : Location re-written : http://backend:8080/app/x?y=1#top -> http://www.a.com/front/x?y=1#top");
  for (int status : {301, 303, 307}) EXPECT_EQ(Redirect("http://backend:8080/app/", status), "http://www.a.com/front/");
  EXPECT_EQ(Redirect("http://backend:8080/app/x", 200), "http://backend:8080/app/x");

  // Another port than the target's stays; another local port is named.
  EXPECT_EQ(Redirect("http://backend:9090/app/x"), "http://www.a.com:9090/front/x");
  owner.FLocalPort = 8000;
  EXPECT_EQ(Redirect("http://backend:8080/app/x"), "http://www.a.com:8000/front/x");
  owner.IsHTTPS = 1;
  EXPECT_EQ(Redirect("http://backend:9090/app/x"), "http://www.a.com/front/x");

  match.MatchedPathReplace = "/";
  match.MatchedPath = "/front/";
  owner.IsHTTPS = 0;
  owner.FLocalPort = 80;
  EXPECT_EQ(Redirect("http://backend:8080/x"), "http://www.a.com/front/x");
}

TEST_F(Locations, OtherLocationsStayAsSent) {
  ParseRequest("GET /x HTTP/1.1\r\nHost: www.a.com\r\n");
  match.HostHeader = "backend:8080";
  EXPECT_EQ(Redirect("http://backend:8080/app/x"), "http://backend:8080/app/x");
  match.HostHeader = "backend";
  EXPECT_EQ(Redirect("http://other/app/x"), "http://other/app/x");
  EXPECT_EQ(Redirect("HTTP://Backend/app/x"), "HTTP://Backend/app/x");

  // A relative Location, also with no Host value at all, and one the
  // splitter cannot read go on unchanged and the response survives.
  match.HostHeader = "";
  EXPECT_EQ(Redirect("/x"), "/x");
  EXPECT_EQ(Redirect("x.htm"), "x.htm");
  owner.detail.clear();
  EXPECT_EQ(Redirect("http://backend:abc/x"), "http://backend:abc/x");
  EXPECT_EQ(owner.detail.front().substr(0, 54), "302 : Location not re-written : http://backend:abc/x (");

  // Without a Host from the client there is no address to name.
  match.HostHeader = "backend";
  ParseRequest("GET /x HTTP/1.0\r\n");
  EXPECT_EQ(Redirect("http://backend:8080/x"), "http://backend:8080/x");
}

TEST_F(Locations, DomainFlagsForceHTTPS) {
  ParseRequest("GET /x HTTP/1.1\r\nHost: www.a.com\r\n");
  match.DomainOwaHTTPtoHTTPS = true;
  EXPECT_EQ(Redirect("http://backend/x"), "https://www.a.com/x");
  EXPECT_EQ(Redirect("http://backend/x", 303), "http://www.a.com/x");
  match.DomainOwaHTTPtoHTTPS = false;
  match.DomainSSL = true;
  EXPECT_EQ(Redirect("http://backend/x", 301), "https://www.a.com/x");
  // The https change of a Location that is not rewritten never reaches it.
  EXPECT_EQ(Redirect("http://other/x", 301), "http://other/x");
}

TEST_F(Locations, TomcatMapsCookiesAndRedirectsBack) {
  TVirtualPath* anyPath = reinterpret_cast<TVirtualPath*>(&match);  // only tested for being set
  match.VirtualPath = anyPath;
  match.PathTomcat = true;
  match.MatchedPath = "/front";
  match.MatchedPathReplace = "/app";
  owner.IsHTTPS = 1;
  ParseRequest("GET /front/x HTTP/1.1\r\nHost: www.a.com\r\n");
  Respond(
      "HTTP/1.1 302 Found\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
      "Set-Cookie: JSESSIONID=AB/app; Path=/app; HttpOnly; Secure\r\n"
      "Set-Cookie: other=1; Domain=backend; Path=/app/sub\r\n"
      "Location: http://backend/app/x\r\n");
  EXPECT_EQ(response.Updated.GetTextStr(),
            "HTTP/1.1 302 Found\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
            "Set-Cookie: JSESSIONID=AB/front; Path=/; HttpOnly; Secure\r\n"
            "Set-Cookie: other=1; Domain=www.a.com; Path=/\r\n"
            "Location: https://www.a.com/front/x\r\nVTHopCount: 1\r\n\r\n");
  match.VirtualPath = nullptr;
}

// --------------------------------------------------------- free functions

TEST(HeadFunctions, ContentCodings) {
  EXPECT_EQ(DecodeContentEncoding("GZIP"), ceGZip);
  EXPECT_EQ(DecodeContentEncoding("x-gzip"), ceGZip);
  EXPECT_EQ(DecodeContentEncoding("compress"), ceCompress);
  EXPECT_EQ(DecodeContentEncoding("X-Compress"), ceCompress);
  EXPECT_EQ(DecodeContentEncoding("deflate"), ceDeflate);
  EXPECT_EQ(DecodeContentEncoding(""), ceUnknown);
  EXPECT_EQ(DecodeContentEncoding("br"), ceUnknown);

  EXPECT_EQ(ParseAcceptEncoding(""), 0);
  EXPECT_EQ(ParseAcceptEncoding(" , ,"), 0);
  EXPECT_EQ(ParseAcceptEncoding("gzip, deflate"), 4 | 8);
  EXPECT_EQ(ParseAcceptEncoding("gzip;q=0.5"), 2);
  EXPECT_EQ(ParseAcceptEncoding("x-gzip,compress,br"), 4 | 16 | 2);
}

TEST(HeadFunctions, PragmaLists) {
  EXPECT_TRUE(InPragmaContentTypeList("Text/HTML"));
  EXPECT_FALSE(InPragmaContentTypeList("text/html; charset=utf-8"));
  EXPECT_TRUE(InPragmaExtensionList("/x.HTM"));
  EXPECT_TRUE(InPragmaExtensionList("/a.b/c.png"));
  EXPECT_FALSE(InPragmaExtensionList("/x.htm?y"));
  EXPECT_FALSE(InPragmaExtensionList("a.htm\\c"));
  EXPECT_FALSE(InPragmaExtensionList("/x"));
  EXPECT_EQ(DocumentExtension("/a.b/c"), ".b/c");
  EXPECT_EQ(DocumentExtension("c:x"), "");
}

TEST_F(Heads, CompressedBodyHead) {
  ParseRequest("GET / HTTP/1.1\r\n");
  ParseResponse("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nVary: Cookie\r\nVary: User-Agent\r\n");
  response.SetCompressed(ceGZip);
  EXPECT_EQ(response.Updated.GetTextStr(),
            "HTTP/1.1 200 OK\r\nVary: Cookie, User-Agent, Accept-Encoding\r\nContent-Encoding: gzip\r\n\r\n");
  EXPECT_EQ(response.ContentCoding, ceGZip);
  ParseResponse("HTTP/1.1 200 OK\r\nVary: accept-encoding\r\n");
  response.SetCompressed(ceDeflate);
  EXPECT_EQ(response.Updated.GetTextStr(),
            "HTTP/1.1 200 OK\r\nVary: accept-encoding\r\nContent-Encoding: deflate\r\n\r\n");
  ParseResponse("HTTP/1.1 200 OK\r\n");
  response.SetCompressed(ceGZip);
  EXPECT_EQ(response.Updated.GetValue("Vary"), "Accept-Encoding");
}

}  // namespace
