#include "core/site/readingwindow.h"

#include <cmath>
#include <ctime>

#include "core/station/myutils.h"
#include "core/astronomy/vsop.h"

namespace {

double TimeOfDay(double t) { return t - std::floor(t); }

// The window of methods 2 and 3 on the date of utc: from z (evening) to r
// (morning of that date); the night of that date is outside [r, z].
struct TNightEdges {
    double Morning, Evening;
};

TNightEdges Edges(const TSiteRow& site, double utc, bool astronomical) {
    const double date = std::floor(utc);
    // The engine counts longitudes positive west.
    const long double lon = -static_cast<long double>(site.Longitude.value_or(0));
    const long double lat = site.Latitude.value_or(0);
    TNightEdges e;
    if (astronomical) {
        e.Morning = AstronomicalDawn(date, lon, lat);
        e.Evening = AstronomicalDusk(date, lon, lat);
    } else {
        e.Morning = SunRise(date, lon, lat);
        e.Evening = SunSet(date, lon, lat);
    }
    return e;
}

std::string FormatHoursMinutes(double t) {
    const DateTimeParts p = DecodeDateTime(t);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
    return buf;
}

}  // namespace

TDayReadingWindow::TDayReadingWindow(const TSiteRow& site, double utc) : mode_(site.AcquireMode) {
    switch (mode_) {
    case kTimed:
        start_ = TimeOfDay(site.StartTime);
        stop_ = TimeOfDay(site.StopTime);
        break;
    case kDiscardByDay:
    case kDiscardInTwilight: {
        if (!site.Latitude || !site.Longitude) break;
        TNightEdges e = Edges(site, utc, mode_ == kDiscardInTwilight);
        if (e.Evening < e.Morning) e.Evening += 1;
        edges_ = true;
        morning_ = e.Morning;
        evening_ = e.Evening;
        break;
    }
    default:
        break;
    }
}

bool TDayReadingWindow::Contains(double utc) const {
    switch (mode_) {
    case kContinuous:
        return true;
    case kTimed: {
        const double d = TimeOfDay(utc);
        const double s = start_;
        const double e = stop_;
        // Compared to the millisecond: a stored 06:00 must include a tick at 06:00:00.
        const auto ms = [](double x) { return std::llround(x * 86400000.0); };
        if (ms(e) >= ms(s)) return ms(s) <= ms(d) && ms(d) <= ms(e);
        return ms(d) >= ms(s) || ms(d) <= ms(e);  // crosses midnight
    }
    case kDiscardByDay:
    case kDiscardInTwilight:
        if (!edges_) return true;
        return utc < morning_ || utc > evening_;
    default:
        return false;
    }
}

bool IsInReadingWindow(const TSiteRow& site, double utc) { return TDayReadingWindow(site, utc).Contains(utc); }

double LocalToUtcOffset(int siteTimeZone, const TZoneInfo& zone) {
    const double daylight = zone.Daylight ? -1.0 / 24.0 : 0.0;
    if (siteTimeZone >= -12 && siteTimeZone != 12) return daylight + (zone.BiasMinutes / 60) / 24.0;
    return daylight;
}

int DefaultTimeZone(const TZoneInfo& zone) { return static_cast<int>(std::trunc(zone.BiasMinutes / -60.0)); }

bool ReadingDue(double now, double last, int intervalMinutes) {
    // Compared in whole milliseconds, so that ten minutes of 30-second
    // ticks make exactly ten minutes whatever the rounding of the sums.
    const long long elapsed = std::llround((now - last) * 86400000.0);
    return elapsed >= static_cast<long long>(intervalMinutes) * 60000 - kDueToleranceMs;
}

std::optional<TWindowTimes> ReadingWindowTimes(const TSiteRow& site, double utc) {
    if (site.AcquireMode != kDiscardByDay && site.AcquireMode != kDiscardInTwilight) return std::nullopt;
    const TNightEdges e = Edges(site, utc, site.AcquireMode == kDiscardInTwilight);
    return TWindowTimes{FormatHoursMinutes(e.Evening), FormatHoursMinutes(e.Morning)};
}

double TPcClock::NowLocal() { return ::NowLocal(); }

TZoneInfo TPcClock::Zone() { return PcZoneInfo(); }

TZoneInfo PcZoneInfo() { return PcZoneInfoAt(UnixToDateTime(static_cast<double>(time(nullptr)))); }

TZoneInfo PcZoneInfoAt(double utc) {
    const time_t at = static_cast<time_t>(std::floor(DateTimeToUnix(utc)));
    struct tm local {};
    localtime_r(&at, &local);
    TZoneInfo z;
    z.Daylight = local.tm_isdst > 0;
    long standardGmtOff = local.tm_gmtoff;
    if (z.Daylight) {
        standardGmtOff = local.tm_gmtoff - 3600;  // a zone that never leaves daylight saving
        // The standard offset is the one of a date of the year without daylight saving.
        for (int month = 0; month < 12; ++month) {
            struct tm probe {};
            probe.tm_year = local.tm_year;
            probe.tm_mon = month;
            probe.tm_mday = 15;
            probe.tm_hour = 12;
            probe.tm_isdst = -1;
            const time_t t = mktime(&probe);
            struct tm back {};
            localtime_r(&t, &back);
            if (back.tm_isdst == 0) {
                standardGmtOff = back.tm_gmtoff;
                break;
            }
        }
    }
    z.BiasMinutes = static_cast<int>(-standardGmtOff / 60);
    return z;
}
