// The settings row and the time servers as every shell changes them, over a
// real copy of the delivered database: the changes, the refusals and their
// words, and the same checks on a dataset a window binds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/site/settingsactions.h"
#include "core/station/dataset.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"
#include "support/testsupport.h"

namespace {

using TSettingsActions::TRefusal;

class SettingsActions : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        db.Open();
    }
    std::vector<std::string> Column(const std::string& sql) {
        std::vector<std::string> out;
        fb::Transaction tr(db);
        tr.Start();
        fb::Query q(tr);
        q.SetSQL(sql);
        q.Open();
        for (; !q.Eof(); q.Next()) out.push_back(q.Fields(0).IsNull() ? "NULL" : Trim(q.Fields(0).AsString()));
        q.Close();
        tr.Commit();
        return out;
    }
    std::string Settings() {
        return Column("SELECT SET_USEINTERTETTIME || ' ' || SET_SYNCLOCK || ' ' || SET_SYNCFREQ || ' ' || "
                      "SET_UPLOADDATA || ' ' || SET_UPLOADMODE FROM SETTINGS WHERE SET_ID=1")
            .at(0);
    }
    std::vector<std::string> Servers() {
        return Column("SELECT NTP_HOST || ' ' || NTP_TIMEOUT || ' ' || NTP_ORDER FROM NTPSERVERS ORDER BY NTP_ORDER");
    }
    // The refusal a change throws, empty when it went through (committed).
    template <typename F>
    std::string Refusal(F change) {
        fb::Transaction tr(db);
        tr.Start();
        try {
            change(tr);
        } catch (const TRefusal& e) {
            tr.Rollback();
            return e.what();
        }
        tr.Commit();
        return {};
    }

    testsupport::TempDir dir;
    fb::Database db{testsupport::CopyPristineDb(dir.Path())};
};

TEST_F(SettingsActions, ChangesAreWrittenAndAValueOutOfItsRangeIsRefusedWritingNothing) {
    ASSERT_EQ(Settings(), "1 0 60 1 0");
    EXPECT_EQ(Refusal([](fb::Transaction& tr) {
                  TSettingsActions::ChangeSettings(tr, {{"SET_USEINTERTETTIME", int64_t{0}}, {"SET_SYNCFREQ", int64_t{15}}});
              }),
              "");
    EXPECT_EQ(Settings(), "0 0 15 1 0");
    const struct {
        const char* column;
        fb::Value value;
        std::string refusal;
    } cases[] = {
        {"SET_SYNCFREQ", int64_t{-1},
         "During the readings synchronizes every (minutes) must be a whole number from 0 to 999999999, not -1"},
        {"SET_SYNCFREQ", int64_t{1000000000}, "from 0 to 999999999, not 1000000000"},
        {"SET_SYNCLOCK", int64_t{2}, "Sync PC clock must be a whole number from 0 to 1, not 2"},
        {"SET_UPLOADMODE", int64_t{-1}, "Upload mode must be a whole number from 0 to 1, not -1"},
        {"SET_UPLOADDATA", 0.5, "Upload data on the Internet must be a whole number from 0 to 1, not 0.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        const std::string refusal = Refusal([&](fb::Transaction& tr) {
            TSettingsActions::ChangeSettings(tr, {{"SET_USEINTERTETTIME", int64_t{1}}, {c.column, c.value}});
        });
        EXPECT_EQ(refusal.substr(refusal.size() - std::min(refusal.size(), c.refusal.size())), c.refusal);
        EXPECT_EQ(refusal, TSettingsActions::SettingRefusal(*TSettingsActions::FindSetting(c.column), c.value));
        EXPECT_EQ(Settings(), "0 0 15 1 0");
    }
    EXPECT_EQ(TSettingsActions::FindSetting("Sync-Frequency"), TSettingsActions::FindSetting("set_syncfreq"));
    EXPECT_EQ(TSettingsActions::FindSetting("colour"), nullptr);
}

TEST_F(SettingsActions, TimeServersAreAddedAfterTheLastRemovedAndRefusedWithTheSiteHostsWords) {
    const std::vector<std::string> delivered = Servers();
    ASSERT_EQ(delivered.size(), 4u);
    int64_t order = -1;
    EXPECT_EQ(Refusal([&](fb::Transaction& tr) { order = TSettingsActions::AddTimeServer(tr, "  ntp.local ", 800); }), "");
    EXPECT_EQ(order, 5);
    EXPECT_EQ(Servers().back(), "ntp.local 800 5");
    EXPECT_EQ(Refusal([](fb::Transaction& tr) { TSettingsActions::AddTimeServer(tr, "first", 100, 0); }), "");
    EXPECT_EQ(Servers().front(), "first 100 0");

    const std::pair<std::string, std::string> refused[] = {
        {"ntp.local", "ntp.local is already in the list (order 5)"},
        {" ", "the host must not be empty"},
        {"my ntp", "a host name has no blanks: 'my ntp'"},
        {std::string(101, 'h'), "at most 100 characters, not 101"},
    };
    for (const auto& [host, refusal] : refused) {
        EXPECT_EQ(Refusal([&](fb::Transaction& tr) { TSettingsActions::AddTimeServer(tr, host, 3000); }), refusal);
        if (host != "ntp.local") {
            EXPECT_EQ(TSettingsActions::HostRefusal(host), refusal);
        }
    }
    EXPECT_EQ(Refusal([](fb::Transaction& tr) { TSettingsActions::AddTimeServer(tr, "h", 0); }),
              "Connection timeout ms must be a whole number from 1 to 60000, not 0");
    EXPECT_EQ(Refusal([](fb::Transaction& tr) { TSettingsActions::AddTimeServer(tr, "h", 60001); }),
              "Connection timeout ms must be a whole number from 1 to 60000, not 60001");
    EXPECT_EQ(Servers().size(), 6u);

    fb::Transaction tr(db);
    tr.Start();
    EXPECT_TRUE(TSettingsActions::RemoveTimeServer(tr, " ntp.local"));
    EXPECT_FALSE(TSettingsActions::RemoveTimeServer(tr, "ntp.local"));
    tr.Commit();
    EXPECT_EQ(Servers().size(), 5u);
}

TEST_F(SettingsActions, ADatasetAWindowBindsKeepsTheSameRulesOnItsPost) {
    fb::Transaction tr(db);
    tr.Start();
    TDataSet servers(tr, TSettingsActions::kSelectServers, "NTPSERVERS", "NTP_HOST");
    TSettingsActions::WireServers(servers);
    servers.Open();
    servers.Insert();  // a new grid row nobody named
    servers.SetField("NTP_TIMEOUT", int64_t{1000});
    try {
        servers.Post();
        ADD_FAILURE() << "posted";
    } catch (const TRefusal& e) {
        EXPECT_STREQ(e.what(), "the host must not be empty");
    }
    servers.SetField("NTP_HOST", std::string("ntp local"));
    EXPECT_THROW(servers.Post(), TRefusal);
    servers.SetField("NTP_HOST", std::string("ntp.local"));
    servers.SetField("NTP_ORDER", int64_t{-2});
    try {
        servers.Post();
        ADD_FAILURE() << "posted";
    } catch (const TRefusal& e) {
        EXPECT_STREQ(e.what(), "Order of preference must be a whole number from 0 to 999999999, not -2");
    }
    servers.SetField("NTP_ORDER", int64_t{9});
    EXPECT_NO_THROW(servers.Post());

    TDataSet settings = TSettingsActions::SettingsRow(tr);
    TSettingsActions::WireSettings(settings);
    settings.SetField("SET_UPLOADMODE", int64_t{2});
    EXPECT_THROW(settings.Post(), TRefusal);
    settings.Cancel();
    tr.Commit();
    EXPECT_EQ(Servers().back(), "ntp.local 1000 9");
    EXPECT_EQ(Settings(), "1 0 60 1 0");
}

}  // namespace
