#include <gtest/gtest.h>

#include <string>

#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

// SameText compares eight bytes at a time; it must agree with the
// byte-by-byte rule for every byte value, at every position and length.
TEST(SameText, AgreesWithCompareTextForAllBytes) {
  RandSeed(11);
  const std::string alphabet = "aAzZ@[`{09 \x80\xc1\xe1\xff-._";
  for (int round = 0; round < 20000; ++round) {
    const int length = Random(20);
    std::string a, b;
    for (int i = 0; i < length; ++i) {
      a += static_cast<char>(Random(3) == 0 ? Random(256) : alphabet[Random(static_cast<int>(alphabet.size()))]);
      const char c = a.back();
      const int change = Random(4);
      b += change == 0 ? static_cast<char>(Random(256))
           : change == 1 && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32)
           : change == 1 && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32)
                                                 : c;
    }
    ASSERT_EQ(SameText(a, b), CompareText(a, b) == 0) << a << " / " << b;
  }
  EXPECT_TRUE(SameText("www.Example.COM/abc", "WWW.example.com/ABC"));
  EXPECT_FALSE(SameText("www.example.com/abc", "www.example.com/abd"));
  EXPECT_FALSE(SameText("\xe1", "\xc1"));
  EXPECT_FALSE(SameText("abcdefgh@", "ABCDEFGH`"));
  EXPECT_FALSE(SameText("abc", "abcd"));
}

}  // namespace
