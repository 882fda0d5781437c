#include "webadmin/uVTWAWarnings.h"

#include <algorithm>

#include "Common/uDomainHandler.h"
#include "Common/uIPMisc.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uSSLSettings.h"
#include "platform/Socket.h"
#include "platform/SysUtils.h"
#include "platform/web/WebControls.h"

namespace {

const char* const ImageFiles[] = {"StatusGreen.jpg", "StatusGray.jpg", "StatusOrange.jpg", "StatusRed.jpg"};
const char* const kWebAdminTarget = "Target is this server's Web Admin port, every browser would count as local!";

// "" when Name passes, else Label + the reason.
std::string DomainNameFault(const std::string& name, const std::string& label) {
  std::string reason;
  return CheckDomainName(name, reason) ? std::string() : label + reason;
}

bool EndsInSlash(const std::string& s) { return s.size() > 1 && (s.back() == '/' || s.back() == '\\'); }

// Whether a forwarding target reaches this machine: the engine connects to
// 127.0.0.1 for an empty host, and the administration listens on every local
// address.
bool IsOwnHost(const std::string& host, const std::function<std::vector<std::string>()>& localAddresses) {
  const std::string h = Trim(host);
  if (h.empty() || SameText(h, "localhost") || h == "0.0.0.0") return true;
  if (!IsValidIPAddress(h)) return false;
  if (h.rfind("127.", 0) == 0) return true;
  const auto local = localAddresses();
  return std::find(local.begin(), local.end(), h) != local.end();
}

// One list of items as the list checks see it.
struct ListItem {
  std::string name;
  bool enabled;
  std::function<bool()> errors;
  std::function<bool()> warnings;
};

struct ListTexts {
  const char* empty;
  const char* noneEnabled;
  const char* area;
};

// Every enabled item's errors before any item's warnings; the label names the
// failing item, Message holds only the text.
bool CheckList(TErrorWarningChecker& c, const std::vector<ListItem>& items, const ListTexts& texts,
               int32_t& failedIndex) {
  c.Prefix.clear();
  if (items.empty()) {
    c.SetInfo(texts.empty);
    return true;
  }
  if (std::none_of(items.begin(), items.end(), [](const ListItem& i) { return i.enabled; })) {
    c.SetInfo(texts.noneEnabled);
    return true;
  }
  for (bool errorPass : {true, false}) {
    for (size_t i = 0; i < items.size(); ++i) {
      c.Prefix = Format("%s: ", items[i].name);
      if (!items[i].enabled) continue;
      if (!(errorPass ? items[i].errors() : items[i].warnings())) {
        failedIndex = static_cast<int32_t>(i);
        c.Prefix.clear();
        return false;
      }
    }
  }
  c.Prefix.clear();
  c.SetOK(texts.area);
  return true;
}

}  // namespace

bool CheckDomainName(const std::string& name, std::string& reason) {
  if (Trim(name).empty()) {
    reason = "Domain name must be set!";
    return false;
  }
  if (name.front() == '.') {
    reason = "Domain name can't start with \".\"";
    return false;
  }
  if (name.back() == '.') {
    reason = "Domain name can't end with \".\"";
    return false;
  }
  if (name.front() == '-') {
    reason = "Domain name can't start with \"-\"";
    return false;
  }
  if (name.back() == '-') {
    reason = "Domain name can't end with \"-\"";
    return false;
  }
  for (const char ch : name) {
    const auto code = static_cast<unsigned char>(ch);
    // Lower case by ASCII rules; the three Latin-1 letters are taken as
    // lower-case letters only.
    const auto lower = (code >= 'A' && code <= 'Z') ? code + ('a' - 'A') : code;
    const bool ok = lower == '-' || lower == '.' || (lower >= '0' && lower <= '9') ||
                    (lower >= 'a' && lower <= 'z') || lower == 228 || lower == 229 || lower == 246;
    if (!ok) {
      reason = Format("Letter \"%s\" (Ascii %d) not valid in domain name.", std::string(1, ch),
                      static_cast<int>(code));
      return false;
    }
  }
  return true;
}

TErrorWarningChecker::TErrorWarningChecker(TStatusOutput statusLabel, TDomainHandler* settings,
                                           TStatusOutput statusImage)
    : StatusImage(std::move(statusImage)),
      StatusLabel(std::move(statusLabel)),
      Settings(settings),
      FileExists([](const std::string& path) { return ::FileExists(path); }),
      LocalIPv4Addresses([] { return ::LocalIPv4Addresses(); }) {}

TErrorWarningChecker::TErrorWarningChecker(web::Label* statusLabel, TDomainHandler* settings,
                                           web::ImageFile* statusImage)
    : TErrorWarningChecker(TStatusOutput(), settings, TStatusOutput()) {
  if (statusLabel) StatusLabel = [statusLabel](const std::string& text) { statusLabel->caption = text; };
  if (statusImage) StatusImage = [statusImage](const std::string& file) { statusImage->fileName = file; };
}

// ------------------------------------------------------------ status setters

void TErrorWarningChecker::SetStatus(uint8_t status, const std::string& text) {
  Status = status;
  Message = text;
  if (StatusLabel) StatusLabel(Prefix + text);
  if (StatusImage) StatusImage(ImageFiles[status]);
}

void TErrorWarningChecker::SetOK(const std::string& area) {
  SetStatus(StatusOK, Format("No errors or warnings found for %s settings.", area));
}
void TErrorWarningChecker::SetInfo(const std::string& text) { SetStatus(StatusInfo, text); }
void TErrorWarningChecker::SetWarning(const std::string& text) { SetStatus(StatusWarning, text); }
void TErrorWarningChecker::SetError(const std::string& text) { SetStatus(StatusError, text); }

bool TErrorWarningChecker::CheckError(bool condition, const std::string& text) {
  if (!condition) SetError(text);
  return condition;
}
bool TErrorWarningChecker::CheckWarning(bool condition, const std::string& text) {
  if (!condition) SetWarning(text);
  return condition;
}
bool TErrorWarningChecker::CheckErrorFmt(bool condition, const std::string& fmt, const std::string& arg) {
  if (!condition) SetError(Format(fmt, arg));
  return condition;
}

// ------------------------------------------------------------ area checks

bool TErrorWarningChecker::CheckGeneral() {
  if (!GeneralErrors() || !GeneralWarnings()) return false;
  SetOK("general");
  return true;
}

bool TErrorWarningChecker::CheckDomain(TDomain* d) {
  if (!d->Enabled) {
    SetInfo("Domain is disabled");
    return true;
  }
  if (!DomainErrors(d) || !DomainWarnings(d)) return false;
  SetOK("domain");
  return true;
}

bool TErrorWarningChecker::CheckCluster(TServerCluster* c) {
  if (!c->Enabled) {
    SetInfo("Cluster is disabled");
    return true;
  }
  if (!ClusterErrors(c) || !ClusterWarnings(c)) return false;
  SetOK("server cluster");
  return true;
}

bool TErrorWarningChecker::CheckSSLCertificate(TSSLSettings* s) {
  if (!s->Enabled) {
    SetInfo("SSL is disabled");
    return true;
  }
  if (!SSLErrors(s) || !SSLWarnings(s)) return false;
  SetOK("SSL");
  return true;
}

bool TErrorWarningChecker::CheckDomains() {
  std::vector<ListItem> items;
  for (const auto& d : Settings->Domains) {
    TDomain* p = d.get();
    items.push_back({p->DomainName, p->Enabled, [this, p] { return DomainErrors(p); },
                     [this, p] { return DomainWarnings(p); }});
  }
  return CheckList(*this, items, {"There are no domains", "There are no enabled domains", "domains"},
                   FailedDomainIndex);
}

bool TErrorWarningChecker::CheckClusters() {
  std::vector<ListItem> items;
  if (Settings->ServerClusters) {
    for (const auto& c : *Settings->ServerClusters) {
      TServerCluster* p = c.get();
      items.push_back({p->Name, p->Enabled.load(), [this, p] { return ClusterErrors(p); },
                       [this, p] { return ClusterWarnings(p); }});
    }
  }
  return CheckList(*this, items, {"There are no clusters", "There are no enabled clusters", "server cluster"},
                   FailedClusterIndex);
}

bool TErrorWarningChecker::CheckSSLCertificates() {
  std::vector<ListItem> items;
  for (const auto& s : Settings->SSLSettingsList) {
    TSSLSettings* p = s.get();
    items.push_back({p->CertificateName, p->Enabled, [this, p] { return SSLErrors(p); },
                     [this, p] { return SSLWarnings(p); }});
  }
  return CheckList(*this, items,
                   {"There are no SSL Certificates", "There are no enabled SSL Certificates", "SSL Certificates"},
                   FailedSSLIndex);
}

// ------------------------------------------------------------ general

bool TErrorWarningChecker::GeneralErrors() {
  return CheckError(!Trim(Settings->GateName).empty(), "Server should have a name!") &&
         CheckError(Settings->AdminPort != 0, "Web Admin Port must be set!");
}

bool TErrorWarningChecker::GeneralWarnings() {
  return CheckWarning(!Trim(Settings->Password).empty(), "Login Password should not be empty for security reasons") &&
         CheckWarning(!Trim(Settings->Username).empty(), "Login Name should not be empty for security reasons") &&
         CheckWarning(Settings->MaxThreads > 10, "More threads in the thread pool may improve performance") &&
         CheckWarning(Settings->MaxThreads < 200, "Thread pool is excessively large this could hamper performance");
}

// ------------------------------------------------------------ domains

bool TErrorWarningChecker::CheckBindAddress(const std::string& address, const std::vector<std::string>& local) {
  if (address == "*") return true;
  if (!CheckErrorFmt(IsValidIPAddress(address), "Invalid IP number: %s", address)) return false;
  const bool own = address == "127.0.0.1" || std::find(local.begin(), local.end(), address) != local.end();
  return CheckErrorFmt(own, "IP number does not exist on this server: %s", address);
}

bool TErrorWarningChecker::CheckHeaderLines(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines)
    if (!Trim(line).empty() && !CheckError(Pos(":", line) >= 2, text)) return false;
  return true;
}

bool TErrorWarningChecker::DomainErrors(TDomain* d) {
  if (!CheckError(!Trim(d->IPsToBindTo.Text()).empty(), "Enabled domains must have at least one IP to bind to!"))
    return false;
  const bool noCluster = d->ServerCluster == nullptr;
  if (noCluster) {
    if (!CheckError(!Trim(d->DefaultTargetAddress).empty() || d->HasVirtualPath("/"), "Target address must be set!") ||
        !CheckError(d->OutPort > 0, "Outport must be set!"))
      return false;
  }
  if (!CheckError(d->ListenOnPort > 0, "Inport must be set!") ||
      !CheckError(d->ListenOnPort < 65536, "Highest inport allowed is 65535!"))
    return false;
  if (!d->DefaultHostReplace.empty()) {
    const std::string fault = DomainNameFault(d->DefaultHostReplace, "Host Replace: ");
    if (!CheckError(fault.empty(), fault)) return false;
  }
  if (d->SSL && !CheckError(Settings->SSLSettingsList.FindForBinding(d->IPsToBindTo, d->ListenOnPort) != nullptr,
                            "Unable to find matchin SSL certificate!"))
    return false;
  if (!d->IPsToBindTo.Empty()) {
    const auto local = LocalIPv4Addresses();
    for (const auto& ip : d->IPsToBindTo)
      if (!CheckBindAddress(Trim(ip), local)) return false;
  }
  if (!CheckHeaderLines(d->RequestHeadersToAdd.Items(),
                        "All request headers must follow the format \"HeaderName: HeaderValue\".") ||
      !CheckHeaderLines(d->ResponseHeadersToAdd.Items(),
                        "All response headers must follow the format \"HeaderName: HeaderValue\"."))
    return false;
  for (const auto& line : d->VirtualDomains) {
    const std::string v = Trim(line);
    if (v.empty()) continue;
    if (!CheckError(Pos("*", v) <= 1, "Wild cards can only come first in domains, as in \"*.mysite.com\".") ||
        !CheckError(Pos(" ", v) == 0, "Spaces are not allowed in virtual domains."))
      return false;
  }
  for (const auto& vp : d->VirtualPaths) {
    if (!vp->HostReplace.empty()) {
      const std::string fault = DomainNameFault(vp->HostReplace, "Virtual Path: ");
      if (!CheckError(fault.empty(), fault)) return false;
    }
    if (!CheckError(!EndsInSlash(vp->Path) || vp->Tomcat, "Virtual paths should not end with /") ||
        !CheckError(!EndsInSlash(vp->PathReplace) || vp->Tomcat || vp->Redirect, "Path Replace should not end with /"))
      return false;
  }
  return true;
}

bool TErrorWarningChecker::DomainWarnings(TDomain* d) {
  const std::string fault = DomainNameFault(d->DomainName, "Domain Name: ");
  if (!CheckWarning(fault.empty(), fault)) return false;
  if (d->SSL && !CheckWarning(!(d->ListenOnPort == 443 && d->OutPort == 443),
                              "You're sending decrypted data out on port 443, try port 80 instead!"))
    return false;
  // No certificate set at all counts as SSL disabled.
  const TSSLSettings* first = Settings->FirstSSLSettingsOrNull();
  for (const auto& vp : d->VirtualPaths)
    if (vp->SSL && !CheckWarning(first != nullptr && first->Enabled, "Virtual path is set to use SSL but SSL is disabled!"))
      return false;
  // Forwarded by the switch, every browser reaches the administration from
  // this machine, so its local-only rules no longer tell anyone apart.
  const int32_t adminPort = Settings->AdminPort > 0 ? Settings->AdminPort : DefaultAdminPort;
  const auto isAdmin = [&](const std::string& host, int32_t port) {
    return port == adminPort && IsOwnHost(host, LocalIPv4Addresses);
  };
  if (d->ServerCluster == nullptr && !CheckWarning(!isAdmin(d->DefaultTargetAddress, d->OutPort), kWebAdminTarget))
    return false;
  for (const auto& vp : d->VirtualPaths) {
    if (vp->Redirect || vp->GetCluster() != nullptr) continue;
    const std::string host = vp->TargetAddress.empty() ? d->DefaultTargetAddress : vp->TargetAddress;
    const int32_t port = vp->OutPort != 0 ? vp->OutPort : d->OutPort;
    if (!CheckWarning(!isAdmin(host, port), std::string("Virtual Path: ") + kWebAdminTarget)) return false;
  }
  return true;
}

// ------------------------------------------------------------ clusters

bool TErrorWarningChecker::ClusterErrors(TServerCluster* c) {
  const TServerList& servers = c->Servers;
  if (!CheckError(servers.Count() > 0, "There are no servers in the cluster!")) return false;
  double capacity = 0;
  int enabled = 0;
  for (const auto& s : servers) {
    if (!s->Enabled) continue;
    ++enabled;
    capacity += s->Capacity.load();
  }
  if (!CheckError(enabled > 0, "There are no enabled servers in the cluster!") ||
      !CheckError(capacity > 0, "The total capacity of the servers is zero!"))
    return false;
  int n = 0;
  for (const auto& s : servers) {
    ++n;
    if (!s->Enabled) continue;
    if (!CheckError(!Trim(s->ServerAddress).empty(), Format("Server %s (#%d) has no address!", s->ServerName, n)) ||
        !CheckError(s->ServerPort != 0, Format("Server %s (#%d) has no port!", s->ServerName, n)))
      return false;
  }
  return true;
}

bool TErrorWarningChecker::ClusterWarnings(TServerCluster* c) {
  const int64_t timeout = c->ConnectionTimeout;
  // 64 bits: large stored values must give the warning, never an overflow.
  const int64_t offlineTime = (static_cast<int64_t>(c->MaxFailBeforeOffline) + 1) * c->FailoverCheckInterval;
  const int64_t period = c->LoadAveragingPeriod;
  if (!CheckWarning(!Trim(c->Name).empty(), "The server cluster should have a name") ||
      !CheckWarning(timeout < 10000000, "Connection Timeout seems very high") ||
      !CheckWarning(timeout >= 600, "Connection Timeout seems very low - it's less than 10 minutes.") ||
      !CheckWarning(offlineTime <= 60, "Fail Over Timeout is very high - Fail Over will be slow.") ||
      !CheckWarning(period <= 600, "Load Averaging Period is very high, cluster will respond slowly to changing loads.") ||
      !CheckWarning(period >= 60,
                    "Load Averaging Period is very low, cluster will respond won't be able to balance properly."))
    return false;
  int n = 0;
  for (const auto& s : c->Servers) {
    ++n;
    if (s->Enabled && !CheckWarning(!Trim(s->ServerName).empty(), Format("Server %d has no name!", n))) return false;
  }
  return true;
}

// ------------------------------------------------------------ certificate sets

bool TErrorWarningChecker::CheckCertFile(const std::string& name, const std::string& notSet,
                                         const std::string& missing) {
  return CheckError(!name.empty(), notSet) && CheckError(FileExists(TSSLSettings::ResolveCertPath(name)), missing);
}

bool TErrorWarningChecker::SSLErrors(TSSLSettings* s) {
  if (!CheckCertFile(s->RootCertificateFile, "Root certificate file not set!", "Could not find root certificate file!") ||
      !CheckCertFile(s->CertificateFile, "Certificate file not set!", "Could not find certificate file!") ||
      !CheckCertFile(s->KeyFile, "Key file not set!", "Could not find key file!") ||
      !CheckError(!s->CertificatePassword.empty(), "Certificate password not assigned!") ||
      !CheckError(s->Bindings.Count() > 0, "No bindings specified!"))
    return false;
  const auto local = LocalIPv4Addresses();
  for (const auto& b : s->Bindings) {
    if (!CheckError(b->Port >= 0, "Lowest inport allowed is 0!") ||
        !CheckError(b->Port < 65536, "Highest inport allowed is 65535!") || !CheckBindAddress(b->IP, local))
      return false;
  }
  return true;
}

bool TErrorWarningChecker::SSLWarnings(TSSLSettings* s) {
  for (const auto& b : s->Bindings)
    if (!CheckWarning(b->Port == 443, "SSL normally communicates on port 443.")) return false;
  return true;
}
