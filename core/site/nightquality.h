#pragma once
// Night quality from the meter alone: which readings were dark (Sun below
// -18 degrees, Moon below the horizon) and which clear (the readings around
// them lie on a smooth curve), a night's summary, month and year figures,
// and the trend of the clear nights' sky brightness over the years. Every
// program shows these figures, so their rules and texts live here.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/site/readingformat.h"

// One reading as the night's quality reads it.
struct TNightReading {
    double Time = 0;   // REA_DATETIME
    double Value = 0;  // corrected: REA_SQMVALUE + REA_SQMOFFSET
    std::optional<double> SunHeight, MoonHeight;
};

// A value no meter gives (NaN, infinite, not above 0, above 30
// mag/arcsec^2) is left out of every figure.
bool IsMeterValue(double value);
bool IsDark(const TNightReading& r);

enum class TSky { Unknown, Clear, Cloudy };

// How a reading's stability index is found. The readings within +-5
// minutes of it (30 s of slack for the meter's timing) are fitted by a
// straight line, and so are those of the 10 minutes before it and the 10
// after it; the index is the smallest scatter of the three (the residuals'
// standard deviation, n - 2 degrees of freedom), so a steady slope costs
// nothing and a clear reading beside a cloud is not blamed for it. A dark
// reading is judged among the dark readings alone. One that is not dark
// (dusk, dawn, the Moon up) is judged among all, by the best monotone curve
// instead of a line: a clear twilight or a setting Moon only ever darkens
// or brightens, however it bends, where a cloud comes and goes. When the
// three windows all hold fewer than MinPoints readings (a gap, a 5- or
// 10-minute interval, the ends of the night) they widen to +-10, +-15, +-20,
// then +-30 minutes (the sides to twice that); with fewer still the reading
// is unknown. From +-15 minutes on, a dark reading still over the threshold gets the windows
// of that span that slide across it, each taken only where it is a clear
// stretch (see ClearStretch): a short clear run between two clouds, or
// between a cloud and dawn, fills none of the three.
struct TStabilityRule {
    double Threshold = 0.08;  // mag: clear at or below it
    int MinPoints = 4;        // readings in a window, the reading itself included
};
inline constexpr double kStabilityHalfWindows[] = {5, 10, 15, 20, 30};  // minutes

struct TReadingQuality {
    bool Dark = false;
    TSky Sky = TSky::Unknown;
    std::optional<double> Index;  // mag, when known
    double HalfWindow = 0;        // minutes used, 0 when unknown
};

// rows in time order; one result per row. darkOnly: the others are left
// unknown (a night's figures read the dark readings alone).
std::vector<TReadingQuality> ClassifyReadings(const std::vector<TNightReading>& rows,
                                              const TStabilityRule& rule = {}, bool darkOnly = false);

enum class TNightClass { NoData, NoDarkTime, Cloudy, Partly, Clear };
// "no-data", "no-dark-time", "cloudy", "partly", "clear".
const char* NightClassName(TNightClass c);
// The same for people, translated.
std::string NightClassText(TNightClass c);

struct TNightSummary {
    double Night = 0;  // the night's date (it starts at noon of that day)
    int Readings = 0, DarkReadings = 0, ClearDarkReadings = 0;
    std::optional<double> SkyBrightness;  // median of the clear dark values
    std::optional<double> Darkest;        // the largest clear dark value
    std::optional<double> ClearFraction() const;
    // clear at 0.9 and over, cloudy under 0.1, partly between.
    TNightClass Class() const;
    bool operator==(const TNightSummary&) const = default;
};

// The summary of one night's readings (time order; values no meter gives
// are left out here).
TNightSummary SummariseReadings(double night, const std::vector<TNightReading>& rows,
                                const TStabilityRule& rule = {});
// The same from what a database hands over without every reading: the
// count of the night's readings with a value a meter gives, the time of the
// first of them, and its dark readings (time order; others are left out).
TNightSummary SummariseDarkReadings(double night, int readings, double firstTime,
                                    const std::vector<TNightReading>& dark, const TStabilityRule& rule = {});

enum class TNightGrouping { Night, Month, Year };

// A month or a year: nights with readings, clear nights, the median of the
// clear nights' sky brightness, the darkest clear dark value of any night.
struct TPeriodSummary {
    std::string Period;  // "YYYY-MM" or "YYYY"
    int Nights = 0, ClearNights = 0;
    std::optional<double> SkyBrightness, Darkest;
};
// nights in date order; periods in the same order.
std::vector<TPeriodSummary> AggregateNights(const std::vector<TNightSummary>& nights, TNightGrouping by);

// The Theil-Sen slope of the clear nights' sky brightness against time with
// Sen's 95 % interval (from the variance of Kendall's S), as mag/arcsec^2
// per year and per cent of brightness per year.
struct TNightTrend {
    std::string Refusal;  // why there is none; empty when fitted
    double Slope = 0, Low = 0, High = 0, PercentPerYear = 0;
    double Level = 0;  // the fitted line's sky brightness at From: the median of y - Slope * x
    int Nights = 0;
    double From = 0, To = 0;  // the first and last clear night fitted
    bool Fitted() const { return Refusal.empty(); }
};
inline constexpr int kTrendMinNights = 30;
inline constexpr double kTrendMinDays = 365;
TNightTrend FitTrend(const std::vector<TNightSummary>& nights);
// The change of brightness, in per cent, of a change of mag/arcsec^2.
double BrightnessPercent(double magnitudes);

// The texts every program gives: JSON with the field names the network
// portals and scripts read, and CSV with the same columns.
std::string NightsJson(const std::vector<TNightSummary>& nights);
std::string PeriodsJson(const std::vector<TPeriodSummary>& periods, TNightGrouping by);
std::string TrendJson(const TNightTrend& trend);
std::string NightsCsv(const std::vector<TNightSummary>& nights);
std::string PeriodsCsv(const std::vector<TPeriodSummary>& periods, TNightGrouping by);
std::string TrendCsv(const TNightTrend& trend);
// One sentence for people: the slope, its interval, the per cent a year,
// the nights and their dates.
std::string TrendText(const TNightTrend& trend, const TFormatSettings& fs);
// "YYYY-MM-DD" of a night.
std::string NightName(double night);
