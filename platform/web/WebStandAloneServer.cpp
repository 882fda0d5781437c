#include "platform/web/WebStandAloneServer.h"

#include <httplib.h>

#include <memory>

namespace web {

namespace {

HttpRequest Convert(const httplib::Request& in) {
  HttpRequest r;
  r.method = in.method;
  r.path = in.path;
  const size_t q = in.target.find('?');
  if (q != std::string::npos) r.query = in.target.substr(q + 1);
  for (const auto& [k, v] : in.headers) r.headers.emplace_back(k, v);
  r.peerAddress = in.remote_addr;
  if (in.method == "POST") {
    if (in.is_multipart_form_data()) {
      // Text fields come as parts without a file name; they belong to the form.
      for (const auto& [name, part] : in.files) {
        if (part.filename.empty()) {
          r.form.emplace(name, part.content);
        } else {
          r.files.push_back(UploadedFile{name, part.filename, part.content_type, part.content});
        }
      }
    } else {
      ParseUrlEncoded(in.body, r.form);
    }
  }
  return r;
}

// The administration's answers go out as the dispatcher made them. The
// library compresses a body set with set_content whenever the browser accepts
// gzip or br (its build enables both); a body of known length handed over by
// a provider is written as it is.
void Answer(HttpResponse&& from, httplib::Response& to) {
  to.status = from.status;
  for (const auto& [k, v] : from.headers) to.set_header(k, v);
  if (from.body.empty()) {
    to.set_content("", from.contentType);
    return;
  }
  auto body = std::make_shared<const std::string>(std::move(from.body));
  to.set_content_provider(body->size(), from.contentType,
                          [body](size_t offset, size_t length, httplib::DataSink& sink) {
                            return sink.write(body->data() + offset, length);
                          });
}

}  // namespace

StandAloneServer::StandAloneServer(std::unique_ptr<ServerControllerBase> controller)
    : server_(std::make_unique<WebServer>(std::move(controller))) {}

StandAloneServer::~StandAloneServer() {
  stop();
  server_.reset();
}

bool StandAloneServer::start(std::string& error, const std::string& host) {
  if (running()) return true;
  const ControllerSettings& s = server_->controller().settings;
  http_ = std::make_unique<httplib::Server>();
  const int threads = s.threadPoolSize > 0 ? s.threadPoolSize : 32;
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http_->set_payload_max_length(s.maxBodyBytes);
  http_->set_keep_alive_timeout(s.keepAliveSeconds);
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    try {
      Answer(server_->handle(Convert(req)), res);
    } catch (const std::exception& e) {
      HttpResponse failed;
      failed.status = 500;
      failed.contentType = "text/plain";
      failed.body = e.what();
      Answer(std::move(failed), res);
    }
  };
  http_->Get(".*", serve);
  http_->Post(".*", serve);
  if (s.port > 0) {
    if (!http_->bind_to_port(host, s.port)) {
      error = "Web Admin could not bind " + host + ":" + std::to_string(s.port);
      http_.reset();
      return false;
    }
    port_ = s.port;
  } else {
    port_ = http_->bind_to_any_port(host);
    if (port_ <= 0) {
      error = "Web Admin could not bind a port on " + host;
      http_.reset();
      return false;
    }
  }
  httplib::Server* http = http_.get();
  listenEnded_ = false;
  listener_ = std::thread([this, http] {
    http->listen_after_bind();
    listenEnded_ = true;
  });
  server_->startReaper();
  return true;
}

void StandAloneServer::stop() {
  // The transport ignores a stop before its loop runs; wait for the loop.
  while (listener_.joinable() && !http_->is_running() && !listenEnded_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (http_) http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
  if (server_) server_->stopReaper();
}

std::string StandAloneServer::startURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

}  // namespace web
