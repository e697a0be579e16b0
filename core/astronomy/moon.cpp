#include "core/astronomy/moon.h"

#include <cmath>
#include <stdexcept>

#include "core/astronomy/astro_tables.h"
#include "core/astronomy/entry_checks.h"
#include "core/astronomy/vsop.h"

namespace {

// Eccentricity factor for a term with the given multiplier of M.
inline long double EFactor(int m, long double E, long double E2) {
    const int a = m < 0 ? -m : m;
    return a == 1 ? E : (a == 2 ? E2 : 1.0L);
}

}  // namespace

BodyPosition MoonPosition(double t) {
    using namespace astro_tables;
    const long double T = JulianCenturies(t);
    const long double T2 = T * T, T3 = T2 * T, T4 = T3 * T;
    // Mean elements, degrees; the degree functions reduce them.
    const long double D = 297.8502042L + 445267.1115168L * T - 0.00163L * T2 + T3 / 545868.0L - T4 / 113065000.0L;
    const long double M = 357.5291092L + 35999.0502909L * T - 0.0001536L * T2 + T3 / 24490000.0L;
    const long double Mp = 134.9634114L + 477198.8676313L * T + 0.008997L * T2 + T3 / 69699.0L - T4 / 14712000.0L;
    const long double F = 93.2720993L + 483202.0175273L * T - 0.0034029L * T2 - T3 / 3526000.0L + T4 / 863310000.0L;
    const long double Lp = 218.3164591L + 481267.88134236L * T - 0.0013268L * T2 + T3 / 538841.0L - T4 / 65194000.0L;
    const long double E = 1.0L - 0.002516L * T - 0.0000074L * T2;
    const long double E2 = E * E;
    const long double A1 = 119.75L + 131.849L * T;
    const long double A2 = 53.09L + 479264.29L * T;
    const long double A3 = 313.45L + 481266.484L * T;

    long double sumL = 0, sumR = 0, sumB = 0;
    for (int i = 0; i < kMoonTerms; ++i) {
        const LunarArgument& a = kMoonLongitudeDistanceArgs[i];
        const long double arg = a.d * D + a.m * M + a.mp * Mp + a.f * F;
        const long double e = EFactor(a.m, E, E2);
        sumL += e * kMoonLongitudeCoefs[i] * SinDeg(arg);
        sumR += e * kMoonDistanceCoefs[i] * CosDeg(arg);
    }
    sumL += 3958.0L * SinDeg(A1) + 1962.0L * SinDeg(Lp - F) + 318.0L * SinDeg(A2);
    for (int i = 0; i < kMoonTerms; ++i) {
        const LunarArgument& a = kMoonLatitudeArgs[i];
        const long double arg = a.d * D + a.m * M + a.mp * Mp + a.f * F;
        sumB += EFactor(a.m, E, E2) * kMoonLatitudeCoefs[i] * SinDeg(arg);
    }
    sumB += -2235.0L * SinDeg(Lp) + 382.0L * SinDeg(A3) + 175.0L * SinDeg(A1 - F) + 175.0L * SinDeg(A1 + F) +
            127.0L * SinDeg(Lp - Mp) - 115.0L * SinDeg(Lp + Mp);

    BodyPosition p;
    p.Longitude = Lp + sumL / 1000000.0L;
    p.Latitude = sumB / 1000000.0L;
    p.Distance = 385000.56L + sumR / 1000.0L;
    EclipticToEquatorial(p, t);
    return p;
}

HorizontalPosition MoonHorizontalPosition(double t, long double longitude, long double latitude) {
    entry_checks::Site(t, longitude, latitude);
    return HorizontalOf(MoonPosition(t), t, longitude, latitude);
}

namespace {

long double AgeOf(const BodyPosition& s, const BodyPosition& m) {
    const long double age = NormalizeAngle(m.Longitude - s.Longitude) / 360.0L * kSynodicMonth;
    // An elongation a hair under 360 must not round up to a full month.
    return age < kSynodicMonth ? age : 0.0L;
}

long double PhaseAngleOf(const BodyPosition& s, const BodyPosition& m) {
    const long double R = s.Distance, Delta = m.Distance;
    const long double psi = ArcCosDeg(CosDeg(m.Latitude) * CosDeg(m.Longitude - s.Longitude));
    // i in [0, 180]: the arctangent of R sin psi / (Delta - R cos psi) taken
    // in the right half turn. At an exact conjunction (psi = 0) it is 180,
    // not the 0 that a plain arctangent of -0 would give.
    const long double y = std::fmax(0.0L, R * SinDeg(psi));
    long double i = ArcTan2Deg(y, Delta - R * CosDeg(psi));
    if (NormalizeAngle(m.Longitude - s.Longitude) > 180.0L) i = -i;
    return i;
}

long double IlluminationOf(const BodyPosition& s, const BodyPosition& m) {
    return (1.0L + CosDeg(PhaseAngleOf(s, m))) / 2.0L;
}

}  // namespace

long double MoonAge(double t) {
    entry_checks::Instant(t);
    return AgeOf(SunPosition(t), MoonPosition(t));
}

long double MoonPhaseAngle(double t) {
    entry_checks::Instant(t);
    return PhaseAngleOf(SunPosition(t), MoonPosition(t));
}

long double MoonIllumination(double t) {
    entry_checks::Instant(t);
    return IlluminationOf(SunPosition(t), MoonPosition(t));
}

SunAndMoonAt SunAndMoon(double t, long double longitude, long double latitude) {
    entry_checks::Site(t, longitude, latitude);
    const BodyPosition s = SunPosition(t);
    const BodyPosition m = MoonPosition(t);
    return {HorizontalOf(s, t, longitude, latitude), HorizontalOf(m, t, longitude, latitude), AgeOf(s, m),
            IlluminationOf(s, m)};
}
