#include <gtest/gtest.h>

#include "Common/uDomainHandler.h"
#include "Common/uSSLSettings.h"
#include "tests/Common/SettingsBytes.h"

namespace {
std::vector<uint8_t> Saved(const TSSLSettings& set) {
  StreamWriter w;
  set.SaveToStream(w);
  return w.Bytes();
}

TStringList Lines(std::initializer_list<const char*> items) {
  TStringList l;
  for (const char* s : items) l.Add(s);
  return l;
}
}  // namespace

TEST(SSLSettings, Defaults) {
  TSSLSettings s;
  EXPECT_EQ(s.CertificateFile, "vantrell_test_crt.pem");
  EXPECT_EQ(s.RootCertificateFile, "vantrell_test_ca.pem");
  EXPECT_EQ(s.KeyFile, "vantrell_test_pk.pem");
  EXPECT_EQ(s.SSLVersion, 1);
  EXPECT_EQ(s.CertificatePassword, "pelquorn");
  EXPECT_FALSE(s.Enabled);
  EXPECT_EQ(s.VerifyFlags, 6);
  EXPECT_EQ(s.CertificateName, "(unnamed)");
  EXPECT_EQ(s.Bindings.Count(), 0);
  EXPECT_EQ(s.CipherList, "");
  EXPECT_FALSE(s.BindingsFromDomains);
}

TEST(SSLSettings, ResolveCertPathAndTrimmingSetters) {
  EXPECT_EQ(TSSLSettings::ResolveCertPath("server.pem"), "data/cert/server.pem");
  EXPECT_EQ(TSSLSettings::ResolveCertPath("/etc/ssl/x.pem"), "/etc/ssl/x.pem");
  EXPECT_EQ(TSSLSettings::ResolveCertPath("sub/x.pem"), "sub/x.pem");
  EXPECT_EQ(TSSLSettings::ResolveCertPath("a\\b.pem"), "data/cert/a\\b.pem");

  TSSLSettings s;
  s.SetCertificateFile("  a.pem\t");
  s.SetKeyFile("\r\nk.pem ");
  s.SetRootCertificateFile(" /abs/ca.pem");
  s.SetPassword(" secret \n");
  EXPECT_EQ(s.CertificateFile, "a.pem");
  EXPECT_EQ(s.CertificatePath(), "data/cert/a.pem");
  EXPECT_EQ(s.KeyPath(), "data/cert/k.pem");
  EXPECT_EQ(s.RootCertificatePath(), "/abs/ca.pem");
  EXPECT_EQ(s.CertificatePassword, "secret");
}

TEST(SSLSettings, RecordBytes) {
  TSSLSettings s;
  s.Enabled = true;
  s.CertificateFile = "c";
  s.RootCertificateFile = "";
  s.KeyFile = "k";
  s.CertificatePassword = "pw";
  s.SSLVersion = 3;
  s.VerifyFlags = 1;
  s.CertificateName = "n";
  s.Bindings.AddBinding("*", 443);
  s.CipherList = "HIGH";
  const std::vector<uint8_t> expected = Bytes()
                                            .hex("04000000 01")
                                            .hex("01000000").text("c")
                                            .hex("00000000")
                                            .hex("01000000").text("k")
                                            .hex("02000000").text("pw")
                                            .hex("03000000 01")
                                            .hex("01000000").text("n")
                                            .hex("00000000 01000000")
                                            .hex("00000000 01000000").text("*").hex("BB010000")
                                            .hex("04000000").text("HIGH");
  EXPECT_EQ(Saved(s), expected);
}

TEST(SSLSettings, OlderRecords) {
  // Version 1: no verify flags, name, bindings or cipher list.
  const std::vector<uint8_t> v1 = Bytes().i32(1).byte(1).str("c").str("r").str("k").str("p").i32(2);
  TSSLSettings a;
  StreamReader r1(v1);
  a.LoadFromStream(r1);
  EXPECT_EQ(r1.Remaining(), 0u);
  EXPECT_TRUE(a.Enabled);
  EXPECT_EQ(a.VerifyFlags, 6);
  EXPECT_EQ(a.CertificateName, "Unnamed");
  EXPECT_TRUE(a.BindingsFromDomains);
  EXPECT_EQ(a.CipherList, LegacyCipherList);
  EXPECT_EQ(a.SSLVersion, 2);

  // Version 3: bindings, but still the old cipher list.
  const std::vector<uint8_t> v3 = Bytes()
                                      .i32(3).byte(0).str("c").str("r").str("k").str("p").i32(1).byte(7).str("name")
                                      .i32(0).i32(2).i32(0).str("10.0.0.1").i32(443).i32(0).str("*").i32(8443);
  TSSLSettings b;
  StreamReader r3(v3);
  b.LoadFromStream(r3);
  EXPECT_EQ(r3.Remaining(), 0u);
  EXPECT_EQ(b.VerifyFlags, 7);
  EXPECT_EQ(b.CertificateName, "name");
  EXPECT_FALSE(b.BindingsFromDomains);
  ASSERT_EQ(b.Bindings.Count(), 2);
  EXPECT_EQ(b.Bindings[1]->IP, "*");
  EXPECT_EQ(b.Bindings[1]->Port, 8443);
  EXPECT_EQ(b.CipherList, LegacyCipherList);
}

TEST(SSLSettings, CloneIsDeepAndIndependent) {
  TSSLSettings s;
  s.Enabled = true;
  s.CertificateName = "main";
  s.CertificatePassword = "pw";
  s.VerifyFlags = 5;
  s.CipherList = "HIGH:!aNULL";
  s.Bindings.AddBinding("10.0.0.1", 443);
  s.BindingsFromDomains = true;

  auto copy = s.Clone();
  EXPECT_EQ(Saved(*copy), Saved(s));
  EXPECT_FALSE(copy->BindingsFromDomains);

  copy->CertificateName = "other";
  copy->CipherList = "";
  copy->Bindings[0]->Port = 8443;
  copy->Bindings.AddBinding("*", 443);
  EXPECT_EQ(s.CertificateName, "main");
  EXPECT_EQ(s.CipherList, "HIGH:!aNULL");
  ASSERT_EQ(s.Bindings.Count(), 1);
  EXPECT_EQ(s.Bindings[0]->Port, 443);
}

TEST(SSLSettingsList, FindForBinding) {
  TSSLSettingsList list;
  TSSLSettings* disabled = list.AddNew();
  disabled->Bindings.AddBinding("*", 443);
  TSSLSettings* wild = list.AddNew();
  wild->Enabled = true;
  wild->Bindings.AddBinding("*", 443);
  TSSLSettings* specific = list.AddNew();
  specific->Enabled = true;
  specific->Bindings.AddBinding("8.8.8.8", 9443);
  specific->Bindings.AddBinding("1.2.3.4", 8443);
  TSSLSettings* later = list.AddNew();
  later->Enabled = true;
  later->Bindings.AddBinding("*", 8443);

  struct Case {
    TStringList ips;
    int32_t port;
    TSSLSettings* want;
  };
  const Case cases[] = {
      {Lines({"10.0.0.1"}), 443, wild},       // the set's wildcard fits any address
      {Lines({"*"}), 8443, specific},         // the listener's wildcard fits any binding
      {Lines({"1.2.3.4"}), 8443, specific},   // exact address; the earlier set wins
      {Lines({"5.6.7.8"}), 8443, later},      // only the later set's wildcard fits
      {Lines({"8.8.8.8"}), 443, wild},
      {Lines({"10.0.0.1"}), 80, nullptr},     // port mismatch
      {Lines({}), 9443, nullptr},
      {Lines({"8.8.8.8"}), 9443, specific},
  };
  for (const Case& c : cases) EXPECT_EQ(list.FindForBinding(c.ips, c.port), c.want) << c.port;

  wild->Enabled = false;
  later->Enabled = false;
  EXPECT_EQ(list.FindForBinding(Lines({"10.0.0.1"}), 443), nullptr);
}
