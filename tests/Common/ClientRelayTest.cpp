// The body relay end to end: request bodies and interim responses, plain
// and chunked responses, compression, and the framing faults of back ends.
#include <gtest/gtest.h>
#include <zlib.h>

#include <mutex>
#include <vector>

#include "Common/uProgramMode.h"
#include "platform/SysUtils.h"
#include "tests/Common/ClientRoadFixture.h"

namespace roadtest {
namespace {

class ClientRelay : public RoadFixture {
 protected:
  ClientRelay() { Handler().CompressionLimiter.Enabled = true; }
};

std::string Compressible(size_t n) {
  std::string s;
  while (s.size() < n) s += "The quick brown fox " + std::to_string(s.size() % 97) + " jumps. ";
  s.resize(n);
  return s;
}

// gzip (windowBits 31) or zlib (15) framing undone.
std::string Inflate(const std::string& data, int windowBits) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, windowBits), Z_OK);
  std::string out;
  char buf[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&z);
  EXPECT_EQ(rc, Z_STREAM_END);
  return out;
}

// A back end that reads one request (and its body, by Content-Length) and
// sends Response; BodySeen keeps the body.
struct EchoLength {
  std::string response;
  std::shared_ptr<std::string> bodySeen = std::make_shared<std::string>();
  void operator()(BackendConn& conn, ScriptedBackend& b) const {
    while (true) {
      const std::string head = b.ReadRequest(conn);
      if (head.empty()) return;
      const std::string lower = LowerCase(head);
      const size_t at = lower.find("content-length: ");
      if (at != std::string::npos) *bodySeen = conn.ReadExact(std::stoul(head.substr(at + 16)));
      conn.Send(response);
    }
  }
};

TEST_F(ClientRelay, PostBodyArrivesIntact) {
  EchoLength script{Ok("stored")};
  ScriptedBackend backend(script);
  AddDomain("www.a.com", backend.Port());
  const std::string body = Compressible(100000);
  Client client(Port());
  client.Send("POST /form HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: 100000\r\n\r\n");
  client.Send(body.substr(0, 40000));
  std::this_thread::sleep_for(20ms);
  client.Send(body.substr(40000));
  EXPECT_EQ(client.ReadResponse().body, "stored");
  EXPECT_EQ(*script.bodySeen, body);
  EXPECT_TRUE(Logged("Posted 100.00 kb in "));
}

// A head never leaves alone when body bytes are at hand: on loopback one send
// is one segment, so a response (or a POST) that arrives in one segment was
// sent whole, and no part of it waited for a delayed ACK.
TEST_F(ClientRelay, HeadAndBodyLeaveInOneSend) {
  const std::string page(16384, 'p');
  struct Case {
    const char* name;
    std::string response;
    std::string expectedBody;
  } cases[] = {
      {"plain 16 KiB", Ok(page), page},
      {"plain 1 KiB", Ok(page.substr(0, 1024)), page.substr(0, 1024)},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2000\r\n" + page.substr(0, 8192) +
                      "\r\n2000\r\n" + page.substr(0, 8192) + "\r\n0\r\n\r\n",
       page},
  };
  int n = 0;
  for (const Case& c : cases) {
    ScriptedBackend backend(Answer(c.response));
    const std::string host = "www.case" + std::to_string(++n) + ".com";
    AddDomain(host, backend.Port());
    Client client(Port());
    for (int i = 0; i < 3; ++i) {  // kept alive: every request alike
      const uint32_t before = tcptest::DataSegmentsIn(client.Peer().Fd());
      client.Send("GET /page HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
      const Response r = client.ReadResponse();
      ASSERT_TRUE(r.complete) << c.name;
      EXPECT_EQ(r.body, c.expectedBody) << c.name;
      EXPECT_EQ(tcptest::DataSegmentsIn(client.Peer().Fd()) - before, 1u) << c.name << ", request " << i;
    }
    EXPECT_EQ(backend.Accepts(), 1) << c.name;
  }
}

TEST_F(ClientRelay, PostHeadAndBodyReachTheBackendInOneSend) {
  auto segments = std::make_shared<std::vector<uint32_t>>();
  auto bodies = std::make_shared<std::vector<std::string>>();
  std::mutex m;
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    while (true) {
      const std::string head = b.ReadRequest(conn);
      if (head.empty()) return;
      const size_t at = LowerCase(head).find("content-length: ");
      const std::string body = conn.ReadExact(std::stoul(head.substr(at + 16)));
      {
        std::lock_guard<std::mutex> g(m);
        segments->push_back(tcptest::DataSegmentsIn(conn.Fd()));
        bodies->push_back(body);
      }
      conn.Send(Ok("stored"));
    }
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  const std::string sizes[] = {"12", "16384"};
  for (const std::string& size : sizes) {
    const std::string body(std::stoul(size), 'q');
    client.Send("POST /form HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: " + size + "\r\n\r\n" + body);
    EXPECT_EQ(client.ReadResponse().body, "stored");
  }
  std::lock_guard<std::mutex> g(m);
  ASSERT_EQ(segments->size(), 2u);
  EXPECT_EQ((*bodies)[1], std::string(16384, 'q'));
  // One segment per request on the kept back-end connection.
  EXPECT_EQ((*segments)[0], 1u);
  EXPECT_EQ((*segments)[1], 2u);
}

TEST_F(ClientRelay, InterimContinueIsForwardedBeforeTheFinalHead) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n");
    if (conn.ReadExact(4) != "data") return;
    conn.Send(Ok("done"));
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("POST /up HTTP/1.1\r\nHost: www.a.com\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\ndata");
  Response interim = client.ReadResponse(true);
  EXPECT_EQ(interim.head, "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n");
  Response final = client.ReadResponse();
  EXPECT_EQ(final.Status(), 200);
  EXPECT_EQ(final.body, "done");
}

TEST_F(ClientRelay, ClientDyingDuringThePostBodyEndsBothSides) {
  std::atomic<bool> bodyStarted{false};
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.ReadExact(1000);
    bodyStarted = true;
    EXPECT_TRUE(conn.SeesClose());
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("POST /up HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'x'));
  ASSERT_TRUE(WaitUntil([&] { return bodyStarted.load(); }));
  client.Peer().Close();
  EXPECT_TRUE(Logged("In POST: Client died before transfer was complete"));
}

TEST_F(ClientRelay, SilentPostClientIsCutByTheIdleLimit) {
  limits_.IdleLimitMs = 200;
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    EXPECT_TRUE(conn.SeesClose());
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("POST /up HTTP/1.1\r\nHost: www.a.com\r\nContent-Length: 10\r\n\r\n");
  EXPECT_TRUE(client.SeesClose());
  EXPECT_TRUE(Logged("In POST: Client died before transfer was complete"));
}

TEST_F(ClientRelay, ChunkedResponseIsRelayedChunkByChunk) {
  const std::string big(0x1a2b, 'b');
  ScriptedBackend backend(Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 99\r\n\r\n"
                                 "1a2b\r\n" + big + "\r\n"
                                 "5;name=value\r\nhello\r\n"
                                 "3 trailing words\r\nabc\r\n"
                                 "0\r\nX-Trailer: t\r\n\r\n"));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  for (int i = 0; i < 2; ++i) {  // the connection stays usable
    client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
    Response head = client.ReadResponse(true);
    EXPECT_EQ(head.Header("Content-Length"), "");
    const std::string body = client.ReadUntil("X-Trailer: t\r\n\r\n");
    EXPECT_TRUE(body == "1a2b\r\n" + big + "\r\n5\r\nhello\r\n3\r\nabc\r\n0\r\nX-Trailer: t\r\n\r\n")
        << body.size() << " bytes: " << body.substr(0, 80);
  }
  EXPECT_EQ(backend.Accepts(), 1);
}

TEST_F(ClientRelay, ClientBeforeHTTP11GetsChunkedDataUnframed) {
  ScriptedBackend backend(Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nKeep-Alive: timeout=5\r\n"
                                 "Connection: keep-alive\r\n\r\n5\r\nhello\r\n3;x=y\r\nabc\r\n0\r\nX-T: t\r\n\r\n"));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.0\r\nHost: www.a.com\r\nConnection: keep-alive\r\n\r\n");
  Response r = client.ReadResponse();
  EXPECT_EQ(r.Header("Transfer-Encoding"), "");
  EXPECT_EQ(r.Header("Keep-Alive"), "");
  EXPECT_EQ(r.Header("Connection"), "Close");
  EXPECT_EQ(r.body, "helloabc");  // read until the close
}

TEST_F(ClientRelay, UnreadableChunkSizeEndsBothConnections) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\nmore data\r\n0\r\n\r\n");
    EXPECT_TRUE(conn.SeesClose());
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  client.ReadResponse(true);
  EXPECT_EQ(client.ReadUntilClose(), "3\r\nabc\r\n");
  EXPECT_TRUE(Logged("Chunked transfer failed : Invalid chunk size \"zz\""));
}

TEST_F(ClientRelay, BytesPastContentLengthAreNeverForwarded) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789HTTP/1.1 200 OK\r\n\r\nsmuggled");
    EXPECT_TRUE(conn.SeesClose());
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "0123456789");
  EXPECT_EQ(client.ReadUntilClose(), "");
}

TEST_F(ClientRelay, LateBytesAfterABodyAreNeverForwarded) {
  // The first connection sends a second "response" after its body, when the
  // client has not asked for one yet.
  // The late bytes go out once the client holds its response, and the
  // client asks again once they are in the switch's socket.
  std::atomic<int> connections{0};
  std::atomic<bool> answered{false};
  std::atomic<bool> lateSent{false};
  ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
    const std::string name = "conn" + std::to_string(++connections);
    if (b.ReadRequest(conn).empty()) return;
    conn.Send(Ok(name));
    if (name == "conn1") {
      WaitUntil([&] { return answered.load(); });
      conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nsmuggled");
      lateSent = true;
    }
    while (!b.ReadRequest(conn).empty()) conn.Send(Ok(name));
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "conn1");
  answered = true;
  ASSERT_TRUE(WaitUntil([&] { return lateSent.load(); }));
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "conn2");
  EXPECT_EQ(backend.Accepts(), 2);
}

TEST_F(ClientRelay, BackendDyingMidBodyClosesTheClient) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p'));
    conn.Close();
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  client.ReadResponse(true);
  EXPECT_EQ(client.ReadUntilClose(), std::string(5000, 'p'));
}

TEST_F(ClientRelay, StalledBackendIsCutByTheIdleLimit) {
  limits_.IdleLimitMs = 300;
  struct Case {
    const char* name;
    std::string request;
    std::string sent;  // what the back end sends before it stalls
  };
  const Case cases[] = {
      {"plain", "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n0123456789"},
      {"chunked", "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab"},
      {"chunk size", "GET / HTTP/1.1\r\n", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5"},
      {"compressed", "GET / HTTP/1.1\r\nAccept-Encoding: gzip\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5000\r\n\r\n0123456789"},
      {"interim", "POST / HTTP/1.1\r\nContent-Length: 0\r\n", "HTTP/1.1 100 Continue\r\nX-A: 1\r\n"},
  };
  for (const Case& c : cases) {
    ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
      b.ReadRequest(conn);
      conn.Send(c.sent);
      EXPECT_TRUE(conn.SeesClose()) << c.name;
    });
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    const auto start = std::chrono::steady_clock::now();
    client.Send(c.request + "Host: www.a.com\r\n\r\n");
    client.ReadUntilClose();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << c.name;
    EXPECT_TRUE(Idle()) << c.name;
  }
}

TEST_F(ClientRelay, ClientThatStopsReadingIsCutByTheIdleLimit) {
  limits_.IdleLimitMs = 300;
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n");
    const std::string block(65536, 'z');
    while (conn.Send(block)) {
    }
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([] { return ActiveThreads.load() == 1; }));
  EXPECT_TRUE(Idle());
  // Cut, not left waiting for a further request after half a body.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_TRUE(Logged("IN TRANSFER: Browser died 1! (EIdSocketError"));
}

TEST_F(ClientRelay, OverlongBackendLineEndsTheConnection) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 200 OK\r\nX-Long: ");
    const std::string block(65536, 'l');
    while (conn.Send(block)) {
    }
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadUntilClose(), "");
  EXPECT_TRUE(Logged("Exception in HandleConnection from 127.0.0.1"));
}

TEST_F(ClientRelay, HeadSendsTheHeadAlone) {
  // A HEAD answer declares a length but has no body.
  ScriptedBackend backend(Answer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"));
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("HEAD / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  Response r = client.ReadResponse(true);
  EXPECT_EQ(r.Header("Content-Length"), "5");
  EXPECT_EQ(r.Header("Connection"), "Close");
  EXPECT_EQ(client.ReadUntilClose(), "");  // a HEAD request closes
}

TEST_F(ClientRelay, NoContentKeepsTheConnection) {
  ScriptedBackend backend([](BackendConn& conn, ScriptedBackend& b) {
    b.ReadRequest(conn);
    conn.Send("HTTP/1.1 204 No Content\r\n\r\n");
    b.ReadRequest(conn);
    conn.Send(Ok("after"));
  });
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse(true).Status(), 204);
  client.Send("GET / HTTP/1.1\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, "after");
}

struct CompressionCase {
  const char* name;
  std::string request;   // after the request line's "GET / "
  std::string response;  // the back end's whole answer
  const char* encoding;  // expected Content-Encoding
  bool chunked;
  bool closes;
};

TEST_F(ClientRelay, CompressesWhatMayBeCompressed) {
  const std::string small = Compressible(32000);
  const std::string large = Compressible(200000);
  const CompressionCase cases[] = {
      {"whole", "HTTP/1.1\r\nAccept-Encoding: gzip\r\n", Ok(small), "gzip", false, false},
      {"streamed", "HTTP/1.1\r\nAccept-Encoding: gzip, deflate\r\n", Ok(large), "gzip", true, false},
      {"just streamed", "HTTP/1.1\r\nAccept-Encoding: gzip\r\n", Ok(Compressible(32001)), "gzip", true, false},
      {"deflate", "HTTP/1.1\r\nAccept-Encoding: deflate\r\n", Ok(large), "deflate", true, false},
      // An HTTP/1.0 client cannot read chunks: the close ends the body.
      {"http/1.0", "HTTP/1.0\r\nConnection: keep-alive\r\nAccept-Encoding: gzip\r\n",
       Ok(large, "Connection: keep-alive\r\n"), "gzip", false, true},
      {"undeclared length", "HTTP/1.1\r\nAccept-Encoding: gzip\r\nConnection: close\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + large, "gzip", false, true},
  };
  for (const CompressionCase& c : cases) {
    const std::string& original = c.response.substr(c.response.find("\r\n\r\n") + 4);
    ScriptedBackend backend([&](BackendConn& conn, ScriptedBackend& b) {
      b.ReadRequest(conn);
      conn.Send(c.response);
      if (c.closes) conn.Close();
    });
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send("GET / " + c.request + "Host: www.a.com\r\n\r\n");
    Response r = client.ReadResponse();
    EXPECT_EQ(r.Header("Content-Encoding"), c.encoding) << c.name;
    EXPECT_EQ(r.Header("Vary"), "Accept-Encoding") << c.name;
    EXPECT_EQ(SameText(r.Header("Transfer-Encoding"), "chunked"), c.chunked) << c.name;
    if (c.closes || c.chunked) {
      EXPECT_EQ(r.Header("Content-Length"), "") << c.name;
    } else {
      EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size())) << c.name;
    }
    EXPECT_EQ(Inflate(r.body, std::string(c.encoding) == "gzip" ? 31 : 15), original) << c.name;
    if (c.closes) {
      EXPECT_TRUE(client.SeesClose()) << c.name;
    }
  }
  EXPECT_TRUE(Logged("Compressed 32000 to "));
  EXPECT_GT(stats_.BytesSaved.load(), 0);
}

TEST_F(ClientRelay, RelaysPlainWhenCompressionMustNotApply) {
  const std::string body = Compressible(5000);
  const CompressionCase cases[] = {
      {"already encoded", "Accept-Encoding: gzip\r\n", Ok(body, "Content-Encoding: identity\r\n"), "identity", false, false},
      {"not 200", "Accept-Encoding: gzip\r\n",
       "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 5000\r\n\r\n" + body, "", false, false},
      {"squid", "Accept-Encoding: gzip\r\nVia: 1.0 Squid/2.6\r\n", Ok(body), "", false, false},
      {"squid, deflate", "Accept-Encoding: deflate\r\nVia: 1.0 Squid/2.6\r\n", Ok(body), "", false, false},
      {"empty", "Accept-Encoding: gzip\r\n", Ok(""), "", false, false},
      {"not accepted", "Accept-Encoding: br\r\n", Ok(body), "", false, false},
      {"not listed", "Accept-Encoding: gzip\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: 5000\r\n\r\n" + body, "", false, false},
  };
  for (const CompressionCase& c : cases) {
    ScriptedBackend backend(Answer(c.response));
    ClearDomains();
    AddDomain("www.a.com", backend.Port());
    Client client(Port());
    client.Send("GET /page HTTP/1.1\r\n" + c.request + "Host: www.a.com\r\n\r\n");
    Response r = client.ReadResponse();
    EXPECT_EQ(r.Header("Content-Encoding"), c.encoding) << c.name;
    EXPECT_EQ(r.body, c.response.substr(c.response.find("\r\n\r\n") + 4)) << c.name;
  }
  stats_.CompressionEnabled = false;
  ScriptedBackend backend(Answer(Ok(body)));
  ClearDomains();
  AddDomain("www.a.com", backend.Port());
  Client client(Port());
  client.Send("GET / HTTP/1.1\r\nAccept-Encoding: gzip\r\nHost: www.a.com\r\n\r\n");
  EXPECT_EQ(client.ReadResponse().body, body);
}

TEST_F(ClientRelay, FakeSizeCountsOnlyInDebugMode) {
  ScriptedBackend backend(Answer(Ok("x")));
  AddDomain("www.a.com", backend.Port());
  for (bool debug : {false, true}) {
    DebugMode = debug;
    const int64_t before = stats_.BytesTransferred.load();
    Client client(Port());
    client.Send("GET /?AddFakeSize=1000000 HTTP/1.1\r\nHost: www.a.com\r\nConnection: close\r\n\r\n");
    client.ReadResponse();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(stats_.BytesTransferred.load() - before >= 1000000, debug);
  }
  // Only a plain decimal counts; anything else is ignored, not an error.
  for (const char* value : {"-5000", "9x", "99999999999999999999"}) {
    const int64_t before = stats_.BytesTransferred.load();
    Client client(Port());
    client.Send(std::string("GET /?AddFakeSize=") + value + " HTTP/1.1\r\nHost: www.a.com\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(client.ReadResponse().body, "x") << value;
    ASSERT_TRUE(Idle());
    const int64_t added = stats_.BytesTransferred.load() - before;
    EXPECT_TRUE(added > 0 && added < 1000) << value << ": " << added;
  }
  DebugMode = false;
}

}  // namespace
}  // namespace roadtest
