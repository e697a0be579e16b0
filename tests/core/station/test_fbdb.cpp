// The Firebird layer against real database files made from the delivered schema.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace {

class FbTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = testsupport::CopyPristineDb(dir.Path());
        db.SetFile(file);
        db.Open();
    }
    int Count(const std::string& sql) {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL(sql);
        q.Open();
        const int n = static_cast<int>(q.Fields(0).AsInteger());
        q.Close();
        tr.Commit();
        return n;
    }
    int NewSite(const std::string& name) {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("SELECT GEN_ID(GEN_SITE_ID, 1) FROM RDB$DATABASE");
        q.Open();
        const int id = static_cast<int>(q.Fields(0).AsInteger());
        q.Close();
        q.SetSQL("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (:ID, :NAME)");
        q.SetInteger("ID", id);
        q.SetString("NAME", name);
        q.ExecSQL();
        tr.Commit();
        return id;
    }
    testsupport::TempDir dir;
    std::string file;
    fb::Database db;
};

TEST(FbParams, NamedParametersBecomePlaceholdersOutsideQuotes) {
    std::vector<std::string> names;
    const std::string sql =
        fb::ParseParams("UPDATE T SET A=:a, B=':notme', C=:Code_2 WHERE K=:A -- :comment\n", names);
    EXPECT_EQ(sql, "UPDATE T SET A=?, B=':notme', C=? WHERE K=? -- :comment\n");
    EXPECT_EQ(names, (std::vector<std::string>{"A", "CODE_2", "A"}));
}

TEST_F(FbTest, TypedValuesRoundTripWithNullsPaddingScaleAndDateTimesToTheSecond) {
    const int id = NewSite("Località");
    {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("UPDATE SQMSITES SET SIT_CODE=:C, SIT_OFFSET=:O, SIT_LATIT=:LAT, SIT_STARTTIME=:T, "
                 "SIT_SQMHOST=:H WHERE SIT_ID=:ID");
        q.SetString("C", "AB12");
        q.SetDouble("O", -0.125);  // NUMERIC(9,2) keeps two decimals
        q.SetDouble("LAT", 45.123456789012);
        q.SetDateTime("T", EncodeDateTime(2009, 10, 15, 21, 30, 5));
        q.SetNull("H");
        q.SetInteger("ID", id);
        q.ExecSQL();
        EXPECT_EQ(q.RowsAffected(), 1);
        tr.Commit();
    }
    fb::Transaction tr(db);
    fb::Query q(tr);
    q.SetSQL("SELECT * FROM SQMSITES WHERE SIT_ID=" + std::to_string(id));
    q.Open();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldByName("SIT_CODE").AsString(), "AB12    ");  // CHAR(8) keeps its padding
    EXPECT_EQ(q.FieldByName("SIT_NAME").AsString(), "Località");
    EXPECT_NEAR(q.FieldByName("SIT_OFFSET").AsDouble(), -0.13, 1e-9);
    EXPECT_DOUBLE_EQ(q.FieldByName("SIT_LATIT").AsDouble(), 45.123456789012);
    EXPECT_EQ(FormatSqlDateTime(q.FieldByName("SIT_STARTTIME").AsDateTime()), "2009-10-15 21:30:05");
    EXPECT_TRUE(q.FieldByName("SIT_SQMHOST").IsNull());
    EXPECT_TRUE(q.FieldByName("SIT_LONG").IsNull());
    EXPECT_THROW(q.FieldByName("SIT_LONG").AsDouble(), fb::Error);
    EXPECT_EQ(q.FieldByName("SIT_AUTOUPLOAD").AsInteger(), 1);
    EXPECT_THROW(q.FieldByName("NO_SUCH_COLUMN"), fb::Error);
    q.Next();
    EXPECT_TRUE(q.Eof());
    q.Close();

    // Dialect 1: a DATE holds the time of day too.
    EXPECT_EQ(Count("SELECT MON$SQL_DIALECT FROM MON$DATABASE"), 1);
    for (double t : {EncodeDateTime(1899, 12, 30, 0, 0, 0), EncodeDateTime(1858, 11, 17, 12, 0, 1),
                     EncodeDateTime(2026, 12, 8, 23, 59, 59), EncodeDateTime(2000, 2, 29, 0, 0, 1), EncodeTime(21, 4, 33)}) {
        q.SetSQL("SELECT CAST(:T AS DATE) FROM RDB$DATABASE");
        q.SetDateTime("T", t);
        q.Open();
        EXPECT_EQ(FormatSqlDateTime(q.Fields(0).AsDateTime()), FormatSqlDateTime(t));
        EXPECT_NEAR(q.Fields(0).AsDateTime(), t, 1e-9);
        q.Close();
    }
}

TEST_F(FbTest, APlanNamesTheIndexAStatementWouldUseWithoutRunningIt) {
    const int site = NewSite("planned");
    fb::Transaction tr(db);
    fb::Query q(tr);
    q.SetSQL("DELETE FROM SQMSITES WHERE SIT_ID=:ID");
    EXPECT_NE(q.Plan().find("PK_SQMSITES"), std::string::npos) << q.Plan();
    q.SetSQL("SELECT COUNT(*) FROM SQMSITES WHERE SIT_NAME > ''");
    EXPECT_NE(q.Plan().find("NATURAL"), std::string::npos) << q.Plan();
    tr.Commit();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=" + std::to_string(site)), 1);  // nothing ran
}

TEST_F(FbTest, RetainingKeepsTheTransactionOpenAndClosingTheConnectionRollsBackOpenWork) {
    {
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("INSERT INTO NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) VALUES (:H, 9, 100)");
        q.SetString("H", "kept.example");
        q.ExecSQL();
        tr.CommitRetaining();
        EXPECT_TRUE(tr.Active());
        q.SetString("H", "dropped.example");
        q.ExecSQL();
        tr.RollbackRetaining();
        EXPECT_TRUE(tr.Active());
        tr.Commit();
        EXPECT_FALSE(tr.Active());
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NTPSERVERS WHERE NTP_HOST='kept.example'"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NTPSERVERS WHERE NTP_HOST='dropped.example'"), 0);
    {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("DELETE FROM NTPSERVERS");
        q.ExecSQL();
        db.Close();
        EXPECT_FALSE(tr.Active());
    }
    db.Open();
    EXPECT_GT(Count("SELECT COUNT(*) FROM NTPSERVERS"), 0);
}

TEST_F(FbTest, ALockHeldByAnotherConnectionFailsAtOnce) {
    fb::Database other(file);
    other.Open();
    fb::Transaction holder(other);
    fb::Query hq(holder);
    hq.SetSQL("UPDATE SETTINGS SET SET_SYNCFREQ=5 WHERE SET_ID=1");
    hq.ExecSQL();  // uncommitted: the row is locked

    for (auto iso : {fb::Isolation::ReadCommitted, fb::Isolation::Concurrency}) {
        fb::Transaction tr(db, iso);
        fb::Query q(tr);
        q.SetSQL("UPDATE SETTINGS SET SET_SYNCFREQ=7 WHERE SET_ID=1");
        const auto start = std::chrono::steady_clock::now();
        try {
            q.ExecSQL();
            FAIL() << "the update did not meet the lock";
        } catch (const fb::Error& e) {
            EXPECT_TRUE(e.IsLockConflict()) << e.what();
            EXPECT_NE(std::string(e.what()).find("lock"), std::string::npos) << e.what();
        }
        // "nowait": no waiting on the other writer (generous bound, not a timing test).
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    // rec_version lets a reader see the last committed value meanwhile.
    fb::Transaction reader(db);
    fb::Query r(reader);
    r.SetSQL("SELECT SET_SYNCFREQ FROM SETTINGS WHERE SET_ID=1");
    r.Open();
    EXPECT_EQ(r.Fields(0).AsInteger(), 60);
}

TEST_F(FbTest, ACancelledSiteLeavesAGapInTheNumberingAndDeletingASiteCascadesToItsReadings) {
    const int keep = NewSite("keep");
    {
        // A site record started and then cancelled still took its number.
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("SELECT GEN_ID(GEN_SITE_ID, 1) FROM RDB$DATABASE");
        q.Open();
        q.Close();
        tr.Rollback();
    }
    const int gone = NewSite("gone");
    EXPECT_EQ(gone, keep + 2);
    {
        fb::Transaction tr(db);
        fb::Query q(tr);
        q.SetSQL("INSERT INTO READINGS (REA_CODE, REA_SITE) VALUES (:C, :S)");
        int n = 0;
        for (int site : {keep, gone, gone}) {
            q.SetString("C", "code" + std::to_string(++n));
            q.SetInteger("S", site);
            q.ExecSQL();
        }
        q.SetSQL("DELETE FROM SQMSITES WHERE SIT_ID=:ID");
        q.SetInteger("ID", gone);
        q.ExecSQL();
        tr.Commit();
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(gone)), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(keep)), 1);
}

TEST_F(FbTest, EngineErrorsCarryTheEngineMessageAndAMissingFileIsRefused) {
    fb::Transaction tr(db);
    fb::Query q(tr);
    q.SetSQL("SELECT * FROM NO_SUCH_TABLE");
    try {
        q.Open();
        FAIL();
    } catch (const fb::Error& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
    }
    q.SetSQL("INSERT INTO NTPSERVERS (NTP_HOST) VALUES (:H)");
    q.SetNull("H");
    EXPECT_THROW(q.ExecSQL(), fb::Error);  // NOT NULL
    EXPECT_THROW(q.SetString("NOPE", "x"), fb::Error);
    fb::Database missing("/nonexistent/folder/KALOSQMDATA.FDB");
    EXPECT_THROW(missing.Open(), fb::Error);
    EXPECT_FALSE(missing.Connected());
}

}  // namespace
