#include "Common/uLoadBalancingClasses.h"

#include <algorithm>
#include <limits>

#include "Common/uGuardedCounter.h"
#include "Common/uLogger.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

constexpr int32_t ServerRecordVersion = 3;
constexpr int32_t ClusterRecordVersion = 6;
// Version, name, address, port, capacity, enabled: the fields every server record has.
constexpr size_t MinServerRecordBytes = 4 + 4 + 4 + 4 + 4 + 1;
// Version, name, enabled, server count.
constexpr size_t MinClusterRecordBytes = 4 + 4 + 1 + 4;
constexpr int32_t DefaultConnectionTimeout = 1800;

std::atomic<IServerCheckStarter*> checkStarter{nullptr};

// Seconds from Then to Now, as the ages of the tick and the affinity entries.
float SecondsSince(TDateTime now, TDateTime then) { return static_cast<float>((now - then) * 86400.0); }

int32_t NewClusterKey() { return Random(std::numeric_limits<int32_t>::max()); }

}  // namespace

// ------------------------------------------------------------------- helpers

const char* LBStatusText(uint8_t status) {
  switch (status) {
    case LBStatus::NotSet: return "Not set";
    case LBStatus::NewConnection: return "New connection";
    case LBStatus::OldConnection: return "Old connection";
    case LBStatus::OldUpdatedConnection: return "Old updated connection";
    case LBStatus::NoServerCapacity: return "No server capacity";
    case LBStatus::NoOnlineServers: return "No online servers";
    case LBStatus::FailedToFindServer: return "Failed to find server";
    case LBStatus::ClusterDisabled: return "Cluster disabled";
    default: return "";
  }
}

int32_t IPToInt(const std::string& text) {
  if (text.empty()) return 0;
  if (text.size() > 255) throw ERangeError();
  uint8_t bytes[4] = {0, 0, 0, 0};
  size_t index = 0;
  int octet = 0;
  auto store = [&] {
    if (index > 3) throw ERangeError();
    bytes[index] = static_cast<uint8_t>(octet);
  };
  for (unsigned char c : text) {
    if (c == '.') {
      store();
      ++index;
      octet = 0;
    } else {
      octet = octet * 10 + c - 48;
      if (octet < 0 || octet > 255) throw ERangeError();
    }
  }
  store();
  const uint32_t key = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return static_cast<int32_t>(key);
}

std::string IntToIP(int32_t key) {
  const uint32_t k = static_cast<uint32_t>(key);
  return Format("%d.%d.%d.%d", k & 255, (k >> 8) & 255, (k >> 16) & 255, k >> 24);
}

void SetServerCheckStarter(IServerCheckStarter* starter) { checkStarter.store(starter); }

IServerCheckStarter* GetServerCheckStarter() { return checkStarter.load(); }

// -------------------------------------------------------------------- TServer

std::shared_ptr<TServer> TServer::Create(TServerCluster& cluster) {
  auto server = std::make_shared<TServer>(&cluster);
  server->UniqueServerKey = cluster.NextUniqueServerKey(false);
  cluster.Servers.items_.push_back(server);
  return server;
}

TServer::TServer(TServerCluster* cluster) : Cluster(cluster), Stats(std::make_shared<TServerStatHolder>()) {}

TServer::~TServer() = default;

void TServer::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(ServerRecordVersion);
  w.WriteString(ServerName);
  w.WriteString(ServerAddress);
  w.WriteInteger(ServerPort);
  w.WriteSingle(Capacity.load());
  w.WriteBoolean(Enabled.load());
  w.WriteWord(UniqueServerKey);
  w.WriteBoolean(AutoActivate.load());
}

void TServer::LoadFromStream(StreamReader& r) {
  const int32_t version = r.ReadInteger();
  ServerName = r.ReadString();
  ServerAddress = r.ReadString();
  ServerPort = r.ReadInteger();
  Capacity = r.ReadSingle();  // as stored: the setter's rule is for edits
  Enabled = r.ReadBoolean();
  if (version >= 1)
    UniqueServerKey = r.ReadWord();
  else
    UniqueServerKey = Cluster ? Cluster->NextUniqueServerKey(true) : 0;
  if (version >= 3) AutoActivate = r.ReadBoolean();
}

void TServer::SetCapacity(float value) { Capacity = value < 0 ? 0.0f : value; }

void TServer::RegisterHit(TDateTime now) {
  LoadWindow[0].fetch_add(1, std::memory_order_relaxed);
  TotalRequests.fetch_add(1, std::memory_order_relaxed);
  LastNewRequest = now;
}

void TServer::ShiftLoadWindow() {
  for (size_t i = LoadWindow.size() - 1; i > 1; --i) LoadWindow[i].store(LoadWindow[i - 1].load());
  // A hit counted while the window moves lands in one slot or the other, never nowhere.
  LoadWindow[1].store(LoadWindow[0].exchange(0));
}

int32_t TServer::GetWindowSum() const {
  int64_t sum = 0;
  for (const auto& slot : LoadWindow) sum += slot.load(std::memory_order_relaxed);
  return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

void TServer::OnBackendConnected() { LiveConnections.fetch_add(1, std::memory_order_relaxed); }

void TServer::OnBackendDisconnected() {
  int32_t old = LiveConnections.load(std::memory_order_relaxed);
  do {
    if (old <= 0) return;
  } while (!LiveConnections.compare_exchange_weak(old, old - 1, std::memory_order_relaxed));
  // A retired record may share Stats with its successor, whose connections
  // are not this record's to judge.
  if (old == 1 && !Retired.load()) Stats->ResetResponseTimes();
}

std::string TServer::GetLastMessage() const {
  std::lock_guard<std::mutex> guard(messageLock_);
  return lastMessage_;
}

void TServer::SetLastMessage(const std::string& text) {
  std::string message;
  message.reserve(text.size());
  for (char c : text) {
    if (c == '\r')
      message += ':';
    else if (c != '\n')
      message += c;
  }
  std::lock_guard<std::mutex> guard(messageLock_);
  lastMessage_ = std::move(message);
}

void TServer::CopyStatsFrom(const TServer& other) {
  for (size_t i = 0; i < LoadWindow.size(); ++i) LoadWindow[i].store(other.LoadWindow[i].load());
  Online = other.Online.load();
  SetLastMessage(other.GetLastMessage());
  Responding = other.Responding.load();
}

void TServer::TakeStateFrom(const TServer& old) {
  CopyStatsFrom(old);
  FConsecutiveFailedOnlineChecks = old.FConsecutiveFailedOnlineChecks.load();
  LastNewRequest = old.LastNewRequest.load();
  LastNewSession = old.LastNewSession.load();
  TotalRequests = old.TotalRequests.load();
  TotalSessions = old.TotalSessions.load();
  Stats = old.Stats;
}

// ---------------------------------------------------------------- TServerList

const std::shared_ptr<TServer>& TServerList::GetServer(int index) const {
  CheckIndex(index, Count());
  return items_[index];
}

TServer* TServerList::FindByKey(uint16_t key) const {
  for (const auto& server : items_)
    if (server->UniqueServerKey == key) return server.get();
  return nullptr;
}

int TServerList::IndexOf(const TServer* server) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == server) return static_cast<int>(i);
  return -1;
}

void TServerList::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(Count());
  for (const auto& server : items_) server->SaveToStream(w);
}

void TServerList::LoadFromStream(StreamReader& r, TServerCluster& cluster) {
  const int32_t count = r.ReadCount(MinServerRecordBytes);
  for (int32_t i = 0; i < count; ++i) TServer::Create(cluster)->LoadFromStream(r);
}

// ------------------------------------------------------------- TServerCluster

TServerCluster::TServerCluster(TServerClusterList* ownerList) : OwnerList(ownerList), ClusterKey(NewClusterKey()) {}

TServerCluster::~TServerCluster() {
  // Entries point at the servers; they go first.
  Connections.Clear();
}

void TServerCluster::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(ClusterRecordVersion);
  w.WriteString(Name);
  w.WriteBoolean(Enabled.load());
  w.WriteInteger(ConnectionTimeout.load());
  Servers.SaveToStream(w);
  w.WriteWord(FLastUniqueServerKey);
  w.WriteInteger(ClusterKey);
  w.WriteInteger(MaxFailBeforeOffline.load());
  w.WriteInteger(FailoverCheckInterval.load());
  w.WriteInteger(LoadAveragingPeriod.load());
  w.WriteString(UserAgent);
  w.WriteString(HostName);
  w.WriteString(Document);
  w.WriteInteger(VerifyMethod);
  w.WriteInteger(SessionMethod);
}

void TServerCluster::LoadFromStream(StreamReader& r) {
  struct LoadingScope {
    bool& flag;
    explicit LoadingScope(bool& f) : flag(f) { flag = true; }
    ~LoadingScope() { flag = false; }
  } loading(Loading);

  const int32_t version = r.ReadInteger();
  Name = r.ReadString();
  Enabled = r.ReadBoolean();
  if (version >= 1) ConnectionTimeout = r.ReadInteger();  // as stored, even 0 or less
  Servers.LoadFromStream(r, *this);
  if (version >= 2) FLastUniqueServerKey = r.ReadWord();
  // Without a stored key the cluster keeps the random one it was created
  // with, so older affinity entries cannot be matched to it.
  if (version >= 3) ClusterKey = r.ReadInteger();
  if (version >= 4) {
    MaxFailBeforeOffline = r.ReadInteger();
    FailoverCheckInterval = r.ReadInteger();
    LoadAveragingPeriod = r.ReadInteger();
  }
  if (version >= 5) {
    UserAgent = r.ReadString();
    HostName = r.ReadString();
    Document = r.ReadString();
    VerifyMethod = static_cast<uint8_t>(r.ReadInteger() & 0xFF);
  }
  if (version >= 6) SessionMethod = static_cast<uint8_t>(r.ReadInteger() & 0xFF);
}

bool TServerCluster::KeyInUse(uint16_t key) const { return Servers.FindByKey(key) != nullptr; }

uint16_t TServerCluster::NextUniqueServerKey(bool forced) {
  if (Loading && !forced) return 0;
  // Past a wrap of the counter, keys still held by servers are skipped so
  // that every key stays unique in the cluster.
  for (int attempt = 0; attempt < 65535; ++attempt) {
    if (FLastUniqueServerKey == 65535) {
      LogCounterReset("FLastUniqueServerKey", FLastUniqueServerKey);
      FLastUniqueServerKey = 1;
    } else {
      ++FLastUniqueServerKey;
    }
    if (!KeyInUse(FLastUniqueServerKey)) break;
  }
  return FLastUniqueServerKey;
}

void TServerCluster::RemoveServer(TServer* server) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  const int index = Servers.IndexOf(server);
  if (index < 0) return;
  for (TLoadBalancedConnection* entry : Connections.GetList())
    if (entry->Server() == server) entry->SetServer(nullptr);
  server->Retired = true;
  Servers.items_.erase(Servers.items_.begin() + index);
}

void TServerCluster::GetServer(int32_t clientKey, std::shared_ptr<TServer>& server, uint8_t& status,
                               int32_t& port, std::string& host) {
  server.reset();
  if (!Enabled.load()) {
    status = LBStatus::ClusterDisabled;
    return;
  }
  std::lock_guard<std::recursive_mutex> guard(Lock);
  status = LBStatus::NotSet;
  TServer* chosen = GetServerForClient(clientKey, status);
  if (!chosen) return;
  host = chosen->ServerAddress;
  port = chosen->ServerPort;
  server = chosen->shared_from_this();
}

TServer* TServerCluster::GetServerForClient(int32_t clientKey, uint8_t& status) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  // One reading of the clock serves the whole request.
  const TDateTime now = Now();
  TLoadBalancedConnection* entry = Connections.Find(clientKey);

  // Also when an error ends the steps: the entry, if there is one by then,
  // counts as used and its server gets the hit.
  struct Finish {
    TLoadBalancedConnection*& entry;
    TDateTime now;
    ~Finish() {
      if (!entry) return;
      entry->LastUse = now;
      if (entry->Server()) entry->Server()->RegisterHit(now);
    }
  } finish{entry, now};

  if (!entry) {
    MakeRoom();
    auto created = std::make_unique<TLoadBalancedConnection>();
    status = LBStatus::NewConnection;
    created->ClientKey = clientKey;
    created->LastUse = now;
    created->SetServer(SelectServer(status));
    if (created->Server()) created->Server()->LastNewSession = now;
    TLoadBalancedConnection* added = created.get();
    Connections.Add(std::move(created));
    entry = added;
    return entry->Server();
  }

  status = LBStatus::OldConnection;
  TServer* current = entry->Server();
  if (!current || !current->Enabled.load() || !current->Online.load()) {
    status = LBStatus::OldUpdatedConnection;
    if (current && current->Online.load() && !current->Enabled.load()) {
      // A server being drained keeps the clients it has.
      entry->LastUse = now;
      current->LastNewSession = now;
      current->LastNewRequest = now;
    } else {
      entry->SetServer(SelectServer(status));
    }
  }
  if (entry->GetConnectionAge(now) > static_cast<float>(ConnectionTimeout.load())) {
    status = LBStatus::OldUpdatedConnection;
    entry->SetServer(SelectServer(status));
  }
  current = entry->Server();
  if (current && current->Enabled.load() && current->Online.load() && current->Capacity.load() == 0) {
    // A spare holds a client only until the next request.
    status = LBStatus::OldUpdatedConnection;
    entry->LastUse = now;
    entry->SetServer(SelectServer(status));
    if (TServer* next = entry->Server()) {
      next->LastNewSession = now;
      next->LastNewRequest = now;
    }
  }
  return entry->Server();
}

TServer* TServerCluster::SelectServer(uint8_t& status) {
  try {
    int count = 0;
    float sum = 0;
    for (const auto& server : Servers) {
      const float capacity = server->Capacity.load();
      if (server->IsAvailable() && capacity > 0) {
        ++count;
        sum += capacity;
      }
    }
    if (count == 0) {
      for (const auto& server : Servers) {
        if (server->IsAvailable() && server->Capacity.load() == 0) {
          ++count;
          sum += 1;
        }
      }
    }
    if (count == 0) {
      status = LBStatus::NoOnlineServers;
      return nullptr;
    }
    if (sum == 0) {
      status = LBStatus::NoServerCapacity;
      return nullptr;
    }
    TServer* server = FindLeastLoadedServer();
    if (!server) status = LBStatus::FailedToFindServer;
    return server;
  } catch (...) {
    status = LBStatus::FailedToFindServer;
    return nullptr;
  }
}

TServer* TServerCluster::FindLeastLoadedServer() const {
  TServer* best = nullptr;
  float bestScore = 0;
  for (const auto& server : Servers) {
    const float capacity = server->Capacity.load();
    if (!server->IsAvailable() || !(capacity > 0)) continue;
    const float score = (server->GetRecentLoad() + 1) / capacity;
    if (!best || score < bestScore) {
      best = server.get();
      bestScore = score;
    }
  }
  if (best) return best;
  for (const auto& server : Servers) {
    if (!server->IsAvailable() || server->Capacity.load() != 0) continue;
    const float score = server->GetRecentLoad() + 1;
    if (!best || score < bestScore) {
      best = server.get();
      bestScore = score;
    }
  }
  return best;
}

void TServerCluster::RemoveExpiredConnections(float maxAge) {
  LastExpiry = Now();
  std::lock_guard<std::recursive_mutex> guard(Lock);
  Connections.RemoveExpired(maxAge == -1 ? static_cast<float>(ConnectionTimeout.load()) : maxAge);
  // The episode ends once expiry alone keeps the table well below its cap.
  if (FEvicting && Connections.GetCount() < MaxConnections.load() / 2) FEvicting = false;
}

void TServerCluster::MakeRoom() {
  const int32_t cap = std::max<int32_t>(MaxConnections.load(), 1);
  if (Connections.GetCount() < cap) return;
  if (!FEvicting) {
    FEvicting = true;
    GlobalLogger->LogInfoFmt("Affinity table of cluster %s full (%d entries): the oldest entries make room", Name,
                             cap);
  }
  // A tenth at a time, so that a full table does not sort on every request.
  Connections.RemoveOldest(std::max<int32_t>(cap / 10, 1));
}

void TServerCluster::Tick() {
  const TDateTime now = Now();
  if (SecondsSince(now, LastExpiry) > 60) RemoveExpiredConnections(static_cast<float>(ConnectionTimeout.load()));
  if (!Enabled.load()) return;
  if (SecondsSince(now, LastWindowShift) > static_cast<float>(LoadAveragingPeriod.load() / 6)) {
    LastWindowShift = now;
    ShiftLoadWindows();
  }
  if (SecondsSince(now, LastCheck) > static_cast<float>(FailoverCheckInterval.load())) {
    LastCheck = now;
    StartServerChecks(nullptr);
  }
}

void TServerCluster::ShiftLoadWindows() {
  for (const auto& server : Servers) server->ShiftLoadWindow();
}

void TServerCluster::StartServerChecks(TServerCheckWaitList* waitList) {
  IServerCheckStarter* starter = GetServerCheckStarter();
  if (!starter) return;
  // A cluster that no shared_ptr holds (a scratch object) is never checked.
  if (auto self = weak_from_this().lock()) starter->StartServerChecks(self, waitList);
}

bool TServerCluster::HasAvailableServer() const { return GetFirstAvailableServer() != nullptr; }

TServer* TServerCluster::GetFirstAvailableServer() const {
  for (const auto& server : Servers)
    if (server->IsAvailable()) return server.get();
  return nullptr;
}

int TServerCluster::GetEnabledCount() const {
  return static_cast<int>(std::count_if(Servers.begin(), Servers.end(), [](const auto& s) { return s->Enabled.load(); }));
}

float TServerCluster::GetTotalCapacity() const {
  float total = 0;
  for (const auto& server : Servers)
    if (server->Enabled.load()) total += server->Capacity.load();
  return total;
}

float TServerCluster::GetTotalLoad() const {
  float total = 0;
  for (const auto& server : Servers) total += server->GetRecentLoad();
  return total;
}

void TServerCluster::SetConnectionTimeout(int32_t seconds) {
  ConnectionTimeout = seconds <= 0 ? DefaultConnectionTimeout : seconds;
}

void TServerCluster::Retire() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  Connections.Clear();
  for (const auto& server : Servers) server->Retired = true;
  Retired = true;
}

// --------------------------------------------------------- TServerClusterList

const std::shared_ptr<TServerCluster>& TServerClusterList::GetCluster(int index) const {
  CheckIndex(index, Count());
  return items_[index];
}

int TServerClusterList::IndexOf(const TServerCluster* cluster) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == cluster) return static_cast<int>(i);
  return -1;
}

TServerCluster* TServerClusterList::FindByClusterKey(int32_t key) const {
  for (const auto& cluster : items_)
    if (cluster->ClusterKey == key) return cluster.get();
  return nullptr;
}

std::shared_ptr<TServerCluster> TServerClusterList::Add() {
  auto cluster = std::make_shared<TServerCluster>(this);
  items_.push_back(cluster);
  return cluster;
}

void TServerClusterList::Remove(TServerCluster* cluster) {
  const int index = IndexOf(cluster);
  if (index < 0) return;
  cluster->Retire();
  items_.erase(items_.begin() + index);
}

void TServerClusterList::Clear() {
  for (const auto& cluster : items_) cluster->Retire();
  items_.clear();
}

void TServerClusterList::SaveToStream(StreamWriter& w) const {
  w.WriteInteger(Count());
  for (const auto& cluster : items_) cluster->SaveToStream(w);
}

void TServerClusterList::LoadFromStream(StreamReader& r) {
  const int32_t count = r.ReadCount(MinClusterRecordBytes);
  for (int32_t i = 0; i < count; ++i) Add()->LoadFromStream(r);
}

void TServerClusterList::Tick() {
  for (const auto& cluster : items_) cluster->Tick();
}

void TServerClusterList::RemoveExpiredConnections(float maxAge) {
  for (const auto& cluster : items_) cluster->RemoveExpiredConnections(maxAge);
}

int32_t TServerClusterList::GetConnectionCount() const {
  int64_t total = 0;
  for (const auto& cluster : items_) total += cluster->Connections.GetCount();
  return CheckedToInt32(total);
}

void TServerClusterList::CopyServerStats(const TServerClusterList& previous) {
  for (const auto& cluster : items_) {
    const TServerCluster* old = previous.FindByClusterKey(cluster->ClusterKey);
    if (!old) continue;
    for (const auto& server : cluster->Servers)
      if (const TServer* oldServer = old->Servers.FindByKey(server->UniqueServerKey)) server->CopyStatsFrom(*oldServer);
  }
}

void TServerClusterList::PackConnections(TPackedConnectionList& list) const {
  list.Clear();
  for (const auto& cluster : items_) {
    std::lock_guard<std::recursive_mutex> guard(cluster->Lock);
    for (const TLoadBalancedConnection* entry : cluster->Connections.GetList()) {
      const TServer* server = entry->Server();
      if (!server || !server->IsAvailable()) continue;
      list.Items.push_back({cluster->ClusterKey, entry->ClientKey, server->UniqueServerKey, entry->LastUse});
    }
  }
}

void TServerClusterList::RestoreConnections(const TPackedConnectionList* list) {
  Assert(list != nullptr, "APackedConnectionList must be assigned");
  for (const TPackedConnection& packed : list->Items) {
    TServerCluster* cluster = FindByClusterKey(packed.ClusterKey);
    if (!cluster) continue;
    std::lock_guard<std::recursive_mutex> guard(cluster->Lock);
    TServer* server = cluster->Servers.FindByKey(packed.ServerKey);
    // A key is held once: the first packed entry for it wins.
    if (!server || cluster->Connections.Find(packed.ClientKey)) continue;
    auto entry = std::make_unique<TLoadBalancedConnection>();
    entry->ClientKey = packed.ClientKey;
    entry->SetServer(server);
    entry->LastUse = packed.LastUse;
    cluster->Connections.Add(std::move(entry));
  }
}

void TServerClusterList::TakeStateFrom(const TServerClusterList& old) {
  TPackedConnectionList packed;
  old.PackConnections(packed);
  RestoreConnections(&packed);
  // After the restore, so that the carried counters are the old totals and
  // not those plus the restored sessions.
  for (const auto& cluster : items_) {
    const TServerCluster* oldCluster = old.FindByClusterKey(cluster->ClusterKey);
    if (!oldCluster) continue;
    cluster->LastWindowShift = oldCluster->LastWindowShift.load();
    cluster->LastCheck = oldCluster->LastCheck.load();
    cluster->LastExpiry = oldCluster->LastExpiry.load();
    for (const auto& server : cluster->Servers)
      if (const TServer* oldServer = oldCluster->Servers.FindByKey(server->UniqueServerKey))
        server->TakeStateFrom(*oldServer);
  }
}

void TServerClusterList::SaveConnectionsToFile(const std::string& fileName) const {
  TPackedConnectionList list;
  PackConnections(list);
  StreamWriter w;
  list.SaveToStream(w);
  // The old file stays until the new one is complete.
  WriteFileReplacing(fileName, w.Bytes());
}

void TServerClusterList::LoadConnectionsFromFile(const std::string& fileName) {
  if (!FileExists(fileName)) return;
  const std::vector<uint8_t> bytes = ReadFileBytes(fileName);
  StreamReader r(bytes);
  TPackedConnectionList list;
  list.LoadFromStream(r);
  RestoreConnections(&list);
}
