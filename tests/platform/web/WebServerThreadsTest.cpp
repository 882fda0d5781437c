// One session's requests never overlap; different sessions run at once.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/web/WebTestBrowser.h"
#include "tests/platform/web/WebTestPages.h"

namespace {

using namespace web;
using namespace webtest;

TEST(WebServerThreads, OneSessionsRequestsNeverOverlapWhileSessionsRunAtOnce) {
  constexpr int kSessions = 16;
  constexpr int kThreadsPerSession = 3;
  constexpr int kPostsPerThread = 20;
  WebServer server(std::make_unique<TestController>());

  std::mutex m;
  std::condition_variable cv;
  int inside = 0;
  int maxInside = 0;
  std::atomic<int> overlaps{0};
  std::atomic<int> fired{0};

  std::vector<std::unique_ptr<TestBrowser>> browsers;
  for (int i = 0; i < kSessions; ++i) {
    browsers.push_back(std::make_unique<TestBrowser>(server));
    browsers.back()->get("/");
    auto* page = browsers.back()->activeForm<TestPage>();
    auto busy = std::make_shared<std::atomic<int>>(0);
    page->lblAsync->onAsyncClick = [&, busy](Control&, const ParamMap&) {
      if (busy->fetch_add(1) != 0) ++overlaps;
      {
        std::unique_lock lock(m);
        maxInside = std::max(maxInside, ++inside);
        cv.notify_all();
        // Give another session the chance to be inside too (bounded).
        cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return inside > 1; });
        --inside;
      }
      ++fired;
      busy->fetch_sub(1);
    };
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kSessions; ++i) {
    for (int t = 0; t < kThreadsPerSession; ++t) {
      threads.emplace_back([&, i] {
        HttpRequest req;
        req.method = "POST";
        req.form = {{"VT_SESSION", browsers[i]->sessionId()},
                    {"VT_TRACK", browsers[i]->trackId()},
                    {"VT_ASYNC", "1"},
                    {"VT_EVENT", "LBLASYNC.DoOnAsyncClick"}};
        for (int n = 0; n < kPostsPerThread; ++n) server.handle(req);
      });
    }
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(fired, kSessions * kThreadsPerSession * kPostsPerThread);
  EXPECT_GE(maxInside, 2);
}

}  // namespace
