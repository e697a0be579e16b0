// kalosqm-cli nights: the real program as a child process on a copy of the
// delivered database, with 23 real nights imported through kalosqm-cli
// import (tests/data/nights, ODbL 1.0: see its README) and nights made in
// the engine for the trend.
#include <gtest/gtest.h>

#include <filesystem>

#include "programs/cli/cli_test_support.h"

namespace {

using namespace clitest;
namespace fs = std::filesystem;

// Each night as summarised, checked against a second implementation of the
// estimator written apart and by eye from the readings (what the eye sees
// beside each line).
const char* const kRealNightsJson =
    "[\n"
    "{\"night\":\"2019-04-18\",\"readings\":0,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-data\"},\n"
    "{\"night\":\"2019-04-19\",\"readings\":113,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"  // Moon full: up all night
    "{\"night\":\"2019-04-20\",\"readings\":110,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"  // Moon up all night
    "{\"night\":\"2019-04-21\",\"readings\":109,\"dark_readings\":3,\"clear_dark_readings\":0,\"clear_fraction\":0.000,\"sky_brightness\":null,\"darkest\":null,\"class\":\"cloudy\"},\n"  // three dark readings alone between Moon and dawn: unknown, not clear
    "{\"night\":\"2019-04-22\",\"readings\":109,\"dark_readings\":17,\"clear_dark_readings\":9,\"clear_fraction\":0.529,\"sky_brightness\":19.970,\"darkest\":20.07,\"class\":\"partly\"},\n"  // a bright sky (20.0) after moonset, jumps of 0.2 to 0.3
    "{\"night\":\"2019-04-23\",\"readings\":109,\"dark_readings\":29,\"clear_dark_readings\":24,\"clear_fraction\":0.828,\"sky_brightness\":20.035,\"darkest\":20.43,\"class\":\"partly\"},\n"  // mostly smooth after moonset, a few jumps
    "{\"night\":\"2019-04-24\",\"readings\":106,\"dark_readings\":39,\"clear_dark_readings\":19,\"clear_fraction\":0.487,\"sky_brightness\":21.180,\"darkest\":21.50,\"class\":\"partly\"},\n"  // cloud coming and going to the last hour, then clear to 21.5
    "{\"night\":\"2019-04-25\",\"readings\":107,\"dark_readings\":48,\"clear_dark_readings\":33,\"clear_fraction\":0.688,\"sky_brightness\":20.180,\"darkest\":20.51,\"class\":\"partly\"},\n"  // smooth stretches between cloud, sky lit (20.2)
    "{\"night\":\"2019-04-26\",\"readings\":106,\"dark_readings\":53,\"clear_dark_readings\":25,\"clear_fraction\":0.472,\"sky_brightness\":20.160,\"darkest\":20.84,\"class\":\"partly\"},\n"  // smooth first half, churning second half
    "{\"night\":\"2019-04-27\",\"readings\":0,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-data\"},\n"
    "{\"night\":\"2019-04-28\",\"readings\":103,\"dark_readings\":51,\"clear_dark_readings\":45,\"clear_fraction\":0.882,\"sky_brightness\":20.330,\"darkest\":21.50,\"class\":\"partly\"},\n"  // clear at 21.4 two hours, then a steady 20.2: overcast by eye, called clear
    "{\"night\":\"2019-04-29\",\"readings\":108,\"dark_readings\":49,\"clear_dark_readings\":31,\"clear_fraction\":0.633,\"sky_brightness\":19.810,\"darkest\":20.19,\"class\":\"partly\"},\n"  // bright sky 19.3 to 20.2, jumping
    "{\"night\":\"2019-04-30\",\"readings\":101,\"dark_readings\":47,\"clear_dark_readings\":47,\"clear_fraction\":1.000,\"sky_brightness\":21.130,\"darkest\":21.59,\"class\":\"clear\"},\n"  // clear all night, darkening slowly from 20.7 to 21.6
    "{\"night\":\"2019-05-01\",\"readings\":102,\"dark_readings\":47,\"clear_dark_readings\":35,\"clear_fraction\":0.745,\"sky_brightness\":20.470,\"darkest\":20.98,\"class\":\"partly\"},\n"  // cloud at first and at the end, a smooth 20.4 between
    "{\"night\":\"2019-05-02\",\"readings\":100,\"dark_readings\":45,\"clear_dark_readings\":21,\"clear_fraction\":0.467,\"sky_brightness\":21.570,\"darkest\":21.61,\"class\":\"partly\"},\n"  // clear 21.6 to midnight but one cloud, then churning overcast
    "{\"night\":\"2019-05-03\",\"readings\":99,\"dark_readings\":43,\"clear_dark_readings\":41,\"clear_fraction\":0.953,\"sky_brightness\":21.480,\"darkest\":21.60,\"class\":\"clear\"},\n"  // clear, 20.7 then 21.6 after a short cloud
    "{\"night\":\"2019-05-04\",\"readings\":99,\"dark_readings\":41,\"clear_dark_readings\":41,\"clear_fraction\":1.000,\"sky_brightness\":21.430,\"darkest\":21.45,\"class\":\"clear\"},\n"  // clear, steady
    "{\"night\":\"2019-05-05\",\"readings\":98,\"dark_readings\":40,\"clear_dark_readings\":40,\"clear_fraction\":1.000,\"sky_brightness\":21.070,\"darkest\":21.18,\"class\":\"clear\"},\n"  // clear, steady
    "{\"night\":\"2019-05-06\",\"readings\":97,\"dark_readings\":39,\"clear_dark_readings\":27,\"clear_fraction\":0.692,\"sky_brightness\":20.340,\"darkest\":20.59,\"class\":\"partly\"},\n"  // hazy 20.0 to 20.6, a cloud in the middle
    "{\"night\":\"2019-05-07\",\"readings\":99,\"dark_readings\":35,\"clear_dark_readings\":34,\"clear_fraction\":0.971,\"sky_brightness\":20.290,\"darkest\":20.47,\"class\":\"clear\"},\n"  // a steady 20.3 for hours: haze or overcast by eye, called clear
    "{\"night\":\"2019-05-08\",\"readings\":95,\"dark_readings\":21,\"clear_dark_readings\":10,\"clear_fraction\":0.476,\"sky_brightness\":21.345,\"darkest\":21.54,\"class\":\"partly\"},\n"  // cloud at first, clear after
    "{\"night\":\"2019-05-09\",\"readings\":95,\"dark_readings\":9,\"clear_dark_readings\":9,\"clear_fraction\":1.000,\"sky_brightness\":21.350,\"darkest\":21.47,\"class\":\"clear\"},\n"  // short dark time, smooth
    "{\"night\":\"2019-05-10\",\"readings\":95,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"  // the Sun stays above -18 degrees
    "{\"night\":\"2019-05-11\",\"readings\":94,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"  // the Sun stays above -18 degrees
    "{\"night\":\"2019-05-12\",\"readings\":93,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-dark-time\"},\n"  // the Sun stays above -18 degrees
    "{\"night\":\"2019-05-13\",\"readings\":0,\"dark_readings\":0,\"clear_dark_readings\":0,\"clear_fraction\":null,\"sky_brightness\":null,\"darkest\":null,\"class\":\"no-data\"}\n"
    "]\n";

class NightsCli : public CliDbTest {
protected:
    void SetUp() override {
        ExecOn(file, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_ALT) VALUES "
                      "(1, 'Cloughleafin', 52.2533, -8.3605, 80)",
                      "INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (2, 'Garden')"});
    }
    void ImportRealNights() {
        std::vector<std::string> args{"import"};
        for (const auto& e : fs::directory_iterator(KALO_NIGHTS_DIR))
            if (e.path().extension() == ".dat") args.push_back(e.path().string());
        ASSERT_EQ(args.size(), 24u);
        args.insert(args.end(), {"--site", "1", "--db", file});
        const CliResult r = Run(args);
        ASSERT_EQ(r.code, 0) << r.all();
    }
    CliResult Nights(std::vector<std::string> args) {
        args.insert(args.begin(), {"nights", "--db", file});
        return Run(args);
    }
    // Clear nights every ten days from 2020-01-05, each a steady sky of
    // 21.0 mag/arcsec^2 brightening by 0.1 a year, written in the engine.
    void AddBrighteningNights(int site, int nights) {
        ExecOn(file, {"EXECUTE BLOCK AS DECLARE N INTEGER = 0; DECLARE I INTEGER; DECLARE T DATE; BEGIN "
                      "WHILE (N < " + std::to_string(nights) + ") DO BEGIN I = 0; "
                      "WHILE (I < 48) DO BEGIN "
                      "T = CAST('05.01.2020 22:00:00' AS DATE) + N * 10 + I / 288.0; "
                      "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                      "REA_SUNH, REA_MOONH, REA_STATE) VALUES ('b' || :N || '-' || :I, " + std::to_string(site) +
                      ", :T, 21.0 - 0.1 * :N * 10 / 365.25, 0, -40, -20, 0); I = I + 1; END N = N + 1; END END"});
    }
};

TEST_F(NightsCli, TheRealNightsImportedGiveTheSummariesCheckedByHand) {
    ImportRealNights();
    const CliResult r = Nights({"--site", "1", "--from", "2019-04-18", "--to", "2019-05-13", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, kRealNightsJson);
    // Kept: one row per night from the first reading's to the last's.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTSUMMARIES WHERE NSU_SITE=1"), 24);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTMARKS"), 0);
    // Asked again, and after the same files imported again: the same.
    EXPECT_EQ(Nights({"--site", "1", "--from", "2019-04-18", "--to", "2019-05-13", "--json"}).out, kRealNightsJson);
    // (the same values: nothing a summary reads changes, nothing is marked)
    ImportRealNights();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTMARKS"), 0);
    EXPECT_EQ(Nights({"--site", "1", "--from", "2019-04-18", "--to", "2019-05-13", "--json"}).out, kRealNightsJson);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTMARKS"), 0);
}

TEST_F(NightsCli, MonthsYearsCsvAndTheTableSayTheSame) {
    ImportRealNights();
    CliResult r = Nights({"--site", "1", "--from", "2019-04-01", "--to", "2019-05-31", "--by", "month", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n"
              "{\"month\":\"2019-04\",\"nights\":11,\"clear_nights\":1,\"sky_brightness\":21.130,\"darkest\":21.59},\n"
              "{\"month\":\"2019-05\",\"nights\":12,\"clear_nights\":5,\"sky_brightness\":21.350,\"darkest\":21.61}\n"
              "]\n");
    r = Nights({"--site", "1", "--from", "2019-01-01", "--to", "2019-12-31", "--by", "year", "--csv"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "year,nights,clear_nights,sky_brightness,darkest\n2019,23,6,21.240,21.61\n");
    r = Nights({"--site", "1", "--from", "2019-04-30", "--to", "2019-05-01", "--csv"});
    EXPECT_EQ(r.out,
              "night,readings,dark_readings,clear_dark_readings,clear_fraction,sky_brightness,darkest,class\n"
              "2019-04-30,101,47,47,1.000,21.130,21.59,clear\n"
              "2019-05-01,102,47,35,0.745,20.470,20.98,partly\n");
    r = Nights({"--site", "1", "--from", "2019-04-30", "--to", "2019-05-01"});
    EXPECT_EQ(r.out,
              "Night\tReadings\tDark\tClear dark\tClear fraction\tSky brightness\tDarkest\tClass\n"
              "2019-04-30\t101\t47\t47\t1.000\t21.13\t21.59\tclear\n"
              "2019-05-01\t102\t47\t35\t0.745\t20.47\t20.98\tpartly clear\n");
}

TEST_F(NightsCli, ATrendOfTheseFewNightsIsRefusedSayingWhy) {
    ImportRealNights();
    const CliResult r = Nights({"--site", "1", "--from", "2019-04-18", "--to", "2019-05-13", "--trend", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "kalosqm-cli: nights: A trend needs at least 30 clear nights; there are 6.\n");
}

TEST_F(NightsCli, TheTrendOfYearsOfClearNightsIsOneObject) {
    AddBrighteningNights(2, 45);
    CliResult r = Nights({"--site", "2", "--from", "2020-01-01", "--to", "2021-12-31", "--trend", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "{\"slope_mag_per_year\":-0.1000,\"low\":-0.1000,\"high\":-0.1000,\"percent_per_year\":9.65,"
                     "\"nights\":45,\"from\":\"2020-01-05\",\"to\":\"2021-03-20\"}\n");
    r = Nights({"--site", "2", "--from", "2020-01-01", "--to", "2021-12-31", "--trend", "--csv"});
    EXPECT_EQ(r.out, "slope_mag_per_year,low,high,percent_per_year,nights,from,to\n"
                     "-0.1000,-0.1000,-0.1000,9.65,45,2020-01-05,2021-03-20\n");
    r = Nights({"--site", "2", "--from", "2020-01-01", "--to", "2021-12-31", "--trend"});
    EXPECT_EQ(r.out, "Trend of the clear nights' sky brightness: -0.100 mag/arcsec² per year (95 %: -0.100 to -0.100), "
                     "brightness +9.6 % per year, from 45 clear nights between 2020-01-05 and 2021-03-20.\n");
    // Under a year of them.
    r = Nights({"--site", "2", "--from", "2020-01-01", "--to", "2020-12-01", "--trend", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kalosqm-cli: nights: A trend needs clear nights over at least one year; these span 330 days.\n");
}

TEST_F(NightsCli, BadRequestsAreRefusedClearly) {
    struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{"--site", "1", "--from", "2019-05-02", "--to", "2019-05-01"}, 2,
         "--to 2019-05-01 comes before --from 2019-05-02"},
        {{"--site", "1", "--from", "2019-05-01", "--to", "2019-05-02", "--json", "--csv"}, 2,
         "--json and --csv exclude each other"},
        {{"--site", "1", "--from", "2019-02-30", "--to", "2019-05-02"}, 2, "2019-02-30"},
        {{"--site", "1", "--from", "2019-05-01", "--to", "2019-05-02", "--by", "week"}, 2, "week"},
        {{"--site", "9", "--from", "2019-05-01", "--to", "2019-05-02"}, 1, "9"},
    };
    for (const auto& c : cases) {
        const CliResult r = Nights(c.args);
        EXPECT_EQ(r.code, c.code) << r.all();
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    }
    // A site without readings: no-data nights, nothing kept.
    const CliResult r = Nights({"--site", "2", "--from", "2019-05-01", "--to", "2019-05-02", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(Has(r.out, "\"night\":\"2019-05-02\",\"readings\":0")) << r.out;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NIGHTSUMMARIES"), 0);
}

TEST_F(NightsCli, AValueNoMeterGivesIsLeftOut) {
    AddBrighteningNights(2, 1);
    const std::string before = Nights({"--site", "2", "--from", "2020-01-05", "--to", "2020-01-05", "--json"}).out;
    ExecOn(file, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, "
                  "REA_MOONH) VALUES ('huge', 2, '2020-01-05 23:01:00', 1e308, 0, -40, -20)"});
    const CliResult r = Nights({"--site", "2", "--from", "2020-01-05", "--to", "2020-01-05", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, before);
}

}  // namespace
