#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Common/uDomainHandler.h"
#include "tests/Common/SettingsBytes.h"

namespace {
std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.Bytes();
}

// A version 4 file with one domain and one path.
std::vector<uint8_t> LegacyFile() {
  Bytes b;
  b.i32(4).str("bob").str("pw").str("old").str("").pad(8).byte(0).i32(5).i32(1);
  b.str("legacy").str("").str("").str("").i32(81).i32(80).byte(1).str("").str("");
  b.byte(1).str("").byte(0).str("").pad(35);
  b.i32(1).str("/l").str("").pad(4).i32(0).str("").str("").byte(1).i32(3).pad(27);
  b.str("").str("*\r\n").byte(0).byte(1).i32(77).pad(1).pad(25);
  b.byte(1).str("").byte(0).str("").pad(35);
  b.i32(19721).byte(0).str("").byte(0).str("").byte(0);
  b.byte(1).str("").str("").str("").byte(0).pad(25);
  return b.pad(1).pad(184);
}
}  // namespace

// Each load reads its own file version: a legacy load on one thread never
// changes how another thread reads a current file.
TEST(SettingsLoadThreads, ConcurrentLoadsOfOldAndNewFiles) {
  TDomainHandler model;
  TDomain* d = model.AddDomain();
  d->DomainName = "current";
  d->AddVirtualPath()->SetPath("/c");
  const std::vector<uint8_t> current = Save(model);
  const std::vector<uint8_t> legacy = LegacyFile();

  std::atomic<int> wrong{0};
  auto loop = [&](const std::vector<uint8_t>& bytes, const char* name) {
    TDomainHandler h;
    for (int i = 0; i < 300; ++i) {
      try {
        h.LoadFromStream(bytes);
        if (h.Domains.Count() != 1 || h.Domains[0]->DomainName != name) ++wrong;
      } catch (const Exception&) {
        ++wrong;
      }
    }
  };
  std::thread a(loop, std::cref(current), "current");
  std::thread b(loop, std::cref(legacy), "legacy");
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Readers walk the live tree under the read lock while it is reloaded.
TEST(SettingsLoadThreads, ReadersSeeWholeTreesDuringReloads) {
  TDomainHandler model;
  for (int port : {80, 81, 82}) model.AddDomain()->ListenOnPort = port;
  const std::vector<uint8_t> three = Save(model);
  model.RemoveDomain(model.Domains[2]);
  const std::vector<uint8_t> two = Save(model);

  TDomainHandler live;
  live.LoadFromStream(three);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        TStringList list;
        live.GetBindings(&list, false);
        ReadLockGuard g(live.Synchronizer);
        const int n = live.Domains.Count();
        if (n != 2 && n != 3) ++wrong;
        if (list.Count() != 2 && list.Count() != 3) ++wrong;
        for (const auto& dom : live.Domains)
          if (dom->Handler != &live) ++wrong;
        live.Domains[0]->RequestCount.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 200; ++i) live.LoadFromStream(i % 2 ? three : two);
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}
