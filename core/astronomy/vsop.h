#pragma once
// vsop: the Sun. A VSOP87 series evaluator (TVSOP, with the complete Earth
// series of version D in TVSOPEarth), the Earth's heliocentric position, the
// Sun's apparent position and its altitude/azimuth for a site, and from them
// sunrise, sunset and astronomical dawn and dusk for a UT day, with
// E_NoRiseSet when the Sun does not reach the wanted altitude that day.
//
// Date-times are days since 1899-12-30 00:00 (UT); longitudes positive WEST.

#include <stdexcept>

#include "core/astronomy/ah_math.h"
#include "core/astronomy/vsop_term.h"

// Series evaluator for one body; subclasses supply the term tables.
class TVSOP {
public:
    using TermFunction = VSOPTerm (TVSOP::*)(int index, int power) const;

    virtual ~TVSOP() = default;

    double Date = 0;  // the instant wanted, date-time

    // Julian millennia from J2000.0.
    long double Tau() const;
    // Sum of the six power series given by term, as a polynomial in tau:
    // radians for longitude and latitude, au for the radius.
    long double SumSeries(TermFunction term) const;
    long double Longitude() const;
    long double Latitude() const;
    long double Radius() const;
    // Dynamical to FK5 frame; L and B in radians, updated in place.
    void ToFK5(long double& L, long double& B) const;

    // Term index (from 0) of the series of the given power; the all-zero term
    // for an index outside the table or a power without a series.
    virtual VSOPTerm LongitudeTerm(int index, int power) const = 0;
    virtual VSOPTerm LatitudeTerm(int index, int power) const = 0;
    virtual VSOPTerm RadiusTerm(int index, int power) const = 0;
};

class TVSOPEarth final : public TVSOP {
public:
    VSOPTerm LongitudeTerm(int index, int power) const override;
    VSOPTerm LatitudeTerm(int index, int power) const override;
    VSOPTerm RadiusTerm(int index, int power) const override;
};

struct HeliocentricPosition {
    long double Longitude = 0;  // degrees, [0, 360)
    long double Latitude = 0;   // degrees
    long double Radius = 0;     // au
};

// Heliocentric position of the body that Body (a TVSOP) describes.
template <class Body>
HeliocentricPosition Heliocentric(double t) {
    Body body;
    body.Date = t;
    long double R = body.Radius();
    long double L = body.Longitude();
    long double B = body.Latitude();
    body.ToFK5(L, B);
    return {NormalizeAngle(RadToDeg(L)), RadToDeg(B), R};
}

HeliocentricPosition EarthHeliocentric(double t);

// Apparent geocentric position of the Sun: Longitude, Latitude, Distance,
// RightAscension, Declination.
BodyPosition SunPosition(double t);

// Sun's geometric altitude and azimuth (from the north) for an instant (UT)
// and a site (longitude positive west). Throws std::invalid_argument for a
// non-finite argument or a latitude outside -90..90.
HorizontalPosition SunHorizontalPosition(double t, long double longitude, long double latitude);

// ---- Rise, set and twilight --------------------------------------------

// Raised when the Sun does not cross the event's altitude on the day asked.
class E_NoRiseSet : public std::runtime_error {
public:
    E_NoRiseSet() : std::runtime_error("No rises or sets calculable") {}
};

enum class RiseSetKind { Sunrise, Sunset, AstronomicalDawn, AstronomicalDusk };

// Working values of one rise/set computation.
struct RiseSetWork {
    long double h0 = 0;         // standard altitude of the event, degrees
    long double Theta0 = 0;     // apparent sidereal time at the day's 0h, degrees
    BodyPosition Sun[3];        // the Sun at d0 - 1, d0, d0 + 1
    long double Longitude = 0;  // positive west
    long double Latitude = 0;
};

// The event on the UT day named by the whole-day part of date (its time of
// day is ignored). Result: the day's midnight plus the corrected day
// fraction, which may lie slightly outside the day. Throws E_NoRiseSet when
// the Sun does not reach the altitude that day, std::invalid_argument for a
// non-finite argument or a latitude outside -90..90.
double RiseSetEvent(RiseSetKind event, double date, long double longitude, long double latitude);
// Correction to add to the day fraction m (one Newton step on the altitude).
long double RiseSetCorrection(long double m, const RiseSetWork& work);
// Interpolates three angles tabulated a day apart at the fraction n of the
// day after the middle one, bridging a wrap through 0/360.
long double Interpolate3(long double y1, long double y2, long double y3, long double n);

double SunRise(double date, long double longitude, long double latitude);
double SunSet(double date, long double longitude, long double latitude);
// The rising Sun reaches -18 degrees: end of astronomical night.
double AstronomicalDawn(double date, long double longitude, long double latitude);
// The setting Sun reaches -18 degrees: start of astronomical night.
double AstronomicalDusk(double date, long double longitude, long double latitude);
