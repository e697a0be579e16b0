#pragma once
// ah_math: the ground the astronomy engine stands on. Degree trigonometry and
// angle reduction, fast extended-precision sine and cosine, Julian days,
// IAU 1980 nutation and the true obliquity, apparent sidereal time, and the
// ecliptic -> equatorial -> horizontal conversions of a BodyPosition.
//
// Conventions of the whole engine: angles in degrees, arithmetic in long
// double; date-time values are doubles counting days from 1899-12-30 00:00
// and are taken as Universal Time (also where a theory wants dynamical time);
// site longitudes are positive WEST, latitudes positive north.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/astronomy/trig_table.h"

namespace astro_consts {
// Digits enough for a quad long double (asinl(1) * 2 exactly); an x87 rounds
// them to the same value as the 20 digits before.
inline constexpr long double kPi = 3.14159265358979323846264338327950288L;
inline constexpr long double kHalfPi = 1.5707963267948966192L;
// Julian Day of the date-time value 0 (1899-12-30 00:00).
inline constexpr long double kJulianDayOffset = 2415018.5L;
// Date-time day count of 2000-01-01 00:00.
inline constexpr long double kDay2000 = 36526.0L;
inline constexpr long double kJ2000 = 2451545.0L;
}  // namespace astro_consts

// Angle functions.
long double DegToRad(long double x);
long double RadToDeg(long double x);
// x reduced to [0, 360); NaN for a non-finite x.
long double NormalizeAngle(long double x);
long double SinDeg(long double x);
long double CosDeg(long double x);
long double TanDeg(long double x);
// Degrees in -90..90; arguments that rounding pushed just past +-1 are clamped.
long double ArcSinDeg(long double x);
// Degrees in 0..180, as 90 - ArcSinDeg(x).
long double ArcCosDeg(long double x);
// Principal arctangent of y/x, plus 180 when x < 0: the result lies in
// (-90, 270). ArcTan2Deg(0, 0) is 0.
long double ArcTan2Deg(long double y, long double x);

// Sine and cosine of an angle in radians to full extended precision, about
// ten times faster than sinl/cosl: one Sun position takes 2,425 cosines.
// Inline because the series loops call them once per term.
inline long double SinRad(long double x);
inline long double CosRad(long double x);

// Time and Earth orientation.
long double JulianDay(double t);
// Julian centuries from J2000.0 for a date-time.
long double JulianCenturies(double t);

struct NutationValues {
    long double DeltaPsi = 0;  // nutation in longitude, degrees
    long double Epsilon = 0;   // true obliquity of the ecliptic, degrees
};
NutationValues Nutation(double t);

// Greenwich apparent sidereal time in degrees, [0, 360).
long double ApparentSiderealTime(double t);

// Position of the Sun or the Moon for one instant, filled in stages.
struct BodyPosition {
    long double Longitude = 0;       // geocentric ecliptic; apparent after EclipticToEquatorial
    long double Latitude = 0;        // geocentric ecliptic
    long double Distance = 0;        // km from the centre of the Earth
    long double RightAscension = 0;  // degrees, in (-90, 270), not reduced
    long double Declination = 0;
    long double Altitude = 0;        // geometric: no refraction, no parallax
    long double Azimuth = 0;         // from the SOUTH towards the west, in (-90, 270)
};

// Altitude and azimuth as the entry points hand them out: azimuth from the
// north through the east, [0, 360).
struct HorizontalPosition {
    long double Altitude = 0;
    long double Azimuth = 0;
};

// Adds the nutation in longitude to p.Longitude (reduced to [0, 360)) and
// sets p.RightAscension and p.Declination.
void EclipticToEquatorial(BodyPosition& p, double t);
// Sets p.Altitude and p.Azimuth (from the south) for a site; longitude
// positive west, latitude positive north.
void EquatorialToHorizontal(BodyPosition& p, double t, long double longitude, long double latitude);
// The entry points' form of a body's place in the sky at a site: altitude,
// and azimuth from the north through the east.
HorizontalPosition HorizontalOf(BodyPosition p, double t, long double longitude, long double latitude);

// ---- Inline definitions ---------------------------------------------------

namespace ah_math_detail {

// The x87 80-bit long double of amd64, or the IEEE quad of arm64 (in
// software there, but the Pi's results then agree with amd64's to the
// printed digits). Either way little-endian, the low mantissa bits first.
inline constexpr int kMantissaBits = std::numeric_limits<long double>::digits;
static_assert((kMantissaBits == 64 || kMantissaBits == 113) && std::endian::native == std::endian::little,
              "the fast sine and cosine expect an x87 80-bit or a little-endian IEEE quad long double");

// x = j pi/64 + s with |s| <= pi/128; sin and cos of j pi/64 come from a
// correctly rounded table, those of s from short series. Constants that the
// series can take in double precision are doubles: the x87 loads them much
// faster than 80-bit ones, and their rounding stays below 1e-21.

inline constexpr double k64OverPi = 20.371832715762604;  // 64 / pi; close is enough
// pi/64 in two pieces; the first has 32 significant bits, so k * kStepA is
// exact for |k| < 2^31 and x - k pi/64 keeps every bit.
inline constexpr double kStepA = 0x6487ed51p-35;
inline constexpr long double kStepB = 0x42d18469898cc517p-101L;
// Adding 1.5 * 2^63 (2^112 for a quad) rounds a long double to an integer
// held in the low mantissa bits.
inline constexpr double kRoundMagic = kMantissaBits == 64 ? 0x1.8p63 : 0x1.8p112;
// Past this k would not fit 31 bits; the library takes over.
inline constexpr long double kFastLimit = 1.0e8L;

// |s| <= pi/128: the first omitted terms are below 1e-21.
inline long double CosSmall(long double s2) {
    return 1.0L + s2 * (-0.5 + s2 * (1.0 / 24 + s2 * (-1.0 / 720 + s2 * (1.0 / 40320))));
}
inline long double SinSmall(long double s, long double s2) {
    return s + s * s2 * (-1.0 / 6 + s2 * (1.0 / 120 + s2 * (-1.0 / 5040 + s2 * (1.0 / 362880))));
}

inline const TrigEntry& Reduce(long double x, long double& s) {
    const long double shifted = x * k64OverPi + kRoundMagic;
    std::uint64_t mantissa;
    std::memcpy(&mantissa, &shifted, sizeof mantissa);  // the mantissa's low bits first
    const long double k = shifted - kRoundMagic;
    s = (x - k * kStepA) - k * kStepB;
    return kTrigTable[mantissa & 127];
}

}  // namespace ah_math_detail

inline long double CosRad(long double x) {
    using namespace ah_math_detail;
    if (!(std::fabs(x) < kFastLimit)) return std::cos(x);  // huge or not finite
    long double s;
    const TrigEntry& t = Reduce(x, s);
    const long double s2 = s * s;
    return t.Cos * CosSmall(s2) - t.Sin * SinSmall(s, s2);
}

inline long double SinRad(long double x) {
    using namespace ah_math_detail;
    if (!(std::fabs(x) < kFastLimit)) return std::sin(x);
    long double s;
    const TrigEntry& t = Reduce(x, s);
    const long double s2 = s * s;
    return t.Sin * CosSmall(s2) + t.Cos * SinSmall(s, s2);
}
