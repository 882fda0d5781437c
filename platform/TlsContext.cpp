#include "platform/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TcpErrors.h"

namespace {

// The first queued OpenSSL error as text, and the queue cleared.
std::string SslReason() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "";
  char buf[256];
  ERR_error_string_n(code, buf, sizeof buf);
  return buf;
}

std::string WithReason(const char* text, const std::string& reason) {
  return reason.empty() ? std::string(text) : std::string(text) + " " + reason;
}

// Runs TLS over an accepted socket. The plain transport underneath owns the
// descriptor and gives the waits and the shutdown.
class TlsTransport : public Transport {
 public:
  TlsTransport(SocketHandle socket, SSL* ssl) : lower_(std::move(socket)), ssl_(ssl) {
    SSL_set_fd(ssl_, lower_.Handle());
    SSL_set_accept_state(ssl_);
  }

  ~TlsTransport() override {
    // A close_notify when the session is sound; never after a fatal error.
    if (established_ && !failed_) {
      ERR_clear_error();
      SSL_shutdown(ssl_);
    }
    SSL_free(ssl_);
    ERR_clear_error();
  }

  WaitResult Handshake(int timeoutMs, const StopCheck& stop) override {
    Deadline deadline(timeoutMs);
    for (;;) {
      ERR_clear_error();
      errno = 0;
      int rc = SSL_do_handshake(ssl_);
      int savedErrno = errno;
      if (rc == 1) {
        established_ = true;
        return WaitResult::Ready;
      }
      int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        WaitResult waited = WaitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, stop);
        if (waited != WaitResult::Ready) return waited;
        continue;
      }
      failed_ = true;
      if (error == SSL_ERROR_ZERO_RETURN) throw EIdConnClosedGracefully();
      if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        if (savedErrno == 0) throw EIdConnClosedGracefully();
        RaiseSocketError(savedErrno);
      }
      std::string reason = SslReason();
      long verify = SSL_get_verify_result(ssl_);
      if (verify != X509_V_OK) reason += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
      throw EIdOSSLAcceptError(WithReason("Error accepting connection with SSL.", reason));
    }
  }

  long Receive(char* buf, size_t len, int timeoutMs, const StopCheck& stop) override {
    Deadline deadline(timeoutMs);
    for (;;) {
      ERR_clear_error();
      errno = 0;
      size_t got = 0;
      int rc = SSL_read_ex(ssl_, buf, len, &got);
      int savedErrno = errno;
      if (rc == 1) return static_cast<long>(got);
      int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        WaitResult waited = WaitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, stop);
        if (waited == WaitResult::TimedOut) return kTimedOut;
        if (waited == WaitResult::Stopped) return kStopped;
        continue;
      }
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      RaiseFailure(error, savedErrno);
    }
  }

  WaitResult SendAll(const char* buf, size_t len, int timeoutMs, const StopCheck& stop) override {
    while (len > 0) {
      ERR_clear_error();
      errno = 0;
      size_t sent = 0;
      int rc = SSL_write_ex(ssl_, buf, len, &sent);
      int savedErrno = errno;
      if (rc == 1) {
        buf += sent;
        len -= sent;
        continue;
      }
      int error = SSL_get_error(ssl_, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        // Each wait gets the whole time-out: it bounds a pause, not the send.
        Deadline deadline(timeoutMs);
        WaitResult waited = WaitFor(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, stop);
        if (waited != WaitResult::Ready) return waited;
        continue;
      }
      if (error == SSL_ERROR_ZERO_RETURN) RaiseSocketError(EPIPE);
      RaiseFailure(error, savedErrno);
    }
    return WaitResult::Ready;
  }

  size_t Pending() const override { return static_cast<size_t>(std::max(SSL_pending(ssl_), 0)); }
  void Shutdown() noexcept override { lower_.Shutdown(); }
  int Handle() const noexcept override { return lower_.Handle(); }

 private:
  WaitResult WaitFor(short events, const Deadline& deadline, const StopCheck& stop) {
    int left = deadline.RemainingMs();
    if (left == 0) return WaitResult::TimedOut;
    return WaitSocket(lower_.Handle(), events, left, stop);
  }

  [[noreturn]] void RaiseFailure(int error, int savedErrno) {
    failed_ = true;
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
      // The socket failed under TLS; an end of file here is a reset.
      RaiseSocketError(savedErrno != 0 ? savedErrno : ECONNRESET);
    }
    throw EIdSocketError(EPROTO, WithReason("TLS error:", SslReason()));
  }

  PlainTransport lower_;
  SSL* ssl_;
  bool established_ = false;
  bool failed_ = false;
};

}  // namespace

TlsContext::TlsContext() { IgnoreSigPipe(); }

TlsContext::~TlsContext() {
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);
}

int TlsContext::PasswordCallback(char* buf, int size, int /*rwflag*/, void* userdata) {
  auto* self = static_cast<TlsContext*>(userdata);
  if (!self->onGetPassword_ || size <= 0) return 0;
  try {
    std::string password = self->onGetPassword_();
    int len = static_cast<int>(std::min<size_t>(password.size(), static_cast<size_t>(size)));
    std::memcpy(buf, password.data(), static_cast<size_t>(len));
    return len;
  } catch (...) {
    return 0;  // nothing may escape into OpenSSL
  }
}

int TlsContext::VerifyCallback(int preverifyOk, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = ssl != nullptr ? static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))) : nullptr;
  X509* cert = X509_STORE_CTX_get_current_cert(store);
  if (self != nullptr && self->onVerifyPeer_ && cert != nullptr) {
    char subject[512] = {};
    X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
    try {
      self->onVerifyPeer_(subject);
    } catch (...) {
      // The verdict stays OpenSSL's; a failing logger changes nothing.
    }
  }
  return preverifyOk;
}

void TlsContext::Init() {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) throw EIdOSSLCreatingContextError(WithReason("Error creating SSL context.", SslReason()));
  // Freed unless it replaces the current context at the end.
  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> guard(ctx, SSL_CTX_free);
  SSL_CTX_set_app_data(ctx, this);
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_default_passwd_cb(ctx, &TlsContext::PasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(ctx, this);
  static const unsigned char kSessionContext[] = "TcpServer";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);

  const TlsServerOptions& o = options_;
  if (!o.rootCertificateFile.empty()) {
    if (SSL_CTX_load_verify_locations(ctx, o.rootCertificateFile.c_str(), nullptr) != 1) {
      throw EIdOSSLLoadingRootCertError(WithReason("Could not load root certificate.", SslReason()));
    }
    // Tells clients which authorities their certificate may come from.
    if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(o.rootCertificateFile.c_str())) {
      SSL_CTX_set_client_CA_list(ctx, names);
    }
    ERR_clear_error();
  }
  if (!o.certificateFile.empty() && SSL_CTX_use_certificate_chain_file(ctx, o.certificateFile.c_str()) != 1) {
    throw EIdOSSLLoadingCertError(WithReason("Could not load certificate.", SslReason()));
  }
  if (!o.keyFile.empty()) {
    if (SSL_CTX_use_PrivateKey_file(ctx, o.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        (!o.certificateFile.empty() && SSL_CTX_check_private_key(ctx) != 1)) {
      throw EIdOSSLLoadingKeyError(WithReason("Could not load key, check password.", SslReason()));
    }
  }
  if (!o.cipherList.empty() && SSL_CTX_set_cipher_list(ctx, o.cipherList.c_str()) != 1) {
    throw EIdOSSLSettingCipherError(WithReason("SetCipher failed.", SslReason()));
  }
  int mode = SSL_VERIFY_NONE;
  if (o.verify.verifyPeer) {
    mode = SSL_VERIFY_PEER;
    if (o.verify.failIfNoPeerCert) mode |= SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
    if (o.verify.clientOnce) mode |= SSL_VERIFY_CLIENT_ONCE;
  }
  SSL_CTX_set_verify(ctx, mode, &TlsContext::VerifyCallback);
  SSL_CTX_set_verify_depth(ctx, o.verifyDepth);

  std::lock_guard<std::mutex> lock(mutex_);
  if (ctx_ != nullptr) SSL_CTX_free(ctx_);  // sessions hold their own reference
  ctx_ = guard.release();
}

bool TlsContext::Initialized() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ctx_ != nullptr;
}

std::unique_ptr<Transport> TlsContext::NewServerTransport(SocketHandle socket) {
  SSL* ssl = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ctx_ == nullptr) throw EIdOSSLCreatingContextError("Error creating SSL context.");
    ERR_clear_error();
    ssl = SSL_new(ctx_);
  }
  if (ssl == nullptr) throw EIdOSSLCreatingContextError(WithReason("Error creating SSL context.", SslReason()));
  return std::make_unique<TlsTransport>(std::move(socket), ssl);
}
