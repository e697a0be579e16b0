// The network query and its import, against the MariaDB test server and a
// real local database file. A station's history sent and brought back, and
// the statistics of the rows, are checked through kalosqm-cli net.
#include <gtest/gtest.h>

#include "core/station/errorlog.h"
#include "support/netdb_test_support.h"
#include "core/site/netquery.h"
#include "support/readings_test_support.h"

namespace {

namespace fs = std::filesystem;

TFormatSettings Dotted() { return TFormatSettings{".", ",", "/", "UTF-8"}; }

TEST(NetKeyTest, TheSiteCodeComesOffTheKeysThisProgramUploaded) {
    EXPECT_EQ(LocalKeyOf("202403112200001AB12", "K", "AB12"), "202403112200001");
    EXPECT_EQ(LocalKeyOf("2024031122000012AB12", "K", "AB12  "), "2024031122000012");  // a two-digit site
    EXPECT_EQ(LocalKeyOf("20240311220000123AB12", "", "AB12"), "20240311220000123");
    EXPECT_EQ(LocalKeyOf("202403112200001XY99", "K", "AB12"), "202403112200001XY99");  // kept as received
    EXPECT_EQ(LocalKeyOf("AB12", "K", "AB12"), "AB12");
    // Readings of other stations keep the network key, whatever the case of "S".
    EXPECT_EQ(LocalKeyOf("202403112200001AB12", "s", "AB12"), "202403112200001AB12");
    EXPECT_EQ(LocalKeyOf("202403112200001AB12", "S", "AB12"), "202403112200001AB12");
}

// Site 12 "Site 12" with code AB12 here and on the network database, the
// program folder's credentials for it.
class NetQuery : public readingstest::ReadingsFixture {
protected:
    void SetUp() override {
        ReadingsFixture::SetUp();
        SetProgramDir(dir.Str());
        AddSite(12, "AB12");
        netSite = net.AddSite("AB12");
        Install(net.Credentials("AB12"));
        tr.Start();
    }
    void TearDown() override {
        if (tr.Active()) tr.Rollback();
    }
    void Install(const TCredentials& c) {
        fs::create_directories(dir.Path() / "crdfiles");
        WriteCredentialsFile(CredentialsFileName(c.SiteCode), c);
    }
    void NetReading(const std::string& key, const std::string& when, const std::string& rest = "21.1, -0.1, NULL, 'K'") {
        net.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, "
                  "REA_SQMTEMP, REA_ORIGIN, REA_STATE, REA_SUNH, REA_ASTRO_TWILIGHT) VALUES ('" + key + "', " +
                  std::to_string(netSite) + ", '" + when + "', " + rest + ", 0, -20.5, '18:42:07')");
    }
    static TQueryWindow Night() { return NightWindow(EncodeDate(2024, 3, 11)); }

    nettest::NetworkDb net;
    int netSite = 0;
    fb::Transaction tr{db};
};

TEST_F(NetQuery, ANightComesBackInOrderWithTheStandInsForMissingValues) {
    NetReading("202403112300001AB12", "2024-03-11 23:00:00");
    NetReading("202403112200001AB12", "2024-03-11 22:00:00", "20.0, 0, 11.5, 's'");
    NetReading("202403121200011AB12", "2024-03-12 12:00:01");  // after the night
    std::vector<TNetReading> table;
    TNetQueryOutcome o = RunNetworkQuery("AB12", Night(), TSortOrder::Descending, table);
    ASSERT_EQ(o.What, TNetQueryOutcome::Kind::Rows) << o.Message;
    EXPECT_EQ(o.Message, "2 readings where selected ");
    // The texts of the rows, the temperature's and the night's among them, are
    // checked through kalosqm-cli net query.
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].KaloCode, "202403112300001");
    EXPECT_EQ(table[0].MoonHeight, -90);
    EXPECT_EQ(table[0].SunHeight, -20.5);
    EXPECT_EQ(table[1].KaloCode, "202403112200001AB12");  // another station's reading

    o = RunNetworkQuery("AB12", NightWindow(EncodeDate(2024, 3, 20)), TSortOrder::Ascending, table);
    EXPECT_EQ(o.What, TNetQueryOutcome::Kind::NoRows);
    EXPECT_EQ(o.Message, "No records found with the specified criteria");
    EXPECT_EQ(table.size(), 2u);  // kept
    EXPECT_EQ(NetworkStatisticsTexts({}, Dotted()), (std::array<std::string, 5>{"0", "---", "---", "---", "---"}));
}

TEST_F(NetQuery, EachRefusalHasItsOwnBox) {
    std::vector<TNetQueryOutcome> got;
    std::vector<TNetReading> table;
    got.push_back(RunNetworkQuery("ZZ99", Night(), TSortOrder::Ascending, table));
    TCredentials upOnly = net.Credentials("UP01");
    upOnly.Download = false;
    Install(upOnly);
    got.push_back(RunNetworkQuery("UP01", Night(), TSortOrder::Ascending, table));
    TCredentials closed = net.Credentials("CL01");
    closed.Port = nettest::ClosedPort();
    Install(closed);
    got.push_back(RunNetworkQuery("CL01", Night(), TSortOrder::Ascending, table));
    Install(net.Credentials("NO01"));  // valid, but the server does not know it
    got.push_back(RunNetworkQuery("NO01", Night(), TSortOrder::Ascending, table));
    using K = TNetQueryOutcome::Kind;
    const std::vector<std::pair<K, std::string>> want = {
        {K::CredentialsProblem, "Problem with the credentials file:\rFile missing"},
        {K::NotEnabled, "Site not enabled for download"},
        {K::ConnectFailed, "Unable to connect to the Noctila"},
        {K::SiteUnknown, "Site not configured on the remote server"}};
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].What, want[i].first) << i;
        EXPECT_EQ(got[i].Message, want[i].second) << i;
    }
    EXPECT_TRUE(table.empty());
}

TEST_F(NetQuery, ACodeWithAQuoteTravelsEscaped) {
    const int other = net.AddSite("O'B1");
    Install(net.Credentials("O'B1"));
    net.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_ORIGIN, "
              "REA_STATE) VALUES ('x', " + std::to_string(other) + ", '2024-03-11 22:00:00', 20, 0, 'K', 0)");
    std::vector<TNetReading> table;
    const TNetQueryOutcome o = RunNetworkQuery("O'B1", Night(), TSortOrder::Ascending, table);
    EXPECT_EQ(o.What, TNetQueryOutcome::Kind::Rows) << o.Message;
    EXPECT_EQ(table.size(), 1u);
}

TEST_F(NetQuery, AMalformedValueStopsTheQueryKeepingTheRowsBeforeIt) {
    net.Admin("ALTER TABLE READINGS MODIFY REA_SQMTEMP VARCHAR(20)");
    NetReading("202403112100001AB12", "2024-03-11 21:00:00", "20, 0, '12.5', 'K'");
    NetReading("202403112200001AB12", "2024-03-11 22:00:00", "20, 0, '12,5', 'K'");
    std::vector<TNetReading> table;
    try {
        RunNetworkQuery("AB12", Night(), TSortOrder::Ascending, table);
        FAIL() << "a comma decimal was read";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("'12,5'"), std::string::npos) << e.what();
    }
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].Temperature, 12.5);
}

TEST_F(NetQuery, ImportingTwiceUpdatesTheSameReadingsUnderTheWindowsSite) {
    // Uploaded from this PC by site 12: its key is the local key plus the code.
    Exec("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMOFFSET, REA_UPLOADED, "
         "REA_MODIFIED) VALUES ('2024031123000012', 12, '2024-03-11 23:00:00', 19.0, 0, 1, 1)");
    NetReading("2024031123000012AB12", "2024-03-11 23:00:00");
    NetReading("202403112200009AB12", "2024-03-11 22:00:00", "20.0, 0, 11.5, 'S'");
    std::vector<TNetReading> table;
    ASSERT_EQ(RunNetworkQuery("AB12", Night(), TSortOrder::Ascending, table).What, TNetQueryOutcome::Kind::Rows);
    const double logTime = EncodeDateTime(2024, 3, 13, 8, 0, 0);
    EXPECT_TRUE(ImportNetworkReadings(tr, 12, "Roof", table, logTime));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS"), "2");
    EXPECT_TRUE(ImportNetworkReadings(tr, 12, "Roof", table, logTime));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS"), "2");  // committed, and no copies
    EXPECT_EQ(Scalar("SELECT REA_SQMVALUE FROM READINGS WHERE REA_CODE='2024031123000012'"), "21.1");
    EXPECT_EQ(Scalar("SELECT REA_SQMTEMP FROM READINGS WHERE REA_CODE='2024031123000012'"), "-1");
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS WHERE REA_SITE=12 AND REA_UPLOADED=1 AND REA_SYNCRO=1 "
                          "AND REA_MODIFIED=0"),
              "2");
    EXPECT_EQ(Scalar("SELECT REA_ORIGIN FROM READINGS WHERE REA_CODE='202403112200009AB12'"), "S");
    EXPECT_EQ(Scalar("SELECT EXTRACT(HOUR FROM REA_ASTRO_TWILIGHT) FROM READINGS WHERE REA_CODE='2024031123000012'"),
              "18");

    // A row that cannot be written is logged at the time given; the others still go in.
    TNetReading bad = table[0], good = table[0];
    bad.KaloCode = "202403112359009";
    bad.Origin = "XX";
    good.KaloCode = "202403112358009";
    EXPECT_FALSE(ImportNetworkReadings(tr, 12, "Roof", {bad, good}, logTime));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM READINGS"), "3");
    const std::string log = testsupport::ReadFile(TErrorLog::Folder() + "/" + TErrorLog::FileNameFor("Roof"));
    EXPECT_TRUE(log.find("13/03/2024 08.00.00 - Copia dati da network - Errore durante l'aggiornamento: ") !=
                std::string::npos) << log;
}

}  // namespace
