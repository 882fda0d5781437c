#include "Common/uW3CLog.h"

#include <gtest/gtest.h>

#include "platform/DateTime.h"

TEST(W3CLog, FieldTable) {
  struct Case {
    std::string value;
    std::string appended;
  };
  const Case cases[] = {
      {"a b", " a+b"},
      {" a", " +a"},
      {"abc", " abc"},
      {"", " -"},
      {"   ", " -"},
      {"x\r\ny", " x++y"},  // a line break in a client text cannot start a forged line
      {"t\tab", " t+ab"},
      {std::string(1024, 'x'), " " + std::string(1024, 'x')},
      {std::string(1025, 'x'), " " + std::string(1024, 'x') + "[entry+cut]"},
      {std::string(1030, ' '), " " + std::string(1024, '+') + "[entry+cut]"},
  };
  for (const auto& c : cases) {
    std::string line = "L";
    AddW3CField(line, c.value);
    EXPECT_EQ(line, "L" + c.appended) << '"' << c.value << '"';
  }
}

TEST(W3CLog, LineFieldsInOrder) {
  TW3CLogEntry e;
  e.Time = EncodeDateTime(2026, 3, 4, 5, 6, 7, 800);
  e.ClientIP = "10.0.0.9";
  e.SiteName = "www.a.com";
  e.ServerHost = "192.168.1.5";
  e.LocalIP = "127.0.0.1";
  e.Port = 8080;
  e.Method = "GET";
  e.Document = "/my dir/page.htm?a=1&b=2";
  e.Status = 200;
  e.BytesOut = 5120;
  e.BytesIn = 312;
  e.ElapsedMs = 12.5;  // half to even
  e.Version = "HTTP/1.1";
  e.HostWithPort = "www.a.com:8080";
  e.UserAgent = "Mozilla/4.0 (compatible)";
  e.Cookie = "-";
  e.Referer = "";
  EXPECT_EQ(BuildW3CLine(e),
            "2026-03-04 05:06:07 10.0.0.9 - www.a.com 192.168.1.5 127.0.0.1 8080 GET /my+dir/page.htm a=1&b=2 200 0 "
            "5120 312 12 HTTP/1.1 www.a.com:8080 Mozilla/4.0+(compatible) - -");

  e.Document = "/plain";
  e.Status = 0;
  e.ElapsedMs = 13.5;
  const std::string line = BuildW3CLine(e);
  EXPECT_NE(line.find(" GET /plain - 0 0 5120 312 14 "), std::string::npos) << line;
}

TEST(W3CLog, HeaderUsesTheClock) {
  ScopedManualClock clock(EncodeDateTime(2026, 12, 1, 23, 59, 58, 0));
  EXPECT_EQ(GetW3CLogHeader(),
            "#Software: Vantrell Switch 2.2.51\r\n#Version: 1.0\r\n#Date: 2026-12-01 23:59:58\r\n"
            "#Fields: date time c-ip cs-username s-sitename s-computername s-ip s-port cs-method cs-uri-stem "
            "cs-uri-query sc-status sc-win32-status sc-bytes cs-bytes time-taken cs-version cs-host "
            "cs(User-Agent) cs(Cookie) cs(Referer)");
}
