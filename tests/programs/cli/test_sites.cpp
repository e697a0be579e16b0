// kalosqm-cli sites, site, settings, timeservers and meter: the real program
// on copies of the delivered database, a simulated SQM-LE for "site test" and
// "meter", a pseudo-terminal for the questions of a deletion, and kalosqm-station
// holding a database.
#include <gtest/gtest.h>

#include <map>

#include "programs/cli/cli_test_support.h"
#include "tools/sqmle-sim/sqmsim.h"

namespace {

using namespace clitest;

const char* const kOneMinute = "Please note, you cannot specify a range of time less than 1 minute";
const char* const kNoCoordinates =
    "Warning, latitude / longitude, were not specified: it is impossible to correctly calculate twilights";
// What a new station on the delivered database will do over the Internet by itself.
const std::string kOutreach =
    "Internet time is on: servers time-a-g.nist.gov, time-b-g.nist.gov, time-c-g.nist.gov, time-d-g.nist.gov, "
    "which correct the reading times; `kalosqm-cli settings` and `kalosqm-cli timeservers` change it\n"
    "automatic upload is on: each night reading of a site with a credentials file in crdfiles/ and its own "
    "automatic upload on goes to the network database; `kalosqm-cli settings` changes it\n";

class CliTest : public CliDbTest {
protected:
    // With --db of this test's database after the arguments.
    CliResult Db(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.end(), {"--db", file});
        return Run(args, env);
    }
    int AddSite(std::vector<std::string> fields) {
        fields.insert(fields.begin(), {"site", "add"});
        const CliResult r = Db(fields);
        EXPECT_EQ(r.code, 0) << r.all();
        return std::atoi(r.out.c_str());
    }
    // Every column of a site's row as text ("NULL" when empty).
    std::map<std::string, std::string> Row(int id) {
        std::map<std::string, std::string> row;
        ForEachRowOn(file, "SELECT * FROM SQMSITES WHERE SIT_ID=" + std::to_string(id), [&](fb::Query& q) {
            for (int i = 0; i < q.FieldCount(); ++i) {
                const fb::Field f = q.Fields(i);
                std::string text = "NULL";
                if (!f.IsNull()) {
                    if (f.Name() == "SIT_STARTTIME" || f.Name() == "SIT_STOPTIME")
                        text = FormatTimeOfDay(f.AsDateTime());
                    else
                        text = Trim(f.AsString());
                }
                row[f.Name()] = text;
            }
        });
        return row;
    }
    void AddReadings(int site, int n) {
        std::vector<std::string> sql;
        for (int i = 0; i < n; ++i)
            sql.push_back("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_STATE) VALUES ('2024011521" +
                          std::to_string(10 + i) + "00" + std::to_string(site) + "', " + std::to_string(site) +
                          ", '2024-01-15 21:" + std::to_string(10 + i) + ":00', 21.3, 0)");
        ExecOn(file, sql);
    }
};

// meter: what it prints, and why a reading failed, told apart.
class MeterCli : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }
    int Run(const std::vector<std::string>& args) {
        const CliResult r = cli.Run(args, {}, 30s);
        out = r.out;
        err = r.err;
        return r.code;
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(sim.Port()); }

    testsupport::TempDir dir;
    TCli cli{dir.Path()};
    SqmSimulator sim;
    std::string out, err;
};

}  // namespace

TEST_F(CliTest, UsageErrorsExitTwoBeforeTouchingTheDatabase) {
    // "site add --name Roof --host h" and more.
    auto add = [](std::vector<std::string> more) {
        more.insert(more.begin(), {"site", "add", "--name", "Roof", "--host", "h"});
        return more;
    };
    const std::pair<std::vector<std::string>, std::string> usage[] = {
        {{"site", "add", "--name", "Roof"}, "--host is required"},
        {{"site", "add", "--host", "h"}, "--name is required"},
        {add({"--lat", "90.5"}), "the latitude must be a number from -90 to 90"},
        {add({"--lat", "45,5"}), "the decimal point is '.'"},
        {add({"--lon", "-180.5"}), "the longitude must be a number from -180 to 180"},
        {add({"--port", "0"}), "the port must be a whole number from 1 to 65535"},
        {add({"--port", "65536"}), "from 1 to 65535, not '65536'"},
        {add({"--timezone", "-13"}), "the time zone must be a whole number from -12 to 14"},
        {add({"--timezone", "15"}), "from -12 to 14, not '15'"},
        {add({"--alt", "12.5"}), "the altitude must be a whole number"},
        {add({"--timeout", "0"}), "the timeout must be a whole number from 1 to 3600"},
        {add({"--method", "4"}), "0-3 or one of \"Continuous\""},
        {add({"--method", "nightly"}), "not 'nightly'"},
        {add({"--start", "24:00"}), "a time of day HH:MM (UTC), not '24:00'"},
        {add({"--stop", "7"}), "a time of day HH:MM (UTC), not '7'"},
        {add({"--interval=-1"}), "the interval must be a whole number from 0 to 1440"},
        {add({"--day-interval", "x"}), "the daylight interval must be a whole number"},
        {add({"--autostart", "yes please"}), "on or off, not 'yes please'"},
        {add({"--day-readings", "2"}), "on or off, not '2'"},
        {add({"--code", "ABC"}), "the site code is not set here: it comes with the site's credentials file"},
        {{"site", "add", "--name", "", "--host", "h"}, "the name must not be empty"},
        {{"site", "add", "--name", "Roof", "--host", "my meter"}, "a host name has no blanks"},
        {{"site", "add", "--name", "Roof", "--host", std::string(101, 'h')}, "at most 100 characters, not 101"},
        {{"site", "set", "1"}, "nothing to change"},
        {{"site", "set", "--port", "10002"}, "id is required"},
        {{"site", "remove"}, "id is required"},
        {{"site", "test", "zero"}, "zero"},
        {{"site"}, "A subcommand is required"},
        {{"settings", "set", "upload-mode"}, "value is required"},
        {{"timeservers", "add"}, "host is required"},
    };
    for (const auto& [args, message] : usage) {
        const CliResult r = Db(args);
        EXPECT_EQ(r.code, 2) << args[0] << " " << message << ": " << r.all();
        EXPECT_TRUE(Has(r.err, message)) << message << " in\n" << r.err;
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES"), 0);
    EXPECT_EQ(ColumnOn(file, "SELECT GEN_ID(GEN_SITE_ID, 0) FROM RDB$DATABASE").at(0), "0") << "no site number taken";
}

TEST_F(CliTest, AddGivesTheWindowsDefaultsAndSetChangesEveryFieldOfTheRow) {
    CliResult r = Db({"sites"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(Has(r.out, "There is no site in " + file)) << r.out;
    EXPECT_TRUE(Has(r.out, "kalosqm-cli site add --name NAME --host HOST")) << r.out;

    // The PC's zone in whole hours, east positive, truncated: -3:30 gives -3.
    r = Db({"site", "add", "--name", "Roof", "--host", "127.0.0.1"}, {"TZ=America/St_Johns"});
    ASSERT_EQ(r.code, 0) << r.all();
    const int roof = std::atoi(r.out.c_str());
    EXPECT_EQ(r.out, std::to_string(roof) + "\n");
    EXPECT_EQ(r.err, std::string(kNoCoordinates) + "\n" + kOutreach) << "after the save, as the window shows it";
    const std::map<std::string, std::string> defaults = {
        {"SIT_ID", std::to_string(roof)}, {"SIT_NAME", "Roof"},          {"SIT_SQMHOST", "127.0.0.1"},
        {"SIT_CODE", "NULL"},             {"SIT_SQMPORT", "10001"},      {"SIT_SQMPROT", "NULL"},
        {"SIT_SQMMODEL", "NULL"},         {"SIT_SQMFEATURE", "NULL"},    {"SIT_SQMSERIAL", "NULL"},
        {"SIT_LATIT", "NULL"},            {"SIT_LONG", "NULL"},          {"SIT_ALT", "NULL"},
        {"SIT_TIMEZONE", "-3"},           {"SIT_ACQUIREMODE", "0"},      {"SIT_INTERVAL", "1"},
        {"SIT_STARTTIME", "NULL"},        {"SIT_STOPTIME", "NULL"},      {"SIT_OFFSET", "0"},
        {"SIT_AUTOSTART", "0"},           {"SIT_TIMEOUT", "10"},         {"SIT_DAYREADING", "0"},
        {"SIT_DAYINTERVAL", "10"},        {"SIT_AUTOUPLOAD", "1"},
    };
    EXPECT_EQ(Row(roof), defaults);
    // The next number of the generator; Kolkata (+5:30) gives 5.
    const int shed = AddSite({"--name", "Shed", "--host", "10.1.2.3", "--lat", "45", "--lon", "11"});
    EXPECT_EQ(shed, roof + 1);
    EXPECT_EQ(Row(AddSite({"--name", "East", "--host", "h", "--lat", "1", "--lon", "2"}))["SIT_TIMEZONE"],
              Row(shed)["SIT_TIMEZONE"]);
    r = Db({"site", "add", "--name", "Kolkata", "--host", "h", "--lat", "22.57", "--lon", "88.36"}, {"TZ=Asia/Kolkata"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(r.err, kOutreach) << "latitude and longitude given: no warning";
    const int kolkata = std::atoi(r.out.c_str());
    EXPECT_EQ(Row(kolkata)["SIT_TIMEZONE"], "5");

    r = Db({"site", "set", std::to_string(roof), "--name", "Località alta", "--host", "192.0.2.7", "--port", "10002",
            "--lat", "45.8664", "--lon", "-11.5264", "--alt", "1366", "--timezone", "-5", "--offset", "-0.25",
            "--timeout", "7", "--method", "Timed", "--interval", "5", "--start", "18:30", "--stop", "6.15",
            "--day-readings", "on", "--day-interval", "0", "--autostart", "ON", "--auto-upload", "off"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(r.err, "");
    std::map<std::string, std::string> changed = defaults;
    for (const auto& [column, value] : std::map<std::string, std::string>{
             {"SIT_NAME", "Località alta"}, {"SIT_SQMHOST", "192.0.2.7"}, {"SIT_SQMPORT", "10002"},
             {"SIT_LATIT", "45.8664"},      {"SIT_LONG", "-11.5264"},    {"SIT_ALT", "1366"},
             {"SIT_TIMEZONE", "-5"},        {"SIT_OFFSET", "-0.25"},     {"SIT_TIMEOUT", "7"},
             {"SIT_ACQUIREMODE", "1"},      {"SIT_INTERVAL", "5"},       {"SIT_STARTTIME", "18:30:00"},
             {"SIT_STOPTIME", "06:15:00"},  {"SIT_DAYREADING", "1"},     {"SIT_DAYINTERVAL", "0"},
             {"SIT_AUTOSTART", "1"},        {"SIT_AUTOUPLOAD", "0"}})
        changed[column] = value;
    EXPECT_EQ(Row(roof), changed);
    // A method by its number, by its name in any case with dashes for blanks; switches as 1/0.
    for (const auto& [given, stored] : std::vector<std::pair<std::string, std::string>>{
             {"3", "3"}, {"discard-readings-by-day", "2"}, {"Discard readings in twilight", "3"}, {"continuous", "0"}}) {
        r = Db({"site", "set", std::to_string(roof), "--method", given, "--autostart", "0", "--day-readings", "1"});
        EXPECT_EQ(r.code, 0) << r.all();
        EXPECT_EQ(Row(roof)["SIT_ACQUIREMODE"], stored) << given;
    }
    EXPECT_EQ(Row(roof)["SIT_AUTOSTART"], "0");
    EXPECT_EQ(Row(shed)["SIT_NAME"], "Shed") << "only the named site changes";

    // The list: by name as the site list dialog has it, columns aligned.
    ExecOn(file, {"UPDATE SQMSITES SET SIT_AUTOSTART=1, SIT_ACQUIREMODE=7 WHERE SIT_ID=" + std::to_string(shed)});
    r = Db({"sites"});
    ASSERT_EQ(r.code, 0) << r.all();
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0].substr(0, 8), "ID  NAME");
    EXPECT_TRUE(Has(lines[3], "Località alta") && Has(lines[3], "192.0.2.7:10002") && Has(lines[3], "Continuous") &&
                Has(lines[3], "off"))
        << lines[3];
    EXPECT_TRUE(Has(lines[4], "Shed") && Has(lines[4], "10.1.2.3:10001") && Has(lines[4], "none (7)") &&
                Has(lines[4], " on"))
        << lines[4];
    // Where a text starts, in characters: a name may hold letters of two bytes.
    auto column = [](const std::string& line, const std::string& part) {
        const std::string before = line.substr(0, line.find(part));
        return std::count_if(before.begin(), before.end(), [](char c) { return (c & 0xC0) != 0x80; });
    };
    const auto meterColumn = column(lines[0], "SQM-LE");
    EXPECT_EQ(column(lines[3], "192.0.2.7"), meterColumn) << r.out;
    EXPECT_EQ(column(lines[4], "10.1.2.3"), meterColumn) << r.out;
    EXPECT_EQ(column(lines[3], "Continuous"), column(lines[0], "METHOD")) << r.out;

    r = Db({"site", "show", std::to_string(roof)});
    ASSERT_EQ(r.code, 0) << r.all();
    for (const char* part : {"Località alta", "SIT_NAME", "10002", "0 Continuous", "18:30", "06:15", "-0.25"})
        EXPECT_TRUE(Has(r.out, part)) << part << " in\n" << r.out;
    r = Db({"site", "set", "99", "--port", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no site with id 99")) << r.err;
}

TEST_F(CliTest, TheOneMinuteRefusalWritesNothingAndAMissingCoordinateIsWarnedAfterTheSave) {
    const int id = AddSite({"--name", "Roof", "--host", "h", "--lat", "45", "--lon", "11", "--interval", "10"});
    const auto before = Row(id);
    CliResult r = Db({"site", "set", std::to_string(id), "--port", "12345", "--interval", "0"});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, kOneMinute)) << r.err;
    EXPECT_EQ(Row(id), before) << "the port did not change either";

    r = Db({"site", "add", "--name", "Quick", "--host", "h", "--interval", "0"});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, kOneMinute)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM SQMSITES"), 1);

    // An interval left empty counts as 0.
    ExecOn(file, {"UPDATE SQMSITES SET SIT_INTERVAL=NULL WHERE SIT_ID=" + std::to_string(id)});
    r = Db({"site", "set", std::to_string(id), "--name", "Roof 2"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, kOneMinute)) << r.err;
    EXPECT_EQ(Row(id)["SIT_NAME"], "Roof");

    // Written, then warned.
    ExecOn(file, {"UPDATE SQMSITES SET SIT_INTERVAL=1, SIT_LONG=NULL WHERE SIT_ID=" + std::to_string(id)});
    r = Db({"site", "set", std::to_string(id), "--alt", "100"});
    EXPECT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(Has(r.err, kNoCoordinates)) << r.err;
    EXPECT_EQ(Row(id)["SIT_ALT"], "100");
    r = Db({"site", "set", std::to_string(id), "--lon", "11.5"});
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(Has(r.err, kNoCoordinates)) << r.err;
}

TEST_F(CliTest, ABlankNameOrABlankInTheHostIsRefusedWithTheWindowsWordsWhetherTypedOrStored) {
    const int id = AddSite({"--name", "Roof", "--host", "meter", "--lat", "45", "--lon", "11"});
    const auto before = Row(id);
    // Typed: a usage error with the site rules' words, before the database.
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--name", " "}, "the name must not be empty"},
             {{"--host", "my meter"}, "a host name has no blanks: 'my meter'"},
             {{"--host", "\t"}, "the host must not be empty"},
             {{"--name", std::string(256, 'n')}, "at most 255 characters, not 256"}}) {
        std::vector<std::string> set{"site", "set", std::to_string(id)};
        set.insert(set.end(), args.begin(), args.end());
        const CliResult r = Db(set);
        EXPECT_EQ(r.code, 2) << message << ": " << r.all();
        EXPECT_TRUE(Has(r.err, message)) << message << " in\n" << r.err;
    }
    EXPECT_EQ(Row(id), before);
    // Stored by another program: the save refuses it as the window's does.
    ExecOn(file, {"UPDATE SQMSITES SET SIT_NAME='  ' WHERE SIT_ID=" + std::to_string(id)});
    CliResult r = Db({"site", "set", std::to_string(id), "--port", "10002"});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_EQ(r.err, "site set: not saved: the name must not be empty\n");
    EXPECT_EQ(Row(id)["SIT_SQMPORT"], "10001");
    ExecOn(file, {"UPDATE SQMSITES SET SIT_NAME='Roof', SIT_SQMHOST='my meter' WHERE SIT_ID=" + std::to_string(id)});
    r = Db({"site", "set", std::to_string(id), "--port", "10002"});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_EQ(r.err, "site set: not saved: a host name has no blanks: 'my meter'\n");
    r = Db({"site", "set", std::to_string(id), "--host", "meter2", "--port", "10002"});
    EXPECT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(Row(id)["SIT_SQMHOST"], "meter2");
}

TEST_F(CliTest, RemoveAsksTheSiteListsTwoQuestionsOnATerminalAndOtherwiseOnlyWithYes) {
    const int keep = AddSite({"--name", "Other", "--host", "h", "--lat", "1", "--lon", "1"});
    const int roof = AddSite({"--name", "Roof 50%", "--host", "h", "--lat", "1", "--lon", "1"});
    AddReadings(keep, 2);
    AddReadings(roof, 3);
    auto readings = [&](int site) { return Count("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=" + std::to_string(site)); };
    auto sites = [&](int site) { return Count("SELECT COUNT(*) FROM SQMSITES WHERE SIT_ID=" + std::to_string(site)); };
    const std::vector<std::string> remove{"site", "remove", std::to_string(roof), "--db", file};

    CliResult r = Db({"site", "remove", std::to_string(roof)});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, "add --yes")) << r.err;
    EXPECT_EQ(sites(roof), 1);
    EXPECT_EQ(readings(roof), 3);

    // No to the first question: the second is not asked.
    r = RunOnTerminal(remove, {{"Delete the selected site? [y/N]", "n"}});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_FALSE(Has(r.out, "Cancel the operation?")) << r.out;
    EXPECT_EQ(sites(roof), 1);
    // Yes to "Cancel the operation?" keeps it; the name shows as it is.
    r = RunOnTerminal(remove, {{"Delete the selected site? [y/N]", "y"}, {"Cancel the operation? [Y/n]", "y"}});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(Has(r.out, "By clicking NO Site \"Roof 50%\" and all its readings will be deleted!")) << r.out;
    EXPECT_TRUE(Has(r.out, "Please note this can not be undone!")) << r.out;
    EXPECT_TRUE(Has(r.out, "kept")) << r.out;
    EXPECT_EQ(sites(roof), 1);
    EXPECT_EQ(readings(roof), 3);
    // Only No deletes.
    r = RunOnTerminal(remove, {{"Delete the selected site? [y/N]", "y"}, {"Cancel the operation? [Y/n]", "n"}});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(Has(r.out, "Deleting the site and its readings... 100%")) << r.out;
    EXPECT_TRUE(Has(r.out, "site " + std::to_string(roof) + " \"Roof 50%\" deleted with its 3 readings")) << r.out;
    EXPECT_EQ(sites(roof), 0);
    EXPECT_EQ(readings(roof), 0);

    // --yes: both answers that delete, the progress on standard error.
    r = Db({"site", "remove", std::to_string(keep), "--yes"});
    EXPECT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(Has(r.err, "Deleting the site and its readings... 100%")) << r.err;
    EXPECT_TRUE(Has(r.err, "Clearing the deleted readings from the database file... 100%")) << r.err;
    EXPECT_EQ(r.out, "site " + std::to_string(keep) + " \"Other\" deleted with its 2 readings\n");
    EXPECT_EQ(sites(keep), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM READINGS"), 0);

    r = Db({"site", "remove", std::to_string(keep), "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no site with id " + std::to_string(keep))) << r.err;
}

TEST_F(CliTest, AddSaysWhatTheStationWillDoOverTheInternetOnlyWhileItIsOn) {
    const struct {
        std::vector<std::string> set;
        std::string said;
    } cases[] = {  // one after the other
        {{"upload-mode", "manual"}, kOutreach.substr(0, kOutreach.find("automatic upload"))},
        {{"sync-clock", "on"}, "Internet time is on: servers time-a-g.nist.gov, time-b-g.nist.gov, time-c-g.nist.gov, "
                               "time-d-g.nist.gov, which set the PC clock; `kalosqm-cli settings` and `kalosqm-cli "
                               "timeservers` change it\n"},
        {{"use-internet-time", "off"}, ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set[0]);
        std::vector<std::string> set{"settings", "set"};
        set.insert(set.end(), c.set.begin(), c.set.end());
        ASSERT_EQ(Db(set).code, 0);
        const CliResult r = Db({"site", "add", "--name", "S" + std::to_string(++n), "--host", "h", "--lat", "1", "--lon", "2"});
        ASSERT_EQ(r.code, 0) << r.all();
        EXPECT_EQ(r.err, c.said);
    }
}

TEST_F(CliTest, TestStoresTheMetersIdentityOrSaysWhyNot) {
    SqmSimConfig identity5;
    std::tie(identity5.Protocol, identity5.Model, identity5.Feature, identity5.Serial) = std::tuple{5, 7, 61, 4242};
    SqmSimulator meter(identity5);
    meter.Start();
    const int id = AddSite({"--name", "Roof", "--host", "127.0.0.1", "--port", std::to_string(meter.Port()),
                            "--timeout", "1", "--lat", "45", "--lon", "11"});
    CliResult r = Db({"site", "test", std::to_string(id)});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(r.out, "SQM-LE correctly found\nProtocol: 5\nModel: 7\nFeature: 61\nSerial: 4242\n");
    EXPECT_EQ(r.err, "");
    auto identity = [&] {
        const auto row = Row(id);
        return row.at("SIT_SQMPROT") + " " + row.at("SIT_SQMMODEL") + " " + row.at("SIT_SQMFEATURE") + " " +
               row.at("SIT_SQMSERIAL");
    };
    EXPECT_EQ(identity(), "5 7 61 4242");

    // An answer without a serial, or none at all: not found, nothing stored.
    SqmSimConfig c = meter.Config();
    c.Serial = 0;
    meter.SetConfig(c);
    r = Db({"site", "test", std::to_string(id)});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, "SQM-LE not found")) << r.err;
    c.Serial = 99;
    c.Silent = true;
    meter.SetConfig(c);
    r = Db({"site", "test", std::to_string(id)});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, "SQM-LE not found")) << r.err;
    EXPECT_EQ(identity(), "5 7 61 4242");

    // Nothing listening: the connection's own error.
    const int closed = testsupport::ClosedPort();
    ExecOn(file, {"UPDATE SQMSITES SET SIT_SQMPORT=" + std::to_string(closed) + " WHERE SIT_ID=" + std::to_string(id)});
    r = Db({"site", "test", std::to_string(id)});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, "SQM-LE at 127.0.0.1:" + std::to_string(closed) + ": Socket error: Connection refused")) << r.err;
    EXPECT_EQ(identity(), "5 7 61 4242");

    // The store is a save of the window: its checks, then its warning.
    SqmSimConfig serial777;
    serial777.Serial = 777;
    SqmSimulator other(serial777);
    other.Start();
    const int bare = AddSite({"--name", "Bare", "--host", "127.0.0.1", "--port", std::to_string(other.Port())});
    r = Db({"site", "test", std::to_string(bare)});
    EXPECT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(Row(bare)["SIT_SQMSERIAL"], "777");
    EXPECT_TRUE(Has(r.err, kNoCoordinates)) << r.err;
    ExecOn(file, {"UPDATE SQMSITES SET SIT_INTERVAL=0, SIT_SQMSERIAL=NULL WHERE SIT_ID=" + std::to_string(bare)});
    r = Db({"site", "test", std::to_string(bare)});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_TRUE(Has(r.err, kOneMinute)) << r.err;
    EXPECT_EQ(Row(bare)["SIT_SQMSERIAL"], "NULL");
}

TEST_F(CliTest, SettingsShowAndSetTheRowWithTheDialogsValues) {
    CliResult r = Db({"settings"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(Db({"settings", "show"}).out, r.out);
    for (const char* part : {"Database version", "SET_DBVERSION", "Use Internet time", "SET_USEINTERTETTIME",
                             "Sync PC clock", "SET_SYNCLOCK", "During the readings synchronizes every (minutes)",
                             "SET_SYNCFREQ", "Upload data on the Internet", "SET_UPLOADDATA", "Upload mode",
                             "SET_UPLOADMODE", "Automatic"})
        EXPECT_TRUE(Has(r.out, part)) << part << " in\n" << r.out;
    auto settings = [&] {
        std::string s;
        ForEachRowOn(file,
                     "SELECT SET_USEINTERTETTIME, SET_SYNCLOCK, SET_SYNCFREQ, SET_UPLOADDATA, SET_UPLOADMODE, "
                     "SET_DBVERSION FROM SETTINGS WHERE SET_ID=1",
                     [&](fb::Query& q) {
                         for (int i = 0; i < q.FieldCount(); ++i) s += (i ? " " : "") + Trim(q.Fields(i).AsString());
                     });
        return s;
    };
    const std::string delivered = settings();
    const std::string version = delivered.substr(delivered.rfind(' ') + 1);

    // By the dialog's name or the column's, in any case; a refusal (2) leaves the row as it was.
    const struct {
        std::string name, value;
        int code;
        std::string text;  // the row after, or the refusal
    } sets[] = {
        {"use-internet-time", "off", 0, "0 0 60 1 0"},
        {"SET_SYNCLOCK", "1", 0, "0 1 60 1 0"},
        {"sync-frequency", "0", 0, "0 1 0 1 0"},
        {"set_syncfreq", "15", 0, "0 1 15 1 0"},
        {"upload-mode", "Manual", 0, "0 1 15 1 1"},
        {"upload-data", "OFF", 0, "0 1 15 0 1"},
        {"SET_UPLOADMODE", "0", 0, "0 1 15 0 0"},
        {"SET_USEINTERTETTIME", "on", 0, "1 1 15 0 0"},
        {"use-internet-time", "maybe", 2, "use-internet-time is on or off (1 or 0), not 'maybe'"},
        {"sync-clock", "2", 2, "sync-clock is on or off"},
        {"sync-frequency", "-1", 2, "sync-frequency is a whole number of minutes"},
        {"sync-frequency", "1.5", 2, "not '1.5'"},
        {"sync-frequency", "1000000000", 2, "from 0 to 999999999"},
        {"upload-mode", "sometimes", 2, "upload-mode is automatic or manual (0 or 1)"},
        {"colour", "red", 2, "no setting 'colour'"},
        {"SET_DBVERSION", "9", 2, "the database version is read-only"},
    };
    std::string row;
    for (const auto& s : sets) {
        r = Db({"settings", "set", s.name, s.value});
        EXPECT_EQ(r.code, s.code) << s.name << " " << s.value << ": " << r.all();
        if (s.code == 0) row = s.text;
        else EXPECT_TRUE(Has(r.err, s.text)) << s.text << " in\n" << r.err;
        EXPECT_EQ(settings(), row + " " + version) << s.name << " " << s.value;
    }
    r = Db({"settings", "set", "upload-mode", "manual"});
    EXPECT_TRUE(Has(r.out, "Upload mode counts only while Upload data on the Internet is on.")) << r.out;
    EXPECT_TRUE(Has(Db({"settings"}).out, "Manual"));
}

TEST_F(CliTest, TimeServersAreListedAddedAndRemovedWithTheDialogsRules) {
    CliResult r = Db({"timeservers"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(Db({"timeservers", "list"}).out, r.out);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Host               Connection timeout ms  Order of preference");
    EXPECT_TRUE(Has(r.out, "time-a-g.nist.gov  3000                   1")) << r.out;
    auto servers = [&] {
        return ColumnOn(file, "SELECT NTP_HOST || ' ' || COALESCE(NTP_TIMEOUT, -1) || ' ' || COALESCE(NTP_ORDER, -1) "
                              "FROM NTPSERVERS ORDER BY NTP_ORDER, NTP_HOST");
    };
    std::vector<std::string> expected = servers();
    ASSERT_EQ(expected.size(), 4u);

    // The delivered timeout, after the last in the order.
    EXPECT_EQ(Db({"timeservers", "add", "127.0.0.1"}).code, 0);
    expected.push_back("127.0.0.1 3000 5");
    EXPECT_EQ(servers(), expected);
    EXPECT_EQ(Db({"timeservers", "add", "  ntp.local  ", "--timeout", "800", "--order", "0"}).code, 0);
    expected.insert(expected.begin(), "ntp.local 800 0");
    EXPECT_EQ(servers(), expected);

    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } refused[] = {
        {{"add", "127.0.0.1", "--timeout", "100"}, 1, "127.0.0.1 is already in the list (order 5)"},
        {{"add", " "}, 2, "the host must not be empty"},
        {{"add", "a b"}, 2, "a host name has no blanks"},
        {{"add", std::string(101, 'x')}, 2, "at most 100 characters"},
        {{"add", "h", "--timeout", "0"}, 2, "--timeout"},
        {{"add", "h", "--timeout", "60001"}, 2, "--timeout"},
        {{"add", "h", "--order=-1"}, 2, "--order"},
        {{"add", "h", "--order", "one"}, 2, "--order"},
        {{"remove", "time-z-g.nist.gov"}, 1, "there is no time server time-z-g.nist.gov"},
    };
    for (auto x : refused) {
        x.args.insert(x.args.begin(), "timeservers");
        r = Db(x.args);
        EXPECT_EQ(r.code, x.code) << x.message << ": " << r.all();
        EXPECT_TRUE(Has(r.err, x.message)) << x.message << " in\n" << r.err;
    }
    EXPECT_EQ(servers(), expected);

    EXPECT_EQ(Db({"timeservers", "remove", "time-b-g.nist.gov"}).code, 0);
    expected.erase(std::find(expected.begin(), expected.end(), "time-b-g.nist.gov 3000 2"));
    EXPECT_EQ(servers(), expected);

    ExecOn(file, {"DELETE FROM NTPSERVERS"});
    r = Db({"timeservers"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(Has(r.out, "There is no time server")) << r.out;
    Db({"timeservers", "add", "first.example"});
    EXPECT_EQ(servers(), std::vector<std::string>{"first.example 3000 1"});
}

TEST_F(CliDbTest, AMissingLockFolderIsNamedNotAFileTheEngineWouldMakeInIt) {
    // As the README's command as the user kalosqm meets a /run/kalosqm nothing has made.
    const fs::path lock = dir.Path() / "run" / "kalosqm";
    const CliResult r = Run({"--dir", dir.Str(), "sites"}, {"FIREBIRD_LOCK=" + lock.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "The database engine's lock folder " + lock.string() + " (FIREBIRD_LOCK) does not exist."))
        << r.err;
    EXPECT_FALSE(Has(r.err, kInUse)) << r.err;
    // With the folder there, the same command works.
    fs::create_directories(lock);
    const CliResult ok = Run({"--dir", dir.Str(), "sites"}, {"FIREBIRD_LOCK=" + lock.string()});
    EXPECT_EQ(ok.code, 0) << ok.err;
}

TEST(CliLockedDatabase, EveryCommandSaysAtOnceThatARunningStationHoldsIt) {
    SqmSimulator meter;
    meter.Start();
    TStationFolder f;
    f.AddSite(1, "Roof", meter.Port(), true, 1);
    f.Start({"--wait"});
    ASSERT_TRUE(f.station.WaitForLine("site \"Roof\": reading", 1, 15s)) << f.station.Err();
    const std::vector<std::vector<std::string>> commands = {
        {"sites"},
        {"site", "add", "--name", "Shed", "--host", "h"},
        {"site", "set", "1", "--port", "10002"},
        {"site", "show", "1"},
        {"site", "remove", "1", "--yes"},
        {"site", "test", "1"},
        {"settings"},
        {"settings", "set", "sync-clock", "on"},
        {"timeservers"},
        {"timeservers", "add", "127.0.0.1"},
        {"timeservers", "remove", "time-a-g.nist.gov"},
        {"readings", "--site", "1", "--night", "2011-03-11"},
        {"export", "--site", "1", "--night", "2011-03-11", "-o", (f.dir.Path() / "x.txt").string()},
        {"net", "check", "--site", "1"},
        {"net", "send", "--site", "1", "--yes"},
        {"net", "import", "--site", "1", "--night", "2024-03-11", "--yes"},
    };
    TCli cli(f.dir.Path());
    for (auto args : commands) {
        args.insert(args.end(), {"--db", f.db});
        const CliResult r = cli.Run(args, {}, 5s);
        EXPECT_EQ(r.code, 1) << args[0] << " " << r.err;
        EXPECT_TRUE(Has(r.err, kInUse)) << args[0] << ": " << r.err;
        EXPECT_EQ(r.out, "") << args[0];
    }
    f.Stop(SIGTERM);
    // Nothing reached the file.
    EXPECT_EQ(ColumnOn(f.db, "SELECT COUNT(*) FROM SQMSITES").at(0), "1");
    EXPECT_EQ(ColumnOn(f.db, "SELECT SIT_SQMPORT FROM SQMSITES").at(0), std::to_string(meter.Port()));
    EXPECT_EQ(ColumnOn(f.db, "SELECT COUNT(*) FROM NTPSERVERS").at(0), "4");
    EXPECT_EQ(ColumnOn(f.db, "SELECT SET_SYNCLOCK FROM SETTINGS").at(0), "0");
    EXPECT_FALSE(fs::exists(f.dir.Path() / "x.txt"));
    // Free again, the same command works.
    CliResult r = cli.Run({"sites", "--db", f.db}, {}, 10s);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Roof")) << r.out;

    // A file its user may not open is no file in use: the engine fails in
    // its "open" operation then, not in its "lock" one.
    std::string exe = KALO_CLI_EXE;
    std::vector<std::string> args{"sites", "--db", f.db};
    const fs::path lock = f.dir.Path() / "lock-of-another-user";
    fs::create_directory(lock);
    fs::permissions(lock, fs::perms::all);
    if (::geteuid() == 0) {  // root opens anything: another user
        fs::permissions(f.db, fs::perms::owner_read | fs::perms::owner_write);
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", KALO_CLI_EXE});
        exe = "/usr/bin/setpriv";
    } else {
        fs::permissions(f.db, fs::perms::none);
    }
    TChild other;
    other.Start(exe, args, f.dir.Path() / "cli-other.txt", {"FIREBIRD_LOCK=" + lock.string()});
    EXPECT_EQ(other.WaitExit(10s), 1) << other.Err();
    EXPECT_TRUE(Has(other.Err(), "the local database " + f.db + " cannot be opened: ")) << other.Err();
    EXPECT_TRUE(Has(other.Err(), "Permission denied")) << other.Err();
    EXPECT_FALSE(Has(other.Err(), kInUse)) << other.Err();
    fs::permissions(f.db, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(MeterCli, ReadsTheIdentityAndAReading) {
    SqmSimConfig c = sim.Config();
    c.Value = 21.34;
    c.Temperature = -3.5;
    sim.SetConfig(c);
    ASSERT_EQ(Run({"meter", "info", Address()}), 0) << err;
    EXPECT_EQ(out, "Protocol: 4\nModel: 3\nFeature: 57\nSerial: 3911\n");
    ASSERT_EQ(Run({"meter", "read", Address()}), 0) << err;
    EXPECT_TRUE(Has(out, "Sky brightness: 21.34 mag/arcsec2\n")) << out;
    EXPECT_TRUE(Has(out, "Temperature: -3.5 C\n")) << out;
}

TEST_F(MeterCli, AFailedReadingSaysWhyAndUsageErrorsExitWithTwo) {
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::ClosedPort());
    EXPECT_EQ(Run({"meter", "read", closed, "--timeout", "2"}), 1);
    EXPECT_TRUE(Has(err, "Connection refused")) << err;

    SqmSimConfig c = sim.Config();
    c.Silent = true;
    sim.SetConfig(c);
    for (const char* command : {"read", "info"}) {
        EXPECT_EQ(Run({"meter", command, Address(), "--timeout", "1"}), 1) << command;
        EXPECT_TRUE(Has(err, "no answer within 1 s")) << command << ": " << err;
    }

    // An address that drops the connection attempt: given up after the timeout asked for.
    testsupport::TFullBacklog dropping;
    ASSERT_TRUE(dropping.Full()) << "the system answered every attempt on a full queue";
    EXPECT_EQ(Run({"meter", "read", "127.0.0.1:" + std::to_string(dropping.Port()), "--timeout", "2"}), 1);
    EXPECT_TRUE(Has(err, ": cannot connect: Connection timed out after 2 s")) << err;

    // The line itself, its control bytes escaped: nothing raw reaches the terminal.
    c.Silent = false;
    c.RawReading = "r, 19.5\x1B[2Jm";
    sim.SetConfig(c);
    EXPECT_EQ(Run({"meter", "read", Address(), "--timeout", "2"}), 1);
    EXPECT_TRUE(Has(err, "malformed reply")) << err;
    EXPECT_TRUE(Has(err, "r, 19.5\\x1B[2Jm")) << err;
    EXPECT_FALSE(Has(err, "\x1B")) << err;

    EXPECT_EQ(Run({"meter", "read"}), 2);
    EXPECT_TRUE(Has(err, "address is required")) << err;
    EXPECT_EQ(Run({"meter", "read", "127.0.0.1:70000"}), 2);
    EXPECT_EQ(Run({"meter", "read", Address(), "--timeout", "0"}), 2);
    EXPECT_EQ(Run({"meter", "fetch", Address()}), 2);
}
