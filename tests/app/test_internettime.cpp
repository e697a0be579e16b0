// The time-server walk and the RFC 868 exchange, against an in-process time
// server on 127.0.0.1 and an injected pinger and clock setter.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <stdexcept>

#include "fbdb.h"
#include "internettime.h"
#include "myutils.h"
#include "rfc868server.h"
#include "time_test_support.h"

using timeserver::Reply;
using timetest::ReadFile;
using timetest::TempDir;
using timetest::TzGuard;

namespace {

constexpr double kMs = 1.0 / 86400000.0;  // one millisecond in days
constexpr uint32_t k2020 = 3800000000u;   // 2020-06-01 11:33:20 UTC

struct PingCall {
    std::string host;
    int timeoutMs;
};

// Answers from a table; unknown hosts answer with an 8-byte reply, hosts
// under "invalid" go to the real pinger, which refuses them without DNS.
class FakePinger : public IPinger {
public:
    std::map<std::string, int> replies;
    std::map<std::string, std::string> errors;
    std::vector<PingCall> calls;

    int Ping(const std::string& host, int timeoutMs) override {
        calls.push_back({host, timeoutMs});
        if (auto e = errors.find(host); e != errors.end()) throw std::runtime_error(e->second);
        if (host.size() > 8 && host.compare(host.size() - 8, 8, ".invalid") == 0) return TIcmpPinger().Ping(host, timeoutMs);
        auto r = replies.find(host);
        return r == replies.end() ? 8 : r->second;
    }
};

class FakeClock : public IClockSetter {
public:
    bool allow = true;
    std::vector<double> set;
    bool SetClockUtc(double utc) override {
        set.push_back(utc);
        return allow;
    }
};

Reply Answer(uint32_t seconds, int delayMs = 0) {
    Reply r;
    r.seconds = seconds;
    r.delayMs = delayMs;
    return r;
}
Reply Kind(Reply::Kind k) {
    Reply r;
    r.kind = k;
    return r;
}

class InternetTimeTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir.str()); }
    void TearDown() override { server.Stop(); }

    void Serve(std::vector<Reply> script) {
        server.Start(std::move(script));
        time.TimePort = server.Port();
    }
    std::string GeneralLog() const { return ReadFile(dir.path() / "LOGS" / "ERROR-LOG.txt"); }
    bool LogsExist() const { return std::filesystem::exists(dir.path() / "LOGS" / "ERROR-LOG.txt"); }

    TempDir dir;
    FakePinger pinger;
    FakeClock clock;
    TInternetTime time{pinger, clock};
    timeserver::Rfc868Server server;
};

double Utc2020() { return EncodeDateTime(2020, 6, 1, 11, 33, 20); }

}  // namespace

TEST(Rfc868, SecondsSince1900AndWholeSecondDelay) {
    EXPECT_NEAR(Rfc868ToUtc(k2020, 0), Utc2020(), kMs);
    // Half of 1800 ms elapsed adds nothing, half of 2400 ms adds one second.
    EXPECT_NEAR(Rfc868ToUtc(k2020, 900), Utc2020(), kMs);
    EXPECT_NEAR(Rfc868ToUtc(k2020, 999), Utc2020(), kMs);
    EXPECT_NEAR(Rfc868ToUtc(k2020, 1200), Utc2020() + 1.0 / 86400, kMs);
    EXPECT_NEAR(Rfc868ToUtc(k2020, 2500), Utc2020() + 2.0 / 86400, kMs);
    EXPECT_NEAR(Rfc868ToUtc(0x80000000u, 0), EncodeDateTime(1968, 1, 20, 3, 14, 8), kMs);
}

TEST(Rfc868, CountWrapsInto2036Era) {
    // 2^32 seconds after 1900 is 2036-02-07 06:28:16; the count then starts over.
    EXPECT_NEAR(Rfc868ToUtc(0, 0), EncodeDateTime(2036, 2, 7, 6, 28, 16), kMs);
    EXPECT_NEAR(Rfc868ToUtc(16, 0), EncodeDateTime(2036, 2, 7, 6, 28, 32), kMs);
    EXPECT_NEAR(Rfc868ToUtc(0xFFFFFFFFu, 0), EncodeDateTime(2036, 2, 7, 6, 28, 15), kMs);
}

TEST(Rfc868, LocalTimeFollowsZoneAndDaylightRule) {
    const double winter = EncodeDateTime(2020, 1, 15, 12, 0, 0);
    {
        TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_NEAR(UtcToLocalTime(Utc2020()), EncodeDateTime(2020, 6, 1, 13, 33, 20), kMs);
        EXPECT_NEAR(UtcToLocalTime(winter), EncodeDateTime(2020, 1, 15, 13, 0, 0), kMs);
    }
    {
        TzGuard tz("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_NEAR(UtcToLocalTime(Utc2020()), EncodeDateTime(2020, 6, 1, 7, 33, 20), kMs);
        EXPECT_NEAR(UtcToLocalTime(winter), EncodeDateTime(2020, 1, 15, 7, 0, 0), kMs);
    }
}

TEST_F(InternetTimeTest, EmptyServerListMakesNoTraffic) {
    Serve({Answer(k2020)});
    double offset = 123.0, t = 456.0;
    EXPECT_FALSE(time.GetTimeOffset({}, offset));
    EXPECT_FALSE(time.GetInternetTime({}, t, false));
    EXPECT_FALSE(time.GetInternetTime({}, t, true));
    EXPECT_EQ(offset, 123.0);
    EXPECT_EQ(t, 456.0);
    EXPECT_TRUE(pinger.calls.empty());
    EXPECT_TRUE(clock.set.empty());
    EXPECT_EQ(server.Accepted(), 0);
    EXPECT_FALSE(LogsExist());
}

TEST_F(InternetTimeTest, ServerThatDoesNotAnswerPingIsSkippedSilently) {
    TzGuard tz("UTC0");
    Serve({Answer(k2020)});
    pinger.replies["no-echo.example"] = 0;
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"no-echo.example", 1, 500}, {"127.0.0.1", 2, 2000}}, t, false));
    EXPECT_NEAR(t, Utc2020(), kMs);
    EXPECT_EQ(time.LastHost(), "127.0.0.1");
    ASSERT_EQ(pinger.calls.size(), 2u);
    EXPECT_EQ(pinger.calls[0].host, "no-echo.example");
    EXPECT_EQ(pinger.calls[0].timeoutMs, 500);
    EXPECT_EQ(pinger.calls[1].host, "127.0.0.1");
    EXPECT_EQ(pinger.calls[1].timeoutMs, 2000);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_FALSE(LogsExist());
}

TEST_F(InternetTimeTest, NoServerAnsweringThePingMeansNoTimeRequest) {
    Serve({Answer(k2020)});
    pinger.replies["127.0.0.1"] = 0;
    double offset = 7.0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1", 1, 300}, {"127.0.0.1", 2, 300}}, offset));
    EXPECT_EQ(offset, 7.0);
    EXPECT_EQ(pinger.calls.size(), 2u);
    EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(InternetTimeTest, UnresolvableHostWritesOneLineAndNextServerGivesTheTime) {
    TzGuard tz("UTC0");
    Serve({Answer(k2020)});
    const std::string before = FormatLogTime(NowLocal());
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"nosuchhost.invalid", 1, 500}, {"127.0.0.1", 2, 2000}}, t, false));
    const std::string after = FormatLogTime(NowLocal());
    EXPECT_NEAR(t, Utc2020(), kMs);

    const std::string log = GeneralLog();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log, m,
                                 std::regex("(\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d) - NTP Server Exception - "
                                            "HOST: nosuchhost\\.invalid - (Cannot resolve host nosuchhost\\.invalid: "
                                            "[^\r\n]+)\r\n")))
        << log;
    EXPECT_TRUE(m[1] == before || m[1] == after) << m[1];
}

TEST_F(InternetTimeTest, EveryPingErrorIsLoggedWithItsMessage) {
    Serve({Answer(k2020)});
    pinger.errors["a.example"] = "No permission to send ICMP echo requests";
    pinger.errors["b.example"] = "Socket Error # 10065";
    double offset = 0;
    EXPECT_FALSE(time.GetTimeOffset({{"a.example", 1, 100}, {"b.example", 2, 100}}, offset));
    const std::string log = GeneralLog();
    const std::regex line("\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d - NTP Server Exception - HOST: ([ab])\\.example - ([^\r\n]*)\r\n");
    auto it = std::sregex_iterator(log.begin(), log.end(), line);
    std::vector<std::pair<std::string, std::string>> lines;
    for (; it != std::sregex_iterator(); ++it) lines.emplace_back((*it)[1], (*it)[2]);
    ASSERT_EQ(lines.size(), 2u) << log;
    EXPECT_EQ(lines[0], std::make_pair(std::string("a"), std::string("No permission to send ICMP echo requests")));
    EXPECT_EQ(lines[1], std::make_pair(std::string("b"), std::string("Socket Error # 10065")));
    EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(InternetTimeTest, FailedTimeRequestsAreSkippedSilently) {
    TzGuard tz("UTC0");
    // Half an answer, then silence past the timeout, then a good answer.
    Serve({Kind(Reply::Kind::CloseEarly), Kind(Reply::Kind::Never), Answer(k2020)});
    const std::vector<TimeServerEntry> servers = {{"127.0.0.1", 1, 300}, {"127.0.0.1", 2, 300}, {"127.0.0.1", 3, 2000}};
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime(servers, t, false));
    EXPECT_NEAR(t, Utc2020(), kMs);
    EXPECT_EQ(server.Accepted(), 3);
    EXPECT_FALSE(LogsExist());
}

TEST_F(InternetTimeTest, RefusedConnectionFailsQuietly) {
    // A port that was free a moment ago: nothing listens there.
    Serve({Answer(k2020)});
    const int port = server.Port();
    server.Stop();
    time.TimePort = port;
    double offset = 5.0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1", 1, 500}}, offset));
    EXPECT_EQ(offset, 5.0);
    EXPECT_FALSE(LogsExist());
}

TEST_F(InternetTimeTest, InternetTimeIsShownInThePcZone) {
    {
        TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
        Serve({Answer(k2020)});
        double t = 0;
        ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 2000}}, t, false));
        EXPECT_NEAR(t, EncodeDateTime(2020, 6, 1, 13, 33, 20), kMs);
        server.Stop();
    }
    {
        TzGuard tz("EST5EDT,M3.2.0,M11.1.0");
        Serve({Answer(k2020)});
        double t = 0;
        ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 2000}}, t, false));
        EXPECT_NEAR(t, EncodeDateTime(2020, 6, 1, 7, 33, 20), kMs);
    }
}

TEST_F(InternetTimeTest, TransitDelayCountsInWholeSeconds) {
    TzGuard tz("UTC0");
    // Answers after about 1800 ms (delay 900 ms) and 2400 ms (delay 1200 ms).
    Serve({Answer(k2020, 1800), Answer(k2020, 2400)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc2020(), kMs);
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc2020() + 1.0 / 86400, kMs);
}

TEST_F(InternetTimeTest, LateAnswerPastTheTimeoutIsAFailure) {
    Serve({Answer(k2020, 1500)});
    double t = 9.0;
    EXPECT_FALSE(time.GetInternetTime({{"127.0.0.1", 1, 400}}, t, false));
    EXPECT_EQ(t, 9.0);
}

TEST_F(InternetTimeTest, OffsetIsInternetTimeMinusPcClock) {
    // An hour ahead of the PC clock.
    Serve({Answer(timeserver::CurrentSeconds() + 3600)});
    double offset = 0;
    ASSERT_TRUE(time.GetTimeOffset({{"127.0.0.1", 1, 2000}}, offset));
    // Whole seconds on the wire and a few ms of exchange: within 2 s of an hour.
    EXPECT_NEAR(offset * 86400.0, 3600.0, 2.0);
    EXPECT_TRUE(clock.set.empty());
}

TEST_F(InternetTimeTest, SetClockUsesASecondAnswerFromTheSameServer) {
    TzGuard tz("CET-1CEST,M3.5.0,M10.5.0/3");
    Serve({Answer(k2020), Answer(k2020 + 60)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 2000}}, t, true));
    EXPECT_EQ(server.Accepted(), 2);
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc2020() + 60.0 / 86400, kMs);
    EXPECT_NEAR(t, EncodeDateTime(2020, 6, 1, 13, 34, 20), kMs);
}

TEST_F(InternetTimeTest, RefusedClockSetterFailsAndTriesTheNextServer) {
    Serve({Answer(k2020)});
    clock.allow = false;
    double t = 0;
    EXPECT_FALSE(time.GetInternetTime({{"127.0.0.1", 1, 2000}, {"127.0.0.1", 2, 2000}}, t, true));
    EXPECT_EQ(server.Accepted(), 4);  // each server asked twice
    EXPECT_EQ(clock.set.size(), 2u);
    EXPECT_FALSE(LogsExist());
}

TEST_F(InternetTimeTest, SecondRequestFailingMovesOnToTheNextServer) {
    Serve({Answer(k2020), Kind(Reply::Kind::CloseEarly), Answer(k2020 + 10), Answer(k2020 + 20)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 2000}, {"127.0.0.1", 2, 2000}}, t, true));
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc2020() + 20.0 / 86400, kMs);
    EXPECT_EQ(server.Accepted(), 4);
}

TEST_F(InternetTimeTest, MissingTimeoutUsesTheDefault) {
    Serve({Answer(k2020)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{" 127.0.0.1 ", 1, 0}}, t, false));
    ASSERT_EQ(pinger.calls.size(), 1u);
    EXPECT_EQ(pinger.calls[0].host, "127.0.0.1");
    EXPECT_EQ(pinger.calls[0].timeoutMs, TInternetTime::kDefaultTimeoutMs);
}

// The server list as the data module reads it, from a copy of the delivered database.
class TimeServerTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.str());
        file = (dir.path() / "KALOSQMDATA.FDB").string();
        std::filesystem::copy_file(KALO_PRISTINE_DB, file);
        db.SetFile(file);
        db.Open();
    }
    void TearDown() override { db.Close(); }

    void Replace(const std::vector<std::string>& inserts) {
        db.ExecuteImmediate("delete from NTPSERVERS");
        for (const auto& v : inserts) db.ExecuteImmediate("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values " + v);
    }

    TempDir dir;
    std::string file;
    fb::Database db;
};

TEST_F(TimeServerTableTest, RowsComeInOrderOfPreferenceWithNullsAsZero) {
    Replace({"('c.example', 30, 1500)", "('a.example', 10, null)", "('b.example', 20, 700)"});
    const auto servers = LoadTimeServers(db);
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(servers[0].Host, "a.example");
    EXPECT_EQ(servers[0].Order, 10);
    EXPECT_EQ(servers[0].TimeoutMs, 0);
    EXPECT_EQ(servers[1].Host, "b.example");
    EXPECT_EQ(servers[1].TimeoutMs, 700);
    EXPECT_EQ(servers[2].Host, "c.example");
    EXPECT_EQ(servers[2].Order, 30);
    EXPECT_EQ(servers[2].TimeoutMs, 1500);

    Replace({});
    EXPECT_TRUE(LoadTimeServers(db).empty());
}

TEST_F(TimeServerTableTest, CallersTransactionSeesItsOwnUncommittedEdits) {
    Replace({"('a.example', 1, 1000)"});
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values (:H, 0, 200)");
    q.SetString("H", "first.example");
    q.ExecSQL();
    const auto mine = LoadTimeServers(tr);
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].Host, "first.example");
    // Other transactions do not see it, and are not blocked by it.
    const auto others = LoadTimeServers(db);
    ASSERT_EQ(others.size(), 1u);
    EXPECT_EQ(others[0].Host, "a.example");
    tr.Rollback();
}

TEST_F(TimeServerTableTest, WalkOverTheTableWithTheRealPinger) {
    TzGuard tz("UTC0");
    timeserver::Rfc868Server server;
    server.Start({Answer(k2020)});
    Replace({"('unknown.invalid', 1, 300)", "('127.0.0.1', 2, 2000)"});
    TIcmpPinger pinger;
    FakeClock clock;
    TInternetTime time(pinger, clock);
    time.TimePort = server.Port();
    double t = 0;
    const bool got = time.GetInternetTime(LoadTimeServers(db), t, false);
    const std::string log = ReadFile(dir.path() / "LOGS" / "ERROR-LOG.txt");
    if (timetest::IcmpPermitted()) {
        ASSERT_TRUE(got);
        EXPECT_NEAR(t, Utc2020(), kMs);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    } else {
        // Without the right to send ICMP every server is a ping error.
        EXPECT_FALSE(got);
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    }
    EXPECT_NE(log.find(" - NTP Server Exception - HOST: unknown.invalid - Cannot resolve host unknown.invalid"),
              std::string::npos)
        << log;
}
