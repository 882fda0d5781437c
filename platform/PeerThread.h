// The thread that serves one accepted connection at a time and, kept in a
// ThreadPool, many connections over its life. Derive from it for a thread
// class of your own (the pool's factory makes it).
//
// Per connection, on this thread: [TLS handshake] -> server OnConnect ->
// BeforeRun -> Run again and again while neither Stopped nor Terminated
// (base Run fires the server's OnExecute) -> server OnDisconnect ->
// Cleanup -> the connection is closed and the thread goes back to its pool.
// The thread is an OS thread or a fiber of the connection runtime, as its
// pool says (Flow.h); either way it is one flow serving one connection.
// An exception escaping any of these reaches DoException (base: the
// server's OnException) after OnDisconnect and Cleanup have run, and the
// thread is terminated instead of pooled. A handler that meets the end of
// its connection (closed by either side, reset) only ends the run, and a
// client that leaves during the handshake is no failure either. A handshake
// that fails or passes the server's HandshakeTimeoutMs reaches the server's
// OnException only (no DoException: the thread is sound) and the thread goes
// back to the pool. Nothing escapes the flow.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/Flow.h"
#include "platform/SysUtils.h"
#include "platform/TcpConnection.h"

class TcpServer;
class ThreadPool;

class PeerThread {
 public:
  PeerThread() = default;
  virtual ~PeerThread();
  PeerThread(const PeerThread&) = delete;
  PeerThread& operator=(const PeerThread&) = delete;

  // The connection being served; nullptr between connections.
  TcpConnection* Connection() const noexcept { return connection_.get(); }
  // The server whose connection is being served; nullptr between connections.
  TcpServer* Server() const noexcept { return server_; }

  // Ends the current connection's run; the thread then goes back to the pool.
  void Stop() noexcept { stopped_ = true; }
  bool Stopped() const noexcept { return stopped_; }
  // Ends the thread object: the current run ends and the thread is freed
  // instead of pooled. Any thread; derived classes add their own steps.
  virtual void Terminate();
  bool Terminated() const noexcept { return terminated_; }
  // The carrier its fiber runs on; -1 on an OS thread.
  int CarrierIndex() const noexcept { return thread_.CarrierIndex(); }

 protected:
  virtual void BeforeRun() {}
  virtual void Run();
  virtual void Cleanup() {}
  virtual void DoException(const Exception& e);

 private:
  friend class ThreadPool;
  friend class TcpServer;

  void StartOsThread(ConnectionRuntime runtime);
  // Hands a connection over and wakes the OS thread.
  void Start(std::unique_ptr<TcpConnection> connection, TcpServer* server, ThreadPool* pool);
  void ThreadMain();
  void Serve();
  // True when the connection is ready for OnConnect.
  bool Handshake(TcpServer& server);
  void RunOnce();
  void Report(std::exception_ptr failure);
  // Marks the thread terminated, wakes it and waits for its OS thread.
  void EndOsThread();

  FlowThread thread_;
  std::mutex mutex_;
  FlowCondition wake_;
  bool hasWork_ = false;
  std::atomic<bool> stopped_{true};
  std::atomic<bool> terminated_{false};
  std::unique_ptr<TcpConnection> connection_;
  TcpServer* server_ = nullptr;  // back-reference while serving
  ThreadPool* pool_ = nullptr;   // back-reference while serving
};
