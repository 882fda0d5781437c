// The engine host's calls into its HTTPS listeners. Until the HTTPS
// listeners (udmSSLServer) are part of the build this unit stands in: no
// listener is built, none is active and none has a binding. The unit that
// brings TSSLServerList replaces these bodies with calls to it.
#include "HTTPRedirect/udmHTTPBase.h"

void TSSLServerListDeleter::operator()(TSSLServerList*) const {}

// Under the configuration's read lock (PrepareBindings holds it): frees the
// old listeners and builds one per enabled certificate set.
void TdmHTTPBase::CreateSSLServers() {}

void TdmHTTPBase::StartSSLServers(std::string&, std::string&) {}

bool TdmHTTPBase::AnySSLServerActive() const { return false; }

// Raises what a listener's deactivation raised.
void TdmHTTPBase::DeactivateSSLServers() {}

int TdmHTTPBase::SSLBindingCount() const { return 0; }
