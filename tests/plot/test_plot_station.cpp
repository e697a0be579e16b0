// The station service draws each finished night beside its night file:
// kalosqm-station as a child process on a copied database, its meter
// simulated in this process, the night that ended at the last local noon
// put in by SQL statements.
#include "support/service_test_support.h"

#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "plot/nightplotfile.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace servicetest;

// The C library's own conversion of a local time of the zone in force.
double LocalToUtc(double local) {
    const DateTimeParts p = DecodeDateTime(local);
    struct tm t {};
    t.tm_year = p.year - 1900;
    t.tm_mon = p.month - 1;
    t.tm_mday = p.day;
    t.tm_hour = p.hour;
    t.tm_min = p.minute;
    t.tm_sec = p.second;
    t.tm_isdst = -1;
    return UnixToDateTime(static_cast<double>(mktime(&t)));
}

class NightPlotStation : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Europe/Rome", 1);  // the child inherits it
        tzset();
        sim.Start();
        f.AddSite(1, "Roof", sim.Port(), true);
    }
    // Readings of the night that ended at the last local noon, 20:00 to 04:00 local.
    int AddEndedNight() {
        const double night = LastEndedNight(NowLocal());
        nightName = FormatKeyTime(night).substr(0, 8);
        std::vector<std::string> sql;
        for (int i = 0; i <= 48; ++i) {
            const double utc = LocalToUtc(night + 20.0 / 24 + i * 10.0 / 1440);
            char v[16];
            std::snprintf(v, sizeof v, "%.2f", 21.0 + 0.01 * (i % 9));
            sql.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                          "REA_STATE) VALUES ('p" + std::to_string(i) + "', 1, '" + FormatSqlDateTime(utc) + "', " +
                          v + ", 0, 0)");
        }
        ExecOn(f.db, sql);
        return 49;
    }
    std::string PlotPath() const {
        return (f.dir.Path() / "NightFiles" / "Roof" / (nightName + "_120000_Roof.png")).string();
    }

    SqmSimulator sim;
    TStationFolder f;
    std::string nightName;
};

}  // namespace

TEST_F(NightPlotStation, TheLastNightIsDrawnOnceAndTheReadingsGoOn) {
    AddEndedNight();
    f.Start({"--data-supplier", "A. Rossi, Dark Sky Veneto"});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": night plot written to " + PlotPath(), 1, 30s)) << f.station.Err();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 2, 15s)) << f.station.Err();
    f.Stop(SIGTERM);
    // Tonight's file names who supplies the data and the program that took it.
    std::string nightFile;
    for (const auto& e : std::filesystem::directory_iterator(f.dir.Path() / "NightFiles" / "Roof"))
        if (e.path().extension() == ".dat") nightFile = testsupport::ReadFile(e.path());
    EXPECT_NE(nightFile.find("\r\n# Data supplier: A. Rossi, Dark Sky Veneto\r\n"), std::string::npos) << nightFile;
    EXPECT_NE(nightFile.find("KALO-SQM 1."), std::string::npos) << nightFile;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(PlotPath()), "PNG")) << PlotPath();
    EXPECT_EQ(image.size(), QSize(kNightPlotWidth, kNightPlotHeight));
    EXPECT_EQ(f.station.Count("night plot"), 1) << f.station.Err();

    // Started again: the picture is there already and stays as it was.
    const std::string before = testsupport::ReadFile(PlotPath());
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 2, 15s)) << f.station.Err();
    f.Stop(SIGTERM);
    EXPECT_EQ(f.station.Count("night plot"), 0) << f.station.Err();
    EXPECT_EQ(testsupport::ReadFile(PlotPath()), before);
}

TEST_F(NightPlotStation, APictureThatCannotBeWrittenIsLoggedAndTheReadingsGoOn) {
    AddEndedNight();
    // A file where the folder of the night files should be.
    { std::ofstream(f.dir.Path() / "NightFiles") << "in the way"; }
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": night plot failed: ", 1, 30s)) << f.station.Err();
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 3, 20s)) << f.station.Err();
    f.Stop(SIGTERM);
    EXPECT_EQ(f.station.Count("night plot failed"), 1) << "tried once per night";
    const std::string log = testsupport::ReadFile(f.dir.Path() / "LOGS" / "ERROR-LOG-SITE-Roof.TXT");
    EXPECT_NE(log.find(" - Night plot - "), std::string::npos) << log;
}

TEST_F(NightPlotStation, ANightWithoutReadingsGetsNoPicture) {
    f.Start({});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 2, 15s)) << f.station.Err();
    f.Stop(SIGTERM);
    EXPECT_EQ(f.station.Count("night plot"), 0) << f.station.Err();
    nightName = FormatKeyTime(LastEndedNight(NowLocal())).substr(0, 8);
    EXPECT_FALSE(std::filesystem::exists(PlotPath()));
}
