// The helpers every function leans on, with their odd edges.
#include "astro_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

TEST(AstroInternals, RoundIntTruncatesExceptJustAboveZero) {
  EXPECT_EQ(round_int(-1.7), -1);
  EXPECT_EQ(round_int(-0.2), 0);
  EXPECT_EQ(round_int(0.3), 1);
  EXPECT_EQ(round_int(0.5), 1);
  EXPECT_EQ(round_int(0.7), 0);
  EXPECT_EQ(round_int(2.9), 2);
  EXPECT_EQ(round_int(0.0), 0);
  EXPECT_EQ(round_int(1.0), 1);
  EXPECT_EQ(round_int(-3.0), -3);
  EXPECT_EQ(round_int(1e-300), 1);
}

TEST(AstroInternals, RoundIntNeverLeavesThe32BitRange) {
  EXPECT_EQ(round_int(NAN), 0);
  EXPECT_EQ(round_int(1e12), INT32_MAX);
  EXPECT_EQ(round_int(-1e12), INT32_MIN);
  EXPECT_EQ(round_int(INFINITY), INT32_MAX);
  EXPECT_EQ(round_int(2147483647.9), INT32_MAX);
  EXPECT_EQ(round_int(-2147483648.9), INT32_MIN);
}

TEST(AstroInternals, Range24hKeepsTwentyFour) {
  EXPECT_EQ(range24h(-1), 23);
  EXPECT_EQ(range24h(49), 1);
  EXPECT_EQ(range24h(24), 24);
  EXPECT_EQ(range24h(48), 24);
  EXPECT_EQ(range24h(0), 0);
  EXPECT_EQ(range24h(-24), 0);
  EXPECT_EQ(range24h(-48), 0);
  EXPECT_EQ(range24h(12.25), 12.25);
  EXPECT_EQ(range24h(-0.25), 23.75);
  // A tiny negative time rounds up to the end of the day, as one step of
  // adding 24 does.
  EXPECT_EQ(range24h(-1e-20), 24);
}

TEST(AstroInternals, Range24hMatchesStepByStepWrapping) {
  for (double t = -100.0; t <= 100.0; t += 0.37) {
    double stepped = t;
    do {
      if (stepped > 24) stepped -= 24;
      if (stepped < 0) stepped += 24;
    } while (!(stepped >= 0 && stepped <= 24));
    EXPECT_EQ(range24h(t), stepped) << t;
  }
}

TEST(AstroInternals, Range24hNonNumbers) {
  EXPECT_TRUE(std::isnan(range24h(NAN)));
  EXPECT_TRUE(std::isnan(range24h(INFINITY)));
  EXPECT_TRUE(std::isnan(range24h(-INFINITY)));
  double huge = range24h(-1e300);
  EXPECT_GE(huge, 0);
  EXPECT_LE(huge, 24);
}

TEST(AstroInternals, Range360) {
  EXPECT_EQ(range360(-30), 330);
  EXPECT_EQ(range360(720), 0);
  EXPECT_EQ(range360(359.5), 359.5);
  EXPECT_EQ(range360(-720), 0);
  EXPECT_EQ(range360(1000), 280);
}
