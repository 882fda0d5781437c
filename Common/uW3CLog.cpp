#include "Common/uW3CLog.h"

#include <cmath>

#include "platform/SysUtils.h"

namespace {

constexpr size_t kMaxFieldLength = 1024;

}  // namespace

void AddW3CField(std::string& line, std::string_view value) {
  std::string v(value.substr(0, kMaxFieldLength));
  if (value.size() > kMaxFieldLength) v += "[entry+cut]";
  if (Trim(v).empty()) {
    line += " -";
    return;
  }
  line += ' ';
  for (const char c : v) {
    const auto u = static_cast<unsigned char>(c);
    line += (u <= ' ' || u == 0x7F) ? '+' : c;
  }
}

std::string BuildW3CLine(const TW3CLogEntry& e) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(e.Time, year, month, day);
  DecodeTime(e.Time, hour, minute, second, msec);
  std::string line = Format("%.4d-%.2d-%.2d", year, month, day);

  std::string stem = e.Document;
  std::string query = "-";
  if (const size_t q = e.Document.find('?'); q != std::string::npos) {
    stem = e.Document.substr(0, q);
    query = e.Document.substr(q + 1);
  }
  // Round half to even, as the time-taken figures always were.
  const auto taken = static_cast<int64_t>(std::nearbyint(e.ElapsedMs));

  AddW3CField(line, Format("%.2d:%.2d:%.2d", hour, minute, second));
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
