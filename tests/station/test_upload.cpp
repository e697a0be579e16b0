// Upload of readings to the network database, against the MariaDB test
// server. The statements are read back from the server's general log and
// compared with the expected text written out by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <locale>
#include <regex>

#include "credentials.h"
#include "fbdb.h"
#include "myutils.h"
#include "netdatabase.h"
#include "netdb_test_support.h"
#include "sqm.h"
#include "sqmsim.h"
#include "testsupport.h"
#ifdef KALO_HAVE_CORE
#include "datamodule.h"
#endif

namespace fs = std::filesystem;
using nettest::NetworkDb;

namespace {

std::string NetworkLogFile(const testsupport::TempDir& dir) {
    return (dir.Path() / "LOGS" / "ERROR-LOG-SITE-NETWORK.TXT").string();
}

std::vector<std::string> LogLines(const testsupport::TempDir& dir) {
    const std::string text = testsupport::ReadFile(NetworkLogFile(dir));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no line end>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// "dd/mm/yyyy hh.mm.ss" + what follows.
::testing::AssertionResult IsLogLine(const std::string& line, const std::string& rest) {
    static const std::regex stamp(R"(^\d{2}/\d{2}/\d{4} \d{2}\.\d{2}\.\d{2})");
    if (line.size() < 19 || !std::regex_search(line.substr(0, 19), stamp))
        return ::testing::AssertionFailure() << "no time stamp: " << line;
    if (line.substr(19) != rest) return ::testing::AssertionFailure() << "\n  got: " << line.substr(19) << "\n want: " << rest;
    return ::testing::AssertionSuccess();
}

// Every row of READINGS as text, keyed by REA_KALOCODE.
std::map<std::string, std::vector<std::optional<std::string>>> Rows(const NetworkDb& db) {
    const netdb::Result r = db.Admin("SELECT * FROM READINGS ORDER BY REA_KALOCODE");
    std::map<std::string, std::vector<std::optional<std::string>>> out;
    for (size_t i = 0; i < r.RowCount(); ++i) {
        std::vector<std::optional<std::string>> row;
        for (size_t j = 0; j < r.FieldCount(); ++j) row.push_back(r.Value(i, j));
        out[r.Text(i, "REA_KALOCODE")] = row;
    }
    return out;
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir_.Str());
        db_.AddSite("OTHER1");
        db_.AddSite("OTHER2");
        networkSite_ = db_.AddSite("AB12");
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
    void Install(const TCredentials& c) {
        fs::create_directories(dir_.Path() / "crdfiles");
        WriteCredentialsFile(CredentialsFileName(c.SiteCode), c);
    }
    std::string SiteSelect(const std::string& quotedCode) {
        return "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE=" + quotedCode;
    }
    std::string CountSelect(const std::string& quotedKey) {
        return "SELECT COUNT(REA_KALOCODE) AS NUM FROM READINGS WHERE REA_KALOCODE=" + quotedKey;
    }
    std::string ExpectedInsert() {
        return "INSERT INTO READINGS SET REA_KALOCODE='200910152130055AB12', REA_SITE=" + std::to_string(networkSite_) +
               ", REA_DATETIME='2009-10-15 21:30:05', REA_SQMVALUE=21.35, REA_SQMOFFSET=0.12, REA_SQMTEMP=12.3, "
               "REA_SUNH=-40.25, REA_MOONH=-12.5, REA_MOONAGE=14.765294, REA_MOONPH=0.499999981036613, "
               "REA_ASTRO_DOWNING='04:12:00', REA_ASTRO_TWILIGHT='18:30:15', REA_ORIGIN='K', REA_STATE=0, "
               "REA_MOONILLUM=0.998";
    }

    testsupport::TempDir dir_;
    NetworkDb db_;
    int networkSite_ = 0;
    TSQM sqm_{"127.0.0.1", 1, 1, nullptr, false, false, 0, 0, 0};
};

}  // namespace

TEST_F(UploadTest, FirstCallInsertsAndSecondUpdatesOnlyAstronomyAndState) {
    ASSERT_EQ(networkSite_, 3);
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    EXPECT_TRUE(sqm_.Uploaded);
    std::vector<std::string> sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='AB12'");
    EXPECT_EQ(sent[1], "SELECT COUNT(REA_KALOCODE) AS NUM FROM READINGS WHERE REA_KALOCODE='200910152130055AB12'");
    EXPECT_EQ(sent[2], ExpectedInsert());

    netdb::Result r = db_.Admin("SELECT * FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.Text(0, "REA_SITE"), "3");
    EXPECT_EQ(r.Text(0, "REA_DATETIME"), "2009-10-15 21:30:05");
    EXPECT_EQ(r.Text(0, "REA_SQMVALUE"), "21.35");
    EXPECT_EQ(r.Text(0, "REA_SUNH"), "-40.25");
    EXPECT_EQ(r.Text(0, "REA_ORIGIN"), "K");

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
    sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[3], sent[0]);
    EXPECT_EQ(sent[4], sent[1]);
    EXPECT_EQ(sent[5],
              "UPDATE READINGS SET REA_SUNH=-12.5, REA_MOONH=3.25, REA_MOONAGE=1.5, REA_MOONPH=0.05, "
              "REA_ASTRO_DOWNING='03:04:05', REA_ASTRO_TWILIGHT='19:01:02', REA_MOONILLUM=0.0123, REA_STATE=-1 "
              "WHERE REA_KALOCODE='200910152130055AB12'");
    r = db_.Admin("SELECT * FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.Text(0, "REA_KALOCODE"), "200910152130055AB12");
    EXPECT_EQ(r.Text(0, "REA_SITE"), "3");
    EXPECT_EQ(r.Text(0, "REA_DATETIME"), "2009-10-15 21:30:05");
    EXPECT_EQ(r.Text(0, "REA_SQMVALUE"), "21.35");
    EXPECT_EQ(r.Text(0, "REA_SQMOFFSET"), "0.12");
    EXPECT_EQ(r.Text(0, "REA_SQMTEMP"), "12.3");
    EXPECT_EQ(r.Text(0, "REA_ORIGIN"), "K");
    EXPECT_EQ(r.Text(0, "REA_SUNH"), "-12.5");
    EXPECT_EQ(r.Text(0, "REA_MOONH"), "3.25");
    EXPECT_EQ(r.Text(0, "REA_MOONAGE"), "1.5");
    EXPECT_EQ(r.Text(0, "REA_MOONPH"), "0.05");
    EXPECT_EQ(r.Text(0, "REA_MOONILLUM"), "0.0123");
    EXPECT_EQ(r.Text(0, "REA_ASTRO_DOWNING"), "03:04:05");
    EXPECT_EQ(r.Text(0, "REA_ASTRO_TWILIGHT"), "19:01:02");
    EXPECT_EQ(r.Text(0, "REA_STATE"), "-1");
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));
}

TEST_F(UploadTest, SiteCodeWithBlanksGivesTheTrimmedKeyAndLookup) {
    ASSERT_TRUE(sqm_.SendToNetwork("AB12    "));
    const auto sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='AB12'");
    EXPECT_EQ(sent[2], ExpectedInsert());
    // Uploading under the trimmed code finds the same row.
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    EXPECT_EQ(db_.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "1");
}

TEST_F(UploadTest, ValueFormsCoverZeroSmallAndLargeNumbers) {
    sqm_.SQMValue = 0;
    sqm_.Offset = -0.000001;
    sqm_.Temperature = 1e15;
    sqm_.MoonIllum = 0.00001;
    sqm_.AstroTwilight = 0;
    sqm_.AstroDowning = EncodeTime(23, 59, 59);
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    const auto sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2],
              "INSERT INTO READINGS SET REA_KALOCODE='200910152130055AB12', REA_SITE=3, "
              "REA_DATETIME='2009-10-15 21:30:05', REA_SQMVALUE=0, REA_SQMOFFSET=-1E-6, REA_SQMTEMP=1E15, "
              "REA_SUNH=-40.25, REA_MOONH=-12.5, REA_MOONAGE=14.765294, REA_MOONPH=0.499999981036613, "
              "REA_ASTRO_DOWNING='23:59:59', REA_ASTRO_TWILIGHT='00:00:00', REA_ORIGIN='K', REA_STATE=0, "
              "REA_MOONILLUM=0.00001");
}

TEST_F(UploadTest, CommaDecimalLocaleChangesNothingAndIsLeftAlone) {
    ASSERT_EQ(::setenv("LOCPATH", KALO_TEST_LOCALES, 1), 0);
    struct Restore {
        ~Restore() { std::locale::global(std::locale::classic()); }
    } restore;
    std::locale::global(std::locale("it_IT.UTF-8"));  // C++ and C locale both
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const std::string cBefore = std::setlocale(LC_ALL, nullptr);
    const std::string cxxBefore = std::locale().name();

    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    sqm_.SunH = -7.75;
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));

    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), cBefore);
    EXPECT_EQ(std::locale().name(), cxxBefore);
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");

    const auto sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[2], ExpectedInsert());
    EXPECT_EQ(sent[5],
              "UPDATE READINGS SET REA_SUNH=-7.75, REA_MOONH=-12.5, REA_MOONAGE=14.765294, "
              "REA_MOONPH=0.499999981036613, REA_ASTRO_DOWNING='04:12:00', REA_ASTRO_TWILIGHT='18:30:15', "
              "REA_MOONILLUM=0.998, REA_STATE=0 WHERE REA_KALOCODE='200910152130055AB12'");
}

TEST_F(UploadTest, RejectedInsertIsLoggedWithTheWholeStatement) {
    Install(db_.Credentials("AB12", /*readOnly=*/true));
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_FALSE(sqm_.Uploaded);
    const auto lines = LogLines(dir_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogLine(lines[0], " Query non eseguita: " + ExpectedInsert()));
    EXPECT_EQ(db_.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "0");
}

TEST_F(UploadTest, RejectedUpdateLeavesUploadedAsItWas) {
    ASSERT_TRUE(sqm_.SendToNetwork("AB12"));
    Install(db_.Credentials("AB12", /*readOnly=*/true));
    sqm_.SunH = 1.5;
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_TRUE(sqm_.Uploaded);  // never taken back by a failed upload
    const auto lines = LogLines(dir_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogLine(lines[0],
                          " Query non eseguita: UPDATE READINGS SET REA_SUNH=1.5, REA_MOONH=-12.5, "
                          "REA_MOONAGE=14.765294, REA_MOONPH=0.499999981036613, REA_ASTRO_DOWNING='04:12:00', "
                          "REA_ASTRO_TWILIGHT='18:30:15', REA_MOONILLUM=0.998, REA_STATE=0 "
                          "WHERE REA_KALOCODE='200910152130055AB12'"));
    EXPECT_EQ(db_.Admin("SELECT REA_SUNH FROM READINGS").FirstText(), "-40.25");
}

TEST_F(UploadTest, UnknownSiteCodeIsAnExceptionAndSendsNoReading) {
    Install(db_.Credentials("QQ77"));
    EXPECT_FALSE(sqm_.SendToNetwork("QQ77"));
    EXPECT_FALSE(sqm_.Uploaded);
    const auto lines = LogLines(dir_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogLine(lines[0], " Eccezione in TSQM.SendToNetwork: '' is not a valid integer value"));
    const auto sent = nettest::StatementsOf(db_.Writer());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='QQ77'");
}

TEST_F(UploadTest, ValueWithoutSqlFormIsAnExceptionAndSendsNoReading) {
    sqm_.MoonIllum = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    const auto lines = LogLines(dir_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogLine(lines[0], " Eccezione in TSQM.SendToNetwork: "
                                    "A number that is not finite cannot be sent to the network database"));
    EXPECT_EQ(nettest::StatementsOf(db_.Writer()).size(), 2u);
    EXPECT_EQ(db_.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "0");
}

TEST_F(UploadTest, ServerDownGivesFalseAndLogsNothing) {
    TCredentials c = db_.Credentials("AB12");
    c.Port = nettest::ClosedPort();
    Install(c);
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_FALSE(sqm_.Uploaded);
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));

    // A peer that never answers is given up after the 10-second connect
    // timeout (an upper bound on waiting, not a speed requirement).
    nettest::SilentListener silent;
    c.Port = silent.Port();
    Install(c);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10 + 5.0);
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));
}

TEST_F(UploadTest, WrongAccountGivesFalseAndLogsNothing) {
    TCredentials c = db_.Credentials("AB12");
    c.Password = "wrong";
    Install(c);
    EXPECT_FALSE(sqm_.SendToNetwork("AB12"));
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));
}

TEST_F(UploadTest, MissingCredentialsFileIsRaisedToTheCaller) {
    EXPECT_THROW(sqm_.SendToNetwork("NOFILE"), CredentialsFileError);
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));
}

TEST_F(UploadTest, QuotesAndBackslashesInCodesNeverTouchOtherRows) {
    // Readings of other sites that a statement escaping its quotes could reach.
    db_.Admin("INSERT INTO READINGS SET REA_KALOCODE='200910152130055OTHER1', REA_SITE=1, "
              "REA_DATETIME='2009-10-15 21:30:05', REA_SQMVALUE=20, REA_SUNH=-30, REA_STATE=0, REA_ORIGIN='K'");
    db_.Admin("INSERT INTO READINGS SET REA_KALOCODE='x', REA_SITE=2, "
              "REA_DATETIME='2009-10-15 21:30:05', REA_SQMVALUE=19, REA_SUNH=-31, REA_STATE=0, REA_ORIGIN='K'");
    const auto others = Rows(db_);

    const std::string codes[] = {"A\\", "B'", "C\\'", "D' OR 1#", "E\\' OR 1#", "F'OR''='", "G\\\\'--"};
    for (const std::string& code : codes) {
        const int site = db_.AddSite(code);
        Install(db_.Credentials(code));
        sqm_.Uploaded = false;
        sqm_.SunH = -40.25;
        ASSERT_TRUE(sqm_.SendToNetwork(code)) << code << ": " << testsupport::ReadFile(NetworkLogFile(dir_));
        EXPECT_TRUE(sqm_.Uploaded);
        sqm_.SunH = 5.5;  // and the update path
        ASSERT_TRUE(sqm_.SendToNetwork(code)) << code;

        const std::string key = "200910152130055" + code;
        netdb::Connection c;
        ASSERT_TRUE(c.Connect(nettest::AdminParams(db_.Name())));
        const netdb::Result mine = c.Query("SELECT REA_SITE, REA_SUNH FROM READINGS WHERE REA_KALOCODE=" + c.Quote(key));
        ASSERT_EQ(mine.RowCount(), 1u) << code;
        EXPECT_EQ(mine.Text(0, "REA_SITE"), std::to_string(site)) << code;
        EXPECT_EQ(mine.Text(0, "REA_SUNH"), "5.5") << code;
    }
    auto after = Rows(db_);
    EXPECT_EQ(after.size(), others.size() + std::size(codes));
    for (const auto& [key, row] : others) EXPECT_EQ(after[key], row) << key;
    EXPECT_FALSE(fs::exists(NetworkLogFile(dir_)));
}

TEST_F(UploadTest, ServerReplyThatIsNoNumberNeverReachesAStatement) {
    // A server whose site identifier is text: whatever it sends must be a
    // whole number before it is written into the insert.
    db_.Admin("ALTER TABLE SQMSITES MODIFY SIT_ID VARCHAR(40) NOT NULL");
    db_.Admin("INSERT INTO SQMSITES (SIT_ID, SIT_CODE) VALUES ('7, REA_STATE=9', 'EVIL1'), "
              "('8'' OR ''1''=''1', 'EVIL2'), ('9\\\\', 'EVIL3')");
    for (const std::string code : {"EVIL1", "EVIL2", "EVIL3"}) {
        Install(db_.Credentials(code));
        EXPECT_FALSE(sqm_.SendToNetwork(code)) << code;
    }
    const auto lines = LogLines(dir_);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(IsLogLine(lines[0], " Eccezione in TSQM.SendToNetwork: '7, REA_STATE=9' is not a valid integer value"));
    EXPECT_TRUE(IsLogLine(lines[1], " Eccezione in TSQM.SendToNetwork: '8' OR '1'='1' is not a valid integer value"));
    EXPECT_TRUE(IsLogLine(lines[2], " Eccezione in TSQM.SendToNetwork: '9\\' is not a valid integer value"));
    EXPECT_EQ(db_.Admin("SELECT COUNT(*) FROM READINGS").FirstText(), "0");
}

// A reading from the simulated meter, stored locally, uploaded, stored
// again with its flag, then re-uploaded as an update.
TEST(UploadFromMeter, StoredReadingReachesTheNetworkAndIsUpdatedLater) {
    testsupport::TempDir dir;
    SetProgramDir(dir.Str());
    NetworkDb net;
    net.AddSite("OTHER1");
    const int networkSite = net.AddSite("AB12");
    fs::create_directories(dir.Path() / "crdfiles");
    WriteCredentialsFile(CredentialsFileName("AB12"), net.Credentials("AB12"));

    fb::Database local(testsupport::CopyPristineDb(dir.Path()));
    local.Open();
    local.ExecuteImmediate(
        "INSERT INTO SQMSITES (SIT_ID, SIT_CODE, SIT_NAME, SIT_LATIT, SIT_LONG, SIT_OFFSET) "
        "VALUES (12, 'AB12    ', 'Test', 45.5, 9.25, 0.15)");

    SqmSimConfig config;
    config.Value = 20.87;
    config.Temperature = -3.5;
    SqmSimulator meter(config);
    meter.Start();
    TSQM sqm("127.0.0.1", meter.Port(), 2, &local, false, false, 0, 0.15, 12);
    ASSERT_TRUE(sqm.UpdateReading(&local, false, 0));
    sqm.State = 0;
    ASSERT_TRUE(sqm.StoreReading(&local));
    const std::string localKey = sqm.ReadingCode();

#ifdef KALO_HAVE_CORE
    // The data module's selection of waiting readings sees it now...
    auto pending = [&local]() {
        fb::Transaction tr(local);
        fb::Query q(tr);
        q.SetSQL(TData::kPendingSQL);
        q.SetInteger("NUMREC", 10);
        q.SetInteger("IDSITO", 12);
        q.Open();
        std::vector<std::string> keys;
        for (; !q.Eof(); q.Next()) keys.push_back(Trim(q.FieldByName("REA_CODE").AsString()));
        return keys;
    };
    EXPECT_EQ(pending(), std::vector<std::string>{localKey});
#endif

    ASSERT_TRUE(sqm.SendToNetwork("AB12    "));  // the code as the fixed-width column holds it
    ASSERT_TRUE(sqm.StoreReading(&local));

    const std::string networkKey = localKey + "AB12";
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(nettest::AdminParams(net.Name())));
    netdb::Result r = c.Query("SELECT * FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.Text(0, "REA_KALOCODE"), networkKey);
    EXPECT_EQ(r.Text(0, "REA_SITE"), std::to_string(networkSite));
    EXPECT_EQ(r.Text(0, "REA_DATETIME"), FormatSqlDateTime(sqm.DateTime));
    EXPECT_EQ(r.Text(0, "REA_SQMVALUE"), "20.87");
    EXPECT_EQ(r.Text(0, "REA_SQMOFFSET"), "0.15");
    EXPECT_EQ(r.Text(0, "REA_SQMTEMP"), "-3.5");
    EXPECT_EQ(r.Text(0, "REA_SUNH"), netdb::FormatFloat(sqm.SunH));
    EXPECT_EQ(r.Text(0, "REA_MOONH"), netdb::FormatFloat(sqm.MoonH));
    EXPECT_EQ(r.Text(0, "REA_MOONAGE"), netdb::FormatFloat(sqm.MoonAgeDays));
    EXPECT_EQ(r.Text(0, "REA_MOONPH"), netdb::FormatFloat(sqm.MoonPh));
    EXPECT_EQ(r.Text(0, "REA_MOONILLUM"), netdb::FormatFloat(sqm.MoonIllum));
    EXPECT_EQ(r.Text(0, "REA_ASTRO_TWILIGHT"), FormatTimeOfDay(sqm.AstroTwilight));
    EXPECT_EQ(r.Text(0, "REA_ASTRO_DOWNING"), FormatTimeOfDay(sqm.AstroDowning));
    EXPECT_EQ(r.Text(0, "REA_ORIGIN"), "K");
    EXPECT_EQ(r.Text(0, "REA_STATE"), "0");

    // The local row now carries the flag.
    TSQM loaded("127.0.0.1", meter.Port(), 2, &local, false, false, 0, 0, 0);
    ASSERT_TRUE(loaded.LoadReading(&local, localKey));
    EXPECT_TRUE(loaded.Uploaded);
#ifdef KALO_HAVE_CORE
    EXPECT_TRUE(pending().empty());  // ...and no longer once it is uploaded
#endif

    // Re-upload of the loaded reading, now as a daylight reading: an update.
    loaded.State = -1;
    ASSERT_TRUE(loaded.SendToNetwork("AB12"));
    r = c.Query("SELECT REA_STATE, REA_SQMVALUE FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.Text(0, "REA_STATE"), "-1");
    EXPECT_EQ(r.Text(0, "REA_SQMVALUE"), "20.87");
    const auto sent = nettest::StatementsOf(net.Writer());
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[2].rfind("INSERT INTO READINGS SET REA_KALOCODE='" + networkKey + "', REA_SITE=" +
                                std::to_string(networkSite) + ", REA_DATETIME='",
                            0),
              0u)
        << sent[2];
    EXPECT_EQ(sent[5].rfind("UPDATE READINGS SET REA_SUNH=", 0), 0u) << sent[5];
    EXPECT_NE(sent[5].find(", REA_STATE=-1 WHERE REA_KALOCODE='" + networkKey + "'"), std::string::npos) << sent[5];
    meter.Stop();
    local.Close();
}

#ifdef KALO_HAVE_CORE
// Which readings wait for upload: not uploaded or modified, not daylight,
// a positive value; newest first, at most NUMREC, of the one site.
TEST(PendingReadings, SelectionFollowsTheFlagsAndOrder) {
    testsupport::TempDir dir;
    fb::Database local(testsupport::CopyPristineDb(dir.Path()));
    local.Open();
    local.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_CODE) VALUES (1, 'AB12')");
    local.ExecuteImmediate("INSERT INTO SQMSITES (SIT_ID, SIT_CODE) VALUES (2, 'CD34')");
    struct Row {
        const char* code;
        int site;
        const char* when;
        double value;
        int state, uploaded, modified;
    } rows[] = {
        {"R1", 1, "2020-01-01 22:00:00", 20, 0, 0, 0},   // waiting
        {"R2", 1, "2020-01-02 22:00:00", 20, 0, 1, 0},   // uploaded
        {"R3", 1, "2020-01-03 22:00:00", 20, 0, 1, 1},   // uploaded, then modified: waiting
        {"R4", 1, "2020-01-04 12:00:00", 20, -1, 0, 0},  // daylight
        {"R5", 1, "2020-01-05 22:00:00", 0, 0, 0, 0},    // no value
        {"R6", 2, "2020-01-06 22:00:00", 20, 0, 0, 0},   // another site
        {"R7", 1, "2020-01-07 22:00:00", 19, 0, 0, 0},   // waiting, newest
    };
    for (const Row& r : rows) {
        local.ExecuteImmediate(std::string("INSERT INTO READINGS (REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, "
                                           "REA_STATE, REA_UPLOADED, REA_MODIFIED) VALUES ('") +
                               r.code + "', " + std::to_string(r.site) + ", '" + r.when + "', " +
                               std::to_string(r.value) + ", " + std::to_string(r.state) + ", " +
                               std::to_string(r.uploaded) + ", " + std::to_string(r.modified) + ")");
    }
    auto select = [&local](int limit) {
        fb::Transaction tr(local);
        fb::Query q(tr);
        q.SetSQL(TData::kPendingSQL);
        q.SetInteger("NUMREC", limit);
        q.SetInteger("IDSITO", 1);
        q.Open();
        std::vector<std::string> keys;
        for (; !q.Eof(); q.Next()) keys.push_back(Trim(q.FieldByName("REA_CODE").AsString()) + "/" +
                                                  Trim(q.FieldByName("SIT_CODE").AsString()));
        return keys;
    };
    EXPECT_EQ(select(10), (std::vector<std::string>{"R7/AB12", "R3/AB12", "R1/AB12"}));
    EXPECT_EQ(select(2), (std::vector<std::string>{"R7/AB12", "R3/AB12"}));
    local.Close();
}
#endif
