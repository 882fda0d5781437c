#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/web/WebControls.h"
#include "tests/fuzz/settings_seeds.h"
#include "webadmin/uVTWAWarnings.h"

namespace {

const char* const LocalIP = "192.168.1.5";

// A configuration every check passes: one domain, one cluster with one
// server, one certificate set whose files exist.
struct ValidConfig {
  ValidConfig()
      : checker([this](const std::string& x) { label = x; }, &h, [this](const std::string& x) { image = x; }) {
    h.GateName = "Gate";
    h.Password = "secret";
    h.Username = "Admin";
    h.MaxThreads = 150;

    d = h.AddDomain();
    d->DomainName = "example.com";
    d->IPsToBindTo.SetText("127.0.0.1");
    d->DefaultTargetAddress = "10.0.0.1";
    d->OutPort = 80;
    d->ListenOnPort = 80;

    c = h.ServerClusters->Add().get();
    c->Name = "web";
    c->ConnectionTimeout = 1800;
    c->MaxFailBeforeOffline = 1;
    c->FailoverCheckInterval = 5;
    c->LoadAveragingPeriod = 300;
    server = AddServer("s1", "10.0.0.2");

    s = h.SSLSettingsList.Items(0);
    s->CertificateName = "main";
    s->Enabled = true;
    s->RootCertificateFile = "root.pem";
    s->CertificateFile = "cert.pem";
    s->KeyFile = "/etc/key.pem";
    s->CertificatePassword = "pw";
    s->Bindings.AddBinding(LocalIP, 443);

    existing = {"data/cert/root.pem", "data/cert/cert.pem", "/etc/key.pem"};
    checker.FileExists = [this](const std::string& p) { return existing.count(p) > 0; };
    checker.LocalIPv4Addresses = [] { return std::vector<std::string>{LocalIP}; };
  }

  TServer* AddServer(const std::string& name, const std::string& address) {
    auto sv = TServer::Create(*c);
    sv->ServerName = name;
    sv->ServerAddress = address;
    sv->ServerPort = 80;
    sv->Capacity = 1;
    sv->Enabled = true;
    return sv.get();
  }

  TDomain* AddValidDomain(const std::string& name) {
    TDomain* x = h.AddDomain();
    x->DomainName = name;
    x->IPsToBindTo.SetText("*");
    x->DefaultTargetAddress = "10.0.0.1";
    return x;
  }

  TDomainHandler h;
  TDomain* d;
  TServerCluster* c;
  TServer* server;
  TSSLSettings* s;
  std::set<std::string> existing;
  std::string label;
  std::string image;
  TErrorWarningChecker checker;
};

enum class Area { General, Domain, Cluster, SSL };


struct Case {
  const char* what;
  Area area;
  std::function<void(ValidConfig&)> mutate;
  uint8_t status;  // 0 = passes
  std::string text;
};

bool RunCheck(ValidConfig& t, Area area) {
  switch (area) {
    case Area::General: return t.checker.CheckGeneral();
    case Area::Domain: return t.checker.CheckDomain(t.d);
    case Area::Cluster: return t.checker.CheckCluster(t.c);
    case Area::SSL: return t.checker.CheckSSLCertificate(t.s);
  }
  return false;
}

const char* OKText(Area area) {
  switch (area) {
    case Area::General: return "No errors or warnings found for general settings.";
    case Area::Domain: return "No errors or warnings found for domain settings.";
    case Area::Cluster: return "No errors or warnings found for server cluster settings.";
    case Area::SSL: return "No errors or warnings found for SSL settings.";
  }
  return "";
}

const std::string LongAddress(300, '1');
const std::string WebAdminTarget = "Target is this server's Web Admin port, every browser would count as local!";

// One mutation of the valid configuration per row; 0 in status means the
// check passes.
std::vector<Case> Cases() {
  const uint8_t E = 3, W = 2, OK = 0;
  return {
      // General errors, then warnings, in order.
      {"blank gate name", Area::General, [](ValidConfig& t) { t.h.GateName = "  "; }, E, "Server should have a name!"},
      {"gate name beats port", Area::General, [](ValidConfig& t) { t.h.GateName = "", t.h.AdminPort = 0; }, E,
       "Server should have a name!"},
      {"admin port 0", Area::General, [](ValidConfig& t) { t.h.AdminPort = 0; }, E, "Web Admin Port must be set!"},
      {"admin port 65536 is not checked", Area::General, [](ValidConfig& t) { t.h.AdminPort = 65536; }, OK, ""},
      {"error before warning", Area::General, [](ValidConfig& t) { t.h.AdminPort = 0, t.h.Password = ""; }, E,
       "Web Admin Port must be set!"},
      {"blank password", Area::General, [](ValidConfig& t) { t.h.Password = " "; }, W,
       "Login Password should not be empty for security reasons"},
      {"blank login name", Area::General, [](ValidConfig& t) { t.h.Username = ""; }, W,
       "Login Name should not be empty for security reasons"},
      {"MaxThreads 10", Area::General, [](ValidConfig& t) { t.h.MaxThreads = 10; }, W,
       "More threads in the thread pool may improve performance"},
      {"MaxThreads 11", Area::General, [](ValidConfig& t) { t.h.MaxThreads = 11; }, OK, ""},
      {"MaxThreads 199", Area::General, [](ValidConfig& t) { t.h.MaxThreads = 199; }, OK, ""},
      {"MaxThreads 200", Area::General, [](ValidConfig& t) { t.h.MaxThreads = 200; }, W,
       "Thread pool is excessively large this could hamper performance"},

      // Domain errors.
      {"no bind address", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.Clear(); }, E,
       "Enabled domains must have at least one IP to bind to!"},
      {"blank bind lines", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText(" \r\n "); }, E,
       "Enabled domains must have at least one IP to bind to!"},
      {"no target", Area::Domain, [](ValidConfig& t) { t.d->DefaultTargetAddress = " "; }, E,
       "Target address must be set!"},
      {"a root path is a target", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "", t.d->AddVirtualPath()->Path = "/"; }, OK, ""},
      {"another path is not", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "", t.d->AddVirtualPath()->Path = "/a"; }, E,
       "Target address must be set!"},
      {"no out port", Area::Domain, [](ValidConfig& t) { t.d->OutPort = 0; }, E, "Outport must be set!"},
      {"a cluster needs no target or out port", Area::Domain,
       [](ValidConfig& t) { t.d->ServerCluster = t.c, t.d->DefaultTargetAddress = "", t.d->OutPort = 0; }, OK, ""},
      {"in port 0", Area::Domain, [](ValidConfig& t) { t.d->ListenOnPort = 0; }, E, "Inport must be set!"},
      {"in port 65535", Area::Domain, [](ValidConfig& t) { t.d->ListenOnPort = 65535; }, OK, ""},
      {"in port 65536", Area::Domain, [](ValidConfig& t) { t.d->ListenOnPort = 65536; }, E,
       "Highest inport allowed is 65535!"},
      {"host replace", Area::Domain, [](ValidConfig& t) { t.d->DefaultHostReplace = "a_b"; }, E,
       "Host Replace: Letter \"_\" (Ascii 95) not valid in domain name."},
      {"SSL without a fitting set", Area::Domain, [](ValidConfig& t) { t.d->SSL = true; }, E,
       "Unable to find matchin SSL certificate!"},
      {"SSL with a fitting set", Area::Domain,
       [](ValidConfig& t) { t.d->SSL = true, t.d->ListenOnPort = 443, t.d->IPsToBindTo.SetText(LocalIP); }, OK, ""},
      {"SSL with a disabled set", Area::Domain,
       [](ValidConfig& t) {
         t.d->SSL = true, t.d->ListenOnPort = 443, t.d->IPsToBindTo.SetText(LocalIP), t.s->Enabled = false;
       },
       E, "Unable to find matchin SSL certificate!"},
      {"bad address", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText("*\r\n1.2.3"); }, E,
       "Invalid IP number: 1.2.3"},
      {"address is trimmed", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText(" 127.0.0.1 "); }, OK, ""},
      {"own address", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText(LocalIP); }, OK, ""},
      {"foreign address", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText("10.9.9.9"); }, E,
       "IP number does not exist on this server: 10.9.9.9"},
      {"huge address part", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText("1234567890123.1.1.1"); }, E,
       "Invalid IP number: 1234567890123.1.1.1"},
      {"300-character address", Area::Domain, [](ValidConfig& t) { t.d->IPsToBindTo.SetText(LongAddress); }, E,
       "Invalid IP number: " + LongAddress},
      {"request header without colon", Area::Domain,
       [](ValidConfig& t) { t.d->RequestHeadersToAdd.SetText("A: 1\r\n\r\nBroken"); }, E,
       "All request headers must follow the format \"HeaderName: HeaderValue\"."},
      {"request header colon first", Area::Domain, [](ValidConfig& t) { t.d->RequestHeadersToAdd.SetText(":x"); },
       E, "All request headers must follow the format \"HeaderName: HeaderValue\"."},
      {"request header colon second", Area::Domain, [](ValidConfig& t) { t.d->RequestHeadersToAdd.SetText("A:x"); },
       OK, ""},
      {"response header", Area::Domain, [](ValidConfig& t) { t.d->ResponseHeadersToAdd.SetText("Nope"); }, E,
       "All response headers must follow the format \"HeaderName: HeaderValue\"."},
      {"leading wildcard", Area::Domain, [](ValidConfig& t) { t.d->VirtualDomains.SetText(" *.a.com \r\n\r\n"); }, OK,
       ""},
      {"inner wildcard", Area::Domain, [](ValidConfig& t) { t.d->VirtualDomains.SetText("a.*.com"); }, E,
       "Wild cards can only come first in domains, as in \"*.mysite.com\"."},
      {"blank in virtual domain", Area::Domain, [](ValidConfig& t) { t.d->VirtualDomains.SetText("* a"); }, E,
       "Spaces are not allowed in virtual domains."},
      {"path host replace", Area::Domain, [](ValidConfig& t) { t.d->AddVirtualPath()->HostReplace = "-x"; }, E,
       "Virtual Path: Domain name can't start with \"-\""},
      {"disabled path still checked", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->Enabled = false, p->Path = "/a/";
       },
       E, "Virtual paths should not end with /"},
      {"path ends in backslash", Area::Domain, [](ValidConfig& t) { t.d->AddVirtualPath()->Path = "/a\\"; }, E,
       "Virtual paths should not end with /"},
      {"Tomcat path may end in slash", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->Path = "/a/", p->PathReplace = "/b/", p->Tomcat = true;
       },
       OK, ""},
      {"path replace ends in slash", Area::Domain, [](ValidConfig& t) { t.d->AddVirtualPath()->PathReplace = "/b/"; },
       E, "Path Replace should not end with /"},
      {"redirect may end in slash", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->PathReplace = "http://x/", p->Redirect = true;
       },
       OK, ""},

      // Domain warnings.
      {"domain name", Area::Domain, [](ValidConfig& t) { t.d->DomainName = "my site"; }, W,
       "Domain Name: Letter \" \" (Ascii 32) not valid in domain name."},
      {"decrypted data on 443", Area::Domain,
       [](ValidConfig& t) {
         t.d->SSL = true, t.d->ListenOnPort = 443, t.d->OutPort = 443, t.d->IPsToBindTo.SetText(LocalIP);
       },
       W, "You're sending decrypted data out on port 443, try port 80 instead!"},
      {"plain domain on 443 both ways", Area::Domain,
       [](ValidConfig& t) { t.d->ListenOnPort = 443, t.d->OutPort = 443; }, OK, ""},
      {"SSL path, first set disabled", Area::Domain,
       [](ValidConfig& t) { t.d->AddVirtualPath()->SSL = true, t.s->Enabled = false; }, W,
       "Virtual path is set to use SSL but SSL is disabled!"},
      {"SSL path, no set at all", Area::Domain,
       [](ValidConfig& t) { t.d->AddVirtualPath()->SSL = true, t.h.SSLSettingsList.Clear(); }, W,
       "Virtual path is set to use SSL but SSL is disabled!"},
      {"SSL path, first set enabled", Area::Domain, [](ValidConfig& t) { t.d->AddVirtualPath()->SSL = true; }, OK,
       ""},
      // A target that is the administration itself (19721 unless stored).
      {"loopback on the admin port", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 19721; }, W, WebAdminTarget},
      {"localhost on the admin port", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = " LocalHost ", t.d->OutPort = 19721; }, W, WebAdminTarget},
      {"other loopback address", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "127.0.0.2", t.d->OutPort = 19721; }, W, WebAdminTarget},
      {"any address", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "0.0.0.0", t.d->OutPort = 19721; }, W, WebAdminTarget},
      {"own address as target", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = LocalIP, t.d->OutPort = 19721; }, W, WebAdminTarget},
      {"empty host is loopback", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "", t.d->AddVirtualPath()->Path = "/", t.d->OutPort = 19721; },
       W, WebAdminTarget},
      {"foreign host on the admin port", Area::Domain, [](ValidConfig& t) { t.d->OutPort = 19721; }, OK, ""},
      {"loopback on another port", Area::Domain,
       [](ValidConfig& t) { t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 19722; }, OK, ""},
      {"stored admin port", Area::Domain,
       [](ValidConfig& t) { t.h.AdminPort = 8100, t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 8100; }, W,
       WebAdminTarget},
      {"default port not used when another is stored", Area::Domain,
       [](ValidConfig& t) { t.h.AdminPort = 8100, t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 19721; },
       OK, ""},
      {"admin port 0 means 19721", Area::Domain,
       [](ValidConfig& t) { t.h.AdminPort = 0, t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 19721; }, W,
       WebAdminTarget},
      {"a cluster domain's default target is unused", Area::Domain,
       [](ValidConfig& t) { t.d->ServerCluster = t.c, t.d->DefaultTargetAddress = "127.0.0.1", t.d->OutPort = 19721; },
       OK, ""},
      {"path on the admin port", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->Path = "/admin", p->TargetAddress = "127.0.0.1", p->OutPort = 19721;
       },
       W, "Virtual Path: " + WebAdminTarget},
      {"path takes the domain's host", Area::Domain,
       [](ValidConfig& t) {
         t.d->DefaultTargetAddress = "localhost";
         t.d->AddVirtualPath()->OutPort = 19721;
       },
       W, "Virtual Path: " + WebAdminTarget},
      {"path takes the domain's port", Area::Domain,
       [](ValidConfig& t) {
         t.d->OutPort = 19721;
         t.d->AddVirtualPath()->TargetAddress = "127.0.0.1";
       },
       W, "Virtual Path: " + WebAdminTarget},
      {"redirect path forwards nothing", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->TargetAddress = "127.0.0.1", p->OutPort = 19721, p->Redirect = true;
       },
       OK, ""},
      {"clustered path", Area::Domain,
       [](ValidConfig& t) {
         auto* p = t.d->AddVirtualPath();
         p->TargetAddress = "127.0.0.1", p->OutPort = 19721;
         p->SetCluster(t.c);
       },
       OK, ""},

      // Cluster errors.
      {"no servers", Area::Cluster, [](ValidConfig& t) { t.c->RemoveServer(t.server); }, E,
       "There are no servers in the cluster!"},
      {"no enabled server", Area::Cluster, [](ValidConfig& t) { t.server->Enabled = false; }, E,
       "There are no enabled servers in the cluster!"},
      {"zero capacity", Area::Cluster,
       [](ValidConfig& t) { t.server->Capacity = 0, t.AddServer("spare", "10.0.0.3")->Enabled = false; }, E,
       "The total capacity of the servers is zero!"},
      {"no address", Area::Cluster, [](ValidConfig& t) { t.AddServer("s2", " "); }, E,
       "Server s2 (#2) has no address!"},
      {"no port", Area::Cluster, [](ValidConfig& t) { t.AddServer("s2", "10.0.0.3")->ServerPort = 0; }, E,
       "Server s2 (#2) has no port!"},
      {"disabled server not checked", Area::Cluster,
       [](ValidConfig& t) {
         auto* x = t.AddServer("", "");
         x->Enabled = false;
       },
       OK, ""},

      // Cluster warnings.
      {"no cluster name", Area::Cluster, [](ValidConfig& t) { t.c->Name = " "; }, W,
       "The server cluster should have a name"},
      {"timeout 10000000", Area::Cluster, [](ValidConfig& t) { t.c->ConnectionTimeout = 10000000; }, W,
       "Connection Timeout seems very high"},
      {"timeout 9999999", Area::Cluster, [](ValidConfig& t) { t.c->ConnectionTimeout = 9999999; }, OK, ""},
      {"timeout 599", Area::Cluster, [](ValidConfig& t) { t.c->ConnectionTimeout = 599; }, W,
       "Connection Timeout seems very low - it's less than 10 minutes."},
      {"timeout 600", Area::Cluster, [](ValidConfig& t) { t.c->ConnectionTimeout = 600; }, OK, ""},
      {"offline time 60", Area::Cluster, [](ValidConfig& t) { t.c->MaxFailBeforeOffline = 11; }, OK, ""},
      {"offline time 66", Area::Cluster,
       [](ValidConfig& t) { t.c->MaxFailBeforeOffline = 10, t.c->FailoverCheckInterval = 6; }, W,
       "Fail Over Timeout is very high - Fail Over will be slow."},
      {"offline time beyond 32 bits", Area::Cluster,
       [](ValidConfig& t) { t.c->MaxFailBeforeOffline = INT32_MAX - 1, t.c->FailoverCheckInterval = INT32_MAX; }, W,
       "Fail Over Timeout is very high - Fail Over will be slow."},
      {"averaging 601", Area::Cluster, [](ValidConfig& t) { t.c->LoadAveragingPeriod = 601; }, W,
       "Load Averaging Period is very high, cluster will respond slowly to changing loads."},
      {"averaging 600", Area::Cluster, [](ValidConfig& t) { t.c->LoadAveragingPeriod = 600; }, OK, ""},
      {"averaging 60", Area::Cluster, [](ValidConfig& t) { t.c->LoadAveragingPeriod = 60; }, OK, ""},
      {"averaging 59", Area::Cluster, [](ValidConfig& t) { t.c->LoadAveragingPeriod = 59; }, W,
       "Load Averaging Period is very low, cluster will respond won't be able to balance properly."},
      {"server without name", Area::Cluster, [](ValidConfig& t) { t.AddServer(" ", "10.0.0.3"); }, W,
       "Server 2 has no name!"},

      // Certificate set errors.
      {"no root file", Area::SSL, [](ValidConfig& t) { t.s->RootCertificateFile = ""; }, E,
       "Root certificate file not set!"},
      {"root file missing", Area::SSL, [](ValidConfig& t) { t.existing.erase("data/cert/root.pem"); }, E,
       "Could not find root certificate file!"},
      {"no certificate file", Area::SSL, [](ValidConfig& t) { t.s->CertificateFile = ""; }, E,
       "Certificate file not set!"},
      {"certificate file missing", Area::SSL, [](ValidConfig& t) { t.existing.erase("data/cert/cert.pem"); }, E,
       "Could not find certificate file!"},
      {"no key file", Area::SSL, [](ValidConfig& t) { t.s->KeyFile = ""; }, E, "Key file not set!"},
      {"key file missing", Area::SSL, [](ValidConfig& t) { t.existing.erase("/etc/key.pem"); }, E,
       "Could not find key file!"},
      {"no password", Area::SSL, [](ValidConfig& t) { t.s->CertificatePassword = ""; }, E,
       "Certificate password not assigned!"},
      {"no bindings", Area::SSL, [](ValidConfig& t) { t.s->Bindings.Clear(); }, E, "No bindings specified!"},
      {"binding port -1", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("*", -1); }, E,
       "Lowest inport allowed is 0!"},
      {"binding port 65536", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("*", 65536); }, E,
       "Highest inport allowed is 65535!"},
      {"binding bad address", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("1.2.3.256", 443); }, E,
       "Invalid IP number: 1.2.3.256"},
      {"binding foreign address", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("10.1.1.1", 443); }, E,
       "IP number does not exist on this server: 10.1.1.1"},
      {"binding loopback and wildcard", Area::SSL,
       [](ValidConfig& t) { t.s->Bindings.AddBinding("127.0.0.1", 443), t.s->Bindings.AddBinding("*", 443); }, OK,
       ""},
      {"error beats warning", Area::SSL,
       [](ValidConfig& t) { t.s->Bindings.AddBinding("*", 8443), t.s->Bindings.AddBinding("*", 70000); }, E,
       "Highest inport allowed is 65535!"},

      // Certificate set warnings.
      {"binding port 8443", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("*", 8443); }, W,
       "SSL normally communicates on port 443."},
      {"binding port 0", Area::SSL, [](ValidConfig& t) { t.s->Bindings.AddBinding("*", 0); }, W,
       "SSL normally communicates on port 443."},
  };
}

}  // namespace

TEST(ErrorWarningChecker, EveryRuleGivesItsStatusAndText) {
  const char* const images[] = {"StatusGreen.jpg", "StatusGray.jpg", "StatusOrange.jpg", "StatusRed.jpg"};
  for (const Case& row : Cases()) {
    SCOPED_TRACE(row.what);
    ValidConfig t;
    row.mutate(t);
    const bool result = RunCheck(t, row.area);
    const std::string text = row.status == 0 ? std::string(OKText(row.area)) : row.text;
    EXPECT_EQ(result, row.status == 0);
    EXPECT_EQ(t.checker.Status, row.status);
    EXPECT_EQ(t.checker.Message, text);
    EXPECT_EQ(t.label, text);  // single checks have no prefix
    EXPECT_EQ(t.image, images[row.status]);
  }
}

TEST(ErrorWarningChecker, NewCheckerStartsAtZero) {
  TDomainHandler h;
  TErrorWarningChecker k(nullptr, &h, nullptr);
  EXPECT_EQ(k.Status, 0);
  EXPECT_EQ(k.FailedDomainIndex, 0);
  EXPECT_EQ(k.FailedClusterIndex, 0);
  EXPECT_EQ(k.FailedSSLIndex, 0);
  EXPECT_EQ(k.Prefix, "");
  // Without a label the outcome still lands in Message.
  h.GateName = "";
  EXPECT_FALSE(k.CheckGeneral());
  EXPECT_EQ(k.Message, "Server should have a name!");
}

TEST(ErrorWarningChecker, WritesIntoAPagesLabelAndImage) {
  TDomainHandler h;
  web::Label label;
  web::ImageFile image;
  label.caption = "Settings look OK";
  TErrorWarningChecker k(&label, &h, &image);
  h.Password = "x";
  EXPECT_TRUE(k.CheckGeneral());
  EXPECT_EQ(label.caption, "No errors or warnings found for general settings.");
  EXPECT_EQ(image.fileName, "StatusGreen.jpg");
  h.MaxThreads = 5;
  EXPECT_FALSE(k.CheckGeneral());
  EXPECT_EQ(label.caption, "More threads in the thread pool may improve performance");
  EXPECT_EQ(image.fileName, "StatusOrange.jpg");
}

TEST(ErrorWarningChecker, DisabledItemsGiveInformation) {
  ValidConfig t;
  t.d->Enabled = false;
  t.d->IPsToBindTo.Clear();
  t.c->Enabled = false;
  t.s->Enabled = false;
  struct {
    std::function<bool()> run;
    const char* text;
  } rows[] = {
      {[&] { return t.checker.CheckDomain(t.d); }, "Domain is disabled"},
      {[&] { return t.checker.CheckCluster(t.c); }, "Cluster is disabled"},
      {[&] { return t.checker.CheckSSLCertificate(t.s); }, "SSL is disabled"},
      {[&] { return t.checker.CheckDomains(); }, "There are no enabled domains"},
      {[&] { return t.checker.CheckClusters(); }, "There are no enabled clusters"},
      {[&] { return t.checker.CheckSSLCertificates(); }, "There are no enabled SSL Certificates"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_TRUE(row.run());
    EXPECT_EQ(t.checker.Status, 1);
    EXPECT_EQ(t.label, row.text);
    EXPECT_EQ(t.image, "StatusGray.jpg");
  }
}

TEST(ErrorWarningChecker, EmptyListsGiveInformation) {
  ValidConfig t;
  t.h.Domains.Clear();
  t.h.ServerClusters->Clear();
  t.h.SSLSettingsList.Clear();
  EXPECT_TRUE(t.checker.CheckDomains());
  EXPECT_EQ(t.label, "There are no domains");
  EXPECT_TRUE(t.checker.CheckClusters());
  EXPECT_EQ(t.label, "There are no clusters");
  EXPECT_TRUE(t.checker.CheckSSLCertificates());
  EXPECT_EQ(t.label, "There are no SSL Certificates");
  EXPECT_EQ(t.checker.Status, 1);
}

TEST(ErrorWarningChecker, CleanListsNameTheirArea) {
  ValidConfig t;
  t.AddValidDomain("second.com");
  EXPECT_TRUE(t.checker.CheckDomains());
  EXPECT_EQ(t.label, "No errors or warnings found for domains settings.");
  EXPECT_TRUE(t.checker.CheckClusters());
  EXPECT_EQ(t.label, "No errors or warnings found for server cluster settings.");
  EXPECT_TRUE(t.checker.CheckSSLCertificates());
  EXPECT_EQ(t.label, "No errors or warnings found for SSL Certificates settings.");
  EXPECT_EQ(t.image, "StatusGreen.jpg");
  EXPECT_EQ(t.checker.Prefix, "");
}

TEST(ErrorWarningChecker, ListErrorsComeBeforeAnyWarning) {
  ValidConfig t;
  t.d->DomainName = "first_one";  // a warning
  TDomain* second = t.AddValidDomain("second.com");
  second->OutPort = 0;  // an error
  EXPECT_FALSE(t.checker.CheckDomains());
  EXPECT_EQ(t.checker.Status, 3);
  EXPECT_EQ(t.checker.FailedDomainIndex, 1);
  EXPECT_EQ(t.checker.Message, "Outport must be set!");
  EXPECT_EQ(t.label, "second.com: Outport must be set!");
  EXPECT_EQ(t.checker.Prefix, "");

  // With the error mended the first domain's warning comes out, index 0.
  second->OutPort = 80;
  EXPECT_FALSE(t.checker.CheckDomains());
  EXPECT_EQ(t.checker.Status, 2);
  EXPECT_EQ(t.checker.FailedDomainIndex, 0);
  EXPECT_EQ(t.label, "first_one: Domain Name: Letter \"_\" (Ascii 95) not valid in domain name.");

  // A passing check leaves the last failed index alone.
  t.d->DomainName = "first.com";
  t.checker.FailedDomainIndex = 7;
  EXPECT_TRUE(t.checker.CheckDomains());
  EXPECT_EQ(t.checker.FailedDomainIndex, 7);
}

TEST(ErrorWarningChecker, DisabledItemsAreSkippedInLists) {
  ValidConfig t;
  TDomain* broken = t.AddValidDomain("broken.com");
  broken->IPsToBindTo.Clear();
  broken->Enabled = false;
  t.h.Domains.Move(1, 0);
  EXPECT_TRUE(t.checker.CheckDomains());

  auto other = t.h.ServerClusters->Add();
  other->Name = "other";
  other->Enabled = false;  // no servers: would be an error
  EXPECT_TRUE(t.checker.CheckClusters());

  TSSLSettings* spare = t.h.SSLSettingsList.AddNew();
  spare->CertificateName = "spare";
  spare->Enabled = false;
  EXPECT_TRUE(t.checker.CheckSSLCertificates());
  EXPECT_EQ(t.checker.Status, 0);
}

TEST(ErrorWarningChecker, ClusterAndSSLListsSetTheirIndexes) {
  ValidConfig t;
  auto second = t.h.ServerClusters->Add();
  second->Name = "second";
  EXPECT_FALSE(t.checker.CheckClusters());
  EXPECT_EQ(t.checker.FailedClusterIndex, 1);
  EXPECT_EQ(t.label, "second: There are no servers in the cluster!");

  TSSLSettings* set = t.h.SSLSettingsList.AddNew();
  set->CertificateName = "other";
  set->Enabled = true;
  set->RootCertificateFile = "";
  EXPECT_FALSE(t.checker.CheckSSLCertificates());
  EXPECT_EQ(t.checker.FailedSSLIndex, 1);
  EXPECT_EQ(t.label, "other: Root certificate file not set!");
  EXPECT_EQ(t.checker.Message, "Root certificate file not set!");
  EXPECT_EQ(t.checker.FailedDomainIndex, 0);
}

TEST(ErrorWarningChecker, PrimitivesReturnTheirCondition) {
  ValidConfig t;
  EXPECT_TRUE(t.checker.CheckError(true, "x"));
  EXPECT_EQ(t.checker.Status, 0);
  EXPECT_FALSE(t.checker.CheckWarning(false, "careful"));
  EXPECT_EQ(t.checker.Status, 2);
  EXPECT_FALSE(t.checker.CheckErrorFmt(false, "Invalid IP number: %s", "a.b"));
  EXPECT_EQ(t.checker.Message, "Invalid IP number: a.b");
  t.checker.Prefix = "p: ";
  t.checker.SetInfo("note");
  EXPECT_EQ(t.label, "p: note");
  EXPECT_EQ(t.checker.Message, "note");
}

TEST(CheckDomainName, Table) {
  struct {
    std::string name;
    bool ok;
    std::string reason;
  } rows[] = {
      {"", false, "Domain name must be set!"},
      {"   ", false, "Domain name must be set!"},
      {".a", false, "Domain name can't start with \".\""},
      {"a.", false, "Domain name can't end with \".\""},
      {"-a", false, "Domain name can't start with \"-\""},
      {"a-", false, "Domain name can't end with \"-\""},
      {"a_b", false, "Letter \"_\" (Ascii 95) not valid in domain name."},
      {" a", false, "Letter \" \" (Ascii 32) not valid in domain name."},
      {"a ", false, "Letter \" \" (Ascii 32) not valid in domain name."},
      {"*.a", false, "Letter \"*\" (Ascii 42) not valid in domain name."},
      {"a\xFF", false, "Letter \"\xFF\" (Ascii 255) not valid in domain name."},
      {"r\xE4ksm\xF6rg\xE5s.se", true, ""},
      {"Www.Example-1.COM", true, ""},
      {"a", true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string reason;
    EXPECT_EQ(CheckDomainName(row.name, reason), row.ok);
    EXPECT_EQ(reason, row.reason);
  }
}

namespace {

// Every area check of every item and list; none may raise.
void RunEveryCheck(TDomainHandler& h) {
  TErrorWarningChecker k([](const std::string&) {}, &h, [](const std::string&) {});
  k.FileExists = [](const std::string&) { return true; };
  k.LocalIPv4Addresses = [] { return std::vector<std::string>{"10.0.0.1"}; };
  k.CheckGeneral();
  k.CheckDomains();
  k.CheckClusters();
  k.CheckSSLCertificates();
  for (const auto& d : h.Domains) k.CheckDomain(d.get());
  for (const auto& c : *h.ServerClusters) k.CheckCluster(c.get());
  for (const auto& s : h.SSLSettingsList) k.CheckSSLCertificate(s.get());
}

// Every number the checks read set to Value, and a 300-character address
// added wherever an address is listed.
void Extremes(TDomainHandler& h, int32_t value) {
  h.MaxThreads = value;
  h.AdminPort = value;
  const std::string longAddress(300, '9');
  for (const auto& d : h.Domains) {
    d->Enabled = true;
    d->SSL = true;
    d->ListenOnPort = value;
    d->OutPort = value;
    d->IPsToBindTo.Add(longAddress);
    d->AddVirtualPath()->SSL = true;
  }
  for (const auto& c : *h.ServerClusters) {
    c->Enabled = true;
    c->ConnectionTimeout = value;
    c->MaxFailBeforeOffline = value;
    c->FailoverCheckInterval = value;
    c->LoadAveragingPeriod = value;
    for (const auto& sv : c->Servers) {
      sv->Enabled = true;
      sv->ServerPort = value;
      sv->Capacity = static_cast<float>(value);
    }
  }
  for (const auto& s : h.SSLSettingsList) {
    s->Enabled = true;
    s->CertificatePassword = "pw";
    s->RootCertificateFile = s->CertificateFile = s->KeyFile = "x.pem";
    s->Bindings.AddBinding(longAddress, value);
  }
}

}  // namespace

TEST(ErrorWarningChecker, NeverRaisesOverTheSettingsSeeds) {
  const auto seeds = SettingsSeeds();
  ASSERT_FALSE(seeds.empty());
  for (size_t i = 0; i < seeds.size(); ++i) {
    SCOPED_TRACE(i);
    {
      TDomainHandler h;
      h.LoadFromStream(seeds[i]);
      EXPECT_NO_THROW(RunEveryCheck(h));
    }
    for (int32_t value : {INT32_MIN, -1, 0, 1, 65535, 65536, INT32_MAX}) {
      SCOPED_TRACE(value);
      TDomainHandler h;
      h.LoadFromStream(seeds[i]);
      Extremes(h, value);
      EXPECT_NO_THROW(RunEveryCheck(h));
      // Also with no certificate set at all, while domains use SSL.
      h.SSLSettingsList.Clear();
      EXPECT_NO_THROW(RunEveryCheck(h));
    }
  }
}
