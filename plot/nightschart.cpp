#include "plot/nightschart.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/station/i18n.h"
#include "core/station/myutils.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Number(double v, int decimals, const std::string& separator) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.*f", decimals, v);
    std::string s = buf;
    if (const size_t dot = s.find('.'); dot != std::string::npos) s.replace(dot, 1, separator);
    return s;
}

// Round steps for the date axis: months, quarters, years.
struct TDateTicks {
    std::vector<double> At;
    std::vector<QString> Labels;
};

TDateTicks DateTicks(double from, double to, double width, double labelWidth) {
    TDateTicks t;
    if (to - from < 62) {  // a few weeks: days
        const int fitting = std::max(1, static_cast<int>(width / (labelWidth * 1.5)));
        int step = 1;
        for (int s : {1, 2, 5, 7, 14, 28})
            if ((to - from) / s <= fitting) {
                step = s;
                break;
            }
        for (double d = std::ceil(from); d <= to; d += 1) {
            if (static_cast<long>(d) % step) continue;
            const DateTimeParts p = DecodeDateTime(d);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
            t.At.push_back(d);
            t.Labels.push_back(QString::fromLatin1(buf));
        }
        return t;
    }
    const int fitting = std::max(1, static_cast<int>(width / labelWidth));
    const double spanMonths = (to - from) / 30.44;
    int stepMonths = 1;
    for (int s : {1, 2, 3, 6, 12, 24, 60, 120})
        if (spanMonths / s <= fitting) {
            stepMonths = s;
            break;
        } else {
            stepMonths = s;
        }
    const DateTimeParts p = DecodeDateTime(from);
    int y = p.year, m = p.month;
    for (int guard = 0; guard < 2000; ++guard) {
        const double at = EncodeDate(y, m, 1);
        if (at > to) break;
        if (at >= from && ((y * 12 + m - 1) % stepMonths == 0)) {
            t.At.push_back(at);
            char buf[16];
            if (stepMonths >= 12)
                std::snprintf(buf, sizeof buf, "%04d", y);
            else
                std::snprintf(buf, sizeof buf, "%04d-%02d", y, m);
            t.Labels.push_back(QString::fromLatin1(buf));
        }
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    return t;
}

}  // namespace

TNightsChartTexts NightsChartTexts() {
    TNightsChartTexts t;
    t.Title = Tr("Sky brightness of the clear nights");
    t.ValueAxis = Tr("Sky brightness (mag/arcsec²)");
    t.Nights = Tr("Clear nights (%1)");
    t.Trend = Tr("Trend %1 mag/arcsec² a year");
    t.NoTrend = Tr("No trend: %1");
    t.NoNights = Tr("No clear night in these dates");
    return t;
}

void RenderNightsChart(const std::vector<TNightSummary>& nights, const TNightTrend& trend, QPainter& painter,
                       QSize size, const TNightsChartTexts& texts, const TNightsChartStyle& style) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(QRectF(0, 0, size.width(), size.height()), style.Background);
    QFont font = painter.font();
    font.setPixelSize(std::max(10, std::min(size.width(), size.height()) / 40));
    painter.setFont(font);
    const QFontMetricsF fm(font);
    const double line = fm.height();

    std::vector<std::pair<double, double>> points;
    for (const TNightSummary& n : nights)
        if (n.Class() == TNightClass::Clear && n.SkyBrightness && std::isfinite(*n.SkyBrightness))
            points.push_back({n.Night, *n.SkyBrightness});

    painter.setPen(Qt::black);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRectF(0, line * 0.3, size.width(), line * 1.2), Qt::AlignHCenter, Q(texts.Title));
    painter.setFont(font);

    const QRectF plot(fm.horizontalAdvance(QStringLiteral("00.00")) + line * 2.2, line * 2.2,
                      size.width() - fm.horizontalAdvance(QStringLiteral("00.00")) - line * 3.4,
                      size.height() - line * 6.2);
    if (plot.width() < 20 || plot.height() < 20) {
        painter.restore();
        return;
    }
    painter.setPen(QPen(Qt::gray, 1));
    painter.drawRect(plot);
    if (points.empty()) {
        painter.setPen(Qt::black);
        painter.drawText(plot, Qt::AlignCenter, Q(texts.NoNights));
        painter.restore();
        return;
    }

    // From the first clear night to the last, a little apart from the edges.
    double from = points.front().first, to = points.back().first;
    const double margin = std::max(3.0, (to - from) * 0.03);
    from -= margin;
    to += margin;
    double top = points.front().second, bottom = top;
    for (const auto& p : points) {
        top = std::min(top, p.second);
        bottom = std::max(bottom, p.second);
    }
    top = std::floor(top * 2) / 2 - 0.25;
    bottom = std::ceil(bottom * 2) / 2 + 0.25;
    auto X = [&](double d) { return plot.left() + (d - from) / (to - from) * plot.width(); };
    auto Y = [&](double v) { return plot.top() + (v - top) / (bottom - top) * plot.height(); };

    // Value grid every half or whole magnitude.
    const double step = bottom - top > 4 ? 1 : 0.5;
    for (double v = std::ceil(top / step) * step; v <= bottom + 1e-9; v += step) {
        painter.setPen(QPen(QColor(220, 220, 220), 1));
        painter.drawLine(QPointF(plot.left(), Y(v)), QPointF(plot.right(), Y(v)));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, Y(v) - line / 2, plot.left() - line * 0.3, line), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(v, 'f', step < 1 ? 1 : 0).replace(QLatin1Char('.'), Q(texts.DecimalSeparator)));
    }
    const TDateTicks ticks = DateTicks(from, to, plot.width(), fm.horizontalAdvance(QStringLiteral("0000-00")) * 1.6);
    for (size_t i = 0; i < ticks.At.size(); ++i) {
        const double x = X(ticks.At[i]);
        painter.setPen(QPen(QColor(220, 220, 220), 1));
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(x - line * 4, plot.bottom() + line * 0.2, line * 8, line), Qt::AlignHCenter,
                         ticks.Labels[i]);
    }
    painter.save();
    painter.translate(line * 0.2, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.height() / 2, 0, plot.height(), line * 1.2), Qt::AlignHCenter, Q(texts.ValueAxis));
    painter.restore();

    const double r = std::max(2.0, std::min(5.0, plot.width() / (points.size() * 2.0 + 1)));
    painter.setPen(Qt::NoPen);
    painter.setBrush(style.Nights);
    for (const auto& p : points) painter.drawEllipse(QPointF(X(p.first), Y(p.second)), r, r);

    std::string legend = texts.Nights;
    if (const auto at = legend.find("%1"); at != std::string::npos)
        legend.replace(at, 2, std::to_string(points.size()));
    std::string trendText;
    if (trend.Fitted()) {
        painter.setPen(QPen(style.Trend, std::max(2.0, line / 6)));
        const double y0 = trend.Level, y1 = trend.Level + trend.Slope * (trend.To - trend.From) / 365.25;
        painter.drawLine(QPointF(X(trend.From), Y(y0)), QPointF(X(trend.To), Y(y1)));
        trendText = texts.Trend;
        if (const auto at = trendText.find("%1"); at != std::string::npos)
            trendText.replace(at, 2, Number(trend.Slope, 3, texts.DecimalSeparator));
    } else {
        trendText = texts.NoTrend;
        if (const auto at = trendText.find("%1"); at != std::string::npos) trendText.replace(at, 2, trend.Refusal);
    }
    const double ly = plot.bottom() + line * 1.6;
    painter.setPen(Qt::NoPen);
    painter.setBrush(style.Nights);
    painter.drawEllipse(QPointF(plot.left() + line * 0.5, ly + line / 2), 4, 4);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(plot.left() + line * 1.2, ly, plot.width() / 2, line), Qt::AlignLeft | Qt::AlignVCenter,
                     Q(legend));
    painter.setPen(QPen(style.Trend, std::max(2.0, line / 6)));
    if (trend.Fitted())
        painter.drawLine(QPointF(plot.left() + plot.width() * 0.45, ly + line / 2),
                         QPointF(plot.left() + plot.width() * 0.45 + line * 1.5, ly + line / 2));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(plot.left() + plot.width() * 0.45 + line * 2, ly, plot.width() * 0.55 - line * 2, line * 2.4),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, Q(trendText));
    painter.restore();
}
