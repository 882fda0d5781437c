// Compression throughput of the response relay: 32 KiB blocks (the relay's
// transfer buffer) of HTML-like text through TVTCompressionStream at the
// relay's level, with the output taken after each block as the relay does.
#include <benchmark/benchmark.h>

#include <string>

#include "Common/VT_ZLibEx.h"
#include "platform/Random.h"

namespace {

std::string HtmlLikeBlock() {
  static const char* words[] = {"<div class=\"item\">", "</div>", "<a href=\"/catalog/", "\">", "</a>",
                                "lorem", "ipsum", "dolor", "sit", "amet", "price", "stock", "\r\n"};
  RandSeed(42);
  std::string s;
  while (s.size() < 32768) {
    s += words[Random(13)];
    s += ' ';
    s += std::to_string(Random(100000));
  }
  s.resize(32768);
  return s;
}

void RelayCompression(benchmark::State& state) {
  const bool gzip = state.range(0) != 0;
  const std::string block = HtmlLikeBlock();
  constexpr int kBlocks = 64;  // a 2 MiB response
  for (auto _ : state) {
    TVTCompressionStream z(1);
    z.SetGzip(gzip);
    if (gzip) z.WriteGzipHeader();
    for (int i = 0; i < kBlocks; ++i) {
      z.Write(block);
      benchmark::DoNotOptimize(z.TakeBytes());
    }
    z.Finish();
    if (gzip) z.WriteGzipTrailer();
    benchmark::DoNotOptimize(z.TakeBytes());
  }
  state.SetBytesProcessed(state.iterations() * kBlocks * static_cast<int64_t>(block.size()));
  state.SetLabel(gzip ? "gzip" : "deflate");
}
BENCHMARK(RelayCompression)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
