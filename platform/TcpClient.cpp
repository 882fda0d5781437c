#include "platform/TcpClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/FiberRuntime.h"
#include "platform/TcpErrors.h"

std::string TcpClient::Host() const {
  std::lock_guard<std::mutex> lock(hostMutex_);
  return host_;
}

void TcpClient::SetHost(std::string host) {
  std::lock_guard<std::mutex> lock(hostMutex_);
  host_ = std::move(host);
}

void TcpClient::Connect(int timeoutMs) {
  if (KnownConnected()) throw EIdAlreadyConnected();
  // A connection the peer closed, or one another thread shut down, is
  // closed here before the new one opens.
  Disconnect();
  in_addr target = ResolveIPv4(Host());
  SocketHandle socket = NewTcpSocket();
  if (!boundIP_.empty() || boundPort_ != 0) {
    in_addr local{};
    if (!ParseIPv4(boundIP_, local)) throw EIdSocketError(EINVAL, "Invalid bound IP: " + boundIP_);
    sockaddr_in sa = MakeSockAddr(local, boundPort_);
    if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      if (errno == EADDRINUSE) throw EIdCouldNotBindSocket();
      RaiseSocketError(errno);
    }
  }
  sockaddr_in sa = MakeSockAddr(target, port_);
  if (::connect(socket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) RaiseSocketError(errno);
    switch (WaitSocket(socket.Get(), POLLOUT, timeoutMs > 0 ? timeoutMs : -1, Stop())) {
      case WaitResult::Ready: break;
      case WaitResult::TimedOut: throw EIdConnectTimeout();
      case WaitResult::Stopped: throw EIdClosedSocket();
    }
    // On a fiber the carrier saw the events that ended the wait: without an
    // error among them the connect succeeded, and asking costs a call.
    if (!FiberKnownNoError(socket.Get())) {
      int error = 0;
      socklen_t len = sizeof error;
      if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) RaiseSocketError(errno);
      if (error != 0) RaiseSocketError(error);
    }
  }
  // A back end's close right behind its response is known with it.
  AttachTransport(std::make_unique<PlainTransport>(std::move(socket), true), {.peer = SocketAddress{IPv4ToStr(target), port_}, .local = {}});
}
