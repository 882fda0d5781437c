#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/AntiFreeze.h"
#include "platform/FiberRuntime.h"
#include "platform/Flow.h"
#include "platform/TcpErrors.h"

namespace {
// How often a wait without a near limit looks at its stop request.
constexpr int kStopSliceMs = 250;
}  // namespace

// ------------------------------------------------------------ SocketHandle
SocketHandle& SocketHandle::operator=(SocketHandle&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int SocketHandle::Release() noexcept {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void SocketHandle::Reset(int fd) noexcept {
  if (fd_ >= 0) {
    FiberForgetFd(fd_);
    ::close(fd_);
  }
  fd_ = fd;
}

// ----------------------------------------------------------------- helpers
void IgnoreSigPipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

SocketHandle NewTcpSocket() {
  IgnoreSigPipe();
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) RaiseSocketError(errno);
  // Set once here: a listener's accepted sockets inherit it from the
  // listener, so no connection pays a system call of its own for it.
  SetNoDelay(fd);
  return SocketHandle(fd);
}

void SetNoDelay(int fd) noexcept {
  const int on = 1;
  if (fd >= 0) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool ParseIPv4(const std::string& ip, in_addr& out) {
  if (ip.empty()) {
    out.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return ::inet_pton(AF_INET, ip.c_str(), &out) == 1;
}

in_addr ResolveIPv4(const std::string& host) {
  in_addr addr{};
  if (!host.empty() && ParseIPv4(host, addr)) return addr;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = 0;
  // The resolver blocks without a descriptor to wait on: a fiber hands it to
  // a helper thread rather than stall its carrier.
  RunBlocking([&] { rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result); });
  if (rc != 0 || result == nullptr) {
    throw EIdSocketError(EHOSTUNREACH, std::string(::gai_strerror(rc)) + ": " + host);
  }
  addr = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
  ::freeaddrinfo(result);
  return addr;
}

std::string IPv4ToStr(const in_addr& addr) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &addr, buf, sizeof buf);
  return buf;
}

sockaddr_in MakeSockAddr(const in_addr& addr, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = addr;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  return sa;
}

SocketAddress ToSocketAddress(const sockaddr_in& sa) { return {IPv4ToStr(sa.sin_addr), ntohs(sa.sin_port)}; }

SocketAddress LocalAddressOf(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
  return ToSocketAddress(sa);
}

SocketAddress PeerAddressOf(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
  return ToSocketAddress(sa);
}

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> result;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return result;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    std::string ip = IPv4ToStr(reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr);
    if (std::find(result.begin(), result.end(), ip) == result.end()) result.push_back(ip);
  }
  ::freeifaddrs(list);
  return result;
}

// ---------------------------------------------------------------- Deadline
Deadline::Deadline(int timeoutMs) : timeoutMs_(timeoutMs) {
  if (timeoutMs > 0) end_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

int Deadline::RemainingMs() const {
  if (timeoutMs_ <= 0) return timeoutMs_ < 0 ? -1 : 0;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 0x7fffffff)) : 0;
}

int LazyDeadline::RemainingMs() {
  if (deadline_) return deadline_->RemainingMs();
  deadline_.emplace(timeoutMs_);
  return timeoutMs_ < 0 ? -1 : timeoutMs_;
}

// -------------------------------------------------------------- WaitSocket
WaitResult WaitSocket(int fd, short events, int timeoutMs, const StopCheck& stop) {
  LazyDeadline deadline(timeoutMs);
  // On a fiber the wait parks it on its carrier's epoll set; a look without
  // waiting stays a plain poll.
  const bool fiber = OnFiber();
  for (;;) {
    int slice = deadline.RemainingMs();
    bool pump = !fiber && AntiFreeze::Applies();
    if (stop && (slice < 0 || slice > kStopSliceMs)) slice = kStopSliceMs;
    if (pump && (slice < 0 || slice > AntiFreeze::IdleTimeOutMs())) slice = AntiFreeze::IdleTimeOutMs();
    if (fiber && slice != 0) {
      if (FiberWaitFd(fd, events, slice)) return WaitResult::Ready;
    } else {
      pollfd p{fd, events, 0};
      int rc = ::poll(&p, 1, slice);
      if (rc > 0) return WaitResult::Ready;
      if (rc < 0 && errno != EINTR) RaiseSocketError(errno);
    }
    if (pump) AntiFreeze::Pump();
    if (stop && stop()) return WaitResult::Stopped;
    if (deadline.RemainingMs() == 0) return WaitResult::TimedOut;
  }
}

// --------------------------------------------------------------- Transport
WaitResult Transport::SendPair(std::string_view head, std::string_view tail, int timeoutMs, const StopCheck& stop) {
  std::string joined;
  joined.reserve(head.size() + tail.size());
  joined.append(head).append(tail);
  return SendAll(joined.data(), joined.size(), timeoutMs, stop);
}

// ---------------------------------------------------------- PlainTransport
long PlainTransport::Receive(char* buf, size_t len, int timeoutMs, const StopCheck& stop) {
  // A fiber never blocks in the kernel: its wait parks it on the carrier.
  if (timeoutMs == 0 || AntiFreeze::Applies() || OnFiber()) return ReceiveAfterPoll(buf, len, timeoutMs, stop);
  // A wait is the receive itself: a blocking recv bounded by SO_RCVTIMEO
  // takes one call where a poll and a receive take two. Sends and looks
  // without waiting pass MSG_DONTWAIT, so only this call ever blocks.
  Deadline deadline(timeoutMs);
  for (;;) {
    int slice = deadline.RemainingMs();
    if (stop && (slice < 0 || slice > kStopSliceMs)) slice = kStopSliceMs;
    if (slice == 0) return ReceiveAfterPoll(buf, len, 0, stop);
    SetReceiveWait(slice);
    ssize_t n = ReceiveOnce(buf, len, 0);
    if (n >= 0) {
      wouldBlock_ = false;
      return static_cast<long>(n);
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
    if (stop && stop()) return kStopped;
    if (deadline.RemainingMs() == 0) return kTimedOut;
  }
}

ssize_t PlainTransport::ReceiveOnce(char* buf, size_t len, int flags) {
  behind_ = Behind::Unknown;
  if (!lookBehind_ || len < 2) return ::recv(socket_.Get(), buf, len, flags);
  // The bytes into all but the last place, then one more receive that never
  // waits (MSG_WAITFORONE) into the last: it finds nothing, the close, or a
  // byte that came right behind.
  iovec parts[2] = {{buf, len - 1}, {buf + len - 1, 1}};
  mmsghdr messages[2]{};
  for (int i = 0; i < 2; ++i) {
    messages[i].msg_hdr.msg_iov = &parts[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  const int got = ::recvmmsg(socket_.Get(), messages, 2, flags | MSG_WAITFORONE, nullptr);
  if (got <= 0) return got;
  const size_t first = messages[0].msg_len;
  if (first == 0) return 0;
  if (got == 1) {
    // The look behind failed: nothing there (a failure of its own stays on
    // the socket for the next receive).
    behind_ = Behind::Nothing;
    return static_cast<ssize_t>(first);
  }
  if (messages[1].msg_len == 0) {
    behind_ = Behind::Close;
    return static_cast<ssize_t>(first);
  }
  buf[first] = buf[len - 1];  // first <= len - 1
  return static_cast<ssize_t>(first + 1);
}

void PlainTransport::SetReceiveWait(int ms) {
  if (!blocking_) {
    int off = 0;
    if (::ioctl(socket_.Get(), FIONBIO, &off) != 0) RaiseSocketError(errno);
    blocking_ = true;
  }
  if (ms < 0) ms = 0;  // SO_RCVTIMEO's 0: no limit
  if (ms == receiveWaitMs_) return;
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  if (::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) RaiseSocketError(errno);
  receiveWaitMs_ = ms;
}

long PlainTransport::ReceiveAfterPoll(char* buf, size_t len, int timeoutMs, const StopCheck& stop) {
  // On a fiber the carrier's epoll set may already know that a look would
  // find nothing: the socket was emptied and no event came since.
  const bool fiber = OnFiber();
  if (timeoutMs == 0 && fiber && FiberKnownQuiet(socket_.Get())) {
    wouldBlock_ = true;
    return kTimedOut;
  }
  LazyDeadline deadline(timeoutMs);
  // A receive that would find nothing is spared: after one that did, and on
  // a fiber whose carrier reports the next bytes anyway (a back end's answer
  // is never there right after its request went out).
  bool waitFirst = timeoutMs != 0 && (wouldBlock_ || (fiber && FiberKnownDrained(socket_.Get())));
  for (;;) {
    if (!waitFirst) {
      ssize_t n = ReceiveOnce(buf, len, MSG_DONTWAIT);
      if (n >= 0) {
        wouldBlock_ = false;
        if (fiber) {
          const bool drained = lookBehind_ ? behind_ != Behind::Unknown : n > 0 && static_cast<size_t>(n) < len;
          FiberNoteReceive(socket_.Get(), drained);
        }
        return static_cast<long>(n);
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
      wouldBlock_ = true;
      if (fiber) FiberNoteReceive(socket_.Get(), true);
    }
    waitFirst = false;
    int left = deadline.RemainingMs();
    if (left == 0) return kTimedOut;
    switch (WaitSocket(socket_.Get(), POLLIN, left, stop)) {
      case WaitResult::Ready: break;
      case WaitResult::TimedOut: return kTimedOut;
      case WaitResult::Stopped: return kStopped;
    }
  }
}

WaitResult PlainTransport::SendAll(const char* buf, size_t len, int timeoutMs, const StopCheck& stop) {
  return SendPair(std::string_view(buf, len), {}, timeoutMs, stop);
}

WaitResult PlainTransport::SendPair(std::string_view head, std::string_view tail, int timeoutMs,
                                    const StopCheck& stop) {
  iovec parts[2] = {{const_cast<char*>(head.data()), head.size()}, {const_cast<char*>(tail.data()), tail.size()}};
  size_t first = 0;  // the first part with bytes left
  while (first < 2) {
    if (parts[first].iov_len == 0) {
      ++first;
      continue;
    }
    msghdr msg{};
    msg.msg_iov = parts + first;
    msg.msg_iovlen = 2 - first;
    ssize_t n = ::sendmsg(socket_.Get(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      for (size_t i = first; i < 2 && n > 0; ++i) {
        const size_t taken = std::min(static_cast<size_t>(n), parts[i].iov_len);
        parts[i].iov_base = static_cast<char*>(parts[i].iov_base) + taken;
        parts[i].iov_len -= taken;
        n -= static_cast<ssize_t>(taken);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) RaiseSocketError(errno);
    WaitResult r = WaitSocket(socket_.Get(), POLLOUT, timeoutMs, stop);
    if (r != WaitResult::Ready) return r;
  }
  return WaitResult::Ready;
}

void PlainTransport::Shutdown() noexcept {
  if (socket_.Valid()) ::shutdown(socket_.Get(), SHUT_RDWR);
}
