#include <gtest/gtest.h>

#include "Common/uConfigTables.h"
#include "platform/Random.h"
#include "tests/Common/SettingsBytes.h"

namespace {
std::vector<uint8_t> AsBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
}  // namespace

TEST(XorString, KnownVectorsAndInverse) {
  EXPECT_EQ(AsBytes(XorString("Admin", UserNameKey)), Bytes().hex("30 53 1B 31 03").get());
  EXPECT_EQ(AsBytes(XorString("pass", PasswordKey)), Bytes().hex("1D 55 52 21").get());
  EXPECT_EQ(AsBytes(XorString("secret", PasswordKey)), Bytes().hex("1E 51 42 20 11 4C").get());
  EXPECT_EQ(XorString("", UserNameKey), "");

  // Byte 49 uses the key's first byte again.
  const std::string longText(51, 'A');
  const std::string scrambled = XorString(longText, UserNameKey);
  ASSERT_EQ(scrambled.size(), 51u);
  EXPECT_EQ(static_cast<uint8_t>(scrambled[48]), 0x41 ^ static_cast<uint8_t>(UserNameKey[49]));
  EXPECT_EQ(static_cast<uint8_t>(scrambled[49]), 0x41 ^ 0x54);
  EXPECT_EQ(static_cast<uint8_t>(scrambled[50]), 0x41 ^ static_cast<uint8_t>(UserNameKey[1]));

  const std::string binary("\x00\xff\x80 \xe9z", 6);
  EXPECT_EQ(XorString(XorString(binary, PasswordKey), PasswordKey), binary);
}

TEST(CollapseSlashes, RunsBecomeOneSlash) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {"/", "/"}, {"//", "/"}, {"a//b///c", "a/b/c"}, {"////x//", "/x/"}, {"no/slash/run", "no/slash/run"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(CollapseSlashes(in), out) << in;
  EXPECT_EQ(CollapseSlashes(std::string(100000, '/')), "/");
}

TEST(CleanHeaderList, RemovesOnlyEmptyLines) {
  TStringList list;
  list.SetText("\r\nA: 1\r\n\r\n \r\nB: 2\r\n\r\n");
  CleanHeaderList(list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], "A: 1");
  EXPECT_EQ(list[1], " ");
  EXPECT_EQ(list[2], "B: 2");
}

TEST(DisplayTables, IndexedByStoredValue) {
  EXPECT_STREQ(DenyActionText(3), "Send File");
  EXPECT_STREQ(MatchStatusText(8), "RedirectHTTPS");
  EXPECT_STREQ(CheckMethodText(1), "Perform GET document");
  EXPECT_STREQ(CheckMethodText(2), "");
  EXPECT_STREQ(SSLVersionText(3), "TLS Version 1");
  // A byte from a file may be anything.
  EXPECT_STREQ(DenyActionText(255), "");
  EXPECT_STREQ(SSLVersionText(-1), "");
}

TEST(NewConfigId, StaysInRange) {
  RandSeed(7);
  for (int i = 0; i < 10000; ++i) {
    const int32_t id = NewConfigId();
    ASSERT_GE(id, 1);
    ASSERT_LE(id, 2147483646);
  }
}
