// The settings file of TDomainHandler: the stored top-level record, the
// parse-then-swap load, and the file with its backup.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"

namespace {
// Skipped and reserved fields of the top-level record.
constexpr size_t ReservedBytes = 8;
constexpr size_t LegacyPad = 184;
constexpr int32_t FirstRecordVersionedFile = 5;

std::string ErrnoText() { return std::strerror(errno); }

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    throw EInOutError(Format("Cannot open file \"%s\". Not a file", path));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInOutError(Format("Cannot open file \"%s\". %s", path, ErrnoText()));
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EInOutError(Format("Cannot read file \"%s\". %s", path, ErrnoText()));
  return bytes;
}

// Writes a temporary file beside Path and renames it over Path, so that Path
// holds either its old or its new content, never a part.
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string folder = ExtractFilePath(path);
  if (!folder.empty()) ForceDirectories(folder);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw EInOutError(Format("Cannot create file \"%s\". %s", path, ErrnoText()));
  auto fail = [&](const char* what) {
    const std::string reason = ErrnoText();
    ::close(fd);
    ::unlink(temp.c_str());
    throw EInOutError(Format("%s \"%s\". %s", what, path, reason));
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("Cannot write file");
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) fail("Cannot write file");
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    throw EInOutError(Format("Cannot write file \"%s\". %s", path, ErrnoText()));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string reason = ErrnoText();
    ::unlink(temp.c_str());
    throw EInOutError(Format("Cannot write file \"%s\". %s", path, reason));
  }
}
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
  LoadFromStream(ReadWholeFile(fileName));
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
  // existing one is replaced only by a current file.
  try {
    if (FileExists(fileName)) WriteFileReplacing(fileName + ".old", ReadWholeFile(fileName));
  } catch (const std::exception&) {
  }
  StreamWriter s;
  SaveToStream(s);
  WriteFileReplacing(fileName, s.Bytes());
}
