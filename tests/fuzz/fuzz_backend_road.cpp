// Hostile back-end responses (heads and bodies) against the relay: the
// input's first byte picks the client's request, the rest is what the back
// end answers before it closes. Whatever comes back, the thread must end
// the exchange within its limits and never crash.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tests/fuzz/FuzzRoadHost.h"

namespace {

const char* const kRequests[] = {
    "GET / HTTP/1.1\r\nHost: a\r\n\r\n",
    "GET / HTTP/1.1\r\nHost: a\r\nAccept-Encoding: gzip\r\n\r\n",
    "GET / HTTP/1.0\r\nHost: a\r\nConnection: keep-alive\r\n\r\n",
    "HEAD / HTTP/1.1\r\nHost: a\r\n\r\n",
    "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\nbody",
    "POST / HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\nbody",
    "GET / HTTP/1.1\r\nHost: a\r\nAccept-Encoding: deflate\r\nConnection: close\r\n\r\n",
};

struct Road {
  std::mutex mutex;
  std::string response;
  roadtest::ScriptedBackend backend{[this](roadtest::BackendConn& conn, roadtest::ScriptedBackend& b) {
    if (b.ReadRequest(conn).empty()) return;
    std::string answer;
    {
      std::lock_guard<std::mutex> g(mutex);
      answer = response;
    }
    conn.Send(answer);
  }};
  // After the back end, whose port it needs.
  std::unique_ptr<roadtest::RoadHost> host = MakeFuzzRoadHost(backend.Port());
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Road road;
  if (size == 0) return 0;
  {
    std::lock_guard<std::mutex> g(road.mutex);
    road.response.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  roadtest::Client client(road.host->Port());
  client.Send(kRequests[data[0] % (sizeof kRequests / sizeof kRequests[0])]);
  client.ReadUntilClose();
  return 0;
}
