#include "tests/Common/ClientRoadHost.h"

#include "platform/SysUtils.h"

namespace roadtest {

std::string Response::Header(const std::string& name) const {
  const std::string key = "\r\n" + LowerCase(name) + ":";
  const std::string lower = LowerCase(head);
  const size_t at = lower.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return Trim(head.substr(start, head.find("\r\n", start) - start));
}

bool Client::Fill() {
  std::string more = peer_.Receive(1);
  if (more.empty()) return false;
  buffer_ += more;
  buffer_ += peer_.ReceiveFor(0);
  return true;
}

std::string Client::Take(size_t n) {
  std::string out = buffer_.substr(0, n);
  buffer_.erase(0, out.size());
  return out;
}

Response Client::ReadResponse(bool noBody) {
  Response r;
  while (buffer_.find("\r\n\r\n") == std::string::npos) {
    if (!Fill()) return r;
  }
  r.head = Take(buffer_.find("\r\n\r\n") + 4);
  if (noBody) {
    r.complete = true;
    return r;
  }
  if (SameText(r.Header("Transfer-Encoding"), "chunked")) {
    while (true) {
      while (buffer_.find("\r\n") == std::string::npos) {
        if (!Fill()) return r;
      }
      const std::string sizeLine = Take(buffer_.find("\r\n") + 2);
      const size_t size = std::stoul(sizeLine, nullptr, 16);
      while (buffer_.size() < size + 2) {
        if (!Fill()) return r;
      }
      r.body += Take(size);
      if (Take(2) != "\r\n") return r;
      if (size == 0) break;
    }
    r.complete = true;
    return r;
  }
  const std::string length = r.Header("Content-Length");
  if (!length.empty()) {
    const size_t n = std::stoul(length);
    while (buffer_.size() < n) {
      if (!Fill()) break;
    }
    r.body = Take(n);
    r.complete = r.body.size() == n;
    return r;
  }
  while (Fill()) {
  }
  r.body = Take(buffer_.size());
  r.complete = true;
  return r;
}

std::string Client::ReadUntil(const std::string& marker) {
  while (buffer_.find(marker) == std::string::npos) {
    if (!Fill()) return "";
  }
  return Take(buffer_.find(marker) + marker.size());
}

std::string Client::ReadUntilClose() {
  while (Fill()) {
  }
  return Take(buffer_.size());
}

RoadHost::RoadHost() {
  stats_.ServerState = 1;
  stats_.PoolSize = 40;
  Handler().LogOptions = 7;
  limits_.ReadStepMs = 50;
  limits_.SlowHeadMs = 300;
  limits_.HeadLimitMs = 4000;
  limits_.IdleLimitMs = 3000;
  limits_.ConnectTimeoutMs = 2000;

  pool_.SetThreadClass([] { return std::make_unique<TClientThread>(); });
  server_.SetThreadPool(&pool_);
  server_.AddBinding("127.0.0.1", 0);
  server_.SetOnConnect([this](PeerThread& peer) {
    auto& thread = static_cast<TClientThread&>(peer);
    thread.Stats = &stats_;
    thread.IsHTTPS = 0;
    thread.Limits = limits_;
    thread.Connection()->SetMaxLineLength(524288);
    thread.RegisterConnection();
  });
  server_.SetOnExecute([this](PeerThread& peer) {
    auto& thread = static_cast<TClientThread&>(peer);
    if (!thread.OnLog) {
      thread.OnLog = [this](const std::string& text, TClientThread*) {
        if (!KeepLogs) return;
        std::lock_guard<std::mutex> g(logMutex_);
        log_.push_back(text);
      };
    }
    if (!thread.OnW3CLog) {
      thread.OnW3CLog = [this](const std::string& text, TClientThread*) {
        if (!KeepLogs) return;
        std::lock_guard<std::mutex> g(logMutex_);
        w3c_.push_back(text);
      };
    }
    struct Active {
      explicit Active(std::atomic<int>& most) {
        const int now = ActiveThreads.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
      }
      ~Active() { ActiveThreads.fetch_sub(1); }
    } active(MostActive);
    thread.HandleConnection();
  });
  server_.SetActive(true);
  port_ = server_.ListeningPort(0);
}

RoadHost::~RoadHost() { server_.SetActive(false); }

TDomain* RoadHost::AddDomain(const std::string& host, int port) {
  WriteLockGuard g(Handler().Synchronizer);
  TDomain* domain = Handler().AddDomain();
  domain->DomainName = host;
  domain->SiteName = host;
  domain->ListenOnPort = port_;
  domain->DefaultTargetAddress = "127.0.0.1";
  domain->OutPort = port;
  return domain;
}

void RoadHost::ClearDomains() {
  WriteLockGuard g(Handler().Synchronizer);
  Handler().Domains.Clear();
}

std::vector<std::string> RoadHost::Log() {
  std::lock_guard<std::mutex> g(logMutex_);
  return log_;
}

std::vector<std::string> RoadHost::W3C() {
  std::lock_guard<std::mutex> g(logMutex_);
  return w3c_;
}

bool RoadHost::Logged(const std::string& text) {
  return WaitUntil([&] {
    for (const std::string& line : Log()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  });
}

}  // namespace roadtest
