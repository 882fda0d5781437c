// Head parsing and rewriting over arbitrary bytes: nothing may crash, and a
// head that goes on to a peer is always well framed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Common/Misc.h"
#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uRequestMatching.h"

namespace {

class Owner : public THeadOwner {
 public:
  void LogInfo(const std::string&) override {}
  void LogDetail(const std::string&) override {}
};

// Lines as the client thread reads them: up to LF, one CR before it dropped.
void ReadLines(THTTPHeaders& raw, std::string_view text) {
  while (!text.empty()) {
    auto lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() && raw.Count() > 0) return;
    raw.TStringList::Add(std::string(line));
    if (lf == std::string_view::npos) return;
    text.remove_prefix(lf + 1);
  }
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Every line ends with CR LF, no line but the last is empty, and no CR or LF
// stands anywhere else.
void CheckFramed(THTTPHeaders& head) {
  std::string text = head.GetTextStr();
  Check(text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0);
  Check(text.find("\r\n\r\n") == text.size() - 4);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') Check(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n') Check(i > 0 && text[i - 1] == '\r');
    Check(text[i] != '\0');
  }
}

int Count(const THTTPHeaders& head, std::string_view name) {
  int n = 0;
  for (int i = head.IndexOfHeader(name); i >= 0; i = head.IndexOfHeader(name, i + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  auto split = input.find('\0');
  std::string_view requestText = input.substr(0, split);
  std::string_view responseText = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  Owner owner;
  TRequestMatchData match;
  TRequestHeader request(&owner);
  TResponseHeader response(&owner);
  owner.MatchData = &match;
  owner.RequestHeader = &request;
  owner.FClientIP = "10.1.2.3";
  owner.FLocalPort = (flags & 1) ? 443 : 80;
  owner.IsHTTPS = flags & 1;
  owner.RemoveVTHeaders = (flags & 2) != 0;
  UseXForwardedForGlobal = (flags & 4) != 0;
  match.AllowKeepAlive = (flags & 8) == 0;
  match.PathTomcat = (flags & 16) != 0;
  match.VirtualPath = match.PathTomcat ? reinterpret_cast<TVirtualPath*>(&match) : nullptr;
  match.DomainOwaHTTPtoHTTPS = (flags & 32) != 0;
  match.SessionMethod = flags >> 6;
  match.GateName = "Vantrell Switch";
  match.CustomCallerIPHeaders = "X-Forwarded-for;;rlnclientipaddr";
  match.RequestHeadersToAdd.Add("X-Rule: on");

  try {
    ReadLines(request.Raw, requestText);
    request.Parse();
  } catch (const Exception&) {
    return 0;
  }
  if (!request.Refusal.empty()) {
    Check(request.Version.empty() || request.Version.size() == 8);
    return 0;
  }
  if (request.IsEmpty()) {
    // Only a bare request line goes on without a version.
    for (int i = 1; i < request.Raw.Count(); ++i) Check(request.Raw[i].empty());
    return 0;
  }
  match.HostHeader = request.HostWithPort.empty() ? "backend" : HostWithoutPort(request.HostWithPort);
  match.DomainName = "www.example.com";
  match.TargetPort = 8080;
  match.MatchedPath = "/front";
  match.MatchedPathReplace = "/app";
  match.TargetPath = "/app" + request.Document;
  try {
    request.Update();
  } catch (const EIntOverflow&) {
    return 0;
  }
  CheckFramed(request.Updated);
  Check(Count(request.Updated, "Host") == 1);
  Check(Count(request.Updated, "Via") == 1);
  Check(Count(request.Updated, "User-Agent") == 1);
  Check(Count(request.Updated, "Content-Length") <= 1);
  Check(!request.Updated.HasHeader("Transfer-Encoding"));
  if (!owner.RemoveVTHeaders) Check(Count(request.Updated, "VTHopCount") == 1);
  std::string line0 = request.Updated.GetFirstLine();
  Check(line0.find(' ') != std::string::npos && line0.find(' ', line0.find(' ') + 1) == line0.rfind(' '));

  try {
    ReadLines(response.Raw, responseText);
    response.Parse();
    response.Update();
  } catch (const Exception&) {
    return 0;
  }
  CheckFramed(response.Updated);
  Check(Count(response.Updated, "Content-Length") <= 1);
  if (response.Chunked) Check(!response.Updated.HasHeader("Content-Length"));
  return 0;
}
