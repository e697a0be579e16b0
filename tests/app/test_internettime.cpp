// Internet time: the RFC 868 arithmetic, the time-server walk against an
// in-process time server on 127.0.0.1 with an injected pinger and clock
// setter, the server table, and the real ICMP pinger on the loopback address
// (the walk with the real pinger: tests/app/test_time_cli.cpp).
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>
#include <tuple>

#include "fbdb.h"
#include "internettime.h"
#include "myutils.h"
#include "rfc868server.h"
#include "testsupport.h"
#include "time_test_support.h"

using timeserver::Reply;

namespace {

constexpr double kMs = 1.0 / 86400000.0;  // one millisecond in days
constexpr double kSecond = 1.0 / 86400.0;
constexpr uint32_t k2020 = 3800000000u;  // 2020-06-01 11:33:20 UTC
const char* const kCet = "CET-1CEST,M3.5.0,M10.5.0/3";
const char* const kEst = "EST5EDT,M3.2.0,M11.1.0";

double Utc2020() { return EncodeDateTime(2020, 6, 1, 11, 33, 20); }
Reply Answer(uint32_t seconds, int delayMs = 0) { return Reply{.seconds = seconds, .delayMs = delayMs}; }
Reply CloseEarly() { return Reply{Reply::Kind::CloseEarly, std::nullopt, 0}; }

// Each test that reads local times names its zone.
void UseZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
}

using PingCalls = std::vector<std::pair<std::string, int>>;  // host, timeout

// Answers from a table (8 bytes for hosts not in it) or throws the host's
// error; hosts under "invalid" go to the real pinger, which refuses them.
class FakePinger : public IPinger {
public:
    std::map<std::string, int> replies;
    std::map<std::string, std::string> errors;
    PingCalls calls;

    int Ping(const std::string& host, int timeoutMs) override {
        calls.emplace_back(host, timeoutMs);
        if (auto e = errors.find(host); e != errors.end()) throw std::runtime_error(e->second);
        if (host.ends_with(".invalid")) return TIcmpPinger().Ping(host, timeoutMs);
        auto r = replies.find(host);
        return r == replies.end() ? 8 : r->second;
    }
};

struct FakeClock : IClockSetter {
    bool allow = true;
    std::vector<double> set;
    bool SetClockUtc(double utc) override {
        set.push_back(utc);
        return allow;
    }
};

class InternetTimeTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramDir(dir.Str()); }
    void Serve(std::vector<Reply> script) {
        server.Start(std::move(script));
        time.TimePort = server.Port();
    }
    std::filesystem::path Log() const { return dir.Path() / "LOGS" / "ERROR-LOG.txt"; }

    testsupport::TempDir dir;
    FakePinger pinger;
    FakeClock clock;
    TInternetTime time{pinger, clock};
    timeserver::Rfc868Server server;
};

// The real pinger's outcome as text: the byte count, or "error: <message>".
std::string PingOutcome(const std::string& host, int timeoutMs) {
    try { return std::to_string(TIcmpPinger().Ping(host, timeoutMs)); }
    catch (const PingError& e) { return std::string("error: ") + e.what(); }
}

}  // namespace

TEST(Rfc868, SecondsSince1900WithWholeSecondDelayAndThe2036Era) {
    const struct { uint32_t seconds; int delayMs; double utc; } cases[] = {
        // Half of 1800 ms elapsed adds nothing, half of 2400 ms adds one second.
        {k2020, 0, Utc2020()}, {k2020, 900, Utc2020()}, {k2020, 999, Utc2020()},
        {k2020, 1200, Utc2020() + kSecond}, {k2020, 2500, Utc2020() + 2 * kSecond},
        {0x80000000u, 0, EncodeDateTime(1968, 1, 20, 3, 14, 8)},
        // 2^32 seconds after 1900 is 2036-02-07 06:28:16; the count then starts over.
        {0, 0, EncodeDateTime(2036, 2, 7, 6, 28, 16)}, {16, 0, EncodeDateTime(2036, 2, 7, 6, 28, 32)},
        {0xFFFFFFFFu, 0, EncodeDateTime(2036, 2, 7, 6, 28, 15)},
    };
    for (const auto& c : cases) EXPECT_NEAR(Rfc868ToUtc(c.seconds, c.delayMs), c.utc, kMs) << c.seconds << " +" << c.delayMs;
}

TEST(Rfc868, LocalTimeFollowsZoneAndDaylightRule) {
    const double winter = EncodeDateTime(2020, 1, 15, 12, 0, 0);
    const struct { const char* tz; double utc, local; } cases[] = {
        {kCet, Utc2020(), EncodeDateTime(2020, 6, 1, 13, 33, 20)}, {kCet, winter, EncodeDateTime(2020, 1, 15, 13, 0, 0)},
        {kEst, Utc2020(), EncodeDateTime(2020, 6, 1, 7, 33, 20)}, {kEst, winter, EncodeDateTime(2020, 1, 15, 7, 0, 0)},
    };
    for (const auto& c : cases) {
        UseZone(c.tz);
        EXPECT_NEAR(UtcToLocalTime(c.utc), c.local, kMs) << c.tz;
    }
}

TEST_F(InternetTimeTest, ServersWithoutEchoAreSkippedSilentlyAndEachPingErrorWritesOneLine) {
    UseZone(kCet);
    Serve({Answer(k2020)});
    double offset = 7.0, t = 456.0;
    EXPECT_FALSE(time.GetTimeOffset({}, offset));  // no server: no traffic at all
    EXPECT_FALSE(time.GetInternetTime({}, t, false));
    EXPECT_FALSE(time.GetInternetTime({}, t, true));
    EXPECT_EQ(std::make_pair(offset, t), std::make_pair(7.0, 456.0));
    EXPECT_TRUE(pinger.calls.empty());
    EXPECT_EQ(server.Accepted(), 0);

    pinger.replies["no-echo.example"] = 0;
    pinger.errors["a.example"] = "Socket Error # 10065";
    const std::string before = FormatLogTime(NowLocal());
    // Hosts are trimmed, a missing timeout takes the default.
    constexpr int kDefault = TInternetTime::kDefaultTimeoutMs;
    ASSERT_TRUE(time.GetInternetTime(
        {{"no-echo.example", 1, 500}, {"nosuchhost.invalid", 2, 500}, {"a.example", 3, 500}, {" 127.0.0.1 ", 4, 0}}, t,
        false));
    const std::string after = FormatLogTime(NowLocal());
    EXPECT_NEAR(t, EncodeDateTime(2020, 6, 1, 13, 33, 20), kMs);  // in the PC's zone
    EXPECT_EQ(time.LastHost(), "127.0.0.1");
    const PingCalls walk{{"no-echo.example", 500}, {"nosuchhost.invalid", 500}, {"a.example", 500}, {"127.0.0.1", kDefault}};
    EXPECT_EQ(pinger.calls, walk);
    EXPECT_EQ(server.Accepted(), 1);
    const std::string line = "(\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d) - NTP Server Exception - HOST: ";
    const std::string log = testsupport::ReadFile(Log());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log, m,
                                 std::regex(line + "nosuchhost\\.invalid - Cannot resolve host nosuchhost\\.invalid: [^\r\n]+\r\n" +
                                            line + "a\\.example - Socket Error # 10065\r\n")))
        << log;
    for (int i : {1, 2}) EXPECT_TRUE(m[i] == before || m[i] == after) << m[i];

    // No server answering the ping: no time request at all.
    pinger.replies["127.0.0.1"] = 0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1 ", 1, 300}, {"127.0.0.1", 2, -5}}, offset));
    EXPECT_EQ(offset, 7.0);
    PingCalls more = walk;
    more.insert(more.end(), {{"127.0.0.1", 300}, {"127.0.0.1", kDefault}});
    EXPECT_EQ(pinger.calls, more);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(testsupport::ReadFile(Log()), log);
    EXPECT_TRUE(clock.set.empty());
}

TEST_F(InternetTimeTest, FailedTimeRequestsAreSkippedSilentlyAndTheTransitDelayCountsInWholeSeconds) {
    UseZone("UTC0");
    // Answers after about 1800 ms (delay 900 ms: nothing added) and 2400 ms
    // (delay 1200 ms: one second); then half an answer, one past the timeout, a good one.
    Serve({Answer(k2020, 1800), Answer(k2020, 2400), CloseEarly(), Answer(k2020 + 99, 600), Answer(k2020)});
    double t = 0;
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc2020(), kMs);
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 5000}}, t, false));
    EXPECT_NEAR(t, Utc2020() + kSecond, kMs);
    ASSERT_TRUE(time.GetInternetTime({{"127.0.0.1", 1, 300}, {"127.0.0.1", 2, 300}, {"127.0.0.1", 3, 2000}}, t, false));
    EXPECT_NEAR(t, Utc2020(), kMs);
    EXPECT_EQ(server.Accepted(), 5);

    // Nothing listens any more: the connection is refused.
    server.Stop();
    double offset = 5.0;
    EXPECT_FALSE(time.GetTimeOffset({{"127.0.0.1", 1, 500}}, offset));
    EXPECT_EQ(offset, 5.0);
    EXPECT_FALSE(std::filesystem::exists(Log()));
}

TEST_F(InternetTimeTest, SettingTheClockWantsASecondAnswerOfTheSameServerAndItsSetterToAgree) {
    UseZone(kCet);
    // Refused setter: each server asked twice, the walk fails. Then the first
    // server fails its second request; the next one answers twice.
    Serve({Answer(k2020), Answer(k2020), Answer(k2020), Answer(k2020), Answer(k2020), CloseEarly(),
           Answer(k2020 + 10), Answer(k2020 + 60)});
    const std::vector<TimeServerEntry> two{{"127.0.0.1", 1, 2000}, {"127.0.0.1", 2, 2000}};
    double t = 0;
    clock.allow = false;
    EXPECT_FALSE(time.GetInternetTime(two, t, true));
    EXPECT_EQ(server.Accepted(), 4);
    EXPECT_EQ(clock.set.size(), 2u);

    clock.allow = true;
    clock.set.clear();
    ASSERT_TRUE(time.GetInternetTime(two, t, true));
    EXPECT_EQ(server.Accepted(), 8);
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(clock.set[0], Utc2020() + 60 * kSecond, kMs);
    EXPECT_NEAR(t, EncodeDateTime(2020, 6, 1, 13, 34, 20), kMs);
    EXPECT_FALSE(std::filesystem::exists(Log()));
}

// The server list as the data module reads it, from a copy of the delivered database.
class TimeServerTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramDir(dir.Str());
        db.SetFile(testsupport::CopyPristineDb(dir.Path()));
        db.Open();
    }
    void TearDown() override { db.Close(); }

    void Replace(const std::vector<std::string>& rows) {
        db.ExecuteImmediate("delete from NTPSERVERS");
        for (const auto& v : rows) db.ExecuteImmediate("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values " + v);
    }
    using Rows = std::vector<std::tuple<std::string, int, int>>;
    static Rows AsRows(const std::vector<TimeServerEntry>& servers) {
        Rows rows;
        for (const auto& s : servers) rows.emplace_back(s.Host, s.Order, s.TimeoutMs);
        return rows;
    }

    testsupport::TempDir dir;
    fb::Database db;
};

TEST_F(TimeServerTableTest, RowsComeInOrderOfPreferenceNullsAsZeroAndTheCallersEditsIncluded) {
    Replace({});
    EXPECT_TRUE(LoadTimeServers(db).empty());
    Replace({"('c.example', 30, 1500)", "('a.example', 10, null)", "('b.example', 20, 700)"});
    const Rows committed{{"a.example", 10, 0}, {"b.example", 20, 700}, {"c.example", 30, 1500}};
    EXPECT_EQ(AsRows(LoadTimeServers(db)), committed);
    // A transaction sees its own uncommitted rows; others neither see them nor wait for them.
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("insert into NTPSERVERS (NTP_HOST, NTP_ORDER, NTP_TIMEOUT) values (:H, 0, 200)");
    q.SetString("H", "first.example");
    q.ExecSQL();
    Rows own = committed;
    own.insert(own.begin(), {"first.example", 0, 200});
    EXPECT_EQ(AsRows(LoadTimeServers(tr)), own);
    EXPECT_EQ(AsRows(LoadTimeServers(db)), committed);
    tr.Rollback();
}

TEST(IcmpPinger, LoopbackAnswersWithTheEchoHeaderAndUnresolvableHostsAreErrorsNamingThem) {
    if (!timetest::IcmpPermitted())
        EXPECT_EQ(PingOutcome("127.0.0.1", 2000).rfind("error: No permission to send ICMP echo requests", 0), 0u);
    else  // Empty payload: the 8-byte echo header alone. Back to back, each call matches its own reply.
        for (const char* host : {"127.0.0.1", "localhost", "127.0.0.1", "127.0.0.1", "127.0.0.1"})
            EXPECT_EQ(PingOutcome(host, 2000), "8") << host;
    for (const std::string host : {"nosuchhost.invalid", "A.B.INVALID", "x.invalid."})
        EXPECT_EQ(PingOutcome(host, 500).rfind("error: Cannot resolve host " + host + ": ", 0), 0u) << PingOutcome(host, 500);
    EXPECT_EQ(PingOutcome("", 500), "error: Host name is empty");
}

TEST(IcmpPinger, WithoutRawSocketRightsOnlyThePingGroupRangeHelps) {
    // A child that has given up CAP_NET_RAW may still ping when its group may
    // open ICMP datagram sockets; otherwise it gets a ping error.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct d[2]{};
        std::string out = "capget failed";
        if (::syscall(SYS_capget, &h, d) == 0) {
            d[0].effective &= ~(1u << CAP_NET_RAW);
            d[0].permitted &= ~(1u << CAP_NET_RAW);
            out = ::syscall(SYS_capset, &h, d) != 0 ? "capset failed" : PingOutcome("127.0.0.1", 2000);
        }
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(out, timetest::PingSocketAllowed() ? "8"
                                                 : "error: No permission to send ICMP echo requests (the group is outside "
                                                   "net.ipv4.ping_group_range and raw sockets need CAP_NET_RAW)");
}
