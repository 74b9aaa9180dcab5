#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "CarbonStandin.h"

namespace {

extended80 ToX80(long double x) {
  extended80 e;
  ldtox80(&x, &e);
  return e;
}

bool SameBits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

TEST(Extended80, KnownEncodings) {
  struct Case {
    long double value;
    UInt16 exp, man0;
  } cases[] = {{1.0L, 0x3FFF, 0x8000}, {8.5L, 0x4002, 0x8800}, {-0.5L, 0xBFFE, 0x8000}, {0.0L, 0, 0}};
  for (const Case& c : cases) {
    extended80 e = ToX80(c.value);
    EXPECT_EQ(static_cast<UInt16>(e.exp), c.exp) << static_cast<double>(c.value);
    EXPECT_EQ(e.man[0], c.man0);
    EXPECT_EQ(e.man[1] | e.man[2] | e.man[3], 0);
  }
  extended80 negZero = ToX80(-0.0L);
  EXPECT_EQ(static_cast<UInt16>(negZero.exp), 0x8000);
}

TEST(Extended80, EveryKindOfNumberRoundTripsBitForBit) {
  const long double values[] = {0.0L,
                                -0.0L,
                                -0.5L,
                                8.5L,
                                1e300L,
                                -1e-300L,
                                1e4000L,
                                0.1L,
                                LDBL_MAX,
                                -LDBL_MAX,
                                LDBL_MIN,
                                LDBL_MIN / 3,
                                LDBL_TRUE_MIN,
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity(),
                                std::numeric_limits<long double>::quiet_NaN(),
                                3.141592653589793238462643L};
  for (long double v : values) {
    extended80 e = ToX80(v);
    long double back = x80told(&e);
    EXPECT_TRUE(SameBits(v, back)) << static_cast<double>(v);
  }
}

TEST(Extended80, DenormalKeepsItsMantissaAndZeroExponent) {
  long double d = LDBL_TRUE_MIN * 5;
  extended80 e = ToX80(d);
  EXPECT_EQ(e.exp, 0);
  EXPECT_EQ(e.man[3], 5);
  EXPECT_EQ(x80told(&e), d);
}

TEST(Extended80, HandBuiltValueReadsBack) {
  extended80 e = {0x4005, {0xC800, 0, 0, 0}};  // 1.5625 * 2^6 = 100
  EXPECT_EQ(x80told(&e), 100.0L);
}

}  // namespace
