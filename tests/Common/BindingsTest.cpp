#include <gtest/gtest.h>

#include <vector>

#include "Common/uDomainHandler.h"

namespace {
TDomain* AddDomain(TDomainHandler& h, int32_t port, std::vector<std::string> ips, bool ssl = false,
                   bool enabled = true) {
  TDomain* d = h.AddDomain();
  d->ListenOnPort = port;
  d->SSL = ssl;
  d->Enabled = enabled;
  d->IPsToBindTo.Clear();
  for (auto& ip : ips) d->IPsToBindTo.Add(ip);
  return d;
}

std::vector<std::string> Bindings(const TDomainHandler& h, bool ssl) {
  TStringList list;
  list.Add("stale");
  h.GetBindings(&list, ssl);
  return list.Items();
}

using Entries = std::vector<std::string>;
}  // namespace

TEST(GetBindings, WildcardSuppressesSpecificAddressesOfItsPort) {
  TDomainHandler h;
  AddDomain(h, 80, {"10.0.0.1"});
  AddDomain(h, 80, {"*"});
  AddDomain(h, 8080, {});
  AddDomain(h, 9090, {"*"}, false, false);
  AddDomain(h, 81, {"10.0.0.2", "10.0.0.2", "*"});
  AddDomain(h, 82, {"10.0.0.3"});
  EXPECT_EQ(Bindings(h, false), (Entries{"*|80", "*|8080", "*|81", "10.0.0.3|82"}));
  EXPECT_EQ(Bindings(h, true), Entries{});
}

TEST(GetBindings, OnlySpecificAddressesFollowTheWildcards) {
  TDomainHandler h;
  AddDomain(h, 80, {"10.0.0.1", "10.0.0.2"});
  AddDomain(h, 8080, {"*"});
  AddDomain(h, 80, {"10.0.0.1"});
  EXPECT_EQ(Bindings(h, false), (Entries{"*|8080", "10.0.0.1|80", "10.0.0.2|80"}));
}

TEST(GetBindings, MixedDomainListensOnBothSides) {
  TDomainHandler h;
  TDomain* mixed = AddDomain(h, 80, {"*", "10.0.0.9"});
  mixed->AddVirtualPath()->SSL = true;
  EXPECT_EQ(Bindings(h, false), (Entries{"*|80"}));
  EXPECT_EQ(mixed->ProtocolMode.load(), 1);
  // The mixed domain's 443 entries do not depend on the first set.
  EXPECT_EQ(Bindings(h, true), (Entries{"*|443"}));
}

TEST(GetBindings, SSLDomainsNeedAnEnabledFirstSet) {
  TDomainHandler h;
  AddDomain(h, 443, {"*", "10.0.0.5"}, true);
  AddDomain(h, 8443, {"10.0.0.6"}, true);
  EXPECT_EQ(Bindings(h, true), Entries{});
  h.FirstSSLSettings()->Enabled = true;
  EXPECT_EQ(Bindings(h, true), (Entries{"*|443", "10.0.0.6|8443"}));
  EXPECT_EQ(Bindings(h, false), Entries{});
  // An empty certificate list counts as a disabled first set.
  h.SSLSettingsList.Clear();
  EXPECT_EQ(Bindings(h, true), Entries{});
}

TEST(GetBindings, ListMustBeGiven) {
  TDomainHandler h;
  try {
    h.GetBindings(nullptr, false);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Strings must be set!");
  }
}

TEST(FillBindings, TakesTheDomainsHTTPSBindings) {
  TDomainHandler h;
  AddDomain(h, 8443, {"*", "10.0.0.5"}, true);
  TDomain* mixed = AddDomain(h, 80, {"fe80::1|x"});
  mixed->AddVirtualPath()->SSL = true;
  TSSLSettings* first = h.FirstSSLSettings();
  first->Enabled = true;
  first->BindingsFromDomains = true;
  first->Bindings.AddBinding("kept", 1);
  TSSLSettings* untouched = h.SSLSettingsList.AddNew();

  first->FillBindings(h);
  untouched->FillBindings(h);
  ASSERT_EQ(first->Bindings.Count(), 3);
  EXPECT_EQ(first->Bindings[0]->IP, "kept");
  EXPECT_EQ(first->Bindings[1]->IP, "*");
  EXPECT_EQ(first->Bindings[1]->Port, 8443);
  // An address holding "|" is split at the last one.
  EXPECT_EQ(first->Bindings[2]->IP, "fe80::1|x");
  EXPECT_EQ(first->Bindings[2]->Port, 443);
  EXPECT_EQ(untouched->Bindings.Count(), 0);
}
