// The affinity table of one cluster: which server a client key is bound to.
// A table belongs to one cluster and is used only under that cluster's Lock;
// its entries point at servers of the same cluster, which outlive them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/DateTime.h"

class TServer;

// Number of affinity entries of the process.
extern std::atomic<int32_t> LBConnectionCount;

// One affinity entry.
class TLoadBalancedConnection {
 public:
  TLoadBalancedConnection();  // LastUse := now
  ~TLoadBalancedConnection();  // releases its server's session
  TLoadBalancedConnection(const TLoadBalancedConnection&) = delete;
  TLoadBalancedConnection& operator=(const TLoadBalancedConnection&) = delete;

  int32_t ClientKey = 0;
  TDateTime LastUse;
  TServer* Server() const { return server_; }

  // Seconds since LastUse.
  float GetConnectionAge() const { return GetConnectionAge(Now()); }
  float GetConnectionAge(TDateTime now) const;
  // Moves the entry to Server (none allowed), counting one more session on it.
  void SetServer(TServer* server);
  std::string GetClientIP() const;
  void SetClientIP(const std::string& text);

 private:
  TServer* server_ = nullptr;
};

// Client key -> entry, each key at most once.
class TLoadBalancedConnectionHandlerBucketList {
 public:
  TLoadBalancedConnectionHandlerBucketList() = default;
  ~TLoadBalancedConnectionHandlerBucketList() { Clear(); }
  TLoadBalancedConnectionHandlerBucketList(const TLoadBalancedConnectionHandlerBucketList&) = delete;
  TLoadBalancedConnectionHandlerBucketList& operator=(const TLoadBalancedConnectionHandlerBucketList&) = delete;

  // Takes ownership; false (and the entry is freed) when the key is taken.
  bool Add(std::unique_ptr<TLoadBalancedConnection> entry);
  // Frees the entry of Key, if any.
  void Remove(int32_t clientKey);
  // Frees every entry.
  void Clear();
  // Frees every entry older than MaxAge seconds.
  void RemoveExpired(float maxAge);
  // Frees the Count least recently used entries.
  void RemoveOldest(int32_t count);
  int32_t GetCount() const { return FCount.load(std::memory_order_relaxed); }
  TLoadBalancedConnection* Find(int32_t clientKey) const;
  // Every entry, in the table's walking order; the table keeps them.
  std::vector<TLoadBalancedConnection*> GetList() const;

 private:
  std::unordered_map<int32_t, std::unique_ptr<TLoadBalancedConnection>> table_;
  std::atomic<int32_t> FCount{0};  // read by the consoles without the cluster Lock
};
