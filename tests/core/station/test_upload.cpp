// Upload of readings to the network database, against the MariaDB test
// server. The statements are read back from the server's general log and
// compared with the expected text written out by hand.
#include <clocale>
#include <cstdlib>
#include <limits>
#include <locale>

#include "core/station/fbdb.h"
#include "support/netdb_test_support.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"
#ifdef KALO_HAVE_CORE
#include "core/site/datamodule.h"
#endif

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using RowMap = std::map<std::string, std::string>;

namespace {

// The sample reading's key and statements (its network site is number 3).
const std::string kKey = "200910152130055AB12";
const std::string kSiteSelect = "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='AB12'";
const std::string kCountSelect = "SELECT COUNT(REA_KALOCODE) AS NUM FROM READINGS WHERE REA_KALOCODE='" + kKey + "'";
const std::string kInsert =
    "INSERT INTO READINGS SET REA_KALOCODE='200910152130055AB12', REA_SITE=3, REA_DATETIME='2009-10-15 21:30:05', "
    "REA_SQMVALUE=21.35, REA_SQMOFFSET=0.12, REA_SQMTEMP=12.3, REA_SUNH=-40.25, REA_MOONH=-12.5, "
    "REA_MOONAGE=14.765294, REA_MOONPH=0.499999981036613, REA_ASTRO_DOWNING='04:12:00', "
    "REA_ASTRO_TWILIGHT='18:30:15', REA_ORIGIN='K', REA_STATE=0, REA_MOONILLUM=0.998";

// Every row of READINGS, its fields in column order joined by "|" (NULL
// as "NULL"), by REA_KALOCODE.
RowMap Rows(const nettest::NetworkDb& db) {
    const netdb::Result r = db.Admin("SELECT * FROM READINGS");
    RowMap out;
    for (size_t i = 0; i < r.RowCount(); ++i) {
        std::string row;
        for (size_t j = 0; j < r.FieldCount(); ++j) row += (j ? "|" : "") + r.Value(i, j).value_or("NULL");
        out[r.Text(i, 0)] = row;
    }
    return out;
}

#ifdef KALO_HAVE_CORE
// The data module's selection of readings waiting for upload, as "key/site code".
Strings Pending(fb::Database& local, int site, int limit) {
    fb::Transaction tr(local);
    fb::Query q(tr);
    q.SetSQL(TData::kPendingSQL);
    q.SetInteger("NUMREC", limit);
    q.SetInteger("IDSITO", site);
    q.Open();
    Strings keys;
    for (; !q.Eof(); q.Next())
        keys.push_back(Trim(q.FieldByName("REA_CODE").AsString()) + "/" + Trim(q.FieldByName("SIT_CODE").AsString()));
    return keys;
}
#endif

class UploadTest : public nettest::ProgramDirTest {
protected:
    void SetUp() override {
        ProgramDirTest::SetUp();
        db_.AddSite("OTHER1");
        db_.AddSite("OTHER2");
        ASSERT_EQ(db_.AddSite("AB12"), 3);
        Install(db_.Credentials("AB12"));
        // A reading of local site 5 taken on 2009-10-15 at 21:30:05 UTC.
        sqm_.SiteID = 5;
        sqm_.DateTime = EncodeDateTime(2009, 10, 15, 21, 30, 5);
        sqm_.SQMValue = 21.35;
        sqm_.Offset = 0.12;
        sqm_.Temperature = 12.3;
        sqm_.SunH = -40.25;
        sqm_.MoonH = -12.5;
        sqm_.MoonAgeDays = 14.765294;
        sqm_.MoonPh = 14.765294 / 29.53058912;
        sqm_.MoonIllum = 0.998;
        sqm_.AstroTwilight = EncodeTime(18, 30, 15);
        sqm_.AstroDowning = EncodeTime(4, 12, 0);
        sqm_.State = 0;
        sqm_.Origin = 'K';
    }
    // The lines of the network log after their time stamp; none when there
    // is no log file (a line of its own marks an empty one).
    Strings Log() const {
        const fs::path file = dir_.Path() / "LOGS" / "ERROR-LOG-SITE-NETWORK.TXT";
        if (!fs::exists(file)) return {};
        static const std::regex stamped(R"(\d{2}/\d{2}/\d{4} \d{2}\.\d{2}\.\d{2}(.*)\r)");
        std::istringstream in(testsupport::ReadFile(file));
        Strings out;
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            out.push_back(std::regex_match(line, m, stamped) ? m[1].str() : "<not a log line> " + line);
        }
        return out.empty() ? Strings{"<empty log>"} : out;
    }

    nettest::NetworkDb db_;
    TSQM sqm_{TSQMOptions{.Host = "127.0.0.1", .Port = 1, .TimeoutSeconds = 1}};
};

}  // namespace

TEST_F(UploadTest, FirstCallInsertsAndSecondUpdatesOnlyAstronomyAndState) {
    // Under a comma-decimal locale, which no value form follows and which is left alone.
    ASSERT_EQ(::setenv("LOCPATH", KALO_TEST_LOCALES, 1), 0);
    struct Restore {
        ~Restore() { std::locale::global(std::locale::classic()); }
    } restore;
    std::locale::global(std::locale("it_IT.UTF-8"));  // C++ and C locale both
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const std::string cBefore = std::setlocale(LC_ALL, nullptr), cxxBefore = std::locale().name();
    // Zero, small and large numbers, midnight and the day's last second.
    sqm_.SQMValue = 0;
    sqm_.Offset = -0.000001;
    sqm_.Temperature = 1e15;
    sqm_.MoonIllum = 0.00001;
    sqm_.AstroTwilight = 0;
    sqm_.AstroDowning = EncodeTime(23, 59, 59);
    // The code as a fixed-width column holds it: lookup and key use it trimmed.
    ASSERT_TRUE(sqm_.SendToNetwork("AB12    "));
    EXPECT_TRUE(sqm_.Uploaded);
    // The same reading again, with everything changed: the network row keeps
    // what identifies and measures it, and takes the new astronomy and state.
    sqm_.SQMValue = 18.5;
    sqm_.Offset = -0.3;
    sqm_.Temperature = -4;
    sqm_.SunH = -12.5;
    sqm_.MoonH = 3.25;
    sqm_.MoonAgeDays = 1.5;
    sqm_.MoonPh = 0.05;
    sqm_.MoonIllum = 0.0123;
    sqm_.AstroTwilight = EncodeTime(19, 1, 2);
    sqm_.AstroDowning = EncodeTime(3, 4, 5);
    sqm_.State = -1;
    sqm_.Origin = 'S';
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), cBefore);
    EXPECT_EQ(std::locale().name(), cxxBefore);
    EXPECT_EQ(db_.Sent(), (Strings{kSiteSelect, kCountSelect,
                               "INSERT INTO READINGS SET REA_KALOCODE='200910152130055AB12', REA_SITE=3, "
                               "REA_DATETIME='2009-10-15 21:30:05', REA_SQMVALUE=0, REA_SQMOFFSET=-1E-6, "
                               "REA_SQMTEMP=1E15, REA_SUNH=-40.25, REA_MOONH=-12.5, REA_MOONAGE=14.765294, "
                               "REA_MOONPH=0.499999981036613, REA_ASTRO_DOWNING='23:59:59', "
                               "REA_ASTRO_TWILIGHT='00:00:00', REA_ORIGIN='K', REA_STATE=0, REA_MOONILLUM=0.00001",
                               kSiteSelect, kCountSelect,
                               "UPDATE READINGS SET REA_SUNH=-12.5, REA_MOONH=3.25, REA_MOONAGE=1.5, REA_MOONPH=0.05, "
                               "REA_ASTRO_DOWNING='03:04:05', REA_ASTRO_TWILIGHT='19:01:02', REA_MOONILLUM=0.0123, "
                               "REA_STATE=-1 WHERE REA_KALOCODE='200910152130055AB12'"}));
    EXPECT_EQ(Rows(db_), (RowMap{{kKey, kKey + "|3|2009-10-15 21:30:05|0|-0.000001|1e15|-12.5|3.25|1.5|0.05|0.0123|"
                                                "03:04:05|19:01:02|K|-1"}}));
    EXPECT_EQ(Log(), Strings{});
}

TEST_F(UploadTest, UnreachableServersAndWrongAccountsLogNothingAndRejectedStatementsAreLoggedWhole) {
    TCredentials closed = db_.Credentials("AB12"), silent = closed, wrong = closed;
    closed.Port = nettest::ClosedPort();
    nettest::LoopbackSocket listener(true);
    silent.Port = listener.Port();
    wrong.Password = "wrong";
    for (const TCredentials& c : {closed, silent, wrong}) {
        Install(c);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(sqm_.SendToNetwork("AB12")) << c.Port;
        // Bounded by the 10-second connect timeout (a bound on waiting, not a speed requirement).
        EXPECT_LT(nettest::SecondsSince(t0), 10 + 5.0) << c.Port;
    }
    // A missing credentials file is the caller's to check first.
    EXPECT_THROW(sqm_.SendToNetwork("NOFILE"), CredentialsFileError);
    EXPECT_EQ(Log(), Strings{});

    // Statements the server rejects leave Uploaded as it was.
    Install(db_.Credentials("AB12", /*readOnly=*/true));
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_FALSE(sqm_.Uploaded);
    EXPECT_EQ(Rows(db_), RowMap{});
    Install(db_.Credentials("AB12"));
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    Install(db_.Credentials("AB12", /*readOnly=*/true));
    sqm_.SunH = 1.5;
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_TRUE(sqm_.Uploaded);  // never taken back by a failed upload
    EXPECT_EQ(db_.Admin("SELECT REA_SUNH FROM READINGS").FirstText(), "-40.25");
    EXPECT_EQ(Log(), (Strings{" Query non eseguita: " + kInsert,
                              " Query non eseguita: UPDATE READINGS SET REA_SUNH=1.5, REA_MOONH=-12.5, "
                              "REA_MOONAGE=14.765294, REA_MOONPH=0.499999981036613, REA_ASTRO_DOWNING='04:12:00', "
                              "REA_ASTRO_TWILIGHT='18:30:15', REA_MOONILLUM=0.998, REA_STATE=0 "
                              "WHERE REA_KALOCODE='200910152130055AB12'"}));
}

TEST_F(UploadTest, ValuesWithoutAnSqlFormAreExceptionsAndSendNoReading) {
    // An unknown code finds no row and is named; a server whose site identifier
    // is text must send a whole number before it is written into the insert.
    db_.Admin("ALTER TABLE SQMSITES MODIFY SIT_ID VARCHAR(40) NOT NULL");
    db_.Admin("INSERT INTO SQMSITES (SIT_ID, SIT_CODE) VALUES ('7, REA_STATE=9', 'EVIL1'), "
              "('8'' OR ''1''=''1', 'EVIL2'), ('9\\\\', 'EVIL3')");
    Strings lookups;
    for (const std::string code : {"QQ77", "EVIL1", "EVIL2", "EVIL3"}) {
        Install(db_.Credentials(code));
        EXPECT_FALSE(sqm_.SendToNetwork(code)) << code;
        lookups.push_back("SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='" + code + "'");
    }
    sqm_.MoonIllum = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_FALSE(sqm_.Uploaded);
    lookups.insert(lookups.end(), {kSiteSelect, kCountSelect});
    EXPECT_EQ(db_.Sent(), lookups);
    EXPECT_EQ(Rows(db_), RowMap{});
    const std::string e = " Eccezione in TSQM.SendToNetwork: ";
    EXPECT_EQ(Log(), (Strings{e + "site code QQ77 is not known to the network database", e + "'7, REA_STATE=9' is not a valid integer value",
                              e + "'8' OR '1'='1' is not a valid integer value", e + "'9\\' is not a valid integer value",
                              e + "A number that is not finite cannot be sent to the network database"}));
}

TEST_F(UploadTest, QuotesAndBackslashesInCodesNeverTouchOtherRows) {
    // Readings of other sites that a statement escaping its quotes could reach.
    db_.Admin("INSERT INTO READINGS (REA_KALOCODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SUNH, REA_STATE, "
              "REA_ORIGIN) VALUES ('200910152130055OTHER1', 1, '2009-10-15 21:30:05', 20, -30, 0, 'K'), "
              "('x', 2, '2009-10-15 21:30:05', 19, -31, 0, 'K')");
    RowMap expected = Rows(db_);
    for (const std::string code : {"A\\", "B'", "C\\'", "D' OR 1#", "E\\' OR 1#", "F'OR''='", "G\\\\'--"}) {
        const int site = db_.AddSite(code);
        Install(db_.Credentials(code));
        sqm_.SunH = -40.25;
        ASSERT_TRUE(sqm_.SendToNetwork(code)) << code << ": " << ::testing::PrintToString(Log());
        sqm_.SunH = 5.5;  // and the update path
        ASSERT_TRUE(sqm_.SendToNetwork(code)) << code;
        const std::string key = "200910152130055" + code;
        expected[key] = key + "|" + std::to_string(site) + "|2009-10-15 21:30:05|21.35|0.12|12.3|5.5|-12.5|"
                        "14.765294|0.499999981036613|0.998|04:12:00|18:30:15|K|0";
    }
    EXPECT_EQ(Rows(db_), expected);
    EXPECT_EQ(Log(), Strings{});
}

// A reading from the simulated meter, stored locally, uploaded, stored
// again with its flag, then re-uploaded as an update.
TEST_F(UploadTest, StoredReadingFromTheMeterReachesTheNetworkAndIsUpdatedLater) {
    fb::Database local(testsupport::CopyPristineDb(dir_.Path()));
    local.Open();
    local.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_CODE, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_OFFSET) "
                           "VALUES (12, 'AB12    ', 'Test', 45.5, 9.25, 0.15)");
    SqmSimConfig config;
    config.Value = 20.87;
    config.Temperature = -3.5;
    SqmSimulator meter(config);
    meter.Start();
    TSQM sqm(TSQMOptions{.Host = "127.0.0.1", .Port = meter.Port(), .TimeoutSeconds = 2, .Database = &local,
        .Offset = 0.15, .SiteId = 12});
    ASSERT_TRUE(sqm.UpdateReading(&local, 0));
    sqm.State = 0;
    ASSERT_TRUE(sqm.StoreReading(&local));
    const std::string localKey = sqm.ReadingCode(), key = localKey + "AB12";
#ifdef KALO_HAVE_CORE
    EXPECT_EQ(Pending(local, 12, 10), Strings{localKey + "/AB12"});  // waiting now...
#endif
    ASSERT_TRUE(sqm.SendToNetwork("AB12    "));
    ASSERT_TRUE(sqm.StoreReading(&local));
    const auto f = [](double v) { return netdb::FormatFloat(v); };
    const std::string row = key + "|3|" + FormatSqlDateTime(sqm.DateTime) + "|20.87|0.15|-3.5|" + f(sqm.SunH) + "|" +
                            f(sqm.MoonH) + "|" + f(sqm.MoonAgeDays) + "|" + f(sqm.MoonPh) + "|" + f(sqm.MoonIllum) +
                            "|" + FormatTimeOfDay(sqm.AstroDowning) + "|" + FormatTimeOfDay(sqm.AstroTwilight) + "|K|";
    EXPECT_EQ(Rows(db_), (RowMap{{key, row + "0"}}));

    TSQM loaded(TSQMOptions{.Host = "127.0.0.1", .Port = meter.Port(), .TimeoutSeconds = 2, .Database = &local});
    ASSERT_TRUE(loaded.LoadReading(&local, localKey));
    EXPECT_TRUE(loaded.Uploaded);  // the local row carries the flag
#ifdef KALO_HAVE_CORE
    EXPECT_EQ(Pending(local, 12, 10), Strings{});  // ...and no longer once uploaded
#endif
    // Re-upload of the loaded reading, now as a daylight reading: an update.
    loaded.State = -1;
    ASSERT_TRUE(loaded.SendToNetwork("AB12"));
    EXPECT_EQ(Rows(db_), (RowMap{{key, row + "-1"}}));
}
