#include "Common/VT_ZLibEx.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "Common/CRC32.h"

namespace {

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// Runs the whole calling order of the body relay over Input, taking the
// content out after every block of BlockSize bytes when streaming.
std::string Compress(const std::string& input, bool gzip, size_t blockSize = 0, uint8_t level = 1) {
  TVTCompressionStream z(level);
  z.SetGzip(gzip);
  z.WriteGzipHeader();
  std::string out;
  if (blockSize == 0) {
    EXPECT_EQ(z.Write(input), input.size());
  } else {
    for (size_t at = 0; at < input.size(); at += blockSize) {
      z.Write(std::string_view(input).substr(at, blockSize));
      out += z.TakeBytes();
    }
  }
  z.Finish();
  z.WriteGzipTrailer();
  return out + z.TakeBytes();
}

// Decodes with the system's zlib: window bits 15 for zlib framing, 31 for
// gzip (which checks the CRC and the size in the trailer).
std::string Inflate(const std::string& data, int windowBits) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, windowBits), Z_OK);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char buf[16384];
  int rc;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = sizeof buf;
    rc = inflate(&s, Z_NO_FLUSH);
    out.append(buf, sizeof buf - s.avail_out);
  } while (rc == Z_OK);
  EXPECT_EQ(rc, Z_STREAM_END);
  EXPECT_EQ(s.avail_in, 0u) << "bytes after the end of the stream";
  inflateEnd(&s);
  return out;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

std::string TextBytes(size_t n) {
  std::string s;
  while (s.size() < n) s += "GET /index.html HTTP/1.1 Host: example.com " + std::to_string(s.size() % 997) + "\n";
  s.resize(n);
  return s;
}

}  // namespace

TEST(CompressionStream, ExactBytesOfBothFramings) {
  const std::string text = "abcabcabcabcabcabc the quick brown fox";
  struct Case {
    std::string input;
    bool gzip;
    std::string hex;
  } cases[] = {
      {"", false, "7801030000000001"},
      {"", true, "1f8b0800000000000000" "0300" "00000000" "00000000"},
      {text, false, "78014b4c4a4e44450a2519a90a85a599c9d90a4945f9e5790a69f91500156a0e38"},
      {text, true,
       "1f8b0800000000000000" "4b4c4a4e44450a2519a90a85a599c9d90a4945f9e5790a69f91500" "8784adf1" "26000000"},
  };
  for (const auto& c : cases) {
    const std::string out = Compress(c.input, c.gzip);
    EXPECT_EQ(Hex(out), c.hex) << "gzip=" << c.gzip << " input=" << c.input.size();
    EXPECT_EQ(Inflate(out, c.gzip ? 31 : 15), c.input);
  }
}

TEST(CompressionStream, FileNameGoesIntoTheGzipHeader) {
  TVTCompressionStream z(1);
  z.SetGzip(true);
  z.SetFileName("a.txt");
  z.WriteGzipHeader();
  z.Write("data");
  z.WriteGzipTrailer();
  const std::string out(z.Bytes());
  EXPECT_EQ(Hex(out.substr(0, 16)), "1f8b0808000000000000" + Hex(std::string("a.txt\0", 6)));
  EXPECT_EQ(Inflate(out, 31), "data");
}

// Sizes around the 64 KiB output window, whole and in blocks with the content
// taken out in between: every output decodes, and gzip carries exactly the
// deflate data of zlib framing between its own header and trailer.
TEST(CompressionStream, RoundTripAcrossTheOutputWindow) {
  for (size_t size : {size_t{1}, size_t{65533}, size_t{65534}, size_t{65535}, size_t{65536}, size_t{200000}}) {
    for (bool random : {false, true}) {
      const std::string input = random ? RandomBytes(size, static_cast<unsigned>(size)) : TextBytes(size);
      for (size_t block : {size_t{0}, size_t{32768}, size_t{1000}}) {
        SCOPED_TRACE("size " + std::to_string(size) + " random " + std::to_string(random) + " block " +
                     std::to_string(block));
        const std::string zlib = Compress(input, false, block);
        const std::string gzip = Compress(input, true, block);
        EXPECT_EQ(Inflate(zlib, 15), input);
        EXPECT_EQ(Inflate(gzip, 31), input);
        ASSERT_GT(zlib.size(), 6u);
        EXPECT_EQ(gzip.substr(0, 10), std::string("\x1f\x8b\x08\0\0\0\0\0\0\0", 10));
        EXPECT_EQ(gzip.substr(10, gzip.size() - 18), zlib.substr(2, zlib.size() - 6));
      }
    }
  }
}

TEST(CompressionStream, OutputLeavesOnlyInFullWindowsBeforeFinish) {
  TVTCompressionStream z(1);
  z.SetGzip(true);
  z.Write(RandomBytes(300000, 7));  // incompressible: several windows fill up
  ASSERT_GT(z.Size(), 0u);
  EXPECT_EQ(z.Size() % TVTCompressionStream::OutBufferSize, 0u);
  // No header was written: the first bytes are deflate data, not zlib's header.
  EXPECT_NE(Hex(z.Bytes().substr(0, 2)), "7801");
}

TEST(CompressionStream, SizesRatioAndRepeatedFinish) {
  TVTCompressionStream empty(1);
  EXPECT_EQ(empty.Ratio(), 0.0f);
  EXPECT_EQ(empty.UncompressedSize(), 0);

  const std::string input = TextBytes(100000);
  TVTCompressionStream zlib(1);
  zlib.Write(input);
  zlib.Finish();
  TVTCompressionStream gzip(1);
  gzip.SetGzip(true);
  gzip.WriteGzipHeader();
  gzip.Write(input);
  gzip.Finish();
  // Both count zlib framing, as the compression log line reports it.
  EXPECT_EQ(zlib.CompressedSize(), static_cast<int64_t>(zlib.Size()));
  EXPECT_EQ(gzip.CompressedSize(), zlib.CompressedSize());
  EXPECT_EQ(zlib.UncompressedSize(), 100000);
  EXPECT_FLOAT_EQ(zlib.Ratio(), static_cast<float>((1.0 - zlib.CompressedSize() / 100000.0) * 100.0));

  const size_t before = gzip.Size();
  gzip.Finish();
  EXPECT_EQ(gzip.Size(), before);
  gzip.WriteGzipTrailer();
  gzip.WriteGzipTrailer();
  EXPECT_EQ(gzip.Size(), before + 8);
  EXPECT_EQ(Inflate(std::string(gzip.Bytes()), 31), input);
}

TEST(CompressionStream, EveryLevelDecodes) {
  const std::string input = TextBytes(70000);
  for (uint8_t level = 0; level < 4; ++level) {
    EXPECT_EQ(Inflate(Compress(input, false, 0, level), 15), input) << int(level);
    EXPECT_EQ(Inflate(Compress(input, true, 0, level), 31), input) << int(level);
  }
  EXPECT_THROW(TVTCompressionStream(4), ERangeError);
}

TEST(CompressionStream, MisuseRaisesCompressionErrors) {
  TVTCompressionStream z(1);
  z.Write("x");
  try {
    z.SetGzip(true);
    FAIL() << "framing changed after data";
  } catch (const EZCompressionError& e) {
    EXPECT_EQ(e.ErrorCode(), Z_STREAM_ERROR);
    EXPECT_EQ(e.Message(), "Stream error");
  }
  z.Finish();
  EXPECT_THROW(z.Write("y"), EZCompressionError);
  // A stream dropped half-way (a failed relay) ends zlib's state itself.
  TVTCompressionStream halfway(1);
  halfway.Write(RandomBytes(100000, 3));
}

TEST(CompressionStream, ErrorTexts) {
  const std::pair<int, const char*> table[] = {
      {2, "Need dictionary"}, {1, "Stream end"},   {0, "OK"},         {-1, "File error"},
      {-2, "Stream error"},   {-3, "Data error"},  {-4, "Insufficient memory"},
      {-5, "Buffer error"},   {-6, "Incompatible version"}, {-7, ""},
  };
  for (const auto& [code, text] : table) {
    const EZCompressionError e(code);
    EXPECT_EQ(e.Message(), text);
    EXPECT_EQ(e.ErrorCode(), code);
  }
  const EZCompressionError e(-5);
  const EZLibError& base = e;
  EXPECT_STREQ(base.ClassName(), "EZCompressionError");
  EXPECT_STREQ(EZLibError("x", 1).ClassName(), "EZLibError");
}

// The size field of the trailer is the input size modulo 2^32 (RFC 1952), so
// bodies over 4 GiB still end in a valid member.
TEST(CompressionStream, TrailerSizeIsModulo4GiB) {
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(GzipTrailerBytes(0x11223344u, 38).data()), 8)),
            "4433221126000000");
  const auto big = GzipTrailerBytes(0, (uint64_t{1} << 32) + 5);
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(big.data()), 8)), "0000000005000000");
  const auto max = GzipTrailerBytes(0, 0xFFFFFFFFull);
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<const char*>(max.data() + 4), 4)), "ffffffff");
}

TEST(CRC32, StandardCheckValueInPieces) {
  const std::string s = "123456789";
  EXPECT_EQ(~UpdateCRC32(0xFFFFFFFFu, s.data(), s.size()), 0xCBF43926u);
  uint32_t crc = UpdateCRC32(0xFFFFFFFFu, s.data(), 4);
  crc = UpdateCRC32(crc, s.data() + 4, 5);
  EXPECT_EQ(~crc, 0xCBF43926u);
  EXPECT_EQ(UpdateCRC32(0x12345678u, nullptr, 10), 0x12345678u);
}
