// Night summaries kept in a real database file: made once and kept, made
// again after anything changes a reading of their night (the meter, an
// import, the network page, a deletion), by the night's noon-to-noon window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/site/communityfile.h"
#include "core/site/localquery.h"
#include "core/site/netquery.h"
#include "core/site/nightmodel.h"
#include "core/site/nightsummaries.h"
#include "support/readings_test_support.h"
#include "core/station/schemaupgrade.h"

namespace {

using namespace nightmodel;
using readingstest::ReadingsFixture;

class NightSummariesTest : public ReadingsFixture {
protected:
    void SetUp() override {
        ReadingsFixture::SetUp();
        AddSite(1);
        AddSite(2);
    }
    // The readings of a model night stored as the meter stores them.
    std::vector<TModelReading> Store(int site, const TModelNight& n, double offset = 0) {
        const auto made = MakeNight(n);
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, "
                 "REA_MOONH, REA_STATE, REA_ORIGIN) VALUES (:CODE, :SITE, :T, :V, :OFFSET, :SUN, :MOON, 0, 'K')");
        for (const TModelReading& r : made) {
            q.SetString("CODE", FormatKeyTime(r.Reading.Time) + "-" + std::to_string(site));
            q.SetInteger("SITE", site);
            q.SetDateTime("T", r.Reading.Time);
            q.SetDouble("V", r.Reading.Value - offset);
            q.SetDouble("OFFSET", offset);
            q.SetDouble("SUN", *r.Reading.SunHeight);
            q.SetDouble("MOON", *r.Reading.MoonHeight);
            q.ExecSQL();
        }
        tr.Commit();
        return made;
    }
    static TModelNight Model(int y, int m, int d, std::vector<TCloudStretch> clouds = {}) {
        TModelNight n;
        n.Night = EncodeDate(y, m, d);
        n.IntervalMinutes = 5;
        n.Seed = d;
        n.Clouds = std::move(clouds);
        return n;
    }
    int64_t Kept(int site) { return Count("SELECT COUNT(*) FROM NIGHTSUMMARIES WHERE NSU_SITE=" + std::to_string(site)); }
    int64_t Marks(int site) { return Count("SELECT COUNT(*) FROM NIGHTMARKS WHERE NMK_SITE=" + std::to_string(site)); }
    // A kept summary changed behind the module's back: seen as it is while
    // nothing marks its night.
    void Tamper(int site, double night, double sky) {
        Exec("UPDATE NIGHTSUMMARIES SET NSU_SKY=" + std::to_string(sky) + " WHERE NSU_SITE=" + std::to_string(site) +
             " AND NSU_NIGHT=" + std::to_string(static_cast<int>(night)));
    }
};

// The dark readings are found by their index; a change of its expression or
// of the query's would read every reading of the nights without a word.
TEST_F(NightSummariesTest, TheDarkReadingsAreFetchedByTheirIndex) {
    fb::Transaction tr(db);
    tr.Start();
    const std::string plan = DarkReadingsPlan(tr);
    tr.Commit();
    EXPECT_NE(plan.find("IDX_READINGS_DARK"), std::string::npos) << plan;
}

TEST_F(NightSummariesTest, ANightIsSummarisedOnceAndKeptAndItsFiguresAreThoseOfItsReadings) {
    const TModelNight n = Model(2025, 1, 10);
    const auto made = Store(1, n, -0.11);
    const auto all = NightSummaries(db, 1, n.Night - 2, n.Night + 2);
    ASSERT_EQ(all.size(), 5u);
    const TNightSummary expected = SummariseReadings(n.Night, ReadingsOf(made));
    EXPECT_EQ(all[2], expected);
    EXPECT_EQ(all[2].Class(), TNightClass::Clear);
    // Values corrected by the offset stored with each reading.
    EXPECT_NEAR(*all[2].SkyBrightness, 21.3, 0.15);
    // Before the first reading and after the last: no-data, nothing kept.
    for (int i : {0, 1, 3, 4}) {
        EXPECT_EQ(all[i].Class(), TNightClass::NoData) << i;
        EXPECT_EQ(all[i].Night, n.Night - 2 + i);
    }
    EXPECT_EQ(Kept(1), 1);
    EXPECT_EQ(Marks(1), 0);

    Tamper(1, n.Night, 25);
    EXPECT_EQ(*SummariseNight(db, 1, n.Night).SkyBrightness, 25.0);
    // Another site's reading leaves this one kept.
    Store(2, n);
    EXPECT_EQ(*SummariseNight(db, 1, n.Night).SkyBrightness, 25.0);
}

TEST_F(NightSummariesTest, AReadingWrittenChangedOrDeletedInANightMakesItsSummaryAgain) {
    const TModelNight n = Model(2025, 1, 10);
    const auto made = Store(1, n);
    const TNightSummary first = SummariseNight(db, 1, n.Night);
    const std::string night = std::to_string(static_cast<int>(n.Night));

    // A new reading from the meter.
    Tamper(1, n.Night, 25);
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('late', 1, '2025-01-11 11:59:00', 9, 0, -2, 10)");
    TNightSummary s = SummariseNight(db, 1, n.Night);
    EXPECT_EQ(s.Readings, first.Readings + 1);
    EXPECT_EQ(s.SkyBrightness, first.SkyBrightness);
    EXPECT_EQ(Marks(1), 0);

    // A value changed, say by hand.
    Tamper(1, n.Night, 25);
    Exec("UPDATE READINGS SET REA_SQMVALUE=REA_SQMVALUE-3 WHERE REA_SITE=1 AND REA_SUNH < -18");
    s = SummariseNight(db, 1, n.Night);
    EXPECT_NEAR(*s.SkyBrightness, *first.SkyBrightness - 3, 1e-9);

    // The upload's marks change nothing a summary reads: it stays kept.
    Tamper(1, n.Night, 25);
    Exec("UPDATE READINGS SET REA_UPLOADED=1, REA_STATE=0 WHERE REA_SITE=1");
    EXPECT_EQ(Marks(1), 0);
    EXPECT_EQ(*SummariseNight(db, 1, n.Night).SkyBrightness, 25.0);

    // The query page deletes every dark reading.
    std::vector<std::string> codes;
    {
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT REA_CODE FROM READINGS WHERE REA_SITE=1 AND REA_SUNH < -18");
        for (q.Open(); !q.Eof(); q.Next()) codes.push_back(Trim(q.Fields(0).AsString()));
        q.Close();
        DeleteReadings(tr, codes);
    }
    s = SummariseNight(db, 1, n.Night);
    EXPECT_EQ(s.Readings, first.Readings + 1 - static_cast<int>(codes.size()));
    EXPECT_EQ(s.Class(), TNightClass::NoDarkTime);
    EXPECT_FALSE(s.SkyBrightness);

    // Every reading gone: no-data.
    Exec("DELETE FROM READINGS WHERE REA_SITE=1");
    EXPECT_EQ(SummariseNight(db, 1, n.Night).Class(), TNightClass::NoData);
}

TEST_F(NightSummariesTest, TheKeptFiguresAreThoseOfEveryReadingOfTheNightWhateverItsRows) {
    // Two nights with a cloud and every kind of awkward row: values no meter
    // gives (dark and not), readings without altitudes, one at noon shared
    // by both nights, two readings at the same dark time.
    TModelNight a = Model(2025, 1, 10), b = Model(2025, 1, 11);
    a.Clouds = {{At(a, 0), At(a, 1.5), TCloud::Thick}};
    b.Clouds = {{At(b, 1), At(b, 2.5), TCloud::Broken}};
    Store(1, a, -0.11);
    Store(1, b, -0.11);
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('huge', 1, '2025-01-10 23:01:00', 1e308, 0, -40, -20)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('sum0', 1, '2025-01-10 23:03:00', 0.11, -0.11, -40, -20)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('day', 1, '2025-01-10 14:00:00', -3, 0, 20, 10)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SUNH) "
         "VALUES ('nomoon', 1, '2025-01-11 00:02:00', 21.2, -40)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET) "
         "VALUES ('noalt', 1, '2025-01-11 00:07:00', 21.2, 0)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('noon', 1, '2025-01-11 12:00:00', 5, 0, 20, 10)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('twin1', 1, '2025-01-12 03:30:30', 21.9, -0.11, -45, -20)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('twin2', 1, '2025-01-12 03:30:30', 21.4, -0.11, -45, -20)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('nullvalue', 1, '2025-01-12 01:05:00', NULL, 0, -45, -20)");
    const double first = EncodeDate(2025, 1, 10);
    const auto kept = NightSummaries(db, 1, first, first + 1);
    ASSERT_EQ(kept.size(), 2u);
    fb::Transaction tr(db);
    tr.Start();
    for (int i = 0; i < 2; ++i) {
        const TNightSummary whole = SummariseReadings(first + i, ReadQualityReadings(tr, 1, first + i, first + i));
        EXPECT_EQ(kept[i], whole) << i;
        EXPECT_EQ(kept[i].Class(), TNightClass::Partly) << i;
    }
}

TEST_F(NightSummariesTest, AReadingAtNoonBelongsToBothNightsAndMarksBoth) {
    const TModelNight a = Model(2025, 1, 10), b = Model(2025, 1, 11);
    Store(1, a);
    Store(1, b);
    const auto before = NightSummaries(db, 1, a.Night, b.Night);
    Tamper(1, a.Night, 25);
    Tamper(1, b.Night, 25);
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SUNH, REA_MOONH) "
         "VALUES ('noon', 1, '2025-01-11 12:00:00', 5, 0, 20, 10)");
    const auto after = NightSummaries(db, 1, a.Night, b.Night);
    EXPECT_EQ(after[0].Readings, before[0].Readings + 1);
    EXPECT_EQ(after[1].Readings, before[1].Readings + 1);
    EXPECT_EQ(after[0].SkyBrightness, before[0].SkyBrightness);
    EXPECT_EQ(after[1].SkyBrightness, before[1].SkyBrightness);
    // The same rows as the night's query.
    fb::Transaction tr(db);
    tr.Start();
    EXPECT_EQ(static_cast<size_t>(after[1].Readings), ReadNightReadings(tr, 1, b.Night).size());
}

TEST_F(NightSummariesTest, EachNightCountsItsReadingsThroughEveryChangeOfThemWithoutAWriterWaiting) {
    const TModelNight a = Model(2025, 1, 10), b = Model(2025, 1, 11);
    Store(1, a);
    Store(1, b);
    Store(2, b);
    NightSummaries(db, 1, a.Night, b.Night);
    // The meter writes a reading a transaction: more than the rows a night
    // gathers at once.
    for (int i = 0; i < 45; ++i)
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('m" + std::to_string(i) +
             "', 1, '2025-01-10 13:" + std::to_string(10 + i) + ":00', 12)");
    EXPECT_LE(Count("SELECT COUNT(*) FROM NIGHTCOUNTS WHERE NCN_SITE=1 AND NCN_NIGHT=" +
                    std::to_string(static_cast<int>(a.Night))),
              21);
    // Gathered, the rows still tell the night's first reading.
    const std::string nightA = std::to_string(static_cast<int>(a.Night));
    EXPECT_EQ(Scalar("SELECT MIN(NCN_FIRST) || ' ' || MAX(NCN_REMOVED) FROM NIGHTCOUNTS WHERE NCN_SITE=1 AND NCN_NIGHT=" +
                     nightA),
              Scalar("SELECT MIN(REA_DATETIME) || ' 0' FROM READINGS WHERE REA_SITE=1 AND REA_DATETIME BETWEEN "
                     "'2025-01-10 12:00:00' AND '2025-01-11 12:00:00'"));
    // Another program writes night b meanwhile, uncommitted: a reading of
    // the same night goes in without waiting.
    fb::Database other(file);
    other.Open();
    fb::Transaction writer(other);
    writer.Start();
    Exec(writer, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES "
                 "('other', 1, '2025-01-11 14:00:00', 11)");
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('mine', 1, '2025-01-11 14:01:00', 11)");
    writer.Commit();
    // Moved to the next night, to noon (both nights), to another site; made
    // a value no meter gives, then one again by its offset; deleted.
    Exec("UPDATE READINGS SET REA_DATETIME = REA_DATETIME + 1 WHERE REA_CODE IN ('m0', 'm1')");
    Exec("UPDATE READINGS SET REA_DATETIME = '2025-01-11 12:00:00' WHERE REA_CODE = 'm2'");
    Exec("UPDATE READINGS SET REA_SITE = 2 WHERE REA_CODE = 'm3'");
    Exec("UPDATE READINGS SET REA_SQMVALUE = 0 WHERE REA_CODE IN ('m4', 'm5')");
    Exec("UPDATE READINGS SET REA_SQMOFFSET = 1 WHERE REA_CODE = 'm5'");
    Exec("UPDATE READINGS SET REA_DATETIME = NULL WHERE REA_CODE = 'm6'");
    Exec("DELETE FROM READINGS WHERE REA_CODE IN ('m7', 'other')");
    fb::Transaction tr(db);
    tr.Start();
    for (int site : {1, 2}) {
        const auto kept = NightSummaries(db, site, a.Night, b.Night);
        ASSERT_EQ(kept.size(), 2u);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(kept[i], SummariseReadings(a.Night + i, ReadQualityReadings(tr, site, a.Night + i, a.Night + i)))
                << "site " << site << ", night " << i;
    }
}

TEST_F(NightSummariesTest, TwoWritersGatheringTheSameNightsCountsAtOnceNeitherFailsNorLosesOne) {
    // Twenty rows of the night, one per transaction: the next writer gathers them.
    for (int i = 0; i < 20; ++i)
        Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('m" + std::to_string(i) +
             "', 1, '2025-01-10 20:" + std::to_string(10 + i) + ":00', 20)");
    const std::string rows = "SELECT COUNT(*) FROM NIGHTCOUNTS WHERE NCN_SITE=1";
    ASSERT_EQ(Count(rows), 20);
    fb::Transaction first(db);
    first.Start();
    Exec(first, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES "
                "('a', 1, '2025-01-10 21:00:00', 20)");
    // A second program's writer finds the same rows taken: it keeps its own.
    fb::Database other(file);
    other.Open();
    fb::Transaction second(other);
    second.Start();
    EXPECT_NO_THROW(Exec(second, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES "
                                 "('b', 1, '2025-01-10 21:01:00', 20)"));
    second.Commit();
    first.Commit();
    EXPECT_EQ(Count(rows), 2);
    EXPECT_EQ(SummariseNight(db, 1, EncodeDate(2025, 1, 10)).Readings, 22);
}

TEST_F(NightSummariesTest, AnImportedFileRefreshesItsNightsAndOnlyThose) {
    // At new Moon: the import puts the real Moon's altitude with each reading.
    const TModelNight a = Model(2025, 1, 27), b = Model(2025, 1, 29);
    Store(1, a);
    Store(1, b);
    NightSummaries(db, 1, a.Night, b.Night);
    ASSERT_EQ(Kept(1), 3);
    Tamper(1, a.Night, 25);
    Tamper(1, b.Night, 25);
    // Night b again, now cloudy for four hours, from a community file.
    TModelNight cloudy = b;
    cloudy.Clouds = {{At(b, -3.02), At(b, 1.1), TCloud::Thick}};
    std::string text = "# Light Pollution Monitoring Data Format 1.0\n# Number of header lines: 5\n"
                       "# SQM cover offset value: 0\n"
                       "# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS\n"
                       "# END OF HEADER\n";
    for (const TModelReading& r : MakeNight(cloudy)) {
        char line[160];
        const DateTimeParts p = DecodeDateTime(r.Reading.Time);
        std::snprintf(line, sizeof line, "%04d-%02d-%02dT%02d:%02d:%02d.000;%04d-%02d-%02dT%02d:%02d:%02d.000;5.0;0;0;%.2f\n",
                      p.year, p.month, p.day, p.hour, p.minute, p.second, p.year, p.month, p.day, p.hour, p.minute,
                      p.second, r.Reading.Value);
        text += line;
    }
    const std::filesystem::path file = dir.Path() / "cloudy.dat";
    { std::ofstream(file) << text; }
    TSiteRow site;
    site.Id = 1;
    site.Latitude = a.Latitude;
    site.Longitude = a.Longitude;
    const TCommunityImport r = ImportCommunityFile(db, site, file.string());
    ASSERT_EQ(r.Skipped(), 0u);
    const auto after = NightSummaries(db, 1, a.Night, b.Night);
    EXPECT_EQ(*after[0].SkyBrightness, 25.0);  // untouched
    EXPECT_EQ(after[2].Class(), TNightClass::Partly) << after[2].Readings << " readings, " << Marks(1) << " marks";
    EXPECT_LT(*after[2].ClearFraction(), 0.8);
    // Counted as the import wrote them: the same as read whole.
    fb::Transaction tr(db);
    tr.Start();
    EXPECT_EQ(after[2], SummariseReadings(b.Night, ReadQualityReadings(tr, 1, b.Night, b.Night)));
}

TEST_F(NightSummariesTest, ReadingsSavedFromTheNetworkRefreshTheirNight) {
    const TModelNight n = Model(2025, 1, 10);
    Store(1, n);
    const TNightSummary before = SummariseNight(db, 1, n.Night);
    Tamper(1, n.Night, 25);
    TNetReading net;
    net.KaloCode = "net-1";
    net.DateTime = At(n, 0.01);
    net.Value = 21.2;
    net.SunHeight = -60;
    net.MoonHeight = -30;
    net.Origin = "S";
    fb::Transaction tr(db);
    tr.Start();
    ImportNetworkReadings(tr, 1, "Site 1", {net}, NowUtc());
    EXPECT_EQ(SummariseNight(db, 1, n.Night).Readings, before.Readings + 1);
}

TEST_F(NightSummariesTest, ASummaryOfAnEarlierEstimatorIsMadeAgain) {
    const TModelNight n = Model(2025, 1, 10);
    Store(1, n);
    const TNightSummary s = SummariseNight(db, 1, n.Night);
    Exec("UPDATE NIGHTSUMMARIES SET NSU_METHOD=" + std::to_string(kNightMethod - 1) + ", NSU_SKY=25");
    EXPECT_EQ(SummariseNight(db, 1, n.Night), s);
    EXPECT_EQ(Scalar("SELECT NSU_METHOD FROM NIGHTSUMMARIES"), std::to_string(kNightMethod));
}

TEST_F(NightSummariesTest, ASiteRemovedTakesItsSummariesAndMarksWithIt) {
    const TModelNight n = Model(2025, 1, 10);
    Store(1, n);
    Store(2, n);
    SummariseNight(db, 1, n.Night);
    SummariseNight(db, 2, n.Night);
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('x', 1, '2025-01-12 01:00:00', 20)");
    ASSERT_EQ(Marks(1), 1);
    Exec("DELETE FROM SQMSITES WHERE SIT_ID=1");
    EXPECT_EQ(Kept(1), 0);
    EXPECT_EQ(Marks(1), 0);
    EXPECT_EQ(Kept(2), 1);
}

TEST_F(NightSummariesTest, ASummaryBeingKeptElsewhereNeverHoldsUpAReadingNorTheAnswer) {
    const TModelNight n = Model(2025, 1, 10);
    Store(1, n);
    const TNightSummary s = SummariseNight(db, 1, n.Night);
    Tamper(1, n.Night, 25);
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('y', 1, '2025-01-10 13:00:00', 5)");
    // Another program holds the kept row, uncommitted.
    fb::Database other(file);
    other.Open();
    fb::Transaction holder(other);
    holder.Start();
    {
        fb::Query q(holder);
        q.SetSQL("UPDATE NIGHTSUMMARIES SET NSU_SKY=24");
        q.ExecSQL();
    }
    // A reading of that night goes in meanwhile...
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('z', 1, '2025-01-10 13:05:00', 5)");
    // ...and the summary is made all the same, without waiting.
    TNightSummary now = SummariseNight(db, 1, n.Night);
    EXPECT_EQ(now.Readings, s.Readings + 2);
    EXPECT_EQ(now.SkyBrightness, s.SkyBrightness);
    holder.Rollback();
    // The marks stayed: the next request keeps it.
    EXPECT_GT(Marks(1), 0);
    now = SummariseNight(db, 1, n.Night);
    EXPECT_EQ(now.Readings, s.Readings + 2);
    EXPECT_EQ(Marks(1), 0);
}

TEST_F(NightSummariesTest, TheLastEndedNightIsTheNewestNightOverByNowWithReadings) {
    EXPECT_EQ(LastEndedNight(db, 1, EncodeDateTime(2025, 1, 20, 0, 0, 0)), 0);
    Store(1, Model(2025, 1, 10));
    Store(1, Model(2025, 1, 12));
    EXPECT_EQ(LastEndedNight(db, 1, EncodeDateTime(2025, 1, 20, 0, 0, 0)), EncodeDate(2025, 1, 12));
    // Night 12 ends at noon of the 13th.
    EXPECT_EQ(LastEndedNight(db, 1, EncodeDateTime(2025, 1, 13, 11, 0, 0)), EncodeDate(2025, 1, 10));
    EXPECT_EQ(LastEndedNight(db, 1, EncodeDateTime(2025, 1, 13, 12, 0, 0)), EncodeDate(2025, 1, 12));
}

TEST(NightSummariesSchema, TheDeliveredFileKeepsNightSummaries) {
    testsupport::TempDir dir;
    fb::Database db(testsupport::CopyPristineDb(dir.Path()));
    db.Open();
    EXPECT_EQ(DatabaseSchemaVersion(db), "1.3");
}

}  // namespace
