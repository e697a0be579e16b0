#pragma once
// moon: the Moon from Meeus's truncated lunar theory (first edition): its
// apparent geocentric position, its altitude and azimuth for a site, and the
// lunation: age in days, signed phase angle and illuminated fraction.
//
// Date-times are days since 1899-12-30 00:00 (UT); longitudes positive WEST.

#include "core/astronomy/ah_math.h"

// Synodic month, days.
inline constexpr long double kSynodicMonth = 29.530589L;

// Apparent geocentric position: Longitude, Latitude, Distance (km),
// RightAscension, Declination. No light-time or aberration correction.
BodyPosition MoonPosition(double t);

// Moon's geocentric altitude (no parallax, no refraction) and azimuth from
// the north. Throws std::invalid_argument for a non-finite argument or a
// latitude outside -90..90.
HorizontalPosition MoonHorizontalPosition(double t, long double longitude, long double latitude);

// The three below throw std::invalid_argument for a non-finite instant.
// Elongation expressed in days: 0 at new moon, 14.765 at full, [0, 29.530589).
long double MoonAge(double t);
// Phase angle in degrees, (-180, 180]: near 0 at full moon, positive while
// waxing, negative while waning.
long double MoonPhaseAngle(double t);
// Illuminated fraction of the disc, 0..1.
long double MoonIllumination(double t);

// The Sun and the Moon of one instant and site, each position computed once:
// what SunHorizontalPosition, MoonHorizontalPosition, MoonAge and
// MoonIllumination give one by one, with the same argument checks.
struct SunAndMoonAt {
    HorizontalPosition Sun, Moon;
    long double MoonAge = 0, MoonIllumination = 0;
};
SunAndMoonAt SunAndMoon(double t, long double longitude, long double latitude);
