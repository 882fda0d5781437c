// A thread-per-connection TCP server: listening bindings, one acceptor
// thread, and peer threads from a ThreadPool that several servers may share.
// With a TlsContext the accepted connections speak TLS; the handshake runs on
// the peer thread.
//
// Threads and locks: the acceptor thread accepts and hands each connection
// to a pool thread. The list of active threads has its own lock, held by
// ForEachActiveThread, by deactivation while it ends the connections, and
// briefly when a thread starts or finishes. Events run on the peer threads
// (OnListenException on the acceptor); set them before activation.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PeerThread.h"
#include "platform/Socket.h"
#include "platform/ThreadPool.h"

class TlsContext;

struct TcpBinding {
  std::string ip;  // "" = every local address
  int port = 0;    // 0 = a free port chosen at activation
};

class TcpServer {
 public:
  using ThreadEvent = std::function<void(PeerThread&)>;
  using ExceptionEvent = std::function<void(PeerThread&, const Exception&)>;
  using ListenExceptionEvent = std::function<void(const Exception&)>;
  using CeilingEvent = std::function<void(int ceiling)>;
  using TimeoutRule = std::function<int()>;

  TcpServer();
  // Deactivates and waits for every connection of this server to end.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Bindings; a change takes effect at the next activation. Without any
  // binding an active server listens nowhere.
  const std::vector<TcpBinding>& Bindings() const noexcept { return bindings_; }
  void AddBinding(std::string ip, int port);
  void ClearBindings() { bindings_.clear(); }
  int BindingCount() const noexcept { return static_cast<int>(bindings_.size()); }
  // While active: the port binding Index listens on.
  int ListeningPort(size_t index) const;

  int ListenQueue() const noexcept { return listenQueue_; }
  void SetListenQueue(int length) noexcept { listenQueue_ = length; }
  // SO_REUSEADDR on the listening sockets.
  bool ReuseSocket() const noexcept { return reuseSocket_; }
  void SetReuseSocket(bool reuse) noexcept { reuseSocket_ = reuse; }
  // How long deactivation waits for the active connections to end.
  int TerminateWaitTime() const noexcept { return terminateWaitTime_; }
  void SetTerminateWaitTime(int ms) noexcept { terminateWaitTime_ = ms; }

  // A pool shared with other servers (not owned); nullptr goes back to the
  // server's own pool, which keeps no idle threads. Change it while inactive.
  void SetThreadPool(ThreadPool* pool);
  ThreadPool& Pool() const noexcept { return *pool_; }
  // Accepted connections speak TLS with Context (not owned; it outlives the
  // server). Activation initialises it, so its errors surface there.
  void SetTlsContext(TlsContext* context) noexcept { tls_ = context; }
  TlsContext* GetTlsContext() const noexcept { return tls_; }

  void SetOnConnect(ThreadEvent fn) { onConnect_ = std::move(fn); }
  void SetOnExecute(ThreadEvent fn) { onExecute_ = std::move(fn); }
  void SetOnDisconnect(ThreadEvent fn) { onDisconnect_ = std::move(fn); }
  void SetOnException(ExceptionEvent fn) { onException_ = std::move(fn); }
  // An accept that failed; the server goes on listening.
  void SetOnListenException(ListenExceptionEvent fn) { onListenException_ = std::move(fn); }
  // The pool's MaxActive (the ceiling) was reached: new connections wait in
  // the kernel's backlog until one ends. Once per episode, on the acceptor;
  // an episode ends when the live connections fall below nine tenths of it.
  void SetOnConnectionCeiling(CeilingEvent fn) { onConnectionCeiling_ = std::move(fn); }
  // How long a TLS handshake may take, asked as each one starts (the user
  // may shorten it under load); by default 60 s. A stop ends it sooner.
  void SetHandshakeTimeout(TimeoutRule rule) { handshakeTimeout_ = std::move(rule); }
  int HandshakeTimeoutMs() const;

  bool Active() const noexcept { return active_; }
  // Any thread: active and listening on at least one binding.
  bool Listening() const noexcept { return listening_; }
  // Activation binds and listens on every binding or on none: a binding in
  // use raises EIdCouldNotBindSocket, other failures EIdSocketError, TLS
  // set-up failures the EIdOSSL... classes. Deactivation closes the
  // listeners, terminates every active thread and shuts its connection
  // down, and waits up to TerminateWaitTime for them to end, else raises
  // EIdTerminateThreadTimeout (the server is inactive either way).
  void SetActive(bool active);

  // Fn for each thread serving a connection of this server, under the list
  // lock (threads can neither start nor finish meanwhile).
  void ForEachActiveThread(const std::function<void(PeerThread&)>& fn) const;
  int ActiveThreadCount() const;

 private:
  friend class PeerThread;

  struct Listener {
    SocketHandle socket;
    int port = 0;
    // The address of every connection it accepts, when bound to one.
    std::optional<SocketAddress> local;
  };

  void Activate();
  void Deactivate();
  void AcceptLoop();
  // False when nothing more is queued (or accepting must pause).
  bool AcceptOne(const Listener& listener);
  // Waits while the pool is at its ceiling; false when woken for the stop.
  bool WaitBelowCeiling();
  void FireListenException(const Exception& e);
  // Waits on the wake descriptor; true when woken for the stop.
  bool PauseAcceptor(int ms);
  void CloseListeners();

  // Called by the peer threads.
  void DoConnect(PeerThread& thread);
  void DoExecute(PeerThread& thread);
  void DoDisconnect(PeerThread& thread);
  void DoException(PeerThread& thread, const Exception& e);
  void ThreadFinished(PeerThread* thread);

  std::vector<TcpBinding> bindings_;
  int listenQueue_ = 15;
  bool reuseSocket_ = true;
  int terminateWaitTime_ = 5000;
  std::unique_ptr<ThreadPool> ownPool_;
  ThreadPool* pool_;
  TlsContext* tls_ = nullptr;

  ThreadEvent onConnect_;
  ThreadEvent onExecute_;
  ThreadEvent onDisconnect_;
  ExceptionEvent onException_;
  ListenExceptionEvent onListenException_;
  CeilingEvent onConnectionCeiling_;
  TimeoutRule handshakeTimeout_;
  bool atCeiling_ = false;  // acceptor only

  std::atomic<bool> active_{false};
  std::atomic<bool> listening_{false};
  std::vector<Listener> listeners_;
  SocketHandle wake_;  // eventfd that ends the acceptor's wait
  std::thread acceptor_;

  mutable std::mutex threadsMutex_;
  std::condition_variable threadsChanged_;
  std::vector<PeerThread*> threads_;  // active threads, not owned
};

// Opens a listening socket on Ip:Port (SO_REUSEADDR) and closes it again:
// raises EIdCouldNotBindSocket when the address is in use, EIdSocketError
// for other failures.
void TestBind(const std::string& ip, int port);
