#pragma once
// The chart of the clear nights' sky brightness over months and years, with
// the trend's line across them: the site window's "Nights" page, the
// station's page and the README draw it alike.
#include <QColor>
#include <QSize>

#include <string>
#include <vector>

#include "core/site/nightquality.h"

class QPainter;

struct TNightsChartTexts {
    std::string Title = "Sky brightness of the clear nights";
    std::string ValueAxis = "Sky brightness (mag/arcsec\u00b2)";
    std::string Nights = "Clear nights (%1)";
    std::string Trend = "Trend %1 mag/arcsec\u00b2 a year";
    std::string NoTrend = "No trend: %1";
    std::string NoNights = "No clear night in these dates";
    std::string DecimalSeparator = ".";
};

// The same in the program's language.
TNightsChartTexts NightsChartTexts();

struct TNightsChartStyle {
    QColor Nights{28, 38, 92};
    QColor Trend{196, 18, 48};
    QColor Background{255, 255, 255};
};

// The clear nights of `nights` (dates on the horizontal axis, sky
// brightness growing downward as in the night charts) and, when fitted,
// the trend from its first night to its last.
void RenderNightsChart(const std::vector<TNightSummary>& nights, const TNightTrend& trend, QPainter& painter,
                       QSize size, const TNightsChartTexts& texts = {}, const TNightsChartStyle& style = {});
