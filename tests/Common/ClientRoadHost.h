// The request road end to end over loopback: a TCP server of the layer that
// runs real client threads the way the engine host does, scripted back ends
// of the test's own, and raw client sockets. Used by the tests and the fuzz
// target alike.
#pragma once

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Common/uClientThread.h"
#include "Common/uDomainHandler.h"
#include "Common/uStatHolder.h"
#include "platform/TcpServer.h"
#include "platform/ThreadPool.h"
#include "tests/platform/TcpTestSupport.h"

namespace roadtest {

using tcptest::RawPeer;
using tcptest::WaitUntil;
using namespace std::chrono_literals;

// One accepted back-end connection, driven by its script.
class BackendConn {
 public:
  explicit BackendConn(SocketHandle s) : peer_(std::move(s)) {}
  // Bytes up to and including the empty line that ends a head; "" when the
  // switch closed first.
  std::string ReadHead() {
    while (buffer_.find("\r\n\r\n") == std::string::npos) {
      if (!Fill()) return "";
    }
    const size_t end = buffer_.find("\r\n\r\n") + 4;
    std::string head = buffer_.substr(0, end);
    buffer_.erase(0, end);
    return head;
  }
  std::string ReadExact(size_t n) {
    while (buffer_.size() < n) {
      if (!Fill()) break;
    }
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, out.size());
    return out;
  }
  // False once the switch has gone.
  bool Send(const std::string& data) {
    return ::send(peer_.Fd(), data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
  }
  void Close() { peer_.Close(); }
  int Fd() const { return peer_.Fd(); }
  // True once the switch closed its side (within 5 s).
  bool SeesClose() { return buffer_.empty() && peer_.SeesClose(); }

 private:
  bool Fill() {
    std::string more = peer_.Receive(1);
    if (more.empty()) return false;
    buffer_ += more;
    buffer_ += peer_.ReceiveFor(0);
    return true;
  }
  RawPeer peer_;
  std::string buffer_;
};

// A back end on 127.0.0.1 whose every connection runs Script on a thread of
// its own. Heads holds every request head it read through ReadRequest.
class ScriptedBackend {
 public:
  using Script = std::function<void(BackendConn&, ScriptedBackend&)>;

  explicit ScriptedBackend(Script script, int backlog = 16)
      : script_(std::move(script)), listener_(tcptest::RawListener(backlog)) {
    port_ = tcptest::PortOf(listener_.Get());
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  // Waits for every connection's script to end.
  ~ScriptedBackend() {
    stopping_ = true;
    ::shutdown(listener_.Get(), SHUT_RDWR);
    acceptor_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return running_ == 0; });
  }

  int Port() const { return port_; }
  int Accepts() const { return accepts_; }
  // Reads one request head on Conn and records it.
  std::string ReadRequest(BackendConn& conn) {
    std::string head = conn.ReadHead();
    std::lock_guard<std::mutex> g(mutex_);
    if (!head.empty()) heads_.push_back(head);
    return head;
  }
  std::vector<std::string> Heads() {
    std::lock_guard<std::mutex> g(mutex_);
    return heads_;
  }
  std::string LastHead() {
    std::lock_guard<std::mutex> g(mutex_);
    return heads_.empty() ? std::string() : heads_.back();
  }

 private:
  void AcceptLoop() {
    while (!stopping_) {
      const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        // A failed accept (interrupted, aborted, out of descriptors) ends
        // only that accept; the shutdown of the listener ends the loop.
        if (stopping_) return;
        if (errno != EINTR && errno != ECONNABORTED) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      ++accepts_;
      {
        std::lock_guard<std::mutex> g(mutex_);
        ++running_;
      }
      // Detached, so that a long run (the fuzz target) keeps no finished
      // threads; the destructor waits for the count instead.
      std::thread([this, fd] {
        {
          BackendConn conn{SocketHandle(fd)};
          script_(conn, *this);
        }
        std::lock_guard<std::mutex> g(mutex_);
        if (--running_ == 0) ended_.notify_all();
      }).detach();
    }
  }

  Script script_;
  SocketHandle listener_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepts_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable ended_;
  int running_ = 0;
  std::vector<std::string> heads_;
};

// A back end that answers every request of a connection with Response,
// keeping the connection open for more.
inline ScriptedBackend::Script Answer(std::string response) {
  return [response](BackendConn& conn, ScriptedBackend& backend) {
    while (!backend.ReadRequest(conn).empty()) conn.Send(response);
  };
}

// "HTTP/1.1 200 OK" with a Content-Length body.
inline std::string Ok(const std::string& body, const std::string& extraHeaders = "") {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A parsed response as a client reads it.
struct Response {
  std::string head;  // status line and headers, with the closing empty line
  std::string body;  // decoded from chunked framing when the head says so
  bool complete = false;
  std::string Header(const std::string& name) const;
  int Status() const { return head.size() > 12 ? std::atoi(head.c_str() + 9) : 0; }
};

// A raw client connection to the switch.
class Client {
 public:
  explicit Client(int port) : peer_(tcptest::RawConnect(port)) {}
  void Send(const std::string& data) { peer_.Send(data); }
  // One response: its head, then a body framed by Content-Length, chunked
  // encoding or the close (NoBody: head only).
  Response ReadResponse(bool noBody = false);
  // Everything until the switch closes (at most 5 s).
  std::string ReadUntilClose();
  // Everything up to and including Marker ("" when it does not come).
  std::string ReadUntil(const std::string& marker);
  bool SeesClose() { return buffer_.empty() && peer_.SeesClose(); }
  RawPeer& Peer() { return peer_; }

 private:
  bool Fill();
  std::string Take(size_t n);
  RawPeer peer_;
  std::string buffer_;
};

// The engine host's part: a loopback listener whose pool runs client
// threads with short limits, collecting their log lines.
class RoadHost {
 public:
  RoadHost();
  virtual ~RoadHost();
  RoadHost(const RoadHost&) = delete;
  RoadHost& operator=(const RoadHost&) = delete;

  TDomainHandler& Handler() { return *stats_.DomainHandler; }
  // A domain for Host that forwards to 127.0.0.1:Port.
  TDomain* AddDomain(const std::string& host, int port);
  void ClearDomains();
  int Port() const { return port_; }

  std::vector<std::string> Log();
  std::vector<std::string> W3C();
  // True once a log line containing Text has been written (within 5 s).
  bool Logged(const std::string& text);
  // Waits until no client thread is inside HandleConnection.
  bool Idle() { return WaitUntil([&] { return ActiveThreads.load() == 0; }); }
  // The most client threads inside HandleConnection at once, each start
  // looked at (not sampled), since this host began.
  std::atomic<int> MostActive{0};

  bool KeepLogs = true;  // false: log lines are built but not kept
  TStatHolder stats_;
  TRoadLimits limits_;  // for the connections accepted from now on
  ThreadPool pool_{4};
  TcpServer server_;
  int port_ = 0;

 private:
  std::mutex logMutex_;
  std::vector<std::string> log_;
  std::vector<std::string> w3c_;
};

}  // namespace roadtest
