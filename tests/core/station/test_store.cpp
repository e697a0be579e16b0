// Completing readings and moving them between station objects and READINGS.
#include <gtest/gtest.h>

#include <cmath>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"
#include "support/testsupport.h"
#include "core/astronomy/vsop.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        db.SetFile(testsupport::CopyPristineDb(dir.Path()));
        db.Open();
        sim.Start();
    }
    void AddSite(int id, const char* lat, const char* lon) {
        db.ExecuteImmediate(std::string("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT, SIT_LONG) VALUES (") +
                            std::to_string(id) + ", 'site', " + lat + ", " + lon + ")");
    }
    std::unique_ptr<TSQM> Station(int site) {
        return std::make_unique<TSQM>(TSQMOptions{.Host = "127.0.0.1", .Port = sim.Port(), .TimeoutSeconds = 2,
            .Database = &db, .Offset = 0.25, .SiteId = site});
    }
    // A station with nothing of its own, to load into.
    static std::unique_ptr<TSQM> Blank() { return std::make_unique<TSQM>(TSQMOptions{.Port = 0, .TimeoutSeconds = 1}); }
    // Offset that makes the PC clock read as the given UTC instant.
    static double OffsetTo(double utc) { return utc - NowLocal(); }
    std::vector<std::vector<std::string>> Rows() {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("SELECT * FROM READINGS ORDER BY REA_CODE");
        q.Open();
        std::vector<std::vector<std::string>> rows;
        for (; !q.Eof(); q.Next()) {
            std::vector<std::string> row;
            for (int i = 0; i < q.FieldCount(); ++i)
                row.push_back(q.Fields(i).IsNull() ? "<null>" : q.Fields(i).AsString());
            rows.push_back(row);
        }
        q.Close();
        tr.Commit();
        return rows;
    }

    testsupport::TempDir dir;
    fb::Database db;
    SqmSimulator sim;
};

TEST_F(StoreTest, AReadingTakenStoredLoadedAndStoredAgainReproducesItsRow) {
    AddSite(7, "45.5", "10.25");
    auto s = Station(7);
    const double when = EncodeDateTime(2009, 10, 15, 21, 30, 5);
    ASSERT_TRUE(s->UpdateReading(&db, OffsetTo(when)));
    s->State = 0;
    s->Syncro = true;
    ASSERT_TRUE(s->StoreReading(&db));
    const auto first = Rows();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(Trim(first[0][0]), s->ReadingCode());
    EXPECT_EQ(first[0][0].size(), 25u);

    auto loaded = Blank();
    ASSERT_TRUE(loaded->LoadReading(&db, s->ReadingCode()));
    EXPECT_EQ(std::make_tuple(loaded->SiteID, loaded->Origin, loaded->Syncro), std::make_tuple(7, 'K', true));
    EXPECT_DOUBLE_EQ(loaded->Offset, 0.25);
    EXPECT_DOUBLE_EQ(loaded->SQMValue, 19.29);
    EXPECT_NEAR(loaded->NELM, TSQM::ComputeNELM(19.29), 1e-12);
    ASSERT_TRUE(loaded->StoreReading(&db));
    EXPECT_EQ(Rows(), first);

    // The astronomy went in with the site's position (longitude east, negated for the engine).
    const double sunAlt = static_cast<double>(SunHorizontalPosition(s->DateTime, -10.25L, 45.5L).Altitude);
    EXPECT_NEAR(loaded->SunH, sunAlt, 1e-9);
    EXPECT_NEAR(loaded->MoonPh, loaded->MoonAgeDays / 29.53058912, 1e-12);
    const double dusk = AstronomicalDusk(std::trunc(s->DateTime), -10.25L, 45.5L);
    EXPECT_NEAR(loaded->AstroTwilight, dusk - std::trunc(dusk), 1.0 / 86400);
    EXPECT_LT(loaded->AstroTwilight, 1.0);
}

TEST_F(StoreTest, KeysJoinTheSecondAndTheSiteSoOneSecondHoldsOneRowAndSiteZeroIsRefusedBeforeTheDatabase) {
    AddSite(3, "45", "9");
    auto s = Station(3);
    s->DateTime = EncodeDateTime(2010, 1, 2, 3, 4, 5, 900);
    EXPECT_EQ(s->ReadingCode(), "201001020304053");
    s->SetSiteID(120);
    EXPECT_EQ(s->ReadingCode(), "20100102030405120");
    s->SetSiteID(3);
    const double when = EncodeDateTime(2010, 1, 2, 3, 4, 5);
    s->DateTime = when;
    s->SQMValue = 18.0;
    s->Origin = 'K';
    ASSERT_TRUE(s->StoreReading(&db));
    s->DateTime = when + 0.4 / 86400;  // same second
    s->SQMValue = 18.5;
    ASSERT_TRUE(s->StoreReading(&db));
    ASSERT_EQ(Rows().size(), 1u);
    auto back = Blank();
    ASSERT_TRUE(back->LoadReading(&db, "201001020304053"));
    EXPECT_DOUBLE_EQ(back->SQMValue, 18.5);
    EXPECT_EQ(FormatSqlDateTime(back->DateTime), "2010-01-02 03:04:05");

    auto zero = Blank();
    zero->DateTime = when;
    db.Close();
    try {
        zero->StoreReading(&db);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Undefined Site ID");
    }
    EXPECT_FALSE(db.Connected());  // not even opened
    // Negative sites are kept, and the database is left closed as it was found.
    db.Open();
    AddSite(-4, "1", "2");
    zero->SetSiteID(-4);
    zero->Origin = 'K';
    db.Close();
    ASSERT_TRUE(zero->StoreReading(&db));
    EXPECT_FALSE(db.Connected());
    ASSERT_TRUE(zero->LoadReading(&db, "20100102030405-4"));
    EXPECT_EQ(zero->SiteID, -4);
    EXPECT_FALSE(db.Connected());
}

TEST_F(StoreTest, LoadingAMissingKeyChangesNothingAndNullsLoadAsZero) {
    AddSite(5, "1", "2");
    TSQM s(TSQMOptions{.Port = 0, .TimeoutSeconds = 1});
    s.SQMValue = 12.5;
    EXPECT_FALSE(s.LoadReading(&db, "nope"));
    EXPECT_DOUBLE_EQ(s.SQMValue, 12.5);

    db.ExecuteImmediate(
        "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH, "
        "REA_MOONPH, REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES "
        "('imported', 5, '2011-05-06 07:08:09', 20.1, 3, -20, 10, 0.5, -1, 1, 0, 1, 0.1, 'N')");
    s.MoonAgeDays = s.MoonIllum = s.AstroDowning = s.AstroTwilight = 9;
    ASSERT_TRUE(s.LoadReading(&db, "imported"));
    EXPECT_EQ(std::make_tuple(s.MoonAgeDays, s.MoonIllum, s.AstroDowning, s.AstroTwilight), std::make_tuple(0., 0., 0., 0.));
    EXPECT_EQ(std::make_tuple(s.State, s.Uploaded, s.Modified, s.Origin), std::make_tuple(-1, true, true, 'N'));
    // A null in a column that must hold a value is a conversion error; nothing changes.
    db.ExecuteImmediate("UPDATE READINGS SET REA_SQMTEMP=NULL WHERE REA_CODE='imported'");
    s.SQMValue = 1;
    EXPECT_THROW(s.LoadReading(&db, "imported"), TUnloadableReading);
    EXPECT_DOUBLE_EQ(s.SQMValue, 1);
}

TEST_F(StoreTest, ALockHeldElsewhereFailsTheStoreAtOnceAndRollsBack) {
    AddSite(8, "1", "2");
    auto s = Station(8);
    s->DateTime = EncodeDateTime(2012, 1, 1, 0, 0, 0);
    s->Origin = 'K';
    ASSERT_TRUE(s->StoreReading(&db));

    fb::Database other(db.File());
    other.Open();
    fb::Transaction holder(other);
    fb::Query hq(holder);
    hq.SetSQL("UPDATE READINGS SET REA_SQMVALUE=1 WHERE REA_SITE=8");
    hq.ExecSQL();

    s->SQMValue = 22;
    try {
        s->StoreReading(&db);
        FAIL() << "the store did not meet the lock";
    } catch (const fb::Error& e) {
        EXPECT_TRUE(e.IsLockConflict()) << e.what();
    }
    EXPECT_TRUE(db.Connected());
    holder.Rollback();
    auto back = Blank();
    ASSERT_TRUE(back->LoadReading(&db, s->ReadingCode()));
    EXPECT_DOUBLE_EQ(back->SQMValue, 0.0);  // the value of the first store, not 22
}

// The warning is the acquisition's ("Read now"): the station only computes.
TEST_F(StoreTest, MissingCoordinatesCountAsZeroAndASiteQueryErrorComesBeforeTheMeter) {
    db.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_LATIT) VALUES (9, 'no longitude', 45)");
    auto s = Station(9);
    const double when = EncodeDateTime(2015, 3, 20, 23, 0, 0);
    ASSERT_TRUE(s->UpdateReading(&db, OffsetTo(when)));
    EXPECT_NEAR(s->SunH, static_cast<double>(SunHorizontalPosition(s->DateTime, 0, 0).Altitude), 1e-9);
    ASSERT_TRUE(s->UpdateReading(&db, OffsetTo(when)));
    // An unknown site behaves the same.
    auto unknown = Station(99);
    ASSERT_TRUE(unknown->UpdateReading(&db, OffsetTo(when)));
    EXPECT_NEAR(unknown->SunH, static_cast<double>(SunHorizontalPosition(unknown->DateTime, 0, 0).Altitude), 1e-9);
    fb::Database broken("/no/such/file.fdb");
    EXPECT_THROW(unknown->UpdateReading(&broken, 0), fb::Error);
    EXPECT_EQ(sim.Requests(), 3);
}

TEST_F(StoreTest, AtSixtyNorthInLateJuneTheLastComputableTwilightsStay) {
    AddSite(11, "60", "10");
    auto s = Station(11);
    ASSERT_TRUE(s->UpdateReading(&db, OffsetTo(EncodeDateTime(2024, 3, 1, 22, 0, 0))));
    const double dusk = s->AstroTwilight, dawn = s->AstroDowning;
    ASSERT_TRUE(dusk > 0 && dawn > 0);
    ASSERT_THROW(AstronomicalDusk(EncodeDate(2024, 6, 25), -10.0L, 60.0L), E_NoRiseSet);

    SqmSimConfig c = sim.Config();
    c.Value = 17.5;
    sim.SetConfig(c);
    ASSERT_TRUE(s->UpdateReading(&db, OffsetTo(EncodeDateTime(2024, 6, 25, 23, 0, 0))));
    EXPECT_DOUBLE_EQ(s->SQMValue, 17.5);
    EXPECT_EQ(std::make_pair(s->AstroTwilight, s->AstroDowning), std::make_pair(dusk, dawn));
    // Everything else is fresh.
    EXPECT_EQ(FormatSqlDateTime(s->DateTime).substr(0, 10), "2024-06-25");
    EXPECT_NEAR(s->SunH, static_cast<double>(SunHorizontalPosition(s->DateTime, -10.0L, 60.0L).Altitude), 1e-9);
    EXPECT_NEAR(s->NELM, TSQM::ComputeNELM(17.5), 1e-12);
    EXPECT_EQ(s->Origin, 'K');
    s->State = 0;
    ASSERT_TRUE(s->StoreReading(&db));
    auto back = Blank();
    ASSERT_TRUE(back->LoadReading(&db, s->ReadingCode()));
    EXPECT_NEAR(back->AstroTwilight, dusk, 1e-6);
}

}  // namespace
