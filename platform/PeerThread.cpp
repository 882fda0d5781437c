#include "platform/PeerThread.h"

#include <cerrno>

#include "platform/TcpErrors.h"
#include "platform/TcpServer.h"
#include "platform/ThreadPool.h"

PeerThread::~PeerThread() { EndOsThread(); }

void PeerThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = true;
  }
  wake_.NotifyAll();
}

void PeerThread::Run() { server_->DoExecute(*this); }

void PeerThread::DoException(const Exception& e) { server_->DoException(*this, e); }

void PeerThread::StartOsThread(ConnectionRuntime runtime) {
  thread_.Start([this] { ThreadMain(); }, runtime);
}

void PeerThread::Start(std::unique_ptr<TcpConnection> connection, TcpServer* server, ThreadPool* pool) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection_ = std::move(connection);
    server_ = server;
    pool_ = pool;
    stopped_ = false;
    hasWork_ = true;
  }
  wake_.NotifyAll();
}

void PeerThread::EndOsThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = true;
  }
  wake_.NotifyAll();
  if (thread_.Joinable() && !thread_.IsCurrent()) thread_.Join();
}

void PeerThread::ThreadMain() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.Wait(lock, [this] { return hasWork_ || terminated_; });
      if (!hasWork_) return;
      hasWork_ = false;
    }
    Serve();
    // The pool may hand this thread to its reaper; only the wait above
    // touches the object afterwards, and the reaper joins before freeing.
    pool_->ReleaseThread(this);
  }
}

void PeerThread::RunOnce() {
  try {
    Run();
  } catch (const EIdClosedSocket&) {
    connection_->Disconnect();
  } catch (const EIdConnClosedGracefully&) {
    connection_->Disconnect();
  } catch (const EIdSocketError& e) {
    // A connection that died under the handler ends the run, not the thread.
    if (!IsConnectionReset(e) && e.LastError() != ECONNABORTED) throw;
    connection_->Disconnect();
  }
}

void PeerThread::Serve() {
  TcpServer& server = *server_;
  connection_->SetOwnerThread();
  std::exception_ptr failure;
  bool quiet = false;
  if (!Handshake(server)) quiet = true;
  bool connectRan = false;
  if (!quiet) {
    try {
      server.DoConnect(*this);
      connectRan = true;
      if (!Stopped() && !Terminated()) {
        BeforeRun();
        while (!Stopped() && !Terminated()) {
          RunOnce();
          if (!connection_->Connected()) Stop();
        }
      }
    } catch (...) {
      failure = std::current_exception();
    }
    if (connectRan) {
      try {
        server.DoDisconnect(*this);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    try {
      Cleanup();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) {
    terminated_ = true;
    Report(failure);
  }
  try {
    connection_->Disconnect();
  } catch (...) {
  }
  pool_->ThreadReturning();
  server.ThreadFinished(this);
  // Off the server's list: deactivation no longer looks at the connection.
  std::unique_ptr<TcpConnection> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing = std::move(connection_);
    server_ = nullptr;
    stopped_ = true;
  }
}

bool PeerThread::Handshake(TcpServer& server) {
  std::exception_ptr failure;
  const int timeoutMs = server.HandshakeTimeoutMs();
  try {
    switch (connection_->Handshake(timeoutMs, [this] { return Stopped() || Terminated(); })) {
      case WaitResult::Ready:
        return true;
      case WaitResult::Stopped:
        return false;
      case WaitResult::TimedOut:
        throw EIdOSSLAcceptError(Format("Error accepting connection with SSL. Handshake timed out after %d ms",
                                        timeoutMs));
    }
  } catch (const EIdConnClosedGracefully&) {
    return false;  // the client left before the handshake ended
  } catch (const EIdSocketError& e) {
    if (IsConnectionReset(e)) return false;
    failure = std::current_exception();
  } catch (...) {
    failure = std::current_exception();
  }
  // A handshake that a stop or deactivation broke off is no failure either.
  if (!failure || Stopped() || Terminated() || !connection_->KnownConnected()) return false;
  // The connection failed, not the thread: it goes back to the pool.
  try {
    try {
      std::rethrow_exception(failure);
    } catch (const Exception& e) {
      server.DoException(*this, e);
    } catch (const std::exception& e) {
      server.DoException(*this, Exception(e.what()));
    }
  } catch (...) {
    // A failing exception handler must not end the process.
  }
  return false;
}

void PeerThread::Report(std::exception_ptr failure) {
  try {
    try {
      std::rethrow_exception(failure);
    } catch (const Exception& e) {
      DoException(e);
    } catch (const std::exception& e) {
      DoException(Exception(e.what()));
    } catch (...) {
      DoException(Exception("Unknown exception"));
    }
  } catch (...) {
    // A failing exception handler must not end the process.
  }
}
