// kalosqm-cli plot: the real program as a child process on a copy of the
// delivered database with readings put in by SQL statements; its pictures
// read back as PNG images and parsed as SVG documents.
#include "programs/cli/cli_test_support.h"
#include "support/site_test_support.h"

namespace {

using namespace sitetest;
using servicetest::ExecOn;

// The station's zone for every run: the plots use the site's local time.
const std::vector<std::string> kRome = {"TZ=Europe/Rome"};

class PlotCli : public clitest::CliDbTest {
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
    clitest::CliResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = kRome) {
        return cli.Run(args, env);
    }
    std::string Out(const std::string& name) const { return (dir.Path() / name).string(); }
    clitest::CliResult Night(const std::string& output, int site = 1, const std::string& db = "") {
        return Run({"plot", "night", "--db", db.empty() ? file : db, "--site", std::to_string(site), "--night",
                    "2024-01-15", "-o", output});
    }
    std::vector<std::string> Hourglass(const std::string& from, const std::string& to, const std::string& output,
                                       const std::string& db = "") {
        return {"plot", "hourglass", "--db", db.empty() ? file : db, "--site", "1", "--from", from, "--to", to,
                "-o", output};
    }
};

TEST_F(PlotCli, UsageErrorsAndOtherExtensionsThanPngOrSvgExitTwoAndWriteNothing) {
    AddReadings(1, "2024-01-15 18:00", 10, 30);
    const clitest::CliResult help = Run({"plot", "night", "--help"});
    EXPECT_EQ(help.code, 0) << help.err;
    for (const char* word : {".png", ".svg"}) EXPECT_NE(help.out.find(word), std::string::npos) << help.out;

    const std::string png = Out("x.png");
    const char* const kFormats = "a plot is written as .png or .svg, by the file's extension";
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
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
        {Hourglass("2024-01-20", "2024-01-10", png), "--to 2024-01-10 comes before --from 2024-01-20"},
        // Refused before the database is opened: there is none here.
        {Hourglass("2024-01-01", "2024-01-02", Out("x.gif"), Out("none.fdb")), kFormats},
    };
    for (const char* name : {"night.jpg", "night", "night.pdf"})
        cases.push_back({{"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o", Out(name)},
                         kFormats});
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(args.back());
        const clitest::CliResult r = Run(args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << says << "\n" << r.err;
    }
    for (const char* name : {"x.png", "x.gif", "night.jpg", "night", "night.pdf"})
        EXPECT_FALSE(std::filesystem::exists(Out(name))) << name;
}

TEST_F(PlotCli, AnEmptyNightOrAMissingSiteOrDatabaseIsAFailureWithoutAPicture) {
    AddReadings(1, "2024-01-16 18:00", 10, 30);  // the next night only
    const struct {
        clitest::CliResult r;
        std::string output, says;
    } cases[] = {
        {Night(Out("empty.png")), Out("empty.png"), "no readings of site 1 in the night of 2024-01-15"},
        {Night(Out("missing.png"), 9), Out("missing.png"), "there is no site with id 9 in the database"},
        {Run(Hourglass("2024-01-10", "2024-01-15", Out("empty.svg"))), Out("empty.svg"),
         "no readings of site 1 in the nights from 2024-01-10 to 2024-01-15"},
        {Night(Out("n.png"), 1, Out("none.fdb")), Out("n.png"), "there is no local database at"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.r.code, 1) << c.r.err;
        EXPECT_NE(c.r.err.find(c.says), std::string::npos) << c.r.err;
        EXPECT_FALSE(std::filesystem::exists(c.output)) << c.output;
    }
}

TEST_F(PlotCli, ANightIsWrittenAsPngAndSvgWithoutADisplayWithTheReasonWhenItsSiteHasNoCoordinates) {
    // 16:00 to 07:00 UTC, every ten minutes: 91 readings of the night of the 15th.
    AddReadings(1, "2024-01-15 16:00", 10, 91);
    AddReadings(1, "2024-01-16 12:00", 10, 3);  // after the next local noon: not this night
    AddReadings(2, "2024-01-15 18:00", 10, 40, 19.5);
    // No display and no platform named: the program chooses the offscreen one itself.
    std::vector<std::string> env = kRome;
    env.insert(env.end(), {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"});

    clitest::CliResult r = Run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o",
                                Out("n.png"), "--width", "900", "--height", "600"},
                               env);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("the night of 2024-01-15 at site 1 (91 readings)"), std::string::npos) << r.out;
    const QImage image = LoadPng(Out("n.png"));
    EXPECT_EQ(image.size(), QSize(900, 600));
    EXPECT_GT(DistinctColours(image), 20u);

    r = Run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "--output", Out("n.SVG")}, env);
    ASSERT_EQ(r.code, 0) << r.err;
    const TSvg svg = ParseSvg(Out("n.SVG"));
    EXPECT_EQ(svg.Title, "Roof, night of 15/16 January 2024");
    EXPECT_TRUE(svg.HasText(svg.Title));
    EXPECT_EQ(svg.LinesOf(91), 1) << "one line, every reading";
    // Asiago's astronomical night that date, in local time (UTC+1).
    EXPECT_TRUE(svg.HasText("dusk 18:4")) << "dusk near 18:41";
    EXPECT_TRUE(svg.HasText("dawn 06:0")) << "dawn near 06:05";
    EXPECT_TRUE(svg.HasText("Local time (UTC+1), hours"));
    EXPECT_TRUE(svg.HasText("Moon: waxing crescent"));

    r = Night(Out("garden.svg"), 2);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("the site has no coordinates"), std::string::npos) << r.out;
    const TSvg garden = ParseSvg(Out("garden.svg"));
    EXPECT_EQ(garden.LinesOf(40), 1);
    EXPECT_TRUE(garden.HasText("The site has no coordinates: twilight and Moon cannot be shown."));
    EXPECT_FALSE(garden.HasText("dusk "));
}

TEST_F(PlotCli, AValueNoMeterCanGiveIsLeftOutOfTheNightAndTheHourglassWithANoteAndNothingHangs) {
    AddReadings(1, "2024-01-15 16:00", 10, 91);
    // Stored by an older version, a network import or a hand edit.
    ExecOn(file, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
                  "REA_STATE) VALUES ('huge', 1, '2024-01-15 22:05:00', 1E308, 0, -1E308, 0)"});
    // Today's picture took a second; one that does not come in a minute hangs.
    auto run = [&](const std::vector<std::string>& args) { return cli.Run(args, kRome, std::chrono::seconds(60)); };
    clitest::CliResult r = run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o",
                                Out("n.svg")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("(91 readings)"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "plot: 1 reading with a value no meter can give left out\n");
    TSvg svg = ParseSvg(Out("n.svg"));
    EXPECT_EQ(svg.LinesOf(91), 1) << "one line, every reading a meter can give";
    EXPECT_TRUE(svg.HasText("1 left out: a value no meter can give"));
    r = run({"plot", "night", "--db", file, "--site", "1", "--night", "2024-01-15", "-o", Out("n.png")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_GT(DistinctColours(LoadPng(Out("n.png"))), 20u);

    r = run(Hourglass("2024-01-14", "2024-01-16", Out("h.svg")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("(91 readings)"), std::string::npos) << r.out;
    svg = ParseSvg(Out("h.svg"));
    EXPECT_TRUE(svg.HasText("1 left out: a value no meter can give"));
    for (const char* bar : {"16.0", "22.0"}) EXPECT_FALSE(svg.HasText(std::string(bar) + "e+")) << bar;
    r = run(Hourglass("2024-01-14", "2024-01-16", Out("h.png")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_GT(DistinctColours(LoadPng(Out("h.png"))), 20u);
}

TEST_F(PlotCli, TheHourglassHasAColumnForEveryNightOfThePeriod) {
    AddReadings(1, "2024-01-10 17:00", 15, 56);
    AddReadings(1, "2024-01-11 17:00", 15, 56, 20.5);
    AddReadings(1, "2024-01-13 17:00", 15, 56, 19.0);
    clitest::CliResult r = Run(Hourglass("2024-01-10", "2024-01-14", Out("h.png")));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("5 nights from 2024-01-10 to 2024-01-14 at site 1 (168 readings)"), std::string::npos)
        << r.out;
    const QImage image = LoadPng(Out("h.png"));
    EXPECT_EQ(image.size(), QSize(1200, 700));
    EXPECT_GT(DistinctColours(image), 20u);

    std::vector<std::string> args = Hourglass("2024-01-10", "2024-01-14", Out("h.svg"));
    args.push_back("--no-twilight");
    ASSERT_EQ(Run(args).code, 0);
    const TSvg svg = ParseSvg(Out("h.svg"));
    EXPECT_EQ(svg.Title, "Roof, sky brightness of 5 nights, 10 January to 14 January 2024");
    for (const char* label : {"Jan 10", "Jan 12", "Jan 14", "00:00", "Local standard time (UTC+1)"})
        EXPECT_TRUE(svg.HasText(label)) << label;
    EXPECT_FALSE(svg.HasText("Sun at \u221218\u00b0")) << "no twilight curves asked for";
}

}  // namespace
