// Angle, time and coordinate routines.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/astronomy/ah_math.h"

namespace {

constexpr double kJ2000Noon = 36526.5;  // 2000-01-01 12:00

TEST(AstronomyAngles, NormalizeAngleReducesIntoOneTurn) {
    EXPECT_DOUBLE_EQ(NormalizeAngle(-30), 330);
    EXPECT_DOUBLE_EQ(NormalizeAngle(720), 0);
    EXPECT_NEAR(NormalizeAngle(1e6L), 280, 1e-12);
    EXPECT_EQ(NormalizeAngle(359.9L), 359.9L);
    EXPECT_EQ(NormalizeAngle(0), 0);
    EXPECT_EQ(NormalizeAngle(-360), 0);
    EXPECT_NEAR(NormalizeAngle(-1e6L), 80, 1e-12);
    // A value a hair below zero must not come back as 360.
    const long double r = NormalizeAngle(-std::numeric_limits<long double>::denorm_min());
    EXPECT_GE(r, 0);
    EXPECT_LT(r, 360);
}

TEST(AstronomyAngles, NormalizeAngleCopesWithAbsurdArguments) {
    // Neither hangs nor leaves the range; what is not a number stays so.
    for (long double x : {1e30L, -1e30L, 1e300L, -1e4000L, 7.0e18L}) {
        const long double r = NormalizeAngle(x);
        EXPECT_GE(r, 0) << static_cast<double>(x);
        EXPECT_LT(r, 360) << static_cast<double>(x);
    }
    EXPECT_TRUE(std::isnan(NormalizeAngle(NAN)));
    EXPECT_TRUE(std::isnan(NormalizeAngle(INFINITY)));
}

TEST(AstronomyAngles, DegreeTrigonometry) {
    EXPECT_NEAR(SinDeg(30), 0.5, 1e-18);
    EXPECT_NEAR(CosDeg(60), 0.5, 1e-18);
    EXPECT_NEAR(TanDeg(45), 1, 1e-18);
    EXPECT_NEAR(SinDeg(-30), -0.5, 1e-18);
    // Large mean-motion arguments are reduced before conversion.
    EXPECT_NEAR(SinDeg(360.0L * 123457 + 30), 0.5, 1e-14);
    EXPECT_NEAR(CosDeg(-360.0L * 98765 + 60), 0.5, 1e-14);
    EXPECT_NEAR(DegToRad(180), astro_consts::kPi, 1e-18);
    EXPECT_NEAR(RadToDeg(astro_consts::kHalfPi), 90, 1e-16);
}

TEST(AstronomyAngles, InverseFunctionsCoverTheirRanges) {
    EXPECT_EQ(ArcCosDeg(1), 0);
    EXPECT_NEAR(ArcCosDeg(-1), 180, 1e-16);
    EXPECT_NEAR(ArcSinDeg(1), 90, 1e-16);
    EXPECT_NEAR(ArcSinDeg(-1), -90, 1e-16);
    EXPECT_NEAR(ArcCosDeg(0.5), 60, 1e-15);
    // Rounding past +-1 (a body at the zenith) is clamped, not NaN.
    EXPECT_NEAR(ArcSinDeg(1 + 1e-15L), 90, 1e-16);
    EXPECT_NEAR(ArcSinDeg(-1 - 1e-15L), -90, 1e-16);
}

TEST(AstronomyAngles, ArcTan2DegQuadrants) {
    EXPECT_NEAR(ArcTan2Deg(1, -1), 135, 1e-15);
    EXPECT_NEAR(ArcTan2Deg(-1, -1), 225, 1e-15);
    EXPECT_NEAR(ArcTan2Deg(-1, 1), -45, 1e-15);
    EXPECT_NEAR(ArcTan2Deg(1, 1), 45, 1e-15);
    EXPECT_EQ(ArcTan2Deg(1, 0), 90);
    EXPECT_EQ(ArcTan2Deg(-1, 0), -90);
    EXPECT_EQ(ArcTan2Deg(0, 0), 0);
    EXPECT_NEAR(ArcTan2Deg(0, -1), 180, 1e-15);
    EXPECT_NEAR(ArcTan2Deg(-0.0L, -1), 180, 1e-15);
    // Always within (-90, 270).
    for (int i = 0; i < 360; ++i) {
        const long double a = ArcTan2Deg(SinDeg(i + 0.5L), CosDeg(i + 0.5L));
        EXPECT_GT(a, -90);
        EXPECT_LT(a, 270);
        EXPECT_NEAR(NormalizeAngle(a), i + 0.5L, 1e-12);
    }
}

TEST(AstronomyFastTrig, MatchesTheLibraryToExtendedPrecision) {
    // Arguments like those of the Earth series: phase + frequency * tau.
    long double worst = 0;
    for (int i = 0; i < 200000; ++i) {
        const long double x = -30000.0L + i * 0.3000007L;
        worst = std::fmax(worst, std::fabs(CosRad(x) - std::cos(x)));
        worst = std::fmax(worst, std::fabs(SinRad(x) - std::sin(x)));
    }
    EXPECT_LT(worst, 5e-19L);
    // Near the points where one of them vanishes.
    for (int j = -8; j <= 8; ++j) {
        const long double x = j * astro_consts::kHalfPi;
        for (long double d : {-1e-9L, 0.0L, 1e-9L}) {
            EXPECT_NEAR(CosRad(x + d), std::cos(x + d), 5e-19L) << j;
            EXPECT_NEAR(SinRad(x + d), std::sin(x + d), 5e-19L) << j;
        }
    }
}

TEST(AstronomyFastTrig, TableOfEighthsOfAQuarterTurn) {
    using ah_math_detail::kTrigTable;
    for (int j = 0; j < 128; ++j) {
        const long double x = j * astro_consts::kPi / 64;
        EXPECT_NEAR(kTrigTable[j].Cos, std::cos(x), 2e-19L) << j;
        EXPECT_NEAR(kTrigTable[j].Sin, std::sin(x), 2e-19L) << j;
    }
    EXPECT_EQ(kTrigTable[0].Cos, 1);
    EXPECT_EQ(kTrigTable[32].Cos, 0);
    EXPECT_EQ(kTrigTable[64].Sin, 0);
    EXPECT_EQ(kTrigTable[96].Sin, -1);
}

TEST(AstronomyFastTrig, HugeAndNonFiniteArguments) {
    for (long double x : {1e9L, -3e12L, 1e20L}) {
        EXPECT_EQ(CosRad(x), std::cos(x));
        EXPECT_EQ(SinRad(x), std::sin(x));
    }
    EXPECT_TRUE(std::isnan(CosRad(NAN)));
    EXPECT_TRUE(std::isnan(SinRad(INFINITY)));
}

TEST(AstronomyTime, JulianDayAndCenturies) {
    EXPECT_EQ(JulianDay(kJ2000Noon), 2451545.0L);
    EXPECT_EQ(JulianDay(0), 2415018.5L);
    EXPECT_EQ(JulianCenturies(kJ2000Noon), 0);
    EXPECT_NEAR(JulianCenturies(kJ2000Noon + 36525), 1, 1e-18);
}

TEST(AstronomyTime, NutationAtJ2000) {
    const NutationValues n = Nutation(kJ2000Noon);
    EXPECT_NEAR(n.DeltaPsi * 3600, -13.92, 0.005);
    EXPECT_NEAR(n.Epsilon, 23.43769, 0.000005);
    // Mean obliquity 23.4392911 plus a nutation in obliquity of about -5.77".
    EXPECT_NEAR((n.Epsilon - 84381.448L / 3600) * 3600, -5.77, 0.005);
}

TEST(AstronomyTime, NutationOfMeeusExample) {
    // 1987-04-10 00:00 (taken as dynamical time): Meeus gives
    // dpsi = -3.788" and deps = +9.443" with the complete series; the 31
    // largest terms agree to a few thousandths of an arc second.
    const NutationValues n = Nutation(31877.0);
    EXPECT_NEAR(n.DeltaPsi * 3600, -3.788, 0.01);
    const long double T = JulianCenturies(31877.0);
    const long double eps0 = (84381.448L - 46.815L * T - 0.00059L * T * T + 0.001813L * T * T * T) / 3600;
    EXPECT_NEAR((n.Epsilon - eps0) * 3600, 9.443, 0.01);
}

TEST(AstronomyTime, ApparentSiderealTime) {
    EXPECT_NEAR(ApparentSiderealTime(kJ2000Noon), 280.45707, 0.00001);
    // Meeus: 1987-04-10 0h UT, apparent sidereal time 13h10m46.1351s.
    EXPECT_NEAR(ApparentSiderealTime(31877.0), (13 + 10 / 60.0L + 46.1351L / 3600) * 15, 0.00002);
    // One solar day advances it by 0.985647 degree, give or take the day's
    // change of the nutation (up to about 0.6").
    const long double a = ApparentSiderealTime(44000.25), b = ApparentSiderealTime(44001.25);
    EXPECT_NEAR(NormalizeAngle(b - a), 0.985647, 0.0002);
}

TEST(AstronomyCoordinates, EclipticToEquatorial) {
    const double t = 44000.3;
    const NutationValues n = Nutation(t);
    const long double e = DegToRad(n.Epsilon);
    // Back to ecliptic coordinates with the inverse formulas: the round trip
    // must close for every quadrant and both hemispheres.
    for (long double lambda = 5; lambda < 360; lambda += 29) {
        for (long double beta : {-80.0L, -5.3L, 0.0L, 6.7L, 89.0L}) {
            BodyPosition p;
            p.Longitude = lambda - n.DeltaPsi;
            p.Latitude = beta;
            EclipticToEquatorial(p, t);
            EXPECT_NEAR(p.Longitude, lambda, 1e-12);
            EXPECT_GT(p.RightAscension, -90);
            EXPECT_LT(p.RightAscension, 270);
            const long double a = DegToRad(p.RightAscension), d = DegToRad(p.Declination);
            const long double backL = RadToDeg(
                std::atan2(std::sin(a) * std::cos(e) + std::tan(d) * std::sin(e), std::cos(a)));
            const long double backB = RadToDeg(std::asin(std::sin(d) * std::cos(e) -
                                                         std::cos(d) * std::sin(e) * std::sin(a)));
            EXPECT_NEAR(NormalizeAngle(backL), lambda, 1e-9) << static_cast<double>(beta);
            EXPECT_NEAR(backB, beta, 1e-9) << static_cast<double>(lambda);
        }
    }
    // A point on the ecliptic at longitude 90 has alpha 90 and delta epsilon.
    BodyPosition p;
    p.Longitude = 90 - n.DeltaPsi;
    EclipticToEquatorial(p, t);
    EXPECT_NEAR(p.RightAscension, 90, 1e-12);
    EXPECT_NEAR(p.Declination, n.Epsilon, 1e-12);
}

TEST(AstronomyCoordinates, EquatorialToHorizontal) {
    // A body on the equator at hour angle 90 seen from latitude 0: on the
    // horizon, due west (90 from the south).
    const double t = 44000.3;
    const long double L = 20;  // west
    BodyPosition p;
    p.RightAscension = ApparentSiderealTime(t) - L - 90;
    p.Declination = 0;
    EquatorialToHorizontal(p, t, L, 0);
    EXPECT_NEAR(p.Altitude, 0, 1e-12);
    EXPECT_NEAR(p.Azimuth, 90, 1e-12);

    // On the meridian: altitude 90 - |phi - delta|, azimuth 0 (south) or
    // 180 (north).
    p.RightAscension = ApparentSiderealTime(t) - L;
    p.Declination = 10;
    EquatorialToHorizontal(p, t, L, 45);
    EXPECT_NEAR(p.Altitude, 55, 1e-12);
    EXPECT_NEAR(NormalizeAngle(p.Azimuth), 0, 1e-9);
    p.Declination = 80;
    EquatorialToHorizontal(p, t, L, 45);
    EXPECT_NEAR(p.Altitude, 55, 1e-12);
    EXPECT_NEAR(p.Azimuth, 180, 1e-9);

    // Meeus example 12.b: Venus at 1987-04-10 19:21:00 UT seen from the US
    // Naval Observatory (77.0656 W, 38.9213 N): A = 68.0337, h = 15.1249.
    // Meeus uses the sidereal time of that instant, as this routine does.
    BodyPosition v;
    v.RightAscension = (23 + 9 / 60.0L + 16.641L / 3600) * 15;
    v.Declination = -(6 + 43 / 60.0L + 11.61L / 3600);
    EquatorialToHorizontal(v, 31877.0 + (19 + 21 / 60.0) / 24, 77.0 + 3 / 60.0L + 56 / 3600.0L,
                           38 + 55 / 60.0L + 17 / 3600.0L);
    EXPECT_NEAR(v.Azimuth, 68.0337, 0.0005);
    EXPECT_NEAR(v.Altitude, 15.1249, 0.0005);
}

}  // namespace
