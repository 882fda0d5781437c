// The body relay of TClientThread: the request body to the back end, and
// the response body to the client as it comes, chunk by chunk, or compressed on the fly. Every block
// goes through the thread's one 32 KiB buffer.
#include <algorithm>

#include "Common/VT_ZLibEx.h"
#include "Common/uChunked.h"
#include "Common/uClientThread.h"
#include "Common/uProgramMode.h"
#include "Common/uResponseFraming.h"
#include "Common/uStatHolder.h"
#include "Common/uThrottle.h"
#include "platform/DateTime.h"
#include "platform/Flow.h"
#include "platform/TcpErrors.h"

namespace {

// Compressed bodies up to this size are compressed whole and sent with an
// exact Content-Length; larger ones are streamed.
constexpr int64_t kCompressWholeLimit = 32000;
// A streamed compressed body leaves in chunks of more than this.
constexpr size_t kMinCompressedChunk = 1024;

// The value after "AddFakeSize=" in a document: a plain non-negative decimal
// up to the next "&", or nothing.
std::optional<int64_t> FakeSize(const std::string& document) {
  const size_t at = document.find("AddFakeSize=");
  if (at == std::string::npos) return std::nullopt;
  const size_t start = at + 12;
  const size_t end = std::min(document.find('&', start), document.size());
  const std::string digits = document.substr(start, end - start);
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return StrToInt64(digits);
}

class TransferHold {
 public:
  TransferHold() { ActiveTransfers.fetch_add(1); }
  ~TransferHold() { ActiveTransfers.fetch_sub(1); }
  TransferHold(const TransferHold&) = delete;
  TransferHold& operator=(const TransferHold&) = delete;
};

}  // namespace

// A fiber's pause leaves its carrier to the other connections.
void TClientThread::Sleep(int ms) { FlowSleep(ms); }

void TClientThread::ThrottlePause(int64_t blockSize) { Sleep(ThrottlePauseMs(blockSize, ActiveTransfers.load())); }

// ------------------------------------------------------------ the choice

void TClientThread::DetermineTransferMethod() {
  const TRequestHeader& r = *RequestHeader;
  const TResponseHeader& p = *ResponseHeader;
  const TResponseFraming framing = DecideResponseFraming(
      r.Method, r.Version, p.StatusCode, TFramingHeaders{p.TransferEncoding, p.Chunked, p.ContentLength});
  FDechunk = framing.Dechunk;
  TransferMethod = TTransferMethod::Plain;
  if (framing.Body == TResponseBody::None) {
    TransferMethod = TTransferMethod::None;
    return;
  }
  if (framing.Body == TResponseBody::Chunked) {
    TransferMethod = TTransferMethod::Chunked;
    return;
  }
  if (!Stats->CompressionEnabled.load() || !MatchData->ShouldCompress(r.Document, p.ContentType, r.UserAgent) ||
      p.StatusCode != 200) {
    return;
  }
  if (p.ContentLength == 0) return;
  // A body of undeclared length is compressed only when the close ends it.
  if (p.ContentLength == -1 && FCloseConnection == 0) return;
  if (p.ContentCoding != ceNone) return;
  const bool squid = r.Raw.GetValue("Via").find("Squid") != std::string::npos;
  if (HasCoding(r.AcceptedEncodings, ceGZip) && !squid) {
    TransferMethod = TTransferMethod::GZip;
  } else if (HasCoding(r.AcceptedEncodings, ceDeflate)) {
    TransferMethod = squid ? TTransferMethod::Plain : TTransferMethod::Deflate;
  }
}

void TClientThread::TransferResponse() {
  TransferHold hold;
  // A test aid that inflates the traffic counters; only in debug runs, as
  // any client could otherwise push the shared counters to their limit.
  if (DebugMode.load()) {
    if (const auto fake = FakeSize(RequestHeader->Document)) AddBytes(true, *fake);
  }
  FBlocksTransferred = 0;
  // Whatever a relay left collected (its early ends and failures included)
  // leaves when it ends, as it would have without the buffer.
  TcpConnection& client = Client();
  const auto sendCollected = [&client] {
    if (!client.WriteBufferOpen()) return;
    try {
      client.CloseWriteBuffer();
    } catch (const std::exception&) {
      client.Disconnect();
    }
  };
  try {
    switch (TransferMethod) {
      case TTransferMethod::None: break;
      case TTransferMethod::Plain: TransferPlain(); break;
      case TTransferMethod::Chunked: TransferChunked(); break;
      case TTransferMethod::GZip:
      case TTransferMethod::Deflate: TransferCompressed(); break;
    }
  } catch (...) {
    sendCollected();
    throw;
  }
  sendCollected();
}

void TClientThread::SendResponseHeader(bool openWriteBuffer, int collect) {
  try {
    // An open buffer holds the head until the first body bytes join it.
    ResponseHeader->Updated.GetTextStr(FHeadText);
    if (openWriteBuffer) Client().OpenWriteBuffer(static_cast<int>(FHeadText.size()) + collect);
    Client().Write(FHeadText);
  } catch (const std::exception& e) {
    if (IsReportableException(e)) {
      LogInfo(std::string("Failed to send responseheader to client : ") + e.what());
      LogSummaries();
    }
    throw EAbort();
  }
  if (Stats->LogResponseHeaders.load()) {
    LogInfo("*** RESPONSE HEADER - before update ***\r\n" + ResponseHeader->Raw.GetTextStr());
    LogInfo("*** RESPONSE HEADER - updated ***\r\n" + ResponseHeader->Updated.GetTextStr());
  }
}

// ------------------------------------------------------------ back-end reads

void TClientThread::FlushClientBeforeWait() {
  TcpConnection& client = Client();
  if (client.WriteBufferSize() > 0) client.FlushWriteBuffer();
}

int64_t TClientThread::ReadServerBlock(bool count, int64_t wanted) {
  ++FBlocksTransferred;
  const int64_t n = std::min<int64_t>(wanted, kTransferBlockSize);
  if (n <= 0) return 0;
  if (count) AddBytes(true, n);
  FBytesFromServer = CheckedAdd64(FBytesFromServer, n);
  if (FServerConnection.InputBufferSize() < static_cast<size_t>(n)) FlushClientBeforeWait();
  // The connection's read time-out is the idle limit; its stop check ends
  // the read when the thread ends.
  FServerConnection.ReadBuffer(FBuffer.data(), static_cast<size_t>(n));
  return n;
}

std::string TClientThread::ReadServerLine() {
  if (!FServerConnection.LineBuffered()) FlushClientBeforeWait();
  std::string line = FServerConnection.ReadLn("\n", TcpConnection::kUseReadTimeout);
  if (FServerConnection.ReadLnTimedOut()) throw EIdReadTimeout();
  return line;
}

// ------------------------------------------------------------ plain

void TClientThread::TransferPlain() {
  TcpConnection& client = Client();
  TcpClient& server = FServerConnection;
  const int64_t length = ResponseHeader->ContentLength;
  const bool untilClose = length == -1;
  // A short body leaves whole with its head; a longer one takes the head
  // along in its first send, and the rest goes as it comes.
  const bool holdWhole = length >= 0 && length < kWriteBufferThreshold;
  SendResponseHeader(length != 0);
  // False when the client is gone (the loop ends).
  const auto toClient = [&](const char* data, size_t len) {
    try {
      if (len > 0) client.WriteBuffer(data, len);
      if (!holdWhole) client.CloseWriteBuffer();
      return true;
    } catch (const std::exception& e) {
      if (client.ClosedGracefully()) return false;
      if (IsReportableException(e)) {
        LogInfo(std::string("IN TRANSFER: Browser died 1! (") + ExceptionClassName(e) + " " + Trim(e.what()) + ")");
        LogSummaries();
      }
      // A client that took part of the body cannot be served further.
      client.Disconnect();
      return false;
    }
  };

  if (length != 0) {
    FBytesFromServer = 0;
    int64_t remaining = length;
    bool done = false;
    uint64_t lastData = GetTickCount64();
    // The client sent its request a moment ago: the first block goes without
    // a look at its socket (the write answers for it), and a complete body
    // ends the loop without one.
    bool firstBlock = true;
    while (!done && (remaining > 0 || untilClose) && (firstBlock ? client.KnownConnected() : client.Connected())) {
      firstBlock = false;
      if (Terminated() || Stopped()) {
        LogInfo("IN TRANSFER: Thread terminated!");
        LogSummaries();
        break;
      }
      ++FBlocksTransferred;
      const bool moreExpected = untilClose || static_cast<int64_t>(server.InputBufferSize()) < remaining;
      // A held head goes with the body bytes at hand rather than wait for
      // more; with none at hand it leaves before the wait.
      const bool headHeld = !holdWhole && client.WriteBufferSize() > 0;
      if (headHeld && server.InputBufferSize() == 0 && !toClient(nullptr, 0)) break;
      int64_t n = 0;
      try {
        if (server.InputBufferSize() < static_cast<size_t>(kTransferBlockSize) && moreExpected &&
            !(headHeld && server.InputBufferSize() > 0)) {
          server.ReadFromStack(Limits.DataWaitMs);
        }
        if (Terminated() || Stopped()) break;
        n = std::min<int64_t>(static_cast<int64_t>(server.InputBufferSize()), kTransferBlockSize);
        // Bytes past the declared length are not this response's.
        if (!untilClose) n = std::min(n, remaining);
        if (n == 0) {
          if (!server.Connected()) {
            done = true;
          } else if (GetTickCount64() - lastData > static_cast<uint64_t>(Limits.IdleLimitMs)) {
            throw EIdReadTimeout();
          }
          continue;
        }
        server.ReadBuffer(FBuffer.data(), static_cast<size_t>(n));
        lastData = GetTickCount64();
      } catch (const std::exception& e) {
        LogInfoFmt("IN TRANSFER : Server Died on connection from Client %s to Server %s", FClientIP, server.Host());
        LogInfo(RequestHeader->GetLogText());
        LogInfo(ResponseHeader->GetLogText());
        LogInfoFmt("  Transfer: Sent %d in %d blocks (Current=%d, Left=%d, Expected=%d) %s", n, FBlocksTransferred,
                   FBytesFromServer, remaining, length, FBytesFromServer < length ? "MORE DATA EXPECTED" : "");
        LogInfoFmt("  Exception: %s", e.what());
        // The body cannot be completed: the client must not wait on a kept
        // connection for the rest of it.
        DisconnectServer();
        break;
      }
      AddBytes(true, n);
      if (Terminated()) {
        LogInfo("IN TRANSFER: Thread terminated!");
        LogSummaries();
        break;
      }
      if (client.KnownConnected()) {
        if (!toClient(FBuffer.data(), static_cast<size_t>(n))) break;
        FBytesFromServer += n;
        remaining = std::max<int64_t>(length - FBytesFromServer, 0);
        // The pause spaces the blocks of a body; after its last block it
        // would only hold the finished response back.
        if (moreExpected && (remaining > 0 || untilClose)) ThrottlePause(n);
      }
      if ((remaining > 0 || untilClose) && !client.Connected()) {
        LogInfo("IN TRANSFER: Browser died 2!");
        LogSummaries();
        break;
      }
    }
  }

  try {
    client.CloseWriteBuffer();
  } catch (const std::exception&) {
    // The client is gone; the loop test of the request loop ends it.
    client.Disconnect();
  }
  // A back end that sends more than it declared cannot be trusted with the
  // next request on this connection.
  if (!untilClose && server.InputBufferSize() > 0) DisconnectServer();
  // A back end that closed after the body, or with its last bytes, ends the
  // client connection too: the look sees a close that came with them.
  if (!server.Connected()) client.Disconnect();
}

// ------------------------------------------------------------ chunked

void TClientThread::TransferChunked() {
  TcpConnection& client = Client();
  TResponseHeader& p = *ResponseHeader;
  // A client before HTTP/1.1 cannot read chunks: it gets the data alone,
  // ended by the close.
  const bool forwardFraming = !FDechunk;
  if (!forwardFraming) {
    p.Updated.DeleteAllHeaders("Transfer-Encoding");
    p.Updated.DeleteAllHeaders("Keep-Alive");
    p.Updated.SetHeaderUnique("Connection", "Close");
    FCloseConnection = 1;
  }
  // Head, size lines and data collect until a block's worth fills a send or
  // the back end makes the relay wait.
  SendResponseHeader(true, static_cast<int>(kTransferBlockSize));
  FBlocksTransferred = 0;
  FBytesFromServer = 0;
  ResponseHeader->ContentLength = 0;
  try {
    int64_t size = ReadChunkSize(forwardFraming);
    while (size > 0) {
      if (Terminated() || Stopped()) return;
      ResponseHeader->ContentLength = CheckedAdd64(ResponseHeader->ContentLength, size);
      CopyChunkData(size);
      if (!ReadServerLine().empty()) throw EVantrell("Chunk data longer than its size");
      if (forwardFraming) client.Write("\r\n");
      size = ReadChunkSize(forwardFraming);
    }
    // The last chunk: trailer lines up to the closing empty line.
    for (int lines = 0;; ++lines) {
      if (lines >= Limits.MaxHeadLines) throw EVantrell("Too many trailer lines");
      const std::string line = ReadServerLine();
      if (forwardFraming) client.Write(line + "\r\n");
      if (line.empty()) break;
    }
  } catch (const std::exception& e) {
    if (IsReportableException(e)) {
      LogInfo(std::string("Chunked transfer failed : ") + e.what());
      LogSummaries();
    }
    // What was relayed so far still reaches the client (it may be gone).
    try {
      client.FlushWriteBuffer();
    } catch (const std::exception&) {
    }
    // The client holds part of a body; neither side can go on with it.
    DisconnectServer();
    client.Disconnect();
  }
}

int64_t TClientThread::ReadChunkSize(bool forward) {
  const std::string text = ChunkSizeText(ReadServerLine());
  const std::optional<int64_t> size = ParseChunkSize(text);
  if (!size) throw EVantrell(Format("Invalid chunk size \"%s\"", text));
  if (forward) Client().Write(text + "\r\n");
  return *size;
}

void TClientThread::CopyChunkData(int64_t size) {
  while (size > 0) {
    const int64_t n = ReadServerBlock(true, size);
    Client().WriteBuffer(FBuffer.data(), static_cast<size_t>(n));
    if (IsSmallBlock(n) && size > n) {
      FlushClientBeforeWait();
      Sleep(Limits.SmallBlockSleepMs);
    }
    size = CheckedSub64(size, n);
  }
}

// ------------------------------------------------------------ compressed

void TClientThread::TransferCompressed() {
  TcpConnection& client = Client();
  TcpClient& server = FServerConnection;
  TResponseHeader& p = *ResponseHeader;
  TVTCompressionStream stream(1);

  const int64_t length = p.ContentLength;
  const bool streaming = length > kCompressWholeLimit || length == -1;
  if (streaming && FCloseConnection == 0) {
    // Chunked framing only where both sides speak HTTP/1.1; otherwise the
    // close ends the body.
    if (length == -1 || p.Version != "HTTP/1.1" || RequestHeader->Version != "HTTP/1.1") {
      p.Updated.SetHeaderUnique("Connection", "Close");
      FCloseConnection = 1;
    } else {
      p.Updated.SetHeaderUnique("Transfer-Encoding", "chunked");
      p.Chunked = true;
    }
  }
  if (TransferMethod == TTransferMethod::GZip) {
    p.SetCompressed(ceGZip);
    stream.SetGzip(true);
  } else {
    p.SetCompressed(ceDeflate);
  }
  if (streaming) SendResponseHeader(true);
  stream.WriteGzipHeader();

  if (length > 0) {
    while (stream.UncompressedSize() < length) {
      const int64_t n = ReadServerBlock(false, length - stream.UncompressedSize());
      stream.Write(FBuffer.data(), static_cast<size_t>(n));
      if (!client.Connected()) return;
      const size_t held = stream.Size();
      if (streaming && held > kMinCompressedChunk) WriteChunk(stream, false);
      if (stream.UncompressedSize() < length) {
        FlushClientBeforeWait();
        ThrottlePause(static_cast<int64_t>(held));
      }
    }
  } else if (length == -1) {
    uint64_t lastData = GetTickCount64();
    while (server.Connected() || server.InputBufferSize() > 0) {
      if (Terminated() || Stopped()) return;
      if (server.InputBufferSize() < static_cast<size_t>(kTransferBlockSize)) server.ReadFromStack(Limits.DataWaitMs);
      const int64_t n = ReadServerBlock(false, static_cast<int64_t>(server.InputBufferSize()));
      if (n > 0) {
        lastData = GetTickCount64();
      } else if (GetTickCount64() - lastData > static_cast<uint64_t>(Limits.IdleLimitMs)) {
        throw EIdReadTimeout();
      }
      stream.Write(FBuffer.data(), static_cast<size_t>(n));
      if (streaming && stream.Size() > 0) {
        AddBytes(true, static_cast<int64_t>(stream.Size()));
        client.Write(stream.Bytes());
        stream.Clear();
      }
      if (IsSmallBlock(n)) {
        FlushClientBeforeWait();
        Sleep(Limits.SmallBlockSleepMs);
      }
    }
  }

  stream.Finish();
  stream.WriteGzipTrailer();
  if (stream.UncompressedSize() != 0) {
    LogDetailFmt("Compressed %d to %d bytes (%f%% compression rate)", stream.UncompressedSize(),
                 stream.CompressedSize(), stream.Ratio());
    Stats->AddBytesSaved(stream.UncompressedSize() - stream.CompressedSize());
  }
  if (!streaming) {
    p.ContentLength = static_cast<int64_t>(stream.Size());
    p.Updated.SetHeaderUnique("Content-Length", IntToStr(p.ContentLength));
    SendResponseHeader(true);
  }
  WriteChunk(stream, true);
}

void TClientThread::WriteChunk(TVTCompressionStream& stream, bool last) {
  const size_t size = stream.Size();
  AddBytes(true, static_cast<int64_t>(size));
  if (ResponseHeader->Chunked) {
    // An empty chunk would end the body early.
    if (size > 0) {
      std::string chunk = Format("%X\r\n", static_cast<uint64_t>(size));
      chunk += stream.Bytes();
      chunk += "\r\n";
      Client().Write(chunk);
    }
  } else {
    Client().Write(stream.Bytes());
  }
  stream.Clear();
  if (last && ResponseHeader->Chunked) Client().Write("0\r\n\r\n");
}

// ------------------------------------------------------------ request body

bool TClientThread::TransferPostData() {
  TcpConnection& client = Client();
  int64_t remaining = RequestHeader->ContentLength;
  int64_t posted = 0;
  int packages = 0;
  FPostDone = 0;
  // The request head waits in the back end's write buffer for the first
  // body bytes; a relay that fails drops what is collected.
  TcpClient& server = FServerConnection;
  struct PostDone {
    std::atomic<uint8_t>& flag;
    TcpConnection& server;
    ~PostDone() {
      flag = 1;
      if (server.WriteBufferOpen()) server.CancelWriteBuffer();
    }
  } postDone{FPostDone, server};

  uint64_t lastData = GetTickCount64();
  while (remaining > 0) {
    if (Terminated() || Stopped()) throw EAbort();
    const auto waiting = [&] { return static_cast<int64_t>(client.InputBufferSize()); };
    if (waiting() < kTransferBlockSize && waiting() < remaining && client.Connected()) {
      if (waiting() == 0) server.FlushWriteBuffer();
      client.ReadFromStack(Limits.DataWaitMs);
    }
    ++packages;
    const int64_t n = std::min({waiting(), kTransferBlockSize, remaining});
    if (n > 0 || !client.Connected() || !FServerConnection.Connected()) {
      AddBytes(false, n);
      posted += n;
      remaining -= n;
      if (n > 0) {
        client.ReadBuffer(FBuffer.data(), static_cast<size_t>(n));
        FBodyBytesSent += n;
        server.WriteBuffer(FBuffer.data(), static_cast<size_t>(n));
        server.CloseWriteBuffer();
        lastData = GetTickCount64();
      }
      if (CheckPostAborted(remaining, posted, packages)) throw EAbort();
      if (!IsSmallBlock(n) || remaining == 0) continue;
    } else {
      // A client that declared a body and sends none holds the thread no
      // longer than a slow head may.
      const uint64_t idle = GetTickCount64() - lastData;
      const bool overloaded = ActiveThreads.load() >= Stats->PoolSize.load();
      if (idle > static_cast<uint64_t>(Limits.IdleLimitMs) || (overloaded && idle > Limits.SlowHeadMs)) {
        LogInfo("In POST: Client died before transfer was complete");
        LogSummaries();
        LogInfoFmt("  Posted %f bytes in %d packages, expected %f", posted / 1000.0, packages,
                   RequestHeader->ContentLength / 1000.0);
        throw EAbort();
      }
    }
    server.FlushWriteBuffer();
    Sleep(Limits.SmallBlockSleepMs);
  }
  server.CloseWriteBuffer();
  LogDetailFmt("Posted %f kb in %d packages", posted / 1000.0, packages);
  return posted > 0;
}

bool TClientThread::CheckPostAborted(int64_t remaining, int64_t posted, int packages) {
  const char* died = nullptr;
  TcpConnection& client = Client();
  if (!client.Connected() && static_cast<int64_t>(client.InputBufferSize()) < remaining) {
    died = "In POST: Client died before transfer was complete";
  } else if (!FServerConnection.Connected() && remaining > 0) {
    died = "In POST: Server died before transfer was complete";
  }
  if (died == nullptr) return false;
  LogInfo(died);
  LogSummaries();
  LogInfoFmt("  Posted %f bytes in %d packages, expected %f", posted / 1000.0, packages,
             RequestHeader->ContentLength / 1000.0);
  return true;
}
