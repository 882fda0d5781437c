// Loopback echo through the TCP layer: 64 client connections (one per
// benchmark thread) against one server whose pool threads echo every byte.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/TcpClient.h"
#include "platform/TcpServer.h"
#include "platform/ThreadPool.h"

namespace {

struct EchoServer {
  ThreadPool pool{64};
  TcpServer server;
  EchoServer() {
    server.SetThreadPool(&pool);
    server.SetListenQueue(500);
    server.AddBinding("127.0.0.1", 0);
    server.SetOnExecute([](PeerThread& thread) {
      TcpConnection& c = *thread.Connection();
      // Connected() may already have taken the next bytes into the buffer.
      if (c.InputBufferSize() == 0) c.ReadFromStack(TcpConnection::kNoTimeout);
      size_t waiting = c.InputBufferSize();
      if (waiting > 0) c.Write(c.ReadString(waiting));
    });
    server.SetActive(true);
  }
};

EchoServer& Server() {
  static EchoServer server;
  return server;
}

void BM_LoopbackEcho(benchmark::State& state) {
  const std::string block(static_cast<size_t>(state.range(0)), 'e');
  TcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(Server().server.ListeningPort(0));
  client.SetReadTimeout(10000);
  client.Connect(5000);
  for (auto _ : state) {
    client.Write(block);
    std::string back = client.ReadString(block.size());
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
  client.Disconnect();
}

BENCHMARK(BM_LoopbackEcho)->Arg(1024)->Arg(16384)->Threads(1)->Threads(64)->UseRealTime();

}  // namespace
