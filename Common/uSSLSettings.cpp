#include "Common/uSSLSettings.h"

#include <algorithm>

#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"

namespace {
constexpr int32_t SetRecordVersion = 4;
constexpr int32_t BindingListRecordVersion = 0;
constexpr int32_t BindingRecordVersion = 0;
constexpr size_t MinBindingBytes = 4 + 4 + 4;

bool ContainsExact(const TStringList& list, std::string_view s) {
  return std::any_of(list.begin(), list.end(), [&](const std::string& e) { return e == s; });
}
}  // namespace

TBinding* TBindingList::AddBinding(std::string ip, int32_t port) {
  return Add(std::make_unique<TBinding>(std::move(ip), port));
}

void TBindingList::LoadFromStream(StreamReader& s) {
  Clear();
  s.ReadInteger();  // record version: no fields depend on it
  const int32_t n = s.ReadCount(MinBindingBytes);
  for (int32_t i = 0; i < n; ++i) {
    s.ReadInteger();
    std::string ip = s.ReadString();
    const int32_t port = s.ReadInteger();
    AddBinding(std::move(ip), port);
  }
}

void TBindingList::SaveToStream(StreamWriter& s) const {
  s.WriteInteger(BindingListRecordVersion);
  s.WriteInteger(Count());
  for (const auto& b : *this) {
    s.WriteInteger(BindingRecordVersion);
    s.WriteString(b->IP);
    s.WriteInteger(b->Port);
  }
}

void TSSLSettings::SetDefaults() {
  CertificateFile = "vantrell_test_crt.pem";
  RootCertificateFile = "vantrell_test_ca.pem";
  KeyFile = "vantrell_test_pk.pem";
  SSLVersion = 1;
  CertificatePassword = "pelquorn";
  Enabled = false;
  VerifyFlags = 6;
  CertificateName = "(unnamed)";
  Bindings.Clear();
}

std::unique_ptr<TSSLSettings> TSSLSettings::Clone() const {
  StreamWriter w;
  SaveToStream(w);
  auto copy = std::make_unique<TSSLSettings>();
  StreamReader r(w.Bytes());
  copy->LoadFromStream(r);
  return copy;
}

std::string TSSLSettings::ResolveCertPath(const std::string& fileName) {
  if (fileName.find('/') != std::string::npos) return fileName;
  return "data/cert/" + fileName;
}

void TSSLSettings::SetCertificateFile(std::string_view v) { CertificateFile = Trim(v); }
void TSSLSettings::SetKeyFile(std::string_view v) { KeyFile = Trim(v); }
void TSSLSettings::SetRootCertificateFile(std::string_view v) { RootCertificateFile = Trim(v); }
void TSSLSettings::SetPassword(std::string_view v) { CertificatePassword = Trim(v); }

void TSSLSettings::FillBindings(TDomainHandler& handler) {
  if (!BindingsFromDomains) return;
  TStringList entries;
  handler.GetBindings(&entries, true);
  for (const std::string& e : entries) {
    // The port never holds a "|"; an address might.
    const size_t bar = e.rfind('|');
    if (bar == std::string::npos) continue;
    Bindings.AddBinding(e.substr(0, bar), StrToInt(std::string_view(e).substr(bar + 1)));
  }
}

void TSSLSettings::LoadFromStream(StreamReader& s) {
  const int32_t version = s.ReadInteger();
  Enabled = s.ReadBoolean();
  CertificateFile = s.ReadString();
  RootCertificateFile = s.ReadString();
  KeyFile = s.ReadString();
  CertificatePassword = s.ReadString();
  SSLVersion = s.ReadInteger();
  if (version > 1) VerifyFlags = s.ReadByte();
  if (version >= 3) {
    CertificateName = s.ReadString();
    Bindings.LoadFromStream(s);
  } else {
    CertificateName = "Unnamed";
    BindingsFromDomains = true;
  }
  CipherList = version >= 4 ? s.ReadString() : std::string(LegacyCipherList);
}

void TSSLSettings::SaveToStream(StreamWriter& s) const {
  s.WriteInteger(SetRecordVersion);
  s.WriteBoolean(Enabled);
  s.WriteString(CertificateFile);
  s.WriteString(RootCertificateFile);
  s.WriteString(KeyFile);
  s.WriteString(CertificatePassword);
  s.WriteInteger(SSLVersion);
  s.WriteByte(VerifyFlags);
  s.WriteString(CertificateName);
  Bindings.SaveToStream(s);
  s.WriteString(CipherList);
}

TSSLSettings* TSSLSettingsList::FindForBinding(const TStringList& ips, int32_t port) const {
  const bool anyAddress = ContainsExact(ips, "*");
  for (const auto& set : *this) {
    if (!set->Enabled) continue;
    for (const auto& b : set->Bindings)
      if (b->Port == port && (anyAddress || b->IP == "*" || ContainsExact(ips, b->IP))) return set.get();
  }
  return nullptr;
}
