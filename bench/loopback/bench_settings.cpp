// Writes the data/settings.dat of a loopback load run: one domain that takes
// every host on 127.0.0.1:<port> and forwards to 127.0.0.1:<backend port>
// with keep-alive to the back end and the W3C access log on; with --https-port
// a second, HTTPS domain of the same kind and one certificate set for it;
// --admin-port sets the web administration's port (alone, it writes a
// configuration without domains, as the browser tests use).
//
//   bench_settings --port P --backend-port B [--https-port H --cert F --key F]
//                  [--max-threads N] [--admin-port A] [--out data/settings.dat]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "Common/uDomainHandler.h"

namespace {

struct Options {
  int port = 0;
  int backendPort = 0;
  int httpsPort = 0;
  int adminPort = 0;
  int maxThreads = 2000;
  std::string cert = "data/cert/bench.crt";
  std::string key = "data/cert/bench.key";
  std::string out = SettingsFileName;
};

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr,
               "bench_settings: %s\n"
               "usage: bench_settings --port P --backend-port B [--https-port H --cert FILE --key FILE]\n"
               "                      [--max-threads N] [--admin-port A] [--out FILE]\n",
               why);
  std::exit(2);
}

int PortArg(const char* text) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1 || v > 65535) Usage("a port must be 1 to 65535");
  return static_cast<int>(v);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage(("missing value after " + name).c_str());
    const char* value = argv[++i];
    if (name == "--port") {
      o.port = PortArg(value);
    } else if (name == "--backend-port") {
      o.backendPort = PortArg(value);
    } else if (name == "--https-port") {
      o.httpsPort = PortArg(value);
    } else if (name == "--admin-port") {
      o.adminPort = PortArg(value);
    } else if (name == "--max-threads") {
      o.maxThreads = std::atoi(value);
    } else if (name == "--cert") {
      o.cert = value;
    } else if (name == "--key") {
      o.key = value;
    } else if (name == "--out") {
      o.out = value;
    } else {
      Usage(("unknown option " + name).c_str());
    }
  }
  if ((o.port == 0) != (o.backendPort == 0) || (o.port == 0 && o.adminPort == 0)) {
    Usage("--port and --backend-port, or --admin-port, are required");
  }
  return o;
}

// Matches any host (the alias "*" is a suffix rule with an empty suffix, and
// the domain is also the port's default) and has no virtual paths, so every
// request goes to the domain's own target.
TDomain* AddForwardingDomain(TDomainHandler& h, const std::string& name, int port, int backendPort, bool ssl) {
  TDomain* d = h.AddDomain();
  d->DomainName = name;
  d->SiteName = name;
  d->VirtualDomains.Add("*");
  d->DefaultForPort = true;
  d->IPsToBindTo.Clear();
  d->IPsToBindTo.Add("127.0.0.1");
  d->ListenOnPort = port;
  d->DefaultTargetAddress = "127.0.0.1";
  d->OutPort = backendPort;
  d->LogEnabled = true;
  d->SSL = ssl;
  d->UpdateProtocolMode();
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  try {
    TDomainHandler h;
    h.SetDefaults();
    h.MaxThreads = o.maxThreads;
    h.AllowKeepAlive = true;
    h.LogOptions = 3;  // W3C access log and event lines, no trace lines
    h.SSLSettingsList.Clear();
    if (o.adminPort != 0) h.AdminPort = o.adminPort;
    if (o.port != 0) AddForwardingDomain(h, "bench", o.port, o.backendPort, false);
    if (o.httpsPort != 0) {
      AddForwardingDomain(h, "benchssl", o.httpsPort, o.backendPort, true);
      TSSLSettings* set = h.SSLSettingsList.AddNew();
      set->Enabled = true;
      set->CertificateName = "bench";
      set->SetCertificateFile(o.cert);
      set->SetKeyFile(o.key);
      set->SetRootCertificateFile(o.cert);  // self-signed: the certificate is its own root
      set->VerifyFlags = 0;
      set->CipherList.clear();  // OpenSSL's defaults, as the other proxies of the run use
      set->Bindings.AddBinding("127.0.0.1", o.httpsPort);
    }
    h.SaveToFile(o.out);

    // Read back what the switch will read, and show its listeners.
    TDomainHandler check;
    check.LoadFromFile(o.out);
    for (bool ssl : {false, true}) {
      TStringList bindings;
      check.GetBindings(&bindings, ssl);
      for (const std::string& b : bindings) std::printf("%s %s\n", ssl ? "https" : "http", b.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_settings: %s\n", e.what());
    return 1;
  }
  return 0;
}
