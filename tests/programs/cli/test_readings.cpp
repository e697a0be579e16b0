// kalosqm-cli readings and export: the real program as a child process on
// a copy of the delivered database.
#include <gtest/gtest.h>

#include "programs/cli/cli_test_support.h"

namespace {

using namespace clitest;

double At(int y, int mo, int d, int h, int mi = 0, int s = 0) { return EncodeDateTime(y, mo, d, h, mi, s); }

// The comma-decimal locale the build compiles for the tests.
const std::vector<std::string> kItalian = {"LOCPATH=" KALO_TEST_LOCALES, "LC_ALL=it_IT.UTF-8"};
const char* const kHeader = "UTC time\tSQM Value\tNELM\tSensor temp.\tUploaded\tSyncronized\tState";

class ReadingsCli : public CliDbTest {
protected:
    void SetUp() override {
        ExecOn(file, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (1, 'Roof')",
                      "INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (2, 'Garden')"});
    }
    struct Reading {
        double when;
        double value;
        double offset = 0;
        std::optional<double> temp = 12.5;
        int state = 0;
        int uploaded = 0;
        int syncro = 0;
        int site = 1;
    };
    void Add(const std::vector<Reading>& readings) {
        std::vector<std::string> sql;
        for (const Reading& r : readings)
            sql.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                          "REA_SQMTEMP, REA_STATE, REA_UPLOADED, REA_SYNCRO) VALUES ('" + FormatKeyTime(r.when) +
                          std::to_string(r.site) + "', " + std::to_string(r.site) + ", '" + FormatSqlDateTime(r.when) +
                          "', " + std::to_string(r.value) + ", " + std::to_string(r.offset) + ", " +
                          (r.temp ? std::to_string(*r.temp) : "NULL") + ", " + std::to_string(r.state) + ", " +
                          std::to_string(r.uploaded) + ", " + std::to_string(r.syncro) + ")");
        ExecOn(file, sql);
    }
    // readings of site 1 on this database with more arguments.
    CliResult Readings(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), {"readings", "--db", file, "--site", "1"});
        return Run(args, env);
    }
    // The statistics lines of an output: what follows the empty line.
    static std::vector<std::string> StatisticsOf(const std::string& text) {
        const auto lines = Lines(text);
        const auto gap = std::find(lines.begin(), lines.end(), "");
        return gap == lines.end() ? std::vector<std::string>{} : std::vector<std::string>(gap + 1, lines.end());
    }
    static std::vector<std::string> Statistics(const std::string& n, const std::string& avg, const std::string& dev,
                                               const std::string& median, const std::string& max,
                                               const std::string& min) {
        return {"Number of readings: " + n, "Average: " + avg,  "Standard deviation: " + dev,
                "Median: " + median,        "Maximim: " + max,  "Minimum: " + min};
    }
};

TEST_F(ReadingsCli, UsageErrorsExitTwoAndAnUnknownSiteOrDatabaseOne) {
    // readings of site 1 on this database and more.
    auto site1 = [&](std::vector<std::string> more) {
        more.insert(more.begin(), {"readings", "--db", file, "--site", "1"});
        return more;
    };
    const std::pair<std::vector<std::string>, const char*> usage[] = {
        {{"readings", "--db", file, "--night", "2024-03-11"}, "--site is required"},
        {site1({"--night", "2024-03-11", "--from", "2024-03-11", "--to", "2024-03-12"}), "excludes"},
        {site1({"--from", "2024-03-11"}), "requires --to"},
        {site1({"--to", "2024-03-11"}), "requires --from"},
        {site1({}), "choose the readings with --night DATE or --from T --to T"},
        {site1({"--night", "2021-02-29"}), "'2021-02-29' is not a date YYYY-MM-DD"},
        {site1({"--from", "2024-03-11 25:00", "--to", "2024-03-12"}), "'2024-03-11 25:00' is not a time"},
        {site1({"--from", "2024-03-12 06:00", "--to", "2024-03-12 05:59:59"}),
         "--to 2024-03-12 05:59:59 is before --from 2024-03-12 06:00"},
        {{"readings", "--db", file, "--site", "0", "--night", "2024-03-11"}, "--site"},
        {{"readings", "--db", file, "--site", "one", "--night", "2024-03-11"}, "--site"},
        {site1({"--night", "2024-03-11", "--bogus"}), "--bogus"},
        {{"export", "--db", file, "--site", "1", "--night", "2024-03-11"}, "--output is required"},
        {{"--dir", (dir.Path() / "nowhere").string(), "readings", "--site", "1", "--night", "2024-03-11"}, "--dir"},
    };
    for (const auto& [args, message] : usage) {
        const CliResult r = Run(args);
        EXPECT_EQ(r.code, 2) << message << "\n" << r.all();
        EXPECT_TRUE(Has(r.err, message)) << r.err;
        EXPECT_EQ(r.out, "") << message;
    }

    CliResult r = Run({"readings", "--db", file, "--site", "9", "--night", "2024-03-11"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no site with ID 9 in " + file)) << r.err;
    r = Run({"export", "--db", file, "--site", "9", "--night", "2024-03-11", "-o", (dir.Path() / "x.txt").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no site with ID 9")) << r.err;
    const std::string missing = (dir.Path() / "none.fdb").string();
    r = Run({"readings", "--db", missing, "--site", "1", "--night", "2024-03-11"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no local database at " + missing)) << r.err;
}

TEST_F(ReadingsCli, StatisticsAreThoseOfTheQueryPage) {
    // Corrected 20.00, 21.50, 20.50, 21.00 with equal offsets.
    const double stored[] = {20.1, 21.6, 20.6, 21.1};
    std::vector<Reading> four;
    for (int i = 0; i < 4; ++i) four.push_back({At(2011, 3, 11, 20 + i), stored[i], -0.1});
    // 18 to 22.
    std::vector<Reading> five;
    for (int i = 0; i < 5; ++i) five.push_back({At(2011, 4, 1, 20, i), 22.0 - i});
    // Offsets that differ: the order is that of the stored value, so the
    // second stored value (corrected 22.10) is in the middle.
    const std::vector<Reading> uneven = {{At(2011, 5, 1, 20), 20.0}, {At(2011, 5, 1, 21), 20.1, 2.0},
                                         {At(2011, 5, 1, 22), 20.2}, {At(2011, 5, 1, 23), 20.3}};
    Add(four);
    Add(five);
    Add(uneven);
    Add({{At(2011, 6, 1, 22), 21.25, -0.05}});

    CliResult r = Readings({"--night", "2011-03-11", "--stats"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(StatisticsOf(r.out), Statistics("4", "20.75", "0.65", "20.75", "21.50", "20.00")) << r.out;
    EXPECT_EQ(Lines(r.out).size(), 1u + 4u + 1u + 6u) << r.out;
    r = Readings({"--night", "2011-04-01", "--stats"});
    EXPECT_EQ(StatisticsOf(r.out), Statistics("5", "20.00", "1.58", "20.00", "22.00", "18.00")) << r.out;
    r = Readings({"--night", "2011-05-01", "--stats"});
    EXPECT_EQ(StatisticsOf(r.out), Statistics("4", "20.65", "0.97", "21.15", "20.30", "20.00")) << r.out;
    // One reading: its value as average and median, the rest "---".
    r = Readings({"--night", "2011-06-01", "--stats"});
    EXPECT_EQ(StatisticsOf(r.out), Statistics("1", "21.20", "---", "21.20", "---", "---")) << r.out;
    // No reading: only the header, and 0.
    r = Readings({"--night", "2011-06-02", "--stats"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kHeader) + "\n\n" +
                         "Number of readings: 0\nAverage: ---\nStandard deviation: ---\nMedian: ---\nMaximim: ---\n"
                         "Minimum: ---\n");
    // Without --stats, no statistics.
    r = Readings({"--night", "2011-03-11"});
    EXPECT_TRUE(StatisticsOf(r.out).empty()) << r.out;
    // An interval over both March nights counts them together.
    r = Readings({"--from", "2011-03-11", "--to", "2011-04-02", "--stats"});
    EXPECT_EQ(StatisticsOf(r.out).at(0), "Number of readings: 9") << r.out;
}

TEST_F(ReadingsCli, AValueNoMeterCanGiveIsLeftOutOfTheRowsTheStatisticsAndTheExportWithANote) {
    Add({{At(2024, 3, 11, 21), 20.0}, {At(2024, 3, 11, 22), 21.0, 0, -3.5}, {At(2024, 3, 11, 23), 22.0}});
    // Stored by an older version, a network import or a hand edit.
    ExecOn(file, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
                  "REA_STATE, REA_UPLOADED, REA_SYNCRO) VALUES ('huge', 1, '2024-03-11 21:30:00', 1E308, 0, 12.5, 0, "
                  "0, 0)",
                  "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
                  "REA_STATE, REA_UPLOADED, REA_SYNCRO) VALUES ('cold', 1, '2024-03-11 22:30:00', 20.5, 0, -1E308, 0, "
                  "0, 0)",
                  "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
                  "REA_STATE, REA_UPLOADED, REA_SYNCRO) VALUES ('offset', 1, '2024-03-11 23:30:00', 21.5, -1E300, 1, "
                  "0, 0, 0)"});
    CliResult r = Readings({"--night", "2024-03-11", "--stats"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> rows = {
        "2024-03-11 21:00:00\t20.00\t5.49\t12.5\tNo\tNo\t",
        "2024-03-11 21:30:00\t\t\t12.5\tNo\tNo\t",
        "2024-03-11 22:00:00\t21.00\t6.12\t-3.5\tNo\tNo\t",
        "2024-03-11 22:30:00\t20.50\t5.82\t\tNo\tNo\t",
        "2024-03-11 23:00:00\t22.00\t6.62\t12.5\tNo\tNo\t",
        "2024-03-11 23:30:00\t\t\t1.0\tNo\tNo\t",
    };
    auto expected = std::vector<std::string>{kHeader};
    expected.insert(expected.end(), rows.begin(), rows.end());
    expected.push_back("");
    // The three values and 20.50: no 1e308 in the count, the sum or the extremes.
    for (const auto& line : Statistics("4", "20.88", "0.85", "20.75", "22.00", "20.00")) expected.push_back(line);
    EXPECT_EQ(Lines(r.out), expected) << r.out;
    EXPECT_EQ(r.err, "kalosqm-cli: readings: 3 readings with a value no meter can give left out\n");

    const std::string out = (dir.Path() / "night.txt").string();
    r = Run({"export", "--db", file, "--site", "1", "--night", "2024-03-11", "-o", out}, kItalian);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "kalosqm-cli: export: 3 readings with a value no meter can give left out\n");
    const std::string text = testsupport::ReadFile(out);
    EXPECT_EQ(Lines(text).size(), 7u) << text;
    EXPECT_LT(text.size(), 400u) << text;  // no number of 309 digits
    EXPECT_TRUE(Has(text, "11/03/2024 21.30.00;;;;12,50\r\n")) << text;
}

TEST_F(ReadingsCli, RowsFollowTheNightRuleAndTheOrderWhateverTheLocale) {
    Add({{At(2024, 3, 11, 11, 59), 19.0},                                    // the night before
         {At(2024, 3, 11, 12, 0), 21.5, -0.2, -3.5, -1, 1, 0},                // a daylight reading
         {At(2024, 3, 12, 0, 0), 20.0, 0, std::nullopt, 0, 0, 1},             // no temperature
         {At(2024, 3, 12, 11, 59), 1234.5, 0, 1234.56, 0, 1, 1},
         {At(2024, 3, 12, 12, 0, 1), 18.0},                                   // the next night
         {At(2024, 3, 11, 22, 0), 17.0, 0, 12.5, 0, 0, 0, 2}});               // another site
    const std::vector<std::string> rows = {
        "2024-03-11 12:00:00\t21.30\t6.28\t-3.5\tYes\tNo\tDaytime",
        "2024-03-12 00:00:00\t20.00\t5.49\t\tNo\tYes\t",
        "2024-03-12 11:59:00\t\t\t\tYes\tYes\t",  // 1234.5 and 1234.56: no meter gives them
    };
    CliResult r = Readings({"--night", "2024-03-11"}, kItalian);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{kHeader, rows[0], rows[1], rows[2]}));
    EXPECT_EQ(r.err, "kalosqm-cli: readings: 1 reading with a value no meter can give left out\n");
    r = Readings({"--night", "2024-03-11", "--desc"});
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{kHeader, rows[2], rows[1], rows[0]}));
    // 11:59 belongs to the night before; noon ends one night and begins the next, both ends included.
    r = Readings({"--night", "2024-03-10"});
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{kHeader, "2024-03-11 11:59:00\t19.00\t4.77\t12.5\tNo\tNo\t", rows[0]}));

    // An interval includes both ends, to the second; a date alone is its midnight.
    r = Readings({"--from", "2024-03-11 12:00:01", "--to", "2024-03-12 11:59"});
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{kHeader, rows[1], rows[2]}));
    r = Readings({"--from", "2024-03-11 12:00", "--to", "2024-03-12", "--desc"});
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{kHeader, rows[1], rows[0]}));

    // --dir names the program folder, and so the database in it, before or after the command.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--dir", dir.Str(), "readings", "--site", "1", "--night", "2024-03-10"},
          std::vector<std::string>{"readings", "--site", "1", "--night", "2024-03-10", "--dir", dir.Str()}}) {
        r = Run(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(Lines(r.out).size(), 3u) << r.out;
    }
}

TEST_F(ReadingsCli, TheExportIsTheWindowsFile) {
    Add({{At(2011, 3, 11, 21, 5, 7), 21.5, -0.2, 1234.5},
         {At(2011, 3, 11, 22), 20.0, 0.0, -3.25},
         {At(2011, 3, 12, 12, 0, 1), 18.0}});
    const std::string out = (dir.Path() / "night.txt").string();
    const std::string header = "Reading date;SQM Value;SQM Offset;NELM;Sensor Temp\r\n";
    const std::string first = "11/03/2011 21.05.07;21,50;-0,20;6,28;\r\n";  // no meter measures 1234.5 °C
    const std::string second = "11/03/2011 22.00.00;20,00;0,00;5,49;-3,25\r\n";
    // In the user's locale, as the window writes it.
    CliResult r = Run({"export", "--db", file, "--site", "1", "--night", "2011-03-11", "-o", out}, kItalian);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "2 readings written to " + out + "\n");
    EXPECT_EQ(r.err, "kalosqm-cli: export: 1 reading with a value no meter can give left out\n");
    EXPECT_EQ(testsupport::ReadFile(out), header + first + second);
    r = Run({"export", "--db", file, "--site", "1", "--night", "2011-03-11", "--desc", "-o", out}, kItalian);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(testsupport::ReadFile(out), header + second + first);

    // Nothing to export: refused, and no file.
    const std::string empty = (dir.Path() / "empty.txt").string();
    r = Run({"export", "--db", file, "--site", "1", "--night", "2011-03-13", "-o", empty});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "The query is empty: nothing to export")) << r.err;
    EXPECT_FALSE(fs::exists(empty));
    const std::string unwritable = (dir.Path() / "no-such-folder" / "x.txt").string();
    r = Run({"export", "--db", file, "--site", "1", "--night", "2011-03-11", "-o", unwritable});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "Can not write the file " + unwritable)) << r.err;
}

}  // namespace
