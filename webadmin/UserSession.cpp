#include "webadmin/UserSession.h"

#include <mutex>

#include "Common/uDomainClasses.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uSSLSettings.h"
#include "HTTPRedirect/uEngineHooks.h"

namespace {

// Sessions load and save the one settings file from many worker threads;
// one at a time, so no load sees a save half done and saves never mix.
std::mutex& SettingsFileMutex() {
  static std::mutex m;
  return m;
}

template <class List>
auto ItemAt(const List& list, int32_t index) -> decltype(list.Items(0)) {
  if (index == -1) index = 0;
  if (index < 0 || index >= list.Count()) return nullptr;
  return list.Items(index);
}

}  // namespace

TUserSession::TUserSession() : DomainHandler(std::make_unique<TDomainHandler>()) {
  DomainIndex = DomainHandler->Domains.Count() > 0 ? 0 : -1;
}

TUserSession::~TUserSession() = default;

void TUserSession::LoadSettings() {
  std::lock_guard lock(SettingsFileMutex());
  DomainHandler->LoadFromFile(SettingsFileName);
  PathsMarkedForRemoval.clear();
}

void TUserSession::SaveSettings() {
  {
    std::lock_guard lock(SettingsFileMutex());
    DomainHandler->SaveToFile(SettingsFileName);
  }
  std::string discarded;
  EngineHooks::ReloadSettings(this, discarded);
}

TDomain* TUserSession::GetCurrentDomain() const { return ItemAt(DomainHandler->Domains, DomainIndex); }

TServerCluster* TUserSession::GetCurrentServerCluster() const {
  const TServerClusterList& list = *DomainHandler->ServerClusters;
  const int32_t i = ServerClusterIndex == -1 ? 0 : ServerClusterIndex;
  return i >= 0 && i < list.Count() ? list.GetCluster(i).get() : nullptr;
}

TSSLSettings* TUserSession::GetCurrentSSLSettings() const {
  return ItemAt(DomainHandler->SSLSettingsList, SSLSettingsIndex);
}

void TUserSession::SetCurrentDomain(const TDomain* domain) { DomainIndex = DomainHandler->Domains.IndexOf(domain); }

void TUserSession::SetCurrentServerCluster(const TServerCluster* cluster) {
  ServerClusterIndex = DomainHandler->ServerClusters->IndexOf(cluster);
}

TUserSession* UserSession() {
  web::WebApplication* app = web::currentApp();
  return app ? dynamic_cast<TUserSession*>(app->data()) : nullptr;
}

void FillDomainCombo(web::ComboBox* combo) {
  combo->tag = 1;
  combo->clear();
  TUserSession* session = UserSession();
  if (session) {
    const TDomain* current = session->GetCurrentDomain();
    const TDomainList& domains = session->DomainHandler->Domains;
    for (int i = 0; i < domains.Count(); ++i) {
      TDomain* d = domains[i];
      combo->addItem("(" + std::string(d->ProtocolModeText()) + ") " + d->DomainName, d);
      if (d == current) combo->itemIndex = i;
    }
  }
  combo->tag = 0;
}
