// The configuration checker of the administration pages: finds the first
// error or warning of one area of a configuration (general settings, domains,
// server clusters, certificate sets) and shows it as a status text and a
// coloured status image. It never changes the configuration and never raises
// for a configuration value: every problem becomes a status.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TDomainHandler;
class TDomain;
class TServerCluster;
class TSSLSettings;
namespace web {
class Label;
class ImageFile;
}  // namespace web

// The host-name syntax test, also used for host replacements. On failure
// Reason holds the text of the first test that failed.
bool CheckDomainName(const std::string& name, std::string& reason);

class TErrorWarningChecker {
 public:
  // Receives a text: the status label's caption or the image's file name.
  using TStatusOutput = std::function<void(const std::string&)>;

  enum : uint8_t { StatusOK = 0, StatusInfo = 1, StatusWarning = 2, StatusError = 3 };

  // Either output may be empty; Settings is not owned.
  TErrorWarningChecker(TStatusOutput statusLabel, TDomainHandler* settings, TStatusOutput statusImage);
  // On a page: the label's caption (nil: none) and the image's file name.
  TErrorWarningChecker(web::Label* statusLabel, TDomainHandler* settings, web::ImageFile* statusImage);

  TStatusOutput StatusImage;
  TStatusOutput StatusLabel;
  std::string Prefix;
  int32_t FailedDomainIndex = 0;
  int32_t FailedClusterIndex = 0;
  int32_t FailedSSLIndex = 0;
  uint8_t Status = StatusOK;
  std::string Message;
  TDomainHandler* Settings;

  // The machine's surroundings, replaceable in tests: whether a file exists,
  // and the machine's own IPv4 addresses.
  std::function<bool(const std::string&)> FileExists;
  std::function<std::vector<std::string>()> LocalIPv4Addresses;

  // True when no error or warning was found (also for information outcomes).
  bool CheckGeneral();
  bool CheckDomain(TDomain* d);
  bool CheckDomains();
  bool CheckCluster(TServerCluster* c);
  bool CheckClusters();
  bool CheckSSLCertificate(TSSLSettings* s);
  bool CheckSSLCertificates();

  // Return Condition; when it is false the text becomes the error or warning.
  bool CheckError(bool condition, const std::string& text);
  bool CheckWarning(bool condition, const std::string& text);
  bool CheckErrorFmt(bool condition, const std::string& fmt, const std::string& arg);

  void SetOK(const std::string& area);
  void SetInfo(const std::string& text);
  void SetWarning(const std::string& text);
  void SetError(const std::string& text);

  bool CheckDomainName(const std::string& name, std::string& reason) { return ::CheckDomainName(name, reason); }

 private:
  void SetStatus(uint8_t status, const std::string& text);

  bool GeneralErrors();
  bool GeneralWarnings();
  bool DomainErrors(TDomain* d);
  bool DomainWarnings(TDomain* d);
  bool ClusterErrors(TServerCluster* c);
  bool ClusterWarnings(TServerCluster* c);
  bool SSLErrors(TSSLSettings* s);
  bool SSLWarnings(TSSLSettings* s);

  bool CheckBindAddress(const std::string& address, const std::vector<std::string>& local);
  bool CheckHeaderLines(const std::vector<std::string>& lines, const std::string& text);
  bool CheckCertFile(const std::string& name, const std::string& notSet, const std::string& missing);
};
