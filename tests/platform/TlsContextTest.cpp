#include "platform/TlsContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TcpErrors.h"
#include "platform/TcpServer.h"
#include "tests/platform/TcpTestSupport.h"
#include "tests/platform/TlsTestCerts.h"

namespace {

using namespace tcptest;
using namespace tlstest;

// ------------------------------------------------------- a TLS echo server
struct TlsServerFixture {
  TlsFiles files;
  std::mutex m;
  std::vector<std::string> exceptions;
  std::vector<std::string> subjects;
  std::atomic<int> connects{0};
  std::atomic<int> disconnects{0};
  std::atomic<size_t> waitingAfterFirstLine{0};
  TlsContext context;
  TcpServer server;  // last: its threads use everything above

  explicit TlsServerFixture(TlsVerifyMode verify = {}) {
    TlsServerOptions o = files.ServerOptions();
    o.verify = verify;
    context.SetOptions(o);
    context.SetOnGetPassword([] { return std::string("secret"); });
    context.SetOnVerifyPeer([this](const std::string& subject) {
      std::lock_guard<std::mutex> lock(m);
      subjects.push_back(subject);
    });
    server.SetTlsContext(&context);
    server.AddBinding("127.0.0.1", 0);
    server.SetOnConnect([this](PeerThread&) { ++connects; });
    server.SetOnDisconnect([this](PeerThread&) { ++disconnects; });
    server.SetOnException([this](PeerThread&, const Exception& e) {
      std::lock_guard<std::mutex> lock(m);
      exceptions.push_back(e.ClassName());
    });
    server.SetOnExecute([this](PeerThread& thread) {
      TcpConnection& c = *thread.Connection();
      std::string line = c.ReadLn("\n", 5000);
      if (c.ReadLnTimedOut()) return;
      if (line == "a") waitingAfterFirstLine = c.InputBufferSize();
      c.Write(line + "\r\n");
    });
  }
  int Port() const { return server.ListeningPort(0); }
  std::vector<std::string> Exceptions() {
    std::lock_guard<std::mutex> lock(m);
    return exceptions;
  }
  std::vector<std::string> Subjects() {
    std::lock_guard<std::mutex> lock(m);
    return subjects;
  }
};

TEST(TlsContext, HandshakeOnTheWorkerThenLinesEchoLikePlainTcp) {
  TlsServerFixture f;
  f.server.SetActive(true);
  ASSERT_TRUE(f.context.Initialized());
  {
    TestTlsClient client(f.Port());
    EXPECT_TRUE(client.Echoes("ping"));
    std::string big(16000, 'b');  // several TLS records
    EXPECT_TRUE(client.Echoes(big));
    // Two lines in one record: the second is waiting once the first was read.
    ASSERT_TRUE(client.Write("a\nbb\n"));
    EXPECT_EQ(client.Read(7), "a\r\nbb\r\n");
    EXPECT_EQ(f.waitingAfterFirstLine, 3u);
    client.Close();
  }
  // The client's close ends the run.
  EXPECT_TRUE(WaitUntil([&] { return f.disconnects == 1; }));
  EXPECT_EQ(f.connects, 1);
  EXPECT_TRUE(f.Exceptions().empty());
  EXPECT_TRUE(f.Subjects().empty()) << "no client certificate asked for";
}

TEST(TlsContext, FailedHandshakeReachesTheExceptionHandlerWithoutAConnectEvent) {
  TlsServerFixture f;
  f.server.SetActive(true);
  RawPeer plain(RawConnect(f.Port()));
  plain.Send("GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(plain.SeesClose());
  ASSERT_TRUE(WaitUntil([&] { return !f.Exceptions().empty(); }));
  EXPECT_EQ(f.Exceptions(), std::vector<std::string>{"EIdOSSLAcceptError"});
  EXPECT_EQ(f.connects, 0);
  // A client that leaves before its hello is a quiet end.
  RawConnect(f.Port()).Reset();
  TestTlsClient good(f.Port());
  EXPECT_TRUE(good.Echoes("after"));
  EXPECT_TRUE(WaitUntil([&] { return f.server.ActiveThreadCount() == 1; }));
  EXPECT_EQ(f.Exceptions().size(), 1u);
}

TEST(TlsContext, SetUpErrorsSurfaceAtActivation) {
  struct Case {
    const char* name;
    std::string password;
    std::string certificate;
    std::string cipherList;
    std::string expected;  // class name, "" = activates
  };
  TlsFiles files;
  const std::vector<Case> cases = {
      {"right password", "secret", files.Path("server.pem"), "", ""},
      {"wrong password", "wrong", files.Path("server.pem"), "", "EIdOSSLLoadingKeyError"},
      {"missing certificate", "secret", files.Path("none.pem"), "", "EIdOSSLLoadingCertError"},
      {"key of another certificate", "secret", files.Path("client.pem"), "", "EIdOSSLLoadingKeyError"},
      {"unknown ciphers", "secret", files.Path("server.pem"), "NO-SUCH-CIPHER", "EIdOSSLSettingCipherError"},
      {"legacy default list", "secret", files.Path("server.pem"),
       "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA", ""},
  };
  for (const Case& c : cases) {
    TlsContext context;
    TlsServerOptions o = files.ServerOptions();
    o.certificateFile = c.certificate;
    o.cipherList = c.cipherList;
    context.SetOptions(o);
    std::string password = c.password;
    context.SetOnGetPassword([password] { return password; });
    TcpServer server;
    server.AddBinding("127.0.0.1", 0);
    server.SetTlsContext(&context);
    std::string raised;
    try {
      server.SetActive(true);
    } catch (const Exception& e) {
      raised = e.ClassName();
    }
    EXPECT_EQ(raised, c.expected) << c.name;
    EXPECT_EQ(server.Active(), c.expected.empty()) << c.name;
  }
}

TEST(TlsContext, VerifyModeDecidesWhetherClientCertificatesAreAskedForAndChecked) {
  struct Case {
    const char* name;
    TlsVerifyMode mode;
    std::string clientCert;  // "" = none
    bool served;
    bool callbackRan;
  };
  const std::vector<Case> cases = {
      {"no verification", {false, true, true}, "client", true, false},
      {"peer, no certificate", {true, false, false}, "", true, false},
      {"peer required, none given", {true, true, false}, "", false, false},
      {"peer required, CA-signed", {true, true, true}, "client", true, true},
      {"peer, self-signed stranger", {true, false, false}, "rogue", false, true},
  };
  for (const Case& c : cases) {
    TlsServerFixture f(c.mode);
    f.server.SetActive(true);
    bool echoed;
    {
      TestTlsClient client(f.Port(), c.clientCert.empty() ? "" : f.files.Path(c.clientCert + ".pem"),
                           c.clientCert.empty() ? "" : f.files.Path(c.clientCert + ".key"));
      echoed = client.Echoes("ping");
    }
    EXPECT_EQ(echoed, c.served) << c.name;
    if (!c.served) {
      EXPECT_TRUE(WaitUntil([&] { return !f.Exceptions().empty(); })) << c.name;
      EXPECT_EQ(f.Exceptions(), std::vector<std::string>{"EIdOSSLAcceptError"}) << c.name;
    }
    std::vector<std::string> subjects = f.Subjects();
    EXPECT_EQ(!subjects.empty(), c.callbackRan) << c.name;
    if (c.clientCert == "client" && c.callbackRan) {
      EXPECT_NE(std::find(subjects.begin(), subjects.end(), "/CN=Test Client"), subjects.end()) << c.name;
      EXPECT_NE(std::find(subjects.begin(), subjects.end(), "/CN=Test CA"), subjects.end()) << c.name;
    }
    if (c.clientCert == "rogue") {
      EXPECT_NE(std::find(subjects.begin(), subjects.end(), "/CN=Rogue"), subjects.end()) << c.name;
    }
  }
}

TEST(TlsServerThreads, DeactivationEndsAHandshakeThatWaitsForTheClient) {
  TlsServerFixture f;
  f.server.SetActive(true);
  RawPeer silent(RawConnect(f.Port()));  // never sends a ClientHello
  ASSERT_TRUE(WaitUntil([&] { return f.server.ActiveThreadCount() == 1; }));
  auto start = std::chrono::steady_clock::now();
  f.server.SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_TRUE(silent.SeesClose());
  EXPECT_TRUE(f.Exceptions().empty());
  EXPECT_EQ(f.connects, 0);
}

}  // namespace
