#include "core/astronomy/ah_math.h"

#include <cmath>

#include "core/astronomy/astro_tables.h"

using namespace astro_consts;

long double DegToRad(long double x) { return x / 180.0L * kPi; }

long double RadToDeg(long double x) { return x * 180.0L / kPi; }

long double NormalizeAngle(long double x) {
    if (!std::isfinite(x)) return NAN;
    const long double q = x / 360.0L;
    long double r;
    if (std::fabs(q) < 0x1p62L) {
        // k = the integer nearest to x / 360 (the magic constant rounds);
        // x - 360 k is then exact.
        const long double k = (q + ah_math_detail::kRoundMagic) - ah_math_detail::kRoundMagic;
        r = x - 360.0L * k;
    } else {
        r = std::fmod(x, 360.0L);  // exact too, only slower
    }
    if (r < 0) {
        r += 360.0L;
        if (r >= 360.0L) r = 0;  // a tiny negative r rounded up to 360
    }
    return r;
}

long double SinDeg(long double x) { return SinRad(DegToRad(NormalizeAngle(x))); }

long double CosDeg(long double x) { return CosRad(DegToRad(NormalizeAngle(x))); }

long double TanDeg(long double x) {
    const long double r = DegToRad(NormalizeAngle(x));
    return SinRad(r) / CosRad(r);
}

long double ArcSinDeg(long double x) {
    if (x > 1.0L) x = 1.0L;
    if (x < -1.0L) x = -1.0L;
    return RadToDeg(std::asin(x));
}

long double ArcCosDeg(long double x) { return 90.0L - ArcSinDeg(x); }

long double ArcTan2Deg(long double y, long double x) {
    if (x == 0) return y > 0 ? 90.0L : (y < 0 ? -90.0L : 0.0L);
    long double a = RadToDeg(std::atan2(y, x));  // (-180, 180]
    if (x < 0 && a < 0) a += 360.0L;              // third quadrant: (180, 270)
    return a;
}

long double JulianDay(double t) { return static_cast<long double>(t) + kJulianDayOffset; }

long double JulianCenturies(double t) { return (JulianDay(t) - kJ2000) / 36525.0L; }

NutationValues Nutation(double t) {
    const long double T = JulianCenturies(t);
    const long double T2 = T * T, T3 = T2 * T;
    const long double D = NormalizeAngle(297.85036L + 445267.11148L * T - 0.0019142L * T2 + T3 / 189474.0L);
    const long double M = NormalizeAngle(357.52772L + 35999.05034L * T - 0.0001603L * T2 - T3 / 300000.0L);
    const long double Mp = NormalizeAngle(134.96298L + 477198.867398L * T + 0.0086972L * T2 + T3 / 56250.0L);
    const long double F = NormalizeAngle(93.27191L + 483202.017538L * T - 0.0036825L * T2 + T3 / 327270.0L);
    const long double Om = NormalizeAngle(125.04452L - 1934.136261L * T + 0.0020708L * T2 + T3 / 450000.0L);

    long double sumPsi = 0, sumEps = 0;
    for (const auto& n : astro_tables::kNutation) {
        const long double arg = n.d * D + n.m * M + n.mp * Mp + n.f * F + n.omega * Om;
        sumPsi += (n.S + n.S1 * T / 10.0L) * SinDeg(arg);
        sumEps += (n.C + n.C1 * T / 10.0L) * CosDeg(arg);
    }
    NutationValues v;
    v.DeltaPsi = sumPsi * 0.0001L / 3600.0L;
    const long double eps0 = 84381.448L - 46.815L * T - 0.00059L * T2 + 0.001813L * T3;
    v.Epsilon = eps0 / 3600.0L + sumEps * 0.0001L / 3600.0L;
    return v;
}

long double ApparentSiderealTime(double t) {
    const long double days = JulianDay(t) - kJ2000;
    const long double T = days / 36525.0L;
    const NutationValues n = Nutation(t);
    return NormalizeAngle(280.46061837L + 360.98564736629L * days + T * T * (0.000387933L - T / 38710000.0L) +
                          n.DeltaPsi * CosDeg(n.Epsilon));
}

void EclipticToEquatorial(BodyPosition& p, double t) {
    const NutationValues n = Nutation(t);
    p.Longitude = NormalizeAngle(p.Longitude + n.DeltaPsi);
    const long double sinL = SinDeg(p.Longitude), cosL = CosDeg(p.Longitude);
    const long double sinE = SinDeg(n.Epsilon), cosE = CosDeg(n.Epsilon);
    p.RightAscension = ArcTan2Deg(sinL * cosE - TanDeg(p.Latitude) * sinE, cosL);
    p.Declination = ArcSinDeg(SinDeg(p.Latitude) * cosE + CosDeg(p.Latitude) * sinE * sinL);
}

void EquatorialToHorizontal(BodyPosition& p, double t, long double longitude, long double latitude) {
    const long double H = NormalizeAngle(ApparentSiderealTime(t) - p.RightAscension - longitude);
    const long double sinH = SinDeg(H), cosH = CosDeg(H);
    const long double sinPhi = SinDeg(latitude), cosPhi = CosDeg(latitude);
    p.Azimuth = ArcTan2Deg(sinH, cosH * sinPhi - TanDeg(p.Declination) * cosPhi);
    p.Altitude = ArcSinDeg(sinPhi * SinDeg(p.Declination) + cosPhi * CosDeg(p.Declination) * cosH);
}

HorizontalPosition HorizontalOf(BodyPosition p, double t, long double longitude, long double latitude) {
    EquatorialToHorizontal(p, t, longitude, latitude);
    return {p.Altitude, NormalizeAngle(p.Azimuth + 180.0L)};
}
