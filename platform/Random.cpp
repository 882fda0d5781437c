#include "platform/Random.h"

#include <mutex>
#include <random>

namespace {

struct Generator {
  std::mutex mutex;
  std::mt19937_64 engine{std::random_device{}()};
};

Generator& TheGenerator() {
  static Generator g;
  return g;
}

}  // namespace

int32_t Random(int32_t range) {
  if (range <= 0) return 0;
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> lock(g.mutex);
  return std::uniform_int_distribution<int32_t>(0, range - 1)(g.engine);
}

double RandomFloat() {
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> lock(g.mutex);
  // 53 random bits give every representable step of [0, 1) equal weight.
  return static_cast<double>(g.engine() >> 11) * (1.0 / 9007199254740992.0);
}

void RandSeed(uint64_t seed) {
  Generator& g = TheGenerator();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.engine.seed(seed);
}

void Randomize() {
  std::random_device rd;
  RandSeed((static_cast<uint64_t>(rd()) << 32) ^ rd());
}
