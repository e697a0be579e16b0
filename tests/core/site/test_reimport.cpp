// A station's own night file imported again: the readings the meter gave
// stay as they are (origin, upload and synchronisation flags, values); only
// readings that came from an earlier import are updated.
#include "core/site/communityfile.h"
#include "core/site/nightfile.h"
#include "support/site_test_support.h"

using namespace sitetest;

namespace {

class Reimport : public SiteFixture {
protected:
    // Every column of every reading of the site, as text, by key.
    std::map<std::string, std::string> Rows(int site) {
        std::map<std::string, std::string> rows;
        fb::Transaction tr(Db());
        tr.Start();
        fb::Query q(tr);
        q.SetSQL("SELECT * FROM READINGS WHERE REA_SITE=" + std::to_string(site));
        for (q.Open(); !q.Eof(); q.Next()) {
            std::string row;
            for (int i = 0; i < q.FieldCount(); ++i)
                row += q.Fields(i).Name() + "=" + (q.Fields(i).IsNull() ? "NULL" : Trim(q.Fields(i).AsString())) + " ";
            rows[Trim(q.FieldByName("REA_CODE").AsString())] = row;
        }
        q.Close();
        tr.Commit();
        return rows;
    }
};

TEST_F(Reimport, AStationsOwnNightFileLeavesItsMeterReadingsAsTheyAreAndUpdatesOnlyAnImportedOne) {
    const int id = AddSite({.Interval = 1, .Latitude = "45.8664", .Longitude = "11.5264"});
    clock.now = EncodeDateTime(2024, 1, 15, 22, 0, 0);
    TSite s(*this, id);
    s.acq.StartOrStop();
    Run(s, 3);  // 22:00 to 22:03, a reading a minute
    s.acq.Stop();
    const auto* writer = dynamic_cast<const TNightFileWriter*>(s.acq.NightFile());
    ASSERT_NE(writer, nullptr);
    const std::string path = writer->LastPath();
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    ASSERT_EQ(Stored(id).size(), 4u);

    // Uploaded and synchronised, as on a station that has its network and its time.
    Exec("UPDATE READINGS SET REA_UPLOADED=1, REA_SYNCRO=1 WHERE REA_SITE=" + std::to_string(id));
    // One key holds a reading an earlier import brought, with another value.
    const std::string imported = Stored(id)[2].Code;
    Exec("UPDATE READINGS SET REA_ORIGIN='I', REA_SQMVALUE=12.5 WHERE REA_CODE='" + imported + "'");
    std::map<std::string, std::string> before = Rows(id);

    const TCommunityImport r = ImportCommunityFile(Db(), ReadSiteRow(Db(), id), path);
    EXPECT_EQ(r.Read, 4u);
    EXPECT_EQ(r.Inserted, 0u);
    EXPECT_EQ(r.Updated, 1u);
    EXPECT_EQ(r.AlreadyStored, 3u);
    EXPECT_EQ(r.Skipped(), 0u);

    std::map<std::string, std::string> after = Rows(id);
    ASSERT_EQ(after.size(), 4u);
    // The imported one took the file's value and the import's flags.
    const auto stored = Stored(id);
    EXPECT_NE(after[imported], before[imported]);
    EXPECT_EQ(stored[2].Value, ReadCommunityFile(path).Rows[2].Msas);
    EXPECT_EQ(stored[2].Uploaded, 0);
    EXPECT_EQ(stored[2].Syncro, 0);
    // The meter's readings are untouched, column by column.
    after.erase(imported);
    before.erase(imported);
    EXPECT_EQ(after, before);
    for (const auto& [key, row] : after) EXPECT_NE(row.find("REA_ORIGIN=K "), std::string::npos) << row;
}

}  // namespace
