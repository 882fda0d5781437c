// Loopback helpers for the TCP layer's tests: a raw peer socket the test
// drives byte by byte, and bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/Socket.h"
#include "platform/TcpClient.h"
#include "platform/TcpConnection.h"

namespace tcptest {

using namespace std::chrono_literals;

// Polls Pred every millisecond for at most Limit.
template <class Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit = 5000ms) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

inline int PortOf(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A blocking listening socket on 127.0.0.1 and a free port.
inline SocketHandle RawListener(int backlog = 16) {
  SocketHandle s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = Loopback(0);
  ::bind(s.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::listen(s.Get(), backlog);
  return s;
}

// A blocking raw socket connected to 127.0.0.1:Port.
inline SocketHandle RawConnect(int port) {
  SocketHandle s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = Loopback(port);
  if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) s.Reset();
  return s;
}

// The peer side, driven by the test with blocking calls.
class RawPeer {
 public:
  explicit RawPeer(SocketHandle s) : s_(std::move(s)) {
    timeval tv{5, 0};  // no test read may hang
    ::setsockopt(s_.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(s_.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  void Send(const std::string& data) { ::send(s_.Get(), data.data(), data.size(), MSG_NOSIGNAL); }
  // Everything until Count bytes arrived, the peer closed, or 5 s passed.
  std::string Receive(size_t count) {
    std::string out;
    char buf[65536];
    while (out.size() < count) {
      ssize_t n = ::recv(s_.Get(), buf, std::min(sizeof buf, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // Bytes that arrive within Ms (no more than are waiting).
  std::string ReceiveFor(int ms) {
    pollfd p{s_.Get(), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return "";
    char buf[65536];
    ssize_t n = ::recv(s_.Get(), buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  }
  // True once the other side's close is seen (within 5 s).
  bool SeesClose() {
    char c;
    pollfd p{s_.Get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    return ::recv(s_.Get(), &c, 1, MSG_DONTWAIT) <= 0;
  }
  void Close() { s_.Reset(); }
  // Closes with an RST instead of a FIN.
  void Reset() {
    linger l{1, 0};
    ::setsockopt(s_.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s_.Reset();
  }
  int Fd() const { return s_.Get(); }

 private:
  SocketHandle s_;
};

// Data segments a socket has received so far (the kernel's tcp_info goes on
// past the part glibc declares). On loopback one send is one segment.
inline uint32_t DataSegmentsIn(int fd) {
  struct {
    tcp_info base;
    uint64_t pacingRate, maxPacingRate, bytesAcked, bytesReceived;
    uint32_t segsOut, segsIn, notSentBytes, minRtt, dataSegsIn, dataSegsOut;
  } info{};
  socklen_t len = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 || len < sizeof info) return 0;
  return info.dataSegsIn;
}

// A TcpClient connected to a raw peer over loopback.
struct ClientPair {
  std::unique_ptr<TcpClient> client = std::make_unique<TcpClient>();
  std::unique_ptr<RawPeer> peer;

  ClientPair() {
    SocketHandle listener = RawListener();
    client->SetHost("127.0.0.1");
    client->SetPort(PortOf(listener.Get()));
    client->Connect(2000);
    peer = std::make_unique<RawPeer>(SocketHandle(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
  }
};

}  // namespace tcptest
