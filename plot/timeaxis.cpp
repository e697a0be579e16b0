#include "plot/timeaxis.h"

#include <QFontMetricsF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "core/station/myutils.h"

namespace {

constexpr long long kSecond = 1000, kMinuteMs = 60 * kSecond, kHourMs = 60 * kMinuteMs, kDayMs = 24 * kHourMs;

std::string Two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

long long Ms(double dt) { return std::llround(dt * static_cast<double>(kDayMs)); }
double Dt(long long ms) { return static_cast<double>(ms) / static_cast<double>(kDayMs); }

// A candidate spacing: a fixed length, or whole months.
struct TStep {
    long long Ms = 0;
    int Months = 0;
};

const TStep kSteps[] = {
    {kSecond},       {2 * kSecond},   {5 * kSecond},    {10 * kSecond},  {15 * kSecond},  {30 * kSecond},
    {kMinuteMs},     {2 * kMinuteMs}, {5 * kMinuteMs},  {10 * kMinuteMs}, {15 * kMinuteMs}, {30 * kMinuteMs},
    {kHourMs},       {2 * kHourMs},   {3 * kHourMs},    {4 * kHourMs},   {6 * kHourMs},   {12 * kHourMs},
    {kDayMs},        {2 * kDayMs},    {7 * kDayMs},     {14 * kDayMs},   {0, 1},          {0, 2},
    {0, 3},          {0, 6},          {0, 12},          {0, 24},         {0, 60},         {0, 120},
};

std::vector<double> TickTimes(double from, double to, const TStep& step) {
    std::vector<double> at;
    if (step.Months == 0) {
        const long long first = (Ms(from) + step.Ms - 1) / step.Ms * step.Ms, last = Ms(to);
        for (long long t = first; t <= last; t += step.Ms) at.push_back(Dt(t));
        return at;
    }
    const DateTimeParts p = DecodeDateTime(from);
    int month = p.year * 12 + p.month - 1;
    if (p.day != 1 || p.hour || p.minute || p.second || p.msec) ++month;
    month = (month + step.Months - 1) / step.Months * step.Months;
    for (;; month += step.Months) {
        const double t = EncodeDate(month / 12, month % 12 + 1, 1);
        if (t > to + 1e-9) break;
        at.push_back(t);
    }
    return at;
}

void Label(TTimeTick& tick, const TStep& step, bool wholeHours) {
    const DateTimeParts p = DecodeDateTime(tick.At);
    const std::string date = Two(p.day) + "/" + Two(p.month);
    if (step.Months >= 12) {
        tick.Text = std::to_string(p.year);
    } else if (step.Months > 0) {
        tick.Text = Two(p.month) + "/" + std::to_string(p.year);
    } else if (step.Ms >= kDayMs) {
        tick.Text = date;
        tick.Context = std::to_string(p.year);
    } else {
        if (step.Ms < kMinuteMs)
            tick.Text = Two(p.hour) + ":" + Two(p.minute) + ":" + Two(p.second);
        else if (wholeHours && step.Ms % kHourMs == 0)
            tick.Text = Two(p.hour);
        else
            tick.Text = Two(p.hour) + ":" + Two(p.minute);
        tick.Context = date;
    }
}

// Contexts kept only where they tell something.
void ThinContexts(std::vector<TTimeTick>& ticks) {
    std::map<std::string, int> uses;
    for (const auto& t : ticks) ++uses[t.Text];
    std::string shown;
    for (size_t i = 0; i < ticks.size(); ++i) {
        const std::string context = ticks[i].Context;
        if (i > 0 && context == shown && uses[ticks[i].Text] == 1) ticks[i].Context.clear();
        shown = context;
    }
}

}  // namespace

bool TTimeAxis::HasContext() const {
    return std::any_of(Ticks.begin(), Ticks.end(), [](const TTimeTick& t) { return !t.Context.empty(); });
}

TTimeAxis TimeAxis(double from, double to, double widthPx, const QFont& font, bool wholeHours) {
    TTimeAxis axis;
    if (!(to > from) || widthPx <= 0) return axis;
    const QFontMetricsF fm(font);
    const double gap = fm.height() * 0.8;
    const double spanMs = (to - from) * static_cast<double>(kDayMs);
    for (const TStep& step : kSteps) {
        const double stepMs = step.Months ? step.Months * 30.44 * static_cast<double>(kDayMs)
                                          : static_cast<double>(step.Ms);
        const double stepPx = stepMs / spanMs * widthPx;
        // No label is narrower than two digits: skip what cannot fit unmeasured.
        if (stepPx < fm.horizontalAdvance(QStringLiteral("00")) + gap) continue;
        std::vector<TTimeTick> ticks;
        for (const double t : TickTimes(from, to, step)) {
            ticks.push_back({t, {}, {}});
            Label(ticks.back(), step, wholeHours);
        }
        ThinContexts(ticks);
        double widest = 0;
        for (const auto& t : ticks)
            widest = std::max({widest, fm.horizontalAdvance(QString::fromStdString(t.Text)),
                               fm.horizontalAdvance(QString::fromStdString(t.Context))});
        // Month lengths differ: the shortest one must still keep labels apart.
        const double shortest = step.Months ? stepPx * 28 / 30.44 : stepPx;
        if (shortest >= widest + gap || &step == std::end(kSteps) - 1) {
            axis.Ticks = std::move(ticks);
            axis.StepDays = stepMs / static_cast<double>(kDayMs);
            return axis;
        }
    }
    return axis;
}
