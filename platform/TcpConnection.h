// One TCP (or TLS) connection: an input buffer with line and block reads, a
// write buffer, the connected / disconnected events and the socket's
// addresses.
//
// Threads: one owning flow (Flow.h: a fiber or an OS thread) reads, writes
// and connects (the worker of an accepted connection, the flow that called
// Connect for a client). Any thread may call Disconnect and KnownConnected:
// from another flow a Disconnect only shuts the socket down, so a blocked
// call of the owner returns at once, and the descriptor is closed later by
// the owner, never under a running call.
//
// Time-out arguments: kUseReadTimeout takes the ReadTimeout property, whose
// 0 means no limit; otherwise > 0 waits that long, 0 looks once, < 0 waits
// without limit. A wait without limit still ends when the connection is
// disconnected from another thread, or when the stop check says so.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Flow.h"
#include "platform/Socket.h"

class TcpConnection {
 public:
  static constexpr int kUseReadTimeout = -2;
  static constexpr int kNoTimeout = -1;
  static constexpr int kUseMaxLineLength = -1;
  static constexpr int kDefaultMaxLineLength = 16384;

  // Addresses the caller already has from its accept or connect; one left
  // empty is asked of the socket when first wanted.
  struct Endpoints {
    std::optional<SocketAddress> peer;
    std::optional<SocketAddress> local;
  };

  // A connection that is not connected (a client before Connect).
  TcpConnection();
  // An accepted connection: connected, owned by the calling thread until
  // SetOwnerThread moves it.
  explicit TcpConnection(std::unique_ptr<Transport> transport, Endpoints known = {});
  // Closes without firing OnDisconnected.
  virtual ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // ---------------------------------------------------------------- state
  // Owning thread. False after Disconnect, or once the peer has closed and
  // every byte it sent has been read. With nothing buffered it looks at the
  // socket without waiting, so a peer's close is noticed without a read; a
  // look that found nothing waiting answers for the next kQuietReuse, unless
  // a receive came in between (callers ask before and after each block, and
  // a peer may close right after any look anyway).
  bool Connected();
  static constexpr std::chrono::microseconds kQuietReuse{1000};
  // Any thread: the last known state, without looking at the socket.
  bool KnownConnected() const noexcept;
  // The peer's close (or reset) has been seen.
  bool ClosedGracefully() const noexcept { return peerClosed_; }
  // Any thread; idempotent. Fires OnDisconnected once, and only when the
  // connection was connected. Buffered input and output are dropped.
  void Disconnect();

  // -------------------------------------------------------------- reading
  // A line up to Terminator (LF by default, a CR before it is dropped). On a
  // time-out returns "" with ReadLnTimedOut() true and keeps the partial
  // line buffered for the next call. A line longer than MaxLineLength (0 =
  // no limit) raises EIdMaxLineLengthExceeded; the peer's close before the
  // terminator raises EIdConnClosedGracefully.
  std::string ReadLn(std::string_view terminator = "\n", int timeoutMs = kUseReadTimeout,
                     int maxLineLength = kUseMaxLineLength);
  // The same into Line, whose storage is reused: a reader that keeps its
  // string reads line after line without allocating.
  void ReadLnInto(std::string& line, std::string_view terminator = "\n", int timeoutMs = kUseReadTimeout,
                  int maxLineLength = kUseMaxLineLength);
  bool ReadLnTimedOut() const noexcept { return readLnTimedOut_; }
  // Exactly Len bytes. ReadTimeout bounds each wait for more; on
  // EIdReadTimeout the bytes that did arrive stay buffered.
  void ReadBuffer(void* buf, size_t len);
  std::string ReadString(size_t len);
  // One attempt to receive new bytes into the input buffer within the
  // time-out (it waits even when bytes are already buffered); returns the
  // bytes added. A time-out or the peer's close is no error (0 is returned;
  // the close shows in Connected); a reset raises EIdSocketError.
  int ReadFromStack(int timeoutMs = kUseReadTimeout);
  // Bytes that can be read without waiting (TLS data already decrypted
  // included).
  size_t InputBufferSize() const;
  // A whole line (up to LF) is buffered: ReadLn returns it without waiting.
  bool LineBuffered() const noexcept;

  // -------------------------------------------------------------- writing
  // Sends everything or raises: EIdClosedSocket when not connected,
  // EIdSocketError when the send fails or WriteTimeout passes without
  // progress. With the write buffer open the bytes are collected instead.
  void Write(std::string_view data);
  void WriteBuffer(const void* buf, size_t len);
  // Collects writes; a write that brings the collection to Threshold bytes
  // (> 0) sends it together with the collected bytes, in one send. A head
  // written into an open buffer thus leaves with the first body block.
  void OpenWriteBuffer(int threshold = -1);
  // Sends what is collected and stops collecting.
  void CloseWriteBuffer();
  void FlushWriteBuffer();
  // Drops what is collected and stops collecting.
  void CancelWriteBuffer();
  bool WriteBufferOpen() const noexcept { return writeBufferOpen_; }
  size_t WriteBufferSize() const noexcept { return out_.size(); }

  // ----------------------------------------------------------- properties
  int ReadTimeout() const noexcept { return readTimeout_; }
  void SetReadTimeout(int ms) noexcept { readTimeout_ = ms; }
  int MaxLineLength() const noexcept { return maxLineLength_; }
  void SetMaxLineLength(int length) noexcept { maxLineLength_ = length; }
  // Longest wait (ms) for the peer to take more output; 0 = no limit.
  int WriteTimeout() const noexcept { return writeTimeout_; }
  void SetWriteTimeout(int ms) noexcept { writeTimeout_ = ms; }
  // Looked at every few hundred milliseconds while a read, write or connect
  // waits; when it says stop, the connection is disconnected and the call
  // raises EIdClosedSocket (ReadFromStack returns 0).
  void SetStopCheck(StopCheck stop) { stop_ = std::move(stop); }

  // Addresses of the current connection, dotted IPv4; of the last one once
  // it is closed, where they were asked for (or known) while it was open.
  std::string PeerIP() const;
  int PeerPort() const;
  std::string LocalIP() const;
  int LocalPort() const;

  // Events; set them from the owning thread. OnDisconnected may run on the
  // thread that calls Disconnect.
  void SetOnConnected(std::function<void()> fn);
  void SetOnDisconnected(std::function<void()> fn);

  // Moves ownership to the calling flow (the worker that serves it).
  void SetOwnerThread();

 protected:
  // Connects the connection to Transport (owning thread) and fires
  // OnConnected.
  void AttachTransport(std::unique_ptr<Transport> transport, Endpoints known = {});
  Transport* CurrentTransport() const noexcept { return transport_.get(); }
  const StopCheck& Stop() const noexcept { return stop_; }

 private:
  friend class PeerThread;  // runs the handshake of an accepted connection
  WaitResult Handshake(int timeoutMs, const StopCheck& stop);

  int EffectiveTimeout(int timeoutMs) const;
  // One receive into the input buffer. Returns the count, 0 at the peer's
  // close, or Transport::kTimedOut; a stop disconnects and raises.
  long ReceiveMore(int timeoutMs);
  void RequireOpenForRead();
  void Consume(size_t len);
  size_t Buffered() const noexcept { return in_.size() - inHead_; }
  void SendNow(const char* buf, size_t len);
  void SendPairNow(std::string_view head, std::string_view tail);
  void CloseTransport();
  void RaiseStopped();

  mutable std::mutex mutex_;  // guards transport_ replacement and shutdown, events
  std::unique_ptr<Transport> transport_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> peerClosed_{false};
  std::atomic<FlowId> owner_{nullptr};

  std::string in_;
  size_t inHead_ = 0;
  size_t scanFrom_ = 0;  // where the next terminator search starts
  bool readLnTimedOut_ = false;
  // A look without waiting found nothing at quietAt_, and nothing was
  // received since.
  bool quiet_ = false;
  std::chrono::steady_clock::time_point quietAt_{};

  std::string out_;
  bool writeBufferOpen_ = false;
  int writeThreshold_ = -1;

  int readTimeout_ = 0;
  int maxLineLength_ = kDefaultMaxLineLength;
  int writeTimeout_ = 0;
  StopCheck stop_;

  // Looked up when first asked for (under mutex_): most connections only
  // ever want the local one, when their listener's address leaves it open.
  const SocketAddress& Address(std::optional<SocketAddress>& slot, SocketAddress (*lookUp)(int)) const;
  mutable std::optional<SocketAddress> peer_;
  mutable std::optional<SocketAddress> local_;

  std::function<void()> onConnected_;
  std::function<void()> onDisconnected_;
};
