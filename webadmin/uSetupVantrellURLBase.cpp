#include "webadmin/uSetupVantrellURLBase.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "HTTPRedirect/uEngineHooks.h"
#include "platform/DateTime.h"
#include "platform/SysUtils.h"

namespace {

constexpr size_t kMaxPathBytes = 255;
// A flood of refused values costs one event line a minute.
constexpr uint64_t kRefusalLineIntervalMs = 60000;

struct BaseState {
  std::mutex mutex;
  std::string last;  // only ever a value that passed the check
  bool refusalLogged = false;
  uint64_t refusalLineMs = 0;
  int unlogged = 0;  // refusals since the last line
};

BaseState& State() {
  static BaseState state;
  return state;
}

bool IsPathChar(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("-._~!$&()*+,;=:@%/").find(static_cast<char>(c)) != std::string_view::npos;
}

// One "/" in front and never two in a row (a "//" makes the rest a host to a
// browser), only unreserved characters, sub-delimiters, ":", "@", "%" and "/":
// no scheme, quote, "<", backslash, blank or control byte.
bool IsPlainPath(std::string_view p) {
  return !p.empty() && p.size() <= kMaxPathBytes && p[0] == '/' && p.find("//") == std::string_view::npos &&
         std::all_of(p.begin(), p.end(), [](char c) { return IsPathChar(static_cast<unsigned char>(c)); });
}

// The switch sends its matched path, a blank and its replacement: empty, one
// plain path, or two separated by one blank.
bool IsValidPathRewrite(std::string_view v) {
  if (v.empty()) return true;
  const size_t blank = v.find(' ');
  if (blank == std::string_view::npos) return IsPlainPath(v);
  return IsPlainPath(v.substr(0, blank)) && IsPlainPath(v.substr(blank + 1));
}

// The event line for a refused value, or "" while the last one is recent.
// Called with the state locked; the value itself is never written anywhere.
std::string RefusalLine(BaseState& s, const std::string& peer) {
  const uint64_t now = GetTickCount64();
  if (s.refusalLogged && now - s.refusalLineMs < kRefusalLineIntervalMs) {
    ++s.unlogged;
    return "";
  }
  std::string line = "Ignored VTPathRewrite header from " + peer + ": not a plain path";
  if (s.unlogged > 0) line += " (" + IntToStr(s.unlogged) + " more ignored since the last line)";
  s.refusalLogged = true;
  s.refusalLineMs = now;
  s.unlogged = 0;
  return line;
}

}  // namespace

std::string LastPathRewrite() {
  std::lock_guard lock(State().mutex);
  return State().last;
}

void ResetLastPathRewrite() {
  BaseState& s = State();
  std::lock_guard lock(s.mutex);
  s.last.clear();
  s.refusalLogged = false;
  s.refusalLineMs = 0;
  s.unlogged = 0;
}

void SetupVantrellURLBase(web::ServerControllerBase& controller, const web::HttpRequest& request) {
  const std::string v = request.header("VTPathRewrite");
  BaseState& s = State();
  std::string refusal;
  {
    std::lock_guard lock(s.mutex);
    if (v == s.last) return;
    if (!IsValidPathRewrite(v)) {
      // Any client may send the header, also one refused a session: a value
      // that is no plain path would send every session's scripts and posts
      // elsewhere, so it changes nothing.
      refusal = RefusalLine(s, request.peerAddress);
    } else {
      s.last = v;
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
  }
  // Outside the lock: the log hook may wait for the main loop.
  if (!refusal.empty()) EngineHooks::WebAdminLog(nullptr, refusal);
}
