// Socket basics under the TCP layer: an owned descriptor, IPv4 addresses,
// the one bounded wait every blocking call goes through, and the Transport
// seam a connection reads and writes through (plain TCP here, TLS in
// TlsContext.h).
//
// Time-outs in milliseconds: > 0 waits that long, 0 looks once without
// waiting, < 0 has no time limit. Time-outs are measured on the real
// monotonic clock, never on the program's settable Clock: poll() sleeps in
// real time.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Owns one file descriptor; closes it on destruction.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int fd) : fd_(fd) {}
  ~SocketHandle() { Reset(); }
  SocketHandle(SocketHandle&& other) noexcept : fd_(other.Release()) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept;
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }
  int Release() noexcept;
  void Reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

// SIGPIPE is ignored once per process: OpenSSL writes without MSG_NOSIGNAL,
// and a peer that went away must not end the program.
void IgnoreSigPipe();

// A new non-blocking, close-on-exec IPv4 stream socket with Nagle's algorithm
// off (SetNoDelay); raises EIdSocketError.
SocketHandle NewTcpSocket();
// Turns Nagle's algorithm off: every write of the layer is a whole piece of
// output (a head goes out together with the body bytes at hand), and a short
// piece held back for the peer's delayed ACK costs a request 40 ms.
void SetNoDelay(int fd) noexcept;

// Dotted IPv4 text to an address; "" is the wildcard. False when not an
// address.
bool ParseIPv4(const std::string& ip, in_addr& out);
// An address or host name to an IPv4 address; raises EIdSocketError when the
// name does not resolve. Names go through the system resolver, whose own
// time-outs bound the lookup.
in_addr ResolveIPv4(const std::string& host);
std::string IPv4ToStr(const in_addr& addr);
sockaddr_in MakeSockAddr(const in_addr& addr, int port);

struct SocketAddress {
  std::string ip;
  int port = 0;
};
SocketAddress ToSocketAddress(const sockaddr_in& sa);
SocketAddress LocalAddressOf(int fd);
SocketAddress PeerAddressOf(int fd);

// The machine's own IPv4 addresses, as the interfaces list them.
std::vector<std::string> LocalIPv4Addresses();

// A time limit on the monotonic clock; a negative time-out never expires.
// Only a positive one reads the clock.
class Deadline {
 public:
  explicit Deadline(int timeoutMs);
  // Milliseconds left (0 once passed), or -1 when there is no limit.
  int RemainingMs() const;

 private:
  int timeoutMs_;
  std::chrono::steady_clock::time_point end_;
};

// A deadline that starts at its first RemainingMs(), which answers the whole
// time-out: a call that may finish without waiting (the line is buffered,
// the receive finds bytes) reads no clock. Ask it right before each wait.
class LazyDeadline {
 public:
  explicit LazyDeadline(int timeoutMs) : timeoutMs_(timeoutMs) {}
  int RemainingMs();

 private:
  int timeoutMs_;
  std::optional<Deadline> deadline_;
};

// A stop request that long waits look at in short slices; empty = never.
using StopCheck = std::function<bool()>;

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits until Fd is ready for Events (POLLIN / POLLOUT; an error or hang-up
// counts as ready), the time-out passes, or Stop says so. On the main thread
// with the anti-freeze on, posted tasks run between short slices.
WaitResult WaitSocket(int fd, short events, int timeoutMs, const StopCheck& stop);

// What a connection reads from and writes to. Only the owning thread reads,
// writes and destroys a transport; Shutdown may come from any thread.
class Transport {
 public:
  static constexpr long kTimedOut = -1;
  static constexpr long kStopped = -2;

  virtual ~Transport() = default;
  // One receive of up to Len bytes: the count, 0 when the peer has closed,
  // kTimedOut or kStopped. Raises EIdSocketError on a failure.
  virtual long Receive(char* buf, size_t len, int timeoutMs, const StopCheck& stop) = 0;
  // Sends all of Buf. TimeoutMs bounds each wait for the peer to take more
  // (no progress for that long ends the call). Ready when everything went;
  // raises EIdSocketError on a failure.
  virtual WaitResult SendAll(const char* buf, size_t len, int timeoutMs, const StopCheck& stop) = 0;
  // Sends Head and then Tail as one piece of output, so that a short head
  // never leaves in a segment of its own. The base joins them in a copy.
  virtual WaitResult SendPair(std::string_view head, std::string_view tail, int timeoutMs, const StopCheck& stop);
  // Completes the transport's own opening (the TLS handshake of an accepted
  // connection); a plain transport has none. Raises on a failure.
  virtual WaitResult Handshake(int timeoutMs, const StopCheck& stop) {
    (void)timeoutMs;
    (void)stop;
    return WaitResult::Ready;
  }
  // Bytes already received that Receive hands out without waiting.
  virtual size_t Pending() const = 0;
  // What the socket held right behind the bytes of the last Receive, where
  // the transport looked there in the same call.
  enum class Behind { Unknown, Nothing, Close };
  virtual Behind AfterReceive() const noexcept { return Behind::Unknown; }
  // Ends both directions at once; any thread. Blocked calls on the owning
  // thread return; the descriptor stays open until the transport dies, so it
  // can never be reused under a running call.
  virtual void Shutdown() noexcept = 0;
  virtual int Handle() const noexcept = 0;
};

class PlainTransport : public Transport {
 public:
  // LookBehind: each receive that brings bytes also looks, without waiting
  // and in the same system call, at what follows them, so that a close that
  // came with the last bytes is known at once (AfterReceive).
  explicit PlainTransport(SocketHandle socket, bool lookBehind = false)
      : socket_(std::move(socket)), lookBehind_(lookBehind) {}
  long Receive(char* buf, size_t len, int timeoutMs, const StopCheck& stop) override;
  WaitResult SendAll(const char* buf, size_t len, int timeoutMs, const StopCheck& stop) override;
  // One sendmsg of both parts, without joining them.
  WaitResult SendPair(std::string_view head, std::string_view tail, int timeoutMs, const StopCheck& stop) override;
  size_t Pending() const override { return 0; }
  void Shutdown() noexcept override;
  int Handle() const noexcept override { return socket_.Get(); }
  Behind AfterReceive() const noexcept override { return behind_; }

 private:
  // One receive (recv's result and errno), with the look behind it when
  // asked for.
  ssize_t ReceiveOnce(char* buf, size_t len, int flags);
  // The main thread's waits (they run posted tasks) and looks without
  // waiting: a receive after a poll.
  long ReceiveAfterPoll(char* buf, size_t len, int timeoutMs, const StopCheck& stop);
  // Puts the socket in blocking mode (once) with Ms as its receive limit.
  void SetReceiveWait(int ms);

  SocketHandle socket_;
  const bool lookBehind_;
  Behind behind_ = Behind::Unknown;
  // The last receive found nothing: a wait then polls before it receives,
  // which saves the receive that would only find nothing again.
  bool wouldBlock_ = false;
  bool blocking_ = false;
  int receiveWaitMs_ = -1;  // SO_RCVTIMEO as last set; -1: never set
};
