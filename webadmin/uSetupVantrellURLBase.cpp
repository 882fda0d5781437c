#include "webadmin/uSetupVantrellURLBase.h"

#include <mutex>

namespace {

std::mutex& BaseMutex() {
  static std::mutex m;
  return m;
}

std::string& LastValue() {
  static std::string value;
  return value;
}

}  // namespace

std::string LastPathRewrite() {
  std::lock_guard lock(BaseMutex());
  return LastValue();
}

void ResetLastPathRewrite() {
  std::lock_guard lock(BaseMutex());
  LastValue().clear();
}

void SetupVantrellURLBase(web::ServerControllerBase& controller, const web::HttpRequest& request) {
  const std::string v = request.header("VTPathRewrite");
  std::lock_guard lock(BaseMutex());
  if (v == LastValue()) return;
  LastValue() = v;
  const size_t blank = v.find(' ');
  std::string base = blank == std::string::npos ? std::string() : v.substr(0, blank);
  if (!base.empty() && base.back() == '/') base.pop_back();
  const std::string start = controller.settings.startCommand;
  controller.updateUrls([&](web::UrlSettings& u) {
    if (base == u.urlBase) return;
    u.urlBase = base;
    u.sessionTimeoutURL = base + start;
    u.invalidCommandURL = base + start;
    u.unknownBrowserURL = base + "/Files/HTML/NotSupported.html";
  });
}
