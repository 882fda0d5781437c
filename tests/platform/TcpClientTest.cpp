#include "platform/TcpClient.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpErrors.h"
#include "tests/platform/TcpTestSupport.h"

namespace {

using namespace tcptest;

TEST(TcpClient, ConnectRefusedRaisesASocketError) {
  // Bound but not listening: the connect is refused at once.
  SocketHandle bound(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sa = Loopback(0);
  ASSERT_EQ(::bind(bound.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  TcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(PortOf(bound.Get()));
  try {
    client.Connect(2000);
    FAIL() << "connected";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), ECONNREFUSED);
    EXPECT_STREQ(e.ClassName(), "EIdSocketError");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.Host(), "127.0.0.1");
}

TEST(TcpClient, ConnectToAListenerWithAFullQueueTimesOut) {
  // A backlog of 0 lets one connection wait; further handshakes are not
  // answered, so a connect with a time-out ends by it.
  SocketHandle listener = RawListener(0);
  int port = PortOf(listener.Get());
  std::vector<std::unique_ptr<TcpClient>> clients;
  bool timedOut = false;
  for (int i = 0; i < 8 && !timedOut; ++i) {
    auto client = std::make_unique<TcpClient>();
    client->SetHost("127.0.0.1");
    client->SetPort(port);
    auto start = std::chrono::steady_clock::now();
    try {
      client->Connect(150);
    } catch (const EIdConnectTimeout& e) {
      timedOut = true;
      EXPECT_EQ(e.Message(), "Connect timed out.");
      EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms);
      EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    clients.push_back(std::move(client));
  }
  EXPECT_TRUE(timedOut);
}

TEST(TcpClient, BoundAddressIsUsedAndATakenOneRaises) {
  SocketHandle listener = RawListener();
  TcpClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(PortOf(listener.Get()));
  client.SetBoundIP("127.0.0.2");
  client.Connect(2000);
  RawPeer peer(SocketHandle(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
  EXPECT_EQ(client.LocalIP(), "127.0.0.2");
  EXPECT_EQ(client.PeerIP(), "127.0.0.1");
  EXPECT_EQ(client.PeerPort(), PortOf(listener.Get()));
  EXPECT_EQ(PeerAddressOf(peer.Fd()).ip, "127.0.0.2");

  TcpClient clash;
  clash.SetHost("127.0.0.1");
  clash.SetPort(PortOf(listener.Get()));
  clash.SetBoundIP("127.0.0.1");
  clash.SetBoundPort(PortOf(listener.Get()));
  EXPECT_THROW(clash.Connect(2000), EIdCouldNotBindSocket);
}

TEST(TcpClient, HostNamesResolveThroughTheSystem) {
  SocketHandle listener = RawListener();
  TcpClient client;
  client.SetHost("localhost");
  client.SetPort(PortOf(listener.Get()));
  client.Connect(2000);
  EXPECT_EQ(client.PeerIP(), "127.0.0.1");
  EXPECT_EQ(client.Host(), "localhost");
}

}  // namespace

namespace {

using namespace tcptest;

// A receive on an outgoing connection also looks right behind its bytes: a
// close that was there with them is known when they are read, before any
// look of its own; bytes never go missing or change order on the way,
// also when one comes right behind a full receive.
TEST(TcpClient, ReceiveKnowsACloseRightBehindItsBytes) {
  std::string pattern(40000, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>('a' + i % 23);
  struct Case {
    const char* name;
    std::string sent;
    bool closes;
  };
  const Case cases[] = {
      {"line, then the close", "reply\r\n", true},
      {"line, kept open", "reply\r\n", false},
      {"more than a receive takes, then the close", pattern + "\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SocketHandle listener = RawListener();
    TcpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(PortOf(listener.Get()));
    client.SetReadTimeout(5000);
    client.SetMaxLineLength(0);
    client.Connect(2000);
    RawPeer peer(SocketHandle(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)));
    peer.Send(c.sent);
    if (c.closes) peer.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all of it has arrived
    EXPECT_EQ(client.ReadLn() + "\r\n", c.sent);
    EXPECT_EQ(client.ClosedGracefully(), c.closes);
    EXPECT_EQ(client.Connected(), !c.closes);
  }
}

}  // namespace
