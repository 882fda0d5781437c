// Response framing end to end: bodiless statuses, interim responses,
// "Expect: 100-continue", the client's own "Connection: close", and response
// heads the switch must refuse.
#include <gtest/gtest.h>

#include "tests/Common/ClientRoadFixture.h"

namespace roadtest {
namespace {

class ClientFraming : public RoadFixture {};

// A back end that answers the first request with First and every later one
// on the same connection with Ok("after").
ScriptedBackend::Script FirstThenOk(std::string first) {
  return [first](BackendConn& conn, ScriptedBackend& b) {
    if (b.ReadRequest(conn).empty()) return;
    conn.Send(first);
    while (!b.ReadRequest(conn).empty()) conn.Send(Ok("after"));
  };
}

TEST_F(ClientFraming, BodilessStatusesEndAtTheHeadWhateverTheFramingHeadersSay) {
  struct Case {
    const char* name;
    std::string request;
    std::string head;
  };
  const Case cases[] = {
      {"304 chunked", "GET", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"204 chunked", "GET", "HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"304 length", "GET", "HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n"},
      {"204 both", "POST", "HTTP/1.1 204 No Content\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"},
  };
  for (const Case& c : cases) {
    ScriptedBackend backend(FirstThenOk(c.head));
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send(std::string(c.request) + " / HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: 0\r\n\r\n");
    Response first = client.ReadResponse(true);
    EXPECT_EQ(first.Status(), std::atoi(c.head.c_str() + 9)) << c.name;
    // The head goes on as the back end sent it: nothing is stripped.
    EXPECT_EQ(first.Header("Transfer-Encoding").empty(), c.head.find("chunked") == std::string::npos) << c.name;
    EXPECT_EQ(first.Header("Connection"), "") << c.name;
    const auto start = std::chrono::steady_clock::now();
    client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
    EXPECT_EQ(client.ReadResponse().body, "after") << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << c.name;
    EXPECT_EQ(backend.Accepts(), 1) << c.name;
  }
}

TEST_F(ClientFraming, InterimResponsesAreForwardedAndTheFinalOneFollows) {
  const std::string hints = "HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\n";
  for (const char* version : {"HTTP/1.1", "HTTP/1.0"}) {
    ScriptedBackend backend(FirstThenOk(hints + "HTTP/1.1 102\r\n\r\n" + Ok("real")));
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send(std::string("GET / ") + version + "\r\nHost: www.a.com\r\nConnection: keep-alive\r\n\r\n");
    const bool http11 = std::string(version) == "HTTP/1.1";
    if (http11) {
      // Forwarded as sent: an interim head is no final answer to close on.
      EXPECT_EQ(client.ReadResponse(true).head, hints);
      EXPECT_EQ(client.ReadResponse(true).head, "HTTP/1.1 102\r\n\r\n");
    }
    Response final = client.ReadResponse();
    EXPECT_EQ(final.Status(), 200) << version;
    EXPECT_EQ(final.body, "real") << version;
    if (http11) {
      client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
      EXPECT_EQ(client.ReadResponse().body, "after");
    }
  }
}

// The hostile client's body is a request of its own: it must never reach a
// back end that answered without asking for it.
TEST_F(ClientFraming, ExpectContinueBodyIsNeverForwardedAfterAFinalStatus) {
  std::string body = "GET /SMUGGLED HTTP/1.1\r\nHost: x\r\n\r\n";
  body.resize(40, 'x');
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 401 Unauthorized\r\nContent-Length: 4\r\n\r\nnope");
    // Nothing more may come: the switch closes instead.
    EXPECT_TRUE(conn.SeesClose());
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("POST /early HTTP/1.1\r\nHost: www.a.com\r\nExpect: 100-continue\r\nContent-Length: 40\r\n\r\n" + body);
  Response r = client.ReadResponse();
  EXPECT_EQ(r.Status(), 401);
  EXPECT_EQ(r.body, "nope");
  EXPECT_EQ(r.Header("Connection"), "Close");
  EXPECT_TRUE(client.SeesClose());
  EXPECT_EQ(backend.Heads().size(), 1u);
}

TEST_F(ClientFraming, ExpectContinueBodyWaitsForTheInterimLineForAnyMethod) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    // Nothing of the body before the back end asked for it.
    EXPECT_EQ(conn.ReadExact(0), "");
    conn.Send("HTTP/1.1 100 Continue\r\n\r\n");
    if (conn.ReadExact(4) != "data") return;
    conn.Send(Ok("stored"));
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("PUT /up HTTP/1.1\r\nHost: www.a.com\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\ndata");
  EXPECT_EQ(client.ReadResponse(true).Status(), 100);
  EXPECT_EQ(client.ReadResponse().body, "stored");
}

TEST_F(ClientFraming, ClientCloseIsHonouredWhateverTheBackendAnswers) {
  ScriptedBackend backend(Answer(Ok("a", "Connection: keep-alive\r\n")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET /a HTTP/1.1\r\nHost: www.a.com\r\nConnection: close\r\n\r\n");
  Response r = client.ReadResponse();
  EXPECT_EQ(r.body, "a");
  EXPECT_EQ(r.Header("Connection"), "Close");
  EXPECT_TRUE(client.SeesClose());
}

TEST_F(ClientFraming, MalformedResponseHeadsEndTheExchange) {
  const char* heads[] = {
      "HTTP/1.1 200 OK\r\nX-A: 1\r\n folded\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 200 OK\r\nX-A: 1\r\n\tfolded\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 2000 OK\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/2 200 OK\r\nContent-Length: 2\r\n\r\nok",
      "ICY 200 OK\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 20x OK\r\nContent-Length: 2\r\n\r\nok",
      "HTTP/1.1 200 OK\r\nContent-Length: +2\r\n\r\nok",
      "HTTP/1.1 200 OK\r\nContent-Length: 2;x\r\n\r\nok",
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\nframes",
  };
  for (const char* head : heads) {
    ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
      b.ReadRequest(conn);
      conn.Send(head);
      EXPECT_TRUE(conn.SeesClose()) << head;
    });
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
    EXPECT_EQ(client.ReadUntilClose(), "") << head;
  }
}

TEST_F(ClientFraming, UpgradeIsNotForwarded) {
  ScriptedBackend backend(Answer(Ok("plain")));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "plain");
  EXPECT_EQ(LowerCase(backend.LastHead()).find("upgrade: "), std::string::npos) << backend.LastHead();
}

}  // namespace
}  // namespace roadtest
