#include "Common/uChunked.h"

#include <gtest/gtest.h>

TEST(ChunkSize, SizeTextStopsAtExtensionOrBlank) {
  EXPECT_EQ(ChunkSizeText("1a2b"), "1a2b");
  EXPECT_EQ(ChunkSizeText("1a ext"), "1a");
  EXPECT_EQ(ChunkSizeText("1a;name=v"), "1a");
  EXPECT_EQ(ChunkSizeText("1a\t; x"), "1a");
  EXPECT_EQ(ChunkSizeText("0"), "0");
  EXPECT_EQ(ChunkSizeText(""), "");
}

TEST(ChunkSize, ParseTable) {
  struct Case {
    const char* text;
    std::optional<int64_t> size;
  };
  const Case cases[] = {
      {"1a2b", 6699},
      {"1A2B", 6699},
      {"0", 0},
      {"000010", 16},
      {"7fffffffffffffff", INT64_MAX},
      {"8000000000000000", std::nullopt},  // past 63 bits
      {"10000000000000000", std::nullopt},
      {"", std::nullopt},
      {"xyz", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"0x10", std::nullopt},
      {"1g", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseChunkSize(c.text), c.size) << '"' << c.text << '"';
  }
}
