#include "Common/uDomainClasses.h"

#include "Common/uConfigTables.h"
#include "Common/uDomainHandler.h"
#include "platform/SysUtils.h"

namespace {
constexpr int32_t DomainRecordVersion = 6;
constexpr int32_t PathRecordVersion = 6;
constexpr size_t DomainLegacyPad = 25;
constexpr size_t PathLegacyPad = 27;
constexpr size_t PathReservedBytes = 4;

std::string WithoutSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

int32_t StoredId(int32_t id) { return id == 0 ? NewConfigId() : id; }
}  // namespace

// ------------------------------------------------------------ TVirtualPath

TVirtualPath::TVirtualPath(TDomain* domain, bool registered)
    : Id(NewConfigId()), Domain(domain), Registered(registered) {}

TVirtualPath::~TVirtualPath() {
  if (Registered && Domain && Domain->Handler) Domain->Handler->VirtualPaths.Remove(this);
}

TServerCluster* TVirtualPath::GetCluster() const {
  switch (Cluster) {
    case ClusterKind::None:
      return nullptr;
    case ClusterKind::DomainCluster:
      return Domain ? Domain->ServerCluster : nullptr;
    case ClusterKind::Explicit:
      return ServerCluster;
  }
  return nullptr;
}

void TVirtualPath::SetCluster(TServerCluster* cluster) {
  Cluster = cluster ? ClusterKind::Explicit : ClusterKind::None;
  ServerCluster = cluster;
}

void TVirtualPath::SetDomainCluster() {
  Cluster = ClusterKind::DomainCluster;
  ServerCluster = nullptr;
}

void TVirtualPath::SetPath(std::string_view text) {
  Path = (!text.empty() && text[0] == '/') ? std::string(text) : "/" + std::string(text);
}

void TVirtualPath::SetTargetPath(std::string_view text) {
  if (!Redirect && !text.empty() && text[0] != '/')
    PathReplace = "/" + std::string(text);
  else
    PathReplace = std::string(text);
}

std::string TVirtualPath::GetURL() const {
  if (SSL) return Format("%s://%s:%d%s", "https", Domain->DomainName, 443, Path);
  return Format("%s://%s:%d%s", Domain->SSL ? "HTTPS" : "HTTP", Domain->DomainName, Domain->ListenOnPort, Path);
}

void TVirtualPath::LoadFromStream(StreamReader& s) {
  const int32_t r = s.ReadRecordVersion();
  SetPath(s.ReadString());
  TargetAddress = s.ReadString();
  s.Skip(PathReservedBytes);
  OutPort = s.ReadInteger();
  HostReplace = s.ReadString();
  PathReplace = s.ReadString();
  Enabled = s.ReadBoolean();
  Id = StoredId(s.ReadInteger());
  if (r == -1) s.Skip(PathLegacyPad);
  ClusterIndex = r > 0 ? s.ReadInteger() : NoClusterIndex;
  SSL = r >= 2 && s.ReadBoolean();
  App = r >= 3 && s.ReadBoolean();
  Tomcat = r >= 4 && s.ReadBoolean();
  Redirect = r >= 5 && s.ReadBoolean();
  PermanentRedirect = r >= 6 && s.ReadBoolean();
}

void TVirtualPath::SaveToStream(StreamWriter& s) const {
  int32_t clusterIndex = NoClusterIndex;
  if (Cluster == ClusterKind::DomainCluster)
    clusterIndex = DomainClusterIndex;
  else if (Cluster == ClusterKind::Explicit && Domain)
    clusterIndex = Domain->Handler->ClusterPosition(ServerCluster);
  s.WriteInteger(PathRecordVersion);
  s.WriteString(Path);
  s.WriteString(TargetAddress);
  s.WritePadding(PathReservedBytes);
  s.WriteInteger(OutPort);
  s.WriteString(HostReplace);
  s.WriteString(PathReplace);
  s.WriteBoolean(Enabled);
  s.WriteInteger(Id);
  s.WriteInteger(clusterIndex);
  s.WriteBoolean(SSL);
  s.WriteBoolean(App);
  s.WriteBoolean(Tomcat);
  s.WriteBoolean(Redirect);
  s.WriteBoolean(PermanentRedirect);
}

// ----------------------------------------------------------------- TDomain

TDomain::TDomain(TDomainHandler* handler) : Id(NewConfigId()), Handler(handler) { IPsToBindTo.Add("*"); }

TDomain::~TDomain() {
  // Paths unregister themselves from the handler as they go.
  VirtualPaths.Clear();
}

TVirtualPath* TDomain::AddVirtualPath() {
  TVirtualPath* path = VirtualPaths.Add(std::make_unique<TVirtualPath>(this, true));
  Handler->VirtualPaths.Add(path);
  return path;
}

bool TDomain::RemoveVirtualPath(TVirtualPath* path) { return VirtualPaths.Remove(path); }

bool TDomain::HasVirtualPath(std::string_view path) const {
  for (const auto& p : VirtualPaths)
    if (p->Path == path) return true;
  return false;
}

void TDomain::SetLogName(std::string_view text) {
  SiteName = WithoutSpaces(text);
  if (SiteName.empty()) AssignLogName();
}

void TDomain::AssignLogName() {
  auto usedByOther = [this](const std::string& name) {
    for (const auto& d : Handler->Domains)
      if (d.get() != this && d->SiteName == name) return true;
    return false;
  };
  // Among Count + 1 candidates one is always free.
  for (int i = 0;; ++i) {
    std::string name = Format("W3SVC%d", i);
    if (!usedByOther(name)) {
      SiteName = std::move(name);
      return;
    }
  }
}

void TDomain::UpdateProtocolMode() {
  uint8_t mode = 0;
  if (SSL) {
    mode = 2;
  } else {
    for (const auto& p : VirtualPaths)
      if (p->SSL) {
        mode = 1;
        break;
      }
  }
  ProtocolMode.store(mode);
}

const char* TDomain::ProtocolModeText() const {
  switch (ProtocolMode.load()) {
    case 1:
      return "mix";
    case 2:
      return "ssl";
    default:
      return "http";
  }
}

std::string TDomain::GetURL() const {
  return Format("%s://%s:%d/", SSL ? "HTTPS" : "HTTP", DomainName, ListenOnPort);
}

std::string TDomain::PortText() const {
  if (SSL) return "SSL";
  switch (ListenOnPort) {
    case 0:
      return "-";
    case 80:
      return "HTTP";
    case 443:
      return "SSL";
    default:
      return IntToStr(ListenOnPort);
  }
}

std::string TDomain::TargetPortText() const { return OutPort == 0 ? "-" : IntToStr(OutPort); }

void TDomain::LoadFromStream(StreamReader& s) {
  const int32_t r = s.ReadRecordVersion();
  DomainName = s.ReadString();
  Description = s.ReadString();
  DefaultTargetAddress = s.ReadString();
  DefaultHostReplace = s.ReadString();
  ListenOnPort = s.ReadInteger();
  OutPort = s.ReadInteger();
  LogEnabled = s.ReadBoolean();
  s.ReadStringList(RequestHeadersToAdd);
  s.ReadStringList(ResponseHeadersToAdd);
  IPRestrictor.LoadFromStream(s);
  VirtualPaths.Clear();
  const int32_t paths = s.ReadCount(TVirtualPath::MinRecordBytes);
  for (int32_t i = 0; i < paths; ++i) AddVirtualPath()->LoadFromStream(s);
  s.ReadStringList(VirtualDomains);
  s.ReadStringList(IPsToBindTo);
  if (IPsToBindTo.Empty()) IPsToBindTo.Add("*");
  DefaultForPort = s.ReadBoolean();
  Enabled = s.ReadBoolean();
  Id = StoredId(s.ReadInteger());
  if (r < 2) s.Skip(1);
  if (r == -1) s.Skip(DomainLegacyPad);
  ClusterIndex = r > 0 ? s.ReadInteger() : -1;
  SiteName = r >= 3 ? s.ReadString() : WithoutSpaces(DomainName);
  SSL = r >= 4 ? s.ReadBoolean() : ListenOnPort == 443;
  OwaHTTPtoHTTPS = r >= 5 && s.ReadBoolean();
  ForcedHTTPtoHTTPS = r >= 6 && s.ReadBoolean();
  UpdateProtocolMode();
}

void TDomain::SaveToStream(StreamWriter& s) {
  CleanHeaderList(RequestHeadersToAdd);
  CleanHeaderList(ResponseHeadersToAdd);
  s.WriteInteger(DomainRecordVersion);
  s.WriteString(DomainName);
  s.WriteString(Description);
  s.WriteString(DefaultTargetAddress);
  s.WriteString(DefaultHostReplace);
  s.WriteInteger(ListenOnPort);
  s.WriteInteger(OutPort);
  s.WriteBoolean(LogEnabled);
  s.WriteStringList(RequestHeadersToAdd);
  s.WriteStringList(ResponseHeadersToAdd);
  IPRestrictor.SaveToStream(s);
  s.WriteInteger(VirtualPaths.Count());
  for (const auto& p : VirtualPaths) p->SaveToStream(s);
  s.WriteStringList(VirtualDomains);
  s.WriteStringList(IPsToBindTo);
  s.WriteBoolean(DefaultForPort);
  s.WriteBoolean(Enabled);
  s.WriteInteger(Id);
  s.WriteInteger(Handler->ClusterPosition(ServerCluster));
  s.WriteString(SiteName);
  s.WriteBoolean(SSL);
  s.WriteBoolean(OwaHTTPtoHTTPS);
  s.WriteBoolean(ForcedHTTPtoHTTPS);
}
