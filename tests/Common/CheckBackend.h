// A scripted back end on 127.0.0.1 for health-check tests: it listens on a
// port chosen at run time and answers every connection the same way.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CheckBackend {
 public:
  enum class Mode {
    Accept,   // accept and hold the connection until the peer closes
    Reply,    // read the request head, send Reply, close
    Hang,     // read the request head, answer nothing
    Close,    // accept and close at once
    Endless,  // read the request head, then send bytes without a line end
  };

  // ReplyDelayMs: how long Reply waits after the head before it answers.
  explicit CheckBackend(Mode mode, std::string reply = "", int replyDelayMs = 0)
      : mode_(mode), reply_(std::move(reply)), replyDelay_(replyDelayMs) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 64);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~CheckBackend() {
    stop_ = true;
    acceptor_.join();
    for (auto& t : workers_) t.join();
    ::close(listen_);
  }

  int Port() const { return port_; }
  // Connections accepted so far, once none is left waiting in the listen
  // queue (a client's connect completes before the back end accepts).
  int Accepts() const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      {
        std::lock_guard<std::mutex> g(lock_);
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0 || std::chrono::steady_clock::now() > deadline) return accepts_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }

  // A port on 127.0.0.1 on which nothing listens (connections are refused).
  static int ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
  }

 private:
  void AcceptLoop() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int c;
      {
        std::lock_guard<std::mutex> g(lock_);
        c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        ++accepts_;
      }
      workers_.emplace_back([this, c] { Serve(c); });
    }
  }

  // Reads until the empty line that ends a head, the peer closes, or stop.
  std::string ReadHead(int c) {
    std::string got;
    char buf[1024];
    while (!stop_ && got.find("\r\n\r\n") == std::string::npos) {
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    std::lock_guard<std::mutex> g(lock_);
    requests_.push_back(got);
    return got;
  }

  // Holds the connection until the peer closes or the back end stops.
  void Hold(int c) {
    char buf[256];
    while (!stop_) {
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (::recv(c, buf, sizeof buf, 0) <= 0) break;
    }
  }

  void Serve(int c) {
    switch (mode_) {
      case Mode::Accept:
        Hold(c);
        break;
      case Mode::Close:
        break;
      case Mode::Reply:
        ReadHead(c);
        for (auto until = std::chrono::steady_clock::now() + replyDelay_;
             !stop_ && std::chrono::steady_clock::now() < until;)
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        break;
      case Mode::Hang:
        ReadHead(c);
        Hold(c);
        break;
      case Mode::Endless: {
        ReadHead(c);
        std::string chunk(4096, 'x');
        // Bounded: far more than any status line a check accepts; never
        // blocks, so stopping the back end always ends this thread.
        size_t sent = 0;
        while (!stop_ && sent < 256 * 1024) {
          pollfd p{c, POLLOUT, 0};
          if (::poll(&p, 1, 20) <= 0) continue;
          ssize_t n = ::send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
          if (n < 0 && errno != EAGAIN) break;
          if (n > 0) sent += static_cast<size_t>(n);
        }
        Hold(c);
        break;
      }
    }
    ::close(c);
  }

  Mode mode_;
  std::string reply_;
  std::chrono::milliseconds replyDelay_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepts_{0};
  std::thread acceptor_;
  std::vector<std::thread> workers_;  // touched by the acceptor only until stop
  mutable std::mutex lock_;
  std::vector<std::string> requests_;
};
