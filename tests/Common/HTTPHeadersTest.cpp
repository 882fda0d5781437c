#include <gtest/gtest.h>

#include "Common/uHTTPHeaders.h"

namespace {

THTTPHeaders Lines(std::initializer_list<const char*> lines) {
  THTTPHeaders h;
  for (const char* l : lines) h.TStringList::Add(l);
  return h;
}

std::vector<std::string> Items(const THTTPHeaders& h) { return h.Items(); }

TEST(HTTPHeaders, NormalizeKeepsExactlyOneClosingEmptyLine) {
  THTTPHeaders h = Lines({"GET / HTTP/1.1", "", "Host: a"});
  h.Normalize();
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET / HTTP/1.1", "Host: a", ""}));

  THTTPHeaders empty;
  empty.Normalize();
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.GetTextStr(), "");

  THTTPHeaders many = Lines({"", "HTTP/1.1 200 OK", "", "", "A: 1", "", ""});
  EXPECT_EQ(many.GetTextStr(), "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n");

  THTTPHeaders text;
  text.SetTextStr("GET / HTTP/1.1\rHost: a\nX: b\r\n\r\n");
  EXPECT_EQ(Items(text), (std::vector<std::string>{"GET / HTTP/1.1", "Host: a", "X: b", ""}));
}

TEST(HTTPHeaders, NamesAreTheTextBeforeTheFirstColonUntrimmed) {
  THTTPHeaders h = Lines({"Host: line0", "host:example", "Host :other", "NoColon", "X: a: b", ""});
  EXPECT_EQ(h.GetValue("Host"), "example");
  EXPECT_EQ(h.GetValue("Host "), "other");
  EXPECT_EQ(h.GetValue("x"), "a: b");
  EXPECT_EQ(h.GetHeaderName(3), "");
  EXPECT_EQ(h.GetHeaderName(4), "X");
  EXPECT_FALSE(h.HasHeader("Missing"));
  EXPECT_EQ(h.GetValue("Missing"), "");

  // Line 0 is never a header.
  THTTPHeaders first = Lines({"Host: a", ""});
  EXPECT_FALSE(first.HasHeader("Host"));
}

TEST(HTTPHeaders, SetValueReplacesTheFirstLineOrInsertsBeforeTheEnd) {
  THTTPHeaders h = Lines({"GET / HTTP/1.1", "via: y", "Via: z", ""});
  h.SetValue("Via", "x", false);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET / HTTP/1.1", "via: y", "Via: z", ""}));
  h.SetValue("Via", "x", true);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET / HTTP/1.1", "Via: x", "Via: z", ""}));
  h.SetHeader("New", "1");
  EXPECT_EQ(h[3], "New: 1");
  EXPECT_EQ(h[4], "");

  h.SetHeaderUnique("VIA", "w");
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET / HTTP/1.1", "VIA: w", "New: 1", ""}));

  h.AddLine("New: 2");
  EXPECT_EQ(h.GetJoinedValues("new"), "1, 2");
  EXPECT_TRUE(h.DeleteHeader("new"));
  EXPECT_EQ(h.GetValue("New"), "2");
  EXPECT_FALSE(h.DeleteHeader("Gone"));
  h.AddLine("New: 3");
  EXPECT_EQ(h.DeleteAllHeaders("NEW"), 2);
  EXPECT_EQ(h.GetTextStr(), "GET / HTTP/1.1\r\nVIA: w\r\n\r\n");
}

TEST(HTTPHeaders, AddHeadersKeepsNameAndValueAsWritten) {
  THTTPHeaders h = Lines({"GET / HTTP/1.1", "X-Tag: off", ""});
  TStringList rules;
  rules.Add("X-Tag: on");
  rules.Add("");
  rules.Add(":novalue");
  rules.Add("NoColon");
  rules.Add("X-New:v");
  h.AddHeaders(rules);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET / HTTP/1.1", "X-Tag:  on", "X-New: v", ""}));
}

TEST(HTTPHeaders, FirstLine) {
  THTTPHeaders h;
  EXPECT_EQ(h.GetFirstLine(), "");
  h.SetFirstLine("GET /a HTTP/1.1");
  EXPECT_EQ(Items(h), (std::vector<std::string>{"GET /a HTTP/1.1", ""}));
  h.SetFirstLine("GET /b HTTP/1.1");
  EXPECT_EQ(h.GetFirstLine(), "GET /b HTTP/1.1");
  EXPECT_EQ(h.Count(), 2);
}

}  // namespace
