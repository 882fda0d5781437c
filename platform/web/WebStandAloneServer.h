// The HTTP transport in front of the dispatcher: cpp-httplib on IPv4 with
// its worker pool. It converts requests (urlencoded and multipart bodies,
// the peer address) and answers; nothing else.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/web/WebServer.h"

namespace httplib {
class Server;
}

namespace web {

class StandAloneServer {
 public:
  // Creates the dispatcher (the controller's creation handler runs here).
  explicit StandAloneServer(std::unique_ptr<ServerControllerBase> controller);
  // Stops the transport first, then the dispatcher closes its sessions.
  ~StandAloneServer();
  StandAloneServer(const StandAloneServer&) = delete;
  StandAloneServer& operator=(const StandAloneServer&) = delete;

  // Binds Host and the controller's port (0: any free port) and serves on a
  // thread; false with Error when the port cannot be bound.
  bool start(std::string& error, const std::string& host = "0.0.0.0");
  void stop();
  bool running() const { return listener_.joinable(); }
  int port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string startURL() const;

  WebServer& server() { return *server_; }

 private:
  std::unique_ptr<WebServer> server_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  std::atomic<bool> listenEnded_{false};
  int port_ = 0;
};

}  // namespace web
