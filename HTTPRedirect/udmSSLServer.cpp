#include "HTTPRedirect/udmSSLServer.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <atomic>

#include "Common/StrFunctions.h"
#include "Common/uStatHolder.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/SysUtils.h"

// ------------------------------------------------------------ TLS options

TlsVerifyMode VerifyModeFromFlags(uint8_t verifyFlags) {
  TlsVerifyMode mode;
  if ((verifyFlags & 1) != 0) {
    mode.verifyPeer = true;
    mode.failIfNoPeerCert = (verifyFlags & 2) != 0;
    mode.clientOnce = (verifyFlags & 4) != 0;
  }
  return mode;
}

TlsServerOptions TlsOptionsFor(const TSSLSettings& settings) {
  TlsServerOptions o;
  // Certificate and key are always read, so a set without them fails at
  // activation; a CA file is needed only to check client certificates.
  if (!settings.RootCertificateFile.empty()) o.rootCertificateFile = settings.RootCertificatePath();
  o.certificateFile = settings.CertificatePath();
  o.keyFile = settings.KeyPath();
  o.cipherList = settings.CipherList;
  o.verify = VerifyModeFromFlags(settings.VerifyFlags);
  o.verifyDepth = 8;
  return o;
}

// ------------------------------------------------------- library probe

namespace {

// OpenSSL is linked in; what can be missing is a working library under it
// (a libssl or libcrypto that does not initialise).
std::string ProbeLinkedOpenSSL() {
  if (OPENSSL_init_ssl(0, nullptr) != 1 || TLS_server_method() == nullptr) return "ssleay32.dll";
  if (OPENSSL_init_crypto(0, nullptr) != 1 || OpenSSL_version_num() < 0x30000000L) return "libeay32.dll";
  return "";
}

std::atomic<TlsLibraryProbe> libraryProbe{nullptr};

}  // namespace

std::string MissingTlsLibrary() {
  TlsLibraryProbe probe = libraryProbe.load();
  return probe != nullptr ? probe() : ProbeLinkedOpenSSL();
}

void SetTlsLibraryProbe(TlsLibraryProbe probe) { libraryProbe.store(probe); }

// ------------------------------------------------------------ TdmSSLServer

TdmSSLServer::TdmSSLServer(TdmHTTPBase& owner) : Owner(owner) {}

std::unique_ptr<TdmSSLServer> TdmSSLServer::CreateForSettings(TdmHTTPBase& owner, const TSSLSettings& settings) {
  std::unique_ptr<TdmSSLServer> self(new TdmSSLServer(owner));
  TdmSSLServer* s = self.get();
  s->IOHandler = std::make_unique<TlsContext>();
  s->IOHandler->SetOnGetPassword([s] { return s->OpenSSL_IOGetPassword(); });
  s->IOHandler->SetOnVerifyPeer([s](const std::string& subject) { s->OpenSSL_IOVerifyPeer(subject); });
  s->Server = std::make_unique<TcpServer>();
  s->Server->SetListenQueue(500);
  s->Server->SetReuseSocket(true);
  s->Settings = settings.Clone();
  s->PrepareBindings();
  // The host's pool (and with it the host's thread class) and handlers.
  s->Server->SetThreadPool(owner.HTTPThreadPool.get());
  s->Server->SetOnConnect([&owner](PeerThread& t) { owner.Server_HTTPSConnect(t); });
  s->Server->SetOnExecute([&owner](PeerThread& t) { owner.Server_HTTPExecute(t); });
  s->Server->SetOnDisconnect([&owner](PeerThread& t) { owner.Server_HTTPDisconnect(t); });
  s->Server->SetOnException([&owner](PeerThread& t, const Exception& e) { owner.Server_HTTPException(t, e); });
  s->Server->SetOnListenException([&owner](const Exception& e) { owner.Server_HTTPListenException(e); });
  s->Server->SetOnConnectionCeiling([&owner](int ceiling) { owner.Server_ConnectionCeiling(ceiling); });
  s->Server->SetHandshakeTimeout([&owner] { return HandshakeTimeoutMs(owner.Limits, *owner.Stats); });
  s->Server->SetTerminateWaitTime(75000);
  TByteSet allowed = CharRange('0', '9') | CharRange('A', 'Z') | CharRange('a', 'z');
  s->Name = "dmSSLServer" + RandomString(12, allowed);
  return self;
}

TdmSSLServer::~TdmSSLServer() {
  try {
    Server->SetActive(false);
  } catch (...) {
    // Inactive either way; the server's destructor still waits for its threads.
  }
  Server.reset();
}

void TdmSSLServer::PrepareBindings() {
  Server->ClearBindings();
  for (const auto& b : Settings->Bindings) {
    const bool all = b->IP == "*";
    Server->AddBinding(all ? std::string() : b->IP, b->Port);
    Owner.LogFmt("Preparing to listen on %s:%d", all ? std::string("all local IPs") : b->IP, b->Port);
  }
}

void TdmSSLServer::Start(std::string& Msg, std::string& ApplyMsg) {
  const std::string missing = MissingTlsLibrary();
  if (!missing.empty()) {
    Msg = "SSL Support disabled: can't find " + missing;
    Owner.Log(Msg);
    return;
  }
  for (const TcpBinding& b : Server->Bindings()) {
    if (!Owner.CheckBinding(Msg, b)) return;
  }
  ApplyAndListen(ApplyMsg);
}

void TdmSSLServer::ApplyAndListen(std::string& ApplyMsg) {
  Server->SetTlsContext(IOHandler.get());
  IOHandler->SetOptions(TlsOptionsFor(*Settings));
  // A refused binding of an earlier listener leaves the state failed; only
  // a pending stop keeps this one from listening.
  if (!Settings->Enabled || Owner.Stats->ServerState == 2) return;
  for (const TcpBinding& b : Server->Bindings()) {
    if (!Owner.CheckBinding(ApplyMsg, b)) return;
  }
  Owner.Log("Starting SSL Listener...");
  Server->SetActive(true);
  Owner.Log("SSL Listener started");
}

std::string TdmSSLServer::OpenSSL_IOGetPassword() const { return Settings->CertificatePassword; }

void TdmSSLServer::OpenSSL_IOVerifyPeer(const std::string& subject) { Owner.LogFmt("VerifyPeer : %s", subject); }

// ---------------------------------------------------------- TSSLServerList

TdmSSLServer* TSSLServerList::Add(std::unique_ptr<TdmSSLServer> item) {
  items_.push_back(std::move(item));
  return items_.back().get();
}

bool TSSLServerList::AnyActive() const {
  for (const auto& s : items_) {
    if (s->Server->Active()) return true;
  }
  return false;
}

int TSSLServerList::BindingCount() const {
  int n = 0;
  for (const auto& s : items_) n += s->Server->BindingCount();
  return n;
}

void TSSLServerList::SetActive(bool value) {
  std::exception_ptr first;
  for (const auto& s : items_) {
    try {
      s->Server->SetActive(value);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void TSSLServerList::StartAll(std::string& Msg, std::string& ApplyMsg) {
  for (const auto& s : items_) s->Start(Msg, ApplyMsg);
}
