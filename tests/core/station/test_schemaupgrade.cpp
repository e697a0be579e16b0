// The upgrade of a file made by the first delivered schema (db/schema.sql)
// to the delivered one, on real files: readings kept, the same metadata as a
// fresh delivered file, counts from the readings, nothing left by a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/station/schemaupgrade.h"
#include "support/testsupport.h"

#ifndef KALO_SCHEMA10_DB
#error "KALO_SCHEMA10_DB must name a database made from db/schema.sql"
#endif

namespace {

using Lines = std::vector<std::string>;

std::string Squeeze(const std::string& s) { return Trim(std::regex_replace(s, std::regex("\\s+"), " ")); }

Lines Rows(fb::Database& db, const std::string& sql) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(sql);
    q.Open();
    Lines out;
    for (; !q.Eof(); q.Next()) {
        std::string line;
        for (int i = 0; i < q.FieldCount(); ++i) {
            if (i) line += " | ";
            line += q.Fields(i).IsNull() ? std::string("<null>") : Squeeze(q.Fields(i).AsString());
        }
        out.push_back(line);
    }
    q.Close();
    tr.Commit();
    return out;
}

// Everything a schema is made of, without the engine's own numbering
// (field domains RDB$nn, NOT NULL constraints INTEG_nn) or index statistics.
Lines Metadata(fb::Database& db) {
    const char* user = "NOT (R.RDB$RELATION_NAME STARTING WITH 'RDB$' OR R.RDB$RELATION_NAME STARTING WITH 'MON$' OR "
                       "R.RDB$RELATION_NAME STARTING WITH 'SEC$')";
    Lines all;
    auto add = [&](const std::string& what, const std::string& sql) {
        for (const std::string& l : Rows(db, sql)) all.push_back(what + ": " + l);
    };
    add("field", std::string("SELECT RF.RDB$RELATION_NAME, RF.RDB$FIELD_NAME, RF.RDB$FIELD_POSITION, F.RDB$FIELD_TYPE, "
                             "F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE, F.RDB$CHARACTER_LENGTH, RF.RDB$NULL_FLAG, "
                             "CAST(RF.RDB$DEFAULT_SOURCE AS VARCHAR(2000)) "
                             "FROM RDB$RELATION_FIELDS RF JOIN RDB$RELATIONS R ON R.RDB$RELATION_NAME = "
                             "RF.RDB$RELATION_NAME JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE WHERE ") +
                 user + " ORDER BY 1, 2");
    add("index", std::string("SELECT I.RDB$INDEX_NAME, I.RDB$RELATION_NAME, I.RDB$UNIQUE_FLAG, I.RDB$INDEX_TYPE, "
                             "I.RDB$INDEX_INACTIVE, I.RDB$FOREIGN_KEY, I.RDB$SEGMENT_COUNT, "
                             "CAST(I.RDB$EXPRESSION_SOURCE AS VARCHAR(2000)) FROM RDB$INDICES I JOIN RDB$RELATIONS R ON "
                             "R.RDB$RELATION_NAME = I.RDB$RELATION_NAME WHERE ") +
                 user + " ORDER BY 1");
    add("segment", std::string("SELECT S.RDB$INDEX_NAME, S.RDB$FIELD_POSITION, S.RDB$FIELD_NAME FROM RDB$INDEX_SEGMENTS S "
                               "JOIN RDB$INDICES I ON I.RDB$INDEX_NAME = S.RDB$INDEX_NAME JOIN RDB$RELATIONS R ON "
                               "R.RDB$RELATION_NAME = I.RDB$RELATION_NAME WHERE ") +
                 user + " ORDER BY 1, 2");
    add("constraint", std::string("SELECT C.RDB$CONSTRAINT_NAME, C.RDB$CONSTRAINT_TYPE, C.RDB$RELATION_NAME, "
                                  "C.RDB$INDEX_NAME FROM RDB$RELATION_CONSTRAINTS C JOIN RDB$RELATIONS R ON "
                                  "R.RDB$RELATION_NAME = C.RDB$RELATION_NAME WHERE C.RDB$CONSTRAINT_TYPE <> 'NOT NULL' "
                                  "AND ") +
                      user + " ORDER BY 1");
    add("reference", "SELECT RDB$CONSTRAINT_NAME, RDB$CONST_NAME_UQ, RDB$UPDATE_RULE, RDB$DELETE_RULE "
                     "FROM RDB$REF_CONSTRAINTS ORDER BY 1");
    add("trigger", std::string("SELECT T.RDB$TRIGGER_NAME, T.RDB$RELATION_NAME, T.RDB$TRIGGER_TYPE, "
                               "T.RDB$TRIGGER_SEQUENCE, T.RDB$TRIGGER_INACTIVE, T.RDB$SYSTEM_FLAG, "
                               "CAST(T.RDB$TRIGGER_SOURCE AS VARCHAR(8000)) FROM RDB$TRIGGERS T JOIN RDB$RELATIONS R ON "
                               "R.RDB$RELATION_NAME = T.RDB$RELATION_NAME WHERE ") +
                   user + " ORDER BY 1");
    add("procedure", "SELECT RDB$PROCEDURE_NAME, RDB$PROCEDURE_TYPE, CAST(RDB$PROCEDURE_SOURCE AS VARCHAR(8000)) "
                     "FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    add("parameter", "SELECT P.RDB$PROCEDURE_NAME, P.RDB$PARAMETER_TYPE, P.RDB$PARAMETER_NUMBER, P.RDB$PARAMETER_NAME, "
                     "F.RDB$FIELD_TYPE FROM RDB$PROCEDURE_PARAMETERS P JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = "
                     "P.RDB$FIELD_SOURCE WHERE COALESCE(P.RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2, 3");
    add("exception", "SELECT RDB$EXCEPTION_NAME, RDB$MESSAGE FROM RDB$EXCEPTIONS "
                     "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    add("generator", "SELECT RDB$GENERATOR_NAME FROM RDB$GENERATORS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1");
    return all;
}

Lines Readings(fb::Database& db) { return Rows(db, "SELECT * FROM READINGS ORDER BY REA_CODE"); }

// Reads a private copy: an embedded open locks the file, and the shared
// fixtures are read by tests that run at the same time.
Lines MetadataOf(const std::string& file) {
    testsupport::TempDir copy;
    const auto path = copy.Path() / "copy.FDB";
    std::filesystem::copy_file(file, path);
    fb::Database db(path.string());
    db.Open();
    return Metadata(db);
}

void Exec(fb::Database& db, const std::string& sql) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(sql);
    q.ExecSQL();
    tr.Commit();
}

class SchemaUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = (dir.Path() / "KALOSQMDATA.FDB").string();
        std::filesystem::copy_file(KALO_SCHEMA10_DB, file);
        db.SetFile(file);
        db.Open();
        Exec(db, "INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE) VALUES (1, 'Asiago', 'AS01')");
        Exec(db, "INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (2, 'Rome')");
        Exec(db, "INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (3, 'No readings')");
        // Night and daylight readings of two sites, waiting, uploaded and
        // modified, a few without a state, a value or a time, and one of no site.
        const char* states[] = {"0", "-1", "0", "-1", "NULL", "0", "-2", "-1", "0"};
        const char* values[] = {"20.5", "0", "21", "3.5", "19", "NULL", "18", "0", "0"};
        for (int i = 0; i < 90; ++i) {
            const int site = i % 3 == 2 ? 2 : 1;
            const std::string when = i == 17 ? "NULL" : "'2024-01-" + std::to_string(10 + i / 24) + " " +
                                                            std::to_string(i % 24) + ":30:00'";
            Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_STATE, "
                     "REA_UPLOADED, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES ('r" +
                         std::to_string(i) + "', " + std::to_string(site) + ", " + when + ", " + values[i % 9] + ", " +
                         std::to_string(i * 0.25) + ", " + states[i % 9] + ", " + std::to_string(i % 4 == 1) + ", " +
                         std::to_string(i % 5 == 3) + ", 0.1, 'K')");
        }
        Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_STATE, REA_SQMVALUE) VALUES ('orphan', NULL, 0, 20)");
    }

    // What the three COUNT statements of the network page (and a plain one) give.
    Lines Counted() {
        Lines out;
        for (int site : {1, 2, 3, 4}) {
            const std::string s = std::to_string(site);
            const std::string base = "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\nwhere REA_SITE=" + s;
            for (const std::string& where : {std::string(" AND REA_STATE>=0"),
                                             std::string(" AND REA_STATE>=0 AND REA_UPLOADED=0 AND REA_SQMVALUE>0"),
                                             std::string(" AND REA_STATE>=0 AND REA_MODIFIED=1 AND REA_SQMVALUE>0"),
                                             std::string()})
                out.push_back(s + ": " + Rows(db, base + where).at(0));
        }
        return out;
    }
    // The same from the counts the triggers keep.
    Lines Kept() {
        Lines out;
        for (int site : {1, 2, 3, 4}) {
            const std::string s = std::to_string(site);
            for (const char* column : {"RCN_TOTAL", "RCN_NEW", "RCN_MODIFIED", "RCN_ALL"})
                out.push_back(s + ": " + Rows(db, std::string("SELECT COALESCE(SUM(") + column +
                                                      "), 0) FROM READINGCOUNTS WHERE RCN_SITE=" + s).at(0));
        }
        return out;
    }

    // Takes out what 1.3 added to 1.2.
    void DropNightCounts() {
        for (const char* sql : {"DROP TRIGGER SQMSITES_NIGHTCOUNTS", "DROP TRIGGER READINGS_NIGHTCOUNTS",
                                "DROP PROCEDURE ADD_NIGHT_READINGS", "DROP INDEX IDX_READINGS_DARK",
                                "DROP TABLE NIGHTCOUNTS", "UPDATE SETTINGS SET SET_DBVERSION = '1.2' WHERE SET_ID = 1"})
            Exec(db, sql);
    }
    // Each night's readings with a value a meter gives (noon to noon, both
    // included), counted from the readings...
    Lines NightsCounted() {
        return Rows(db, "SELECT S.SIT_ID, N.NIGHT, (SELECT COUNT(*) FROM READINGS WHERE REA_SITE = S.SIT_ID AND "
                        "REA_DATETIME BETWEEN CAST('30.12.1899' AS DATE) + N.NIGHT + 0.5 AND "
                        "CAST('30.12.1899' AS DATE) + N.NIGHT + 1.5 AND REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND "
                        "REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) > 0 AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) "
                        "<= 30) FROM SQMSITES S CROSS JOIN (SELECT DISTINCT CAST(FLOOR(REA_DATETIME - "
                        "CAST('30.12.1899' AS DATE)) AS INTEGER) + K AS NIGHT FROM READINGS CROSS JOIN (SELECT -1 AS "
                        "K FROM RDB$DATABASE UNION ALL SELECT 0 FROM RDB$DATABASE) WHERE REA_DATETIME IS NOT NULL) N "
                        "ORDER BY 1, 2");
    }
    // ...and as kept.
    Lines NightsKept() {
        return Rows(db, "SELECT S.SIT_ID, N.NIGHT, (SELECT COALESCE(SUM(NCN_READINGS), 0) FROM NIGHTCOUNTS WHERE "
                        "NCN_SITE = S.SIT_ID AND NCN_NIGHT = N.NIGHT) FROM SQMSITES S CROSS JOIN (SELECT DISTINCT "
                        "CAST(FLOOR(REA_DATETIME - CAST('30.12.1899' AS DATE)) AS INTEGER) + K AS NIGHT FROM READINGS "
                        "CROSS JOIN (SELECT -1 AS K FROM RDB$DATABASE UNION ALL SELECT 0 FROM RDB$DATABASE) WHERE "
                        "REA_DATETIME IS NOT NULL) N ORDER BY 1, 2");
    }

    // The nights whose kept first reading (known while none was taken away)
    // is not the first reading with a value a meter gives.
    Lines FirstsWrong() {
        return Rows(db, "SELECT K.NCN_SITE, K.NCN_NIGHT, K.F FROM (SELECT NCN_SITE, NCN_NIGHT, MIN(NCN_FIRST) AS F, "
                        "MAX(NCN_REMOVED) AS R FROM NIGHTCOUNTS GROUP BY NCN_SITE, NCN_NIGHT) K WHERE K.R = 0 AND "
                        "K.F IS DISTINCT FROM (SELECT MIN(REA_DATETIME) FROM READINGS WHERE REA_SITE = K.NCN_SITE AND "
                        "REA_DATETIME BETWEEN CAST('30.12.1899' AS DATE) + K.NCN_NIGHT + 0.5 AND "
                        "CAST('30.12.1899' AS DATE) + K.NCN_NIGHT + 1.5 AND REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND "
                        "REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) > 0 AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) "
                        "<= 30)");
    }
    // Nights of a site whose first reading is known, and not.
    std::string FirstsKnown(int site) {
        return Rows(db, "SELECT SUM(1 - R), SUM(R) FROM (SELECT MAX(NCN_REMOVED) AS R FROM NIGHTCOUNTS WHERE "
                        "NCN_SITE = " + std::to_string(site) + " GROUP BY NCN_NIGHT)").at(0);
    }

    testsupport::TempDir dir;
    std::string file;
    fb::Database db;
};

TEST_F(SchemaUpgradeTest, AFileOfVersionOneZeroEndsLikeTheDeliveredFileWithEveryReadingAndItsCounts) {
    EXPECT_EQ(DatabaseSchemaVersion(db), "1.0");
    const Lines before = Readings(db);
    ASSERT_EQ(before.size(), 91u);
    const Lines counted = Counted();
    std::vector<TUpgradeStep> steps;
    EXPECT_EQ(UpgradeSchema(db, [&](const TUpgradeStep& s) { steps.push_back(s); }), "1.0");

    EXPECT_EQ(DatabaseSchemaVersion(db), kSchemaVersion);
    EXPECT_EQ(Readings(db), before);
    const Lines delivered = MetadataOf(KALO_PRISTINE_DB);
    EXPECT_EQ(Metadata(db), delivered);
    EXPECT_EQ(Kept(), counted);
    // What the comparison covers: the new objects and the foreign key gone.
    auto has = [](const Lines& m, const std::string& start) {
        return std::any_of(m.begin(), m.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    for (const char* start : {"index: IDX_READINGS_SITE_TIME_DESC | READINGS | 0 | 1",
                              "segment: IDX_READINGS_UPLOADED | 2 | REA_STATE", "trigger: READINGS_COUNTS | READINGS",
                              "trigger: SQMSITES_READINGS | SQMSITES", "procedure: DELETE_SITE_READINGS",
                              "field: READINGCOUNTS | RCN_ALL", "exception: E_READING_SITE"})
        EXPECT_TRUE(has(delivered, start)) << start;
    EXPECT_TRUE(has(MetadataOf(KALO_SCHEMA10_DB), "constraint: FK_READINGS_SITE | FOREIGN KEY"));
    EXPECT_FALSE(has(delivered, "constraint: FK_READINGS_SITE"));
    // Every step told, in order, ending at the commit.
    ASSERT_GE(steps.size(), 5u);
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].Done, static_cast<int>(i));
        EXPECT_EQ(steps[i].Total, static_cast<int>(steps.size()));
        EXPECT_FALSE(steps[i].What.empty());
    }

    // The triggers count from now on, and keep the site rules.
    Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_STATE, REA_SQMVALUE) VALUES ('new', 2, 0, 20)");
    Exec(db, "UPDATE READINGS SET REA_MODIFIED=1, REA_UPLOADED=1 WHERE REA_CODE='r0'");
    Exec(db, "DELETE FROM SQMSITES WHERE SIT_ID=1");
    EXPECT_EQ(Kept(), Counted());
    EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), Lines{"0"});
    EXPECT_THROW(Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE) VALUES ('x', 1)"), fb::Error);
}

TEST_F(SchemaUpgradeTest, ASecondOpenChangesNothing) {
    UpgradeSchema(db);
    const Lines metadata = Metadata(db);
    const Lines counts = Rows(db, "SELECT * FROM READINGCOUNTS ORDER BY RCN_SITE");
    db.Close();
    db.Open();
    int steps = 0;
    EXPECT_EQ(UpgradeSchema(db, [&](const TUpgradeStep&) { ++steps; }), kSchemaVersion);
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(Metadata(db), metadata);
    EXPECT_EQ(Rows(db, "SELECT * FROM READINGCOUNTS ORDER BY RCN_SITE"), counts);
}

TEST_F(SchemaUpgradeTest, AFailureAtAnyStepLeavesTheFileAtOneZeroWithItsReadingsAndMetadata) {
    const Lines before = Readings(db);
    const Lines metadata = Metadata(db);
    ASSERT_EQ(metadata, MetadataOf(KALO_SCHEMA10_DB));
    int total = 0;
    EXPECT_THROW(UpgradeSchema(db, [&](const TUpgradeStep& s) {
                     total = s.Total;
                     throw std::runtime_error("probe");
                 }),
                 TUpgradeError);
    ASSERT_GT(total, 5);
    for (int stopAt = 0; stopAt < total; ++stopAt) {
        SCOPED_TRACE("stopped before step " + std::to_string(stopAt));
        try {
            UpgradeSchema(db, [&](const TUpgradeStep& s) {
                if (s.Done == stopAt) throw std::runtime_error("stopped by the test");
            });
            ADD_FAILURE() << "no error";
        } catch (const TUpgradeError& e) {
            EXPECT_EQ(e.From(), "1.0");
            EXPECT_EQ(e.To(), kSchemaVersion);
            EXPECT_STREQ(e.what(), "stopped by the test");
        }
        EXPECT_EQ(DatabaseSchemaVersion(db), "1.0");
        EXPECT_EQ(Readings(db), before);
        EXPECT_EQ(Metadata(db), metadata);
    }
    // And it works afterwards.
    UpgradeSchema(db);
    EXPECT_EQ(Metadata(db), MetadataOf(KALO_PRISTINE_DB));
}

TEST_F(SchemaUpgradeTest, AnEngineErrorMidwaySaysWhyAndChangesNothing) {
    // An object of the new schema already there makes its statement fail.
    Exec(db, "CREATE EXCEPTION E_SITE_HAS_READINGS 'in the way'");
    const Lines before = Readings(db);
    const Lines metadata = Metadata(db);
    std::string lastStep;
    try {
        UpgradeSchema(db, [&](const TUpgradeStep& s) { lastStep = s.What; });
        FAIL() << "no error";
    } catch (const TUpgradeError& e) {
        EXPECT_EQ(e.From(), "1.0");
        EXPECT_NE(std::string(e.what()).find("E_SITE_HAS_READINGS"), std::string::npos) << e.what();
    }
    EXPECT_EQ(lastStep, "Error of a site number in use");
    EXPECT_EQ(DatabaseSchemaVersion(db), "1.0");
    EXPECT_EQ(Readings(db), before);
    EXPECT_EQ(Metadata(db), metadata);
    // The 1.0 rules still hold: the foreign key is there.
    EXPECT_THROW(Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE) VALUES ('x', 9)"), fb::Error);
}

TEST_F(SchemaUpgradeTest, AnEmptyCountsTableLeftByAnInterruptedUpgradeIsReplaced) {
    Exec(db, "CREATE TABLE READINGCOUNTS (RCN_SITE INTEGER)");
    UpgradeSchema(db);
    EXPECT_EQ(Metadata(db), MetadataOf(KALO_PRISTINE_DB));
    EXPECT_EQ(Kept(), Counted());
}

// A file of 1.1 (made here from an upgraded one by taking the night
// summaries out again) gains them alone, and a failure leaves it at 1.1.
TEST_F(SchemaUpgradeTest, AFileOfVersionOneOneGainsTheNightSummariesKeepingEveryReading) {
    UpgradeSchema(db);
    DropNightCounts();
    for (const char* sql : {"DROP TRIGGER SQMSITES_NIGHTS", "DROP TRIGGER READINGS_NIGHTS",
                            "DROP PROCEDURE MARK_READING_NIGHT", "DROP TABLE NIGHTMARKS", "DROP TABLE NIGHTSUMMARIES",
                            "UPDATE SETTINGS SET SET_DBVERSION = '1.1' WHERE SET_ID = 1"})
        Exec(db, sql);
    const Lines before = Readings(db);
    const Lines metadata = Metadata(db);
    const Lines counts = Kept();
    int total = 0;
    try {
        UpgradeSchema(db, [&](const TUpgradeStep& s) {
            total = s.Total;
            if (s.Done == s.Total - 2) throw std::runtime_error("stopped by the test");
        });
        ADD_FAILURE() << "no error";
    } catch (const TUpgradeError& e) {
        EXPECT_EQ(e.From(), "1.1");
    }
    EXPECT_EQ(DatabaseSchemaVersion(db), "1.1");
    EXPECT_EQ(Metadata(db), metadata);
    EXPECT_EQ(total, 16);  // 7 of the night summaries, 8 of the night counts, the commit

    EXPECT_EQ(UpgradeSchema(db), "1.1");
    EXPECT_EQ(DatabaseSchemaVersion(db), kSchemaVersion);
    EXPECT_EQ(Readings(db), before);
    EXPECT_EQ(Kept(), counts);
    EXPECT_EQ(Metadata(db), MetadataOf(KALO_PRISTINE_DB));
    // From now on a reading marks its night, once per transaction and night.
    Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('n1', 1, '2024-01-10 23:00:00', 20)");
    Exec(db, "UPDATE READINGS SET REA_UPLOADED = 1 WHERE REA_CODE = 'n1'");
    EXPECT_EQ(Rows(db, "SELECT NMK_SITE, NMK_NIGHT FROM NIGHTMARKS"),
              Lines{"1 | " + std::to_string(static_cast<int>(EncodeDate(2024, 1, 10)))});
}

// A file of 1.2 (made here from an upgraded one by taking the night counts
// out again) with readings gains the count of each night's readings from
// them, and the index of the dark readings; a failure leaves it at 1.2.
TEST_F(SchemaUpgradeTest, AFileOfVersionOneTwoGainsTheCountsOfItsNightsReadings) {
    UpgradeSchema(db);
    DropNightCounts();
    // A reading at noon is in two nights; values no meter gives, a huge one,
    // one made right by its offset and one made wrong by it are not counted.
    for (const char* row : {"('noon', 1, '2024-01-11 12:00:00', 20, 0)", "('huge', 1, '2024-01-11 23:00:00', 1e308, 0)",
                            "('offset0', 1, '2024-01-11 23:01:00', 0.1, -0.1)",
                            "('offsetup', 2, '2024-01-11 23:02:00', -0.05, 0.1)",
                            "('before', 2, '2024-01-11 11:59:59', 20, NULL)",
                            "('late', 2, '2024-01-12 12:00:01', 31, -2)"})
        Exec(db, std::string("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET) "
                             "VALUES ") + row);
    const Lines before = Readings(db);
    const Lines metadata = Metadata(db);
    const Lines counted = NightsCounted();
    ASSERT_GE(counted.size(), 10u);
    int total = 0;
    try {
        UpgradeSchema(db, [&](const TUpgradeStep& s) {
            total = s.Total;
            if (s.Done == s.Total - 1) throw std::runtime_error("stopped by the test");
        });
        ADD_FAILURE() << "no error";
    } catch (const TUpgradeError& e) {
        EXPECT_EQ(e.From(), "1.2");
    }
    EXPECT_EQ(total, 9);
    EXPECT_EQ(DatabaseSchemaVersion(db), "1.2");
    EXPECT_EQ(Metadata(db), metadata);

    EXPECT_EQ(UpgradeSchema(db), "1.2");
    EXPECT_EQ(DatabaseSchemaVersion(db), kSchemaVersion);
    EXPECT_EQ(Readings(db), before);
    EXPECT_EQ(Metadata(db), MetadataOf(KALO_PRISTINE_DB));
    EXPECT_EQ(NightsKept(), counted);
    EXPECT_EQ(FirstsWrong(), Lines{});
    EXPECT_EQ(FirstsKnown(1), "5 | 0");  // nights 9 to 13 of January
    EXPECT_NE(std::find(counted.begin(), counted.end(),
                        "1 | " + std::to_string(static_cast<int>(EncodeDate(2024, 1, 10))) + " | 17"),
              counted.end());

    // From now on the trigger keeps them: a reading written, moved to
    // another night or site, made one no meter gives, and deleted.
    Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('n1', 1, '2024-01-10 23:00:00', 20)");
    Exec(db, "UPDATE READINGS SET REA_DATETIME = '2024-01-12 12:00:00' WHERE REA_CODE = 'n1'");
    Exec(db, "UPDATE READINGS SET REA_SITE = 2 WHERE REA_CODE = 'noon'");
    Exec(db, "UPDATE READINGS SET REA_SQMVALUE = 0 WHERE REA_CODE = 'r0'");
    Exec(db, "UPDATE READINGS SET REA_SQMOFFSET = 21 WHERE REA_CODE = 'offsetup'");
    Exec(db, "DELETE FROM READINGS WHERE REA_CODE = 'r2'");
    EXPECT_EQ(NightsKept(), NightsCounted());
    EXPECT_NE(NightsKept(), counted);
    // A reading taken from a night leaves its first to be looked up.
    EXPECT_EQ(FirstsWrong(), Lines{});
    EXPECT_EQ(FirstsKnown(1), "3 | 2");  // n1 and noon left nights 10 and 11
    // One written before the others comes first.
    Exec(db, "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE) VALUES ('n2', 2, '2024-01-09 12:00:00', 20)");
    EXPECT_EQ(FirstsWrong(), Lines{});
    Exec(db, "DELETE FROM SQMSITES WHERE SIT_ID = 1");
    EXPECT_EQ(NightsKept(), NightsCounted());
    EXPECT_EQ(Rows(db, "SELECT COUNT(*) FROM NIGHTCOUNTS WHERE NCN_SITE = 1"), Lines{"0"});
}

TEST_F(SchemaUpgradeTest, AnUnknownVersionIsRefusedUntouched) {
    for (const char* version : {"2.0", "0.9"}) {
        Exec(db, std::string("UPDATE SETTINGS SET SET_DBVERSION='") + version + "'");
        const Lines metadata = Metadata(db);
        try {
            UpgradeSchema(db);
            FAIL() << version;
        } catch (const TUpgradeError& e) {
            EXPECT_EQ(e.From(), version);
            EXPECT_NE(std::string(e.what()).find(version), std::string::npos) << e.what();
        }
        EXPECT_EQ(Metadata(db), metadata);
    }
}

TEST(SchemaUpgrade, TheDeliveredFileIsAtTheCurrentVersion) {
    testsupport::TempDir dir;
    fb::Database db(testsupport::CopyPristineDb(dir.Path()));
    db.Open();
    EXPECT_EQ(DatabaseSchemaVersion(db), kSchemaVersion);
    EXPECT_EQ(UpgradeSchema(db), kSchemaVersion);
}

}  // namespace
