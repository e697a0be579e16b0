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

namespace astro_consts {
inline constexpr long double kPi = 3.1415926535897932385L;
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

// Sine and cosine of an angle in radians to full extended precision, several
// times faster than sinl/cosl: the Earth series needs thousands per position.
long double SinRad(long double x);
long double CosRad(long double x);

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
