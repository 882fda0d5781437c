// HTTPS listeners: one per enabled certificate set, each on the set's
// bindings with its own TLS context. They feed the engine host's shared
// thread pool and connection handlers, so an HTTPS connection runs the same
// client-thread road as a plain one, marked as HTTPS.
//
// Threads: creation, start and stop run where the host's StartServer and
// DoStopServer run. The password callback runs while the key is loaded (at
// activation), the verify callback on client threads during a handshake;
// both read only the listener's private copy of its set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Common/uSSLSettings.h"
#include "platform/TcpServer.h"
#include "platform/TlsContext.h"

class TdmHTTPBase;

// The TLS options of a set: its CA, certificate and key files resolved in the
// certificate folder (an empty CA name means no CA file), its cipher list
// (empty keeps OpenSSL's) and its verify flags, depth 8. The set's SSL
// version is not applied: the server method negotiates.
TlsServerOptions TlsOptionsFor(const TSSLSettings& settings);
// Bit 1 asks for and checks a client certificate; only with it do bit 2
// (refuse a client without one) and bit 4 (ask once) count.
TlsVerifyMode VerifyModeFromFlags(uint8_t verifyFlags);

// Which TLS library is missing: "" when both are there. The names are the
// ones the operator's messages carry ("ssleay32.dll", "libeay32.dll").
std::string MissingTlsLibrary();
// Tests replace the probe; nullptr restores the real one.
using TlsLibraryProbe = std::string (*)();
void SetTlsLibraryProbe(TlsLibraryProbe probe);

class TdmSSLServer {
 public:
  // A listener for a copy of Settings, prepared but not active.
  static std::unique_ptr<TdmSSLServer> CreateForSettings(TdmHTTPBase& owner, const TSSLSettings& settings);
  // Deactivates the listener.
  ~TdmSSLServer();
  TdmSSLServer(const TdmSSLServer&) = delete;
  TdmSSLServer& operator=(const TdmSSLServer&) = delete;

  // Checks the library and the bindings and starts listening; a refusal
  // leaves Msg set (and logged) and the listener inactive. Errors of the
  // TLS set-up (certificate, key, password) raise.
  void Start(std::string& Msg, std::string& ApplyMsg);
  // Configures TLS and activates, unless a stop is pending or a binding
  // is refused.
  void ApplyAndListen(std::string& ApplyMsg);
  // The set's bindings as the listener's: "*" listens on every address.
  void PrepareBindings();

  // Password of the key; the verify callback's log line.
  std::string OpenSSL_IOGetPassword() const;
  void OpenSSL_IOVerifyPeer(const std::string& subject);

  std::unique_ptr<TSSLSettings> Settings;  // private copy, owned
  std::unique_ptr<TlsContext> IOHandler;   // outlives Server, which uses it
  std::unique_ptr<TcpServer> Server;
  std::string Name;  // unique among the host's listeners

 private:
  explicit TdmSSLServer(TdmHTTPBase& owner);
  TdmHTTPBase& Owner;
};

class TSSLServerList {
 public:
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TdmSSLServer* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  TdmSSLServer* Add(std::unique_ptr<TdmSSLServer> item);
  // Frees every listener (deactivating it).
  void Clear() { items_.clear(); }

  bool AnyActive() const;
  int BindingCount() const;
  // In list order; the first error raises after every listener was tried.
  void SetActive(bool value);
  // Start of every listener in list order with the same two texts; a
  // refused listener does not keep the next ones from starting.
  void StartAll(std::string& Msg, std::string& ApplyMsg);

 private:
  std::vector<std::unique_ptr<TdmSSLServer>> items_;
};
