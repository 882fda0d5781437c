#include "platform/TlsContext.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TcpErrors.h"
#include "platform/TcpServer.h"
#include "tests/platform/TcpTestSupport.h"

namespace {

using namespace tcptest;
namespace fs = std::filesystem;

// ------------------------------------------------ certificates for the tests
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* x) const { X509_free(x); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key NewKey() { return Key(EVP_EC_gen("P-256")); }

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// Signed by Issuer (or by itself when Issuer is null).
Cert NewCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, bool ca) {
  static long serial = 1;
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                             0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (ca) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256());
  return cert;
}

void WriteCert(const fs::path& path, X509* cert) {
  FILE* f = std::fopen(path.c_str(), "w");
  PEM_write_X509(f, cert);
  std::fclose(f);
}

void WriteKey(const fs::path& path, EVP_PKEY* key, const std::string& password) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (password.empty()) {
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  } else {
    PEM_write_PrivateKey(f, key, EVP_aes_256_cbc(), reinterpret_cast<const unsigned char*>(password.data()),
                         static_cast<int>(password.size()), nullptr, nullptr);
  }
  std::fclose(f);
}

// A CA, a server certificate with an encrypted key, a client certificate
// from the CA and one from nobody, in a temporary folder.
class TlsFiles {
 public:
  TlsFiles() {
    std::string tmpl = (fs::temp_directory_path() / "tlstest-XXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    Key caKey = NewKey();
    Cert ca = NewCert(caKey.get(), "Test CA", nullptr, nullptr, true);
    Key serverKey = NewKey();
    Cert server = NewCert(serverKey.get(), "localhost", ca.get(), caKey.get(), false);
    Key clientKey = NewKey();
    Cert client = NewCert(clientKey.get(), "Test Client", ca.get(), caKey.get(), false);
    Key rogueKey = NewKey();
    Cert rogue = NewCert(rogueKey.get(), "Rogue", nullptr, nullptr, false);
    WriteCert(Path("ca.pem"), ca.get());
    WriteCert(Path("server.pem"), server.get());
    WriteKey(Path("server.key"), serverKey.get(), "secret");
    WriteCert(Path("client.pem"), client.get());
    WriteKey(Path("client.key"), clientKey.get(), "");
    WriteCert(Path("rogue.pem"), rogue.get());
    WriteKey(Path("rogue.key"), rogueKey.get(), "");
  }
  ~TlsFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  TlsServerOptions ServerOptions() const {
    TlsServerOptions o;
    o.rootCertificateFile = Path("ca.pem");
    o.certificateFile = Path("server.pem");
    o.keyFile = Path("server.key");
    return o;
  }

 private:
  fs::path dir_;
};

// --------------------------------------------------- a plain OpenSSL client
class TestTlsClient {
 public:
  explicit TestTlsClient(int port, const std::string& cert = "", const std::string& key = "")
      : ctx_(SSL_CTX_new(TLS_client_method())), socket_(RawConnect(port)) {
    timeval tv{5, 0};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    if (!cert.empty()) {
      SSL_CTX_use_certificate_file(ctx_, cert.c_str(), SSL_FILETYPE_PEM);
      SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM);
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, socket_.Get());
    connected_ = SSL_connect(ssl_) == 1;
  }
  ~TestTlsClient() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    ERR_clear_error();
  }
  bool Write(const std::string& s) { return connected_ && SSL_write(ssl_, s.data(), static_cast<int>(s.size())) > 0; }
  // Count bytes, or fewer when the connection failed or ended.
  std::string Read(size_t count) {
    std::string out;
    char buf[16384];
    while (connected_ && out.size() < count) {
      int n = SSL_read(ssl_, buf, static_cast<int>(std::min(sizeof buf, count - out.size())));
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // Sends Line and expects it back.
  bool Echoes(const std::string& line) { return Write(line + "\n") && Read(line.size() + 2) == line + "\r\n"; }
  void Close() {
    SSL_shutdown(ssl_);
    socket_.Reset();
  }

 private:
  SSL_CTX* ctx_;
  SocketHandle socket_;
  SSL* ssl_ = nullptr;
  bool connected_ = false;
};

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
