#include "platform/TcpErrors.h"

#include <cerrno>
#include <cstring>

namespace {
std::string ErrorText(int code) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not be in buf.
  return strerror_r(code, buf, sizeof buf);
}
}  // namespace

EIdSocketError::EIdSocketError(int lastError) : EIdSocketError(lastError, ErrorText(lastError)) {}

EIdSocketError::EIdSocketError(int lastError, const std::string& description)
    : EIdException(Format("Socket Error # %d", lastError) + "\r\n" + description), lastError_(lastError) {}

void RaiseSocketError(int lastError) { throw EIdSocketError(lastError); }

bool IsConnectionReset(int lastError) { return lastError == ECONNRESET || lastError == EPIPE; }

bool IsConnectionReset(const std::exception& e) {
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&e);
  return socketError != nullptr && IsConnectionReset(socketError->LastError());
}
