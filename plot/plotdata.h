#pragma once
// What the published plots of a site show, as plain data: a night's readings
// in the site's local time with the Sun's and the Moon's hours, and the
// many-night picture. Loading reads the database through the site core and
// the astronomy engine; drawing (plotrender.h) needs nothing else.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fb {
class Database;
}
struct TReadingRow;

// A reading as plotted: local time (date-time) and corrected sky brightness.
struct TPlotPoint {
    double Local = 0;
    double Value = 0;  // mag/arcsec²
};

struct TTimeSpan {
    double From = 0, To = 0;  // local date-times
};

// The Sun crossing -18 degrees: the start (dusk) or the end (dawn) of astronomical night.
struct TTwilightMark {
    double Local = 0;
    bool Dusk = false;
};

// Which hours the Moon's highest altitude is taken from: the darkest there are.
enum class TMoonHours { AstronomicalNight, SunDown, WholeWindow };

struct TMoonSummary {
    double Illuminated = 0;  // fraction, at local midnight
    bool Waxing = false;
    std::string PhaseName;   // "waxing crescent", "full moon", ...
    double MaxAltitude = 0;  // degrees
    double MaxAltitudeAt = 0;  // local date-time
    TMoonHours MaxDuring = TMoonHours::AstronomicalNight;
};

struct TNightAstronomy {
    std::vector<TTimeSpan> Dark;    // Sun below -18 degrees
    std::vector<TTimeSpan> MoonUp;  // Moon above the horizon
    std::vector<TTwilightMark> Twilights;
    TMoonSummary Moon;
};

struct TNightPlotData {
    std::string SiteName;
    int SiteId = 0;
    double NightDate = 0;        // the local date the night begins
    double From = 0, To = 0;     // local noon to the next local noon
    double LocalToUtc = 0;       // days added to local time to obtain UTC
    std::optional<double> Latitude, Longitude;  // degrees, north and east positive
    std::vector<TPlotPoint> Readings;           // oldest first
    std::optional<TNightAstronomy> Astronomy;   // empty: the site has no coordinates
    size_t LeftOut = 0;  // readings of the night with a value no meter can give, not in Readings
    std::vector<TTimeSpan> Cloudy;  // local times of the readings the night's quality calls cloudy
};

// One column of the many-night picture.
struct THourglassNight {
    double NightDate = 0;
    std::vector<TPlotPoint> Readings;  // Local: hours from the night's midnight, standard time (-12..12)
    double CellHours = 0;              // the night's median reading interval, hours
    std::optional<double> DuskHours, DawnHours;  // from local midnight; empty without astronomical night
};

struct THourglassData {
    std::string SiteName;
    int SiteId = 0;
    double FromDate = 0, ToDate = 0;  // first and last night, both included
    double LocalToUtc = 0;            // local standard time to UTC
    std::optional<double> Latitude, Longitude;
    std::vector<THourglassNight> Nights;  // one per date, empty nights included
    bool HasTwilight = false;             // the curves were computed (the site has coordinates)
    size_t LeftOut = 0;  // readings with a value no meter can give, in no night's Readings

    size_t ReadingCount() const;
};

// Days to add to the site's local time to obtain UTC at a local time: the
// PC's zone at that instant, as the acquisition and the night files count it
// (a site time zone outside -12..11 keeps only daylight saving).
double SiteLocalToUtc(int siteTimeZone, double local);
// The same for local standard time, without daylight saving: the many-night
// picture keeps one clock all year, so its curves do not jump twice a year.
double SiteStandardLocalToUtc(int siteTimeZone, double local);
// "UTC+1", "UTC-3:30", "UTC" for a local-to-UTC offset in days.
std::string ZoneText(double localToUtc);

// The Sun's dark hours, the Moon's hours above the horizon and the lunar
// phase between two local times, from the astronomy engine; longitude east
// positive as sites store it.
TNightAstronomy ComputeNightAstronomy(double latitude, double longitudeEast, double fromLocal, double toLocal,
                                      double localToUtc);

// The phase's name from the illuminated fraction and its direction.
std::string MoonPhaseName(double illuminated, bool waxing);

// Readings with a gap longer than three times the median interval are
// not joined: the index of the first reading of each run.
std::vector<size_t> RunStarts(const std::vector<TPlotPoint>& readings);
// The median of the intervals between readings, in the unit of their times;
// 0 with fewer than two.
double MedianInterval(const std::vector<TPlotPoint>& readings);

// The stretches of readings the night's quality (ClassifyReadings) calls
// cloudy, in local time (UTC less localToUtc), each widened by half the
// readings' interval on both sides so that a lone reading shows. rows in
// time order, UTC; values no meter gives are left out.
std::vector<TTimeSpan> CloudySpans(const std::vector<TReadingRow>& rows, double localToUtc);

class ENoSuchSite : public std::runtime_error {
public:
    explicit ENoSuchSite(int siteId);
};

// The night that begins at local noon of nightDate: the site's readings of
// that window (corrected values; readings without one are left out, and
// those with a value no meter can give counted in LeftOut) and,
// when the site has coordinates, its astronomy. Throws ENoSuchSite.
TNightPlotData LoadNightPlotData(fb::Database& db, int siteId, double nightDate);
// Every night from fromDate to toDate, in local standard time. twilight:
// compute the curves of astronomical dusk and dawn. Throws ENoSuchSite.
THourglassData LoadHourglassData(fb::Database& db, int siteId, double fromDate, double toDate, bool twilight = true);
