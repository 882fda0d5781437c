// One browser session: its id, its data, its pages and the messages for its
// next answer. The dispatcher holds the session's lock for a whole request,
// so page code never runs twice at once for one session.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/web/WebComponent.h"
#include "platform/web/WebForm.h"

namespace web {

// The application's per-session object (the administration's user session).
class SessionData {
 public:
  virtual ~SessionData() = default;
};

class WebApplication {
 public:
  WebApplication(std::string id, std::vector<std::string> runParams, std::string browserIP);
  ~WebApplication();
  WebApplication(const WebApplication&) = delete;
  WebApplication& operator=(const WebApplication&) = delete;

  // 32 lower-case hex digits (128 random bits).
  const std::string& id() const { return id_; }
  // The "&"-separated entries of the first request's query.
  const std::vector<std::string>& runParams() const { return runParams_; }
  const std::string& browserIP() const { return browserIP_; }

  SessionData* data() const { return data_.get(); }
  void setData(std::unique_ptr<SessionData> data) { data_ = std::move(data); }

  // Creates a page owned by this session: createForm<TfrmMain>().
  template <class T, class... Args>
  T* createForm(Args&&... args) {
    auto f = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = f.get();
    forms_.push_back(std::move(f));
    return raw;
  }
  AppForm* adoptForm(std::unique_ptr<AppForm> form);
  // Hands a page of this session to a new owner (a page that embeds it);
  // nullptr when the session does not hold it.
  std::unique_ptr<AppForm> takeForm(AppForm* form);
  AppForm* activeForm() const { return active_; }
  const std::vector<std::unique_ptr<AppForm>>& forms() const { return forms_; }
  void show(AppForm* form);
  void release(AppForm* form);

  // Shown as an alert by the next answer (full or asynchronous).
  void showMessage(const std::string& text);
  // Run by the next answer once the page has loaded.
  void addScript(const std::string& js);

  // Marks the session as one that passed the login; the session cap never
  // evicts such a session for a new one.
  void setAuthenticated(bool value) { authenticated_ = value; }
  bool authenticated() const { return authenticated_; }

  // Async answers: the browser already shows this control's current state
  // (it was edited there), so it is not sent back.
  void keepClientView(Control* control);
  // Async answers: the browser changed this control itself (a busy
  // indicator), so the next answer sends it even when the server's state
  // did not change.
  void resendControl(Control* control);

  // The URL base ("" or "/prefix") of the request being served; set by the
  // dispatcher, read by pages that build addresses themselves.
  std::string urlBase;

  // --- used by the dispatcher ---
  std::mutex& dispatchMutex() { return dispatch_; }
  std::atomic<uint64_t> lastAccessMs{0};
  bool closed = false;  // under dispatchMutex
  int trackId = 0;
  RenderMap renderMap;
  std::vector<Control*> keptViews;
  std::vector<Control*> resentViews;
  std::vector<std::string> takeScripts();
  // An event runs between begin and commit or rollback: a rollback frees the
  // pages it created, cancels its releases and restores the active page.
  void beginEvent();
  bool eventSwitchedPage() const;
  void commitEvent();
  void rollbackEvent();
  // Frees the pages, then the data (the session is over).
  void close();

 private:
  std::string id_;
  std::vector<std::string> runParams_;
  std::string browserIP_;
  std::unique_ptr<SessionData> data_;
  std::vector<std::unique_ptr<AppForm>> forms_;
  AppForm* active_ = nullptr;
  std::vector<AppForm*> pendingRelease_;
  std::vector<std::string> scripts_;
  std::atomic<bool> authenticated_{false};  // read by the session table under its own lock
  std::mutex dispatch_;
  size_t formsAtBegin_ = 0;
  AppForm* activeAtBegin_ = nullptr;
};

// The session whose request this thread serves; nullptr outside a request.
WebApplication* currentApp();

// Sets currentApp() for its lifetime (the dispatcher, and tests).
class CurrentAppGuard {
 public:
  explicit CurrentAppGuard(WebApplication* app);
  ~CurrentAppGuard();
  CurrentAppGuard(const CurrentAppGuard&) = delete;
  CurrentAppGuard& operator=(const CurrentAppGuard&) = delete;

 private:
  WebApplication* previous_;
};

}  // namespace web
