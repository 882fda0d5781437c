// One typical browser request through the head parser, the matcher (100
// domains, the request's domain near the end) and the head rewriting, as the
// client thread runs them for every request. Target: under 5 microseconds per
// request on one core.
#include <benchmark/benchmark.h>

#include "Common/uDomainHandler.h"
#include "Common/uHTTPHeads.h"
#include "Common/uRequestMatching.h"

namespace {

class Owner : public THeadOwner {
 public:
  void LogInfo(const std::string&) override {}
  void LogDetail(const std::string&) override {}
};

void BuildConfiguration(TDomainHandler& h) {
  for (int i = 0; i < 100; ++i) {
    TDomain* d = h.AddDomain();
    d->DomainName = Format("www.site%d.com", i);
    d->VirtualDomains.Add(Format("site%d.com", i));
    d->VirtualDomains.Add(Format("*.site%d.net", i));
    d->DefaultTargetAddress = Format("10.0.%d.1", i);
    d->OutPort = 8080;
    d->SiteName = Format("W3SVC%d", i);
    d->RequestHeadersToAdd.Add("X-Site: on");
    for (const char* p : {"/images", "/app", "/static"}) {
      TVirtualPath* path = d->AddVirtualPath();
      path->SetPath(p);
      path->SetCluster(nullptr);
    }
    d->VirtualPaths[1]->SetTargetPath("/backend");
  }
}

const char* const BrowserRequest[] = {
    "GET /app/orders/list.aspx?page=2&sort=date HTTP/1.1",
    "Host: www.site87.com",
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 "
    "Safari/537.36",
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Language: en-GB,en;q=0.9",
    "Accept-Encoding: gzip, deflate, br",
    "Referer: http://www.site87.com/app/orders/",
    "Cookie: ASP.NET_SessionId=abcdefghijklmnop; VTSession=123456789; theme=dark",
    "Connection: keep-alive",
    "Upgrade-Insecure-Requests: 1",
};

void BM_ParseMatchRewrite(benchmark::State& state) {
  TDomainHandler handler;
  BuildConfiguration(handler);
  Owner owner;
  TRequestMatchData match;
  TRequestHeader request(&owner);
  owner.MatchData = &match;
  owner.RequestHeader = &request;
  owner.FClientIP = "192.168.10.20";
  owner.FLocalPort = 80;

  for (auto _ : state) {
    request.Clear();
    match.Reset();
    for (const char* line : BrowserRequest) request.Raw.TStringList::Add(line);
    request.Parse();
    match.Setup(request.Host, "10.0.0.254", static_cast<int32_t>(owner.FSessionKey), owner.FClientIP,
                request.Document, owner.FLocalPort);
    handler.MatchRequest(match);
    request.Update();
    std::string text = request.Updated.GetTextStr();
    benchmark::DoNotOptimize(text);
  }
  if (match.Status != rmsFilled || match.TargetPath != "/backend/orders/list.aspx?page=2&sort=date") {
    state.SkipWithError("the request did not match as expected");
  }
}
BENCHMARK(BM_ParseMatchRewrite);

// The two halves apart: the match alone, and the heads alone.
void BM_MatchOnly(benchmark::State& state) {
  TDomainHandler handler;
  BuildConfiguration(handler);
  TRequestMatchData match;
  for (auto _ : state) {
    match.Setup("www.site87.com", "10.0.0.254", 123456789, "192.168.10.20", "/app/orders/list.aspx?page=2&sort=date",
                80);
    handler.MatchRequest(match);
    benchmark::DoNotOptimize(match.Status);
  }
}
BENCHMARK(BM_MatchOnly);

void BM_HeadsOnly(benchmark::State& state) {
  TDomainHandler handler;
  BuildConfiguration(handler);
  Owner owner;
  TRequestMatchData match;
  TRequestHeader request(&owner);
  owner.MatchData = &match;
  owner.RequestHeader = &request;
  owner.FClientIP = "192.168.10.20";
  owner.FLocalPort = 80;
  match.Setup("www.site87.com", "10.0.0.254", 123456789, "192.168.10.20", "/app/orders/list.aspx?page=2&sort=date",
              80);
  handler.MatchRequest(match);
  for (auto _ : state) {
    request.Clear();
    for (const char* line : BrowserRequest) request.Raw.TStringList::Add(line);
    request.Parse();
    request.Update();
    std::string text = request.Updated.GetTextStr();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_HeadsOnly);

}  // namespace
