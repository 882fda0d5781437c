#include "Common/VT_ZLibEx.h"

#include <algorithm>
#include <climits>

#include "Common/CRC32.h"

namespace {

constexpr int kLevels[] = {0, 1, -1, 9};
constexpr int kZlibWindowBits = 15;
constexpr int kMemLevel = 8;
// What zlib framing adds around the deflate data: a two-byte header and the
// four-byte Adler-32.
constexpr int64_t kZlibHeaderBytes = 2;
constexpr int64_t kZlibTrailerBytes = 4;

void CheckDeflate(int result) {
  if (result < 0) throw EZCompressionError(result);
}

}  // namespace

const char* ZLibErrorText(int32_t code) {
  switch (code) {
    case Z_NEED_DICT: return "Need dictionary";
    case Z_STREAM_END: return "Stream end";
    case Z_OK: return "OK";
    case Z_ERRNO: return "File error";
    case Z_STREAM_ERROR: return "Stream error";
    case Z_DATA_ERROR: return "Data error";
    case Z_MEM_ERROR: return "Insufficient memory";
    case Z_BUF_ERROR: return "Buffer error";
    case Z_VERSION_ERROR: return "Incompatible version";
    default: return "";
  }
}

EZCompressionError::EZCompressionError(int32_t errorCode) : EZLibError(ZLibErrorText(errorCode), errorCode) {}

std::array<uint8_t, 8> GzipTrailerBytes(uint32_t crc, uint64_t inputSize) {
  // RFC 1952 ISIZE: the input size modulo 2^32, so members over 4 GiB stay valid.
  const auto size = static_cast<uint32_t>(inputSize);
  std::array<uint8_t, 8> b{};
  for (int i = 0; i < 4; ++i) {
    b[i] = static_cast<uint8_t>(crc >> (8 * i));
    b[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  return b;
}

TVTCompressionStream::TVTCompressionStream(uint8_t levelIndex) : levelIndex_(levelIndex) {
  CheckIndex(levelIndex, std::size(kLevels));
  Init(kZlibWindowBits);
}

TVTCompressionStream::~TVTCompressionStream() {
  if (!finished_) deflateEnd(&zStream_);
}

void TVTCompressionStream::Init(int windowBits) {
  zStream_ = z_stream{};
  zStream_.next_out = outBuffer_.data();
  zStream_.avail_out = OutBufferSize;
  const int result = deflateInit2(&zStream_, kLevels[levelIndex_], Z_DEFLATED, windowBits, kMemLevel,
                                  Z_DEFAULT_STRATEGY);
  if (result < 0) {
    // zlib holds nothing after a failed start; the destructor must not end it.
    finished_ = true;
    throw EZCompressionError(result);
  }
}

void TVTCompressionStream::SetGzip(bool gzip) {
  if (gzip == gzip_) return;
  // The framing decides how zlib is started, so it cannot change once data went in.
  if (finished_ || zStream_.total_in > 0 || !data_.empty()) throw EZCompressionError(Z_STREAM_ERROR);
  deflateEnd(&zStream_);
  gzip_ = gzip;
  Init(gzip ? -kZlibWindowBits : kZlibWindowBits);
}

void TVTCompressionStream::WriteGzipHeader() {
  if (!gzip_) return;
  const char header[10] = {'\x1F', '\x8B', 8, static_cast<char>(fileName_.empty() ? 0 : 8), 0, 0, 0, 0, 0, 0};
  data_.append(header, sizeof header);
  if (!fileName_.empty()) {
    data_.append(fileName_);
    data_.push_back('\0');
  }
}

void TVTCompressionStream::EmptyWindow() {
  const size_t used = OutBufferSize - zStream_.avail_out;
  data_.append(reinterpret_cast<const char*>(outBuffer_.data()), used);
  zStream_.next_out = outBuffer_.data();
  zStream_.avail_out = OutBufferSize;
}

size_t TVTCompressionStream::Write(const void* buffer, size_t count) {
  if (finished_) throw EZCompressionError(Z_STREAM_ERROR);
  if (count == 0) return 0;
  if (gzip_) crc_ = UpdateCRC32(crc_, buffer, count);
  const auto* p = static_cast<const Bytef*>(buffer);
  size_t left = count;
  while (left > 0) {
    // zlib counts its input in 32-bit units.
    const auto chunk = static_cast<uInt>(std::min<size_t>(left, UINT_MAX));
    zStream_.next_in = const_cast<Bytef*>(p);
    zStream_.avail_in = chunk;
    while (zStream_.avail_in > 0) {
      CheckDeflate(deflate(&zStream_, Z_NO_FLUSH));
      if (zStream_.avail_out == 0) EmptyWindow();
    }
    p += chunk;
    left -= chunk;
  }
  return count;
}

void TVTCompressionStream::Finish() {
  if (finished_) return;
  finished_ = true;
  zStream_.next_in = nullptr;
  zStream_.avail_in = 0;
  try {
    while (true) {
      const int result = deflate(&zStream_, Z_FINISH);
      CheckDeflate(result);
      if (result == Z_STREAM_END) break;
      EmptyWindow();
    }
    EmptyWindow();
  } catch (...) {
    deflateEnd(&zStream_);
    throw;
  }
  deflateEnd(&zStream_);
}

void TVTCompressionStream::WriteGzipTrailer() {
  if (!gzip_ || trailerWritten_) return;
  Finish();
  const auto trailer = GzipTrailerBytes(~crc_, zStream_.total_in);
  data_.append(reinterpret_cast<const char*>(trailer.data()), trailer.size());
  trailerWritten_ = true;
}

int64_t TVTCompressionStream::CompressedSize() const {
  auto out = static_cast<int64_t>(zStream_.total_out);
  if (gzip_) out += kZlibHeaderBytes + (finished_ ? kZlibTrailerBytes : 0);
  return out;
}

int64_t TVTCompressionStream::UncompressedSize() const { return static_cast<int64_t>(zStream_.total_in); }

float TVTCompressionStream::Ratio() const {
  const int64_t in = UncompressedSize();
  if (in == 0) return 0.0f;
  return static_cast<float>((1.0 - static_cast<double>(CompressedSize()) / static_cast<double>(in)) * 100.0);
}

std::string TVTCompressionStream::TakeBytes() {
  std::string out = std::move(data_);
  data_.clear();
  return out;
}
