// Server choice for known clients of a cluster with 10,000 affinity entries,
// on one core and with 8 threads sharing the cluster (and its one lock).
#include <benchmark/benchmark.h>

#include "Common/uLoadBalancingClasses.h"

namespace {

constexpr int32_t Clients = 10000;

TServerCluster& Cluster() {
  static TServerClusterList list;
  static std::shared_ptr<TServerCluster> cluster = [] {
    auto c = list.Add();
    for (int i = 0; i < 4; ++i) {
      auto s = TServer::Create(*c);
      s->Enabled = true;
      s->Capacity = static_cast<float>(1 + i);
      s->ServerAddress = "10.0.0." + std::to_string(i + 1);
      s->ServerPort = 80;
    }
    uint8_t status = 0;
    for (int32_t key = 0; key < Clients; ++key) c->GetServerForClient(key, status);
    return c;
  }();
  return *cluster;
}

void BM_ChooseKnownClient(benchmark::State& state) {
  TServerCluster& cluster = Cluster();
  int32_t key = static_cast<int32_t>(state.thread_index()) * 7919 % Clients;
  std::shared_ptr<TServer> server;
  std::string host;
  int32_t port = 0;
  for (auto _ : state) {
    uint8_t status = 0;
    cluster.GetServer(key, server, status, port, host);
    benchmark::DoNotOptimize(server);
    if (++key == Clients) key = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ChooseKnownClient)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
