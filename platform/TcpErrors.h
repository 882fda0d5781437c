// The TCP layer's exception classes. Their names are part of the program's
// output (log lines carry ClassName()), so they keep the framework's names.
#pragma once

#include <exception>
#include <string>

#include "platform/SysUtils.h"

VT_DECLARE_EXCEPTION(EIdException, Exception);
// Ends a connection without being worth a log line.
VT_DECLARE_EXCEPTION(EIdSilentException, EIdException);
VT_DECLARE_FIXED_EXCEPTION(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.");
VT_DECLARE_FIXED_EXCEPTION(EIdReadTimeout, EIdException, "Read Timeout");
VT_DECLARE_FIXED_EXCEPTION(EIdClosedSocket, EIdException, "Disconnected.");
VT_DECLARE_FIXED_EXCEPTION(EIdConnectTimeout, EIdException, "Connect timed out.");
VT_DECLARE_FIXED_EXCEPTION(EIdAlreadyConnected, EIdException, "Already connected.");
VT_DECLARE_FIXED_EXCEPTION(EIdCouldNotBindSocket, EIdException,
                           "Could not bind socket. Address and port are already in use.");
VT_DECLARE_FIXED_EXCEPTION(EIdMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
VT_DECLARE_FIXED_EXCEPTION(EIdTerminateThreadTimeout, EIdException, "Terminate Thread Timeout");

// A failed socket call. LastError is the errno value; the message reads
// "Socket Error # <code>" CR LF <description>.
class EIdSocketError : public EIdException {
 public:
  explicit EIdSocketError(int lastError);
  EIdSocketError(int lastError, const std::string& description);
  int LastError() const noexcept { return lastError_; }
  const char* ClassName() const noexcept override { return "EIdSocketError"; }

 private:
  int lastError_;
};

// TLS failures. The OpenSSL reason follows the fixed text.
VT_DECLARE_EXCEPTION(EIdOpenSSLError, EIdException);
VT_DECLARE_EXCEPTION(EIdOSSLCreatingContextError, EIdOpenSSLError);
VT_DECLARE_EXCEPTION(EIdOSSLLoadingRootCertError, EIdOpenSSLError);
VT_DECLARE_EXCEPTION(EIdOSSLLoadingCertError, EIdOpenSSLError);
VT_DECLARE_EXCEPTION(EIdOSSLLoadingKeyError, EIdOpenSSLError);
VT_DECLARE_EXCEPTION(EIdOSSLSettingCipherError, EIdOpenSSLError);
VT_DECLARE_EXCEPTION(EIdOSSLAcceptError, EIdOpenSSLError);

// Raises EIdSocketError for LastError.
[[noreturn]] void RaiseSocketError(int lastError);

// True for a connection reset by the peer (ECONNRESET, and EPIPE, which is
// how a send to a reset connection reports it).
bool IsConnectionReset(int lastError);
bool IsConnectionReset(const std::exception& e);
