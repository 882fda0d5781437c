#include "Common/StrFunctions.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {

TEST(StrFunctions, TextHelpersTable) {
  struct Case {
    std::string got, want;
  };
  const Case cases[] = {
      {LeftOf(":", "abc", true), "abc"},
      {LeftOf(":", "abc", false), ""},
      {LeftOf(":", "a:b:c", false), "a"},
      {LeftOf("::", "a::b", false), "a"},
      {RightOf(":", "a:b:c", false), "b:c"},
      {RightOf(":", "abc", true), "abc"},
      {RightOf(":", "abc", false), ""},
      {RightOf(":", "abc:", false), ""},
      {SecondField(":", "a:b:c"), "b"},
      {SecondField(":", "a:b"), ""},  // no second separator
      {TextBetween("VTSession=", ";", "x=1; VTSession=5;"), "5"},
      {TextBetween("VTSession=", ";", "x=1; VTSession=5"), ""},
      {TextBetween("[", "]", "no brackets"), ""},
      {RightStr("abcdef", 2), "ef"},
      {RightStr("ab", 5), "ab"},
      {RightStr("ab", -1), ""},
      {LeftStr("abcdef", 2), "ab"},
      {LeftStr("ab", 5), "ab"},
      {LeftStr("ab", -3), ""},
      {PadLeft("0", "7", 2), "07"},
      {PadLeft("0", "123", 2), "123"},
      {PadLeft("ab", "x", 4), "ababx"},  // whole pads until the width is reached
      {PadLeft("", "7", 5), "7"},         // an empty pad would never get there
      {PadLeft("0", "", 3), "000"},
      {IfThenStr(true, "a", "b"), "a"},
      {IfThenStr(false, "a", "b"), "b"},
      {ReplaceAll("ab", "b", "aab"), "ab"},  // the result is not searched again
      {ReplaceAll("a", "aa", "aXa"), "aaXaa"},
      {ReplaceAll("", "x", "abc"), "abc"},
      {ReplaceAll("/", "\\", "a/b/c"), "a\\b\\c"},
      {RemoveTrailing("/", "a///"), "a"},
      {RemoveTrailing("/", "///"), ""},
      {RemoveTrailing("/", "a/b"), "a/b"},
      {RemoveTrailing("ab", "xabab"), "x"},
      {RemoveTrailing("", "a//"), "a//"},  // an empty suffix would never end
  };
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
}

TEST(StrFunctions, FastPosAndStartsWith) {
  EXPECT_EQ(FastPos("b", "abcb"), 2);
  EXPECT_EQ(FastPos("", "abc"), 0);
  EXPECT_EQ(FastPos("abcd", "abc"), 0);
  EXPECT_EQ(FastPos("B", "abc"), 0);  // case-sensitive
  EXPECT_EQ(FastPos("abc", "abc"), 1);
  EXPECT_TRUE(StartsWith("", "abc", true));
  EXPECT_TRUE(StartsWith("AB", "abc", false));
  EXPECT_FALSE(StartsWith("AB", "abc", true));
  EXPECT_FALSE(StartsWith("abcd", "abc", false));
}

TEST(StrFunctions, SplitAtAndCutFieldAlias) {
  std::string l = "old", r = "old";
  SplitAt(":", "abc", l, false, r);
  EXPECT_EQ(l, "");
  EXPECT_EQ(r, "abc");
  SplitAt("=", " name = value ", l, true, r);
  EXPECT_EQ(l, "name");
  EXPECT_EQ(r, "value");
  SplitAt("=", " name = value ", l, false, r);
  EXPECT_EQ(l, " name ");
  EXPECT_EQ(r, " value ");

  // Right may be the caller's S.
  std::string s = "a,b,c", field;
  CutField(",", s, field);
  EXPECT_EQ(field, "a");
  EXPECT_EQ(s, "b,c");
  CutField(",", s, field);
  CutField(",", s, field);
  EXPECT_EQ(field, "");  // no separator left: Field empty, S stays
  EXPECT_EQ(s, "c");
}

TEST(StrFunctions, RandomStringDrawsFromTheSet) {
  RandSeed(7);
  const TByteSet digits = CharRange('0', '9');
  const std::string r = RandomString(200, digits | CharRange('a', 'c'));
  ASSERT_EQ(r.size(), 200u);
  std::set<char> seen(r.begin(), r.end());
  for (char c : seen) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'c')) << c;
  EXPECT_EQ(seen.size(), 13u);
  EXPECT_EQ(RandomString(0, digits), "");
  EXPECT_EQ(RandomString(3, CharRange('x', 'x')), "xxx");
  try {
    RandomString(3, TByteSet());
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "You must set AAllowed to a range of allowed characters!");
  }
}

}  // namespace
