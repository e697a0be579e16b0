#include "core/site/nightquality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "core/station/i18n.h"
#include "core/station/myutils.h"

namespace {

constexpr double kMinutesPerDay = 1440;
constexpr double kSlackMinutes = 0.5;  // a meter answers a few seconds late or early
// Sliding windows only where a side window spans 30 minutes or more (a
// 10-minute interval): shorter, they cost more veils missed than clear
// readings found.
constexpr double kSlideFrom = 15;
constexpr double kDarkSun = -18;
constexpr double kClearFrom = 0.9, kCloudyUnder = 0.1;
// Beyond this many pairs the slopes are a fixed random sample of them:
// 4 million doubles, where all pairs of 3000 clear nights would be 36 MB.
constexpr size_t kTrendMaxPairs = 4'000'000;

// The least-squares line of points [from, to), times in minutes.
struct TLineFit {
    double mx = 0, my = 0, sxx = 0, sxy = 0, syy = 0;
    double Slope() const { return sxx > 0 ? sxy / sxx : 0; }
};

TLineFit FitLine(const std::vector<double>& minutes, const std::vector<double>& values, size_t from, size_t to) {
    const size_t n = to - from;
    TLineFit f;
    for (size_t i = from; i < to; ++i) {
        f.mx += minutes[i];
        f.my += values[i];
    }
    f.mx /= n;
    f.my /= n;
    for (size_t i = from; i < to; ++i) {
        const double dx = minutes[i] - f.mx, dy = values[i] - f.my;
        f.sxx += dx * dx;
        f.sxy += dx * dy;
        f.syy += dy * dy;
    }
    return f;
}

// Scatter about the least-squares line of points [from, to): the
// residuals' standard deviation with n - 2 degrees of freedom.
double LineScatter(const std::vector<double>& minutes, const std::vector<double>& values, size_t from, size_t to) {
    const TLineFit f = FitLine(minutes, values, from, to);
    const double ssr = f.sxx > 0 ? f.syy - f.sxy * f.sxy / f.sxx : f.syy;
    return std::sqrt(std::max(ssr, 0.0) / static_cast<double>(to - from - 2));
}

// Whether a quiet stretch [from, to) is a clear one: on each side, the
// readings that go on along its least-squares line (within `margin`, up to
// `reach` minutes on) end in a sky clearly brighter (clouds) or in the end
// of the dark, never in a darker one nor a little brighter. A quiet stretch within a veil of cloud ends
// in the darker clear sky around the veil.
// Readings come in 0.01 mag steps, so a scatter can be the threshold itself,
// computed a few units of the last digit off: at it is clear, on either side
// of the rounding, on every machine.
constexpr double kIndexRounding = 1e-9;

bool OverThreshold(double index, double threshold) { return index > threshold + kIndexRounding; }

bool ClearStretch(const std::vector<double>& minutes, const std::vector<double>& values, size_t from, size_t to,
                  double margin, double reach) {
    const TLineFit fit = FitLine(minutes, values, from, to);
    const double mx = fit.mx, my = fit.my, slope = fit.Slope();
    // +1: well below the line (a sky brighter by as much as a thin veil
    // makes it), 0: along it, -1: anything else.
    auto side = [&](size_t i) {
        const double r = values[i] - (my + slope * (minutes[i] - mx));
        return r < -3 * margin ? 1 : std::abs(r) <= margin ? 0 : -1;
    };
    for (size_t i = from; i-- > 0 && minutes[from] - minutes[i] <= reach;) {
        const int k = side(i);
        if (k < 0) return false;
        if (k > 0) break;
    }
    for (size_t i = to; i < values.size() && minutes[i] - minutes[to - 1] <= reach; ++i) {
        const int k = side(i);
        if (k < 0) return false;
        if (k > 0) break;
    }
    return true;
}

// Residual sum of squares about the best non-decreasing fit (pool adjacent
// violators), of the values or, with sign -1, of their opposite.
double MonotoneResidual(const std::vector<double>& values, size_t from, size_t to, double sign) {
    struct TBlock {
        double Sum;
        size_t Count;
    };
    thread_local std::vector<TBlock> blocks;
    blocks.clear();
    for (size_t i = from; i < to; ++i) {
        blocks.push_back({sign * values[i], 1});
        while (blocks.size() > 1) {
            const TBlock& b = blocks.back();
            const TBlock& a = blocks[blocks.size() - 2];
            if (a.Sum / a.Count <= b.Sum / b.Count) break;
            const TBlock merged{a.Sum + b.Sum, a.Count + b.Count};
            blocks.pop_back();
            blocks.back() = merged;
        }
    }
    double ssr = 0;
    size_t i = from;
    for (const TBlock& b : blocks)
        for (size_t k = 0; k < b.Count; ++k, ++i) {
            const double r = sign * values[i] - b.Sum / b.Count;
            ssr += r * r;
        }
    return ssr;
}

// Where the Sun or the Moon is up the clear sky only ever darkens or only
// brightens over a window, however it bends: the scatter about the best
// monotone curve, which a line's is never below.
double MonotoneScatter(const std::vector<double>& values, size_t from, size_t to) {
    const double ssr = std::min(MonotoneResidual(values, from, to, 1), MonotoneResidual(values, from, to, -1));
    return std::sqrt(ssr / static_cast<double>(to - from - 2));
}

double Median(std::vector<double> v) {
    const size_t n = v.size();
    std::sort(v.begin(), v.end());
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    // No "-0.000" for a value that rounds to nothing.
    std::string s = buf;
    if (s.find_first_not_of("-0.") == std::string::npos && s[0] == '-') s.erase(0, 1);
    return s;
}

std::string JsonNumber(const std::optional<double>& v, int decimals) {
    return v && std::isfinite(*v) ? Fixed(*v, decimals) : "null";
}

std::string CsvNumber(const std::optional<double>& v, int decimals) {
    return v && std::isfinite(*v) ? Fixed(*v, decimals) : "";
}

const char* PeriodKey(TNightGrouping by) { return by == TNightGrouping::Year ? "year" : "month"; }

}  // namespace

bool IsMeterValue(double value) { return std::isfinite(value) && value > 0 && value <= 30; }

bool IsDark(const TNightReading& r) {
    return r.SunHeight && r.MoonHeight && *r.SunHeight < kDarkSun && *r.MoonHeight < 0;
}

namespace {

// The index of reading j among the readings (minutes, values): the smallest
// scatter of its centred window and the two one-sided ones, widened until
// they hold enough readings; empty when even the widest holds too few.
std::optional<double> StabilityIndex(const std::vector<double>& minutes, const std::vector<double>& values, size_t j,
                                     bool curved, size_t minPoints, double threshold, double& halfWindow) {
    auto first = [&](double m) {
        return static_cast<size_t>(std::lower_bound(minutes.begin(), minutes.end(), m) - minutes.begin());
    };
    auto past = [&](double m) {
        return static_cast<size_t>(std::upper_bound(minutes.begin(), minutes.end(), m) - minutes.begin());
    };
    auto scatter = [&](size_t a, size_t b) -> std::optional<double> {
        if (b - a < minPoints) return std::nullopt;
        return curved ? MonotoneScatter(values, a, b) : LineScatter(minutes, values, a, b);
    };
    const double t = minutes[j];
    for (double w : kStabilityHalfWindows) {
        // Centred, and the same span wholly before and wholly after the
        // reading (the only ones at the ends of the night).
        std::optional<double> index;
        for (const auto& [from, to] :
             {std::pair{first(t - w - kSlackMinutes), past(t + w + kSlackMinutes)},
              std::pair{first(t - 2 * w - kSlackMinutes), j + 1}, std::pair{j, past(t + 2 * w + kSlackMinutes)}}) {
            const auto s = scatter(from, to);
            if (s && (!index || *s < *index)) index = s;
        }
        if (!index) continue;
        // Over the threshold, the windows of the same span that slide
        // across the reading: a short clear run between two clouds, or
        // between a cloud and dawn, fills one of them though it fills
        // neither side of any of its readings.
        if (OverThreshold(*index, threshold) && !curved && w >= kSlideFrom)
            for (size_t a = first(t - 2 * w - kSlackMinutes); a <= j && OverThreshold(*index, threshold); ++a) {
                const size_t b = past(minutes[a] + 2 * w + 2 * kSlackMinutes);
                if (b <= j || b - a < minPoints) continue;
                const auto s = scatter(a, b);
                if (s && *s < *index && ClearStretch(minutes, values, a, b, threshold, 2 * w)) index = s;
            }
        halfWindow = w;
        return index;
    }
    return std::nullopt;
}

}  // namespace

namespace {

// Minutes count from `origin`, the night's first reading, so that a night
// read whole and one read as its dark readings alone give the same figures.
std::vector<TReadingQuality> Classify(const std::vector<TNightReading>& rows, double origin, const TStabilityRule& rule,
                                      bool darkOnly) {
    std::vector<TReadingQuality> out(rows.size());
    if (rows.empty()) return out;
    // A dark reading is judged among the dark ones alone: dusk, dawn or the
    // Moon beside it bend the curve, and are judged apart, by a monotone fit.
    std::vector<double> minutes, values, darkMinutes, darkValues;
    minutes.reserve(rows.size());
    values.reserve(rows.size());
    std::vector<size_t> darkAt(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const double m = (rows[i].Time - origin) * kMinutesPerDay;
        minutes.push_back(m);
        values.push_back(rows[i].Value);
        out[i].Dark = IsDark(rows[i]);
        if (out[i].Dark) {
            darkAt[i] = darkMinutes.size();
            darkMinutes.push_back(m);
            darkValues.push_back(rows[i].Value);
        }
    }
    const size_t minPoints = static_cast<size_t>(std::max(rule.MinPoints, 3));
    for (size_t i = 0; i < rows.size(); ++i) {
        TReadingQuality& q = out[i];
        if (darkOnly && !q.Dark) continue;
        q.Index = q.Dark ? StabilityIndex(darkMinutes, darkValues, darkAt[i], false, minPoints, rule.Threshold, q.HalfWindow)
                         : StabilityIndex(minutes, values, i, true, minPoints, rule.Threshold, q.HalfWindow);
        if (q.Index) q.Sky = OverThreshold(*q.Index, rule.Threshold) ? TSky::Cloudy : TSky::Clear;
    }
    return out;
}

}  // namespace

std::vector<TReadingQuality> ClassifyReadings(const std::vector<TNightReading>& rows, const TStabilityRule& rule,
                                              bool darkOnly) {
    return Classify(rows, rows.empty() ? 0 : rows.front().Time, rule, darkOnly);
}

const char* NightClassName(TNightClass c) {
    switch (c) {
        case TNightClass::NoData: return "no-data";
        case TNightClass::NoDarkTime: return "no-dark-time";
        case TNightClass::Cloudy: return "cloudy";
        case TNightClass::Partly: return "partly";
        case TNightClass::Clear: return "clear";
    }
    return "";
}

std::string NightClassText(TNightClass c) {
    switch (c) {
        case TNightClass::NoData: return Tr("no data");
        case TNightClass::NoDarkTime: return Tr("no dark time");
        case TNightClass::Cloudy: return Tr("cloudy");
        case TNightClass::Partly: return Tr("partly clear");
        case TNightClass::Clear: return Tr("clear");
    }
    return "";
}

std::optional<double> TNightSummary::ClearFraction() const {
    if (DarkReadings <= 0) return std::nullopt;
    return static_cast<double>(ClearDarkReadings) / DarkReadings;
}

TNightClass TNightSummary::Class() const {
    if (Readings <= 0) return TNightClass::NoData;
    const auto f = ClearFraction();
    if (!f) return TNightClass::NoDarkTime;
    if (*f >= kClearFrom) return TNightClass::Clear;
    if (*f < kCloudyUnder) return TNightClass::Cloudy;
    return TNightClass::Partly;
}

TNightSummary SummariseReadings(double night, const std::vector<TNightReading>& all, const TStabilityRule& rule) {
    std::vector<TNightReading> dark;
    int readings = 0;
    double first = 0;
    for (const TNightReading& r : all) {
        if (!std::isfinite(r.Time) || !IsMeterValue(r.Value)) continue;
        if (readings++ == 0) first = r.Time;
        if (IsDark(r)) dark.push_back(r);
    }
    return SummariseDarkReadings(night, readings, first, dark, rule);
}

TNightSummary SummariseDarkReadings(double night, int readings, double firstTime,
                                    const std::vector<TNightReading>& all, const TStabilityRule& rule) {
    TNightSummary s;
    s.Night = std::floor(night);
    s.Readings = readings;
    std::vector<TNightReading> rows;
    rows.reserve(all.size());
    for (const TNightReading& r : all)
        if (std::isfinite(r.Time) && IsMeterValue(r.Value) && IsDark(r)) rows.push_back(r);
    const std::vector<TReadingQuality> q = Classify(rows, firstTime, rule, true);
    std::vector<double> clear;
    for (size_t i = 0; i < rows.size(); ++i)
        if (q[i].Sky == TSky::Clear) clear.push_back(rows[i].Value);
    s.DarkReadings = static_cast<int>(rows.size());
    s.ClearDarkReadings = static_cast<int>(clear.size());
    if (!clear.empty()) {
        s.Darkest = *std::max_element(clear.begin(), clear.end());
        s.SkyBrightness = Median(std::move(clear));
    }
    return s;
}

std::vector<TPeriodSummary> AggregateNights(const std::vector<TNightSummary>& nights, TNightGrouping by) {
    std::vector<TPeriodSummary> out;
    std::vector<double> clear;
    auto close = [&] {
        if (out.empty()) return;
        if (!clear.empty()) out.back().SkyBrightness = Median(clear);
        clear.clear();
    };
    for (const TNightSummary& n : nights) {
        const std::string name = NightName(n.Night);
        const std::string period = by == TNightGrouping::Year ? name.substr(0, 4) : name.substr(0, 7);
        if (out.empty() || out.back().Period != period) {
            close();
            out.emplace_back();
            out.back().Period = period;
        }
        TPeriodSummary& p = out.back();
        if (n.Readings > 0) ++p.Nights;
        if (n.Class() == TNightClass::Clear) {
            ++p.ClearNights;
            if (n.SkyBrightness) clear.push_back(*n.SkyBrightness);
        }
        if (n.Darkest && (!p.Darkest || *n.Darkest > *p.Darkest)) p.Darkest = n.Darkest;
    }
    close();
    return out;
}

double BrightnessPercent(double magnitudes) { return (std::pow(10.0, -0.4 * magnitudes) - 1) * 100; }

TNightTrend FitTrend(const std::vector<TNightSummary>& nights) {
    TNightTrend t;
    std::vector<double> x, y;
    for (const TNightSummary& n : nights)
        if (n.Class() == TNightClass::Clear && n.SkyBrightness && std::isfinite(*n.SkyBrightness)) {
            x.push_back(n.Night);
            y.push_back(*n.SkyBrightness);
        }
    t.Nights = static_cast<int>(x.size());
    if (!x.empty()) {
        t.From = *std::min_element(x.begin(), x.end());
        t.To = *std::max_element(x.begin(), x.end());
    }
    if (t.Nights < kTrendMinNights) {
        t.Refusal = Tr("A trend needs at least 30 clear nights; there are ") + std::to_string(t.Nights) + ".";
        return t;
    }
    if (t.To - t.From < kTrendMinDays) {
        t.Refusal = Tr("A trend needs clear nights over at least one year; these span ") +
                    std::to_string(static_cast<int>(t.To - t.From)) + Tr(" days.");
        return t;
    }
    const size_t n = x.size();
    const size_t pairs = n * (n - 1) / 2;
    std::vector<double> slopes;
    auto slope = [&](size_t i, size_t j) { return (y[j] - y[i]) / ((x[j] - x[i]) / 365.25); };
    if (pairs <= kTrendMaxPairs) {
        slopes.reserve(pairs);
        for (size_t i = 0; i < n; ++i)
            for (size_t j = i + 1; j < n; ++j)
                if (x[j] != x[i]) slopes.push_back(slope(i, j));
    } else {
        std::mt19937_64 random(20100101);
        std::uniform_int_distribution<size_t> pick(0, n - 1);
        slopes.reserve(kTrendMaxPairs);
        while (slopes.size() < kTrendMaxPairs) {
            const size_t i = pick(random), j = pick(random);
            if (x[i] != x[j]) slopes.push_back(slope(i, j));
        }
    }
    std::sort(slopes.begin(), slopes.end());
    const double m = static_cast<double>(slopes.size());
    const double nn = static_cast<double>(n);
    // Kendall's S has variance n(n-1)(2n+5)/18; its 95 % bounds name the
    // ranks of the interval's ends among all the pairs' slopes.
    const double c = 1.959964 * std::sqrt(nn * (nn - 1) * (2 * nn + 5) / 18) * m / (nn * (nn - 1) / 2);
    auto at = [&](double rank1) {  // rank from 1
        const long k = std::lround(rank1) - 1;
        return slopes[static_cast<size_t>(std::clamp<long>(k, 0, static_cast<long>(slopes.size()) - 1))];
    };
    t.Slope = slopes.size() % 2 ? slopes[slopes.size() / 2]
                                : (slopes[slopes.size() / 2 - 1] + slopes[slopes.size() / 2]) / 2;
    t.Low = at((m - c) / 2);
    t.High = at((m + c) / 2 + 1);
    t.PercentPerYear = BrightnessPercent(t.Slope);
    std::vector<double> levels(n);
    for (size_t i = 0; i < n; ++i) levels[i] = y[i] - t.Slope * (x[i] - t.From) / 365.25;
    t.Level = Median(std::move(levels));
    return t;
}

std::string NightName(double night) {
    const DateTimeParts p = DecodeDateTime(std::floor(night));
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buf;
}

std::string NightsJson(const std::vector<TNightSummary>& nights) {
    std::string s = "[";
    for (size_t i = 0; i < nights.size(); ++i) {
        const TNightSummary& n = nights[i];
        s += i ? ",\n" : "\n";
        s += "{\"night\":\"" + NightName(n.Night) + "\",\"readings\":" + std::to_string(n.Readings) +
             ",\"dark_readings\":" + std::to_string(n.DarkReadings) +
             ",\"clear_dark_readings\":" + std::to_string(n.ClearDarkReadings) +
             ",\"clear_fraction\":" + JsonNumber(n.ClearFraction(), 3) +
             ",\"sky_brightness\":" + JsonNumber(n.SkyBrightness, 3) + ",\"darkest\":" + JsonNumber(n.Darkest, 2) +
             ",\"class\":\"" + NightClassName(n.Class()) + "\"}";
    }
    return s + (nights.empty() ? "]\n" : "\n]\n");
}

std::string PeriodsJson(const std::vector<TPeriodSummary>& periods, TNightGrouping by) {
    std::string s = "[";
    for (size_t i = 0; i < periods.size(); ++i) {
        const TPeriodSummary& p = periods[i];
        s += i ? ",\n" : "\n";
        s += std::string("{\"") + PeriodKey(by) + "\":\"" + p.Period + "\",\"nights\":" + std::to_string(p.Nights) +
             ",\"clear_nights\":" + std::to_string(p.ClearNights) +
             ",\"sky_brightness\":" + JsonNumber(p.SkyBrightness, 3) + ",\"darkest\":" + JsonNumber(p.Darkest, 2) +
             "}";
    }
    return s + (periods.empty() ? "]\n" : "\n]\n");
}

std::string TrendJson(const TNightTrend& t) {
    if (!t.Fitted()) return "null\n";
    return "{\"slope_mag_per_year\":" + Fixed(t.Slope, 4) + ",\"low\":" + Fixed(t.Low, 4) +
           ",\"high\":" + Fixed(t.High, 4) + ",\"percent_per_year\":" + Fixed(t.PercentPerYear, 2) +
           ",\"nights\":" + std::to_string(t.Nights) + ",\"from\":\"" + NightName(t.From) + "\",\"to\":\"" +
           NightName(t.To) + "\"}\n";
}

std::string NightsCsv(const std::vector<TNightSummary>& nights) {
    std::string s = "night,readings,dark_readings,clear_dark_readings,clear_fraction,sky_brightness,darkest,class\n";
    for (const TNightSummary& n : nights)
        s += NightName(n.Night) + "," + std::to_string(n.Readings) + "," + std::to_string(n.DarkReadings) + "," +
             std::to_string(n.ClearDarkReadings) + "," + CsvNumber(n.ClearFraction(), 3) + "," +
             CsvNumber(n.SkyBrightness, 3) + "," + CsvNumber(n.Darkest, 2) + "," + NightClassName(n.Class()) + "\n";
    return s;
}

std::string PeriodsCsv(const std::vector<TPeriodSummary>& periods, TNightGrouping by) {
    std::string s = std::string(PeriodKey(by)) + ",nights,clear_nights,sky_brightness,darkest\n";
    for (const TPeriodSummary& p : periods)
        s += p.Period + "," + std::to_string(p.Nights) + "," + std::to_string(p.ClearNights) + "," +
             CsvNumber(p.SkyBrightness, 3) + "," + CsvNumber(p.Darkest, 2) + "\n";
    return s;
}

std::string TrendCsv(const TNightTrend& t) {
    std::string s = "slope_mag_per_year,low,high,percent_per_year,nights,from,to\n";
    if (!t.Fitted()) return s;
    return s + Fixed(t.Slope, 4) + "," + Fixed(t.Low, 4) + "," + Fixed(t.High, 4) + "," +
           Fixed(t.PercentPerYear, 2) + "," + std::to_string(t.Nights) + "," + NightName(t.From) + "," +
           NightName(t.To) + "\n";
}

std::string TrendText(const TNightTrend& t, const TFormatSettings& fs) {
    if (!t.Fitted()) return t.Refusal;
    auto signedNumber = [&](double v, int decimals) { return (v > 0 ? "+" : "") + FormatNumber(v, decimals, fs); };
    return Tr("Trend of the clear nights' sky brightness: ") + signedNumber(t.Slope, 3) +
           Tr(" mag/arcsec² per year (95 %: ") + signedNumber(t.Low, 3) + Tr(" to ") + signedNumber(t.High, 3) +
           Tr("), brightness ") + signedNumber(t.PercentPerYear, 1) +
           // xgettext:no-c-format
           Tr(" % per year, from ") +
           std::to_string(t.Nights) + Tr(" clear nights between ") + NightName(t.From) + Tr(" and ") +
           NightName(t.To) + ".";
}
