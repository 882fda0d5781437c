// The framing decision over every status class, method, client version and
// framing header combination, and the status line it starts from.
#include "Common/uResponseFraming.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using B = TResponseBody;

struct Headers {
  const char* name;
  TFramingHeaders h;
};

const Headers kHeaders[] = {
    {"none", {false, false, -1}},
    {"CL", {false, false, 12}},
    {"CL 0", {false, false, 0}},
    {"TE chunked", {true, true, -1}},
    {"TE gzip", {true, false, -1}},
    // Both: the head parser has already dropped the length.
    {"both", {true, true, -1}},
};

TEST(ResponseFraming, StatusDecidesBeforeTheHeaders) {
  for (int status : {100, 101, 102, 103, 199, 200, 201, 204, 206, 301, 304, 404, 500, 503}) {
    for (const char* method : {"HEAD", "GET", "POST"}) {
      for (const char* version : {"HTTP/1.0", "HTTP/1.1"}) {
        for (const Headers& c : kHeaders) {
          const TResponseFraming f = DecideResponseFraming(method, version, status, c.h);
          const std::string what =
              std::to_string(status) + " " + method + " " + version + " " + c.name;
          const bool http11 = std::string(version) == "HTTP/1.1";
          B want;
          if (status == 101) {
            want = B::Refused;
          } else if (status < 200) {
            want = B::Interim;
          } else if (std::string(method) == "HEAD" || status == 204 || status == 304) {
            want = B::None;
          } else if (c.h.TransferEncoding) {
            want = c.h.Chunked ? B::Chunked : B::UntilClose;
          } else {
            want = c.h.ContentLength >= 0 ? B::Length : B::UntilClose;
          }
          EXPECT_EQ(f.Body, want) << what;
          EXPECT_EQ(f.ForwardInterim, want == B::Interim && http11) << what;
          EXPECT_EQ(f.Dechunk, want == B::Chunked && !http11) << what;
        }
      }
    }
  }
}

TEST(ResponseFraming, HeadAnswersAndBodilessStatusesIgnoreChunked) {
  const TFramingHeaders chunked{true, true, -1};
  EXPECT_EQ(DecideResponseFraming("head", "HTTP/1.1", 200, chunked).Body, B::None);
  EXPECT_EQ(DecideResponseFraming("GET", "HTTP/1.1", 304, chunked).Body, B::None);
  EXPECT_EQ(DecideResponseFraming("POST", "HTTP/1.0", 204, {false, false, 5}).Body, B::None);
  EXPECT_EQ(DecideResponseFraming("GET", "HTTP/1.1", 205, {false, false, 0}).Body, B::Length);
}

TEST(ResponseFraming, StatusLine) {
  struct Case {
    const char* line;
    int status;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK", 200},
      {"HTTP/1.0 404 Not Found", 404},
      {"HTTP/1.1 103", 103},
      {"HTTP/1.1 204 ", 204},
      {"HTTP/1.9 999 odd", 999},
      {"HTTP/1.1 099 low", -1},
      {"HTTP/1.1 2000 OK", -1},
      {"HTTP/1.1 20 OK", -1},
      {"HTTP/1.1 20x OK", -1},
      {"HTTP/1.1  200 OK", -1},
      {"HTTP/2 200 OK", -1},
      {"HTTP/2.0 200 OK", -1},
      {"http/1.1 200 OK", -1},
      {"ICY 200 OK", -1},
      {"HTTP/1.1 200\tOK", -1},
      {"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseStatusLine(c.line), c.status) << c.line;
}

}  // namespace
