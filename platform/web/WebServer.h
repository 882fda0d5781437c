// The dispatcher: one pure function from a request to its answer, holding
// the session table. Static files, new sessions, full and asynchronous posts
// and page renders all pass through handle(); the HTTP transport in front of
// it only converts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/web/WebApplication.h"
#include "platform/web/WebHttp.h"

namespace web {

// Raised by a new-session handler to refuse the session; the browser gets
// 403 with the message and nothing is kept.
VT_DECLARE_EXCEPTION(SilentException, Exception);

using FormFactory = std::function<AppForm*(WebApplication&)>;

// The URL settings, which the before-dispatch handler may change while other
// requests read them.
struct UrlSettings {
  std::string urlBase;                 // "" or "/prefix", no trailing "/"
  std::string sessionTimeoutURL = "/";
  std::string invalidCommandURL = "/";
  std::string unknownBrowserURL = "/Files/HTML/NotSupported.html";
};

struct ControllerSettings {
  std::string appName;
  std::string description;
  int port = 0;  // 0: any free port
  int sessionTimeoutMinutes = 600;
  int threadPoolSize = 32;
  std::string startCommand = "/";
  std::string filesDir;  // served at /files/ and /filesnc/, with a trailing "/"
  bool allowSubFolders = true;
  bool showLoadingAnimation = true;
  size_t maxSessions = 256;
  size_t maxBodyBytes = 16u << 20;
  int keepAliveSeconds = 5;
};

class ServerControllerBase {
 public:
  virtual ~ServerControllerBase() = default;
  ControllerSettings settings;

  UrlSettings urls() const;
  // Runs Fn on the URL settings under their lock (a whole compare-and-update).
  void updateUrls(const std::function<void(UrlSettings&)>& fn);

  // The start page of a new session unless the new-session handler picks one.
  void setMainForm(FormFactory factory) { mainForm_ = std::move(factory); }
  const FormFactory& mainForm() const { return mainForm_; }

  virtual std::string className() const { return "ServerControllerBase"; }
  virtual void onCreate() {}
  // May create and show the start page itself (then the main form is not
  // created), or raise SilentException.
  virtual void onNewSession(WebApplication&) {}
  virtual void onBeforeDispatch(const HttpRequest&) {}
  virtual void onCloseSession(WebApplication&) {}
  virtual void onDestroy() {}

 private:
  mutable std::mutex urlMutex_;
  UrlSettings urls_;
  FormFactory mainForm_;
};

class WebServer {
 public:
  // Runs the controller's creation handler; its error propagates.
  explicit WebServer(std::unique_ptr<ServerControllerBase> controller);
  // Stops the reaper, closes every session, then the controller's destroy handler.
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  HttpResponse handle(const HttpRequest& req);

  ServerControllerBase& controller() { return *controller_; }

  // Closes the sessions idle for longer than the time-out; a session whose
  // request is running is skipped. Returns how many were closed.
  size_t reapIdleSessions();
  // A thread that reaps once a minute until stopReaper.
  void startReaper();
  void stopReaper();

  size_t sessionCount() const;
  std::shared_ptr<WebApplication> findSession(const std::string& id) const;

 private:
  HttpResponse serveStatic(const HttpRequest& req, const std::string& rest, bool noCache);
  // Session files, "0_<session id>_..." at the top of the files folder (the
  // log download copies), are served only while that session lives: a
  // window opened by script carries no session, so the name is all it has.
  bool sessionFileAllowed(const std::string& name) const;
  HttpResponse newSession(const HttpRequest& req);
  HttpResponse dispatch(WebApplication& app, const HttpRequest& req);
  HttpResponse asyncPost(WebApplication& app, const HttpRequest& req);
  HttpResponse renderFull(WebApplication& app, const std::string& errorText);
  void applyPost(WebApplication& app, const HttpRequest& req);
  // Finds the event's control in the last render and fires it inside an
  // event; the error text when it raised.
  std::string fireEvent(WebApplication& app, const HttpRequest& req);
  void closeSession(const std::shared_ptr<WebApplication>& app);
  bool makeRoomForSession();
  static HttpResponse redirect(const std::string& url);
  static HttpResponse text(int status, const std::string& body);

  std::unique_ptr<ServerControllerBase> controller_;
  mutable std::mutex tableMutex_;
  std::map<std::string, std::shared_ptr<WebApplication>> sessions_;

  std::mutex reaperMutex_;
  std::condition_variable reaperWake_;
  bool reaperStop_ = false;
  std::thread reaper_;
};

// A new 128-bit session id: 32 lower-case hex digits from the system's
// cryptographic generator.
std::string NewSessionId();

// The client script served at /files/vtfw.js.
const std::string& ClientScript();

}  // namespace web
