// Cross-check of the Sun and the Moon against ERFA (the IAU's SOFA routines
// in C), an implementation that shares no code with this engine.
//
// The engine takes its instant as UT and uses it unchanged where the
// theories want dynamical time, so ERFA gets the same number as TT; the
// comparison is then between theories, not time scales.
//
// ERFA side, apparent geocentric place of date:
//  - Sun: the Earth's barycentric and heliocentric state from eraEpv00, the
//    Sun's position light-time corrected, annual aberration (eraAb), then the
//    IAU 1976/1980 precession-nutation matrix (eraPnm80).
//  - Moon: eraMoon98 (geometric, GCRS), rotated by the same matrix.
//
// Tolerances held, over 400 instants from 1950 to 2050:
//  - Sun, 0.25 arc second in angle: VSOP87 and the JPL-fitted EPV00 agree to
//    about 0.1", the 31-term nutation leaves a few hundredths and the
//    engine's second FK5 longitude shift (geocentric, on top of the
//    heliocentric one) 0.09". The aberration's 1/R factor alone is 0.35".
//  - Moon, 2 arc seconds: both follow the truncated ELP2000 series published
//    by Meeus, but ERFA's position is geometric while Meeus's mean longitude
//    carries the constant light-time term (-0.7"), and the editions differ
//    slightly in their mean elements. A wrong multiplier, sign or scale in
//    the larger terms, the E factor or the additive terms shows up well past
//    this; the tables themselves are checked against the published files.
//  - Distances: Sun 30 km (VSOP87 against EPV00, light time, the engine's
//    149597869 km per au); Moon 1 km (the same series).
#include <erfa.h>
#include <erfam.h>
#include <gtest/gtest.h>

#include <cmath>

#include "core/astronomy/moon.h"
#include "core/astronomy/vsop.h"

namespace {

constexpr double kFirst = 18264;   // 1950-01-01
constexpr double kLast = 54789;    // 2050-01-01
constexpr int kInstants = 400;

struct Place {
    double ra, dec;  // radians
    double distanceKm;
};

Place SunFromErfa(double jdTT) {
    double pvh[2][3], pvb[2][3];
    eraEpv00(jdTT, 0, pvh, pvb);
    // Geocentric Sun as it was when the light left it.
    double p[3], s = 0, lightTime = 0;
    for (int iteration = 0; iteration < 3; ++iteration) {
        double ph[2][3], pb[2][3];
        eraEpv00(jdTT - lightTime, 0, ph, pb);
        for (int i = 0; i < 3; ++i) p[i] = (pb[0][i] - ph[0][i]) - pvb[0][i];
        s = eraPm(p);
        lightTime = s / ERFA_DC;
    }
    double direction[3], v[3], apparent[3], npb[3][3], ofDate[3];
    eraSxp(1.0 / s, p, direction);
    eraSxp(1.0 / ERFA_DC, pvb[1], v);
    const double speed = eraPm(v);
    eraAb(direction, v, s, std::sqrt(1 - speed * speed), apparent);
    eraPnm80(jdTT, 0, npb);
    eraRxp(npb, apparent, ofDate);
    Place r;
    eraC2s(ofDate, &r.ra, &r.dec);
    r.distanceKm = s * ERFA_DAU / 1000;
    return r;
}

Place MoonFromErfa(double jdTT) {
    double pv[2][3], npb[3][3], ofDate[3];
    eraMoon98(jdTT, 0, pv);
    eraPnm80(jdTT, 0, npb);
    eraRxp(npb, pv[0], ofDate);
    Place r;
    eraC2s(ofDate, &r.ra, &r.dec);
    r.distanceKm = eraPm(pv[0]) * ERFA_DAU / 1000;
    return r;
}

double SeparationArcsec(const Place& erfa, const BodyPosition& engine) {
    return eraSeps(erfa.ra, erfa.dec, static_cast<double>(DegToRad(engine.RightAscension)),
                   static_cast<double>(DegToRad(engine.Declination))) *
           ERFA_DR2AS;
}

// Instants spread over the century at all times of day.
double Instant(int i) { return kFirst + (kLast - kFirst) * (i + 0.37) / kInstants; }

TEST(AstronomyErfaCrossCheck, SunApparentPlace1950To2050) {
    double worst = 0;
    for (int i = 0; i < kInstants; ++i) {
        const double t = Instant(i);
        const Place e = SunFromErfa(t + 2415018.5);
        const BodyPosition s = SunPosition(t);
        const double sep = SeparationArcsec(e, s);
        worst = std::fmax(worst, sep);
        EXPECT_LT(sep, 0.25) << "t = " << t;
        EXPECT_NEAR(static_cast<double>(s.Distance), e.distanceKm, 30) << "t = " << t;
    }
    RecordProperty("worst_sun_arcsec", std::to_string(worst));
}

TEST(AstronomyErfaCrossCheck, MoonApparentPlace1950To2050) {
    double worst = 0;
    for (int i = 0; i < kInstants; ++i) {
        const double t = Instant(i);
        const Place e = MoonFromErfa(t + 2415018.5);
        const BodyPosition m = MoonPosition(t);
        const double sep = SeparationArcsec(e, m);
        worst = std::fmax(worst, sep);
        EXPECT_LT(sep, 2.0) << "t = " << t;
        EXPECT_NEAR(static_cast<double>(m.Distance), e.distanceKm, 1.0) << "t = " << t;
    }
    RecordProperty("worst_moon_arcsec", std::to_string(worst));
}

TEST(AstronomyErfaCrossCheck, SiderealTimeAgainstEquationOfTheEquinoxes) {
    // Greenwich apparent sidereal time, IAU 1982 model with the 1994
    // equation of the equinoxes; UT1 and TT both set to the instant.
    for (int i = 0; i < kInstants; ++i) {
        const double t = Instant(i);
        const double jd = t + 2415018.5;
        const double gast = eraGst94(jd, 0) * ERFA_DR2D;
        long double d = NormalizeAngle(ApparentSiderealTime(t) - gast);
        if (d > 180) d -= 360;
        EXPECT_LT(std::fabs(static_cast<double>(d)) * 3600, 0.05 * 15) << "t = " << t;  // 0.05 s of time
    }
}

}  // namespace
