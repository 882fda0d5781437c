#include "Common/uLoadBalancedConnections.h"

#include <algorithm>

#include "Common/uGuardedCounter.h"
#include "Common/uLoadBalancingClasses.h"

std::atomic<int32_t> LBConnectionCount{0};

TLoadBalancedConnection::TLoadBalancedConnection() : LastUse(Now()) {
  IncrementGuarded(LBConnectionCount, "LBConnectionCount");
}

TLoadBalancedConnection::~TLoadBalancedConnection() {
  DecrementGuarded(LBConnectionCount);
  if (server_) server_->ActiveSessions.fetch_sub(1, std::memory_order_relaxed);
}

float TLoadBalancedConnection::GetConnectionAge(TDateTime now) const {
  return static_cast<float>((now - LastUse) * 86400.0);
}

void TLoadBalancedConnection::SetServer(TServer* server) {
  if (server) {
    server->LastNewRequest = Now();
    server->ActiveSessions.fetch_add(1, std::memory_order_relaxed);
    server->TotalSessions.fetch_add(1, std::memory_order_relaxed);
  }
  if (server_) server_->ActiveSessions.fetch_sub(1, std::memory_order_relaxed);
  server_ = server;
}

std::string TLoadBalancedConnection::GetClientIP() const { return IntToIP(ClientKey); }

void TLoadBalancedConnection::SetClientIP(const std::string& text) { ClientKey = IPToInt(text); }

bool TLoadBalancedConnectionHandlerBucketList::Add(std::unique_ptr<TLoadBalancedConnection> entry) {
  const int32_t key = entry->ClientKey;
  if (!table_.try_emplace(key, std::move(entry)).second) return false;
  IncrementGuarded(FCount, "FCount");
  return true;
}

void TLoadBalancedConnectionHandlerBucketList::Remove(int32_t clientKey) {
  if (table_.erase(clientKey) > 0) DecrementGuarded(FCount);
}

void TLoadBalancedConnectionHandlerBucketList::Clear() {
  FCount = 0;
  table_.clear();
}

void TLoadBalancedConnectionHandlerBucketList::RemoveExpired(float maxAge) {
  const TDateTime now = Now();
  std::vector<int32_t> expired;
  for (const auto& [key, entry] : table_)
    if (entry->GetConnectionAge(now) > maxAge) expired.push_back(key);
  for (int32_t key : expired) Remove(key);
}

void TLoadBalancedConnectionHandlerBucketList::RemoveOldest(int32_t count) {
  if (count <= 0) return;
  std::vector<std::pair<TDateTime, int32_t>> byAge;
  byAge.reserve(table_.size());
  for (const auto& [key, entry] : table_) byAge.emplace_back(entry->LastUse, key);
  const size_t n = std::min(byAge.size(), static_cast<size_t>(count));
  std::nth_element(byAge.begin(), byAge.begin() + static_cast<std::ptrdiff_t>(n), byAge.end());
  for (size_t i = 0; i < n; ++i) Remove(byAge[i].second);
}

TLoadBalancedConnection* TLoadBalancedConnectionHandlerBucketList::Find(int32_t clientKey) const {
  auto it = table_.find(clientKey);
  return it == table_.end() ? nullptr : it->second.get();
}

std::vector<TLoadBalancedConnection*> TLoadBalancedConnectionHandlerBucketList::GetList() const {
  std::vector<TLoadBalancedConnection*> list;
  list.reserve(table_.size());
  for (const auto& [key, entry] : table_) list.push_back(entry.get());
  return list;
}
