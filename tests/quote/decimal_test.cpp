// The one grammar of numbers from outside: what it takes, and that no text
// is half read or overflows.
#include "decimal.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quote {
namespace {

TEST(Decimal, TakesDigitsWithAtMostOnePointBetweenThem) {
  double v = -1;
  EXPECT_TRUE(ParseDecimal("2", &v) && v == 2);
  EXPECT_TRUE(ParseDecimal("02.25", &v) && v == 2.25);
  for (const char* bad : {"", ".5", "5.", "1.2.3", "-1", "+1", "1e3", "0x10", " 1", "1 ", "١"})
    EXPECT_FALSE(ParseDecimal(bad, &v)) << bad;
}

TEST(Decimal, DigitsStopAtTheirBoundNeverPast64Bits) {
  uint64_t v = 0;
  EXPECT_TRUE(ParseDigits("0255", 255, &v) && v == 255);
  EXPECT_FALSE(ParseDigits("256", 255, &v));
  EXPECT_FALSE(ParseDigits("5", 4, &v));
  EXPECT_FALSE(ParseDigits("1", 0, &v));
  EXPECT_FALSE(ParseDigits("2.0", 255, &v)) << "no point in a whole number";
  EXPECT_FALSE(ParseDigits("", 255, &v));
  EXPECT_TRUE(ParseDigits("18446744073709551615", UINT64_MAX, &v) && v == UINT64_MAX);
  EXPECT_FALSE(ParseDigits("18446744073709551616", UINT64_MAX, &v));
  EXPECT_FALSE(ParseDigits("99999999999999999999999", UINT64_MAX, &v));
}

}  // namespace
}  // namespace quote
