#include "platform/web/WebApplication.h"

#include <algorithm>

#include "platform/web/WebEscape.h"

namespace web {

namespace {
thread_local WebApplication* tCurrentApp = nullptr;
}

WebApplication* currentApp() { return tCurrentApp; }

CurrentAppGuard::CurrentAppGuard(WebApplication* app) : previous_(tCurrentApp) { tCurrentApp = app; }
CurrentAppGuard::~CurrentAppGuard() { tCurrentApp = previous_; }

WebApplication::WebApplication(std::string id, std::vector<std::string> runParams, std::string browserIP)
    : id_(std::move(id)), runParams_(std::move(runParams)), browserIP_(std::move(browserIP)) {}

WebApplication::~WebApplication() { close(); }

void WebApplication::close() {
  CurrentAppGuard guard(this);  // page destroy handlers may ask for their session
  active_ = nullptr;
  pendingRelease_.clear();
  keptViews.clear();
  resentViews.clear();
  renderMap.clear();
  while (!forms_.empty()) {
    std::unique_ptr<AppForm> last = std::move(forms_.back());
    forms_.pop_back();
    last.reset();
  }
  data_.reset();
}

AppForm* WebApplication::adoptForm(std::unique_ptr<AppForm> form) {
  forms_.push_back(std::move(form));
  return forms_.back().get();
}

std::unique_ptr<AppForm> WebApplication::takeForm(AppForm* form) {
  auto it = std::find_if(forms_.begin(), forms_.end(), [form](const auto& p) { return p.get() == form; });
  if (it == forms_.end()) return nullptr;
  // The pages an event made stay the ones after formsAtBegin_.
  if (static_cast<size_t>(it - forms_.begin()) < formsAtBegin_) --formsAtBegin_;
  std::unique_ptr<AppForm> taken = std::move(*it);
  forms_.erase(it);
  if (active_ == form) active_ = nullptr;
  return taken;
}

void WebApplication::show(AppForm* form) { active_ = form; }

void WebApplication::release(AppForm* form) {
  if (std::find(pendingRelease_.begin(), pendingRelease_.end(), form) == pendingRelease_.end()) {
    pendingRelease_.push_back(form);
  }
}

void WebApplication::showMessage(const std::string& text) { scripts_.push_back("alert(" + JsString(text) + ");"); }

void WebApplication::addScript(const std::string& js) { scripts_.push_back(js); }

void WebApplication::keepClientView(Control* control) { keptViews.push_back(control); }

void WebApplication::resendControl(Control* control) { resentViews.push_back(control); }

std::vector<std::string> WebApplication::takeScripts() { return std::exchange(scripts_, {}); }

void WebApplication::beginEvent() {
  formsAtBegin_ = forms_.size();
  activeAtBegin_ = active_;
  keptViews.clear();
  resentViews.clear();
}

bool WebApplication::eventSwitchedPage() const { return active_ != activeAtBegin_ || !pendingRelease_.empty(); }

void WebApplication::commitEvent() {
  std::vector<AppForm*> doomed = std::exchange(pendingRelease_, {});
  for (AppForm* f : doomed) {
    auto it = std::find_if(forms_.begin(), forms_.end(), [f](const auto& p) { return p.get() == f; });
    if (it == forms_.end()) continue;
    std::unique_ptr<AppForm> gone = std::move(*it);
    forms_.erase(it);
    if (active_ == f) active_ = nullptr;
    gone.reset();
  }
  if (!active_ && !forms_.empty()) active_ = forms_.back().get();
  formsAtBegin_ = forms_.size();
  activeAtBegin_ = active_;
}

void WebApplication::rollbackEvent() {
  pendingRelease_.clear();
  while (forms_.size() > formsAtBegin_) {
    std::unique_ptr<AppForm> last = std::move(forms_.back());
    forms_.pop_back();
    last.reset();
  }
  active_ = activeAtBegin_;
}

}  // namespace web
