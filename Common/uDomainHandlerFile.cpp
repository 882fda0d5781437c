// The settings file of TDomainHandler: the stored top-level record, the
// parse-then-swap load, and the file with its backup.
#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"

namespace {
// Skipped and reserved fields of the top-level record.
constexpr size_t ReservedBytes = 8;
constexpr size_t LegacyPad = 184;
constexpr int32_t FirstRecordVersionedFile = 5;
}  // namespace

void TDomainHandler::LoadFromFile(const std::string& fileName) {
  {
    WriteLockGuard g(Synchronizer);
    NoSettingsFile = true;
    FileName = fileName;
  }
  if (!FileExists(fileName)) {
    SetDefaults();
    return;
  }
  LoadFromStream(ReadFileBytes(fileName));
  WriteLockGuard g(Synchronizer);
  NoSettingsFile = false;
}

void TDomainHandler::LoadFromStream(const std::vector<uint8_t>& bytes) {
  StreamReader s(bytes);
  LoadFromStream(s);
}

void TDomainHandler::LoadFromStream(StreamReader& s) {
  auto fresh = std::make_unique<TDomainHandler>();
  {
    // Fields an older file lacks keep their current values.
    ReadLockGuard g(Synchronizer);
    static_cast<TDomainHandlerSettings&>(*fresh) = static_cast<const TDomainHandlerSettings&>(*this);
  }
  fresh->ReadTree(s);
  {
    WriteLockGuard g(Synchronizer);
    fresh->ServerClusters->TakeStateFrom(*ServerClusters);
    TakeTreeFrom(*fresh);
    if (FileVersion > 14) UseXForwardedForGlobal.store(UseXForwardedFor);
  }
  // Fresh now holds the previous tree, which goes with it.
}

void TDomainHandler::TakeTreeFrom(TDomainHandler& fresh) {
  static_cast<TDomainHandlerSettings&>(*this) = static_cast<const TDomainHandlerSettings&>(fresh);
  Domains.Swap(fresh.Domains);
  VirtualPaths.Swap(fresh.VirtualPaths);
  ServerClusters.swap(fresh.ServerClusters);
  SSLSettingsList.Swap(fresh.SSLSettingsList);
  for (const auto& d : Domains) d->Handler = this;
  for (const auto& d : fresh.Domains) d->Handler = &fresh;
}

void TDomainHandler::ReadTree(StreamReader& s) {
  WriteLockGuard g(Synchronizer);
  SetDefaults();
  const int32_t v = s.ReadInteger();
  if (v < 1 || v > SettingsFileVersion)
    throw EReadError(Format("Unsupported settings file version %d (1 to %d can be read)", v, SettingsFileVersion));
  FileVersion = v;
  s.SetLegacy(v < FirstRecordVersionedFile);

  if (v > 1) {
    Username = s.ReadString();
    Password = s.ReadString();
    if (v > 11) {
      Username = XorString(Username, UserNameKey);
      Password = XorString(Password, PasswordKey);
    }
  }
  GateName = s.ReadString();
  s.ReadString();
  s.Skip(ReservedBytes);
  if (v < 3)
    s.ReadString();
  else
    s.Skip(1);
  MaxThreads = s.ReadInteger();
  const int32_t domains = s.ReadCount(TDomain::MinRecordBytes);
  for (int32_t i = 0; i < domains; ++i) AddDomain()->LoadFromStream(s);
  AdminIPRestrictor.LoadFromStream(s);
  AdminPort = s.ReadInteger();
  AllowAccessToStatus = s.ReadBoolean();
  ContactEmailAddress = s.ReadString();
  SendMailOnBrokenServer = s.ReadBoolean();
  s.ReadString();
  NoRemoteAdmin = s.ReadBoolean();
  if (v > 3) CompressionLimiter.LoadFromStream(s);
  if (v < 6) s.Skip(1);
  if (v < 5) s.Skip(LegacyPad);
  if (v > 4) ServerClusters->LoadFromStream(s);
  if (v > 5) LogOptions = s.ReadByte();
  if (v > 7) CheckMethod = s.ReadByte();
  if (v > 8) AllowKeepAlive = s.ReadBoolean();
  if (v >= 10 && v <= 13) {
    SSLSettingsList.Clear();
    SSLSettingsList.AddNew()->LoadFromStream(s);
  } else if (v > 13) {
    SSLSettingsList.Clear();
    const int32_t sets = s.ReadCount(TSSLSettings::MinRecordBytes);
    for (int32_t i = 0; i < sets; ++i) SSLSettingsList.AddNew()->LoadFromStream(s);
  }
  if (v > 10) RemoveVTHeaders = s.ReadBoolean();
  if (v > 12) LogDirectory = s.ReadString();
  if (v > 14) UseXForwardedFor = s.ReadBoolean();
  if (v > 15) CustomCallerIPHeaders = s.ReadString();
  ResolveReferences();
}

void TDomainHandler::SaveToStream(StreamWriter& s) {
  WriteLockGuard g(Synchronizer);
  s.WriteInteger(SettingsFileVersion);
  s.WriteString(XorString(Username, UserNameKey));
  s.WriteString(XorString(Password, PasswordKey));
  s.WriteString(GateName);
  s.WriteString("");
  s.WritePadding(ReservedBytes);
  s.WriteByte(0);
  s.WriteInteger(MaxThreads);
  s.WriteInteger(Domains.Count());
  for (const auto& d : Domains) d->SaveToStream(s);
  AdminIPRestrictor.SaveToStream(s);
  s.WriteInteger(AdminPort);
  s.WriteBoolean(AllowAccessToStatus);
  s.WriteString(ContactEmailAddress);
  s.WriteBoolean(SendMailOnBrokenServer);
  s.WriteString("");
  s.WriteBoolean(NoRemoteAdmin);
  CompressionLimiter.SaveToStream(s);
  ServerClusters->SaveToStream(s);
  s.WriteByte(LogOptions);
  s.WriteByte(CheckMethod);
  s.WriteBoolean(AllowKeepAlive);
  s.WriteInteger(SSLSettingsList.Count());
  for (const auto& set : SSLSettingsList) set->SaveToStream(s);
  s.WriteBoolean(RemoveVTHeaders);
  s.WriteString(LogDirectory);
  s.WriteBoolean(UseXForwardedFor);
  s.WriteString(CustomCallerIPHeaders);
  UseXForwardedForGlobal.store(UseXForwardedFor);
}

void TDomainHandler::SaveToFile(const std::string& fileName) {
  // The backup is a courtesy: its failure never stops the save, and an
  // existing one is replaced only by a current file. A first backup is as
  // private as the file it copies.
  try {
    if (FileExists(fileName)) WriteFileReplacing(fileName + ".old", ReadFileBytes(fileName), fileName);
  } catch (const std::exception&) {
  }
  StreamWriter s;
  SaveToStream(s);
  WriteFileReplacing(fileName, s.Bytes());
}
