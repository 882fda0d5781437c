#include "Common/uDirectReplies.h"

#include "platform/SysUtils.h"

namespace {

// No "?" and a "/" in the text from the last "." on: the address names a
// folder whose name or parent holds a dot, so it gets a trailing slash.
bool LooksLikeFolder(std::string_view url) {
  if (url.find('?') != std::string_view::npos) return false;
  const size_t dot = url.rfind('.');
  if (dot == std::string_view::npos) return false;
  return url.substr(dot).find('/') != std::string_view::npos;
}

const TServerChoiceFailure kServerChoiceFailures[] = {
    {0, "Load balancing request was not filled! (Client IP=%s, Cluster=%s)",
     "500 Load Balancing failed to find a server"},
    {5, "Load balancing request was not filled - no server capacity! (Client IP=%s, Cluster=%s)",
     "500 Load Balancing failed to find a server - no server capacity"},
    {6, "Load balancing request was not filled - no servers enabled or online! (Client IP=%s, Cluster=%s)",
     "500 Load Balancing failed to find a server - no servers enabled or online"},
    {7, "Load balancing request was not filled - failed to find a server (Client IP=%s, Cluster=%s)",
     "500 Load Balancing failed to find a server - failed to find a server"},
    {8, "Load balancing request was not filled - ServerCluster is disabled (Client IP=%s, Cluster=%s)",
     "500 Load Balancing failed to find a server - ServerCluster is disabled"},
};

}  // namespace

std::string StatusReply(std::string_view version, std::string_view text) {
  std::string reply(version);
  reply += ' ';
  reply += text;
  reply += "\r\n\r\n";
  return reply;
}

std::string ServerChoiceFailureReply(std::string_view version, std::string_view text) {
  std::string reply = StatusReply(version, text);
  reply += text;
  reply += "\r\n";
  return reply;
}

std::string RedirectReply(std::string_view version, bool permanent, std::string_view location) {
  std::string reply(version);
  reply += permanent ? " 301 Moved Permanently\r\n" : " 302 Found\r\n";
  reply += "Location: ";
  reply += location;
  reply += "\r\nConnection: Close\r\n\r\n";
  return reply;
}

std::string CircularReferenceReply() {
  return "HTTP/1.0 200 OK\r\n"
         "Connection: Close\r\n"
         "\r\n"
         "There appears to be a circulare reference in the Vantrell Switch configuration!\r\n";
}

std::string RedirectLocation(std::string_view url, std::string_view scheme, std::string_view host) {
  if (UpperCase(url.substr(0, 4)) == "HTTP") return std::string(url);
  if (LooksLikeFolder(url)) {
    size_t end = url.size();
    while (end > 0 && url[end - 1] == '/') --end;
    return Format("%s://%s%s/", scheme, host, url.substr(0, end));
  }
  return Format("%s://%s%s", scheme, host, url);
}

std::string HTTPSRedirectLocation(std::string_view document, std::string_view host) {
  if (LooksLikeFolder(document)) return Format("https://%s%s/", host, document);
  return Format("https://%s%s", host, document);
}

const TServerChoiceFailure* FindServerChoiceFailure(int lbStatus) {
  for (const auto& failure : kServerChoiceFailures) {
    if (failure.Status == lbStatus) return &failure;
  }
  return nullptr;
}

std::string HostPortText(std::string_view host, int32_t port) {
  if (port == 80) return std::string(host);
  return Format("%s:%d", host, port);
}

const char* ContentCodingName(int coding) {
  static const char* const kNames[] = {"ceNone", "ceUnknown", "ceGZip", "ceDeflate", "ceCompress"};
  if (coding < 0 || coding > 4) return "";
  return kNames[coding];
}
