// TClientThread serves one accepted client connection at a time, request
// after request: it reads each request head, has the live configuration match
// it, answers what is not forwarded itself, forwards the rest to the chosen
// back end over a connection it keeps while host and port stay, relays the
// response (plain, chunked or compressed) and writes the log lines.
//
// The engine host makes these through the listener's thread pool. When a
// connection is accepted its connect handler sets Stats and IsHTTPS and calls
// RegisterConnection; its execute handler installs OnLog / OnW3CLog and calls
// HandleConnection once, which ends by stopping the thread (the pool takes
// it back). Everything of the object belongs to its own pool thread except
// GetStatusText (read by the consoles) and Terminate (the engine's stop).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Common/uHTTPHeads.h"
#include "Common/uRequestMatching.h"
#include "Common/uW3CLog.h"
#include "platform/PeerThread.h"
#include "platform/SysUtils.h"
#include "platform/TcpClient.h"

class TStatHolder;
class TServer;
class TServerStatHolder;
class TDomain;
class TVirtualPath;
class TVTCompressionStream;

VT_DECLARE_EXCEPTION(EVantrell, Exception);
VT_DECLARE_FIXED_EXCEPTION(EExceptionHeaderTimedOut, EVantrell, "Reading header timed out!");
VT_DECLARE_FIXED_EXCEPTION(EExceptionHeaderHungUp, EVantrell, "Connection closed while reading header!");

// Existing TClientThread objects.
extern std::atomic<int32_t> TClientThreadCount;
// Client threads inside HandleConnection; the engine host keeps it.
extern std::atomic<int32_t> ActiveThreads;
// Threads waiting for a further request on a kept-alive connection.
extern std::atomic<int32_t> KeepAliveWaiters;
// Threads relaying a response body.
extern std::atomic<int32_t> ActiveTransfers;

// The class name an exception shows in log lines.
const char* ExceptionClassName(const std::exception& e);

// The waits and caps of the request road. The defaults are the switch's;
// tests shrink them.
struct TRoadLimits {
  int ReadStepMs = 2000;            // one step of a head wait
  int BackendLookMs = 250;          // a look at the back end while a kept connection waits
  uint64_t HeadLimitMs = 36000000;  // a head, counted from its first byte
  uint64_t SlowHeadMs = 60000;      // a head while the engine is overloaded
  int IdleLimitMs = 36000000;       // a body or back-end read or write without progress
  int DataWaitMs = 15;              // one wait for more body data
  int SmallBlockSleepMs = 30;
  int ConnectTimeoutMs = 20000;
  int MaxHeadLines = 255;           // request or status line and header lines
  int MaxLineLength = 524288;       // one line from the back end
  int64_t MaxHeadBytes = 1048576;   // one head, all its lines
  int MaxLeadingBlankLines = 4;     // empty lines tolerated before a head
  int HandshakeMs = 60000;          // a TLS handshake
  int BusyHandshakeMs = 10000;      // a TLS handshake while the engine is overloaded
};

// The overload rule: every thread the pool keeps is serving a connection.
bool RoadOverloaded(const TStatHolder& stats);
// The bound of a TLS handshake that starts now.
int HandshakeTimeoutMs(const TRoadLimits& limits, const TStatHolder& stats);

// How a response body is relayed.
enum class TTransferMethod : uint8_t { None = 1, Plain = 2, Chunked = 3, GZip = 4, Deflate = 5 };

class TClientThread : public PeerThread, public THeadOwner {
 public:
  using TLogWriter = std::function<void(const std::string& text, TClientThread* sender)>;

  TClientThread();
  ~TClientThread() override;

  // Set by the engine host before HandleConnection runs (IsHTTPS, the
  // connection's addresses and the heads' switches come with THeadOwner).
  TStatHolder* Stats = nullptr;  // reference
  TLogWriter OnLog;
  TLogWriter OnW3CLog;
  TRoadLimits Limits;

  // Counts the thread once, on its first connection, as a live connection.
  void RegisterConnection();
  // One accepted connection, from its first request head to its close.
  void HandleConnection();

  // Any thread: closes the back-end connection too.
  void Terminate() override;

  // False for the framework's silent exceptions, EAbort and a connection
  // reset by the peer; those end a connection without a report.
  static bool IsReportableException(const std::exception& e);
  void Disconnect(bool report);
  // The engine host's disconnect handler: closes a back-end connection that
  // is still open; true when it was.
  bool EndServerConnection();
  // Any thread: "Id=%d, Server=%s, Client=%s, Status=%s".
  std::string GetStatusText();

  virtual void AddBytes(bool outgoing, int64_t count);

  void WriteLog(const std::string& text);
  void LogInfo(const std::string& text) override;
  void LogDetail(const std::string& text) override;
  // The formatted forms format only when the line would be written.
  template <class... Args>
  void LogInfoFmt(std::string_view fmt, const Args&... args) {
    if ((MatchData->LogFlags & 2) != 0) LogInfo(Format(fmt, args...));
  }
  template <class... Args>
  void LogDetailFmt(std::string_view fmt, const Args&... args) {
    if ((MatchData->LogFlags & 4) != 0) LogDetail(Format(fmt, args...));
  }

  int64_t RequestId() const { return FRequestId; }
  int64_t RequestCount() const { return FRequestCount; }
  int64_t TotalBytes() const { return FTotalBytes; }

 protected:
  void BeforeRun() override;
  void Cleanup() override;
  void DoException(const Exception& e) override;

 private:
  // The request loop (uClientThread.cpp).
  bool ShouldStop();
  bool ServeRequest(bool& counted);
  void FinishTurn(bool counted, bool timedOut, const std::string& endMessage);
  // Adds the bytes AddBytes collected to the shared counters (the handler's,
  // the domain's, the path's, the server's); Locked: the caller holds the
  // configuration's read lock.
  void FoldBytes(bool locked = false);
  void LogWhyStopped(bool counted);
  void Leave();
  void EndNormally();
  void ResetRequest();
  void ClearHeaders();
  void StartTimer();
  double ElapsedMs() const;
  void ReadRequestHeader(bool waitingForKeepAlive);
  // False when the head outgrew MaxHeadBytes.
  bool ReadHeader(TcpConnection& connection, THTTPHeaders& lines, bool isRequest);
  // Into Line, whose storage is reused. Now is the tick count after the line
  // came, read only when it had to be waited for (or began the head).
  void ReadHeadLine(TcpConnection& connection, std::string& line, uint64_t& headStart, uint64_t& now, bool& timedOut,
                    uint64_t limit);
  bool HeadWaitOver(uint64_t elapsed, bool arriving, uint64_t limit);
  void ReadResponseHead();
  void DetermineTargetMachine();
  bool OpenServerConnection(bool fresh);
  bool RetryOnFreshConnection(const std::exception& e);
  void HandleResponseHeader();
  void RecordResponseTime(uint64_t sendTick);
  void ClientDisconnected();
  // The back end has closed the back-end connection (one look).
  bool BackendClosed();
  // Closes the back-end connection and lets go of the server it counted on.
  void DisconnectServer();
  void LogSummaries();

  // The body relay (uClientThreadTransfer.cpp).
  // A head is collected in the connection's write buffer and leaves in one
  // send with the first body bytes; bodies shorter than this leave whole.
  static constexpr int kWriteBufferThreshold = 1400;
  // Sends what the client's write buffer holds before a wait on the back
  // end, so that nothing collected waits for bytes that are not at hand.
  void FlushClientBeforeWait();
  void DetermineTransferMethod();
  void TransferResponse();
  // OpenWriteBuffer: the head waits in the write buffer until Collect more
  // bytes join it (or the relay flushes before a wait).
  void SendResponseHeader(bool openWriteBuffer, int collect = kWriteBufferThreshold);
  void TransferPlain();
  void TransferChunked();
  void TransferCompressed();
  int64_t ReadServerBlock(bool count, int64_t wanted);
  std::string ReadServerLine();
  // Writes the size line on to the client when Forward is set.
  int64_t ReadChunkSize(bool forward);
  void CopyChunkData(int64_t size);
  void WriteChunk(TVTCompressionStream& stream, bool last);
  bool TransferPostData();
  bool CheckPostAborted(int64_t remaining, int64_t posted, int packages);
  void ThrottlePause(int64_t blockSize);
  void Sleep(int ms);

  // Direct replies and request logging (uClientThreadReplies.cpp).
  void HandleNonMatchingRequest();
  void HandleDeniedRequest();
  void HandleCircularReference();
  void SendStatusReply(const std::string& text);
  void SendReply(const std::string& bytes);
  void LogRequest();
  void LogSummary();
  void WriteW3CLogEntry();

  TcpConnection& Client() { return *Connection(); }

  int64_t FTotalBytes = 0;
  // Counted by AddBytes, not yet in the shared counters: they take them per
  // request (and per MiB of a long body), under one read lock.
  int64_t FUnfoldedBytes = 0;
  // Left unfilled: an idle pooled thread should not hold 32 KiB of zeros.
  std::array<char, 32768> FBuffer;
  // The outgoing request or response head, built once per head into storage
  // kept across requests (up to kKeptHeadBytes).
  std::string FHeadText;
  // The access-log entry of the request, kept for its strings' storage (up
  // to kKeptHeadBytes together).
  TW3CLogEntry FW3CEntry;
  uint8_t FFirstConnect = 1;
  std::string FStatusText = "-";
  int64_t FRequestId = -1;
  uint8_t FNonMatchingRequest = 0;
  uint64_t FStartTick = 0;
  int64_t FBytesFromServer = 0;
  int64_t FBlocksTransferred = 0;
  int64_t FBytesIn = 0;
  std::chrono::steady_clock::time_point FPerfStart{};
  int64_t FRequestCount = 0;
  int64_t FBytesOut = 0;
  std::atomic<int32_t> FConnectionNumber{0};
  TTransferMethod TransferMethod = TTransferMethod::None;
  bool FDechunk = false;
  bool FResponseStarted = false;  // a byte of the response head came
  int64_t FBodyBytesSent = 0;     // request body bytes written to the back end  // a chunked body goes to the client without its framing
  TcpClient FServerConnection;
  TRequestHeader FRequestHead{this};
  TRequestMatchData FMatch;
  TResponseHeader FResponseHead{this};
  TResponseHeader* const ResponseHeader = &FResponseHead;
  // Identity only: looked up in the configuration before each use.
  TVirtualPath* FVirtualPath = nullptr;
  TDomain* FDomain = nullptr;
  std::atomic<uint8_t> FPostDone{1};
  std::atomic<uint8_t> FWaitingForKeepAlive{0};
  std::string FLocalIP;
  std::shared_ptr<TServerStatHolder> FServerStats;
  // The server the back-end connection was opened for; it counts the
  // connection until it closes, whatever later requests choose.
  std::shared_ptr<TServer> FConnectedServer;

  // GetStatusText reads these from another thread.
  std::mutex FStatusLock;
  std::string FStatusServerHost;
  std::string FStatusClientIP;
};
