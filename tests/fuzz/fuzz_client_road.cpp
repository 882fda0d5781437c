// Raw client bytes against one client connection of the switch, with a
// fixed back end behind it: whatever a client sends, the thread must end the
// connection cleanly, within its limits, and never crash. The client keeps
// its side open until the switch closes, so that requests reach the relay.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tests/fuzz/FuzzRoadHost.h"

namespace {

struct Road {
  // Echoes nothing of the request: a fixed keep-alive answer per head.
  roadtest::ScriptedBackend backend{roadtest::Answer(roadtest::Ok("fuzz"))};
  // After the back end, whose port it needs.
  std::unique_ptr<roadtest::RoadHost> host = MakeFuzzRoadHost(backend.Port());
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Road road;
  roadtest::Client client(road.host->Port());
  client.Send(std::string(reinterpret_cast<const char*>(data), size));
  // The head limit or the idle limit ends whatever is left waiting.
  client.ReadUntilClose();
  return 0;
}
