// An outgoing TCP connection: host, port, an optional local address to bind
// to, and a connect with a time-out.
#pragma once

#include <mutex>
#include <string>

#include "platform/TcpConnection.h"

class TcpClient : public TcpConnection {
 public:
  TcpClient() = default;

  // Kept after a disconnect (status texts show the last host). Safe to read
  // from another thread while the owner changes it.
  std::string Host() const;
  void SetHost(std::string host);
  int Port() const noexcept { return port_; }
  void SetPort(int port) noexcept { port_ = port; }
  // Local address (and port, 0 = any) bound before connecting; "" = any.
  const std::string& BoundIP() const noexcept { return boundIP_; }
  void SetBoundIP(std::string ip) { boundIP_ = std::move(ip); }
  int BoundPort() const noexcept { return boundPort_; }
  void SetBoundPort(int port) noexcept { boundPort_ = port; }

  // Connects the calling thread's connection to Host:Port and fires
  // OnConnected. TimeoutMs <= 0 sets no limit of its own (the system's
  // connect limit still applies). Raises EIdAlreadyConnected,
  // EIdConnectTimeout, EIdCouldNotBindSocket (bound address taken) or
  // EIdSocketError (refused, unreachable, unknown host).
  void Connect(int timeoutMs = 0);

 private:
  mutable std::mutex hostMutex_;
  std::string host_;
  int port_ = 0;
  std::string boundIP_;
  int boundPort_ = 0;
};
