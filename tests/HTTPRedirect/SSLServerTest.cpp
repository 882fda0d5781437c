// HTTPS listeners through the engine host: a temporary program folder with
// data/cert/ (made through OpenSSL) and data/settings.dat, a real host on
// loopback ports, plain back ends of the test's own and TLS clients.
#include "HTTPRedirect/udmSSLServer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "tests/Common/ClientRoadHost.h"
#include "tests/HTTPRedirect/HostFixture.h"
#include "tests/platform/TcpTestSupport.h"
#include "tests/platform/TlsTestCerts.h"

namespace {

namespace fs = std::filesystem;
using roadtest::Answer;
using roadtest::Ok;
using roadtest::ScriptedBackend;
using hosttest::FreePort;
using tcptest::WaitUntil;
using tlstest::TestTlsClient;

// One response read from Raw: head, then a Content-Length body.
template <class Read>
std::string ReadResponse(Read&& read) {
  std::string got;
  while (got.find("\r\n\r\n") == std::string::npos) {
    std::string more = read(1);
    if (more.empty()) return got;
    got += more;
  }
  const size_t headEnd = got.find("\r\n\r\n") + 4;
  const size_t at = got.find("Content-Length: ");
  if (at == std::string::npos || at > headEnd) return got;
  const size_t length = std::stoul(got.substr(at + 16));
  if (got.size() < headEnd + length) got += read(headEnd + length - got.size());
  return got;
}

std::string HttpsGet(TestTlsClient& client, const std::string& host, const std::string& path,
                     const std::string& extraHeaders = "") {
  if (!client.Write("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extraHeaders + "\r\n")) return "";
  return ReadResponse([&](size_t n) { return client.Read(n); });
}

std::string HttpGet(int port, const std::string& host, const std::string& path, const std::string& ip = "127.0.0.1") {
  tcptest::RawPeer peer(tlstest::ConnectTo(ip, port));
  peer.Send("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
  return ReadResponse([&](size_t n) { return peer.Receive(n); });
}

// The host test's program folder with certificates in data/cert/ and a
// configuration without domains or certificate sets to start from.
class HttpsEngine : public hosttest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    certs_ = std::make_unique<tlstest::TlsFiles>(fs::path(folder_.Path()) / "data" / "cert");
    settings_.handler.SSLSettingsList.Clear();
  }
  void TearDown() override {
    SetTlsLibraryProbe(nullptr);
    HostTest::TearDown();
  }

  // A domain for Host on 127.0.0.1:Port forwarding to BackendPort.
  TDomain* AddDomain(const std::string& host, int port, int backendPort, bool ssl = false) {
    TDomain* d = settings_.AddDomain(host, port, backendPort);
    d->DefaultForPort = false;
    d->IPsToBindTo.Add("127.0.0.1");
    d->SSL = ssl;
    return d;
  }
  // An enabled set with the fixture's certificate, bound to Ip:Port.
  TSSLSettings* AddSet(int port, const std::string& ip = "127.0.0.1") {
    TSSLSettings* s = settings_.handler.SSLSettingsList.AddNew();
    s->Enabled = true;
    s->CertificateFile = "server.pem";
    s->KeyFile = "server.key";
    s->RootCertificateFile = "ca.pem";
    s->CertificatePassword = "secret";
    s->VerifyFlags = 6;
    s->Bindings.AddBinding(ip, port);
    return s;
  }

  // Writes the settings, loads them and starts the engine.
  std::string Start() {
    settings_.Save();
    EXPECT_EQ(Load(), "Settings reloaded");
    return HostTest::Start();
  }

  // The event log so far, as one text.
  std::string LogText() {
    std::string all;
    for (const std::string& line : EventLog()) all += line + "\n";
    return all;
  }

  std::string Cert(const std::string& name) const { return folder_.Path() + "data/cert/" + name; }

  std::unique_ptr<tlstest::TlsFiles> certs_;
  hosttest::Settings settings_;
};

TEST_F(HttpsEngine, HttpsRequestReachesAPlainBackendAsAnEncryptedRequest) {
  ScriptedBackend backend(Answer(Ok("hello over tls")));
  const int https = FreePort();
  AddDomain("secure.test", https, backend.Port(), true);
  // The stored version (TLS 1) is not applied: the method negotiates, and
  // the legacy cipher list of old records still leaves ciphers to use.
  TSSLSettings* set = AddSet(https);
  set->SSLVersion = 3;
  set->CipherList = std::string(LegacyCipherList);
  ASSERT_EQ(Start(), "Server started");
  EXPECT_EQ(State(), 1);
  ASSERT_EQ(host_->SSLServers->Count(), 1);
  EXPECT_TRUE(host_->SSLServers->Items(0)->Server->Active());

  {
    TestTlsClient client(https);
    ASSERT_TRUE(client.Connected());
    std::string reply = HttpsGet(client, "secure.test", "/page");
    EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << reply;
    EXPECT_NE(reply.find("hello over tls"), std::string::npos) << reply;
    // The same connection goes on with a second request; a WebDAV
    // destination reaches the plain back end as http.
    EXPECT_NE(HttpsGet(client, "secure.test", "/again", "Destination: https://secure.test/moved\r\n")
                  .find("hello over tls"),
              std::string::npos);
  }
  const std::vector<std::string> heads = backend.Heads();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0].substr(0, 20), "GET /page HTTP/1.1\r\n");
  EXPECT_NE(heads[0].find("VTEncryption: SSL\r\n"), std::string::npos) << heads[0];
  EXPECT_NE(heads[1].find("Destination: http://secure.test/moved\r\n"), std::string::npos) << heads[1];

  const std::string log = LogText();
  EXPECT_NE(log.find(Format("Preparing to listen on 127.0.0.1:%d", https)), std::string::npos);
  EXPECT_NE(log.find("Starting SSL Listener..."), std::string::npos);
  EXPECT_NE(log.find("SSL Listener started"), std::string::npos);
  EXPECT_EQ(Stop(), "SERVER STOPPED");
  EXPECT_EQ(State(), 3);
  EXPECT_FALSE(host_->SSLServers->AnyActive());
}

TEST_F(HttpsEngine, TwoEnabledSetsListenOnTheirOwnPortsFedFromTheOnePool) {
  ScriptedBackend backend(Answer(Ok("either")));
  const int first = FreePort();
  const int second = FreePort();
  AddDomain("one.test", first, backend.Port(), true);
  AddDomain("two.test", second, backend.Port(), true);
  AddSet(first);
  settings_.handler.SSLSettingsList.AddNew();  // disabled: no listener
  AddSet(second);
  ASSERT_EQ(Start(), "Server started");

  ASSERT_EQ(host_->SSLServers->Count(), 2);
  TdmSSLServer* a = host_->SSLServers->Items(0);
  TdmSSLServer* b = host_->SSLServers->Items(1);
  EXPECT_NE(a->Name, b->Name);
  EXPECT_EQ(&a->Server->Pool(), host_->HTTPThreadPool.get());
  EXPECT_EQ(&b->Server->Pool(), host_->HTTPThreadPool.get());
  EXPECT_EQ(host_->SSLServers->BindingCount(), 2);
  for (int port : {first, second}) {
    TestTlsClient client(port);
    EXPECT_NE(HttpsGet(client, port == first ? "one.test" : "two.test", "/").find("either"), std::string::npos)
        << port;
  }
  EXPECT_EQ(backend.Heads().size(), 2u);
}

TEST_F(HttpsEngine, AWrongPasswordFailsTheStartAndTheStopStillEndsEverything) {
  const int http = FreePort();
  const int https = FreePort();
  AddDomain("plain.test", http, FreePort());
  AddSet(https)->CertificatePassword = "wrong";
  const std::string msg = Start();
  EXPECT_EQ(msg.rfind("ERROR : Failed to start server. \r\nERROR : The error message was:", 0), 0u) << msg;
  EXPECT_NE(msg.find("Could not load key, check password."), std::string::npos) << msg;
  EXPECT_EQ(State(), 3);
  EXPECT_TRUE(host_->HTTPServer->Active()) << "listeners started before stay until the next stop";
  EXPECT_FALSE(host_->SSLServers->AnyActive());
  EXPECT_EQ(Stop(), "SERVER STOPPED");
  EXPECT_FALSE(host_->HTTPServer->Active());
  EXPECT_EQ(State(), 3);
}

TEST_F(HttpsEngine, MissingOrWrongCertificateFilesFailTheStartWithTheirReason) {
  struct Case {
    const char* name;
    std::string certificate, key, root, ciphers;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"missing certificate", "nothere.pem", "server.key", "ca.pem", "", "Could not load certificate."},
      {"no certificate named", "", "server.key", "ca.pem", "", "Could not load certificate."},
      {"key of another certificate", "client.pem", "server.key", "ca.pem", "", "Could not load key, check password."},
      {"missing CA file", "server.pem", "server.key", "nothere.pem", "", "Could not load root certificate."},
      {"a key as certificate", "server.key", "server.key", "ca.pem", "", "Could not load certificate."},
      {"unknown cipher list", "server.pem", "server.key", "ca.pem", "NO-SUCH-CIPHER", "SetCipher failed."},
  };
  // With no enabled domain a reload would restart the engine by itself.
  AddDomain("plain.test", FreePort(), FreePort());
  for (const Case& c : cases) {
    settings_.handler.SSLSettingsList.Clear();
    TSSLSettings* s = AddSet(FreePort());
    s->CertificateFile = c.certificate;
    s->KeyFile = c.key;
    s->RootCertificateFile = c.root;
    s->CipherList = c.ciphers;
    const std::string msg = Start();
    EXPECT_NE(msg.find("ERROR : Failed to start server. "), std::string::npos) << c.name << ": " << msg;
    EXPECT_NE(msg.find(c.reason), std::string::npos) << c.name << ": " << msg;
    EXPECT_EQ(State(), 3) << c.name;
    EXPECT_FALSE(host_->SSLServers->AnyActive()) << c.name;
    EXPECT_EQ(Stop(), "SERVER STOPPED") << c.name;  // the HTTP listener started before
  }
  // Files given with a folder are read from there; no CA file is needed
  // when clients are not checked.
  settings_.handler.SSLSettingsList.Clear();
  TSSLSettings* s = AddSet(FreePort());
  s->CertificateFile = Cert("server.pem");
  s->KeyFile = Cert("server.key");
  s->RootCertificateFile.clear();
  EXPECT_EQ(Start(), "Server started");
  EXPECT_TRUE(host_->SSLServers->AnyActive());
}

TEST_F(HttpsEngine, ASetWhosePortIsTakenDoesNotKeepTheNextSetFromListening) {
  ScriptedBackend backend(Answer(Ok("second")));
  SocketHandle squatter = tcptest::RawListener();
  const int taken = tcptest::PortOf(squatter.Get());
  const int free = FreePort();
  AddDomain("two.test", free, backend.Port(), true);
  AddSet(taken);
  AddSet(free);
  EXPECT_EQ(Start(), "Server started");
  EXPECT_EQ(State(), 1);
  EXPECT_TRUE(Logged(Format("ERROR : Failed to start server, there is already a server listening to 127.0.0.1:%d",
                            taken)));
  ASSERT_EQ(host_->SSLServers->Count(), 2);
  EXPECT_FALSE(host_->SSLServers->Items(0)->Server->Active());
  EXPECT_TRUE(host_->SSLServers->Items(1)->Server->Active());
  TestTlsClient client(free);
  EXPECT_NE(HttpsGet(client, "two.test", "/").find("second"), std::string::npos);
}

TEST_F(HttpsEngine, AMissingTlsLibraryDisablesHttpsOnlyAndSaysWhichOne) {
  struct Case {
    TlsLibraryProbe probe;
    const char* line;
  };
  const Case cases[] = {
      {[] { return std::string("ssleay32.dll"); }, "SSL Support disabled: can't find ssleay32.dll"},
      {[] { return std::string("libeay32.dll"); }, "SSL Support disabled: can't find libeay32.dll"},
  };
  ScriptedBackend backend(Answer(Ok("plain still")));
  const int http = FreePort();
  AddDomain("plain.test", http, backend.Port());
  AddSet(FreePort());
  for (const Case& c : cases) {
    SetTlsLibraryProbe(c.probe);
    EXPECT_EQ(Start(), "Server started") << c.line;
    EXPECT_TRUE(Logged(c.line));
    EXPECT_FALSE(host_->SSLServers->AnyActive());
    EXPECT_NE(HttpGet(http, "plain.test", "/").find("plain still"), std::string::npos);
    EXPECT_EQ(Stop(), "SERVER STOPPED");
  }
  // The linked library is there.
  SetTlsLibraryProbe(nullptr);
  EXPECT_EQ(MissingTlsLibrary(), "");
}

TEST_F(HttpsEngine, ABindingForEveryAddressIsLoggedAsAllLocalIPs) {
  const int port = FreePort();
  AddSet(port, "*");
  ASSERT_EQ(Start(), "Server started");
  EXPECT_TRUE(Logged(Format("Preparing to listen on all local IPs:%d", port)));
  ASSERT_EQ(host_->SSLServers->Count(), 1);
  EXPECT_EQ(host_->SSLServers->Items(0)->Server->Bindings().at(0).ip, "");
  TestTlsClient client(port);
  EXPECT_TRUE(client.Connected());
}

// Client certificates against every verify flag: bit 1 asks for and checks
// one (OpenSSL's verdict stands: a stranger is refused), bit 2 refuses a
// client without one, bits 2 and 4 alone ask for nothing.
TEST_F(HttpsEngine, ClientCertificatesFollowTheVerifyFlags) {
  // Per client: "" none, "client" signed by the CA, "rogue" self-signed.
  struct Client {
    const char* name;
    bool served;
    bool verifyLogged;
  };
  struct Case {
    uint8_t flags;
    std::vector<Client> clients;
  };
  const std::vector<Case> cases = {
      {0, {{"", true, false}, {"rogue", true, false}}},
      {6, {{"", true, false}, {"rogue", true, false}}},
      {2, {{"", true, false}}},
      {4, {{"client", true, false}}},
      {1, {{"", true, false}, {"client", true, true}, {"rogue", false, true}}},
      {3, {{"", false, false}, {"client", true, true}, {"rogue", false, true}}},
      {5, {{"client", true, true}}},
      {7, {{"", false, false}, {"client", true, true}}},
  };
  ScriptedBackend backend(Answer(Ok("verified")));
  const int https = FreePort();
  AddDomain("secure.test", https, backend.Port(), true);
  TSSLSettings* set = AddSet(https);
  for (const Case& c : cases) {
    set->VerifyFlags = c.flags;
    StopIfRunning();
    ASSERT_EQ(Start(), "Server started") << int(c.flags);
    for (const Client& k : c.clients) {
      const std::string label = Format("flags %d, client '%s'", c.flags, std::string(k.name));
      const std::string name = k.name;
      const size_t before = LogText().size();
      bool served = false;
      {
        TestTlsClient client(https, name.empty() ? "" : Cert(name + ".pem"), name.empty() ? "" : Cert(name + ".key"));
        served = HttpsGet(client, "secure.test", "/").find("verified") != std::string::npos;
      }
      EXPECT_EQ(served, k.served) << label;
      if (k.verifyLogged) {
        EXPECT_TRUE(Logged(name == "rogue" ? "VerifyPeer : /CN=Rogue" : "VerifyPeer : /CN=Test Client")) << label;
      } else {
        EXPECT_EQ(LogText().find("VerifyPeer : ", before), std::string::npos) << label;
      }
    }
  }
}

// A plain domain with an HTTPS-only virtual path: the path is served over
// HTTPS on 443 only; over HTTP the domain's own target answers. A domain that
// forces HTTPS redirects plain requests to the same address over https.
TEST_F(HttpsEngine, OneMixedDomainOverHttpAndHttps) {
  ScriptedBackend site(Answer(Ok("site")));
  ScriptedBackend secure(Answer(Ok("secure part")));
  // Port 443 of a loopback address of its own, so that nothing else of the
  // machine is in the way.
  const std::string ip = "127.81.3.7";
  try {
    TestBind(ip, 443);
  } catch (const Exception& e) {
    GTEST_SKIP() << "443 not available: " << e.Message();
  }
  const int http = FreePort();
  TDomain* mixed = AddDomain("mixed.test", http, site.Port());
  mixed->IPsToBindTo.Clear();
  mixed->IPsToBindTo.Add(ip);
  TVirtualPath* path = mixed->AddVirtualPath();
  path->Path = "/secure";
  path->SSL = true;
  path->OutPort = secure.Port();
  TDomain* forced = AddDomain("forced.test", http, site.Port());
  forced->IPsToBindTo.Clear();
  forced->IPsToBindTo.Add(ip);
  forced->ForcedHTTPtoHTTPS = true;
  AddSet(443, ip);
  ASSERT_EQ(Start(), "Server started");

  auto httpGet = [&](const std::string& host, const std::string& target) {
    return HttpGet(http, host, target, ip);
  };
  auto httpsGet = [&](const std::string& host, const std::string& target) {
    TestTlsClient client(443, "", "", ip);
    return HttpsGet(client, host, target);
  };

  // HTTPS: the secure path goes to its own back end, marked as encrypted.
  EXPECT_NE(httpsGet("mixed.test", "/secure/data").find("secure part"), std::string::npos);
  ASSERT_EQ(secure.Heads().size(), 1u);
  EXPECT_NE(secure.LastHead().find("VTEncryption: SSL"), std::string::npos);
  // HTTP: the HTTPS-only path is not taken; the domain's own target answers.
  EXPECT_NE(httpGet("mixed.test", "/secure/data").find("site"), std::string::npos);
  EXPECT_EQ(secure.Heads().size(), 1u);
  ASSERT_EQ(site.Heads().size(), 1u);
  EXPECT_EQ(site.LastHead().find("VTEncryption"), std::string::npos);
  // The bare path is sent to its folder over the scheme it came with.
  const std::string folder = httpsGet("mixed.test", "/secure");
  EXPECT_NE(folder.find("Location: https://mixed.test/secure/\r\n"), std::string::npos) << folder;
  // HTTPS outside the secure path finds nothing of the mixed domain.
  EXPECT_EQ(httpsGet("mixed.test", "/other").substr(0, 22), "HTTP/1.1 404 Not Found");
  // Forced HTTPS: the plain request is sent to https.
  const std::string redirect = httpGet("forced.test", "/login?x=1");
  EXPECT_EQ(redirect.substr(0, 18), "HTTP/1.1 302 Found") << redirect;
  EXPECT_NE(redirect.find("Location: https://forced.test/login"), std::string::npos) << redirect;
}

// A client that never finishes its handshake is cut at the road's bound (the
// shorter one while every pooled thread is busy), with one event-log line;
// its thread goes back to the pool and serves the next client.
TEST_F(HttpsEngine, SilentHandshakesEndAtTheRoadsBoundAndTheirThreadsReturnToThePool) {
  ScriptedBackend backend(Answer(Ok("hello")));
  const int https = FreePort();
  AddDomain("secure.test", https, backend.Port(), true);
  AddSet(https);
  host_->Limits.HandshakeMs = 300;
  host_->Limits.BusyHandshakeMs = 100;
  ASSERT_EQ(Start(), "Server started");
  const auto silentClientIsCut = [&] {
    tcptest::RawPeer silent(tlstest::ConnectTo("127.0.0.1", https));
    return silent.SeesClose();
  };
  const auto linesWith = [&](const std::string& text) {
    int n = 0;
    for (const std::string& line : EventLog()) n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  };

  EXPECT_TRUE(silentClientIsCut());
  EXPECT_TRUE(WaitUntil([&] { return linesWith("Handshake timed out after 300 ms") == 1; }));
  EXPECT_TRUE(WaitUntil([&] { return host_->HTTPThreadPool->PooledCount() == 1; }));
  {
    TestTlsClient client(https);
    EXPECT_NE(HttpsGet(client, "secure.test", "/").find("hello"), std::string::npos);
  }
  EXPECT_TRUE(WaitUntil([&] { return host_->HTTPThreadPool->PooledCount() == 1; }));

  // No pooled thread to spare: the overload rule holds.
  host_->Stats->PoolSize = 0;
  EXPECT_TRUE(silentClientIsCut());
  EXPECT_TRUE(WaitUntil([&] { return linesWith("Handshake timed out after 100 ms") == 1; }));
  EXPECT_EQ(linesWith("Handshake timed out"), 2);
  EXPECT_EQ(Stop(), "SERVER STOPPED");
}

}  // namespace

namespace {

class HttpsEngineThreads : public HttpsEngine {};

// Several clients with certificates at once through two listeners, then a
// stop while one more client holds its session open without a request.
TEST_F(HttpsEngineThreads, ConcurrentVerifiedClientsThenAStopThatEndsAnOpenSession) {
  ScriptedBackend backend(Answer(Ok("shared")));
  const int first = FreePort();
  const int second = FreePort();
  AddDomain("one.test", first, backend.Port(), true);
  AddDomain("two.test", second, backend.Port(), true);
  AddSet(first)->VerifyFlags = 3;
  AddSet(second)->VerifyFlags = 3;
  ASSERT_EQ(Start(), "Server started");

  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i) {
    clients.emplace_back([&, i] {
      const int port = i % 2 == 0 ? first : second;
      TestTlsClient client(port, Cert("client.pem"), Cert("client.key"));
      for (int r = 0; r < 5; ++r) {
        if (HttpsGet(client, i % 2 == 0 ? "one.test" : "two.test", "/").find("shared") != std::string::npos) {
          ++served;
        }
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(served, 40);

  TestTlsClient idle(first, Cert("client.pem"), Cert("client.key"));
  ASSERT_TRUE(idle.Connected());
  ASSERT_TRUE(WaitUntil([&] { return host_->SSLServers->Items(0)->Server->ActiveThreadCount() == 1; }));
  EXPECT_EQ(Stop(), "SERVER STOPPED");
  EXPECT_EQ(State(), 3);
  EXPECT_FALSE(host_->SSLServers->AnyActive());
  EXPECT_EQ(idle.ReadUntilClose(), "");
}

}  // namespace
