// Certificate sets for the HTTPS listeners and the bindings each set serves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Common/uConfigLists.h"
#include "Common/uStreamIO.h"
#include "platform/Classes.h"

class TDomainHandler;

class TBinding {
 public:
  TBinding() = default;
  TBinding(std::string ip, int32_t port) : IP(std::move(ip)), Port(port) {}
  std::string IP;  // "*" = every address
  int32_t Port = 0;
};

class TBindingList : public TOwningList<TBinding> {
 public:
  TBinding* AddBinding(std::string ip, int32_t port);
  // Reading replaces the whole list.
  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s) const;
};

// Cipher list of records written before the list was stored.
inline constexpr std::string_view LegacyCipherList =
    "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:!SSLv2:+SSLv3:+TLSv1:!EXP:!eNULL:+SHA";

class TSSLSettings {
 public:
  TSSLSettings() { SetDefaults(); }

  std::string CertificateFile;
  std::string RootCertificateFile;
  std::string KeyFile;
  int32_t SSLVersion = 1;  // index into SSLVersionNames
  std::string CertificatePassword;
  bool Enabled = false;
  uint8_t VerifyFlags = 6;  // 1 verify the peer, 2 fail without a peer certificate, 4 verify the client once
  std::string CertificateName;
  TBindingList Bindings;
  // Set only by a record that predates stored bindings: the set then takes
  // the HTTPS bindings of the domains after each load. Never stored.
  bool BindingsFromDomains = false;
  std::string CipherList;  // empty: the listener keeps OpenSSL's default

  // Defaults of a new set with no bindings; CipherList and
  // BindingsFromDomains are left as they are.
  void SetDefaults();
  // An independent copy of everything stored.
  std::unique_ptr<TSSLSettings> Clone() const;

  // A name without "/" lies in the certificate folder.
  static std::string ResolveCertPath(const std::string& fileName);
  std::string CertificatePath() const { return ResolveCertPath(CertificateFile); }
  std::string KeyPath() const { return ResolveCertPath(KeyFile); }
  std::string RootCertificatePath() const { return ResolveCertPath(RootCertificateFile); }

  // Store the text without leading and trailing blanks and control characters.
  void SetCertificateFile(std::string_view v);
  void SetKeyFile(std::string_view v);
  void SetRootCertificateFile(std::string_view v);
  void SetPassword(std::string_view v);

  // Appends the HTTPS bindings of Handler's enabled domains when
  // BindingsFromDomains is set.
  void FillBindings(TDomainHandler& handler);

  void LoadFromStream(StreamReader& s);
  void SaveToStream(StreamWriter& s) const;

  static constexpr size_t MinRecordBytes = 4 + 1 + 4 * 4 + 4;
};

class TSSLSettingsList : public TOwningList<TSSLSettings> {
 public:
  // Appends a new set with its defaults.
  TSSLSettings* AddNew() { return Add(std::make_unique<TSSLSettings>()); }
  // The first enabled set with a binding on Port that fits IPs: IPs holds
  // "*", or the binding is for "*", or IPs holds the binding's address
  // (exact text). None when nothing fits.
  TSSLSettings* FindForBinding(const TStringList& ips, int32_t port) const;
};
