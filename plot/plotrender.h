#pragma once
// Drawing the published plots from plain data (plotdata.h) with Qt's
// painter: any device, a PNG image or an SVG generator alike. The layouts
// are public so a caller (or a test) knows where a reading lands.
#include <QColor>
#include <QRectF>
#include <QSize>

#include <optional>
#include <string>

#include "plot/plotdata.h"

class QPainter;

struct TPlotStyle {
    QColor Readings{196, 18, 48};
    QColor Dark{28, 38, 92, 64};    // Sun below -18 degrees
    QColor Moon{245, 180, 30, 80};  // Moon above the horizon
    QColor Twilight{70, 70, 70};
    QColor Cloudy{150, 150, 150, 110};  // readings the night's quality calls cloudy
    QColor Background{255, 255, 255};  // and the hours without a reading
    // The text's pixel size; 0: it follows the picture's size. A picture
    // shown smaller than drawn (a phone's chart) asks for words it can read.
    int TextPx = 0;
};

// The words of a night's picture. The defaults are the published plot's
// (English); a window passes its own, in its language. %1 stands for the
// number or the time.
struct TPlotTexts {
    std::optional<std::string> Title;     // unset: NightPlotTitle; a second line goes under it
    std::optional<std::string> Subtitle;  // unset: position, zone and offset; empty: none
    std::optional<std::string> TimeAxis;  // unset: "Local time (UTC+1), hours"
    std::string ValueAxis = "Sky brightness (mag/arcsec\u00b2)";
    std::string ReadingsOne = "Sky brightness (1 reading)";
    std::string ReadingsMany = "Sky brightness (%1 readings)";
    std::string Dark = "Astronomical night (Sun below \u221218\u00b0)";
    std::string MoonUp = "Moon above the horizon";
    std::string Cloudy = "Cloudy";
    std::string Twilight = "Sun at \u221218\u00b0 (astronomical dusk, dawn)";
    std::string Dusk = "dusk %1";
    std::string Dawn = "dawn %1";
    std::string NoReadings = "No readings in this night";
    std::string LeftOut = "%1 left out: a value no meter can give";  // readings, on the legend
    bool InfoLine = true;    // the Moon's line under the legend, or why there is none
    bool WholeHours = true;  // hours on the hour as "18" (the axis title says "hours")
    std::string DecimalSeparator = ".";  // of the figures on the axis, the position and the Moon's line
};

// A night: local time to the right, sky brightness growing downward
// (the brighter sky at the top, as observers read it).
struct TNightPlotLayout {
    QRectF Plot;              // the data area
    double From = 0, To = 0;  // local date-times at its left and right edges
    double Top = 0, Bottom = 0;  // mag/arcsec² at its top and bottom edges (Top < Bottom)
    double X(double local) const;
    double Y(double value) const;
};
// A reading whose value no meter can give (or whose time is no time) is
// left out of the drawing and counted on its legend, whoever made the data.
// The same drawing serves any span: a night, a few readings, months; the
// time axis labels round times that never repeat, readings stand apart as
// markers when they are few, and a gap of more than three intervals is a break.
TNightPlotLayout NightPlotLayout(const TNightPlotData& data, QSize size, const TPlotTexts& texts = {});
void RenderNightPlot(const TNightPlotData& data, QPainter& painter, QSize size, const TPlotStyle& style = {},
                     const TPlotTexts& texts = {});
// The radius of a reading's marker at that picture size; 0 when the
// readings are many and close enough to read as a line.
double ReadingMarkerRadius(const TNightPlotData& data, QSize size, const TPlotTexts& texts = {});

// Many nights: one column per night, the local time of night downward with
// midnight in the middle, each reading a cell coloured by its brightness.
struct THourglassLayout {
    QRectF Plot;
    QRectF ColourBar;
    size_t Nights = 0;
    double TopHours = -6, BottomHours = 6;  // from local midnight
    double Brightest = 16, Darkest = 22;    // mag/arcsec² at the ends of the colour scale
    double ColumnWidth() const;
    double X(size_t night) const;  // the column's left edge
    double Y(double hours) const;
};
THourglassLayout HourglassLayout(const THourglassData& data, QSize size);
// The colour of a brightness on a layout's scale; values beyond its ends take the end colours.
QColor HourglassColour(double value, const THourglassLayout& layout);
void RenderHourglass(const THourglassData& data, QPainter& painter, QSize size, const TPlotStyle& style = {});

// The titles the pictures carry.
std::string NightPlotTitle(const TNightPlotData& data);
std::string HourglassTitle(const THourglassData& data);
// "15/16 January 2024", "31 January/1 February 2024"; "1 January to 31 March 2024".
std::string NightTitleDate(double nightDate);
std::string PeriodTitleDate(double fromDate, double toDate);
