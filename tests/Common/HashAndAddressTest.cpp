#include <gtest/gtest.h>

#include "Common/GeneralHashfunctions.h"
#include "Common/uIPMisc.h"

namespace {

TEST(GeneralHashfunctions, APHashKnownValues) {
  EXPECT_EQ(APHash(""), 0u);
  EXPECT_EQ(APHash("a"), 4294967198u);
  EXPECT_EQ(APHash("abc"), 512210667u);
  EXPECT_NE(APHash("10.0.0.1"), APHash("10.0.0.2"));
  EXPECT_EQ(APHash(std::string("\xff\x00", 2)), APHash(std::string("\xff\x00", 2)));
}

TEST(uIPMisc, IsValidIPAddressTable) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"10.0.0.1", true},
      {"010.0.0.1", true},
      {"0.0.0.0", true},
      {"255.255.255.255", true},
      {"", false},
      {"1.2.3", false},
      {"1..2.3", false},
      {"1.2.3.256", false},
      {" 1.2.3.4", false},
      {"1.2.3.4 ", false},
      {"1.2.3.4.5", false},
      {"1.2.3.", false},
      {".1.2.3", false},
      {"a.b.c.d", false},
      {"1.2.3.-4", false},
      {"1.2.3.0004", true},  // leading zeros are digits like any other
      // Inputs whose parts leave 32 bits or that are very long: answered, not raised.
      {"1.2.3.99999999999999999999", false},
      {"4294967296.0.0.1", false},
      {"1.2.3." + std::string(300, '0') + "1", true},
      {std::string(1000, '.'), false},
      {std::string(100000, '9'), false},
      {std::string("1.2.3.4\0", 8), false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidIPAddress(c.text), c.valid) << c.text.substr(0, 40);
}

}  // namespace
