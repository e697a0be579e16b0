// kalosqm-cli astro --lat DEG --lon DEG [--utc "yyyy-mm-dd hh:mm:ss"]:
// the astronomy of one reading for a place and instant, plus the almanac of
// that UT day. Longitude is positive east, as sites store it; the engine
// counts it positive west, so it is negated on the way in.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "programs/cli/cli.h"
#include "core/astronomy/moon.h"
#include "core/astronomy/vsop.h"

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

constexpr long long kUnixEpochDateTime = 25569;  // 1970-01-01 as a date-time

bool IsLeap(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// "yyyy-mm-dd hh:mm:ss" to a date-time; false when malformed or impossible.
bool ParseUtc(const std::string& text, double& t) {
    static const char kPattern[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != sizeof kPattern - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
    }
    int y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || mo < 1 || mo > 12 || d < 1) return false;
    if (d > kDays[mo - 1] + (mo == 2 && IsLeap(y) ? 1 : 0)) return false;
    if (h > 23 || mi > 59 || s > 59) return false;
    t = static_cast<double>(DaysFromCivil(y, mo, d) + kUnixEpochDateTime) + (h * 3600 + mi * 60 + s) / 86400.0;
    return true;
}

// Date-time to "yyyy-mm-dd hh:mm:ss", rounded to the second.
std::string FormatDateTime(double t) {
    const long long total = std::llround(t * 86400.0);
    long long days = total / 86400, secs = total % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    long long y;
    unsigned m, d;
    CivilFromDays(days - kUnixEpochDateTime, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, secs / 3600, secs / 60 % 60,
                  secs % 60);
    return buf;
}

double Now() {
    using namespace std::chrono;
    const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochDateTime + seconds / 86400.0;
}

void PrintEvent(const char* label, double (*event)(double, long double, long double), double day,
                long double lonWest, long double lat, long double altitude) {
    std::printf("  %-18s ", label);
    try {
        std::printf("%s UT\n", FormatDateTime(event(day, lonWest, lat)).c_str());
    } catch (const E_NoRiseSet& e) {
        std::printf("does not occur: the Sun does not cross %.4Lg degrees that day (%s)\n", altitude, e.what());
    }
}

int Run(double lat, double lon, const std::string& utcText) {
    double t = 0;
    if (!utcText.empty()) {
        if (!ParseUtc(utcText, t)) throw cli::UsageError("--utc: '" + utcText + "' is not \"yyyy-mm-dd hh:mm:ss\"");
    } else {
        t = Now();
    }

    const long double lonWest = -static_cast<long double>(lon);
    const HorizontalPosition sun = SunHorizontalPosition(t, lonWest, lat);
    const HorizontalPosition moon = MoonHorizontalPosition(t, lonWest, lat);
    const long double phase = MoonPhaseAngle(t);
    const long double lit = MoonIllumination(t);

    std::printf("Instant             %s UT\n", FormatDateTime(t).c_str());
    std::printf("Site                latitude %.6f, longitude %.6f (north and east positive)\n", lat, lon);
    std::printf("                    azimuths from the north through the east; geometric altitudes\n");
    std::printf("Sun                 altitude %8.3Lf deg, azimuth %7.3Lf deg\n", sun.Altitude, sun.Azimuth);
    std::printf("Moon                altitude %8.3Lf deg, azimuth %7.3Lf deg\n", moon.Altitude, moon.Azimuth);
    std::printf("Moon age            %.3Lf days\n", MoonAge(t));
    std::printf("Moon phase angle    %.2Lf deg (%s)\n", phase, phase >= 0 ? "waxing" : "waning");
    std::printf("Moon illuminated    %.4Lf (%.1Lf %%)\n", lit, lit * 100);
    const double day = std::floor(t);
    std::printf("Events of the UT day %s:\n",
                FormatDateTime(day).substr(0, 10).c_str());
    PrintEvent("Sunrise", &SunRise, day, lonWest, lat, -0.8333L);
    PrintEvent("Sunset", &SunSet, day, lonWest, lat, -0.8333L);
    PrintEvent("Astronomical dawn", &AstronomicalDawn, day, lonWest, lat, -18);
    PrintEvent("Astronomical dusk", &AstronomicalDusk, day, lonWest, lat, -18);
    return 0;
}

void Add(CLI::App& root) {
    struct Options {
        double lat = 0, lon = 0;
        std::string utc;
    };
    auto o = std::make_shared<Options>();
    CLI::App* c = root.add_subcommand(
        "astro", "Sun and Moon altitude and azimuth, Moon age, phase and illumination at an instant (default: now, "
                 "UT), and the UT day's sunrise, sunset and astronomical dawn and dusk");
    c->add_option("--lat", o->lat, "latitude in degrees, north positive")->required()->check(cli::Finite())->check(CLI::Range(-90.0, 90.0));
    c->add_option("--lon", o->lon, "longitude in degrees, east positive")->required()->check(cli::Finite())->check(CLI::Range(-180.0, 180.0));
    c->add_option("--utc", o->utc, "the instant, UT")->type_name("\"yyyy-mm-dd hh:mm:ss\"");
    cli::SetAction(c, [o] { return Run(o->lat, o->lon, o->utc); });
}

}  // namespace

KALO_CLI_COMMAND("astro", &Add);
