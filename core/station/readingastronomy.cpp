#include "core/station/readingastronomy.h"

#include <cmath>

#include "core/astronomy/moon.h"
#include "core/astronomy/vsop.h"

namespace {

// More digits than the month inside MoonAge: the phase of a half month is 0.5.
constexpr double kSynodicMonthForPhase = 29.53058912;

double TimeOfDay(double t) { return t - std::trunc(t); }

}  // namespace

ReadingBodies ComputeReadingBodies(double latitude, double longitude, double dateTime) {
    // The engine counts longitude positive west.
    const long double phi = latitude;
    const long double lambda = -static_cast<long double>(longitude);
    // Each body once: the four entry points one by one would compute the Sun three times.
    const SunAndMoonAt a = SunAndMoon(dateTime, lambda, phi);
    ReadingBodies b;
    b.MoonH = static_cast<double>(a.Moon.Altitude);
    b.SunH = static_cast<double>(a.Sun.Altitude);
    b.MoonAgeDays = static_cast<double>(a.MoonAge);
    b.MoonPh = b.MoonAgeDays / kSynodicMonthForPhase;
    b.MoonIllum = static_cast<double>(a.MoonIllumination);
    return b;
}

ReadingTwilights ComputeReadingTwilights(double latitude, double longitude, double dateTime) {
    const long double phi = latitude;
    const long double lambda = -static_cast<long double>(longitude);
    const double day = std::trunc(dateTime);
    ReadingTwilights t;
    try {
        t.AstroTwilight = TimeOfDay(AstronomicalDusk(day, lambda, phi));
    } catch (const E_NoRiseSet&) {
    }
    try {
        t.AstroDowning = TimeOfDay(AstronomicalDawn(day, lambda, phi));
    } catch (const E_NoRiseSet&) {
    }
    return t;
}
