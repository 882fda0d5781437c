#include "Common/uW3CLog.h"

#include <cmath>

#include "platform/SysUtils.h"

namespace {

constexpr size_t kMaxFieldLength = 1024;

}  // namespace

void AddW3CField(std::string& line, std::string_view value) {
  const bool cut = value.size() > kMaxFieldLength;
  const std::string_view v = value.substr(0, kMaxFieldLength);
  if (!cut && TrimView(v).empty()) {
    line += " -";
    return;
  }
  line += ' ';
  const size_t start = line.size();
  line.append(v);
  for (size_t i = start; i < line.size(); ++i) {
    const auto u = static_cast<unsigned char>(line[i]);
    if (u <= ' ' || u == 0x7F) line[i] = '+';
  }
  if (cut) line += "[entry+cut]";
}

namespace {

// Value in decimal, zero-padded on the left to Width digits (non-negative).
void AppendPadded(std::string& line, int value, int width) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 15);
  for (int i = n; i < width; ++i) line += '0';
  while (n > 0) line += digits[--n];
}

}  // namespace

std::string BuildW3CLine(const TW3CLogEntry& e) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(e.Time, year, month, day);
  DecodeTime(e.Time, hour, minute, second, msec);
  std::string line;
  line.reserve(256 + e.Document.size() + e.UserAgent.size() + e.Cookie.size() + e.Referer.size());
  AppendPadded(line, year, 4);
  line += '-';
  AppendPadded(line, month, 2);
  line += '-';
  AppendPadded(line, day, 2);

  std::string_view stem = e.Document;
  std::string_view query = "-";
  if (const size_t q = e.Document.find('?'); q != std::string::npos) {
    stem = std::string_view(e.Document).substr(0, q);
    query = std::string_view(e.Document).substr(q + 1);
  }
  // Round half to even, as the time-taken figures always were.
  const auto taken = static_cast<int64_t>(std::nearbyint(e.ElapsedMs));

  line += ' ';
  AppendPadded(line, hour, 2);
  line += ':';
  AppendPadded(line, minute, 2);
  line += ':';
  AppendPadded(line, second, 2);
  AddW3CField(line, e.ClientIP);
  AddW3CField(line, "-");
  AddW3CField(line, e.SiteName);
  AddW3CField(line, e.ServerHost);
  AddW3CField(line, e.LocalIP);
  AddW3CField(line, IntToStr(e.Port));
  AddW3CField(line, e.Method);
  AddW3CField(line, stem);
  AddW3CField(line, query);
  AddW3CField(line, IntToStr(e.Status));
  AddW3CField(line, "0");
  AddW3CField(line, IntToStr(e.BytesOut));
  AddW3CField(line, IntToStr(e.BytesIn));
  AddW3CField(line, IntToStr(taken));
  AddW3CField(line, e.Version);
  AddW3CField(line, e.HostWithPort);
  AddW3CField(line, e.UserAgent);
  AddW3CField(line, e.Cookie);
  AddW3CField(line, e.Referer);
  return line;
}

std::string GetW3CLogHeader() {
  return "#Software: Vantrell Switch 2.2.51\r\n"
         "#Version: 1.0\r\n"
         "#Date: " + DateTimeToStr(Now()) + "\r\n"
         "#Fields: date time c-ip cs-username s-sitename s-computername s-ip s-port cs-method cs-uri-stem "
         "cs-uri-query sc-status sc-win32-status sc-bytes cs-bytes time-taken cs-version cs-host "
         "cs(User-Agent) cs(Cookie) cs(Referer)";
}
