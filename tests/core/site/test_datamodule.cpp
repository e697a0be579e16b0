// The data module over a real copy of the delivered database.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/site/datamodule.h"
#include "core/station/programlayout.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace {

// A program folder of its own; the error boxes are collected.
class DataModuleOpen : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        data.OnError = [this](const std::string& m) { errors.push_back(m); };
    }
    testsupport::TempDir dir;
    std::vector<std::string> errors;
    TData data;
};

// ... opened on a copy of the delivered database.
class DataModuleTest : public DataModuleOpen {
protected:
    void SetUp() override {
        DataModuleOpen::SetUp();
        testsupport::CopyPristineDb(dir.Path());
        ASSERT_TRUE(data.DataModuleCreate());
    }
    void Exec(const std::string& sql) {
        fb::Query q(data.trKALO);
        q.SetSQL(sql);
        q.ExecSQL();
        data.trKALO.CommitRetaining();
    }
};

TEST_F(DataModuleTest, OpensTheDatabaseBesideTheProgramWithTheTimeServersAndShutdownRollsBackWorkLeftOpen) {
    EXPECT_EQ(data.DatabaseFile(), dir.Str() + "/Dati/KALOSQMDATA.FDB");
    EXPECT_TRUE(data.dbKALO.Connected());
    EXPECT_TRUE(data.tbNTPServers.Active());
    EXPECT_FALSE(data.tbSettings.Active());  // opened only when needed
    EXPECT_GT(data.tbNTPServers.RecordCount(), 0);
    EXPECT_TRUE(errors.empty());

    fb::Query q(data.trKALO);
    q.SetSQL("DELETE FROM NTPSERVERS");
    q.ExecSQL();
    data.DataModuleDestroy();
    EXPECT_FALSE(data.dbKALO.Connected());
    ASSERT_TRUE(data.DataModuleCreate());
    EXPECT_GT(data.tbNTPServers.RecordCount(), 0);
}

TEST_F(DataModuleTest, CountSitesWithAndWithoutCodes) {
    EXPECT_EQ(data.CountSites(false), 0);
    Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (1, 'a')");
    Exec("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (2, 'b')");
    EXPECT_EQ(data.CountSites(false), 2);
    EXPECT_EQ(data.CountSites(true), 0);
    Exec("UPDATE SQMSITES SET SIT_CODE='AB12' WHERE SIT_ID=2");
    EXPECT_EQ(data.CountSites(true), 1);
    data.dbKALO.Close();
    EXPECT_EQ(data.CountSites(false), -1);
    EXPECT_TRUE(errors.empty());
}

TEST_F(DataModuleTest, SettingsReadersFollowTheRowAndSeeTheDialogsUnsavedEditsLeavingItsRowOpen) {
    Exec("UPDATE SETTINGS SET SET_USEINTERTETTIME=1, SET_SYNCLOCK=0, SET_UPLOADDATA=1, SET_UPLOADMODE=1");
    EXPECT_TRUE(data.UseInternetTime());
    EXPECT_FALSE(data.SyncClockEnabled());
    EXPECT_FALSE(data.UploadEnabled(true));  // manual mode
    EXPECT_TRUE(data.UploadEnabled(false));
    EXPECT_FALSE(data.tbSettings.Active());  // closed again after each read
    Exec("UPDATE SETTINGS SET SET_UPLOADMODE=0, SET_SYNCLOCK=1");
    EXPECT_TRUE(data.UploadEnabled(true));
    EXPECT_TRUE(data.SyncClockEnabled());
    Exec("UPDATE SETTINGS SET SET_UPLOADDATA=0");
    EXPECT_FALSE(data.UploadEnabled(false));

    data.tbSettings.Open();  // as the settings dialog does
    data.tbSettings.SetField("SET_USEINTERTETTIME", int64_t{0});
    EXPECT_EQ(data.tbSettings.GetState(), TDataSet::State::Edit);
    EXPECT_FALSE(data.UseInternetTime());
    EXPECT_TRUE(data.tbSettings.Active());
    EXPECT_EQ(data.tbSettings.GetState(), TDataSet::State::Edit);
    data.tbSettings.Cancel();
    EXPECT_TRUE(data.UseInternetTime());
    data.tbSettings.SetField("SET_SYNCFREQ", int64_t{15});
    data.tbSettings.Post();
    data.trKALO.CommitRetaining();
    data.tbSettings.Close();
    data.tbSettings.Open();
    EXPECT_EQ(data.tbSettings.AsInteger("SET_SYNCFREQ"), 15);
}

TEST_F(DataModuleTest, TimeServerRowsAreUpdatedByTheirFormerHost) {
    auto& ds = data.tbNTPServers;
    ds.First();
    const std::string oldHost = ds.AsString("NTP_HOST");
    ds.SetField("NTP_HOST", std::string("renamed.example"));
    ds.Post();
    ds.Insert();
    ds.SetField("NTP_HOST", std::string("added.example"));
    ds.SetField("NTP_ORDER", int64_t{99});
    ds.Post();
    data.trKALO.CommitRetaining();
    ds.Refresh();
    std::vector<std::string> hosts;
    for (ds.First(); !ds.Eof(); ds.Next()) hosts.push_back(ds.AsString("NTP_HOST"));
    EXPECT_EQ(hosts.front(), "renamed.example");
    EXPECT_EQ(hosts.back(), "added.example");
    EXPECT_EQ(std::count(hosts.begin(), hosts.end(), oldHost), 0);
    // A duplicate host is refused and the row is not stored.
    ds.Insert();
    ds.SetField("NTP_HOST", std::string("added.example"));
    EXPECT_THROW(ds.Post(), fb::Error);
}

// Not uploaded or modified since, not daylight, a positive value; newest first, at most NUMREC, of the one site.
TEST_F(DataModuleTest, PendingStatementSelectsWaitingNightReadingsNewestFirst) {
    Exec("INSERT INTO SQMSITES (SIT_ID, SIT_CODE, SIT_NAME) VALUES (4, 'AB12', 'a')");
    Exec("INSERT INTO SQMSITES (SIT_ID, SIT_CODE, SIT_NAME) VALUES (5, 'ZZ99', 'b')");
    const char* rows[] = {
        "('r1', 4, '2020-01-01 01:00:00', 20, 0, 0, 0)",   // waiting
        "('r2', 4, '2020-01-01 03:00:00', 20, 0, 1, 1)",   // uploaded then modified: waiting
        "('r3', 4, '2020-01-01 02:00:00', 20, 0, 1, 0)",   // uploaded
        "('r4', 4, '2020-01-01 04:00:00', 20, -1, 0, 0)",  // daylight
        "('r5', 4, '2020-01-01 05:00:00', 0, 0, 0, 0)",    // no value
        "('r6', 5, '2020-01-01 06:00:00', 20, 0, 0, 0)",   // other site
        "('r7', 4, '2019-12-31 23:00:00', 19, 0, 0, 0)",   // waiting, oldest
    };
    for (const char* r : rows)
        Exec(std::string("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE, "
                         "REA_UPLOADED, REA_MODIFIED) VALUES ") + r);
    for (const auto& [limit, expected] : {std::pair<int, std::vector<std::string>>{5, {"r2", "r1", "r7"}}, {2, {"r2", "r1"}}}) {
        fb::Query pending(data.trKALO);
        pending.SetSQL(TData::kPendingSQL);
        pending.SetInteger("NUMREC", limit);
        pending.SetInteger("IDSITO", 4);
        pending.Open();
        std::vector<std::string> codes;
        for (; !pending.Eof(); pending.Next()) {
            codes.push_back(Trim(pending.FieldByName("REA_CODE").AsString()));
            EXPECT_EQ(pending.FieldByName("SIT_CODE").AsString(), "AB12    ");
        }
        pending.Close();
        EXPECT_EQ(codes, expected) << limit;
    }
}

// A file of schema 1.0 in Dati, with a site and a reading.
std::string OlderDatabase(const testsupport::TempDir& dir, const std::string& extra = "") {
    std::filesystem::create_directories(dir.Path() / "Dati");
    const std::string file = (dir.Path() / "Dati" / "KALOSQMDATA.FDB").string();
    std::filesystem::copy_file(KALO_SCHEMA10_DB, file);
    fb::Database db(file);
    db.Open();
    db.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (1, 'Roof')");
    db.ExecuteImmediate("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_STATE, REA_SQMVALUE) VALUES ('k1', 1, 0, 20.5)");
    if (!extra.empty()) db.ExecuteImmediate(extra);
    return file;
}

std::string VersionOf(const std::string& file) {
    fb::Database db(file);
    db.Open();
    return DatabaseSchemaVersion(db);
}

TEST_F(DataModuleOpen, AnOlderFileIsBroughtUpToDateWhenOpenedTellingEachStep) {
    const std::string file = OlderDatabase(dir);
    std::vector<TUpgradeStep> steps;
    data.OnUpgradeProgress = [&](const TUpgradeStep& s) { steps.push_back(s); };
    ASSERT_TRUE(data.DataModuleCreate());
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(data.UpgradeFailed());
    EXPECT_GT(steps.size(), 5u);
    fb::Query q(data.trKALO);
    q.SetSQL("SELECT REA_CODE FROM READINGS");
    q.Open();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(Trim(q.Fields(0).AsString()), "k1");
    q.Close();
    data.DataModuleDestroy();
    EXPECT_EQ(VersionOf(file), kSchemaVersion);
    // The next start finds nothing to do.
    steps.clear();
    ASSERT_TRUE(data.DataModuleCreate());
    EXPECT_TRUE(steps.empty());
}

TEST_F(DataModuleOpen, AFailedUpgradeSaysWhyAndLeavesTheFileAsItWas) {
    // An object of the new schema in the way makes the upgrade fail midway.
    const std::string file = OlderDatabase(dir, "CREATE EXCEPTION E_SITE_HAS_READINGS 'in the way'");
    EXPECT_FALSE(data.DataModuleCreate());
    EXPECT_TRUE(data.UpgradeFailed());
    EXPECT_FALSE(data.dbKALO.Connected());
    ASSERT_EQ(errors.size(), 1u);
    const std::string head = "The database could not be updated from version 1.0 to " + std::string(kSchemaVersion) +
                             ": it was left as it was, with all its readings.\n" + file + "\n";
    EXPECT_EQ(errors[0].substr(0, head.size()), head);
    EXPECT_NE(errors[0].find("E_SITE_HAS_READINGS"), std::string::npos) << errors[0];
    EXPECT_EQ(VersionOf(file), "1.0");
}

TEST_F(DataModuleOpen, AMissingOrDamagedFileShowsTheMessage) {
    const std::string file = data.DatabaseFile();
    EXPECT_FALSE(data.DataModuleCreate());
    EXPECT_EQ(data.OpenFailure().Kind, TOpenFailure::TKind::Missing);
    std::filesystem::create_directories(dir.Path() / "Dati");
    std::ofstream(dir.Path() / "Dati" / "KALOSQMDATA.FDB") << "not a database";
    EXPECT_FALSE(data.DataModuleCreate());
    EXPECT_EQ(data.OpenFailure().Kind, TOpenFailure::TKind::Engine);
    ASSERT_EQ(errors.size(), 2u);
    // Missing: where one comes from; damaged: the engine's reason. Nobody holds either.
    EXPECT_EQ(errors[0], "There is no database at " + file + ".\nCopy the delivered one, " +
                             ThisProgramLayout().DeliveredDatabase() +
                             ", there, or start the desktop program kalosqm once: its first start makes it.");
    const std::string head = "The database " + file + " cannot be opened:\n";
    EXPECT_EQ(errors[1].substr(0, head.size()), head) << errors[1];
    EXPECT_GT(errors[1].size(), head.size() + 10) << errors[1];
    for (const auto& e : errors) EXPECT_EQ(e.find("already active"), std::string::npos) << e;
    EXPECT_FALSE(data.dbKALO.Connected());
}

TEST_F(DataModuleOpen, OnlyAFileAnotherProgramHoldsGetsTheAlreadyActiveWords) {
    const std::string file = data.DatabaseFile();
    const std::string held = "I/O error during \"lock\" operation for file \"" + file +
                             "\"\n-Database already opened with engine instance, incompatible with current";
    std::filesystem::create_directories(dir.Path() / "Dati");
    std::ofstream(file) << "x";
    EXPECT_EQ(ExplainOpenFailure(file, held).Kind, TOpenFailure::TKind::InUse);
    EXPECT_EQ(ExplainOpenFailure(file, held).Text, "Another software session is already active: impossible to continue");
    const TOpenFailure denied = ExplainOpenFailure(
        file, "I/O error during \"open\" operation for file \"" + file + "\"\n-Error while trying to open file\n-Permission denied");
    EXPECT_EQ(denied.Kind, TOpenFailure::TKind::Engine);
    EXPECT_NE(denied.Text.find("-Permission denied"), std::string::npos) << denied.Text;
}

}  // namespace
