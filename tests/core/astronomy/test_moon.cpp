// The Moon: position, altitude, age, phase angle and illumination.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "core/astronomy/moon.h"
#include "core/astronomy/vsop.h"

namespace {

constexpr double k19920412 = 33706;  // 1992-04-12 00:00
constexpr double k20200124 = 43854;  // 2020-01-24 00:00, new moon at 21:42 UT
constexpr double k20200209 = 43870;  // full moon at 07:33 UT
constexpr double k20200621Noon = 44003.5;

double At(double day, int hour, int minute = 0) { return day + (hour + minute / 60.0) / 24; }

TEST(AstronomyMoonPosition, MeeusExample) {
    const BodyPosition m = MoonPosition(k19920412);
    EXPECT_NEAR(m.Longitude, 133.16727, 0.00002);
    EXPECT_NEAR(m.Latitude, -3.22913, 0.00002);
    EXPECT_NEAR(m.Distance, 368409.7, 0.1);
    EXPECT_NEAR(m.RightAscension, 134.68847, 0.00002);
    EXPECT_NEAR(m.Declination, 13.76837, 0.00002);
}

TEST(AstronomyMoonPosition, StaysWithinTheOrbitsBounds) {
    // Over 19 years (a full nodal cycle): distance between perigee and
    // apogee, latitude within the orbit's inclination plus perturbations,
    // longitude reduced, and a mean motion of about 13.18 degrees a day.
    for (int day = 0; day < 19 * 365; day += 3) {
        const double t = 36526.5 + day + 0.17;
        const BodyPosition m = MoonPosition(t);
        ASSERT_GT(m.Distance, 356000) << t;
        ASSERT_LT(m.Distance, 407000) << t;
        ASSERT_LT(std::fabs(m.Latitude), 5.35) << t;
        ASSERT_GE(m.Longitude, 0);
        ASSERT_LT(m.Longitude, 360);
        ASSERT_LT(std::fabs(m.Declination), 29) << t;
    }
    const long double a = MoonPosition(36526.5).Longitude, b = MoonPosition(36526.5 + 27.321582).Longitude;
    long double d = NormalizeAngle(b - a);
    if (d > 180) d -= 360;
    EXPECT_NEAR(d, 0, 8);  // one tropical month brings it back, up to the inequalities
}

TEST(AstronomyMoonHorizontal, WorkedValue) {
    const HorizontalPosition h = MoonHorizontalPosition(k20200621Noon, -9, 45);
    EXPECT_NEAR(h.Altitude, 68.286, 0.001);
    EXPECT_NEAR(h.Azimuth, 194.049, 0.001);
}

TEST(AstronomyMoonHorizontal, RangesAndBadSites) {
    for (int hour = 0; hour < 24 * 60; hour += 5) {
        const HorizontalPosition h = MoonHorizontalPosition(44003 + hour / 24.0, 118, -34);
        ASSERT_GE(h.Azimuth, 0);
        ASSERT_LT(h.Azimuth, 360);
        ASSERT_GE(h.Altitude, -90);
        ASSERT_LE(h.Altitude, 90);
    }
    EXPECT_THROW(MoonHorizontalPosition(k20200621Noon, -9, -91), std::invalid_argument);
    EXPECT_THROW(MoonHorizontalPosition(k20200621Noon, NAN, 45), std::invalid_argument);
    EXPECT_THROW(MoonHorizontalPosition(INFINITY, -9, 45), std::invalid_argument);
    EXPECT_THROW(MoonAge(NAN), std::invalid_argument);
    EXPECT_THROW(MoonPhaseAngle(-INFINITY), std::invalid_argument);
    EXPECT_THROW(MoonIllumination(NAN), std::invalid_argument);
}

TEST(AstronomyLunation, AroundTheNewMoonOf2020January24) {
    const double before = At(k20200124, 21), after = At(k20200124, 22);
    EXPECT_NEAR(MoonAge(before), 29.502, 0.0005);
    EXPECT_NEAR(MoonPhaseAngle(before), -177.70, 0.005);
    EXPECT_LT(MoonIllumination(before), 0.0005);
    EXPECT_NEAR(MoonAge(after), 0.011, 0.0005);
    EXPECT_NEAR(MoonPhaseAngle(after), 177.68, 0.005);
    EXPECT_LT(MoonIllumination(after), 0.0005);
}

TEST(AstronomyLunation, FullMoonAndQuarters) {
    const double full = At(k20200209, 7, 33);
    EXPECT_NEAR(MoonAge(full), 14.764, 0.0005);
    EXPECT_NEAR(MoonPhaseAngle(full), 3.46, 0.005);
    EXPECT_NEAR(MoonIllumination(full), 0.9991, 0.00005);

    const double firstQuarterish = 43863.5, lastQuarterish = 43877.5;  // 2020-02-02 and -16, 12:00
    EXPECT_NEAR(MoonAge(firstQuarterish), 7.776, 0.0005);
    EXPECT_NEAR(MoonPhaseAngle(firstQuarterish), 85.07, 0.005);
    EXPECT_NEAR(MoonIllumination(firstQuarterish), 0.543, 0.0005);
    EXPECT_NEAR(MoonAge(lastQuarterish), 22.736, 0.0005);
    EXPECT_NEAR(MoonPhaseAngle(lastQuarterish), -97.01, 0.005);
    EXPECT_NEAR(MoonIllumination(lastQuarterish), 0.439, 0.0005);
}

TEST(AstronomyLunation, AgePhaseAndIlluminationAgreeOverManyMonths) {
    for (int i = 0; i < 2000; ++i) {
        const double t = 43831 + i * 0.3719;  // 2020 onwards, all phases
        const long double age = MoonAge(t), phase = MoonPhaseAngle(t), lit = MoonIllumination(t);
        ASSERT_GE(age, 0) << t;
        ASSERT_LT(age, kSynodicMonth) << t;
        ASSERT_GT(phase, -180) << t;
        ASSERT_LE(phase, 180) << t;
        ASSERT_GE(lit, 0) << t;
        ASSERT_LE(lit, 1) << t;
        // Waxing half: positive phase angle; waning half: negative.
        if (age > 0.2 && age < kSynodicMonth / 2 - 0.2) {
            ASSERT_GT(phase, 0) << t;
        }
        if (age > kSynodicMonth / 2 + 0.2 && age < kSynodicMonth - 0.2) {
            ASSERT_LT(phase, 0) << t;
        }
        // The fraction is the cosine law of the phase angle, the same for i and -i.
        ASSERT_NEAR(lit, (1 + std::cos(DegToRad(std::fabs(phase)))) / 2, 1e-15) << t;
        // The phase angle is close to 180 minus the elongation.
        const long double elongation = age / kSynodicMonth * 360;
        const long double fromAge = elongation <= 180 ? 180 - elongation : -(elongation - 180);
        ASSERT_NEAR(phase, fromAge, 6) << t;
    }
}

TEST(AstronomyLunation, AgeIsTheElongationInDays) {
    const double t = 44010.25;
    const long double e = NormalizeAngle(MoonPosition(t).Longitude - SunPosition(t).Longitude);
    EXPECT_NEAR(MoonAge(t), e / 360 * 29.530589L, 1e-12);
}

TEST(AstronomyLunation, SunAndMoonTogetherAreTheFourEntryPointsOneByOne) {
    const struct {
        long double longitude, latitude;
    } sites[] = {{-11.5264L, 45.8664L}, {118, 34}, {-150, -35}, {0, 90}, {-9, -90}};
    for (const auto& site : sites) {
        for (int i = 0; i < 400; ++i) {
            const double t = 36526 + i * 23.719;  // 2000 onwards, any hour
            const SunAndMoonAt a = SunAndMoon(t, site.longitude, site.latitude);
            const HorizontalPosition sun = SunHorizontalPosition(t, site.longitude, site.latitude);
            const HorizontalPosition moon = MoonHorizontalPosition(t, site.longitude, site.latitude);
            ASSERT_EQ(a.Sun.Altitude, sun.Altitude) << t;
            ASSERT_EQ(a.Sun.Azimuth, sun.Azimuth) << t;
            ASSERT_EQ(a.Moon.Altitude, moon.Altitude) << t;
            ASSERT_EQ(a.Moon.Azimuth, moon.Azimuth) << t;
            ASSERT_EQ(a.MoonAge, MoonAge(t)) << t;
            ASSERT_EQ(a.MoonIllumination, MoonIllumination(t)) << t;
        }
    }
    EXPECT_THROW(SunAndMoon(NAN, 0, 0), std::invalid_argument);
    EXPECT_THROW(SunAndMoon(44000, INFINITY, 0), std::invalid_argument);
    EXPECT_THROW(SunAndMoon(44000, 0, 90.5), std::invalid_argument);
}

}  // namespace
