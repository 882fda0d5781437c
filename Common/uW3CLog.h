// The W3C extended access-log line of one request and the header that opens
// every access-log file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

// What one access-log line records, in field order after date and time.
struct TW3CLogEntry {
  TDateTime Time = 0;           // local date and time of the line
  std::string ClientIP;         // c-ip
  std::string SiteName;         // s-sitename
  std::string ServerHost;       // s-computername: the back end's host
  std::string LocalIP;          // s-ip
  int32_t Port = 0;             // s-port: the listener port
  std::string Method;           // cs-method
  std::string Document;         // split into cs-uri-stem and cs-uri-query
  int32_t Status = 0;           // sc-status; 0 when no response head was read
  int64_t BytesOut = 0;         // sc-bytes
  int64_t BytesIn = 0;          // cs-bytes
  double ElapsedMs = 0;         // time-taken, rounded to whole milliseconds
  std::string Version;          // cs-version
  std::string HostWithPort;     // cs-host
  std::string UserAgent;        // cs(User-Agent)
  std::string Cookie;           // cs(Cookie)
  std::string Referer;          // cs(Referer)
};

// Appends one field: a blank and the value with blanks (and control
// characters, which would forge lines) written as "+"; " -" for an empty
// value; a value over 1024 characters is cut and marked "[entry+cut]".
void AddW3CField(std::string& line, std::string_view value);

std::string BuildW3CLine(const TW3CLogEntry& entry);

// "#Software", "#Version", "#Date" (now) and "#Fields" joined by CR LF, with
// no line end after the last.
std::string GetW3CLogHeader();
