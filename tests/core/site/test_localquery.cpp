// The reading lists, the local query, its statistics and deletion on real
// database files. The rows, statistics and export as a user gets them are
// checked through kalosqm-cli readings and export.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/site/localquery.h"
#include "support/readings_test_support.h"

namespace {

using readingstest::ReadingsFixture;

TFormatSettings Dotted() { return TFormatSettings{".", ",", "/", "UTF-8"}; }
double At(int y, int mo, int d, int h, int mi = 0, int s = 0) { return EncodeDateTime(y, mo, d, h, mi, s); }

class LocalQueryTest : public ReadingsFixture {
protected:
    void SetUp() override {
        ReadingsFixture::SetUp();
        AddSite(1);
        AddSite(2);
        tr.Start();
    }
    void TearDown() override {
        if (tr.Active()) tr.Rollback();
    }
    // One reading at a UTC time, value and offset; its key is unique per time and site.
    void Add(int site, double when, double value, double offset = 0, int state = 0, int uploaded = 0) {
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
             "REA_STATE, REA_UPLOADED) VALUES ('" + FormatKeyTime(when) + std::to_string(site) + "', " +
             std::to_string(site) + ", '" + FormatSqlDateTime(when) + "', " + std::to_string(value) + ", " +
             std::to_string(offset) + ", 12.5, " + std::to_string(state) + ", " + std::to_string(uploaded) + ")");
    }
    static std::vector<double> Times(const std::vector<TReadingRow>& rows) {
        std::vector<double> t;
        for (const auto& r : rows) t.push_back(r.DateTime);
        return t;
    }

    fb::Transaction tr{db};
};

TEST(ReadingTextTest, TheCorrectionNeedsAnOffsetAndNumbersRoundWithTheLocaleSeparators) {
    TReadingRow r;
    r.Value = 21.50;
    r.Offset = -0.20;
    ASSERT_TRUE(r.Corrected());
    EXPECT_NEAR(*r.Corrected(), 21.30, 1e-9);
    r.Offset.reset();
    EXPECT_FALSE(r.Corrected());
    EXPECT_FALSE(r.Nelm());
    EXPECT_EQ(StateText(std::nullopt), "");

    const TFormatSettings comma{",", ".", ".", "UTF-8"};
    EXPECT_EQ(FormatNumber(1234567.125, 2, Dotted()), "1,234,567.13");
    EXPECT_EQ(FormatNumber(1234567.125, 2, comma), "1.234.567,13");
    EXPECT_EQ(FormatNumber(-0.004, 2, Dotted()), "0.00");
    EXPECT_EQ(FormatNumber(-3.5, 1, Dotted()), "-3.5");
    EXPECT_EQ(FormatNumber(999.999, 2, Dotted()), "1,000.00");

    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "it_IT.UTF-8", 1);
    const TFormatSettings it = UserFormatSettings();
    if (saved) setenv("LC_ALL", keep.c_str(), 1); else unsetenv("LC_ALL");
    EXPECT_EQ(it.Codeset, "UTF-8");
    // A single-byte set keeps what it has and marks what it lacks.
    EXPECT_EQ(ToCodeset("Temp. \xC2\xB0" "C \xE2\x82\xAC", "ISO-8859-1"), "Temp. \xB0" "C ?");
}

TEST(ReadingTextTest, AWindowsDatesFollowItsLanguagesPatternsAndFilesKeepTheirFixedForm) {
    const double morning = At(2026, 12, 10, 6, 31, 10), evening = At(2011, 3, 1, 20, 5, 9);
    // The files' form, whatever the separator.
    EXPECT_EQ(FormatDateTimeText(morning, Dotted()), "10/12/2026 06.31.10");
    EXPECT_EQ(FormatDateText(evening, TFormatSettings{",", ".", ".", "UTF-8"}), "01.03.2011");

    TFormatSettings de{",", ".", ".", "UTF-8", "dd.MM.yy", "HH:mm:ss"};
    EXPECT_EQ(FormatDateTimeText(morning, de), "10.12.26 06:31:10");
    TFormatSettings en{".", ",", "/", "UTF-8", "M/d/yy", "h:mm:ss AP"};
    EXPECT_EQ(FormatDateTimeText(morning, en), "12/10/26 6:31:10 AM");
    EXPECT_EQ(FormatDateTimeText(evening, en), "3/1/11 8:05:09 PM");
    EXPECT_EQ(FormatDateTimeText(At(2011, 3, 1, 0, 0, 0), en), "3/1/11 12:00:00 AM");
    // Month names where the language writes them; quoted text as it is.
    TFormatSettings c{".", ",", " ", "UTF-8", "d MMM yyyy", "HH'h'mm"};
    EXPECT_EQ(FormatDateText(evening, c), "1 03 2011") << "without names, the month's number";
    c.MonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    EXPECT_EQ(FormatDateTimeText(evening, c), "1 Mar 2011 20h05");
    EXPECT_EQ(FormatDateText(evening, TFormatSettings{".", ",", "/", "UTF-8", "yyyy-MM-dd ''d''"}), "2011-03-01 '1'");
}

TEST(ReadingTextTest, ArgumentsGoInOnceEachInTheTranslationsOrder) {
    EXPECT_EQ(Filled("%2 before %1", {"a", "b"}), "b before a");
    EXPECT_EQ(Filled("%1 and %1, 100%", {"%2"}), "%2 and %2, 100%") << "an argument is never read again";
    EXPECT_EQ(Filled("%3 %", {"a"}), "%3 %");
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
    const auto all = ReadLatestReadings(tr, 1, 1000);
    ASSERT_EQ(all.size(), 15u);
    EXPECT_EQ(all[11].State, -1);
    EXPECT_TRUE(ReadLatestReadings(tr, 1, 0).empty());
}

TEST_F(LocalQueryTest, TheRealTimeNightRunsFromNoonToNoonBothIncludedAndMidnightKeepsItsDate) {
    const double d = EncodeDate(2011, 3, 11);
    EXPECT_EQ(NightDateOf(d + EncodeTime(11, 59, 0)), d - 1);
    EXPECT_EQ(NightDateOf(d + EncodeTime(12, 0, 0)), d);
    EXPECT_EQ(NightDateOf(d), d);
    EXPECT_EQ(NightDateOf(d + EncodeTime(0, 0, 1)), d - 1);
    EXPECT_EQ(NightDateOf(d + EncodeTime(23, 59, 59)), d);
    EXPECT_EQ(RealTimeNightTitle(d, Dotted()), "Real time SQM graph of the night 11/03/2011");

    Add(1, At(2011, 3, 11, 11, 59, 59), 10);
    Add(1, At(2011, 3, 12, 12, 0, 0), 12);
    Add(1, At(2011, 3, 11, 12, 0, 0), 11);
    Add(1, At(2011, 3, 12, 12, 0, 1), 13);
    Add(2, At(2011, 3, 11, 22, 0, 0), 14);
    EXPECT_EQ(Times(ReadNightReadings(tr, 1, d)), (std::vector<double>{At(2011, 3, 11, 12), At(2011, 3, 12, 12)}));
}

TEST(QuerySelectionTest, ANightOrAnIntervalGivesItsWindowAndChartTitle) {
    TQuerySelection s;
    s.Kind = TSelectionKind::OneNight;
    s.DateStart = EncodeDate(2011, 3, 11) + 0.3;  // a time part in the picker is ignored
    TQueryWindow w = QueryWindowOf(s);
    EXPECT_EQ(w.Start, At(2011, 3, 11, 12));
    EXPECT_EQ(w.Stop, At(2011, 3, 12, 12));
    EXPECT_EQ(QueryChartTitle(s, Dotted()), "SQM Graph of the night: 11/03/2011");

    s.Kind = TSelectionKind::DateInterval;
    s.DateStart = EncodeDate(2011, 3, 1);
    s.TimeStart = EncodeTime(18, 30, 0) + 4;  // a date part in the time picker is ignored
    s.DateEnd = EncodeDate(2011, 3, 3);
    s.TimeEnd = EncodeTime(6, 15, 10);
    w = QueryWindowOf(s);
    EXPECT_EQ(w.Start, At(2011, 3, 1, 18, 30));
    EXPECT_NEAR(w.Stop, At(2011, 3, 3, 6, 15, 10), 1e-9);
    EXPECT_EQ(QueryChartTitle(s, Dotted()), "SQM Graph 01/03/2011\nFrom 01/03/2011 18.30.00 to 03/03/2011 06.15.10");
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
    // The export button before a query, or after an empty one.
    EXPECT_EQ(ExportRefusal(false, 0), "The query is not yet started");
    EXPECT_EQ(ExportRefusal(true, 0), "The query is empty: nothing to export");
    EXPECT_EQ(ExportRefusal(true, 3), "");
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
