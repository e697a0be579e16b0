// The per-site reading counts against the network page's COUNT statements on
// the same data, concurrent stores and deletions of one site under "nowait",
// the rules that replaced the foreign key, and deleting a site in slices.
#include <gtest/gtest.h>

#include <random>

#include "core/site/readingcounts.h"
#include "support/readings_test_support.h"
#include "core/site/sitelist.h"
#include "core/station/sqm.h"

namespace {

using readingstest::ReadingsFixture;

// The network page's statements, as it runs them.
const char* const kSiteReadingsSQL =
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\nwhere REA_SITE=:SIT_ID AND REA_STATE>=0";
const char* const kNewReadingsSQL =
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\n"
    "where REA_SITE=:SIT_ID AND REA_STATE>=0 AND REA_UPLOADED=0 AND REA_SQMVALUE>0";
const char* const kModifiedReadingsSQL =
    "SELECT COUNT(REA_CODE) AS NUMERO FROM READINGS\n"
    "where REA_SITE=:SIT_ID AND REA_STATE>=0 AND REA_MODIFIED=1 AND REA_SQMVALUE>0";

class ReadingCountsTest : public ReadingsFixture {
protected:
    int64_t Statement(fb::Transaction& tr, const char* sql, int site) {
        fb::Query q(tr);
        q.SetSQL(sql);
        q.SetInteger("SIT_ID", site);
        q.Open();
        const int64_t n = q.FieldByName("NUMERO").AsInteger();
        q.Close();
        return n;
    }
    // Both ways in one transaction, so both see the same rows.
    void ExpectCountsMatch(fb::Transaction& tr, const std::string& when) {
        for (int site : {1, 2, 3, 99}) {
            const TReadingCounts c = ReadReadingCounts(tr, site);
            const std::string where = when + ", site " + std::to_string(site);
            EXPECT_EQ(c.Total, Statement(tr, kSiteReadingsSQL, site)) << where;
            EXPECT_EQ(c.New, Statement(tr, kNewReadingsSQL, site)) << where;
            EXPECT_EQ(c.Modified, Statement(tr, kModifiedReadingsSQL, site)) << where;
            EXPECT_EQ(c.All, Count(tr, "SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(site))) << where;
        }
    }
    void ExpectCountsMatch(const std::string& when) {
        fb::Transaction tr(db, fb::Isolation::Concurrency);
        tr.Start();
        ExpectCountsMatch(tr, when);
        tr.Commit();
    }
    int64_t CountRows(fb::Transaction& tr, int site) {
        return Count(tr, "SELECT COUNT(*) FROM READINGCOUNTS WHERE RCN_SITE=" + std::to_string(site));
    }
    int64_t CountRows(int site) {
        fb::Transaction tr(db);
        tr.Start();
        return CountRows(tr, site);
    }
    // Fifty rows of counts for a site of AddMany: the next change folds them.
    // Each toggle of a night reading's upload flag adds one row.
    void FiftyCountRows(int site) {
        const int64_t rows = CountRows(site);
        for (int64_t i = 0; i < 50 - rows; ++i)
            Exec("UPDATE READINGS SET REA_UPLOADED=1 - REA_UPLOADED WHERE REA_CODE='m" + std::to_string(i) + "-" +
                 std::to_string(site) + "'");
        ASSERT_EQ(CountRows(site), 50);
    }
};

TEST_F(ReadingCountsTest, TheCountsAreWhatTheThreeStatementsCountThroughEveryKindOfChange) {
    for (int s : {1, 2, 3}) AddSite(s);
    ExpectCountsMatch("empty");
    std::mt19937 random(7);
    auto pick = [&](std::initializer_list<const char*> from) {
        return std::string(*(from.begin() + random() % from.size()));
    };
    const auto sites = {"1", "2", "3", "NULL"};
    std::vector<std::string> codes;
    int deletedSites = 0;
    for (int op = 0; op < 600; ++op) {
        const unsigned kind = random() % 100;
        if (kind < 50 || codes.empty()) {
            TRow r;
            r.Code = "c" + std::to_string(op);
            r.Site = pick(sites);
            r.State = pick({"0", "-1", "-1", "NULL", "1", "-2"});  // daylight readings are -1
            r.Value = pick({"20.5", "0", "NULL", "-3", "18"});
            r.Uploaded = static_cast<int>(random() % 2);
            r.Modified = static_cast<int>(random() % 2);
            Add(r);
            codes.push_back(r.Code);
        } else if (kind < 85) {
            // Uploaded, modified, revalued, moved to another site or to none.
            const std::string code = codes[random() % codes.size()];
            std::string set = "REA_UPLOADED=" + std::to_string(random() % 2) +
                              ", REA_MODIFIED=" + std::to_string(random() % 2);
            if (random() % 3 == 0) set += ", REA_STATE=" + pick({"0", "-1", "NULL"});
            if (random() % 3 == 0) set += ", REA_SQMVALUE=" + pick({"21", "0", "NULL"});
            if (random() % 4 == 0) set += ", REA_SITE=" + pick(sites);
            Exec("UPDATE READINGS SET " + set + " WHERE REA_CODE=" + QuotedStr(code));
        } else if (kind < 98) {
            const auto at = codes.begin() + random() % codes.size();
            Exec("DELETE FROM READINGS WHERE REA_CODE=" + QuotedStr(*at));
            codes.erase(at);
        } else {
            Exec("DELETE FROM SQMSITES WHERE SIT_ID=3");  // its readings go with it
            AddSite(3);
            ++deletedSites;
        }
        if (op % 20 == 0) ExpectCountsMatch("after operation " + std::to_string(op));
    }
    EXPECT_GT(deletedSites, 0);
    // A transaction undone takes its changes of the counts with it.
    {
        fb::Transaction tr(db);
        tr.Start();
        Exec(tr, "DELETE FROM READINGS WHERE REA_SITE=1");
        Exec(tr, "UPDATE READINGS SET REA_UPLOADED=0, REA_STATE=0, REA_SQMVALUE=5 WHERE REA_SITE=2");
        ExpectCountsMatch(tr, "inside a transaction");
        tr.Rollback();
    }
    ExpectCountsMatch("at the end");
    // Folded now and then: a handful of rows per site, not one per change.
    fb::Transaction tr(db);
    tr.Start();
    for (int s : {1, 2, 3}) EXPECT_LE(CountRows(tr, s), 51) << s;
    EXPECT_GT(ReadReadingCounts(tr, 1).Total + ReadReadingCounts(tr, 2).Total, 0);
}

TEST_F(ReadingCountsTest, StoresAndDeletionsOfOneSiteInTwoTransactionsBothSucceed) {
    AddSite(1);
    AddMany(1, 0, 120);
    FiftyCountRows(1);
    fb::Database other(file);  // a second attachment, as another program part would have
    other.Open();
    fb::Transaction t1(db), t2(other);
    t1.Start();
    t2.Start();
    Exec(t1, InsertSql({.Code = "t1-a", .DateTime = "'2024-02-01 21:00:00'"}));
    EXPECT_EQ(CountRows(t1, 1), 1) << "the first one folds the rows and holds them";
    // The second meets those rows held: it adds its own and goes on.
    EXPECT_NO_THROW(Exec(t2, InsertSql({.Code = "t2-a", .DateTime = "'2024-02-01 21:01:00'"})));
    EXPECT_NO_THROW(Exec(t2, "DELETE FROM READINGS WHERE REA_CODE IN ('m60-1', 'm61-1', 'm3-1')"));
    EXPECT_NO_THROW(Exec(t1, "DELETE FROM READINGS WHERE REA_CODE IN ('m62-1', 'm4-1')"));
    EXPECT_NO_THROW(Exec(t2, "UPDATE READINGS SET REA_MODIFIED=1 WHERE REA_CODE='m5-1'"));
    EXPECT_GT(CountRows(t2, 1), 50);
    ExpectCountsMatch(t1, "inside the first");
    ExpectCountsMatch(t2, "inside the second");
    t2.Commit();
    t1.Commit();
    ExpectCountsMatch("after both");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_CODE IN ('t1-a', 't2-a')"), 2);

    // The station's own store, in a transaction of its own under "nowait",
    // while another transaction deletes readings of its site.
    AddSite(2);
    AddMany(2, 0, 200);
    FiftyCountRows(2);
    fb::Transaction deleting(db);
    deleting.Start();
    Exec(deleting, "DELETE FROM READINGS WHERE REA_SITE=2 AND REA_DATETIME < '2020-01-01 01:00:00'");
    TSQM s(TSQMOptions{.Port = 0, .TimeoutSeconds = 1, .SiteId = 2});
    s.DateTime = EncodeDateTime(2024, 3, 1, 22, 0, 0);
    s.SQMValue = 20.1;
    s.Origin = 'K';
    EXPECT_TRUE(s.StoreReading(&db));
    s.Uploaded = true;
    EXPECT_TRUE(s.StoreReading(&db));
    deleting.Commit();
    ExpectCountsMatch("after the store and the deletion");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=2"), 200 - 60 + 1);
}

TEST_F(ReadingCountsTest, ASiteNamesAnExistingSiteOrNoneAndGoesWithItsReadings) {
    AddSite(1);
    AddSite(2);
    Add({.Code = "a", .Site = "1"});
    Add({.Code = "b", .Site = "2"});
    Add({.Code = "n", .Site = "NULL"});
    try {
        Add({.Code = "x", .Site = "7"});
        FAIL() << "a reading of no site was stored";
    } catch (const fb::Error& e) {
        EXPECT_NE(std::string(e.what()).find("The site 7 of reading x does not exist"), std::string::npos) << e.what();
    }
    EXPECT_THROW(Exec("UPDATE READINGS SET REA_SITE=7 WHERE REA_CODE='a'"), fb::Error);
    EXPECT_NO_THROW(Exec("UPDATE READINGS SET REA_SITE=2 WHERE REA_CODE='n'"));
    EXPECT_NO_THROW(Exec("UPDATE READINGS SET REA_SITE=NULL WHERE REA_CODE='n'"));
    EXPECT_NO_THROW(Exec("UPDATE READINGS SET REA_SQMVALUE=1 WHERE REA_CODE='a'"));
    // A site's number cannot change under its readings; without any it can.
    try {
        Exec("UPDATE SQMSITES SET SIT_ID=5 WHERE SIT_ID=1");
        FAIL() << "the number of a site with readings changed";
    } catch (const fb::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Site 1 has readings"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(Exec("UPDATE SQMSITES SET SIT_NAME='renamed' WHERE SIT_ID=1"));
    AddSite(3);
    EXPECT_NO_THROW(Exec("UPDATE SQMSITES SET SIT_ID=6 WHERE SIT_ID=3"));
    Exec("DELETE FROM SQMSITES WHERE SIT_ID=1");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGCOUNTS WHERE RCN_SITE=1"), 0);
    ExpectCountsMatch("after the deletion");
}

// Deleting a site: stopped on the way nothing goes; done, in slices with
// progress, it takes the readings stored meanwhile; the collection then
// clears them once no older transaction needs them.
TEST_F(ReadingCountsTest, ASiteIsDeletedInSlicesAndItsReadingsClearedOnceNoOlderTransactionNeedsThem) {
    AddSite(1);
    AddSite(2);
    AddMany(1, 0, 45000);
    AddMany(2, 0, 20000);
    Add({.Code = "undated", .DateTime = "NULL"});
    TSiteDeletion stopped;
    {
        fb::Transaction tr(db);
        tr.Start();
        int calls = 0;
        stopped = DeleteSite(tr, 1, [&](int64_t, int64_t) { return ++calls < 2; });
        EXPECT_FALSE(stopped.Deleted);
        EXPECT_EQ(calls, 2);
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=1"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), 45001);
    ExpectCountsMatch("after the stop");
    int collections = 0;
    CollectSiteGarbage(db, stopped, [&](int64_t, int64_t) { return ++collections > 0; });
    EXPECT_EQ(collections, 0) << "nothing to collect";

    // An older transaction still open keeps what it might see.
    fb::Transaction older(db);
    older.Start();
    Count(older, "SELECT COUNT(*) FROM SQMSITES");
    fb::Transaction tr(db);
    tr.Start();
    std::vector<std::pair<int64_t, int64_t>> progress;
    const TSiteDeletion d = DeleteSite(tr, 1, [&](int64_t done, int64_t total) {
        progress.emplace_back(done, total);
        // The site's window stores one while the deletion runs.
        if (progress.size() == 2) Add({.Code = "meanwhile", .DateTime = "'2030-01-01 00:00:00'"});
        return true;
    });
    EXPECT_TRUE(d.Deleted);
    EXPECT_EQ(d.Readings, 45001);
    EXPECT_EQ(FormatSqlDateTime(d.First), "2020-01-01 00:00:00");
    EXPECT_EQ(FormatSqlDateTime(d.Last), "2020-02-01 05:59:00");
    ASSERT_GE(progress.size(), 4u) << "a start, three slices and the end";
    for (size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].second, 45001);
        if (i) {
            EXPECT_GE(progress[i].first, progress[i - 1].first);
        }
    }
    EXPECT_EQ(progress.front().first, 0);
    EXPECT_EQ(progress.back().first, 45001);
    EXPECT_TRUE(tr.Active()) << "kept open after the commit";
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=1"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=2"), 20000);
    ExpectCountsMatch("after the deletion");

    int64_t before = Expunges();
    CollectSiteGarbage(db, d);
    EXPECT_EQ(Expunges() - before, 0);
    older.CommitRetaining();
    before = Expunges();
    CollectSiteGarbage(db, d);
    EXPECT_EQ(Expunges() - before, 0) << "a retained transaction is as old as it was";
    older.Commit();
    // Once it has ended the collection removes them, and the next reader of
    // those pages has nothing left to do.
    progress.clear();
    before = Expunges();
    CollectSiteGarbage(db, d, [&](int64_t done, int64_t total) {
        progress.emplace_back(done, total);
        return true;
    });
    EXPECT_GE(Expunges() - before, 40000);
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front().first, 0);
    EXPECT_EQ(progress.back(), std::make_pair(int64_t{45001}, int64_t{45001}));
    before = Expunges();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=1"), 0);
    EXPECT_EQ(Expunges() - before, 0);
    // Straight after a deletion with no older transaction about.
    const TSiteDeletion second = DeleteSite(tr, 2);
    before = Expunges();
    CollectSiteGarbage(db, second);
    EXPECT_GE(Expunges() - before, 18000);
}

}  // namespace
