#include "tests/fuzz/settings_seeds.h"

#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"

namespace {
std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.TakeBytes();
}

void Put32(std::vector<uint8_t>& b, int32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * k)));
}
void PutStr(std::vector<uint8_t>& b, const char* s) {
  const std::string t(s);
  Put32(b, static_cast<int32_t>(t.size()));
  b.insert(b.end(), t.begin(), t.end());
}

// Version 4: no record versions, every legacy pad.
std::vector<uint8_t> LegacyFile() {
  std::vector<uint8_t> b;
  Put32(b, 4);
  for (const char* s : {"user", "pw", "gate", ""}) PutStr(b, s);
  b.insert(b.end(), 9, 0);
  Put32(b, 10);
  Put32(b, 1);
  for (const char* s : {"legacy", "", "", ""}) PutStr(b, s);
  Put32(b, 81);
  Put32(b, 80);
  b.push_back(1);
  PutStr(b, "A: 1\r\n");
  PutStr(b, "");
  b.push_back(1);
  PutStr(b, "10.*\r\n");
  b.push_back(0);
  PutStr(b, "");
  b.insert(b.end(), 35, 0);
  Put32(b, 1);
  PutStr(b, "/p");
  PutStr(b, "");
  b.insert(b.end(), 4, 0);
  Put32(b, 0);
  PutStr(b, "");
  PutStr(b, "");
  b.push_back(1);
  Put32(b, 3);
  b.insert(b.end(), 27, 0);
  PutStr(b, "");
  PutStr(b, "*\r\n");
  b.push_back(0);
  b.push_back(1);
  Put32(b, 77);
  b.insert(b.end(), 26, 0);
  b.push_back(1);
  PutStr(b, "");
  b.push_back(0);
  PutStr(b, "");
  b.insert(b.end(), 35, 0);
  Put32(b, 19721);
  b.push_back(0);
  PutStr(b, "");
  b.push_back(0);
  PutStr(b, "");
  b.push_back(0);
  b.push_back(1);
  PutStr(b, ".htm\r\n");
  PutStr(b, "text/html\r\n");
  PutStr(b, "");
  b.push_back(0);
  b.insert(b.end(), 25 + 1 + 184, 0);
  return b;
}
}  // namespace

std::vector<std::vector<uint8_t>> SettingsSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  TDomainHandler fresh;
  seeds.push_back(Save(fresh));

  TDomainHandler rich;
  auto cluster = rich.ServerClusters->Add();
  cluster->Name = "web";
  auto server = TServer::Create(*cluster);
  server->ServerName = "one";
  server->ServerAddress = "10.0.0.1";
  server->Capacity = 1;
  TServer::Create(*cluster)->ServerName = "two";
  rich.ServerClusters->Add()->Name = "empty";
  TDomain* d = rich.AddDomain();
  d->DomainName = "www.example.com";
  d->ServerCluster = cluster.get();
  d->RequestHeadersToAdd.Add("X-A: 1");
  d->VirtualDomains.Add("*.example.com");
  d->IPsToBindTo.Add("10.0.0.9");
  d->AddVirtualPath()->SetPath("/a");
  TVirtualPath* p = d->AddVirtualPath();
  p->SetPath("/b");
  p->SetCluster(rich.ServerClusters->GetCluster(1).get());
  p->SSL = true;
  rich.AddDomain()->SSL = true;
  rich.FirstSSLSettings()->Bindings.AddBinding("*", 443);
  rich.SSLSettingsList.AddNew()->Enabled = true;
  seeds.push_back(Save(rich));

  seeds.push_back(LegacyFile());
  return seeds;
}
