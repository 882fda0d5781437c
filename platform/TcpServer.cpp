#include "platform/TcpServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/AntiFreeze.h"
#include "platform/TcpErrors.h"
#include "platform/TlsContext.h"

namespace {
// Pause after an accept failure that would repeat at once (no descriptors).
constexpr int kAcceptPauseMs = 100;
// Connections one listener takes per wake-up of the acceptor.
constexpr int kAcceptBatch = 64;
// How often an acceptor at the ceiling looks for the stop.
constexpr int kCeilingSliceMs = 50;
constexpr int kDefaultHandshakeTimeoutMs = 60000;

SocketHandle OpenListener(const std::string& ip, int port, bool reuse, int queue) {
  in_addr addr{};
  if (!ParseIPv4(ip, addr)) throw EIdSocketError(EINVAL, "Invalid IP address: " + ip);
  SocketHandle socket = NewTcpSocket();
  if (reuse) {
    int on = 1;
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  sockaddr_in sa = MakeSockAddr(addr, port);
  if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno == EADDRINUSE) throw EIdCouldNotBindSocket();
    RaiseSocketError(errno);
  }
  if (::listen(socket.Get(), queue) != 0) {
    if (errno == EADDRINUSE) throw EIdCouldNotBindSocket();
    RaiseSocketError(errno);
  }
  return socket;
}
}  // namespace

void TestBind(const std::string& ip, int port) { OpenListener(ip, port, true, 1); }

TcpServer::TcpServer() : ownPool_(std::make_unique<ThreadPool>(0)), pool_(ownPool_.get()) {}

TcpServer::~TcpServer() {
  try {
    SetActive(false);
  } catch (const Exception&) {
    // Terminate wait passed: the connections are shut down, so they end;
    // the server must outlive them.
  }
  std::unique_lock<std::mutex> lock(threadsMutex_);
  threadsChanged_.wait(lock, [this] { return threads_.empty(); });
}

void TcpServer::AddBinding(std::string ip, int port) { bindings_.push_back({std::move(ip), port}); }

int TcpServer::ListeningPort(size_t index) const {
  return index < listeners_.size() ? listeners_[index].port : 0;
}

void TcpServer::SetThreadPool(ThreadPool* pool) { pool_ = pool != nullptr ? pool : ownPool_.get(); }

void TcpServer::SetActive(bool active) {
  if (active == active_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

// ------------------------------------------------------------- activation
void TcpServer::Activate() {
  if (tls_ != nullptr) tls_->Init();
  std::vector<Listener> listeners;
  for (const TcpBinding& binding : bindings_) {
    Listener listener;
    listener.socket = OpenListener(binding.ip, binding.port, reuseSocket_, listenQueue_);
    listener.port = LocalAddressOf(listener.socket.Get()).port;
    in_addr ip{};
    if (ParseIPv4(binding.ip, ip) && ip.s_addr != htonl(INADDR_ANY)) listener.local = SocketAddress{IPv4ToStr(ip), listener.port};
    listeners.push_back(std::move(listener));
  }
  int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake < 0) RaiseSocketError(errno);
  wake_.Reset(wake);
  listening_ = !listeners.empty();
  listeners_ = std::move(listeners);
  atCeiling_ = false;
  active_ = true;
  acceptor_ = std::thread(&TcpServer::AcceptLoop, this);
}

void TcpServer::CloseListeners() {
  listening_ = false;
  listeners_.clear();
  wake_.Reset();
}

void TcpServer::Deactivate() {
  uint64_t one = 1;
  if (::write(wake_.Get(), &one, sizeof one) < 0) {
    // An eventfd write only fails when its counter is full, which still wakes.
  }
  if (acceptor_.joinable()) acceptor_.join();
  CloseListeners();
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (PeerThread* thread : threads_) {
      thread->Terminate();
      if (TcpConnection* connection = thread->Connection()) connection->Disconnect();
    }
  }
  active_ = false;
  Deadline deadline(terminateWaitTime_ > 0 ? terminateWaitTime_ : 0);
  std::unique_lock<std::mutex> lock(threadsMutex_);
  while (!threads_.empty()) {
    int left = deadline.RemainingMs();
    if (left == 0) throw EIdTerminateThreadTimeout();
    if (AntiFreeze::Applies()) {
      int slice = std::min(left, AntiFreeze::IdleTimeOutMs());
      threadsChanged_.wait_for(lock, std::chrono::milliseconds(slice));
      lock.unlock();
      AntiFreeze::Pump();
      lock.lock();
    } else {
      threadsChanged_.wait_for(lock, std::chrono::milliseconds(left));
    }
  }
}

// --------------------------------------------------------------- acceptor
void TcpServer::AcceptLoop() {
  std::vector<pollfd> fds;
  for (const Listener& listener : listeners_) fds.push_back({listener.socket.Get(), POLLIN, 0});
  fds.push_back({wake_.Get(), POLLIN, 0});
  for (;;) {
    for (pollfd& p : fds) p.revents = 0;
    int rc = ::poll(fds.data(), fds.size(), -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      FireListenException(EIdSocketError(errno));
      if (PauseAcceptor(kAcceptPauseMs)) return;
      continue;
    }
    if (fds.back().revents != 0) return;
    // Each wake-up takes what is queued (a bounded batch per listener, so no
    // listener starves the others): when a thousand connections arrive at
    // once, the acceptor gets only its share of the machine among the busy
    // client threads, and one accept per wake-up would leave most waiting.
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      for (int n = 0; n < kAcceptBatch; ++n) {
        // Above the ceiling a connection stays in the backlog, where the
        // kernel holds it for nothing, rather than failing a new thread.
        if (!WaitBelowCeiling()) return;
        if (!AcceptOne(listeners_[i])) break;
      }
    }
  }
}

bool TcpServer::WaitBelowCeiling() {
  ThreadPool& pool = *pool_;
  if (atCeiling_ && static_cast<int64_t>(pool.ActiveCount()) * 10 < static_cast<int64_t>(pool.MaxActive()) * 9) {
    atCeiling_ = false;
  }
  for (;;) {
    if (pool.WaitForRoom(atCeiling_ ? kCeilingSliceMs : 0)) return true;
    if (!atCeiling_) {
      atCeiling_ = true;
      if (onConnectionCeiling_) {
        try {
          onConnectionCeiling_(pool.MaxActive());
        } catch (...) {
          // Nothing escapes the acceptor.
        }
      }
    }
    if (PauseAcceptor(0)) return false;
  }
}

bool TcpServer::PauseAcceptor(int ms) {
  pollfd p{wake_.Get(), POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

bool TcpServer::AcceptOne(const Listener& listener) {
  // The accept tells the peer, the listener's binding mostly the local end:
  // the acceptor, which serves every connection in turn, makes no other call.
  sockaddr_in peer{};
  socklen_t peerLen = sizeof peer;
  int fd = ::accept4(listener.socket.Get(), reinterpret_cast<sockaddr*>(&peer), &peerLen, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    switch (error) {
      case EAGAIN:
      case EINTR:
        return false;  // nothing (more) queued
      case ECONNABORTED:
      case EPROTO:
        return true;  // the peer gave up before we took it; others may wait
      default:
        FireListenException(EIdSocketError(error));
        PauseAcceptor(kAcceptPauseMs);
        return false;
    }
  }
  SocketHandle socket(fd);
  try {
    std::unique_ptr<Transport> transport = tls_ != nullptr ? tls_->NewServerTransport(std::move(socket))
                                                           : std::make_unique<PlainTransport>(std::move(socket));
    auto connection = std::make_unique<TcpConnection>(
        std::move(transport), TcpConnection::Endpoints{.peer = ToSocketAddress(peer), .local = listener.local});
    PeerThread* thread = pool_->GetThread();
    // Listed before it runs, so it can only finish after it was listed.
    std::lock_guard<std::mutex> lock(threadsMutex_);
    threads_.push_back(thread);
    thread->Start(std::move(connection), this, pool_);
  } catch (const Exception& e) {
    FireListenException(e);
  } catch (const std::exception& e) {
    FireListenException(Exception(e.what()));
  }
  return true;
}

int TcpServer::HandshakeTimeoutMs() const {
  return handshakeTimeout_ ? handshakeTimeout_() : kDefaultHandshakeTimeoutMs;
}

void TcpServer::FireListenException(const Exception& e) {
  if (!onListenException_) return;
  try {
    onListenException_(e);
  } catch (...) {
    // Nothing escapes the acceptor.
  }
}

// ------------------------------------------------------ peer-thread calls
void TcpServer::DoConnect(PeerThread& thread) {
  if (onConnect_) onConnect_(thread);
}

void TcpServer::DoExecute(PeerThread& thread) {
  if (onExecute_) {
    onExecute_(thread);
  } else {
    thread.Stop();
  }
}

void TcpServer::DoDisconnect(PeerThread& thread) {
  if (onDisconnect_) onDisconnect_(thread);
}

void TcpServer::DoException(PeerThread& thread, const Exception& e) {
  if (onException_) onException_(thread, e);
}

void TcpServer::ThreadFinished(PeerThread* thread) {
  // Notified under the lock: once the list is empty the server may be gone.
  std::lock_guard<std::mutex> lock(threadsMutex_);
  std::erase(threads_, thread);
  threadsChanged_.notify_all();
}

void TcpServer::ForEachActiveThread(const std::function<void(PeerThread&)>& fn) const {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  for (PeerThread* thread : threads_) fn(*thread);
}

int TcpServer::ActiveThreadCount() const {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  return static_cast<int>(threads_.size());
}
