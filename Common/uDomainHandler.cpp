#include "Common/uDomainHandler.h"

#include <mutex>

#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"

std::atomic<bool> UseXForwardedForGlobal{false};

namespace {
std::mutex& HookMutex() {
  static std::mutex m;
  return m;
}
TWebAdminLogHook& Hook() {
  static TWebAdminLogHook hook;
  return hook;
}
}  // namespace

void SetWebAdminLogHook(TWebAdminLogHook hook) {
  std::lock_guard<std::mutex> g(HookMutex());
  Hook() = std::move(hook);
}

TDomainHandler::TDomainHandler() : ServerClusters(std::make_unique<TServerClusterList>()) { SetDefaults(); }

TDomainHandler::~TDomainHandler() {
  // Domains go before the path index their paths unregister from and before
  // the clusters they point at.
  VirtualPaths.Clear();
  Domains.Clear();
}

void TDomainHandler::SetDefaults() {
  WriteLockGuard g(Synchronizer);
  Username = "Admin";
  Password.clear();
  SetAdminPort(DefaultAdminPort);
  GateName = "Vantrell Switch";
  VirtualPaths.Clear();
  Domains.Clear();
  MaxThreads = 150;
  AdminIPRestrictor.IPNumbers.Clear();
  ServerClusters->Clear();
  NoSettingsFile = true;
  LogOptions = 3;
  LogDirectory.clear();
  RemoveVTHeaders = false;
  SSLSettingsList.Clear();
  SSLSettingsList.AddNew();
}

void TDomainHandler::SetAdminPort(int32_t port) { AdminPort = port > 0 ? port : DefaultAdminPort; }

int32_t TDomainHandler::WebAdminPort() const { return AdminPort > 0 ? AdminPort : DefaultAdminPort; }

TSSLSettings* TDomainHandler::FirstSSLSettingsOrNull() const {
  return SSLSettingsList.Empty() ? nullptr : SSLSettingsList.Items(0);
}

TSSLSettings* TDomainHandler::FirstSSLSettings() const {
  Assert(!SSLSettingsList.Empty(), "There are no SSLSettings items in the list!");
  return SSLSettingsList.Items(0);
}

TDomain* TDomainHandler::AddDomain() { return Domains.Add(std::unique_ptr<TDomain>(new TDomain(this))); }

bool TDomainHandler::RemoveDomain(TDomain* domain) { return Domains.Remove(domain); }

void TDomainHandler::Log(const std::string& text) {
  TWebAdminLogHook hook;
  {
    std::lock_guard<std::mutex> g(HookMutex());
    hook = Hook();
  }
  if (hook) hook(this, text);
}

void TDomainHandler::ResolveReferences() {
  WriteLockGuard g(Synchronizer);
  for (const auto& d : Domains) {
    if (d->ClusterIndex >= 0) d->ServerCluster = ClusterAt(d->ClusterIndex);
    for (const auto& p : d->VirtualPaths) {
      if (p->ClusterIndex == NoClusterIndex)
        p->SetCluster(nullptr);
      else if (p->ClusterIndex == DomainClusterIndex)
        p->SetDomainCluster();
      else
        p->SetCluster(ClusterAt(p->ClusterIndex));
    }
  }
  for (const auto& set : SSLSettingsList) set->FillBindings(*this);
}

void TDomainHandler::GetBindings(TStringList* list, bool ssl) const {
  Assert(list != nullptr, "Strings must be set!");
  ReadLockGuard g(Synchronizer);
  list->Clear();
  // An empty certificate list counts as a disabled first set.
  const TSSLSettings* first = FirstSSLSettingsOrNull();
  const bool firstEnabled = first && first->Enabled;

  auto addEntry = [&](const TDomain& d, const std::string& ip, int32_t port) {
    if (d.SSL && !firstEnabled) return;
    if (list->IndexOf(Format("*|%d", port)) >= 0) return;
    std::string entry = Format("%s|%d", ip, port);
    if (list->IndexOf(entry) < 0) list->Add(std::move(entry));
  };
  auto addWildcards = [&](const TDomain& d, int32_t port) {
    if (d.IPsToBindTo.Empty()) addEntry(d, "*", port);
    for (const std::string& ip : d.IPsToBindTo)
      if (ip == "*") addEntry(d, ip, port);
  };
  auto addSpecific = [&](const TDomain& d, int32_t port) {
    for (const std::string& ip : d.IPsToBindTo)
      if (ip != "*") addEntry(d, ip, port);
  };
  auto mixedForHttps = [&](const TDomain& d) { return ssl && !d.SSL && d.ProtocolMode.load() == 1; };

  // Wildcards first, so that they suppress specific addresses of their port.
  for (const auto& d : Domains) {
    if (!d->Enabled) continue;
    d->UpdateProtocolMode();
    if (d->SSL == ssl) addWildcards(*d, d->ListenOnPort);
    if (mixedForHttps(*d)) addWildcards(*d, 443);
  }
  for (const auto& d : Domains) {
    if (!d->Enabled) continue;
    if (d->SSL == ssl) addSpecific(*d, d->ListenOnPort);
    if (mixedForHttps(*d)) addSpecific(*d, 443);
  }
}

// ------------------------------------------------------------ the clusters

int32_t TDomainHandler::ClusterPosition(const TServerCluster* cluster) const {
  return cluster ? ServerClusters->IndexOf(cluster) : -1;
}

TServerCluster* TDomainHandler::ClusterAt(int32_t position) const {
  if (position < 0 || position >= ServerClusters->Count())
    throw EListError(Format("List index out of bounds (%d)", position));
  return ServerClusters->GetCluster(position).get();
}

void TDomainHandler::RemoveCluster(TServerCluster* cluster) {
  if (!cluster) return;
  WriteLockGuard g(Synchronizer);
  for (const auto& d : Domains) {
    if (d->ServerCluster == cluster) {
      d->ServerCluster = nullptr;
      d->ClusterIndex = -1;
    }
    for (const auto& p : d->VirtualPaths) {
      if (p->Cluster == TVirtualPath::ClusterKind::Explicit && p->ServerCluster == cluster) {
        p->SetCluster(nullptr);
        p->ClusterIndex = NoClusterIndex;
      }
    }
  }
  ServerClusters->Remove(cluster);
}
