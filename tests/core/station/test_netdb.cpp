// Network database access and the admission test, against the MariaDB
// test server; value formats without it.
#include <limits>

#include "support/netdb_test_support.h"

using nettest::NetworkDb;

namespace {

netdb::ConnectParams WriterParams(const NetworkDb& db) {
    const TCredentials c = db.Credentials("X");
    return {c.Host, c.Port, c.User, c.Password, c.Database, 3};
}

}  // namespace

TEST(NetworkFloat, ShortestGeneralFormWithUpTo15Digits) {
    // 0.1 + 0.2 is 0.30000000000000004; 999999999999999.9 rounds into a 16th digit.
    const std::pair<double, const char*> cases[] = {
        {0.0, "0"}, {-0.0, "0"}, {21.35, "21.35"}, {-12.5, "-12.5"}, {3, "3"}, {-90, "-90"}, {0.1, "0.1"},
        {0.1 + 0.2, "0.3"}, {1.0 / 3.0, "0.333333333333333"}, {2.0 / 3.0, "0.666666666666667"},
        {123456789012345.0, "123456789012345"}, {1234567890123456.0, "1.23456789012346E15"}, {1e15, "1E15"},
        {999999999999999.9, "1E15"}, {0.00001, "0.00001"}, {0.000012345, "0.000012345"}, {0.0000099, "9.9E-6"},
        {-0.000001, "-1E-6"}, {1.5e-300, "1.5E-300"}, {1e100, "1E100"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(netdb::FormatFloat(value), text);
    EXPECT_THROW(netdb::FormatFloat(std::numeric_limits<double>::quiet_NaN()), netdb::Error);
    EXPECT_THROW(netdb::FormatFloat(std::numeric_limits<double>::infinity()), netdb::Error);
}

TEST(NetworkInteger, OnlyWholeDecimalNumbers) {
    for (const auto& [text, value] : {std::pair<const char*, int>{"7", 7}, {"-12", -12}, {"+5", 5}, {"2147483647", 2147483647}})
        EXPECT_EQ(netdb::ParseInteger(text), value);
    for (const char* bad : {"", " 7", "7 ", "7.0", "0x1F", "+-5", "2147483648", "7' OR '1'='1", "-"})
        EXPECT_THROW(netdb::ParseInteger(bad), netdb::Error) << bad;
    // The text in the message escaped and cut short.
    const std::pair<std::string, std::string> quoted[] = {
        {"1\r\n2\x1B", "'1\\r\\n2\\x1B'"}, {std::string(64, '9') + "x", "'" + std::string(64, '9') + "...'"}};
    for (const auto& [text, shown] : quoted) {
        try {
            netdb::ParseInteger(text);
            ADD_FAILURE() << "no error";
        } catch (const netdb::Error& e) {
            EXPECT_EQ(e.what(), shown + " is not a valid integer value");
        }
    }
}

TEST(NetworkConnection, RefusalsGiveTheReasonFieldsReadAsTextAndAFailedStatementFailsAlone) {
    netdb::Connection c;
    netdb::ConnectParams p{"127.0.0.1", nettest::ClosedPort(), "nobody", "", "", 3};
    EXPECT_FALSE(c.Connect(p));
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.LastError().empty());
    EXPECT_THROW(c.Execute("SELECT 1"), netdb::Error);
    EXPECT_THROW(c.Escape("x"), netdb::Error);
    p.Port = 70000;
    EXPECT_FALSE(c.Connect(p));
    EXPECT_NE(c.LastError().find("port"), std::string::npos) << c.LastError();
    NetworkDb db;
    p = WriterParams(db);
    p.Password = "wrong";
    EXPECT_FALSE(c.Connect(p));
    EXPECT_NE(c.LastError().find("denied"), std::string::npos) << c.LastError();

    db.Admin("INSERT INTO READINGS SET REA_KALOCODE='K1', REA_SITE=3, REA_DATETIME='2009-10-15 21:30:05'");
    ASSERT_TRUE(c.Connect(WriterParams(db))) << c.LastError();
    const netdb::Result r = c.Query("SELECT * FROM READINGS");
    ASSERT_EQ(r.RowCount(), 1u);
    EXPECT_EQ(r.Text(0, 0), "K1");
    EXPECT_EQ(r.Text(0, "rea_site"), "3");
    EXPECT_EQ(r.Text(0, "REA_DATETIME"), "2009-10-15 21:30:05");
    EXPECT_FALSE(r.Value(0, "REA_MOONH").has_value());  // NULL
    EXPECT_EQ(r.FirstText(), "K1");
    EXPECT_THROW(r.Value(0, "NO_SUCH_COLUMN"), netdb::Error);
    EXPECT_THROW(r.Value(1, 0), netdb::Error);
    EXPECT_THROW(r.Value(0, 15), netdb::Error);
    EXPECT_EQ(c.Query("SELECT SIT_ID FROM SQMSITES WHERE SIT_CODE='nope'").FirstText(), "");

    EXPECT_FALSE(c.Execute("SELECT NO_SUCH_COLUMN FROM READINGS"));
    EXPECT_NE(c.LastError().find("NO_SUCH_COLUMN"), std::string::npos);
    EXPECT_NE(c.LastErrorCode(), 0u);
    EXPECT_THROW(c.Query("INSERT INTO NO_SUCH_TABLE SET X=1"), netdb::Error);
    // One call runs one statement: a second one after a semicolon is a syntax error.
    EXPECT_FALSE(c.Execute("SELECT 1; DROP TABLE READINGS"));
    EXPECT_EQ(db.Admin("SHOW TABLES LIKE 'READINGS'").RowCount(), 1u);
    // The connection stays usable after a failed statement.
    EXPECT_EQ(c.Query("SELECT 41+1").FirstText(), "42");
}

TEST(NetworkConnection, QuotedTextsArriveUnchangedInEitherEscapingMode) {
    NetworkDb db;
    netdb::Connection c;
    ASSERT_TRUE(c.Connect(WriterParams(db)));
    using namespace std::string_literals;
    for (const std::string& text : {"it's"s, "back\\"s, "\\'"s, "'; DROP TABLE READINGS; --"s, "nul\0byte"s,
                                    "line\r\nend"s, "\x1a"s, "\"dq\""s, "caf\xc3\xa9"s}) {
        EXPECT_EQ(c.Query("SELECT " + c.Quote(text)).FirstText(), text);
        EXPECT_EQ(c.Quote(text).find('\n'), std::string::npos);
    }
    // With NO_BACKSLASH_ESCAPES a backslash is an ordinary character and only
    // quotes may be doubled: the connection's own escaping knows this.
    ASSERT_TRUE(c.Execute("SET SESSION sql_mode=CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"));
    for (const std::string text : {"back\\", "\\'", "it's", "a\\'b"})
        EXPECT_EQ(c.Query("SELECT " + c.Quote(text)).FirstText(), text);
}

// The admission test with real servers.
using AdmissionTest = nettest::ProgramDirTest;

TEST_F(AdmissionTest, AdmitsAKnownSiteAndNamesTheReasonOfARefusal) {
    NetworkDb db;
    db.AddSite("AB12");
    Install(db.Credentials("AB12"));
    for (const char* code : {"AB12", "AB12  "}) {
        std::string text = "stale";
        EXPECT_TRUE(TestNetworkConnection(code, text)) << code;
        EXPECT_EQ(text, "");
    }
    // The code goes as given; the server's comparison ignores the trailing blanks.
    EXPECT_EQ(db.Sent(), (std::vector<std::string>{"SELECT COUNT(SIT_ID) AS NUM FROM SQMSITES WHERE SIT_CODE='AB12'",
                                                   "SELECT COUNT(SIT_ID) AS NUM FROM SQMSITES WHERE SIT_CODE='AB12  '"}));

    const auto refused = [this](const TCredentials& c, const std::string& reason) {
        Install(c);
        std::string text;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(TestNetworkConnection(c.SiteCode, text)) << c.SiteCode << " port " << c.Port;
        EXPECT_EQ(text, reason) << c.SiteCode << " port " << c.Port;
        // Bounded by the 3-second connect timeout (a bound on waiting, not a speed requirement).
        EXPECT_LT(nettest::SecondsSince(t0), 3 + 5.0);
    };
    // An unknown code, and codes that would make the count non-zero if they left their quotes.
    for (const std::string code : {"QQ77", "X'OR'1'='1", "X\\'OR 1=1#"})
        refused(db.Credentials(code), "Site not configured on the remote server");
    TCredentials c = db.Credentials("AB12");
    c.Password = "wrong";
    refused(c, "Unable to connect to the database");
    c = db.Credentials("AB12");
    c.Port = nettest::ClosedPort();
    refused(c, "Unable to connect to the database");
    // The client's own words, with the refusal said rather than numbered ("(115)").
    std::string text, client;
    EXPECT_FALSE(TestNetworkConnection(c.SiteCode, text, &client));
    EXPECT_NE(client.find("127.0.0.1"), std::string::npos) << client;
    EXPECT_TRUE(client.ends_with(" (Connection refused)")) << client;
    nettest::LoopbackSocket silent(true);
    c.Port = silent.Port();
    refused(c, "Unable to connect to the database");
}
