// The request loop of TClientThread: head reading, matching, the back-end
// connection, the response head and the counters. The body relay lives in
// uClientThreadTransfer.cpp, the direct replies and log lines in
// uClientThreadReplies.cpp.
#include "Common/uClientThread.h"

#include <algorithm>
#include <optional>

#include "Common/uDirectReplies.h"
#include "Common/uDomainHandler.h"
#include "Common/uGuardedCounter.h"
#include "Common/uLoadBalancingClasses.h"
#include "Common/uResponseFraming.h"
#include "Common/uStatHolder.h"
#include "platform/DateTime.h"
#include "platform/RWLock.h"
#include "platform/TcpErrors.h"

// Each changes with every connection or request: a cache line each.
alignas(64) std::atomic<int32_t> TClientThreadCount{0};
alignas(64) std::atomic<int32_t> ActiveThreads{0};
alignas(64) std::atomic<int32_t> KeepAliveWaiters{0};
alignas(64) std::atomic<int32_t> ActiveTransfers{0};

const char* ExceptionClassName(const std::exception& e) {
  if (const auto* ex = dynamic_cast<const Exception*>(&e)) return ex->ClassName();
  return "Exception";
}

bool RoadOverloaded(const TStatHolder& stats) { return ActiveThreads.load() >= stats.PoolSize.load(); }

int HandshakeTimeoutMs(const TRoadLimits& limits, const TStatHolder& stats) {
  return RoadOverloaded(stats) ? limits.BusyHandshakeMs : limits.HandshakeMs;
}

namespace {

// A long body reaches the shared counters per MiB, not only at its end.
constexpr int64_t kFoldBytes = 1 << 20;

bool EngineStopping(const TStatHolder* stats) {
  if (stats == nullptr) return false;
  const uint8_t state = stats->ServerState.load();
  return state == ssStopping || state == ssStopped;
}

template <class T>
bool Is(const std::exception& e) {
  return dynamic_cast<const T*>(&e) != nullptr;
}

// A request line of one or two words whose method is GET: a request of the
// oldest protocol, which has no header lines and gets a bare body back.
bool IsBareGet(std::string_view line) {
  const size_t first = line.find(' ');
  if (!SameText(line.substr(0, first), "GET")) return false;
  return first == std::string_view::npos || line.find(' ', first + 1) == std::string_view::npos;
}

// Holds a process-wide counter up by one for the lifetime of the guard.
class CounterHold {
 public:
  explicit CounterHold(std::atomic<int32_t>& counter) : counter_(counter) { counter_.fetch_add(1); }
  ~CounterHold() { counter_.fetch_sub(1); }
  CounterHold(const CounterHold&) = delete;
  CounterHold& operator=(const CounterHold&) = delete;

 private:
  std::atomic<int32_t>& counter_;
};

}  // namespace

TClientThread::TClientThread() {
  MatchData = &FMatch;
  RequestHeader = &FRequestHead;
  IncrementGuarded(TClientThreadCount, "TClientThreadCount");
}

TClientThread::~TClientThread() {
  DisconnectServer();
  if (Stats != nullptr && FFirstConnect == 0) Stats->LiveConnections.fetch_sub(1);
  DecrementGuarded(TClientThreadCount);
}

void TClientThread::RegisterConnection() {
  if (FFirstConnect != 1 || Stats == nullptr) return;
  FConnectionNumber = Stats->LiveConnections.fetch_add(1);
  FFirstConnect = 0;
}

void TClientThread::BeforeRun() {
  FPostDone = 1;
  if (Stats != nullptr && EngineStopping(Stats)) {
    Stop();
    return;
  }
  PeerThread::BeforeRun();
  Client().SetOnDisconnected([this] { ClientDisconnected(); });
}

void TClientThread::ClientDisconnected() {
  // While a request body is relayed the back end must still get all of it.
  if (FPostDone == 1 && FServerConnection.KnownConnected()) FServerConnection.Disconnect();
}

void TClientThread::Terminate() {
  FServerConnection.Disconnect();
  PeerThread::Terminate();
}

void TClientThread::Cleanup() {
  FoldBytes();
  DisconnectServer();
  PeerThread::Cleanup();
}

void TClientThread::DoException(const Exception& e) {
  PeerThread::DoException(e);
  if (!IsReportableException(e)) return;
  LogInfoFmt("Exception killed thread:%s", e.Message());
  LogSummaries();
}

bool TClientThread::IsReportableException(const std::exception& e) {
  if (Is<EIdSilentException>(e) || Is<EAbort>(e)) return false;
  if (Is<EIdSocketError>(e)) return !IsConnectionReset(e);
  return true;
}

void TClientThread::Disconnect(bool report) {
  // The look only tells the log line; without one the back end is closed unseen.
  const bool serverWasConnected = report && FServerConnection.Connected();
  DisconnectServer();
  if (serverWasConnected) LogInfo("Disconnected Server");
  TcpConnection* client = Connection();
  if (client != nullptr && client->Connected()) {
    client->Disconnect();
    if (report) LogInfo("Disconnected Client");
  }
}

bool TClientThread::BackendClosed() {
  // Only the back end's own close counts, not the switch's.
  return !FServerConnection.Connected() && FServerConnection.ClosedGracefully();
}

bool TClientThread::EndServerConnection() {
  if (!FServerConnection.Connected()) return false;
  DisconnectServer();
  return true;
}

std::string TClientThread::GetStatusText() {
  TcpConnection* client = Connection();
  const bool serverConnected = FServerConnection.KnownConnected();
  const bool clientConnected = client != nullptr && client->KnownConnected();
  std::lock_guard<std::mutex> guard(FStatusLock);
  return Format("Id=%d, Server=%s, Client=%s, Status=%s", FConnectionNumber.load(),
                serverConnected ? FStatusServerHost : std::string("Disconnected"),
                clientConnected ? FStatusClientIP : std::string("Disconnected"), FStatusText);
}

// ------------------------------------------------------------ request loop

bool TClientThread::ShouldStop() {
  if (EngineStopping(Stats) || Stopped() || Terminated()) return true;
  TcpConnection* client = Connection();
  return client == nullptr || !client->Connected();
}

void TClientThread::HandleConnection() {
  {
    TDomainHandler& handler = *Stats->DomainHandler;
    ReadLockGuard lock(handler.Synchronizer);
    MatchData->LogFlags = handler.LogOptions;
  }
  if (ShouldStop()) return;

  // Every wait on either side notices the thread's end, and a peer that
  // takes nothing for the idle limit ends the connection.
  const StopCheck stop = [this] { return Stopped() || Terminated(); };
  Client().SetWriteTimeout(Limits.IdleLimitMs);
  Client().SetStopCheck(stop);
  FServerConnection.SetStopCheck(stop);
  FServerConnection.SetReadTimeout(Limits.IdleLimitMs);
  FServerConnection.SetWriteTimeout(Limits.IdleLimitMs);
  FServerConnection.SetMaxLineLength(Limits.MaxLineLength);

  bool first = true;
  bool counted = false;
  bool timedOut = false;
  bool leave = false;
  std::string endMessage;
  FRequestId = Stats->TakeRequestId();

  try {
    ResetRequest();
    do {
      ClearHeaders();
      counted = false;
      ++FRequestCount;
      try {
        try {
          ReadRequestHeader(!first);
          StartTimer();
        } catch (const std::exception& e) {
          Client().Disconnect();
          DisconnectServer();
          endMessage = Format("Client Exception %s:%s", ExceptionClassName(e), StringReplaceAll(e.what(), "\r\n", " "));
          const bool quiet = Is<EExceptionHeaderTimedOut>(e) || Is<EIdConnClosedGracefully>(e) ||
                             Is<EIdReadTimeout>(e) || Is<EIdClosedSocket>(e) || Is<EIdSocketError>(e);
          if (first || !quiet) throw;
          timedOut = Is<EExceptionHeaderTimedOut>(e);
          leave = true;
        }
        if (!leave) leave = !ServeRequest(counted);
      } catch (...) {
        FinishTurn(counted, timedOut, endMessage);
        throw;
      }
      FinishTurn(counted, timedOut, endMessage);
      if (leave) break;
      first = false;
    // A back end that closed after the response ends the client connection
    // too (after a plain body the relay's look has just answered this).
    } while (!ShouldStop() && FCloseConnection == 0 && FServerConnection.Connected());
    if (!leave) LogWhyStopped(counted);
  } catch (const std::exception& e) {
    LogWhyStopped(counted);
    if (IsReportableException(e)) {
      LogInfoFmt("Exception in HandleConnection from %s", FClientIP);
      LogInfo(RequestHeader->GetLogText());
      LogInfo(ResponseHeader->GetLogText());
      LogInfo(e.what());
      leave = true;
    }
  }
  if (leave) {
    Leave();
  } else {
    EndNormally();
  }
}

// The steps of one request after its head was read; false ends the
// connection (the switch answered itself, or the request failed).
bool TClientThread::ServeRequest(bool& counted) {
  Stats->TotalRequests.fetch_add(1);
  if (FServerStats) FServerStats->AddRequest();
  counted = true;

  // A head whose framing the switch cannot relay safely is refused before
  // anything acts on it.
  if (!RequestHeader->Refusal.empty()) {
    SendStatusReply(RequestHeader->Refusal);
    return false;
  }

  DetermineTargetMachine();
  if (FNonMatchingRequest == 1) {
    HandleNonMatchingRequest();
    return false;
  }

  RemoveVTHeaders = Stats->RemoveVTHeaders.load();
  LogRequestHeaders = Stats->LogRequestHeaders.load();
  RequestHeader->Update();
  LogRequest();
  if (RequestHeader->HopCount >= 10) {
    HandleCircularReference();
    return false;
  }

  bool reused = OpenServerConnection(false);
  uint64_t sendTick = GetTickCount64();
  while (true) {
    FResponseStarted = false;
    FBodyBytesSent = 0;
    try {
      // A body that goes at once sends its first bytes in one send with the
      // head (see TransferPostData); one that waits for the back end's
      // "100 Continue" must not hold the head back.
      RequestHeader->Updated.GetTextStr(FHeadText);
      if (RequestHeader->ContentLength > 0 && !RequestHeader->ExpectsContinue) {
        FServerConnection.OpenWriteBuffer(static_cast<int>(FHeadText.size()) + kWriteBufferThreshold);
      }
      FServerConnection.Write(FHeadText);
    } catch (const std::exception& e) {
      if (reused && RetryOnFreshConnection(e)) {
        reused = false;
        continue;
      }
      if (IsReportableException(e)) {
        LogInfo(std::string("Failed to send requestheader to server : ") + e.what());
        LogInfo(RequestHeader->GetLogText());
      }
      return false;
    }
    try {
      HandleResponseHeader();
      break;
    } catch (const std::exception& e) {
      if (!reused || !RetryOnFreshConnection(e)) throw;
      reused = false;
    }
  }
  RecordResponseTime(sendTick);

  if (!Client().Connected()) {
    LogInfo("Client closed before receiving responseheader");
    LogSummaries();
    return false;
  }
  if (TransferMethod == TTransferMethod::None) {
    SendResponseHeader(false);
  } else {
    TransferResponse();
  }
  return true;
}

void TClientThread::FinishTurn(bool counted, bool timedOut, const std::string& endMessage) {
  FoldBytes();
  if (counted) {
    WriteW3CLogEntry();
  } else if (timedOut) {
    LogDetailFmt("Closing Keep-Alive connection - timeout %s", endMessage);
  } else {
    LogDetail(endMessage);
  }
}

void TClientThread::LogWhyStopped(bool counted) {
  if (!ShouldStop()) return;
  if (Terminated() || Stopped()) LogInfo("Thread was terminated while handling request");
  TcpConnection* client = Connection();
  if (client == nullptr) {
    LogInfo("Connection no longer assinged");
  } else if (!client->Connected() && counted) {
    if (Stats->ServerState.load() == ssStopping) {
      LogInfo("Connection terminated - server closing down");
    } else {
      LogDetail("Receiver closed connection");
    }
  }
}

void TClientThread::Leave() {
  Disconnect(false);
  if (!Stopped() && !Terminated()) Stop();
}

void TClientThread::EndNormally() {
  try {
    Leave();
    LogDetail("Connection ended");
    Disconnect(true);
    if (!Stopped() && !Terminated()) Stop();
  } catch (const std::exception& e) {
    if (IsReportableException(e)) {
      LogInfo(std::string("Exception in HandleConnection : ") + e.what());
      LogSummaries();
    }
  }
}

void TClientThread::LogSummaries() { LogInfo(RequestHeader->GetLogText() + "\r\n" + ResponseHeader->GetLogText()); }

void TClientThread::ResetRequest() {
  if (Terminated()) return;
  RequestHeader->Raw.Clear();
  ResponseHeader->Raw.Clear();
  FClientIP = Client().PeerIP();
  FLocalPort = Client().LocalPort();
  FLocalIP = Client().LocalIP();
  {
    std::lock_guard<std::mutex> guard(FStatusLock);
    FStatusClientIP = FClientIP;
  }
  MatchData->Reset();
  FBytesFromServer = 0;
  FBlocksTransferred = 0;
  // A pooled thread starts every connection afresh: its first request is
  // counted on no server, domain or path of an earlier connection.
  FServerStats.reset();
  FDomain = nullptr;
  FVirtualPath = nullptr;
  FSessionKey = 0;
  FRequestCount = 0;
}

void TClientThread::ClearHeaders() {
  // A head of a few KiB is the rule; the storage of a huge one is let go.
  if (FHeadText.capacity() > kKeptHeadBytes) std::string().swap(FHeadText);
  ResponseHeader->Clear();
  RequestHeader->Clear();
  MatchData->Reset();
  FBytesOut = 0;
  FBytesIn = 0;
  FBytesFromServer = 0;
  FBlocksTransferred = 0;
}

void TClientThread::StartTimer() {
  FStartTick = GetTickCount64();
  FPerfStart = std::chrono::steady_clock::now();
}

double TClientThread::ElapsedMs() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - FPerfStart).count();
}

// ------------------------------------------------------------ head reading

void TClientThread::ReadRequestHeader(bool waitingForKeepAlive) {
  std::optional<CounterHold> waiter;
  if (waitingForKeepAlive) {
    waiter.emplace(KeepAliveWaiters);
    FWaitingForKeepAlive = 1;
  }
  struct ResetFlag {
    std::atomic<uint8_t>& flag;
    ~ResetFlag() { flag = 0; }
  } resetFlag{FWaitingForKeepAlive};
  const bool whole = ReadHeader(Client(), RequestHeader->Raw, true);
  RequestHeader->Parse();
  if (!whole) RequestHeader->Refusal = "400 Bad Request";
}

bool TClientThread::ReadHeader(TcpConnection& connection, THTTPHeaders& lines, bool isRequest) {
  lines.Clear();
  uint64_t headStart = 0;
  uint64_t now = 0;
  int blankLines = 0;
  // The head's bytes are counted once, when the head ends (also by an
  // error), rather than per line: each count takes the configuration's lock.
  int64_t headBytes = 0;
  const auto countHead = [&] {
    if (headBytes == 0) return;
    const int64_t n = headBytes;
    headBytes = 0;
    AddBytes(!isRequest, n);
  };
  int64_t total = 0;
  // A back end that stalls inside its head is held to the idle limit too.
  const uint64_t headLimit =
      isRequest ? Limits.HeadLimitMs : std::min<uint64_t>(Limits.HeadLimitMs, static_cast<uint64_t>(Limits.IdleLimitMs));
  // Each line is read straight into storage the head kept from its last
  // lines.
  std::string line = lines.SpareLine();
  try {
    while (true) {
      if (!connection.Connected() || Terminated() || Stopped()) throw EExceptionHeaderHungUp();
      bool timedOut = false;
      ReadHeadLine(connection, line, headStart, now, timedOut, headLimit);
      if (timedOut) throw EExceptionHeaderTimedOut();
      if (!isRequest) FResponseStarted = true;
      headBytes = CheckedAdd64(headBytes, static_cast<int64_t>(line.size()) + 2);
      total = CheckedAdd64(total, static_cast<int64_t>(line.size()) + 2);
      // A peer that trickles lines is held to the same limits as one that
      // trickles bytes.
      if (HeadWaitOver(now - headStart, true, headLimit)) throw EExceptionHeaderTimedOut();
      if (total > Limits.MaxHeadBytes) {
        countHead();
        LogInfoFmt("Head too large (%d bytes in %d lines)", total, lines.Count());
        return false;
      }

      if (line.empty()) {
        if (!lines.Empty()) {
          headBytes += 2;
          countHead();
          return true;
        }
        // A few blank lines before the first line are tolerated, no more.
        if (++blankLines > Limits.MaxLeadingBlankLines) {
          LogDetail("Too many empty lines before the head");
          throw EAbort();
        }
        continue;
      }
      lines.Add(std::move(line));
      line = lines.SpareLine();
      if (isRequest && lines.Count() == 1 && IsBareGet(lines[0])) {
        countHead();
        return true;
      }
      if (lines.Count() > Limits.MaxHeadLines) {
        countHead();
        LogInfoFmt("Too many headers in request (%d lines of %d bytes)", lines.Count(),
                   static_cast<int64_t>(lines.TStringList::Text().size()));
        LogSummaries();
        connection.Disconnect();
        throw EAbort();
      }
    }
  } catch (...) {
    countHead();
    throw;
  }
}

// After a read step without a whole line, or (Arriving) after a line: a head
// that is arriving is no longer a keep-alive wait.
bool TClientThread::HeadWaitOver(uint64_t elapsed, bool arriving, uint64_t limit) {
  if (elapsed >= limit) return true;
  if (RoadOverloaded(*Stats)) {
    const int32_t active = ActiveThreads.load();
    const int32_t allowed = Stats->PoolSize.load();
    if (FWaitingForKeepAlive == 1 && !arriving) {
      LogDetailFmt("KeepAlive stopped due to heavy server load, %d active threads, %d allowed", active, allowed);
      return true;
    }
    if (elapsed > Limits.SlowHeadMs) {
      LogDetail("Slow read header terminated");
      return true;
    }
  }
  if (EngineStopping(Stats)) {
    LogInfo("Server stopping, connection terminated");
    return true;
  }
  return false;
}

// One head line in steps of ReadStepMs, so that a stop, an overload or a
// slow peer is noticed between steps. A partial line stays buffered. A line
// already at hand reads no clock: a head that came in one piece costs one
// reading, one that had to be waited for one per wait (two for its first).
void TClientThread::ReadHeadLine(TcpConnection& connection, std::string& line, uint64_t& headStart, uint64_t& now,
                                 bool& timedOut, uint64_t limit) {
  timedOut = false;
  if (connection.LineBuffered()) {
    connection.ReadLnInto(line, "\n", 0);
    if (headStart == 0) headStart = now = GetTickCount64();
    return;
  }
  // Only the wait for the head's first byte counts from the line's start.
  const uint64_t lineStart = headStart == 0 ? GetTickCount64() : 0;
  uint64_t stepStart = lineStart;
  while (true) {
    // Until a kept connection's next request begins, the back end is looked
    // at in shorter steps: a close of its own soon ends the client
    // connection too, before a request comes. The other rules keep theirs.
    const bool watchBackend = FWaitingForKeepAlive == 1 && headStart == 0;
    connection.ReadLnInto(line, "\n",
                          watchBackend ? std::min(Limits.ReadStepMs, Limits.BackendLookMs) : Limits.ReadStepMs);
    now = GetTickCount64();
    if (!connection.ReadLnTimedOut()) {
      if (headStart == 0) headStart = now;
      return;
    }
    // The limits count from the head's first byte, not from each line; until
    // that byte comes, the wait for the head is what counts.
    if (headStart == 0 && connection.InputBufferSize() > 0) headStart = now;
    if (watchBackend && headStart == 0) {
      if (BackendClosed()) throw EIdConnClosedGracefully();
      if (now - stepStart < static_cast<uint64_t>(Limits.ReadStepMs)) continue;
    }
    stepStart = now;
    if (HeadWaitOver(now - (headStart != 0 ? headStart : lineStart), false, limit)) break;
  }
  timedOut = true;
}

// ------------------------------------------------------------ target

void TClientThread::DetermineTargetMachine() {
  TRequestHeader& r = *RequestHeader;
  TRequestMatchData& m = *MatchData;
  m.Setup(r.Host, FLocalIP, static_cast<int32_t>(FSessionKey), FClientIP, r.Document, FLocalPort);
  TDomainHandler& handler = *Stats->DomainHandler;
  {
    // A reload replaces the settings under the write lock. The bytes so far
    // (this request's head among them) go to the records of the last match,
    // as they always have, before the match replaces them.
    ReadLockGuard lock(handler.Synchronizer);
    FoldBytes(true);
    // Stored only when it changes: a store per request would take the
    // shared line from every other reader.
    if (Stats->RemoveVTHeaders.load(std::memory_order_relaxed) != handler.RemoveVTHeaders) {
      Stats->RemoveVTHeaders = handler.RemoveVTHeaders;
    }
    handler.MatchRequest(m);
  }
  FSessionKey = static_cast<uint32_t>(m.SessionValue);
  FVirtualPath = m.VirtualPath;
  FDomain = m.Domain;
  if (m.Server) FServerStats = m.Server->Stats;

  if (ContainsText(r.UserAgent, "dts agent")) {
    m.Status = rmsForbidden;
    FNonMatchingRequest = 1;
    LogInfoFmt("Refused access by DTS Agent : Host=%s, Doc=%s, Port=%d, CallerIP=%s", r.HostWithPort, r.Document,
               FLocalPort, FClientIP);
    return;
  }

  if (const TServerChoiceFailure* failure = FindServerChoiceFailure(m.LBStatus)) {
    LogInfo(Format(failure->LogFormat, FClientIP, m.ServerClusterName));
    LogSummaries();
    SendReply(ServerChoiceFailureReply(r.Version, failure->ReplyText));
    throw EAbort();
  }
  if (m.LBStatus == LBStatus::NewConnection) {
    Stats->FTotalLBConnections.fetch_add(1);
  } else if (m.LBStatus == LBStatus::OldUpdatedConnection) {
    Stats->FTotalLBConnections.fetch_add(1);
    LogInfoFmt("Old Load Balancing connection updated: Client %s to Server %s:%d, Cluster=%s", FClientIP,
               m.TargetHost, m.TargetPort, m.ServerClusterName);
  }

  FNonMatchingRequest = 0;
  const auto notForwarded = [&](const char* fmt) {
    LogInfoFmt(fmt, r.HostWithPort, r.Document, FLocalPort, FClientIP);
    FNonMatchingRequest = 1;
  };
  switch (m.Status) {
    case rmsNotProcessed: notForwarded("Request not processed. Host=%s, Doc=%s, Port=%d, CallerIP=%s"); break;
    case rmsUnfilled: notForwarded("Unmatched request, killed connection. Host=%s, Doc=%s, Port=%d, CallerIP=%s"); break;
    case rmsRefusedByIPRestrictor: notForwarded("Request REFUSED. Host=%s, Doc=%s, Port=%d, CallerIP=%s"); break;
    case rmsRefusedByIPRestrictorVPath: notForwarded("Request REFUSED VPath. Host=%s, Doc=%s, Port=%d, CallerIP=%s"); break;
    case rmsRedirect:
    case rmsRedirectHTTPS: notForwarded("Request will be redirected Host=%s, Doc=%s, Port=%d, CallerIP=%s"); break;
    case rmsFilledVPath:
      // Only the bare virtual path itself is redirected, to its folder form.
      if (m.Path.size() == m.MatchedPath.size()) {
        notForwarded("Request will be redirected Host=%s, Doc=%s/, Port=%d, CallerIP=%s");
      }
      break;
    default: break;
  }
}

// A kept back-end connection may have been closed by the back end just as
// the request went out. When nothing of the response came and no byte of
// the body was sent, the request goes once more on a new connection.
bool TClientThread::RetryOnFreshConnection(const std::exception& e) {
  if (Stopped() || Terminated()) return false;
  if (FResponseStarted || FBodyBytesSent > 0 || FServerConnection.InputBufferSize() > 0) return false;
  const bool closed = Is<EExceptionHeaderHungUp>(e) || Is<EIdConnClosedGracefully>(e) || Is<EIdClosedSocket>(e) ||
                      (Is<EIdSocketError>(e) && IsConnectionReset(e));
  if (!closed) return false;
  LogDetail("Kept server connection was closed, request sent again on a new one");
  OpenServerConnection(true);
  return true;
}

// True when a kept connection is used; Fresh always opens a new one.
bool TClientThread::OpenServerConnection(bool fresh) {
  const TRequestMatchData& m = *MatchData;
  // A domain without a target address serves from this machine.
  const std::string host = m.TargetHost.empty() ? std::string("127.0.0.1") : m.TargetHost;
  TcpClient& server = FServerConnection;
  bool reuse = !fresh && server.Port() == m.TargetPort && server.Host() == host && server.KnownConnected();
  if (reuse) {
    // One look without waiting: a close, or bytes that came after the last
    // response, before this request was sent (they answer nothing of ours),
    // and the connection is not reused.
    try {
      server.ReadFromStack(0);
      reuse = server.InputBufferSize() == 0 && server.KnownConnected();
    } catch (const std::exception&) {
      reuse = false;
    }
  }
  if (!reuse) {
    DisconnectServer();
    server.SetHost(host);
    server.SetPort(m.TargetPort);
    {
      std::lock_guard<std::mutex> guard(FStatusLock);
      FStatusServerHost = host;
    }
    server.Connect(Limits.ConnectTimeoutMs);
    // The connection counts on the server it was opened for until it closes.
    FConnectedServer = m.Server;
    if (FConnectedServer) FConnectedServer->OnBackendConnected();
  }
  // Connected() or Connect() has just looked at the socket.
  if (!server.KnownConnected()) Assert(false, Format("Connection to %s:%d failed!", host, m.TargetPort).c_str());
  return reuse;
}

void TClientThread::DisconnectServer() {
  FServerConnection.Disconnect();
  if (FConnectedServer) {
    FConnectedServer->OnBackendDisconnected();
    FConnectedServer.reset();
  }
}

void TClientThread::HandleResponseHeader() {
  if (!RequestHeader->IsEmpty()) {
    ReadResponseHead();
    ResponseHeader->Parse();
    ResponseHeader->Update();
  }
  DetermineTransferMethod();
}

// Reads heads from the back end up to the final one, forwarding interim
// ones. A request body goes first, unless the client asked to hear from the
// back end before it sends it ("Expect: 100-continue"): then it follows the
// first interim head, and after a final one it is never forwarded, so a
// back end that answered early never reads the body as a request of its own.
void TClientThread::ReadResponseHead() {
  TRequestHeader& r = *RequestHeader;
  bool bodyPending = r.ContentLength > 0;
  if (bodyPending && !r.ExpectsContinue) {
    TransferPostData();
    bodyPending = false;
  }
  THTTPHeaders& raw = ResponseHeader->Raw;
  for (int heads = 0;; ++heads) {
    if (heads > Limits.MaxHeadLines) throw EInvalidHead("Too many interim responses");
    if (!ReadHeader(FServerConnection, raw, false)) throw EInvalidHead("Response head too large");
    const int status = ParseStatusLine(raw[0]);
    if (status < 0) throw EInvalidHead("Malformed status line: " + raw[0].substr(0, 80));
    for (int i = 1; i < raw.Count(); ++i) {
      const std::string& line = raw[i];
      if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) throw EInvalidHead("Folded line in a response head");
    }
    const TResponseFraming framing = DecideResponseFraming(r.Method, r.Version, status, {});
    if (framing.Body == TResponseBody::Refused) throw EInvalidHead("Protocol switch refused");
    if (framing.Body != TResponseBody::Interim) break;
    if (framing.ForwardInterim) {
      raw.GetTextStr(FHeadText);
      Client().Write(FHeadText);
    }
    if (bodyPending) {
      TransferPostData();
      bodyPending = false;
    }
  }
  // The client may still be sending the body the back end did not want:
  // the connection cannot carry a further request.
  if (bodyPending) r.ForcedClose = true;
}

void TClientThread::RecordResponseTime(uint64_t sendTick) {
  if (FServerStats) FServerStats->AddResponseTime(static_cast<int64_t>(GetTickCount64() - sendTick));
}

// ------------------------------------------------------------ counters

void TClientThread::AddBytes(bool outgoing, int64_t count) {
  FTotalBytes = CheckedAdd64(FTotalBytes, count);
  if (outgoing) {
    FBytesOut = CheckedAdd64(FBytesOut, count);
  } else {
    FBytesIn = CheckedAdd64(FBytesIn, count);
  }
  FUnfoldedBytes = CheckedAdd64(FUnfoldedBytes, count);
  if (FUnfoldedBytes >= kFoldBytes) FoldBytes();
}

void TClientThread::FoldBytes(bool locked) {
  if (FUnfoldedBytes == 0) return;
  const int64_t count = FUnfoldedBytes;
  FUnfoldedBytes = 0;
  Stats->AddBytes(count);
  if (FServerStats) FServerStats->AddBytes(count);
  // The domain and path may have gone with a reload since the match; their
  // share is then dropped rather than written into a freed record.
  TDomainHandler& handler = *Stats->DomainHandler;
  std::optional<ReadLockGuard> lock;
  if (!locked) lock.emplace(handler.Synchronizer);
  AddSaturating(handler.BytesTransferred, count);
  if (FDomain != nullptr && handler.Domains.IndexOf(FDomain) >= 0) AddSaturating(FDomain->BytesTransferred, count);
  if (FVirtualPath != nullptr && handler.VirtualPaths.IndexOf(FVirtualPath) >= 0) {
    AddSaturating(FVirtualPath->BytesTransferred, count);
  }
}
