#include "platform/web/WebServer.h"

#include <openssl/rand.h>
#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <set>

#include "platform/DateTime.h"
#include "platform/web/WebEscape.h"

namespace web {

namespace {

bool StartsWithNoCase(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(std::string_view(s).substr(0, prefix.size()), prefix);
}

std::string ContentTypeFor(const std::string& name) {
  static const std::map<std::string, std::string> kTypes = {
      {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"}, {".gif", "image/gif"},
      {".png", "image/png"},  {".ico", "image/x-icon"}, {".css", "text/css"},
      {".js", "application/javascript"}, {".html", "text/html; charset=windows-1252"},
      {".htm", "text/html; charset=windows-1252"},
      {".asp", "text/html; charset=windows-1252"},  // the support page's help, support.asp
      {".txt", "text/plain; charset=windows-1252"},
      {".log", "text/plain; charset=windows-1252"}, {".pdf", "application/pdf"}};
  auto it = kTypes.find(LowerCase(ExtractFileExt(name)));
  return it == kTypes.end() ? "application/octet-stream" : it->second;
}

void NoCacheHeaders(HttpResponse& r) {
  r.setHeader("Cache-Control", "no-cache, no-store");
  r.setHeader("Pragma", "no-cache");
  r.setHeader("Expires", "-1");
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Dir + Name, or the entry of Dir whose name differs only in ASCII case.
std::string FindEntry(const std::string& dir, const std::string& name) {
  const std::string exact = dir + name;
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return "";
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (SameText(e->d_name, name)) {
      found = dir + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

AppForm* OwnerForm(Control& c) {
  Component* cur = &c;
  while (cur) {
    if (auto* f = dynamic_cast<AppForm*>(cur)) return f;
    if (cur->owner()) {
      cur = cur->owner();
    } else {
      auto* ctl = dynamic_cast<Control*>(cur);
      cur = ctl ? ctl->parent() : nullptr;
    }
  }
  return nullptr;
}

void CollectShownForms(Control& c, std::vector<AppForm*>& forms) {
  if (!c.visible) return;
  AppForm* f = OwnerForm(c);
  if (f && std::find(forms.begin(), forms.end(), f) == forms.end()) forms.push_back(f);
  for (Control* k : c.children()) CollectShownForms(*k, forms);
}

// The render hook of the page and of every other page whose controls it shows.
std::string RunRenderHooks(AppForm& root) {
  std::vector<AppForm*> forms{&root};
  for (Control* k : root.children()) CollectShownForms(*k, forms);
  std::string error;
  for (AppForm* f : forms) {
    try {
      f->onRender();
    } catch (const std::exception& e) {
      if (error.empty()) error = e.what();
    }
  }
  return error;
}

// Each rendered control's markup with its direct children's markup cut
// out (each child leaves its id in its place).
std::map<std::string, std::string> OwnMarkup(const RenderMap& map) {
  std::map<std::string, std::vector<std::string>> children;
  for (const auto& [id, c] : map) {
    if (!c.parentId.empty()) children[c.parentId].push_back(id);
  }
  std::map<std::string, std::string> out;
  for (const auto& [id, c] : map) {
    std::string own = c.html;
    auto kids = children.find(id);
    if (kids != children.end()) {
      for (const std::string& kid : kids->second) {
        const std::string& html = map.at(kid).html;
        const size_t at = own.find(html);
        if (at != std::string::npos) own.replace(at, html.size(), "\x01" + kid + "\x01");
      }
    }
    out.emplace(id, std::move(own));
  }
  return out;
}

std::vector<std::string> SplitQuery(const std::string& query) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    if (end > start) out.push_back(query.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string NewSessionId() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw Exception("No random bytes for a session id");
  static const char* const kHex = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

UrlSettings ServerControllerBase::urls() const {
  std::lock_guard lock(urlMutex_);
  return urls_;
}

void ServerControllerBase::updateUrls(const std::function<void(UrlSettings&)>& fn) {
  std::lock_guard lock(urlMutex_);
  fn(urls_);
}

WebServer::WebServer(std::unique_ptr<ServerControllerBase> controller) : controller_(std::move(controller)) {
  controller_->onCreate();
}

WebServer::~WebServer() {
  stopReaper();
  std::map<std::string, std::shared_ptr<WebApplication>> all;
  {
    std::lock_guard lock(tableMutex_);
    all.swap(sessions_);
  }
  for (auto& [id, app] : all) {
    std::unique_lock appLock(app->dispatchMutex());
    closeSession(app);
  }
  try {
    controller_->onDestroy();
  } catch (const std::exception&) {
    // A clean-up that fails must not stop the shutdown.
  }
}

HttpResponse WebServer::redirect(const std::string& url) {
  HttpResponse r;
  r.status = 302;
  r.contentType = "text/plain";
  r.setHeader("Location", url.empty() ? "/" : url);
  NoCacheHeaders(r);
  return r;
}

HttpResponse WebServer::text(int status, const std::string& body) {
  HttpResponse r;
  r.status = status;
  r.contentType = "text/plain; charset=windows-1252";
  r.body = body;
  NoCacheHeaders(r);
  return r;
}

HttpResponse WebServer::handle(const HttpRequest& req) {
  if (StartsWithNoCase(req.path, "/files/")) return serveStatic(req, req.path.substr(7), false);
  if (StartsWithNoCase(req.path, "/filesnc/")) return serveStatic(req, req.path.substr(9), true);
  try {
    controller_->onBeforeDispatch(req);
  } catch (const std::exception& e) {
    return text(500, e.what());
  }
  if (req.method == "POST") {
    std::shared_ptr<WebApplication> app = findSession(req.field("VT_SESSION"));
    if (!app) return redirect(controller_->urls().sessionTimeoutURL);
    std::unique_lock lock(app->dispatchMutex());
    if (app->closed) return redirect(controller_->urls().sessionTimeoutURL);
    CurrentAppGuard guard(app.get());
    app->lastAccessMs = GetTickCount64();
    app->urlBase = controller_->urls().urlBase;
    HttpResponse r = dispatch(*app, req);
    app->lastAccessMs = GetTickCount64();
    return r;
  }
  if ((req.method == "GET" || req.method == "HEAD") && req.path == controller_->settings.startCommand) {
    return newSession(req);
  }
  return redirect(controller_->urls().invalidCommandURL);
}

HttpResponse WebServer::newSession(const HttpRequest& req) {
  auto app = std::make_shared<WebApplication>(NewSessionId(), SplitQuery(req.query), req.peerAddress);
  std::unique_lock appLock(app->dispatchMutex());
  CurrentAppGuard guard(app.get());
  app->lastAccessMs = GetTickCount64();
  app->urlBase = controller_->urls().urlBase;
  try {
    app->beginEvent();
    controller_->onNewSession(*app);
    if (!app->activeForm() && controller_->mainForm()) {
      AppForm* start = controller_->mainForm()(*app);
      if (start && !app->activeForm()) app->show(start);
    }
    app->commitEvent();
  } catch (const SilentException& e) {
    app->close();
    return text(403, e.Message());
  } catch (const std::exception& e) {
    app->close();
    return text(500, e.what());
  }
  {
    std::lock_guard lock(tableMutex_);
    if (sessions_.size() >= controller_->settings.maxSessions && !makeRoomForSession()) {
      app->close();
      return text(503, "Too many sessions");
    }
    sessions_[app->id()] = app;
  }
  return renderFull(*app, "");
}

// Called with the table locked: closes the longest-idle session that never
// logged in and is not busy, so anonymous requests can never fill the table
// against an administrator.
bool WebServer::makeRoomForSession() {
  std::shared_ptr<WebApplication> victim;
  uint64_t oldest = UINT64_MAX;
  for (auto& [id, app] : sessions_) {
    if (app->authenticated()) continue;
    const uint64_t last = app->lastAccessMs;
    if (last < oldest) {
      std::unique_lock probe(app->dispatchMutex(), std::try_to_lock);
      if (!probe.owns_lock() || app->authenticated()) continue;
      oldest = last;
      victim = app;
    }
  }
  if (!victim) return false;
  std::unique_lock victimLock(victim->dispatchMutex(), std::try_to_lock);
  if (!victimLock.owns_lock()) return false;
  sessions_.erase(victim->id());
  closeSession(victim);
  return true;
}

void WebServer::closeSession(const std::shared_ptr<WebApplication>& app) {
  app->closed = true;
  CurrentAppGuard guard(app.get());
  try {
    controller_->onCloseSession(*app);
  } catch (const std::exception&) {
    // The session ends whatever its clean-up says.
  }
  app->close();
}

std::shared_ptr<WebApplication> WebServer::findSession(const std::string& id) const {
  if (id.empty()) return nullptr;
  std::lock_guard lock(tableMutex_);
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : it->second;
}

size_t WebServer::sessionCount() const {
  std::lock_guard lock(tableMutex_);
  return sessions_.size();
}

size_t WebServer::reapIdleSessions() {
  const uint64_t limit = static_cast<uint64_t>(controller_->settings.sessionTimeoutMinutes) * 60000u;
  std::vector<std::pair<std::shared_ptr<WebApplication>, std::unique_lock<std::mutex>>> victims;
  {
    std::lock_guard lock(tableMutex_);
    const uint64_t now = GetTickCount64();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      auto& app = it->second;
      if (now - app->lastAccessMs > limit) {
        std::unique_lock appLock(app->dispatchMutex(), std::try_to_lock);
        if (appLock.owns_lock() && now - app->lastAccessMs > limit) {
          victims.emplace_back(app, std::move(appLock));
          it = sessions_.erase(it);
          continue;
        }
      }
      ++it;
    }
  }
  for (auto& [app, lock] : victims) closeSession(app);
  return victims.size();
}

void WebServer::startReaper() {
  if (reaper_.joinable()) return;
  reaperStop_ = false;
  reaper_ = std::thread([this] {
    std::unique_lock lock(reaperMutex_);
    while (!reaperWake_.wait_for(lock, std::chrono::seconds(60), [this] { return reaperStop_; })) {
      lock.unlock();
      reapIdleSessions();
      lock.lock();
    }
  });
}

void WebServer::stopReaper() {
  {
    std::lock_guard lock(reaperMutex_);
    reaperStop_ = true;
  }
  reaperWake_.notify_all();
  if (reaper_.joinable()) reaper_.join();
}

HttpResponse WebServer::serveStatic(const HttpRequest&, const std::string& rest, bool noCache) {
  std::vector<std::string> segments;
  std::string cur;
  for (char c : rest + "/") {
    if (c == '/' || c == '\\') {
      if (cur == "..") return text(403, "Forbidden");
      if (!cur.empty() && cur != ".") segments.push_back(cur);
      cur.clear();
    } else if (c == '\0') {
      return text(403, "Forbidden");
    } else {
      cur += c;
    }
  }
  HttpResponse r;
  if (segments.size() == 1 && SameText(segments[0], "vtfw.js")) {
    r.contentType = "application/javascript";
    r.body = ClientScript();
    if (noCache) NoCacheHeaders(r);
    return r;
  }
  const std::string& root = controller_->settings.filesDir;
  if (segments.empty() || root.empty()) return text(404, "Not found");
  if (!controller_->settings.allowSubFolders && segments.size() > 1) return text(404, "Not found");
  std::string path = IncludeTrailingPathDelimiter(root);
  for (size_t i = 0; i < segments.size(); ++i) {
    const std::string found = FindEntry(path, segments[i]);
    if (found.empty()) return text(404, "Not found");
    if (i == 0 && (!sessionFileAllowed(segments[0]) || !sessionFileAllowed(ExtractFileName(found)))) {
      return text(404, "Not found");
    }
    path = i + 1 < segments.size() ? found + "/" : found;
  }
  // A link inside the folder must not lead out of it.
  const std::string realRoot = RealPath(root);
  const std::string realFile = RealPath(path);
  if (realRoot.empty() || realFile.compare(0, realRoot.size() + 1, realRoot + "/") != 0 || !IsRegularFile(realFile)) {
    return text(404, "Not found");
  }
  try {
    const std::vector<uint8_t> bytes = ReadFileBytes(realFile);
    r.body.assign(bytes.begin(), bytes.end());
  } catch (const std::exception&) {
    return text(404, "Not found");
  }
  r.contentType = ContentTypeFor(realFile);
  if (noCache) NoCacheHeaders(r);
  return r;
}

bool WebServer::sessionFileAllowed(const std::string& name) const {
  if (name.size() < 2 || name[0] != '0' || name[1] != '_') return true;
  const size_t end = name.find('_', 2);
  if (end == std::string::npos) return false;
  const std::shared_ptr<WebApplication> app = findSession(name.substr(2, end - 2));
  return app != nullptr;
}

HttpResponse WebServer::dispatch(WebApplication& app, const HttpRequest& req) {
  if (req.field("VT_ASYNC") == "1") return asyncPost(app, req);
  std::string error;
  if (req.field("VT_TRACK") == IntToStr(app.trackId)) {
    applyPost(app, req);
    error = fireEvent(app, req);
  }
  return renderFull(app, error);
}

void WebServer::applyPost(WebApplication& app, const HttpRequest& req) {
  AppForm* form = app.activeForm();
  if (!form) return;
  RenderContext ctx(*form, "");
  ForEachControl(ctx, *form, [&](Control& c, const std::string& id) {
    auto it = app.renderMap.find(id);
    if (it != app.renderMap.end() && it->second.input) c.applyPost(req, id);
  });
}

std::string WebServer::fireEvent(WebApplication& app, const HttpRequest& req) {
  const std::string event = req.field("VT_EVENT");
  const size_t dot = event.rfind('.');
  AppForm* form = app.activeForm();
  if (dot == std::string::npos || !form) return "";
  const std::string id = event.substr(0, dot);
  const std::string name = event.substr(dot + 1);
  auto seen = app.renderMap.find(id);
  if (seen == app.renderMap.end() || !seen->second.active) return "";
  Control* target = nullptr;
  RenderContext ctx(*form, "");
  ForEachControl(ctx, *form, [&](Control& c, const std::string& cid) {
    if (!target && cid == id) target = &c;
  });
  if (!target) return "";
  app.beginEvent();
  try {
    target->fire(name, req.form);
    return "";
  } catch (const std::exception& e) {
    app.rollbackEvent();
    return e.what();
  }
}

HttpResponse WebServer::renderFull(WebApplication& app, const std::string& errorText) {
  app.commitEvent();
  AppForm* form = app.activeForm();
  if (!form) return text(200, "");
  std::string error = errorText;
  const std::string renderError = RunRenderHooks(*form);
  if (error.empty()) error = renderError;
  const UrlSettings urls = controller_->urls();
  RenderContext ctx(*form, urls.urlBase);
  PageRenderInput in;
  in.urlBase = urls.urlBase;
  in.sessionId = app.id();
  in.trackId = ++app.trackId;
  in.scripts = app.takeScripts();
  if (!error.empty()) in.scripts.push_back("alert(" + JsString(error) + ");");
  in.errorText = error;
  in.showLoadingAnimation = controller_->settings.showLoadingAnimation;
  HttpResponse r;
  r.body = RenderPage(*form, ctx, in);
  app.renderMap = std::move(ctx.rendered);
  NoCacheHeaders(r);
  return r;
}

HttpResponse WebServer::asyncPost(WebApplication& app, const HttpRequest& req) {
  HttpResponse r;
  r.contentType = "application/json; charset=windows-1252";
  NoCacheHeaders(r);
  if (req.field("VT_TRACK") != IntToStr(app.trackId)) {
    r.body = "{\"updates\":[],\"scripts\":[],\"reload\":true}";
    return r;
  }
  applyPost(app, req);
  std::string error = fireEvent(app, req);
  const bool switched = app.eventSwitchedPage();
  app.commitEvent();
  AppForm* form = app.activeForm();
  std::string updates;
  bool reload = switched || !form;
  if (!reload) {
    const std::string renderError = RunRenderHooks(*form);
    if (error.empty()) error = renderError;
    RenderContext ctx(*form, controller_->urls().urlBase);
    std::string ignored;
    for (Control* c : std::vector<Control*>(form->children())) c->render(ctx, ignored);
    std::set<std::string> kept;
    for (Control* c : app.keptViews) kept.insert(ctx.idOf(*c));
    app.keptViews.clear();
    // A container counts as changed by its own markup only; a child that
    // changed is sent by itself, so the rest of the container (an input
    // being typed in, a kept view) stays as the browser has it.
    const std::map<std::string, std::string> before = OwnMarkup(app.renderMap);
    const std::map<std::string, std::string> after = OwnMarkup(ctx.rendered);
    std::set<std::string> changed;
    for (const auto& [id, now] : after) {
      auto old = before.find(id);
      if ((old == before.end() || old->second != now) && !kept.count(id)) changed.insert(id);
    }
    for (Control* c : app.resentViews) {
      const std::string id = ctx.idOf(*c);
      if (ctx.rendered.count(id) && !kept.count(id)) changed.insert(id);
    }
    app.resentViews.clear();
    for (const std::string& id : changed) {
      // Sent inside its parent when that is sent too.
      bool inner = false;
      for (std::string p = ctx.rendered[id].parentId; !p.empty(); p = ctx.rendered[p].parentId) {
        if (changed.count(p)) {
          inner = true;
          break;
        }
      }
      if (inner) continue;
      if (!app.renderMap.count(id)) {
        reload = true;  // new at the top: the browser has no element to replace
        break;
      }
      if (!updates.empty()) updates += ",";
      updates += "{\"id\":" + JsonString(id + "IWCL") + ",\"html\":" + JsonString(ctx.rendered[id].html) + "}";
    }
    if (!reload) app.renderMap = std::move(ctx.rendered);
  }
  std::vector<std::string> scripts = app.takeScripts();
  if (!error.empty()) scripts.push_back("alert(" + JsString(error) + ");");
  if (reload) {
    // The full post that follows shows the page and the queued messages.
    for (const auto& s : scripts) app.addScript(s);
    r.body = "{\"updates\":[],\"scripts\":[],\"reload\":true}";
    return r;
  }
  std::string s;
  for (const auto& js : scripts) s += (s.empty() ? "" : ",") + JsonString(js);
  r.body = "{\"updates\":[" + updates + "],\"scripts\":[" + s + "],\"reload\":false}";
  return r;
}

}  // namespace web
