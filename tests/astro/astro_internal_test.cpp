// The helpers every function leans on, with their odd edges.
#include "astro_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>

TEST(AstroInternals, RoundIntTruncatesExceptJustAboveZeroAndSaturates) {
  const std::pair<double, int32_t> cases[] = {
      {-1.7, -1}, {-0.2, 0}, {0.3, 1}, {0.5, 1}, {0.7, 0}, {2.9, 2}, {0.0, 0}, {1.0, 1}, {-3.0, -3}, {1e-300, 1},
      // Never outside the 32-bit range; NaN gives 0.
      {NAN, 0}, {1e12, INT32_MAX}, {-1e12, INT32_MIN}, {INFINITY, INT32_MAX}, {2147483647.9, INT32_MAX},
      {-2147483648.9, INT32_MIN}};
  for (const auto& [x, want] : cases) EXPECT_EQ(round_int(x), want) << x;
}

TEST(AstroInternals, Range24hKeepsTwentyFour) {
  // A tiny negative time rounds up to the end of the day, as one step of
  // adding 24 does.
  const std::pair<double, double> cases[] = {{-1, 23}, {49, 1},   {24, 24},       {48, 24},        {0, 0},
                                             {-24, 0}, {-48, 0}, {12.25, 12.25}, {-0.25, 23.75}, {-1e-20, 24}};
  for (const auto& [t, want] : cases) EXPECT_EQ(range24h(t), want) << t;
  // The same as wrapping step by step.
  for (double t = -100.0; t <= 100.0; t += 0.37) {
    double stepped = t;
    do {
      if (stepped > 24) stepped -= 24;
      if (stepped < 0) stepped += 24;
    } while (!(stepped >= 0 && stepped <= 24));
    EXPECT_EQ(range24h(t), stepped) << t;
  }
  const double nonNumbers[] = {NAN, INFINITY, -INFINITY};
  for (double t : nonNumbers) EXPECT_TRUE(std::isnan(range24h(t))) << t;
  const double huge = range24h(-1e300);
  EXPECT_TRUE(huge >= 0 && huge <= 24) << huge;
}

TEST(AstroInternals, Range360) {
  const std::pair<double, double> cases[] = {{-30, 330}, {720, 0}, {359.5, 359.5}, {-720, 0}, {1000, 280}};
  for (const auto& [x, want] : cases) EXPECT_EQ(range360(x), want) << x;
}
