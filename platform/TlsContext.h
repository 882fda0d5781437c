// TLS for accepted connections over OpenSSL 3: a server context built from
// certificate, key (with a password callback), CA file, cipher list and
// verify mode, and the Transport that runs TLS over an accepted socket.
// Connections read, write and time out exactly as plain ones do.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Socket.h"

struct ssl_ctx_st;

struct TlsVerifyMode {
  bool verifyPeer = false;        // ask for a client certificate and check it
  bool failIfNoPeerCert = false;  // with verifyPeer: refuse a client without one
  bool clientOnce = false;        // with verifyPeer: ask only at the first handshake
};

struct TlsServerOptions {
  std::string rootCertificateFile;  // CA certificates (PEM) for client checks
  std::string certificateFile;      // the server's certificate (PEM, chain allowed)
  std::string keyFile;              // its private key (PEM, may be encrypted)
  std::string cipherList;           // OpenSSL cipher string; "" keeps OpenSSL's
  TlsVerifyMode verify;
  int verifyDepth = 8;
};

class TlsContext {
 public:
  TlsContext();
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // Take effect at the next Init.
  void SetOptions(TlsServerOptions options) { options_ = std::move(options); }
  const TlsServerOptions& Options() const noexcept { return options_; }
  // Gives the private key's password; runs while Init loads the key.
  void SetOnGetPassword(std::function<std::string()> fn) { onGetPassword_ = std::move(fn); }
  // Runs on the peer thread during a handshake, once for each certificate
  // of the client's chain, with its subject in OpenSSL's one-line form
  // ("/C=DE/O=.../CN=..."). The handshake follows OpenSSL's own verdict.
  void SetOnVerifyPeer(std::function<void(const std::string& subject)> fn) { onVerifyPeer_ = std::move(fn); }

  // Builds the context from the options (the negotiating server method).
  // Raises EIdOSSLCreatingContextError, EIdOSSLLoadingRootCertError,
  // EIdOSSLLoadingCertError, EIdOSSLLoadingKeyError (also a wrong password)
  // or EIdOSSLSettingCipherError; the previous context stays then.
  void Init();
  bool Initialized() const;

  // A TLS transport over an accepted socket; its Handshake accepts the
  // client. Raises EIdOSSLCreatingContextError before Init.
  std::unique_ptr<Transport> NewServerTransport(SocketHandle socket);

 private:
  static int PasswordCallback(char* buf, int size, int rwflag, void* userdata);
  static int VerifyCallback(int preverifyOk, struct x509_store_ctx_st* store);

  TlsServerOptions options_;
  std::function<std::string()> onGetPassword_;
  std::function<void(const std::string&)> onVerifyPeer_;
  mutable std::mutex mutex_;  // guards ctx_: servers sharing it may initialise it again
  ssl_ctx_st* ctx_ = nullptr;
};
