#include "plot/plotrender.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "plot/colormap.h"
#include "plot/timeaxis.h"
#include "core/site/localquery.h"
#include "core/station/myutils.h"

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct TFonts {
    double Base = 12;
    QFont Title, Text, Small;
};

// Sizes follow the picture, so a poster and a thumbnail both stay readable.
TFonts FontsFor(QSize size, int textPx) {
    TFonts f;
    f.Base = textPx > 0 ? textPx
                       : std::clamp(std::round(std::min(size.width() / 90.0, size.height() / 52.0)), 10.0, 22.0);
    f.Text = QFont(QStringLiteral("DejaVu Sans"));
    f.Text.setStyleHint(QFont::SansSerif);
    f.Text.setPixelSize(static_cast<int>(f.Base));
    f.Title = f.Text;
    f.Title.setPixelSize(static_cast<int>(std::round(f.Base * 1.35)));
    f.Title.setBold(true);
    f.Small = f.Text;
    f.Small.setPixelSize(static_cast<int>(std::round(f.Base * 0.9)));
    return f;
}

double LineHeight(const QFont& font) { return QFontMetricsF(font).height(); }
double TextWidth(const QFont& font, const QString& text) { return QFontMetricsF(font).horizontalAdvance(text); }

std::string TwoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string HoursMinutes(double local) {
    const DateTimeParts p = DecodeDateTime(std::round(local * 1440) / 1440);
    return TwoDigits(p.hour) + ":" + TwoDigits(p.minute);
}

// Whatever the process locale: "." unless the caller's language says otherwise.
std::string Fixed(double v, int decimals, const std::string& separator = ".") {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "?";
    std::string s(buf, end);
    if (const size_t dot = s.find('.'); dot != std::string::npos) s.replace(dot, 1, separator);
    return s;
}

std::string Coordinates(const std::optional<double>& lat, const std::optional<double>& lon,
                        const std::string& separator) {
    if (!lat || !lon) return "no coordinates";
    return Fixed(std::fabs(*lat), 3, separator) + "\u00b0 " + (*lat < 0 ? "S" : "N") + ", " +
           Fixed(std::fabs(*lon), 3, separator) +
           "\u00b0 " + (*lon < 0 ? "W" : "E");
}

// A tick step from the usual ones that gives at most maxTicks intervals.
double NiceStep(double span, double maxTicks, std::initializer_list<double> steps) {
    for (const double s : steps)
        if (span / s <= maxTicks) return s;
    return *(steps.end() - 1);
}

int DecimalsFor(double step) {
    if (step >= 1 && std::fabs(step - std::round(step)) < 1e-9) return 0;
    if (std::fabs(step * 10 - std::round(step * 10)) < 1e-9) return 1;
    return 2;
}

void DrawRotatedText(QPainter& p, const QPointF& centre, const QString& text, const QFont& font) {
    p.save();
    p.setFont(font);
    p.translate(centre);
    p.rotate(-90);
    const double w = TextWidth(font, text), h = LineHeight(font);
    p.drawText(QRectF(-w / 2 - 2, -h / 2, w + 4, h), Qt::AlignCenter, text);
    p.restore();
}

// --- Legend ---

enum class TSwatch { Dots, Band, DashedLine, HaloLine, Box };
struct TLegendItem {
    TSwatch Kind;
    QColor Colour;
    QString Text;
};

double ItemWidth(const TLegendItem& item, const TFonts& f) {
    return f.Base * 2.2 + f.Base * 0.5 + TextWidth(f.Text, item.Text);
}

// Items laid out in centred rows no wider than width.
std::vector<std::vector<const TLegendItem*>> LegendRows(const std::vector<TLegendItem>& items, const TFonts& f,
                                                        double width) {
    std::vector<std::vector<const TLegendItem*>> rows;
    double used = 0;
    for (const auto& item : items) {
        const double w = ItemWidth(item, f) + (used > 0 ? f.Base * 1.8 : 0);
        if (rows.empty() || used + w > width) {
            rows.emplace_back();
            used = ItemWidth(item, f);
        } else {
            used += w;
        }
        rows.back().push_back(&item);
    }
    return rows;
}

double LegendRowHeight(const TFonts& f) { return LineHeight(f.Text) + f.Base * 0.4; }

void DrawSwatch(QPainter& p, const TLegendItem& item, const QRectF& r, double lineWidth) {
    const double midY = r.center().y();
    switch (item.Kind) {
        case TSwatch::Dots:
            p.setPen(QPen(item.Colour, lineWidth, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(r.left(), midY), QPointF(r.right(), midY));
            p.setPen(Qt::NoPen);
            p.setBrush(item.Colour);
            p.drawEllipse(QPointF(r.center().x(), midY), lineWidth * 1.3, lineWidth * 1.3);
            p.setBrush(Qt::NoBrush);
            break;
        case TSwatch::Band:
            p.setPen(Qt::NoPen);
            p.fillRect(r, item.Colour);
            break;
        case TSwatch::DashedLine:
            p.setPen(QPen(item.Colour, lineWidth * 0.8, Qt::DashLine));
            p.drawLine(QPointF(r.left(), midY), QPointF(r.right(), midY));
            break;
        case TSwatch::HaloLine:
            p.fillRect(r, QColor(90, 90, 120));
            p.setPen(QPen(Qt::white, lineWidth * 2.2));
            p.drawLine(QPointF(r.left(), midY), QPointF(r.right(), midY));
            p.setPen(QPen(item.Colour, lineWidth));
            p.drawLine(QPointF(r.left(), midY), QPointF(r.right(), midY));
            break;
        case TSwatch::Box:
            p.fillRect(r, item.Colour);
            p.setPen(QPen(QColor(120, 120, 120), 1));
            p.drawRect(r);
            break;
    }
}

void DrawLegend(QPainter& p, const std::vector<TLegendItem>& items, const TFonts& f, double left, double width,
                double top, double lineWidth) {
    const auto rows = LegendRows(items, f, width);
    const double rowH = LegendRowHeight(f);
    p.setFont(f.Text);
    for (size_t r = 0; r < rows.size(); ++r) {
        // An item wider than the picture (a phone's chart) is cut short with an ellipsis, never clipped.
        auto itemWidth = [&](const TLegendItem& item) { return std::min(ItemWidth(item, f), width); };
        double total = 0;
        for (const auto* item : rows[r]) total += itemWidth(*item);
        total += f.Base * 1.8 * static_cast<double>(rows[r].size() - 1);
        double x = left + (width - total) / 2;
        const double y = top + static_cast<double>(r) * rowH;
        for (const auto* item : rows[r]) {
            const double textH = LineHeight(f.Text);
            // Areas a little taller than lines, so their colour reads.
            const bool area =
                item->Kind == TSwatch::Band || item->Kind == TSwatch::Box || item->Kind == TSwatch::HaloLine;
            const double swatchH = textH * (area ? 0.7 : 0.5);
            DrawSwatch(p, *item, QRectF(x, y + (textH - swatchH) / 2, f.Base * 2.2, swatchH), lineWidth);
            p.setPen(QColor(30, 30, 30));
            const double tx = x + f.Base * 2.7;
            // Only a text too wide is elided: measured at its own width, a
            // short word can come out a hair too wide and lose its end.
            const QString text =
                ItemWidth(*item, f) > width
                    ? QFontMetricsF(f.Text).elidedText(item->Text, Qt::ElideRight, itemWidth(*item) - f.Base * 2.7)
                    : item->Text;
            p.drawText(QRectF(tx, y, TextWidth(f.Text, text) + 2, textH), Qt::AlignLeft | Qt::AlignVCenter, text);
            x += itemWidth(*item) + f.Base * 1.8;
        }
    }
}

void DrawHeader(QPainter& p, const TFonts& f, QSize size, const QString& title, const QString& subtitle) {
    const double m = f.Base;
    p.setPen(QColor(20, 20, 20));
    p.setFont(f.Title);
    const double titleH = LineHeight(f.Title);
    p.drawText(QRectF(m, m, size.width() - 2 * m, titleH), Qt::AlignCenter,
               QFontMetricsF(f.Title).elidedText(title, Qt::ElideRight, size.width() - 2 * m));
    if (subtitle.isEmpty()) return;
    p.setFont(f.Small);
    p.setPen(QColor(80, 80, 80));
    p.drawText(QRectF(m, m + titleH + f.Base * 0.3, size.width() - 2 * m, LineHeight(f.Small)), Qt::AlignCenter,
               QFontMetricsF(f.Small).elidedText(subtitle, Qt::ElideRight, size.width() - 2 * m));
}

double HeaderHeight(const TFonts& f, bool subtitle = true) {
    return f.Base + LineHeight(f.Title) + (subtitle ? f.Base * 0.3 + LineHeight(f.Small) : 0);
}

// --- What can be drawn ---

bool Drawable(const TPlotPoint& r) { return std::isfinite(r.Local) && IsMeterCorrectedValue(r.Value); }

// The data without readings no scale can hold (one 1e308 would stretch the
// ticks' loops for ever), those counted as left out; the data itself when
// every reading is drawable, so that a year of readings is not copied.
const TNightPlotData& DrawableNight(const TNightPlotData& d, std::optional<TNightPlotData>& copy) {
    if (std::all_of(d.Readings.begin(), d.Readings.end(), [](const TPlotPoint& r) { return Drawable(r); })) return d;
    copy = d;
    auto& r = copy->Readings;
    const auto kept = std::remove_if(r.begin(), r.end(), [](const TPlotPoint& x) { return !Drawable(x); });
    copy->LeftOut += static_cast<size_t>(r.end() - kept);
    r.erase(kept, r.end());
    return *copy;
}

const THourglassData& DrawableNights(const THourglassData& d, std::optional<THourglassData>& copy) {
    const bool all = std::all_of(d.Nights.begin(), d.Nights.end(), [](const THourglassNight& n) {
        return std::all_of(n.Readings.begin(), n.Readings.end(), [](const TPlotPoint& r) { return Drawable(r); });
    });
    if (all) return d;
    copy = d;
    for (auto& n : copy->Nights) {
        const auto kept =
            std::remove_if(n.Readings.begin(), n.Readings.end(), [](const TPlotPoint& x) { return !Drawable(x); });
        copy->LeftOut += static_cast<size_t>(n.Readings.end() - kept);
        n.Readings.erase(kept, n.Readings.end());
    }
    return *copy;
}

// --- The night ---

// What the header shows: the title's first line big, the rest and the subtitle small.
struct THeader {
    QString Title, Subtitle;
};

THeader NightHeader(const TNightPlotData& d, const TPlotTexts& t) {
    QString title = Q(t.Title ? *t.Title : NightPlotTitle(d));
    QString subtitle = Q(t.Subtitle ? *t.Subtitle
                                    : Coordinates(d.Latitude, d.Longitude, t.DecimalSeparator) + " \u00b7 local time " +
                                          ZoneText(d.LocalToUtc) + " \u00b7 " +
                                          "sky brightness corrected by the site's offset");
    if (const qsizetype nl = title.indexOf(QLatin1Char('\n')); nl >= 0) {
        const QString more = title.mid(nl + 1).replace(QLatin1Char('\n'), QLatin1Char(' '));
        subtitle = subtitle.isEmpty() ? more : more + QStringLiteral(" \u00b7 ") + subtitle;
        title.truncate(nl);
    }
    return {title, subtitle};
}

QString WithArgument(const std::string& text, const std::string& value) { return Q(text).arg(Q(value)); }

struct TNightFrame {
    TNightPlotLayout L;
    TFonts F;
    THeader Header;
    double Step = 0.5;      // mag between ticks
    TTimeAxis Time;
    double StripTop = 0;    // the twilight labels, above the plot
    double LegendTop = 0;
    double InfoTop = 0;
    double TickLength = 4;
    double Marker = 0;      // radius of the readings' markers; 0: a line alone
    std::vector<TLegendItem> Legend;
};

// The bands as opaque colours, each hour span in the colour of the bands
// over it: metafiles have no transparency, and the overlap keeps its own shade.
QColor Over(const QColor& under, const QColor& c) {
    const double a = c.alphaF();
    return QColor::fromRgbF(static_cast<float>(under.redF() * (1 - a) + c.redF() * a),
                            static_cast<float>(under.greenF() * (1 - a) + c.greenF() * a),
                            static_cast<float>(under.blueF() * (1 - a) + c.blueF() * a));
}

std::vector<TLegendItem> NightLegend(const TNightPlotData& d, const TPlotStyle& s, const TPlotTexts& t) {
    std::vector<TLegendItem> items{
        {TSwatch::Dots, s.Readings,
         d.Readings.size() == 1 ? Q(t.ReadingsOne) : WithArgument(t.ReadingsMany, std::to_string(d.Readings.size()))}};
    // Only what the picture shows; the line below it says what is missing.
    // The bands' colours as drawn, opaque (see Over).
    if (d.Astronomy && !d.Astronomy->Dark.empty())
        items.push_back({TSwatch::Band, Over(s.Background, s.Dark), Q(t.Dark)});
    if (d.Astronomy && !d.Astronomy->MoonUp.empty())
        items.push_back({TSwatch::Band, Over(s.Background, s.Moon), Q(t.MoonUp)});
    if (!d.Cloudy.empty()) items.push_back({TSwatch::Band, Over(s.Background, s.Cloudy), Q(t.Cloudy)});
    if (d.Astronomy && !d.Astronomy->Twilights.empty())
        items.push_back({TSwatch::DashedLine, s.Twilight, Q(t.Twilight)});
    if (d.LeftOut > 0) items.push_back({TSwatch::Box, s.Background, WithArgument(t.LeftOut, std::to_string(d.LeftOut))});
    return items;
}

TNightFrame NightFrame(const TNightPlotData& d, QSize size, const TPlotStyle& style, const TPlotTexts& texts) {
    TNightFrame fr;
    fr.F = FontsFor(size, style.TextPx);
    const TFonts& f = fr.F;
    const double m = f.Base, text = LineHeight(f.Text), small = LineHeight(f.Small);
    fr.TickLength = std::max(3.0, f.Base * 0.35);
    fr.Header = NightHeader(d, texts);
    fr.Legend = NightLegend(d, style, texts);
    const double legendH =
        static_cast<double>(LegendRows(fr.Legend, f, size.width() - 2 * m).size()) * LegendRowHeight(f);

    fr.StripTop = HeaderHeight(f, !fr.Header.Subtitle.isEmpty()) + m * 0.6;
    const double top = fr.StripTop + (d.Astronomy ? small + m * 0.3 : 0);
    fr.InfoTop = size.height() - m - (texts.InfoLine ? text : 0);
    fr.LegendTop = fr.InfoTop - (texts.InfoLine ? m * 0.4 : 0) - legendH;
    const double timeAxisH = fr.TickLength + m * 0.3 + text;
    double bottom = fr.LegendTop - m * 0.7 - text - m * 0.3 - timeAxisH;

    // The brightness range, padded and rounded out to the ticks.
    double lo = 16, hi = 22;
    if (!d.Readings.empty()) {
        const auto [mn, mx] =
            std::minmax_element(d.Readings.begin(), d.Readings.end(),
                                [](const TPlotPoint& a, const TPlotPoint& b) { return a.Value < b.Value; });
        const double pad = std::max(0.1, (mx->Value - mn->Value) * 0.05);
        lo = mn->Value - pad;
        hi = mx->Value + pad;
    }
    const double maxTicks = std::max(2.0, std::floor((bottom - text - top) / (text * 2.6)));
    fr.Step = NiceStep(hi - lo, maxTicks, {0.1, 0.2, 0.25, 0.5, 1, 2, 2.5, 5, 10});
    lo = std::floor(lo / fr.Step + 1e-9) * fr.Step;
    hi = std::ceil(hi / fr.Step - 1e-9) * fr.Step;
    if (hi <= lo) hi = lo + fr.Step;

    double labelW = 0;
    for (double v = lo; v <= hi + fr.Step / 2; v += fr.Step)
        labelW = std::max(labelW, TextWidth(f.Text, Q(Fixed(v, DecimalsFor(fr.Step), texts.DecimalSeparator))));
    const double left = m + text + m * 0.6 + labelW + fr.TickLength + m * 0.3;
    const double right = size.width() - m * 1.6;
    fr.Time = TimeAxis(d.From, d.To, right - left, f.Text, texts.WholeHours);
    if (fr.Time.HasContext()) bottom -= text;  // the dates under the times

    fr.L.Plot = QRectF(std::round(left), std::round(top), std::round(right - left), std::round(bottom - top));
    fr.L.From = d.From;
    fr.L.To = d.To;
    fr.L.Top = lo;
    fr.L.Bottom = hi;

    // Markers where the line alone would hide readings: few of them, or far apart.
    const double lw = std::max(1.2, f.Base / 8), radius = std::max(4.0, lw * 2.5);
    const double spacing = MedianInterval(d.Readings) / std::max(1e-9, d.To - d.From) * fr.L.Plot.width();
    if (!d.Readings.empty() && (d.Readings.size() <= 10 || spacing >= radius * 3)) fr.Marker = radius;
    return fr;
}

void FillBands(QPainter& p, const TNightPlotLayout& L, const TNightAstronomy& a, const TPlotStyle& style) {
    std::vector<double> cuts{L.From, L.To};
    for (const auto* spans : {&a.Dark, &a.MoonUp})
        for (const auto& s : *spans)
            for (const double t : {s.From, s.To})
                if (t > L.From && t < L.To) cuts.push_back(t);
    std::sort(cuts.begin(), cuts.end());
    const auto within = [](const std::vector<TTimeSpan>& spans, double t) {
        return std::any_of(spans.begin(), spans.end(), [t](const TTimeSpan& s) { return s.From <= t && t < s.To; });
    };
    for (size_t i = 1; i < cuts.size(); ++i) {
        const double mid = (cuts[i - 1] + cuts[i]) / 2;
        const bool dark = within(a.Dark, mid), moon = within(a.MoonUp, mid);
        if (!(cuts[i] > cuts[i - 1]) || (!dark && !moon)) continue;
        QColor c = style.Background;
        if (dark) c = Over(c, style.Dark);
        if (moon) c = Over(c, style.Moon);
        p.fillRect(QRectF(QPointF(L.X(cuts[i - 1]), L.Plot.top()), QPointF(L.X(cuts[i]), L.Plot.bottom())), c);
    }
}

std::string MoonText(const TNightAstronomy& a) {
    const TMoonSummary& m = a.Moon;
    const bool named = m.PhaseName == "new moon" || m.PhaseName == "full moon";
    std::string t = "Moon: " + m.PhaseName + (named ? (m.Waxing ? " (waxing)" : " (waning)") : "") + ", " +
                    Fixed(m.Illuminated * 100, 0) + " % illuminated; ";
    const char* during = m.MaxDuring == TMoonHours::AstronomicalNight ? " in astronomical night"
                         : m.MaxDuring == TMoonHours::SunDown         ? " while the Sun is down"
                                                                      : "";
    if (m.MaxAltitude > 0)
        t += "highest " + Fixed(m.MaxAltitude, 0) + "\u00b0 at " + HoursMinutes(m.MaxAltitudeAt) + during;
    else
        t += std::string("below the horizon") + (during[0] ? during : " all day and night");
    if (a.Dark.empty()) t += " \u00b7 no astronomical night: the Sun stays above \u221218\u00b0";
    return t;
}

}  // namespace

double TNightPlotLayout::X(double local) const { return Plot.left() + (local - From) / (To - From) * Plot.width(); }

double TNightPlotLayout::Y(double value) const {
    return Plot.top() + (value - Top) / (Bottom - Top) * Plot.height();
}

TNightPlotLayout NightPlotLayout(const TNightPlotData& data, QSize size, const TPlotTexts& texts) {
    std::optional<TNightPlotData> copy;
    return NightFrame(DrawableNight(data, copy), size, {}, texts).L;
}

double ReadingMarkerRadius(const TNightPlotData& data, QSize size, const TPlotTexts& texts) {
    std::optional<TNightPlotData> copy;
    return NightFrame(DrawableNight(data, copy), size, {}, texts).Marker;
}

namespace {
std::string SiteTitle(const std::string& name, int id) { return name.empty() ? "Site " + std::to_string(id) : name; }
}  // namespace

std::string NightPlotTitle(const TNightPlotData& d) {
    return SiteTitle(d.SiteName, d.SiteId) + ", night of " + NightTitleDate(d.NightDate);
}

std::string HourglassTitle(const THourglassData& d) {
    const size_t n = d.Nights.size();
    return SiteTitle(d.SiteName, d.SiteId) + ", sky brightness of " + std::to_string(n) +
           (n == 1 ? " night, " : " nights, ") + PeriodTitleDate(d.FromDate, d.ToDate);
}

std::string NightTitleDate(double nightDate) {
    const DateTimeParts a = DecodeDateTime(std::floor(nightDate));
    const DateTimeParts b = DecodeDateTime(std::floor(nightDate) + 1);
    if (a.month == b.month)
        return std::to_string(a.day) + "/" + std::to_string(b.day) + " " + kMonths[a.month - 1] + " " +
               std::to_string(a.year);
    if (a.year == b.year)
        return std::to_string(a.day) + " " + kMonths[a.month - 1] + "/" + std::to_string(b.day) + " " +
               kMonths[b.month - 1] + " " + std::to_string(a.year);
    return std::to_string(a.day) + " " + kMonths[a.month - 1] + " " + std::to_string(a.year) + "/" +
           std::to_string(b.day) + " " + kMonths[b.month - 1] + " " + std::to_string(b.year);
}

std::string PeriodTitleDate(double fromDate, double toDate) {
    const DateTimeParts a = DecodeDateTime(std::floor(fromDate));
    const DateTimeParts b = DecodeDateTime(std::floor(toDate));
    const std::string end = std::to_string(b.day) + " " + kMonths[b.month - 1] + " " + std::to_string(b.year);
    if (a.year == b.year) return std::to_string(a.day) + " " + kMonths[a.month - 1] + " to " + end;
    return std::to_string(a.day) + " " + kMonths[a.month - 1] + " " + std::to_string(a.year) + " to " + end;
}

void RenderNightPlot(const TNightPlotData& data, QPainter& p, QSize size, const TPlotStyle& style,
                     const TPlotTexts& texts) {
    std::optional<TNightPlotData> copy;
    const TNightPlotData& d = DrawableNight(data, copy);
    const TNightFrame fr = NightFrame(d, size, style, texts);
    const TNightPlotLayout& L = fr.L;
    const TFonts& f = fr.F;
    const double m = f.Base, lw = std::max(1.2, f.Base / 8);
    const QColor ink(30, 30, 30), grid = Over(style.Background, QColor(0, 0, 0, 28));

    p.save();
    p.fillRect(QRect(QPoint(0, 0), size), style.Background);
    DrawHeader(p, f, size, fr.Header.Title, fr.Header.Subtitle);
    if (d.Astronomy) FillBands(p, L, *d.Astronomy, style);
    // Over the Sun's and the Moon's bands, under the curve.
    for (const TTimeSpan& c : d.Cloudy) {
        const double from = std::max(c.From, L.From), to = std::min(c.To, L.To);
        if (to > from)
            p.fillRect(QRectF(QPointF(L.X(from), L.Plot.top()), QPointF(L.X(to), L.Plot.bottom())), style.Cloudy);
    }

    // Grid, then the frame.
    p.setPen(QPen(grid, 1));
    for (double v = L.Top; v <= L.Bottom + fr.Step / 2; v += fr.Step)
        p.drawLine(QPointF(L.Plot.left(), L.Y(v)), QPointF(L.Plot.right(), L.Y(v)));
    for (const TTimeTick& t : fr.Time.Ticks)
        p.drawLine(QPointF(L.X(t.At), L.Plot.top()), QPointF(L.X(t.At), L.Plot.bottom()));

    // Twilight lines, labelled outside the dark hours so that a short night
    // keeps both labels apart.
    if (d.Astronomy) {
        p.setFont(f.Small);
        const double sh = LineHeight(f.Small);
        for (const auto& t : d.Astronomy->Twilights) {
            if (t.Local < L.From || t.Local > L.To) continue;
            const double x = L.X(t.Local);
            p.setPen(QPen(style.Twilight, lw * 0.8, Qt::DashLine));
            p.drawLine(QPointF(x, L.Plot.top()), QPointF(x, L.Plot.bottom()));
            const QString label = WithArgument(t.Dusk ? texts.Dusk : texts.Dawn, HoursMinutes(t.Local));
            const double w = TextWidth(f.Small, label) + 2;
            double lx = t.Dusk ? x - 3 - w : x + 3;
            lx = std::clamp(lx, L.Plot.left(), L.Plot.right() - w);
            p.setPen(style.Twilight);
            p.drawText(QRectF(lx, fr.StripTop, w, sh), Qt::AlignLeft | Qt::AlignVCenter, label);
        }
    }

    // The readings: one line per run, broken at long gaps; markers while
    // they are few or stand apart, and always for a reading on its own.
    if (!d.Readings.empty()) {
        const auto starts = RunStarts(d.Readings);
        const double lone = std::max(fr.Marker, std::max(4.0, lw * 2.5));
        for (size_t r = 0; r < starts.size(); ++r) {
            const size_t end = r + 1 < starts.size() ? starts[r + 1] : d.Readings.size();
            QPolygonF line;
            for (size_t i = starts[r]; i < end; ++i)
                line << QPointF(L.X(d.Readings[i].Local), L.Y(d.Readings[i].Value));
            if (line.size() > 1) {
                p.setPen(QPen(style.Readings, lw, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawPolyline(line);
            }
            const double radius = line.size() == 1 ? lone : fr.Marker;
            if (radius > 0) {
                p.setPen(QPen(style.Background, 1));
                p.setBrush(style.Readings);
                for (const QPointF& pt : line) p.drawEllipse(pt, radius, radius);
                p.setBrush(Qt::NoBrush);
            }
        }
    } else {
        p.setFont(f.Text);
        p.setPen(ink);
        p.drawText(L.Plot, Qt::AlignCenter, Q(texts.NoReadings));
    }

    p.setPen(QPen(ink, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(L.Plot);

    // The axes.
    const double text = LineHeight(f.Text);
    p.setFont(f.Text);
    for (double v = L.Top; v <= L.Bottom + fr.Step / 2; v += fr.Step) {
        const double y = L.Y(v);
        p.drawLine(QPointF(L.Plot.left() - fr.TickLength, y), QPointF(L.Plot.left(), y));
        const QString label = Q(Fixed(v, DecimalsFor(fr.Step), texts.DecimalSeparator));
        const double w = TextWidth(f.Text, label) + 2;
        p.drawText(QRectF(L.Plot.left() - fr.TickLength - m * 0.3 - w, y - text / 2, w, text),
                   Qt::AlignRight | Qt::AlignVCenter, label);
    }
    const double labelTop = L.Plot.bottom() + fr.TickLength + m * 0.3;
    for (const TTimeTick& t : fr.Time.Ticks) {
        const double x = L.X(t.At);
        p.drawLine(QPointF(x, L.Plot.bottom()), QPointF(x, L.Plot.bottom() + fr.TickLength));
        for (const auto& [line, top] : {std::pair{&t.Text, labelTop}, std::pair{&t.Context, labelTop + text}}) {
            if (line->empty()) continue;
            const QString label = Q(*line);
            const double w = TextWidth(f.Text, label) + 4;
            p.drawText(QRectF(std::clamp(x - w / 2, 0.0, size.width() - w), top, w, text), Qt::AlignCenter, label);
        }
    }
    const double xTitleTop = labelTop + text * (fr.Time.HasContext() ? 2 : 1) + m * 0.3;
    p.drawText(QRectF(L.Plot.left(), xTitleTop, L.Plot.width(), text), Qt::AlignCenter,
               Q(texts.TimeAxis ? *texts.TimeAxis : "Local time (" + ZoneText(d.LocalToUtc) + "), hours"));
    DrawRotatedText(p, QPointF(m + text / 2, L.Plot.center().y()), Q(texts.ValueAxis), f.Text);

    DrawLegend(p, fr.Legend, f, m, size.width() - 2 * m, fr.LegendTop, lw);

    if (texts.InfoLine) {
        const QString info = d.Astronomy
                                 ? Q(MoonText(*d.Astronomy))
                                 : QStringLiteral("The site has no coordinates: twilight and Moon cannot be shown.");
        p.setFont(f.Text);
        p.setPen(d.Astronomy ? ink : QColor(150, 30, 30));
        p.drawText(QRectF(m, fr.InfoTop, size.width() - 2 * m, text), Qt::AlignCenter,
                   QFontMetricsF(f.Text).elidedText(info, Qt::ElideRight, size.width() - 2 * m));
    }
    p.restore();
}

// --- Many nights ---

namespace {

const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct THourglassFrame {
    THourglassLayout L;
    TFonts F;
    double TickLength = 4;
    int HourStep = 1;
    double BarStep = 0.5;
    double LegendTop = 0;
    std::vector<TLegendItem> Legend;
    struct TLabel {
        size_t Night;
        QString Text;
    };
    std::vector<TLabel> DateLabels;
};

double Percentile(std::vector<double>& v, double q) {
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(std::floor(q * static_cast<double>(v.size() - 1))));
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
}

std::vector<THourglassFrame::TLabel> DateLabels(const THourglassData& d, double columnPx, const TFonts& f) {
    std::vector<THourglassFrame::TLabel> labels;
    const size_t n = d.Nights.size();
    const double dayW = TextWidth(f.Text, QStringLiteral("Sep 30")) * 1.35;
    for (const size_t step : {1, 2, 5, 7, 14}) {
        if (columnPx * static_cast<double>(step) < dayW) continue;
        for (size_t i = 0; i < n; i += step) {
            const DateTimeParts p = DecodeDateTime(d.Nights[i].NightDate);
            labels.push_back({i, Q(std::string(kShortMonths[p.month - 1]) + " " + std::to_string(p.day))});
        }
        return labels;
    }
    // Months: at the first of each month shown, every few when they crowd.
    const double monthW = TextWidth(f.Text, QStringLiteral("Sep 2024")) * 1.3;
    int every = 12;
    for (const int k : {1, 2, 3, 6, 12})
        if (columnPx * 30.4 * k >= monthW) {
            every = k;
            break;
        }
    for (size_t i = 0; i < n; ++i) {
        const DateTimeParts p = DecodeDateTime(d.Nights[i].NightDate);
        if (p.day == 1 && (p.month - 1) % every == 0)
            labels.push_back({i, Q(std::string(kShortMonths[p.month - 1]) + " " + std::to_string(p.year))});
    }
    return labels;
}

std::string HoursLabel(double hoursFromMidnight) {
    const int h = static_cast<int>(std::lround(hoursFromMidnight));
    return TwoDigits(((h % 24) + 24) % 24) + ":00";
}

THourglassFrame HourglassFrame(const THourglassData& d, QSize size, const TPlotStyle& style) {
    THourglassFrame fr;
    fr.F = FontsFor(size, style.TextPx);
    const TFonts& f = fr.F;
    const double m = f.Base, text = LineHeight(f.Text);
    fr.TickLength = std::max(3.0, f.Base * 0.35);
    THourglassLayout& L = fr.L;
    L.Nights = std::max<size_t>(1, d.Nights.size());

    // Midnight in the middle, wide enough for every reading.
    double reach = 6;
    std::vector<double> all, dark;
    all.reserve(d.ReadingCount());
    for (const auto& n : d.Nights)
        for (const auto& r : n.Readings) {
            reach = std::max(reach, std::fabs(r.Local));
            all.push_back(r.Value);
            if (n.DuskHours && n.DawnHours && r.Local >= *n.DuskHours && r.Local <= *n.DawnHours)
                dark.push_back(r.Value);
        }
    reach = std::min(12.0, std::ceil(reach - 1e-9));
    L.TopHours = -reach;
    L.BottomHours = reach;

    // The colour scale spans the bulk of the readings of astronomical night
    // (of all of them when none is known), at least two magnitudes: twilight
    // and daylight take the bright end instead of washing out the nights.
    std::vector<double>& values = dark.empty() ? all : dark;
    if (!values.empty()) {
        const double lo = Percentile(values, 0.02), hi = Percentile(values, 0.98);
        L.Darkest = std::ceil(hi * 2) / 2;
        L.Brightest = std::min(std::floor(lo * 2) / 2, L.Darkest - 2);
    }

    fr.Legend = {{TSwatch::Box, style.Background, QStringLiteral("no reading")}};
    if (d.HasTwilight)
        fr.Legend.push_back(
            {TSwatch::HaloLine, style.Twilight, QString::fromUtf8("Sun at \u221218\u00b0 (astronomical dusk, dawn)")});
    if (d.LeftOut > 0)
        fr.Legend.push_back({TSwatch::Box, style.Background,
                             WithArgument(TPlotTexts{}.LeftOut, std::to_string(d.LeftOut))});
    const double legendH =
        static_cast<double>(LegendRows(fr.Legend, f, size.width() - 2 * m).size()) * LegendRowHeight(f);

    const double top = HeaderHeight(f) + m * 0.9;
    fr.LegendTop = size.height() - m - legendH;
    const double bottom = fr.LegendTop - m * 0.7 - text - m * 0.3 - (fr.TickLength + m * 0.3 + text);
    const double left = m + text + m * 0.6 + TextWidth(f.Text, QStringLiteral("00:00")) + fr.TickLength + m * 0.3;

    const double barH = bottom - top;
    fr.BarStep = NiceStep(L.Darkest - L.Brightest, std::max(2.0, std::floor(barH / (text * 2.2))), {0.5, 1, 2, 5});
    double barLabelW = 0;
    for (double v = L.Brightest; v <= L.Darkest + 1e-9; v += fr.BarStep)
        barLabelW = std::max(barLabelW, TextWidth(f.Text, Q(Fixed(v, DecimalsFor(fr.BarStep)))));
    const double barW = std::round(f.Base * 1.2);
    const double right = size.width() - m - text - m * 0.6 - barLabelW - fr.TickLength - m * 0.3 - barW - m * 1.4;

    L.Plot = QRectF(std::round(left), std::round(top), std::round(right - left), std::round(bottom - top));
    L.ColourBar = QRectF(L.Plot.right() + std::round(m * 1.4), L.Plot.top(), barW, L.Plot.height());

    const double hourPx = L.Plot.height() / (L.BottomHours - L.TopHours);
    fr.HourStep = 6;
    for (const int k : {1, 2, 3, 4, 6})
        if (hourPx * k >= text * 1.8) {
            fr.HourStep = k;
            break;
        }
    fr.DateLabels = DateLabels(d, L.ColumnWidth(), f);
    return fr;
}

}  // namespace

double THourglassLayout::ColumnWidth() const { return Plot.width() / static_cast<double>(std::max<size_t>(1, Nights)); }

double THourglassLayout::X(size_t night) const { return Plot.left() + static_cast<double>(night) * ColumnWidth(); }

double THourglassLayout::Y(double hours) const {
    return Plot.top() + (hours - TopHours) / (BottomHours - TopHours) * Plot.height();
}

THourglassLayout HourglassLayout(const THourglassData& data, QSize size) {
    std::optional<THourglassData> copy;
    return HourglassFrame(DrawableNights(data, copy), size, {}).L;
}

QColor HourglassColour(double value, const THourglassLayout& layout) {
    // Viridis runs dark to light: the darkest sky takes its dark end.
    const double t = (value - layout.Brightest) / (layout.Darkest - layout.Brightest);
    const TRgb c = Viridis(1 - t);
    return QColor(c.R, c.G, c.B);
}

void RenderHourglass(const THourglassData& data, QPainter& p, QSize size, const TPlotStyle& style) {
    std::optional<THourglassData> copy;
    const THourglassData& d = DrawableNights(data, copy);
    const THourglassFrame fr = HourglassFrame(d, size, style);
    const THourglassLayout& L = fr.L;
    const TFonts& f = fr.F;
    const double m = f.Base, text = LineHeight(f.Text), lw = std::max(1.2, f.Base / 8);
    const QColor ink(30, 30, 30);

    p.save();
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    const size_t nights = d.Nights.size();
    DrawHeader(p, f, size, Q(HourglassTitle(d)),
               Q(Coordinates(d.Latitude, d.Longitude, ".") + " \u00b7 local standard time " + ZoneText(d.LocalToUtc) +
                 " \u00b7 " + std::to_string(d.ReadingCount()) + " readings, corrected by the site's offset"));

    // The cells, painted as one image: a year of readings stays one element
    // of an SVG instead of half a million.
    const QSize cellsSize = L.Plot.size().toSize();
    QImage cells(cellsSize, QImage::Format_ARGB32_Premultiplied);
    cells.fill(style.Background);
    {
        QPainter c(&cells);
        const double colW = L.ColumnWidth(), pxPerHour = cellsSize.height() / (L.BottomHours - L.TopHours);
        for (size_t i = 0; i < nights; ++i) {
            const auto& n = d.Nights[i];
            const int x0 = static_cast<int>(std::floor(static_cast<double>(i) * colW));
            const int x1 = std::max(x0 + 1, static_cast<int>(std::floor(static_cast<double>(i + 1) * colW)));
            const double cell = std::clamp(n.CellHours > 0 ? n.CellHours : 5.0 / 60, 1.0 / 60, 1.0);
            for (const auto& r : n.Readings) {
                const double y0 = (r.Local - cell / 2 - L.TopHours) * pxPerHour;
                const double y1 = (r.Local + cell / 2 - L.TopHours) * pxPerHour;
                const int a = static_cast<int>(std::floor(y0)), b = std::max(a + 1, static_cast<int>(std::ceil(y1)));
                c.fillRect(QRect(x0, a, x1 - x0, b - a), HourglassColour(r.Value, L));
            }
        }
    }
    p.drawImage(L.Plot.topLeft(), cells);

    // Twilight curves: a step per night, dark with a light halo so that they
    // show on every colour and on the blank nights.
    if (d.HasTwilight) {
        auto curve = [&](auto hoursOf) {
            std::vector<QPolygonF> runs(1);
            for (size_t i = 0; i < nights; ++i) {
                const std::optional<double> h = hoursOf(d.Nights[i]);
                if (!h || *h < L.TopHours || *h > L.BottomHours) {
                    if (!runs.back().isEmpty()) runs.emplace_back();
                    continue;
                }
                runs.back() << QPointF(L.X(i), L.Y(*h)) << QPointF(L.X(i) + L.ColumnWidth(), L.Y(*h));
            }
            for (const auto& pen : {QPen(QColor(255, 255, 255, 220), lw * 2.6), QPen(style.Twilight, lw)})
                for (const auto& run : runs)
                    if (run.size() > 1) {
                        p.setPen(pen);
                        p.drawPolyline(run);
                    }
        };
        curve([](const THourglassNight& n) { return n.DuskHours; });
        curve([](const THourglassNight& n) { return n.DawnHours; });
    }

    p.setPen(QPen(ink, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(L.Plot);

    // Time of night.
    p.setFont(f.Text);
    for (int h = static_cast<int>(L.TopHours); h <= static_cast<int>(L.BottomHours); ++h) {
        const double y = L.Y(h);
        const bool labelled = ((h % fr.HourStep) + fr.HourStep) % fr.HourStep == 0;
        p.drawLine(QPointF(L.Plot.left() - fr.TickLength * (labelled ? 1 : 0.6), y), QPointF(L.Plot.left(), y));
        if (!labelled) continue;
        const QString label = Q(HoursLabel(h));
        const double w = TextWidth(f.Text, label) + 2;
        p.drawText(QRectF(L.Plot.left() - fr.TickLength - m * 0.3 - w, y - text / 2, w, text),
                   Qt::AlignRight | Qt::AlignVCenter, label);
    }
    DrawRotatedText(p, QPointF(m + text / 2, L.Plot.center().y()),
                    Q("Local standard time (" + ZoneText(d.LocalToUtc) + ")"), f.Text);

    // Dates.
    for (const auto& label : fr.DateLabels) {
        const double x = L.X(label.Night) + L.ColumnWidth() / 2;
        p.drawLine(QPointF(x, L.Plot.bottom()), QPointF(x, L.Plot.bottom() + fr.TickLength));
        const double w = TextWidth(f.Text, label.Text) + 4;
        const double lx = std::clamp(x - w / 2, 0.0, size.width() - w);
        p.drawText(QRectF(lx, L.Plot.bottom() + fr.TickLength + m * 0.3, w, text), Qt::AlignCenter, label.Text);
    }
    const DateTimeParts a = DecodeDateTime(d.FromDate), b = DecodeDateTime(d.ToDate);
    const std::string years =
        a.year == b.year ? std::to_string(a.year) : std::to_string(a.year) + "\u2013" + std::to_string(b.year);
    p.drawText(QRectF(L.Plot.left(), L.Plot.bottom() + fr.TickLength + m * 0.6 + text, L.Plot.width(), text),
               Qt::AlignCenter, Q("Night (date of the evening), " + years));

    // The colour bar: the brighter sky on top, as on a night's plot.
    const QRectF& bar = L.ColourBar;
    QLinearGradient g(bar.topLeft(), bar.bottomLeft());
    for (int i = 0; i <= 32; ++i) {
        const double v = L.Brightest + (L.Darkest - L.Brightest) * i / 32.0;
        g.setColorAt(i / 32.0, HourglassColour(v, L));
    }
    p.fillRect(bar, g);
    p.setPen(QPen(ink, 1));
    p.drawRect(bar);
    double barLabelW = 0;
    for (double v = L.Brightest; v <= L.Darkest + 1e-9; v += fr.BarStep) {
        const double y = bar.top() + (v - L.Brightest) / (L.Darkest - L.Brightest) * bar.height();
        p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + fr.TickLength, y));
        const QString label = Q(Fixed(v, DecimalsFor(fr.BarStep)));
        const double w = TextWidth(f.Text, label) + 2;
        barLabelW = std::max(barLabelW, w);
        p.drawText(QRectF(bar.right() + fr.TickLength + m * 0.3, y - text / 2, w, text),
                   Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    DrawRotatedText(p,
                    QPointF(bar.right() + fr.TickLength + m * 0.3 + barLabelW + m * 0.6 + text / 2, bar.center().y()),
                    QString::fromUtf8("Sky brightness (mag/arcsec\u00b2)"), f.Text);

    DrawLegend(p, fr.Legend, f, m, size.width() - 2 * m, fr.LegendTop, lw);
    p.restore();
}
