#include "plot/plotdata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/station/fbdb.h"
#include "core/site/localquery.h"
#include "core/site/nightquality.h"
#include "core/astronomy/moon.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "core/site/siterow.h"
#include "core/astronomy/vsop.h"

namespace {

constexpr double kMinute = 1.0 / 1440;
constexpr double kSampleStep = 10 * kMinute;
constexpr double kDarkAltitude = -18;
constexpr double kHorizonSunAltitude = -0.8333;


struct TSunEvent {
    double Utc = 0;
    bool Dusk = false;
};

// Astronomical dusk and dawn of every UT day from first to last, in time order.
std::vector<TSunEvent> TwilightEvents(double latitude, double longitudeWest, double firstDay, double lastDay) {
    std::vector<TSunEvent> events;
    for (double day = firstDay; day <= lastDay; day += 1) {
        try {
            events.push_back({AstronomicalDusk(day, longitudeWest, latitude), true});
        } catch (const E_NoRiseSet&) {
        }
        try {
            events.push_back({AstronomicalDawn(day, longitudeWest, latitude), false});
        } catch (const E_NoRiseSet&) {
        }
    }
    std::sort(events.begin(), events.end(), [](const TSunEvent& a, const TSunEvent& b) { return a.Utc < b.Utc; });
    return events;
}

bool DarkAt(double utc, double latitude, double longitudeWest) {
    return SunHorizontalPosition(utc, longitudeWest, latitude).Altitude < kDarkAltitude;
}

// The dark spans of a window from the events, in UTC. An event that does
// not change the state (the same dusk found from two UT days) is skipped.
std::vector<TTimeSpan> DarkSpans(const std::vector<TSunEvent>& events, double fromUtc, double toUtc, bool darkAtStart,
                                 std::vector<TSunEvent>& crossings) {
    std::vector<TTimeSpan> spans;
    bool dark = darkAtStart;
    double begin = fromUtc;
    for (const TSunEvent& e : events) {
        if (e.Utc <= fromUtc || e.Utc >= toUtc || e.Dusk == dark) continue;
        if (e.Dusk)
            begin = e.Utc;
        else
            spans.push_back({begin, e.Utc});
        crossings.push_back(e);
        dark = e.Dusk;
    }
    if (dark) spans.push_back({begin, toUtc});
    return spans;
}

double MoonAltitude(double utc, double latitude, double longitudeWest) {
    return static_cast<double>(MoonHorizontalPosition(utc, longitudeWest, latitude).Altitude);
}

// The instant between a and b where the Moon crosses the horizon.
double MoonCrossing(double a, double b, double latitude, double longitudeWest) {
    const bool upAtA = MoonAltitude(a, latitude, longitudeWest) > 0;
    for (int i = 0; i < 24; ++i) {  // 10 minutes / 2^24: well below a second
        const double mid = (a + b) / 2;
        if ((MoonAltitude(mid, latitude, longitudeWest) > 0) == upAtA)
            a = mid;
        else
            b = mid;
    }
    return (a + b) / 2;
}

bool Inside(const std::vector<TTimeSpan>& spans, double t) {
    return std::any_of(spans.begin(), spans.end(), [t](const TTimeSpan& s) { return t >= s.From && t <= s.To; });
}

std::vector<TTimeSpan> Shifted(std::vector<TTimeSpan> spans, double by) {
    for (auto& s : spans) {
        s.From += by;
        s.To += by;
    }
    return spans;
}

void CheckSiteExists(fb::Database& db, int siteId) {
    fb::Transaction tr(db, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("select SIT_ID from SQMSITES where SIT_ID=:ID");
    q.SetInteger("ID", siteId);
    q.Open();
    const bool found = !q.Eof();
    q.Close();
    tr.Commit();
    if (!found) throw ENoSuchSite(siteId);
}

// The local window of a night in UTC, with one offset for the whole night
// (the one at local midnight), so a night with a clock change keeps one axis;
// civil time or standard time.
struct TNightWindow {
    TQueryWindow Local, Utc;
    double LocalToUtc = 0;
};
TNightWindow WindowOf(int siteTimeZone, double nightDate, bool standardTime) {
    TNightWindow w;
    w.Local = NightWindow(nightDate);
    const double midnight = (w.Local.Start + w.Local.Stop) / 2;
    w.LocalToUtc =
        standardTime ? SiteStandardLocalToUtc(siteTimeZone, midnight) : SiteLocalToUtc(siteTimeZone, midnight);
    w.Utc = {w.Local.Start + w.LocalToUtc, w.Local.Stop + w.LocalToUtc};
    return w;
}

std::vector<TPlotPoint> PointsOf(const std::vector<TReadingRow>& rows, double localToUtc, double origin, double scale,
                                 size_t& leftOut) {
    std::vector<TPlotPoint> points;
    points.reserve(rows.size());
    for (const TReadingRow& r : rows)
        if (const auto v = r.Corrected())
            points.push_back({(r.DateTime - localToUtc - origin) * scale, *v});
        else if (r.LeftOut)
            ++leftOut;
    return points;
}

}  // namespace

size_t THourglassData::ReadingCount() const {
    size_t n = 0;
    for (const auto& night : Nights) n += night.Readings.size();
    return n;
}

double SiteLocalToUtc(int siteTimeZone, double local) {
    // Taken as UTC first, then corrected: the zone's rule is by UTC instant.
    const double guess = LocalToUtcOffset(siteTimeZone, PcZoneInfoAt(local));
    return LocalToUtcOffset(siteTimeZone, PcZoneInfoAt(local + guess));
}

double SiteStandardLocalToUtc(int siteTimeZone, double local) {
    TZoneInfo zone = PcZoneInfoAt(local);
    zone.Daylight = false;
    return LocalToUtcOffset(siteTimeZone, zone);
}

std::string ZoneText(double localToUtc) {
    const long minutes = std::lround(-localToUtc * 1440);
    if (minutes == 0) return "UTC";
    const long a = std::labs(minutes);
    char buf[32];
    if (a % 60 == 0)
        std::snprintf(buf, sizeof buf, "UTC%c%ld", minutes < 0 ? '-' : '+', a / 60);
    else
        std::snprintf(buf, sizeof buf, "UTC%c%ld:%02ld", minutes < 0 ? '-' : '+', a / 60, a % 60);
    return buf;
}

std::string MoonPhaseName(double illuminated, bool waxing) {
    if (illuminated < 0.03) return "new moon";
    if (illuminated > 0.97) return "full moon";
    if (illuminated >= 0.45 && illuminated <= 0.55) return waxing ? "first quarter" : "last quarter";
    if (illuminated < 0.45) return waxing ? "waxing crescent" : "waning crescent";
    return waxing ? "waxing gibbous" : "waning gibbous";
}

TNightAstronomy ComputeNightAstronomy(double latitude, double longitudeEast, double fromLocal, double toLocal,
                                      double localToUtc) {
    const double lonWest = -longitudeEast;  // the engine counts longitude positive west
    const double fromUtc = fromLocal + localToUtc, toUtc = toLocal + localToUtc;
    TNightAstronomy a;

    const auto events = TwilightEvents(latitude, lonWest, std::floor(fromUtc) - 1, std::floor(toUtc) + 1);
    std::vector<TSunEvent> crossings;
    const auto dark = DarkSpans(events, fromUtc, toUtc, DarkAt(fromUtc, latitude, lonWest), crossings);

    struct TSample {
        double Utc, Sun, Moon;
    };
    std::vector<TSample> samples;
    const int n = static_cast<int>(std::ceil((toUtc - fromUtc) / kSampleStep));
    for (int i = 0; i <= n; ++i) {
        const double t = std::min(fromUtc + i * kSampleStep, toUtc);
        samples.push_back({t, static_cast<double>(SunHorizontalPosition(t, lonWest, latitude).Altitude),
                           MoonAltitude(t, latitude, lonWest)});
    }

    std::vector<TTimeSpan> moonUp;
    bool up = samples.front().Moon > 0;
    double rose = fromUtc;
    for (size_t i = 1; i < samples.size(); ++i) {
        const bool nowUp = samples[i].Moon > 0;
        if (nowUp == up) continue;
        const double at = MoonCrossing(samples[i - 1].Utc, samples[i].Utc, latitude, lonWest);
        if (nowUp)
            rose = at;
        else
            moonUp.push_back({rose, at});
        up = nowUp;
    }
    if (up) moonUp.push_back({rose, toUtc});

    // The Moon's height counts while the sky is dark: astronomical night,
    // else the hours the Sun is down, else the whole window.
    auto highest = [&](auto&& counts) -> const TSample* {
        const TSample* best = nullptr;
        for (const TSample& s : samples)
            if (counts(s) && (!best || s.Moon > best->Moon)) best = &s;
        return best;
    };
    const TSample* top = highest([&](const TSample& s) { return Inside(dark, s.Utc); });
    a.Moon.MaxDuring = TMoonHours::AstronomicalNight;
    if (!top) {
        top = highest([](const TSample& s) { return s.Sun < kHorizonSunAltitude; });
        a.Moon.MaxDuring = TMoonHours::SunDown;
    }
    if (!top) {
        top = highest([](const TSample&) { return true; });
        a.Moon.MaxDuring = TMoonHours::WholeWindow;
    }

    const double midnight = (fromUtc + toUtc) / 2;
    a.Moon.Illuminated = static_cast<double>(MoonIllumination(midnight));
    a.Moon.Waxing = MoonPhaseAngle(midnight) > 0;
    a.Moon.PhaseName = MoonPhaseName(a.Moon.Illuminated, a.Moon.Waxing);
    a.Moon.MaxAltitude = top->Moon;
    a.Moon.MaxAltitudeAt = top->Utc - localToUtc;

    a.Dark = Shifted(dark, -localToUtc);
    a.MoonUp = Shifted(moonUp, -localToUtc);
    for (const auto& c : crossings) a.Twilights.push_back({c.Utc - localToUtc, c.Dusk});
    return a;
}

double MedianInterval(const std::vector<TPlotPoint>& readings) {
    if (readings.size() < 2) return 0;
    std::vector<double> steps;
    steps.reserve(readings.size() - 1);
    for (size_t i = 1; i < readings.size(); ++i) steps.push_back(readings[i].Local - readings[i - 1].Local);
    const size_t mid = steps.size() / 2;
    std::nth_element(steps.begin(), steps.begin() + static_cast<long>(mid), steps.end());
    return steps[mid];
}

std::vector<size_t> RunStarts(const std::vector<TPlotPoint>& readings) {
    std::vector<size_t> starts;
    if (readings.empty()) return starts;
    starts.push_back(0);
    const double median = MedianInterval(readings);
    if (median <= 0) return starts;
    for (size_t i = 1; i < readings.size(); ++i)
        if (readings[i].Local - readings[i - 1].Local > 3 * median) starts.push_back(i);
    return starts;
}

ENoSuchSite::ENoSuchSite(int siteId)
    : std::runtime_error("there is no site with id " + std::to_string(siteId) + " in the database") {}

std::vector<TTimeSpan> CloudySpans(const std::vector<TReadingRow>& rows, double localToUtc) {
    std::vector<TNightReading> readings;
    for (const TReadingRow& r : rows) {
        const std::optional<double> v = r.Corrected();
        if (!v || !IsMeterValue(*v) || !std::isfinite(r.DateTime)) continue;
        readings.push_back({r.DateTime, *v, r.SunHeight, r.MoonHeight});
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const TNightReading& a, const TNightReading& b) { return a.Time < b.Time; });
    const std::vector<TReadingQuality> q = ClassifyReadings(readings);
    std::vector<double> gaps;
    for (size_t i = 1; i < readings.size(); ++i) gaps.push_back(readings[i].Time - readings[i - 1].Time);
    std::sort(gaps.begin(), gaps.end());
    const double half = gaps.empty() ? 0.5 / 1440 : gaps[gaps.size() / 2] / 2;
    std::vector<TTimeSpan> out;
    for (size_t i = 0; i < readings.size(); ++i) {
        if (q[i].Sky != TSky::Cloudy) continue;
        const double from = readings[i].Time - localToUtc - half, to = readings[i].Time - localToUtc + half;
        // The next reading's stretch joins this one: no sliver between them.
        if (!out.empty() && i > 0 && q[i - 1].Sky == TSky::Cloudy)
            out.back().To = to;
        else
            out.push_back({from, to});
    }
    return out;
}

TNightPlotData LoadNightPlotData(fb::Database& db, int siteId, double nightDate) {
    CheckSiteExists(db, siteId);
    const TSiteRow site = ReadSiteRow(db, siteId);
    const TNightWindow w = WindowOf(site.TimeZone, nightDate, false);

    TNightPlotData d;
    d.SiteName = site.Name;
    d.SiteId = siteId;
    d.NightDate = std::floor(nightDate);
    d.From = w.Local.Start;
    d.To = w.Local.Stop;
    d.LocalToUtc = w.LocalToUtc;
    d.Latitude = site.Latitude;
    d.Longitude = site.Longitude;
    {
        fb::Transaction tr(db, fb::Isolation::ReadCommitted);
        tr.Start();
        const auto rows = RunLocalQuery(tr, siteId, w.Utc, TSortOrder::Ascending);
        d.Readings = PointsOf(rows, w.LocalToUtc, 0, 1, d.LeftOut);
        d.Cloudy = CloudySpans(rows, w.LocalToUtc);
        tr.Commit();
    }
    if (site.Latitude && site.Longitude)
        d.Astronomy = ComputeNightAstronomy(*site.Latitude, *site.Longitude, d.From, d.To, d.LocalToUtc);
    return d;
}

THourglassData LoadHourglassData(fb::Database& db, int siteId, double fromDate, double toDate, bool twilight) {
    CheckSiteExists(db, siteId);
    const TSiteRow site = ReadSiteRow(db, siteId);
    THourglassData h;
    h.SiteName = site.Name;
    h.SiteId = siteId;
    h.FromDate = std::floor(fromDate);
    h.ToDate = std::floor(toDate);
    h.Latitude = site.Latitude;
    h.Longitude = site.Longitude;
    h.HasTwilight = twilight && site.Latitude && site.Longitude;
    h.LocalToUtc = WindowOf(site.TimeZone, h.FromDate, true).LocalToUtc;

    std::vector<TSunEvent> events;
    if (h.HasTwilight) events = TwilightEvents(*site.Latitude, -*site.Longitude, h.FromDate - 1, h.ToDate + 2);

    // One snapshot: every night is read as the database stood at one moment.
    fb::Transaction tr(db, fb::Isolation::Concurrency);
    tr.Start();
    for (double night = h.FromDate; night <= h.ToDate; night += 1) {
        const TNightWindow w = WindowOf(site.TimeZone, night, true);
        const double midnight = w.Local.Start + 0.5;
        THourglassNight n;
        n.NightDate = night;
        n.Readings = PointsOf(RunLocalQuery(tr, siteId, w.Utc, TSortOrder::Ascending), w.LocalToUtc, midnight, 24,
                              h.LeftOut);
        n.CellHours = MedianInterval(n.Readings);
        if (h.HasTwilight) {
            std::vector<TSunEvent> crossings;
            DarkSpans(events, w.Utc.Start, w.Utc.Stop, DarkAt(w.Utc.Start, *site.Latitude, -*site.Longitude),
                      crossings);
            for (const auto& c : crossings) {
                const double hours = (c.Utc - w.LocalToUtc - midnight) * 24;
                if (c.Dusk && !n.DuskHours)
                    n.DuskHours = hours;
                else if (!c.Dusk && !n.DawnHours && (!n.DuskHours || hours > *n.DuskHours))
                    n.DawnHours = hours;
            }
        }
        h.Nights.push_back(std::move(n));
    }
    tr.Commit();
    return h;
}
