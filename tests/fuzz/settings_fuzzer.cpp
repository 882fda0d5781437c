// Feeds arbitrary bytes to TDomainHandler::LoadFromStream. A load either
// succeeds or raises; a failed load leaves the configuration exactly as it
// was, and what a successful load gives saves and reloads to the same bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Common/uDomainHandler.h"
#include "tests/fuzz/settings_seeds.h"

namespace {
std::vector<uint8_t> Save(TDomainHandler& h) {
  StreamWriter w;
  h.SaveToStream(w);
  return w.TakeBytes();
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "settings fuzzer: %s\n", what);
  std::abort();
}

TDomainHandler& Live() {
  static TDomainHandler* live = [] {
    auto* h = new TDomainHandler;
    h->LoadFromStream(SettingsSeeds()[1]);
    return h;
  }();
  return *live;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // "-write_seeds=DIR" writes the seed files and exits.
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = (*argv)[i];
    if (arg.rfind("-write_seeds=", 0) != 0) continue;
    const std::string dir = arg.substr(13);
    int n = 0;
    for (const auto& seed : SettingsSeeds()) {
      const std::string name = dir + "/seed" + std::to_string(n++);
      FILE* f = std::fopen(name.c_str(), "wb");
      if (!f || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size()) Fail("cannot write a seed");
      std::fclose(f);
    }
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TDomainHandler& live = Live();
  const std::vector<uint8_t> before = Save(live);
  StreamReader reader(data, size);
  try {
    live.LoadFromStream(reader);
  } catch (const Exception&) {
    if (Save(live) != before) Fail("a failed load changed the configuration");
    return 0;
  }
  const std::vector<uint8_t> first = Save(live);
  TDomainHandler again;
  again.LoadFromStream(first);
  if (Save(again) != first) Fail("a loaded configuration does not reload to the same bytes");
  live.LoadFromStream(before);
  return 0;
}
