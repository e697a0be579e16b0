// The site actions every shell calls, over a real copy of the delivered
// database and the real SQM-LE simulator: adding a site with its defaults,
// the rules that refuse a save, updating, "Check connection", removing after
// the two questions, the autostart list and the state of a site's credentials.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/station/credentials.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "core/site/readingwindow.h"
#include "core/site/siteactions.h"
#include "core/site/siterules.h"
#include "core/site/siteedit.h"
#include "core/site/siterow.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"
#include "support/readings_test_support.h"
#include "support/testsupport.h"

namespace {

using TSiteActions::TSiteFields;
using TSiteRules::TSiteRefusal;

const char* const kOneMinute = "Please note, you cannot specify a range of time less than 1 minute";

// Answers the questions from a script, keeping their texts; a question
// beyond the script fails the test.
class ScriptedAnswers : public IPrompt {
public:
    explicit ScriptedAnswers(std::deque<bool> answers) : answers_(std::move(answers)) {}
    void Inform(const std::string& text) override { ADD_FAILURE() << "information: " << text; }
    void Error(const std::string& text) override { ADD_FAILURE() << "error: " << text; }
    bool Confirm(const std::string& text) override {
        questions.push_back(text);
        if (answers_.empty()) {
            ADD_FAILURE() << "an unexpected question: " << text;
            return false;
        }
        const bool a = answers_.front();
        answers_.pop_front();
        return a;
    }
    std::vector<std::string> questions;

private:
    std::deque<bool> answers_;
};

class SiteActions : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        db.Open();
    }

    void Exec(const std::string& sql) { readingstest::ExecAlone(db, sql); }
    std::string Scalar(const std::string& sql) { return readingstest::ScalarAlone(db, sql); }
    int Count(const std::string& sql) { return std::stoi(Scalar(sql)); }
    std::string Column(int id, const std::string& column) {
        return Scalar("SELECT " + column + " FROM SQMSITES WHERE SIT_ID=" + std::to_string(id));
    }

    int Add(const TSiteFields& fields, TZoneInfo zone = {}) {
        fb::Transaction tr(db);
        tr.Start();
        const int id = TSiteActions::AddSite(tr, fields, zone);
        tr.Commit();
        return id;
    }
    // Adds a site with fields and updates kept with update, in one
    // transaction: with no refusal both go through and are taken back;
    // otherwise both throw it and nothing is written.
    void AddAndUpdate(const TSiteFields& fields, int kept, const TSiteFields& update, const std::string& refusal) {
        fb::Transaction tr(db);
        tr.Start();
        if (refusal.empty()) {
            EXPECT_NO_THROW(TSiteActions::AddSite(tr, fields, {}));
            EXPECT_NO_THROW(TSiteActions::UpdateSite(tr, kept, update));
            tr.Rollback();
            return;
        }
        try {
            TSiteActions::AddSite(tr, fields, {});
            ADD_FAILURE() << "added";
        } catch (const TSiteRefusal& e) {
            EXPECT_EQ(e.what(), refusal);
        }
        try {
            TSiteActions::UpdateSite(tr, kept, update);
            ADD_FAILURE() << "updated";
        } catch (const TSiteRefusal& e) {
            EXPECT_EQ(e.what(), refusal);
        }
        tr.Commit();
    }
    int AddRoof(int port = 10001) {
        return Add({{"SIT_NAME", std::string("Roof")}, {"SIT_SQMHOST", std::string("127.0.0.1")},
                    {"SIT_SQMPORT", int64_t{port}}, {"SIT_TIMEOUT", int64_t{1}}});
    }
    void AddReadings(int site, int n) {
        for (int i = 0; i < n; ++i)
            Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE) VALUES ('" +
                 std::to_string(site) + "-" + std::to_string(i) + "', " + std::to_string(site) +
                 ", '2024-01-15 22:" + std::to_string(10 + i) + ":00', 21.3, 0)");
    }

    testsupport::TempDir dir;
    fb::Database db{testsupport::CopyPristineDb(dir.Path())};
};

TEST_F(SiteActions, AddGivesTheNewSiteDefaultsAndTheNextNumberOfTheGenerator) {
    // Standard time one hour ahead of UTC, daylight saving in force: the zone is +1.
    const int first = Add({{"SIT_NAME", std::string("Roof")}, {"SIT_SQMHOST", std::string("meter")}},
                          TZoneInfo{.BiasMinutes = -60, .Daylight = true});
    EXPECT_EQ(first, 1);
    const std::pair<const char*, const char*> defaults[] = {
        {"SIT_NAME", "Roof"},       {"SIT_SQMHOST", "meter"},   {"SIT_ACQUIREMODE", "0"}, {"SIT_SQMPORT", "10001"},
        {"SIT_TIMEZONE", "1"},      {"SIT_INTERVAL", "1"},      {"SIT_OFFSET", "0"},   {"SIT_AUTOSTART", "0"},
        {"SIT_DAYREADING", "0"},    {"SIT_DAYINTERVAL", "10"},  {"SIT_TIMEOUT", "10"},    {"SIT_AUTOUPLOAD", "1"},
        {"SIT_LATIT", "<null>"},    {"SIT_CODE", "<null>"},     {"SIT_SQMSERIAL", "<null>"},
    };
    for (const auto& [column, value] : defaults) EXPECT_EQ(Column(first, column), value) << column;

    // A given field wins over its default; a number taken is never given again.
    Exec("DELETE FROM SQMSITES WHERE SIT_ID=1");
    const int second = Add({{"SIT_NAME", std::string("Garden")}, {"SIT_INTERVAL", int64_t{15}}});
    EXPECT_EQ(second, 2);
    EXPECT_EQ(Column(second, "SIT_INTERVAL"), "15");
}

TEST_F(SiteActions, TheRulesRefuseEveryValueOutOfItsRangeAndWriteNothing) {
    const struct {
        const char* column;
        fb::Value value;
        std::string refusal;  // empty: accepted
    } cases[] = {
        {"SIT_LATIT", 95.0, "the latitude must be a number from -90 to 90, not 95"},
        {"SIT_LATIT", -90.5, "the latitude must be a number from -90 to 90, not -90.5"},
        {"SIT_LATIT", 90.0, ""},
        {"SIT_LONG", -181.0, "the longitude must be a number from -180 to 180, not -181"},
        {"SIT_LONG", -180.0, ""},
        {"SIT_SQMPORT", int64_t{0}, "the port must be a whole number from 1 to 65535, not 0"},
        {"SIT_SQMPORT", int64_t{65536}, "the port must be a whole number from 1 to 65535, not 65536"},
        {"SIT_SQMPORT", int64_t{65535}, ""},
        {"SIT_SQMPORT", fb::Value{}, "the port is required: a whole number from 1 to 65535"},  // not read as 0
        {"SIT_INTERVAL", int64_t{0}, kOneMinute},
        {"SIT_INTERVAL", fb::Value{}, kOneMinute},  // an empty interval counts as 0
        {"SIT_INTERVAL", int64_t{1441}, "the interval must be a whole number from 0 to 1440, not 1441"},
        {"SIT_TIMEOUT", int64_t{0}, "the timeout must be a whole number from 1 to 3600, not 0"},
        {"SIT_ALT", int64_t{9001}, "the altitude must be a whole number from -500 to 9000, not 9001"},
        {"SIT_TIMEZONE", int64_t{15}, "the time zone must be a whole number from -12 to 14, not 15"},
        {"SIT_OFFSET", 10.5, "the offset must be a number from -10 to 10, not 10.5"},
        {"SIT_ACQUIREMODE", int64_t{4}, "the method must be a whole number from 0 to 3, not 4"},
        {"SIT_DAYINTERVAL", int64_t{-1}, "the daylight interval must be a whole number from 0 to 1440, not -1"},
        {"SIT_DAYINTERVAL", fb::Value{}, ""},  // no daylight interval: every tick
        {"SIT_STARTTIME", fb::DateTime{1.25}, "a time of day HH:MM (UTC), not 1.25"},
        {"SIT_STOPTIME", fb::DateTime{EncodeTime(23, 59, 0)}, ""},
    };
    const int kept = Add({{"SIT_NAME", std::string("Kept")}, {"SIT_LATIT", 45.0}});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column) + (c.refusal.empty() ? " accepted" : ": " + c.refusal));
        const TSiteFields fields = {{"SIT_NAME", std::string("New")}, {c.column, c.value}};
        if (c.refusal.empty()) {
            AddAndUpdate(fields, kept, {{c.column, c.value}}, c.refusal);
            continue;
        }
        AddAndUpdate(fields, kept, {{"SIT_NAME", std::string("Changed")}, {c.column, c.value}}, c.refusal);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES"), 1);
        EXPECT_EQ(Column(kept, "SIT_NAME"), "Kept");
        EXPECT_EQ(ReadSiteRow(db, kept).Latitude, 45.0);
    }
}

TEST_F(SiteActions, ABlankNameAndABlankInTheHostAreRefusedOnAddAndUpdateAndWriteNothing) {
    const std::string longName = std::string(254, 'x') + "\xC3\xA8";  // 255 characters in 256 bytes
    const struct {
        const char* column;
        fb::Value value;
        std::string refusal;  // empty: accepted
    } cases[] = {
        {"SIT_NAME", fb::Value{}, "the name must not be empty"},  // an emptied field of the window
        {"SIT_NAME", std::string(" \t"), "the name must not be empty"},
        {"SIT_NAME", std::string(256, 'x'), "at most 255 characters, not 256"},
        {"SIT_NAME", longName, ""},
        {"SIT_NAME", std::string("Roof\xFF"), "the text is not valid UTF-8"},
        {"SIT_SQMHOST", std::string("my meter"), "a host name has no blanks: 'my meter'"},
        {"SIT_SQMHOST", std::string("meter\t"), "a host name has no blanks: 'meter\t'"},
        {"SIT_SQMHOST", std::string(" "), "the host must not be empty"},
        {"SIT_SQMHOST", std::string(101, 'h'), "at most 100 characters, not 101"},
        {"SIT_SQMHOST", fb::Value{}, ""},  // not chosen yet
        {"SIT_SQMHOST", std::string("sqm-le.local"), ""},
    };
    const int kept = Add({{"SIT_NAME", std::string("Kept")}, {"SIT_SQMHOST", std::string("meter")}});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column) + (c.refusal.empty() ? " accepted" : ": " + c.refusal));
        // The words are those the command line gives for the option's text.
        if (const auto* text = std::get_if<std::string>(&c.value)) {
            EXPECT_EQ(TSiteRules::TextRefusal(*TSiteRules::TextFieldOf(c.column), *text), c.refusal);
        }
        TSiteFields fields = {{"SIT_NAME", std::string("New")}};
        fields[c.column] = c.value;
        AddAndUpdate(fields, kept, {{c.column, c.value}}, c.refusal);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES"), 1);
        EXPECT_EQ(Column(kept, "SIT_NAME"), "Kept");
        EXPECT_EQ(Column(kept, "SIT_SQMHOST"), "meter");
    }
    EXPECT_EQ(TSiteRules::TextFieldOf("SIT_CODE"), nullptr);
}

TEST_F(SiteActions, UpdateChangesOnlyTheGivenFieldsOfAnExistingSite) {
    const int id = AddRoof();
    const int other = Add({{"SIT_NAME", std::string("Other")}});
    fb::Transaction tr(db);
    tr.Start();
    TSiteActions::UpdateSite(tr, id, {{"SIT_LATIT", -33.5}, {"SIT_AUTOSTART", int64_t{1}}});
    try {
        TSiteActions::UpdateSite(tr, 99, {{"SIT_NAME", std::string("Ghost")}});
        ADD_FAILURE() << "a missing site was updated";
    } catch (const TSiteRefusal& e) {
        EXPECT_STREQ(e.what(), "there is no site with id 99");
    }
    tr.Commit();
    const TSiteRow row = ReadSiteRow(db, id);
    EXPECT_EQ(row.Latitude, -33.5);
    EXPECT_TRUE(row.AutoStart);
    EXPECT_EQ(row.Name, "Roof");
    EXPECT_EQ(row.TimeoutSeconds, 1);
    EXPECT_EQ(ReadSiteRow(db, other).Latitude, std::nullopt);
    EXPECT_FALSE(ReadSiteRow(db, other).AutoStart);
}

class CheckConnection : public SiteActions {
protected:
    // The record of the site as a window holds it, and the station a test makes.
    TSiteActions::TMeterCheck Check(fb::Transaction& tr, int id, const std::function<void(TDataSet&)>& edit = {}) {
        TDataSet record = TSiteActions::SiteRecord(tr);
        TSiteActions::WireRecord(record, {});
        record.SetParam("ID_SITO", int64_t{id});
        record.Open();
        if (edit) edit(record);
        return TSiteActions::CheckConnection(record, nullptr, [&]() -> TSQM& {
            made = factory.Create(TSiteEdit::TestStationParams(TSiteActions::RowOf(record), db));
            return *made;
        });
    }
    TStationFactory factory;
    std::unique_ptr<TSQM> made;
};

TEST_F(CheckConnection, AnAnsweringMeterLeavesItsIdentityWithThePendingEditsOfTheSite) {
    SqmSimConfig identity;
    identity.Protocol = 4;
    identity.Model = 3;
    identity.Feature = 61;
    identity.Serial = 4242;
    SqmSimulator sim(identity);
    sim.Start();
    const int id = AddRoof(sim.Port());
    fb::Transaction tr(db);
    tr.Start();
    const auto check = Check(tr, id, [](TDataSet& r) { r.SetField("SIT_NAME", std::string("Roof, renamed")); });
    tr.Commit();
    EXPECT_TRUE(check.Found);
    EXPECT_TRUE(check.Stored);
    EXPECT_EQ(std::get<int64_t>(check.Identity.at("SIT_SQMSERIAL")), 4242);
    EXPECT_EQ(Column(id, "SIT_SQMPROT") + " " + Column(id, "SIT_SQMMODEL") + " " + Column(id, "SIT_SQMFEATURE") + " " +
                  Column(id, "SIT_SQMSERIAL"),
              "4 3 61 4242");
    EXPECT_EQ(Column(id, "SIT_NAME"), "Roof, renamed");
}

TEST_F(CheckConnection, NoIdentityARefusedConnectionOrARefusedSaveStoresNothing) {
    SqmSimConfig noSerial;
    noSerial.Serial = 0;  // answers, without a serial number
    SqmSimulator zero(noSerial);
    zero.Start();
    SqmSimulator good;
    good.Start();
    const int id = AddRoof(zero.Port());
    fb::Transaction tr(db);
    tr.Start();
    const auto check = Check(tr, id);
    EXPECT_FALSE(check.Found);
    EXPECT_FALSE(check.Stored);

    TSiteActions::UpdateSite(tr, id, {{"SIT_SQMPORT", int64_t{testsupport::ClosedPort()}}});
    EXPECT_THROW(Check(tr, id), std::exception);

    // The meter answers, but the pending edit breaks a rule: the save is refused with it.
    TSiteActions::UpdateSite(tr, id, {{"SIT_SQMPORT", int64_t{good.Port()}}});
    try {
        Check(tr, id, [](TDataSet& r) { r.SetField("SIT_LATIT", 95.0); });
        ADD_FAILURE() << "saved with a latitude of 95";
    } catch (const TSiteRefusal& e) {
        EXPECT_STREQ(e.what(), "the latitude must be a number from -90 to 90, not 95");
    }
    tr.Commit();
    EXPECT_EQ(good.Requests(), 1);
    EXPECT_EQ(Column(id, "SIT_SQMSERIAL"), "<null>");
    EXPECT_EQ(ReadSiteRow(db, id).Latitude, std::nullopt);
}

TEST_F(SiteActions, RemoveDeletesOnlyAfterYesToTheFirstQuestionAndNoToTheSecond) {
    const int keep = Add({{"SIT_NAME", std::string("Other")}});
    const int id = Add({{"SIT_NAME", std::string("Roof 50%")}});
    AddReadings(keep, 2);
    AddReadings(id, 3);
    const std::string first = "Delete the selected site?";
    const std::string second =
        "By clicking NO Site \"Roof 50%\" and all its readings will be deleted!\rPlease note this can not be "
        "undone!\rCancel the operation?";
    const struct {
        std::deque<bool> answers;
        std::vector<std::string> asked;
        bool deleted;
    } cases[] = {
        {{false}, {first}, false},
        {{true, true}, {first, second}, false},
        {{true, false}, {first, second}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked.size());
        ScriptedAnswers prompt(c.answers);
        std::vector<std::string> steps;
        TSiteActions::TRemovalSteps progress;
        progress.Deleting = [&](int64_t done, int64_t total) {
            steps.push_back("deleting " + std::to_string(done) + "/" + std::to_string(total));
            return true;
        };
        progress.Deleted = [&] { steps.push_back("deleted"); };
        progress.Collecting = [&](int64_t done, int64_t total) {
            steps.push_back("collecting " + std::to_string(done) + "/" + std::to_string(total));
            return true;
        };
        fb::Transaction tr(db);
        tr.Start();
        const TSiteDeletion d = TSiteActions::RemoveSite(tr, id, prompt, progress);
        tr.Commit();
        EXPECT_EQ(prompt.questions, c.asked);
        EXPECT_EQ(d.Deleted, c.deleted);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=" + std::to_string(id)), c.deleted ? 0 : 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(id)), c.deleted ? 0 : 3);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(keep)), 2);
        if (c.deleted) {
            EXPECT_EQ(d.Readings, 3);
            EXPECT_EQ(steps.front(), "deleting 0/3");
            EXPECT_NE(std::find(steps.begin(), steps.end(), "deleted"), steps.end());
            EXPECT_EQ(steps.back(), "collecting 3/3");
        } else {
            EXPECT_TRUE(steps.empty()) << steps.front();
        }
    }
}

TEST_F(SiteActions, RemoveRefusesAMissingSiteBeforeAnyQuestionAndAStoppedProgressKeepsItAll) {
    const int id = Add({{"SIT_NAME", std::string("Roof")}});
    AddReadings(id, 2);
    fb::Transaction tr(db);
    tr.Start();
    ScriptedAnswers none({});
    EXPECT_EQ(TSiteActions::RemovalRefusal(tr, 77), "there is no site with id 77");
    EXPECT_EQ(TSiteActions::RemovalRefusal(tr, id), "");
    EXPECT_THROW(TSiteActions::RemoveSite(tr, 77, none), TSiteRefusal);
    EXPECT_TRUE(none.questions.empty());

    ScriptedAnswers deleting({true, false});
    TSiteActions::TRemovalSteps stop;
    stop.Deleting = [](int64_t, int64_t) { return false; };
    stop.Deleted = [] { ADD_FAILURE() << "deleted"; };
    EXPECT_FALSE(TSiteActions::RemoveSite(tr, id, deleting, stop).Deleted);
    tr.Commit();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(id)), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES"), 1);
}

// A site whose window is open: the first question says the window will stop
// and close; the window is held only once both answers deleted, kept as it
// was when the deletion then does not happen, and closed once it has.
TEST_F(SiteActions, RemovingASiteWithAnOpenWindowSaysSoAndHoldsThenClosesOrKeepsTheWindow) {
    const std::string first =
        "Delete the selected site?\rThe window of this site is open: its readings will stop and it will close.";
    const struct {
        const char* what;
        std::deque<bool> answers;
        std::function<bool(int64_t, int64_t)> deleting;
        size_t asked;
        std::vector<std::string> window;
        bool deleted;
    } cases[] = {
        {"No to the first question", {false}, nullptr, 1, {}, false},
        {"Yes to \"Cancel the operation?\"", {true, true}, nullptr, 2, {}, false},
        {"deleted", {true, false}, nullptr, 2, {"held", "closed"}, true},
        {"progress stopped", {true, false}, [](int64_t, int64_t) { return false; }, 2, {"held", "kept"}, false},
        {"deletion failed", {true, false}, [](int64_t, int64_t) -> bool { throw std::runtime_error("disk full"); }, 2,
         {"held", "kept"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int id = Add({{"SIT_NAME", std::string("Roof")}});
        AddReadings(id, 2);
        ScriptedAnswers prompt(c.answers);
        std::vector<std::string> window;
        TSiteActions::TRemovalSteps steps;
        steps.WindowOpen = true;
        steps.Holding = [&] { window.push_back("held"); };
        steps.Kept = [&] { window.push_back("kept"); };
        steps.Deleted = [&] {
            // Committed before the window goes: another reader finds no site.
            EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=" + std::to_string(id)), 0);
            window.push_back("closed");
        };
        steps.Deleting = c.deleting;
        fb::Transaction tr(db);
        tr.Start();
        bool deleted = false;
        try {
            deleted = TSiteActions::RemoveSite(tr, id, prompt, steps).Deleted;
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "disk full");
        }
        tr.Commit();
        ASSERT_EQ(prompt.questions.size(), c.asked);
        EXPECT_EQ(prompt.questions[0], first);
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(deleted, c.deleted);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(id)), c.deleted ? 0 : 2);
    }
    // Without a window the first question is the plain one.
    EXPECT_EQ(TSiteActions::RemovalQuestions("Roof").front().Text, "Delete the selected site?");
}

TEST_F(SiteActions, TheAutostartListHoldsExactlyTheSitesMarkedToStart) {
    const int a = Add({{"SIT_NAME", std::string("A")}, {"SIT_AUTOSTART", int64_t{1}}});
    const int b = Add({{"SIT_NAME", std::string("B")}});
    const int c = Add({{"SIT_NAME", std::string("C")}, {"SIT_AUTOSTART", int64_t{1}}});
    fb::Transaction tr(db);
    tr.Start();
    EXPECT_EQ(TSiteActions::AutostartSites(tr), (std::vector<int>{a, c}));
    TSiteActions::UpdateSite(tr, a, {{"SIT_AUTOSTART", int64_t{0}}});
    TSiteActions::UpdateSite(tr, b, {{"SIT_AUTOSTART", int64_t{1}}});
    EXPECT_EQ(TSiteActions::AutostartSites(tr), (std::vector<int>{b, c}));
    tr.Commit();
}

TEST_F(SiteActions, TheCredentialsStateOfASiteCodeSaysWhatItsFileAllows) {
    using S = TSiteActions::TCredentialsStatus;
    std::filesystem::create_directories(dir.Path() / "crdfiles");
    TCredentials upload;
    upload.SiteCode = "AB12";
    upload.Upload = true;
    WriteCredentialsFile(CredentialsFileName("AB12"), upload);
    TCredentials both = upload;
    both.SiteCode = "CD34";
    both.Download = true;
    WriteCredentialsFile(CredentialsFileName("CD34"), both);
    WriteCredentialsFile(CredentialsFileName("EF56"), upload);  // issued for AB12

    const struct {
        const char* code;
        S status;
        bool upload, download, error;
    } cases[] = {
        {"", S::NoCode, false, false, false},      {"   ", S::NoCode, false, false, false},
        {"ZZ99", S::Missing, false, false, false}, {"EF56", S::Invalid, false, false, true},
        {"AB12 ", S::Regular, true, false, false}, {"CD34", S::Regular, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("'") + c.code + "'");
        const TSiteActions::TCredentialsState s = TSiteActions::CredentialsState(c.code);
        EXPECT_EQ(s.Status, c.status);
        EXPECT_EQ(s.Upload, c.upload);
        EXPECT_EQ(s.Download, c.download);
        EXPECT_EQ(!s.Error.empty(), c.error) << s.Error;
    }
}

}  // namespace
