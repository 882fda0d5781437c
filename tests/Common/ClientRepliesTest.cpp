// The replies the switch writes itself, byte for byte, and the requests it
// forwards to a server cluster.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Common/uLoadBalancingClasses.h"
#include "platform/SysUtils.h"
#include "tests/Common/ClientRoadFixture.h"
#include "tests/Common/TempFolder.h"

namespace roadtest {
namespace {

class ClientReplies : public RoadFixture {
 protected:
  // What the switch answers to Request (it closes after every direct reply).
  std::string Reply(const std::string& request) {
    Client client(Port());
    client.Send(request);
    return client.ReadUntilClose();
  }
  TVirtualPath* AddPath(TDomain* domain, const std::string& path) {
    WriteLockGuard g(Handler().Synchronizer);
    TVirtualPath* p = domain->AddVirtualPath();
    p->Path = path;
    return p;
  }
  std::shared_ptr<TServerCluster> AddCluster(const std::string& name) {
    WriteLockGuard g(Handler().Synchronizer);
    auto cluster = Handler().ServerClusters->Add();
    cluster->Name = name;
    return cluster;
  }
  TServer& AddServer(TServerCluster& cluster, int port, bool online = true) {
    WriteLockGuard g(Handler().Synchronizer);
    auto server = TServer::Create(cluster);
    server->ServerName = "S" + IntToStr(port);
    server->ServerAddress = "127.0.0.1";
    server->ServerPort = port;
    server->Capacity = 1;
    server->Enabled = true;
    server->Online = online;
    return *server;
  }
};

std::string Get(const std::string& path, const std::string& host, const std::string& extra = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n" + extra + "\r\n";
}

TEST_F(ClientReplies, UnmatchedForbiddenAndCircular) {
  ScriptedBackend backend(Answer(Ok("x")));
  AddDomain("www.a.com", backend.Port());
  EXPECT_EQ(Reply(Get("/", "www.other.com")), "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_EQ(Reply("GET / HTTP/1.0\r\nHost: www.a.com\r\nUser-Agent: Mozilla DTS Agent 2\r\n\r\n"),
            "HTTP/1.0 403 Forbidden\r\n\r\n");
  EXPECT_TRUE(Logged("Refused access by DTS Agent : Host=www.a.com, Doc=/, Port=" + IntToStr(Port()) +
                     ", CallerIP=127.0.0.1"));
  EXPECT_TRUE(Logged("Unmatched request, killed connection. Host=www.other.com, Doc=/"));
  EXPECT_TRUE(backend.Heads().empty());
  // The access-log line of a direct reply has no status.
  ASSERT_TRUE(Idle());
  ASSERT_EQ(W3C().size(), 2u);
  for (const std::string& line : W3C()) EXPECT_NE(line.find(" GET / - 0 0 "), std::string::npos) << line;
}

TEST_F(ClientReplies, ClientTextCannotForgeEventLines) {
  // Controls in a header value are refused before any line names them.
  EXPECT_EQ(Reply("GET / HTTP/1.1\r\nHost: www.x\x1b[31m.com\x01\r\n\r\n"), "HTTP/1.1 400 Bad Request\r\n\r\n");
  for (const std::string& line : Log()) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
}

TEST_F(ClientReplies, RefusalsByDenyAction) {
  TempFolder folder;
  const std::string denyFile = folder.Path() + "denied.htm";
  std::ofstream(denyFile, std::ios::binary) << "<b>no</b>";
  struct Case {
    uint8_t action;
    std::string file;
    std::string reply;
  };
  const Case cases[] = {
      {0, "", "HTTP/1.1 403 Forbidden\r\n\r\n"},
      {2, "", ""},
      {3, denyFile, "HTTP/1.1 200 OK\r\n\r\n<b>no</b>"},
      {3, folder.Path() + "missing.htm", "HTTP/1.1 200 OK\r\n\r\nFile [" + folder.Path() + "missing.htm] not found\r\n"},
  };
  for (bool byPath : {false, true}) {
    for (const Case& c : cases) {
      ClearDomains();
      TDomain* domain = AddDomain("www.a.com", 1);
      if (byPath) AddPath(domain, "/app");
      domain->IPRestrictor.Mode = 1;
      domain->IPRestrictor.IPNumbers.Add("127.0.0.*");
      domain->IPRestrictor.RequestDeniedAction = c.action;
      domain->IPRestrictor.FileName = c.file;
      EXPECT_EQ(Reply(Get("/app/x", "www.a.com")), c.reply) << int(c.action) << (byPath ? " by path" : "");
    }
  }
  EXPECT_TRUE(Logged("RequestDeniedAction : Send File"));
  EXPECT_TRUE(Logged("Request REFUSED VPath. Host=www.a.com, Doc=/app/x"));
}

TEST_F(ClientReplies, Redirects) {
  TDomain* domain = AddDomain("www.a.com", 1);
  AddPath(domain, "/app");
  TVirtualPath* moved = AddPath(domain, "/old");
  moved->Redirect = true;
  moved->PathReplace = "/new.dir/place";
  TVirtualPath* away = AddPath(domain, "/away");
  away->Redirect = true;
  away->PermanentRedirect = true;
  away->PathReplace = "http://elsewhere/x.htm";
  const std::string host = "www.a.com:" + IntToStr(Port());
  EXPECT_EQ(Reply(Get("/app", host)),
            "HTTP/1.1 301 Moved Permanently\r\nLocation: http://" + host + "/app/\r\nConnection: Close\r\n\r\n");
  EXPECT_EQ(Reply(Get("/old/page", host)),
            "HTTP/1.1 302 Found\r\nLocation: http://" + host + "/new.dir/place/\r\nConnection: Close\r\n\r\n");
  EXPECT_EQ(Reply(Get("/away/y", host)),
            "HTTP/1.1 301 Moved Permanently\r\nLocation: http://elsewhere/x.htm\r\nConnection: Close\r\n\r\n");
  EXPECT_TRUE(Logged("Redirecting VPath from /app to http://" + host + "/app/"));

  {
    WriteLockGuard g(Handler().Synchronizer);
    domain->ForcedHTTPtoHTTPS = true;
  }
  EXPECT_EQ(Reply(Get("/page.htm?q=1", "www.a.com:8080")),
            "HTTP/1.1 302 Found\r\nLocation: https://www.a.com:8080/page.htm?q=1\r\nConnection: Close\r\n\r\n");
}

TEST_F(ClientReplies, ServerChoiceFailuresAnswer500) {
  auto cluster = AddCluster("Farm");
  AddServer(*cluster, 1, false);
  TDomain* domain = AddDomain("www.a.com", 1);
  domain->ServerCluster = cluster.get();
  const std::string text = "500 Load Balancing failed to find a server - no servers enabled or online";
  EXPECT_EQ(Reply(Get("/", "www.a.com")), "HTTP/1.1 " + text + "\r\n\r\n" + text + "\r\n");
  EXPECT_TRUE(Logged("Load balancing request was not filled - no servers enabled or online! (Client IP=127.0.0.1, "
                     "Cluster=Farm)"));
  cluster->Enabled = false;
  const std::string disabled = "500 Load Balancing failed to find a server - ServerCluster is disabled";
  EXPECT_EQ(Reply(Get("/", "www.a.com")), "HTTP/1.1 " + disabled + "\r\n\r\n" + disabled + "\r\n");
}

TEST_F(ClientReplies, ClusterConnectionsCountOnTheServerTheyWereOpenedFor) {
  ScriptedBackend first(Answer(Ok("one")));
  ScriptedBackend second(Answer(Ok("two")));
  auto farmA = AddCluster("A");
  auto farmB = AddCluster("B");
  TServer& a = AddServer(*farmA, first.Port());
  TServer& b = AddServer(*farmB, second.Port());
  TDomain* domain = AddDomain("www.a.com", 1);
  domain->ServerCluster = farmA.get();
  AddPath(domain, "/b/")->SetCluster(farmB.get());

  Client client(Port());
  client.Send(Get("/x", "www.a.com"));
  Response r = client.ReadResponse();
  EXPECT_EQ(r.body, "one");
  EXPECT_EQ(r.Header("Set-Cookie"), "");  // affinity by client address
  EXPECT_EQ(a.LiveConnections.load(), 1);
  client.Send(Get("/b/x", "www.a.com"));
  EXPECT_EQ(client.ReadResponse().body, "two");
  EXPECT_EQ(a.LiveConnections.load(), 0);
  EXPECT_EQ(b.LiveConnections.load(), 1);
  EXPECT_EQ(stats_.FTotalLBConnections.load(), 2);
  // The second request is counted on the server of the first.
  EXPECT_EQ(a.Stats->Requests.load(), 1);
  EXPECT_EQ(b.Stats->ResponseCount.load(), 1);
  client.Peer().Close();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(b.LiveConnections.load(), 0);
}

}  // namespace
}  // namespace roadtest
