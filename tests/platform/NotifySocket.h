// A datagram socket standing in for systemd's notify socket: a path, or "@"
// for an abstract name.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

class NotifySocket {
 public:
  explicit NotifySocket(const std::string& name) : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0;
    timeval wait{20, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~NotifySocket() { ::close(fd_); }
  bool Bound() const { return bound_; }
  // The next datagram, waiting up to the receive time-out (Wait) or not at all.
  std::string Receive(bool wait = true) {
    char buf[256];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, wait ? 0 : MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  int fd_;
  bool bound_;
};

