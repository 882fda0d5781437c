#include <gtest/gtest.h>

#include "platform/IdURI.h"

namespace {

struct SplitCase {
  const char* uri;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* query;
  const char* fragment;
};

TEST(IdURI, SplitsIntoParts) {
  const SplitCase cases[] = {
      {"http://user:pw@host:8080/dir/sub/page.asp?x=1&y=/z#top", "http", "user", "pw", "host", "8080", "/dir/sub/",
       "page.asp", "?x=1&y=/z", "top"},
      {"http://a", "http", "", "", "a", "", "/", "", "", ""},
      {"https://a/", "https", "", "", "a", "", "/", "", "", ""},
      {"http://a?q", "http", "", "", "a", "", "/", "", "?q", ""},
      {"http://a/b", "http", "", "", "a", "", "/", "b", "", ""},
      {"http://[::1]:81/x/", "http", "", "", "[::1]", "81", "/x/", "", "", ""},
      {"http://a/x?u=http://b/c", "http", "", "", "a", "", "/", "x", "?u=http://b/c", ""},
      // No scheme: a reference without host, whatever it looks like.
      {"/app/x?y=1", "", "", "", "", "", "/app/", "x", "?y=1", ""},
      {"page.htm", "", "", "", "", "", "", "page.htm", "", ""},
      {"/redirect/http://x", "", "", "", "", "", "/redirect/http://", "x", "", ""},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.uri);
    TIdURI uri(c.uri);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.Username, c.user);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Query, c.query);
    EXPECT_EQ(uri.Fragment, c.fragment);
  }
}

TEST(IdURI, JoinsWhatItSplit) {
  for (const char* text : {"http://user:pw@host:8080/dir/page.asp?x=1#top", "https://a/", "http://[::1]:81/x/?q"}) {
    EXPECT_EQ(TIdURI(text).GetURI(), text);
  }
  EXPECT_EQ(TIdURI("http://a").GetURI(), "http://a/");

  TIdURI uri("http://backend:8080/app/x?y=1");
  uri.Host = "www.a.com";
  uri.Port.clear();
  uri.Path = "/front/";
  EXPECT_EQ(uri.GetURI(), "http://www.a.com/front/x?y=1");
}

TEST(IdURI, RefusesWhatItCannotTakeApart) {
  for (const char* text : {"http://a:x/", "http://a:99999/", "http://a:123456/", "http://[::1/", "http://[::1]x/",
                           "http://a b/", "http://a\r\nX: y/"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(TIdURI{text}, EIdURIException);
  }
  try {
    TIdURI("/relative").GetURI();
    FAIL() << "joined without a protocol";
  } catch (const EIdURIException& e) {
    EXPECT_STREQ(e.what(), "Protocol field is empty");
  }
  TIdURI uri("http://a/");
  EXPECT_TRUE(uri.IsAbsolute());
  EXPECT_FALSE(TIdURI("http:///x").IsAbsolute());
  EXPECT_FALSE(TIdURI("/x").IsAbsolute());
}

}  // namespace
