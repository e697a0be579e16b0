#include "core/astronomy/vsop.h"

#include <array>
#include <cmath>

#include "core/astronomy/astro_tables.h"
#include "core/astronomy/entry_checks.h"

using namespace astro_consts;

namespace {

VSOPTerm TableTerm(const astro_tables::VSOPSeries* series, int index, int power) {
    if (power < 0 || power >= astro_tables::kVSOPPowers) return {};
    const astro_tables::VSOPSeries& s = series[power];
    if (index < 0 || index >= s.count) return {};
    return s.terms[index];
}

// Altitude of the Sun's centre at the events; -0.8333 exactly, not -50/60.
constexpr long double kSunriseAltitude = -0.8333L;
constexpr long double kAstronomicalTwilightAltitude = -18.0L;

// What an event takes of its day's 0h: the Sun there and the sidereal time.
struct MidnightSun {
    double Day = NAN;
    BodyPosition Sun;
    long double Theta = 0;
};

// The events of one day use the Sun at three midnights, the same for every
// site and every event, and a station asks for them on each tick: the last
// few midnights are kept, per thread, so the costly series run once a day.
// The values are those computed afresh, to the bit.
MidnightSun AtMidnight(double day) {
    thread_local std::array<MidnightSun, 4> kept;
    thread_local size_t next = 0;
    for (const MidnightSun& k : kept)
        if (k.Day == day) return k;
    MidnightSun& k = kept[next];
    next = (next + 1) % kept.size();
    k.Sun = SunPosition(day);
    k.Theta = ApparentSiderealTime(day);
    k.Day = day;
    return k;
}

}  // namespace

long double TVSOP::Tau() const {
    return (static_cast<long double>(Date) - kDay2000 - 0.5L) / 365250.0L;
}

long double TVSOP::SumSeries(TermFunction term) const {
    const long double tau = Tau();
    long double s[astro_tables::kVSOPPowers];
    for (int p = 0; p < astro_tables::kVSOPPowers; ++p) {
        long double sum = 0;
        for (int i = 0;; ++i) {
            const VSOPTerm x = (this->*term)(i, p);
            // The all-zero term marks the end of the series; no published term
            // has a zero amplitude (the generator checks it).
            if (x.A == 0 && x.B == 0 && x.C == 0) break;
            sum += x.A * CosRad(x.B + x.C * tau);
        }
        s[p] = sum;
    }
    long double r = s[5];
    for (int p = 4; p >= 0; --p) r = r * tau + s[p];
    return r * 1e-8L;
}

long double TVSOP::Longitude() const { return SumSeries(&TVSOP::LongitudeTerm); }
long double TVSOP::Latitude() const { return SumSeries(&TVSOP::LatitudeTerm); }
long double TVSOP::Radius() const { return SumSeries(&TVSOP::RadiusTerm); }

void TVSOP::ToFK5(long double& L, long double& B) const {
    const long double T = 10.0L * Tau();
    const long double Lp = L + T * DegToRad(-1.397L - 0.00031L * T);
    const long double cosLp = CosRad(Lp), sinLp = SinRad(Lp);
    const long double B0 = B;
    L = L - DegToRad(0.09033L / 3600.0L) + DegToRad(0.03916L / 3600.0L) * (cosLp + sinLp) * std::tan(B0);
    B = B0 + DegToRad(0.03916L / 3600.0L) * (cosLp - sinLp);
}

VSOPTerm TVSOPEarth::LongitudeTerm(int index, int power) const {
    return TableTerm(astro_tables::kEarthLongitude, index, power);
}
VSOPTerm TVSOPEarth::LatitudeTerm(int index, int power) const {
    return TableTerm(astro_tables::kEarthLatitude, index, power);
}
VSOPTerm TVSOPEarth::RadiusTerm(int index, int power) const {
    return TableTerm(astro_tables::kEarthRadius, index, power);
}

HeliocentricPosition EarthHeliocentric(double t) { return Heliocentric<TVSOPEarth>(t); }

BodyPosition SunPosition(double t) {
    const HeliocentricPosition e = EarthHeliocentric(t);
    long double theta = e.Longitude + 180.0L;
    long double beta = -e.Latitude;
    const long double T = (JulianDay(t) - kJ2000) / 365250.0L * 10.0L;
    const long double lambdaP = theta + T * (-1.397L - 0.00031L * T);
    theta -= 0.09033L / 3600.0L;
    beta += (0.03916L / 3600.0L) * (CosDeg(lambdaP) - SinDeg(lambdaP));
    theta -= (20.4898L / 3600.0L) / e.Radius;  // aberration

    BodyPosition p;
    p.Longitude = NormalizeAngle(theta);
    p.Latitude = beta;
    p.Distance = e.Radius * 149597869.0L;
    EclipticToEquatorial(p, t);
    return p;
}

HorizontalPosition SunHorizontalPosition(double t, long double longitude, long double latitude) {
    entry_checks::Site(t, longitude, latitude);
    return HorizontalOf(SunPosition(t), t, longitude, latitude);
}

long double Interpolate3(long double y1, long double y2, long double y3, long double n) {
    long double a = y2 - y1, b = y3 - y2;
    if (a > 100.0L) a -= 360.0L;
    if (a < -100.0L) a += 360.0L;
    if (b > 100.0L) b -= 360.0L;
    if (b < -100.0L) b += 360.0L;
    return y2 + (n / 2.0L) * (a + b + n * (b - a));
}

long double RiseSetCorrection(long double m, const RiseSetWork& w) {
    const long double alpha = Interpolate3(w.Sun[0].RightAscension, w.Sun[1].RightAscension,
                                           w.Sun[2].RightAscension, m);
    const long double delta = Interpolate3(w.Sun[0].Declination, w.Sun[1].Declination,
                                           w.Sun[2].Declination, m);
    long double H = NormalizeAngle(w.Theta0 + 360.985647L * m - w.Longitude - alpha);
    if (H > 180.0L) H -= 360.0L;
    const long double h = ArcSinDeg(SinDeg(w.Latitude) * SinDeg(delta) +
                                    CosDeg(w.Latitude) * CosDeg(delta) * CosDeg(H));
    const long double dm = (h - w.h0) / (360.0L * CosDeg(delta) * CosDeg(w.Latitude) * SinDeg(H));
    // A Sun that only grazes the altitude at transit leaves nothing to divide
    // by; the first estimate is then the best there is.
    return std::isfinite(dm) ? dm : 0.0L;
}

double RiseSetEvent(RiseSetKind event, double date, long double longitude, long double latitude) {
    entry_checks::Site(date, longitude, latitude);
    RiseSetWork w;
    const bool rising = event == RiseSetKind::Sunrise || event == RiseSetKind::AstronomicalDawn;
    w.h0 = (event == RiseSetKind::Sunrise || event == RiseSetKind::Sunset) ? kSunriseAltitude
                                                                            : kAstronomicalTwilightAltitude;
    w.Longitude = longitude;
    w.Latitude = latitude;
    // The day's midnight. Date-times count days linearly, so the day that
    // holds an instant before 1899-12-30 is found by flooring.
    const double d0 = std::floor(date);
    for (int i = 0; i < 3; ++i) w.Sun[i] = AtMidnight(d0 - 1 + i).Sun;
    w.Theta0 = AtMidnight(d0).Theta;

    const long double delta2 = w.Sun[1].Declination;
    const long double cosH0 =
        (SinDeg(w.h0) - SinDeg(latitude) * SinDeg(delta2)) / (CosDeg(latitude) * CosDeg(delta2));
    if (!(cosH0 >= -1.0L && cosH0 <= 1.0L)) throw E_NoRiseSet();
    const long double H0 = ArcCosDeg(cosH0);

    const long double m0 = (w.Sun[1].RightAscension + longitude - w.Theta0) / 360.0L;
    long double m = rising ? m0 - H0 / 360.0L : m0 + H0 / 360.0L;
    m -= std::trunc(m);
    if (m < 0) m += 1.0L;
    m += RiseSetCorrection(m, w);
    return static_cast<double>(d0 + m);
}

double SunRise(double date, long double longitude, long double latitude) {
    return RiseSetEvent(RiseSetKind::Sunrise, date, longitude, latitude);
}
double SunSet(double date, long double longitude, long double latitude) {
    return RiseSetEvent(RiseSetKind::Sunset, date, longitude, latitude);
}
double AstronomicalDawn(double date, long double longitude, long double latitude) {
    return RiseSetEvent(RiseSetKind::AstronomicalDawn, date, longitude, latitude);
}
double AstronomicalDusk(double date, long double longitude, long double latitude) {
    return RiseSetEvent(RiseSetKind::AstronomicalDusk, date, longitude, latitude);
}
