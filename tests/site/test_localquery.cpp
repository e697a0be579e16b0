// The reading lists, the local query, its statistics, export and deletion,
// on real database files.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "fbdb.h"
#include "localquery.h"
#include "myutils.h"
#include "testsupport.h"

namespace {

TFormatSettings Dotted() { return TFormatSettings{".", ",", "/", "UTF-8"}; }
double At(int y, int mo, int d, int h, int mi = 0, int s = 0) { return EncodeDateTime(y, mo, d, h, mi, s); }

class LocalQueryTest : public ::testing::Test {
protected:
    void SetUp() override {
        db.SetFile(testsupport::CopyPristineDb(dir.Path()));
        db.Open();
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (1, 'Roof')");
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (2, 'Garden')");
        tr.Start();
    }
    void TearDown() override {
        if (tr.Active()) tr.Rollback();
        db.Close();
    }
    void Exec(const std::string& sql) {
        fb::Transaction t(db);
        t.Start();
        fb::Query q(t);
        q.SetSQL(sql);
        q.ExecSQL();
        t.Commit();
    }
    // One reading at a UTC time, value and offset; its key is unique per time and site.
    void Add(int site, double when, double value, double offset = 0, int state = 0, int uploaded = 0, double temp = 12.5) {
        fb::Transaction t(db);
        t.Start();
        fb::Query q(t);
        q.SetSQL(
            "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
            "REA_STATE, REA_UPLOADED) VALUES (:C, :S, :D, :V, :O, :T, :ST, :U)");
        q.SetString("C", FormatKeyTime(when) + std::to_string(site));
        q.SetInteger("S", site);
        q.SetDateTime("D", when);
        q.SetDouble("V", value);
        q.SetDouble("O", offset);
        q.SetDouble("T", temp);
        q.SetInteger("ST", state);
        q.SetInteger("U", uploaded);
        q.ExecSQL();
        t.Commit();
    }
    std::vector<double> Times(const std::vector<TReadingRow>& rows) {
        std::vector<double> t;
        for (const auto& r : rows) t.push_back(r.DateTime);
        return t;
    }
    TStatistics Stats(double nightDate) { return ReadStatistics(db, 1, NightWindow(nightDate)); }

    testsupport::TempDir dir;
    fb::Database db;
    fb::Transaction tr{db};
};

TEST(ReadingRowTest, CorrectedValueAndNelmUseTheOffsetOfTheReading) {
    TReadingRow r;
    r.Value = 21.50;
    r.Offset = -0.20;
    ASSERT_TRUE(r.Corrected());
    EXPECT_NEAR(*r.Corrected(), 21.30, 1e-9);
    EXPECT_EQ(FormatNumber(*r.Corrected(), 2, Dotted()), "21.30");
    EXPECT_EQ(FormatNumber(*r.Nelm(), 2, Dotted()), "6.28");
    r.Offset.reset();
    EXPECT_FALSE(r.Corrected());
    EXPECT_FALSE(r.Nelm());
    EXPECT_EQ(FlagText(1), "Yes");
    EXPECT_EQ(FlagText(0), "No");
    EXPECT_EQ(StateText(-1), "Daytime");
    EXPECT_EQ(StateText(0), "");
    EXPECT_EQ(StateText(std::nullopt), "");
}

TEST(ReadingFormatTest, NumbersGroupThousandsAndRoundWithTheLocaleSeparators) {
    const TFormatSettings comma{",", ".", ".", "UTF-8"};
    EXPECT_EQ(FormatNumber(1234567.125, 2, Dotted()), "1,234,567.13");
    EXPECT_EQ(FormatNumber(1234567.125, 2, comma), "1.234.567,13");
    EXPECT_EQ(FormatNumber(-0.004, 2, Dotted()), "0.00");
    EXPECT_EQ(FormatNumber(-3.5, 1, Dotted()), "-3.5");
    EXPECT_EQ(FormatNumber(999.999, 2, Dotted()), "1,000.00");
    EXPECT_EQ(FormatDateTimeText(At(2011, 3, 9, 7, 5, 3), comma), "09.03.2011 07.05.03");
    EXPECT_EQ(FormatDateText(At(2011, 3, 9, 7), Dotted()), "09/03/2011");
}

TEST(ReadingFormatTest, TheUserLocaleGivesItsSeparatorsAndCharacterSet) {
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "it_IT.UTF-8", 1);
    const TFormatSettings it = UserFormatSettings();
    if (saved) setenv("LC_ALL", keep.c_str(), 1); else unsetenv("LC_ALL");
    EXPECT_EQ(it.DecimalSeparator, ",");
    EXPECT_EQ(it.ThousandSeparator, ".");
    EXPECT_EQ(it.DateSeparator, "/");
    EXPECT_EQ(it.Codeset, "UTF-8");
    // A single-byte set keeps what it has and marks what it lacks.
    EXPECT_EQ(ToCodeset("Temp. \xC2\xB0" "C \xE2\x82\xAC", "ISO-8859-1"), "Temp. \xB0" "C ?");
}

TEST_F(LocalQueryTest, LatestReadingsAreTheNewestOfTheSiteNewestFirst) {
    for (int i = 0; i < 15; ++i) Add(1, At(2020, 5, 1, 20, i), 20 + i * 0.1, -0.2, i == 3 ? -1 : 0, i % 2);
    Add(2, At(2020, 5, 2, 20), 19);
    const auto rows = ReadLatestReadings(tr, 1, 10);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows.front().DateTime, At(2020, 5, 1, 20, 14));
    EXPECT_EQ(rows.back().DateTime, At(2020, 5, 1, 20, 5));
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i - 1].DateTime, rows[i].DateTime);
    EXPECT_EQ(rows.front().Uploaded, 0);
    EXPECT_EQ(rows[1].Uploaded, 1);
    EXPECT_NEAR(*rows.front().Corrected(), 20 + 1.4 - 0.2, 1e-9);
    EXPECT_EQ(ReadLatestReadings(tr, 1, 1000).size(), 15u);
    EXPECT_EQ(ReadLatestReadings(tr, 1, 1000)[11].State, -1);
    EXPECT_TRUE(ReadLatestReadings(tr, 1, 0).empty());
}

TEST(NightTest, ANightRunsFromNoonToNoonAndMidnightKeepsItsDate) {
    const double d = EncodeDate(2011, 3, 11);
    EXPECT_EQ(NightDateOf(d + EncodeTime(11, 59, 0)), d - 1);
    EXPECT_EQ(NightDateOf(d + EncodeTime(12, 0, 0)), d);
    EXPECT_EQ(NightDateOf(d), d);
    EXPECT_EQ(NightDateOf(d + EncodeTime(0, 0, 1)), d - 1);
    EXPECT_EQ(NightDateOf(d + EncodeTime(23, 59, 59)), d);
    const TQueryWindow w = NightWindow(d + 0.7);
    EXPECT_EQ(w.Start, d + 0.5);
    EXPECT_EQ(w.Stop, d + 1.5);
    EXPECT_EQ(RealTimeNightTitle(d, Dotted()), "Real time SQM graph of the night 11/03/2011");
}

TEST_F(LocalQueryTest, TheRealTimeNightIncludesBothNoonsInOrder) {
    const double d = EncodeDate(2011, 3, 11);
    Add(1, At(2011, 3, 11, 11, 59, 59), 10);
    Add(1, At(2011, 3, 12, 12, 0, 0), 12);
    Add(1, At(2011, 3, 11, 12, 0, 0), 11);
    Add(1, At(2011, 3, 12, 12, 0, 1), 13);
    Add(2, At(2011, 3, 11, 22, 0, 0), 14);
    const auto rows = ReadNightReadings(tr, 1, d);
    EXPECT_EQ(Times(rows), (std::vector<double>{At(2011, 3, 11, 12), At(2011, 3, 12, 12)}));
}

TEST_F(LocalQueryTest, OneNightOfElevenMarchCoversNoonToNoonInEitherOrder) {
    TQuerySelection s;
    s.Kind = TSelectionKind::OneNight;
    s.DateStart = EncodeDate(2011, 3, 11) + 0.3;  // a time part in the picker is ignored
    const TQueryWindow w = QueryWindowOf(s);
    EXPECT_EQ(QueryCondition(w),
              "WHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN '11.03.2011 12.00.00' AND '12.03.2011 12.00.00'");
    EXPECT_EQ(LocalQuerySQL(w, TSortOrder::Ascending),
              "select * from READINGS \nWHERE REA_SITE=:SIT_ID AND REA_DATETIME BETWEEN '11.03.2011 12.00.00' AND "
              "'12.03.2011 12.00.00'\nORDER BY REA_DATETIME");
    EXPECT_EQ(QueryChartTitle(s, Dotted()), "SQM Graph of the night: 11/03/2011");

    Add(1, At(2011, 3, 11, 11, 59, 59), 20);
    Add(1, At(2011, 3, 11, 12), 20.5, 0, -1);
    Add(1, At(2011, 3, 11, 23, 30), 21);
    Add(1, At(2011, 3, 12, 12), 21.5);
    Add(1, At(2011, 3, 12, 12, 0, 1), 22);
    Add(2, At(2011, 3, 11, 23), 19);
    const auto asc = RunLocalQuery(tr, 1, w, TSortOrder::Ascending);
    EXPECT_EQ(Times(asc), (std::vector<double>{At(2011, 3, 11, 12), At(2011, 3, 11, 23, 30), At(2011, 3, 12, 12)}));
    EXPECT_EQ(asc.front().State, -1);  // daylight readings are part of it
    const auto desc = RunLocalQuery(tr, 1, w, TSortOrder::Descending);
    EXPECT_EQ(Times(desc), (std::vector<double>{At(2011, 3, 12, 12), At(2011, 3, 11, 23, 30), At(2011, 3, 11, 12)}));
}

TEST_F(LocalQueryTest, AnIntervalJoinsEachDateWithItsTimeAndTitlesTwoLines) {
    TQuerySelection s;
    s.Kind = TSelectionKind::DateInterval;
    s.DateStart = EncodeDate(2011, 3, 1);
    s.TimeStart = EncodeTime(18, 30, 0) + 4;  // a date part in the time picker is ignored
    s.DateEnd = EncodeDate(2011, 3, 3);
    s.TimeEnd = EncodeTime(6, 15, 10);
    const TQueryWindow w = QueryWindowOf(s);
    EXPECT_EQ(w.Start, At(2011, 3, 1, 18, 30));
    EXPECT_NEAR(w.Stop, At(2011, 3, 3, 6, 15, 10), 1e-9);
    EXPECT_EQ(QueryChartTitle(s, Dotted()), "SQM Graph 01/03/2011\nFrom 01/03/2011 18.30.00 to 03/03/2011 06.15.10");
    Add(1, At(2011, 3, 1, 18, 29), 20);
    Add(1, At(2011, 3, 2, 3), 21);
    Add(1, At(2011, 3, 3, 6, 15, 10), 21);
    EXPECT_EQ(RunLocalQuery(tr, 1, w, TSortOrder::Ascending).size(), 2u);
}

TEST_F(LocalQueryTest, StatisticsOfFourAndFiveReadings) {
    const double night = EncodeDate(2011, 3, 11);
    const double values[] = {20.0, 21.5, 20.5, 21.0};
    for (int i = 0; i < 4; ++i) Add(1, At(2011, 3, 11, 20 + i), values[i] + 0.1, -0.1);
    auto t = StatisticsTexts(Stats(night), Dotted());
    EXPECT_EQ(t, (std::array<std::string, 6>{"4", "20.75", "0.65", "20.75", "21.50", "20.00"}));

    const double night2 = EncodeDate(2011, 4, 1);
    for (int i = 0; i < 5; ++i) Add(1, At(2011, 4, 1, 20 + i), 22.0 - i);
    t = StatisticsTexts(Stats(night2), Dotted());
    EXPECT_EQ(t, (std::array<std::string, 6>{"5", "20.00", "1.58", "20.00", "22.00", "18.00"}));
}

TEST_F(LocalQueryTest, TheQueryAndItsStatisticsTogetherGiveWhatEachGivesAlone) {
    for (int i = 0; i < 7; ++i) Add(1, At(2011, 3, 11, 18 + i), 18.0 + i * 0.5, -0.1);
    const TQueryWindow w = NightWindow(EncodeDate(2011, 3, 11));
    const TQueryResult r = RunQueryWithStatistics(tr, 1, w, TSortOrder::Descending);
    EXPECT_EQ(Times(r.Rows), Times(RunLocalQuery(tr, 1, w, TSortOrder::Descending)));
    EXPECT_EQ(StatisticsTexts(r.Statistics, Dotted()), StatisticsTexts(ReadStatistics(db, 1, w), Dotted()));
    EXPECT_EQ(r.Statistics.Count, 7);
    // A failing query still waits for the statistics and reports its error.
    fb::Database unattached(db.File());
    fb::Transaction none(unattached);
    EXPECT_THROW(RunQueryWithStatistics(none, 1, w, TSortOrder::Ascending), fb::Error);
}

TEST_F(LocalQueryTest, StatisticsOfOneReadingAndOfAnEmptyNight) {
    Add(1, At(2011, 3, 11, 22), 21.25, -0.05);
    EXPECT_EQ(StatisticsTexts(Stats(EncodeDate(2011, 3, 11)), Dotted()),
              (std::array<std::string, 6>{"1", "21.20", "---", "21.20", "---", "---"}));
    EXPECT_EQ(StatisticsTexts(Stats(EncodeDate(2011, 3, 12)), Dotted()),
              (std::array<std::string, 6>{"0", "---", "---", "---", "---", "---"}));
}

TEST_F(LocalQueryTest, ExtremesFollowTheStoredValueNotTheCorrectedOne) {
    // Stored 20.0 with offset +1.0 (corrected 21.0) and stored 20.5 with
    // offset -1.0 (corrected 19.5): the smallest stored value comes first.
    Add(1, At(2011, 3, 11, 21), 20.0, 1.0);
    Add(1, At(2011, 3, 11, 22), 20.5, -1.0);
    Add(1, At(2011, 3, 11, 23), 20.2, 0.0);
    const TStatistics s = Stats(EncodeDate(2011, 3, 11));
    EXPECT_EQ(s.Count, 3);
    EXPECT_NEAR(*s.Minimum, 21.0, 1e-9);
    EXPECT_NEAR(*s.Maximum, 19.5, 1e-9);
    EXPECT_NEAR(*s.Median, 20.2, 1e-9);
    EXPECT_NEAR(*s.Average, (21.0 + 19.5 + 20.2) / 3, 1e-9);
}

TEST_F(LocalQueryTest, ExportListsTheRowsInTheQueryOrderWithCrLfAndTheLocaleSeparators) {
    EXPECT_EQ(ExportRefusal(false, 0), "The query is not yet started");
    EXPECT_EQ(ExportRefusal(true, 0), "The query is empty: nothing to export");
    EXPECT_EQ(ExportRefusal(true, 3), "");
    Add(1, At(2011, 3, 11, 21, 5, 7), 21.5, -0.2, 0, 0, 1234.5);
    Add(1, At(2011, 3, 11, 22), 20.0, 0.0, 0, 0, -3.25);
    const auto rows = RunLocalQuery(tr, 1, NightWindow(EncodeDate(2011, 3, 11)), TSortOrder::Descending);
    const TFormatSettings comma{",", ".", ".", "UTF-8"};
    EXPECT_EQ(ExportText(rows, comma),
              "Reading date;SQM Value;SQM Offset;NELM;Sensor Temp\r\n"
              "11.03.2011 22.00.00;20,00;0,00;5,49;-3,25\r\n"
              "11.03.2011 21.05.07;21,50;-0,20;6,28;1.234,50\r\n");
    const std::string file = (dir.Path() / "night.txt").string();
    ExportReadings(file, rows, comma);
    EXPECT_EQ(testsupport::ReadFile(file), ExportText(rows, comma));
    EXPECT_THROW(ExportReadings((dir.Path() / "missing" / "x.txt").string(), rows, comma), std::runtime_error);
}

TEST_F(LocalQueryTest, DeletingOneOrAllReadingsCommitsAndLeavesTheRestAlone) {
    for (int i = 0; i < 5; ++i) Add(1, At(2011, 3, 11, 20 + i), 20 + i);
    Add(1, At(2011, 3, 13, 20), 19);
    Add(2, At(2011, 3, 11, 21), 19);
    const TQueryWindow w = NightWindow(EncodeDate(2011, 3, 11));
    auto rows = RunLocalQuery(tr, 1, w, TSortOrder::Ascending);
    ASSERT_EQ(rows.size(), 5u);
    DeleteReading(tr, rows[2].Code);
    // Committed: another attachment's transaction sees it gone.
    {
        fb::Database other(db.File());
        other.Open();
        fb::Transaction t(other);
        t.Start();
        EXPECT_EQ(RunLocalQuery(t, 1, w, TSortOrder::Ascending).size(), 4u);
        t.Commit();
    }
    rows = RunLocalQuery(tr, 1, w, TSortOrder::Ascending);
    std::vector<std::string> codes;
    for (const auto& r : rows) codes.push_back(r.Code);
    size_t reported = 0;
    DeleteReadings(tr, codes, [&](size_t n) { reported = n; });
    EXPECT_TRUE(RunLocalQuery(tr, 1, w, TSortOrder::Ascending).empty());
    EXPECT_EQ(ReadLatestReadings(tr, 1, 10).size(), 1u);
    EXPECT_EQ(ReadLatestReadings(tr, 2, 10).size(), 1u);
    EXPECT_EQ(reported, 0u);  // too few rows to report progress
    EXPECT_EQ(DeleteAllQuestion(4), "Were selected 4 readings.\rDeletion can not be undone!\rProceed?");
    EXPECT_EQ(DeleteOneQuestion(), "Delete the reading?\rATTENTION: Deletion can not be undone!");
}

}  // namespace
