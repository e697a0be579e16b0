#pragma once
// Nights made from a model of the sky a meter sees: a smooth clear curve
// (the site's own light, dimming slowly as lights go out, twilight from the
// Sun's real altitude, a Moon that sets at a chosen time), a meter's noise
// and its 0.01 mag steps, and cloud stretches of known times and kinds. The
// model says which readings it made cloudy, so a classifier can be scored.
#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/astronomy/vsop.h"
#include "core/site/nightquality.h"
#include "core/station/myutils.h"

namespace nightmodel {

enum class TCloud { Thick, Thin, Broken };

struct TCloudStretch {
    double From = 0, To = 0;  // date-times
    TCloud Kind = TCloud::Thick;
};

struct TModelNight {
    double Night = 0;                  // the date
    double Latitude = 45.87, Longitude = 11.53;  // east positive
    double Zenith = 21.30;             // clear moonless sky, mag/arcsec^2
    double Noise = 0.03;               // the meter's, mag (one sigma)
    double IntervalMinutes = 1;
    std::optional<double> MoonSet;     // the Moon sets then (up before); none: down all night
    double MoonZenith = 18.2;          // sky of a high Moon
    std::vector<TCloudStretch> Clouds;
    unsigned Seed = 1;
};

struct TModelReading {
    TNightReading Reading;
    bool Cloudy = false;  // as the model made it
};

inline double Flux(double mag) { return std::pow(10.0, -0.4 * mag); }
inline double Mag(double flux) { return -2.5 * std::log10(flux); }

// A smooth irregular wave of about unit size: a few sines with periods of 3
// to 14 minutes and phases of the seed.
inline double Wave(double t, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> phase(0, 2 * M_PI);
    const double periods[] = {3.1, 4.7, 7.3, 13.9};
    double s = 0;
    for (double p : periods) s += std::sin(2 * M_PI * t * 1440 / p + phase(g));
    return s / 1.4;
}

// How many magnitudes a cloud brightens the sky at t (0 outside), and
// whether the model calls t cloudy.
inline double CloudEffect(const TModelNight& n, double t, bool& cloudy) {
    cloudy = false;
    double effect = 0;
    for (size_t k = 0; k < n.Clouds.size(); ++k) {
        const TCloudStretch& c = n.Clouds[k];
        if (t < c.From || t > c.To) continue;
        cloudy = true;
        // Clouds come and go over three minutes.
        const double edge = std::min({1.0, (t - c.From) * 1440 / 3, (c.To - t) * 1440 / 3});
        const unsigned seed = n.Seed * 97 + static_cast<unsigned>(k);
        switch (c.Kind) {
            case TCloud::Thick:  // overcast lit from below: a lot brighter, lumpy
                effect += edge * (1.6 + 0.35 * Wave(t, seed));
                break;
            case TCloud::Thin:  // veil: a little brighter, uneven
                effect += edge * (0.45 + 0.2 * Wave(t, seed));
                break;
            case TCloud::Broken: {  // patches of 3 to 12 minutes, holes of 1 to 5 between
                const double minute = (t - c.From) * 1440;
                std::mt19937 g(seed);
                std::uniform_real_distribution<double> patch(3, 12), gap(1, 5), depth(0.5, 1.6);
                double at = 0;
                bool in = true;
                double d = depth(g);
                while (true) {
                    const double l = in ? patch(g) : gap(g);
                    if (minute < at + l) break;
                    at += l;
                    in = !in;
                    d = depth(g);
                }
                if (in) effect += edge * d;
                break;
            }
        }
    }
    return effect;
}

inline double MoonHeight(const TModelNight& n, double t) {
    if (!n.MoonSet) return -30;
    return (*n.MoonSet - t) * 24 * 11;  // 11 degrees an hour near the horizon
}

// The model's Sun: the almanac's low-precision formula (0.01 degree, in
// doubles), enough for a modelled twilight. The engine's long double series
// would be most of a test's time under an arm64 emulator, where every long
// double operation is a software routine.
inline double SunHeight(const TModelNight& n, double t) {
    constexpr double kRad = M_PI / 180;
    const double d = t + 2415018.5 - 2451545.0;  // days from J2000
    const double L = 280.460 + 0.9856474 * d, g = (357.528 + 0.9856003 * d) * kRad;
    const double lambda = (L + 1.915 * std::sin(g) + 0.020 * std::sin(2 * g)) * kRad;
    const double epsilon = (23.439 - 0.0000004 * d) * kRad;
    const double ra = std::atan2(std::cos(epsilon) * std::sin(lambda), std::cos(lambda));
    const double dec = std::asin(std::sin(epsilon) * std::sin(lambda));
    const double hourAngle = (280.46061837 + 360.98564736629 * d + n.Longitude) * kRad - ra;
    const double phi = n.Latitude * kRad;
    return std::asin(std::sin(phi) * std::sin(dec) + std::cos(phi) * std::cos(dec) * std::cos(hourAngle)) / kRad;
}

// The clear sky the meter would see at t, without noise.
inline double ClearSky(const TModelNight& n, double t) {
    const double hours = (t - (std::floor(n.Night) + 1)) * 24;  // from midnight
    double flux = Flux(n.Zenith + 0.15 * std::tanh(hours / 2));  // lights go out
    // Twilight as the real nights of Cloughleafin (tests/data/nights) show
    // it: 13.1 at -6 degrees, 19.7 at -12, nothing left by -18.
    const double sun = SunHeight(n, t);
    if (sun > -20) flux += Flux(6.5 - 1.1 * sun);
    const double moon = MoonHeight(n, t);
    if (moon > 0) flux += Flux(n.MoonZenith) * std::pow(std::sin(moon * M_PI / 180), 1.5);
    return Mag(flux);
}

// Readings from the evening's Sun at -6 degrees to the morning's at -6,
// every IntervalMinutes (a few seconds late now and then).
inline std::vector<TModelReading> MakeNight(const TModelNight& n) {
    std::vector<TModelReading> out;
    std::mt19937 g(n.Seed);
    std::normal_distribution<double> noise(0, n.Noise);
    std::uniform_real_distribution<double> late(0, 4);
    const double step = n.IntervalMinutes / 1440;
    double t = std::floor(n.Night) + 0.5;
    while (t < std::floor(n.Night) + 1.5 && SunHeight(n, t) > -6) t += step;
    for (; t < std::floor(n.Night) + 1.5; t += step) {
        if (t > std::floor(n.Night) + 1 && SunHeight(n, t) > -6) break;
        const double when = t + late(g) / 86400;
        TModelReading r;
        const double value = ClearSky(n, when) - CloudEffect(n, when, r.Cloudy) + noise(g);
        r.Reading.Time = when;
        r.Reading.Value = std::round(value * 100) / 100;
        r.Reading.SunHeight = SunHeight(n, when);
        r.Reading.MoonHeight = MoonHeight(n, when);
        out.push_back(r);
    }
    return out;
}

inline std::vector<TNightReading> ReadingsOf(const std::vector<TModelReading>& m) {
    std::vector<TNightReading> out;
    for (const TModelReading& r : m) out.push_back(r.Reading);
    return out;
}

// A time of the night: hours after the night's midnight (negative before).
inline double At(const TModelNight& n, double hours) { return std::floor(n.Night) + 1 + hours / 24; }

}  // namespace nightmodel
