// The statement of waiting readings, rewritten for ten years of readings,
// returns what the statement of schema 1.0 returned, row for row and in
// the same order, on the same data: with FIRST 5 as the tick runs it, with
// other limits, and with none as a manual upload runs it.
#include <gtest/gtest.h>

#include <random>

#include "core/site/acquisition.h"
#include "core/site/waitingupload.h"
#include "support/readings_test_support.h"

namespace {

using readingstest::ReadingsFixture;

// The statement as schema 1.0 delivered it.
const char* const kPendingSQL10 =
    "SELECT FIRST :NUMREC \n"
    "REA_CODE, SIT_CODE  FROM READINGS JOIN SQMSITES ON REA_SITE=SIT_ID\n"
    "WHERE REA_SITE=:IDSITO and (REA_UPLOADED=0 or REA_MODIFIED=1) AND REA_STATE<>-1 AND REA_SQMVALUE>0\n"
    "ORDER BY REA_DATETIME DESC";

// The same first line change PendingReadingsSQL makes.
std::string Limited(const std::string& sql, int count) {
    const std::string rest = sql.substr(sql.find('\n'));
    return (count != 0 ? "SELECT FIRST " + std::to_string(count) + " " : std::string("SELECT")) + rest;
}

class PendingReadingsTest : public ReadingsFixture {
protected:
    std::vector<std::string> Pending(const std::string& sql, int site) {
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(sql);
        q.SetInteger("IDSITO", site);
        q.Open();
        std::vector<std::string> rows;
        for (; !q.Eof(); q.Next()) {
            const fb::Field code = q.FieldByName("SIT_CODE");
            rows.push_back(Trim(q.FieldByName("REA_CODE").AsString()) + " " + (code.IsNull() ? "-" : code.AsString()));
        }
        q.Close();
        tr.Commit();
        return rows;
    }
};

TEST_F(PendingReadingsTest, TheRewrittenStatementReturnsTheSameRowsInTheSameOrder) {
    AddSite(1, "AS01");
    AddSite(2, "RM02");
    AddSite(3);  // no code
    std::mt19937 random(11);
    auto pick = [&](std::initializer_list<const char*> from) {
        return std::string(*(from.begin() + random() % from.size()));
    };
    for (int i = 0; i < 900; ++i) {
        TRow r;
        r.Code = "p" + std::to_string(i);
        r.Site = pick({"1", "1", "2", "3", "NULL"});
        // Distinct times within a site; the order of equal times is the engine's own.
        r.DateTime = i == 5 ? "NULL" : "DATEADD(" + std::to_string(i * 7) + " MINUTE TO CAST('2023-06-01 20:00:00' AS DATE))";
        r.State = pick({"0", "0", "-1", "-1", "-1", "-2", "NULL", "1", "5"});
        r.Value = pick({"20.5", "19", "0", "NULL", "-1", "0.5"});
        r.Uploaded = random() % 3 == 0 ? 0 : 1;
        r.Modified = random() % 4 == 0 ? 1 : 0;
        Add(r);
    }
    Add({.Code = "undated", .Site = "2", .DateTime = "NULL", .State = "0"});

    const std::string rewritten = kPendingReadingsSQL;
    ASSERT_NE(rewritten, kPendingSQL10);
    size_t compared = 0;
    for (int site : {1, 2, 3, 4}) {
        for (int limit : {5, 0, 1, 1000}) {
            SCOPED_TRACE("site " + std::to_string(site) + ", limit " + std::to_string(limit));
            const auto expected = Pending(Limited(kPendingSQL10, limit), site);
            EXPECT_EQ(Pending(PendingReadingsSQL(limit), site), expected);
            compared += expected.size();
        }
    }
    // The data reach every branch: more than five waiting, states above 0 and
    // below -1, modified after upload, an undated one.
    const auto all = Pending(Limited(kPendingSQL10, 0), 1);
    EXPECT_GT(all.size(), 5u);
    EXPECT_GT(compared, 200u);
    EXPECT_GT(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_STATE=-2 AND REA_UPLOADED=0 AND "
                    "REA_SQMVALUE>0"), 0);
    EXPECT_GT(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_STATE=5 AND REA_UPLOADED=0 AND "
                    "REA_SQMVALUE>0"), 0);
    EXPECT_GT(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1 AND REA_STATE=0 AND REA_UPLOADED=1 AND "
                    "REA_MODIFIED=1 AND REA_SQMVALUE>0"), 0);
    const auto second = Pending(Limited(kPendingSQL10, 0), 2);
    EXPECT_NE(std::find(second.begin(), second.end(), "undated RM02    "), second.end());

    // As the tick and the manual upload run it.
    std::vector<std::string> codes;
    for (const std::string& row : Pending(PendingReadingsSQL(5), 1)) codes.push_back(row.substr(0, row.find(' ')));
    EXPECT_EQ(codes.size(), 5u);
}

}  // namespace
