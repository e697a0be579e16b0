#pragma once
// Argument checks of the engine's entry points (internal). Bad input gets a
// clear error instead of a NaN that would end up in a stored reading.
#include <cmath>
#include <stdexcept>

namespace entry_checks {

inline void Instant(double t) {
    if (!std::isfinite(t)) throw std::invalid_argument("astronomy: the date-time is not a finite number");
}

inline void Site(double t, long double longitude, long double latitude) {
    Instant(t);
    if (!std::isfinite(longitude)) throw std::invalid_argument("astronomy: the longitude is not a finite number");
    if (!(latitude >= -90.0L && latitude <= 90.0L))
        throw std::invalid_argument("astronomy: the latitude must lie between -90 and 90 degrees");
}

}  // namespace entry_checks
