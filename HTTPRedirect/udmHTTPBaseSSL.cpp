// The engine host's calls into its HTTPS listeners (udmSSLServer).
#include "Common/uDomainHandler.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "HTTPRedirect/udmSSLServer.h"

void TSSLServerListDeleter::operator()(TSSLServerList* list) const { delete list; }

// One listener per enabled certificate set, in list order. The old
// listeners go first, outside the read lock: freeing one waits for its
// client threads, which may want the configuration's lock themselves.
void TdmHTTPBase::CreateSSLServers() {
  if (SSLServers) {
    SSLServers->Clear();
  } else {
    SSLServers.reset(new TSSLServerList);
  }
  TDomainHandler& config = *GetDomainHandler();
  ReadLockGuard g(config.Synchronizer);
  for (const auto& set : config.SSLSettingsList) {
    if (set->Enabled) SSLServers->Add(TdmSSLServer::CreateForSettings(*this, *set));
  }
}

void TdmHTTPBase::StartSSLServers(std::string& msg, std::string& applyMsg) {
  if (SSLServers) SSLServers->StartAll(msg, applyMsg);
}

bool TdmHTTPBase::AnySSLServerActive() const { return SSLServers && SSLServers->AnyActive(); }

// Raises what a listener's deactivation raised.
void TdmHTTPBase::DeactivateSSLServers() {
  if (SSLServers) SSLServers->SetActive(false);
}

int TdmHTTPBase::SSLBindingCount() const { return SSLServers ? SSLServers->BindingCount() : 0; }
