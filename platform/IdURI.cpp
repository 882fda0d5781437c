#include "platform/IdURI.h"

namespace {

bool IsSchemeText(std::string_view s) {
  if (s.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!alpha(s[0])) return false;
  for (char c : s) {
    if (!alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

void CheckPort(std::string_view port) {
  if (port.size() > 5) throw EIdURIException("Invalid port: " + std::string(port));
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') throw EIdURIException("Invalid port: " + std::string(port));
    value = value * 10 + (c - '0');
  }
  if (value > 65535) throw EIdURIException("Invalid port: " + std::string(port));
}

}  // namespace

void TIdURI::SetURI(std::string_view uri) {
  Clear();
  std::string_view s = uri;
  if (auto hash = s.find('#'); hash != std::string_view::npos) {
    Fragment = std::string(s.substr(hash + 1));
    s = s.substr(0, hash);
  }
  if (auto q = s.find('?'); q != std::string_view::npos) {
    Query = std::string(s.substr(q));
    s = s.substr(0, q);
  }

  std::string_view pathPart = s;
  auto sep = s.find("://");
  if (sep != std::string_view::npos && IsSchemeText(s.substr(0, sep))) {
    Protocol = std::string(s.substr(0, sep));
    std::string_view rest = s.substr(sep + 3);
    auto slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    pathPart = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
    for (char c : authority) {
      if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) {
        throw EIdURIException("Invalid characters in URI authority");
      }
    }
    if (auto at = authority.rfind('@'); at != std::string_view::npos) {
      std::string_view user = authority.substr(0, at);
      authority = authority.substr(at + 1);
      auto colon = user.find(':');
      Username = std::string(user.substr(0, colon));
      if (colon != std::string_view::npos) Password = std::string(user.substr(colon + 1));
    }
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority[0] == '[') {
      auto close = authority.find(']');
      if (close == std::string_view::npos) throw EIdURIException("Invalid IPv6 host in URI");
      Host = std::string(authority.substr(0, close + 1));
      std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after[0] != ':') throw EIdURIException("Invalid IPv6 host in URI");
        portText = after.substr(1);
        hasPort = true;
      }
    } else {
      auto colon = authority.find(':');
      Host = std::string(authority.substr(0, colon));
      if (colon != std::string_view::npos) {
        portText = authority.substr(colon + 1);
        hasPort = true;
      }
    }
    if (hasPort) {
      CheckPort(portText);
      Port = std::string(portText);
    }
    if (pathPart.empty()) pathPart = "/";
  }

  auto last = pathPart.rfind('/');
  if (last == std::string_view::npos) {
    Document = std::string(pathPart);
  } else {
    Path = std::string(pathPart.substr(0, last + 1));
    Document = std::string(pathPart.substr(last + 1));
  }
}

std::string TIdURI::GetURI() const {
  if (Protocol.empty()) throw EIdURIException("Protocol field is empty");
  std::string result = Protocol + "://";
  if (!Username.empty()) {
    result += Username;
    if (!Password.empty()) result += ":" + Password;
    result += "@";
  }
  result += Host;
  if (!Port.empty()) result += ":" + Port;
  if (Path.empty() || Path[0] != '/') result += "/";
  result += Path;
  result += Document;
  result += Query;
  if (!Fragment.empty()) result += "#" + Fragment;
  return result;
}
