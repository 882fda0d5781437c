#include "Common/uDirectReplies.h"

#include <gtest/gtest.h>

TEST(DirectReplies, FixedTexts) {
  EXPECT_EQ(StatusReply("HTTP/1.1", "403 Forbidden"), "HTTP/1.1 403 Forbidden\r\n\r\n");
  EXPECT_EQ(ServerChoiceFailureReply("HTTP/1.0", "500 Load Balancing failed to find a server - no server capacity"),
            "HTTP/1.0 500 Load Balancing failed to find a server - no server capacity\r\n\r\n"
            "500 Load Balancing failed to find a server - no server capacity\r\n");
  EXPECT_EQ(RedirectReply("HTTP/1.1", false, "http://h/x"),
            "HTTP/1.1 302 Found\r\nLocation: http://h/x\r\nConnection: Close\r\n\r\n");
  EXPECT_EQ(RedirectReply("HTTP/1.0", true, "http://h/x/"),
            "HTTP/1.0 301 Moved Permanently\r\nLocation: http://h/x/\r\nConnection: Close\r\n\r\n");
  EXPECT_EQ(CircularReferenceReply(),
            "HTTP/1.0 200 OK\r\nConnection: Close\r\n\r\n"
            "There appears to be a circulare reference in the Vantrell Switch configuration!\r\n");
}

TEST(DirectReplies, RedirectLocationTable) {
  struct Case {
    const char* url;
    const char* location;
  };
  const Case cases[] = {
      {"http://a/b", "http://a/b"},
      {"HtTpS://a/b.c/", "HtTpS://a/b.c/"},
      {"/a.b/c", "http://www.x.com/a.b/c/"},
      {"/a.b/c/", "http://www.x.com/a.b/c/"},
      {"/a.b/c///", "http://www.x.com/a.b/c/"},
      {"/f.htm", "http://www.x.com/f.htm"},
      {"/newapp", "http://www.x.com/newapp"},
      {"/app/?x=1", "http://www.x.com/app/?x=1"},
      {"/a.b/c?x=1", "http://www.x.com/a.b/c?x=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RedirectLocation(c.url, "http", "www.x.com"), c.location) << c.url;
  }
  EXPECT_EQ(RedirectLocation("/a.b/c", "https", "h:8443"), "https://h:8443/a.b/c/");
}

TEST(DirectReplies, HTTPSLocationKeepsTheHostPort) {
  EXPECT_EQ(HTTPSRedirectLocation("/x/page.htm", "www.x.com:8080"), "https://www.x.com:8080/x/page.htm");
  EXPECT_EQ(HTTPSRedirectLocation("/a.b/c", "www.x.com"), "https://www.x.com/a.b/c/");
  EXPECT_EQ(HTTPSRedirectLocation("/a.b/c?q=1", "www.x.com"), "https://www.x.com/a.b/c?q=1");
}

TEST(DirectReplies, ServerChoiceFailures) {
  for (int status : {1, 2, 3, 4, 9}) EXPECT_EQ(FindServerChoiceFailure(status), nullptr) << status;
  ASSERT_NE(FindServerChoiceFailure(8), nullptr);
  EXPECT_STREQ(FindServerChoiceFailure(8)->ReplyText,
               "500 Load Balancing failed to find a server - ServerCluster is disabled");
  EXPECT_STREQ(FindServerChoiceFailure(0)->LogFormat,
               "Load balancing request was not filled! (Client IP=%s, Cluster=%s)");
}

TEST(DirectReplies, SmallTexts) {
  EXPECT_EQ(HostPortText("h", 80), "h");
  EXPECT_EQ(HostPortText("h", 8080), "h:8080");
  EXPECT_STREQ(ContentCodingName(2), "ceGZip");
  EXPECT_STREQ(ContentCodingName(4), "ceCompress");
}
