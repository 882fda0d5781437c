#include <gtest/gtest.h>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"

TEST(DomainDefaults, NewDomainAndPath) {
  TDomainHandler h;
  TDomain* d = h.AddDomain();
  EXPECT_EQ(d->DomainName, "(unnamed)");
  EXPECT_EQ(d->ListenOnPort, 80);
  EXPECT_EQ(d->OutPort, 80);
  EXPECT_TRUE(d->Enabled);
  EXPECT_TRUE(d->LogEnabled);
  EXPECT_FALSE(d->DefaultForPort);
  ASSERT_EQ(d->IPsToBindTo.Count(), 1);
  EXPECT_EQ(d->IPsToBindTo[0], "*");
  EXPECT_EQ(d->SiteName, "");
  EXPECT_GE(d->Id, 1);
  TVirtualPath* p = d->AddVirtualPath();
  EXPECT_EQ(p->Path, "/");
  EXPECT_TRUE(p->Enabled);
  EXPECT_EQ(p->Cluster, TVirtualPath::ClusterKind::DomainCluster);
  EXPECT_GE(p->Id, 1);
}

TEST(DomainRegistration, PathsAreListedByDomainAndHandler) {
  TDomainHandler h;
  TDomain* a = h.AddDomain();
  TDomain* b = h.AddDomain();
  TVirtualPath* a1 = a->AddVirtualPath();
  TVirtualPath* b1 = b->AddVirtualPath();
  TVirtualPath* a2 = a->AddVirtualPath();
  ASSERT_EQ(h.VirtualPaths.Count(), 3);
  EXPECT_EQ(h.VirtualPaths[0], a1);
  EXPECT_EQ(h.VirtualPaths[1], b1);
  EXPECT_EQ(h.VirtualPaths[2], a2);

  EXPECT_TRUE(a->RemoveVirtualPath(a1));
  EXPECT_EQ(h.VirtualPaths.IndexOf(a1), -1);
  EXPECT_EQ(a->VirtualPaths.Count(), 1);
  EXPECT_FALSE(a->RemoveVirtualPath(b1));

  EXPECT_TRUE(h.RemoveDomain(a));
  ASSERT_EQ(h.VirtualPaths.Count(), 1);
  EXPECT_EQ(h.VirtualPaths[0], b1);
  EXPECT_EQ(h.Domains.Count(), 1);

  // An unregistered path belongs to nobody.
  {
    TVirtualPath temp(b, false);
    EXPECT_EQ(h.VirtualPaths.Count(), 1);
  }
  EXPECT_EQ(h.VirtualPaths.Count(), 1);
}

TEST(DomainLogName, AssignTakesFirstFreeNumber) {
  TDomainHandler h;
  TDomain* a = h.AddDomain();
  TDomain* b = h.AddDomain();
  TDomain* c = h.AddDomain();
  a->SiteName = "W3SVC0";
  b->SiteName = "W3SVC2";
  c->AssignLogName();
  EXPECT_EQ(c->SiteName, "W3SVC1");
  // Its own name does not count as taken.
  a->AssignLogName();
  EXPECT_EQ(a->SiteName, "W3SVC0");
  // Comparison is exact.
  b->SiteName = "w3svc3";
  c->SiteName = "W3SVC1";
  TDomain* d = h.AddDomain();
  d->AssignLogName();
  EXPECT_EQ(d->SiteName, "W3SVC2");

  d->SetLogName(" my site ");
  EXPECT_EQ(d->SiteName, "mysite");
  d->SetLogName("   ");
  EXPECT_EQ(d->SiteName, "W3SVC2");
}

TEST(DomainTexts, PortsUrlsAndModes) {
  TDomainHandler h;
  TDomain* d = h.AddDomain();
  d->DomainName = "www.example.com";
  struct Case {
    bool ssl;
    int32_t port;
    const char* text;
  };
  for (const Case& c : {Case{false, 0, "-"}, Case{false, 80, "HTTP"}, Case{false, 443, "SSL"},
                        Case{false, 8080, "8080"}, Case{true, 8080, "SSL"}}) {
    d->SSL = c.ssl;
    d->ListenOnPort = c.port;
    EXPECT_EQ(d->PortText(), c.text) << c.port;
  }
  d->OutPort = 0;
  EXPECT_EQ(d->TargetPortText(), "-");
  d->OutPort = 8081;
  EXPECT_EQ(d->TargetPortText(), "8081");

  d->SSL = false;
  d->ListenOnPort = 8080;
  EXPECT_EQ(d->GetURL(), "HTTP://www.example.com:8080/");
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath("app");
  EXPECT_EQ(p->GetURL(), "HTTP://www.example.com:8080/app");
  d->UpdateProtocolMode();
  EXPECT_STREQ(d->ProtocolModeText(), "http");

  p->SSL = true;
  EXPECT_EQ(p->GetURL(), "https://www.example.com:443/app");
  d->UpdateProtocolMode();
  EXPECT_STREQ(d->ProtocolModeText(), "mix");

  d->SSL = true;
  d->ListenOnPort = 443;
  EXPECT_EQ(d->GetURL(), "HTTPS://www.example.com:443/");
  d->UpdateProtocolMode();
  EXPECT_STREQ(d->ProtocolModeText(), "ssl");

  EXPECT_TRUE(d->HasVirtualPath("/app"));
  EXPECT_FALSE(d->HasVirtualPath("/App"));
}

TEST(VirtualPathTexts, SetPathAndSetTargetPath) {
  TDomainHandler h;
  TVirtualPath* p = h.AddDomain()->AddVirtualPath();
  const std::pair<const char*, const char*> paths[] = {{"", "/"}, {"x", "/x"}, {"/x", "/x"}, {"//x", "//x"}};
  for (const auto& [in, out] : paths) {
    p->SetPath(in);
    EXPECT_EQ(p->Path, out) << in;
  }
  p->SetTargetPath("");
  EXPECT_EQ(p->PathReplace, "");
  p->SetTargetPath("b");
  EXPECT_EQ(p->PathReplace, "/b");
  p->Redirect = true;
  p->SetTargetPath("http://elsewhere/");
  EXPECT_EQ(p->PathReplace, "http://elsewhere/");
}

TEST(VirtualPathCluster, NoneDomainsOrOwn) {
  TDomainHandler h;
  TServerCluster* c0 = h.ServerClusters->Add().get();
  TServerCluster* c1 = h.ServerClusters->Add().get();
  TDomain* d = h.AddDomain();
  d->ServerCluster = c0;
  TVirtualPath* p = d->AddVirtualPath();
  EXPECT_EQ(p->GetCluster(), c0);
  p->SetCluster(c1);
  EXPECT_EQ(p->GetCluster(), c1);
  p->SetCluster(nullptr);
  EXPECT_EQ(p->GetCluster(), nullptr);
  EXPECT_EQ(p->Cluster, TVirtualPath::ClusterKind::None);
  p->SetDomainCluster();
  d->ServerCluster = nullptr;
  EXPECT_EQ(p->GetCluster(), nullptr);
}

TEST(HandlerDefaults, CreateAndSetDefaults) {
  TDomainHandler h;
  EXPECT_EQ(h.Username, "Admin");
  EXPECT_EQ(h.Password, "");
  EXPECT_EQ(h.GateName, "Vantrell Switch");
  EXPECT_EQ(h.AdminPort, 19721);
  EXPECT_EQ(h.MaxThreads, 150);
  EXPECT_EQ(h.LogOptions, 3);
  EXPECT_EQ(h.CheckMethod, 0);
  EXPECT_TRUE(h.AllowKeepAlive);
  EXPECT_FALSE(h.UseXForwardedFor);
  EXPECT_EQ(h.CustomCallerIPHeaders, "X-Forwarded-for;rlnclientipaddr");
  EXPECT_TRUE(h.NoSettingsFile);
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  EXPECT_EQ(h.CompressionLimiter.ExtToCompress.Count(), 12);
  EXPECT_EQ(h.CompressionLimiter.ExtToCompress[0], ".asp");
  EXPECT_EQ(h.CompressionLimiter.MIMEToCompress.Count(), 7);
  EXPECT_EQ(h.CompressionLimiter.MIMEToCompress[0], "application/x-javascript");

  // SetDefaults resets its own fields and leaves the others.
  h.AddDomain()->AddVirtualPath();
  h.ServerClusters->Add();
  h.Username = "x";
  h.AdminIPRestrictor.IPNumbers.Add("1.2.3.4");
  h.AdminIPRestrictor.Mode = 0;
  h.CheckMethod = 1;
  h.NoRemoteAdmin = true;
  h.SSLSettingsList.AddNew();
  h.SetDefaults();
  EXPECT_EQ(h.Username, "Admin");
  EXPECT_EQ(h.Domains.Count(), 0);
  EXPECT_EQ(h.VirtualPaths.Count(), 0);
  EXPECT_EQ(h.ServerClusters->Count(), 0);
  EXPECT_EQ(h.AdminIPRestrictor.IPNumbers.Count(), 0);
  EXPECT_EQ(h.AdminIPRestrictor.Mode, 0);
  EXPECT_EQ(h.CheckMethod, 1);
  EXPECT_TRUE(h.NoRemoteAdmin);
  EXPECT_EQ(h.SSLSettingsList.Count(), 1);
}

TEST(HandlerDefaults, AdminPortAndFirstSSLSettings) {
  TDomainHandler h;
  for (int32_t port : {0, -5}) {
    h.SetAdminPort(port);
    EXPECT_EQ(h.AdminPort, 19721);
  }
  h.SetAdminPort(8088);
  EXPECT_EQ(h.AdminPort, 8088);

  EXPECT_EQ(h.FirstSSLSettings(), h.SSLSettingsList[0]);
  h.SSLSettingsList.Clear();
  EXPECT_EQ(h.FirstSSLSettingsOrNull(), nullptr);
  try {
    h.FirstSSLSettings();
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "There are no SSLSettings items in the list!");
  }
}

TEST(HandlerLog, GoesToTheHookWhenSet) {
  TDomainHandler h;
  h.Log("nobody listens");
  TDomainHandler* sender = nullptr;
  std::string got;
  SetWebAdminLogHook([&](TDomainHandler* s, const std::string& t) {
    sender = s;
    got = t;
  });
  h.Log("User: Admin logged out");
  SetWebAdminLogHook(nullptr);
  EXPECT_EQ(sender, &h);
  EXPECT_EQ(got, "User: Admin logged out");
}

TEST(HandlerRemoveCluster, ClearsEveryReference) {
  TDomainHandler h;
  TServerCluster* keep = h.ServerClusters->Add().get();
  TServerCluster* gone = h.ServerClusters->Add().get();
  TDomain* d = h.AddDomain();
  d->ServerCluster = gone;
  TVirtualPath* own = d->AddVirtualPath();
  own->SetCluster(gone);
  TVirtualPath* other = d->AddVirtualPath();
  other->SetCluster(keep);
  TVirtualPath* marker = d->AddVirtualPath();

  h.RemoveCluster(gone);
  EXPECT_EQ(h.ServerClusters->Count(), 1);
  EXPECT_EQ(d->ServerCluster, nullptr);
  EXPECT_EQ(own->Cluster, TVirtualPath::ClusterKind::None);
  EXPECT_EQ(other->GetCluster(), keep);
  EXPECT_EQ(marker->Cluster, TVirtualPath::ClusterKind::DomainCluster);
  EXPECT_EQ(h.ClusterPosition(keep), 0);
}
