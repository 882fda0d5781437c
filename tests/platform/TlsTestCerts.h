// Certificates, keys and a TLS client for tests: EC keys and X.509
// certificates made through OpenSSL, written as PEM, and a blocking client
// that handshakes over loopback.
#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/TlsContext.h"
#include "tests/platform/TcpTestSupport.h"

namespace tlstest {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* x) const { X509_free(x); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

inline Key NewKey() { return Key(EVP_EC_gen("P-256")); }

inline void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// Signed by Issuer (or by itself when Issuer is null).
inline Cert NewCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, bool ca) {
  static std::atomic<long> serial{1};
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

inline void WriteCert(const std::filesystem::path& path, X509* cert) {
  FILE* f = std::fopen(path.c_str(), "w");
  PEM_write_X509(f, cert);
  std::fclose(f);
}

// Encrypted with Password unless it is empty.
inline void WriteKey(const std::filesystem::path& path, EVP_PKEY* key, const std::string& password) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (password.empty()) {
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  } else {
    PEM_write_PrivateKey(f, key, EVP_aes_256_cbc(), reinterpret_cast<const unsigned char*>(password.data()),
                         static_cast<int>(password.size()), nullptr, nullptr);
  }
  std::fclose(f);
}

// A CA, a server certificate ("localhost") with a key encrypted by
// "secret", a client certificate from the CA and one from nobody
// ("rogue"), all PEM: ca.pem, server.pem/.key, client.pem/.key,
// rogue.pem/.key. Without a folder they go into a temporary one that is
// removed again; a given folder is created and left to its owner.
class TlsFiles {
 public:
  explicit TlsFiles(std::filesystem::path dir = {}) {
    if (dir.empty()) {
      std::string tmpl = (std::filesystem::temp_directory_path() / "tlstest-XXXXXX").string();
      dir_ = ::mkdtemp(tmpl.data());
      owned_ = true;
    } else {
      dir_ = std::move(dir);
      std::filesystem::create_directories(dir_);
    }
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
    if (owned_) std::filesystem::remove_all(dir_, ignored);
  }
  TlsFiles(const TlsFiles&) = delete;
  TlsFiles& operator=(const TlsFiles&) = delete;

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  TlsServerOptions ServerOptions() const {
    TlsServerOptions o;
    o.rootCertificateFile = Path("ca.pem");
    o.certificateFile = Path("server.pem");
    o.keyFile = Path("server.key");
    return o;
  }

 private:
  std::filesystem::path dir_;
  bool owned_ = false;
};

// A blocking socket connected to Ip:Port (invalid when the connect failed).
inline SocketHandle ConnectTo(const std::string& ip, int port) {
  SocketHandle s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, ip.c_str(), &sa.sin_addr) != 1 ||
      ::connect(s.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    s.Reset();
  }
  return s;
}

// A blocking OpenSSL client over loopback; it does not check the server's
// certificate. Cert and Key: the client's own certificate, if any.
class TestTlsClient {
 public:
  explicit TestTlsClient(int port, const std::string& cert = "", const std::string& key = "",
                         const std::string& ip = "127.0.0.1")
      : ctx_(SSL_CTX_new(TLS_client_method())), socket_(ConnectTo(ip, port)) {
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
  TestTlsClient(const TestTlsClient&) = delete;
  TestTlsClient& operator=(const TestTlsClient&) = delete;

  bool Connected() const { return connected_; }
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
  // Everything until the server ends the session (at most 5 s a read).
  std::string ReadUntilClose() { return Read(static_cast<size_t>(-1) / 2); }
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

}  // namespace tlstest
