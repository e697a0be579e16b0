// kalosqm-cli plot: the real program as a child process on a copy of the
// delivered database with readings put in by SQL statements; its pictures
// read back as PNG images and parsed as SVG documents.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <cstdio>
#include <set>

#include "service_test_support.h"

namespace {

using namespace servicetest;

struct CliResult {
    int exitCode;
    std::string out, err;
};

// The station's zone for every run: the plots use the site's local time.
const std::vector<std::string> kRome = {"TZ=Europe/Rome"};

class PlotCli : public ::testing::Test {
protected:
    void SetUp() override {
        ExecOn(file, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_TIMEZONE) VALUES "
                      "(1, 'Roof', 45.849, 11.569, 1)",
                      "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_TIMEZONE) VALUES (2, 'Garden', 1)"});
    }
    // Readings every `minutes` from the UTC time `first` ("yyyy-mm-dd hh:mm"), `count` of them.
    void AddReadings(int site, const std::string& first, int minutes, int count, double value = 21.2) {
        std::vector<std::string> sql;
        for (int i = 0; i < count; ++i) {
            char v[32];
            std::snprintf(v, sizeof v, "%.2f", value + 0.1 * ((i % 7) - 3) / 3);
            sql.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                          "REA_STATE) VALUES ('" + std::to_string(site) + "-" + first + "-" + std::to_string(i) +
                          "', " + std::to_string(site) + ", DATEADD(" + std::to_string(i * minutes) +
                          " MINUTE TO CAST('" + first + ":00' AS DATE)), " + v + ", -0.1, 0)");
        }
        ExecOn(file, sql);
    }
    CliResult Run(std::vector<std::string> args, std::vector<std::string> env = kRome) {
        TChild cli;
        cli.Start(KALO_CLI_EXE, args, dir.Path() / ("cli-" + std::to_string(++runs) + ".txt"), env);
        const int code = cli.WaitExit(120s);
        return {code, cli.Out(), cli.Err()};
    }
    CliResult Night(const std::string& night, const std::string& output, std::vector<std::string> more = {},
                    int site = 1) {
        std::vector<std::string> args{"plot", "night", "--db", file, "--site", std::to_string(site), "--night", night,
                                      "-o", output};
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    }
    std::string Out(const std::string& name) const { return (dir.Path() / name).string(); }

    testsupport::TempDir dir;
    std::string file = testsupport::CopyPristineDb(dir.Path());
    int runs = 0;
};

struct TSvg {
    std::string Title;
    std::vector<std::string> Texts;
    std::vector<size_t> PolylinePoints;
};

TSvg ParseSvg(const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path;
    QXmlStreamReader xml(&f);
    TSvg svg;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QStringLiteral("title")) {
            svg.Title = xml.readElementText().toStdString();
        } else if (xml.name() == QStringLiteral("text")) {
            svg.Texts.push_back(xml.readElementText(QXmlStreamReader::IncludeChildElements).toStdString());
        } else if (xml.name() == QStringLiteral("polyline")) {
            svg.PolylinePoints.push_back(
                static_cast<size_t>(xml.attributes().value("points").toString().split(' ', Qt::SkipEmptyParts).size()));
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return svg;
}

bool HasText(const TSvg& svg, const std::string& part) {
    for (const auto& t : svg.Texts)
        if (t.find(part) != std::string::npos) return true;
    return false;
}

size_t DistinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    return colours.size();
}

}  // namespace

TEST_F(PlotCli, HelpNamesBothPlotsAndTheirOptions) {
    CliResult r = Run({"plot", "--help"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* word : {"night", "hourglass"}) EXPECT_NE(r.out.find(word), std::string::npos) << r.out;
    r = Run({"plot", "night", "--help"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* word : {"--night", "--site", "--output", "--width", "--height", "--db", ".png", ".svg"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word << "\n" << r.out;
    r = Run({"plot", "hourglass", "--help"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* word : {"--from", "--to", "--no-twilight"}) EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST_F(PlotCli, UsageErrorsExitTwoAndWriteNothing) {
    AddReadings(1, "2024-01-15 18:00", 10, 30);
    const std::string png = Out("x.png");
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"plot"}, "A subcommand is required"},
        {{"plot", "night", "--db", file, "--night", "2024-01-15", "-o", png}, "--site"},
        {{"plot", "night", "--db", file, "--site", "1", "-o", png}, "--night"},
        {{"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15"}, "--output"},
        {{"plot", "night", "--db", file, "--site", "1", "--night", "2024-02-30", "-o", png}, "2024-02-30"},
        {{"plot", "night", "--db", file, "--site", "0", "--night", "2024-01-15", "-o", png}, "--site"},
        {{"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o", png, "--width", "10"},
         "--width"},
        {{"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o", png, "--colour", "red"},
         "--colour"},
        {{"plot", "hourglass", "--db", file, "--site", "1", "--from", "2024-01-20", "--to", "2024-01-10", "-o", png},
         "--to 2024-01-10 comes before --from 2024-01-20"},
    };
    for (const auto& c : cases) {
        const CliResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.back() << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.says << "\n" << r.err;
        EXPECT_FALSE(std::filesystem::exists(png)) << c.says;
    }
}

TEST_F(PlotCli, AnExtensionOtherThanPngOrSvgIsAUsageErrorBeforeTheDatabaseIsOpened) {
    AddReadings(1, "2024-01-15 18:00", 10, 30);
    for (const char* name : {"night.jpg", "night", "night.pdf"}) {
        const CliResult r = Night("2024-01-15", Out(name));
        EXPECT_EQ(r.exitCode, 2) << name << "\n" << r.err;
        EXPECT_NE(r.err.find("a plot is written as .png or .svg, by the file's extension"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(Out(name)));
    }
    // A usage error even where there is no database.
    const CliResult r = Run({"plot", "hourglass", "--db", Out("none.fdb"), "--site", "1", "--from", "2024-01-01",
                             "--to", "2024-01-02", "-o", Out("x.gif")});
    EXPECT_EQ(r.exitCode, 2) << r.err;
}

TEST_F(PlotCli, AnEmptyNightOrAMissingSiteIsAFailureWithoutAPicture) {
    AddReadings(1, "2024-01-16 18:00", 10, 30);  // the next night only
    CliResult r = Night("2024-01-15", Out("empty.png"));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no readings of site 1 in the night of 2024-01-15"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Out("empty.png")));

    r = Night("2024-01-15", Out("missing.png"), {}, 9);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("there is no site with id 9 in the database"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Out("missing.png")));

    r = Run({"plot", "hourglass", "--db", file, "--site", "1", "--from", "2024-01-10", "--to", "2024-01-15", "-o",
             Out("empty.svg")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no readings of site 1 in the nights from 2024-01-10 to 2024-01-15"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(Out("empty.svg")));

    r = Run({"plot", "night", "--db", Out("none.fdb"), "--site", "1", "--night", "2024-01-15", "-o", Out("n.png")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("there is no local database at"), std::string::npos) << r.err;
}

TEST_F(PlotCli, ANightIsWrittenAsPngAndSvgWithoutADisplay) {
    // 16:00 to 07:00 UTC, every ten minutes: 91 readings of the night of the 15th.
    AddReadings(1, "2024-01-15 16:00", 10, 91);
    AddReadings(1, "2024-01-16 12:00", 10, 3);  // after the next local noon: not this night
    // No display and no platform named: the program chooses the offscreen one itself.
    std::vector<std::string> env = kRome;
    env.insert(env.end(), {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});

    CliResult r = Run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o", Out("n.png"),
                       "--width", "900", "--height", "600"},
                      env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("the night of 2024-01-15 at site 1 (91 readings)"), std::string::npos) << r.out;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(Out("n.png")), "PNG"));
    EXPECT_EQ(image.size(), QSize(900, 600));
    EXPECT_GT(DistinctColours(image), 20u);

    r = Run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "--output", Out("n.SVG")}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const TSvg svg = ParseSvg(Out("n.SVG"));
    EXPECT_EQ(svg.Title, "Roof, night of 15/16 January 2024");
    EXPECT_TRUE(HasText(svg, svg.Title));
    EXPECT_EQ(std::count(svg.PolylinePoints.begin(), svg.PolylinePoints.end(), 91u), 1) << "one line, every reading";
    // Asiago's astronomical night that date, in local time (UTC+1).
    EXPECT_TRUE(HasText(svg, "dusk 18:4")) << "dusk near 18:41";
    EXPECT_TRUE(HasText(svg, "dawn 06:0")) << "dawn near 06:05";
    EXPECT_TRUE(HasText(svg, "Local time (UTC+1), hours"));
    EXPECT_TRUE(HasText(svg, "Moon: waxing crescent"));
}

TEST_F(PlotCli, ASiteWithoutCoordinatesGetsItsReadingsAndTheReasonForNoTwilight) {
    AddReadings(2, "2024-01-15 18:00", 10, 40, 19.5);
    const CliResult r = Night("2024-01-15", Out("garden.svg"), {}, 2);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("the site has no coordinates"), std::string::npos) << r.out;
    const TSvg svg = ParseSvg(Out("garden.svg"));
    EXPECT_EQ(std::count(svg.PolylinePoints.begin(), svg.PolylinePoints.end(), 40u), 1);
    EXPECT_TRUE(HasText(svg, "The site has no coordinates: twilight and Moon cannot be shown."));
    EXPECT_FALSE(HasText(svg, "dusk "));
}

TEST_F(PlotCli, TheHourglassHasAColumnForEveryNightOfThePeriod) {
    AddReadings(1, "2024-01-10 17:00", 15, 56);
    AddReadings(1, "2024-01-11 17:00", 15, 56, 20.5);
    AddReadings(1, "2024-01-13 17:00", 15, 56, 19.0);
    CliResult r = Run({"plot", "hourglass", "--db", file, "--site", "1", "--from", "2024-01-10", "--to", "2024-01-14",
                       "-o", Out("h.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("5 nights from 2024-01-10 to 2024-01-14 at site 1 (168 readings)"), std::string::npos)
        << r.out;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(Out("h.png")), "PNG"));
    EXPECT_EQ(image.size(), QSize(1200, 700));
    EXPECT_GT(DistinctColours(image), 20u);

    r = Run({"plot", "hourglass", "--db", file, "--site", "1", "--from", "2024-01-10", "--to", "2024-01-14", "-o",
             Out("h.svg"), "--no-twilight"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const TSvg svg = ParseSvg(Out("h.svg"));
    EXPECT_EQ(svg.Title, "Roof, sky brightness of 5 nights, 10 January to 14 January 2024");
    for (const char* label : {"Jan 10", "Jan 12", "Jan 14", "00:00", "Local standard time (UTC+1)"})
        EXPECT_TRUE(HasText(svg, label)) << label;
    EXPECT_FALSE(HasText(svg, "Sun at \u221218\u00b0")) << "no twilight curves asked for";
}
