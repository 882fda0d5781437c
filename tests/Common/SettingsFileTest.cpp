// The stored form of the configuration: exact bytes, every file version,
// damaged files and the file with its backup.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/Random.h"
#include "tests/Common/SettingsBytes.h"
#include "tests/Common/TempFolder.h"

namespace fs = std::filesystem;

namespace {
std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.Bytes();
}

// Loads Bytes and checks that the load used every byte.
void LoadAll(TDomainHandler& h, const std::vector<uint8_t>& bytes) {
  StreamReader r(bytes);
  h.LoadFromStream(r);
  EXPECT_EQ(r.Remaining(), 0u) << "bytes left unread";
}

// A configuration with every stored field away from its default.
void BuildRich(TDomainHandler& h) {
  h.Username = std::string("r\xf6ot\x01", 5);
  h.Password = "p@ss w\xe9rd";
  h.GateName = "Gate";
  h.MaxThreads = 33;
  h.AdminPort = 0;  // kept as stored
  h.AllowAccessToStatus = true;
  h.ContactEmailAddress = "ops@example.com";
  h.SendMailOnBrokenServer = true;
  h.NoRemoteAdmin = true;
  h.LogOptions = 5;
  h.CheckMethod = 1;
  h.AllowKeepAlive = false;
  h.RemoveVTHeaders = true;
  h.LogDirectory = "/var/log/vt";
  h.UseXForwardedFor = true;
  h.CustomCallerIPHeaders = "X-Real-IP";
  h.AdminIPRestrictor.Mode = 0;
  h.AdminIPRestrictor.IPNumbers.SetText("127.0.0.1\r\n10.*\r\n");
  h.AdminIPRestrictor.RequestDeniedAction = 3;
  h.AdminIPRestrictor.FileName = "denied.htm";
  h.CompressionLimiter.Enabled = false;
  h.CompressionLimiter.ExtToCompress.SetText(".a\r\n.b\r\n");
  h.CompressionLimiter.MIMEToCompress.SetText("text/a\r\n");
  h.CompressionLimiter.ReservedText = "reserved";
  h.CompressionLimiter.ReservedFlag = 9;

  auto c0 = h.ServerClusters->Add();
  c0->Name = "web";
  c0->Enabled = false;
  c0->ConnectionTimeout = 60;
  c0->MaxFailBeforeOffline = 3;
  c0->FailoverCheckInterval = 7;
  c0->LoadAveragingPeriod = 120;
  c0->UserAgent = "probe";
  c0->HostName = "check.local";
  c0->Document = "/health";
  c0->VerifyMethod = 1;
  c0->SessionMethod = 2;
  auto s0 = TServer::Create(*c0);
  s0->ServerName = "one";
  s0->ServerAddress = "10.1.0.1";
  s0->ServerPort = 8081;
  s0->Capacity = 2.5f;
  s0->Enabled = true;
  s0->AutoActivate = false;
  auto s1 = TServer::Create(*c0);
  s1->ServerName = "two";
  auto c1 = h.ServerClusters->Add();
  c1->Name = "api";
  auto s2 = TServer::Create(*c1);
  s2->ServerName = "three";
  s2->Capacity = 1;
  s2->Enabled = true;

  TDomain* d = h.AddDomain();
  d->DomainName = "www.example.com";
  d->Description = "main site";
  d->DefaultTargetAddress = "10.0.0.1";
  d->DefaultHostReplace = "internal";
  d->ListenOnPort = 443;
  d->OutPort = 8080;
  d->LogEnabled = false;
  d->RequestHeadersToAdd.SetText("X-A: 1\r\n\r\nX-B: 2\r\n");
  d->ResponseHeadersToAdd.SetText("X-C: 3\r\n");
  d->IPRestrictor.Mode = 0;
  d->IPRestrictor.IPNumbers.SetText("192.168.*\r\n");
  d->IPRestrictor.RequestDeniedAction = 2;
  d->IPRestrictor.FileName = "x";
  d->VirtualDomains.SetText("example.com\r\n*.example.org\r\n");
  d->IPsToBindTo.SetText("10.0.0.2\r\n*\r\n");
  d->DefaultForPort = true;
  d->Enabled = false;
  d->Id = 1234567;
  d->ServerCluster = c1.get();
  d->SiteName = "W3SVC7";
  d->SSL = true;
  d->OwaHTTPtoHTTPS = true;
  d->ForcedHTTPtoHTTPS = true;
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath("/app");
  p->TargetAddress = "10.0.0.3";
  p->OutPort = 9000;
  p->HostReplace = "apphost";
  p->PathReplace = "http://moved/";
  p->Enabled = false;
  p->Id = 7654321;
  p->SetCluster(c0.get());
  p->SSL = p->App = p->Tomcat = p->Redirect = p->PermanentRedirect = true;
  TVirtualPath* q = d->AddVirtualPath();
  q->SetPath("/none");
  q->SetCluster(nullptr);
  d->AddVirtualPath()->SetPath("/marker");

  TDomain* e = h.AddDomain();
  e->DomainName = "second";
  e->SiteName = "second";

  TSSLSettings* first = h.FirstSSLSettings();
  first->Enabled = true;
  first->CertificateFile = "a.pem";
  first->RootCertificateFile = "b.pem";
  first->KeyFile = "c.pem";
  first->CertificatePassword = "kp";
  first->SSLVersion = 3;
  first->VerifyFlags = 1;
  first->CertificateName = "primary";
  first->Bindings.AddBinding("*", 443);
  first->Bindings.AddBinding("10.0.0.2", 8443);
  first->CipherList = "HIGH";
  h.SSLSettingsList.AddNew()->CertificateName = "spare";
}

// The hand-derived record of a new virtual path whose id is 01020304.
std::vector<uint8_t> DefaultPathRecord() {
  return Bytes()
      .hex("06000000")                  // record version
      .hex("01000000 2F")               // Path "/"
      .hex("00000000")                  // TargetAddress
      .hex("00000000")                  // reserved
      .hex("00000000")                  // OutPort
      .hex("00000000 00000000")         // HostReplace, PathReplace
      .hex("01")                        // Enabled
      .hex("04030201")                  // Id
      .hex("FEFFFFFF")                  // the domain's cluster
      .hex("00 00 00 00 00");           // SSL, App, Tomcat, Redirect, PermanentRedirect
}

// The hand-derived record of a new domain without paths, id 0A0B0C0D.
std::vector<uint8_t> DefaultDomainRecord() {
  return Bytes()
      .hex("06000000")
      .hex("09000000").text("(unnamed)")
      .hex("00000000 00000000 00000000")  // Description, DefaultTargetAddress, DefaultHostReplace
      .hex("50000000 50000000")           // ports 80, 80
      .hex("01")                          // LogEnabled
      .hex("00000000 00000000")           // header lists
      .hex("00000000 01 00000000 00 00000000")  // restrictor
      .hex("00000000")                    // no paths
      .hex("00000000")                    // VirtualDomains
      .hex("03000000 2A0D0A")             // IPsToBindTo "*"
      .hex("00 01")                       // DefaultForPort, Enabled
      .hex("0D0C0B0A")                    // Id
      .hex("FFFFFFFF")                    // no cluster
      .hex("00000000")                    // SiteName
      .hex("00 00 00");                   // SSL, OwaHTTPtoHTTPS, ForcedHTTPtoHTTPS
}

// A legacy restrictor record (no version) with its pad.
Bytes& LegacyRestrictor(Bytes& b, uint8_t mode, const char* ips, uint8_t action, const char* file) {
  return b.byte(mode).str(ips).byte(action).str(file).pad(35);
}

// An empty cluster record of version 6.
Bytes& ClusterRecord(Bytes& b, const char* name, int32_t key) {
  return b.i32(6).str(name).byte(1).i32(1800).i32(0).u16(0).i32(key).i32(1).i32(5).i32(300).str("ua").str("host")
      .str("/").i32(0).i32(0);
}

// A domain record of version 6; Paths holds the path count and records.
Bytes& DomainRecordV6(Bytes& b, const char* name, int32_t port, const char* ips, bool ssl, const Bytes& paths) {
  b.i32(6).str(name).str("").str("").str("").i32(port).i32(80).byte(1).str("").str("");
  b.i32(0).byte(1).str("").byte(0).str("");
  b.raw(paths.get());
  return b.str("").str(ips).byte(0).byte(1).i32(1000 + port).i32(-1).str(name).byte(ssl).byte(0).byte(0);
}

Bytes PathRecordV6(const char* path, bool ssl) {
  Bytes b;
  return std::move(b.i32(6).str(path).str("").pad(4, 0).i32(0).str("").str("").byte(1).i32(5).i32(-2).byte(ssl)
                       .byte(0).byte(0).byte(0).byte(0));
}

// The top-level fields 8 to 16 with no domains and default values.
Bytes& NoDomainsMiddle(Bytes& b) {
  b.i32(150).i32(0);
  b.i32(0).byte(1).str("").byte(0).str("");  // admin restrictor
  b.i32(19721).byte(0).str("").byte(0).str("").byte(0);
  return b.i32(0).byte(1).str("").str("").str("").byte(0);  // limiter with empty lists
}

Bytes& SSLRecordV4(Bytes& b, const char* name, bool enabled) {
  return b.i32(4).byte(enabled).str("c").str("r").str("k").str("p").i32(3).byte(1).str(name).i32(0).i32(1).i32(0)
      .str("*").i32(443).str("HIGH");
}

void ExpectFails(TDomainHandler& h, const std::vector<uint8_t>& bytes, const std::string& message) {
  try {
    h.LoadFromStream(bytes);
    FAIL() << "load succeeded";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

std::string In(const TempFolder& dir, const std::string& name) { return dir.Path() + name; }
}  // namespace

// ------------------------------------------------------------ exact bytes

TEST(SettingsRecords, DefaultPathAndDomainBytes) {
  TDomainHandler h;
  TDomain* d = h.AddDomain();
  d->Id = 0x0A0B0C0D;
  StreamWriter dw;
  d->SaveToStream(dw);
  EXPECT_EQ(dw.Bytes(), DefaultDomainRecord());
  EXPECT_EQ(dw.Size(), 92u);

  TVirtualPath* p = d->AddVirtualPath();
  p->Id = 0x01020304;
  StreamWriter pw;
  p->SaveToStream(pw);
  EXPECT_EQ(pw.Bytes(), DefaultPathRecord());
  EXPECT_EQ(pw.Size(), 43u);
}

TEST(SettingsRecords, ClusterPositionsAsWritten) {
  TDomainHandler h;
  h.ServerClusters->Add();
  TServerCluster* second = h.ServerClusters->Add().get();
  TDomain* d = h.AddDomain();
  d->ServerCluster = second;
  TVirtualPath* p = d->AddVirtualPath();
  p->SetCluster(h.ServerClusters->GetCluster(0).get());
  StreamWriter w;
  d->SaveToStream(w);
  const std::vector<uint8_t>& b = w.Bytes();
  // The path's cluster is followed by its five flags, the domain's by its
  // empty site name and three flags.
  const size_t pathEnd = 4 + 13 + 12 + 8 + 1 + 8 + 14 + 4 + 43;
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + pathEnd - 9, b.begin() + pathEnd - 5), Bytes().hex("00000000").get());
  EXPECT_EQ(std::vector<uint8_t>(b.end() - 11, b.end() - 7), Bytes().hex("01000000").get());
}

TEST(SettingsFile, FreshHandlerBytes) {
  TDomainHandler h;
  const std::vector<uint8_t> expected =
      Bytes()
          .hex("10000000")                                   // version 16
          .hex("05000000 30531B3103")                        // "Admin", scrambled
          .hex("00000000")                                   // empty password
          .hex("0F000000").text("Vantrell Switch")
          .hex("00000000 0000000000000000 00")               // reserved
          .hex("96000000")                                   // MaxThreads 150
          .hex("00000000")                                   // no domains
          .hex("00000000 01 00000000 00 00000000")           // admin restrictor
          .hex("094D0000")                                   // AdminPort 19721
          .hex("00 00000000 00 00000000 00")                 // status, e-mail, mail flag, reserved, remote admin
          .hex("00000000 01")                                // limiter version, Enabled
          .hex("4B000000").text(".asp\r\n.aspx\r\n.css\r\n.dhtml\r\n.doc\r\n.htm\r\n.html\r\n.js\r\n.jsp\r\n"
                                ".txt\r\n.xls\r\n.xml\r\n")
          .hex("61000000").text("application/x-javascript\r\ntext/css\r\ntext/html\r\ntext/javascript\r\n"
                                "text/plain\r\ntext/text\r\ntext/xml\r\n")
          .hex("00000000 00")                                // ReservedText, ReservedFlag
          .hex("00000000")                                   // no clusters
          .hex("03 00 01")                                   // LogOptions, CheckMethod, AllowKeepAlive
          .hex("01000000")                                   // one certificate set
          .hex("04000000 00")
          .hex("15000000").text("vantrell_test_crt.pem")
          .hex("14000000").text("vantrell_test_ca.pem")
          .hex("14000000").text("vantrell_test_pk.pem")
          .hex("08000000").text("pelquorn")
          .hex("01000000 06")
          .hex("09000000").text("(unnamed)")
          .hex("00000000 00000000")                          // binding list
          .hex("00000000")                                   // cipher list
          .hex("00 00000000 00")                             // RemoveVTHeaders, LogDirectory, UseXForwardedFor
          .hex("1F000000").text("X-Forwarded-for;rlnclientipaddr");
  EXPECT_EQ(Save(h), expected);
  EXPECT_EQ(expected.size(), 448u);
}

// -------------------------------------------------------------- round trip

TEST(SettingsFile, RichConfigurationRoundTrip) {
  TDomainHandler a;
  BuildRich(a);
  const std::vector<uint8_t> saved = Save(a);
  // The login is stored scrambled.
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 8, saved.begin() + 13),
            std::vector<uint8_t>({'r' ^ 'q', 0xf6 ^ '7', 'o' ^ 'v', 't' ^ 'X', 0x01 ^ 'm'}));
  // Saving cleaned the header list.
  EXPECT_EQ(a.Domains[0]->RequestHeadersToAdd.Count(), 2);

  TDomainHandler b;
  LoadAll(b, saved);
  EXPECT_EQ(Save(b), saved);

  EXPECT_EQ(b.FileVersion, 16);
  EXPECT_EQ(b.Username, a.Username);
  EXPECT_EQ(b.Password, a.Password);
  EXPECT_EQ(b.AdminPort, 0);
  ASSERT_EQ(b.Domains.Count(), 2);
  TDomain* d = b.Domains[0];
  EXPECT_EQ(d->Handler, &b);
  EXPECT_EQ(d->Id, 1234567);
  EXPECT_EQ(d->ServerCluster, b.ServerClusters->GetCluster(1).get());
  EXPECT_EQ(d->ProtocolMode.load(), 2);
  ASSERT_EQ(d->VirtualPaths.Count(), 3);
  EXPECT_EQ(d->VirtualPaths[0]->GetCluster(), b.ServerClusters->GetCluster(0).get());
  EXPECT_EQ(d->VirtualPaths[0]->Id, 7654321);
  EXPECT_EQ(d->VirtualPaths[0]->PathReplace, "http://moved/");
  EXPECT_EQ(d->VirtualPaths[1]->Cluster, TVirtualPath::ClusterKind::None);
  EXPECT_EQ(d->VirtualPaths[2]->Cluster, TVirtualPath::ClusterKind::DomainCluster);
  EXPECT_EQ(d->VirtualPaths[2]->GetCluster(), d->ServerCluster);
  EXPECT_EQ(b.VirtualPaths.Count(), 3);
  EXPECT_EQ(b.VirtualPaths[1], d->VirtualPaths[1]);
  ASSERT_EQ(b.ServerClusters->Count(), 2);
  EXPECT_EQ(b.ServerClusters->GetCluster(0)->Servers.Count(), 2);
  ASSERT_EQ(b.SSLSettingsList.Count(), 2);
  EXPECT_EQ(b.SSLSettingsList[1]->CertificateName, "spare");
  EXPECT_FALSE(b.FirstSSLSettings()->BindingsFromDomains);
  EXPECT_EQ(b.FirstSSLSettings()->Bindings.Count(), 2);
  EXPECT_TRUE(UseXForwardedForGlobal.load());
}

TEST(SettingsFile, UseXForwardedForGlobalFollowsLoadsAndSaves) {
  TDomainHandler h;
  h.UseXForwardedFor = true;
  const std::vector<uint8_t> on = Save(h);
  EXPECT_TRUE(UseXForwardedForGlobal.load());
  h.UseXForwardedFor = false;
  const std::vector<uint8_t> off = Save(h);
  EXPECT_FALSE(UseXForwardedForGlobal.load());
  h.LoadFromStream(on);
  EXPECT_TRUE(UseXForwardedForGlobal.load());
  h.LoadFromStream(off);
  EXPECT_FALSE(UseXForwardedForGlobal.load());
  UseXForwardedForGlobal = false;
}

TEST(SettingsRecords, NormalisedOnReading) {
  TDomainHandler h;
  TDomain* d = h.AddDomain();
  d->IPsToBindTo.Clear();
  d->Id = 0;
  TVirtualPath* p = d->AddVirtualPath();
  p->Path = "x";
  p->PathReplace = "y";
  p->Id = 0;
  h.CompressionLimiter.ExtToCompress.SetText(".HTM\r\n.Asp\r\n.b\r\n");
  RandSeed(11);
  TDomainHandler b;
  LoadAll(b, Save(h));
  TDomain* bd = b.Domains[0];
  ASSERT_EQ(bd->IPsToBindTo.Count(), 1);
  EXPECT_EQ(bd->IPsToBindTo[0], "*");
  EXPECT_GE(bd->Id, 1);
  EXPECT_EQ(bd->VirtualPaths[0]->Path, "/x");
  EXPECT_EQ(bd->VirtualPaths[0]->PathReplace, "y");
  EXPECT_GE(bd->VirtualPaths[0]->Id, 1);
  EXPECT_EQ(b.CompressionLimiter.ExtToCompress.Items(), (std::vector<std::string>{".asp", ".b", ".htm"}));
}

// --------------------------------------------------------- record versions

TEST(SettingsRecords, DomainRecordVersions) {
  struct Case {
    int32_t r;
    bool legacyByte, cluster, site, ssl, owa, forced;
  };
  const Case cases[] = {
      {0, true, false, false, false, false, false}, {1, true, true, false, false, false, false},
      {2, false, true, false, false, false, false}, {3, false, true, true, false, false, false},
      {4, false, true, true, true, false, false},   {5, false, true, true, true, true, false},
      {6, false, true, true, true, true, true},
  };
  for (const Case& c : cases) {
    TDomainHandler h;
    h.ServerClusters->Add();
    Bytes b;
    b.i32(c.r).str("a b c").str("desc").str("t").str("hr").i32(443).i32(81).byte(0).str("R: 1\r\n").str("S: 2\r\n");
    b.i32(0).byte(0).str("").byte(1).str("");
    b.i32(0).str("v\r\n").str("").byte(1).byte(0).i32(42);
    if (c.legacyByte) b.pad(1);
    if (c.cluster) b.i32(0);
    if (c.site) b.str("site");
    if (c.ssl) b.byte(0);
    if (c.owa) b.byte(1);
    if (c.forced) b.byte(1);
    TDomain* d = h.AddDomain();
    StreamReader r(b.get());
    d->LoadFromStream(r);
    EXPECT_EQ(r.Remaining(), 0u) << c.r;
    EXPECT_EQ(d->Id, 42);
    EXPECT_FALSE(d->Enabled);
    EXPECT_EQ(d->ClusterIndex, c.cluster ? 0 : -1) << c.r;
    EXPECT_EQ(d->SiteName, c.site ? "site" : "abc") << c.r;
    // Without the stored flag, port 443 means SSL.
    EXPECT_EQ(d->SSL, !c.ssl) << c.r;
    EXPECT_EQ(d->ProtocolMode.load(), c.ssl ? 0 : 2) << c.r;
    EXPECT_EQ(d->OwaHTTPtoHTTPS, c.owa) << c.r;
    EXPECT_EQ(d->ForcedHTTPtoHTTPS, c.forced) << c.r;
  }
}

TEST(SettingsRecords, PathRecordVersions) {
  for (int32_t r = 0; r <= 6; ++r) {
    TDomainHandler h;
    TDomain* d = h.AddDomain();
    Bytes b;
    b.i32(r).str("p").str("t").pad(4).i32(8080).str("h").str("pr").byte(1).i32(9);
    if (r > 0) b.i32(-1);
    for (int flag = 2; flag <= r; ++flag) b.byte(1);
    TVirtualPath* p = d->AddVirtualPath();
    StreamReader rd(b.get());
    p->LoadFromStream(rd);
    EXPECT_EQ(rd.Remaining(), 0u) << r;
    EXPECT_EQ(p->Path, "/p");
    EXPECT_EQ(p->OutPort, 8080);
    EXPECT_EQ(p->ClusterIndex, -1);
    EXPECT_EQ(p->SSL, r >= 2) << r;
    EXPECT_EQ(p->App, r >= 3) << r;
    EXPECT_EQ(p->Tomcat, r >= 4) << r;
    EXPECT_EQ(p->Redirect, r >= 5) << r;
    EXPECT_EQ(p->PermanentRedirect, r >= 6) << r;
  }
}

// --------------------------------------------------------- file versions

TEST(SettingsVersions, Version1HasNoLogin) {
  Bytes b;
  b.i32(1).str("Gate1").str("").pad(8).str("a String at #7").i32(10).i32(0);
  LegacyRestrictor(b, 0, "1.2.3.4\r\n", 1, "f");
  b.i32(8080).byte(1).str("me@x").byte(1).str("").byte(1);
  b.pad(1).pad(184);
  TDomainHandler h;
  LoadAll(h, b);
  EXPECT_EQ(h.FileVersion, 1);
  EXPECT_EQ(h.Username, "Admin");
  EXPECT_EQ(h.Password, "");
  EXPECT_EQ(h.GateName, "Gate1");
  EXPECT_EQ(h.MaxThreads, 10);
  EXPECT_EQ(h.AdminIPRestrictor.Mode, 0);
  EXPECT_EQ(h.AdminIPRestrictor.IPNumbers.Count(), 1);
  EXPECT_EQ(h.AdminPort, 8080);
  EXPECT_TRUE(h.AllowAccessToStatus);
  EXPECT_EQ(h.ContactEmailAddress, "me@x");
  EXPECT_TRUE(h.NoRemoteAdmin);
  EXPECT_EQ(h.CompressionLimiter.ExtToCompress.Count(), 12);
  EXPECT_EQ(h.ServerClusters->Count(), 0);
  EXPECT_EQ(h.LogOptions, 3);
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  EXPECT_EQ(h.FirstSSLSettings()->CertificateName, "(unnamed)");
}

TEST(SettingsVersions, Version4LegacyPads) {
  Bytes b;
  b.i32(4).str("bob").str("pw").str("G").str("").pad(8).byte(0xEE).i32(77).i32(1);
  // Domain, no record version.
  b.str("d one").str("desc").str("target").str("hr").i32(8080).i32(81).byte(0).str("A: 1\r\n").str("");
  LegacyRestrictor(b, 0, "10.*\r\n", 2, "f.htm");
  b.i32(1);
  b.str("p").str("t").pad(4).i32(82).str("h").str("x").byte(1).i32(0).pad(27);  // path
  b.str("a.com\r\n").str("").byte(1).byte(1).i32(1234).pad(1).pad(25);
  LegacyRestrictor(b, 1, "", 0, "");
  b.i32(0).byte(1).str("c@x").byte(1).str("").byte(1);
  b.byte(0).str(".HTM\r\n.Asp\r\n").str("").str("r").byte(7).pad(25);  // limiter
  b.pad(1).pad(184);

  RandSeed(3);
  TDomainHandler h;
  LoadAll(h, b);
  EXPECT_EQ(h.Username, "bob");
  EXPECT_EQ(h.Password, "pw");
  EXPECT_EQ(h.MaxThreads, 77);
  ASSERT_EQ(h.Domains.Count(), 1);
  TDomain* d = h.Domains[0];
  EXPECT_EQ(d->DomainName, "d one");
  EXPECT_EQ(d->ListenOnPort, 8080);
  EXPECT_EQ(d->OutPort, 81);
  EXPECT_FALSE(d->LogEnabled);
  EXPECT_EQ(d->IPRestrictor.RequestDeniedAction, 2);
  EXPECT_EQ(d->IPRestrictor.FileName, "f.htm");
  EXPECT_EQ(d->VirtualDomains[0], "a.com");
  EXPECT_EQ(d->IPsToBindTo[0], "*");
  EXPECT_TRUE(d->DefaultForPort);
  EXPECT_EQ(d->Id, 1234);
  EXPECT_EQ(d->ServerCluster, nullptr);
  EXPECT_EQ(d->SiteName, "done");
  EXPECT_FALSE(d->SSL);
  ASSERT_EQ(d->VirtualPaths.Count(), 1);
  TVirtualPath* p = d->VirtualPaths[0];
  EXPECT_EQ(p->Path, "/p");
  EXPECT_EQ(p->OutPort, 82);
  EXPECT_EQ(p->PathReplace, "x");
  EXPECT_GE(p->Id, 1);
  EXPECT_EQ(p->Cluster, TVirtualPath::ClusterKind::None);
  EXPECT_FALSE(h.CompressionLimiter.Enabled);
  EXPECT_EQ(h.CompressionLimiter.ExtToCompress.Items(), (std::vector<std::string>{".asp", ".htm"}));
  EXPECT_EQ(h.CompressionLimiter.MIMEToCompress.Count(), 0);
  EXPECT_EQ(h.CompressionLimiter.ReservedFlag, 7);
  EXPECT_EQ(h.ServerClusters->Count(), 0);
  EXPECT_EQ(h.SSLSettingsList.Count(), 1);
}

TEST(SettingsVersions, Version9RecordVersionsAndClusters) {
  Bytes b;
  b.i32(9).str("bob").str("pw").str("G9").str("").pad(8).byte(0xEE).i32(20).i32(1);
  // Domain record version 2, with one path of version 1 on cluster 0.
  b.i32(2).str("d9").str("").str("t9").str("").i32(80).i32(8080).byte(1).str("X-A: 1\r\n").str("");
  b.i32(0).byte(0).str("1.*\r\n").byte(1).str("");
  b.i32(1).i32(1).str("/p").str("").pad(4).i32(0).str("").str("").byte(1).i32(55).i32(0);
  b.str("").str("*\r\n").byte(1).byte(1).i32(99).i32(0);
  b.i32(0).byte(1).str("").byte(0).str("");
  b.i32(19800).byte(1).str("a@b").byte(0).str("").byte(0);
  b.i32(0).byte(1).str(".X\r\n").str("text/X\r\n").str("").byte(0);
  b.i32(1);
  ClusterRecord(b, "c9", 4242);
  b.byte(7).byte(1).byte(0);

  TDomainHandler h;
  h.RemoveVTHeaders = true;  // reset by the load
  LoadAll(h, b);
  EXPECT_EQ(h.Username, "bob");
  ASSERT_EQ(h.ServerClusters->Count(), 1);
  TServerCluster* c = h.ServerClusters->GetCluster(0).get();
  EXPECT_EQ(c->Name, "c9");
  TDomain* d = h.Domains[0];
  EXPECT_EQ(d->ServerCluster, c);
  EXPECT_EQ(d->SiteName, "d9");
  EXPECT_FALSE(d->SSL);
  EXPECT_EQ(d->VirtualPaths[0]->GetCluster(), c);
  EXPECT_EQ(d->VirtualPaths[0]->Cluster, TVirtualPath::ClusterKind::Explicit);
  EXPECT_FALSE(d->VirtualPaths[0]->SSL);
  EXPECT_EQ(h.CompressionLimiter.ExtToCompress[0], ".x");
  EXPECT_EQ(h.CompressionLimiter.MIMEToCompress[0], "text/x");
  EXPECT_EQ(h.LogOptions, 7);
  EXPECT_EQ(h.CheckMethod, 1);
  EXPECT_FALSE(h.AllowKeepAlive);
  EXPECT_FALSE(h.RemoveVTHeaders);
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  EXPECT_EQ(h.FirstSSLSettings()->CertificateName, "(unnamed)");
}

// Version 11: a plain login and one certificate set whose old record takes
// its bindings from the domains.
class SettingsVersion11 : public ::testing::TestWithParam<bool> {};

TEST_P(SettingsVersion11, PlainLoginAndBindingsFromDomains) {
  const bool setEnabled = GetParam();
  Bytes b;
  b.i32(11).str("bob").str("pw").str("G").str("").pad(8).byte(0).i32(150).i32(2);
  DomainRecordV6(b, "secure", 8443, "*\r\n10.0.0.5\r\n", true, Bytes().i32(0));
  Bytes paths;
  paths.i32(1).raw(PathRecordV6("/s", true).get());
  DomainRecordV6(b, "mixed", 80, "10.0.0.7\r\n", false, paths);
  b.i32(0).byte(1).str("").byte(0).str("");
  b.i32(19721).byte(0).str("").byte(0).str("").byte(0);
  b.i32(0).byte(1).str("").str("").str("").byte(0);
  b.i32(0).byte(3).byte(0).byte(1);
  b.i32(2).byte(setEnabled).str("c").str("r").str("k").str("p").i32(1).byte(3);  // set record version 2
  b.byte(1);                                                                      // RemoveVTHeaders

  TDomainHandler h;
  LoadAll(h, b);
  EXPECT_EQ(h.Username, "bob");
  EXPECT_EQ(h.Password, "pw");
  EXPECT_TRUE(h.RemoveVTHeaders);
  EXPECT_EQ(h.Domains[1]->ProtocolMode.load(), 1);
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  TSSLSettings* s = h.FirstSSLSettings();
  EXPECT_EQ(s->CertificateName, "Unnamed");
  EXPECT_EQ(s->CipherList, LegacyCipherList);
  EXPECT_EQ(s->VerifyFlags, 3);
  EXPECT_TRUE(s->BindingsFromDomains);
  std::vector<std::string> got;
  for (const auto& bind : s->Bindings) got.push_back(bind->IP + "|" + std::to_string(bind->Port));
  if (setEnabled)
    EXPECT_EQ(got, (std::vector<std::string>{"*|8443", "10.0.0.7|443"}));
  else
    EXPECT_EQ(got, (std::vector<std::string>{"10.0.0.7|443"}));
}
INSTANTIATE_TEST_SUITE_P(FirstSet, SettingsVersion11, ::testing::Bool());

TEST(SettingsVersions, Version12ScrambledLogin) {
  Bytes b;
  b.i32(12).str("\x13\x58\x14").str("\x1D\x43").str("G").str("").pad(8).byte(0);
  NoDomainsMiddle(b);
  b.i32(0).byte(3).byte(0).byte(1);
  SSLRecordV4(b, "only", true);
  b.byte(1);
  TDomainHandler h;
  h.LogDirectory = "reset by the load";
  LoadAll(h, b);
  EXPECT_EQ(h.Username, "bob");
  EXPECT_EQ(h.Password, "pw");
  EXPECT_EQ(h.LogDirectory, "");
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  EXPECT_EQ(h.FirstSSLSettings()->CertificateName, "only");
  EXPECT_EQ(h.FirstSSLSettings()->CipherList, "HIGH");
}

TEST(SettingsVersions, Version13LogDirectoryAndOneSet) {
  Bytes b;
  b.i32(13).str("").str("").str("G").str("").pad(8).byte(0);
  NoDomainsMiddle(b);
  b.i32(0).byte(3).byte(0).byte(1);
  // Set record version 3: bindings, the old cipher list.
  b.i32(3).byte(1).str("c").str("r").str("k").str("p").i32(1).byte(1).str("three").i32(0).i32(1).i32(0).str("*")
      .i32(443);
  b.byte(0).str("/logs");
  TDomainHandler h;
  LoadAll(h, b);
  EXPECT_EQ(h.Username, "");
  EXPECT_EQ(h.LogDirectory, "/logs");
  ASSERT_EQ(h.SSLSettingsList.Count(), 1);
  TSSLSettings* s = h.FirstSSLSettings();
  EXPECT_EQ(s->CertificateName, "three");
  EXPECT_EQ(s->CipherList, LegacyCipherList);
  EXPECT_EQ(s->Bindings.Count(), 1);
  EXPECT_FALSE(s->BindingsFromDomains);
}

TEST(SettingsVersions, Version14SetListAndKeptFields) {
  Bytes b;
  b.i32(14).str("").str("").str("G").str("").pad(8).byte(0);
  NoDomainsMiddle(b);
  b.i32(0).byte(3).byte(1).byte(1);
  b.i32(2);
  SSLRecordV4(b, "first", true);
  b.i32(1).byte(0).str("c").str("r").str("k").str("p").i32(0);  // set record version 1
  b.byte(0).str("");

  TDomainHandler h;
  h.UseXForwardedFor = true;
  h.CustomCallerIPHeaders = "X-Kept";
  UseXForwardedForGlobal = false;
  LoadAll(h, b);
  EXPECT_EQ(h.CheckMethod, 1);
  // Fields this version lacks keep their values; the global is not touched.
  EXPECT_TRUE(h.UseXForwardedFor);
  EXPECT_EQ(h.CustomCallerIPHeaders, "X-Kept");
  EXPECT_FALSE(UseXForwardedForGlobal.load());
  ASSERT_EQ(h.SSLSettingsList.Count(), 2);
  EXPECT_EQ(h.SSLSettingsList[0]->CertificateName, "first");
  EXPECT_EQ(h.SSLSettingsList[1]->CertificateName, "Unnamed");
  EXPECT_EQ(h.SSLSettingsList[1]->VerifyFlags, 6);

  // A count of 0 leaves no set; bindings still work.
  Bytes none;
  none.i32(14).str("").str("").str("G").str("").pad(8).byte(0);
  NoDomainsMiddle(none);
  none.i32(0).byte(3).byte(0).byte(1).i32(0).byte(0).str("");
  LoadAll(h, none);
  EXPECT_EQ(h.SSLSettingsList.Count(), 0);
  TStringList list;
  h.GetBindings(&list, true);
  EXPECT_EQ(list.Count(), 0);
}

// ----------------------------------------------------------- bad files

TEST(SettingsFile, VersionsOutsideTheKnownRangeAreRefused) {
  TDomainHandler h;
  BuildRich(h);
  const std::vector<uint8_t> before = Save(h);
  for (int32_t v : {0, -1, 17, 1000}) {
    std::vector<uint8_t> bytes = before;
    Bytes version;
    version.i32(v);
    std::copy(version.get().begin(), version.get().end(), bytes.begin());
    ExpectFails(h, bytes, "Unsupported settings file version " + std::to_string(v) + " (1 to 16 can be read)");
    EXPECT_EQ(Save(h), before);
  }
}

TEST(SettingsFile, ClusterPositionOutsideTheListIsRefused) {
  TDomainHandler src;
  src.AddDomain();
  std::vector<uint8_t> bytes = Save(src);
  // The only domain's record starts at 57; its cluster position at 81 in it.
  const size_t at = 57 + 81;
  ASSERT_EQ(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + 4), Bytes().i32(-1).get());
  bytes[at] = bytes[at + 1] = bytes[at + 2] = bytes[at + 3] = 0;

  TDomainHandler h;
  BuildRich(h);
  const std::vector<uint8_t> before = Save(h);
  ExpectFails(h, bytes, "List index out of bounds (0)");
  EXPECT_EQ(Save(h), before);
}

TEST(SettingsFile, EveryCutIsRefusedAndKeepsTheTree) {
  TDomainHandler src;
  BuildRich(src);
  const std::vector<uint8_t> full = Save(src);
  TDomainHandler h;
  BuildRich(h);
  TDomain* first = h.Domains[0];
  first->RequestCount = 5;
  h.RequestCount = 9;
  const std::vector<uint8_t> before = Save(h);
  for (size_t cut = 0; cut < full.size(); ++cut) {
    std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(h.LoadFromStream(part), Exception) << cut;
  }
  EXPECT_EQ(Save(h), before);
  EXPECT_EQ(h.Domains[0], first);
  EXPECT_EQ(first->RequestCount.load(), 5);
  EXPECT_EQ(h.RequestCount.load(), 9);
}

TEST(SettingsFile, ChangedBytesNeverBreakTheLoader) {
  TDomainHandler src;
  BuildRich(src);
  const std::vector<uint8_t> full = Save(src);
  TDomainHandler h;
  BuildRich(h);
  const std::vector<uint8_t> before = Save(h);
  std::mt19937 rng(20240611);
  int failures = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = full;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < changes; ++k) {
      const size_t at = rng() % bytes.size();
      // Mostly small values and sign bytes: they hit lengths and counts.
      const uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, static_cast<uint8_t>(rng())};
      bytes[at] = values[rng() % 6];
    }
    TDomainHandler target;
    BuildRich(target);
    const std::vector<uint8_t> targetBefore = Save(target);
    try {
      target.LoadFromStream(bytes);
    } catch (const Exception&) {
      ++failures;
      ASSERT_EQ(Save(target), targetBefore) << "round " << round;
    }
  }
  EXPECT_GT(failures, 0);
  // The live handler was never touched.
  EXPECT_EQ(Save(h), before);
}

TEST(SettingsFile, HugeLengthsAndCountsAreRefusedBeforeAllocating) {
  TDomainHandler h;
  // A 2 GB user name.
  ExpectFails(h, Bytes().i32(16).i32(0x7FFFFFF0).pad(16), "Stream read error");
  // Two billion domains.
  Bytes many;
  many.i32(16).str("").str("").str("").str("").pad(8).byte(0).i32(150).i32(2000000000).pad(200);
  ExpectFails(h, many, "Stream read error");
  // A negative count.
  Bytes negative;
  negative.i32(16).str("").str("").str("").str("").pad(8).byte(0).i32(150).i32(-1).pad(200);
  ExpectFails(h, negative, "Stream read error");
}

// --------------------------------------------------------- reload state

TEST(SettingsReload, ServerStateAndAffinityStayAcrossReloads) {
  TDomainHandler h;
  BuildRich(h);
  const std::vector<uint8_t> bytes = Save(h);
  h.LoadFromStream(bytes);
  TServerCluster* api = h.ServerClusters->GetCluster(1).get();
  std::shared_ptr<TServer> chosen;
  uint8_t status = 0;
  int32_t port = 0;
  std::string host;
  api->GetServer(IPToInt("10.9.9.9"), chosen, status, port, host);
  ASSERT_NE(chosen, nullptr);
  const int32_t entries = h.ServerClusters->GetConnectionCount();
  ASSERT_EQ(entries, 1);
  h.ServerClusters->GetCluster(0)->Servers.GetServer(0)->Online = false;
  TDomain* oldDomain = h.Domains[0];
  oldDomain->RequestCount = 4;

  // A failed reload changes nothing.
  std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 3);
  EXPECT_THROW(h.LoadFromStream(cut), EReadError);
  EXPECT_EQ(h.Domains[0], oldDomain);
  EXPECT_EQ(h.ServerClusters->GetConnectionCount(), entries);

  // A good one builds new records; servers that stay keep their state and
  // their clients.
  h.LoadFromStream(bytes);
  EXPECT_EQ(h.Domains[0]->RequestCount.load(), 0);
  EXPECT_EQ(h.Domains[0]->Handler, &h);
  EXPECT_EQ(h.ServerClusters->GetConnectionCount(), entries);
  EXPECT_FALSE(h.ServerClusters->GetCluster(0)->Servers.GetServer(0)->Online.load());
  EXPECT_EQ(Save(h), bytes);
}

// ---------------------------------------------------------------- files

TEST(SettingsFileOnDisk, MissingFileGivesDefaultsAndWritesNothing) {
  const TempFolder dir;
  TDomainHandler h;
  BuildRich(h);
  h.NoSettingsFile = false;
  h.LoadFromFile(In(dir, "data/settings.dat"));
  EXPECT_TRUE(h.NoSettingsFile);
  EXPECT_EQ(h.FileName, In(dir, "data/settings.dat"));
  EXPECT_EQ(h.Domains.Count(), 0);
  EXPECT_EQ(h.Username, "Admin");
  EXPECT_FALSE(fs::exists(In(dir, "data")));
}

TEST(SettingsFileOnDisk, SaveAndLoadThroughTheFile) {
  const TempFolder dir;
  const std::string file = In(dir, "data/settings.dat");
  TDomainHandler a;
  BuildRich(a);
  a.SaveToFile(file);  // creates the folder
  EXPECT_FALSE(fs::exists(file + ".old"));
  TDomainHandler b;
  b.LoadFromFile(file);
  EXPECT_FALSE(b.NoSettingsFile);
  EXPECT_EQ(Save(b), Save(a));
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(In(dir, "data")), fs::directory_iterator()), 1);

  // A damaged file raises and leaves the loaded configuration.
  WriteWholeFile(file, std::string("\x10\x00\x00\x00garbage", 11));
  EXPECT_THROW(b.LoadFromFile(file), EReadError);
  EXPECT_EQ(Save(b), Save(a));
}

TEST(SettingsFileOnDisk, BackupRule) {
  const TempFolder dir;
  const std::string file = In(dir, "settings.dat");
  const std::string backup = file + ".old";
  TDomainHandler h;

  // An existing backup is replaced by the current file.
  WriteWholeFile(file, "current");
  WriteWholeFile(backup, "older");
  h.SaveToFile(file);
  EXPECT_EQ(ReadWholeFile(backup), "current");
  const std::string saved = ReadWholeFile(file);
  EXPECT_EQ(saved.size(), 448u);

  // Saving again keeps the previous save.
  h.GateName = "changed";
  h.SaveToFile(file);
  EXPECT_EQ(ReadWholeFile(backup), saved);

  // Without a current file, the backup stays as it is.
  fs::remove(file);
  WriteWholeFile(backup, "only copy");
  h.SaveToFile(file);
  EXPECT_EQ(ReadWholeFile(backup), "only copy");
  EXPECT_TRUE(fs::exists(file));
}

// A save by another account (root in the admin's shell, say) leaves the files
// as usable by the account that runs the switch as they were; new files are
// not for everybody.
TEST(SettingsFileOnDisk, SavesKeepModeAndOwnerOfTheFilesTheyReplace) {
  struct Mode {
    mode_t mode;
    uid_t uid;
    gid_t gid;
  };
  auto of = [](const std::string& name) {
    struct stat st {};
    EXPECT_EQ(::stat(name.c_str(), &st), 0) << name;
    return Mode{st.st_mode & 07777, st.st_uid, st.st_gid};
  };
  const bool root = ::geteuid() == 0;
  // As root the files are given to another account, so a kept owner shows.
  const uid_t uid = root ? 4321 : ::geteuid();
  const gid_t gid = root ? 8765 : ::getegid();
  const TempFolder dir;
  const std::string file = In(dir, "data/settings.dat");
  const std::string backup = file + ".old";
  TDomainHandler h;

  h.SaveToFile(file);
  EXPECT_EQ(of(file).mode, 0640u);
  EXPECT_EQ(of(file).uid, ::geteuid());

  struct Case {
    const char* name;
    mode_t fileMode;
    bool backupExists;
    mode_t backupMode;  // kept when it exists
  };
  const Case cases[] = {
      {"private file, first backup", 0600, false, 0},
      {"group-writable file, own backup", 0664, true, 0604},
      {"read-only file", 0400, true, 0640},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(backup);
    if (c.backupExists) {
      WriteWholeFile(backup, "older");
      ASSERT_EQ(::chmod(backup.c_str(), c.backupMode), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), c.fileMode), 0);
    ASSERT_EQ(::chown(file.c_str(), uid, gid), 0);
    h.GateName = c.name;
    h.SaveToFile(file);
    const Mode saved = of(file);
    EXPECT_EQ(saved.mode, c.fileMode);
    EXPECT_EQ(saved.uid, uid);
    EXPECT_EQ(saved.gid, gid);
    TDomainHandler back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.GateName, c.name);
    // A first backup is as private as the file it copies.
    const Mode old = of(backup);
    EXPECT_EQ(old.mode, c.backupExists ? c.backupMode : c.fileMode);
    if (!c.backupExists) {
      EXPECT_EQ(old.uid, uid);
      EXPECT_EQ(old.gid, gid);
    }
  }
  // Nothing but the file and its backup is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(In(dir, "data")), fs::directory_iterator()), 2);
}

TEST(SettingsFileOnDisk, WriteFailureReachesTheCaller) {
  const TempFolder dir;
  const std::string target = In(dir, "is-a-folder");
  fs::create_directories(target);
  TDomainHandler h;
  EXPECT_THROW(h.SaveToFile(target), EInOutError);
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(std::distance(fs::directory_iterator(In(dir, "")), fs::directory_iterator()), 1);
}
