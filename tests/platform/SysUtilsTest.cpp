#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>

namespace {

TEST(Format, DirectivesTable) {
  struct Case {
    std::string got, want;
  };
  const int64_t big = 5000000000LL;
  const Case cases[] = {
      {Format("%f", 30.0), "30.00"},  // a bare %f has two decimals
      {Format("%f", 2.0 / 3.0), "0.67"},
      {Format("%f", -1.005e-9), "0.00"},  // no "-0.00"
      {Format("%2.1f", 3.14159), "3.1"},
      {Format("%2.1f", 0.05), "0.1"},
      {Format("%8.2f", 12.345), "   12.35"},
      {Format("%8.1f", -2.26), "    -2.3"},
      {Format("%.0f", 2.7), "3"},
      {Format("%f", 7), "7.00"},  // an integer for %f is converted
      {Format("%d", 42), "42"},
      {Format("%d", -7), "-7"},
      {Format("%d", big), "5000000000"},  // 64-bit %d
      {Format("%d", INT64_MIN), "-9223372036854775808"},
      {Format("%d", UINT64_MAX), "18446744073709551615"},
      {Format("%u", 4000000000u), "4000000000"},
      {Format("%u", -1), "4294967295"},  // a 32-bit value keeps 32 bits
      {Format("%.4d", 7), "0007"},
      {Format("%.2d", 123), "123"},
      {Format("%.4d", -5), "-0005"},
      {Format("%5d|%-5d|", 42, 42), "   42|42   |"},
      {Format("%02d:%02d", 3, 14), "03:14"},
      {Format("%x %X %.4x", 255, 255u, 10), "FF FF 000A"},
      {Format("%x", -1), "FFFFFFFF"},
      {Format("%s=%s", "a", std::string("b")), "a=b"},
      {Format("[%5s][%-5s][%.2s]", "ab", "ab", "abcd"), "[   ab][ab   ][ab]"},
      {Format("100%%"), "100%"},
      {Format("%d%% of %s", 50, "x"), "50% of x"},
      {Format("%*d", 4, 9), "   9"},
      {Format("%ld %llu %zu", 1L, 2ULL, sizeof(int)), "1 2 4"},  // C length modifiers are harmless
      {Format("%d", true), "1"},
      {Format("no directives"), "no directives"},
      {Format("%s", ""), ""},
      {Format("%f", 1e308 * 10), "INF"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, ExtraArgumentsAreIgnored) { EXPECT_EQ(Format("%d", 1, 2), "1"); }

TEST(Format, BadDirectivesRaiseConvertError) {
  EXPECT_THROW(Format("%d"), EConvertError);          // missing argument
  EXPECT_THROW(Format("%d %d", 1), EConvertError);
  EXPECT_THROW(Format("%d", "text"), EConvertError);  // text for a number
  EXPECT_THROW(Format("%s", 5), EConvertError);       // number for a text
  EXPECT_THROW(Format("%d", 1.5), EConvertError);     // float for an integer
  EXPECT_THROW(Format("%k", 1), EConvertError);       // unknown directive
  EXPECT_THROW(Format("50%"), EConvertError);         // dangling %
  try {
    Format("%d", "x");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
    EXPECT_STREQ(e.ClassName(), "EConvertError");
  }
}

TEST(Exceptions, ClassNamesAndFixedTexts) {
  VT_DECLARE_EXCEPTION(ELocal, EConvertError);
  const ELocal local("boom");
  const Exception& base = local;
  EXPECT_STREQ(base.ClassName(), "ELocal");
  EXPECT_EQ(base.Message(), "boom");
  EXPECT_STREQ(base.what(), "boom");
  EXPECT_EQ(EAbort().Message(), "Operation aborted");
  EXPECT_EQ(EIntOverflow().Message(), "Integer overflow");
  EXPECT_EQ(ERangeError().Message(), "Range check error");
  EXPECT_EQ(EReadError().Message(), "Stream read error");
  EXPECT_STREQ(ERangeError().ClassName(), "ERangeError");
  EXPECT_NO_THROW(Assert(true, "never"));
  try {
    Assert(false, "There are no items in the list!");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "There are no items in the list!");
  }
}

TEST(CheckedArithmetic, RaisesAtTheEdges) {
  EXPECT_EQ(CheckedAdd(INT32_MAX - 1, 1), INT32_MAX);
  EXPECT_THROW(CheckedAdd(INT32_MAX, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub(INT32_MIN, 1), EIntOverflow);
  EXPECT_THROW(CheckedMul(65536, 65536), EIntOverflow);
  EXPECT_EQ(CheckedMul(-46340, 46340), -2147395600);
  EXPECT_THROW(CheckedAdd64(INT64_MAX, 1), EIntOverflow);
  EXPECT_THROW(CheckedSub64(INT64_MIN, 1), EIntOverflow);
  EXPECT_THROW(CheckedMul64(INT64_MIN, -1), EIntOverflow);
  EXPECT_EQ(CheckedAdd64(INT32_MAX, 1), 2147483648LL);
  EXPECT_EQ(CheckedToInt32(-2147483648LL), INT32_MIN);
  EXPECT_THROW(CheckedToInt32(2147483648LL), ERangeError);
  EXPECT_NO_THROW(CheckIndex(0, 1));
  EXPECT_THROW(CheckIndex(1, 1), ERangeError);
  EXPECT_THROW(CheckIndex(-1, 5), ERangeError);
  try {
    CheckedAdd(INT32_MAX, INT32_MAX);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Integer overflow");
  }
}

TEST(Conversions, StrToFloatRules) {
  EXPECT_EQ(StrToFloat(" 2.5 "), 2.5);
  EXPECT_EQ(StrToFloat("+1e2"), 100);
  EXPECT_EQ(StrToFloat("-0.25"), -0.25);
  EXPECT_EQ(StrToFloat("3"), 3);
  for (const char* bad : {"", " ", "abc", "1,5", "1.5x", "+-1", "1e999", "nan", "inf", "0x10"}) {
    try {
      StrToFloat(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid floating point value");
    }
  }
}

TEST(Conversions, StrToIntRules) {
  EXPECT_EQ(StrToInt(" 12 "), 12);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", " ", "12a", "2147483648", "1 2", "-", "$", "0x", "1.5"}) {
    EXPECT_EQ(StrToIntDef(bad, -99), -99) << bad;
  }
  EXPECT_EQ(StrToInt64Def("9223372036854775808", 5), 5);
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(UIntToStr(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0x12345, 2), "12345");
  EXPECT_EQ(FloatToStr(0.5), "0.5");
  EXPECT_EQ(FloatToStr(3), "3");
}

TEST(TextHelpers, CaseTrimPosCopy) {
  EXPECT_EQ(UpperCase("abc\xe4z"), "ABC\xe4Z");  // ASCII letters only
  EXPECT_EQ(LowerCase("AbC"), "abc");
  EXPECT_TRUE(SameText("Content-Length", "content-LENGTH"));
  EXPECT_FALSE(SameText("ab", "abc"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("b", "A"), 0);
  EXPECT_EQ(CompareText("", ""), 0);
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Pos("b", "abcb"), 2);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(Pos("B", "abc"), 0);
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abc", 0, 2), "ab");
  EXPECT_EQ(Copy("abc", 3, 100), "c");
  EXPECT_EQ(Copy("abc", 4, 1), "");
  EXPECT_EQ(Copy("abc", 1, -1), "");
  EXPECT_EQ(StringReplaceAll("aXbxc", "x", "--"), "aXb--c");
  EXPECT_EQ(StringReplaceAll("aXbxc", "x", "", true), "abc");
  EXPECT_EQ(StringReplaceAll("aaa", "aa", "a"), "aa");
  EXPECT_EQ(StringReplaceAll("abc", "", "z"), "abc");
}

class FileHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt-sysutils-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(FileHelpers, FoldersFilesAndNames) {
  const std::string deep = dir_ + "/a/b/c/";
  EXPECT_FALSE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));  // already there
  EXPECT_FALSE(FileExists(deep));       // a folder is not a file
  EXPECT_FALSE(ForceDirectories(""));

  const std::string f = deep + "x.txt";
  { FILE* fp = fopen(f.c_str(), "w"); ASSERT_NE(fp, nullptr); fclose(fp); }
  EXPECT_TRUE(FileExists(f));
  EXPECT_TRUE(RenameFile(f, deep + "y.txt"));
  EXPECT_FALSE(FileExists(f));
  EXPECT_TRUE(DeleteFile(deep + "y.txt"));
  EXPECT_FALSE(DeleteFile(deep + "y.txt"));

  { FILE* fp = fopen(f.c_str(), "w"); ASSERT_NE(fp, nullptr); fclose(fp); }
  EXPECT_FALSE(ForceDirectories(f + "/sub"));  // a file is in the way

  EXPECT_EQ(ExtractFilePath("data/settings.dat"), "data/");
  EXPECT_EQ(ExtractFilePath("settings.dat"), "");
  EXPECT_EQ(ExtractFileName("data/settings.dat"), "settings.dat");
  EXPECT_EQ(ExtractFileExt("data/settings.dat"), ".dat");
  EXPECT_EQ(ExtractFileExt("data.d/settings"), "");
  EXPECT_EQ(IncludeTrailingPathDelimiter("Log"), "Log/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("Log/"), "Log/");
  EXPECT_FALSE(GetCurrentDir().empty());
}

}  // namespace
