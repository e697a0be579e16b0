// Network database access and the admission test, against the MariaDB
// test server; value formats without it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "credentials.h"
#include "myutils.h"
#include "netdatabase.h"
#include "netdb_test_support.h"
#include "testsupport.h"

using nettest::NetworkDb;

namespace {

netdb::ConnectParams WriterParams(const NetworkDb& db) {
    const TCredentials c = db.Credentials("X");
    netdb::ConnectParams p;
    p.Host = c.Host;
    p.Port = c.Port;
    p.User = c.User;
    p.Password = c.Password;
    p.Database = c.Database;
    p.ConnectTimeoutSeconds = 3;
    return p;
}

double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(NetworkFloat, ShortestGeneralFormWithUpTo15Digits) {
    using netdb::FormatFloat;
    EXPECT_EQ(FormatFloat(0.0), "0");
    EXPECT_EQ(FormatFloat(-0.0), "0");
    EXPECT_EQ(FormatFloat(21.35), "21.35");
    EXPECT_EQ(FormatFloat(-12.5), "-12.5");
    EXPECT_EQ(FormatFloat(3), "3");
    EXPECT_EQ(FormatFloat(-90), "-90");
    EXPECT_EQ(FormatFloat(0.1), "0.1");
    EXPECT_EQ(FormatFloat(0.1 + 0.2), "0.3");                         // 0.30000000000000004 at 15 digits
    EXPECT_EQ(FormatFloat(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(FormatFloat(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(FormatFloat(14.765294 / 29.53058912), "0.499999981036613");
    EXPECT_EQ(FormatFloat(123456789012345.0), "123456789012345");     // 15 digits before the point
    EXPECT_EQ(FormatFloat(1234567890123456.0), "1.23456789012346E15");
    EXPECT_EQ(FormatFloat(1e15), "1E15");
    EXPECT_EQ(FormatFloat(999999999999999.9), "1E15");                // rounding carries into a 16th digit
    EXPECT_EQ(FormatFloat(0.00001), "0.00001");
    EXPECT_EQ(FormatFloat(0.000012345), "0.000012345");
    EXPECT_EQ(FormatFloat(0.0000099), "9.9E-6");
    EXPECT_EQ(FormatFloat(-0.000001), "-1E-6");
    EXPECT_EQ(FormatFloat(1.5e-300), "1.5E-300");
    EXPECT_EQ(FormatFloat(1e100), "1E100");
    EXPECT_THROW(FormatFloat(std::numeric_limits<double>::quiet_NaN()), netdb::Error);
    EXPECT_THROW(FormatFloat(std::numeric_limits<double>::infinity()), netdb::Error);
}

TEST(NetworkInteger, OnlyWholeDecimalNumbers) {
    EXPECT_EQ(netdb::ParseInteger("7"), 7);
    EXPECT_EQ(netdb::ParseInteger("-12"), -12);
    EXPECT_EQ(netdb::ParseInteger("+5"), 5);
    EXPECT_EQ(netdb::ParseInteger("2147483647"), 2147483647);
    for (const char* bad : {"", " 7", "7 ", "7.0", "0x1F", "+-5", "2147483648", "7' OR '1'='1", "-"}) {
        EXPECT_THROW(netdb::ParseInteger(bad), netdb::Error) << bad;
    }
    try {
        netdb::ParseInteger("");
    } catch (const netdb::Error& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    try {
        netdb::ParseInteger("1\r\n2");
    } catch (const netdb::Error& e) {
        EXPECT_STREQ(e.what(), "'1??2' is not a valid integer value");
    }
}

TEST(NetworkConnection, RefusedOrSilentServersGiveFalseWithinTheTimeout) {
    netdb::Connection c;
    netdb::ConnectParams p;
    p.Host = "127.0.0.1";
    p.Port = nettest::ClosedPort();
    p.User = "nobody";
    p.ConnectTimeoutSeconds = 3;
    EXPECT_FALSE(c.Connect(p));
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.LastError().empty());
    EXPECT_THROW(c.Execute("SELECT 1"), netdb::Error);
    EXPECT_THROW(c.Escape("x"), netdb::Error);

    // A peer that accepts and never greets: the connect timeout ends the wait
    // (an upper bound on waiting, not a speed requirement).
    nettest::SilentListener silent;
    p.Port = silent.Port();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(c.Connect(p));
    EXPECT_LT(SecondsSince(t0), 3 + 5.0);

    p.Port = 70000;
    EXPECT_FALSE(c.Connect(p));
    EXPECT_NE(c.LastError().find("port"), std::string::npos);
}

TEST(NetworkConnection, WrongPasswordIsRefused) {
    NetworkDb db;
    netdb::ConnectParams p = WriterParams(db);
    p.Password = "wrong";
    netdb::Connection c;
    EXPECT_FALSE(c.Connect(p));
    EXPECT_NE(c.LastError().find("denied"), std::string::npos) << c.LastError();
}

TEST(NetworkConnection, ReadsFieldsByPositionAndByNameAsText) {
    NetworkDb db;
    db.Admin("INSERT INTO READINGS SET REA_KALOCODE='K1', REA_SITE=3, REA_DATETIME='2009-10-15 21:30:05', "
             "REA_SQMVALUE=21.35, REA_SUNH=-40.25, REA_ASTRO_DOWNING='04:05:06', REA_ORIGIN='K', REA_STATE=0");
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(WriterParams(db))) << c.LastError();
    const netdb::Result r = c.Query("SELECT * FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.FieldCount(), 15u);
    EXPECT_EQ(r.FieldNames()[0], "REA_KALOCODE");
    EXPECT_EQ(r.Text(0, 0), "K1");
    EXPECT_EQ(r.Text(0, "rea_site"), "3");
    EXPECT_EQ(r.Text(0, "REA_DATETIME"), "2009-10-15 21:30:05");
    EXPECT_EQ(r.Text(0, "REA_SQMVALUE"), "21.35");
    EXPECT_EQ(r.Text(0, "REA_SUNH"), "-40.25");
    EXPECT_EQ(r.Text(0, "REA_ASTRO_DOWNING"), "04:05:06");
    EXPECT_FALSE(r.Value(0, "REA_MOONH").has_value());  // NULL
    EXPECT_EQ(r.Text(0, "REA_MOONH"), "");
    EXPECT_EQ(r.FirstText(), "K1");
    EXPECT_THROW(r.Value(0, "NO_SUCH_COLUMN"), netdb::Error);
    EXPECT_THROW(r.Value(1, 0), netdb::Error);
    EXPECT_THROW(r.Value(0, 15), netdb::Error);

    const netdb::Result none = c.Query("SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='nope'");
    EXPECT_EQ(none.RowCount(), 0u);
    EXPECT_EQ(none.FirstText(), "");
}

TEST(NetworkConnection, FailedStatementsReportTheServersMessage) {
    NetworkDb db;
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(WriterParams(db)));
    netdb::Result r;
    EXPECT_FALSE(c.Execute("SELECT NO_SUCH_COLUMN FROM READINGS", &r));
    EXPECT_NE(c.LastError().find("NO_SUCH_COLUMN"), std::string::npos);
    EXPECT_NE(c.LastErrorCode(), 0u);
    EXPECT_THROW(c.Query("INSERT INTO NO_SUCH_TABLE SET X=1"), netdb::Error);
    // One call runs one statement: a second one after a semicolon is a syntax error.
    EXPECT_FALSE(c.Execute("SELECT 1; DROP TABLE READINGS"));
    EXPECT_EQ(db.Admin("SHOW TABLES LIKE 'READINGS'").RowCount(), 1u);
    // The connection stays usable after a failed statement.
    EXPECT_EQ(c.Query("SELECT 41+1").FirstText(), "42");
}

TEST(NetworkConnection, QuotedTextsArriveUnchanged) {
    NetworkDb db;
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(WriterParams(db)));
    const std::string nasty[] = {"it's", "back\\", "\\'", "'; DROP TABLE READINGS; --", std::string("nul\0byte", 8),
                                 "line\r\nend", "\x1a", "\"dq\"", "caf\xc3\xa9"};
    int i = 0;
    for (const std::string& text : nasty) {
        const std::string key = "Q" + std::to_string(i++);
        ASSERT_TRUE(c.Execute("INSERT INTO SQMSITES SET SIT_CODE=" + c.Quote(key))) << c.LastError();
        const netdb::Result r = c.Query("SELECT " + c.Quote(text) + " AS T");
        EXPECT_EQ(r.Text(0, "T"), text);
        EXPECT_EQ(c.Quote(text).find('\n'), std::string::npos);
    }
    EXPECT_EQ(netdb::ParseInteger(c.Query("SELECT COUNT(*) FROM SQMSITES").FirstText()), static_cast<int>(i));
}

TEST(NetworkConnection, EscapingFollowsTheServersSqlMode) {
    // With NO_BACKSLASH_ESCAPES a backslash is an ordinary character and only
    // quotes may be doubled: the connection's own escaping knows this.
    NetworkDb db;
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(WriterParams(db)));
    ASSERT_TRUE(c.Execute("SET SESSION sql_mode=CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"));
    for (const std::string text : {"back\\", "\\'", "it's", "a\\'b"}) {
        EXPECT_EQ(c.Query("SELECT " + c.Quote(text)).FirstText(), text);
    }
}

// The admission test with real servers.
class AdmissionTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir_.Str()); }
    void Install(const TCredentials& c) {
        std::filesystem::create_directories(dir_.Path() / "crdfiles");
        WriteCredentialsFile(CredentialsFileName(c.SiteCode), c);
    }
    testsupport::TempDir dir_;
};

TEST_F(AdmissionTest, KnownSiteIsAdmitted) {
    NetworkDb db;
    db.AddSite("AB12");
    Install(db.Credentials("AB12"));
    std::string text = "stale";
    EXPECT_TRUE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "");
    // The code goes to the server as given; its comparison ignores trailing blanks.
    EXPECT_TRUE(TestNetworkConnection("AB12  ", text));
    EXPECT_EQ(text, "");
    const auto sent = nettest::StatementsOf(db.Writer());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "SELECT COUNT(SIT_ID) AS NUM FROM SQMSITES WHERE SIT_CODE='AB12'");
    EXPECT_EQ(sent[1], "SELECT COUNT(SIT_ID) AS NUM FROM SQMSITES WHERE SIT_CODE='AB12  '");
}

TEST_F(AdmissionTest, UnknownSiteIsNotConfigured) {
    NetworkDb db;
    db.AddSite("ZZ99");
    Install(db.Credentials("AB12"));
    std::string text;
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Site not configured on the remote server");
}

TEST_F(AdmissionTest, UnreachableOrSilentServerCannotConnect) {
    TCredentials c;
    c.SiteCode = "AB12";
    c.Host = "127.0.0.1";
    c.Port = nettest::ClosedPort();
    c.User = "u";
    c.Database = "d";
    c.Upload = true;
    Install(c);
    std::string text;
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Unable to connect to the database");

    nettest::SilentListener silent;
    c.Port = silent.Port();
    Install(c);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Unable to connect to the database");
    EXPECT_LT(SecondsSince(t0), 3 + 5.0);  // bounded by the 3-second connect timeout
}

TEST_F(AdmissionTest, WrongAccountCannotConnect) {
    NetworkDb db;
    db.AddSite("AB12");
    TCredentials c = db.Credentials("AB12");
    c.Password = "wrong";
    Install(c);
    std::string text;
    EXPECT_FALSE(TestNetworkConnection("AB12", text));
    EXPECT_EQ(text, "Unable to connect to the database");
}

TEST_F(AdmissionTest, QuotesInTheCodeCannotForgeAnAdmission) {
    NetworkDb db;
    db.AddSite("AB12");
    // A code that would make the count non-zero if it left its quotes.
    for (const std::string code : {"X'OR'1'='1", "X\\'OR 1=1#"}) {
        Install(db.Credentials(code));
        std::string text;
        EXPECT_FALSE(TestNetworkConnection(code, text)) << code;
        EXPECT_EQ(text, "Site not configured on the remote server") << code;
    }
}
