// Two sessions saving the general page over and over while a third reloads
// the engine: the file and its backup always parse, and after the last save
// the engine runs what is on disk.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "Common/uDomainHandler.h"
#include "HTTPRedirect/udmHTTPBase.h"
#include "platform/SysUtils.h"
#include "tests/webadmin/WebAdminFixture.h"
#include "webadmin/UserSession.h"

namespace {

using web::TestBrowser;

class SettingsSaveThreads : public WebAdminFixture {
 protected:
  SettingsSaveThreads() {
    WriteSettings([](TDomainHandler&) {});
    engine_ = std::make_unique<TdmHTTPBase>();
    std::string msg;
    engine_->LoadSettings(msg);
  }
  ~SettingsSaveThreads() override { engine_.reset(); }

  // A file that parses, and its gate name.
  static std::string Parse(const std::vector<uint8_t>& bytes) {
    TDomainHandler h;
    h.LoadFromStream(bytes);
    return h.GateName;
  }

  std::unique_ptr<TdmHTTPBase> engine_;
};

TEST_F(SettingsSaveThreads, TwoSessionsSaveWhileAThirdReloads) {
  constexpr int Saves = 200;
  TestBrowser a = OpenMenu("IMGGENERAL", "Vantrell - Web Admin [General settings]");
  TestBrowser b = OpenMenu("IMGGENERAL", "Vantrell - Web Admin [General settings]");

  // The backup exists from the first save on.
  ASSERT_TRUE(a.click("BTNSAVESETTINGS"));
  ASSERT_TRUE(FileExists(std::string(SettingsFileName) + ".old"));

  std::atomic<bool> done{false};
  std::atomic<int> badFiles{0};
  std::thread reloader([&] {
    while (!done) {
      std::string msg;
      engine_->LoadSettings(msg);
      if (msg != "Settings reloaded") {
        ++badFiles;
        ADD_FAILURE() << msg;
      }
    }
  });
  std::thread checker([&] {
    // Whatever moment it looks, both files are whole.
    while (!done) {
      for (const char* name : {"data/settings.dat", "data/settings.dat.old"}) {
        try {
          Parse(ReadFileBytes(name));
        } catch (const std::exception& e) {
          ++badFiles;
          ADD_FAILURE() << name << ": " << e.what();
        }
      }
    }
  });
  auto saver = [&](TestBrowser& br, const std::string& prefix) {
    for (int i = 0; i < Saves; ++i) {
      br.type("EDTGATENAME", prefix + IntToStr(i));
      br.type("EDTMAXTHREADS", IntToStr(20 + i % 100));
      if (!br.click("BTNSAVESETTINGS") || !br.shown("LBLSAVED")) {
        ++badFiles;
        ADD_FAILURE() << prefix << i << " not saved: " << br.alerts().size();
      }
    }
  };
  std::thread first([&] { saver(a, "a"); });
  std::thread second([&] { saver(b, "b"); });
  first.join();
  second.join();
  done = true;
  reloader.join();
  checker.join();
  EXPECT_EQ(badFiles, 0);

  // One more reload after the last save: the engine runs the file on disk.
  std::string msg;
  engine_->LoadSettings(msg);
  const std::string onDisk = Parse(ReadFileBytes(SettingsFileName));
  EXPECT_TRUE(onDisk == "a" + IntToStr(Saves - 1) || onDisk == "b" + IntToStr(Saves - 1)) << onDisk;
  EXPECT_EQ(engine_->GetDomainHandler()->GateName, onDisk);
  Parse(ReadFileBytes(std::string(SettingsFileName) + ".old"));
}

// Without an extra reload: the saves' own reloads leave the engine on the
// file of the last save.
TEST_F(SettingsSaveThreads, TheLastSavesReloadWins) {
  TestBrowser a = OpenMenu("IMGGENERAL", "Vantrell - Web Admin [General settings]");
  TestBrowser b = OpenMenu("IMGGENERAL", "Vantrell - Web Admin [General settings]");
  for (int round = 0; round < 50; ++round) {
    std::thread first([&] {
      a.type("EDTGATENAME", "a" + IntToStr(round));
      a.click("BTNSAVESETTINGS");
    });
    std::thread second([&] {
      b.type("EDTGATENAME", "b" + IntToStr(round));
      b.click("BTNSAVESETTINGS");
    });
    first.join();
    second.join();
    ASSERT_EQ(engine_->GetDomainHandler()->GateName, Parse(ReadFileBytes(SettingsFileName))) << round;
  }
}

}  // namespace
