// The published plots: pictures drawn from plain data read back as PNG
// images and parsed as SVG documents, the night's astronomy against the
// engine and the almanac, and the data read from real database files.
#include <gtest/gtest.h>

#include <QPainter>
#include <QSvgRenderer>

#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <limits>
#include <set>

#include "plot/colormap.h"
#include "core/station/fbdb.h"
#include "core/astronomy/moon.h"
#include "core/station/myutils.h"
#include "core/site/nightfile.h"
#include "plot/nightplotfile.h"
#include "plot/plotdata.h"
#include "plot/plotfile.h"
#include "plot/plotrender.h"
#include "support/readings_test_support.h"
#include "support/site_test_support.h"
#include "core/astronomy/vsop.h"

namespace {

namespace fs = std::filesystem;
using namespace sitetest;

constexpr double kHour = 1.0 / 24;
const QSize kSize(1200, 700);

// Local time of the station PC for every test: Rome, UTC+1 in winter, +2 in summer.
class RomeTime : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "Europe/Rome", 1);
        tzset();
        EnsurePlotApplication();
    }
};
const auto* const kRome = ::testing::AddGlobalTestEnvironment(new RomeTime);

double Day(int y, int m, int d) { return EncodeDate(y, m, d); }

// A night of plain data: readings from `from` to `to` (local date-times) every `step`.
TNightPlotData PlainNight(double from, double to, double step, double (*value)(double local)) {
    TNightPlotData d;
    d.SiteName = "Roof";
    d.SiteId = 1;
    d.NightDate = Day(2024, 1, 15);
    d.From = d.NightDate + 0.5;
    d.To = d.NightDate + 1.5;
    d.LocalToUtc = -kHour;
    for (int i = 0; from + i * step <= to + 1e-9; ++i) d.Readings.push_back({from + i * step, value(from + i * step)});
    return d;
}

QImage Png(const fs::path& file, const TDrawFunction& draw, QSize size = kSize) {
    WritePlot(file.string(), size, draw);
    return LoadPng(file);
}

// Close to a pure colour: the colour itself or an antialiased edge of it.
bool LooksLike(QRgb pixel, const QColor& c) {
    return std::abs(qRed(pixel) - c.red()) < 60 && std::abs(qGreen(pixel) - c.green()) < 60 &&
           std::abs(qBlue(pixel) - c.blue()) < 60;
}

bool ColourNear(const QImage& image, QPointF at, const QColor& c, int radius = 2) {
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const QPoint p(static_cast<int>(std::lround(at.x())) + dx, static_cast<int>(std::lround(at.y())) + dy);
            if (image.rect().contains(p) && LooksLike(image.pixel(p), c)) return true;
        }
    return false;
}

// Pixels of the colour in the columns around x (a line between two columns
// shares itself between them), inside a rectangle.
int ColourInColumn(const QImage& image, double x, const QRectF& within, const QColor& c) {
    int n = 0;
    const int centre = static_cast<int>(std::lround(x));
    for (int col = centre - 1; col <= centre + 1; ++col)
        for (int y = static_cast<int>(within.top()) + 1; y < static_cast<int>(within.bottom()); ++y)
            n += LooksLike(image.pixel(col, y), c) ? 1 : 0;
    return n;
}

// The SVG drawn by Qt's own renderer against the PNG of the same drawing.
// Glyphs and edges are rasterised a little differently; compared block by
// block, the same picture agrees everywhere (a missing band or line would
// not): the largest difference of a 10x10 block's mean colour.
double WorstBlockDifference(const QImage& png, const fs::path& svgFile) {
    QSvgRenderer renderer(QString::fromStdString(svgFile.string()));
    EXPECT_TRUE(renderer.isValid());
    QImage fromSvg(png.size(), QImage::Format_RGB32);
    fromSvg.fill(Qt::white);
    {
        QPainter p(&fromSvg);
        renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(png.size())));
    }
    constexpr int kBlock = 10;
    double worst = 0;
    for (int by = 0; by + kBlock <= png.height(); by += kBlock)
        for (int bx = 0; bx + kBlock <= png.width(); bx += kBlock) {
            double sum[2][3] = {};
            for (int y = by; y < by + kBlock; ++y)
                for (int x = bx; x < bx + kBlock; ++x)
                    for (int k = 0; k < 2; ++k) {
                        const QRgb c = (k == 0 ? png : fromSvg).pixel(x, y);
                        sum[k][0] += qRed(c);
                        sum[k][1] += qGreen(c);
                        sum[k][2] += qBlue(c);
                    }
            for (int ch = 0; ch < 3; ++ch)
                worst = std::max(worst, std::fabs(sum[0][ch] - sum[1][ch]) / (kBlock * kBlock));
        }
    return worst;
}

double Luminance(const QColor& c) { return 0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF(); }

class PlotTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path At(const std::string& name) const { return dir.Path() / name; }
};

}  // namespace

// --- The colour map ---

TEST(ViridisTest, RunsFromThePublishedPurpleToThePublishedYellowGettingLighterAllTheWay) {
    const TRgb start = Viridis(0), middle = Viridis(0.5), end = Viridis(1);
    EXPECT_EQ((std::array<int, 3>{start.R, start.G, start.B}), (std::array<int, 3>{0x44, 0x01, 0x54}));
    EXPECT_EQ((std::array<int, 3>{end.R, end.G, end.B}), (std::array<int, 3>{0xFD, 0xE7, 0x25}));
    // #21918C at the middle of the published map.
    EXPECT_NEAR(middle.R, 0x21, 3);
    EXPECT_NEAR(middle.G, 0x91, 3);
    EXPECT_NEAR(middle.B, 0x8C, 3);
    double last = -1;
    for (int i = 0; i <= 200; ++i) {
        const TRgb c = Viridis(i / 200.0);
        const double l = Luminance(QColor(c.R, c.G, c.B));
        EXPECT_GT(l, last) << "at " << i / 200.0;
        last = l;
    }
    for (const double outside : {-1.0, std::nan("")}) EXPECT_EQ(Viridis(outside).G, start.G);
    EXPECT_EQ(Viridis(7).G, end.G);
}

// --- Files ---

TEST_F(PlotTest, TheExtensionChoosesTheFormatAndARefusedOrFailedWriteLeavesThePictureBeforeItWhole) {
    EXPECT_EQ(PlotFormatOf("night.png"), TPlotFormat::Png);
    EXPECT_EQ(PlotFormatOf("/a.b/NIGHT.PNG"), TPlotFormat::Png);
    EXPECT_EQ(PlotFormatOf("night.Svg"), TPlotFormat::Svg);
    for (const char* refused : {"night.jpg", "night", "night.png.bak", "folder.png/night", "night.svgz"})
        EXPECT_FALSE(PlotFormatOf(refused)) << refused;

    const auto blank = [](QPainter& p, QSize s) { p.fillRect(QRect(QPoint(0, 0), s), Qt::gray); };
    EXPECT_THROW(WritePlot(At("night.jpg").string(), QSize(400, 300), blank), EPlotFormat);
    EXPECT_FALSE(fs::exists(At("night.jpg")));
    try {
        WritePlot(At("missing/night.png").string(), QSize(400, 300), blank);
        ADD_FAILURE() << "a missing folder was written to";
    } catch (const EPlotFormat&) {
        ADD_FAILURE() << "refused for its extension";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("missing/night.png"), std::string::npos) << e.what();
    }

    WritePlot(At("a.png").string(), QSize(400, 300), blank);
    WritePlot(At("a.svg").string(), QSize(400, 300), blank);
    EXPECT_EQ(testsupport::ReadFile(At("a.png")).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(testsupport::ReadFile(At("a.svg")).substr(0, 5), "<?xml");
    for (const char* name : {"a.png", "a.svg"}) {
        const std::string before = testsupport::ReadFile(At(name));
        EXPECT_THROW(WritePlot(At(name).string(), QSize(400, 300),
                               [](QPainter&, QSize) { throw std::runtime_error("drawing failed"); }),
                     std::runtime_error);
        EXPECT_EQ(testsupport::ReadFile(At(name)), before) << name;
    }
}

TEST_F(PlotTest, TheSvgTitleOfAnyNameStaysTextAndTheBytesAreTheFilesPicture) {
    const auto blank = [](QPainter& p, QSize s) { p.fillRect(QRect(QPoint(0, 0), s), Qt::gray); };
    const std::string hostile = "<script>alert(1)</script> & \"Roof\"";
    WritePlot(At("t.svg").string(), QSize(400, 300), blank, hostile);
    const std::string svg = testsupport::ReadFile(At("t.svg"));
    EXPECT_EQ(svg.find("<script"), std::string::npos) << svg.substr(0, 600);
    EXPECT_NE(svg.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;Roof&quot;"), std::string::npos)
        << svg.substr(0, 600);
    EXPECT_EQ(PlotBytes(TPlotFormat::Svg, QSize(400, 300), blank, hostile), svg);
    WritePlot(At("t.png").string(), QSize(400, 300), blank);
    EXPECT_EQ(PlotBytes(TPlotFormat::Png, QSize(400, 300), blank), testsupport::ReadFile(At("t.png")));
}

// --- A night from plain data ---

TEST_F(PlotTest, EachReadingLandsWhereTheLayoutPutsItInThePngAndTheSvgWithTheBrighterSkyHigher) {
    // Brighter sky (smaller magnitude) before midnight, darker after.
    TNightPlotData d = PlainNight(Day(2024, 1, 15) + 18 * kHour, Day(2024, 1, 16) + 6 * kHour, 10 * kMinute,
                                  [](double t) { return t < Day(2024, 1, 16) ? 19.0 : 21.5; });
    TPlotStyle style;
    style.Readings = QColor(0, 190, 0);
    const QImage image = Png(At("night.png"), [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s, style); });
    ASSERT_EQ(image.size(), kSize);

    const TNightPlotLayout L = NightPlotLayout(d, kSize);
    EXPECT_LT(L.Y(19.0), L.Y(21.5)) << "magnitudes grow downward";
    EXPECT_TRUE(L.Plot.contains(QPointF(L.X(d.Readings.front().Local), L.Y(19.0))));
    EXPECT_TRUE(L.Plot.contains(QPointF(L.X(d.Readings.back().Local), L.Y(21.5))));
    for (const auto& r : d.Readings)
        EXPECT_TRUE(ColourNear(image, QPointF(L.X(r.Local), L.Y(r.Value)), style.Readings))
            << "reading at " << FormatSqlDateTime(r.Local);
    // No reading before 18:00: nothing of theirs there.
    EXPECT_EQ(ColourInColumn(image, L.X(Day(2024, 1, 15) + 15 * kHour), L.Plot, style.Readings), 0);
    EXPECT_GT(DistinctColours(image), 20u) << "a blank or nearly blank picture";

    // The same night as an SVG document.
    WritePlot(At("night.svg").string(), kSize, [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s, style); },
              NightPlotTitle(d));
    const TSvg svg = ParseSvg(At("night.svg"));

    ASSERT_EQ(svg.LinesOf(d.Readings.size()), 1) << "one line through every reading";
    const auto& series = *std::find_if(svg.Polylines.begin(), svg.Polylines.end(),
                                       [&](const auto& p) { return p.size() == d.Readings.size(); });
    for (size_t i = 0; i < d.Readings.size(); ++i) {
        EXPECT_NEAR(series[i].x(), L.X(d.Readings[i].Local), 0.02) << i;
        EXPECT_NEAR(series[i].y(), L.Y(d.Readings[i].Value), 0.02) << i;
    }
    EXPECT_EQ(NightPlotTitle(d), "Roof, night of 15/16 January 2024");
    EXPECT_EQ(svg.Title, NightPlotTitle(d));
    EXPECT_TRUE(svg.HasText(NightPlotTitle(d)));
    EXPECT_TRUE(svg.HasText("Local time (UTC+1), hours"));
    EXPECT_TRUE(svg.HasText("Sky brightness (mag/arcsec\u00b2)"));
    for (const char* hour : {"12", "18", "00", "06"}) EXPECT_TRUE(svg.HasText(hour)) << hour;
    // Plain data without astronomy: the picture says why there is none, and
    // its legend lists only what it shows.
    EXPECT_TRUE(svg.HasText("The site has no coordinates: twilight and Moon cannot be shown."));
    EXPECT_TRUE(svg.HasText("Sky brightness (" + std::to_string(d.Readings.size()) + " readings)"));
    for (const char* legend : {"Astronomical night", "Moon above the horizon", "Sun at \u221218\u00b0"})
        EXPECT_FALSE(svg.HasText(legend)) << legend;
}

// Draws on a thread of its own: a drawing that has not ended within a minute
// (it took well under a second) fails, and ends the run, which cannot go on.
void EndsWithinAMinute(const std::function<void()>& draw) {
    auto drawing = std::async(std::launch::async, draw);
    if (drawing.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return drawing.get();
    ADD_FAILURE() << "the drawing did not end";
    std::_Exit(1);
}

TEST_F(PlotTest, ValuesNoMeterCanGiveAreLeftOutOfTheDrawingsAndCountedOnTheirLegends) {
    TNightPlotData d = PlainNight(Day(2024, 1, 15) + 18 * kHour, Day(2024, 1, 16) + 6 * kHour, 10 * kMinute,
                                  [](double) { return 21.0; });
    const size_t good = d.Readings.size();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double bad : {1e308, -1e308, inf, std::nan("")})
        d.Readings.insert(d.Readings.begin() + 20, TPlotPoint{Day(2024, 1, 15) + 21 * kHour, bad});
    d.Readings.push_back({inf, 21.0});  // no time either
    EndsWithinAMinute([&] {
        WritePlot(At("night.svg").string(), kSize, [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s); });
        WritePlot(At("night.png").string(), kSize, [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s); });
    });
    const TSvg svg = ParseSvg(At("night.svg"));
    EXPECT_EQ(svg.LinesOf(good), 1) << "one line through every reading a meter can give";
    EXPECT_TRUE(svg.HasText("Sky brightness (" + std::to_string(good) + " readings)"));
    EXPECT_TRUE(svg.HasText("5 left out: a value no meter can give"));
    const TNightPlotLayout L = NightPlotLayout(d, kSize);
    EXPECT_LT(L.Top, 21.0);
    EXPECT_GT(L.Bottom, 21.0);
    EXPECT_LT(L.Bottom - L.Top, 2.0) << "the scale is that of the readings drawn";
    EXPECT_GT(DistinctColours(LoadPng(At("night.png"))), 20u);

    THourglassData h;
    h.SiteName = "Roof";
    h.FromDate = Day(2024, 1, 15);
    h.ToDate = Day(2024, 1, 16);
    h.LocalToUtc = -kHour;
    for (int i = 0; i < 2; ++i) {
        THourglassNight n;
        n.NightDate = h.FromDate + i;
        for (double t = -6; t <= 6; t += 1.0 / 6) n.Readings.push_back({t, 20.0 + i});
        n.Readings.push_back({0.05, i == 0 ? 1e308 : -inf});
        n.CellHours = 1.0 / 6;
        h.Nights.push_back(n);
    }
    EndsWithinAMinute([&] {
        WritePlot(At("hourglass.svg").string(), kSize, [&](QPainter& p, QSize s) { RenderHourglass(h, p, s); });
    });
    const THourglassLayout hl = HourglassLayout(h, kSize);
    EXPECT_LE(hl.Brightest, 20.0);
    EXPECT_GE(hl.Darkest, 21.0);
    EXPECT_LE(hl.Darkest - hl.Brightest, 5.0) << "the colour scale is that of the readings drawn";
    EXPECT_TRUE(ParseSvg(At("hourglass.svg")).HasText("2 left out: a value no meter can give"));
}

TEST_F(PlotTest, ALongGapBreaksTheLineAndAShortOneDoesNot) {
    auto flat = [](double) { return 20.5; };
    TNightPlotData gap = PlainNight(Day(2024, 1, 15) + 20 * kHour, Day(2024, 1, 16) + 4 * kHour, 5 * kMinute, flat);
    // Two hours missing around midnight: far more than three intervals.
    std::erase_if(gap.Readings, [](const TPlotPoint& p) {
        return p.Local > Day(2024, 1, 15) + 23 * kHour + kMinute && p.Local < Day(2024, 1, 16) + 1 * kHour - kMinute;
    });
    TNightPlotData shortGap =
        PlainNight(Day(2024, 1, 15) + 20 * kHour, Day(2024, 1, 16) + 4 * kHour, 5 * kMinute, flat);
    // The reading of midnight missing: two intervals, not more than three.
    std::erase_if(shortGap.Readings, [](const TPlotPoint& p) {
        return std::fabs(p.Local - Day(2024, 1, 16)) < 2 * kMinute;
    });
    ASSERT_EQ(shortGap.Readings.size(), gap.Readings.size() + 22);
    TPlotStyle style;
    style.Readings = QColor(0, 190, 0);
    const QImage broken = Png(At("gap.png"), [&](QPainter& p, QSize s) { RenderNightPlot(gap, p, s, style); });
    const QImage joined = Png(At("short.png"), [&](QPainter& p, QSize s) { RenderNightPlot(shortGap, p, s, style); });
    const TNightPlotLayout L = NightPlotLayout(gap, kSize);
    const double midnight = L.X(Day(2024, 1, 16));
    EXPECT_EQ(ColourInColumn(broken, midnight, L.Plot, style.Readings), 0);
    EXPECT_GT(ColourInColumn(joined, midnight, NightPlotLayout(shortGap, kSize).Plot, style.Readings), 0);
    EXPECT_EQ(RunStarts(gap.Readings).size(), 2u);
    EXPECT_EQ(RunStarts(shortGap.Readings).size(), 1u);
}

TEST_F(PlotTest, TheDarkHoursTheMoonHoursAndTheTwilightLinesShowApartAndTheSvgDrawsThePngsPicture) {
    TNightPlotData d = PlainNight(Day(2024, 1, 15) + 18 * kHour, Day(2024, 1, 16) + 6 * kHour, 10 * kMinute,
                                  [](double) { return 21.0; });
    TNightAstronomy a;
    const double dusk = Day(2024, 1, 15) + 19 * kHour, dawn = Day(2024, 1, 16) + 5 * kHour;
    a.Dark = {{dusk, dawn}};
    a.MoonUp = {{Day(2024, 1, 15) + 13 * kHour, Day(2024, 1, 15) + 21 * kHour}};
    a.Twilights = {{dusk, true}, {dawn, false}};
    a.Moon = {0.26, true, "waxing crescent", 29, Day(2024, 1, 15) + 19 * kHour, TMoonHours::AstronomicalNight};
    d.Astronomy = a;
    d.Latitude = 45.85;
    d.Longitude = 11.57;
    TPlotStyle style;
    style.Twilight = QColor(255, 0, 255);
    const QImage image = Png(At("bands.png"), [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s, style); });
    const TNightPlotLayout L = NightPlotLayout(d, kSize);

    // Half past the hour, clear of the grid; just under the top edge, clear of the readings.
    auto at = [&](double hour) {
        return image.pixel(static_cast<int>(L.X(Day(2024, 1, 15) + hour * kHour)), static_cast<int>(L.Plot.top()) + 3);
    };
    const QRgb moonOnly = at(15.5), both = at(20.5), darkOnly = at(23.5), neither = at(33.5);
    EXPECT_EQ(neither, style.Background.rgb());
    const std::set<QRgb> distinct{moonOnly, both, darkOnly, neither};
    EXPECT_EQ(distinct.size(), 4u);
    // The dark band darkens; the moon band lightens less than it.
    EXPECT_LT(Luminance(QColor(darkOnly)), Luminance(QColor(moonOnly)));

    for (const double t : {dusk, dawn}) EXPECT_GT(ColourInColumn(image, L.X(t), L.Plot, style.Twilight), 20);
    EXPECT_EQ(ColourInColumn(image, L.X(Day(2024, 1, 16)), L.Plot, style.Twilight), 0);

    WritePlot(At("bands.svg").string(), kSize, [&](QPainter& p, QSize s) { RenderNightPlot(d, p, s, style); });
    EXPECT_LT(WorstBlockDifference(image, At("bands.svg")), 20);
    const TSvg svg = ParseSvg(At("bands.svg"));
    EXPECT_TRUE(svg.HasText("dusk 19:00")) << "the twilight labels";
    EXPECT_TRUE(svg.HasText("dawn 05:00"));
    EXPECT_TRUE(svg.HasText("Moon: waxing crescent, 26 % illuminated; highest 29\u00b0 at 19:00"));
    for (const char* legend : {"Astronomical night", "Moon above the horizon", "Sun at \u221218\u00b0"})
        EXPECT_TRUE(svg.HasText(legend)) << legend;
}

// --- The night's astronomy from the engine ---

TEST(NightAstronomyTest, DuskAndDawnAreTheEnginesShiftedToLocalTime) {
    // Asiago, the night of 15 January 2024, UTC+1: astronomical night from
    // about 18:41 to 06:05 local time.
    const double lat = 45.849, lon = 11.569, night = Day(2024, 1, 15), toUtc = -kHour;
    const TNightAstronomy a = ComputeNightAstronomy(lat, lon, night + 0.5, night + 1.5, toUtc);
    ASSERT_EQ(a.Twilights.size(), 2u);
    ASSERT_EQ(a.Dark.size(), 1u);
    EXPECT_TRUE(a.Twilights[0].Dusk);
    EXPECT_FALSE(a.Twilights[1].Dusk);
    // The engine counts longitude positive west.
    EXPECT_NEAR(a.Twilights[0].Local, AstronomicalDusk(night, -lon, lat) - toUtc, 1e-9);
    EXPECT_NEAR(a.Twilights[1].Local, AstronomicalDawn(night + 1, -lon, lat) - toUtc, 1e-9);
    EXPECT_NEAR(a.Twilights[0].Local, night + 18 * kHour + 41 * kMinute, 3 * kMinute);
    EXPECT_NEAR(a.Twilights[1].Local, night + 1 + 6 * kHour + 5 * kMinute, 3 * kMinute);
    EXPECT_DOUBLE_EQ(a.Dark[0].From, a.Twilights[0].Local);
    EXPECT_DOUBLE_EQ(a.Dark[0].To, a.Twilights[1].Local);
}

TEST(NightAstronomyTest, TheMoonIsUpBetweenItsCrossingsAndItsHighestPointIsInTheDark) {
    const double lat = 45.849, lon = 11.569, toUtc = -kHour;
    for (const double night : {Day(2024, 1, 15), Day(2024, 1, 25), Day(2024, 2, 2)}) {
        const TNightAstronomy a = ComputeNightAstronomy(lat, lon, night + 0.5, night + 1.5, toUtc);
        ASSERT_FALSE(a.MoonUp.empty()) << FormatSqlDateTime(night);
        auto altitude = [&](double local) {
            return static_cast<double>(MoonHorizontalPosition(local + toUtc, -lon, lat).Altitude);
        };
        for (const auto& s : a.MoonUp) {
            EXPECT_GT(altitude((s.From + s.To) / 2), 0);
            if (s.From > night + 0.5) {
                EXPECT_NEAR(altitude(s.From), 0, 0.05);
            }
            if (s.To < night + 1.5) {
                EXPECT_NEAR(altitude(s.To), 0, 0.05);
            }
        }
        for (double t = night + 0.5; t <= night + 1.5; t += 20 * kMinute) {
            const bool up = std::any_of(a.MoonUp.begin(), a.MoonUp.end(),
                                        [t](const TTimeSpan& s) { return t >= s.From && t <= s.To; });
            const bool dark = t > a.Dark[0].From && t < a.Dark[0].To;
            if (std::fabs(altitude(t)) > 0.1) {
                EXPECT_EQ(up, altitude(t) > 0) << FormatSqlDateTime(t);
            }
            if (dark) {
                EXPECT_LE(altitude(t), a.Moon.MaxAltitude + 0.05) << FormatSqlDateTime(t);
            }
        }
        EXPECT_EQ(a.Moon.MaxDuring, TMoonHours::AstronomicalNight);
        EXPECT_NEAR(altitude(a.Moon.MaxAltitudeAt), a.Moon.MaxAltitude, 1e-9);
    }
}

TEST(NightAstronomyTest, ThePhaseFollowsTheAlmanacOf2024) {
    struct {
        double Night;
        const char* Name;
        bool Waxing;
        double Illuminated, Within;
    } const cases[] = {
        {Day(2024, 1, 11), "new moon", false, 0.0, 0.03},       // new moon 11 January 11:57 UT
        {Day(2024, 1, 15), "waxing crescent", true, 0.25, 0.05},
        {Day(2024, 1, 17), "first quarter", true, 0.5, 0.05},   // 18 January 03:52 UT
        {Day(2024, 1, 25), "full moon", true, 1.0, 0.03},       // 25 January 17:54 UT
        {Day(2024, 2, 2), "last quarter", false, 0.5, 0.05},    // 2 February 23:18 UT
    };
    for (const auto& c : cases) {
        const TNightAstronomy a = ComputeNightAstronomy(45.849, 11.569, c.Night + 0.5, c.Night + 1.5, -kHour);
        EXPECT_EQ(a.Moon.PhaseName, c.Name) << FormatSqlDateTime(c.Night);
        EXPECT_NEAR(a.Moon.Illuminated, c.Illuminated, c.Within) << FormatSqlDateTime(c.Night);
        if (std::string(c.Name) != "new moon" && std::string(c.Name) != "full moon") {
            EXPECT_EQ(a.Moon.Waxing, c.Waxing) << FormatSqlDateTime(c.Night);
        }
    }
}

TEST(NightAstronomyTest, WhiteNightsAndThePolarNightHaveNoTwilightLines) {
    // Oslo at midsummer: the Sun sets but never reaches -18 degrees.
    const double june = Day(2024, 6, 20);
    TNightAstronomy a = ComputeNightAstronomy(59.91, 10.75, june + 0.5, june + 1.5, -2 * kHour);
    EXPECT_TRUE(a.Dark.empty());
    EXPECT_TRUE(a.Twilights.empty());
    EXPECT_EQ(a.Moon.MaxDuring, TMoonHours::SunDown);
    // Tromsø: the midnight Sun.
    a = ComputeNightAstronomy(69.65, 18.96, june + 0.5, june + 1.5, -2 * kHour);
    EXPECT_TRUE(a.Dark.empty());
    EXPECT_EQ(a.Moon.MaxDuring, TMoonHours::WholeWindow);
    // Near the pole in December: dark from noon to noon.
    const double december = Day(2024, 12, 20);
    a = ComputeNightAstronomy(89.0, 0.0, december + 0.5, december + 1.5, -kHour);
    ASSERT_EQ(a.Dark.size(), 1u);
    EXPECT_DOUBLE_EQ(a.Dark[0].From, december + 0.5);
    EXPECT_DOUBLE_EQ(a.Dark[0].To, december + 1.5);
    EXPECT_TRUE(a.Twilights.empty());
}

TEST(NightAstronomyTest, ZoneTextsAndLocalTime) {
    EXPECT_EQ(ZoneText(-kHour), "UTC+1");
    EXPECT_EQ(ZoneText(3.5 * kHour), "UTC-3:30");
    EXPECT_EQ(ZoneText(0), "UTC");
    // Rome: standard time in winter, daylight saving time in summer, either
    // side of the change of 31 March 2024 at 02:00 local.
    EXPECT_NEAR(SiteLocalToUtc(1, Day(2024, 1, 16)), -kHour, 1e-12);
    EXPECT_NEAR(SiteLocalToUtc(1, Day(2024, 7, 16)), -2 * kHour, 1e-12);
    EXPECT_NEAR(SiteLocalToUtc(1, Day(2024, 3, 31) + 1.5 * kHour), -kHour, 1e-12);
    EXPECT_NEAR(SiteLocalToUtc(1, Day(2024, 3, 31) + 3.5 * kHour), -2 * kHour, 1e-12);
    // A site zone outside -12..11 keeps only daylight saving time, as the acquisition counts it.
    EXPECT_NEAR(SiteLocalToUtc(12, Day(2024, 1, 16)), 0, 1e-12);
    EXPECT_NEAR(SiteLocalToUtc(12, Day(2024, 7, 16)), -kHour, 1e-12);
    // Standard time all year.
    EXPECT_NEAR(SiteStandardLocalToUtc(1, Day(2024, 7, 16)), -kHour, 1e-12);
    EXPECT_NEAR(SiteStandardLocalToUtc(1, Day(2024, 1, 16)), -kHour, 1e-12);
    EXPECT_NEAR(SiteStandardLocalToUtc(12, Day(2024, 7, 16)), 0, 1e-12);
}

// --- Many nights from plain data ---

TEST_F(PlotTest, EveryNightIsAColumnAndADarkerSkyADarkerCell) {
    THourglassData h;
    h.SiteName = "Roof";
    h.FromDate = Day(2024, 1, 15);
    h.ToDate = Day(2024, 1, 17);
    h.LocalToUtc = -kHour;
    h.HasTwilight = true;
    for (int i = 0; i < 3; ++i) {
        THourglassNight n;
        n.NightDate = h.FromDate + i;
        n.DuskHours = -5.3;
        n.DawnHours = 6.0;
        if (i != 1)
            for (double t = -6; t <= 6; t += 1.0 / 6) n.Readings.push_back({t, i == 0 ? 21.5 : 18.0});
        n.CellHours = i != 1 ? 1.0 / 6 : 0;
        h.Nights.push_back(n);
    }
    const QImage image = Png(At("hourglass.png"), [&](QPainter& p, QSize s) { RenderHourglass(h, p, s); });
    ASSERT_EQ(image.size(), kSize);
    const THourglassLayout L = HourglassLayout(h, kSize);
    EXPECT_LE(L.TopHours, -6);
    EXPECT_GE(L.BottomHours, 6);
    EXPECT_DOUBLE_EQ(L.TopHours, -L.BottomHours) << "midnight in the middle";
    EXPECT_LT(L.Y(-3), L.Y(3)) << "the evening above the morning";
    auto cell = [&](size_t night, double hours) {
        return QColor(image.pixel(static_cast<int>(L.X(night) + L.ColumnWidth() / 2), static_cast<int>(L.Y(hours))));
    };
    EXPECT_EQ(cell(0, 1).rgb(), HourglassColour(21.5, L).rgb());
    EXPECT_EQ(cell(2, 1).rgb(), HourglassColour(18.0, L).rgb());
    EXPECT_EQ(cell(1, 1).rgb(), QColor(Qt::white).rgb()) << "a night without readings stays blank";
    EXPECT_LT(Luminance(cell(0, 1)), Luminance(cell(2, 1)));
    // The colour bar: the brightest sky on top.
    const QColor barTop(
        image.pixel(static_cast<int>(L.ColourBar.center().x()), static_cast<int>(L.ColourBar.top()) + 2));
    const QColor barBottom(
        image.pixel(static_cast<int>(L.ColourBar.center().x()), static_cast<int>(L.ColourBar.bottom()) - 2));
    EXPECT_GT(Luminance(barTop), Luminance(barBottom));
    EXPECT_GT(L.ColourBar.left(), L.Plot.right());

    WritePlot(At("hourglass.svg").string(), kSize, [&](QPainter& p, QSize s) { RenderHourglass(h, p, s); },
              HourglassTitle(h));
    EXPECT_LT(WorstBlockDifference(image, At("hourglass.svg")), 20);
    const TSvg svg = ParseSvg(At("hourglass.svg"));
    EXPECT_EQ(svg.Title, "Roof, sky brightness of 3 nights, 15 January to 17 January 2024");
    EXPECT_TRUE(svg.HasText(svg.Title));
    EXPECT_EQ(svg.Images, 1) << "the cells are one embedded image";
    for (const char* label : {"Jan 15", "Jan 16", "Jan 17", "00:00", "Local standard time (UTC+1)",
                              "Sky brightness (mag/arcsec\u00b2)"})
        EXPECT_TRUE(svg.HasText(label)) << label;
}

// --- From the database ---

namespace {

class PlotDatabaseTest : public readingstest::ReadingsFixture {
protected:
    void SetUp() override {
        ReadingsFixture::SetUp();
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_TIMEZONE) VALUES "
             "(1, 'Roof', 45.849, 11.569, 1)");
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_TIMEZONE) VALUES (2, 'Garden', 1)");
    }
    void Add(int site, double utc, double value, std::optional<double> offset = 0.0) {
        fb::Transaction t(db);
        t.Start();
        fb::Query q(t);
        q.SetSQL("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_STATE) "
                 "VALUES (:C, :S, :D, :V, :O, 0)");
        q.SetString("C", FormatKeyTime(utc) + std::to_string(site));
        q.SetInteger("S", site);
        q.SetDateTime("D", utc);
        q.SetDouble("V", value);
        if (offset)
            q.SetDouble("O", *offset);
        else
            q.SetNull("O");
        q.ExecSQL();
        t.Commit();
    }
};

double Utc(int y, int mo, int d, int h, int mi = 0) { return EncodeDateTime(y, mo, d, h, mi, 0); }

}  // namespace

TEST_F(PlotDatabaseTest, ANightRunsFromLocalNoonToNoonWithTheCorrectedValuesAndItsSitesAstronomy) {
    Add(1, Utc(2024, 1, 15, 10, 59), 10);           // 11:59 local: the night before
    Add(1, Utc(2024, 1, 15, 11, 0), 12, -0.25);     // local noon: the first
    Add(1, Utc(2024, 1, 15, 22, 0), 21.3, -0.2);
    Add(1, Utc(2024, 1, 15, 23, 0), 21.4, std::nullopt);  // no offset: no corrected value
    Add(1, Utc(2024, 1, 16, 11, 0), 13, 0.5);      // the next local noon: the last
    Add(1, Utc(2024, 1, 16, 11, 1), 14);           // the next night
    Add(2, Utc(2024, 1, 15, 22, 0), 19.0);         // another site

    const TNightPlotData d = LoadNightPlotData(db, 1, Day(2024, 1, 15));
    EXPECT_EQ(d.SiteName, "Roof");
    EXPECT_NEAR(d.LocalToUtc, -kHour, 1e-12);
    EXPECT_DOUBLE_EQ(d.From, Day(2024, 1, 15) + 0.5);
    EXPECT_DOUBLE_EQ(d.To, Day(2024, 1, 16) + 0.5);
    ASSERT_EQ(d.Readings.size(), 3u);
    EXPECT_NEAR(d.Readings[0].Local, Day(2024, 1, 15) + 12 * kHour, 1e-6);
    EXPECT_NEAR(d.Readings[0].Value, 11.75, 1e-9);
    EXPECT_NEAR(d.Readings[1].Local, Day(2024, 1, 15) + 23 * kHour, 1e-6);
    EXPECT_NEAR(d.Readings[1].Value, 21.1, 1e-9);
    EXPECT_NEAR(d.Readings[2].Local, Day(2024, 1, 16) + 12 * kHour, 1e-6);
    EXPECT_NEAR(d.Readings[2].Value, 13.5, 1e-9);
    ASSERT_TRUE(d.Astronomy);
    EXPECT_EQ(d.Astronomy->Twilights.size(), 2u);

    // Summer: two hours from UTC.
    Add(1, Utc(2024, 7, 15, 21, 0), 20.0);
    const TNightPlotData summer = LoadNightPlotData(db, 1, Day(2024, 7, 15));
    EXPECT_NEAR(summer.LocalToUtc, -2 * kHour, 1e-12);
    ASSERT_EQ(summer.Readings.size(), 1u);
    EXPECT_NEAR(summer.Readings[0].Local, Day(2024, 7, 15) + 23 * kHour, 1e-6);

    // A site without coordinates: its readings without astronomy.
    const TNightPlotData garden = LoadNightPlotData(db, 2, Day(2024, 1, 15));
    EXPECT_EQ(garden.Readings.size(), 1u);
    EXPECT_FALSE(garden.Astronomy);
    EXPECT_TRUE(LoadNightPlotData(db, 1, Day(2024, 1, 17)).Readings.empty());
    try {
        LoadNightPlotData(db, 7, Day(2024, 1, 15));
        ADD_FAILURE() << "site 7 does not exist";
    } catch (const ENoSuchSite& e) {
        EXPECT_STREQ(e.what(), "there is no site with id 7 in the database");
    }
    EXPECT_THROW(LoadHourglassData(db, 7, Day(2024, 1, 1), Day(2024, 1, 2)), ENoSuchSite);
}

TEST_F(PlotDatabaseTest, EachReadingGoesToTheNightItBelongsToInHoursFromMidnight) {
    Add(1, Utc(2024, 1, 15, 23, 30), 21.0);  // 00:30 local on the 16th: the night of the 15th
    Add(1, Utc(2024, 1, 16, 4, 0), 21.2);    // 05:00 local
    Add(1, Utc(2024, 1, 16, 19, 0), 20.0);   // 20:00 local: the night of the 16th
    const THourglassData h = LoadHourglassData(db, 1, Day(2024, 1, 15), Day(2024, 1, 17));
    ASSERT_EQ(h.Nights.size(), 3u);
    EXPECT_EQ(h.ReadingCount(), 3u);
    ASSERT_EQ(h.Nights[0].Readings.size(), 2u);
    EXPECT_NEAR(h.Nights[0].Readings[0].Local, 0.5, 1e-6);
    EXPECT_NEAR(h.Nights[0].Readings[1].Local, 5.0, 1e-6);
    EXPECT_NEAR(h.Nights[0].CellHours, 4.5, 1e-6);
    ASSERT_EQ(h.Nights[1].Readings.size(), 1u);
    EXPECT_NEAR(h.Nights[1].Readings[0].Local, -4.0, 1e-6);
    EXPECT_TRUE(h.Nights[2].Readings.empty());
    EXPECT_TRUE(h.HasTwilight);
    for (const auto& n : h.Nights) {
        // The same crossings as a night's plot, in hours from local midnight.
        const TNightAstronomy a = ComputeNightAstronomy(45.849, 11.569, n.NightDate + 0.5, n.NightDate + 1.5, -kHour);
        ASSERT_TRUE(n.DuskHours && n.DawnHours);
        EXPECT_NEAR(*n.DuskHours, (a.Twilights[0].Local - n.NightDate - 1) * 24, 1e-6);
        EXPECT_NEAR(*n.DawnHours, (a.Twilights[1].Local - n.NightDate - 1) * 24, 1e-6);
    }
    // Summer too counts in standard time: one clock for the whole picture.
    Add(1, Utc(2024, 7, 15, 22, 0), 20.0);  // 00:00 CEST, 23:00 CET
    const THourglassData summer = LoadHourglassData(db, 1, Day(2024, 7, 15), Day(2024, 7, 15));
    EXPECT_NEAR(summer.LocalToUtc, -kHour, 1e-12);
    ASSERT_EQ(summer.Nights.at(0).Readings.size(), 1u);
    EXPECT_NEAR(summer.Nights[0].Readings[0].Local, -1.0, 1e-6);
    EXPECT_FALSE(LoadHourglassData(db, 1, Day(2024, 1, 15), Day(2024, 1, 15), false).HasTwilight);
    EXPECT_FALSE(LoadHourglassData(db, 2, Day(2024, 1, 15), Day(2024, 1, 15)).HasTwilight);
}

// --- The station's picture of each finished night ---

TEST_F(PlotDatabaseTest, AFinishedNightIsDrawnOnceBesideItsNightFile) {
    SetProgramDir(dir.Str());
    for (int m = 0; m < 600; m += 10) Add(1, Utc(2024, 1, 15, 19) + m * kMinute, 21.0 + m / 1000.0);

    EXPECT_DOUBLE_EQ(LastEndedNight(Day(2024, 1, 16) + 11 * kHour + 59 * kMinute), Day(2024, 1, 14));
    EXPECT_DOUBLE_EQ(LastEndedNight(Day(2024, 1, 16) + 12 * kHour), Day(2024, 1, 15));

    const std::string path = NightPlotPath("Roof", Day(2024, 1, 15));
    EXPECT_EQ(path, (dir.Path() / "NightFiles" / "Roof" / "20240115_120000_Roof.png").string());
    // Beside the night file of a reading of that night.
    const fs::path dat = NightFilePath("Roof", Day(2024, 1, 16) + 3 * kHour);
    EXPECT_EQ(fs::path(path).parent_path(), dat.parent_path());
    EXPECT_EQ(fs::path(path).stem(), dat.stem());

    EXPECT_EQ(WriteNightPlotOnce(db, 1, Day(2024, 1, 15)), path);
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(path), "PNG"));
    EXPECT_EQ(image.size(), QSize(kNightPlotWidth, kNightPlotHeight));
    const std::string first = testsupport::ReadFile(path);

    // Once only: a picture already there is left as it is.
    Add(1, Utc(2024, 1, 16, 5), 20.0);
    EXPECT_EQ(WriteNightPlotOnce(db, 1, Day(2024, 1, 15)), "");
    EXPECT_EQ(testsupport::ReadFile(path), first);
    // A night without readings gets no picture.
    EXPECT_EQ(WriteNightPlotOnce(db, 1, Day(2024, 1, 17)), "");
    EXPECT_FALSE(fs::exists(NightPlotPath("Roof", Day(2024, 1, 17))));
}

namespace {

// A name too long for a file name: the picture lies beside its night file all the same.
TEST_F(PlotDatabaseTest, ASiteWithA255ByteNameGetsItsPictureBesideItsNightFile) {
    SetProgramDir(dir.Str());
    std::string name = "Osservatorio di ";
    while (name.size() + 2 <= 255) name += "\xc3\xa0";
    Exec("UPDATE SQMSITES SET SIT_NAME=" + QuotedStr(name) + " WHERE SIT_ID=1");
    for (int m = 0; m < 60; m += 10) Add(1, Utc(2024, 1, 15, 19) + m * kMinute, 21.0);
    const std::string path = WriteNightPlotOnce(db, 1, Day(2024, 1, 15));
    ASSERT_EQ(path, NightPlotPath(name, Day(2024, 1, 15)));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_LE(fs::path(path).filename().string().size(), 255u);
    const fs::path dat = NightFilePath(name, Day(2024, 1, 16) + 3 * kHour);
    EXPECT_EQ(fs::path(path).parent_path(), dat.parent_path());
    EXPECT_EQ(fs::path(path).stem(), dat.stem());
}

}  // namespace

namespace {

// One-minute readings of the dark hours of the night of 15 January 2024 at
// the roof (UTC+1), a smooth clear sky but where `churn` says a cloud passes.
void AddDarkNight(fb::Database& db, int night, const std::function<bool(double)>& churn) {
    fb::Transaction t(db);
    t.Start();
    fb::Query q(t);
    q.SetSQL("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH, "
             "REA_STATE) VALUES (:C, 1, :D, :V, 0, -40, -20, 0)");
    for (int minute = 0; minute <= 7 * 60; ++minute) {
        const double utc = Utc(2024, 1, night, 20) + minute / 1440.0;
        double v = 21.3 - 0.0005 * minute;
        if (churn(utc)) v -= minute % 2 ? 0.9 : 0.3;
        q.SetString("C", FormatKeyTime(utc) + "1");
        q.SetDateTime("D", utc);
        q.SetDouble("V", std::round(v * 100) / 100);
        q.ExecSQL();
    }
    t.Commit();
}

}  // namespace

TEST_F(PlotDatabaseTest, TheReadingsCalledCloudyAreABandBehindTheCurveAndAClearNightHasNone) {
    const double cloudFrom = Utc(2024, 1, 15, 23), cloudTo = Utc(2024, 1, 16, 0);
    AddDarkNight(db, 15, [&](double utc) { return utc >= cloudFrom && utc <= cloudTo; });
    AddDarkNight(db, 16, [](double) { return false; });

    const TNightPlotData cloudy = LoadNightPlotData(db, 1, Day(2024, 1, 15));
    ASSERT_EQ(cloudy.Cloudy.size(), 1u);
    // Local time is UTC+1; the band covers the cloud's readings, give or take a few minutes.
    EXPECT_NEAR(cloudy.Cloudy[0].From, cloudFrom + kHour, 6.0 / 1440);
    EXPECT_NEAR(cloudy.Cloudy[0].To, cloudTo + kHour, 6.0 / 1440);
    EXPECT_TRUE(LoadNightPlotData(db, 1, Day(2024, 1, 16)).Cloudy.empty());

    // Drawn: the band's hours differ from the same picture without it, the clear hours not.
    const QSize size(1200, 700);
    auto draw = [&](const TNightPlotData& d) {
        QImage image(size, QImage::Format_RGB32);
        QPainter p(&image);
        RenderNightPlot(d, p, size);
        return image;
    };
    TNightPlotData without = cloudy;
    without.Cloudy.clear();
    const QImage with = draw(cloudy), plain = draw(without);
    const TNightPlotLayout L = NightPlotLayout(cloudy, size);
    const int top = static_cast<int>(L.Plot.top()) + 3;
    const int inCloud = static_cast<int>(L.X(cloudFrom + kHour + 30.0 / 1440));
    const int clear = static_cast<int>(L.X(Utc(2024, 1, 16, 2) + kHour));
    EXPECT_NE(with.pixel(inCloud, top), plain.pixel(inCloud, top));
    EXPECT_EQ(with.pixel(clear, top), plain.pixel(clear, top));
}
