// The request road end to end: forwarding, keep-alive and back-end reuse,
// the head limits, the refusals of bad framing, and the counters and log
// lines of a request.
#include "tests/Common/ClientRoadFixture.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <set>
#include <thread>

#include "platform/SysUtils.h"

namespace roadtest {
namespace {

class ClientRoad : public RoadFixture {};

std::string Get(const std::string& path, const std::string& host = "www.a.com", const std::string& extra = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "\r\n";
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ClientRoad, ForwardsTheRewrittenHeadAndRelaysTheResponse) {
  ScriptedBackend backend(Answer(Ok("hello")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send(Get("/x?y=1", "www.a.com", "User-Agent: T/1\r\n"));
  Response r = client.ReadResponse();
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.body, "hello");
  EXPECT_EQ(r.Header("VTHopCount"), "1");

  const std::string head = backend.LastHead();
  const std::string port = std::to_string(Port());
  EXPECT_EQ(head,
            "GET /x?y=1 HTTP/1.1\r\n"
            "Host: www.a.com:" + port + "\r\n"
            "User-Agent: T/1 VT/2.2.51 (IP=127.0.0.1)\r\n"
            "Via: 1.1 Vantrell Switch:" + port + "\r\n"
            "VTCallerIP: 127.0.0.1\r\n"
            "VTOrigURL: www.a.com " + port + " /x?y=1\r\n"
            "VTHopCount: 1\r\n"
            "X-Forwarded-for: 127.0.0.1\r\n"
            "rlnclientipaddr: 127.0.0.1\r\n"
            "\r\n");
}

TEST_F(ClientRoad, KeepAliveReusesTheBackendConnectionWhileHostAndPortStay) {
  ScriptedBackend first(Answer(Ok("one")));
  ScriptedBackend second(Answer(Ok("two")));
  AddDomain("www.a.com", first.Port());
  AddDomain("www.b.com", second.Port());
  Client client(Port());
  for (const char* host : {"www.a.com", "www.a.com", "www.b.com", "www.a.com"}) {
    client.Send(Get("/", host));
    Response r = client.ReadResponse();
    EXPECT_EQ(r.body, std::string(host) == "www.a.com" ? "one" : "two");
  }
  EXPECT_EQ(first.Accepts(), 2);  // the change of port closed the first one
  EXPECT_EQ(second.Accepts(), 1);
  EXPECT_EQ(first.Heads().size(), 3u);

  // Every line of every request of one connection carries one id; the next
  // connection gets the next.
  client.Peer().Close();
  ASSERT_TRUE(Idle());
  Client next(Port());
  next.Send(Get("/", "www.a.com", "Connection: close\r\n"));
  next.ReadResponse();
  ASSERT_TRUE(Idle());
  std::set<std::string> ids;
  for (const std::string& line : Log()) ids.insert(line.substr(0, line.find(" : ")));
  EXPECT_EQ(ids, (std::set<std::string>{"(0)", "(1)"}));
}

// The heads keep their storage from request to request: a short request
// and response after long ones on one connection go out exactly as they
// would on a fresh connection.
TEST_F(ClientRoad, KeptAliveRequestCarriesNothingOfTheOneBefore) {
  const std::string longValue(3000, 'L');
  ScriptedBackend backend([&longValue](BackendConn& conn, ScriptedBackend& b) {
    for (std::string head; !(head = b.ReadRequest(conn)).empty();) {
      const bool isLong = head.find("/long") != std::string::npos;
      conn.Send(isLong ? Ok("long", "X-Long: " + longValue + "\r\nSet-Cookie: s=" + longValue + "\r\n") : Ok("s"));
    }
  });
  AddDomain("www.a.com", backend.Port());
  Client kept(Port());
  kept.Send(Get("/long/" + std::string(300, 'p'), "www.a.com",
                "User-Agent: " + std::string(400, 'U') + "\r\nCookie: c=" + longValue + "\r\nX-Extra: " + longValue +
                    "\r\nAccept: */*\r\n"));
  const Response first = kept.ReadResponse();
  EXPECT_EQ(first.Header("X-Long"), longValue);
  kept.Send(Get("/s"));
  const Response second = kept.ReadResponse();

  Client fresh(Port());
  fresh.Send(Get("/s"));
  const Response alone = fresh.ReadResponse();

  EXPECT_EQ(second.head, alone.head);
  EXPECT_EQ(second.body, "s");
  const std::vector<std::string> heads = backend.Heads();
  ASSERT_EQ(heads.size(), 3u);
  EXPECT_EQ(heads[1], heads[2]);
  for (const char* part : {"LLL", "ppp", "UUU", "Cookie", "X-Extra", "Accept:"}) {
    EXPECT_FALSE(Contains(heads[1], part)) << part;
  }
  EXPECT_FALSE(Contains(second.head, "LLL"));
  // Its access-log line names no agent, cookie or referer of the first.
  kept.Peer().Close();
  fresh.Peer().Close();
  ASSERT_TRUE(Idle());
  const std::vector<std::string> w3c = W3C();
  ASSERT_EQ(w3c.size(), 3u);
  EXPECT_TRUE(Contains(w3c[1], " GET /s - 200 ")) << w3c[1];
  EXPECT_TRUE(Contains(w3c[1], " HTTP/1.1 www.a.com - - -")) << w3c[1];
}

TEST_F(ClientRoad, BackendThatClosesAfterItsResponseEndsTheClientConnection) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send(Ok("bye"));
    conn.Close();
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadResponse().body, "bye");
  EXPECT_TRUE(client.SeesClose());
}

// True when the switch ends the connection within Ms, sending nothing more.
bool EndsWithin(Client& client, int ms) {
  pollfd p{client.Peer().Fd(), POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return false;
  char c;
  return ::recv(p.fd, &c, 1, MSG_DONTWAIT) <= 0;
}

// A back end that closes after a response whose head keeps the connection
// alive ends the client connection within a second, after the whole body:
// a close in the segment of the last bytes (a corked send carries the FIN
// with them) is seen by the look right after the body, with looks during the
// wait for the next request too far apart to see it later; one right behind
// the bytes or a moment later is seen by those looks, between read steps too
// long to see it.
TEST_F(ClientRoad, BackendCloseAfterAKeptAliveResponseEndsTheClientConnection) {
  const std::string large(40000, 'L');
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\nchunk\r\n0\r\n\r\n";
  struct Case {
    const char* name;
    std::string response;
    std::string body;
    bool corked;       // the FIN rides on the last bytes
    int closeAfterMs;  // < 0: right behind the bytes
    int backendLookMs;  // the read steps are 2 s
  };
  const std::string keep = "Connection: keep-alive\r\n";
  const Case cases[] = {
      {"short body, FIN with it", Ok("bye", keep), "bye", true, -1, 2000},
      {"large body, FIN with it", Ok(large, keep), large, true, -1, 2000},
      {"chunked body, FIN with it", chunked, "chunk", true, -1, 2000},
      {"close right behind", Ok("bye", keep), "bye", false, -1, 50},
      {"close 50 ms later", Ok(large, keep), large, false, 50, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    limits_.ReadStepMs = 2000;
    limits_.BackendLookMs = c.backendLookMs;
    ScriptedBackend backend([&c](BackendConn& conn, ScriptedBackend& b) {
      b.ReadRequest(conn);
      int one = 1;
      if (c.corked) ::setsockopt(conn.Fd(), IPPROTO_TCP, TCP_CORK, &one, sizeof one);
      conn.Send(c.response);
      if (c.closeAfterMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(c.closeAfterMs));
      conn.Close();
    });
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send(Get("/"));
    const Response r = client.ReadResponse();
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.body, c.body);
    EXPECT_TRUE(EndsWithin(client, 1000));
  }
}

// A back end that keeps its connection keeps the client's: it outlives many
// read steps and serves the next request on the same back-end connection.
TEST_F(ClientRoad, BackendThatStaysOpenKeepsTheClientConnection) {
  ScriptedBackend backend(Answer(Ok("kept", "Connection: keep-alive\r\n")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  for (int i = 0; i < 2; ++i) {
    client.Send(Get("/"));
    EXPECT_EQ(client.ReadResponse().body, "kept");
    EXPECT_FALSE(EndsWithin(client, 300));
  }
  EXPECT_EQ(backend.Accepts(), 1);
}

TEST_F(ClientRoad, HeadLimitCountsTheRequestLineAndHeaderLines) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  const auto headers = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "X-H" + std::to_string(i) + ": v\r\n";
    return s;
  };
  {
    Client client(Port());
    client.Send(Get("/", "www.a.com", headers(253)));  // 255 lines with Host
    EXPECT_EQ(client.ReadResponse().body, "ok");
  }
  Client client(Port());
  client.Send(Get("/", "www.a.com", headers(254)));
  EXPECT_EQ(client.ReadUntilClose(), "");
  EXPECT_TRUE(Logged("Too many headers in request (256 lines of "));
  EXPECT_EQ(backend.Heads().size(), 1u);
}

TEST_F(ClientRoad, HeadLimitCountsFromTheHeadsFirstByte) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  limits_.HeadLimitMs = 400;
  Client client(Port());
  const auto start = std::chrono::steady_clock::now();
  client.Send("GET / HTTP/1.1\r\n");
  // Every line comes well within the limit; the head as a whole does not.
  bool closed = false;
  for (int i = 0; i < 30 && !closed; ++i) {
    std::this_thread::sleep_for(100ms);
    client.Send("X-Slow" + std::to_string(i) + ": v\r\n");
    pollfd p{client.Peer().Fd(), POLLIN, 0};
    closed = ::poll(&p, 1, 0) > 0;
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_TRUE(Logged("Client Exception EExceptionHeaderTimedOut:Reading header timed out!"));
  EXPECT_TRUE(backend.Heads().empty());
}

TEST_F(ClientRoad, BlankLinesBeforeTheRequestLineAreSkippedAndCounted) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  const std::string request = Get("/", "www.a.com", "Connection: close\r\n");
  client.Send("\r\n\r\n" + request);
  EXPECT_EQ(client.ReadResponse().body, "ok");
  ASSERT_TRUE(Idle());
  ASSERT_EQ(W3C().size(), 1u);
  // cs-bytes: the two blank lines, the head, and 2 more for its end.
  EXPECT_TRUE(Contains(W3C()[0], " " + std::to_string(4 + request.size() + 2) + " ")) << W3C()[0];
}

TEST_F(ClientRoad, HopCountNineIsForwardedAndTenGetsTheCircularPage) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  {
    Client client(Port());
    client.Send(Get("/", "www.a.com", "VTHopCount: 9\r\n"));
    EXPECT_EQ(client.ReadResponse().body, "ok");
    EXPECT_TRUE(Contains(backend.LastHead(), "\r\nVTHopCount: 10\r\n"));
  }
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\nVTHopCount: 10\r\n\r\n");
  EXPECT_EQ(client.ReadUntilClose(),
            "HTTP/1.0 200 OK\r\nConnection: Close\r\n\r\n"
            "There appears to be a circulare reference in the Vantrell Switch configuration!\r\n");
  EXPECT_EQ(backend.Heads().size(), 1u);
  EXPECT_TRUE(Logged("Circular reference: Request was aborted after 10 Vantrell Switch hops"));
  // A second, lower count does not reset the guard.
  Client again(Port());
  again.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\nVTHopCount: 10\r\nVTHopCount: 0\r\n\r\n");
  EXPECT_EQ(again.ReadUntilClose().substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(backend.Heads().size(), 1u);
}

TEST_F(ClientRoad, AbsoluteTargetIsSentInOriginFormToATargetOfItsOwn) {
  ScriptedBackend backend(Answer(Ok("ok")));
  TDomain* domain = AddDomain("www.a.com", backend.Port());
  {
    // A domain without a target address serves from this machine.
    WriteLockGuard g(Handler().Synchronizer);
    domain->DefaultTargetAddress = "";
  }
  Client client(Port());
  client.Send("GET http://www.other.com/x?q HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "ok");
  EXPECT_EQ(backend.LastHead().substr(0, 19), "GET /x?q HTTP/1.1\r\n");
  EXPECT_TRUE(Logged("-> (127.0.0.1):" + std::to_string(backend.Port()) + "/x?q"));
}

TEST_F(ClientRoad, BadFramingIsRefusedWithoutForwarding) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  struct Case {
    std::string extra;
    std::string reply;
  };
  const Case cases[] = {
      {"Transfer-Encoding: chunked\r\n", "HTTP/1.1 501 Not Implemented\r\n\r\n"},
      {"Transfer-Encoding: chunked\r\nContent-Length: 5\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"Content-Length: 5\r\nContent-Length: 6\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"Host: www.b.com\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"Content-Length : 5\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"X-A: 1\r\n folded\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"X\x01Y: 1\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      // Controls but HT in a value.
      {"X-A: a\x01b\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"X-A: a\rb\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {std::string("X-A: a\0b\r\n", 10), "HTTP/1.1 400 Bad Request\r\n\r\n"},
      {"X-A: a\x7f\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"},
      // A length that is not a plain decimal closes without a reply.
      {"Content-Length: $10\r\n", ""},
  };
  for (const Case& c : cases) {
    Client client(Port());
    client.Send(Get("/", "www.a.com", c.extra));
    EXPECT_EQ(client.ReadUntilClose(), c.reply) << c.extra;
  }
  // Only a well-formed version is echoed into a reply.
  {
    Client client(Port());
    client.Send("GET / HTTP/1.1 200 OK\r\nHost: www.a.com\r\n\r\n");
    EXPECT_EQ(client.ReadUntilClose(), "HTTP/1.0 400 Bad Request\r\n\r\n");
  }
  // A NUL in the request line does not cut it: the reply keeps the version.
  for (const std::string& line : {std::string("GET /a\0b HTTP/1.1", 17), std::string("GET /\0 HTTP/1.1", 15)}) {
    Client client(Port());
    client.Send(line + "\r\nHost: www.a.com\r\n\r\n");
    EXPECT_EQ(client.ReadUntilClose(), "HTTP/1.1 400 Bad Request\r\n\r\n");
  }
  EXPECT_EQ(backend.Heads().size(), 0u);
}

TEST_F(ClientRoad, HeadAsAWholeIsCapped) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  // Three lines of 400 KB: each is allowed, together they are too much.
  std::string lines;
  for (int i = 0; i < 3; ++i) lines += "X-Big" + std::to_string(i) + ": " + std::string(400000, 'v') + "\r\n";
  Client client(Port());
  client.Send(Get("/", "www.a.com", lines));
  EXPECT_EQ(client.ReadUntilClose(), "HTTP/1.1 400 Bad Request\r\n\r\n");
  EXPECT_TRUE(Logged("Head too large ("));
  EXPECT_EQ(backend.Heads().size(), 0u);
}

TEST_F(ClientRoad, OnlyAFewBlankLinesMayComeBeforeTheRequestLine) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send(std::string(10, '\n') + Get("/", "www.a.com"));
  EXPECT_EQ(client.ReadUntilClose(), "");
  EXPECT_TRUE(Logged("Too many empty lines before the head"));
  EXPECT_EQ(backend.Heads().size(), 0u);
}

// With the switch's own read step a step never ends while lines keep
// coming: the limits are looked at after every line too.
TEST_F(ClientRoad, TrickledLinesMeetTheHeadLimitWithTheProductionStep) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  limits_.ReadStepMs = 2000;
  limits_.HeadLimitMs = 1000;
  for (const std::string& line : {std::string("\r\n"), std::string("X-Slow: v\r\n")}) {
    Client client(Port());
    const auto start = std::chrono::steady_clock::now();
    if (line != "\r\n") client.Send("GET / HTTP/1.1\r\n");
    bool closed = false;
    for (int i = 0; i < 12 && !closed; ++i) {
      client.Send(line);
      pollfd p{client.Peer().Fd(), POLLIN, 0};
      closed = ::poll(&p, 1, 500) > 0;
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms);
  }
  EXPECT_TRUE(backend.Heads().empty());
}

TEST_F(ClientRoad, BareGetRelaysTheBackendBytesWithoutAHead) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("<html>old</html>");
    conn.Close();
  });
  AddDomain("", backend.Port());
  Client client(Port());
  client.Send("GET /old.htm\r\n");
  EXPECT_EQ(client.ReadUntilClose(), "<html>old</html>");
}

TEST_F(ClientRoad, W3CLineOfARequest) {
  ScriptedBackend backend(Answer(Ok("12345")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  const std::string request = Get("/a/c.htm?q=1", "www.a.com",
                                  "User-Agent: Agent 1\r\nCookie: x=1\r\nReferer: http://r/\r\nConnection: close\r\n");
  client.Send(request);
  client.ReadResponse();
  ASSERT_TRUE(Idle());
  ASSERT_EQ(W3C().size(), 1u);
  const std::string line = W3C()[0];
  const std::string port = std::to_string(Port());
  // Date and time first, then the fields from c-ip on (time-taken varies).
  const std::string response = Ok("12345");
  EXPECT_TRUE(Contains(line, " 127.0.0.1 - www.a.com 127.0.0.1 127.0.0.1 " + port + " GET /a/c.htm q=1 200 0 " +
                                 std::to_string(response.size() + 2) + " "))
      << line;
  EXPECT_TRUE(Contains(line, " HTTP/1.1 www.a.com Agent+1 x=1 http://r/")) << line;
}

TEST_F(ClientRoad, NothingReachesEitherLogWithTheSwitchesOff) {
  ScriptedBackend backend(Answer(Ok("ok")));
  TDomain* quiet = AddDomain("www.a.com", backend.Port());
  AddDomain("www.b.com", backend.Port());
  {
    WriteLockGuard g(Handler().Synchronizer);
    quiet->LogEnabled = false;  // this domain's requests only
  }
  {
    Client client(Port());
    client.Send(Get("/", "www.a.com", "Connection: close\r\n"));
    EXPECT_EQ(client.ReadResponse().body, "ok");
    ASSERT_TRUE(Idle());
  }
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(W3C().empty());
  {
    WriteLockGuard g(Handler().Synchronizer);
    Handler().LogOptions = 0;
  }
  Client client(Port());
  client.Send(Get("/", "www.b.com", "Connection: close\r\n"));
  EXPECT_EQ(client.ReadResponse().body, "ok");
  ASSERT_TRUE(Idle());
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(W3C().empty());
}

TEST_F(ClientRoad, RequestAndSummaryLines) {
  ScriptedBackend backend(Answer(Ok("12345")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send(Get("/x", "www.a.com", "Referer: http://r/\r\n"));
  client.ReadResponse();
  const std::string p = std::to_string(Port());
  const std::string b = std::to_string(backend.Port());
  EXPECT_TRUE(Logged("(0) :  0, 127.0.0.1,www.a.com,GET,HTTP/1.1,www.a.com:" + p + "/x -> 127.0.0.1:" + b +
                     "/x  (www.a.com:" + p + "), http://r/, Close"));
  EXPECT_TRUE(Logged(", 0.01 kb (0.01 kb, 1 blocks), "));
  EXPECT_TRUE(Logged(" kbs, (plain), (plain), ceNone,Keep-Alive"));
}

TEST_F(ClientRoad, KeepAliveWaitEndsAtTheFirstStepUnderOverload) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  stats_.PoolSize = 1;  // this connection alone is the overload
  Client client(Port());
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadResponse().body, "ok");
  EXPECT_TRUE(client.SeesClose());
  EXPECT_TRUE(Logged("KeepAlive stopped due to heavy server load, 1 active threads, 1 allowed"));
  EXPECT_TRUE(Logged("Closing Keep-Alive connection - timeout Client Exception EExceptionHeaderTimedOut:Reading header "
                     "timed out!"));
}

TEST_F(ClientRoad, SlowHeadIsCutUnderOverloadOnly) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  {
    // Without overload a head may take longer than the slow-head limit.
    Client client(Port());
    client.Send("GET / HTTP/1.1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(limits_.SlowHeadMs + 200));
    client.Send("Host: www.a.com\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(client.ReadResponse().body, "ok");
  }
  stats_.PoolSize = 1;
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\n");
  EXPECT_TRUE(client.SeesClose());
  EXPECT_TRUE(Logged("Slow read header terminated"));
}

TEST_F(ClientRoad, KeepAliveWaitEndsAtTheHeadLimit) {
  ScriptedBackend backend(Answer(Ok("ok")));
  AddDomain("www.a.com", backend.Port());
  limits_.HeadLimitMs = 200;
  Client client(Port());
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadResponse().body, "ok");
  EXPECT_TRUE(client.SeesClose());
  EXPECT_TRUE(Logged("Closing Keep-Alive connection - timeout"));
}

TEST_F(ClientRoad, UnreachableBackendClosesWithoutReply) {
  const int deadPort = [] {
    SocketHandle s = tcptest::RawListener();
    return tcptest::PortOf(s.Get());
  }();
  AddDomain("www.a.com", deadPort);
  Client client(Port());
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadUntilClose(), "");
  EXPECT_TRUE(Logged("Exception in HandleConnection from 127.0.0.1"));
}

}  // namespace
}  // namespace roadtest

namespace roadtest {
namespace {

// The back end closes a kept connection just as the next request reaches
// it: a request whose body was not sent yet goes once more on a new
// connection; one whose body went out does not.
TEST_F(ClientRoad, RequestOnAKeptConnectionThatCloses) {
  std::atomic<int> connections{0};
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    const int number = ++connections;
    if (b.ReadRequest(conn).empty()) return;
    conn.Send(Ok("one"));
    if (number == 1) {
      b.ReadRequest(conn);
      return;  // closes without an answer
    }
    while (!b.ReadRequest(conn).empty()) conn.Send(Ok("two"));
  });
  AddDomain("www.a.com", backend.Port());
  {
    Client client(Port());
    client.Send(Get("/"));
    EXPECT_EQ(client.ReadResponse().body, "one");
    client.Send(Get("/"));
    EXPECT_EQ(client.ReadResponse().body, "one");  // the new connection's first answer
    EXPECT_EQ(backend.Accepts(), 2);
    EXPECT_TRUE(Logged("request sent again on a new one"));
  }
  connections = 0;
  Client client(Port());
  client.Send(Get("/"));
  EXPECT_EQ(client.ReadResponse().body, "one");
  client.Send("POST / HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: 4\r\n\r\nbody");
  EXPECT_EQ(client.ReadUntilClose(), "");
  EXPECT_EQ(backend.Accepts(), 3);
}

}  // namespace
}  // namespace roadtest
