// The library as its consumers see it: loaded with dlopen, every function
// found by name, so a missing or misnamed export fails here. That the
// library exports nothing else is checked by check_exports.cmake.
#include <astro.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

template <typename Fn>
Fn* Symbol(const char* name) {
  static void* lib = dlopen(ASTRO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (!lib) throw std::runtime_error(std::string("cannot load ") + ASTRO_LIBRARY);
  void* p = dlsym(lib, name);
  if (!p) throw std::runtime_error(std::string("not exported: ") + name);
  return reinterpret_cast<Fn*>(p);
}

// The header's declaration gives the type; the library gives the address.
#define ASTRO(name) (Symbol<decltype(::name)>(#name))

// A worked value: the call, its result, the value it should have and the
// tolerance. kUlps asks for equality within four units in the last place;
// a NaN value asks for a NaN.
struct Worked {
  const char* call;
  double got, want, tol;
};
constexpr double kUlps = -1;
constexpr double k6 = 5e-7;  // last printed digit of a worked value, halved
constexpr double k4 = 5e-5;
#define W(call, want, tol) Worked{#call, call, want, tol}

void Check(std::initializer_list<Worked> values) {
  for (const Worked& v : values) {
    if (std::isnan(v.want))
      EXPECT_TRUE(std::isnan(v.got)) << v.call << " gave " << v.got;
    else if (v.tol == kUlps)
      EXPECT_DOUBLE_EQ(v.got, v.want) << v.call;
    else
      EXPECT_NEAR(v.got, v.want, v.tol) << v.call;
  }
}

// sun and moon write their two outputs last and return 0.
template <typename Fn, typename... Args>
std::pair<double, double> Pair(Fn* fn, Args... args) {
  double a = -1, b = -1;
  EXPECT_EQ(fn(args..., &a, &b), 0);
  return {a, b};
}

// 45.5 N, 10.2 E.
constexpr double kLat = 45.5, kLon = 10.2, kHeight = 100;

}  // namespace

TEST(Astro, AnglesInDegrees) {
  Check({W(ASTRO(DegSin)(30), 0.5, 1e-15), W(ASTRO(DegCos)(60), 0.5, 1e-15), W(ASTRO(DegTan)(45), 1.0, 1e-15),
         W(ASTRO(DegArcsin)(0.5), 30, 1e-12), W(ASTRO(DegArccos)(0.5), 60, 1e-12),
         W(ASTRO(DegArctan)(-1), -45, 1e-12), W(ASTRO(DegArccos)(1.5), NAN, 0), W(ASTRO(DegArcsin)(-1.5), NAN, 0),
         // atan2 over the full circle, one case per quadrant and axis.
         W(ASTRO(DegAtan2)(-1, -1), 225, kUlps), W(ASTRO(DegAtan2)(-1, 0), 270, kUlps),
         W(ASTRO(DegAtan2)(0, -1), 180, kUlps), W(ASTRO(DegAtan2)(1, 1), 45, kUlps),
         W(ASTRO(DegAtan2)(1, -1), 135, kUlps), W(ASTRO(DegAtan2)(-1, 1), 315, kUlps),
         W(ASTRO(DegAtan2)(0, 1), 0, kUlps),
         // The parts are added as given, signs and all.
         W(ASTRO(degdecimal)(10, 30, 36), 10.51, kUlps), W(ASTRO(degdecimal)(-10, 30, 0), -9.5, kUlps),
         W(ASTRO(degdecimal)(-10, -30, -36), -10.51, kUlps)});
}

TEST(Astro, JulianDaysAndTheCalendarSwitch) {
  auto jday = ASTRO(jday);
  auto day2000 = ASTRO(day2000);
  Check({W(jday(2000, 1, 1, 12, 0, 0.0), 2451545.0, 0), W(jday(1990, 1, 0, 0, 0, 0.0), 2447891.5, 0),
         W(jday(2000, 1, 1, 18, 0, 0.0), 2451545.25, 0),
         W(jday(2000, 1, 1, 12, 30, 36.0), 2451545.0 + 1836.0 / 86400, 1e-9),
         // Gregorian from 1582-10-15; 1900 is no leap year there, 1500 is one in the Julian.
         W(jday(1582, 10, 15, 0, 0, 0.0), 2299160.5, 0), W(jday(1582, 10, 4, 0, 0, 0.0), 2299159.5, 0),
         W(jday(1900, 3, 1, 0, 0, 0.0) - jday(1900, 2, 28, 0, 0, 0.0), 1.0, 0),
         W(jday(1500, 3, 1, 0, 0, 0.0) - jday(1500, 2, 28, 0, 0, 0.0), 2.0, 0),
         W(jday(2000, 3, 1, 0, 0, 0.0) - jday(2000, 2, 28, 0, 0, 0.0), 2.0, 0),
         // Nothing before the year -4712.
         W(jday(-4712, 1, 1, 12, 0, 0.0), 0.0, 0), W(jday(-4712, 1, 2, 12, 0, 0.0), 1.0, 0),
         W(jday(-4713, 12, 31, 23, 59, 59.0), 0.0, 0), W(day2000(-5000, 6, 1, 0, 0, 0.0), 0.0, 0),
         // Days and centuries from J2000. The epoch is taken off before the
         // fraction of the day goes in, so a millisecond keeps its digits.
         W(day2000(2000, 1, 1, 12, 0, 0.0), 0.0, 0), W(day2000(2000, 1, 2, 0, 0, 0.0), 0.5, 0),
         W(day2000(2000, 1, 1, 12, 0, 0.001), 0.001 / 86400, kUlps),
         W(ASTRO(jcentury)(2451545.0 + 36525), 1.0, kUlps), W(ASTRO(jcentury)(2451545.0), 0.0, kUlps),
         W(ASTRO(century2000)(-36525 / 2.0), -0.5, kUlps)});
  for (int month = 1; month <= 12; ++month) EXPECT_EQ(jday(-4713, month, 15, 18, 30, 10.0), 0.0) << month;
}

TEST(Astro, SiderealTime) {
  auto to_local = ASTRO(TSG_to_TSL);
  auto to_greenwich = ASTRO(TSL_to_TSG);
  Check({W(ASTRO(TU_to_TSG)(1980, 4, 22, 14, 36, 51.67), 4.668119, k6),
         W(ASTRO(TSG_to_TU)(1980, 4, 22, 4, 40, 5.23), 14.614353, k6), W(ASTRO(B_const)(1979), 17.395559, k6),
         W(to_local(23, 30), 1, kUlps), W(to_greenwich(1, 30), 23, kUlps), W(to_local(10, -45), 7, kUlps),
         // The day's edges: below 0 and above 24 wrap, 24 itself stays.
         W(to_local(-1, 0), 23, kUlps), W(to_local(49, 0), 1, kUlps), W(to_local(24, 0), 24, kUlps),
         W(to_local(48, 0), 24, kUlps), W(to_local(-24, 0), 0, kUlps),
         W(to_greenwich(-24 * 41667 - 0.5, 0), 23.5, kUlps),
         // Non-numbers pass through without hanging.
         W(to_local(NAN, 0), NAN, 0), W(to_local(INFINITY, 0), NAN, 0), W(to_local(-INFINITY, 0), NAN, 0)});
  const double huge = to_local(1e300, 0);
  EXPECT_TRUE(huge >= 0 && huge <= 24) << huge;
  // Universal to sidereal time and back.
  for (int hour : {1, 7, 13, 19}) {
    const double g = ASTRO(TU_to_TSG)(2011, 6, 21, hour, 20, 0.0);
    const int h = static_cast<int>(g), m = static_cast<int>((g - h) * 60);
    EXPECT_NEAR(ASTRO(TSG_to_TU)(2011, 6, 21, h, m, (g - h - m / 60.0) * 3600), hour + 20 / 60.0, 1e-6) << hour;
  }
}

TEST(Astro, TheSphere) {
  auto obliquity = ASTRO(obliquity);
  auto refraction = ASTRO(offset_refraction);
  Check({// On the equator every body is up for twelve hours, whatever the date.
         W(ASTRO(rise_TSL)(2011, 1, 1, 0, 3, 0), 21, 1e-12), W(ASTRO(set_TSL)(2011, 1, 1, 0, 3, 0), 9, 1e-12),
         W(ASTRO(set_TSL)(2011, 1, 1, 23.4, 20, 0), 2, 1e-12),
         W(ASTRO(rise_TSL)(1900, 5, 5, 20, 6, 45), ASTRO(rise_TSL)(2050, 9, 9, 20, 6, 45), 0),
         // Circumpolar bodies never rise or set.
         W(ASTRO(rise_TSL)(2011, 1, 1, 20, 5, 80), NAN, 0), W(ASTRO(set_TSL)(2011, 1, 1, -20, 5, 80), NAN, 0),
         W(refraction(0, 0, 0.8356083333333333), 0.0557072, 5e-8), W(refraction(10, 45, 0), 0.0, 0),
         // The T^2 term: a century either side of J2000 gives nearly the same value.
         W(obliquity(2000, 1, 1), 23.452294, k6), W(obliquity(2100, 1, 1), 23.439291, k6),
         W(obliquity(1900, 1, 1), obliquity(2100, 1, 1), 1e-5)});
  EXPECT_GT(refraction(20, 60, 0.8356), refraction(20, 30, 0.8356));

  auto convert = ASTRO(ecliptic_to_equatorial);
  const double eps = obliquity(2011, 3, 20);
  double ra = -1, dec = -1;
  const struct { double lon, lat, ra, dec; } cases[] = {{0, 0, 0, 0}, {90, 0, 90, eps}, {270, 0, 270, -eps}};
  for (const auto& c : cases) {
    EXPECT_EQ(convert(2011, 3, 20, &ra, &dec, c.lon, c.lat), 0);
    EXPECT_NEAR(ra, c.ra, 1e-12) << c.lon;
    EXPECT_NEAR(dec, c.dec, 1e-12) << c.lon;
  }
  convert(2011, 3, 20, &ra, &dec, 180, 10);
  EXPECT_TRUE(ra > 180 && ra < 360) << ra;
  EXPECT_NEAR(dec, 10 * ASTRO(DegCos)(eps), 0.5);
}

TEST(Astro, NullOutputsAreRefusedWithoutWriting) {
  double a = 12345, b = 12345;
  EXPECT_EQ(ASTRO(ecliptic_to_equatorial)(2011, 1, 1, nullptr, &b, 10, 1), -1);
  EXPECT_EQ(ASTRO(ecliptic_to_equatorial)(2011, 1, 1, &a, nullptr, 10, 1), -1);
  for (auto fn : {ASTRO(sun), ASTRO(moon)}) {
    EXPECT_EQ(fn(2011, 1, 1, 0, 0, 0.0, nullptr, &b), -1);
    EXPECT_EQ(fn(2011, 1, 1, 0, 0, 0.0, &a, nullptr), -1);
    EXPECT_EQ(fn(2011, 1, 1, 0, 0, 0.0, nullptr, nullptr), -1);
  }
  EXPECT_EQ(a, 12345);
  EXPECT_EQ(b, 12345);
}

TEST(Astro, SunAndMoonPositionsAndPhases) {
  const auto [sunLon, sunLat] = Pair(ASTRO(sun), 1988, 7, 27, 0, 0, 0.0);
  const auto [moonLon, moonLat] = Pair(ASTRO(moon), 2011, 4, 13, 0, 0, 0.0);
  auto phase = ASTRO(moon_phase);
  Check({W(sunLon, 124.174015, k6), W(sunLat, 0.0, 0), W(moonLon, 131.789998, k6), W(moonLat, -3.646343, k6),
         W(phase(2011, 4, 18, 2, 44, 0.0), 1.0, 1e-3),    // full
         W(phase(2011, 5, 3, 6, 51, 0.0), 0.0, 1e-3),     // new
         W(phase(2011, 5, 10, 20, 33, 0.0), 0.5, 1e-3)});  // first quarter
  // The Sun's longitude stays in the circle and advances about a degree a day.
  double previous = Pair(ASTRO(sun), 2010, 12, 31, 0, 0, 0.0).first;
  for (int day = 1; day <= 365; ++day) {
    const double lon = Pair(ASTRO(sun), 2011, 1, day, 0, 0, 0.0).first;
    ASSERT_TRUE(lon >= 0 && lon < 360) << lon;
    const double step = lon - previous + (lon < previous ? 360 : 0);
    EXPECT_TRUE(step > 0.95 && step < 1.02) << day << ": " << step;
    previous = lon;
  }
}

TEST(Astro, RiseSetAndTwilight) {
  auto morning = ASTRO(morning_twilight);
  auto evening = ASTRO(evening_twilight);
  Check({// Local sidereal times; the sunset is not brought back into the day.
         W(ASTRO(sun_rise)(2011, 6, 21, kLat, kLon), 22.1198, k4), W(ASTRO(sun_set)(2011, 6, 21, kLat, kLon), 37.8519, k4),
         W(morning(2011, 6, 21, kLat, kLon), 0.7796, k4), W(evening(2011, 6, 21, kLat, kLon), 21.9239, k4),
         W(morning(2011, 12, 21, kLat, kLon), 5.0460, k4), W(evening(2011, 12, 21, kLat, kLon), 17.5296, k4),
         W(ASTRO(moon_rise)(2011, 2, 16, kLat, kLon, kHeight), 14.6399, k4),
         W(ASTRO(moon_set)(2011, 3, 1, kLat, kLon, kHeight), 13.9455, k4),
         W(ASTRO(moon_set_iterate)(2011, 3, 1, kLat, kLon, kHeight), 15.1233, k4),
         // At 60 N the June sun sets but never gets 18 degrees below the horizon;
         // midnight sun at 80 N, polar night at 80 S; a moon that stays up or down.
         W(morning(2011, 6, 21, 60, kLon), NAN, 0), W(evening(2011, 6, 21, 60, kLon), NAN, 0),
         W(ASTRO(sun_rise)(2011, 6, 21, 80, kLon), NAN, 0), W(ASTRO(sun_set)(2011, 6, 21, -80, kLon), NAN, 0),
         W(ASTRO(moon_rise)(2011, 2, 12, 80, kLon, kHeight), NAN, 0),
         W(ASTRO(moon_set)(2011, 2, 12, 80, kLon, kHeight), NAN, 0),
         W(ASTRO(moon_set_iterate)(2011, 2, 12, 80, kLon, kHeight), NAN, 0)});
  EXPECT_FALSE(std::isnan(ASTRO(sun_set)(2011, 6, 21, 60, kLon)));
  // Moon times fall within the day at every latitude.
  for (int lat = -85; lat <= 85; lat += 17)
    for (int day = 1; day <= 28; day += 3)
      for (auto fn : {ASTRO(moon_rise), ASTRO(moon_set), ASTRO(moon_set_iterate)}) {
        const double t = fn(2011, 7, day, lat, kLon, 0);
        EXPECT_TRUE(std::isnan(t) || (t >= 0 && t < 24)) << lat << " " << day << ": " << t;
      }
}

TEST(Astro, ThreadsGetTheSameAnswersAsOneThread) {
  auto compute = [](int offset) {
    std::vector<double> v;
    for (int day = 1; day <= 28; ++day) {
      const int d = (day + offset) % 28 + 1;
      v.push_back(Pair(ASTRO(moon), 2011, 5, d, 3, 0, 0.0).first);
      v.push_back(ASTRO(evening_twilight)(2011, 5, d, kLat, kLon));
      v.push_back(ASTRO(moon_set_iterate)(2011, 5, d, kLat, kLon, kHeight));
    }
    return v;
  };
  std::vector<std::vector<double>> alone(4), together(4);
  for (int i = 0; i < 4; ++i) alone[i] = compute(i * 7);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 20; ++round) together[i] = compute(i * 7);
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 4; ++i)  // bit for bit, NaNs included
    EXPECT_TRUE(alone[i].size() == together[i].size() &&
                std::memcmp(alone[i].data(), together[i].data(), alone[i].size() * sizeof(double)) == 0) << i;
}
