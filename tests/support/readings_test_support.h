#pragma once
// A copy of the delivered database with sites and readings put in by plain
// statements, for the tests of the reading counts, the site rules, the
// deletion of a site, the statement of waiting readings and the queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace readingstest {

// Runs a statement as it is: EXECUTE BLOCK bodies use colons of their own.
inline void ExecRaw(fb::Transaction& tr, const std::string& sql) {
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, tr.Db().Handle(), tr.Handle(), 0, sql.c_str(), 1, nullptr);
    fb::Check(status);
}

// One statement in a transaction of its own.
inline void ExecAlone(fb::Database& db, const std::string& sql) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(sql);
    q.ExecSQL();
    tr.Commit();
}

// The first column of the first row as text, "<null>" for none.
inline std::string ScalarAlone(fb::Database& db, const std::string& sql) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL(sql);
    q.Open();
    const std::string v = q.Eof() || q.Fields(0).IsNull() ? "<null>" : Trim(q.Fields(0).AsString());
    q.Close();
    tr.Commit();
    return v;
}

class ReadingsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        file = testsupport::CopyPristineDb(dir.Path());
        db.SetFile(file);
        db.Open();
    }

    void Exec(fb::Transaction& tr, const std::string& sql) {
        fb::Query q(tr);
        q.SetSQL(sql);
        q.ExecSQL();
    }
    void Exec(const std::string& sql) { ExecAlone(db, sql); }
    int64_t Count(fb::Transaction& tr, const std::string& sql) {
        fb::Query q(tr);
        q.SetSQL(sql);
        q.Open();
        const int64_t n = q.Fields(0).AsInteger();
        q.Close();
        return n;
    }
    int64_t Count(const std::string& sql) {
        fb::Transaction tr(db);
        tr.Start();
        const int64_t n = Count(tr, sql);
        tr.Commit();
        return n;
    }
    std::string Scalar(const std::string& sql) { return ScalarAlone(db, sql); }
    void AddSite(int id, const std::string& code = "") {
        Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE) VALUES (" + std::to_string(id) + ", 'Site " +
             std::to_string(id) + "', " + (code.empty() ? std::string("NULL") : QuotedStr(code)) + ")");
    }
    struct TRow {
        std::string Code;
        std::string Site = "1";  // SQL text: a number or NULL
        std::string DateTime = "'2024-01-15 22:00:00'";
        std::string Value = "20.5";
        std::string State = "0";
        int Uploaded = 0;
        int Modified = 0;
    };
    static std::string InsertSql(const TRow& r) {
        return "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE, REA_UPLOADED, "
               "REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN) VALUES (" +
               QuotedStr(r.Code) + ", " + r.Site + ", " + r.DateTime + ", " + r.Value + ", " + r.State + ", " +
               std::to_string(r.Uploaded) + ", " + std::to_string(r.Modified) + ", 0, 'K')";
    }
    void Add(const TRow& r) { Exec(InsertSql(r)); }
    // One minute apart from 2020-01-01 00:00, night and daylight alternating
    // by the hour, inside the engine.
    void AddMany(fb::Transaction& tr, int site, int first, int count) {
        ExecRaw(tr, "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(first) +
                        "; DECLARE T DATE; BEGIN WHILE (I < " + std::to_string(first + count) +
                        ") DO BEGIN T = DATEADD(I MINUTE TO CAST('2020-01-01 00:00:00' AS DATE)); "
                        "INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE, "
                        "REA_UPLOADED, REA_MODIFIED) VALUES ('m' || :I || '-' || " +
                        std::to_string(site) + ", " + std::to_string(site) +
                        ", :T, IIF(MOD(:I, 120) < 60, 20, 0), IIF(MOD(:I, 120) < 60, 0, -1), IIF(MOD(:I, 7) = 0, 0, 1), "
                        "IIF(MOD(:I, 11) = 0, 1, 0)); I = I + 1; END END");
    }
    void AddMany(int site, int first, int count) {
        fb::Transaction tr(db);
        tr.Start();
        AddMany(tr, site, first, count);
        tr.Commit();
    }

    // Records the engine removed for good (garbage collection of deleted
    // rows), over the whole database, read through an attachment of its own.
    int64_t Expunges() {
        fb::Database other(file);
        other.Open();
        fb::Transaction tr(other);
        tr.Start();
        return Count(tr, "SELECT SUM(R.MON$RECORD_EXPUNGES) FROM MON$RECORD_STATS R "
                         "JOIN MON$DATABASE D ON D.MON$STAT_ID = R.MON$STAT_ID");
    }

    testsupport::TempDir dir;
    std::string file;
    fb::Database db;
};

}  // namespace readingstest
