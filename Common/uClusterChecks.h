// Health checks of the servers of a cluster: which servers a round checks,
// with which settings, and how a result moves a server online or offline.
//
// A check keeps its cluster and server alive (shared_ptr) from its start to
// the end of its result, and holds the server's Lock from just before the
// test until the result is applied, so overlapping checks of one server run
// one after the other. A result for a server or cluster that a reload or an
// edit retired meanwhile is dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TServer;
class TServerCluster;
class TServerClusterList;
class TServerCheckWaitList;

// Makes the cluster tick start health checks (once, before the engine runs).
void InstallServerChecks();

// One round of checks of Cluster: every server that is enabled or has a
// capacity gets a check. With a wait list the checks end after one test and
// are added to it; without one they run on pooled threads and free
// themselves.
void StartServerChecks(const std::shared_ptr<TServerCluster>& cluster, TServerCheckWaitList* waitList);

// Connect and read time-out of a cluster's checks in ms:
// FailoverCheckInterval seconds less one second.
int32_t ServerCheckTimeoutMs(const TServerCluster& cluster);

// Applies one finished check of Server (whose Lock the caller holds): the
// online state, the last message and the event-log lines.
void ApplyServerCheckResult(TServerCluster& cluster, TServer& server, uint8_t status,
                            const std::string& statusText);
