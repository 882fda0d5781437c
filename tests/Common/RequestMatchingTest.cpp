#include <gtest/gtest.h>

#include "Common/uCompressionLimiter.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uRequestMatching.h"
#include "platform/RWLock.h"
#include "platform/Random.h"

namespace {

TDomain* AddDomain(TDomainHandler& h, const char* name, const char* target, int32_t outPort = 80) {
  TDomain* d = h.AddDomain();
  d->DomainName = name;
  d->DefaultTargetAddress = target;
  d->OutPort = outPort;
  d->SiteName = std::string("site-") + name;
  return d;
}

TVirtualPath* AddPath(TDomain* d, const char* path, const char* replace = "") {
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath(path);
  p->SetTargetPath(replace);
  p->SetCluster(nullptr);
  return p;
}

std::string DomainOf(const TRequestMatchData& m) { return m.Domain ? m.Domain->DomainName : std::string(); }
std::string PathOf(const TRequestMatchData& m) { return m.VirtualPath ? m.VirtualPath->Path : std::string(); }

// ---------------------------------------------------------------- rules

TEST(RequestMatchingRules, AddressRule) {
  TIPRestrictor r;
  EXPECT_TRUE(r.IsAllowed("1.2.3.4"));
  r.IPNumbers.Add("  ");
  r.Mode = 0;
  EXPECT_TRUE(r.IsAllowed("1.2.3.4")) << "a rule without entries allows everyone in both modes";

  r.IPNumbers.Add(" 10.* ");
  EXPECT_FALSE(r.IsAllowed("192.168.0.1"));
  EXPECT_TRUE(r.IsAllowed("10.9.8.7"));
  r.Mode = 1;
  EXPECT_TRUE(r.IsAllowed("192.168.0.1"));
  EXPECT_FALSE(r.IsAllowed("10.9.8.7"));
  r.Mode = 2;
  EXPECT_FALSE(r.IsAllowed("192.168.0.1")) << "an unknown mode refuses";

  TIPRestrictor list;
  list.IPNumbers.Add("10.1.2.*");
  list.IPNumbers.Add("Host");
  EXPECT_TRUE(list.InList("10.1.2.7"));
  EXPECT_FALSE(list.InList("10.1.20.7"));
  EXPECT_FALSE(list.InList("10.1.2"));
  EXPECT_TRUE(list.InList("Host"));
  EXPECT_FALSE(list.InList("host"));
  list.IPNumbers.Add("*");
  EXPECT_TRUE(list.InList(""));
}

TEST(RequestMatchingRules, HostAndBinding) {
  TDomainHandler h;
  TDomain* d = AddDomain(h, "www.a.com", "t");
  d->VirtualDomains.Add("A.com");
  d->VirtualDomains.Add("*.shop.com");
  EXPECT_TRUE(d->MatchesHost("WWW.A.COM"));
  EXPECT_TRUE(d->MatchesHost("a.COM"));
  EXPECT_TRUE(d->MatchesHost("x.Shop.com"));
  EXPECT_TRUE(d->MatchesHost(".shop.com"));
  EXPECT_FALSE(d->MatchesHost("shop.com"));
  EXPECT_FALSE(d->MatchesHost("b.com"));
  // Names that agree in their last eight bytes but not before them.
  EXPECT_FALSE(d->MatchesHost("xww.a.com"));
  EXPECT_FALSE(d->MatchesHost("xshop.com"));
  EXPECT_TRUE(d->MatchesHost("WWW.x.SHOP.COM"));
  d->VirtualDomains.Add("*");
  EXPECT_TRUE(d->MatchesHost(""));

  d->ListenOnPort = 8080;
  d->IPsToBindTo.Clear();
  d->IPsToBindTo.Add("192.168.1.1");
  EXPECT_TRUE(d->IsBoundTo("192.168.1.1", 8080));
  EXPECT_FALSE(d->IsBoundTo("192.168.1.1", 80));
  EXPECT_FALSE(d->IsBoundTo("10.0.0.1", 8080));
  d->IPsToBindTo.Clear();
  EXPECT_TRUE(d->IsBoundTo("10.0.0.1", 8080)) << "an empty list listens everywhere";
}

TEST(RequestMatchingRules, MapPath) {
  TDomainHandler h;
  TDomain* d = AddDomain(h, "a", "t");
  struct Row {
    const char* path;
    const char* replace;
    const char* request;
    const char* mapped;
  } rows[] = {
      {"/app", "/", "/app/", "/"},
      {"/app", "/", "/app/x?y=//z", "/x?y=//z"},
      {"/app", "/", "/app", "/"},
      {"/b/", "/x", "/b//c", "/x/c"},
      {"/app", "/backend", "/APP/x", "/backend/x"},
      {"/app", "", "/app//x", "/app//x"},
      // Slashes meeting where the replacement and the rest join; a "?" in
      // the replacement starts the query.
      {"/app", "/x/", "/app//y//z?q=//", "/x/y/z?q=//"},
      {"/app", "/x?a=//b", "/app//c", "/x?a=//b//c"},
      {"/app", "//x//", "/app?q=a//b", "/x/?q=a//b"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.request);
    TVirtualPath* p = AddPath(d, r.path, r.replace);
    EXPECT_EQ(p->MapPath(r.request), r.mapped);
  }
}

TEST(RequestMatchingRules, ShouldCompress) {
  TCompressionLimiter defaults;
  TRequestMatchData m;
  m.ExtToCompress.Assign(defaults.ExtToCompress);
  m.MIMEToCompress.Assign(defaults.MIMEToCompress);
  struct Row {
    const char* path;
    const char* mime;
    const char* agent;
    bool compress;
  } rows[] = {
      {"/", "image/png", "x", true},
      {"/a.js", "", "Mozilla/4.0 (compatible; MSIE 4.01)", true},
      {"/A.JS", "", "Mozilla/4.0 (compatible; MSIE 4.01)", false},
      {"/A.JS", "", "Mozilla/5.0", true},
      {"/x.asp?a=1", "", "x", true},
      {"/pic.png", "image/png", "x", false},
      {"/page", "TEXT/HTML", "x", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(m.ShouldCompress(r.path, r.mime, r.agent), r.compress);
  }
  m.ExtToCompress.Add("");
  EXPECT_FALSE(m.ShouldCompress("/pic.png", "image/png", "x")) << "an empty entry occurs nowhere";
  m.CompressionEnabled = false;
  EXPECT_FALSE(m.ShouldCompress("/", "text/html", "x"));
}

// ------------------------------------------------------------- matching

// A small configuration with the rules a request can meet.
class Matching : public ::testing::Test {
 protected:
  Matching() {
    h.AdminIPRestrictor.IPNumbers.Add("6.6.6.6");
    h.AdminIPRestrictor.RequestDeniedAction = rdaSendDenied;

    TDomain* a = AddDomain(h, "www.a.com", "10.0.0.1", 8080);
    a->VirtualDomains.Add("a.com");
    a->VirtualDomains.Add("*.shop.com");
    a->RequestHeadersToAdd.Add("X-Req: 1");
    a->ResponseHeadersToAdd.Add("X-Resp: 1");
    TVirtualPath* app = AddPath(a, "/app", "/backend");
    app->TargetAddress = "10.0.0.2";
    app->OutPort = 9000;
    app->HostReplace = "app.internal";
    app->Tomcat = true;
    AddPath(a, "/ap");
    TVirtualPath* old = AddPath(a, "/old");
    old->Redirect = true;
    old->PermanentRedirect = true;
    old->SetTargetPath("http://new.a.com/");
    AddPath(a, "/q", "/qq");
    AddPath(a, "/qa", "/x")->App = true;
    AddPath(a, "/dis");
    AddPath(a, "/disabled", "/never")->Enabled = false;
    AddPath(a, "/s", "/ssl")->SSL = true;
    a->UpdateProtocolMode();

    AddDomain(h, "secure.b.com", "10.0.0.3")->ForcedHTTPtoHTTPS = true;

    TDomain* ban1 = AddDomain(h, "ban.b.com", "10.0.0.31");
    ban1->IPRestrictor.Mode = 0;
    ban1->IPRestrictor.IPNumbers.Add("10.*");
    ban1->IPRestrictor.RequestDeniedAction = rdaTryNextDomain;
    AddPath(ban1, "/p");
    TDomain* ban2 = AddDomain(h, "ban.b.com", "10.0.0.4");
    ban2->IPRestrictor.IPNumbers.Add("192.168.0.*");
    ban2->IPRestrictor.RequestDeniedAction = rdaSendFile;
    ban2->IPRestrictor.FileName = "deny.htm";

    TDomain* closed = AddDomain(h, "closed.b.com", "10.0.0.5");
    closed->IPRestrictor.IPNumbers.Add("*");
    closed->IPRestrictor.RequestDeniedAction = rdaCloseConnection;
    AddPath(closed, "/p")->Enabled = false;

    TDomain* inner = AddDomain(h, "www.a.com", "10.0.0.6");
    inner->ListenOnPort = 8080;
    inner->IPsToBindTo.Clear();
    inner->IPsToBindTo.Add("192.168.1.1");
    inner->DefaultHostReplace = "inner";

    TDomain* mix = AddDomain(h, "mix.b.com", "10.0.0.7");
    AddPath(mix, "/secure")->SSL = true;
    AddPath(mix, "/plain");
    mix->UpdateProtocolMode();

    TDomain* fallback = AddDomain(h, "fallback", "10.0.0.9");
    fallback->DefaultForPort = true;
    fallback->LogEnabled = false;
  }

  TRequestMatchData& Match(const std::string& host, const std::string& path, int32_t port = 80,
                           const std::string& client = "1.1.1.1", const std::string& local = "127.0.0.1") {
    m.Setup(host, local, 0, client, path, port);
    h.MatchRequest(m);
    return m;
  }

  TDomainHandler h;
  TRequestMatchData m;
};

struct MatchRow {
  const char* host;
  int32_t port;
  const char* path;
  const char* client;
  const char* local;
  uint8_t status;
  uint8_t deny;
  const char* domain;
  const char* vpath;
  const char* targetHost;
  int32_t targetPort;
  const char* targetPath;
  const char* hostHeader;
  const char* redirect;
};

TEST_F(Matching, Table) {
  const char* lo = "127.0.0.1";
  const char* c = "1.1.1.1";
  const MatchRow rows[] = {
      {"www.a.com", 80, "/x?y=1", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/x?y=1",
       "www.a.com", ""},
      {"WWW.A.COM", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/x", "WWW.A.COM",
       ""},
      {"a.com", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/x", "a.com", ""},
      {"x.shop.com", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/x",
       "x.shop.com", ""},
      // The bare virtual path, then a request inside it.
      {"www.a.com", 80, "/app", c, lo, rmsFilledVPath, rdaNotDenied, "www.a.com", "/app", "10.0.0.2", 9000,
       "/backend", "app.internal", ""},
      {"www.a.com", 80, "/App/x?y", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "/app", "10.0.0.2", 9000,
       "/backend/x?y", "app.internal", ""},
      // The longest prefix wins whatever the order; a path without target
      // keeps the domain's.
      {"www.a.com", 80, "/apx", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "/ap", "10.0.0.1", 8080, "/apx",
       "www.a.com", ""},
      {"www.a.com", 80, "/disabled/x", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "/dis", "10.0.0.1", 8080,
       "/disabled/x", "www.a.com", ""},
      {"www.a.com", 80, "/old/x", c, lo, rmsRedirect, rdaNotDenied, "www.a.com", "/old", "10.0.0.1", 8080, "/old/x",
       "www.a.com", "http://new.a.com/"},
      {"www.a.com", 80, "/q?x=1", c, lo, rmsRedirect, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/q?x=1",
       "www.a.com", "/q/?x=1"},
      {"www.a.com", 80, "/q?x=1.5", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "/q", "10.0.0.1", 8080,
       "/qq?x=1.5", "www.a.com", ""},
      {"www.a.com", 80, "/qa?x=1", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "/qa", "10.0.0.1", 8080, "/x?x=1",
       "www.a.com", ""},
      // An SSL path is not for a plain listener of a plain domain.
      {"www.a.com", 80, "/s/x", c, lo, rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.1", 8080, "/s/x",
       "www.a.com", ""},
      {"secure.b.com", 80, "/x", c, lo, rmsRedirectHTTPS, rdaNotDenied, "secure.b.com", "", "10.0.0.3", 80, "/x",
       "secure.b.com", "https://secure.b.com/x"},
      // Try Next Domain: a later domain of the same host serves, or refuses.
      {"ban.b.com", 80, "/x", "10.1.1.1", lo, rmsFilled, rdaNotDenied, "ban.b.com", "", "10.0.0.31", 80, "/x",
       "ban.b.com", ""},
      {"ban.b.com", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "ban.b.com", "", "10.0.0.4", 80, "/x", "ban.b.com",
       ""},
      // (the deny action is the one the refusing domain left; only refusals
      // read it)
      {"ban.b.com", 80, "/p/x", c, lo, rmsFilled, rdaTryNextDomain, "ban.b.com", "", "10.0.0.4", 80, "/p/x",
       "ban.b.com", ""},
      {"ban.b.com", 80, "/x", "192.168.0.5", lo, rmsRefusedByIPRestrictor, rdaSendFile, "", "", "", 80, "/x", "",
       ""},
      // A refusal under one of the domain's paths (enabled or not).
      {"closed.b.com", 80, "/P/x", c, lo, rmsRefusedByIPRestrictorVPath, rdaCloseConnection, "", "", "", 80, "/P/x",
       "", ""},
      {"closed.b.com", 80, "/other", c, lo, rmsRefusedByIPRestrictor, rdaCloseConnection, "", "", "", 80, "/other",
       "", ""},
      // Bindings and ports.
      {"www.a.com", 8080, "/x", c, "192.168.1.1", rmsFilled, rdaNotDenied, "www.a.com", "", "10.0.0.6", 80, "/x",
       "inner:8080", ""},
      {"www.a.com", 8080, "/x", c, "10.0.0.1", rmsUnfilled, rdaNotDenied, "", "", "", 0, "", "", ""},
      // A mixed domain on 443 serves only its SSL paths; on 80 it skips them.
      {"mix.b.com", 443, "/secure/x", c, lo, rmsFilled, rdaNotDenied, "mix.b.com", "/secure", "10.0.0.7", 80,
       "/secure/x", "mix.b.com", ""},
      {"mix.b.com", 443, "/plain/x", c, lo, rmsUnfilled, rdaNotDenied, "mix.b.com", "", "10.0.0.7", 80, "/plain/x",
       "mix.b.com", ""},
      {"mix.b.com", 80, "/secure/x", c, lo, rmsFilled, rdaNotDenied, "mix.b.com", "", "10.0.0.7", 80, "/secure/x",
       "mix.b.com", ""},
      // The default domain of the port, also for a request without Host.
      {"unknown.host", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "fallback", "", "10.0.0.9", 80, "/x",
       "unknown.host", ""},
      {"", 80, "/x", c, lo, rmsFilled, rdaNotDenied, "fallback", "", "10.0.0.9", 80, "/x", "", ""},
      // The server-wide rule comes before every domain.
      {"www.a.com", 80, "/x", "6.6.6.6", lo, rmsRefusedByIPRestrictor, rdaSendDenied, "", "", "", 0, "", "", ""},
  };
  for (const MatchRow& r : rows) {
    SCOPED_TRACE(Format("%s:%d%s from %s at %s", r.host, r.port, r.path, r.client, r.local));
    Match(r.host, r.path, r.port, r.client, r.local);
    EXPECT_EQ(m.Status, r.status);
    EXPECT_EQ(m.DenyAction, r.deny);
    EXPECT_EQ(DomainOf(m), r.domain);
    EXPECT_EQ(PathOf(m), r.vpath);
    EXPECT_EQ(m.TargetHost, r.targetHost);
    EXPECT_EQ(m.TargetPort, r.targetPort);
    EXPECT_EQ(m.TargetPath, r.targetPath);
    EXPECT_EQ(m.HostHeader, r.hostHeader);
    EXPECT_EQ(m.RedirectURL, r.redirect);
    EXPECT_EQ(m.LBStatus, LBStatus::NoSelection);
  }
}

TEST_F(Matching, ResultsTheRequestRoadReadsLater) {
  Match("www.a.com", "/app/x");
  EXPECT_EQ(m.MatchedPath, "/app");
  EXPECT_EQ(m.MatchedPathReplace, "/backend");
  EXPECT_EQ(m.SiteName, "site-www.a.com");
  EXPECT_EQ(m.RequestHeadersToAdd.Text(), "X-Req: 1\r\n");
  EXPECT_EQ(m.ResponseHeadersToAdd.Text(), "X-Resp: 1\r\n");
  EXPECT_TRUE(m.PathTomcat);
  EXPECT_FALSE(m.PathPermanentRedirect);
  EXPECT_EQ(m.GateName, "Vantrell Switch");
  EXPECT_EQ(m.CustomCallerIPHeaders, "X-Forwarded-for;rlnclientipaddr");
  EXPECT_TRUE(m.CompressionEnabled);
  EXPECT_EQ(m.ExtToCompress.Count(), h.CompressionLimiter.ExtToCompress.Count());
  EXPECT_EQ(m.LogFlags, 3);
  EXPECT_FALSE(m.MatchedByDefault);

  Match("www.a.com", "/old/x");
  EXPECT_TRUE(m.PathPermanentRedirect);
  EXPECT_FALSE(m.PathTomcat);

  Match("nobody.knows", "/x");
  EXPECT_TRUE(m.MatchedByDefault);
  EXPECT_EQ(m.LogFlags, 0) << "the domain's logging is off";

  h.CompressionLimiter.Enabled = false;
  Match("www.a.com", "/x");
  EXPECT_FALSE(m.CompressionEnabled);
  EXPECT_TRUE(m.ExtToCompress.Empty());
}

TEST_F(Matching, StalePathAndDomainAreClearedBetweenDomains) {
  // The first domain chooses a permanent-redirect path in pass 1; the
  // winner of pass 2 ends on a query redirect, which chooses no path.
  TDomainHandler h2;
  TDomain* first = AddDomain(h2, "one", "t1");
  first->VirtualDomains.Add("*");
  TVirtualPath* p = AddPath(first, "/q");
  p->PermanentRedirect = true;
  TDomain* second = AddDomain(h2, "two", "t2");
  AddPath(second, "/q", "/qq");
  h2.Domains.Move(1, 0);  // "two" first: it refuses nothing and ends pass 2
  m.Setup("two", "127.0.0.1", 0, "1.1.1.1", "/q?x=1", 80);
  h2.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsRedirect);
  EXPECT_EQ(m.VirtualPath, nullptr);
  EXPECT_FALSE(m.PathPermanentRedirect);

  // A refusal never carries the domain an earlier call matched.
  TDomainHandler h3;
  AddDomain(h3, "x", "t1")->VirtualDomains.Add("*");
  TDomain* refusing = AddDomain(h3, "x", "t2");
  refusing->IPRestrictor.IPNumbers.Add("*");
  refusing->IPRestrictor.RequestDeniedAction = rdaCloseConnection;
  AddPath(refusing, "/p");
  m.Setup("x", "127.0.0.1", 0, "1.1.1.1", "/p", 80);
  h3.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsRefusedByIPRestrictorVPath);
  EXPECT_EQ(m.Domain, nullptr);
}

// A domain whose logging is off may take part in the passes without winning
// the request: the winner's own logging decides.
TEST_F(Matching, OnlyTheWinningDomainsLoggingCounts) {
  struct Row {
    bool wwwLogs, shopLogs;
    const char* path;
    const char* winner;
    int flags;
  } rows[] = {
      {false, true, "/shop", "example.test", 5},  // pass 1 passes www, the exact path ends it
      {true, false, "/shop", "example.test", 0},
      {false, true, "/other", "www.example.test", 0},
      {true, false, "/other", "www.example.test", 5},  // pass 1 passed the other, pass 2 ends on www
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.path) + (r.wwwLogs ? " www logs" : " shop logs"));
    TDomainHandler h2;
    h2.LogOptions = 5;
    TDomain* www = AddDomain(h2, "www.example.test", "t1");
    www->VirtualDomains.Add("*.example.test");
    www->LogEnabled = r.wwwLogs;
    TDomain* shop = AddDomain(h2, "example.test", "t2");
    shop->VirtualDomains.Add("*.example.test");
    shop->LogEnabled = r.shopLogs;
    AddPath(shop, "/shop");
    m.Setup("a.example.test", "127.0.0.1", 0, "1.1.1.1", r.path, 80);
    h2.MatchRequest(m);
    EXPECT_EQ(DomainOf(m), r.winner);
    EXPECT_EQ(int{m.LogFlags}, r.flags);
  }
}

TEST_F(Matching, PassOneTakesAnExactVirtualPathBeforeAHostHit) {
  TDomainHandler h2;
  AddDomain(h2, "first", "t1")->VirtualDomains.Add("*");
  AddPath(AddDomain(h2, "second", "t2"), "/app");
  m.Setup("second", "127.0.0.1", 0, "1.1.1.1", "/app", 80);
  h2.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsFilledVPath);
  EXPECT_EQ(DomainOf(m), "second");
  m.Setup("second", "127.0.0.1", 0, "1.1.1.1", "/app/x", 80);
  h2.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsFilled);
  EXPECT_EQ(DomainOf(m), "first");

  // A path with Redirect set ends the match before a longer one is seen.
  TDomain* d = AddDomain(h2, "third", "t3");
  h2.Domains.Move(2, 0);
  TVirtualPath* r = AddPath(d, "/a");
  r->Redirect = true;
  r->SetTargetPath("/elsewhere");
  AddPath(d, "/ab");
  m.Setup("third", "127.0.0.1", 0, "1.1.1.1", "/abc", 80);
  h2.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsRedirect);
  EXPECT_EQ(m.RedirectURL, "/elsewhere");
}

TEST_F(Matching, Counters) {
  TDomain* a = h.Domains[0];
  TVirtualPath* app = a->VirtualPaths[0];
  Match("www.a.com", "/app/x");
  Match("nobody", "/x", 81);
  Match("closed.b.com", "/x");
  EXPECT_EQ(h.RequestCount.load(), 3);
  EXPECT_EQ(h.MatchStatusCounts[rmsFilled].load(), 1);
  EXPECT_EQ(h.MatchStatusCounts[rmsUnfilled].load(), 1);
  EXPECT_EQ(h.MatchStatusCounts[rmsRefusedByIPRestrictor].load(), 1);
  // Matched in pass 1 and again in pass 2.
  EXPECT_EQ(a->RequestCount.load(), 2);
  EXPECT_EQ(a->MatchStatusCounts[rmsFilled].load(), 2);
  EXPECT_EQ(app->RequestCount.load(), 2);
  EXPECT_EQ(app->MatchStatusCounts[rmsFilled].load(), 2);
  TDomain* closed = h.Domains[4];
  EXPECT_EQ(closed->MatchStatusCounts[rmsRefusedByIPRestrictor].load(), 2);
  EXPECT_EQ(closed->RequestCount.load(), 0);
}

TEST_F(Matching, ARefusingRuleThatDeniesNothingIsAnInternalError) {
  TDomainHandler h2;
  TDomain* d = AddDomain(h2, "x", "t");
  d->IPRestrictor.IPNumbers.Add("*");
  d->IPRestrictor.RequestDeniedAction = rdaNotDenied;
  m.Setup("x", "127.0.0.1", 0, "1.1.1.1", "/a", 80);
  try {
    h2.MatchRequest(m);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "TDomainHandler.MatchRequest failed : rmsRefusedByIPRestrictor and rdaNotDenied");
  }
  AddPath(d, "/a");
  try {
    h2.MatchRequest(m);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "TDomainHandler.MatchRequest failed : rmsRefusedByIPRestrictorVPath and rdaNotDenied");
  }
  // The read lock went with the exception: a write lock can be taken.
  WriteLockGuard write(h2.Synchronizer);
  EXPECT_EQ(h2.RequestCount.load(), 2);
}

TEST_F(Matching, DescribeMatch) {
  TDomainHandler h2;
  AddDomain(h2, "www.a.com", "10.0.0.5", 8080);
  TStringList lines;
  h2.DescribeMatch("www.a.com", "127.0.0.1", lines, "192.168.0.1", "/x?y=1", 80);
  h2.DescribeMatch("other", "127.0.0.1", lines, "192.168.0.1", "/", 81);
  EXPECT_EQ(lines.Text(),
            "Incoming request : www.a.com @ 127.0.0.1:80/x?y=1, Caller=192.168.0.1\r\n"
            "  Request filled\r\n"
            "  Outgoing request : www.a.com:8080/x?y=1 (at 10.0.0.5)\r\n"
            "Domain=www.a.com\r\n"
            "\r\n"
            "Incoming request : other @ 127.0.0.1:81/, Caller=192.168.0.1\r\n"
            " ** No match found! ** \r\n"
            "\r\n");
  lines.Clear();
  h.DescribeMatch("nobody", "127.0.0.1", lines, "1.1.1.1", "/app/x", 80);
  h.DescribeMatch("www.a.com", "127.0.0.1", lines, "1.1.1.1", "/app/x", 80);
  EXPECT_EQ(lines.Text(),
            "Incoming request : nobody @ 127.0.0.1:80/app/x, Caller=1.1.1.1\r\n"
            "  Request filled\r\n"
            "  Outgoing request : nobody:80/app/x (at 10.0.0.9)\r\n"
            "Domain=fallback\r\n"
            "  Request was matched by default domain (no specific match)\r\n"
            "\r\n"
            "Incoming request : www.a.com @ 127.0.0.1:80/app/x, Caller=1.1.1.1\r\n"
            "  Request filled\r\n"
            "  Outgoing request : app.internal:9000/backend/x (at 10.0.0.2)\r\n"
            "Domain=www.a.com\r\n"
            "VirtualPath=/app\r\n"
            "  RequestHeadersToAdd : X-Req: 1\r\n\r\n"
            "  ResponseHeadersToAdd : X-Resp: 1\r\n\r\n"
            "\r\n");
}

// ------------------------------------------------------------ server choice

std::shared_ptr<TServerCluster> AddCluster(TDomainHandler& h, const char* name, uint8_t sessionMethod,
                                           bool online) {
  auto cluster = h.ServerClusters->Add();
  cluster->Name = name;
  cluster->SessionMethod = sessionMethod;
  for (const char* server : {"s1", "s2"}) {
    auto s = TServer::Create(*cluster);
    s->ServerName = server;
    s->ServerAddress = std::string("addr-") + server;
    s->ServerPort = 8000;
    s->Capacity = 1;
    s->Enabled = true;
    s->Online = online;
  }
  return cluster;
}

TEST(RequestMatchingServers, OneChoicePerRequestForTheMatchThatEndsThePasses) {
  TDomainHandler h;
  AddDomain(h, "a.com", "10.0.0.1");
  TDomain* catchAll = AddDomain(h, "b.com", "10.0.0.2");
  catchAll->VirtualDomains.Add("*");
  auto dead = AddCluster(h, "dead", 0, false);
  catchAll->ServerCluster = dead.get();
  TDomain* lb = AddDomain(h, "lb.com", "");
  auto live = AddCluster(h, "live", 0, true);
  lb->ServerCluster = live.get();
  AddPath(lb, "/app")->SetDomainCluster();
  h.Domains.Move(2, 0);  // "lb.com" runs first in every pass

  // Another domain's cluster, tried on the way, leaves nothing behind.
  TRequestMatchData m;
  m.Setup("a.com", "127.0.0.1", 0, "1.2.3.4", "/", 80);
  h.MatchRequest(m);
  EXPECT_EQ(DomainOf(m), "a.com");
  EXPECT_EQ(m.LBStatus, LBStatus::NoSelection);
  EXPECT_EQ(m.Server, nullptr);
  EXPECT_EQ(m.TargetHost, "10.0.0.1");
  EXPECT_EQ(dead->Connections.GetCount(), 0);

  // A new client is new once, and counts one hit; then it is known.
  m.Setup("lb.com", "127.0.0.1", 0, "1.2.3.4", "/app/x", 80);
  h.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsFilled);
  EXPECT_EQ(m.LBStatus, LBStatus::NewConnection);
  ASSERT_NE(m.Server, nullptr);
  EXPECT_EQ(m.TargetHost, m.Server->ServerAddress);
  EXPECT_EQ(m.TargetPort, 8000);
  EXPECT_EQ(m.ServerClusterName, "live");
  EXPECT_EQ(m.SessionMethod, 0);
  EXPECT_EQ(m.Server->LoadWindow[0].load(), 1);
  EXPECT_EQ(live->Connections.GetCount(), 1);
  TServer* first = m.Server.get();
  m.Setup("lb.com", "127.0.0.1", 0, "1.2.3.4", "/app", 80);
  h.MatchRequest(m);
  EXPECT_EQ(m.Status, rmsFilledVPath);
  EXPECT_EQ(m.LBStatus, LBStatus::OldConnection);
  EXPECT_EQ(m.Server.get(), first);
  EXPECT_EQ(first->LoadWindow[0].load(), 2);

  // A path without a cluster switches the domain's off.
  AddPath(lb, "/static")->TargetAddress = "10.0.0.8";
  m.Setup("lb.com", "127.0.0.1", 0, "1.2.3.4", "/static/a.css", 80);
  h.MatchRequest(m);
  EXPECT_EQ(m.ServerCluster, nullptr);
  EXPECT_EQ(m.LBStatus, LBStatus::NoSelection);
  EXPECT_EQ(m.TargetHost, "10.0.0.8");
  EXPECT_EQ(m.TargetPort, 80);

  // The catch-all with its dead cluster: the choice fails for that request
  // alone.
  m.Setup("c.com", "127.0.0.1", 0, "1.2.3.4", "/", 80);
  h.MatchRequest(m);
  EXPECT_EQ(DomainOf(m), "b.com");
  EXPECT_EQ(m.LBStatus, LBStatus::NoOnlineServers);
  EXPECT_EQ(m.Server, nullptr);
}

TEST(RequestMatchingServers, CookieClustersKeyOnTheSessionValue) {
  TDomainHandler h;
  TDomain* d = AddDomain(h, "a.com", "");
  auto cluster = AddCluster(h, "cookies", 1, true);
  d->ServerCluster = cluster.get();
  TRequestMatchData m;
  RandSeed(7);
  for (int i = 0; i < 200; ++i) {
    m.Setup("a.com", "127.0.0.1", 0, "1.2.3.4", "/", 80);
    h.MatchRequest(m);
    ASSERT_NE(m.SessionValue, 0);
    ASSERT_GT(m.SessionValue, 0);
  }
  EXPECT_EQ(m.SessionMethod, 1);
  EXPECT_EQ(m.LBStatus, LBStatus::NewConnection);
  int32_t drawn = m.SessionValue;
  m.Setup("a.com", "127.0.0.1", drawn, "9.9.9.9", "/", 80);
  h.MatchRequest(m);
  EXPECT_EQ(m.SessionValue, drawn);
  EXPECT_EQ(m.LBStatus, LBStatus::OldConnection);
  // A cookie value beyond the signed range keeps its bits.
  m.Setup("a.com", "127.0.0.1", static_cast<int32_t>(3000000000u), "9.9.9.9", "/", 80);
  h.MatchRequest(m);
  EXPECT_EQ(static_cast<uint32_t>(m.SessionValue), 3000000000u);
  EXPECT_EQ(m.LBStatus, LBStatus::NewConnection);

  TStringList lines;
  h.DescribeMatch("a.com", "127.0.0.1", lines, "1.2.3.4", "/", 80);
  ASSERT_EQ(lines.Count(), 9);
  EXPECT_EQ(lines[4], "  ServerCluster : cookies");
  EXPECT_EQ(lines[5], "    Server selection status : New connection");
  EXPECT_EQ(lines[6].substr(0, 14), "    Server : s");
  EXPECT_EQ(lines[7].substr(0, 16), "    SessionID : ");
}

}  // namespace
