// A site window's chart of readings as the user sees it: every reading
// visible, a long gap a break, time labels that never read the same twice
// at any span or width, and a night shaded where the Sun is below -18
// degrees. Read back from the widget's own picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/station/myutils.h"
#include "gui/readingviews.h"
#include "plot/timeaxis.h"
#include "support/qtsupport.h"

namespace {

constexpr double kHour = 1.0 / 24, kMinute = kHour / 60;
const QColor kRed(255, 0, 0);

TReadingRow Reading(double utc, double value) {
    TReadingRow r;
    r.Code = std::to_string(std::llround(utc * 86400));
    r.DateTime = utc;
    r.Value = value;
    return r;
}

std::vector<TReadingRow> Every(double from, double to, double step, double value = 20.5) {
    std::vector<TReadingRow> rows;
    for (int i = 0; from + i * step <= to + 1e-9; ++i) rows.push_back(Reading(from + i * step, value + 0.01 * (i % 7)));
    return rows;
}

bool IsRed(QRgb c) { return qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90; }

// The red pixels within radius of a point and the box they fill.
struct TRedAround {
    int Count = 0;
    QRect Box;
};
TRedAround RedAround(const QImage& image, QPointF at, int radius) {
    TRedAround r;
    for (int y = static_cast<int>(at.y()) - radius; y <= static_cast<int>(at.y()) + radius; ++y)
        for (int x = static_cast<int>(at.x()) - radius; x <= static_cast<int>(at.x()) + radius; ++x)
            if (image.rect().contains(x, y) && IsRed(image.pixel(x, y))) {
                ++r.Count;
                r.Box |= QRect(x, y, 1, 1);
            }
    return r;
}

int RedInColumn(const QImage& image, double x, const QRectF& plot) {
    int n = 0;
    for (int col = static_cast<int>(x) - 1; col <= static_cast<int>(x) + 1; ++col)
        for (int y = static_cast<int>(plot.top()) + 1; y < static_cast<int>(plot.bottom()); ++y)
            n += IsRed(image.pixel(col, y)) ? 1 : 0;
    return n;
}

class ReadingChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App();
        chart.reset(MakeReadingChart("ChartTest", QStringLiteral("SQM Graph of the night: 11/03/2011")));
        chart->resize(760, 360);
    }
    // Each picture also goes to KALO_SCREENSHOTS, when set, for looking at.
    QImage Picture() const {
        const QImage image = chart->grab().toImage();
        if (const char* folder = getenv("KALO_SCREENSHOTS")) {
            static int n = 0;
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            image.save(QStringLiteral("%1/chart-%2-%3.png").arg(QString::fromLocal8Bit(folder)).arg(info->name()).arg(++n));
        }
        return image;
    }
    QPointF At(const TReadingRow& r) const {
        const TNightPlotLayout L = chart->Layout();
        return {L.X(r.DateTime), L.Y(*r.Value)};
    }
    std::unique_ptr<TReadingChart> chart;
    const double night = EncodeDate(2011, 3, 11);
};

TEST_F(ReadingChartTest, OneOrTwoReadingsAreMarkersSeenAtOnceAndManyAreALine) {
    struct TCase {
        const char* What;
        std::vector<TReadingRow> Rows;
        std::optional<TQueryWindow> Span;
    };
    const double at = night + 20 * kHour;
    const TCase cases[] = {
        {"one reading of recent readings", {Reading(at, 20.1)}, std::nullopt},
        {"one reading in a night", {Reading(at, 20.1)}, NightWindow(night)},
        {"two readings a minute apart", {Reading(at, 20.1), Reading(at + kMinute, 20.3)}, std::nullopt},
        {"two readings in a night", {Reading(at, 20.1), Reading(at + kMinute, 20.3)}, NightWindow(night)},
        {"two readings hours apart", {Reading(at, 20.1), Reading(at + 5 * kHour, 21.3)}, NightWindow(night)},
    };
    // An interval that ends where it begins still has a time axis.
    PlotReadings(chart.get(), {Reading(at, 20.1)}, false, QStringLiteral("t"), TQueryWindow{at, at});
    EXPECT_GE(RedAround(Picture(), At(Reading(at, 20.1)), 8).Count, 25);
    EXPECT_GT(chart->Data().To, chart->Data().From);
    PlotReadings(chart.get(), {}, false, QStringLiteral("none"));
    {
        const QImage none = Picture();
        const QRect plot = chart->Layout().Plot.toRect();
        int red = 0;
        for (int y = plot.top(); y <= plot.bottom(); ++y)
            for (int x = plot.left(); x <= plot.right(); ++x) red += IsRed(none.pixel(x, y));
        EXPECT_EQ(red, 0) << "no reading, nothing red in the plot";
    }
    for (const TCase& c : cases) {
        PlotReadings(chart.get(), c.Rows, false, QStringLiteral("t"), c.Span);
        const QImage image = Picture();
        for (const TReadingRow& r : c.Rows) {
            const TRedAround red = RedAround(image, At(r), 8);
            EXPECT_GE(red.Count, 25) << c.What;
            EXPECT_GE(red.Box.width(), 6) << c.What << ": a dot, not a marker";
            EXPECT_GE(red.Box.height(), 6) << c.What << ": a dot, not a marker";
            EXPECT_TRUE(chart->Layout().Plot.contains(At(r))) << c.What;
        }
    }
    // A night of one-minute readings reads as a line, no beads.
    PlotReadings(chart.get(), Every(night + 19 * kHour, night + 29 * kHour, kMinute), false, QStringLiteral("t"),
                 NightWindow(night));
    EXPECT_EQ(ReadingMarkerRadius(chart->Data(), chart->size(), chart->Texts()), 0);
    EXPECT_EQ(chart->Data().Readings.size(), 601u);
    // Readings every ten minutes are still a line; hourly ones stand apart as markers.
    PlotReadings(chart.get(), Every(night + 19 * kHour, night + 29 * kHour, 10 * kMinute), false, QStringLiteral("t"),
                 NightWindow(night));
    EXPECT_EQ(ReadingMarkerRadius(chart->Data(), chart->size(), chart->Texts()), 0);
    const auto hourly = Every(night + 19 * kHour, night + 29 * kHour, kHour);
    PlotReadings(chart.get(), hourly, false, QStringLiteral("t"), NightWindow(night));
    EXPECT_GE(ReadingMarkerRadius(chart->Data(), chart->size(), chart->Texts()), 3);
    const QImage beads = Picture();
    for (const TReadingRow& r : hourly) EXPECT_GE(RedAround(beads, At(r), 8).Count, 25);
}

TEST_F(ReadingChartTest, AGapOfHoursIsABreakAndAMissingReadingIsNot) {
    std::vector<TReadingRow> gap = Every(night + 19 * kHour, night + 23 * kHour, 5 * kMinute);
    const auto after = Every(night + 26 * kHour, night + 29 * kHour, 5 * kMinute);
    gap.insert(gap.end(), after.begin(), after.end());
    std::vector<TReadingRow> missing = Every(night + 19 * kHour, night + 29 * kHour, 5 * kMinute);
    const double lost = night + 24 * kHour + 30 * kMinute;
    std::erase_if(missing, [&](const TReadingRow& r) { return std::fabs(r.DateTime - lost) < kMinute; });

    for (const bool withSpan : {true, false}) {
        const std::optional<TQueryWindow> span = withSpan ? std::optional(NightWindow(night)) : std::nullopt;
        PlotReadings(chart.get(), gap, false, QStringLiteral("gap"), span);
        const QImage broken = Picture();
        const TNightPlotLayout L = chart->Layout();
        EXPECT_EQ(RedInColumn(broken, L.X(night + 24.5 * kHour), L.Plot), 0) << "joined across the gap";
        EXPECT_GT(RedInColumn(broken, L.X(night + 21 * kHour), L.Plot), 0);
        EXPECT_GT(RedInColumn(broken, L.X(night + 27 * kHour), L.Plot), 0);

        PlotReadings(chart.get(), missing, false, QStringLiteral("missing"), span);
        const QImage joined = Picture();
        EXPECT_GT(RedInColumn(joined, chart->Layout().X(lost), chart->Layout().Plot), 0) << "one missing reading";
    }
}

// Spans from a lone reading to years, at a narrow, a usual and a wide width.
TEST(TimeAxisTest, LabelsNeverReadTheSameTwiceNorTouchAndStayOnTheAxis) {
    testsupport::App();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(10);
    const QFontMetricsF fm(font);
    const double t0 = EncodeDate(2011, 3, 11) + 19 * kHour + 2 * kMinute + 17.0 / 86400;
    const std::pair<const char*, double> spans[] = {
        {"a minute", 4 * kMinute},    {"a lone reading", 30 * kMinute}, {"two hours", 2 * kHour},
        {"a night", 1},               {"three days", 3},                {"three weeks", 21},
        {"a season", 100},            {"three years", 1100},            {"twenty years", 7300},
    };
    for (const double width : {220.0, 620.0, 1500.0})
        for (const auto& [what, span] : spans) {
            const TTimeAxis axis = TimeAxis(t0, t0 + span, width, font);
            const std::string where = std::string(what) + " at " + std::to_string(static_cast<int>(width)) + " px";
            ASSERT_GE(axis.Ticks.size(), 2u) << where;
            std::set<std::string> seen;
            double lastRight = -1e9;
            for (const TTimeTick& t : axis.Ticks) {
                EXPECT_TRUE(seen.insert(t.Text + " | " + t.Context).second) << where << ": " << t.Text << " again";
                EXPECT_GE(t.At, t0 - 1e-9) << where;
                EXPECT_LE(t.At, t0 + span + 1e-9) << where;
                const double x = (t.At - t0) / span * width;
                const double half = std::max(fm.horizontalAdvance(QString::fromStdString(t.Text)),
                                             fm.horizontalAdvance(QString::fromStdString(t.Context))) / 2;
                EXPECT_GT(x - half, lastRight) << where << ": " << t.Text << " touches the label before it";
                lastRight = x + half;
            }
            EXPECT_FALSE(axis.Ticks.front().Context.empty() && axis.StepDays < 1) << where << ": no date";
        }
    // A night labels its hours and says the date where it starts and where it changes.
    const TTimeAxis night = TimeAxis(EncodeDate(2011, 3, 11) + 0.5, EncodeDate(2011, 3, 12) + 0.5, 700, font);
    ASSERT_GE(night.Ticks.size(), 7u);
    EXPECT_EQ(night.Ticks.front().Text, "12:00");
    EXPECT_EQ(night.Ticks.front().Context, "11/03");
    EXPECT_EQ(night.Ticks.back().Text, "12:00");
    EXPECT_EQ(night.Ticks.back().Context, "12/03");
    const auto midnight = std::find_if(night.Ticks.begin(), night.Ticks.end(),
                                       [](const TTimeTick& t) { return t.Text == "00:00"; });
    ASSERT_NE(midnight, night.Ticks.end());
    EXPECT_EQ(midnight->Context, "12/03");
    EXPECT_TRUE(night.Ticks[1].Context.empty());
}

TEST_F(ReadingChartTest, ANightWithThePositionShadesTheDarkHoursAndALongIntervalHasNoShading) {
    const TSitePosition asiago{45.85, 11.57};
    PlotReadings(chart.get(), Every(night + 19 * kHour, night + 29 * kHour, 10 * kMinute), false,
                 QStringLiteral("night"), NightWindow(night), asiago);
    ASSERT_TRUE(chart->Data().Astronomy);
    const TNightAstronomy& a = *chart->Data().Astronomy;
    ASSERT_EQ(a.Dark.size(), 1u);
    // 11 March at Asiago: astronomical night from about 19:10 to 03:40 UTC.
    EXPECT_NEAR(a.Dark.front().From, night + 19.2 * kHour, 0.5 * kHour);
    EXPECT_NEAR(a.Dark.front().To, night + 27.7 * kHour, 0.5 * kHour);
    const QImage image = Picture();
    const TNightPlotLayout L = chart->Layout();
    const auto top = [&](double t) { return image.pixel(static_cast<int>(L.X(t)), static_cast<int>(L.Plot.top()) + 3); };
    // An hour of the dark without the Moon, and one of daylight without it.
    const auto moonUp = [&](double t) {
        return std::any_of(a.MoonUp.begin(), a.MoonUp.end(), [t](const TTimeSpan& s) { return s.From <= t && t < s.To; });
    };
    double darkHour = 0, dayHour = 0;
    for (double t = night + 12.25 * kHour; t < night + 36 * kHour; t += kHour / 4) {
        const bool inDark = a.Dark.front().From < t && t < a.Dark.front().To;
        if (moonUp(t)) continue;
        (inDark ? darkHour : dayHour) = t;
    }
    ASSERT_NE(darkHour, 0);
    ASSERT_NE(dayHour, 0);
    const QRgb day = top(dayHour), dark = top(darkHour);
    EXPECT_NE(dark, day);
    EXPECT_LT(qGray(dark), qGray(day)) << "the dark hours are darker";
    EXPECT_LT(qRed(dark), qBlue(dark)) << "and blue";

    PlotReadings(chart.get(), Every(night, night + 10, kHour), false, QStringLiteral("ten days"),
                 TQueryWindow{night, night + 10}, asiago);
    EXPECT_FALSE(chart->Data().Astronomy);
    const QImage days = Picture();
    EXPECT_EQ(days.pixel(static_cast<int>(chart->Layout().X(night + 4.6)), static_cast<int>(chart->Layout().Plot.top()) + 3),
              QColor(Qt::white).rgb());
    PlotReadings(chart.get(), Every(night + 19 * kHour, night + 29 * kHour, 10 * kMinute), false,
                 QStringLiteral("night"), NightWindow(night), std::nullopt);
    EXPECT_FALSE(chart->Data().Astronomy) << "no position, no shading";
}

TEST_F(ReadingChartTest, TheAxesHaveTitlesWithUnitsAndTheRedLineIsRed) {
    PlotReadings(chart.get(), Every(night + 19 * kHour, night + 29 * kHour, 10 * kMinute), false,
                 QStringLiteral("SQM Graph of the night: 11/03/2011"), NightWindow(night));
    const TPlotTexts t = chart->Texts();
    EXPECT_EQ(t.TimeAxis, "Time (UTC)");
    EXPECT_EQ(t.ValueAxis, "Sky brightness (mag/arcsec\u00b2)");
    EXPECT_EQ(t.Title, "SQM Graph of the night: 11/03/2011");
    EXPECT_EQ(TReadingChart::Style().Readings, kRed);
    const QImage image = Picture();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) red += IsRed(image.pixel(x, y));
    EXPECT_GT(red, 300);
}

}  // namespace
