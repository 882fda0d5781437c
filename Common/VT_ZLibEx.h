// On-the-fly compression of response bodies: a byte buffer that deflates what
// is written into it, in zlib framing (coding "deflate") or as one gzip member
// (coding "gzip").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <zlib.h>

#include "platform/SysUtils.h"

// A zlib call failed; ErrorCode is zlib's result code.
class EZLibError : public Exception {
 public:
  EZLibError(std::string message, int32_t errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
  int32_t ErrorCode() const noexcept { return errorCode_; }
  const char* ClassName() const noexcept override { return "EZLibError"; }

 private:
  int32_t errorCode_;
};

// A deflate call failed; the message is the code's text ("Buffer error" ...).
class EZCompressionError : public EZLibError {
 public:
  explicit EZCompressionError(int32_t errorCode);
  const char* ClassName() const noexcept override { return "EZCompressionError"; }
};

// The text of a zlib result code, as shown in compression errors.
const char* ZLibErrorText(int32_t code);

// The eight trailer bytes of a gzip member: the finished CRC-32 of the input
// and the input size modulo 2^32, both little-endian.
std::array<uint8_t, 8> GzipTrailerBytes(uint32_t crc, uint64_t inputSize);

// Usage (one response, one thread): construct, optionally SetGzip(true) and
// WriteGzipHeader(), Write() the body in any number of blocks (the owner may
// TakeBytes() between them), Finish(), WriteGzipTrailer(), then take the rest.
// Compressed bytes leave the 64 KiB output window only when it is full and at
// Finish, so the content grows in large steps.
class TVTCompressionStream {
 public:
  static constexpr size_t OutBufferSize = 65536;

  // LevelIndex 0..3 selects zlib level 0, 1, default (-1) or 9; the relay
  // uses 1. Raises EZCompressionError when zlib cannot start, ERangeError for
  // an index outside the table.
  explicit TVTCompressionStream(uint8_t levelIndex);
  ~TVTCompressionStream();
  TVTCompressionStream(const TVTCompressionStream&) = delete;
  TVTCompressionStream& operator=(const TVTCompressionStream&) = delete;

  // Chooses gzip framing; only before anything is written.
  void SetGzip(bool gzip);
  bool Gzip() const { return gzip_; }
  // Name for the header's FNAME field; empty by default.
  void SetFileName(std::string name) { fileName_ = std::move(name); }

  // Gzip framing: appends the member header. Nothing in zlib framing.
  void WriteGzipHeader();
  // Compresses Count bytes and returns Count. Raises EZCompressionError on a
  // deflate error, and after Finish.
  size_t Write(const void* buffer, size_t count);
  size_t Write(std::string_view data) { return Write(data.data(), data.size()); }
  // Ends the deflate data and appends what zlib still holds (in zlib framing
  // the Adler-32 too). A second call does nothing.
  void Finish();
  // Gzip framing: appends CRC-32 and input size (finishing first when that
  // has not happened). Nothing in zlib framing, or when already written.
  void WriteGzipTrailer();

  // zlib's output count in zlib framing (its two-byte header and, once
  // finished, its Adler-32 included) and input count.
  int64_t CompressedSize() const;
  int64_t UncompressedSize() const;
  // (1 - Compressed / Uncompressed) * 100, 0 when nothing was put in.
  float Ratio() const;

  // The content produced so far (not yet taken).
  std::string_view Bytes() const { return data_; }
  size_t Size() const { return data_.size(); }
  // Hands the content over and leaves the stream empty.
  std::string TakeBytes();
  void Clear() { data_.clear(); }

 private:
  void Init(int windowBits);
  void EmptyWindow();

  // Gzip framing runs zlib in raw mode: the deflate data is the same as in
  // zlib framing, and header and trailer are written here.
  z_stream zStream_{};
  std::array<Bytef, OutBufferSize> outBuffer_;
  bool finished_ = false;
  uint8_t levelIndex_;
  bool gzip_ = false;
  bool trailerWritten_ = false;
  uint32_t crc_ = 0xFFFFFFFFu;
  std::string fileName_;
  std::string data_;
};
