#pragma once
// The rules of the schedule that depend only on the site, the instant and
// the PC's time zone: the reading window of each acquisition method, the
// due rule and the conversion of PC local time to UTC.
#include <optional>
#include <string>

#include "core/site/siteports.h"

// Acquisition methods (SIT_ACQUIREMODE).
enum TAcquireMode {
    kContinuous = 0,
    kTimed = 1,
    kDiscardByDay = 2,        // sunset to sunrise
    kDiscardInTwilight = 3,   // astronomical dusk to dawn
};

// Whether the UTC instant lies in the site's reading window. Methods 2 and 3
// throw E_NoRiseSet where the Sun does not reach the altitude that day.
bool IsInReadingWindow(const TSiteRow& site, double utc);

// The reading window of one UT day, worked out once for many instants of
// that day (an imported file): Contains(t) is IsInReadingWindow(site, t)
// for every t of the UT day of utc. Throws E_NoRiseSet where it would.
class TDayReadingWindow {
public:
    TDayReadingWindow(const TSiteRow& site, double utc);
    bool Contains(double utc) const;

private:
    int mode_;
    double start_ = 0, stop_ = 0;       // method 1: times of day
    bool edges_ = false;                // methods 2 and 3 with a position
    double morning_ = 0, evening_ = 0;  // their edges
};

// Days to add to PC local time to obtain UTC, for a site time zone.
double LocalToUtcOffset(int siteTimeZone, const TZoneInfo& zone);
// The PC zone in whole hours, east positive, daylight saving ignored.
int DefaultTimeZone(const TZoneInfo& zone);

// Ticks land a few milliseconds either side of their 30 s, and a time
// synchronisation moves the clock by a second or two: a reading is due that
// much before the interval is complete, so a 1-minute interval reads at every
// second tick. Well below half a tick, so no reading ever comes a tick early.
constexpr int kDueToleranceMs = 5000;

// Whether a reading (or a synchronisation) is due: the interval (minutes),
// less the tolerance, since the last due time. A clock set back makes
// nothing due until that much time has passed again.
bool ReadingDue(double now, double last, int intervalMinutes);

// The texts of the labels "Start (TU)" and "Stop (TU)" for methods 2 and 3
// ("hh:mm", the date part of utc); nullopt for the other methods. An empty
// coordinate counts as 0. Throws E_NoRiseSet like the window.
struct TWindowTimes {
    std::string Start, Stop;
};
std::optional<TWindowTimes> ReadingWindowTimes(const TSiteRow& site, double utc);

// The PC's real zone now (standard bias, daylight flag).
TZoneInfo PcZoneInfo();
// The same at another instant (UTC date-time): the daylight rule of that day.
TZoneInfo PcZoneInfoAt(double utc);

// The PC's own clock and zone, for every program.
class TPcClock : public IClock {
public:
    double NowLocal() override;
    TZoneInfo Zone() override;
};
