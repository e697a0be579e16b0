#pragma once
// The time axis of a chart of readings: ticks at round times, as many as
// their labels allow without touching, over any span from a minute to years.
#include <QFont>

#include <string>
#include <vector>

// A labelled tick. Context is the coarser part (the date under a time, the
// year under a date); it is shown at the first tick, where it changes and
// wherever Text alone would repeat, so no two labels read the same.
struct TTimeTick {
    double At = 0;  // date-time
    std::string Text;
    std::string Context;  // empty: not shown at this tick
};

struct TTimeAxis {
    std::vector<TTimeTick> Ticks;
    double StepDays = 0;  // between ticks (months count 30.44 days)
    bool HasContext() const;
};

// Ticks from `from` to `to` (date-times, both ends included) for an axis
// widthPx wide whose labels are drawn in font. wholeHours: a tick on the
// hour is labelled by its hour alone ("18"), as the published night plot does.
TTimeAxis TimeAxis(double from, double to, double widthPx, const QFont& font, bool wholeHours = false);
