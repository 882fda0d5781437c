// The HTTP transport over loopback: conversion of real requests.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "platform/web/WebStandAloneServer.h"
#include "tests/Common/TempFolder.h"
#include "tests/platform/web/WebTestPages.h"

namespace {

using namespace web;
using namespace webtest;

std::string Hidden(const std::string& html, const std::string& name) {
  std::smatch m;
  const std::regex re("name=\"" + name + "\" value=\"([^\"]*)\"");
  return std::regex_search(html, m, re) ? m[1].str() : "";
}

TEST(WebStandAlone, ServesPagesMultipartFormsAndThePeerAddress) {
  auto c = std::make_unique<TestController>();
  StandAloneServer web(std::move(c));
  std::string error;
  ASSERT_TRUE(web.start(error, "127.0.0.1")) << error;
  ASSERT_GT(web.port(), 0);
  EXPECT_EQ(web.startURL(), "http://127.0.0.1:" + std::to_string(web.port()) + "/");

  httplib::Client client("127.0.0.1", web.port());
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  auto page = client.Get("/?status&x");
  ASSERT_TRUE(page);
  ASSERT_EQ(page->status, 200);
  const std::string session = Hidden(page->body, "VT_SESSION");
  auto app = web.server().findSession(session);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->browserIP(), "127.0.0.1");
  EXPECT_EQ(app->runParams(), (std::vector<std::string>{"status", "x"}));

  httplib::MultipartFormDataItems items = {
      {"VT_SESSION", session, "", ""},
      {"VT_TRACK", Hidden(page->body, "VT_TRACK"), "", ""},
      {"VT_EVENT", "BTNGO.OnClick", "", ""},
      {"EDTNAME", "na\xE4me", "", ""},
      {"UPFILE", "bytes", "..\\..\\evil.pem", "application/octet-stream"},
  };
  auto posted = client.Post("/", items);
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  auto* form = dynamic_cast<TestPage*>(app->activeForm());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->clicks, 1);
  EXPECT_EQ(form->edtName->text, "na\xE4me");
  EXPECT_EQ(form->upFile->fileName(), "evil.pem");
  EXPECT_EQ(form->upFile->content(), "bytes");

  // Urlencoded posts keep Latin-1 bytes.
  auto again = client.Post("/", "VT_SESSION=" + session + "&VT_TRACK=" + Hidden(posted->body, "VT_TRACK") +
                                    "&EDTNAME=%E4+b&VT_EVENT=",
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(again);
  EXPECT_EQ(form->edtName->text, "\xE4 b");
  web.stop();
}

// The library would compress every text answer for a browser that accepts
// it; the administration's pages and files go out as they were made.
TEST(WebStandAlone, AnswersGoOutUncompressedWhateverTheBrowserAccepts) {
  const TempFolder files;
  const std::string help(4000, 'h');
  WriteWholeFile(files.Path() + "Help.htm", "<html><body>" + help + "</body></html>");
  auto c = std::make_unique<TestController>();
  c->settings.filesDir = files.Path();
  StandAloneServer web(std::move(c));
  std::string error;
  ASSERT_TRUE(web.start(error, "127.0.0.1")) << error;
  httplib::Client client("127.0.0.1", web.port());
  client.set_connection_timeout(5);
  client.set_read_timeout(10);
  client.set_decompress(false);  // see the bytes as sent
  for (const char* encodings : {"gzip, br", "gzip", "br", "deflate, gzip;q=1.0, br;q=0.9"}) {
    SCOPED_TRACE(encodings);
    const httplib::Headers accept = {{"Accept-Encoding", encodings}};
    auto page = client.Get("/", accept);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_FALSE(page->has_header("Content-Encoding"));
    EXPECT_NE(page->body.find("VT_SESSION"), std::string::npos);
    EXPECT_EQ(page->get_header_value("Content-Length"), std::to_string(page->body.size()));
    auto file = client.Get("/files/Help.htm", accept);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->status, 200);
    EXPECT_FALSE(file->has_header("Content-Encoding"));
    EXPECT_EQ(file->body, "<html><body>" + help + "</body></html>");
    EXPECT_EQ(file->get_header_value("Content-Type"), "text/html; charset=windows-1252");
    auto missing = client.Get("/files/none.htm", accept);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_FALSE(missing->has_header("Content-Encoding"));
    // A head request gets the length without a body.
    auto head = client.Head("/files/Help.htm", accept);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_FALSE(head->has_header("Content-Encoding"));
    EXPECT_TRUE(head->body.empty());
  }
  web.stop();
}

TEST(WebStandAlone, ATakenPortIsReportedNotFatal) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  auto c = std::make_unique<TestController>();
  c->settings.port = ntohs(a.sin_port);
  StandAloneServer web(std::move(c));
  std::string error;
  EXPECT_FALSE(web.start(error, "127.0.0.1"));
  EXPECT_NE(error.find(std::to_string(ntohs(a.sin_port))), std::string::npos);
  EXPECT_FALSE(web.running());
  ::close(fd);
}

}  // namespace
