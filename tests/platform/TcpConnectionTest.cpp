#include "platform/TcpConnection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpClient.h"
#include "platform/TcpErrors.h"
#include "tests/platform/TcpTestSupport.h"

namespace {

using namespace tcptest;

TEST(TcpConnection, ReadLnEndsAtTheTerminatorAndDropsTheCrBeforeLf) {
  struct Case {
    std::string sent;
    std::string terminator;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"a\r\nb\nc\r\n", "\n", {"a", "b", "c"}},
      {"\r\n\n", "\n", {"", ""}},
      {"x\ry\r\r\n", "\n", {"x\ry\r"}},      // only the CR right before LF goes
      {"one\ntwo\r\n", "\r\n", {"one\ntwo"}},  // a CR LF terminator passes a bare LF
  };
  for (const Case& c : cases) {
    ClientPair pair;
    pair.peer->Send(c.sent);
    for (const std::string& expected : c.lines) {
      EXPECT_EQ(pair.client->ReadLn(c.terminator, 2000), expected) << c.sent;
      EXPECT_FALSE(pair.client->ReadLnTimedOut());
    }
    EXPECT_EQ(pair.client->InputBufferSize(), 0u);
  }
}

TEST(TcpConnection, TimedOutReadLnKeepsThePartialLineForTheNextCall) {
  ClientPair pair;
  pair.peer->Send("GET / HT");
  EXPECT_EQ(pair.client->ReadLn("\n", 50), "");
  EXPECT_TRUE(pair.client->ReadLnTimedOut());
  EXPECT_EQ(pair.client->InputBufferSize(), 8u);
  // A zero time-out looks once: still nothing complete.
  EXPECT_EQ(pair.client->ReadLn("\n", 0), "");
  EXPECT_TRUE(pair.client->ReadLnTimedOut());
  pair.peer->Send("TP/1.0\r");
  EXPECT_EQ(pair.client->ReadLn("\n", 50), "");
  pair.peer->Send("\nHost: x\r\n");
  EXPECT_EQ(pair.client->ReadLn("\n", 2000), "GET / HTTP/1.0");
  EXPECT_FALSE(pair.client->ReadLnTimedOut());
  EXPECT_EQ(pair.client->ReadLn("\n", 2000), "Host: x");
}

// A reader that keeps its string: a short line after a long one is only
// itself, and a time-out leaves the string empty.
TEST(TcpConnection, ReadLnIntoAKeptStringHoldsOnlyTheLastLine) {
  ClientPair pair;
  const std::string longLine(5000, 'L');
  pair.peer->Send(longLine + "\r\nab\r\n\r\nrest");
  std::string line;
  pair.client->ReadLnInto(line, "\n", 2000);
  EXPECT_EQ(line, longLine);
  pair.client->ReadLnInto(line, "\n", 2000);
  EXPECT_EQ(line, "ab");
  pair.client->ReadLnInto(line, "\n", 2000);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(pair.client->ReadLnTimedOut());
  line = "old";
  pair.client->ReadLnInto(line, "\n", 50);
  EXPECT_TRUE(pair.client->ReadLnTimedOut());
  EXPECT_EQ(line, "");
  pair.peer->Send("\n");
  pair.client->ReadLnInto(line, "\n", 2000);
  EXPECT_EQ(line, "rest");
}

TEST(TcpConnection, LineLongerThanTheMaximumRaises) {
  {
    ClientPair pair;
    pair.client->SetMaxLineLength(10);
    pair.peer->Send(std::string(10, 'a') + "\r\n" + std::string(11, 'b') + "\n");
    EXPECT_EQ(pair.client->ReadLn("\n", 2000), std::string(10, 'a'));
    EXPECT_THROW(pair.client->ReadLn("\n", 2000), EIdMaxLineLengthExceeded);
  }
  {
    // An over-long line raises as soon as it is too long, not at its end.
    ClientPair pair;
    pair.peer->Send(std::string(100, 'x'));
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(pair.client->ReadLn("\n", TcpConnection::kNoTimeout, 50), EIdMaxLineLengthExceeded);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }
  {
    // A limit of 0 is none.
    ClientPair pair;
    std::string huge(200000, 'y');
    pair.peer->Send(huge + "\n");
    EXPECT_EQ(pair.client->ReadLn("\n", 5000, 0), huge);
  }
  try {
    throw EIdMaxLineLengthExceeded();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EIdMaxLineLengthExceeded");
  }
}

TEST(TcpConnection, PeerCloseLeavesBufferedLinesReadableThenRaisesGracefully) {
  ClientPair pair;
  pair.peer->Send("last\npart");
  pair.peer->Close();
  ASSERT_TRUE(WaitUntil([&] { return pair.client->ReadFromStack(10) == 0 && pair.client->ClosedGracefully(); }));
  EXPECT_TRUE(pair.client->Connected());  // bytes still buffered
  EXPECT_EQ(pair.client->ReadLn("\n", 1000), "last");
  try {
    pair.client->ReadLn("\n", 1000);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.ClassName(), "EIdConnClosedGracefully");
    EXPECT_NE(dynamic_cast<const EIdSilentException*>(&e), nullptr);
  }
  EXPECT_EQ(pair.client->ReadString(4), "part");
  EXPECT_FALSE(pair.client->Connected());
}

TEST(TcpConnection, ConnectedNoticesAPeerCloseOrResetWithoutARead) {
  {
    ClientPair pair;
    EXPECT_TRUE(pair.client->Connected());
    pair.peer->Close();
    EXPECT_TRUE(WaitUntil([&] { return !pair.client->Connected(); }));
    EXPECT_FALSE(pair.client->KnownConnected());
  }
  {
    ClientPair pair;
    pair.peer->Reset();
    EXPECT_TRUE(WaitUntil([&] { return !pair.client->Connected(); }));
  }
  {
    // A read that meets the reset raises the reset, which is quiet.
    ClientPair pair;
    pair.peer->Reset();
    try {
      pair.client->ReadLn("\n", 2000);
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), ECONNRESET);
      EXPECT_TRUE(IsConnectionReset(e));
      EXPECT_EQ(e.Message().rfind("Socket Error # 104\r\n", 0), 0u) << e.Message();
    }
  }
}

TEST(TcpConnection, ReadBufferIsExactAndKeepsBytesAcrossATimeout) {
  ClientPair pair;
  pair.client->SetReadTimeout(50);
  pair.peer->Send("abc");
  char buf[6];
  EXPECT_THROW(pair.client->ReadBuffer(buf, 6), EIdReadTimeout);
  EXPECT_EQ(pair.client->InputBufferSize(), 3u);
  pair.peer->Send("defgh");
  pair.client->SetReadTimeout(2000);
  pair.client->ReadBuffer(buf, 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  EXPECT_EQ(pair.client->ReadString(2), "gh");
  pair.peer->Close();
  EXPECT_THROW(pair.client->ReadString(1), EIdConnClosedGracefully);
}

TEST(TcpConnection, ReadFromStackReturnsWhatArrivedAndNeverRaisesForTimeoutOrClose) {
  ClientPair pair;
  EXPECT_EQ(pair.client->ReadFromStack(20), 0);
  pair.peer->Send("12345");
  ASSERT_TRUE(WaitUntil([&] { return pair.client->InputBufferSize() == 5 || pair.client->ReadFromStack(10) < 0; }));
  EXPECT_EQ(pair.client->InputBufferSize(), 5u);
  pair.peer->Close();
  EXPECT_TRUE(WaitUntil([&] { return pair.client->ReadFromStack(10) == 0 && pair.client->ClosedGracefully(); }));
  EXPECT_EQ(pair.client->ReadString(5), "12345");
}

TEST(TcpConnection, WriteBufferSendsOnceTheThresholdIsReachedAndOnClose) {
  ClientPair pair;
  pair.client->OpenWriteBuffer(1400);
  pair.client->Write(std::string(1399, 'h'));
  EXPECT_EQ(pair.peer->ReceiveFor(50), "");
  pair.client->Write("!");
  EXPECT_EQ(pair.peer->Receive(1400), std::string(1399, 'h') + "!");
  pair.client->Write("tail");
  EXPECT_EQ(pair.peer->ReceiveFor(50), "");
  pair.client->CloseWriteBuffer();
  EXPECT_FALSE(pair.client->WriteBufferOpen());
  EXPECT_EQ(pair.peer->Receive(4), "tail");
  // Cancel drops what was collected; later writes go straight out.
  pair.client->OpenWriteBuffer(1400);
  pair.client->Write("dropped");
  pair.client->CancelWriteBuffer();
  pair.client->Write("direct");
  EXPECT_EQ(pair.peer->Receive(6), "direct");
}

// A collected head leaves in one send with the block that fills the buffer
// (without a copy), and nothing waits for the peer's delayed ACK.
TEST(TcpConnection, CollectedBytesLeaveWithTheBlockThatFillsTheBuffer) {
  struct Probe : TcpClient {
    int Fd() const { return CurrentTransport()->Handle(); }
  };
  Probe client;
  client.SetHost("127.0.0.1");
  SocketHandle listener = RawListener();
  client.SetPort(PortOf(listener.Get()));
  client.Connect(2000);
  RawPeer peer(SocketHandle(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
  int noDelay = 0;
  socklen_t len = sizeof noDelay;
  ASSERT_EQ(::getsockopt(client.Fd(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &len), 0);
  EXPECT_NE(noDelay, 0);

  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 16384\r\n\r\n";
  const std::string body(16384, 'b');
  for (int round = 0; round < 2; ++round) {
    const uint32_t before = DataSegmentsIn(peer.Fd());
    client.OpenWriteBuffer(static_cast<int>(head.size()) + 1400);
    client.Write(head);
    client.Write(body.substr(0, 8192));  // fills it: both leave together
    EXPECT_EQ(client.WriteBufferSize(), 0u);
    client.CloseWriteBuffer();
    client.Write(body.substr(8192));
    EXPECT_EQ(peer.Receive(head.size() + body.size()), head + body);
    EXPECT_EQ(DataSegmentsIn(peer.Fd()) - before, 2u) << "round " << round;
  }
}

TEST(TcpConnection, WritesRaiseOnceTheConnectionIsGone) {
  {
    ClientPair pair;
    pair.client->Disconnect();
    try {
      pair.client->Write("x");
      FAIL() << "no exception";
    } catch (const EIdClosedSocket& e) {
      EXPECT_EQ(e.Message(), "Disconnected.");
    }
  }
  {
    ClientPair pair;
    pair.peer->Reset();
    ASSERT_TRUE(WaitUntil([&] { return !pair.client->Connected(); }));
    // The reset was seen; the socket write now fails with a reset error.
    try {
      for (int i = 0; i < 100; ++i) pair.client->Write(std::string(65536, 'z'));
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_TRUE(IsConnectionReset(e)) << e.Message();
    }
  }
}

TEST(TcpConnection, DisconnectFiresItsEventOnceAndOnlyWhenConnected) {
  ClientPair pair;
  int connects = 0;
  int disconnects = 0;
  pair.client->SetOnDisconnected([&] { ++disconnects; });
  pair.client->Disconnect();
  pair.client->Disconnect();
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(pair.client->Connected());
  EXPECT_TRUE(pair.peer->SeesClose());

  TcpClient never;
  never.SetOnDisconnected([&] { ++disconnects; });
  never.Disconnect();
  EXPECT_EQ(disconnects, 1);

  // Reconnecting fires OnConnected again and balances with one more disconnect.
  SocketHandle listener = RawListener();
  TcpClient again;
  again.SetOnConnected([&] { ++connects; });
  again.SetOnDisconnected([&] { ++disconnects; });
  again.SetHost("127.0.0.1");
  again.SetPort(PortOf(listener.Get()));
  again.Connect(2000);
  EXPECT_THROW(again.Connect(2000), EIdAlreadyConnected);
  again.Disconnect();
  again.Connect(2000);
  again.Disconnect();
  EXPECT_EQ(connects, 2);
  EXPECT_EQ(disconnects, 3);
}

TEST(TcpConnection, StopCheckEndsAnUnboundedWaitAndDisconnects) {
  ClientPair pair;
  std::atomic<bool> stop{false};
  pair.client->SetStopCheck([&] { return stop.load(); });
  auto started = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop = true;
  });
  EXPECT_THROW(pair.client->ReadLn("\n", TcpConnection::kNoTimeout), EIdClosedSocket);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_FALSE(pair.client->Connected());
  EXPECT_TRUE(pair.peer->SeesClose());
}

TEST(TcpConnection, WriteTimeoutEndsASendThePeerDoesNotTake) {
  ClientPair pair;
  int small = 4096;
  ::setsockopt(pair.peer->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  pair.client->SetWriteTimeout(100);
  std::string block(1 << 20, 'w');
  try {
    for (int i = 0; i < 64; ++i) pair.client->Write(block);
    FAIL() << "the peer took 64 MiB without reading";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), ETIMEDOUT);
  }
}

}  // namespace
