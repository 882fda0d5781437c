#include "platform/TcpConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/TcpErrors.h"

namespace {
constexpr size_t kReceiveChunk = 32768;
// Consumed input is dropped from the front of the buffer only past this
// size, so a stream of short lines does not move the buffer for each line.
constexpr size_t kCompactAfter = 65536;
}  // namespace

TcpConnection::TcpConnection() { IgnoreSigPipe(); }

TcpConnection::TcpConnection(std::unique_ptr<Transport> transport, Endpoints known) : TcpConnection() {
  AttachTransport(std::move(transport), std::move(known));
}

TcpConnection::~TcpConnection() {
  connected_ = false;
  CloseTransport();
}

// ------------------------------------------------------------------ state
bool TcpConnection::Connected() {
  if (!connected_) return false;
  if (Buffered() > 0 || transport_->Pending() > 0) return true;
  if (peerClosed_) return false;
  if (quiet_ && std::chrono::steady_clock::now() - quietAt_ < kQuietReuse) return true;
  try {
    // Looks without waiting; a close or reset shows as 0 or an error. Bytes
    // that came with the close are still to be read.
    return ReceiveMore(0) > 0 || !peerClosed_;
  } catch (const EIdException&) {
    peerClosed_ = true;
    return false;
  }
}

bool TcpConnection::KnownConnected() const noexcept { return connected_ && !peerClosed_; }

void TcpConnection::Disconnect() {
  bool wasConnected = connected_.exchange(false);
  bool owner = owner_.load() == CurrentFlowId();
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (transport_) {
      if (owner) {
        transport_.reset();
      } else {
        transport_->Shutdown();
      }
    }
    if (wasConnected) handler = onDisconnected_;
  }
  if (owner) {
    in_.clear();
    inHead_ = scanFrom_ = 0;
    out_.clear();
    writeBufferOpen_ = false;
  }
  if (handler) handler();
}

void TcpConnection::CloseTransport() {
  std::lock_guard<std::mutex> lock(mutex_);
  transport_.reset();
}

void TcpConnection::RaiseStopped() {
  Disconnect();
  throw EIdClosedSocket();
}

void TcpConnection::AttachTransport(std::unique_ptr<Transport> transport, Endpoints known) {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    transport_ = std::move(transport);
    owner_ = CurrentFlowId();
    peer_ = std::move(known.peer);
    local_ = std::move(known.local);
    handler = onConnected_;
  }
  in_.clear();
  inHead_ = scanFrom_ = 0;
  out_.clear();
  writeBufferOpen_ = false;
  readLnTimedOut_ = false;
  quiet_ = false;
  peerClosed_ = false;
  connected_ = true;
  if (handler) handler();
}

WaitResult TcpConnection::Handshake(int timeoutMs, const StopCheck& stop) {
  if (!connected_ || !transport_) throw EIdClosedSocket();
  try {
    return transport_->Handshake(timeoutMs, stop);
  } catch (const EIdSocketError& e) {
    if (!connected_) throw EIdClosedSocket();
    throw;
  }
}

void TcpConnection::SetOwnerThread() { owner_ = CurrentFlowId(); }

// ---------------------------------------------------------------- reading
int TcpConnection::EffectiveTimeout(int timeoutMs) const {
  if (timeoutMs != kUseReadTimeout) return timeoutMs;
  return readTimeout_ > 0 ? readTimeout_ : kNoTimeout;
}

void TcpConnection::RequireOpenForRead() {
  if (!connected_ || !transport_) throw EIdClosedSocket();
  if (peerClosed_) throw EIdConnClosedGracefully();
}

long TcpConnection::ReceiveMore(int timeoutMs) {
  // One scratch chunk per OS thread, not per connection: ten thousand idle
  // connections would otherwise hold 32 KiB each. A fiber may share it with
  // the others of its carrier because a transport writes into it only in its
  // last receive, which never parks, and the bytes are appended to in_ below
  // before anything else can run on the carrier.
  thread_local const std::unique_ptr<char[]> chunk = std::make_unique_for_overwrite<char[]>(kReceiveChunk);
  long n;
  quiet_ = false;
  try {
    n = transport_->Receive(chunk.get(), kReceiveChunk, timeoutMs, stop_);
  } catch (const EIdSocketError& e) {
    if (!connected_) throw EIdClosedSocket();
    if (IsConnectionReset(e.LastError())) peerClosed_ = true;
    throw;
  }
  if (n == Transport::kStopped) RaiseStopped();
  if (n == Transport::kTimedOut && timeoutMs == 0) {
    quiet_ = true;
    quietAt_ = std::chrono::steady_clock::now();
  }
  if (n > 0) {
    in_.append(chunk.get(), static_cast<size_t>(n));
    // The transport looked right behind the bytes: that answers a look
    // without waiting as one of its own would.
    switch (transport_->AfterReceive()) {
      case Transport::Behind::Close: peerClosed_ = true; break;
      case Transport::Behind::Nothing:
        quiet_ = true;
        quietAt_ = std::chrono::steady_clock::now();
        break;
      case Transport::Behind::Unknown: break;
    }
  } else if (n == 0) {
    peerClosed_ = true;
  }
  return n;
}

void TcpConnection::Consume(size_t len) {
  inHead_ += len;
  if (inHead_ >= in_.size()) {
    in_.clear();
    inHead_ = scanFrom_ = 0;
  } else if (inHead_ > kCompactAfter && inHead_ * 2 > in_.size()) {
    in_.erase(0, inHead_);
    scanFrom_ = scanFrom_ > inHead_ ? scanFrom_ - inHead_ : 0;
    inHead_ = 0;
  }
  if (scanFrom_ < inHead_) scanFrom_ = inHead_;
}

std::string TcpConnection::ReadLn(std::string_view terminator, int timeoutMs, int maxLineLength) {
  std::string line;
  ReadLnInto(line, terminator, timeoutMs, maxLineLength);
  return line;
}

void TcpConnection::ReadLnInto(std::string& line, std::string_view terminator, int timeoutMs, int maxLineLength) {
  line.clear();
  if (terminator.empty()) terminator = "\n";
  if (maxLineLength == kUseMaxLineLength) maxLineLength = maxLineLength_;
  const bool lfOnly = terminator == "\n";
  readLnTimedOut_ = false;
  LazyDeadline deadline(EffectiveTimeout(timeoutMs));
  // The part of the buffer already searched is only known for a one-byte
  // terminator; a longer one may straddle the old end.
  size_t from = lfOnly ? std::max(scanFrom_, inHead_) : inHead_;
  for (;;) {
    size_t pos = in_.find(terminator, from);
    if (pos != std::string::npos) {
      line.assign(in_, inHead_, pos - inHead_);
      Consume(pos - inHead_ + terminator.size());
      scanFrom_ = inHead_;
      if (lfOnly && !line.empty() && line.back() == '\r') line.pop_back();
      if (maxLineLength > 0 && line.size() > static_cast<size_t>(maxLineLength)) {
        line.clear();
        throw EIdMaxLineLengthExceeded();
      }
      return;
    }
    if (lfOnly) scanFrom_ = in_.size();
    from = in_.size() >= terminator.size() ? in_.size() - terminator.size() + 1 : 0;
    if (from < inHead_) from = inHead_;
    // One byte more than the limit may be the first half of the line end.
    if (maxLineLength > 0 && Buffered() > static_cast<size_t>(maxLineLength) + 1) {
      throw EIdMaxLineLengthExceeded();
    }
    RequireOpenForRead();
    if (ReceiveMore(deadline.RemainingMs()) == Transport::kTimedOut) {
      readLnTimedOut_ = true;
      return;
    }
  }
}

void TcpConnection::ReadBuffer(void* buf, size_t len) {
  const int timeout = EffectiveTimeout(kUseReadTimeout);
  while (Buffered() < len) {
    RequireOpenForRead();
    if (ReceiveMore(timeout) == Transport::kTimedOut) throw EIdReadTimeout();
  }
  if (len > 0) std::memcpy(buf, in_.data() + inHead_, len);
  Consume(len);
}

std::string TcpConnection::ReadString(size_t len) {
  std::string s(len, '\0');
  ReadBuffer(s.data(), len);
  return s;
}

int TcpConnection::ReadFromStack(int timeoutMs) {
  if (!connected_ || peerClosed_ || !transport_) return 0;
  try {
    long n = ReceiveMore(EffectiveTimeout(timeoutMs));
    return n > 0 ? static_cast<int>(n) : 0;
  } catch (const EIdClosedSocket&) {
    return 0;
  }
}

bool TcpConnection::LineBuffered() const noexcept {
  const size_t from = std::max(scanFrom_, inHead_);
  return from < in_.size() && std::memchr(in_.data() + from, '\n', in_.size() - from) != nullptr;
}

size_t TcpConnection::InputBufferSize() const {
  return Buffered() + (transport_ ? transport_->Pending() : 0);
}

// ---------------------------------------------------------------- writing
void TcpConnection::SendNow(const char* buf, size_t len) { SendPairNow({}, std::string_view(buf, len)); }

void TcpConnection::SendPairNow(std::string_view head, std::string_view tail) {
  if (!connected_ || !transport_) throw EIdClosedSocket();
  const int timeout = writeTimeout_ > 0 ? writeTimeout_ : kNoTimeout;
  WaitResult result;
  try {
    result = head.empty() ? transport_->SendAll(tail.data(), tail.size(), timeout, stop_)
                          : transport_->SendPair(head, tail, timeout, stop_);
  } catch (const EIdSocketError& e) {
    if (!connected_) throw EIdClosedSocket();
    if (IsConnectionReset(e.LastError())) peerClosed_ = true;
    throw;
  }
  if (result == WaitResult::Stopped) RaiseStopped();
  if (result == WaitResult::TimedOut) RaiseSocketError(ETIMEDOUT);
}

void TcpConnection::Write(std::string_view data) { WriteBuffer(data.data(), data.size()); }

void TcpConnection::WriteBuffer(const void* buf, size_t len) {
  if (len == 0) return;
  const char* bytes = static_cast<const char*>(buf);
  if (!writeBufferOpen_) {
    SendNow(bytes, len);
    return;
  }
  if (writeThreshold_ > 0 && out_.size() + len >= static_cast<size_t>(writeThreshold_)) {
    // What is collected leaves with these bytes in one send, uncopied.
    std::string pending;
    pending.swap(out_);
    SendPairNow(pending, std::string_view(bytes, len));
    pending.clear();
    if (out_.empty()) out_.swap(pending);  // keeps the buffer's capacity
    return;
  }
  out_.append(bytes, len);
}

void TcpConnection::OpenWriteBuffer(int threshold) {
  writeBufferOpen_ = true;
  writeThreshold_ = threshold;
}

void TcpConnection::FlushWriteBuffer() {
  if (out_.empty()) return;
  std::string pending;
  pending.swap(out_);
  SendNow(pending.data(), pending.size());
  pending.clear();
  if (out_.empty()) out_.swap(pending);
}

void TcpConnection::CloseWriteBuffer() {
  if (!writeBufferOpen_) return;
  writeBufferOpen_ = false;
  FlushWriteBuffer();
}

void TcpConnection::CancelWriteBuffer() {
  out_.clear();
  writeBufferOpen_ = false;
}

// ------------------------------------------------------------- properties
const SocketAddress& TcpConnection::Address(std::optional<SocketAddress>& slot, SocketAddress (*lookUp)(int)) const {
  static const SocketAddress kNone;
  if (slot) return *slot;
  // A socket already closed has no address to give; a later call after a
  // new connect looks again.
  if (transport_ == nullptr || transport_->Handle() < 0) return kNone;
  slot = lookUp(transport_->Handle());
  return *slot;
}

std::string TcpConnection::PeerIP() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Address(peer_, PeerAddressOf).ip;
}

int TcpConnection::PeerPort() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Address(peer_, PeerAddressOf).port;
}

std::string TcpConnection::LocalIP() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Address(local_, LocalAddressOf).ip;
}

int TcpConnection::LocalPort() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Address(local_, LocalAddressOf).port;
}

void TcpConnection::SetOnConnected(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  onConnected_ = std::move(fn);
}

void TcpConnection::SetOnDisconnected(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  onDisconnected_ = std::move(fn);
}
