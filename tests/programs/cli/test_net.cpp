// kalosqm-cli net: the real program as a child process, on a program folder
// of its own (--dir: its database and crdfiles/), against the MariaDB test
// server.
#include <gtest/gtest.h>

#include "programs/cli/cli_test_support.h"
#include "core/station/errorlog.h"
#include "core/site/localquery.h"
#include "support/netdb_test_support.h"

namespace {

using namespace clitest;

// A program folder with its database (site 12 "Roof", code AB12) and the
// credentials of a network database of its own.
class NetFolder {
public:
    explicit NetFolder(const nettest::NetworkDb& net) {
        ExecOn(db, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME, SIT_CODE) VALUES (12, 'Roof', 'AB12')"});
        Install(net.Credentials("AB12"));
    }
    void Install(const TCredentials& c) const {
        fs::create_directories(dir.Path() / "crdfiles");
        WriteCredentialsFile((dir.Path() / "crdfiles" / ("Cred_" + c.SiteCode + ".crd")).string(), c);
    }
    // A complete night reading of site 12 as the acquisition stores it.
    void AddReading(double when, double value, double offset, int state = 0, int uploaded = 0) const {
        ExecOn(db, {"INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_SQMTEMP, "
                    "REA_STATE, REA_UPLOADED, REA_SUNH, REA_MOONH, REA_MOONPH, REA_MOONAGE, REA_MOONILLUM, "
                    "REA_ASTRO_TWILIGHT, REA_ASTRO_DOWNING, REA_ORIGIN) VALUES ('" +
                    FormatKeyTime(when) + "12', 12, '" + FormatSqlDateTime(when) + "', " + std::to_string(value) +
                    ", " + std::to_string(offset) + ", 8.5, " + std::to_string(state) + ", " +
                    std::to_string(uploaded) + ", -30, -10, 0.4, 12.5, 55, '2024-03-11 19:05:00', "
                    "'2024-03-12 04:40:00', 'K')"});
    }
    std::string Scalar(const std::string& sql) const { return ColumnOn(db, sql).at(0); }
    std::vector<TReadingRow> Night(double date) const {
        fb::Database d(db);
        d.Open();
        fb::Transaction t(d);
        t.Start();
        auto rows = RunLocalQuery(t, 12, NightWindow(date), TSortOrder::Ascending);
        t.Commit();
        d.Close();
        return rows;
    }
    // kalosqm-cli --dir <folder> with the arguments.
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--dir", dir.Str()});
        return args;
    }
    CliResult Run(const std::vector<std::string>& args) { return cli.Run(Args(args)); }

    testsupport::TempDir dir;
    std::string db = testsupport::CopyPristineDb(dir.Path());
    TCli cli{dir.Path()};
};

class NetCli : public ::testing::Test {
protected:
    // A network reading of site AB12: value, offset, temperature, origin, then
    // state 0, sun -20.5 and night start 18:42:07.
    void NetReading(const std::string& key, const std::string& when, const std::string& rest) {
        net.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                  "REA_SQMTEMP, REA_ORIGIN, REA_STATE, REA_SUNH, REA_ASTRO_TWILIGHT) VALUES ('" + key + "', " +
                  std::to_string(netSite) + ", '" + when + "', " + rest + ", 0, -20.5, '18:42:07')");
    }
    std::string NetCount() { return net.Admin("SELECT COUNT(*) FROM READINGS").FirstText(); }

    nettest::NetworkDb net;
    int netSite = net.AddSite("AB12");
    NetFolder pc{net};
};

TEST_F(NetCli, UsageErrorsExitTwoAndASiteWithoutACodeOne) {
    const std::pair<std::vector<std::string>, const char*> usage[] = {
        {{"net"}, "subcommand"},
        {{"net", "check"}, "--site is required"},
        // The choice of readings is that of "readings", checked there; import has no order.
        {{"net", "query", "--site", "12"}, "choose the readings with --night DATE or --from T --to T"},
        {{"net", "import", "--site", "12", "--night", "2024-03-11", "--desc"}, "--desc"},
        // Standard input is no terminal: without --yes nothing is asked, nothing sent.
        {{"net", "send", "--site", "12"}, "give --yes to upload without being asked"},
    };
    for (const auto& [args, message] : usage) {
        const CliResult r = pc.Run(args);
        EXPECT_EQ(r.code, 2) << message << "\n" << r.all();
        EXPECT_TRUE(Has(r.err, message)) << r.err;
    }

    CliResult r = pc.Run({"net", "check", "--site", "7"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(Has(r.err, "there is no site with ID 7 in " + pc.db)) << r.err;
    ExecOn(pc.db, {"INSERT INTO SQMSITES (SIT_ID, SIT_NAME) VALUES (13, 'Shed')"});
    for (const char* command : {"check", "send", "query", "import"}) {
        std::vector<std::string> args{"net", command, "--site", "13"};
        if (std::string(command) == "query" || std::string(command) == "import")
            args.insert(args.end(), {"--night", "2024-03-11"});
        r = pc.Run(args);
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_TRUE(Has(r.err, "site 13 \"Shed\" has no site code")) << command << ": " << r.err;
    }
    EXPECT_EQ(NetCount(), "0");
}

// Each reason of the window's box is checked with the connection test itself.
TEST_F(NetCli, CheckConnectionSaysWhatTheWindowSays) {
    CliResult r = pc.Run({"net", "check", "--site", "12"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Connection successfully estabilished\n");
    ExecOn(pc.db, {"UPDATE SQMSITES SET SIT_CODE='NO01' WHERE SIT_ID=12"});
    pc.Install(net.Credentials("NO01"));
    r = pc.Run({"net", "check", "--site", "12"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kalosqm-cli: net check: Site not configured on the remote server\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(NetCli, SendAsksThenUploadsTheWaitingReadingsWithProgress) {
    for (int h = 20; h <= 22; ++h) pc.AddReading(EncodeDateTime(2024, 3, 11, h, 30, 0), 21.0, -0.15);
    pc.AddReading(EncodeDateTime(2024, 3, 11, 12, 30, 0), 12.0, 0, -1);  // daylight: never sent
    pc.AddReading(EncodeDateTime(2024, 3, 10, 22, 0, 0), 20.0, 0, 0, 1);  // uploaded already

    TCredentials noUpload = net.Credentials("AB12");
    noUpload.Upload = false;
    pc.Install(noUpload);
    CliResult r = pc.Run({"net", "send", "--site", "12", "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kalosqm-cli: net send: This site is not enabled for data uploading\n");
    pc.Install(net.Credentials("AB12"));

    // On a terminal it asks; "n" sends nothing.
    const std::string question = "Upload the records on hold? the operation could take several minutes [y/N] ";
    r = RunOnTerminal(pc.Args({"net", "send", "--site", "12"}), {{question, "n"}});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, question + "n\r\nkalosqm-cli: net send: nothing was sent\r\n");
    EXPECT_EQ(NetCount(), "0");

    r = pc.Run({"net", "send", "--site", "12", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Sent 3 of 3 waiting readings\nOperation completed\n");
    // Not a terminal: one line for each tenth of the way.
    EXPECT_EQ(Lines(r.err), (std::vector<std::string>{"Processed 0 of 3", "Processed 1 di 3, Successfully uploaded: 1",
                                                       "Processed 2 di 3, Successfully uploaded: 2",
                                                       "Processed 3 di 3, Successfully uploaded: 3"}));
    EXPECT_EQ(NetCount(), "3");
    EXPECT_EQ(net.Admin("SELECT COUNT(*) FROM READINGS WHERE REA_KALOCODE='2024031122300012AB12'").FirstText(), "1");
    EXPECT_EQ(pc.Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_UPLOADED=1 AND REA_STATE=0"), "4");
    EXPECT_EQ(pc.Scalar("SELECT REA_UPLOADED FROM READINGS WHERE REA_STATE=-1"), "0");

    // "y" on a terminal sends what waits now, the progress rewritten on one line.
    pc.AddReading(EncodeDateTime(2024, 3, 11, 23, 30, 0), 21.2, -0.15);
    r = RunOnTerminal(pc.Args({"net", "send", "--site", "12"}), {{question, "y"}});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.rfind(question + "y\r\n", 0), 0u) << r.out;
    EXPECT_TRUE(Has(r.out, "\rProcessed 1 di 1, Successfully uploaded: 1")) << r.out;
    EXPECT_TRUE(Has(r.out, "Sent 1 of 1 waiting readings\r\nOperation completed\r\n")) << r.out;
    EXPECT_EQ(NetCount(), "4");

    // Nothing waits: still the same end.
    r = pc.Run({"net", "send", "--site", "12", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Sent 0 of 0 waiting readings\nOperation completed\n");
    EXPECT_EQ(r.err, "Processed 0 of 0\n");

    // A server out of reach: nothing is sent, and the exit status says so.
    pc.AddReading(EncodeDateTime(2024, 3, 12, 1, 0, 0), 21.3, -0.15);
    TCredentials closed = net.Credentials("AB12");
    closed.Port = nettest::ClosedPort();
    pc.Install(closed);
    r = pc.Run({"net", "send", "--site", "12", "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Sent 0 of 1 waiting readings\nOperation completed\n");
    EXPECT_TRUE(Has(r.err, "net send: 1 readings were not sent and still wait")) << r.err;
    EXPECT_EQ(pc.Scalar("SELECT REA_UPLOADED FROM READINGS WHERE REA_CODE='2024031201000012'"), "0");
}

TEST_F(NetCli, QueryShowsTheNetworkRowsAndTheirStatistics) {
    NetReading("2024031122000012AB12", "2024-03-11 22:00:00", "20.0, 0, 11.5, 'K'");
    NetReading("2024031123000012AB12", "2024-03-11 23:00:00", "21.1, -0.1, NULL, 'K'");
    NetReading("2024031212000112AB12", "2024-03-12 12:00:01", "19.0, 0, 10, 'K'");  // the next night
    const std::string header = "UTC time\tSQM Value\tNELM\tSensor temp.\tilluminated %\tNight starts\tNight ends";
    const std::string first = "2024-03-11 22:00:00\t20.00\t5.49\t11.5\t0.00\t18:42:07\t";
    const std::string second = "2024-03-11 23:00:00\t21.00\t6.12\t-1.0\t0.00\t18:42:07\t";
    CliResult r = pc.Run({"net", "query", "--site", "12", "--night", "2024-03-11", "--stats"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{header, first, second, "", "Number of readings: 2",
                                                       "Average: 20.50", "Standard deviaton: 0.71", "Maximum: 21.00",
                                                       "Minimum: 20.00"}));
    EXPECT_EQ(r.err, "2 readings where selected\n");
    r = pc.Run({"net", "query", "--site", "12", "--from", "2024-03-11 22:30", "--to", "2024-03-12 12:00:01", "--desc",
                "--stats"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Lines(r.out),
              (std::vector<std::string>{header, "2024-03-12 12:00:01\t19.00\t4.77\t10.0\t0.00\t18:42:07\t", second, "",
                                        "Number of readings: 2", "Average: 20.00", "Standard deviaton: 1.41",
                                        "Maximum: 21.00", "Minimum: 19.00"}));
    r = pc.Run({"net", "query", "--site", "12", "--from", "2024-03-11 22:00", "--to", "2024-03-11 22:00", "--stats"});
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{header, first, "", "Number of readings: 1", "Average: 20.00",
                                                       "Standard deviaton: ---", "Maximum: 20.00", "Minimum: 20.00"}));
    r = pc.Run({"net", "query", "--site", "12", "--night", "2024-03-20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "No records found with the specified criteria\n");

    // A refusal of the page is a failure, its box's lines on standard error.
    fs::remove(pc.dir.Path() / "crdfiles" / "Cred_AB12.crd");
    r = pc.Run({"net", "query", "--site", "12", "--night", "2024-03-11"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kalosqm-cli: net query: Problem with the credentials file:\nFile missing\n");
    EXPECT_EQ(r.out, "");
}

// A station's history on a new PC: sent from one program folder, brought
// back into a fresh database in another whose credentials file the
// operators' "cred make" made.
TEST_F(NetCli, ImportBringsBackWhatWasSent) {
    for (int h = 20; h <= 22; ++h) pc.AddReading(EncodeDateTime(2024, 3, 11, h, 30, 0), 19 + h * 0.1, -0.15);
    ASSERT_EQ(pc.Run({"net", "send", "--site", "12", "--yes"}).code, 0);

    NetFolder fresh(net);
    const TCredentials c = net.Credentials("AB12");
    const std::string made = (fresh.dir.Path() / "crdfiles" / "Cred_AB12.crd").string();
    fs::remove(made);
    CliResult r = fresh.Run({"cred", "make", "--code", "AB12", "--host", c.Host, "--port", std::to_string(c.Port),
                             "--user", c.User, "--password", c.Password, "--database", c.Database, "--upload",
                             "--download", "-o", made});
    ASSERT_EQ(r.code, 0) << r.all();
    r = fresh.Run({"net", "import", "--site", "12", "--night", "2024-03-11"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(Has(r.err, "give --yes to save without being asked")) << r.err;
    EXPECT_EQ(fresh.Scalar("SELECT COUNT(*) FROM READINGS"), "0");

    r = fresh.Run({"net", "import", "--site", "12", "--night", "2024-03-11", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Imported 3 of 3 readings (3 new, 0 updated)\nImport completed successfully\n");
    const double night = EncodeDate(2024, 3, 11);
    const auto back = fresh.Night(night);
    const auto sent = pc.Night(night);
    ASSERT_EQ(back.size(), 3u);
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].Code, sent[i].Code);
        EXPECT_EQ(back[i].DateTime, sent[i].DateTime);
        EXPECT_NEAR(*back[i].Value, *sent[i].Value, 1e-9);
        EXPECT_NEAR(*back[i].Offset, *sent[i].Offset, 1e-9);
        EXPECT_NEAR(*back[i].Temperature, *sent[i].Temperature, 1e-9);
        EXPECT_NEAR(*back[i].MoonIllum, *sent[i].MoonIllum, 1e-9);
        EXPECT_EQ(back[i].State, sent[i].State);
        EXPECT_EQ(back[i].Uploaded, 1);
        EXPECT_EQ(back[i].Syncro, 1);
        EXPECT_EQ(back[i].Modified, 0);
    }
    // Twice: the same readings are updated, none added.
    r = fresh.Run({"net", "import", "--site", "12", "--night", "2024-03-11", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Imported 3 of 3 readings (0 new, 3 updated)\nImport completed successfully\n");
    EXPECT_EQ(fresh.Scalar("SELECT COUNT(*) FROM READINGS"), "3");

    // A row the local database cannot take is logged in the site's log; the others go in.
    net.Admin("ALTER TABLE READINGS MODIFY REA_ORIGIN VARCHAR(2)");
    NetReading("202403112359009XY", "2024-03-11 23:59:00", "20.5, 0, 9, 'XX'");
    NetReading("202403112358009XY", "2024-03-11 23:58:00", "20.4, 0, 9, 'S'");
    r = fresh.Run({"net", "import", "--site", "12", "--night", "2024-03-11", "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Imported 4 of 5 readings (1 new, 3 updated)\n");
    const std::string log = (fresh.dir.Path() / "LOGS" / TErrorLog::FileNameFor("Roof")).string();
    EXPECT_EQ(r.err, "kalosqm-cli: net import: There were problems during the import:\nCheck the Site log for details\n"
                     "kalosqm-cli: net import: 1 readings failed, see " + log + "\n");
    EXPECT_TRUE(Has(testsupport::ReadFile(log), " - Copia dati da network - Errore durante l'aggiornamento: "))
        << testsupport::ReadFile(log);
    EXPECT_EQ(fresh.Scalar("SELECT COUNT(*) FROM READINGS"), "4");

    r = fresh.Run({"net", "import", "--site", "12", "--night", "2024-03-20", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "No records found with the specified criteria\n");
}

}  // namespace
